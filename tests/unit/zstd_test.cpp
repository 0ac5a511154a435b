// tests/unit/zstd_test.cpp: the zstd coder's parameter rows, its sizing contract, its block
// choices and bound, and the frames its decoder refuses.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "services/compress.h"
#include "services/zstd_encode.h"

using namespace zyl::compress;

namespace {

using bytes = std::vector<uint8_t>;

bytes packed(const bytes& in, int level = 3) {
    size_t size = 0;
    EXPECT_EQ(zstd_compress(nullptr, size, in.data(), in.size(), level), TOO_SMALL);
    EXPECT_EQ(size, zstd_bound(in.size()));
    bytes out(size);
    EXPECT_EQ(zstd_compress(out.data(), size, in.data(), in.size(), level), OK);
    out.resize(size);
    return out;
}

int unpacked(const bytes& in, bytes& out) {
    size_t size = 0;
    int r = zstd_decompress(nullptr, size, in.data(), in.size());
    for (int i = 0; i < 2 && r == TOO_SMALL; i++) {
        out.assign(size, 0);
        r = zstd_decompress(out.data(), size, in.data(), in.size());
    }
    if (r == OK) out.resize(size);
    return r;
}

bytes text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; i++) s += "line " + std::to_string(i * 7919 % 100003) + " of the text\n";
    s.resize(n);
    return bytes(s.begin(), s.end());
}

bytes noise(size_t n, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    bytes b(n);
    for (auto& c : b) c = uint8_t(rng());
    return b;
}

bytes cat(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The block types of the one frame in [z], in order.
std::vector<int> block_types(const bytes& z) {
    size_t p = 5;
    uint8_t d = z[4];
    if (!(d & 0x20)) p++;
    p += (d >> 6) == 0 ? ((d & 0x20) ? 1 : 0) : size_t(1) << (d >> 6);
    std::vector<int> types;
    for (bool last = false; !last && p + 3 <= z.size();) {
        uint32_t h = z[p] | z[p + 1] << 8 | z[p + 2] << 16;
        last = h & 1;
        int type = (h >> 1) & 3;
        types.push_back(type);
        p += 3 + (type == 1 ? 1 : h >> 3);
    }
    return types;
}

} // namespace

TEST(Zstd, ParameterRowsChangeAtTheClassEdgesAndAreCappedByTheInput) {
    struct row {
        size_t length;
        int level;
        zyl::zstd::params want;
    };
    for (const row& r : {
             row{16384, 1, {14, 13, 14, 1, 5, 0, 0}},  // up to 16 KB, logs capped at 14 (chain 13 when fast)
             row{16385, 1, {17, 12, 13, 1, 6, 0, 0}},  // up to 128 KB
             row{131072, 3, {17, 15, 16, 2, 5, 0, 0}},
             row{131073, 3, {18, 16, 16, 1, 4, 0, 0}}, // up to 256 KB
             row{262144, 19, {18, 19, 19, 8, 3, 7, 64}},
             row{262145, 19, {19, 20, 20, 7, 3, 7, 64}}, // above 256 KB: window capped at 19, tables at 20
             row{1 << 24, 19, {23, 24, 22, 7, 3, 7, 64}},
             row{1 << 24, 0, {21, 16, 17, 1, 5, 0, 0}}, // level 0 or less is 3
             row{1 << 24, -4, {21, 16, 17, 1, 5, 0, 0}},
             row{10, 12, {6, 7, 7, 4, 3, 5, 6}}, // tiny inputs count as 64 bytes
         }) {
        zyl::zstd::params p = zyl::zstd::params_for(r.length, r.level);
        SCOPED_TRACE(std::to_string(r.length) + " at level " + std::to_string(r.level));
        EXPECT_EQ(p.window_log, r.want.window_log);
        EXPECT_EQ(p.chain_log, r.want.chain_log);
        EXPECT_EQ(p.hash_log, r.want.hash_log);
        EXPECT_EQ(p.search_log, r.want.search_log);
        EXPECT_EQ(p.min_match, r.want.min_match);
        EXPECT_EQ(p.strategy, r.want.strategy);
        EXPECT_EQ(p.target, r.want.target);
    }
}

TEST(Zstd, FramesAboveTheWindowDeclareItAndSizeTheirContent) {
    bytes big = packed(bytes(600000, 'x'), 1); // level 1 above 256 KB: a 512 KB window
    EXPECT_EQ(bytes(big.begin(), big.begin() + 10), (bytes{0x28, 0xB5, 0x2F, 0xFD, 0x80, 0x48, 0xC0, 0x27, 0x09, 0x00}));
    bytes mid = packed(text(70000));
    EXPECT_EQ(mid[4], 0xA0);
    bytes small = packed(text(300));
    EXPECT_EQ(bytes(small.begin() + 4, small.begin() + 7), (bytes{0x60, 44, 0}));
}

TEST(Zstd, MeasuringGivesTheExactSize) {
    bytes in = text(200000), z = packed(in, 5);
    size_t size = 0;
    EXPECT_EQ(zstd_decompress(nullptr, size, z.data(), z.size()), TOO_SMALL);
    EXPECT_EQ(size, in.size());
    bytes out(in.size() - 1);
    size = out.size();
    EXPECT_EQ(zstd_decompress(out.data(), size, z.data(), z.size()), TOO_SMALL);
    EXPECT_EQ(size, in.size());
    size = 0;
    bytes empty = packed({});
    EXPECT_EQ(zstd_decompress(nullptr, size, empty.data(), empty.size()), OK);
    EXPECT_EQ(size, 0u);
}

TEST(Zstd, RandomDataGoesRawAndEveryOutputStaysWithinTheBound) {
    bytes in = noise(300000), z = packed(in, 3);
    EXPECT_EQ(block_types(z), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(z.size(), 9 + 3 * 3 + in.size());
    // Text and noise in every block make many sequences and splits whose halves may go raw.
    bytes mixed;
    for (int i = 0; i < 40; i++) mixed = cat(cat(mixed, text(5000 + i * 97)), noise(3000 + i * 13, i));
    for (int level : {1, 3, 5, 9, 13, 19}) {
        for (const bytes& b : {mixed, noise(131072 * 2 + 5), text(131072)}) {
            bytes zz = packed(b, level), back;
            EXPECT_LE(zz.size(), zstd_bound(b.size()));
            ASSERT_EQ(unpacked(zz, back), OK) << level;
            EXPECT_EQ(back, b) << level;
        }
    }
}

TEST(Zstd, DecodingStateStartsAfreshAtEveryFrame) {
    // A first block whose literals reuse an earlier Huffman table, and one whose sequence
    // tables repeat earlier ones: neither has anything to reuse, even after a frame that did.
    const bytes treeless = {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x0A, 0x2D, 0x00, 0x00, 0xA3, 0x40, 0x00, 0xFF, 0x00};
    const bytes repeated = {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x08, 0x45, 0x00, 0x00,
                            0x18, 0x61, 0x62, 0x63, 0x01, 0xFC, 0x00, 0x01};
    bytes earlier = packed(text(5000)), out;
    ASSERT_EQ(unpacked(earlier, out), OK);
    for (const bytes& frame : {treeless, repeated}) {
        EXPECT_EQ(unpacked(frame, out), MALFORMED);
        EXPECT_EQ(unpacked(cat(earlier, frame), out), MALFORMED);
    }
}

TEST(Zstd, RefusesWhatTheFrameCannotHold) {
    struct bad {
        const char* why;
        bytes frame;
    };
    for (const bad& b : {
             // 2 GB - 1 declared by a frame whose one RLE block gives at most 128 KB
             bad{"content beyond its blocks", {0x28, 0xB5, 0x2F, 0xFD, 0xA0, 0xFF, 0xFF, 0xFF, 0x7F, 0x03, 0x00, 0x10, 0x61}},
             bad{"content of 2^31", {0x28, 0xB5, 0x2F, 0xFD, 0xE0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0x01, 0x00, 0x00}},
             bad{"reserved descriptor bit", {0x28, 0xB5, 0x2F, 0xFD, 0x28, 0x00, 0x01, 0x00, 0x00}},
             bad{"block above the content", {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x01, 0x13, 0x00, 0x00, 0x61, 0x62}},
             bad{"ends after a block that is not the last", {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x01, 0x08, 0x00, 0x00, 0x61}},
             bad{"skippable frame longer than the input", {0x50, 0x2A, 0x4D, 0x18, 0x09, 0x00, 0x00, 0x00, 0xAA}},
             bad{"modes byte with reserved bits",
                 {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x08, 0x45, 0x00, 0x00, 0x18, 0x61, 0x62, 0x63, 0x01, 0x01, 0x00, 0x01}},
             bad{"trailing garbage", cat(packed(text(100)), {0x00})},
         }) {
        bytes out;
        EXPECT_EQ(unpacked(b.frame, out), MALFORMED) << b.why;
        if (b.frame[5] != 0x08) { // the bound reads frames, not the insides of compressed blocks
            EXPECT_EQ(zstd_output_bound(b.frame.data(), b.frame.size()), 0u) << b.why;
        }
    }
}

TEST(Zstd, DecodingStopsAtTheLimitAndNeverWritesPastTheCapacity) {
    bytes in = bytes(1 << 20, 'q'), z = packed(in);
    size_t size = 0;
    EXPECT_EQ(zstd_decompress(nullptr, size, z.data(), z.size(), 1000), TOO_LARGE);
    bytes out(5000, 0xEE);
    size = 4000;
    EXPECT_EQ(zstd_decompress(out.data(), size, z.data(), z.size()), TOO_SMALL);
    EXPECT_EQ(size, in.size());
    for (size_t i = 4000; i < out.size(); i++) ASSERT_EQ(out[i], 0xEE);
}

TEST(Zstd, PricedParsingBeatsLazyParsingAndKeepsWithinTheWindow) {
    // Tree search and parsing by prices (levels 16-19) against lazy hash chains (level 12).
    bytes in = text(300000);
    size_t lazy = packed(in, 12).size();
    for (int level : {16, 17, 18, 19}) {
        bytes z = packed(in, level), back;
        EXPECT_LT(z.size(), lazy) << level;
        ASSERT_EQ(unpacked(z, back), OK) << level;
        EXPECT_EQ(back, in) << level;
    }
    // Pieces around the 9 bytes the statistics pass needs, and runs that end every comparison.
    for (size_t n : {6, 8, 9, 10, 70, 300000})
        for (const bytes& b : {text(n), bytes(n, 'r')}) {
            bytes back;
            ASSERT_EQ(unpacked(packed(b, 19), back), OK) << n;
            EXPECT_EQ(back, b) << n;
        }
    // Noise whose first megabyte comes back 4.5 MB on, past the 4 MB window of levels 13 and 16:
    // a match there would shrink the frame by that megabyte.
    bytes far = cat(noise(1 << 20, 7), noise(3584 << 10, 8));
    far = cat(far, bytes(far.begin(), far.begin() + (1 << 20)));
    for (int level : {13, 16}) {
        bytes z = packed(far, level);
        EXPECT_EQ(z[4], 0x80) << level;
        EXPECT_EQ(z[5], (22 - 10) << 3) << level;
        EXPECT_GT(z.size(), far.size()) << level;
    }
}
