// datatypes/string_sort.cpp: string! sort, in place over records of units, and the set
// operations on texts (unique, union, intersect, exclude, difference).
#include <algorithm>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/core.h"
#include "datatypes/sort_call.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/words.h"

namespace zyl::string {

// {== Internal functions

namespace {

// What the record comparator needs; handed to the sorts as their first context word.
struct sort_context {
    uint32_t offset;  // unit compared first, from the record's start
    uint32_t units;   // units compared: the whole record with /all, else 1
    bool case_;       // compare code points as they are
    bool reverse;     // descending order
};

// Compares two records of [Unit]: the difference of the first unequal pair of code points,
// folded to upper case unless /case. Every width folds alike, so that the order of a text
// does not depend on the width its buffer happens to have.
template <uint32_t Unit> int32_t compare_records(const void* a, const void* b, uintptr_t ctx, uintptr_t) {
    const auto& c = *reinterpret_cast<const sort_context*>(ctx);
    const auto* pa = static_cast<const uint8_t*>(a) + c.offset * Unit;
    const auto* pb = static_cast<const uint8_t*>(b) + c.offset * Unit;
    for (uint32_t i = 0; i < c.units; i++) {
        uint32_t x = get_char(pa + i * Unit, Unit), y = get_char(pb + i * Unit, Unit);
        if (x != y && !c.case_) {
            x = unicode::to_upper(x);
            y = unicode::to_upper(y);
        }
        if (x != y) {
            int32_t d = static_cast<int32_t>(x) - static_cast<int32_t>(y);
            return c.reverse ? -d : d;
        }
    }
    return 0;
}

sort::compare_fn comparator(uint32_t unit) {
    if (unit == 1) return &compare_records<1>;
    if (unit == 2) return &compare_records<2>;
    return &compare_records<4>;
}

[[noreturn]] void bad_refines() { error::raise(error::cat_script, error::script_bad_refines); }

// The comparator's arguments for records of [size] code points held in [units]: (b, a) for
// records a and b, or (a, b) with /reverse; two char! values, or with /all two strings holding
// the records.
struct record_arguments final : sort_call::arguments {
    const std::vector<uint32_t>* units;
    uint32_t size;

    cell first(uint32_t r) override { return char_::make_value((*units)[r * size]); }
    void fill(const cell* scratch, uint32_t r) override {
        truncate(scratch->w2, 0);
        for (uint32_t j = 0; j < size; j++) append_char(scratch->w2, (*units)[r * size + j]);
    }
    int32_t order(const cell* answer) override { return sort_call::string_order(answer); }
};

// sort/compare with a function over the [len] units of [series] from [start], in records of
// [size]. The code points are sorted as a copy and written back once the sort is done, so an
// error or an exit in the comparator leaves the string as it was; a string that the
// comparator cut short is left as the comparator made it.
void sort_by_function(cell* series, const cell* fn, uint32_t start, uint32_t len, uint32_t size, bool all,
                      bool reverse, bool stable) {
    cell* saved = es.top;
    std::vector<uint32_t> units(len);
    for (uint32_t i = 0; i < len; i++) units[i] = rs_abs_char_at(series, start + i);
    record_arguments args;
    args.units = &units;
    args.size = size;
    args.swap = !reverse;
    if (all) {
        args.x_scratch = push_new(size);
        args.y_scratch = push_new(size);
    }
    std::vector<uint32_t> order;
    if (!sort_call::sort(order, len / size, fn, args, stable)) return; // the exit goes on from here
    if (rs_abs_length_q(series) >= start + len) {
        for (uint32_t i = 0; i < len; i++) store_char(series->w2, start + i, units[order[i / size] * size + i % size]);
    }
    es.top = saved;
}

} // namespace

namespace detail {

// The record size of [skip] (1 without it) after the checks against the range [length].
uint32_t sort_record_size(const cell* skip, bool all, uint32_t length) {
    if (!skip) {
        if (all) bad_refines();
        return 1;
    }
    int32_t size = int_of(skip);
    if (size < 1 || length % uint32_t(size) != 0 || length < uint32_t(size))
        invalid_refine(words::refs.skip, skip);
    return uint32_t(size);
}

// The 0-based unit that records compare by, from /compare [cmp].
uint32_t sort_compare_offset(const cell* cmp, const cell* skip, bool all, uint32_t size) {
    if (!cmp) return 0;
    uint8_t t = cmp->type();
    if (t == T_integer) {
        if (!skip || all) bad_refines();
        int32_t k = int_of(cmp);
        if (k < 1 || uint32_t(k) > size) error::raise(error::cat_script, error::script_out_of_range, cmp);
        return uint32_t(k - 1);
    }
    if (sort_call::callable_q(t)) return 0;
    invalid_refine(words::refs.compare, cmp);
}

} // namespace detail

// }==
// {== Action entries

cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable) {
    uint32_t len = rs_length_q(series);
    uint32_t start = series->w1;
    if (part) {
        int64_t n = detail::part_of(series, part);
        if (n < 0) {
            uint32_t back = uint32_t(std::min<int64_t>(-n, start));
            start -= back;
            series->w1 = start;
            n = back;
        }
        len = uint32_t(std::min<int64_t>(n, rs_abs_length_q(series) - start));
    }
    if (!skip && all) bad_refines();
    if (len == 0) return series;
    uint32_t size = detail::sort_record_size(skip, all, len);
    sort_context ctx{detail::sort_compare_offset(compare, skip, all, size), all ? size : 1, case_, reverse};
    owner::tell_before(series, words::loaded.sort, nullptr, int32_t(start), int32_t(len));
    if (compare && sort_call::callable_q(compare->type())) {
        sort_by_function(series, compare, start, len, size, all, reverse, stable);
        if (!es.throw_code) owner::tell(series, words::loaded.sorted, nullptr, int32_t(start), int32_t(len));
        return series;
    }
    series_buffer* b = memory::buffer_of(series->w2);
    uint32_t unit = unit_of(b);
    uint8_t* base = b->head + (uint64_t(start) << shift_of(unit));
    auto ctx_word = reinterpret_cast<uintptr_t>(&ctx);
    // /stable keeps equal records in order with or without /case.
    if (stable) sort::mergesort(base, len / size, size * unit, ctx_word, 0, comparator(unit));
    else sort::quicksort_start(base, len / size, size * unit, ctx_word, 0, comparator(unit));
    owner::tell(series, words::loaded.sorted, nullptr, int32_t(start), int32_t(len));
    return series;
}

cell* do_set_op(int32_t op, cell* a, const cell* b, bool case_, const cell* skip) {
    int32_t size = skip ? detail::int_of(skip) : 1;
    if (size < 1) detail::invalid_refine(words::refs.skip, skip);
    rs_length_q(a);
    uint32_t la = length_of(a), lb = op == 8 ? 0 : length_of(b);
    bool both = op == 9 || op == 12; // union and difference walk the second argument too
    cell* out = push_new(la + (both ? lb : 0)); // rooted while it is built
    if (la + (both ? lb : 0) > 0) {
        const cell* first = a;
        const cell* other = b;
        for (int pass = 0; pass < (both ? 2 : 1); pass++) {
            uint32_t n = length_of(first);
            for (uint32_t i = 0; i < n; i += uint32_t(size)) {
                uint32_t key = rs_abs_char_at(first, first->w1 + i);
                bool keep = op == 8 || op == 9 || (op == 10) == contains_char_q(other, key, size, case_);
                if (!keep || contains_char_q(out, key, size, case_)) continue;
                uint32_t end = std::min(n, i + uint32_t(size));
                for (uint32_t j = i; j < end; j++) append_char(out->w2, rs_abs_char_at(first, first->w1 + j));
            }
            std::swap(first, other);
        }
    }
    a->w1 = 0;
    a->w2 = out->w2;
    stack::pop(1);
    return a;
}

// }==

} // namespace zyl::string
