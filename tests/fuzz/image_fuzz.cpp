// tests/fuzz/image_fuzz.cpp: a fuzz target per image decoder, chosen at build time by
// ZYL_IMAGE_FORMAT (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF): arbitrary bytes straight into that
// decoder (no signature check first), images capped at 16M pixels; whatever decodes is
// encoded again in the same format and, for the lossless ones, must decode to the same pixels.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "services/image.h"

using namespace zyl::imaging;

#ifndef ZYL_IMAGE_FORMAT
#error "ZYL_IMAGE_FORMAT names the decoder"
#endif

namespace {

status decode_as(format f, const uint8_t* data, size_t size, bitmap** out) {
    switch (f) {
    case BMP: return decode_bmp(data, size, out);
    case PNG: return decode_png(data, size, out);
    case GIF: return decode_gif(data, size, out);
    case JPEG: return decode_jpeg(data, size, out);
    default: return decode_tiff(data, size, out);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    max_decode_pixels = 16u << 20;
    const format f = format(ZYL_IMAGE_FORMAT);
    bitmap* b = nullptr;
    if (decode_as(f, data, size, &b) != status::ok) return 0;
    if (uint64_t(b->width) * b->height <= 1u << 16) { // the encoders on small images only: speed
        std::vector<uint8_t> again;
        if (!encode(b, f, again)) std::abort();
        bitmap* c = nullptr;
        if (decode_as(f, again.data(), again.size(), &c) != status::ok) std::abort();
        bool lossless = f == BMP || f == PNG || f == TIFF;
        if (c->width != b->width || c->height != b->height) std::abort();
        if (lossless && std::memcmp(c->pixels, b->pixels, byte_size(b)) != 0) std::abort();
        destroy(c);
    }
    destroy(b);
    return 0;
}
