// services/huffman.h: code lengths for a prefix code from symbol frequencies, shared by the
// deflate compressor and the zstd literal coder.
#pragma once

#include <cstdint>

namespace zyl::compress {

constexpr int HUFFMAN_MAX_SYMBOLS = 320;

// Writes to [lengths] a code length (0 for unused) for each of the [count] symbols (2 to
// HUFFMAN_MAX_SYMBOLS) from their [freq], none longer than [limit] (1 to 15; 2^limit must be
// at least the count of used symbols). The code is complete: its Kraft sum is exactly 1. With
// fewer than two used symbols two lengths of 1 are still given: symbol 0 and the used one, or
// symbols 0 and 1 when none or only 0 or 1 is used, so that every decoder accepts the code.
void huffman_lengths(const uint32_t* freq, uint8_t* lengths, int count, int limit);

} // namespace zyl::compress
