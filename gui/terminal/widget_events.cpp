// gui/terminal/widget_events.cpp: each widget type's own event handling: field editing, text-list
// navigation, check toggle, radio select and the button's space-click.
//
// Every handler may run language code (the face's hooks through the series calls, `TUI-helpers`
// through on-update, the sends): the widget is found again through its handle after each such
// call, and face fields are re-read, never kept as pointers across one.
#include "gui/terminal/widget_events.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "gui/terminal/face.h"
#include "gui/terminal/text_measure.h"
#include "runtime/collector.h"

namespace zyl::tui {

widget_sends sends;

bool widget_on_event(widget* w, uint32_t type, const widget_event& ev) {
    return w && w->on_event ? w->on_event(w, type, ev) : false;
}

namespace {

constexpr int32_t KEY_UP = -20, KEY_DOWN = -21, KEY_RIGHT = -22, KEY_LEFT = -23;

void request_redraw() { scr.redraw = true; }

// A box length or local position as whole cells, truncated; what no grid holds (negative, NaN,
// beyond 2^31) is cut to 0 .. INT32_MAX.
int64_t cells(float f) { return f > 0 ? int64_t(std::min(f, 2147483647.0f)) : 0; }

bool same(const cell& a, const cell& b) { return a.type() == b.type() && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3; }

// A width the layout can add: the controls a text may hold count as nothing negative.
int32_t width_of(uint32_t cp) { return std::max(0, char_width(cp)); }

// Runs [w]'s on-update; answers [w] found again, or null when the update freed it.
widget* run_update(widget* w) {
    cell h;
    handle_of(w, &h);
    w->on_update(w);
    return resolve(&h);
}

// Stores [value] into face field [i] as the backend does: straight into the slot, with no hook.
void store_field(widget* w, uint32_t i, const cell& value) { *field(&w->face, i) = value; }

// {== Field

// The caret's column and the text's width, measured from the text: a script may have replaced
// the text since the last edit, so the stored state is not trusted past its index, which is cut
// to the text.
void lay_out(edit_state* e, const cell* text) {
    text_span t = span_of(text);
    if (e->index > t.len) e->index = t.len;
    int32_t col = 0, width = 0;
    for (uint32_t i = 0; i < t.len; i++) {
        if (i == e->index) col = width;
        width += width_of(t.at(i));
    }
    e->col = e->index == t.len ? width : col;
    e->width = width;
}

// The face's `text` as a string: a new empty one is assigned first (the face's on-change*
// hears it) when it holds anything else. Answers [w] found again, or null when it is gone.
widget* ensure_text(widget* w) {
    if (field(&w->face, F_TEXT)->type() == T_string) return w;
    cell h, face = w->face, s;
    handle_of(w, &h);
    collector::keep k_face{&face};
    string::make_at(&s, 0);
    collector::keep k_s{&s};
    cell word = word::load("text");
    word.w1 = face.w1;
    word.w3 = F_TEXT;
    context::set_word_value(&word, &s, face.w1, true);
    w = resolve(&h);
    return w && field(&w->face, F_TEXT)->type() == T_string ? w : nullptr;
}

// The text from character [at] on, as a series value the series calls take.
cell text_at(widget* w, uint32_t at) {
    cell s = *field(&w->face, F_TEXT);
    s.w1 += at;
    return s;
}

} // namespace

bool field_on_event(widget* w, uint32_t type, const widget_event& ev) {
    if (type != EV_CLICK && type != EV_KEY) return false;
    if (type == EV_KEY && (ev.key == 0 || ev.key == 9 || ev.key == 13)) return false;
    cell h;
    handle_of(w, &h);
    if (!w->data || !(w = ensure_text(w))) return false;
    auto* e = static_cast<edit_state*>(w->data);
    lay_out(e, field(&w->face, F_TEXT));
    text_span t = span_of(field(&w->face, F_TEXT));
    if (type == EV_CLICK) {
        // The character under the click: the first one that does not end left of it.
        int64_t x = cells(ev.x);
        int64_t col = 0;
        uint32_t i = 0;
        for (; i < t.len; i++) {
            int32_t cw = width_of(t.at(i));
            if (col + cw > x) break;
            col += cw;
        }
        e->index = i;
        e->col = int32_t(col);
        request_redraw();
        return true;
    }
    int32_t key = ev.key;
    if (key == 2 || key == KEY_LEFT) {
        if (e->index == 0) return true;
        e->index--;
        e->col -= width_of(t.at(e->index));
    } else if (key == 6 || key == KEY_RIGHT) {
        if (e->index >= t.len) return true;
        e->col += width_of(t.at(e->index));
        e->index++;
    } else if (key == 8 || key == 127) {
        // One character goes; the caret's column and the width go back by its width.
        if (e->index == 0) return true;
        cell s = text_at(w, e->index - 1);
        collector::keep k_s{&s};
        series::remove(&s, nullptr, nullptr);
        if (!(w = resolve(&h))) return true;
        e = static_cast<edit_state*>(w->data);
        e->index--;
        lay_out(e, field(&w->face, F_TEXT));
    } else if (key < 32) {
        return true;
    } else {
        int32_t cw = width_of(uint32_t(key));
        if (int64_t(e->width) + cw > cells(w->right - w->left)) return true;
        cell s = text_at(w, e->index), c = char_::make_value(uint32_t(key));
        collector::keep k_s{&s};
        string::insert(&s, &c, -1, false, 1, false);
        if (!(w = resolve(&h))) return true;
        e = static_cast<edit_state*>(w->data);
        e->index++;
        lay_out(e, field(&w->face, F_TEXT));
    }
    request_redraw();
    return true;
}

// }==
// {== Button, check and radio

bool button_on_event(widget* w, uint32_t type, const widget_event& ev) {
    if (type != EV_KEY || ev.key == 0) return false;
    request_redraw();
    if (ev.key != 32) return false;
    if (sends.mouse_event) sends.mouse_event(EV_CLICK, w, 0, 0, 0);
    return true;
}

namespace {

bool toggle(widget* w, uint32_t type, const widget_event& ev, bool radio) {
    if (type == EV_FOCUS) {
        request_redraw();
        return true;
    }
    if (!(type == EV_CLICK || (type == EV_KEY && ev.key == 32))) return false;
    const cell* data = field(&w->face, F_DATA);
    cell v = radio || data->type() == T_none ? true_value
             : data->type() == T_logic       ? (data->w1 ? false_value : true_value)
                                             : false_value;
    store_field(w, F_DATA, v);
    if (!(w = run_update(w))) return true;
    request_redraw();
    if (sends.value_event) sends.value_event(EV_CHANGE, w, 0);
    return true;
}

} // namespace

bool check_on_event(widget* w, uint32_t type, const widget_event& ev) { return toggle(w, type, ev, false); }
bool radio_on_event(widget* w, uint32_t type, const widget_event& ev) { return toggle(w, type, ev, true); }

// }==
// {== Text list

namespace {

// The number of items of a list's `data`.
int64_t item_count(const cell* data) {
    if (data->type() == T_block || data->type() == T_hash) return std::max<int64_t>(0, int64_t(series::rs_abs_length_q(data)) - data->w1);
    if (data->type() == T_map) return map::size(data);
    return 0;
}

// The selected line, 1-based; none (or any other value) counts as 0.
int64_t selected_line(const cell* v) { return v->type() == T_integer ? integer::get(v) : 0; }

} // namespace

bool text_list_on_event(widget* w, uint32_t type, const widget_event& ev) {
    if (type == EV_FOCUS) {
        if ((w = run_update(w))) request_redraw();
        return true;
    }
    if (type != EV_KEY && type != EV_CLICK) return false;
    cell old = *field(&w->face, F_SELECTED);
    int64_t count = item_count(field(&w->face, F_DATA));
    int64_t sel = selected_line(&old), first = w->value;
    int64_t height = cells(w->bottom - w->top);
    if (type == EV_KEY) {
        if (ev.key == KEY_UP) {
            if (sel > 1) sel--;
            if (sel - 1 < first && first > 0) first--;
        } else if (ev.key == KEY_DOWN) {
            if (sel < count) sel++;
            if (first < sel - height) first++;
        } else {
            return false;
        }
    } else {
        // A click past the last item selects nothing.
        int64_t line = first + cells(ev.y) + 1;
        if (line > count) return true;
        sel = line;
    }
    w->value = first;
    if (sel == selected_line(&old)) {
        request_redraw();
        return true;
    }
    cell h;
    handle_of(w, &h);
    auto line = int32_t(std::clamp<int64_t>(sel, INT32_MIN, INT32_MAX));
    bool done = sends.value_event && sends.value_event(EV_SELECT, w, line);
    if (!(w = resolve(&h))) return true;
    // The actor may have set `selected` itself: then its value stands.
    const cell* now = field(&w->face, F_SELECTED);
    if (field(&w->face, F_STATE)->type() != T_block || !same(*now, old)) return true;
    store_field(w, F_SELECTED, integer::make_value(line));
    if (!(w = run_update(w))) return true;
    request_redraw();
    if (!done && sends.value_event) sends.value_event(EV_CHANGE, w, line);
    return true;
}

// }==

} // namespace zyl::tui
