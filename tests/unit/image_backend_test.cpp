// tests/unit/image_backend_test.cpp: the image backend's bitmaps and codecs on their own:
// hand-made BMP files of every depth and compression, broken and unknown bytes, round trips
// through each encoder, scaling and clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "services/image.h"
#include "services/image_libs.h"

using namespace zyl::imaging;

namespace {

using bytes = std::vector<uint8_t>;

void le16(bytes& b, uint32_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void le32(bytes& b, uint32_t v) { le16(b, v & 0xFFFF); le16(b, v >> 16); }

// A BMP with a 40-byte info header (or [info] bytes, zero-padded), then [extra] (masks,
// palette), then [pixels]; [height] negative for top-down rows.
bytes bmp(int32_t width, int32_t height, uint32_t bits, uint32_t compression, const bytes& extra,
          const bytes& pixels, uint32_t colours = 0, uint32_t info = 40) {
    bytes b{'B', 'M'};
    le32(b, 0);
    le32(b, 0);
    le32(b, 14 + info + uint32_t(extra.size()));
    le32(b, info);
    le32(b, uint32_t(width));
    le32(b, uint32_t(height));
    le16(b, 1);
    le16(b, bits);
    le32(b, compression);
    le32(b, uint32_t(pixels.size()));
    le32(b, 0);
    le32(b, 0);
    le32(b, colours);
    le32(b, 0);
    b.resize(14 + info, 0);
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

std::vector<uint32_t> decoded(const bytes& data, status* st = nullptr) {
    bitmap* b = nullptr;
    status s = decode(data.data(), data.size(), &b);
    if (st) *st = s;
    if (s != status::ok) return {};
    std::vector<uint32_t> px(b->pixels, b->pixels + size_t(b->width) * b->height);
    destroy(b);
    return px;
}

// A palette of BGRX entries.
bytes palette(std::initializer_list<uint32_t> rgb) {
    bytes p;
    for (uint32_t c : rgb) le32(p, c);
    return p;
}

} // namespace

TEST(ImageBackendTest, BmpDepthsAndCompressionsDecodeToStraightPixels) {
    struct row {
        const char* name;
        bytes file;
        std::vector<uint32_t> pixels;
    };
    const uint32_t K = 0xFF000000u; // opaque black
    std::vector<row> table = {
        // 1 bit, palette count 0 meaning 2 entries; bottom-up: the first row in the file is the bottom.
        {"1-bit", bmp(2, 2, 1, 0, palette({0x0000FF, 0xFFFFFF}), {0x40, 0, 0, 0, 0x80, 0, 0, 0}),
         {K | 0xFFFFFF, K | 0x0000FF, K | 0x0000FF, K | 0xFFFFFF}},
        // 4 bit with an index past the 2-entry palette: black.
        {"4-bit", bmp(2, 1, 4, 0, palette({0x112233, 0x445566}), {0x1F, 0, 0, 0}, 2), {K | 0x445566, K}},
        {"8-bit top-down", bmp(1, -2, 8, 0, palette({0x010203, 0x040506}), {1, 0, 0, 0, 0, 0, 0, 0}, 2),
         {K | 0x040506, K | 0x010203}},
        {"16-bit 5-5-5", bmp(2, 1, 16, 0, {}, {0x00, 0x7C, 0x1F, 0x00}), {K | 0xFF0000, K | 0x0000FF}},
        {"24-bit", bmp(1, 1, 24, 0, {}, {0x03, 0x02, 0x01, 0}), {K | 0x010203}},
        // 32-bit RGB with every fourth byte 0: opaque, not transparent.
        {"32-bit zero alpha", bmp(1, 1, 32, 0, {}, {0x03, 0x02, 0x01, 0x00}), {K | 0x010203}},
        {"32-bit fields with alpha", [] {
             bytes b = bmp(1, 1, 32, 3, {}, {0x03, 0x02, 0x01, 0x80}, 0, 56);
             bytes masks = palette({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
             std::copy(masks.begin(), masks.end(), b.begin() + 14 + 40);
             return b;
         }(),
         {0x80010203}},
        {"16-bit fields after the header", bmp(1, 1, 16, 3, palette({0xF800, 0x07E0, 0x001F}), {0x1F, 0x00, 0, 0}),
         {K | 0x0000FF}},
        // RLE8: a run of 2, an absolute run of 3 (padded), end of line, delta, end of bitmap.
        {"RLE8", bmp(3, 2, 8, 1, palette({0x000000, 0xFF0000, 0x00FF00}),
                     {2, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 1}, 3),
         {K | 0x00FF00, K | 0xFF0000, K | 0x00FF00, K | 0xFF0000, K | 0xFF0000, K}},
        {"RLE4", bmp(3, 1, 4, 2, palette({0x000000, 0xFF0000, 0x00FF00}), {3, 0x12, 0, 1}, 3),
         {K | 0xFF0000, K | 0x00FF00, K | 0xFF0000}},
    };
    for (const row& r : table) {
        status st;
        EXPECT_EQ(decoded(r.file, &st), r.pixels) << r.name;
        EXPECT_EQ(st, status::ok) << r.name;
    }
    // The 12-byte core header with 3-byte palette entries.
    bytes core{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 8, 0,
               0, 0, 0, 9, 8, 7, 1, 0, 0, 0};
    EXPECT_EQ(decoded(core), std::vector<uint32_t>{0xFF070809});
}

TEST(ImageBackendTest, BrokenBmpHeadersAndDataAreRefused) {
    bytes good = bmp(2, 2, 24, 0, {}, bytes(16, 0));
    std::vector<std::pair<const char*, bytes>> bad = {
        {"cut rows", bytes(good.begin(), good.end() - 3)},
        {"offset past the end", [&] { bytes b = good; b[10] = 0xFF; b[11] = 0xFF; return b; }()},
        {"info size 200", [&] { bytes b = good; b[14] = 200; return b; }()},
        {"bits 7", [&] { bytes b = good; b[28] = 7; return b; }()},
        {"width 0", bmp(0, 2, 24, 0, {}, bytes(16, 0))},
        {"width above 65535", bmp(70000, 1, 24, 0, {}, bytes(16, 0))},
        {"RLE8 at 24 bits", bmp(1, 1, 24, 1, {}, bytes(4, 0))},
        {"RLE8 absolute run past the data", bmp(4, 1, 8, 1, palette({0}), {0, 4, 1}, 1)},
        {"header only", bytes(good.begin(), good.begin() + 20)},
    };
    for (auto& [name, file] : bad) {
        status st;
        decoded(file, &st);
        EXPECT_EQ(st, status::bad) << name;
    }
}

TEST(ImageBackendTest, SignaturesChooseTheFormatAndUnknownBytesNone) {
    struct row {
        const char* bytes_;
        size_t n;
        format f;
    };
    const row table[] = {
        {"\x89PNG", 4, PNG},     {"\xFF\xD8\xFF", 3, JPEG}, {"BM", 2, BMP},
        {"GIF89a", 6, GIF},      {"GIF87a", 6, GIF},        {"GIF88a", 6, UNKNOWN},
        {"II*\0", 4, TIFF},      {"MM\0*", 4, TIFF},        {"MM*\0", 4, UNKNOWN},
        {"\x89PN", 3, UNKNOWN},  {"", 0, UNKNOWN},
    };
    for (const row& r : table)
        EXPECT_EQ(sniff(reinterpret_cast<const uint8_t*>(r.bytes_), r.n), r.f) << r.bytes_;
}

namespace {

// A [w] x [h] image of smooth gradients with binary alpha and few colours when [few].
bitmap* sample(uint32_t w, uint32_t h, bool few, bool with_alpha) {
    bitmap* b = create(w, h);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t r = few ? (x * 7) % 16 * 16 : x * 255 / (w - 1);
            uint32_t g = few ? (y * 3) % 15 * 16 : y * 255 / (h - 1);
            uint32_t bl = few ? 0x40 : (x + y) * 255 / (w + h - 2);
            uint32_t a = !with_alpha ? 255 : few ? ((x + y) % 5 == 0 ? 0 : 255) : (x * 31 + y) % 256;
            b->pixels[size_t(y) * w + x] = a << 24 | r << 16 | g << 8 | bl;
        }
    return b;
}

bytes encoded(const bitmap* b, format f) {
    bytes out;
    EXPECT_TRUE(encode(b, f, out)) << f;
    return out;
}

} // namespace

TEST(ImageBackendTest, LosslessFormatsRoundTripExactlyWithAlpha) {
    bitmap* b = sample(37, 23, false, true);
    std::vector<uint32_t> want(b->pixels, b->pixels + 37 * 23);
    for (format f : {PNG, BMP, TIFF}) EXPECT_EQ(decoded(encoded(b, f)), want) << f;
    destroy(b);
    // GIF: exact with at most 255 colours and binary alpha (clear pixels read back as 0).
    bitmap* g = sample(40, 30, true, true);
    std::vector<uint32_t> gw(g->pixels, g->pixels + 40 * 30);
    for (uint32_t& p : gw)
        if ((p >> 24) == 0) p = 0;
    EXPECT_EQ(decoded(encoded(g, GIF)), gw);
    destroy(g);
}

TEST(ImageBackendTest, GifOfManyColoursIsQuantisedAndJpegStaysClose) {
    bitmap* b = sample(64, 64, false, false);
    std::vector<uint32_t> gif = decoded(encoded(b, GIF));
    ASSERT_EQ(gif.size(), 64u * 64);
    bytes jpeg = encoded(b, JPEG);
    ASSERT_GE(jpeg.size(), 3u);
    EXPECT_EQ(bytes(jpeg.begin(), jpeg.begin() + 3), (bytes{255, 216, 255}));
    std::vector<uint32_t> back = decoded(jpeg);
    ASSERT_EQ(back.size(), 64u * 64);
    double err = 0;
    for (size_t i = 0; i < back.size(); i++)
        for (int s = 0; s < 24; s += 8)
            err += std::abs(int((back[i] >> s) & 255) - int((b->pixels[i] >> s) & 255));
    EXPECT_LT(err / (back.size() * 3), 3.0);
    for (uint32_t p : back) EXPECT_EQ(p >> 24, 255u);
    destroy(b);
}

TEST(ImageBackendTest, CutAndCorruptPngIsBadMedia) {
    bitmap* b = sample(50, 50, false, true);
    bytes png = encoded(b, PNG);
    destroy(b);
    EXPECT_EQ(bytes(png.begin(), png.begin() + 4), (bytes{137, 80, 78, 71}));
    status st;
    decoded(bytes(png.begin(), png.begin() + png.size() / 2), &st);
    EXPECT_EQ(st, status::bad);
    // Flip a byte inside the first IDAT's data: its checksum no longer matches.
    bytes broken = png;
    size_t idat = std::string(broken.begin(), broken.end()).find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    broken[idat + 10] ^= 0x55;
    decoded(broken, &st);
    EXPECT_EQ(st, status::bad);
    decoded(bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0}, &st);
    EXPECT_EQ(st, status::bad);
}

TEST(ImageBackendTest, GifIndexesPastTheColourMapAreBadMedia) {
    // A 2x1 GIF whose 2-entry global map is addressed with LZW codes that yield index 3.
    bytes g{'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 1, 2, 3, 4, 5, 6, ',', 0, 0, 0, 0, 2, 0, 1, 0, 0,
            2, 2, 0xDC, 0x0A, 0, ';'};
    status st;
    decoded(g, &st);
    EXPECT_EQ(st, status::bad);
}

TEST(ImageBackendTest, ScaleIsNearestNeighbourAndClipCopiesARectangle) {
    bitmap* b = create(2, 2);
    uint32_t px[4] = {1, 2, 3, 4};
    std::memcpy(b->pixels, px, 16);
    bitmap* s = scale(b, 4, 3);
    std::vector<uint32_t> want = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4};
    EXPECT_EQ(std::vector<uint32_t>(s->pixels, s->pixels + 12), want);
    bitmap* c = clip(s, 1, 1, 2, 2);
    EXPECT_EQ(std::vector<uint32_t>(c->pixels, c->pixels + 4), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(create(0, 5), nullptr);
    EXPECT_EQ(create(65536, 1), nullptr);
    destroy(b);
    destroy(s);
    destroy(c);
}

// The codec libraries are opened on first use: every format's is found here, and a library
// that is missing (or lacks a symbol) is reported once, never half bound.
TEST(ImageBackendTest, CodecLibrariesOpenOnFirstUseAndAMissingOneIsRefused) {
    for (format f : {PNG, JPEG, GIF, TIFF, BMP}) EXPECT_TRUE(codec_ready(f)) << format_name(f);

    void* slot = nullptr;
    const library_symbol absent[] = {{"zyl_no_such_function", &slot}};
    codec_library no_file{"libzyl-no-such-codec.so.0", absent, 1, 0};
    EXPECT_FALSE(library_ready(no_file));
    EXPECT_EQ(no_file.state, -1);
    EXPECT_FALSE(library_ready(no_file));

    const library_symbol one_missing[] = {{"png_get_io_ptr", &slot}, {"zyl_no_such_function", &slot}};
    codec_library no_symbol{png_soname, one_missing, 2, 0};
    EXPECT_FALSE(library_ready(no_symbol));
    EXPECT_EQ(no_symbol.state, -1);
}
