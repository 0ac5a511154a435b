// eval/control_internal.h: what the units of the control natives share: the words that name
// their frames, argument checks, and what a loop does with the exit its body left pending.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/typeset.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives::control {

// Global words naming the frames the control natives push; made by init_control. They hold
// only a symbol and the global context, so they need no marking.
struct frame_words {
    cell while_, until, loop, repeat, forever, foreach, forall, remove_each;
    cell case_, catch_, try_, reduce, compose;
};
extern frame_words fw;
void make_frame_words();

// What a loop does after a body evaluation.
enum pass_end { PASS_ON, PASS_CONTINUE, PASS_BREAK, PASS_LEAVE };

// Reads and clears a pending break or continue (the stacks are then cut to this loop's frame,
// whose cell 0 holds the break value or unset); any other exit is left pending: PASS_LEAVE,
// and the loop returns at once without touching a frame.
inline pass_end after_pass() {
    uint32_t c = es.throw_code;
    if (ZYL_LIKELY(c == THROW_NONE)) return PASS_ON;
    if (c == THROW_CONTINUE) {
        es.throw_code = THROW_NONE;
        return PASS_CONTINUE;
    }
    if (c == THROW_BREAK) {
        es.throw_code = THROW_NONE;
        return PASS_BREAK;
    }
    return PASS_LEAVE;
}

inline bool pending() { return es.throw_code != THROW_NONE; }

// Typesets of the natives' arguments, for calls with the check flag.
inline constexpr cell ts_block = typeset::of({T_block});
inline constexpr cell ts_count = typeset::of({T_integer, T_float_});
inline constexpr cell ts_word = typeset::of({T_word});
inline constexpr cell ts_words = typeset::of({T_word, T_block});
inline constexpr cell ts_any_word_block =
    typeset::of({T_word, T_lit_word, T_set_word, T_get_word, T_block});
inline constexpr cell ts_function = typeset::of({T_function});
inline constexpr cell ts_any_block =
    typeset::of({T_block, T_paren, T_hash, T_path, T_lit_path, T_set_path, T_get_path});
inline constexpr cell ts_series =
    typeset::of({T_block, T_paren, T_hash, T_path, T_lit_path, T_set_path, T_get_path, T_string,
                 T_file, T_url, T_tag, T_email, T_ref, T_binary, T_vector, T_image, T_map});

// With [check], raises expect-arg unless argument [pos] is of a type in [ts].
inline void check_arg(int32_t check, const cell& ts, int32_t pos) {
    if (check) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// Evaluates the expression at position [idx] of [blk] (a stack cell), reading no further than
// [end] (nor its live tail); [push] keeps the value as a new cell, else it becomes the frame's
// cell 0. Answers the position after it, or -1 when an exit is pending.
inline int64_t eval_at(const cell* blk, uint32_t idx, uint32_t end, bool push) {
    uint32_t tail = interp::tail_of(blk);
    uint32_t next = interp::eval_entry_at(blk, idx, end < tail ? end : tail, push);
    return pending() ? -1 : int64_t(next);
}

// Pushes a copy of block [blk] with its index clamped to its tail: a walk's own cell.
cell* push_walk(const cell* blk);

// Evaluates [v] (a stack cell) as one expression: a word gives its value, a function is
// called, a path is evaluated; other values are themselves. The result goes into the current
// frame's cell 0.
void eval_value(const cell* v);

} // namespace zyl::natives::control
