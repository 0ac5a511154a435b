// datatypes/string.h: string! storage: text buffers of 1, 2 or 4 bytes per character.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::string {

// Makes [c] an empty string! with room for [units] characters of 1 byte.
cell* make_at(cell* c, uint32_t units);
// Appends the ASCII text [text] to the string [s], at whatever width its buffer has.
void concatenate_literal(const cell* s, std::string_view text);
// The characters of [s] from its index, as UTF-8 (for tests and diagnostics).
std::string to_std(const cell* s);

} // namespace zyl::string
