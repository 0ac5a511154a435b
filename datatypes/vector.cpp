// datatypes/vector.cpp: vector! elements, make, form, mold, compare, insert, change, find,
// select and the registration. Arithmetic is in datatypes/vector_math.cpp, sort in
// datatypes/vector_sort.cpp. Layout: datatypes/vector.h.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::vector {

// {== Internal functions

namespace {

inline bool is_int_type(uint8_t t) { return t == T_char_ || t == T_integer; }
inline bool is_block_kind(uint8_t t) { return t == T_block || t == T_paren || t == T_hash; }
inline uint32_t width_of(const cell* v) { return memory::buffer_of(v->w2)->unit(); }
inline uint32_t total_of(const cell* v) { return static_cast<uint32_t>(series::length(v->w2)); }
inline uint32_t index_of(const cell* v) { return std::min(v->w1, total_of(v)); }
inline uint8_t* address(const cell* v, uint32_t pos) {
    series_buffer* b = memory::buffer_of(v->w2);
    return b->head + uint64_t(pos) * b->unit();
}
inline uint32_t default_width(uint8_t t) { return is_int_type(t) ? 4 : 8; }

[[noreturn]] void invalid_arg(const cell* v) {
    cell c = *v;
    error::raise(error::cat_script, error::script_invalid_arg, &c);
}

// Raises invalid-arg unless [value] has the element datatype of [v].
void check_type(const cell* v, const cell* value) {
    if (value->type() != v->w3) invalid_arg(value);
}

// The elements as numbers, for comparison: doubles for float! and percent!, else integers.
struct number {
    bool is_float;
    int64_t i;
    double d;
};
number number_at(const cell* v, uint32_t pos) {
    uint32_t w = width_of(v);
    if (is_int_type(static_cast<uint8_t>(v->w3))) return {false, get_int(address(v, pos), w, v->w3 == T_char_), 0};
    return {true, 0, get_float(address(v, pos), w)};
}
// -1, 0 or 1; 2 when a NaN leaves the pair unordered.
int compare_numbers(const number& a, const number& b) {
    if (!a.is_float) return (a.i > b.i) - (a.i < b.i);
    if (std::isnan(a.d) || std::isnan(b.d)) return 2;
    return (a.d > b.d) - (a.d < b.d);
}
// [value] as a number of the vector's kind, or false when it is no number.
bool number_of_value(const cell* v, const cell* value, number& out) {
    uint8_t t = value->type();
    bool f = !is_int_type(static_cast<uint8_t>(v->w3));
    if (t == T_integer || t == T_char_) {
        int64_t n = t == T_char_ ? int64_t(value->w2) : int64_t(integer::get(value));
        out = {f, n, double(n)};
    } else if (t == T_float_ || t == T_percent) {
        double d = float_::get(value);
        if (!f && d != std::trunc(d)) return false;
        out = {f, f ? 0 : int64_t(d), d};
    } else {
        return false;
    }
    return true;
}

} // namespace

int64_t get_int(const uint8_t* p, uint32_t width, bool is_char) {
    switch (width) {
    case 1: return is_char ? int64_t(*p) : int64_t(int8_t(*p));
    case 2: {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return is_char ? int64_t(u) : int64_t(int16_t(u));
    }
    default: {
        uint32_t u;
        std::memcpy(&u, p, 4);
        return is_char ? int64_t(u) : int64_t(int32_t(u));
    }
    }
}

double get_float(const uint8_t* p, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

cell* make_at(cell* c, uint32_t length, uint8_t type, uint32_t width) {
    uint64_t bytes = uint64_t(std::max<uint32_t>(length, 1)) * width;
    if (bytes > 0xFFFFFFFFu) error::raise(error::cat_internal, error::internal_no_memory);
    node_id n = series::alloc(std::max<uint32_t>(length, 1), width, 0);
    *c = cell{T_vector, 0, n, type};
    return c;
}

namespace detail {

cell element(const cell* v, uint32_t pos) { return element_at(address(v, pos), width_of(v), v->w3); }

cell element_at(const uint8_t* p, uint32_t w, uint32_t type) {
    switch (type) {
    case T_char_: return cell{T_char_, 0, static_cast<uint32_t>(get_int(p, w, true)), 0};
    case T_integer: return integer::make_value(static_cast<int32_t>(get_int(p, w, false)));
    case T_percent: return float_::make_value(get_float(p, w), T_percent);
    default: return float_::make_value(get_float(p, w));
    }
}

void store(const cell* v, uint32_t pos, const cell* value) {
    check_type(v, value);
    uint32_t w = width_of(v);
    uint8_t* p = address(v, pos);
    if (is_int_type(value->type())) {
        uint32_t bits = value->w2;
        if (value->type() == T_char_ && ((w == 1 && bits > 0xFF) || (w == 2 && bits > 0xFFFF))) invalid_arg(value);
        std::memcpy(p, &bits, w); // the low bytes: little-endian
    } else if (w == 4) {
        auto f = static_cast<float>(float_::get(value));
        std::memcpy(p, &f, 4);
    } else {
        double d = float_::get(value);
        std::memcpy(p, &d, 8);
    }
}

} // namespace detail

cell* push_block(const cell* v) {
    cell src = *v;
    uint32_t from = index_of(&src), total = total_of(&src);
    cell* out = block::push_new(static_cast<int32_t>(std::max<uint32_t>(total - from, 1)));
    for (uint32_t i = from; i < total; i++) series::append_value(out->w2, detail::element(&src, i));
    return out;
}

namespace {

// {=== Insertion

// Where values to insert come from: one value, or [count] cells of a block from [from].
struct source {
    cell single;
    node_id block;
    uint32_t from;
    uint32_t count;
};
inline const cell* value_at(const source& s, uint32_t i) {
    return s.block ? block::cells_of(s.block) + s.from + i : &s.single;
}

source source_of(const cell* value, int32_t part) {
    if (!is_block_kind(value->type())) return {*value, 0, 0, 1};
    uint32_t n = block::rs_length_q(value);
    if (part >= 1) n = std::min<uint32_t>(n, static_cast<uint32_t>(part));
    return {none_value, value->w2, std::min(value->w1, static_cast<uint32_t>(series::length(value->w2))), n};
}

// Makes room for [count] elements at [pos] of [v] (replacing [replaced] there), then stores
// the values of [s] there [dup] times; answers the position after the last written.
uint32_t write_at(const cell* v, uint32_t pos, const source& s, uint32_t dup, uint32_t replaced) {
    for (uint32_t i = 0; i < s.count; i++) check_type(v, value_at(s, i));
    uint64_t count = uint64_t(s.count) * dup;
    uint32_t w = width_of(v);
    if (count * w > 0xFFFFFFFFu) error::raise(error::cat_internal, error::internal_no_memory);
    uint32_t total = total_of(v);
    replaced = std::min(replaced, total - pos);
    uint64_t need = (uint64_t(total) - replaced + count) * w;
    series_buffer* b = memory::buffer_of(v->w2);
    if (need > uint64_t(b->end() - b->head)) b = series::expand(v->w2, std::max<uint64_t>(need, uint64_t(b->size) * 2));
    uint8_t* at = b->head + uint64_t(pos) * w;
    uint8_t* rest = at + uint64_t(replaced) * w;
    std::memmove(at + count * w, rest, static_cast<size_t>(b->tail - rest));
    b->tail = b->head + need;
    for (uint64_t k = 0; k < count; k++) detail::store(v, static_cast<uint32_t>(pos + k), value_at(s, uint32_t(k % s.count)));
    return static_cast<uint32_t>(pos + count);
}

// }===

} // namespace

// }==
// {== Action entries

namespace {

// The datatype a type word of a spec names, or 0.
uint8_t element_type_named(const cell* w) {
    if (!word::any_word_type_q(w->type())) return 0;
    const char* name = symbol::c_name(symbol::resolve(w->w2));
    for (uint8_t t : {T_char_, T_integer, T_float_, T_percent})
        if (strcasecmp(name, datatype::name_of(t)) == 0) return t;
    return 0;
}

[[noreturn]] void bad_make(const cell* spec) {
    cell dt = datatype::make_value(T_vector);
    error::raise_bad_make_arg(&dt, spec);
}

// Fills [proto] from a type, a width, a length and a block of values, as make has read them.
cell* build(cell* proto, uint8_t type, uint32_t width, int64_t length, const cell* values) {
    uint32_t given = values ? block::rs_length_q(values) : 0;
    if (values && given >= length) length = given;
    if (length < 1) return make_at(proto, 1, type, width);
    make_at(proto, static_cast<uint32_t>(length), type, width);
    if (values && given) write_at(proto, 0, source_of(values, -1), 1, 0);
    series_buffer* b = memory::buffer_of(proto->w2);
    uint8_t* end = b->head + uint64_t(length) * width;
    std::memset(b->tail, 0, static_cast<size_t>(end - b->tail));
    b->tail = end;
    return proto;
}

// make vector! [type bits length [values]] and its shorter forms.
cell* make_from_spec(cell* proto, cell* spec) {
    const cell* c = block::cells_of(spec->w2) + spec->w1;
    uint32_t n = block::rs_length_q(spec);
    uint8_t type = element_type_named(c);
    if (!type || n < 2) bad_make(spec);
    if (c[1].type() != T_integer) bad_make(spec);
    int32_t bits = integer::get(c + 1);
    bool ok = is_int_type(type) ? bits == 8 || bits == 16 || bits == 32 : type == T_float_ ? bits == 32 || bits == 64 : true;
    if (!ok) bad_make(spec);
    uint32_t width = type == T_percent ? 8 : static_cast<uint32_t>(bits / 8);
    cell values{T_none, 0, 0, 0};
    int64_t length = 0;
    if (n >= 3 && c[2].type() == T_integer) {
        length = integer::get(c + 2);
        if (n >= 4 && c[3].type() == T_block) values = c[3];
        else if (n >= 4) error::raise(error::cat_script, error::script_invalid_spec_field, spec);
    } else if (n >= 3 && c[2].type() == T_block) {
        values = c[2];
    } else {
        error::raise(error::cat_script, error::script_invalid_spec_field, spec);
    }
    cell* kept = stack::push(&values); // held while the vector is made
    build(proto, type, width, length, values.type() == T_block ? kept : nullptr);
    stack::pop(1);
    return proto;
}

cell* make(cell* proto, cell* spec, uint8_t) {
    uint8_t st = spec->type();
    if (st == T_integer || st == T_float_) return build(proto, T_integer, 4, value::to_int_checked(spec), nullptr);
    if (st != T_block) error::raise(error::cat_internal, error::internal_not_done);
    if (block::rs_length_q(spec) == 0) return make_at(proto, 1, T_integer, 4);
    const cell* first = block::rs_head(spec);
    if (word::any_word_type_q(first->type())) return make_from_spec(proto, spec);
    uint8_t type = first->type();
    if (type != T_char_ && type != T_integer && type != T_float_ && type != T_percent) {
        cell dt = datatype::make_value(type);
        error::raise(error::cat_script, error::script_invalid_type, &dt);
    }
    return build(proto, type, default_width(type), 0, spec);
}

// The elements from the index, separated by single spaces; chars molded with [mold].
int32_t write_elements(const cell* v, cell* buffer, bool mold, const cell* arg, int32_t part) {
    uint32_t w = width_of(v);
    for (uint32_t i = index_of(v); i < total_of(v); i++) {
        if (arg && part <= 0) break;
        if (i > index_of(v)) {
            string::append_char(buffer->w2, ' ');
            part--;
        }
        const uint8_t* p = address(v, i);
        switch (v->w3) {
        case T_char_: {
            auto cp = static_cast<uint32_t>(get_int(p, w, true));
            if (mold) string::concatenate_literal(buffer, "#\"");
            part -= static_cast<int32_t>(string::mold_char(buffer, cp, false));
            if (mold) string::concatenate_literal(buffer, "\"");
            part -= mold ? 3 : 0;
            break;
        }
        case T_integer: {
            char text[16];
            int len = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(get_int(p, w, false)));
            string::concatenate_part(buffer, text, static_cast<uint32_t>(len));
            part -= len;
            break;
        }
        default: {
            double d = get_float(p, w);
            bool percent = v->w3 == T_percent;
            if (percent) d = w == 4 ? double(float(d * 100)) : d * 100;
            int32_t kind = percent ? (w == 4 ? float_::KIND_VECTOR_PERCENT : float_::KIND_PERCENT)
                                   : (w == 4 ? float_::KIND_VECTOR32 : float_::KIND_FLOAT);
            std::string_view text = float_::format(d, kind);
            string::concatenate_literal(buffer, text);
            part -= static_cast<int32_t>(text.size());
        }
        }
    }
    return part;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    cell v = *value;
    return write_elements(&v, buffer, false, arg, part);
}

// make vector! [1 2 3] at the default width when not empty, else with the type and bits.
int32_t mold(const cell* value, cell* buffer, bool only, bool, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value;
    bool short_form = index_of(&v) < total_of(&v) && width_of(&v) == default_width(static_cast<uint8_t>(v.w3));
    if (!only) {
        string::concatenate_literal(buffer, "make vector! [");
        part -= 14;
    }
    if (!short_form && !only) {
        char text[40];
        int len = std::snprintf(text, sizeof text, "%s %u [", datatype::name_of(static_cast<uint8_t>(v.w3)), width_of(&v) * 8);
        string::concatenate_part(buffer, text, static_cast<uint32_t>(len));
        part -= len;
    }
    part = write_elements(&v, buffer, true, arg, part);
    if (!only) {
        string::concatenate_literal(buffer, short_form ? "]" : "]]");
        part -= short_form ? 1 : 2;
    }
    return part;
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_vector) return -2;
    bool equality = is_equality_op(op) || op == 10 || op == 11;
    if (a->w3 != b->w3) {
        if (equality) return 1; // vectors of other elements are simply unequal
        error::raise(error::cat_script, error::script_not_same_type);
    }
    bool same = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == 9) return same ? 0 : -1;
    if (same) return 0;
    uint32_t la = total_of(a) - index_of(a), lb = total_of(b) - index_of(b);
    if (la != lb && equality) return 1;
    for (uint32_t i = 0; i < std::min(la, lb); i++) {
        int r = compare_numbers(number_at(a, index_of(a) + i), number_at(b, index_of(b) + i));
        if (r == 2) return 1; // a NaN equals nothing
        if (r != 0) return r;
    }
    return (la > lb) - (la < lb);
}

cell* insert(cell* series, cell* value, int32_t part, bool, int32_t dup, bool append) {
    uint32_t total = total_of(series), idx = index_of(series);
    uint32_t pos = append ? total : idx;
    cell v = *value;
    source s = source_of(&v, part);
    if (s.count == 0 || dup < 1) return series;
    cell* kept = stack::push(&v); // holds the values' block while the vector grows
    uint32_t after = write_at(series, pos, s, static_cast<uint32_t>(dup), 0);
    stack::pop(1);
    (void)kept;
    series->w1 = append ? idx : after;
    return series;
}

cell* change(cell* series, cell* value, int32_t part, bool, int32_t dup) {
    uint32_t idx = index_of(series);
    owner::tell_before(series, words::loaded.change, value, int32_t(idx), part > 0 ? part : 0);
    cell v = *value;
    cell* kept = stack::push(&v);
    cell* elements = nullptr;
    if (v.type() == T_vector) {
        elements = push_block(&v); // element by element, so widths may differ
    } else if (v.type() >= T_path && v.type() <= T_get_path) {
        elements = kept;
        cells::set_type(elements, T_block);
    }
    source s = source_of(elements ? elements : &v, -1);
    uint32_t count = s.count * static_cast<uint32_t>(std::max(dup, 1));
    uint32_t replaced = part >= 0 ? static_cast<uint32_t>(part) : count;
    uint32_t after = s.count ? write_at(series, idx, s, static_cast<uint32_t>(std::max(dup, 1)), replaced) : idx;
    stack::pop(elements && elements != kept ? 2 : 1);
    owner::tell(series, words::loaded.changed, value, int32_t(idx), int32_t(after - idx));
    series->w1 = after;
    return series;
}

// The position of the first element equal to [value] under the refinements, or -1.
int64_t locate(const cell* v, const cell* value, const cell* part, const cell* skip, bool last, bool reverse,
               bool match) {
    number want;
    if (!number_of_value(v, value, want)) return -1;
    int64_t idx = index_of(v), total = total_of(v);
    int64_t step = skip ? std::max<int64_t>(integer::get(skip), 1) : 1;
    int64_t lo = reverse ? 0 : idx, hi = reverse ? idx : total;
    if (part) {
        int64_t n = series::detail::part_count(v, part);
        if (reverse) lo = std::max<int64_t>(0, hi - n); else hi = std::min<int64_t>(total, lo + n);
    }
    auto hit = [&](int64_t p) { return compare_numbers(number_at(v, static_cast<uint32_t>(p)), want) == 0; };
    if (match) return idx < total && hit(idx) ? idx : -1;
    if (last || reverse) {
        for (int64_t p = hi - 1; p >= lo; p -= step)
            if (hit(p)) return p;
        return -1;
    }
    for (int64_t p = lo; p < hi; p += step)
        if (hit(p)) return p;
    return -1;
}

cell* find(cell* series, cell* value, const cell* part, bool, bool, bool, bool, const cell*, const cell* skip, bool last,
           bool reverse, bool tail, bool match) {
    int64_t p = locate(series, value, part, skip, last, reverse, match);
    if (p < 0) return &(*series = none_value);
    series->w1 = static_cast<uint32_t>(p + (tail || match ? 1 : 0));
    return series;
}

cell* select(cell* series, cell* value, const cell* part, bool, bool, bool, bool, const cell*, const cell* skip,
             bool last, bool reverse) {
    int64_t p = locate(series, value, part, skip, last, reverse, false);
    if (p < 0 || p + 1 >= total_of(series)) return &(*series = none_value);
    return &(*series = detail::element(series, static_cast<uint32_t>(p + 1)));
}

void vector_get(const cell* v, uint32_t pos, cell* out) { *out = detail::element(v, pos); }
void vector_set(const cell* v, uint32_t pos, const cell* data) { detail::store(v, pos, data); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        ZYL_INHERIT,           // random
        ZYL_INHERIT,           // reflect
        nullptr,               // to
        entry(&form),          // form
        entry(&mold),          // mold
        ZYL_INHERIT,           // eval-path
        nullptr,               // set-path
        entry(&compare),       // compare
        nullptr,               // absolute
        nullptr, nullptr, nullptr, // add divide multiply: set by math_init
        nullptr, nullptr,      // negate power
        nullptr,               // remainder: set by math_init
        nullptr,               // round
        nullptr,               // subtract: set by math_init
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~ (and~ or~ xor~ set by math_init)
        entry(&insert),        // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        entry(&change),        // change
        ZYL_INHERIT,           // clear
        ZYL_INHERIT,           // copy
        entry(&find),          // find (numbers, not text)
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
        entry(&select),        // select (numbers, not text)
        entry(&detail::sort),  // sort (numbers, not text: datatypes/vector_sort.cpp)
        ZYL_INHERIT,           // skip
        nullptr,               // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        entry(&series::take),  // take (series!'s: string!'s takes characters)
        nullptr,               // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_vector, T_string, "vector!", entries);
    series::vector_get = &vector_get;
    series::vector_set = &vector_set;
    detail::math_init();
}

// }==

} // namespace zyl::vector
