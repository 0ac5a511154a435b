// runtime/dtoa.cpp: doubles to digits and printed text, and decimal text back to doubles.
//
// The digit work is std::to_chars (shortest, or exact to a precision) and std::from_chars
// (correctly rounded); both ignore the locale. This file owns the layout around them: special
// texts, the point rules, and reading with an extra decimal exponent applied exactly.
#include "runtime/dtoa.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/common.h"

namespace zyl::dtoa {

namespace {

// {== Digits

// Layout copies digits and zeros in fixed-size blocks, which compile to a few moves; both
// buffers keep room for a whole block past any position it starts at.
constexpr int COPY_BLOCK = 32;
constexpr int ZERO_BLOCK = 24; // at least the 17 zeros of 1e16 ("10000000000000000")

// "-" then the digits and a NUL: the minus lets a caller step back for a signed text.
thread_local char digit_buffer[1 + MAX_DIGITS + 1 + COPY_BLOCK] = {'-'};
// The laid-out text: sign, up to MAX_DIGITS digits, point, zeros, "e-324" and a NUL fit, and
// a block copy starts at most 19 characters in.
thread_local char text_buffer[64];

decimal special(double value, bool point) {
    if (std::isnan(value)) return {"1.#NaN", 6, EXPONENT_SPECIAL, false};
    bool negative = std::signbit(value);
    if (std::isinf(value)) {
        return negative ? decimal{"-1.#INF", 7, EXPONENT_SPECIAL, true}
                        : decimal{"1.#INF", 6, EXPONENT_SPECIAL, false};
    }
    if (point) {
        return negative ? decimal{"-0.0", 4, EXPONENT_ZERO, true}
                        : decimal{"0.0", 3, EXPONENT_ZERO, false};
    }
    return negative ? decimal{"-0", 2, EXPONENT_ZERO, true} : decimal{"0", 1, EXPONENT_ZERO, false};
}

// Reads the exponent that to_chars wrote after 'e': a sign and two or three digits.
int scientific_exponent(const char* p) {
    bool negative = *p == '-';
    p++;
    int e = 0;
    while (*p >= '0' && *p <= '9') e = e * 10 + (*p++ - '0');
    return negative ? -e : e;
}

// Turns to_chars' "d.ddde+XX" into bare digits without trailing zeros and the point position.
decimal digits_of(const char* sci, bool negative) {
    char* out = digit_buffer + 1;
    const char* p = sci;
    *out++ = *p++;
    if (*p == '.') {
        for (p++; *p != 'e'; p++) *out++ = *p;
    }
    while (out > digit_buffer + 2 && out[-1] == '0') out--;
    *out = '\0';
    int count = int(out - (digit_buffer + 1));
    return {digit_buffer + 1, count, scientific_exponent(p + 1) + 1, negative};
}

// }==

// {== Layout

// Closes a mantissa that ends in ".": "1.0" with the point flag, "1" without.
char* close_point(char* out, bool point) {
    if (point) {
        *out++ = '0';
        return out;
    }
    return out - 1;
}

// Copies [n] digits; whatever the block copies past them is overwritten or cut by the NUL.
char* copy_digits(char* out, const char* digits, int n) {
    ZYL_ASSERT(out + COPY_BLOCK <= text_buffer + sizeof text_buffer);
    ZYL_ASSERT(digits + COPY_BLOCK <= digit_buffer + sizeof digit_buffer);
    std::memcpy(out, digits, COPY_BLOCK);
    return out + n;
}

char* zeros(char* out, int n) {
    ZYL_ASSERT(n <= ZERO_BLOCK && out + ZERO_BLOCK <= text_buffer + sizeof text_buffer);
    std::memset(out, '0', ZERO_BLOCK);
    return out + n;
}

// d.ddd then "e" and the exponent of the first digit: 1.5e25, 1.0e-8.
char* scientific(char* out, const decimal& d, bool point) {
    *out++ = d.text[0];
    *out++ = '.';
    if (d.count == 1) out = close_point(out, point);
    else out = copy_digits(out, d.text + 1, d.count - 1);
    *out++ = 'e';
    return std::to_chars(out, out + 8, d.exponent - 1).ptr;
}

// Exponent below 1: "0.", the zeros after the point, then the digits (0.001).
char* fraction(char* out, const decimal& d) {
    *out++ = '0';
    *out++ = '.';
    out = zeros(out, -d.exponent);
    return copy_digits(out, d.text, d.count);
}

// Exponent 1 to 17: an integer part, padded with zeros when the digits run out (100.0, 12.5).
char* positional(char* out, const decimal& d, bool point) {
    if (d.count <= d.exponent) {
        out = copy_digits(out, d.text, d.count);
        out = zeros(out, d.exponent - d.count);
        *out++ = '.';
        return close_point(out, point);
    }
    out = copy_digits(out, d.text, d.exponent);
    *out++ = '.';
    return copy_digits(out, d.text + d.exponent, d.count - d.exponent);
}

// }==

// {== Reading

// Significant digits kept for from_chars. A halfway point between two doubles has at most 767
// significant digits, so digits past this many only matter as "some non-zero digit follows",
// which one extra '1' records exactly.
constexpr int KEPT_DIGITS = 780;
// Exponent digits stop accumulating here: any larger exponent already over- or underflows.
constexpr int64_t EXPONENT_CAP = 1000000000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The significant digits of a number and where its point falls: value = 0.digits × 10^position.
struct reading {
    char digits[KEPT_DIGITS + 1 + 16]; // kept digits, the sticky digit, then "e" and exponent
    int kept = 0;                      // digits stored; the first stored digit is non-zero
    bool dropped_nonzero = false;      // a non-zero digit came after the kept ones
    int64_t position = 0;              // integer digits after leading zeros, less fraction zeros
};

void add_digit(reading& r, char c) {
    if (r.kept < KEPT_DIGITS) r.digits[r.kept++] = c;
    else if (c != '0') r.dropped_nonzero = true;
}

// Reads digits, "." and digits from [p, end); returns where it stopped, or null with no digit.
const char* read_mantissa(reading& r, const char* p, const char* end) {
    bool any = false;
    for (; p < end && *p == '0'; p++) any = true;
    for (; p < end && is_digit(*p); p++, any = true, r.position++) add_digit(r, *p);
    if (p < end && *p == '.') {
        p++;
        if (r.kept == 0) {
            for (; p < end && *p == '0'; p++, any = true) r.position--;
        }
        for (; p < end && is_digit(*p); p++, any = true) add_digit(r, *p);
    }
    return any ? p : nullptr;
}

// Reads "e"/"E", an optional sign and digits into [exponent]; without digits nothing is read.
const char* read_exponent(const char* p, const char* end, int64_t& exponent) {
    if (p == end || (*p != 'e' && *p != 'E')) return p;
    const char* q = p + 1;
    bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) q++;
    if (q == end || !is_digit(*q)) return p;
    int64_t e = 0;
    for (; q < end && is_digit(*q); q++) {
        if (e < EXPONENT_CAP) e = e * 10 + (*q - '0');
    }
    exponent = negative ? -e : e;
    return q;
}

// Rounds 0.digits × 10^[scale] to a double through from_chars, which rounds correctly.
double round_digits(reading& r, int64_t scale) {
    if (scale > 310) return std::numeric_limits<double>::infinity();
    if (scale < -330) return 0.0;
    if (r.dropped_nonzero) r.digits[r.kept++] = '1';
    else {
        while (r.digits[r.kept - 1] == '0') r.kept--;
    }
    char* end = r.digits + r.kept;
    *end++ = 'e';
    end = std::to_chars(end, r.digits + sizeof r.digits, scale - r.kept).ptr;
    double value = 0.0;
    std::from_chars_result res = std::from_chars(r.digits, end, value);
    if (res.ec == std::errc::result_out_of_range) {
        value = scale > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

// After a sign, a digit and ".#": INF or NaN in any case. Returns false when neither begins.
bool read_special(const char* p, const char* end, bool negative, double& value, const char*& stop) {
    if (p == end || ((*p | 0x20) != 'i' && (*p | 0x20) != 'n')) return false;
    const char* word = (*p | 0x20) == 'i' ? "inf" : "nan";
    if (word[0] == 'i') {
        value = negative ? -std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::infinity();
    } else {
        value = std::numeric_limits<double>::quiet_NaN();
    }
    for (; p < end && *word && (*p | 0x20) == *word; p++) word++;
    stop = p;
    return true;
}

// }==

} // namespace

decimal format(double value, int ndigits, bool point) {
    if (!std::isfinite(value) || value == 0.0) return special(value, point);
    // "d." + MAX_DIGITS - 1 digits + "e-324" fits with room to spare.
    char sci[48];
    double magnitude = std::fabs(value);
    std::to_chars_result r = ndigits <= 0
        ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
        : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                        (ndigits < MAX_DIGITS ? ndigits : MAX_DIGITS) - 1);
    *r.ptr = '\0';
    return digits_of(sci, std::signbit(value));
}

std::string_view to_text(double value, int precision, bool point) {
    decimal d = format(value, precision, point);
    if (d.exponent >= EXPONENT_ZERO) return {d.text, std::size_t(d.count)};
    char* out = text_buffer;
    if (d.negative) *out++ = '-';
    if (d.exponent >= 18 || d.exponent < -6) out = scientific(out, d, point);
    else if (d.exponent < 1) out = fraction(out, d);
    else out = positional(out, d, point);
    *out = '\0';
    return {text_buffer, std::size_t(out - text_buffer)};
}

double strtod(const char* start, const char* end, int extra_exponent, std::size_t& unconsumed) {
    const char* p = start;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) p++;
    double value = 0.0;
    const char* stop = nullptr;
    if (end - p >= 3 && is_digit(p[0]) && p[1] == '.' && p[2] == '#'
        && read_special(p + 3, end, negative, value, stop)) {
        unconsumed = std::size_t(end - stop);
        return value;
    }
    reading r;
    p = read_mantissa(r, p, end);
    if (!p) {
        unconsumed = std::size_t(end - start);
        return 0.0;
    }
    int64_t exponent = 0;
    p = read_exponent(p, end, exponent);
    unconsumed = std::size_t(end - p);
    if (r.kept > 0) value = round_digits(r, r.position + exponent + extra_exponent);
    return negative ? -value : value;
}

} // namespace zyl::dtoa
