// library/json_text.h: JSON string escapes, read and resolved: the one decoder that the JSON
// scanner and the `unescape` routine of the JSON codec share.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::json_text {

// The value of hexadecimal digit [c], or -1.
inline int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Reads the escape whose backslash is at [s][pos] (of [n] characters): answers the position
// after it and stores its character in [cp], or answers -1 for a malformed escape. A high
// surrogate must be followed by a \u escape of a low one, and the pair gives one character;
// a lone low surrogate stands for itself. A quote, backslash or slash stands for itself; any
// other letter is malformed (the grammar never hands one over, but `unescape` takes any text).
template <typename C> int64_t read_escape(const C* s, uint32_t pos, uint32_t n, uint32_t& cp) {
    if (pos + 1 >= n) return -1;
    uint32_t c = s[pos + 1];
    switch (c) {
    case 'b': cp = 8; return pos + 2;
    case 'f': cp = 12; return pos + 2;
    case 'n': cp = 10; return pos + 2;
    case 'r': cp = 13; return pos + 2;
    case 't': cp = 9; return pos + 2;
    case 'u': break;
    case '"': case '\\': case '/': cp = c; return pos + 2;
    default: return -1;
    }
    auto unit4 = [&](uint32_t at, uint32_t& v) {
        if (at + 4 > n) return false;
        v = 0;
        for (uint32_t i = 0; i < 4; i++) {
            int d = hex_value(s[at + i]);
            if (d < 0) return false;
            v = v << 4 | uint32_t(d);
        }
        return true;
    };
    uint32_t hi;
    if (!unit4(pos + 2, hi)) return -1;
    if (hi < 0xD800 || hi > 0xDBFF) {
        cp = hi;
        return pos + 6;
    }
    uint32_t lo;
    if (pos + 12 > n || s[pos + 6] != '\\' || s[pos + 7] != 'u' || !unit4(pos + 8, lo)) return -1;
    if (lo < 0xDC00 || lo > 0xDFFF) return -1;
    cp = 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
    return pos + 12;
}

// Resolves the escapes of string [str] in its own buffer, from its index, cutting it to the
// decoded length (widening it when a character needs it). False, with the string unchanged,
// when an escape is malformed: the caller raises invalid-data. May allocate.
bool unescape(const cell* str);

} // namespace zyl::json_text
