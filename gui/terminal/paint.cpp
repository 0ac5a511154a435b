// gui/terminal/paint.cpp: the text drawer, escapes inside text, clip boxes and the primitives.
#include "gui/terminal/paint.h"

#include <algorithm>
#include <cmath>

namespace zyl::tui {

// {== Escapes inside text

void apply_sgr(uint32_t code, uint32_t& fg, uint32_t& bg, uint32_t& attrs) {
    static constexpr uint32_t attr_of[10] = {0, ATTR_BOLD, ATTR_DIM, ATTR_ITALIC, ATTR_UNDERLINE, ATTR_BLINK, 0, ATTR_REVERSE, ATTR_HIDDEN, ATTR_STRIKE};
    if (code == 0) {
        fg = bg = COLOR_DEFAULT;
        attrs = 0;
    } else if (code <= 9) {
        attrs |= attr_of[code];
    } else if (code >= 21 && code <= 29) {
        attrs &= ~attr_of[code - 20];
    } else if ((code >= 30 && code <= 37) || code == 39) {
        fg = color_16(code - 30);
    } else if ((code >= 40 && code <= 47) || code == 49) {
        bg = color_16(code - 40);
    } else if (code >= 90 && code <= 97) {
        fg = color_16(code - 80);
    } else if (code >= 100 && code <= 107) {
        bg = color_16(code - 90);
    }
}

uint32_t parse_sgr(const text_span& t, uint32_t i, uint32_t& fg, uint32_t& bg, uint32_t& attrs) {
    i++; // the ESC
    if (i >= t.len || t.at(i) != '[') return i;
    i++;
    uint32_t params[3] = {0, 0, 0}, count = 0;
    bool any = false;
    for (; i < t.len; i++) {
        uint32_t c = t.at(i);
        if (c >= '0' && c <= '9') {
            if (count < 3) params[count] = (params[count] * 10 + (c - '0')) % 65535;
            any = true;
        } else if (c == ';') {
            if (count < 3) count++;
            any = true;
        } else {
            break;
        }
    }
    if (i >= t.len) return i; // an unfinished sequence ends the text
    uint32_t final_ = t.at(i++);
    if (final_ != 'm') return i; // cursor and erase sequences are read and ignored
    uint32_t n = any ? std::min(count + 1, 3u) : 1;
    for (uint32_t k = 0; k < n; k++) {
        if ((params[k] == 38 || params[k] == 48) && k + 2 < n && params[k + 1] == 5) {
            (params[k] == 38 ? fg : bg) = color_256(params[k + 2]);
            k += 2;
            continue;
        }
        apply_sgr(params[k], fg, bg, attrs);
    }
    return i;
}

// {== Text

namespace {

// The shared walk of the text drawer. [Src] gives each position's code point and, for prepared
// cells, its colours; the escapes of a string are read through [Src::escape].
template <typename Src>
void walk_text(screen& s, Src& src, uint32_t len, int x, int y, const clip_rect& clip, bool wrap) {
    int64_t col = x, line = y;
    bool skipping = false; // the rest of an unwrapped line runs past the clip
    for (uint32_t i = 0; i < len;) {
        uint32_t cp = src.cp(i);
        if (cp == '\n') {
            line++;
            col = x;
            skipping = false;
            i++;
            continue;
        }
        if (src.escape(cp)) {
            i = src.read_escape(i);
            continue;
        }
        int cw = char_width(cp);
        if (wrap && col + cw > clip.x1 && col > x) {
            line++;
            col = x;
        }
        if (line >= clip.y1) return;
        if (skipping || line < clip.y0 || col < clip.x0) {
            col += cw;
            i++;
            continue;
        }
        if (col + cw > clip.x1) {
            if (!wrap) skipping = true;
            col += cw;
            i++;
            continue;
        }
        if (cw > 0) {
            screen_cell& c = screen_at(s, int(col), int(line));
            src.paint(i, c);
            if (cw == 2) {
                screen_cell& next = screen_at(s, int(col) + 1, int(line));
                next = screen_cell{0, c.bg, c.fg, c.attrs | ATTR_CONTINUATION};
            }
        }
        col += cw;
        i++;
    }
}

struct string_source {
    const text_span& t;
    uint32_t fg, bg, attrs;
    bool escapes;
    uint32_t cp(uint32_t i) const { return t.at(i); }
    bool escape(uint32_t cp) const { return escapes && cp == 0x1B; }
    uint32_t read_escape(uint32_t i) { return parse_sgr(t, i, fg, bg, attrs); }
    void paint(uint32_t i, screen_cell& c) const {
        c.cp = t.at(i);
        c.fg = fg;
        if (bg) c.bg = bg;
        c.attrs = attrs;
    }
};

struct cells_source {
    const screen_cell* cells;
    uint32_t mode_attrs;
    uint32_t cp(uint32_t i) const { return cells[i].cp; }
    bool escape(uint32_t) const { return false; }
    uint32_t read_escape(uint32_t i) { return i + 1; }
    void paint(uint32_t i, screen_cell& c) const {
        c = cells[i];
        c.attrs |= mode_attrs;
    }
};

} // namespace

void draw_text(screen& s, const text_span& t, int x, int y, const clip_rect& clip, const text_style& st, bool wrap) {
    string_source src{t, st.fg, st.bg, st.mode & MODE_ATTRS, (st.mode & MODE_ESCAPES) != 0};
    walk_text(s, src, t.len, x, y, clip, wrap);
}

void draw_cells(screen& s, const cell_array& a, int x, int y, const clip_rect& clip, uint32_t mode, bool wrap) {
    if (!a.cells || a.width <= 0 || a.height <= 0) return;
    if (a.height == 1) {
        cells_source src{a.cells, mode & MODE_ATTRS};
        walk_text(s, src, uint32_t(a.width), x, y, clip, wrap);
        return;
    }
    int row0 = std::max(clip.y0, y), row1 = std::min<int64_t>(clip.y1, int64_t(y) + a.height);
    int col0 = std::max(clip.x0, x), col1 = std::min<int64_t>(clip.x1, int64_t(x) + a.width);
    for (int r = row0; r < row1; r++)
        for (int c = col0; c < col1; c++) screen_at(s, c, r) = a.cells[size_t(r - y) * a.width + (c - x)];
}

clip_rect intersect(const clip_rect& a, const clip_rect& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

namespace {

int clamp_int(double d) { return d != d ? 0 : d <= -2147483648.0 ? INT32_MIN : d >= 2147483647.0 ? INT32_MAX : int(d); }

} // namespace

clip_rect clip_box(screen& s, const widget* w, int x, int y) {
    int64_t width = clamp_int(double(w->right) - w->left), height = clamp_int(double(w->bottom) - w->top);
    clip_rect r{x, y, int(std::clamp<int64_t>(int64_t(x) + width, INT32_MIN, INT32_MAX)),
                int(std::clamp<int64_t>(int64_t(y) + height, INT32_MIN, INT32_MAX))};
    if (w->parent && w->parent->parent) {
        int px, py;
        absolute_position(w->parent, px, py);
        r = intersect(r, clip_box(s, w->parent, px, py));
    }
    r = intersect(r, grid_rect(s));
    if (r.x0 < 0) r.x0 = 0;
    if (r.y0 < 0) r.y0 = 0;
    return r;
}

// {== Primitives

namespace {

constexpr uint32_t FULL_BLOCK = 0x2588;

inline bool inside(const clip_rect& c, int64_t x, int64_t y) { return x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1; }

inline void plot(screen& s, const draw_state& d, int64_t x, int64_t y, uint32_t cp, uint32_t fg) {
    if (!inside(d.clip, x, y)) return;
    screen_cell& c = screen_at(s, int(x), int(y));
    c.cp = cp;
    c.fg = fg;
    c.attrs = 0;
}

inline void fill_cell(screen& s, const draw_state& d, int64_t x, int64_t y) {
    if (!inside(d.clip, x, y)) return;
    screen_cell& c = screen_at(s, int(x), int(y));
    c.cp = ' ';
    c.bg = d.fill;
    c.attrs = 0;
}

// floor(a / b) for b > 0.
inline __int128 floor_div(__int128 a, __int128 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

} // namespace

void prim_line(screen& s, const draw_state& d, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    if (!d.paints || !d.pen_on || d.clip.empty()) return;
    x0 += d.ox, x1 += d.ox, y0 += d.oy, y1 += d.oy;
    bool steep = std::llabs(y1 - y0) > std::llabs(x1 - x0);
    if (steep) std::swap(x0, y0), std::swap(x1, y1);
    if (x0 > x1) std::swap(x0, x1), std::swap(y0, y1);
    // Along the major axis only the clip's span is walked; the minor coordinate is the rounded
    // line, as Bresenham's error term gives it.
    int64_t lo = steep ? d.clip.y0 : d.clip.x0, hi = steep ? d.clip.y1 - 1 : d.clip.x1 - 1;
    int64_t from = std::max(x0, lo), to = std::min(x1, hi);
    __int128 dx = x1 - x0, dy = y1 - y0;
    for (int64_t m = from; m <= to; m++) {
        int64_t n = dx == 0 ? y0 : int64_t(y0 + floor_div(2 * (m - x0) * dy + dx - 1, 2 * dx));
        if (steep) plot(s, d, n, m, FULL_BLOCK, d.pen);
        else plot(s, d, m, n, FULL_BLOCK, d.pen);
    }
}

void prim_box(screen& s, const draw_state& d, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    if (!d.paints || d.clip.empty()) return;
    x0 += d.ox, x1 += d.ox, y0 += d.oy, y1 += d.oy;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    int64_t cx0 = std::max<int64_t>(x0, d.clip.x0), cx1 = std::min<int64_t>(x1, d.clip.x1 - 1);
    int64_t cy0 = std::max<int64_t>(y0, d.clip.y0), cy1 = std::min<int64_t>(y1, d.clip.y1 - 1);
    if (cx0 > cx1 || cy0 > cy1) return;
    if (d.fill_on)
        for (int64_t y = std::max(cy0, y0 + 1); y <= std::min(cy1, y1 - 1); y++)
            for (int64_t x = std::max(cx0, x0 + 1); x <= std::min(cx1, x1 - 1); x++) fill_cell(s, d, x, y);
    if (!d.pen_on) return;
    for (int64_t x = cx0; x <= cx1; x++) {
        uint32_t top = x == x0 ? 0x250C : x == x1 ? 0x2510 : 0x2500;
        uint32_t bottom = x == x0 ? 0x2514 : x == x1 ? 0x2518 : 0x2500;
        plot(s, d, x, y0, top, d.pen);
        plot(s, d, x, y1, bottom, d.pen);
    }
    for (int64_t y = std::max(cy0, y0 + 1); y <= std::min(cy1, y1 - 1); y++) {
        plot(s, d, x0, y, 0x2502, d.pen);
        plot(s, d, x1, y, 0x2502, d.pen);
    }
}

namespace {

// The half width of row [dy] (|dy| <= ry) of an ellipse of radii [rx], [ry], rounded.
int64_t half_width(int64_t rx, int64_t ry, int64_t dy) {
    if (dy > ry) return -1;
    double f = double(dy) / double(ry);
    double v = std::floor(double(rx) * std::sqrt(std::max(0.0, 1.0 - f * f)) + 0.5);
    return int64_t(v);
}

} // namespace

void prim_ellipse(screen& s, const draw_state& d, int64_t cx, int64_t cy, int64_t rx, int64_t ry) {
    if (!d.paints || d.clip.empty() || rx < 0 || ry < 0) return;
    cx += d.ox, cy += d.oy;
    int64_t row0 = std::max<int64_t>(cy - ry, d.clip.y0), row1 = std::min<int64_t>(cy + ry, d.clip.y1 - 1);
    for (int64_t y = row0; y <= row1; y++) {
        int64_t dy = std::llabs(y - cy);
        int64_t outer = ry == 0 ? rx : half_width(rx, ry, dy);
        int64_t inner = ry == 0 ? rx : std::min(outer, half_width(rx, ry, dy + 1) + 1); // outline runs from here
        if (dy == ry) inner = -outer; // the top and bottom rows are all outline
        int64_t c0 = std::max<int64_t>(cx - outer, d.clip.x0), c1 = std::min<int64_t>(cx + outer, d.clip.x1 - 1);
        for (int64_t x = c0; x <= c1; x++) {
            int64_t dx = std::llabs(x - cx);
            if (dx >= inner) {
                if (d.pen_on) plot(s, d, x, y, FULL_BLOCK, d.pen);
            } else if (d.fill_on) {
                fill_cell(s, d, x, y);
            }
        }
    }
}

void prim_circle(screen& s, const draw_state& d, int64_t cx, int64_t cy, int64_t radius) {
    if (radius < 1) return;
    prim_ellipse(s, d, cx, cy, 2 * radius, radius); // cells are about twice as tall as wide
}

void prim_ellipse_in(screen& s, const draw_state& d, int64_t x, int64_t y, int64_t w, int64_t h) {
    int64_t rx = int64_t((double(w) + 0.5) / 2.0), ry = int64_t((double(h) + 0.5) / 2.0);
    prim_ellipse(s, d, x + rx, y + ry, rx, ry);
}

void prim_triangle(screen& s, const draw_state& d, int64_t x[3], int64_t y[3]) {
    if (!d.paints || !d.fill_on || d.clip.empty()) return;
    double px[3], py[3];
    for (int i = 0; i < 3; i++) px[i] = double(x[i] + d.ox), py[i] = double(y[i] + d.oy);
    // Sorted by row; each visible row is filled between the edges that cross it.
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2 - i; j++)
            if (py[j] > py[j + 1]) std::swap(py[j], py[j + 1]), std::swap(px[j], px[j + 1]);
    double top = std::max<double>(py[0], d.clip.y0), bottom = std::min<double>(py[2], d.clip.y1 - 1);
    auto at = [&](int a, int b, double row) {
        return py[a] == py[b] ? px[a] : px[a] + (px[b] - px[a]) * (row - py[a]) / (py[b] - py[a]);
    };
    for (double row = std::ceil(top); row <= bottom; row++) {
        double xa = at(0, 2, row), xb = row < py[1] ? at(0, 1, row) : at(1, 2, row);
        if (xa > xb) std::swap(xa, xb);
        double c0 = std::max<double>(std::ceil(xa), d.clip.x0), c1 = std::min<double>(std::floor(xb), d.clip.x1 - 1);
        for (double col = c0; col <= c1; col++) fill_cell(s, d, int64_t(col), int64_t(row));
    }
}

void prim_text(screen& s, const draw_state& d, int64_t x, int64_t y, const text_span& t) {
    if (!d.paints || d.clip.empty()) return;
    x += d.ox, y += d.oy;
    if (x >= d.clip.x1 || y >= d.clip.y1) return;
    // A start far left or above the clip is walked from there: the text is no longer than it is.
    text_style st{MODE_ESCAPES | d.mode, 0, d.font_set ? d.font : d.pen, 0};
    int64_t lo = int64_t(INT32_MIN) / 2;
    draw_text(s, t, int(std::max(x, lo)), int(std::max(y, lo)), d.clip, st, true);
}

} // namespace zyl::tui
