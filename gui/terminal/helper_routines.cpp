// gui/terminal/helper_routines.cpp: the routine fields of `TUI-helpers` that read or write a
// face's widget record: its focus, its per-type value and the text a helper drew for it.
// A face without a widget (never shown, or destroyed) is never an error.
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "eval/stack.h"
#include "gui/terminal/platform_routines.h"
#include "gui/terminal/views.h"
#include "gui/terminal/widget.h"

namespace zyl::tui::routines {

void has_focus_q() {
    const widget* w = widget_of(stack::arg(0));
    logic::box(w && (w->flags & WF_FOCUSED));
}

// For a text list, the first visible row.
void widget_data() {
    const widget* w = widget_of(stack::arg(0));
    *stack::arg(0) = integer::make_value(w ? int32_t(w->value) : 0);
}

// The widget keeps the string's node whatever its index: the painter draws from the head.
void set_widget_ui() {
    widget* w = widget_of(stack::arg(0));
    if (w) w->ui = stack::arg(1)->w2;
    *stack::arg(0) = cell{T_none, 0, 0, 0};
}

} // namespace zyl::tui::routines
