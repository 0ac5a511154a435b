// services/zstd_decode.cpp: zstd frames, blocks, literals and sequences decoded into one
// output buffer.
//
// Huffman and RLE literals are decoded into the tail of the block's output room and the
// sequences then run from the front: every write stays below the literals not yet used, so
// one buffer is enough. Measuring walks the frames without output: known content sizes are
// taken on trust once the blocks could produce them, and a second pass counts exactly when
// that estimate is large next to the input.
#include "services/zstd_decode.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "services/checksum.h"
#include "services/deflate.h"
#include "services/zstd_format.h"

namespace zyl::compress {

using namespace zstd;

namespace {

struct huf_entry {
    uint8_t symbol, bits;
};

// What one frame's blocks carry over: repeat offsets, the last sequence tables and the last
// Huffman table. It starts afresh at every frame, so a frame never leans on an earlier one.
struct dstate {
    uint32_t rep[3];
    int logs[3]; // -1: no table yet
    int huf_log; // -1: no table yet
    fse_entry tables[3][512];
    huf_entry huf[1 << HUF_MAX_LOG];
    void reset() {
        rep[0] = 1, rep[1] = 4, rep[2] = 8;
        logs[0] = logs[1] = logs[2] = huf_log = -1;
    }
};

struct frame_info {
    size_t header; // bytes after the magic
    bool checksum, has_size;
    uint64_t content;
    size_t block_max;
};

// The frame header after the magic, at [p] with [len] bytes left.
bool read_frame_header(const uint8_t* p, size_t len, frame_info& f) {
    if (len < 1) return false;
    uint8_t d = p[0];
    int size_flag = d >> 6, dict_flag = d & 3;
    bool single = d & 0x20;
    if (d & 0x08) return false;
    f.checksum = d & 0x04;
    size_t dict_bytes = dict_flag == 3 ? 4 : size_t(dict_flag);
    size_t size_bytes = size_flag == 0 ? (single ? 1 : 0) : size_t(1) << size_flag;
    size_t need = 1 + (single ? 0 : 1) + dict_bytes + size_bytes;
    if (len < need) return false;
    size_t q = 1;
    uint64_t window = 0;
    if (!single) {
        int e = p[q] >> 3, mantissa = p[q] & 7;
        if (e > 21) return false;
        window = e == 21 ? BLOCK_MAX : (uint64_t(1) << (e + 10)) + ((uint64_t(1) << (e + 10)) / 8) * mantissa;
        q++;
    }
    uint32_t dict = 0;
    for (size_t i = 0; i < dict_bytes; i++) dict |= uint32_t(p[q + i]) << (8 * i);
    if (dict) return false; // no dictionaries
    q += dict_bytes;
    f.has_size = size_bytes != 0;
    f.content = 0;
    for (size_t i = 0; i < size_bytes; i++) f.content |= uint64_t(p[q + i]) << (8 * i);
    if (size_bytes == 2) f.content += 256;
    if (f.content >= MAX_CONTENT) return false;
    f.header = need;
    uint64_t max = single ? f.content : window;
    f.block_max = size_t(std::min<uint64_t>(BLOCK_MAX, max));
    return true;
}

// {== Literals

// A backward bit stream read through a 64-bit window that is reloaded between reads: the
// sequence loop's reader. [used] counts the window's bits taken from the top; the stream is
// used up exactly when the window sits at its start with all 64 taken. A stream of fewer
// than 8 bytes is read from a zero-padded copy, so no load passes its ends.
struct window_bits {
    const uint8_t* start;
    const uint8_t* at;
    uint64_t window;
    unsigned used;
    uint8_t pad[8];

    // False for an empty stream or one whose last byte has no end marker.
    bool open(const uint8_t* p, size_t len) {
        if (len == 0 || p[len - 1] == 0) return false;
        if (len >= 8) {
            start = p, at = p + len - 8;
        } else {
            std::memset(pad, 0, 8);
            std::memcpy(pad, p, len);
            start = at = pad;
        }
        std::memcpy(&window, at, 8);
        used = unsigned(8 * (8 - std::min<size_t>(len, 8))) + unsigned(8 - highbit(p[len - 1]));
        return true;
    }
    // The next [n] bits (0 to 57 since the last reload). Past the stream's start the bits are
    // garbage and [used] passes 64, which callers check before trusting them.
    uint64_t read(unsigned n) {
        uint64_t v = ((window << (used & 63)) >> 1) >> (63 - n);
        used += n;
        return v;
    }
    // Moves the window back over the whole bytes taken: at least 57 bits are then ready
    // unless the start is near.
    void reload() {
        if (at - start >= 8) {
            at -= used >> 3;
            used &= 7;
        } else {
            if (used > 64) return; // overrun: left for the caller to see
            size_t back = std::min(size_t(used >> 3), size_t(at - start));
            at -= back;
            used -= unsigned(8 * back);
        }
        std::memcpy(&window, at, 8);
    }
    bool overrun() const { return used > 64; }
    bool done() const { return at == start && used == 64; }
};


// Reads a Huffman table description into [st]; answers the bytes it took, 0 when malformed.
size_t read_huffman(const uint8_t* p, size_t len, dstate& st) {
    if (len == 0) return 0;
    uint8_t w[256];
    int n = 0;
    size_t used;
    if (p[0] >= 128) { // weights as 4-bit fields
        n = p[0] - 127;
        used = 1 + size_t(n + 1) / 2;
        if (used > len) return 0;
        for (int i = 0; i < n; i++) w[i] = (p[1 + i / 2] >> (i & 1 ? 0 : 4)) & 15;
    } else { // weights coded by FSE with two interleaved states
        used = 1 + size_t(p[0]);
        if (p[0] == 0 || used > len) return 0;
        int16_t norm[16];
        int log;
        size_t h = read_ncount(p + 1, p[0], HUF_MAX_LOG, HUF_WEIGHT_LOG, norm, log);
        fse_entry t[1 << HUF_WEIGHT_LOG];
        back_bits b;
        if (!h || !build_fse_table(t, norm, HUF_MAX_LOG, log) || !b.open(p + 1 + h, p[0] - h)) return 0;
        uint32_t s1 = uint32_t(b.read(log)), s2 = uint32_t(b.read(log));
        if (b.pos < 0) return 0;
        for (;;) {
            if (n > 253) return 0;
            w[n++] = t[s1].symbol;
            s1 = t[s1].base + uint32_t(b.read(t[s1].bits));
            if (b.pos < 0) {
                w[n++] = t[s2].symbol;
                break;
            }
            w[n++] = t[s2].symbol;
            s2 = t[s2].base + uint32_t(b.read(t[s2].bits));
            if (b.pos < 0) {
                w[n++] = t[s1].symbol;
                break;
            }
        }
    }
    uint32_t sum = 0;
    for (int i = 0; i < n; i++)
        if (w[i]) sum += 1u << (w[i] - 1);
    if (sum == 0) return 0;
    int max_bits = highbit(sum) + 1;
    uint32_t rest = (1u << max_bits) - sum;
    if (max_bits > HUF_MAX_LOG || (rest & (rest - 1))) return 0; // the last weight must complete the tree
    w[n++] = uint8_t(highbit(rest) + 1);
    uint32_t start[HUF_MAX_LOG + 2] = {}, count[HUF_MAX_LOG + 2] = {};
    for (int i = 0; i < n; i++) count[w[i]]++;
    for (int k = 1, at = 0; k <= max_bits; k++) {
        start[k] = uint32_t(at);
        at += int(count[k] << (k - 1));
    }
    for (int s = 0; s < n; s++) {
        if (!w[s]) continue;
        huf_entry e{uint8_t(s), uint8_t(max_bits + 1 - w[s])};
        uint32_t span = 1u << (w[s] - 1);
        std::fill(st.huf + start[w[s]], st.huf + start[w[s]] + span, e);
        start[w[s]] += span;
    }
    st.huf_log = max_bits;
    return used;
}

// Decodes [count] literals into [out] from each of [k] Huffman streams ([p], [len]), each of
// which must be used exactly. The streams go side by side, four symbols each a reload, while
// all are far from their starts; each then finishes alone.
bool huffman_streams(int k, const uint8_t* const* p, const size_t* len, uint8_t* const* out, const size_t* count,
                     const dstate& st) {
    window_bits b[4];
    for (int s = 0; s < k; s++)
        if (!b[s].open(p[s], len[s])) return false;
    const huf_entry* t = st.huf;
    const unsigned drop = unsigned(64 - st.huf_log);
    size_t shortest = count[k - 1], i = 0; // the last stream is the shortest
    auto far = [&] {
        for (int s = 0; s < k; s++)
            if (b[s].at - b[s].start < 8) return false;
        return true;
    };
    while (i + 4 <= shortest && far()) { // 4 x 11 bits fit the 57 a reload gives
        for (int s = 0; s < k; s++) b[s].reload();
        for (size_t j = i; j < i + 4; j++)
            for (int s = 0; s < k; s++) {
                huf_entry e = t[(b[s].window << b[s].used) >> drop];
                out[s][j] = e.symbol;
                b[s].used += e.bits;
            }
        i += 4;
    }
    for (int s = 0; s < k; s++) {
        window_bits& r = b[s];
        for (size_t j = i; j < count[s]; j++) {
            r.reload();
            if (r.used >= 64) return false; // the stream ran out first
            huf_entry e = t[(r.window << r.used) >> drop];
            out[s][j] = e.symbol;
            r.used += e.bits;
        }
        if (!r.done()) return false;
    }
    return true;
}

struct literals {
    const uint8_t* at; // where the literals are (in the input, or the output's tail)
    size_t size;
    bool in_tail;
};

// The literals section of the [n] bytes at [p]: answers OK with the bytes it took in [used],
// TOO_SMALL when [room] cannot hold them, MALFORMED otherwise. When [tail_end] is null they
// are only checked.
int read_literals(const uint8_t* p, size_t n, dstate& st, uint8_t* tail_end, size_t room, size_t block_max,
                  literals& lit, size_t& used) {
    if (n == 0) return MALFORMED;
    int type = p[0] & 3, form = (p[0] >> 2) & 3;
    lit.in_tail = false;
    if (type == LT_RAW || type == LT_RLE) {
        size_t head = form == 1 ? 2 : form == 3 ? 3 : 1;
        if (n < head) return MALFORMED;
        lit.size = form == 1 ? (p[0] >> 4) + (size_t(p[1]) << 4)
                   : form == 3 ? (p[0] >> 4) + (size_t(p[1]) << 4) + (size_t(p[2]) << 12)
                               : size_t(p[0] >> 3);
        if (lit.size > block_max) return MALFORMED;
        if (type == LT_RAW) {
            if (n - head < lit.size) return MALFORMED;
            lit.at = p + head;
            used = head + lit.size;
            return OK;
        }
        if (n - head < 1) return MALFORMED;
        used = head + 1;
        if (tail_end) {
            if (lit.size > room) return TOO_SMALL;
            std::memset(tail_end - lit.size, p[head], lit.size);
            lit.at = tail_end - lit.size;
            lit.in_tail = true;
        }
        return OK;
    }
    static const int HEAD[4] = {3, 3, 4, 5}, BITS[4] = {10, 10, 14, 18};
    size_t head = size_t(HEAD[form]);
    if (n < head) return MALFORMED;
    uint64_t v = 0;
    for (size_t i = 0; i < head; i++) v |= uint64_t(p[i]) << (8 * i);
    v >>= 4;
    const uint64_t mask = (uint64_t(1) << BITS[form]) - 1;
    lit.size = size_t(v & mask);
    size_t comp = size_t(v >> BITS[form] & mask);
    bool four = form != 0;
    if (lit.size > block_max || comp > n - head || (four && lit.size < 6)) return MALFORMED;
    const uint8_t* q = p + head;
    size_t rest = comp;
    if (type == LT_HUFFMAN) {
        size_t h = read_huffman(q, rest, st);
        if (!h) return MALFORMED;
        q += h, rest -= h;
    } else if (st.huf_log < 0) {
        return MALFORMED; // treeless, with no table to reuse
    }
    used = head + comp;
    if (!tail_end) return OK;
    if (lit.size > room) return TOO_SMALL;
    uint8_t* out = tail_end - lit.size;
    lit.at = out;
    lit.in_tail = true;
    if (!four) {
        size_t count = lit.size;
        return huffman_streams(1, &q, &rest, &out, &count, st) ? OK : MALFORMED;
    }
    if (rest < 6) return MALFORMED;
    size_t s[4] = {le16(q), le16(q + 2), le16(q + 4), 0};
    if (s[0] + s[1] + s[2] > rest - 6) return MALFORMED;
    s[3] = rest - 6 - s[0] - s[1] - s[2];
    const size_t seg = (lit.size + 3) / 4;
    const uint8_t* from[4] = {q + 6, q + 6 + s[0], q + 6 + s[0] + s[1], q + 6 + s[0] + s[1] + s[2]};
    uint8_t* to[4] = {out, out + seg, out + 2 * seg, out + 3 * seg};
    size_t count[4] = {seg, seg, seg, lit.size - 3 * seg};
    return huffman_streams(4, from, s, to, count, st) ? OK : MALFORMED;
}

// }==
// {== Sequences

// The table of kind [k] for [mode], read from [p] (n bytes left) when described there;
// answers the bytes taken, or -1 when malformed.
int read_table(int k, int mode, const uint8_t* p, size_t n, dstate& st) {
    fse_entry* t = st.tables[k];
    switch (mode) {
    case TM_PREDEFINED:
        build_fse_table(t, PREDEFINED[k], PREDEFINED_MAX[k], DEFAULT_LOG[k]);
        st.logs[k] = DEFAULT_LOG[k];
        return 0;
    case TM_RLE:
        if (n < 1 || p[0] > MAX_CODE[k]) return -1;
        t[0] = {0, p[0], 0};
        st.logs[k] = 0;
        return 1;
    case TM_FSE: {
        int16_t norm[53];
        int log;
        size_t used = read_ncount(p, n, MAX_CODE[k], MAX_LOG[k], norm, log);
        if (!used || !build_fse_table(t, norm, MAX_CODE[k], log)) return -1;
        st.logs[k] = log;
        return int(used);
    }
    default: return st.logs[k] < 0 ? -1 : 0;
    }
}

// Copies 16 bytes in one load and one store, so the two may overlap.
inline void copy16(uint8_t* to, const uint8_t* from) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
}

// Copies a match of [len] bytes from [offset] back; the source may overlap the copy. Bytes up
// to [limit] may be overwritten, which lets whole 16-byte pieces go at once.
inline void copy_match(uint8_t* op, size_t offset, size_t len, const uint8_t* limit) {
    const uint8_t* src = op - offset;
    if (offset >= 16 && size_t(limit - op) >= len + 16) {
        copy16(op, src);
        for (size_t i = 16; i < len; i += 16) copy16(op + i, src + i);
    } else if (offset >= len) {
        std::memcpy(op, src, len);
    } else if (len < 32) {
        for (size_t i = 0; i < len; i++) op[i] = src[i];
    } else { // the pattern doubles with each copy
        while (len) {
            size_t n = std::min(len, size_t(op - src));
            std::memcpy(op, src, n);
            op += n, len -= n;
        }
    }
}

// One compressed block of [n] bytes at [p], written at [out] + [pos] (capacity [cap]) or,
// without output, only counted; [pos] advances by the bytes it regenerates.
template <bool WRITE>
int decode_block(const uint8_t* p, size_t n, uint8_t* out, size_t cap, size_t frame_start, size_t& pos,
                 size_t block_max, dstate& st) {
    size_t room = WRITE ? cap - pos : SIZE_MAX;
    uint8_t* tail_end = WRITE ? out + pos + std::min(room, block_max) : nullptr;
    literals lit;
    size_t used = 0;
    int r = read_literals(p, n, st, tail_end, room, block_max, lit, used);
    if (r != OK) return r;
    p += used, n -= used;
    if (n == 0) return MALFORMED; // the sequences section has at least its count
    size_t nseq = p[0];
    if (nseq < 128) {
        p += 1, n -= 1;
    } else if (nseq < 255) {
        if (n < 2) return MALFORMED;
        nseq = ((nseq - 128) << 8) + p[1];
        p += 2, n -= 2;
    } else {
        if (n < 3) return MALFORMED;
        nseq = le16(p + 1) + 0x7F00;
        p += 3, n -= 3;
    }
    const size_t block_start = pos;
    uint8_t* op = WRITE ? out + pos : nullptr;
    const uint8_t* lp = lit.at;
    size_t lits_left = lit.size;
    if (nseq) {
        if (n < 1) return MALFORMED;
        uint8_t modes = p[0];
        if (modes & 3) return MALFORMED;
        p++, n--;
        for (int k = 0; k < 3; k++) {
            int got = read_table(k, modes >> (6 - 2 * k) & 3, p, n, st);
            if (got < 0) return MALFORMED;
            p += got, n -= size_t(got);
        }
        window_bits b;
        if (!b.open(p, n)) return MALFORMED;
        const fse_entry *tl = st.tables[LL], *to = st.tables[OF], *tm = st.tables[ML];
        uint32_t sl = uint32_t(b.read(unsigned(st.logs[LL])));
        uint32_t so = uint32_t(b.read(unsigned(st.logs[OF])));
        uint32_t sm = uint32_t(b.read(unsigned(st.logs[ML])));
        uint32_t* rep = st.rep;
        const uint8_t* lit_end = lit.at + lit.size;
        for (size_t i = 0; i < nseq; i++) {
            const fse_entry el = tl[sl], eo = to[so], em = tm[sm];
            const unsigned oc = eo.symbol, mc = em.symbol, lc = el.symbol;
            // One reload gives 57 bits: enough for the extra bits and the states but for long
            // offsets and lengths together.
            const unsigned mb = ML_BITS[mc], lb = LL_BITS[lc], extra = oc + mb + lb;
            b.reload();
            uint64_t ov = (uint64_t(1) << oc) + b.read(oc);
            if (extra > 31) b.reload();
            size_t ml = ML_BASE[mc] + b.read(mb);
            size_t ll = LL_BASE[lc] + b.read(lb);
            if (extra > 31 && mb + lb > 31) b.reload();
            uint64_t offset;
            if (ov > 3) {
                offset = ov - 3;
                rep[2] = rep[1], rep[1] = rep[0], rep[0] = uint32_t(offset);
            } else {
                size_t idx = ov + (ll == 0 ? 1 : 0);
                if (idx == 1) {
                    offset = rep[0];
                } else {
                    offset = idx == 2 ? rep[1] : idx == 3 ? rep[2] : rep[0] - 1;
                    if (idx != 2) rep[2] = rep[1];
                    rep[1] = rep[0], rep[0] = uint32_t(offset);
                }
            }
            if (i + 1 < nseq) {
                sl = el.base + uint32_t(b.read(el.bits));
                sm = em.base + uint32_t(b.read(em.bits));
                so = eo.base + uint32_t(b.read(eo.bits));
            }
            if (b.overrun() || ll > lits_left) return MALFORMED;
            lits_left -= ll;
            size_t after = pos + ll + ml;
            if (after - block_start + lits_left > block_max) return MALFORMED;
            if (offset == 0 || offset > pos + ll - frame_start) return MALFORMED;
            if (WRITE) {
                // Tail literals not yet used must survive: writes stop where they begin.
                const uint8_t* limit = lit.in_tail ? lp + ll : out + cap;
                if (out + after > limit) return TOO_SMALL;
                if (ll == 0) {
                } else if (ll <= 16 && size_t(lit_end - lp) >= 16 && size_t(limit - op) >= 16) {
                    copy16(op, lp);
                } else {
                    std::memmove(op, lp, ll);
                }
                op += ll;
                copy_match(op, size_t(offset), ml, limit);
                op += ml;
            }
            lp += ll;
            pos = after;
        }
        if (!b.done()) return MALFORMED;
    } else if (n != 0) {
        return MALFORMED; // bytes after an empty sequences section
    }
    if (pos - block_start + lits_left > block_max) return MALFORMED;
    if (WRITE) {
        if (!lit.in_tail && lits_left > cap - pos) return TOO_SMALL;
        std::memmove(op, lp, lits_left);
    }
    pos += lits_left;
    return OK;
}

// }==
// {== Frames

enum walk { WRITE, COUNT, ESTIMATE };

// Walks every frame of [in]: WRITE decodes into [out] of capacity [cap]; COUNT decodes without
// output; ESTIMATE takes a known content size once its blocks could produce it, setting
// [estimated]. [total] gets the bytes the frames give.
template <walk MODE>
int walk_frames(uint8_t* out, size_t cap, const uint8_t* in, size_t len, size_t limit, size_t& total, bool& estimated) {
    total = 0;
    if (len == 0) return MALFORMED;
    dstate st;
    size_t p = 0;
    while (p < len) {
        if (len - p < 4) return MALFORMED;
        uint32_t magic = le32(in + p);
        if (magic >= SKIPPABLE_FIRST && magic <= SKIPPABLE_LAST) {
            if (len - p < 8) return MALFORMED;
            uint32_t skip = le32(in + p + 4);
            if (skip >= MAX_CONTENT || skip > len - p - 8) return MALFORMED;
            p += 8 + skip;
            continue;
        }
        frame_info f;
        if (magic != MAGIC || !read_frame_header(in + p + 4, len - p - 4, f)) return MALFORMED;
        p += 4 + f.header;
        st.reset();
        const size_t frame_start = total;
        const bool skim = MODE == ESTIMATE && f.has_size;
        if (MODE == WRITE && f.has_size && f.content > cap - total) return TOO_SMALL;
        uint64_t maxima = 0;
        for (bool last = false; !last;) {
            if (len - p < 3) return MALFORMED; // the input ended before the last block
            uint32_t h = le24(in + p);
            last = h & 1;
            int type = (h >> 1) & 3;
            size_t size = h >> 3;
            p += 3;
            if (type == BT_RESERVED || size > f.block_max) return MALFORMED;
            size_t body = type == BT_RLE ? 1 : size;
            if (body > len - p) return MALFORMED;
            if (skim) {
                maxima += type == BT_COMPRESSED ? f.block_max : size;
            } else if (type == BT_COMPRESSED) {
                int r = MODE == WRITE ? decode_block<true>(in + p, size, out, cap, frame_start, total, f.block_max, st)
                                      : decode_block<false>(in + p, size, nullptr, 0, frame_start, total, f.block_max, st);
                if (r != OK) return r;
            } else {
                if (MODE == WRITE) {
                    if (size > cap - total) return TOO_SMALL;
                    if (type == BT_RAW) std::memcpy(out + total, in + p, size);
                    else std::memset(out + total, in[p], size);
                }
                total += size;
            }
            p += body;
            if (total > limit) return TOO_LARGE;
        }
        if (skim) {
            if (f.content > maxima) return MALFORMED; // more than its blocks can produce
            total += size_t(f.content);
            estimated = true;
        } else if (f.has_size && total - frame_start != f.content) {
            return MALFORMED;
        }
        if (f.checksum) {
            if (len - p < 4) return MALFORMED;
            if (MODE == WRITE && uint32_t(checksum::xxh64(out + frame_start, total - frame_start)) != le32(in + p))
                return MALFORMED;
            p += 4;
        }
        if (total > limit) return TOO_LARGE;
    }
    return OK;
}

// }==

} // namespace

int zstd_decompress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit) {
    size_t cap = output ? size : 0, total = 0;
    bool estimated = false;
    size = 0;
    if (output) {
        int r = walk_frames<WRITE>(output, cap, input, length, limit, total, estimated);
        if (r != TOO_SMALL) {
            size = total;
            return r;
        }
    }
    int r = walk_frames<ESTIMATE>(nullptr, 0, input, length, limit, total, estimated);
    if (r == OK && estimated && (total >= 32 * uint64_t(length) || total > 16777215))
        r = walk_frames<COUNT>(nullptr, 0, input, length, limit, total, estimated);
    if (r != OK) return r;
    if (output && total <= cap) return MALFORMED; // reported small, yet it fits: the data lies
    size = total;
    return total ? TOO_SMALL : OK;
}

uint64_t zstd_output_bound(const uint8_t* input, size_t length) {
    size_t total = 0;
    bool estimated = false;
    // Known sizes stand for their frames here, and each was checked against its blocks' maxima;
    // frames without one are counted exactly.
    return walk_frames<ESTIMATE>(nullptr, 0, input, length, SIZE_MAX, total, estimated) == OK ? total : 0;
}

} // namespace zyl::compress
