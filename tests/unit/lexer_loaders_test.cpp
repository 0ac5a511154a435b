// tests/unit/lexer_loaders_test.cpp: the literals of every loader (paths, files, urls,
// emails, tags, refs, pairs, points, tuples, binaries, numbers, strings) load to their
// datatype and mold back to their text; each malformed form raises its syntax error; paths in
// blocks, events, one-value and scan-only runs; binary! input under collection stress.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "lexer/tables.h"
#include "lexer_fixture.h"
#include "runtime/extres.h"

using namespace zyl;

namespace {

using LexerLoaders = zyl::testing::LexerTest;

const cell* cells_of(const cell* block) {
    return reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head) + block->w1;
}
uint64_t length_of(const cell* block) { return series::length(block->w2) - block->w1; }

// The one value [text] loads to, kept on the evaluation stack.
cell* one(std::string_view text) {
    lexer::options o;
    o.one_value = true;
    return zyl::testing::LexerTest::load(text, o);
}

std::string text_of(const cell* v) { return string::to_std(v); }

// {== Literals load to their datatype and mold back

TEST_F(LexerLoaders, LiteralsLoadAndMoldBack) {
    struct {
        const char* text;
        uint8_t type;
        const char* molded; // null: the text itself
    } cases[] = {
        // paths
        {"a/b/c", T_path, nullptr},
        {"'a/b", T_lit_path, nullptr},
        {":a/b", T_get_path, nullptr},
        {"a/b:", T_set_path, nullptr},
        {"a/1/(b c)/\"s\"/#\"x\"/<t>/:g/'l/1.5/-2/+", T_path, nullptr},
        {"a/#i", T_path, nullptr},
        {"a/(1, 2)/b", T_path, nullptr},
        {"a/(b/c)/d", T_path, nullptr},
        {"a/<=/b", T_path, nullptr},
        {"FFh/x", T_path, nullptr},
        // files
        {"%a/b.txt", T_file, nullptr},
        {"%\"a b\"", T_file, nullptr},
        {"%\"\"", T_file, nullptr},
        {"%caf\xC3\xA9", T_file, nullptr},
        {"%\"a^(22)b\"", T_file, nullptr},
        {"%\"50%\"", T_file, nullptr},
        {"%a%20b", T_file, "%\"a b\""},
        {"%a^b", T_file, "%\"a^^b\""},
        {"%\"x^-y\"", T_file, nullptr},
        // urls
        {"http://a.b/c?d=1&e", T_url, nullptr},
        {"http://x/50%25", T_url, nullptr},
        {"http://x/%C3%A9", T_url, nullptr},
        {"http://x/caf\xC3\xA9", T_url, "http://x/caf%C3%A9"},
        {"mailto:a@b", T_url, nullptr},
        {"ftp://h.org/~u/a,b", T_url, nullptr},
        {"caf\xC3\xA9:x/\xC3\xA9", T_url, "caf\xC3\xA9:x/%C3%A9"},
        {"<=a:b", T_url, nullptr},
        {"a^b:c", T_url, nullptr},
        // emails, tags, refs
        {"me@host.org", T_email, nullptr},
        {"a.b-c@d", T_email, nullptr},
        {"<a href=\"x>y\">", T_tag, nullptr},
        {"<b>", T_tag, nullptr},
        {"<a\nb>", T_tag, nullptr},
        // pairs, points, tuples
        {"10x20", T_pair, nullptr},
        {"-1X-2", T_pair, "-1x-2"},
        {"1'000x2", T_pair, "1000x2"},
        {"(1, 2)", T_point2d, nullptr},
        {"(1.5, 2, 3)", T_point3d, nullptr},
        {"( 1 ,\t2 )", T_point2d, "(1, 2)"},
        {"1.2.3", T_tuple, nullptr},
        {"255.0.0.128", T_tuple, nullptr},
        {"1.2.3.4.5.6.7.8.9.10.11.12", T_tuple, nullptr},
        // binaries
        {"#{0102}", T_binary, nullptr},
        {"#{}", T_binary, nullptr},
        {"16#{ab CD ; a comment\n ef}", T_binary, "#{ABCDEF}"},
        {"2#{00000001 11111111}", T_binary, "#{01FF}"},
        {"64#{AQI=}", T_binary, "#{0102}"},
        {"64#{AQID}", T_binary, "#{010203}"},
        {"64#{AQ==}", T_binary, "#{01}"},
        {"64#{AQ}", T_binary, "#{01}"},
        // numbers and strings
        {"2147483648", T_float_, "2147483648.0"},
        {"-2147483648", T_integer, nullptr},
        {"FFh", T_integer, "255"},
        {"1.#INF", T_float_, nullptr},
        {"50%", T_percent, nullptr},
        {"%{a}b}%", T_string, "\"a}b\""},
        {"{a^{b}", T_string, "\"a{b\""},
        {"{a{b}c}", T_string, "\"a{b}c\""},
    };
    for (auto& c : cases) {
        cell* v = one(c.text);
        EXPECT_EQ(v->type(), c.type) << c.text;
        EXPECT_EQ(mold(v), c.molded ? c.molded : c.text) << c.text;
    }
}

// A loaded value of a type without entries could not even be molded: an error report that
// molds it would raise again.
TEST_F(LexerLoaders, EveryTypeTheLoadersMakeIsRegistered) {
    for (uint8_t t : lexer::types) {
        if (t == 0) continue;
        EXPECT_NE(datatype::reg.names[t].name, nullptr) << datatype::name_of(t);
        EXPECT_NE(datatype::action(t, A_mold), nullptr) << datatype::name_of(t);
    }
    for (uint8_t t : {T_block, T_paren, T_map, T_path, T_lit_path, T_set_path, T_get_path})
        EXPECT_NE(datatype::action(t, A_mold), nullptr) << datatype::name_of(t);
}

TEST_F(LexerLoaders, TextValuesHoldTheirText) {
    struct {
        const char* text;
        uint8_t type;
        const char* value;
    } cases[] = {
        {"%a%20b%C3%A9", T_file, "a b\xC3\xA9"},
        {"%a%C3", T_file, "a%C3"},            // a lead without its escapes stays as it is
        {"%\"a%20b\"", T_file, "a%20b"},      // the quoted form takes no percent escapes
        {"%\"a^/b\"", T_file, "a\nb"},
        {"%a^/b", T_file, "a^/b"},            // the unquoted form takes no `^` escapes
        {"%a:b", T_file, "a"},                // ":" ends an unquoted name
        {"http://x/a%20b", T_url, "http://x/a b"},
        {"<a ^/>", T_tag, "a ^/"},
        {"@ref-1", T_ref, "ref-1"},
        {"a@b", T_email, "a@b"},
    };
    for (auto& c : cases) {
        cell* v = one(c.text);
        EXPECT_EQ(v->type(), c.type) << c.text;
        EXPECT_EQ(text_of(v), c.value) << c.text;
    }
    cell* wide = one("http://x/%F0%9F%98%80");
    EXPECT_EQ(memory::buffer_of(wide->w2)->unit(), 4u);
    EXPECT_EQ(text_of(wide), "http://x/\xF0\x9F\x98\x80");
}

TEST_F(LexerLoaders, CompoundValues) {
    cell* p = one("-1x20");
    EXPECT_EQ(pair::get_x(p), -1);
    EXPECT_EQ(pair::get_y(p), 20);
    cell* t = one("1.2.255");
    EXPECT_EQ(tuple::count_of(t), 3u);
    EXPECT_EQ(tuple::bytes_of(t)[2], 255);
    cell* q = one("(1.5, -2, 1e2)");
    EXPECT_EQ(point::get(q, 0), 1.5f);
    EXPECT_EQ(point::get(q, 1), -2.0f);
    EXPECT_EQ(point::get(q, 2), 100.0f);
    cell* b = one("64#{/+8=}");
    ASSERT_EQ(b->type(), T_binary);
    series_buffer* bytes = memory::buffer_of(b->w2);
    ASSERT_EQ(bytes->used_bytes(), 2u);
    EXPECT_EQ(bytes->head[0], 0xFF);
    EXPECT_EQ(bytes->head[1], 0xEF);
}

// }==
// {== Malformed forms

TEST_F(LexerLoaders, MalformedFormsRaiseTheirSyntaxError) {
    struct {
        const char* text;
        int32_t id;
        const char* what; // the datatype named, "" for bad-char
    } cases[] = {
        // paths
        {"a/", error::syntax_invalid, "path!"},
        {"a/b/", error::syntax_invalid, "path!"},
        {"a//b", error::syntax_invalid, "path!"},
        {"a/ b", error::syntax_invalid, "path!"},
        {"a/\"b\"c", error::syntax_invalid, "path!"},
        {"a/(b):/c", error::syntax_invalid, "path!"},
        {"a/b:/c", error::syntax_invalid, "word!"},
        {"a/b:1", error::syntax_invalid, "word!"},
        {"'a/b:", error::syntax_bad_char, ""},
        {"a/[b]", error::syntax_invalid, "path!"},
        {"a/{b}", error::syntax_invalid, "path!"},
        // text values
        {"%\"abc", error::syntax_invalid, "file!"},
        {"%a\"b", error::syntax_invalid, "file!"},
        {"%\"a^(zz)\"", error::syntax_invalid, "file!"},
        {"%a%C3%28", error::syntax_invalid, "file!"},
        {"http://x/%C3%28", error::syntax_invalid, "url!"},
        {"http://x/\xFF", error::syntax_invalid, "url!"},
        {"http://x/a^b", error::syntax_invalid, "url!"},
        {"a/#i/b", error::syntax_invalid, "issue!"},
        {":a:b", error::syntax_invalid, "get-word!"},
        {"'a:b", error::syntax_invalid, "lit-word!"},
        {"<a", error::syntax_invalid, "tag!"},
        {"<a \"b>", error::syntax_invalid, "tag!"},
        {"@a#", error::syntax_invalid, "ref!"},
        {"a@b:", error::syntax_invalid, "email!"},
        // compound numbers
        {"1.2.256", error::syntax_invalid, "tuple!"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", error::syntax_invalid, "tuple!"},
        {"1.5x2", error::syntax_invalid, "pair!"},
        {"1x2.5", error::syntax_invalid, "pair!"},
        {"1x99999999999", error::syntax_invalid, "pair!"},
        {"(1, )", error::syntax_invalid, "point2D!"},
        {"(1 2, 3)", error::syntax_invalid, "point2D!"},
        {"(1, 2, )", error::syntax_invalid, "point3D!"},
        {"(1, 2, 3, 4)", error::syntax_invalid, "point3D!"},
        {"[a , b]", error::syntax_invalid, "point2D!"},
        // binaries
        {"#{123}", error::syntax_invalid, "binary!"},
        {"#{0G}", error::syntax_invalid, "binary!"},
        {"#{00 ; no end", error::syntax_bad_char, ""}, // the end inside a comment
        {"3#{00}", error::syntax_invalid, "binary!"},
        {"016#{00}", error::syntax_invalid, "binary!"},
        {"2#{0000000}", error::syntax_invalid, "binary!"},
        {"2#{00000002}", error::syntax_invalid, "binary!"},
        {"64#{A}", error::syntax_invalid, "binary!"},
        {"64#{AQ=}", error::syntax_invalid, "binary!"},
        {"64#{AQI==}", error::syntax_invalid, "binary!"},
        {"64#{AQ==AQ}", error::syntax_invalid, "binary!"},
        {"#{c\xC3\xA9}", error::syntax_invalid, "binary!"},
        // a map needs whole pairs and keys of the types a map takes
        {"#[a 1 b]", error::syntax_invalid, "map!"},
        {"#[[a] 1]", error::syntax_invalid, "map!"},
    };
    for (auto& c : cases) {
        auto e = error_of(c.text);
        EXPECT_TRUE(e.raised) << c.text;
        EXPECT_EQ(e.id, c.id) << c.text;
        EXPECT_EQ(e.what, c.what) << c.text;
    }
    // A path's error is reported at the path's start.
    EXPECT_EQ(error_of("x (a/b/ c)").near, "a/b/ c)");
}

// }==
// {== Paths in context

TEST_F(LexerLoaders, PathsAmongOtherValues) {
    EXPECT_EQ(loaded("[a/b c/d: 'e/f] (:g/h)\ni/j"), "[a/b c/d: 'e/f] (:g/h)\ni/j");
    cell* b = load("x\na/b: 1");
    ASSERT_EQ(length_of(b), 3u);
    const cell* v = cells_of(b);
    EXPECT_EQ(v[1].type(), T_set_path);
    EXPECT_TRUE(v[1].header & CELL_NEW_LINE);
    // The new-line flag belongs to the path, not to its words.
    EXPECT_FALSE(cells_of(&v[1])[0].header & CELL_NEW_LINE);
    EXPECT_EQ(v[2].type(), T_integer);
    // An end in `:` is followed by a delimiter or a word character.
    EXPECT_EQ(loaded("a/b:z"), "a/b: z");
    EXPECT_EQ(loaded("a/1:2"), "a/1: 2");
    EXPECT_EQ(loaded("a/b;c\nd"), "a/b\nd");
    EXPECT_EQ(loaded("a/b\xC2\xA0/c"), "a/b /c");
    EXPECT_EQ(loaded("a\xC2\xA0/b"), "a /b");
}

TEST_F(LexerLoaders, AUnicodeSpaceEndsATokenAsABlankWould) {
    const char* nbsp = "\xC2\xA0";
    auto with_space = [&](const char* before, const char* after) { return std::string(before) + nbsp + after; };
    EXPECT_EQ(loaded(with_space("FFh", "x")), "255 x");
    EXPECT_EQ(loaded(with_space("0Fh", "/x")), "15 /x");
    EXPECT_EQ(loaded(with_space("ab", "/x")), "ab /x");
    EXPECT_EQ(loaded(with_space("a/b", "c")), "a/b c");
    EXPECT_EQ(loaded(with_space("a/FFh", "c")), "a/FFh c"); // inside a path a word stays a word
    EXPECT_EQ(error_of(with_space("'", "x")).what, "word!");
    EXPECT_EQ(error_of(with_space("a/", "b")).what, "path!");
}

TEST_F(LexerLoaders, PathsInOneValueAndScanOnlyRuns) {
    lexer::options o;
    o.one_value = true;
    int64_t consumed = 0;
    cell* v = load("a/b/c d", o, &consumed);
    EXPECT_EQ(mold(v), "a/b/c");
    EXPECT_EQ(consumed, 5);
    v = load("a/b: 1", o, &consumed);
    EXPECT_EQ(v->type(), T_set_path);
    EXPECT_EQ(consumed, 4);
    EXPECT_EQ(scan_type("a/b c"), T_path);
    EXPECT_EQ(scan_type(":a/(b)/c"), T_get_path);
    EXPECT_EQ(scan_type("a/b: c"), T_set_path);
    EXPECT_EQ(scan_type("a/"), T_error);
    EXPECT_EQ(scan_type("%a.txt"), T_file);
    EXPECT_EQ(scan_type("#{00}"), T_binary);
}

// Records the events of a scan as "kind:type" words.
struct trace {
    std::string seen;
    lexer::callback cb{&call, this, lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_LOAD, {T_none, 0, 0, 0}};
    static bool call(void* self, lexer::event& e) {
        auto* t = static_cast<trace*>(self);
        const char* kind = e.kind == lexer::EV_OPEN ? "open" : e.kind == lexer::EV_CLOSE ? "close" : "load";
        t->seen += std::string(t->seen.empty() ? "" : " ") + kind + ":" + datatype::name_of(uint8_t(e.type));
        return !(e.kind == lexer::EV_OPEN && e.type == T_lit_path); // a lit-path is refused
    }
};

TEST_F(LexerLoaders, PathEvents) {
    trace t;
    lexer::options o;
    o.events = &t.cb;
    cell* b = load("a/(b)/c: 'd/e", o);
    // The first word of a path comes with its opening; a refused path leaves its first word.
    EXPECT_EQ(t.seen, "open:path! open:paren! load:word! close:paren! load:word! close:set-path! open:lit-path! "
                      "load:refinement!");
    EXPECT_EQ(mold(b), "[a/(b)/c: 'd /e]");
}

// }==
// {== Inputs that move

TEST_F(LexerLoaders, BinaryInputUnderCollectionStress) {
    std::string text = "a/b/(c d):  %f%20g %\"h i\" http://x/%C3%A9 me@x.org <t a=\"1\"> 1x2 (1, 2) "
                       "1.2.3 #{0102} 64#{AQI=} 2#{00000011} ";
    text += text + text;
    cell* from_memory = load(text);
    std::string expected = mold(from_memory);
    for (int i = 0; i < 8; i++) series::alloc_bytes(4096); // dead: the first collection moves the input
    node_id n = series::alloc_bytes(text.size());
    series_buffer* buf = memory::buffer_of(n);
    std::memcpy(buf->head, text.data(), text.size());
    buf->tail = buf->head + text.size();
    cell* bin = stack::push(&none_value);
    *bin = cell{T_binary, 0, n, 0};
    cell* r = stack::push(&none_value);
    extres::init();
    collector::gc.active = true;
    mm.stress_every = 1;
    lexer::scan_binary(r, bin, -1, {});
    mm.stress_every = 0;
    collector::gc.active = false;
    extres::shutdown();
    EXPECT_EQ(mold(r), expected);
    EXPECT_EQ(length_of(r), 3u * 12u);
}

// }==

} // namespace
