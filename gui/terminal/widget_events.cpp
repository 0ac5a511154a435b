// gui/terminal/widget_events.cpp: each widget type's own event handling.
#include "gui/terminal/widget_events.h"

namespace zyl::tui {

widget_sends sends;

bool widget_on_event(widget* w, uint32_t type, const widget_event& ev) {
    return w && w->on_event ? w->on_event(w, type, ev) : false;
}

bool field_on_event(widget*, uint32_t, const widget_event&) { return false; }
bool button_on_event(widget*, uint32_t, const widget_event&) { return false; }
bool text_list_on_event(widget*, uint32_t, const widget_event&) { return false; }
bool check_on_event(widget*, uint32_t, const widget_event&) { return false; }
bool radio_on_event(widget*, uint32_t, const widget_event&) { return false; }

} // namespace zyl::tui
