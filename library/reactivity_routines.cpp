// library/reactivity_routines.cpp: system/reactivity/check, the walk that every field set of
// a reactor makes. It reads the fields of system/reactivity as its Zyl sources would, at each
// use, and runs reactions through that context's eval-reaction; only the table and queue
// work is done here.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/fast_paths.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "library/routines.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"

namespace zyl::routines {

namespace {

// {== Internal functions

enum field_name { F_RELATIONS, F_QUEUE, F_EVAL_REACTION, F_EVAL, F_COUNT };
constexpr const char* FIELD_NAMES[F_COUNT] = {"relations", "queue", "eval-reaction", "eval"};

uint32_t system_symbol, reactivity_symbol, safe_symbol, field_symbols[F_COUNT];
// Field positions found before, trusted only while the word there still names the field.
int32_t reactivity_slot = -1, field_slots[F_COUNT] = {-1, -1, -1, -1};

// The position of field [symbol] in [ctx], through the remembered [slot], or -1.
int32_t slot_of(node_id ctx, uint32_t symbol, int32_t& slot) {
    if (slot >= 0 && uint32_t(slot) < context::word_count(ctx) &&
        context::word_at(ctx, uint32_t(slot))->w2 == symbol)
        return slot;
    return slot = context::find_word(ctx, symbol, true);
}

// The context of system/reactivity, or 0 when there is none.
node_id reactivity_context() {
    if (!system_symbol) {
        system_symbol = symbol::make("system");
        reactivity_symbol = symbol::make("reactivity");
        safe_symbol = symbol::make("safe");
        for (int i = 0; i < F_COUNT; i++) field_symbols[i] = symbol::make(FIELD_NAMES[i]);
    }
    const cell* sys = context::global_value(system_symbol);
    if (!sys || !object::is_object_type(sys->type())) return 0;
    node_id s = object::context_of(sys);
    int32_t i = slot_of(s, reactivity_symbol, reactivity_slot);
    if (i < 0) return 0;
    const cell* r = context::value_at(s, uint32_t(i));
    return object::is_object_type(r->type()) ? object::context_of(r) : 0;
}

// The current value of field [f] of the reactivity context [ctx] (none when it is missing).
cell field_value(node_id ctx, field_name f) {
    int32_t i = slot_of(ctx, field_symbols[f], field_slots[f]);
    return i < 0 ? none_value : *context::value_at(ctx, uint32_t(i));
}

// Field [f] of [ctx] as the block that native [user] of the Zyl sources would take: the
// expect-arg error that native raises for anything else (a script that replaced the table or
// the queue).
cell block_field(node_id ctx, field_name f, const char* user) {
    cell v = field_value(ctx, f);
    if (series::is_any_block(v.type())) return v;
    cell call = word::make_value(T_word, 0, symbol::make(user), 0);
    cell type = datatype::make_value(v.type());
    cell name = word::make_value(T_word, 0, symbol::make("series"), 0);
    error::raise(error::cat_script, error::script_expect_arg, &call, &type, &name);
}

inline uint32_t total_of(node_id n) { return static_cast<uint32_t>(series::length(n)); }

// The cell at [n] past the index [at] of block [blk], or none past its tail (as pick).
cell pick_at(const cell& blk, uint32_t at, uint32_t n) {
    uint32_t total = total_of(blk.w2);
    return at + n < total ? block::cells_of(blk.w2)[at + n] : none_value;
}

// The absolute position of the first record of [blk], from its index on, whose first value
// is [reactor] itself (find/same/skip 4), or -1.
int64_t find_record(const cell& blk, const cell& reactor) {
    if (!series::is_any_block(blk.type())) return -1;
    cell b = blk, r = reactor, skip = integer::make_value(4);
    block::detail::hit h =
        block::detail::locate(&b, &r, nullptr, false, false, true, &skip, false, false, false);
    return h.found ? int64_t(h.pos) : -1;
}

// Whether reactions [a] and [b] are the same value.
bool same_reaction(const cell& a, const cell& b) {
    uint8_t t = a.type();
    if (t != b.type()) return false;
    if (series::is_any_block(t)) return a.w1 == b.w1 && a.w2 == b.w2;
    if (t == T_function || t == T_routine) return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    return block::equal_cells(&a, &b, 9);
}

// Whether the queue holds a record of [reactor] and [reaction] (pending?).
bool pending(node_id ctx, const cell& reactor, const cell& reaction) {
    cell q = block_field(ctx, F_QUEUE, "find");
    for (int64_t p; (p = find_record(q, reactor)) >= 0;) {
        if (same_reaction(pick_at(q, uint32_t(p), 1), reaction)) return true;
        q.w1 = std::min(uint32_t(p) + 4, total_of(q.w2));
    }
    return false;
}

// Appends the queue record [reactor] [reaction] [target] [done] at the tail of [queue].
void queue_record(const cell& queue, const cell& reactor, const cell& reaction, const cell& target,
                  bool done) {
    cell record[4] = {reactor, reaction, target, logic::make_value(done)};
    for (const cell& v : record) block::append_value(&queue, &v);
}

// Calls the context's eval-reaction with the record's three values; false when a non-local
// exit is pending.
bool eval_reaction(node_id ctx, const cell& reactor, const cell& reaction, const cell& target) {
    cell* saved = es.top;
    cell fn = field_value(ctx, F_EVAL_REACTION);
    cell args[3] = {reactor, reaction, target};
    if (!interp::call_with(&fn, args, 3)) return false;
    es.top = saved;
    return true;
}

// What eval-reaction does with a block reaction and no set-word target, one call shorter:
// eval/safe of the block, its frame laid out as a call with /safe makes it (the code, the
// refinement, then /local and its words). Falls back to eval-reaction unless eval is a
// function whose second word is safe.
bool run_reaction(node_id ctx, const cell& reactor, const cell& reaction, const cell& target) {
    if (reactor.type() != T_object || reaction.type() != T_block || target.type() == T_set_word)
        return eval_reaction(ctx, reactor, reaction, target);
    int32_t i = slot_of(ctx, field_symbols[F_EVAL], field_slots[F_EVAL]);
    cell fn = i < 0 ? none_value : *context::value_at(ctx, uint32_t(i));
    if (fn.type() != T_function || context::word_count(fn.w1) < 3 ||
        context::word_at(fn.w1, 1)->w2 != safe_symbol)
        return eval_reaction(ctx, reactor, reaction, target);
    native_stack::check();
    cell name = *context::word_at(ctx, uint32_t(i));
    name.header = T_word;
    cell* saved = es.top;
    stack::push(&fn); // keeps eval alive while it runs, whatever the reaction assigns
    stack::mark_func_context(&name, fn.w1);
    stack::push(&reaction);
    stack::push(&true_value);
    stack::push(&false_value);
    for (uint32_t k = 3, slots = context::word_count(fn.w1); k < slots; k++) stack::push(&none_value);
    interp::exec_function(&fn, ctx, &name);
    if (es.throw_code != THROW_NONE) return false;
    stack::unwind_func();
    es.top = saved;
    return true;
}

// Runs the queue from its tail, newest first, until the record at its head is done: a
// record that queued others is marked done and waits for them. The record's position stays
// on the stack: a reaction may replace the queue it is drained from.
bool drain(node_id ctx) {
    cell* q = stack::push(&none_value);
    for (;;) {
        *q = block_field(ctx, F_QUEUE, "tail");
        uint32_t size = block::rs_length_q(q);
        uint32_t total = total_of(q->w2);
        q->w1 = total < 4 ? 0 : total - 4;
        cell done = pick_at(*q, q->w1, 3);
        if (logic::is_true(&done, false)) {
            block::rs_clear(q);
        } else {
            if (!run_reaction(ctx, pick_at(*q, q->w1, 0), pick_at(*q, q->w1, 1), pick_at(*q, q->w1, 2)))
                return false;
            cell now = block_field(ctx, F_QUEUE, "length?");
            if (size == block::rs_length_q(&now)) {
                block::rs_clear(q);
            } else if (q->w1 + 3 < total_of(q->w2)) {
                block::cells_of(q->w2)[q->w1 + 3] = true_value;
            }
        }
        if (q->w1 == 0) break;
    }
    es.top = q;
    return true;
}

// }==

} // namespace

void reactivity_check() {
    cell reactor = *stack::arg(0);
    bool only = logic::is_true(stack::arg(1), false);
    cell field = *stack::arg(2);
    *stack::arg(0) = unset_value;
    node_id ctx = reactivity_context();
    if (!ctx) return;
    // The reactor and the walk's position stay on the stack: a reaction may drop the reactor
    // from the table and the queue, or replace the table it walks.
    stack::push(&reactor);
    cell* pos = stack::push(&none_value);
    *pos = field_value(ctx, F_RELATIONS);
    if (!series::is_series_type(pos->type())) *pos = block_field(ctx, F_RELATIONS, "tail?");
    cell* saved = es.top;
    for (int64_t p; (p = find_record(*pos, reactor)) >= 0;) {
        pos->w1 = uint32_t(p);
        cell reaction = pick_at(*pos, pos->w1, 2);
        cell watched = pick_at(*pos, pos->w1, 1);
        bool act = (!only || actions::compare_here(actions::CMP_EQUAL, &watched, &field)) &&
                   logic::is_true(&reaction, false);
        if (act) {
            cell target = pick_at(*pos, pos->w1, 3);
            cell queue = block_field(ctx, F_QUEUE, "append");
            if (block::rs_tail_q(&queue)) {
                // Nothing runs: run this reaction now (marked as running), then what it
                // queued, newest first. Errors stop in eval/safe; a halt empties the queue.
                queue_record(queue, reactor, reaction, target, true);
                if (!run_reaction(ctx, reactor, reaction, target)) return;
                cell now = block_field(ctx, F_QUEUE, "length?");
                cell next = pick_at(now, now.w1, 4);
                if (logic::is_true(&next, false) && !drain(ctx)) return;
                now = block_field(ctx, F_QUEUE, "clear");
                block::rs_clear(&now);
            } else if (!pending(ctx, reactor, reaction)) {
                queue_record(queue, reactor, reaction, target, false);
            }
        }
        es.top = saved;
        uint32_t total = total_of(pos->w2);
        if (pos->w1 + 4 >= total) break;
        pos->w1 += 4;
    }
    es.top = pos - 1;
}

} // namespace zyl::routines
