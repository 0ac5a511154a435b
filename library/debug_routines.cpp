// library/debug_routines.cpp: the routines of the tracing tools: the tracing switch that
// `trace` holds.

#include "datatypes/core.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "library/routines.h"

namespace zyl::routines {

// Tracing goes on only inside a traced run: outside one the switch turns nothing on.
void trace_switch() {
    const cell* on = stack::arg(0);
    bool want = on->type() == T_logic && on->w1 != 0;
    interp::set_tracing(want && interp::is.default_tracing);
    *stack::arg(0) = unset_value;
}

} // namespace zyl::routines
