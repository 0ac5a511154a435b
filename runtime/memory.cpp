// runtime/memory.cpp: the memory manager: virtual blocks, node frames, series frames, big
// frames and series buffers. Invariants are written in runtime/memory.h.
#include "runtime/memory.h"

#include <cstdlib>
#include <cstring>
#include <vector>
#include <algorithm>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/vmem.h"

namespace zyl {

memory_manager mm;

namespace memory {

uintptr_t node_base;

namespace {

// Node frame headers, by their index in the node range. Untouched entries cost nothing.
node_frame frame_headers[MAX_NODE_FRAMES];

uint8_t* node_range; // reserved at init, never given back
// Heap buffers abandoned by an expansion, and the live ones. Never destroyed: the lists must
// outlast every static destructor, so that a leak checker at exit still finds the buffers.
std::vector<series_buffer*>& retired = *new std::vector<series_buffer*>;
std::vector<series_buffer*>& unmanaged = *new std::vector<series_buffer*>;
constexpr uint64_t NODE_RANGE_BYTES = uint64_t(MAX_NODE_FRAMES) * NODE_FRAME_STRIDE * 8;
constexpr uint64_t VIRTUAL_PREFIX = 16; // holds the block size; keeps what follows aligned

[[noreturn]] void no_memory() { error::raise(error::cat_internal, error::internal_no_memory); }

uint64_t* frame_slots(const node_frame* f) {
    return reinterpret_cast<uint64_t*>(node_range) + uint64_t(f->index) * NODE_FRAME_STRIDE;
}

node_id first_id(const node_frame* f) { return f->index * NODE_FRAME_STRIDE + 1; }

uint64_t node_frame_bytes(uint32_t slots) {
    return align_up(uint64_t(slots) * 8 + sizeof(node_frame), vmem::PAGE);
}

void unlink_node_frame(node_frame* f) {
    (f->prev ? f->prev->next : mm.first_node_frame) = f->next;
    (f->next ? f->next->prev : mm.last_node_frame) = f->prev;
    if (mm.current_node_frame == f) mm.current_node_frame = mm.last_node_frame;
}

// Links [f] into the frame list in ascending address order.
void insert_series_frame(series_frame* f) {
    series_frame* after = nullptr;
    for (series_frame* g = mm.first_series_frame; g && g < f; g = g->next) after = g;
    f->prev = after;
    f->next = after ? after->next : mm.first_series_frame;
    (after ? after->next : mm.first_series_frame) = f;
    (f->next ? f->next->prev : mm.last_series_frame) = f;
    if (!mm.current_series_frame) mm.current_series_frame = f;
}

} // namespace

void init() {
    mm = memory_manager{};
    mm.initial_frame_size = SERIES_FRAME_INITIAL;
    mm.next_frame_size = SERIES_FRAME_INITIAL;
    mm.max_frame_size = SERIES_FRAME_MAX;
    if (!node_range) {
        node_range = static_cast<uint8_t*>(vmem::reserve(NODE_RANGE_BYTES));
        if (!node_range) no_memory();
        node_base = reinterpret_cast<uintptr_t>(node_range) - 8;
    }
    mm.collect_budget = PACE_FLOOR;
    const char* stress = std::getenv("ZYL_GC_STRESS");
    mm.stress_every = stress ? std::strtoull(stress, nullptr, 10) : 0;
}

void free_all() {
    for (series_buffer* b : unmanaged) std::free(b);
    unmanaged.clear();
    while (mm.first_node_frame) free_node_frame(mm.first_node_frame);
    while (mm.first_series_frame) free_series_frame(mm.first_series_frame);
    while (mm.first_big_frame) free_big(mm.first_big_frame->buffer());
    free_retired();
}

uint64_t heap_in_use() {
    uint64_t bytes = 0;
    for (series_frame* f = mm.first_series_frame; f; f = f->next) bytes += uint64_t(f->heap - f->data());
    for (big_frame* f = mm.first_big_frame; f; f = f->next) bytes += f->requested;
    return bytes;
}

void pace_after_collection() {
    mm.since_collect = 0;
    mm.collect_budget = std::max(PACE_FLOOR, heap_in_use() / PACE_SHARE);
}

void* alloc_virtual(uint64_t size, bool exec) {
    uint64_t bytes = align_up(size + VIRTUAL_PREFIX, vmem::PAGE);
    auto* p = static_cast<uint8_t*>(vmem::map(bytes, exec));
    if (!p) no_memory();
    mm.total += bytes; // only what was granted
    *reinterpret_cast<uint64_t*>(p) = bytes;
    return p + VIRTUAL_PREFIX;
}

void free_virtual(void* p) {
    uint8_t* block = static_cast<uint8_t*>(p) - VIRTUAL_PREFIX;
    uint64_t bytes = *reinterpret_cast<uint64_t*>(block);
    if (!vmem::unmap(block, bytes)) no_memory();
    mm.total -= bytes;
}

void retire_unmanaged(series_buffer* b) {
    unmanaged.erase(std::find(unmanaged.begin(), unmanaged.end(), b));
    retired.push_back(b);
}

void for_each_unmanaged(void (*fn)(series_buffer* b)) {
    for (series_buffer* b : unmanaged) fn(b);
}

void track_unmanaged(series_buffer* b) { unmanaged.push_back(b); }

void free_retired() {
    for (series_buffer* b : retired) std::free(b);
    retired.clear();
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, end - start);
}

// {== Node frames

node_frame* new_node_frame(uint32_t slots) {
    ZYL_ASSERT(slots >= 1 && slots <= NODE_FRAME_STRIDE);
    uint32_t index = 0;
    while (index < MAX_NODE_FRAMES && frame_headers[index].live) index++;
    if (index == MAX_NODE_FRAMES) no_memory();
    node_frame* f = &frame_headers[index];
    *f = node_frame{};
    f->index = index;
    uint64_t bytes = node_frame_bytes(slots);
    if (!vmem::commit(frame_slots(f), align_up(uint64_t(slots) * 8, vmem::PAGE))) no_memory();
    mm.total += bytes;
    f->live = true;
    f->slot_count = slots;
    f->cycle = collector::gc.cycles;
    // Thread every slot into the free list in address order.
    uint64_t* s = frame_slots(f);
    node_id id = first_id(f);
    for (uint32_t i = 0; i + 1 < slots; i++) s[i] = (uint64_t(id + i + 1) << 1) | 1;
    s[slots - 1] = 1;
    f->free_head = id;
    f->prev = mm.last_node_frame;
    (mm.last_node_frame ? mm.last_node_frame->next : mm.first_node_frame) = f;
    mm.last_node_frame = f;
    if (!mm.current_node_frame) mm.current_node_frame = f;
    return f;
}

void free_node_frame(node_frame* f) {
    unlink_node_frame(f);
    vmem::decommit(frame_slots(f), align_up(uint64_t(f->slot_count) * 8, vmem::PAGE));
    mm.total -= node_frame_bytes(f->slot_count);
    f->live = false;
}

node_frame* frame_of(node_id n) {
    node_frame* f = &frame_headers[(n - 1) / NODE_FRAME_STRIDE];
    ZYL_ASSERT(f->live && (n - first_id(f)) < f->slot_count);
    return f;
}

node_id alloc_node() {
    node_frame* f = mm.current_node_frame;
    if (!f || !f->free_head) {
        f = mm.first_node_frame;
        while (f && (!f->free_head || f->release)) f = f->next;
        if (!f) f = new_node_frame(NODE_FRAME_SLOTS);
        mm.current_node_frame = f;
    }
    node_id n = f->free_head;
    uint64_t* s = slot_of(n);
    f->free_head = static_cast<node_id>(*s >> 1);
    *s = 0;
    f->used++;
    return n;
}

void free_node(node_frame* f, node_id n) {
    ZYL_ASSERT((*slot_of(n) & 1) == 0 && f->used > 0);
    *slot_of(n) = (uint64_t(f->free_head) << 1) | 1;
    f->free_head = n;
    f->used--;
}

void sweep_node_frames() {
    bool chosen = false;
    node_frame* f = mm.first_node_frame;
    while (f) {
        node_frame* next = f->next;
        if (f->used == 0 || f->release) {
            free_node_frame(f);
        } else {
            if (!chosen && f->used < f->slot_count) {
                mm.current_node_frame = f;
                chosen = true;
            }
            f->history = (f->history << 1) | (f->used == f->used_at_last ? 1 : 0);
            f->used_at_last = f->used;
        }
        f = next;
    }
}

// }==
// {== Series frames

series_frame* new_series_frame() {
    uint32_t size = mm.next_frame_size;
    if (size < mm.max_frame_size) mm.next_frame_size = std::min(size * 2, mm.max_frame_size);
    auto* f = static_cast<series_frame*>(alloc_virtual(size + sizeof(series_frame)));
    f->size = size + sizeof(series_frame);
    f->heap = f->data();
    f->end = f->data() + size;
    insert_series_frame(f);
    return f;
}

void free_series_frame(series_frame* f) {
    (f->prev ? f->prev->next : mm.first_series_frame) = f->next;
    (f->next ? f->next->prev : mm.last_series_frame) = f->prev;
    if (mm.current_series_frame == f) mm.current_series_frame = mm.last_series_frame;
    free_virtual(f);
}

series_frame* find_series_frame(uint64_t bytes) {
    for (series_frame* f = mm.first_series_frame; f; f = f->next)
        if (f->heap + bytes < f->end) return f;
    return nullptr;
}

// }==
// {== Big frames

series_buffer* alloc_big(uint64_t bytes) {
    auto* f = static_cast<big_frame*>(alloc_virtual(bytes + sizeof(big_frame)));
    f->next = nullptr;
    f->zero = 0;
    f->requested = bytes;
    big_frame** link = &mm.first_big_frame;
    while (*link) link = &(*link)->next;
    *link = f;
    return f->buffer();
}

void free_big(series_buffer* b) {
    big_frame* f = reinterpret_cast<big_frame*>(b) - 1;
    big_frame** link = &mm.first_big_frame;
    while (*link && *link != f) link = &(*link)->next;
    ZYL_ASSERT(*link == f);
    *link = f->next;
    free_virtual(f);
}

void sweep_big_frames() {
    big_frame* f = mm.first_big_frame;
    while (f) {
        big_frame* next = f->next;
        series_buffer* b = f->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
        } else {
            if (b->node) collector::queue_free_node(b->node);
            free_big(b);
        }
        f = next;
    }
}

// }==

uint8_t* repeat_fill(uint8_t* dst, uint64_t length, uint64_t count) {
    uint64_t total = length * count;
    if (total == 0) return dst;
    uint64_t filled = length;
    while (filled * 2 <= total) { // double the filled part each time
        std::memcpy(dst + filled, dst, filled);
        filled *= 2;
    }
    std::memcpy(dst + filled, dst, total - filled);
    return dst + total;
}

} // namespace memory

// {== Series buffers

namespace series {

namespace {

// The data-area size for [count] units of [unit] bytes; raises no-memory when it can't exist.
uint64_t data_size(uint64_t count, uint32_t unit) {
    if (count > MAX_BUFFER_BYTES / unit) memory::no_memory();
    return align_up(count * unit, 16);
}

// A frame with room for [request] bytes, made or found as the allocation policy says.
series_frame* frame_for(uint64_t request) {
    series_frame* f = mm.current_series_frame;
    if (f && f->heap + request < f->end) return f;
    f = memory::find_series_frame(request);
    if (!f) {
        // Under stress every full frame set still collects, as the stress runs expect.
        if (mm.since_collect >= mm.collect_budget || mm.stress_every) collector::run_from_allocator();
        f = memory::find_series_frame(request);
        if (!f || uint64_t(f->end - f->heap) < FRAME_MIN_FREE) {
            if (request >= mm.next_frame_size) mm.next_frame_size = mm.max_frame_size;
            f = memory::new_series_frame();
        }
    }
    mm.current_series_frame = f;
    return f;
}

void link(series_buffer* b, node_id n) {
    *memory::slot_of(n) = reinterpret_cast<uint64_t>(b);
    b->node = n;
}

} // namespace

series_buffer* alloc_buffer(uint64_t count, uint32_t unit, int32_t offset) {
    ZYL_ASSERT(unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == 16);
    uint64_t size = data_size(count, unit);
    uint64_t request = size + BUFFER_OVERHEAD;
    if (mm.stress_every && ++mm.allocations % mm.stress_every == 0) collector::run_from_allocator();
    series_buffer* b;
    uint32_t big = 0;
    mm.since_collect += request;
    if (request >= mm.max_frame_size) {
        if (mm.since_collect >= mm.collect_budget || mm.stress_every) collector::run_from_allocator();
        b = memory::alloc_big(request);
        big = SERIES_BIG;
    } else {
        series_frame* f = frame_for(request);
        b = reinterpret_cast<series_buffer*>(f->heap);
        f->heap += request;
    }
    b->size = static_cast<uint32_t>(size);
    b->spare = 0;
    b->node = 0;
    b->flags = unit | SERIES_IN_USE | big | SERIES_ALLOCATED;
    if (offset == HEAD_MIDDLE) {
        b->flags |= SERIES_MID_HEAD;
        offset = static_cast<int32_t>((size / 2) & ~uint64_t(15)); // keeps cells aligned
    }
    ZYL_ASSERT(offset >= 0 && uint64_t(offset) <= size);
    b->head = b->tail = b->data() + offset;
    return b;
}

node_id alloc(uint64_t count, uint32_t unit, int32_t offset) {
    series_buffer* b = alloc_buffer(count, unit, offset);
    node_id n = memory::alloc_node(); // may not move b: node frames are not series frames
    link(b, n);
    return n;
}

// An unmanaged buffer from the heap, not yet linked to a node.
series_buffer* alloc_unmanaged_buffer(uint64_t count, uint32_t unit, int32_t offset) {
    uint64_t size = data_size(count, unit);
    auto* b = static_cast<series_buffer*>(std::aligned_alloc(16, size + BUFFER_OVERHEAD));
    if (!b) runtime_error(RT_OUT_OF_MEMORY);
    memory::track_unmanaged(b);
    b->size = static_cast<uint32_t>(size);
    b->spare = 0;
    b->node = 0;
    b->flags = unit | SERIES_IN_USE | SERIES_ALLOCATED | SERIES_UNMANAGED;
    ZYL_ASSERT(offset >= 0 && uint64_t(offset) <= size);
    b->head = b->tail = b->data() + offset;
    return b;
}

node_id alloc_unmanaged(uint64_t count, uint32_t unit, int32_t offset) {
    series_buffer* b = alloc_unmanaged_buffer(count, unit, offset);
    link(b, memory::alloc_node());
    return b->node;
}

node_id alloc_cells(uint64_t count) { return alloc(count, 16, 0); }

node_id alloc_cells_unset(uint64_t count) {
    node_id n = alloc(count, 16, 0);
    series_buffer* b = memory::buffer_of(n);
    auto* c = reinterpret_cast<uint32_t*>(b->data());
    for (uint32_t i = 0; i < b->size / 16; i++, c += 4) {
        c[0] = 2; // unset!
        c[1] = c[2] = c[3] = 0;
    }
    return n;
}

node_id alloc_bytes(uint64_t bytes) { return alloc(bytes ? bytes : 16, 1, 0); }

node_id alloc_by_encoding(uint64_t count, uint32_t unit) {
    ZYL_ASSERT(unit == 1 || unit == 2 || unit == 4);
    return alloc(count ? count : 16 / unit, unit, 0);
}

node_id alloc_fill(uint64_t bytes, uint8_t byte) {
    node_id n = alloc_bytes(bytes);
    series_buffer* b = memory::buffer_of(n);
    memory::fill(b->data(), b->end(), byte);
    return n;
}

void set_flags(node_id n, uint32_t mask) { memory::buffer_of(n)->flags |= mask; }

namespace {

// Moves [n] to a new buffer of [size] bytes (see expand_buffer), copying the content when
// [keep] is set. The old buffer is abandoned: a frame buffer stays until its frame is
// compacted, a heap buffer is retired and freed at the next collection.
series_buffer* relocate(node_id n, uint64_t size, bool keep) {
    // Pointers into the root block are kept for the whole run: it may fill, never move.
    if (n == collector::gc.root_block && collector::gc.root_fixed)
        runtime_error(RT_ASSERTION, __builtin_return_address(0));
    series_buffer* old = memory::buffer_of(n);
    uint32_t unit = old->unit();
    uint64_t used = old->used_bytes();
    // A zero request doubles; an empty buffer still grows.
    if (size == 0) size = std::max<uint64_t>(uint64_t(old->size) * 2, 16);
    if (size < used) size = used;
    uint64_t count = (size + unit - 1) / unit;
    bool unmanaged = old->flags & SERIES_UNMANAGED;
    series_buffer* b = unmanaged ? alloc_unmanaged_buffer(count, unit, 0) : alloc_buffer(count, unit, 0);
    old = memory::buffer_of(n); // the allocation may have moved it
    b->flags = (old->flags & ~(SERIES_MID_HEAD | SERIES_BIG)) | (b->flags & SERIES_BIG);
    if (keep) std::memcpy(b->head, old->head, used);
    b->tail = b->head + used;
    link(b, n);
    old->node = 0;
    old->flags &= ~SERIES_IN_USE;
    if (unmanaged) memory::retire_unmanaged(old);
    return b;
}

} // namespace

series_buffer* expand_buffer(node_id n, uint64_t size) { return relocate(n, size, false); }

series_buffer* expand(node_id n, uint64_t size) { return relocate(n, size, true); }

series_buffer* expand_fill(node_id n, uint64_t size, uint8_t byte) {
    uint32_t old_size = memory::buffer_of(n)->size;
    series_buffer* b = expand(n, size);
    memory::fill(b->head + old_size, b->end(), byte);
    return b;
}

node_id copy_buffer(node_id n) {
    series_buffer* src = memory::buffer_of(n);
    uint32_t used = src->used_bytes();
    node_id c = alloc(src->size, 1, 0);
    src = memory::buffer_of(n);
    series_buffer* b = memory::buffer_of(c);
    const uint32_t keep = SERIES_MID_HEAD | SERIES_BIG | SERIES_UNMANAGED | SERIES_OWNED | SERIES_MARK;
    b->flags = (src->flags & ~keep) | (b->flags & SERIES_BIG);
    std::memcpy(b->head, src->head, used);
    b->tail = b->head + used;
    return c;
}

} // namespace series

// }==

} // namespace zyl
