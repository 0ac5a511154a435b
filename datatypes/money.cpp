// datatypes/money.cpp: money!: the digit layout, the currency list, conversions, and the
// exact arithmetic, comparison and rounding on counts of 0.00001 units (datatypes/money.h).
#include "datatypes/money.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_fields.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "lexer/convert.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::money {

// {== Internal functions

const char* const START_CURRENCIES[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "ZYL", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW"};
const uint32_t START_CURRENCY_COUNT = sizeof START_CURRENCIES / sizeof START_CURRENCIES[0];
static_assert(sizeof START_CURRENCIES / sizeof START_CURRENCIES[0] == 170);

namespace {

constexpr units pow10(int n) {
    units v = 1;
    while (n-- > 0) v *= 10;
    return v;
}
constexpr units LIMIT = pow10(DIGITS); // magnitudes lie below it
constexpr units ONE = pow10(FRACTION_DIGITS);

uint8_t* bytes_of(cell* c) { return reinterpret_cast<uint8_t*>(c) + 4; }
const uint8_t* bytes_of(const cell* c) { return reinterpret_cast<const uint8_t*>(c) + 4; }

[[noreturn]] void raise_type(int32_t id, uint8_t type, const cell* arg2 = nullptr) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, id, &t, arg2);
}

[[noreturn]] void type_limit() { raise_type(error::script_type_limit, T_money); }

} // namespace

bool get_sign(const cell* c) { return (c->header & MONEY_NEGATIVE) != 0; }
uint32_t get_currency(const cell* c) { return bytes_of(c)[0]; }

units magnitude(const cell* c) {
    // Two 64-bit halves: positions 1-4, then 5-22 (18 digits).
    const uint8_t* b = bytes_of(c) + 1;
    uint64_t high = 0, low = 0;
    for (int i = 0; i < 2; i++) high = high * 100 + (b[i] >> 4) * 10 + (b[i] & 15);
    for (int i = 2; i < 11; i++) low = low * 100 + (b[i] >> 4) * 10 + (b[i] & 15);
    return units(high) * 1000000000000000000ULL + low;
}

cell* make_at(cell* c, bool negative, uint32_t currency, units m) {
    *c = cell{T_money, 0, 0, 0};
    if (negative && m != 0) c->header |= MONEY_NEGATIVE;
    uint8_t* b = bytes_of(c);
    b[0] = static_cast<uint8_t>(currency);
    uint64_t high = static_cast<uint64_t>(m / 1000000000000000000ULL);
    uint64_t low = static_cast<uint64_t>(m % 1000000000000000000ULL);
    for (int i = 10; i >= 2; i--, low /= 100) b[1 + i] = uint8_t((low % 100 / 10) << 4 | low % 10);
    for (int i = 1; i >= 0; i--, high /= 100) b[1 + i] = uint8_t((high % 100 / 10) << 4 | high % 10);
    return c;
}

bool make_from_bytes(cell* c, bool negative, uint32_t currency, const uint8_t* digits) {
    for (int i = 0; i < 11; i++) {
        if ((digits[i] >> 4) > 9 || (digits[i] & 15) > 9) return false;
    }
    cell v{T_money, 0, 0, 0};
    bytes_of(&v)[0] = static_cast<uint8_t>(currency);
    std::memcpy(bytes_of(&v) + 1, digits, 11);
    make_at(c, negative, currency, magnitude(&v)); // clears the sign of a zero
    return true;
}

int32_t sign_of(const cell* c) {
    if (magnitude(c) == 0) return 0;
    return get_sign(c) ? -1 : 1;
}

namespace {

// The digits from the first significant one to position 22, at least 1.
int digit_count(units m) {
    int n = 1;
    for (units p = 10; n < DIGITS && m >= p; p *= 10) n++;
    return n;
}

// The currency list of `system`, or null while there is none (the start-up table serves).
const cell* system_list() {
    const cell* list = system_fields::get(system_fields::LOCALE_CURRENCY_LIST);
    return list && list->type() == T_block ? list : nullptr;
}

// The UTF-8 name of word [w].
const series_buffer* name_of(const cell* w) { return memory::buffer_of(symbol::entry_cell(symbol::resolve(w->w2))->w3); }

bool same_code(const uint8_t* name, size_t n, const char* code) {
    if (n != 3) return false;
    for (size_t i = 0; i < 3; i++) {
        if ((name[i] | 0x20) != (uint8_t(code[i]) | 0x20)) return false;
    }
    return true;
}

} // namespace

int32_t find_currency_text(const char* code) {
    const cell* list = system_list();
    if (!list) {
        for (uint32_t i = 0; i < START_CURRENCY_COUNT; i++) {
            if (same_code(reinterpret_cast<const uint8_t*>(START_CURRENCIES[i]), 3, code)) return int32_t(i + 1);
        }
        return -1;
    }
    const series_buffer* b = memory::buffer_of(list->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + list->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    for (const cell* v = first; v < end && v - first < int64_t(MAX_CURRENCIES); v++) {
        if (!word::any_word_type_q(v->type())) continue;
        const series_buffer* name = name_of(v);
        if (same_code(name->head, name->used_bytes(), code)) return int32_t(v - first + 1);
    }
    return -1;
}

int32_t find_currency(const cell* w) {
    const series_buffer* name = name_of(w);
    if (name->used_bytes() != 3) return -1;
    char code[4] = {};
    std::memcpy(code, name->head, 3);
    return find_currency_text(code);
}

bool currency_code(uint32_t index, char* out) {
    out[0] = 0;
    if (index == 0) return false;
    const cell* list = system_list();
    if (!list) {
        if (index > START_CURRENCY_COUNT) return false;
        std::memcpy(out, START_CURRENCIES[index - 1], 4);
        return true;
    }
    const series_buffer* b = memory::buffer_of(list->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + list->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (end - first < int64_t(index) || !word::any_word_type_q(first[index - 1].type())) return false;
    const series_buffer* name = name_of(&first[index - 1]);
    size_t n = name->used_bytes() < 3 ? name->used_bytes() : 3;
    std::memcpy(out, name->head, n);
    out[n] = 0;
    return true;
}

namespace {

// {== Digits from text

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The magnitude of the amount text [a] ([n] bytes, "'" skipped, "." at [point] or none):
// false for more than 17 significant integer digits or more than 5 fraction digits when
// [strict], else the extra fraction digits are dropped.
bool amount_of(const char* a, size_t n, bool has_point, size_t point, bool strict, units& m) {
    size_t int_end = has_point ? point : n;
    units whole = 0;
    int significant = 0;
    for (size_t i = 0; i < int_end; i++) {
        if (!is_digit(a[i])) continue;
        if (significant > 0 || a[i] != '0') significant++;
        if (significant > INT_DIGITS) return false;
        whole = whole * 10 + units(a[i] - '0');
    }
    units fraction = 0;
    int fraction_digits = 0;
    for (size_t i = int_end + 1; has_point && i < n; i++) {
        if (!is_digit(a[i])) continue;
        if (fraction_digits == FRACTION_DIGITS) {
            if (strict) return false;
            continue;
        }
        fraction = fraction * 10 + units(a[i] - '0');
        fraction_digits++;
    }
    while (fraction_digits++ < FRACTION_DIGITS) fraction *= 10;
    m = whole * ONE + fraction;
    return true;
}

// The constructor the lexer and the text conversion use: refuses an unknown currency, more
// than 17 integer or 5 fraction digits.
bool make_from_parts(cell* out, const lexer::money_parts& parts) {
    int32_t currency = 0;
    if (parts.code[0]) {
        currency = find_currency_text(parts.code);
        if (currency < 0) return false;
    }
    units m;
    bool has_point = parts.point != 0 || (parts.length > 0 && parts.amount[0] == '.');
    if (!amount_of(parts.amount, parts.length, has_point, parts.point, true, m)) return false;
    make_at(out, parts.negative, uint32_t(currency), m);
    return true;
}

// }==

} // namespace

cell from_integer(int32_t n) {
    cell c;
    make_at(&c, n < 0, 0, units(n < 0 ? -int64_t(n) : int64_t(n)) * ONE);
    return c;
}

cell from_float(double x, bool strict) {
    cell f = float_::make_value(x);
    double a = std::fabs(x);
    if (!std::isfinite(x) || a >= 1e17 || (a > 0 && a < 1e-5)) raise_type(error::script_bad_make_arg, T_money, &f);
    // The shortest digits that read back as [x], written positionally.
    char text[64];
    auto r = std::to_chars(text, text + sizeof text, a, std::chars_format::fixed);
    size_t n = size_t(r.ptr - text);
    const char* dot = static_cast<const char*>(std::memchr(text, '.', n));
    units m;
    if (!amount_of(text, n, dot != nullptr, dot ? size_t(dot - text) : 0, strict, m))
        raise_type(error::script_bad_make_arg, T_money, &f);
    cell c;
    make_at(&c, x < 0, 0, m);
    return c;
}

int32_t to_integer(const cell* c) {
    units whole = magnitude(c) / ONE;
    bool negative = get_sign(c);
    if (whole > (negative ? units(2147483648u) : units(2147483647u))) raise_type(error::script_type_limit, T_integer);
    int64_t v = int64_t(whole);
    return static_cast<int32_t>(negative ? -v : v);
}

namespace {

// The digits of magnitude [m] as "integer.fraction" with all 5 fraction digits.
int plain_text(units m, char* out) {
    char digits[DIGITS];
    for (int i = DIGITS - 1; i >= 0; i--, m /= 10) digits[i] = char('0' + int(m % 10));
    int first = 0;
    while (first < INT_DIGITS - 1 && digits[first] == '0') first++;
    int n = 0;
    for (int i = first; i < INT_DIGITS; i++) out[n++] = digits[i];
    out[n++] = '.';
    for (int i = INT_DIGITS; i < DIGITS; i++) out[n++] = digits[i];
    return n;
}

} // namespace

double to_float(const cell* c) {
    units m = magnitude(c);
    if (m == 0) return 0.0;
    char text[32];
    int n = plain_text(m, text);
    size_t unconsumed;
    double d = dtoa::strtod(text, text + n, 0, unconsumed);
    return get_sign(c) ? -d : d;
}

int32_t to_text(const cell* c, char* out, bool grouping, int32_t fraction) {
    int n = 0;
    if (get_sign(c)) out[n++] = '-';
    char code[4];
    if (currency_code(get_currency(c), code)) {
        for (int i = 0; code[i]; i++) out[n++] = code[i];
    }
    out[n++] = '$';
    units m = magnitude(c);
    char digits[DIGITS];
    for (int i = DIGITS - 1; i >= 0; i--, m /= 10) digits[i] = char('0' + int(m % 10));
    int first = 0;
    while (first < INT_DIGITS - 1 && digits[first] == '0') first++;
    for (int i = first; i < INT_DIGITS; i++) {
        out[n++] = digits[i];
        // Positions 2, 5, 8, 11 and 14 (indexes 1, 4, ...) close a group of three.
        if (grouping && i < INT_DIGITS - 1 && (INT_DIGITS - 1 - i) % 3 == 0) out[n++] = '\'';
    }
    if (fraction > 0) {
        out[n++] = '.';
        for (int i = 0; i < fraction; i++) out[n++] = digits[INT_DIGITS + i];
    }
    return n;
}

// }==
// {== Arithmetic

namespace {

// An operand as money: money! itself, integer!, float! and percent! converted (floats not
// strictly); another type raises invalid-type.
cell operand(const cell* v) {
    switch (v->type()) {
    case T_money: return *v;
    case T_integer: return from_integer(integer::get(v));
    case T_float_:
    case T_percent: return from_float(float_::get(v), false);
    default: raise_type(error::script_invalid_type, v->type());
    }
}

// The currency of a result: both set and different raise wrong-denom; else the right's
// when it has one, else the left's.
uint32_t result_currency(const cell* a, const cell* b, const cell* left, const cell* right) {
    uint32_t ca = get_currency(a), cb = get_currency(b);
    if (ca && cb && ca != cb) error::raise(error::cat_script, error::script_wrong_denom, left, right);
    return cb ? cb : ca;
}

// a + b on signed magnitudes, into [out].
void add_signed(bool na, units ma, bool nb, units mb, bool& negative, units& m) {
    if (na == nb) {
        m = ma + mb;
        if (m >= LIMIT) type_limit();
        negative = na;
    } else if (ma >= mb) {
        m = ma - mb, negative = na;
    } else {
        m = mb - ma, negative = nb;
    }
}

} // namespace

void do_math(int32_t op) {
    cell* left = stack::arg(0);
    cell* right = left + 1;
    bool money_left = left->type() == T_money, money_right = right->type() == T_money;
    if ((money_left && money_right && op == MATH_MULTIPLY) ||
        (money_right && !money_left && (op == MATH_DIVIDE || op == MATH_REMAINDER)))
        raise_type(error::script_invalid_type, left->type());
    if (op > MATH_REMAINDER) raise_type(error::script_invalid_type, right->type());
    cell a = operand(left), b = operand(right);
    uint32_t currency = result_currency(&a, &b, left, right);
    bool na = get_sign(&a), nb = get_sign(&b), negative = false;
    units ma = magnitude(&a), mb = magnitude(&b), m = 0;
    switch (op) {
    case MATH_ADD: add_signed(na, ma, nb, mb, negative, m); break;
    case MATH_SUBTRACT: add_signed(na, ma, !nb, mb, negative, m); break;
    case MATH_MULTIPLY:
        if (ma == 0 || mb == 0) break;
        if (digit_count(ma) + digit_count(mb) > 28) type_limit();
        m = ma * mb / ONE;
        if (m >= LIMIT) type_limit();
        negative = na != nb;
        break;
    default: // divide, remainder
        if (mb == 0) error::raise(error::cat_math, error::math_zero_divide);
        if (op == MATH_DIVIDE) {
            m = ma * ONE / mb;
            if (m >= LIMIT) type_limit();
            negative = na != nb;
        } else {
            m = ma % mb;
            negative = na;
        }
        break;
    }
    make_at(left, negative, currency, m);
    if (money_left && money_right && op == MATH_DIVIDE) *left = float_::make_value(to_float(left));
}

// }==
// {== Action entries

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) { raise_type(error::script_bad_to_arg, T_money, spec); }
[[noreturn]] void bad_make_arg(const cell* spec) { raise_type(error::script_bad_make_arg, T_money, spec); }

cell from_text(const cell* spec) {
    unicode::text::range r = unicode::text::range_of(spec, -1);
    int32_t status;
    cell c;
    lexer::text_to_money(r.start, 0, size_t(r.end - r.start) / r.unit, r.unit, status, &c);
    if (status != 0) bad_to_arg(spec);
    return c;
}

cell* to(cell* proto, cell* spec, uint8_t) {
    uint8_t t = spec->type();
    if (t == T_money) return &(*proto = *spec);
    if (t == T_integer) return &(*proto = from_integer(integer::get(spec)));
    if (t == T_float_) return &(*proto = from_float(float_::get(spec), true));
    if (string::is_text_type(t)) return &(*proto = from_text(spec));
    bad_to_arg(spec);
}

// [currency] amount [hundred-thousandths]: the last only after an integer! amount.
cell from_block(const cell* spec) {
    const series_buffer* b = memory::buffer_of(spec->w2);
    const cell* v = reinterpret_cast<const cell*>(b->head) + spec->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (v >= end || end - v > 3) bad_make_arg(spec);
    int32_t currency = 0;
    if (v->type() == T_word) {
        cell w = *v; // no pointer into the block is needed across the look-up
        currency = find_currency(&w);
        if (currency < 0) bad_make_arg(&w);
        v = reinterpret_cast<const cell*>(memory::buffer_of(spec->w2)->head) + spec->w1 + 1;
        end = reinterpret_cast<const cell*>(memory::buffer_of(spec->w2)->tail);
    }
    if (v >= end || (v->type() != T_integer && v->type() != T_float_)) bad_make_arg(v < end ? v : spec);
    bool integral = v->type() == T_integer;
    cell c = integral ? from_integer(integer::get(v)) : from_float(float_::get(v), true);
    if (++v < end) {
        if (!integral || v->type() != T_integer || integer::get(v) < 0 || integer::get(v) > 99999) bad_make_arg(v);
        units m = magnitude(&c) + units(integer::get(v));
        if (m >= LIMIT) type_limit();
        make_at(&c, integer::get(v - 1) < 0, 0, m);
        if (++v < end) bad_make_arg(v);
    }
    bytes_of(&c)[0] = uint8_t(currency);
    return c;
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    if (spec->type() == T_word) {
        int32_t currency = find_currency(spec);
        if (currency < 0) bad_make_arg(spec);
        return make_at(proto, false, uint32_t(currency), 0);
    }
    if (spec->type() == T_block) return &(*proto = from_block(spec));
    return to(proto, spec, type);
}

int32_t fraction_digits(bool all) {
    if (all) return FRACTION_DIGITS;
    const cell* option = system_fields::get(system_fields::OPTIONS_MONEY_DIGITS);
    int32_t f = option && option->type() == T_integer ? integer::get(option) : 2;
    return f > FRACTION_DIGITS ? FRACTION_DIGITS : f;
}

int32_t append_text(const cell* value, cell* buffer, int32_t part, bool grouping, bool all) {
    char text[48];
    int32_t n = to_text(value, text, grouping, fraction_digits(all));
    string::concatenate_literal(buffer, {text, size_t(n)});
    return part - n;
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    return append_text(value, buffer, part, true, false);
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    return append_text(value, buffer, part, false, all);
}

// The amounts of [a] and [b] in order: -1, 0 or 1.
int32_t order(const cell* a, const cell* b) {
    int32_t sa = sign_of(a), sb = sign_of(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    units ma = magnitude(a), mb = magnitude(b);
    int32_t r = (ma > mb) - (ma < mb);
    return sa < 0 ? -r : r;
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t t = b->type();
    if ((op == 2 || op == 9 || op == 12) && t != T_money) return 1;
    cell other;
    switch (t) {
    case T_money: {
        uint32_t ca = get_currency(a), cb = get_currency(b);
        bool clash = ca && cb && ca != cb;
        if (op >= 3 && op <= 6 && clash) error::raise(error::cat_script, error::script_wrong_denom, a, b);
        if ((op == 7 || op == 8) && ca != cb) return ca < cb ? -1 : 1;
        if (op == 12 && cb && ca != cb) return 1;
        if (clash) return 1;
        return order(a, b);
    }
    case T_integer: other = from_integer(integer::get(b)); break;
    case T_float_: {
        double x = float_::get(b), ax = std::fabs(x);
        if (ax >= 1e17 || (ax > 0 && ax < 1e-5)) {
            // Beyond money's range: the order of the values (never equal).
            double v = to_float(a);
            return v < x ? -1 : 1;
        }
        other = from_float(x, true);
        break;
    }
    default: return -2;
    }
    return order(a, &other);
}

cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    units v = magnitude(value);
    if (v == 0) return value;
    units s = ONE;
    if (scale) {
        cell sc;
        switch (scale->type()) {
        case T_money: sc = *scale; break;
        case T_integer: sc = from_integer(integer::get(scale)); break;
        case T_float_: sc = from_float(float_::get(scale), true); break;
        default: {
            cell call = stack::ready() ? stack::get_call() : none_value;
            cell t = datatype::make_value(scale->type());
            error::raise(error::cat_script, error::script_not_related, &call, &t);
        }
        }
        s = magnitude(&sc);
        if (s == 0) return value;
    }
    bool negative = get_sign(value);
    units r = v % s, up = s - r;
    if (r == 0) return value; // already a multiple of the scale
    bool tie = 2 * r == s;
    bool lower; // v - r, else v + up
    if (down) lower = true;
    else if (floor) lower = !negative;
    else if (ceiling) lower = negative;
    else if (tie && even) lower = (v / s) % 2 == 0;
    else if (tie && half_down) lower = true;
    else if (tie && half_ceiling) lower = negative;
    else lower = r < up;
    units m = lower ? v - r : v + up;
    if (m >= LIMIT) type_limit();
    return make_at(value, negative, get_currency(value), m);
}

cell* random(cell* value, bool seed, bool, bool) {
    if (seed) {
        zyl::random::seed(static_cast<int32_t>(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & MONEY_NEGATIVE)));
        return &(*value = unset_value);
    }
    units v = magnitude(value);
    if (v == 0) return value;
    // Digit by digit from the first significant one, never above the value's own digits.
    int count = digit_count(v);
    units result = 0, p = pow10(count - 1);
    bool below = false;
    for (; p > 0; p /= 10) {
        uint32_t b = uint32_t(v / p % 10), g;
        if (below) {
            g = uint32_t(zyl::random::next_int32()) % 10;
        } else {
            for (;;) {
                g = uint32_t(zyl::random::next_int32()) % (b + 1);
                if (g != b) break;
                if (uint32_t(zyl::random::next_int32()) % 1000 == uint32_t(zyl::random::next_int32()) % 1000) break;
            }
            below = g < b;
        }
        result = result * 10 + g;
    }
    return make_at(value, get_sign(value), get_currency(value), result);
}

// The currency word of [value], or none.
cell code_of(const cell* value) {
    char code[4];
    if (!currency_code(get_currency(value), code)) return none_value;
    return word::load(code);
}

cell amount_of_value(const cell* value) {
    cell c = *value;
    bytes_of(&c)[0] = 0;
    return c;
}

bool is_word(const cell* w, uint32_t sym) {
    return w->type() == T_word && sym && symbol::resolve(w->w2) == symbol::resolve(sym);
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    const cell* path = step.path ? step.path : &none_value;
    bool code = is_word(element, words::sym.code), amount = is_word(element, words::sym.amount);
    if (!code && !amount) error::raise(error::cat_script, error::script_invalid_path, path, element);
    if (set) error::raise(error::cat_script, error::script_bad_path_set, element, path);
    *value = code ? code_of(value) : amount_of_value(value);
    return value;
}

cell* pick(cell* value, int32_t index, const cell* at) {
    if (index == 1) return &(*value = code_of(value));
    if (index == 2) return &(*value = amount_of_value(value));
    error::raise(error::cat_script, error::script_out_of_range, at);
}

void absolute() {
    cell* a = stack::arg(0);
    a->header &= ~MONEY_NEGATIVE;
}

cell* negate(cell* value) {
    if (magnitude(value) != 0) value->header ^= MONEY_NEGATIVE;
    return value;
}

bool odd(const cell* value) { return (bytes_of(value)[9] >> 4) & 1; } // position 17: byte 13's high nibble
bool even_q(const cell* value) { return !odd(value); }
bool odd_q(const cell* value) { return odd(value); }

template <int OP> void arith() { do_math(OP); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = entry(&random);
    e[A_to - 1] = entry(&to);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = entry(&compare);
    e[A_absolute - 1] = entry(&absolute);
    e[A_add - 1] = entry(&arith<MATH_ADD>);
    e[A_divide - 1] = entry(&arith<MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<MATH_MULTIPLY>);
    e[A_negate - 1] = entry(&negate);
    e[A_remainder - 1] = entry(&arith<MATH_REMAINDER>);
    e[A_round - 1] = entry(&round);
    e[A_subtract - 1] = entry(&arith<MATH_SUBTRACT>);
    e[A_even_q - 1] = entry(&even_q);
    e[A_odd_q - 1] = entry(&odd_q);
    e[A_pick - 1] = entry(&pick);
    datatype::register_type(ACTION_SLOTS + 3, T_money, 0, "money!", e);
    lexer::make_money = &make_from_parts;
}

// }==

} // namespace zyl::money
