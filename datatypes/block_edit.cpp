// datatypes/block_edit.cpp: block! append and insert (one entry), change, swap, trim, take and
// copy, and the deep copies behind copy/deep, copy/types, take/deep and block::clone.
#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::block {

// {== Internal functions

namespace {

constexpr uint64_t CELL_BYTES = sizeof(cell);

inline uint32_t total_of(const cell* blk) { return static_cast<uint32_t>(series::length(blk->w2)); }

[[noreturn]] void no_memory() { error::raise(error::cat_internal, error::internal_no_memory); }
[[noreturn]] void no_cycle() { error::raise(error::cat_internal, error::internal_no_cycle); }

// What an insertion writes: [count] cells from absolute [from] of [src]'s node, or the one
// cell [src] itself when it is not spread.
struct items {
    cell src;
    bool spread;
    uint32_t from;
    uint32_t count;
};

// The items of [value]: the cells of an any-block value from its index (at most [part] of
// them when [part] >= 0) unless [only], else the value itself.
items items_of(const cell* value, int32_t part, bool only) {
    items it{*value, !only && series::is_any_block(value->type()), 0, 1};
    if (!it.spread) return it;
    uint32_t total = total_of(value);
    it.from = std::min(value->w1, total);
    it.count = total - it.from;
    if (part >= 0 && static_cast<uint32_t>(part) < it.count) it.count = static_cast<uint32_t>(part);
    return it;
}

// When the items lie in the buffer that is about to shift ([n]), copies them into a new block
// pushed on the stack first; answers whether it pushed.
bool detach(items& it, node_id n) {
    if (!it.spread || it.src.w2 != n) return false;
    cell* tmp = stack::push(&none_value);
    *tmp = cell{T_block, 0, series::copy_part(n, it.from, it.count), 0};
    it.src = *tmp;
    it.from = 0;
    return true;
}

// The total of [count] items written [dup] times into a block of [total] cells; raises
// no-memory when it cannot be held.
uint32_t checked_total(uint32_t count, int32_t dup, uint32_t total) {
    uint64_t n = uint64_t(count) * uint64_t(dup);
    if (n > UINT32_MAX || (uint64_t(total) + n) * CELL_BYTES > MAX_BUFFER_BYTES) no_memory();
    return static_cast<uint32_t>(n);
}

// Makes room in [n] for [bytes] more than it uses: the needed size, doubled when [dup] is
// below 5. The items' source is kept alive while the buffer grows.
series_buffer* reserve(node_id n, uint64_t bytes, int32_t dup, items& it) {
    series_buffer* b = memory::buffer_of(n);
    uint64_t need = b->used_bytes() + bytes;
    if (uint64_t(b->end() - b->head) >= need) return b;
    collector::keep k_src(&it.src);
    return series::expand(n, dup < 5 ? need * 2 : need);
}

// Writes the items at cell [at] of [n], [dup] times.
void write_items(node_id n, uint32_t at, const items& it, int32_t dup) {
    cell* dst = cells_of(n) + at;
    if (it.spread) std::memcpy(dst, cells_of(it.src.w2) + it.from, it.count * CELL_BYTES);
    else *dst = it.src;
    if (dup > 1) memory::repeat_fill(reinterpret_cast<uint8_t*>(dst), it.count * CELL_BYTES, uint64_t(dup));
}

// Whether [v] is a series that a deep copy copies.
bool is_deep_series(uint8_t t) {
    return series::is_any_block(t) || string::is_text_type(t) || t == T_binary || t == T_vector;
}

// Whether [t] is a kind copy/types may copy and the datatype or typeset [types] names it.
bool wanted(uint8_t t, const cell* types) {
    bool kind = is_deep_series(t) || t == T_bitset || t == T_object || t == T_error || t == T_map;
    if (!kind) return false;
    return types->type() == T_datatype ? types->w1 == t : error::typeset_has(types, t);
}

// Replaces the value in stack cell [v] by its deep copy.
void copy_value_deep(cell* v) {
    uint8_t t = v->type();
    if (series::is_any_block(t)) {
        if (cycles::find(v->w2)) no_cycle();
        copy(v, nullptr, true, nullptr);
    } else if (is_deep_series(t)) {
        series::copy(v, nullptr, false, nullptr);
    } else {
        actions::copy_typed(v, nullptr, true, nullptr);
    }
}

} // namespace

namespace detail {

void deep_copy_cells(node_id n, uint32_t from, uint32_t to, const cell* types) {
    for (uint32_t i = from; i < to; i++) {
        const cell* c = cells_of(n) + i;
        if (types ? !wanted(c->type(), types) : !is_deep_series(c->type())) continue;
        cell* v = stack::push(c); // rooted while the copy is made
        uint32_t header = v->header;
        copy_value_deep(v);
        v->header = (v->header & CELL_TYPE_MASK) | (header & ~CELL_TYPE_MASK); // keeps the new-line mark
        cells_of(n)[i] = *v; // re-derived: the copy may have moved the buffer
        stack::pop(1);
    }
}

} // namespace detail

void copy_deep_of_types(const cell* blk, uint32_t from, uint32_t to, const cell* types) {
    detail::deep_copy_cells(blk->w2, from, std::min(to, total_of(blk)), types);
}

cell* clone(const cell* blk, uint32_t end, bool deep, bool all_kinds) {
    cell b = *blk;
    uint32_t total = total_of(&b);
    uint32_t from = std::min(b.w1, total);
    end = std::min(end, total);
    uint32_t count = end > from ? end - from : 0;
    cell* out = stack::push(&none_value);
    node_id n = count ? series::copy_part(b.w2, from, count) : series::alloc_cells(1);
    *out = cell{T_block, 0, n, 0};
    if (!deep) return out;
    cycles::entry walking(b.w2);
    for (uint32_t i = 0; i < count; i++) {
        cell c = cells_of(n)[i];
        uint8_t t = c.type();
        bool nested = t == T_block || (all_kinds && (t == T_paren || t == T_path || t == T_lit_path ||
                                                     t == T_set_path || t == T_get_path));
        if (!nested) continue;
        if (cycles::find(c.w2)) no_cycle();
        cell* inner = clone(&c, UINT32_MAX, true, all_kinds); // [c]'s node is held by [n]
        inner->header = c.header;
        cells_of(n)[i] = *inner;
        stack::pop(1);
    }
    return out;
}

// }==
// {== Action entries

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append) {
    items it = items_of(value, part, only);
    uint32_t total = total_of(series);
    if (series->w1 > total) series->w1 = total;
    uint32_t count = checked_total(it.count, dup, total);
    uint32_t pos = is_append ? total : series->w1;
    if (count == 0) {
        if (is_append) series->w1 = 0;
        return series;
    }
    node_id n = series->w2;
    owner::tell_before(series, is_append ? words::loaded.append : words::global.insert,
        value, int32_t(pos), int32_t(count));
    // Appending reads its items after the growth, from the buffer's new place.
    bool pushed = !is_append && detach(it, n);
    series_buffer* b = reserve(n, uint64_t(count) * CELL_BYTES, dup, it);
    uint8_t* at = b->head + pos * CELL_BYTES;
    std::memmove(at + count * CELL_BYTES, at, static_cast<size_t>(b->tail - at));
    write_items(n, pos, it, dup);
    memory::buffer_of(n)->tail += count * CELL_BYTES;
    series::detail::hash_inserted(series, pos, count);
    if (pushed) stack::pop(1);
    owner::tell(series, is_append ? words::loaded.appended : words::loaded.inserted,
        value, int32_t(pos), int32_t(count));
    series->w1 = is_append ? 0 : std::min(pos + count, total_of(series));
    return series;
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    items it = items_of(value, -1, only);
    uint32_t total = total_of(series);
    if (series->w1 > total) series->w1 = total;
    uint32_t pos = series->w1, avail = total - pos;
    uint32_t count = checked_total(it.count, dup, total);
    uint32_t replaced = std::min<uint32_t>(part >= 0 ? static_cast<uint32_t>(part) : count, avail);
    node_id n = series->w2;
    owner::tell_before(series, words::loaded.change, value, int32_t(pos), int32_t(replaced));
    bool pushed = detach(it, n);
    series_buffer* b = memory::buffer_of(n);
    if (count > replaced) b = reserve(n, uint64_t(count - replaced) * CELL_BYTES, dup, it);
    uint8_t* at = b->head + pos * CELL_BYTES;
    uint8_t* rest = at + replaced * CELL_BYTES;
    std::memmove(at + count * CELL_BYTES, rest, static_cast<size_t>(b->tail - rest));
    b->tail = b->tail - replaced * CELL_BYTES + count * CELL_BYTES;
    if (count) write_items(n, pos, it, dup);
    if (node_id t = series::detail::table_of(series)) hashtable::clear_and_size(t, 0);
    if (pushed) stack::pop(1);
    owner::tell(series, words::loaded.changed, value, int32_t(pos), int32_t(count));
    series->w1 = std::min(pos + count, total_of(series));
    return series;
}

cell* swap(cell* a, cell* b) {
    if (!series::is_any_block(b->type())) error::raise(error::cat_script, error::script_invalid_arg, b);
    if (rs_tail_q(a) || rs_tail_q(b)) return a;
    owner::tell_before(a, words::loaded.swap, b, int32_t(a->w1), 1);
    owner::tell_before(b, words::loaded.swap, a, int32_t(b->w1), 1);
    std::swap(cells_of(a->w2)[a->w1], cells_of(b->w2)[b->w1]);
    if (a->w2 == b->w2) {
        series::detail::hash_swapped(a, a->w1, b->w1);
    } else {
        series::detail::hash_rewritten(a, a->w1, 1);
        series::detail::hash_rewritten(b, b->w1, 1);
    }
    owner::tell(a, words::loaded.swaped, b, int32_t(a->w1), 1);
    owner::tell(b, words::loaded.swaped, a, int32_t(b->w1), 1);
    return a;
}

cell* trim(cell* series, bool, bool, bool, bool, bool, const cell*) {
    uint32_t total = total_of(series);
    if (series->w1 >= total) return series;
    owner::tell_before(series, words::loaded.trim,
        nullptr, int32_t(series->w1), int32_t(total - series->w1));
    series_buffer* b = memory::buffer_of(series->w2);
    cell* c = reinterpret_cast<cell*>(b->head);
    uint32_t out = series->w1;
    for (uint32_t i = series->w1; i < total; i++)
        if (c[i].type() != T_none) c[out++] = c[i];
    b->tail = b->head + out * CELL_BYTES;
    if (node_id t = series::detail::table_of(series); t && out < total) hashtable::clear_and_size(t, 0);
    owner::tell(series, words::loaded.trimmed, nullptr, int32_t(series->w1), int32_t(total - out));
    return series;
}

cell* take(cell* series, const cell* part, bool deep, bool last) {
    node_id source = series->w2;
    series::take(series, part, false, last);
    if (!deep || series->type() == T_none) return series;
    if (part) {
        cycles::entry walking(source);
        detail::deep_copy_cells(series->w2, 0, total_of(series), nullptr);
    } else if (is_deep_series(series->type())) {
        copy_value_deep(series);
    }
    return series;
}

cell* copy(cell* series, const cell* part, bool deep, const cell* types) {
    node_id source = series->w2;
    series::copy(series, part, false, nullptr);
    if (!deep && !types) return series;
    // The source is registered, so that a nested block holding it raises no-cycle.
    cycles::entry walking(source);
    detail::deep_copy_cells(series->w2, 0, total_of(series), types);
    return series;
}

// }==

} // namespace zyl::block
