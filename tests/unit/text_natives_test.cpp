// tests/unit/text_natives_test.cpp: the text, conversion and system natives where a transcript
// cannot look: what print hands the print hooks and the scratch block it leaves, calls with
// the check flag as compiled code makes them, the lexer callback under collections, and now
// against the system clock.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "runtime/platform/console_output.h"
#include "runtime_fixture.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

// {== Fixture

// What the print hooks were given: one entry per call, the text and its line flag.
struct printed {
    std::string text;
    bool line;
};
std::vector<printed> output;

void capture(const cell* value, bool newline) { output.push_back({string::to_std(value), newline}); }

// The run-time as the program starts it, made anew for each test, with print going to
// [output] only.
struct TextTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        datatype::reg.words_made = false;
        zyl::testing::start_runtime();
        console::remove_print_hooks(&console::print_string, nullptr);
        console::add_print_hooks(&capture, nullptr);
        output.clear();
    }
    void TearDown() override {
        runtime::stop();
        console::init_print_hooks();
    }

    // Loads [text] into a block pushed on the stack.
    static cell* load(std::string_view text) {
        return runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    static std::string mold_value(const cell* v) {
        cell* buffer = string::push_new(16);
        actions::mold_typed(v, buffer, false, false, true, nullptr, 1 << 30, 0);
        std::string s = string::to_std(buffer);
        stack::pop(1);
        return s;
    }

    static std::string err(int32_t cat, int32_t id) {
        return "error " + std::to_string(cat) + " " + std::to_string(id);
    }

    // Evaluates [text]; the molded result, or "error <category> <id>". Both stacks come back
    // to where they were.
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
            out = err(e.category, e.id);
        }
        EXPECT_EQ(es.ftop, saved_frames) << text;
        es.top = saved_top;
        stack::pop(1);
        return out;
    }

    // Calls native [n] on the values [args] loads to, in a frame of its own, with [check] and
    // the refinement positions [refs]; the molded result, or the error raised.
    static std::string call_native(uint32_t n, std::string_view args, int32_t check,
                                   std::initializer_list<int32_t> refs) {
        cell* blk = load(args);
        cell* saved_top = es.top;
        call_frame* saved_frames = es.ftop;
        cell t{T_word, 0, 99, 0};
        stack::mark_try(&t);
        std::string out;
        try {
            cell w = word::load(natives::name(n));
            uint32_t count = block::rs_length_q(blk);
            stack::mark_native(&w);
            for (uint32_t i = 0; i < count; i++) stack::push(block::cells_of(blk->w2) + i);
            natives::call(natives::entry(n), true, check, uint32_t(refs.size()), refs.begin());
            out = mold_value(es.base);
            stack::pop_frame();
            stack::pop_frame();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            out = err(e.category, e.id);
        }
        EXPECT_EQ(es.ftop, saved_frames) << args;
        es.top = saved_top;
        stack::pop(1);
        return out;
    }

    static uint32_t scratch_used() { return interp::tail_of(&natives::print_scratch); }
};

// Collects at every allocation while it lives.
struct full_stress {
    uint64_t saved = mm.stress_every;
    full_stress() { mm.stress_every = 1; }
    ~full_stress() { mm.stress_every = saved; }
};

// }==
// {== print and prin

TEST_F(TextTest, NestedPrintsPrintTheInnerLineFirstAndLeaveNoScratch) {
    EXPECT_EQ(run("print [1 (print [2 (prin [3 + 3]) 4]) 5]"), "unset");
    ASSERT_EQ(output.size(), 3u);
    EXPECT_EQ(output[0].text, "6");
    EXPECT_FALSE(output[0].line);
    EXPECT_EQ(output[1].text, "2  4");
    EXPECT_TRUE(output[1].line);
    EXPECT_EQ(output[2].text, "1  5");
    EXPECT_TRUE(output[2].line);
    EXPECT_EQ(scratch_used(), 0u);
    EXPECT_TRUE(natives::print_line_ended);
    run("prin \"a\"");
    EXPECT_FALSE(natives::print_line_ended);
}

TEST_F(TextTest, PrintCutsTheScratchBackOnEveryWayOut) {
    const char* exits[] = {
        "print [1 2 (1 / 0)]",
        "loop 1 [print [1 2 (break) 3]]",
        "f: does [print [1 (return 2) 3]] f",
        "catch [print [1 (throw 2) 3]]",
        "print [1 (print [2 (1 / 0)]) 3]",
        "loop 1 [print [1 (print [2 (break)]) 3]]",
    };
    for (const char* src : exits) {
        run(src);
        EXPECT_EQ(scratch_used(), 0u) << src;
        EXPECT_TRUE(output.empty()) << src;
        output.clear();
    }
    // More values than the scratch block first held.
    run("print [1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35]");
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0].text.substr(output[0].text.size() - 5), "34 35");
    EXPECT_EQ(scratch_used(), 0u);
}

TEST_F(TextTest, PrintKeepsItsValuesThroughCollections) {
    full_stress stress;
    run("print [copy \"ab\" (print [copy \"c\" (recycle copy \"d\")]) append copy \"e\" \"f\"]");
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0].text, "c d");
    EXPECT_EQ(output[1].text, "ab  ef"); // the inner print answers unset
}

// }==
// {== Calls with the check flag

TEST_F(TextTest, CheckedCallsRefuseWrongTypesBeforeAnyEffect) {
    struct row {
        uint32_t n;
        const char* args;
        std::initializer_list<int32_t> refs;
    } bad[] = {
        {54, "\"12\"", {-1}},                                      // to-hex
        {54, "12 \"2\"", {1}},                                     // to-hex/size
        {84, "#{00}", {-1}},                                       // debase
        {91, "12", {-1}},                                          // enbase
        {71, "12", {-1}},                                          // uppercase
        {73, "1 \"2\"", {}},                                       // as-pair
        {98, "1 [a]", {}},                                         // as
        {93, "\"ZYL_CHECKED\" 1", {}},                             // set-env
        {106, "12", {-1, -1, -1, -1, -1, -1, -1}},                 // transcode
        {106, "\"1\" 2", {-1, -1, -1, -1, -1, 1, -1}},             // transcode/into
        {106, "\"1\" [] 2", {-1, -1, -1, -1, -1, -1, 1}},          // transcode/trace
        {87, "\"a\" 'md5 1.5", {2}},                               // checksum/with
    };
    for (const row& r : bad) {
        EXPECT_EQ(call_native(r.n, r.args, 1, r.refs), err(ids::cat_script, ids::script_expect_arg))
            << natives::name(r.n) << " " << r.args;
    }
    EXPECT_EQ(run("get-env \"ZYL_CHECKED\""), "none");
    EXPECT_EQ(call_native(54, "255 2", 1, {1}), "#FF");
    EXPECT_EQ(call_native(106, "\"1 2\" []", 1, {-1, -1, -1, -1, -1, 1, -1}), "[1 2]");
    EXPECT_EQ(call_native(91, "\"abc\"", 1, {-1}), "\"YWJj\"");
}

// }==
// {== transcode

TEST_F(TextTest, TranscodeCallbackThroughCollections) {
    full_stress stress;
    // Sixteen events: prescan, scan and load of each of the four values, prescan and open
    // (close) of each bracket.
    EXPECT_EQ(run("n: 0 cb: func [event input type line token] [n: n + 1 append copy \"x\" mold token true] "
                  "reduce [transcode/trace {a [b \"c\"] 1.5} :cb n]"),
              "[[a [b \"c\"] 1.5] 16]");
    EXPECT_EQ(run("cb: func [e i t l tok] [[load] if tok = 'b [i: skip i 3] true] transcode/trace #{6120622063206420} :cb"),
              "[a b d]");
}

TEST_F(TextTest, TranscodeCallbackThatTakesOtherArgumentCounts) {
    // Fewer arguments than the five: the rest are not passed; more: they are none.
    EXPECT_EQ(run("cb: func [e] [[load] true] transcode/trace \"1 2\" :cb"), "[1 2]");
    EXPECT_EQ(run("cb: func [e i t l tok extra] [[load] none? extra] transcode/trace \"1 2\" :cb"), "[1 2]");
    EXPECT_EQ(run("cb: func [e i t l tok extra] [[load] extra] transcode/trace \"1 2\" :cb"), "[]");
}

// }==
// {== now and the environment

TEST_F(TextTest, NowReadsTheSystemClock) {
    // A day boundary between the two readings is told by the second matching the first.
    for (int attempt = 0; attempt < 3; attempt++) {
        std::time_t t = std::time(nullptr);
        std::tm local{}, utc{};
        localtime_r(&t, &local);
        gmtime_r(&t, &utc);
        std::string got = run("reduce [now/year now/month now/day now/weekday now/yearday now/utc/day now/utc/yearday]");
        std::tm after{};
        std::time_t t2 = std::time(nullptr);
        localtime_r(&t2, &after);
        if (after.tm_yday != local.tm_yday) continue;
        int weekday = local.tm_wday == 0 ? 7 : local.tm_wday;
        std::string want = "[" + std::to_string(local.tm_year + 1900) + " " + std::to_string(local.tm_mon + 1) + " " +
                           std::to_string(local.tm_mday) + " " + std::to_string(weekday) + " " +
                           std::to_string(local.tm_yday + 1) + " " + std::to_string(utc.tm_mday) + " " +
                           std::to_string(utc.tm_yday + 1) + "]";
        EXPECT_EQ(got, want);
        return;
    }
}

TEST_F(TextTest, NowTimeIsTheLocalTimeOfDay) {
    // Local time less the zone is the universal time, give or take a day.
    std::string got = run("t: now/time z: now/zone u: now/utc/time a: absolute t - z - u "
                          "any [a < 0:00:02 (absolute a - 24:00) < 0:00:02]");
    EXPECT_EQ(got, "true");
    EXPECT_EQ(run("now/time/utc/precise < 24:00"), "true");
}

TEST_F(TextTest, EnvironmentNamesWithANulAreRefused) {
    EXPECT_EQ(run("set-env \"ZYL_A^@B\" \"1\""), err(ids::cat_script, ids::script_invalid_arg));
    EXPECT_EQ(run("set-env \"ZYL_AB\" \"1^@2\""), err(ids::cat_script, ids::script_invalid_arg));
    EXPECT_EQ(run("get-env \"ZYL_AB^@\""), err(ids::cat_script, ids::script_invalid_arg));
    EXPECT_EQ(run("get-env \"ZYL_AB\""), "none");
    EXPECT_EQ(run("set-env \"ZYL_AB\" \"ü\" get-env \"ZYL_AB\""), "\"ü\"");
    EXPECT_EQ(run("set-env \"ZYL_AB\" none get-env \"ZYL_AB\""), "none");
}

// }==

} // namespace
