// services/text_load.cpp: one-pass UTF-8 decoding into text of a known size and width.
#include "services/text_load.h"

#include <emmintrin.h>

#include <algorithm>

#include "runtime/unicode_text.h"

namespace zyl::text_load {

namespace {

using namespace unicode;

// Only whole ASCII blocks are stored at once: 16 ASCII bytes are 16 characters, so the
// store stays inside the counted room. Other bytes go one character at a time, the common
// two-byte form decoded inline and the rest through the full check.
template <uint32_t Unit> uint8_t* decode_at(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    while (p < end) {
        while (end - p >= 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(v)) break;
            text::store_ascii<Unit>(out, v);
            p += 16;
            out += 16 * Unit;
        }
        const uint8_t* stop = std::min<const uint8_t*>(end, p + 16);
        while (p < stop) {
            uint32_t cp = *p;
            if (cp < 0x80) {
                p++;
            } else if (cp >= 0xC2 && cp < 0xE0 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
                cp = ((cp & 0x1F) << 6) | (p[1] & 0x3F);
                p += 2;
            } else {
                int len;
                if (text::check_sequence(p, end - p, cp, len) != text::seq::ok) text::invalid_utf8(p, end - p);
                p += len;
            }
            text::put(out, Unit, cp);
            out += Unit;
        }
    }
    return out;
}

} // namespace

measure_t measure(const uint8_t* p, size_t n) {
    uint64_t continuation = 0;
    size_t i = 0;
    const __m128i limit = _mm_set1_epi8(static_cast<char>(0xC0));
    __m128i top = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // 0x80 to 0xBF are the bytes below 0xC0 taken as signed.
        continuation += unsigned(__builtin_popcount(unsigned(_mm_movemask_epi8(_mm_cmplt_epi8(v, limit)))));
        top = _mm_max_epu8(top, v);
    }
    alignas(16) uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), top);
    uint32_t high = *std::max_element(lanes, lanes + 16);
    for (; i < n; i++) {
        continuation += (p[i] & 0xC0) == 0x80;
        high = std::max<uint32_t>(high, p[i]);
    }
    // Lead bytes from 0xC4 start code points above 0xFF, from 0xF0 above 0xFFFF.
    return {n - continuation, high >= 0xF0 ? 4u : high >= 0xC4 ? 2u : 1u};
}

uint8_t* decode(const uint8_t* p, size_t n, uint8_t* out, const measure_t& m) {
    if (m.unit == 1) return decode_at<1>(p, p + n, out);
    if (m.unit == 2) return decode_at<2>(p, p + n, out);
    return decode_at<4>(p, p + n, out);
}

} // namespace zyl::text_load
