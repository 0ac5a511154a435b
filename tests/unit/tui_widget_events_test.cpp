// tests/unit/tui_widget_events_test.cpp: each widget type's own event handling, on faces made in
// the language, with synthetic events and recording stand-ins for the dispatcher's sends.
#include "gui/terminal/widget_events.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/word.h"
#include "gui/terminal/face.h"
#include "gui/terminal/views.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

struct sent {
    uint32_t type;
    int64_t value;
    bool operator==(const sent&) const = default;
};

std::vector<sent> sends_seen;
// Language run by the select stand-in (an actor), and what the stand-in answers for `select`.
std::string on_select;
bool select_done = false;

struct WidgetEventsTest : TuiTest {
    void SetUp() override {
        TuiTest::SetUp();
        eval("proto: make object! [type: 'base offset: 0x0 size: 10x1 text: none image: none color: none "
             "menu: none data: none enabled?: true visible?: true selected: none flags: none options: none "
             "parent: none pane: none state: none rate: none edge: none para: none font: none actors: none "
             "extra: none draw: none] "
             "mk: func [spec] [make proto spec] "
             "updates: 0 "
             "TUI-helpers: make object! ["
             "make-text-list-ui: func [f] [updates: updates + 1 loop 5 [append/dup copy [] 1 50] \"list\"] "
             "make-checkbox-ui: func [f] [updates: updates + 1 either f/data [\"[x]\"] [\"[ ]\"]] "
             "make-radio-ui: func [f] [updates: updates + 1 either f/data [\"(*)\"] [\"( )\"]]] 0");
        screen_size(scr, 12, 6);
        sends_seen.clear();
        on_select.clear();
        select_done = false;
        sends.value_event = [](uint32_t type, widget*, int64_t value) {
            sends_seen.push_back({type, value});
            if (type == EV_SELECT && !on_select.empty()) eval(on_select);
            return type == EV_SELECT && select_done;
        };
        sends.mouse_event = [](uint32_t type, widget*, float x, float y, uint32_t) {
            sends_seen.push_back({type, int64_t(x) * 1000 + int64_t(y)});
            return false;
        };
    }
    void TearDown() override {
        sends = {};
        free_all_widgets();
        screen_free(scr);
        TuiTest::TearDown();
    }
    static widget* of(const char* name) {
        cell face = global(name);
        return widget_of(&face);
    }
    bool key(const char* name, int32_t k) {
        widget_event ev;
        ev.key = k;
        bool handled = false;
        EXPECT_TRUE(guarded([&] { handled = widget_on_event(of(name), EV_KEY, ev); })) << last_error;
        return handled;
    }
    void keys(const char* name, std::initializer_list<int32_t> ks) {
        for (int32_t k : ks) key(name, k);
    }
    bool click(const char* name, float x, float y) {
        widget_event ev;
        ev.x = x, ev.y = y;
        bool handled = false;
        EXPECT_TRUE(guarded([&] { handled = widget_on_event(of(name), EV_CLICK, ev); })) << last_error;
        return handled;
    }
    // The caret of field [name]: index, column, width.
    static std::string caret(const char* name) {
        auto* e = static_cast<edit_state*>(of(name)->data);
        return std::to_string(e->index) + " " + std::to_string(e->col) + " " + std::to_string(e->width);
    }
};

constexpr int32_t UP = -20, DOWN = -21, RIGHT = -22, LEFT = -23;
constexpr int32_t WIDE = 0x4E2D; // two cells

TEST_F(WidgetEventsTest, AFieldKeepsItsTextToItsWidth) {
    eval("f: mk [type: 'field size: 5x1 text: \"abcde\"] 0");
    ASSERT_NE(realise("f"), nullptr);
    EXPECT_EQ(caret("f"), "5 5 5");
    key("f", 'x');
    EXPECT_EQ(eval("f/text"), "\"abcde\"");
    key("f", 127);
    key("f", 'x');
    EXPECT_EQ(eval("f/text"), "\"abcdx\"");
    // Left stops at the start and right at the end; typing inserts at the caret.
    keys("f", {LEFT, LEFT, LEFT, LEFT, LEFT, LEFT, 2});
    EXPECT_EQ(caret("f"), "0 0 5");
    keys("f", {RIGHT, 6, 8});
    EXPECT_EQ(eval("f/text"), "\"acdx\"");
    keys("f", {RIGHT, RIGHT, RIGHT, RIGHT, RIGHT});
    EXPECT_EQ(caret("f"), "4 4 4");
    keys("f", {LEFT, LEFT, 'Y'});
    EXPECT_EQ(eval("f/text"), "\"acYdx\"");
    EXPECT_EQ(caret("f"), "3 3 5");
    // Tab, Enter and no key are left to others; other controls and specials change nothing.
    for (int32_t k : {0, 9, 13}) EXPECT_FALSE(key("f", k)) << k;
    keys("f", {10, 1, 27, UP, DOWN, -24, -25, -27, 0x110000});
    EXPECT_EQ(eval("f/text"), "\"acYdx\"");
    EXPECT_EQ(caret("f"), "3 3 5");
}

TEST_F(WidgetEventsTest, WideCharactersMoveTheCaretByTheirWidth) {
    eval("f: mk [type: 'field size: 6x1 text: \"a\"] 0");
    ASSERT_NE(realise("f"), nullptr);
    key("f", WIDE);
    EXPECT_EQ(caret("f"), "2 3 3");
    key("f", 127); // one character goes, two cells
    EXPECT_EQ(eval("f/text"), "\"a\"");
    EXPECT_EQ(caret("f"), "1 1 1");
    keys("f", {WIDE, WIDE, WIDE, 'b'}); // the third wide one does not fit, b does
    EXPECT_EQ(eval("f/text"), "\"a中中b\"");
    EXPECT_EQ(caret("f"), "4 6 6");
    keys("f", {LEFT, LEFT, 127});
    EXPECT_EQ(eval("f/text"), "\"a中b\"");
    EXPECT_EQ(caret("f"), "1 1 4");
    keys("f", {RIGHT});
    EXPECT_EQ(caret("f"), "2 3 4");
    // The screen's caret follows the column when the field has the focus.
    of("f")->flags |= WF_FOCUSED;
    of("f")->on_draw(of("f"), 2, 1);
    EXPECT_EQ(scr.caret_col, 5);
}

TEST_F(WidgetEventsTest, AClickPutsTheCaretAtTheCharacterUnderIt) {
    eval("f: mk [type: 'field size: 8x1 text: \"a中bc\"] 0");
    ASSERT_NE(realise("f"), nullptr);
    struct {
        float x;
        const char* caret;
    } cases[] = {{0, "0 0 5"}, {1, "1 1 5"}, {2.9f, "1 1 5"}, {3, "2 3 5"}, {4.5f, "3 4 5"},
                 {100, "4 5 5"}, {-3, "0 0 5"}};
    for (auto& c : cases) {
        EXPECT_TRUE(click("f", c.x, 0));
        EXPECT_EQ(caret("f"), c.caret) << c.x;
    }
}

TEST_F(WidgetEventsTest, AFieldEditsThroughTheSeriesCallsItsOwnerHears) {
    eval("log: [] "
         "f: make proto [type: 'field size: 6x1 text: \"ab\" "
         "on-deep-change*: func [owner word target action new index part] [append/only log reduce [word action index part]]] 0");
    ASSERT_NE(realise("f"), nullptr);
    keys("f", {LEFT, 'x', 127});
    EXPECT_EQ(eval("f/text"), "\"ab\"");
    EXPECT_EQ(eval("log"), "[[text insert 1 0] [text inserted 1 1] [text remove 1 1] [text removed 1 1]]");
    // A field whose text is no string gets a new one first.
    eval("g: mk [type: 'field size: 6x1] 0");
    ASSERT_NE(realise("g"), nullptr);
    key("g", 'q');
    EXPECT_EQ(eval("g/text"), "\"q\"");
    // A script that shortened the text leaves the caret past it: it is cut to the text.
    eval("f/text: \"z\" 0");
    of("f")->flags |= WF_FOCUSED;
    of("f")->on_draw(of("f"), 0, 0);
    EXPECT_EQ(scr.caret_col, 1);
    keys("f", {127, 127, 'k'});
    EXPECT_EQ(eval("f/text"), "\"k\"");
    EXPECT_EQ(caret("f"), "1 1 1");
}

TEST_F(WidgetEventsTest, ListsMoveTheirSelectionAndScroll) {
    eval("lst: mk [type: 'text-list size: 6x5 data: [\"a\" \"b\" \"c\" \"d\" \"e\" \"f\" \"g\" \"h\"]] 0");
    ASSERT_NE(realise("lst"), nullptr);
    // Up from none stays; down from none is the first line.
    key("lst", UP);
    EXPECT_EQ(eval("lst/selected"), "none");
    EXPECT_TRUE(sends_seen.empty());
    key("lst", DOWN);
    EXPECT_EQ(eval("lst/selected"), "1");
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_SELECT, 1}, {EV_CHANGE, 1}}));
    // Line 3 of a list scrolled by 2 is line 6.
    sends_seen.clear();
    of("lst")->value = 2;
    eval("updates: 0");
    EXPECT_TRUE(click("lst", 1, 3));
    EXPECT_EQ(eval("lst/selected"), "6");
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_SELECT, 6}, {EV_CHANGE, 6}}));
    EXPECT_EQ(eval("updates"), "1");
    // Past the last item: nothing.
    sends_seen.clear();
    click("lst", 0, 6.5f);
    click("lst", 0, 1e30f);
    EXPECT_EQ(eval("lst/selected"), "6");
    EXPECT_TRUE(sends_seen.empty());
    // Down past the visible lines scrolls one; up above them too; at the ends nothing moves.
    keys("lst", {DOWN, DOWN});
    EXPECT_EQ(eval("lst/selected"), "8");
    EXPECT_EQ(of("lst")->value, 3);
    keys("lst", {DOWN, UP, UP, UP, UP, UP, UP});
    EXPECT_EQ(eval("lst/selected"), "2");
    EXPECT_EQ(of("lst")->value, 1);
    keys("lst", {UP, UP});
    EXPECT_EQ(eval("lst/selected"), "1");
    EXPECT_EQ(of("lst")->value, 0);
    EXPECT_FALSE(key("lst", 'a'));
}

TEST_F(WidgetEventsTest, ListActorsAnsweringSelectDecide) {
    eval("lst: mk [type: 'text-list size: 6x3 data: [\"a\" \"b\" \"c\"] selected: 1] 0");
    ASSERT_NE(realise("lst"), nullptr);
    // Answered done: the line is taken, no change is sent.
    select_done = true;
    key("lst", DOWN);
    EXPECT_EQ(eval("lst/selected"), "2");
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_SELECT, 2}}));
    // An actor that sets the selection itself keeps its value.
    sends_seen.clear();
    select_done = false;
    on_select = "lst/selected: 1 0";
    key("lst", DOWN);
    EXPECT_EQ(eval("lst/selected"), "1");
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_SELECT, 3}}));
    // An actor that destroys the list's window: the handler stops there.
    eval("win: mk [type: 'window size: 12x6 pane: reduce [mk [type: 'text-list size: 6x3 data: [1 2 3]]]] 0");
    ASSERT_NE(realise("win"), nullptr);
    on_select.clear();
    cell win = global("win");
    sends.value_event = [](uint32_t type, widget*, int64_t value) {
        sends_seen.push_back({type, value});
        cell face = global("win");
        destroy_view(&face);
        return false;
    };
    sends_seen.clear();
    EXPECT_TRUE(key("win-1", DOWN));
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_SELECT, 1}}));
    EXPECT_EQ(widget_of(&win), nullptr);
    EXPECT_EQ(eval("win-1/selected"), "none");
}

TEST_F(WidgetEventsTest, ChecksToggleAndRadiosSelect) {
    eval("c: mk [type: 'check size: 4x1] r: mk [type: 'radio size: 4x1 data: false] "
         "b: mk [type: 'check size: 4x1 data: 5] 0");
    ASSERT_NE(realise("c"), nullptr);
    ASSERT_NE(realise("r"), nullptr);
    ASSERT_NE(realise("b"), nullptr);
    struct {
        const char* face;
        uint32_t type;
        int32_t key;
        bool handled;
        const char* data;
    } cases[] = {
        {"c", EV_KEY, 32, true, "true"},  {"c", EV_KEY, 32, true, "false"}, {"c", EV_CLICK, 0, true, "true"},
        {"c", EV_KEY, 'a', false, "true"}, {"c", EV_FOCUS, 0, true, "true"}, {"b", EV_KEY, 32, true, "false"},
        {"r", EV_CLICK, 0, true, "true"}, {"r", EV_KEY, 32, true, "true"},
    };
    for (auto& c : cases) {
        sends_seen.clear();
        widget_event ev;
        ev.key = c.key;
        scr.redraw = false;
        EXPECT_EQ(widget_on_event(of(c.face), c.type, ev), c.handled) << c.face << c.type << c.key;
        EXPECT_EQ(eval(std::string(c.face) + "/data"), c.data) << c.face << c.type << c.key;
        bool toggled = c.handled && c.type != EV_FOCUS;
        EXPECT_EQ(sends_seen.size(), toggled ? 1u : 0u);
        if (toggled) {
            EXPECT_EQ(sends_seen[0], (sent{EV_CHANGE, 0}));
        }
        EXPECT_EQ(scr.redraw, c.handled);
    }
    // The rendering was made again from the new value.
    EXPECT_NE(of("r")->ui, 0u);
    cell ui{T_string, 0, of("c")->ui, 0};
    set_global("ui", &ui);
    EXPECT_EQ(eval("ui"), "\"[x]\"");
}

TEST_F(WidgetEventsTest, AButtonClicksOnSpace) {
    eval("b: mk [type: 'button size: 4x1 text: \"ok\"] 0");
    ASSERT_NE(realise("b"), nullptr);
    EXPECT_FALSE(key("b", 'a'));
    EXPECT_TRUE(sends_seen.empty());
    EXPECT_TRUE(scr.redraw);
    EXPECT_TRUE(key("b", 32));
    EXPECT_EQ(sends_seen, (std::vector<sent>{{EV_CLICK, 0}}));
    // Types without handling answer false.
    eval("t: mk [type: 'text size: 4x1] 0");
    ASSERT_NE(realise("t"), nullptr);
    EXPECT_FALSE(key("t", 32));
    EXPECT_FALSE(widget_on_event(nullptr, EV_KEY, widget_event{}));
}

TEST_F(WidgetEventsTest, ListDataChangesKeepTheListOnItsItems) {
    eval("lst: mk [type: 'text-list size: 6x3 data: [1 2 3 4 5 6 7 8] selected: 8] 0");
    ASSERT_NE(realise("lst"), nullptr);
    of("lst")->value = 5;
    auto facet = [&](const char* change, int32_t part) {
        eval(change);
        cell face = global("lst"), w = word::load("data"), data = *field(&face, F_DATA);
        ASSERT_TRUE(guarded([&] { update_facet(&face, &w, &data, part); })) << last_error;
    };
    facet("remove/part skip lst/data 3 5 0", 5);
    EXPECT_EQ(eval("lst/selected"), "3");
    EXPECT_EQ(of("lst")->value, 0);
    facet("clear lst/data 0", 3);
    EXPECT_EQ(eval("lst/selected"), "none");
    // A drop-list told of no part is not updated: its change bits stay.
    eval("d: mk [type: 'drop-list size: 6x1 data: [1 2]] 0");
    ASSERT_NE(realise("d"), nullptr);
    eval("d/state/2: 128 0");
    cell d = global("d"), w = word::load("data"), data = *field(&d, F_DATA);
    update_facet(&d, &w, &data, 0);
    EXPECT_EQ(eval("d/state/2"), "128");
    update_facet(&d, &w, &data, 1);
    EXPECT_EQ(eval("d/state/2"), "0");
}

} // namespace
} // namespace zyl::testing
