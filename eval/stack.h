// eval/stack.h: the evaluation stack: an argument stack of cells and a call stack of frames,
// and the non-local exits that cut them back.
//
// Cell 0 at the arguments base is the current frame's first argument and its result slot.
// Both stacks live in fixed (unmanaged) series that never move, so raw pointers into them
// stay valid for the whole run.
//
// Non-local exits: an error unwinds the stacks to the nearest try frame and then the native
// frames by one C++ exception (error::raised). break, continue, return, exit and throw are
// everyday control flow: they unwind the stacks to their target, set es.throw_code and return;
// every caller checks the code after a call and returns frame by frame to the target.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl {

// The pending non-local exit; every code from THROW_THROW up is an exit.
enum throw_code : uint32_t {
    THROW_NONE = 0,
    THROW_THROW = 0x7FFFFFFA,
    THROW_EXIT = 0x7FFFFFFB,
    THROW_RETURN = 0x7FFFFFFC,
    THROW_CONTINUE = 0x7FFFFFFD,
    THROW_BREAK = 0x7FFFFFFE,
    THROW_ERROR = 0x7FFFFFFF,
};

// Frame types (header bits 24-27) and flags.
enum frame_type : uint32_t {
    FRAME_FUNC = 1,    // call of a function; may record its context
    FRAME_NATIVE = 2,  // call of a native, action or routine; also set-words, set-paths, parens
    FRAME_TRY = 4,     // stops errors
    FRAME_TRY_ALL = 5, // stops errors; any other exit reaching it becomes an error
    FRAME_CATCH = 6,   // stops throw
    FRAME_EVAL = 7,    // a block evaluated by the interpreter
    FRAME_LOOP = 8,    // stops break and continue
};
constexpr uint32_t FRAME_TYPE_SHIFT = 24;
constexpr uint32_t FRAME_RETURN_TARGET = 1u << 28; // stops return and exit
constexpr uint32_t FRAME_INTERP = 1u << 31;        // pushed by the interpreter
// A block walk of the interpreter that records where it is: the frame's walk fields hold the
// block and the index of the expression being evaluated, and header bits 0-7 the block's type.
constexpr uint32_t FRAME_WALK = 1u << 29;

// Header top bytes as each mark operation pushes them.
constexpr uint32_t MARK_FUNC_CONTEXT = 0x01u << 24;
constexpr uint32_t MARK_INTERP_FUNC = 0x81u << 24;
constexpr uint32_t MARK_NATIVE = 0x02u << 24;
constexpr uint32_t MARK_INTERP_NATIVE = 0x82u << 24;
constexpr uint32_t MARK_FUNC = 0x12u << 24;
constexpr uint32_t MARK_TRY = 0x04u << 24;
constexpr uint32_t MARK_TRY_ALL = 0x05u << 24;
constexpr uint32_t MARK_CATCH = 0x06u << 24;
constexpr uint32_t MARK_EVAL = 0x87u << 24;
constexpr uint32_t MARK_LOOP = 0x08u << 24;

// One call. The symbol has a word of its own, so any symbol id fits.
struct call_frame {
    uint32_t header;      // type in bits 24-27, FRAME_RETURN_TARGET, FRAME_INTERP
    uint32_t symbol;      // symbol id of the called word
    uint32_t caller_base; // arguments base current when pushed, as a cell index from bottom
    node_id context;      // context of the called word
    node_id func_context; // function context (mark_func_context only), else 0
    uint32_t saved_values; // that context's value-series word before the call
    node_id walk_node;     // with FRAME_WALK: the block walked
    uint32_t walk_index;   // with FRAME_WALK: the index of the expression being evaluated
    // A conditional the interpreter runs inline in this frame, in place of a frame of its own:
    // the symbol and context of its word (0 when none). Reports name it as that frame.
    uint32_t form_symbol;
    node_id form_context;

    uint32_t type() const { return (header >> FRAME_TYPE_SHIFT) & 0xF; }
};

constexpr uint32_t ARG_STACK_CELLS = 20000;
constexpr uint32_t CALL_STACK_FRAMES = 12000;

// Invariant: bottom <= base <= top <= end; fbottom <= ftop <= fend.
struct eval_stack {
    cell* bottom; // first argument cell
    cell* end;    // one past the last
    cell* top;    // next free cell
    cell* base;   // current arguments base: cell 0 of the current frame
    call_frame* fbottom;
    call_frame* fend;
    call_frame* ftop;        // next free frame
    call_frame* throw_start; // innermost frame when throw began, until the next "where" look-up
    uint32_t throw_code;     // pending non-local exit, THROW_NONE when none
    uint32_t body_symbol;    // <body>: frames calling it are skipped in reports
    uint32_t anon_symbol;    // <anon>: likewise
    node_id arg_series;      // the fixed series behind the two stacks
    node_id frame_series;
};

extern eval_stack es;

namespace stack {

// Takes the two fixed series [args] and [frames] made at start-up; [body] and [anon] are the
// symbol ids of the internal words <body> and <anon>.
void init(node_id args, node_id frames, uint32_t body, uint32_t anon);
// Makes the two fixed series and calls init: for start-up and for tests.
void create(uint32_t body, uint32_t anon);
inline bool ready() { return es.bottom != nullptr; }

[[noreturn]] void overflow();

// {== Cells

inline void reset() { es.top = es.base; }
inline void keep() { es.top = es.base + 1; }
// The cell at top, marked unset (a collection may run before the caller fills it, and must
// not read an old value there); top advances.
inline cell* push_slot() {
    cell* c = es.top++;
    if (ZYL_UNLIKELY(es.top >= es.end)) overflow();
    c->header = T_unset;
    return c;
}
inline cell* push(const cell* v) {
    cell* c = push_slot();
    *c = *v;
    return c;
}
inline void pop(uint32_t n) { es.top = (es.top - es.bottom) > n ? es.top - n : es.bottom; }
// The last pushed cell, or the bottom cell when the stack is empty.
inline cell* top() { return es.top > es.bottom ? es.top - 1 : es.bottom; }
inline uint8_t top_type() { return top()->type(); }
inline bool top_is_function() {
    uint8_t t = top_type();
    return t == T_function || t == T_routine;
}
// Drops the last cell and copies it over the one below.
inline void move_top_down() {
    es.top--;
    es.top[-1] = es.top[0];
}
inline cell* arg(uint32_t i) { return es.base + i; }
inline void set_last(const cell* v) { *es.base = *v; }
inline void set_last_keep(const cell* v) {
    es.top = es.base + 1;
    *es.base = *v;
}
// A raised error arrives as the last pushed cell: code that catches one moves it to cell 0.
void set_last_from_error();

// }==
// {== Frames

inline call_frame* top_frame() { return es.ftop - 1; }
inline void set_frame_ctop(call_frame* f) { es.ftop = f; }
inline cell* base_of_index(uint32_t i) { return es.bottom + i; }

// Pushes a frame for [word] (a word cell: context in word 1, symbol in word 2) with the
// header bits [bits]; the new arguments base is the current top.
inline void mark(const cell* word, uint32_t bits) {
    if (ZYL_UNLIKELY(es.ftop == es.fend)) overflow();
    call_frame* f = es.ftop++;
    f->header = bits;
    f->symbol = word->w2;
    f->caller_base = static_cast<uint32_t>(es.base - es.bottom);
    f->context = word->w1;
    f->func_context = 0;
    f->saved_values = 0;
    f->form_symbol = 0;
    es.base = es.top;
}
inline void mark_native(const cell* w) { mark(w, MARK_NATIVE); }
inline void mark_try(const cell* w) { mark(w, MARK_TRY); }
inline void mark_try_all(const cell* w) { mark(w, MARK_TRY_ALL); }
inline void mark_catch(const cell* w) { mark(w, MARK_CATCH); }
inline void mark_eval(const cell* w) { mark(w, MARK_EVAL); }
inline void mark_loop(const cell* w) { mark(w, MARK_LOOP); }
inline void mark_interp_native(const cell* w) { mark(w, MARK_INTERP_NATIVE); }
inline void mark_interp_func(const cell* w) { mark(w, MARK_INTERP_FUNC); }
// A type-1 frame that records function context [ctx] (0 for none) and its value-series word.
void mark_func_context(const cell* word, node_id ctx);
// Points [ctx]'s values at the current arguments base, then pushes a return-target frame.
void mark_func(const cell* word, node_id ctx);

void set_return_flag(bool on);
inline void set_interp_flag() { top_frame()->header |= FRAME_INTERP; }
// On the frame below the top: sets the return flag and returns the frame, or null when set.
call_frame* mark_caller_return();
inline void clear_return_flag(call_frame* f) { f->header &= ~FRAME_RETURN_TARGET; }
// Whether a frame below [f] (the top when null) was pushed by the interpreter; with
// [only_one], looks at the first of them only.
bool has_interp_frame(const call_frame* f, bool only_one);

// Pops the top frame: the base goes back to the caller's; returns the popped frame's base.
inline cell* pop_one() {
    call_frame* f = --es.ftop;
    cell* own = es.base;
    es.base = es.bottom + f->caller_base;
    return own;
}
// Pops the top frame, keeping its cell 0 pushed.
inline void unwind() { es.top = pop_one() + 1; }
// Pops the top frame; its cell 0 becomes the caller's cell 0.
inline void unwind_last() {
    cell* own = pop_one();
    es.top = own + 1;
    *es.base = *own;
}
// Pops the top frame and its cells.
inline void unwind_drop() {
    pop_one();
    es.top = es.base;
}
void unwind_func();
void unwind_func_drop();
void unwind_func_last();
void pop_frame();
void pop_frame_drop_one();

// Cuts the call stack back to the nearest frame of [type] (or try-all, or the bottom frame),
// which stays; see the .cpp for where base and top end.
void unwind_to(uint32_t type, bool keep);
void unwind_to_last(uint32_t type);
inline void unwind_to_loop(bool keep) { unwind_to(FRAME_LOOP, keep); }

// }==
// {== Non-local exits

// Unwinds to the nearest try frame, pushes [err] for the catcher and raises; with no try
// frame prints the error and ends the process with status 254.
[[noreturn]] void throw_error(const cell* err);
// break (continue with [is_continue]); with [has_value], cell 0 of the current frame is
// the loop's result. Sets es.throw_code and returns.
void throw_break(bool has_value, bool is_continue);
// return ([has_value]) or exit; [from_here]: the current frame may itself be the target.
void throw_return(bool has_value, bool from_here);
// throw: cell 0 (the value) and cell 1 (the name) of the current frame go to the catch frame.
void throw_value(uint32_t code);

// The interpreter's current position: the block and index of the innermost walk that records
// one, as a block (or paren) cell; null when no walk records one.
inline bool current_position(cell* out) {
    for (const call_frame* f = es.ftop - 1; f >= es.fbottom; f--) {
        if (f->header & FRAME_WALK) {
            *out = cell{f->header & 0xFF, f->walk_index, f->walk_node, 0};
            return true;
        }
    }
    return false;
}

// The word of the innermost frame that is not internal, looked up in the frame's context:
// the "where" of an error; the word <not-found> when there is none. Clears the throw-start
// frame. May allocate (eval/stack_trace.cpp).
cell get_call();
// Names the innermost frame by the symbol of word cell [v] (when it is a word!).
void set_call_name(const cell* v);

// }==

} // namespace stack
} // namespace zyl
