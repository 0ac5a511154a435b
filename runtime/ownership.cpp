// runtime/ownership.cpp: the owner table, giving and taking ownership, and the notifications
// that reach an owner's on-deep-change*. The table and its marks are described in
// runtime/ownership.h.
#include "runtime/ownership.h"

#include <algorithm>

#include "datatypes/core.h"
#include "datatypes/header_flags.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"

namespace zyl::owner {

// {== Internal functions

namespace {

node_id owner_table = 0;

void mark_table() {
    if (owner_table) hashtable::mark(owner_table);
}

inline void ensure_table() {
    if (!owner_table) init();
}

// The types whose cells are walked: the path family, block!, paren!, hash!.
inline bool is_walked(uint8_t t) {
    return t == T_block || t == T_paren || t == T_hash || (t >= T_path && t <= T_get_path);
}
// The series types that carry the owned mark in their buffer.
inline bool is_marked_series(uint8_t t) {
    return is_walked(t) || t == T_string || t == T_file || t == T_url || t == T_tag ||
           t == T_email || t == T_ref || t == T_binary || t == T_vector || t == T_bitset;
}

// The node an entry of value [v] is keyed by: word 1 of an object, word 2 of a series.
inline node_id key_of(const cell* v) { return object::is_object_type(v->type()) ? v->w1 : v->w2; }

inline cell* cells_of(node_id n) { return reinterpret_cast<cell*>(memory::buffer_of(n)->head); }
inline uint32_t length_of(node_id n) { return static_cast<uint32_t>(series::length(n)); }

// Puts the entry [v] -> ([v], [o], [w]) for [key]; the table must exist.
void put_entry(node_id key, const cell& v, const cell& o, const cell& w) {
    cell* e = hashtable::put_pointer(owner_table, key);
    e[0] = v;
    e[1] = o;
    e[2] = w;
}

// Removes the entry of [key], if any, leaving its cells unset.
void drop_entry(node_id key) {
    if (!owner_table) return;
    cell* e = hashtable::remove_pointer(owner_table, key);
    if (e) e[0] = e[1] = e[2] = unset_value;
}

// Calls [apply] on a copy of each cell of any-block [blk] from its index, storing the copy's
// header back (an image! cell takes its mark); [blk]'s series is on the cycle stack meanwhile.
template <typename F> void walk_cells(const cell& blk, F apply) {
    if (cycles::find(blk.w2)) return;
    cycles::entry walking(blk.w2);
    for (uint32_t i = blk.w1; i < length_of(blk.w2); i++) {
        cell c = cells_of(blk.w2)[i];
        apply(&c);
        if (i < length_of(blk.w2))
            cells_of(blk.w2)[i].header = c.header; // re-derived: [apply] may allocate
    }
}

// Calls [apply] on a copy of each field value of object [obj] with its word, storing the
// copy's header back; the context is on the cycle stack meanwhile.
template <typename F> void walk_fields(const cell& obj, F apply) {
    node_id ctx = obj.w1;
    if (cycles::find(ctx)) return;
    cycles::entry walking(ctx);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        cell v = *context::value_at(ctx, i);
        cell w = *context::word_at(ctx, i);
        w.header = T_word;
        apply(&v, w);
        context::value_at(ctx, i)->header = v.header;
    }
}

} // namespace

// }==
// {== The table

void init() {
    collector::remove_mark_hook(mark_table);
    owner_table = hashtable::init(TABLE_SLOTS, nullptr, hashtable::KIND_OWNER, 3);
    collector::add_mark_hook(mark_table);
}

void forget() {
    collector::remove_mark_hook(mark_table);
    owner_table = 0;
}

node_id table() { return owner_table; }

// }==
// {== Giving and taking ownership

void set(cell* value, const cell* owner, const cell* word) {
    // Every cell here is held by its container, which the caller keeps: no guard is needed,
    // and none is taken, so that deep nesting does not fill the keep-stack.
    cell v = *value, o = *owner, w = *word;
    ensure_table();
    uint8_t t = v.type();
    if (t == T_image) {
        // An image with a zero side has no node to key an entry by, and nothing to change.
        if (v.w2 && !(value->header & IMAGE_OWNED)) {
            value->header |= IMAGE_OWNED;
            put_entry(v.w2, *value, o, w);
        }
    } else if (is_marked_series(t)) {
        if (!owned_q(&v)) {
            put_entry(v.w2, v, o, w);
            memory::buffer_of(v.w2)->flags |= SERIES_OWNED;
        }
        if (is_walked(t)) walk_cells(v, [&](cell* c) { set(c, &o, &w); });
    } else if (object::is_object_type(t)) {
        if (context::cell_of(v.w1)->header & CTX_OWNER_SET) return;
        walk_fields(v, [&](cell* c, const cell& field) {
            if (!(object::is_object_type(c->type()) && c->w1 == o.w1)) set(c, &o, &field);
        });
    }
}

void set_owned(cell* value, const cell* owner, const cell* word) {
    node_id ctx = owner->w1;
    set(value, owner, word);
    context::cell_of(ctx)->header |= CTX_OWNER_SET;
}

void clear_deep(cell* value) {
    cell v = *value;
    uint8_t t = v.type();
    if (t == T_image) {
        if (value->header & IMAGE_OWNED) drop_entry(v.w2);
        value->header &= ~IMAGE_OWNED;
    } else if (is_marked_series(t)) {
        if (owned_q(&v)) {
            memory::buffer_of(v.w2)->flags &= ~SERIES_OWNED;
            drop_entry(v.w2);
        }
        if (is_walked(t)) walk_cells(v, [](cell* c) { clear_deep(c); });
    } else if (object::is_object_type(t)) {
        if (context::cell_of(v.w1)->header & CTX_OWNER_SET) return;
        walk_fields(v, [](cell* c, const cell&) { clear_deep(c); });
    }
}

void clear_range(const cell* block, uint32_t index, uint32_t count) {
    cell blk = *block;
    uint32_t end =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t(index) + count, length_of(blk.w2)));
    for (uint32_t i = index; i < end; i++) {
        cell c = cells_of(blk.w2)[i];
        clear_deep(&c);
        cells_of(blk.w2)[i].header = c.header;
    }
}

cell* find(node_id n) {
    if (!owner_table) return nullptr;
    cell* e = hashtable::get(owner_table, n);
    return e ? e + 1 : nullptr;
}

const cell* modify_owned(cell* value, const cell* spec) {
    if (spec->type() == T_none) {
        clear_deep(value);
        return spec;
    }
    cell s = *spec;
    const cell* items = s.type() == T_block ? cells_of(s.w2) + s.w1 : nullptr;
    bool valid = items && s.w1 + 2 <= length_of(s.w2) && object::is_object_type(items[0].type()) &&
                 word::any_word_type_q(items[1].type());
    if (!valid) error::raise(error::cat_script, error::script_invalid_arg, &s);
    cell o = items[0], w = items[1];
    cells::set_type(&w, T_word);
    set_owned(value, &o, &w);
    return spec;
}

// }==
// {== Notifications

bool check(const cell* value, const cell* action, const cell* new_value, int32_t index,
           int32_t part) {
    if (!owner_table) return false;
    const cell* e = hashtable::get(owner_table, key_of(value));
    if (!e) return false;
    cell o = e[1], w = e[2];
    // The owner's hooks as they are now: its owner cell is stored again whenever they change.
    if (object::is_object_type(o.type())) {
        const cell* now = context::owner_of(o.w1);
        if (object::is_object_type(now->type()) && now->w1 == o.w1) o = *now;
    }
    if (o.w3 == 0) return false;
    cell target = *value, act = *action;
    cell fresh = new_value ? *new_value : none_value;
    object::fire_on_deep_change(&o, &w, &target, &act, &fresh, index, part);
    return true;
}

void check_before(const cell* s, const cell* action, const cell* new_value, int32_t index,
                  int32_t part) {
    node_id n = s->w2;
    series_buffer* b = memory::buffer_of(n);
    uint32_t bytes = b->used_bytes(), unit = b->unit();
    if (!check(s, action, new_value, index, part)) return;
    b = memory::buffer_of(n);
    if (b->used_bytes() != bytes || b->unit() != unit)
        error::raise(error::cat_script, error::script_protected);
}

// }==

} // namespace zyl::owner
