// datatypes/map.h: map!, the associative array written #[key value ...].
//
// A map cell is laid out as a block cell with a table: word 1 the index (cells), word 2 the
// node of the block of pairs (key cell, value cell, key cell, ... in insertion order), word 3
// the node of its hash table (runtime/hashtable.h, kind map), which finds a key's cell.
//
// Invariant: from the index, the block holds whole pairs; every key is stored prepared (word
// keys as set-words, text and binary keys as private copies) and indexed once. A pair whose
// value cell has header 0 is removed: every reader skips it, and a later put of its key
// revives it in place. The table's size is the count of live pairs.
//
// Every function here that may allocate may move buffers: pass cells that lie outside series
// buffers (stack cells, C++ locals kept by a guard).
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::map {

// Whether a value of type [t] may be a key.
bool valid_key_type(uint8_t t);
// Makes [c] a map! over the pairs of block [pairs] from its index (null or none: a new empty
// block with room for [capacity] cells) and indexes them: a repeated key keeps its first
// place and takes the last value. Raises invalid-path for a key of a type no map takes.
// [c] must be rooted (a stack cell); the block is taken, not copied. May allocate.
cell* make_at(cell* c, const cell* pairs, uint32_t capacity);
// The count of live pairs of map [m].
uint32_t size(const cell* m);
// Puts [key] with [value] into [m] (case-sensitively with [case_]); the key is prepared when
// new, and [path] (or null) names the path for invalid-path. Returns the stored value cell,
// valid until the next allocation. [key] and [value] must lie outside [m]'s buffers.
cell* set(const cell* m, const cell* key, const cell* value, bool case_, const cell* path);
// The live value cell of [key] in [m] under compare operator [op] (0, 2 or 9), or null.
cell* get(const cell* m, const cell* key, int32_t op);
// Adds the key/value pairs of block or map [from] to [m]; a block needs an even count from
// its index (else invalid-arg). Removed pairs of a map are not copied.
void extend(const cell* m, const cell* from, bool case_);
// The foreach step over map [s] with the two loop words of block [words]: the next live pair
// from the index, the index moved past it. False at the tail.
bool foreach_next(cell* s, const cell* words);

// Registers map! and sets the hooks the table, the loops and the set natives call.
void init();

} // namespace zyl::map
