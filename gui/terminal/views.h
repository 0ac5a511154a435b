// gui/terminal/views.h: realising faces as widgets: making, updating and destroying them, the
// per-type setup and drawing, the window list's operations and the drawing of a window.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "gui/terminal/widget.h"

namespace zyl::tui {

// The widget of [face] through the handle in its `state`, or null (no widget, stale handle).
widget* widget_of(const cell* face);

// The function `TUI-helpers/<name>`, or null while the helpers (or that one) are absent. The
// address lives until the next allocation.
const cell* helper_function(const char* name);

// gui/OS-make-view: realises [face] (a face, else face-type) under [parent] (null for none).
widget* make_view(cell* face, widget* parent);
// gui/OS-update-view: applies the face's change bits, runs its on-update with auto-sync off,
// asks for a redraw and clears the bits. A face without a widget is left alone.
void update_view(const cell* face);
// gui/OS-update-facet: after a change of [part] values of [value], the series in [owner]'s field
// [word]: a text-list's first visible line and selection are kept on existing lines; then
// update_view, but for a drop-list or drop-down with [part] 0.
void update_facet(const cell* owner, const cell* word, const cell* value, int32_t part);
// gui/OS-destroy-view: frees [face]'s widget tree; redraws when windows remain.
void destroy_view(const cell* face);
// gui/update-para: sets change bit 18 in the face's `state` when it is a block.
void update_para(const cell* face);
// gui/update-font: kinds 0, 1, 2, 4 and 6 set the font's `state` to none.
void update_font(const cell* font, int32_t kind);
// gui/OS-show-window: [w] becomes the current window and its focused widget gets the focus.
void show_window(widget* w);
// Moves the focus of [w]'s window to [w].
void focus_widget(widget* w);

// Draws the window of record [r] into the grid: every visible widget from the window down.
void draw_window(window_record* r);

// Applies the style commands of a rich-text face's `data` to [cells] (one per character of
// [text]); raises draw-invalid at a bad value.
void rich_text_styles(cell_array& cells, const cell* text, const cell* data);

} // namespace zyl::tui
