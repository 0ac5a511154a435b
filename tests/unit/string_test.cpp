// tests/unit/string_test.cpp: text storage: unit widths and widening, writing and removing
// code points, the copy core, the hexadecimal formatters, the comparison core and matchers.
#include <string>

#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct StringTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
    }
};

// A new string on the evaluation stack holding the UTF-8 [text].
cell* str(std::string_view text) { return string::from_utf8(stack::push_slot(), text); }

uint32_t unit(const cell* s) { return memory::buffer_of(s->w2)->unit(); }

TEST_F(StringTest, AppendCharWidensStraightToTheWidthItNeeds) {
    struct { uint32_t cp; uint32_t unit; } steps[] = {{'a', 1}, {0xE9, 1}, {0x20AC, 2}, {0x41, 2}, {0x1F600, 4}};
    cell* s = str("");
    for (auto& st : steps) {
        string::append_char(s->w2, st.cp);
        EXPECT_EQ(unit(s), st.unit) << st.cp;
    }
    EXPECT_EQ(string::to_std(s), "a\xC3\xA9\xE2\x82\xAC" "A\xF0\x9F\x98\x80");
    cell* t = str("abc");
    string::append_char(t->w2, 70000); // 1 -> 4 in one step
    EXPECT_EQ(unit(t), 4u);
    EXPECT_EQ(string::rs_abs_char_at(t, 3), 70000u);
    EXPECT_EQ(string::to_std(t).substr(0, 3), "abc");
}

TEST_F(StringTest, AppendCharIsAmortisedAndKeepsEveryCharacter) {
    cell* s = str("");
    uint32_t grows = 0, size = memory::buffer_of(s->w2)->size;
    for (uint32_t i = 0; i < 100000; i++) {
        string::append_char(s->w2, 'a' + i % 26);
        if (memory::buffer_of(s->w2)->size != size) grows++, size = memory::buffer_of(s->w2)->size;
    }
    EXPECT_LE(grows, 20u);
    EXPECT_EQ(string::rs_length_q(s), 100000u);
    EXPECT_EQ(string::rs_abs_char_at(s, 99999), uint32_t('a' + 99999 % 26));
}

TEST_F(StringTest, PokeInsertAndStoreKeepLatin1InOneByte) {
    cell* s = str("abc");
    string::poke_char(s->w2, 1, 233);
    string::insert_char(s->w2, 0, 233);
    string::store_char(s->w2, 3, 0xFF);
    EXPECT_EQ(unit(s), 1u);
    EXPECT_EQ(string::to_std(s), "\xC3\xA9" "a\xC3\xA9\xC3\xBF");
    string::insert_char(s->w2, 2, 0x3A9); // Omega: widens, the rest moves up
    EXPECT_EQ(unit(s), 2u);
    EXPECT_EQ(string::to_std(s), "\xC3\xA9" "a\xCE\xA9\xC3\xA9\xC3\xBF");
    string::poke_char(s->w2, 7, 'z'); // past the tail: the gap is zeros, the tail moves
    EXPECT_EQ(string::rs_abs_length_q(s), 8u);
    EXPECT_EQ(string::rs_abs_char_at(s, 5), 0u);
}

TEST_F(StringTest, RemovingNeverNarrowsButResetDoes) {
    cell* s = str("a\xE2\x82\xAC" "b");
    EXPECT_EQ(unit(s), 2u);
    string::remove_char(s, 1);
    EXPECT_EQ(string::to_std(s), "ab");
    EXPECT_EQ(unit(s), 2u);
    string::remove_part(s, 1, 10); // cut to the tail
    EXPECT_EQ(string::to_std(s), "a");
    string::remove_char(s, 5); // past the tail: nothing
    string::rs_reset(s);
    EXPECT_EQ(unit(s), 1u);
    EXPECT_EQ(string::rs_abs_length_q(s), 0u);
}

TEST_F(StringTest, IndexPastTheTailIsClampedByTheAccessors) {
    cell* s = str("abcdef");
    cell v = *s;
    v.w1 = 4;
    string::truncate(s->w2, 2);
    EXPECT_EQ(string::length_of(&v), 0u);
    EXPECT_TRUE(string::rs_tail_q(&v));
    EXPECT_EQ(string::rs_length_q(&v), 0u);
    EXPECT_EQ(v.w1, 2u);
}

TEST_F(StringTest, CopyCoreModes) {
    cell* t = str("abcd");
    cell* src = str("XY");
    string::insert_core(t, src, -1, 0, string::COPY_APPEND);
    EXPECT_EQ(string::to_std(t), "abcdXY");
    string::insert_core(t, src, 1, 1, string::COPY_INSERT);
    EXPECT_EQ(string::to_std(t), "aXbcdXY");
    string::insert_core(t, src, -1, 6, string::COPY_OVERWRITE); // extends past the tail
    EXPECT_EQ(string::to_std(t), "aXbcdXXY");
    cell* wide = str("\xE2\x82\xAC");
    string::insert_core(t, wide, -1, 0, string::COPY_INSERT); // the target widens to the source
    EXPECT_EQ(unit(t), 2u);
    EXPECT_EQ(string::to_std(t), "\xE2\x82\xAC" "aXbcdXXY");
    string::insert_core(t, src, -1, 1, string::COPY_INSERT); // narrow units are converted
    EXPECT_EQ(string::to_std(t), "\xE2\x82\xAC" "XYaXbcdXXY");
    EXPECT_EQ(unit(src), 1u);
}

TEST_F(StringTest, CopyCoreIntoTheSameBuffer) {
    struct { uint32_t from; uint32_t at; const char* expect; } cases[] = {
        {0, 0, "abcdabcd"}, {0, 4, "abcdabcd"}, {2, 1, "acdbcd"}, {1, 2, "abbcdcd"}, {0, 2, "ababcdcd"},
    };
    for (auto& c : cases) {
        cell* t = str("abcd");
        cell src = *t;
        src.w1 = c.from;
        string::insert_core(t, &src, -1, c.at, string::COPY_INSERT);
        EXPECT_EQ(string::to_std(t), c.expect) << c.from << " " << c.at;
    }
}

TEST_F(StringTest, HexFormatters) {
    struct { int32_t n; bool short_form; const char* text; } cases[] = {
        {0, true, "00"}, {255, true, "FF"}, {4096, true, "1000"}, {30, true, "1E"}, {160, true, "A0"},
        {256, true, "100"}, {255, false, "000000FF"}, {-1, false, "FFFFFFFF"}, {-16, false, "FFFFFFF0"},
        {0, false, "00000000"}, {INT32_MIN, false, "80000000"},
    };
    for (auto& c : cases) EXPECT_EQ(string::int_to_hex(c.n, c.short_form), c.text) << c.n;
    EXPECT_EQ(string::byte_to_hex(0x1AB), "AB");
    EXPECT_EQ(string::byte_to_hex(7), "07");
}

TEST_F(StringTest, CompareValues) {
    struct { const char* a; const char* b; int32_t op; bool match; int32_t result; } cases[] = {
        {"abc", "ABC", 0, false, 0}, {"abc", "ABC", 2, false, 1}, {"abc", "abcd", 3, false, -1},
        {"abc", "abcd", 0, false, 1}, {"", "", 0, false, 0}, {"", "a", 3, false, -1}, {"a", "", 5, false, 1},
        {"b", "a", 3, false, 1}, {"B", "a", 3, false, 1}, {"B", "a", 2, false, -1},
        {"abcdef", "abc", 0, true, 0}, {"ab", "abc", 0, true, 1}, {"abc", "", 12, true, 1},
        {"abc", "", 0, true, 0}, {"ABcd", "abc", 12, true, 0}, {"ABcd", "abc", 2, true, -1},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 0, false, 0}, {"\xE2\x82\xAC", "a", 5, false, 1},
    };
    for (auto& c : cases) {
        cell* a = str(c.a);
        cell* b = str(c.b);
        EXPECT_EQ(string::compare_values(a, b, c.op, c.match), c.result) << c.a << " " << c.b << " " << c.op;
    }
    cell* s = str("xyz");
    cell t = *s;
    for (int32_t op : {0, 1, 2, 9, 12}) EXPECT_EQ(string::compare_values(s, &t, op, false), 0) << op;
    cell* u = str("xyz");
    EXPECT_EQ(string::compare_values(s, u, 9, false), -1); // same? needs the same buffer
}

TEST_F(StringTest, Matchers) {
    cell* in = str("<ab>c");
    cell* tag = str("ab");
    cells::set_type(tag, T_tag);
    EXPECT_TRUE(string::match_tag_q(in, tag));
    EXPECT_TRUE(string::match_value_q(in, tag, 0));
    cell c{T_char_, 0, '<', 0};
    EXPECT_TRUE(string::match_value_q(in, &c, 2));
    cell* prefix = str("<AB");
    EXPECT_TRUE(string::match_value_q(in, prefix, 0));
    EXPECT_FALSE(string::match_value_q(in, prefix, 2));
    // A bitset of one stored byte: code points 0 to 7.
    node_id bits = series::alloc_bytes(1);
    series_buffer* b = memory::buffer_of(bits);
    b->head[0] = 0xC0; // code points 0 and 1
    b->tail = b->head + 1;
    cell bs{T_bitset, 0, bits, 0};
    stack::push(&bs);
    cell* one = str("\x01");
    EXPECT_TRUE(string::match_bitset_q(one, &bs));
    EXPECT_FALSE(string::match_bitset_q(in, &bs)); // '<' is past the stored bits
    b->flags |= 0x00080000;                         // negated: past the bits counts as in
    EXPECT_TRUE(string::match_bitset_q(in, &bs));
}

TEST_F(StringTest, AccessorsAndLiterals) {
    cell* s = str("Hello");
    EXPECT_EQ(string::find_char(s, 'l'), 2);
    EXPECT_EQ(string::find_char(s, 'L'), -1);
    EXPECT_TRUE(string::contains_char_q(s, 'L', 1, false));
    EXPECT_FALSE(string::contains_char_q(s, 'L', 1, true));
    EXPECT_FALSE(string::contains_char_q(s, 'e', 2, true)); // only H, l, o are looked at
    EXPECT_TRUE(string::starts_with_literal_q(s, "Hel"));
    EXPECT_FALSE(string::starts_with_literal_q(s, "Help"));
    EXPECT_FALSE(string::starts_with_literal_q(s, "Hello!"));
    string::concatenate_literal(s, "!");
    string::concatenate_part(s, "??xx", 2);
    EXPECT_EQ(string::to_std(s), "Hello!??");
}

TEST_F(StringTest, LoadingUtf8AndUtf16) {
    cell* s = string::load(reinterpret_cast<const uint8_t*>("a\xE2\x82\xAC"), 4, string::ENCODING_UTF8);
    EXPECT_EQ(string::to_std(s), "a\xE2\x82\xAC");
    const uint8_t utf16[] = {'h', 0, 'i', 0, 0xAC, 0x20};
    cell* t = string::load(utf16, sizeof utf16, string::ENCODING_UTF16LE);
    EXPECT_EQ(string::to_std(t), "hi\xE2\x82\xAC");
    EXPECT_TRUE(raises(error::cat_access, error::ids::access_invalid_utf8, [] {
        string::load(reinterpret_cast<const uint8_t*>("a\xFF"), 2, string::ENCODING_UTF8);
    }));
    node_id blk = series::alloc_cells(1);
    cell* c = string::load_in(reinterpret_cast<const uint8_t*>("xy"), 2, blk, string::ENCODING_UTF8);
    EXPECT_EQ(string::to_std(c), "xy");
    EXPECT_EQ(series::length(blk), 1u);
    bool ok;
    EXPECT_DOUBLE_EQ(string::to_float("1.5e2", 5, ok), 150.0);
    EXPECT_TRUE(ok);
    string::to_float("1.5x", 4, ok);
    EXPECT_FALSE(ok);
}

TEST_F(StringTest, LoadingWithAnUnknownEncodingEndsTheProcess) {
    EXPECT_EXIT(string::load(reinterpret_cast<const uint8_t*>("a"), 1, 1), ::testing::ExitedWithCode(0),
                "");
}

TEST_F(StringTest, AnUnknownUnitIsAFatalError) {
    cell* s = str("abc");
    memory::buffer_of(s->w2)->flags = (memory::buffer_of(s->w2)->flags & ~SERIES_UNIT_MASK) | 3;
    EXPECT_EXIT(string::rs_abs_length_q(s), ::testing::ExitedWithCode(101), "");
}

} // namespace
