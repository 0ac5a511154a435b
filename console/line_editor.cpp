// console/line_editor.cpp: the key loop, history, completion and the editor's routines.
//
// The line being edited lives in a C++ vector of code points, so no pointer into a series
// buffer is ever held while keys arrive; the caller's string is filled once, at the end. The
// history block and the caller's line are kept for the collector by a mark hook.
#include "console/line_editor.h"

#include <algorithm>
#include <new>
#include <string>

#include "boot/startup.h"
#include "console/line_state.h"
#include "console/stdin_input.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/common.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/terminal.h"

namespace zyl::line_editor {
namespace {

// Cells the editor keeps across calls: the history block, the routines' line string.
enum { ROOT_HISTORY, ROOT_LINE, ROOT_COUNT };
cell roots[ROOT_COUNT];
bool hooked = false;

constexpr int ESCAPE_WAIT_MS = 50; // a lone ESC is the Escape key when nothing follows

void mark_roots() { collector::mark_values(roots, roots + ROOT_COUNT); }

void hook() {
    if (hooked) return;
    roots[ROOT_HISTORY] = none_value;
    roots[ROOT_LINE] = none_value;
    collector::add_mark_hook(mark_roots);
    hooked = true;
}

// {== Text between the editor and strings

// The characters of the string [s] from its head, and its index.
text text_of(const cell* s, size_t* index) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = string::unit_of(b);
    size_t len = b->used_bytes() / unit;
    text t(len);
    for (size_t i = 0; i < len; i++) t[i] = string::get_char(b->head + i * unit, unit);
    if (index) *index = std::min<size_t>(s->w1, len);
    return t;
}

// Appends [t] to the string [s] (kept by the caller).
void append_text(const cell* s, const text& t) {
    uint32_t widest = 0;
    for (uint32_t cp : t) widest = std::max(widest, cp);
    uint32_t unit = string::unit_for(widest);
    std::vector<uint8_t> bytes(t.size() * unit);
    for (size_t i = 0; i < t.size(); i++) string::put_char(bytes.data() + i * unit, unit, t[i]);
    string::append_units(s->w2, bytes.data(), static_cast<uint32_t>(t.size()), unit);
}

// A new string of [t] pushed on the stack, its index at [index].
cell* push_text(const text& t, size_t index) {
    cell* s = string::push_new(static_cast<uint32_t>(t.size()));
    append_text(s, t);
    s->w1 = static_cast<uint32_t>(index);
    return s;
}

// }==
// {== Guarded calls into the language

// Runs [fn] inside a try frame of its own; false when an error was raised (and dropped).
template <typename F>
bool guarded(F fn) {
    cell* top = es.top;
    cell* base = es.base;
    call_frame* ftop = es.ftop;
    static cell w = word::load("ask");
    stack::mark_try(&w);
    try {
        fn();
        return es.throw_code == THROW_NONE;
    } catch (const error::raised&) {
        es.top = top;
        es.base = base;
        es.ftop = ftop;
        es.throw_code = THROW_NONE;
        return false;
    }
}

// Restores the stacks after a guarded call that succeeded.
struct stack_scope {
    cell* top = es.top;
    cell* base = es.base;
    call_frame* ftop = es.ftop;
    ~stack_scope() {
        es.top = top;
        es.base = base;
        es.ftop = ftop;
        es.throw_code = THROW_NONE;
    }
};

// Re-reads the window size and tells `system/console/size` when the console object exists.
void update_window_size() {
    terminal::window_size(ed.columns, ed.rows);
    std::string code = "if all [value? 'system object? :system object? system/console] [system/console/size: " +
                       std::to_string(ed.columns) + "x" + std::to_string(ed.rows) + "]";
    stack_scope scope;
    guarded([&] {
        cell* b = runtime::load_text(reinterpret_cast<const uint8_t*>(code.data()), code.size());
        interp::eval_block(b, false);
    });
}

// }==
// {== History

size_t history_count() {
    const cell* h = &roots[ROOT_HISTORY];
    if (h->type() != T_block) return 0;
    return memory::buffer_of(h->w2)->used_bytes() / sizeof(cell);
}

const cell* history_entry(size_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(roots[ROOT_HISTORY].w2)->head) + i;
}

void load_history_entry(size_t i) {
    const cell* e = history_entry(i);
    ed.line = string::is_text_type(e->type()) ? text_of(e, nullptr) : text();
    ed.cursor = ed.line.size();
}

void add_history() {
    if (ed.hidden || ed.line.empty() || roots[ROOT_HISTORY].type() != T_block) return;
    if (history_count() > 0) {
        const cell* newest = history_entry(0);
        if (string::is_text_type(newest->type()) && text_of(newest, nullptr) == ed.line) return;
    }
    stack_scope scope;
    cell* s = push_text(ed.line, 0);
    cell h = roots[ROOT_HISTORY];
    h.w1 = 0;
    block::insert_value(&h, s, false, false);
}

// }==
// {== Completion

// Asks `complete-input` for the completions of the text before the cursor. Answers the
// number of values it gave: 0 lets the caller insert the tab.
size_t complete_line() {
    stack_scope scope;
    cell w = word::load("zyl-complete-input");
    const cell* fn = context::get_value(&w);
    uint8_t t = fn->type();
    if (t != T_function && t != T_native && t != T_action && t != T_routine) return 0;
    cell args[2];
    args[0] = *push_text(ed.line, ed.cursor);
    args[1] = logic::make_value(true);
    cell* fn_kept = stack::push(fn);
    cell* answer = nullptr;
    if (!guarded([&] { answer = interp::call_with(fn_kept, args, 2); }) || !answer ||
        answer->type() != T_block)
        return 0;
    size_t n = block::rs_length_q(answer);
    if (n == 0) return 0;
    const cell* first = block::rs_abs_at(answer, answer->w1);
    if (!string::is_text_type(first->type())) return 0;
    ed.scratch = ed.line;
    ed.scratch_index = ed.cursor;
    size_t index;
    text value1 = text_of(first, &index);
    if (n == 1) {
        ed.line = value1;
        ed.cursor = index;
        ed.scratch.clear();
        redraw();
        return 1;
    }
    ed.scratch = value1;
    ed.scratch_index = index;
    ed.line.clear();
    for (size_t i = 1; i < n; i++) {
        const cell* v = block::rs_abs_at(answer, answer->w1 + static_cast<uint32_t>(i));
        if (string::is_text_type(v->type())) {
            size_t ignored;
            text c = text_of(v, &ignored);
            ed.line.insert(ed.line.end(), c.begin(), c.end());
        }
        ed.line.push_back(' ');
    }
    ed.cursor = ed.line.size();
    redraw();
    return n;
}

// }==
// {== Keys

void key_sink(void* ctx, int32_t key) {
    static_cast<std::deque<int32_t>*>(ctx)->push_back(key);
}

// The next key; waits for input when none is decoded yet. READ_END gives -1 (end of input);
// a resize gives 0 after redrawing.
int32_t next_key() {
    while (ed.keys.empty()) {
        if (ed.stale && !terminal::input_ready()) redraw(); // draw what fast input skipped
        uint8_t buf[4096];
        int wait = vt::lone_escape(ed.decoder) ? ESCAPE_WAIT_MS : -1;
        long n = terminal::read_input(buf, sizeof buf, wait);
        if (n == terminal::READ_TIMEOUT) {
            vt::flush_escape(ed.decoder, key_sink, &ed.keys);
        } else if (n == terminal::READ_SIGNAL) {
            if (terminal::take_resized()) {
                update_window_size();
                redraw();
            }
        } else if (n == terminal::READ_END) {
            return -1;
        } else {
            vt::feed(ed.decoder, buf, static_cast<size_t>(n), key_sink, &ed.keys);
        }
    }
    int32_t k = ed.keys.front();
    ed.keys.pop_front();
    return k;
}

// Keys already waiting (a paste, fast typing, a held key) are all taken before anything is
// drawn: a long line is laid out once for them, not once a key.
bool keys_waiting() { return !ed.keys.empty() || terminal::input_ready(); }

// Shows a changed line, or leaves it to the drawing after the waiting keys.
void show_change() {
    if (keys_waiting()) ed.stale = true;
    else redraw();
}

// Shows a cursor move (with [blank], blanking after it), or leaves it as show_change does.
void show_move(bool blank = false) {
    if (keys_waiting()) ed.stale = true;
    else move_cursor(blank);
}

void insert_char(uint32_t cp) {
    bool at_end = ed.cursor == ed.line.size();
    ed.line.insert(ed.line.begin() + static_cast<std::ptrdiff_t>(ed.cursor), cp);
    ed.cursor++;
    if (keys_waiting()) ed.stale = true;
    else if (at_end) echo_last();
    else redraw();
}

// Draws what keys taken without drawing left undrawn.
void catch_up() {
    if (!keys_waiting()) redraw();
}

enum class end { none, line, quit };

end handle_paste_key(int32_t k) {
    if (k == vt::KEY_PASTE_END) {
        ed.in_paste = false;
        catch_up();
    } else if (k == vt::KEY_ENTER) {
        return end::line;
    } else if (k == '\t' || k >= 32) {
        insert_char(static_cast<uint32_t>(k));
    }
    return end::none; // other control keys of a paste are dropped
}

end handle_key(int32_t k) {
    if (ed.in_paste) return handle_paste_key(k);
    switch (k) {
    case vt::KEY_PASTE_BEGIN:
        ed.in_paste = true;
        return end::none;
    case '\t':
        if (!ed.hidden) {
            size_t n = complete_line();
            if (n > 1) {
                ed.line.clear();
                ed.cursor = 0;
                return end::line;
            }
            if (n == 1) return end::none;
        }
        insert_char('\t');
        return end::none;
    case vt::KEY_ENTER:
        return end::line;
    case 8:
    case 127:
        if (ed.cursor == 0) return end::none;
        ed.line.erase(ed.line.begin() + static_cast<std::ptrdiff_t>(--ed.cursor));
        if (ed.cursor == ed.line.size()) show_move(true);
        else show_change();
        return end::none;
    case vt::KEY_LEFT:
    case 2:
        if (ed.cursor > 0) {
            ed.cursor--;
            show_move();
        }
        return end::none;
    case vt::KEY_RIGHT:
    case 6:
        if (ed.cursor < ed.line.size()) {
            ed.cursor++;
            show_move();
        }
        return end::none;
    case vt::KEY_HOME:
    case 1:
        ed.cursor = 0;
        show_move();
        return end::none;
    case vt::KEY_END:
    case 5:
        ed.cursor = ed.line.size();
        show_move();
        return end::none;
    case vt::KEY_DELETE:
        if (ed.cursor < ed.line.size()) {
            ed.line.erase(ed.line.begin() + static_cast<std::ptrdiff_t>(ed.cursor));
            show_change();
        }
        return end::none;
    case 11: // Ctrl+K
        if (ed.cursor < ed.line.size()) {
            ed.line.resize(ed.cursor);
            show_change();
        }
        return end::none;
    case 4: // Ctrl+D
        if (ed.line.empty()) return end::quit;
        if (ed.cursor < ed.line.size()) {
            ed.line.erase(ed.line.begin() + static_cast<std::ptrdiff_t>(ed.cursor));
            show_change();
        }
        return end::none;
    case 3: // Ctrl+C
        return end::quit;
    case vt::KEY_ESCAPE:
        ed.scratch.clear();
        ed.line.push_back(27);
        return end::line;
    default:
        if (k >= 32) insert_char(static_cast<uint32_t>(k));
        return end::none; // other control keys, Insert, the Page keys, unknown sequences
    }
}

// The key loop of one edit; answers how it ended. The history position [h] walks from the
// newest entry (0) to the oldest; -1 is before the newest.
end edit_loop() {
    long h = -1;
    for (;;) {
        int32_t k = next_key();
        if (k == -1) { // the terminal is gone, in a paste too: as Ctrl+D on an empty line
            ed.in_paste = false;
            return end::quit;
        }
        if (!ed.in_paste && (k == vt::KEY_UP || k == 16 || k == vt::KEY_DOWN || k == 14)) {
            long count = static_cast<long>(history_count());
            if (k == vt::KEY_UP || k == 16) {
                if (h >= count - 1) {
                    ed.line.clear();
                    ed.cursor = 0;
                } else {
                    load_history_entry(static_cast<size_t>(++h));
                }
            } else if (h < 0) {
                ed.line.clear();
                ed.cursor = 0;
            } else {
                load_history_entry(static_cast<size_t>(h--));
            }
            show_change();
            continue;
        }
        end e = handle_key(k);
        if (e != end::none) {
            if (e == end::line && ed.in_paste) catch_up();
            return e;
        }
    }
}

// }==
// {== Routines

void set_buffer_history_routine() {
    hook();
    roots[ROOT_LINE] = *stack::arg(0);
    roots[ROOT_HISTORY] = *stack::arg(1);
    roots[ROOT_HISTORY].w1 = 0;
    stack::set_last(&unset_value);
}

// Answers false when redirected input has ended; on a terminal the end of input is the
// line "q".
void read_input_routine() {
    hook();
    cell prompt = *stack::arg(0);
    bool hidden = stack::arg(1)->type() == T_logic && stack::arg(1)->w1 != 0;
    cell* line = stack::push(&roots[ROOT_LINE]);
    bool more = true;
    if (line->type() == T_string) {
        if (terminal::interactive()) read_line(&prompt, hidden, line);
        else more = stdin_input::read_line(line);
    }
    stack::set_last(more ? &true_value : &false_value);
}

void terminate_console_routine() { stack::set_last(&unset_value); }

// }==

} // namespace

void init() {
    hook();
    runtime::define_routine("_set-buffer-history", R"(["Internal Use Only" line [string!] hist [block!]])",
                            set_buffer_history_routine);
    runtime::define_routine("_read-input", R"(["Internal Use Only" prompt [string!] hidden? [logic!]])",
                            read_input_routine);
    runtime::define_routine("_terminate-console", "[]", terminate_console_routine);
}

void forget() {
    if (!hooked) return;
    collector::remove_mark_hook(mark_roots);
    hooked = false;
}

bool read_line(const cell* prompt, bool hidden, cell* line) {
    hook();
    ed.prompt = string::is_text_type(prompt->type()) ? [&] {
        size_t index;
        text all = text_of(prompt, &index);
        return text(all.begin() + static_cast<std::ptrdiff_t>(index), all.end());
    }() : text();
    ed.hidden = hidden;
    ed.line.clear();
    ed.cursor = 0;
    ed.drawn = false;
    ed.start_column = console::column();
    end e = end::quit;
    static bool sized = false; // the console's size follows the window from the first edit on
    if (!sized) {
        sized = true;
        update_window_size();
    }
    try {
        terminal::raw_guard raw;
        terminal::window_size(ed.columns, ed.rows);
        if (ed.start_column >= ed.columns) ed.start_column %= std::max(ed.columns, 1);
        if (!ed.scratch.empty()) { // the text of a completion that listed its candidates
            ed.line = ed.scratch;
            ed.cursor = std::min(ed.scratch_index, ed.line.size());
            ed.scratch.clear();
        }
        redraw();
        e = edit_loop();
        if (e == end::line) finish();
        else {
            ed.line.clear();
            finish();
        }
    } catch (const std::bad_alloc&) {
        runtime_error(RT_OUT_OF_MEMORY); // the guard gave the terminal back on the way out
    }
    console::set_column(0);
    if (e == end::quit) {
        ed.line.assign({'q'});
        ed.cursor = 1;
        append_text(line, ed.line);
        return false;
    }
    bool escaped = !ed.line.empty() && ed.line.back() == 27;
    if (!escaped) add_history();
    append_text(line, ed.line);
    // After Escape the string's index tells where the cursor was.
    if (escaped) line->w1 += static_cast<uint32_t>(std::min(ed.cursor, ed.line.size() - 1));
    return true;
}

} // namespace zyl::line_editor
