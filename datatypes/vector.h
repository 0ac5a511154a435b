// datatypes/vector.h: vector!, a packed series of numbers of one datatype and width.
//
// Cell: word 1 the index in elements, word 2 the node of a byte series whose unit is the
// element width, word 3 the element datatype (char!, integer!, float! or percent!). Widths:
// 1, 2 or 4 bytes for char! and integer!, 4 or 8 for float!, 8 for percent!. Integers are
// signed and stored as their low bits; chars are unsigned code points; floats and percents
// are IEEE single (width 4) or double (width 8), a percent holding its fraction (50% is 0.5).
//
// string! supplies navigation, pick, poke, copy, take, remove, reverse and move, all of which
// work in units of the buffer; element reads and writes go through series::vector_get and
// vector_set. find, select and sort compare numbers, so vector! has its own.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::vector {

// Makes [c] an empty vector of [type] and [width] with room for [length] elements (at least
// one); raises no-memory when the size overflows 32 bits. May allocate.
cell* make_at(cell* c, uint32_t length, uint8_t type, uint32_t width);
// The signed integer, or unsigned code point with [is_char], at [p] of [width] bytes.
int64_t get_int(const uint8_t* p, uint32_t width, bool is_char);
// The number at [p] of [width] bytes (4: single precision).
double get_float(const uint8_t* p, uint32_t width);
// A new block (on the stack) of the elements of [v] from its index. May allocate.
cell* push_block(const cell* v);

// Registers vector!; string! must be registered.
void init();

namespace detail {
// The element at unit [pos] of [v] as a value.
cell element(const cell* v, uint32_t pos);
// The element of [type] stored at [p] in [width] bytes, as a value.
cell element_at(const uint8_t* p, uint32_t width, uint32_t type);
// Stores [value] at unit [pos] of [v]; a value of another datatype, or a char too wide for
// the width, raises invalid-arg.
void store(const cell* v, uint32_t pos, const cell* value);
// The sort entry (datatypes/vector_sort.cpp).
cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable);
// The math entries and the scalar hook (datatypes/vector_math.cpp).
void math_init();
} // namespace detail

} // namespace zyl::vector
