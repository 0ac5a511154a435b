// runtime/platform/console_output.cpp: UTF-8 console writers over write(2), and the hook lists.
#include "runtime/platform/console_output.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "runtime/char_width.h"
#include "runtime/memory.h"
#include "runtime/platform/tui_hooks.h"
#include "runtime/unicode.h"

namespace zyl::console {
namespace {

constexpr size_t OUT_SIZE = 65536;
constexpr uint32_t REPLACEMENT = 0xFFFD;

// Invariant: pos <= OUT_SIZE; buf[0, pos) is encoded text not yet written, and every writer
// leaves pos at 0 when it returns.
struct output {
    int fd = STDOUT_FILENO;
    bool console = false; // fd is a terminal
    size_t pos = 0;       // bytes gathered in buf
    bool last_lf = false; // the last byte written was a line feed
    uint8_t buf[OUT_SIZE];
};
output out;

// The display column since the last line end, for the line editor's prompt; escape
// sequences take none. The decoding state carries over between writes.
struct column_state {
    int column = 0;
    int escape = 0;     // 1: after ESC, 2: inside a CSI sequence
    uint32_t cp = 0;    // UTF-8 character being gathered
    int more = 0;       // continuation bytes it still needs
};
column_state col;

void count_columns(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t b = p[i];
        if (col.escape == 1) {
            col.escape = b == '[' ? 2 : 0;
        } else if (col.escape == 2) {
            if (b >= 0x40 && b <= 0x7E) col.escape = 0;
        } else if (b == '\n' || b == '\r') {
            col.column = 0;
            col.more = 0;
        } else if (b == 0x1B) {
            col.escape = 1;
        } else if (b < 0x80) {
            col.column++;
            col.more = 0;
        } else if ((b & 0xC0) == 0x80) {
            col.cp = (col.cp << 6) | (b & 0x3F);
            if (col.more > 0 && --col.more == 0) col.column += unicode::char_width(col.cp);
        } else {
            col.more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
            col.cp = b & (0x3F >> col.more);
        }
    }
}

std::vector<print_hook> print_hooks;
std::vector<capture_hook> capture_hooks;

// Writes the [n] bytes at [p], retrying interrupted and partial writes and waiting on a
// non-blocking descriptor. Any other failure (a closed pipe, a full disk) ends the program
// with status 1, as a shell tool ends: output that goes nowhere must not keep it running.
void write_all(const uint8_t* p, size_t n) {
    if (n > 0) out.last_lf = p[n - 1] == '\n';
    count_columns(p, n);
    while (n > 0) {
        ssize_t w = ::write(out.fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{out.fd, POLLOUT, 0};
            if (poll(&pfd, 1, -1) >= 0 || errno == EINTR) continue;
        }
        std::_Exit(1);
    }
}

void flush() {
    write_all(out.buf, out.pos);
    out.pos = 0;
}

// The unit at [p]; units of text may sit at any byte address.
template <size_t Unit>
uint32_t unit_at(const uint8_t* p) {
    if constexpr (Unit == 1) {
        return *p;
    } else if constexpr (Unit == 2) {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return u;
    } else {
        uint32_t u;
        std::memcpy(&u, p, 4);
        return u;
    }
}

// The character at unit [i] of the [count] units at [text]. A surrogate pair gives the
// character it encodes and moves [i] onto its second unit; a lone surrogate and any value
// above U+10FFFF give U+FFFD.
template <size_t Unit>
uint32_t char_at(const uint8_t* text, size_t& i, size_t count) {
    uint32_t c = unit_at<Unit>(text + i * Unit);
    if constexpr (Unit == 1) {
        return c;
    } else {
        if (c > 0x10FFFF) return REPLACEMENT;
        if (c - 0xD800 >= 0x800) return c;
        if (c >= 0xDC00 || i + 1 >= count) return REPLACEMENT;
        uint32_t low = unit_at<Unit>(text + (i + 1) * Unit);
        if (low - 0xDC00 >= 0x400) return REPLACEMENT;
        i++;
        return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
}

// Encodes the [bytes] bytes of [text] into the output buffer, with a LF when [newline], and
// writes it: in one write(2) when it fits the buffer.
template <size_t Unit>
void write_units(const uint8_t* text, size_t bytes, bool newline) {
    size_t count = bytes / Unit;
    uint8_t* o = out.buf + out.pos;
    uint8_t* const last = out.buf + OUT_SIZE - 4; // room for one more character from here
    for (size_t i = 0; i < count; i++) {
        uint32_t c = char_at<Unit>(text, i, count);
        if (o > last) [[unlikely]] {
            out.pos = static_cast<size_t>(o - out.buf);
            flush();
            o = out.buf;
        }
        o += unicode::encode_utf8(c, o); // c is a scalar value here
    }
    if (newline) {
        if (o > last) [[unlikely]] {
            out.pos = static_cast<size_t>(o - out.buf);
            flush();
            o = out.buf;
        }
        *o++ = '\n';
    }
    out.pos = static_cast<size_t>(o - out.buf);
    flush();
}

// Writes the [n] bytes of a diagnostic [text] and hands them to the capture hooks.
void write_captured(const char* text, size_t n) {
    write_all(reinterpret_cast<const uint8_t*>(text), n);
    call_capture_hooks(text, n, 0);
}

// Formats one number with [format] and writes it as a diagnostic.
template <typename T>
void write_number(const char* format, T value) {
    char scratch[64];
    int n = std::snprintf(scratch, sizeof scratch, format, value);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n);
    write_captured(scratch, length < sizeof scratch ? length : sizeof scratch - 1);
}

void write_bad_unit(uint32_t unit) {
    write_cstring("Error: unknown string encoding: ");
    write_int(static_cast<int32_t>(unit));
    write_cstring("\n");
}

} // namespace

void init_output() {
    out.fd = STDOUT_FILENO;
    out.console = isatty(out.fd) == 1;
    out.pos = 0;
}

void init_attributes() {}

int set_output_fd(int fd) {
    int old = out.fd;
    out.fd = fd;
    out.console = isatty(fd) == 1;
    return old;
}

int output_fd() { return out.fd; }

int column() { return col.column; }

void set_column(int c) { col.column = c; }

bool is_console() { return out.console; }
bool last_was_lf() { return out.last_lf; }

void write_latin1(const uint8_t* text, size_t bytes) { write_units<1>(text, bytes, false); }
void write_latin1_line(const uint8_t* text, size_t bytes) { write_units<1>(text, bytes, true); }
void write_ucs2(const uint8_t* text, size_t bytes) { write_units<2>(text, bytes, false); }
void write_ucs2_line(const uint8_t* text, size_t bytes) { write_units<2>(text, bytes, true); }
void write_ucs4(const uint8_t* text, size_t bytes) { write_units<4>(text, bytes, false); }
void write_ucs4_line(const uint8_t* text, size_t bytes) { write_units<4>(text, bytes, true); }

void write_cstring(const char* text) { write_captured(text, std::strlen(text)); }

void write_int(int32_t n) { write_number("%i", n); }
void write_hex2(uint32_t n) { write_number("%02X", n); }
void write_hex8(uint32_t n) { write_number("%08X", n); }
void write_float64(double d) { write_number("%.16g", d); }
void write_float32(float f) { write_number("%.7g", static_cast<double>(f)); }

void print_string(const cell* value, bool newline) {
    // Our writes bypass stdio: what it still holds must come out first.
    std::fflush(stdout);
    if (tui::restore_terminal) tui::restore_terminal();
    series_buffer* b = memory::buffer_of(value->w2);
    uint32_t unit = b->unit();
    uint64_t offset = uint64_t(value->w1) * unit;
    // An index past the tail reads as the tail.
    size_t bytes = offset < b->used_bytes() ? b->used_bytes() - offset : 0;
    const uint8_t* text = b->head + (bytes ? offset : 0);
    switch (unit) {
    case 1: write_units<1>(text, bytes, newline); break;
    case 2: write_units<2>(text, bytes, newline); break;
    case 4: write_units<4>(text, bytes, newline); break;
    default: write_bad_unit(unit); break;
    }
    if (tui::resume_terminal) tui::resume_terminal();
}

void init_print_hooks() {
    print_hooks.clear();
    capture_hooks.clear();
    print_hooks.reserve(5);
    capture_hooks.reserve(5);
    print_hooks.push_back(print_string);
}

void add_print_hooks(print_hook print, capture_hook capture) {
    if (print) print_hooks.push_back(print);
    if (capture) capture_hooks.push_back(capture);
}

void remove_print_hooks(print_hook print, capture_hook capture) {
    for (auto it = print_hooks.begin(); print && it != print_hooks.end(); ++it) {
        if (*it == print) {
            print_hooks.erase(it);
            break;
        }
    }
    for (auto it = capture_hooks.begin(); capture && it != capture_hooks.end(); ++it) {
        if (*it == capture) {
            capture_hooks.erase(it);
            break;
        }
    }
}

// By index, so that a hook may add or remove hooks while the list is walked.
void call_print_hooks(const cell* value, bool newline) {
    for (size_t i = 0; i < print_hooks.size(); i++) print_hooks[i](value, newline);
}

void call_capture_hooks(const char* text, size_t length, int flag) {
    for (size_t i = 0; i < capture_hooks.size(); i++) capture_hooks[i](text, length, flag);
}

} // namespace zyl::console
