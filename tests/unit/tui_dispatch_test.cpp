// tests/unit/tui_dispatch_test.cpp: decoded input dispatched on face trees made in the
// language, with a recording `awake` and a fake clock; widgets freed by handlers; the event
// loop run on timers alone (standard input is no terminal here).
#include "gui/terminal/dispatch.h"

#include <fcntl.h>
#include <unistd.h>

#include "gui/terminal/event_loop.h"
#include "gui/terminal/face.h"
#include "gui/terminal/input_decoder.h"
#include "gui/terminal/timers.h"
#include "gui/terminal/views.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

int64_t fake_now = 1000000;
int64_t fake_clock() { return fake_now; }

struct DispatchTest : TuiTest {
    void SetUp() override {
        TuiTest::SetUp();
        init();
        clock_override = fake_clock;
        fake_now = 1000000;
        reset_pointer();
        loop_level = 0;
        scr.inline_top = 0;
        // A recording `awake`: each event as its type and the face's text as it is then (a
        // field's widget edits it after a key); `answers` maps an event type to what `awake`
        // answers for it, `acts` to code run for it.
        eval("log: copy [] answers: copy [] acts: copy [] "
             "proto: make object! [type: 'base offset: 0x0 size: 10x1 text: none image: none color: none "
             "menu: none data: none enabled?: true visible?: true selected: none flags: none options: none "
             "parent: none pane: none state: none rate: none edge: none para: none font: none actors: none "
             "extra: none draw: none] "
             "mk: func [spec] [make proto spec] "
             "system/view: make object! [screens: none platform: tui-platform auto-sync?: true silent?: false "
             "  awake: func [event /local r t] [t: event/face/text append log reduce [event/type either string? t [copy t] [t]] "
             "    if r: select acts event/type [do bind r 'event] select answers event/type]] "
             "realise: func [face parent /local h] [h: tui-platform/make-view face parent "
             "  face/state: reduce [h 0 none reduce [1]] "
             "  if block? face/pane [foreach k face/pane [realise k h]] h] 0");
    }
    void TearDown() override {
        clear_halt();
        clock_override = nullptr;
        free_all_widgets();
        reset_pointer();
        screen_free(scr);
        loop_level = 0;
        TuiTest::TearDown();
    }
    // Feeds [bytes] through a decoder and dispatches every item, as a loop pass does.
    void type(const std::string& bytes) {
        input_decoder d;
        input_feed(d, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        input_item it;
        while (input_decode(d, &it, 1)) {
            if (it.kind != ITEM_TEXT) {
                dispatch_item(it);
                continue;
            }
            for (const uint8_t *p = it.text, *e = it.text + it.length; p < e;) send_key(nullptr, input_text_char(p), 0);
        }
        input_item last;
        if (input_expire(d, last)) dispatch_item(last);
        input_reset(d);
    }
    std::string log() { return eval("also copy log clear log"); }
    // An SGR mouse report at 1-based column and row.
    static std::string sgr(int code, int col, int row, bool release) {
        return "\x1b[<" + std::to_string(code) + ";" + std::to_string(col) + ";" + std::to_string(row) + (release ? "m" : "M");
    }
    // A window of two buttons side by side and a focusable field below them.
    void two_buttons() {
        eval("win: mk [type: 'window text: \"W\" size: 20x4 pane: reduce ["
             "f: mk [type: 'field text: \"F\" offset: 0x2 size: 8x1 flags: [focusable]] "
             "a: mk [type: 'button text: \"A\" offset: 0x0 size: 5x1] "
             "b: mk [type: 'button text: \"B\" offset: 6x0 size: 5x1 flags: [focusable all-over]]]] "
             "realise win tui-platform/make-null-handle log: copy [] 0");
    }
};

TEST_F(DispatchTest, KeysGoThroughKeyDownThenKeyToTheFocusedWidget) {
    two_buttons();
    type("x\x1b[A\x1b[Z");
    // Unanswered, the key reaches the field's own editing.
    EXPECT_EQ(log(), "[key-down \"F\" key \"F\" key-down \"Fx\" key \"Fx\" key-down \"Fx\" key \"Fx\"]");
    // `done` at key-down stops key and the field's editing; a disabled widget hears nothing.
    eval("answers: [key-down done] 0");
    type("y");
    EXPECT_EQ(log(), "[key-down \"Fx\"]");
    EXPECT_EQ(eval("f/text"), "\"Fx\"");
    eval("f/enabled?: false f/state/2: 256 tui-platform/update-view f 0");
    type("z");
    EXPECT_EQ(log(), "[]");
}

TEST_F(DispatchTest, ControlCUnansweredIsAHaltAndAnsweredIsAKey) {
    two_buttons();
    eval("answers: [key done] 0");
    type("\x03");
    EXPECT_FALSE(halting());
    eval("answers: [] 0");
    type("\x03");
    EXPECT_TRUE(halting());
}

TEST_F(DispatchTest, ClicksDoubleClicksByTheClockAndFocusOnClick) {
    two_buttons();
    // Press and release on B: down and up go to B, then to the window; B makes the click and,
    // focusable, takes the focus from the field.
    type(sgr(0, 8, 1, false) + sgr(0, 8, 1, true));
    EXPECT_EQ(log(), "[down \"B\" down \"W\" up \"B\" click \"B\" unfocus \"F\" focus \"B\" up \"W\"]");
    struct step {
        int64_t after_ms;
        const char* events;
    } steps[] = {
        {100, "[down \"A\" down \"W\" up \"A\" click \"A\" up \"W\"]"}, // B clicked last: no double
        {400, "[down \"A\" down \"W\" up \"A\" click \"A\" dbl-click \"A\" up \"W\"]"}, // within 500 ms
        {100, "[down \"A\" down \"W\" up \"A\" click \"A\" up \"W\"]"},                 // a third: a click
        {600, "[down \"A\" down \"W\" up \"A\" click \"A\" up \"W\"]"},                 // too late
        {499, "[down \"A\" down \"W\" up \"A\" click \"A\" dbl-click \"A\" up \"W\"]"},
    };
    type(sgr(35, 1, 1, false)); // move over A first
    log();
    for (const step& s : steps) {
        fake_now += s.after_ms;
        type(sgr(0, 1, 1, false) + sgr(0, 1, 1, true));
        EXPECT_EQ(log(), s.events) << "after " << s.after_ms << " ms";
    }
}

TEST_F(DispatchTest, MouseReportsOfEveryKind) {
    two_buttons();
    type(sgr(35, 1, 1, false)); // over A
    log();
    struct report {
        std::string bytes;
        const char* events;
    } reports[] = {
        {sgr(64, 2, 1, false), "[wheel \"A\"]"},
        {sgr(65, 2, 1, false), "[wheel \"A\"]"},
        {sgr(66, 2, 1, false), "[]"},             // other buttons: nothing
        {sgr(128, 2, 1, false), "[]"},            // bit 128: nothing, not a left press
        {sgr(35, 20, 4, false), "[over \"A\"]"},   // back to the window: away to A only
        {sgr(35, 19, 4, false), "[]"},            // moving inside the window: nothing new
        {sgr(35, 7, 1, false), "[over \"B\"]"},
        {sgr(35, 8, 1, false), "[over \"B\"]"},   // all-over: every move
    };
    for (const report& r : reports) {
        type(r.bytes);
        EXPECT_EQ(log(), r.events) << r.bytes.substr(1);
    }
    // The wheel's delta and the away flag reach the event.
    eval("acts: [wheel [append log event/picked] over [append log event/away?]] 0");
    type(sgr(64, 2, 1, false) + sgr(65, 2, 1, false) + sgr(35, 2, 1, false));
    EXPECT_EQ(log(), "[wheel \"A\" 1.0 wheel \"A\" -1.0 over \"B\" true over \"A\" false]");
}

TEST_F(DispatchTest, HiddenAndDisabledWidgetsAreSkipped) {
    two_buttons();
    eval("a/visible?: false a/state/2: 512 tui-platform/update-view a "
         "b/enabled?: false b/state/2: 256 tui-platform/update-view b 0");
    type(sgr(0, 1, 1, false) + sgr(0, 1, 1, true) + sgr(0, 8, 1, false) + sgr(0, 8, 1, true));
    // A hidden is not hit: the window gets the press; B disabled hears nothing, the window
    // under it does.
    EXPECT_EQ(log(), "[down \"W\" up \"W\" click \"W\" down \"W\" up \"W\" click \"W\" dbl-click \"W\"]");
}

TEST_F(DispatchTest, HandlersThatFreeWidgetsStopTheDispatch) {
    two_buttons();
    // A click actor that destroys its own window, another that clears the window's pane.
    eval("acts: [click [tui-platform/destroy-view win false]] 0");
    type(sgr(0, 1, 1, false) + sgr(0, 1, 1, true) + "k" + sgr(0, 1, 1, false));
    EXPECT_EQ(log(), "[down \"A\" down \"W\" up \"A\" click \"A\"]"); // the window is gone
    EXPECT_EQ(window_count(), 0u);
    two_buttons();
    eval("acts: [down [foreach k win/pane [tui-platform/destroy-view k false] clear win/pane]] 0");
    type(sgr(0, 1, 1, false) + sgr(0, 1, 1, true) + "k");
    EXPECT_EQ(log(), "[down \"A\" down \"W\" up \"W\" click \"W\" key-down \"W\" key \"W\"]");
    EXPECT_EQ(window_count(), 1u);
}

TEST_F(DispatchTest, AnErrorEscapingAwakeIsPrintedOnceAndTheNextKeyArrives) {
    two_buttons();
    eval("acts: [key-down [either event/key = #\"e\" [1 / 0] [none]]] 0");
    loop_level = 1;
    type("ex");
    EXPECT_EQ(log(), "[key-down \"F\" key-down \"F\" key \"F\"]");
    EXPECT_EQ(loop_level, 0); // the error ends the innermost loop
}

TEST_F(DispatchTest, FocusTraversalThroughSelectedSendsUnfocusAndFocus) {
    two_buttons();
    eval("win/selected: b win/state/2: 1024 tui-platform/update-view win 0");
    EXPECT_EQ(log(), "[unfocus \"F\" focus \"B\"]");
    type("q");
    EXPECT_EQ(log(), "[key-down \"B\" key \"B\"]");
}

// The loop itself, driven by timers (standard input is no terminal under the test runner).
struct LoopTest : DispatchTest {
    void SetUp() override {
        DispatchTest::SetUp();
        clock_override = nullptr;
        scr.fd = open("/dev/null", O_WRONLY); // the frames the loop paints
    }
    void TearDown() override {
        close(scr.fd);
        scr.fd = 1;
        DispatchTest::TearDown();
    }
};

TEST_F(LoopTest, AWindowsEndEndsTheLoopThatWaitsForItAndThoseInside) {
    // The outer window ticks; at its first tick it opens an inner window and waits for it; the
    // inner one closes itself at its second tick; the outer goes on and closes at its third.
    eval("outer: mk [type: 'window text: \"O\" size: 10x2 pane: reduce [t1: mk [text: \"t1\" rate: 10]]] "
         "inner: mk [type: 'window text: \"I\" size: 10x2 pane: reduce [t2: mk [text: \"t2\" rate: 100]]] "
         "n1: n2: 0 "
         "acts: [time [either event/face = t1 [n1: n1 + 1 append log n1 "
         "  if n1 = 1 [realise inner tui-platform/make-null-handle append log tui-platform/do-event-loop false append log 'back] "
         "  if n1 = 3 [tui-platform/destroy-view outer false]] "
         " [n2: n2 + 1 if n2 = 2 [tui-platform/destroy-view inner false]]]] "
         "realise outer tui-platform/make-null-handle log: copy [] 0");
    EXPECT_EQ(eval("tui-platform/do-event-loop false"), "false");
    EXPECT_EQ(log(), "[time \"t1\" 1 time \"t2\" time \"t2\" false back time \"t1\" 2 time \"t1\" 3]");
    EXPECT_EQ(loop_level, 0);
    EXPECT_EQ(window_count(), 0u);
    EXPECT_EQ(eval("outer/state"), "none");
}

TEST_F(LoopTest, AWidgetsEndEndsNoLoopAndTheLoopsEndDropsEveryWidget) {
    eval("win: mk [type: 'window text: \"W\" size: 10x2 pane: reduce [u: mk [text: \"u\" rate: 0:0:0.002] "
         "  t: mk [text: \"t\" rate: 100]]] n: 0 "
         "acts: [time [either event/face = u [tui-platform/destroy-view u false] [n: n + 1 "
         "  if n = 3 [tui-platform/exit-event-loop]]]] "
         "realise win tui-platform/make-null-handle log: copy [] 0");
    EXPECT_EQ(eval("tui-platform/do-event-loop false"), "false");
    EXPECT_EQ(log(), "[time \"u\" time \"t\" time \"t\" time \"t\"]");
    // The outermost loop's end drops the widgets: the faces are realised no more.
    EXPECT_EQ(eval("reduce [win/state t/state]"), "[none none]");
    EXPECT_EQ(window_count(), 0u);
    EXPECT_EQ(timer_count(), 0u);
}

TEST_F(LoopTest, AnErrorInATimerActorEndsTheLoopAndIsPrinted) {
    eval("win: mk [type: 'window text: \"W\" size: 10x2 pane: reduce [t: mk [text: \"t\" rate: 100]]] "
         "acts: [time [1 / 0]] realise win tui-platform/make-null-handle log: copy [] 0");
    EXPECT_EQ(eval("tui-platform/do-event-loop false"), "false");
    EXPECT_EQ(log(), "[time \"t\"]");
    EXPECT_EQ(loop_level, 0);
}

TEST_F(LoopTest, NoWaitWithoutARunningLoopReturnsAtOnce) {
    eval("win: mk [type: 'window size: 10x2 pane: reduce [t: mk [text: \"t\" rate: 1000]]] "
         "realise win tui-platform/make-null-handle 0");
    EXPECT_EQ(eval("tui-platform/do-event-loop true"), "false");
    EXPECT_EQ(log(), "[]");
}

} // namespace
} // namespace zyl::testing
