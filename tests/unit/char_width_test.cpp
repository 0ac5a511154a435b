// tests/unit/char_width_test.cpp: the display-width tables and char_width.
#include <gtest/gtest.h>

#include "runtime/char_width.h"

using namespace zyl;

namespace {

TEST(CharWidth, TablesHoldTheUnicode14RangeCountsAndEnds) {
    // 336 zero-width ranges: the marks of 14.0 merge where a count of 339 would keep three apart.
    ASSERT_EQ(unicode::zero_width_count, 336u * 2);
    EXPECT_EQ(unicode::zero_width_ranges[0], 0x0300u);
    EXPECT_EQ(unicode::zero_width_ranges[1], 0x036Fu);
    EXPECT_EQ(unicode::zero_width_ranges[unicode::zero_width_count - 2], 0xE0100u);
    EXPECT_EQ(unicode::zero_width_ranges[unicode::zero_width_count - 1], 0xE01EFu);
    ASSERT_EQ(unicode::wide_count, 122u * 2);
    EXPECT_EQ(unicode::wide_ranges[0], 0x1100u);
    EXPECT_EQ(unicode::wide_ranges[1], 0x115Fu);
    EXPECT_EQ(unicode::wide_ranges[unicode::wide_count - 2], 0x30000u);
    EXPECT_EQ(unicode::wide_ranges[unicode::wide_count - 1], 0x3FFFDu);
}

TEST(CharWidth, RangesAscendAndNeverOverlap) {
    for (auto [table, count] : {std::pair{unicode::zero_width_ranges, unicode::zero_width_count},
                                std::pair{unicode::wide_ranges, unicode::wide_count}}) {
        for (size_t i = 0; i < count; i += 2) {
            EXPECT_LE(table[i], table[i + 1]);
            if (i + 2 < count) {
                EXPECT_LT(table[i + 1] + 1, table[i + 2]) << "ranges touch at " << i;
            }
        }
    }
    // No code point is both.
    for (size_t i = 0; i < unicode::zero_width_count; i += 2)
        for (uint32_t cp : {unicode::zero_width_ranges[i], unicode::zero_width_ranges[i + 1]})
            EXPECT_FALSE(unicode::in_ranges(cp, unicode::wide_ranges, unicode::wide_count)) << cp;
}

TEST(CharWidth, EdgeCharacters) {
    const std::pair<uint32_t, int> cases[] = {
        {0x0000, 0}, {0x001B, 1}, {0x0085, 1}, {0x007F, 1}, {0x0041, 1}, {0x00AD, 1},
        {0x0301, 0}, {0x1160, 0}, {0x11FF, 0}, {0x0600, 0}, {0x0605, 0}, {0x070F, 0},
        {0x200B, 1}, {0x200D, 1}, {0x2060, 1}, {0xFEFF, 1},
        {0x4E00, 2}, {0xFF21, 2}, {0x1F600, 2}, {0x2603, 1}, {0x1F321, 1}, {0x1F320, 2},
        {0x302A, 0}, {0x3099, 0}, {0x309A, 0}, {0x3041, 2}, {0xAC00, 2}, {0xD7A3, 2},
        {0x1FAF6, 2}, {0x1FAF7, 1}, // 1FAF7 came with 15.0
        {0xE01EF, 0}, {0xE01F0, 1}, {0x3FFFD, 2}, {0x3FFFE, 1}, {0x10FFFF, 1},
        {0x3400, 2}, {0x9FFF, 2}, {0x2FFFD, 2}, {0x2FFFE, 1},
    };
    for (auto [cp, width] : cases) EXPECT_EQ(unicode::char_width(cp), width) << std::hex << cp;
}

TEST(CharWidth, RangeTestAtEveryBoundary) {
    // Each range's ends are inside and the points just beside them outside.
    for (auto [table, count] : {std::pair{unicode::zero_width_ranges, unicode::zero_width_count},
                                std::pair{unicode::wide_ranges, unicode::wide_count}}) {
        for (size_t i = 0; i < count; i += 2) {
            EXPECT_TRUE(unicode::in_ranges(table[i], table, count));
            EXPECT_TRUE(unicode::in_ranges(table[i + 1], table, count));
            EXPECT_FALSE(unicode::in_ranges(table[i] - 1, table, count)) << std::hex << table[i];
            EXPECT_FALSE(unicode::in_ranges(table[i + 1] + 1, table, count)) << std::hex << table[i + 1];
        }
    }
}

} // namespace
