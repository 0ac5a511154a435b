// datatypes/paren.h: paren!, a block that the evaluator evaluates where it stands. As data it
// is a block! (the same cell, type 6) in every action but mold and trim.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::paren {

// Pushes a copy of block-like [value] typed paren!.
cell* push(const cell* value);
// Molds the cells of [value] between "(" and ")" (without them under [only]), laid out as a
// block's; a paren met again inside itself is written "(...)".
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
// Registers paren! (parent block!).
void init();

} // namespace zyl::paren
