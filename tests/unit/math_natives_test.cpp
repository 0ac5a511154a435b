// tests/unit/math_natives_test.cpp: the fast paths (inline integer, float and block cases,
// their fallbacks through a named frame, the stack they leave), the comparison, math and set
// natives called as compiled code calls them (check flag 1) and without checks, and the set
// natives run from source under collection stress.
#include <cmath>
#include <string>
#include <string_view>

#include "library_text.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/fast_paths.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "library/routine_registry.h"
#include "runtime/extres.h"
#include "runtime/words.h"
#include "lexer_fixture.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

// {== Fixture

// The run-time with the actions, natives and operators made from their library sources.
struct MathTest : zyl::testing::LexerTest {
    void SetUp() override {
        LexerTest::SetUp();
        extres::init();
        words::build();
        words::build_refinements();
        words::build_issue();
        actions::init();
        natives::init();
        stack::create(symbol::make("<body>"), symbol::make("<anon>"));
        interp::init();
        for (uint32_t t = 1; t <= datatype::reg.highest; t++) {
            if (!datatype::reg.names[t].name) continue;
            cell v = datatype::make_value(static_cast<uint8_t>(t));
            set_global(datatype::reg.names[t].name, &v);
        }
        for (const auto& e : typeset::standard::table) set_global(e.name, &e.value);
        set_global("true", &true_value);
        set_global("false", &false_value);
        set_global("none", &none_value);
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        error::init_system();
        collector::gc.active = true; // ZYL_GC_STRESS collects at every allocation from here
        make_make();
        routine_registry::install_maker(); // the base source declares the global routines
        // The actions, the natives and the operators; the rest of the library needs more.
        for (const char* name : {"actions.zyl", "natives.zyl", "base.zyl"})
            ASSERT_EQ(run(library_source(name)).rfind("error", 0), std::string::npos) << name;
    }
    void TearDown() override {
        collector::gc.active = false;
        error::forget_system();
        words::sym = {};
        words::global = {};
        words::loaded = {};
        words::refs = {};
        extres::shutdown();
        LexerTest::TearDown();
    }

    static void set_global(const char* name, const cell* v) {
        cell w = word::load(name);
        word::set_value(&w, v);
    }

    static void make_make() {
        cell* spec = load(R"(["A new value" type [any-type!] spec [any-type!]] 1)");
        cell* proto = stack::push(&unset_value);
        *proto = datatype::make_value(T_action);
        cell made = *actions::make_typed(proto, spec);
        set_global("make", &made);
        stack::pop(2);
    }

    static std::string mold_value(const cell* v) {
        cell value = *v; // [v] may lie in a buffer that push_new moves
        cell* buffer = string::push_new(16);
        actions::mold_typed(&value, buffer, false, false, true, nullptr, 1 << 30, 0);
        std::string s = string::to_std(buffer);
        stack::pop(1);
        return s;
    }

    // Evaluates [text]; the molded result, or "error <category> <id>".
    static std::string run(std::string_view text) {
        cell* blk = load(text);
        cell* saved_top = es.top;
        call_frame* saved_frames = es.ftop;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        std::string out;
        try {
            interp::eval_block(blk, false);
            out = mold_value(es.top - 1);
            stack::unwind();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            out = "error " + std::to_string(e.category) + " " + std::to_string(e.id);
        }
        EXPECT_EQ(es.ftop, saved_frames) << text;
        es.top = saved_top;
        stack::pop(1);
        return out;
    }

    static std::string err(int32_t cat, int32_t id) {
        return "error " + std::to_string(cat) + " " + std::to_string(id);
    }

    // The first value [text] loads to, pushed.
    static cell* value(std::string_view text) {
        cell* blk = load(text);
        *blk = *block::cells_of(blk->w2);
        return blk;
    }

    // Runs [body] under a try frame named [name]; the error it raised, or "none". Checks that
    // both stacks come back to where they were.
    template <typename F> static std::string raised(F body) {
        cell* top = es.top;
        call_frame* ftop = es.ftop;
        cell w = word::load("test");
        stack::mark_try(&w);
        std::string out = "none";
        try {
            body();
            stack::pop_frame();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            out = err(e.category, e.id);
            last_where = mold_value(error::field(es.top - 1, error::F_WHERE));
        }
        EXPECT_EQ(es.ftop, ftop);
        es.top = top;
        return out;
    }
    static inline std::string last_where;
};

// Balance of one fast path call: it pushes exactly one cell, and no frame is left behind.
struct balance {
    cell* top = es.top;
    call_frame* ftop = es.ftop;
    void pushed_one() const {
        EXPECT_EQ(es.top, top + 1);
        EXPECT_EQ(es.ftop, ftop);
    }
    void pushed_none() const {
        EXPECT_EQ(es.top, top);
        EXPECT_EQ(es.ftop, ftop);
    }
};

// }==
// {== Arithmetic fast paths

TEST_F(MathTest, ArithmeticOnIntegersPromotesToFloatOnOverflow) {
    struct row {
        int32_t op, a, b;
        const char* want;
    } rows[] = {
        {0, 2147483647, 1, "2147483648.0"},  {1, -2147483647 - 1, 1, "-2147483649.0"},
        {2, 65536, 65536, "4294967296.0"},   {2, -65536, 32768, "-2147483648"},
        {0, 2, 3, "5"},                      {1, 2, 3, "-1"},
        {5, 12, 10, "14"},                   {6, 12, 10, "8"},
        {7, 12, 10, "6"},                    {0, -2147483647 - 1, -1, "-2147483649.0"},
    };
    cell name = word::load("plus");
    for (const row& r : rows) {
        cell a = integer::make_value(r.a), b = integer::make_value(r.b);
        balance bal;
        EXPECT_EQ(mold_value(actions::fast_arith(r.op, &name, &a, &b)), r.want) << r.op << " " << r.a;
        bal.pushed_one();
        stack::pop(1);
        EXPECT_EQ(mold_value(actions::fast_arith_int(r.op, &name, &a, r.b)), r.want);
        stack::pop(1);
        // The on-stack forms replace the last pushed cell.
        stack::push(&a);
        balance on;
        actions::fast_arith_int_on_stack(r.op, &name, r.b);
        on.pushed_none();
        EXPECT_EQ(mold_value(stack::top()), r.want);
        stack::pop(1);
    }
}

TEST_F(MathTest, ArithmeticFallsBackToTheActionForOtherTypes) {
    cell name = word::load("plus");
    cell one = integer::make_value(1), half = float_::make_value(2.5), big = float_::make_value(1e300);
    balance bal;
    EXPECT_EQ(mold_value(actions::fast_arith(0, &name, &one, &half)), "3.5");
    bal.pushed_one();
    stack::pop(1);
    EXPECT_EQ(mold_value(actions::fast_arith(2, &name, &big, &big)), "1.#INF");
    stack::pop(1);
    cell* pair = value("3x4");
    balance on;
    actions::fast_arith_on_stack(0, &name, &one);
    on.pushed_none();
    EXPECT_EQ(mold_value(pair), "4x5");
    // Or on two floats has no inline case: float! has no or~ entry.
    EXPECT_EQ(raised([&] { actions::fast_arith(5, &name, &half, &half); }), err(ids::cat_script, ids::script_expect_arg));
    cell* text = value("\"a\"");
    EXPECT_NE(raised([&] { actions::fast_arith(0, &name, &one, text); }), "none");
    EXPECT_EQ(last_where, "plus"); // the report names the operation the caller gave
}

// }==
// {== Comparison fast paths

TEST_F(MathTest, IntegerComparisonAgreesWithTheCompareAction) {
    const int32_t values[] = {-2147483647 - 1, -1, 0, 1, 2147483647};
    cell name = word::load("cmp");
    for (int32_t op = 0; op <= 6; op++) {
        for (int32_t x : values) {
            for (int32_t y : values) {
                cell a = integer::make_value(x), b = integer::make_value(y);
                bool want = actions::compare(&a, &b, op);
                EXPECT_EQ(actions::fast_compare_truth(op, &name, &a, &b), want) << op << " " << x << " " << y;
                EXPECT_EQ(actions::fast_compare_int_truth(op, &name, &a, y), want);
                EXPECT_EQ(actions::fast_compare_cond(op, &name, &a, &b, true), !want);
                EXPECT_EQ(actions::fast_compare_int_cond(op, &name, &a, y, false), want);
            }
        }
    }
}

TEST_F(MathTest, MixedComparisonAgreesWithTheNatives) {
    const char* natives[] = {"equal?", "not-equal?", "strict-equal?", "lesser?", "lesser-or-equal?",
                             "greater?", "greater-or-equal?"};
    const char* pairs[][2] = {{"1", "1.0"}, {"1", "1.5"}, {"2", "1.5"}, {"1.0", "1"}, {"0", "-0.0"},
                              {"1", "1.#NaN"}, {"3", "300%"}, {"#\"a\"", "97"}, {"1.5", "1.5"}};
    cell name = word::load("cmp");
    for (int32_t op = 0; op <= 6; op++) {
        for (const auto& p : pairs) {
            std::string want = run(std::string(natives[op]) + " " + p[0] + " " + p[1]);
            cell* a = value(p[0]);
            cell* b = value(p[1]);
            balance bal;
            EXPECT_EQ(mold_value(actions::fast_compare(op, &name, a, b)), want) << natives[op] << " " << p[0] << " " << p[1];
            bal.pushed_one();
            stack::pop(1);
            EXPECT_EQ(actions::fast_compare_truth(op, &name, a, b) ? "true" : "false", want);
            // On the stack: the left operand's cell becomes the answer.
            stack::push(a);
            balance on;
            actions::fast_compare_on_stack(op, &name, b);
            on.pushed_none();
            EXPECT_EQ(mold_value(stack::top()), want);
            stack::pop(3);
        }
    }
}

TEST_F(MathTest, ComparisonFallbackRaisesInTheNamedFrame) {
    cell name = word::load("less");
    cell one = integer::make_value(1);
    cell* text = value("\"a\"");
    EXPECT_EQ(raised([&] { actions::fast_compare(3, &name, &one, text); }),
              err(ids::cat_script, ids::script_invalid_compare));
    EXPECT_EQ(last_where, "less");
    stack::push(&one);
    actions::fast_compare_int_on_stack(5, &name, 0);
    EXPECT_EQ(mold_value(stack::top()), "true"); // 1 > 0: the value is on the left
    stack::pop(1);
    // Equality of unlike values is false, not an error.
    EXPECT_FALSE(actions::fast_compare_truth(0, &name, &one, text));
    EXPECT_TRUE(actions::fast_compare_truth(1, &name, &one, text));
}

TEST_F(MathTest, UnknownOpCodesEndTheProcess) {
    cell one = integer::make_value(1), half = float_::make_value(0.5);
    EXPECT_EXIT(actions::fast_compare_truth(9, nullptr, &one, &one), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(actions::fast_compare_truth(7, nullptr, &one, &half), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(actions::fast_arith(3, nullptr, &one, &one), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(actions::fast_series_op(&one, 9, nullptr), ::testing::ExitedWithCode(101), "");
}

// }==
// {== Block fast paths

TEST_F(MathTest, PickFromABlockAndThroughEvalPath) {
    cell* blk = value("[10 20 30]");
    blk->w1 = 1; // at 20
    struct row {
        int32_t index;
        const char* want;
    } rows[] = {{1, "20"}, {2, "30"}, {3, "none"}, {0, "none"}, {-1, "none"}};
    for (const row& r : rows) {
        balance bal;
        EXPECT_EQ(mold_value(actions::fast_path_pick(blk, r.index, nullptr)), r.want) << r.index;
        bal.pushed_one();
        stack::pop(1);
    }
    cell* text = value("\"abc\"");
    cell name = word::load("pick");
    EXPECT_EQ(mold_value(actions::fast_path_pick(text, 2, &name)), "#\"b\"");
    stack::pop(1);
    EXPECT_EQ(mold_value(actions::fast_path_pick(text, 9, &name)), "none");
}

TEST_F(MathTest, SeriesOpsOnBlocksAtEveryPosition) {
    // Index 0, 2, 3 (the tail) and 5 (past the tail) of a block of three values.
    const uint32_t at[] = {0, 2, 3, 5};
    const char* want[][8] = {
        {"3", "1", "true", "false", "[b c]", "[a b c]", "[a b c]", "[]"},
        {"1", "3", "false", "false", "[]", "[b c]", "[a b c]", "[]"},
        {"0", "4", "false", "true", "[]", "[c]", "[a b c]", "[]"},
        {"0", "6", "false", "true", "[]", "[]", "[a b c]", "[]"},
    };
    cell* blk = value("[a b c]");
    for (int i = 0; i < 4; i++) {
        blk->w1 = at[i];
        for (int32_t op = 1; op <= 8; op++) {
            balance bal;
            cell* r = actions::fast_series_op(blk, op, nullptr);
            bal.pushed_one();
            EXPECT_EQ(mold_value(r), want[i][op - 1]) << "index " << at[i] << " op " << op;
            stack::pop(1);
        }
    }
    // next at the tail and back at the head keep the index.
    blk->w1 = 3;
    EXPECT_EQ(actions::fast_series_op(blk, actions::SOP_NEXT, nullptr)->w1, 3u);
    blk->w1 = 0;
    EXPECT_EQ(actions::fast_series_op(blk, actions::SOP_BACK, nullptr)->w1, 0u);
    EXPECT_EQ(actions::fast_series_op(blk, actions::SOP_TAIL, nullptr)->w1, 3u);
}

TEST_F(MathTest, SeriesOpsOnOtherTypesRunTheAction) {
    cell* text = value("\"abc\"");
    text->w1 = 1;
    cell name = word::load("step");
    const char* want[] = {"2", "2", "false", "false", "\"c\"", "\"abc\"", "\"abc\"", "\"\""};
    for (int32_t op = 1; op <= 8; op++) {
        balance bal;
        EXPECT_EQ(mold_value(actions::fast_series_op(text, op, &name)), want[op - 1]) << op;
        bal.pushed_one();
        stack::pop(1);
    }
    cell one = integer::make_value(1);
    EXPECT_EQ(raised([&] { actions::fast_series_op(&one, actions::SOP_NEXT, &name); }),
              err(ids::cat_script, ids::script_expect_arg));
}

// }==
// {== Natives called directly

// Calls native [n] on [args] (loaded and pushed in a frame of its own) with [check] and the
// refinement positions [refs]; answers cell 0 molded.
std::string call_native(uint32_t n, std::string_view args, int32_t check, std::initializer_list<int32_t> refs) {
    cell w = word::load(natives::name(n));
    cell* blk = MathTest::load(args);
    uint32_t count = block::rs_length_q(blk);
    stack::mark_native(&w);
    for (uint32_t i = 0; i < count; i++) stack::push(block::cells_of(blk->w2) + i);
    natives::call(natives::entry(n), true, check, uint32_t(refs.size()), refs.begin());
    std::string s = MathTest::mold_value(es.base);
    stack::pop_frame();
    stack::pop(1);
    return s;
}

TEST_F(MathTest, CheckedCallsRefuseWrongTypesBeforeAnyEffect) {
    struct row {
        uint32_t n;
        const char* args;
        std::initializer_list<int32_t> refs;
    } bad[] = {
        {53, "\"a\" 1", {-1, -1}},           // shift
        {55, "\"90\"", {-1}},                // sine
        {41, "1 [a]", {-1, -1}},             // union
        {41, "[a] [b] \"2\"", {-1, 2}},      // union/skip with a text size
        {100, "\"a\"", {}},                  // zero?
        {51, "none 1", {}},                  // max
        {46, "1", {}},                       // complement?
    };
    for (const row& r : bad) {
        EXPECT_EQ(raised([&] { call_native(r.n, r.args, 1, r.refs); }), err(ids::cat_script, ids::script_expect_arg))
            << natives::name(r.n) << " " << r.args;
    }
    EXPECT_EQ(call_native(53, "-8 1", 1, {-1, 0}), "2147483644");
    EXPECT_EQ(call_native(41, "[a 1 b 2] [a 3 c 4] 2", 1, {-1, 2}), "[a 1 b 2 c 4]");
    EXPECT_EQ(call_native(56, "60", 1, {-1}), "0.5000000000000001");
}

TEST_F(MathTest, UncheckedCallsOfUnlistedTypes) {
    // zero? answers false for any other type; the others refuse it.
    EXPECT_EQ(call_native(100, "\"a\"", 0, {}), "false");
    EXPECT_EQ(raised([&] { call_native(97, "\"a\"", 0, {}); }), err(ids::cat_script, ids::script_expect_arg));
    EXPECT_EQ(raised([&] { call_native(55, "\"a\"", 0, {-1}); }), err(ids::cat_script, ids::script_expect_arg));
    EXPECT_EQ(raised([&] { call_native(46, "1", 0, {}); }), err(ids::cat_script, ids::script_expect_arg));
    EXPECT_EQ(raised([&] { call_native(83, "1 [a 1]", 0, {-1}); }), err(ids::cat_script, ids::script_expect_arg));
    EXPECT_EQ(raised([&] { call_native(41, "%a %b", 0, {-1, -1}); }), err(ids::cat_script, ids::script_expect_arg));
}

// }==
// {== Set natives from source (they allocate: run under collection stress too)

TEST_F(MathTest, SetOperations) {
    struct row {
        const char* src;
        const char* want;
    } rows[] = {
        {"union [a b c] [c d e]", "[a b c d e]"},
        {"intersect [a b c] [c d e]", "[c]"},
        {"difference [1 2 3] [2 3 4]", "[1 4]"},
        {"exclude [1 2 3] [2 3 4]", "[1]"},
        {"unique [a b a c b]", "[a b c]"},
        {"unique/case [a A a]", "[a A]"},
        {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
        {"intersect/skip [a 1 b 2] [b 9] 2", "[b 2]"},
        {"b: next [x y z] union b [w]", "[y z w]"},
        {"union \"abc\" \"bcd\"", "\"abcd\""},
        {"difference \"abc\" \"ABD\"", "\"cD\""},
        {"difference/case \"abc\" \"ABD\"", "\"abcABD\""},
        {"exclude \"abcd\" \"bd\"", "\"ac\""},
        {"union make bitset! \"a\" make bitset! \"b\"", "make bitset! #{00000000000000000000000060}"},
        {"exclude make bitset! \"ab\" make bitset! \"b\"", "make bitset! #{00000000000000000000000040}"},
        {"complement? complement make bitset! \"a\"", "true"},
        {"union make typeset! [integer!] make typeset! [block!]", "make typeset! [block! integer!]"},
        {"exclude number! make typeset! [integer!]", "make typeset! [float! percent!]"},
    };
    for (const row& r : rows) EXPECT_EQ(run(r.src), r.want) << r.src;
    EXPECT_EQ(run("union \"a\" %b"), err(ids::cat_script, ids::script_expect_val));
    EXPECT_EQ(run("union make bitset! \"a\" \"b\""), err(ids::cat_script, ids::script_expect_val));
    EXPECT_EQ(run("union %a %b"), err(ids::cat_script, ids::script_expect_arg));
    EXPECT_EQ(run("extend make object! [a: 1] [b 2]"), err(ids::cat_internal, ids::internal_not_done));
}

// }==

} // namespace
