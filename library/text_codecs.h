// library/text_codecs.h: the scanners and writers of the JSON and CSV codecs, and the
// routines through which load-json, to-json, load-csv and to-csv reach them.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::text_codecs {

// Where a JSON text stopped matching: the line count, and the positions (absolute, in
// characters) after the last complete value or name and after the last line feed.
struct json_failure {
    uint32_t line;
    uint32_t mark;
    uint32_t last_lf;
};

// Decodes the JSON text of string [input] (from its index) into [result], a rooted cell.
// False, with [fail] set, when the text does not match the grammar or holds a lone high
// surrogate. Nesting costs heap memory, not machine stack. May allocate.
bool scan_json(const cell* input, cell* result, json_failure& fail);

// Appends the JSON text of [value] to string [out]: with [indent] (a string, or null) laid
// out over lines, with [ascii] only printable ASCII bare. Raises no-cycle for a value that
// holds itself and too-deep past the nesting limit. May allocate.
void write_json(const cell* value, const cell* out, const cell* indent, bool ascii);

// What a CSV text gave: ok, lines of different lengths, a /header line that could not be
// read, or text the grammar cannot read (at [line]).
enum class csv_status { ok, not_aligned, no_header, invalid };

struct csv_options {
    const cell* delimiter; // char! or string!
    uint32_t quote;        // the quote character
    bool header;           // the first line holds the names
    bool trim;             // fields trimmed, then stripped of enclosing quotes
};

// Reads the CSV text of string [input] into block [lines] (a block of string blocks) and,
// with a header, its names into block [names]. [line] gets the physical line where
// unreadable text begins. May allocate.
csv_status scan_csv(const cell* input, const csv_options& o, const cell* lines, const cell* names,
                    uint32_t& line);

// Appends to string [out] the CSV lines of block [data]: with [size] 0 each item is a block
// holding one line, else the items are cut into lines of [size]. False (nothing appended)
// when the lines would differ in length. May allocate.
bool write_csv(const cell* data, const cell* out, const cell* delimiter, uint32_t quote, uint32_t size);

} // namespace zyl::text_codecs
