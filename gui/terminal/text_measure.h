// gui/terminal/text_measure.h: text measured in character cells. Every code point is 0, 1 or
// 2 cells wide and every line one cell tall; a line feed ends a line and takes no cell.
//
// The measurers read a `text_span`: a view of a string's characters from its index. It holds
// a raw pointer into the buffer, so it lives only until the next call that may allocate.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/string.h"

namespace zyl::tui {

struct text_span {
    const uint8_t* p; // the first character
    uint32_t unit;    // bytes a character: 1, 2 or 4
    uint32_t len;     // characters
    uint32_t at(uint32_t i) const { return string::get_char(p + uint64_t(i) * unit, unit); }
};

// The characters of string [s] from its index on.
text_span span_of(const cell* s);

int char_width(uint32_t cp);

struct extent {
    int32_t width; // the widest line, in cells
    int32_t lines; // at least 1
};
// Lays [t] out, wrapping before a character that would make a line wider than [max_width]
// (0: no limit); a character wider than the limit on an empty line ends the layout.
extent text_extent(const text_span& t, int32_t max_width);

struct line_measure {
    int32_t width;  // the width reached on the last line
    uint32_t chars; // characters passed
    int32_t lines;
};
// Walks [t] until a character would take the line past [max_width] (that one is not passed);
// line feeds start new lines.
line_measure measure_line(const text_span& t, int32_t max_width);

// Where character [index] (0-based, at most t.len) starts when [t] is laid out in a box
// [box_width] wide (0: unlimited): its column and line.
void char_position(const text_span& t, int32_t box_width, uint32_t index, int32_t& col, int32_t& line);
// The 0-based index of the character at cell [col], [line] of that layout; past the end of a
// line, the index after its last character. [past_last] tells whether the cell lies past the
// end of the text's last line.
uint32_t char_at_cell(const text_span& t, int32_t box_width, int32_t col, int32_t line, bool& past_last);

// gui/OS-text-box-metrics: writes into [out] the answer of query [type] (0 to 6) about [face]'s
// text for [arg], laid out in the face's size; none for another type. May allocate.
void text_box_metrics(const cell* face, const cell* arg, int32_t type, cell* out);
// gui/get-text-size: [text]'s widest line and line count, unwrapped, into point [out].
void get_text_size(const cell* text, cell* out);

} // namespace zyl::tui
