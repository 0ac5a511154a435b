// datatypes/char.cpp: char!: arithmetic kept inside the code-point range, conversions, text
// with escapes, and comparison.
#include "datatypes/char.h"

#include <cmath>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"

namespace zyl::char_ {

// {== Internal functions

cell* box(uint32_t cp) { return &(*es.base = make_value(cp)); }

cell* make_in(node_id block, uint32_t cp) { return &(*series::append_unset_cell(block) = make_value(cp)); }

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_char_);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

[[noreturn]] void out_of_range(const cell* spec) {
    error::raise(error::cat_script, error::script_out_of_range, spec);
}

// The character at the index of a text value; at its tail, bad-to-arg.
uint32_t from_text(const cell* spec) {
    unicode::text::range r = unicode::text::range_of(spec, 1);
    if (r.start == r.end) bad_to_arg(spec);
    return unicode::text::get(r.start, r.unit);
}

// One UTF-8 sequence from the index of a binary!.
uint32_t from_binary(const cell* spec) {
    series_buffer* b = memory::buffer_of(spec->w2);
    uint64_t used = b->used_bytes();
    if (spec->w1 >= used) bad_to_arg(spec);
    const uint8_t* p = b->head + spec->w1;
    int64_t room = static_cast<int64_t>(used - spec->w1);
    int64_t length = room;
    int32_t cp = unicode::decode_utf8_checked(p, length);
    if (cp < 0) unicode::text::invalid_utf8(p, room); // the bytes end inside a sequence
    return static_cast<uint32_t>(cp);
}

uint32_t to_value(const cell* spec) {
    switch (spec->type()) {
    case T_char_:
    case T_integer: {
        int32_t n = integer::get(spec);
        if (n < 0 || uint32_t(n) > MAX_CODE_POINT) out_of_range(spec);
        return uint32_t(n);
    }
    case T_float_:
    case T_percent: {
        double d = std::trunc(float_::get(spec));
        if (!(d >= 0.0 && d <= MAX_CODE_POINT)) out_of_range(spec);
        return uint32_t(d);
    }
    case T_binary: return from_binary(spec);
    default:
        if (!integer::is_text_type(spec->type())) bad_to_arg(spec);
        return from_text(spec);
    }
}

[[noreturn]] void overflow() { error::raise(error::cat_math, error::math_overflow); }

} // namespace

// }==
// {== Action entries

namespace {

cell* to(cell* proto, cell* spec, uint8_t) {
    uint32_t cp = to_value(spec);
    return &(*proto = make_value(cp));
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    string::append_char(buffer->w2, value->w2);
    return part - 1;
}

// #"A", with the escapes that strings use: #"^-", #"^(1E)".
int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "#\"");
    uint32_t n = string::mold_char(buffer, value->w2, all);
    string::concatenate_literal(buffer, "\"");
    return part - static_cast<int32_t>(n + 3);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t t = b->type();
    if ((op == 2 || op == 9 || op == 12) && t != T_char_) return 1; // another type is never the same
    if (t != T_char_ && t != T_integer) return -2;
    int32_t x = integer::get(a), y = integer::get(b);
    return (x > y) - (x < y);
}

// The arithmetic actions: integer!'s core on the code point, the quotient truncated, the
// result checked against the code-point range.
template <int OP> void arith() {
    cell* a = stack::arg(0);
    const cell* b = a + 1;
    int32_t other;
    switch (b->type()) {
    case T_char_:
    case T_integer: other = integer::get(b); break;
    case T_float_: {
        double d = std::trunc(float_::get(b));
        if (integer::float_overflow(d)) overflow();
        other = static_cast<int32_t>(d);
        break;
    }
    case T_vector: return float_::vector_math(OP);
    default: {
        cell t = datatype::make_value(b->type());
        error::raise(error::cat_script, error::script_invalid_type, &t);
    }
    }
    cell scratch = unset_value;
    integer::math_op(OP, integer::get(a), other, &scratch, true);
    int32_t r = integer::get(&scratch);
    if (scratch.type() != T_integer || r < 0 || uint32_t(r) > MAX_CODE_POINT) overflow();
    a->w2 = static_cast<uint32_t>(r);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&to);
    e[A_random - 1] = ZYL_INHERIT;
    e[A_to - 1] = entry(&to);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    e[A_absolute - 1] = ZYL_INHERIT;
    e[A_add - 1] = entry(&arith<MATH_ADD>);
    e[A_divide - 1] = entry(&arith<MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<MATH_MULTIPLY>);
    e[A_remainder - 1] = entry(&arith<MATH_REMAINDER>);
    e[A_subtract - 1] = entry(&arith<MATH_SUBTRACT>);
    e[A_even_q - 1] = ZYL_INHERIT;
    e[A_odd_q - 1] = ZYL_INHERIT;
    e[A_and_t - 1] = entry(&arith<MATH_AND>);
    e[A_or_t - 1] = entry(&arith<MATH_OR>);
    e[A_xor_t - 1] = entry(&arith<MATH_XOR>);
    datatype::register_type(ACTION_SLOTS + 3, T_char_, T_integer, "char!", e);
}

// }==

} // namespace zyl::char_
