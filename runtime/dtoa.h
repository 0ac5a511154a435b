// runtime/dtoa.h: exact conversion between doubles and decimal text (digits, printed layout, reading).
//
// `format` gives the decimal digits of a double: the shortest digits that read back to the same
// double, or a fixed number of significant digits correctly rounded. `to_text` lays those digits
// out as mold and form print them ("100.0", "1.5e25", "0.001", "1.#INF"). `strtod` reads decimal
// text with correct rounding. None of them depends on the C locale's settings.
//
// Lifetime: results point into a per-thread buffer (or at constant texts) and stay valid until
// the next `format` or `to_text` on the same thread. Copy them out before converting again.
#pragma once

#include <cstddef>
#include <string_view>

namespace zyl::dtoa {

// Exponent codes of the values that have no digits.
constexpr int EXPONENT_SPECIAL = 9999;  // infinity and NaN
constexpr int EXPONENT_ZERO = 9998;     // +0.0 and -0.0

// Most significant digits a fixed-digit conversion gives; larger requests are cut to it.
constexpr int MAX_DIGITS = 30;

// The digits of a double.
// Invariant, for exponent < EXPONENT_ZERO: [text] holds [count] digits, the first non-zero and
// the last non-zero, without a point; value = 0.d1d2...dn × 10^exponent; text[-1] is '-', so a
// caller that wants the signed digits of a negative value steps back one character.
// For EXPONENT_ZERO and EXPONENT_SPECIAL, [text] is the whole text, sign included ("-1.#INF",
// "1.#NaN", "-0.0", "0"), and [count] its length. Every text is NUL-terminated.
struct decimal {
    const char* text;
    int count;     // digits (or characters of a special text)
    int exponent;  // position of the point relative to the first digit, or a code above
    bool negative; // sign bit of the value; false for NaN, whose text has no sign
};

// The digits of [value]: shortest round-trip digits when [ndigits] <= 0, else at most [ndigits]
// (cut to MAX_DIGITS) significant digits correctly rounded, ties to even, trailing zeros dropped.
// [point] chooses the zero texts "0.0"/"-0.0" over "0"/"-0".
decimal format(double value, int ndigits, bool point);

// The printed text of [value] with [precision] digits (0: shortest round-trip); [point] keeps a
// ".0" after an integral mantissa ("100.0", "1.0e25") where it would otherwise drop the point.
// Scientific form starts at decimal exponents 18 and -7 (1.0e17, 1.0e-8). The text is
// NUL-terminated: data()[size()] == '\0'.
std::string_view to_text(double value, int precision, bool point);

// Reads a decimal number from [start, end) and rounds it correctly to the nearest double, after
// scaling it exactly by 10^[extra_exponent] (-2 reads a percent literal as its fraction).
// Form: optional sign, digits, optional "." and digits, optional "e"/"E", sign and digits; or a
// digit, ".#" and INF or NaN in any case. Never reads outside the range. Sets [unconsumed] to the
// count of characters left unread: 0 when the whole range is a number, the whole length when
// no number begins it (the result is then 0.0).
double strtod(const char* start, const char* end, int extra_exponent, std::size_t& unconsumed);

} // namespace zyl::dtoa
