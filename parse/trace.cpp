// parse/trace.cpp: the trace events parse reports to a callback function.
#include "datatypes/core.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "parse/engine.h"

namespace zyl::parse {

namespace {

constexpr const char* EVENT_NAMES[TE_COUNT] = {"push",    "pop",   "fetch", "match",
                                               "iterate", "paren", "end"};

// The event words; global words, so they need no marking.
cell event_words[TE_COUNT];

} // namespace

void init_trace() {
    for (uint32_t i = 0; i < TE_COUNT; i++) event_words[i] = word::load(EVENT_NAMES[i]);
}

void trace(engine& e, trace_event ev, bool match, const cell& blk, uint32_t i) {
    if (e.halt) return;
    cell args[5];
    args[0] = event_words[ev];
    args[1] = logic::make_value(match);
    args[2] = blk;
    args[2].w1 = i;
    args[3] = e.in;
    args[3].w1 = e.pos;
    args[4] = e.trace_stack ? *e.trace_stack : none_value;
    cell* saved = es.top;
    cell fn = e.callback;
    cell* answer = interp::call_with(&fn, args, 5);
    if (!answer) {
        e.halt = true;
        return;
    }
    if (!logic::is_true(answer, false)) {
        e.halt = true;
        e.last = match;
    }
    es.top = saved;
}

} // namespace zyl::parse
