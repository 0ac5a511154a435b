// bench/tui_render_bench.cpp: the terminal UI's face painter: a 200x60 window of 300 faces
// (texts, fields, group-boxes, a 1,000-line text-list, a 5,000-character rich-text with 200
// styles, a 1,000-command draw block) drawn into the grid and turned into a frame's bytes, also
// written to a drained pseudo-terminal beside ncursesw putting the same characters and
// attributes on its screen and refreshing it whole (when installed); and 10,000 mixed draw
// commands validated and painted (bench/tui_draw.py runs the same list through a table of Python
// functions onto a list-of-lists grid).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "boot/startup.h"
#include "drained_pty.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "gui/terminal/draw_dialect.h"
#include "gui/terminal/face.h"
#include "gui/terminal/views.h"
#include "runtime/collector.h"

#ifdef ZYL_BENCH_NCURSES
#include <ncursesw/curses.h>
#endif

using namespace zyl;

namespace {

struct ui_runtime {
    ui_runtime() {
        collector::gc = {};
        datatype::reg.words_made = false;
        runtime::start();
    }
    ~ui_runtime() {
        tui::free_all_widgets();
        tui::screen_free(tui::scr);
        runtime::stop();
    }
    static void run(const char* src) {
        cell* code = runtime::load_text(reinterpret_cast<const uint8_t*>(src), std::strlen(src));
        interp::eval_block(code, false);
        stack::pop(1);
    }
    static cell global(const char* name) {
        cell w = word::load(name);
        return *context::get_value(&w);
    }
};

constexpr const char* faces_src = R"z(
proto: make object! [type: 'base offset: 0x0 size: 10x1 text: none image: none color: none
    menu: none data: none enabled?: true visible?: true selected: none flags: none options: none
    parent: none pane: none state: none rate: none edge: none para: none font: none actors: none
    extra: none draw: none]
mk: func [spec] [make proto spec]
set-state: func [f h] [f/state: reduce [h 0]]
cmds: make block! 6000
loop 167 [append cmds [pen 255.0.0 line 0x0 199x59 fill-pen 0.0.255 box 1x1 30x10 circle 100x30 12 text 5x5 "hello"]]
styles: make block! 400
repeat i 200 [append styles reduce [as-pair i * 25 10 'bold 0.255.0]]
lines: make block! 1000
repeat i 1000 [append lines rejoin ["line " i]]
kids: make block! 300
repeat i 280 [
    append kids mk compose [type: (to lit-word! either odd? i ["text"] ["field"]) offset: (as-pair (remainder i 10) * 20 (to integer! i / 10) * 2)
        size: 18x1 text: (rejoin ["face number " i]) color: 0.0.128]
]
repeat i 16 [append kids mk compose [type: 'group-box offset: (as-pair i - 1 * 12 40) size: 12x6 text: "box"]]
append kids mk [type: 'text-list offset: 0x47 size: 40x10 data: lines]
append kids mk compose/only [type: 'rich-text offset: 40x47 size: 100x10 para: make object! [align: 'left v-align: 'top wrap?: true]
    text: (append/dup copy "" "abcdefghij" 500) data: (styles)]
append kids mk compose/only [type: 'base offset: 140x47 size: 60x13 draw: (cmds)]
append kids mk [type: 'text offset: 0x58 size: 200x2 text: "last"]
win: mk compose/only [type: 'window size: 200x60 pane: (kids)]
)z";

// Realises [face] and its pane, storing each widget's handle in its face's state.
void realise(cell face, tui::widget* parent) {
    tui::widget* w = tui::make_view(&face, parent);
    cell args[2] = {face, {}};
    tui::handle_of(w, &args[1]);
    cell fn = ui_runtime::global("set-state");
    interp::call_with(&fn, args, 2);
    stack::pop(1);
    cell pane = *tui::field(&face, tui::F_PANE);
    if (pane.type() != T_block) return;
    for (uint32_t i = pane.w1; i < series::rs_abs_length_q(&pane); i++) realise(block::cells_of(pane.w2)[i], w);
}

void BM_TuiRenderWindow(benchmark::State& state) {
    ui_runtime rt;
    ui_runtime::run(faces_src);
    tui::screen_size(tui::scr, 200, 60);
    realise(ui_runtime::global("win"), nullptr);
    tui::window_record* r = tui::current_window();
    for (auto _ : state) {
        std::memset(static_cast<void*>(tui::scr.grid), 0, sizeof(tui::screen_cell) * 200 * 60);
        tui::draw_window(r);
        tui::paint_full(tui::scr, true);
        benchmark::DoNotOptimize(tui::scr.out.size);
        tui::scr.out.size = 0;
    }
}
BENCHMARK(BM_TuiRenderWindow)->Unit(benchmark::kMillisecond);

// The same frame, rendered and written whole to a terminal each time.
void BM_TuiRenderWindowToPty(benchmark::State& state) {
    bench::drained_pty pty;
    ui_runtime rt;
    ui_runtime::run(faces_src);
    tui::scr.fd = pty.slave;
    tui::scr.fullscreen = true;
    tui::scr.cursor_hidden = true;
    tui::screen_size(tui::scr, 200, 60);
    realise(ui_runtime::global("win"), nullptr);
    tui::window_record* r = tui::current_window();
    for (auto _ : state) {
        std::memset(static_cast<void*>(tui::scr.grid), 0, sizeof(tui::screen_cell) * 200 * 60);
        tui::draw_window(r);
        tui::paint_full(tui::scr, true);
        tui::flush_out(tui::scr);
    }
    pty.settled();
    tui::scr.fd = 1;
}
BENCHMARK(BM_TuiRenderWindowToPty)->Unit(benchmark::kMillisecond);

#ifdef ZYL_BENCH_NCURSES
// The ncursesw colour of a colour code: -1 for the default, else a 256-colour index.
short curses_color(uint32_t code) {
    uint32_t kind = code >> 24, v = code & 0xFFFFFF;
    if (kind == 1) return v < 8 ? short(v) : v >= 10 && v <= 17 ? short(v - 2) : -1;
    if (kind == 2) return short(v & 0xFF);
    if (kind == 4) {
        auto q = [](uint32_t c) { return (c * 5 + 127) / 255; };
        return short(16 + 36 * q(v >> 16 & 0xFF) + 6 * q(v >> 8 & 0xFF) + q(v & 0xFF));
    }
    return -1;
}

// The window's frame put on an ncursesw screen cell by cell and refreshed whole each time: the
// peer of BM_TuiRenderWindowToPty.
void BM_TuiRenderWindow_Ncurses(benchmark::State& state) {
    std::vector<cchar_t> cells(200 * 60);
    std::vector<bool> skip(200 * 60);
    {
        ui_runtime rt;
        ui_runtime::run(faces_src);
        tui::screen_size(tui::scr, 200, 60);
        realise(ui_runtime::global("win"), nullptr);
        tui::draw_window(tui::current_window());
        bench::drained_pty pty;
        FILE* out = fdopen(dup(pty.slave), "w");
        FILE* in = fdopen(dup(pty.slave), "r");
        SCREEN* cs = newterm("xterm-256color", out, in);
        set_term(cs);
        start_color();
        use_default_colors();
        std::map<std::pair<short, short>, short> pairs;
        for (int i = 0; i < 200 * 60; i++) {
            const tui::screen_cell& k = tui::scr.grid[i];
            skip[size_t(i)] = k.attrs & tui::ATTR_CONTINUATION;
            auto key = std::make_pair(curses_color(k.fg), curses_color(k.bg));
            auto it = pairs.find(key);
            if (it == pairs.end()) {
                short n = short(pairs.size() + 1);
                init_pair(n, key.first, key.second);
                it = pairs.emplace(key, n).first;
            }
            attr_t a = (k.attrs & tui::ATTR_BOLD ? A_BOLD : 0) | (k.attrs & tui::ATTR_DIM ? A_DIM : 0) |
                       (k.attrs & tui::ATTR_REVERSE ? A_REVERSE : 0) | (k.attrs & tui::ATTR_UNDERLINE ? A_UNDERLINE : 0) |
                       (k.attrs & tui::ATTR_ITALIC ? A_ITALIC : 0) | (k.attrs & tui::ATTR_BLINK ? A_BLINK : 0);
            wchar_t wc[2] = {wchar_t(k.attrs & tui::ATTR_PASSWORD ? '*' : k.cp ? k.cp : ' '), 0};
            setcchar(&cells[size_t(i)], wc, a, it->second, nullptr);
        }
        curs_set(0);
        leaveok(stdscr, TRUE);
        for (auto _ : state) {
            for (int r = 0; r < 60; r++)
                for (int c = 0; c < 200; c++)
                    if (!skip[size_t(r * 200 + c)]) mvadd_wch(r, c, &cells[size_t(r * 200 + c)]);
            redrawwin(stdscr);
            refresh();
        }
        pty.settled();
        endwin();
        delscreen(cs);
        fclose(out);
        fclose(in);
    }
}
BENCHMARK(BM_TuiRenderWindow_Ncurses)->Unit(benchmark::kMillisecond);
#endif

void BM_TuiDrawCommands(benchmark::State& state) {
    ui_runtime rt;
    ui_runtime::run(R"z(
        cmds: make block! 30000
        loop 1250 [append cmds [pen 255.0.0 line 3x4 150x50 fill-pen 0.0.255 box 10x10 40x20
            circle 100x30 10 triangle 5x5 60x40 10x50 text 2x2 "hello" line-width 2 rotate 30 [box 1x1 5x5]]]
    )z");
    tui::screen_size(tui::scr, 200, 60);
    cell cmds = ui_runtime::global("cmds");
    for (auto _ : state) {
        tui::draw_state d;
        d.ox = d.oy = 0;
        d.clip = tui::grid_rect(tui::scr);
        benchmark::DoNotOptimize(tui::run_draw(tui::scr, d, &cmds, true));
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_TuiDrawCommands)->Unit(benchmark::kMillisecond);

} // namespace
