// runtime/hashtable.h: the open-addressed hash table behind hash!, map!, the symbol table,
// context word tables and node-keyed tables; and ptrmap, its small uncollected cousin.
//
// A table indexes a series without holding the values itself: each bucket keeps a 32-bit key
// that says where the value lies in the table's data series (a cell position, or a byte
// offset for node-keyed entries), and beside it the 32-bit hash of that value. The series
// keeps the insertion order users see; the table only makes look-ups fast. Probing is
// triangular over a power-of-two bucket count, two state bits per bucket (empty, deleted,
// live), and the table grows before it is 77% occupied, so a probe always meets an empty
// bucket. A probe compares a value only in buckets whose stored hash is the key's (values
// equal under the equality operators hash alike), and growth places keys by their stored
// hashes without reading the values again.
//
// A table is the node of a byte series holding one `record`; its arrays are series too, so
// the collector moves them like any series. Every function that may allocate may move them:
// re-read the record (rec) and every buffer address after such a call. Cells returned here
// point into the data series and stay valid only until the next allocation.
//
// Kinds and their keys:
//   hash     (hash!)  cell position of the value, or -k: element k (1-based) of `chains` is
//                     the array of all positions holding equal values
//   map      (map!)   cell position of the key cell; data holds key and value cells in turn
//   word     symbol table (sub-kind 1: symbol! entries) and context word tables (sub-kind 2:
//                     word! cells); key = cell position
//   pointer, owner    byte offset in data of an entry of 1 + d cells: the first cell's header
//                     is 2 while the entry lives and 0 once removed, its word 1 the key node;
//                     the d value cells follow
//
// Node-keyed tables hash node ids, which never change (node frames are not compacted). The
// stamp of a table that hashes by node records the relocation epoch at which its keys were
// placed; should the collector ever move nodes it calls nodes_moved, and such tables re-place
// their keys before their next use.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::hashtable {

enum kind : uint32_t { KIND_HASH = 0, KIND_MAP = 1, KIND_WORD = 2, KIND_POINTER = 3, KIND_OWNER = 4 };

constexpr uint32_t SUB_SYMBOLS = 1; // word table over the symbol table
constexpr uint32_t SUB_CONTEXT = 2; // word table of a context

// Internal datatype of a text key that carries its length in code points in word 3 (when not
// negative); it hashes and compares as text.
constexpr uint8_t T_TEXT_KEY = 56;
// Marks a position without bucket in the positions array of a hash table.
constexpr uint32_t NO_POSITION = 0xFFFFFFFF;
// Above this many moved positions reindex_range gives up: a full rebuild is cheaper.
constexpr uint32_t REINDEX_MAX = 30000;
// Status of put when growth rebuilt the whole table (the cell was indexed by the rebuild).
constexpr int32_t PUT_REBUILT = 2;

// Bucket states, two bits each, sixteen buckets per 32-bit flags word, low bits first.
constexpr uint32_t BUCKET_LIVE = 0;
constexpr uint32_t BUCKET_DELETED = 1;
constexpr uint32_t BUCKET_EMPTY = 2;
constexpr uint8_t FLAGS_ALL_EMPTY = 0xAA;

// Invariant (between calls): size <= occupied < buckets; occupied < limit + 1, since growth is
// checked before every insertion; buckets is a power of two, at least 4. Every live bucket's
// key names a cell (or entry) of data whose hash, the one stored beside the key, leads the
// probe to that bucket without crossing an empty bucket. Kind hash: positions[p] is the
// 1-based bucket of position p, or NO_POSITION; each chain array holds the positions of one
// group of equal values. The symbol table: name info record p describes the entry at p.
struct record {
    uint32_t size;      // live keys (kind map: live pairs, the map's length)
    uint32_t positions; // kind hash: node of the positions array; pointer, owner: bytes per entry;
                        // the symbol table: node of its name-info array (hashtable_words.cpp)
    node_id chains;     // kind hash: array of chain-array nodes (4 bytes each, 0 = freed slot)
    node_id flags;      // buckets / 4 bytes of state bits
    node_id keys;       // 8 * buckets bytes: per bucket, the hash of its value, then its key
    node_id data;       // the indexed series, or the entries of pointer and owner tables
    uint32_t occupied;  // live and deleted buckets
    uint32_t buckets;   // a power of two, at least 4
    uint32_t limit;     // growth is due when occupied reaches it
    uint32_t kind;      // see `kind`
    uint32_t stamp;     // 0, or the relocation epoch + 1 at which the keys were placed
};
static_assert(sizeof(record) == 44, "eleven 32-bit fields");

// The record of table [t]. Unchecked: [t] must be a table. Stale after any allocation. The
// record starts the data area of its buffer (its head never moves), which saves the load of
// the head on every call.
inline record* rec(node_id t) {
    series_buffer* b = memory::buffer_of(t);
    ZYL_ASSERT(b->head == b->data());
    return reinterpret_cast<record*>(b->data());
}

// The relocation epoch: how many collections moved nodes so far (none, while node frames
// stay put). Tables that hash by node compare their stamp with it.
extern uint32_t relocations;
// Called by the collector after it moved nodes: every stamped table re-places its keys.
inline void nodes_moved() { relocations++; }

// Normalises the map key at cell [position] of [series] after it was indexed (map!'s key
// preparation: word keys become set-words, series keys are copied). Null until map! sets it.
using key_hook = void (*)(node_id series, uint32_t position);
extern key_hook prepare_map_key;

// {== Hashing values

// The hash of value [v] by its datatype; text folds to upper case unless [case_sensitive].
// Tables always hash case-insensitively.
uint32_t hash_value(const cell* v, bool case_sensitive);
// Whether [a] and [b] compare true under the equality operator [op] (0, 1, 2, 9 to 12): the
// generic comparison, through the compare entry of [a]'s datatype.
bool equal_under(const cell* a, const cell* b, int32_t op);

// }==
// {== Tables of values (kinds hash, map, word)

// A new table of [kind] for about [size] keys over the series of value [value] (a series cell
// whose series is indexed from its index on, step 2 for map), or over a new block of [size]
// cells when [value] is null or none. [sub] is the sub-kind of a word table, the value cells
// per entry of pointer and owner tables, else 1. May allocate.
node_id init(uint32_t size, const cell* value, uint32_t kind, uint32_t sub);
// A context word table that starts as a copy of [source]'s: record, flags, keys and word list.
node_id copy_words(node_id source);
// A new table over series [data] with copies of [t]'s flags, keys and, for kind hash, positions
// and chains (chain arrays copied too, so the two tables never share state).
node_id copy(node_id t, node_id data);

// Indexes cell [c] of the data series (kind map: a key cell). Kind map answers the key cell
// already in the table that is strict-equal to it, else [c]. [status], when given, receives
// PUT_REBUILT when growth rebuilt the whole table (kind hash), else 0. May allocate.
cell* put(node_id t, const cell* c, int32_t* status);
inline cell* put_key(node_id t, const cell* c) { return put(t, c, nullptr); }

// Finds [key]: kind hash, the cell of a value equal under compare operator [op], searching
// from position [start] in records of [skip] cells (1 for none): forwards by default, the
// greatest position from [start] with [last], the greatest before [start] with [reverse].
// Kind map: the stored key cell equal to [key] under [op] (word keys are looked up as
// set-words). Null when absent.
cell* find(node_id t, const cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
// Continues a map search for more keys of [key]'s datatype equal to it under operator 0, from
// bucket [bucket] and probe step [step] (bucket -1: start at the key's home bucket); both are
// updated. Null when no more.
cell* get_next(node_id t, const cell* key, int32_t& bucket, int32_t& step);

// Kind hash: position of cell [c] leaves the table (its bucket dies with its last position).
// Kind map: the pair of key cell [c] leaves the map's view: its value header becomes 0.
void remove_entry(node_id t, const cell* c);
// Kind hash: [count] positions from [position] leave the table; all of them empty it.
void remove_range(node_id t, uint32_t position, uint32_t count);
// Kind hash: the [count] positions from [position] move by [delta] places in the series. With
// [drop], a negative delta first removes the -delta positions below [position], a positive
// one makes room in the positions array. Answers 1 and changes nothing when [count] exceeds
// REINDEX_MAX (the caller rebuilds with clear_and_size), else 0. May allocate.
int32_t reindex_range(node_id t, int32_t delta, uint32_t position, uint32_t count, bool drop);
// Kind hash: the [count] positions from [from] moved so that they now stand before what was
// position [to]; nothing when [to] lies in [from, from + count].
void move_range(node_id t, uint32_t to, uint32_t from, uint32_t count);
// Indexes every cell of the data series from [position] on, [step] cells apart (kind map:
// a key already present takes the later value and the later pair leaves the series).
void rebuild_index(node_id t, uint32_t position, uint32_t step);
// Kind hash: empties the table, sizes it for [n] entries (at least the series length) and
// indexes the whole series again.
void clear_and_size(node_id t, uint32_t n);
// Resizes [t] in place to next_pow2([request]) buckets (at least 4): nothing when the live
// keys would not fit below the new limit.
void rehash(node_id t, uint32_t request);
// Empties [t] and its data series.
void clear(node_id t);

// }==
// {== Word tables

// How intern_symbol matches names.
enum intern_mode : int32_t {
    INTERN_ALIAS = 0,     // exact spelling, else a case variant makes an alias of it
    INTERN_EXACT = 1,     // exact spelling only: a new spelling is its own canonical symbol
    INTERN_ANY_CASE = 2,  // any ASCII case variant is the symbol itself; no alias is made
};

// The 1-based symbol id of the UTF-8 name [name] ([length] bytes) in symbol table [t],
// appending a new symbol! entry when it is new. May allocate; [name] may lie anywhere.
uint32_t intern_symbol(node_id t, const uint8_t* name, uint32_t length, int32_t mode);
// The 0-based index of [symbol] in context word table [t] (by canonical symbol with
// [by_alias]), or -1. With [context] (add mode) an absent symbol is appended to the word
// list as a word! bound to [context], its index written to [out_index], and -1 is answered;
// a found one's index is written there too. May allocate in add mode.
int32_t context_find_word(node_id t, uint32_t symbol, bool by_alias, node_id context, int32_t* out_index);

// }==
// {== Node-keyed tables (kinds pointer and owner)

// The first value cell of [key]'s entry, made when absent (every cell of a new entry unset).
// May allocate.
cell* put_pointer(node_id t, node_id key);
// The first value cell of [key]'s entry, or null.
cell* get(node_id t, node_id key);
// Removes [key]'s entry; answers its first value cell, or null when absent.
cell* remove_pointer(node_id t, node_id key);

// }==
// {== Collection

// Marks table [t] and what it keeps alive: its record and arrays, for kind pointer each live
// entry's key series, and its data series with the cells there. A kind owner table keeps
// nothing alive: only its record, arrays and data series are marked here.
void mark(node_id t);
// The owner table's entries are ephemerons: marks the value cells (owned value, owner, word)
// of each live entry of kind owner table [t] whose key series is marked and whose cells were
// not marked yet in this collection. Answers whether it marked any; the collector repeats it,
// draining its work stack between calls, until it answers false.
bool mark_live_entries(node_id t);
// After marking: drops the entries of node-keyed table [t] whose key series died, or (kind
// owner) whose owner's context died; their first two words become 0.
void sweep(node_id t);

// }==

} // namespace zyl::hashtable

// The small map of 32-bit keys to 32-bit values that the collector uses. It lives on the C
// heap, outside the collected memory, and probes like the tables above.
namespace zyl::ptrmap {

// Invariant: size <= occupied < buckets; buckets a power of two, at least 4.
struct map {
    uint32_t size;     // live keys
    uint8_t* flags;    // buckets / 4 bytes of state bits (at least 1)
    uint32_t* pairs;   // key, value per bucket
    uint32_t occupied; // live and deleted buckets
    uint32_t buckets;
    uint32_t limit;    // growth is due when occupied reaches it
};

// A map for about [n] keys.
map* init(uint32_t n);
// Sets [key] to [value], adding it when absent.
void put(map* m, uint32_t key, uint32_t value);
// The address of [key]'s value, or null; valid until the next put.
uint32_t* get(map* m, uint32_t key);
// The bucket of [key], or -1.
int32_t find_bucket(const map* m, uint32_t key);
void remove(map* m, uint32_t key);
void clear(map* m);
void free(map* m);
inline uint32_t size(const map* m) { return m->size; }
// The next live pair (its key; the value follows) after pair [after] (null: the first), or null.
uint32_t* next_live(map* m, uint32_t* after);

} // namespace zyl::ptrmap
