// services/zstd_entropy.h: the zstd compressor's entropy stage: a block's literals section
// (raw, RLE or Huffman) and its sequences section (codes, FSE tables and the backward bit
// stream), each written within a given room.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::zstd {

// One sequence: literals, then a match. [offset_value] is as coded: 1-3 a repeat offset,
// otherwise the offset plus 3.
struct sequence {
    uint32_t lit_len, match_len, offset_value;
};

// Writes the literals section for the [n] bytes at [lits] into [out] ([room] bytes); answers
// the bytes written, 0 when it does not fit.
size_t write_literals(uint8_t* out, size_t room, const uint8_t* lits, size_t n);

// Writes the sequences section for the [n] sequences at [seqs]; answers the bytes written,
// 0 when it does not fit.
size_t write_sequences(uint8_t* out, size_t room, const sequence* seqs, size_t n);

// The FSE table description of [norm] (symbols 0..[max_symbol], accuracy [log]); answers the
// bytes written, 0 when they do not fit in [room].
size_t write_ncount(uint8_t* out, size_t room, const int16_t* norm, int max_symbol, int log);

// Counts scaled to sum to 2^[log], every used symbol at least 1.
void normalize(const uint32_t* count, int max_symbol, uint32_t total, int log, int16_t* norm);

} // namespace zyl::zstd
