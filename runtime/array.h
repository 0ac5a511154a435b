// runtime/array.h: growable arrays of bytes, 32-bit integers and pointers for run-time code.
//
// An array is a plain series: callers hold its node, and the collector moves and reclaims
// it like any series. The buffer's unit is the element size given to alloc; the integer
// operations work in 4-byte elements and the pointer operations in 8-byte elements of a byte
// series. Indexes are 1-based and unchecked: callers keep them within 1 and the length.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace zyl::array {

// A new array with room for [count] elements of [unit] bytes.
node_id alloc(uint32_t count, uint32_t unit);
// Elements in [a], by its unit.
uint32_t length(node_id a);
void clear(node_id a);
// Sets the length of [a] to [index] - 1 elements.
void set_length(node_id a, uint32_t index);
node_id copy(node_id a);
uint32_t flags(node_id a);

void append_byte(node_id a, uint8_t byte);
uint8_t pick_byte(node_id a, uint32_t index);
void append_bytes(node_id a, const void* src, uint32_t count);
// Removes [count] bytes at byte [offset] of [a], moving the later ones down.
void remove_bytes(node_id a, uint32_t offset, uint32_t count);

void append_int(node_id a, int32_t value);
// Byte offset of the first [value] in [a], -1 when absent.
int32_t find_int(node_id a, int32_t value);
int32_t pick_int(node_id a, uint32_t index);
void poke_int(node_id a, uint32_t index, int32_t value);
// Inserts [value] before 0-based element [index] of [a].
void insert_int(node_id a, int32_t value, uint32_t index);

void append_ptr(node_id a, const void* p);
// Byte offset of the first [p] in [a], -1 when absent.
int32_t find_ptr(node_id a, const void* p);
void* pick_ptr(node_id a, uint32_t index);
// Removes the first [p] from [a]; nothing when absent.
void remove_ptr(node_id a, const void* p);

} // namespace zyl::array
