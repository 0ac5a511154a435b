// eval/natives_loop.cpp: the loop natives (while, until, loop, repeat, forever, foreach,
// forall, remove-each) and the loop steps they share with other run-time code. The frame
// protocol is described in eval/natives_control.h.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/control_internal.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/natives_control.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives {

using namespace control;

map_next_fn map_foreach_next = nullptr;
image_next_fn image_foreach_next = nullptr;
image_size_fn image_pixels = nullptr;

namespace {

// Before a loop's condition is checked: when it gave no value, the error that follows names
// the loop from its own frame, so the pass frame goes first.
inline void end_pass_before_error(const call_frame* loop) {
    if (ZYL_UNLIKELY(es.base->type() == T_unset)) interp::end_passes(loop);
}

bool is_loop_word(uint8_t t) {
    return t == T_word || t == T_set_word || t == T_get_word || t == T_lit_word;
}

// Raises expect-arg naming the native [name], the datatype of [value] and the argument
// [arg].
[[noreturn]] void raise_expect(const cell* name, const cell* value, const char* arg) {
    cell type = datatype::make_value(value->type());
    cell a = word::load(arg);
    error::raise(error::cat_script, error::script_expect_arg, name, &type, &a);
}

[[noreturn]] void raise_invalid(const cell* value) {
    cell v = *value;
    error::raise(error::cat_script, error::script_invalid_arg, &v);
}

// The step of foreach and remove-each: the length of a block of words, else 1. An empty
// block, or one word over a map! (which needs a key and a value word), raises invalid-arg.
uint32_t loop_step(const cell* words, const cell* s, const cell* name) {
    if (!series::is_series_type(s->type())) raise_expect(name, s, "series");
    if (words->type() == T_block) {
        uint32_t n = block::rs_length_q(words);
        if (n == 0) raise_invalid(words);
        return n;
    }
    if (!is_loop_word(words->type()) || s->type() == T_map) raise_invalid(words);
    return 1;
}

// Whether [s] has no element left: at its tail, or for an image! at its last pixel.
bool at_end(const cell* s) {
    if (s->type() == T_image && image_pixels) return s->w1 >= image_pixels(s);
    return series::rs_tail_q(s);
}

// Sets [word] (a cell that may lie in a buffer) to [value] (a cell outside any buffer).
void set_word(const cell* word, const cell* value) {
    cell w = *word;
    word::set_value(&w, value);
}

// The types forall walks.
bool is_forall_series(uint8_t t) { return series::is_series_type(t) && t != T_map; }

} // namespace

// {== Loop steps

uint8_t float_cell_to_integer(cell* c) {
    if (c->type() != T_float_) return c->type();
    double d = float_::get(c);
    int32_t n = 0;
    if (std::isnan(d)) {
        n = 0;
    } else if (d >= 2147483647.0) {
        n = INT32_MAX;
    } else if (d <= -2147483648.0) {
        n = INT32_MIN;
    } else {
        n = static_cast<int32_t>(d);
    }
    *c = integer::make_value(n);
    return T_integer;
}

void set_words_from_block(const cell* words, const cell* values, uint32_t count, bool any,
                          bool only, bool some) {
    uint8_t vt = values->type();
    bool spread = !only && (series::is_any_block(vt) || vt == T_map);
    uint32_t first = words->w1;
    count = std::min(count, block::rs_length_q(words));
    uint32_t vfirst = spread ? values->w1 : 0;
    uint32_t vtotal = spread && vt != T_map ? static_cast<uint32_t>(series::length(values->w2)) : 0;
    for (uint32_t i = 0; i < count; i++) {
        const cell* w = block::cells_of(words->w2) + first + i;
        if (!is_loop_word(w->type())) raise_invalid(w);
        if (spread && !any && vt != T_map && vfirst + i < vtotal &&
            block::cells_of(values->w2)[vfirst + i].type() == T_unset) {
            cell name = *w;
            error::raise(error::cat_script, error::script_need_value, &name);
        }
    }
    for (uint32_t i = 0; i < count; i++) {
        cell v = *values;
        if (spread && vt == T_map) {
            cell index = integer::make_value(static_cast<int32_t>(i + 1));
            v = *actions::pick_typed(&v, &index);
        } else if (spread) {
            vtotal = static_cast<uint32_t>(series::length(values->w2)); // a hook may change it
            v = vfirst + i < vtotal ? block::cells_of(values->w2)[vfirst + i] : none_value;
        }
        if (some && v.type() == T_none) continue;
        set_word(block::cells_of(words->w2) + first + i, &v);
        if (pending()) return;
    }
}

bool foreach_next(cell* s, const cell* words, uint32_t n) {
    if (n < 1) return false;
    uint8_t t = s->type();
    if (t == T_map) {
        if (n != 2) raise_invalid(words);
        if (!map_foreach_next) not_yet_available("foreach");
        return map_foreach_next(s, words);
    }
    if (t == T_image) {
        if (!image_foreach_next) not_yet_available("foreach");
        return image_foreach_next(s, words, n);
    }
    if (series::rs_tail_q(s)) return false;
    if (series::is_any_block(t)) {
        set_words_from_block(words, s, n, true, false, false);
    } else {
        uint32_t first = s->w1;
        uint32_t count = std::min(n, block::rs_length_q(words)); // the body may shorten the words
        for (uint32_t i = 0; i < count; i++) {
            const cell* w = block::cells_of(words->w2) + words->w1 + i;
            if (!is_loop_word(w->type())) raise_invalid(w);
        }
        for (uint32_t i = 0; i < count && !pending(); i++) {
            cell v = none_value;
            if (first + i < series::rs_abs_length_q(s)) series::element_at(s, first + i, &v);
            set_word(block::cells_of(words->w2) + words->w1 + i, &v);
        }
    }
    s->w1 += n;
    return true;
}

bool foreach_next_block(cell* s, const cell* word) {
    if (s->type() == T_image) {
        if (!image_foreach_next) not_yet_available("foreach");
        return image_foreach_next(s, word, 1);
    }
    if (series::rs_tail_q(s)) return false;
    cell v;
    if (s->type() == T_block) {
        v = block::cells_of(s->w2)[s->w1];
    } else {
        series::element_at(s, s->w1, &v);
    }
    s->w1++;
    set_word(word, &v);
    return true;
}

void remove_each_step(cell* s, uint32_t n, const cell* result) {
    if (!logic::is_true(result, false)) return;
    s->w1 = s->w1 >= n ? s->w1 - n : 0;
    cell part = integer::make_value(static_cast<int32_t>(n));
    cell* r = actions::remove_typed(s, n > 1 ? &part : nullptr, nullptr);
    s->w1 = r->w1;
}

void forall_start(const cell* word, const cell* s) { set_word(word, s); }

bool forall_next(const cell* word, bool advance) {
    cell* v = word::get_value(word);
    if (advance) v->w1++;
    return at_end(v);
}

void forall_end(const cell* word, cell* s) { s->w1 = word::get_value(word)->w1; }

int32_t repeat_next(const cell* word) {
    cell* v = word::get_value(word);
    v->w2++;
    return integer::get(v);
}

// }==
// {== Loops

void while_(int32_t check) {
    check_arg(check, ts_block, 0);
    check_arg(check, ts_block, 1);
    const cell* cond = stack::arg(0);
    const cell* body = stack::arg(1);
    stack::mark_loop(&fw.while_);
    const call_frame* frame = stack::top_frame();
    for (;;) {
        interp::run_pass(frame, cond);
        if (ZYL_UNLIKELY(pending())) {
            if (es.throw_code != THROW_BREAK && es.throw_code != THROW_CONTINUE) return;
            es.throw_code = THROW_NONE;
            error::raise(error::cat_throw, error::throw_while_cond);
        }
        end_pass_before_error(frame);
        if (!logic::check_condition()) break;
        interp::run_pass(frame, body);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
        }
    }
    interp::end_passes(frame);
    stack::unwind();
    stack::set_last_keep(&unset_value); // a break value is dropped too
}

void until(int32_t check) {
    check_arg(check, ts_block, 0);
    const cell* body = stack::arg(0);
    stack::mark_loop(&fw.until);
    const call_frame* frame = stack::top_frame();
    for (;;) {
        interp::run_pass(frame, body);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
            continue; // the condition is not tested after continue
        }
        end_pass_before_error(frame);
        if (logic::check_condition()) break;
    }
    interp::end_passes(frame);
    stack::unwind_last();
}

void loop(int32_t check) {
    check_arg(check, ts_count, 0);
    check_arg(check, ts_block, 1);
    loop_count_to_integer();
    int32_t n = integer::get(stack::arg(0));
    const cell* body = stack::arg(1);
    if (n < 1) {
        stack::set_last_keep(&none_value);
        return;
    }
    stack::mark_loop(&fw.loop);
    const call_frame* frame = stack::top_frame();
    for (int32_t i = 0; i < n; i++) {
        interp::run_pass(frame, body);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
        }
    }
    interp::end_passes(frame);
    stack::unwind_last();
}

void repeat(int32_t check) {
    check_arg(check, ts_word, 0);
    check_arg(check, ts_count, 1);
    check_arg(check, ts_block, 2);
    cell* word = stack::arg(0);
    cell* counter = stack::arg(1);
    const cell* body = stack::arg(2);
    if (!is_loop_word(word->type())) raise_expect(&fw.repeat, word, "word");
    float_cell_to_integer(counter);
    int32_t n = integer::get(counter);
    if (n < 1) {
        stack::set_last_keep(&none_value);
        return;
    }
    *counter = integer::make_value(1);
    stack::mark_loop(&fw.repeat);
    const call_frame* frame = stack::top_frame();
    for (int32_t left = n; left > 0; left--) {
        if (cell* slot = context::plain_set_slot(word, word->w1)) {
            *slot = *counter;
        } else { // a hook may run: it sees the loop frame on top, as before any pass
            interp::end_passes(frame);
            stack::reset();
            word::set_value(word, counter);
        }
        if (ZYL_LIKELY(!pending())) interp::run_pass(frame, body);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
        }
        counter->w2++; // wraps past the last pass only, when n is the largest integer
    }
    interp::end_passes(frame);
    stack::unwind_last();
}

void forever(int32_t check) {
    check_arg(check, ts_block, 0);
    const cell* body = stack::arg(0);
    stack::mark_loop(&fw.forever);
    for (;;) {
        interp::eval_block(body, false);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
            continue;
        }
        stack::pop(1);
    }
    stack::unwind_last();
}

namespace {

// The walk of foreach and remove-each over the loop cells pushed below the loop frame: takes
// the next elements; answers false at the end, or when a word's hook left an exit pending
// (then [leave] says whether the native must return at once).
bool next_step(cell* walked, const cell* words, uint32_t n, bool& leave) {
    leave = false;
    for (;;) {
        bool took = words->type() == T_block ? foreach_next(walked, words, n)
                                             : foreach_next_block(walked, words);
        if (ZYL_LIKELY(!pending())) return took;
        pass_end p = after_pass();
        if (p == PASS_CONTINUE && took) continue; // that pass is skipped
        leave = p == PASS_LEAVE;
        return false;
    }
}

// The step of foreach for one word over a block when the word's slot takes the next element at
// once (no hook can run): sets it and answers true; false when the general step must do it.
bool next_plain_element(cell* walked, const cell* word) {
    if (word->type() == T_block || walked->type() != T_block || walked->w1 >= interp::tail_of(walked))
        return false;
    cell* slot = context::plain_set_slot(word, word->w1);
    if (!slot) return false;
    *slot = block::cells_of(walked->w2)[walked->w1++];
    return true;
}

} // namespace

void foreach (int32_t check) {
    check_arg(check, ts_any_word_block, 0);
    check_arg(check, ts_series, 1);
    check_arg(check, ts_block, 2);
    const cell* body = stack::arg(2);
    uint32_t n = loop_step(stack::arg(0), stack::arg(1), &fw.foreach);
    cell* walked = stack::push(stack::arg(1));
    cell* words = stack::push(stack::arg(0));
    stack::mark_loop(&fw.foreach);
    const call_frame* frame = stack::top_frame();
    *stack::push_slot() = unset_value;
    bool leave = false;
    for (;;) {
        if (!next_plain_element(walked, words)) {
            // the general step may run a change hook: it sees the loop frame on top
            interp::end_passes(frame);
            if (!next_step(walked, words, n, leave)) break;
        }
        interp::run_pass(frame, body);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
        }
    }
    if (leave) return;
    interp::end_passes(frame);
    stack::unwind_last();
}

void remove_each(int32_t check) {
    check_arg(check, ts_any_word_block, 0);
    check_arg(check, ts_series, 1);
    check_arg(check, ts_block, 2);
    const cell* data = stack::arg(1);
    const cell* body = stack::arg(2);
    uint32_t n = loop_step(stack::arg(0), data, &fw.remove_each);
    integer::push(static_cast<int32_t>(n));
    cell* walked = stack::push(data);
    cell* words = stack::push(stack::arg(0));
    stack::mark_loop(&fw.remove_each);
    *stack::push_slot() = unset_value;
    bool leave = false;
    while (next_step(walked, words, n, leave)) {
        stack::reset();
        interp::eval_block(body, true);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) break;
            continue; // nothing is removed after continue
        }
        remove_each_step(walked, n, es.base);
    }
    if (leave) return;
    *es.base = *data;
    stack::unwind_last();
}

void forall(int32_t check) {
    check_arg(check, ts_word, 0);
    check_arg(check, ts_block, 1);
    const cell* word = stack::arg(0);
    const cell* body = stack::arg(1);
    if (!is_loop_word(word->type())) raise_expect(&fw.forall, word, "word");
    cell start = *word::get_value(word);
    if (!is_forall_series(start.type())) raise_expect(&fw.forall, &start, "word");
    cell* saved = stack::push(&start);
    cell* w = stack::push(word);
    stack::mark_loop(&fw.forall);
    *stack::push_slot() = unset_value;
    for (bool done = at_end(saved); !done;) {
        stack::reset();
        interp::eval_block(body, true);
        if (ZYL_UNLIKELY(pending())) {
            pass_end p = after_pass();
            if (p == PASS_LEAVE) return;
            if (p == PASS_BREAK) {
                stack::unwind_last(); // the word stays where the break left it
                return;
            }
        }
        cell* v = word::get_value(w);
        if (!is_forall_series(v->type()) || v->w2 != saved->w2) {
            cell bad = *v;
            error::raise(error::cat_script, error::script_bad_loop_series, &bad);
        }
        v->w1++;
        done = at_end(v);
    }
    word::set_value(w, saved);
    if (ZYL_UNLIKELY(pending()) && after_pass() == PASS_LEAVE) return;
    stack::unwind_last();
}

// }==

} // namespace zyl::natives
