// bench/tui_render_bench.cpp: the terminal UI's face painter: a 200x60 window of 300 faces
// (texts, fields, group-boxes, a 1,000-line text-list, a 5,000-character rich-text with 200
// styles, a 1,000-command draw block) drawn into the grid and turned into a frame's bytes; and
// 10,000 mixed draw commands validated and painted (bench/tui_draw.py runs the same list through
// a table of Python functions onto a list-of-lists grid).
#include <benchmark/benchmark.h>

#include <cstring>

#include "boot/startup.h"
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
