// datatypes/string_mold.cpp: molding text: the choice of delimiters, brace balancing and the
// character escaper shared with char! and vector!.
//
// A string molds between double quotes, or between braces when it holds three or more line
// feeds, a double quote, or 50 characters or more. Inside braces a "{" stays as it is while
// every "{" so far has its closing "}"; from the first one that has none, every "{" is
// written "^{", and a "}" with no open brace before it is written "^}".
#include <algorithm>

#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/unicode.h"
#include "runtime/values.h"

namespace zyl::string {

// {== Internal functions

namespace {

// The character after "^" for the code points below 95 that have a short escape, else 0.
constexpr char ESCAPES[95] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L', 'M', 'N', 'O',
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', 0, '_',
    0, 0, '"', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '^',
};

// Longest escape: "^(" and eight hexadecimal digits and ")".
constexpr uint32_t MAX_ESCAPE = 11;

// Writes the escape of [c] into [out] and returns its length, or 0 when [c] goes as it is.
inline uint32_t escape(uint32_t c, bool all, char* out) {
    if (c == 30 || (c >= 128 && c <= 159) || (all && c > 127)) {
        std::string_view hex = int_to_hex(static_cast<int32_t>(c), true);
        out[0] = '^';
        out[1] = '(';
        std::memcpy(out + 2, hex.data(), hex.size());
        out[2 + hex.size()] = ')';
        return static_cast<uint32_t>(hex.size()) + 3;
    }
    char e = c < 95 ? ESCAPES[c] : c == 127 ? '~' : 0;
    if (!e) return 0;
    out[0] = '^';
    out[1] = e;
    return 2;
}

struct mold_state {
    uint64_t pos;              // position of the next character in the molded range
    uint64_t first_unbalanced; // position of the first "{" without its "}" (or past the range)
    uint32_t open;             // braces written unchanged and not yet closed
    bool braces;               // brace mode
    bool all;                  // escape everything above 127
};

template <uint32_t TU> inline uint8_t* put_ascii(uint8_t* dst, const char* text, uint32_t n) {
    for (uint32_t i = 0; i < n; i++, dst += TU) put_char(dst, TU, static_cast<uint8_t>(text[i]));
    return dst;
}

// Whether [c] needs more than copying in some delimiter mode (with [all]: escaping above 127).
constexpr bool special_code(uint32_t c, bool all) {
    return c < 32 || c == '"' || c == '^' || c == '{' || c == '}' || (c >= 127 && (all || c <= 159));
}

struct special_table {
    bool entries[2][256]; // [all][code point]
    constexpr special_table() : entries{} {
        for (uint32_t c = 0; c < 256; c++) {
            entries[0][c] = special_code(c, false);
            entries[1][c] = special_code(c, true);
        }
    }
};
constexpr special_table SPECIAL;

// special_code through a table for the first 256 code points.
inline bool is_special(uint32_t c, bool all) { return c < 256 ? SPECIAL.entries[all][c] : all; }

// Molds the special character [c] at [dst]; returns the new end.
template <uint32_t TU> uint8_t* emit_special(uint32_t c, uint8_t* dst, mold_state& st) {
    if (c == '{' || c == '}') {
        bool raw = !st.braces || (c == '{' ? st.pos < st.first_unbalanced : st.open > 0);
        if (st.braces && raw) {
            if (c == '{') st.open++;
            else st.open--;
        }
        return raw ? put_ascii<TU>(dst, c == '{' ? "{" : "}", 1) : put_ascii<TU>(dst, c == '{' ? "^{" : "^}", 2);
    }
    if (c == '"' && st.braces) return put_ascii<TU>(dst, "\"", 1);
    char esc[MAX_ESCAPE + 1];
    uint32_t k = escape(c, st.all, esc);
    if (k) return put_ascii<TU>(dst, esc, k);
    put_char(dst, TU, c); // fits: the output is as wide as the source unless all is set
    return dst + TU;
}

// Molds the [n] characters at [src] into [dst], which has room; returns the new end. Runs of
// characters that need nothing are copied as they are scanned.
template <uint32_t SU, uint32_t TU> uint8_t* emit(const uint8_t* src, uint64_t n, uint8_t* dst, mold_state& st) {
    for (uint64_t i = 0; i < n;) {
        uint64_t j = i;
        for (; j < n; j++, dst += TU) {
            uint32_t c = get_char(src + j * SU, SU);
            if (is_special(c, st.all)) break;
            put_char(dst, TU, c);
        }
        st.pos += j - i;
        if (j == n) break;
        dst = emit_special<TU>(get_char(src + j * SU, SU), dst, st);
        st.pos++;
        i = j + 1;
    }
    return dst;
}

template <uint32_t SU> uint8_t* emit_to(uint32_t tu, const uint8_t* src, uint64_t n, uint8_t* dst, mold_state& st) {
    if (tu == 1) return emit<SU, 1>(src, n, dst, st);
    if (tu == 2) return emit<SU, 2>(src, n, dst, st);
    return emit<SU, 4>(src, n, dst, st);
}

uint8_t* emit_any(uint32_t su, uint32_t tu, const uint8_t* src, uint64_t n, uint8_t* dst, mold_state& st) {
    if (su == 1) return emit_to<1>(tu, src, n, dst, st);
    if (su == 2) return emit_to<2>(tu, src, n, dst, st);
    return emit_to<4>(tu, src, n, dst, st);
}

struct text_counts {
    uint64_t quotes;
    uint64_t lines;
    uint64_t specials; // characters that need more than a copy
};

// The counts of the [n] characters of [Unit] at [p].
template <uint32_t Unit> text_counts count_text(const uint8_t* p, uint64_t n, bool all) {
    text_counts k{0, 0, 0};
    for (uint64_t i = 0; i < n; i++) {
        uint32_t c = get_char(p + i * Unit, Unit);
        if (ZYL_LIKELY(!is_special(c, all))) continue;
        k.specials++;
        k.quotes += c == '"';
        k.lines += c == '\n';
    }
    return k;
}

// The position of the first "{" among the [n] characters at [p] that no "}" closes, or [n].
// Matching backwards pairs each "{" with the nearest free "}" after it, as a forward scan
// from that brace would.
template <uint32_t Unit> uint64_t first_unbalanced(const uint8_t* p, uint64_t n) {
    uint64_t first = n, pending = 0;
    for (uint64_t i = n; i-- > 0;) {
        uint32_t c = get_char(p + i * Unit, Unit);
        if (ZYL_LIKELY(c != '{' && c != '}')) continue;
        if (c == '}') pending++;
        else if (pending > 0) pending--;
        else first = i;
    }
    return first;
}

// Makes room for [bytes] after the tail of [n]; returns the buffer.
series_buffer* room(node_id n, uint64_t bytes) {
    series_buffer* b = memory::buffer_of(n);
    if (uint64_t(b->end() - b->tail) >= bytes) return b;
    return series::expand(n, std::max(uint64_t(b->used_bytes()) + bytes, uint64_t(b->size) * 2));
}

// Molds [count] characters of [value] from [idx] into [out] with the state [st], [specials]
// of them needing more than a copy: the output is sized once for the worst case.
void mold_range(const cell* value, uint32_t idx, uint64_t count, uint64_t specials, node_id out, mold_state& st) {
    uint32_t su = unit_of(memory::buffer_of(value->w2));
    uint32_t tu = unit_of(memory::buffer_of(out));
    if (!st.all && tu < su) {
        unicode::widen_to(out, su);
        tu = su;
    }
    series_buffer* ob = room(out, (count + 1 + specials * MAX_ESCAPE) << shift_of(tu));
    series_buffer* sb = memory::buffer_of(value->w2); // after room(): it may have moved
    const uint8_t* src = sb->head + (uint64_t(idx) << shift_of(su));
    ob->tail = emit_any(su, tu, src, count, ob->tail, st);
}

} // namespace

// }==
// {== Action entries

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value;
    if (v.w2 == buffer->w2) {
        // Molding a string into itself: mold a copy, kept on the stack while it is read.
        uint32_t len = length_of(&v);
        cell* copy = push(&v);
        copy->w2 = series::copy_part(value->w2, std::min(value->w1, rs_abs_length_q(value)), len);
        copy->w1 = 0;
        v = *copy;
    }
    uint32_t full = length_of(&v);
    uint64_t count = arg ? std::min<int64_t>(std::max(part, 0), full) : full;
    uint32_t idx = std::min(v.w1, rs_abs_length_q(&v));
    series_buffer* sb = memory::buffer_of(v.w2);
    uint32_t su = unit_of(sb);
    const uint8_t* src = sb->head + (uint64_t(idx) << shift_of(su));
    text_counts k = su == 1 ? count_text<1>(src, count, all)
                    : su == 2 ? count_text<2>(src, count, all) : count_text<4>(src, count, all);
    mold_state st{0, count, 0, k.lines >= 3 || k.quotes > 0 || full >= 50, all};
    if (st.braces) {
        st.first_unbalanced = su == 1 ? first_unbalanced<1>(src, count)
                              : su == 2 ? first_unbalanced<2>(src, count) : first_unbalanced<4>(src, count);
    }
    uint32_t before = rs_abs_length_q(buffer);
    append_char(buffer->w2, st.braces ? '{' : '"');
    mold_range(&v, idx, count, k.specials, buffer->w2, st);
    append_char(buffer->w2, st.braces ? '}' : '"');
    if (v.w2 != value->w2) stack::pop(1);
    return part - static_cast<int32_t>(rs_abs_length_q(buffer) - before);
}

uint32_t mold_char(const cell* out, uint32_t cp, bool all) {
    char esc[MAX_ESCAPE + 1];
    uint32_t k = escape(cp, all, esc);
    if (!k) {
        append_char(out->w2, cp);
        return 1;
    }
    concatenate_literal(out, {esc, k});
    return k;
}

// }==

} // namespace zyl::string
