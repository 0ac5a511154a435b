// gui/terminal/screen.cpp: the cell grid and the painter of the terminal UI (screen.h): a
// whole frame, or only the cells that changed since the frame the terminal still shows.
#include "gui/terminal/screen.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "runtime/common.h"
#include "runtime/platform/terminal.h"

namespace zyl::tui {

screen scr;

// {== Output buffer

namespace {

// Room for [n] more bytes.
void reserve(out_buffer& b, size_t n) {
    if (b.size + n <= b.capacity) return;
    size_t cap = b.capacity ? b.capacity : 2048;
    while (cap < b.size + n) cap *= 2;
    auto* grown = static_cast<char*>(std::realloc(b.data, cap));
    if (!grown) runtime_error(RT_OUT_OF_MEMORY);
    b.data = grown;
    b.capacity = cap;
}

// The appenders below assume the room was reserved: a cell needs at most CELL_BYTES.
constexpr size_t CELL_BYTES = 128;

inline void put(out_buffer& b, const char* s, size_t n) {
    std::memcpy(b.data + b.size, s, n);
    b.size += n;
}
template <size_t N> inline void put(out_buffer& b, const char (&s)[N]) { put(b, s, N - 1); }

void put_number(out_buffer& b, uint32_t n) {
    char digits[10];
    int i = 0;
    do {
        digits[i++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    while (i > 0) b.data[b.size++] = digits[--i];
}

// "\033[" n letter
void put_csi(out_buffer& b, uint32_t n, char letter) {
    put(b, "\x1b[");
    put_number(b, n);
    b.data[b.size++] = letter;
}

void put_utf8(out_buffer& b, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    char* p = b.data + b.size;
    if (cp < 0x80) {
        p[0] = static_cast<char>(cp);
        b.size += 1;
    } else if (cp < 0x800) {
        p[0] = static_cast<char>(0xC0 | (cp >> 6));
        p[1] = static_cast<char>(0x80 | (cp & 0x3F));
        b.size += 2;
    } else if (cp < 0x10000) {
        p[0] = static_cast<char>(0xE0 | (cp >> 12));
        p[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        p[2] = static_cast<char>(0x80 | (cp & 0x3F));
        b.size += 3;
    } else {
        p[0] = static_cast<char>(0xF0 | (cp >> 18));
        p[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        p[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        p[3] = static_cast<char>(0x80 | (cp & 0x3F));
        b.size += 4;
    }
}

void write_now(screen& s, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(s.fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
        } else if (!(w < 0 && errno == EINTR)) {
            return; // the terminal is gone: nothing more to show
        }
    }
}

} // namespace

void flush_out(screen& s) {
    write_now(s, s.out.data, s.out.size);
    s.out.size = 0;
}

// }==
// {== Attributes and colours

namespace {

// Whether colour code [c] paints as the reset "0" (16-colour code 8, or a kind of no meaning).
bool is_reset_color(uint32_t c) {
    uint32_t kind = c >> 24, v = c & 0xFFFFFF;
    if (kind == 1) return v == 8 || v > 17;
    return kind != 0 && kind != 2 && kind != 4;
}

// The SGR parameters of colour [c], foreground or background ([bg]).
void put_color(out_buffer& b, uint32_t c, bool bg) {
    uint32_t kind = c >> 24, v = c & 0xFFFFFF;
    put(b, "\x1b[");
    switch (kind) {
    case 0: put(b, bg ? "49" : "39", 2); break;
    case 1:
        if (v == 9) put(b, bg ? "49" : "39", 2);
        else put_number(b, (v <= 7 ? v : v - 10 + 60) + (bg ? 40 : 30));
        break;
    case 2:
        put(b, bg ? "48;5;" : "38;5;", 5);
        put_number(b, v & 0xFF);
        break;
    default: // 4: RGB
        put(b, bg ? "48;2;" : "38;2;", 5);
        put_number(b, (v >> 16) & 0xFF);
        b.data[b.size++] = ';';
        put_number(b, (v >> 8) & 0xFF);
        b.data[b.size++] = ';';
        put_number(b, v & 0xFF);
        break;
    }
    b.data[b.size++] = 'm';
}

// One attribute, turned on or off when [want] differs from the terminal's [have].
void put_attr(out_buffer& b, uint32_t& have, uint32_t want, uint32_t bit, const char (&on)[5], const char (&off)[6]) {
    if ((want & bit) == (have & bit)) return;
    if (want & bit) put(b, on);
    else put(b, off);
    have ^= bit;
}

// Dim or bold on or off. "\033[22m" ends both, so the terminal then has neither.
void put_intensity(out_buffer& b, uint32_t& have, uint32_t want, uint32_t bit, const char (&on)[5]) {
    if ((want & bit) == (have & bit)) return;
    if (want & bit) {
        put(b, on);
        have |= bit;
    } else {
        put(b, "\x1b[22m");
        have &= ~(ATTR_DIM | ATTR_BOLD);
    }
}

// Emits what turns the terminal's state [t] into cell [n]'s attributes and colours, and makes
// [t] that state. After a "\033[22m" the dim or bold that the cell keeps is turned on again;
// a colour painted as the reset "0" resets everything first.
void put_changes(out_buffer& b, screen_cell& t, const screen_cell& n) {
    bool fg_reset = n.fg != t.fg && is_reset_color(n.fg);
    bool bg_reset = n.bg != t.bg && is_reset_color(n.bg);
    if (fg_reset || bg_reset) {
        put(b, "\x1b[0m");
        t = screen_cell{0, bg_reset ? n.bg : 0, fg_reset ? n.fg : 0, 0};
    }
    uint32_t have = t.attrs, want = n.attrs;
    put_intensity(b, have, want, ATTR_DIM, "\x1b[2m");
    put_attr(b, have, want, ATTR_REVERSE, "\x1b[7m", "\x1b[27m");
    put_intensity(b, have, want, ATTR_BOLD, "\x1b[1m");
    put_intensity(b, have, want, ATTR_DIM, "\x1b[2m");
    put_attr(b, have, want, ATTR_ITALIC, "\x1b[3m", "\x1b[23m");
    put_attr(b, have, want, ATTR_STRIKE, "\x1b[9m", "\x1b[29m");
    put_attr(b, have, want, ATTR_UNDERLINE, "\x1b[4m", "\x1b[24m");
    if (n.fg != t.fg && !fg_reset) put_color(b, n.fg, false);
    if (n.bg != t.bg && !bg_reset) put_color(b, n.bg, true);
    t = screen_cell{0, n.bg, n.fg, want};
}

// The character of cell [c]; [wide] when a continuation cell follows it. A password cell
// over a wide character paints two stars, so the row keeps its alignment.
void put_char(out_buffer& b, const screen_cell& c, bool wide) {
    if (c.attrs & ATTR_PASSWORD) {
        b.data[b.size++] = '*';
        if (wide) b.data[b.size++] = '*';
    } else if (c.cp == 0) {
        b.data[b.size++] = ' ';
    } else {
        put_utf8(b, c.cp);
    }
}

} // namespace

// }==
// {== Grid

void screen_size(screen& s, int width, int height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (cells > s.grid_capacity) {
        auto* grown = static_cast<screen_cell*>(std::realloc(s.grid, cells * sizeof(screen_cell)));
        if (!grown) runtime_error(RT_OUT_OF_MEMORY);
        s.grid = grown;
        s.grid_capacity = cells;
    }
    s.width = width;
    s.height = height;
    if (cells) std::memset(s.grid, 0, cells * sizeof(screen_cell));
}

void screen_free(screen& s) {
    std::free(s.grid);
    std::free(s.painted);
    std::free(s.out.data);
    s.grid = s.painted = nullptr;
    s.out = out_buffer{};
    s.grid_capacity = s.painted_capacity = 0;
    s.width = s.height = s.painted_w = s.painted_h = 0;
    s.painted_valid = false;
}

// }==
// {== Painting

namespace {

// The caret's row when the cursor goes to the caret, else -1.
int caret_target(const screen& s, bool caret) {
    if (!caret || (s.caret_col < 0 && s.caret_row < 0)) return -1;
    return s.caret_row < 0 ? 0 : s.caret_row >= s.height ? s.height - 1 : s.caret_row;
}

// Keeps the frame just painted as what the terminal shows.
void remember(screen& s) {
    size_t cells = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
    if (cells > s.painted_capacity) {
        auto* grown = static_cast<screen_cell*>(std::realloc(s.painted, cells * sizeof(screen_cell)));
        if (!grown) runtime_error(RT_OUT_OF_MEMORY);
        s.painted = grown;
        s.painted_capacity = cells;
    }
    std::memcpy(s.painted, s.grid, cells * sizeof(screen_cell));
    s.painted_w = s.width;
    s.painted_h = s.height;
    s.painted_fullscreen = s.fullscreen;
    s.painted_top = s.inline_top;
    s.painted_valid = true;
}

void put_row(screen& s, int r, screen_cell& t) {
    const screen_cell* row = s.grid + static_cast<size_t>(r) * s.width;
    for (int c = 0; c < s.width; c++) {
        if (row[c].attrs & ATTR_CONTINUATION) continue;
        reserve(s.out, CELL_BYTES);
        put_changes(s.out, t, row[c]);
        put_char(s.out, row[c], c + 1 < s.width && (row[c + 1].attrs & ATTR_CONTINUATION));
    }
}

} // namespace

void paint_full(screen& s, bool caret) {
    reserve(s.out, 64);
    if (s.fullscreen) {
        put(s.out, "\x1b[H");
    } else {
        put(s.out, "\r");
        if (s.lines_drawn > 0) put_csi(s.out, static_cast<uint32_t>(s.lines_drawn), 'A');
        put(s.out, "\x1b[0J");
    }
    screen_cell t{};
    for (int r = 0; r < s.height; r++) {
        put_row(s, r, t);
        if (r < s.height - 1) {
            t.bg = 0; // each row starts by setting its background again
            reserve(s.out, 16);
            put(s.out, "\x1b[49m\r\n");
        }
    }
    reserve(s.out, CELL_BYTES);
    put_changes(s.out, t, screen_cell{});
    int row = caret_target(s, caret);
    if (row >= 0) {
        put(s.out, "\r");
        if (s.height - (row + 1) > 0) put_csi(s.out, static_cast<uint32_t>(s.height - (row + 1)), 'A');
        if (s.caret_col > 0) put_csi(s.out, static_cast<uint32_t>(s.caret_col), 'C');
        s.lines_drawn = row;
    } else {
        s.lines_drawn = s.height - 1;
    }
}

namespace {

// Moves the cursor from ([row], [col]) to ([r], [c]); a column of -1 is not known.
void move_to(out_buffer& b, int& row, int& col, int r, int c) {
    if (r > row) put_csi(b, static_cast<uint32_t>(r - row), 'B');
    if (r < row) put_csi(b, static_cast<uint32_t>(row - r), 'A');
    row = r;
    if (c != col) put_csi(b, static_cast<uint32_t>(c + 1), 'G');
    col = c;
}

bool same(const screen_cell& a, const screen_cell& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

bool paint_changes(screen& s, bool caret) {
    if (!s.painted_valid || s.painted_w != s.width || s.painted_h != s.height ||
        s.painted_fullscreen != s.fullscreen || (!s.fullscreen && s.painted_top != s.inline_top))
        return false;
    int row = s.lines_drawn, col = -1; // where the last paint left the cursor
    screen_cell t{};
    for (int r = 0; r < s.height; r++) {
        const screen_cell* now = s.grid + static_cast<size_t>(r) * s.width;
        const screen_cell* was = s.painted + static_cast<size_t>(r) * s.width;
        for (int c = 0; c < s.width; c++) {
            if (same(now[c], was[c])) continue;
            int lead = c;
            if (now[c].attrs & ATTR_CONTINUATION) { // the wide character to its left covers it
                if (c == 0 || (now[c - 1].attrs & ATTR_CONTINUATION)) continue;
                lead = c - 1;
            }
            reserve(s.out, CELL_BYTES + 32);
            move_to(s.out, row, col, r, lead);
            bool wide = lead + 1 < s.width && (now[lead + 1].attrs & ATTR_CONTINUATION);
            put_changes(s.out, t, now[lead]);
            put_char(s.out, now[lead], wide);
            col = lead + (wide ? 2 : 1);
            if (col >= s.width) col = -1; // at the edge the terminal may wait to wrap
            if (wide && lead == c) c++;
        }
    }
    reserve(s.out, CELL_BYTES + 32);
    put_changes(s.out, t, screen_cell{});
    int target = caret_target(s, caret);
    if (target >= 0) {
        move_to(s.out, row, col, target, s.caret_col > 0 ? s.caret_col : 0);
        s.lines_drawn = target;
    } else {
        if (s.height - 1 != row) move_to(s.out, row, col, s.height - 1, col < 0 ? 0 : col);
        s.lines_drawn = s.height - 1;
    }
    return true;
}

void paint(screen& s, bool caret) {
    if (s.width < 1 || s.height < 1) return;
    if (!caret) hide_cursor(s);
    terminal::ui_note(terminal::UI_COLOURS, true);
    if (!paint_changes(s, caret)) paint_full(s, caret);
    flush_out(s);
    remember(s);
    s.drawn = true;
    s.redraw = false;
    if (caret) show_cursor(s);
}

// }==
// {== Placement and the escape writers

namespace {

void write_csi(screen& s, const char* lead, int n, char letter) {
    char text[32];
    out_buffer b{text, 0, sizeof text};
    put(b, lead, std::strlen(lead));
    put_number(b, static_cast<uint32_t>(n));
    b.data[b.size++] = letter;
    write_now(s, text, b.size);
}

} // namespace

void place_inline(screen& s) {
    if (s.fullscreen) {
        s.inline_top = s.inline_left = 0;
    } else if (s.inline_top + s.height > s.rows) {
        s.inline_top = s.rows - s.height;
    }
}

void erase_drawn_lines(screen& s) {
    if (!s.drawn) return;
    char text[32];
    out_buffer b{text, 0, sizeof text};
    put(b, "\r");
    if (s.lines_drawn > 0) put_csi(b, static_cast<uint32_t>(s.lines_drawn), 'A');
    put(b, "\x1b[0J"); // rows below the cursor too, when the caret was on the top row
    write_now(s, text, b.size);
    s.lines_drawn = 0;
    s.drawn = false;
    screen_touched(s);
}

void leave_screen(screen& s) {
    if (s.caret_row >= 0) cursor_down(s, s.height - s.lines_drawn);
    write_now(s, "\r\n", 2);
    screen_touched(s);
}

void set_mode(screen& s, int n) { write_csi(s, "\x1b[?", n, 'h'); }
void reset_mode(screen& s, int n) { write_csi(s, "\x1b[?", n, 'l'); }

void query_cursor_position(screen& s) {
    // Only a terminal on both sides answers; elsewhere the query is noise in the output.
    if (isatty(STDIN_FILENO) && isatty(s.fd)) write_now(s, "\x1b[6n", 4);
}

void cursor_down(screen& s, int n) {
    if (n >= 1) write_csi(s, "\x1b[", n, 'B');
}

void alt_screen(screen& s, bool on) {
    if (on) {
        set_mode(s, 1049);
        write_now(s, "\x1b[2J", 4);
    } else {
        reset_mode(s, 1049);
    }
    terminal::ui_note(terminal::UI_ALT_SCREEN, on);
    screen_touched(s);
}

void mouse_reporting(screen& s, bool on) {
    static constexpr int modes[] = {1000, 1003, 1015, 1006};
    for (int m : modes) on ? set_mode(s, m) : reset_mode(s, m);
    terminal::ui_note(terminal::UI_MOUSE, on);
}

void hide_cursor(screen& s) {
    if (s.cursor_hidden) return;
    reset_mode(s, 25);
    s.cursor_hidden = true;
    terminal::ui_note(terminal::UI_CURSOR_HIDDEN, true);
}

void show_cursor(screen& s) {
    if (!s.cursor_hidden) return;
    set_mode(s, 25);
    s.cursor_hidden = false;
    terminal::ui_note(terminal::UI_CURSOR_HIDDEN, false);
}

// }==

} // namespace zyl::tui
