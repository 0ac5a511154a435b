// runtime/boot_compress.h: the boot image's own LZ codec, both directions.
//
// A compressed block is an 8-byte header (payload size, uncompressed size; 32-bit little-endian)
// and chunks. A chunk is a 4-byte length (1 to CHUNK_MAX uncompressed bytes) and a bit stream,
// least significant bit first, padded to a byte: tokens until the chunk's length is produced.
//   literal  0, then the byte in 8 bits
//   match    1, a length code (L = n + 3, 3 to 566), a distance code (D = d + 1, 1 to 262,144);
//            the L bytes are copied one by one from D bytes back, so a match may overlap itself
// Chunks are independent: a match never reaches before its chunk, and each starts on a byte.
//
// The decompressor trusts nothing in the block: every read is bounded by the block's length,
// sizes are 64-bit, and a declared size that no payload of that length could produce (more
// than MAX_RATIO bytes per payload byte) is refused before anything is allocated.
#pragma once

#include <cstdint>

namespace zyl::boot_compress {

constexpr uint32_t CHUNK_MAX = 1u << 20;   // uncompressed bytes a chunk may produce
constexpr uint32_t MIN_INPUT = 128;        // the compressor refuses shorter input
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t MAX_DISTANCE = 262144;
// A 566-byte match costs at least 22 bits, so no payload byte yields more than about 206.
constexpr uint64_t MAX_RATIO = 256;

// Decompresses the block at [block] of [length] bytes. Answers a buffer the caller frees with
// free_buffer, and its produced byte count in [*out_size] (when not null); null for a corrupt
// or truncated block, with nothing left allocated.
uint8_t* decompress(const uint8_t* block, uint64_t length, uint64_t* out_size);
void free_buffer(uint8_t* buffer);

// Compresses the [n] bytes at [source] into [destination], which has room for [n] bytes.
// Answers the block's size, or -1 when [n] is below MIN_INPUT or the block would not be
// smaller than n - 8 bytes of payload.
int64_t compress(const uint8_t* source, uint64_t n, uint8_t* destination);

} // namespace zyl::boot_compress
