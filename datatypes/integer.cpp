// datatypes/integer.cpp: integer!: the 32-bit arithmetic core, the math dispatcher over the
// right operand's type, rounding, conversions, text and comparison.
#include "datatypes/integer.h"

#include <cmath>
#include <cstdlib>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "lexer/convert.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::integer {

// {== Internal functions

cell* make_at(cell* c, int32_t n) {
    c->header = (c->header & ~CELL_TYPE_MASK) | T_integer;
    c->w2 = static_cast<uint32_t>(n);
    return c;
}

cell* make_in(node_id block, int32_t n) { return &(*series::append_unset_cell(block) = make_value(n)); }

cell* push(int32_t n) { return &(*stack::push_slot() = make_value(n)); }

cell* box(int32_t n) { return &(*es.base = make_value(n)); }

int32_t get_last() { return es.base->type() == T_integer ? get(es.base) : 0; }

int32_t abs_checked(int32_t n) {
    if (n == INT32_MIN) error::raise(error::cat_math, error::math_overflow);
    return n < 0 ? -n : n;
}

bool float_overflow(double d) {
    // Exclusive bounds: every double strictly between them truncates into 32 bits.
    return !(d > -2147483649.0 && d < 2147483648.0);
}

std::string_view form_text(int32_t n, char (&buffer)[12]) {
    char* end = buffer + sizeof buffer;
    char* p = end;
    uint32_t m = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    do {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    if (n < 0) *--p = '-';
    return {p, static_cast<size_t>(end - p)};
}

namespace {

[[noreturn]] void overflow() { error::raise(error::cat_math, error::math_overflow); }

// A float! result into [result]: the operation redone in double precision.
void float_result(cell* result, double d) { float_::make_at(result, d); }

} // namespace

void math_op(int32_t op, int32_t a, int32_t b, cell* result, bool integer_quotient) {
    int32_t r;
    switch (op) {
    case MATH_ADD:
        if (__builtin_add_overflow(a, b, &r)) return float_result(result, double(a) + double(b));
        break;
    case MATH_SUBTRACT:
        if (__builtin_sub_overflow(a, b, &r)) return float_result(result, double(a) - double(b));
        break;
    case MATH_MULTIPLY:
        if (__builtin_mul_overflow(a, b, &r)) return float_result(result, double(a) * double(b));
        break;
    case MATH_DIVIDE:
        if (b == 0) error::raise(error::cat_math, error::math_zero_divide);
        if (a == INT32_MIN && b == -1) overflow();
        if (!integer_quotient && a % b != 0) return float_result(result, double(a) / double(b));
        r = a / b;
        break;
    case MATH_REMAINDER:
        if (b == 0) error::raise(error::cat_math, error::math_zero_divide);
        r = b == -1 ? 0 : a % b; // the smallest integer by -1 leaves 0, which fits
        break;
    case MATH_OR: r = a | b; break;
    case MATH_AND: r = a & b; break;
    case MATH_XOR: r = a ^ b; break;
    default: {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(T_integer);
        error::raise(error::cat_script, error::script_cannot_use, &call, &t);
    }
    }
    make_at(result, r);
}

int32_t from_text(const cell* text, int32_t& status) {
    unicode::text::range r = unicode::text::range_of(text, -1);
    return lexer::text_to_integer(r.start, 0, size_t(r.end - r.start) / r.unit, r.unit, status);
}

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_integer);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

[[noreturn]] void type_limit() {
    cell t = datatype::make_value(T_integer);
    error::raise(error::cat_script, error::script_type_limit, &t);
}

// A double truncated toward zero, or type-limit when it does not fit.
int32_t truncate_checked(double d) {
    if (float_overflow(d)) type_limit();
    return static_cast<int32_t>(d);
}

// The first bytes of a binary! from its index, at most 4, big-endian.
int32_t from_binary(const cell* bin) {
    series_buffer* b = memory::buffer_of(bin->w2);
    uint64_t used = b->used_bytes();
    uint64_t index = bin->w1 < used ? bin->w1 : used;
    uint64_t count = used - index < 4 ? used - index : 4;
    uint32_t n = 0;
    for (uint64_t i = 0; i < count; i++) n = n << 8 | b->head[index + i];
    return static_cast<int32_t>(n);
}

// An issue's name read as hexadecimal, most significant digit first: at most 8 digits, so
// #FFFFFFFF is the bit pattern of -1; a longer name or any other character is invalid data.
int32_t from_issue(const cell* issue) {
    const series_buffer* name = memory::buffer_of(symbol::entry_cell(issue->w2)->w3);
    uint64_t n = name->used_bytes();
    if (n > 8) error::raise(error::cat_script, error::script_invalid_data, issue);
    uint32_t v = 0;
    for (uint64_t i = 0; i < n; i++) {
        uint8_t c = name->head[i];
        uint32_t d = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : 16;
        if (d > 15) error::raise(error::cat_script, error::script_invalid_data, issue);
        v = v << 4 | d;
    }
    return static_cast<int32_t>(v);
}

// The value of `to integer!` for [spec].
int32_t to_value(const cell* spec) {
    switch (spec->type()) {
    case T_integer:
    case T_char_: return get(spec);
    case T_float_:
    case T_percent: return truncate_checked(std::trunc(float_::get(spec)));
    case T_time: return truncate_checked(std::round(float_::get(spec))); // half away from zero
    case T_binary: return from_binary(spec);
    case T_money: return money::to_integer(spec);
    case T_date: {
        int64_t seconds = date::to_epoch_seconds(spec);
        if (seconds < INT32_MIN || seconds > INT32_MAX) {
            cell t = datatype::make_value(T_integer);
            error::raise(error::cat_script, error::script_type_limit, &t);
        }
        return static_cast<int32_t>(seconds);
    }
    case T_issue: return from_issue(spec);
    default: break;
    }
    if (!is_text_type(spec->type())) bad_to_arg(spec);
    int32_t status;
    int32_t n = from_text(spec, status);
    if (status != 0) bad_to_arg(spec);
    return n;
}

// The entry of cell 1's type for [op], fed the frame with the operands exchanged.
void exchange_and_forward(int32_t op) { float_::forward_math(op, true); }

// An integer on the left of an action that the right operand's type has only the other way
// round: names integer! and the action's word ([op] subtract or divide).
[[noreturn]] void not_related(int32_t op) {
    const cell& w = op == MATH_DIVIDE ? words::loaded.divide : words::loaded.subtract;
    // Before the predefined words are built (bare run-time tests) the slot is still empty.
    const cell* name = w.type() == T_word ? &w : &none_value;
    cell t = datatype::make_value(T_integer);
    error::raise(error::cat_script, error::script_not_related, &t, name);
}

// pair!, point2D!, point3D! on the right: the scalar goes second; a - p is (-p) + a.
void point_math(int32_t op) {
    if (op == MATH_DIVIDE) not_related(op);
    if (op == MATH_SUBTRACT) {
        cell* other = stack::arg(1);
        auto negate = datatype::action_as<actions::unary_fn>(other->type(), A_negate);
        if (!negate) {
            cell t = datatype::make_value(other->type());
            error::raise(error::cat_script, error::script_invalid_type, &t);
        }
        negate(other);
        op = MATH_ADD;
    }
    exchange_and_forward(op);
}

// The math dispatcher past the integer-integer fast path: cell 1's type decides.
[[gnu::noinline]] void finish_math(int32_t op) {
    cell* a = stack::arg(0);
    cell* b = a + 1;
    switch (b->type()) {
    case T_integer:
    case T_char_: return math_op(op, get(a), get(b), a);
    case T_float_:
    case T_percent:
    case T_time: return float_::do_math(op);
    case T_vector: return float_::vector_math(op);
    case T_pair:
    case T_point2d:
    case T_point3d: return point_math(op);
    case T_tuple:
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE) not_related(op);
        return exchange_and_forward(op);
    case T_date:
        if (op != MATH_ADD) not_related(MATH_SUBTRACT); // a date only adds days
        return exchange_and_forward(op);
    case T_money: return float_::forward_math(op, false);
    default: {
        cell t = datatype::make_value(b->type());
        error::raise(error::cat_script, error::script_invalid_type, &t);
    }
    }
}

// The 32-bit power by squaring; false when a product leaves 32 bits.
bool power_by_squaring(int32_t base, int32_t exponent, int32_t& result) {
    int32_t r = 1, square = base;
    for (uint32_t e = static_cast<uint32_t>(exponent); e; e >>= 1) {
        if ((e & 1) && __builtin_mul_overflow(r, square, &r)) return false;
        // The last square is never used: it may overflow without harm.
        if (e > 1 && __builtin_mul_overflow(square, square, &square)) return false;
    }
    result = r;
    return true;
}

// Which way a magnitude [m] with remainder [r] by scale [s] rounds: true for up (away from
// zero). [negative] is the sign of the value.
bool rounds_up(int64_t m, int64_t r, int64_t s, bool negative, bool even, bool down,
               bool half_down, bool floor, bool ceiling, bool half_ceiling) {
    if (down) return false;
    if (floor) return negative;
    if (ceiling) return !negative;
    if (r != s - r) return r > s - r;
    if (even) return ((m / s) & 1) != 0;
    if (half_down) return false;
    if (half_ceiling) return !negative;
    return true;
}

} // namespace

// }==
// {== Action entries

namespace {

cell* to(cell* proto, cell* spec, uint8_t) {
    int32_t n = to_value(spec);
    return &(*proto = make_value(n));
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    if (spec->type() == T_logic) return &(*proto = make_value(spec->w1 != 0));
    return to(proto, spec, type);
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    char text[12];
    std::string_view s = form_text(get(value), text);
    string::concatenate_literal(buffer, s);
    return part - static_cast<int32_t>(s.size());
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form(value, buffer, nullptr, part);
}

// Asks money! to compare [b] with [a] and turns its order round; -2 while money! is absent.
int32_t compare_by_money(const cell* a, const cell* b, int32_t op) {
    auto f = datatype::action_as<actions::compare_fn>(T_money, A_compare);
    if (!f) return -2;
    int32_t r = f(b, a, op);
    return r == -2 ? -2 : -r;
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t t = b->type();
    if ((op == 2 || op == 9 || op == 12) && t != T_integer) return 1; // another type is never the same
    switch (t) {
    case T_integer:
    case T_char_: return (get(a) > get(b)) - (get(a) < get(b));
    case T_float_:
    case T_percent:
    case T_time: return float_::compare_doubles(double(get(a)), float_::get(b), op);
    case T_money: return compare_by_money(a, b, op);
    default: return -2;
    }
}

cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zyl::random::seed(get(value));
        return &(*value = unset_value);
    }
    value->w2 = static_cast<uint32_t>(zyl::random::in_range(secure, get(value)));
    return value;
}

void absolute() {
    cell* a = stack::arg(0);
    a->w2 = static_cast<uint32_t>(abs_checked(get(a)));
}

// add, subtract, multiply: two integers stay on the fast path, where the overflow test is
// the flag of the one machine operation; every other case goes to the dispatcher.
template <int OP> void arith() {
    cell* a = stack::arg(0);
    const cell* b = a + 1;
    if (ZYL_LIKELY(b->type() == T_integer)) {
        int32_t x = get(a), y = get(b), r;
        bool over = OP == MATH_ADD        ? __builtin_add_overflow(x, y, &r)
                    : OP == MATH_SUBTRACT ? __builtin_sub_overflow(x, y, &r)
                                          : __builtin_mul_overflow(x, y, &r);
        if (ZYL_LIKELY(!over)) {
            a->w2 = static_cast<uint32_t>(r);
            return;
        }
    }
    finish_math(OP);
}

template <int OP> void other_math() { finish_math(OP); }

cell* negate(cell* value) {
    if (get(value) == INT32_MIN) overflow();
    value->w2 = 0u - value->w2;
    return value;
}

cell* complement(cell* value) {
    value->w2 = ~value->w2;
    return value;
}

void power() {
    cell* a = stack::arg(0);
    cell* b = a + 1;
    if (b->type() != T_integer && b->type() != T_float_) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(b->type());
        cell name = error::ready() ? error::arg_word_at(1) : none_value;
        error::raise(error::cat_script, error::script_expect_arg, &call, &t, &name);
    }
    int32_t r;
    if (b->type() == T_integer && get(b) >= 0 && power_by_squaring(get(a), get(b), r)) {
        a->w2 = static_cast<uint32_t>(r);
        return;
    }
    float_::make_at(a, double(get(a)));
    float_::power();
}

cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->type() == T_money) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(T_money);
        error::raise(error::cat_script, error::script_not_related, &call, &t);
    }
    if (scale && scale->type() != T_integer) {
        float_::make_at(value, double(get(value)));
        return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    // In 64 bits, so the smallest integer and a scale of 2^31 need no special case.
    int64_t n = get(value);
    int64_t s = scale ? std::abs(int64_t(get(scale))) : 1;
    if (s == 0) return value;
    int64_t m = n < 0 ? -n : n, r = m % s;
    if (r == 0) return value;
    bool up = rounds_up(m, r, s, n < 0, even, down, half_down, floor, ceiling, half_ceiling);
    int64_t result = (up ? m + (s - r) : m - r) * (n < 0 ? -1 : 1);
    if (result < INT32_MIN || result > INT32_MAX) overflow();
    value->w2 = static_cast<uint32_t>(result);
    return value;
}

bool even_q(const cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(const cell* value) { return (value->w2 & 1) != 0; }

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
    e[A_compare - 1] = entry(&compare);
    e[A_absolute - 1] = entry(&absolute);
    e[A_add - 1] = entry(&arith<MATH_ADD>);
    e[A_divide - 1] = entry(&other_math<MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<MATH_MULTIPLY>);
    e[A_negate - 1] = entry(&negate);
    e[A_power - 1] = entry(&power);
    e[A_remainder - 1] = entry(&other_math<MATH_REMAINDER>);
    e[A_round - 1] = entry(&round);
    e[A_subtract - 1] = entry(&arith<MATH_SUBTRACT>);
    e[A_even_q - 1] = entry(&even_q);
    e[A_odd_q - 1] = entry(&odd_q);
    e[A_and_t - 1] = entry(&other_math<MATH_AND>);
    e[A_complement - 1] = entry(&complement);
    e[A_or_t - 1] = entry(&other_math<MATH_OR>);
    e[A_xor_t - 1] = entry(&other_math<MATH_XOR>);
    datatype::register_type(ACTION_SLOTS + 3, T_integer, 0, "integer!", e);
}

// }==

} // namespace zyl::integer
