// boot/root.h: the root block, where the run-time keeps what lives for the whole run, and the
// boot image's values in it, reached by root index.
//
// The root block's buffer comes from the heap at its final capacity and never moves, so a
// pointer to one of its cells stays valid for the whole run. Growing it past that capacity is
// an internal fault: the process ends with runtime error 98 rather than moving the block.
// Root index i is the i-th value that the boot-image load appended, whatever the block held
// before. An index outside those values is fatal too: indexes are fixed when the program is
// built, so a bad one is the program's fault, never the user's.
#pragma once

#include <cstdint>
#include <span>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::root {

// Makes the root block with room for [capacity] cells; its capacity is final.
void make(uint32_t capacity);
// Loads [image] into the root block (zylbin::load_boot_image) and makes its values the ones
// root indexes reach. Answers how many it appended.
uint32_t load(std::span<const uint8_t> image);
// How many values the boot-image load appended (0 before it).
uint32_t count();

// The cell of root index [i]: the run-time's own cell, not a copy.
cell* value_at(int32_t i);
// The node of the series value at [i] (block!, string!, binary!, ...).
node_id series_at(int32_t i);
// The context node of the object!, error!, function! or routine! at [i].
node_id context_at(int32_t i);

} // namespace zyl::root
