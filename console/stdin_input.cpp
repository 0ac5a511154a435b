// console/stdin_input.cpp: standard input for the console when it is not a terminal, and the
// console's set-up routine.
#include "console/stdin_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "boot/startup.h"
#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/memory.h"
#include "runtime/platform/terminal.h"

namespace zyl::stdin_input {
namespace {

constexpr size_t BUFFER_SIZE = 64 * 1024;

// Bytes read and not yet taken: [pos, len) of [bytes].
struct input_buffer {
    uint8_t bytes[BUFFER_SIZE];
    size_t pos = 0, len = 0;
    bool ended = false;
};
input_buffer in;

// Refills the buffer when it is empty; false at the end of input (or on a read error).
bool fill() {
    if (in.pos < in.len) return true;
    if (in.ended) return false;
    in.pos = in.len = 0;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, in.bytes, BUFFER_SIZE);
        if (n > 0) {
            in.len = static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        in.ended = true;
        return false;
    }
}

// The next code point, or -1 at the end. A lead byte that cannot start a sequence, or one cut
// short by a byte that does not continue it, gives U+FFFD; the cutting byte is read again.
int32_t read_char() {
    if (!fill()) return -1;
    uint8_t b = in.bytes[in.pos++];
    if (b < 0x80) return b;
    int more = b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
    if (more < 0) return 0xFFFD;
    uint32_t cp = b & (0x3F >> more);
    for (int i = 0; i < more; i++) {
        if (!fill()) return 0xFFFD;
        uint8_t c = in.bytes[in.pos];
        // The second byte's range also refuses overlong forms, surrogates and values above
        // U+10FFFF.
        uint8_t lo = 0x80, hi = 0xBF;
        if (i == 0 && b == 0xE0) lo = 0xA0;
        if (i == 0 && b == 0xED) hi = 0x9F;
        if (i == 0 && b == 0xF0) lo = 0x90;
        if (i == 0 && b == 0xF4) hi = 0x8F;
        if (c < lo || c > hi) return 0xFFFD;
        in.pos++;
        cp = (cp << 6) | (c & 0x3F);
    }
    return static_cast<int32_t>(cp);
}

} // namespace

bool read_line(cell* line) {
    bool any = false;
    bool cr = false; // a carriage return held back: dropped when a line feed follows
    for (;;) {
        // A run of plain ASCII up to the line feed goes in at once.
        if (fill()) {
            const uint8_t* p = in.bytes + in.pos;
            size_t n = in.len - in.pos, k = 0;
            while (k < n && p[k] < 0x80 && p[k] != '\n' && p[k] != '\r') k++;
            if (k > 0) {
                if (cr) string::append_char(line->w2, '\r');
                cr = false;
                string::append_units(line->w2, p, static_cast<uint32_t>(k), 1);
                in.pos += k;
                any = true;
                continue;
            }
        }
        int32_t c = read_char();
        if (c < 0) break;
        any = true;
        if (c == '\n') {
            cr = false;
            break;
        }
        if (cr) string::append_char(line->w2, '\r');
        cr = c == '\r';
        if (!cr) string::append_char(line->w2, static_cast<uint32_t>(c));
    }
    if (cr) string::append_char(line->w2, '\r');
    return any;
}

// The bytes buffered for the next reader, filled when empty: at most [cap] of them.
const uint8_t* take_bytes(size_t cap, size_t* n) {
    *n = 0;
    if (cap == 0 || !fill()) return nullptr;
    *n = std::min(cap, in.len - in.pos);
    const uint8_t* p = in.bytes + in.pos;
    in.pos += *n;
    return p;
}

} // namespace zyl::stdin_input

namespace zyl::routines {

// input-stdin: a new string with the next line of standard input; none at its end.
void input_stdin() {
    cell* line = string::push_new(256);
    bool got = stdin_input::read_line(line);
    stack::set_last(got ? line : &none_value);
}

// read-stdin buffer buflen: at most buflen bytes of standard input into the binary at its
// index, its tail moved on by the bytes read; answers their count. The binary is grown to
// room first, whatever the caller left.
void read_stdin() {
    cell* b = stack::push(stack::arg(0));
    int32_t want = integer::get(stack::arg(1));
    size_t got = 0;
    const uint8_t* p = stdin_input::take_bytes(want > 0 ? static_cast<size_t>(want) : 0, &got);
    if (got > 0) {
        binary::rs_clear(b); // the bytes go at the binary's index
        binary::append_bytes(b, p, static_cast<uint32_t>(got));
    }
    cell n = integer::make_value(static_cast<int32_t>(got));
    stack::set_last(&n);
}

// console/init title: the window title as OSC 0 when standard output is a terminal; the
// console's size from the window when both ends are terminals, else 80x50.
void console_init() {
    cell title = *stack::arg(0);
    if (::isatty(STDOUT_FILENO)) {
        std::string t = "\x1b]0;" + string::utf8_of(&title) + "\x07";
        terminal::write_out(t.data(), t.size());
    }
    int columns = 0, rows = 0;
    if (!(terminal::interactive() && terminal::window_size(columns, rows))) columns = rows = 0;
    std::string code = "if any [zero? system/console/size/x zero? system/console/size/y] [system/console/size: " +
                       std::to_string(columns > 0 ? columns : 80) + "x" + std::to_string(rows > 0 ? rows : 50) +
                       "]";
    cell* b = runtime::load_text(reinterpret_cast<const uint8_t*>(code.data()), code.size());
    interp::eval_block(b, false);
    stack::set_last(&unset_value);
}

// write-stderr text: the text on the standard error, as UTF-8.
void write_stderr() {
    std::string t = string::utf8_of(stack::arg(0));
    for (size_t done = 0; done < t.size();) {
        ssize_t n = ::write(STDERR_FILENO, t.data() + done, t.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    stack::set_last(&unset_value);
}

} // namespace zyl::routines
