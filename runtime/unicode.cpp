// runtime/unicode.cpp: single code points, the UTF-8 automaton, and widening text in place.
#include "runtime/unicode.h"

#include <emmintrin.h>

#include <algorithm>

#include "runtime/unicode_text.h"

namespace zyl::unicode {

// {== Single code points

int utf8_lead_length(uint8_t byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

int utf8_length_of(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= MAX_CODE_POINT) return 4;
    text::invalid_char(cp);
}

int encode_utf8(uint32_t cp, uint8_t* out) {
    int n = utf8_length_of(cp);
    if (n == 1) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    static constexpr uint8_t lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int i = n - 1; i > 0; i--, cp >>= 6) out[i] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    out[0] = static_cast<uint8_t>(lead[n] | cp);
    return n;
}

int encode_utf8_bounded(uint32_t cp, uint8_t* out, int64_t room) {
    uint8_t seq[4];
    int n = encode_utf8(cp, seq);
    if (room < n) n = room > 0 ? static_cast<int>(room) : 0;
    std::memcpy(out, seq, n);
    return n;
}

int encode_utf16le(uint32_t cp, uint8_t* out) {
    if (cp > MAX_CODE_POINT) return 0;
    if (cp < 0x10000) {
        text::put(out, 2, cp);
        return 1;
    }
    text::put(out, 2, 0xD800 | ((cp - 0x10000) >> 10));
    text::put(out + 2, 2, 0xDC00 | (cp & 0x3FF));
    return 2;
}

// }==

// {== The UTF-8 automaton
//
// A byte's class, then a transition table whose states are multiples of 12: 0 accepts,
// 12 rejects, the others wait for continuation bytes. It rejects what RFC 3629 forbids.

namespace {

constexpr uint8_t ACCEPT = 0;
constexpr uint8_t REJECT = 12;

constexpr uint8_t utf8_class[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};

constexpr uint8_t utf8_next[108] = {
    0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, // 0: start
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 12: rejected
    12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12, // 24: one byte to come
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12, // 36: two to come
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, // 48: after E0
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12, // 60: after ED
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, // 72: after F0
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, // 84: after F1-F3
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 96: after F4
};

// Bytes from [p] up to [end], at most 16 at a time, that are all ASCII.
const uint8_t* skip_ascii(const uint8_t* p, const uint8_t* end) {
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(v);
        if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
    while (p < end && *p < 0x80) p++;
    return p;
}

} // namespace

const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& cp) {
    if (p >= end) {
        cp = -1;
        return p;
    }
    uint32_t byte = *p++;
    uint32_t cls = utf8_class[byte];
    uint32_t value = (0xFFu >> cls) & byte;
    uint32_t state = utf8_next[cls];
    while (state != ACCEPT && state != REJECT) {
        if (p == end) {
            cp = -1;
            return p;
        }
        byte = *p++;
        value = (byte & 0x3F) | (value << 6);
        state = utf8_next[state + utf8_class[byte]];
    }
    cp = state == ACCEPT ? static_cast<int32_t>(value) : -1;
    return p;
}

int64_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    int64_t count = 0;
    const uint8_t* p = start;
    while (p < end) {
        const uint8_t* q = skip_ascii(p, end);
        count += q - p;
        if (q == end) break;
        int32_t cp;
        p = decode_utf8_char(q, end, cp);
        count++;
    }
    return count;
}

const uint8_t* skip_utf8_chars(const uint8_t* start, const uint8_t* end, int64_t n) {
    const uint8_t* p = start;
    for (; n > 0 && p < end; n--) {
        int32_t cp;
        p = *p < 0x80 ? p + 1 : decode_utf8_char(p, end, cp);
    }
    return p;
}

std::string repair_utf8(const uint8_t* p, size_t n) {
    std::string out;
    out.reserve(n);
    const uint8_t* end = p + n;
    while (p < end) {
        const uint8_t* run = p;
        while (p < end && *p < 0x80) p++;
        out.append(reinterpret_cast<const char*>(run), size_t(p - run));
        if (p == end) break;
        const uint8_t* from = p;
        int32_t cp;
        p = decode_utf8_char(p, end, cp);
        if (cp >= 0) {
            out.append(reinterpret_cast<const char*>(from), size_t(p - from));
            continue;
        }
        if (p - from > 1 && (p[-1] & 0xC0) != 0x80) p--;
        if (p == from) p++;
        out += "\xEF\xBF\xBD";
    }
    return out;
}

// }==

// {== Checked decoding

int32_t decode_utf8_checked(const uint8_t* p, int64_t& room) {
    if (room <= 0) return -1;
    uint32_t cp;
    int len;
    switch (text::check_sequence(p, room, cp, len)) {
    case text::seq::ok:
        room = len;
        return static_cast<int32_t>(cp);
    case text::seq::cut:
        return -1;
    case text::seq::bad:
        break;
    }
    text::invalid_utf8(p, room);
}

// }==

// {== Raising

namespace text {

void invalid_utf8(const uint8_t* p, int64_t room) {
    uint8_t bytes[4];
    auto n = static_cast<uint32_t>(std::clamp<int64_t>(room, 0, 4));
    std::memcpy(bytes, p, n); // first: [p] may lie in a buffer that the allocation moves
    node_id bin = series::alloc_bytes(n);
    series_buffer* b = memory::buffer_of(bin);
    std::memcpy(b->head, bytes, n);
    b->tail = b->head + n;
    const cell arg{T_binary, 0, bin, 0};
    error::raise(error::cat_access, error::access_invalid_utf8, &arg);
}

void invalid_char(uint32_t cp) {
    const cell arg{T_integer, 0, cp, 0};
    error::raise(error::cat_script, error::script_invalid_char, &arg);
}

} // namespace text

// }==

// {== Widening in place

namespace {

// Widens [count] units of 1 byte at [p] to 2 bytes, last to first.
void widen_bytes_to_16(uint8_t* p, uint64_t count) {
    const __m128i zero = _mm_setzero_si128();
    while (count >= 16) {
        count -= 16;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + count));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + count * 2 + 16), _mm_unpackhi_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + count * 2), _mm_unpacklo_epi8(v, zero));
    }
    while (count-- > 0) text::put(p + count * 2, 2, p[count]);
}

// Widens [count] units of 2 bytes at [p] to 4 bytes, last to first.
void widen_16_to_32(uint8_t* p, uint64_t count) {
    const __m128i zero = _mm_setzero_si128();
    while (count >= 8) {
        count -= 8;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + count * 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + count * 4 + 16), _mm_unpackhi_epi16(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + count * 4), _mm_unpacklo_epi16(v, zero));
    }
    while (count-- > 0) text::put(p + count * 4, 4, text::get(p + count * 2, 2));
}

// Widens [count] units of 1 byte at [p] to 4 bytes, last to first.
void widen_bytes_to_32(uint8_t* p, uint64_t count) {
    const __m128i zero = _mm_setzero_si128();
    while (count >= 16) {
        count -= 16;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + count));
        __m128i lo = _mm_unpacklo_epi8(v, zero);
        __m128i hi = _mm_unpackhi_epi8(v, zero);
        uint8_t* q = p + count * 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 48), _mm_unpackhi_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 32), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_unpacklo_epi16(lo, zero));
    }
    while (count-- > 0) text::put(p + count * 4, 4, p[count]);
}

// Sets the unit of [b] to [unit] with [count] units from its head.
series_buffer* set_unit(series_buffer* b, uint32_t unit, uint64_t count) {
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | unit;
    b->tail = b->head + count * unit;
    return b;
}

} // namespace

series_buffer* widen_1_to_2(node_id n) {
    uint64_t bytes = memory::buffer_of(n)->used_bytes();
    series_buffer* b = text::reserve_from_head(n, 2 * bytes + 2);
    widen_bytes_to_16(b->head, bytes);
    return set_unit(b, 2, bytes);
}

series_buffer* widen_1_to_4(node_id n) {
    uint64_t bytes = memory::buffer_of(n)->used_bytes();
    series_buffer* b = text::reserve_from_head(n, 4 * bytes + 4);
    widen_bytes_to_32(b->head, bytes);
    return set_unit(b, 4, bytes);
}

series_buffer* widen_2_to_4(node_id n) {
    uint64_t bytes = memory::buffer_of(n)->used_bytes();
    series_buffer* b = text::reserve_from_head(n, 2 * bytes + 4);
    widen_16_to_32(b->head, bytes / 2);
    return set_unit(b, 4, bytes / 2);
}

series_buffer* widen_to(node_id n, uint32_t unit) {
    uint32_t from = text::unit_of(memory::buffer_of(n));
    if (from >= unit) return memory::buffer_of(n);
    if (unit == 2) return widen_1_to_2(n);
    return from == 1 ? widen_1_to_4(n) : widen_2_to_4(n);
}

// }==

} // namespace zyl::unicode
