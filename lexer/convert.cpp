// lexer/convert.cpp: the float form check and the text-to-number conversions of `to` and
// `make` (lexer/convert.h).
#include "lexer/convert.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/dtoa.h"

namespace zyl::lexer {

bool (*make_money)(cell* out, const money_parts& parts) = nullptr;

namespace {

// {== The float form: a small automaton over 7 kinds of character

enum kind : uint8_t { K_DIGIT, K_SIGN, K_QUOTE, K_POINT, K_EXP, K_OTHER, K_END };

kind kind_of(char c) {
    if (c >= '0' && c <= '9') return K_DIGIT;
    if (c == '+' || c == '-') return K_SIGN;
    if (c == '\'') return K_QUOTE;
    if (c == '.' || c == ',') return K_POINT;
    if (c == 'e' || c == 'E') return K_EXP;
    return K_OTHER;
}

// States: 0 start, 1 sign, 2 integer digits, 3 `'` in the integer, 4 point without digits
// before, 5 point after digits, 6 fraction digits, 7 `'` in the fraction, 8 exponent letter,
// 9 exponent sign, 10 exponent digits. -1 refuses; the K_END column says whether a state may
// end the text.
constexpr int8_t float_states[11][7] = {
    //  digit sign quote point exp other end
    {2, 1, -1, 4, -1, -1, 0},    // 0
    {2, -1, -1, 4, -1, -1, 0},   // 1
    {2, -1, 3, 5, 8, -1, 1},     // 2
    {2, -1, -1, -1, -1, -1, 0},  // 3
    {6, -1, -1, -1, -1, -1, 0},  // 4
    {6, -1, -1, -1, 8, -1, 1},   // 5
    {6, -1, 7, -1, 8, -1, 1},    // 6
    {6, -1, -1, -1, -1, -1, 0},  // 7
    {10, 9, -1, -1, -1, -1, 0},  // 8
    {10, -1, -1, -1, -1, -1, 0}, // 9
    {10, -1, -1, -1, -1, -1, 1}, // 10
};

// }==
// {== Reading units

inline uint32_t unit_at(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Copies [count] units as ASCII into [out] (room for [room]); false on a wider character or
// when they do not fit.
bool copy_ascii(const uint8_t* units, size_t start, size_t count, uint32_t unit, char* out, size_t room) {
    if (count > room) return false;
    const uint8_t* p = units + start * unit;
    for (size_t i = 0; i < count; i++, p += unit) {
        uint32_t c = unit_at(p, unit);
        if (c >= 0x80) return false;
        out[i] = static_cast<char>(c);
    }
    return true;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The money amount rule: digits, at most one `.`; `'` only between digits of the integer
// part; the `.` neither first, last nor right after a `'`.
bool check_amount(const char* a, size_t n, size_t& point) {
    point = 0;
    bool seen_point = false;
    for (size_t i = 0; i < n; i++) {
        char c = a[i];
        if (c >= '0' && c <= '9') continue;
        bool last = i + 1 == n;
        if (c == '\'') {
            if (i == 0 || last || seen_point || a[i - 1] == '\'') return false;
        } else if (c == '.') {
            if (i == 0 || last || seen_point || a[i - 1] == '\'') return false;
            seen_point = true;
            point = i;
        } else {
            return false;
        }
    }
    return n > 0;
}

// }==

} // namespace

bool is_float_form(const char* text, size_t n) {
    int s = 0;
    for (size_t i = 0; i < n; i++) {
        s = float_states[s][kind_of(text[i])];
        if (s < 0) return false;
    }
    return float_states[s][K_END] == 1;
}

double read_float(const char* text, size_t n, int extra_exponent, bool& ok) {
    ok = n <= MAX_FLOAT_TEXT && is_float_form(text, n);
    if (!ok) return std::numeric_limits<double>::quiet_NaN();
    char t[MAX_FLOAT_TEXT];
    size_t m = 0;
    for (size_t i = 0; i < n; i++) {
        if (text[i] == '\'') continue;
        t[m++] = text[i] == ',' ? '.' : text[i];
    }
    size_t unconsumed;
    double d = dtoa::strtod(t, t + m, extra_exponent, unconsumed);
    ok = unconsumed == 0;
    return ok ? d : std::numeric_limits<double>::quiet_NaN();
}

int32_t text_to_integer(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status) {
    const uint8_t* p = units + start * unit;
    const uint8_t* end = p + count * unit;
    bool negative = false;
    if (p < end && (unit_at(p, unit) == '+' || unit_at(p, unit) == '-')) {
        negative = unit_at(p, unit) == '-';
        p += unit;
    }
    const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
    int64_t value = 0;
    bool digits = false;
    for (; p < end; p += unit) {
        uint32_t c = unit_at(p, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') return status = -1, 0;
        value = value * 10 + (c - '0');
        if (value > limit) return status = -2, 0;
        digits = true;
    }
    status = digits ? 0 : -1; // a sign alone, or nothing, is no number
    return static_cast<int32_t>(negative ? -value : value);
}

double text_to_float(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status) {
    char t[MAX_FLOAT_TEXT];
    bool ok = copy_ascii(units, start, count, unit, t, sizeof t);
    double d = ok ? read_float(t, count, 0, ok) : 0.0;
    status = ok ? 0 : -1;
    return ok ? d : std::numeric_limits<double>::quiet_NaN();
}

void text_to_money(const uint8_t* units, size_t start, size_t count, uint32_t unit, int32_t& status, cell* result) {
    status = -1;
    char t[64];
    if (!copy_ascii(units, start, count, unit, t, sizeof t)) return;
    money_parts m{};
    size_t i = 0;
    if (i < count && (t[i] == '+' || t[i] == '-')) m.negative = t[i++] == '-';
    if (i < count && is_letter(t[i])) {
        if (count - i < 5 || !is_letter(t[i + 1]) || !is_letter(t[i + 2]) || t[i + 3] != '$') return;
        std::memcpy(m.code, t + i, 3);
        i += 4;
    } else if (i < count && t[i] == '$') {
        i++;
    }
    m.amount = t + i;
    m.length = count - i;
    if (!check_amount(m.amount, m.length, m.point)) return;
    if (make_money && make_money(result, m)) status = 0;
}

} // namespace zyl::lexer
