// eval/natives_compare.cpp: the comparison natives (equal? ... greater-or-equal?, same?, not)
// and max and min, which work element by element on pairs, points and tuples.
#include <algorithm>
#include <cmath>
#include <utility>

#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/fast_paths.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives {

namespace {

// {== Internal functions

constexpr cell any_type = typeset::standard::any_type;
constexpr cell max_min_types = typeset::unite(
    typeset::unite(typeset::standard::scalar, typeset::standard::any_string),
    typeset::unite(typeset::standard::any_block, typeset::of({T_binary})));

inline void check(int32_t flag, const cell& ts, int32_t pos) {
    if (flag) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

inline void result(bool b) {
    cell r = logic::make_value(b);
    stack::set_last_keep(&r);
}

inline bool is_series_type(uint8_t t) {
    switch (t) {
    case T_block: case T_paren: case T_hash: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref: case T_binary:
    case T_vector: case T_image:
        return true;
    default: return false;
    }
}

// Whether [a] and [b] are the same value: same datatype, and then the payload words that
// make the identity of that datatype (a series: its buffer and index).
bool same_values(const cell* a, const cell* b) {
    uint8_t t = a->type();
    if (t != b->type()) return false;
    if (is_series_type(t)) return a->w2 == b->w2 && a->w1 == b->w1;
    switch (t) {
    case T_datatype: case T_logic: case T_object: return a->w1 == b->w1;
    case T_char_: case T_integer: case T_bitset: return a->w2 == b->w2;
    case T_float_: case T_percent: case T_pair: case T_time: return a->w2 == b->w2 && a->w3 == b->w3;
    case T_tuple: return tuple::count_of(a) == tuple::count_of(b) && actions::compare_typed(a, b, 0) == 0;
    case T_money: return actions::compare_typed(a, b, 0) == 0;
    case T_none: case T_unset: return true;
    case T_action: case T_native: case T_point2d: return a->w1 == b->w1 && a->w2 == b->w2;
    case T_op: return a->w2 == b->w2 && a->w3 == b->w3;
    default: return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

inline bool is_nan_number(const cell* c) {
    return (c->type() == T_float_ || c->type() == T_percent) && std::isnan(float_::get(c));
}
inline bool is_number(uint8_t t) { return t == T_integer || t == T_float_ || t == T_percent; }
inline bool is_int_or_float(uint8_t t) { return t == T_integer || t == T_float_; }
inline bool is_composite(uint8_t t) { return t == T_pair || t == T_point2d || t == T_point3d || t == T_tuple; }

// The winner of [x] against [y]: the greater with [greater], else the lesser; a NaN wins.
inline double pick_double(double x, double y, bool greater) {
    if (std::isnan(x)) return x;
    if (std::isnan(y)) return y;
    return greater ? std::max(x, y) : std::min(x, y);
}

// max or min of point (point2D! or point3D!) cell 0 against cell 1, coordinate by coordinate;
// false when cell 1 is of no kind that works so.
bool max_min_point(bool greater) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    int n = a->type() == T_point3d ? 3 : 2;
    if (b->type() == T_pair && n == 2) pair::to_point(1);
    if (is_int_or_float(b->type())) {
        double d = float_::number_of(b);
        for (int i = 0; i < n; i++) point::set(a, i, float(pick_double(point::get(a, i), d, greater)));
        return true;
    }
    if (b->type() != a->type()) return false;
    for (int i = 0; i < n; i++) point::set(a, i, float(pick_double(point::get(a, i), point::get(b, i), greater)));
    return true;
}

// max or min of pair cell 0 against cell 1; false when cell 1 is of no kind that works so.
bool max_min_pair(bool greater) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    auto pick = [greater](int32_t x, int32_t y) { return greater ? std::max(x, y) : std::min(x, y); };
    switch (b->type()) {
    case T_float_:
        if (integer::float_overflow(float_::get(b))) { // no integer to hold it: work in floats
            pair::to_point(0);
            return max_min_point(greater);
        }
        [[fallthrough]];
    case T_integer: {
        int32_t n = b->type() == T_integer ? integer::get(b) : int32_t(float_::get(b));
        *a = pair::make_value(pick(pair::get_x(a), n), pick(pair::get_y(a), n));
        return true;
    }
    case T_pair:
        *a = pair::make_value(pick(pair::get_x(a), pair::get_x(b)), pick(pair::get_y(a), pair::get_y(b)));
        return true;
    case T_point2d:
        pair::to_point(0);
        return max_min_point(greater);
    default: return false;
    }
}

// The byte that element [e] becomes against the number [d], kept within 0 to 255.
inline uint8_t tuple_element(uint8_t e, double d, bool greater) {
    double r = greater ? (d > e ? d : e) : (d < e ? d : e);
    return r <= 0 ? 0 : r >= 255 ? 255 : uint8_t(r);
}

// max or min of tuple cell 0 against cell 1, element by element; false when cell 1 is of
// no kind that works so.
bool max_min_tuple(bool greater) {
    cell* a = stack::arg(0);
    const cell* b = stack::arg(1);
    uint8_t* e = tuple::bytes_of(a);
    uint32_t n = tuple::count_of(a);
    if (is_int_or_float(b->type())) {
        double d = float_::number_of(b);
        for (uint32_t i = 0; i < n; i++) e[i] = tuple_element(e[i], d, greater);
        return true;
    }
    if (b->type() != T_tuple) return false;
    // A missing element counts as 0, as comparison reads it; the longer count stays.
    n = std::max(n, tuple::count_of(b));
    for (uint32_t i = 0; i < n; i++) e[i] = tuple_element(e[i], tuple::bytes_of(b)[i], greater);
    a->header = (a->header & ~TUPLE_COUNT_MASK) | (n << TUPLE_COUNT_SHIFT);
    return true;
}

// max ([greater]) or min of cells 0 and 1; the result replaces cell 0.
void max_min_core(bool greater) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    // 1. A NaN beats any number.
    if (is_nan_number(a) && is_number(b->type())) return;
    if (is_nan_number(b) && is_number(a->type())) {
        *a = *b;
        return;
    }
    // 2. The composite value goes first.
    if (is_composite(b->type()) && is_int_or_float(a->type())) std::swap(*a, *b);
    // 3-4. Composites element by element.
    bool done = false;
    switch (a->type()) {
    case T_pair: done = max_min_pair(greater); break;
    case T_point2d: case T_point3d: done = max_min_point(greater); break;
    case T_tuple: done = max_min_tuple(greater); break;
    default: break;
    }
    if (done) return;
    // 5. The compare action decides; value1 wins a tie.
    if (!actions::compare(a, b, greater ? actions::CMP_GREATER_OR_EQUAL : actions::CMP_LESSER_OR_EQUAL)) *a = *b;
}

// }==
// {== Natives

template <int32_t OP> void compare_native(int32_t chk) {
    check(chk, any_type, 0);
    check(chk, any_type, 1);
    result(actions::compare_here(OP, stack::arg(0), stack::arg(1)));
}

void same_q(int32_t chk) {
    check(chk, any_type, 0);
    check(chk, any_type, 1);
    result(same_values(stack::arg(0), stack::arg(1)));
}

void not_(int32_t chk) {
    check(chk, any_type, 0);
    uint8_t t = stack::arg(0)->type();
    result(t == T_none || (t == T_logic && stack::arg(0)->w1 == 0));
}

void max_(int32_t chk) {
    check(chk, max_min_types, 0);
    check(chk, max_min_types, 1);
    max_min_core(true);
    stack::keep();
}

void min_(int32_t chk) {
    check(chk, max_min_types, 0);
    check(chk, max_min_types, 1);
    max_min_core(false);
    stack::keep();
}

// }==

} // namespace

// {== Registration

void init_compare() {
    set_entry(25, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_EQUAL>));
    set_entry(26, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_NOT_EQUAL>));
    set_entry(27, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_STRICT_EQUAL>));
    set_entry(28, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_LESSER>));
    set_entry(29, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_GREATER>));
    set_entry(30, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_LESSER_OR_EQUAL>));
    set_entry(31, reinterpret_cast<entry_fn>(&compare_native<actions::CMP_GREATER_OR_EQUAL>));
    set_entry(32, reinterpret_cast<entry_fn>(&same_q));
    set_entry(33, reinterpret_cast<entry_fn>(&not_));
    set_entry(51, reinterpret_cast<entry_fn>(&max_));
    set_entry(52, reinterpret_cast<entry_fn>(&min_));
}

// }==

} // namespace zyl::natives
