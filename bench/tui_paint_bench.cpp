// bench/tui_paint_bench.cpp: the terminal UI's painter and input decoder, beside ncursesw doing
// the same work (when installed): bytes for a one-cell change on 200x60, frames per second when
// every cell changes, both to a drained pseudo-terminal; the decoder on 1 MB of mixed input
// (bench/tui_decode.py times CPython's incremental UTF-8 decoder on the same bytes).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "drained_pty.h"
#include "gui/terminal/input_decoder.h"
#include "gui/terminal/screen.h"

#ifdef ZYL_BENCH_NCURSES
#include <ncursesw/curses.h>
#endif

using namespace zyl;
using bench::drained_pty;

namespace {

constexpr int WIDTH = 200, HEIGHT = 60;

// The colour pair of a cell in frame [f]: 64 pairs of 256-colour foreground and background.
uint32_t pair_of(int f, int c, int r) { return uint32_t(f + c + r) % 64; }
uint32_t fg_of(uint32_t pair) { return 16 + pair * 3; }
uint32_t bg_of(uint32_t pair) { return 255 - pair; }
uint32_t char_of(int f, int c, int r) { return 'a' + uint32_t(f + c * 7 + r) % 26; }

void fill_frame(int f) {
    for (int r = 0; r < HEIGHT; r++)
        for (int c = 0; c < WIDTH; c++) {
            uint32_t p = pair_of(f, c, r);
            tui::screen_at(tui::scr, c, r) = tui::screen_cell{char_of(f, c, r), tui::color_256(bg_of(p)), tui::color_256(fg_of(p)), 0};
        }
}

void setup_zyl(drained_pty& pty) {
    tui::screen_free(tui::scr);
    tui::scr.fd = pty.slave;
    tui::scr.fullscreen = true;
    tui::scr.cursor_hidden = true;
    tui::screen_size(tui::scr, WIDTH, HEIGHT);
}

void BM_TuiOneCellChange_Zyl(benchmark::State& state) {
    drained_pty pty;
    setup_zyl(pty);
    fill_frame(0);
    tui::paint(tui::scr, false);
    uint64_t full = pty.settled();
    int frames = 0;
    uint64_t before = pty.bytes;
    for (auto _ : state) {
        frames++;
        tui::screen_at(tui::scr, frames % WIDTH, (frames / WIDTH) % HEIGHT).cp = 'A' + uint32_t(frames % 26);
        tui::paint(tui::scr, false);
    }
    uint64_t after = pty.settled();
    state.counters["bytes_per_change"] = double(after - before) / frames;
    state.counters["bytes_full_frame"] = double(full);
    tui::screen_free(tui::scr);
}
BENCHMARK(BM_TuiOneCellChange_Zyl);

void BM_TuiAllCellsChange_Zyl(benchmark::State& state) {
    drained_pty pty;
    setup_zyl(pty);
    int f = 0;
    for (auto _ : state) {
        fill_frame(++f);
        tui::paint(tui::scr, false);
    }
    state.SetItemsProcessed(f); // frames
    tui::screen_free(tui::scr);
}
BENCHMARK(BM_TuiAllCellsChange_Zyl)->Unit(benchmark::kMillisecond);

#ifdef ZYL_BENCH_NCURSES
// An ncursesw screen on the pty, with the same 64 colour pairs.
struct curses_screen {
    FILE* out;
    FILE* in;
    SCREEN* scr;
    explicit curses_screen(drained_pty& pty) {
        out = fdopen(dup(pty.slave), "w");
        in = fdopen(dup(pty.slave), "r");
        scr = newterm("xterm-256color", out, in);
        set_term(scr);
        start_color();
        for (short p = 0; p < 64; p++) init_pair(short(p + 1), short(fg_of(uint32_t(p))), short(bg_of(uint32_t(p))));
        curs_set(0);
        leaveok(stdscr, TRUE);
    }
    ~curses_screen() {
        endwin();
        delscreen(scr);
        fclose(out);
        fclose(in);
    }
    void fill(int f) {
        for (int r = 0; r < HEIGHT; r++)
            for (int c = 0; c < WIDTH; c++)
                mvaddch(r, c, chtype(char_of(f, c, r)) | COLOR_PAIR(pair_of(f, c, r) + 1));
    }
};

void BM_TuiOneCellChange_Ncurses(benchmark::State& state) {
    drained_pty pty;
    curses_screen cs(pty);
    cs.fill(0);
    refresh();
    uint64_t full = pty.settled();
    int frames = 0;
    uint64_t before = pty.bytes;
    for (auto _ : state) {
        frames++;
        int c = frames % WIDTH, r = (frames / WIDTH) % HEIGHT;
        mvaddch(r, c, chtype('A' + frames % 26) | COLOR_PAIR(pair_of(0, c, r) + 1));
        refresh();
    }
    uint64_t after = pty.settled();
    state.counters["bytes_per_change"] = double(after - before) / frames;
    state.counters["bytes_full_frame"] = double(full);
}
BENCHMARK(BM_TuiOneCellChange_Ncurses);

void BM_TuiAllCellsChange_Ncurses(benchmark::State& state) {
    drained_pty pty;
    curses_screen cs(pty);
    int f = 0;
    for (auto _ : state) {
        cs.fill(++f);
        refresh();
    }
    state.SetItemsProcessed(f);
}
BENCHMARK(BM_TuiAllCellsChange_Ncurses)->Unit(benchmark::kMillisecond);
#endif

// 1 MB of what a terminal sends: text, accented and wide characters, emoji, keys and mouse
// reports. bench/tui_decode.py builds the same bytes.
std::string mixed_input() {
    const std::string piece = "The quick brown fox jumps over the lazy dog. \xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 "
                              "\xf0\x9f\x98\x80 \x1b[A\x1b[1;5C\x1b[<0;120;45M\x1b[<0;120;45m\r";
    std::string s;
    while (s.size() < (1u << 20)) s += piece;
    return s;
}

void BM_TuiDecodeMixed(benchmark::State& state) {
    static const std::string input = mixed_input();
    tui::input_decoder d;
    std::vector<tui::input_item> items(4096);
    size_t total = 0;
    for (auto _ : state) {
        tui::input_feed(d, reinterpret_cast<const uint8_t*>(input.data()), input.size());
        while (size_t n = tui::input_decode(d, items.data(), items.size())) total += n;
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(int64_t(state.iterations() * input.size()));
    tui::input_reset(d);
}
BENCHMARK(BM_TuiDecodeMixed);

// The same, with every character of a text run read out as a key, as a caller sending keys does.
void BM_TuiDecodeMixedKeys(benchmark::State& state) {
    static const std::string input = mixed_input();
    tui::input_decoder d;
    std::vector<tui::input_item> items(4096);
    uint64_t total = 0;
    for (auto _ : state) {
        tui::input_feed(d, reinterpret_cast<const uint8_t*>(input.data()), input.size());
        while (size_t n = tui::input_decode(d, items.data(), items.size()))
            for (size_t i = 0; i < n; i++) {
                if (items[i].kind != tui::ITEM_TEXT) {
                    total += uint32_t(items[i].key);
                    continue;
                }
                const uint8_t* p = items[i].text;
                const uint8_t* end = p + items[i].length;
                while (p < end) total += uint32_t(tui::input_text_char(p));
            }
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(int64_t(state.iterations() * input.size()));
    tui::input_reset(d);
}
BENCHMARK(BM_TuiDecodeMixedKeys);

} // namespace
