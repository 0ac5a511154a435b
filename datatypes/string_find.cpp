// datatypes/string_find.cpp: string! find and select.
//
// A search looks for a needle at candidate positions of a range of the series: forward from
// the index, or backward (/last from the end of the range, /reverse from just before the
// index), in steps of the /skip size. A text needle matches at a candidate when its units
// follow there (backward: when they end there); a character or a bitset matches one unit.
#include <algorithm>

#include "datatypes/core.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/error.h"

namespace zyl::string {

// {== Internal functions

namespace {

enum class needle_kind { unit, bitset, text };

struct needle {
    needle_kind k;
    uint32_t cp;        // unit: the code point (folded unless case-sensitive)
    const cell* value;  // bitset or text: the value searched for
    uint32_t length;    // units the needle covers (1 for a unit or a bitset)
};

// What was found: [pos] the absolute position of the match, [length] the units it covers.
struct hit {
    bool found;
    uint32_t pos;
    uint32_t length;
};

struct search_options {
    bool case_sensitive;
    bool backward;
    bool match;
    bool aligned; // backward records start at the lower bound (/last)
    uint32_t step;
};

inline uint32_t fold(uint32_t c, bool case_sensitive) { return case_sensitive ? c : unicode::to_upper(c); }

// Whether the [nd] text's units follow at position [pos] of the haystack [h] of [hu].
bool text_at(const uint8_t* h, uint32_t hu, uint32_t pos, const needle& nd, bool cs) {
    series_buffer* nb = memory::buffer_of(nd.value->w2);
    uint32_t nu = unit_of(nb);
    const uint8_t* np = nb->head + (uint64_t(nd.value->w1) << shift_of(nu));
    const uint8_t* hp = h + (uint64_t(pos) << shift_of(hu));
    for (uint32_t i = 0; i < nd.length; i++) {
        uint32_t a = get_char(hp + (uint64_t(i) << shift_of(hu)), hu);
        uint32_t b = get_char(np + (uint64_t(i) << shift_of(nu)), nu);
        if (a != b && fold(a, cs) != fold(b, cs)) return false;
    }
    return true;
}

// Whether [nd] matches at position [pos] of [h].
bool match_at(const uint8_t* h, uint32_t hu, uint32_t pos, const needle& nd, bool cs) {
    if (nd.k == needle_kind::text) return text_at(h, hu, pos, nd, cs);
    uint32_t c = get_char(h + (uint64_t(pos) << shift_of(hu)), hu);
    if (nd.k == needle_kind::bitset) return bitset_has(nd.value, c);
    return fold(c, cs) == nd.cp;
}

// Searches [nd] among the units [lo, hi) of [series].
hit scan(const cell* series, uint32_t lo, uint32_t hi, const needle& nd, const search_options& o) {
    series_buffer* b = memory::buffer_of(series->w2);
    uint32_t hu = unit_of(b);
    uint32_t m = nd.length;
    if (m == 0 || hi - lo < m) return {false, 0, 0};
    if (!o.backward) {
        for (uint64_t p = lo; p + m <= hi; p += o.step) {
            if (match_at(b->head, hu, uint32_t(p), nd, o.case_sensitive)) return {true, uint32_t(p), m};
            if (o.match) break;
        }
        return {false, 0, 0};
    }
    // Backward: the needle ends at the candidate, the last unit first. /last keeps records
    // of the /skip size aligned on the index, /reverse counts them back from it.
    int64_t first = int64_t(hi) - m;
    if (o.aligned) first = int64_t(lo) + (int64_t(hi) - lo - m) / o.step * o.step;
    for (int64_t p = first; p >= int64_t(lo); p -= o.step) {
        if (match_at(b->head, hu, uint32_t(p), nd, o.case_sensitive)) return {true, uint32_t(p), m};
        if (o.match) break;
    }
    return {false, 0, 0};
}

// Prepares the needle for [value] searched in [series]; a value that is none of the known
// kinds is formed into a new string pushed on the stack ([pushed] is then set).
needle make_needle(const cell* series, const cell* value, bool cs, bool& pushed) {
    uint8_t t = value->type();
    pushed = false;
    if (t == T_char_) return {needle_kind::unit, fold(value->w2, cs), value, 1};
    if (t == T_bitset) return {needle_kind::bitset, 0, value, 1};
    if ((t == T_integer) && series->type() == T_binary) return {needle_kind::unit, value->w2, value, 1};
    if (t == T_binary && series->type() != T_binary) error::raise(error::cat_script, error::script_invalid_arg, value);
    if (is_text_type(t) && t != T_tag) return {needle_kind::text, 0, value, length_of(value)};
    if (t == T_binary) return {needle_kind::text, 0, value, length_of(value)};
    cell v = *value;
    cell* formed = push_new(16);
    pushed = true;
    actions::form_typed(&v, formed, nullptr, INT32_MAX);
    return {needle_kind::text, 0, formed, length_of(formed)};
}

// find and select: where [value] is in [series] under the refinements.
hit locate(cell* series, const cell* value, const cell* part, bool case_, bool same, bool any, const cell* with,
           const cell* skip, bool last, bool reverse, bool match) {
    uint32_t abs = rs_abs_length_q(series);
    uint32_t idx = std::min(series->w1, abs);
    if (abs == 0 || (!reverse && idx >= abs) || (reverse && match)) return {false, 0, 0};
    if (any || with) error::raise(error::cat_internal, error::internal_not_done);
    int32_t step = skip ? detail::int_of(skip) : 1;
    if (step < 1) error::raise(error::cat_script, error::script_out_of_range, skip);
    uint32_t room = reverse ? idx : abs - idx;
    uint32_t count = room;
    if (part) {
        int64_t n = detail::part_of(series, part);
        if (n < 1) return {false, 0, 0};
        count = uint32_t(std::min<int64_t>(n, room));
    }
    // Bytes are not letters: a binary is searched exactly.
    bool exact = case_ || same || series->type() == T_binary;
    search_options o{exact, last || reverse, match, last && !reverse, uint32_t(step)};
    bool pushed;
    needle nd = make_needle(series, value, o.case_sensitive, pushed);
    hit h = reverse ? scan(series, idx - count, idx, nd, o) : scan(series, idx, idx + count, nd, o);
    if (pushed) stack::pop(1);
    return h;
}

} // namespace

// }==
// {== Action entries

cell* find(cell* series, cell* value, const cell* part, bool, bool case_, bool same, bool any, const cell* with,
           const cell* skip, bool last, bool reverse, bool tail, bool match) {
    hit h = locate(series, value, part, case_, same, any, with, skip, last, reverse, match);
    if (!h.found) return &(*series = none_value);
    series->w1 = tail ? h.pos + h.length : h.pos;
    return series;
}

cell* select(cell* series, cell* value, const cell* part, bool, bool case_, bool same, bool any, const cell* with,
             const cell* skip, bool last, bool reverse) {
    hit h = locate(series, value, part, case_, same, any, with, skip, last, reverse, false);
    uint32_t after = h.pos + h.length;
    if (!h.found || after >= rs_abs_length_q(series)) return &(*series = none_value);
    uint32_t c = rs_abs_char_at(series, after);
    *series = series->type() == T_binary ? cell{T_integer, 0, c, 0} : cell{T_char_, 0, c, 0};
    return series;
}

// }==

} // namespace zyl::string
