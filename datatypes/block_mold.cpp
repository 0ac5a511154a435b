// datatypes/block_mold.cpp: block! form, mold and compare (the recursive walks, guarded by the
// cycle stack), make, to and eval-path.
//
// Form and mold write into an output string and return what is left of the /part budget;
// every character written costs one. Both register the block on the cycle stack while they
// walk it, so that a block met again inside itself is written as its cycle marker.
#include <algorithm>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::block {

// {== Internal functions

namespace {

inline uint32_t total_of(const cell* blk) { return static_cast<uint32_t>(series::length(blk->w2)); }

// Appends [text] to [out] and charges it to [part].
void write(const cell* out, std::string_view text, int32_t& part) {
    string::concatenate_literal(out, text);
    part -= static_cast<int32_t>(text.size());
}

// A line feed, then four spaces per level of [indent].
void new_line(const cell* out, int32_t indent, int32_t& part) {
    write(out, "\n", part);
    for (int32_t i = 0; i < indent; i++) write(out, "    ", part);
}

// Whether the text in [out] ends with a tab, a line feed or a carriage return.
bool ends_with_break(const cell* out) {
    uint32_t len = string::rs_abs_length_q(out);
    if (len == 0) return false;
    uint32_t c = string::rs_abs_char_at(out, len - 1);
    return c == '\t' || c == '\n' || c == '\r';
}

inline bool is_word_kind(uint8_t t) { return t >= T_word && t <= T_issue; }
inline bool is_number(uint8_t t) { return t == T_integer || t == T_float_ || t == T_percent; }
// The operators that only ask for equality.
inline bool equality_only(int32_t op) { return op <= 2 || op >= 10; }

// One step of the walk of compare: cells of different kinds order by type id, the rest by
// their own comparison.
int32_t compare_step(const cell* x, const cell* y, int32_t op) {
    uint8_t tx = x->type(), ty = y->type();
    bool alike = tx == ty || (is_word_kind(tx) && is_word_kind(ty)) || (is_number(tx) && is_number(ty));
    if (!alike) return tx < ty ? -1 : 1;
    return compare_cells(x, y, op);
}

// Makes [out] a new block of [type] holding the cells of any-block [spec] from its index.
void copy_cells_as(cell* out, const cell* spec, uint8_t type) {
    uint32_t total = total_of(spec);
    uint32_t from = std::min(spec->w1, total);
    node_id n = series::copy_part(spec->w2, from, total - from);
    *out = cell{type, 0, n, 0};
}

// Makes [out] a new block of [type] holding the elements of vector! [spec].
void vector_elements_as(cell* out, const cell* spec, uint8_t type) {
    cell* v = stack::push(spec);
    uint32_t total = series::rs_abs_length_q(v);
    cell* blk = push_new(static_cast<int32_t>(total));
    for (uint32_t i = std::min(v->w1, total); i < total; i++) {
        cell e;
        series::element_at(v, i, &e);
        series::append_value(blk->w2, e);
    }
    *out = cell{type, 0, blk->w2, 0};
    stack::pop(2);
}

// Makes [out] the body of object! or map! [spec] as a block of [type].
void body_as(cell* out, const cell* spec, uint8_t type) {
    cell* body = detail::push_body(spec);
    *out = cell{type, 0, body->w2, 0};
    stack::pop(1);
}

} // namespace

namespace detail {

cell* push_body(const cell* v) {
    cell src = *v;
    cell* body = push_new(8);
    if (src.type() == T_map) {
        // Key and value cells in turn; a removed pair has a value header of 0.
        for (uint32_t i = 0; i + 1 < total_of(&src); i += 2) {
            const cell* pair = cells_of(src.w2) + i;
            if (pair[1].header == 0) continue;
            cell key = pair[0], value = pair[1];
            series::append_value(body->w2, key);
            series::append_value(body->w2, value);
        }
        return body;
    }
    // object!: the context's word list (its word table's data) beside its value series.
    node_id words = context::words_of(src.w1), values = context::cell_of(src.w1)->w2;
    for (uint32_t i = 0; i < series::length(words); i++) {
        cell word = cells_of(words)[i], value = cells_of(values)[i];
        cells::set_type(&word, T_set_word);
        series::append_value(body->w2, word);
        series::append_value(body->w2, value);
    }
    return body;
}

} // namespace detail

// }==
// {== Action entries

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    if (cycles::form_marker(value, buffer, part, false)) return part;
    cell b = *value; // the walk reads node and index from here: [value] may move
    cycles::entry walking(b.w2);
    uint32_t from = std::min(b.w1, total_of(&b));
    for (uint32_t i = from; i < total_of(&b); i++) {
        if (arg && part <= 0) break;
        if (i > from && !ends_with_break(buffer)) write(buffer, " ", part);
        cell e = cells_of(b.w2)[i]; // held by the block while it is formed
        part = actions::form_typed(&e, buffer, arg, part);
    }
    return part;
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    if (cycles::form_marker(value, buffer, part, true)) return part;
    cell b = *value;
    cycles::entry walking(b.w2);
    if (!only) write(buffer, "[", part);
    bool indented = false;
    uint32_t from = std::min(b.w1, total_of(&b));
    for (uint32_t i = from; i < total_of(&b); i++) {
        if (arg && part < 1) break;
        cell e = cells_of(b.w2)[i];
        bool first = i == from;
        if ((e.header & CELL_NEW_LINE) && !flat) {
            if (first && !only) {
                indent++;
                indented = true;
            }
            if (first && only) {
                for (int32_t k = 0; k < indent; k++) write(buffer, "    ", part);
            } else {
                new_line(buffer, indent, part);
            }
        } else if (!first) {
            write(buffer, " ", part);
        }
        part = actions::mold_typed(&e, buffer, false, all, flat, arg, part, indent);
    }
    if (indented) new_line(buffer, indent - 1, part);
    if (!only) write(buffer, "]", part);
    return part;
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t ta = a->type(), tb = b->type();
    if (ta != tb) {
        bool paths = (op == 10 || op == 11) && (ta == T_path || ta == T_lit_path) && (tb == T_path || tb == T_lit_path);
        if (!paths) return -2;
    }
    bool same = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == 9) return same ? 0 : -1;
    if (same) return 0;
    if (cycles::find(a->w2)) return cycles::find(b->w2) ? 0 : -1;
    uint32_t l1 = rs_length_q(a), l2 = rs_length_q(b);
    if (l1 != l2 && equality_only(op)) return 1;
    cell x = *a, y = *b;
    cycles::entry walking_a(x.w2);
    cycles::entry walking_b(y.w2);
    for (uint32_t i = 0, n = std::min(l1, l2); i < n; i++) {
        // Re-derived each step: a comparison may allocate.
        int32_t r = compare_step(cells_of(x.w2) + x.w1 + i, cells_of(y.w2) + y.w1 + i, op);
        if (r != 0) return r;
    }
    return (l1 > l2) - (l1 < l2);
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (series::is_any_block(st)) {
        copy_cells_as(proto, spec, type);
    } else if (st == T_integer || st == T_float_) {
        int32_t size = string::detail::int_of(spec);
        make_at(proto, std::max(size, 1));
        cells::set_type(proto, type);
    } else if (st == T_object || st == T_map) {
        body_as(proto, spec, type);
    } else if (st == T_vector) {
        vector_elements_as(proto, spec, type);
    } else {
        cell dt = datatype::make_value(type);
        error::raise_bad_make_arg(&dt, spec);
    }
    return proto;
}

cell* to(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (series::is_any_block(st)) {
        copy_cells_as(proto, spec, type);
    } else if (st == T_object || st == T_map) {
        body_as(proto, spec, type);
    } else if (st == T_vector) {
        vector_elements_as(proto, spec, type);
    } else if (st == T_typeset) {
        cell ts = *spec;
        typeset::to_block(&ts, proto);
        cells::set_type(proto, type);
    } else if (st == T_string) {
        cell text = *spec; // [proto] may be [spec]'s neighbour; the stack keeps the text
        lexer::scan_string(proto, &text, -1, lexer::options{});
        cells::set_type(proto, type);
    } else {
        cell v = *spec;
        cell* blk = push_new(1);
        series::append_value(blk->w2, v);
        *proto = cell{type, 0, blk->w2, 0};
        stack::pop(1);
    }
    return proto;
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    cell key = *element;
    if (key.type() == T_integer) {
        if (!set) return actions::pick_typed(value, &key);
        cell data = *set;
        actions::poke_typed(value, &key, &data);
        return &(*value = data);
    }
    if (!set) {
        if (key.type() == T_word && value->type() != T_hash)
            return &(*value = *select_word(value, &key, step.case_sensitive));
        return select(value, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    }
    cell data = *set;
    cell found = *value;
    find(&found, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    if (found.type() == T_none)
        error::raise(error::cat_script, error::script_bad_path_set, &key, step.path ? step.path : &none_value);
    cell two{T_integer, 0, 2, 0};
    actions::poke_typed(&found, &two, &data);
    return &(*value = data);
}

// }==

} // namespace zyl::block
