// datatypes/binary_edit.cpp: the bytes of values, and binary! append, insert and change.
//
// An insertion measures its value first, which raises every error that writing could raise,
// and only then makes room and writes: an error leaves the binary as it was. Writing
// allocates nothing, so the room made stays where it is while the bytes go in. A value that
// shares the target's buffer is copied out first.
#include <algorithm>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/header_flags.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::binary {

// {== Internal functions

namespace {

inline bool is_block_kind(uint8_t t) { return t == T_block || t == T_paren || t == T_hash; }

// Bytes from the index of [b] to the tail, 0 past it.
inline uint32_t length_of(const cell* b) {
    uint32_t used = memory::buffer_of(b->w2)->used_bytes();
    return b->w1 < used ? used - b->w1 : 0;
}

// [n] cut to a [part] above 0.
inline uint64_t cut(uint64_t n, int64_t part) { return part > 0 && uint64_t(part) < n ? uint64_t(part) : n; }

[[noreturn]] void bad_value(const cell* value) {
    cell dt = datatype::make_value(T_binary);
    error::raise(error::cat_script, error::script_bad_to_arg, &dt, value);
}

[[noreturn]] void too_big() { error::raise(error::cat_internal, error::internal_no_memory); }

uint64_t walk(uint8_t* dest, const cell* value, int64_t part, bool only, bool write);

// The elements of block [value] from its index: without [only], [part] counts elements,
// each taken whole; with it, [part] counts bytes across them.
uint64_t walk_block(uint8_t* dest, const cell* value, int64_t part, bool only, bool write) {
    node_id n = value->w2;
    uint64_t count = series::length(n);
    if (value->w1 >= count) return 0;
    cycles::entry guard(n); // a block that holds itself ends in too-deep
    uint64_t elems = count - value->w1;
    if (!only) elems = cut(elems, part);
    int64_t budget = only && part > 0 ? part : -1;
    uint64_t total = 0;
    for (uint64_t i = 0; i < elems && budget != 0; i++) {
        cell e = reinterpret_cast<const cell*>(memory::buffer_of(n)->head)[value->w1 + i];
        uint64_t m = walk(dest ? dest + total : nullptr, &e, budget, only, write);
        total += m;
        if (budget > 0) budget -= int64_t(m);
    }
    return total;
}

// The UTF-8 of text [value] from its index, cut to [part].
uint64_t walk_text(uint8_t* dest, const cell* value, int64_t part, bool write) {
    uint32_t units = string::length_of(value);
    if (units == 0) return 0;
    series_buffer* b = memory::buffer_of(value->w2);
    uint32_t unit = string::unit_of(b);
    const uint8_t* start = b->head + (uint64_t(value->w1) << string::shift_of(unit));
    uint64_t size = unicode::utf8_size_of_range(start, start + (uint64_t(units) << string::shift_of(unit)), unit);
    uint64_t n = cut(size, part);
    if (!write) return n;
    if (n == size) return uint64_t(unicode::write_utf8(value, dest, -1, false));
    return uint64_t(unicode::write_utf8_bounded(value, dest, int64_t(n), -1, false));
}

// The bytes of [value]: measured, or written at [dest] when [write].
uint64_t walk(uint8_t* dest, const cell* value, int64_t part, bool only, bool write) {
    uint8_t t = value->type();
    switch (t) {
    case T_char_: {
        uint64_t n = cut(uint64_t(unicode::utf8_length_of(value->w2)), part);
        if (write) unicode::encode_utf8_bounded(value->w2, dest, int64_t(n));
        return n;
    }
    case T_integer: {
        auto v = static_cast<int32_t>(value->w2);
        if (v > 255 || v < -128) error::raise(error::cat_script, error::script_invalid_arg, value);
        if (write) *dest = static_cast<uint8_t>(v);
        return 1;
    }
    case T_binary: {
        uint64_t n = cut(length_of(value), part);
        if (write) std::memmove(dest, memory::buffer_of(value->w2)->head + value->w1, n);
        return n;
    }
    case T_tuple: {
        uint64_t n = cut((value->header & TUPLE_COUNT_MASK) >> TUPLE_COUNT_SHIFT, part);
        if (write) std::memcpy(dest, reinterpret_cast<const uint8_t*>(value) + 4, n);
        return n;
    }
    default: break;
    }
    if (is_block_kind(t)) return walk_block(dest, value, part, only, write);
    if (string::is_text_type(t)) return walk_text(dest, value, part, write);
    bad_value(value);
}

// Whether value_bytes takes [value] as it is (a block when every element is so).
bool is_direct(const cell* value) {
    uint8_t t = value->type();
    if (t == T_char_ || t == T_integer || t == T_binary || t == T_tuple || string::is_text_type(t)) return true;
    if (!is_block_kind(t)) return false;
    node_id n = value->w2;
    uint64_t count = series::length(n);
    cycles::entry guard(n);
    for (uint64_t i = value->w1; i < count; i++) {
        cell e = reinterpret_cast<const cell*>(memory::buffer_of(n)->head)[i];
        if (!is_direct(&e)) return false;
    }
    return true;
}

// Appends the bytes of [value] to binary [out], forming each value that has no bytes of
// its own. [value] must not lie in a series buffer.
void put_any(const cell* out, const cell* value) {
    if (is_block_kind(value->type())) {
        node_id n = value->w2;
        cycles::entry guard(n);
        for (uint64_t i = value->w1; i < series::length(n); i++) {
            cell e = reinterpret_cast<const cell*>(memory::buffer_of(n)->head)[i]; // the block keeps it alive
            put_any(out, &e);
        }
        return;
    }
    if (!is_direct(value)) {
        cell* text = string::push_new(16);
        actions::form_typed(value, text, nullptr, INT32_MAX);
        put_any(out, text);
        stack::pop(1);
        return;
    }
    uint64_t n = walk(nullptr, value, -1, false, false);
    uint8_t* at = series::alloc_tail_bytes(out->w2, n);
    walk(at, value, -1, false, true);
}

// Grows [n] so that [need] bytes fit from its head: to exactly [need] when that is at least
// twice the size, else to twice the size.
void reserve(node_id n, uint64_t need) {
    series_buffer* b = memory::buffer_of(n);
    if (uint64_t(b->end() - b->head) >= need) return;
    uint64_t size = b->size;
    series::expand(n, need >= 2 * size ? need : 2 * size);
}

// [count] x [dup] and [length] + that, checked against the largest buffer.
uint64_t checked_total(uint64_t count, int32_t dup, uint64_t length) {
    uint64_t d = uint64_t(dup);
    if (count > MAX_BUFFER_BYTES / d) too_big();
    uint64_t total = count * d;
    if (length + total > MAX_BUFFER_BYTES) too_big();
    return total;
}

// Whether [value] is a binary in buffer [n], or a block holding one.
bool refers_to(const cell* value, node_id n) {
    if (value->type() == T_binary) return value->w2 == n;
    if (!is_block_kind(value->type())) return false;
    node_id b = value->w2;
    cycles::entry guard(b);
    for (uint64_t i = value->w1; i < series::length(b); i++) {
        cell e = reinterpret_cast<const cell*>(memory::buffer_of(b)->head)[i];
        if (refers_to(&e, n)) return true;
    }
    return false;
}

// The [count] bytes of [value] (as [part] and [only] select them) copied into a new binary
// pushed on the stack: for a value that reads from the buffer about to change.
cell bytes_apart(const cell* value, uint64_t count, int64_t part, bool only) {
    cell* tmp = make_at(stack::push_slot(), uint32_t(count));
    series_buffer* b = memory::buffer_of(tmp->w2);
    walk(b->head, value, part, only, true);
    b->tail = b->head + count;
    return *tmp;
}

} // namespace

// }==
// {== Bytes of values

uint64_t value_bytes(uint8_t* dest, const cell* value, int32_t part, bool only, int32_t mode) {
    return walk(dest, value, part, only, mode == BYTES_WRITE);
}

// }==
// {== Action entries

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append) {
    uint32_t used = memory::buffer_of(series->w2)->used_bytes();
    if (series->w1 > used) series->w1 = used;
    uint32_t at = is_append ? used : series->w1;
    owner::tell_before(series, is_append ? words::loaded.append : words::global.insert,
        value, int32_t(at), 0);
    cell v = *value;
    uint64_t n = walk(nullptr, &v, part, only, false); // raises before anything changes
    if (n == 0 || dup < 1) {
        if (is_append) series->w1 = 0;
        return series;
    }
    uint64_t total = checked_total(n, dup, used);
    bool copied = refers_to(&v, series->w2);
    if (copied) {
        v = bytes_apart(&v, n, part, only);
        part = -1;
    }
    reserve(series->w2, used + total);
    series_buffer* b = memory::buffer_of(series->w2);
    uint8_t* dst = b->head + at;
    std::memmove(dst + total, dst, used - at);
    walk(dst, &v, part, only, true);
    if (dup > 1) memory::repeat_fill(dst, n, uint64_t(dup));
    b->tail = b->head + used + total;
    if (copied) stack::pop(1);
    owner::tell(series, is_append ? words::loaded.appended : words::loaded.inserted,
        value, int32_t(at), int32_t(total));
    series->w1 = is_append ? 0 : uint32_t(at + total);
    return series;
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t used = memory::buffer_of(series->w2)->used_bytes();
    if (series->w1 > used) series->w1 = used;
    uint32_t at = series->w1, after = used - at;
    owner::tell_before(series, words::loaded.change, value, int32_t(at), part > 0 ? part : 0);
    cell v = *value;
    uint32_t pushed = 0;
    if (!is_direct(&v)) {
        // Values without bytes of their own are formed: their bytes are made apart first.
        cell* tmp = make_at(stack::push_slot(), 16);
        pushed++;
        put_any(tmp, &v);
        v = *tmp;
    }
    uint64_t n = walk(nullptr, &v, -1, only, false);
    if (refers_to(&v, series->w2)) {
        v = bytes_apart(&v, n, -1, only);
        pushed++;
    }
    uint64_t ins = checked_total(n, std::max(dup, 1), used);
    uint32_t removed = part >= 0 ? std::min<uint32_t>(uint32_t(part), after) : uint32_t(std::min<uint64_t>(ins, after));
    uint64_t new_len = uint64_t(used) - removed + ins;
    reserve(series->w2, new_len);
    series_buffer* b = memory::buffer_of(series->w2);
    uint8_t* dst = b->head + at;
    if (ins != removed) std::memmove(dst + ins, dst + removed, after - removed);
    walk(dst, &v, -1, only, true);
    if (dup > 1 && n > 0) memory::repeat_fill(dst, n, uint64_t(dup));
    b->tail = b->head + new_len;
    stack::pop(pushed);
    owner::tell(series, words::loaded.changed, value, int32_t(at), int32_t(ins));
    series->w1 = uint32_t(std::min<uint64_t>(at + ins, new_len));
    return series;
}

// }==

} // namespace zyl::binary
