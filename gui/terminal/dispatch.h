// gui/terminal/dispatch.h: decoded input turned into events for the widgets and the view
// engine: keys, mouse reports with hit testing, the button, over and wheel actions, focus
// changes, timer ticks and resizes.
//
// Every send may run language code (the view engine's `awake`, a face's hooks), and language
// code may free any widget. So the dispatcher keeps widgets it must come back to (focused,
// hovered, pressed, the pressed list, the current window) as handles, resolves them again after
// every call into the language, and stops at a widget that is gone.
#pragma once

#include <cstdint>

#include "gui/terminal/input_decoder.h"
#include "gui/terminal/widget.h"

namespace zyl::tui {

// Event type codes the dispatcher sends (event! type words).
enum event_type : uint32_t {
    EVT_DOWN = 1, EVT_UP = 2, EVT_CLICK = 9, EVT_DBL_CLICK = 10, EVT_WHEEL = 11, EVT_OVER = 12,
    EVT_KEY = 13, EVT_KEY_DOWN = 14, EVT_FOCUS = 17, EVT_UNFOCUS = 18, EVT_RESIZE = 30, EVT_TIME = 33
};

// What a click and a double click are made of: the clock, not passes.
constexpr int64_t DBL_CLICK_MS = 500;

// The pointer's and the clicks' state between events.
struct pointer_state {
    cell hovered{T_none, 0, 0, 0};  // handle of the innermost widget the mouse was last over
    cell pressed{T_none, 0, 0, 0};  // handle of the hovered widget at the last press
    float last_x = 0, last_y = 0;   // the last mouse position, local to the hovered widget
    int last_button_state = 1;      // 0 press, 1 release
    int click_state = 0;            // 0, 2 after a click, 10 after a double click
    int64_t last_click_ms = 0;      // the clock at the last release
    cell last_clicked{T_none, 0, 0, 0}; // handle of the widget that made the last click
};
extern pointer_state pointer;

// The view engine's function that gets every event (`system/view/awake`); tests may replace
// it with a stand-in there. Null when the view engine is absent.
const cell* awake_function();

// tui/dispatch-event: pushes an event of [type] for [w] (its handle and face, [x], [y], [key],
// [wheel]) and calls `awake` with it. Answers whether `awake` answered `done`. An error that
// escapes `awake` is printed and ends the innermost event loop. Nothing for a widget without a
// face.
bool dispatch_event(uint32_t type, widget* w, uint32_t flags, float x, float y, int32_t key, float wheel);

// tui/send-event and tui/send-mouse-event: [w]'s own handler first, then the view engine.
// Nothing for a disabled widget. Answers whether the view engine answered `done`.
bool send_event(uint32_t type, widget* w, uint32_t flags);
bool send_mouse_event(uint32_t type, widget* w, float x, float y, uint32_t flags);
// tui/send-value-event: [value] in the key word, to the view engine only.
bool send_value_event(uint32_t type, widget* w, int64_t value);

// tui/send-key: [key] to [w] (the focused widget when null): `key-down`, then `key`, then the
// widget's own handler, each only when the one before was not answered `done`. [special]: 10
// for Shift+Tab, else non-zero for a special key. Control-C answered by neither is a halt.
void send_key(widget* w, int32_t key, uint32_t flags);

// One decoded item: a key, a run of text, a mouse report or a cursor-position report.
void dispatch_item(const input_item& it);
// A mouse report: SGR button [code], 1-based [column] and [row], [release] for a release.
void mouse_report(uint32_t code, int column, int row, bool release);

// The child of [w] under [x], [y] (local to [w]) and that point made local to it; null when
// none. Faces without a widget and hidden widgets are skipped; the last face of the pane wins.
widget* hit_test(widget* w, float x, float y, float& cx, float& cy);

// tui/set-focus: [w] takes the focus of its window: the old focused widget gets `unfocus`, [w]
// gets `focus`.
void set_focus(widget* w);

// tui/resize-screen: reads the console's size, sets the first screen face's `size`, and with
// the terminal mode on sends `resize` to every window.
void resize_screen();

// Forgets the pointer and click state (the end of the outermost loop).
void reset_pointer();

// Installs the sends the widgets' own handlers make and the timers' callback.
void install_dispatch();

} // namespace zyl::tui
