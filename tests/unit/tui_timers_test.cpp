// tests/unit/tui_timers_test.cpp: the intervals a face's `rate` gives, firing by due time on a
// fake clock, and timers whose widgets or fellow timers go away while a tick runs.
#include <climits>
#include <vector>

#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/time.h"
#include "gui/terminal/timers.h"
#include "gui/terminal/views.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

std::vector<widget*> fired;
void (*on_fire)(widget*) = nullptr;

void record(widget* w) {
    fired.push_back(w);
    if (on_fire) on_fire(w);
}

struct TimersTest : TuiTest {
    void SetUp() override {
        TuiTest::SetUp();
        fired.clear();
        on_fire = nullptr;
        timer_fired = record;
    }
    void TearDown() override {
        clear_timers();
        timer_fired = nullptr;
        free_all_widgets();
        TuiTest::TearDown();
    }
    static cell integer_cell(int32_t n) { return integer::make_value(n); }
    static cell time_cell(double s) {
        cell c;
        time::make_at(s, &c);
        return c;
    }
    // Sets [w]'s timer to [rate] at [now]; the error's text when it raised.
    std::string set(widget* w, const cell& rate, int64_t now) {
        return guarded([&] { set_rate(w, &rate, now); }) ? "" : last_error;
    }
};

TEST_F(TimersTest, RateGivesAnIntervalWithinOneMillisecondAndTwoToThe31) {
    struct row { cell rate; int32_t ms; } rows[] = {
        {integer_cell(2), 500}, {time_cell(0.5), 500}, {integer_cell(3), 333},
        {integer_cell(1000), 1}, {integer_cell(5000), 1}, {time_cell(0.0001), 1},
        {time_cell(1e12), INT32_MAX}, {cell{T_none, 0, 0, 0}, 0},
    };
    for (const auto& r : rows) {
        int32_t got = -1;
        ASSERT_TRUE(guarded([&] { got = rate_interval(&r.rate); })) << r.ms;
        EXPECT_EQ(got, r.ms);
    }
    widget* w = alloc_widget();
    const std::string bad = error_of(error::cat_script, error::script_invalid_facet_type);
    for (const cell& c : {integer_cell(0), integer_cell(-1), time_cell(0.0), time_cell(-1.0),
                          logic::make_value(true), pair::make_value(1, 1)})
        EXPECT_EQ(set(w, c, 0), bad);
    EXPECT_EQ(timer_count(), 0u);
}

TEST_F(TimersTest, FiresOnItsDueTimesWhateverThePassesAre) {
    widget* w = alloc_widget();
    ASSERT_EQ(set(w, integer_cell(10), 0), ""); // every 100 ms
    EXPECT_EQ(next_due(), 100);
    EXPECT_FALSE(tick_timers(99));
    EXPECT_TRUE(tick_timers(100));
    EXPECT_FALSE(tick_timers(150));
    EXPECT_TRUE(tick_timers(230)); // late by 30: the next stays at 300
    EXPECT_EQ(next_due(), 300);
    EXPECT_TRUE(tick_timers(450)); // a whole interval late: once, then from now
    EXPECT_EQ(next_due(), 550);
    EXPECT_EQ(fired.size(), 3u);

    // Passes every 7 ms (keys typed fast) neither speed it nor lose its remainders.
    fired.clear();
    clear_timers();
    ASSERT_EQ(set(w, integer_cell(100), 0), ""); // every 10 ms
    for (int64_t t = 0; t <= 10000; t += 7) tick_timers(t);
    EXPECT_NEAR(double(fired.size()), 1000.0, 1.0);
}

TEST_F(TimersTest, NoneOrRemovalTakesTheLastTimerOfTheWidget) {
    widget* a = alloc_widget();
    widget* b = alloc_widget();
    set(a, integer_cell(10), 0);
    set(b, integer_cell(10), 0);
    set(a, integer_cell(1), 0);
    set(a, cell{T_none, 0, 0, 0}, 0); // the 1-a-second one goes
    EXPECT_EQ(timer_count(), 2u);
    tick_timers(1000);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0], a);
    EXPECT_EQ(fired[1], b);
}

// A callback that frees another timed widget and removes its timer, or frees one without
// removing it: neither fires afterwards, and nothing freed is read.
TEST_F(TimersTest, ACallbackMayFreeOtherTimedWidgets) {
    static widget *a, *b, *c;
    a = alloc_widget();
    b = alloc_widget();
    c = alloc_widget();
    for (widget* w : {a, b, c}) set(w, integer_cell(10), 0);
    on_fire = [](widget* w) {
        if (w != a) return;
        on_fire = nullptr; // once
        remove_timer(b);
        free_widget(b);
        free_widget(c); // its timer stays, naming no widget
    };
    tick_timers(100);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0], a);
    EXPECT_EQ(timer_count(), 2u);
    fired.clear();
    tick_timers(200);
    EXPECT_EQ(fired.size(), 1u);
}

// A face's `rate` gives its widget a timer when it is made, a change of it replaces the timer
// (a bad one raising before the old one goes), and destruction takes it away.
TEST_F(TimersTest, AFacesRateFollowsItsWidget) {
    eval("proto: make object! [type: 'base offset: 0x0 size: 10x1 text: none image: none color: none "
         "menu: none data: none enabled?: true visible?: true selected: none flags: none options: none "
         "parent: none pane: none state: none rate: none edge: none para: none font: none actors: none "
         "extra: none draw: none] "
         "bad: make proto [rate: -1] f: make proto [rate: 2] 0");
    cell bad = global("bad"), f = global("f");
    EXPECT_FALSE(guarded([&] { make_view(&bad, nullptr); }));
    EXPECT_EQ(last_error, error_of(error::cat_script, error::script_invalid_facet_type));
    EXPECT_EQ(slot_count() == 0 || !widget_at(0), true);
    widget* w = nullptr;
    ASSERT_TRUE(guarded([&] { w = make_view(&f, nullptr); }));
    cell h;
    handle_of(w, &h);
    set_global("h", &h);
    EXPECT_EQ(timer_count(), 1u);
    eval("f/rate: 0 f/state: reduce [h 65536] 0"); // bit 16: the rate changed
    f = global("f");
    EXPECT_FALSE(guarded([&] { update_view(&f); }));
    EXPECT_EQ(timer_count(), 1u);
    eval("f/rate: 0:0:0.5 0");
    f = global("f");
    ASSERT_TRUE(guarded([&] { update_view(&f); }));
    EXPECT_EQ(timer_count(), 1u);
    EXPECT_EQ(next_due() - monotonic_ms() <= 500, true);
    ASSERT_TRUE(guarded([&] { destroy_view(&f); }));
    EXPECT_EQ(timer_count(), 0u);
}

} // namespace
} // namespace zyl::testing
