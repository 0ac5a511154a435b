// datatypes/char.h: char!, one Unicode code point, kept in 0 .. 0x10FFFF by every operation.
//
// Cell: header type 10; word 2 the code point; words 1 and 3 unused. The arithmetic is
// integer!'s core with a truncating divide; a result outside the range raises math overflow.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

inline cell make_value(uint32_t cp) { return cell{T_char_, 0, cp, 0}; }
// The frame's result cell := the char [cp].
cell* box(uint32_t cp);
// Appends the char [cp] to block series [block]; may allocate.
cell* make_in(node_id block, uint32_t cp);

void init();

} // namespace zyl::char_
