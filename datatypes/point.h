// datatypes/point.h: point2D! and point3D!, coordinates of 32-bit floats, the fractional
// companions of pair!.
//
// Cell (components as IEEE 754 32-bit floats, component i in word i + 1):
//   point2D! (type 51): word 1 x, word 2 y, word 3 unused (0)
//   point3D! (type 52): word 1 x, word 2 y, word 3 z
// The two types are twins that differ only in their number of components. Arithmetic runs
// per component in double precision (float_::math_op) and is stored back rounded to 32 bits;
// division by zero and overflow give IEEE infinities and NaNs, never an error. Equality is
// float_::almost_equal32. Components form with float_::format kind 5: (1.5, 2).
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::point {

// Component [i] (0 x, 1 y, 2 z) of point [c]. Unchecked: [c] is a point with that component.
inline float get(const cell* c, int i) {
    float f;
    std::memcpy(&f, reinterpret_cast<const uint8_t*>(c) + 4 * (i + 1), 4);
    return f;
}
inline void set(cell* c, int i, float f) { std::memcpy(reinterpret_cast<uint8_t*>(c) + 4 * (i + 1), &f, 4); }

// Reads the point literal [start, end) ("(1, 2)" or "(1.5, 2, 3)"; blanks and TABs around
// each coordinate, a coordinate holding "#" read as 1.#INF or 1.#NaN) into [out]. Answers 0,
// or for a text that is not a valid point the type that its syntax error names: point3D!
// once a second comma was read, else point2D!.
uint8_t load_text(const char* start, const char* end, cell* out);

} // namespace zyl::point

namespace zyl::point2D {

inline cell make_value(float x, float y) {
    cell c{T_point2d, 0, 0, 0};
    point::set(&c, 0, x);
    point::set(&c, 1, y);
    return c;
}
// Makes [c] the point ([x], [y]) (a fresh header); returns [c].
cell* make_at(cell* c, float x, float y);
cell* push(float x, float y);
// Appends the point ([x], [y]) to block series [block]; may allocate.
cell* append_to_block(node_id block, float x, float y);
// The 32-bit float of integer! or float! [c]; another type raises script bad-to-arg.
float number_of(const cell* c);
// 1 for the word x, 2 for y; any other value raises script invalid-path.
int32_t field_index(const cell* word);
// Arithmetic on the frame's cells 0 (a point2D!) and 1 (integer!, float!, percent!, pair!
// or point2D!), op 0 add ... 4 remainder; the result replaces cell 0.
void do_math(int32_t op);
// Negates [value] in place (0.0 minus each component); returns [value].
cell* negate(cell* value);
// The compare entry: a pair! [b] is compared as a point2D!; another type gives -2.
int32_t compare(const cell* a, const cell* b, int32_t op);

void init();

} // namespace zyl::point2D

namespace zyl::point3D {

inline cell make_value(float x, float y, float z) {
    cell c{T_point3d, 0, 0, 0};
    point::set(&c, 0, x);
    point::set(&c, 1, y);
    point::set(&c, 2, z);
    return c;
}
cell* make_at(cell* c, float x, float y, float z);
cell* push(float x, float y, float z);
cell* append_to_block(node_id block, float x, float y, float z);
float number_of(const cell* c);
// 1, 2, 3 for the words x, y, z; any other value raises script invalid-path.
int32_t field_index(const cell* word);
// As point2D::do_math with a point3D! on the left; the right may not be a pair! or point2D!.
void do_math(int32_t op);
cell* negate(cell* value);
int32_t compare(const cell* a, const cell* b, int32_t op);

void init();

} // namespace zyl::point3D
