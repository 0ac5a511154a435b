// datatypes/string_edit.cpp: string! append, insert, change and trim.
//
// Text, a tag! (with its angle brackets) or a char! is copied in after sizing the buffer once
// for the whole insertion, /dup included, and widening it at most once. Any other value is
// formed at the tail and, for insert and change, rotated into place.
#include <algorithm>
#include <memory>

#include "datatypes/core.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::string {

// {== Internal functions

namespace {

// Longest text a string may hold: indexes are 32-bit.
constexpr uint64_t MAX_UNITS = 0x7FFFFFFF;

enum class kind { text, tag, ch, formed };

// What a value adds to a text: [count] units (one copy) of width [unit].
struct piece {
    kind k;
    uint32_t count;
    uint32_t unit;
};

piece measure(const cell* value, int32_t part) {
    uint8_t t = value->type();
    if (t == T_char_) return {kind::ch, 1, unit_for(value->w2)};
    if (!is_text_type(t)) return {kind::formed, 0, 1};
    uint32_t unit = unit_of(memory::buffer_of(value->w2));
    uint64_t n = length_of(value) + (t == T_tag ? 2 : 0);
    if (part >= 0) n = std::min<uint64_t>(n, uint64_t(part));
    return {t == T_tag ? kind::tag : kind::text, uint32_t(n), unit};
}

[[noreturn]] void too_big() { error::raise(error::cat_internal, error::internal_no_memory); }

// Sizes [n] once for [length] units of at least [unit]: grows it (doubling the need) at its
// own width, then widens it in place. Returns the final unit.
uint32_t prepare(node_id n, uint64_t length, uint32_t unit) {
    series_buffer* b = memory::buffer_of(n);
    uint32_t cur = unit_of(b);
    uint32_t fin = std::max(cur, unit);
    if (length > MAX_UNITS) too_big();
    uint64_t bytes = (length << shift_of(fin)) + 4; // the widening needs two spare units
    if (uint64_t(b->end() - b->head) < bytes) series::expand(n, bytes * 2);
    if (fin > cur) unicode::widen_to(n, fin);
    return fin;
}

// Moves the units of [n] from [from] to the tail so that they start at [to]; sets the tail.
void shift_rest(node_id n, uint32_t from, uint32_t to) {
    series_buffer* b = memory::buffer_of(n);
    uint32_t sh = shift_of(unit_of(b));
    uint8_t* src = b->head + (uint64_t(from) << sh);
    uint64_t rest = b->tail - src;
    std::memmove(b->head + (uint64_t(to) << sh), src, rest);
    b->tail = b->head + (uint64_t(to) << sh) + rest;
}

// Writes one copy of [p] (text, tag or char [value]) at [at] of [series], whose room is made.
void write_piece(const cell* series, const cell* value, const piece& p, uint32_t at) {
    node_id n = series->w2;
    if (p.k == kind::ch) {
        store_char(n, at, value->w2);
        return;
    }
    if (p.k == kind::text) {
        insert_core(series, value, int32_t(p.count), at, COPY_OVERWRITE);
        return;
    }
    uint32_t budget = p.count; // a tag: "<", its text, ">" while the budget lasts
    store_char(n, at++, '<');
    uint32_t text = std::min(budget - 1, length_of(value));
    insert_core(series, value, int32_t(text), at, COPY_OVERWRITE);
    if (budget - 1 > text) store_char(n, at + text, '>');
}

// Replaces [replace] units at [at] of [series] by [dup] copies of the text piece [value];
// returns the units written.
uint32_t put_piece(cell* series, cell* value, int32_t part, int32_t dup, uint32_t at, uint32_t replace) {
    piece p = measure(value, part);
    if (p.count == 0) {
        remove_part(series, at, replace);
        return 0;
    }
    cell src = *value;
    bool copied = p.k != kind::ch && value->w2 == series->w2;
    if (copied) {
        // The value shares the buffer that is about to shift: copy its text first (rooted on
        // the stack while it is read).
        cell* tmp = push(value);
        uint32_t from = std::min(value->w1, rs_abs_length_q(value));
        tmp->w2 = series::copy_part(value->w2, from, length_of(value));
        tmp->w1 = 0;
        src = *tmp;
    }
    uint64_t total = uint64_t(p.count) * uint64_t(dup);
    uint32_t len = rs_abs_length_q(series);
    uint32_t unit = prepare(series->w2, uint64_t(len) - replace + total, p.unit);
    shift_rest(series->w2, at + replace, static_cast<uint32_t>(at + total));
    write_piece(series, &src, p, at);
    if (dup > 1) {
        uint8_t* start = memory::buffer_of(series->w2)->head + (uint64_t(at) << shift_of(unit));
        memory::repeat_fill(start, uint64_t(p.count) << shift_of(unit), uint64_t(dup));
    }
    if (copied) stack::pop(1);
    return static_cast<uint32_t>(total);
}

// Forms [value] at the tail of [series] [dup] times and rotates it to [at]; returns its units.
uint32_t put_formed(cell* series, const cell* value, int32_t part, bool only, int32_t dup, uint32_t at) {
    uint32_t len = rs_abs_length_q(series);
    uint64_t g = detail::form_at_tail(series, value, part, only);
    if (dup > 1 && g > 0) {
        uint64_t total = g * uint64_t(dup);
        uint32_t unit = prepare(series->w2, len + total, 1);
        series_buffer* b = memory::buffer_of(series->w2);
        memory::repeat_fill(b->head + (uint64_t(len) << shift_of(unit)), g << shift_of(unit), uint64_t(dup));
        b->tail = b->head + ((len + total) << shift_of(unit));
        g = total;
    }
    if (at < len) {
        series_buffer* b = memory::buffer_of(series->w2);
        uint32_t sh = shift_of(unit_of(b));
        std::rotate(b->head + (uint64_t(at) << sh), b->head + (uint64_t(len) << sh), b->tail);
    }
    return static_cast<uint32_t>(g);
}

// append, insert and change: [dup] copies of [value] at [at], over [replace] units (-1: as
// many as are written, for change). Returns the units written.
uint32_t put(cell* series, cell* value, int32_t part, bool only, int32_t dup, uint32_t at, int64_t replace) {
    uint32_t avail = rs_abs_length_q(series) - at;
    if (measure(value, part).k == kind::formed) {
        uint32_t g = put_formed(series, value, part, only, dup, at);
        uint32_t r = replace < 0 ? std::min(g, avail) : uint32_t(std::min<int64_t>(replace, avail));
        remove_part(series, at + g, r);
        return g;
    }
    uint64_t n = uint64_t(measure(value, part).count) * uint64_t(dup);
    uint32_t r = uint32_t(std::min<int64_t>(replace < 0 ? int64_t(n) : replace, avail));
    return put_piece(series, value, part, dup, at, r);
}

// }==
// {== Trim

bool is_space(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) ||
           c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}

// The spaces that trim drops at the start and end of a line.
bool is_line_space(uint32_t c) { return c == 32 || c == 9 || (c > 127 && is_space(c)); }

// The units of [s] from its index, read and rewritten in place.
struct text_view {
    uint8_t* p;
    uint32_t unit;
    uint32_t n;
    uint32_t at(uint32_t i) const { return get_char(p + (uint64_t(i) << shift_of(unit)), unit); }
    void set(uint32_t i, uint32_t c) const { put_char(p + (uint64_t(i) << shift_of(unit)), unit, c); }
};

text_view view(cell* s) {
    uint32_t n = rs_length_q(s);
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    return {b->head + (uint64_t(s->w1) << shift_of(unit)), unit, n};
}

// Ends the text of [s] after [w] units from its index.
void keep(cell* s, uint32_t w) {
    series_buffer* b = memory::buffer_of(s->w2);
    b->tail = b->head + ((uint64_t(s->w1) + w) << shift_of(unit_of(b)));
}

// The characters a trim/with removes: [count] code points in [chars], or the default set.
struct char_set {
    uint32_t small[4];
    std::unique_ptr<uint32_t[]> large;
    const uint32_t* chars;
    uint32_t count;
    bool has(uint32_t c) const { return std::find(chars, chars + count, c) != chars + count; }
};

void fill_set(char_set& set, const cell* with) {
    static const uint32_t DEFAULT[] = {'\t', '\n', '\r', ' '};
    if (!with) {
        set.chars = DEFAULT;
        set.count = 4;
        return;
    }
    uint8_t t = with->type();
    if (t == T_char_ || t == T_integer) {
        set.small[0] = with->w2;
        set.chars = set.small;
        set.count = 1;
        return;
    }
    if (!is_text_type(t) && t != T_binary) error::raise(error::cat_script, error::script_invalid_arg, with);
    series_buffer* b = memory::buffer_of(with->w2);
    uint32_t unit = t == T_binary ? 1 : unit_of(b);
    uint32_t total = b->used_bytes() >> shift_of(unit);
    uint32_t from = std::min(with->w1, total);
    set.count = total - from;
    uint32_t* dst = set.small;
    if (set.count > 4) {
        set.large.reset(new uint32_t[set.count]);
        dst = set.large.get();
    }
    for (uint32_t i = 0; i < set.count; i++) dst[i] = get_char(b->head + (uint64_t(from + i) << shift_of(unit)), unit);
    set.chars = dst;
}

void trim_chars(cell* s, const cell* with) {
    char_set set{};
    fill_set(set, with); // copied first: [with] may be [s] itself
    text_view v = view(s);
    uint32_t w = 0;
    for (uint32_t i = 0; i < v.n; i++) {
        uint32_t c = v.at(i);
        if (!set.has(c)) v.set(w++, c);
    }
    keep(s, w);
}

void trim_lines(cell* s) {
    text_view v = view(s);
    uint32_t w = 0;
    bool pending = false;
    for (uint32_t i = 0; i < v.n; i++) {
        uint32_t c = v.at(i);
        if (is_space(c)) {
            pending = true;
            continue;
        }
        if (pending && w > 0) v.set(w++, ' ');
        pending = false;
        v.set(w++, c);
    }
    keep(s, w);
}

// Trims the ends of [s] ([head], [tail]); with neither, also the spaces at both ends of
// every line, and one line feed is kept at the end when the trailing space held one.
void trim_ends(cell* s, bool head, bool tail) {
    bool neither = !head && !tail;
    text_view v = view(s);
    uint32_t start = 0, end = v.n;
    if (head || neither)
        while (start < end && is_space(v.at(start))) start++;
    bool end_line = false;
    if (tail || neither)
        for (; end > start && is_space(v.at(end - 1)); end--) end_line |= v.at(end - 1) == '\n';
    uint32_t w = 0, line = 0;
    bool line_start = true;
    for (uint32_t i = start; i < end; i++) {
        uint32_t c = v.at(i);
        if (neither && line_start && is_line_space(c)) continue;
        line_start = false;
        if (neither && c == '\n') {
            while (w > line && is_line_space(v.at(w - 1))) w--;
            line_start = true;
            line = w + 1;
        }
        v.set(w++, c);
    }
    keep(s, w);
    if (neither && end_line) append_char(s->w2, '\n');
}

} // namespace

// }==
// {== Action entries

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append) {
    if (!is_append) return insert(series, value, part, only, dup, false);
    uint32_t at = rs_abs_length_q(series);
    owner::tell_before(series, words::loaded.append, value, int32_t(at), 0);
    uint32_t n = put(series, value, part, only, dup, at, 0);
    owner::tell(series, words::loaded.appended, value, int32_t(at), int32_t(n));
    series->w1 = 0;
    return series;
}

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool) {
    rs_length_q(series); // clamps the index to the tail
    uint32_t at = series->w1;
    owner::tell_before(series, words::global.insert, value, int32_t(at), 0);
    uint32_t n = put(series, value, part, only, dup, at, 0);
    owner::tell(series, words::loaded.inserted, value, int32_t(at), int32_t(n));
    series->w1 = at + n;
    return series;
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    rs_length_q(series); // clamps the index to the tail
    uint32_t at = series->w1;
    owner::tell_before(series, words::loaded.change, value, int32_t(at), part > 0 ? part : 0);
    uint32_t n = put(series, value, -1, only, dup, at, part); // /part limits the series here
    owner::tell(series, words::loaded.changed, value, int32_t(at), int32_t(n));
    series->w1 = at + n;
    return series;
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with) {
    if (!all && !with && auto_) error::raise(error::cat_internal, error::internal_not_done);
    uint32_t before = rs_length_q(series);
    owner::tell_before(series, words::loaded.trim, nullptr, int32_t(series->w1), 0);
    if (all || with) trim_chars(series, with);
    else if (lines) trim_lines(series);
    else trim_ends(series, head, tail);
    owner::tell(series, words::loaded.trimmed,
        nullptr, int32_t(series->w1), int32_t(before - rs_length_q(series)));
    return series;
}

// }==

} // namespace zyl::string
