// datatypes/sort_call.cpp: sorting record numbers through a language comparator.
#include "datatypes/sort_call.h"

#include <cmath>
#include <utility>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/sort.h"

namespace zyl::sort_call {

namespace {

// Thrown through the sort when the comparator leaves with break, return or throw.
struct exit_pending {};

struct context {
    const cell* fn;
    arguments* args;
};

int32_t compare(const void* a, const void* b, uintptr_t ctx, uintptr_t) {
    auto& c = *reinterpret_cast<context*>(ctx);
    cell xy[2];
    c.args->make(*static_cast<const uint32_t*>(a), *static_cast<const uint32_t*>(b), &xy[0], &xy[1]);
    cell* saved = es.top;
    cell fn = *c.fn;
    cell* answer = interp::call_with(&fn, xy, 2);
    if (!answer) throw exit_pending{};
    cell r = *answer;
    es.top = saved;
    return c.args->order(&r);
}

int32_t sign(double d) { return d > 0.0 ? 1 : d < 0.0 ? -1 : 0; } // NaN: 0

} // namespace

bool callable_q(uint8_t t) {
    return t == T_function || t == T_native || t == T_action || t == T_routine || t == T_op;
}

int32_t block_order(const cell* answer) {
    switch (answer->type()) {
    case T_logic: return answer->w1 ? -1 : 1;
    case T_integer: return -integer::sign(integer::get(answer));
    case T_float_: return -sign(float_::get(answer));
    case T_none: return 1;
    default: return -1;
    }
}

int32_t string_order(const cell* answer) {
    switch (answer->type()) {
    case T_logic: return answer->w1 ? 1 : -1;
    case T_integer: return -integer::sign(integer::get(answer));
    case T_float_: return -sign(float_::get(answer));
    case T_none: return -1;
    default: return 1;
    }
}

void arguments::make(uint32_t a, uint32_t b, cell* x, cell* y) {
    if (swap) std::swap(a, b);
    if (!x_scratch) {
        *x = first(a);
        *y = first(b);
        return;
    }
    fill(x_scratch, a);
    fill(y_scratch, b);
    *x = *x_scratch;
    *y = *y_scratch;
}

bool sort(std::vector<uint32_t>& order, uint32_t count, const cell* fn, arguments& args, bool stable) {
    order.resize(count);
    for (uint32_t i = 0; i < count; i++) order[i] = i;
    context c{fn, &args};
    auto word = reinterpret_cast<uintptr_t>(&c);
    try {
        if (stable) sort::mergesort(order.data(), order.size(), sizeof(uint32_t), word, 0, &compare);
        else sort::quicksort_start(order.data(), order.size(), sizeof(uint32_t), word, 0, &compare);
    } catch (const exit_pending&) {
        return false;
    }
    return true;
}

} // namespace zyl::sort_call
