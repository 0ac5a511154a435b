// gui/terminal/widget.cpp: the widget table with generation counts, the window list, absolute
// positions and face flag words.
#include "gui/terminal/widget.h"

#include <cstdlib>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/handle.h"
#include "datatypes/header_flags.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/terminal/timers.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::tui {

namespace {

struct slot_entry {
    widget* w;
    uint16_t generation;
    uint32_t next_free; // the next free slot when this one is free
};

constexpr uint32_t NO_SLOT = 0xFFFFFFFF;

slot_entry* slots = nullptr;
uint32_t slots_used = 0, slots_capacity = 0, first_free = NO_SLOT;
uint32_t hook_start = 0; // the run-time start whose collector has the mark hook

window_record** windows = nullptr;
uint32_t windows_used = 0, windows_capacity = 0;

void* grow(void* p, uint32_t& capacity, uint32_t min, size_t size) {
    uint32_t n = capacity ? capacity * 2 : min;
    void* q = std::realloc(p, n * size);
    if (!q) error::raise(error::cat_internal, error::internal_no_memory);
    capacity = n;
    return q;
}

} // namespace

widget* alloc_widget() {
    if (hook_start != event::starts) {
        // A new start: widgets left from the last one hold values of a heap that is gone.
        free_all_widgets();
        collector::add_mark_hook(mark_widgets);
        hook_start = event::starts;
    }
    uint32_t i = first_free;
    if (i != NO_SLOT) {
        first_free = slots[i].next_free;
    } else {
        if (slots_used == slots_capacity) slots = static_cast<slot_entry*>(grow(slots, slots_capacity, 64, sizeof(slot_entry)));
        i = slots_used++;
        slots[i].generation = 0;
    }
    auto* w = static_cast<widget*>(std::calloc(1, sizeof(widget)));
    if (!w) error::raise(error::cat_internal, error::internal_no_memory);
    w->face = cell{T_none, 0, 0, 0};
    w->slot = i;
    slots[i].w = w;
    return w;
}

void free_widget(widget* w) {
    // No window keeps it as its focus, and no widget as its parent: a face taken out of its
    // pane keeps its widget, which may outlive the parent's.
    for (uint32_t i = 0; i < windows_used; i++)
        if (windows[i]->focused == w) windows[i]->focused = nullptr;
    for (uint32_t i = 0; i < slots_used; i++)
        if (slots[i].w && slots[i].w->parent == w) slots[i].w->parent = nullptr;
    slot_entry& e = slots[w->slot];
    e.w = nullptr;
    e.generation++;
    e.next_free = first_free;
    first_free = w->slot;
    if (w->extra) {
        std::free(w->extra->cells);
        std::free(w->extra);
    }
    if (w->data && w->free_data) w->free_data(w->data);
    std::free(w);
}

widget* resolve(const cell* h) {
    if (h->type() != T_handle || h->w1 != handle::KIND_WINDOW || h->w2 >= slots_used) return nullptr;
    const slot_entry& e = slots[h->w2];
    uint32_t gen = (h->header & HANDLE_GENERATION_MASK) >> HANDLE_GENERATION_SHIFT;
    return e.w && e.generation == gen ? e.w : nullptr;
}

void handle_of(const widget* w, cell* out) {
    handle::make_at(out, w->slot, handle::KIND_WINDOW);
    out->header = (out->header & ~HANDLE_GENERATION_MASK) |
                  (uint32_t(slots[w->slot].generation) << HANDLE_GENERATION_SHIFT);
}

uint32_t slot_count() { return slots_used; }
widget* widget_at(uint32_t i) { return i < slots_used ? slots[i].w : nullptr; }

uint32_t window_count() { return windows_used; }
window_record* window_at(uint32_t i) { return i < windows_used ? windows[i] : nullptr; }
window_record* current_window() { return windows_used ? windows[windows_used - 1] : nullptr; }

window_record* add_window(widget* w) {
    if (windows_used == windows_capacity) windows = static_cast<window_record**>(grow(windows, windows_capacity, 4, sizeof(window_record*)));
    auto* r = static_cast<window_record*>(std::calloc(1, sizeof(window_record)));
    if (!r) error::raise(error::cat_internal, error::internal_no_memory);
    r->window = w;
    r->left = w->left;
    r->top = w->top;
    r->right = w->right;
    r->bottom = w->bottom;
    windows[windows_used++] = r;
    return r;
}

void remove_window(window_record* r) {
    for (uint32_t i = 0; i < windows_used; i++) {
        if (windows[i] != r) continue;
        std::memmove(windows + i, windows + i + 1, (windows_used - i - 1) * sizeof(window_record*));
        windows_used--;
        std::free(r);
        return;
    }
}

void make_current(window_record* r) {
    for (uint32_t i = 0; i < windows_used; i++) {
        if (windows[i] != r) continue;
        std::memmove(windows + i, windows + i + 1, (windows_used - i - 1) * sizeof(window_record*));
        windows[windows_used - 1] = r;
        return;
    }
}

window_record* window_of(widget* w) {
    while (w && w->parent) w = w->parent;
    if (!w) return nullptr;
    for (uint32_t i = 0; i < windows_used; i++)
        if (windows[i]->window == w) return windows[i];
    return nullptr;
}

void absolute_position(const widget* w, int& x, int& y) {
    double fx = 0, fy = 0;
    for (; w && w->parent; w = w->parent) {
        fx += w->left;
        fy += w->top;
    }
    auto trunc = [](double d) { return d != d ? 0 : d < -2147483648.0 ? INT32_MIN : d > 2147483647.0 ? INT32_MAX : int(d); };
    x = trunc(fx);
    y = trunc(fy);
}

namespace {

struct flag_word {
    const char* name;
    uint32_t bit;
    uint32_t symbol; // canonical, found on first use
};

flag_word flag_words[] = {
    {"all-over", FF_ALL_OVER, 0},      {"focusable", FF_FOCUSABLE, 0}, {"popup", 0x1000000, 0},
    {"modal", 0x2000000, 0},           {"resize", 0x4000000, 0},       {"no-buttons", 0x8000000, 0},
    {"no-max", 0x10000000, 0},         {"no-min", 0x20000000, 0},      {"no-title", 0x40000000, 0},
    {"no-border", 0x80000000, 0},      {"tri-state", FF_TRI_STATE, 0}, {"scrollable", FF_SCROLLABLE, 0},
    {"password", FF_PASSWORD, 0},      {"no-sync", FF_NO_SYNC, 0},     {"fullscreen", FF_FULLSCREEN, 0},
};

// Interns the flag words once, before any pointer into a block is held.
uint32_t flags_start = 0;

void intern_flag_words() {
    if (flag_words[0].symbol && flags_start == event::starts) return;
    flags_start = event::starts;
    for (auto& f : flag_words) f.symbol = symbol::resolve(symbol::make(f.name));
}

uint32_t flag_of_word(const cell* w) {
    uint32_t sym = symbol::resolve(w->w2);
    for (auto& f : flag_words)
        if (f.symbol == sym) return f.bit;
    error::raise(error::cat_script, error::script_invalid_arg, w);
}

} // namespace

uint32_t get_flags(const cell* v_in) {
    cell copy = *v_in; // interning may move the series [v_in] lies in
    const cell* v = &copy;
    intern_flag_words();
    if (v->type() == T_word) return flag_of_word(v);
    if (v->type() != T_block) return 0;
    uint32_t bits = 0;
    uint32_t len = series::rs_abs_length_q(v);
    const cell* head = block::cells_of(v->w2);
    for (uint32_t i = v->w1; i < len; i++) {
        const cell* item = head + i;
        if (item->type() == T_word) bits |= flag_of_word(item);
    }
    return bits;
}

void mark_widgets() {
    for (uint32_t i = 0; i < slots_used; i++) {
        widget* w = slots[i].w;
        if (!w) continue;
        collector::mark_values(&w->face, &w->face + 1);
        if (w->ui) collector::mark_series(w->ui);
    }
}

void free_all_widgets() {
    clear_timers(); // their handles would name nothing, or a later widget of a reused slot
    for (uint32_t i = 0; i < slots_used; i++)
        if (slots[i].w) free_widget(slots[i].w);
    while (windows_used) std::free(windows[--windows_used]);
}

} // namespace zyl::tui
