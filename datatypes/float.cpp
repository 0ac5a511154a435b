// datatypes/float.cpp: float!: the float text formatter, tolerant equality, the numeric
// dispatcher for mixed operands, rounding in every mode, and the float! action entries.
#include "datatypes/float.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <utility>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "lexer/convert.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::float_ {

bool pretty_print = true;
bool full_support = false;
void (*vector_scalar_math)(int32_t op) = nullptr;

// {== Internal functions

cell* make_at(cell* c, double d) { return &(*c = make_value(d)); }

cell* box(double d) { return make_at(es.base, d); }

cell* push(double d) { return make_at(stack::push_slot(), d); }

cell* push_halves(uint32_t high, uint32_t low) {
    return &(*stack::push_slot() = cell{T_float_, 0, low, high});
}

cell* make_in(node_id block, uint32_t high, uint32_t low) {
    return &(*series::append_unset_cell(block) = cell{T_float_, 0, low, high});
}

bool is_special(double d) { return std::isnan(d); }
bool non_finite(double d) { return !std::isfinite(d); }
bool single_nan(float f) { return f != f; }

namespace {

// {== The formatter

// What a scan of a first text found.
struct text_scan {
    bool point;   // a "." occurs
    int e;        // index of the "e", -1 when none
    int exponent; // index of the first exponent digit past its sign and leading zeros
};

text_scan scan(const char* t, int length) {
    text_scan s{false, -1, -1};
    for (int i = 0; i < length; i++) {
        if (t[i] == '.') s.point = true;
        if (t[i] != 'e') continue;
        s.e = i;
        int j = i + 1;
        while (j < length && (t[j] == '+' || t[j] == '-' || t[j] == '0')) j++;
        s.exponent = j;
        break;
    }
    return s;
}

const char* first_format(int32_t kind) {
    if (kind == KIND_VECTOR32 || kind == KIND_VECTOR_PERCENT || kind == KIND_POINT) return "%.7g";
    return kind == KIND_PERCENT ? "%.13g" : "%.16g";
}

const char* retry_format(int32_t kind) {
    return kind == KIND_VECTOR32 || kind == KIND_POINT || kind == KIND_TIME ? "%.5g" : "%.14g";
}

// Whether a text that runs to full precision ends in noise ("01", "99") worth a shorter retry.
bool retry_due(const char* t, int length, const text_scan& s) {
    int end = s.e;
    if (end < 0) {
        const char* first = t[0] == '-' ? t + 1 : t;
        if (length <= (*first == '0' ? 17 : 16)) return false;
        end = length;
    } else if (end <= 16) {
        return false;
    }
    return (t[end - 2] == '0' && t[end - 1] == '1') || (t[end - 2] == '9' && t[end - 1] == '9');
}

// Keeps "e" and a "-", drops a "+" and the exponent's leading zeros: 1e+020 becomes 1e20.
int clean_exponent(char* t, int length, const text_scan& s) {
    bool negative = false;
    for (int i = s.e + 1; i < s.exponent; i++) negative |= t[i] == '-';
    char digits[8];
    int n = 0;
    for (int i = s.exponent; i < length && n < 7; i++) digits[n++] = t[i];
    if (n == 0) digits[n++] = '0';
    int out = s.e + 1;
    if (negative) t[out++] = '-';
    for (int i = 0; i < n; i++) t[out++] = digits[i];
    t[out] = '\0';
    return out;
}

// Inserts ".0" before the exponent (or at the end): 42 becomes 42.0, 1e20 becomes 1.0e20.
int insert_point(char* t, int length, int e) {
    int at = e < 0 ? length : e;
    for (int i = length; i >= at; i--) t[i + 2] = t[i];
    t[at] = '.';
    t[at + 1] = '0';
    return length + 2;
}

// }==

} // namespace

std::string_view format(double value, int32_t kind) {
    static char buffer[48];
    if (std::isnan(value)) return "1.#NaN";
    if (std::isinf(value)) return value > 0 ? "1.#INF" : "-1.#INF";
    bool percent = kind == KIND_VECTOR_PERCENT || kind == KIND_PERCENT;
    if (pretty_print && std::fabs(value) < EPSILON) return percent ? "0%" : kind == KIND_POINT ? "0" : "0.0";
    int length;
    if (kind == KIND_TIME) {
        std::string_view t = dtoa::to_text(value, 6, false);
        length = static_cast<int>(t.size());
        std::memcpy(buffer, t.data(), t.size() + 1);
    } else {
        length = std::snprintf(buffer, 40, first_format(kind), value);
    }
    text_scan s = scan(buffer, length);
    if (pretty_print && retry_due(buffer, length, s)) {
        length = std::snprintf(buffer, 40, retry_format(kind), value);
        s = scan(buffer, length);
    }
    if (s.e >= 0) length = clean_exponent(buffer, length, s);
    if (percent) {
        buffer[length++] = '%';
        buffer[length] = '\0';
    } else if (!s.point && kind != KIND_TIME && kind != KIND_POINT) {
        length = insert_point(buffer, length, s.e);
    }
    return {buffer, static_cast<size_t>(length)};
}

namespace {

// The 64 bits of [d] mapped to an unsigned order: negative values below positive ones, and
// neighbouring doubles one apart.
uint64_t ordered_bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return (b >> 63) ? ~b + 1 : b | (uint64_t(1) << 63);
}

} // namespace

bool almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b || std::fabs(a - b) < EPSILON) return true;
    uint64_t x = ordered_bits(a), y = ordered_bits(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool almost_equal32(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    uint32_t mx = x & 0x7FFFFFFF, my = y & 0x7FFFFFFF;
    constexpr uint32_t LARGEST = 0x7F7FFFFF; // the largest finite 32-bit float
    if (mx >= LARGEST || my >= LARGEST)
        return (x >> 31) == (y >> 31) && (mx > my ? mx - my : my - mx) < (1u << 20);
    if (mx == 0 && my == 0) return true;
    auto order = [](uint32_t bits) {
        int64_t s = static_cast<int32_t>(bits);
        return s < 0 ? int64_t(INT32_MIN) - s : s;
    };
    int64_t d = order(x) - order(y);
    return (d < 0 ? -d : d) <= 10;
}

double math_op(double left, double right, int32_t op) {
    switch (op) {
    case MATH_ADD: return left + right;
    case MATH_SUBTRACT: return left - right;
    case MATH_MULTIPLY: return left * right;
    case MATH_DIVIDE: return left / right;
    case MATH_REMAINDER:
        if (0.0 * right == 0.0) return std::fmod(left, right);
        if (std::isnan(right)) return right;
        return 0.0 * left == 0.0 ? left : std::nan(""); // by an infinity: the value itself
    default: {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(T_float_);
        error::raise(error::cat_script, error::script_cannot_use, &call, &t);
    }
    }
}

namespace {

[[noreturn]] void invalid_type(uint8_t type) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

// The double of a number cell: integer! and char! converted, the float family as it is.
double double_of(const cell* c) {
    uint8_t t = c->type();
    return t == T_integer || t == T_char_ ? double(integer::get(c)) : get(c);
}

} // namespace

void forward_math(int32_t op, bool swap) {
    cell* a = stack::arg(0);
    uint8_t type = a[1].type();
    auto f = datatype::action_as<actions::direct_fn>(type, MATH_SLOTS[op]);
    if (!f) invalid_type(type);
    if (swap) std::swap(a[0], a[1]);
    f();
}

void vector_math(int32_t op) {
    if (!vector_scalar_math) invalid_type(T_vector);
    vector_scalar_math(op);
}

void do_math(int32_t op) {
    cell* left = stack::arg(0);
    cell* right = left + 1;
    uint8_t lt = left->type(), rt = right->type();
    // 1. Types that do the arithmetic themselves.
    switch (rt) {
    case T_tuple:
    case T_money: return forward_math(op, false);
    case T_vector: return vector_math(op);
    case T_pair:
    case T_point2d:
    case T_point3d:
        if (lt == T_time) invalid_type(rt);
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE) {
            const cell& w = op == MATH_DIVIDE ? words::loaded.divide : words::loaded.subtract;
            // Before the predefined words are built (bare run-time tests) the slot is still empty.
            const cell* name = w.type() == T_word ? &w : &none_value;
            cell t = datatype::make_value(rt);
            error::raise(error::cat_script, error::script_not_related, name, &t);
        }
        return forward_math(op, true);
    default: break;
    }
    // 2. Numbers: a char! only beside an integer! or a float!.
    bool number = rt == T_integer || rt == T_float_ || rt == T_percent || rt == T_time ||
                  (rt == T_char_ && (lt == T_integer || lt == T_float_));
    if (!number) invalid_type(rt);
    double result = math_op(double_of(left), double_of(right), op);
    // 3. The result's type: time! wins, then a percent! on the left, else the left's type.
    bool percent_left = lt == T_percent && rt != T_percent;
    bool time_either = (lt == T_time) != (rt == T_time);
    uint8_t type = lt == T_integer ? uint8_t(T_float_) : lt;
    if (percent_left) type = T_percent;
    if (time_either) type = T_time;
    cells::set_type(left, type);
    left->w1 = 0;
    set(left, result);
}

double number_of(const cell* c) {
    if (c->type() == T_integer) return double(integer::get(c));
    if (c->type() == T_float_) return get(c);
    cell t = datatype::make_value(T_float_);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, c);
}

double random_draw(double range, bool secure) {
    if (!secure) return double(zyl::random::next_int32()) / 2147483647.0 * range;
    double d1 = zyl::random::secure_int31();
    double d2 = zyl::random::secure_int31();
    return (d2 + d1 / 2147483647.0) / (2147483648.0 / range);
}

int32_t compare_doubles(double a, double b, int32_t op) {
    switch (op) {
    case 0:
    case 1: return almost_equal(a, b) ? 0 : 1;
    case 2: return a == b ? 0 : 1;
    case 9: {
        uint64_t x, y;
        std::memcpy(&x, &a, 8);
        std::memcpy(&y, &b, 8);
        return x == y ? 0 : 1;
    }
    default: break;
    }
    if (std::isnan(a) || std::isnan(b)) {
        if (op == 3 || op == 4 || op == 12) return 1; // a key match never finds a NaN
        return op == 5 || op == 6 ? -1 : 0;
    }
    return (a > b) - (a < b);
}

namespace {

// {== Rounding

// The refinements of round.
struct round_mode {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};

// The rounded value of [d] at unit scale.
double round_unit(double d, const round_mode& m) {
    double a = std::fabs(d), t = std::floor(a) + 0.5;
    auto s = [d](double x) { return d >= 0 ? x : 0.0 - x; };
    if (m.down) return s(std::floor(a));
    if (m.floor) return std::floor(d);
    if (m.ceiling) return std::ceil(d);
    if (a > t) return s(std::ceil(a));
    if (a < t) return s(std::floor(a));
    if (m.even) return std::fmod(a, 2.0) < 1.0 ? s(std::floor(a)) : s(std::ceil(a));
    if (m.half_down) return s(std::floor(a));
    if (m.half_ceiling) return std::ceil(d);
    return s(std::ceil(a));
}

// [v] rounded to a multiple of [sc] > 0. Scales below 1 divide by their reciprocal, so that
// 0.01 rounds to exact hundredths; subnormal scales are first brought into range.
double round_to_scale(double v, double sc, const round_mode& m) {
    if (sc >= 1.0) {
        double r = round_unit(v / sc, m) * sc;
        if (std::fabs(r) == DBL_MAX || (std::isinf(r) && std::isfinite(v)))
            error::raise(error::cat_math, error::math_overflow);
        return r;
    }
    int e;
    double mantissa = std::frexp(sc, &e);
    double d = v;
    if (e <= -1022) {
        sc = mantissa;
        d = std::ldexp(v, -e);
    } else {
        e = 0;
    }
    sc = 1.0 / sc;
    return std::ldexp(round_unit(d * sc, m) / sc, e);
}

// The /to scale as a double, in the value's own unit.
double scale_of(const cell* scale, bool percent) {
    uint8_t t = scale->type();
    if (t != T_integer && t != T_char_ && t != T_float_ && t != T_percent && t != T_time) {
        error::raise(error::cat_script, error::script_invalid_arg, scale);
    }
    double sc = std::fabs(double_of(scale));
    // A number scale counts in percent! units; a percent! scale already is a fraction.
    return percent && t != T_percent ? sc / 100.0 : sc;
}

// }==

} // namespace

cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->type() == T_money) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(T_money);
        error::raise(error::cat_script, error::script_not_related, &call, &t);
    }
    bool percent = value->type() == T_percent;
    double v = get(value);
    double sc = scale ? scale_of(scale, percent) : percent ? 0.01 : 1.0;
    // A scale below the value's precision, or none at all, leaves the value as it is.
    if (sc == 0.0 || sc < std::fabs(v) * 0x1p-53) return value;
    double r = round_to_scale(v, sc, {even, down, half_down, floor, ceiling, half_ceiling});
    // With /to the value takes the scale's type; a percent! stays one, its scale being in
    // percent units.
    if (scale && !percent && (scale->type() == T_integer || scale->type() == T_char_)) {
        if (integer::float_overflow(r)) error::raise(error::cat_math, error::math_overflow);
        *value = integer::make_value(static_cast<int32_t>(r));
        return value;
    }
    if (scale && !percent) cells::set_type(value, scale->type());
    set(value, r);
    return value;
}

void power() {
    cell* a = stack::arg(0);
    const cell* b = a + 1;
    if (b->type() != T_integer && b->type() != T_float_) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(b->type());
        cell name = error::ready() ? error::arg_word_at(1) : none_value;
        error::raise(error::cat_script, error::script_expect_arg, &call, &t, &name);
    }
    set(a, std::pow(get(a), double_of(b)));
}

namespace {

// {== Reading text

// Whether [t] ([n] characters) is a float form: sign, digits with "'" after a digit, one
// "." (or "," with [comma]), an exponent with optional sign and digits.
bool float_form(const char* t, size_t n, bool comma) {
    enum { START, SIGN, INT, POINT, FRACTION, E, E_SIGN, EXPONENT } state = START;
    bool int_digits = false;
    for (size_t i = 0; i < n; i++) {
        char c = t[i];
        bool digit = c >= '0' && c <= '9';
        if (c == ',' && comma) c = '.';
        if (digit) {
            state = state <= INT ? INT : state <= FRACTION ? FRACTION : EXPONENT;
            int_digits |= state == INT;
        } else if (c == '\'' && (state == INT || state == FRACTION) && t[i - 1] != '\'') {
            continue;
        } else if ((c == '+' || c == '-') && (state == START || state == E)) {
            state = state == START ? SIGN : E_SIGN;
        } else if (c == '.' && state <= INT) {
            state = POINT;
        } else if ((c == 'e' || c == 'E') && (state == INT || state == FRACTION || (state == POINT && int_digits))) {
            state = E;
        } else {
            return false;
        }
    }
    return state == INT || state == FRACTION || state == EXPONENT || (state == POINT && int_digits);
}

constexpr size_t MAX_FLOAT_TEXT = 312;

// Copies the ASCII characters of [text] into [out] ("," as "." with [comma]); false when
// the text is too long or not ASCII. [n] receives the count.
bool copy_ascii(const cell* text, char* out, size_t& n, bool trim) {
    unicode::text::range r = unicode::text::range_of(text, -1);
    const uint8_t* p = r.start;
    const uint8_t* end = r.end;
    auto blank = [&](const uint8_t* q) {
        uint32_t c = unicode::text::get(q, r.unit);
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    if (trim) {
        while (p < end && blank(p)) p += r.unit;
        while (end > p && blank(end - r.unit)) end -= r.unit;
    }
    n = static_cast<size_t>(end - p) / r.unit;
    if (n > MAX_FLOAT_TEXT) return false;
    for (size_t i = 0; i < n; i++, p += r.unit) {
        uint32_t c = unicode::text::get(p, r.unit);
        if (c >= 0x80) return false;
        out[i] = static_cast<char>(c);
    }
    return true;
}

// Reads a checked float form: drops "'", takes "," as ".", rounds correctly.
double read_float(char* t, size_t n, int extra_exponent) {
    size_t m = 0;
    for (size_t i = 0; i < n; i++) {
        if (t[i] == '\'') continue;
        t[m++] = t[i] == ',' ? '.' : t[i];
    }
    size_t unconsumed;
    return dtoa::strtod(t, t + m, extra_exponent, unconsumed);
}

// }==

} // namespace

double from_text(const cell* text, bool& ok) {
    unicode::text::range r = unicode::text::range_of(text, -1);
    int32_t status;
    double d = lexer::text_to_float(r.start, 0, size_t(r.end - r.start) / r.unit, r.unit, status);
    ok = status == 0;
    return d;
}

double load_number_text(const cell* text, bool& ok) {
    char t[MAX_FLOAT_TEXT + 1];
    size_t n;
    ok = copy_ascii(text, t, n, true) && n > 0;
    bool percent = ok && t[n - 1] == '%';
    if (percent) n--;
    ok = ok && n > 0 && float_form(t, n, false);
    return ok ? read_float(t, n, percent ? -2 : 0) : std::nan("");
}

// }==
// {== Action entries

namespace {

[[noreturn]] void bad_to_arg(uint8_t type, const cell* spec) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// Up to 8 bytes of a binary! from its index, big-endian, right-aligned: the double's bits.
double from_binary(const cell* bin) {
    series_buffer* b = memory::buffer_of(bin->w2);
    uint64_t used = b->used_bytes();
    uint64_t index = bin->w1 < used ? bin->w1 : used;
    uint64_t count = used - index < 8 ? used - index : 8;
    uint64_t bits = 0;
    for (uint64_t i = 0; i < count; i++) bits = bits << 8 | b->head[index + i];
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

// [m e] gives m × 10^e, e truncated toward zero.
double from_block(const cell* block, uint8_t type) {
    series_buffer* b = memory::buffer_of(block->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + block->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (end - first != 2) bad_to_arg(type, block);
    double m = number_of(first);
    double e = std::trunc(number_of(first + 1));
    return m * std::pow(10.0, e);
}

double from_any_text(const cell* spec, uint8_t type) {
    bool ok;
    double d = type == T_percent ? load_number_text(spec, ok) : from_text(spec, ok);
    if (!ok) bad_to_arg(type, spec);
    return d;
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    double d;
    switch (spec->type()) {
    case T_char_:
    case T_integer: d = double(integer::get(spec)); break;
    case T_float_:
    case T_percent:
    case T_time: d = get(spec); break;
    case T_binary: d = from_binary(spec); break;
    case T_money: d = money::to_float(spec); break;
    case T_block:
    case T_paren:
    case T_hash: d = from_block(spec, type); break;
    default:
        if (!integer::is_text_type(spec->type())) bad_to_arg(type, spec);
        d = from_any_text(spec, type);
    }
    *proto = make_value(d, type);
    return proto;
}

int32_t append_text(cell* buffer, std::string_view text, int32_t part) {
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    return append_text(buffer, format(get(value), KIND_FLOAT), part);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return append_text(buffer, dtoa::to_text(get(value), 0, true), part);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t t = b->type();
    if ((op == 2 || op == 9 || op == 12) && t != a->type()) return 1;
    switch (t) {
    case T_integer:
    case T_float_:
    case T_percent:
    case T_time: return compare_doubles(get(a), double_of(b), op);
    case T_money: {
        // money! decides, with the operands turned round; -2 while it is absent.
        auto f = datatype::action_as<actions::compare_fn>(T_money, A_compare);
        int32_t r = f ? f(b, a, op) : -2;
        return r == -2 ? -2 : -r;
    }
    default: return -2;
    }
}

cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zyl::random::seed(static_cast<int32_t>(value->w2 ^ value->w3));
        return &(*value = unset_value);
    }
    set(value, random_draw(get(value), secure));
    return value;
}

void absolute() {
    cell* a = stack::arg(0);
    a->w3 &= 0x7FFFFFFF;
}

// Two float! operands are the common case; every other mix goes to the dispatcher.
template <int OP> void arith() {
    cell* a = stack::arg(0);
    const cell* b = a + 1;
    if (OP <= MATH_DIVIDE && a->type() == T_float_ && b->type() == T_float_) {
        set(a, math_op(get(a), get(b), OP));
        return;
    }
    do_math(OP);
}

cell* negate(cell* value) {
    set(value, 0.0 - get(value));
    return value;
}

// Bit 0 of the value truncated toward zero; beyond 2^63 (and NaN) every value counts even.
bool low_bit(const cell* value) {
    double d = get(value);
    return std::fabs(d) < 0x1p63 && (static_cast<int64_t>(d) & 1);
}

bool even_q(const cell* value) { return !low_bit(value); }
bool odd_q(const cell* value) { return low_bit(value); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = entry(&random);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    e[A_absolute - 1] = entry(&absolute);
    e[A_add - 1] = entry(&arith<MATH_ADD>);
    e[A_divide - 1] = entry(&arith<MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<MATH_MULTIPLY>);
    e[A_negate - 1] = entry(&negate);
    e[A_power - 1] = entry(&power);
    e[A_remainder - 1] = entry(&arith<MATH_REMAINDER>);
    e[A_round - 1] = entry(&round);
    e[A_subtract - 1] = entry(&arith<MATH_SUBTRACT>);
    e[A_even_q - 1] = entry(&even_q);
    e[A_odd_q - 1] = entry(&odd_q);
    datatype::register_type(ACTION_SLOTS + 3, T_float_, 0, "float!", e);
}

// }==

} // namespace zyl::float_
