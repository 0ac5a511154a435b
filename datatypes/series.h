// datatypes/series.h: series!, the parent of every series type, and the entries they share.
//
// series! (id 42) has no values of its own. Its entries serve blocks of cells and texts of 1,
// 2 or 4 bytes per character alike because they work in units: positions count units, and a
// byte offset is a position shifted left by log2 of the buffer's unit (1, 2, 4 or 16 bytes).
// Where an element must be produced or stored, the entry switches on the value's type: a
// cell for the any-block types, an integer! byte for binary!, a char! for text, a number of
// the element type for vector!.
//
// Invariant: none. A series cell's index (word 1) may lie past the tail after the buffer was
// shortened through another value; it then reads as the tail, and the entries that write
// move it back to the tail first.
//
// Every entry that may allocate may move buffers: callers pass cells that do not lie in a
// series buffer (stack cells), and re-derive addresses afterwards.
#pragma once

#include <bit>
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::series {

// {== Units and kinds

// log2 of the unit of [b].
inline uint32_t shift_of(const series_buffer* b) { return static_cast<uint32_t>(std::countr_zero(b->unit())); }
// Units between the head and the tail of [b].
inline uint32_t units_of(const series_buffer* b) { return b->used_bytes() >> shift_of(b); }

// The any-block types: block!, paren!, hash! and the four path types.
inline bool is_any_block(uint8_t t) {
    return t == T_block || t == T_paren || t == T_hash || t == T_path || t == T_lit_path || t == T_set_path ||
           t == T_get_path;
}
// The types whose values are series cells (map! included: its body is a cell series).
bool is_series_type(uint8_t t);

// }==
// {== Run-time helpers

// Units from the index of [s] to the tail, or the whole buffer with [whole]. A negative index
// counts as 0; an index past the tail is set to the tail and gives 0.
int32_t rs_length_q(cell* s, bool whole);
// Units of the whole buffer of [s].
uint32_t rs_abs_length_q(const cell* s);
// Whether the index of [s] is at or past the tail.
bool rs_tail_q(const cell* s);
// Moves the index of [s] by [n] when that does not pass the tail (it may reach it); answers
// whether [s] is then at or past the tail.
bool rs_skip(cell* s, int32_t n);

// Writes the element at absolute unit [pos] (before the tail) of [s] into [out], which may be
// [s]: a cell, a byte as integer!, a code point as char!, a vector element.
cell* element_at(const cell* s, uint32_t pos, cell* out);
// Stores [data] as the element at absolute unit [pos] (before the tail) of [s]; raises
// invalid-arg when [data] does not fit the series. May allocate.
void store_element(const cell* s, uint32_t pos, const cell* data);

// vector! element access, set when vector! registers; while null, a vector element raises
// internal not-done.
using vector_get_fn = void (*)(const cell* vector, uint32_t pos, cell* out);
using vector_set_fn = void (*)(const cell* vector, uint32_t pos, const cell* data);
extern vector_get_fn vector_get;
extern vector_set_fn vector_set;

// }==
// {== Action entries (registered by init; block!, string! and their children inherit them)

cell* random(cell* value, bool seed, bool secure, bool only);
cell* reflect(cell* value, const cell* field);
void at();
void back();
cell* clear(cell* series);
cell* copy(cell* series, const cell* part, bool deep, const cell* types);
void head();
void head_q();
void index_q();
int32_t length_q(const cell* value);
cell* move(cell* source, cell* target, const cell* part);
void next();
cell* pick(cell* value, int32_t index, const cell* at);
cell* poke(cell* value, int32_t index, const cell* at, cell* data);
cell* remove(cell* series, const cell* part, const cell* key);
cell* reverse(cell* series, const cell* part, const cell* skip);
void skip();
void tail();
void tail_q();
// Without /part the result is the element itself (no series is made); with /part a new
// series of the type, index 0, holding the taken units.
cell* take(cell* series, const cell* part, bool deep, bool last);
cell* modify(cell* target, const cell* field, cell* value, bool case_);

// Registers series!.
void init();

// }==
// {== Shared by the series and block units

namespace detail {

// The hash table of hash! [s] (word 3), or 0 for any other value.
inline node_id table_of(const cell* s) { return s->type() == T_hash ? s->w3 : 0; }
// hash! upkeep after [count] cells at [pos] of [s] were removed and the rest moved down.
void hash_removed(const cell* s, uint32_t pos, uint32_t count);
// hash! upkeep after [count] cells were inserted at [pos] of [s], the rest moved up.
void hash_inserted(const cell* s, uint32_t pos, uint32_t count);
// hash! upkeep after the [count] cells at [pos] of [s] were rewritten in place.
void hash_rewritten(const cell* s, uint32_t pos, uint32_t count);
// hash! upkeep after the cells at [p] and [q] of [s] were exchanged: both leave the table
// before either is indexed again, since a group of equal values is found by its first cell.
void hash_swapped(const cell* s, uint32_t p, uint32_t q);

// The count of a /part argument [part] of [s]: an integer (a float is truncated), or a
// position in the same series (its index less the index of [s], both clamped to the tail);
// anything else raises invalid-refine-arg.
int64_t part_count(const cell* s, const cell* part);
// Removes the [count] units at [pos] of [s] (cut to the tail), moving the rest down and
// keeping a hash! table in step.
void remove_units(const cell* s, uint32_t pos, uint32_t count);
// A new series of [s]'s type (index 0) holding [count] units from absolute [pos], keeping the
// header flags of [s] and, for vector!, its word 3.
cell copy_units(const cell* s, uint32_t pos, uint32_t count);

} // namespace detail

// }==

} // namespace zyl::series
