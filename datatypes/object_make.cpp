// datatypes/object_make.cpp: object! construction: make from a block or an object, copies
// (methods re-made for the copy), construct, and set on an object. Layouts are in
// datatypes/object.h.
#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::object {

// {== Internal functions

namespace {

// The types a deep copy of an object copies: the block, string and path families.
bool is_copied_deep(uint8_t t) {
    return (t >= T_block && t <= T_url) || (t >= T_path && t <= T_get_path) || t == T_tag ||
           t == T_email || t == T_ref;
}

// The types a prototype's series copy takes: those and vector!, binary!, image!.
inline bool is_copied_proto(uint8_t t) {
    return is_copied_deep(t) || t == T_vector || t == T_binary || t == T_image;
}

// Replaces value [index] of [ctx] by its shallow copy, through its type's copy action (a type
// without one keeps the value); answers the value now in the slot.
cell copy_value_at(node_id ctx, uint32_t index) {
    cell* v = stack::push(context::value_at(ctx, index)); // rooted while the copy is made
    if (datatype::action(v->type(), A_copy)) {
        uint32_t flags = v->header & ~CELL_TYPE_MASK;
        cell c = *actions::copy_typed(v, nullptr, false, nullptr);
        c.header = (c.header & CELL_TYPE_MASK) | flags;
        *context::value_at(ctx, index) = c; // re-derived: the copy may have moved the values
    }
    stack::pop(1);
    return *context::value_at(ctx, index);
}

// Copies the series values of [ctx] that [copied] selects and re-makes its functions.
void refresh_values(node_id ctx, bool (*copied)(uint8_t), bool bind_blocks) {
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        uint8_t t = context::value_at(ctx, i)->type();
        if (t == T_function) {
            rebind_function(ctx, i);
        } else if (copied(t)) {
            cell c = copy_value_at(ctx, i);
            if (bind_blocks && series::is_any_block(c.type())) context::bind(&c, ctx, true);
        }
    }
}

// Whether [w] is one of the words [name]s: the canonical symbols of predefined names.
inline bool is_symbol(const cell* w, uint32_t name) {
    return detail::known_q(name) && symbol::resolve(w->w2) == symbol::resolve(name);
}

// The value a construct spec gives to the set-words before [v]: the logic words and none
// stand for their values unless [only].
cell construct_value(const cell& v, bool only) {
    if (only || v.type() != T_word) return v;
    if (is_symbol(&v, words::sym.true_) || is_symbol(&v, words::sym.yes) ||
        is_symbol(&v, words::sym.on))
        return true_value;
    if (is_symbol(&v, words::sym.false_) || is_symbol(&v, words::sym.no) ||
        is_symbol(&v, words::sym.off))
        return false_value;
    if (is_symbol(&v, words::sym.none)) return none_value;
    return v;
}

// The set-words of block [spec] from its index: room enough for the fields a spec makes, so
// that the context neither grows nor keeps spare cells.
uint32_t set_word_count(const cell* spec) {
    uint32_t n = 0;
    const cell* v = block::cells_of(spec->w2);
    for (uint32_t i = spec->w1, len = static_cast<uint32_t>(series::length(spec->w2)); i < len; i++)
        n += v[i].type() == T_set_word;
    return n;
}

[[noreturn]] void raise_no_cycle() {
    cycles::reset();
    error::raise(error::cat_internal, error::internal_no_cycle);
}

// Stores [v] into field [i] of [obj] with its changed-mark; an object with hooks sees the
// assignment through on-change*, unless the field is a hook itself.
void assign_field(const cell& obj, uint32_t i, const cell& v) {
    node_id ctx = obj.w1;
    cell* slot = context::value_at(ctx, i);
    cell old = *slot;
    *slot = v;
    cell* entry = context::word_at(ctx, i);
    entry->header |= WORD_CHANGED;
    cell w = *entry;
    w.header = T_word;
    if (obj.w3 == 0 || detail::is_hook_word(&w)) return;
    cell* saved = es.top;
    stack::push(&old); // rooted while the hook runs
    fire_on_change(&obj, &w, &old, &v);
    if (es.throw_code == THROW_NONE) es.top = saved;
}

// The source value of field [i] of [target] for set: the block's value in field order, or
// the source object's field of that name; null when there is none.
const cell* source_value(const cell& target, uint32_t i, const cell& src) {
    if (src.type() == T_block) {
        uint32_t at = src.w1 + i;
        return at < series::length(src.w2) ? block::cells_of(src.w2) + at : nullptr;
    }
    const cell* w = context::word_at(target.w1, i);
    int32_t j = context::find_word(src.w1, w->w2, true);
    return j < 0 ? nullptr : context::value_at(src.w1, static_cast<uint32_t>(j));
}

} // namespace

// }==
// {== Construction

void copy_into(const cell* source, cell* target, bool deep, const cell* types, bool rehook) {
    cell src = *source;
    collector::keep k_src{&src};
    node_id sctx = src.w1;
    if ((deep || types) && cycles::find(sctx)) raise_no_cycle();
    cell clone = src;
    node_id ctx = context::clone(&clone, context::KIND_OBJECT);
    uint32_t n = context::word_count(sctx);
    std::memcpy(context::value_at(ctx, 0), context::value_at(sctx, 0), n * sizeof(cell));
    *target = cell{src.header, ctx, src.w2, rehook ? 0 : src.w3};
    store_owner(target);
    {
        cycles::entry walking(sctx);
        if (types) {
            cell values{T_block, 0, context::cell_of(ctx)->w2, 0};
            block::copy_deep_of_types(&values, 0, n, types);
        } else if (deep) {
            for (uint32_t i = 0; i < n; i++)
                if (is_copied_deep(context::value_at(ctx, i)->type())) copy_value_at(ctx, i);
        }
    }
    for (uint32_t i = 0; i < n; i++)
        if (context::value_at(ctx, i)->type() == T_function) rebind_function(ctx, i);
    if (rehook) attach_hooks(target);
}

void rebind_function(node_id ctx, uint32_t index) {
    cell* old = stack::push(context::value_at(ctx, index)); // kept while the copy is made
    cell body = *function::series_cell(old, function::FN_BODY);
    if (body.type() != T_block) {
        cell f = *old;
        error::raise(error::cat_script, error::script_bad_func_def, &f);
    }
    cell fn = *old;
    node_id fctx = context::clone(&fn, context::KIND_FUNCTION);
    collector::keep_node k_fctx{&fctx};
    cell* copy = stack::push(function::series_cell(old, function::FN_BODY));
    copy->w1 = std::min(copy->w1, static_cast<uint32_t>(series::length(copy->w2)));
    // The object's fields first, then the function's own words, in the copy's one walk.
    context::copy_bound(copy, ctx, fctx);
    cell spec{T_block, 0, old->w2, 0};
    bool extra = function::series_cell(old, function::FN_EXTRA)->type() == T_integer;
    uint32_t flags = old->header & (FUNC_NO_TRACE | FUNC_TRACE | FUNC_LIBRARY);
    function::make_value(&spec, nullptr, fctx, -1, extra ? int64_t(ctx) : -1, flags);
    cell made = *stack::top();
    *function::series_cell(&made, function::FN_BODY) = *copy;
    *context::value_at(ctx, index) = made;
    stack::pop(3);
}

bool extend_from_object(cell* obj, const cell* spec) {
    cell sp = *spec;
    collector::keep k_spec{&sp};
    node_id ctx = obj->w1;
    uint32_t before = context::word_count(ctx);
    for (uint32_t i = 0; i < context::word_count(sp.w1); i++) {
        cell w = *context::word_at(sp.w1, i);
        cell v = *context::value_at(sp.w1, i);
        context::set_or_add(ctx, &w, &v);
    }
    bool added = context::word_count(ctx) > before;
    refresh_values(ctx, is_copied_proto, false);
    return added;
}

void copy_proto_series(const cell* obj) {
    node_id ctx = obj->w1;
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        if (!is_copied_proto(context::value_at(ctx, i)->type())) continue;
        cell c = copy_value_at(ctx, i);
        if (series::is_any_block(c.type())) context::bind(&c, ctx, true);
    }
}

void copy_matching_values(node_id target, node_id source) {
    collector::keep_node k_target{&target};
    collector::keep_node k_source{&source};
    for (uint32_t i = 0; i < context::word_count(source); i++) {
        int32_t j = context::find_word(target, context::word_at(source, i)->w2, true);
        if (j < 0) continue;
        *context::value_at(target, static_cast<uint32_t>(j)) = *context::value_at(source, i);
        if (is_copied_proto(context::value_at(target, static_cast<uint32_t>(j))->type()))
            copy_value_at(target, static_cast<uint32_t>(j));
    }
}

bool assign_set_words(node_id ctx, const cell* spec, bool only) {
    cell blk = *spec;
    collector::keep k_blk{&blk};
    collector::keep_node k_ctx{&ctx};
    uint32_t before = context::word_count(ctx);
    uint32_t i = blk.w1;
    while (i < series::length(blk.w2)) {
        if (block::cells_of(blk.w2)[i].type() != T_set_word) {
            i++;
            continue;
        }
        uint32_t j = i;
        while (j < series::length(blk.w2) && block::cells_of(blk.w2)[j].type() == T_set_word) j++;
        cell v = j < series::length(blk.w2) ? construct_value(block::cells_of(blk.w2)[j], only)
                                            : none_value;
        for (uint32_t k = i; k < j; k++) {
            cell w = block::cells_of(blk.w2)[k]; // re-read: adding a word may collect
            context::set_or_add(ctx, &w, &v);
        }
        i = j + 1;
    }
    return context::word_count(ctx) > before;
}

cell* push_new(const cell* spec, const cell* proto, bool only) {
    cell sp = *spec;
    cell p = proto ? *proto : none_value;
    collector::keep k_spec{&sp};
    collector::keep k_proto{&p};
    cell* result = stack::push_slot();
    if (is_object_type(p.type())) {
        copy_into(&p, result, false, nullptr, true);
    } else {
        make_at(result, sp.type() == T_block ? set_word_count(&sp) : DEFAULT_SLOTS);
        result->w2 = next_class_id();
        store_owner(result);
    }
    assign_set_words(result->w1, &sp, only);
    return result;
}

void set_from(const cell* target, const cell* source, bool any, bool only, bool some) {
    cell obj = *target, src = *source;
    collector::keep k_obj{&obj};
    collector::keep k_src{&src};
    uint32_t n = context::word_count(obj.w1);
    bool by_field = !only && (src.type() == T_block || is_object_type(src.type()));
    if (by_field && !some && !any) {
        for (uint32_t i = 0; i < n; i++) {
            const cell* v = source_value(obj, i, src);
            if (!v || v->type() != T_unset) continue;
            cell w = *context::word_at(obj.w1, i);
            w.header = T_word;
            error::raise(error::cat_script, error::script_need_value, &w);
        }
    }
    for (uint32_t i = 0; i < n; i++) {
        cell v = src;
        if (by_field) {
            const cell* found = source_value(obj, i, src);
            if (!found) {
                if (src.type() == T_block) break;
                continue;
            }
            v = *found;
        }
        if (some && v.type() == T_none) continue;
        assign_field(obj, i, v);
        if (es.throw_code != THROW_NONE) return;
    }
}

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t type) {
    cell* base = es.top;
    cell* sp = stack::push(spec);
    cell* result = stack::push_slot();
    bool has_proto = is_object_type(proto->type());
    uint32_t proto_class = has_proto ? proto->w2 : 0;
    if (has_proto) {
        copy_into(proto, result, true, nullptr, false);
    } else {
        make_at(result, sp->type() == T_block ? set_word_count(sp) : DEFAULT_SLOTS);
        cells::set_type(result, type);
    }
    bool added;
    if (is_object_type(sp->type())) {
        added = extend_from_object(result, sp);
    } else if (sp->type() == T_block) {
        added = context::collect_set_words(result->w1, sp);
        context::bind(sp, result->w1, true);
        if (has_proto) copy_proto_series(result);
        store_owner(result);
        interp::eval_block(sp, false);
        es.top = result + 1; // the body's value is not wanted
        clear_values_flag(result->w1);
        clear_owned_flags(context::cell_of(result->w1)->w2);
    } else {
        cell s = *sp;
        error::raise(error::cat_syntax, error::syntax_malconstruct, &s);
    }
    result->w2 = added || !has_proto ? next_class_id() : proto_class;
    attach_hooks(result);
    *proto = *result;
    es.top = base;
    return proto;
}

// }==

} // namespace zyl::object
