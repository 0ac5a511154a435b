// services/text_load.cpp: one-pass UTF-8 decoding into text of a known size and width.
#include "services/text_load.h"

#include <emmintrin.h>

#include <algorithm>

#include "runtime/unicode_text.h"

namespace zyl::text_load {

namespace {

using namespace unicode;

// Whole ASCII blocks are stored at once: 16 ASCII bytes are 16 characters. A block with
// other bytes stores its ASCII run up to the first of them the same way when 16 more units
// fit before [limit] (the counted room's end), then decodes that character: runs between
// accented letters stay out of the byte-by-byte loop. The common two- and three-byte forms
// are decoded inline, the rest through the full check.
template <uint32_t Unit> uint8_t* decode_at(const uint8_t* p, const uint8_t* end, uint8_t* out, uint8_t* limit) {
    while (p < end) {
        if (end - p >= 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            unsigned high = unsigned(_mm_movemask_epi8(v));
            if (high == 0) {
                text::store_ascii<Unit>(out, v);
                p += 16;
                out += 16 * Unit;
                continue;
            }
            unsigned run = unsigned(__builtin_ctz(high));
            if (run && limit - out >= int64_t(16 * Unit)) {
                text::store_ascii<Unit>(out, v); // the units past the run are overwritten next
                p += run;
                out += run * Unit;
            }
        }
        uint32_t cp = *p;
        if (cp < 0x80) {
            p++;
        } else if (cp >= 0xC2 && cp < 0xE0 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            cp = ((cp & 0x1F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else if (cp > 0xE0 && cp < 0xEF && cp != 0xED && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
                   (p[2] & 0xC0) == 0x80) {
            // E1 to EC and EE: any continuation bytes, none overlong, a surrogate or U+FFFE.
            cp = ((cp & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            p += 3;
        } else {
            int len;
            if (text::check_sequence(p, end - p, cp, len) != text::seq::ok) text::invalid_utf8(p, end - p);
            p += len;
        }
        text::put(out, Unit, cp);
        out += Unit;
    }
    return out;
}

} // namespace

measure_t measure(const uint8_t* p, size_t n) {
    uint64_t continuation = 0;
    size_t i = 0;
    const __m128i limit = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i zero = _mm_setzero_si128();
    __m128i top = zero;
    while (i + 16 <= n) {
        // Each lane counts its continuation bytes (0x80 to 0xBF: below 0xC0 taken as signed)
        // for at most 255 blocks, then the lanes are summed.
        __m128i counts = zero;
        size_t stop = i + std::min<size_t>((n - i) / 16, 255) * 16;
        for (; i < stop; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, limit));
            top = _mm_max_epu8(top, v);
        }
        __m128i sums = _mm_sad_epu8(counts, zero);
        continuation += uint64_t(_mm_cvtsi128_si64(sums)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
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
    uint8_t* limit = out + m.chars * m.unit;
    if (m.unit == 1) return decode_at<1>(p, p + n, out, limit);
    if (m.unit == 2) return decode_at<2>(p, p + n, out, limit);
    return decode_at<4>(p, p + n, out, limit);
}

} // namespace zyl::text_load
