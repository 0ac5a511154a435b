// library/routines.h: the routines' C++ code (the rows of library/routines.inc), each reading
// its arguments from the current frame and leaving its result in cell 0.
#pragma once

namespace zyl::routines {

void quit_return();
void set_quiet();
void set_slot_quiet();
void shift_right();
void shift_left();
void shift_logical();
void last_lf_q();
void get_current_dir();
void set_current_dir();
void create_dir();
void exists_q();
void os_info();
void as_color();
void as_ipv4();
void as_rgba();
void count_chars();
void stack_size_q();
void pick_stack();
void frame_index_q();
void collect_calls();
void tracing_q();
void read_clipboard();
void write_clipboard();
void write_stdout();
void gc_active_q();
void gc_series_cycles();
void gc_nodes_cycles();
void make_system_words();
void build_git_record();
void interpreted_q();
void float_option();
void reactivity_check();
void json_scan();
void json_emit();
void csv_scan();
void csv_emit();
void zylbin_decode();
void zylbin_encode();
void unescape();
void trace_switch();

} // namespace zyl::routines
