// tests/unit/cycles_test.cpp: the cycle stack: its 999-entry limit, the guards that clean it on
// every way out, and the markers that form and mold write for a value being walked.
#include <string>

#include "datatypes/string.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct CyclesTest : zyl::testing::RuntimeTest {
    void TearDown() override {
        cycles::reset();
        RuntimeTest::TearDown();
    }
};

TEST_F(CyclesTest, PushPopAndFind) {
    cycles::push(7);
    cycles::push(9);
    EXPECT_TRUE(cycles::find(7));
    EXPECT_TRUE(cycles::find(9));
    EXPECT_FALSE(cycles::find(8));
    cycles::pop();
    EXPECT_FALSE(cycles::find(9));
    cycles::pop_n(1);
    EXPECT_EQ(cycles::cs.top, 0u);
    cycles::pop(); // on an empty stack: nothing
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(CyclesTest, TheThousandthEntryRaisesTooDeepAndEmptiesTheStack) {
    for (uint32_t i = 1; i <= 999; i++) cycles::push(i);
    EXPECT_EQ(cycles::cs.top, 999u);
    EXPECT_TRUE(raises(error::cat_internal, error::internal_too_deep, [] { cycles::push(1000); }));
    EXPECT_EQ(cycles::cs.top, 0u);
}

// Nests [depth] guards, then raises from the innermost when [fail].
void nest(uint32_t depth, bool fail) {
    cycles::entry walking(depth + 100);
    if (depth > 0) nest(depth - 1, fail);
    else if (fail) error::raise(error::cat_script, error::script_invalid_arg, &none_value);
}

TEST_F(CyclesTest, GuardsCleanTheStackOnEveryWayOut) {
    cycles::push(1);
    {
        cycles::entry a(2);
        cycles::entry b(3);
        EXPECT_EQ(cycles::cs.top, 3u);
    }
    EXPECT_EQ(cycles::cs.top, 1u);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { nest(10, true); }));
    EXPECT_EQ(cycles::cs.top, 1u); // the caller's entry stays, the walk's are gone
    nest(10, false);
    EXPECT_EQ(cycles::cs.top, 1u);
    // Past the limit inside guards: the raise empties the stack and the guards leave it so.
    EXPECT_TRUE(raises(error::cat_internal, error::internal_too_deep, [] { nest(2000, false); }));
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(CyclesTest, MarkersAndTheBudgetTheyCost) {
    struct {
        uint8_t type;
        bool mold;
        const char* text;
    } cases[] = {
        {T_block, true, "[...]"},  {T_hash, true, "[...]"},   {T_paren, true, "(...)"},
        {T_map, true, "#[...]"},   {T_path, true, "..."},     {T_get_path, true, "..."},
        {T_block, false, "..."},   {T_object, true, "make object! [...]"},
    };
    for (auto& c : cases) {
        cell out;
        string::make_at(stack::push_slot(), 8);
        out = *stack::top();
        cell v{c.type, 0, 42, 0};
        if (c.type == T_object) v = cell{T_object, 42, 0, 0}; // objects register word 1
        int32_t part = 100;
        EXPECT_FALSE(cycles::form_marker(&v, &out, part, c.mold));
        EXPECT_EQ(part, 100);
        cycles::push(42);
        EXPECT_TRUE(cycles::form_marker(&v, &out, part, c.mold));
        cycles::pop();
        EXPECT_EQ(string::to_std(&out), c.text);
        EXPECT_EQ(part, 100 - static_cast<int32_t>(std::string(c.text).size())) << c.text;
    }
}

TEST_F(CyclesTest, UpdateAfterMoveRewritesEveryEntry) {
    cycles::push(5);
    cycles::push(6);
    cycles::update_after_move([](node_id n) { return n == 5 ? node_id(50) : n; });
    EXPECT_TRUE(cycles::find(50));
    EXPECT_TRUE(cycles::find(6));
    EXPECT_FALSE(cycles::find(5));
}

} // namespace
