// datatypes/object_hooks.cpp: object! change hooks: the on-set record, attaching hooks to an
// object, and the calls of on-change* and on-deep-change*. Layouts are in datatypes/object.h.
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::object {

// {== Internal functions

namespace {

inline cell* record_cell(node_id record, uint32_t which) {
    return reinterpret_cast<cell*>(memory::buffer_of(record)->head) + which;
}

inline uint32_t hook_index(node_id record, uint32_t which) {
    return record_cell(record, which)->w2 >> 16;
}

inline cell record_value(uint32_t index, uint32_t count, node_id spec) {
    return cell{T_pair, 0, (index << 16) | (count & 0xFFFF), spec};
}

inline bool is_callable(uint8_t t) { return t == T_function || t == T_routine; }

// Local slots of the function [fn]: 1 for /local and one per word after it, 0 without /local.
uint32_t local_count(const cell* fn) {
    int32_t n = function::count_args(fn->w2, 0, false);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// The local count of hook [which] for its current function [fn]. Counted at every call: a
// spec node cached from an earlier function may have died and been reused by another spec.
uint32_t refresh_count(node_id record, uint32_t which, const cell* fn) {
    uint32_t count = local_count(fn);
    cell* c = record_cell(record, which);
    *c = record_value(c->w2 >> 16, count, fn->w2);
    return count;
}

// The index of the hook field named by word cell [name] in [ctx], or NO_HOOK. An index that
// does not fit the record's 16 bits cannot be recorded, and counts as no hook.
uint32_t hook_field(node_id ctx, const cell& name) {
    if (!detail::known_q(name.w2)) return NO_HOOK;
    int32_t i = context::find_word(ctx, name.w2, true);
    return i < 0 || static_cast<uint32_t>(i) >= NO_HOOK ? NO_HOOK : static_cast<uint32_t>(i);
}

// Raises bad-field-set unless the hook field [index] of [ctx] holds a function or routine;
// answers its spec node (0 for no hook).
node_id checked_hook_spec(node_id ctx, uint32_t index, uint32_t& count) {
    count = 0;
    if (index == NO_HOOK) return 0;
    cell v = *context::value_at(ctx, index);
    if (!is_callable(v.type())) {
        cell w = *context::word_at(ctx, index);
        w.header = T_word;
        cell type = datatype::make_value(v.type());
        error::raise(error::cat_script, error::script_bad_field_set, &w, &type);
    }
    count = local_count(&v);
    return v.w2;
}

// Calls hook function [fn] of the object of context [ctx] in a frame named by [name], with
// the [n] arguments [args] and [count] local slots (the /local refinement and its words).
// Slots the spec has beyond those are filled with none, so that no stale cell is read. The
// stack top is restored, unless a non-local exit has already cut the stacks back.
void run_hook(const cell& fn, node_id ctx, const cell& name, const cell* args, uint32_t n,
              uint32_t count) {
    cell* saved = es.top;
    stack::push(&fn); // keeps the hook alive while it runs, whatever it assigns
    stack::mark_func_context(&name, fn.w1);
    for (uint32_t i = 0; i < n; i++) stack::push(&args[i]);
    if (count > 0) function::push_unused_refinement(static_cast<int32_t>(count));
    uint32_t slots = context::word_count(fn.w1);
    for (uint32_t i = n + count; i < slots; i++) stack::push(&none_value);
    interp::exec_function(&fn, ctx, &name);
    if (es.throw_code != THROW_NONE) return;
    stack::unwind_func();
    es.top = saved;
}

// The call point of context assignments (set-words, set, ...).
void on_assignment(const cell* owner, const cell* word, const cell* old, cell* slot) {
    fire_on_change(owner, word, old, slot);
}

} // namespace

namespace detail {

void install_change_hook() { context::fire_on_change = &on_assignment; }

bool known_q(uint32_t symbol) {
    return symbol != 0 && symbol::table.entries != 0 && symbol <= symbol::count();
}

bool is_hook_word(const cell* w) {
    const cell& a = words::loaded.on_change_s;
    const cell& b = words::loaded.on_deep_change_s;
    if (!known_q(a.w2) || !known_q(b.w2)) return false;
    uint32_t s = symbol::resolve(w->w2);
    return s == symbol::resolve(a.w2) || s == symbol::resolve(b.w2);
}

} // namespace detail

// }==
// {== The on-set record

node_id make_hook_pair(node_id spec1, node_id spec2, uint32_t index1, uint32_t count1,
                       uint32_t index2, uint32_t count2) {
    node_id record = series::alloc_cells(2);
    series_buffer* b = memory::buffer_of(record);
    auto* c = reinterpret_cast<cell*>(b->head);
    c[ON_CHANGE] = record_value(index1, count1, spec1);
    c[ON_DEEP_CHANGE] = record_value(index2, count2, spec2);
    b->tail = b->head + 2 * sizeof(cell);
    return record;
}

node_id make_hooks(node_id ctx) {
    uint32_t i1 = hook_field(ctx, words::loaded.on_change_s);
    uint32_t i2 = hook_field(ctx, words::loaded.on_deep_change_s);
    if (i1 == NO_HOOK && i2 == NO_HOOK) return 0;
    uint32_t c1, c2;
    node_id s1 = checked_hook_spec(ctx, i1, c1);
    node_id s2 = checked_hook_spec(ctx, i2, c2);
    return make_hook_pair(s1, s2, i1, c1, i2, c2);
}

void init_hooks(uint32_t index1, uint32_t count1, uint32_t index2, uint32_t count2) {
    node_id ctx = stack::top()->w1;
    auto spec_at = [ctx](uint32_t i) {
        if (i == NO_HOOK) return node_id{0};
        const cell* v = context::value_at(ctx, i);
        return is_callable(v->type()) ? v->w2 : node_id{0};
    };
    node_id record =
        make_hook_pair(spec_at(index1), spec_at(index2), index1, count1, index2, count2);
    cell* obj = stack::top(); // the stack never moves
    obj->w3 = record;
    store_owner(obj);
    if (has_on_deep_change_q(obj)) owner::set_owned(obj, obj, &none_value);
}

void attach_hooks(cell* obj) {
    obj->w3 = make_hooks(obj->w1);
    store_owner(obj);
    if (has_on_deep_change_q(obj)) owner::set_owned(obj, obj, &none_value);
}

bool has_on_deep_change_q(const cell* obj) {
    return obj->w3 != 0 && record_cell(obj->w3, ON_DEEP_CHANGE)->w2 < HOOK_MISSING;
}

// }==
// {== Firing

void fire_on_change(const cell* owner, const cell* word, const cell* old, const cell* new_value) {
    cell args[3] = {*word, *old, *new_value};
    cell o = *owner;
    if (o.w3 == 0) return;
    uint32_t index = hook_index(o.w3, ON_CHANGE);
    if (index == NO_HOOK || index >= context::word_count(o.w1)) return;
    cell fn = *context::value_at(o.w1, index);
    if (fn.type() != T_function)
        error::raise(error::cat_script, error::script_invalid_obj_evt, &fn);
    uint32_t count = refresh_count(o.w3, ON_CHANGE, &fn);
    if (args[0].w1 != o.w1) context::bind_word(o.w1, &args[0]);
    run_hook(fn, o.w1, words::loaded.on_change_s, args, 3, count);
}

void fire_on_change_top(const cell* obj, const cell* word) {
    if (!is_object_type(obj->type()) || obj->w3 == 0) return;
    cell old = *stack::top();
    cell now = *(stack::top() - 1);
    fire_on_change(obj, word, &old, &now);
}

void fire_on_change_word(const cell* holder, const cell* word) {
    cell obj = *word::get_value(holder);
    fire_on_change_top(&obj, word);
}

void fire_on_change_owner(node_id ctx, const cell* word) {
    cell obj = *context::owner_of(ctx);
    fire_on_change_top(&obj, word);
}

void fire_on_deep_change(const cell* owner, const cell* word, const cell* target,
                         const cell* action, const cell* new_value, int32_t index, int32_t part) {
    cell o = *owner;
    if (!is_object_type(o.type()) || o.w3 == 0)
        error::raise(error::cat_script, error::script_invalid_obj_evt, &o);
    cell args[7] = {o,
                    *word,
                    *target,
                    *action,
                    new_value ? *new_value : none_value,
                    integer::make_value(index),
                    integer::make_value(part)};
    uint32_t slot = hook_index(o.w3, ON_DEEP_CHANGE);
    if (slot == NO_HOOK || slot >= context::word_count(o.w1)) return;
    cell fn = *context::value_at(o.w1, slot);
    if (fn.type() != T_function) return;
    uint32_t count = refresh_count(o.w3, ON_DEEP_CHANGE, &fn);
    run_hook(fn, o.w1, words::loaded.on_deep_change_s, args, 7, count);
}

// }==

} // namespace zyl::object
