// runtime/platform/terminal.h: the terminal under standard input and output.
//
// Raw mode for the line editor (and later the terminal UI): no canonical input, echo,
// signal keys, extended processing, flow control or CR translation; one byte is enough for a
// read; output processing stays on. Modes are set with TCSANOW so typed-ahead bytes are kept,
// and bracketed paste is switched on with them. Whatever way the process leaves raw mode
// (normal end, an error unwinding, a fatal signal), the saved modes come back: a raw_guard
// restores them, SIGTERM, SIGHUP, SIGQUIT and the fault signals restore them and re-raise, and
// a fault reporter of its own calls restore_async. The window size comes from TIOCGWINSZ;
// SIGWINCH (installed without SA_RESTART, so a waiting read wakes) raises a flag.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::terminal {

// True when standard input and standard output are both terminals.
bool interactive();

// Enters raw mode on standard input; false when it is not a terminal. Nests: only the
// outermost call changes the modes.
bool raw_on();
// Leaves raw mode, restoring the modes found by raw_on.
void raw_off();
// Restores the saved modes with async-signal-safe calls only; for signal handlers and the
// fault reporter. Does nothing outside raw mode.
void restore_async();

// Raw mode for a scope; restored when the scope ends, error unwinding included.
struct raw_guard {
    bool on;
    raw_guard() : on(raw_on()) {}
    ~raw_guard() {
        if (on) raw_off();
    }
    raw_guard(const raw_guard&) = delete;
    raw_guard& operator=(const raw_guard&) = delete;
};

// The window's columns and rows; false (and 80x24) when they cannot be read.
bool window_size(int& columns, int& rows);
// Answers whether the window changed size since the last call, clearing the flag.
bool take_resized();

// Outcome of read_input besides a byte count.
constexpr long READ_END = 0;      // end of input or hang-up
constexpr long READ_TIMEOUT = -1; // nothing within the time asked
constexpr long READ_SIGNAL = -2;  // the window changed size while waiting

// Reads at most [cap] bytes of standard input into [buf], waiting at most [timeout_ms]
// milliseconds (-1: no limit). Interrupted waits are retried unless the window size changed.
long read_input(uint8_t* buf, size_t cap, int timeout_ms);
// Whether standard input has bytes ready now.
bool input_ready();

// Writes [n] bytes to standard output, whole, retrying interrupted writes.
void write_out(const char* p, size_t n);

// {== The terminal UI's mode
//
// Entered only when standard input is a terminal: raw as for the editor, but a read never
// waits (VMIN 0, VTIME 0). Whatever the UI turns on besides (mouse reporting, the alternate
// screen, a hidden cursor, colours) is noted with ui_note, so that one restore undoes all of
// it: ui_off, a ui_guard, restore_async (fault reporter, exits) and the ending signals.

// What the UI turned on, for the restore.
enum ui_feature : uint32_t { UI_MOUSE = 1, UI_ALT_SCREEN = 2, UI_CURSOR_HIDDEN = 4, UI_COLOURS = 8 };

// Enters the UI's mode; false, with termios untouched, when standard input is no terminal.
// Nests: only the outermost call changes the modes.
bool ui_on();
// Leaves the UI's mode, undoing everything noted; does nothing when it is off.
void ui_off();
// Whether the UI's mode is on.
bool ui_active();
// Notes that [feature] was turned on or off ([on]).
void ui_note(uint32_t feature, bool on);
// The saved modes back while other output is written ([away] true), and the UI's modes again.
void ui_suspend(bool away);

// The UI's mode for a scope: left when the scope ends, error unwinding included.
struct ui_guard {
    bool on;
    ui_guard() : on(ui_on()) {}
    ~ui_guard() {
        if (on) ui_off();
    }
    ui_guard(const ui_guard&) = delete;
    ui_guard& operator=(const ui_guard&) = delete;
};

// The console's columns and rows from stdout, stdin or stderr in turn; 80x24 (and false) when
// none answers with positive values.
bool console_size(int& columns, int& rows);

// What ui_wait ended on.
enum wait_result { WAIT_TIMEOUT = 0, WAIT_INPUT = 1, WAIT_RESIZE = 2, WAIT_INTERRUPTED = 3 };
// Waits at most [timeout_ms] (-1: no limit) for input on standard input (only when [input]) or
// a window resize. A signal ends the wait. A hang-up of the terminal counts as SIGHUP.
wait_result ui_wait(int timeout_ms, bool input);
// Ends a ui_wait under way (or the next one) at once; async-signal-safe, for signal handlers.
void ui_wake();
// Reads what standard input holds now, at most [cap] bytes and never more than 64 KB a call
// (the rest waits in the kernel); 0 when nothing is there. A terminal gone counts as SIGHUP.
size_t ui_read(uint8_t* buf, size_t cap);
// Milliseconds of the monotonic clock.
int64_t monotonic_ms();

// }==

} // namespace zyl::terminal
