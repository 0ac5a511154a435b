// tests/fuzz/zstd_decode_fuzz.cpp: the zstd decoder's fuzz target: arbitrary bytes decoded into
// a capped capacity (from the first byte; 0 measures first), under ASan and UBSan. Nothing may
// be written past the capacity, a size asked for must then decode or be refused, and whatever
// decodes must come back unchanged through our compressor and decoder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "services/compress.h"

using namespace zyl::compress;

namespace {

constexpr size_t LIMIT = 1 << 24; // RLE blocks make 32768 times their size: cap the work
constexpr uint8_t GUARD = 0xA5;

void fail(const char* what) {
    std::fprintf(stderr, "zstd decode fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 16)) return 0;
    size_t cap = (data[0] >> 2) * size_t(1024);
    const uint8_t* in = data + 1;
    const size_t n = size - 1;
    if ((data[0] & 3) == 0) {
        size_t need = 0;
        int r = zstd_decompress(nullptr, need, in, n, LIMIT);
        if (r == OK && need != 0) fail("measured data, yet answered done");
        if (r == TOO_SMALL) cap = need;
    }
    std::vector<uint8_t> out(cap + 16, GUARD);
    size_t produced = cap;
    int r = zstd_decompress(out.data(), produced, in, n, LIMIT);
    for (size_t i = cap; i < out.size(); i++)
        if (out[i] != GUARD) fail("written past the capacity");
    if (r == TOO_SMALL) {
        if (produced <= cap) fail("too small, yet the size fits");
        out.assign(produced, 0);
        size_t again = produced;
        r = zstd_decompress(out.data(), again, in, n, LIMIT);
        if (r == TOO_SMALL) fail("the measured size is still too small");
        produced = again;
    }
    if (r != OK) return 0;
    out.resize(produced);
    int level = data[0] % 19 + 1;
    size_t zsize = 0;
    zstd_compress(nullptr, zsize, out.data(), out.size(), level);
    std::vector<uint8_t> z(zsize);
    if (zstd_compress(z.data(), zsize, out.data(), out.size(), level) != OK) fail("compression failed");
    std::vector<uint8_t> back(out.size());
    size_t bsize = back.size();
    if (zstd_decompress(back.data(), bsize, z.data(), zsize) != OK || back != out) fail("round trip differs");
    return 0;
}
