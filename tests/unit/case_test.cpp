// tests/unit/case_test.cpp: the Unicode 11.0 case tables, case folding and changing case in place.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/error.h"

using namespace zyl;

namespace tables {
#include "runtime/case_tables.inc"
} // namespace tables

namespace {

using points = std::vector<uint32_t>;

struct Case : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        stack::create(1, 2); // so that raised errors carry their arguments
        unicode::init_case_tables();
    }
    void TearDown() override {
        es = eval_stack{};
        memory::free_all();
    }
};

node_id make_text(const points& cps, uint32_t unit) {
    node_id n = series::alloc_by_encoding(cps.size(), unit);
    series_buffer* b = memory::buffer_of(n);
    for (uint32_t cp : cps) {
        std::memcpy(b->tail, &cp, unit);
        b->tail += unit;
    }
    return n;
}

points chars_of(node_id n) {
    series_buffer* b = memory::buffer_of(n);
    points out;
    for (uint8_t* p = b->head; p < b->tail; p += b->unit()) {
        uint32_t v = 0;
        std::memcpy(&v, p, b->unit());
        out.push_back(v);
    }
    return out;
}

points ascii(const char* s) { return points(s, s + std::strlen(s)); }

uint32_t unit_of(node_id n) { return memory::buffer_of(n)->unit(); }

cell text_value(node_id n, uint32_t index = 0, uint8_t type = T_string) { return cell{type, index, n, 0}; }

cell integer(int32_t v) { return cell{T_integer, 0, static_cast<uint32_t>(v), 0}; }

// Ascending keys, as the lookup above U+FFFF needs.
bool ascending(const uint32_t* pairs, size_t words) {
    for (size_t i = 2; i < words; i += 2)
        if (pairs[i] <= pairs[i - 2]) return false;
    return true;
}

} // namespace

// {== Tables

TEST_F(Case, TablesHoldTheUnicode11Counts) {
    EXPECT_EQ(std::size(tables::upper_pairs) / 2, 1250u);
    EXPECT_EQ(std::size(tables::lower_pairs) / 2, 1158u);
    EXPECT_EQ(std::size(tables::upper_astral) / 2, 225u);
    EXPECT_EQ(std::size(tables::lower_astral) / 2, 225u);
    EXPECT_EQ(std::size(tables::upper_multi), 102u);
    EXPECT_TRUE(ascending(tables::upper_pairs, std::size(tables::upper_pairs)));
    EXPECT_TRUE(ascending(tables::lower_pairs, std::size(tables::lower_pairs)));
    EXPECT_TRUE(ascending(tables::upper_astral, std::size(tables::upper_astral)));
    EXPECT_TRUE(ascending(tables::lower_astral, std::size(tables::lower_astral)));
    // Each character with a multi-letter upper case maps to its first letter.
    for (uint32_t cp : tables::upper_multi) EXPECT_NE(unicode::case_fold(cp, true), cp) << std::hex << cp;
    EXPECT_EQ(unicode::case_fold(0x0149, true), 0x02BCu);
    EXPECT_EQ(unicode::case_fold(0x1F80, true), 0x1F08u);
}

// The direct tables hold exactly the listed pairs: every other code point maps to itself.
TEST_F(Case, DirectTablesHoldExactlyThePairs) {
    for (bool upper : {false, true}) {
        const uint32_t* pairs = upper ? tables::upper_pairs : tables::lower_pairs;
        size_t words = upper ? std::size(tables::upper_pairs) : std::size(tables::lower_pairs);
        std::vector<uint32_t> want(0x10000);
        for (uint32_t cp = 0; cp < 0x10000; cp++) want[cp] = cp;
        for (size_t i = 0; i < words; i += 2) want[pairs[i]] = pairs[i + 1];
        for (uint32_t cp = 0; cp < 0x10000; cp++) ASSERT_EQ(unicode::case_fold(cp, upper), want[cp]) << cp;
    }
}

// }==
// {== Code points

TEST_F(Case, EdgeCases) {
    struct row {
        uint32_t cp;
        bool upper;
        uint32_t want;
    };
    const row rows[] = {
        {0x00DF, true, 0x0053},   // ß: the first letter of SS
        {0x0130, false, 0x0069},  // İ: the simple mapping
        {0x00FF, true, 0x0178},   // ÿ: out of Latin-1
        {0x1E922, true, 0x1E900}, // the first lowercase Adlam letter
        {0x1E943, true, 0x1E921}, // the last key
        {0x1E944, true, 0x1E944}, // past the last key
        {0x1E900, false, 0x1E922},
        {0x10400, false, 0x10428}, // the first key of the lower list
        {0x10428, true, 0x10400},
        {0x10000, true, 0x10000}, // before the first key
        {0x10FFFF, false, 0x10FFFF},
        {0x10D0, true, 0x1C90}, // Georgian Mkhedruli to Mtavruli, new in 11.0
        {0x1C90, false, 0x10D0},
        {0x0282, true, 0x0282}, // its upper case came with 12.0
        {0x0000, true, 0x0000},
        {0x0031, true, 0x0031},
        {'a', true, 'A'},
        {'A', false, 'a'},
    };
    for (const row& r : rows) EXPECT_EQ(unicode::case_fold(r.cp, r.upper), r.want) << std::hex << r.cp;
    EXPECT_EQ(unicode::to_upper(0xE9), 0xC9u);
    EXPECT_EQ(unicode::swap_case('a'), uint32_t('A'));
    EXPECT_EQ(unicode::swap_case('A'), uint32_t('a'));
    EXPECT_EQ(unicode::swap_case('1'), uint32_t('1'));
}

// }==
// {== Changing case

TEST_F(Case, ChangeChar) {
    cell c{T_char_, 0, 0xFF, 0};
    EXPECT_EQ(unicode::change_case(&c, nullptr, true), &c);
    EXPECT_EQ(c.w2, 0x178u);
    unicode::change_case(&c, nullptr, false);
    EXPECT_EQ(c.w2, 0xFFu);
}

TEST_F(Case, ChangeTextWidensInPlace) {
    node_id n = make_text({'s', 't', 'r', 'a', 0xDF, 'e', 0xFF, '!'}, 1);
    cell v = text_value(n, 1);
    unicode::change_case(&v, nullptr, true);
    EXPECT_EQ(unit_of(n), 2u); // ÿ -> Ÿ needs two bytes; the node stays
    EXPECT_EQ(chars_of(n), (points{'s', 'T', 'R', 'A', 'S', 'E', 0x178, '!'}));
    unicode::change_case(&v, nullptr, false);
    EXPECT_EQ(unit_of(n), 2u); // never narrows
    EXPECT_EQ(chars_of(n), (points{'s', 't', 'r', 'a', 's', 'e', 0xFF, '!'}));

    node_id adlam = make_text({0x1E900, 'A', 0x130}, 4);
    cell a = text_value(adlam, 0, T_file);
    unicode::change_case(&a, nullptr, false);
    EXPECT_EQ(chars_of(adlam), (points{0x1E922, 'a', 'i'}));
}

TEST_F(Case, PartLimitsTheRange) {
    struct row {
        int32_t part;
        const char* want;
    };
    const row rows[] = {{2, "abCDef"}, {0, "abcdef"}, {-3, "abcdef"}, {4, "abCDEF"}, {100, "abCDEF"}};
    for (const row& r : rows) {
        node_id n = make_text(ascii("abcdef"), 1);
        cell v = text_value(n, 2);
        cell p = integer(r.part);
        unicode::change_case(&v, &p, true);
        EXPECT_EQ(chars_of(n), ascii(r.want)) << r.part;
    }
    // A value of the same series: up to its index; one before ours changes nothing.
    node_id n = make_text(ascii("abcdef"), 1);
    cell v = text_value(n, 1);
    cell end = text_value(n, 4);
    unicode::change_case(&v, &end, true);
    EXPECT_EQ(chars_of(n), ascii("aBCDef"));
    cell before = text_value(n, 0);
    unicode::change_case(&v, &before, false);
    EXPECT_EQ(chars_of(n), ascii("aBCDef"));
    cell none{T_none, 0, 0, 0};
    unicode::change_case(&v, &none, false);
    EXPECT_EQ(chars_of(n), ascii("abcdef"));
}

TEST_F(Case, IndexPastTheTailIsClamped) {
    node_id n = make_text(ascii("abc"), 1);
    cell v = text_value(n, 9);
    unicode::change_case(&v, nullptr, true);
    EXPECT_EQ(v.w1, 3u);
    EXPECT_EQ(chars_of(n), ascii("abc"));
}

TEST_F(Case, BadPartRaisesAndChangesNothing) {
    node_id n = make_text(ascii("abc"), 1);
    cell v = text_value(n);
    const cell bad[] = {
        text_value(make_text(ascii("xyz"), 1), 1), // another series
        text_value(n, 2, T_file),                  // another datatype
        cell{T_block, 0, n, 0},
    };
    for (const cell& part : bad) {
        cell w{T_word, 0, 30, 0};
        stack::mark_try(&w);
        EXPECT_THROW(unicode::change_case(&v, &part, true), error::raised);
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        stack::reset();
        EXPECT_EQ(err.w2, uint32_t(error::cat_script));
        EXPECT_EQ(err.w3, uint32_t(error::script_invalid_refine_arg));
        cell arg = reinterpret_cast<const cell*>(memory::buffer_of(err.w1)->head)[1];
        EXPECT_EQ(arg.type(), part.type());
        EXPECT_EQ(arg.w2, part.w2);
        EXPECT_EQ(chars_of(n), ascii("abc"));
    }
}

// }==
