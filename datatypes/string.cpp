// datatypes/string.cpp: text storage: accessors, construction, writing code points with
// widening, the copy core, the hexadecimal formatters, the comparison core and the matchers.
// Invariants: datatypes/string.h.
#include "datatypes/string.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/dtoa.h"
#include "runtime/unicode.h"
#include "runtime/values.h"

namespace zyl::string {

namespace {

// Flag of a bitset's buffer: the set is negated, so bits past its storage count as set.
constexpr uint32_t BITSET_NEGATED = 0x00080000;
// The internal type of a text operand that brings its own length in word 3 (when not negative).
constexpr uint8_t T_SIZED_TEXT = 56;

// The largest code point a unit holds.
inline uint32_t max_of(uint32_t unit) { return unit == 1 ? 0xFF : unit == 2 ? 0xFFFF : 0xFFFFFFFF; }

// Widens [n] so that [cp] fits; returns the buffer and its unit in [unit].
series_buffer* fit(node_id n, uint32_t cp, uint32_t& unit) {
    series_buffer* b = memory::buffer_of(n);
    unit = unit_of(b);
    if (cp <= max_of(unit)) return b;
    unit = unit_for(cp);
    return unicode::widen_to(n, unit);
}

// Makes room for [bytes] from the head of [n], doubling the need when it must grow.
series_buffer* reserve(node_id n, uint64_t bytes) {
    series_buffer* b = memory::buffer_of(n);
    if (uint64_t(b->end() - b->head) >= bytes) return b;
    return series::expand(n, bytes * 2);
}

inline uint32_t fold(uint32_t cp) { return unicode::to_upper(cp); }

} // namespace

uint32_t unit_of(const series_buffer* b) {
    uint32_t u = b->unit();
    if (ZYL_UNLIKELY(u != 1 && u != 2 && u != 4)) runtime_error(RT_NO_SWITCH, b);
    return u;
}

// {== Accessors

uint32_t rs_length_q(cell* s) {
    uint32_t len = rs_abs_length_q(s);
    if (s->w1 > len) s->w1 = len;
    return len - s->w1;
}

uint32_t length_of(const cell* s) {
    uint32_t len = rs_abs_length_q(s);
    return s->w1 < len ? len - s->w1 : 0;
}

uint32_t rs_abs_length_q(const cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    return b->used_bytes() >> shift_of(unit_of(b));
}

uint8_t* rs_head(cell* s) {
    rs_length_q(s);
    series_buffer* b = memory::buffer_of(s->w2);
    return b->head + (uint64_t(s->w1) << shift_of(unit_of(b)));
}

uint8_t* rs_tail(const cell* s) { return memory::buffer_of(s->w2)->tail; }

bool rs_tail_q(const cell* s) { return length_of(s) == 0; }

uint32_t rs_abs_char_at(const cell* s, uint32_t pos) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    return get_char(b->head + (uint64_t(pos) << shift_of(unit)), unit);
}

void rs_reset(cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    b->tail = b->head;
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
    s->w1 = 0;
}

int32_t find_char(const cell* s, uint32_t cp) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    uint32_t len = length_of(s);
    const uint8_t* p = b->head + (uint64_t(s->w1) << shift_of(unit));
    for (uint32_t i = 0; i < len; i++, p += unit)
        if (get_char(p, unit) == cp) return static_cast<int32_t>(i);
    return -1;
}

bool contains_char_q(const cell* s, uint32_t cp, int32_t step, bool case_) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    uint32_t len = length_of(s);
    if (step < 1) step = 1;
    if (!case_) cp = fold(cp);
    const uint8_t* p = b->head + (uint64_t(s->w1) << shift_of(unit));
    for (uint64_t i = 0; i < len; i += uint32_t(step)) {
        uint32_t c = get_char(p + (i << shift_of(unit)), unit);
        if ((case_ ? c : fold(c)) == cp) return true;
    }
    return false;
}

bool starts_with_literal_q(const cell* s, std::string_view text) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    if (length_of(s) < text.size()) return false;
    const uint8_t* p = b->head + (uint64_t(s->w1) << shift_of(unit));
    for (size_t i = 0; i < text.size(); i++, p += unit) {
        uint32_t c = get_char(p, unit);
        if (c > 0xFF || c != static_cast<uint8_t>(text[i])) return false;
    }
    return true;
}

// }==
// {== Construction

cell* make_at(cell* c, uint32_t size) { return make_at_sized(c, size, 1); }

cell* make_at_sized(cell* c, uint32_t size, uint32_t unit) {
    c->header = T_unset; // a collector running in the allocation sees no half-made string
    node_id n = series::alloc_by_encoding(size ? size : 1, unit);
    *c = cell{T_string, 0, n, 0};
    return c;
}

cell* push(const cell* s) { return stack::push(s); }

cell* push_new(uint32_t size) { return make_at(stack::push_slot(), size); }

cell* load_at(const uint8_t* bytes, int64_t length, cell* c, int32_t encoding) {
    if (!c) c = stack::push_slot();
    c->header = T_unset; // a collection while loading must not read a stale cell
    node_id n;
    if (encoding == ENCODING_UTF8) {
        n = unicode::load_utf8_new(bytes, length);
    } else if (encoding == ENCODING_UTF16LE) {
        n = unicode::load_utf16le(bytes, length / 2, 0, false);
    } else {
        std::fputs("*** Loading Error: input encoding unsupported\n", stdout);
        std::fflush(stdout);
        _exit(0);
    }
    *c = cell{T_string, 0, n, 0};
    return c;
}

cell* load(const uint8_t* bytes, int64_t length, int32_t encoding) {
    return load_at(bytes, length, nullptr, encoding);
}

cell* load_in(const uint8_t* bytes, int64_t length, node_id block, int32_t encoding) {
    // Made on the stack first: appending the cell may collect, and the new string is rooted there.
    cell* tmp = load_at(bytes, length, nullptr, encoding);
    cell* c = series::append_unset_cell(block);
    *c = *tmp;
    stack::pop(1);
    return c;
}

double to_float(const char* text, int64_t length, bool& ok) {
    size_t unconsumed = 0;
    double d = dtoa::strtod(text, text + length, 0, unconsumed);
    ok = length > 0 && unconsumed == 0;
    return d;
}

// }==
// {== Writing one code point

series_buffer* append_char(node_id n, uint32_t cp) {
    series_buffer* b = memory::buffer_of(n);
    uint32_t unit = b->unit();
    if (ZYL_UNLIKELY(cp > max_of(unit_of(b)))) b = fit(n, cp, unit);
    if (ZYL_UNLIKELY(b->tail + unit > b->end())) {
        series::alloc_tail_bytes(n, unit); // doubles the buffer: amortised O(1)
        b = memory::buffer_of(n);
        b->tail -= unit;
    }
    put_char(b->tail, unit, cp);
    b->tail += unit;
    return b;
}

series_buffer* poke_char(node_id n, uint32_t pos, uint32_t cp) {
    uint32_t unit;
    series_buffer* b = fit(n, cp, unit);
    uint64_t need = (uint64_t(pos) + 1) << shift_of(unit);
    if (uint64_t(b->end() - b->head) < need) b = series::expand(n, need);
    uint8_t* at = b->head + (uint64_t(pos) << shift_of(unit));
    if (at >= b->tail) {
        std::memset(b->tail, 0, at - b->tail); // no stale bytes between the old tail and pos
        b->tail = at + unit;
    }
    put_char(at, unit, cp);
    return b;
}

series_buffer* insert_char(node_id n, uint32_t pos, uint32_t cp) {
    uint32_t unit;
    series_buffer* b = fit(n, cp, unit);
    b = reserve(n, b->used_bytes() + unit);
    uint8_t* at = b->head + (uint64_t(pos) << shift_of(unit));
    ZYL_ASSERT(at <= b->tail);
    std::memmove(at + unit, at, b->tail - at);
    put_char(at, unit, cp);
    b->tail += unit;
    return b;
}

series_buffer* store_char(node_id n, uint32_t pos, uint32_t cp) {
    uint32_t unit;
    series_buffer* b = fit(n, cp, unit);
    put_char(b->head + (uint64_t(pos) << shift_of(unit)), unit, cp);
    return b;
}

void remove_char(const cell* s, uint32_t pos) { remove_part(s, pos, 1); }

void remove_part(const cell* s, uint32_t pos, uint32_t count) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t sh = shift_of(unit_of(b));
    uint32_t len = b->used_bytes() >> sh;
    if (pos >= len) return;
    count = std::min(count, len - pos);
    uint8_t* at = b->head + (uint64_t(pos) << sh);
    uint8_t* from = at + (uint64_t(count) << sh);
    std::memmove(at, from, b->tail - from);
    b->tail -= uint64_t(count) << sh;
}

void truncate(node_id n, uint32_t pos) {
    series_buffer* b = memory::buffer_of(n);
    uint8_t* at = b->head + (uint64_t(pos) << shift_of(unit_of(b)));
    if (at < b->tail) b->tail = at;
}

void move_part(const cell* src, uint32_t count, const cell* target, uint32_t pos) {
    ZYL_ASSERT(src->w2 != target->w2);
    uint32_t moved = insert_core(target, src, static_cast<int32_t>(count), pos, COPY_INSERT);
    remove_part(src, src->w1, moved);
}

void concatenate_literal(const cell* s, std::string_view text) {
    if (text.empty()) return;
    node_id n = s->w2;
    uint32_t unit = unit_of(memory::buffer_of(n));
    uint8_t* p = series::alloc_tail_bytes(n, uint64_t(text.size()) * unit);
    if (unit == 1) {
        std::memcpy(p, text.data(), text.size());
        return;
    }
    for (char ch : text) {
        put_char(p, unit, static_cast<uint8_t>(ch));
        p += unit;
    }
}

void append_units(node_id n, const uint8_t* p, uint32_t count, uint32_t unit) {
    uint32_t tu = unit_of(memory::buffer_of(n));
    if (tu < unit) {
        unicode::widen_to(n, unit);
        tu = unit;
    }
    uint8_t* at = series::alloc_tail_bytes(n, uint64_t(count) * tu);
    if (tu == unit) {
        std::memcpy(at, p, uint64_t(count) * unit);
        return;
    }
    for (uint32_t i = 0; i < count; i++) put_char(at + uint64_t(i) * tu, tu, get_char(p + uint64_t(i) * unit, unit));
}

// }==
// {== Copy core

namespace {

// Converts [count] units of [su] at [src] to [tu] (wider) at [dst], last to first, so that
// the ranges may overlap when [dst] <= [src].
void convert_units(uint8_t* dst, uint32_t tu, const uint8_t* src, uint32_t su, uint64_t count) {
    if (dst <= src) {
        for (uint64_t i = 0; i < count; i++) put_char(dst + i * tu, tu, get_char(src + i * su, su));
    } else {
        for (uint64_t i = count; i-- > 0;) put_char(dst + i * tu, tu, get_char(src + i * su, su));
    }
}

} // namespace

uint32_t insert_core(const cell* target, const cell* source, int32_t part, uint32_t pos, copy_mode mode) {
    node_id tn = target->w2, sn = source->w2;
    uint32_t from = source->w1;
    uint32_t count = length_of(source);
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    if (count == 0) return 0;
    uint32_t su = unit_of(memory::buffer_of(sn));
    uint32_t tu = unit_of(memory::buffer_of(tn));
    if (tu < su) {
        unicode::widen_to(tn, su);
        tu = su;
    }
    series_buffer* b = memory::buffer_of(tn);
    uint32_t tlen = b->used_bytes() >> shift_of(tu);
    uint32_t at = mode == COPY_APPEND ? tlen : std::min(pos, tlen);
    uint64_t new_len = mode == COPY_OVERWRITE ? std::max<uint64_t>(tlen, uint64_t(at) + count) : uint64_t(tlen) + count;
    b = reserve(tn, new_len << shift_of(tu)); // may move the source too: addresses come after
    uint8_t* dst = b->head + (uint64_t(at) << shift_of(tu));
    if (mode == COPY_INSERT) std::memmove(dst + (uint64_t(count) << shift_of(tu)), dst, b->tail - dst);
    series_buffer* sb = memory::buffer_of(sn);
    su = sb->unit(); // the same buffer as the target may have widened
    if (sn == tn && mode == COPY_INSERT && from + count > at) {
        // The source lay at or after the gap: its units from the gap on moved up by count.
        uint32_t before = from < at ? at - from : 0;
        std::memmove(dst, b->head + (uint64_t(from) << shift_of(tu)), uint64_t(before) << shift_of(tu));
        uint64_t rest = from < at ? uint64_t(at) + count : uint64_t(from) + count;
        std::memmove(dst + (uint64_t(before) << shift_of(tu)), b->head + (rest << shift_of(tu)),
                     uint64_t(count - before) << shift_of(tu));
    } else {
        const uint8_t* src = sb->head + (uint64_t(from) << shift_of(su));
        if (su == tu) std::memmove(dst, src, uint64_t(count) << shift_of(tu));
        else convert_units(dst, tu, src, su, count);
    }
    b->tail = b->head + (new_len << shift_of(tu));
    return count;
}

// }==
// {== Hexadecimal

namespace {
char hex_buffer[9] = "00000000";
char byte_buffer[3] = "00";
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
} // namespace

std::string_view int_to_hex(int32_t n, bool short_form) {
    int32_t fill = n < 0 ? -1 : 0;
    int i = 8;
    do {
        hex_buffer[--i] = HEX_DIGITS[n & 15];
        n >>= 4; // arithmetic: a negative value ends at -1
    } while (n != fill && i > 0);
    if (short_form) {
        if (i == 7 && hex_buffer[7] == '0') return "00";
        return {hex_buffer + i, size_t(8 - i)};
    }
    while (i > 0) hex_buffer[--i] = fill ? 'F' : '0';
    return {hex_buffer, 8};
}

std::string_view byte_to_hex(uint32_t b) {
    byte_buffer[0] = HEX_DIGITS[(b >> 4) & 15];
    byte_buffer[1] = HEX_DIGITS[b & 15];
    return {byte_buffer, 2};
}

// }==
// {== Comparison and matching

namespace {

// Units of an operand from its index; a sized internal operand brings its own length.
uint32_t operand_length(const cell* v) {
    uint32_t len = length_of(v);
    if (v->type() == T_SIZED_TEXT && int32_t(v->w3) >= 0) len = std::min(len, v->w3);
    return len;
}

// Compares [n] units pairwise; returns the last pair read in [ca] and [cb].
template <uint32_t UA, uint32_t UB>
void scan(const uint8_t* a, const uint8_t* b, uint32_t n, bool folded, uint32_t& ca, uint32_t& cb) {
    ca = cb = 0;
    for (uint32_t i = 0; i < n; i++) {
        ca = get_char(a + i * UA, UA);
        cb = get_char(b + i * UB, UB);
        if (ca == cb) continue;
        if (folded) {
            ca = fold(ca);
            cb = fold(cb);
            if (ca == cb) continue;
        }
        return;
    }
}

template <uint32_t UA>
void scan_b(const uint8_t* a, const uint8_t* b, uint32_t ub, uint32_t n, bool folded, uint32_t& ca, uint32_t& cb) {
    if (ub == 1) scan<UA, 1>(a, b, n, folded, ca, cb);
    else if (ub == 2) scan<UA, 2>(a, b, n, folded, ca, cb);
    else scan<UA, 4>(a, b, n, folded, ca, cb);
}

// The last pair of [n] units compared from the indexes of [a] and [b].
void compare_units(const cell* a, const cell* b, uint32_t n, bool folded, uint32_t& ca, uint32_t& cb) {
    series_buffer* ba = memory::buffer_of(a->w2);
    series_buffer* bb = memory::buffer_of(b->w2);
    uint32_t ua = unit_of(ba), ub = unit_of(bb);
    const uint8_t* pa = ba->head + (uint64_t(a->w1) << shift_of(ua));
    const uint8_t* pb = bb->head + (uint64_t(b->w1) << shift_of(ub));
    if (ua == 1) scan_b<1>(pa, pb, ub, n, folded, ca, cb);
    else if (ua == 2) scan_b<2>(pa, pb, ub, n, folded, ca, cb);
    else scan_b<4>(pa, pb, ub, n, folded, ca, cb);
}

inline int32_t order(uint32_t ca, uint32_t cb) { return ca > cb ? 1 : ca < cb ? -1 : 0; }

inline bool is_equality(int32_t op) { return op == 0 || op == 1 || op == 2 || op == 12; }

} // namespace

int32_t compare_values(const cell* a, const cell* b, int32_t op, bool match) {
    bool same = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == 9) return same ? 0 : -1;
    if (same && is_equality(op)) return 0;
    cell sa, sb; // a symbol! operand reads as its cached name string, from position 0
    if (a->type() == T_symbol) a = &(sa = cell{T_string, 0, a->w2, 0});
    if (b->type() == T_symbol) b = &(sb = cell{T_string, 0, b->w2, 0});
    uint32_t len1 = length_of(a), len2 = operand_length(b);
    bool folded = op != 2 && op != 8;
    uint32_t ca, cb;
    if (match) {
        if (len2 == 0) return op == 12 ? 1 : 0;
        if (len1 < len2) return 1;
        compare_units(a, b, len2, folded, ca, cb);
        return order(ca, cb);
    }
    if (len1 != len2) {
        if (is_equality(op)) return 1;
        if (len2 == 0) return 1;
        if (len1 == 0) return -1;
    } else if (len1 == 0) {
        return 0;
    }
    compare_units(a, b, std::min(len1, len2), folded, ca, cb);
    if (ca == cb && len1 != len2) return len1 > len2 ? 1 : -1;
    return order(ca, cb);
}

bool bitset_has(const cell* bitset, uint32_t cp) {
    series_buffer* b = memory::buffer_of(bitset->w2);
    uint64_t bits = uint64_t(b->used_bytes()) * 8;
    if (cp >= bits) return (b->flags & BITSET_NEGATED) != 0;
    return (b->head[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

bool match_bitset_q(const cell* input, const cell* bitset) {
    if (rs_tail_q(input)) return false;
    return bitset_has(bitset, rs_abs_char_at(input, input->w1));
}

bool match_tag_q(const cell* input, const cell* tag) {
    uint32_t len = length_of(input), tag_len = length_of(tag);
    if (len < tag_len + 2) return false;
    return rs_abs_char_at(input, input->w1) == '<' && rs_abs_char_at(input, input->w1 + tag_len + 1) == '>';
}

bool match_value_q(const cell* input, const cell* value, int32_t op) {
    switch (value->type()) {
    case T_string: case T_file: case T_url: case T_email: case T_ref:
        return compare_values(input, value, op, true) == 0;
    case T_char_: {
        if (rs_tail_q(input)) return false;
        uint32_t c = rs_abs_char_at(input, input->w1), v = value->w2;
        return op == 2 ? c == v : fold(c) == fold(v);
    }
    case T_tag: {
        if (!match_tag_q(input, value)) return false;
        cell in = *input;
        in.w1++;
        return compare_values(&in, value, op, true) == 0;
    }
    default: return false;
    }
}

// }==
// {== UTF-8

std::string utf8_of(const cell* s) {
    int64_t length = -1;
    node_id conv = 0;
    const uint8_t* bytes = unicode::to_utf8(s, length, conv);
    return std::string(reinterpret_cast<const char*>(bytes), size_t(length));
}

std::string to_std(const cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = unit_of(b);
    std::string out;
    uint32_t len = length_of(s);
    const uint8_t* p = b->head + (uint64_t(s->w1) << shift_of(unit));
    for (uint32_t i = 0; i < len; i++, p += unit) {
        uint8_t utf8[4];
        int n = unicode::encode_utf8(get_char(p, unit), utf8);
        out.append(reinterpret_cast<char*>(utf8), n);
    }
    return out;
}

cell* from_utf8(cell* c, std::string_view text) {
    return load_at(reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()), c, ENCODING_UTF8);
}

// }==

} // namespace zyl::string
