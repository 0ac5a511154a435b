// datatypes/money.h: money!, an exact signed decimal amount of 17 integer and 5 fraction
// digits, optionally tagged with a currency of the system's currency list.
//
// Cell (16 bytes, read as bytes in memory order):
//   bytes 0-3   header: type 49; bit 14 (MONEY_NEGATIVE) the sign
//   byte  4     the currency index: 0 none, else the code's 1-based place in the list
//   bytes 5-15  22 packed decimal digits, two a byte, high nibble first; position p (1-22)
//               lives in byte 5 + (p - 1) / 2; positions 1-17 are the integer digits
// Invariant: a zero amount never carries the sign, so equal amounts have equal cells.
// Arithmetic works on the amount as an exact count of 0.00001 units (below 10^22); no binary
// floating point is involved but in the conversions from and to float!.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::money {

using units = unsigned __int128; // a magnitude in 0.00001 units

constexpr int DIGITS = 22, INT_DIGITS = 17, FRACTION_DIGITS = 5;
constexpr uint32_t MAX_CURRENCIES = 255;
// Codes of the currency list at start-up, in list order: the table read while `system` does
// not exist, and the one from which the boot image fills system/locale/currencies/list.
extern const char* const START_CURRENCIES[];
extern const uint32_t START_CURRENCY_COUNT;

bool get_sign(const cell* c);
uint32_t get_currency(const cell* c);
// The magnitude of [c].
units magnitude(const cell* c);
// Makes [c] the money of [negative], [currency] and magnitude [m] (below 10^22); a zero
// amount gets no sign.
cell* make_at(cell* c, bool negative, uint32_t currency, units m);
// Makes [c] from a stored record: [negative], [currency] and the 11 digit bytes [digits];
// false (and [c] untouched) when a nibble is not a decimal digit.
bool make_from_bytes(cell* c, bool negative, uint32_t currency, const uint8_t* digits);
// -1, 0 or 1 by the amount's sign.
int32_t sign_of(const cell* c);

// The index of the three-letter [code] (any case) in the currency list, or -1.
int32_t find_currency_text(const char* code);
// The index of the currency named by word [w] (any case), or -1.
int32_t find_currency(const cell* w);
// The code of currency [index] into [out] (3 characters, NUL-ended); false when absent.
bool currency_code(uint32_t index, char* out);

cell from_integer(int32_t n);
// The money of [x], its shortest round-trip digits; [strict] refuses more than 5 fraction
// digits. Raises bad-make-arg for special, too small or too big floats.
cell from_float(double x, bool strict);
// The integer part; type-limit (integer!) beyond 32 bits.
int32_t to_integer(const cell* c);
double to_float(const cell* c);

// Writes the text of [c] into [out] (room for 40): "-", the code, "$", the digits with "'"
// groups when [grouping], then [fraction] fraction digits (0-5). Returns the length.
int32_t to_text(const cell* c, char* out, bool grouping, int32_t fraction);

// The arithmetic of [op] (MATH_ADD ... MATH_REMAINDER) on the frame's two arguments; either
// may be money!. The result replaces cell 0.
void do_math(int32_t op);

void init();

} // namespace zyl::money
