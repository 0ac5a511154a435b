// runtime/values.h: small operations on cells at a series tail, a checked number conversion
// and mold indentation, shared by the datatypes and the natives. All but to_int_checked may
// allocate, so buffer pointers taken before a call are stale after it.
#pragma once

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::series {

// A new unset cell at the tail of cell series [n], which doubles when full.
cell* append_unset_cell(node_id n);
// append_unset_cell on the series of block cell [block].
cell* alloc_tail_cell(const cell* block);
// append_value when [n] must grow: [v] is kept alive across the growth.
cell* append_value_slow(node_id n, const cell& v);
// Appends a copy of [v] to cell series [n]; returns the new cell.
inline cell* append_value(node_id n, const cell& v) {
    series_buffer* b = memory::buffer_of(n);
    if (ZYL_UNLIKELY(b->tail == b->end())) return append_value_slow(n, v);
    auto* c = reinterpret_cast<cell*>(b->tail);
    *c = v;
    b->tail += sizeof(cell);
    return c;
}
// Advances the tail of [n] by [bytes], growing it when needed; returns the old tail.
uint8_t* alloc_tail_bytes(node_id n, uint64_t bytes);
// A new series of [n]'s unit holding [length] units from unit [offset] past its head.
node_id copy_part(node_id n, uint64_t offset, uint64_t length);

} // namespace zyl::series

namespace zyl::value {

// The 32-bit integer of number argument [v] (a size, a count): a float! is truncated toward
// zero, and one past the 32-bit range, or not a number, raises script out-of-range; any other
// type gives its word 2 as it stands (an integer!'s value).
int32_t to_int_checked(const cell* v);

} // namespace zyl::value

namespace zyl::string {

// Appends [levels] times four spaces to string [out] (mold indentation); answers [part] less
// four per level. [out] must not lie in a movable buffer. May allocate.
int32_t append_indent(const cell* out, int32_t levels, int32_t part);

} // namespace zyl::string
