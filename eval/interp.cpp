// eval/interp.cpp: the evaluation loop: blocks, expressions, set-words, parens and infix
// operators; the interpreter's state and the roots it keeps.
#include "eval/interp.h"

#include <cstdio>

#include "datatypes/context.h"
#include "datatypes/core.h"
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
}

using namespace detail;

namespace {

cell tracer_cell;
cell position_cell;

// The interpreter's roots. Each is taken together with a frame the interpreter pushes (a
// block walk, an infix call), at most two per frame, so the call stack overflows first.
constexpr uint32_t ROOT_CAPACITY = 2 * CALL_STACK_FRAMES + 64;
cell roots[ROOT_CAPACITY];
uint32_t root_count;

void mark_roots() {
    collector::mark_values(&tracer_cell, &tracer_cell + 1);
    collector::mark_values(&position_cell, &position_cell + 1);
    collector::mark_values(roots, roots + root_count);
}

// Restores the current-position cell when a block walk ends, however it ends.
struct position_saver {
    bool active;
    cell saved;
    explicit position_saver(bool on) : active(on), saved(on ? *is.position : unset_value) {}
    ~position_saver() {
        if (active) *is.position = saved;
    }
};

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

root_guard::root_guard(const cell* c, bool when) : taken(when) {
    if (!when) return;
    if (root_count == ROOT_CAPACITY) [[unlikely]]
        error::raise(error::cat_internal, error::internal_stack_overflow);
    roots[root_count++] = *c;
}
root_guard::~root_guard() {
    if (taken) root_count--;
}

uint32_t root_depth() { return root_count; }

code make_code(const cell* block, uint32_t tail) {
    if (!block) return code{none_value, 0};
    return code{*block, tail};
}

} // namespace detail

uint32_t tail_of(const cell* block) {
    return memory::buffer_of(block->w2)->used_bytes() / sizeof(cell);
}

// }==
// {== Expressions

namespace {

// The value slot of word [w] when it can be read without an error, else null: how the
// infix look-ahead peeks at the word after an expression.
const cell* peek(const cell* w) {
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
inline void pushed(const code& c, uint32_t i) {
    if (is.events) [[unlikely]]
        trace_at(EV_PUSH, &c.block, i, nullptr, es.top - 1);
}

uint32_t eval_word(const code& c, uint32_t i, const cell* w) {
    const cell* slot = context::get_value(w);
    switch (slot->type()) {
    case T_unset: {
        cell name = *w;
        error::raise(error::cat_script, error::script_no_value, &name);
    }
    case T_native:
    case T_action:
    case T_function:
    case T_routine: {
        cell fn = *slot;
        call_site site{*w, *w, nullptr, 0, 0, false};
        return call(&fn, c, i + 1, site);
    }
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
    cell sw = *at(c, i);
    if (!at(c, i + 1)) error::raise(error::cat_script, error::script_need_value, &sw);
    stack::mark(&sw, frame_bits(MARK_INTERP_NATIVE));
    stack::push(&sw);
    uint32_t j = expr(c, i + 1, false, false);
    if (es.throw_code) return j;
    if (is.events) {
        trace_at(EV_SET, &c.block, i, &sw, stack::arg(1));
        if (es.throw_code) return j;
    }
    word::assign();
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

// The value at [i] and what it consumes, without infix continuation.
uint32_t dispatch(const code& c, uint32_t i, bool literal_functions) {
    const cell* v = at(c, i);
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
        eval_paren(&p);
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
    default:
        stack::push(v);
        pushed(c, i);
        return i + 1;
    }
}

// While the next value is a word whose value is an op!, calls it with the value just pushed
// as its left operand. Left to right: 1 + 2 * 3 is (1 + 2) * 3.
// The code with which the fast paths run operator [op] (made from add, subtract, multiply
// or a comparison native: all take any two integers), or -1; [compare] tells which kind.
int32_t fast_op_code(const cell* op, bool* compare) {
    uint8_t source = op::source_type(op);
    if (source == T_action) {
        *compare = false;
        switch (op->w1 + 1) {
        case A_add: return 0;
        case A_subtract: return 1;
        case A_multiply: return 2;
        default: return -1;
        }
    }
    // equal? not-equal? strict-equal? lesser? greater? lesser-or-equal? greater-or-equal?
    static constexpr int8_t compare_codes[] = {0, 1, 2, 3, 5, 4, 6};
    uint32_t n = op->w1 + 1;
    if (source != T_native || n < 25 || n > 31) return -1;
    *compare = true;
    return compare_codes[n - 25];
}

// An integer right operand that is a literal or a word's value, or null.
const cell* integer_operand(const cell* r) {
    if (!r) return nullptr;
    if (r->type() == T_integer) return r;
    if (r->type() != T_word) return nullptr;
    const cell* v = peek(r);
    return v && v->type() == T_integer ? v : nullptr;
}

uint32_t infix(const code& c, uint32_t j) {
    for (;;) {
        const cell* w = at(c, j);
        if (!w || w->type() != T_word) return j;
        const cell* slot = peek(w);
        if (!slot || slot->type() != T_op) return j;
        cell op = *slot;
        // Integer arithmetic and comparison, the bulk of loops, run inline: no frame, no call
        // spec walk. Overflow and errors go the ordinary way inside the fast paths.
        if (!is.events && es.top[-1].type() == T_integer) {
            bool compare;
            int32_t op_code = fast_op_code(&op, &compare);
            const cell* b = op_code >= 0 ? integer_operand(at(c, j + 1)) : nullptr;
            if (b) {
                cell name = *w;
                cell right = *b;
                if (compare)
                    actions::fast_compare_on_stack(op_code, &name, &right);
                else
                    actions::fast_arith_on_stack(op_code, &name, &right);
                j += 2;
                continue;
            }
        }
        call_site site{*w, *w, nullptr, 0, 0, true};
        if (is.events) {
            trace_at(EV_FETCH, &c.block, j, nullptr, &site.name);
            if (es.throw_code) return j;
        }
        j = call(&op, c, j + 1, site);
        if (es.throw_code) return j;
    }
}

} // namespace

namespace detail {

uint32_t expr(const code& c, uint32_t i, bool no_infix, bool literal_functions) {
    uint32_t j = dispatch(c, i, literal_functions);
    if (no_infix || es.throw_code) return j;
    return infix(c, j);
}

void eval_paren(const cell* paren) {
    root_guard keep_paren(paren);
    cell body = frame_word(es.body_symbol);
    stack::mark(&body, frame_bits(MARK_INTERP_NATIVE));
    run_block(make_code(paren, tail_of(paren)), true);
    if (es.throw_code) return;
    stack::unwind();
}

void run_block(const code& c, bool keep_last) {
    native_stack::check();
    cell body = frame_word(es.body_symbol);
    stack::mark(&body, frame_bits(MARK_EVAL));
    bool positioned = !is.compiled; // compiled code leaves the position at its caller's
    position_saver saver(positioned);
    uint32_t i = c.block.w1;
    if (is.events) {
        trace_at(EV_ENTER, &c.block, i, nullptr, nullptr);
        if (es.throw_code) return;
    }
    if (!at(c, i)) {
        stack::push_slot(); // an empty block gives unset
    } else {
        for (;;) {
            if (positioned) {
                *is.position = c.block;
                is.position->w1 = i;
            }
            uint32_t start = i;
            i = expr(c, i, false, false);
            if (es.throw_code) return;
            stack::set_last_keep(es.top - 1);
            if (is.events) {
                trace_at(EV_EXPR, &c.block, i, at(c, start), es.base);
                if (es.throw_code) return;
            }
            if (!at(c, i)) break;
            stack::reset();
        }
    }
    if (is.events) {
        trace_at(EV_EXIT, &c.block, i, nullptr, es.base);
        if (es.throw_code) return;
    }
    if (keep_last) {
        stack::unwind_last();
    } else {
        stack::unwind();
    }
}

} // namespace detail

// }==
// {== Entries

void eval_block(const cell* block, bool keep_last) {
    code c = make_code(block, tail_of(block));
    root_guard keep_block(&c.block);
    run_block(c, keep_last);
}

uint32_t eval_expression_at(const cell* block, uint32_t pos, uint32_t tail, bool no_infix,
                            bool push, bool literal_functions) {
    code c = make_code(block, tail);
    root_guard keep_block(&c.block);
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
    root_guard keep_block(&c.block);
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
