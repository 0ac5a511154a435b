// gui/terminal/face_painter.cpp: the face painter, colours read from faces and fonts, and image
// cells made of half blocks.
#include "gui/terminal/face_painter.h"

#include <algorithm>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "gui/terminal/draw_dialect.h"
#include "gui/terminal/face.h"
#include "services/image.h"

namespace zyl::tui {

int color_mode = 2;

uint32_t tuple_to_rgba(const cell* t, bool& has_alpha) {
    const uint8_t* b = tuple::bytes_of(t);
    has_alpha = tuple::count_of(t) > 3;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | (has_alpha ? uint32_t(b[3]) << 24 : 0);
}

uint32_t color_of(const cell* t) {
    if (t->type() != T_tuple) return 0;
    bool alpha;
    uint32_t rgba = tuple_to_rgba(t, alpha);
    if (alpha && (rgba >> 24) != 0) return 0; // only an opaque colour paints
    return rgb_to_color(rgba);
}

namespace {

// The value of the field named [name] in object [obj], or null when it has none. Valid until
// the next allocation; [name] is interned by the caller beforehand.
const cell* field_named(const cell* obj, uint32_t symbol) {
    if (obj->type() != T_object) return nullptr;
    cell w = word::make_value(T_word, 0, symbol, word::NO_INDEX);
    int32_t i = object::find_word(obj, &w);
    return i < 0 ? nullptr : object::values_head(obj) + i;
}

struct names {
    uint32_t color, align, v_align, wrap, right, center, middle, bottom, hint;
};
names nm{};
uint32_t names_start = 0; // the run-time start the symbols belong to

void intern_names() {
    if (nm.color && names_start == event::starts) return;
    names_start = event::starts;
    nm = {symbol::make("color"), symbol::make("align"), symbol::make("v-align"), symbol::make("wrap?"),
          symbol::make("right"), symbol::make("center"), symbol::make("middle"), symbol::make("bottom"),
          symbol::make("hint")};
}

bool word_is(const cell* v, uint32_t sym) {
    return v && word::any_word_type_q(v->type()) && symbol::resolve(v->w2) == symbol::resolve(sym);
}

} // namespace

bool font_color(const cell* font_in, uint32_t& code) {
    cell font_copy = *font_in; // interning may move the series [font_in] lies in
    const cell* font = &font_copy;
    intern_names();
    const cell* c = field_named(font, nm.color);
    if (!c || c->type() != T_tuple) return false;
    code = color_of(c);
    return true;
}

uint32_t para_flags(const cell* para_in) {
    cell para_copy = *para_in;
    const cell* para = &para_copy;
    intern_names();
    if (para->type() != T_object) return 0;
    uint32_t bits = 0;
    const cell* v = field_named(para, nm.align);
    if (word_is(v, nm.right)) bits |= PARA_RIGHT;
    else if (word_is(v, nm.center)) bits |= PARA_CENTER;
    v = field_named(para, nm.v_align);
    if (word_is(v, nm.middle)) bits |= PARA_MIDDLE;
    else if (word_is(v, nm.bottom)) bits |= PARA_BOTTOM;
    v = field_named(para, nm.wrap);
    if (v && v->type() == T_logic && v->w1) bits |= PARA_WRAP;
    return bits;
}

namespace {

// The string under key `hint` in block [options], or null.
const cell* hint_of(const cell* options) {
    if (options->type() != T_block) return nullptr;
    uint32_t len = series::rs_abs_length_q(options);
    const cell* head = block::cells_of(options->w2);
    for (uint32_t i = options->w1; i + 1 < len; i++)
        if (word_is(head + i, nm.hint) && head[i + 1].type() == T_string) return head + i + 1;
    return nullptr;
}

// Places and draws [t] in [box] by the paragraph bits.
void place_text(screen& s, const text_span& t, const clip_rect& box, int x, int y, int w, int h, const text_style& st) {
    bool wrap = st.para & PARA_WRAP;
    extent e = text_extent(t, wrap ? w : 0);
    int dx = st.para & PARA_CENTER ? (w - e.width) / 2 : st.para & PARA_RIGHT ? w - e.width : 0;
    int dy = st.para & PARA_MIDDLE ? (h - e.lines) / 2 : st.para & PARA_BOTTOM ? h - e.lines : 0;
    draw_text(s, t, x + dx, y + dy, box, st, wrap);
}

} // namespace

void paint_face(screen& s, widget* w, int x, int y, uint32_t mode) {
    intern_names();
    // Step 1: the style. Fields are read anew after anything that may allocate.
    const cell* face = &w->face;
    text_style st{mode, 0, 0, 0};
    st.bg = color_of(field(face, F_COLOR));
    uint32_t fg;
    if (font_color(field(face, F_FONT), fg)) st.fg = fg;
    st.para = para_flags(field(face, F_PARA));
    // Steps 2 and 3: the visible box, cleared to the background.
    clip_rect box = clip_box(s, w, x, y);
    if (box.empty()) return;
    for (int r = box.y0; r < box.y1; r++)
        for (int c = box.x0; c < box.x1; c++) screen_at(s, c, r) = screen_cell{' ', st.bg, 0, 0};
    int bw = int(std::clamp<double>(double(w->right) - w->left, 0, 1e9)), bh = int(std::clamp<double>(double(w->bottom) - w->top, 0, 1e9));
    // Steps 4 and 5: image cells, then the helper's rendering.
    if (w->extra) draw_cells(s, *w->extra, x, y, box, mode, true);
    if (w->ui) {
        cell ui{T_string, 0, w->ui, 0};
        draw_text(s, span_of(&ui), x, y, box, st, st.para & PARA_WRAP);
    }
    // Step 6: the text (rich text brings its own cells), or the hint, dimmed.
    if (!(mode & MODE_NO_TEXT)) {
        if (w->data && w->type == symbol::resolve(symbol::make("rich-text"))) {
            draw_cells(s, *static_cast<cell_array*>(w->data), x, y, box, mode, st.para & PARA_WRAP);
        } else {
            const cell* text = field(face, F_TEXT);
            if (text->type() == T_string && string::length_of(text) > 0) {
                place_text(s, span_of(text), box, x, y, bw, bh, st);
            } else if (const cell* hint = hint_of(field(face, F_OPTIONS))) {
                text_style dim = st;
                dim.mode |= MODE_DIM;
                place_text(s, span_of(hint), box, x, y, bw, bh, dim);
            }
        }
    }
    // Step 7: the draw block, in report mode; a face whose drawing failed waits for an update.
    const cell* draw = field(face, F_DRAW);
    if (draw->type() == T_block && series::rs_abs_length_q(draw) > draw->w1 && !w->draw_failed) {
        draw_state d;
        d.ox = x;
        d.oy = y;
        d.clip = box;
        d.mode = mode & MODE_ATTRS;
        cell commands = *draw;
        if (!run_draw(s, d, &commands, true)) w->draw_failed = true;
    }
}

void prepare_image(widget* w) {
    if (w->extra) {
        std::free(w->extra->cells);
        std::free(w->extra);
        w->extra = nullptr;
    }
    const cell* img = field(&w->face, F_IMAGE);
    if (img->type() != T_image) return;
    // Never more cells than the console shows: a huge face costs no more than the screen.
    double fw = double(w->right) - w->left, fh = double(w->bottom) - w->top;
    int64_t full_w = fw != fw || fw < 1 ? 0 : int64_t(std::min<double>(fw, 2147483647.0));
    int64_t full_h = fh != fh || fh < 1 ? 0 : int64_t(std::min<double>(fh, 2147483647.0));
    int64_t cw = std::min<int64_t>(full_w, scr.columns > 0 ? scr.columns : 80);
    int64_t ch = std::min<int64_t>(full_h, scr.rows > 0 ? scr.rows : 24);
    if (cw < 1 || ch < 1) return;
    imaging::bitmap* b = image::bitmap_of(img);
    auto* a = static_cast<cell_array*>(std::calloc(1, sizeof(cell_array)));
    auto* cells = static_cast<screen_cell*>(std::calloc(size_t(cw * ch), sizeof(screen_cell)));
    if (!a || !cells) {
        std::free(a);
        std::free(cells);
        return;
    }
    a->cells = cells;
    a->width = int32_t(cw);
    a->height = int32_t(ch);
    w->extra = a;
    if (!b || !b->width || !b->height) return;
    auto code = [](uint32_t px) {
        uint32_t r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, bl = px & 0xFF;
        return color_mode == 4 ? color_rgb(r, g, bl) : rgb_to_color(r | g << 8 | bl << 16);
    };
    for (int64_t r = 0; r < ch; r++) {
        uint32_t up = uint32_t((2 * r) * b->height / (2 * full_h)), down = uint32_t((2 * r + 1) * b->height / (2 * full_h));
        for (int64_t c = 0; c < cw; c++) {
            uint32_t col = uint32_t(c * b->width / full_w);
            uint32_t top = b->pixels[size_t(up) * b->width + col], bottom = b->pixels[size_t(down) * b->width + col];
            screen_cell& sc = cells[r * cw + c];
            if ((top >> 24) == 0) sc = screen_cell{' ', 0, 0, 0};
            else sc = screen_cell{0x2584, code(top), code(bottom), 0};
        }
    }
}

} // namespace zyl::tui
