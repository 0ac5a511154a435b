// datatypes/vector_sort.cpp: vector! sort. Elements compare as numbers (NaNs last), alone or
// in records of /skip elements, by one element of each (/compare k) or by all (/all), or
// through a comparator function.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/sort_call.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::vector {

// {== Internal functions

namespace {

inline bool is_float_type(uint32_t t) { return t == T_float_ || t == T_percent; }

template <typename T> T read(const uint8_t* p, uint32_t w, bool is_char) {
    if constexpr (std::is_same_v<T, double>) return get_float(p, w);
    else return get_int(p, w, is_char);
}

// -1, 0 or 1, a NaN after every number and equal to another NaN, so the order is total.
template <typename T> int order(T a, T b) {
    if constexpr (std::is_same_v<T, double>) {
        bool na = std::isnan(a), nb = std::isnan(b);
        if (na || nb) return int(na) - int(nb);
    }
    return (a > b) - (a < b);
}

// Sorts [count] single elements at [base] in place.
template <typename T> void sort_elements(uint8_t* base, uint32_t w, uint32_t count, bool is_char, bool reverse) {
    std::vector<T> xs(count);
    for (uint32_t i = 0; i < count; i++) xs[i] = read<T>(base + uint64_t(i) * w, w, is_char);
    std::stable_sort(xs.begin(), xs.end(), [reverse](T a, T b) { return reverse ? order(b, a) < 0 : order(a, b) < 0; });
    for (uint32_t i = 0; i < count; i++) {
        uint8_t* p = base + uint64_t(i) * w;
        if constexpr (std::is_same_v<T, double>) {
            if (w == 4) {
                auto f = static_cast<float>(xs[i]);
                std::memcpy(p, &f, 4);
            } else {
                std::memcpy(p, &xs[i], 8);
            }
        } else {
            std::memcpy(p, &xs[i], w); // the low bytes: little-endian
        }
    }
}

// Orders the records of [raw] (elements of [w] bytes, records of [size]) by the elements
// from [offset], [units] of them.
template <typename T>
void order_records(std::vector<uint32_t>& out, const std::vector<uint8_t>& raw, uint32_t w, bool is_char, uint32_t size,
                   uint32_t offset, uint32_t units, bool reverse) {
    uint32_t n = static_cast<uint32_t>(raw.size() / w);
    std::vector<T> xs(n);
    for (uint32_t i = 0; i < n; i++) xs[i] = read<T>(raw.data() + uint64_t(i) * w, w, is_char);
    out.resize(n / size);
    for (uint32_t r = 0; r < out.size(); r++) out[r] = r;
    std::stable_sort(out.begin(), out.end(), [&](uint32_t a, uint32_t b) {
        for (uint32_t i = 0; i < units; i++) {
            int c = order(xs[a * size + offset + i], xs[b * size + offset + i]);
            if (c) return reverse ? c > 0 : c < 0;
        }
        return false;
    });
}

// The comparator's arguments for records of [size] elements held in [raw]: two elements, or
// with /all two vectors holding the records.
struct record_arguments final : sort_call::arguments {
    const std::vector<uint8_t>* raw;
    uint32_t size, width, type;

    const uint8_t* record(uint32_t r) const { return raw->data() + uint64_t(r) * size * width; }
    cell first(uint32_t r) override { return detail::element_at(record(r), width, type); }
    void fill(const cell* scratch, uint32_t r) override {
        // The comparator may have emptied the scratch vector; it never shrinks its buffer.
        series_buffer* b = memory::buffer_of(scratch->w2);
        std::memcpy(b->head, record(r), size_t(size) * width);
        b->tail = b->head + size_t(size) * width;
    }
    int32_t order(const cell* answer) override { return sort_call::string_order(answer); }
};

// Sorts the [len] elements of [series] from [start] as records of [size]: the elements are
// copied out, the records ordered, and written back in that order. A comparator that leaves
// with an error or an exit leaves the vector as it was; one that cut it short leaves it so.
// Answers false when an exit out of the comparator is pending.
bool sort_records(cell* series, const cell* fn, uint32_t start, uint32_t len, uint32_t size, uint32_t offset, bool all,
                  bool reverse, bool stable) {
    uint32_t w = memory::buffer_of(series->w2)->unit();
    auto type = series->w3;
    std::vector<uint8_t> raw(size_t(len) * w);
    std::memcpy(raw.data(), memory::buffer_of(series->w2)->head + uint64_t(start) * w, raw.size());
    std::vector<uint32_t> order;
    if (fn) {
        cell* saved = es.top;
        record_arguments args;
        args.raw = &raw;
        args.size = size;
        args.width = w;
        args.type = type;
        args.swap = !reverse;
        if (all) {
            args.x_scratch = make_at(stack::push(&none_value), size, static_cast<uint8_t>(type), w);
            args.y_scratch = make_at(stack::push(&none_value), size, static_cast<uint8_t>(type), w);
        }
        if (!sort_call::sort(order, len / size, fn, args, stable)) return false;
        es.top = saved;
    } else if (is_float_type(type)) {
        order_records<double>(order, raw, w, false, size, offset, all ? size : 1, reverse);
    } else {
        order_records<int64_t>(order, raw, w, type == T_char_, size, offset, all ? size : 1, reverse);
    }
    series_buffer* b = memory::buffer_of(series->w2);
    if (uint64_t(b->tail - b->head) < (uint64_t(start) + len) * w) return true;
    for (uint32_t r = 0; r < order.size(); r++)
        std::memcpy(b->head + (uint64_t(start) + uint64_t(r) * size) * w, raw.data() + uint64_t(order[r]) * size * w,
                    size_t(size) * w);
    return true;
}

} // namespace

// }==
// {== Action entry

namespace detail {

cell* sort(cell* series, bool, const cell* skip, const cell* compare, const cell* part, bool all, bool reverse,
           bool stable) {
    uint32_t total = static_cast<uint32_t>(series::length(series->w2));
    uint32_t start = std::min(series->w1, total);
    uint32_t len = total - start;
    if (part) {
        int64_t n = series::detail::part_count(series, part);
        if (n < 0) {
            // A negative count sorts that many elements before the index.
            auto back = static_cast<uint32_t>(std::min<int64_t>(-n, start));
            start -= back;
            series->w1 = start;
            n = back;
        }
        len = static_cast<uint32_t>(std::min<int64_t>(n, total - start));
    }
    if (all && !skip) error::raise(error::cat_script, error::script_bad_refines);
    if (len == 0) return series;
    uint32_t size = string::detail::sort_record_size(skip, all, len);
    uint32_t offset = string::detail::sort_compare_offset(compare, skip, all, size);
    const cell* fn = compare && sort_call::callable_q(compare->type()) ? compare : nullptr;
    owner::tell_before(series, words::loaded.sort, nullptr, int32_t(start), int32_t(len));
    if (size == 1 && !fn) {
        series_buffer* b = memory::buffer_of(series->w2);
        uint32_t w = b->unit();
        uint8_t* base = b->head + uint64_t(start) * w;
        if (is_float_type(series->w3)) sort_elements<double>(base, w, len, false, reverse);
        else sort_elements<int64_t>(base, w, len, series->w3 == T_char_, reverse);
    } else if (!sort_records(series, fn, start, len, size, offset, all, reverse, stable)) {
        return series; // the comparator's exit goes on from here
    }
    owner::tell(series, words::loaded.sorted, nullptr, int32_t(start), int32_t(len));
    return series;
}

} // namespace detail

// }==

} // namespace zyl::vector
