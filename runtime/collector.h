// runtime/collector.h: the collector's switches and the entry points the allocator calls.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace zyl::collector {

struct state {
    bool active;         // collections may run from the allocator
    bool collecting;     // a collection is in progress
    uint32_t cycles;     // collections so far
    void (*hook)();      // the mark-and-compact pass; null until the collector exists
};

extern state gc;

// One full collection.
void collect();
// collect() when the active switch is on; the allocator calls this when it runs out of room.
void run_from_allocator();
// Whether a collection is in progress.
inline bool running() { return gc.collecting; }
// Frees node [n] once the current sweep is over.
void queue_free_node(node_id n);

} // namespace zyl::collector
