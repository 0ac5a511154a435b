// datatypes/symbol.cpp: symbol!: interning names, aliases, name strings and comparison.
#include "datatypes/symbol.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/registry.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/unicode.h"
#include "runtime/unicode_text.h"

namespace zyl::symbol {

table_state table{};

// {== Internal functions

namespace {

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

void mark_table() {
    collector::mark_series_cells(table.entries);
    if (table.index) hashtable::mark(table.index);
}

series_buffer* name_bytes(uint32_t id) { return memory::buffer_of(entry_cell(id)->w3); }

inline uint8_t lower(uint8_t c) { return static_cast<uint8_t>(static_cast<uint32_t>(c - 'A') < 26 ? c | 0x20 : c); }

// The next code point of a name, folded to upper case unless [exact].
inline uint32_t next_point(const uint8_t*& p, const uint8_t* end, bool exact) {
    int32_t cp;
    p = unicode::decode_utf8_char(p, end, cp);
    uint32_t u = static_cast<uint32_t>(cp);
    return exact ? u : unicode::case_fold(u, true);
}

// The text comparison of two names (ordinary mode): lengths in code points, then the first
// differing code point; folded to upper case except for operators 2 and 8.
int32_t compare_names(const series_buffer* a, const series_buffer* b, int32_t op) {
    const uint8_t *p = a->head, *pe = a->tail, *q = b->head, *qe = b->tail;
    int64_t len1 = unicode::count_utf8_chars(p, pe);
    int64_t len2 = unicode::count_utf8_chars(q, qe);
    if (len1 == 0 && len2 == 0) return 0;
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    if (len1 != len2 && equality) return 1;
    if (len2 == 0) return 1;
    if (len1 == 0) return -1;
    bool exact = op == 2 || op == 8;
    uint32_t x = 0, y = 0;
    for (int64_t i = std::min(len1, len2); i > 0 && x == y; i--) {
        x = next_point(p, pe, exact);
        y = next_point(q, qe, exact);
    }
    if (x == y && len1 != len2) return len1 > len2 ? 1 : -1;
    return x > y ? 1 : x < y ? -1 : 0;
}

} // namespace

void init_table(node_id entries) {
    table.entries = entries;
    table.index = 0;
    collector::remove_mark_hook(mark_table);
    collector::add_mark_hook(mark_table);
    cell v{T_block, 0, entries, 0};
    table.index = hashtable::init(TABLE_SIZE, &v, hashtable::KIND_WORD, hashtable::SUB_SYMBOLS);
}

uint32_t count() { return memory::buffer_of(table.entries)->used_bytes() / sizeof(cell); }

uint32_t make_from_text(const uint8_t* text, uint32_t length) {
    return hashtable::intern_symbol(table.index, text, length, hashtable::INTERN_ALIAS);
}

uint32_t make(const char* name) {
    return make_from_text(reinterpret_cast<const uint8_t*>(name), static_cast<uint32_t>(std::strlen(name)));
}

uint32_t make_any_case(const char* name) {
    auto* p = reinterpret_cast<const uint8_t*>(name);
    return hashtable::intern_symbol(table.index, p, static_cast<uint32_t>(std::strlen(name)),
                                    hashtable::INTERN_ANY_CASE);
}

uint32_t make_from_string(const cell* s) {
    unicode::text::range r = unicode::text::range_of(s, -1);
    uint64_t size = unicode::utf8_size_of_range(r.start, r.end, r.unit);
    uint8_t small[256];
    std::vector<uint8_t> large;
    uint8_t* out = small;
    if (size > sizeof small) {
        large.resize(size);
        out = large.data();
    }
    int64_t n = unicode::write_utf8(s, out, -1, false);
    return make_from_text(out, static_cast<uint32_t>(n));
}

cell* name_string(uint32_t id) {
    if (entry_cell(id)->w2 == 0) {
        series_buffer* b = name_bytes(id);
        uint32_t length = b->used_bytes();
        name_copy name(b->head, length); // the loader allocates: the bytes may move
        node_id s = unicode::load_utf8_new(name.data, length);
        entry_cell(id)->w2 = s;
    }
    return entry_cell(id);
}

cell* entry(uint32_t id) { return name_string(id); }

const char* c_name(uint32_t id) {
    node_id n = entry_cell(id)->w3;
    series_buffer* b = memory::buffer_of(n);
    if (b->tail == b->end()) b = series::expand(n, uint64_t(b->size) + 1);
    *b->tail = 0;
    return reinterpret_cast<const char*>(b->head);
}

bool is_any_type(const cell* w) {
    static constexpr char name[] = "any-type!";
    series_buffer* b = name_bytes(resolve(w->w2));
    if (b->used_bytes() != sizeof name - 1) return false;
    for (uint32_t i = 0; i < sizeof name - 1; i++)
        if (lower(b->head[i]) != static_cast<uint8_t>(name[i])) return false;
    return true;
}

// }==
// {== Action entries

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_symbol) return -2;
    bool same = a->w3 == b->w3;
    if (op == 9) return same ? 0 : -1;
    if (same && (op == 0 || op == 1 || op == 2 || op == 12)) return 0;
    return compare_names(memory::buffer_of(a->w3), memory::buffer_of(b->w3), op);
}

// }==
// {== Registration

void init() {
    action_fn e[ACTION_SLOTS] = {};
    e[A_compare - 1] = datatype::entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_symbol, 0, "symbol!", e);
}

// }==

} // namespace zyl::symbol
