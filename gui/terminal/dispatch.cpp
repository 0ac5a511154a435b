// gui/terminal/dispatch.cpp: events from decoded input, sent to the widgets' own handlers and
// to the view engine (dispatch.h).
//
// A widget pointer is good only until the next call into the language: each function keeps
// the handle of every widget it comes back to and resolves it again after each send.
#include "gui/terminal/dispatch.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/system_fields.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/terminal_mode.h"
#include "gui/terminal/timers.h"
#include "gui/terminal/views.h"
#include "gui/terminal/widget_events.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/terminal.h"

namespace zyl::tui {

pointer_state pointer;

namespace {

// {== Internal functions

constexpr cell none_value{T_none, 0, 0, 0};

// The words the dispatcher compares and names, interned once a start.
struct dispatch_symbols {
    uint32_t start = 0;
    uint32_t done = 0;
    cell frame_name{T_none, 0, 0, 0}; // names the try frame around `awake`
};
dispatch_symbols syms;

void intern() {
    if (syms.done && syms.start == event::starts) return;
    syms.start = event::starts;
    syms.done = symbol::resolve(symbol::make("done"));
    syms.frame_name = word::load("awake");
}

bool is_done(const cell* v) { return v->type() == T_word && symbol::resolve(v->w2) == syms.done; }

// Handles of the widgets that received the current press.
std::vector<cell> pressed_list;

bool in_pressed_list(const widget* w) {
    for (const cell& h : pressed_list)
        if (resolve(&h) == w) return true;
    return false;
}

widget* focused_widget() {
    window_record* r = current_window();
    if (!r) return nullptr;
    return r->focused ? r->focused : r->window;
}

bool is_ancestor(const widget* a, const widget* w) {
    for (w = w ? w->parent : nullptr; w; w = w->parent)
        if (w == a) return true;
    return false;
}

bool disabled(const widget* w) { return w->flags & WF_DISABLED; }

// Set when an error escaped `awake`: the event that raised it goes no further.
bool dispatch_failed = false;

// }==
// {== Mouse actions

struct press_result {
    bool handled = false; // the event was answered here or below
    bool clicked = false; // a click was made here or below
};

// The button action at [w] for event [t] at local [x], [y]: the child under the point first.
press_result button_action(uint32_t t, widget* w, float x, float y, uint32_t flags, bool press, int64_t now) {
    press_result res;
    cell h;
    handle_of(w, &h);
    float cx, cy;
    widget* child = hit_test(w, x, y, cx, cy);
    bool had_child = child != nullptr;
    if (child) {
        res = button_action(t, child, cx, cy, flags, press, now);
        if (!(w = resolve(&h))) return res;
    }
    if (!res.handled) {
        res.handled = send_mouse_event(t, w, x, y, flags);
        if (!(w = resolve(&h))) return res;
    }
    if (disabled(w)) return res; // it neither takes the press nor makes the click
    if (press) {
        pressed_list.push_back(h);
        return res;
    }
    if (res.clicked || !in_pressed_list(w)) return res;
    res.clicked = true;
    // A double click is two clicks on one widget: a click elsewhere in between starts anew.
    bool dbl = pointer.click_state == 2 && now - pointer.last_click_ms < DBL_CLICK_MS &&
               pointer.last_clicked.w2 == h.w2 && pointer.last_clicked.header == h.header &&
               pointer.last_clicked.type() == T_handle;
    pointer.last_clicked = h;
    send_mouse_event(EVT_CLICK, w, x, y, flags);
    if (!(w = resolve(&h))) return res;
    if (dbl) {
        send_mouse_event(EVT_DBL_CLICK, w, x, y, flags);
        pointer.click_state = 10;
        if (!(w = resolve(&h))) return res;
    }
    if (!had_child && (w->flags & WF_FOCUSABLE) && !(w->flags & WF_FOCUSED)) set_focus(w);
    return res;
}

void press_or_release(uint32_t button, widget* win, float x, float y, uint32_t flags, bool release) {
    uint32_t t = button * 2 + (release ? 2 : 1);
    if (!release) {
        pointer.pressed = pointer.hovered;
        pressed_list.clear();
        button_action(t, win, x, y, flags, true, 0);
        return;
    }
    int64_t now = now_ms();
    button_action(t, win, x, y, flags, false, now);
    // The pressed widget hears of the release even when the pointer left it.
    if (widget* p = resolve(&pointer.pressed); p && (p->flags & WF_LEFT_PRESSED)) {
        p->flags &= ~WF_LEFT_PRESSED;
        int px, py;
        absolute_position(p, px, py);
        send_mouse_event(t, p, x - float(px), y - float(py), flags);
    }
    pointer.pressed = none_value;
    pressed_list.clear();
    pointer.click_state = pointer.click_state == 10 ? 0 : 2;
    pointer.last_click_ms = now;
}

void over_action(widget* win, float x, float y, uint32_t flags, bool drag) {
    cell hw;
    handle_of(win, &hw);
    float wx = x, wy = y;
    if (!resolve(&pointer.hovered)) {
        send_mouse_event(EVT_OVER, win, x, y, flags);
        if (!(win = resolve(&hw))) return;
    }
    widget* w = win;
    float cx, cy;
    while (widget* c = hit_test(w, x, y, cx, cy)) w = c, x = cx, y = cy;
    cell h;
    handle_of(w, &h);
    widget* old = resolve(&pointer.hovered);
    if (w != old) {
        if (old && !is_ancestor(old, w)) {
            // Moving out of [old] into anything but its children.
            if (resolve(&pointer.pressed) == old) old->flags |= WF_LEFT_PRESSED;
            send_mouse_event(EVT_OVER, old, pointer.last_x, pointer.last_y, flags | event::FLAG_AWAY);
            if (!(w = resolve(&h))) return;
        }
        pointer.hovered = h;
        if (!old || !is_ancestor(w, old)) {
            w->flags &= ~WF_LEFT_PRESSED;
            send_mouse_event(EVT_OVER, w, x, y, flags);
            if (!(w = resolve(&h))) return;
        }
    } else if (w->flags & WF_ALL_OVER) {
        send_mouse_event(EVT_OVER, w, x, y, flags);
        if (!resolve(&h)) return;
    }
    pointer.last_x = x;
    pointer.last_y = y;
    if (!drag) return;
    widget* p = resolve(&pointer.pressed);
    if (p && (p->flags & WF_LEFT_PRESSED) && (p->flags & WF_ALL_OVER)) {
        int px, py;
        absolute_position(p, px, py);
        send_mouse_event(EVT_OVER, p, wx - float(px), wy - float(py), flags);
    }
}

// Answers whether [w] or a widget below it took the wheel.
bool wheel_action(widget* w, float x, float y, uint32_t flags, float delta) {
    cell h;
    handle_of(w, &h);
    float cx, cy;
    if (widget* c = hit_test(w, x, y, cx, cy)) {
        if (wheel_action(c, cx, cy, flags, delta)) return true;
        if (!(w = resolve(&h))) return true;
    }
    if (w->face.type() != T_object || disabled(w)) return false;
    dispatch_event(EVT_WHEEL, w, flags, x, y, 0, delta);
    return true;
}

// }==

void on_timer(widget* w) { send_event(EVT_TIME, w, 0); }

bool value_event_send(uint32_t type, widget* w, int64_t value) { return send_value_event(type, w, value); }

} // namespace

const cell* awake_function() {
    const cell* f = system_fields::get(system_fields::VIEW_AWAKE);
    return f && f->type() == T_function ? f : nullptr;
}

bool dispatch_event(uint32_t type, widget* w, uint32_t flags, float x, float y, int32_t key, float wheel) {
    if (!w || w->face.type() != T_object) return false;
    const cell* fn = awake_function();
    if (!fn) return false;
    intern();
    cell f = *fn, h, face = w->face;
    handle_of(w, &h);
    collector::keep kf{&f}, kface{&face};
    cell* top = es.top;
    event::record r{&h, &face, x, y, key, wheel};
    cell* ev = event::push_backend(type, flags, r);
    bool done = false;
    // A try frame that stops every exit: nothing the view engine leaves pending may unwind
    // through the loop.
    stack::mark_try_all(&syms.frame_name);
    try {
        cell* answer = interp::call_with(&f, ev, 1);
        if (answer) {
            done = is_done(answer);
            stack::pop_frame();
        } else {
            // An exit that the frame turned into nothing: end as for an error.
            es.throw_code = THROW_NONE;
            post_quit_msg();
        }
    } catch (const error::raised&) {
        cell err = *(es.top - 1);
        collector::keep ke{&err};
        es.throw_code = THROW_NONE;
        es.top = top;
        if (!halting()) error::print_report(&err);
        dispatch_failed = true;
        post_quit_msg();
    }
    es.top = top;
    return done;
}

bool send_event(uint32_t type, widget* w, uint32_t flags) { return send_mouse_event(type, w, 0, 0, flags); }

bool send_mouse_event(uint32_t type, widget* w, float x, float y, uint32_t flags) {
    if (!w || disabled(w)) return false;
    cell h;
    handle_of(w, &h);
    widget_event ev;
    ev.x = x, ev.y = y, ev.flags = flags;
    widget_on_event(w, type, ev);
    if (!(w = resolve(&h))) return false;
    return dispatch_event(type, w, flags, x, y, 0, 0);
}

bool send_value_event(uint32_t type, widget* w, int64_t value) {
    if (!w || disabled(w)) return false;
    return dispatch_event(type, w, 0, 0, 0, int32_t(value), 0);
}

void send_key(widget* w, int32_t key, uint32_t flags) {
    if (key == 0) return;
    if (!w) w = focused_widget();
    if (!w || disabled(w)) {
        if (key == 3 && !flags) request_halt();
        return;
    }
    cell h;
    handle_of(w, &h);
    dispatch_failed = false;
    if (dispatch_event(EVT_KEY_DOWN, w, flags, 0, 0, key, 0) || dispatch_failed) return;
    if (!(w = resolve(&h))) return;
    if (dispatch_event(EVT_KEY, w, flags, 0, 0, key, 0) || dispatch_failed) return;
    if (key == 3 && !flags) return request_halt();
    if (!(w = resolve(&h))) return;
    widget_event ev;
    ev.key = key, ev.flags = flags;
    widget_on_event(w, EVT_KEY, ev);
}

void dispatch_item(const input_item& it) {
    switch (it.kind) {
    case ITEM_KEY: send_key(nullptr, it.key, it.flags); break;
    case ITEM_MOUSE: mouse_report(uint32_t(it.key), it.column, it.row, it.release); break;
    case ITEM_CURSOR:
        scr.inline_top = it.row - 1;
        scr.inline_left = it.column - 1;
        break;
    default: break; // text runs are taken a character at a time by the loop
    }
}

void mouse_report(uint32_t code, int column, int row, bool release) {
    if (code & 128) return; // buttons 8 and up: nothing
    window_record* r = current_window();
    if (!r) return;
    widget* win = r->window;
    float x = float(column - 1), y = float(row - scr.inline_top - 1);
    uint32_t button = (code & 3) | ((code & 0x40) >> 4);
    uint32_t flags = ((code >> 2) & 3) * 0x20000000u;
    if (code & 0x10) flags |= event::FLAG_CONTROL;
    if (code & 32) { // motion
        if (button < 3) over_action(win, x, y, flags | event::FLAG_DOWN, true);
        else if (button == 3) over_action(win, x, y, flags, false);
        return;
    }
    if (button < 3) {
        pointer.last_button_state = release ? 1 : 0;
        press_or_release(button, win, x, y, flags, release);
    } else if (button == 4 || button == 5) {
        if (!release) wheel_action(win, x, y, flags, button == 4 ? 1.0f : -1.0f);
    }
}

widget* hit_test(widget* w, float x, float y, float& cx, float& cy) {
    const cell* pane = field(&w->face, F_PANE);
    if (pane->type() != T_block) return nullptr;
    uint32_t head = pane->w1, len = series::rs_abs_length_q(pane);
    for (uint32_t i = len; i-- > head;) {
        const cell* f = block::cells_of(pane->w2) + i;
        if (!is_face(f)) continue;
        widget* c = widget_of(f);
        if (!c || (c->flags & WF_HIDDEN)) continue;
        if (c->left <= x && x < c->right && c->top <= y && y < c->bottom) {
            cx = x - c->left;
            cy = y - c->top;
            return c;
        }
    }
    return nullptr;
}

void set_focus(widget* w) {
    window_record* r = window_of(w);
    if (!r) return;
    cell h;
    handle_of(w, &h);
    widget* old = r->focused;
    if (old == w) return;
    r->focused = w;
    w->flags |= WF_FOCUSED;
    scr.redraw = true;
    if (old) {
        old->flags &= ~WF_FOCUSED;
        send_event(EVT_UNFOCUS, old, 0);
        if (!(w = resolve(&h))) return;
    }
    send_event(EVT_FOCUS, w, 0);
}

void resize_screen() {
    terminal::console_size(scr.columns, scr.rows);
    if (const cell* screens = system_fields::get(system_fields::VIEW_SCREENS);
        screens && screens->type() == T_block && series::rs_abs_length_q(screens) > screens->w1) {
        const cell* first = block::cells_of(screens->w2) + screens->w1;
        if (is_face(first)) *field(first, F_SIZE) = pair::make_value(scr.columns, scr.rows);
    }
    if (!mode.terminal_mode) return;
    // The windows as they are now: a handler may open or close some.
    std::vector<cell> wins;
    for (uint32_t i = 0; i < window_count(); i++) {
        cell h;
        handle_of(window_at(i)->window, &h);
        wins.push_back(h);
    }
    float cols = float(scr.columns), rows = float(scr.rows);
    for (const cell& h : wins) {
        widget* w = resolve(&h);
        if (!w) continue;
        widget_event ev;
        ev.x = cols, ev.y = rows;
        widget_on_event(w, EVT_RESIZE, ev);
        if ((w = resolve(&h))) dispatch_event(EVT_RESIZE, w, 0, cols, rows, 0, 0);
    }
    if (mode.alt_screen) {
        screen_touched(scr);
        scr.redraw = true;
    }
}

void reset_pointer() {
    pointer = pointer_state{};
    pressed_list.clear();
}

void install_dispatch() {
    sends.value_event = value_event_send;
    sends.mouse_event = send_mouse_event;
    timer_fired = on_timer;
}

} // namespace zyl::tui
