// tests/unit/lexer_test.cpp: the scanning loop: blocks and new-line markers, empty input, the
// syntax errors with their near text and line, NUL and Unicode spaces, one-value and scan-only
// runs, nested containers, binary! and string! input.
#include "lexer_fixture.h"

#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/values.h"

using namespace zyl;

namespace {

using Lexer = zyl::testing::LexerTest;

const cell* cells_of(const cell* block) {
    return reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head) + block->w1;
}
uint64_t length_of(const cell* block) { return series::length(block->w2) - block->w1; }

// A collection at every allocation while it lives.
struct stress {
    stress() {
        extres::init();
        collector::gc.active = true;
        mm.stress_every = 1;
    }
    ~stress() {
        mm.stress_every = 0;
        collector::gc.active = false;
        extres::shutdown();
    }
};

// {== Blocks and new-line markers

TEST_F(Lexer, BlockThenLineFeed) {
    cell* b = load("[a b]\nc");
    ASSERT_EQ(b->type(), T_block);
    ASSERT_EQ(length_of(b), 2u);
    const cell* v = cells_of(b);
    EXPECT_EQ(v[0].type(), T_block);
    EXPECT_EQ(length_of(&v[0]), 2u);
    EXPECT_FALSE(v[0].header & CELL_NEW_LINE);
    EXPECT_EQ(v[1].type(), T_word);
    EXPECT_TRUE(v[1].header & CELL_NEW_LINE);
    EXPECT_EQ(mold(b), "[[a b]\nc]");
    EXPECT_EQ(loaded("[a b]\nc"), "[a b]\nc");
}

TEST_F(Lexer, EmptyAndBlankText) {
    for (std::string_view text : {std::string_view(""), std::string_view(" \t\r\n\n \x01\x1F\x0B")}) {
        cell* b = load(text);
        EXPECT_EQ(b->type(), T_block);
        EXPECT_EQ(length_of(b), 0u);
    }
}

TEST_F(Lexer, NestedContainersAndLines) {
    EXPECT_EQ(loaded("a [b (c d) [e]] (f)"), "a [b (c d) [e]] (f)");
    EXPECT_EQ(loaded("[\n  a\n  b\n]"), "[\n    a\n    b\n]");
    EXPECT_EQ(loaded("x ; note\ny"), "x\ny");
    std::string deep = std::string(20, '[') + "1" + std::string(20, ']');
    EXPECT_EQ(loaded(deep), deep);
    // A marker carries the new-line flag of its bracket to the block that replaces it.
    cell* b = load("a\n[b]");
    EXPECT_TRUE(cells_of(b)[1].header & CELL_NEW_LINE);
}

TEST_F(Lexer, OutputStackGrowsPastItsFirstSize) {
    std::string text;
    for (int i = 0; i < 5000; i++) text += "[" + std::to_string(i) + " ";
    for (int i = 0; i < 5000; i++) text += "]";
    cell* b = load(text);
    int depth = 0;
    for (const cell* v = b; v->type() == T_block && length_of(v) > 0; v = cells_of(v) + length_of(v) - 1) depth++;
    EXPECT_EQ(depth, 5001);
}

// }==
// {== Syntax errors

TEST_F(Lexer, MissingAndInvalidWithNearTextAndLine) {
    struct {
        const char* text;
        int32_t id;
        const char* what;
        const char* near;
        const char* line;
    } cases[] = {
        {"[a", error::syntax_missing, "#\"]\"", "[a", "(line 1)"},
        {"]", error::syntax_missing, "#\"[\"", "]", "(line 1)"},
        {"x\ny )", error::syntax_missing, "#\"(\"", ")", "(line 2)"},
        {"(a]", error::syntax_missing, "#\")\"", "]", "(line 1)"},
        {"[a)", error::syntax_missing, "#\"]\"", ")", "(line 1)"},
        {"{abc", error::syntax_invalid, "string!", "{abc", "(line 1)"},
        {"a\n\n1''0", error::syntax_invalid, "integer!", "1''0", "(line 3)"},
        {"\"ab\ncd\"", error::syntax_invalid, "string!", "\"ab", "(line 1)"},
        {"1.2.256", error::syntax_invalid, "tuple!", "1.2.256", "(line 1)"},
        {"x [a/b/ c]", error::syntax_invalid, "path!", "a/b/ c]", "(line 1)"},
        {"#[a]", error::syntax_invalid, "map!", "#[a]", "(line 1)"},
        {"#\"ab\"", error::syntax_invalid, "char!", "#\"ab\"", "(line 1)"},
        {"'a:", error::syntax_invalid, "lit-word!", "'a:", "(line 1)"},
        {":a:", error::syntax_invalid, "word!", ":a:", "(line 1)"},
    };
    for (auto& c : cases) {
        auto e = error_of(c.text);
        ASSERT_TRUE(e.raised) << c.text;
        EXPECT_EQ(e.id, c.id) << c.text;
        EXPECT_EQ(e.what, c.what) << c.text;
        EXPECT_EQ(e.near, c.near) << c.text;
        EXPECT_EQ(e.line, c.line) << c.text;
    }
}

TEST_F(Lexer, BadCharAndMalconstruct) {
    for (const char* text : {"a \\ b", "}", "\xFF", "\x80x"}) {
        auto e = error_of(text);
        EXPECT_EQ(e.id, error::syntax_bad_char) << text;
    }
    EXPECT_EQ(error_of("a \xC0").near, "\xEF\xBF\xBD"); // a byte that is not UTF-8 reads as U+FFFD
    auto e = error_of("#(foo) x");
    EXPECT_EQ(e.id, error::syntax_malconstruct);
    EXPECT_EQ(e.near, "#(foo) x");
}

TEST_F(Lexer, NearTextStopsAtLineEndOrThirtyBytes) {
    EXPECT_EQ(error_of("1''0 and more\nnext line").near, "1''0 and more");
    std::string long_text = "1''0 " + std::string(40, 'x');
    EXPECT_EQ(error_of(long_text).near, long_text.substr(0, 30));
    // The cut waits for a character boundary: a 3-byte character at bytes 29-31 stays whole.
    std::string wide = "1''0 " + std::string(24, 'x') + "\xE2\x82\xAC" + "yyyy";
    EXPECT_EQ(error_of(wide).near, wide.substr(0, 32));
    // Stray continuation bytes have no boundary: the cut comes 3 bytes later at most.
    std::string stray(60, '\xBC');
    EXPECT_EQ(error_of(stray).near, [] { std::string s; for (int i = 0; i < 33; i++) s += "\xEF\xBF\xBD"; return s; }());
}

// }==
// {== NUL and Unicode spaces

TEST_F(Lexer, NulEndsTheInputBetweenTokens) {
    EXPECT_EQ(loaded(std::string_view("a b\0c d", 7)), "a b");
    EXPECT_EQ(loaded(std::string_view("a\0", 2)), "a");
    EXPECT_EQ(error_of(std::string_view("\"a\0b\"", 5)).what, "string!");
}

TEST_F(Lexer, UnicodeSpaces) {
    EXPECT_EQ(loaded("\xC2\xA0" "abc"), "abc");                // U+00A0 before a word
    EXPECT_EQ(loaded("\xE3\x80\x80"), "");                       // a token of U+3000 alone
    EXPECT_EQ(loaded("a \xE3\x80\x80 b"), "a b");
    EXPECT_EQ(loaded("a\xE2\x80\x83" "b"), "a b");               // U+2003 inside a word ends it
    EXPECT_EQ(loaded("\xC2\xA0" "12 \xC2\xA0:x"), "12 :x");     // the scan starts again after them
    cell* b = load("\xC2\xA0\n" "c");
    EXPECT_EQ(mold(b), "[\n    c\n]"); // the line feed after the space still marks c
    EXPECT_EQ(loaded("caf\xC3\xA9"), "caf\xC3\xA9");             // other non-ASCII stays in the word
}

// }==
// {== One value, scan only

TEST_F(Lexer, OneValueConsumesOneToken) {
    lexer::options o;
    o.one_value = true;
    int64_t consumed = -1;
    cell* v = load("1 2", o, &consumed);
    EXPECT_EQ(mold(v), "1");
    EXPECT_EQ(consumed, 1);
    v = load("  [1 2] 3", o, &consumed);
    EXPECT_EQ(mold(v), "[1 2]");
    EXPECT_EQ(consumed, 7);
    o.keep_block = true;
    v = load("abc def", o, &consumed);
    EXPECT_EQ(mold(v), "[abc]");
    EXPECT_EQ(consumed, 3);
}

TEST_F(Lexer, ScanOnlyAnswersTheTokenType) {
    EXPECT_EQ(scan_type("abc def"), T_word);
    EXPECT_EQ(scan_type("123"), T_integer);
    EXPECT_EQ(scan_type("  \"s\" x"), T_string);
    EXPECT_EQ(scan_type("[a b] c"), T_block);
    EXPECT_EQ(scan_type("{a {b} c}"), T_string);
    EXPECT_EQ(scan_type(""), 0);
    EXPECT_EQ(scan_type("\"unclosed"), T_error);
    EXPECT_EQ(scan_type("}"), T_error);
    // An open container at the end is no error in a quiet run: the result is none.
    lexer::options o;
    o.load = false;
    cell* r = load("[a [b", o);
    EXPECT_EQ(r->type(), T_none);
}

// }==
// {== Inputs

TEST_F(Lexer, BinaryInputAndGrowingBuffers) {
    // A binary! input moves when the loaders allocate: under stress every allocation collects.
    std::string text;
    for (int i = 0; i < 300; i++) text += "word" + std::to_string(i) + " \"string " + std::to_string(i) + "\" ";
    for (int i = 0; i < 8; i++) series::alloc_bytes(4096); // dead: the first collection moves the input
    node_id n = series::alloc_bytes(text.size());
    series_buffer* buf = memory::buffer_of(n);
    std::memcpy(buf->head, text.data(), text.size());
    buf->tail = buf->head + text.size();
    cell* bin = stack::push(&none_value);
    *bin = cell{T_binary, 0, n, 0};
    cell* r = stack::push(&none_value);
    int64_t consumed = 0;
    {
        stress s;
        lexer::scan_binary(r, bin, -1, {}, &consumed);
    }
    EXPECT_EQ(consumed, int64_t(text.size()));
    ASSERT_EQ(length_of(r), 600u);
    EXPECT_EQ(mold(r), mold(load(text)));
    EXPECT_EQ(mold(&cells_of(r)[599]), "\"string 299\"");
}

TEST_F(Lexer, StringInputCountsCharacters) {
    cell* s = stack::push(&none_value);
    string::from_utf8(s, "\xE2\x82\xAC x \"\xC3\xA9\" 12");
    s->w1 = 2; // from the index: "x ..."
    lexer::options o;
    o.one_value = true;
    cell* r = stack::push(&none_value);
    int64_t consumed = 0;
    lexer::scan_string(r, s, -1, o, &consumed);
    EXPECT_EQ(mold(r), "x");
    EXPECT_EQ(consumed, 1);
    o.one_value = false;
    {
        stress g;
        lexer::scan_string(r, s, -1, o, &consumed);
    }
    EXPECT_EQ(mold(r), "[x \"\xC3\xA9\" 12]");
    EXPECT_EQ(consumed, 8);
}

// }==

} // namespace
