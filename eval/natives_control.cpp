// eval/natives_control.cpp: the conditionals (if, unless, either, any, all, switch, case),
// the non-local exits (break, continue, return, exit, throw, catch, try) and the
// registration of every control native. Loops are in natives_loop.cpp, do, reduce, compose
// and apply in natives_do.cpp.
#include "eval/natives_control.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/control_internal.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives {

using namespace control;

namespace control {

frame_words fw;

void make_frame_words() {
    fw.while_ = word::load("while");
    fw.until = word::load("until");
    fw.loop = word::load("loop");
    fw.repeat = word::load("repeat");
    fw.forever = word::load("forever");
    fw.foreach = word::load("foreach");
    fw.forall = word::load("forall");
    fw.remove_each = word::load("remove-each");
    fw.case_ = word::load("case");
    fw.catch_ = word::load("catch");
    fw.try_ = word::load("try");
    fw.reduce = word::load("reduce");
    fw.compose = word::load("compose");
}

cell* push_walk(const cell* blk) {
    cell* w = stack::push(blk);
    uint32_t total = interp::tail_of(w);
    if (w->w1 > total) w->w1 = total;
    return w;
}

} // namespace control

namespace {

// The block cell [i] of [blk] from its head, copied onto the stack, where evaluation may
// keep it while buffers move.
cell* push_cell_at(const cell* blk, uint32_t i) {
    return stack::push(block::cells_of(blk->w2) + i);
}

// Cells of [blk] from its head to its tail.
uint32_t total_of(const cell* blk) { return series::length(blk->w2); }

} // namespace

// {== Conditionals

void if_(int32_t check) {
    check_arg(check, ts_block, 1);
    if (logic::is_true(stack::arg(0), false)) {
        interp::eval_block(stack::arg(1), true);
        return;
    }
    stack::reset();
    none::set_last();
}

void unless(int32_t check) {
    check_arg(check, ts_block, 1);
    if (!logic::is_true(stack::arg(0), false)) {
        interp::eval_block(stack::arg(1), true);
        return;
    }
    stack::reset();
    none::set_last();
}

void either(int32_t check) {
    check_arg(check, ts_block, 1);
    check_arg(check, ts_block, 2);
    if (es.base->type() == T_unset) error::raise(error::cat_script, error::script_no_return);
    bool taken = logic::is_true(es.base, false);
    interp::eval_block(stack::arg(taken ? 1 : 2), true);
}

void any(int32_t check) {
    check_arg(check, ts_block, 0);
    cell* walk = push_walk(stack::arg(0));
    cell* mark = es.top;
    for (uint32_t idx = walk->w1; idx < total_of(walk);) {
        int64_t next = eval_at(walk, idx, UINT32_MAX, true);
        if (next < 0) return;
        if (logic::is_true(stack::top(), false)) {
            stack::set_last_keep(stack::top());
            return;
        }
        es.top = mark;
        idx = static_cast<uint32_t>(next);
    }
    stack::reset();
    none::set_last();
}

void all(int32_t check) {
    check_arg(check, ts_block, 0);
    cell* walk = push_walk(stack::arg(0));
    cell* mark = es.top;
    if (walk->w1 >= total_of(walk)) {
        stack::reset();
        none::set_last();
        return;
    }
    for (uint32_t idx = walk->w1; idx < total_of(walk);) {
        int64_t next = eval_at(walk, idx, UINT32_MAX, true);
        if (next < 0) return;
        if (!logic::is_true(stack::top(), false)) {
            stack::reset();
            none::set_last();
            return;
        }
        *es.base = *stack::top();
        es.top = mark;
        idx = static_cast<uint32_t>(next);
    }
    stack::keep();
}

// }==
// {== Selection

namespace {

// The index of the first block after the first value of [cases] (from its index) that has
// [value]'s datatype and equals it; -1 when there is none or [value] is a block.
int64_t select_case(const cell* value, const cell* cases) {
    if (value->type() == T_block) return -1; // a block value selects no case
    uint32_t total = total_of(cases);
    for (uint32_t i = cases->w1; i < total; i++) {
        cell c = block::cells_of(cases->w2)[i];
        if (c.type() != value->type() || !block::equal_cells(value, &c, 0)) continue;
        total = total_of(cases); // a comparison runs no language code, but stay safe
        for (uint32_t j = i + 1; j < total; j++) {
            if (block::cells_of(cases->w2)[j].type() == T_block) return j;
        }
        return -1;
    }
    return -1;
}

} // namespace

void switch_(int32_t check, int32_t default_) {
    check_arg(check, ts_block, 1);
    if (default_ >= 0) check_arg(check, ts_block, default_);
    int64_t found = select_case(stack::arg(0), stack::arg(1));
    if (found >= 0) {
        interp::eval_block(push_cell_at(stack::arg(1), static_cast<uint32_t>(found)), true);
        return;
    }
    if (default_ >= 0) {
        interp::eval_block(stack::arg(static_cast<uint32_t>(default_)), true);
        return;
    }
    stack::reset();
    none::set_last();
}

namespace {

// Evaluates the action at [idx] of the case block [walk] into the frame's cell 0: a block is
// evaluated whole, anything else as one expression. Answers the position after it, or -1
// when an exit is pending.
int64_t case_action(const cell* walk, uint32_t idx) {
    if (block::cells_of(walk->w2)[idx].type() != T_block)
        return eval_at(walk, idx, UINT32_MAX, false);
    stack::reset();
    interp::eval_block(push_cell_at(walk, idx), true);
    return pending() ? -1 : int64_t(idx) + 1;
}

} // namespace

void case_(int32_t check, int32_t all) {
    check_arg(check, ts_block, 0);
    cell* walk = push_walk(stack::arg(0));
    stack::mark_native(&fw.case_);
    *stack::push_slot() = none_value; // the frame's result cell
    bool matched = false;             // by the last condition only
    for (uint32_t idx = walk->w1; idx < total_of(walk);) {
        // The condition is pushed and dropped in the case frame: no frame of its own.
        uint32_t next = interp::eval_expression_at(walk, idx, total_of(walk), false, true, false);
        if (pending()) return;
        if (next >= total_of(walk)) {
            error::raise(error::cat_script, error::script_need_value, &fw.case_);
        }
        const cell* condition = es.top - 1;
        if (condition->type() == T_unset) error::raise(error::cat_script, error::script_no_return);
        matched = logic::is_true(condition, false);
        es.top--;
        if (!matched) {
            idx = next + 1; // the action is skipped as one value, whatever it is
            continue;
        }
        int64_t after = case_action(walk, next);
        if (after < 0) return;
        if (all < 0) break;
        idx = static_cast<uint32_t>(after);
        stack::keep();
    }
    if (!matched) none::set_last();
    stack::unwind_last();
}

// }==
// {== Non-local exits

void break_(int32_t, int32_t return_) {
    if (return_ > 0) *es.base = *stack::arg(static_cast<uint32_t>(return_));
    stack::throw_break(return_ >= 0, false);
}

void continue_(int32_t) { stack::throw_break(false, true); }

void return_(int32_t) { stack::throw_return(true, false); }

void exit_(int32_t) { stack::throw_return(false, false); }

void throw_(int32_t check, int32_t name) {
    if (name >= 0) check_arg(check, ts_word, name);
    interp::trace_throw(stack::arg(0));
    // throw_value takes the value from cell 0 and the name from cell 1; unset names nothing.
    cell n = name >= 0 ? *stack::arg(static_cast<uint32_t>(name)) : unset_value;
    es.top = es.base + 1;
    *stack::push_slot() = n;
    stack::throw_value(THROW_THROW);
}

namespace {

// Whether the thrown [name] matches the /name argument [want] of catch: same canonical
// symbol, or, for a block, any of its words. A throw without a word name never matches.
bool name_matches(const cell* want, const cell* name) {
    uint8_t nt = name->type();
    bool named = nt == T_word || nt == T_lit_word || nt == T_get_word || nt == T_set_word;
    uint32_t sym = named ? symbol::resolve(name->w2) : 0;
    if (want->type() != T_block)
        return named && word::any_word_type_q(want->type()) && symbol::resolve(want->w2) == sym;
    uint32_t total = total_of(want);
    for (uint32_t i = std::min(want->w1, total); i < total; i++) {
        const cell* w = block::cells_of(want->w2) + i;
        if (w->type() != T_word) {
            cell blk = *want;
            error::raise(error::cat_script, error::script_invalid_refine_arg, &fw.catch_, &blk);
        }
        if (named && symbol::resolve(w->w2) == sym) return true;
    }
    return false;
}

// Sends a throw that this catch does not take further up: the catch frame goes, and the
// value and name become cells 0 and 1 of the frame below, from where the walk goes on.
void rethrow() {
    cell value = es.base[0];
    cell name = es.base[1];
    es.throw_code = THROW_NONE;
    stack::pop_frame();
    es.base[0] = value;
    es.top = es.base + 1;
    *stack::push_slot() = name;
    stack::throw_value(THROW_THROW);
}

} // namespace

void catch_(int32_t check, int32_t name) {
    check_arg(check, ts_block, 0);
    if (name >= 0) check_arg(check, ts_words, name);
    const cell* blk = stack::arg(0);
    const cell* want = name >= 0 ? stack::arg(static_cast<uint32_t>(name)) : nullptr;
    stack::mark_catch(&fw.catch_);
    // A named catch keeps where its names are, so that a throw it will not take looks past it.
    call_frame* mine = es.ftop - 1;
    if (want) mine->saved_values = static_cast<uint32_t>(name) + 1;
    interp::eval_block(blk, true);
    uint32_t code = es.throw_code;
    if (code == THROW_NONE) {
        stack::unwind_last();
        return;
    }
    // A throw that looked past this catch was cut to a catch further out.
    if (code != THROW_THROW || es.ftop - 1 != mine) return;
    // The stacks are cut to this catch frame: cell 0 the value, cell 1 the name. A bad /name
    // is this catch's error, not the throw's: the throw's frame is not its "where".
    if (want) {
        call_frame* thrower = es.throw_start;
        es.throw_start = nullptr;
        bool taken = name_matches(want, es.base + 1);
        es.throw_start = thrower;
        if (!taken) {
            rethrow();
            return;
        }
    }
    es.throw_code = THROW_NONE;
    es.throw_start = nullptr; // a later error's "where" must not name this throw
    es.top = es.base + 1;
    interp::trace_catch(es.base);
    stack::unwind_last();
}

void try_(int32_t check, int32_t all, int32_t keep) {
    check_arg(check, ts_block, 0);
    const cell* blk = stack::arg(0);
    stack::mark(&fw.try_, all >= 0 ? MARK_TRY_ALL : MARK_TRY);
    try {
        interp::eval_block(blk, true);
    } catch (const error::raised&) {
        // The stacks are cut below the try frame, to this native's frame, with the error
        // pushed last.
        stack::set_last_from_error();
        es.throw_code = THROW_NONE;
        if (keep >= 0) error::fill_stack(es.base); // the frames are still there above the top
        return;
    }
    if (pending()) return; // break, continue, return, exit, throw: not ours
    stack::unwind_last();
}

// }==
// {== Registration

void init_control() {
    make_frame_words();
    auto e = [](auto f) { return reinterpret_cast<entry_fn>(f); };
    set_entry(1, e(&if_));
    set_entry(2, e(&unless));
    set_entry(3, e(&either));
    set_entry(4, e(&any));
    set_entry(5, e(&all));
    set_entry(6, e(&while_));
    set_entry(7, e(&until));
    set_entry(8, e(&loop));
    set_entry(9, e(&repeat));
    set_entry(10, e(&forever));
    set_entry(11, e(&foreach));
    set_entry(12, e(&forall));
    set_entry(13, e(&remove_each));
    set_entry(18, e(&switch_));
    set_entry(19, e(&case_));
    set_entry(20, e(&do_));
    set_entry(35, e(&reduce));
    set_entry(36, e(&compose));
    set_entry(70, e(&try_));
    set_entry(77, e(&break_));
    set_entry(78, e(&continue_));
    set_entry(79, e(&exit_));
    set_entry(80, e(&return_));
    set_entry(81, e(&throw_));
    set_entry(82, e(&catch_));
    set_entry(107, e(&apply));
}

// }==

} // namespace zyl::natives
