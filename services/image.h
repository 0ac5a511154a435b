// services/image.h: the image backend's pixel side: bitmaps of 32-bit straight-alpha pixels
// (0xAARRGGBB in a little-endian word, so bytes B, G, R, A; rows top-down, stride width * 4)
// on the C heap, and the codecs that decode into them and encode from them (PNG, JPEG, GIF,
// TIFF through their libraries, BMP written here). Nothing here allocates run-time memory or
// raises: results are status codes, so the datatype above decides on the errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zyl::imaging {

constexpr uint32_t MAX_SIDE = 65535;

struct bitmap {
    uint32_t width;
    uint32_t height;
    uint32_t* pixels; // width * height words, from malloc
};

enum format : int32_t { BMP = 0, PNG = 1, GIF = 2, JPEG = 3, TIFF = 4, UNKNOWN = -1 };

// unavailable: the format's library is missing on this system.
enum class status { ok, bad, no_memory, unavailable };

// Largest pixel count a decoder accepts (the fuzz targets lower it); sides stay <= MAX_SIDE.
extern uint64_t max_decode_pixels;

// A bitmap of [width] x [height] (both 1..MAX_SIDE), pixels uninitialised; null when the
// sizes are refused or memory is short.
bitmap* create(uint32_t width, uint32_t height);
void destroy(bitmap* b);
// Pixel bytes of [b] in 64 bits.
inline uint64_t byte_size(const bitmap* b) { return uint64_t(b->width) * b->height * 4; }

// The format whose signature starts [data], or UNKNOWN.
format sniff(const uint8_t* data, size_t length);
// Decodes the first frame of [data] (of a known format) into [*out].
status decode(const uint8_t* data, size_t length, bitmap** out);
// Encodes [b] in [fmt] into [out] (replacing its content); false on failure.
bool encode(const bitmap* b, format fmt, std::vector<uint8_t>& out);

// Whether [fmt]'s codec can run: opens its library on first use (BMP needs none).
bool codec_ready(format fmt);
// The name that an error about a missing library gives for [fmt].
const char* format_name(format fmt);

// Nearest-neighbour scale of [b] to [width] x [height]; null as create.
bitmap* scale(const bitmap* b, uint32_t width, uint32_t height);
// The rectangle at [x], [y] of [width] x [height] (within [b]); null as create.
bitmap* clip(const bitmap* b, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// The codecs, one a file. A decoder checks the sizes it reads against MAX_SIDE and
// max_decode_pixels before it allocates.
status decode_png(const uint8_t* data, size_t length, bitmap** out);
status decode_jpeg(const uint8_t* data, size_t length, bitmap** out);
status decode_gif(const uint8_t* data, size_t length, bitmap** out);
status decode_tiff(const uint8_t* data, size_t length, bitmap** out);
status decode_bmp(const uint8_t* data, size_t length, bitmap** out);
bool encode_png(const bitmap* b, std::vector<uint8_t>& out);
bool encode_jpeg(const bitmap* b, std::vector<uint8_t>& out);
bool encode_gif(const bitmap* b, std::vector<uint8_t>& out);
bool encode_tiff(const bitmap* b, std::vector<uint8_t>& out);
bool encode_bmp(const bitmap* b, std::vector<uint8_t>& out);
bool png_ready();
bool jpeg_ready();
bool gif_ready();
bool tiff_ready();

// Whether a decoder may allocate [width] x [height].
inline bool size_ok(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= MAX_SIDE && height <= MAX_SIDE &&
           width * height <= max_decode_pixels;
}

} // namespace zyl::imaging
