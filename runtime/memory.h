// runtime/memory.h: nodes, series buffers and the frames that hold them.
//
// Language values never point at buffers. A series value holds a node id; the node is one
// 64-bit slot holding the address of the series buffer, so a buffer can move (when it grows,
// or when the collector compacts a frame) by rewriting one slot. Node ids are stable.
//
// Nodes live in node frames of 10,000 slots. All node slots lie in one reserved address
// range, each frame in a page-aligned stride of it, so an id finds its slot with one index.
// Buffers are bump-allocated in series frames (1 MB, then 2 MB), or get a big frame of their
// own from 2 MB up. Memory comes from the operating system in whole virtual blocks. Nothing is
// freed by hand: buffers and nodes die only in the collector's sweeps.
//
// Invariant (a used node [n]): buffer_of(n)->node == n; data() <= head <= tail <= end();
// the length in units is (tail - head) / unit.
#pragma once

#include <cstdint>

#include "runtime/common.h"

namespace zyl {

using node_id = uint32_t; // 0 is no node

// Flags word of a series buffer.
constexpr uint32_t SERIES_UNIT_MASK = 0x1F;         // unit in bytes: 1, 2, 4 (text), 8 (pointer arrays), 16 (cells)
constexpr uint32_t SERIES_IN_USE = 0x80000000;      // cleared when an expansion abandons it
constexpr uint32_t SERIES_ALLOCATED = 0x20000000;   // set on every allocation
constexpr uint32_t SERIES_MID_HEAD = 0x10000000;    // head placed in the middle of the data
constexpr uint32_t SERIES_MARK = 0x08000000;        // collector mark
constexpr uint32_t SERIES_BIG = 0x01000000;         // lives in a big frame
constexpr uint32_t SERIES_STACK_VALUES = 0x00400000; // context values live on the eval stack
constexpr uint32_t SERIES_UNMANAGED = 0x00100000;   // outside the frames: never moved or reclaimed
constexpr uint32_t SERIES_OWNED = 0x00020000;       // has an entry in the owner table

// Invariant: data() <= head <= tail <= end(); size is a multiple of 16.
struct series_buffer {
    uint32_t flags; // see SERIES_*
    node_id node;   // owning node; 0 once abandoned by an expansion
    uint32_t size;  // bytes in the data area
    uint32_t spare; // keeps the data area 16-byte aligned
    uint8_t* head;  // first unit in use
    uint8_t* tail;  // one past the last unit in use

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* end() { return data() + size; }
    uint32_t unit() const { return flags & SERIES_UNIT_MASK; }
    uint32_t used_bytes() const { return static_cast<uint32_t>(tail - head); }
};
static_assert(sizeof(series_buffer) == 32, "buffer header keeps data 16-byte aligned");

// Bytes a buffer takes in a series frame besides its data area.
constexpr uint32_t BUFFER_OVERHEAD = sizeof(series_buffer);

// Invariant: slots of a frame are either used (hold a buffer address, or 0 right after
// allocation) or free (odd: next free id shifted left by one, plus 1; id 0 ends the list).
struct node_frame {
    node_frame* next;
    node_frame* prev;
    uint32_t slot_count;   // 10,000 for every frame the allocator makes
    node_id free_head;     // first free slot, 0 when none
    uint32_t used;         // slots in use
    uint32_t cycle;        // collector cycle count when the frame was made
    uint32_t used_at_last; // used count at the last collection
    uint32_t history;      // one bit per collection: 1 = used count unchanged
    uint32_t release;      // 1 = emptied by the collector, release at the next sweep
    uint32_t index;        // position in the node range: ids start at index * stride + 1
    bool live;             // the header is in use
};

// Invariant: data() <= heap <= end; buffers lie back to back from data() to heap.
struct series_frame {
    series_frame* next; // frames are linked in ascending address order
    series_frame* prev;
    uint64_t size;      // data area plus this header
    uint8_t* heap;      // where the next buffer goes
    uint8_t* end;       // one past the data area
    uint64_t spare;     // keeps the data area 16-byte aligned

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(series_frame) % 16 == 0);

struct big_frame {
    big_frame* next;
    uint64_t zero;
    uint64_t requested; // bytes requested for the buffer, its header included
    uint64_t spare;

    series_buffer* buffer() { return reinterpret_cast<series_buffer*>(this + 1); }
};
static_assert(sizeof(big_frame) % 16 == 0);

constexpr uint32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t NODE_FRAME_STRIDE = 10240; // slots per frame in the node range: page aligned
constexpr uint32_t MAX_NODE_FRAMES = 26214;   // bounds the node range to about 2 GB of address
constexpr uint32_t SERIES_FRAME_INITIAL = 0x100000;
constexpr uint32_t SERIES_FRAME_MAX = 0x200000; // also the big-buffer threshold
constexpr uint32_t FRAME_MIN_FREE = 0xCCCC;     // after a collection, less free means a new frame
constexpr uint64_t MAX_BUFFER_BYTES = 0x7FFFFFF0; // largest data area a buffer may have
// Collector pacing: a full frame set triggers a collection only once the bytes allocated since
// the last one reach a share of what survived it (live / PACE_SHARE), and never less than
// PACE_FLOOR: a program that keeps what it makes pays a mark per growth step, not per frame.
constexpr uint64_t PACE_FLOOR = 0x400000;
constexpr uint64_t PACE_SHARE = 2;

struct memory_manager {
    uint64_t total; // bytes of virtual memory held
    node_frame* first_node_frame;
    node_frame* last_node_frame;
    node_frame* current_node_frame;
    series_frame* first_series_frame; // lowest address
    series_frame* current_series_frame;
    series_frame* last_series_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size; // only grows
    uint32_t max_frame_size;
    big_frame* first_big_frame;
    uint64_t allocations;  // buffers allocated so far
    uint64_t stress_every; // ZYL_GC_STRESS: collect every N allocations, 0 = off
    uint64_t since_collect;  // buffer bytes allocated since the last collection
    uint64_t collect_budget; // since_collect that lets a full frame set collect again
};

extern memory_manager mm;

namespace memory {

// Base of the node range, one slot before the slot of id 1; see slot_of.
extern uintptr_t node_base;

// Bytes held by live buffers in series and big frames; right after a collection, what survived.
uint64_t heap_in_use();
// Sets the pacing budget from what survived the collection that just ended.
void pace_after_collection();

// The 64-bit slot of node [n].
inline uint64_t* slot_of(node_id n) { return reinterpret_cast<uint64_t*>(node_base + uint64_t(n) * 8); }

// The buffer that node [n] points at.
inline series_buffer* buffer_of(node_id n) {
    ZYL_ASSERT(n != 0 && (*slot_of(n) & 1) == 0);
    return reinterpret_cast<series_buffer*>(*slot_of(n));
}

// Fills the manager's record and reserves the node range; reads ZYL_GC_STRESS.
void init();
// Releases every frame; init() may run again afterwards.
void free_all();

// A page-aligned read-write block of at least [size] bytes (read-write-execute with [exec]).
void* alloc_virtual(uint64_t size, bool exec = false);
// Releases a block from alloc_virtual.
void free_virtual(void* p);
// Keeps heap buffer [b], abandoned by an expansion, until free_retired: a caller may still
// read the old content right after the expansion.
void retire_unmanaged(series_buffer* b);
// Frees the retired heap buffers; the collector calls it, when no raw pointer may survive.
void free_retired();
// Records heap buffer [b] as live.
void track_unmanaged(series_buffer* b);
// Calls [fn] on every live heap buffer (the fixed blocks).
void for_each_unmanaged(void (*fn)(series_buffer* b));
// Sets the bytes of [start, end) to [byte].
void fill(uint8_t* start, uint8_t* end, uint8_t byte);

node_frame* new_node_frame(uint32_t slots);
void free_node_frame(node_frame* f);
// A fresh node holding 0.
node_id alloc_node();
// Returns [n] to the free list of its frame [f].
void free_node(node_frame* f, node_id n);
// The frame that holds node [n].
node_frame* frame_of(node_id n);
// After every collection: releases empty frames, picks the current one, updates history.
void sweep_node_frames();

series_frame* new_series_frame();
void free_series_frame(series_frame* f);
// The first frame, in address order, with room for [bytes].
series_frame* find_series_frame(uint64_t bytes);

// A buffer of [bytes] (its header included) in a big frame of its own.
series_buffer* alloc_big(uint64_t bytes);
void free_big(series_buffer* b);
// After marking: frees unmarked big frames (their nodes queued) and clears the marks.
void sweep_big_frames();

// Fills [dst] with [count] copies of its first [length] bytes; returns the end.
uint8_t* repeat_fill(uint8_t* dst, uint64_t length, uint64_t count);

} // namespace memory

namespace series {

constexpr int32_t HEAD_MIDDLE = -1; // head offset: place the head in the middle of the data

// A buffer for [count] units of [unit] bytes with its head at byte [offset] (or HEAD_MIDDLE).
// May run the collector first.
series_buffer* alloc_buffer(uint64_t count, uint32_t unit, int32_t offset);
// A buffer and a node linked both ways. May run the collector.
node_id alloc(uint64_t count, uint32_t unit, int32_t offset);
// As alloc, but the buffer comes from the heap and never moves or dies.
node_id alloc_unmanaged(uint64_t count, uint32_t unit, int32_t offset);
node_id alloc_cells(uint64_t count);
// Every cell of the whole data area is unset.
node_id alloc_cells_unset(uint64_t count);
// [bytes] of unit 1; 16 when 0.
node_id alloc_bytes(uint64_t bytes);
// [count] units of [unit] (1, 2 or 4); 16 bytes' worth when 0.
node_id alloc_by_encoding(uint64_t count, uint32_t unit);
// alloc_bytes with the whole data area set to [byte].
node_id alloc_fill(uint64_t bytes, uint8_t byte);
void set_flags(node_id n, uint32_t mask);

// Moves [n] to a new empty buffer of [size] bytes (twice the old size when 0), keeping
// tail - head. The content is not copied. Old buffer pointers are stale afterwards.
series_buffer* expand_buffer(node_id n, uint64_t size);
// expand_buffer that keeps the content (head to tail) at the start of the new data area.
series_buffer* expand(node_id n, uint64_t size);
// expand, then sets the bytes from new head + old size to the end of the data to [byte].
series_buffer* expand_fill(node_id n, uint64_t size, uint8_t byte);
// A new node whose buffer holds a copy of [n]'s content, with the same unit.
node_id copy_buffer(node_id n);

// Units between the head and the tail of [n].
inline uint64_t length(node_id n) {
    series_buffer* b = memory::buffer_of(n);
    return b->used_bytes() / b->unit();
}

} // namespace series
} // namespace zyl
