// services/image.cpp: bitmaps, format sniffing, the codec dispatch, scaling and clipping.
#include "services/image.h"

#include <cstdlib>
#include <cstring>

namespace zyl::imaging {

uint64_t max_decode_pixels = uint64_t(MAX_SIDE) * MAX_SIDE;

bitmap* create(uint32_t width, uint32_t height) {
    if (width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE) return nullptr;
    auto* b = static_cast<bitmap*>(std::malloc(sizeof(bitmap)));
    if (!b) return nullptr;
    b->width = width;
    b->height = height;
    b->pixels = static_cast<uint32_t*>(std::malloc(uint64_t(width) * height * 4));
    if (!b->pixels) {
        std::free(b);
        return nullptr;
    }
    return b;
}

void destroy(bitmap* b) {
    if (!b) return;
    std::free(b->pixels);
    std::free(b);
}

format sniff(const uint8_t* d, size_t n) {
    if (n >= 4 && d[0] == 137 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G') return PNG;
    if (n >= 3 && d[0] == 255 && d[1] == 216 && d[2] == 255) return JPEG;
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return BMP;
    if (n >= 6 && std::memcmp(d, "GIF8", 4) == 0 && (d[4] == '7' || d[4] == '9') && d[5] == 'a') return GIF;
    if (n >= 4 && ((d[0] == 'I' && d[1] == 'I' && d[2] == '*' && d[3] == 0) ||
                   (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == '*')))
        return TIFF;
    return UNKNOWN;
}

status decode(const uint8_t* data, size_t length, bitmap** out) {
    *out = nullptr;
    switch (sniff(data, length)) {
    case PNG: return decode_png(data, length, out);
    case JPEG: return decode_jpeg(data, length, out);
    case BMP: return decode_bmp(data, length, out);
    case GIF: return decode_gif(data, length, out);
    case TIFF: return decode_tiff(data, length, out);
    default: return status::bad;
    }
}

bool codec_ready(format fmt) {
    switch (fmt) {
    case PNG: return png_ready();
    case JPEG: return jpeg_ready();
    case GIF: return gif_ready();
    case TIFF: return tiff_ready();
    default: return true;
    }
}

const char* format_name(format fmt) {
    switch (fmt) {
    case PNG: return "PNG";
    case JPEG: return "JPEG";
    case GIF: return "GIF";
    case TIFF: return "TIFF";
    default: return "BMP";
    }
}

bool encode(const bitmap* b, format fmt, std::vector<uint8_t>& out) {
    out.clear();
    switch (fmt) {
    case PNG: return encode_png(b, out);
    case JPEG: return encode_jpeg(b, out);
    case BMP: return encode_bmp(b, out);
    case GIF: return encode_gif(b, out);
    case TIFF: return encode_tiff(b, out);
    default: return false;
    }
}

bitmap* scale(const bitmap* b, uint32_t width, uint32_t height) {
    bitmap* r = create(width, height);
    if (!r) return nullptr;
    for (uint32_t y = 0; y < height; y++) {
        const uint32_t* src = b->pixels + uint64_t(uint64_t(y) * b->height / height) * b->width;
        uint32_t* dst = r->pixels + uint64_t(y) * width;
        for (uint32_t x = 0; x < width; x++) dst[x] = src[uint64_t(x) * b->width / width];
    }
    return r;
}

bitmap* clip(const bitmap* b, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    bitmap* r = create(width, height);
    if (!r) return nullptr;
    for (uint32_t row = 0; row < height; row++)
        std::memcpy(r->pixels + uint64_t(row) * width, b->pixels + uint64_t(y + row) * b->width + x,
                    uint64_t(width) * 4);
    return r;
}

} // namespace zyl::imaging
