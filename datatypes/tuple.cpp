// datatypes/tuple.cpp: tuple!: saturating element arithmetic, comparison, conversions from
// blocks, texts, colour issues and binaries, text, element access, reversal and the literal.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::tuple {

// {== Internal functions

cell make_value(uint32_t count, const uint8_t* elements) {
    ZYL_ASSERT(count >= MIN_COUNT && count <= MAX_COUNT);
    cell c{header_for(count), 0, 0, 0};
    std::memcpy(bytes_of(&c), elements, count);
    return c;
}

cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    return &(*stack::push_slot() = cell{header_for(count), w1, w2, w3});
}

cell* push_from_integers(uint32_t count, const int32_t* integers) {
    ZYL_ASSERT(count <= MAX_COUNT);
    uint8_t e[MAX_COUNT] = {};
    for (uint32_t i = 0; i < count; i++) e[i] = static_cast<uint8_t>(integers[i]);
    return &(*stack::push_slot() = make_value(std::max(count, MIN_COUNT), e));
}

cell* from_binary(const cell* binary, cell* result) {
    const series_buffer* b = memory::buffer_of(binary->w2);
    uint64_t used = b->used_bytes();
    uint64_t index = std::min<uint64_t>(binary->w1, used);
    uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(used - index, MAX_COUNT));
    uint8_t e[MAX_COUNT] = {};
    std::memcpy(e, b->head + index, count);
    return &(*result = make_value(std::max(count, MIN_COUNT), e));
}

namespace {

// A word cell for an error argument; none while the words are not made (bare run-time tests).
const cell* named(const cell& word) {
    return word.type() == T_word || word.type() == T_refinement ? &word : &none_value;
}

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

cell* from_issue(const cell* issue, cell* result) {
    // An issue is a word cell: its text is the name of the symbol in word 2.
    const series_buffer* name = memory::buffer_of(symbol::entry_cell(issue->w2)->w3);
    uint32_t n = static_cast<uint32_t>(name->used_bytes());
    int32_t d[8];
    bool ok = n == 3 || n == 6 || n == 8;
    for (uint32_t i = 0; ok && i < n; i++) ok = (d[i] = hex_digit(name->head[i])) >= 0;
    if (!ok) error::raise(error::cat_script, error::script_invalid_data, issue);
    uint8_t e[4] = {};
    for (uint32_t i = 0; i < 3; i++) e[i] = static_cast<uint8_t>(n == 3 ? d[i] * 17 : d[2 * i] * 16 + d[2 * i + 1]);
    if (n == 8) e[3] = static_cast<uint8_t>(d[6] * 16 + d[7]);
    return &(*result = make_value(n == 8 ? 4 : 3, e));
}

bool zero_q(const cell* c) { return c->w1 == 0 && c->w2 == 0 && c->w3 == 0; }

void poke(cell* t, int32_t index, const cell* value) {
    uint32_t count = count_of(t);
    if (index < 1 || uint32_t(index) > count) error::raise(error::cat_script, error::script_out_of_range, value);
    uint8_t* e = bytes_of(t);
    if (value->type() == T_integer) {
        e[index - 1] = static_cast<uint8_t>(std::clamp(integer::get(value), 0, 255));
        return;
    }
    if (value->type() != T_none) {
        cell type = datatype::make_value(value->type());
        error::raise(error::cat_script, error::script_invalid_type, &type);
    }
    std::fill(e + index - 1, e + count, uint8_t(0));
    uint32_t kept = std::max(uint32_t(index - 1), MIN_COUNT);
    t->header = (t->header & ~TUPLE_COUNT_MASK) | kept << TUPLE_COUNT_SHIFT;
}

namespace {

// {== Arithmetic

[[noreturn]] void invalid_type(uint8_t type) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

uint8_t to_byte(int32_t n) { return static_cast<uint8_t>(std::clamp(n, 0, 255)); }

// A double truncated toward zero into 0..255; NaN gives 0.
uint8_t float_to_byte(double d) {
    double t = std::trunc(d);
    return !(t > 0.0) ? 0 : t >= 255.0 ? 255 : static_cast<uint8_t>(t);
}

// [a] op [b] by integer! rules with a truncated quotient, saturated into a byte: an add,
// subtract or multiply past 32 bits gives 255 when positive, 0 otherwise.
uint8_t element_op(int32_t op, int32_t a, int32_t b) {
    cell r{};
    integer::math_op(op, a, b, &r, true);
    if (r.type() != T_integer) return float_::get(&r) > 0 ? 255 : 0;
    return to_byte(integer::get(&r));
}

// Every element of the tuple in cell 0 against the scalar or tuple in cell 1; nothing is
// written before every element is known, so an error leaves cell 0 as it was.
void element_math(int32_t op) {
    cell* a = stack::arg(0);
    const cell* b = a + 1;
    uint8_t t = b->type();
    uint8_t out[MAX_COUNT] = {};
    uint32_t count = count_of(a);
    const uint8_t* x = bytes_of(a);
    if (t == T_float_ || t == T_percent) {
        double f = float_::get(b);
        for (uint32_t i = 0; i < count; i++) out[i] = float_to_byte(float_::math_op(x[i], f, op));
    } else if (t == T_integer) {
        for (uint32_t i = 0; i < count; i++) out[i] = element_op(op, x[i], integer::get(b));
    } else if (t == T_tuple) {
        // Bytes past a count are 0, so the shorter tuple reads as padded with zeros.
        count = std::max(count, count_of(b));
        for (uint32_t i = 0; i < count; i++) out[i] = element_op(op, x[i], bytes_of(b)[i]);
    } else {
        invalid_type(t);
    }
    *a = make_value(count, out);
}

// }==

} // namespace

void do_math(int32_t op) {
    cell* a = stack::arg(0);
    if (a->type() != T_tuple) {
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE) {
            cell t = datatype::make_value(a->type());
            const cell& w = op == MATH_SUBTRACT ? words::loaded.subtract : words::loaded.divide;
            error::raise(error::cat_script, error::script_not_related, named(w), &t);
        }
        std::swap(a[0], a[1]); // the tuple goes first
    }
    element_math(op);
}

// {== The literal

bool load_text(const char* start, const char* end, cell* out) {
    uint8_t e[MAX_COUNT] = {};
    uint32_t count = 0;
    for (const char* p = start;; p++) {
        // Each element: one or more decimal digits, at most 255, ended by "." or the end.
        const char* digits = p;
        int32_t v = 0;
        for (; p < end && *p >= '0' && *p <= '9'; p++) {
            v = v * 10 + (*p - '0');
            if (v > 255) return false;
        }
        if (p == digits || count == MAX_COUNT) return false;
        e[count++] = static_cast<uint8_t>(v);
        if (p == end) break;
        if (*p != '.') return false;
    }
    if (count < MIN_COUNT) return false;
    *out = make_value(count, e);
    return true;
}

// }==
// }==
// {== Action entries

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_tuple);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// Up to 12 values, each integer!, char! or float! (truncated) in 0..255, padded to 3.
cell from_block(const cell* block) {
    const series_buffer* b = memory::buffer_of(block->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + block->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (end - first > int64_t(MAX_COUNT)) bad_to_arg(block);
    uint8_t e[MAX_COUNT] = {};
    uint32_t count = 0;
    for (const cell* v = first; v < end; v++) {
        uint8_t t = v->type();
        double d;
        if (t == T_integer || t == T_char_) d = integer::get(v);
        else if (t == T_float_) d = std::trunc(float_::get(v));
        else bad_to_arg(block);
        if (!(d >= 0.0 && d <= 255.0)) bad_to_arg(block);
        e[count++] = static_cast<uint8_t>(d);
    }
    return make_value(std::max(count, MIN_COUNT), e);
}

cell* make(cell* proto, cell* spec, uint8_t) {
    cell r;
    switch (spec->type()) {
    case T_block:
    case T_paren:
    case T_hash: r = from_block(spec); break;
    case T_issue: from_issue(spec, &r); break;
    case T_tuple:
        r = *spec;
        cells::clear_new_line(&r);
        break;
    case T_binary: from_binary(spec, &r); break;
    default:
        if (!string::is_text_type(spec->type()) || !pair::load_literal(spec, &r) || r.type() != T_tuple) {
            bad_to_arg(spec);
        }
    }
    *proto = r;
    return proto;
}

cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zyl::random::seed(static_cast<int32_t>(value->w1 ^ value->w2 ^ value->w3));
        return &(*value = unset_value);
    }
    uint8_t* e = bytes_of(value);
    for (uint32_t i = 0; i < count_of(value); i++) e[i] = static_cast<uint8_t>(zyl::random::in_range(secure, e[i] + 1) - 1);
    return value;
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    char text[MAX_COUNT * 4];
    size_t n = 0;
    const uint8_t* e = bytes_of(value);
    for (uint32_t i = 0; i < count_of(value); i++) {
        if (i > 0) text[n++] = '.';
        uint32_t v = e[i];
        if (v >= 100) text[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10) text[n++] = static_cast<char>('0' + v / 10 % 10);
        text[n++] = static_cast<char>('0' + v % 10);
    }
    // Everything is read before the buffer grows: the value may lie in a series that moves.
    string::concatenate_literal(buffer, {text, n});
    return part - static_cast<int32_t>(n);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form(value, buffer, nullptr, part);
}

cell* pick(cell* value, int32_t index, const cell* at) {
    if (index < 1 || uint32_t(index) > count_of(value)) error::raise(error::cat_script, error::script_out_of_range, at);
    return &(*value = integer::make_value(bytes_of(value)[index - 1]));
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step&) {
    if (element->type() != T_integer) invalid_type(element->type());
    int32_t index = integer::get(element);
    if (!set) return pick(value, index, element);
    if (set->type() != T_integer && set->type() != T_none) invalid_type(set->type());
    poke(value, index, set);
    // The owner of an object field hears of the change (step.notify) once objects exist.
    // The result of a set is the value set; callers only read it.
    return const_cast<cell*>(set);
}

int32_t compare(const cell* a, const cell* b, int32_t) {
    if (b->type() != T_tuple) return -2;
    // Bytes past a count are 0: a missing element counts as 0, so 1.2.3 equals 1.2.3.0.
    uint32_t count = std::max(count_of(a), count_of(b));
    for (uint32_t i = 0; i < count; i++) {
        uint8_t x = bytes_of(a)[i], y = bytes_of(b)[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

template <int OP> void arith() { do_math(OP); }

cell* complement(cell* value) {
    uint8_t* e = bytes_of(value);
    for (uint32_t i = 0; i < count_of(value); i++) e[i] = static_cast<uint8_t>(~e[i]);
    return value;
}

int32_t length_q(const cell* value) { return static_cast<int32_t>(count_of(value)); }

[[noreturn]] void invalid_refine(const cell& refinement, const cell* arg) {
    error::raise(error::cat_script, error::script_invalid_refine_arg, named(refinement), arg);
}

// The integer of a /part or /skip argument at least [least]: another type raises
// invalid-refine-arg, a smaller number out-of-range.
int32_t refinement_count(const cell& refinement, const cell* arg, int32_t least) {
    if (arg->type() != T_integer) invalid_refine(refinement, arg);
    int32_t n = integer::get(arg);
    if (n < least) error::raise(error::cat_script, error::script_out_of_range, arg);
    return n;
}

cell* reverse(cell* value, const cell* part, const cell* skip) {
    uint32_t count = count_of(value);
    uint32_t n = part ? std::min(uint32_t(refinement_count(words::refs.part, part, 0)), count) : count;
    uint32_t s = skip ? uint32_t(refinement_count(words::refs.skip, skip, 1)) : 1;
    if (s == n) return value;
    if (s > 1 && (n < s || n % s != 0)) invalid_refine(words::refs.skip, skip);
    uint8_t* e = bytes_of(value);
    std::reverse(e, e + n);
    if (s == 1) return value;
    // The whole part reversed, then each group back in its own order: the groups swap places.
    for (uint32_t g = 0; g < n; g += s) std::reverse(e + g, e + g + s);
    return value;
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = entry(&random);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = entry(&compare);
    e[A_add - 1] = entry(&arith<MATH_ADD>);
    e[A_divide - 1] = entry(&arith<MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<MATH_MULTIPLY>);
    e[A_remainder - 1] = entry(&arith<MATH_REMAINDER>);
    e[A_subtract - 1] = entry(&arith<MATH_SUBTRACT>);
    e[A_and_t - 1] = entry(&arith<MATH_AND>);
    e[A_complement - 1] = entry(&complement);
    e[A_or_t - 1] = entry(&arith<MATH_OR>);
    e[A_xor_t - 1] = entry(&arith<MATH_XOR>);
    e[A_length_q - 1] = entry(&length_q);
    e[A_pick - 1] = entry(&pick);
    e[A_reverse - 1] = entry(&reverse);
    datatype::register_type(ACTION_SLOTS + 3, T_tuple, 0, "tuple!", e);
}

// }==

} // namespace zyl::tuple
