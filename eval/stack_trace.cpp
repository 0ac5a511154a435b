// eval/stack_trace.cpp: the call stack read as a trace, for error reports and collect-calls;
// and the word a frame calls, which names the "where" of an error.
#include "eval/stack_trace.h"

#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::stack {

// {== Internal functions

namespace {

bool is_internal(const call_frame* f) {
    return f->symbol == es.body_symbol || f->symbol == es.anon_symbol;
}

// Whether symbol [s] may be looked up: words exist (there is a global context) and [s] is
// one of the symbol table's ids.
bool known_symbol(uint32_t s) { return context::global() != 0 && s >= 1 && s <= symbol::count(); }

// The value that frame [f] calls: its word looked up in the frame's context while the frame
// is live, in the global context once it was unwound (its context may be gone); null when
// absent or not readable. Valid until the next allocation.
const cell* called_value(const call_frame* f) {
    if (!known_symbol(f->symbol)) return nullptr;
    node_id ctx = f < es.ftop && f->context ? f->context : context::global();
    int32_t i = context::find_word(ctx, f->symbol, true);
    if (i < 0) return nullptr;
    const cell* c = context::cell_of(ctx);
    if (!(c->header & CTX_STACK_VALUES)) return context::value_at(ctx, static_cast<uint32_t>(i));
    return c->w2 ? es.bottom + (c->w2 - 1) + i : nullptr;
}

// The frame the conditional inline in [f] would have had: its word, above [f].
call_frame form_frame(const call_frame* f) {
    call_frame g = *f;
    g.symbol = f->form_symbol;
    g.context = f->form_context;
    g.form_symbol = 0;
    return g;
}

// Whether a trace of [level] lists the conditional inline in frame [f] (a native: only the
// traces that list every call).
bool form_selected(const call_frame* f, int32_t level) {
    return f->form_symbol && level > 1 && known_symbol(f->form_symbol);
}

// Whether a trace of [level] lists frame [f].
bool selected(const call_frame* f, int32_t level) {
    if (is_internal(f) || !known_symbol(f->symbol)) return false;
    if (level > 1) return true;
    const cell* v = called_value(f);
    return v && v->type() == T_function;
}

// The frame at depth [end], kept within the call stack's room.
const call_frame* frame_at(int32_t end) {
    return es.fbottom + std::clamp<int64_t>(end, 0, es.fend - es.fbottom);
}

} // namespace

// }==
// {== The word a frame calls

cell frame_word(const call_frame* f) {
    if (!known_symbol(f->symbol)) return word::make_value(T_word, 0, f->symbol, word::NO_INDEX);
    node_id ctx = f->context ? f->context : context::global();
    return context::find_or_global(ctx, f->symbol);
}

cell form_word(const call_frame* f) {
    call_frame g = form_frame(f);
    return frame_word(&g);
}

cell not_found_word() {
    if (context::global() == 0) return none_value;
    return context::add_global_word(symbol::make("<not-found>"), false, false);
}

// }==
// {== Traces

void trace(const cell* blk) {
    cell b = *blk;
    collector::keep k_blk{&b};
    for (const call_frame* f = es.ftop - 1; f >= es.fbottom; f--) {
        // A conditional inline in [f] (the bottom frame too) is listed as its own frame was,
        // its arguments base the top of [f]'s cells.
        if (f->form_symbol) {
            uint32_t own = f == es.ftop - 1 ? static_cast<uint32_t>(es.base - es.bottom)
                                            : f[1].caller_base;
            cell w = form_word(f);
            series::append_value(b.w2, w);
            series::append_value(b.w2, integer::make_value(static_cast<int32_t>(own)));
        }
        if (f == es.fbottom || is_internal(f)) continue;
        cell w = frame_word(f);
        series::append_value(b.w2, w);
        series::append_value(b.w2, integer::make_value(static_cast<int32_t>(f->caller_base)));
    }
}

void trace_words(int32_t level, const cell* blk, int32_t end) {
    cell b = *blk;
    collector::keep k_blk{&b};
    for (const call_frame* f = es.fbottom; f < frame_at(end); f++) {
        if (selected(f, level)) series::append_value(b.w2, word::make_global(f->symbol));
        if (form_selected(f, level))
            series::append_value(b.w2, word::make_global(f->form_symbol));
    }
}

int32_t trace_form(int32_t level, const cell* marker, cell* out, int32_t limit) {
    for (const call_frame* f = es.fbottom; f < frame_at(integer::get(marker)); f++) {
        for (int k = 0; k < 2; k++) { // the frame, then a conditional inline in it
            if (limit <= 0) break;
            if (k == 0 ? !selected(f, level) : !form_selected(f, level)) continue;
            cell w = word::make_value(T_word, 0, k == 0 ? f->symbol : f->form_symbol, word::NO_INDEX);
            limit = word::form(&w, out, nullptr, limit);
            string::concatenate_literal(out, " ");
            limit--;
        }
    }
    return limit;
}

void error_record_stack(const cell* err) {
    if (error::is_bare(err)) return;
    cell* stack = error::field(err, error::F_STACK);
    if (stack->type() != T_block) *stack = integer::make_value(static_cast<int32_t>(es.ftop - es.fbottom));
}

// }==

} // namespace zyl::stack
