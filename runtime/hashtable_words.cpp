// runtime/hashtable_words.cpp: word tables: interning names in the symbol table, and finding
// or adding words in a context's word table.
//
// All ASCII case variants of a name hash alike (murmur3 of the name with A-Z lowered), so
// they lie on one probe path, the canonical spelling first: it was interned first. A context
// table hashes a word by its canonical symbol for the same reason. Word tables never delete,
// and grow 32-fold at a time (16-fold when purging) since they only ever fill up.
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

inline uint8_t lower(uint8_t c) { return static_cast<uint8_t>(static_cast<uint32_t>(c - 'A') < 26 ? c | 0x20 : c); }

// The name bytes of the symbol entry at [key] of the table's data.
inline series_buffer* name_of(const view& v, uint32_t key) { return memory::buffer_of(v.cells[key].w3); }

inline bool same_name(const series_buffer* b, const uint8_t* name, uint32_t length) {
    return b->used_bytes() == length && std::memcmp(b->head, name, length) == 0;
}

// Equal under ASCII case folding; every other byte, multi-byte sequences included, must match.
bool same_name_any_case(const series_buffer* b, const uint8_t* name, uint32_t length) {
    if (b->used_bytes() != length) return false;
    for (uint32_t i = 0; i < length; i++)
        if (lower(b->head[i]) != lower(name[i])) return false;
    return true;
}

// The result of a probe for a name: the symbol found (0 when none), and the empty bucket at
// which the probe ended.
struct probe {
    uint32_t found;
    uint32_t end;
};

// Walks the probe path of [hash] from its home bucket, comparing names exactly or with
// [AnyCase]; stops at the first match or at an empty bucket.
template <bool AnyCase> probe walk(const view& v, uint32_t hash, const uint8_t* name, uint32_t length) {
    uint32_t i = hash & v.mask, home = i, step = 0;
    while (!is_empty(v.flags, i)) {
        series_buffer* b = name_of(v, v.keys[i]);
        bool match = AnyCase ? same_name_any_case(b, name, length) : same_name(b, name, length);
        if (match && is_live(v.flags, i)) return {v.keys[i] + 1, i};
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    return {0, i};
}

// Appends a symbol! entry named [name] with [alias] to the symbol table [t], in bucket [i].
uint32_t append_symbol(node_id t, uint32_t i, const uint8_t* name, uint32_t length, int32_t alias) {
    std::vector<uint8_t> large;
    uint8_t small[256];
    uint8_t* copy = small;
    if (length > sizeof small) {
        large.resize(length);
        copy = large.data();
    }
    std::memcpy(copy, name, length); // [name] may lie in a buffer that allocation moves
    node_id data = rec(t)->data;
    series_buffer* d = memory::buffer_of(data);
    if (d->tail == d->end()) series::expand(data, 0); // room first: nothing allocates after the name
    node_id bytes = series::alloc_bytes(uint64_t(length) + 1);
    series_buffer* b = memory::buffer_of(bytes);
    std::memcpy(b->head, copy, length);
    b->head[length] = 0;
    b->tail = b->head + length;
    d = memory::buffer_of(data);
    uint32_t pos = d->used_bytes() / sizeof(cell);
    *reinterpret_cast<cell*>(d->tail) = cell{T_symbol, static_cast<uint32_t>(alias), 0, bytes};
    d->tail += sizeof(cell);
    view v = view_of(t);
    fill(v, i, pos);
    return pos + 1;
}

} // namespace

namespace detail {

void grow_words(node_id t) {
    record* r = rec(t);
    if (r->occupied < r->limit) return;
    uint64_t request = 2 * r->size < r->buckets ? r->buckets - 1 : uint64_t(r->buckets) + 1;
    rehash(t, static_cast<uint32_t>(std::min<uint64_t>(request * 16, 0xFFFFFFFFu)));
    if (rec(t)->occupied >= rec(t)->limit) error::raise(error::cat_internal, error::internal_no_memory);
}

void index_word(node_id t, uint32_t pos) {
    view v = view_of(t);
    uint32_t i = hash_value(v.cells + pos, false) & v.mask, home = i, step = 0;
    int64_t spare = -1;
    while (!is_empty(v.flags, i)) {
        if (spare < 0 && is_deleted(v.flags, i)) spare = i;
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    fill(v, spare >= 0 ? static_cast<uint32_t>(spare) : i, pos);
}

} // namespace detail

uint32_t intern_symbol(node_id t, const uint8_t* name, uint32_t length, int32_t mode) {
    if (ZYL_UNLIKELY(rec(t)->occupied >= rec(t)->limit)) grow_words(t);
    view v = view_of(t);
    uint32_t hash = hash::murmur3_lower(name, length);
    probe p = mode == INTERN_ANY_CASE ? walk<true>(v, hash, name, length) : walk<false>(v, hash, name, length);
    if (p.found) return p.found;
    int32_t alias = -1;
    if (mode == INTERN_ALIAS && !is_empty(v.flags, hash & v.mask)) {
        probe variant = walk<true>(v, hash, name, length);
        if (variant.found) alias = static_cast<int32_t>(variant.found);
    }
    return append_symbol(t, p.end, name, length, alias);
}

int32_t context_find_word(node_id t, uint32_t symbol, bool by_alias, node_id context, int32_t* out_index) {
    if (context) grow_words(t);
    uint32_t canonical = symbol::resolve(symbol);
    view v = view_of(t);
    uint32_t i = hash::mix32(canonical) & v.mask, home = i, step = 0;
    while (!is_empty(v.flags, i)) {
        const cell* w = v.cells + v.keys[i];
        bool match = by_alias ? symbol::resolve(w->w2) == canonical : w->w2 == symbol;
        if (match && is_live(v.flags, i)) {
            if (out_index) *out_index = static_cast<int32_t>(v.keys[i]);
            return static_cast<int32_t>(v.keys[i]);
        }
        i = (i + ++step) & v.mask;
        if (i == home) break;
    }
    if (!context) return -1;
    node_id data = v.r->data;
    uint32_t pos = cell_count(data);
    *series::append_unset_cell(data) = cell{T_word, context, symbol, pos};
    view after = view_of(t);
    fill(after, i, pos);
    if (out_index) *out_index = static_cast<int32_t>(pos);
    return -1;
}

} // namespace zyl::hashtable
