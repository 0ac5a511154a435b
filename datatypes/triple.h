// datatypes/triple.h: triple!, three signed 32-bit integers that the lexer and the parse
// engine keep on their own stacks for bookkeeping.
//
// Cell: header type 31; words 1, 2 and 3 the three integers, whose meaning belongs to the
// code that makes the cell. Nothing in the language makes a triple: the type exists so that
// one that becomes visible (a trace, a dump, an error report) has a text, and form and mold
// are its only entries ("make triple! [1 -2 3]").
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::triple {

inline cell make_value(int32_t a, int32_t b, int32_t c) {
    return cell{T_triple, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)};
}

void init();

} // namespace zyl::triple
