// gui/terminal/terminal_mode.h: the terminal UI's mode around its outermost loop: termios,
// the alternate screen, mouse reporting and the cursor, and the suspension of all that while
// other console output is written.
//
// Everything turned on here is noted with the terminal layer (runtime/platform/terminal.h),
// so one restore undoes it on every way out: close_screen at the loop's normal end, a
// mode_guard when an error unwinds through the loop, the exits, the fault reporter and the
// ending signals.
#pragma once

namespace zyl::tui {

// The backend's mode flags.
struct mode_state {
    bool terminal_mode = false; // termios switched for the UI (standard input is a terminal)
    bool fullscreen = false;    // a fullscreen window exists: use the alternate screen
    bool alt_screen = false;    // the alternate screen is entered
    bool mouse_on = false;      // mouse reporting is on
    bool opened = false;        // open_screen ran and close_screen has not yet
};
extern mode_state mode;

// Enters the terminal mode when it is off and standard input is a terminal, reading the
// console's size; then, unless fullscreen, asks where the cursor is.
void enter_terminal_mode();
// Leaves the terminal mode when it is on.
void leave_terminal_mode();
// The outermost loop's start: the terminal mode, the alternate screen when fullscreen, and
// mouse reporting as [mouse] asks.
void open_screen(bool mouse);
// Switches mouse reporting on or off when it differs.
void set_mouse(bool on);
// The outermost loop's end: moves below the drawing, turns off what open_screen turned on,
// leaves the terminal mode and discards pending input. Does nothing when not open.
void close_screen();

// close_screen for a scope that an error may unwind.
struct mode_guard {
    mode_guard() = default;
    ~mode_guard() { close_screen(); }
    mode_guard(const mode_guard&) = delete;
    mode_guard& operator=(const mode_guard&) = delete;
};

// The console's print path, through the hooks of runtime/platform/tui_hooks.h while the mode
// is on: takes the drawing and the UI's modes away before other output, and brings the modes
// back after it, asking for a redraw.
void suspend_for_output();
void resume_after_output();

} // namespace zyl::tui
