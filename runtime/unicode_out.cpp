// runtime/unicode_out.cpp: text buffers to UTF-8 and UTF-16LE.
#include <emmintrin.h>

#include "runtime/unicode.h"
#include "runtime/unicode_text.h"

namespace zyl::unicode {

namespace {

// The data of conversion buffer [conv], made or grown to hold [bytes]; may allocate.
uint8_t* conversion(node_id& conv, uint64_t bytes) {
    if (!conv) {
        conv = series::alloc_bytes(bytes);
    } else if (memory::buffer_of(conv)->size < bytes) {
        series::expand_buffer(conv, bytes);
    }
    series_buffer* b = memory::buffer_of(conv);
    b->head = b->tail = b->data();
    return b->head;
}

// Ends conversion buffer [conv]'s text at [end].
void finish(node_id conv, uint8_t* end) { memory::buffer_of(conv)->tail = end; }

// Units of [r].
inline uint64_t count_of(const text::range& r) { return uint64_t(r.end - r.start) / r.unit; }

// Copies the ASCII bytes of a unit-1 range 16 at a time, up to the first byte that needs
// encoding (non-ASCII, or LF with line-end conversion).
void copy_ascii(const uint8_t*& p, const uint8_t* end, uint8_t*& out, bool line_end) {
    const __m128i lf = _mm_set1_epi8(10);
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(v);
        if (line_end) mask |= _mm_movemask_epi8(_mm_cmpeq_epi8(v, lf));
        if (mask) {
            int k = __builtin_ctz(static_cast<unsigned>(mask));
            std::memcpy(out, p, k);
            p += k;
            out += k;
            return;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        p += 16;
        out += 16;
    }
}

// Writes the UTF-8 of [r] at [out]; with [line_end] LF becomes CR LF. Returns the end.
uint8_t* write_range(const text::range& r, uint8_t* out, bool line_end) {
    const uint8_t* p = r.start;
    while (p < r.end) {
        if (r.unit == 1) {
            copy_ascii(p, r.end, out, line_end);
            if (p == r.end) break;
        }
        uint32_t cp = text::get(p, r.unit);
        p += r.unit;
        if (cp < 0x80) {
            if (cp == 10 && line_end) *out++ = 13;
            *out++ = static_cast<uint8_t>(cp);
        } else {
            out += encode_utf8(cp, out);
        }
    }
    return out;
}

// Writes the UTF-16LE of [r] at [out]; with [line_end] LF gets a CR before it. Returns the
// end, or null at a code point above 0x10FFFF.
uint8_t* write_utf16_range(const text::range& r, uint8_t* out, bool line_end) {
    for (const uint8_t* p = r.start; p < r.end; p += r.unit) {
        uint32_t cp = text::get(p, r.unit);
        if (cp == 10 && line_end) {
            text::put(out, 2, 13);
            out += 2;
        }
        int n = encode_utf16le(cp, out);
        if (n == 0) return nullptr;
        out += 2 * n;
    }
    return out;
}

} // namespace

// {== UTF-8

const uint8_t* to_utf8(const cell* value, int64_t& length, node_id& conv) {
    return to_utf8_part(value, length, false, conv);
}

const uint8_t* to_utf8_part(const cell* value, int64_t& length, bool line_end, node_id& conv) {
    const cell v = *value;
    text::range r = text::range_of(&v, length);
    uint64_t per = r.unit == 4 ? 4 : r.unit + 1; // UTF-8 bytes a unit may need, CR LF included
    uint8_t* out = conversion(conv, per * (count_of(r) + 1));
    r = text::range_of(&v, length); // the allocation may have moved the text
    uint8_t* end = write_range(r, out, line_end);
    *end = 0;
    finish(conv, end);
    length = end - out;
    return out;
}

uint64_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint64_t size = 0;
    if (unit == 1) {
        for (const uint8_t* p = start; p < end; p++) size += 1 + (*p >> 7);
        return size;
    }
    for (const uint8_t* p = start; p < end; p += unit) size += utf8_length_of(text::get(p, unit));
    return size;
}

int64_t write_utf8(const cell* value, uint8_t* out, int64_t max, bool terminate) {
    uint8_t* end = write_range(text::range_of(value, max), out, false);
    if (terminate) *end = 0;
    return end - out;
}

int64_t write_utf8_bounded(const cell* value, uint8_t* out, int64_t room, int64_t max, bool terminate) {
    text::range r = text::range_of(value, max);
    uint8_t* o = out;
    for (const uint8_t* p = r.start; p < r.end && room > 0; p += r.unit) {
        int n = encode_utf8_bounded(text::get(p, r.unit), o, room);
        o += n;
        room -= n;
    }
    if (terminate) *o = 0;
    return o - out;
}

// }==

// {== UTF-16LE

uint64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit, bool line_end) {
    uint64_t extra = 0;
    for (const uint8_t* p = start; p < end; p += unit) {
        uint32_t cp = text::get(p, unit);
        if (cp > 0xFFFF || (cp == 10 && line_end)) extra += 2;
    }
    return extra;
}

const uint8_t* to_utf16(const cell* value, int64_t& length, bool line_end, node_id& conv) {
    const cell v = *value;
    text::range r = text::range_of(&v, length);
    uint64_t size = 2 * count_of(r) + 2 + utf16_extra_size(r.start, r.end, r.unit, line_end);
    uint8_t* out = conversion(conv, size);
    r = text::range_of(&v, length); // the allocation may have moved the text
    uint8_t* end = write_utf16_range(r, out, line_end);
    if (!end) {
        length = 0;
        return nullptr;
    }
    text::put(end, 2, 0);
    finish(conv, end);
    length = (end - out) / 2;
    return out;
}

const uint8_t* to_utf16_whole(const cell* value, node_id& conv) {
    int64_t length = -1;
    return to_utf16(value, length, true, conv);
}

void ascii_to_utf16(const char* bytes, uint8_t* out) {
    for (; *bytes; bytes++, out += 2) text::put(out, 2, static_cast<uint8_t>(*bytes));
    text::put(out, 2, 0);
}

// }==

} // namespace zyl::unicode
