// datatypes/block_sort.cpp: block! sort, in place over records of cells, and the set
// operations on blocks and hash! (unique, union, intersect, exclude, difference).
#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/sort_call.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::block {

// {== Internal functions

namespace {

inline uint32_t total_of(const cell* blk) { return static_cast<uint32_t>(series::length(blk->w2)); }

// What the record comparator needs; handed to the sorts as their first context word.
struct sort_context {
    uint32_t offset; // cell compared first, from the record's start
    uint32_t units;  // cells compared: the whole record with /all, else 1
    int32_t op;      // 7, or 8 with /case
    bool reverse;    // the operands exchanged
};

// The order of two cells: their compare entry, or the difference of their type ids when
// that cannot order them.
inline int32_t order(const cell* a, const cell* b, int32_t op) {
    if (a->type() == T_integer && b->type() == T_integer) {
        int32_t x = integer::get(a), y = integer::get(b);
        return (x > y) - (x < y);
    }
    int32_t r = compare_cells(a, b, op);
    return r == -2 ? int32_t(a->type()) - int32_t(b->type()) : r;
}

int32_t compare_records(const void* a, const void* b, uintptr_t ctx, uintptr_t) {
    const auto& c = *reinterpret_cast<const sort_context*>(ctx);
    const cell* x = static_cast<const cell*>(a) + c.offset;
    const cell* y = static_cast<const cell*>(b) + c.offset;
    if (c.reverse) std::swap(x, y);
    for (uint32_t i = 0; i < c.units; i++)
        if (int32_t r = order(x + i, y + i, c.op)) return r;
    return 0;
}

// The plain case: one cell per record, compared by its first cell, ascending.
int32_t compare_cells_up(const void* a, const void* b, uintptr_t ctx, uintptr_t) {
    return order(static_cast<const cell*>(a), static_cast<const cell*>(b), static_cast<int32_t>(ctx));
}

[[noreturn]] void bad_refines() { error::raise(error::cat_script, error::script_bad_refines); }

// The record size of /skip [skip] over [length] cells (1 without it).
uint32_t record_size(const cell* skip, uint32_t length) {
    if (!skip) return 1;
    if (skip->type() != T_integer) string::detail::invalid_refine(words::refs.skip, skip);
    int32_t n = integer::get(skip);
    if (n < 1 || length % uint32_t(n) != 0) string::detail::invalid_refine(words::refs.skip, skip);
    return uint32_t(n);
}

// The 0-based cell that records compare by, from /compare [cmp].
uint32_t compare_offset(const cell* cmp, const cell* skip, bool all, uint32_t size) {
    if (!cmp) return 0;
    uint8_t t = cmp->type();
    if (t == T_integer) {
        if (!skip || all) bad_refines();
        int32_t k = integer::get(cmp);
        if (k < 1 || uint32_t(k) > size) error::raise(error::cat_script, error::script_out_of_range, cmp);
        return uint32_t(k - 1);
    }
    if (sort_call::callable_q(t)) return 0;
    string::detail::invalid_refine(words::refs.compare, cmp);
}

// The comparator's arguments for records of [size] cells held in block [records]: their first
// cells, or with /all two blocks holding the whole records; /reverse exchanges the two.
struct record_arguments final : sort_call::arguments {
    const cell* records;
    uint32_t size;

    cell first(uint32_t r) override { return cells_of(records->w2)[r * size]; }
    void fill(const cell* scratch, uint32_t r) override {
        cell b = *scratch;
        rs_clear(&b);
        for (uint32_t j = 0; j < size; j++) {
            cell c = cells_of(records->w2)[r * size + j]; // re-read: appending may move buffers
            series::append_value(scratch->w2, c);
        }
    }
    int32_t order(const cell* answer) override { return sort_call::block_order(answer); }
};

// sort/compare with a function over the [len] cells of [series] from [start], in records of
// [size]. The records are sorted as a copy and written back once the sort is done, so an error
// or an exit in the comparator leaves the series as it was; a series that the comparator cut
// short is left as the comparator made it.
void sort_by_function(cell* series, const cell* fn, uint32_t start, uint32_t len, uint32_t size, bool all,
                      bool reverse, bool stable) {
    cell* saved = es.top;
    cell* records = push_new(static_cast<int32_t>(len));
    for (uint32_t i = 0; i < len; i++) {
        cell c = cells_of(series->w2)[start + i];
        series::append_value(records->w2, c);
    }
    record_arguments args;
    args.records = records;
    args.size = size;
    args.swap = reverse;
    if (all) {
        args.x_scratch = push_new(static_cast<int32_t>(size));
        args.y_scratch = push_new(static_cast<int32_t>(size));
    }
    std::vector<uint32_t> order;
    if (!sort_call::sort(order, len / size, fn, args, stable)) return; // the exit goes on from here
    if (total_of(series) >= start + len) {
        cell* to = cells_of(series->w2) + start;
        const cell* from = cells_of(records->w2);
        for (uint32_t i = 0; i < len; i++) to[i] = from[order[i / size] * size + i % size];
    }
    es.top = saved;
}

// The range sort works on: [start] and [length] from the /part argument [part] of [series],
// moving the index of [series] back for a negative count.
void sort_range(cell* series, const cell* part, uint32_t& start, uint32_t& length) {
    uint32_t total = total_of(series);
    start = std::min(series->w1, total);
    int64_t n = total - start;
    if (part && part->type() == T_pair) {
        int64_t x = static_cast<int32_t>(part->w2), y = static_cast<int32_t>(part->w3);
        start = static_cast<uint32_t>(std::clamp<int64_t>(x >= 1 ? start + x - 1 : start + x, 0, total));
        n = std::max<int64_t>(y - x, 0);
    } else if (part) {
        n = series::detail::part_count(series, part);
        if (n < 0) {
            uint32_t back = static_cast<uint32_t>(std::min<int64_t>(-n, start));
            start -= back;
            series->w1 = start;
            n = back;
        }
    }
    length = static_cast<uint32_t>(std::min<int64_t>(n, total - start));
}

// The membership tests of a set operation: a series and the hash table over it.
struct member_set {
    cell* series; // a stack cell typed hash!, which keeps the table alive
    uint32_t size; // record size
    int32_t op;    // 0, or 2 with /case
};

// A stack cell over the series of [v] from its index with a hash table of its cells: [v]'s
// own when it is a hash!.
cell* push_indexed(const cell* v) {
    cell* c = stack::push(v);
    if (c->type() == T_hash) return c;
    cells::set_type(c, T_block);
    node_id t = hashtable::init(rs_length_q(c), c, hashtable::KIND_HASH, 1);
    c->header = T_hash;
    c->w3 = t;
    return c;
}

// Whether a record of [m] starts with a value equal to [key]. Nested any-block keys hash by
// identity, so they are searched cell by cell.
bool has_key(const member_set& m, const cell* key) {
    const cell* s = m.series;
    if (!series::is_any_block(key->type()))
        return hashtable::find(s->w3, key, static_cast<int32_t>(s->w1), static_cast<int32_t>(m.size), m.op, false,
                               false) != nullptr;
    uint32_t total = total_of(s);
    for (uint32_t i = s->w1; i < total; i += m.size)
        if (equal_cells(cells_of(s->w2) + i, key, m.op)) return true;
    return false;
}

// Appends the record of [size] cells at [pos] of [src] to [out] and indexes its key.
void append_record(cell* out, const cell* src, uint32_t pos, uint32_t size) {
    uint32_t key = total_of(out);
    uint32_t end = std::min(total_of(src), pos + size);
    for (uint32_t j = pos; j < end; j++) {
        cell c = cells_of(src->w2)[j]; // held by [src] while [out] grows
        series::append_value(out->w2, c);
    }
    hashtable::put(out->w3, cells_of(out->w2) + key, nullptr);
}

// One walk of a set operation: the records of [src] that [op] keeps and [out] lacks go to
// [out]. [against] answers membership for intersect, exclude and difference.
void walk(int32_t op, const cell* src, const member_set* against, member_set& out) {
    uint32_t total = total_of(src);
    for (uint32_t i = std::min(src->w1, total); i < total; i += out.size) {
        cell key = cells_of(src->w2)[i];
        if (against && (op == 10) != has_key(*against, &key)) continue;
        if (has_key(out, &key)) continue;
        append_record(out.series, src, i, out.size);
    }
}

} // namespace

// }==
// {== Action entries

cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable) {
    uint32_t start, len;
    sort_range(series, part, start, len);
    if (!skip && all) bad_refines();
    if (len == 0) return series;
    uint32_t size = record_size(skip, len);
    sort_context ctx{compare_offset(compare, skip, all, size), all ? size : 1, case_ ? 8 : 7, reverse};
    owner::tell_before(series, words::loaded.sort, nullptr, int32_t(start), int32_t(len));
    if (compare && sort_call::callable_q(compare->type())) {
        sort_by_function(series, compare, start, len, size, all, reverse, stable);
        if (es.throw_code) return series;
        len = std::min(len, total_of(series) - std::min(start, total_of(series)));
        series::detail::hash_rewritten(series, start, len);
        owner::tell(series, words::loaded.sorted, nullptr, int32_t(start), int32_t(len));
        return series;
    }
    // A word's name text is made at its first comparison, which allocates: made here first,
    // the default comparison allocates nothing, so the buffer stays where it is.
    for (uint32_t i = 0; i < len; i++) {
        const cell* c = cells_of(series->w2) + start + i; // re-read: a name may move buffers
        if (word::any_word_type_q(c->type())) symbol::name_string(c->w2);
    }
    cell* base = cells_of(series->w2) + start;
    bool plain = size == 1 && !reverse;
    sort::compare_fn cmp = plain ? &compare_cells_up : &compare_records;
    uintptr_t word = plain ? static_cast<uintptr_t>(ctx.op) : reinterpret_cast<uintptr_t>(&ctx);
    if (stable) sort::mergesort(base, len / size, size * sizeof(cell), word, 0, cmp);
    else sort::quicksort_start(base, len / size, size * sizeof(cell), word, 0, cmp);
    series::detail::hash_rewritten(series, start, len);
    owner::tell(series, words::loaded.sorted, nullptr, int32_t(start), int32_t(len));
    return series;
}

cell* do_set_op(int32_t op, cell* a, const cell* b, bool case_, const cell* skip) {
    int32_t size = skip ? string::detail::int_of(skip) : 1;
    if (size < 1) string::detail::invalid_refine(words::refs.skip, skip);
    rs_head(a);
    int32_t cmp = case_ ? 2 : 0;
    cell* other = op == 8 ? nullptr : stack::push(b);
    if (other) rs_head(other);
    uint32_t room = rs_length_q(a) + (op == 9 ? rs_length_q(other) : 0);
    cell* result = push_new(static_cast<int32_t>(room));
    node_id table = hashtable::init(room, result, hashtable::KIND_HASH, 1);
    result->header = T_hash; // roots the table with the cells
    result->w3 = table;
    member_set out{result, uint32_t(size), cmp};
    uint32_t base = static_cast<uint32_t>(es.top - es.bottom); // the membership cells go above
    const member_set* in_b = nullptr;
    const member_set* in_a = nullptr;
    member_set mb{nullptr, uint32_t(size), cmp}, ma{nullptr, uint32_t(size), cmp};
    if (op >= 10) {
        mb.series = push_indexed(other);
        in_b = &mb;
    }
    if (op == 12) {
        ma.series = push_indexed(a);
        in_a = &ma;
    }
    walk(op, a, in_b, out);
    if (op == 9 || op == 12) walk(op, other, in_a, out);
    stack::pop(static_cast<uint32_t>(es.top - es.bottom) - base);
    a->w1 = 0;
    a->w2 = result->w2;
    if (a->type() == T_hash) {
        a->w3 = table;
        if (size > 1) hashtable::clear_and_size(table, 0); // it indexed the keys only
    }
    stack::pop(other ? 2 : 1);
    return a;
}

// }==

} // namespace zyl::block
