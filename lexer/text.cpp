// lexer/text.cpp: the text of string tokens: `^` escapes, UTF-8 decoding and the choice of
// the string's unit width.
#include <cstring>

#include "lexer/internal.h"
#include "lexer/loaders.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

namespace {

// The named escapes ^(name).
struct escape_name {
    const char* name;
    uint32_t cp;
};
constexpr escape_name escape_names[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                                        {"page", 12}, {"esc", 27}, {"del", 127}};

uint8_t lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c | 0x20) : c; }

// The code point of ^( [p, close) ): 1-6 hexadecimal digits, or a name; -1 otherwise.
int32_t paren_escape(const uint8_t* p, const uint8_t* close) {
    size_t n = size_t(close - p);
    if (n == 0) return -1;
    uint32_t cp = 0;
    bool hex = n <= 6;
    for (const uint8_t* q = p; hex && q < close; q++) {
        uint8_t d = hex_digits[*q];
        if (d == 255) hex = false;
        else cp = cp << 4 | d;
    }
    if (hex) return cp <= unicode::MAX_CODE_POINT ? static_cast<int32_t>(cp) : -1;
    for (const escape_name& e : escape_names) {
        if (std::strlen(e.name) != n) continue;
        size_t i = 0;
        while (i < n && lower(p[i]) == static_cast<uint8_t>(e.name[i])) i++;
        if (i == n) return static_cast<int32_t>(e.cp);
    }
    return -1;
}

// One code point of text at [p]: an escape (when [escapes]) or a UTF-8 sequence. Answers -1
// on bad text; a line feed is bad text when [single_line].
inline int32_t next_char(const uint8_t*& p, const uint8_t* end, bool escapes, bool single_line) {
    uint8_t b = *p;
    if (b == '^' && escapes) {
        p++;
        if (single_line && p < end && *p == '\n') return -1;
        return read_escape(p, end);
    }
    if (b < 0x80) {
        p++;
        return single_line && b == '\n' ? -1 : b;
    }
    int32_t cp;
    p = unicode::decode_utf8_char(p, end, cp);
    return cp;
}

// Counts the characters of [p, end) and their largest code point; false on bad text.
bool measure(const uint8_t* p, const uint8_t* end, bool escapes, bool single_line, size_t& count, uint32_t& max) {
    count = 0;
    max = 0;
    while (p < end) {
        int32_t cp = next_char(p, end, escapes, single_line);
        if (cp < 0) return false;
        if (uint32_t(cp) > max) max = uint32_t(cp);
        count++;
    }
    return true;
}

// Whether every byte of [p, end) is ASCII.
bool all_ascii(const uint8_t* p, const uint8_t* end) {
    uint8_t acc = 0;
    for (; p < end; p++) acc |= *p;
    return acc < 0x80;
}

} // namespace

int32_t read_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* open = p;
        const uint8_t* close = open + 1;
        while (close < end && close - open <= 7 && *close != ')') close++;
        if (close >= end || close - open > 7 || *close != ')') return -1;
        p = close + 1;
        return paren_escape(open + 1, close);
    }
    if (c >= 0x80) {
        int32_t cp;
        p = unicode::decode_utf8_char(p, end, cp);
        return cp;
    }
    p++;
    switch (c) {
    case '"': return '"';
    case '-': return '\t';
    case '/': return '\n';
    case '^': return '^';
    case '{': return '{';
    case '}': return '}';
    case '~': return 0x7F;
    case '@': return 0;
    default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= '_') return c - 64;
    return c;
}

bool load_text(state& st, size_t start, size_t end, uint32_t flags, bool escapes, bool single_line, bool check,
               cell* out) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    size_t count = end - start;
    uint32_t max = 0;
    bool plain = !(flags & (FLAG_UTF8 | (escapes ? FLAG_CARET : 0))) && all_ascii(p, e);
    if (plain && single_line && std::memchr(p, '\n', count)) return false;
    if (!plain && !measure(p, e, escapes, single_line, count, max)) return false;
    if (check) return true;
    uint32_t unit = max <= 0xFF ? 1 : max <= 0xFFFF ? 2 : 4;
    node_id n = series::alloc_by_encoding(count, unit);
    refresh(st); // the allocation may have moved a binary! input
    p = st.base + start;
    e = st.base + end;
    series_buffer* b = memory::buffer_of(n);
    uint8_t* w = b->head;
    if (plain) {
        std::memcpy(w, p, count);
    } else {
        while (p < e) {
            uint32_t cp = static_cast<uint32_t>(next_char(p, e, escapes, single_line));
            if (unit == 1) *w = static_cast<uint8_t>(cp);
            else if (unit == 2) {
                auto v = static_cast<uint16_t>(cp);
                std::memcpy(w, &v, 2);
            } else {
                std::memcpy(w, &cp, 4);
            }
            w += unit;
        }
    }
    b->tail = b->head + count * unit;
    out->header = T_string | (out->header & CELL_NEW_LINE);
    out->w1 = 0;
    out->w2 = n;
    out->w3 = 0;
    return true;
}

size_t raw_string_end(const state& st, size_t start) {
    size_t p = start, n = 0;
    while (p < st.length && st.base[p] == '%') p++, n++;
    if (p >= st.length || st.base[p] != '{') return 0;
    for (p++; p < st.length; p++) {
        uint8_t c = class_of(st.base[p]);
        if (c == cls::nul || c == cls::bad) return 0;
        if (st.base[p] != '}') continue;
        size_t q = p + 1, k = 0;
        while (q < st.length && st.base[q] == '%') q++, k++;
        if (k > n) return 0;
        if (k < n) {
            p = q - 1; // a `}` with fewer `%` is text
            continue;
        }
        bool delimited = q == st.length || transitions[S_RAW_CLOSE][class_of(st.base[q])] == F_RAW_STRING;
        return delimited ? q : 0;
    }
    return 0;
}

} // namespace zyl::lexer
