// services/inflate.cpp: the raw deflate inflater: stored, fixed and dynamic blocks, symbols
// decoded by table lookup.
//
// Invariant of the bit reader: [buf] holds [cnt] unread bits, least-significant first, and
// they are the last bytes before [in], of which the last [zeros] are zero bytes supplied past
// the end of the input. A stream that consumes one of those bits (zeros * 8 > cnt) is cut
// short: it is refused at the next refill or block end, so no stream ends early as success.
#include <algorithm>
#include <cstring>

#include "services/deflate.h"
#include "services/deflate_format.h"

namespace zyl::compress {

namespace {

using namespace format;

// {== Decoding tables

// A table entry: bits 0-3 the code length (0: not in the fast table), bits 4-5 the kind,
// bits 8-11 the count of extra bits, bits 16-31 the value (literal byte, base length or
// distance, code-length symbol).
enum kind : uint32_t { K_LITERAL = 0, K_LENGTH = 1, K_END = 2, K_BAD = 3 };
constexpr int FAST_BITS = 10;
constexpr uint32_t FAST_MASK = (1u << FAST_BITS) - 1;

constexpr uint32_t entry(uint32_t value, uint32_t extra, kind k) { return value << 16 | extra << 8 | uint32_t(k) << 4; }
inline kind kind_of(uint32_t e) { return kind((e >> 4) & 3); }

struct entry_tables {
    uint32_t lit[FIXED_LITLEN];
    uint32_t dist[FIXED_DIST];
    uint32_t codelen[CODELEN_SYMBOLS];
};

constexpr entry_tables make_entries() {
    entry_tables t{};
    for (uint32_t s = 0; s < 256; s++) t.lit[s] = entry(s, 0, K_LITERAL);
    t.lit[END_OF_BLOCK] = entry(0, 0, K_END);
    for (int i = 0; i < 29; i++) t.lit[257 + i] = entry(length_base[i], length_extra[i], K_LENGTH);
    t.lit[286] = t.lit[287] = entry(0, 0, K_BAD);
    for (int i = 0; i < DIST_SYMBOLS; i++) t.dist[i] = entry(dist_base[i], dist_extra[i], K_LENGTH);
    t.dist[30] = t.dist[31] = entry(0, 0, K_BAD);
    for (uint32_t s = 0; s < CODELEN_SYMBOLS; s++) t.codelen[s] = entry(s, 0, K_LITERAL);
    return t;
}
constexpr entry_tables ENTRIES = make_entries();

// A canonical code: codes up to FAST_BITS long are read by one lookup of the next bits; the
// longer ones (and bit patterns no code owns) by walking the counts per length.
struct huff {
    uint32_t fast[1 << FAST_BITS];
    uint16_t count[MAX_BITS + 1];
    uint16_t sorted[FIXED_LITLEN]; // symbols by code length, then by symbol
    const uint32_t* entries;
};

inline uint32_t reverse_bits(uint32_t code, int len) {
    uint32_t r = 0;
    for (int i = 0; i < len; i++, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// Builds [h] from the [n] code lengths [lens]. False for an over-subscribed code, and for an
// incomplete one unless it is a lone one-bit code or no code at all; [complete] refuses every
// incomplete code.
bool build(huff& h, const uint8_t* lens, int n, const uint32_t* entries, bool complete) {
    std::memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; s++) h.count[lens[s]]++;
    h.count[0] = 0;
    int left = 1, max = 0;
    for (int l = 1; l <= MAX_BITS; l++) {
        left = (left << 1) - h.count[l];
        if (left < 0) return false;
        if (h.count[l]) max = l;
    }
    if (left > 0 && (complete || max > 1)) return false;
    uint16_t offs[MAX_BITS + 2] = {};
    for (int l = 1; l <= MAX_BITS; l++) offs[l + 1] = uint16_t(offs[l] + h.count[l]);
    for (int s = 0; s < n; s++)
        if (lens[s]) h.sorted[offs[lens[s]]++] = uint16_t(s);
    h.entries = entries;
    std::memset(h.fast, 0, sizeof h.fast);
    uint32_t code = 0;
    int idx = 0;
    for (int l = 1; l <= FAST_BITS; l++, code <<= 1) {
        for (int k = 0; k < h.count[l]; k++, code++) {
            uint32_t e = entries[h.sorted[idx++]] | uint32_t(l);
            for (uint32_t i = reverse_bits(code, l); i <= FAST_MASK; i += 1u << l) h.fast[i] = e;
        }
    }
    return true;
}

// Decodes a code longer than FAST_BITS from [bits]; 0 when no code matches.
uint32_t slow_decode(const huff& h, uint64_t bits) {
    int code = 0, first = 0, index = 0;
    for (int l = 1; l <= MAX_BITS; l++, bits >>= 1) {
        code |= int(bits & 1);
        int count = h.count[l];
        if (code - first < count) return h.entries[h.sorted[index + code - first]] | uint32_t(l);
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return 0;
}

struct fixed_tables {
    huff lit, dist;
};

const fixed_tables& fixed() {
    static const fixed_tables t = [] {
        fixed_tables f;
        uint8_t lens[FIXED_LITLEN];
        for (int s = 0; s < FIXED_LITLEN; s++) lens[s] = fixed_litlen_length(s);
        build(f.lit, lens, FIXED_LITLEN, ENTRIES.lit, true);
        std::fill(lens, lens + FIXED_DIST, FIXED_DIST_LENGTH);
        build(f.dist, lens, FIXED_DIST, ENTRIES.dist, true);
        return f;
    }();
    return t;
}

// }==
// {== Inflater state

struct inflater {
    const uint8_t* start;
    const uint8_t* in;
    const uint8_t* end;
    uint64_t buf = 0;
    unsigned cnt = 0;
    size_t zeros = 0;
    uint8_t* out;
    size_t cap;   // bytes that may be stored
    size_t op = 0; // bytes produced, stored or not
    size_t limit;

    bool cut_short() const { return zeros * 8 > cnt; }

    // At least 56 bits buffered (at most 63); false when the stream has already read past its input.
    bool refill() {
        if (end - in >= 8) {
            uint64_t w;
            std::memcpy(&w, in, 8); // the host is little-endian
            buf |= w << cnt;
            in += (63 - cnt) >> 3;
            cnt |= 56;
            return true;
        }
        if (cut_short()) return false;
        for (; cnt < 56; cnt += 8) {
            if (in < end) buf |= uint64_t(*in++) << cnt;
            else zeros++;
        }
        return true;
    }
    void drop(unsigned n) {
        buf >>= n;
        cnt -= n;
    }
    uint32_t bits(unsigned n) { // n <= cnt
        uint32_t v = uint32_t(buf & ((uint64_t(1) << n) - 1));
        drop(n);
        return v;
    }
    uint32_t decode(const huff& h) {
        uint32_t e = h.fast[buf & FAST_MASK];
        if (!(e & 15)) e = slow_decode(h, buf);
        drop(e & 15);
        return e;
    }
};

// }==
// {== Blocks

// Appends the [len] bytes that lie [dist] back; stores only below the capacity.
inline void copy_match(inflater& s, size_t len, size_t dist) {
    size_t op = s.op;
    s.op += len;
    if (op + len + 8 <= s.cap && dist >= 8) { // word copies; the slack stays within capacity
        uint8_t* d = s.out + op;
        const uint8_t* src = d - dist;
        for (size_t i = 0; i < len; i += 8) std::memcpy(d + i, src + i, 8);
    } else if (op + len <= s.cap) {
        uint8_t* d = s.out + op;
        const uint8_t* src = d - dist;
        if (dist == 1) std::memset(d, *src, len);
        else for (size_t i = 0; i < len; i++) d[i] = src[i];
    } else if (op < s.cap) { // the copy runs past the capacity: only its head is stored
        const uint8_t* src = s.out + (op - dist);
        for (size_t i = 0; i < len && op + i < s.cap; i++) s.out[op + i] = src[i];
    }
}

// Decodes the symbols of one fixed or dynamic block.
int codes(inflater& s, const huff& lit, const huff& dist) {
    for (;;) {
        if (!s.refill()) return MALFORMED;
        uint32_t e = s.decode(lit);
        if (!(e & 15)) return MALFORMED;
        kind k = kind_of(e);
        if (k == K_LITERAL) {
            if (s.op < s.cap) s.out[s.op] = uint8_t(e >> 16);
            s.op++;
            continue;
        }
        if (k == K_END) return s.op > s.limit ? TOO_LARGE : OK;
        if (k == K_BAD) return MALFORMED;
        size_t len = (e >> 16) + s.bits((e >> 8) & 15);
        uint32_t d = s.decode(dist);
        if (!(d & 15) || kind_of(d) == K_BAD) return MALFORMED;
        size_t back = (d >> 16) + s.bits((d >> 8) & 15);
        if (back > s.op) return TOO_FAR;
        copy_match(s, len, back);
        if (s.op > s.limit) return TOO_LARGE;
    }
}

int stored(inflater& s) {
    s.drop(s.cnt & 7);
    if (!s.refill()) return MALFORMED;
    uint32_t len = s.bits(16);
    s.drop(16); // the complement is not checked
    if (s.cut_short()) return MALFORMED;
    s.in -= s.cnt / 8 - s.zeros; // hand the buffered bytes back
    s.buf = 0;
    s.cnt = 0;
    s.zeros = 0;
    if (size_t(s.end - s.in) < len) return STORED_SHORT;
    if (s.op < s.cap) std::memcpy(s.out + s.op, s.in, std::min<size_t>(len, s.cap - s.op));
    s.in += len;
    s.op += len;
    return s.op > s.limit ? TOO_LARGE : OK;
}

// Reads the code lengths of a dynamic block's two codes.
int dynamic(inflater& s) {
    if (!s.refill()) return MALFORMED;
    int hlit = int(s.bits(5)) + 257, hdist = int(s.bits(5)) + 1, hclen = int(s.bits(4)) + 4;
    if (hlit > LITLEN_SYMBOLS || hdist > DIST_SYMBOLS) return MALFORMED;
    uint8_t lens[LITLEN_SYMBOLS + DIST_SYMBOLS] = {};
    for (int i = 0; i < hclen; i++) {
        if (!s.refill()) return MALFORMED;
        lens[codelen_order[i]] = uint8_t(s.bits(3));
    }
    huff cl;
    if (!build(cl, lens, CODELEN_SYMBOLS, ENTRIES.codelen, true)) return MALFORMED;
    int n = hlit + hdist;
    std::memset(lens, 0, sizeof lens);
    for (int i = 0; i < n;) {
        if (!s.refill()) return MALFORMED;
        uint32_t e = s.decode(cl);
        if (!(e & 15)) return MALFORMED;
        uint32_t sym = e >> 16;
        if (sym < 16) {
            lens[i++] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        int rep;
        if (sym == 16) {
            if (i == 0) return MALFORMED;
            value = lens[i - 1];
            rep = 3 + int(s.bits(2));
        } else {
            rep = sym == 17 ? 3 + int(s.bits(3)) : 11 + int(s.bits(7));
        }
        if (i + rep > n) return MALFORMED;
        std::fill(lens + i, lens + i + rep, value);
        i += rep;
    }
    if (s.cut_short() || !lens[END_OF_BLOCK]) return MALFORMED;
    huff lit, dist;
    if (!build(lit, lens, hlit, ENTRIES.lit, false)) return MALFORMED;
    if (!build(dist, lens + hlit, hdist, ENTRIES.dist, false)) return MALFORMED;
    return codes(s, lit, dist);
}

int run(inflater& s) {
    for (;;) {
        if (!s.refill()) return MALFORMED;
        uint32_t last = s.bits(1), type = s.bits(2);
        int r;
        switch (type) {
        case 0: r = stored(s); break;
        case 1: r = codes(s, fixed().lit, fixed().dist); break;
        case 2: r = dynamic(s); break;
        default: return RESERVED;
        }
        if (r != OK) return r;
        if (s.cut_short()) return MALFORMED;
        if (last) return OK;
    }
}

// }==

} // namespace

int inflate_stream(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit, size_t& used) {
    inflater s;
    s.start = s.in = input;
    s.end = input + length;
    s.out = output;
    s.cap = output ? size : 0;
    s.limit = limit;
    int r = run(s);
    size = s.op;
    size_t consumed_bits = size_t(s.in - s.start) * 8 + s.zeros * 8 - s.cnt;
    used = (consumed_bits + 7) / 8;
    if (r == OK && s.op > s.cap) r = TOO_SMALL;
    return r;
}

int inflate(uint8_t* output, size_t& size, const uint8_t* input, size_t length) {
    size_t used;
    return inflate_stream(output, size, input, length, SIZE_MAX, used);
}

} // namespace zyl::compress
