// tests/fuzz/zstd_encode_fuzz.cpp: the zstd compressor's fuzz target: arbitrary bytes (after a
// level byte, repeated to reach past a block when asked) compressed under ASan and UBSan; the
// frame must stay within the bound, measure to its exact size and decode to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "services/compress.h"

using namespace zyl::compress;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "zstd encode fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 16)) return 0;
    int level = data[0] % 20; // 0 means the default
    std::vector<uint8_t> in(data + 1, data + size);
    if (data[0] >= 160 && !in.empty()) // long inputs: several blocks, repeats far back
        while (in.size() < 300000) in.insert(in.end(), data + 1, data + size);
    size_t need = 0;
    if (zstd_compress(nullptr, need, in.data(), in.size(), level) != TOO_SMALL) fail("measuring did not ask");
    if (need != zstd_bound(in.size())) fail("measuring did not give the bound");
    std::vector<uint8_t> z(need);
    if (zstd_compress(z.data(), need, in.data(), in.size(), level) != OK) fail("compression failed");
    if (need > z.size()) fail("past the bound");
    size_t exact = 0;
    int r = zstd_decompress(nullptr, exact, z.data(), need);
    if ((r != TOO_SMALL && r != OK) || exact != in.size()) fail("measuring gave another size");
    std::vector<uint8_t> back(in.size() + 1);
    size_t bsize = back.size();
    if (zstd_decompress(back.data(), bsize, z.data(), need) != OK || bsize != in.size()) fail("does not decode");
    back.resize(bsize);
    if (back != in) fail("round trip differs");
    return 0;
}
