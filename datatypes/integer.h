// datatypes/integer.h: integer!, the 32-bit signed integer, and the arithmetic core that
// char!, the other number types and the fast paths share.
//
// Cell: header type 11; word 2 the value, 32-bit two's complement; words 1 and 3 unused.
// Arithmetic never wraps: a sum, difference or product outside 32 bits, and a division that
// leaves a remainder, give a float! instead.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/cell.h"
#include "datatypes/registry.h"
#include "runtime/memory.h"

namespace zyl {

// Operation codes shared by the math actions of every number type.
enum math_op : int32_t {
    MATH_ADD = 0,
    MATH_SUBTRACT = 1,
    MATH_MULTIPLY = 2,
    MATH_DIVIDE = 3,
    MATH_REMAINDER = 4,
    MATH_OR = 5,
    MATH_AND = 6,
    MATH_XOR = 7,
};

// The action slot of each math operation code.
constexpr uint8_t MATH_SLOTS[8] = {A_add, A_subtract, A_multiply, A_divide,
                                   A_remainder, A_or_t, A_and_t, A_xor_t};

namespace integer {

inline cell make_value(int32_t n) { return cell{T_integer, 0, static_cast<uint32_t>(n), 0}; }
// The value of integer (or char!) cell [c]; unchecked.
inline int32_t get(const cell* c) { return static_cast<int32_t>(c->w2); }

// Makes [c] the integer [n], keeping its header flags; returns [c].
cell* make_at(cell* c, int32_t n);
// Appends the integer [n] to the block series [block]; may allocate.
cell* make_in(node_id block, int32_t n);
// Pushes the integer [n] on the evaluation stack.
cell* push(int32_t n);
// The frame's result cell := the integer [n].
cell* box(int32_t n);
// The frame's result as an integer when it is one, else 0.
int32_t get_last();

inline int32_t sign(int32_t n) { return (n > 0) - (n < 0); }
// |n|; the smallest integer raises math overflow.
int32_t abs_checked(int32_t n);
// Whether the double [d] truncated toward zero does not fit 32 bits (NaN and infinities too).
bool float_overflow(double d);

// The decimal text of [n], written into [buffer].
std::string_view form_text(int32_t n, char (&buffer)[12]);

// [a] op [b] into [result]: an integer!, or a float! where the 32-bit result would wrap or a
// division is inexact. With [integer_quotient], divide truncates instead (char! asks so).
// Division or remainder by zero raises math zero-divide; the smallest integer divided by -1
// raises math overflow. [result] is only written once nothing can raise.
void math_op(int32_t op, int32_t a, int32_t b, cell* result, bool integer_quotient = false);

// The integer written in text value [text] from its index: optional sign, decimal digits,
// "'" skipped. [status] is 0, -1 for a bad character (or no digit), -2 for overflow. The
// lexer's text-to-integer conversion (lexer/convert.h) reads it.
int32_t from_text(const cell* text, int32_t& status);

// Whether [t] is one of the text types that make and to read characters from.
inline bool is_text_type(uint8_t t) {
    return t == T_string || t == T_file || t == T_url || t == T_tag || t == T_email || t == T_ref;
}

void init();

} // namespace integer
} // namespace zyl
