// services/zstd_match.h: the zstd compressor's match finders. They turn a block of the input
// into sequences (literal run, match length, raw offset) and the literals those carry, using
// hash tables that persist from block to block of one frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "services/zstd_encode.h"
#include "services/zstd_entropy.h"

namespace zyl::zstd {

struct match_finder {
    const uint8_t* base = nullptr; // the whole input
    size_t length = 0;
    params p{};
    size_t window = 0;  // the farthest a match may reach back
    uint32_t rep[3];    // the repeat offsets the finder tries first
    size_t next = 0;    // the first position not yet in the hash chain
    std::vector<uint32_t> head, chain;
    std::vector<sequence> seqs; // offset_value holds the raw offset here
    std::vector<uint8_t> lits;  // the literals of seqs, then those after the last match

    void start(const uint8_t* input, size_t len, const params& row);
    // Finds the sequences of [from, to), appending them and their literals.
    void find(size_t from, size_t to);

  private:
    void fast(size_t from, size_t to);
    void lazy(size_t from, size_t to, int depth);
    void optimal(size_t from, size_t to);
    void store(size_t anchor, size_t at, uint32_t offset, size_t len);
    size_t chain_search(size_t ip, size_t end, uint32_t& offset);
    void insert_until(size_t ip);
    uint32_t hash_at(size_t pos, int bits) const;
};

} // namespace zyl::zstd
