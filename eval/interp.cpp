// eval/interp.cpp: the evaluation loop: blocks, expressions, set-words, parens and infix
// operators; the interpreter's state and the roots it keeps.
#include "eval/interp.h"

#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/fast_paths.h"
#include "eval/interp_internal.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"

namespace zyl::interp {

state is;

namespace detail {
words_t words;
cell roots[ROOT_CAPACITY];
uint32_t root_count;
} // namespace detail

using namespace detail;

namespace {

cell tracer_cell;
cell position_cell;

void mark_roots() {
    collector::mark_values(&tracer_cell, &tracer_cell + 1);
    collector::mark_values(&position_cell, &position_cell + 1);
    collector::mark_values(roots, roots + root_count);
}

} // namespace

// {== State

void init() {
    tracer_cell = none_value;
    position_cell = unset_value;
    is = state{};
    is.event_mask = ALL_EVENTS;
    is.tracer = &tracer_cell;
    is.position = &position_cell;
    root_count = 0;
    collector::remove_mark_hook(&mark_roots);
    collector::add_mark_hook(&mark_roots);
    forget_fields();
    collector::remove_mark_hook(&forget_fields);
    collector::add_mark_hook(&forget_fields);
    static const char* const event_names[EVENT_COUNT] = {
        "init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
        "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};
    for (uint32_t i = 0; i < EVENT_COUNT; i++) words.event[i] = word::load(event_names[i]);
    words.set_path = word::load("set-path");
    words.local = symbol::resolve(symbol::make("local"));
    words.return_ = symbol::resolve(symbol::make("return"));
    words.callback = symbol::make("<interp-callback>");
    words.system = symbol::resolve(symbol::make("system"));
    words.system_global = symbol::resolve(symbol::make("system-global"));
}

cell current_position() {
    cell p;
    if (stack::ready() && stack::current_position(&p)) return p;
    return is.position ? *is.position : unset_value;
}

void set_tracing(bool on) {
    is.tracing = on;
    is.events = on && !is.compiled;
}

void debug_print(const char* text) {
    std::fputs("eval: ", stdout);
    std::fputs(text, stdout);
    std::fflush(stdout);
}

namespace detail {

void roots_overflow() { error::raise(error::cat_internal, error::internal_stack_overflow); }

uint32_t root_depth() { return root_count; }

} // namespace detail

// }==
// {== Expressions

namespace {

// The value slot of word [w] when it can be read without an error, else null: how the
// infix look-ahead peeks at the word after an expression.
ZYL_INLINE const cell* peek(const cell* w) {
    node_id ctx = w->w1;
    auto index = static_cast<int32_t>(w->w3);
    if (ctx == 0 || index < 0) return nullptr;
    const cell* c = context::cell_of(ctx);
    if (c->header & CTX_STACK_VALUES) return c->w2 ? es.bottom + (c->w2 - 1) + index : nullptr;
    series_buffer* b = memory::buffer_of(c->w2);
    const cell* slot = reinterpret_cast<const cell*>(b->head) + index;
    return slot < reinterpret_cast<const cell*>(b->tail) ? slot : nullptr;
}

// The push event for the value just pushed from position [i].
ZYL_INLINE void pushed(const code& c, uint32_t i) {
    if (is.events) [[unlikely]]
        trace_at(EV_PUSH, &c.block, i, nullptr, es.top - 1);
}

// A word whose value is a function: the call, named by the word.
[[gnu::noinline]] uint32_t call_word(const code& c, uint32_t i, const cell* w, const cell* slot) {
    cell fn = *slot;
    call_site site{*w, *w, nullptr, 0, 0, false};
    return call(&fn, c, i + 1, site);
}

[[noreturn, gnu::noinline]] void raise_no_value(const cell* w) {
    cell name = *w;
    error::raise(error::cat_script, error::script_no_value, &name);
}

// Natives 1 to 3 (if, unless, either) by their table index: the conditionals the
// interpreter runs as forms of its own (unless is 1).
constexpr uint32_t NATIVE_IF = 0, NATIVE_EITHER = 2;

uint32_t cond_form(const code& c, uint32_t i, const cell* w, const cell* fnp, const cell* sc);

ZYL_INLINE uint32_t eval_word(const code& c, uint32_t i, const cell* w) {
    const cell* slot = context::get_value(w);
    switch (slot->type()) {
    case T_unset: raise_no_value(w);
    case T_native:
        if (!is.events) {
            native_stack::check();
            if (const cell* sc = simple_spec(slot)) {
                if (slot->w1 <= NATIVE_EITHER && es.ftop > es.fbottom &&
                    !es.ftop[-1].form_symbol)
                    return cond_form(c, i, w, slot, sc);
                return call_plain(slot, sc, c, i + 1, w, w);
            }
        }
        return call_word(c, i, w, slot);
    case T_action:
    case T_function:
        if (!is.events) {
            native_stack::check();
            if (const cell* sc = simple_spec(slot)) return call_plain(slot, sc, c, i + 1, w, w);
        }
        return call_word(c, i, w, slot);
    case T_routine: return call_word(c, i, w, slot);
    case T_op: error::raise(error::cat_script, error::script_no_op_arg);
    default:
        stack::push(slot);
        pushed(c, i);
        return i + 1;
    }
}

// name: value. The value is evaluated in a frame named by the set-word (cell 0 the word,
// cell 1 the value), so that an error in it names the word.
uint32_t eval_set_word(const code& c, uint32_t i) {
    const cell* v = at(c, i);
    const cell* value = at(c, i + 1);
    if (!value) word::raise_need_value(v);
    // A literal with no operator after it cannot fail: it is stored at once, without the
    // frame that would name the word in an error.
    if (is_inert(value->type()) && value->type() != T_unset && !may_continue(c, i + 2) &&
        !is.events) {
        if (cell* slot = context::plain_set_slot(v, v->w1)) {
            *slot = *value;
            stack::push(value);
            return i + 2;
        }
    }
    stack::mark(v, frame_bits(MARK_INTERP_NATIVE));
    stack::push(v);
    uint32_t j = expr(c, i + 1, false, false);
    if (es.throw_code) return j;
    if (is.events) [[unlikely]] {
        trace_at(EV_SET, &c.block, i, stack::arg(0), stack::arg(1));
        if (es.throw_code) return j;
    }
    word::assign();
    if (es.throw_code) return j; // an on-change* hook threw: the stack is cut back already
    stack::unwind();
    return j;
}

// path: value. The value is evaluated in a frame named set-path, then stored through the path.
uint32_t eval_set_path(const code& c, uint32_t i) {
    cell sp = *at(c, i);
    if (!at(c, i + 1)) error::raise(error::cat_script, error::script_need_value, &sp);
    root_guard keep_path(&sp); // the value's evaluation may drop it from the block
    stack::mark(&words.set_path, frame_bits(MARK_INTERP_NATIVE));
    uint32_t j = expr(c, i + 1, false, false);
    if (es.throw_code) return j;
    if (is.events) {
        trace_at(EV_SET, &c.block, i, &sp, stack::arg(0));
        if (es.throw_code) return j;
    }
    path_expr(&sp, c, j, false, stack::arg(0));
    if (es.throw_code) return j;
    stack::keep(); // the stored value, not the path's answer, is the result
    stack::unwind();
    return j;
}

uint32_t eval_issue(const code& c, uint32_t i, const cell* v) {
    const cell* next = at(c, i + 1);
    if (next && next->type() == T_block) {
        uint32_t s = symbol::resolve(v->w2);
        if (s == words.system || s == words.system_global)
            error::raise(error::cat_internal, error::internal_zyl_system);
    }
    stack::push(v);
    pushed(c, i);
    return i + 1;
}

// A function value met in the block: called without a name (the frame is <anon>).
uint32_t eval_callable(const code& c, uint32_t i, const cell* v, bool literal_functions) {
    if (literal_functions) {
        stack::push(v);
        pushed(c, i);
        return i + 1;
    }
    cell fn = *v;
    call_site site{frame_word(es.anon_symbol), fn, nullptr, 0, 0, false};
    return call(&fn, c, i + 1, site);
}

// The walk of a whole block in the current frame: each value goes to [slot] (cell 0 of a
// frame just marked, or the cell above what a frame already holds), the top one above it.
ZYL_INLINE void walk_in_frame(const code& c, cell* slot) {
    uint32_t i = c.block.w1;
    if (is.events) [[unlikely]] {
        trace_at(EV_ENTER, &c.block, i, nullptr, nullptr);
        if (es.throw_code) return;
    }
    if (!at(c, i)) {
        stack::push_slot(); // an empty block gives unset
    } else {
        // The walk's frame records the position (errors read it as their "near"); compiled
        // code leaves the position at its caller's.
        call_frame* frame = es.ftop - 1;
        if (!is.compiled) {
            frame->header = (frame->header & ~0xFFu) | FRAME_WALK | c.block.type();
            frame->walk_node = c.block.w2;
        }
        const cell* v = at(c, i);
        for (;;) {
            frame->walk_index = i;
            uint32_t start = i;
            i = expr_from(c, i, v, false, false);
            if (es.throw_code) return;
            *slot = es.top[-1];
            es.top = slot + 1;
            if (is.events) [[unlikely]] {
                trace_at(EV_EXPR, &c.block, i, at(c, start), slot);
                if (es.throw_code) return;
            }
            v = at(c, i);
            if (!v) break;
            es.top = slot;
        }
    }
    if (is.events) [[unlikely]] {
        trace_at(EV_EXIT, &c.block, i, nullptr, slot);
        if (es.throw_code) return;
    }
}

// A paren: its values are evaluated in the current frame, which records the paren as its
// position while it runs.
ZYL_INLINE void paren_walk(const cell* paren) {
    root_guard keep_paren(paren);
    native_stack::check(); // nested parens recurse with no call between them
    if (es.ftop == es.fbottom) [[unlikely]] {
        cell body = frame_word(es.body_symbol);
        stack::mark(&body, frame_bits(MARK_INTERP_NATIVE));
        walk_in_frame(make_code(paren, tail_of(paren)), es.base);
        if (es.throw_code) return;
        stack::unwind();
        return;
    }
    position_scope saved(es.ftop - 1);
    walk_in_frame(make_code(paren, tail_of(paren)), es.top);
}

// if, unless or either ([fnp], its simple spec [sc]) called by word [w] at [i], run without a
// frame, argument cells or call: the current frame stands for the native's (reports name it
// there), the condition is its cell 0 and the chosen block is walked in it. Literal blocks
// are read where they stand; other arguments are evaluated and checked as a call would.
[[gnu::noinline]] uint32_t cond_form(const code& c, uint32_t i, const cell* w, const cell* fnp,
                                     const cell* sc) {
    cell name = *w; // the block may move
    cell fn = *fnp;
    node_id spec = sc->w2;
    uint32_t which = fn.w1;
    uint32_t nargs = which == NATIVE_EITHER ? 3 : 2;
    call_frame* frame = es.ftop - 1;
    walk_scope saved(frame);
    frame->form_symbol = name.w2;
    frame->form_context = name.w1;
    cell* result = es.top;
    uint32_t pos = i + 1;
    cell branch;
    for (uint32_t k = 0; k < nargs; k++) {
        const cell* v = at(c, pos);
        if (!v) plain_no_arg(&name, &fn, k);
        // The branches as literal blocks, nothing after them that could continue the
        // expression: read where they stand, once the condition is known.
        if (k == 1 && v->type() == T_block) {
            const cell* n = at(c, pos + 1);
            if (nargs == 3 && n && n->type() == T_block && !may_continue(c, pos + 2)) {
                if (result->type() == T_unset)
                    error::raise(error::cat_script, error::script_no_return);
                branch = logic::is_true(result, false) ? *v : *n;
                pos += 2;
                goto walk;
            }
            if (nargs == 2 && (!n || n->type() != T_word)) {
                pos++;
                if (logic::is_true(result, false) != (which == NATIVE_IF)) break;
                branch = *v;
                goto walk;
            }
        }
        pos = expr_from(c, pos, v, false, false);
        if (es.throw_code) return pos;
        uint8_t vt = es.top[-1].type();
        if (!error::typeset_has(block::cells_of(spec) + k, vt)) [[unlikely]]
            plain_expect_arg(&name, &fn, k, vt);
    }
    // Every argument evaluated, pushed after the condition in order.
    if (which == NATIVE_EITHER) {
        if (result->type() == T_unset) error::raise(error::cat_script, error::script_no_return);
        branch = result[logic::is_true(result, false) ? 1 : 2];
    } else if (logic::is_true(result, false) == (which == NATIVE_IF)) {
        branch = result[1];
    } else {
        *result = none_value;
        es.top = result + 1;
        return pos;
    }
walk:
    root_guard keep_branch(&branch);
    es.top = result;
    walk_in_frame(make_code(&branch, tail_of(&branch)), result);
    return pos;
}

// The values that need more than a push, out of the hot path.
[[gnu::noinline]] uint32_t dispatch_other(const code& c, uint32_t i, const cell* v,
                                          bool literal_functions) {
    switch (v->type()) {
    case T_paren: {
        cell p = *v;
        paren_walk(&p);
        return i + 1;
    }
    case T_path: {
        cell p = *v;
        return path_expr(&p, c, i + 1, false, nullptr);
    }
    case T_get_path: {
        cell p = *v;
        return path_expr(&p, c, i + 1, true, nullptr);
    }
    case T_set_path: return eval_set_path(c, i);
    case T_lit_path:
        cells::set_type(stack::push(v), T_path);
        pushed(c, i);
        return i + 1;
    case T_issue: return eval_issue(c, i, v);
    case T_native:
    case T_action:
    case T_function:
    case T_routine: return eval_callable(c, i, v, literal_functions);
    case T_op: error::raise(error::cat_script, error::script_no_op_arg);
    default: runtime_error(RT_NO_SWITCH);
    }
}

// The value at [i] and what it consumes, without infix continuation.
ZYL_INLINE uint32_t dispatch(const code& c, uint32_t i, const cell* v, bool literal_functions) {
    if (is.events) [[unlikely]] {
        trace_at(EV_FETCH, &c.block, i, nullptr, v);
        if (es.throw_code) return i;
        v = at(c, i);
    }
    switch (v->type()) {
    case T_word: return eval_word(c, i, v);
    case T_set_word: return eval_set_word(c, i);
    case T_get_word:
        stack::push(context::get_value(v));
        pushed(c, i);
        return i + 1;
    case T_lit_word:
        cells::set_type(stack::push(v), T_word);
        pushed(c, i);
        return i + 1;
    case T_paren: {
        cell p = *v;
        paren_walk(&p);
        return i + 1;
    }
    default:
        if (!is_inert(v->type())) [[unlikely]]
            return dispatch_other(c, i, v, literal_functions);
        stack::push(v);
        pushed(c, i);
        return i + 1;
    }
}

// Operators whose integer cases run inline: no frame, no call spec walk.
enum fast_op : int32_t {
    FAST_NONE = -1,
    FAST_ADD = 0, // codes 0-2 are those of actions::fast_arith_on_stack
    FAST_SUBTRACT = 1,
    FAST_MULTIPLY = 2,
    FAST_REMAINDER = 3,
    FAST_DIVIDE = 4, // inline only with a float! operand
    FAST_COMPARE = 16, // plus the comparison code of actions::fast_compare_on_stack
};

// The fast code of operator [op] (made from add, subtract, multiply, remainder, divide or a
// comparison native), or FAST_NONE.
ZYL_INLINE int32_t fast_op_code(const cell* op) {
    uint8_t source = op::source_type(op);
    if (source == T_action) {
        switch (op->w1 + 1) {
        case A_add: return FAST_ADD;
        case A_subtract: return FAST_SUBTRACT;
        case A_multiply: return FAST_MULTIPLY;
        case A_remainder: return FAST_REMAINDER;
        case A_divide: return FAST_DIVIDE;
        default: return FAST_NONE;
        }
    }
    // equal? not-equal? strict-equal? lesser? greater? lesser-or-equal? greater-or-equal?
    static constexpr int8_t compare_codes[] = {0, 1, 2, 3, 5, 4, 6};
    uint32_t n = op->w1 + 1;
    if (source != T_native || n < 25 || n > 31) return FAST_NONE;
    return FAST_COMPARE + compare_codes[n - 25];
}

// The last pushed cell (an integer) becomes itself [op] [b] (an integer), inline when it can;
// otherwise through the action in a frame named by [name].
ZYL_INLINE void fast_int_op(int32_t op, const cell* name, const cell* b) {
    if (op >= FAST_COMPARE) {
        actions::fast_compare_on_stack(op - FAST_COMPARE, name, b);
    } else if (op == FAST_REMAINDER) {
        // callers leave a zero divisor to the action; by -1 the answer is 0 (the smallest
        // integer would overflow)
        auto x = static_cast<int32_t>(es.top[-1].w2), y = static_cast<int32_t>(b->w2);
        es.top[-1].w2 = static_cast<uint32_t>(y == -1 ? 0 : x % y);
    } else {
        actions::fast_arith_on_stack(op, name, b);
    }
}

inline bool is_number(uint8_t t) { return t == T_integer || t == T_float_; }

// An integer! or float! right operand that is a literal or a word's value, or null.
ZYL_INLINE const cell* number_operand(const cell* r) {
    if (!r) return nullptr;
    if (is_number(r->type())) return r;
    if (r->type() != T_word) return nullptr;
    const cell* v = peek(r);
    return v && is_number(v->type()) ? v : nullptr;
}

// The last pushed cell (a number) becomes itself [op] [b] (a number, one of the two a float!)
// inline, as the actions compute it: a float! sum, difference, product or quotient in double
// precision (a zero divisor gives an infinity or NaN, as the action does), a comparison by
// the float rules. False for the operators left to the action.
[[gnu::noinline]] bool float_op(int32_t op, const cell* b) {
    cell* a = es.top - 1;
    if (op >= FAST_COMPARE) {
        bool t = actions::finish_compare_here(op - FAST_COMPARE, a, b);
        *a = cell{T_logic, t ? 1u : 0u, 0, 0};
        return true;
    }
    if (op == FAST_REMAINDER) return false;
    auto as_double = [](const cell* c) {
        return c->type() == T_integer ? double(static_cast<int32_t>(c->w2)) : float_::get(c);
    };
    double x = as_double(a), y = as_double(b);
    *a = float_::make_value(op == FAST_ADD        ? x + y
                            : op == FAST_SUBTRACT ? x - y
                            : op == FAST_MULTIPLY ? x * y
                                                  : x / y);
    return true;
}

// [op] on the last pushed cell and [b], both numbers, inline when it can: answers false
// when the operator must run as a call.
ZYL_INLINE bool number_op(int32_t op, const cell* name, const cell* b) {
    if (ZYL_LIKELY(es.top[-1].type() == T_integer && b->type() == T_integer)) {
        // two integers divide by the action: zero divisors, exact and inexact quotients
        if (op == FAST_DIVIDE || (op == FAST_REMAINDER && b->w2 == 0)) return false;
        fast_int_op(op, name, b);
        return true;
    }
    return float_op(op, b);
}

// Operator [op] (word [w] at [j]) with an integer left operand and fast code [code]: the right
// operand is evaluated in the operator's frame, as a call would, and two integers are combined
// inline; anything else finishes as the call.
[[gnu::noinline]] uint32_t infix_evaluated(const code& c, uint32_t j, const cell* w,
                                           const cell* r, const cell* op, int32_t code) {
    cell name = *w;
    root_guard keep_op(op);
    es.top--; // the left operand becomes the frame's cell 0
    stack::mark(&name, frame_bits(MARK_INTERP_NATIVE));
    es.top++;
    uint32_t k = expr_from(c, j + 1, r, true, false);
    if (es.throw_code) return k;
    if (is_number(es.top[-1].type()) && is_number(es.base->type())) {
        cell right = es.top[-1];
        es.top--;
        if (number_op(code, &name, &right)) {
            stack::unwind();
            return k;
        }
        es.top++;
    }
    finish_infix_call(op, &name);
    return k;
}

ZYL_INLINE uint32_t infix(const code& c, uint32_t j) {
    for (;;) {
        const cell* w = at(c, j);
        if (!w || w->type() != T_word) return j;
        const cell* slot = peek(w);
        if (!slot || slot->type() != T_op) return j;
        cell op = *slot;
        if (!is.events && is_number(es.top[-1].type())) {
            int32_t code = fast_op_code(&op);
            if (code != FAST_NONE) {
                const cell* r = at(c, j + 1);
                if (const cell* b = number_operand(r)) {
                    cell name = *w;
                    cell right = *b;
                    if (number_op(code, &name, &right)) {
                        j += 2;
                        continue;
                    }
                } else if (r) {
                    j = infix_evaluated(c, j, w, r, &op, code);
                    if (es.throw_code) return j;
                    continue;
                }
            }
        }
        j = call_operator(c, j, &op);
        if (es.throw_code) return j;
    }
}

} // namespace

namespace detail {

uint32_t call_operator(const code& c, uint32_t j, const cell* op) {
    call_site site{*at(c, j), *at(c, j), nullptr, 0, 0, true};
    if (is.events) {
        trace_at(EV_FETCH, &c.block, j, nullptr, &site.name);
        if (es.throw_code) return j;
    }
    cell fn = *op;
    return call(&fn, c, j + 1, site);
}

uint32_t expr_from(const code& c, uint32_t i, const cell* v, bool no_infix,
                   bool literal_functions) {
    uint32_t j = dispatch(c, i, v, literal_functions);
    if (no_infix || es.throw_code) return j;
    return infix(c, j);
}

void eval_paren(const cell* paren) { paren_walk(paren); }

void walk_here(const code& c) {
    cell* slot = es.top;
    walk_in_frame(c, slot);
    if (es.throw_code) return;
    *es.base = *slot;
    es.top = es.base + 1;
}

// Every way into a block's evaluation passes a call, which checks the native stack.
void run_block(const code& c, bool keep_last) {
    cell body = frame_word(es.body_symbol);
    stack::mark(&body, frame_bits(MARK_EVAL));
    walk_in_frame(c, es.base);
    if (es.throw_code) return;
    if (keep_last) {
        stack::unwind_last();
    } else {
        stack::unwind();
    }
}

} // namespace detail

void run_pass(const call_frame* loop, const cell* block) {
    es.top = es.base;
    if (es.ftop - 1 == loop) {
        cell body = frame_word(es.body_symbol);
        stack::mark(&body, frame_bits(MARK_EVAL));
    }
    walk_in_frame(make_code(block, tail_of(block)), es.base);
}

// }==
// {== Entries

void eval_block(const cell* block, bool keep_last) {
    code c = make_code(block, tail_of(block));
    root_guard keep_block(&c.block, off_stack(block));
    run_block(c, keep_last);
}

uint32_t eval_expression_at(const cell* block, uint32_t pos, uint32_t tail, bool no_infix,
                            bool push, bool literal_functions) {
    code c = make_code(block, tail);
    root_guard keep_block(&c.block, off_stack(block));
    uint32_t j = pos;
    if (!at(c, pos)) {
        stack::push_slot(); // nothing left: unset
    } else {
        j = expr(c, pos, no_infix, literal_functions);
        if (es.throw_code) return j;
    }
    if (!push) {
        stack::set_last_keep(es.top - 1);
        if (is.events) trace_at(EV_EXPR, &c.block, j, at(c, pos), es.base);
    }
    return j;
}

uint32_t eval_entry_at(const cell* block, uint32_t pos, uint32_t tail, bool push) {
    code c = make_code(block, tail);
    root_guard keep_block(&c.block, off_stack(block));
    cell body = frame_word(es.body_symbol);
    stack::mark(&body, frame_bits(MARK_INTERP_NATIVE));
    uint32_t j = pos;
    if (!at(c, pos)) {
        stack::push_slot();
    } else {
        j = expr(c, pos, false, false);
        if (es.throw_code) return j;
    }
    if (push) {
        stack::unwind();
    } else {
        stack::unwind_last();
    }
    return j;
}

uint32_t eval_next(const cell* block) {
    uint32_t i = block->w1;
    uint32_t tail = tail_of(block);
    if (i >= tail) {
        stack::push_slot(); // as eval_entry_at leaves it: the result also stays pushed
        *es.base = unset_value;
        return i;
    }
    return eval_entry_at(block, i, tail, false);
}

namespace {

// The position of address [p] in [block]'s buffer.
uint32_t index_of(const cell* block, const cell* p) {
    return static_cast<uint32_t>(p -
                                 reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head));
}

// The address of position [i] in [block]'s buffer, as it is now.
const cell* address_of(const cell* block, uint32_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head) + i;
}

} // namespace

const cell* eval_expression(const cell* pos, const cell* tail, const cell* block, bool no_infix,
                            bool push, bool literal_functions) {
    cell b = *block;
    uint32_t j = eval_expression_at(&b, index_of(&b, pos), index_of(&b, tail), no_infix, push,
                                    literal_functions);
    return address_of(&b, j);
}

const cell* eval_entry(const cell* block, const cell* pos, const cell* tail, bool push) {
    cell b = *block;
    uint32_t j = eval_entry_at(&b, index_of(&b, pos), index_of(&b, tail), push);
    return address_of(&b, j);
}

// }==

} // namespace zyl::interp
