// runtime/hashtable_ptrmap.cpp: ptrmap, a map of 32-bit keys to 32-bit values on the C heap
// for the collector, with the probing and growth of the collected tables.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/hashtable_internal.h"

namespace zyl::ptrmap {

using namespace hashtable::detail;

namespace {

void* heap(size_t bytes) {
    void* p = std::malloc(bytes);
    if (!p) runtime_error(RT_OUT_OF_MEMORY);
    return p;
}

uint8_t* empty_flags(uint32_t buckets) {
    size_t bytes = std::max<uint32_t>(1, buckets / 4);
    auto* f = static_cast<uint8_t*>(heap(bytes));
    std::memset(f, hashtable::FLAGS_ALL_EMPTY, bytes);
    return f;
}

// The bucket of [key] (found), or the bucket it would take.
uint32_t slot(const map* m, uint32_t key, bool& found) {
    uint32_t mask = m->buckets - 1, i = hash::mix32(key) & mask, home = i, step = 0;
    int64_t spare = -1;
    found = false;
    while (!is_empty(m->flags, i)) {
        if (is_deleted(m->flags, i)) {
            if (spare < 0) spare = i;
        } else if (m->pairs[2 * i] == key) {
            found = true;
            return i;
        }
        i = (i + ++step) & mask;
        if (i == home) break;
    }
    return spare >= 0 ? static_cast<uint32_t>(spare) : i;
}

// Resizes [m] in place to [buckets], moving pairs by kick-out as the collected tables do.
void resize(map* m, uint32_t buckets) {
    uint32_t limit = limit_rounded(buckets);
    if (m->size >= limit) return;
    uint32_t old = m->buckets;
    if (buckets > old) {
        auto* p = static_cast<uint32_t*>(std::realloc(m->pairs, size_t(buckets) * 8));
        if (!p) runtime_error(RT_OUT_OF_MEMORY);
        m->pairs = p;
    }
    uint8_t* nf = empty_flags(buckets);
    uint32_t mask = buckets - 1;
    for (uint32_t j = 0; j < old; j++) {
        if (!is_live(m->flags, j)) continue;
        uint32_t key = m->pairs[2 * j], value = m->pairs[2 * j + 1];
        set_deleted(m->flags, j);
        for (;;) {
            uint32_t i = hash::mix32(key) & mask, step = 0;
            while (!is_empty(nf, i)) i = (i + ++step) & mask;
            set_live(nf, i);
            if (i < old && is_live(m->flags, i)) {
                std::swap(key, m->pairs[2 * i]);
                std::swap(value, m->pairs[2 * i + 1]);
                set_deleted(m->flags, i);
                continue;
            }
            m->pairs[2 * i] = key;
            m->pairs[2 * i + 1] = value;
            break;
        }
    }
    std::free(m->flags);
    m->flags = nf;
    m->buckets = buckets;
    m->limit = limit;
    m->occupied = m->size;
}

} // namespace

map* init(uint32_t n) {
    n = std::max<uint32_t>(n, 4);
    auto* m = static_cast<map*>(heap(sizeof(map)));
    m->buckets = std::max<uint32_t>(4, buckets_for(n));
    m->limit = limit_of(m->buckets);
    m->size = m->occupied = 0;
    m->flags = empty_flags(m->buckets);
    m->pairs = static_cast<uint32_t*>(heap(size_t(m->buckets) * 8));
    return m;
}

void put(map* m, uint32_t key, uint32_t value) {
    if (m->occupied >= m->limit) {
        uint64_t request = 2 * m->size < m->buckets ? m->buckets - 1 : uint64_t(m->buckets) + 1;
        resize(m, buckets_for_request(request));
    }
    bool found;
    uint32_t i = slot(m, key, found);
    if (!found) {
        if (is_empty(m->flags, i)) m->occupied++;
        set_live(m->flags, i);
        m->size++;
        m->pairs[2 * i] = key;
    }
    m->pairs[2 * i + 1] = value;
}

uint32_t* get(map* m, uint32_t key) {
    bool found;
    uint32_t i = slot(m, key, found);
    return found ? &m->pairs[2 * i + 1] : nullptr;
}

int32_t find_bucket(const map* m, uint32_t key) {
    bool found;
    uint32_t i = slot(m, key, found);
    return found ? static_cast<int32_t>(i) : -1;
}

void remove(map* m, uint32_t key) {
    int32_t i = find_bucket(m, key);
    if (i < 0) return;
    set_deleted(m->flags, static_cast<uint32_t>(i));
    m->size--;
}

void clear(map* m) {
    std::memset(m->flags, hashtable::FLAGS_ALL_EMPTY, std::max<uint32_t>(1, m->buckets / 4));
    m->size = m->occupied = 0;
}

void free(map* m) {
    std::free(m->flags);
    std::free(m->pairs);
    std::free(m);
}

uint32_t* next_live(map* m, uint32_t* after) {
    uint32_t i = after ? static_cast<uint32_t>((after - m->pairs) / 2) + 1 : 0;
    for (; i < m->buckets; i++)
        if (is_live(m->flags, i)) return &m->pairs[2 * i];
    return nullptr;
}

} // namespace zyl::ptrmap
