// console/line_redraw.cpp: drawing the prompt and the edited line with relative cursor moves.
//
// The editor never asks the terminal where the cursor is: it lays the text out itself (wide
// characters that do not fit in a row's last column go to the next row, tabs are four
// spaces, escape sequences in the prompt take no column) and remembers the row it left the
// cursor on, relative to the first row it drew. Rows are separated by CR LF, so the terminal's
// own wrapping never decides anything, and the terminal scrolls as it needs.
#include <algorithm>
#include <cstdio>

#include "console/line_state.h"
#include "runtime/char_width.h"
#include "runtime/platform/terminal.h"
#include "runtime/unicode.h"

namespace zyl::line_editor {

editor ed;

namespace {

struct builder {
    layout& l;
    int col;
    int columns;

    void new_row() {
        l.ends.back() = col;
        l.rows.emplace_back();
        l.ends.push_back(0);
        col = 0;
    }
    void put_bytes(uint32_t cp) {
        uint8_t buf[4];
        int n = cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) ? unicode::encode_utf8(cp, buf)
                                                              : unicode::encode_utf8(0xFFFD, buf);
        l.rows.back().append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    }
    // Makes room for a character of width [w]: a row that cannot hold it ends first.
    void fit(int w) {
        if (w > 0 && col + w > columns && col > 0) new_row();
    }
    void put(uint32_t cp, int w) {
        fit(w);
        put_bytes(cp);
        col += w;
    }
};

// The width a line character is drawn with, and the character drawn.
uint32_t shown(uint32_t cp, int& w) {
    if (ed.hidden) {
        w = 1;
        return '*';
    }
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) { // a control character must not act
        w = 1;
        return '?';
    }
    w = unicode::char_width(cp);
    return cp;
}

void prompt_into(builder& b) {
    const text& p = ed.prompt;
    for (size_t i = 0; i < p.size(); i++) {
        uint32_t cp = p[i];
        if (cp == '\n') {
            b.new_row();
        } else if (cp == '\t') {
            for (int k = 0; k < 4; k++) b.put(' ', 1);
        } else if (cp == 0x1B) { // a colour sequence: ESC [ digits and ';' then its final
            b.put_bytes(cp);
            if (i + 1 < p.size() && (p[i + 1] == '[' || p[i + 1] == '(')) {
                b.put_bytes(p[++i]);
                while (i + 1 < p.size() && ((p[i + 1] >= '0' && p[i + 1] <= '9') || p[i + 1] == ';'))
                    b.put_bytes(p[++i]);
                if (i + 1 < p.size()) b.put_bytes(p[++i]);
            }
        } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            b.put('?', 1);
        } else {
            b.put(cp, unicode::char_width(cp));
        }
    }
}

void csi(std::string& out, int n, char final) {
    if (n <= 0) return;
    char buf[16];
    int len = std::snprintf(buf, sizeof buf, "\x1b[%d%c", n, final);
    out.append(buf, static_cast<size_t>(len));
}

// From the cursor's current row (relative to the first drawn) to [row], column [col].
void go_to(std::string& out, int from_row, int row, int col) {
    if (row < from_row) csi(out, from_row - row, 'A');
    else csi(out, row - from_row, 'B');
    out += '\r';
    csi(out, col, 'C');
}

void flush() {
    terminal::write_out(ed.out.data(), ed.out.size());
    ed.out.clear();
}

} // namespace

void lay_out(layout& l) {
    l.rows.assign(1, std::string());
    l.ends.assign(1, 0);
    builder b{l, ed.start_column, std::max(ed.columns, 1)};
    prompt_into(b);
    bool placed = false;
    for (size_t i = 0; i < ed.line.size(); i++) {
        if (ed.line[i] == '\t' && !ed.hidden) {
            for (int k = 0; k < 4; k++) {
                b.fit(1);
                if (i == ed.cursor && k == 0) {
                    l.cursor_row = static_cast<int>(l.rows.size()) - 1;
                    l.cursor_col = b.col;
                    placed = true;
                }
                b.put(' ', 1);
            }
            continue;
        }
        int w;
        uint32_t cp = shown(ed.line[i], w);
        b.fit(w);
        if (i == ed.cursor) {
            l.cursor_row = static_cast<int>(l.rows.size()) - 1;
            l.cursor_col = b.col;
            placed = true;
        }
        b.put(cp, w);
    }
    if (b.col >= b.columns) b.new_row(); // a full last row: the cursor stands on the next
    l.ends.back() = b.col;
    l.end_row = static_cast<int>(l.rows.size()) - 1;
    l.end_col = b.col;
    if (!placed) {
        l.cursor_row = l.end_row;
        l.cursor_col = l.end_col;
    } else if (l.cursor_col >= b.columns) { // before a mark that follows a full row
        l.cursor_row++;
        l.cursor_col = 0;
    }
}

void redraw(bool last_rows) {
    layout l;
    lay_out(l);
    int total = static_cast<int>(l.rows.size());
    int window = std::max(ed.rows, 1);
    int first = 0;
    if (total > window)
        first = last_rows ? total - window : std::clamp(l.cursor_row - window / 2, 0, total - window);
    int last = std::min(total, first + window) - 1;

    std::string& out = ed.out;
    if (ed.drawn) csi(out, ed.cursor_row, 'A');
    out += '\r';
    if (first == 0) csi(out, ed.start_column, 'C');
    out += "\x1b[J";
    for (int r = first; r <= last; r++) {
        if (r > first) out += "\r\n";
        out += l.rows[static_cast<size_t>(r)];
    }
    int target = std::clamp(l.cursor_row, first, last);
    // Drawing leaves the cursor after the last row's text: often just where it belongs.
    if (!(target == last && l.cursor_row == last && l.cursor_col == l.ends[static_cast<size_t>(last)]))
        go_to(out, last - first, target - first, target == l.cursor_row ? l.cursor_col : 0);
    flush();
    ed.drawn = true;
    ed.stale = false;
    ed.first_drawn = first;
    ed.drawn_rows = last - first + 1;
    ed.cursor_row = target - first;
}

void move_cursor(bool blank) {
    layout l;
    lay_out(l);
    int row = l.cursor_row - ed.first_drawn;
    if (!ed.drawn || ed.stale || row < 0 || row >= ed.drawn_rows) {
        redraw();
        return;
    }
    go_to(ed.out, ed.cursor_row, row, l.cursor_col);
    if (blank) ed.out += "\x1b[J";
    flush();
    ed.cursor_row = row;
}

void echo_last() {
    layout l;
    lay_out(l);
    int row = l.cursor_row - ed.first_drawn;
    if (ed.line.back() == '\t' && !ed.hidden) { // four spaces: drawn by the layout
        redraw();
        return;
    }
    int w;
    uint32_t cp = shown(ed.line.back(), w);
    // The character stays on the cursor's row and nothing scrolls: write it alone.
    if (ed.drawn && !ed.stale && row == ed.cursor_row && row < ed.drawn_rows && l.cursor_col == l.ends[l.cursor_row] &&
        l.cursor_col < ed.columns) {
        uint8_t buf[4];
        int n = unicode::encode_utf8(cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) ? cp : 0xFFFD, buf);
        terminal::write_out(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        return;
    }
    redraw();
}

void finish() {
    layout l;
    lay_out(l);
    int total = static_cast<int>(l.rows.size());
    if (total > ed.rows || !ed.drawn || ed.stale) {
        redraw(true);
    }
    go_to(ed.out, ed.cursor_row, ed.drawn_rows - 1, 0);
    ed.out += "\n";
    flush();
    ed.drawn = false;
}

} // namespace zyl::line_editor
