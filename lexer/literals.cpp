// lexer/literals.cpp: the loaders of the text-like literals (files, urls, emails, tags, refs),
// of binaries in base 2, 16 and 64, and of pairs, points and tuples.
//
// A loader measures its token before it allocates the value and writes it after, reading the
// input again from st.base: a binary! input may move at the allocation (refresh re-derives it).
#include <cstring>

#include "datatypes/file_url.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "lexer/internal.h"
#include "lexer/loaders.h"

namespace zyl::lexer {

namespace {

// {== Text values

// Pushes a new unset cell, or null when only checking.
inline cell* slot(state& st, int mode) { return mode ? push(st) : nullptr; }

// Types the text value just loaded into [c] (when loading) as [type].
inline void finish_text(state& st, cell* c, uint8_t type) {
    if (!c) return;
    cells::set_type(c, type);
    st.loaded_type = type;
}

// Loads [start, end) as text of [type] with load_text's [escapes]; bad text is `invalid`
// for [type] at [error_at].
void load_typed_text(state& st, size_t start, size_t end, uint32_t flags, bool escapes, bool single_line,
                     uint8_t type, size_t error_at, int mode) {
    cell* c = slot(st, mode);
    if (!load_text(st, start, end, flags, escapes, single_line, !mode, c)) {
        if (mode) out.top--;
        throw_error(st, error_at, type);
    }
    finish_text(st, c, type);
}

// Counts the characters of [start, end) with their %XX escapes decoded, and their largest
// code point; false when the text or an escape run is not UTF-8.
bool measure_decoded(const state& st, size_t start, size_t end, size_t& count, uint32_t& max) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    count = 0;
    max = 0;
    while (p < e) {
        int32_t cp = url::next_decoded(p, e);
        if (cp < 0) return false;
        if (uint32_t(cp) > max) max = uint32_t(cp);
        count++;
    }
    return true;
}

// Loads [start, end) as text of [type] with its %XX escapes decoded (urls and unquoted
// files); bad text is `invalid` for [type].
void load_decoded(state& st, size_t start, size_t end, uint8_t type, size_t error_at, int mode) {
    size_t count;
    uint32_t max;
    if (!measure_decoded(st, start, end, count, max)) throw_error(st, error_at, type);
    if (!mode) return;
    cell* c = push(st);
    uint32_t index = out.top - 1;
    uint32_t unit = max <= 0xFF ? 1 : max <= 0xFFFF ? 2 : 4;
    node_id n = series::alloc_by_encoding(count, unit);
    refresh(st);
    series_buffer* b = memory::buffer_of(n);
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    for (uint8_t* w = b->head; p < e; w += unit) {
        auto cp = static_cast<uint32_t>(url::next_decoded(p, e));
        if (unit == 1) *w = static_cast<uint8_t>(cp);
        else if (unit == 2) std::memcpy(w, &cp, 2); // little-endian: the low half
        else std::memcpy(w, &cp, 4);
    }
    b->tail = b->head + count * unit;
    c = &out.cells[index];
    *c = cell{type | (c->header & CELL_NEW_LINE), 0, n, 0};
    st.loaded_type = type;
}

// Whether [start, end) of the input holds byte [b].
inline bool holds(const state& st, size_t start, size_t end, uint8_t b) {
    return end > start && std::memchr(st.base + start, b, end - start);
}

// }==
// {== Binaries

enum : uint8_t { SKIP = 1, DIGIT = 2, COMMENT = 3, PAD = 4 };

// What a byte is inside a binary's braces in base 16 and 2: skipped, a digit, the start of a
// comment; 0 for anything else (an error).
constexpr uint8_t kind_of(uint8_t c, int base) {
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ') return SKIP;
    if (c == ';') return COMMENT;
    if (base == 2) return c == '0' || c == '1' ? DIGIT : 0;
    if (base == 16) return hex_digits[c] != 255 ? DIGIT : 0;
    if (c == '=') return PAD;
    bool b64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    return b64 ? DIGIT : 0;
}

constexpr uint8_t base64_value(uint8_t c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
                                         : c == '+'                 ? 62
                                                                    : 63;
}

// The digits of the text [p, e) in [base], written as bytes at [w] when it is not null;
// answers the byte count, or -1 when the text is not valid in the base. Blanks and line feeds
// are skipped and `;` comments run to the end of the line; base 64 may end in `=` padding
// that completes its last group.
int64_t decode_binary(const uint8_t* p, const uint8_t* e, int base, uint8_t* w) {
    uint32_t acc = 0;
    int bits = 0, per_digit = base == 2 ? 1 : base == 16 ? 4 : 6;
    int64_t digits = 0, pads = 0, bytes = 0;
    for (; p < e; p++) {
        uint8_t k = kind_of(*p, base);
        if (k == SKIP) continue;
        if (k == COMMENT) {
            while (p < e && *p != '\n') p++;
            continue;
        }
        if (k == PAD) {
            pads++;
            continue;
        }
        if (k != DIGIT || pads) return -1; // only blanks and comments after padding
        uint32_t v = base == 64 ? base64_value(*p) : base == 16 ? hex_digits[*p] : uint32_t(*p - '0');
        acc = acc << per_digit | v;
        bits += per_digit;
        digits++;
        if (bits >= 8) {
            bits -= 8;
            if (w) w[bytes] = static_cast<uint8_t>(acc >> bits);
            bytes++;
            acc &= (1u << bits) - 1;
        }
    }
    if (base != 64) return bits ? -1 : bytes; // an odd digit or an incomplete group of bits
    int64_t rest = digits % 4;
    if (rest == 1 || pads > 2 || (pads && pads != 4 - rest)) return -1;
    return bytes;
}

// The base of a binary token from the digits before its `#{`: none is 16; else 2, 16 or 64;
// 0 for any other text.
int binary_base(const uint8_t* p, size_t n) {
    if (n == 0) return 16;
    if (n == 1 && p[0] == '2') return 2;
    if (n == 2 && p[0] == '1' && p[1] == '6') return 16;
    if (n == 2 && p[0] == '6' && p[1] == '4') return 64;
    return 0;
}

// }==
// {== Compound numbers

// The token as a C string in [buffer] of [room] bytes; false when it does not fit (no valid
// pair, point or tuple is that long).
bool copy_token(const state& st, size_t start, size_t end, char* buffer, size_t room) {
    if (end - start >= room) return false;
    std::memcpy(buffer, st.base + start, end - start);
    buffer[end - start] = 0;
    return true;
}

constexpr size_t TOKEN_ROOM = 1024;

// }==

} // namespace

// {== Text values

// %name (unquoted: %XX escapes decoded, `^` plain) or %"name" (`^` escapes, one line).
void load_file(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    if (st.prev_state == S_QUOTED_FILE)
        return load_typed_text(st, start + 2, end, flags, true, true, T_file, start, mode);
    if (holds(st, start + 1, end, '%')) return load_decoded(st, start + 1, end, T_file, start, mode);
    load_typed_text(st, start + 1, end, flags, false, false, T_file, start, mode);
}

// scheme:rest, %XX escapes decoded; a leading `:` or `'` belongs to no URL.
void load_url(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    uint8_t first = st.base[start];
    if (first == ':') throw_error(st, start, T_get_word);
    if (first == '\'') throw_error(st, start, T_lit_word);
    if (flags & FLAG_PERCENT) return load_decoded(st, start, end, T_url, start, mode);
    load_typed_text(st, start, end, flags, false, false, T_url, start, mode);
}

void load_email(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    load_typed_text(st, start, end, flags, false, false, T_email, start, mode);
}

// <text>: the text between the angle brackets, as it stands.
void load_tag(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    load_typed_text(st, start + 1, end, flags, false, false, T_tag, start, mode);
}

// @name: the text after the `@`.
void load_ref(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    load_typed_text(st, start + 1, end, flags, false, false, T_ref, start, mode);
}

// }==
// {== Binaries

// [base]#{digits}: base 16 without a base.
void load_binary(state& st, size_t start, size_t end, uint32_t, int mode) {
    const uint8_t* open = static_cast<const uint8_t*>(std::memchr(st.base + start, '#', end - start));
    int base = open ? binary_base(st.base + start, size_t(open - (st.base + start))) : 0;
    size_t from = open ? size_t(open - st.base) + 2 : end; // after `#{`
    int64_t n = base ? decode_binary(st.base + from, st.base + end, base, nullptr) : -1;
    if (n < 0) throw_error(st, start, T_binary);
    if (!mode) return;
    cell* c = push(st);
    uint32_t index = out.top - 1;
    node_id bin = series::alloc_bytes(uint64_t(n));
    refresh(st);
    series_buffer* b = memory::buffer_of(bin);
    decode_binary(st.base + from, st.base + end, base, b->head);
    b->tail = b->head + n;
    c = &out.cells[index];
    *c = cell{T_binary | (c->header & CELL_NEW_LINE), 0, bin, 0};
    st.loaded_type = T_binary;
}

// }==
// {== Compound numbers

void load_pair(state& st, size_t start, size_t end, uint32_t, int mode) {
    char text[TOKEN_ROOM];
    cell v;
    if (!copy_token(st, start, end, text, sizeof text) || !pair::load_text(text, text + (end - start), &v))
        throw_error(st, start, T_pair);
    if (mode) push_loaded(st, v);
}

// (x, y) or (x, y, z): the token is what stands between the parentheses.
void load_point(state& st, size_t start, size_t end, uint32_t, int mode) {
    char text[TOKEN_ROOM];
    cell v;
    // The `(` before the token and the `)` that ended it are read with it.
    bool fits = start > 0 && copy_token(st, start - 1, end + 1, text, sizeof text);
    uint8_t failing = fits ? point::load_text(text, text + (end + 2 - start), &v) : uint8_t(T_point2d);
    if (failing) throw_error(st, start - 1, failing);
    if (mode) push_loaded(st, v);
}

void load_tuple(state& st, size_t start, size_t end, uint32_t, int mode) {
    char text[TOKEN_ROOM];
    cell v;
    if (!copy_token(st, start, end, text, sizeof text) || !tuple::load_text(text, text + (end - start), &v))
        throw_error(st, start, T_tuple);
    if (mode) push_loaded(st, v);
}

// }==

} // namespace zyl::lexer
