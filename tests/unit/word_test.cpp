// tests/unit/word_test.cpp: the word types: make and to, sigils in form and mold, the
// comparison codes, index?, assigning; issue! and paren!; and the predefined words.
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/paren.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct WordTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        words::build();
        words::build_refinements();
        words::build_issue();
    }
    void TearDown() override {
        collector::gc.active = false;
        mm.stress_every = 0;
        context::forget_global();
        words::sym = {};
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

cell text(const char* s) {
    cell c;
    return *string::from_utf8(&c, s);
}

// to [type] [spec], through the dispatcher.
cell to(uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    return *actions::to_typed(&proto, &spec);
}

// The output string lives on the stack, where collections find it.
std::string mold(const cell& v, bool only = false, bool flat = false) {
    cell* out = string::push_new(16);
    actions::mold_typed(&v, out, only, false, flat, nullptr, INT32_MAX, 0);
    std::string s = string::to_std(out);
    stack::pop(1);
    return s;
}

std::string form(const cell& v) {
    cell* out = string::push_new(16);
    actions::form_typed(&v, out, nullptr, INT32_MAX);
    std::string s = string::to_std(out);
    stack::pop(1);
    return s;
}

cell retyped(cell w, uint8_t t) {
    w.header = t;
    return w;
}

cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size() + 1);
    for (const cell& v : values) series::append_value(n, v);
    return cell{T_block, 0, n, 0};
}

TEST_F(WordTest, ToWordFromText) {
    cell foo = word::load("foo");
    cell w = to(T_word, text("foo:"));
    EXPECT_EQ(w.header, uint32_t(T_word));
    EXPECT_EQ(w.w2, foo.w2);
    EXPECT_EQ(w.w1, context::global());
    EXPECT_EQ(w.w3, foo.w3);
    EXPECT_EQ(to(T_word, text("'foo")).w2, foo.w2);
    EXPECT_EQ(to(T_set_word, text("foo")).header, uint32_t(T_set_word));
    EXPECT_EQ(to(T_word, char_::make_value('x')).w2, symbol::make("x"));
    for (const char* bad : {"123", "", "foo bar", "-1", "a[b", "foo:bar", "\"s\""}) {
        EXPECT_TRUE(raises(error::cat_script, error::script_invalid_chars, [&] {
            to(T_word, text(bad));
        })) << bad;
    }
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_chars,
                       [&] { to(T_word, char_::make_value('1')); }));
}

TEST_F(WordTest, ToWordFromOtherValues) {
    cell ref = word::load("ref");
    cell w = to(T_word, refinement::load("ref"));
    EXPECT_EQ(w.w1, context::global());
    EXPECT_EQ(w.w3, ref.w3);
    cell unknown = to(T_word, refinement::load("nowhere"));
    EXPECT_EQ(unknown.w1, 0u); // not bound: the global context lacks it
    EXPECT_TRUE(
        raises(error::cat_script, error::script_not_defined, [&] { word::get_value(&unknown); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg,
                       [&] { to(T_word, refinement::load("1")); }));
    EXPECT_EQ(to(T_word, words::ooo).w2, symbol::make("ooo"));

    EXPECT_EQ(form(to(T_word, datatype::make_value(T_integer))), "integer!");
    EXPECT_EQ(to(T_word, logic::make_value(true)).w2, words::sym.true_);
    EXPECT_EQ(to(T_word, logic::make_value(false)).w2, words::sym.false_);
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg,
                       [&] { to(T_word, integer::make_value(1)); }));

    cell bound = word::load("kept");
    bound.header |= CELL_NEW_LINE;
    cell lit = to(T_lit_word, bound);
    EXPECT_EQ(lit.header, uint32_t(T_lit_word)); // flags cleared
    EXPECT_EQ(lit.w1, bound.w1);
    EXPECT_EQ(lit.w3, bound.w3);
    EXPECT_EQ(to(T_get_word, lit).header, uint32_t(T_get_word));
}

TEST_F(WordTest, SigilsInFormAndMold) {
    cell w = word::load("abc");
    EXPECT_EQ(mold(w), "abc");
    EXPECT_EQ(mold(retyped(w, T_lit_word)), "'abc");
    EXPECT_EQ(mold(retyped(w, T_get_word)), ":abc");
    EXPECT_EQ(mold(retyped(w, T_set_word)), "abc:");
    EXPECT_EQ(mold(retyped(w, T_refinement)), "/abc");
    EXPECT_EQ(mold(retyped(w, T_issue)), "#abc");
    for (uint8_t t : {T_word, T_lit_word, T_get_word, T_set_word, T_refinement, T_issue})
        EXPECT_EQ(form(retyped(w, t)), "abc");
    EXPECT_EQ(mold(word::load("ABC")), "ABC"); // each spelling molds as written

    cell out;
    string::make_at(&out, 16);
    cell lit = retyped(w, T_lit_word), set = retyped(w, T_set_word);
    EXPECT_EQ(actions::mold_typed(&lit, &out, false, false, false, nullptr, 10, 0),
              6); // sigil and name
    EXPECT_EQ(actions::mold_typed(&set, &out, false, false, false, nullptr, 10, 0), 6);
}

TEST_F(WordTest, ComparisonCodes) {
    cell abc = word::load("abc"), upper = word::load("ABC");
    cell lit = retyped(abc, T_lit_word), lit_upper = retyped(upper, T_lit_word);
    struct row {
        cell a, b;
        int32_t op;
        bool equal;
    } rows[] = {
        {abc, upper, 0, true},
        {abc, upper, 2, false},
        {abc, abc, 2, true},
        {abc, upper, 1, true},
        {abc, upper, 12, true},
        {abc, lit, 0, true},
        {abc, lit, 2, false},
        {abc, lit, 10, true},
        {lit, abc, 11, true},
        {abc, lit_upper, 10, false},
        {abc, lit_upper, 11, true},
        {abc, retyped(abc, T_get_word), 10, false},
        {abc, abc, 9, true},
        {abc, upper, 9, false},
        {abc, retyped(abc, T_set_word), 11, false},
    };
    for (const row& r : rows)
        EXPECT_EQ(actions::compare_typed(&r.a, &r.b, r.op) == 0, r.equal)
            << mold(r.a) << " " << r.op << " " << mold(r.b);
    cell issue = retyped(abc, T_issue);
    EXPECT_EQ(actions::compare_typed(&abc, &issue, 0), -2);
    EXPECT_EQ(actions::compare_typed(&issue, &abc, 0), -2);
    cell one = integer::make_value(1);
    EXPECT_EQ(actions::compare_typed(&abc, &one, 0), -2);
    cell abd = word::load("abd");
    EXPECT_TRUE(actions::compare(&abc, &abd, 3));
    EXPECT_FALSE(actions::compare(&upper, &abc, 3));
    EXPECT_TRUE(actions::compare(&abd, &upper, 5));
}

TEST_F(WordTest, IndexOfAWord) {
    auto index_of = [](cell w) {
        *es.base = w;
        word::index_q();
        return *es.base;
    };
    EXPECT_EQ(index_of(words::refs.local).type(), T_none);
    node_id ctx = context::make(2, false, false, 0, context::KIND_PLAIN);
    cell first = word::make_value(T_word, ctx, symbol::make("first"), word::NO_INDEX);
    context::add_word(ctx, &first);
    cell index = index_of(*context::word_at(ctx, 0));
    EXPECT_EQ(integer::get(&index), 1);
    EXPECT_EQ(datatype::action(T_refinement, A_index_q), nullptr);
    EXPECT_NE(datatype::action(T_set_word, A_index_q), nullptr);
}

// Runs [entry] on a frame holding [a] and [b]; answers cell 0.
template <typename F> cell on_frame(cell a, cell b, F entry) {
    cell name{T_word, 0, symbol::make("f"), 0};
    stack::mark_native(&name);
    stack::push(&a);
    stack::push(&b);
    entry();
    cell result = *es.base;
    stack::unwind();
    return result;
}

TEST_F(WordTest, AssigningAndReading) {
    cell w = word::load("x");
    EXPECT_TRUE(raises(error::cat_script, error::script_need_value,
                       [&] { on_frame(w, unset_value, [] { word::assign(); }); }));
    EXPECT_EQ(word::get_value(&w)->type(), T_unset);
    EXPECT_EQ(on_frame(w, none_value, [] { word::assign(); }).type(), T_none);
    EXPECT_EQ(word::get_value(&w)->type(), T_none);
    EXPECT_EQ(word::push_value(&w)->type(), T_none);
    EXPECT_EQ(on_frame(w, unset_value, [] { set_word::set(); }).type(), T_unset); // no unset test
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value, [&] { word::push_value(&w); }));
    EXPECT_EQ(get_word::push_value(&w)->type(), T_unset);
    cell target;
    EXPECT_TRUE(raises(error::cat_script, error::script_need_value, [&] {
        on_frame(unset_value, none_value, [&] { word::copy_arg_checked(&target); });
    }));
    EXPECT_EQ(on_frame(w, none_value, [&] { lit_word::get(&w); }).type(), T_unset);
}

TEST_F(WordTest, NamesAndLexTypes) {
    cell w = word::load("hello");
    cell* name = word::push_name(&w);
    EXPECT_EQ(string::to_std(name), "hello");
    EXPECT_EQ(name->w2, symbol::entry(w.w2)->w2); // shared, not copied
    EXPECT_EQ(word::lex_type(&w), T_word);
    cell number = refinement::load("12");
    EXPECT_NE(word::lex_type(&number), T_word);
    EXPECT_EQ(mold(*word::push_from_context(context::global(), w.w3)), "hello");
    EXPECT_EQ(lit_word::push(&w)->header, uint32_t(T_lit_word));
    EXPECT_EQ(lit_word::load_global("hello").w3, w.w3);
}

TEST_F(WordTest, Issues) {
    cell abc = to(T_issue, text("abc"));
    EXPECT_EQ(abc.header, uint32_t(T_issue));
    EXPECT_EQ(abc.w3, word::NO_INDEX);
    EXPECT_EQ(abc.w1, context::global());
    EXPECT_EQ(mold(abc), "#abc");
    cell from_word = to(T_issue, word::load("abc"));
    EXPECT_EQ(mold(from_word), "#abc");
    EXPECT_EQ(actions::compare_typed(&abc, &from_word, 0), 0);
    cell lit = retyped(word::load("abc"), T_lit_word);
    EXPECT_EQ(actions::compare_typed(&abc, &lit, 0), -2);
    EXPECT_FALSE(actions::compare(&abc, &lit, 0));
    cell tail = text("xyz");
    tail.w1 = 1;
    EXPECT_EQ(mold(to(T_issue, tail)), "#yz");
    EXPECT_EQ(mold(to(T_issue, char_::make_value(0xE9))), "#\xC3\xA9");
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg,
                       [&] { to(T_issue, integer::make_value(1)); }));
    EXPECT_EQ(mold(words::ooo), "#ooo");
    cell q = word::load("q");
    EXPECT_EQ(mold(*issue::push(&q)), "#q");
}

TEST_F(WordTest, ParensMoldBetweenParentheses) {
    cell a = word::load("a"), b = word::load("b");
    cell p = retyped(block({a, b}), T_paren);
    EXPECT_EQ(mold(p), "(a b)");
    EXPECT_EQ(mold(p, true), "a b");
    EXPECT_EQ(form(p), "a b");
    cell empty = block({});
    EXPECT_EQ(mold(*paren::push(&empty)), "()");

    cell inner = retyped(block({a}), T_paren);
    series::append_value(p.w2, inner);
    EXPECT_EQ(mold(p), "(a b (a))");

    // A paren that contains itself: the inner occurrence is the marker.
    series::append_value(inner.w2, inner);
    EXPECT_EQ(mold(inner), "(a (...))");
    EXPECT_EQ(mold(inner, true), "a (...)");
    EXPECT_EQ(mold(p), "(a b (a (...)))");
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(WordTest, ParensLayOutNewLinesAsBlocksDo) {
    cell a = word::load("a"), b = word::load("b");
    cell nl_a = a, nl_b = b;
    nl_a.header |= CELL_NEW_LINE;
    nl_b.header |= CELL_NEW_LINE;
    cell p = retyped(block({nl_a, b, nl_b}), T_paren);
    EXPECT_EQ(mold(p), "(\n    a b\n    b\n)");
    EXPECT_EQ(mold(retyped(p, T_block)), "[\n    a b\n    b\n]");
    EXPECT_EQ(mold(p, false, true), "(a b b)");
    cell later = retyped(block({a, nl_b}), T_paren);
    EXPECT_EQ(mold(later), "(a\nb)"); // not indented: the first value is on the opening line
    EXPECT_EQ(mold(retyped(later, T_block)), "[a\nb]");
    cell nested = block({nl_a, p});
    EXPECT_EQ(mold(nested), "[\n    a (\n        a b\n        b\n    )\n]");
}

TEST_F(WordTest, ParensAreBlocksButForMoldAndTrim) {
    EXPECT_EQ(datatype::action(T_paren, A_find), datatype::action(T_block, A_find));
    EXPECT_EQ(datatype::action(T_paren, A_form), datatype::action(T_block, A_form));
    EXPECT_NE(datatype::action(T_paren, A_mold), datatype::action(T_block, A_mold));
    EXPECT_EQ(datatype::action(T_paren, A_trim), nullptr);
    cell p = retyped(block({}), T_paren);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [&] {
        actions::trim_typed(&p, false, false, false, false, false, nullptr);
    }));
}

TEST_F(WordTest, WordsAreMadeAndMoldedUnderCollectionStress) {
    collector::gc.active = true;
    mm.stress_every = 1;
    for (const char* name : {"alpha:", "'beta", ":gamma", "delta"}) {
        cell* spec = string::push_new(8); // the stack keeps the text while words are made
        string::concatenate_literal(spec, name);
        cell w = to(T_word, *spec);
        EXPECT_EQ(w.w1, context::global());
        EXPECT_EQ(to(T_issue, *spec).header, uint32_t(T_issue));
        stack::pop(1);
    }
    cell paren = retyped(block({word::load("a"), word::load("b")}), T_paren);
    cell* p = stack::push(&paren);
    series::append_value(p->w2, *p);
    EXPECT_EQ(mold(*p), "(a b (...))");
    EXPECT_EQ(mold(word::load("alpha")), "alpha");
}

TEST_F(WordTest, DatatypeNameWords) {
    datatype::make_words();
    const cell& w = datatype::reg.names[T_integer].word;
    EXPECT_EQ(w.type(), T_word);
    EXPECT_EQ(w.w1, context::global());
    EXPECT_EQ(w.w2, symbol::make_from_text(reinterpret_cast<const uint8_t*>("integer!"), 8));
    // A type that registers after the words exist gets its name word at once.
    action_fn row[ACTION_SLOTS] = {};
    datatype::register_type(ACTION_SLOTS + 3, T_event, 0, "event!", row);
    EXPECT_EQ(datatype::reg.names[T_event].word.type(), T_word);
    datatype::reg.words_made = false;
}

TEST_F(WordTest, PredefinedWords) {
    EXPECT_EQ(symbol::resolve(word::load("self").w2), words::sym.self);
    EXPECT_EQ(symbol::resolve(word::load("Self").w2), words::sym.self);
    EXPECT_EQ(words::sym.code, words::sym.code2);
    EXPECT_EQ(words::loaded.throw_.w2, words::loaded.throw2.w2);
    EXPECT_EQ(words::global.collect.w3, words::global.collect2.w3);
    EXPECT_EQ(words::loaded.head.w2, words::sym.head);
    EXPECT_EQ(words::loaded.return_.w2, words::sym.return_);
    EXPECT_EQ(words::global.to.w2, words::sym.to);
    EXPECT_EQ(mold(words::loaded.swaped), "swaped");
    EXPECT_EQ(mold(words::loaded.put_ed), "put-ed");
    EXPECT_EQ(mold(words::loaded.body), "<body>");
    EXPECT_EQ(mold(words::loaded.on_change_s), "on-change*");
    EXPECT_EQ(mold(words::global.bar), "|");
    // The first spelling interned is canonical: later case variants are its aliases.
    EXPECT_EQ(symbol::resolve(symbol::make("windows")), words::sym.windows);
    EXPECT_EQ(symbol::alias(words::sym.windows), -1);
    EXPECT_EQ(symbol::alias(words::sym.spec), -1);
    EXPECT_EQ(words::sym.spec, 1u); // the very first name
    for (const cell& r : {words::refs.local, words::refs.extern_, words::refs.with}) {
        EXPECT_EQ(r.header, uint32_t(T_refinement));
        EXPECT_EQ(r.w1, 0u);
    }
    EXPECT_EQ(mold(words::refs.extern_), "/extern");
    EXPECT_EQ(words::ooo.header, uint32_t(T_issue));
    EXPECT_EQ(words::loaded.at.w1, context::global());
}

} // namespace
