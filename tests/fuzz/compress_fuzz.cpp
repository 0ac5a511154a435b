// tests/fuzz/compress_fuzz.cpp: the compressors' fuzz target: arbitrary bytes compressed at a
// level and by a method taken from the first byte, under ASan and UBSan; the result must
// decompress to the same bytes, and a measuring call must give the exact size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "services/compress.h"

using namespace zyl::compress;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "compress fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 18)) return 0;
    static const int methods[3] = {M_DEFLATE, M_ZLIB, M_GZIP};
    int level = data[0] % 11 - 1; // -1 (none) to 9
    int m = methods[(data[0] / 11) % 3];
    std::vector<uint8_t> in(data + 1, data + size);
    size_t need = 0;
    if (compress_with(m, nullptr, need, in.data(), in.size(), level) != TOO_SMALL) fail("measuring did not ask");
    std::vector<uint8_t> z(need + 1, 0xA5);
    size_t zsize = need;
    if (compress_with(m, z.data(), zsize, in.data(), in.size(), level) != OK || zsize != need) fail("measure is off");
    if (z[need] != 0xA5) fail("written past the capacity");
    std::vector<uint8_t> back(in.size());
    size_t bsize = back.size();
    if (decompress_with(m, back.data(), bsize, z.data(), zsize, SIZE_MAX) != OK || back != in) fail("round trip differs");
    return 0;
}
