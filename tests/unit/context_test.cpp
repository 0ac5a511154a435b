// tests/unit/context_test.cpp: contexts: the global context and its shared alias slots,
// growth, function contexts on the evaluation stack, object contexts and their changed-marks
// and on-change* hook point, making contexts from specs, cloning, and binding (self-containing
// blocks included), under collection stress too.
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
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

struct ContextTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        words::build();
    }
    void TearDown() override {
        collector::gc.active = false;
        mm.stress_every = 0;
        context::fire_on_change = nullptr;
        context::forget_global();
        words::sym = {};
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

node_id global() { return context::global(); }

cell int_value(int32_t n) { return integer::make_value(n); }

int32_t read_int(const cell* w) { return integer::get(word::get_value(w)); }

// A word! of [name] bound to nothing yet (context 0, index -1).
cell loose(const char* name, uint8_t type = T_word) {
    return word::make_value(type, 0, symbol::make(name), word::NO_INDEX);
}

// [prefix] followed by the digits of [i].
std::string numbered(const char* prefix, int32_t i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%d", prefix, i);
    return buffer;
}

// A block! holding [values].
cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size() + 1);
    for (const cell& v : values) series::append_value(n, v);
    return cell{T_block, 0, n, 0};
}

cell* cell_at(const cell& blk, uint32_t i) {
    return reinterpret_cast<cell*>(memory::buffer_of(blk.w2)->head) + i;
}

// Whether every value slot of plain context [ctx] belongs to one word-list entry.
bool in_step(node_id ctx) {
    return series::length(context::cell_of(ctx)->w2) == context::word_count(ctx);
}

TEST_F(ContextTest, CaseVariantsShareTheirGlobalSlot) {
    uint32_t print = symbol::make("print"), upper = symbol::make("PRINT"),
             title = symbol::make("Print");
    EXPECT_NE(print, upper);
    EXPECT_NE(upper, title);
    EXPECT_EQ(symbol::resolve(upper), print);
    EXPECT_EQ(symbol::resolve(title), print);
    EXPECT_EQ(symbol::make("PRINT"), upper);

    cell foo_title = word::load("Foo");
    cell seven = int_value(7);
    word::set_value(&foo_title, &seven);
    cell foo = word::load("foo");
    EXPECT_EQ(read_int(&foo), 7);
    EXPECT_EQ(foo.w3, foo_title.w3);
    EXPECT_EQ(foo.w2, symbol::make("foo")); // the caller's spelling
    cell eight = int_value(8);
    word::set_value(&foo, &eight);
    EXPECT_EQ(read_int(&foo_title), 8);
    EXPECT_TRUE(in_step(global()));
}

TEST_F(ContextTest, AnAliasAddedExactlyGetsAnEntryAndAValueOfItsOwnButTheCanonicalSlot) {
    cell first = word::load("bar");
    uint32_t words_before = context::word_count(global());
    cell upper = word::make_global(symbol::make("BAR")); // exact search: not found, added
    EXPECT_EQ(context::word_count(global()), words_before + 1);
    EXPECT_TRUE(in_step(global()));
    EXPECT_EQ(upper.w3, first.w3);
    EXPECT_EQ(upper.w2, symbol::make("BAR"));
    EXPECT_EQ(word::make_global(symbol::make("BAR")).w3, first.w3); // found exactly now
    cell v = int_value(3);
    word::set_value(&upper, &v);
    EXPECT_EQ(read_int(&first), 3);
    cell found = context::find_or_global(global(), symbol::make("BAR"));
    EXPECT_EQ(found.w3, first.w3);
}

TEST_F(ContextTest, TheGlobalContextGrowsPastItsFirstRoom) {
    uint32_t start = context::word_count(global());
    std::vector<cell> ws;
    for (int32_t i = 0; i < 5000; i++) {
        ws.push_back(word::load(numbered("g", i).c_str()));
        cell v = int_value(i);
        word::set_value(&ws.back(), &v);
    }
    EXPECT_EQ(context::word_count(global()), start + 5000);
    EXPECT_TRUE(in_step(global()));
    for (int32_t i = 0; i < 5000; i += 499) EXPECT_EQ(read_int(&ws[i]), i);
    EXPECT_EQ(word::load("g4321").w3, ws[4321].w3);
}

TEST_F(ContextTest, ReadingWordsRaisesTheBindingErrors) {
    cell w = word::load("nothing-yet");
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value, [&] { word::push_value(&w); }));
    EXPECT_EQ(word::push_value_unchecked(&w)->type(), T_unset);

    cell unbound = loose("zork");
    EXPECT_TRUE(
        raises(error::cat_script, error::script_not_defined, [&] { word::get_value(&unbound); }));
    cell one = int_value(1);
    EXPECT_TRUE(raises(error::cat_script, error::script_not_defined,
                       [&] { word::set_value(&unbound, &one); }));

    cell not_looked_up = word::make_value(T_word, global(), symbol::make("zork"), word::NO_INDEX);
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value,
                       [&] { word::get_value(&not_looked_up); }));
}

TEST_F(ContextTest, SettingAWordNotLookedUpAddsItAndCachesItsIndex) {
    node_id ctx = context::make(4, false, false, 0, context::KIND_PLAIN);
    collector::keep_node k_ctx{&ctx};
    cell w = word::make_value(T_word, ctx, symbol::make("fresh"), word::NO_INDEX);
    cell v = int_value(42);
    context::set_word_value(&w, &v, ctx, true);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(context::word_count(ctx), 1u);
    EXPECT_EQ(read_int(&w), 42);
    EXPECT_TRUE(in_step(ctx));
}

TEST_F(ContextTest, FunctionContextsReadTheirArgumentsFromTheStackOnlyWhileRunning) {
    cell spec = block({loose("a"), loose("b"), loose("ref", T_refinement), loose("c"),
                       loose("return", T_set_word), block({loose("integer!")}),
                       cell{T_string, 0, series::alloc_bytes(4), 0}, loose("A")});
    node_id ctx = context::make_from_spec(&spec, true, false, context::KIND_FUNCTION);
    collector::keep_node k_ctx{&ctx};
    ASSERT_EQ(context::word_count(ctx), 4u); // a b ref c: A is a, the rest is not a word
    EXPECT_TRUE(context::on_stack(ctx));
    EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);
    EXPECT_EQ(context::cell_of(ctx)->w2, 0u);
    EXPECT_EQ(context::find_word(ctx, symbol::make("c"), false), 3);

    cell body = block({loose("c"), block({loose("a")}), loose("zz")});
    context::bind(&body, ctx, false);
    cell c = *cell_at(body, 0);
    cell a = *cell_at(*cell_at(body, 1), 0);
    EXPECT_EQ(c.w1, ctx);
    EXPECT_EQ(a.w3, 0u);
    EXPECT_EQ(cell_at(body, 2)->w1, 0u); // not a word of ctx: left alone

    cell name = word::load("f");
    stack::mark_func_context(&name, ctx);
    for (int32_t i = 1; i <= 4; i++) {
        cell arg = int_value(i * 10);
        stack::push(&arg);
    }
    stack::mark_func(&name, ctx);
    EXPECT_EQ(read_int(&c), 40);
    EXPECT_EQ(read_int(&a), 10);
    cell v = int_value(5);
    context::set_word_value(&a, &v, ctx, true);
    EXPECT_EQ(read_int(&a), 5);
    stack::unwind();
    stack::unwind_func();

    EXPECT_EQ(context::cell_of(ctx)->w2, 0u);
    EXPECT_TRUE(
        raises(error::cat_script, error::script_not_in_context, [&] { word::get_value(&c); }));
    EXPECT_TRUE(
        raises(error::cat_script, error::script_not_defined, [&] { word::set_value(&c, &v); }));
    EXPECT_EQ(context::word_count(ctx), 4u); // nothing was added to the stopped context
}

TEST_F(ContextTest, ObjectSlotsAreMarkedChangedAndFireTheHookWithTheOldValue) {
    node_id ctx = context::make(2, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    EXPECT_NE(context::cell_of(ctx)->header & CTX_OBJECT, 0u);
    cell x = loose("x");
    cell one = int_value(1), two = int_value(2);
    context::add_word_value(ctx, &x, &one);
    context::add_word_value(ctx, &x, &two); // present: unchanged
    cell w = word::make_value(T_word, ctx, x.w2, 0);
    EXPECT_EQ(read_int(&w), 1);
    EXPECT_EQ(context::word_at(ctx, 0)->header & WORD_CHANGED, 0u);

    static int fired;
    static int32_t seen_old, seen_new;
    fired = 0;
    context::fire_on_change = [](const cell*, const cell*, const cell* old, cell* slot) {
        fired++;
        seen_old = integer::get(old);
        seen_new = integer::get(slot);
    };
    word::set_value(&w, &two); // owner unset: no hook
    EXPECT_NE(context::word_at(ctx, 0)->header & WORD_CHANGED, 0u);
    EXPECT_EQ(fired, 0);

    *context::owner_of(ctx) = cell{T_object, ctx, 0, 0}; // an object without on-set record
    word::set_value(&w, &one);
    EXPECT_EQ(fired, 0);
    context::owner_of(ctx)->w3 = series::alloc_cells(2); // with one
    cell* top = es.top;
    cell three = int_value(3);
    word::set_value(&w, &three);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(seen_old, 1);
    EXPECT_EQ(seen_new, 3);
    EXPECT_EQ(es.top, top);
    context::set_word_value(&w, &two, ctx, false); // no fire flag
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(read_int(&w), 2);
}

TEST_F(ContextTest, SelfReadsTheOwnerCell) {
    node_id ctx = context::make(1, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    *context::owner_of(ctx) = cell{T_object, ctx, 0, 0};
    cell body = block({word::load("self"), word::load("Self"), loose("self", T_set_word)});
    context::bind(&body, ctx, true);
    cell self = *cell_at(body, 0);
    EXPECT_EQ(self.w1, ctx);
    EXPECT_EQ(self.w3, word::NO_INDEX);
    EXPECT_EQ(word::get_value(&self)->type(), T_object);
    EXPECT_EQ(cell_at(body, 1)->w1, ctx); // every case variant is rebound
    EXPECT_EQ(cell_at(body, 1)->w3, word::NO_INDEX);
    EXPECT_EQ(cell_at(body, 2)->w1, 0u); // but only a word!
}

TEST_F(ContextTest, BindingABlockThatContainsItselfEnds) {
    node_id ctx = context::make(2, false, false, 0, context::KIND_PLAIN);
    collector::keep_node k_ctx{&ctx};
    cell a = loose("a"), b = loose("b");
    context::add_word(ctx, &a);
    context::add_word(ctx, &b);
    cell outer = block({loose("a")});
    cell inner = block({loose("b"), loose("B", T_get_word)});
    series::append_value(inner.w2, outer); // inner holds outer, outer holds inner
    cell paren = inner;
    paren.header = T_paren;
    series::append_value(outer.w2, paren);
    series::append_value(outer.w2, outer); // and itself
    context::bind(&outer, ctx, false);
    EXPECT_EQ(cycles::cs.top, 0u);
    EXPECT_EQ(cell_at(outer, 0)->w1, ctx);
    EXPECT_EQ(cell_at(inner, 0)->w3, 1u);
    EXPECT_EQ(cell_at(inner, 1)->w1, ctx); // any case
}

TEST_F(ContextTest, BindingStartsAtTheBlockIndexAndSkipsIssues) {
    node_id ctx = context::make(1, false, false, 0, context::KIND_PLAIN);
    collector::keep_node k_ctx{&ctx};
    cell a = loose("a");
    context::add_word(ctx, &a);
    cell blk = block({loose("a"), loose("a"), loose("a", T_issue)});
    blk.w1 = 1;
    context::bind(&blk, ctx, false);
    EXPECT_EQ(cell_at(blk, 0)->w1, 0u);
    EXPECT_EQ(cell_at(blk, 1)->w1, ctx);
    EXPECT_EQ(cell_at(blk, 2)->w1, 0u);
    blk.w1 = 99; // past the tail: nothing to bind
    context::bind(&blk, ctx, false);
}

TEST_F(ContextTest, SetWordsAreCollectedOnce) {
    node_id ctx = context::make(0, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    cell body = block({loose("a", T_set_word), int_value(1), loose("b", T_set_word),
                       loose("A", T_set_word), loose("c")});
    EXPECT_TRUE(context::collect_set_words(ctx, &body));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_TRUE(in_step(ctx));
    EXPECT_FALSE(context::collect_set_words(ctx, &body));
}

TEST_F(ContextTest, ACloneHasTheSameWordsRepointedAndUnsetValues) {
    node_id ctx = context::make(2, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    cell x = loose("x"), y = loose("y"), v = int_value(9);
    context::set_or_add(ctx, &x, &v);
    context::set_or_add(ctx, &y, &v);
    context::set_or_add(ctx, &x, &v);
    ASSERT_EQ(context::word_count(ctx), 2u);
    cell object{T_object, ctx, 0, 0};
    node_id copy = context::clone(&object, context::KIND_OBJECT);
    collector::keep_node k_copy{&copy};
    EXPECT_EQ(object.w1, copy);
    EXPECT_EQ(context::word_count(copy), 2u);
    EXPECT_TRUE(in_step(copy));
    EXPECT_EQ(context::word_at(copy, 1)->w1, copy);
    EXPECT_EQ(context::word_at(copy, 1)->w2, y.w2);
    EXPECT_EQ(context::value_at(copy, 0)->type(), T_unset);
    EXPECT_EQ(integer::get(context::value_at(ctx, 0)), 9);
    EXPECT_NE(context::cell_of(copy)->header & CTX_OBJECT, 0u);
    EXPECT_EQ(context::find_word(copy, symbol::make("Y"), true), 1);
    EXPECT_EQ(context::find_word(copy, symbol::make("Y"), false), -1);
}

TEST_F(ContextTest, AContextFindsItsWordsTheSameBeforeAndAfterItOutgrowsItsWordList) {
    collector::gc.active = true;
    mm.stress_every = 1; // the word list and the table it gets may move at every allocation
    node_id ctx = context::make(1, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    EXPECT_NE(context::cell_of(ctx)->header & CTX_SMALL, 0u);
    const int32_t n = 3 * context::SMALL_WORDS;
    for (int32_t i = 0; i < n; i++) {
        cell w = loose(numbered("w", i).c_str());
        EXPECT_EQ(context::add_word(ctx, &w), i);
        EXPECT_EQ(context::add_word(ctx, &w), i); // found, not added again
        ASSERT_TRUE(in_step(ctx));
        for (int32_t j = 0; j <= i; j += 3) { // every word so far, any case and exactly
            EXPECT_EQ(context::find_word(ctx, symbol::make(numbered("W", j).c_str()), true), j);
            EXPECT_EQ(context::find_word(ctx, symbol::make(numbered("w", j).c_str()), false), j);
        }
        EXPECT_EQ(context::find_word(ctx, symbol::make("absent"), true), -1);
    }
    EXPECT_EQ(context::cell_of(ctx)->header & CTX_SMALL, 0u);
    collector::collect();
    EXPECT_EQ(context::find_word(ctx, symbol::make("w23"), true), 23);

    // A small context's copy stays small and repointed; an exact case variant is a word of
    // its own, and any case finds the first spelling.
    node_id few = context::make(2, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_few{&few};
    cell a = loose("ab"), b = loose("AB");
    context::add_word(few, &a);
    int32_t index = -1;
    EXPECT_EQ(context::search_symbol(few, b.w2, false, &index), -1);
    EXPECT_EQ(index, 1);
    cell object{T_object, few, 0, 0};
    node_id copy = context::clone(&object, context::KIND_OBJECT);
    EXPECT_NE(context::cell_of(copy)->header & CTX_SMALL, 0u);
    EXPECT_EQ(context::word_at(copy, 1)->w1, copy);
    EXPECT_EQ(context::find_word(copy, b.w2, false), 1);
    EXPECT_EQ(context::find_word(copy, b.w2, true), 0);
}

TEST_F(ContextTest, ValueSlotsByIndex) {
    node_id ctx = context::make(2, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    cell x = loose("x"), y = loose("y");
    context::add_word(ctx, &x);
    context::add_word(ctx, &y);
    cell five = int_value(5), six = int_value(6);
    stack::push(&five);
    context::set_value_from_top(ctx, 1);
    EXPECT_EQ(integer::get(context::value_at(ctx, 1)), 5);
    EXPECT_NE(context::word_at(ctx, 1)->header & WORD_CHANGED, 0u);
    stack::push(&six);
    context::set_value_keep_old(ctx, 1);
    EXPECT_EQ(integer::get(stack::top()), 5);
    EXPECT_EQ(integer::get(context::value_at(ctx, 1)), 6);
    EXPECT_EQ(integer::get(context::push_value_at(ctx, 1)), 6);
    cell w = word::make_value(T_word, ctx, x.w2, word::NO_INDEX);
    context::set_integer(ctx, &w, 12);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(integer::get(context::find_value(ctx, &x)), 12);
    cell z = loose("z");
    EXPECT_EQ(context::find_value(ctx, &z), nullptr);
    EXPECT_TRUE(raises(error::cat_script, error::script_not_defined,
                       [&] { context::set_integer(ctx, &z, 1); }));

    cell g = word::load("gv");
    cell seven = int_value(7);
    word::set_value(&g, &seven);
    EXPECT_EQ(integer::get(context::global_value(symbol::make("GV"))), 7);
    cell out;
    context::copy_global_value(symbol::make("gv"), &out);
    EXPECT_EQ(integer::get(&out), 7);
    context::copy_global_value(symbol::make("brand-new"), &out);
    EXPECT_EQ(out.type(), T_unset);
    EXPECT_GE(context::find_word(global(), symbol::make("brand-new"), false), 0);
}

TEST_F(ContextTest, ContextsSurviveCollectionsWhileTheyAreBuiltAndUsed) {
    collector::gc.active = true;
    mm.stress_every = 1;
    std::vector<cell> ws;
    for (int32_t i = 0; i < 300; i++) {
        std::string name = numbered("s", i);
        ws.push_back(word::load(name.c_str()));
        cell* text = string::push_new(8);
        string::concatenate_literal(text, name);
        word::set_value(&ws.back(), text);
        stack::pop(1);
    }
    cell spec = block({loose("p"), loose("q")});
    stack::push(&spec); // kept by the stack while the context is made
    node_id ctx = context::make_from_spec(&spec, false, true, context::KIND_OBJECT);
    collector::keep_node k_ctx{&ctx};
    collector::collect();
    EXPECT_EQ(context::word_count(ctx), 2u);
    for (int32_t i = 0; i < 300; i += 37) {
        cell* v = word::get_value(&ws[i]);
        EXPECT_EQ(string::to_std(v), numbered("s", i));
    }
}

} // namespace
