// runtime/collector.h: the mark-and-compact garbage collector and its roots.
//
// A collection marks every buffer that a root reaches (a bit in the buffer's flags), slides the
// live buffers of each series frame together (into the previous frame when it has room),
// rewrites the node of every moved buffer and every registered raw pointer into it, frees the
// nodes of dead buffers, releases dead big frames and empty node frames, and sweeps the
// external resources. Node ids never change: node frames are not compacted.
//
// Roots: the root block, the evaluation stack (its cells and its frames' contexts), the
// keep-stack (C++ locals registered by the guards below), and the mark callbacks that other
// subsystems register (symbol table, lexer states, ...). Any other value is dead at the next
// collection: C++ code that holds a value across an allocation must keep it rooted.
//
// Finding rooting faults: ZYL_GC_STRESS=N collects at every Nth allocation, and then the room
// a collection frees is scribbled over. With ZYL_GC_MOVE set as well, every such collection
// copies every live buffer into fresh frames and leaves the old frames inaccessible for a
// while, so that a raw buffer pointer kept across an allocation faults at its first use.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::collector {

constexpr uint32_t MAX_MARK_HOOKS = 100;
constexpr uint32_t KEEP_CAPACITY = 4096;
constexpr uint32_t PIN_CAPACITY = 1024;

using mark_hook = void (*)();

struct state {
    bool active;         // collections may run from the allocator
    bool collecting;     // a collection is in progress
    uint32_t cycles;     // collections so far
    uint64_t nanos;      // time spent collecting so far, in nanoseconds
    node_id root_block;  // the run-time's root block, 0 until start-up makes it
    bool root_fixed;     // the root block is at its final capacity: growing it is fatal
    mark_hook hooks[MAX_MARK_HOOKS];
    uint32_t hook_count; // entries used; removed ones are null
};

extern state gc;

// One full collection.
void collect();
// collect() when the active switch is on; the allocator calls this when it runs out of room.
void run_from_allocator();
// Whether a collection is in progress.
inline bool running() { return gc.collecting; }
// Frees node [n] of a dead buffer (0 is ignored).
void queue_free_node(node_id n);

// The image! visit of a handle node (marks its pixels' external-resource entry), set when
// image! registers.
extern void (*image_visit)(node_id handle);

// Registers [hook], called in every collection's root marking; raises when the table is full.
void add_mark_hook(mark_hook hook);
void remove_mark_hook(mark_hook hook);

// Marking entry points for hooks and tables. Each answers whether it newly marked something.
bool mark_series(node_id n);
bool mark_series_cells(node_id n);
void mark_block(node_id ctx); // a context node: its series, table, values and owner
void mark_values(const cell* first, const cell* end);

// {== Keep-stack and pins
//
// Guards nest: each ends before the one made before it (C++ scope order, unwinding included).
// A guard that would take the keep-stack past its last 64 entries raises internal
// stack-overflow instead (the error's own guards use those entries).

// Keeps the value in [c] (a C++ cell, not in a series) alive while the guard lives.
struct keep {
    explicit keep(const cell* c);
    ~keep();
    keep(const keep&) = delete;
    keep& operator=(const keep&) = delete;
};

// Keeps the series of node [*n] alive (cells included) while the guard lives.
struct keep_node {
    explicit keep_node(const node_id* n);
    ~keep_node();
    keep_node(const keep_node&) = delete;
    keep_node& operator=(const keep_node&) = delete;
};

// Registers the raw pointer [*p] into a series buffer, anywhere from its first data byte to
// the end of its data area: a collection that moves the buffer moves the pointer by the same
// distance. The buffer itself must be kept alive elsewhere.
struct pin {
    explicit pin(uint8_t** p);
    ~pin();
    pin(const pin&) = delete;
    pin& operator=(const pin&) = delete;
};

// }==

} // namespace zyl::collector
