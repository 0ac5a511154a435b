// eval/fast_paths.cpp: the inline cases of comparison, arithmetic and block stepping, and
// their fallbacks through a named native frame and the action's stack entry.
#include "eval/fast_paths.h"

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "eval/actions.h"
#include "eval/stack.h"

namespace zyl::actions {

namespace {

// {== Internal functions

inline bool is_int(const cell* c) { return c->type() == T_integer; }

// Pushes a native frame named by [name], or by the current frame's word when null.
void mark_named(const cell* name) {
    if (name) return stack::mark_native(name);
    cell w{T_word, 0, es.anon_symbol, 0};
    if (es.ftop > es.fbottom) {
        w.w1 = stack::top_frame()->context;
        w.w2 = stack::top_frame()->symbol;
    }
    stack::mark_native(&w);
}

// Runs the stack entry [entry] on [a] and [b] in a frame named [name]; the result is left
// as the last pushed cell, which is answered.
cell* call_two(void (*entry)(), const cell* name, const cell* a, const cell* b) {
    cell x = *a, y = *b; // [a] or [b] may lie where the frame's cells go
    mark_named(name);
    stack::push(&x);
    stack::push(&y);
    entry();
    stack::unwind();
    return stack::top();
}

template <int32_t OP> void compare_entry() { compare_on_stack(OP); }

void (*const compare_entries[7])() = {
    &compare_entry<0>, &compare_entry<1>, &compare_entry<2>, &compare_entry<3>,
    &compare_entry<4>, &compare_entry<5>, &compare_entry<6>,
};

// The comparison's stack entry for [op]; an unknown [op] ends the process.
auto compare_entry_of(int32_t op) {
    if (op < 0 || op > 6) runtime_error(RT_NO_SWITCH);
    return compare_entries[op];
}

// The fallback comparison: pushes the logic!.
cell* slow_compare(int32_t op, const cell* name, const cell* a, const cell* b) {
    return call_two(compare_entry_of(op), name, a, b);
}

// The truth of a fallback comparison; nothing stays pushed.
bool slow_truth(int32_t op, const cell* name, const cell* a, const cell* b) {
    bool t = logic::get(slow_compare(op, name, a, b)) != 0;
    stack::pop(1);
    return t;
}

// The action stack entry of arithmetic code [op] (0-2, 5-7); others end the process.
void (*arith_entry(int32_t op))() {
    switch (op) {
    case MATH_ADD: return &add;
    case MATH_SUBTRACT: return &subtract;
    case MATH_MULTIPLY: return &multiply;
    case MATH_OR: return &or_t;
    case MATH_AND: return &and_t;
    case MATH_XOR: return &xor_t;
    default: runtime_error(RT_NO_SWITCH);
    }
}

// [a] [op] [b] on two integers into [out]: an integer!, or the float! of the same operation
// in double precision when it would not fit in 32 bits.
void int_arith(int32_t op, int32_t a, int32_t b, cell* out) {
    int32_t r;
    bool over = false;
    switch (op) {
    case MATH_ADD: over = __builtin_add_overflow(a, b, &r); break;
    case MATH_SUBTRACT: over = __builtin_sub_overflow(a, b, &r); break;
    case MATH_MULTIPLY: over = __builtin_mul_overflow(a, b, &r); break;
    case MATH_OR: r = a | b; break;
    case MATH_AND: r = a & b; break;
    case MATH_XOR: r = a ^ b; break;
    default: runtime_error(RT_NO_SWITCH);
    }
    if (ZYL_LIKELY(!over)) {
        *out = integer::make_value(r);
        return;
    }
    double x = a, y = b;
    *out = float_::make_value(op == MATH_ADD ? x + y : op == MATH_SUBTRACT ? x - y : x * y);
}

// Whether [a] [op] [b] has an inline case; when it has, the result goes into [out].
bool quick_arith(int32_t op, const cell* a, const cell* b, cell* out) {
    uint8_t ta = a->type(), tb = b->type();
    if (ta == T_integer && tb == T_integer) {
        int_arith(op, integer::get(a), integer::get(b), out);
        return true;
    }
    if (ta == T_float_ && tb == T_float_ && op >= MATH_ADD && op <= MATH_MULTIPLY) {
        double x = float_::get(a), y = float_::get(b);
        *out = float_::make_value(op == MATH_ADD ? x + y : op == MATH_SUBTRACT ? x - y : x * y);
        return true;
    }
    return false;
}

// The values from the index of block [b] to its tail; negative when the index lies past it.
inline int64_t remaining(const cell* b) {
    series_buffer* buf = memory::buffer_of(b->w2);
    return int64_t(buf->used_bytes() / sizeof(cell)) - int64_t(b->w1);
}

// }==

} // namespace

// {== Comparison

bool finish_compare_here(int32_t op, const cell* a, const cell* b) {
    if (op < 0 || op > 6) runtime_error(RT_NO_SWITCH);
    return compare(a, b, op);
}

cell* fast_compare(int32_t op, const cell* name, const cell* a, const cell* b) {
    if (ZYL_LIKELY(is_int(a) && is_int(b))) return logic::push(int_truth(op, integer::get(a), integer::get(b)));
    return slow_compare(op, name, a, b);
}

cell* fast_compare_int(int32_t op, const cell* name, const cell* a, int32_t n) {
    if (ZYL_LIKELY(is_int(a))) return logic::push(int_truth(op, integer::get(a), n));
    cell b = integer::make_value(n);
    return slow_compare(op, name, a, &b);
}

bool fast_compare_truth(int32_t op, const cell* name, const cell* a, const cell* b) {
    if (ZYL_LIKELY(is_int(a) && is_int(b))) return int_truth(op, integer::get(a), integer::get(b));
    return slow_truth(op, name, a, b);
}

bool fast_compare_int_truth(int32_t op, const cell* name, const cell* a, int32_t n) {
    if (ZYL_LIKELY(is_int(a))) return int_truth(op, integer::get(a), n);
    cell b = integer::make_value(n);
    return slow_truth(op, name, a, &b);
}

bool fast_compare_cond(int32_t op, const cell* name, const cell* a, const cell* b, bool negate) {
    return fast_compare_truth(op, name, a, b) != negate;
}

bool fast_compare_int_cond(int32_t op, const cell* name, const cell* a, int32_t n, bool negate) {
    return fast_compare_int_truth(op, name, a, n) != negate;
}

void finish_compare_on_stack(int32_t op, const cell* name, const cell* b) {
    cell* a = stack::top();
    if (is_int(a) && is_int(b)) {
        *a = logic::make_value(int_truth(op, integer::get(a), integer::get(b)));
        return;
    }
    slow_compare(op, name, a, b);
    stack::move_top_down();
}

void fast_compare_int_on_stack(int32_t op, const cell* name, int32_t n) {
    cell b = integer::make_value(n);
    fast_compare_on_stack(op, name, &b);
}

// }==
// {== Arithmetic

cell* fast_arith(int32_t op, const cell* name, const cell* a, const cell* b) {
    cell r;
    if (ZYL_LIKELY(quick_arith(op, a, b, &r))) return stack::push(&r);
    return call_two(arith_entry(op), name, a, b);
}

cell* fast_arith_int(int32_t op, const cell* name, const cell* a, int32_t n) {
    cell b = integer::make_value(n);
    return fast_arith(op, name, a, &b);
}

void finish_arith_on_stack(int32_t op, const cell* name, const cell* b) {
    cell* a = stack::top();
    if (ZYL_LIKELY(quick_arith(op, a, b, a))) return;
    call_two(arith_entry(op), name, a, b);
    stack::move_top_down();
}

void fast_arith_int_on_stack(int32_t op, const cell* name, int32_t n) {
    cell b = integer::make_value(n);
    fast_arith_on_stack(op, name, &b);
}

// }==
// {== Series

cell* fast_path_pick(const cell* value, int32_t index, const cell* name) {
    if (ZYL_LIKELY(value->type() == T_block)) {
        if (index < 1 || index > remaining(value)) return stack::push(&none_value);
        return stack::push(block::cells_of(value->w2) + value->w1 + (index - 1));
    }
    cell i = integer::make_value(index);
    return call_two([] { eval_path(-1); }, name, value, &i);
}

namespace {

// The action stack entry of series code [op]; others end the process.
void (*series_entry(int32_t op))() {
    switch (op) {
    case SOP_LENGTH_Q: return &length_q;
    case SOP_INDEX_Q: return &index_q;
    case SOP_HEAD_Q: return &head_q;
    case SOP_TAIL_Q: return &tail_q;
    case SOP_NEXT: return &next;
    case SOP_BACK: return &back;
    case SOP_HEAD: return &head;
    case SOP_TAIL: return &tail;
    default: runtime_error(RT_NO_SWITCH);
    }
}

// Series op [op] on block [b] into [out].
void block_op(int32_t op, const cell* b, cell* out) {
    int64_t left = remaining(b);
    *out = *b;
    switch (op) {
    case SOP_LENGTH_Q: *out = integer::make_value(int32_t(left < 0 ? 0 : left)); break;
    case SOP_INDEX_Q: *out = integer::make_value(int32_t(b->w1 + 1)); break;
    case SOP_HEAD_Q: *out = logic::make_value(b->w1 == 0); break;
    case SOP_TAIL_Q: *out = logic::make_value(left < 1); break;
    case SOP_NEXT: out->w1 += left < 1 ? 0 : 1; break;
    case SOP_BACK: out->w1 -= b->w1 == 0 ? 0 : 1; break;
    case SOP_HEAD: out->w1 = 0; break;
    case SOP_TAIL: out->w1 = uint32_t(int64_t(b->w1) + left); break;
    default: runtime_error(RT_NO_SWITCH);
    }
}

} // namespace

cell* fast_series_op(const cell* value, int32_t op, const cell* name) {
    if (ZYL_LIKELY(value->type() == T_block)) {
        cell r;
        block_op(op, value, &r);
        return stack::push(&r);
    }
    auto entry = series_entry(op);
    cell v = *value;
    mark_named(name);
    stack::push(&v);
    entry();
    stack::unwind();
    return stack::top();
}

// }==

} // namespace zyl::actions
