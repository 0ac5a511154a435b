// runtime/hashtable_values.cpp: the hash of a value by its datatype, and the comparison the
// tables use to tell equal values apart.
//
// Values that refer to series hash by reference (index and node id), so they hash alike
// exactly when they are the same value; scalars hash their payload; text hashes its
// characters one code point per 32-bit block, folded to upper case, so the hash does not
// depend on the unit width the text is stored at, nor (by default) on letter case.
#include <algorithm>
#include <cstring>

#include "datatypes/date.h"
#include "datatypes/header_flags.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/hashtable.h"
#include "runtime/murmur.h"
#include "runtime/unicode_text.h"

namespace zyl::hashtable {

namespace {

// murmur3 of [count] payload words of [v] from word [first].
uint32_t words_hash(const cell* v, int first, int count) {
    return hash::murmur3(reinterpret_cast<const uint8_t*>(v) + first * 4, size_t(count) * 4);
}

// The code points from [p] to [end], [unit] bytes each, mixed in one per block, upper-cased
// unless [exact]; the length hashed is 4 bytes a code point.
template <typename Read> uint32_t text_run(const uint8_t* p, const uint8_t* end, uint32_t unit, bool exact, Read read) {
    uint32_t h = hash::seed();
    uint32_t n = 0;
    for (; p < end; p += unit, n++) {
        uint32_t cp = read(p);
        h = hash::mix_block(h, exact ? cp : unicode::case_fold(cp, true));
    }
    return hash::finish(h, n * 4);
}

uint32_t text_hash(const cell* v, bool exact) {
    int64_t max = -1;
    if (v->type() == T_TEXT_KEY && static_cast<int32_t>(v->w3) >= 0) max = static_cast<int32_t>(v->w3);
    unicode::text::range r = unicode::text::range_of(v, max);
    switch (r.unit) {
    case 1: return text_run(r.start, r.end, 1, exact, [](const uint8_t* p) { return uint32_t(*p); });
    case 2: return text_run(r.start, r.end, 2, exact, [](const uint8_t* p) { return unicode::text::get(p, 2); });
    default: return text_run(r.start, r.end, 4, exact, [](const uint8_t* p) { return unicode::text::get(p, 4); });
    }
}

// The bytes of a binary! from its index (clamped to the tail) to the tail.
uint32_t binary_hash(const cell* v) {
    series_buffer* b = memory::buffer_of(v->w2);
    uint32_t used = b->used_bytes();
    uint32_t index = std::min(v->w1, used);
    return hash::murmur3(b->head + index, used - index);
}

// The element bytes of a tuple!: as many as its count, which a cell holds 12 of at most.
uint32_t tuple_hash(const cell* v) {
    uint32_t count = (v->header & TUPLE_COUNT_MASK) >> TUPLE_COUNT_SHIFT;
    return hash::murmur3(&v->w1, std::min<uint32_t>(count, 12));
}

// A money! with its header cut to the datatype and the sign: other flags change nothing.
uint32_t money_hash(const cell* v) {
    cell c = *v;
    c.header &= CELL_TYPE_MASK | MONEY_NEGATIVE;
    return hash::murmur3(&c, sizeof c);
}

// A date by its instant, so dates that compare equal across zones hash alike.
uint32_t date_hash(const cell* v) {
    double instant = date::instant_of(v);
    if (instant == 0) instant = 0; // -0.0 and 0.0 are one instant
    return hash::murmur3(&instant, sizeof instant);
}

// -0.0 equals 0.0, so both hash as 0.0: one key for map! and hash!.
uint32_t double_hash(const cell* v) {
    cell c = *v;
    if (c.w2 == 0 && c.w3 == 0x80000000u) c.w3 = 0;
    return words_hash(&c, 2, 2);
}

// The [count] 32-bit float components from word 1, each -0.0 hashed as 0.0.
uint32_t floats_hash(const cell* v, int count) {
    cell c = *v;
    uint32_t* w = &c.w1;
    for (int i = 0; i < count; i++)
        if (w[i] == 0x80000000u) w[i] = 0;
    return words_hash(&c, 1, count);
}

uint32_t symbol_hash(const cell* v) {
    series_buffer* b = memory::buffer_of(v->w3);
    return hash::murmur3_lower(b->head, b->used_bytes());
}

} // namespace

uint32_t hash_value(const cell* v, bool case_sensitive) {
    switch (v->type()) {
    case T_none: return 0xFFFFFFFF;
    case T_unset: return 0xFFFFFFFE;
    case T_datatype: case T_logic: case T_object: case T_error: case T_port:
        return hash::mix32(v->w1);
    case T_char_: case T_integer: case T_map: case T_handle: case T_event:
        return hash::mix32(v->w2);
    case T_native: case T_action: return hash::mix32(v->w3);
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement: case T_issue:
        return hash::mix32(symbol::resolve(v->w2));
    case T_symbol: return symbol_hash(v);
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref: case T_TEXT_KEY:
        return text_hash(v, case_sensitive);
    case T_float_: case T_percent: case T_time: return double_hash(v);
    case T_pair: return words_hash(v, 2, 2);
    // A point3D! is x, y, z in words 1-3: its hash covers those and nothing past the cell.
    case T_point2d: return floats_hash(v, 2);
    case T_point3d: return floats_hash(v, 3);
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_hash: case T_image:
        return words_hash(v, 1, 2);
    case T_op: case T_function: case T_triple: case T_typeset: return words_hash(v, 1, 3);
    case T_date: return date_hash(v);
    case T_tuple: return tuple_hash(v);
    case T_binary: return binary_hash(v);
    case T_money: return money_hash(v);
    default: return 0;
    }
}

bool equal_under(const cell* a, const cell* b, int32_t op) { return actions::compare(a, b, op); }

} // namespace zyl::hashtable
