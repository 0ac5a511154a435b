// eval/fast_paths.h: comparing, combining and picking values without a full action call.
//
// Loops over integers and blocks spend most of their time in `<`, `+`, `pick`, `next` and
// their kin. Each fast path below does the work inline when the operands are of the common
// datatypes (two integer!, two float!, a block!) and otherwise falls back to the ordinary
// action call: a native frame (type 2) named by [name], the operands pushed as its cells and
// the action's stack entry run on them, so that an error report names the operation. [name]
// is a word cell; null names the fallback frame after the current frame's word.
//
// Op codes. Comparison: 0 equal, 1 not equal, 2 strict equal, 3 lesser, 4 lesser or equal,
// 5 greater, 6 greater or equal (on two integers 0 and 2 are the same). Arithmetic: 0 add,
// 1 subtract, 2 multiply, 5 or~, 6 and~, 7 xor~. Series: 1 length?, 2 index?, 3 head?,
// 4 tail?, 5 next, 6 back, 7 head, 8 tail. Any other code ends the process with run-time
// error 101: it is a fault of the calling code, never of the program it runs.
//
// "Pushed" results are new cells on the evaluation stack (valid until the next pop); the
// integer and block cases touch no frame and allocate nothing.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "eval/stack.h"
#include "runtime/common.h"

namespace zyl::actions {

enum compare_code : int32_t {
    CMP_EQUAL = 0,
    CMP_NOT_EQUAL = 1,
    CMP_STRICT_EQUAL = 2,
    CMP_LESSER = 3,
    CMP_LESSER_OR_EQUAL = 4,
    CMP_GREATER = 5,
    CMP_GREATER_OR_EQUAL = 6,
};

enum series_code : int32_t {
    SOP_LENGTH_Q = 1,
    SOP_INDEX_Q = 2,
    SOP_HEAD_Q = 3,
    SOP_TAIL_Q = 4,
    SOP_NEXT = 5,
    SOP_BACK = 6,
    SOP_HEAD = 7,
    SOP_TAIL = 8,
};

// {== Comparison

// The truth of [a] [op] [b] for two 32-bit integers; an unknown [op] ends the process.
inline bool int_truth(int32_t op, int32_t a, int32_t b) {
    switch (op) {
    case 0: case 2: return a == b;
    case 1: return a != b;
    case 3: return a < b;
    case 4: return a <= b;
    case 5: return a > b;
    case 6: return a >= b;
    default: runtime_error(RT_NO_SWITCH);
    }
}

// compare_here for anything but two integers: the compare action, which may raise
// invalid-compare; an unknown [op] ends the process.
bool finish_compare_here(int32_t op, const cell* a, const cell* b);

// The truth of [a] [op] [b] in the current frame (no frame of its own): two integers inline,
// anything else through the compare action. For natives that already run in the frame an
// error should name.
inline bool compare_here(int32_t op, const cell* a, const cell* b) {
    if (ZYL_LIKELY(a->type() == T_integer && b->type() == T_integer))
        return int_truth(op, static_cast<int32_t>(a->w2), static_cast<int32_t>(b->w2));
    return finish_compare_here(op, a, b);
}

// Pushes the logic! of [a] [op] [b].
cell* fast_compare(int32_t op, const cell* name, const cell* a, const cell* b);
// Pushes the logic! of [a] [op] the integer [n] ([a] on the left).
cell* fast_compare_int(int32_t op, const cell* name, const cell* a, int32_t n);
// The truth of [a] [op] [b], XOR [negate]; pushes nothing.
bool fast_compare_cond(int32_t op, const cell* name, const cell* a, const cell* b, bool negate);
bool fast_compare_int_cond(int32_t op, const cell* name, const cell* a, int32_t n, bool negate);
// The truth of [a] [op] [b]; pushes nothing.
bool fast_compare_truth(int32_t op, const cell* name, const cell* a, const cell* b);
bool fast_compare_int_truth(int32_t op, const cell* name, const cell* a, int32_t n);
// fast_compare_on_stack for anything but two integers.
void finish_compare_on_stack(int32_t op, const cell* name, const cell* b);

// The last pushed cell becomes the logic! of comparing it (on the left) with [b].
ZYL_INLINE void fast_compare_on_stack(int32_t op, const cell* name, const cell* b) {
    cell* a = es.top - 1;
    if (ZYL_LIKELY(a->type() == T_integer && b->type() == T_integer)) {
        bool t = int_truth(op, static_cast<int32_t>(a->w2), static_cast<int32_t>(b->w2));
        *a = cell{T_logic, t ? 1u : 0u, 0, 0};
        return;
    }
    finish_compare_on_stack(op, name, b);
}
// The same with an immediate integer [n].
void fast_compare_int_on_stack(int32_t op, const cell* name, int32_t n);

// }==
// {== Arithmetic

// Pushes [a] [op] [b]. Two integers compute in 32 bits; a sum, difference or product that
// does not fit gives the float! of the same operation in double precision. Two floats with
// op 0-2 give a float!. Anything else runs the action (add, subtract, multiply, or~, and~,
// xor~), which raises as it does.
cell* fast_arith(int32_t op, const cell* name, const cell* a, const cell* b);
cell* fast_arith_int(int32_t op, const cell* name, const cell* a, int32_t n);
// fast_arith_on_stack past its inline case (two integers, add, subtract or multiply, no
// overflow).
void finish_arith_on_stack(int32_t op, const cell* name, const cell* b);

// The last pushed cell becomes itself [op] [b].
ZYL_INLINE void fast_arith_on_stack(int32_t op, const cell* name, const cell* b) {
    cell* a = es.top - 1;
    if (ZYL_LIKELY(a->type() == T_integer && b->type() == T_integer)) {
        int32_t x = static_cast<int32_t>(a->w2), y = static_cast<int32_t>(b->w2), r;
        bool over = true;
        switch (op) {
        case 0: over = __builtin_add_overflow(x, y, &r); break;
        case 1: over = __builtin_sub_overflow(x, y, &r); break;
        case 2: over = __builtin_mul_overflow(x, y, &r); break;
        default: break;
        }
        if (ZYL_LIKELY(!over)) {
            *a = cell{T_integer, 0, static_cast<uint32_t>(r), 0};
            return;
        }
    }
    finish_arith_on_stack(op, name, b);
}
// The same with an immediate integer [n].
void fast_arith_int_on_stack(int32_t op, const cell* name, int32_t n);

// }==
// {== Series

// Pushes the value at 1-based [index] from the position of block [value] (none outside 1 to
// the values left); any other datatype goes through its eval-path entry with [index].
cell* fast_path_pick(const cell* value, int32_t index, const cell* name);
// Pushes the result of series op [op] on [value]; a block! inline, any other datatype
// through the action.
cell* fast_series_op(const cell* value, int32_t op, const cell* name);

// }==

} // namespace zyl::actions
