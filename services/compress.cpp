// services/compress.cpp: the compression method words, the gzip and zlib framings around raw
// deflate, and the sizing rules of the `compress` and `decompress` natives.
#include "services/compress.h"

#include <algorithm>

#include "datatypes/symbol.h"
#include "services/checksum.h"
#include "services/zstd_decode.h"
#include "services/zstd_encode.h"

namespace zyl::compress {

namespace {

constexpr const char* METHOD_NAMES[M_COUNT] = {"zlib", "deflate", "gzip", "zstd"};
uint32_t method_symbols[M_COUNT]; // canonical symbol ids

constexpr size_t GZIP_HEADER = 10, GZIP_TRAILER = 8;
constexpr size_t ZLIB_HEADER = 2, ZLIB_TRAILER = 4;
enum gzip_flag : uint8_t { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, RESERVED_FLAGS = 0xE0 };

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24; }
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
void put_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}

// Deflates [input] between a [header] and a trailer of [trailer] bytes that [finish] writes
// after the deflate stream it is handed.
template <typename F>
int framed(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level, const uint8_t* header,
           size_t head, size_t trailer, F finish) {
    size_t cap = output ? size : 0;
    size_t room = cap >= head ? cap - head : 0;
    int r = deflate(room ? output + head : nullptr, room, input, length, level);
    size = head + room + trailer;
    if (r != OK || size > cap) return TOO_SMALL;
    std::copy(header, header + head, output);
    finish(output + head + room);
    return OK;
}

// The end of the gzip member header that starts at [p], or 0 when it is not one.
size_t gzip_header(const uint8_t* in, size_t length, size_t p) {
    const size_t start = p;
    if (length - p < GZIP_HEADER || in[p] != 31 || in[p + 1] != 139 || in[p + 2] != 8) return 0;
    uint8_t flags = in[p + 3];
    if (flags & RESERVED_FLAGS) return 0;
    p += GZIP_HEADER;
    if (flags & FEXTRA) {
        if (length - p < 2) return 0;
        size_t extra = size_t(in[p]) | size_t(in[p + 1]) << 8;
        if (length - p - 2 < extra) return 0;
        p += 2 + extra;
    }
    for (uint8_t f : {FNAME, FCOMMENT}) {
        if (!(flags & f)) continue;
        while (p < length && in[p]) p++;
        if (p++ == length) return 0;
    }
    if (flags & FHCRC) {
        if (length - p < 2) return 0;
        uint32_t crc = checksum::crc32_update(0, in + start, p - start) & 0xFFFF;
        if (crc != (uint32_t(in[p]) | uint32_t(in[p + 1]) << 8)) return 0;
        p += 2;
    }
    return p;
}

} // namespace

void init_method_words() {
    for (int m = 0; m < M_COUNT; m++) method_symbols[m] = symbol::resolve(symbol::make(METHOD_NAMES[m]));
}

int method_of(uint32_t sym) {
    uint32_t s = symbol::resolve(sym);
    for (int m = 0; m < M_COUNT; m++)
        if (method_symbols[m] == s) return m;
    return M_COUNT;
}

int gzip(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level) {
    const uint8_t header[GZIP_HEADER] = {31, 139, 8, 0, 0, 0, 0, 0, uint8_t(level == 9 ? 2 : level >= 2 ? 0 : 4), 4};
    return framed(output, size, input, length, level, header, GZIP_HEADER, GZIP_TRAILER, [&](uint8_t* end) {
        put_le32(end, checksum::crc32_update(0, input, length));
        put_le32(end + 4, uint32_t(length));
    });
}

int zlib_compress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level) {
    uint8_t flags = level < 2 ? 0x01 : level <= 5 ? 0x5E : level == 6 ? 0x9C : 0xDA;
    const uint8_t header[ZLIB_HEADER] = {0x78, flags};
    return framed(output, size, input, length, level, header, ZLIB_HEADER, ZLIB_TRAILER,
                  [&](uint8_t* end) { put_be32(end, checksum::adler32_update(1, input, length)); });
}

int gunzip(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit) {
    size_t cap = output ? size : 0;
    size = 0;
    if (length < GZIP_HEADER + GZIP_TRAILER || !gzip_header(input, length, 0)) return MALFORMED;
    uint64_t claim = capped_claim(le32(input + length - 4), length);
    if (cap < claim) {
        size = size_t(claim);
        return TOO_SMALL;
    }
    size_t total = 0, p = 0;
    do {
        p = gzip_header(input, length, p);
        if (!p) return MALFORMED;
        size_t room = total < cap ? cap - total : 0, used = 0;
        int r = inflate_stream(room ? output + total : nullptr, room, input + p, length - p,
                               limit > total ? limit - total : 0, used);
        size = total + room;
        if (r != OK && r != TOO_SMALL) return r;
        p += used;
        if (length - p < GZIP_TRAILER || le32(input + p + 4) != uint32_t(room)) return MALFORMED;
        const uint8_t* got = output ? output + total : nullptr; // a measuring call has no output
        if (size <= cap && checksum::crc32_update(0, got, room) != le32(input + p)) return MALFORMED;
        total = size;
        p += GZIP_TRAILER;
    } while (p < length);
    return total > cap ? TOO_SMALL : OK;
}

int zlib_decompress(uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit) {
    size_t cap = output ? size : 0;
    size = 0;
    if (length < ZLIB_HEADER + ZLIB_TRAILER) return MALFORMED;
    uint8_t cmf = input[0], flg = input[1];
    if ((cmf * 256u + flg) % 31 || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (flg & 0x20)) return MALFORMED;
    size_t body = length - ZLIB_HEADER - ZLIB_TRAILER, used = 0;
    size = cap;
    int r = inflate_stream(output, size, input + ZLIB_HEADER, body, limit, used);
    if (r != OK && r != TOO_SMALL) return r;
    if (used != body) return MALFORMED; // bytes between the stream's end and its check value
    if (r == OK && checksum::adler32_update(1, output, size) != be32(input + length - ZLIB_TRAILER)) return MALFORMED;
    return r;
}

int compress_with(int m, uint8_t* output, size_t& size, const uint8_t* input, size_t length, int level) {
    switch (m) {
    case M_ZLIB: return zlib_compress(output, size, input, length, level);
    case M_GZIP: return gzip(output, size, input, length, level);
    case M_ZSTD: return zstd_compress(output, size, input, length, level);
    default: return deflate(output, size, input, length, level);
    }
}

int decompress_with(int m, uint8_t* output, size_t& size, const uint8_t* input, size_t length, size_t limit) {
    size_t used = 0;
    switch (m) {
    case M_ZLIB: return zlib_decompress(output, size, input, length, limit);
    case M_GZIP: return gunzip(output, size, input, length, limit);
    case M_ZSTD: return zstd_decompress(output, size, input, length, limit);
    default: return inflate_stream(output, size, input, length, limit, used);
    }
}

uint64_t capped_claim(uint64_t claim, int m, const uint8_t* input, size_t length) {
    if (m != M_ZSTD) return capped_claim(claim, length);
    return std::min(claim, zstd_output_bound(input, length));
}

bool decompress_measures(int m, size_t capacity, size_t length) {
    switch (m) {
    case M_GZIP: return true;
    case M_ZSTD: return capacity == 0;
    default: return capacity <= length;
    }
}

} // namespace zyl::compress
