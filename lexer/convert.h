// lexer/convert.h: reading numbers from text: the float form check that the lexer's float
// tokens share, and the conversions that `to` and `make` use on string! values.
//
// The conversions read the units of a text buffer at any width (1, 2 or 4 bytes a character)
// directly, without running the lexer, and report failure through a status so that the
// calling action raises its own error. They differ from the lexer's tokens: a `,` decimal
// separator is accepted, and money may omit its `$`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::lexer {

// Longest float text read; longer text is refused.
constexpr size_t MAX_FLOAT_TEXT = 312;

// Whether the ASCII [text] ([n] bytes) is a float form: an optional sign, digits with `'`
// between them, at most one `.` or `,` (with a digit on one side at least), and an optional
// `e`/`E` exponent with an optional sign and digits.
bool is_float_form(const char* text, size_t n);
// Reads the float form [text] correctly rounded, scaled by 10^[extra_exponent]; `'` are
// dropped and `,` read as `.`. [ok] is false when the text is not a float form or is longer
// than MAX_FLOAT_TEXT.
double read_float(const char* text, size_t n, int extra_exponent, bool& ok);

// {== Conversions for to and make

// The integer written in the [count] units of [unit] bytes from unit [start] of [units]: an
// optional sign, then digits with `'` skipped. [status] is 0, -1 for a character that is
// neither (or no digit at all), -2 for a value outside 32 bits; "-2147483648" is read.
int32_t text_to_integer(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status);

// The float written in the units as text_to_integer takes them; [status] is 0, or -1 (the
// result then a quiet NaN) for text that is no float form or longer than 312 characters.
double text_to_float(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status);

// The parts of a money text, checked: what the money! constructor takes.
struct money_parts {
    bool negative;
    char code[4];       // the currency code, "" when none
    const char* amount; // digits, `'` between digit groups, at most one `.`
    size_t length;      // bytes of [amount]
    size_t point;       // offset of the `.` in [amount], 0 when none
};

// The money! constructor: makes [out] from [parts], or answers false when it refuses them.
// money! sets it when it registers; until then every money text fails.
extern bool (*make_money)(cell* out, const money_parts& parts);

// Makes [result] the money written in the units as text_to_integer takes them: an optional
// sign, an optional three-letter code followed by `$` (without a code the `$` is optional),
// then the amount. [status] is 0, or -1 when the text or the constructor refuses.
void text_to_money(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status, cell* result);

// }==

} // namespace zyl::lexer
