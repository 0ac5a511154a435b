// console/line_state.h: the line editor's state, shared by the key loop and the redraw.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "runtime/platform/vt_decoder.h"

namespace zyl::line_editor {

using text = std::vector<uint32_t>; // code points

struct editor {
    text line;
    size_t cursor = 0;
    text prompt;
    text scratch;             // a completion's new line, carried into the next edit
    size_t scratch_index = 0;
    bool hidden = false;
    int columns = 80, rows = 24;
    int start_column = 0;     // where the prompt starts on its row

    // What the last redraw left on the screen: rows of the text from first_drawn on,
    // drawn_rows of them, the terminal's cursor cursor_row rows below the first.
    bool drawn = false;
    int first_drawn = 0;
    int drawn_rows = 0;
    int cursor_row = 0;
    bool stale = false; // the line changed since the last drawing

    std::string out; // bytes of one redraw, written with one write(2)

    vt::decoder decoder;
    std::deque<int32_t> keys; // decoded and not yet handled; kept for the next edit
    bool in_paste = false;
};

extern editor ed;

// Where the prompt and line fall on the screen, rows counted from the prompt's first row.
struct layout {
    std::vector<std::string> rows; // the bytes of each row
    std::vector<int> ends;         // the column after each row's last character
    int cursor_row = 0, cursor_col = 0;
    int end_row = 0, end_col = 0;
};

// Lays out prompt and line for the current width.
void lay_out(layout& l);
// Draws prompt and line again, the visible rows chosen around the cursor, or the last ones
// when [last_rows].
void redraw(bool last_rows = false);
// Moves the cursor alone when its row is on the screen; else redraws. With [blank], also
// blanks the screen from the cursor on (Backspace at the end of the line).
void move_cursor(bool blank = false);
// Typing at the end of the line: writes the last character alone when it stays on the row.
void echo_last();
// Puts the cursor at column 0 of the text's last row and ends the row.
void finish();

} // namespace zyl::line_editor
