// runtime/platform/terminal.cpp: termios raw mode, its restoring paths, window size, input.
#include "runtime/platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <fcntl.h>
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
    int handler_users = 0; // raw mode and the UI's mode each hold the ending handlers once
};
state term;
volatile sig_atomic_t resized = 0;

// The UI's mode: its own saved modes, and what it turned on (ui_feature bits).
struct ui_state {
    termios saved;
    termios mode;
    int depth = 0;
    volatile sig_atomic_t on = 0;       // termios changed: read by the signal handlers
    volatile sig_atomic_t features = 0; // ui_feature bits
    bool exit_hook = false;
};
ui_state ui;
int wake_pipe[2] = {-1, -1}; // SIGWINCH writes a byte here, so the UI's wait ends at once

void on_winch(int) {
    resized = 1;
    if (wake_pipe[1] >= 0) {
        int saved = errno;
        char b = 1;
        [[maybe_unused]] ssize_t w = ::write(wake_pipe[1], &b, 1);
        errno = saved;
    }
}

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
    if (term.handler_users++ > 0) return;
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
    if (--term.handler_users > 0) return;
    for (int i = 0; i < ENDING_COUNT; i++) sigaction(ENDING_SIGNALS[i], &term.old_actions[i], nullptr);
}

// Undoes what the UI turned on, with precomputed bytes and async-signal-safe calls only. Runs
// at most once for each time the features were turned on.
void ui_restore_async() {
    static constexpr char MOUSE_OFF[] = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";
    static constexpr char COLOURS_OFF[] = "\x1b[0m";
    static constexpr char CURSOR_ON[] = "\x1b[?25h";
    static constexpr char ALT_OFF[] = "\x1b[?1049l";
    sig_atomic_t f = ui.features;
    ui.features = 0;
    if (f & UI_MOUSE) write_raw(MOUSE_OFF, sizeof MOUSE_OFF - 1);
    if (f & UI_COLOURS) write_raw(COLOURS_OFF, sizeof COLOURS_OFF - 1);
    if (f & UI_ALT_SCREEN) write_raw(ALT_OFF, sizeof ALT_OFF - 1);
    if (f & UI_CURSOR_HIDDEN) write_raw(CURSOR_ON, sizeof CURSOR_ON - 1);
    if (ui.on) {
        ui.on = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &ui.saved);
    }
}

void at_exit() { restore_async(); }

// A terminal that went away ends the process as its SIGHUP would.
void hang_up() {
    restore_async();
    raise(SIGHUP);
}

void open_wake_pipe() {
    if (wake_pipe[0] >= 0) return;
    if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
}

void drain_wake_pipe() {
    char b[64];
    while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], b, sizeof b) > 0) {}
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
    ui_restore_async();
    if (!term.raw) return;
    term.raw = 0;
    write_raw(PASTE_OFF, sizeof PASTE_OFF - 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &term.saved);
}

namespace {

// The size of the terminal behind the first of [fds] that has one, else 80x24.
bool size_from(std::initializer_list<int> fds, int& columns, int& rows) {
    for (int fd : fds) {
        winsize ws;
        if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
            columns = ws.ws_col;
            rows = ws.ws_row;
            return true;
        }
    }
    columns = 80;
    rows = 24;
    return false;
}

} // namespace

bool window_size(int& columns, int& rows) { return size_from({STDOUT_FILENO}, columns, rows); }

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

// {== The terminal UI's mode

bool ui_on() {
    if (ui.depth > 0) {
        ui.depth++;
        return true;
    }
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &ui.saved) != 0) return false;
    ui.mode = ui.saved;
    ui.mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    ui.mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    ui.mode.c_cc[VMIN] = 0;
    ui.mode.c_cc[VTIME] = 0;
    if (!ui.exit_hook) { // exit() and a return from main restore too
        std::atexit(at_exit);
        ui.exit_hook = true;
    }
    install_handlers();
    open_wake_pipe();
    ui.on = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &ui.mode) != 0) {
        ui.on = 0;
        remove_handlers();
        return false;
    }
    ui.depth = 1;
    return true;
}

void ui_off() {
    if (ui.depth == 0 || --ui.depth > 0) return;
    ui_restore_async();
    remove_handlers();
}

bool ui_active() { return ui.depth > 0; }

void ui_note(uint32_t feature, bool on) {
    if (on) ui.features = ui.features | static_cast<sig_atomic_t>(feature);
    else ui.features = ui.features & ~static_cast<sig_atomic_t>(feature);
}

void ui_suspend(bool away) {
    if (ui.depth == 0) return;
    ui.on = away ? 0 : 1;
    tcsetattr(STDIN_FILENO, TCSANOW, away ? &ui.saved : &ui.mode);
}

bool console_size(int& columns, int& rows) {
    return size_from({STDOUT_FILENO, STDIN_FILENO, STDERR_FILENO}, columns, rows);
}

wait_result ui_wait(int timeout_ms, bool input) {
    open_wake_pipe();
    if (take_resized()) {
        drain_wake_pipe();
        return WAIT_RESIZE;
    }
    pollfd fds[2] = {{wake_pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    int r = poll(fds, input ? 2 : 1, timeout_ms);
    if (r < 0) return errno == EINTR && take_resized() ? (drain_wake_pipe(), WAIT_RESIZE) : WAIT_INTERRUPTED;
    if (r == 0) return WAIT_TIMEOUT;
    if (fds[0].revents & POLLIN) {
        drain_wake_pipe();
        if (take_resized()) return WAIT_RESIZE;
    }
    if (input && (fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) hang_up();
    return input && (fds[1].revents & POLLIN) ? WAIT_INPUT : WAIT_INTERRUPTED;
}

void ui_wake() {
    if (wake_pipe[1] < 0) return;
    int saved = errno;
    char b = 2;
    [[maybe_unused]] ssize_t w = ::write(wake_pipe[1], &b, 1);
    errno = saved;
}

size_t ui_read(uint8_t* buf, size_t cap) {
    constexpr size_t PASS_MAX = 65536;
    if (cap > PASS_MAX) cap = PASS_MAX;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buf, cap);
        if (n > 0) return static_cast<size_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EIO) hang_up();
        return 0;
    }
}

int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// }==

} // namespace zyl::terminal
