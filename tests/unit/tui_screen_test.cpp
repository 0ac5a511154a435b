// tests/unit/tui_screen_test.cpp: the terminal UI's painter: exact bytes of small frames, the
// colour conversion, and frames painted whole or by their changes leaving the same screen.
#include "gui/terminal/screen.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace zyl::tui {
namespace {

// A screen whose frames are written into a memory file, read back by take().
struct captured {
    screen s;
    captured(int w, int h, bool fullscreen = false) {
        s.fd = memfd_create("frames", 0);
        s.fullscreen = fullscreen;
        screen_size(s, w, h);
    }
    ~captured() {
        close(s.fd);
        screen_free(s);
    }
    std::string take() {
        off_t n = lseek(s.fd, 0, SEEK_CUR);
        std::string text(size_t(n), '\0');
        EXPECT_EQ(pread(s.fd, text.data(), size_t(n), 0), n);
        EXPECT_EQ(ftruncate(s.fd, 0), 0);
        lseek(s.fd, 0, SEEK_SET);
        return text;
    }
    void put(int col, int row, uint32_t cp, uint32_t fg = 0, uint32_t bg = 0, uint32_t attrs = 0) {
        screen_at(s, col, row) = screen_cell{cp, bg, fg, attrs};
    }
};

TEST(TuiScreen, PaintsTheExactBytes) {
    struct {
        const char* name;
        int w, h;
        std::vector<screen_cell> cells; // row by row
        const char* bytes;
    } cases[] = {
        {"empty cell as space, password as star", 3, 1, {{'a', 0, 0, 0}, {0, 0, 0, 0}, {'x', 0, 0, ATTR_PASSWORD}},
         "\r\x1b[0Ja *"},
        {"continuation not painted", 3, 1, {{0x4E2D, 0, 0, 0}, {0, 0, 0, ATTR_CONTINUATION}, {'b', 0, 0, 0}},
         "\r\x1b[0J\xe4\xb8\xad" "b"},
        {"only the background differs", 2, 1, {{'a', color_16(1), 0, 0}, {'b', color_16(2), 0, 0}},
         "\r\x1b[0J\x1b[41ma\x1b[42mb\x1b[49m"},
        {"bright white", 1, 1, {{'w', color_16(17), color_16(17), 0}}, "\r\x1b[0J\x1b[97m\x1b[107mw\x1b[39m\x1b[49m"},
        {"palette and true colour", 2, 1, {{'p', 0, color_256(200), 0}, {'t', color_rgb(1, 2, 3), 0, 0}},
         "\r\x1b[0J\x1b[38;5;200mp\x1b[39m\x1b[48;2;1;2;3mt\x1b[49m"},
        {"bold kept while dim ends", 2, 1, {{'a', 0, 0, ATTR_BOLD | ATTR_DIM}, {'b', 0, 0, ATTR_BOLD}},
         "\r\x1b[0J\x1b[2m\x1b[1ma\x1b[22m\x1b[1mb\x1b[22m"},
        {"dim kept while bold ends", 2, 1, {{'a', 0, 0, ATTR_BOLD}, {'b', 0, 0, ATTR_DIM}},
         "\r\x1b[0J\x1b[1ma\x1b[2m\x1b[22m\x1b[2mb\x1b[22m"},
        {"attribute order", 1, 1, {{'z', 0, 0, ATTR_REVERSE | ATTR_ITALIC | ATTR_STRIKE | ATTR_UNDERLINE}},
         "\r\x1b[0J\x1b[7m\x1b[3m\x1b[9m\x1b[4mz\x1b[27m\x1b[23m\x1b[29m\x1b[24m"},
        {"rows re-emit their background", 1, 2, {{'a', color_16(4), 0, 0}, {'b', color_16(4), 0, 0}},
         "\r\x1b[0J\x1b[44ma\x1b[49m\r\n\x1b[44mb\x1b[49m"},
    };
    for (auto& c : cases) {
        captured cap(c.w, c.h);
        for (int i = 0; i < c.w * c.h; i++) cap.s.grid[i] = c.cells[size_t(i)];
        paint(cap.s, false);
        EXPECT_EQ(cap.take(), std::string("\x1b[?25l") + c.bytes) << c.name;
        EXPECT_EQ(cap.s.lines_drawn, c.h - 1) << c.name;
    }
}

TEST(TuiScreen, PlacementCaretAndLeaving) {
    captured cap(4, 3);
    cap.s.lines_drawn = 7;
    screen_size(cap.s, 0, 3); // nothing to paint: nothing written, lines_drawn kept
    paint(cap.s, false);
    EXPECT_EQ(cap.take(), "");
    EXPECT_EQ(cap.s.lines_drawn, 7);

    screen_size(cap.s, 4, 3);
    cap.s.caret_col = 2;
    cap.s.caret_row = 1;
    paint_full(cap.s, true);
    std::string frame(cap.s.out.data, cap.s.out.size);
    cap.s.out.size = 0;
    EXPECT_EQ(frame, "\r\x1b[7A\x1b[0J    \x1b[49m\r\n    \x1b[49m\r\n    \r\x1b[1A\x1b[2C");
    EXPECT_EQ(cap.s.lines_drawn, 1);

    // The caret on row 0: leaving moves below the UI.
    cap.s.caret_row = 0;
    cap.s.lines_drawn = 0;
    leave_screen(cap.s);
    EXPECT_EQ(cap.take(), "\x1b[3B\r\n");
    cap.s.caret_row = -1;
    leave_screen(cap.s);
    EXPECT_EQ(cap.take(), "\r\n");

    // Inline drawing that would run past the last row moves up; fullscreen starts at the top.
    cap.s.rows = 24;
    cap.s.inline_top = 22;
    place_inline(cap.s);
    EXPECT_EQ(cap.s.inline_top, 21);
    cap.s.fullscreen = true;
    cap.s.painted_valid = false;
    paint(cap.s, false);
    EXPECT_EQ(cap.take().substr(0, 9), "\x1b[?25l\x1b[H");
}

TEST(TuiScreen, ErasingTheDrawing) {
    captured cap(2, 3);
    erase_drawn_lines(cap.s); // nothing drawn yet
    EXPECT_EQ(cap.take(), "");
    paint(cap.s, false);
    cap.take();
    erase_drawn_lines(cap.s);
    EXPECT_EQ(cap.take(), "\r\x1b[2A\x1b[0J");
    EXPECT_EQ(cap.s.lines_drawn, 0);
    EXPECT_FALSE(cap.s.painted_valid);
}

TEST(TuiScreen, RgbToPalette) {
    auto rgb = [](uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0) { return r | g << 8 | b << 16 | a << 24; };
    EXPECT_EQ(rgb_to_color(rgb(255, 255, 255)), color_256(231));
    EXPECT_EQ(rgb_to_color(rgb(128, 128, 128)), color_256(244));
    EXPECT_EQ(rgb_to_color(rgb(10, 20, 30, 255)), COLOR_DEFAULT);
    EXPECT_EQ(rgb_to_color(rgb(0, 0, 0)), color_256(16));
    EXPECT_EQ(rgb_to_color(rgb(255, 0, 0)), color_256(196));
    EXPECT_EQ(rgb_to_color(rgb(0, 0, 255)), color_256(21)); // blue is bits 16-23
    EXPECT_EQ(palette_rgb(9), 0xFF0000u);
    EXPECT_EQ(palette_rgb(244), 0x808080u);
}

// {== A small terminal: what the painter's bytes leave on a screen

struct term_cell {
    uint32_t cp = ' ';
    std::string fg, bg;
    uint32_t attrs = 0;
    bool operator==(const term_cell&) const = default;
};

struct terminal_model {
    int cols, rows, x = 0, y = 0;
    bool wrap = false;
    term_cell pen;
    std::vector<term_cell> cells;
    terminal_model(int c, int r) : cols(c), rows(r), cells(size_t(c * r)) {}

    term_cell& at(int cx, int cy) { return cells[size_t(cy * cols + cx)]; }
    void newline() {
        if (++y == rows) {
            cells.erase(cells.begin(), cells.begin() + cols);
            cells.resize(size_t(cols * rows));
            y = rows - 1;
        }
    }
    void sgr(const std::vector<int>& p) {
        for (size_t i = 0; i < p.size(); i++) {
            int n = p[i];
            auto colour = [&](std::string& slot) {
                std::string s = std::to_string(n);
                if (i + 1 < p.size() && p[i + 1] == 5) {
                    s += ";5;" + std::to_string(p[i + 2]);
                    i += 2;
                } else if (i + 1 < p.size() && p[i + 1] == 2) {
                    s += ";2;" + std::to_string(p[i + 2]) + ";" + std::to_string(p[i + 3]) + ";" + std::to_string(p[i + 4]);
                    i += 4;
                }
                slot = s;
            };
            if (n == 0) pen = term_cell{};
            else if (n == 1) pen.attrs |= ATTR_BOLD;
            else if (n == 2) pen.attrs |= ATTR_DIM;
            else if (n == 22) pen.attrs &= ~(ATTR_BOLD | ATTR_DIM);
            else if (n == 3 || n == 23) pen.attrs = n == 3 ? pen.attrs | ATTR_ITALIC : pen.attrs & ~ATTR_ITALIC;
            else if (n == 4 || n == 24) pen.attrs = n == 4 ? pen.attrs | ATTR_UNDERLINE : pen.attrs & ~ATTR_UNDERLINE;
            else if (n == 7 || n == 27) pen.attrs = n == 7 ? pen.attrs | ATTR_REVERSE : pen.attrs & ~ATTR_REVERSE;
            else if (n == 9 || n == 29) pen.attrs = n == 9 ? pen.attrs | ATTR_STRIKE : pen.attrs & ~ATTR_STRIKE;
            else if (n == 39) pen.fg.clear();
            else if (n == 49) pen.bg.clear();
            else if ((n >= 30 && n <= 38) || (n >= 90 && n <= 97)) colour(pen.fg);
            else if ((n >= 40 && n <= 48) || (n >= 100 && n <= 107)) colour(pen.bg);
        }
    }
    void print(uint32_t cp) {
        bool wide = cp >= 0x1100;
        if (wrap) {
            x = 0;
            newline();
            wrap = false;
        }
        term_cell c = pen;
        c.cp = cp;
        at(x, y) = c;
        if (wide && x + 1 < cols) {
            c.cp = 0; // the right half
            at(x + 1, y) = c;
        }
        x += wide ? 2 : 1;
        if (x >= cols) {
            x = cols - 1;
            wrap = true;
        }
    }
    void feed(const std::string& b) {
        for (size_t i = 0; i < b.size();) {
            auto u = uint8_t(b[i]);
            if (u == '\r') { x = 0; wrap = false; i++; continue; }
            if (u == '\n') { newline(); wrap = false; i++; continue; }
            if (u == 0x1b) {
                size_t j = i + 2;
                bool priv = b[j] == '?';
                if (priv) j++;
                std::vector<int> p{0};
                for (; !(b[j] >= '@' && b[j] <= '~'); j++) {
                    if (b[j] == ';') p.push_back(0);
                    else p.back() = p.back() * 10 + (b[j] - '0');
                }
                char f = b[j];
                i = j + 1;
                if (priv) continue;
                int n = p[0] ? p[0] : 1;
                wrap = f == 'm' && wrap;
                if (f == 'A') y = std::max(0, y - n);
                if (f == 'B') y = std::min(rows - 1, y + n);
                if (f == 'C') x = std::min(cols - 1, x + n);
                if (f == 'G') x = std::min(cols - 1, n - 1);
                if (f == 'H') x = y = 0;
                if (f == 'J')
                    for (size_t k = size_t(y * cols + x); k < cells.size(); k++) cells[k] = term_cell{};
                if (f == 'm') sgr(p);
                continue;
            }
            uint32_t cp = u;
            int len = u < 0x80 ? 1 : u < 0xE0 ? 2 : u < 0xF0 ? 3 : 4;
            if (len > 1) cp = u & (0x3F >> (len - 1));
            for (int k = 1; k < len; k++) cp = (cp << 6) | (uint8_t(b[i + size_t(k)]) & 0x3F);
            print(cp);
            i += size_t(len);
        }
    }
};

// }==

// Fills the grid with a frame that differs from the last one in a few random cells.
void random_changes(screen& s, std::mt19937& rng, int count) {
    static const uint32_t chars[] = {'a', 'b', 'Z', ' ', 0, 0x4E2D, 0xE9, 0x1F600};
    static const uint32_t colours[] = {0, color_16(1), color_16(8), color_16(9), color_16(12), color_256(100),
                                       color_rgb(10, 200, 30), color_256(7)};
    for (int k = 0; k < count; k++) {
        int col = int(rng() % uint32_t(s.width)), row = int(rng() % uint32_t(s.height));
        screen_cell c{chars[rng() % 8], colours[rng() % 8], colours[rng() % 8], 0};
        static const uint32_t bits[] = {ATTR_BOLD, ATTR_DIM, ATTR_REVERSE, ATTR_UNDERLINE, ATTR_STRIKE, ATTR_ITALIC};
        for (uint32_t b : bits)
            if (rng() % 3 == 0) c.attrs |= b;
        if (rng() % 16 == 0) c.attrs |= ATTR_PASSWORD;
        if (c.cp >= 0x1100 && col + 1 >= s.width) c.cp = 'w';
        // A cell that was half of a wide character takes the whole of it.
        if (screen_at(s, col, row).attrs & ATTR_CONTINUATION) screen_at(s, col - 1, row).cp = 'h';
        if (col + 1 < s.width && (screen_at(s, col + 1, row).attrs & ATTR_CONTINUATION)) screen_at(s, col + 1, row) = {};
        screen_at(s, col, row) = c;
        if (c.cp >= 0x1100) {
            if (col + 2 < s.width && (screen_at(s, col + 2, row).attrs & ATTR_CONTINUATION)) screen_at(s, col + 2, row) = {};
            screen_at(s, col + 1, row) = screen_cell{0, c.bg, c.fg, c.attrs | ATTR_CONTINUATION};
        }
    }
}

TEST(TuiScreen, ChangesLeaveTheSameScreenAsWholeFrames) {
    for (bool fullscreen : {false, true}) {
        for (auto [w, h] : {std::pair{12, 5}, std::pair{30, 8}}) {
            std::mt19937 rng(uint32_t(w * 31 + h + fullscreen));
            captured diffed(w, h, fullscreen), whole(w, h, fullscreen);
            terminal_model a(w + 3, h + 4), b(w + 3, h + 4);
            size_t diff_bytes = 0, whole_bytes = 0;
            for (int frame = 0; frame < 200; frame++) {
                random_changes(diffed.s, rng, frame == 0 ? w * h : int(rng() % 6));
                std::copy(diffed.s.grid, diffed.s.grid + w * h, whole.s.grid);
                bool caret = rng() % 2;
                diffed.s.caret_col = whole.s.caret_col = int(rng() % uint32_t(w));
                diffed.s.caret_row = whole.s.caret_row = int(rng() % uint32_t(h));
                whole.s.painted_valid = false;
                paint(diffed.s, caret);
                paint(whole.s, caret);
                std::string db = diffed.take(), wb = whole.take();
                diff_bytes += db.size();
                whole_bytes += wb.size();
                a.feed(db);
                b.feed(wb);
                if (!(a.cells == b.cells)) {
                    for (size_t k = 0; k < a.cells.size(); k++)
                        if (!(a.cells[k] == b.cells[k]))
                            std::printf("cell %zu,%zu: %x/%s/%s/%x vs %x/%s/%s/%x\n", k % size_t(a.cols), k / size_t(a.cols),
                                        a.cells[k].cp, a.cells[k].fg.c_str(), a.cells[k].bg.c_str(), a.cells[k].attrs,
                                        b.cells[k].cp, b.cells[k].fg.c_str(), b.cells[k].bg.c_str(), b.cells[k].attrs);
                    std::string esc;
                    for (char ch : db) esc += ch == 27 ? std::string("^") : std::string(1, ch);
                    std::printf("diff bytes: %s\n", esc.c_str());
                }
                ASSERT_TRUE(a.cells == b.cells) << "frame " << frame << " fullscreen " << fullscreen;
                ASSERT_EQ(a.y, b.y) << "frame " << frame;
                if (caret) {
                    ASSERT_EQ(a.x, b.x) << "frame " << frame;
                }
            }
            EXPECT_LT(diff_bytes * 4, whole_bytes);
        }
    }
}

TEST(TuiScreen, OneChangedCellOnALargeScreenIsFewBytes) {
    captured cap(200, 60, true);
    for (int i = 0; i < 200 * 60; i++) cap.s.grid[i] = screen_cell{'.', color_256(17), color_rgb(200, 100, 50), 0};
    paint(cap.s, false);
    EXPECT_GT(cap.take().size(), 12000u);
    screen_at(cap.s, 117, 41) = screen_cell{'#', color_256(17), color_rgb(250, 10, 10), ATTR_BOLD};
    paint(cap.s, false);
    EXPECT_LE(cap.take().size(), 64u);
}

} // namespace
} // namespace zyl::tui
