// services/zstd_encode.cpp: the zstd compressor's frame and blocks.
//
// The input is cut into 128 KB pieces; each piece's sequences come from the match finder and
// the piece is written as one block or, with many sequences, split where the halves come out
// smaller. Offsets are coded against the repeat offsets a decoder will hold, which raw and
// RLE blocks leave unchanged. Every block is compared with its raw form, so the output never
// passes the bound.
#include "services/zstd_encode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "services/deflate.h"
#include "services/zstd_entropy.h"
#include "services/zstd_format.h"
#include "services/zstd_match.h"

namespace zyl::compress {

using namespace zstd;

namespace {

constexpr size_t SPLIT_FROM = 300; // sequences a range needs before it is worth splitting
constexpr int MAX_CUTS = 196;

struct reps {
    uint32_t r[3] = {1, 4, 8};
};

// One piece's sequences, with where each starts in the piece and in its literals.
struct piece {
    const uint8_t* src;
    const sequence* seqs;
    const uint8_t* lits;
    size_t n_seqs;
    std::vector<size_t> at, lit_at; // n_seqs + 1 entries: the ends of the source and literals
};

struct writer {
    std::vector<sequence> coded;

    // Writes sequences [a, b) of [pc] (and, when b is the last, the literals after them) as
    // one block with its header; answers its size. Raw when that is no larger.
    size_t block(uint8_t* out, const piece& pc, size_t a, size_t b, reps& st, bool last) {
        const uint8_t* src = pc.src + pc.at[a];
        size_t n = (b == pc.n_seqs ? pc.at[b + 1] : pc.at[b]) - pc.at[a];
        size_t nl = (b == pc.n_seqs ? pc.lit_at[b + 1] : pc.lit_at[b]) - pc.lit_at[a];
        reps saved = st;
        size_t body = 0, limit = n >= n / 64 + 3 ? n - n / 64 - 3 : 0;
        if (limit && n >= 6) {
            coded.resize(b - a);
            for (size_t i = a; i < b; i++) {
                const sequence& s = pc.seqs[i];
                coded[i - a] = {s.lit_len, s.match_len, code_offset(st.r, s.lit_len, s.offset_value)};
            }
            size_t l = write_literals(out + 3, limit, pc.lits + pc.lit_at[a], nl);
            size_t s = l ? write_sequences(out + 3 + l, limit - l, coded.data(), b - a) : 0;
            body = s ? l + s : 0;
        }
        int type = BT_COMPRESSED;
        if (body && body <= 24 && std::all_of(src, src + n, [&](uint8_t c) { return c == src[0]; })) {
            type = BT_RLE;
            out[3] = src[0];
            body = n;
        } else if (!body) {
            type = BT_RAW;
            if (n) std::memcpy(out + 3, src, n);
            body = n;
        }
        if (type != BT_COMPRESSED) st = saved;
        uint32_t h = uint32_t(last) | uint32_t(type) << 1 | uint32_t(body) << 3;
        out[0] = uint8_t(h), out[1] = uint8_t(h >> 8), out[2] = uint8_t(h >> 16);
        return 3 + (type == BT_RLE ? 1 : body);
    }
};

// The cuts (sequence indexes) that split [a, b) of [pc], which takes [whole] bytes as one
// block, into smaller blocks, by halving.
void find_cuts(writer& w, const piece& pc, size_t a, size_t b, size_t whole, reps st, std::vector<uint8_t>& scratch,
               std::vector<size_t>& cuts) {
    if (b - a < SPLIT_FROM || cuts.size() >= size_t(MAX_CUTS)) return;
    size_t m = a + (b - a) / 2;
    reps s2 = st;
    size_t left = w.block(scratch.data(), pc, a, m, s2, false);
    reps s3 = s2;
    size_t right = w.block(scratch.data(), pc, m, b, s3, false);
    if (left + right >= whole) return;
    find_cuts(w, pc, a, m, left, st, scratch, cuts);
    cuts.push_back(m);
    find_cuts(w, pc, m, b, right, s2, scratch, cuts);
}

size_t write_header(uint8_t* out, size_t length, int window_log) {
    const uint8_t magic[4] = {0x28, 0xB5, 0x2F, 0xFD};
    std::memcpy(out, magic, 4);
    size_t p = 4, bytes;
    uint32_t value = uint32_t(length);
    if (length > (size_t(1) << window_log)) {
        out[p++] = 0x80;
        out[p++] = uint8_t((window_log - 10) << 3);
        bytes = 4;
    } else if (length <= 255) {
        out[p++] = 0x20, bytes = 1;
    } else if (length <= 65791) {
        out[p++] = 0x60, bytes = 2, value -= 256;
    } else {
        out[p++] = 0xA0, bytes = 4;
    }
    for (size_t i = 0; i < bytes; i++) out[p++] = uint8_t(value >> (8 * i));
    return p;
}

} // namespace

size_t zstd_bound(size_t length) {
    size_t blocks = std::max<size_t>(1, (length + BLOCK_MAX - 1) / BLOCK_MAX);
    return 3 * blocks + length + 10;
}

int zstd_compress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level) {
    const size_t bound = zstd_bound(length);
    if (!output || size < bound) {
        size = bound;
        return TOO_SMALL;
    }
    const params row = params_for(length, level);
    size_t pos = write_header(output, length, row.window_log);
    match_finder mf;
    mf.start(input, length, row);
    writer w;
    reps st;
    std::vector<uint8_t> scratch, best;
    size_t from = 0;
    do {
        size_t to = std::min(length, from + BLOCK_MAX);
        bool last = to == length;
        mf.seqs.clear(), mf.lits.clear();
        if (to - from >= 6) mf.find(from, to);
        else mf.lits.assign(input + from, input + to);
        piece pc{input + from, mf.seqs.data(), mf.lits.data(), mf.seqs.size(), {}, {}};
        pc.at.resize(pc.n_seqs + 2), pc.lit_at.resize(pc.n_seqs + 2);
        pc.at[0] = pc.lit_at[0] = 0;
        for (size_t i = 0; i < pc.n_seqs; i++) {
            pc.at[i + 1] = pc.at[i] + mf.seqs[i].lit_len + mf.seqs[i].match_len;
            pc.lit_at[i + 1] = pc.lit_at[i] + mf.seqs[i].lit_len;
        }
        pc.at[pc.n_seqs + 1] = to - from;
        pc.lit_at[pc.n_seqs + 1] = mf.lits.size();
        std::vector<size_t> cuts;
        if (pc.n_seqs < SPLIT_FROM) {
            pos += w.block(output + pos, pc, 0, pc.n_seqs, st, last);
        } else { // the split blocks as written, kept only when smaller than the whole
            scratch.resize(zstd_bound(to - from) + 3 * (MAX_CUTS + 1));
            best.resize(scratch.size());
            reps whole_st = st;
            size_t whole = w.block(best.data(), pc, 0, pc.n_seqs, whole_st, last);
            find_cuts(w, pc, 0, pc.n_seqs, whole, st, scratch, cuts);
            reps split_st = st;
            size_t split = 0, a = 0;
            if (!cuts.empty()) {
                cuts.push_back(pc.n_seqs);
                for (size_t i = 0; i < cuts.size(); i++) {
                    bool end = i + 1 == cuts.size();
                    split += w.block(scratch.data() + split, pc, a, cuts[i], split_st, last && end);
                    a = cuts[i];
                }
            }
            const bool keep = !cuts.empty() && split < whole;
            std::memcpy(output + pos, keep ? scratch.data() : best.data(), keep ? split : whole);
            pos += keep ? split : whole;
            st = keep ? split_st : whole_st;
        }
        from = to;
    } while (from < length);
    size = pos;
    return OK;
}

} // namespace zyl::compress
