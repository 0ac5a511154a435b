// gui/terminal/terminal_mode.cpp: entering and leaving the terminal UI's mode (terminal_mode.h).
#include "gui/terminal/terminal_mode.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

#include "gui/terminal/screen.h"
#include "runtime/platform/terminal.h"
#include "runtime/platform/tui_hooks.h"

namespace zyl::tui {

mode_state mode;

void enter_terminal_mode() {
    if (!mode.terminal_mode && terminal::ui_on()) {
        mode.terminal_mode = true;
        terminal::console_size(scr.columns, scr.rows);
        tui::restore_terminal = suspend_for_output;
        tui::resume_terminal = resume_after_output;
    }
    if (!mode.fullscreen) query_cursor_position(scr);
}

void leave_terminal_mode() {
    if (!mode.terminal_mode) return;
    terminal::ui_off();
    mode.terminal_mode = false;
    tui::restore_terminal = nullptr;
    tui::resume_terminal = nullptr;
}

void set_mouse(bool on) {
    if (on == mode.mouse_on) return;
    mode.mouse_on = on;
    mouse_reporting(scr, on);
}

void open_screen(bool mouse) {
    mode.opened = true;
    scr.fullscreen = mode.fullscreen;
    enter_terminal_mode();
    if (mode.fullscreen && !mode.alt_screen) {
        alt_screen(scr, true);
        mode.alt_screen = true;
    }
    set_mouse(mouse);
}

void close_screen() {
    if (!mode.opened) return;
    mode.opened = false;
    leave_screen(scr);
    set_mouse(false);
    if (mode.alt_screen) {
        alt_screen(scr, false);
        mode.alt_screen = false;
    }
    show_cursor(scr);
    bool was_on = mode.terminal_mode;
    leave_terminal_mode();
    if (was_on) tcflush(STDIN_FILENO, TCIFLUSH); // answers and keys meant for the UI
    screen_free(scr);
    scr.drawn = false;
    scr.lines_drawn = 0;
    scr.caret_col = scr.caret_row = -1;
}

void suspend_for_output() {
    if (!mode.terminal_mode) return;
    erase_drawn_lines(scr);
    std::fflush(nullptr);
    terminal::ui_suspend(true);
}

void resume_after_output() {
    if (!mode.terminal_mode) return;
    terminal::ui_suspend(false);
    screen_touched(scr);
    scr.redraw = true;
    query_cursor_position(scr);
}

} // namespace zyl::tui
