// eval/interp.h: the interpreter, which evaluates blocks of values on the evaluation stack.
//
// It walks a block expression by expression: words are read through their context index
// (no hashing), set-words and set-paths assign, paths select through each value's eval-path
// action, natives, actions, ops, functions and routines are called with their arguments
// gathered on the stack. Infix operators go left to right; an operator's right operand is one
// expression without infix continuation of its own. Every step can be reported to a
// language-level tracer. break, continue, return, exit and throw come back as a pending
// es.throw_code: after every call the interpreter checks it and returns at once, leaving the
// stacks as the exit cut them. Errors travel as error::raised.
//
// Positions in a block are cell indexes from the head of the block's buffer (the unit of a
// block value's word 1), never addresses: any evaluation may allocate and so move every
// buffer. A walk stops at the tail it was given or at the block's live tail, whichever comes
// first, so code that shortens the block it runs in cannot make the walk read past it.
//
// Functions made by the boot scripts (FUNC_LIBRARY) run as compiled code would: no events of
// the interpreter inside them, frames without the interpreter bit, the current position left
// at their caller's.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "eval/stack.h"
#include "runtime/memory.h"

namespace zyl::interp {

// Tracer events (bits of the event mask).
enum event : uint32_t {
    EV_INIT = 0x1,
    EV_END = 0x2,
    EV_PROLOG = 0x4,
    EV_EPILOG = 0x8,
    EV_ENTER = 0x10,
    EV_EXIT = 0x20,
    EV_OPEN = 0x40,
    EV_RETURN = 0x80,
    EV_FETCH = 0x100,
    EV_PUSH = 0x200,
    EV_SET = 0x400,
    EV_CALL = 0x800,
    EV_ERROR = 0x1000,
    EV_THROW = 0x2000,
    EV_CATCH = 0x4000,
    EV_EXPR = 0x8000,
};
constexpr uint32_t ALL_EVENTS = 0x1FFFF;
constexpr uint32_t EVENT_COUNT = 16;

// Call-mode bits of call_function (apply).
constexpr uint32_t PATH_ELEMENT = 1; // a missing argument at the end of the block is none
constexpr uint32_t PATH_REFINEMENTS =
    2;                                // refinement! values in the block, each followed by a truth
constexpr uint32_t PATH_SKIP_OFF = 4; // args of a switched-off refinement are skipped unevaluated

#ifdef ZYL_NO_EVENTS
// A build without the interpreter's event hooks (for measuring what they cost): reads are a
// constant false, so every hook folds away, and writes are dropped.
struct no_events {
    constexpr operator bool() const { return false; }
    constexpr no_events& operator=(bool) { return *this; }
};
#endif

// Invariant: events == tracing && !compiled.
struct state {
    bool tracing;         // the tracer is active (set through set_tracing)
    bool default_tracing; // what a function marked `trace` switches tracing to
    bool compiled;        // inside a library function's body: runs as compiled code
#ifdef ZYL_NO_EVENTS
    [[no_unique_address]] no_events events;
#else
    bool events;          // the interpreter's own events are delivered
#endif
    uint32_t event_mask;  // events the tracer wants
    uint32_t extra_slots; // refinement slots of the tracer beyond its six arguments
    cell* tracer;         // the tracer function! (a fixed cell), none when unset
    cell* position;       // the top level's position: a block cell whose index is the expression
                          // (walks record theirs in their frames: see current_position)
};
extern state is;

// The current position: the block and expression index of the innermost block walk, else
// the position cell (which the top level sets); unset before any.
cell current_position();
// Allocates the tracer and position cells (both kept by a collector hook) and the event
// words. Once the stack and the symbol table exist; again after memory is freed (tests).
void init();
// Switches tracing on or off (the library's tracer set-up and do/trace use it).
void set_tracing(bool on);

// {== Evaluation

// Evaluates [block] from its index to its tail in a <body> frame; with [keep_last] the
// result goes into the caller's cell 0, else it stays pushed. [block] may lie anywhere.
void eval_block(const cell* block, bool keep_last);
// A loop's passes over a block (or two, for while): each pass walks [block] (a block cell in
// the evaluation stack) in a <body> frame that the first pass marks and the next ones reuse,
// so that a pass pushes no frame of its own. [loop] is the loop's frame, the top one when its
// passes begin; a pass frame starts at the loop frame's cell 0, which so takes each pass's
// value. A break or continue cuts the pass frame with the rest, and the next pass marks it
// again; end_passes pops it when it is there, the loop frame then the top one again.
void run_pass(const call_frame* loop, const cell* block);
inline void end_passes(const call_frame* loop) {
    if (es.ftop - 1 != loop) stack::pop_one();
}
// Evaluates one expression at position [pos] (before [tail]) of [block]; answers the position
// after it. [push]: the value is pushed, else it becomes cell 0 (stack::set_last_keep).
uint32_t eval_expression_at(const cell* block, uint32_t pos, uint32_t tail, bool no_infix,
                            bool push, bool literal_functions);
// One expression at position [pos] in a <body> native frame; answers the next position.
uint32_t eval_entry_at(const cell* block, uint32_t pos, uint32_t tail, bool push);
// The expression at [block]'s index, result into cell 0; answers the new index (unchanged
// at the tail, where the result is unset).
uint32_t eval_next(const cell* block);
// The tail of [block] as a position (its buffer's length in cells).
inline uint32_t tail_of(const cell* block) {
    return static_cast<uint32_t>(memory::buffer_of(block->w2)->used_bytes() / sizeof(cell));
}

// The same with [pos] and [tail] as cell addresses in [block]'s buffer, valid at the call;
// the answer is an address valid until the next allocation.
const cell* eval_expression(const cell* pos, const cell* tail, const cell* block, bool no_infix,
                            bool push, bool literal_functions);
const cell* eval_entry(const cell* block, const cell* pos, const cell* tail, bool push);

// }==
// {== Calls

// Calls [fn] (native!, action!, op!, function! or routine!) with arguments taken from
// [block] at [pos]; answers the position after them; the result is pushed, or with
// [push] false goes into cell 0. [name] names the frame (a word, or null for <anon>);
// [path] (or null) is a path whose elements from its index name refinements, as in a/b/c;
// [mode] holds the PATH_* bits of apply. [block] may be null: then there are no values.
uint32_t call_function(const cell* fn, const cell* block, uint32_t pos, uint32_t tail, bool push,
                       const cell* name, const cell* path, uint32_t mode);

// Runs function [fn]'s body with its arguments already in the current frame ([ctx] the
// context it runs in, [ref] where traces show the call); the result is in cell 0. The entry
// through which run-time code calls a language function (sort comparators, object hooks,
// parse actions, the lexer callback, the tracer).
void exec_function(const cell* fn, node_id ctx, const cell* ref);
// Calls [fn] (any callable) with the [argc] values at [args] as its arguments (missing ones
// are none, extra ones ignored; each is type-checked), in a frame of its own; the result is
// pushed and answered. [args] must not lie in a series buffer (stack cells are fine). Null
// when a non-local exit is pending (es.throw_code): the stacks are then as the exit left
// them. For run-time code that holds the values itself.
cell* call_with(const cell* fn, const cell* args, uint32_t argc);
// Runs routine [fn]'s code on the arguments in the current frame; the result is in cell 0.
void call_routine(const cell* fn);

// The call spec of callable [fn] (native!, action!, op!, function! or routine!): a block of one
// typeset! per argument (its kind in TYPESET_ARG_KIND_MASK: 0 normal, 1 get, 2 literal, 3
// return:), each refinement! (word 3 its number from 1), and last an integer! when not zero
// (locals of a function or routine, /local included; refinements of a native or action).
// Built on the first call and kept in the function's series; answers its node. May allocate.
node_id build_arg_spec(const cell* fn);
// Pushes false for every refinement of spec block [spec] and none for every argument after one.
void push_refinement_defaults(const cell* spec);

// }==
// {== Paths

// Evaluates [path] (a path!, get-path! or set-path! value); [next] and [tail] are where the
// arguments of a function reached through it are read in [block] (which may be null).
// [get]: a function at the end is the value, not called; [set]: the value to store (null to
// read). Pushes the result (with [push] false: cell 0); answers the position after the
// expression.
uint32_t eval_path_at(const cell* path, const cell* block, uint32_t next, uint32_t tail, bool push,
                      bool get, const cell* set);
// eval_path_at of the path at address [pos] of [block], its arguments read up to [tail].
const cell* eval_path(const cell* pos, const cell* tail, const cell* block, bool push, bool get,
                      const cell* set);

// }==
// {== Tracing

// The event mask a tracer function asks for (its body's first block of event words).
uint32_t event_mask(const cell* tracer);
// Reports [ev] to the tracer: [code] the block (or null), [pos] a position in it (-1: none),
// [ref] the call it concerns, [value] the value. A non-local exit from the tracer is left
// pending (es.throw_code) with tracing off; an error in it leaves tracing off.
void trace_at(uint32_t ev, const cell* code, int64_t pos, const cell* ref, const cell* value);
// trace_at with [pos] an address in [code]'s buffer (or null), when tracing is on.
void trace_slow(uint32_t ev, const cell* code, const cell* pos, const cell* ref, const cell* value);
inline void trace(uint32_t ev, const cell* code, const cell* pos, const cell* ref,
                  const cell* value) {
    if (is.tracing) [[unlikely]]
        trace_slow(ev, code, pos, ref, value);
}
// trace_at when tracing is on ([pos] a position, -1 for none).
inline void trace(uint32_t ev, const cell* code, int64_t pos, const cell* ref, const cell* value) {
    if (is.tracing) [[unlikely]]
        trace_at(ev, code, pos, ref, value);
}
// The wrappers the natives use (each does nothing while tracing is off).
inline void trace_init(const cell* code) { trace(EV_INIT, code, nullptr, nullptr, nullptr); }
inline void trace_end(const cell* code) { trace(EV_END, code, nullptr, nullptr, nullptr); }
inline void trace_throw(const cell* value) { trace(EV_THROW, nullptr, nullptr, nullptr, value); }
inline void trace_catch(const cell* value) { trace(EV_CATCH, nullptr, nullptr, nullptr, value); }
inline void trace_call(const cell* ref, const cell* fn) {
    trace(EV_CALL, nullptr, nullptr, ref, fn);
}
inline void trace_return(const cell* ref, const cell* value) {
    trace(EV_RETURN, nullptr, nullptr, ref, value);
}

// Prints "eval: " and [text] with the run-time's primitive print (a debugging aid).
void debug_print(const char* text);

// }==

} // namespace zyl::interp
