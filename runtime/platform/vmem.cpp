// runtime/platform/vmem.cpp: page-granular memory over mmap.
#include "runtime/platform/vmem.h"

#include <sys/mman.h>

namespace zyl::vmem {

void* map(size_t size, bool exec) {
    int prot = PROT_READ | PROT_WRITE | (exec ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Big blocks are filled soon after: huge pages make their first touch far cheaper.
    if (size >= (size_t(2) << 20)) madvise(p, size, MADV_HUGEPAGE);
    return p;
}

bool unmap(void* p, size_t size) { return munmap(p, size) == 0; }

void* reserve(size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool commit(void* p, size_t size) { return mprotect(p, size, PROT_READ | PROT_WRITE) == 0; }

bool decommit(void* p, size_t size) {
    return madvise(p, size, MADV_DONTNEED) == 0 && mprotect(p, size, PROT_NONE) == 0;
}

} // namespace zyl::vmem
