// lexer/loaders_money.cpp: the money loader: [sign][code]$digits[.fraction], "'" between
// integer digit groups; the money! constructor (lexer/convert.h) builds the value.
#include <cstring>

#include "lexer/convert.h"
#include "lexer/internal.h"
#include "lexer/loaders.h"

namespace zyl::lexer {

namespace {

bool letter(uint8_t c) { return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }
bool digit(uint8_t c) { return c >= '0' && c <= '9'; }

// The amount after "$": a digit first; "'" neither twice in a row, last nor in the fraction;
// at most 18 integer digits (leading zeros aside) and 5 fraction digits.
bool check_amount(const uint8_t* a, size_t n, size_t& point) {
    if (n == 0 || !digit(a[0])) return false;
    point = 0;
    int whole = 0, fraction = 0;
    bool seen_point = false, significant = false;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = a[i];
        if (c == '\'') {
            if (seen_point || i + 1 == n || a[i + 1] == '\'') return false;
        } else if (c == '.') {
            if (seen_point || a[i - 1] == '\'') return false;
            seen_point = true;
            point = i;
        } else if (!digit(c)) {
            return false;
        } else if (seen_point) {
            fraction++;
        } else if (significant || c != '0') {
            significant = true;
            whole++;
        }
    }
    return whole <= 18 && fraction <= 5;
}

} // namespace

void load_money(state& st, size_t start, size_t end, uint32_t, int mode) {
    // A copy: the constructor may look the currency up in `system`, and the input may be a
    // series that moves. No valid money text is that long.
    uint8_t text[64];
    if (end - start > sizeof text) throw_error(st, start, T_money);
    std::memcpy(text, st.base + start, end - start);
    const uint8_t* p = text;
    const uint8_t* e = text + (end - start);
    money_parts m{};
    if (p < e && (*p == '+' || *p == '-')) m.negative = *p++ == '-';
    if (e - p >= 4 && letter(p[0]) && letter(p[1]) && letter(p[2]) && p[3] == '$') {
        std::memcpy(m.code, p, 3);
        p += 3;
    }
    if (p == e || *p++ != '$') throw_error(st, start, T_money);
    m.amount = reinterpret_cast<const char*>(p);
    m.length = size_t(e - p);
    cell v;
    if (!check_amount(p, m.length, m.point) || !make_money || !make_money(&v, m)) throw_error(st, start, T_money);
    if (mode) push_loaded(st, v);
}

} // namespace zyl::lexer
