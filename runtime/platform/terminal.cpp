// runtime/platform/terminal.cpp: termios raw mode, its restoring paths, window size, input.
#include "runtime/platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace zyl::terminal {
namespace {

constexpr char PASTE_ON[] = "\x1b[?2004h";
constexpr char PASTE_OFF[] = "\x1b[?2004l";

// Signals that end the process: each restores the modes first, then takes its old action.
constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int ENDING_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];

struct state {
    termios saved;
    int depth = 0;
    volatile sig_atomic_t raw = 0; // read by the signal handlers
    struct sigaction old_actions[ENDING_COUNT];
    struct sigaction old_winch;
    bool winch_installed = false;
};
state term;
volatile sig_atomic_t resized = 0;

void on_winch(int) { resized = 1; }

void on_ending_signal(int sig) {
    restore_async();
    for (int i = 0; i < ENDING_COUNT; i++)
        if (ENDING_SIGNALS[i] == sig) sigaction(sig, &term.old_actions[i], nullptr);
    raise(sig); // delivered, with the old action, once this handler returns
}

void write_raw(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
        } else if (!(w < 0 && errno == EINTR)) {
            return;
        }
    }
}

void install_handlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_ending_signal;
    sa.sa_flags = SA_ONSTACK; // a fault from native stack exhaustion needs the alternate stack
    for (int i = 0; i < ENDING_COUNT; i++) sigaction(ENDING_SIGNALS[i], &sa, &term.old_actions[i]);
    if (!term.winch_installed) { // stays for the process: the size is wanted between edits too
        struct sigaction w;
        std::memset(&w, 0, sizeof w);
        sigemptyset(&w.sa_mask);
        w.sa_handler = on_winch; // no SA_RESTART: a waiting poll returns at once
        sigaction(SIGWINCH, &w, &term.old_winch);
        term.winch_installed = true;
    }
}

void remove_handlers() {
    for (int i = 0; i < ENDING_COUNT; i++) sigaction(ENDING_SIGNALS[i], &term.old_actions[i], nullptr);
}

} // namespace

bool interactive() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

bool raw_on() {
    if (term.depth > 0) {
        term.depth++;
        return true;
    }
    if (tcgetattr(STDIN_FILENO, &term.saved) != 0) return false;
    termios raw = term.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    install_handlers();
    term.raw = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        term.raw = 0;
        remove_handlers();
        return false;
    }
    write_raw(PASTE_ON, sizeof PASTE_ON - 1);
    term.depth = 1;
    return true;
}

void raw_off() {
    if (term.depth == 0 || --term.depth > 0) return;
    restore_async();
    remove_handlers();
}

void restore_async() {
    if (!term.raw) return;
    term.raw = 0;
    write_raw(PASTE_OFF, sizeof PASTE_OFF - 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &term.saved);
}

bool window_size(int& columns, int& rows) {
    winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        columns = ws.ws_col;
        rows = ws.ws_row;
        return true;
    }
    columns = 80;
    rows = 24;
    return false;
}

bool take_resized() {
    if (!resized) return false;
    resized = 0;
    return true;
}

long read_input(uint8_t* buf, size_t cap, int timeout_ms) {
    for (;;) {
        if (resized) return READ_SIGNAL;
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        int r = poll(&pfd, 1, timeout_ms);
        if (r < 0) {
            if (errno == EINTR) continue;
            return READ_END;
        }
        if (r == 0) return READ_TIMEOUT;
        ssize_t n = ::read(STDIN_FILENO, buf, cap);
        if (n > 0) return n;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return READ_END; // 0 bytes, EIO after a hang-up, or another failure: no more input
    }
}

bool input_ready() {
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
}

void write_out(const char* p, size_t n) { write_raw(p, n); }

} // namespace zyl::terminal
