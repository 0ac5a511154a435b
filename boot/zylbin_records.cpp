// boot/zylbin_records.cpp: the Zylbin readers of scalars and series: every scalar payload,
// the block family and hash!, the texts, binary!, bitset!, vector!, image! and map!, with the
// sharing references (0xC1) each allows. Format: boot/zylbin_reader.h.
#include <algorithm>
#include <bit>
#include <cstring>

#include "boot/zylbin_reader.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/values.h"

namespace zyl::zylbin {

namespace {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;
constexpr uint32_t MAX_IMAGE_SIDE = 65535;
constexpr uint32_t TYPESET_BYTES = 12;
constexpr uint32_t TUPLE_MAX = 12;
constexpr uint32_t DATE_HAS_TIME = 0x10000;

bool is_text_family(uint8_t t) {
    return t == T_string || t == T_file || t == T_url || t == T_tag || t == T_email || t == T_ref;
}

// The shared target of a C1 reference, which must be of the record's family.
cell shared_target(decoder& d, bool (*family)(uint8_t)) {
    const uint8_t* at = d.p;
    cell c = read_path_target(d);
    if (!family(c.type())) invalid_at(d, at);
    cells::clear_new_line(&c);
    return c;
}

// Appends [v] to [into]; [v] holds a fresh series that only it refers to, so it is kept
// across the append's growth.
void append_fresh(node_id into, cell v) {
    collector::keep k{&v};
    series::append_value(into, v);
}

void check_index(decoder& d, uint32_t index, uint64_t length, const uint8_t* at) {
    if (index > length) invalid_at(d, at);
}

// Appends a C1 copy of a series with [index] and, unless [keep_type], the record's [type].
void append_shared(decoder& d, node_id into, uint8_t type, uint32_t index, bool keep_type,
                   bool (*family)(uint8_t)) {
    const uint8_t* at = d.p;
    cell c = shared_target(d, family);
    check_index(d, index, series::length(c.w2), at);
    if (!keep_type) cells::set_type(&c, type);
    c.w1 = index;
    series::append_value(into, c);
}

// Reads a series record's index (F set) into [*index]; with a reference (C1) appends the
// shared series and answers true: the record is done.
bool read_index_or_share(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes, bool keep_type,
                         bool (*family)(uint8_t), uint32_t* index) {
    *index = f ? read_varint(d) : 0;
    if (!(notes & NOTE_REFERENCE)) return false;
    append_shared(d, into, type, *index, keep_type, family);
    return true;
}

// A byte series of [n] bytes copied from the input.
node_id read_bytes(decoder& d, uint64_t n) {
    need(d, n);
    node_id s = series::alloc_bytes(n);
    series_buffer* b = memory::buffer_of(s);
    if (n) std::memcpy(b->head, d.p, n);
    b->tail = b->head + n;
    d.p += n;
    return s;
}

// Reads [n] records into the block at position [pos] of [into] (kept alive by [into]).
void fill_block(decoder& d, node_id block_node, uint32_t n) {
    for (uint32_t k = 0; k < n; k++) read_record(d, block_node);
}

// A cell of [into] at [pos] handed to a construction point as a rooted copy, then stored back.
template <typename F> void construct_at(node_id into, uint32_t pos, F make) {
    cell v = block::cells_of(into)[pos];
    collector::keep k{&v};
    make(&v);
    block::cells_of(into)[pos] = v;
}

bool is_block_family(uint8_t t) { return series::is_any_block(t) && t != T_hash; }
bool is_hash(uint8_t t) { return t == T_hash; }
bool is_binary(uint8_t t) { return t == T_binary; }
bool is_vector(uint8_t t) { return t == T_vector; }
bool is_image(uint8_t t) { return t == T_image; }
bool is_bitset(uint8_t t) { return t == T_bitset; }
bool is_map(uint8_t t) { return t == T_map; }

} // namespace

// {== Scalars

void read_scalar(decoder& d, node_id into, uint8_t type, bool f) {
    const uint8_t* at = d.p;
    cell v;
    switch (type) {
    case T_datatype: {
        uint32_t id = read_varint(d);
        if (id == 0 || id >= MAX_TYPES || !datatype::reg.names[id].name) invalid_at(d, at);
        v = datatype::make_value(uint8_t(id));
        break;
    }
    case T_unset: v = unset_value; break;
    case T_none: v = none_value; break;
    case T_char_: {
        uint32_t cp = read_varint(d);
        if (cp > MAX_CODE_POINT) invalid_at(d, at);
        v = char_::make_value(cp);
        break;
    }
    case T_integer: v = integer::make_value(read_zigzag(d)); break;
    case T_float_:
    case T_time: v = float_::make_value(f ? double(read_zigzag(d)) : read_double(d), type); break;
    case T_percent: v = float_::make_value(f ? read_zigzag(d) / 100.0 : read_double(d), T_percent); break;
    case T_pair: {
        int32_t x = read_zigzag(d);
        v = pair::make_value(x, read_zigzag(d));
        break;
    }
    case T_point2d: {
        float x = std::bit_cast<float>(read_int32(d));
        v = point2D::make_value(x, std::bit_cast<float>(read_int32(d)));
        break;
    }
    case T_point3d: {
        float x = std::bit_cast<float>(read_int32(d));
        float y = std::bit_cast<float>(read_int32(d));
        v = point3D::make_value(x, y, std::bit_cast<float>(read_int32(d)));
        break;
    }
    case T_date: {
        uint32_t word = read_int32(d);
        bool has_time = (word & DATE_HAS_TIME) != 0;
        if (has_time != f && !d.fixed) invalid_at(d, at);
        double t = has_time || d.fixed ? read_double(d) : 0.0; // fixed: the halves are always there
        v = make_date(word, has_time, t);
        if (v.type() != T_date) invalid_at(d, at);
        break;
    }
    case T_typeset: {
        uint32_t n = d.fixed ? TYPESET_BYTES : read_byte(d);
        if (n > TYPESET_BYTES) invalid_at(d, at);
        need(d, n);
        v = cell{T_typeset, 0, 0, 0};
        std::memcpy(&v.w1, d.p, n);
        d.p += n;
        break;
    }
    case T_tuple: {
        uint32_t n = d.fixed ? fixed_width(d) : f ? read_byte(d) : 3;
        if (n < 1 || n > TUPLE_MAX) invalid_at(d, at);
        uint32_t stored = d.fixed ? TUPLE_MAX : n; // the fixed layout has the cell's 12 bytes
        need(d, stored);
        uint8_t elements[TUPLE_MAX] = {};
        std::memcpy(elements, d.p, n);
        d.p += stored;
        v = tuple::make_value(std::max<uint32_t>(n, 3), elements); // shorter tuples are padded, as made
        break;
    }
    case T_money: {
        need(d, 12);
        uint8_t digits[12];
        std::memcpy(digits, d.p, 12);
        d.p += 12;
        v = make_money(digits, f);
        if (v.type() != T_money) invalid_at(d, at);
        break;
    }
    case T_issue:
        v = cell{T_issue, context::global(), read_symbol(d), word::NO_INDEX};
        break;
    default:
        invalid_at(d, at);
    }
    series::append_value(into, v);
}

// }==
// {== Blocks, hash! and map!

void read_block(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t index;
    if (read_index_or_share(d, into, type, f, notes, type == T_hash, type == T_hash ? is_hash : is_block_family, &index)) return;
    uint32_t n = read_record_count(d);
    check_index(d, index, n, at);
    uint32_t pos = uint32_t(series::length(into));
    // A hash! is filled as a block and becomes a hash! once its cells are all there.
    append_fresh(into, cell{type == T_hash ? uint8_t(T_block) : type, index, series::alloc_cells(std::max(n, 1u)), 0});
    fill_block(d, block::cells_of(into)[pos].w2, n);
    if (type == T_hash) construct_at(into, pos, make_hash);
}

void read_map(decoder& d, node_id into, uint32_t notes) {
    const uint8_t* at = d.p;
    if (notes & NOTE_REFERENCE) {
        cell c = shared_target(d, is_map);
        series::append_value(into, c);
        return;
    }
    uint32_t n = read_record_count(d);
    if (n & 1) invalid_at(d, at); // keys and values alternate
    uint32_t pos = uint32_t(series::length(into));
    append_fresh(into, cell{T_block, 0, series::alloc_cells(std::max(n, 1u)), 0});
    fill_block(d, block::cells_of(into)[pos].w2, n);
    construct_at(into, pos, make_map);
}

// }==
// {== Texts, binary!, bitset!, vector!, image!

void read_text(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t index;
    if (read_index_or_share(d, into, type, f, notes, false, is_text_family, &index)) return;
    const uint8_t* l_at = d.p;
    uint32_t l = read_varint(d);
    uint32_t w = d.fixed ? fixed_width_log2(d, l_at) : l & 3;
    if (w == 3) invalid_at(d, l_at);
    uint64_t units = d.fixed ? l : l >> 2;
    uint64_t bytes = units << w;
    if (bytes > left(d)) invalid_at(d, l_at);
    if (w == 2) {
        for (uint64_t k = 0; k < units; k++) {
            uint32_t cp;
            std::memcpy(&cp, d.p + k * 4, 4);
            if (cp > MAX_CODE_POINT) invalid_at(d, d.p + k * 4);
        }
    }
    check_index(d, index, units, at);
    node_id s = series::alloc_by_encoding(units, 1u << w);
    series_buffer* b = memory::buffer_of(s);
    if (bytes) std::memcpy(b->head, d.p, bytes);
    b->tail = b->head + bytes;
    d.p += bytes;
    skip_pad4(d);
    cell v{type == T_ref ? uint8_t(T_string) : type, index, s, 0};
    if (type == T_ref) {
        collector::keep k{&v};
        make_ref(&v);
    }
    append_fresh(into, v);
}

void read_binary(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t index;
    if (read_index_or_share(d, into, type, f, notes, false, is_binary, &index)) return;
    uint32_t n = read_count(d, 1);
    check_index(d, index, n, at);
    node_id bytes = read_bytes(d, n);
    cell v{T_binary, index, bytes, 0};
    collector::keep k{&v};
    skip_pad4(d);
    series::append_value(into, v);
}

void read_bitset(decoder& d, node_id into, bool f, uint32_t notes) {
    if (notes & NOTE_REFERENCE) {
        series::append_value(into, shared_target(d, is_bitset));
        return;
    }
    uint32_t n = read_count(d, 1);
    cell v{T_unset, 0, 0, 0};
    collector::keep k{&v};
    bitset::make_at(&v, n, f);
    std::memcpy(memory::buffer_of(v.w2)->head, d.p, n);
    d.p += n;
    skip_pad4(d);
    series::append_value(into, v);
}

void read_vector(decoder& d, node_id into, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t index;
    if (read_index_or_share(d, into, T_vector, f, notes, true, is_vector, &index)) return;
    uint8_t k;
    uint32_t w, n;
    if (d.fixed) { // count, then the element type
        w = fixed_width_log2(d, at);
        n = read_count(d, 1u << w);
        uint32_t element = read_word32(d);
        if (element > 0x3F) invalid_at(d, at);
        k = uint8_t(element << 2 | w);
    } else {
        k = read_byte(d);
        w = k & 3;
        n = read_count(d, 1u << w);
    }
    check_index(d, index, n, at);
    cell v{T_binary, index, read_bytes(d, uint64_t(n) << w), 0};
    collector::keep keep{&v};
    skip_pad4(d);
    if (!make_vector(&v, uint8_t(k >> 2), w)) invalid_at(d, at);
    series::append_value(into, v);
}

void read_image(decoder& d, node_id into, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t index;
    if (read_index_or_share(d, into, T_image, f, notes, true, is_image, &index)) return;
    uint32_t width, height;
    if (d.fixed) {
        uint32_t size = read_word32(d);
        width = size & 0xFFFF, height = size >> 16;
    } else {
        width = read_varint(d);
        height = read_varint(d);
    }
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) invalid_at(d, at);
    uint64_t pixels = uint64_t(width) * height;
    check_index(d, index, pixels, at);
    need(d, pixels * 4);
    cell v{T_binary, index, read_bytes(d, pixels * 4), 0};
    collector::keep keep{&v};
    make_image(&v, width, height);
    series::append_value(into, v);
}

// }==

} // namespace zyl::zylbin
