// tests/unit/json_text_test.cpp: the JSON string unescaping that the decoder and the codec's
// unescape routine share: escapes resolved in the string's own buffer, surrogate pairs
// joined (widening the buffer), malformed escapes refused with the string left as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/string.h"
#include "library/json_text.h"
#include "tests/unit/runtime_fixture.h"

namespace zyl::testing {
namespace {

struct JsonTextTest : RuntimeTest {
    cell* text(const std::u32string& s) {
        uint32_t unit = 1;
        for (char32_t c : s) unit = std::max(unit, string::unit_for(uint32_t(c)));
        cell* c = string::make_at_sized(stack::push_slot(), uint32_t(s.size()), unit);
        for (char32_t ch : s) string::append_char(c->w2, uint32_t(ch));
        return c;
    }
    std::u32string chars(const cell* s) {
        std::u32string out;
        for (uint32_t i = s->w1; i < string::rs_abs_length_q(s); i++) out += char32_t(string::rs_abs_char_at(s, i));
        return out;
    }
};

TEST_F(JsonTextTest, EscapesResolveInPlaceFromTheIndex) {
    struct row { std::u32string in, out; };
    const std::vector<row> rows = {
        {U"a\\\"b\\\\c\\/d", U"a\"b\\c/d"},
        {U"\\b\\f\\n\\r\\t", U"\b\f\n\r\t"},
        {U"\\u00e9\\u00E9", U"\u00e9\u00e9"},
        {U"x\\ud83d\\ude00y", U"x\U0001F600y"},   // the pair is one character: the buffer widens
        {U"\\ude00", std::u32string(1, char32_t(0xDE00))}, // a lone low surrogate stands for itself
        {U"", U""},
    };
    for (const row& r : rows) {
        cell* s = text(r.in);
        EXPECT_TRUE(json_text::unescape(s));
        EXPECT_EQ(chars(s), r.out);
        stack::pop(1);
    }
    cell* s = text(U"ab\\n");
    s->w1 = 2; // the head before the index is kept as it is
    EXPECT_TRUE(json_text::unescape(s));
    s->w1 = 0;
    EXPECT_EQ(chars(s), U"ab\n");
}

TEST_F(JsonTextTest, MalformedEscapesAreRefusedAndLeaveTheString) {
    for (const std::u32string in : {U"\\ud83d", U"\\ud83dx", U"\\ud83d\\u0041", U"\\ud83d\\n", U"\\u12", U"\\u12g4", U"a\\"}) {
        cell* s = text(in);
        EXPECT_FALSE(json_text::unescape(s));
        EXPECT_EQ(chars(s), in);
        stack::pop(1);
    }
}

} // namespace
} // namespace zyl::testing
