// services/deflate.cpp: the raw deflate compressor: hash chains over a 32 KB window, lazy
// matching, and blocks of 16,384 symbols each written stored, with fixed codes or with
// dynamic codes, whichever costs fewest bits.
//
// Invariant of the matcher: every position p <= length - 3 is inserted exactly once and in
// order; head[h] is the latest inserted position of hash h (-1: none) and prev[p & 0x7FFF] the
// one before it, so a chain read from a position within the window never meets an entry that
// a later position has overwritten.
#include "services/deflate.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "services/deflate_format.h"
#include "services/huffman.h"

namespace zyl::compress {

namespace {

using namespace format;

// {== Tables

struct level_params {
    uint16_t good;  // a previous match this long searches a quarter of the chain
    uint16_t lazy;  // a previous match this long is taken without searching
    uint16_t nice;  // a match this long ends the search
    uint16_t chain; // candidates searched at most
};
constexpr level_params LEVELS[10] = {{8, 16, 128, 128}, {4, 4, 8, 4},       {4, 5, 16, 8},     {4, 6, 32, 32},
                                     {4, 4, 16, 16},    {8, 16, 32, 32},    {8, 16, 128, 128}, {8, 32, 128, 256},
                                     {32, 128, 258, 1024}, {32, 258, 258, 4096}};

constexpr uint32_t WMASK = WINDOW - 1;
constexpr uint32_t MAX_DIST = 32767;
constexpr uint32_t TOO_FAR = 4096; // a length-3 match farther than this costs more than its literals
constexpr int BLOCK_SYMBOLS = 16384;
constexpr uint32_t STORED_MAX = 65535;

struct code_tables {
    uint8_t length_code[256]; // match length - 3 -> length symbol - 257
    uint8_t dist_code[512];   // distance - 1 below 256, else 256 + ((distance - 1) >> 7) -> symbol
    uint8_t reverse[256];     // bit-reversed bytes
    uint16_t fixed_lit_code[FIXED_LITLEN];
    uint8_t fixed_lit_len[FIXED_LITLEN];
    uint16_t fixed_dist_code[DIST_SYMBOLS];
    uint8_t fixed_dist_len[DIST_SYMBOLS];
};

// Canonical codes, bit-reversed for writing least-significant bit first, from [len].
constexpr void make_codes(const uint8_t* reverse, const uint8_t* len, uint16_t* code, int n) {
    uint16_t count[MAX_BITS + 1] = {}, next[MAX_BITS + 2] = {};
    for (int s = 0; s < n; s++) count[len[s]]++;
    count[0] = 0;
    for (int b = 1; b <= MAX_BITS; b++) next[b + 1] = uint16_t((next[b] + count[b]) << 1);
    for (int s = 0; s < n; s++) {
        int l = len[s];
        if (!l) continue;
        uint32_t c = next[l]++;
        uint32_t r = uint32_t(reverse[c & 0xFF]) << 8 | reverse[c >> 8];
        code[s] = uint16_t(r >> (16 - l));
    }
}

// Built by the compiler: done at start, these loops were a good part of an empty script's run.
constexpr code_tables make_tables() {
    code_tables t{};
    for (int i = 0; i < 256; i++) {
        int r = 0;
        for (int b = 0; b < 8; b++) r |= ((i >> b) & 1) << (7 - b);
        t.reverse[i] = uint8_t(r);
    }
    for (int c = 0; c < 29; c++) {
        int span = c == 28 ? 1 : 1 << length_extra[c];
        for (int k = 0; k < span; k++) t.length_code[length_base[c] - 3 + k] = uint8_t(c);
    }
    t.length_code[255] = 28; // length 258 has its own symbol, not 227 + 31 of symbol 284
    for (int c = 0; c < DIST_SYMBOLS; c++) {
        for (int k = 0; k < (1 << dist_extra[c]); k++) {
            int d = dist_base[c] - 1 + k;
            if (d < 256) t.dist_code[d] = uint8_t(c);
            else t.dist_code[256 + (d >> 7)] = uint8_t(c);
        }
    }
    for (int s = 0; s < FIXED_LITLEN; s++) t.fixed_lit_len[s] = fixed_litlen_length(s);
    for (int s = 0; s < DIST_SYMBOLS; s++) t.fixed_dist_len[s] = FIXED_DIST_LENGTH;
    make_codes(t.reverse, t.fixed_lit_len, t.fixed_lit_code, FIXED_LITLEN);
    make_codes(t.reverse, t.fixed_dist_len, t.fixed_dist_code, DIST_SYMBOLS);
    return t;
}

constexpr code_tables T = make_tables();

inline uint32_t dist_symbol(uint32_t dist) {
    uint32_t d = dist - 1;
    return d < 256 ? T.dist_code[d] : T.dist_code[256 + (d >> 7)];
}

// }==
// {== Bit writer

// Bits go in least-significant first; whole 32-bit words leave the buffer, and a byte is
// stored only below the capacity. [pos] counts every byte, stored or not.
struct bit_writer {
    uint8_t* out;
    size_t cap;
    size_t pos = 0;
    uint64_t buf = 0;
    unsigned bits = 0; // below 32 between calls

    void put(uint32_t value, unsigned n) {
        buf |= uint64_t(value) << bits;
        bits += n;
        if (bits >= 32) {
            store_word(uint32_t(buf));
            buf >>= 32;
            bits -= 32;
        }
    }
    void store_word(uint32_t w) {
        if (pos + 4 <= cap) {
            std::memcpy(out + pos, &w, 4); // the host is little-endian
        } else {
            for (int i = 0; i < 4; i++)
                if (pos + size_t(i) < cap) out[pos + size_t(i)] = uint8_t(w >> (8 * i));
        }
        pos += 4;
    }
    // Pads to a byte and writes out every whole byte.
    void align() {
        bits = (bits + 7) & ~7u;
        for (; bits; bits -= 8, buf >>= 8) {
            if (pos < cap) out[pos] = uint8_t(buf);
            pos++;
        }
        buf = 0;
    }
    // Copies [n] bytes; the writer is aligned.
    void copy(const uint8_t* src, size_t n) {
        if (pos < cap) std::memcpy(out + pos, src, std::min(n, cap - pos));
        pos += n;
    }
};

// }==
// {== Compressor state

struct deflater {
    const uint8_t* in;
    size_t n;
    level_params lp;
    uint32_t hash_mask;
    size_t block_start; // first input byte of the block being gathered
    int nsyms;
    bit_writer w;
    uint32_t lit_freq[FIXED_LITLEN];
    uint32_t dist_freq[FIXED_DIST];
    uint32_t syms[BLOCK_SYMBOLS]; // a literal byte, or distance << 8 | (length - 3)
    int32_t head[WINDOW];
    uint16_t prev[WINDOW]; // distance back to the previous position of the same hash; 0: none near

};

// Hash of the three bytes at [p]; with 5 bits a byte it is the rolling hash of the window.
inline uint32_t hash3(const uint8_t* p, uint32_t mask) {
    return ((uint32_t(p[0]) << 10) ^ (uint32_t(p[1]) << 5) ^ p[2]) & mask;
}

// Inserts position [p] (<= n - 3) and answers the previous head of its hash.
inline int32_t insert(deflater& d, size_t p) {
    uint32_t h = hash3(d.in + p, d.hash_mask);
    int32_t cand = d.head[h];
    size_t back = p - size_t(cand); // cand is -1 when none: then far beyond the window
    d.prev[p & WMASK] = uint16_t(cand >= 0 && back <= MAX_DIST ? back : 0);
    d.head[h] = int32_t(p);
    return cand;
}

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Length of the common run of [a] and [b], from byte 2 up to [max].
inline unsigned common_length(const uint8_t* a, const uint8_t* b, unsigned max) {
    unsigned len = 2;
    while (len + 8 <= max) {
        uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y) return len + unsigned(__builtin_ctzll(x ^ y) >> 3);
        len += 8;
    }
    while (len < max && a[len] == b[len]) len++;
    return len;
}

// The longest match for position [p] along the chain from [cand] that beats [prev_len];
// answers its length (2 when none beats it) and its distance in [dist].
unsigned longest_match(deflater& d, size_t p, int32_t cand, unsigned prev_len, uint32_t& dist) {
    unsigned max = unsigned(std::min<size_t>(MAX_MATCH, d.n - p));
    if (prev_len >= max) return 2;
    unsigned chain = d.lp.chain;
    if (prev_len >= d.lp.good) chain >>= 2;
    unsigned nice = std::min<unsigned>(d.lp.nice, max);
    int32_t limit = p > MAX_DIST ? int32_t(p - MAX_DIST) : 0;
    const uint8_t* in = d.in;
    const uint8_t* s = in + p;
    const uint16_t* prev = d.prev;
    unsigned best = prev_len;
    uint16_t start = load16(s), end = load16(s + best - 1); // a longer match agrees on both
    bool found = false;
    for (;;) {
        const uint8_t* m = in + cand;
        if (load16(m + best - 1) == end && load16(m) == start) {
            unsigned len = common_length(m, s, max);
            if (len > best) {
                best = len;
                dist = uint32_t(p - size_t(cand));
                found = true;
                if (len >= nice) break;
                end = load16(s + best - 1);
            }
        }
        uint32_t back = prev[uint32_t(cand) & WMASK];
        cand -= int32_t(back);
        if (!back || cand < limit || --chain == 0) break;
    }
    return found ? best : 2;
}

inline void tally_literal(deflater& d, uint8_t c) {
    d.syms[d.nsyms++] = c;
    d.lit_freq[c]++;
}

inline void tally_match(deflater& d, uint32_t dist, unsigned len) {
    d.syms[d.nsyms++] = dist << 8 | (len - MIN_MATCH);
    d.lit_freq[257 + T.length_code[len - MIN_MATCH]]++;
    d.dist_freq[dist_symbol(dist)]++;
}

// }==
// {== Block writing

// One code-length code symbol of the run-length coded lengths, with its repeat count.
struct run {
    uint8_t sym;
    uint8_t extra;
};

// Run-length codes the [n] code lengths [len] into [out] (from [k] on): 16 repeats the
// previous length 3-6 times, 17 and 18 give 3-10 and 11-138 zeros.
void run_lengths(const uint8_t* len, int n, run* out, int& k) {
    int prevlen = -1, nextlen = len[0], count = 0;
    int max_count = nextlen ? 7 : 138, min_count = nextlen ? 4 : 3;
    for (int i = 0; i < n; i++) {
        int curlen = nextlen;
        nextlen = i + 1 < n ? len[i + 1] : -1;
        if (++count < max_count && curlen == nextlen) continue;
        if (count < min_count) {
            while (count--) out[k++] = {uint8_t(curlen), 0};
        } else if (curlen != 0) {
            if (curlen != prevlen) out[k++] = {uint8_t(curlen), 0}, count--;
            out[k++] = {16, uint8_t(count - 3)};
        } else if (count <= 10) {
            out[k++] = {17, uint8_t(count - 3)};
        } else {
            out[k++] = {18, uint8_t(count - 11)};
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) max_count = 138, min_count = 3;
        else if (curlen == nextlen) max_count = 6, min_count = 3;
        else max_count = 7, min_count = 4;
    }
}

constexpr uint8_t RUN_EXTRA_BITS[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// The dynamic header of a block: code lengths, their run-length code and its code.
struct dynamic_header {
    uint8_t lit_len[LITLEN_SYMBOLS];
    uint8_t dist_len[DIST_SYMBOLS];
    uint8_t cl_len[CODELEN_SYMBOLS];
    uint16_t cl_code[CODELEN_SYMBOLS];
    run runs[LITLEN_SYMBOLS + DIST_SYMBOLS];
    int nruns, hlit, hdist, hclen;
    uint64_t bits; // header bits after the 3-bit block header
};

void build_header(deflater& d, dynamic_header& h) {
    huffman_lengths(d.lit_freq, h.lit_len, LITLEN_SYMBOLS, MAX_BITS);
    huffman_lengths(d.dist_freq, h.dist_len, DIST_SYMBOLS, MAX_BITS);
    h.hlit = LITLEN_SYMBOLS;
    while (h.hlit > 257 && !h.lit_len[h.hlit - 1]) h.hlit--;
    h.hdist = DIST_SYMBOLS;
    while (h.hdist > 1 && !h.dist_len[h.hdist - 1]) h.hdist--;
    h.nruns = 0;
    run_lengths(h.lit_len, h.hlit, h.runs, h.nruns);
    run_lengths(h.dist_len, h.hdist, h.runs, h.nruns);
    uint32_t cl_freq[CODELEN_SYMBOLS] = {};
    for (int i = 0; i < h.nruns; i++) cl_freq[h.runs[i].sym]++;
    huffman_lengths(cl_freq, h.cl_len, CODELEN_SYMBOLS, MAX_CODELEN_BITS);
    make_codes(T.reverse, h.cl_len, h.cl_code, CODELEN_SYMBOLS);
    h.hclen = CODELEN_SYMBOLS;
    while (h.hclen > 4 && !h.cl_len[codelen_order[h.hclen - 1]]) h.hclen--;
    h.bits = 14 + 3 * uint64_t(h.hclen);
    for (int i = 0; i < h.nruns; i++) h.bits += h.cl_len[h.runs[i].sym] + RUN_EXTRA_BITS[h.runs[i].sym];
}

// Bits of the block's symbols under the code lengths [lit] and [dist], extra bits included.
uint64_t symbol_bits(const deflater& d, const uint8_t* lit, const uint8_t* dist) {
    uint64_t bits = 0;
    for (int s = 0; s < LITLEN_SYMBOLS; s++) bits += uint64_t(d.lit_freq[s]) * lit[s];
    for (int c = 0; c < 29; c++) bits += uint64_t(d.lit_freq[257 + c]) * length_extra[c];
    for (int c = 0; c < DIST_SYMBOLS; c++) bits += uint64_t(d.dist_freq[c]) * (dist[c] + dist_extra[c]);
    return bits;
}

void write_symbols(deflater& d, const uint16_t* lcode, const uint8_t* llen, const uint16_t* dcode,
                   const uint8_t* dlen) {
    bit_writer& w = d.w;
    for (int i = 0; i < d.nsyms; i++) {
        uint32_t s = d.syms[i];
        if (s < 256) {
            w.put(lcode[s], llen[s]);
            continue;
        }
        uint32_t l3 = s & 0xFF, dist = s >> 8;
        uint32_t c = T.length_code[l3], ls = 257 + c;
        w.put(uint32_t(l3 + 3 - length_base[c]) << llen[ls] | lcode[ls], llen[ls] + length_extra[c]);
        uint32_t dc = dist_symbol(dist);
        w.put(uint32_t(dist - dist_base[dc]) << dlen[dc] | dcode[dc], dlen[dc] + dist_extra[dc]);
    }
    w.put(lcode[END_OF_BLOCK], llen[END_OF_BLOCK]);
}

void write_dynamic(deflater& d, dynamic_header& h, bool last) {
    uint16_t lcode[LITLEN_SYMBOLS], dcode[DIST_SYMBOLS];
    make_codes(T.reverse, h.lit_len, lcode, LITLEN_SYMBOLS);
    make_codes(T.reverse, h.dist_len, dcode, DIST_SYMBOLS);
    bit_writer& w = d.w;
    w.put(uint32_t(last) | 2 << 1, 3);
    w.put(uint32_t(h.hlit - 257), 5);
    w.put(uint32_t(h.hdist - 1), 5);
    w.put(uint32_t(h.hclen - 4), 4);
    for (int i = 0; i < h.hclen; i++) w.put(h.cl_len[codelen_order[i]], 3);
    for (int i = 0; i < h.nruns; i++) {
        const run& r = h.runs[i];
        w.put(h.cl_code[r.sym], h.cl_len[r.sym]);
        if (RUN_EXTRA_BITS[r.sym]) w.put(r.extra, RUN_EXTRA_BITS[r.sym]);
    }
    write_symbols(d, lcode, h.lit_len, dcode, h.dist_len);
}

void write_stored(deflater& d, size_t from, size_t to, bool last) {
    bit_writer& w = d.w;
    do {
        uint32_t n = uint32_t(std::min<size_t>(to - from, STORED_MAX));
        w.put(uint32_t(last && from + n == to), 3);
        w.align();
        w.put(n | (~n & 0xFFFF) << 16, 32);
        w.align();
        w.copy(d.in + from, n);
        from += n;
    } while (from < to);
}

// Writes the gathered symbols, covering input up to [end], as one block, then starts afresh.
void flush_block(deflater& d, size_t end, bool last) {
    d.lit_freq[END_OF_BLOCK] = 1;
    dynamic_header h;
    build_header(d, h);
    uint64_t dynamic = 3 + h.bits + symbol_bits(d, h.lit_len, h.dist_len);
    uint64_t fixed = 3 + symbol_bits(d, T.fixed_lit_len, T.fixed_dist_len);
    uint64_t bytes = end - d.block_start, b = d.w.bits & 7;
    uint64_t pieces = bytes ? (bytes + STORED_MAX - 1) / STORED_MAX : 1;
    uint64_t stored = ((b + 10) & ~uint64_t(7)) - b + 32 + 40 * (pieces - 1) + 8 * bytes;
    if (stored <= dynamic && stored <= fixed) {
        write_stored(d, d.block_start, end, last);
    } else if (dynamic < fixed) {
        write_dynamic(d, h, last);
    } else {
        d.w.put(uint32_t(last) | 1 << 1, 3);
        write_symbols(d, T.fixed_lit_code, T.fixed_lit_len, T.fixed_dist_code, T.fixed_dist_len);
    }
    std::memset(d.lit_freq, 0, sizeof d.lit_freq);
    std::memset(d.dist_freq, 0, sizeof d.dist_freq);
    d.nsyms = 0;
    d.block_start = end;
}

// }==
// {== Matching

// Greedy matching with one step of lazy evaluation: a match found at p is held back while the
// match at p + 1 might be longer.
void compress_all(deflater& d) {
    const size_t n = d.n;
    const uint8_t* in = d.in;
    unsigned match_len = 2;
    uint32_t match_dist = 0;
    bool pending = false; // the byte before p awaits emission as a literal or a match start
    size_t p = 0, emitted = 0;
    while (p < n) {
        int32_t cand = p + 2 < n ? insert(d, p) : -1;
        unsigned prev_len = match_len;
        uint32_t prev_dist = match_dist;
        match_len = 2;
        if (cand >= 0 && p - size_t(cand) <= MAX_DIST && prev_len < d.lp.lazy) {
            match_len = longest_match(d, p, cand, prev_len, match_dist);
            if (match_len == MIN_MATCH && match_dist > TOO_FAR) match_len = 2;
        }
        if (prev_len >= MIN_MATCH && match_len <= prev_len) {
            size_t end = p - 1 + prev_len;
            tally_match(d, prev_dist, prev_len);
            for (size_t q = p + 1; q < end; q++)
                if (q + 2 < n) insert(d, q);
            p = emitted = end;
            pending = false;
            match_len = 2;
        } else if (pending) {
            tally_literal(d, in[p - 1]);
            emitted = p++;
        } else {
            pending = true;
            p++;
        }
        if (d.nsyms == BLOCK_SYMBOLS) flush_block(d, emitted, false);
    }
    if (pending) tally_literal(d, in[n - 1]);
    flush_block(d, n, true);
    d.w.align();
}

// }==

} // namespace

int deflate(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level) {
    std::unique_ptr<deflater> d(new deflater);
    d->in = input;
    d->n = length;
    d->lp = LEVELS[level >= 1 && level <= 9 ? level : 6];
    uint32_t bits = 8;
    while (bits < 15 && (size_t(1) << bits) < length) bits++;
    d->hash_mask = (1u << bits) - 1;
    std::fill(d->head, d->head + (1u << bits), -1);
    d->block_start = 0;
    d->nsyms = 0;
    d->w = bit_writer{output, output ? size : 0};
    std::memset(d->lit_freq, 0, sizeof d->lit_freq);
    std::memset(d->dist_freq, 0, sizeof d->dist_freq);
    compress_all(*d);
    size_t cap = size;
    size = d->w.pos;
    return d->w.pos > cap ? TOO_SMALL : OK;
}

} // namespace zyl::compress
