// runtime/array.cpp: growable arrays over series buffers.
#include "runtime/array.h"

#include <bit>
#include <cstring>

#include "runtime/values.h"

namespace zyl::array {

namespace {

template <typename T> T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> void append(node_id a, T v) {
    uint8_t* at = series::alloc_tail_bytes(a, sizeof v);
    std::memcpy(at, &v, sizeof v);
}

// Byte offset of the first element equal to [v], stepping by its size; -1 when absent.
template <typename T> int32_t find(node_id a, T v) {
    series_buffer* b = memory::buffer_of(a);
    for (uint8_t* p = b->head; p + sizeof v <= b->tail; p += sizeof v)
        if (load<T>(p) == v) return static_cast<int32_t>(p - b->head);
    return -1;
}

} // namespace

node_id alloc(uint32_t count, uint32_t unit) {
    node_id a = series::alloc_bytes(uint64_t(count) * unit);
    series_buffer* b = memory::buffer_of(a);
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | unit;
    return a;
}

uint32_t length(node_id a) {
    series_buffer* b = memory::buffer_of(a);
    return b->used_bytes() >> std::countr_zero(b->unit());
}

void clear(node_id a) {
    series_buffer* b = memory::buffer_of(a);
    b->tail = b->head;
}

void set_length(node_id a, uint32_t index) {
    series_buffer* b = memory::buffer_of(a);
    b->tail = b->head + uint64_t(index - 1) * b->unit();
}

node_id copy(node_id a) { return series::copy_buffer(a); }

uint32_t flags(node_id a) { return memory::buffer_of(a)->flags; }

void append_byte(node_id a, uint8_t byte) { append<uint8_t>(a, byte); }

uint8_t pick_byte(node_id a, uint32_t index) { return memory::buffer_of(a)->head[index - 1]; }

void append_bytes(node_id a, const void* src, uint32_t count) {
    uint8_t* at = series::alloc_tail_bytes(a, count); // [src] must not lie in a movable buffer
    std::memcpy(at, src, count);
}

void remove_bytes(node_id a, uint32_t offset, uint32_t count) {
    series_buffer* b = memory::buffer_of(a);
    uint8_t* at = b->head + offset;
    std::memmove(at, at + count, b->tail - (at + count));
    b->tail -= count;
}

void append_int(node_id a, int32_t value) { append<int32_t>(a, value); }

int32_t find_int(node_id a, int32_t value) { return find<int32_t>(a, value); }

int32_t pick_int(node_id a, uint32_t index) {
    return load<int32_t>(memory::buffer_of(a)->head + uint64_t(index - 1) * 4);
}

void poke_int(node_id a, uint32_t index, int32_t value) {
    std::memcpy(memory::buffer_of(a)->head + uint64_t(index - 1) * 4, &value, 4);
}

void insert_int(node_id a, int32_t value, uint32_t index) {
    series_buffer* b = memory::buffer_of(a);
    if (b->tail + 4 > b->end()) b = series::expand(a, 0);
    uint8_t* at = b->head + uint64_t(index) * 4;
    std::memmove(at + 4, at, b->tail - at);
    std::memcpy(at, &value, 4);
    b->tail += 4;
}

void append_ptr(node_id a, const void* p) { append<uintptr_t>(a, reinterpret_cast<uintptr_t>(p)); }

int32_t find_ptr(node_id a, const void* p) { return find<uintptr_t>(a, reinterpret_cast<uintptr_t>(p)); }

void* pick_ptr(node_id a, uint32_t index) {
    return reinterpret_cast<void*>(load<uintptr_t>(memory::buffer_of(a)->head + uint64_t(index - 1) * 8));
}

void remove_ptr(node_id a, const void* p) {
    int32_t at = find_ptr(a, p);
    if (at >= 0) remove_bytes(a, static_cast<uint32_t>(at), sizeof(uintptr_t));
}

} // namespace zyl::array
