// datatypes/binary.cpp: binary! makers and byte accessors, comparison and matching, molding,
// the bitwise actions, complement, trim and the registration. Insertion and change are in
// datatypes/binary_edit.cpp, conversions and the base codecs on values in binary_convert.cpp.
// Invariants: datatypes/binary.h.
#include "datatypes/binary.h"

#include <algorithm>
#include <cstring>

#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::binary {

// {== Internal functions

namespace {

// Bytes from the index of [b] to the tail, 0 past it; [b] is not changed.
inline uint32_t length_of(const cell* b) {
    uint32_t used = memory::buffer_of(b->w2)->used_bytes();
    return b->w1 < used ? used - b->w1 : 0;
}

// Address of the byte at the index of [b]; the index must not lie past the tail.
inline const uint8_t* at_index(const cell* b) { return memory::buffer_of(b->w2)->head + b->w1; }

inline int32_t order(uint32_t x, uint32_t y) { return x < y ? -1 : x > y ? 1 : 0; }

// The operators that ask for equality only: equal, not-equal, strict-equal and find.
inline bool asks_equality(int32_t op) { return op == 0 || op == 1 || op == 2 || op == 12; }

// The bytes that an operand of compare_bytes stands for: a binary's bytes, or the UTF-8 of a
// text, produced one at a time without allocating.
struct byte_source {
    const uint8_t* p; // next unit
    uint32_t unit;    // 0 for raw bytes
    uint8_t buf[4];   // the UTF-8 of the code point being read
    int len = 0;
    int pos = 0;

    uint8_t next() {
        if (unit == 0) return *p++;
        if (pos == len) {
            len = unicode::encode_utf8(string::get_char(p, unit), buf);
            p += unit;
            pos = 0;
        }
        return buf[pos++];
    }
};

// The source of [other] (binary or text) and its length in bytes.
byte_source source_of(const cell* other, uint64_t& length) {
    if (other->type() == T_binary) {
        length = length_of(other);
        return byte_source{at_index(other), 0, {}};
    }
    series_buffer* b = memory::buffer_of(other->w2);
    uint32_t unit = string::unit_of(b);
    uint32_t units = string::length_of(other);
    const uint8_t* start = b->head + (uint64_t(other->w1) << string::shift_of(unit));
    length = units ? unicode::utf8_size_of_range(start, start + (uint64_t(units) << string::shift_of(unit)), unit) : 0;
    return byte_source{start, unit, {}};
}

// Compares [n] bytes of [a] with those of [src]; 0 when equal, else the order of the first
// differing pair.
int32_t compare_run(const uint8_t* a, byte_source& src, uint64_t n) {
    if (n == 0) return 0;
    if (src.unit == 0) {
        int r = std::memcmp(a, src.p, n);
        return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    for (uint64_t i = 0; i < n; i++) {
        uint8_t x = a[i], y = src.next();
        if (x != y) return order(x, y);
    }
    return 0;
}

// Appends a line break and [level] indentation steps of four spaces to [out].
void new_line(cell* out, int32_t level, int32_t& part) {
    string::concatenate_literal(out, "\n");
    part -= 1;
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(out, "    ");
    part -= 4 * std::max(level, 0);
}

// Combines [a] and [b] under [op] (5 or, 6 and, 7 xor).
inline uint8_t combine(int32_t op, uint8_t a, uint8_t b) {
    return op == MATH_AND ? uint8_t(a & b) : op == MATH_OR ? uint8_t(a | b) : uint8_t(a ^ b);
}

// Removes the zero bytes at the start ([head]) and the end ([tail]) of [s] from its index;
// with neither, at both.
void trim_zeros(cell* s, bool head, bool tail) {
    uint32_t n = rs_length_q(s);
    series_buffer* b = memory::buffer_of(s->w2);
    uint8_t* p = b->head + s->w1;
    uint32_t start = 0, end = n;
    if (head || !tail)
        while (start < end && p[start] == 0) start++;
    if (tail || !head)
        while (end > start && p[end - 1] == 0) end--;
    std::memmove(p, p + start, end - start);
    b->tail = p + (end - start);
}

} // namespace

// }==
// {== Makers

cell* make_at(cell* c, uint32_t capacity) {
    c->header = T_unset; // a collection in the allocation sees no half-made binary
    node_id n = series::alloc_bytes(capacity);
    *c = cell{T_binary, 0, n, 0};
    return c;
}

cell* make_in(node_id block, uint32_t capacity) {
    cell* tmp = make_at(stack::push_slot(), capacity); // rooted while the block grows
    cell* c = series::append_unset_cell(block);
    *c = *tmp;
    stack::pop(1);
    return c;
}

cell* load(const uint8_t* src, uint32_t length, node_id block) {
    auto* p = const_cast<uint8_t*>(src);
    cell* tmp;
    {
        collector::pin pin_src(&p);
        tmp = make_at(stack::push_slot(), length);
    }
    series_buffer* b = memory::buffer_of(tmp->w2);
    if (length) std::memcpy(b->head, p, length);
    b->tail = b->head + length;
    if (!block) return tmp;
    cell* c = series::append_unset_cell(block);
    *c = *tmp;
    stack::pop(1);
    return c;
}

cell* push_from_buffer(const uint8_t* src, uint32_t length) { return load(src, length, 0); }

// }==
// {== Byte accessors

uint32_t rs_length_q(cell* b) {
    uint32_t used = memory::buffer_of(b->w2)->used_bytes();
    if (b->w1 > used) b->w1 = used;
    return used - b->w1;
}

uint8_t* head_pointer(cell* b) {
    rs_length_q(b);
    return memory::buffer_of(b->w2)->head + b->w1;
}

uint8_t* rs_tail(const cell* b) { return memory::buffer_of(b->w2)->tail; }

bool rs_tail_q(const cell* b) { return length_of(b) == 0; }

void rs_clear(cell* b) { memory::buffer_of(b->w2)->tail = head_pointer(b); }

bool rs_skip(cell* b, int32_t n) {
    uint32_t used = memory::buffer_of(b->w2)->used_bytes();
    int64_t to = int64_t(b->w1) + n;
    if (to >= 0 && to <= used) b->w1 = uint32_t(to);
    return b->w1 >= used;
}

uint8_t byte_at(const cell* b, uint32_t pos) { return memory::buffer_of(b->w2)->head[pos]; }

// }==
// {== Writing bytes

uint8_t* append_bytes(const cell* b, const uint8_t* src, uint32_t length) {
    auto* p = const_cast<uint8_t*>(src);
    collector::pin pin_src(&p);
    uint8_t* at = series::alloc_tail_bytes(b->w2, length);
    if (length) std::memcpy(at, p, length);
    return at;
}

void insert_bytes(const cell* b, uint32_t offset, const uint8_t* src, uint32_t length) {
    auto* p = const_cast<uint8_t*>(src);
    collector::pin pin_src(&p);
    series_buffer* buf = memory::buffer_of(b->w2);
    if (uint64_t(buf->end() - buf->head) < uint64_t(buf->used_bytes()) + length)
        buf = series::expand(b->w2, uint64_t(length) + 2 * uint64_t(buf->size));
    uint32_t pos = uint32_t(std::min<uint64_t>(uint64_t(b->w1) + offset, buf->used_bytes()));
    uint8_t* at = buf->head + pos;
    std::memmove(at + length, at, buf->tail - at);
    if (length) std::memcpy(at, p, length);
    buf->tail += length;
}

void overwrite_bytes(const cell* b, uint32_t offset, const uint8_t* src, uint32_t length) {
    auto* p = const_cast<uint8_t*>(src);
    collector::pin pin_src(&p);
    uint64_t pos = uint64_t(b->w1) + offset;
    series_buffer* buf = memory::buffer_of(b->w2);
    if (uint64_t(buf->end() - buf->head) < pos + length) buf = series::expand(b->w2, pos + length);
    uint8_t* at = buf->head + pos;
    if (at > buf->tail) std::memset(buf->tail, 0, at - buf->tail); // no stale bytes in the gap
    if (length) std::memcpy(at, p, length);
    if (at + length > buf->tail) buf->tail = at + length;
}

void append_int32_be(uint32_t value, const cell* b) {
    series_buffer* buf = memory::buffer_of(b->w2);
    ZYL_ASSERT(buf->tail + 4 <= buf->end());
    uint8_t* t = buf->tail;
    t[0] = uint8_t(value >> 24);
    t[1] = uint8_t(value >> 16);
    t[2] = uint8_t(value >> 8);
    t[3] = uint8_t(value);
    buf->tail += 4;
}

void poke_value(uint8_t* at, const cell* value) {
    if (value->type() != T_integer && value->type() != T_char_)
        error::raise(error::cat_script, error::script_invalid_arg, value);
    *at = static_cast<uint8_t>(value->w2);
}

// }==
// {== Comparison and matching

int32_t compare_bytes(const cell* b, const cell* other, int32_t op, bool match) {
    uint8_t t = other->type();
    if (t != T_binary && !string::is_text_type(t)) return -2;
    if (t == T_binary && other->w2 == b->w2 && other->w1 == b->w1 && (op == 9 || asks_equality(op))) return 0;
    if (op == 9) return -1;
    uint64_t la = length_of(b), lb;
    byte_source src = source_of(other, lb);
    const uint8_t* pa = la ? at_index(b) : nullptr;
    if (match) {
        if (lb == 0) return op == 0 || op == 2 || op == 12 ? 0 : 1;
        if (la < lb) return 1; // never read past the binary's tail
        return compare_run(pa, src, lb);
    }
    if (la != lb && asks_equality(op)) return 1;
    if (la == 0 && lb == 0) return 0;
    int32_t r = compare_run(pa, src, std::min(la, lb));
    if (r != 0) return r;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

bool match_value_q(const cell* b, const cell* other, int32_t op) {
    uint8_t t = other->type();
    if (t == T_binary || string::is_text_type(t)) return compare_bytes(b, other, op, true) == 0;
    if (t == T_char_) return length_of(b) > 0 && *at_index(b) == other->w2;
    return false;
}

// }==
// {== Molding

int32_t serialize(const cell* b, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
                  int32_t indent) {
    (void)all;
    if (!only) {
        string::concatenate_literal(buffer, "#{");
        part -= 2;
    }
    cell v = *b; // [b] may lie in a buffer that grows while the text is written
    uint32_t len = length_of(&v);
    bool lines = len > 30 && !flat;
    if (lines) new_line(buffer, indent + 1, part);
    char digits[64];
    for (uint32_t i = 0; i < len;) {
        // One line of up to 32 bytes; the bytes are read again after every write.
        uint32_t n = std::min<uint32_t>(32 - i % 32, len - i);
        const uint8_t* p = at_index(&v) + i;
        uint32_t k = 0;
        bool spent = false;
        while (k < n && !spent) {
            std::string_view hex = string::byte_to_hex(p[k++]);
            std::memcpy(digits + 2 * (k - 1), hex.data(), 2);
            part -= 2;
            spent = arg && part <= 0;
        }
        string::concatenate_part(buffer, digits, 2 * k);
        i += k;
        if (spent) return part;
        if (i % 32 == 0 && !flat) new_line(buffer, indent + 1, part);
    }
    if (lines && len % 32 != 0) new_line(buffer, indent, part);
    if (!only) {
        string::concatenate_literal(buffer, "}");
        part -= 1;
    }
    return part;
}

// }==
// {== Action entries

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return serialize(value, buffer, false, false, false, arg, part, 0);
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    return serialize(value, buffer, only, all, flat, arg, part, indent);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_binary) return -2;
    return compare_bytes(a, b, op, false);
}

void do_bitwise(int32_t op) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (b->type() != T_binary) error::raise(error::cat_script, error::script_invalid_arg, b);
    uint32_t la = length_of(a), lb = length_of(b);
    uint32_t common = std::min(la, lb), total = std::max(la, lb);
    node_id r = series::alloc_bytes(total); // both operands stay rooted in the frame
    uint8_t* out = memory::buffer_of(r)->head;
    const uint8_t* pa = at_index(a);
    const uint8_t* pb = at_index(b);
    for (uint32_t i = 0; i < common; i++) out[i] = combine(op, pa[i], pb[i]);
    const uint8_t* longer = la > lb ? pa : pb;
    if (op == MATH_AND) std::memset(out + common, 0, total - common);
    else std::memcpy(out + common, longer + common, total - common);
    memory::buffer_of(r)->tail = out + total;
    *a = cell{T_binary, 0, r, 0};
}

void and_t() { do_bitwise(MATH_AND); }
void or_t() { do_bitwise(MATH_OR); }
void xor_t() { do_bitwise(MATH_XOR); }

cell* complement(cell* value) {
    uint32_t n = rs_length_q(value);
    uint8_t* p = memory::buffer_of(value->w2)->head + value->w1;
    for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(~p[i]);
    return value;
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with) {
    if (all && !with) {
        cell zero = integer::make_value(0); // the one byte /all removes
        return string::trim(series, false, false, false, false, true, &zero);
    }
    if (with) return string::trim(series, false, false, false, false, all, with);
    if (auto_ || lines) error::raise(error::cat_internal, error::internal_not_done);
    uint32_t before = rs_length_q(series);
    owner::tell_before(series, words::loaded.trim, nullptr, int32_t(series->w1), 0);
    trim_zeros(series, head, tail);
    owner::tell(series, words::loaded.trimmed,
        nullptr, int32_t(series->w1), int32_t(before - rs_length_q(series)));
    return series;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        ZYL_INHERIT,         // make
        ZYL_INHERIT,         // random
        ZYL_INHERIT,         // reflect
        entry(&to),          // to
        entry(&form),        // form
        entry(&mold),        // mold
        ZYL_INHERIT,         // eval-path
        nullptr,             // set-path
        entry(&compare),     // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,    // even? odd?
        entry(&and_t),       // and~
        entry(&complement),  // complement
        entry(&or_t),        // or~
        entry(&xor_t),       // xor~
        entry(&append),      // append
        ZYL_INHERIT,         // at
        ZYL_INHERIT,         // back
        entry(&change),      // change
        ZYL_INHERIT,         // clear
        ZYL_INHERIT,         // copy
        ZYL_INHERIT,         // find
        ZYL_INHERIT,         // head
        ZYL_INHERIT,         // head?
        ZYL_INHERIT,         // index?
        entry(&append),      // insert
        ZYL_INHERIT,         // length?
        ZYL_INHERIT,         // move
        ZYL_INHERIT,         // next
        ZYL_INHERIT,         // pick
        ZYL_INHERIT,         // poke
        nullptr,             // put
        ZYL_INHERIT,         // remove
        ZYL_INHERIT,         // reverse
        ZYL_INHERIT,         // select
        ZYL_INHERIT,         // sort
        ZYL_INHERIT,         // skip
        ZYL_INHERIT,         // swap
        ZYL_INHERIT,         // tail
        ZYL_INHERIT,         // tail?
        ZYL_INHERIT,         // take
        entry(&trim),        // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,         // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_binary, T_string, "binary!", entries);
}

// }==

} // namespace zyl::binary
