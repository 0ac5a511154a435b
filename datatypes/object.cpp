// datatypes/object.cpp: object!: making object cells, reading fields, path steps, the
// select, put, copy, modify and reflect actions, and the registration. Construction is in
// object_make.cpp, the hooks in object_hooks.cpp, form, mold and compare in object_mold.cpp;
// layouts in datatypes/object.h.
#include "datatypes/object.h"

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::object {

uint32_t class_counter = 0;

// {== Internal functions

namespace {

inline cell* values_of(node_id ctx) { return context::value_at(ctx, 0); }

// Whether [word] is a word of a path step on an object: word!, set-word!, get-word!, lit-word!.
inline bool is_step_word(uint8_t t) {
    return t == T_word || t == T_set_word || t == T_get_word || t == T_lit_word;
}
// Whether [t] is a key that select finds a field by.
inline bool is_key_word(uint8_t t) { return t >= T_word && t <= T_refinement; }

// Whether the symbol of [field] is the predefined symbol [s] (any case).
inline bool names(const cell* field, uint32_t s) {
    return detail::known_q(s) && word::any_word_type_q(field->type()) &&
           symbol::resolve(field->w2) == symbol::resolve(s);
}

// The index of [word]'s field in [ctx]: its own index when it is bound there, else a search.
int32_t field_index(node_id ctx, const cell* word) {
    auto i = static_cast<int32_t>(word->w3);
    if (word->w1 == ctx && i >= 0 && static_cast<uint32_t>(i) < context::word_count(ctx)) return i;
    return context::find_word(ctx, word->w2, true);
}

// Step 5 of a path step: an absent field, or an unset value read.
cell* absent_field(cell* value, const cell* element, const actions::path_step& step, bool unset_ok,
                   bool path_error) {
    if (unset_ok && path_error) return &(*value = unset_value);
    cell path = step.path ? *step.path : none_value;
    cell e = *element;
    error::raise(error::cat_script,
                 path_error ? error::script_invalid_path : error::script_unset_path, &path, &e);
}

// A new block on the stack holding copies of the first [count] cells of cell series [series].
cell* push_copy_of(node_id series, uint32_t count) {
    cell* blk = block::push_new(static_cast<int32_t>(count));
    node_id n = blk->w2;
    for (uint32_t i = 0; i < count; i++)
        series::append_value(n, reinterpret_cast<cell*>(memory::buffer_of(series)->head)[i]);
    return blk;
}

// The body of [obj]: set-words on new lines and their values (words quoted, paths as
// lit-paths).
cell* push_body(const cell* obj) {
    node_id ctx = obj->w1;
    uint32_t count = context::word_count(ctx);
    cell* blk = block::push_new(static_cast<int32_t>(2 * count));
    for (uint32_t i = 0; i < count; i++) {
        cell w = *context::word_at(ctx, i);
        w.header = T_set_word | CELL_NEW_LINE;
        cell v = *context::value_at(ctx, i);
        if (v.type() == T_word) cells::set_type(&v, T_lit_word);
        if (v.type() == T_path) cells::set_type(&v, T_lit_path);
        series::append_value(blk->w2, w);
        series::append_value(blk->w2, v);
    }
    return blk;
}

// The words of [obj] whose changed-mark is set.
cell* push_changed(const cell* obj) {
    node_id ctx = obj->w1;
    cell* blk = block::push_new(4);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        cell w = *context::word_at(ctx, i);
        if (!(w.header & WORD_CHANGED)) continue;
        w.header = T_word;
        series::append_value(blk->w2, w);
    }
    return blk;
}

// The words of [obj], bound to it, without their changed-marks.
cell* push_words(const cell* obj) {
    cell* blk = push_copy_of(context::words_of(obj->w1), context::word_count(obj->w1));
    auto* w = reinterpret_cast<cell*>(memory::buffer_of(blk->w2)->head);
    for (uint32_t i = 0; i < context::word_count(obj->w1); i++) w[i].header = T_word;
    return blk;
}

} // namespace

// }==
// {== Making object cells

cell* make_at(cell* target, uint32_t slots) {
    node_id ctx = context::make(slots, false, true, 0, context::KIND_OBJECT);
    *target = cell{T_object, ctx, 0, 0};
    store_owner(target);
    return target;
}

cell* push(node_id ctx, uint32_t class_id, node_id on_set) {
    cell* obj = stack::push_slot();
    *obj = cell{T_object, ctx, class_id, on_set};
    store_owner(obj);
    return obj;
}

cell* push_from_context(node_id ctx, uint32_t class_id) {
    node_id values = context::cell_of(ctx)->w2;
    if (series::length(values) == 0) {
        collector::keep_node k_ctx{&ctx};
        for (uint32_t i = 0; i < context::word_count(ctx); i++) series::append_unset_cell(values);
    }
    return push(ctx, class_id, 0);
}

// }==
// {== Field access

int32_t find_word(const cell* obj, const cell* word) {
    return context::find_word(obj->w1, word->w2, true);
}

const cell* get_word_value(const cell* obj, const cell* word) {
    int32_t i = find_word(obj, word);
    return i < 0 ? &none_value : context::value_at(obj->w1, static_cast<uint32_t>(i));
}

cell* value_at_offset(const cell* obj, const cell* address) {
    node_id ctx = obj->w1;
    const cell* first = values_of(ctx);
    if (address < first || address >= first + context::word_count(ctx)) return nullptr;
    return context::word_at(ctx, static_cast<uint32_t>(address - first));
}

bool field_is_object_q(const cell* word, uint32_t class_id) {
    const cell* v = word::get_value(word);
    return v->type() == T_object && v->w2 == class_id;
}

bool same_class_object_q(node_id ctx, uint32_t index, uint32_t class_id) {
    const cell* v = context::value_at(ctx, index);
    return v->type() == T_object && v->w2 == class_id;
}

void clear_values_flag(node_id ctx) {
    for (uint32_t i = 0; i < context::word_count(ctx); i++)
        context::word_at(ctx, i)->header &= ~WORD_CHANGED;
}

void clear_owned_flags(node_id values) {
    series_buffer* b = memory::buffer_of(values);
    for (auto* c = reinterpret_cast<cell*>(b->head); c < reinterpret_cast<cell*>(b->tail); c++)
        c->header &= ~CELL_NEW_LINE;
}

// }==
// {== Paths

cell* eval_path_flags(cell* value, const cell* element, const cell* set,
                      const actions::path_step& step, bool unset_ok, bool path_error) {
    cell obj = *value, key = *element;
    if (!is_step_word(key.type())) {
        cell path = step.path ? *step.path : none_value;
        error::raise(error::cat_script, error::script_invalid_path, &path, &key);
    }
    node_id ctx = obj.w1;
    int32_t index = field_index(ctx, &key);
    if (!set) {
        if (index < 0) return absent_field(value, &key, step, unset_ok, path_error);
        cell v = *context::value_at(ctx, static_cast<uint32_t>(index));
        if (v.type() == T_unset) return absent_field(value, &key, step, unset_ok, path_error);
        return &(*value = v);
    }
    if (index < 0 && names(&key, words::sym.self)) {
        cell path = step.path ? *step.path : none_value;
        error::raise(error::cat_script, error::script_invalid_path, &path, &key);
    }
    if (index < 0) return absent_field(value, &key, step, unset_ok, path_error);
    cell v = *set;
    cell field = key;
    field.w1 = ctx;
    field.w3 = static_cast<uint32_t>(index);
    cell old = *context::value_at(ctx, static_cast<uint32_t>(index));
    cell* slot = context::set_word_value(&field, &v, ctx, false);
    if (obj.w3) {
        cell now = *slot;
        stack::push(&old); // the old value stays rooted while the hook runs
        fire_on_change(&obj, &field, &old, &now);
        if (es.throw_code == THROW_NONE) stack::pop(1);
    }
    return &(*value = v);
}

// }==
// {== Action entries

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    return eval_path_flags(value, element, set, step, false, false);
}

cell* select(cell* series, cell* value, const cell*, bool, bool case_, bool, bool, const cell*,
             const cell*, bool, bool) {
    cell key = *value;
    if (!is_key_word(key.type())) {
        cell type = datatype::make_value(key.type());
        error::raise(error::cat_script, error::script_invalid_type, &type);
    }
    int32_t i = context::find_word(series->w1, key.w2, !case_);
    if (i < 0) return &(*series = none_value);
    return &(*series = *context::value_at(series->w1, static_cast<uint32_t>(i)));
}

cell* put(cell* series, cell* key, cell* value, bool) {
    if (key->type() != T_word) {
        cell type = datatype::make_value(key->type());
        error::raise(error::cat_script, error::script_invalid_key_type, &type);
    }
    cell v = *value;
    actions::path_step step{nullptr, nullptr, nullptr, 0, false, true, false};
    eval_path_flags(series, key, &v, step, false, false);
    return &(*series = v);
}

cell* copy(cell* series, const cell* part, bool deep, const cell* types) {
    if (part) {
        cell p = *part;
        error::raise(error::cat_script, error::script_invalid_refine_arg, &words::refs.part, &p);
    }
    cell* target = stack::push_slot();
    copy_into(series, target, deep, types, true);
    *series = *target;
    stack::pop(1);
    return series;
}

cell* modify(cell* target, const cell* field, cell* value, bool) {
    if (names(field, words::loaded.changed.w2)) {
        if (value->type() != T_none) {
            cell v = *value;
            error::raise(error::cat_script, error::script_invalid_arg, &v);
        }
        clear_values_flag(target->w1);
    } else if (names(field, words::sym.owner)) {
        owner::set_owned(target, target, &none_value);
    } else if (names(field, words::sym.owned)) {
        owner::modify_owned(target, value);
    }
    return value;
}

cell* reflect(cell* value, const cell* field) {
    cell obj = *value;
    cell* out = nullptr;
    if (names(field, words::sym.words)) {
        out = push_words(&obj);
    } else if (names(field, words::sym.values)) {
        out = push_copy_of(context::cell_of(obj.w1)->w2, context::word_count(obj.w1));
    } else if (names(field, words::sym.body)) {
        out = push_body(&obj);
    } else if (names(field, words::sym.class_)) {
        return &(*value = integer::make_value(static_cast<int32_t>(obj.w2)));
    } else if (names(field, words::loaded.changed.w2)) {
        out = push_changed(&obj);
    } else if (names(field, words::sym.owner)) {
        return &(*value = logic::make_value(context::cell_of(obj.w1)->header & CTX_OWNER_SET));
    } else if (names(field, words::sym.events_q)) {
        return &(*value = logic::make_value(obj.w3 != 0));
    } else {
        error::raise(error::cat_internal, error::internal_not_done);
    }
    *value = *out;
    stack::pop(1);
    return value;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    detail::install_change_hook();
    owner::forget(); // no object exists yet, so nothing is owned
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_reflect - 1] = entry(&reflect);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = entry(&compare);
    e[A_copy - 1] = entry(&copy);
    e[A_put - 1] = entry(&put);
    e[A_select - 1] = entry(&select);
    e[A_modify - 1] = entry(&modify);
    datatype::register_type(ACTION_SLOTS + 3, T_object, 0, "object!", e);
}

// }==

} // namespace zyl::object
