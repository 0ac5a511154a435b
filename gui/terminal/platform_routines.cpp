// gui/terminal/platform_routines.cpp: the backend routines of the platform object, over the
// widget table (views.h), text measurement and the draw dialect.
//
// Arguments are copied off the frame before anything that may allocate or run language code.
#include "gui/terminal/platform_routines.h"

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/handle.h"
#include "datatypes/header_flags.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "gui/terminal/draw_dialect.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/text_measure.h"
#include "gui/terminal/views.h"
#include "gui/terminal/widget.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/platform/terminal.h"

namespace zyl::tui::routines {

namespace {

// {== Internal functions

constexpr cell none_value{T_none, 0, 0, 0};

void result_none() { *stack::arg(0) = none_value; }

[[noreturn]] void invalid_type(const cell* v) {
    cell t = datatype::make_value(v->type());
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

// Whether [face]'s `type` is the word [name].
bool type_is(const cell* face, const char* name) {
    const cell* t = field(face, F_TYPE);
    return word::any_word_type_q(t->type()) && symbol::resolve(t->w2) == symbol::resolve(symbol::make(name));
}

// Calls `TUI-helpers/<name>` with the frame's first five arguments; none while the helpers (or
// that one) are absent. A non-local exit of the helper goes on up.
void call_helper5(const char* name) {
    const cell* fn = helper_function(name);
    if (!fn) return result_none();
    cell f = *fn, args[5];
    for (uint32_t i = 0; i < 5; i++) args[i] = *stack::arg(i);
    collector::keep k0{&args[0]}, k1{&args[1]}, k2{&args[2]}, k3{&args[3]}, k4{&args[4]}, kf{&f};
    cell* top = es.top;
    cell* answer = interp::call_with(&f, args, 5);
    if (!answer) return;
    cell r = *answer;
    es.top = top;
    *stack::arg(0) = r;
}

// }==

} // namespace

void make_null_handle() { handle::box(0, handle::KIND_NONE); }

void fetch_all_screens() { result_none(); }

void get_screen_size() {
    terminal::console_size(scr.columns, scr.rows);
    *stack::arg(0) = pair::make_value(scr.columns, scr.rows);
}

void size_text() {
    cell face = *stack::arg(0), value = *stack::arg(1);
    cell text;
    if (value.type() == T_string) text = value;
    else if (value.type() == T_none) text = is_face(&face) ? *field(&face, F_TEXT) : none_value;
    else invalid_type(&value);
    if (text.type() != T_string) return result_none();
    get_text_size(&text, stack::arg(0));
}

void on_change_facet() {
    cell owner = *stack::arg(0), word = *stack::arg(1), value = *stack::arg(2);
    update_facet(&owner, &word, &value, int32_t(integer::get(stack::arg(6))));
    result_none();
}

void update_text() { result_none(); }

void update_font() {
    cell font = *stack::arg(0);
    tui::update_font(&font, int32_t(integer::get(stack::arg(1))));
    result_none();
}

void update_para() {
    cell face = *stack::arg(0);
    tui::update_para(&face);
    result_none();
}

void destroy_view() {
    cell face = *stack::arg(0);
    tui::destroy_view(&face);
    windows_destroyed(); // a window's end ends the loop that waits for it
    result_none();
}

void detach_image() {
    cell img = *stack::arg(0);
    owner::clear_deep(&img);
    result_none();
}

// A block is checked whole before any face is touched: a bad value leaves every face as it was.
void update_view() {
    cell v = *stack::arg(0);
    result_none();
    if (v.type() == T_object) {
        if (!is_face(&v) || !type_is(&v, "screen")) tui::update_view(&v);
        return;
    }
    if (v.type() != T_block) invalid_type(&v);
    collector::keep k{&v};
    uint32_t len = series::rs_abs_length_q(&v);
    for (uint32_t i = v.w1; i < len; i++) {
        const cell* f = block::cells_of(v.w2) + i;
        if (f->type() != T_object) invalid_type(f);
    }
    // An update may run language code that changes the block: its length is read each time.
    for (uint32_t i = v.w1; i < series::rs_abs_length_q(&v); i++) {
        cell f = block::cells_of(v.w2)[i];
        if (f.type() == T_object && is_face(&f) && field(&f, F_STATE)->type() == T_block) tui::update_view(&f);
    }
}

void refresh_window() {
    if (resolve(stack::arg(0))) scr.redraw = true;
    result_none();
}

void redraw() {
    if (widget_of(stack::arg(0))) scr.redraw = true;
    result_none();
}

void show_window() {
    if (widget* w = resolve(stack::arg(0))) {
        tui::show_window(w);
        scr.redraw = true;
    }
    result_none();
}

void make_view() {
    cell face = *stack::arg(0);
    widget* parent = resolve(stack::arg(1));
    collector::keep k{&face};
    widget* w = tui::make_view(&face, parent);
    if (w) handle_of(w, stack::arg(0));
    else handle::box(0, handle::KIND_NONE); // its helper destroyed it
}

// The commands are checked (and raise their errors), the cells of an image are not changed,
// and the owner hears of a change of the whole image.
void draw_image() {
    cell img = *stack::arg(0), cmds = *stack::arg(1);
    result_none();
    if (image::width_of(&img) == 0 || image::height_of(&img) == 0) return;
    collector::keep ki{&img}, kc{&cmds};
    draw_on_image(&img, &cmds);
    if (img.header & IMAGE_OWNED) {
        cell action = word::load("poke");
        owner::check(&img, &action, &img, 0, int32_t(image::pixel_count(&img)));
    }
}

void draw_face() {
    if (const cell* flags = field_or_null(stack::arg(0), F_FLAGS)) get_flags(flags);
    result_none();
}

void request_font() {} // the font given is the result, in cell 0 already

void request_file() { call_helper5("request-file"); }
void request_dir() { call_helper5("request-dir"); }

void text_box_metrics() {
    cell box = *stack::arg(0), arg = *stack::arg(1);
    int32_t type = int32_t(integer::get(stack::arg(2)));
    if (!is_face(&box) || !type_is(&box, "rich-text")) {
        cell t = is_face(&box) ? *field(&box, F_TYPE) : none_value;
        error::raise(error::cat_script, error::script_face_type, &t);
    }
    if (field(&box, F_TEXT)->type() != T_string) return result_none();
    collector::keep kb{&box}, ka{&arg};
    cell out = none_value;
    collector::keep ko{&out};
    tui::text_box_metrics(&box, &arg, type, &out);
    *stack::arg(0) = out;
}

void update_scroller() { result_none(); }
void set_dark_mode() { result_none(); }
void support_dark_mode_q() { logic::box(false); }
void toggle_gpu() { result_none(); }

} // namespace zyl::tui::routines
