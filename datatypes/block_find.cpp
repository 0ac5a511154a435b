// datatypes/block_find.cpp: block! find, select and put, and the searching helpers
// select-word, select-by-compare and remove-by-compare.
//
// A search tries candidate positions of a range of the block: forward from the index, or
// backward (/last from the end of the range, /reverse from just before the index), in steps
// of the /skip size. A sub-block needle matches where its cells follow one by one; a
// datatype or typeset needle matches one cell by its type; any other value one equal cell. A
// hash! looks single values up in its table instead of scanning.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::block {

// {== Internal functions

namespace {

inline uint32_t total_of(const cell* blk) { return static_cast<uint32_t>(series::length(blk->w2)); }

enum class needle_kind { value, type, typeset, cells };

struct needle {
    needle_kind k;
    const cell* value; // the value searched for (a copy the caller holds)
    uint32_t from;     // cells: first cell of the sub-block
    uint32_t length;   // cells the needle covers
    int32_t op;        // compare operator for values and cells
};

// Whether the cells at [c] match [nd]; [c] has at least nd.length cells.
inline bool match_at(const cell* c, const needle& nd) {
    switch (nd.k) {
    case needle_kind::type: return c->type() == nd.value->w1;
    case needle_kind::typeset: return error::typeset_has(nd.value, c->type());
    case needle_kind::cells: {
        const cell* sub = cells_of(nd.value->w2) + nd.from;
        for (uint32_t i = 0; i < nd.length; i++)
            if (!equal_cells(c + i, sub + i, nd.op)) return false;
        return true;
    }
    default: return equal_cells(c, nd.value, nd.op);
    }
}

// Forward scan of [lo, hi) for an integer!: the common case, compared in place. A cell of
// another type goes through its compare entry, as equal_cells does.
int64_t scan_integer(const cell* c, uint32_t lo, uint32_t hi, uint32_t step, const needle& nd, bool match) {
    uint32_t v = nd.value->w2;
    for (uint64_t p = lo; p < hi; p += step) {
        const cell* x = c + p;
        if (x->type() == T_integer ? x->w2 == v : equal_cells(x, nd.value, nd.op)) return int64_t(p);
        if (match) break;
    }
    return -1;
}

inline uint32_t canonical(uint32_t symbol) { return symbol::table.entries ? symbol::resolve(symbol) : symbol; }

inline bool is_any_word(uint8_t t) { return t == T_word || t == T_set_word || t == T_lit_word || t == T_get_word; }

// Forward scan of [lo, hi) for a word under find equality (any word type, same canonical
// symbol): select on a block of keys. An integer! never equals a word; cells of other types
// go through their compare entry.
int64_t scan_word(const cell* c, uint32_t lo, uint32_t hi, uint32_t step, const needle& nd, bool match) {
    uint32_t want = canonical(nd.value->w2);
    for (uint64_t p = lo; p < hi; p += step) {
        const cell* x = c + p;
        uint8_t t = x->type();
        if (is_any_word(t) ? canonical(x->w2) == want : t != T_integer && equal_cells(x, nd.value, nd.op))
            return int64_t(p);
        if (match) break;
    }
    return -1;
}

// The first position of [lo, hi) where [nd] matches, or -1.
int64_t scan(const cell* series, uint32_t lo, uint32_t hi, const needle& nd, uint32_t step, bool backward,
             bool aligned, bool match) {
    uint32_t m = nd.length;
    if (m == 0 || hi - lo < m) return -1;
    const cell* c = cells_of(series->w2);
    if (!backward) {
        if (nd.k == needle_kind::value && nd.value->type() == T_integer) return scan_integer(c, lo, hi - m + 1, step, nd, match);
        if (nd.k == needle_kind::value && nd.op == 12 && is_any_word(nd.value->type()))
            return scan_word(c, lo, hi - m + 1, step, nd, match);
        for (uint64_t p = lo; p + m <= hi; p += step) {
            if (match_at(c + p, nd)) return int64_t(p);
            if (match) break;
        }
        return -1;
    }
    int64_t first = int64_t(hi) - m;
    if (aligned) first = int64_t(lo) + (int64_t(hi) - lo - m) / step * step;
    for (int64_t p = first; p >= int64_t(lo); p -= step) {
        if (match_at(c + p, nd)) return p;
        if (match) break;
    }
    return -1;
}

needle make_needle(const cell* value, bool only, int32_t op) {
    uint8_t t = value->type();
    if (!only && t == T_datatype) return {needle_kind::type, value, 0, 1, op};
    if (!only && t == T_typeset) return {needle_kind::typeset, value, 0, 1, op};
    if (!only && series::is_any_block(t)) {
        uint32_t total = total_of(value);
        uint32_t from = std::min(value->w1, total);
        return {needle_kind::cells, value, from, total - from, op};
    }
    return {needle_kind::value, value, 0, 1, op};
}

// The /skip size: an integer! of at least 1.
uint32_t skip_size(const cell* skip) {
    if (!skip) return 1;
    if (skip->type() != T_integer) string::detail::invalid_refine(words::refs.skip, skip);
    int32_t n = integer::get(skip);
    if (n < 1) error::raise(error::cat_script, error::script_out_of_range, skip);
    return static_cast<uint32_t>(n);
}

// Whether a search of hash! [series] for [nd] may use its table.
bool by_table(const cell* series, const needle& nd, bool same, bool match, const cell* part) {
    if (!series::detail::table_of(series) || match || part || nd.k != needle_kind::value) return false;
    return same || (nd.value->type() != T_object);
}

// The absolute position of the first cell from [start] of [blk] equal to [value] under find
// equality, or -1.
int64_t position_of(const cell* blk, uint32_t start, const cell* value) {
    uint32_t total = total_of(blk);
    needle nd{needle_kind::value, value, 0, 1, 12};
    return start >= total ? -1 : scan(blk, start, total, nd, 1, false, false, false);
}

} // namespace

namespace detail {

hit locate(cell* series, const cell* value, const cell* part, bool only, bool case_, bool same, const cell* skip,
           bool last, bool reverse, bool match) {
    uint32_t total = total_of(series);
    uint32_t idx = std::min(series->w1, total);
    if (total == 0 || (!reverse && idx >= total)) return {false, 0, 0};
    uint32_t step = skip_size(skip);
    uint32_t room = reverse ? idx : total - idx, count = room;
    if (part) {
        int64_t n = series::detail::part_count(series, part);
        if (n < 1) return {false, 0, 0};
        count = static_cast<uint32_t>(std::min<int64_t>(n, room));
    }
    needle nd = make_needle(value, only, same ? 9 : case_ ? 2 : 12);
    if (by_table(series, nd, same, match, part)) {
        cell* c = hashtable::find(series->w3, value, static_cast<int32_t>(idx), static_cast<int32_t>(step), nd.op,
                                  last && !reverse, reverse);
        if (!c) return {false, 0, 0};
        return {true, static_cast<uint32_t>(c - cells_of(series->w2)), 1};
    }
    uint32_t lo = reverse ? idx - count : idx, hi = reverse ? idx : idx + count;
    int64_t p = scan(series, lo, hi, nd, step, last || reverse, last && !reverse, match);
    if (p < 0) return {false, 0, 0};
    return {true, static_cast<uint32_t>(p), nd.length};
}

} // namespace detail

const cell* select_word(const cell* blk, const cell* word, bool case_) {
    uint32_t total = total_of(blk);
    uint32_t want = case_ ? word->w2 : canonical(word->w2);
    const cell* c = cells_of(blk->w2);
    for (uint32_t i = blk->w1; i < total; i++) {
        if (!is_any_word(c[i].type())) continue;
        if ((case_ ? c[i].w2 : canonical(c[i].w2)) != want) continue;
        return i + 1 < total ? c + i + 1 : &none_value;
    }
    return &none_value;
}

const cell* select_by_compare(const cell* blk, const cell* value) {
    int64_t p = position_of(blk, blk->w1, value);
    if (p < 0 || p + 1 >= total_of(blk)) return &none_value;
    return cells_of(blk->w2) + p + 1;
}

bool remove_by_compare(cell* blk, const cell* value, bool from_head) {
    int64_t p = position_of(blk, from_head ? 0 : blk->w1, value);
    if (p < 0) return false;
    series::detail::remove_units(blk, static_cast<uint32_t>(p), 1);
    return p <= blk->w1;
}

// }==
// {== Action entries

cell* find(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool, const cell*,
           const cell* skip, bool last, bool reverse, bool tail, bool match) {
    cell v = *value;
    detail::hit h = detail::locate(series, &v, part, only, case_, same, skip, last, reverse, match);
    if (!h.found) return &(*series = none_value);
    series->w1 = tail ? h.pos + h.length : h.pos;
    return series;
}

cell* select(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool, const cell*,
             const cell* skip, bool last, bool reverse) {
    cell v = *value;
    detail::hit h = detail::locate(series, &v, part, only, case_, same, skip, last, reverse, false);
    uint32_t after = h.pos + h.length;
    if (!h.found || after >= total_of(series)) return &(*series = none_value);
    return &(*series = cells_of(series->w2)[after]);
}

cell* put(cell* series, cell* key, cell* value, bool case_) {
    cell k = *key;
    // The key is one value: a block key is looked for as a block, not as its cells.
    detail::hit h = detail::locate(series, &k, nullptr, true, case_, false, nullptr, false, false, false);
    uint32_t total = total_of(series);
    if (h.found && h.pos + 1 < total) {
        cell* slot = cells_of(series->w2) + h.pos + 1;
        if (equal_cells(slot, value, 12)) return value;
        owner::tell_before(series, words::loaded.put, value, int32_t(h.pos + 1), 1);
        cells_of(series->w2)[h.pos + 1] = *value; // re-derived: the owner's hook may allocate
        series::detail::hash_rewritten(series, h.pos + 1, 1);
        owner::tell(series, words::loaded.put_ed, value, int32_t(h.pos + 1), 1);
        return value;
    }
    owner::tell_before(series, words::loaded.put, value, int32_t(total), h.found ? 1 : 2);
    if (!h.found) append_value(series, &k);
    append_value(series, value);
    owner::tell(series, words::loaded.put_ed, value, int32_t(total), h.found ? 1 : 2);
    return value;
}

// }==

} // namespace zyl::block
