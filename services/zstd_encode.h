// services/zstd_encode.h: the one-shot zstd compressor: one frame for a whole input held in
// memory, with parameters from a fixed table by input size and level.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::compress {

// Compresses the [length] bytes at [input] at [level] (1-19; 0 or less means 3) into
// [output]. A null output or a capacity below zstd_bound(length) answers TOO_SMALL with the
// bound as the size; otherwise OK with the bytes written.
int zstd_compress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level);

// The most bytes zstd_compress writes for [length] bytes: a 3-byte header a 128 KB block,
// the bytes themselves and the largest frame header.
size_t zstd_bound(size_t length);

} // namespace zyl::compress

namespace zyl::zstd {

// One row of the parameter table.
struct params {
    uint8_t window_log, chain_log, hash_log, search_log, min_match, strategy, target;
};

// The row for [length] bytes at [level], with its table logs capped by the input size.
params params_for(size_t length, int level);

} // namespace zyl::zstd
