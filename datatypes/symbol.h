// datatypes/symbol.h: symbols, the interned spellings of words, and the symbol table.
//
// Every spelling of a word is interned once and is named afterwards by its symbol id, a
// 1-based position in the symbol table; ids are only ever appended, never reused. Words are
// case-insensitive: a spelling that differs from an earlier one only in ASCII letter case is
// interned as an alias of that earlier, canonical symbol, and words compare through the
// canonical id (resolve). "print" then "PRINT" gives two ids; resolve of the second is the
// first.
//
// A symbol-entry is one cell of the table (a symbol! value):
//   word 0  header: symbol! (13)
//   word 1  alias: the canonical symbol's id, or -1 when canonical (0 or less: no alias)
//   word 2  node of the name as a string!, 0 until first needed (then cached)
//   word 3  node of the name's UTF-8 bytes (unit 1), a NUL byte after the tail
//
// Entry addresses move when the table grows or the collector compacts: re-read them after
// any allocation, interning included.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::symbol {

constexpr uint32_t TABLE_SIZE = 4000; // entries the start-up makes room for

struct table_state {
    node_id entries; // the symbol series: symbol id n is cell n - 1
    node_id index;   // its hash table (word kind, symbol sub-kind)
};

extern table_state table;

// Takes [entries] (a cell series, empty or holding symbol entries) as the symbol table and
// makes its hash table; registers the collector hook that keeps both. May allocate.
void init_table(node_id entries);

// The entry of symbol [id]. Unchecked: ids are trusted, 1 .. the number of symbols.
inline cell* entry_cell(uint32_t id) {
    return reinterpret_cast<cell*>(memory::buffer_of(table.entries)->head) + (id - 1);
}
// The raw alias field of [id]: the canonical id, or 0 or less when [id] is canonical.
inline int32_t alias(uint32_t id) { return static_cast<int32_t>(entry_cell(id)->w1); }
// The canonical symbol of [id].
inline uint32_t resolve(uint32_t id) {
    int32_t a = alias(id);
    return a > 0 ? static_cast<uint32_t>(a) : id;
}
// Symbols interned so far.
uint32_t count();

// The id of the UTF-8 name [text] ([length] bytes), interning it (with an alias to an earlier
// case variant) when new. May allocate.
uint32_t make_from_text(const uint8_t* text, uint32_t length);
// make_from_text of the NUL-terminated [name].
uint32_t make(const char* name);
// The id of any ASCII case variant of [name] already interned, else of a new canonical
// symbol; never makes an alias. May allocate.
uint32_t make_any_case(const char* name);
// make_from_text of the characters of text value [s] from its index. May allocate.
uint32_t make_from_string(const cell* s);

// The entry of [id] with its name string made. May allocate; the result is valid until the
// next allocation.
cell* entry(uint32_t id);
// Makes the name string of [id] when not yet made (once: later calls reuse it); answers the
// entry. May allocate.
cell* name_string(uint32_t id);
// The NUL-terminated UTF-8 name of [id]; valid until the next allocation.
const char* c_name(uint32_t id);
// Whether word [w]'s canonical symbol is that of any-type!.
bool is_any_type(const cell* w);

// The compare entry of symbol!: the names compared as text under operator [op].
int32_t compare(const cell* a, const cell* b, int32_t op);
// Registers symbol! (no parent; compare is its only entry).
void init();

} // namespace zyl::symbol
