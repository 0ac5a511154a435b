// services/compress.h: the compression methods of `compress` and `decompress`: their words,
// the gzip and zlib framings around raw deflate, and how the natives size their buffers.
//
// Every compressor and decompressor follows the calling contract of services/deflate.h:
// (output, size, input, length[, level]) answering OK, TOO_SMALL with the size needed, or
// another result code for data that does not decode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "services/deflate.h"
#include "services/zstd_decode.h"
#include "services/zstd_encode.h"

namespace zyl::compress {

// The method words, in the order they are made.
enum method : int { M_ZLIB, M_DEFLATE, M_GZIP, M_ZSTD, M_COUNT };

// Makes the method words; once, at start-up.
void init_method_words();
// The method that the word of symbol [sym] names, case-insensitively; M_COUNT for none.
int method_of(uint32_t sym);

// A gzip member of the [length] bytes at [input] deflated at [level] (-1: none given, which
// deflates at 6 and writes extra flags 4).
int gzip(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level);
// Every gzip member of [input] in turn, each trailer right after its member's deflate
// stream; nothing may follow the last member. A capacity below the last member's size
// field (capped by what the input can inflate to) answers TOO_SMALL with that size at once,
// so that measuring is cheap. Stops with TOO_LARGE once the output passes [limit].
int gunzip(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit = SIZE_MAX);
// A zlib stream of [input] deflated at [level] (-1: none given, which deflates at 6 and
// writes the flags of level 1).
int zlib_compress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level);
// A zlib stream without a preset dictionary whose deflate stream ends where its check
// value begins.
int zlib_decompress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit = SIZE_MAX);

// {== What the natives do with them

// The compressor or decompressor of [m] called as above.
int compress_with(int m, uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level);
int decompress_with(int m, uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit);
// The first capacity `compress` tries for [length] bytes.
inline size_t compress_capacity(size_t length) { return length + (length >> 11) + 32; }
// Whether `decompress` by [m] first measures, with [capacity] from its /size (0 when none).
bool decompress_measures(int m, size_t capacity, size_t length);
// A size that the data claims ([claim]: /size, a gzip size field) capped by what [length]
// bytes of input can inflate to.
inline uint64_t capped_claim(uint64_t claim, size_t length) {
    return claim < MAX_EXPANSION * length ? claim : MAX_EXPANSION * length;
}
// The same for the [length] bytes at [input] in method [m]: zstd frames can give no more
// than their blocks' maxima.
uint64_t capped_claim(uint64_t claim, int m, const uint8_t* input, size_t length);

// }==

} // namespace zyl::compress
