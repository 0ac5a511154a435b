// runtime/hashtable_internal.h: bucket states, sizing and snapshots shared by the hash-table
// units; not an interface. The layout and its invariants are in runtime/hashtable.h.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "eval/actions.h"
#include "runtime/array.h"
#include "runtime/hashtable.h"
#include "runtime/murmur.h"

namespace zyl::hashtable::detail {

constexpr double LOAD = 0.77;

// {== Bucket states: bucket i is bits (i & 3) * 2 of byte i >> 2, which is the same layout as
// sixteen buckets to a little-endian 32-bit word.

inline uint32_t shift_of(uint32_t i) { return (i & 3) << 1; }
inline bool is_empty(const uint8_t* f, uint32_t i) { return (f[i >> 2] >> shift_of(i)) & 2; }
inline bool is_deleted(const uint8_t* f, uint32_t i) { return (f[i >> 2] >> shift_of(i)) & 1; }
inline bool is_live(const uint8_t* f, uint32_t i) { return ((f[i >> 2] >> shift_of(i)) & 3) == 0; }
inline void set_live(uint8_t* f, uint32_t i) { f[i >> 2] &= static_cast<uint8_t>(~(3u << shift_of(i))); }
inline void set_deleted(uint8_t* f, uint32_t i) {
    f[i >> 2] = static_cast<uint8_t>((f[i >> 2] & ~(3u << shift_of(i))) | (1u << shift_of(i)));
}

// }==
// {== Sizing

// Buckets and limit of a new table for [size] keys.
inline uint32_t buckets_for(uint32_t size) { return hash::next_pow2(static_cast<uint32_t>(size / LOAD)); }
inline uint32_t limit_of(uint32_t buckets) { return static_cast<uint32_t>(buckets * LOAD); }
// The limit after a resize in place.
inline uint32_t limit_rounded(uint32_t buckets) { return static_cast<uint32_t>(buckets * LOAD + 0.5); }
// Bucket count for a resize request: next_pow2, at least 4; requests past 2^31 buckets raise
// internal no-memory (the keys could not be allocated anyway).
uint32_t buckets_for_request(uint64_t request);
// A byte series of at least [bytes] bytes, all [byte], its tail at the end of its data area.
node_id alloc_filled(uint64_t bytes, uint8_t byte);
// A flags series for [buckets] buckets, all empty.
inline node_id alloc_flags(uint32_t buckets) { return alloc_filled(buckets < 4 ? 1 : buckets / 4, FLAGS_ALL_EMPTY); }
// A keys array for [buckets] buckets (a slot each), every key NO_KEY.
inline node_id alloc_keys(uint32_t buckets) { return alloc_filled(uint64_t(buckets) * 8, 0xFF); }

// }==
// {== Snapshots: the addresses of a table's arrays, valid until the next allocation

// One bucket of the keys array: the key and the hash of what it names, side by side, so that
// a probe passes over a bucket whose hash differs without loading the value, and growth
// places keys without hashing them again. The hash is that of the value when it was indexed
// (hash_value; mix32 of the key node for node-keyed tables); a chain's is its group's.
struct slot {
    uint32_t hash;
    uint32_t key; // see `record`
};
static_assert(sizeof(slot) == 8);

// The key of an empty bucket. Kinds map and word never delete a bucket, and there a bucket is
// empty exactly when its key is NO_KEY (no cell position reaches it): their look-ups read the
// keys alone. Kind hash uses all key values (-1 is the first chain), so it goes by the flags.
constexpr uint32_t NO_KEY = 0xFFFFFFFF;
inline bool keys_tell_empty(uint32_t kind) { return kind == KIND_MAP || kind == KIND_WORD; }

struct view {
    record* r;
    uint8_t* flags;
    slot* slots; // the keys array
    cell* cells; // data series from its head
    uint32_t mask;
};

inline uint8_t* bytes_of(node_id n) { return memory::buffer_of(n)->head; }
inline cell* cells_of(node_id n) { return reinterpret_cast<cell*>(memory::buffer_of(n)->head); }
// The start of a table's own array [n] (flags, keys, positions, name info): the table makes
// them with their head at the start of the data area and never moves it (expansion and the
// collector keep that), so the address comes without loading the head. Not for data series
// and chain arrays, whose heads belong to others.
inline uint8_t* array_of(node_id n) {
    series_buffer* b = memory::buffer_of(n);
    ZYL_ASSERT(b->head == b->data());
    return b->data();
}
inline uint32_t* words_of(node_id n) { return reinterpret_cast<uint32_t*>(array_of(n)); }
inline slot* slots_of(node_id n) { return reinterpret_cast<slot*>(array_of(n)); }
// Cells between the head and the tail of [n].
inline uint32_t cell_count(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }

inline view view_of(node_id t) {
    record* r = rec(t);
    return view{r, array_of(r->flags), slots_of(r->keys), cells_of(r->data), r->buckets - 1};
}

// The position of cell [c] in the data series of [r].
inline uint32_t position_of(const record* r, const cell* c) {
    return static_cast<uint32_t>(c - cells_of(r->data));
}

// The chain array of hash-table key [k] (negative: -element of the chain list).
inline node_id chain_of(const record* r, int32_t k) {
    return static_cast<node_id>(array::pick_int(r->chains, static_cast<uint32_t>(-k)));
}
// The first position held in bucket [i] of a hash table.
inline uint32_t first_position(const view& v, uint32_t i) {
    int32_t k = static_cast<int32_t>(v.slots[i].key);
    if (k >= 0) return static_cast<uint32_t>(k);
    return static_cast<uint32_t>(array::pick_int(chain_of(v.r, k), 1));
}

// The compare entry of [v]'s datatype; a datatype without one raises as the generic
// comparison does. The probe loops fetch it once and call it directly.
inline actions::compare_fn compare_entry(const cell* v) { return actions::handler<actions::compare_fn>(v, A_compare); }
// The truth of compare result [r] under the equality operator [op].
inline bool truth(int32_t r, int32_t op) { return op == 1 ? r != 0 : r == 0; }

// hash_value of [v] as the tables hash it (case-insensitive), its commonest cases inline.
inline uint32_t hash_of(const cell* v) {
    uint8_t t = v->type();
    if (t == T_integer || t == T_char_) return hash::mix32(v->w2);
    return hash_value(v, false);
}

// The current relocation epoch as a stamp.
inline uint32_t fresh_stamp() { return relocations + 1; }

// }==
// {== Shared steps, each in the unit of its kind

// Re-places the keys of a stamped table whose stamp is out of date (hashtable.cpp).
void refresh_stale(node_id t);
inline void refresh(node_id t) {
    if (ZYL_UNLIKELY(rec(t)->stamp != 0)) refresh_stale(t);
}
// Marks bucket [i] live with [key] and its [hash]: counts it and stores both.
inline void fill(view& v, uint32_t i, uint32_t key, uint32_t hash) {
    if (is_empty(v.flags, i)) v.r->occupied++;
    set_live(v.flags, i);
    v.r->size++;
    v.slots[i] = slot{hash, key};
}
// Indexes position [pos] of a hash table, growth already done (hashtable_hash.cpp).
void index_position(node_id t, uint32_t pos);
// Empties the positions array and the chains of hash table [t] (hashtable_hash.cpp).
void reset_positions(node_id t);
// Copies the positions array and the chains of hash table [from] into [to] (hashtable_hash.cpp).
void copy_positions(node_id from, node_id to);
// Indexes cell [pos] of a word table at the end of its probe, growth already done
// (hashtable_words.cpp).
void index_word(node_id t, uint32_t pos);
// The name-info array of a symbol table for about [count] entries, empty (hashtable_words.cpp).
node_id alloc_names(uint32_t count);
// Gives word table [to] a copy of the name-info array of [from], if it has one
// (hashtable_words.cpp).
void copy_names(node_id from, node_id to);
// Grows a word table when it is due (hashtable_words.cpp).
void grow_words(node_id t);
// Re-places every live entry of a node-keyed table in fresh flags and keys
// (hashtable_pointers.cpp).
void replace_pointers(node_id t);
// Grows a node-keyed table when it is due (hashtable_pointers.cpp).
void grow_pointers(node_id t);

// }==

} // namespace zyl::hashtable::detail
