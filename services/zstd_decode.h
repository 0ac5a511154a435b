// services/zstd_decode.h: the one-shot zstd decoder, from one memory buffer into another,
// without dictionaries. It follows the calling contract of services/deflate.h and answers
// OK, TOO_SMALL (size = bytes needed), MALFORMED or TOO_LARGE. The output buffer is the
// window: matches reach back into what the frame already wrote there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::compress {

// Decodes every frame of the [length] bytes at [input] (skippable frames are passed over)
// into [output]; nothing is stored past the capacity. A null output measures. Stops with
// TOO_LARGE once the output would pass [limit] bytes.
int zstd_decompress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit = SIZE_MAX);

// The most bytes the frames of [input] can decode to: their blocks' maxima summed, without
// decoding; 0 when the frame structure is malformed. Caps a size a caller was told.
uint64_t zstd_output_bound(const uint8_t* input, size_t length);

} // namespace zyl::compress
