// services/image_bmp.cpp: BMP read and written here: info headers of 12 to 124 bytes, 1 to 32
// bits a pixel, RGB, RLE4, RLE8 and bit fields; every offset, row and run is checked against
// the data before it is read.
#include <cstring>

#include "services/image.h"

namespace zyl::imaging {

namespace {

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// One channel described by a bit mask, scaled to 0..255.
struct channel {
    uint32_t mask;
    uint32_t shift;
    uint32_t max; // the field's largest value
    uint8_t get(uint32_t v) const {
        if (!mask) return 0;
        return uint8_t((uint64_t((v & mask) >> shift) * 255 + max / 2) / max);
    }
};

channel channel_of(uint32_t mask) {
    if (!mask) return {0, 0, 1};
    uint32_t shift = uint32_t(__builtin_ctz(mask));
    uint64_t field = uint64_t(mask) >> shift;
    uint32_t bits = 0;
    while (field & 1) { bits++; field >>= 1; }
    // A mask with holes keeps its lowest run of bits.
    uint32_t m = uint32_t(((uint64_t(1) << bits) - 1) << shift);
    return {m, shift, uint32_t((uint64_t(1) << bits) - 1)};
}

struct header {
    int64_t width, height;
    uint32_t bits, compression, colours;
    uint32_t info_size;
    bool top_down;
    channel r, g, b, a;
};

// Palette entry [i] as an opaque pixel; past the palette black.
inline uint32_t palette_pixel(const uint8_t* pal, uint32_t count, uint32_t entry_size, uint32_t i) {
    if (i >= count) return 0xFF000000u;
    const uint8_t* e = pal + size_t(i) * entry_size;
    return 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
}

// RLE4 and RLE8: runs and escapes, each checked; pixels no run sets stay black.
bool decode_rle(const uint8_t* p, const uint8_t* end, bitmap* bm, const header& h, const uint8_t* pal,
                uint32_t count, uint32_t esize) {
    const bool four = h.compression == 2;
    uint32_t w = bm->width, ht = bm->height;
    uint64_t x = 0, y = 0; // y counts rows in file order
    auto put_px = [&](uint32_t index) {
        if (x < w && y < ht) {
            uint64_t row = h.top_down ? y : ht - 1 - y;
            bm->pixels[row * w + x] = palette_pixel(pal, count, esize, index);
        }
        x++;
    };
    while (p + 2 <= end) {
        uint32_t n = p[0], v = p[1];
        p += 2;
        if (n > 0) {
            for (uint32_t i = 0; i < n; i++) put_px(four ? (i & 1 ? v & 15 : v >> 4) : v);
            continue;
        }
        if (v == 0) { x = 0; y++; continue; }
        if (v == 1) return true;
        if (v == 2) {
            if (p + 2 > end) return false;
            x += p[0];
            y += p[1];
            p += 2;
            continue;
        }
        size_t bytes = four ? (v + 1) / 2 : v;
        size_t padded = (bytes + 1) & ~size_t(1);
        if (size_t(end - p) < bytes) return false;
        for (uint32_t i = 0; i < v; i++) put_px(four ? (i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
        p += std::min(padded, size_t(end - p));
        if (y > ht) return true;
    }
    return true; // data may end without its end-of-bitmap mark
}

} // namespace

status decode_bmp(const uint8_t* data, size_t length, bitmap** out) {
    if (length < 14 + 12 || data[0] != 'B' || data[1] != 'M') return status::bad;
    uint32_t offset = le32(data + 10);
    const uint8_t* ih = data + 14;
    header h{};
    h.info_size = le32(ih);
    if (h.info_size < 12 || h.info_size > 124 || 14 + size_t(h.info_size) > length) return status::bad;
    if (h.info_size == 12) {
        h.width = le16(ih + 4);
        h.height = le16(ih + 6);
        h.bits = le16(ih + 10);
    } else {
        if (h.info_size < 16) return status::bad;
        h.width = int32_t(le32(ih + 4));
        h.height = int32_t(le32(ih + 8));
        h.bits = le16(ih + 14);
        h.compression = h.info_size >= 20 ? le32(ih + 16) : 0;
        h.colours = h.info_size >= 36 ? le32(ih + 32) : 0;
    }
    h.top_down = h.height < 0;
    if (h.height < 0) h.height = -h.height;
    if (!size_ok(uint64_t(h.width < 0 ? 0 : h.width), uint64_t(h.height))) return status::bad;
    uint32_t b = h.bits;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return status::bad;
    uint32_t c = h.compression;
    bool fields = c == 3 || c == 6;
    if (!(c == 0 || (c == 1 && b == 8) || (c == 2 && b == 4) || (fields && (b == 16 || b == 32))))
        return status::bad;
    if (h.top_down && (c == 1 || c == 2)) return status::bad;

    // Masks: in the header from 52 bytes on, else just after a 40-byte header.
    size_t after = 14 + size_t(h.info_size);
    uint32_t masks[4] = {0, 0, 0, 0};
    if (fields) {
        const uint8_t* m;
        size_t n = c == 6 ? 4 : 3;
        if (h.info_size >= 52) {
            m = ih + 40;
            if (h.info_size >= 56) n = 4;
        } else {
            m = data + after;
            if (after + n * 4 > length) return status::bad;
            after += n * 4;
        }
        for (size_t i = 0; i < n; i++) masks[i] = le32(m + i * 4);
    } else if (b == 16) {
        masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
    } else if (b == 32) {
        masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF; masks[3] = 0xFF000000u;
    }
    h.r = channel_of(masks[0]);
    h.g = channel_of(masks[1]);
    h.b = channel_of(masks[2]);
    h.a = channel_of(masks[3]);

    // Palette: count 0 means 2^bits; entries are cut to what the file holds.
    uint32_t esize = h.info_size == 12 ? 3 : 4;
    uint32_t count = 0;
    const uint8_t* pal = data + after;
    if (b <= 8) {
        count = h.colours == 0 || h.colours > (1u << b) ? 1u << b : h.colours;
        size_t room = (offset > after && offset <= length ? offset : length) - after;
        if (after > length) room = 0;
        count = uint32_t(std::min<size_t>(count, room / esize));
    }
    if (offset >= length) return status::bad;
    const uint8_t* px = data + offset;
    const uint8_t* end = data + length;

    bitmap* bm = create(uint32_t(h.width), uint32_t(h.height));
    if (!bm) return status::no_memory;
    uint32_t w = bm->width, ht = bm->height;
    if (c == 1 || c == 2) {
        for (uint64_t i = 0; i < uint64_t(w) * ht; i++) bm->pixels[i] = 0xFF000000u;
        if (!decode_rle(px, end, bm, h, pal, count, esize)) {
            destroy(bm);
            return status::bad;
        }
        *out = bm;
        return status::ok;
    }
    uint64_t stride = ((uint64_t(w) * b + 31) / 32) * 4;
    if (uint64_t(end - px) < stride * (ht - 1) + (uint64_t(w) * b + 7) / 8) {
        destroy(bm);
        return status::bad;
    }
    bool any_alpha = false;
    for (uint32_t y = 0; y < ht; y++) {
        const uint8_t* row = px + stride * y;
        uint32_t* dst = bm->pixels + uint64_t(h.top_down ? y : ht - 1 - y) * w;
        for (uint32_t x = 0; x < w; x++) {
            uint32_t v;
            switch (b) {
            case 1: v = palette_pixel(pal, count, esize, (row[x / 8] >> (7 - x % 8)) & 1); break;
            case 4: v = palette_pixel(pal, count, esize, (row[x / 2] >> (x & 1 ? 0 : 4)) & 15); break;
            case 8: v = palette_pixel(pal, count, esize, row[x]); break;
            case 24: v = 0xFF000000u | uint32_t(row[x * 3 + 2]) << 16 | uint32_t(row[x * 3 + 1]) << 8 | row[x * 3]; break;
            default: {
                uint32_t raw = b == 16 ? le16(row + x * 2) : le32(row + x * 4);
                uint32_t a = h.a.mask ? h.a.get(raw) : 255;
                if (h.a.mask && a) any_alpha = true;
                v = a << 24 | uint32_t(h.r.get(raw)) << 16 | uint32_t(h.g.get(raw)) << 8 | h.b.get(raw);
            }
            }
            dst[x] = v;
        }
    }
    // 32-bit RGB files mostly leave the fourth byte 0: all zero means opaque.
    if (h.a.mask && !any_alpha && c == 0)
        for (uint64_t i = 0; i < uint64_t(w) * ht; i++) bm->pixels[i] |= 0xFF000000u;
    *out = bm;
    return status::ok;
}

bool encode_bmp(const bitmap* bm, std::vector<uint8_t>& out) {
    const uint32_t header_size = 14 + 124;
    uint64_t data = byte_size(bm);
    uint64_t total = header_size + data;
    if (total > 0xFFFFFFFFu) return false;
    out.assign(size_t(total), 0);
    uint8_t* p = out.data();
    auto w16 = [](uint8_t* q, uint32_t v) { q[0] = uint8_t(v); q[1] = uint8_t(v >> 8); };
    auto w32 = [&](uint8_t* q, uint32_t v) { w16(q, v & 0xFFFF); w16(q + 2, v >> 16); };
    p[0] = 'B';
    p[1] = 'M';
    w32(p + 2, uint32_t(total));
    w32(p + 10, header_size);
    uint8_t* ih = p + 14;
    w32(ih, 124);
    w32(ih + 4, bm->width);
    w32(ih + 8, bm->height); // positive: bottom-up rows
    w16(ih + 12, 1);
    w16(ih + 14, 32);
    w32(ih + 16, 3); // bit fields
    w32(ih + 20, uint32_t(data));
    w32(ih + 24, 2835); // 72 dots an inch
    w32(ih + 28, 2835);
    w32(ih + 40, 0x00FF0000);
    w32(ih + 44, 0x0000FF00);
    w32(ih + 48, 0x000000FF);
    w32(ih + 52, 0xFF000000u);
    w32(ih + 56, 0x73524742); // sRGB colour space
    w32(ih + 108, 4);         // picture rendering intent
    uint8_t* dst = p + header_size;
    for (uint32_t y = 0; y < bm->height; y++) {
        const uint32_t* row = bm->pixels + uint64_t(bm->height - 1 - y) * bm->width;
        std::memcpy(dst, row, size_t(bm->width) * 4);
        dst += size_t(bm->width) * 4;
    }
    return true;
}

} // namespace zyl::imaging
