// tests/unit/trace_events_test.cpp: the evaluator's events as a language handler receives them
// through do/trace: their order, their arguments, and what library functions show of themselves.
#include "started_fixture.h"

namespace zyl::testing {
namespace {

struct TraceEventsTest : StartedTest {
    void SetUp() override {
        StartedTest::SetUp();
        // Logs each event, with a mark for any argument that breaks the rules every event keeps:
        // a reference only for set, prolog, epilog, return and call; a pair for the stack
        // place; offset -1 when there is no block.
        eval("log: copy [] "
             "h: func [event code offset value ref frame] ["
             "  append log event"
             "  if all [not find [set prolog epilog return call] event not none? :ref] [append log 'ref!]"
             "  unless pair? frame [append log 'frame!]"
             "  if all [none? code offset <> -1] [append log 'offset!]"
             "]");
    }
};

TEST_F(TraceEventsTest, AnExpressionInOrder) {
    EXPECT_EQ(eval("do/trace [x: 1 + 2] :h log"),
              "[init enter fetch fetch push fetch open fetch push call return set expr exit end]");
    // the reference and the value of the set and the call
    EXPECT_EQ(eval("log: copy [] h2: func [event code offset value ref frame] [[set call] repend log [event :ref :value]]"
                   " do/trace [x: 1 + 2] :h2 reduce [log/1 log/2 log/4 log/5 log/6]"),
              "[call + set x: 3]");
    // init and end: the traced block, without a position
    EXPECT_EQ(eval("log: copy [] h3: func [event code offset value ref frame] [[init end] repend log [event offset]]"
                   " do/trace [1] :h3 log"),
              "[init -1 end -1]");
}

TEST_F(TraceEventsTest, FunctionsEnterTheirBodies) {
    EXPECT_EQ(eval("f: func [a] [a] do/trace [f 5] :h log"),
              "[init enter fetch open fetch push call prolog enter fetch push expr exit epilog return expr "
              "exit end]");
}

// A library function runs as compiled: its call site's events, nothing from inside it.
TEST_F(TraceEventsTest, ALibraryFunctionShowsOnlyItsCallSite) {
    EXPECT_EQ(eval("do/trace [also 1 2] :h log"),
              "[init enter fetch open fetch push fetch push call return expr exit end]");
}

// Code that a library function hands to do/trace is the user's: it is stepped through.
TEST_F(TraceEventsTest, CodeHandedOverByTheLibraryIsStepped) {
    EXPECT_EQ(eval("system/tools/do-handler [1] :h log"), "[init enter fetch push expr exit end]");
}

TEST_F(TraceEventsTest, ErrorsReachTheHandlerThenTheCaller) {
    EXPECT_EQ(eval("e: try [do/trace [1 / 0] :h] reduce [error? e find log 'error tracing?]"),
              "[true [error] false]");
    EXPECT_EQ(eval("log: copy [] catch [do/trace [catch [throw 5]] :h] log"),
              "[init enter fetch open fetch push call enter fetch open fetch push call throw catch return "
              "expr exit end]");
}

// A path opens and closes a level of its own: both events name the path.
TEST_F(TraceEventsTest, PathLevelsAreNamedByThePath) {
    EXPECT_EQ(eval("o: context [a: 1] log: copy [] "
                   "h4: func [event code offset value ref frame] [[enter exit] repend log [event type? code]]"
                   " do/trace [o/a] :h4 log"),
              "[enter block! enter path! exit path! exit block!]");
}

} // namespace
} // namespace zyl::testing
