// runtime/platform/vmem.h: page-granular memory from the operating system.
#pragma once

#include <cstddef>

namespace zyl::vmem {

constexpr size_t PAGE = 4096;

// A committed read-write block of [size] bytes (a page multiple), executable with [exec];
// nullptr when refused.
void* map(size_t size, bool exec);
// Gives back a block from map; false when refused.
bool unmap(void* p, size_t size);
// Reserves [size] bytes of address space with no access; nullptr when refused.
void* reserve(size_t size);
// Makes [size] bytes at [p], inside a reservation, readable and writable.
bool commit(void* p, size_t size);
// Returns the pages of [p, p + size) to the system and makes them inaccessible again.
bool decommit(void* p, size_t size);

} // namespace zyl::vmem
