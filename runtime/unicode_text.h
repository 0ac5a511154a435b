// runtime/unicode_text.h: helpers shared by the Unicode and case-folding units; not an interface.
//
// Units are read and written through memcpy: a head may sit at any byte offset once a buffer
// has widened in place, and the copies compile to plain loads and stores.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "datatypes/cell.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::unicode::text {

// The unit of text buffer [b]; any unit but 1, 2 or 4 stops the process (runtime error 101).
inline uint32_t unit_of(const series_buffer* b) {
    uint32_t u = b->unit();
    if (ZYL_UNLIKELY(u != 1 && u != 2 && u != 4)) runtime_error(RT_NO_SWITCH, b);
    return u;
}

inline uint32_t get(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void put(uint8_t* p, uint32_t unit, uint32_t cp) {
    if (unit == 1) {
        *p = static_cast<uint8_t>(cp);
    } else if (unit == 2) {
        auto v = static_cast<uint16_t>(cp);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &cp, 4);
    }
}

// The narrowest unit that holds [cp].
inline uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// The text of a value: from its index (clamped to the tail) to the tail.
struct range {
    uint8_t* start;
    uint8_t* end;
    uint32_t unit;
};

// The range of text value [v], cut to [max] code points unless [max] is negative.
inline range range_of(const cell* v, int64_t max) {
    series_buffer* b = memory::buffer_of(v->w2);
    uint32_t unit = unit_of(b);
    uint64_t length = b->used_bytes() / unit;
    uint64_t index = v->w1 < length ? v->w1 : length;
    uint64_t count = length - index;
    if (max >= 0 && uint64_t(max) < count) count = uint64_t(max);
    uint8_t* start = b->head + index * unit;
    return {start, start + count * unit, unit};
}

// Makes room for [bytes] bytes from the head of text buffer [n]; returns the buffer.
inline series_buffer* reserve_from_head(node_id n, uint64_t bytes) {
    series_buffer* b = memory::buffer_of(n);
    if (uint64_t(b->end() - b->head) >= bytes) return b;
    return series::expand(n, bytes);
}

// Makes room for [bytes] more bytes after the tail of [n], growing by half at least, so that
// text loaded in chunks is not copied once a chunk; returns the buffer.
inline series_buffer* reserve_tail(node_id n, uint64_t bytes) {
    series_buffer* b = memory::buffer_of(n);
    if (uint64_t(b->end() - b->tail) >= bytes) return b;
    uint64_t need = b->used_bytes() + bytes;
    uint64_t grown = uint64_t(b->size) + b->size / 2;
    if (grown > need && grown <= MAX_BUFFER_BYTES) need = grown;
    return series::expand(n, need);
}

// Raises access `invalid-utf8` for the bad sequence at [p]; its argument is a binary! of the
// bytes from there, at most 4 and at most [room].
[[noreturn]] void invalid_utf8(const uint8_t* p, int64_t room);
// Raises script `invalid-char` with [cp] as an integer! argument.
[[noreturn]] void invalid_char(uint32_t cp);

// Stores the 16 ASCII bytes [v] at [out] as 16 units of [Unit] bytes.
template <uint32_t Unit> inline void store_ascii(uint8_t* out, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (Unit == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    } else if constexpr (Unit == 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(v, zero));
    } else {
        __m128i lo = _mm_unpacklo_epi8(v, zero);
        __m128i hi = _mm_unpackhi_epi8(v, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(hi, zero));
    }
}

// What check_sequence found.
enum class seq { ok, cut, bad };

// Checks the UTF-8 sequence at [p], [room] > 0 bytes being readable. ok: [cp] and [len] are
// set. cut: the input ends inside a sequence whose bytes so far are valid. bad: invalid.
// Valid is RFC 3629 UTF-8 less U+FFFE: the second byte's range excludes overlong forms,
// surrogates and code points above 0x10FFFF.
inline seq check_sequence(const uint8_t* p, int64_t room, uint32_t& cp, int& len) {
    uint32_t b0 = p[0];
    if (b0 < 0x80) {
        cp = b0;
        len = 1;
        return seq::ok;
    }
    if (b0 < 0xC2 || b0 > 0xF4) return seq::bad;
    len = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    uint32_t lo = b0 == 0xE0 ? 0xA0 : b0 == 0xF0 ? 0x90 : 0x80;
    uint32_t hi = b0 == 0xED ? 0x9F : b0 == 0xF4 ? 0x8F : 0xBF;
    cp = b0 & (0x7F >> len);
    for (int i = 1; i < len; i++) {
        if (i == room) return seq::cut;
        uint32_t b = p[i];
        if (b < lo || b > hi) return seq::bad;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    return cp == 0xFFFE ? seq::bad : seq::ok;
}

} // namespace zyl::unicode::text
