// runtime/extres.cpp: the external-resource table.
#include "runtime/extres.h"

#include <cstdlib>

#include "runtime/common.h"
#include "runtime/error.h"

namespace zyl::extres {

namespace {

struct kind_pair {
    uint32_t tag;
    release_fn release;
};

struct table {
    kind_pair kinds[MAX_KINDS];
    uint32_t kind_count;
    entry* entries;
    uint32_t size;
    int32_t free_head;
    int32_t used_head; // -1 when empty
};

table t{{}, 0, nullptr, 0, -1, -1};

// Threads entries [from, to) onto a chain in order, the last ending it.
void thread(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++) {
        t.entries[i] = entry{FREE, i + 1 < to ? static_cast<int32_t>(i + 1) : -1, nullptr, 0};
    }
}

void release_resource(const entry& e) {
    uint32_t kind = e.flags & KIND_MASK;
    if (kind >= 1 && kind <= t.kind_count && t.kinds[kind - 1].release && e.resource)
        t.kinds[kind - 1].release(e.resource);
}

// Doubles the table, the new half threaded after the last free entry [last].
void grow(int32_t last) {
    uint32_t old = t.size;
    auto* bigger = static_cast<entry*>(std::realloc(t.entries, sizeof(entry) * old * 2));
    if (!bigger) runtime_error(RT_OUT_OF_MEMORY);
    t.entries = bigger;
    t.size = old * 2;
    thread(old, t.size);
    t.entries[last].next = static_cast<int32_t>(old);
}

void unlink_used(int32_t index, int32_t prev) {
    (prev < 0 ? t.used_head : t.entries[prev].next) = t.entries[index].next;
}

void to_free_chain(int32_t index) {
    entry& e = t.entries[index];
    e = entry{FREE, t.free_head, nullptr, e.generation};
    t.free_head = index;
}

} // namespace

void init() {
    shutdown();
    t.entries = static_cast<entry*>(std::malloc(sizeof(entry) * INITIAL_ENTRIES));
    if (!t.entries) runtime_error(RT_OUT_OF_MEMORY);
    t.size = INITIAL_ENTRIES;
    thread(0, t.size);
    t.free_head = 0;
}

void shutdown() {
    std::free(t.entries);
    t = table{{}, 0, nullptr, 0, -1, -1};
}

uint32_t push(uint32_t tag, release_fn release) {
    if (t.kind_count == MAX_KINDS) error::raise(error::cat_internal, error::internal_limit_hit);
    t.kinds[t.kind_count++] = kind_pair{tag, release};
    return t.kind_count;
}

uint32_t kind_of(uint32_t tag) {
    for (uint32_t i = 0; i < t.kind_count; i++)
        if (t.kinds[i].tag == tag) return i + 1;
    return 0;
}

int32_t register_resource(void* resource, uint32_t flags) {
    if (!t.entries) init();
    if (t.entries[t.free_head].next == -1) grow(t.free_head); // keep one free entry in hand
    int32_t index = t.free_head;
    t.free_head = t.entries[index].next;
    entry& e = t.entries[index];
    e = entry{flags & ~(FREE | MARKED), t.used_head, resource, e.generation + 1};
    t.used_head = index;
    return index;
}

bool mark(int32_t index, void* resource) {
    if (index < 0 || static_cast<uint32_t>(index) >= t.size) return false;
    entry& e = t.entries[index];
    if (e.flags == FREE) return false; // a stale index marks nothing
    if (resource) e.resource = resource;
    if (e.flags & MARKED) return false;
    e.flags |= MARKED;
    return true;
}

void release(int32_t index, bool release) {
    if (index < 0 || static_cast<uint32_t>(index) >= t.size || t.entries[index].flags == FREE) return;
    if (release) release_resource(t.entries[index]);
    int32_t prev = -1;
    for (int32_t i = t.used_head; i != index; i = t.entries[i].next) prev = i;
    unlink_used(index, prev);
    to_free_chain(index);
}

void replace(int32_t index, void* resource) {
    entry& e = t.entries[index];
    if (e.resource != resource) {
        release_resource(e);
        e.resource = resource;
    }
}

void for_each_of_kind(uint32_t kind, void (*fn)(void*)) {
    for (int32_t i = t.used_head; i >= 0; i = t.entries[i].next)
        if ((t.entries[i].flags & KIND_MASK) == kind) fn(t.entries[i].resource);
}

void sweep() {
    int32_t prev = -1;
    int32_t i = t.used_head;
    while (i >= 0) {
        entry& e = t.entries[i];
        int32_t next = e.next;
        if (e.flags & MARKED) {
            e.flags &= ~MARKED;
            prev = i;
        } else {
            release_resource(e);
            unlink_used(i, prev);
            to_free_chain(i);
        }
        i = next;
    }
}

void* resource_of(int32_t index, uint32_t generation) {
    if (index < 0 || static_cast<uint32_t>(index) >= t.size) return nullptr;
    const entry& e = t.entries[index];
    return e.flags != FREE && e.generation == generation ? e.resource : nullptr;
}

const entry* at(int32_t index) { return &t.entries[index]; }

uint32_t capacity() { return t.size; }

} // namespace zyl::extres
