// lexer/loaders.cpp: the loaders of the value tokens: strings, words of every kind, issues,
// refinements, integers, floats, percents, chars and times.
#include "lexer/loaders.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "lexer/convert.h"
#include "lexer/internal.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

namespace {

// {== Word cells
//
// Words are bound to the global context, which gains the word when it lacks it; refinements
// stay unbound and issues name the global context without a look-up. Before the global context
// exists (early start-up, tools) words stay unbound too.

cell global_word(uint8_t type, uint32_t sym) {
    cell w{T_word, 0, sym, word::NO_INDEX};
    if (context::global()) word::make_at_global(sym, &w);
    w.header = (w.header & ~CELL_TYPE_MASK) | type;
    return w;
}

cell make_word(uint32_t sym) { return global_word(T_word, sym); }
cell make_set_word(uint32_t sym) { return global_word(T_set_word, sym); }
cell make_get_word(uint32_t sym) { return global_word(T_get_word, sym); }
cell make_lit_word(uint32_t sym) { return global_word(T_lit_word, sym); }
cell make_refinement(uint32_t sym) { return cell{T_refinement, 0, sym, word::NO_INDEX}; }
cell make_issue(uint32_t sym) { return cell{T_issue, context::global(), sym, word::NO_INDEX}; }

// The symbol of the name at [start] ([n] bytes). Interning allocates while it reads the name,
// so a name in a binary! input is copied out first.
uint32_t intern(state& st, size_t start, size_t n) {
    if (!st.input_node) return symbol::make_from_text(st.base + start, static_cast<uint32_t>(n));
    uint8_t small[128];
    std::vector<uint8_t> large;
    uint8_t* copy = small;
    if (n > sizeof small) {
        large.resize(n);
        copy = large.data();
    }
    std::memcpy(copy, st.base + start, n);
    uint32_t sym = symbol::make_from_text(copy, static_cast<uint32_t>(n));
    refresh(st);
    return sym;
}

void push_word(state& st, cell (*make)(uint32_t), size_t start, size_t n) {
    uint32_t sym = intern(st, start, n);
    push_loaded(st, make(sym));
}

// }==
// {== Numbers

// The token's text as a C string of at most [room] - 1 bytes; false when longer.
bool token_text(const state& st, size_t start, size_t end, char* out, size_t room) {
    size_t n = end - start;
    if (n >= room) return false;
    std::memcpy(out, st.base + start, n);
    out[n] = 0;
    return true;
}

void push_float(state& st, double d, uint8_t type) { push_loaded(st, float_::make_value(d, type)); }

// The float of the token's text, or `invalid` for [type].
double float_of(state& st, size_t start, size_t end, int extra_exponent, uint8_t type) {
    char t[MAX_FLOAT_TEXT + 1];
    bool ok = token_text(st, start, end, t, sizeof t);
    double d = ok ? read_float(t, end - start, extra_exponent, ok) : 0.0;
    if (!ok) throw_error(st, start, type);
    return d;
}

// Reads up to 9 decimal digits at [p] into [v]; answers the digits read.
int digits_at(const uint8_t*& p, const uint8_t* end, int64_t& v) {
    int n = 0;
    v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; p++, n++) {
        if (v < (int64_t(1) << 40)) v = v * 10 + (*p - '0');
    }
    return n;
}

// }==

} // namespace

// {== Text

void push_loaded(state& st, const cell& v) {
    cell* c = push(st);
    *c = cell{v.header | (c->header & CELL_NEW_LINE), v.w1, v.w2, v.w3};
    st.loaded_type = v.type();
}

void load_string(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    if (!mode) {
        if (!load_text(st, start + 1, end, flags, true, true, true, nullptr)) throw_error(st, start, T_string);
        return;
    }
    cell* c = push(st);
    if (!load_text(st, start + 1, end, flags, true, true, false, c)) {
        out.top--;
        throw_error(st, start, T_string);
    }
    st.loaded_type = T_string;
}

// %...{text}%...: the text between the braces, without escapes.
void load_raw_string(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    size_t n = 0;
    while (st.base[start + n] == '%') n++;
    size_t from = start + n + 1, to = end - n - 1;
    bool ok = load_text(st, from, to, flags, false, false, !mode, mode ? push(st) : nullptr);
    if (!ok) {
        if (mode) out.top--;
        throw_error(st, start, T_string);
    }
    if (mode) st.loaded_type = T_string;
}

void load_char(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* p = st.base + start + 2; // after #"
    const uint8_t* e = st.base + end;
    int32_t cp = -1;
    if (p < e) {
        if (*p == '^') {
            p++;
            cp = read_escape(p, e);
        } else {
            p = unicode::decode_utf8_char(p, e, cp);
        }
    }
    if (cp < 0 || p != e || uint32_t(cp) > char_::MAX_CODE_POINT) throw_error(st, start, T_char_);
    if (mode) push_loaded(st, char_::make_value(static_cast<uint32_t>(cp)));
}

// }==
// {== Words

void load_word(state& st, size_t start, size_t end, uint32_t, int mode) {
    if (!mode) return; // check_word has checked the kind
    const uint8_t* p = st.base + start;
    size_t n = end - start;
    if (p[0] == ':') push_word(st, make_get_word, start + 1, n - 1);
    else if (p[0] == '\'') push_word(st, make_lit_word, start + 1, n - 1);
    else if (n > 1 && p[n - 1] == ':') push_word(st, make_set_word, start, n - 1);
    else push_word(st, make_word, start, n);
}

void push_plain_word(state& st, size_t start, size_t end) { push_word(st, make_word, start, end - start); }

void load_issue(state& st, size_t start, size_t end, uint32_t, int mode) {
    if (st.base[start] != '#' || end - start < 2) throw_error(st, start, T_issue);
    if (mode) push_word(st, make_issue, start + 1, end - start - 1);
}

void load_refinement(state& st, size_t start, size_t end, uint32_t, int mode) {
    if (st.base[start] != '/' || end - start < 2) throw_error(st, start, T_refinement);
    check_name_text(st, start, end, T_refinement);
    if (mode) push_word(st, make_refinement, start + 1, end - start - 1);
}

// }==
// {== Numbers

void load_integer(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    int64_t value = 0;
    int digits = 0;
    for (const uint8_t* q = p; q < e; q++) {
        if (*q == '\'') {
            if (q + 1 < e && q[1] == '\'') throw_error(st, start, T_integer);
            continue;
        }
        if (digits < 11) value = value * 10 + (*q - '0');
        digits++;
    }
    if (digits == 0) throw_error(st, start, T_integer);
    if (negative) value = -value;
    if (digits > 10 || value > INT32_MAX || value < INT32_MIN) {
        // Too large for 32 bits: the number loads as a float.
        double d = float_of(st, start, end, 0, T_integer);
        if (mode) push_float(st, d, T_float_);
        return;
    }
    if (mode) push_loaded(st, integer::make_value(static_cast<int32_t>(value)));
}

// 2 to 8 hexadecimal digits (upper-case letters) and `h`: the 32-bit pattern.
void load_hex(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* p = st.base + start;
    size_t n = end - start - 1; // digits before the `h`
    uint32_t value = 0;
    bool ok = n >= 2 && n <= 8;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = p[i];
        bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (!digit) ok = false;
        else value = value << 4 | hex_digits[c];
    }
    if (!ok) throw_error(st, start, n == 1 && p[0] >= 'A' ? T_word : T_integer);
    if (mode) push_loaded(st, integer::make_value(static_cast<int32_t>(value)));
}

void load_float(state& st, size_t start, size_t end, uint32_t, int mode) {
    double d = float_of(st, start, end, 0, T_float_);
    if (mode) push_float(st, d, T_float_);
}

// [sign]1.#NaN or [sign]1.#INF, letters in any case.
void load_special_float(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    auto is = [&](const char* word) {
        for (int i = 0; i < 3; i++)
            if ((p[3 + i] | 0x20) != word[i]) return false;
        return true;
    };
    double d = 0.0;
    bool ok = e - p == 6 && p[0] == '1' && p[1] == '.' && p[2] == '#';
    if (ok && is("nan")) d = std::numeric_limits<double>::quiet_NaN();
    else if (ok && is("inf")) d = negative ? -HUGE_VAL : HUGE_VAL;
    else throw_error(st, start, T_float_);
    if (mode) push_float(st, d, T_float_);
}

// A number and `%`: the float of the number lowered by two decimal places.
void load_percent(state& st, size_t start, size_t end, uint32_t, int mode) {
    double d = float_of(st, start, end, -2, T_percent);
    if (mode) push_float(st, d, T_percent);
}

// [-]h:m, [-]h:m:s[.f] or [-]m:s.f (a fraction after two numbers reads them as m:s).
void load_time(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    int64_t first, second, third = 0;
    const uint8_t* digits_from = p;
    bool ok = digits_at(p, e, first) > 0 && p - digits_from <= 10 && first <= INT32_MAX;
    ok = ok && p < e && *p++ == ':' && digits_at(p, e, second) > 0;
    bool seconds_form = ok && p < e && *p == ':';
    if (seconds_form) {
        p++;
        ok = digits_at(p, e, third) > 0;
    }
    const uint8_t* fraction = p;
    if (ok && p < e && *p == '.') {
        p++;
        while (p < e && *p >= '0' && *p <= '9') p++;
    }
    ok = ok && p == e && p - fraction != 1;
    if (!ok) throw_error(st, start, T_time);
    double f = 0.0;
    size_t n = size_t(p - fraction); // the fraction with its `.`
    if (n > 1) {
        char t[32] = "0";
        size_t m = n < sizeof t - 2 ? n : sizeof t - 2; // later digits cannot change a double
        std::memcpy(t + 1, fraction, m);
        bool read;
        f = read_float(t, m + 1, 0, read);
    }
    double seconds = seconds_form ? double(first) * 3600.0 + double(second) * 60.0 + double(third) + f
                     : n > 1      ? double(first) * 60.0 + double(second) + f
                                  : double(first) * 3600.0 + double(second) * 60.0;
    if (!mode) return;
    cell v;
    time::make_at(negative ? -seconds : seconds, &v);
    push_loaded(st, v);
}

// }==

} // namespace zyl::lexer
