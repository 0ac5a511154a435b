// tests/unit/checksum_test.cpp: the checksums' known values, their fast paths against the
// reference loops, and the running forms fed in pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/case.h"
#include "runtime_fixture.h"
#include "services/checksum.h"
#include "services/random.h"

using namespace zyl;

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::mt19937 g(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(g());
    return v;
}

// Lengths around every boundary of the fast paths: 8-byte slices, 16/64-byte lanes,
// 32-byte vector steps and the 5552-byte reduction runs.
std::vector<size_t> edge_lengths() {
    std::vector<size_t> v;
    for (size_t n = 0; n <= 200; n++) v.push_back(n);
    for (size_t n : {255, 256, 257, 1023, 1024, 1025, 5551, 5552, 5553, 11104, 11105, 65535, 65536, 65537})
        v.push_back(n);
    return v;
}

} // namespace

TEST(Checksum, KnownValues) {
    struct {
        std::string text;
        uint32_t crc, adler, tcp;
    } cases[] = {
        {"", 0, 1, 0xFFFF},
        {"\x01", 0xA505DF1B, 0x00020002, 0xFFFE},
        {"abc", 0x352441C2, 0x024D0127, 40506},
        {"123456789", 0xCBF43926, 0x091E01DE, 0x2EF2},
        {"Wikipedia", 0xADAAC02E, 0x11E60398, 0x67FD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(checksum::crc32(bytes(c.text), c.text.size()), c.crc);
        EXPECT_EQ(checksum::adler32(bytes(c.text), c.text.size()), c.adler);
        EXPECT_EQ(checksum::tcp(bytes(c.text), c.text.size()), c.tcp);
    }
}

TEST(Checksum, FastPathsAgreeWithTheReferenceLoops) {
    std::vector<uint8_t> data = noise(70000, 1);
    // All 0xFF bytes drive the Adler sums to their largest values between reductions.
    std::vector<uint8_t> ones(70000, 0xFF);
    for (const auto* d : {&data, &ones}) {
        for (size_t n : edge_lengths()) {
            SCOPED_TRACE(n);
            for (size_t off : {size_t(0), size_t(3)}) { // unaligned starts too
                const uint8_t* p = d->data() + off;
                uint32_t ref = checksum::crc32_update_table(0, p, n);
                ASSERT_EQ(checksum::crc32_update(0, p, n), ref);
                ASSERT_EQ(checksum::crc32_update_sliced(0, p, n), ref);
                ASSERT_EQ(checksum::adler32_update(1, p, n), checksum::adler32_update_scalar(1, p, n));
            }
        }
    }
}

TEST(Checksum, RunningFormsGiveTheWholeResultInAnySplit) {
    std::vector<uint8_t> data = noise(20000, 2);
    uint32_t crc = checksum::crc32(data.data(), data.size());
    uint32_t adler = checksum::adler32(data.data(), data.size());
    for (size_t cut : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(5553), size_t(19999), size_t(20000)}) {
        SCOPED_TRACE(cut);
        uint32_t c = checksum::crc32_update(0, data.data(), cut);
        EXPECT_EQ(checksum::crc32_update(c, data.data() + cut, data.size() - cut), crc);
        uint32_t a = checksum::adler32_update(1, data.data(), cut);
        EXPECT_EQ(checksum::adler32_update(a, data.data() + cut, data.size() - cut), adler);
    }
    // Byte by byte, from a start that is not the empty state.
    uint32_t c = 0, a = 1;
    for (uint8_t b : data) c = checksum::crc32_update(c, &b, 1), a = checksum::adler32_update(a, &b, 1);
    EXPECT_EQ(c, crc);
    EXPECT_EQ(a, adler);
}

TEST(Checksum, Xxh64KnownValues) {
    struct {
        std::string text;
        uint64_t hash;
    } cases[] = {
        {"", 0xEF46DB3751D8E999ull},
        {"abc", 0x44BC2CF5AD770999ull},
    };
    for (const auto& c : cases) EXPECT_EQ(checksum::xxh64(bytes(c.text), c.text.size()), c.hash) << c.text;
}

// Sums above 65,536 bytes no longer fit 32 signed bits: all 0xFF bytes show an overflow at once.
TEST(Checksum, TcpSumOfLongInputsFoldsEveryCarry) {
    std::vector<uint8_t> ones(200001, 0xFF);
    // Every word is 0xFFFF, which is 0 in ones'-complement arithmetic; the odd 0xFF stays.
    EXPECT_EQ(checksum::tcp(ones.data(), ones.size()), 0xFF00u);
    EXPECT_EQ(checksum::tcp(ones.data(), ones.size() - 1), 0u);
}

TEST(Checksum, DigestsRefuseWhatIsNoDigest) {
    checksum::init_digests();
    uint8_t out[checksum::MAX_DIGEST];
    for (auto a : {checksum::A_TCP, checksum::A_CRC32, checksum::A_NONE, checksum::algorithm(7)}) {
        EXPECT_EQ(checksum::digest(a, out, 0, out), checksum::REFUSED) << a;
        EXPECT_EQ(checksum::digest_size(a), 0u) << a;
        EXPECT_EQ(checksum::block_size(a), 0u) << a;
    }
    struct {
        checksum::algorithm a;
        size_t size, block;
    } sizes[] = {{checksum::A_MD5, 16, 64},     {checksum::A_SHA1, 20, 64},      {checksum::A_SHA256, 32, 64},
                 {checksum::A_SHA384, 48, 128}, {checksum::A_SHA512, 64, 128}};
    for (const auto& c : sizes) {
        EXPECT_EQ(checksum::digest_size(c.a), c.size);
        EXPECT_EQ(checksum::block_size(c.a), c.block);
        EXPECT_EQ(checksum::digest(c.a, out, 0, out), checksum::OK);
    }
}

namespace {

struct ChecksumWords : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        checksum::init();
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

} // namespace

TEST_F(ChecksumWords, MethodWordsInAnyCase) {
    struct {
        const char* name;
        checksum::algorithm number;
        size_t size;
    } words[] = {{"tcp", checksum::A_TCP, 0},        {"MD5", checksum::A_MD5, 16},
                 {"Sha1", checksum::A_SHA1, 20},     {"CRC32", checksum::A_CRC32, 0},
                 {"adler32", checksum::A_NONE, 0},   {"sha256", checksum::A_SHA256, 32},
                 {"SHA384", checksum::A_SHA384, 48}, {"sha512", checksum::A_SHA512, 64},
                 {"HASH", checksum::A_NONE, 0}};
    for (const auto& w : words) {
        SCOPED_TRACE(w.name);
        uint32_t sym = symbol::make(w.name);
        EXPECT_TRUE(checksum::is_method(sym));
        EXPECT_EQ(checksum::method_number(sym), w.number);
        EXPECT_EQ(checksum::digest_size(checksum::method_number(sym)), w.size);
    }
    for (const char* other : {"crc", "sha", "sha-256", "md4"}) EXPECT_FALSE(checksum::is_method(symbol::make(other))) << other;
}
