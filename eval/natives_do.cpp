// eval/natives_do.cpp: the natives that evaluate values they are given: do (with its tracer
// set-up), reduce, compose and apply.
#include <algorithm>
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/control_internal.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/natives_control.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::natives {

using namespace control;

namespace {

bool is_callable(uint8_t t) {
    return t == T_native || t == T_action || t == T_op || t == T_function || t == T_routine;
}

// Whether [v] must go through the interpreter to give its value.
bool needs_evaluation(uint8_t t) {
    switch (t) {
    case T_word:
    case T_set_word:
    case T_get_word:
    case T_lit_word:
    case T_path:
    case T_lit_path:
    case T_set_path:
    case T_get_path:
    case T_paren: return true;
    default: return is_callable(t);
    }
}

} // namespace

void control::eval_value(const cell* v) {
    if (!needs_evaluation(v->type())) {
        stack::set_last_keep(v);
        return;
    }
    // The value is the one expression of a block of its own, so that the interpreter sees
    // it exactly as in source.
    cell* b = block::push_new(1);
    block::append_value(b, v);
    interp::eval_block(b, true);
}

// {== do

namespace {

bool trace_started; // a do/trace is running: a nested one starts no second trace

void stop_trace() {
    interp::set_tracing(false);
    interp::is.default_tracing = false;
    *interp::is.tracer = none_value;
    trace_started = false;
}

// Ends the trace whatever way the do is left; the end event is sent only on a normal way.
// The traced code is evaluated step by step even when a library function passed it on.
struct trace_scope {
    bool active = false;
    bool started = false;
    bool saved_compiled = false;
    void start() {
        active = started = true;
        saved_compiled = interp::is.compiled;
        interp::is.compiled = false;
    }
    ~trace_scope() {
        if (active) stop_trace();
        if (started) {
            interp::is.compiled = saved_compiled;
            interp::set_tracing(interp::is.tracing);
        }
    }
};

// Runs what follows as interpreted code when [on], restoring the mode on every way out.
struct interpreted_scope {
    bool on;
    bool saved = interp::is.compiled;
    explicit interpreted_scope(bool on_) : on(on_ && interp::is.compiled) {
        if (!on) return;
        interp::is.compiled = false;
        interp::set_tracing(interp::is.tracing);
    }
    ~interpreted_scope() {
        if (!on) return;
        interp::is.compiled = saved;
        interp::set_tracing(interp::is.tracing);
    }
    interpreted_scope(const interpreted_scope&) = delete;
    interpreted_scope& operator=(const interpreted_scope&) = delete;
};

// Keeps [callback] as the tracer, with the events it asks for and its local slots, and
// sends it the start event for [code].
void start_trace(const cell* callback, const cell* code) {
    *interp::is.tracer = *callback;
    interp::is.event_mask = interp::event_mask(callback);
    interp::is.extra_slots =
        callback->type() == T_function
            ? static_cast<uint32_t>(function::count_args(callback->w2, 0, false))
            : 0;
    interp::is.default_tracing = true;
    interp::set_tracing(true);
    trace_started = true;
    interp::trace_init(series::is_any_block(code->type()) ? code : nullptr);
}

// The end event, with a pending exit kept aside while the tracer runs.
void end_trace(const cell* code) {
    uint32_t pending_code = es.throw_code;
    es.throw_code = THROW_NONE;
    // An exit leaves its target's result in cell 0 with top at base: the tracer's cells must
    // go above it.
    cell* top = es.top;
    if (es.top == es.base) es.top++;
    interp::trace_end(series::is_any_block(code->type()) ? code : nullptr);
    if (es.throw_code == THROW_NONE) {
        es.throw_code = pending_code;
        es.top = top;
    }
    stop_trace();
}

// The field [name] of object [obj], or null when [obj] is missing, not an object, or lacks it.
const cell* field_of(const cell* obj, const char* name) {
    if (!obj || !object::is_object_type(obj->type())) return nullptr;
    node_id ctx = object::context_of(obj);
    int32_t index = context::find_word(ctx, symbol::make(name), true);
    return index < 0 ? nullptr : context::value_at(ctx, uint32_t(index));
}

// Runs the preprocessor's expand on block [blk] (a stack cell), in place, with the build
// configuration as its job: directive code reads config/OS the same in scripts and here.
void expand_block(const cell* blk) {
    const cell* fn = field_of(context::global_value(symbol::make("preprocessor")), "expand");
    if (!fn || fn->type() != T_function) not_yet_available("do/expand");
    cell args[2] = {*blk, none_value};
    const cell* build = field_of(context::global_value(symbol::make("system")), "build");
    if (const cell* config = field_of(build, "config")) args[1] = *config;
    cell* f = stack::push(fn);
    cell* in = stack::push(&args[0]);
    stack::push(&args[1]);
    interp::call_with(f, in, 2);
}

// Evaluates block [blk] (a stack cell): whole, into cell 0; or with [next] (the position of
// the /next word) one expression, setting the word to the block after it.
void do_block(cell* blk, int32_t expand, int32_t next) {
    uint32_t total = interp::tail_of(blk);
    if (blk->w1 > total) blk->w1 = total;
    if (expand >= 0) {
        cell* top = es.top;
        expand_block(blk);
        if (pending()) return;
        es.top = top;
    }
    if (next < 0) {
        interp::eval_block(blk, true);
        return;
    }
    cell* walk = stack::push(blk);
    cell* word = stack::push(stack::arg(static_cast<uint32_t>(next)));
    uint32_t idx = interp::eval_next(walk);
    if (pending()) return;
    walk->w1 = idx;
    word::set_value(word, walk);
}

// A script file or URL runs through the library's do-file, with the callback and the
// arguments value (none when not given); its result goes into cell 0.
void do_file(int32_t trace, int32_t args) {
    const cell* fn = context::global_value(symbol::make("do-file"));
    if (!fn || fn->type() != T_function) not_yet_available("do-file");
    cell f = *fn;
    cell* in = stack::push(stack::arg(0));
    stack::push(trace >= 0 ? stack::arg(uint32_t(trace)) : &none_value);
    stack::push(args >= 0 ? stack::arg(uint32_t(args)) : &none_value);
    cell* r = interp::call_with(&f, in, 3);
    if (r) *stack::arg(0) = *r;
}

// The text of string [s] (a stack cell) loaded into a block pushed on the stack.
cell* load_string(const cell* s) {
    cell* result = stack::push(&none_value);
    lexer::options o;
    lexer::scan_string(result, s, -1, o);
    return result;
}

} // namespace

void do_(int32_t check, int32_t expand, int32_t args, int32_t next, int32_t trace) {
    if (next >= 0) check_arg(check, ts_word, next);
    if (trace >= 0) check_arg(check, ts_function, trace);
    uint8_t kind = stack::arg(0)->type();
    if (kind == T_file || kind == T_url) {
        do_file(trace, args);
        return;
    }
    cell* v = stack::push(stack::arg(0)); // the value, where cell 0 may be overwritten
    trace_scope scope;
    if (trace >= 0 && !trace_started) {
        scope.start();
        start_trace(stack::arg(static_cast<uint32_t>(trace)), v);
        if (pending()) return;
    }
    if (next >= 0)
        word::get_value(stack::arg(static_cast<uint32_t>(next))); // an unbound word fails first
    // A block is data, never library code: evaluated from a library function it runs as
    // interpreted code, recording its position for the errors it raises.
    interpreted_scope interpreted(v->type() == T_block || v->type() == T_paren || v->type() == T_string);
    switch (v->type()) {
    case T_block:
    case T_paren:
    case T_hash: do_block(v, expand, next); break;
    case T_string: do_block(load_string(v), expand, next); break;
    case T_error: stack::throw_error(v);
    default: eval_value(v);
    }
    if (scope.active) {
        end_trace(v);
        scope.active = false;
    }
}

// }==
// {== reduce

namespace {

// Puts the value on the stack top into [out] (the cell just below it) and pops it: appended,
// or inserted at the index of [out], which moves past it.
void put_top(cell* out, bool append) {
    if (series::is_any_block(out->type())) {
        if (append) {
            block::append_top();
        } else {
            block::insert_top();
        }
        return;
    }
    cell* v = stack::top();
    cell* r = append ? actions::append_typed(out, v, nullptr, false, nullptr)
                     : actions::insert_typed(out, v, nullptr, false, nullptr);
    if (!append) out->w1 = r->w1;
    es.top = out + 1;
}

// Tells the owner of [out] (when it has one) that reduce put values into it.
void tell_owner(const cell* out, bool append, uint32_t index, uint32_t count) {
    if (!series::is_series_type(out->type()) || out->type() == T_map) return;
    const cell& action = append ? words::loaded.appended : words::loaded.inserted;
    owner::tell(out, action, nullptr, static_cast<int32_t>(index), static_cast<int32_t>(count));
}

// reduce of block [src] into [into] (a stack cell) or a new block.
void reduce_block(const cell* src, const cell* into) {
    cell* walk = push_walk(src);
    uint32_t end = interp::tail_of(walk); // values the walk itself appends are not walked
    stack::mark_native(&fw.reduce);
    cell* out = into ? stack::push(into) : block::push_new(static_cast<int32_t>(end - walk->w1));
    bool append = !into || series::rs_tail_q(out);
    uint32_t first = out->w1, count = 0;
    cell* mark = es.top;
    for (uint32_t idx = walk->w1; idx < std::min(end, interp::tail_of(walk)); count++) {
        int64_t next = eval_at(walk, idx, end, true);
        if (next < 0) return;
        idx = static_cast<uint32_t>(next);
        cells::clear_new_line(stack::top());
        put_top(out, append);
        es.top = mark;
    }
    if (into) tell_owner(out, append, first, count);
    stack::unwind_last();
}

} // namespace

void reduce(int32_t check, int32_t into) {
    if (into >= 0) check_arg(check, ts_any_block, into);
    cell* v = stack::arg(0);
    cell* out = into >= 0 ? stack::arg(static_cast<uint32_t>(into)) : nullptr;
    if (v->type() == T_block) {
        reduce_block(v, out);
        return;
    }
    if (!is_callable(v->type())) {
        eval_value(v);
        if (pending()) return;
    }
    if (!out) return;
    cell o = *out;
    bool append = series::rs_tail_q(&o);
    cell value = *es.base;
    stack::reset();
    cell* target = stack::push(&o);
    stack::push(&value);
    put_top(target, append);
    tell_owner(target, append, o.w1, 1);
    stack::set_last_keep(target);
}

// }==
// {== compose

namespace {

constexpr uint32_t COMPOSE_DEPTH = 1000;

// The blocks a compose/deep has descended into, innermost first: a block that holds itself
// would be descended into for ever.
struct compose_path {
    node_id node;
    const compose_path* outer;
    uint32_t depth;
};

// The path one level further down, into the block of node [n].
compose_path descend(const compose_path* outer, node_id n) {
    for (const compose_path* p = outer; p; p = p->outer) {
        if (p->node == n) error::raise(error::cat_internal, error::internal_no_cycle);
    }
    uint32_t depth = outer ? outer->depth + 1 : 1;
    if (depth >= COMPOSE_DEPTH) error::raise(error::cat_internal, error::internal_too_deep);
    return compose_path{n, outer, depth};
}

struct compose_options {
    bool deep;
    bool only;
};

// Adds [v] (a cell outside any buffer) to [target]: at its tail, or at its index, moving it
// past the new value.
void add(cell* target, const cell* v, bool append) {
    if (append) {
        block::append_value(target, v);
    } else {
        block::insert_value(target, v, true, false);
    }
}

// Adds each value of block [b] (a stack cell) from its index.
void splice(cell* target, const cell* b, bool append) {
    for (uint32_t i = b->w1; i < interp::tail_of(b); i++) {
        cell v = block::cells_of(b->w2)[i];
        add(target, &v, append);
    }
}

void compose_block(const cell* src, cell* target, compose_options o, bool append,
                   const compose_path* path);

// One value [c] of the source, copied out of it; [path] the blocks composed around it.
void compose_value(const cell& c, cell* target, compose_options o, bool append,
                   const compose_path* path) {
    if (c.type() == T_block && o.deep) {
        compose_path inner = descend(path, c.w2);
        cell* sub = push_walk(&c);
        cell* made = block::push_new(static_cast<int32_t>(block::rs_length_q(sub)));
        compose_block(sub, made, o, true, &inner);
        if (!pending()) add(target, made, append);
        es.top = sub;
        return;
    }
    if (c.type() != T_paren) {
        add(target, &c, append);
        return;
    }
    if (block::rs_length_q(&c) == 0) return;
    cell* p = stack::push(&c);
    interp::eval_block(p, false);
    if (pending()) return;
    cell* r = stack::top();
    if (r->type() == T_block && !o.only) {
        splice(target, r, append);
    } else if (r->type() != T_unset) {
        add(target, r, append);
    }
    es.top = p;
}

void compose_block(const cell* src, cell* target, compose_options o, bool append,
                   const compose_path* path) {
    uint32_t end = interp::tail_of(src); // values added to the source itself are not walked
    for (uint32_t i = src->w1; i < std::min(end, interp::tail_of(src)); i++) {
        cell c = block::cells_of(src->w2)[i];
        compose_value(c, target, o, append, path);
        if (pending()) return;
    }
}

} // namespace

void compose(int32_t check, int32_t deep, int32_t only, int32_t into) {
    check_arg(check, ts_block, 0);
    if (into >= 0) check_arg(check, ts_any_block, into);
    cell* v = stack::arg(0);
    if (v->type() != T_block) {
        cell want = datatype::make_value(T_block);
        cell got = datatype::make_value(v->type());
        error::raise(error::cat_script, error::script_expect_val, &want, &got);
    }
    cell* out = into >= 0 ? stack::arg(static_cast<uint32_t>(into)) : nullptr;
    if (out && !series::is_any_block(out->type())) {
        cell got = datatype::make_value(out->type());
        cell arg = word::load("out");
        error::raise(error::cat_script, error::script_expect_arg, &fw.compose, &got, &arg);
    }
    cell* src = push_walk(v);
    cell* target =
        out ? stack::push(out) : block::push_new(static_cast<int32_t>(block::rs_length_q(src)));
    bool append = !out || block::rs_tail_q(target);
    compose_path top{src->w2, nullptr, 1};
    compose_block(src, target, compose_options{deep >= 0, only >= 0}, append, &top);
    if (pending()) return;
    stack::set_last_keep(target);
}

// }==
// {== apply

void apply(int32_t check, int32_t all, int32_t safer) {
    check_arg(check, ts_block, 1);
    const cell* f = stack::arg(0);
    const cell* args = stack::arg(1);
    const cell* name = nullptr;
    cell* path = nullptr;
    cell fn = *f;
    if (f->type() == T_word) {
        fn = *word::get_value(f);
        name = f;
    } else if (series::is_any_block(f->type()) && f->type() >= T_path && f->type() <= T_get_path) {
        cell* rest = stack::push(f);
        if (block::rs_tail_q(rest)) error::raise(error::cat_script, error::script_invalid_arg, f);
        cell* first = stack::push(block::rs_head(rest));
        if (first->type() != T_word) error::raise(error::cat_script, error::script_invalid_arg, f);
        fn = *word::get_value(first);
        name = first;
        rest->w1++;
        path = rest;
    } else if (!is_callable(f->type())) {
        error::raise(error::cat_script, error::script_invalid_arg, f);
    }
    if (!is_callable(fn.type())) error::raise(error::cat_script, error::script_invalid_arg, f);
    cell* callee = stack::push(&fn);
    uint32_t mode = (all >= 0 ? interp::PATH_ELEMENT : interp::PATH_REFINEMENTS) |
                    (safer >= 0 ? interp::PATH_SKIP_OFF : 0);
    uint32_t tail = interp::tail_of(args);
    interp::call_function(callee, args, std::min(args->w1, tail), tail, false, name, path, mode);
}

// }==

} // namespace zyl::natives
