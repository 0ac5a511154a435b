// gui/terminal/event_loop.cpp: the event loop, its waits and passes, the paint of a frame, the
// halt, and the routines the platform object reaches them through (event_loop.h).
#include "gui/terminal/event_loop.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/event.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/system_fields.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "gui/terminal/dispatch.h"
#include "gui/terminal/face.h"
#include "gui/terminal/face_painter.h"
#include "gui/terminal/input_decoder.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/terminal_mode.h"
#include "gui/terminal/timers.h"
#include "gui/terminal/views.h"
#include "runtime/collector.h"
#include "runtime/platform/terminal.h"
#include "runtime/platform/tui_hooks.h"

namespace zyl::tui {

int32_t loop_level = 0;

int64_t now_ms() { return clock_override ? clock_override() : terminal::monotonic_ms(); }

namespace {

// {== State

constexpr int64_t FRAME_MS = 33;   // a paint asked only by timers waits for the frame
constexpr int64_t PARTIAL_MS = 50; // how long a partial escape sequence waits for its rest
constexpr size_t READ_CHUNK = 16384;

// One running loop: the level it ends at and the window it waits for.
struct loop_record {
    int32_t saved;
    cell window; // handle; none when it started with no window
};
std::vector<loop_record> loops;

input_decoder decoder;
// Characters of a text run being dispatched, per loop depth: a handler's nested loop feeds the
// decoder, which may move the run's bytes.
std::vector<std::vector<int32_t>> text_runs;

bool halt_pending = false;
volatile sig_atomic_t interrupted = 0;
struct sigaction saved_sigint;
bool sigint_installed = false;

int64_t partial_since = -1;       // when the decoder began to hold a partial sequence
int64_t last_paint = INT64_MIN / 2;
bool paint_asked = false;         // input was handled this pass: paint at once

void on_sigint(int) {
    interrupted = 1;
    terminal::ui_wake();
}

void install_sigint() {
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_sigint; // no SA_RESTART: a waiting poll returns
    sigaction(SIGINT, &sa, &saved_sigint);
    sigint_installed = true;
}

void restore_sigint() {
    if (!sigint_installed) return;
    sigaction(SIGINT, &saved_sigint, nullptr);
    sigint_installed = false;
}

// Whether the loop at depth [depth] goes on.
bool running(size_t depth) { return !halt_pending && loops[depth].saved < loop_level; }

// }==
// {== A pass

// Reads what the terminal holds into the decoder; answers whether it found input.
bool read_input() {
    if (!mode.terminal_mode) return false;
    static uint8_t buf[READ_CHUNK];
    size_t n = terminal::ui_read(buf, sizeof buf);
    if (n) input_feed(decoder, buf, n);
    return n > 0;
}

// Throws away what is typed ahead: a nested loop does not see keys meant for the one before.
void discard_input() {
    input_reset(decoder);
    partial_since = -1;
    if (!mode.terminal_mode) return;
    uint8_t buf[1024];
    while (terminal::ui_read(buf, sizeof buf)) {}
}

// Dispatches the decoded items while the loop at [depth] runs; one item at a time, each taken
// off the decoder before its handlers run.
void decode(size_t depth) {
    input_item it;
    while (running(depth) && input_decode(decoder, &it, 1)) {
        paint_asked = true;
        if (it.kind != ITEM_TEXT) {
            dispatch_item(it);
            continue;
        }
        if (text_runs.size() <= depth) text_runs.resize(depth + 1);
        text_runs[depth].clear();
        for (const uint8_t *p = it.text, *end = it.text + it.length; p < end;) text_runs[depth].push_back(input_text_char(p));
        // Indexed afresh each time: a nested loop's run may move the vector of runs.
        for (size_t i = 0; i < text_runs[depth].size() && running(depth); i++) send_key(nullptr, text_runs[depth][i], 0);
    }
}

// Ends a partial sequence that waited its 50 ms.
void expire_partial(int64_t now) {
    if (!input_partial(decoder)) {
        partial_since = -1;
        return;
    }
    if (partial_since < 0) partial_since = now;
    if (now - partial_since < PARTIAL_MS) return;
    partial_since = -1;
    input_item it;
    if (input_expire(decoder, it)) {
        paint_asked = true;
        dispatch_item(it);
    }
}

// How long the loop may sleep: until the next timer, the partial sequence's end or the frame a
// timer's paint waits for; -1 for no limit.
int wait_ms(int64_t now) {
    int64_t until = next_due();
    if (partial_since >= 0) until = std::min(until, partial_since + PARTIAL_MS);
    else if (input_partial(decoder)) until = std::min(until, now + PARTIAL_MS);
    if (scr.redraw) until = std::min(until, last_paint + FRAME_MS);
    if (until == INT64_MAX) return -1;
    return int(std::clamp<int64_t>(until - now, 0, INT_MAX));
}

// One pass of the loop at [depth]. Answers whether the read found input.
bool pass(size_t depth, bool no_wait) {
    bool resized = false;
    if (!no_wait) {
        terminal::wait_result r = terminal::ui_wait(wait_ms(now_ms()), mode.terminal_mode);
        resized = r == terminal::WAIT_RESIZE;
    }
    bool got = read_input();
    if (no_wait && !got) return false;
    if (interrupted) {
        interrupted = 0;
        request_halt();
        return got;
    }
    paint_asked = false;
    if (resized || terminal::take_resized()) {
        resize_screen();
        paint_asked = true;
    }
    int64_t now = now_ms();
    tick_timers(now);
    decode(depth);
    expire_partial(now_ms());
    if (loops[depth].window.type() == T_handle && !resolve(&loops[depth].window))
        loop_level = std::min(loop_level, loops[depth].saved);
    if (scr.redraw && (paint_asked || now - last_paint >= FRAME_MS)) {
        flush();
        last_paint = now_ms();
    }
    return got;
}

// Every widget of every window dropped: their faces are realised no more.
void drop_windows() {
    while (window_count()) {
        window_record* r = window_at(window_count() - 1);
        cell face = r->window->face;
        collector::keep k{&face};
        size_t before = window_count();
        destroy_view(&face);
        if (window_count() == before) remove_window(r); // not a face any more: drop its record
    }
    free_all_widgets();
}

// Undoes what a loop set up, on every way out: an error unwinding through the loop included.
struct loop_scope {
    bool outer;
    int32_t saved;
    bool finished = false;
    loop_scope(bool o, int32_t s) : outer(o), saved(s) {}
    ~loop_scope() {
        if (!finished) loop_level = saved; // an error unwinds: this loop is over
        loops.pop_back();
        if (!outer) return;
        restore_sigint();
        close_screen();
        input_reset(decoder);
        partial_since = -1;
        last_paint = INT64_MIN / 2;
        reset_pointer();
        if (!finished) return;
        scr.caret_col = scr.caret_row = -1;
    }
};

// }==

} // namespace

bool halting() { return halt_pending; }
void clear_halt() { halt_pending = false; }

bool gui_do_events(bool no_wait) {
    if (no_wait && loops.empty()) return false; // nothing reads the terminal outside a loop
    bool outer = loops.empty();
    if (!no_wait) loop_level++;
    int32_t saved = no_wait ? loop_level : loop_level - 1;
    cell window{T_none, 0, 0, 0};
    if (!no_wait)
        if (window_record* r = current_window()) handle_of(r->window, &window);
    loops.push_back({saved, window});
    size_t depth = loops.size() - 1;
    loop_scope scope(outer, saved);
    if (outer) {
        install_dispatch(); // in case the platform's init did not run
        const cell* platform = system_fields::get(system_fields::VIEW_PLATFORM);
        const cell* mouse = platform && platform->type() == T_object ? field_or_null(platform, 0) : nullptr;
        open_screen(mouse && mouse->type() == T_logic && mouse->w1);
        install_sigint();
        if (terminal::ui_wait(0, false) == terminal::WAIT_RESIZE) resize_screen();
        scr.redraw = true;
    } else if (!no_wait) {
        discard_input();
    }
    bool got = false;
    if (no_wait) {
        got = pass(depth, true);
    } else {
        do got = pass(depth, false);
        while (running(depth));
    }
    if (!outer) {
        if (!no_wait) discard_input();
    } else {
        restore_sigint();
        close_screen();
        drop_windows();
    }
    scope.finished = true;
    return got;
}

bool tui_do_events() { return mode.terminal_mode ? gui_do_events(true) : false; }

void post_quit_msg() { loop_level--; }

void request_halt() {
    halt_pending = true;
    if (!loops.empty()) loop_level = std::min(loop_level, loops.front().saved);
}

void windows_destroyed() {
    for (const loop_record& l : loops) {
        if (l.window.type() == T_handle && !resolve(&l.window)) {
            loop_level = std::min(loop_level, l.saved);
            break;
        }
    }
    if (!window_count() && !loops.empty()) loop_level = std::min(loop_level, loops.front().saved);
}

void paint_now() { paint_asked = true; }

void flush() {
    if (!scr.redraw) return;
    window_record* r = current_window();
    if (!r) {
        scr.redraw = false;
        return;
    }
    auto cells = [](float a, float b, int cap) {
        double d = double(b) - double(a);
        return d != d || d < 0 ? 0 : d > cap ? cap : int(d);
    };
    screen_size(scr, cells(r->left, r->right, scr.columns), cells(r->top, r->bottom, scr.rows));
    draw_window(r);
    widget* focused = (r = current_window()) ? (r->focused ? r->focused : r->window) : nullptr;
    bool caret = focused && (focused->flags & WF_CARET) && (scr.caret_col >= 0 || scr.caret_row >= 0);
    paint(scr, caret);
    scr.redraw = false;
}

void init() {
    install_dispatch();
    tui::do_events = [] { tui_do_events(); };
    // version, build and product of the platform object
    const cell* p = system_fields::get(system_fields::VIEW_PLATFORM);
    cell platform = p && p->type() == T_object ? *p : cell{T_none, 0, 0, 0};
    if (platform.type() != T_object) {
        cell w = word::load("tui-platform");
        const cell* v = context::find_value(context::global(), &w);
        if (v) platform = *v;
    }
    if (platform.type() == T_object) {
        collector::keep k{&platform};
        uint8_t version[3] = {10, 10, 10};
        cell values[3] = {tuple::make_value(3, version), integer::make_value(1000), integer::make_value(0)};
        const char* names[3] = {"version", "build", "product"};
        for (int i = 0; i < 3; i++) {
            cell w = word::load(names[i]);
            int32_t at = object::find_word(&platform, &w);
            if (at >= 0) object::values_head(&platform)[at] = values[i];
        }
    }
    // The colour capability, from the helpers when they are there.
    if (const cell* fn = helper_function("check-color-support")) {
        cell f = *fn;
        cell* top = es.top;
        cell* answer = interp::call_with(&f, nullptr, 0);
        if (answer && answer->type() == T_integer) color_mode = int(integer::get(answer));
        if (!answer) return; // a non-local exit goes on up
        es.top = top;
    }
}

namespace routines {

void do_event_loop() {
    bool no_wait = stack::arg(0)->type() == T_logic && stack::arg(0)->w1;
    bool got = gui_do_events(no_wait);
    bool outermost = loops.empty();
    if (!halt_pending || no_wait) {
        logic::box(got);
        return;
    }
    if (outermost) halt_pending = false;
    // The console's halt, as `halt` throws it.
    es.top = es.base;
    *stack::push_slot() = word::load("halt-request");
    *stack::push_slot() = word::load("console");
    stack::throw_value(THROW_THROW);
}

void exit_event_loop() {
    post_quit_msg();
    *stack::arg(0) = cell{T_none, 0, 0, 0};
}

void tui_init() {
    init();
    *stack::arg(0) = cell{T_none, 0, 0, 0};
}

} // namespace routines

} // namespace zyl::tui
