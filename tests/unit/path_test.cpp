// tests/unit/path_test.cpp: the path family: make and to, form and mold of each kind with
// their sigils, index and /part budget, cycles, copy, the inherited block entries and the
// absent ones, and the helpers that build paths.
#include <string>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/path.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "lexer_fixture.h"
#include "runtime/extres.h"
#include "runtime/values.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct PathTest : zyl::testing::LexerTest {
    void SetUp() override {
        LexerTest::SetUp();
        actions::init();
    }
};

// The one value [text] loads to, kept on the evaluation stack.
cell P(std::string_view text) {
    lexer::options o;
    o.one_value = true;
    return *zyl::testing::LexerTest::load(text, o);
}

cell I(int32_t n) { return cell{T_integer, 0, uint32_t(n), 0}; }
cell type_of(uint8_t t) { return datatype::make_value(t); }

// Formed or molded with a /part budget of [limit] (none: no /part); the budget left in [left].
std::string written(cell v, bool mold, int32_t limit = -1, int32_t* left = nullptr) {
    cell* buffer = string::push_new(16);
    cell part = I(limit);
    const cell* arg = limit >= 0 ? &part : nullptr;
    int32_t budget = limit >= 0 ? limit : INT32_MAX;
    int32_t l = mold ? actions::mold_typed(&v, buffer, false, false, false, arg, budget, 0)
                     : actions::form_typed(&v, buffer, arg, budget);
    if (left) *left = l;
    std::string s = string::to_std(buffer);
    stack::pop(1);
    return s;
}

uint32_t room_of(const cell* v) { return memory::buffer_of(v->w2)->size / sizeof(cell); }

// {== Form and mold

TEST_F(PathTest, EachKindMoldsWithItsSigil) {
    struct {
        const char* text;
        uint8_t type;
        const char* molded;
        const char* formed;
    } cases[] = {
        {"a/b/c", T_path, "a/b/c", "a/b/c"},
        {"'a/b", T_lit_path, "'a/b", "a/b"},
        {":a/b", T_get_path, ":a/b", "a/b"},
        {"a/b:", T_set_path, "a/b:", "a/b"},
        {"a/1/(b c)/\"s t\"/#\"x\"", T_path, "a/1/(b c)/\"s t\"/#\"x\"", "a/1/b c/s t/x"},
    };
    for (auto& c : cases) {
        cell v = P(c.text);
        EXPECT_EQ(v.type(), c.type) << c.text;
        EXPECT_EQ(written(v, true), c.molded) << c.text;
        EXPECT_EQ(written(v, false), c.formed) << c.text;
    }
}

TEST_F(PathTest, APathPastItsHeadMoldsFromItsIndex) {
    cell p = P("a/b/c");
    p.w1 = 1;
    EXPECT_EQ(written(p, true), "b/c");
    cell s = P("a/b/c:");
    s.w1 = 1;
    EXPECT_EQ(written(s, true), "b/c:");
    s.w1 = 3; // at the tail: the sigil alone
    EXPECT_EQ(written(s, true), ":");
    EXPECT_EQ(written(s, false), "");
}

TEST_F(PathTest, PartBudgetCountsSlashesAndSigils) {
    cell p = P("abc/d/e");
    int32_t left = 0;
    // "abc" spends 3 and leaves nothing: the walk stops before the next "/".
    EXPECT_EQ(written(p, true, 3, &left), "abc");
    EXPECT_EQ(left, 0);
    EXPECT_EQ(written(p, true, 5, &left), "abc/d");
    EXPECT_EQ(left, 0);
    cell l = P("'abc/d");
    EXPECT_EQ(written(l, true, 4, &left), "'abc");
    EXPECT_EQ(left, 0);
    cell s = P("abc/d:");
    EXPECT_EQ(written(s, true, 3, &left), "abc:");
    EXPECT_EQ(left, -1);
}

TEST_F(PathTest, APathInsideItselfMoldsItsMarker) {
    cell* p = stack::push(&(*stack::push_slot() = P("a/b")));
    block::append_value(p, p);
    EXPECT_EQ(written(*p, true), "a/b/...");
    EXPECT_EQ(written(*p, false), "a/b/...");
}

// }==
// {== make, to, copy

TEST_F(PathTest, MakeFromBlocksAndSizes) {
    cell* proto = stack::push_slot();
    cell v = *actions::make_typed(&(*proto = type_of(T_path)), &(*stack::push_slot() = I(0)));
    EXPECT_EQ(v.type(), T_path);
    EXPECT_EQ(block::rs_length_q(&v), 0u);
    EXPECT_GE(room_of(&v), 1u);
    cell three = *block::make_at(stack::push_slot(), 3);
    cell f = float_::make_value(3.7);
    v = *actions::make_typed(&(*proto = type_of(T_path)), &f);
    EXPECT_EQ(room_of(&v), room_of(&three)); // 3.7 truncates to room for three
    cell pct = float_::make_value(0.5, T_percent);
    v = *actions::make_typed(&(*proto = type_of(T_get_path)), &pct);
    EXPECT_EQ(v.type(), T_get_path);
    EXPECT_GE(room_of(&v), 1u);
    // A block from its index becomes the path's cells; so does another path.
    cell b = P("[x a b]");
    b.w1 = 1;
    v = *actions::make_typed(&(*proto = type_of(T_set_path)), &b);
    EXPECT_EQ(v.type(), T_set_path);
    EXPECT_EQ(written(v, true), "a/b:");
    cell lp = P("'a/b");
    v = *actions::make_typed(&(*proto = type_of(T_path)), &lp);
    EXPECT_EQ(written(v, true), "a/b");
    EXPECT_NE(v.w2, lp.w2); // a copy of the cells
    cell text = P("\"a\"");
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_make_arg,
                       [&] { actions::make_typed(&(*proto = type_of(T_path)), &text); }));
    cell huge = float_::make_value(1e12);
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range,
                       [&] { actions::make_typed(&(*proto = type_of(T_path)), &huge); }));
}

TEST_F(PathTest, ToWrapsSetsAndConvertsBlocks) {
    cell* proto = stack::push_slot();
    cell ts = typeset::make_value(1u << T_integer);
    cell v = *actions::to_typed(&(*proto = type_of(T_path)), &ts);
    ASSERT_EQ(v.type(), T_path);
    ASSERT_EQ(block::rs_length_q(&v), 1u);
    EXPECT_EQ(block::cells_of(v.w2)[0].type(), T_typeset);
    cell b = P("[a b]");
    v = *actions::to_typed(&(*proto = type_of(T_lit_path)), &b);
    EXPECT_EQ(written(v, true), "'a/b");
    // Text loads as block! text does: "a b" is the path a/b.
    cell text = P("\"a b\"");
    v = *actions::to_typed(&(*proto = type_of(T_path)), &text);
    EXPECT_EQ(written(v, true), "a/b");
    cell i = I(5); // another value is the one element
    v = *actions::to_typed(&(*proto = type_of(T_path)), &i);
    EXPECT_EQ(written(v, true), "5");
}

TEST_F(PathTest, CopyKeepsTheKindAndTheEntriesOfBlocksServe) {
    cell s = P("a/b/c:");
    s.w1 = 1;
    cell* c = stack::push(&s);
    actions::copy_typed(c, nullptr, false, nullptr);
    EXPECT_EQ(c->type(), T_set_path);
    EXPECT_NE(c->w2, s.w2);
    EXPECT_EQ(written(*c, true), "b/c:");
    EXPECT_EQ(actions::length_q_typed(&s), 2);
    cell* picked = stack::push(&s);
    cell two = I(2);
    EXPECT_EQ(name_of(actions::pick_typed(picked, &two)), "c");
    cell* sorted = stack::push(&s);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg,
                       [&] { actions::sort_typed(sorted, false, nullptr, nullptr, nullptr, false, false, false); }));
    cell* trimmed = stack::push(&s);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [&] {
        actions::trim_typed(trimmed, false, false, false, false, false, nullptr);
    }));
}

// }==
// {== Helpers

TEST_F(PathTest, MakeAtAndPushTypeTheirCells) {
    cell* p = path::make_at(stack::push_slot(), 0);
    EXPECT_EQ(p->type(), T_path);
    EXPECT_EQ(p->w1, 0u);
    EXPECT_EQ(block::rs_length_q(p), 0u);
    EXPECT_GE(room_of(p), 1u);
    cell b = P("[a b]");
    cell* top = set_path::push(&b);
    EXPECT_EQ(b.type(), T_set_path);
    EXPECT_EQ(top->type(), T_set_path);
    EXPECT_EQ(top, stack::top());
    EXPECT_EQ(lit_path::push(&b)->type(), T_lit_path);
    EXPECT_EQ(get_path::push(&b)->type(), T_get_path);
    EXPECT_EQ(path::push(&b)->type(), T_path);
    EXPECT_EQ(written(b, true), "a/b");
}

TEST_F(PathTest, SurviveACollectionAtEveryAllocation) {
    extres::init();
    collector::gc.active = true;
    mm.stress_every = 1;
    cell v = P("a/(b c)/\"d\"/e:");
    cell* kept = stack::push(&v);
    EXPECT_EQ(written(*kept, true), "a/(b c)/\"d\"/e:");
    cell lit = type_of(T_lit_path);
    cell* made = actions::make_typed(stack::push(&lit), kept); // the result stays on the stack
    EXPECT_EQ(written(*made, true), "'a/(b c)/\"d\"/e");
    mm.stress_every = 0;
    collector::gc.active = false;
    extres::shutdown();
}

// }==

} // namespace
