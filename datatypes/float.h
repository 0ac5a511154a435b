// datatypes/float.h: float! and percent!, the 64-bit IEEE numbers, with the one formatter of
// floating-point text and the numeric dispatcher for every mix of number types.
//
// Cell (float! type 12, percent! type 38, and time! seconds alike): header; word 1 unused;
// words 2 and 3 the double, low half in word 2. A percent! holds the fraction: 50% is 0.5.
// Arithmetic follows IEEE with every exception masked: division by zero gives an infinity,
// which forms as "1.#INF", and never raises.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::float_ {

constexpr double EPSILON = 2.220446049250313e-16; // below it, pretty text shows zero

// Kinds of float text.
enum format_kind : int32_t {
    KIND_VECTOR32 = 0, // a 32-bit float element of a vector!
    KIND_FLOAT = 1,    // float!
    KIND_VECTOR_PERCENT = 2, // a 32-bit percent element (the caller passes value × 100)
    KIND_PERCENT = 3,  // percent! (the caller passes value × 100)
    KIND_TIME = 4,     // the seconds of a time!
    KIND_POINT = 5,    // a coordinate of point2D! and point3D!
};

// Formatter switches, set from system/options/float; nothing reads full_support.
extern bool pretty_print; // true: near-zero values form as zero, noisy last digits retried
extern bool full_support;

// The text of [value] as [kind] asks; valid until the next call.
std::string_view format(double value, int32_t kind);

inline double get(const cell* c) {
    uint64_t bits = uint64_t(c->w3) << 32 | c->w2;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
// Writes the payload of [c] only; the header stays.
inline void set(cell* c, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    c->w2 = static_cast<uint32_t>(bits);
    c->w3 = static_cast<uint32_t>(bits >> 32);
}
inline cell make_value(double d, uint8_t type = T_float_) {
    cell c{type, 0, 0, 0};
    set(&c, d);
    return c;
}
inline double absolute_value(double d) { return __builtin_fabs(d); }

// Makes [c] the float! [d] (a fresh header); returns [c].
cell* make_at(cell* c, double d);
// The frame's result cell := the float! [d].
cell* box(double d);
cell* push(double d);
cell* push_halves(uint32_t high, uint32_t low);
// Appends a float! of the halves to block series [block]; may allocate.
cell* make_in(node_id block, uint32_t high, uint32_t low);

// NaN only.
bool is_special(double d);
// Infinities and NaN.
bool non_finite(double d);
bool single_nan(float f);

// Equal within 10 units in the last place, or closer than EPSILON; NaN equals nothing.
bool almost_equal(double a, double b);
// The same tolerance on 32-bit floats, for the point types.
bool almost_equal32(float a, float b);

// [left] op [right] for the codes add to remainder; other codes raise script cannot-use.
double math_op(double left, double right, int32_t op);
// Arithmetic on the frame's cells 0 and 1 when a float!, percent! or time! takes part; the
// result replaces cell 0 (its type chosen by the mix, see the .cpp).
void do_math(int32_t op);
// Hands the frame to the math entry of cell 1's type for [op], first exchanging cells 0
// and 1 when [swap]; a type without the entry raises script invalid-type.
void forward_math(int32_t op, bool swap);
// The scalar arithmetic of vector!: frame cell 0 the scalar, cell 1 the vector, the result
// in cell 0. Set when vector! registers; while null, a vector operand is an invalid type.
extern void (*vector_scalar_math)(int32_t op);
void vector_math(int32_t op);

// integer! or float! [c] as a double; any other type raises script bad-to-arg.
double number_of(const cell* c);
double random_draw(double range, bool secure);

// Compares two doubles under compare operator [op]: the tolerant equality for = and <>,
// exact for == and same?, else the order (NaN unordered).
int32_t compare_doubles(double a, double b, int32_t op);

// The round entry of float! (integer! and time! come here for their float cases).
cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
// The power entry of float!: frame cell 0 the base, cell 1 the exponent.
void power();

// The number written in text value [text] from its index: sign, digits with "'", one "."
// or ",", exponent. [ok] is false on anything else. The lexer's text-to-float conversion
// (lexer/convert.h) reads it.
double from_text(const cell* text, bool& ok);
// A number as text loads it for percent!: a float or integer form, or one ending in "%"
// (read as its fraction). Stands in for loading the text until the lexer exists.
double load_number_text(const cell* text, bool& ok);

void init();

} // namespace zyl::float_

namespace zyl::percent {

inline double get(const cell* c) { return float_::get(c); }
cell* make_at(cell* c, double d);
cell* make_at_halves(cell* c, uint32_t high, uint32_t low);
cell* box(double d);
cell* push(double d);
cell* push_halves(uint32_t high, uint32_t low);
cell* make_in(node_id block, uint32_t high, uint32_t low);

void init();

} // namespace zyl::percent
