// library/predicates.h: the type predicates (integer?, any-word? ...), routines that answer
// whether a value is of a datatype or of the types of a global typeset word. Their rows are
// in library/routines.inc, their specs in library/predicates.zyl.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/typeset.h"
#include "eval/stack.h"

namespace zyl::predicates {

// The global typeset words that the typeset predicates read, by TS_* index.
enum typeset_word : uint32_t {
    TS_ANY_LIST, TS_ANY_PATH, TS_ANY_BLOCK, TS_ANY_FUNCTION, TS_ANY_OBJECT, TS_ANY_STRING,
    TS_ANY_WORD, TS_ALL_WORD, TS_SERIES, TS_NUMBER, TS_IMMEDIATE, TS_SCALAR, TS_ANY_POINT,
    TS_PLANAR, TS_COUNT
};
extern cell typeset_words[TS_COUNT];

// Makes the typeset words the predicates read. After the symbol table and global context.
void init();

// A datatype predicate: one type read and one compare.
template <uint8_t T> void is_type() {
    cell r = logic::make_value(stack::arg(0)->type() == T);
    *stack::arg(0) = r;
}

// A typeset predicate reads its word at each call, so a program that redefines the word
// changes the predicate too; a word that no longer holds a typeset answers false.
template <uint32_t I> void is_in_typeset() {
    const cell* ts = context::get_value(&typeset_words[I]);
    bool r = ts->type() == T_typeset && typeset::has(ts, stack::arg(0)->type());
    cell v = logic::make_value(r);
    *stack::arg(0) = v;
}

} // namespace zyl::predicates
