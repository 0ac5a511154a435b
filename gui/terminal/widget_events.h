// gui/terminal/widget_events.h: each widget type's own event handling: field editing, text-list
// navigation, check toggle, radio select and the button's space-click.
//
// The dispatcher calls widget_on_event after the view engine left an event unanswered (a key
// neither `key-down` nor `key` answered with `done`) or, for mouse and focus events, before it
// dispatches them. The handlers send `select`, `change` and `click` back through the sends the
// dispatcher installs, so this unit knows nothing of the loop.
#pragma once

#include <cstdint>

#include "gui/terminal/widget.h"

namespace zyl::tui {

// Event type codes the handlers act on or send (event! type words).
constexpr uint32_t EV_CLICK = 9, EV_KEY = 13, EV_FOCUS = 17, EV_SELECT = 25, EV_CHANGE = 26;

// The event-record's words a widget's handler reads.
struct widget_event {
    float x = 0, y = 0;   // widget-local position (mouse events)
    int32_t key = 0;      // key: a code point or a negative special code (-20 up ... -27 delete)
    uint32_t flags = 0;   // event::FLAG_* bits
};

// The field editor's state: caret index (characters), caret column and text width (cells).
struct edit_state {
    uint32_t index;
    int32_t col, width;
};

// Runs [w]'s own handler for event [type]; answers whether it handled it. Types without
// handling answer false. It may run language code (the face's hooks, `TUI-helpers`, the sends
// below), which may free widgets: [w] itself may be gone on return, so callers resolve their
// handles again.
bool widget_on_event(widget* w, uint32_t type, const widget_event& ev);

// The sends the handlers make, installed by the dispatcher; an unset one sends nothing and
// answers "not done".
struct widget_sends {
    // tui/send-value-event: [type] with [value] in the record's word 3, to the view engine only.
    // True when it was answered with `done`.
    bool (*value_event)(uint32_t type, widget* w, int64_t value) = nullptr;
    // tui/send-mouse-event: [type] at widget-local [x], [y], [w]'s own handler first, then the
    // view engine. True when it was answered with `done`.
    bool (*mouse_event)(uint32_t type, widget* w, float x, float y, uint32_t flags) = nullptr;
};
extern widget_sends sends;

// The handlers per type, chosen when the widget is made.
bool field_on_event(widget* w, uint32_t type, const widget_event& ev);
bool button_on_event(widget* w, uint32_t type, const widget_event& ev);
bool text_list_on_event(widget* w, uint32_t type, const widget_event& ev);
bool check_on_event(widget* w, uint32_t type, const widget_event& ev);
bool radio_on_event(widget* w, uint32_t type, const widget_event& ev);

} // namespace zyl::tui
