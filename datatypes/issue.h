// datatypes/issue.h: issue!, a word written with a leading number sign: a symbol that is
// never looked up as a variable.
//
// Cell: the word cell (datatypes/word.h) with header type 20: word 1 the global context,
// word 2 the symbol id, word 3 -1 (not looked up). form is word!'s; mold adds the "#".
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::issue {

// Makes [c] the issue of the NUL-terminated UTF-8 [name] (interned); answers [c], which must
// not lie in a movable buffer. May allocate.
cell* make_at(cell* c, const char* name);
// Pushes the issue of [name]. May allocate.
cell* load(const char* name);
// Pushes a copy of word cell [w] retyped as issue!.
cell* push(const cell* w);

// make and to: a string or char is interned as the name; any word is retyped; anything else
// goes through word!'s make.
cell* make(cell* proto, cell* spec, uint8_t type);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
// -2 unless [b] is an issue!; else word!'s comparison.
int32_t compare(const cell* a, const cell* b, int32_t op);
// Registers issue! (parent word!).
void init();

} // namespace zyl::issue
