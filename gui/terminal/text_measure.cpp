// gui/terminal/text_measure.cpp: text measured in character cells, and the two routines that
// answer for it (text-box metrics and text size).
#include "gui/terminal/text_measure.h"

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "gui/terminal/face.h"
#include "runtime/char_width.h"
#include "runtime/error.h"

namespace zyl::tui {

text_span span_of(const cell* s) {
    cell c = *s;
    uint32_t len = string::rs_length_q(&c);
    series_buffer* b = memory::buffer_of(c.w2);
    uint32_t unit = string::unit_of(b);
    return {b->head + (uint64_t(c.w1) << string::shift_of(unit)), unit, len};
}

int char_width(uint32_t cp) { return unicode::char_width(cp); }

extent text_extent(const text_span& t, int32_t max_width) {
    int32_t w = 0, widest = 0, lines = 1;
    for (uint32_t i = 0; i < t.len; i++) {
        uint32_t cp = t.at(i);
        if (cp == '\n') {
            if (w > widest) widest = w;
            w = 0;
            lines++;
            continue;
        }
        int32_t cw = char_width(cp);
        if (max_width > 0 && w + cw > max_width) {
            if (w > widest) widest = w;
            w = 0;
            lines++;
            if (cw > max_width) break; // fits on no line: the layout ends here
        }
        w += cw;
    }
    return {w > widest ? w : widest, lines};
}

line_measure measure_line(const text_span& t, int32_t max_width) {
    int32_t w = 0, widest = 0, lines = 1;
    uint32_t i = 0;
    for (; i < t.len; i++) {
        uint32_t cp = t.at(i);
        if (cp == '\n') {
            if (w > widest) widest = w;
            w = 0;
            lines++;
            continue;
        }
        int32_t cw = char_width(cp);
        if (int64_t(w) + cw > max_width) break;
        w += cw;
    }
    return {w > widest ? w : widest, i, lines};
}

namespace {

// The wrapped layout's walk: before character [cp] at column [col], moves to the next line when
// it does not fit [box_width]. A character wider than the box stays on its own line.
inline void wrap_before(uint32_t cp, int32_t cw, int32_t box_width, int32_t& col, int32_t& line) {
    if (cp != '\n' && box_width > 0 && col > 0 && col + cw > box_width) {
        col = 0;
        line++;
    }
}

inline void advance(uint32_t cp, int32_t cw, int32_t& col, int32_t& line) {
    if (cp == '\n') {
        col = 0;
        line++;
    } else {
        col += cw;
    }
}

} // namespace

void char_position(const text_span& t, int32_t box_width, uint32_t index, int32_t& col, int32_t& line) {
    col = 0;
    line = 0;
    if (index > t.len) index = t.len;
    for (uint32_t i = 0; i <= index && i < t.len; i++) {
        uint32_t cp = t.at(i);
        int32_t cw = char_width(cp);
        wrap_before(cp, cw, box_width, col, line);
        if (i == index) return;
        advance(cp, cw, col, line);
    }
}

uint32_t char_at_cell(const text_span& t, int32_t box_width, int32_t col, int32_t line, bool& past_last) {
    int32_t c = 0, l = 0;
    past_last = false;
    for (uint32_t i = 0; i < t.len; i++) {
        uint32_t cp = t.at(i);
        int32_t cw = char_width(cp);
        wrap_before(cp, cw, box_width, c, l);
        if (l > line) return i; // the target line ended before the cell
        if (l == line && (cp == '\n' || c + cw > col)) return i;
        advance(cp, cw, c, l);
    }
    past_last = true;
    return t.len;
}

namespace {

// The layout box's width of [face] (0: unlimited).
int32_t box_width_of(const cell* face) {
    const cell* size = field(face, F_SIZE);
    if (size->type() == T_pair) return pair::get_x(size) > 0 ? pair::get_x(size) : 0;
    if (size->type() == T_point2d) {
        float x = point::get(size, 0);
        return x >= 1.0f && x < 2147483520.0f ? int32_t(x) : 0;
    }
    return 0;
}

// A coordinate of pair or point [p], truncated; false for another value.
bool coords_of(const cell* p, int32_t& x, int32_t& y) {
    if (p->type() == T_pair) {
        x = pair::get_x(p);
        y = pair::get_y(p);
        return true;
    }
    if (p->type() != T_point2d) return false;
    auto trunc = [](float f) { return f != f ? 0 : f <= -2147483648.0f ? INT32_MIN : f >= 2147483520.0f ? INT32_MAX : int32_t(f); };
    x = trunc(point::get(p, 0));
    y = trunc(point::get(p, 1));
    return true;
}

const uint8_t empty_text[1] = {0};

} // namespace

void text_box_metrics(const cell* face, const cell* arg, int32_t type, cell* out) {
    check_face(face);
    const cell* text = field(face, F_TEXT);
    text_span t = text->type() == T_string ? span_of(text) : text_span{empty_text, 1, 0};
    int32_t box = box_width_of(face);
    int32_t col, line, x, y;
    bool past;
    switch (type) {
    case 0:
    case 6: {
        // A 1-based character index: below 1 reads as the first, past the end as the place after the last.
        int64_t n = arg->type() == T_integer ? int64_t(integer::get(arg)) - 1
                    : arg->type() == T_float_ ? int64_t(float_::get(arg) < -1e18 ? -1 : float_::get(arg) > 1e18 ? 1e18 : float_::get(arg)) - 1
                                              : 0;
        uint32_t index = n < 0 ? 0 : n > t.len ? t.len : uint32_t(n);
        char_position(t, box, index, col, line);
        *out = point2D::make_value(float(col), float(line + (type == 6)));
        return;
    }
    case 1:
    case 5:
        if (!coords_of(arg, x, y)) break;
        if (x < 0) x = 0;
        if (y < 0) y = 0;
        {
            uint32_t i = char_at_cell(t, box, x, y, past);
            *out = integer::make_value(int32_t(i + 1 - (type == 5 && past)));
        }
        return;
    case 2: *out = float_::make_value(1.0); return;
    case 3: {
        extent e = text_extent(t, box);
        *out = point2D::make_value(float(e.width), float(e.lines));
        return;
    }
    case 4: *out = integer::make_value(text_extent(t, box).lines); return;
    default: break;
    }
    *out = cell{T_none, 0, 0, 0};
}

void get_text_size(const cell* text, cell* out) {
    text_span t = text->type() == T_string ? span_of(text) : text_span{empty_text, 1, 0};
    line_measure m = measure_line(t, INT32_MAX);
    *out = point2D::make_value(float(m.width), float(m.lines));
}

void check_face(const cell* v) {
    if (!is_face(v)) error::raise(error::cat_script, error::script_face_type, v);
}

} // namespace zyl::tui
