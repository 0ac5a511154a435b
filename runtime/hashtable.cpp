// runtime/hashtable.cpp: making, sizing, copying and clearing tables; put and find for the
// value tables (hash!, map!); stamps; marking. The layout and its invariant are in
// runtime/hashtable.h; hash! position upkeep is in hashtable_hash.cpp, word tables in
// hashtable_words.cpp, node-keyed tables and ptrmap in hashtable_pointers.cpp.
#include "runtime/hashtable.h"

#include <algorithm>
#include <cstring>

#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/hashtable_internal.h"
#include "runtime/values.h"

namespace zyl::hashtable {

uint32_t relocations = 0;
key_hook prepare_map_key = nullptr;

namespace detail {

uint32_t buckets_for_request(uint64_t request) {
    if (request > 0x80000000u) error::raise(error::cat_internal, error::internal_no_memory);
    return std::max<uint32_t>(4, hash::next_pow2(static_cast<uint32_t>(request)));
}

node_id alloc_filled(uint64_t bytes, uint8_t byte) {
    node_id n = series::alloc_fill(bytes, byte);
    series_buffer* b = memory::buffer_of(n);
    b->tail = b->end(); // the whole data area is filled: it all belongs to the array
    return n;
}

void refresh_stale(node_id t) {
    record* r = rec(t);
    if (r->stamp == fresh_stamp() || collector::running()) return;
    if (r->kind == KIND_HASH) {
        clear_and_size(t, cell_count(r->data));
    } else {
        replace_pointers(t);
    }
}

} // namespace detail

using namespace detail;

// {== Making tables

namespace {

// Datatypes whose hash is their reference: their table needs a stamp.
bool hashes_by_reference(uint8_t type) {
    switch (type) {
    case T_block: case T_paren: case T_native: case T_action: case T_op: case T_function:
    case T_path: case T_lit_path: case T_set_path: case T_get_path: case T_object: case T_error:
    case T_hash: case T_map: case T_port: case T_image: case T_event:
        return true;
    default: return false;
    }
}

// Allocates the arrays of the record of [t]: each is stored as soon as it exists, so that
// the table, kept alive by its caller, keeps them.
void alloc_arrays(node_id t, uint32_t size, uint32_t sub) {
    uint32_t buckets = rec(t)->buckets;
    node_id flags = alloc_flags(buckets);
    rec(t)->flags = flags;
    node_id keys = alloc_keys(buckets);
    rec(t)->keys = keys;
    if (rec(t)->kind == KIND_WORD && sub == SUB_SYMBOLS) {
        node_id names = alloc_names(size);
        rec(t)->positions = names;
    }
    if (rec(t)->kind != KIND_HASH) return;
    node_id positions = alloc_filled(size * 4, 0xFF);
    rec(t)->positions = positions;
    node_id chains = array::alloc(4, 4);
    rec(t)->chains = chains;
}

// Sizes the new record of [t] for [size] keys of [kind] over [data].
void fill_record(node_id t, uint32_t size, uint32_t kind, uint32_t sub, node_id data) {
    record* r = rec(t);
    std::memset(r, 0, sizeof *r);
    r->kind = kind;
    r->data = data;
    if (kind == KIND_POINTER || kind == KIND_OWNER) {
        r->positions = 16 * sub + 16;
        r->stamp = fresh_stamp();
    }
    r->buckets = std::max<uint32_t>(4, buckets_for(size));
    r->limit = limit_of(r->buckets);
}

// Keeps a table under construction alive: a map! cell naming its data and its record, which
// the collector marks as a table (fields still 0 are skipped).
struct table_guard {
    cell c;
    collector::keep k;
    table_guard(node_id data, node_id t) : c{T_map, 0, data, t}, k(&c) {}
    void set(node_id data, node_id t) {
        c.w2 = data;
        c.w3 = t;
    }
};

// A new record: a byte series holding one zeroed record.
node_id alloc_record() {
    node_id t = series::alloc_bytes(sizeof(record));
    series_buffer* b = memory::buffer_of(t);
    std::memset(b->head, 0, sizeof(record));
    b->tail = b->head + sizeof(record);
    return t;
}

} // namespace

node_id init(uint32_t size, const cell* value, uint32_t kind, uint32_t sub) {
    if (kind == KIND_WORD && size >= 4000) size *= 2;
    size = std::max<uint32_t>(size, 4);
    bool given = value && value->type() != T_none && kind < KIND_POINTER;
    node_id data = given ? value->w2 : series::alloc_cells(size);
    table_guard guard(data, 0);
    node_id t = alloc_record();
    guard.set(data, t);
    fill_record(t, size, kind, sub, data);
    alloc_arrays(t, size, sub);
    if (given) rebuild_index(t, value->w1, kind == KIND_MAP ? 2 : 1);
    return t;
}

node_id copy_words(node_id source) {
    node_id t = alloc_record();
    table_guard guard(0, t);
    std::memcpy(rec(t), rec(source), sizeof(record));
    rec(t)->flags = rec(t)->keys = rec(t)->data = 0;
    node_id flags = series::copy_buffer(rec(source)->flags);
    rec(t)->flags = flags;
    node_id keys = series::copy_buffer(rec(source)->keys);
    rec(t)->keys = keys;
    node_id data = series::copy_buffer(rec(source)->data);
    rec(t)->data = data;
    copy_names(source, t);
    return t;
}

node_id copy(node_id t, node_id data) {
    node_id c = alloc_record();
    table_guard guard(data, c);
    std::memcpy(rec(c), rec(t), sizeof(record));
    record* r = rec(c);
    r->flags = r->keys = r->chains = 0;
    if (r->kind <= KIND_WORD) r->positions = 0;
    r->data = data;
    node_id flags = series::copy_buffer(rec(t)->flags);
    rec(c)->flags = flags;
    node_id keys = series::copy_buffer(rec(t)->keys);
    rec(c)->keys = keys;
    if (rec(c)->kind == KIND_HASH) copy_positions(t, c);
    if (rec(c)->kind == KIND_WORD) copy_names(t, c);
    return c;
}

// }==
// {== Sizing

namespace {

// Places slot [s], taken from the old buckets of [v], into the new flags [fresh]: when the
// bucket it takes still holds a live old key, that key is kicked out and placed next. The
// stored hashes place every key: no value is read.
void kick_out(view& v, uint8_t* fresh, uint32_t mask, uint32_t old_buckets, slot s) {
    for (;;) {
        uint32_t i = s.hash & mask, step = 0;
        while (!is_empty(fresh, i)) i = (i + ++step) & mask;
        set_live(fresh, i);
        if (i >= old_buckets || !is_live(v.flags, i)) {
            v.slots[i] = s;
            return;
        }
        std::swap(s, v.slots[i]);
        set_deleted(v.flags, i);
    }
}

} // namespace

void rehash(node_id t, uint32_t request) {
    uint32_t buckets = buckets_for_request(request);
    uint32_t limit = limit_rounded(buckets);
    if (rec(t)->size >= limit) return;
    uint32_t old_buckets = rec(t)->buckets;
    if (buckets > old_buckets) {
        node_id keys = rec(t)->keys;
        series_buffer* b = series::expand(keys, uint64_t(buckets) * sizeof(slot));
        b->tail = b->head + uint64_t(buckets) * sizeof(slot);
        memory::fill(b->head + uint64_t(old_buckets) * sizeof(slot), b->tail, 0xFF); // new keys NO_KEY
    }
    node_id fresh = alloc_flags(buckets); // the last allocation: nothing moves after it
    view v = view_of(t);
    uint8_t* flags = array_of(fresh);
    for (uint32_t j = 0; j < old_buckets; j++) {
        if (!is_live(v.flags, j)) continue;
        set_deleted(v.flags, j);
        slot s = v.slots[j];
        v.slots[j].key = NO_KEY; // vacated, unless a key lands here again
        kick_out(v, flags, buckets - 1, old_buckets, s);
    }
    v.r->flags = fresh;
    v.r->buckets = buckets;
    v.r->limit = limit;
    if (v.r->kind != KIND_MAP) v.r->occupied = v.r->size;
}

void clear_and_size(node_id t, uint32_t n) {
    record* r = rec(t);
    n = std::max(n, cell_count(r->data)); // room for every cell the rebuild indexes
    uint32_t scaled = hash::next_pow2(static_cast<uint32_t>(n * 1.5));
    r->buckets = std::max<uint32_t>(4, scaled);
    r->limit = limit_of(scaled);
    r->size = r->occupied = 0;
    if (r->stamp) r->stamp = fresh_stamp();
    node_id flags = alloc_flags(rec(t)->buckets);
    rec(t)->flags = flags;
    node_id keys = alloc_keys(rec(t)->buckets);
    rec(t)->keys = keys;
    reset_positions(t);
    uint32_t count = cell_count(rec(t)->data);
    for (uint32_t p = 0; p < count; p++) index_position(t, p);
}

void clear(node_id t) {
    record* r = rec(t);
    r->size = r->occupied = 0;
    array::clear(r->data);
    series_buffer* f = memory::buffer_of(r->flags);
    memory::fill(f->data(), f->end(), FLAGS_ALL_EMPTY);
    series_buffer* k = memory::buffer_of(r->keys);
    memory::fill(k->data(), k->end(), 0xFF); // every key NO_KEY
    if (r->kind == KIND_HASH) reset_positions(t);
    if (r->kind == KIND_WORD && r->positions) memory::buffer_of(r->positions)->tail = array_of(r->positions);
}

namespace {

// Makes room for one more key in a hash or map table: answers whether hash table [t] was
// rebuilt whole.
bool grow_values(node_id t) {
    record* r = rec(t);
    if (r->occupied < r->limit) return false;
    uint32_t request = r->kind != KIND_MAP && 2 * r->size < r->buckets ? r->buckets - 1 : r->buckets + 1;
    if (r->kind == KIND_HASH) {
        clear_and_size(t, request);
        return true;
    }
    rehash(t, request);
    return false;
}

} // namespace

// }==
// {== Put and find (kinds hash and map)

namespace {

// Word keys of a map are stored, and looked up, as set-words.
inline bool is_any_word(uint8_t t) { return t == T_word || t == T_set_word || t == T_lit_word || t == T_get_word; }

// Whether two cells with the same datatype and payload are equal under every equality
// operator but not-equal: not so for the types that hold floats, since a NaN is unequal to
// itself.
inline bool identity_is_equality(uint8_t type) {
    switch (type) {
    case T_integer: case T_char_: case T_logic: case T_datatype: case T_word: case T_set_word:
    case T_lit_word: case T_get_word: case T_refinement: case T_issue: case T_pair: case T_tuple:
    case T_money: case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
    case T_binary:
        return true;
    default: return false;
    }
}

// Whether values equal under compare operator [op] always hash alike, so that a probe may
// pass over buckets whose stored hash differs from the key's: so for equal, strict-equal,
// same and find's equality; not for not-equal, nor for the further kinds and the orders,
// which are tested on every live bucket as they always were.
inline bool hash_decides(int32_t op) { return op == 0 || op == 2 || op == 9 || op == 12; }

inline bool same_payload(const cell* a, const cell* b) { return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3; }

// The bucket of the map key strict-equal to the key at [pos], whose hash is [hash], or the
// bucket to insert it at. (The probe reads the flags, not the keys' NO_KEY, to end: the
// insertion needs the flags byte anyway.)
uint32_t map_slot(view& v, uint32_t pos, uint32_t hash, bool& found) {
    const cell* key = v.cells + pos;
    uint32_t i = hash & v.mask, home = i, step = 0;
    bool identity = identity_is_equality(key->type());
    int64_t spare = -1;
    found = false;
    while (!is_empty(v.flags, i)) {
        if (is_deleted(v.flags, i)) {
            if (spare < 0) spare = i;
        } else if (v.slots[i].hash == hash) {
            const cell* stored = v.cells + v.slots[i].key;
            bool same = identity && stored->type() == key->type() && same_payload(stored, key);
            if (same || equal_under(stored, key, 2)) {
                found = true;
                return i;
            }
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    return spare >= 0 ? static_cast<uint32_t>(spare) : i;
}

cell* put_map(node_id t, uint32_t pos) {
    grow_values(t);
    view v = view_of(t);
    uint32_t hash = hash_of(v.cells + pos);
    bool found;
    uint32_t i = map_slot(v, pos, hash, found);
    if (found) return v.cells + v.slots[i].key;
    fill(v, i, pos, hash);
    return v.cells + pos;
}

} // namespace

cell* put(node_id t, const cell* c, int32_t* status) {
    record* r = rec(t);
    uint32_t pos = position_of(r, c);
    if (status) *status = 0;
    if (r->kind == KIND_MAP) return put_map(t, pos);
    ZYL_ASSERT(r->kind == KIND_HASH);
    if (r->stamp == 0 && hashes_by_reference(c->type())) r->stamp = fresh_stamp();
    if (grow_values(t)) {
        if (status) *status = PUT_REBUILT;
    } else {
        index_position(t, pos);
    }
    return cells_of(rec(t)->data) + pos;
}

namespace {

// Whether position [p] is a candidate of a search from [start] in records of [skip].
inline bool in_record(int64_t p, int64_t start, int64_t skip, bool backward) {
    int64_t d = backward ? start - p - 1 : p - start;
    return ((d % skip) + skip) % skip == 0;
}

// The best candidate among the positions of bucket [i], or -1.
int64_t pick(const view& v, uint32_t i, const cell* key, const int32_t* q) {
    int32_t start = q[0], skip = q[1], op = q[2];
    bool last = q[3], reverse = q[4], backward = last || reverse;
    int32_t k = static_cast<int32_t>(v.slots[i].key);
    const int32_t* list = &k;
    uint32_t n = 1;
    if (k < 0) {
        node_id chain = chain_of(v.r, k);
        list = reinterpret_cast<const int32_t*>(bytes_of(chain));
        n = array::length(chain);
    }
    int64_t best = -1;
    for (uint32_t j = 0; j < n; j++) {
        int64_t p = list[j];
        bool side = reverse ? p < start : p >= start;
        if (!side || !in_record(p, start, skip, backward)) continue;
        bool better = best < 0 || (backward ? p > best : p < best);
        if (better && equal_under(v.cells + p, key, op)) best = p;
    }
    return best;
}

// A bucket is a group of values equal under operator 0, which hash alike: only buckets with
// the key's hash can hold its group.
cell* find_hash(node_id t, const cell* key, const int32_t* q) {
    view v = view_of(t);
    uint32_t hash = hash_value(key, false);
    uint32_t i = hash & v.mask, home = i, step = 0;
    while (!is_empty(v.flags, i)) {
        if (is_live(v.flags, i) && v.slots[i].hash == hash && equal_under(v.cells + first_position(v, i), key, 0)) {
            int64_t p = pick(v, i, key, q);
            if (p >= 0) return v.cells + p;
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    return nullptr;
}

// The stored key equal to [key] (hash [hash]) under [op], probing from bucket [i] at probe
// step [step]. Under the equality operators only buckets with the key's hash are tested; a
// stored key with the key's very payload needs no call of the compare entry.
[[gnu::noinline]] cell* finish_find_map(const record* r, const cell* key, int32_t op, uint32_t hash, uint32_t i,
                                        uint32_t step) {
    const uint8_t* flags = array_of(r->flags);
    const slot* slots = slots_of(r->keys);
    cell* cells = cells_of(r->data);
    uint32_t mask = r->buckets - 1, home = hash & mask;
    uint8_t type = key->type();
    bool every = !hash_decides(op);
    bool identity = op != 1 && identity_is_equality(type);
    actions::compare_fn compare = nullptr; // every candidate has the key's datatype
    while (!is_empty(flags, i)) {
        if (is_live(flags, i) && (slots[i].hash == hash || every)) {
            cell* stored = cells + slots[i].key;
            if (stored->type() == type) {
                if (identity && same_payload(stored, key)) return stored;
                if (!compare) compare = compare_entry(stored);
                if (truth(compare(stored, key, op), op)) return stored;
            } else if (type == T_TEXT_KEY && equal_under(stored, key, op)) {
                return stored;
            }
        }
        i = (i + ++step) & mask;
        if (i == home) break;
    }
    return nullptr;
}

// find on a map, for any key and operator: word keys are looked up as set-words.
[[gnu::noinline]] cell* find_map(const record* r, const cell* key, int32_t op) {
    cell k = *key;
    if (is_any_word(k.type())) cells::set_type(&k, T_set_word);
    uint32_t hash = hash_of(&k);
    return finish_find_map(r, &k, op, hash, hash & (r->buckets - 1), 0);
}

// find on a hash table: out of line, so that map look-ups stay short.
[[gnu::noinline]] cell* find_values(node_id t, const cell* key, int32_t start, int32_t skip, int32_t op, bool last,
                                    bool reverse) {
    cell k = *key; // the refresh below may allocate, and [key] may lie in a series
    refresh(t);
    const int32_t q[5] = {start, skip < 1 ? 1 : skip, op, last, reverse};
    return find_hash(t, &k, q);
}

} // namespace

// The common map look-up, an integer! or char! key under an equality operator, probes here
// and answers a stored key with the key's very payload; every other case, and a stored key
// with the key's hash but another payload, goes on out of line.
cell* find(node_id t, const cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    const record* r = rec(t);
    if (ZYL_UNLIKELY(r->kind != KIND_MAP)) return find_values(t, key, start, skip, op, last, reverse);
    uint8_t type = key->type();
    if (!(type == T_integer || type == T_char_) || !hash_decides(op)) return find_map(r, key, op);
    uint32_t hash = hash::mix32(key->w2);
    uint32_t mask = r->buckets - 1, i = hash & mask, home = i, step = 0;
    const slot* slots = slots_of(r->keys);
    for (slot s; (s = slots[i]).key != NO_KEY;) { // a map's keys tell its empty buckets
        if (s.hash == hash) {
            cell* stored = cells_of(r->data) + s.key;
            if (stored->type() == type && same_payload(stored, key)) return stored;
            return finish_find_map(r, key, op, hash, i, step);
        }
        i = (i + ++step) & mask;
        if (i == home) break;
    }
    return nullptr;
}

cell* get_next(node_id t, const cell* key, int32_t& bucket, int32_t& step) {
    cell k = *key;
    if (is_any_word(k.type())) cells::set_type(&k, T_set_word);
    view v = view_of(t);
    uint32_t hash = hash_value(&k, false);
    uint32_t home = hash & v.mask;
    uint32_t i = home;
    if (bucket < 0) {
        step = 0;
    } else {
        i = (static_cast<uint32_t>(bucket) + ++step) & v.mask;
        if (i == home) return nullptr;
    }
    while (!is_empty(v.flags, i)) {
        bucket = static_cast<int32_t>(i);
        if (is_live(v.flags, i) && v.slots[i].hash == hash) {
            cell* stored = v.cells + v.slots[i].key;
            if (stored->type() == k.type() && equal_under(stored, &k, 0)) return stored;
        }
        i = (i + ++step) & v.mask;
        if (i == home) return nullptr;
    }
    return nullptr;
}

// }==
// {== Re-indexing a series

namespace {

// Indexes the map pair at [pos]; an equal key already indexed takes its value and the pair
// leaves the series. Answers whether the pair stayed.
bool index_pair(node_id t, uint32_t pos) {
    cell* key = cells_of(rec(t)->data) + pos;
    cell* found = find(t, key, 0, 1, 2, false, false);
    if (!found) {
        put_map(t, pos);
        if (prepare_map_key) prepare_map_key(rec(t)->data, pos);
        return true;
    }
    series_buffer* b = memory::buffer_of(rec(t)->data);
    auto* cells = reinterpret_cast<cell*>(b->head);
    uint32_t count = b->used_bytes() / sizeof(cell);
    if (pos + 1 < count) found[1] = cells[pos + 1];
    uint32_t gone = std::min<uint32_t>(2, count - pos);
    std::memmove(cells + pos, cells + pos + gone, (count - pos - gone) * sizeof(cell));
    b->tail -= gone * sizeof(cell);
    return false;
}

} // namespace

void rebuild_index(node_id t, uint32_t position, uint32_t step) {
    step = std::max<uint32_t>(step, 1);
    for (uint32_t p = position; p < cell_count(rec(t)->data);) {
        switch (rec(t)->kind) {
        case KIND_MAP:
            if (!index_pair(t, p)) continue; // the next pair slid into this position
            break;
        case KIND_WORD:
            grow_words(t);
            index_word(t, p);
            break;
        default: {
            int32_t status;
            put(t, cells_of(rec(t)->data) + p, &status);
            if (status == PUT_REBUILT) return;
        }
        }
        p += step;
    }
}

// }==
// {== Collection

void mark(node_id t) {
    if (!t || !collector::mark_series(t)) return;
    record* r = rec(t);
    collector::mark_series(r->flags);
    collector::mark_series(r->keys);
    if (r->kind == KIND_WORD && r->positions) collector::mark_series(r->positions); // name info
    if (r->kind == KIND_HASH) {
        collector::mark_series(r->positions);
        if (r->chains && collector::mark_series(r->chains)) {
            uint32_t n = array::length(r->chains);
            for (uint32_t k = 1; k <= n; k++) collector::mark_series(static_cast<node_id>(array::pick_int(r->chains, k)));
        }
    }
    if (r->kind == KIND_OWNER) {
        // Weak: the entries are marked by mark_live_entries once their series are reached.
        collector::mark_series(r->data);
        return;
    }
    if (r->kind == KIND_POINTER && r->data) {
        series_buffer* b = memory::buffer_of(r->data);
        for (uint8_t* e = b->head; e + r->positions <= b->tail; e += r->positions) {
            auto* first = reinterpret_cast<cell*>(e);
            if (first->header == T_unset && first->w1) collector::mark_series_cells(first->w1);
        }
    }
    collector::mark_series_cells(r->data);
}

// }==

} // namespace zyl::hashtable
