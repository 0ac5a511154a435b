// runtime/hashtable_hash.cpp: hash! tables: indexing positions, chains of equal values, and
// keeping stored positions in step when the series' cells are removed, inserted or moved.
//
// Equal values (same datatype, equal under operator 0) share one bucket: a single position
// is the bucket's key itself; from the second one on the bucket's key is -k and element k of
// the chain list is an array of all their positions. positions[p] gives the 1-based bucket of
// position p, so that upkeep never has to hash a value again.
#include <algorithm>
#include <cstring>

#include "runtime/array.h"
#include "runtime/hashtable_internal.h"
#include "runtime/values.h"

namespace zyl::hashtable {

using namespace detail;

namespace {

// Chains already shifted by the current upkeep call: a chain holds many moved positions but
// is visited once. Kept for the run, emptied after each call.
ptrmap::map* visited = nullptr;

uint32_t position_capacity(const record* r) { return memory::buffer_of(r->positions)->size / 4; }

// Grows the positions array of [t] to hold at least [count] entries (new ones NO_POSITION).
void reserve_positions(node_id t, uint32_t count) {
    node_id n = rec(t)->positions;
    if (count <= position_capacity(rec(t))) return;
    series_buffer* b = series::expand_fill(n, uint64_t(count) * 8, 0xFF);
    b->tail = b->end();
}

void set_position(node_id t, uint32_t pos, uint32_t bucket) {
    reserve_positions(t, pos + 1);
    words_of(rec(t)->positions)[pos] = bucket + 1;
}

// Adds [pos] to the group of equal values in bucket [i], making the group's chain first
// when the bucket holds one position.
void join(node_id t, uint32_t i, uint32_t pos) {
    int32_t k = static_cast<int32_t>(view_of(t).slots[i].key);
    if (k >= 0) {
        uint32_t slot = array::length(rec(t)->chains) + 1;
        array::append_int(rec(t)->chains, 0); // room first, so the new chain is held at once
        node_id chain = array::alloc(4, 4);
        array::poke_int(rec(t)->chains, slot, static_cast<int32_t>(chain));
        array::append_int(chain, k);
        k = -static_cast<int32_t>(slot);
        view_of(t).slots[i].key = static_cast<uint32_t>(k);
    }
    array::append_int(chain_of(rec(t), k), static_cast<int32_t>(pos));
    set_position(t, pos, i);
}

// Position [p] leaves its bucket, which dies with its last position.
void drop_position(node_id t, uint32_t p) {
    view v = view_of(t);
    uint32_t* positions = words_of(v.r->positions);
    if (p >= position_capacity(v.r) || positions[p] == NO_POSITION) return;
    uint32_t i = positions[p] - 1;
    positions[p] = NO_POSITION;
    int32_t k = static_cast<int32_t>(v.slots[i].key);
    if (k < 0) {
        node_id chain = chain_of(v.r, k);
        int32_t at = array::find_int(chain, static_cast<int32_t>(p));
        if (at >= 0) array::remove_bytes(chain, static_cast<uint32_t>(at), 4);
        if (array::length(chain) > 0) return;
        array::poke_int(v.r->chains, static_cast<uint32_t>(-k), 0);
    }
    set_deleted(v.flags, i);
    v.r->size--;
}

// Rewrites every stored position p in [lo, hi) to [to](p): bucket keys and chain members.
// Allocates nothing in the series frames.
template <typename F> void shift(node_id t, uint32_t lo, uint32_t hi, F to) {
    if (!visited) visited = ptrmap::init(1024);
    view v = view_of(t);
    const uint32_t* positions = words_of(v.r->positions);
    uint32_t end = std::min(hi, position_capacity(v.r));
    for (uint32_t p = lo; p < end; p++) {
        if (positions[p] == NO_POSITION) continue;
        uint32_t i = positions[p] - 1;
        int32_t k = static_cast<int32_t>(v.slots[i].key);
        if (k >= 0) {
            v.slots[i].key = to(static_cast<uint32_t>(k));
            continue;
        }
        if (ptrmap::get(visited, static_cast<uint32_t>(-k))) continue;
        ptrmap::put(visited, static_cast<uint32_t>(-k), 1);
        node_id chain = chain_of(v.r, k);
        auto* q = reinterpret_cast<uint32_t*>(bytes_of(chain));
        for (uint32_t j = 0, n = array::length(chain); j < n; j++)
            if (q[j] >= lo && q[j] < hi) q[j] = to(q[j]);
    }
    ptrmap::clear(visited);
}

// Sets [count] entries of the positions array from [from] to NO_POSITION.
void forget(node_id t, uint32_t from, uint32_t count) {
    uint32_t* positions = words_of(rec(t)->positions);
    std::fill(positions + from, positions + from + count, NO_POSITION);
}

} // namespace

namespace detail {

void index_position(node_id t, uint32_t pos) {
    view v = view_of(t);
    const cell* value = v.cells + pos;
    uint32_t hash = hash_value(value, false);
    uint32_t i = hash & v.mask, home = i, step = 0;
    int64_t spare = -1;
    while (!is_empty(v.flags, i)) {
        if (is_deleted(v.flags, i)) {
            if (spare < 0) spare = i;
        } else if (v.slots[i].hash == hash) { // equal values hash alike
            const cell* first = v.cells + first_position(v, i);
            if (first->type() == value->type() && equal_under(first, value, 0)) return join(t, i, pos);
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    if (spare >= 0) i = static_cast<uint32_t>(spare);
    ZYL_ASSERT(!is_live(v.flags, i)); // the fill limit keeps a free bucket
    fill(v, i, pos, hash);
    set_position(t, pos, i);
}

void reset_positions(node_id t) {
    record* r = rec(t);
    series_buffer* b = memory::buffer_of(r->positions);
    memory::fill(b->data(), b->end(), 0xFF);
    array::clear(r->chains);
}

void copy_positions(node_id from, node_id to) {
    node_id positions = series::copy_buffer(rec(from)->positions);
    rec(to)->positions = positions;
    uint32_t n = array::length(rec(from)->chains);
    node_id list = array::alloc(std::max<uint32_t>(n, 4), 4);
    rec(to)->chains = list;
    for (uint32_t k = 1; k <= n; k++) {
        array::append_int(rec(to)->chains, 0);
        node_id source = static_cast<node_id>(array::pick_int(rec(from)->chains, k));
        if (!source) continue;
        node_id chain = array::copy(source);
        array::poke_int(rec(to)->chains, k, static_cast<int32_t>(chain));
    }
}

} // namespace detail

void remove_entry(node_id t, const cell* c) {
    record* r = rec(t);
    uint32_t pos = position_of(r, c);
    if (r->kind != KIND_MAP) return drop_position(t, pos);
    if (pos + 1 >= cell_count(r->data)) return;
    cell* value = cells_of(r->data) + pos + 1;
    if (value->header == 0) return; // already out of the map's view
    value->header = 0;
    r->size--;
}

void remove_range(node_id t, uint32_t position, uint32_t count) {
    record* r = rec(t);
    uint32_t length = cell_count(r->data);
    if (position >= length) return;
    count = std::min(count, length - position);
    if (position == 0 && count == length) {
        r->size = r->occupied = 0;
        series_buffer* f = memory::buffer_of(r->flags);
        memory::fill(f->data(), f->end(), FLAGS_ALL_EMPTY);
        reset_positions(t);
        return;
    }
    for (uint32_t p = position; p < position + count; p++) drop_position(t, p);
}

int32_t reindex_range(node_id t, int32_t delta, uint32_t position, uint32_t count, bool drop) {
    if (count > REINDEX_MAX) return 1;
    if (drop && delta < 0) {
        uint32_t gone = std::min<uint32_t>(static_cast<uint32_t>(-delta), position);
        for (uint32_t p = position - gone; p < position; p++) drop_position(t, p);
    }
    int64_t target = int64_t(position) + delta;
    if (count == 0 || delta == 0 || target < 0) return 0;
    reserve_positions(t, position + count + static_cast<uint32_t>(std::max(delta, 0)));
    shift(t, position, position + count, [delta](uint32_t p) { return p + static_cast<uint32_t>(delta); });
    uint32_t* positions = words_of(rec(t)->positions);
    std::memmove(positions + target, positions + position, size_t(count) * 4);
    uint32_t moved = static_cast<uint32_t>(std::abs(delta));
    if (moved > count) moved = count;
    forget(t, delta > 0 ? position : position + count - moved, moved);
    return 0;
}

void move_range(node_id t, uint32_t to, uint32_t from, uint32_t count) {
    if (count == 0 || (to >= from && to <= from + count)) return;
    uint32_t lo = std::min(to, from), hi = std::max(to, from + count);
    reserve_positions(t, hi);
    uint32_t* positions;
    if (to > from) {
        uint32_t gap = to - from - count; // the cells the block passes over
        shift(t, lo, hi, [=](uint32_t p) { return p < from + count ? p + gap : p - count; });
        positions = words_of(rec(t)->positions);
        std::rotate(positions + from, positions + from + count, positions + to);
    } else {
        uint32_t gap = from - to;
        shift(t, lo, hi, [=](uint32_t p) { return p >= from ? p - gap : p + count; });
        positions = words_of(rec(t)->positions);
        std::rotate(positions + to, positions + from, positions + from + count);
    }
}

} // namespace zyl::hashtable
