// tests/unit/native_test.cpp: native!, action! and op! (making, reflecting, molding,
// comparing), the natives table with its stand-in entries and calling convention, and the
// library sources that bind the native and action words, under collection stress too.
#include <fstream>
#include <sstream>
#include <string>

#include "library_text.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/natives.h"
#include "runtime/extres.h"
#include "runtime/words.h"
#include "lexer_fixture.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

struct NativeTest : zyl::testing::LexerTest {
    void SetUp() override {
        LexerTest::SetUp();
        extres::init();
        words::build();
        words::build_refinements();
        actions::init();
        natives::init();
        for (uint32_t t = 1; t <= datatype::reg.highest; t++) {
            if (!datatype::reg.names[t].name) continue;
            cell w = word::load(datatype::reg.names[t].name);
            cell v = datatype::make_value(static_cast<uint8_t>(t));
            word::set_value(&w, &v);
        }
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.active = true; // ZYL_GC_STRESS collects at every allocation from here
    }
    void TearDown() override {
        collector::gc.active = false;
        words::sym = {};
        words::global = {};
        words::loaded = {};
        words::refs = {};
        extres::shutdown();
        LexerTest::TearDown();
    }

    // The first value that [text] loads to, kept on the stack.
    static cell* L(std::string_view text) {
        cell* b = load(text);
        *b = *block::cells_of(b->w2);
        return b;
    }

    // make [type] from the value [spec] loads to; the result stays on the stack.
    static cell* make(uint8_t type, std::string_view spec) {
        cell* proto = stack::push(&none_value);
        *proto = datatype::make_value(type);
        cell* s = L(spec);
        actions::make_typed(proto, s);
        stack::pop(1);
        return proto;
    }

    static cell* func(std::string_view spec_and_body) { return make(T_function, spec_and_body); }

    // The id of the script error that [body] raises, -1 for none or another category.
    template <typename F> static int32_t script_error(F body) {
        cell* saved = es.top;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        try {
            body();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            es.top = saved;
            return e.category == ids::cat_script ? e.id : -1;
        }
        stack::pop_frame();
        es.top = saved;
        return -1;
    }

    static int32_t compare(const cell* a, const cell* b, int32_t op = 0) {
        return datatype::action_as<actions::compare_fn>(a->type(), A_compare)(a, b, op);
    }

    static cell* reflect(cell* v, const char* field) {
        cell f = word::load(field);
        return actions::reflect_typed(v, &f);
    }

    static std::string form(const cell* v) {
        cell* buffer = string::push_new(16);
        actions::form_typed(v, buffer, nullptr, INT32_MAX);
        std::string s = string::to_std(buffer);
        stack::pop(1);
        return s;
    }
};

// {== Making natives and actions

TEST_F(NativeTest, MakeNativeTakesFilledEntriesWhoseParametersFitTheSpec) {
    struct { const char* spec; bool ok; } cases[] = {
        {"[[cond then-blk] 1]", true},
        {"[[\"doc\" cond [any-type!] then-blk [block!]] 1]", true},
        {"[[value /expand /args arg /next position /trace callback] 20]", true},
        {"[[spec body /extern] 15]", true},
        {"[[] 107]", false},                  // apply takes two arguments and two refinements
        {"[[func args /all /safer] 107]", true},
        {"[[cond] 1]", false},                // too few arguments: if would read past them
        {"[[cond then-blk else] 1]", false},
        {"[[value /expand /args /next position /trace callback] 20]", false}, // /args lost its argument
        {"[[spec body] 15]", false},          // /extern missing
        {"[[a b] 0]", false},
        {"[[a b] 108]", false},               // an empty slot of the table
        {"[[a b] 120]", false},
        {"[[a b] 121]", false},
        {"[[a b] -1]", false},
        {"[[cond then-blk]]", false},
        {"[[cond then-blk] 1 2]", false},
        {"[[cond then-blk] \"1\"]", false},
        {"[cond 1]", false},
        {"5", false},
    };
    for (auto& c : cases) {
        int32_t err = script_error([&] { make(T_native, c.spec); });
        EXPECT_EQ(err, c.ok ? -1 : ids::script_bad_make_arg) << c.spec;
    }
}

TEST_F(NativeTest, ANativeAddedPastTheRunTimesOwnIsMadeWithAnySpec) {
    EXPECT_EQ(script_error([] { make(T_native, "[[a] 108]"); }), ids::script_bad_make_arg);
    natives::native_info extra{"extra", natives::entry(1)};
    natives::register_native_table(1, &extra);
    EXPECT_EQ(natives::next_index(), 109u);
    EXPECT_EQ(script_error([] { make(T_native, "[[a] 108]"); }), -1);
    EXPECT_EQ(script_error([] { make(T_native, "[[a] 109]"); }), ids::script_bad_make_arg);
}

TEST_F(NativeTest, MakeActionTakesSlotsWithAStackEntry) {
    struct { const char* spec; bool ok; } cases[] = {
        {"[[type spec] 1]", true},
        {"[[d data /binary /lines /info /append /part n /seek i /allow a /as e] 62]", true},
        {"[[d data] 62]", false},
        {"[[a b] 63]", false},
        {"[[a b] 0]", false},
        {"[[value element /set v] 7]", true},
        {"[[a b] 8]", false}, // set-path has no entry
        {"[[a b] 9]", false}, // compare's entry takes an operator, not refinements
        {"[[series value /part n /only /dup c] 25]", true},
        {"[[series] 25]", false},
    };
    for (auto& c : cases) {
        int32_t err = script_error([&] { make(T_action, c.spec); });
        EXPECT_EQ(err, c.ok ? -1 : ids::script_bad_make_arg) << c.spec;
    }
}

TEST_F(NativeTest, ANativeHoldsItsIndexSpecAndContext) {
    cell* spec = L("[\"doc\" cond [any-type!] then-blk [block!]]");
    cell* arg = L("[x 2]"); // [spec 2]: unless
    block::cells_of(arg->w2)[0] = *spec;
    cell* proto = stack::push(&none_value);
    *proto = datatype::make_value(T_native);
    cell* n = actions::make_typed(proto, arg);
    EXPECT_EQ(n->type(), T_native);
    EXPECT_EQ(n->w1, 1u);           // native 2 at table index 1
    EXPECT_EQ(n->w2, spec->w2);     // the spec itself, not a copy
    const cell* s = block::cells_of(n->w3);
    ASSERT_EQ(series::length(n->w3), 2u);
    EXPECT_EQ(s[native::NV_CONTEXT].type(), T_context);
    EXPECT_EQ(s[native::NV_ARGS].type(), T_none);
    const cell& ctx = s[native::NV_CONTEXT];
    node_id words = (ctx.header & CTX_SMALL) ? ctx.w1 : hashtable::rec(ctx.w1)->data;
    ASSERT_EQ(series::length(words), 2u);
    EXPECT_STREQ(symbol::c_name(block::cells_of(words)[1].w2), "then-blk");
    collector::collect();
    EXPECT_EQ(mold(n), "make native! [[\"doc\" cond [any-type!] then-blk [block!]]]");
}

TEST_F(NativeTest, ASpecAfterItsHeadIsCopiedFromItsIndex) {
    cell* arg = L("[x 1]");
    cell* spec = L("[junk cond then-blk]");
    spec->w1 = 1;
    block::cells_of(arg->w2)[0] = *spec;
    cell* proto = stack::push(&none_value);
    *proto = datatype::make_value(T_native);
    cell* n = actions::make_typed(proto, arg);
    EXPECT_NE(n->w2, spec->w2);
    EXPECT_EQ(mold(n), "make native! [[cond then-blk]]");
}

// }==
// {== Reflect, form, mold, compare

TEST_F(NativeTest, ReflectGivesTheSpecOrTheTableNumber) {
    cell* a = make(T_action, "[[type spec] 1]");
    cell* n = make(T_native, "[[value1 value2] 25]");
    EXPECT_EQ(integer::get(reflect(stack::push(a), "body")), 1);
    EXPECT_EQ(integer::get(reflect(stack::push(n), "body")), 25);
    cell* spec = reflect(stack::push(n), "spec");
    EXPECT_EQ(spec->type(), T_block);
    EXPECT_EQ(spec->w2, n->w2);
    EXPECT_EQ(mold(spec), "[value1 value2]");
    EXPECT_EQ(script_error([&] { reflect(stack::push(n), "words"); }), -1); // internal, not script
    cell* probe = stack::push(n);
    cell f = word::load("words");
    EXPECT_TRUE(zyl::testing::raises(ids::cat_internal, ids::internal_not_done,
                                     [&] { actions::reflect_typed(probe, &f); }));
}

TEST_F(NativeTest, FormAndMold) {
    cell* n = make(T_native, "[[value1 value2] 25]");
    cell* a = make(T_action, "[[series value /part n /only /dup c] 25]");
    EXPECT_EQ(form(n), "?native?");
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(mold(a), "make action! [[series value /part n /only /dup c]]");
    cell* op = stack::push(&none_value);
    *op = datatype::make_value(T_op);
    actions::make_typed(op, n);
    EXPECT_EQ(form(op), "?op?");
    EXPECT_EQ(mold(op), "make op! [[value1 value2]]");
    cell* f = func("[[a b] [a + b]]");
    cell* fop = stack::push(&none_value);
    *fop = datatype::make_value(T_op);
    actions::make_typed(fop, f);
    EXPECT_EQ(mold(fop), "make op! func [a b][a + b]");
}

TEST_F(NativeTest, CompareOrdersByTableIndexWithinOneType) {
    cell* if1 = make(T_native, "[[c b] 1]");
    cell* if2 = make(T_native, "[[cond blk] 1]");
    cell* eq = make(T_native, "[[a b] 25]");
    cell* mk = make(T_action, "[[t s] 1]");
    EXPECT_EQ(compare(if1, if2), 0);
    EXPECT_LT(compare(if1, eq), 0);
    EXPECT_GT(compare(eq, if1), 0);
    EXPECT_EQ(compare(if1, mk), -2);   // a native and an action
    EXPECT_EQ(compare(if1, eq, 3), -2); // no order beyond equality
    auto op_of = [](cell* source) {
        cell* op = stack::push(&none_value);
        *op = datatype::make_value(T_op);
        return actions::make_typed(op, stack::push(source));
    };
    cell* op1 = op_of(eq);
    cell* op2 = op_of(eq);
    EXPECT_EQ(compare(op1, op2), 0);   // two ops of one native
    EXPECT_EQ(compare(op1, eq), -2);   // an op and its native
    cell* add = make(T_action, "[[a b] 11]");
    cell* of_native = op_of(if1);
    cell* of_action = op_of(mk);
    EXPECT_EQ(of_native->w1, of_action->w1);
    EXPECT_NE(compare(of_native, of_action), 0); // same index, different tables
    EXPECT_NE(compare(op_of(add), op1), 0);
}

// }==
// {== op!

TEST_F(NativeTest, CheckSpecWantsTwoArgumentsAndAPlainFirstOne) {
    struct { const char* spec; bool ok; } cases[] = {
        {"[a b /local c]", true},   {"[a b /ref]", false},     {"[:a b]", false},
        {"[a :b]", true},           {"['a b]", false},         {"[a 'b]", true},
        {"[a]", false},             {"[a b c]", false},        {"[a b return: [integer!]]", true},
        {"[\"doc\" a [integer!] \"a\" b]", true}, {"[a b /extern c]", true},
        {"[[trace] a b]", true},    {"[]", false},             {"[a /local b c]", false},
    };
    for (auto& c : cases) EXPECT_EQ(op::check_spec(L(c.spec)), c.ok) << c.spec;
}

TEST_F(NativeTest, MakeOpKeepsTheSourceAndRefusesOtherValues) {
    cell* f = func("[[a b] [a - b]]");
    cell* op = stack::push(&none_value);
    *op = datatype::make_value(T_op);
    actions::make_typed(op, f);
    EXPECT_EQ(op->type(), T_op);
    EXPECT_EQ(op::source_type(op), T_function);
    EXPECT_EQ(op->w1, f->w1);
    EXPECT_EQ(op->w3, f->w3);
    const cell* stored = function::series_cell(f, function::FN_OP);
    EXPECT_EQ(stored->type(), T_op);
    EXPECT_EQ(stored->w3, f->w3);
    cell* body = reflect(stack::push(op), "body");
    EXPECT_EQ(mold(body), "[a - b]");

    struct { const char* source; int32_t id; } cases[] = {
        {"5", ids::script_invalid_type},
        {"[a b]", ids::script_invalid_type},
    };
    for (auto& c : cases) {
        EXPECT_EQ(script_error([&] {
                      cell* o = stack::push(&none_value);
                      *o = datatype::make_value(T_op);
                      actions::make_typed(o, L(c.source));
                  }),
                  c.id)
            << c.source;
    }
    auto op_of = [](std::string_view spec_and_body) {
        cell* src = func(spec_and_body);
        cell* o = stack::push(&none_value);
        *o = datatype::make_value(T_op);
        actions::make_typed(o, src);
    };
    EXPECT_EQ(script_error([&] { op_of("[[a b /ref] []]"); }), ids::script_bad_op_spec);
    EXPECT_EQ(script_error([&] { op_of("[[:a b] []]"); }), ids::script_bad_op_spec);
    EXPECT_EQ(script_error([&] { op_of("[[a b /local c] []]"); }), -1);
    EXPECT_EQ(script_error([&] { op_of("[[a :b] []]"); }), -1);
    // An op of an op: the source must be a function of some kind itself.
    EXPECT_EQ(script_error([&] {
                  cell* o = stack::push(&none_value);
                  *o = datatype::make_value(T_op);
                  actions::make_typed(o, stack::push(op));
              }),
              ids::script_invalid_type);
}

TEST_F(NativeTest, AnOpOfARoutineKeepsItsArgumentCount) {
    cell* spec = L("[a [integer!] b [integer!]]");
    routine::make_value(spec, nullptr, 0, -1, 0);
    cell* r = stack::top();
    cell* op = stack::push(&none_value);
    *op = datatype::make_value(T_op);
    actions::make_typed(op, r);
    EXPECT_EQ(routine::header_count(op), 2u);
    EXPECT_EQ(op::source_type(op), T_routine);
    EXPECT_EQ(mold(op), "make op! [[a [integer!] b [integer!]]]");
}

// }==
// {== The natives table and its calling convention

TEST_F(NativeTest, TheTableKeepsTheFixedOrder) {
    struct { uint32_t n; const char* name; } cases[] = {
        {1, "if"},    {14, "func"},   {17, "has"},      {20, "do"},      {62, "NaN?"},
        {84, "debase"}, {91, "enbase"}, {97, "sign?"}, {100, "zero?"}, {101, "size?"},
        {107, "apply"},
    };
    for (auto& c : cases) EXPECT_STREQ(natives::name(c.n), c.name) << c.n;
    EXPECT_EQ(natives::next_index(), natives::COUNT + 1);
    EXPECT_EQ(natives::entry(0), nullptr);
    EXPECT_EQ(natives::entry(natives::COUNT + 1), nullptr);
    EXPECT_EQ(natives::entry(natives::CAPACITY + 1), nullptr);
    for (uint32_t n = 1; n <= natives::COUNT; n++) EXPECT_NE(natives::entry(n), nullptr) << n;
}

// The parameters the last call of the recording entry received.
int32_t seen[14];
int32_t seen_count;

void record12(int32_t c, int32_t a, int32_t b, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h, int32_t i,
              int32_t j, int32_t k, int32_t l, int32_t m) {
    int32_t v[] = {c, a, b, d, e, f, g, h, i, j, k, l, m};
    seen_count = 13;
    for (int n = 0; n < 13; n++) seen[n] = v[n];
}

void record2(int32_t a, int32_t b) {
    seen_count = 2;
    seen[0] = a;
    seen[1] = b;
}

TEST_F(NativeTest, CallPassesTheCheckFlagAndEachRefinementInOrder) {
    int32_t refs[12] = {-1, 0, 3, -1, 4, 5, -1, -1, 7, 8, 9, 10};
    natives::call(reinterpret_cast<natives::entry_fn>(&record12), true, 1, 12, refs);
    ASSERT_EQ(seen_count, 13);
    EXPECT_EQ(seen[0], 1);
    for (int i = 0; i < 12; i++) EXPECT_EQ(seen[i + 1], refs[i]) << i;
    natives::call(reinterpret_cast<natives::entry_fn>(&record2), false, 0, 2, refs + 1);
    ASSERT_EQ(seen_count, 2);
    EXPECT_EQ(seen[0], 0);
    EXPECT_EQ(seen[1], 3);
}

TEST_F(NativeTest, ANativeNotBuiltYetSaysSo) {
    cell* saved = es.top;
    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    std::string message;
    try {
        natives::not_yet_available("now");
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        EXPECT_EQ(e.category, ids::cat_user);
        EXPECT_EQ(e.id, ids::user_message);
        message = string::to_std(block::cells_of((es.top - 1)->w1));
    }
    es.top = saved;
    EXPECT_EQ(message, "now is not yet available");
}

// }==
// {== The library sources

// Walks the lines "word: make <type> [[spec] n]" of [text], checking each against the table.
template <typename F> uint32_t walk_source(const std::string& text, const char* type_name, F check) {
    cell* b = NativeTest::load(text);
    uint32_t lines = 0;
    for (uint32_t i = b->w1; i + 3 < series::length(b->w2); i += 4) {
        cell* c = block::cells_of(b->w2) + i;
        EXPECT_EQ(c[0].type(), T_set_word);
        EXPECT_EQ(c[1].type(), T_word);
        EXPECT_STREQ(symbol::c_name(c[2].w2), type_name);
        EXPECT_EQ(c[3].type(), T_block);
        cell line[2] = {c[0], c[3]};
        check(line);
        lines++;
    }
    stack::pop(1);
    return lines;
}

TEST_F(NativeTest, TheNativesSourceMakesEveryNativeAtItsNumber) {
    std::string text = library_source("natives.zyl");
    ASSERT_FALSE(text.empty());
    uint32_t expected = 1;
    uint32_t lines = walk_source(text, "native!", [&](cell* line) {
        cell* arg = stack::push(&line[1]);
        const cell* inside = block::cells_of(arg->w2) + arg->w1;
        ASSERT_EQ(inside[1].type(), T_integer);
        uint32_t n = uint32_t(integer::get(&inside[1]));
        EXPECT_EQ(n, expected++);
        EXPECT_STREQ(symbol::c_name(line[0].w2), natives::name(n));
        cell* proto = stack::push(&none_value);
        *proto = datatype::make_value(T_native);
        EXPECT_EQ(script_error([&] { actions::make_typed(proto, arg); }), -1) << natives::name(n);
        stack::pop(2);
    });
    EXPECT_EQ(lines, natives::COUNT);
}

TEST_F(NativeTest, TheActionsSourceMakesEveryActionWithAWordAtItsSlot) {
    static const char* const words[] = {
#define ZYL_ACTION(slot, ident, word) word,
#include "datatypes/actions.inc"
#undef ZYL_ACTION
    };
    std::string text = library_source("actions.zyl");
    ASSERT_FALSE(text.empty());
    uint32_t last = 0;
    uint32_t lines = walk_source(text, "action!", [&](cell* line) {
        cell* arg = stack::push(&line[1]);
        const cell* inside = block::cells_of(arg->w2) + arg->w1;
        ASSERT_EQ(inside[1].type(), T_integer);
        uint32_t slot = uint32_t(integer::get(&inside[1]));
        EXPECT_GT(slot, last);
        last = slot;
        EXPECT_STREQ(symbol::c_name(line[0].w2), words[slot - 1]);
        cell* proto = stack::push(&none_value);
        *proto = datatype::make_value(T_action);
        EXPECT_EQ(script_error([&] { actions::make_typed(proto, arg); }), -1) << words[slot - 1];
        EXPECT_EQ(proto->type(), T_action);
        stack::pop(2);
    });
    EXPECT_EQ(lines, ACTION_SLOTS - 3); // eval-path, set-path and compare have no word
}

// }==

} // namespace
