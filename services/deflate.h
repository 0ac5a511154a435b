// services/deflate.h: the one-shot raw deflate compressor and inflater, from one memory buffer
// into another.
//
// The calling contract, both ways: (output, size, input, length[, level]). On entry [size] is
// the output's capacity; on return it is the count of bytes the output needs, written or not.
// Nothing is stored past the capacity: bytes beyond it are only counted, so a null output with
// capacity 0 measures. Working memory is the C++ heap: no series moves during a call, and the
// output and input may lie in series buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::compress {

// Result codes of every compressor and decompressor.
enum result : int {
    OK = 0,           // done; size = bytes written
    TOO_SMALL = 1,    // the output was too small; size = bytes needed
    MALFORMED = 2,    // bad data (bad code, truncated stream, bad framing or check value)
    STORED_SHORT = 3, // a stored block runs past the end of the input
    RESERVED = 4,     // a block of the reserved type 3
    TOO_FAR = 5,      // a distance reaches back before the start; size = bytes produced
    TOO_LARGE = 6,    // the output passed the caller's limit (only with a limit)
};

// Deflates the [length] bytes at [input] at [level] (1-9; below 1 means 6) into [output];
// answers OK or TOO_SMALL.
int deflate(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level);

// Inflates the raw deflate stream of [length] bytes at [input] into [output]; answers OK to
// TOO_FAR. A stream that needs a bit past its input before its final block ends is MALFORMED,
// and so is every bad code set or symbol. Bytes after the final block are not read.
int inflate(uint8_t* output, size_t& size, const uint8_t* input, size_t length);

// inflate for the framings: also answers in [used] the input bytes the stream took (its last
// byte counted whole), and stops with TOO_LARGE as soon as the output passes [limit] bytes.
int inflate_stream(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit, size_t& used);

// The most bytes a deflate stream of [length] bytes can inflate to: each length-258 match
// costs at least two bits.
constexpr uint64_t MAX_EXPANSION = 1032;

} // namespace zyl::compress
