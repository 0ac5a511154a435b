// datatypes/tuple.h: tuple!, 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128),
// for versions, network addresses and colours. It lives entirely in its cell.
//
// Cell: header type 39 with the element count in bits 19-22 (TUPLE_COUNT_MASK): a count of
// n gives the header 39 | n << 19. Bytes 4-15 of the cell hold the elements, element 1
// first (the low byte of word 1).
// Invariant: 3 <= count <= 12, and the bytes past the count are 0; every writer keeps both
// (a shorter input is padded with zero elements).
// Arithmetic works element by element and saturates at 0 and 255.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/header_flags.h"
#include "runtime/memory.h"

namespace zyl::tuple {

constexpr uint32_t MIN_COUNT = 3;
constexpr uint32_t MAX_COUNT = 12;

inline uint32_t header_for(uint32_t count) { return T_tuple | count << TUPLE_COUNT_SHIFT; }
// The element count of tuple [c]; unchecked.
inline uint32_t count_of(const cell* c) { return (c->header & TUPLE_COUNT_MASK) >> TUPLE_COUNT_SHIFT; }
// Element i + 1 is byte i.
inline const uint8_t* bytes_of(const cell* c) { return reinterpret_cast<const uint8_t*>(c) + 4; }
inline uint8_t* bytes_of(cell* c) { return reinterpret_cast<uint8_t*>(c) + 4; }

// A tuple of [count] (3 to 12) elements from the first [count] of [elements].
cell make_value(uint32_t count, const uint8_t* elements);
// Pushes a tuple with header 39 | [count] << 19 and the element words [w1] [w2] [w3] as given.
cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple holding the low byte of each of the [count] (at most 12) [integers],
// padded to 3 elements.
cell* push_from_integers(uint32_t count, const int32_t* integers);
// Makes [result] the tuple of the first bytes of [binary] from its index (up to 12, padded
// to 3); returns [result].
cell* from_binary(const cell* binary, cell* result);
// Makes [result] the colour of issue! [issue] of 3 (#F00), 6 or 8 hexadecimal digits;
// another text raises script invalid-data with the issue. Returns [result].
cell* from_issue(const cell* issue, cell* result);

// Arithmetic on the frame's cells 0 and 1, one of them a tuple (cell 1 when float! or
// integer! forwards here), op 0 add ... 7 xor~; the result replaces cell 0.
void do_math(int32_t op);
// Whether every element is 0.
bool zero_q(const cell* c);
// Stores integer! [value] (clamped to 0..255) as element [index] of [t], or with none! cuts
// [t] before that element (never below 3 elements); an index outside 1..count raises script
// out-of-range with [value].
void poke(cell* t, int32_t index, const cell* value);

// Reads the tuple literal [start, end) (3 to 12 decimal elements 0..255 joined by ".") into
// [out]; false when the text is not a valid tuple!.
bool load_text(const char* start, const char* end, cell* out);

void init();

} // namespace zyl::tuple
