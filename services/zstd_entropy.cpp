// services/zstd_entropy.cpp: the zstd compressor's literals and sequences sections.
//
// Literals go raw, as one repeated byte, or Huffman-coded with canonical codes from
// huffman-lengths; sequence codes go through a predefined, single-symbol or described FSE
// table, whichever costs the fewest bits. No table is reused from an earlier block, so every
// block stands alone.
#include "services/zstd_entropy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "services/huffman.h"
#include "services/zstd_format.h"

namespace zyl::zstd {

namespace {

// Bits added least-significant first; bytes past the room are dropped and remembered.
struct bit_writer {
    uint8_t *start, *p, *end;
    uint64_t acc = 0;
    int n = 0;
    bool full = false;
    bit_writer(uint8_t* out, size_t room) : start(out), p(out), end(out + room) {}
    void put(uint64_t v, int bits) { // bits <= 32
        acc |= v << n;
        n += bits;
        if (n >= 32) {
            if (end - p >= 4) {
                uint32_t w = uint32_t(acc);
                for (int i = 0; i < 4; i++) p[i] = uint8_t(w >> (8 * i));
                p += 4;
            } else {
                full = true;
            }
            acc >>= 32;
            n -= 32;
        }
    }
    // Answers the bytes written (the last one padded), 0 when they did not fit.
    size_t finish() {
        while (n > 0) {
            if (p < end) *p++ = uint8_t(acc);
            else full = true;
            acc >>= 8;
            n -= 8;
        }
        return full ? 0 : size_t(p - start);
    }
    // Ends a backward-read stream with its marker bit.
    size_t close() {
        put(1, 1);
        return finish();
    }
};

// An FSE encoding table: for each symbol, its states in table order (state + 2^log), and the
// two numbers that turn a state into the bits it writes and the place of the next state.
struct fse_ctable {
    int log;
    uint16_t first[54];
    uint32_t delta_bits[54]; // (bits << 16) - the lowest state that writes that many
    int32_t delta_state[54]; // first - count
    uint16_t state[512];
};

void build_ctable(fse_ctable& t, const int16_t* norm, int max_symbol, int log) {
    uint8_t at[512];
    spread_symbols(at, norm, max_symbol, log);
    t.log = log;
    uint16_t fill[54];
    int sum = 0;
    for (int s = 0; s <= max_symbol; s++) {
        int n = norm[s] == -1 ? 1 : norm[s];
        t.first[s] = fill[s] = uint16_t(sum);
        if (n > 0) {
            uint32_t most = uint32_t(log - highbit(uint32_t(n)));
            t.delta_bits[s] = (most << 16) - (uint32_t(n) << most);
            t.delta_state[s] = sum - n;
        }
        sum += std::max(n, 0);
    }
    for (int u = 0; u < (1 << log); u++) t.state[fill[at[u]]++] = uint16_t(u + (1 << log));
}

inline uint32_t fse_init(const fse_ctable& t, int s) { return t.state[t.first[s]]; }

// Writes the bits that lead from symbol [s]'s state to the state in [x], which becomes it.
inline void fse_encode(bit_writer& w, const fse_ctable& t, uint32_t& x, int s) {
    uint32_t bits = (x + t.delta_bits[s]) >> 16;
    w.put(x & ((1u << bits) - 1), int(bits));
    x = t.state[int32_t(x >> bits) + t.delta_state[s]];
}

inline void fse_flush(bit_writer& w, const fse_ctable& t, uint32_t x) { w.put(x - (1u << t.log), t.log); }

size_t raw_header(size_t n) { return n < 32 ? 1 : n < 4096 ? 2 : 3; }

// A raw (type 0) or RLE (type 1) literals header for [n] literals.
void put_raw_header(uint8_t* out, size_t n, int type) {
    if (n < 32) {
        out[0] = uint8_t(type | n << 3);
    } else if (n < 4096) {
        out[0] = uint8_t(type | 1 << 2 | (n & 15) << 4);
        out[1] = uint8_t(n >> 4);
    } else {
        out[0] = uint8_t(type | 3 << 2 | (n & 15) << 4);
        out[1] = uint8_t(n >> 4);
        out[2] = uint8_t(n >> 12);
    }
}

size_t raw_literals(uint8_t* out, size_t room, const uint8_t* lits, size_t n) {
    size_t h = raw_header(n);
    if (h + n > room) return 0;
    put_raw_header(out, n, LT_RAW);
    std::memcpy(out + h, lits, n);
    return h + n;
}

// The weights [w] of [nw] symbols as an FSE-coded list; 0 when that cannot be done within
// 127 bytes or [room].
size_t fse_weights(uint8_t* out, size_t room, const uint8_t* w, int nw) {
    uint32_t count[HUF_MAX_LOG + 1] = {};
    int top = 0, distinct = 0;
    for (int i = 0; i < nw; i++) {
        if (!count[w[i]]++) distinct++;
        top = std::max(top, int(w[i]));
    }
    // The decoder stops when a state update reads past the stream's start: the state that
    // holds the second-last weight must read at least one bit, so two weights must differ.
    if (nw < 2 || distinct < 2 || room < 2) return 0;
    int log = nw > 64 ? HUF_WEIGHT_LOG : 5;
    int16_t norm[HUF_MAX_LOG + 1];
    normalize(count, top, uint32_t(nw), log, norm);
    size_t cap = std::min<size_t>(room - 1, 127);
    size_t h = write_ncount(out + 1, cap, norm, top, log);
    if (!h) return 0;
    fse_ctable t;
    build_ctable(t, norm, top, log);
    bit_writer b(out + 1 + h, cap - h);
    uint32_t s1, s2;
    int i;
    if (nw & 1) {
        s1 = fse_init(t, w[nw - 1]);
        s2 = fse_init(t, w[nw - 2]);
        fse_encode(b, t, s1, w[nw - 3]);
        i = nw - 3;
    } else {
        s2 = fse_init(t, w[nw - 1]);
        s1 = fse_init(t, w[nw - 2]);
        i = nw - 2;
    }
    while (i > 0) {
        fse_encode(b, t, s2, w[--i]);
        fse_encode(b, t, s1, w[--i]);
    }
    fse_flush(b, t, s2);
    fse_flush(b, t, s1);
    size_t stream = b.close();
    if (!stream) return 0;
    out[0] = uint8_t(h + stream);
    return 1 + h + stream;
}

size_t huffman_stream(uint8_t* out, size_t room, const uint8_t* lits, size_t n, const uint16_t* code,
                      const uint8_t* len) {
    bit_writer w(out, room);
    for (size_t i = n; i-- > 0;) w.put(code[lits[i]], len[lits[i]]);
    return w.close();
}

} // namespace

void normalize(const uint32_t* count, int max_symbol, uint32_t total, int log, int16_t* norm) {
    const int64_t size = int64_t(1) << log;
    int64_t sum = 0;
    int big = 0;
    for (int s = 0; s <= max_symbol; s++) {
        if (!count[s]) {
            norm[s] = 0;
            continue;
        }
        int64_t v = std::max<int64_t>(1, (int64_t(count[s]) * size + total / 2) / total);
        norm[s] = int16_t(v);
        sum += v;
        if (count[s] > count[big]) big = s;
    }
    if (sum <= size) {
        norm[big] = int16_t(norm[big] + (size - sum));
        return;
    }
    while (sum > size) { // rounding up gave too much: take it from the largest shares
        int s = int(std::max_element(norm, norm + max_symbol + 1) - norm);
        int64_t take = std::min<int64_t>(norm[s] - 1, std::max<int64_t>(1, std::min<int64_t>(sum - size, norm[s] / 4)));
        norm[s] = int16_t(norm[s] - take);
        sum -= take;
    }
}

size_t write_ncount(uint8_t* out, size_t room, const int16_t* norm, int max_symbol, int log) {
    bit_writer w(out, room);
    w.put(uint64_t(log - 5), 4);
    int last = max_symbol;
    while (last > 0 && norm[last] == 0) last--;
    int remaining = (1 << log) + 1, threshold = 1 << log, nbits = log + 1;
    for (int s = 0; remaining > 1 && s <= last;) {
        int count = norm[s++];
        int value = count + 1, max = 2 * threshold - 1 - remaining;
        if (value >= threshold) w.put(uint64_t(value + max), nbits);
        else if (value < max) w.put(uint64_t(value), nbits - 1);
        else w.put(uint64_t(value), nbits);
        remaining -= count < 0 ? -count : count;
        while (remaining < threshold) {
            nbits--;
            threshold >>= 1;
        }
        if (count == 0) { // the zeros that follow, in 2-bit repeats
            int z = 0;
            while (s + z <= last && norm[s + z] == 0) z++;
            s += z;
            for (; z >= 3; z -= 3) w.put(3, 2);
            w.put(uint64_t(z), 2);
        }
    }
    return w.finish();
}

size_t write_literals(uint8_t* out, size_t room, const uint8_t* lits, size_t n) {
    if (n < 64) return raw_literals(out, room, lits, n);
    uint32_t freq[256] = {};
    for (size_t i = 0; i < n; i++) freq[lits[i]]++;
    int top = 255, used = 0;
    while (!freq[top]) top--;
    uint32_t most = 0;
    for (int s = 0; s <= top; s++) {
        most = std::max(most, freq[s]);
        used += freq[s] != 0;
    }
    size_t h = raw_header(n);
    if (most == n) { // one byte repeated
        if (h + 1 > room) return 0;
        put_raw_header(out, n, LT_RLE);
        out[h] = lits[0];
        return h + 1;
    }
    size_t head = n <= 1023 ? 3 : n <= 16383 ? 4 : 5;
    if (most <= (n >> 7) + 4 || head + 140 > room) return raw_literals(out, room, lits, n);
    int log = std::min(HUF_MAX_LOG, highbit(uint32_t(n - 1)) - 1);
    log = std::max(log, std::min(highbit(uint32_t(n)) + 1, highbit(uint32_t(top)) + 2));
    while ((1 << log) < used) log++;
    uint8_t len[256] = {};
    compress::huffman_lengths(freq, len, top + 1, log);
    int max_bits = *std::max_element(len, len + top + 1);
    // Weights, then canonical codes: the lightest weights take the lowest codes, in symbol order.
    uint8_t w[256];
    uint32_t start[HUF_MAX_LOG + 2] = {}, per[HUF_MAX_LOG + 2] = {};
    for (int s = 0; s <= top; s++) {
        w[s] = len[s] ? uint8_t(max_bits + 1 - len[s]) : 0;
        per[w[s]]++;
    }
    for (int k = 1, at = 0; k <= max_bits; k++) {
        start[k] = uint32_t(at);
        at += int(per[k] << (k - 1));
    }
    uint16_t code[256];
    for (int s = 0; s <= top; s++) {
        if (!w[s]) continue;
        code[s] = uint16_t(start[w[s]] >> (w[s] - 1));
        start[w[s]] += 1u << (w[s] - 1);
    }
    uint64_t bits = 0;
    for (int s = 0; s <= top; s++) bits += uint64_t(freq[s]) * len[s];
    // The weight list: FSE-coded when shorter, and always when too long for 4-bit fields.
    uint8_t desc[128];
    size_t direct = top <= 128 ? 1 + size_t(top + 1) / 2 : 0;
    size_t coded = fse_weights(desc, sizeof desc, w, top);
    if (!direct && !coded) return raw_literals(out, room, lits, n);
    if (direct && (!coded || direct <= coded)) {
        desc[0] = uint8_t(127 + top);
        for (int i = 0; i < top; i += 2) desc[1 + i / 2] = uint8_t(w[i] << 4 | (i + 1 < top ? w[i + 1] : 0));
        coded = direct;
    }
    bool four = n > 255;
    size_t estimate = coded + bits / 8 + 1 + (four ? 9 : 0);
    if (estimate >= n - n / 64 - 2 || head + estimate > room) return raw_literals(out, room, lits, n);
    std::memcpy(out + head, desc, coded);
    uint8_t* q = out + head + coded;
    uint8_t* end = out + room;
    size_t comp = coded;
    if (!four) {
        size_t s = huffman_stream(q, size_t(end - q), lits, n, code, len);
        if (!s) return raw_literals(out, room, lits, n);
        comp += s;
    } else {
        if (end - q < 6) return raw_literals(out, room, lits, n);
        size_t seg = (n + 3) / 4, at = 6;
        for (int k = 0; k < 4; k++) {
            size_t count = k < 3 ? seg : n - 3 * seg;
            size_t s = huffman_stream(q + at, size_t(end - q) - at, lits + size_t(k) * seg, count, code, len);
            if (!s || (k < 3 && s > 0xFFFF)) return raw_literals(out, room, lits, n);
            if (k < 3) q[2 * k] = uint8_t(s), q[2 * k + 1] = uint8_t(s >> 8);
            at += s;
        }
        comp += at;
    }
    static const int BITS[4] = {10, 10, 14, 18};
    int form = !four ? 0 : head == 3 ? 1 : head == 4 ? 2 : 3;
    if (comp >= (size_t(1) << BITS[form]) || head + comp >= h + n) return raw_literals(out, room, lits, n);
    uint64_t v = LT_HUFFMAN | uint64_t(form) << 2 | uint64_t(n) << 4 | uint64_t(comp) << (4 + BITS[form]);
    for (size_t i = 0; i < head; i++) out[i] = uint8_t(v >> (8 * i));
    return head + comp;
}

// {== Sequences

namespace {

// Picks the mode of one table for the symbol [count]s (highest [top], [total] in all):
// writes its description at [out] and its encoding table to [t]; answers the mode, or -1
// when the description does not fit.
int choose_table(int k, const uint32_t* count, int top, uint32_t total, uint8_t* out, size_t room, size_t& used,
                 fse_ctable& t) {
    used = 0;
    int distinct = 0, only = 0;
    for (int s = 0; s <= top; s++)
        if (count[s]) distinct++, only = s;
    if (distinct == 1 && total > 2) {
        if (room < 1) return -1;
        out[0] = uint8_t(only);
        used = 1;
        return TM_RLE;
    }
    auto cost = [&](const int16_t* norm, int log) {
        double bits = 0;
        for (int s = 0; s <= top; s++)
            if (count[s]) bits += count[s] * (log - std::log2(norm[s] == -1 ? 1.0 : double(norm[s])));
        return bits;
    };
    double predefined = top <= PREDEFINED_MAX[k] ? cost(PREDEFINED[k], DEFAULT_LOG[k]) : 1e300;
    int log = std::clamp(highbit(total) - 1, 5, MAX_LOG[k]);
    while ((1 << log) < distinct) log++;
    int16_t norm[53];
    normalize(count, top, total, log, norm);
    size_t h = write_ncount(out, room, norm, top, log);
    if (h && h * 8 + cost(norm, log) < predefined) {
        used = h;
        build_ctable(t, norm, top, log);
        return TM_FSE;
    }
    if (predefined >= 1e300) return -1;
    build_ctable(t, PREDEFINED[k], PREDEFINED_MAX[k], DEFAULT_LOG[k]);
    return TM_PREDEFINED;
}

} // namespace

size_t write_sequences(uint8_t* out, size_t room, const sequence* seqs, size_t n) {
    uint8_t* q = out;
    uint8_t* end = out + room;
    if (room < 4) return 0;
    if (n < 128) {
        *q++ = uint8_t(n);
    } else if (n < 0x7F00) {
        *q++ = uint8_t((n >> 8) + 128);
        *q++ = uint8_t(n);
    } else {
        *q++ = 255;
        *q++ = uint8_t(n - 0x7F00);
        *q++ = uint8_t((n - 0x7F00) >> 8);
    }
    if (n == 0) return size_t(q - out);
    uint32_t count[3][53] = {};
    int top[3] = {0, 0, 0};
    for (size_t i = 0; i < n; i++) {
        int lc = ll_code(seqs[i].lit_len), oc = highbit(seqs[i].offset_value), mc = ml_code(seqs[i].match_len);
        count[LL][lc]++, count[OF][oc]++, count[ML][mc]++;
        top[LL] = std::max(top[LL], lc);
        top[OF] = std::max(top[OF], oc);
        top[ML] = std::max(top[ML], mc);
    }
    uint8_t* modes = q++;
    fse_ctable t[3];
    int mode[3];
    for (int k = 0; k < 3; k++) {
        size_t used;
        mode[k] = choose_table(k, count[k], top[k], uint32_t(n), q, size_t(end - q), used, t[k]);
        if (mode[k] < 0) return 0;
        q += used;
    }
    *modes = uint8_t(mode[LL] << 6 | mode[OF] << 4 | mode[ML] << 2);
    bit_writer w(q, size_t(end - q));
    const bool fl = mode[LL] != TM_RLE, fo = mode[OF] != TM_RLE, fm = mode[ML] != TM_RLE;
    uint32_t xl = 0, xo = 0, xm = 0;
    for (size_t i = n; i-- > 0;) {
        const sequence& s = seqs[i];
        const int lc = ll_code(s.lit_len), oc = highbit(s.offset_value), mc = ml_code(s.match_len);
        if (i == n - 1) {
            if (fl) xl = fse_init(t[LL], lc);
            if (fo) xo = fse_init(t[OF], oc);
            if (fm) xm = fse_init(t[ML], mc);
        } else {
            if (fo) fse_encode(w, t[OF], xo, oc);
            if (fm) fse_encode(w, t[ML], xm, mc);
            if (fl) fse_encode(w, t[LL], xl, lc);
        }
        w.put(s.lit_len - LL_BASE[lc], LL_BITS[lc]);
        w.put(s.match_len - ML_BASE[mc], ML_BITS[mc]);
        w.put(s.offset_value - (1u << oc), oc);
    }
    if (fm) fse_flush(w, t[ML], xm);
    if (fo) fse_flush(w, t[OF], xo);
    if (fl) fse_flush(w, t[LL], xl);
    size_t bits = w.close();
    return bits ? size_t(q - out) + bits : 0;
}

// }==

} // namespace zyl::zstd
