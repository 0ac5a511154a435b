// datatypes/event.cpp: event! making, field reading and writing, its actions and routines.
// Layout: datatypes/event.h.
#include "datatypes/event.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::event {

// {== Internal functions

namespace {

enum field : int32_t {
    F_TYPE = 1, F_FACE, F_WINDOW, F_OFFSET, F_KEY, F_PICKED, F_FLAGS, F_AWAY, F_DOWN, F_MID_DOWN,
    F_ALT_DOWN, F_AUX_DOWN, F_CTRL, F_SHIFT, F_ORIENTATION, F_COUNT = F_ORIENTATION
};

constexpr const char* field_words[F_COUNT] = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?",
    "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation"};

// The bit each logic field (F_AWAY .. F_SHIFT) reads.
constexpr uint32_t field_bits[] = {FLAG_AWAY, FLAG_DOWN, FLAG_MID_DOWN, FLAG_ALT_DOWN,
                                   FLAG_AUX_DOWN, FLAG_CONTROL, FLAG_SHIFT};

constexpr const char* type_words[TYPE_COUNT] = {
    "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click",
    "dbl-click", "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter",
    "zoom", "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move",
    "resize", "moving", "resizing", "time", "drawing", "scroll", "minimize", "maximize", "restore"};

// The words of a `flags` block, in the order reading lists them; `command` is never listed.
struct flag_word {
    const char* name;
    uint32_t bit;
};
constexpr flag_word flag_words[] = {
    {"away", FLAG_AWAY}, {"down", FLAG_DOWN}, {"mid-down", FLAG_MID_DOWN},
    {"alt-down", FLAG_ALT_DOWN}, {"aux-down", FLAG_AUX_DOWN}, {"control", FLAG_CONTROL},
    {"shift", FLAG_SHIFT}, {"alt", FLAG_ALT}, {"command", FLAG_COMMAND}};
constexpr uint32_t FLAGS_LISTED = 8;
constexpr uint32_t FLAG_WORDS = sizeof flag_words / sizeof flag_words[0];

// Special keys from -20 down to -42; -30 has no word.
constexpr const char* special_words[] = {
    "up", "down", "right", "left", "end", "home", "insert", "delete", "page-up", "page-down",
    nullptr, "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"};
constexpr int32_t SPECIAL_FIRST = -20;
constexpr int32_t SPECIAL_COUNT = sizeof special_words / sizeof special_words[0];

// Canonical symbol ids of the words above, interned on first use after each start.
struct symbols {
    bool made = false;
    uint32_t fields[F_COUNT];
    uint32_t types[TYPE_COUNT];
    uint32_t flags[FLAG_WORDS];
    uint32_t type_, face, window, offset, picked, key_, flags_;
};
symbols sym;

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

// Interns the symbols once; may allocate, so callers run it before taking raw pointers.
void make_symbols() {
    if (sym.made) return;
    for (int32_t i = 0; i < F_COUNT; i++) sym.fields[i] = canonical(field_words[i]);
    for (uint32_t i = 0; i < TYPE_COUNT; i++) sym.types[i] = canonical(type_words[i]);
    for (uint32_t i = 0; i < FLAG_WORDS; i++) sym.flags[i] = canonical(flag_words[i].name);
    sym.type_ = sym.fields[F_TYPE - 1];
    sym.face = sym.fields[F_FACE - 1];
    sym.window = sym.fields[F_WINDOW - 1];
    sym.offset = sym.fields[F_OFFSET - 1];
    sym.picked = sym.fields[F_PICKED - 1];
    sym.key_ = sym.fields[F_KEY - 1];
    sym.flags_ = sym.fields[F_FLAGS - 1];
    sym.made = true;
}

bool is_word_like(const cell* c) { return word::any_word_type_q(c->type()) && c->type() != T_issue; }
uint32_t canonical_of(const cell* w) { return symbol::resolve(w->w2); }

// The type code of word [w], 0 when it names no type.
uint32_t type_code_of(const cell* w) {
    uint32_t s = canonical_of(w);
    for (uint32_t i = 0; i < TYPE_COUNT; i++)
        if (sym.types[i] == s) return i + 1;
    return 0;
}

// The bits that the words of flags block [blk] name; unknown words add nothing.
uint32_t flags_of_block(const cell* blk) {
    uint32_t bits = 0;
    for (const cell* c = block::cells_of(blk->w2) + blk->w1; c < block::rs_tail(blk); c++) {
        if (!is_word_like(c)) continue;
        uint32_t s = canonical_of(c);
        for (uint32_t i = 0; i < FLAG_WORDS; i++)
            if (sym.flags[i] == s) bits |= flag_words[i].bit;
    }
    return bits;
}

bool owns(const cell* ev) { return ev->header & EVENT_OWNS_DATA; }
const cell* data_at(const cell* ev, uint32_t i) { return block::cells_of(ev->w2) + i; }

// Pushes a global word of [symbol]; may allocate.
cell* push_word(uint32_t symbol_id) {
    cell w = word::make_global(symbol_id);
    return stack::push(&w);
}

// Float [f] truncated toward zero into the 32-bit range (NaN reads as 0).
int32_t truncate(float f) {
    if (!(f == f)) return 0;
    if (f >= 2147483647.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(f);
}

// Pushes a new block of the listed flag words whose bits [flags] holds; a fresh block at
// every read, so one read earlier stays as it was.
void push_flags_block(uint32_t flags) {
    cell* blk = block::push_new(FLAGS_LISTED);
    for (uint32_t i = 0; i < FLAGS_LISTED; i++) {
        if (!(flags & flag_words[i].bit)) continue;
        cell w = word::make_global(canonical(flag_words[i].name));
        block::append_value(blk, &w);
    }
}

// The key of [ev]: a char!, a special key's word, or none.
void push_key(const cell* ev) {
    if (owns(ev)) {
        uint32_t cp = ev->w3 & KEY_MASK;
        cell c = cp ? char_::make_value(cp) : none_value;
        stack::push(&c);
        return;
    }
    int32_t key = ev->w2 ? integer::get(data_at(ev, REC_KEY)) : 0;
    if (!(ev->w3 & FLAG_SPECIAL)) {
        cell c = char_::make_value(static_cast<uint32_t>(key) & KEY_MASK);
        stack::push(&c);
        return;
    }
    int32_t i = SPECIAL_FIRST - key;
    if (i < 0 || i >= SPECIAL_COUNT || !special_words[i]) {
        stack::push(&none_value);
        return;
    }
    push_word(canonical(special_words[i]));
}

// Pushes the value of data field [f] (face, window, offset or picked).
void push_data_field(const cell* ev, int32_t f) {
    cell v = none_value;
    if (owns(ev)) {
        if (f == F_OFFSET) v = pair::make_value(0, 0);
        if (f == F_PICKED) v = integer::make_value(0);
        if (ev->w2) v = *data_at(ev, static_cast<uint32_t>(f == F_PICKED ? 3 : f - F_FACE));
    } else if (ev->w2) {
        if (f == F_FACE) v = *data_at(ev, REC_FACE);
        if (f == F_OFFSET) {
            const cell* p = data_at(ev, REC_POS);
            v = pair::make_value(truncate(point::get(p, 0)), truncate(point::get(p, 1)));
        }
        if (f == F_PICKED) v = *data_at(ev, ev->w1 == TYPE_WHEEL ? REC_WHEEL : REC_KEY);
    }
    stack::push(&v);
}

// Pushes field [f] of [ev] (a copy held by the caller, never a pointer into a buffer).
void push_field(const cell ev, int32_t f) {
    switch (f) {
    case F_TYPE: {
        const char* name = type_word(ev.w1);
        if (name) push_word(canonical(name));
        else stack::push(&none_value);
        return;
    }
    case F_KEY: push_key(&ev); return;
    case F_FLAGS: push_flags_block(ev.w3); return;
    case F_ORIENTATION: stack::push(&none_value); return;
    default: break;
    }
    if (f >= F_AWAY && f <= F_SHIFT) {
        logic::push((ev.w3 & field_bits[f - F_AWAY]) != 0);
        return;
    }
    push_data_field(&ev, f);
}

// The value of the pair's value cell [v]: a bound word or get-word reads its word's value.
const cell* spec_value(const cell* v) {
    if ((v->type() == T_word || v->type() == T_get_word) && v->w1 != 0) return word::get_value(v);
    return v;
}

// What make collects from its spec before allocating.
struct made {
    cell face = none_value, window = none_value, offset, picked;
    bool data = false;
};

// Applies one set-word [name] with value [v] to the event [ev] being made.
void apply_spec_pair(cell* ev, made& m, uint32_t name, const cell* v) {
    uint8_t t = v->type();
    if (name == sym.type_ && (t == T_word || t == T_lit_word)) {
        set_field(ev, v);
    } else if (name == sym.key_ && t == T_char_) {
        // A later key replaces an earlier one; the whole code point is kept.
        ev->w3 = (ev->w3 & ~KEY_MASK) | (v->w2 & KEY_MASK);
    } else if (name == sym.flags_ && t == T_block) {
        ev->w3 |= flags_of_block(v);
    } else if ((name == sym.face || name == sym.window) && t == T_object) {
        (name == sym.face ? m.face : m.window) = *v;
        m.data = true;
    } else if (name == sym.offset && (t == T_pair || t == T_point2d)) {
        m.offset = *v;
        m.data = true;
    } else if (name == sym.picked && t == T_integer) {
        m.picked = *v;
        m.data = true;
    }
}

} // namespace

const char* type_word(uint32_t code) { return code >= 1 && code <= TYPE_COUNT ? type_words[code - 1] : nullptr; }

int32_t field_index(const cell* w) {
    if (!is_word_like(w)) return -1;
    make_symbols();
    uint32_t s = canonical_of(w);
    for (int32_t i = 0; i < F_COUNT; i++)
        if (sym.fields[i] == s) return i + 1;
    return -1;
}

cell* get_field(const cell* ev, int32_t f, cell* out) {
    cell copy = *ev;
    push_field(copy, f);
    *out = *stack::top();
    stack::pop(1);
    return out;
}

void set_field(cell* ev, const cell* w) {
    make_symbols();
    uint32_t code = type_code_of(w);
    if (code == 0) error::raise(error::cat_script, error::script_not_event_type, w);
    ev->w1 = code;
}

cell* push_backend(uint32_t code, uint32_t flags, const record& r) {
    cell* blk = block::push_new(REC_CELLS);
    block::append_value(blk, r.widget ? r.widget : &none_value);
    block::append_value(blk, r.face ? r.face : &none_value);
    cell v = point2D::make_value(r.x, r.y);
    block::append_value(blk, &v);
    v = integer::make_value(r.key);
    block::append_value(blk, &v);
    v = float_::make_value(r.wheel);
    block::append_value(blk, &v);
    *blk = cell{T_event, code, blk->w2, flags};
    return blk;
}

// }==
// {== Action entries

namespace {

// make: a block spec of set-word/value pairs; any other spec gives an event with no data.
cell* make(cell* proto, cell* spec, uint8_t) {
    make_symbols();
    cell ev{T_event | EVENT_OWNS_DATA, 0, 0, 0};
    made m;
    m.offset = pair::make_value(0, 0);
    m.picked = integer::make_value(0);
    if (spec->type() == T_block) {
        // Nothing in the walk allocates: the symbols exist and set_field only compares.
        const cell* end = block::rs_tail(spec);
        for (const cell* c = block::cells_of(spec->w2) + spec->w1; c + 1 < end; c++) {
            if (c->type() != T_set_word) continue;
            apply_spec_pair(&ev, m, canonical_of(c), spec_value(c + 1));
            c++;
        }
    }
    if (m.data) {
        cell* blk = block::push_new(4);
        for (const cell* v : {&m.face, &m.window, &m.offset, &m.picked}) block::append_value(blk, v);
        ev.w2 = blk->w2;
        stack::pop(1); // the node is held by [ev] from here, which nothing below can collect
    }
    *proto = ev;
    return proto;
}

int32_t form(const cell*, cell* buffer, const cell*, int32_t part) {
    string::concatenate_literal(buffer, "event");
    return part - 5;
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// Any two events are equal; they have no order.
int32_t compare(const cell*, const cell* b, int32_t op) {
    if (b->type() != T_event) return -2;
    switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
    default: return -2;
    }
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    const cell* path = step.path ? step.path : &none_value;
    int32_t f = field_index(element);
    if (f < 0) error::raise(error::cat_script, error::script_invalid_path, path, element);
    if (!set) return get_field(value, f, value);
    if (f != F_TYPE || set->type() != T_word) error::raise(error::cat_script, error::script_bad_path_set, element, path);
    set_field(value, set);
    return const_cast<cell*>(set);
}

cell* pick(cell* value, int32_t index, const cell* at) {
    if (word::any_word_type_q(at->type())) {
        index = field_index(at);
        if (index < 0) error::raise(error::cat_script, error::script_cannot_use, at, value);
    }
    if (index < 1 || index > F_COUNT) error::raise(error::cat_script, error::script_out_of_range, at);
    return get_field(value, index, value);
}

} // namespace

// }==
// {== Routines

void send_event_os() { logic::box(false); }

// find-flag? facet flag: a word facet matches the flag's canonical symbol; a block matches
// when any of its word! or lit-word! values does.
void find_flag_q() {
    const cell* facet = stack::arg(0);
    uint32_t flag = canonical_of(stack::arg(1));
    bool found = false;
    if (facet->type() == T_word) {
        found = canonical_of(facet) == flag;
    } else if (facet->type() == T_block) {
        for (const cell* c = block::cells_of(facet->w2) + facet->w1; c < block::rs_tail(facet) && !found; c++)
            found = (c->type() == T_word || c->type() == T_lit_word) && canonical_of(c) == flag;
    }
    logic::box(found);
}

// }==
// {== Registration

uint32_t starts = 0;

void init() {
    sym.made = false; // a new start has a new symbol table
    starts++;
    using datatype::entry;
    action_fn entries[ACTION_SLOTS] = {};
    entries[A_make - 1] = entry(&make);
    entries[A_form - 1] = entry(&form);
    entries[A_mold - 1] = entry(&mold);
    entries[A_eval_path - 1] = entry(&eval_path);
    entries[A_compare - 1] = entry(&compare);
    entries[A_pick - 1] = entry(&pick);
    datatype::register_type(ACTION_SLOTS + 3, T_event, 0, "event!", entries);
}

// }==

} // namespace zyl::event
