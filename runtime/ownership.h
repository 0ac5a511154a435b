// runtime/ownership.h: series ownership: which object field owns a series, so that in-place
// changes of the series reach the object's on-deep-change* hook.
//
// The owner table is a node-keyed hash table (kind owner): the key is the node of an owned
// series (word 2 of its cell; word 1 for an object), and each entry holds three cells: the
// owned value, the owner object and the word of the owner's field that holds it. A series
// with an entry carries SERIES_OWNED in its buffer flags (an image! carries IMAGE_OWNED in
// its cell instead), so the modifying actions test one bit before they look anything up. An
// object whose own fields were given owners carries CTX_OWNER_SET in its context cell.
//
// Invariant: a buffer has SERIES_OWNED exactly while the table has an entry for its node
// (copies drop the flag; growth keeps it with the node). The table holds its entries weakly:
// an entry keeps its owner and word alive only while its series is reachable otherwise, and
// the collector drops the entries whose series or owner died.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/common.h"
#include "runtime/memory.h"

namespace zyl::owner {

constexpr uint32_t TABLE_SLOTS = 1000; // entries the table has room for at first

// {== The table

// Creates the owner table and the collector hook that marks it. May allocate.
void init();
// Forgets the table and its hook (datatype registration starts with no owners; tests free
// all memory afterwards). The next registration makes a new table.
void forget();
// The table's node, 0 before the first registration.
node_id table();

// }==
// {== Giving and taking ownership (each may allocate)

// Gives [value] (and, for the any-block types and objects, what it holds) the owner object
// [owner] and field word [word]. A series that already has an owner keeps it. [value] is
// changed only for an image!, whose cell carries the mark.
void set(cell* value, const cell* owner, const cell* word);
// set, then marks [owner]'s context as an owner of its series.
void set_owned(cell* value, const cell* owner, const cell* word);
// Takes the ownership of [value] and of what it holds away (objects that own their own
// series are not entered).
void clear_deep(cell* value);
// clear_deep on [count] cells of block [block] from absolute cell [index] (cut to the tail).
void clear_range(const cell* block, uint32_t index, uint32_t count);
// The owner cell (the owner object) of the entry of node [n], or null; valid until the next
// allocation.
cell* find(node_id n);
// `modify value 'owned spec`: none takes [value]'s ownership away; a block [object word]
// gives [value] that field of that object as owner. Anything else raises script invalid-arg
// with [spec]. Answers [spec].
const cell* modify_owned(cell* value, const cell* spec);

// }==
// {== Notifications

// When [value]'s series (or object) has an owner whose object has hooks, calls the owner's
// on-deep-change* with the owner, the field word, [value], the word [action], [new_value]
// (none when null), [index] and [part]; answers whether it did. May run language code.
bool check(const cell* value, const cell* action, const cell* new_value, int32_t index,
           int32_t part);

// Whether series value [s] (any series or bitset! cell) has an owner entry.
inline bool owned_q(const cell* s) { return (memory::buffer_of(s->w2)->flags & SERIES_OWNED) != 0; }

// The report after an in-place change of series [s]: one bit test when nothing owns it.
inline void tell(const cell* s, const cell& action, const cell* new_value, int32_t index,
                 int32_t part) {
    if (ZYL_UNLIKELY(owned_q(s))) check(s, &action, new_value, index, part);
}

// check before a change that the caller has already measured: the hook must leave [s]'s
// length and unit as they were, else script protected is raised (the caller's positions
// would no longer hold).
void check_before(const cell* s, const cell* action, const cell* new_value, int32_t index,
                  int32_t part);
// The report before an in-place change of series [s]; see check_before.
inline void tell_before(const cell* s, const cell& action, const cell* new_value, int32_t index,
                        int32_t part) {
    if (ZYL_UNLIKELY(owned_q(s))) check_before(s, &action, new_value, index, part);
}

// }==

} // namespace zyl::owner
