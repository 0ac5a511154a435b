// tests/unit/actions_test.cpp: the action dispatcher, the generic entries and the string!
// actions, called as the interpreter will call them: a frame marked, the arguments pushed,
// the stack entry run with its refinement positions.
#include <string>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct ActionsTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        actions::init();
    }
};

// A string on the evaluation stack (so that it outlives collections) holding UTF-8 [text].
cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }
// S at [index].
cell at(std::string_view text, uint32_t index) {
    cell s = S(text);
    s.w1 = index;
    return s;
}
cell I(int32_t n) { return integer::make_value(n); }
cell C(uint32_t cp) { return char_::make_value(cp); }
cell typed(cell v, uint8_t t) {
    cells::set_type(&v, t);
    return v;
}
// A block! of [values], kept on the stack.
cell B(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size());
    for (const cell& v : values) series::append_value(n, v);
    cell b{T_block, 0, n, 0};
    return *stack::push(&b);
}

// Runs [entry] on a new frame holding [args]; the result stays on the stack as its top cell.
template <typename F> cell* call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return stack::top();
}

std::string text(const cell* v) { return string::to_std(v); }
uint32_t unit(const cell* s) { return memory::buffer_of(s->w2)->unit(); }

// {== Widths

TEST_F(ActionsTest, AppendKeepsTheNarrowestWidthThatHoldsEveryCharacter) {
    cell s = S("abc");
    EXPECT_EQ(unit(&s), 1u);
    struct { uint32_t cp; uint32_t unit; } steps[] = {{0xE9, 1}, {0x20AC, 2}, {0x1F600, 4}, {'z', 4}};
    for (auto& st : steps) {
        s = *call({s, C(st.cp)}, [] { actions::append(-1, -1, -1); });
        EXPECT_EQ(unit(&s), st.unit) << st.cp;
    }
    EXPECT_EQ(text(&s), "abc\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    cell t = S("a\xE2\x82\xAC" "b");
    cell* last = call({t}, [] { actions::take(-1, -1, 0); });
    EXPECT_EQ(last->w2, 'b');
    cell* mid = call({at("a\xE2\x82\xAC", 1)}, [] { actions::take(-1, -1, -1); });
    EXPECT_EQ(mid->w2, 0x20ACu);
    cell u = S("x\xE2\x82\xAC");
    u.w1 = 1;
    call({u}, [] { actions::take(-1, -1, -1); });
    u.w1 = 0;
    EXPECT_EQ(text(&u), "x");
    EXPECT_EQ(unit(&u), 2u); // removing the wide character does not narrow
}

// }==
// {== Mold and form

std::string mold(std::string_view t, bool all = false) {
    return text(call({S(t)}, [all] { actions::mold(-1, all ? 0 : -1, -1, -1); }));
}

TEST_F(ActionsTest, MoldEscapesAndDelimiters) {
    std::string fifty(50, 'x'), fortynine(49, 'x');
    struct { std::string in; std::string out; } cases[] = {
        {"abc", "\"abc\""},
        {"a\nb", "\"a^/b\""},
        {"a\nb\nc", "\"a^/b^/c\""},
        {"a\nb\nc\nd", "{a^/b^/c^/d}"},
        {"say \"hi\"", "{say \"hi\"}"},
        {fifty, "{" + fifty + "}"},
        {fortynine, "\"" + fortynine + "\""},
        {"a{b}c", "\"a{b}c\""},
        {"}{", "\"}{\""},
        {"\"{a}\"", "{\"{a}\"}"},
        {"\"{a", "{\"^{a}"},
        {"\"{a{b}", "{\"^{a^{b^}}"},
        {"\"{a}{", "{\"{a}^{}"},
        {"\"a}", "{\"a^}}"},
        {"\"{{a}", "{\"^{^{a^}}"},
        {"\"^", "{\"^^}"},
        {std::string("\x1E", 1), "\"^(1E)\""},
        {"\t", "\"^-\""},
        {std::string("\0", 1), "\"^@\""},
        {"\x1B\x1C\x1D\x1F", "\"^[^\\^]^_\""},
        {"\x7F", "\"^~\""},
        {"^", "\"^^\""},
        {"\xC2\x85", "\"^(85)\""},
        {"\xC3\xA9", "\"\xC3\xA9\""},
        {"\xE2\x82\xAC", "\"\xE2\x82\xAC\""},
    };
    for (auto& c : cases) EXPECT_EQ(mold(c.in), c.out) << c.in;
    EXPECT_EQ(mold("\xC3\xA9", true), "\"^(E9)\"");
    EXPECT_EQ(mold("a\xE2\x82\xAC", true), "\"a^(20AC)\"");
    EXPECT_EQ(mold("\xF0\x9F\x98\x80", true), "\"^(1F600)\"");
}

TEST_F(ActionsTest, MoldOfLongTextGrowsItsOutput) {
    std::string big;
    for (int i = 0; i < 20000; i++) big += i % 7 ? "ab{c}" : "\n\"\xC3\xA9";
    std::string m = mold(big);
    EXPECT_EQ(m.front(), '{');
    EXPECT_EQ(m.size(), big.size() + 2 + 20000 / 7 + 1); // one "^/" per line feed
}

TEST_F(ActionsTest, FormAndMoldPart) {
    EXPECT_EQ(text(call({S("abcdef"), I(3)}, [] { actions::form(1); })), "abc");
    EXPECT_EQ(text(call({S("abcdef"), I(0)}, [] { actions::form(1); })), "");
    EXPECT_EQ(text(call({S("abcdef"), I(-4)}, [] { actions::form(1); })), "");
    EXPECT_EQ(text(call({I(12345), I(3)}, [] { actions::form(1); })), "123");
    EXPECT_EQ(text(call({I(12345), I(0)}, [] { actions::form(1); })), "");
    EXPECT_EQ(text(call({S("abcdef"), I(4)}, [] { actions::mold(-1, -1, -1, 1); })), "\"abc");
    EXPECT_EQ(text(call({at("abcdef", 2)}, [] { actions::form(-1); })), "cdef");
    cell out = S(""), v = S("abcd");
    EXPECT_EQ(actions::form_typed(&v, &out, nullptr, 10), 6);
    EXPECT_EQ(actions::mold_typed(&v, &out, false, false, false, nullptr, 100, 0), 94);
}

// }==
// {== Sort

std::string sort(std::string_view t, std::initializer_list<cell> extra, void (*entry)()) {
    cell s = S(t);
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    stack::push(&s);
    for (const cell& a : extra) stack::push(&a);
    entry();
    stack::unwind();
    return text(&s);
}

TEST_F(ActionsTest, SortFoldsUnlessCase) {
    EXPECT_EQ(sort("dCba", {}, [] { actions::sort(-1, -1, -1, -1, -1, -1, -1); }), "abCd");
    EXPECT_EQ(sort("dCba", {}, [] { actions::sort(0, -1, -1, -1, -1, -1, -1); }), "Cabd");
    EXPECT_EQ(sort("dCba", {}, [] { actions::sort(-1, -1, -1, -1, -1, 0, -1); }), "dCba");
    EXPECT_EQ(sort("a_B", {}, [] { actions::sort(-1, -1, -1, -1, -1, -1, -1); }), "aB_");
    EXPECT_EQ(sort("\xC3\xA9\xC3\x89" "a", {}, [] { actions::sort(-1, -1, -1, -1, -1, -1, 0); }),
              "a\xC3\xA9\xC3\x89");
    EXPECT_EQ(sort("dcba", {I(2)}, [] { actions::sort(-1, -1, -1, 1, -1, -1, -1); }), "cdba");
    EXPECT_EQ(sort("\xE2\x82\xAC" "cba", {}, [] { actions::sort(-1, -1, -1, -1, -1, -1, -1); }),
              "abc\xE2\x82\xAC");
}

TEST_F(ActionsTest, SortStableKeepsEqualRecordsInOrder) {
    EXPECT_EQ(sort("bBaAbaBA", {}, [] { actions::sort(-1, -1, -1, -1, -1, -1, 0); }), "aAaAbBbB");
    EXPECT_EQ(sort("bBaA", {}, [] { actions::sort(0, -1, -1, -1, -1, -1, 0); }), "ABab");
    // Records of two, compared by their first unit only: ties keep their order with /case too.
    EXPECT_EQ(sort("b1a2b0a9a3", {I(2)}, [] { actions::sort(0, 1, -1, -1, -1, -1, 0); }), "a2a9a3b1b0");
    EXPECT_EQ(sort("a2b1", {I(2), I(2)}, [] { actions::sort(-1, 1, 2, -1, -1, -1, -1); }), "b1a2");
    EXPECT_EQ(sort("a2b1c0", {I(2)}, [] { actions::sort(-1, 1, -1, -1, 0, 0, -1); }), "c0b1a2");
}

TEST_F(ActionsTest, SortErrors) {
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [] { sort("abc", {I(2)}, [] { actions::sort(-1, 1, -1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_refines,
                       [] { sort("ab", {}, [] { actions::sort(-1, -1, -1, -1, 0, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range,
                       [] { sort("a2b1", {I(2), I(3)}, [] { actions::sort(-1, 1, 2, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_refines,
                       [] { sort("a2b1", {I(1)}, [] { actions::sort(-1, -1, 1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [] { sort("a2b1", {S("x")}, [] { actions::sort(-1, -1, 1, -1, -1, -1, -1); }); }));
}

// }==
// {== Find and select

// find with the refinements named in [refs] ("part", "case", "skip", "last", "reverse",
// "tail", "match", "any"); [arg] is the /part or /skip argument. Answers the index found, or
// -1 for none.
int64_t find(cell series, cell value, std::string refs, cell arg = none_value) {
    cell* r = call({series, value, arg}, [&refs] {
        auto has = [&refs](const char* w) { return refs.find(w) != std::string::npos ? 0 : -1; };
        actions::find(has("part") >= 0 ? 2 : -1, -1, has("case"), -1, has("any"), -1, has("skip") >= 0 ? 2 : -1,
                      has("last"), has("reverse"), has("tail"), has("match"));
    });
    return r->type() == T_none ? -1 : int64_t(r->w1);
}

TEST_F(ActionsTest, FindRefinements) {
    EXPECT_EQ(find(S("abcabc"), S("c"), ""), 2);
    EXPECT_EQ(find(S("abcabc"), S("c"), "last"), 5);
    EXPECT_EQ(find(S("abcabc"), S("bc"), "last"), 4);
    EXPECT_EQ(find(S("abc"), S("b"), "tail"), 2);
    EXPECT_EQ(find(S("abc"), C('b'), "tail"), 2);
    EXPECT_EQ(find(S("abc"), S("b"), "match"), -1);
    EXPECT_EQ(find(S("abc"), S("AB"), "match"), 0);
    EXPECT_EQ(find(S("abc"), S("AB"), "match case"), -1);
    EXPECT_EQ(find(S("abc"), S("b"), "reverse"), -1);
    EXPECT_EQ(find(at("abcabc", 6), S("b"), "reverse"), 4);
    EXPECT_EQ(find(at("abcabc", 4), S("bc"), "reverse"), 1);
    EXPECT_EQ(find(at("abcabc", 6), S("b"), "reverse match"), -1);
    EXPECT_EQ(find(S("aBc"), S("b"), ""), 1);
    EXPECT_EQ(find(S("aBc"), S("b"), "case"), -1);
    EXPECT_EQ(find(S("aBc"), C('C'), ""), 2);
    EXPECT_EQ(find(S("aBc"), C('C'), "case"), -1);
    EXPECT_EQ(find(S("abcabc"), S("b"), "skip", I(2)), 4);
    EXPECT_EQ(find(S("abcabc"), S("a"), "skip last", I(3)), 3);
    EXPECT_EQ(find(S("abcdef"), S("e"), "part", I(3)), -1);
    EXPECT_EQ(find(S("abcdef"), S("e"), "part", I(5)), 4);
    EXPECT_EQ(find(S("abcdef"), S("e"), "part", I(0)), -1);
    EXPECT_EQ(find(S("abcdef"), S("c"), "part last", I(4)), 2);
    EXPECT_EQ(find(at("abcdef", 5), S("b"), "part reverse", I(3)), -1);
    EXPECT_EQ(find(at("abcdef", 5), S("c"), "part reverse", I(3)), 2);
    EXPECT_EQ(find(S("a12b"), I(12), ""), 1); // other values are searched by their form
    EXPECT_EQ(find(S("a\xE2\x82\xAC" "b"), S("B"), ""), 2);
    EXPECT_EQ(find(S("\xC3\xA9t\xC3\xA9"), S("\xC3\x89T"), ""), 0);
    EXPECT_EQ(find(S(""), S(""), ""), -1);
    EXPECT_EQ(find(at("abc", 3), C('c'), ""), -1);
    cell s = S("abcdef");
    cell end = s;
    end.w1 = 3;
    EXPECT_EQ(find(s, S("d"), "part", end), -1);
    end.w1 = 4;
    EXPECT_EQ(find(s, S("d"), "part", end), 3);
}

TEST_F(ActionsTest, FindErrorsAndBitsets) {
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [] { find(S("abc"), S("b"), "any"); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [] { find(S("abc"), S("b"), "skip", I(0)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [] { find(S("abc"), S("b"), "part", S("other")); }));
    node_id bits = series::alloc_bytes(13);
    series_buffer* b = memory::buffer_of(bits);
    std::memset(b->head, 0, 13);
    b->head['c' >> 3] |= 0x80 >> ('c' & 7);
    b->tail = b->head + 13;
    cell tmp{T_bitset, 0, bits, 0};
    cell bs = *stack::push(&tmp);
    EXPECT_EQ(find(S("abcd"), bs, ""), 2);
    EXPECT_EQ(find(S("ab\xE2\x82\xAC"), bs, ""), -1);
}

TEST_F(ActionsTest, Select) {
    auto select = [](cell s, cell v) {
        return *call({s, v}, [] { actions::select(-1, -1, -1, -1, -1, -1, -1, -1, -1); });
    };
    cell r = select(S("abc"), S("a"));
    EXPECT_EQ(r.type(), T_char_);
    EXPECT_EQ(r.w2, 'b');
    EXPECT_EQ(select(S("abc"), S("c")).type(), T_none);
    EXPECT_EQ(select(S("abcd"), S("bc")).w2, 'd');
    EXPECT_EQ(select(S("a12b"), I(12)).w2, 'b');
    EXPECT_EQ(select(S("abc"), S("x")).type(), T_none);
    cell step = *call({S("abc"), S("b")}, [] { actions::eval_path(-1); });
    EXPECT_EQ(step.w2, 'c');
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_path, [] {
        cell w{T_word, 0, 1, 0};
        call({S("abc"), w}, [] { actions::eval_path(-1); });
    }));
}

// }==
// {== Trim

std::string trim(std::string_view t, const char* refs, cell with = none_value) {
    std::string r = refs;
    auto has = [&r](const char* w) { return r.find(w) != std::string::npos ? 0 : -1; };
    cell* out = call({S(t), with}, [&] {
        actions::trim(has("head"), has("tail"), has("auto"), has("lines"), has("all"), has("with") >= 0 ? 1 : -1);
    });
    return text(out);
}

TEST_F(ActionsTest, TrimRefinements) {
    EXPECT_EQ(trim("  a  b  ", ""), "a  b");
    EXPECT_EQ(trim(" a \n b ", "lines"), "a b");
    EXPECT_EQ(trim(" a b ", "all"), "ab");
    EXPECT_EQ(trim("\t a\r\nb \n", "all"), "ab");
    EXPECT_EQ(trim("  a  ", "head"), "a  ");
    EXPECT_EQ(trim("  a  ", "tail"), "  a");
    EXPECT_EQ(trim("  a  ", "head tail"), "a");
    EXPECT_EQ(trim("  a  \n   b c \n\n ", ""), "a\nb c\n");
    EXPECT_EQ(trim("\xE3\x80\x80" "a\xC2\xA0", ""), "a");
    EXPECT_EQ(trim("abcabc", "with", S("b")), "acac");
    EXPECT_EQ(trim("abcabc", "with", S("abcx")), "");
    EXPECT_EQ(trim("abcabc", "with", S("")), "abcabc");
    EXPECT_EQ(trim("abcabc", "with", C('c')), "abab");
    EXPECT_EQ(trim("a\xE2\x82\xAC" "b", "with", I(0x20AC)), "ab");
    EXPECT_EQ(trim("", ""), "");
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [] { trim("a", "auto"); }));
}

// }==
// {== Append, insert, change

// append, insert or change ([which] 0, 1, 2) with /part [part] (or none) and /dup [dup].
cell* edit(int which, cell series, cell value, cell part = none_value, cell dup = none_value, bool only = false) {
    return call({series, value, part, dup}, [=] {
        int32_t p = part.type() == T_none ? -1 : 2, d = dup.type() == T_none ? -1 : 3, o = only ? 0 : -1;
        if (which == 0) actions::append(p, o, d);
        else if (which == 1) actions::insert(p, o, d);
        else actions::change(p, o, d);
    });
}

TEST_F(ActionsTest, Append) {
    EXPECT_EQ(text(edit(0, S("x"), S("ab"), none_value, I(3))), "xababab");
    EXPECT_EQ(text(edit(0, S("x"), typed(S("b"), T_tag))), "x<b>");
    EXPECT_EQ(text(edit(0, S("x"), typed(S("bcd"), T_tag), I(3))), "x<bc");
    EXPECT_EQ(text(edit(0, S("x"), S("abcdef"), I(2))), "xab");
    cell v = at("abcdef", 1);
    cell end = v;
    end.w1 = 4;
    EXPECT_EQ(text(edit(0, S("x"), v, end)), "xbcd");
    v.w1 = 3;
    end.w1 = 1;
    EXPECT_EQ(text(edit(0, S("x"), v, end)), "xbc"); // a negative count moves the start back
    EXPECT_EQ(text(edit(0, S("x"), S("ab"), I(0))), "x");
    EXPECT_EQ(text(edit(0, S("x"), S("ab"), none_value, I(0))), "x");
    EXPECT_EQ(text(edit(0, S("x"), I(12))), "x12");
    EXPECT_EQ(text(edit(0, S("x"), I(12), none_value, I(3))), "x121212");
    cell* r = edit(0, at("abc", 2), S("d"));
    EXPECT_EQ(r->w1, 0u);
    EXPECT_EQ(text(r), "abcd");
    EXPECT_EQ(text(edit(0, S("x"), S("\xE2\x82\xAC"), none_value, I(2))), "x\xE2\x82\xAC\xE2\x82\xAC");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_part, [] { edit(0, S("x"), C('a'), I(1)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [] { edit(0, S("x"), S("ab"), S("ab")); }));
}

TEST_F(ActionsTest, AppendBlocksFormEachElement) {
    cell blk = B({true_value, none_value, false_value});
    EXPECT_EQ(text(edit(0, S("x"), blk)), "xtruenonefalse");
    EXPECT_EQ(text(edit(0, S("x"), blk, I(2))), "xtruenone");
    EXPECT_EQ(text(edit(0, S("x"), blk, I(6), none_value, true)), "xtrueno");
    EXPECT_EQ(text(edit(0, S("x"), blk, none_value, I(2))), "xtruenonefalsetruenonefalse");
}

TEST_F(ActionsTest, Insert) {
    cell* r = edit(1, S("abc"), S("XY"));
    EXPECT_EQ(text(r), "abc");
    r->w1 = 0;
    EXPECT_EQ(text(r), "XYabc");
    r = edit(1, at("abc", 1), C(0x20AC));
    EXPECT_EQ(r->w1, 2u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "a\xE2\x82\xAC" "bc");
    r = edit(1, at("abc", 1), S("-"), none_value, I(3));
    EXPECT_EQ(r->w1, 4u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "a---bc");
    r = edit(1, at("abc", 1), I(12));
    EXPECT_EQ(r->w1, 3u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "a12bc");
    r = edit(1, at("abc", 1), I(12), none_value, I(2));
    r->w1 = 0;
    EXPECT_EQ(text(r), "a1212bc");
    r = edit(1, at("abc", 3), S("d"));
    EXPECT_EQ(r->w1, 4u);
    r = edit(1, at("abc", 1), typed(S("t"), T_tag));
    r->w1 = 0;
    EXPECT_EQ(text(r), "a<t>bc");
    cell self = S("abc"); // inserting a string into itself
    cell tail = self;
    tail.w1 = 1;
    r = edit(1, self, tail);
    r->w1 = 0;
    EXPECT_EQ(text(r), "bcabc");
}

TEST_F(ActionsTest, Change) {
    cell* r = edit(2, S("abcdef"), S("XY"));
    EXPECT_EQ(r->w1, 2u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "XYcdef");
    r = edit(2, S("abcdef"), S("XY"), I(4));
    r->w1 = 0;
    EXPECT_EQ(text(r), "XYef");
    r = edit(2, S("abcdef"), S("XYZ"), I(1));
    r->w1 = 0;
    EXPECT_EQ(text(r), "XYZbcdef");
    r = edit(2, S("abcdef"), S("X"), none_value, I(3));
    r->w1 = 0;
    EXPECT_EQ(text(r), "XXXdef");
    r = edit(2, S("abc"), I(1234));
    EXPECT_EQ(r->w1, 4u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "1234");
    r = edit(2, S("abcdef"), I(12), I(1));
    r->w1 = 0;
    EXPECT_EQ(text(r), "12bcdef");
    r = edit(2, at("ab", 2), S("cd"));
    r->w1 = 0;
    EXPECT_EQ(text(r), "abcd");
    r = edit(2, S("abc"), C(0x1F600));
    r->w1 = 0;
    EXPECT_EQ(text(r), "\xF0\x9F\x98\x80" "bc");
    cell s = S("abcdef");
    cell d = s;
    d.w1 = 3;
    r = edit(2, s, d);
    r->w1 = 0;
    EXPECT_EQ(text(r), "defdef");
    cell s2 = S("abcdef");
    cell p = s2; // /part as a position in the changed series
    p.w1 = 2;
    r = edit(2, s2, S("X"), p);
    r->w1 = 0;
    EXPECT_EQ(text(r), "Xcdef");
}

// }==
// {== Take, swap, set operations

TEST_F(ActionsTest, TakeAndSwap) {
    cell s = S("abcd");
    cell* r = call({s}, [] { actions::take(-1, -1, -1); });
    EXPECT_EQ(r->type(), T_char_);
    EXPECT_EQ(r->w2, 'a');
    EXPECT_EQ(text(&s), "bcd");
    r = call({s, I(2)}, [] { actions::take(1, -1, -1); });
    EXPECT_EQ(r->type(), T_string);
    EXPECT_EQ(text(r), "bc");
    EXPECT_EQ(text(&s), "d");
    cell t = S("abcd");
    EXPECT_EQ(text(call({t, I(2)}, [] { actions::take(1, -1, 0); })), "cd");
    EXPECT_EQ(text(call({at("abc", 2), I(-1)}, [] { actions::take(1, -1, -1); })), "b");
    EXPECT_EQ(call({S("")}, [] { actions::take(-1, -1, -1); })->type(), T_none);
    EXPECT_EQ(text(call({S("abc"), I(0)}, [] { actions::take(1, -1, -1); })), "");
    cell a = S("abc"), b = at("x\xE2\x82\xAC" "y", 1);
    call({a, b}, [] { actions::swap(); });
    EXPECT_EQ(text(&a), "\xE2\x82\xAC" "bc");
    b.w1 = 0;
    EXPECT_EQ(text(&b), "xay");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [] { call({S("a"), I(1)}, [] { actions::swap(); }); }));
}

TEST_F(ActionsTest, SetOperations) {
    struct { int32_t op; const char* a; const char* b; bool case_; int32_t skip; const char* out; } cases[] = {
        {8, "aAbBa", "", false, 1, "ab"}, {8, "aAbBa", "", true, 1, "aAbB"}, {9, "abc", "bcd", false, 1, "abcd"},
        {10, "abc", "BCD", false, 1, "bc"}, {10, "abc", "BCD", true, 1, ""}, {11, "abc", "bcd", false, 1, "a"},
        {12, "abc", "bcd", false, 1, "ad"}, {9, "a1b2", "a3c4", false, 2, "a1b2c4"}, {9, "", "", false, 1, ""},
    };
    for (auto& c : cases) {
        cell a = S(c.a), b = S(c.b), skip = I(c.skip);
        stack::push(&skip);
        string::do_set_op(c.op, &a, &b, c.case_, &skip);
        EXPECT_EQ(text(&a), c.out) << c.op << " " << c.a << " " << c.b;
    }
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [] {
        cell a = S("a"), skip = I(0);
        string::do_set_op(8, &a, nullptr, false, &skip);
    }));
}

// }==
// {== Make, to, comparison

cell conv(bool make, uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    return *call({proto, spec}, [make] { make ? actions::make() : actions::to(); });
}

TEST_F(ActionsTest, MakeAndTo) {
    cell s = conv(true, T_string, I(10));
    EXPECT_EQ(s.type(), T_string);
    EXPECT_EQ(string::length_of(&s), 0u);
    EXPECT_GE(memory::buffer_of(s.w2)->size, 10u);
    EXPECT_EQ(text(&(s = conv(true, T_string, S("ab")))), "ab");
    EXPECT_EQ(text(&(s = conv(false, T_string, at("abc", 1)))), "bc");
    EXPECT_EQ(text(&(s = conv(false, T_string, I(42)))), "42");
    EXPECT_EQ(text(&(s = conv(false, T_string, B({true_value, none_value})))), "truenone");
    node_id bytes = series::alloc_bytes(4);
    series_buffer* b = memory::buffer_of(bytes);
    std::memcpy(b->head, "\xC3\xA9!", 3);
    b->tail = b->head + 3;
    cell bin = *stack::push(&(s = cell{T_binary, 0, bytes, 0}));
    EXPECT_EQ(text(&(s = conv(false, T_string, bin))), "\xC3\xA9!");
    memory::buffer_of(bytes)->head[1] = 0xFF;
    EXPECT_TRUE(raises(error::cat_access, ids::access_invalid_utf8, [&] { conv(false, T_string, bin); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [] { conv(true, T_string, I(-1)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [] { conv(false, T_string, none_value); }));
    cell proto = datatype::make_value(T_file), spec = S("a/b");
    datatype::action_as<actions::make_fn>(T_string, A_to)(&proto, &spec, T_file);
    EXPECT_EQ(proto.type(), T_file);
    EXPECT_EQ(text(&proto), "a/b");
}

TEST_F(ActionsTest, GenericComparison) {
    cell a = S("abc"), b = S("ABC"), e1 = S(""), e2 = S("");
    EXPECT_TRUE(actions::compare(&a, &b, 0));
    EXPECT_FALSE(actions::compare(&a, &b, 2));
    EXPECT_FALSE(actions::compare(&a, &b, 1));
    EXPECT_TRUE(actions::compare(&e1, &e2, 0));
    EXPECT_TRUE(actions::compare(&e1, &e2, 2));
    cell c = S("abd");
    EXPECT_TRUE(actions::compare(&a, &c, 3));
    EXPECT_TRUE(actions::compare(&a, &c, 4));
    EXPECT_FALSE(actions::compare(&a, &c, 5));
    EXPECT_TRUE(actions::compare(&c, &b, 6));
    EXPECT_EQ(actions::compare_typed(&a, &c, 3), -1);
    cell f = typed(S("abc"), T_file);
    EXPECT_TRUE(actions::compare(&a, &f, 0));
    EXPECT_FALSE(actions::compare(&a, &f, 2));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_compare, [&] { actions::compare(&a, &f, 3); }));
    cell one = I(1);
    EXPECT_FALSE(actions::compare(&a, &one, 0));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_compare, [&] { actions::compare(&a, &one, 5); }));
    EXPECT_EQ(call({a, b}, [] { actions::compare_on_stack(0); })->w1, 1u);
    EXPECT_EXIT(actions::compare(&a, &b, 7), ::testing::ExitedWithCode(101), "");
}

// }==
// {== Dispatcher

TEST_F(ActionsTest, MissingEntriesRaiseExpectArg) {
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg, [] { call({S("a"), S("b")}, [] { actions::add(); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg, [] { call({none_value}, [] { actions::negate(); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({none_value, S("x")}, [] { actions::append(-1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_path_type2, [] {
        cell n = none_value;
        actions::eval_path_typed(&n, nullptr, nullptr, actions::path_step{});
    }));
    EXPECT_EQ(call({none_value}, [] { actions::length_q(); })->type(), T_none);
    EXPECT_EQ(actions::generic[A_set_path - 1], nullptr);
    EXPECT_NE(actions::generic[A_write - 1], nullptr);
}

cell* actor_append(cell* series, cell*, int32_t, bool, int32_t, bool) {
    series->header = T_logic;
    series->w1 = 1;
    return series;
}

TEST_F(ActionsTest, PortActorsServeTheirSlots) {
    static action_fn table[ACTION_SLOTS - A_append + 1] = {};
    table[0] = datatype::entry(&actor_append);
    uint32_t id = actions::register_port_actor(table);
    // A port: an object whose context's third field is a handle! naming the actor table.
    node_id values = series::alloc_cells(3);
    for (int i = 0; i < 2; i++) series::append_value(values, none_value);
    series::append_value(values, cell{T_handle, 0, id, 0});
    node_id ctx = series::alloc_cells(2);
    series::append_value(ctx, cell{T_context, 0, values, 0});
    series::append_value(ctx, none_value);
    cell port{T_port, ctx, 0, 0};
    cell* r = call({port, S("x")}, [] { actions::append(-1, -1, -1); });
    EXPECT_EQ(r->type(), T_logic);
    EXPECT_TRUE(raises(error::cat_access, ids::access_invalid_actor,
                       [&] { call({port, S("x")}, [] { actions::insert(-1, -1, -1); }); }));
}

// }==
// {== Collections

struct StressGuard {
    node_id root;
    StressGuard() {
        extres::init();
        root = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.root_block = root;
        collector::gc.active = true;
        mm.stress_every = 1;
    }
    ~StressGuard() {
        mm.stress_every = 0;
        collector::gc = {};
        extres::shutdown();
    }
};

TEST_F(ActionsTest, ActionsSurviveACollectionAtEveryAllocation) {
    StressGuard guard;
    cell s = S("");
    for (int i = 0; i < 200; i++) s = *edit(0, s, i % 3 ? S("ab") : C(0x20AC));
    EXPECT_EQ(string::length_of(&s), 67u + 133u * 2);
    cell m = *call({s}, [] { actions::mold(-1, -1, -1, -1); });
    EXPECT_EQ(text(&m).substr(0, 5), "{\xE2\x82\xAC" "a");
    cell t = *edit(1, at("hello", 2), I(42), none_value, I(2));
    t.w1 = 0;
    EXPECT_EQ(text(&t), "he4242llo");
    t = *edit(2, S("hello"), I(7), I(2));
    t.w1 = 0;
    EXPECT_EQ(text(&t), "7llo");
    EXPECT_EQ(find(S("a42b"), I(42), ""), 1);
    EXPECT_EQ(text(call({S("dcba")}, [] { actions::sort(-1, -1, -1, -1, -1, -1, 0); })), "abcd");
    EXPECT_EQ(text(&(t = conv(false, T_string, I(9)))), "9");
    cell a = S("abc"), b = S("cde");
    string::do_set_op(9, &a, &b, false, nullptr);
    EXPECT_EQ(text(&a), "abcde");
    cell self = S("abcdef");
    cell d = self;
    d.w1 = 3;
    t = *edit(2, self, d);
    t.w1 = 0;
    EXPECT_EQ(text(&t), "defdef");
}

// }==

} // namespace
