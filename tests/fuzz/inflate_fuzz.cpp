// tests/fuzz/inflate_fuzz.cpp: the decompressors' fuzz target: arbitrary bytes as a raw
// deflate, zlib or gzip stream (chosen by the first byte) inflated into a capped capacity,
// under ASan and UBSan. Nothing may be written past the capacity, and whatever decodes must
// come back unchanged through our compressor and the same decompressor.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "services/compress.h"

using namespace zyl::compress;

namespace {

constexpr size_t MAX_INPUT = 1 << 16;
constexpr size_t LIMIT = 1 << 24; // deflate's bound on 64 KB of input is 64 MB: cap the work
constexpr uint8_t GUARD = 0xA5;

int decode(int m, uint8_t* out, size_t& size, const uint8_t* in, size_t n) {
    return decompress_with(m, out, size, in, n, LIMIT);
}

void fail(const char* what) {
    std::fprintf(stderr, "inflate fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > MAX_INPUT) return 0;
    static const int methods[3] = {M_DEFLATE, M_ZLIB, M_GZIP};
    int m = methods[data[0] % 3];
    size_t cap = (data[0] >> 2) * size_t(1024); // 0 to 63 KB: often too small
    std::vector<uint8_t> in(data + 1, data + size);
    std::vector<uint8_t> out(cap + 16, GUARD);
    size_t produced = cap;
    int r = decode(m, out.data(), produced, in.data(), in.size());
    for (size_t i = cap; i < out.size(); i++)
        if (out[i] != GUARD) fail("written past the capacity");
    if (r == TOO_SMALL) {
        if (produced <= cap) fail("too small, yet the size fits");
        if (produced > LIMIT) return 0;
        out.assign(produced, 0);
        size_t again = produced;
        r = decode(m, out.data(), again, in.data(), in.size());
        if (r == TOO_SMALL && m == M_GZIP) { // the size field was only a hint: now it is exact
            out.assign(again, 0);
            produced = again;
            r = decode(m, out.data(), again, in.data(), in.size());
        }
        if (r != OK && m == M_DEFLATE) fail("the measured size does not decode");
        produced = again;
    }
    if (r != OK) return 0;
    out.resize(produced);
    int level = data[0] % 10;
    size_t zsize = 0;
    compress_with(m, nullptr, zsize, out.data(), out.size(), level);
    std::vector<uint8_t> z(zsize);
    if (compress_with(m, z.data(), zsize, out.data(), out.size(), level) != OK) fail("compression failed");
    std::vector<uint8_t> back(out.size());
    size_t bsize = back.size();
    if (decode(m, back.data(), bsize, z.data(), z.size()) != OK || back != out) fail("round trip differs");
    return 0;
}
