// runtime/extres.h: the external-resource table: resources that live outside the memory
// manager (images, streams), held by values through an index and released, through a release
// function of their kind, by the first collection in which no value marks them.
//
// Invariant: every entry is on exactly one of two chains, free or used; a free entry's flags
// are FREE alone and its resource is null.
#pragma once

#include <cstdint>

namespace zyl::extres {

using release_fn = void (*)(void* resource);

constexpr uint32_t MAX_KINDS = 20;
constexpr uint32_t INITIAL_ENTRIES = 1000;
constexpr uint32_t KIND_MASK = 0xFF;
constexpr uint32_t MARKED = 0x80000000;
constexpr uint32_t FREE = 0x40000000;

struct entry {
    uint32_t flags;      // kind number in the low byte, MARKED; FREE alone when free
    int32_t next;        // next entry of its chain, -1 ends it
    void* resource;
    uint32_t generation; // bumped at each registration: a stale handle finds a mismatch
};

// Makes the kind table and the entry table with every entry free.
void init();
// Releases every table (and no resource): for tests and the end of the process.
void shutdown();
// Registers a kind; returns its number (1-based). Raises when MAX_KINDS are registered.
uint32_t push(uint32_t tag, release_fn release);
// The number of the kind registered with [tag], or 0.
uint32_t kind_of(uint32_t tag);
// A new used entry for [resource] with [flags] (the kind number); returns its index.
int32_t register_resource(void* resource, uint32_t flags);
// Marks entry [index] for this collection, replacing its resource when [resource] is not
// null; answers whether it was not yet marked.
bool mark(int32_t index, void* resource = nullptr);
// Frees entry [index], releasing its resource first when [release] is set.
void release(int32_t index, bool release);
// Stores [resource] in entry [index], releasing the old one when it differs.
void replace(int32_t index, void* resource);
// Calls [fn] on the resource of every used entry of [kind], in chain order.
void for_each_of_kind(uint32_t kind, void (*fn)(void* resource));
// From the collector: releases every unmarked used entry and clears the marks.
void sweep();
// The resource of entry [index] when it is used and still of [generation], else null: a value
// that outlived its entry never reaches another value's resource.
void* resource_of(int32_t index, uint32_t generation);
// The entry at [index] (for tests and diagnostics).
const entry* at(int32_t index);
// Entries in the table.
uint32_t capacity();

} // namespace zyl::extres
