// library/system_routines.cpp: the routines that reach the run-time itself: quit-return, the
// quiet setters, the shifts, the colour and address tuples, count-chars, the stack and
// tracer probes, the collector's counters, the maker of system/words, the build's repository record.
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "eval/stack_trace.h"
#include "library/build_git.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/terminal.h"

namespace zyl::routines {

namespace {

// {== Internal functions

void result_integer(int32_t n) {
    cell r = integer::make_value(n);
    *stack::arg(0) = r;
}

void result_logic(bool b) {
    cell r = logic::make_value(b);
    *stack::arg(0) = r;
}

// Raises expect-arg naming the running routine, [value]'s datatype and the argument [name].
[[noreturn]] void wrong_arg(const cell* value, const char* name) {
    cell call = stack::get_call();
    cell type = datatype::make_value(value->type());
    cell arg = word::load(name);
    error::raise(error::cat_script, error::script_expect_arg, &call, &type, &arg);
}

// The shift of the 32-bit [data] by [bits]: left, or right arithmetic or logical.
int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    uint32_t n = bits < 0 ? 0 : uint32_t(bits);
    if (left) return n < 32 ? int32_t(uint32_t(data) << n) : 0;
    if (logical) return n < 32 ? int32_t(uint32_t(data) >> n) : 0;
    return n < 32 ? data >> n : (data < 0 ? -1 : 0);
}

// Raises invalid-arg with the first negative of the [count] integer arguments.
void check_components(uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        if (integer::get(stack::arg(i)) < 0) error::raise(error::cat_script, error::script_invalid_arg, stack::arg(i));
}

// The tuple a.b.c.d of the four arguments combined as one 32-bit number, so that a value
// above 255 spills into the next element.
void ipv4_tuple() {
    check_components(4);
    uint32_t n = 0;
    for (uint32_t i = 0; i < 4; i++) n |= uint32_t(integer::get(stack::arg(i))) << (8 * i);
    const uint8_t bytes[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    cell r = tuple::make_value(4, bytes);
    *stack::arg(0) = r;
}

// }==

} // namespace

// {== Routines

// Ends the process with the status argument. Console output goes out unbuffered; the C
// streams are flushed so that nothing printed before is lost.
void quit_return() {
    int32_t status = integer::get(stack::arg(0));
    std::fflush(nullptr);
    terminal::restore_async(); // no exit handler runs after _Exit
    std::_Exit(status);
}

void set_quiet() {
    cell w = *stack::arg(0);
    uint8_t t = w.type();
    if (t != T_word && t != T_set_word && t != T_lit_word && t != T_get_word) wrong_arg(&w, "word");
    cell value = *stack::arg(1);
    context::set_word_value(&w, &value, w.w1, false);
    *stack::arg(0) = value;
}

void set_slot_quiet() {
    const cell* s = stack::arg(0);
    uint8_t t = s->type();
    if (t != T_block && t != T_paren && t != T_path && t != T_lit_path && t != T_set_path &&
        t != T_get_path)
        wrong_arg(s, "series");
    if (s->w1 < series::length(s->w2)) block::cells_of(s->w2)[s->w1] = *stack::arg(1);
    *stack::arg(0) = unset_value;
}

void shift_right() { result_integer(shift(integer::get(stack::arg(0)), integer::get(stack::arg(1)), false, false)); }
void shift_left() { result_integer(shift(integer::get(stack::arg(0)), integer::get(stack::arg(1)), true, false)); }
void shift_logical() { result_integer(shift(integer::get(stack::arg(0)), integer::get(stack::arg(1)), false, true)); }

void last_lf_q() { result_logic(console::last_was_lf()); }

void as_color() {
    check_components(3);
    uint8_t bytes[3];
    for (uint32_t i = 0; i < 3; i++) bytes[i] = uint8_t(integer::get(stack::arg(i)) % 256);
    cell r = tuple::make_value(3, bytes);
    *stack::arg(0) = r;
}

void as_ipv4() { ipv4_tuple(); }
void as_rgba() { ipv4_tuple(); }

// Characters of UTF-8 text from start's index up to pos's index, both read as positions in
// start's buffer; a pos past the tail, and a sequence cut by the tail, stop at the tail.
void count_chars() {
    const cell* start = stack::arg(0);
    uint64_t tail = series::length(start->w2);
    uint64_t from = start->w1;
    uint64_t to = stack::arg(1)->w1 < tail ? stack::arg(1)->w1 : tail;
    const uint8_t* p = memory::buffer_of(start->w2)->head;
    int32_t count = 0;
    while (from < to) {
        uint8_t lead = p[from];
        uint64_t step = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        from = from + step < tail ? from + step : tail;
        count++;
    }
    result_integer(count);
}

void stack_size_q() { result_integer(int32_t(es.top - es.bottom)); }

void pick_stack() {
    int32_t i = integer::get(stack::arg(0));
    int32_t size = int32_t(es.top - es.bottom);
    cell r = i > 0 && i < size ? es.bottom[i - 1] : none_value;
    *stack::arg(0) = r;
}

// The arguments base of the frame that called this routine.
void frame_index_q() { result_integer(int32_t(stack::top_frame()->caller_base)); }

void collect_calls() {
    cell blk = *stack::arg(0);
    stack::trace(&blk);
}

void tracing_q() { result_logic(interp::is.tracing); }


void gc_active_q() { result_logic(collector::gc.active); }
void gc_series_cycles() { result_integer(int32_t(collector::gc.cycles)); }
// Every collection frees the nodes of dead buffers too: node cycles are collection cycles.
void gc_nodes_cycles() { result_integer(int32_t(collector::gc.cycles)); }

// The global context as an object: its words reachable as fields of system/words.
void make_system_words() {
    cell obj{T_object, context::global(), 0xFFFFFFFFu, 0};
    *stack::arg(0) = obj;
}

// Whether a frame below this routine's own was pushed by the interpreter: false when the
// whole call chain runs as compiled code.
void interpreted_q() { result_logic(stack::has_interp_frame(nullptr, false)); }

// The change hook of system/options/float: pretty? and full? switch the float formatter.
void float_option() {
    bool on = logic::is_true(stack::arg(1), false);
    const char* name = symbol::c_name(stack::arg(0)->w2);
    if (strcasecmp(name, "pretty?") == 0) float_::pretty_print = on;
    else if (strcasecmp(name, "full?") == 0) float_::full_support = on;
    *stack::arg(0) = unset_value;
}

// The repository record as [branch tag ahead date commit message]: texts, an integer, none
// where git had nothing; none for a build made outside a checkout. system/build makes its
// object from this block.
void build_git_record() {
    const build_git::record& r = build_git::repository;
    if (!r.present) {
        *stack::arg(0) = none_value;
        return;
    }
    cell* blk = block::push_new(6);
    auto add_text = [blk](const char* text) {
        if (!text) {
            block::append_value(blk, &none_value);
            return;
        }
        cell* s = string::from_utf8(stack::push_slot(), text);
        block::append_value(blk, s);
        stack::pop(1);
    };
    add_text(r.branch);
    add_text(r.tag);
    cell ahead = r.ahead < 0 ? none_value : integer::make_value(r.ahead);
    block::append_value(blk, &ahead);
    add_text(r.date);
    add_text(r.commit);
    add_text(r.message);
    *stack::arg(0) = *blk;
    stack::pop(1);
}

// }==

} // namespace zyl::routines
