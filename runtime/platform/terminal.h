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

} // namespace zyl::terminal
