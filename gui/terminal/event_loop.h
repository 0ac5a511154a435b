// gui/terminal/event_loop.h: the terminal UI's event loop, on the program's one thread.
//
// A pass reads the input there is, fires the timers that are due, decodes and dispatches the
// input, then paints at most once when something asked. Between passes the loop sleeps in
// poll on the monotonic clock until input, a resize, a signal, the next timer, the end of a
// partial escape sequence's 50 ms or a pending frame; with none of these it sleeps without a
// time limit, so an idle window costs no wakeups.
//
// Loops nest: each waiting `view` runs one, and `loop_level` counts them. A loop ends when the
// counter falls to the level it started at; the outermost one owns the terminal mode, drops
// every widget at its end and restores the terminal on every way out.
#pragma once

#include <cstdint>

#include "gui/terminal/widget.h"

namespace zyl::tui {

// The nesting counter of running loops.
extern int32_t loop_level;

// gui/do-events: runs the loop (one pass with [no_wait]). Answers whether the last read found
// input.
bool gui_do_events(bool no_wait);
// tui/do-events: one pass while the terminal mode is on; false at once otherwise.
bool tui_do_events();
// gui/post-quit-msg: ends the innermost running loop.
void post_quit_msg();
// Ends every running loop, and throws the console halt once the outermost has restored the
// terminal (Control-C, SIGINT).
void request_halt();
// Whether a halt is on its way out: the loops are ending for it.
bool halting();
// Forgets a halt that no loop took (tests).
void clear_halt();
// Called after a window's widget was destroyed: the loop that waits for it ends, with those
// inside it; when no window is left, every loop ends.
void windows_destroyed();
// Asks for a paint in the pass under way (input was handled: it is painted at once).
void paint_now();

// Paints the current window when a redraw was asked (tui/flush).
void flush();

// tui/init: the platform object's version, build and product; the colour mode from
// `TUI-helpers/check-color-support`; the hook `wait` runs passes through.
void init();

// Test seams: the clock the loop reads (the monotonic clock when null).
inline int64_t (*clock_override)() = nullptr;
int64_t now_ms();

namespace routines {
void do_event_loop();
void exit_event_loop();
void tui_init();
} // namespace routines

} // namespace zyl::tui
