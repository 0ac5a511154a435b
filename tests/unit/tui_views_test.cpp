// tests/unit/tui_views_test.cpp: face trees made in the language, realised as widgets and drawn
// into the grid; handles, updates and destruction; bad faces and bad styles.
#include "gui/terminal/views.h"

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "gui/terminal/face.h"
#include "gui/terminal/face_painter.h"
#include "gui/terminal/timers.h"
#include "runtime/collector.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

struct ViewsTest : TuiTest {
    void SetUp() override {
        TuiTest::SetUp();
        // Faces as the prototype orders their fields.
        eval("proto: make object! [type: 'base offset: 0x0 size: 10x1 text: none image: none color: none "
             "menu: none data: none enabled?: true visible?: true selected: none flags: none options: none "
             "parent: none pane: none state: none rate: none edge: none para: none font: none actors: none "
             "extra: none draw: none] "
             "mk: func [spec] [make proto spec] 0");
        screen_size(scr, 12, 4);
    }
    void TearDown() override {
        free_all_widgets();
        screen_free(scr);
        TuiTest::TearDown();
    }
    std::string render(widget* win) {
        screen_size(scr, scr.width, scr.height);
        collector::collect();
        draw_window(window_of(win));
        return rows(scr);
    }
};

TEST_F(ViewsTest, DrawsAWindowOfFaces) {
    eval("win: mk [type: 'window size: 12x4 pane: reduce ["
         "mk [type: 'group-box offset: 0x0 size: 6x3 text: \"ab\" options: [border-corners round border-color 255.0.0]] "
         "mk [type: 'group-box offset: 6x0 size: 6x3] "
         "mk [type: 'text offset: 1x1 size: 4x1 text: \"hi\" para: make object! [align: 'right v-align: 'top wrap?: false]] "
         "mk [type: 'field offset: 7x1 size: 4x1 text: \"pw\" flags: [password focusable]] "
         "mk [type: 'field offset: 0x3 size: 5x1 text: \"\" options: [hint \"name\"]] "
         "mk [type: 'field offset: 6x3 size: 5x1 text: \"中a\" flags: 'focusable]"
         "]] 0");
    widget* win = realise("win");
    ASSERT_NE(win, nullptr);
    EXPECT_EQ(render(win), "╭ab──╮┌────┐\n│  hi││pw  │\n╰────╯└────┘\nname  中a   \n");
    EXPECT_EQ(screen_at(scr, 0, 0).fg, rgb_to_color(0xFF));   // the frame's colour
    EXPECT_EQ(screen_at(scr, 1, 0).fg, 0u);                   // the title is the font's colour
    EXPECT_EQ(screen_at(scr, 8, 1).attrs & ATTR_PASSWORD, ATTR_PASSWORD);
    EXPECT_EQ(screen_at(scr, 0, 3).attrs & ATTR_DIM, ATTR_DIM); // the hint
    // The first focusable field took the focus; a field's caret sits after its text.
    EXPECT_EQ(scr.caret_col, 9);
    EXPECT_EQ(scr.caret_row, 1);
    eval("win/selected: win-6 win/state/2: 1024 0");
    cell face = global("win");
    update_view(&face);
    render(win);
    EXPECT_EQ(scr.caret_col, 9); // after the wide character and the a: 6 + 3
    EXPECT_EQ(scr.caret_row, 3);
}

TEST_F(ViewsTest, HandlesGoStaleWithTheirWidgets) {
    eval("win: mk [type: 'window size: 12x4 pane: reduce [mk [type: 'text offset: 2x3 size: 3x1]]] 0");
    widget* win = realise("win");
    EXPECT_EQ(eval("win-1/offset"), "(2, 3)"); // the pair became a point
    cell kid = global("win-1");
    cell handle = block::cells_of(field(&kid, F_STATE)->w2)[0];
    EXPECT_NE(resolve(&handle), nullptr);
    int x, y;
    absolute_position(resolve(&handle), x, y);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 3);
    cell face = global("win");
    destroy_view(&face);
    EXPECT_EQ(resolve(&handle), nullptr);
    EXPECT_EQ(widget_of(&kid), nullptr);
    EXPECT_EQ(eval("win-1/state"), "none");
    EXPECT_EQ(window_count(), 0u);
    // A new widget in the same slot does not answer to the old handle.
    eval("win2: mk [type: 'window size: 2x2] 0");
    realise("win2");
    EXPECT_EQ(resolve(&handle), nullptr);
    (void)win;
}

TEST_F(ViewsTest, BadFacesRaise) {
    cell three;
    eval("three: make object! [type: 'base offset: 0x0 size: 1x1] 0");
    three = global("three");
    EXPECT_FALSE(guarded([&] { make_view(&three, nullptr); }));
    EXPECT_EQ(last_error, error_of(error::cat_script, error::script_face_type));
    eval("bad: mk [flags: [all-over sideways]] 0");
    EXPECT_EQ(realise("bad"), nullptr);
    EXPECT_EQ(last_error, error_of(error::cat_script, error::script_invalid_arg));
    cell blk;
    eval("fl: [all-over focusable password no-sync] 0");
    blk = global("fl");
    EXPECT_EQ(get_flags(&blk), FF_ALL_OVER | FF_FOCUSABLE | FF_PASSWORD | FF_NO_SYNC);
    cell n{T_integer, 0, 5, 0};
    EXPECT_EQ(get_flags(&n), 0u);
}

TEST_F(ViewsTest, RichTextStylesStayInTheirCells) {
    struct {
        const char* data;
        const char* bold; // per character of "abcde": B when bold
    } cases[] = {
        {"[bold 3x100 bold]", "..BBB"},
        {"[-5x10 bold]", "BBBB."},
        {"[3x2147483647 bold]", "..BBB"},
        {"[-2147483647x2147483647 bold]", "....."},
        {"[6x1 bold 1x1 italic]", "....."},
        {"[2x2 bold underline 1.2.3 'x \"Mono\" 12 1.5 backdrop 0.0.255]", ".BB.."},
    };
    for (auto& c : cases) {
        eval(std::string("rt: mk [type: 'rich-text size: 5x1 text: \"abcde\" data: ") + c.data + "] 0");
        widget* w = realise("rt");
        ASSERT_NE(w, nullptr) << c.data;
        auto* a = static_cast<cell_array*>(w->data);
        std::string got;
        for (int i = 0; i < 5; i++) got += a->cells[i].attrs & ATTR_BOLD ? 'B' : '.';
        EXPECT_EQ(got, c.bold) << c.data;
    }
    eval("rt: mk [type: 'rich-text size: 5x1 text: \"abcde\" data: [1x2 bold oops]] 0");
    EXPECT_EQ(realise("rt"), nullptr);
    EXPECT_EQ(last_error, error_of(error::cat_script, error::script_draw_invalid));
    EXPECT_EQ(eval("index? err/arg1"), "3");
    eval("rt: mk [type: 'rich-text size: 5x1 text: \"abcde\" data: [1x2 backdrop 5]] 0");
    EXPECT_EQ(realise("rt"), nullptr);
    EXPECT_EQ(eval("index? err/arg1"), "3");
}

TEST_F(ViewsTest, FontsWithoutColourAndHugeImages) {
    eval("win: mk [type: 'window size: 12x4 pane: reduce ["
         "mk [type: 'text size: 4x1 text: \"ab\" font: make object! [name: \"x\" size: 10]] "
         "mk [type: 'base offset: 0x1 size: 100000x100000 image: make image! [4x4 255.0.0]] "
         "mk [type: 'base offset: 4x0 size: 8x1 draw: reduce ['font make object! [a: 1 b: 2] 'text 0x0 \"ok\"]]"
         "]] 0");
    widget* win = realise("win");
    ASSERT_NE(win, nullptr);
    std::string r = render(win);
    EXPECT_EQ(r.substr(0, r.find('\n')), "ab  ok      ");
    // The image's cells stop at the console's size, whatever the face's.
    cell kid = global("win-2");
    widget* img = widget_of(&kid);
    ASSERT_NE(img, nullptr);
    ASSERT_NE(img->extra, nullptr);
    EXPECT_EQ(img->extra->width, scr.columns);
    EXPECT_EQ(img->extra->height, scr.rows);
    EXPECT_EQ(screen_at(scr, 0, 1).cp, 0x2584u);
}

TEST_F(ViewsTest, HelpersRenderChecksAndRadios) {
    // A stand-in for the helpers that allocates while it renders.
    eval("TUI-helpers: make object! ["
         "make-checkbox-ui: func [f] [loop 20 [append/dup copy [] 1 100] rejoin [either f/data [\"[x] \"] [\"[ ] \"] f/text]] "
         "make-radio-ui: func [f] [rejoin [either f/data [\"(*) \"] [\"( ) \"] f/text]]] 0");
    eval("win: mk [type: 'window size: 12x4 pane: reduce ["
         "mk [type: 'check size: 8x1 text: \"on\" data: true flags: 'focusable] "
         "mk [type: 'radio offset: 0x1 size: 8x1 text: \"off\"] "
         "mk [type: 'progress offset: 0x2 size: 8x1 text: \"no ui\"]]] 0");
    widget* win = realise("win");
    ASSERT_NE(win, nullptr);
    EXPECT_EQ(render(win), "[x] on      \n( ) off     \nno ui       \n            \n");
    EXPECT_EQ(screen_at(scr, 0, 0).attrs & ATTR_REVERSE, ATTR_REVERSE); // the focus mark
    EXPECT_EQ(screen_at(scr, 0, 1).attrs & ATTR_REVERSE, 0u);
    eval("win-1/data: false win-1/state/2: 128 0");
    cell kid = global("win-1");
    update_view(&kid);
    EXPECT_EQ(render(win).substr(0, 12), "[ ] on      ");
}

TEST_F(ViewsTest, AnUpdateThatRaisesRestoresAutoSync) {
    eval("system/view: make object! [silent?: false auto-sync?: true] seen: none "
         "TUI-helpers: make object! [make-radio-ui: func [f] [seen: system/view/auto-sync? if f/data [cause-error 'user 'message [\"no\"]] \"( )\"]] 0");
    eval("r: mk [type: 'radio size: 4x1] 0");
    ASSERT_NE(realise("r"), nullptr);
    eval("r/data: true 0");
    cell face = global("r");
    EXPECT_FALSE(guarded([&] { update_view(&face); }));
    EXPECT_EQ(eval("seen"), "false");
    EXPECT_EQ(eval("system/view/auto-sync?"), "true");
}

TEST_F(ViewsTest, ABadDrawIsPrintedOnceUntilTheFaceChanges) {
    eval("win: mk [type: 'window size: 12x4 pane: reduce [mk [type: 'base size: 5x2 draw: [line 1x1]]]] 0");
    widget* win = realise("win");
    ASSERT_NE(win, nullptr);
    auto printed = [&](int repaints) {
        ::testing::internal::CaptureStdout();
        for (int i = 0; i < repaints; i++) render(win);
        std::string out = ::testing::internal::GetCapturedStdout();
        size_t n = 0;
        for (size_t at = out.find("DRAW - invalid"); at != std::string::npos; at = out.find("DRAW - invalid", at + 1)) n++;
        return n;
    };
    EXPECT_EQ(printed(5), 1u);
    eval("win-1/draw: [line 1x1 2x2 box 0x0] win-1/state/2: 4194304 0");
    cell kid = global("win-1");
    update_view(&kid);
    EXPECT_EQ(printed(3), 1u);
    EXPECT_EQ(eval("win-1/state/2"), "0");
}

TEST_F(ViewsTest, FreeingAWidgetRemovesItsTimerWhateverRateHolds) {
    eval("win: mk [type: 'window size: 12x4 pane: reduce [mk [type: 'text size: 3x1 rate: 10]]] 0");
    ASSERT_NE(realise("win"), nullptr);
    EXPECT_EQ(timer_count(), 1u);
    eval("win-1/rate: none 0"); // not synced: the timer is still there
    cell face = global("win");
    destroy_view(&face);
    EXPECT_EQ(timer_count(), 0u);
}

} // namespace
} // namespace zyl::testing
