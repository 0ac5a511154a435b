// tests/unit/control_test.cpp: the control natives run from source: conditionals, loops and
// their frames, break/continue/return/throw and their targets, errors unwinding to try, do,
// reduce and compose; and that every way out leaves both stacks where they were.
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/natives_control.h"
#include "lexer/lexer.h"
#include "runtime/extres.h"
#include "runtime/ownership.h"
#include "runtime/words.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

// The run-time as the program starts it (library sources included), made anew for each test
// and taken down after it.
struct ControlTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        datatype::reg.words_made = false;
        zyl::testing::start_runtime();
        eval_prelude();
    }
    void TearDown() override { runtime::stop(); }

    // Loads [n] bytes of [text] under a try frame; null when they do not load.
    static cell* try_load(const char* text, size_t n) {
        cell w = word::load("load");
        cell* top = es.top;
        stack::mark_try(&w);
        try {
            cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(text), n);
            cell b = *block;
            stack::pop_frame();
            es.top = top;
            return stack::push(&b);
        } catch (const error::raised&) {
            es.throw_code = THROW_NONE;
            es.top = top;
            return nullptr;
        }
    }

    // Helpers the tests use, written with the natives under test.
    static void eval_prelude() {
        const char* prelude = "first: func [s] [pick s 1] "
                              "not: func [v [any-type!]] [either :v [false] [true]] "
                              "error?: func [v [any-type!]] compose/deep [switch/default type? :v "
                              "[(error!) [true]] [false]]";
        cell* block = try_load(prelude, std::strlen(prelude));
        ASSERT_NE(block, nullptr);
        interp::eval_block(block, false);
        stack::pop(2);
    }

    // What running a source gave.
    struct outcome {
        bool raised = false;
        int32_t category = -1, id = -1; // of the error raised
        uint8_t type = 0;               // of the result
        std::string mold;               // of the result
    };

    // Loads and evaluates [src] under a try frame; checks that the stacks come back exactly to
    // where they were, whatever way the evaluation ended.
    static outcome run(const char* src) {
        outcome r;
        cell* base = es.base;
        cell* top = es.top;
        call_frame* ftop = es.ftop;
        cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(src), std::strlen(src));
        cell w = word::load("test");
        stack::mark_try(&w);
        cell* frame_base = es.base;
        try {
            interp::eval_block(block, true);
        } catch (const error::raised& e) {
            r.raised = true;
            r.category = e.category;
            r.id = e.id;
            es.throw_code = THROW_NONE;
            EXPECT_EQ(es.base, base) << src;
            EXPECT_EQ(es.ftop, ftop) << src;
            es.top = top;
            return r;
        }
        EXPECT_EQ(es.throw_code, THROW_NONE) << src;
        EXPECT_EQ(stack::top_frame()->type(), FRAME_TRY) << src;
        EXPECT_EQ(es.base, frame_base) << src;
        r.type = es.base->type();
        cell* out = string::push_new(64);
        actions::mold_typed(es.base, out, false, false, false, nullptr, INT32_MAX, 0);
        r.mold = string::to_std(out);
        stack::pop_frame();
        EXPECT_EQ(es.base, base) << src;
        EXPECT_EQ(es.ftop, ftop) << src;
        es.top = top;
        return r;
    }

    // The molded result of [src]; a raised error fails the test.
    static std::string eval(const char* src) {
        outcome r = run(src);
        EXPECT_FALSE(r.raised) << src << " raised " << r.category << "/" << r.id;
        return r.mold;
    }

    static bool raises(const char* src, int32_t cat, int32_t id) {
        outcome r = run(src);
        EXPECT_TRUE(r.raised) << src << " gave " << r.mold;
        EXPECT_EQ(r.category, cat) << src;
        EXPECT_EQ(r.id, id) << src;
        return r.raised && r.category == cat && r.id == id;
    }
};

// Calls a native's entry directly (as compiled code would) with [arg] as its first two arguments,
// in a frame of its own under a try frame; answers whether it raised [cat]/[id].
template <typename F> bool raises_direct(const cell* arg, int32_t cat, int32_t id, F body) {
    return zyl::testing::raises(cat, id, [&] {
        cell w = word::load("native");
        stack::mark_native(&w);
        stack::push(arg);
        stack::push(arg);
        body();
    });
}

struct expect {
    const char* src;
    const char* mold;
};

void check_table(const expect* cases, size_t n) {
    for (size_t i = 0; i < n; i++)
        EXPECT_EQ(ControlTest::eval(cases[i].src), cases[i].mold) << cases[i].src;
}

// {== Conditionals and selection

TEST_F(ControlTest, ConditionalsFollowTheirTruthRules) {
    const expect cases[] = {
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if 0 [1]", "1"},
        {"unless false [2]", "2"},
        {"unless 1 [2]", "none"},
        {"either none [1] [2]", "2"},
        {"either [] [1] [2]", "1"},
        {"any [none false 3 4]", "3"},
        {"any [none false]", "none"},
        {"any []", "none"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all []", "none"},
    };
    check_table(cases, std::size(cases));
    EXPECT_EQ(run("if () [1]").mold, "1"); // unset counts as true for if
}

TEST_F(ControlTest, EitherRefusesAnUnsetCondition) {
    raises("either () [1] [2]", error::cat_script, error::script_no_return);
}

TEST_F(ControlTest, SwitchFindsTheNextBlockAfterAMatchOfTheSameType) {
    const expect cases[] = {
        {"switch 2 [1 [10] 2 [20]]", "20"},
        {"switch 1 [1 2 [20]]", "20"},
        {"switch 3 [1 [10] 2 [20]]", "none"},
        {"switch/default 3 [1 [10]] [30]", "30"},
        {"switch \"A\" [\"a\" [40]]", "40"},
        {"switch 1 [1.0 [10] 1 [20]]", "20"},
        {"switch 1 [1]", "none"},
    };
    check_table(cases, std::size(cases));
}

TEST_F(ControlTest, CaseSkipsExactlyOneValueAfterAFalseCondition) {
    const expect cases[] = {
        {"case [false [1] true [2]]", "2"},
        {"case [false 1 true 2 + 3]", "5"},
        {"case [none [1]]", "none"},
        {"case/all [true [1] true [2]]", "2"},
        {"case/all [true [1] false [2]]", "none"},
    };
    check_table(cases, std::size(cases));
    // Only the 1 is skipped: the expression that starts at + is the next condition.
    raises("case [false 1 + 2 true 3]", error::cat_script, error::script_no_op_arg);
    raises("case [true]", error::cat_script, error::script_need_value);
    raises("case [()]", error::cat_script, error::script_need_value);
    raises("case [() [1]]", error::cat_script, error::script_no_return);
}

// }==
// {== Loops

TEST_F(ControlTest, LoopResultsFollowTheirRules) {
    const expect cases[] = {
        {"loop 3 [break/return 5]", "5"},
        {"loop 0 [1]", "none"},
        {"loop -1 [1]", "none"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},
        {"loop 3 [4]", "4"},
        {"n: 0 loop 5 [n: n + 1 continue n: 100] n", "5"},
        {"loop 2 [loop 3 [break] 7]", "7"},
        {"r: copy [] repeat i 3 [append r i] r", "[1 2 3]"},
        {"repeat i 0 [1]", "none"},
        {"r: copy [] repeat i 2.5 [append r i] r", "[1 2]"},
        {"repeat i 4 [if even? i [break/return i]]", "2"},
        {"n: 0 forever [n: n + 1 if even? n [break/return n]]", "2"},
        {"n: 0 until [n: n + 1 even? n]", "true"},
    };
    check_table(cases, std::size(cases));
    outcome w = run("while [true] [break/return 5]");
    EXPECT_FALSE(w.raised);
    EXPECT_EQ(w.type, T_unset); // while drops a break value
    EXPECT_EQ(run("forever [break]").type, T_unset);
}

TEST_F(ControlTest, UntilDoesNotTestItsConditionAfterContinue) {
    // After continue the body's value is unset: tested, it would raise.
    EXPECT_EQ(eval("n: 0 until [n: n + 1 if odd? n [continue] n]"), "2");
}

TEST_F(ControlTest, WhileRefusesBreakAndContinueInItsCondition) {
    raises("while [break] [1]", error::cat_throw, error::throw_while_cond);
    raises("while [continue] [1]", error::cat_throw, error::throw_while_cond);
    EXPECT_EQ(eval("n: 0 while [not even? n: n + 1] [] n"), "2");
}

TEST_F(ControlTest, ForeachTakesGroupsAndPadsWithNone) {
    const expect cases[] = {
        {"r: copy [] foreach [a b] [1 2 3] [append r b] r", "[2 none]"},
        {"r: copy [] foreach x [1 2 3] [append r x] r", "[1 2 3]"},
        {"r: copy [] foreach c \"ab\" [append r c] r", "[#\"a\" #\"b\"]"},
        {"foreach x [1 2] [x + 10]", "12"},
        {"foreach x next [1 2 3] [x]", "3"},
        {"foreach x [1 2 3] [if even? x [break/return x]]", "2"},
        {"r: copy [] foreach x [1 2 3 4] [if even? x [continue] append r x] r", "[1 3]"},
    };
    check_table(cases, std::size(cases));
    EXPECT_EQ(run("foreach x [] [1]").type, T_unset);
    raises("foreach [] [1 2] [1]", error::cat_script, error::script_invalid_arg);
}

TEST_F(ControlTest, ForallAdvancesTheWordAndRestoresItAfterANormalEnd) {
    const expect cases[] = {
        {"s: [1 2 3] r: copy [] forall s [append r first s] r", "[1 2 3]"},
        {"s: next [1 2 3] forall s [] index? s", "2"},
        {"s: [1 2 3 4] forall s [if even? first s [break]] index? s", "2"},
        {"s: [1 2 3 4] forall s [if even? first s [break/return s]]", "[2 3 4]"},
        {"s: \"abc\" n: 0 forall s [n: n + 1] n", "3"},
        {"s: [] forall s [1] index? s", "1"},
    };
    check_table(cases, std::size(cases));
    raises("s: [1 2] forall s [s: [3 4]]", error::cat_script, error::script_bad_loop_series);
    raises("s: 1 forall s [2]", error::cat_script, error::script_expect_arg);
}

TEST_F(ControlTest, RemoveEachRemovesWhatTheBodyApproves) {
    const expect cases[] = {
        {"b: [1 2 3 4 5] remove-each x b [even? x] b", "[1 3 5]"},
        {"b: [1 2 3 4 5] remove-each [x y] b [even? x] b", "[1 2 3 4 5]"},
        {"b: [1 2 3 4 5] remove-each [x y] b [odd? x] b", "[]"},
        {"b: [1 2 3] remove-each x b [continue] b", "[1 2 3]"},
        {"b: [1 2 3] remove-each x b [()] b", "[]"},
        {"b: [1 2 3 4] remove-each x next b [true]", "[]"},
        {"b: [1 2 3 4] remove-each x next b [true] b", "[1]"},
        {"b: [1 3 4 5] remove-each x b [if even? x [break] true] b", "[4 5]"},
        {"s: \"a1b2\" remove-each c s [switch c [#\"1\" [true]]] s", "\"ab2\""},
    };
    check_table(cases, std::size(cases));
}

// }==
// {== Non-local exits

TEST_F(ControlTest, ExitsWithoutATargetRaiseTheirThrowErrors) {
    raises("break", error::cat_throw, error::throw_break);
    raises("continue", error::cat_throw, error::throw_continue);
    raises("return 1", error::cat_throw, error::throw_return);
    raises("exit", error::cat_throw, error::throw_return);
    raises("throw 1", error::cat_throw, error::throw_throw);
    raises("catch/name [throw/name 1 'b] 'a", error::cat_throw, error::throw_throw);
}

TEST_F(ControlTest, BreakInAFunctionReachesTheCallersLoop) {
    EXPECT_EQ(eval("f: func [] [break/return 9] loop 3 [f 1]"), "9");
    EXPECT_EQ(eval("f: func [] [loop 3 [return 4] 5] f"), "4");
    EXPECT_EQ(run("f: func [] [loop 3 [exit] 5] f").type, T_unset);
    EXPECT_EQ(eval("f: func [x] [foreach y [1 2 3] [if even? y [return x + y]]] f 10"), "12");
}

TEST_F(ControlTest, CatchMatchesThrowNames) {
    const expect cases[] = {
        {"catch [throw 1 2]", "1"},
        {"catch [throw/name 2 'a]", "2"},
        {"catch/name [throw/name 3 'a] 'a", "3"},
        {"catch/name [throw/name 3 'A] 'a", "3"},
        {"catch/name [throw/name 4 'b] [a b]", "4"},
        {"catch [catch/name [throw 5] 'a 6]", "5"},
        {"catch [catch/name [throw/name 6 'b] 'a 7]", "6"},
        {"catch [loop 3 [throw 7]]", "7"},
        {"loop 2 [catch [break/return 8]]", "8"},
        {"catch [1 2]", "2"},
    };
    check_table(cases, std::size(cases));
    raises("catch/name [throw/name 1 'a] [1 a]", error::cat_script,
           error::script_invalid_refine_arg);
}

TEST_F(ControlTest, TryCatchesErrorsAndLetsOtherExitsPass) {
    EXPECT_EQ(eval("loop 3 [try [break/return 1]]"), "1");
    EXPECT_EQ(eval("catch [try [throw 2]]"), "2");
    EXPECT_EQ(eval("f: func [] [try [return 3] 4] f"), "3");
    EXPECT_EQ(eval("error? try [1 + none]"), "true");
    EXPECT_EQ(eval("try [1 + 2]"), "3");
    // try/all turns every exit that reaches it into an error.
    EXPECT_EQ(eval("loop 2 [error? try/all [break]]"), "true");
    EXPECT_EQ(eval("catch [error? try/all [throw 1]]"), "true");
    // /keep turns the depth the error recorded into the names of the calls.
    EXPECT_EQ(eval("f: func [] [1 + none] e: try [f] type? e/stack"), "integer!");
    EXPECT_EQ(eval("f: func [] [1 + none] e: try/keep [f] type? e/stack"), "block!");
}

TEST_F(ControlTest, ErrorsUnwindNestedLoopsAndFunctionsToTheNearestTry) {
    // run() checks that both stacks are back where they were, after an error that crosses
    // loop, catch and function frames, caught or not.
    const char* src =
        "f: func [x] [foreach y [1 2] [loop 2 [catch [repeat i 2 [if x [1 + none]]]]]] "
        "r: copy [] loop 3 [append r error? try [f true] f false] r";
    EXPECT_EQ(eval(src), "[true true true]");
    raises("f: func [] [forall s [until [while [true] [1 + none]]]] s: [1] loop 2 [f]",
           error::cat_script, error::script_invalid_type);
    EXPECT_EQ(eval("loop 3 [try [1 + none]] 5"), "5");
}

// }==
// {== do, reduce, compose

TEST_F(ControlTest, DoEvaluatesBlocksTextAndSingleValues) {
    const expect cases[] = {
        {"do [1 + 2]", "3"},
        {"do \"1 + 2 3 * 2\"", "6"},
        {"do 5", "5"},
        {"x: 7 do 'x", "7"},
        {"do first [(2 + 3)]", "5"},
        {"b: [1 + 2 3] do/next b 'p", "3"},
        {"b: [1 + 2 3] do/next b 'p p", "[3]"},
        {"do/next [] 'p p", "[]"},
    };
    check_table(cases, std::size(cases));
    EXPECT_EQ(run("do []").type, T_unset);
    EXPECT_TRUE(run("do %script.zyl").raised);
}

TEST_F(ControlTest, ReduceEvaluatesEachExpression) {
    const expect cases[] = {
        {"reduce [1 + 2 3 * 4]", "[3 12]"},
        {"reduce []", "[]"},
        {"x: 2 reduce 'x", "2"},
        {"b: [0] reduce/into [1 + 1 3] tail b b", "[0 2 3]"},
        {"b: [0] reduce/into [1 + 1 3] tail b", "[2 3]"},
        {"b: [0] reduce/into [1 + 1 3] b", "[0]"},
        {"b: [0] reduce/into [1 + 1 3] b b", "[2 3 0]"},
        {"b: [0] reduce/into 5 tail b b", "[0 5]"},
        {"b: [0] reduce/into 5 b b", "[5 0]"},
    };
    check_table(cases, std::size(cases));
}

TEST_F(ControlTest, ComposeSplicesUnlessOnly) {
    const expect cases[] = {
        {"compose [() (none) ([]) ([1 2])]", "[none 1 2]"},
        {"compose/only [() (none) ([]) ([1 2])]", "[none [] [1 2]]"},
        {"compose [a [(1 + 1)] (1 + 1)]", "[a [(1 + 1)] 2]"},
        {"compose/deep [a [(1 + 1)] (1 + 1)]", "[a [2] 2]"},
        {"b: [x] compose/into [(1) (2)] tail b b", "[x 1 2]"},
        {"b: [x] compose/into [(1) (2)] b", "[x]"},
        {"b: [x] compose/into [(1) (2)] b b", "[1 2 x]"},
    };
    check_table(cases, std::size(cases));
    raises("compose 1", error::cat_script, error::script_expect_arg); // the interpreter's check
    cell one = integer::make_value(1);
    (void)one;
    EXPECT_TRUE(raises_direct(&one, error::cat_script, error::script_expect_val,
                              [] { natives::compose(0, -1, -1, -1); }));
    EXPECT_TRUE(
        raises_direct(&one, error::cat_script, error::script_expect_arg, [] { natives::loop(1); }));
    raises("b: [x] append/only b b compose/deep b", error::cat_internal, error::internal_no_cycle);
}

TEST_F(ControlTest, DoRaisesAnErrorValue) {
    raises("e: try [1 + none] do :e", error::cat_script, error::script_invalid_type);
}

TEST_F(ControlTest, DoTraceReportsToItsTracerAndSwitchesTracingOff) {
    const char* tracer = "log: copy [] t: func [event code pos value ref pair] [append log event] ";
    std::string src = std::string(tracer) + "do/trace [1 + 2] :t";
    EXPECT_EQ(eval(src.c_str()), "3");
    EXPECT_FALSE(interp::is.tracing);
    EXPECT_EQ(eval("first log"), "init");
    EXPECT_EQ(eval("pick log length? log"), "end");
    // A nested do/trace starts no second trace; an error leaves tracing off.
    src = std::string(tracer) + "do/trace [do/trace [4] :t] :t";
    EXPECT_EQ(eval(src.c_str()), "4");
    src = std::string(tracer) + "do/trace [1 + none] :t";
    raises(src.c_str(), error::cat_script, error::script_invalid_type);
    EXPECT_FALSE(interp::is.tracing);
    EXPECT_EQ(eval("f: func [] [do/trace [return 5] :t 6] f"), "5");
    EXPECT_FALSE(interp::is.tracing);
}

TEST_F(ControlTest, ApplyCallsWithABlockOfArguments) {
    const expect cases[] = {
        {"apply :add [1 2]", "3"},
        {"apply 'add [1 2]", "3"},
        {"f: func [a /r b] [either r [a + b] [a]] apply :f [1 /r true 5]", "6"},
        {"f: func [a /r b] [either r [a + b] [a]] apply :f [1 /r false 5]", "1"},
        {"apply :+ [2 3]", "5"},
    };
    check_table(cases, std::size(cases));
    raises("x: 1 apply 'x [1]", error::cat_script, error::script_invalid_arg);
}

// }==
// {== Cost

// The allocations [src] makes with N set to [n]. The allocator counts its allocations only
// when a stress period is set: one too long to ever come round does.
uint64_t allocations(const std::string& src, int n) {
    std::string text = "N: " + std::to_string(n) + " b: head insert/dup copy [] 1 N " + src;
    uint64_t saved = mm.stress_every;
    mm.stress_every = UINT64_MAX;
    uint64_t before = mm.allocations;
    ControlTest::eval(text.c_str());
    uint64_t made = mm.allocations - before;
    mm.stress_every = saved;
    return made;
}

TEST_F(ControlTest, LoopPassesAllocateNothing) {
    const char* loops[] = {
        "loop N [loop 1 [break/return 1]]",
        "s: b while [not tail? s] [s: next s continue]",
        "i: 0 until [i: i + 1 tail? skip b i]",
        "repeat i N [i]",
        "foreach x b [if x [continue]]",
        "foreach [x y] b [x]",
        "s: b forall s [s]",
        "remove-each x copy b [continue]",
        "f: func [] [loop 1 [return 1]] loop N [f]",
        "loop N [catch [throw 1]]",
        "loop N [case [false [1] true [2]]]",
        "loop N [any [none 1] all [1 2]]",
        "loop N [either true [1] [2] switch 2 [1 [1] 2 [2]]]",
    };
    for (const char* src : loops) {
        uint64_t few = allocations(src, 10);
        uint64_t many = allocations(src, 1000);
        EXPECT_LE(many, few + 8) << src; // the block of N values grows in a few steps
    }
}

// }==
// {== Stack discipline of the loop steps

TEST_F(ControlTest, LoopStepsWalkTheirSeries) {
    cell* words = runtime::load_text(reinterpret_cast<const uint8_t*>("a b"), 3);
    cell* values = runtime::load_text(reinterpret_cast<const uint8_t*>("1 2 3"), 5);
    EXPECT_TRUE(natives::foreach_next(values, words, 2));
    EXPECT_EQ(values->w1, 2u);
    EXPECT_TRUE(natives::foreach_next(values, words, 2));
    cell b = word::load("b");
    EXPECT_EQ(word::get_value(&b)->type(), T_none);
    EXPECT_FALSE(natives::foreach_next(values, words, 2));
    cell f = float_::make_value(-2.7);
    EXPECT_EQ(natives::float_cell_to_integer(&f), T_integer);
    EXPECT_EQ(integer::get(&f), -2);
    f = float_::make_value(1e30);
    natives::float_cell_to_integer(&f);
    EXPECT_EQ(integer::get(&f), INT32_MAX);
    stack::pop(2);
}

// }==

} // namespace
