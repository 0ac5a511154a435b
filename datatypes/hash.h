// datatypes/hash.h: hash!, a block with a hash index over its values.
//
// A hash! cell is a block cell whose word 3 names a hash table (runtime/hashtable.h, kind
// hash) indexing every cell of its series by position. Every block action works on it as on
// a block; those that change cells keep the table in step (datatypes/series.h, the hash_*
// upkeep), and find and select answer from it.
//
// Invariant: between actions, the table indexes exactly the cells of the series, each at its
// current position.
#pragma once

#include "datatypes/cell.h"

namespace zyl::hash {

// Makes the block! or hash! cell [c] (a rooted cell, index 0) a hash! with a new table over
// its cells. May allocate.
cell* index_in_place(cell* c);
// Registers hash!; block! must be registered.
void init();

} // namespace zyl::hash
