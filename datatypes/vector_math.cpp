// datatypes/vector_math.cpp: vector! arithmetic and bitwise operations: with a scalar, in
// place, one tight loop per element width; with another vector, into a new vector.
//
// Integer elements wrap at their width; a division truncates toward zero. Float elements take
// float!'s arithmetic and are stored back at their precision. The operand order is kept: with
// the scalar first (10 - v) each element becomes scalar op element.
#include <algorithm>
#include <cstring>

#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/vector.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::vector {

// {== Internal functions

namespace {

inline bool is_int_type(uint32_t t) { return t == T_char_ || t == T_integer; }
inline uint32_t width_of(const cell* v) { return memory::buffer_of(v->w2)->unit(); }
inline uint32_t total_of(const cell* v) { return static_cast<uint32_t>(series::length(v->w2)); }
inline uint32_t index_of(const cell* v) { return std::min(v->w1, total_of(v)); }

[[noreturn]] void not_done() { error::raise(error::cat_internal, error::internal_not_done); }

// Integer element arithmetic: 32-bit two's complement, wrapping; division toward zero.
inline int64_t int_op(int64_t a, int64_t b, int32_t op) {
    switch (op) {
    case MATH_ADD: return int32_t(uint32_t(a) + uint32_t(b));
    case MATH_SUBTRACT: return int32_t(uint32_t(a) - uint32_t(b));
    case MATH_MULTIPLY: return int32_t(uint32_t(a) * uint32_t(b));
    case MATH_DIVIDE:
    case MATH_REMAINDER:
        if (b == 0) error::raise(error::cat_math, error::math_zero_divide);
        return op == MATH_DIVIDE ? a / b : a % b;
    case MATH_OR: return a | b;
    case MATH_AND: return a & b;
    default: return a ^ b;
    }
}

// Whether [op] with scalar [n] second leaves every element as it is.
inline bool is_identity(int32_t op, double n) {
    return ((op == MATH_ADD || op == MATH_SUBTRACT) && n == 0) || ((op == MATH_MULTIPLY || op == MATH_DIVIDE) && n == 1);
}

template <typename T> void int_loop(uint8_t* p, uint32_t count, int64_t n, int32_t op, bool scalar_first) {
    T* e = reinterpret_cast<T*>(p); // element buffers are aligned to their width
    for (uint32_t i = 0; i < count; i++) {
        int64_t x = e[i];
        e[i] = static_cast<T>(scalar_first ? int_op(n, x, op) : int_op(x, n, op));
    }
}

template <typename T> void float_loop(uint8_t* p, uint32_t count, double d, int32_t op, bool scalar_first) {
    T* e = reinterpret_cast<T*>(p);
    for (uint32_t i = 0; i < count; i++) {
        double x = e[i];
        e[i] = static_cast<T>(scalar_first ? float_::math_op(d, x, op) : float_::math_op(x, d, op));
    }
}

// [op] on every element of [v] from its index with the scalar [s], in place.
void math_scalar(int32_t op, const cell* v, const cell* s, bool scalar_first) {
    uint8_t st = s->type();
    uint32_t w = width_of(v), from = index_of(v), count = total_of(v) - from;
    uint8_t* p = memory::buffer_of(v->w2)->head + uint64_t(from) * w;
    if (!is_int_type(v->w3)) {
        if (st != T_integer && st != T_float_ && st != T_percent) not_done();
        double d = st == T_integer ? double(integer::get(s)) : float_::get(s);
        if (!scalar_first && is_identity(op, d)) return;
        if (op >= MATH_OR) float_::math_op(0, d, op); // raises cannot-use
        if (w == 4) float_loop<float>(p, count, d, op, scalar_first);
        else float_loop<double>(p, count, d, op, scalar_first);
        return;
    }
    if (st != T_integer && st != T_float_) not_done();
    int64_t n = st == T_integer ? integer::get(s) : static_cast<int64_t>(float_::get(s));
    if (!scalar_first && is_identity(op, double(n))) return;
    bool chars = v->w3 == T_char_;
    switch (w) {
    case 1: return chars ? int_loop<uint8_t>(p, count, n, op, scalar_first) : int_loop<int8_t>(p, count, n, op, scalar_first);
    case 2: return chars ? int_loop<uint16_t>(p, count, n, op, scalar_first) : int_loop<int16_t>(p, count, n, op, scalar_first);
    default: return chars ? int_loop<uint32_t>(p, count, n, op, scalar_first) : int_loop<int32_t>(p, count, n, op, scalar_first);
    }
}

// [op] element by element on [a] and [b], into a new vector of the wider width and the
// shorter length, which replaces [a].
void math_vectors(int32_t op, cell* a, const cell* b) {
    if (a->w3 != b->w3) error::raise(error::cat_script, error::script_not_same_type);
    uint32_t la = total_of(a) - index_of(a), lb = total_of(b) - index_of(b), n = std::min(la, lb);
    uint32_t wa = width_of(a), wb = width_of(b), w = std::max(wa, wb);
    cell r;
    cell* out = stack::push(make_at(&r, n, static_cast<uint8_t>(a->w3), w));
    bool ints = is_int_type(a->w3), chars = a->w3 == T_char_;
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* pa = memory::buffer_of(a->w2)->head + uint64_t(index_of(a) + i) * wa;
        const uint8_t* pb = memory::buffer_of(b->w2)->head + uint64_t(index_of(b) + i) * wb;
        uint8_t* po = memory::buffer_of(out->w2)->head + uint64_t(i) * w;
        if (ints) {
            auto bits = static_cast<uint32_t>(int_op(get_int(pa, wa, chars), get_int(pb, wb, chars), op));
            std::memcpy(po, &bits, w);
        } else {
            double d = float_::math_op(get_float(pa, wa), get_float(pb, wb), op);
            if (w == 4) {
                auto f = static_cast<float>(d);
                std::memcpy(po, &f, 4);
            } else {
                std::memcpy(po, &d, 8);
            }
        }
    }
    memory::buffer_of(out->w2)->tail = memory::buffer_of(out->w2)->head + uint64_t(n) * w;
    *a = *out;
    stack::pop(1);
}

// The math entries: frame cell 0 the vector, cell 1 the other operand; the result in cell 0.
template <int32_t Op> void math() {
    cell* a = stack::arg(0);
    if (a[1].type() == T_vector) return math_vectors(Op, a, a + 1);
    math_scalar(Op, a, a + 1, false);
}

// float_::vector_scalar_math: cell 0 the scalar, cell 1 the vector, changed in place and the
// result.
void scalar_first(int32_t op) {
    cell* a = stack::arg(0);
    math_scalar(op, a + 1, a, true);
    *a = a[1];
}

} // namespace

// }==
// {== Registration

namespace detail {

void math_init() {
    using datatype::entry;
    action_fn* row = &datatype::reg.actions[T_vector * ACTION_ROW];
    row[A_add - 1] = entry(&math<MATH_ADD>);
    row[A_subtract - 1] = entry(&math<MATH_SUBTRACT>);
    row[A_multiply - 1] = entry(&math<MATH_MULTIPLY>);
    row[A_divide - 1] = entry(&math<MATH_DIVIDE>);
    row[A_remainder - 1] = entry(&math<MATH_REMAINDER>);
    row[A_or_t - 1] = entry(&math<MATH_OR>);
    row[A_and_t - 1] = entry(&math<MATH_AND>);
    row[A_xor_t - 1] = entry(&math<MATH_XOR>);
    float_::vector_scalar_math = &scalar_first;
}

} // namespace detail

// }==

} // namespace zyl::vector
