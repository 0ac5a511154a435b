// services/zstd_match.h: the zstd compressor's match finders. They turn a block of the input
// into sequences (literal run, match length, raw offset) and the literals those carry, using
// hash tables, chains and trees that persist from block to block of one frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "services/zstd_encode.h"
#include "services/zstd_entropy.h"

namespace zyl::zstd {

// Symbol prices of one block in 1/256 bit: literals and the three sequence codes.
struct price_model {
    int32_t lit[256], ll[36], ml[53], of[32];
};

// Symbol counts the prices are made from: those of the block just written, or of a first pass.
struct price_stats {
    uint32_t lit[256], ll[36], ml[53], of[32];
    bool valid = false;
};

// One position of the optimal parse: the cheapest way found to reach it.
struct arrival {
    int32_t price;
    uint32_t mlen;   // 0: reached by a literal
    uint32_t off;    // the match's raw offset
    uint32_t litlen; // literals since the last match
    uint32_t rep[3]; // the repeat offsets there (set when the position is expanded)
};

struct match_cand {
    uint32_t len, off;
};

struct match_finder {
    const uint8_t* base = nullptr; // the whole input
    size_t length = 0;
    params p{};
    size_t window = 0;  // the farthest a match may reach back
    uint32_t rep[3];    // the repeat offsets the finder tries first
    size_t next = 0;    // the first position not yet in the hash chain or tree
    std::vector<uint32_t> head, chain; // chain: two links a position in tree mode
    std::vector<uint32_t> head3;       // the last position of each 3-byte hash (minimum match 3)
    int hash3_log = 0;
    std::vector<sequence> seqs; // offset_value holds the raw offset here
    std::vector<uint8_t> lits;  // the literals of seqs, then those after the last match
    std::vector<arrival> nodes; // the optimal parse's positions, one block at a time
    std::vector<uint32_t> path; // the ends of the matches the parse chose, last first
    price_stats stats;

    void start(const uint8_t* input, size_t len, const params& row);
    // Finds the sequences of [from, to), appending them and their literals.
    void find(size_t from, size_t to);

  private:
    void fast(size_t from, size_t to);
    void lazy(size_t from, size_t to, int depth);
    void optimal(size_t from, size_t to);
    void parse(size_t from, size_t to, const price_model& m);
    void gather(size_t first_seq, size_t first_lit, const uint32_t* rep_before, bool blend);
    void store(size_t anchor, size_t at, uint32_t offset, size_t len);
    size_t search(size_t ip, size_t end, uint32_t& offset);
    size_t chain_search(size_t ip, size_t end, uint32_t& offset);
    void insert_until(size_t ip);
    void clear_tree();
    size_t tree_insert(size_t ip, size_t end, match_cand* out, size_t& n_out);
    void tree_until(size_t ip);
    size_t tree_best(size_t ip, size_t end, uint32_t& offset);
    uint32_t hash_at(size_t pos, int bits) const;
};

// {== Helpers the finders share

inline uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t read64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The bytes [a] and [b] have in common, up to [end] (the end of [a]'s range).
inline size_t common(const uint8_t* a, const uint8_t* b, const uint8_t* end) {
    const uint8_t* s = a;
    while (end - a >= 8) {
        uint64_t x = read64(a) ^ read64(b);
        if (x) return size_t(a - s) + size_t(__builtin_ctzll(x) >> 3);
        a += 8, b += 8;
    }
    while (a < end && *a == *b) a++, b++;
    return size_t(a - s);
}

constexpr uint64_t PRIME_SHORT = 0x9E3779B1, PRIME_LONG = 0x85EBCA77;

// A hash of the [bytes] (3 to 8) bytes at [p] in [bits] bits.
inline uint32_t hash_bytes(const uint8_t* p, int bytes, int bits, uint64_t prime) {
    uint64_t v = read64(p) << (64 - 8 * bytes);
    return uint32_t((v * (prime << 32 | prime)) >> (64 - bits));
}

// }==

} // namespace zyl::zstd
