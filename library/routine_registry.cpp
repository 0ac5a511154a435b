// library/routine_registry.cpp: the routine registry's rows (library/routines.inc), and the
// maker that the boot sources' top level calls as `routine spec [registry-name]`.
#include "library/routine_registry.h"

#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/event.h"
#include "datatypes/function.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "library/predicates.h"
#include "library/routines.h"
#include "console/stdin_input.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/platform_routines.h"
#include "runtime/error.h"

namespace zyl {

const routine::entry routine::registry[] = {
#define ZYL_ROUTINE(name, code) {name, code},
#include "library/routines.inc"
#undef ZYL_ROUTINE
};
const uint32_t routine::registry_count = sizeof(routine::registry) / sizeof(routine::registry[0]);

namespace routine_registry {

namespace {

// {== Internal functions

// The indexes made so far by this run's top level: each row is made once.
std::vector<bool> made;

// routine spec body: the routine! of the registry row named by the body's first word, which
// keeps the declared spec and body. An unknown or already made name is refused.
void make() {
    const cell* body = stack::arg(1);
    const cell* first = body->w1 < series::length(body->w2) ? block::cells_of(body->w2) + body->w1 : nullptr;
    int32_t index = first && first->type() == T_word ? routine::find(symbol::c_name(first->w2)) : -1;
    if (index < 0 || (size_t(index) < made.size() && made[size_t(index)]))
        error::raise(error::cat_script, error::script_invalid_arg, body);
    if (size_t(index) >= made.size()) made.resize(size_t(index) + 1);
    made[size_t(index)] = true;
    routine::make_value(stack::arg(0), body, index, -1, 0);
    stack::set_last(stack::top());
    stack::pop(1);
}

// }==

} // namespace

void install_maker() {
    made.assign(routine::registry_count, false);
    runtime::define_routine("routine", "[spec [block!] body [block!]]", make);
    // The maker is no registry row that a source may name.
    auto self = size_t(routine::find("routine"));
    if (self >= made.size()) made.resize(self + 1);
    made[self] = true;
}

bool was_made(int32_t index) { return index >= 0 && size_t(index) < made.size() && made[size_t(index)]; }

} // namespace routine_registry
} // namespace zyl
