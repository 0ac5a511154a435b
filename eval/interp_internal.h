// eval/interp_internal.h: what the interpreter's units share: the block being walked, the
// interpreter's own roots, the call site record and the internal steps.
//
// Every internal step pushes exactly one cell (its value) and answers the next position; the
// public entries turn that into their push or cell-0 forms. After any step the caller checks
// es.throw_code first: when it is set the stacks were cut by a non-local exit and nothing may
// be popped or read from them.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/memory.h"

namespace zyl::interp::detail {

// A block being walked. The block stays alive through a root_guard while it is walked.
struct code {
    cell block;           // the block (its node; its index is where a full walk starts)
    uint32_t tail;        // where the walk ends (it also ends at the block's live tail)
    const uint64_t* slot; // the block's node slot (slots never move), null with no block
};

// The cell at position [i] of [c], or null at or past the end of the walk. The address
// holds until the next allocation.
inline const cell* at(const code& c, uint32_t i) {
    if (i >= c.tail) return nullptr;
    auto* b = reinterpret_cast<series_buffer*>(*c.slot);
    const cell* p = reinterpret_cast<const cell*>(b->head) + i;
    return p < reinterpret_cast<const cell*>(b->tail) ? p : nullptr;
}

// A walk over [block] (or over nothing when it is null) ending at [tail].
inline code make_code(const cell* block, uint32_t tail) {
    if (!block) return code{none_value, 0, nullptr};
    return code{*block, tail, memory::slot_of(block->w2)};
}

// Keeps a copy of [c] alive while the guard lives (unless [when] is false): the interpreter's roots
// hold what it walks or calls that no stack cell holds (a block evaluated for a native, an infix
// operator).
// The interpreter's roots (marked by a collector hook): what a block walk, an infix call, a
// function call, a paren or an inline conditional walks or calls. Parens and conditionals
// take no frame, so there is room for several per frame; the call stack or the native stack
// guard runs out first.
constexpr uint32_t ROOT_CAPACITY = 6 * CALL_STACK_FRAMES + 64;
extern cell roots[ROOT_CAPACITY];
extern uint32_t root_count;
[[noreturn]] void roots_overflow();
struct root_guard {
    explicit root_guard(const cell* c, bool when = true) : taken(when) {
        if (!when) return;
        if (root_count == ROOT_CAPACITY) [[unlikely]]
            roots_overflow();
        roots[root_count++] = *c;
    }
    ~root_guard() {
        if (taken) root_count--;
    }
    bool taken;
    root_guard(const root_guard&) = delete;
    root_guard& operator=(const root_guard&) = delete;
};

// Whether [c] lies outside the evaluation stack's live cells: a block cell there needs a root
// guard while it is walked (natives pass their arguments in the stack, which keeps them).
inline bool off_stack(const cell* c) { return c < es.bottom || c >= es.top; }

// Roots taken and not yet given back (0 between top-level evaluations).
uint32_t root_depth();

// A word cell naming a frame by [symbol], bound to no context.
inline cell frame_word(uint32_t symbol) { return cell{T_word, 0, symbol, word::NO_INDEX}; }
// Frame header [bits] as the current mode pushes them: compiled code leaves out the
// interpreter bit.
inline uint32_t frame_bits(uint32_t bits) { return is.compiled ? bits & ~FRAME_INTERP : bits; }

// Words made once by init.
struct words_t {
    cell event[EVENT_COUNT]; // the event words, by bit number
    cell set_path;           // names the frame of a set-path
    uint32_t local;          // canonical symbols of local and return (spec keywords)
    uint32_t return_;
    uint32_t callback; // symbol of <interp-callback>
    uint32_t system;   // canonical symbols of the #system issues
    uint32_t system_global;
};
extern words_t words;

// How a call was reached.
struct call_site {
    cell name;        // names the frame: the word of the call, or <anon>
    cell ref;         // what traces show as the call (none when nothing)
    const cell* path; // path whose elements from its index are refinements, or null
    node_id owner;    // context of the object the function was selected from, or 0
    uint32_t mode;    // PATH_* bits of apply
    bool infix;       // the left operand is the last pushed cell
};

// Evaluates the expression at [i] (the value there is [v], read with no allocation since)
// and pushes its value; answers the position after it.
uint32_t expr_from(const code& c, uint32_t i, const cell* v, bool no_infix,
                   bool literal_functions);
// expr_from of the value at [i], which must be within the walk.
inline uint32_t expr(const code& c, uint32_t i, bool no_infix, bool literal_functions) {
    return expr_from(c, i, at(c, i), no_infix, literal_functions);
}
// Evaluates paren [paren] as a block in a <body> native frame and pushes its value.
void eval_paren(const cell* paren);
// Walks [c] in the current frame above the cells it holds; the value goes to its cell 0,
// the top just above. The frame records the walk as its position.
void walk_here(const code& c);
// Keeps the current frame's recorded position alone while a paren borrows the frame, and puts it
// back unless a non-local exit took the frame away. A paren leaves the frame's inline
// conditional as it found it (a conditional inside restores its own), so that stays as it is.
struct position_scope {
    call_frame* frame;
    uint32_t header;
    node_id node;
    uint32_t index;
    explicit position_scope(call_frame* f)
        : frame(f), header(f->header), node(f->walk_node), index(f->walk_index) {}
    ~position_scope() {
        if (es.ftop <= frame) return;
        constexpr uint32_t walk_bits = FRAME_WALK | 0xFF;
        frame->header = (frame->header & ~walk_bits) | (header & walk_bits);
        frame->walk_node = node;
        frame->walk_index = index;
    }
    position_scope(const position_scope&) = delete;
    position_scope& operator=(const position_scope&) = delete;
};
// Keeps the current frame's position and inline conditional while a walk borrows the frame
// (a conditional's block), and puts them back unless a non-local exit took the frame away.
struct walk_scope {
    position_scope position;
    uint32_t form_symbol;
    node_id form_context;
    explicit walk_scope(call_frame* f)
        : position(f), form_symbol(f->form_symbol), form_context(f->form_context) {}
    ~walk_scope() {
        if (es.ftop <= position.frame) return;
        position.frame->form_symbol = form_symbol;
        position.frame->form_context = form_context;
    }
    walk_scope(const walk_scope&) = delete;
    walk_scope& operator=(const walk_scope&) = delete;
};
// Evaluates the whole walk in a <body> frame; the result goes to the caller's cell 0 with
// [keep_last], else stays pushed.
void run_block(const code& c, bool keep_last);
// Calls [fn] with its arguments from [c] at [pos]; pushes the result (over the left operand
// for an infix call); answers the position after the arguments.
uint32_t call(const cell* fn, const code& c, uint32_t pos, call_site& site);
// What the cached spec cell's word 3 records of the call spec, so that plain calls need no
// walk of it: the count of leading normal arguments, and the refinements (native or action)
// or locals (function) count. SHAPE_SIMPLE when that is all a plain call needs: every argument
// before the first refinement is normal, and a function has no refinements.
constexpr uint32_t SHAPE_SIMPLE = 1u << 31;
// With SHAPE_SIMPLE: no fixed argument names its types, so each takes any value but unset.
constexpr uint32_t SHAPE_UNTYPED = 1u << 30;
constexpr uint32_t SHAPE_FIXED_MASK = 0xFF;
constexpr uint32_t SHAPE_LAST_SHIFT = 8;

// The cell of callable [fn]'s own series that keeps its call spec.
inline const cell* spec_cell_of(const cell* fn) {
    uint8_t t = fn->type();
    uint32_t i =
        t == T_native || t == T_action ? uint32_t(native::NV_ARGS) : uint32_t(function::FN_ARGS);
    return reinterpret_cast<const cell*>(memory::buffer_of(fn->w3)->head) + i;
}

// The cached call spec cell of [fn] (native!, action! or function!) when plain calls may use
// call_plain, else null.
ZYL_INLINE const cell* simple_spec(const cell* fn) {
    const cell* sc = spec_cell_of(fn);
    return sc->type() == T_block && (sc->w3 & SHAPE_SIMPLE) ? sc : nullptr;
}
// A prefix call of [fn] (native!, action! or function!, [spec_cell] its simple_spec) from
// [pos], with no path, no apply mode and events off: [name] names the frame, [ref] is what
// traces show. Pushes the result; answers the position after the arguments.
uint32_t call_plain(const cell* fn, const cell* spec_cell, const code& c, uint32_t pos,
                    const cell* name, const cell* ref);
// The errors of a call named by word [name] of [fn]: its argument [slot] is missing, or of
// datatype [type], which it does not take.
[[noreturn, gnu::noinline]] void plain_no_arg(const cell* name, const cell* fn, uint32_t slot);
[[noreturn, gnu::noinline]] void plain_expect_arg(const cell* name, const cell* fn, uint32_t slot,
                                                  uint8_t type);
// Calls operator [op] (the value of the word at [j]) with the last pushed value as its left
// operand and its right operand from [j] + 1; answers the position after it.
uint32_t call_operator(const code& c, uint32_t j, const cell* op);
// Finishes an operator call whose frame (named by [name]) holds both operands: checks them
// against the operator's argument types, runs it and pops the frame, its result pushed.
void finish_infix_call(const cell* op, const cell* name);
// Drops the remembered object field positions of paths (at every collection).
void forget_fields();
// Evaluates [path]; pushes the result; answers the position after the expression.
uint32_t path_expr(const cell* path, const code& c, uint32_t next, bool get, const cell* set);
// The value that op! [fn] runs: its source (a function's own cell, flags and all).
cell op_source(const cell* fn);
// The value that [fn] runs: for an op! its source, else [fn] itself.
inline cell callee(const cell* fn) { return fn->type() == T_op ? op_source(fn) : *fn; }
// Whether [t] is block!, paren!, hash! or a path type.
inline bool is_block_like(uint8_t t) {
    return t == T_block || t == T_paren || t == T_hash || (t >= T_path && t <= T_get_path);
}
// Whether a value of type [t] evaluates to itself with nothing else read: no word, no
// paren or path, no function, no issue (#system is checked) and nothing the tracer must see.
constexpr bool is_inert(uint8_t t) {
    switch (t) {
    case T_word:
    case T_set_word:
    case T_lit_word:
    case T_get_word:
    case T_issue:
    case T_paren:
    case T_path:
    case T_lit_path:
    case T_set_path:
    case T_get_path:
    case T_native:
    case T_action:
    case T_op:
    case T_function:
    case T_routine: return false;
    default: return true;
    }
}
// Whether the value at [j] of [c] may continue an expression (a word: perhaps an operator).
inline bool may_continue(const code& c, uint32_t j) {
    const cell* n = at(c, j);
    return n && n->type() == T_word;
}
// Whether [t] is a type that the interpreter calls.
inline bool is_callable(uint8_t t) {
    return t == T_native || t == T_action || t == T_function || t == T_routine;
}

} // namespace zyl::interp::detail
