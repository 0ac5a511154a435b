// gui/terminal/views.cpp: widgets made for faces, their updates and destruction, the handlers of
// each face type, and the drawing of a window's widget tree.
//
// Face fields are read by position and re-read after anything that may allocate or run
// language code: a pointer into a face lives only until then.
#include "gui/terminal/views.h"

#include <algorithm>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/system_fields.h"
#include "datatypes/word.h"
#include "gui/terminal/dispatch.h"
#include "gui/terminal/face.h"
#include "gui/terminal/face_painter.h"
#include "gui/terminal/text_measure.h"
#include "gui/terminal/timers.h"
#include "gui/terminal/widget_events.h"
#include "eval/interp.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::tui {

namespace {

enum type_name : int {
    N_WINDOW, N_FIELD, N_BUTTON, N_BASE, N_PROGRESS, N_GROUP_BOX, N_CHECK, N_RADIO, N_TEXT_LIST,
    N_RICH_TEXT, N_CARET, N_BORDER_CORNERS, N_ROUND, N_BORDER_COLOR, N_BACKDROP, N_BOLD, N_ITALIC,
    N_UNDERLINE, N_STRIKE, N_BORDER, N_DATA, N_DROP_LIST, N_DROP_DOWN, N_COUNT
};
constexpr const char* type_names[N_COUNT] = {
    "window", "field", "button", "base", "progress", "group-box", "check", "radio", "text-list",
    "rich-text", "caret", "border-corners", "round", "border-color", "backdrop", "bold", "italic",
    "underline", "strike", "border", "data", "drop-list", "drop-down"};
uint32_t syms[N_COUNT];
uint32_t syms_start = 0;

void intern_types() {
    if (syms_start == event::starts && syms[0]) return;
    syms_start = event::starts;
    for (int i = 0; i < N_COUNT; i++) syms[i] = symbol::resolve(symbol::make(type_names[i]));
}

bool is_word(const cell* v, int name) {
    return word::any_word_type_q(v->type()) && symbol::resolve(v->w2) == syms[name];
}
bool is_true(const cell* v) { return v->type() == T_logic && v->w1; }

// A face's box coordinates from a pair or a point; 0 for another value.
void coords(const cell* v, float& x, float& y) {
    x = y = 0;
    if (v->type() == T_pair) x = float(pair::get_x(v)), y = float(pair::get_y(v));
    else if (v->type() == T_point2d) x = point::get(v, 0), y = point::get(v, 1);
}

// The value after key [name] in block [options] (a block of pairs), or null.
const cell* option(const cell* options, int name) {
    if (options->type() != T_block) return nullptr;
    uint32_t len = series::rs_abs_length_q(options);
    const cell* head = block::cells_of(options->w2);
    for (uint32_t i = options->w1; i + 1 < len; i += 2)
        if (is_word(head + i, name)) return head + i + 1;
    return nullptr;
}

// {== Handlers

void draw_plain(widget* w, int x, int y) { paint_face(scr, w, x, y, MODE_ESCAPES); }
void draw_nothing(widget*, int, int) {}
void draw_zero(widget* w, int x, int y) { paint_face(scr, w, x, y, 0); }
void draw_button(widget* w, int x, int y) { paint_face(scr, w, x, y, w->flags & WF_FOCUSED ? 0x1008 : 0x1000); }
void draw_toggle(widget* w, int x, int y) { paint_face(scr, w, x, y, w->flags & WF_FOCUSED ? 0x3008 : 0x3000); }

void draw_field(widget* w, int x, int y) {
    w->bottom = w->top + 1.0f;
    paint_face(scr, w, x, y, w->flags & WF_PASSWORD ? 0x1800 : 0x1000);
    if ((w->flags & WF_FOCUSED) && w->data) {
        scr.caret_col = x + static_cast<edit_state*>(w->data)->col;
        scr.caret_row = y;
    }
}

void draw_base(widget* w, int x, int y) {
    if (!(w->flags & WF_BASE_CARET)) {
        paint_face(scr, w, x, y, MODE_ESCAPES);
        return;
    }
    widget* target = w->data ? resolve(static_cast<cell*>(w->data)) : nullptr;
    if (target && (target->flags & WF_FOCUSED)) {
        scr.caret_col = x;
        scr.caret_row = y;
    }
}

void draw_group_box(widget* w, int x, int y) {
    paint_face(scr, w, x, y, MODE_NO_TEXT);
    clip_rect box = clip_box(scr, w, x, y);
    if (box.empty()) return;
    const cell* options = field(&w->face, F_OPTIONS);
    bool round = false;
    uint32_t frame_fg = 0;
    if (const cell* v = option(options, N_BORDER_CORNERS)) round = is_word(v, N_ROUND);
    if (const cell* v = option(options, N_BORDER_COLOR)) frame_fg = v->type() == T_tuple ? color_of(v) : 0;
    int x1 = int(std::min<int64_t>(int64_t(x) + int64_t(w->right - w->left), INT32_MAX)) - 1;
    int y1 = int(std::min<int64_t>(int64_t(y) + int64_t(w->bottom - w->top), INT32_MAX)) - 1;
    auto put = [&](int c, int r, uint32_t cp) {
        if (c >= box.x0 && c < box.x1 && r >= box.y0 && r < box.y1) {
            screen_cell& k = screen_at(scr, c, r);
            k.cp = cp;
            k.fg = frame_fg;
        }
    };
    for (int c = std::max(x, box.x0); c <= std::min(x1, box.x1 - 1); c++) {
        put(c, y, c == x ? (round ? 0x256D : 0x250C) : c == x1 ? (round ? 0x256E : 0x2510) : 0x2500);
        put(c, y1, c == x ? (round ? 0x2570 : 0x2514) : c == x1 ? (round ? 0x256F : 0x2518) : 0x2500);
    }
    for (int r = std::max(y + 1, box.y0); r <= std::min(y1 - 1, box.y1 - 1); r++) {
        put(x, r, 0x2502);
        put(x1, r, 0x2502);
    }
    const cell* text = field(&w->face, F_TEXT);
    if (text->type() != T_string) return;
    text_style st{MODE_ESCAPES, 0, 0, 0};
    uint32_t fg;
    if (font_color(field(&w->face, F_FONT), fg)) st.fg = fg;
    clip_rect top{std::max(box.x0, x + 1), box.y0, box.x1, std::min(box.y1, y + 1)};
    draw_text(scr, span_of(text), x + 1, y, top, st, false);
}

void update_none(widget*) {}

void free_cells(void* p) {
    std::free(static_cast<cell_array*>(p)->cells);
    std::free(p);
}

} // namespace

const cell* helper_function(const char* name) {
    cell holder_word = word::load("TUI-helpers"), fn_word = word::load(name);
    const cell* holder = context::find_value(context::global(), &holder_word);
    if (!holder || holder->type() != T_object) return nullptr;
    const cell* fn = object::get_word_value(holder, &fn_word);
    return fn->type() == T_function ? fn : nullptr;
}

namespace {

// Runs helper [name] of the global `TUI-helpers` object with [w]'s face and keeps the string it
// answers as [w]'s rendering. Nothing while the helpers (or that one) are absent. The helper
// may destroy [w]: it is found again through its handle afterwards.
void run_helper(widget* w, const char* name) {
    cell h;
    handle_of(w, &h);
    const cell* fn = helper_function(name);
    if (!fn) return;
    cell f = *fn, face = w->face;
    cell* top = es.top;
    collector::keep k_face{&face};
    cell* result = interp::call_with(&f, &face, 1);
    if (!result) return; // a non-local exit goes on up
    cell answer = *result;
    es.top = top;
    if (!(w = resolve(&h))) return;
    if (answer.type() == T_string) w->ui = answer.w2;
}

void update_progress(widget* w) { run_helper(w, "make-progress-ui"); }
void update_text_list(widget* w) { run_helper(w, "make-text-list-ui"); }
void update_check(widget* w) { run_helper(w, "make-checkbox-ui"); }
void update_radio(widget* w) { run_helper(w, "make-radio-ui"); }

void update_rich_text(widget* w) {
    const cell* text = field(&w->face, F_TEXT);
    const cell* data = field(&w->face, F_DATA);
    if (text->type() != T_string || data->type() != T_block || series::rs_abs_length_q(data) <= data->w1) return;
    text_span t = span_of(text);
    auto* a = static_cast<cell_array*>(w->data);
    if (!a) {
        a = static_cast<cell_array*>(std::calloc(1, sizeof(cell_array)));
        if (!a) error::raise(error::cat_internal, error::internal_no_memory);
        w->data = a;
        w->free_data = free_cells;
    }
    if (uint32_t(a->width) < t.len || !a->cells) {
        auto* cells = static_cast<screen_cell*>(std::realloc(a->cells, std::max<size_t>(t.len, 1) * sizeof(screen_cell)));
        if (!cells) error::raise(error::cat_internal, error::internal_no_memory);
        a->cells = cells;
    }
    a->width = int32_t(t.len);
    a->height = 1;
    uint32_t bg = color_of(field(&w->face, F_COLOR));
    for (uint32_t i = 0; i < t.len; i++) a->cells[i] = screen_cell{t.at(i), bg, 0, 0};
    cell tc = *field(&w->face, F_TEXT), dc = *field(&w->face, F_DATA);
    rich_text_styles(*a, &tc, &dc);
}

// {== Setup per type

void setup(widget* w, int type) {
    switch (type) {
    case N_WINDOW: {
        window_record* r = add_window(w);
        w->data = r;
        if (w->flags & WF_FULLSCREEN) scr.fullscreen = true;
        if (!r->focused) r->focused = w;
        w->on_draw = draw_nothing;
        break;
    }
    case N_BASE: {
        w->on_draw = draw_base;
        const cell* options = field(&w->face, F_OPTIONS);
        if (options->type() != T_block) break;
        uint32_t len = series::rs_abs_length_q(options), n = len > options->w1 ? len - options->w1 : 0;
        if (n % 2) break;
        for (uint32_t i = options->w1; i + 1 < len; i += 2) {
            const cell* head = block::cells_of(options->w2);
            if (!is_word(head + i, N_CARET)) continue;
            cell target = head[i + 1];
            if (target.type() == T_word) target = *context::get_value(&target);
            widget* t = is_face(&target) ? widget_of(&target) : nullptr;
            w->flags |= WF_BASE_CARET;
            if (!t) continue;
            t->flags |= WF_CARET;
            if (!w->data) w->data = std::calloc(1, sizeof(cell)), w->free_data = std::free;
            if (w->data) handle_of(t, static_cast<cell*>(w->data));
        }
        break;
    }
    case N_FIELD: {
        w->flags |= WF_CARET;
        auto* e = static_cast<edit_state*>(std::calloc(1, sizeof(edit_state)));
        if (!e) error::raise(error::cat_internal, error::internal_no_memory);
        w->data = e;
        w->free_data = std::free;
        const cell* text = field(&w->face, F_TEXT);
        if (text->type() == T_string) {
            extent x = text_extent(span_of(text), 0);
            e->index = span_of(text).len;
            e->col = e->width = x.width;
        }
        w->on_draw = draw_field;
        w->on_event = field_on_event;
        break;
    }
    case N_BUTTON:
        w->on_draw = draw_button;
        w->on_event = button_on_event;
        break;
    case N_PROGRESS:
        w->on_draw = draw_zero;
        w->on_update = update_progress;
        break;
    case N_TEXT_LIST:
        w->value = 0;
        w->on_update = update_text_list;
        w->on_event = text_list_on_event;
        break;
    case N_CHECK:
    case N_RADIO:
        w->value = 0;
        w->on_draw = draw_toggle;
        w->on_update = type == N_CHECK ? update_check : update_radio;
        w->on_event = type == N_CHECK ? check_on_event : radio_on_event;
        break;
    case N_RICH_TEXT:
        w->on_draw = draw_zero;
        w->on_update = update_rich_text;
        update_rich_text(w);
        break;
    case N_GROUP_BOX: w->on_draw = draw_group_box; break;
    default: break;
    }
}

int type_of(const cell* face) {
    const cell* t = field(face, F_TYPE);
    if (!word::any_word_type_q(t->type())) return -1;
    uint32_t s = symbol::resolve(t->w2);
    for (int i = 0; i <= N_RICH_TEXT; i++)
        if (syms[i] == s) return i;
    return -1;
}

void grow(window_record* r, const widget* w) {
    r->left = std::min(r->left, w->left);
    r->top = std::min(r->top, w->top);
    r->right = std::max(r->right, w->right);
    r->bottom = std::max(r->bottom, w->bottom);
}

// Keeps system/view/auto-sync? false while it lives, then puts back what it held.
struct no_auto_sync {
    cell saved{T_none, 0, 0, 0};
    bool held = false;
    no_auto_sync() {
        if (cell* v = const_cast<cell*>(system_fields::get(system_fields::VIEW_AUTO_SYNC))) {
            saved = *v;
            held = true;
            *v = cell{T_logic, 0, 0, 0};
        }
    }
    ~no_auto_sync() {
        if (!held) return;
        if (cell* v = const_cast<cell*>(system_fields::get(system_fields::VIEW_AUTO_SYNC))) *v = saved;
    }
};

// Removes [face] from the `parent` block of object [holder] (a font or a para).
void leave_parent(const cell* face, const cell* holder) {
    if (holder->type() != T_object) return;
    cell w = word::load("parent");
    const cell* p = object::get_word_value(holder, &w);
    if (p->type() != T_block) return;
    cell blk = *p;
    uint32_t len = series::rs_abs_length_q(&blk);
    for (uint32_t i = blk.w1; i < len; i++) {
        const cell* v = block::cells_of(blk.w2) + i;
        if (v->type() == T_object && v->w1 == face->w1) {
            series::detail::remove_units(&blk, i, 1);
            return;
        }
    }
}

void free_tree(const cell* face_in);

} // namespace

widget* widget_of(const cell* face) {
    if (!is_face(face)) return nullptr;
    const cell* state = field(face, F_STATE);
    if (state->type() != T_block || series::rs_abs_length_q(state) <= state->w1) return nullptr;
    return resolve(block::cells_of(state->w2) + state->w1);
}

widget* make_view(cell* face_in, widget* parent) {
    check_face(face_in);
    intern_types();
    cell face = *face_in;
    // Step 1: a pair offset becomes a point in the face itself.
    cell* off = field(&face, F_OFFSET);
    if (off->type() == T_pair) *off = point2D::make_value(float(pair::get_x(off)), float(pair::get_y(off)));
    // Step 2: the bits (get_flags may raise, before anything is allocated).
    uint32_t ff = get_flags(field(&face, F_FLAGS)), bits = 0;
    if (ff & FF_ALL_OVER) bits |= WF_ALL_OVER;
    if (ff & FF_FOCUSABLE) bits |= WF_FOCUSABLE;
    if (ff & FF_PASSWORD) bits |= WF_PASSWORD;
    if (ff & FF_FULLSCREEN) bits |= WF_FULLSCREEN;
    rate_interval(field(&face, F_RATE)); // a bad rate raises before anything is allocated
    if (field(&face, F_SIZE)->type() == T_pair) bits |= WF_SIZE_PAIR;
    if (!is_true(field(&face, F_VISIBLE))) bits |= WF_HIDDEN;
    if (!is_true(field(&face, F_ENABLED))) bits |= WF_DISABLED;
    int type = type_of(&face);
    // Steps 3 and 4: the record and its box.
    float ox, oy, sx, sy;
    coords(field(&face, F_OFFSET), ox, oy);
    coords(field(&face, F_SIZE), sx, sy);
    if (type == N_WINDOW) ox = oy = 0;
    widget* w = alloc_widget();
    w->flags = bits;
    w->parent = parent;
    w->left = ox;
    w->top = oy;
    w->right = ox + sx;
    w->bottom = oy + sy;
    w->face = face;
    const cell* t = field(&face, F_TYPE);
    w->type = word::any_word_type_q(t->type()) ? symbol::resolve(t->w2) : 0;
    w->on_update = update_none;
    w->on_draw = draw_plain;
    // Step 5: per type.
    setup(w, type);
    // Step 6: its place in the window.
    if (parent) {
        window_record* r = window_of(parent);
        if (r) {
            if (parent == r->window) grow(r, w);
            if (w->flags & WF_CARET) r->carets++;
            if ((!r->focused || r->focused == r->window) && (w->flags & WF_FOCUSABLE)) focus_widget(w);
        }
    }
    if (field(&w->face, F_IMAGE)->type() == T_image) prepare_image(w);
    if (field(&w->face, F_RATE)->type() != T_none) set_rate(w, field(&w->face, F_RATE), monotonic_ms());
    if (type == N_PROGRESS || type == N_TEXT_LIST || type == N_CHECK || type == N_RADIO) {
        cell h;
        handle_of(w, &h);
        w->on_update(w);
        w = resolve(&h); // the helper may have destroyed it
    }
    return w;
}

void focus_widget(widget* w) {
    window_record* r = window_of(w);
    if (r && r->focused && r->focused != w) r->focused->flags &= ~WF_FOCUSED;
    w->flags |= WF_FOCUSED;
    if (r) r->focused = w;
}

void update_view(const cell* face_in) {
    widget* w = widget_of(face_in);
    if (!w) return;
    intern_types();
    cell face = *face_in;
    const cell* state = field(&face, F_STATE);
    uint32_t bits = 0;
    if (series::rs_abs_length_q(state) > state->w1 + 1) {
        const cell* b = block::cells_of(state->w2) + state->w1 + 1;
        if (b->type() == T_integer) bits = uint32_t(integer::get(b));
    }
    if (bits & (1u << 16)) {
        rate_interval(field(&face, F_RATE)); // checked before the old timer goes
        remove_timer(w);
        set_rate(w, field(&face, F_RATE), monotonic_ms());
    }
    w->face = face;
    float x, y;
    if (bits & (1u << 1)) {
        coords(field(&face, F_OFFSET), x, y);
        float wd = w->right - w->left, ht = w->bottom - w->top;
        w->left = x, w->top = y, w->right = x + wd, w->bottom = y + ht;
    }
    if (bits & (1u << 2)) {
        coords(field(&face, F_SIZE), x, y);
        w->right = w->left + x;
        w->bottom = w->top + y;
        if (type_of(&face) == N_WINDOW && w->data) {
            auto* r = static_cast<window_record*>(w->data);
            r->left = w->left, r->top = w->top, r->right = w->right, r->bottom = w->bottom;
        }
    }
    if (bits & (1u << 10)) {
        const cell* sel = field(&face, F_SELECTED);
        if (type_of(&face) == N_WINDOW) {
            widget* t = sel->type() == T_object ? widget_of(sel) : nullptr;
            // The focus moves with its events: `unfocus` to the old widget, `focus` to the new.
            if (t) set_focus(t);
            else if (sel->type() == T_none) set_focus(w);
            if (!(w = widget_of(&face))) return;
        }
    }
    if (bits & (1u << 8)) w->flags = is_true(field(&face, F_ENABLED)) ? w->flags & ~WF_DISABLED : w->flags | WF_DISABLED;
    if (bits & (1u << 9)) w->flags = is_true(field(&face, F_VISIBLE)) ? w->flags & ~WF_HIDDEN : w->flags | WF_HIDDEN;
    if (bits & (1u << 11)) {
        uint32_t ff = get_flags(field(&face, F_FLAGS));
        w->flags = (w->flags & ~(WF_ALL_OVER | WF_PASSWORD)) | (ff & FF_ALL_OVER ? WF_ALL_OVER : 0) |
                   (ff & FF_PASSWORD ? WF_PASSWORD : 0);
    }
    if (bits & (1u << 4)) prepare_image(w);
    w->draw_failed = false; // an updated face may draw again
    {
        no_auto_sync guard;
        w->on_update(w);
    }
    scr.redraw = true;
    // The handler may have changed the face: find the bits again.
    if (!(w = widget_of(&face))) return;
    state = field(&face, F_STATE);
    if (state->type() == T_block && series::rs_abs_length_q(state) > state->w1 + 1) {
        cell* b = block::cells_of(state->w2) + state->w1 + 1;
        if (b->type() == T_integer) *b = integer::make_value(0);
    }
}

void update_facet(const cell* owner_in, const cell* word, const cell* value, int32_t part) {
    if (!is_face(owner_in)) return;
    intern_types();
    cell owner = *owner_in;
    const cell* type = field(&owner, F_TYPE);
    widget* w = widget_of(&owner);
    if (w && type_of(&owner) == N_TEXT_LIST && is_word(word, N_DATA) && value->type() == T_block) {
        // Items went or came: the first visible line and the selection stay on existing lines.
        const cell* data = field(&owner, F_DATA);
        int64_t count = data->type() == T_block ? std::max<int64_t>(0, int64_t(series::rs_abs_length_q(data)) - data->w1) : 0;
        float h = w->bottom - w->top;
        int64_t height = h > 0 ? int64_t(std::min(h, 2147483647.0f)) : 0;
        w->value = std::clamp<int64_t>(w->value, 0, std::max<int64_t>(0, count - height));
        cell* sel = field(&owner, F_SELECTED);
        if (sel->type() == T_integer && integer::get(sel) > count)
            *sel = count > 0 ? integer::make_value(int32_t(std::min<int64_t>(count, INT32_MAX))) : cell{T_none, 0, 0, 0};
    }
    if (part == 0 && (is_word(type, N_DROP_LIST) || is_word(type, N_DROP_DOWN))) return;
    update_view(&owner);
}

namespace {

void free_tree(const cell* face_in) {
    cell face = *face_in;
    widget* w = widget_of(&face);
    cell font = *field(&face, F_FONT), para = *field(&face, F_PARA);
    leave_parent(&face, &font);
    leave_parent(&face, &para);
    cell pane = *field(&face, F_PANE);
    if (pane.type() == T_block) {
        for (uint32_t i = pane.w1; i < series::rs_abs_length_q(&pane); i++) {
            cell child = block::cells_of(pane.w2)[i];
            if (is_face(&child)) free_tree(&child);
        }
    }
    if (w) {
        remove_timer(w); // whatever `rate` holds now: it may have become none unsynced
        int type = type_of(&face);
        if (type == N_WINDOW && w->data) {
            remove_window(static_cast<window_record*>(w->data));
            if (window_record* r = current_window()) show_window(r->window);
        }
        free_widget(w); // with its edit state, rich-text cells or caret target
    }
    *field(&face, F_STATE) = cell{T_none, 0, 0, 0};
}

} // namespace

void destroy_view(const cell* face) {
    if (!is_face(face)) return;
    intern_types();
    free_tree(face);
    if (window_count()) scr.redraw = true;
}

void update_para(const cell* face) {
    if (!is_face(face)) return;
    cell* state = field(face, F_STATE);
    if (state->type() != T_block || series::rs_abs_length_q(state) <= state->w1 + 1) return;
    cell* b = block::cells_of(state->w2) + state->w1 + 1;
    if (b->type() == T_integer) *b = integer::make_value(integer::get(b) | (1 << 18));
}

void update_font(const cell* font, int32_t kind) {
    if (kind != 0 && kind != 1 && kind != 2 && kind != 4 && kind != 6) return;
    if (font->type() != T_object) return;
    cell w = word::load("state");
    int32_t i = object::find_word(font, &w);
    if (i >= 0) object::values_head(font)[i] = cell{T_none, 0, 0, 0};
}

void show_window(widget* w) {
    window_record* r = window_of(w);
    if (!r) return;
    // It becomes current: last in the list.
    make_current(r);
    focus_widget(r->focused ? r->focused : w);
}

namespace {

void draw_tree(const cell* face_in) {
    cell face = *face_in;
    widget* w = widget_of(&face);
    if (!w || (w->flags & WF_HIDDEN)) return;
    int x, y;
    absolute_position(w, x, y);
    w->on_draw(w, x, y);
    cell pane = *field(&face, F_PANE);
    if (pane.type() != T_block) return;
    for (uint32_t i = pane.w1; i < series::rs_abs_length_q(&pane); i++) {
        cell child = block::cells_of(pane.w2)[i];
        if (is_face(&child)) draw_tree(&child);
    }
}

} // namespace

void draw_window(window_record* r) {
    intern_types();
    scr.caret_col = scr.caret_row = -1;
    cell face = r->window->face;
    draw_tree(&face);
}

void rich_text_styles(cell_array& a, const cell* text, const cell* data) {
    intern_types();
    text_span t = span_of(text);
    uint32_t n = t.len;
    int64_t sel0 = 0, sel_len = 0;
    cell blk = *data;
    uint32_t len = series::rs_abs_length_q(&blk);
    auto fail = [&](uint32_t i) {
        cell arg = blk;
        arg.w1 = i;
        error::raise(error::cat_script, error::script_draw_invalid, &arg);
    };
    for (uint32_t i = blk.w1; i < len; i++) {
        const cell* v = block::cells_of(blk.w2) + i;
        uint8_t ty = v->type();
        if (ty == T_pair) {
            // Cut to the text, counted in UTF-16 units, then clamped to the cells.
            int64_t start = int64_t(pair::get_x(v)) - 1, count = pair::get_y(v);
            if (count < 0) count = 0;
            if (start + count > int64_t(n)) count = std::max<int64_t>(0, int64_t(n) - start);
            if (start < 0) count = std::max<int64_t>(0, count + start), start = 0;
            if (start > int64_t(n)) start = n, count = 0;
            t = span_of(text);
            int64_t s16 = start, c16 = count;
            for (int64_t k = 0; k < start; k++) s16 += t.at(uint32_t(k)) > 0xFFFF;
            for (int64_t k = start; k < start + count; k++) c16 += t.at(uint32_t(k)) > 0xFFFF;
            sel0 = std::min<int64_t>(s16, a.width);
            sel_len = std::min<int64_t>(c16, a.width - sel0);
            continue;
        }
        auto each = [&](auto f) {
            for (int64_t k = sel0; k < sel0 + sel_len; k++) f(a.cells[k]);
        };
        if (ty == T_tuple) {
            uint32_t fg = color_of(v);
            each([&](screen_cell& c) { c.fg = fg; });
        } else if (ty == T_word && is_word(v, N_BACKDROP)) {
            const cell* c = i + 1 < len ? block::cells_of(blk.w2) + i + 1 : nullptr;
            cell val{T_none, 0, 0, 0};
            if (c && c->type() == T_tuple) val = *c;
            else if (c && c->type() == T_word) val = *context::get_value(c);
            if (val.type() != T_tuple) fail(i + 1);
            uint32_t bg = color_of(&val);
            each([&](screen_cell& k) { k.bg = bg; });
            i++;
        } else if (ty == T_word && (is_word(v, N_BOLD) || is_word(v, N_ITALIC))) {
            uint32_t bit = is_word(v, N_BOLD) ? ATTR_BOLD : ATTR_ITALIC;
            each([&](screen_cell& c) { c.attrs |= bit; });
        } else if (ty == T_word && (is_word(v, N_UNDERLINE) || is_word(v, N_STRIKE) || is_word(v, N_BORDER))) {
            uint32_t bit = is_word(v, N_UNDERLINE) ? ATTR_UNDERLINE : is_word(v, N_STRIKE) ? ATTR_STRIKE : 0;
            each([&](screen_cell& c) { c.attrs |= bit; });
            if (i + 1 < len && block::cells_of(blk.w2)[i + 1].type() == T_tuple) i++;
            if (i + 1 < len && block::cells_of(blk.w2)[i + 1].type() == T_lit_word) i++;
        } else if (ty != T_string && ty != T_integer && ty != T_float_) {
            fail(i);
        }
    }
}

} // namespace zyl::tui
