// tests/unit/interp_test.cpp: the interpreter: expressions and infix operators, calls with
// refinements through paths, paths and set-paths, the error cases of evaluation, non-local
// exits through nested calls, the tracer, library functions that run as compiled, calls from
// run-time code, and deep recursion. The language words come from the library sources, as at
// start-up; under collection stress too.
#include <string>
#include <string_view>
#include <vector>

#include "library_text.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/interp_internal.h"
#include "eval/natives.h"
#include "lexer_fixture.h"
#include "runtime/extres.h"
#include "runtime/platform/native_stack.h"
#include "runtime/values.h"
#include "runtime/words.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

// {== A native that records how it was called

// Spec [a /x b /y c d /z]: one fixed argument; /x with one, /y with two, /z with none.
constexpr uint32_t PROBE_NUMBER = natives::COUNT + 1;

struct probe_record {
    int32_t refs[3];
    std::vector<std::string> args; // the frame's cells, molded
    bool interp_frame;             // its frame carries the interpreter bit
    cell position;                 // the current position when it ran
    uint32_t calls;
};
probe_record probe;

std::string mold_value(const cell* v) {
    cell value = *v; // [v] may lie in a buffer that push_new moves
    cell* buffer = string::push_new(16);
    actions::mold_typed(&value, buffer, false, false, true, nullptr, 1 << 30, 0);
    std::string s = string::to_std(buffer);
    stack::pop(1);
    return s;
}

void probe_entry(int32_t, int32_t x, int32_t y, int32_t z) {
    probe.refs[0] = x;
    probe.refs[1] = y;
    probe.refs[2] = z;
    probe.args.clear();
    for (cell* c = es.base; c < es.top; c++) probe.args.push_back(mold_value(c));
    probe.interp_frame = (stack::top_frame()->header & FRAME_INTERP) != 0;
    probe.position = interp::current_position();
    probe.calls++;
    *es.base = integer::make_value(static_cast<int32_t>(probe.calls));
}

// }==
// {== Fixture

struct InterpTest : zyl::testing::LexerTest {
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
        error::init_system();        // raised errors are objects, as the collector expects
        collector::gc.active = true; // ZYL_GC_STRESS collects at every allocation from here
        make_make();
        // The action and native sources; the operators (the base source holds more).
        for (const char* name : {"actions.zyl", "natives.zyl"})
            ASSERT_EQ(run(library_source(name)).rfind("error", 0), std::string::npos) << name;
        ASSERT_EQ(
            run("+: make op! :add -: make op! :subtract *: make op! :multiply").rfind("error", 0),
            std::string::npos);
        make_probe();
        probe = probe_record{};
    }
    void TearDown() override {
        interp::set_tracing(false);
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
    static cell get_global(const char* name) {
        cell w = word::load(name);
        return *word::get_value(&w);
    }

    // `make` is made from C++: every other action and native is made through it.
    static void make_make() {
        cell* spec = load(R"(["A new value" type [any-type!] spec [any-type!]] 1)");
        cell* proto = stack::push(&unset_value);
        *proto = datatype::make_value(T_action);
        cell made = *actions::make_typed(proto, spec);
        set_global("make", &made);
        stack::pop(2);
    }

    static void make_probe() {
        natives::set_entry(PROBE_NUMBER, reinterpret_cast<natives::entry_fn>(&probe_entry));
        cell* spec = load("a [integer!] /x b /y c d /z");
        node_id s = series::alloc_cells(2);
        collector::keep_node keep_series(&s);
        series::append_value(s, none_value);
        series::append_value(s, none_value);
        cell native{T_native, PROBE_NUMBER - 1, spec->w2, s};
        set_global("probe", &native);
        stack::pop(1);
    }

    // Evaluates [text] as a block under a try frame. Answers the molded result, or "error
    // <category> <id>: <args>" for an error. Checks that a normal end leaves both stacks
    // exactly as they were.
    static std::string run(std::string_view text) {
        cell* blk = load(text);
        cell* saved_top = es.top;
        cell* saved_base = es.base;
        call_frame* saved_frames = es.ftop;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        std::string out;
        try {
            interp::eval_block(blk, false);
            EXPECT_EQ(es.throw_code, THROW_NONE) << text;
            last_type = es.top[-1].type();
            out = mold_value(es.top - 1);
            stack::unwind(); // the result stays pushed
            EXPECT_EQ(es.top, saved_top + 1) << text;
            EXPECT_EQ(es.base, saved_base) << text;
            EXPECT_EQ(es.ftop, saved_frames) << text;
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            last_type = T_error;
            out = "error " + std::to_string(e.category) + " " + std::to_string(e.id);
            last_error = es.top[-1];
            std::string list;
            for (uint32_t f = error::F_ARG1; f <= error::F_ARG3; f++) {
                cell* arg =
                    stack::push(error::field(&last_error, f)); // kept while molding allocates
                if (arg->type() != T_none) list += (list.empty() ? "" : " ") + mold_value(arg);
            }
            if (!list.empty()) out += ": " + list;
            last_near = mold_value(stack::push(error::field(&last_error, error::F_NEAR)));
            EXPECT_EQ(es.ftop, saved_frames) << text;
        }
        es.top = saved_top;
        stack::pop(1);
        // Whatever happened, the interpreter's own state is back as it was.
        EXPECT_EQ(interp::detail::root_depth(), 0u) << text;
        EXPECT_EQ(interp::is.position->type(), T_unset) << text;
        EXPECT_FALSE(interp::is.compiled) << text;
        return out;
    }

    static inline uint8_t last_type;     // of the last result of run()
    static inline cell last_error;       // the last error run() caught (not kept: read it in run)
    static inline std::string last_near; // that error's near field, molded

    static std::string err(int32_t cat, int32_t id, std::string_view args = {}) {
        std::string s = "error " + std::to_string(cat) + " " + std::to_string(id);
        if (!args.empty()) s += ": " + std::string(args);
        return s;
    }
};

// }==
// {== Expressions

TEST_F(InterpTest, ExpressionsAndInfix) {
    struct {
        const char* code;
        const char* result;
    } cases[] = {
        {"1 + 2 * 3", "9"},                // left to right
        {"negate 1 + 2", "-3"},            // a prefix call takes the whole infix expression
        {"b: [1 2 3] 1 + length? b", "4"}, // the right operand is a prefix call
        {"(1 + 2) * 3", "9"},
        {"a: b: 2 a + b", "4"},
        {"x: 10 x - 1 - 1", "8"},
        {"'foo", "foo"},
        {"'a/b", "a/b"},
        {"c: 5 :c", "5"},
        {"1 2 3", "3"},
        {"f: func [a b] [a - b] f 10 3", "7"},
        {"f: func [a b] [a - b] f 10 3 + 1", "6"},
        {"f: does [1 + 1] 3 + f", "5"},
        {"m: func ['w [word!] :g] [reduce [w :g]] m foo bar", "[foo bar]"},
        {"n: func ['w [any-type!]] [:w] n (1 + 2)", "3"},
        {"p: func [a /local t] [t: a * 2 t + 1] p 4", "9"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(InterpTest, EmptyBlockAndEmptyParenGiveUnset) {
    run("()");
    EXPECT_EQ(last_type, T_unset);
    run("");
    EXPECT_EQ(last_type, T_unset);
}

TEST_F(InterpTest, CodeThatChangesItsOwnBlock) {
    // The walk ends at the tail it began with, or earlier when the block shrinks.
    EXPECT_EQ(run("b: [append b [1 + 1] 10] do b"), "10");
    EXPECT_EQ(run("b: [clear b 1 2 3] do b"), "[]");
    EXPECT_EQ(run("x: [0] b: [x/1: (clear b recycle 5)] do b x"), "[5]");
}

TEST_F(InterpTest, EvalNextAndEntryWalkOneExpressionAtATime) {
    cell* blk = load("1 + 2 negate 4 7");
    cell* result = stack::push(&none_value);
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    std::vector<std::string> seen;
    cell walk = *blk;
    uint32_t tail = interp::tail_of(&walk);
    while (walk.w1 < tail) {
        walk.w1 = interp::eval_next(&walk);
        seen.push_back(mold_value(es.base));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"3", "-4", "7"}));
    EXPECT_EQ(interp::eval_next(&walk), tail); // at the tail: unset, the index kept
    EXPECT_EQ(es.base->type(), T_unset);
    stack::unwind();
    (void)result;
}

// }==
// {== Refinements and paths

TEST_F(InterpTest, FunctionRefinementsInAnyOrder) {
    run("f: func [a /r b /s c] [either r [either s [a + b * c] [a + b]] [either s [a * c] [a]]]");
    EXPECT_EQ(run("f 1"), "1");
    EXPECT_EQ(run("f/r 1 2"), "3");
    EXPECT_EQ(run("f/s 2 5"), "10");
    EXPECT_EQ(run("f/r/s 1 2 3"), "9"); // the arguments follow the path's order
    EXPECT_EQ(run("f/s/r 1 3 2"), "9");
}

TEST_F(InterpTest, NativeRefinementsArePositionsInPathOrder) {
    EXPECT_EQ(run("probe 1"), "1");
    EXPECT_EQ(probe.args, (std::vector<std::string>{"1"}));
    EXPECT_EQ(std::vector<int32_t>(probe.refs, probe.refs + 3), (std::vector<int32_t>{-1, -1, -1}));

    run("probe/x/y 1 2 3 4");
    EXPECT_EQ(probe.args, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(std::vector<int32_t>(probe.refs, probe.refs + 3), (std::vector<int32_t>{1, 2, -1}));

    run("probe/y/z/x 1 2 3 4");
    EXPECT_EQ(probe.args, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(std::vector<int32_t>(probe.refs, probe.refs + 3), (std::vector<int32_t>{3, 1, 0}));
}

TEST_F(InterpTest, GetWordRefinementsSwitchByTruth) {
    run("f: func [a /r b] [either r [a + b] [a]] n: 0");
    // The get-word names the refinement; its word's value switches it.
    EXPECT_EQ(run("r: true f/:r 1 2"), "3");
    // Switched off, the argument is still evaluated, then dropped.
    EXPECT_EQ(run("r: false f/:r 1 (n: n + 1 2)"), "1");
    EXPECT_EQ(run("n"), "1");
    run("x: none probe/:x 5 6");
    EXPECT_EQ(probe.args, (std::vector<std::string>{"5"}));
    EXPECT_EQ(probe.refs[0], -1);
}

TEST_F(InterpTest, PathsSelectAndSet) {
    struct {
        const char* code;
        const char* result;
    } cases[] = {
        {"b: [10 20 30] b/2", "20"},
        {"b: [10 20 30] b/(1 + 2)", "30"},
        {"b: [10 20 30] i: 1 b/:i", "10"},
        {"b: [10 20 30] b/2: 5", "5"},
        {"b: [10 20 30] b/2: 5 b", "[10 5 30]"},
        {"b: [x [y 7]] b/x/y", "7"},
        {"b: [x [y 7]] b/x/y: 8 b", "[x [y 8]]"},
        {"b: reduce [:negate] b/1 4", "-4"}, // a function met on the way is called
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(InterpTest, ApplyModes) {
    run("f: func [a /r b] [either r [a + b] [a]] g: func [a b] [:b] n: 0");
    struct {
        const char* code;
        std::string result;
    } cases[] = {
        {"apply :f [1]", "1"},
        {"apply :f [1 /r true 2]", "3"},
        {"apply :f [1 /r false (n: n + 1 2)] n", "1"},       // evaluated, dropped
        {"apply/safer :f [1 /r false (n: n + 1 2)] n", "1"}, // skipped unevaluated
        {"apply/all :g [1]", "none"},                        // missing at the end: none
        {"apply 'g [1]", err(ids::cat_script, ids::script_no_arg, "g b")},
        {"apply :g [1]",
         err(ids::cat_script, ids::script_no_arg, "<anon> b")}, // a value has no name
        {"apply 'f [1 /q true]", err(ids::cat_script, ids::script_no_refine, "f /q")},
        {"apply :f [1 /r true 2 /r true 3]",
         err(ids::cat_script, ids::script_dup_refine, "[1 /r true 2 /r true 3]")},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

// }==
// {== Errors

TEST_F(InterpTest, EvaluationErrors) {
    using namespace ids;
    run("f: func [a [integer!] /r] [a]");
    struct {
        const char* code;
        std::string expected;
    } cases[] = {
        {"nothing-here", err(cat_script, script_no_value, "nothing-here")},
        {"x:", err(cat_script, script_need_value, "x:")},
        {"b: [1] b/1:", err(cat_script, script_need_value, "b/1:")},
        {"+ 1 2", err(cat_script, script_no_op_arg)},
        {"1 +", err(cat_script, script_no_arg, "+ value2")},
        {"negate", err(cat_script, script_no_arg, "negate number")},
        {"f \"x\"", err(cat_script, script_expect_arg, "f string! a")},
        {"f ()", err(cat_script, script_expect_arg, "f unset! a")},
        {"f/q 1", err(cat_script, script_no_refine, "f q")},
        {"f/r/r 1", err(cat_script, script_dup_refine, "f/r/r")},
        {"f/1 1", err(cat_script, script_bad_refine, "1")},
        {"nothing-there/x", err(cat_script, script_unset_path, "nothing-there/x nothing-there")},
        {"b: [1 2] b/(())", err(cat_script, script_invalid_path, "b/(()) (())")},
        {"f/r: 1", err(cat_script, script_invalid_path_set)},
        {":f/r", err(cat_script, script_invalid_path_get)},
        {"#system [a]", err(cat_internal, internal_zyl_system)},
        {"#System-Global [a]", err(cat_internal, internal_zyl_system)},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
    EXPECT_EQ(run("#system"), "#system"); // only before a block
    EXPECT_EQ(run("#system 1"), "1");
}

TEST_F(InterpTest, PathsThatCannotStart) {
    using namespace ids;
    auto path_error = [](const char* text) {
        cell* p = load(text);
        cells::set_type(p, T_path);
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        try {
            interp::eval_path_at(p, nullptr, 0, 0, true, false, nullptr);
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            stack::pop(es.top - p);
            return e.id;
        }
        return -1;
    };
    EXPECT_EQ(path_error(""), script_empty_path);
    EXPECT_EQ(path_error("1 a"), script_word_first);
}

TEST_F(InterpTest, UnsetReachesOnlyLiteralArgumentsThatTakeIt) {
    using namespace ids;
    run("lit: func ['w [any-type!]] [:w] strict: func ['w] [:w] plain: func [v [any-type!]] [:v]");
    run("lit"); // at the end of the block
    EXPECT_EQ(last_type, T_unset);
    EXPECT_EQ(run("lit 1"), "1");
    EXPECT_EQ(run("strict"), err(cat_script, script_no_arg, "strict w"));
    EXPECT_EQ(run("plain"), err(cat_script, script_no_arg, "plain v"));
}

// }==
// {== Non-local exits

TEST_F(InterpTest, ExitsThroughNestedCallsLeaveTheStacksAsTheyWere) {
    struct {
        const char* code;
        const char* result;
    } cases[] = {
        {"g: does [break] f: does [loop 3 [g] 5] f", "5"},
        {"h: does [loop 2 [loop 2 [return 7]] 8] h", "7"},
        {"k: does [1 + (return 9)] k", "9"},
        {"m: does [negate exit] m 2", "2"},
        {"x: loop 3 [1 + break/return 6] x", "6"},
        {"t: does [throw 4] catch [loop 2 [1 + t]]", "4"},
        {"r: func [b] [either tail? b [return 100] [r next b]] r [1 2 3 4 5 6 7 8]", "100"},
        {"n: 0 foreach v reduce [true false true] [n: n + 1 if v [continue] n: n + 10] n", "13"},
        {"s: func [b] [unless tail? b [return s next b] length? head b] s [1 2 3]", "3"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
    EXPECT_EQ(run("break"), err(ids::cat_throw, ids::throw_break));
    EXPECT_EQ(run("1 + return 2"), err(ids::cat_throw, ids::throw_return));
}

TEST_F(InterpTest, ErrorsInsideCallsRestoreFunctionContexts) {
    // The inner call fails inside a try; the outer call's arguments must still be its own.
    run("f: func [b] [either tail? b [nothing-here] [try [f tail b] length? b]]");
    EXPECT_EQ(run("f [1 2 3 4 5]"), "5");
    EXPECT_EQ(run("g: func [b] [unless tail? b [try [g next b]] length? b] g [1 2 3]"), "3");
}

TEST_F(InterpTest, DeepRecursionRaisesStackOverflow) {
    struct job {
        std::string overflow;
        std::string after;
    } j;
    auto body = [](void* p) {
        auto* jb = static_cast<job*>(p);
        jb->overflow = run("deep: func [n] [1 + deep n + 1] deep 1");
        jb->after = run("1 + 1");
        return 0;
    };
    native_stack::run(body, &j);
    EXPECT_EQ(j.overflow, err(ids::cat_internal, ids::internal_stack_overflow));
    EXPECT_EQ(j.after, "2");
}

// }==
// {== Tracing

TEST_F(InterpTest, TracerSeesEventsInOrder) {
    run("log: copy [] tr: func [event code pos value ref place] [append log event append log pos]");
    cell tracer = get_global("tr");
    *interp::is.tracer = tracer;
    interp::is.event_mask = interp::ALL_EVENTS;
    interp::set_tracing(true);
    cell* blk = load("1 + 2");
    interp::eval_block(blk, false);
    interp::set_tracing(false);
    EXPECT_EQ(mold_value(es.top - 1), "3");
    EXPECT_EQ(
        run("log"),
        "[enter 0 fetch 0 push 0 fetch 1 open 2 fetch 2 push 2 call 3 return 3 expr 3 exit 3]");

    run("clear log f: func [a] [a]");
    interp::set_tracing(true);
    blk = load("f 5");
    interp::eval_block(blk, false);
    interp::set_tracing(false);
    EXPECT_EQ(run("log"), "[enter 0 fetch 0 open 1 fetch 1 push 1 call 2 prolog -1 enter 0 fetch 0 "
                          "push 0 expr 1 exit 1 "
                          "epilog -1 return 2 expr 2 exit 2]");
}

TEST_F(InterpTest, TracerMaskAndErrorLeaveTracingOff) {
    run("log: copy [] tr: func [event code pos value ref place] [[fetch] append log event]");
    cell tracer = get_global("tr");
    EXPECT_EQ(interp::event_mask(&tracer), uint32_t(interp::EV_FETCH));
    *interp::is.tracer = tracer;
    interp::is.event_mask = interp::event_mask(&tracer);
    interp::set_tracing(true);
    cell* blk = load("negate 1");
    interp::eval_block(blk, false);
    interp::set_tracing(false);
    EXPECT_EQ(run("log"), "[fetch fetch]");

    run("bad: func [event code pos value ref place] [nothing-here]");
    *interp::is.tracer = get_global("bad");
    interp::is.event_mask = interp::ALL_EVENTS;
    interp::set_tracing(true);
    EXPECT_EQ(run("1"), err(ids::cat_script, ids::script_no_value, "nothing-here"));
    EXPECT_FALSE(interp::is.tracing);
}

// }==
// {== Library functions and calls from run-time code

// Marks the function held by global [name] as made by the boot scripts.
void make_library(const char* name) {
    cell fn = InterpTest::get_global(name);
    fn.header |= FUNC_LIBRARY;
    InterpTest::set_global(name, &fn);
    *context::owner_of(fn.w1) = fn;
}

TEST_F(InterpTest, LibraryFunctionsRunAsCompiled) {
    run("usr: func [a] [probe a] lib: func [a] [probe a]");
    make_library("lib");

    run("usr 5");
    EXPECT_TRUE(probe.interp_frame);
    EXPECT_EQ(probe.position.w1, 0u); // inside usr's body

    cell* blk = load("x: 1 lib 5");
    interp::eval_block(blk, false);
    EXPECT_FALSE(probe.interp_frame);
    EXPECT_EQ(probe.position.w2, blk->w2); // the caller's block, at the call
    EXPECT_EQ(probe.position.w1, 2u);
    stack::pop(2);

    run("log: copy [] tr: func [event code pos value ref place] [append log event]");
    *interp::is.tracer = get_global("tr");
    interp::is.event_mask = interp::ALL_EVENTS;
    interp::set_tracing(true);
    blk = load("lib 5");
    interp::eval_block(blk, false);
    interp::set_tracing(false);
    EXPECT_EQ(run("log"), "[enter fetch open fetch push call return expr exit]");
}

TEST_F(InterpTest, ErrorsInLibraryFunctionsAreNearTheCaller) {
    run("bad-usr: does [1 nothing-here] bad-lib: does [1 nothing-here]");
    make_library("bad-lib");
    EXPECT_EQ(run("x: 1 bad-usr"), err(ids::cat_script, ids::script_no_value, "nothing-here"));
    EXPECT_EQ(last_near, "[nothing-here]");
    EXPECT_EQ(run("x: 1 bad-lib"), err(ids::cat_script, ids::script_no_value, "nothing-here"));
    EXPECT_EQ(last_near, "[bad-lib]");
}

TEST_F(InterpTest, CallWithFromRunTimeCode) {
    run("f: func [a b [integer!]] [a - b]");
    cell f = get_global("f");
    cell* args = stack::push(&none_value);
    *args = integer::make_value(10);
    *stack::push_slot() = integer::make_value(4);
    cell* r = interp::call_with(&f, args, 2);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(mold_value(r), "6");
    cell add = get_global("add");
    r = interp::call_with(&add, args, 2);
    EXPECT_EQ(mold_value(r), "14");
    stack::pop(es.top - args);

    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    args = stack::push(&none_value);
    *args = integer::make_value(1);
    stack::push(&none_value);
    bool raised = false;
    try {
        interp::call_with(&f, args, 2);
    } catch (const error::raised& e) {
        raised = e.id == ids::script_expect_arg;
        es.throw_code = THROW_NONE;
    }
    EXPECT_TRUE(raised);
}

// }==

} // namespace
