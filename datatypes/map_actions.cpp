// datatypes/map_actions.cpp: map!'s action entries (make, to, reflect, form, mold, paths,
// compare, clear, copy, find, length?, put, remove, select) and its registration. Keys, put
// and look-up are in datatypes/map.cpp.
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::map {

namespace detail {
void set_hooks();
}

// {== Internal functions

namespace {

inline cell* cells_of(node_id n) { return block::cells_of(n); }
inline uint32_t total_of(node_id n) { return static_cast<uint32_t>(series::length(n)); }
inline uint32_t first_of(const cell* m) { return std::min(m->w1, total_of(m->w2)); }

// A key as find and reflect give it back: a set-word! key as word!.
cell shown_key(const cell* k) {
    cell c = *k;
    if (c.type() == T_set_word) cells::set_type(&c, T_word);
    return c;
}

// The look-up operator of the refinements: /same, /case, else without regard to case.
inline int32_t op_of(bool case_, bool same) { return same ? 9 : case_ ? 2 : 0; }

void write(const cell* out, std::string_view text, int32_t& part) {
    string::concatenate_literal(out, text);
    part -= static_cast<int32_t>(text.size());
}

inline bool names(const cell* field, uint32_t s) {
    return object::detail::known_q(s) && word::any_word_type_q(field->type()) &&
           symbol::resolve(field->w2) == symbol::resolve(s);
}

// A new block on the stack of the live keys ([keys]), values, or both with each key on a new
// line ([body]).
cell* push_reflected(const cell* m, bool keys, bool values) {
    cell src = *m;
    uint32_t live = size(&src);
    cell* out = block::push_new(static_cast<int32_t>(std::max<uint32_t>(live, 1) * (keys && values ? 2 : 1)));
    for (uint32_t p = first_of(&src); p + 1 < total_of(src.w2); p += 2) {
        cell k = cells_of(src.w2)[p], v = cells_of(src.w2)[p + 1];
        if (v.header == 0) continue;
        if (keys && values) {
            k.header |= CELL_NEW_LINE;
            series::append_value(out->w2, k);
        } else if (keys) {
            series::append_value(out->w2, shown_key(&k));
        }
        if (values) series::append_value(out->w2, v);
    }
    return out;
}

// Form and mold: the live pairs, key and value molded, one pair a line (a space between them
// with /flat); mold frames them in #[ ] and indents them one level deeper.
int32_t serialize(const cell* value, cell* buffer, bool mold, bool only, bool all, bool flat, const cell* arg,
                  int32_t part, int32_t indent) {
    cell m = *value;
    if (cycles::form_marker(&m, buffer, part, mold)) return part;
    cycles::entry walking(m.w2);
    bool framed = mold && !only, indented = framed && !flat;
    if (framed) write(buffer, "#[", part);
    bool first = true;
    for (uint32_t p = first_of(&m); p + 1 < total_of(m.w2); p += 2) {
        if (cells_of(m.w2)[p + 1].header == 0) continue;
        if (arg && part <= 0) break;
        if (first && indented) write(buffer, "\n", part);
        if (!first && !indented) write(buffer, flat ? " " : "\n", part); // between live pairs only
        if (indented) part = string::append_indent(buffer, indent + 1, part);
        cell k = cells_of(m.w2)[p], v = cells_of(m.w2)[p + 1]; // held by the map
        // "%:" and "%%:" would load back as files: those keys go out as plain words, which
        // load back as the same keys.
        if (k.type() == T_set_word && symbol::c_name(k.w2)[0] == '%') cells::set_type(&k, T_word);
        part = actions::mold_typed(&k, buffer, false, all, flat, arg, part, indent + 1);
        write(buffer, " ", part);
        part = actions::mold_typed(&v, buffer, false, all, flat, arg, part, indent + 1);
        if (indented) write(buffer, "\n", part);
        first = false;
    }
    if (indented && !first && indent >= 1) part = string::append_indent(buffer, indent, part);
    if (framed) write(buffer, "]", part);
    return part;
}

// Whether every live pair of [a] has its key in [b] (strictly under op 2, else without regard
// to case, trying every candidate) with an equal value.
bool pairs_in(const cell* a, const cell* b, int32_t op) {
    int32_t value_op = op == 1 ? 0 : op;
    for (uint32_t p = first_of(a); p + 1 < total_of(a->w2); p += 2) {
        cell k = cells_of(a->w2)[p], v = cells_of(a->w2)[p + 1];
        if (v.header == 0) continue;
        bool matched = false;
        if (op == 2) {
            cell* w = get(b, &k, 2);
            matched = w && actions::compare_typed(&v, w, 2) == 0;
        } else {
            int32_t bucket = -1, step = 0;
            while (cell* c = hashtable::get_next(b->w3, &k, bucket, step)) {
                if (c[1].header == 0) continue;
                cell w = c[1];
                if (actions::compare_typed(&v, &w, value_op) == 0) {
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) return false;
    }
    return true;
}

// The equality core of compare: 0 when equal, 1 (or -1 for a map met again) when not.
int32_t equal_q(const cell* a, const cell* b, int32_t op) {
    if (a->w2 == b->w2 && a->w1 == b->w1) return 0;
    if (op == 9) return -1;
    if (cycles::find(a->w2)) return cycles::find(b->w2) ? 0 : -1;
    uint32_t na = size(a), nb = size(b);
    if (na != nb) return 1;
    if (na == 0) return 0;
    cycles::entry walking_a(a->w2);
    cycles::entry walking_b(b->w2);
    return pairs_in(a, b, op) ? 0 : 1;
}

// make and to: [to] refuses a capacity.
cell* make_map(cell* proto, cell* spec, bool to) {
    uint8_t st = spec->type();
    if (st == T_block || st == T_paren || st == T_hash) {
        if (block::rs_length_q(spec) % 2 != 0) error::raise(error::cat_script, error::script_invalid_arg, spec);
        cell* pairs = block::clone(spec, UINT32_MAX, false, false);
        for (uint32_t i = 0; i < total_of(pairs->w2); i++) cells::clear_new_line(cells_of(pairs->w2) + i);
        make_at(proto, pairs, 0);
        stack::pop(1);
        return proto;
    }
    if ((st == T_integer || st == T_float_) && !to) {
        int32_t n = value::to_int_checked(spec);
        if (n < 0) error::raise(error::cat_script, error::script_out_of_range, spec);
        return make_at(proto, nullptr, n == 0 ? 2u : 2u * static_cast<uint32_t>(n));
    }
    if (st == T_map) {
        *proto = *spec;
        return actions::copy_typed(proto, nullptr, false, nullptr);
    }
    cell dt = datatype::make_value(T_map);
    error::raise(error::cat_script, error::script_bad_to_arg, &dt, spec);
}

} // namespace

// }==
// {== Action entries

namespace {

cell* make(cell* proto, cell* spec, uint8_t) { return make_map(proto, spec, false); }
cell* to(cell* proto, cell* spec, uint8_t) { return make_map(proto, spec, true); }

cell* reflect(cell* value, const cell* field) {
    cell* out;
    if (names(field, words::sym.words)) {
        out = push_reflected(value, true, false);
    } else if (names(field, words::sym.values)) {
        out = push_reflected(value, false, true);
    } else if (names(field, words::sym.body)) {
        out = push_reflected(value, true, true);
    } else {
        error::raise(error::cat_internal, error::internal_not_done);
    }
    *value = *out;
    stack::pop(1);
    return value;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return serialize(value, buffer, false, false, false, false, arg, part, 0);
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    return serialize(value, buffer, true, only, all, flat, arg, part, indent);
}

cell* eval_path(cell* value, const cell* element, const cell* set_to, const actions::path_step& step) {
    cell key = *element; // the path's buffer may move
    if (set_to) {
        cell v = *set_to;
        set(value, &key, &v, step.case_sensitive, step.path);
        return &(*value = v);
    }
    cell* v = get(value, &key, step.case_sensitive ? 2 : 0);
    return &(*value = v ? *v : none_value);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_map) return -2;
    if (op == 7 || op == 8) return a->w2 < b->w2 ? -1 : a->w2 > b->w2 ? 1 : 0; // arbitrary but stable
    if (!is_equality_op(op) && op != 10 && op != 11) return -2;
    return equal_q(a, b, op);
}

cell* clear(cell* series) {
    hashtable::clear(series->w3);
    return series;
}

// A copy of the pair block, removed pairs included, so that a copy of the table indexes it.
cell* copy(cell* series, const cell*, bool deep, const cell*) {
    cell m = *series;
    cell whole{T_block, 0, m.w2, 0};
    cell* pairs = block::clone(&whole, UINT32_MAX, false, false);
    if (deep) {
        cycles::entry walking(m.w2);
        block::detail::deep_copy_cells(pairs->w2, 0, total_of(pairs->w2), nullptr);
    }
    node_id t = hashtable::copy(m.w3, pairs->w2);
    *series = cell{T_map, m.w1, pairs->w2, t};
    stack::pop(1);
    return series;
}

cell* find(cell* series, cell* value, const cell*, bool, bool case_, bool same, bool, const cell*, const cell*, bool,
           bool, bool, bool) {
    cell* v = get(series, value, op_of(case_, same));
    return &(*series = v ? shown_key(v - 1) : none_value);
}

int32_t length_q(const cell* value) { return static_cast<int32_t>(size(value)); }

cell* put(cell* series, cell* key, cell* value, bool case_) {
    cell k = *key, v = *value;
    set(series, &k, &v, case_, nullptr);
    return &(*series = v);
}

// Removes what select finds: the key without regard to case.
cell* remove(cell* series, const cell*, const cell* key) {
    if (!key) error::raise(error::cat_script, error::script_missing_arg);
    cell* v = get(series, key, 0);
    if (v) hashtable::remove_entry(series->w3, v - 1);
    return series;
}

cell* select(cell* series, cell* value, const cell*, bool, bool case_, bool same, bool, const cell*, const cell*,
             bool, bool) {
    cell* v = get(series, value, op_of(case_, same));
    return &(*series = v ? *v : none_value);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        nullptr,               // random
        entry(&reflect),       // reflect
        entry(&to),            // to
        entry(&form),          // form
        entry(&mold),          // mold
        entry(&eval_path),     // eval-path
        nullptr,               // set-path
        entry(&compare),       // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        nullptr,               // append
        nullptr, nullptr,      // at back
        nullptr,               // change
        entry(&clear),         // clear
        entry(&copy),          // copy
        entry(&find),          // find
        nullptr, nullptr, nullptr, // head head? index?
        nullptr,               // insert
        entry(&length_q),      // length?
        nullptr, nullptr, nullptr, nullptr, // move next pick poke
        entry(&put),           // put
        entry(&remove),        // remove
        nullptr,               // reverse
        entry(&select),        // select
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // sort skip swap tail tail? take trim
        nullptr, nullptr, nullptr, // create close delete
        nullptr,               // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_map, 0, "map!", entries);
    detail::set_hooks();
}

// }==

} // namespace zyl::map
