// runtime/case.cpp: case mapping tables and changing the case of characters and text.
#include "runtime/case.h"

#include <cstring>
#include <iterator>

#include "runtime/unicode.h"
#include "runtime/unicode_text.h"

namespace zyl::unicode {

namespace {

#include "runtime/case_tables.inc"

// Looks [cp] up in the ascending (key, mapping) [pairs] of [count] pairs.
uint32_t find_pair(const uint32_t* pairs, uint32_t count, uint32_t cp) {
    if (cp < pairs[0] || cp > pairs[2 * (count - 1)]) return cp;
    uint32_t lo = 0, hi = count; // the first key not below cp lies in [lo, hi)
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (pairs[2 * mid] < cp) lo = mid + 1;
        else hi = mid;
    }
    return pairs[2 * lo] == cp ? pairs[2 * lo + 1] : cp;
}

// The direct tables with every pair of the lists stored, evaluated by the compiler.
constexpr detail::direct_tables build_direct() {
    detail::direct_tables d{};
    for (uint32_t i = 0; i < std::size(upper_pairs); i += 2) d.map[1][upper_pairs[i]] = upper_pairs[i + 1];
    for (uint32_t i = 0; i < std::size(lower_pairs); i += 2) d.map[0][lower_pairs[i]] = lower_pairs[i + 1];
    return d;
}

constexpr uint32_t pair_count(uint32_t words) { return words / 2; }

// Changes the case of the units from [i] to [end] of a buffer of [Unit] at [head]; stops
// early at a character whose new case needs a wider unit: returns its position, the new
// code point in [pending].
template <uint32_t Unit>
uint64_t change_run(uint8_t* head, uint64_t i, uint64_t end, bool upper, uint32_t& pending) {
    constexpr uint32_t max = Unit == 1 ? 0xFF : Unit == 2 ? 0xFFFF : 0xFFFFFFFF;
    for (; i < end; i++) {
        uint8_t* p = head + i * Unit;
        uint32_t cp = text::get(p, Unit);
        uint32_t m = case_fold(cp, upper);
        if (m == cp) continue;
        if (m > max) {
            pending = m;
            return i;
        }
        text::put(p, Unit, m);
    }
    return end;
}

// Changes the case of [count] characters of text buffer [n] from position [index].
void change_text(node_id n, uint64_t index, uint64_t count, bool upper) {
    uint64_t end = index + count;
    for (uint64_t i = index; i < end;) {
        series_buffer* b = memory::buffer_of(n);
        uint32_t pending = 0;
        uint32_t unit = text::unit_of(b);
        if (unit == 1) i = change_run<1>(b->head, i, end, upper, pending);
        else if (unit == 2) i = change_run<2>(b->head, i, end, upper, pending);
        else i = change_run<4>(b->head, i, end, upper, pending);
        if (i == end) break;
        unit = text::unit_for(pending);
        b = widen_to(n, unit);
        text::put(b->head + i * unit, unit, pending);
        i++;
    }
}

// The count that [part] gives for [value], whose index is clamped and which has [rest]
// characters from it to the tail.
uint64_t part_count(const cell* value, const cell* part, uint64_t rest) {
    int64_t n;
    if (part->type() == T_integer) {
        n = static_cast<int32_t>(part->w2);
    } else if (part->type() == value->type() && part->w2 == value->w2) {
        n = int64_t(part->w1) - int64_t(value->w1);
    } else {
        // "invalid part argument: <value>"; the word part comes with the predefined words.
        error::raise(error::cat_script, error::script_invalid_refine_arg, nullptr, part);
    }
    if (n < 0) return 0;
    return uint64_t(n) < rest ? uint64_t(n) : rest;
}

[[maybe_unused]] bool is_text(uint8_t type) {
    return type == T_string || type == T_file || type == T_url || type == T_tag || type == T_email ||
           type == T_ref;
}

} // namespace

namespace detail {

constexpr direct_tables case_direct = build_direct();

uint32_t fold_astral(uint32_t cp, bool upper) {
    if (upper) return find_pair(upper_astral, pair_count(std::size(upper_astral)), cp);
    return find_pair(lower_astral, pair_count(std::size(lower_astral)), cp);
}

} // namespace detail

uint32_t swap_case(uint32_t cp) {
    uint32_t up = case_fold(cp, true);
    return up != cp ? up : case_fold(cp, false);
}

cell* change_case(cell* value, const cell* part, bool upper) {
    if (value->type() == T_char_) {
        value->w2 = case_fold(value->w2, upper);
        return value;
    }
    ZYL_ASSERT(is_text(value->type()));
    series_buffer* b = memory::buffer_of(value->w2);
    uint64_t length = b->used_bytes() / text::unit_of(b);
    if (value->w1 > length) value->w1 = static_cast<uint32_t>(length);
    uint64_t rest = length - value->w1;
    uint64_t count = part && part->type() != T_none ? part_count(value, part, rest) : rest;
    change_text(value->w2, value->w1, count, upper);
    return value;
}

} // namespace zyl::unicode
