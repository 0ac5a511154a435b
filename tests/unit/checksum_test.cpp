// tests/unit/checksum_test.cpp: the checksums' known values, their fast paths against the
// reference loops, and the running forms fed in pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "services/checksum.h"

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
