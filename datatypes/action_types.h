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
// complement, negate and other one-value twins.
using unary_fn = cell* (*)(cell* value);
// even? / odd?: the truth, which the stack entry boxes as logic!.
using truth_fn = bool (*)(const cell* value);
// round: [scale] is the /to argument or null; then /even /down /half-down /floor /ceiling
// /half-ceiling.
using round_fn = cell* (*)(cell* value, const cell* scale, bool even, bool down, bool half_down,
                           bool floor, bool ceiling, bool half_ceiling);
// Direct entries (absolute, add, divide, multiply, power, remainder, subtract, and~, or~, xor~,
// at, back, head, head?, index?, next, skip, tail, tail?) read the current frame themselves:
// cell 0 and cell 1 are the arguments, and the result replaces cell 0.
using direct_fn = void (*)();
// length?: -1 means no length (the action then gives none).
using length_fn = int32_t (*)(const cell* value);

} // namespace zyl::actions
