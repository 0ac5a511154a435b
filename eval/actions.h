// eval/actions.h: the action dispatcher: finding the entry of an action for a value.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/registry.h"

namespace zyl::actions {

// Raises script expect-arg naming the current call, datatype [type] and the action's first
// argument; never returns.
[[noreturn]] void missing_action(uint8_t type);

// The entry of [slot] for a value of type [type]; raises when the type has none.
inline action_fn get_action_handler(uint8_t type, const cell* value, uint8_t slot) {
    (void)value; // port actors join here when ports exist
    action_fn f = datatype::action(type, slot);
    if (ZYL_UNLIKELY(!f)) missing_action(type);
    return f;
}

// get_action_handler cast to the slot's signature [F].
template <typename F> F handler(const cell* value, uint8_t slot) {
    return reinterpret_cast<F>(get_action_handler(value->type(), value, slot));
}

} // namespace zyl::actions
