// runtime/hashtable_words.cpp: word tables: interning names in the symbol table, and finding
// or adding words in a context's word table.
//
// All ASCII case variants of a name hash alike (murmur3 of the name with A-Z lowered), so
// they lie on one probe path, the canonical spelling first: it was interned first. A context
// table hashes a word by its canonical symbol for the same reason. Word tables never delete,
// and grow 32-fold at a time (16-fold when purging) since they only ever fill up.
//
// Beside its entries the symbol table keeps a name-info array (the record's positions field):
// for the entry at position p, record p holds the name's length and its first NAME_HEAD bytes,
// zero-padded, in 16 bytes. A probe whose stored hash matches compares the name there, one
// load from the bucket, and reaches the entry's name series only for a longer name. The array
// holds no node and no address, so collections move it like any series; it gets a record
// whenever an entry is indexed or appended, and entries never change their name.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/hashtable_internal.h"
#include "runtime/values.h"

namespace zyl::hashtable {

using namespace detail;

namespace {

constexpr uint32_t NAME_HEAD = 15;
constexpr uint32_t LONG_NAME = 255; // lengths from this on are recorded as this

// Invariant: head holds the first min(length, NAME_HEAD) bytes of the name, then zeros, so
// that two records are equal exactly when the recorded lengths and the heads are; the name
// itself is equal when, further, a name longer than NAME_HEAD has the same length and bytes.
struct name_info {
    uint8_t head[NAME_HEAD];
    uint8_t length; // in bytes, up to LONG_NAME
};
static_assert(sizeof(name_info) == 16);

inline uint8_t length_byte(uint32_t length) { return static_cast<uint8_t>(std::min(length, LONG_NAME)); }

name_info info_of(const uint8_t* name, uint32_t length) {
    name_info n{};
    std::memcpy(n.head, name, std::min(length, NAME_HEAD));
    n.length = length_byte(length);
    return n;
}

// hash::murmur3_lower of the [length] bytes at [p], filling [out] with the name's record
// (info_of) as the bytes go by: one pass over the name serves both.
inline uint32_t hash_name(const uint8_t* p, uint32_t length, name_info& out) {
    uint8_t* raw = reinterpret_cast<uint8_t*>(&out);
    out = name_info{};
    uint32_t h = hash::seed();
    uint32_t blocks = length / 4;
    for (uint32_t b = 0; b < blocks; b++, p += 4) {
        uint32_t k;
        std::memcpy(&k, p, 4);
        if (b < sizeof out / 4) std::memcpy(raw + 4 * b, &k, 4); // byte 15 is the length's, set last
        h = hash::mix_block(h, hash::lower4(k));
    }
    uint32_t rest = length & 3;
    if (rest) {
        uint32_t k = 0;
        for (uint32_t j = rest; j-- > 0;) {
            k = (k << 8) | hash::lower1(p[j]);
            if (4 * blocks + j < NAME_HEAD) raw[4 * blocks + j] = p[j];
        }
        h = hash::mix_tail(h, k);
    }
    out.length = length_byte(length);
    return hash::finish(h, length);
}

inline name_info* names_of(const record* r) { return reinterpret_cast<name_info*>(array_of(r->positions)); }

// Makes room in the name-info array of [t] for records up to position [pos] and sets its
// tail past that record. May allocate.
void reserve_names(node_id t, uint32_t pos) {
    node_id n = rec(t)->positions;
    uint64_t need = (uint64_t(pos) + 1) * sizeof(name_info);
    series_buffer* b = memory::buffer_of(n);
    if (b->data() + need > b->end()) b = series::expand(n, std::max<uint64_t>(need, uint64_t(b->size) * 2));
    if (b->used_bytes() < need) b->tail = b->head + need;
}

inline bool same_any_case(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (hash::lower1(a[i]) != hash::lower1(b[i])) return false;
    return true;
}

// Whether the name of the entry at [key], whose head matched, is [length] bytes long and
// ends as [name] does (ASCII case aside with [any_case]).
bool same_rest(const view& v, uint32_t key, const uint8_t* name, uint32_t length, bool any_case) {
    const series_buffer* b = memory::buffer_of(v.cells[key].w3);
    if (b->used_bytes() != length) return false;
    const uint8_t* stored = b->head + NAME_HEAD;
    name += NAME_HEAD;
    length -= NAME_HEAD;
    return any_case ? same_any_case(stored, name, length) : std::memcmp(stored, name, length) == 0;
}

// Whether the entry at [key] is spelled [name] exactly; [want] is the name's own record.
inline bool same_name(const view& v, const name_info* names, uint32_t key, const name_info& want,
                      const uint8_t* name, uint32_t length) {
    if (std::memcmp(&names[key], &want, sizeof want) != 0) return false;
    return length <= NAME_HEAD || same_rest(v, key, name, length, false);
}

// Equal under ASCII case folding; every other byte, multi-byte sequences included, must match.
bool same_name_any_case(const view& v, const name_info* names, uint32_t key, const uint8_t* name, uint32_t length) {
    const name_info& n = names[key];
    if (n.length != length_byte(length) || !same_any_case(n.head, name, std::min(length, NAME_HEAD))) return false;
    return length <= NAME_HEAD || same_rest(v, key, name, length, true);
}

// The result of a probe for a name: the symbol found (0 when none), the first ASCII case
// variant met (0 when none), and the empty bucket at which the probe ended.
struct probe {
    uint32_t found;
    uint32_t variant;
    uint32_t end;
};

// Walks the probe path of [hash] from its home bucket, to the exact spelling [name] (mode
// INTERN_ANY_CASE: to any case variant) or to an empty bucket. In mode INTERN_ALIAS it also
// notes the first case variant on the path, the one that a second, case-blind pass over the
// same path would find. Only buckets with the name's hash are compared: every case variant
// hashes alike.
template <int32_t Mode>
probe walk(const view& v, uint32_t hash, const name_info& want, const uint8_t* name, uint32_t length) {
    const name_info* names = names_of(v.r);
    uint32_t i = hash & v.mask, home = i, step = 0, variant = 0;
    for (slot s; (s = v.slots[i]).key != NO_KEY;) { // a word table's keys tell its empty buckets
        if (s.hash == hash) {
            if (Mode == INTERN_ANY_CASE) {
                if (same_name_any_case(v, names, s.key, name, length)) return {s.key + 1, 0, i};
            } else if (same_name(v, names, s.key, want, name, length)) {
                return {s.key + 1, 0, i};
            } else if (Mode == INTERN_ALIAS && !variant && same_name_any_case(v, names, s.key, name, length)) {
                variant = s.key + 1;
            }
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    return {0, variant, i};
}

// A copy of bytes that an allocation could move: on the stack when short, else on the heap.
struct name_copy {
    uint8_t small[256];
    std::vector<uint8_t> large;
    const uint8_t* data;

    name_copy(const uint8_t* p, uint32_t n) {
        uint8_t* to = small;
        if (n > sizeof small) {
            large.resize(n);
            to = large.data();
        }
        if (n) std::memcpy(to, p, n);
        data = to;
    }
};

// Appends a symbol! entry named [name] with [alias] to the symbol table [t], in bucket [i]
// with [hash].
uint32_t append_symbol(node_id t, uint32_t i, uint32_t hash, const uint8_t* name, uint32_t length, int32_t alias) {
    name_copy copy(name, length); // [name] may lie in a buffer that allocation moves
    node_id data = rec(t)->data;
    series_buffer* d = memory::buffer_of(data);
    if (d->tail == d->end()) series::expand(data, 0); // room first: nothing allocates after the name
    uint32_t pos = cell_count(data);
    reserve_names(t, pos);
    node_id bytes = series::alloc_bytes(uint64_t(length) + 1);
    series_buffer* b = memory::buffer_of(bytes);
    std::memcpy(b->head, copy.data, length);
    b->head[length] = 0;
    b->tail = b->head + length;
    d = memory::buffer_of(data);
    *reinterpret_cast<cell*>(d->tail) = cell{T_symbol, static_cast<uint32_t>(alias), 0, bytes};
    d->tail += sizeof(cell);
    view v = view_of(t);
    names_of(v.r)[pos] = info_of(copy.data, length);
    fill(v, i, pos, hash);
    return pos + 1;
}

} // namespace

namespace detail {

node_id alloc_names(uint32_t count) {
    node_id n = series::alloc_bytes(uint64_t(std::max<uint32_t>(count, 1)) * sizeof(name_info));
    series_buffer* b = memory::buffer_of(n);
    b->tail = b->head;
    return n;
}

void copy_names(node_id from, node_id to) {
    rec(to)->positions = 0;
    if (!rec(from)->positions) return;
    node_id names = series::copy_buffer(rec(from)->positions);
    rec(to)->positions = names;
}

void grow_words(node_id t) {
    record* r = rec(t);
    if (r->occupied < r->limit) return;
    uint64_t request = 2 * r->size < r->buckets ? r->buckets - 1 : uint64_t(r->buckets) + 1;
    rehash(t, static_cast<uint32_t>(std::min<uint64_t>(request * 16, 0xFFFFFFFFu)));
    if (rec(t)->occupied >= rec(t)->limit) error::raise(error::cat_internal, error::internal_no_memory);
}

void index_word(node_id t, uint32_t pos) {
    bool symbols = rec(t)->positions != 0;
    if (symbols) reserve_names(t, pos); // the only allocation
    view v = view_of(t);
    const cell* c = v.cells + pos;
    uint32_t hash = hash_value(c, false);
    uint32_t i = hash & v.mask, home = i, step = 0;
    int64_t spare = -1;
    while (!is_empty(v.flags, i)) {
        if (spare < 0 && is_deleted(v.flags, i)) spare = i;
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    if (symbols) {
        const series_buffer* name = memory::buffer_of(c->w3);
        names_of(v.r)[pos] = info_of(name->head, name->used_bytes());
    }
    fill(v, spare >= 0 ? static_cast<uint32_t>(spare) : i, pos, hash);
}

} // namespace detail

namespace {

// The slow path of interning: the name was not found, and probe [p] ended at the bucket the
// new entry takes.
[[gnu::noinline]] uint32_t add_symbol(node_id t, const probe& p, uint32_t hash, const uint8_t* name, uint32_t length) {
    int32_t alias = p.variant ? static_cast<int32_t>(p.variant) : -1;
    return append_symbol(t, p.end, hash, name, length, alias);
}

} // namespace

uint32_t intern_symbol(node_id t, const uint8_t* name, uint32_t length, int32_t mode) {
    if (ZYL_UNLIKELY(rec(t)->occupied >= rec(t)->limit)) grow_words(t);
    name_info want;
    uint32_t hash = hash_name(name, length, want);
    view v = view_of(t);
    probe p = ZYL_LIKELY(mode == INTERN_ALIAS) ? walk<INTERN_ALIAS>(v, hash, want, name, length)
              : mode == INTERN_EXACT           ? walk<INTERN_EXACT>(v, hash, want, name, length)
                                               : walk<INTERN_ANY_CASE>(v, hash, want, name, length);
    if (ZYL_LIKELY(p.found)) return p.found;
    return add_symbol(t, p, hash, name, length);
}

namespace {

// The 0-based index of [symbol] (whose canonical symbol hashes to [hash]) in context word
// table [r], or -1; [end] receives the bucket at which the probe ended.
inline int32_t find_word(const record* r, uint32_t symbol, uint32_t hash, bool by_alias, uint32_t& end) {
    const slot* slots = slots_of(r->keys);
    uint32_t mask = r->buckets - 1, i = hash & mask, home = i, step = 0;
    for (slot s; (s = slots[i]).key != NO_KEY;) { // a word table's keys tell its empty buckets
        // A word's stored hash is mix32 of its canonical symbol, and mix32 is one to one: the
        // hash matches exactly when the canonical symbols do.
        if (s.hash == hash && (by_alias || cells_of(r->data)[s.key].w2 == symbol)) return static_cast<int32_t>(s.key);
        i = (i + ++step) & mask;
        if (i == home) break;
    }
    end = i;
    return -1;
}

// context_find_word in add mode.
[[gnu::noinline]] int32_t find_or_add_word(node_id t, uint32_t symbol, bool by_alias, node_id context,
                                           int32_t* out_index) {
    grow_words(t);
    uint32_t hash = hash::mix32(symbol::resolve(symbol)), end = 0;
    int32_t found = find_word(rec(t), symbol, hash, by_alias, end);
    if (found >= 0) {
        if (out_index) *out_index = found;
        return found;
    }
    node_id data = rec(t)->data;
    uint32_t pos = cell_count(data);
    *series::append_unset_cell(data) = cell{T_word, context, symbol, pos};
    view v = view_of(t);
    fill(v, end, pos, hash);
    if (out_index) *out_index = static_cast<int32_t>(pos);
    return -1;
}

} // namespace

int32_t context_find_word(node_id t, uint32_t symbol, bool by_alias, node_id context, int32_t* out_index) {
    if (context) return find_or_add_word(t, symbol, by_alias, context, out_index);
    uint32_t end;
    int32_t found = find_word(rec(t), symbol, hash::mix32(symbol::resolve(symbol)), by_alias, end);
    if (found >= 0 && out_index) *out_index = found;
    return found;
}

} // namespace zyl::hashtable
