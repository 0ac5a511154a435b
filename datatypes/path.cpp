// datatypes/path.cpp: the path family: path!'s make, to, form, mold and copy, the variants'
// molds with their sigils, and the helpers that build paths. Invariants: datatypes/path.h.
#include "datatypes/path.h"

#include <algorithm>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::path {

// {== Internal functions

namespace {

// The capacity that number [spec] asks for: an integer as it is, a float! or percent!
// truncated toward zero; 0 and below give 1. A float with no 32-bit truncation raises
// script out-of-range.
int32_t capacity_of(const cell* spec) {
    if (spec->type() == T_integer) return std::max(static_cast<int32_t>(spec->w2), 1);
    double d = float_::get(spec);
    if (!(d > -2147483649.0 && d < 2147483648.0)) error::raise(error::cat_script, error::script_out_of_range, spec);
    return std::max(static_cast<int32_t>(d), 1);
}

inline void write_char(const cell* out, uint32_t c, int32_t& part) {
    string::append_char(out->w2, c);
    part--;
}

// Writes the elements of [value] from its index, "/" between two, each formed (or molded
// with the mold refinements) with what is left of [part]; stops once a given limit is used
// up. A path met again inside itself is written as its cycle marker.
int32_t walk(const cell* value, cell* buffer, bool mold, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    if (cycles::form_marker(value, buffer, part, mold)) return part;
    cell p = *value; // node and index are read from here: [value] may lie in a buffer that moves
    cycles::entry walking(p.w2);
    uint32_t from = p.w1;
    for (uint32_t i = from; i < series::length(p.w2); i++) {
        if (arg && part <= 0) break;
        if (i > from) write_char(buffer, '/', part);
        cell e = block::cells_of(p.w2)[i]; // held by the path while it is written
        part = mold ? actions::mold_typed(&e, buffer, false, all, flat, arg, part, indent)
                    : actions::form_typed(&e, buffer, arg, part);
    }
    return part;
}

// Sets [value]'s type to [type] and pushes a copy of it.
cell* push_as(cell* value, uint8_t type) {
    cells::set_type(value, type);
    return stack::push(value);
}

} // namespace

cell* make_at(cell* target, int32_t n) {
    block::make_at(target, std::max(n, 1));
    cells::set_type(target, T_path);
    return target;
}

cell* push(cell* value) { return push_as(value, T_path); }

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (series::is_any_block(st)) {
        block::to(proto, spec, type);
    } else if (st == T_integer || st == T_float_ || st == T_percent) {
        int32_t n = capacity_of(spec);
        block::make_at(proto, n);
    } else {
        cell dt = datatype::make_value(type);
        error::raise_bad_make_arg(&dt, spec);
    }
    cells::set_type(proto, type);
    return proto;
}

cell* to(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (st == T_object || st == T_typeset || st == T_map) {
        cell v = *spec; // [proto] may be [spec]'s neighbour on the stack
        cell* p = block::push_new(1);
        series::append_value(p->w2, v);
        *proto = cell{type, 0, p->w2, 0};
        stack::pop(1);
        return proto;
    }
    block::to(proto, spec, type);
    cells::set_type(proto, type);
    return proto;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return walk(value, buffer, false, false, false, arg, part, 0);
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    uint8_t t = value->type();
    cell v = *value; // writing the sigil may move the buffer [value] lies in
    if (t == T_lit_path) write_char(buffer, '\'', part);
    else if (t == T_get_path) write_char(buffer, ':', part);
    part = walk(&v, buffer, true, all, flat, arg, part, indent);
    if (t == T_set_path) write_char(buffer, ':', part);
    return part;
}

cell* copy(cell* series, const cell* part, bool deep, const cell* types) {
    uint8_t t = series->type();
    block::copy(series, part, deep, types);
    cells::set_type(series, t);
    return series;
}

// }==
// {== Registration

namespace {

// The slots a path! takes from block!; the variants take the same ones from path!, with
// make, to, form and copy.
constexpr uint8_t INHERITED[] = {
    A_reflect, A_eval_path, A_compare, A_append, A_at,     A_back,    A_change, A_clear, A_find,
    A_head,    A_head_q,    A_index_q, A_insert, A_length_q, A_move,  A_next,   A_pick,  A_poke,
    A_put,     A_remove,    A_reverse, A_select, A_skip,   A_swap,    A_tail,   A_tail_q, A_take,
    A_modify,
};

void register_variant(uint8_t type, const char* name) {
    action_fn e[ACTION_SLOTS] = {};
    for (uint8_t s : INHERITED) e[s - 1] = ZYL_INHERIT;
    for (uint8_t s : {A_make, A_to, A_form, A_copy}) e[s - 1] = ZYL_INHERIT;
    e[A_mold - 1] = datatype::entry(&mold);
    datatype::register_type(ACTION_SLOTS + 3, type, T_path, name, e);
}

} // namespace

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    for (uint8_t s : INHERITED) e[s - 1] = ZYL_INHERIT;
    e[A_make - 1] = entry(&make);
    e[A_to - 1] = entry(&to);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_copy - 1] = entry(&copy);
    datatype::register_type(ACTION_SLOTS + 3, T_path, T_block, "path!", e);
}

} // namespace zyl::path

namespace zyl::lit_path {
cell* push(cell* value) { return path::push_as(value, T_lit_path); }
void init() { path::register_variant(T_lit_path, "lit-path!"); }
} // namespace zyl::lit_path

namespace zyl::set_path {
cell* push(cell* value) { return path::push_as(value, T_set_path); }
void init() { path::register_variant(T_set_path, "set-path!"); }
} // namespace zyl::set_path

namespace zyl::get_path {
cell* push(cell* value) { return path::push_as(value, T_get_path); }
void init() { path::register_variant(T_get_path, "get-path!"); }
} // namespace zyl::get_path

// }==
