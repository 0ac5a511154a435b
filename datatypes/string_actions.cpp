// datatypes/string_actions.cpp: string! make, to, form, compare, eval-path, swap and take, the
// helpers the string! units share, and the registration. Mold, editing, searching and sorting
// are in datatypes/string_mold.cpp, string_edit.cpp, string_find.cpp and string_sort.cpp.
#include <algorithm>
#include <cstring>
#include <memory>

#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::string {

// {== Internal functions

namespace detail {

int32_t int_of(const cell* v) {
    if (v->type() != T_float_) return static_cast<int32_t>(v->w2);
    double d;
    uint64_t bits = uint64_t(v->w3) << 32 | v->w2;
    std::memcpy(&d, &bits, 8);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) error::raise(error::cat_script, error::script_out_of_range, v);
    return static_cast<int32_t>(d);
}

void invalid_refine(const cell& refinement, const cell* arg) {
    // Before the predefined words are built (bare run-time tests) the slot is still empty.
    const cell* name = refinement.type() == T_refinement ? &refinement : &none_value;
    error::raise(error::cat_script, error::script_invalid_refine_arg, name, arg);
}

int64_t part_of(const cell* s, const cell* part) {
    if (part->type() == T_integer || part->type() == T_float_) return int_of(part);
    if (part->type() != s->type() || part->w2 != s->w2) invalid_refine(words::refs.part, part);
    return int64_t(part->w1) - int64_t(s->w1);
}

uint32_t form_at_tail(const cell* out, const cell* value, int32_t part, bool only) {
    uint32_t before = rs_abs_length_q(out);
    uint8_t t = value->type();
    if (t != T_block && t != T_paren && t != T_hash) {
        actions::form_typed(value, const_cast<cell*>(out), nullptr, part < 0 ? INT32_MAX : part);
        if (part >= 0) truncate(out->w2, before + uint32_t(part));
        return rs_abs_length_q(out) - before;
    }
    uint64_t total = series::length(value->w2);
    uint64_t n = value->w1 < total ? total - value->w1 : 0;
    if (part >= 0 && !only) n = std::min<uint64_t>(n, uint64_t(part));
    int32_t budget = part >= 0 && only ? part : INT32_MAX;
    for (uint64_t i = 0; i < n && budget > 0; i++) {
        // Copied out: forming may move the block's buffer (its node keeps it alive).
        cell e = reinterpret_cast<const cell*>(memory::buffer_of(value->w2)->head)[value->w1 + i];
        budget = actions::form_typed(&e, const_cast<cell*>(out), nullptr, budget);
    }
    if (part >= 0 && only) truncate(out->w2, before + uint32_t(part));
    return rs_abs_length_q(out) - before;
}

} // namespace detail

namespace {

// A binary! over a copy of the [length] bytes at [p] (outside any series buffer).
cell binary_of(const uint8_t* p, uint32_t length) {
    node_id n = series::alloc_bytes(length);
    series_buffer* b = memory::buffer_of(n);
    std::memcpy(b->head, p, length);
    b->tail = b->head + length;
    return cell{T_binary, 0, n, 0};
}

// Decodes the UTF-8 bytes of binary [bin] from its index into a new string in [out]; invalid
// UTF-8 raises access invalid-utf8 with the bytes from the failing position to the end.
void from_utf8_binary(cell* out, const cell* bin) {
    series_buffer* b = memory::buffer_of(bin->w2);
    uint32_t len = b->used_bytes() > bin->w1 ? b->used_bytes() - bin->w1 : 0;
    // Copied first: the loader must not read from a buffer that its allocations may move.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[len ? len : 1]);
    std::memcpy(bytes.get(), b->head + std::min<uint32_t>(bin->w1, b->used_bytes()), len);
    const uint8_t* p = bytes.get();
    const uint8_t* end = p + len;
    while (p < end) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) {
            cell* rest = stack::push(&none_value); // roots the bytes while the error is made
            *rest = binary_of(p, uint32_t(end - p));
            error::raise(error::cat_access, error::access_invalid_utf8, rest);
        }
        p = next;
    }
    load_at(bytes.get(), len, out, ENCODING_UTF8);
}

// A new string in [out] with a copy of the text of [src] from its index.
void copy_text(cell* out, const cell* src) {
    uint32_t len = length_of(src);
    node_id n = series::copy_part(src->w2, src->w1 < rs_abs_length_q(src) ? src->w1 : 0, len);
    *out = cell{T_string, 0, n, 0};
}

// The refinement arguments of a text search with every refinement off.
cell* select_plain(cell* series, cell* key) {
    return actions::select_typed(series, key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
}

} // namespace

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (st == T_integer || st == T_float_) {
        int32_t size = detail::int_of(spec);
        if (size < 0) error::raise(error::cat_script, error::script_out_of_range, spec);
        make_at(proto, uint32_t(size));
        cells::set_type(proto, type);
        return proto;
    }
    if (type == T_binary) {
        cell dt = datatype::make_value(type);
        if (st == T_money) error::raise_bad_make_arg(&dt, spec);
        auto to_binary = reinterpret_cast<actions::make_fn>(actions::get_action_handler(T_binary, &dt, A_to));
        return to_binary(proto, spec, type);
    }
    return to(proto, spec, type);
}

cell* to(cell* proto, cell* spec, uint8_t type) {
    switch (spec->type()) {
    case T_none: {
        cell dt = datatype::make_value(type);
        error::raise(error::cat_script, error::script_bad_to_arg, &dt, spec);
    }
    case T_block: case T_paren: case T_hash:
        make_at(proto, 16);
        detail::form_at_tail(proto, spec, -1, false);
        break;
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
        copy_text(proto, spec);
        break;
    case T_binary:
        from_utf8_binary(proto, spec);
        break;
    case T_refinement: {
        cell v = *spec;
        make_at(proto, 16);
        if (type == T_string) actions::form_typed(&v, proto, nullptr, INT32_MAX);
        else actions::mold_typed(&v, proto, false, false, false, nullptr, INT32_MAX, 0);
        break;
    }
    default: {
        cell v = *spec; // [proto] may be [spec]'s neighbour on the stack; keep the value
        make_at(proto, 16);
        actions::form_typed(&v, proto, nullptr, INT32_MAX);
        break;
    }
    }
    cells::set_type(proto, type);
    return proto;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    insert_core(buffer, value, arg ? std::max(part, 0) : -1, 0, COPY_APPEND);
    return part - static_cast<int32_t>(length_of(value));
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != a->type() && !(is_text_type(b->type()) && (op == 0 || op == 1))) return -2;
    return compare_values(a, b, op, false);
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    cell key = *element;
    if (key.type() == T_integer) {
        if (!set) return actions::pick_typed(value, &key);
        cell data = *set;
        actions::poke_typed(value, &key, &data);
        return &(*value = *set);
    }
    if (key.type() == T_word) {
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, &key);
    }
    if (!set) return select_plain(value, &key);
    cell data = *set;
    cell* found = actions::find_typed(value, &key, nullptr, false, false, false, false, nullptr, nullptr, false,
                                      false, false, false);
    if (found->type() == T_none)
        error::raise(error::cat_script, error::script_bad_path_set, &key, step.path ? step.path : &none_value);
    cell two{T_integer, 0, 2, 0};
    actions::poke_typed(found, &two, &data);
    return &(*value = data);
}

cell* swap(cell* a, cell* b) {
    uint8_t t = b->type();
    if (!is_text_type(t) && t != T_binary) error::raise(error::cat_script, error::script_invalid_arg, b);
    if (rs_tail_q(a) || rs_tail_q(b)) return a;
    owner::tell_before(a, words::loaded.swap, b, int32_t(a->w1), 1);
    owner::tell_before(b, words::loaded.swap, a, int32_t(b->w1), 1);
    uint32_t ca = rs_abs_char_at(a, a->w1), cb = rs_abs_char_at(b, b->w1);
    store_char(a->w2, a->w1, cb);
    store_char(b->w2, b->w1, ca);
    owner::tell(a, words::loaded.swaped, b, int32_t(a->w1), 1);
    owner::tell(b, words::loaded.swaped, a, int32_t(b->w1), 1);
    return a;
}

cell* take(cell* series, const cell* part, bool deep, bool last) {
    (void)deep; // text holds no nested series
    uint32_t avail = rs_length_q(series);
    if (avail < 1) return &(*series = none_value);
    uint32_t idx = series->w1, len = idx + avail;
    uint32_t start, count = 1;
    if (part) {
        int64_t n = detail::part_of(series, part);
        if (part->type() == series->type() && last) n = part->w1 < idx ? 0 : int64_t(len) - int64_t(part->w1);
        if (n < 0 && !last) {
            idx -= uint32_t(std::min<int64_t>(-n, idx));
            n = int64_t(series->w1) - idx;
        }
        count = uint32_t(std::clamp<int64_t>(n, 0, len - idx));
    }
    start = last ? len - count : idx;
    owner::tell_before(series, words::loaded.take, nullptr, int32_t(start), int32_t(count));
    cell result;
    if (part) {
        // The copy is made before the series cell is overwritten: the cell roots the text.
        node_id n = series::copy_part(series->w2, start, count);
        result = cell{series->type(), 0, n, 0};
    } else {
        uint8_t unit_type = series->type() == T_binary ? T_integer : T_char_; // a binary's unit is a byte
        result = cell{unit_type, 0, rs_abs_char_at(series, start), 0};
    }
    remove_part(series, start, count);
    owner::tell(series, words::loaded.taken, nullptr, int32_t(start), int32_t(count));
    return &(*series = result);
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        ZYL_INHERIT,           // random
        ZYL_INHERIT,           // reflect
        entry(&to),            // to
        entry(&form),          // form
        entry(&mold),          // mold
        entry(&eval_path),     // eval-path
        nullptr,               // set-path
        entry(&compare),       // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        entry(&append),        // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        entry(&change),        // change
        ZYL_INHERIT,           // clear
        ZYL_INHERIT,           // copy
        entry(&find),          // find
        ZYL_INHERIT,           // head
        ZYL_INHERIT,           // head?
        ZYL_INHERIT,           // index?
        entry(&insert),        // insert
        ZYL_INHERIT,           // length?
        ZYL_INHERIT,           // move
        ZYL_INHERIT,           // next
        ZYL_INHERIT,           // pick
        ZYL_INHERIT,           // poke
        nullptr,               // put
        ZYL_INHERIT,           // remove
        ZYL_INHERIT,           // reverse
        entry(&select),        // select
        entry(&sort),          // sort
        ZYL_INHERIT,           // skip
        entry(&swap),          // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        entry(&take),          // take
        entry(&trim),          // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_string, T_series, "string!", entries);
}

// }==

} // namespace zyl::string
