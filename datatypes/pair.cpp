// datatypes/pair.cpp: pair!: component arithmetic that moves to point2D! rather than wrap,
// comparison, rounding, conversions, text, path access and the pair literal.
#include "datatypes/pair.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "services/random.h"

namespace zyl::pair {

// {== Internal functions

cell* make_at(cell* c, int32_t x, int32_t y) { return &(*c = make_value(x, y)); }

cell* push(int32_t x, int32_t y) { return make_at(stack::push_slot(), x, y); }

cell* append_to_block(node_id block, int32_t x, int32_t y) {
    return make_at(series::append_unset_cell(block), x, y);
}

int32_t axis_of(const cell* word) {
    if (word->type() != T_word) return 0;
    // The canonical spelling's UTF-8 bytes: words compare without regard to case.
    const series_buffer* name = memory::buffer_of(symbol::entry_cell(symbol::resolve(word->w2))->w3);
    if (name->used_bytes() != 1) return 0;
    switch (name->head[0] | 0x20) {
    case 'x': return 1;
    case 'y': return 2;
    case 'z': return 3;
    default: return 0;
    }
}

int32_t field_index(const cell* word) {
    int32_t axis = axis_of(word);
    if (axis < 1 || axis > 2) error::raise(error::cat_script, error::script_invalid_path, &none_value, word);
    return axis;
}

int32_t number_to_int(const cell* c) {
    if (c->type() == T_integer || c->type() == T_char_) return integer::get(c);
    double d = std::trunc(float_::get(c));
    if (integer::float_overflow(d)) error::raise(error::cat_math, error::math_overflow);
    return static_cast<int32_t>(d);
}

void to_point(uint32_t index) {
    cell* c = stack::arg(index);
    point2D::make_at(c, static_cast<float>(get_x(c)), static_cast<float>(get_y(c)));
}

namespace {

[[noreturn]] void invalid_type(uint8_t type) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

[[noreturn]] void invalid_arg(const cell* value) {
    error::raise(error::cat_script, error::script_invalid_arg, value);
}

// The whole operation again in 32-bit floats, the right operand as the point ([rx], [ry]).
void redo_as_points(int32_t op, float rx, float ry) {
    to_point(0);
    point2D::make_at(stack::arg(1), rx, ry);
    point2D::do_math(op);
}

// Both components by integer! rules, the quotient truncated; an overflow redoes the whole
// operation in floats. Nothing is written before both components are known.
void int_math(int32_t op, int32_t bx, int32_t by) {
    cell* left = stack::arg(0);
    cell rx{}, ry{};
    integer::math_op(op, get_x(left), bx, &rx, true);
    integer::math_op(op, get_y(left), by, &ry, true);
    // With a truncated quotient, a float! result only ever means an overflow.
    if (rx.type() != T_integer || ry.type() != T_integer) {
        return redo_as_points(op, static_cast<float>(bx), static_cast<float>(by));
    }
    left->w2 = rx.w2;
    left->w3 = ry.w2;
}

// A float factor: multiply and divide give the point2D! of the exact products or quotients;
// the other operations use the factor truncated toward zero, and one beyond 32 bits is an
// overflow like any other.
void float_math(int32_t op, const cell* factor) {
    double f = float_::get(factor);
    cell* left = stack::arg(0);
    if (op == MATH_MULTIPLY || op == MATH_DIVIDE) {
        if (op == MATH_MULTIPLY ? !std::isfinite(f) : std::isnan(f)) invalid_arg(factor);
        double x = get_x(left), y = get_y(left);
        double px = op == MATH_MULTIPLY ? x * f : x / f, py = op == MATH_MULTIPLY ? y * f : y / f;
        point2D::make_at(left, static_cast<float>(px), static_cast<float>(py));
        return;
    }
    if (!std::isfinite(f)) invalid_arg(factor);
    double n = std::trunc(f);
    if (integer::float_overflow(n)) return redo_as_points(op, static_cast<float>(f), static_cast<float>(f));
    int_math(op, static_cast<int32_t>(n), static_cast<int32_t>(n));
}

} // namespace

void do_math(int32_t op) {
    const cell* right = stack::arg(1);
    switch (right->type()) {
    case T_integer: return int_math(op, integer::get(right), integer::get(right));
    case T_float_:
    case T_percent: return float_math(op, right);
    case T_pair: return int_math(op, get_x(right), get_y(right));
    case T_point2d:
        to_point(0);
        return point2D::do_math(op);
    default: invalid_type(right->type());
    }
}

cell* negate(cell* value) {
    int32_t x = get_x(value), y = get_y(value);
    if (x == INT32_MIN || y == INT32_MIN) {
        // -(-2147483648) has no 32-bit pair: the exact negation as a point.
        point2D::make_at(value, static_cast<float>(-double(x)), static_cast<float>(-double(y)));
        return value;
    }
    return make_at(value, -x, -y);
}

namespace {

// {== The literal

// One side of a pair: an optional sign, then decimal digits with single "'" between digit
// groups, in 32 bits.
bool read_side(const char* p, const char* end, int32_t& n) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || *p < '0' || *p > '9') return false;
    int64_t v = 0;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (p + 1 == end || p[1] == '\'') return false;
            continue;
        }
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) return false;
    }
    v = negative ? -v : v;
    if (v > INT32_MAX) return false;
    n = static_cast<int32_t>(v);
    return true;
}

// The longest literal that load_literal reads: three coordinates of the longest float text.
constexpr size_t MAX_LITERAL = 1024;

// Copies the ASCII characters of text value [text] from its index into [out], blanks at
// both ends dropped; false when a character is not ASCII or there are more than [cap].
bool copy_ascii(const cell* text, char* out, size_t cap, size_t& n) {
    unicode::text::range r = unicode::text::range_of(text, -1);
    const uint8_t* p = r.start;
    const uint8_t* end = r.end;
    auto blank = [&](const uint8_t* q) {
        uint32_t c = unicode::text::get(q, r.unit);
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    while (p < end && blank(p)) p += r.unit;
    while (end > p && blank(end - r.unit)) end -= r.unit;
    n = static_cast<size_t>(end - p) / r.unit;
    if (n > cap) return false;
    for (size_t i = 0; i < n; i++, p += r.unit) {
        uint32_t c = unicode::text::get(p, r.unit);
        if (c >= 0x80) return false;
        out[i] = static_cast<char>(c);
    }
    return true;
}

// }==

} // namespace

bool load_text(const char* start, const char* end, cell* out) {
    const char* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    int32_t a, b;
    if (x == end || !read_side(start, x, a) || !read_side(x + 1, end, b)) return false;
    make_at(out, a, b);
    return true;
}

bool load_literal(const cell* text, cell* out) {
    char t[MAX_LITERAL];
    size_t n;
    if (!copy_ascii(text, t, sizeof t, n) || n == 0) return false;
    if (t[0] == '(') return point::load_text(t, t + n, out) == 0;
    for (size_t i = 0; i < n; i++) {
        if (t[i] == 'x' || t[i] == 'X') return load_text(t, t + n, out);
    }
    return tuple::load_text(t, t + n, out);
}

// }==
// {== Action entries

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_pair);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// A float component truncated toward zero; one without a 32-bit truncation (NaN and the
// infinities among them) raises invalid-arg with [culprit].
int32_t truncate(double d, const cell* culprit) {
    double t = std::trunc(d);
    if (integer::float_overflow(t)) invalid_arg(culprit);
    return static_cast<int32_t>(t);
}

// An integer! or float! value truncated; [ok] false for another type.
int32_t block_number(const cell* c, bool& ok) {
    ok = c->type() == T_integer || c->type() == T_float_;
    if (!ok) return 0;
    return c->type() == T_integer ? integer::get(c) : truncate(float_::get(c), c);
}

cell from_block(const cell* block) {
    const series_buffer* b = memory::buffer_of(block->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + block->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    bool ok_x = false, ok_y = false;
    int32_t x = 0, y = 0;
    if (end - first >= 2) {
        x = block_number(first, ok_x);
        y = block_number(first + 1, ok_y);
    }
    if (!ok_x || !ok_y) error::raise(error::cat_syntax, error::syntax_malconstruct, block);
    return make_value(x, y);
}

cell* make(cell* proto, cell* spec, uint8_t) {
    cell r;
    switch (spec->type()) {
    case T_block: r = from_block(spec); break;
    case T_string:
        if (!load_literal(spec, &r) || r.type() != T_pair) bad_to_arg(spec);
        break;
    case T_pair: r = make_value(get_x(spec), get_y(spec)); break;
    case T_integer: r = make_value(integer::get(spec), integer::get(spec)); break;
    case T_float_: {
        int32_t n = truncate(float_::get(spec), spec);
        r = make_value(n, n);
        break;
    }
    case T_point2d:
        r = make_value(truncate(point::get(spec, 0), spec), truncate(point::get(spec, 1), spec));
        break;
    default: bad_to_arg(spec);
    }
    *proto = r;
    return proto;
}

cell* random(cell* value, bool seed, bool secure, bool) {
    int32_t x = get_x(value), y = get_y(value);
    if (seed) {
        zyl::random::seed(x ^ y);
        return &(*value = unset_value);
    }
    // in_range leaves 0 as 0 without drawing.
    return make_at(value, zyl::random::in_range(secure, x), zyl::random::in_range(secure, y));
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    char x[12], y[12], text[24];
    std::string_view a = integer::form_text(get_x(value), x), b = integer::form_text(get_y(value), y);
    std::memcpy(text, a.data(), a.size());
    text[a.size()] = 'x';
    std::memcpy(text + a.size() + 1, b.data(), b.size());
    size_t n = a.size() + 1 + b.size();
    string::concatenate_literal(buffer, {text, n});
    return part - static_cast<int32_t>(n);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form(value, buffer, nullptr, part);
}

// The component that path element or pick index [at] names: 1 or 2, else 0.
int32_t component_of(const cell* at) {
    int32_t axis = at->type() == T_integer ? integer::get(at) : axis_of(at);
    return axis == 1 || axis == 2 ? axis : 0;
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    int32_t axis = component_of(element);
    if (axis == 0) {
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, element);
    }
    if (!set) return &(*value = integer::make_value(axis == 1 ? get_x(value) : get_y(value)));
    if (set->type() != T_integer) invalid_type(set->type());
    (axis == 1 ? value->w2 : value->w3) = set->w2;
    // The owner of an object field hears of the change (step.notify) once objects exist.
    // The result of a set is the value set; callers only read it.
    return const_cast<cell*>(set);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() == T_point2d) {
        cell p = point2D::make_value(static_cast<float>(get_x(a)), static_cast<float>(get_y(a)));
        return point2D::compare(&p, b, op);
    }
    if (b->type() != T_pair) return -2;
    // One ordering for every operator: x decides, then y.
    int32_t ax = get_x(a), bx = get_x(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    int32_t ay = get_y(a), by = get_y(b);
    return (ay > by) - (ay < by);
}

void absolute() {
    cell* a = stack::arg(0);
    int32_t x = integer::abs_checked(get_x(a)), y = integer::abs_checked(get_y(a));
    make_at(a, x, y);
}

template <int OP> void arith() { do_math(OP); }

// The refinements of round, passed on to integer!'s round unchanged.
struct round_mode {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};

// [n] rounded by integer!'s round with [scale]; the result, integer! or float!, truncated.
int32_t round_one(int32_t n, const cell* scale, const round_mode& m) {
    cell c = integer::make_value(n);
    datatype::action_as<actions::round_fn>(T_integer, A_round)(&c, scale, m.even, m.down, m.half_down, m.floor, m.ceiling, m.half_ceiling);
    return number_to_int(&c);
}

cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->type() == T_money) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell t = datatype::make_value(T_money);
        error::raise(error::cat_script, error::script_not_related, &call, &t);
    }
    // A pair scale rounds each component by its own scale.
    cell sx, sy;
    const cell* scale_x = scale;
    const cell* scale_y = scale;
    if (scale && scale->type() == T_pair) {
        sx = integer::make_value(get_x(scale));
        sy = integer::make_value(get_y(scale));
        scale_x = &sx;
        scale_y = &sy;
    }
    round_mode m{even, down, half_down, floor, ceiling, half_ceiling};
    int32_t x = round_one(get_x(value), scale_x, m);
    int32_t y = round_one(get_y(value), scale_y, m);
    return make_at(value, x, y);
}

cell* pick(cell* value, int32_t, const cell* at) {
    int32_t axis = component_of(at);
    if (axis == 0) error::raise(error::cat_script, error::script_out_of_range, at);
    return &(*value = integer::make_value(axis == 1 ? get_x(value) : get_y(value)));
}

cell* reverse(cell* value, const cell*, const cell*) { return make_at(value, get_y(value), get_x(value)); }

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
    e[A_and_t - 1] = entry(&arith<MATH_AND>);
    e[A_or_t - 1] = entry(&arith<MATH_OR>);
    e[A_xor_t - 1] = entry(&arith<MATH_XOR>);
    e[A_pick - 1] = entry(&pick);
    e[A_reverse - 1] = entry(&reverse);
    datatype::register_type(ACTION_SLOTS + 3, T_pair, 0, "pair!", e);
}

// }==

} // namespace zyl::pair
