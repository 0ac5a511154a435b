// tests/unit/ownership_test.cpp: the owner table: giving nested series an owner (cycles walked
// once, the first owner kept), taking it away deeply, the marks, `modify ... 'owned`, checks
// on series without an owner, and the table across collections.
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/ownership.h"
#include "runtime/words.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct OwnershipTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        words::build();
        lexer::init();
        error::init_system(); // raised errors are objects, as the collector expects
        collector::gc.active = true;
    }
    void TearDown() override {
        collector::gc.active = false;
        cycles::reset();
        error::forget_system();
        owner::forget();
        context::forget_global();
        words::sym = {};
        words::loaded = {};
        symbol::table = {};
        RuntimeTest::TearDown();
    }

    // Loads [text] into a block pushed on the stack.
    static cell* load(std::string_view text) {
        cell* result = stack::push(&none_value);
        lexer::scan(result, reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()),
                    lexer::options{});
        return result;
    }

    // An object (pushed) whose fields [names] hold the values [values].
    static cell* object_of(std::initializer_list<const char*> names,
                           std::initializer_list<cell> values) {
        cell* obj = object::make_at(stack::push_slot(), 4);
        auto v = values.begin();
        for (const char* n : names) {
            cell w = word::load(n);
            cell value = *v++;
            context::set_or_add(obj->w1, &w, &value);
        }
        return obj;
    }

    static cell word_of(const char* name) { return word::load(name); }
};

cell* cells(const cell& blk) { return block::cells_of(blk.w2) + blk.w1; }

bool marked(const cell& s) { return owner::owned_q(&s); }

TEST_F(OwnershipTest, SetGivesEveryNestedSeriesAnOwnerAndWalksCyclesOnce) {
    cell* blk = load("[a] \"s\" [[b] #{01}] 1");
    block::append_value(blk, blk); // the block holds itself
    cell* obj = object_of({"f"}, {*blk});
    cell w = word_of("f");
    owner::set(blk, obj, &w);
    EXPECT_EQ(cycles::cs.top, 0u);
    cell inner = cells(*blk)[2];
    for (const cell& s :
         {*blk, cells(*blk)[0], cells(*blk)[1], inner, cells(inner)[0], cells(inner)[1]}) {
        EXPECT_TRUE(marked(s)) << int(s.type());
        cell* o = owner::find(s.w2);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->w1, obj->w1);
        EXPECT_EQ(symbol::resolve(o[1].w2), symbol::resolve(w.w2))
            << "the entry's word follows the owner";
    }
}

TEST_F(OwnershipTest, ASeriesHeldTwiceKeepsTheFirstFieldsEntry) {
    cell* text = load("\"shared\"");
    cell s = cells(*text)[0];
    cell* obj = object_of({"first", "second"}, {s, s});
    owner::set_owned(obj, obj, &none_value);
    EXPECT_TRUE(context::cell_of(obj->w1)->header & CTX_OWNER_SET);
    cell* o = owner::find(s.w2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(std::string(symbol::c_name(o[1].w2)), "first");
}

TEST_F(OwnershipTest, AnObjectFieldHoldingItsOwnerIsSkipped) {
    cell* blk = load("[1]");
    cell* obj = object_of({"me", "data"}, {none_value, *blk});
    cell w = word_of("me");
    context::set_or_add(obj->w1, &w, obj);
    owner::set_owned(obj, obj, &none_value);
    EXPECT_TRUE(marked(*blk));
    EXPECT_EQ(owner::find(obj->w1), nullptr) << "an object gets no entry of its own";
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(OwnershipTest, ClearDeepTakesEveryNestedEntryAway) {
    cell* blk = load("[a] [[b]] \"s\"");
    cell* obj = object_of({"f"}, {*blk});
    cell w = word_of("f");
    owner::set(blk, obj, &w);
    owner::clear_deep(blk);
    cell inner = cells(*blk)[1];
    for (const cell& s : {*blk, cells(*blk)[0], inner, cells(inner)[0], cells(*blk)[2]}) {
        EXPECT_FALSE(marked(s));
        EXPECT_EQ(owner::find(s.w2), nullptr);
    }
}

TEST_F(OwnershipTest, ClearRangeTakesOnlyThoseCells) {
    cell* blk = load("[a] [b] [c]");
    cell* obj = object_of({"f"}, {*blk});
    cell w = word_of("f");
    owner::set(blk, obj, &w);
    owner::clear_range(blk, 1, 5); // cut to the tail
    EXPECT_TRUE(marked(cells(*blk)[0]));
    EXPECT_FALSE(marked(cells(*blk)[1]));
    EXPECT_FALSE(marked(cells(*blk)[2]));
    EXPECT_TRUE(marked(*blk));
}

TEST_F(OwnershipTest, CheckIsFalseWithoutAnOwnerWithHooks) {
    cell* blk = load("[1]");
    cell action = words::loaded.append;
    EXPECT_FALSE(owner::check(blk, &action, nullptr, 0, 1)) << "no owner";
    cell* obj = object_of({"f"}, {*blk});
    cell w = word_of("f");
    owner::set(blk, obj, &w);
    EXPECT_EQ(obj->w3, 0u);
    EXPECT_FALSE(owner::check(blk, &action, nullptr, 0, 1)) << "an owner without on-set record";
    owner::tell(blk, action, nullptr, 0, 1); // calls nothing either
}

TEST_F(OwnershipTest, ModifyOwnedGivesAndTakesOwnership) {
    cell* blk = load("[1]");
    cell* obj = object_of({"f"}, {*blk});
    cell* spec = block::push_new(2);
    block::append_value(spec, obj);
    cell lit = word_of("f");
    cells::set_type(&lit, T_lit_word);
    block::append_value(spec, &lit);
    owner::modify_owned(blk, spec);
    EXPECT_TRUE(marked(*blk));
    EXPECT_TRUE(context::cell_of(obj->w1)->header & CTX_OWNER_SET);
    cell* o = owner::find(blk->w2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o[1].type(), T_word);
    owner::modify_owned(blk, &none_value);
    EXPECT_FALSE(marked(*blk));
    cell one = integer::make_value(1);
    cell* not_object = load("1 f");
    cell* empty = block::push_new(1);
    cell* no_word = block::push_new(1);
    block::append_value(no_word, obj);
    const cell* bad_specs[] = {&one, not_object, empty, no_word};
    for (const cell* bad : bad_specs)
        EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg,
                           [&] { owner::modify_owned(blk, bad); }));
}

TEST_F(OwnershipTest, SeriesModifyAndReflectOwned) {
    cell* blk = load("[1]");
    cell* obj = object_of({"f"}, {*blk});
    cell* spec = block::push_new(2);
    block::append_value(spec, obj);
    cell w = word_of("f");
    block::append_value(spec, &w);
    cell owned = word_of("owned");
    series::modify(blk, &owned, spec, false);
    cell* r = stack::push(blk);
    series::reflect(r, &owned);
    EXPECT_EQ(r->type(), T_object);
    EXPECT_EQ(r->w1, obj->w1);
    cell none = none_value;
    series::modify(blk, &owned, &none, false);
    cell* gone = stack::push(blk);
    series::reflect(gone, &owned);
    EXPECT_EQ(gone->type(), T_none);
}

TEST_F(OwnershipTest, AnEntryLivesWhileItsSeriesIsHeldElsewhereAndKeepsItsOwnerAlive) {
    cell* obj = object_of({"f"}, {none_value});
    cell w = word_of("f");
    cell* a = load("x y");
    cell* b = load("z");
    node_id held = a->w2, dropped = b->w2, owner_ctx = obj->w1;
    owner::set(a, obj, &w);
    owner::set(b, obj, &w);
    *obj = *a;     // only the series of a stays reachable, not the owner object
    stack::pop(2);
    for (int i = 0; i < 3; i++) collector::collect();
    cell* o = owner::find(held);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->w1, owner_ctx);
    EXPECT_EQ(context::word_count(owner_ctx), 1u) << "the owner lives through its entry";
    EXPECT_TRUE(memory::buffer_of(held)->flags & SERIES_OWNED);
    EXPECT_EQ(owner::find(dropped), nullptr) << "an entry whose series died is dropped";
    stack::pop(1);
    collector::collect();
    EXPECT_EQ(owner::find(held), nullptr);
}

TEST_F(OwnershipTest, GrowingASeriesKeepsItsMark) {
    cell* blk = load("[1]");
    cell* obj = object_of({"f"}, {*blk});
    cell w = word_of("f");
    owner::set(blk, obj, &w);
    for (int i = 0; i < 100; i++) block::append_value(blk, blk);
    EXPECT_TRUE(marked(*blk));
    cell* c = block::push(blk);
    block::copy(c, nullptr, false, nullptr);
    EXPECT_FALSE(marked(*c)) << "a copy has no owner";
}

} // namespace
