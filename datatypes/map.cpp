// datatypes/map.cpp: map! keys, making a map over a block of pairs, look-up, put, extend and
// the foreach step. The action entries are in datatypes/map_actions.cpp. Layout and invariant:
// datatypes/map.h.
#include "datatypes/map.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/natives_control.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"

namespace zyl::map {

// {== Internal functions

namespace {

inline bool is_any_word(uint8_t t) { return t == T_word || t == T_set_word || t == T_lit_word || t == T_get_word; }
// Keys kept as private copies, so that changing the series given changes no key.
inline bool is_copied_key(uint8_t t) { return string::is_text_type(t) || t == T_binary; }

inline cell* cells_of(node_id n) { return block::cells_of(n); }
inline uint32_t total_of(node_id n) { return static_cast<uint32_t>(series::length(n)); }

// Raises invalid-path for a key of datatype [key]'s, in [path] (none outside a path).
[[noreturn]] void invalid_key(const cell* key, const cell* path) {
    cell type = datatype::make_value(key->type());
    error::raise(error::cat_script, error::script_invalid_path, path ? path : &none_value, &type);
}

// Stores the key at [pos] of pair block [data] in its prepared form: word keys as set-words,
// text and binary keys as copies from their index. The table's hook, also run for every key
// a map is made over.
void prepare_at(node_id data, uint32_t pos) {
    cell k = cells_of(data)[pos];
    uint8_t t = k.type();
    if (is_any_word(t)) {
        cells::set_type(cells_of(data) + pos, T_set_word);
    } else if (is_copied_key(t)) {
        uint32_t units = series::rs_abs_length_q(&k);
        uint32_t from = std::min(k.w1, units);
        node_id n = series::copy_part(k.w2, from, units - from); // [k]'s series is held by [data]
        cell* at = cells_of(data) + pos;
        at->w1 = 0;
        at->w2 = n;
    } else if (!valid_key_type(t)) {
        invalid_key(&k, nullptr);
    }
}

// Removed pairs stay in the block, so a map that keeps removing and putting keys would grow
// without bound: when the block is full and holds more removed pairs than live ones, the live
// pairs move down, in order, and are indexed again. The table keeps its node, so every copy of
// the map cell sees the compacted map.
void compact_if_churned(const cell* m) {
    series_buffer* b = memory::buffer_of(m->w2);
    if (b->tail != b->end()) return;
    uint32_t total = total_of(m->w2), from = std::min(m->w1, total);
    uint32_t pairs = (total - from) / 2, live = size(m);
    if (pairs - live <= live) return;
    cell* c = cells_of(m->w2);
    uint32_t to = from;
    for (uint32_t r = from; r + 1 < total; r += 2) {
        if (c[r + 1].header == 0) continue;
        c[to] = c[r];
        c[to + 1] = c[r + 1];
        to += 2;
    }
    hashtable::clear(m->w3); // empties the buckets, and the block: its tail is set back below
    b = memory::buffer_of(m->w2);
    b->tail = b->head + size_t(to) * sizeof(cell);
    for (uint32_t p = from; p < to; p += 2) hashtable::put_key(m->w3, cells_of(m->w2) + p); // no growth: fewer keys
}

} // namespace

// }==
// {== Keys, making, look-up and put

bool valid_key_type(uint8_t t) {
    switch (t) {
    case T_string: case T_file: case T_url: case T_char_: case T_integer: case T_float_: case T_word:
    case T_set_word: case T_lit_word: case T_get_word: case T_refinement: case T_issue: case T_pair:
    case T_percent: case T_tuple: case T_binary: case T_time: case T_tag: case T_email: case T_date:
    case T_money: case T_ref: case T_point2d: case T_point3d:
        return true;
    default: return false;
    }
}

cell* make_at(cell* c, const cell* pairs, uint32_t capacity) {
    cell blk = pairs && pairs->type() != T_none
                   ? *pairs
                   : cell{T_block, 0, series::alloc_cells(std::max<uint32_t>(capacity, 2)), 0};
    *c = cell{T_map, blk.w1, blk.w2, 0}; // keeps the block while the table is made
    uint32_t total = total_of(blk.w2);
    uint32_t pair_count = (total - std::min(blk.w1, total)) / 2;
    node_id t = hashtable::init(std::max(pair_count, capacity / 2), &blk, hashtable::KIND_MAP, 1);
    c->w3 = t;
    return c;
}

uint32_t size(const cell* m) { return hashtable::rec(m->w3)->size; }

cell* get(const cell* m, const cell* key, int32_t op) {
    cell* k = hashtable::find(m->w3, key, 0, 1, op, false, false);
    return k && k[1].header != 0 ? k + 1 : nullptr;
}

cell* set(const cell* m, const cell* key, const cell* value, bool case_, const cell* path) {
    node_id t = m->w3;
    cell* found = hashtable::find(t, key, 0, 1, case_ ? 2 : 0, false, false);
    if (found) {
        if (found[1].header == 0) hashtable::rec(t)->size++; // a removed pair revives in place
        found[1] = *value;
        return found + 1;
    }
    if (!valid_key_type(key->type())) invalid_key(key, path);
    compact_if_churned(m);
    series::append_value(m->w2, *key);
    series::append_value(m->w2, *value);
    uint32_t pos = total_of(m->w2) - 2;
    hashtable::put_key(t, cells_of(m->w2) + pos);
    prepare_at(m->w2, pos);
    return cells_of(m->w2) + pos + 1;
}

void extend(const cell* m, const cell* from, bool case_) {
    cell src = *from;
    uint32_t total = total_of(src.w2), at = std::min(src.w1, total);
    if (src.type() != T_map && (total - at) % 2 != 0) error::raise(error::cat_script, error::script_invalid_arg, &src);
    for (uint32_t p = at; p + 1 < total_of(src.w2); p += 2) {
        cell key = cells_of(src.w2)[p], value = cells_of(src.w2)[p + 1]; // [src] holds their series
        if (value.header == 0) continue; // a removed pair of a map
        set(m, &key, &value, case_, nullptr);
    }
}

bool foreach_next(cell* s, const cell* words) {
    node_id n = s->w2;
    uint32_t total = total_of(n);
    while (s->w1 + 1 < total && cells_of(n)[s->w1 + 1].header == 0) s->w1 += 2;
    if (s->w1 + 1 >= total) return false;
    const cell* w = cells_of(words->w2) + words->w1;
    for (int i = 0; i < 2; i++) {
        if (!is_any_word(w[i].type())) {
            cell bad = w[i];
            error::raise(error::cat_script, error::script_invalid_arg, &bad);
        }
    }
    cell key = cells_of(n)[s->w1], value = cells_of(n)[s->w1 + 1];
    s->w1 += 2;
    if (key.type() == T_set_word) cells::set_type(&key, T_word);
    cells::clear_new_line(&key);
    cell w0 = cells_of(words->w2)[words->w1], w1 = cells_of(words->w2)[words->w1 + 1];
    word::set_value(&w0, &key);
    word::set_value(&w1, &value);
    return true;
}

// }==

namespace detail {
void set_hooks() {
    hashtable::prepare_map_key = &prepare_at;
    natives::map_foreach_next = &foreach_next;
}
} // namespace detail

} // namespace zyl::map
