// eval/interp_trace.cpp: the tracer: reporting evaluation events to a language function.
//
// The tracer runs in a frame of its own above everything the interpreter holds, with tracing
// off (tracer code is never traced). When it returns normally the stacks are put back as they
// were and tracing goes on; a non-local exit from it is left pending and an error in it
// unwinds, and either way tracing stays off.
#include <bit>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "eval/interp_internal.h"
#include "eval/stack.h"

namespace zyl::interp {

using namespace detail;

namespace {

// Events whose reference the tracer is given.
constexpr uint32_t EVENTS_WITH_REF = EV_SET | EV_EPILOG | EV_PROLOG | EV_RETURN | EV_CALL;

inline cell or_none(const cell* v) { return v && v->type() != T_unset ? *v : none_value; }

// [pos] as an index inside [code] from its own index, -1 when outside it or absent.
int32_t relative(const cell* code, int64_t pos) {
    if (!code || pos < 0 || !is_block_like(code->type())) return -1;
    if (pos < code->w1 || pos > tail_of(code)) return -1;
    return static_cast<int32_t>(pos - code->w1);
}

} // namespace

void trace_at(uint32_t ev, const cell* code, int64_t pos, const cell* ref, const cell* value) {
    if (!is.tracing || !(is.event_mask & ev) || is.tracer->type() != T_function) return;
    uint32_t bit = static_cast<uint32_t>(std::countr_zero(ev));
    if (bit >= EVENT_COUNT) return; // no such event
    // Copied before anything is pushed: the pointers may lie in buffers the call moves.
    cell code_cell = code ? *code : none_value;
    cell pos_cell = integer::make_value(relative(code, pos));
    cell value_cell = or_none(value);
    cell ref_cell = (ev & EVENTS_WITH_REF) ? or_none(ref) : none_value;
    cell place = pair::make_value(static_cast<int32_t>(es.base - es.bottom),
                                  static_cast<int32_t>(es.top - es.bottom));
    cell* saved_base = es.base;
    cell* saved_top = es.top;
    call_frame* saved_frames = es.ftop;
    stack::push_slot(); // the top goes up one cell: a value being built just below stays intact
    cell tracer = *is.tracer;
    cell name = frame_word(words.callback);
    name.w1 = tracer.w1;
    stack::mark_func_context(&name, tracer.w1);
    stack::push(&words.event[bit]);
    stack::push(&code_cell);
    stack::push(&pos_cell);
    stack::push(&value_cell);
    stack::push(&ref_cell);
    stack::push(&place);
    if (is.extra_slots) { // its refinements: false, then none
        stack::push(&false_value);
        for (uint32_t i = 1; i < is.extra_slots; i++) stack::push(&none_value);
    }
    // A tracer with more words than that (its locals) still gets a cell for each.
    for (uint32_t n = context::word_count(tracer.w1); static_cast<uint32_t>(es.top - es.base) < n;)
        stack::push(&none_value);
    set_tracing(false);
    exec_function(&tracer, tracer.w1, nullptr);
    if (es.throw_code) return;
    set_tracing(true);
    es.ftop = saved_frames;
    es.base = saved_base;
    es.top = saved_top;
}

void trace_slow(uint32_t ev, const cell* code, const cell* pos, const cell* ref,
                const cell* value) {
    int64_t i = -1;
    if (code && pos) i = pos - block::cells_of(code->w2);
    trace_at(ev, code, i, ref, value);
}

uint32_t event_mask(const cell* tracer) {
    if (tracer->type() != T_function) return ALL_EVENTS;
    cell body = *function::series_cell(tracer, function::FN_BODY);
    if (body.type() != T_block || body.w1 >= tail_of(&body)) return ALL_EVENTS;
    cell first = block::cells_of(body.w2)[body.w1];
    if (first.type() != T_block) return ALL_EVENTS;
    uint32_t mask = 0;
    uint32_t n = tail_of(&first);
    for (uint32_t i = first.w1; i < n; i++) {
        const cell* w = block::cells_of(first.w2) + i;
        if (w->type() != T_word) continue;
        uint32_t s = symbol::resolve(w->w2);
        for (uint32_t b = 0; b < EVENT_COUNT; b++) {
            if (symbol::resolve(words.event[b].w2) == s) mask |= 1u << b;
        }
    }
    return mask;
}

} // namespace zyl::interp
