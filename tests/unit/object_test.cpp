// tests/unit/object_test.cpp: object!: make from blocks and prototypes (class ids, changed
// marks), construct, copies whose methods see the copy, paths with their two flags, select,
// put, reflect, form and mold with their exact layouts and cycles, compare, and the change
// hooks: on-change* after every assignment and on-deep-change* around in-place changes of
// owned series.
#include <string>
#include <string_view>
#include <utility>

#include "library_text.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
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

struct ObjectTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        datatype::make_words();
        words::build();
        words::build_refinements();
        lexer::init();
        interp::init();
        for (auto [name, value] :
             {std::pair{"none", none_value}, {"true", true_value}, {"false", false_value}})
            set_global(name, value);
        error::init_system();        // raised errors are objects, as the collector expects
        collector::gc.active = true; // stress collections run from here on
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

    // `make [proto] [spec text]`: the object, pushed. A null [proto] makes from object!.
    static cell* make(std::string_view spec, const cell* proto = nullptr) {
        cell* result = stack::push_slot();
        *result = proto ? *proto : datatype::make_value(T_object);
        cell* body = load(spec);
        object::make(result, body, T_object);
        stack::pop(1);
        return result;
    }

    // A function! value made from the texts of its [spec] and [body] blocks, pushed.
    static cell* func(std::string_view spec, std::string_view body) {
        cell* s = load(spec);
        cell* b = load(body);
        cell sc = *s, bc = *b;
        function::make_value(&sc, &bc, 0, -1, -1, 0);
        stack::move_top_down();
        stack::move_top_down();
        return stack::top();
    }

    // Adds the field [name] holding [value] to [obj], then attaches its hooks again.
    static void add_field(cell* obj, const char* name, const cell* value) {
        cell w = word::load(name);
        context::set_or_add(obj->w1, &w, value);
        object::attach_hooks(obj);
    }

    static void set_global(const char* name, const cell& value) {
        cell w = word::load(name);
        context::set_value(&w, &value);
    }

    static cell global(const char* name) {
        cell w = word::load(name);
        return *word::get_value(&w);
    }

    static cell field(const cell* obj, const char* name) {
        cell w = word::load(name);
        return *object::get_word_value(obj, &w);
    }

    static int32_t int_field(const cell* obj, const char* name) {
        cell v = field(obj, name);
        EXPECT_EQ(v.type(), T_integer) << name;
        return integer::get(&v);
    }

    // Sets field [name] of [obj] as a set-word does: marks it and fires on-change*.
    static void assign(const cell* obj, const char* name, const cell* value) {
        cell w = word::load(name);
        w.w1 = obj->w1;
        w.w3 = word::NO_INDEX;
        context::set_value(&w, value);
    }

    static std::string mold(const cell* v, bool only = false, bool all = false, bool flat = false) {
        cell* out = string::push_new(16);
        cell value = *v;
        actions::mold_typed(&value, out, only, all, flat, nullptr, INT32_MAX, 0);
        std::string s = string::to_std(out);
        stack::pop(1);
        return s;
    }

    static std::string form(const cell* v) {
        cell* out = string::push_new(16);
        cell value = *v;
        actions::form_typed(&value, out, nullptr, INT32_MAX);
        std::string s = string::to_std(out);
        stack::pop(1);
        return s;
    }

    static std::string name_of(const cell& w) { return symbol::c_name(w.w2); }
    static int32_t int_of(const cell& v) {
        return v.type() == T_integer ? integer::get(&v) : INT32_MIN;
    }
};

cell int_value(int32_t n) { return integer::make_value(n); }

cell* cells(const cell* blk) { return block::cells_of(blk->w2) + blk->w1; }
cell* cells(const cell& blk) { return cells(&blk); }

// {== make, class ids and changed-marks

TEST_F(ObjectTest, MakeEvaluatesTheSpecInTheNewObject) {
    cell* obj = make("a: 1 b: a c: self");
    EXPECT_EQ(obj->type(), T_object);
    EXPECT_EQ(int_field(obj, "a"), 1);
    EXPECT_EQ(int_field(obj, "b"), 1);
    cell c = field(obj, "c");
    EXPECT_EQ(c.type(), T_object);
    EXPECT_EQ(c.w1, obj->w1) << "self reads the object itself";
    EXPECT_EQ(object::field_count(obj), 3u);
    EXPECT_EQ(context::owner_of(obj->w1)->w1, obj->w1);
}

TEST_F(ObjectTest, ClassIdsFollowThePrototypeUnlessWordsAreAdded) {
    cell* proto = make("a: 1 b: 2");
    cell* other = make("a: 1 b: 2");
    EXPECT_NE(proto->w2, other->w2) << "every make from object! is a new class";
    cell* same = make("a: 5", proto);
    EXPECT_EQ(same->w2, proto->w2);
    EXPECT_EQ(int_field(same, "a"), 5);
    EXPECT_EQ(int_field(same, "b"), 2);
    EXPECT_EQ(int_field(proto, "a"), 1) << "the prototype is not changed";
    cell* more = make("c: 3", proto);
    EXPECT_NE(more->w2, proto->w2);
    EXPECT_EQ(object::field_count(more), 3u);
    // From an object spec: the same rule.
    cell* keeps = stack::push(proto);
    object::make(keeps, same, T_object);
    EXPECT_EQ(keeps->w2, proto->w2);
    cell* adds = stack::push(proto);
    object::make(adds, more, T_object);
    EXPECT_NE(adds->w2, proto->w2);
    EXPECT_EQ(int_field(adds, "c"), 3);
}

TEST_F(ObjectTest, MakeCopiesThePrototypesSeriesAndBindsThemToTheNewObject) {
    cell* proto = make("a: 1 code: [a] text: \"hi\"");
    cell* made = make("a: 2", proto);
    cell code = field(made, "code"), text = field(made, "text");
    EXPECT_NE(code.w2, field(proto, "code").w2);
    EXPECT_NE(text.w2, field(proto, "text").w2);
    EXPECT_EQ(cells(code)[0].w1, made->w1) << "the copied block reads the new object's a";
    EXPECT_EQ(cells(field(proto, "code"))[0].w1, proto->w1);
}

TEST_F(ObjectTest, MakeWithABadSpecRaisesMalconstruct) {
    EXPECT_TRUE(raises(error::cat_syntax, error::syntax_malconstruct, [] {
        cell* proto = stack::push_slot();
        *proto = datatype::make_value(T_object);
        cell spec = int_value(3);
        object::make(proto, &spec, T_object);
    }));
}

TEST_F(ObjectTest, ChangedMarksAreSetByAssignmentsAndClearedByMakeAndModify) {
    cell* obj = make("a: 1 b: 2 c: 3");
    cell* changed = stack::push(obj);
    cell field_word = words::loaded.changed;
    object::reflect(changed, &field_word);
    EXPECT_EQ(block::rs_length_q(changed), 0u) << "make clears every mark";
    cell two = int_value(2);
    assign(obj, "b", &two); // the same value still marks it
    cell* after = stack::push(obj);
    object::reflect(after, &field_word);
    ASSERT_EQ(block::rs_length_q(after), 1u);
    EXPECT_EQ(name_of(cells(after)[0]), "b");
    EXPECT_EQ(cells(after)->type(), T_word);
    cell* target = stack::push(obj);
    cell none = none_value;
    object::modify(target, &field_word, &none, false);
    cell* cleared = stack::push(obj);
    object::reflect(cleared, &field_word);
    EXPECT_EQ(block::rs_length_q(cleared), 0u);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [&] {
        cell one = int_value(1);
        object::modify(target, &field_word, &one, false);
    }));
}

TEST_F(ObjectTest, MakeClearsTheNewLineMarksOfTheValues) {
    cell* obj = make("a: 1\nb:\n[x]");
    EXPECT_FALSE(field(obj, "b").header & CELL_NEW_LINE);
}

// }==
// {== construct

TEST_F(ObjectTest, ConstructTakesTheValueAfterARunOfSetWords) {
    cell* spec = load("a: b: yes c: none d: 'x e:");
    cell* obj = object::push_new(spec, nullptr, false);
    EXPECT_EQ(field(obj, "a").type(), T_logic);
    EXPECT_EQ(field(obj, "a").w1, 1u);
    EXPECT_EQ(field(obj, "b").w1, 1u);
    EXPECT_EQ(field(obj, "c").type(), T_none);
    EXPECT_EQ(field(obj, "d").type(), T_lit_word) << "values are not evaluated";
    EXPECT_EQ(field(obj, "e").type(), T_none) << "a run at the end gets none";
    cell* only = object::push_new(spec, nullptr, true);
    cell a = field(only, "a"), c = field(only, "c");
    EXPECT_EQ(a.type(), T_word);
    EXPECT_EQ(name_of(a), "yes");
    EXPECT_EQ(field(only, "b").type(), T_word);
    EXPECT_EQ(name_of(c), "none");
    EXPECT_NE(obj->w2, only->w2);
}

TEST_F(ObjectTest, ConstructFromAPrototypeCopiesIt) {
    cell* proto = make("a: 1 b: 2");
    cell* spec = load("b: off");
    cell* obj = object::push_new(spec, proto, false);
    EXPECT_NE(obj->w1, proto->w1);
    EXPECT_EQ(obj->w2, proto->w2);
    EXPECT_EQ(int_field(obj, "a"), 1);
    EXPECT_EQ(field(obj, "b").type(), T_logic);
    EXPECT_EQ(int_field(proto, "b"), 2);
}

// }==
// {== copy

TEST_F(ObjectTest, CopySharesSeriesAndCopyDeepCopiesThem) {
    cell* obj = make("s: \"x\" b: [1]");
    cell* shallow = stack::push(obj);
    object::copy(shallow, nullptr, false, nullptr);
    EXPECT_NE(shallow->w1, obj->w1);
    EXPECT_EQ(shallow->w2, obj->w2) << "a copy keeps the class";
    EXPECT_EQ(field(shallow, "s").w2, field(obj, "s").w2);
    cell* deep = stack::push(obj);
    object::copy(deep, nullptr, true, nullptr);
    EXPECT_NE(field(deep, "s").w2, field(obj, "s").w2);
    EXPECT_NE(field(deep, "b").w2, field(obj, "b").w2);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_refine_arg, [&] {
        cell part = int_value(1);
        cell* v = stack::push(obj);
        object::copy(v, &part, false, nullptr);
    }));
}

TEST_F(ObjectTest, MethodsOfACopySeeTheCopysFields) {
    cell* proto = make("a: 1");
    add_field(proto, "get-a", func("", "a"));
    add_field(proto, "self-a", func("", "self/a"));
    cell* obj = make("a: 2", proto); // its methods are re-made for it
    cell* copied = stack::push(obj);
    object::copy(copied, nullptr, false, nullptr);
    cell three = int_value(3);
    assign(copied, "a", &three);
    for (const char* method : {"get-a", "self-a"}) {
        cell m1 = field(obj, method), m2 = field(copied, method);
        EXPECT_NE(m1.w3, m2.w3) << "the method is re-made";
        cell* r1 = interp::call_with(&m1, nullptr, 0);
        ASSERT_NE(r1, nullptr);
        EXPECT_EQ(int_of(*r1), 2) << method;
        cell* r2 = interp::call_with(&m2, nullptr, 0);
        ASSERT_NE(r2, nullptr);
        EXPECT_EQ(int_of(*r2), 3) << method;
    }
}

TEST_F(ObjectTest, CopyTypesOverACycleRaisesNoCycle) {
    cell* obj = make("me: none");
    assign(obj, "me", obj);
    EXPECT_TRUE(raises(error::cat_internal, error::internal_no_cycle, [&] {
        cell types = datatype::make_value(T_object);
        cell* v = stack::push(obj);
        object::copy(v, nullptr, true, &types);
    }));
    EXPECT_EQ(cycles::cs.top, 0u);
}

// }==
// {== Paths, select, put

TEST_F(ObjectTest, PathStepsGetAndSetFields) {
    cell* obj = make("a: 1 u: none");
    actions::path_step step{nullptr, nullptr, nullptr, 1, false, true, false};
    cell a = word::load("A"); // any case
    cell* v = stack::push(obj);
    object::eval_path(v, &a, nullptr, step);
    EXPECT_EQ(integer::get(v), 1);
    cell seven = int_value(7);
    cell* s = stack::push(obj);
    cell* r = object::eval_path(s, &a, &seven, step);
    EXPECT_EQ(integer::get(r), 7);
    EXPECT_EQ(int_field(obj, "a"), 7);
    EXPECT_TRUE(object::value_at(obj->w1, 0)->header & WORD_CHANGED);
}

TEST_F(ObjectTest, PathStepsOnAbsentFieldsFollowTheTwoFlags) {
    cell* obj = make("a: 1");
    cell* path = load("o/zz");
    actions::path_step step{path, nullptr, nullptr, 1, false, true, false};
    cell zz = word::load("zz");
    EXPECT_TRUE(raises(error::cat_script, error::script_unset_path,
                       [&] { object::eval_path(stack::push(obj), &zz, nullptr, step); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_unset_path, [&] {
        object::eval_path_flags(stack::push(obj), &zz, nullptr, step, true, false);
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] {
        object::eval_path_flags(stack::push(obj), &zz, nullptr, step, false, true);
    }));
    cell* v = stack::push(obj);
    object::eval_path_flags(v, &zz, nullptr, step, true, true);
    EXPECT_EQ(v->type(), T_unset);
    cell one = int_value(1);
    EXPECT_TRUE(raises(error::cat_script, error::script_unset_path, [&] {
        object::eval_path(stack::push(obj), &zz, &one, step);
    })) << "a path cannot add a field";
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] {
        cell self = cell{T_word, 0, words::sym.self, word::NO_INDEX};
        object::eval_path(stack::push(obj), &self, &one, step);
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] {
        cell key = int_value(1);
        object::eval_path(stack::push(obj), &key, nullptr, step);
    }));
}

TEST_F(ObjectTest, SelectAndPutTakeWordKeys) {
    cell* obj = make("a: 1");
    cell a = word::load("a"), zz = word::load("zz");
    cell* v = stack::push(obj);
    object::select(v, &a, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(integer::get(v), 1);
    cell* none = stack::push(obj);
    object::select(none, &zz, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(none->type(), T_none);
    cell nine = int_value(9);
    cell* p = stack::push(obj);
    object::put(p, &a, &nine, false);
    EXPECT_EQ(int_field(obj, "a"), 9);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [&] {
        cell key = int_value(1);
        object::select(stack::push(obj), &key, nullptr, false, false, false, false, nullptr,
                       nullptr, false, false);
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_key_type, [&] {
        cell key = int_value(1);
        object::put(stack::push(obj), &key, &nine, false);
    }));
}

// }==
// {== reflect

TEST_F(ObjectTest, ReflectAnswersEveryField) {
    cell* obj = make("a: 1 w: 'x p: 'q/r");
    auto reflect = [&](const cell& field) {
        cell* v = stack::push(obj);
        return object::reflect(v, &field);
    };
    cell* ws = reflect(word::make_value(T_word, 0, words::sym.words, word::NO_INDEX));
    ASSERT_EQ(block::rs_length_q(ws), 3u);
    EXPECT_EQ(cells(ws)[0].w1, obj->w1) << "words are bound to the object";
    cell* vs = reflect(word::make_value(T_word, 0, words::sym.values, word::NO_INDEX));
    ASSERT_EQ(block::rs_length_q(vs), 3u);
    EXPECT_EQ(integer::get(cells(vs)), 1);
    cell* body = reflect(word::make_value(T_word, 0, words::sym.body, word::NO_INDEX));
    ASSERT_EQ(block::rs_length_q(body), 6u);
    EXPECT_EQ(cells(body)[0].type(), T_set_word);
    EXPECT_TRUE(cells(body)[0].header & CELL_NEW_LINE);
    EXPECT_EQ(cells(body)[3].type(), T_lit_word);
    EXPECT_EQ(cells(body)[5].type(), T_lit_path);
    cell* cls = reflect(word::make_value(T_word, 0, words::sym.class_, word::NO_INDEX));
    EXPECT_EQ(uint32_t(integer::get(cls)), obj->w2);
    cell* own = reflect(word::make_value(T_word, 0, words::sym.owner, word::NO_INDEX));
    EXPECT_EQ(own->type(), T_logic);
    EXPECT_EQ(own->w1, 0u);
    cell* events = reflect(word::make_value(T_word, 0, words::sym.events_q, word::NO_INDEX));
    EXPECT_EQ(events->w1, 0u);
    EXPECT_TRUE(raises(error::cat_internal, error::internal_not_done, [&] {
        reflect(word::make_value(T_word, 0, words::sym.spec, word::NO_INDEX));
    }));
}

// }==
// {== form and mold

TEST_F(ObjectTest, MoldAndFormWriteTheExactLayouts) {
    cell* obj = make("a: 1 s: \"x\" w: 'foo");
    EXPECT_EQ(mold(obj), "make object! [\n    a: 1\n    s: \"x\"\n    w: 'foo\n]");
    EXPECT_EQ(form(obj), "a: 1\ns: \"x\"\nw: 'foo");
    EXPECT_EQ(mold(obj, true), "a: 1\ns: \"x\"\nw: 'foo");
    EXPECT_EQ(mold(obj, false, false, true), "make object! [a: 1 s: \"x\" w: 'foo]");
    cell* empty = make("");
    EXPECT_EQ(mold(empty), "make object! [\n]");
    EXPECT_EQ(form(empty), "");
}

TEST_F(ObjectTest, NestedObjectsIndentByLevel) {
    cell* outer = make("a: 1 o: none");
    cell* inner = make("x: 2");
    assign(outer, "o", inner);
    EXPECT_EQ(mold(outer),
              "make object! [\n    a: 1\n    o: make object! [\n        x: 2\n    ]\n]");
}

TEST_F(ObjectTest, HookFieldsAreMoldedOnlyWithAll) {
    cell* obj = make("a: 1");
    add_field(obj, "on-change*", func("word old new", ""));
    EXPECT_EQ(mold(obj), "make object! [\n    a: 1\n]");
    EXPECT_NE(mold(obj, false, true).find("on-change*: func"), std::string::npos);
}

TEST_F(ObjectTest, ASelfContainingObjectMoldsItsMarker) {
    cell* obj = make("a: 1 me: none");
    assign(obj, "me", obj);
    EXPECT_EQ(mold(obj), "make object! [\n    a: 1\n    me: make object! [...]\n]");
    EXPECT_EQ(form(obj), "a: 1\nme: make object! [...]");
    cell* blk = load("[x]");
    cell inner = cells(blk)[0];
    block::append_value(&inner, obj);
    assign(obj, "me", &inner);
    EXPECT_EQ(mold(obj), "make object! [\n    a: 1\n    me: [x make object! [...]]\n]");
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(ObjectTest, MoldStopsAtThePartLimit) {
    cell* obj = make("a: 1 b: 2 c: 3");
    cell* out = string::push_new(16);
    cell part = int_value(20);
    int32_t left = object::mold(obj, out, false, false, false, &part, 20, 0);
    EXPECT_LE(left, 0);
    EXPECT_EQ(string::to_std(out), "make object! [\n    a: 1\n]")
        << "no field after the budget is spent";
}

// }==
// {== compare

TEST_F(ObjectTest, CompareOrdersByWordCountThenFields) {
    cell* a = make("x: 1 y: \"s\"");
    cell* b = make("x: 1 y: \"s\"");
    cell* c = make("x: 1 y: \"t\"");
    cell* d = make("x: 1 y: \"s\" z: 0");
    EXPECT_EQ(object::compare(a, b, 0), 0);
    EXPECT_EQ(object::compare(a, a, 9), 0);
    EXPECT_EQ(object::compare(a, b, 9), -1);
    EXPECT_NE(object::compare(a, c, 0), 0);
    EXPECT_EQ(object::compare(d, a, 0), 1);
    EXPECT_EQ(object::compare(a, d, 0), -1);
    cell n = int_value(1);
    EXPECT_EQ(object::compare(a, &n, 0), -2);
    cell* e = make("y: 1 x: \"s\"");
    EXPECT_NE(object::compare(a, e, 0), 0) << "words compare in order";
}

TEST_F(ObjectTest, SelfContainingObjectsCompareWithoutLooping) {
    cell* a = make("me: none");
    cell* b = make("me: none");
    assign(a, "me", a);
    assign(b, "me", b);
    EXPECT_EQ(object::compare(a, b, 0), 0);
    EXPECT_EQ(cycles::cs.top, 0u);
}

// }==
// {== set on an object

TEST_F(ObjectTest, SetFromBlocksObjectsAndValues) {
    cell* obj = make("a: 1 b: 2 c: 3");
    cell* blk = load("10 20");
    object::set_from(obj, blk, false, false, false);
    EXPECT_EQ(int_field(obj, "a"), 10);
    EXPECT_EQ(int_field(obj, "b"), 20);
    EXPECT_EQ(int_field(obj, "c"), 3) << "fields past the block keep their values";
    cell* src = make("c: 30 zz: 0");
    object::set_from(obj, src, false, false, false);
    EXPECT_EQ(int_field(obj, "c"), 30);
    EXPECT_EQ(int_field(obj, "a"), 10);
    cell* some_src = make("a: none b: 5");
    object::set_from(obj, some_src, false, false, true);
    EXPECT_EQ(int_field(obj, "a"), 10) << "/some keeps a field whose source is none";
    EXPECT_EQ(int_field(obj, "b"), 5);
    cell eight = int_value(8);
    object::set_from(obj, &eight, false, false, false);
    EXPECT_EQ(int_field(obj, "a"), 8);
    EXPECT_EQ(int_field(obj, "c"), 8);
    object::set_from(obj, blk, false, true, false);
    EXPECT_EQ(field(obj, "b").type(), T_block) << "/only sets the block itself";
    EXPECT_TRUE(raises(error::cat_script, error::script_need_value, [&] {
        cell* unset_src = make("a: 1");
        assign(unset_src, "a", &unset_value);
        object::set_from(obj, unset_src, false, false, false);
    }));
}

// }==
// {== on-change*

// The hook bodies write globals that the tests read back.

TEST_F(ObjectTest, OnChangeFiresAfterEveryAssignmentEvenOfTheSameValue) {
    cell* obj = make("a: 1");
    cell* hook = func("word old new /local x y",
                      "seen-word: word seen-old: old seen-new: new seen-local: local "
                      "seen-x: x");
    add_field(obj, "on-change*", hook);
    EXPECT_NE(obj->w3, 0u);
    cell two = int_value(2);
    assign(obj, "a", &two);
    EXPECT_EQ(name_of(global("seen-word")), "a");
    EXPECT_EQ(int_of(global("seen-old")), 1);
    EXPECT_EQ(int_of(global("seen-new")), 2);
    EXPECT_EQ(global("seen-local").type(), T_logic) << "the /local slot is false";
    EXPECT_EQ(global("seen-x").type(), T_none);
    cell zero = int_value(0);
    cell w = word::load("seen-old");
    context::set_value(&w, &zero);
    assign(obj, "a", &two);
    EXPECT_EQ(int_of(global("seen-old")), 2) << "the same value fires again";
    EXPECT_EQ(int_field(obj, "a"), 2);
}

TEST_F(ObjectTest, PathAssignmentsFireOnChange) {
    cell* obj = make("a: 1");
    add_field(obj, "on-change*", func("word old new", "seen-new: new"));
    actions::path_step step{nullptr, nullptr, nullptr, 1, false, true, false};
    cell a = word::load("a"), five = int_value(5);
    object::eval_path(stack::push(obj), &a, &five, step);
    EXPECT_EQ(int_of(global("seen-new")), 5);
}

TEST_F(ObjectTest, HookFieldsMustHoldFunctions) {
    EXPECT_TRUE(
        raises(error::cat_script, error::script_bad_field_set, [] { make("on-change*: 1"); }));
    cell* obj = make("a: 1");
    add_field(obj, "on-change*", func("word old new", ""));
    cell one = int_value(1);
    // The field is ordinary: its own change fires the hook, which is no function any more.
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_obj_evt,
                       [&] { assign(obj, "on-change*", &one); }));
    EXPECT_TRUE(
        raises(error::cat_script, error::script_invalid_obj_evt, [&] { assign(obj, "a", &one); }));
}

// }==
// {== on-deep-change*

TEST_F(ObjectTest, OnDeepChangeHearsAppendBeforeAndAfter) {
    cell* obj = make("blk: [1 2] other: 0");
    cell* hook = func(
        "owner word target action new index part",
        "deep-prev: deep-last deep-last: action deep-word: word deep-new: new deep-index: index "
        "deep-part: part deep-owner: owner");
    add_field(obj, "on-deep-change*", hook);
    set_global("deep-last", none_value);
    cell* events = stack::push(obj);
    cell events_field = word::make_value(T_word, 0, words::sym.events_q, word::NO_INDEX);
    object::reflect(events, &events_field);
    EXPECT_EQ(events->w1, 1u);
    cell* own = stack::push(obj);
    cell owner_field = word::make_value(T_word, 0, words::sym.owner, word::NO_INDEX);
    object::reflect(own, &owner_field);
    EXPECT_EQ(own->w1, 1u) << "an object with on-deep-change* owns its series";
    cell* blk = stack::push_slot();
    *blk = field(obj, "blk");
    cell three = int_value(3);
    block::insert(blk, &three, -1, false, 1, true);
    EXPECT_EQ(name_of(global("deep-prev")), "append");
    EXPECT_EQ(name_of(global("deep-last")), "appended");
    EXPECT_EQ(name_of(global("deep-word")), "blk");
    EXPECT_EQ(int_of(global("deep-new")), 3);
    EXPECT_EQ(int_of(global("deep-index")), 2);
    EXPECT_EQ(int_of(global("deep-part")), 1);
    EXPECT_EQ(global("deep-owner").w1, obj->w1);
    cell now = field(obj, "blk");
    EXPECT_EQ(block::rs_length_q(&now), 3u);
}

TEST_F(ObjectTest, OnDeepChangeHearsChangesOfNestedSeries) {
    cell* obj = make("blk: [[a] \"s\"]");
    add_field(
        obj, "on-deep-change*",
        func("owner word target action new index part", "deep-last: action deep-target: target"));
    cell* inner = stack::push_slot();
    *inner = cells(field(obj, "blk"))[0];
    series::clear(inner);
    EXPECT_EQ(name_of(global("deep-last")), "cleared");
    EXPECT_EQ(global("deep-target").w2, inner->w2);
    cell* text = stack::push_slot();
    *text = cells(field(obj, "blk"))[1];
    cell t = string::from_utf8(stack::push_slot(), "t")[0];
    string::append(text, &t, -1, false, 1, true);
    EXPECT_EQ(name_of(global("deep-last")), "appended");
}

// }==

// {== Evaluated sources
//
// The few library words these tests use are defined from the library's own lines.

struct ObjectEvalTest : ObjectTest {
    void SetUp() override {
        ObjectTest::SetUp();
        actions::init();
        natives::init();
        for (uint32_t t = 1; t <= datatype::reg.highest; t++)
            if (const char* name = datatype::reg.names[t].name)
                set_global(name, datatype::make_value(static_cast<uint8_t>(t)));
        cell* make_line = load(library_line("make"));
        cell* proto = stack::push_slot();
        *proto = datatype::make_value(T_action);
        cell* spec = stack::push(&cells(make_line)[3]);
        set_global("make", *actions::make_typed(proto, spec));
        for (const char* name : {"func", "clear", "copy", "modify"}) eval(library_line(name));
    }

    // The line of the library sources that defines [name].
    static std::string library_line(const char* name) {
        std::string prefix = std::string("\n") + name + ": make ";
        for (const char* file : {"actions.zyl", "natives.zyl"}) {
            std::string text = library_source(file);
            size_t at = text.find(prefix);
            if (at == std::string_view::npos) continue;
            size_t end = text.find('\n', at + 1);
            return std::string(text.substr(at + 1, end - at - 1));
        }
        ADD_FAILURE() << "no definition of " << name;
        return "";
    }

    // Evaluates [text]; answers its value, pushed.
    static cell* eval(std::string_view text) {
        cell* block = load(text);
        interp::eval_block(block, false);
        stack::move_top_down();
        return stack::top();
    }
};

TEST_F(ObjectEvalTest, NestedObjectsAndMethodsFromSource) {
    cell* obj = eval("make object! [a: 1 o: make object! [x: 2] get-a: func [] [a]]");
    EXPECT_EQ(mold(obj), "make object! [\n    a: 1\n    o: make object! [\n        x: 2\n    ]\n"
                         "    get-a: func [][a]\n]");
    set_global("obj", *obj);
    cell* copied = eval("make obj [a: 5]");
    EXPECT_EQ(copied->w2, obj->w2) << "re-setting a word keeps the class";
    cell m = field(copied, "get-a");
    cell* r = interp::call_with(&m, nullptr, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(int_of(*r), 5) << "the method of the new object reads its own field";
    cell* plain = eval("copy obj");
    EXPECT_EQ(plain->w2, obj->w2);
}

TEST_F(ObjectEvalTest, ASetWordInTheSpecFiresThePrototypesOnChange) {
    cell* proto = eval("make object! [a: 1 on-change*: func [word old new] [seen-new: new]]");
    set_global("proto", *proto);
    eval("make proto [a: 7]");
    EXPECT_EQ(int_of(global("seen-new")), 7);
}

TEST_F(ObjectEvalTest, AHookThatChangesTheSeriesBeforeTheChangeIsRefused) {
    // The hook lets the block go first, so that clearing it tells nobody.
    cell* obj =
        eval("make object! [blk: [1 2] on-deep-change*: func [owner word target action new index "
             "part] [modify target 'owned none clear target]]");
    cell* blk = stack::push_slot();
    *blk = field(obj, "blk");
    cell three = int_value(3);
    EXPECT_TRUE(raises(error::cat_script, error::script_protected,
                       [&] { block::insert(blk, &three, -1, false, 1, true); }));
    cell now = field(obj, "blk");
    EXPECT_EQ(block::rs_length_q(&now), 0u)
        << "the hook's own change stays; the append does not happen";
}

// }==

} // namespace
