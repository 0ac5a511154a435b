// tests/unit/compress_test.cpp: the gzip and zlib framings and the sizing rules of the
// `compress` and `decompress` natives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/compress.h"

using namespace zyl::compress;

namespace {

using bytes = std::vector<uint8_t>;

bytes packed(int m, const bytes& in, int level = -1) {
    size_t size = 0;
    EXPECT_EQ(compress_with(m, nullptr, size, in.data(), in.size(), level), TOO_SMALL);
    bytes out(size);
    EXPECT_EQ(compress_with(m, out.data(), size, in.data(), in.size(), level), OK);
    return out;
}

int unpacked(int m, const bytes& in, bytes& out, size_t limit = SIZE_MAX) {
    size_t size = 0;
    int r = decompress_with(m, nullptr, size, in.data(), in.size(), limit);
    for (int i = 0; i < 2 && r == TOO_SMALL; i++) {
        out.assign(size, 0);
        r = decompress_with(m, out.data(), size, in.data(), in.size(), limit);
    }
    out.resize(size);
    return r;
}

bytes text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; i++) s += "line " + std::to_string(i * 7 % 1000) + " of the text\n";
    s.resize(n);
    return bytes(s.begin(), s.end());
}

} // namespace

TEST(Framings, AskForTheirWholeSizeWhenEvenTheHeaderDoesNotFit) {
    bytes in = text(5000);
    for (int m : {M_GZIP, M_ZLIB}) {
        size_t need = packed(m, in).size();
        for (size_t cap : {size_t(0), size_t(1), size_t(5), size_t(17), need - 1}) {
            bytes out(cap + 4, 0xEE);
            size_t size = cap;
            EXPECT_EQ(compress_with(m, out.data(), size, in.data(), in.size(), -1), TOO_SMALL) << m << " " << cap;
            EXPECT_EQ(size, need) << m << " " << cap;
            for (size_t i = cap; i < out.size(); i++) ASSERT_EQ(out[i], 0xEE);
        }
    }
}

TEST(Framings, GzipDataIsCompressedAgainAndMembersFollowEachOther) {
    bytes in = text(3000), out;
    bytes gz = packed(M_GZIP, in);
    bytes twice = packed(M_GZIP, gz);
    EXPECT_NE(twice, gz);
    ASSERT_EQ(unpacked(M_GZIP, twice, out), OK);
    EXPECT_EQ(out, gz);
    bytes two = gz;
    bytes second = packed(M_GZIP, bytes{'x', 'y'});
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_EQ(unpacked(M_GZIP, two, out), OK);
    bytes both = in;
    both.insert(both.end(), {'x', 'y'});
    EXPECT_EQ(out, both);
    two.push_back(0);
    EXPECT_EQ(unpacked(M_GZIP, two, out), MALFORMED) << "bytes after the last member";
}

TEST(Framings, SizeClaimsAreHintsCappedByWhatTheInputCanInflateTo) {
    bytes gz = packed(M_GZIP, text(100));
    for (int i = 1; i <= 4; i++) gz[gz.size() - size_t(i)] = 0xFF; // the size field claims 4 GB
    size_t size = 0;
    EXPECT_EQ(gunzip(nullptr, size, gz.data(), gz.size()), TOO_SMALL);
    EXPECT_EQ(size, gz.size() * MAX_EXPANSION);
    bytes out;
    EXPECT_EQ(unpacked(M_GZIP, gz, out), MALFORMED);
    EXPECT_EQ(capped_claim(1u << 30, 10), 10 * MAX_EXPANSION);
    EXPECT_EQ(capped_claim(500, 10), 500u);
}

TEST(Framings, StopOnceTheOutputPassesTheLimit) {
    bytes zeros(1 << 20, 0), out;
    for (int m : {M_DEFLATE, M_ZLIB, M_GZIP}) {
        bytes z = packed(m, zeros, 9);
        EXPECT_EQ(unpacked(m, z, out, 4096), TOO_LARGE) << m;
        EXPECT_EQ(unpacked(m, z, out, zeros.size()), OK) << m;
    }
}

TEST(Framings, ZlibStreamMustEndWhereItsCheckValueBegins) {
    bytes z = packed(M_ZLIB, text(1000)), out;
    ASSERT_EQ(unpacked(M_ZLIB, z, out), OK);
    bytes padded = z;
    padded.insert(padded.end() - 4, 0);
    EXPECT_EQ(unpacked(M_ZLIB, padded, out), MALFORMED);
    bytes big_window = z;
    big_window[0] = 0x88, big_window[1] = 0x1C; // a 64 KB window, still a multiple of 31
    EXPECT_EQ(unpacked(M_ZLIB, big_window, out), MALFORMED);
}

TEST(DecompressSizing, MeasuresUnlessTheSizeIsAboveTheInput) {
    struct row {
        int method;
        size_t capacity, length;
        bool measures;
    };
    for (row r : {row{M_ZLIB, 0, 10, true}, row{M_ZLIB, 10, 10, true}, row{M_ZLIB, 11, 10, false},
                  row{M_DEFLATE, 100, 10, false}, row{M_GZIP, 100, 10, true}, row{M_ZSTD, 0, 10, true},
                  row{M_ZSTD, 5, 10, false}})
        EXPECT_EQ(decompress_measures(r.method, r.capacity, r.length), r.measures)
            << r.method << " " << r.capacity << " " << r.length;
    EXPECT_EQ(compress_capacity(0), 32u);
    EXPECT_EQ(compress_capacity(4096), 4096u + 2 + 32);
}
