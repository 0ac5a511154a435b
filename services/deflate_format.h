// services/deflate_format.h: the fixed tables of the deflate format that the compressor and
// the inflater share: length and distance bases with their extra bits, the order in which
// code-length code lengths are sent, and the fixed code lengths.
#pragma once

#include <cstdint>

namespace zyl::compress::format {

constexpr int LITLEN_SYMBOLS = 286; // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int DIST_SYMBOLS = 30;
constexpr int CODELEN_SYMBOLS = 19;
constexpr int FIXED_LITLEN = 288; // the fixed code also names 286 and 287, which never occur
constexpr int FIXED_DIST = 32;
constexpr int MAX_BITS = 15;
constexpr int MAX_CODELEN_BITS = 7;
constexpr int END_OF_BLOCK = 256;
constexpr int MIN_MATCH = 3;
constexpr int MAX_MATCH = 258;
constexpr uint32_t WINDOW = 32768;

// Length symbols 257 + i: the shortest length and the count of extra bits.
constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols: the shortest distance and the count of extra bits.
constexpr uint16_t dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code's lengths are sent.
constexpr uint8_t codelen_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The fixed literal/length code's length of symbol [s] (0-287); every fixed distance is 5 bits.
constexpr uint8_t fixed_litlen_length(int s) { return s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8; }
constexpr uint8_t FIXED_DIST_LENGTH = 5;

} // namespace zyl::compress::format
