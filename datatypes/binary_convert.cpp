// datatypes/binary_convert.cpp: to binary! from other values, binaries from issues, and the
// base codecs on values that enbase and debase call.
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::binary {

// {== Internal functions

namespace {

// Bytes from the index of [b] to the tail, 0 past it.
inline uint32_t length_of(const cell* b) {
    uint32_t used = memory::buffer_of(b->w2)->used_bytes();
    return b->w1 < used ? used - b->w1 : 0;
}

// Makes [out] a binary! holding the [n] bytes of [v] (as value_bytes gives them).
void from_value(cell* out, const cell* v, uint64_t n) {
    make_at(out, uint32_t(n));
    series_buffer* b = memory::buffer_of(out->w2);
    value_bytes(b->head, v, -1, false, BYTES_WRITE);
    b->tail = b->head + n;
}

// Makes [out] a binary! holding the [n] big-endian bytes of [bits].
void from_bits(cell* out, uint64_t bits, uint32_t n) {
    make_at(out, n);
    series_buffer* b = memory::buffer_of(out->w2);
    for (uint32_t i = 0; i < n; i++) b->head[i] = static_cast<uint8_t>(bits >> (8 * (n - 1 - i)));
    b->tail = b->head + n;
}

// Makes [out] a binary! holding the stored bytes of bitset [bs], its flags left behind.
void from_bitset(cell* out, const cell* bs) {
    uint32_t n = memory::buffer_of(bs->w2)->used_bytes();
    make_at(out, n);
    series_buffer* b = memory::buffer_of(out->w2);
    std::memcpy(b->head, memory::buffer_of(bs->w2)->head, n);
    b->tail = b->head + n;
}

// Raises invalid-arg for a base that has no codec.
void check_base(int32_t base, const cell* base_cell) {
    if (base == 2 || base == 16 || base == 58 || base == 64) return;
    cell b = base_cell ? *base_cell : cell{T_integer, 0, uint32_t(base), 0};
    error::raise(error::cat_script, error::script_invalid_arg, &b);
}

} // namespace

// }==
// {== Conversions

uint32_t from_issue(const cell* issue, cell* result, bool measure_only) {
    cell is = *issue; // [result] may be [issue]
    node_id name = symbol::name_string(is.w2)->w2;
    series_buffer* b = memory::buffer_of(name);
    uint32_t unit = string::unit_of(b);
    uint32_t length = b->used_bytes() >> string::shift_of(unit);
    if (measure_only) return length;
    node_id n = decode_16(b->head, length, unit); // the symbol table keeps the name alive
    if (!n) error::raise(error::cat_script, error::script_invalid_data, &is);
    *result = cell{T_binary, 0, n, 0};
    return length;
}

cell* to(cell* proto, cell* spec, uint8_t type) {
    (void)type;
    cell v = *spec; // [proto] may be [spec]: the value stays rooted by the guard
    collector::keep k_v(&v);
    switch (v.type()) {
    case T_integer: from_bits(proto, v.w2, 4); break;
    case T_float_: case T_percent: from_bits(proto, uint64_t(v.w3) << 32 | v.w2, 8); break;
    case T_issue: from_issue(&v, proto, false); break;
    case T_bitset: from_bitset(proto, &v); break;
    case T_block: case T_paren: case T_hash:
        make_at(proto, 16);
        append(proto, &v, -1, false, 1, true);
        break;
    case T_char_: case T_tuple: case T_binary:
        from_value(proto, &v, value_bytes(nullptr, &v, -1, false, BYTES_MEASURE));
        break;
    default: {
        if (!string::is_text_type(v.type())) {
            cell dt = datatype::make_value(T_binary);
            error::raise(error::cat_script, error::script_bad_to_arg, &dt, &v);
        }
        from_value(proto, &v, value_bytes(nullptr, &v, -1, false, BYTES_MEASURE));
        break;
    }
    }
    proto->w1 = 0;
    return proto;
}

// }==
// {== Base codecs on values

cell* enbase(cell* out, const cell* value, int32_t base, const cell* base_cell) {
    check_base(base, base_cell);
    cell v = *value; // [out] may be [value]
    collector::keep k_v(&v);
    uint32_t pushed = 0;
    if (v.type() != T_binary) {
        if (!string::is_text_type(v.type())) error::raise(error::cat_script, error::script_invalid_arg, &v);
        v = *to(stack::push(&none_value), &v, T_binary); // its UTF-8, rooted on the stack
        pushed = 1;
    }
    uint32_t n = length_of(&v);
    uint64_t size;
    if (!encoded_size(base, n, size)) error::raise(error::cat_script, error::script_too_long);
    string::make_at(out, uint32_t(size));
    const uint8_t* src = memory::buffer_of(v.w2)->head + (n ? v.w1 : 0);
    series_buffer* b = memory::buffer_of(out->w2);
    uint8_t* end = base == 2    ? encode_2(b->head, src, n)
                   : base == 16 ? encode_16(b->head, src, n)
                   : base == 58 ? encode_58(b->head, src, n)
                                : encode_64(b->head, src, n);
    b->tail = end;
    stack::pop(pushed);
    return out;
}

cell* debase(cell* out, const cell* value, int32_t base, const cell* base_cell) {
    check_base(base, base_cell);
    cell v = *value; // [out] may be [value]
    collector::keep k_v(&v);
    if (!string::is_text_type(v.type())) error::raise(error::cat_script, error::script_invalid_arg, &v);
    uint32_t units = string::length_of(&v);
    series_buffer* b = memory::buffer_of(v.w2);
    uint32_t unit = string::unit_of(b);
    const uint8_t* text = b->head + (units ? uint64_t(v.w1) << string::shift_of(unit) : 0);
    node_id n = base == 2    ? decode_2(text, units, unit)
                : base == 16 ? decode_16(text, units, unit)
                : base == 58 ? decode_58(text, units, unit)
                             : decode_64(text, units, unit);
    *out = n ? cell{T_binary, 0, n, 0} : none_value;
    return out;
}

// }==

} // namespace zyl::binary
