// gui/terminal/platform_routines.h: the routines the GUI layer reaches the terminal backend
// through (the routine fields of its platform object). Each reads its arguments from the
// current frame and leaves its result in cell 0; a face without a widget is never an error.
#pragma once

namespace zyl::tui::routines {

void make_null_handle();
void fetch_all_screens();
void get_screen_size();
void size_text();
void on_change_facet();
void update_text();
void update_font();
void update_para();
void destroy_view();
void detach_image();
void update_view();
void refresh_window();
void redraw();
void show_window();
void make_view();
void draw_image();
void draw_face();
void request_font();
void request_file();
void request_dir();
void text_box_metrics();
void update_scroller();
void set_dark_mode();
void support_dark_mode_q();
void toggle_gpu();

// The `TUI-helpers` routine fields (helper_routines.cpp).
void has_focus_q();
void widget_data();
void set_widget_ui();

} // namespace zyl::tui::routines
