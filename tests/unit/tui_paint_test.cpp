// tests/unit/tui_paint_test.cpp: the text drawer, escapes in text and the primitives, compared
// with small grids; primitives of huge size cost only their visible cells.
#include "gui/terminal/paint.h"

#include "tui_fixture.h"

namespace zyl::testing {
namespace {

using namespace tui;

struct grid {
    screen s;
    grid(int w, int h) { screen_size(s, w, h); }
    ~grid() { screen_free(s); }
    draw_state state() {
        draw_state d;
        d.ox = d.oy = 0;
        d.clip = grid_rect(s);
        return d;
    }
};

text_span span(const std::u32string& t) { return {reinterpret_cast<const uint8_t*>(t.data()), 4, uint32_t(t.size())}; }

TEST(TuiPaint, TextEscapesSetColoursAndAttributes) {
    grid g(4, 1);
    std::u32string t = U"a\x1b[1;31mb\x1b[0mc";
    draw_text(g.s, span(t), 0, 0, grid_rect(g.s), {MODE_ESCAPES, 0, 0, 0}, false);
    EXPECT_EQ(TuiTest::rows(g.s), "abc \n");
    EXPECT_EQ(screen_at(g.s, 0, 0).attrs, 0u);
    EXPECT_EQ(screen_at(g.s, 1, 0).attrs, ATTR_BOLD);
    EXPECT_EQ(screen_at(g.s, 1, 0).fg, color_16(1));
    EXPECT_EQ(screen_at(g.s, 2, 0).fg, COLOR_DEFAULT);
    // Palette colours, and a sequence cut short by the end of the text.
    grid p(3, 1);
    std::u32string u = U"\x1b[38;5;200mx\x1b[4";
    draw_text(p.s, span(u), 0, 0, grid_rect(p.s), {MODE_ESCAPES, 0, 0, 0}, false);
    EXPECT_EQ(TuiTest::rows(p.s), "x  \n");
    EXPECT_EQ(screen_at(p.s, 0, 0).fg, color_256(200));
}

TEST(TuiPaint, WrappingClippingAndWideCharacters) {
    struct {
        std::u32string text;
        int w, h;
        bool wrap;
        const char* rows;
    } cases[] = {
        {U"ab\x4E2D", 3, 1, false, "ab \n"},            // one column left: the wide one is not drawn
        {U"abcdef\nxy", 4, 2, false, "abcd\nxy  \n"},   // unwrapped: the rest of the line is skipped
        {U"abcdef", 4, 2, true, "abcd\nef  \n"},
        {U"ab\x4E2D" U"c", 3, 2, true, "ab \n中c\n"},
        {U"1\n2\n3", 2, 2, false, "1 \n2 \n"},           // stops at the bottom
    };
    for (auto& c : cases) {
        grid g(c.w, c.h);
        draw_text(g.s, span(c.text), 0, 0, grid_rect(g.s), {0, 0, 0, 0}, c.wrap);
        EXPECT_EQ(TuiTest::rows(g.s), c.rows) << c.w << "x" << c.h;
    }
    // A start left of and above the clip draws only what falls inside it.
    grid g(3, 2);
    std::u32string t = U"abcd\nefgh\nijkl";
    draw_text(g.s, span(t), -1, -1, grid_rect(g.s), {MODE_PASSWORD, 0, 0, 0}, false);
    EXPECT_EQ(TuiTest::rows(g.s), "fgh\njkl\n");
    EXPECT_EQ(screen_at(g.s, 0, 0).attrs, ATTR_PASSWORD);
}

TEST(TuiPaint, Shapes) {
    {
        grid g(22, 10);
        draw_state d = g.state();
        prim_circle(g.s, d, 10, 5, 3);
        int cols_lo = 99, cols_hi = -1, rows_lo = 99, rows_hi = -1;
        for (int r = 0; r < 10; r++)
            for (int c = 0; c < 22; c++)
                if (screen_at(g.s, c, r).cp == 0x2588) {
                    cols_lo = std::min(cols_lo, c), cols_hi = std::max(cols_hi, c);
                    rows_lo = std::min(rows_lo, r), rows_hi = std::max(rows_hi, r);
                }
        EXPECT_EQ(cols_hi - cols_lo + 1, 13);
        EXPECT_EQ(rows_hi - rows_lo + 1, 7);
        EXPECT_EQ(screen_at(g.s, 10, 5).cp, 0u); // filling is off: the inside is untouched
    }
    {
        grid g(5, 5);
        draw_state d = g.state();
        prim_circle(g.s, d, 2, 2, 0);
        EXPECT_EQ(TuiTest::rows(g.s), "     \n     \n     \n     \n     \n");
    }
    {
        grid g(5, 4);
        screen_at(g.s, 2, 1).cp = 'x';
        draw_state d = g.state();
        prim_box(g.s, d, 3, 2, 0, 0); // corners are normalised
        EXPECT_EQ(TuiTest::rows(g.s), "┌──┐ \n│ x│ \n└──┘ \n     \n");
        d.fill_on = true;
        d.fill = color_16(4);
        d.pen_on = false;
        prim_box(g.s, d, 0, 0, 3, 2);
        EXPECT_EQ(screen_at(g.s, 2, 1).cp, uint32_t(' '));
        EXPECT_EQ(screen_at(g.s, 2, 1).bg, color_16(4));
        EXPECT_EQ(screen_at(g.s, 0, 0).cp, 0x250Cu);
    }
    {
        grid g(5, 3);
        draw_state d = g.state();
        d.pen = color_16(1);
        prim_line(g.s, d, 0, 0, 4, 2);
        EXPECT_EQ(TuiTest::rows(g.s), "██   \n  ██ \n    █\n");
        EXPECT_EQ(screen_at(g.s, 0, 0).fg, color_16(1));
    }
}

TEST(TuiPaint, HugeShapesCostTheirVisibleCells) {
    grid g(8, 4);
    draw_state d = g.state();
    d.fill_on = true;
    prim_line(g.s, d, 0, 0, 2000000000, 1);
    EXPECT_EQ(TuiTest::rows(g.s).substr(0, 25), "████████\n");
    prim_circle(g.s, d, 0, 0, 1000000000);
    prim_ellipse_in(g.s, d, -4000000000LL, -4000000000LL, 8000000000LL, 8000000000LL);
    prim_box(g.s, d, -2000000000, -2000000000, 2000000000, 2000000000);
    int64_t xs[3] = {-2000000000, 2000000000, 0}, ys[3] = {-2000000000, -2000000000, 2000000000};
    prim_triangle(g.s, d, xs, ys);
    std::u32string t(100000, U'a');
    prim_text(g.s, d, -2000000000, 0, span(t));
    SUCCEED(); // each of these returns at once: the suite's time limit catches a walk of every point
}

} // namespace
} // namespace zyl::testing
