// datatypes/pair.h: pair!, two 32-bit integers written 3x4, for offsets and sizes.
//
// Cell: header type 37; word 1 unused (0); word 2 x and word 3 y, signed 32-bit.
// Arithmetic works per component with integer! rules and never wraps: when a component would
// leave 32 bits, or a pair is multiplied or divided by a float, the result is a point2D!
// (datatypes/point.h) instead. The path accessors x and y and the indexes 1 and 2 name the
// components.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::pair {

inline cell make_value(int32_t x, int32_t y) {
    return cell{T_pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
}
// The components of pair [c]; unchecked.
inline int32_t get_x(const cell* c) { return static_cast<int32_t>(c->w2); }
inline int32_t get_y(const cell* c) { return static_cast<int32_t>(c->w3); }

// Makes [c] the pair [x]x[y] (a fresh header); returns [c].
cell* make_at(cell* c, int32_t x, int32_t y);
// Pushes the pair [x]x[y] on the evaluation stack.
cell* push(int32_t x, int32_t y);
// Appends the pair [x]x[y] to block series [block]; may allocate.
cell* append_to_block(node_id block, int32_t x, int32_t y);

// The axis that accessor word [word] names: 1 for x, 2 for y, 3 for z (case-insensitive), 0
// for any other value. The one place where accessor words map to component numbers; the
// point types use it too.
int32_t axis_of(const cell* word);
// 1 for the word x, 2 for y; any other value raises script invalid-path.
int32_t field_index(const cell* word);
// The integer of integer! [c], or a float! (percent!) truncated toward zero; a float without
// a 32-bit truncation raises math overflow.
int32_t number_to_int(const cell* c);

// Turns pair argument [index] (0 or 1) of the current frame into point2D! in place.
void to_point(uint32_t index);
// Arithmetic on the frame's cells 0 (a pair) and 1: op 0 add ... 7 xor~; the result
// replaces cell 0 and may be a point2D!. On error cell 0 is unchanged.
void do_math(int32_t op);
// Negates [value] in place; a component of -2147483648 makes it the point2D! of the exact
// negation. Returns [value].
cell* negate(cell* value);

// Reads the pair literal [start, end) ("10x20", "-1X-2"; each side an integer with single
// "'" between digit groups) into [out]; false when the text is not a valid pair!.
bool load_text(const char* start, const char* end, cell* out);
// Loads the characters of text value [text] from its index, blanks around them ignored, as
// one pair!, point2D!, point3D! or tuple! literal into [out]; false for anything else. Stands
// in for loading the text until the lexer exists.
bool load_literal(const cell* text, cell* out);

void init();

} // namespace zyl::pair
