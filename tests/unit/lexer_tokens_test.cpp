// tests/unit/lexer_tokens_test.cpp: the token forms the lexer loads: words of every kind,
// issues, refinements, numbers, strings and their escapes, chars, constructions; and the
// invalid forms of each.
#include <cmath>
#include <cstring>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "lexer_fixture.h"

using namespace zyl;

namespace {

using LexerTokens = zyl::testing::LexerTest;

const cell* first(const cell* block) { return reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head); }

// The one value [text] loads to.
cell one(std::string_view text) {
    lexer::options o;
    o.one_value = true;
    return *zyl::testing::LexerTest::load(text, o);
}

// {== Words

TEST_F(LexerTokens, WordFormsMoldBack) {
    const char* text = "a b: :c 'd /e #f < << <= <> <- > = == / // '/ :/ /: % %% a1 _x ?! |a| ~b~ caf\xC3\xA9 "
                       "\xE2\x82\xAC +a -b .c";
    EXPECT_EQ(loaded(text), text);
    struct {
        const char* text;
        uint8_t type;
        const char* name;
    } kinds[] = {
        {"a", T_word, "a"},        {"a:", T_set_word, "a"},   {":a", T_get_word, "a"},
        {"'a", T_lit_word, "a"},   {"/a", T_refinement, "a"}, {"#a", T_issue, "a"},
        {"'/", T_lit_word, "/"},   {":/", T_get_word, "/"},   {"/:", T_set_word, "/"},
        {"/", T_word, "/"},        {"%:", T_set_word, "%"},   {"<", T_word, "<"},
    };
    for (auto& k : kinds) {
        cell v = one(k.text);
        EXPECT_EQ(v.type(), k.type) << k.text;
        EXPECT_EQ(name_of(&v), k.name) << k.text;
        if (k.type == T_refinement) {
            EXPECT_EQ(v.w1, 0u); // refinements stay unbound
        } else if (k.type == T_issue) {
            EXPECT_EQ(v.w1, context::global()); // issues are not looked up
            EXPECT_EQ(v.w3, 0xFFFFFFFFu);
        } else {
            // Words are bound to the global context, which gains them.
            EXPECT_EQ(v.w1, context::global()) << k.text;
            EXPECT_EQ(v.w3, uint32_t(context::find_word(context::global(), v.w2, true))) << k.text;
        }
    }
    // One spelling, one symbol.
    cell* b = load("abc ABC abc");
    EXPECT_EQ(first(b)[0].w2, first(b)[2].w2);
    EXPECT_EQ(symbol::resolve(first(b)[1].w2), first(b)[0].w2);
}

TEST_F(LexerTokens, BadWordForms) {
    struct {
        const char* text;
        int32_t id;
        const char* what;
    } cases[] = {
        {"'", error::syntax_invalid, "word!"},      {":", error::syntax_invalid, "word!"},
        {"'a:", error::syntax_invalid, "lit-word!"}, {":a:", error::syntax_invalid, "word!"},
        {"#", error::syntax_invalid, "issue!"},     {"#a:", error::syntax_invalid, "issue!"},
        {"/a:", error::syntax_invalid, "refinement!"}, {"a,", error::syntax_invalid, "word!"},
        {"Ah", error::syntax_invalid, "word!"},
    };
    for (auto& c : cases) {
        auto e = error_of(c.text);
        EXPECT_EQ(e.id, c.id) << c.text;
        EXPECT_EQ(e.what, c.what) << c.text;
    }
}

TEST_F(LexerTokens, WordSeams) {
    // What word! reads through the lexer: the type a name scans as...
    struct {
        const char* name;
        uint8_t type;
    } names[] = {
        {"a", T_word}, {"a:", T_set_word}, {":a", T_get_word}, {"'a", T_lit_word}, {"/a", T_refinement},
        {"#a", T_issue}, {"12", T_integer}, {"1.5", T_float_}, {"a b", 0}, {"a/b", T_path}, {"a/b:", T_set_path}, {"a/b c", 0}, {"", 0}, {"1''0", T_integer},
    };
    for (auto& n : names)
        EXPECT_EQ(word::scan_type(reinterpret_cast<const uint8_t*>(n.name), uint32_t(std::strlen(n.name))), n.type)
            << n.name;
    // ...and the one value a text loads to, none for more, none, or bad text.
    cell* text = stack::push(&none_value);
    cell* out = stack::push(&none_value);
    string::from_utf8(text, "foo:");
    EXPECT_EQ(word::load_value(text, out)->type(), T_set_word);
    EXPECT_EQ(name_of(out), "foo");
    for (const char* none : {"a b", "", "a[b", "1''0", "{x"}) {
        string::from_utf8(text, none);
        EXPECT_EQ(word::load_value(text, out)->type(), T_none) << none;
    }
    string::from_utf8(text, "123");
    EXPECT_EQ(word::load_value(text, out)->type(), T_integer);
}

// }==
// {== Numbers

TEST_F(LexerTokens, NumberFormsMoldBack) {
    const char* text = "0 1 -2 +3 2147483647 -2147483648 1.5 -0.5 100.0 1.0e25 50% 1.#INF -1.#INF 12:30:00";
    EXPECT_EQ(loaded(text), "0 1 -2 3 2147483647 -2147483648 1.5 -0.5 100.0 1.0e25 50% 1.#INF -1.#INF 12:30:00");
    struct {
        const char* text;
        const char* mold;
    } cases[] = {
        {"1'000'000", "1000000"}, {"2147483648", "2147483648.0"}, {"12345678901", "12345678901.0"},
        {"-2147483649", "-2147483649.0"}, {".5", "0.5"}, {"1.", "1.0"}, {"1e10", "10000000000.0"},
        {"1.5E-3", "0.0015"}, {"1'000.5", "1000.5"}, {"007", "7"}, {"+1.#NaN", "1.#NaN"},
        {"-1.#inf", "-1.#INF"}, {"FFh", "255"}, {"0FFh", "255"}, {"FFFFFFFFh", "-1"},
        {"80000000h", "-2147483648"}, {"12h", "18"}, {"5%", "5%"}, {"1.5%", "1.5%"},
        {"1:30", "1:30:00"}, {"1:30.5", "0:01:30.5"}, {"-1:00", "-1:00:00"}, {"1:30:15.5", "1:30:15.5"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(&(*stack::push(&none_value) = one(c.text))), c.mold) << c.text;
}

TEST_F(LexerTokens, NumberValues) {
    cell v = one("2147483647");
    EXPECT_EQ(v.type(), T_integer);
    EXPECT_EQ(integer::get(&v), INT32_MAX);
    v = one("-2147483648");
    EXPECT_EQ(v.type(), T_integer);
    EXPECT_EQ(integer::get(&v), INT32_MIN);
    EXPECT_EQ(one("2147483648").type(), T_float_);
    EXPECT_EQ(one("12345678901").type(), T_float_);
    v = one("50%");
    EXPECT_EQ(v.type(), T_percent);
    EXPECT_EQ(float_::get(&v), 0.5);
    v = one("1:30");
    EXPECT_EQ(v.type(), T_time);
    EXPECT_EQ(float_::get(&v), 5400.0);
    EXPECT_EQ(float_::get(&(v = one("1:30.5"))), 90.5);
    EXPECT_EQ(float_::get(&(v = one("-1:00"))), -3600.0);
    EXPECT_TRUE(std::isnan(float_::get(&(v = one("-1.#NaN")))));
}

TEST_F(LexerTokens, BadNumbers) {
    struct {
        const char* text;
        const char* what;
    } cases[] = {
        {"1''0", "integer!"}, {"1h", "integer!"}, {"123456789h", "integer!"}, {"-1h", "integer!"},
        {"1'2h", "integer!"}, {"1.#XYZ", "float!"}, {"12.#INF", "float!"}, {"1e1+2", "float!"},
        {"1.5x2", "pair!"},   {"1..2", "float!"},  {"1:30.", "time!"},     {"1:2:3:4", "time!"},
        {"1:", "time!"},      {"1.e", "float!"},    {"$1.000001", "money!"},      {"1x2.5", "pair!"},
        {"1.2.256", "tuple!"}, {"1.5e2%", "float!"}, {"29-Feb-2001", "date!"}, {"(1, )", "point2D!"}, {"1a", "integer!"},
    };
    for (auto& c : cases) EXPECT_EQ(error_of(c.text).what, c.what) << c.text;
}

// }==
// {== Strings and chars

TEST_F(LexerTokens, StringsAndEscapes) {
    struct {
        const char* text;
        std::string utf8;
    } cases[] = {
        {"\"abc\"", "abc"},
        {"\"a^(tab)b\"", "a\tb"},
        {"\"^(TAB)^(line)^(null)^(back)^(page)^(esc)^(del)\"", std::string("\t\n\0\b\f\x1B\x7F", 7)},
        {"\"^\"^-^/^^^{^}^~\"", "\"\t\n^{}\x7F"},
        {"\"^a^Z^[^_\"", "\x01\x1A\x1B\x1F"},
        {"\"^(41)^(e9)^(20AC)\"", "A\xC3\xA9\xE2\x82\xAC"},
        {"\"^x^1\"", "\x18" "1"},
        {"{a {b} c}", "a {b} c"},
        {"{line\nbreak^}}", "line\nbreak}"},
        {"%{a}b}%", "a}b"},
        {"%%{a}%b}%%", "a}%b"},
        {"%%{x}%}%%", "x}%"},
        {"%{}%", ""},
    };
    for (auto& c : cases) {
        cell v = one(c.text);
        ASSERT_EQ(v.type(), T_string) << c.text;
        EXPECT_EQ(string::to_std(&v), c.utf8) << c.text;
    }
    EXPECT_EQ(loaded("\"a b\" {c} \"\""), "\"a b\" \"c\" \"\"");
}

TEST_F(LexerTokens, StringUnitIsTheNarrowestThatHoldsIt) {
    struct {
        const char* text;
        uint32_t unit;
    } cases[] = {
        {"\"abc\"", 1}, {"\"caf\xC3\xA9\"", 1}, {"\"\xE2\x82\xAC\"", 2}, {"\"\xF0\x9F\x98\x80\"", 4},
        {"\"^(1F600)\"", 4}, {"\"^(FF)\"", 1}, {"\"^(100)\"", 2}, {"{\xE2\x82\xAC}", 2},
    };
    for (auto& c : cases) EXPECT_EQ(memory::buffer_of(one(c.text).w2)->unit(), c.unit) << c.text;
    EXPECT_EQ(string::to_std(&(*stack::push(&none_value) = one("\"^(1F600)\""))), "\xF0\x9F\x98\x80");
}

TEST_F(LexerTokens, BadStrings) {
    for (const char* text : {"\"abc", "{abc", "{a {b}", "\"a^(12345678)\"", "\"^(110000)\"", "\"^(foo)\"", "\"^(\"", "\"^(12\"",
                             "\"a\xFF\"", "\"\xE2\x82\"", "\"\xED\xA0\x80\"", "\"a^\nb\"", "%{abc", "%{a}%%",
                             "%%{a}%", "%{a}%b"})
        EXPECT_EQ(error_of(text).what, "string!") << text;
}

TEST_F(LexerTokens, Chars) {
    struct {
        const char* text;
        uint32_t cp;
    } cases[] = {
        {"#\"a\"", 'a'},       {"#\"^/\"", '\n'},         {"#\"^(tab)\"", '\t'}, {"#\"^(3B1)\"", 0x3B1},
        {"#\"^\"\"", '"'},     {"#\"\xE2\x82\xAC\"", 0x20AC}, {"#\"^(10FFFF)\"", 0x10FFFF}, {"#\"^@\"", 0},
    };
    for (auto& c : cases) {
        cell v = one(c.text);
        EXPECT_EQ(v.type(), T_char_) << c.text;
        EXPECT_EQ(v.w2, c.cp) << c.text;
    }
    for (const char* text : {"#\"\"", "#\"^\"", "#\"ab\"", "#\"^(110000)\"", "#\"\xE2\x82\"", "#\"^(zz)\""})
        EXPECT_EQ(error_of(text).what, "char!") << text;
    EXPECT_EQ(loaded("#\"a\" #\"^/\""), "#\"a\" #\"^/\"");
}

// }==
// {== Constructions

TEST_F(LexerTokens, Constructions) {
    EXPECT_EQ(one("#(true)").type(), T_logic);
    EXPECT_EQ(one("#(TRUE)").w1, 1u);
    EXPECT_EQ(one("#(false)").w1, 0u);
    EXPECT_EQ(one("#(none)").type(), T_none);
    EXPECT_EQ(one("#(unset)").type(), T_unset);
    cell v = one("#(integer!)");
    EXPECT_EQ(v.type(), T_datatype);
    EXPECT_EQ(v.w1, uint32_t(T_integer));
    EXPECT_EQ(one("#(point2D!)").w1, uint32_t(T_point2d));
    for (const char* text : {"#(foo)", "#()", "#(integer)", "#(true "})
        EXPECT_NE(error_of(text).id, -1) << text;
    EXPECT_EQ(error_of("#(foo)").id, error::syntax_malconstruct);
}

// }==

} // namespace
