// eval/stack.cpp: the evaluation stack, call frames and non-local exits. Layout and
// invariants are in eval/stack.h.
#include "eval/stack.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack_trace.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"

namespace zyl {

eval_stack es;

namespace stack {

namespace {

// Word 2 of a context cell: a value-series node, or for a function context running on the
// stack the index + 1 of the cell holding its first value (0 when it is not running).
uint32_t& values_word(node_id ctx) {
    return reinterpret_cast<cell*>(memory::buffer_of(ctx)->head)->w2;
}

void restore_context(const call_frame* f) {
    if (f->type() == FRAME_FUNC && f->func_context) values_word(f->func_context) = f->saved_values;
}

bool is_internal(const call_frame* f) {
    return f->symbol == es.body_symbol || f->symbol == es.anon_symbol;
}

struct saved_pointers {
    cell* base;
    cell* top;
    call_frame* ftop;
    void restore() const {
        es.base = base;
        es.top = top;
        es.ftop = ftop;
    }
};

saved_pointers save() { return {es.base, es.top, es.ftop}; }

// Makes frame [target] the top frame with base = top = its own base.
void cut_to(call_frame* target) {
    cell* b = target == es.ftop - 1 ? es.base : es.bottom + target[1].caller_base;
    for (call_frame* f = es.ftop - 1; f > target; f--) restore_context(f);
    es.ftop = target + 1;
    es.base = es.top = b;
}

} // namespace

void init(node_id args, node_id frames, uint32_t body, uint32_t anon) {
    series_buffer* a = memory::buffer_of(args);
    series_buffer* f = memory::buffer_of(frames);
    es = eval_stack{};
    es.bottom = es.top = es.base = reinterpret_cast<cell*>(a->data());
    es.end = es.bottom + a->size / sizeof(cell);
    es.fbottom = es.ftop = reinterpret_cast<call_frame*>(f->data());
    es.fend = es.fbottom + f->size / sizeof(call_frame);
    // Traces read frames above the top (unwound ones) by their symbols: a frame never pushed
    // must read as no call (symbol 0), not as whatever the memory held before.
    std::memset(f->data(), 0, f->size);
    es.body_symbol = body;
    es.anon_symbol = anon;
    es.arg_series = args;
    es.frame_series = frames;
}

void create(uint32_t body, uint32_t anon) {
    node_id args = series::alloc_unmanaged(ARG_STACK_CELLS, sizeof(cell), 0);
    node_id frames = series::alloc_unmanaged(CALL_STACK_FRAMES * sizeof(call_frame), 1, 0);
    init(args, frames, body, anon);
}

void overflow() {
    es.top = (es.top - es.bottom) > 5 ? es.top - 5 : es.bottom;
    cycles::reset();
    error::raise(error::cat_internal, error::internal_stack_overflow);
}

void set_last_from_error() {
    if (es.top > es.bottom && es.top[-1].type() == T_error) *es.base = es.top[-1];
    es.top = es.base + 1;
}

void mark_func_context(const cell* word, node_id ctx) {
    mark(word, MARK_FUNC_CONTEXT);
    if (ctx) {
        call_frame* f = top_frame();
        f->func_context = ctx;
        f->saved_values = values_word(ctx);
    }
}

void mark_func(const cell* word, node_id ctx) {
    values_word(ctx) = static_cast<uint32_t>(es.base - es.bottom) + 1;
    mark(word, MARK_FUNC);
}

void set_return_flag(bool on) {
    if (on) {
        top_frame()->header |= FRAME_RETURN_TARGET;
    } else {
        top_frame()->header &= ~FRAME_RETURN_TARGET;
    }
}

call_frame* mark_caller_return() {
    call_frame* f = es.ftop - 2;
    if (f < es.fbottom || (f->header & FRAME_RETURN_TARGET)) return nullptr;
    f->header |= FRAME_RETURN_TARGET;
    return f;
}

bool has_interp_frame(const call_frame* f, bool only_one) {
    for (const call_frame* g = (f ? f : es.ftop - 1) - 1; g >= es.fbottom; g--) {
        if (g->header & FRAME_INTERP) return true;
        if (only_one) return false;
    }
    return false;
}

// {== Popping frames

void unwind_func() {
    restore_context(es.ftop - 1);
    unwind();
}

void unwind_func_drop() {
    restore_context(es.ftop - 1);
    unwind_drop();
}

void unwind_func_last() {
    restore_context(es.ftop - 1);
    unwind_last();
}

void pop_frame() {
    restore_context(es.ftop - 1);
    es.top = pop_one();
    if (es.ftop == es.fbottom) es.base = es.top = es.bottom;
}

void pop_frame_drop_one() {
    restore_context(es.ftop - 1);
    pop_one();
    if (es.top > es.bottom) es.top--;
    if (es.ftop == es.fbottom) es.base = es.bottom;
}

namespace {

// The walk of unwind_to; returns the target frame's own arguments base.
cell* walk_to(uint32_t type, bool keep) {
    cell* entry_base = es.base;
    call_frame* entry_top = es.ftop;
    call_frame* f;
    cell* own;
    do {
        f = es.ftop - 1;
        own = f == entry_top - 1 ? es.base : es.bottom + f[1].caller_base;
        restore_context(f);
        es.ftop--;
    } while (!(f->type() == type || f->type() == FRAME_TRY_ALL || f == es.fbottom));
    if (keep) es.ftop = f + 1;
    if (keep && f == entry_top - 1) {
        es.top = es.base + 1; // the target was the top frame
    } else if (es.ftop == es.fbottom) {
        es.base = es.top = es.bottom;
    } else {
        es.top = entry_base + 1;
        es.base = keep ? own : es.bottom + f->caller_base;
    }
    es.ftop = f + 1; // the target stays; the bottom frame is never removed
    return own;
}

} // namespace

void unwind_to(uint32_t type, bool keep) {
    if (es.ftop != es.fbottom) walk_to(type, keep);
}

void unwind_to_last(uint32_t type) {
    if (es.ftop == es.fbottom) return;
    cell result = *es.base;
    cell* own = walk_to(type, false);
    *own = result;
    es.base = es.top = own;
}

// }==
// {== Non-local exits

void throw_error(const cell* err) {
    cell e = *err;
    collector::keep k_err{&e}; // naming the call may allocate
    bool caught = false;
    if (es.ftop != es.fbottom) {
        if (!error::is_bare(&e)) {
            cell where = get_call();
            error::set_where(&e, &where);
            error_record_stack(&e);
        }
        cell* top = es.top;
        unwind_to(FRAME_TRY, false); // stops at a try, a try-all or the bottom frame
        call_frame* target = --es.ftop; // the target goes too
        es.top = top;
        uint32_t t = target->type();
        caught = t == FRAME_TRY || t == FRAME_TRY_ALL;
    }
    if (!caught) {
        *es.base = e;
        error::print_report(&e);
        error::exit_uncaught();
    }
    *push_slot() = e;
    es.throw_code = THROW_ERROR;
    throw error::raised{error::category_index(&e), error::message_index(&e)};
}

void throw_break(bool has_value, bool is_continue) {
    saved_pointers saved = save();
    cell* entry_base = es.base;
    call_frame* f = es.ftop - 1;
    for (; f >= es.fbottom && f->type() != FRAME_LOOP; f--) {
        if (f->type() == FRAME_TRY_ALL) break;
    }
    if (f < es.fbottom || f->type() != FRAME_LOOP) {
        saved.restore();
        error::raise(error::cat_throw, is_continue ? error::throw_continue : error::throw_break);
    }
    cell result = *entry_base;
    cut_to(f);
    if (has_value && !is_continue) {
        *es.base = result;
    } else {
        *es.base = cell{T_unset, 0, 0, 0};
    }
    es.throw_code = is_continue ? THROW_CONTINUE : THROW_BREAK;
}

void throw_return(bool has_value, bool from_here) {
    saved_pointers saved = save();
    cell* entry_base = es.base;
    call_frame* f = es.ftop - (from_here ? 1 : 2);
    for (; f >= es.fbottom && !(f->header & FRAME_RETURN_TARGET); f--) {
        if (f->type() == FRAME_TRY_ALL) break;
    }
    if (f < es.fbottom || !(f->header & FRAME_RETURN_TARGET)) {
        saved.restore();
        error::raise(error::cat_throw, error::throw_return);
    }
    cell result = *entry_base;
    cut_to(f);
    if (has_value) {
        *es.base = result;
        es.throw_code = THROW_RETURN;
    } else {
        *es.base = cell{T_unset, 0, 0, 0};
        es.throw_code = THROW_EXIT;
    }
}

namespace {

// Whether catch frame [f] will not take a throw named [name]: it is a named catch (its names
// are the argument saved_values - 1 of the catch call) and none of its names is [name]. A
// catch whose names are not all words takes the throw and reports that itself.
bool passes_by(const call_frame* f, const cell* name) {
    if (!f->saved_values) return false;
    const cell* want = es.bottom + f->caller_base + (f->saved_values - 1);
    uint8_t nt = name->type();
    bool named = nt == T_word || nt == T_lit_word || nt == T_get_word || nt == T_set_word;
    uint32_t sym = named ? symbol::resolve(name->w2) : 0;
    if (word::any_word_type_q(want->type())) return !named || symbol::resolve(want->w2) != sym;
    if (want->type() != T_block) return false;
    uint32_t total = static_cast<uint32_t>(memory::buffer_of(want->w2)->used_bytes() / sizeof(cell));
    for (uint32_t i = want->w1; i < total; i++) {
        const cell* w = block::cells_of(want->w2) + i;
        if (w->type() != T_word) return false;
        if (named && symbol::resolve(w->w2) == sym) return false;
    }
    return true;
}

} // namespace

void throw_value(uint32_t code) {
    saved_pointers saved = save();
    if (!es.throw_start && es.ftop > es.fbottom) es.throw_start = es.ftop - 1;
    cell value = es.base[0];
    cell name = es.base[1];
    call_frame* f = es.ftop - 1;
    for (; f >= es.fbottom; f--) {
        if (f->type() == FRAME_TRY_ALL) break;
        if (f->type() == FRAME_CATCH && !(code == THROW_THROW && passes_by(f, &name))) break;
    }
    if (f < es.fbottom || f->type() != FRAME_CATCH) {
        saved.restore();
        error::raise(error::cat_throw, error::throw_throw, &value);
    }
    cut_to(f);
    *push_slot() = value;
    *push_slot() = name;
    es.throw_code = code;
}

cell get_call() {
    call_frame* f = es.throw_start ? es.throw_start : es.ftop - 1;
    while (f >= es.fbottom && is_internal(f) && !f->form_symbol) f--;
    es.throw_start = nullptr;
    if (f < es.fbottom) return not_found_word();
    return f->form_symbol ? form_word(f) : frame_word(f);
}

void set_call_name(const cell* v) {
    if (v->type() != T_word || es.ftop == es.fbottom) return;
    call_frame* f = es.throw_start ? es.throw_start : es.ftop - 1;
    f->symbol = v->w2;
}

// }==

} // namespace stack
} // namespace zyl
