// runtime/unicode_load.cpp: loading UTF-8, UTF-16LE and Windows-1251 text into text buffers.
//
// Every loader appends after the target's tail at the target's unit, widening the buffer in
// place when a character needs more, and sets the tail only once the input is consumed: a
// raise part-way leaves the tail where it was, so the target's text is unchanged.
#include <emmintrin.h>

#include <algorithm>

#include "runtime/collector.h"
#include "runtime/unicode.h"
#include "runtime/unicode_text.h"

namespace zyl::unicode {

namespace {

// {== UTF-8 decoding runs
//
// A run decodes at one unit until the input ends, a character needs a wider unit, or the
// input is cut or invalid. Invariant on entry: the buffer has room after [out] for one unit
// per input byte left, which is all a run can write (each byte gives at most one unit).

enum class stop { done, widen, cut, bad };

struct reader {
    const uint8_t* p;
    const uint8_t* end;
    bool line_end; // CR LF and lone CR become LF
};

// Copies ASCII 16 bytes at a time until a byte that needs decoding (non-ASCII, or CR with
// line-end conversion). Each block is stored whole, then only its plain prefix is kept.
template <uint32_t Unit>
inline void copy_ascii(const uint8_t*& p, const uint8_t* end, uint8_t*& out, bool line_end) {
    const __m128i cr = _mm_set1_epi8(13);
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(v);
        if (line_end) mask |= _mm_movemask_epi8(_mm_cmpeq_epi8(v, cr));
        text::store_ascii<Unit>(out, v);
        if (mask) {
            int k = __builtin_ctz(static_cast<unsigned>(mask));
            p += k;
            out += k * Unit;
            return;
        }
        p += 16;
        out += 16 * Unit;
    }
}

template <uint32_t Unit>
stop decode_run(reader& r, uint8_t*& out, uint32_t& pending) {
    constexpr uint32_t max = Unit == 1 ? 0xFF : Unit == 2 ? 0xFFFF : MAX_CODE_POINT;
    const uint8_t* p = r.p;
    const uint8_t* end = r.end;
    uint8_t* o = out;
    stop result = stop::done;
    while (p < end) {
        copy_ascii<Unit>(p, end, o, r.line_end);
        if (p == end) break;
        uint32_t cp = *p;
        if (cp < 0x80) {
            p++;
            if (cp == 13 && r.line_end) {
                if (p < end && *p == 10) continue; // the LF is stored next
                cp = 10;
            }
        } else {
            int len;
            text::seq s = text::check_sequence(p, end - p, cp, len);
            if (s != text::seq::ok) {
                result = s == text::seq::cut ? stop::cut : stop::bad;
                break;
            }
            p += len;
            if (cp > max) {
                pending = cp;
                result = stop::widen;
                break;
            }
        }
        text::put(o, Unit, cp);
        o += Unit;
    }
    r.p = p;
    out = o;
    return result;
}

stop decode_at(uint32_t unit, reader& r, uint8_t*& out, uint32_t& pending) {
    if (unit == 1) return decode_run<1>(r, out, pending);
    if (unit == 2) return decode_run<2>(r, out, pending);
    return decode_run<4>(r, out, pending);
}

// Widens [n], whose text ends at [out], so that it holds [cp] and one unit a byte of the
// [left] input bytes; stores [cp]. Returns where the next unit goes.
uint8_t* widen_for(node_id n, uint8_t* out, uint32_t cp, uint64_t left) {
    series_buffer* b = memory::buffer_of(n);
    b->tail = out;
    uint32_t wide = text::unit_for(cp);
    uint64_t count = b->used_bytes() / b->unit();
    text::reserve_from_head(n, (count + 1 + left) * wide);
    b = widen_to(n, wide);
    text::put(b->tail, wide, cp);
    return b->tail + wide;
}

// Sets the tail of [n] back to [length] units, for a load that failed at [p] with [room]
// bytes left, and raises.
[[noreturn]] void fail(node_id n, uint64_t length, const uint8_t* p, int64_t room) {
    series_buffer* b = memory::buffer_of(n);
    b->tail = b->head + length * b->unit();
    text::invalid_utf8(p, room);
}

// The loader behind load_utf8 and load_utf8_new; a null [remaining] makes a cut input invalid.
node_id load(const uint8_t* bytes, int64_t length, node_id target, int64_t* remaining, bool line_end) {
    ZYL_ASSERT(length >= 0);
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        length -= 3;
    }
    node_id n = target ? target : series::alloc(std::max<int64_t>(length, 1), 1, 0);
    collector::keep_node k_n(&n); // widening may collect
    uint32_t unit = text::unit_of(memory::buffer_of(n));
    uint64_t before = memory::buffer_of(n)->used_bytes() / unit;
    reader r{bytes, bytes + length, line_end};
    // The input may lie in a series buffer (a binary!) that a collection moves.
    uint8_t* in = const_cast<uint8_t*>(r.p);
    collector::pin p_in(&in);
    uint8_t* out = text::reserve_tail(n, uint64_t(length) * unit)->tail;
    r.p = in;
    r.end = in + length;
    for (;;) {
        uint32_t pending = 0;
        stop s = decode_at(unit, r, out, pending);
        if (s != stop::widen) {
            if (s == stop::bad || (s == stop::cut && !remaining)) fail(n, before, r.p, r.end - r.p);
            if (remaining) *remaining = r.end - r.p;
            memory::buffer_of(n)->tail = out;
            return n;
        }
        int64_t left = r.end - r.p;
        in = const_cast<uint8_t*>(r.p);
        out = widen_for(n, out, pending, left);
        r.p = in;
        r.end = in + left;
        unit = text::unit_for(pending);
    }
}

// }==

// {== UTF-16LE and Windows-1251

inline uint32_t unit16(const uint8_t* p) { return text::get(p, 2); }

// Appends [count] UTF-16LE units at [out] of a buffer of [unit] (1 or 2); returns the end.
uint8_t* copy_utf16(const uint8_t* units, int64_t count, uint8_t* out, uint32_t unit, bool line_end) {
    for (int64_t i = 0; i < count; i++) {
        uint32_t u = unit16(units + 2 * i);
        if (u == 13 && line_end) continue;
        text::put(out, unit, u);
        out += unit;
    }
    return out;
}

// As copy_utf16 into a unit-4 buffer, joining surrogate pairs; null on a high surrogate
// without its low one, whose index goes to [bad].
uint8_t* join_utf16(const uint8_t* units, int64_t count, uint8_t* out, bool line_end, int64_t& bad) {
    for (int64_t i = 0; i < count; i++) {
        uint32_t u = unit16(units + 2 * i);
        if (u == 13 && line_end) continue;
        if (u >= 0xD800 && u <= 0xDBFF) {
            uint32_t lo = i + 1 < count ? unit16(units + 2 * (i + 1)) : 0;
            if (lo < 0xDC00 || lo > 0xDFFF) {
                bad = i;
                return nullptr;
            }
            u = (((u & 0x3FF) << 10) | (lo & 0x3FF)) + 0x10000;
            i++;
        }
        text::put(out, 4, u);
        out += 4;
    }
    return out;
}

// The buffer a loader appends [count] units of at least [unit] to: [target] widened as
// needed, or a new buffer. [before] receives the units already there.
node_id target_for(node_id target, int64_t count, uint32_t& unit, uint64_t& before) {
    node_id n = target ? target : series::alloc_by_encoding(count, unit);
    collector::keep_node k_n(&n); // growing may collect
    series_buffer* b = memory::buffer_of(n);
    uint32_t have = text::unit_of(b);
    before = b->used_bytes() / have;
    if (have >= unit) {
        unit = have;
        text::reserve_tail(n, uint64_t(count) * unit);
    } else {
        text::reserve_from_head(n, (before + count) * unit);
        widen_to(n, unit);
    }
    return n;
}

#include "runtime/cp1251_table.inc"

// The code point of Windows-1251 byte [byte].
inline uint32_t from_cp1251(uint8_t byte) {
    return byte < 0x80 ? byte : cp1251_high[byte - 0x80];
}

// }==

} // namespace

node_id load_utf8(const uint8_t* bytes, int64_t length, node_id target, int64_t& remaining,
                  bool line_end) {
    return load(bytes, length, target, &remaining, line_end);
}

node_id load_utf8_into(const uint8_t* bytes, int64_t length, const cell* value, int64_t& remaining) {
    return load(bytes, length, value->w2, &remaining, false);
}

node_id load_utf8_new(const uint8_t* bytes, int64_t length) {
    return load(bytes, length, 0, nullptr, false);
}

uint32_t utf16_unit_of(const uint8_t* units, int64_t count) {
    uint32_t unit = 1;
    for (int64_t i = 0; i < count; i++) {
        uint8_t high = units[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) unit = 2;
    }
    return unit;
}

node_id load_utf16le(const uint8_t* units, int64_t count, node_id target, bool line_end) {
    ZYL_ASSERT(count >= 0);
    uint32_t unit = count || target ? utf16_unit_of(units, count) : 2; // a new empty text: 2
    uint64_t before;
    node_id n = target_for(target, count, unit, before);
    series_buffer* b = memory::buffer_of(n);
    int64_t bad = 0;
    uint8_t* end = unit == 4 ? join_utf16(units, count, b->tail, line_end, bad)
                             : copy_utf16(units, count, b->tail, unit, line_end);
    if (!end) fail(n, before, units + 2 * bad, 2 * (count - bad));
    b->tail = end;
    b->flags |= TEXT_FROM_UTF16;
    return n;
}

node_id load_cp1251(const uint8_t* bytes, int64_t count, node_id target, bool line_end) {
    ZYL_ASSERT(count >= 0);
    uint32_t unit = 1;
    for (int64_t i = 0; i < count; i++) unit = std::max(unit, text::unit_for(from_cp1251(bytes[i])));
    uint64_t before;
    node_id n = target_for(target, count, unit, before);
    series_buffer* b = memory::buffer_of(n);
    uint8_t* out = b->tail;
    for (int64_t i = 0; i < count; i++) {
        uint32_t cp = from_cp1251(bytes[i]);
        if (cp == 13 && line_end) {
            if (i + 1 < count && bytes[i + 1] == 10) continue;
            cp = 10;
        }
        text::put(out, unit, cp);
        out += unit;
    }
    b->tail = out;
    return n;
}

} // namespace zyl::unicode
