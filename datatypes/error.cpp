// datatypes/error.cpp: error!: making errors from codes, names, set-word blocks and strings,
// their fields, path access, comparison, mold and the registration. The report (form) is in
// datatypes/error_form.cpp, the catalogue and prototype in datatypes/error_system.cpp.
#include "datatypes/error.h"
#include "datatypes/error_internal.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "eval/stack_trace.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::error {

// {== Internal functions

namespace detail {

cell entry_word(node_id ctx, uint32_t index) {
    cell w = *context::word_at(ctx, index);
    w.header = T_word;
    return w;
}

int32_t find_category(uint32_t symbol) {
    int32_t i = context::find_word(sys.errors.w1, symbol, true);
    if (i < 0 || !is_object_like(context::value_at(sys.errors.w1, static_cast<uint32_t>(i)))) return -1;
    return i;
}

int32_t find_message(int32_t cat, uint32_t symbol) {
    int32_t m = context::find_word(category_context(cat), symbol, true);
    return m >= ids::first_message ? m : -1;
}

bool has_message(int32_t cat, int32_t m) {
    node_id cats = sys.errors.w1;
    return cat >= 0 && cat < static_cast<int32_t>(context::word_count(cats)) &&
           is_object_like(context::value_at(cats, static_cast<uint32_t>(cat))) &&
           m >= ids::first_message && m < static_cast<int32_t>(context::word_count(category_context(cat)));
}

void set_names(const cell* err, int32_t cat, int32_t m) {
    node_id cats = sys.errors.w1;
    *field(err, F_TYPE) = entry_word(cats, static_cast<uint32_t>(cat));
    *field(err, F_ID) = entry_word(category_context(cat), static_cast<uint32_t>(m));
    *field(err, F_CODE) = integer::make_value(cat * 100 + m - ids::first_message);
}

void write(cell* out, std::string_view text, int32_t& part) {
    string::concatenate_literal(out, text);
    part -= static_cast<int32_t>(text.size());
}

void indent_by(cell* out, int32_t levels, int32_t& part) {
    for (int32_t i = 0; i < levels; i++) write(out, "    ", part);
}

cell state_field(uint32_t f) {
    if (!sys.state || context::word_count(sys.state) <= f) return none_value;
    return *context::value_at(sys.state, f);
}

} // namespace detail

using namespace detail;

namespace {

// Pushes a copy of the prototype as an error!: class id 1, no on-set record.
cell* push_new_error() {
    cell* err = stack::push(&sys.prototype);
    node_id proto = sys.prototype.w1;
    node_id ctx = context::clone(err, context::KIND_OBJECT);
    ZYL_ASSERT(context::word_count(ctx) >= FIELD_COUNT);
    for (uint32_t i = 0; i < context::word_count(proto); i++)
        *context::value_at(ctx, i) = *context::value_at(proto, i);
    *err = cell{T_error, ctx, CLASS_ID, 0};
    *context::owner_of(ctx) = *err;
    return err;
}

// near := the interpreter's current position, once the interpreter exists.
void set_near(const cell* err) {
    if (interp::is.position) *field(err, F_NEAR) = interp::current_position();
}

[[noreturn]] void raise_spec_field(const cell* err, uint32_t f) {
    cell w = entry_word(err->w1, f);
    raise(cat_script, script_invalid_spec_field, &w);
}

// The code path of make: category n / 100, message n mod 100.
void from_code(const cell* err, int32_t n) {
    int32_t cat = n / 100, m = n % 100 + ids::first_message;
    if (n < 0 || !has_message(cat, m)) {
        cell code = integer::make_value(n);
        raise(cat_script, script_out_of_range, &code);
    }
    set_names(err, cat, m);
}

// Cell [k] from the index of block [blk] (which has more than [k] cells from its index).
inline cell cell_at(const cell* blk, uint32_t k) { return block::cells_of(blk->w2)[blk->w1 + k]; }

// The [category id] path of make: both words are looked up in the catalogue.
void from_names(const cell* err, const cell* blk) {
    cell first = cell_at(blk, 0);
    int32_t cat = find_category(first.w2);
    if (cat < 0) raise_spec_field(err, F_TYPE);
    *field(err, F_TYPE) = first;
    if (block::rs_length_q(blk) < 2) raise_spec_field(err, F_ID);
    cell second = cell_at(blk, 1);
    if (second.type() != T_word) raise(cat_script, script_invalid_arg, &second);
    int32_t m = find_message(cat, second.w2);
    if (m < 0) raise_spec_field(err, F_ID);
    *field(err, F_ID) = second;
    *field(err, F_CODE) = integer::make_value(cat * 100 + m - ids::first_message);
}

// The set-word path of make: the block is bound to the error and evaluated; then type and
// id must name a catalogue entry.
void from_set_words(const cell* err, const cell* blk) {
    cell* saved = es.top;
    context::bind(blk, err->w1, false);
    interp::eval_block(blk, false);
    es.top = saved;
    if (es.throw_code != THROW_NONE) return; // break, return, throw ...: the caller goes on with it
    cell type = *field(err, F_TYPE);
    int32_t cat = type.type() == T_word ? find_category(type.w2) : -1;
    if (cat < 0) raise_spec_field(err, F_TYPE);
    cell id = *field(err, F_ID);
    int32_t m = id.type() == T_word ? find_message(cat, id.w2) : -1;
    if (m < 0) raise_spec_field(err, F_ID);
    *field(err, F_CODE) = integer::make_value(cat * 100 + m - ids::first_message);
}

void from_block(const cell* err, const cell* blk) {
    uint8_t first = block::rs_length_q(blk) ? cell_at(blk, 0).type() : 0;
    if (first == T_word) return from_names(err, blk);
    if (first == T_set_word) return from_set_words(err, blk);
    raise(cat_internal, internal_invalid_error);
}

// The value of [word] in its context when it can be read without raising: a plain or
// object context, or a function context that runs; else null. Valid until the next allocation.
const cell* value_if_readable(const cell* word) {
    node_id ctx = word->w1;
    if (ctx == 0) return nullptr;
    int32_t index = context::find_word(ctx, word->w2, true);
    if (index < 0) return nullptr;
    const cell* c = context::cell_of(ctx);
    if (!(c->header & CTX_STACK_VALUES)) return context::value_at(ctx, static_cast<uint32_t>(index));
    return c->w2 ? es.bottom + (c->w2 - 1) + index : nullptr;
}

bool is_callable(uint8_t t) {
    return t == T_native || t == T_action || t == T_op || t == T_function || t == T_routine;
}

// "word: value" for each field: after a line break and the indentation of [indent] levels,
// each followed by a line break; with [only] separated by line breaks; [flat] by spaces.
int32_t mold_fields(const cell* value, cell* out, bool only, bool all, bool flat, const cell* arg,
                    int32_t part, int32_t indent) {
    node_id ctx = value->w1;
    if (!only && !flat) write(out, "\n", part);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        if (arg && part <= 0) break;
        if (i > 0 && (only || flat)) write(out, flat ? " " : "\n", part);
        if (!only && !flat) indent_by(out, indent, part);
        cell w = entry_word(ctx, i);
        part = actions::mold_typed(&w, out, false, all, flat, arg, part, indent);
        write(out, ": ", part);
        cell v = *context::value_at(ctx, i);
        if (v.type() == 0) v.header = T_unset;
        if (v.type() == T_word) write(out, "'", part);
        part = actions::mold_typed(&v, out, false, all, flat, arg, part, indent);
        if (!only && !flat) write(out, "\n", part);
    }
    return part;
}

} // namespace

// }==
// {== Fields

cell* field(const cell* err, uint32_t f) { return context::value_at(err->w1, f); }

uint32_t type_of(const cell* err) {
    const cell* w = field(err, F_TYPE);
    return word::any_word_type_q(w->type()) ? w->w2 : 0;
}

uint32_t id_of(const cell* err) {
    const cell* w = field(err, F_ID);
    return word::any_word_type_q(w->type()) ? w->w2 : 0;
}

void set_where(const cell* err, const cell* value) {
    cell* where = field(err, F_WHERE);
    if (where->type() == T_none) *where = *value;
}

int32_t category_number(const cell* err) {
    uint32_t t = type_of(err);
    int32_t cat = t && ready() ? find_category(t) : -1;
    if (cat < 0 || !id_of(err) || find_message(cat, id_of(err)) < 0) return cat_internal;
    return cat;
}

int32_t message_number(const cell* err) {
    uint32_t t = type_of(err);
    int32_t cat = t && ready() ? find_category(t) : -1;
    int32_t m = cat >= 0 && id_of(err) ? find_message(cat, id_of(err)) : -1;
    return m < 0 ? internal_invalid_error : m;
}

cell arg_word_at(int32_t n) {
    cell call = stack::get_call();
    if (call.type() != T_word) return none_value;
    const cell* v = value_if_readable(&call);
    if (!v || !is_callable(v->type())) return none_value;
    node_id spec = v->w2;
    int32_t count = 0;
    for (uint64_t i = 0; i < series::length(spec); i++) {
        const cell* c = block::cells_of(spec) + i;
        uint8_t t = c->type();
        if (t != T_word && t != T_lit_word && t != T_get_word && t != T_refinement) continue;
        if (count++ == n) return *c;
    }
    return none_value;
}

void fill_stack(const cell* value) {
    if (value->type() != T_error || is_bare(value)) return;
    cell err = *value;
    collector::keep k_err{&err};
    cell marker = *field(&err, F_STACK);
    if (marker.type() != T_integer) return;
    cell trace = state_field(STATE_STACK_TRACE);
    int32_t level = trace.type() == T_integer && integer::get(&trace) > 0 ? integer::get(&trace) : 1;
    cell blk = *block::push_new(20);
    *field(&err, F_STACK) = blk;
    stack::pop(1);
    stack::trace_words(level, &blk, integer::get(&marker));
    cell files = state_field(STATE_SOURCE_FILES);
    if (files.type() != T_block || block::rs_tail_q(&files)) return;
    collector::keep k_files{&files};
    cell* copy = block::clone(&files, static_cast<uint32_t>(series::length(files.w2)), false, false);
    *field(&err, F_FILES) = *copy;
    stack::pop(1);
}

// }==
// {== Making

cell* create_by_index(int32_t cat, int32_t id, const cell* a1, const cell* a2, const cell* a3) {
    cell args[3] = {a1 ? *a1 : none_value, a2 ? *a2 : none_value, a3 ? *a3 : none_value};
    collector::keep k_arg1{&args[0]}, k_arg2{&args[1]}, k_arg3{&args[2]};
    ZYL_ASSERT(ready());
    cell* err = push_new_error();
    if (has_message(cat, id)) {
        set_names(err, cat, id);
    } else {
        args[0] = integer::make_value(cat * 100 + id - ids::first_message);
        if (has_message(cat_internal, internal_invalid_error)) set_names(err, cat_internal, internal_invalid_error);
    }
    for (uint32_t i = 0; i < 3; i++) *field(err, F_ARG1 + i) = args[i];
    set_near(err);
    return err;
}

cell* create(const cell* cat, const cell* id, const cell* a1, const cell* a2, const cell* a3) {
    cell args[3] = {a1 ? *a1 : none_value, a2 ? *a2 : none_value, a3 ? *a3 : none_value};
    collector::keep k_arg1{&args[0]}, k_arg2{&args[1]}, k_arg3{&args[2]};
    cell names[2] = {*cat, *id};
    collector::keep k_cat{&names[0]}, k_id{&names[1]};
    cell* blk = block::push_new(2);
    series::append_value(blk->w2, names[0]);
    series::append_value(blk->w2, names[1]);
    cell datatype = datatype::make_value(T_error);
    cell* err = stack::push(&datatype);
    make(err, blk, T_error);
    for (uint32_t i = 0; i < 3; i++)
        if (args[i].type() != T_none) *field(err, F_ARG1 + i) = args[i];
    *blk = *err; // the error takes the block's place on the stack
    stack::pop(1);
    return blk;
}

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t) {
    cell s = *spec;
    collector::keep k_spec{&s};
    if (!ready()) raise(cat_internal, internal_invalid_error, &s);
    cell* saved = es.top;
    cell* err = nullptr;
    switch (s.type()) {
    case T_integer:
        err = push_new_error();
        from_code(err, integer::get(&s));
        break;
    case T_block:
        err = push_new_error();
        from_block(err, &s);
        break;
    case T_string:
        err = create_by_index(cat_user, user_message, &s, nullptr, nullptr);
        break;
    default: {
        cell datatype = datatype::make_value(T_error);
        raise_bad_make_arg(&datatype, &s);
    }
    }
    if (es.throw_code != THROW_NONE) { // the set-word block ended by a non-local exit
        es.top = saved;
        return proto;
    }
    if (s.type() != T_string) set_near(err);
    *proto = *err;
    es.top = saved;
    return proto;
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent) {
    if (is_bare(value) || cycles::find(value->w1)) { // a bare error has no fields to show
        write(buffer, "...", part);
        return part;
    }
    cell err = *value;
    cycles::entry walking(err.w1);
    if (!only) write(buffer, "make error! [", part);
    part = mold_fields(&err, buffer, only, all, flat, arg, part, indent + 1);
    if (indent > 0 && !flat) indent_by(buffer, indent, part);
    if (!only) write(buffer, "]", part);
    return part;
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    if (is_bare(value)) {
        cell path = step.path ? *step.path : none_value;
        raise(cat_script, script_invalid_path, &path, element);
    }
    return object::eval_path(value, element, set, step);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_error) return -2;
    if (is_bare(a) || is_bare(b)) return a->w1 == b->w1 ? 0 : -1;
    return object::compare(a, b, op);
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_reflect - 1] = ZYL_INHERIT;
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = entry(&compare);
    e[A_copy - 1] = ZYL_INHERIT;
    e[A_find - 1] = ZYL_INHERIT;
    e[A_select - 1] = ZYL_INHERIT;
    datatype::register_type(ACTION_SLOTS + 3, T_error, T_object, "error!", e);
}

// }==

} // namespace zyl::error
