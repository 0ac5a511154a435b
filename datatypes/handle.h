// datatypes/handle.h: handle!, an opaque 32-bit value of the host system (a descriptor, a
// window, a font, a native actor table) that language code holds and passes back.
//
// Cell: word 1 the kind (below), word 2 the value, word 3 always -1: a handle never keeps an
// external resource alive. A handle that names an entry of the external-resource table
// (runtime/extres.h) holds the entry's index as its value and the low 16 bits of the entry's
// generation in header bits 8-23 (HANDLE_GENERATION_MASK), so that it stops resolving once the
// entry is released or reused.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::handle {

enum kind : uint32_t { KIND_NONE = 0, KIND_FD = 1, KIND_MONITOR = 2, KIND_WINDOW = 3, KIND_FONT = 4, KIND_RICH_TEXT = 5 };

// Writes a handle of [value] and [kind] into [c]; returns [c].
cell* make_at(cell* c, uint32_t value, uint32_t kind);
// make_at on the current frame's result cell.
cell* box(uint32_t value, uint32_t kind);
// Pushes a new handle on the evaluation stack.
cell* push(uint32_t value, uint32_t kind);
// Pushes a handle of value 0 and kind 0.
cell* push_empty();
// Appends a handle at the tail of block [blk]. May allocate.
cell* append_to_block(const cell* blk, uint32_t value, uint32_t kind);
// Writes into [c] a handle of [kind] naming external-resource entry [index].
cell* make_for_resource(cell* c, int32_t index, uint32_t kind);
// The resource that handle [h] names, while its entry is used and of the same generation;
// else null.
void* resolve(const cell* h);

// Registers handle!; integer! must be registered.
void init();

} // namespace zyl::handle
