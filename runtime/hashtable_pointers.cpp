// runtime/hashtable_pointers.cpp: node-keyed tables (kinds pointer and owner): entries of
// one key cell and d value cells kept in a cell series, found by the key's node id.
//
// An entry lives while its first cell's header is 2 (unset) and is dead once it is 0; its
// bucket key is the entry's byte offset in the data series. Growth rebuilds the data series
// with the live entries only, in their old order.
#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/hashtable_internal.h"
#include "runtime/values.h"

namespace zyl::hashtable {

using namespace detail;

namespace {

constexpr uint32_t ENTRY_LIVE = T_unset;

inline cell* entry_at(const view& v, uint32_t offset) {
    return reinterpret_cast<cell*>(reinterpret_cast<uint8_t*>(v.cells) + offset);
}

// The bucket of [key]'s entry (found), or the bucket a new entry takes. mix32 is one to one,
// so only a bucket with the key's hash can hold its entry.
uint32_t find_slot(const view& v, node_id key, bool& found) {
    uint32_t hash = hash::mix32(key);
    uint32_t i = hash & v.mask, home = i, step = 0;
    int64_t spare = -1;
    found = false;
    while (!is_empty(v.flags, i)) {
        if (is_deleted(v.flags, i)) {
            if (spare < 0) spare = i;
        } else if (v.slots[i].hash == hash && entry_at(v, v.slots[i].key)->w1 == key) {
            found = true;
            return i;
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    return spare >= 0 ? static_cast<uint32_t>(spare) : i;
}

// Places the live entries of [from] (bytes [begin, end)) into the empty flags and keys of
// [v], copying them to the tail of [v]'s data series when [copy].
void place(view& v, const uint8_t* begin, const uint8_t* end, uint32_t entry, bool copy) {
    series_buffer* d = memory::buffer_of(v.r->data);
    for (const uint8_t* e = begin; e + entry <= end; e += entry) {
        auto* first = reinterpret_cast<const cell*>(e);
        if (first->header != ENTRY_LIVE) continue;
        uint32_t offset = static_cast<uint32_t>(e - begin);
        if (copy) {
            offset = d->used_bytes();
            std::memcpy(d->tail, e, entry);
            d->tail += entry;
        }
        bool found;
        uint32_t i = find_slot(v, first->w1, found);
        fill(v, i, offset, hash::mix32(first->w1));
    }
}

} // namespace

namespace detail {

void replace_pointers(node_id t) {
    view v = view_of(t);
    series_buffer* f = memory::buffer_of(v.r->flags);
    memory::fill(f->data(), f->end(), FLAGS_ALL_EMPTY);
    v.r->size = v.r->occupied = 0;
    v.r->stamp = fresh_stamp();
    series_buffer* d = memory::buffer_of(v.r->data);
    place(v, d->head, d->tail, v.r->positions, false);
}

void grow_pointers(node_id t) {
    record* r = rec(t);
    if (r->occupied < r->limit) return;
    uint32_t request = 2 * r->size < r->buckets ? r->buckets - 1 : r->buckets + 1;
    uint32_t buckets = buckets_for_request(request);
    node_id fresh = series::alloc_cells(std::max<uint32_t>(1, r->size * (r->positions / 16)));
    collector::keep_node keep_fresh(&fresh);
    node_id flags = alloc_flags(buckets);
    rec(t)->flags = flags;
    node_id keys = alloc_keys(buckets); // the last allocation
    view v = view_of(t);
    node_id old = v.r->data;
    v.r->keys = keys;
    v.r->data = fresh;
    v.r->buckets = buckets;
    v.r->limit = limit_rounded(buckets);
    v.r->size = v.r->occupied = 0;
    v.r->stamp = fresh_stamp();
    v = view_of(t);
    series_buffer* d = memory::buffer_of(old);
    place(v, d->head, d->tail, v.r->positions, true);
}

} // namespace detail

cell* put_pointer(node_id t, node_id key) {
    refresh(t);
    grow_pointers(t);
    view v = view_of(t);
    bool found;
    uint32_t i = find_slot(v, key, found);
    if (found) return entry_at(v, v.slots[i].key) + 1;
    uint32_t entry = v.r->positions;
    node_id data = v.r->data;
    uint8_t* at = series::alloc_tail_bytes(data, entry);
    auto* cells = reinterpret_cast<cell*>(at);
    for (uint32_t c = 0; c < entry / sizeof(cell); c++) cells[c] = cell{T_unset, 0, 0, 0};
    cells[0].w1 = key;
    uint32_t offset = static_cast<uint32_t>(at - memory::buffer_of(data)->head);
    v = view_of(t);
    fill(v, i, offset, hash::mix32(key));
    return cells + 1;
}

cell* get(node_id t, node_id key) {
    refresh(t);
    view v = view_of(t);
    bool found;
    uint32_t i = find_slot(v, key, found);
    return found ? entry_at(v, v.slots[i].key) + 1 : nullptr;
}

cell* remove_pointer(node_id t, node_id key) {
    refresh(t);
    view v = view_of(t);
    bool found;
    uint32_t i = find_slot(v, key, found);
    if (!found) return nullptr;
    set_deleted(v.flags, i);
    v.r->size--;
    cell* first = entry_at(v, v.slots[i].key);
    first->header = 0;
    return first + 1;
}

bool mark_live_entries(node_id t) {
    record* r = rec(t);
    uint32_t entry = r->positions;
    // Word 3 of an entry's first cell (otherwise unused) notes the collection in which its
    // cells were marked, so each entry is marked once however many passes it takes.
    uint32_t pass = collector::gc.cycles + 1;
    bool marked = false;
    series_buffer* d = memory::buffer_of(r->data);
    for (uint8_t* e = d->head; e + entry <= d->tail; e += entry) {
        auto* first = reinterpret_cast<cell*>(e);
        if (first->header != ENTRY_LIVE || first->w3 == pass) continue;
        if (!(memory::buffer_of(first->w1)->flags & SERIES_MARK)) continue;
        first->w3 = pass;
        // The owned value is the key's own series, already marked: marking its cell adds
        // only what the cell refers to beside it (a string's cached conversion).
        collector::mark_values(first + 1, reinterpret_cast<cell*>(e + entry));
        marked = true;
    }
    return marked;
}

void sweep(node_id t) {
    record* r = rec(t);
    uint32_t entry = r->positions;
    node_id data = r->data;
    bool owner = r->kind == KIND_OWNER;
    series_buffer* d = memory::buffer_of(data);
    for (uint32_t offset = 0; offset + entry <= d->used_bytes(); offset += entry) {
        auto* first = reinterpret_cast<cell*>(d->head + offset);
        if (first->header != ENTRY_LIVE) continue;
        bool dead = !(memory::buffer_of(first->w1)->flags & SERIES_MARK);
        node_id holder = owner && entry >= 3 * sizeof(cell) ? first[2].w1 : 0;
        if (holder && !(memory::buffer_of(holder)->flags & SERIES_MARK)) dead = true;
        if (!dead) continue;
        remove_pointer(t, first->w1);
        first->header = first->w1 = 0;
    }
}

} // namespace zyl::hashtable
