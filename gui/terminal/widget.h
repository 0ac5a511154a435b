// gui/terminal/widget.h: the records the terminal backend keeps for realised faces, the widget
// table that face handles name, and the window list.
//
// A face's `state/1` is a handle! of kind window whose value is a slot of the widget table and
// whose header carries the slot's generation (16 bits). Freeing a widget bumps its slot's
// generation, so every handle made for it stops resolving: a stale handle names no widget,
// which is never an error.
//
// Invariant: a used slot's widget is live, and `widget::slot` is that slot. The collector marks
// the face cell and the `ui` node of every used slot (mark_widgets).
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "gui/terminal/screen.h"
#include "runtime/memory.h"

namespace zyl::tui {

struct widget;
struct window_record;
struct widget_event;

using update_fn = void (*)(widget* w);
using draw_fn = void (*)(widget* w, int x, int y);
// Answers whether it handled the event (widget_events.h); null: no handling.
using event_fn = bool (*)(widget* w, uint32_t type, const widget_event& ev);

// widget-flags bits.
constexpr uint32_t WF_SIZE_PAIR = 0x00010000;  // `size` was a pair!
constexpr uint32_t WF_HIDDEN = 0x00020000;
constexpr uint32_t WF_DISABLED = 0x00040000;   // receives no events
constexpr uint32_t WF_ALL_OVER = 0x00100000;
constexpr uint32_t WF_CARET = 0x00200000;      // has a text caret
constexpr uint32_t WF_FOCUSABLE = 0x00400000;
constexpr uint32_t WF_LEFT_PRESSED = 0x01000000;
constexpr uint32_t WF_FOCUSED = 0x02000000;
constexpr uint32_t WF_PASSWORD = 0x10000000;
constexpr uint32_t WF_FULLSCREEN = 0x40000000;
constexpr uint32_t WF_BASE_CARET = 0x80000000; // a base that places a caret

// Face flag words' bits (gui/get-flags).
constexpr uint32_t FF_ALL_OVER = 0x1, FF_FOCUSABLE = 0x2, FF_TRI_STATE = 0x20000, FF_SCROLLABLE = 0x40000,
                   FF_PASSWORD = 0x80000, FF_NO_SYNC = 0x100000, FF_FULLSCREEN = 0x200000;

// A prepared cell array (image cells, rich text): width x height cells.
struct cell_array {
    screen_cell* cells = nullptr;
    int32_t width = 0, height = 0;
};

struct widget {
    uint32_t type;            // canonical symbol of the face's `type`
    uint32_t flags;           // WF_* bits
    float left, top, right, bottom; // box in cells, relative to the parent's
    widget* parent;           // null for a window
    cell_array* extra;        // prepared image cells, or null
    node_id ui;               // text rendering left by a helper, 0 when none
    void* data;               // per type: window_record*, field edit state, rich-text cells
    void (*free_data)(void*); // frees [data] with the widget, or null when it is not owned
    int64_t value;            // per type: first visible line, check/radio selection
    update_fn on_update;
    draw_fn on_draw;
    event_fn on_event;        // null: the type handles no events
    cell face;                // the face object
    uint32_t slot;            // its slot in the widget table
    bool draw_failed;         // its `draw` failed: not run again until the face is updated
};

struct window_record {
    float left, top, right, bottom; // the painted box: the window's grown by its direct children
    widget* window;
    widget* focused;
    int32_t carets; // widgets with a text caret in it
};

// Allocates a zero-filled widget in a free slot.
widget* alloc_widget();
// Frees [w]'s record and slot, making its handles stale. Frees its extra block.
void free_widget(widget* w);
// The widget handle [h] names, or null when it names none (stale, another kind, no handle).
widget* resolve(const cell* h);
// Writes [w]'s handle into [out].
void handle_of(const widget* w, cell* out);
// Used slots, for walks (the widget of slot [i], or null).
uint32_t slot_count();
widget* widget_at(uint32_t i);

// The window list, in creation order; the last one is current.
uint32_t window_count();
window_record* window_at(uint32_t i);
window_record* current_window();
window_record* add_window(widget* w);
void remove_window(window_record* r);
// Moves [r] to the end of the list: it becomes current.
void make_current(window_record* r);
// The window record of the window that holds [w] (null for a loose widget).
window_record* window_of(widget* w);

// The screen position of [w]: the sum of its and its ancestors' left and top, up to but not
// including the window widget, truncated.
void absolute_position(const widget* w, int& x, int& y);

// gui/get-flags: a block of flag words, or one word, as bits; other values give 0. Raises
// invalid-arg with an unknown word.
uint32_t get_flags(const cell* v);

// Marks every live widget's face and `ui` node; registered with the collector.
void mark_widgets();
// Frees every widget, window record and timer (tests, the end of the outermost loop).
void free_all_widgets();

} // namespace zyl::tui
