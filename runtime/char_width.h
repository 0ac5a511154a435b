// runtime/char_width.h: how many terminal columns a code point takes (0, 1 or 2).
//
// The ranges are Unicode 14.0's, generated into runtime/width_tables.inc. The line editor
// wraps and places its cursor by these widths, the terminal UI lays text out by them, and
// the console output counts its column with them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::unicode {

// Whether [cp] lies in one of the inclusive ranges of [table], [count] 32-bit values long
// (first, last, first, last, ...), ascending and disjoint.
bool in_ranges(uint32_t cp, const uint32_t* table, size_t count);

// 0 for NUL and the combining marks, 2 for wide and fullwidth characters, 1 for the rest,
// controls included (the editor accounts for escape sequences itself).
int char_width(uint32_t cp);

// The generated tables and their lengths in 32-bit values, for the tests.
extern const uint32_t* const zero_width_ranges;
extern const size_t zero_width_count;
extern const uint32_t* const wide_ranges;
extern const size_t wide_count;

} // namespace zyl::unicode
