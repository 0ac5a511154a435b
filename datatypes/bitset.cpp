// datatypes/bitset.cpp: bitset!: the bits, the spec dialect, the set operations, the
// actions and the registration. Invariants: datatypes/bitset.h.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::bitset {

// {== Internal functions

namespace {

// The byte that stands for every position beyond the stored bytes.
inline uint8_t fill_byte(bool negated) { return negated ? 0xFF : 0x00; }

inline uint8_t mask_of(int64_t n) { return static_cast<uint8_t>(0x80 >> (n & 7)); }

// Whether [v] is a word! spelled [name] (in any letter case).
bool word_is(const cell* v, std::string_view name) {
    if (v->type() != T_word) return false;
    series_buffer* b = memory::buffer_of(symbol::entry_cell(symbol::resolve(v->w2))->w3);
    return b->used_bytes() == name.size() &&
           strncasecmp(reinterpret_cast<const char*>(b->head), name.data(), name.size()) == 0;
}

// The element [i] of block [blk]'s series (copied: the series may move).
inline cell element(const cell* blk, uint64_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(blk->w2)->head)[i];
}

[[noreturn]] void bad_spec(const cell* value, spec_kind kind) {
    cell dt = datatype::make_value(T_bitset);
    if (kind == KIND_MAKE) error::raise_bad_make_arg(&dt, value);
    if (kind == KIND_TO) error::raise(error::cat_script, error::script_bad_to_arg, &dt, value);
    error::raise(error::cat_script, error::script_invalid_arg, value);
}

// The position a char!, integer! or float! names; a negative one raises unless testing.
int64_t position_of(const cell* v, spec_op op) {
    int64_t n = v->type() == T_char_ ? int64_t(v->w2) : int64_t(string::detail::int_of(v));
    if (n < 0 && op != OP_TEST) error::raise(error::cat_script, error::script_out_of_range, v);
    return n;
}

// Sets ([on]) or clears the bits [lo, hi] of [bits], whose bytes hold them.
void fill_bits(uint8_t* bits, int64_t lo, int64_t hi, bool on) {
    for (; lo <= hi && (lo & 7); lo++) on ? bits[lo >> 3] |= mask_of(lo) : bits[lo >> 3] &= ~mask_of(lo);
    for (; lo + 7 <= hi; lo += 8) bits[lo >> 3] = fill_byte(on);
    for (; lo <= hi; lo++) on ? bits[lo >> 3] |= mask_of(lo) : bits[lo >> 3] &= ~mask_of(lo);
}

// Whether the bits [lo, hi] of [bits] are all set.
bool all_set(const uint8_t* bits, int64_t lo, int64_t hi) {
    for (; lo <= hi && (lo & 7); lo++)
        if (!(bits[lo >> 3] & mask_of(lo))) return false;
    for (; lo + 7 <= hi; lo += 8)
        if (bits[lo >> 3] != 0xFF) return false;
    for (; lo <= hi; lo++)
        if (!(bits[lo >> 3] & mask_of(lo))) return false;
    return true;
}

// [op] on the one position [n].
int64_t process_bit(const cell* bs, int64_t n, spec_op op) {
    if (op == OP_MEASURE) return n;
    if (op == OP_TEST) return has_q(bs, n);
    bool negated = is_negated(bs);
    // Beyond the stored bytes a negated set already holds n, and a plain one lacks it.
    if (beyond_q(bs, n) && negated == (op == OP_SET)) return 0;
    uint8_t* bits = ensure_bit(bs, n);
    if (op == OP_SET) bits[n >> 3] |= mask_of(n);
    else bits[n >> 3] &= ~mask_of(n);
    return 0;
}

// [op] on every position of [lo, hi] (lo <= hi).
int64_t process_range(const cell* bs, int64_t lo, int64_t hi, spec_op op) {
    if (op == OP_MEASURE) return hi;
    bool negated = is_negated(bs);
    int64_t last = int64_t(stored_bytes(bs)) * 8 - 1; // the last stored position
    if (op == OP_TEST) {
        if ((hi > last || lo < 0) && !negated) return 0;
        lo = std::max<int64_t>(lo, 0);
        return lo > std::min(hi, last) || all_set(bits_head(bs), lo, std::min(hi, last));
    }
    if (negated == (op == OP_SET)) hi = std::min(hi, last); // beyond is already as wanted
    else ensure_bit(bs, hi);
    if (lo <= hi) fill_bits(bits_head(bs), lo, hi, op == OP_SET);
    return 0;
}

// [op] on every code point of string [s] from its index.
int64_t process_string(const cell* s, const cell* bs, spec_op op) {
    uint32_t units = string::length_of(s);
    auto at = [s](uint32_t i) { return string::rs_abs_char_at(s, s->w1 + i); };
    if (op == OP_MEASURE) {
        int64_t high = -1;
        for (uint32_t i = 0; i < units; i++) high = std::max<int64_t>(high, at(i));
        return high;
    }
    if (op == OP_TEST) {
        for (uint32_t i = 0; i < units; i++)
            if (!has_q(bs, at(i))) return 0;
        return 1;
    }
    // Room for the highest code point first: the loop below then never allocates.
    if (is_negated(bs) == (op == OP_CLEAR) && units > 0) ensure_bit(bs, process_string(s, bs, OP_MEASURE));
    for (uint32_t i = 0; i < units; i++) process_bit(bs, at(i), op);
    return 0;
}

// [op] on each element of block [blk] from its index; `low - high` is a range.
int64_t process_block(const cell* blk, const cell* bs, spec_op op, spec_kind kind) {
    uint64_t count = series::length(blk->w2);
    int64_t high = -1;
    for (uint64_t i = blk->w1; i < count;) {
        cell e = element(blk, i++);
        int64_t r;
        bool ranged = (e.type() == T_char_ || e.type() == T_integer) && i < count;
        if (ranged) {
            cell next = element(blk, i);
            ranged = word_is(&next, "-");
        }
        if (ranged) {
            if (++i >= count) error::raise(error::cat_script, error::script_past_end);
            cell top = element(blk, i++);
            if (top.type() != e.type()) error::raise(error::cat_script, error::script_invalid_arg, &top);
            int64_t lo = position_of(&e, op), hi = position_of(&top, op);
            if (hi < lo) error::raise(error::cat_script, error::script_past_end);
            r = process_range(bs, lo, hi, op);
        } else {
            r = process_spec(&e, bs, op, kind);
        }
        if (op == OP_MEASURE) high = std::max(high, r);
        if (op == OP_TEST && !r) return 0;
    }
    return op == OP_MEASURE ? high : op == OP_TEST ? 1 : 0;
}

// Whether [data] stored by poke clears bits: none, false, 0 or 0.0.
bool clears_q(const cell* data) {
    switch (data->type()) {
    case T_none: return true;
    case T_logic: return data->w1 == 0;
    case T_integer: return data->w2 == 0;
    case T_float_: return data->w2 == 0 && (data->w3 & 0x7FFFFFFF) == 0;
    default: return false;
    }
}

// A new bitset in [out] with the bits of [bs] (inverted with [invert]) and [negated].
void copy_into(cell* out, const cell* bs, bool invert, bool negated) {
    cell src = *bs; // [out] may be [bs]
    collector::keep k_src(&src);
    uint32_t n = stored_bytes(&src);
    make_at(out, n, negated);
    uint8_t* to = bits_head(out);
    const uint8_t* from = bits_head(&src);
    for (uint32_t i = 0; i < n; i++) to[i] = invert ? uint8_t(~from[i]) : from[i];
}

// The flag of a result of [op] from operands flagged [a] and [b].
inline bool combine_flag(int32_t op, bool a, bool b) {
    switch (op) {
    case 5: case 9: return a || b;
    case 6: case 10: return a && b;
    case 11: return a && !b;
    default: return a != b;
    }
}

inline uint8_t combine(int32_t op, uint8_t a, uint8_t b) {
    switch (op) {
    case 5: case 9: return a | b;
    case 6: case 10: return a & b;
    case 11: return a & uint8_t(~b);
    default: return a ^ b;
    }
}

} // namespace

// }==
// {== Bits

uint8_t* bits_head(const cell* bs) { return memory::buffer_of(bs->w2)->head; }
uint8_t* bits_tail(const cell* bs) { return memory::buffer_of(bs->w2)->tail; }
uint32_t stored_bytes(const cell* bs) { return memory::buffer_of(bs->w2)->used_bytes(); }

bool beyond_q(const cell* bs, int64_t n) { return n < 0 || uint64_t(n >> 3) >= stored_bytes(bs); }

bool has_q(const cell* bs, int64_t n) {
    if (beyond_q(bs, n)) return is_negated(bs);
    return (bits_head(bs)[n >> 3] & mask_of(n)) != 0;
}

uint8_t* ensure_bit(const cell* bs, int64_t n) {
    ZYL_ASSERT(n >= 0);
    uint64_t need = uint64_t(n >> 3) + 1;
    series_buffer* b = memory::buffer_of(bs->w2);
    if (need <= b->used_bytes()) return b->head;
    if (need > uint64_t(b->end() - b->head)) {
        uint64_t grown = std::min<uint64_t>(std::max<uint64_t>(need, uint64_t(b->size) * 2), MAX_BUFFER_BYTES);
        b = series::expand(bs->w2, grown); // keeps the flags
    }
    memory::fill(b->tail, b->head + need, fill_byte(b->flags & NEGATED));
    b->tail = b->head + need;
    return b->head;
}

bool has_byte_q(const cell* bin, const cell* bs) {
    series_buffer* b = memory::buffer_of(bin->w2);
    if (bin->w1 >= b->used_bytes()) return false;
    return has_q(bs, b->head[bin->w1]);
}

// }==
// {== Spec dialect

int64_t process_spec(const cell* spec, const cell* bs, spec_op op, spec_kind kind) {
    switch (spec->type()) {
    case T_char_: case T_integer: case T_float_: return process_bit(bs, position_of(spec, op), op);
    case T_string: return process_string(spec, bs, op);
    case T_block: return process_block(spec, bs, op, kind);
    case T_binary: error::raise(error::cat_internal, error::internal_not_done);
    default: bad_spec(spec, kind);
    }
}

void apply_spec(const cell* spec, const cell* bs, bool clear, spec_kind kind) {
    cell s = *spec; // the spec's series stay rooted by the caller's cell
    int64_t high = process_spec(&s, bs, OP_MEASURE, kind);
    if (high >= 0 && (!clear || is_negated(bs))) ensure_bit(bs, high);
    process_spec(&s, bs, clear ? OP_CLEAR : OP_SET, kind);
}

cell* make_at(cell* c, uint32_t bytes, bool negated) {
    c->header = T_unset; // a collection in the allocation sees no half-made bitset
    node_id n = series::alloc_bytes(bytes);
    series_buffer* b = memory::buffer_of(n);
    memory::fill(b->head, b->head + bytes, fill_byte(negated));
    b->tail = b->head + bytes;
    if (negated) b->flags |= NEGATED;
    *c = cell{T_bitset, 0, n, 0};
    return c;
}

cell* make_from_spec(cell* result, const cell* spec, spec_kind kind) {
    cell s = *spec; // [result] may be [spec]
    collector::keep k_spec(&s);
    bool negated = false;
    if (s.type() == T_block && s.w1 < series::length(s.w2)) {
        cell first = element(&s, s.w1);
        if (word_is(&first, "not")) {
            negated = true;
            s.w1++;
            if (s.w1 < series::length(s.w2) && element(&s, s.w1).type() == T_binary) s = element(&s, s.w1);
        }
    }
    switch (s.type()) {
    case T_integer: case T_float_: {
        if (kind != KIND_MAKE) bad_spec(&s, kind);
        int32_t size = string::detail::int_of(&s);
        if (size < 0) error::raise(error::cat_script, error::script_out_of_range, &s);
        return make_at(result, uint32_t((int64_t(size) + 7) / 8), false);
    }
    case T_bitset: copy_into(result, &s, false, is_negated(&s)); return result;
    case T_binary: {
        uint32_t used = memory::buffer_of(s.w2)->used_bytes();
        uint32_t from = std::min(s.w1, used);
        make_at(result, used - from, negated);
        uint8_t* to = bits_head(result);
        const uint8_t* bytes = memory::buffer_of(s.w2)->head + from;
        for (uint32_t i = 0; i < used - from; i++) to[i] = negated ? uint8_t(~bytes[i]) : bytes[i];
        return result;
    }
    default: break;
    }
    int64_t high = process_spec(&s, nullptr, OP_MEASURE, kind);
    make_at(result, uint32_t(std::max<int64_t>((high + 8) / 8, 1)), negated);
    process_spec(&s, result, negated ? OP_CLEAR : OP_SET, kind);
    return result;
}

// }==
// {== Set operations

void do_bitwise(int32_t op) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (op == 8) return; // unique: the first argument as it is
    if (b->type() != T_bitset) {
        cell dt = datatype::make_value(b->type());
        error::raise(error::cat_script, error::script_invalid_type, &dt);
    }
    uint32_t la = stored_bytes(a), lb = stored_bytes(b);
    bool fa = is_negated(a), fb = is_negated(b);
    uint32_t len = std::max(la, lb);
    // and~ keeps the shorter length when the bytes past it are all out of the result.
    if (op == 6 && !(la < lb ? fa : fb)) len = std::min(la, lb);
    bool negated = combine_flag(op, fa, fb);
    cell* r = make_at(stack::push_slot(), len, negated); // both operands stay rooted in the frame
    uint8_t* out = bits_head(r);
    const uint8_t* pa = bits_head(a);
    const uint8_t* pb = bits_head(b);
    for (uint32_t i = 0; i < len; i++) {
        uint8_t x = i < la ? pa[i] : fill_byte(fa), y = i < lb ? pb[i] : fill_byte(fb);
        out[i] = combine(op, x, y);
    }
    *a = *r;
    stack::pop(1);
}

int32_t form_bits(const cell* bs, cell* buffer, bool limited, int32_t part, bool invert) {
    cell v = *bs; // the buffer grows while the bits are read
    uint32_t n = stored_bytes(&v);
    char digits[64];
    for (uint32_t i = 0; i < n;) {
        uint32_t k = 0, chunk = std::min<uint32_t>(32, n - i);
        const uint8_t* p = bits_head(&v) + i;
        bool spent = false;
        while (k < chunk && !spent) {
            std::string_view hex = string::byte_to_hex(invert ? uint8_t(~p[k]) : p[k]);
            std::memcpy(digits + 2 * k++, hex.data(), 2);
            part -= 2;
            spent = limited && part < 0;
        }
        string::concatenate_part(buffer, digits, 2 * k);
        i += k;
        if (spent) break;
    }
    return part;
}

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t) { return make_from_spec(proto, spec, KIND_MAKE); }
cell* to(cell* proto, cell* spec, uint8_t) { return make_from_spec(proto, spec, KIND_TO); }

cell* reflect(cell* value, const cell* field) {
    // Only `owned`: the owner object that `modify` gave the bitset, or none.
    if (!word_is(field, "owned")) error::raise(error::cat_internal, error::internal_not_done);
    const cell* o = owner::find(value->w2);
    return &(*value = o ? *o : none_value);
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value;
    bool negated = is_negated(&v);
    string::concatenate_literal(buffer, negated ? "make bitset! [not #{" : "make bitset! #{");
    part -= negated ? 20 : 15;
    part = form_bits(&v, buffer, arg != nullptr, part, negated);
    if (arg && part < 0) return part;
    string::concatenate_literal(buffer, negated ? "}]" : "}");
    return part - (negated ? 2 : 1);
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step&) {
    cell key = *element;
    if (key.type() != T_integer && key.type() != T_char_) {
        cell dt = datatype::make_value(key.type());
        error::raise(error::cat_script, error::script_invalid_type, &dt);
    }
    if (!set) return pick(value, 0, &key);
    cell data = *set;
    poke(value, 0, &key, &data);
    return &(*value = data);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_bitset) return -2;
    if (op == 9) return a->w2 == b->w2 ? 0 : 1;
    uint32_t la = stored_bytes(a), lb = stored_bytes(b);
    if (la != lb) return la < lb ? -1 : 1;
    bool fa = is_negated(a), fb = is_negated(b);
    if (fa != fb) return fa ? 1 : -1; // sets without stored bytes differ by their flag too
    const uint8_t* pa = bits_head(a);
    const uint8_t* pb = bits_head(b);
    for (uint32_t i = la; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return 0;
}

cell* negate(cell* value) { return complement(value); }

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

cell* complement(cell* value) {
    copy_into(value, value, true, !is_negated(value));
    return value;
}

cell* append(cell* series, cell* value, int32_t, bool, int32_t, bool) {
    owner::tell_before(series, words::loaded.append, value, 0, 0);
    apply_spec(value, series, false, KIND_OTHER);
    owner::tell(series, words::loaded.appended, value, 0, 0);
    return series;
}

cell* clear(cell* series) {
    // Every stored byte takes the flag's fill: a negated set keeps its flag and so every
    // position, a plain one becomes empty.
    owner::tell_before(series, words::loaded.clear, nullptr, 0, 0);
    series_buffer* b = memory::buffer_of(series->w2);
    memory::fill(b->head, b->tail, (b->flags & NEGATED) ? 0xFF : 0);
    owner::tell(series, words::loaded.cleared, nullptr, 0, 0);
    return series;
}

cell* copy(cell* series, const cell*, bool, const cell*) {
    copy_into(series, series, false, is_negated(series));
    return series;
}

cell* find(cell* series, cell* value, const cell*, bool, bool, bool, bool, const cell*, const cell*, bool, bool,
           bool, bool) {
    bool found = process_spec(value, series, OP_TEST, KIND_OTHER) != 0;
    return &(*series = found ? true_value : none_value);
}

int32_t length_q(const cell* value) {
    uint64_t bits = uint64_t(stored_bytes(value)) * 8;
    return bits > INT32_MAX ? INT32_MAX : int32_t(bits); // only a set reaching 2^31 saturates
}

cell* pick(cell* value, int32_t, const cell* at) {
    bool found = process_spec(at, value, OP_TEST, KIND_OTHER) != 0;
    return &(*value = found ? true_value : false_value);
}

cell* poke(cell* value, int32_t, const cell* at, cell* data) {
    owner::tell_before(value, words::loaded.poke, data, 0, 0);
    apply_spec(at, value, clears_q(data), KIND_OTHER);
    owner::tell(value, words::loaded.poked, data, 0, 0);
    return data;
}

cell* remove(cell* series, const cell*, const cell* key) {
    if (!key) error::raise(error::cat_script, error::script_missing_arg);
    // Removing takes the key's positions out, negated or not.
    owner::tell_before(series, words::global.remove, nullptr, 0, 0);
    apply_spec(key, series, true, KIND_OTHER);
    owner::tell(series, words::loaded.removed, nullptr, 0, 0);
    return series;
}

cell* modify(cell* target, const cell* field, cell* value, bool) {
    // Only `owned` means something: none releases the bitset, [owner word] gives it an owner.
    if (field->type() >= T_word && field->type() <= T_refinement && words::sym.owned &&
        symbol::resolve(field->w2) == symbol::resolve(words::sym.owned))
        owner::modify_owned(target, value);
    return target;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),       // make
        nullptr,            // random
        entry(&reflect),    // reflect
        entry(&to),         // to
        entry(&form),       // form
        entry(&mold),       // mold
        entry(&eval_path),  // eval-path
        nullptr,            // set-path
        entry(&compare),    // compare
        nullptr,            // absolute
        nullptr, nullptr, nullptr, // add divide multiply
        entry(&negate),     // negate
        nullptr, nullptr, nullptr, nullptr, // power remainder round subtract
        nullptr, nullptr,   // even? odd?
        entry(&and_t),      // and~
        entry(&complement), // complement
        entry(&or_t),       // or~
        entry(&xor_t),      // xor~
        entry(&append),     // append
        nullptr, nullptr, nullptr, // at back change
        entry(&clear),      // clear
        entry(&copy),       // copy
        entry(&find),       // find
        nullptr, nullptr, nullptr, // head head? index?
        entry(&append),     // insert
        entry(&length_q),   // length?
        nullptr, nullptr,   // move next
        entry(&pick),       // pick
        entry(&poke),       // poke
        nullptr,            // put
        entry(&remove),     // remove
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // reverse .. take
        nullptr,            // trim
        nullptr, nullptr, nullptr, // create close delete
        entry(&modify),     // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_bitset, 0, "bitset!", entries);
}

// }==

} // namespace zyl::bitset
