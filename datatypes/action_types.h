// datatypes/action_types.h: the signatures of the action entries, by slot.
//
// Entries of one slot share a signature; the action table stores them as action_fn and the
// caller of a slot casts back with datatype::action_as<...>. Results that are values are left
// in the first argument cell (the frame's result slot) and returned.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::actions {

// make / to: [proto] is the first argument (a datatype! or an example value), [spec] the
// second, [type] the type to make.
using make_fn = cell* (*)(cell* proto, cell* spec, uint8_t type);
// form: appends the text of [value] to string [buffer]; returns [part] less what it wrote.
using form_fn = int32_t (*)(const cell* value, cell* buffer, const cell* arg, int32_t part);
// mold: as form, with the mold refinements and the indent level.
using mold_fn = int32_t (*)(const cell* value, cell* buffer, bool only, bool all, bool flat,
                            const cell* arg, int32_t part, int32_t indent);
// compare: 0 equal, negative/positive for order, -2 not comparable under [op].
using compare_fn = int32_t (*)(const cell* a, const cell* b, int32_t op);
// random: /seed, /secure, /only.
using random_fn = cell* (*)(cell* value, bool seed, bool secure, bool only);
// complement and other one-value twins.
using unary_fn = cell* (*)(cell* value);
// Direct entries read the current frame themselves.
using direct_fn = void (*)();
// length?: -1 means no length (the action then gives none).
using length_fn = int32_t (*)(const cell* value);

} // namespace zyl::actions
