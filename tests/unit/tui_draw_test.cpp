// tests/unit/tui_draw_test.cpp: the draw dialect in cells on blocks made in the language: the
// position of every kind of bad input, the quiet case, nesting, and what reaches the grid.
#include "gui/terminal/draw_dialect.h"

#include "runtime/cycles.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

struct DrawTest : TuiTest {
    // Draws [src] for an image (raise mode): "ok", or the error and the index of its argument.
    std::string draw(const std::string& src) {
        eval("cmds: " + src);
        cell c = global("cmds"), none{T_none, 0, 0, 0};
        if (guarded([&] { draw_on_image(&none, &c); })) return "ok";
        return last_error + " at " + eval("index? err/arg1");
    }
    std::string invalid(int at) { return error_of(error::cat_script, error::script_draw_invalid) + " at " + std::to_string(at); }
};

TEST_F(DrawTest, BadInputIsReportedWhereItIs) {
    struct {
        const char* commands;
        int at; // 0: accepted
    } cases[] = {
        {"[line 1x1]", 2},            {"[line]", 1},                 {"[line 1x1 2x2 (3.5, 1.5)]", 0},
        {"[box 1x1]", 3},             {"[box 1x1 2x2 5]", 0},        {"[circle 10x5 3 2]", 0},
        {"[circle 10x5]", 3},         {"[rotate 'pen 30]", 0},       {"[rotate 'foo 30]", 2},
        {"[rotate 30 [line 1x1 2x2]]", 0},                           {"[matrix [1 2 3 4 5]]", 1},
        {"[matrix 'pen [1 2 3 4 5]]", 2},                            {"[matrix [1 2 3 4 5 6]]", 0},
        {"[fill-pen linear 1.2.3 4.5.6]", 0},                        {"[fill-pen linear 1x1 0 100 1.2.3 4.5.6 0.5]", 0},
        {"[pen linear 1x1 0 100 1.2.3]", 5},                         {"[pen radial 1.2.3 2x2]", 5},
        {"[line-join foo line-cap round line-pattern 1 2]", 0},      {"[line-width foo]", 2},
        {"[pen]", 2},                 {"[pen 5]", 2},                {"[foo]", 1},
        {"[5]", 1},                   {"[spline 1x1]", 3},           {"[spline]", 2},
        {"[spline 1x1 2x2 closed]", 0}, {"[anti-alias 5]", 1},       {"[anti-alias off]", 0},
        {"[polygon 1x1 2x2]", 3},     {"[image 5]", 2},              {"[shadow on]", 2},
        {"[shadow 2x2 3 4 1.2.3 inset]", 0},                         {"[push]", 2},
        {"[text 1x1 5]", 3},          {"[text 1x1 \"a\" font fnt font make object! []] fnt: make object! [color: 1.2.3]", 7},
        {"[clip 1x1 2x2 intersect [line 1x1 2x2]]", 0},              {"[pen bitmap 5]", 3},
        {"[pen pattern 2x2 tile [line 1x1 2x2]]", 0},                {"[arc 1x1 2x2 0 90 closed curve 1x1 2x2 3x3]", 0},
        {"[transform 1x1 30 2 50% 3x3 [box 1x1 2x2]]", 0},           {"[skew 'fill-pen 1 2 3x3]", 0},
        {"[translate 'pen]", 3},      {"[p: line 1x1 2x2]", 0},
    };
    for (auto& c : cases) EXPECT_EQ(draw(c.commands), c.at ? invalid(c.at) : "ok") << c.commands;
}

TEST_F(DrawTest, ShapeBlocksPositionTheirOwnBlock) {
    EXPECT_EQ(draw("[shape [move 1x1 'line 2x2 3x3 hline 5 arc 1x1 2 3 4 sweep large close]]"), "ok");
    EXPECT_EQ(draw("[shape [move 1x1 curve 1x1 2x2]]"), invalid(4));
    EXPECT_EQ(eval("length? head err/arg1"), "5"); // the shape block, not the draw block
    EXPECT_EQ(draw("[shape [move 1x1 [jump 2x2]]]"), invalid(1));
    EXPECT_EQ(draw("[clip [move 1x1 5]]"), invalid(3));
}

TEST_F(DrawTest, BlocksInsideThemselvesAreInfinite) {
    std::string infinite = error_of(error::cat_script, error::script_draw_infinite);
    EXPECT_EQ(draw("b: [line 1x1 2x2] append/only b b"), infinite + " at 1");
    EXPECT_EQ(draw("a: copy [push] b: reduce ['push a] append/only a b a"), infinite + " at 1");
    EXPECT_EQ(cycles::cs.top, 0u);
    // Deep nesting ends on the cycle stack's limit, not the native stack.
    eval("deep: [] loop 10000 [deep: reduce [deep]] 0");
    cell c = global("deep"), none{T_none, 0, 0, 0};
    EXPECT_FALSE(guarded([&] { draw_on_image(&none, &c); }));
    EXPECT_EQ(last_error, error_of(error::cat_internal, error::internal_too_deep));
    EXPECT_EQ(cycles::cs.top, 0u);
    // In report mode the same depth is printed and ends only that drawing.
    screen s;
    screen_size(s, 2, 2);
    draw_state d;
    d.ox = d.oy = 0;
    d.clip = grid_rect(s);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(run_draw(s, d, &c, true));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("too deep"), std::string::npos);
    EXPECT_EQ(cycles::cs.top, 0u);
    screen_free(s);
}

TEST_F(DrawTest, SilentStopsQuietly) {
    eval("system/view: make object! [silent?: true auto-sync?: true]");
    EXPECT_EQ(draw("[line 1x1]"), "ok");
    eval("system/view/silent?: false");
    EXPECT_EQ(draw("[line 1x1]"), invalid(2));
}

TEST_F(DrawTest, ReportModePaintsAndStops) {
    screen s;
    screen_size(s, 8, 3);
    draw_state d;
    d.ox = 1;
    d.oy = 0;
    d.clip = grid_rect(s);
    eval("cmds: [push [pen 255.0.0] line 0x0 3x0 fill-pen 0.0.255 box 0x1 2x2]");
    cell c = global("cmds");
    EXPECT_TRUE(run_draw(s, d, &c, true));
    EXPECT_EQ(rows(s), " ████   \n ┌─┐    \n └─┘    \n");
    EXPECT_EQ(screen_at(s, 1, 0).fg, rgb_to_color(0xFF));
    EXPECT_EQ(screen_at(s, 2, 1).fg, rgb_to_color(0xFF));
    // A bad command ends the drawing where it is; what was painted stays.
    ::testing::internal::CaptureStdout();
    eval("cmds: [line 0x2 7x2 box 1x1]");
    c = global("cmds");
    EXPECT_FALSE(run_draw(s, d, &c, true));
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("DRAW - invalid input at:"), std::string::npos) << printed;
    EXPECT_EQ(rows(s).substr(rows(s).rfind('\n', rows(s).size() - 2) + 1), " ███████\n");
    EXPECT_EQ(cycles::cs.top, 0u);
    screen_free(s);
}

} // namespace
} // namespace zyl::testing
