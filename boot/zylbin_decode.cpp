// boot/zylbin_decode.cpp: the Zylbin stream reader: header, decompression, the compact
// layout's leading varints and symbol table, symbols, paths, the record dispatch, and the
// boot-image load. The readers of each kind of record are in boot/zylbin_records.cpp and
// boot/zylbin_contexts.cpp; the format is described in boot/zylbin_reader.h.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "boot/zylbin.h"
#include "boot/zylbin_reader.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/boot_compress.h"
#include "runtime/error.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/native_stack.h"
#include "runtime/unicode.h"
#include "runtime/values.h"

namespace zyl::zylbin {

namespace {

cell* base_cell = nullptr;

constexpr uint8_t MAGIC[6] = {'Z', 'Y', 'L', 'B', 'I', 'N'};
// The 1-based offset of the first body byte, counted from the data start: the header's 8
// bytes come first (a decompressed body counts as if it stood there).
constexpr int64_t BODY_OFFSET = 9;

inline bool is_magic(const uint8_t* data, uint64_t length) {
    return length >= 8 && std::memcmp(data, MAGIC, 6) == 0;
}

[[noreturn]] void raise_invalid_data(const cell* data_value) {
    error::raise(error::cat_script, error::script_invalid_data, data_value ? data_value : &none_value);
}

// The cells of series [n] cut back to [length].
void cut(node_id n, uint32_t length) {
    series_buffer* b = memory::buffer_of(n);
    if (series::length(n) > length) b->tail = b->head + uint64_t(length) * sizeof(cell);
}

// A varint of the leading fields, which must end within [limit].
uint32_t read_leading_varint(decoder& d, const uint8_t* limit) {
    const uint8_t* saved_end = d.end;
    d.end = limit;
    uint32_t v = read_varint(d);
    d.end = saved_end;
    return v;
}

void read_records(decoder& d, uint32_t payload);

// The symbol table of [s] offsets and [t] bytes of names at the read position (the counts
// read at [at]).
void take_symbol_table(decoder& d, uint32_t s, uint32_t t, const uint8_t* at) {
    if (int32_t(s) < 0 || int32_t(t) < 0) invalid_at(d, at);
    if (uint64_t(s) * 4 > left(d)) invalid_at(d, at);
    d.sym_offsets = d.p;
    d.p += uint64_t(s) * 4;
    if (t > left(d)) invalid_at(d, at);
    d.strings = d.p;
    d.p += t;
    if (t > 0 && d.strings[t - 1] != 0) invalid_at(d, d.p - 1);
    d.sym_count = s;
    d.string_size = t;
    d.symbols.assign(s, 0);
    d.globals.assign(s, 0);
}

// The compact body: leading varints, symbol table, then the records up to the payload size.
// A failing top-level record is taken out of the target again before the error goes on.
void read_compact(decoder& d, bool symbols) {
    const uint8_t* limit = d.p + std::min<uint64_t>(HEADER_VARINT_LIMIT, left(d));
    read_leading_varint(d, limit); // the root count: the records tell how many there are
    uint32_t payload = read_leading_varint(d, limit);
    if (symbols) {
        limit = d.p + std::min<uint64_t>(HEADER_VARINT_LIMIT, left(d));
        const uint8_t* at = d.p;
        uint32_t s = read_leading_varint(d, limit);
        uint32_t t = read_leading_varint(d, limit);
        take_symbol_table(d, s, t, at);
    }
    read_records(d, payload);
}

// The fixed body: root count and payload size words, the symbol table, then the records.
void read_fixed(decoder& d, bool symbols) {
    read_word32(d); // the root count
    uint32_t payload = read_word32(d);
    if (symbols) {
        const uint8_t* at = d.p;
        uint32_t s = read_word32(d);
        uint32_t t = read_word32(d);
        take_symbol_table(d, s, t, at);
    }
    d.records = d.p;
    read_records(d, payload);
}

void read_records(decoder& d, uint32_t payload) {
    if (int32_t(payload) < 0 || payload > left(d)) invalid_at(d, d.p);
    d.end = d.p + payload;
    for (;;) {
        if (d.fixed) // padding words may also end the records
            while (left(d) >= 4 && !(d.p[0] | d.p[1] | d.p[2] | d.p[3])) d.p += 4;
        if (d.p >= d.end) break;
        uint32_t before = uint32_t(series::length(d.target));
        try {
            read_record(d, d.target);
        } catch (const error::raised&) {
            cut(d.target, before);
            throw;
        }
    }
}

} // namespace

// {== Errors and counts

void invalid_at(const decoder& d, const uint8_t* at) {
    cell offset = integer::make_value(int32_t(int64_t(at - d.body) + BODY_OFFSET));
    error::raise(error::cat_script, error::script_zb_invalid_record, &offset);
}

void refuse(uint8_t type) {
    cell datatype = datatype::make_value(type);
    error::raise(error::cat_access, error::access_no_codec, &datatype);
}

void not_yet(const char* what) { natives::not_yet_available(what); }

uint32_t read_count(decoder& d, uint64_t per_item) {
    const uint8_t* at = d.p;
    uint32_t n = read_varint(d);
    if (int32_t(n) < 0 || uint64_t(n) * per_item > left(d)) invalid_at(d, at);
    return n;
}

uint32_t read_record_count(decoder& d) {
    const uint8_t* at = d.p;
    uint32_t n = read_varint(d);
    if (int32_t(n) < 0 || d.promised + n > left(d)) invalid_at(d, at);
    d.promised += n;
    return n;
}

void expect_records(decoder& d, uint64_t n) {
    if (d.promised + n > left(d)) invalid_at(d, d.end);
    d.promised += n;
}

// }==
// {== Symbols

uint32_t read_symbol(decoder& d) {
    const uint8_t* at = d.p;
    uint32_t i = read_varint(d);
    if (i >= d.sym_count) invalid_at(d, at);
    d.last_symbol = i;
    if (d.symbols[i]) return d.symbols[i];
    uint32_t offset;
    std::memcpy(&offset, d.sym_offsets + uint64_t(i) * 4, 4);
    if (offset >= d.string_size) invalid_at(d, at); // bit 31 set is past any table too
    const uint8_t* name = d.strings + offset;
    const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(name, 0, d.string_size - offset));
    if (stop == name) invalid_at(d, at); // the table ends in 0, so [stop] is found
    const uint8_t* q = name; // names are UTF-8, as the lexer takes them; most are ASCII
    while (q < stop && *q < 0x80) q++;
    while (q < stop) {
        int32_t cp;
        q = unicode::decode_utf8_char(q, stop, cp);
        if (cp < 0) invalid_at(d, at);
    }
    uint32_t id = symbol::make_from_text(name, uint32_t(stop - name));
    d.symbols[i] = id;
    return id;
}

// }==
// {== Paths

namespace {

// The cell [i] of cell series [n], or an invalid record.
cell series_cell(const decoder& d, node_id n, uint32_t i, const uint8_t* at) {
    if (n == 0 || i >= series::length(n)) invalid_at(d, at);
    return block::cells_of(n)[i];
}

// The value [i] of context [ctx] (which must have storage).
cell context_value(const decoder& d, node_id ctx, uint32_t i, const uint8_t* at) {
    if (ctx == 0 || context::on_stack(ctx)) invalid_at(d, at);
    return series_cell(d, context::cell_of(ctx)->w2, i, at);
}

// One step from [c] by path index [*k] (a function's spec step takes the next index too).
cell step(const decoder& d, const cell& c, size_t* k, const uint8_t* at) {
    uint32_t i = d.path[*k];
    switch (c.type()) {
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_hash: case T_map:
        return series_cell(d, c.w2, i, at);
    case T_object:
        return context_value(d, c.w1, i, at);
    case T_error:
        if (i > UINT32_MAX - 3) invalid_at(d, at);
        return context_value(d, c.w1, i + 3, at);
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
        if (c.w1 == 0) invalid_at(d, at);
        if (context::on_stack(c.w1)) return step(d, *context::owner_of(c.w1), k, at);
        return context_value(d, c.w1, i, at);
    case T_native: case T_action:
        return series_cell(d, c.w2, i, at);
    case T_op: // the steps of the value it wraps
        if ((c.header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT != T_function) return series_cell(d, c.w2, i, at);
        [[fallthrough]];
    case T_function:
        if (i == 0) {
            if (*k + 1 == d.path.size()) return cell{T_block, 0, c.w2, 0};
            ++*k;
            return series_cell(d, c.w2, d.path[*k], at);
        }
        if (i == 1) {
            cell body = *function::series_cell(&c, function::FN_BODY);
            if (body.type() != T_block) invalid_at(d, at);
            return body;
        }
        invalid_at(d, at);
    default:
        invalid_at(d, at);
    }
}

} // namespace

cell read_path_target(decoder& d, bool copy) {
    const uint8_t* at = d.p;
    if (d.fixed && !copy && read_word32(d) != 0xFF) invalid_at(d, at);
    uint32_t n = read_varint(d);
    if (n < 1 || n > MAX_PATH || uint64_t(n) * (d.fixed ? 4 : 1) > left(d)) invalid_at(d, at);
    d.path.resize(n);
    for (uint32_t k = 0; k < n; k++) d.path[k] = read_varint(d);
    cell c = series_cell(d, d.target, d.path[0], at);
    for (size_t k = 1; k < n; k++) c = step(d, c, &k, at);
    return c;
}

// }==
// {== Records

namespace {

// A fixed-layout header word read as the compact prefixes and head byte: the flag F is set
// where the compact record has it (an index follows, a word is bound, money is negative...).
uint32_t read_fixed_head(decoder& d, const uint8_t** at, uint8_t* head) {
    uint32_t hw;
    do {
        *at = d.p;
        hw = read_word32(d);
    } while (hw == 0); // padding
    d.hw = hw;
    uint32_t notes = 0;
    if (hw & FX_NEW_LINE) notes |= NOTE_NEW_LINE;
    uint32_t type = hw & 0xFF;
    // An op's bits 16-23 hold its wrapped type, so bit 19 is set for an op over a function:
    // an op is never a reference.
    if ((hw & FX_REFERENCE) && type != T_op) notes |= NOTE_REFERENCE;
    bool f = false;
    switch (type) {
    case 0xFF: *head = 0xFF; return notes;
    case T_logic: *head = read_word32(d) ? 0xC2 : 0xC3; return notes;
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_hash: case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
    case T_binary: case T_vector: case T_image:
        f = true;
        break;
    case T_money: f = (hw & FX_MONEY_NEGATIVE) != 0; break;
    case T_bitset: f = (hw & FX_BITSET_NEGATED) != 0; break;
    case T_object: f = (hw & FX_OBJECT_HOOKS) != 0; break;
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
        if (d.m == MODE_BOOT) {
            f = true; // the owner position tells
            if (hw & FX_WORD_GLOBAL) notes |= NOTE_DEFINITION;
        } else {
            f = (hw & FX_WORD_GLOBAL) == 0;
        }
        break;
    default:
        // Ids without a record form (13, 42, 55 and up) must not get one by the 63 escape.
        if (type >= 63) invalid_at(d, *at);
    }
    *head = uint8_t(type | (f ? 0x40 : 0));
    return notes;
}

} // namespace

uint32_t fixed_width_log2(decoder& d, const uint8_t* at) {
    switch (fixed_width(d)) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    default: invalid_at(d, at);
    }
}

uint8_t fixed_context_flags(uint32_t hw) {
    return uint8_t(((hw >> 26) & 3) | (hw & (1u << 29) ? 0x04 : 0) | (hw & (1u << 28) ? 0x08 : 0) |
                   (hw & (1u << 30) ? 0x10 : 0));
}

uint32_t read_prefixes(decoder& d, const uint8_t** at, uint8_t* head) {
    if (d.fixed) return read_fixed_head(d, at, head);
    uint32_t notes = 0;
    for (;;) {
        *at = d.p;
        *head = read_byte(d);
        if (*head == 0xC0) notes |= NOTE_NEW_LINE;
        else if (*head == 0xC1) notes |= NOTE_REFERENCE;
        else if (*head == 0xC4) notes |= NOTE_DEFINITION;
        else return notes;
    }
}

void read_record(decoder& d, node_id into) {
    native_stack::check();
    if (d.depth > 0) {
        ZYL_ASSERT(d.promised > 0);
        d.promised--;
    }
    const uint8_t* start = d.p;
    const uint8_t* at = d.p;
    uint8_t head;
    uint32_t notes = 0;
    if (!d.fixed && d.p < d.end && *d.p < 0xC0) head = *d.p++; // most records: a type or a small integer
    else notes = read_prefixes(d, &at, &head);
    if ((notes & NOTE_DEFINITION) && (d.m == MODE_USER || d.depth > 0)) invalid_at(d, start);
    uint32_t before = uint32_t(series::length(into));
    d.depth++;
    if (head < 0x80) {
        bool f = (head & 0x40) != 0;
        uint32_t type = head & 0x3F;
        if (type == 63) type = read_varint(d);
        if (type == 0 || type > 0xFF) invalid_at(d, at);
        if ((notes & NOTE_DEFINITION) && (type < T_word || type > T_issue)) invalid_at(d, at);
        switch (type) {
        case T_datatype: case T_unset: case T_none: case T_char_: case T_integer: case T_float_:
        case T_time: case T_percent: case T_pair: case T_point2d: case T_point3d: case T_date:
        case T_typeset: case T_tuple: case T_money: case T_issue:
            if (notes & NOTE_REFERENCE) invalid_at(d, at);
            read_scalar(d, into, uint8_t(type), f);
            break;
        case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
            read_word(d, into, uint8_t(type), f, notes);
            break;
        case T_context:
            if (notes & NOTE_REFERENCE) invalid_at(d, at);
            read_context(d, into);
            break;
        case T_object:
            read_object(d, into, f, notes);
            break;
        case T_function:
            read_function(d, into, f, notes);
            break;
        case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
        case T_hash:
            read_block(d, into, uint8_t(type), f, notes);
            break;
        case T_map:
            read_map(d, into, notes);
            break;
        case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
            read_text(d, into, uint8_t(type), f, notes);
            break;
        case T_binary:
            read_binary(d, into, uint8_t(type), f, notes);
            break;
        case T_vector:
            read_vector(d, into, f, notes);
            break;
        case T_bitset:
            read_bitset(d, into, f, notes);
            break;
        case T_image:
            read_image(d, into, f, notes);
            break;
        case T_native: case T_action:
            if (notes & NOTE_REFERENCE) invalid_at(d, at);
            read_native(d, into, uint8_t(type));
            break;
        case T_op:
            if (notes & NOTE_REFERENCE) invalid_at(d, at);
            read_op(d, into);
            break;
        case T_error:
            if (notes & NOTE_REFERENCE) invalid_at(d, at);
            read_error(d, into);
            break;
        case T_routine: case T_triple: case T_handle: case T_port: case T_event:
            refuse(uint8_t(type));
        default:
            invalid_at(d, at);
        }
    } else {
        if (notes & (NOTE_REFERENCE | NOTE_DEFINITION)) invalid_at(d, at);
        if (head < 0xC0) series::append_value(into, integer::make_value(head - 0x80));
        else if (head == 0xC2 || head == 0xC3) series::append_value(into, logic::make_value(head == 0xC2));
        else if (head == 0xFF) series::append_value(into, read_path_target(d, true));
        else invalid_at(d, at);
    }
    d.depth--;
    if ((notes & NOTE_NEW_LINE) && series::length(into) > before)
        block::cells_of(into)[before].header |= CELL_NEW_LINE;
    if (notes & NOTE_DEFINITION) {
        // The word's value follows; it is assigned, and neither stays in the target.
        if (series::length(into) != before + 1) invalid_at(d, at);
        expect_records(d, 1);
        d.depth++; // the value is no top-level record: it carries no definition of its own
        read_record(d, into);
        d.depth--;
        uint32_t now = uint32_t(series::length(into));
        if (now <= before + 1) invalid_at(d, at);
        cell word = block::cells_of(into)[before];
        cell value = block::cells_of(into)[before + 1];
        if (word.w1 == 0 || context::on_stack(word.w1) || int32_t(word.w3) < 0) invalid_at(d, at);
        *context::value_at(word.w1, word.w3) = value;
        cut(into, before);
    }
}

// }==
// {== Decoding a stream

uint32_t decode(const uint8_t* data, uint64_t length, node_id target, mode m, const cell* data_value) {
    if (!is_magic(data, length)) raise_invalid_data(data_value);
    uint8_t flags = data[7];
    decoder d{};
    d.body = data + 8;
    d.p = d.body;
    d.end = data + length;
    d.m = m;
    d.target = target;
    d.root_before = uint32_t(series::length(target));
    std::unique_ptr<uint8_t, void (*)(uint8_t*)> inflated(nullptr, boot_compress::free_buffer);
    if (flags & FLAG_COMPRESSED) {
        uint64_t size = 0;
        inflated.reset(boot_compress::decompress(d.body, length - 8, &size));
        if (!inflated) raise_invalid_data(data_value);
        d.body = d.p = inflated.get();
        d.end = d.body + size;
    }
    d.fixed = !(flags & FLAG_COMPACT);
    if (d.fixed && left(d) < 8) raise_invalid_data(data_value);
    if (d.fixed) read_fixed(d, (flags & FLAG_SYMBOLS) != 0);
    else read_compact(d, (flags & FLAG_SYMBOLS) != 0);
    return d.root_before;
}

// }==
// {== The boot image

cell* boot_base() { return base_cell; }

void load_boot_image(std::span<const uint8_t> image, bool keep_base) {
    struct collector_off { // restored on every way out
        bool saved = collector::gc.active;
        collector_off() { collector::gc.active = false; }
        ~collector_off() { collector::gc.active = saved; }
    } off;
    node_id root = collector::gc.root_block;
    ZYL_ASSERT(root != 0);
    cell w{T_word, 0, symbol::make("zylbin"), 0}; // the `where` of the error reported
    stack::mark_try(&w);
    cell* saved_top = es.top;
    uint32_t first = 0;
    try {
        first = decode(image.data(), image.size(), root, MODE_BOOT);
        stack::pop_frame();
        es.top = saved_top; // popping the only frame would empty the stack
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        if (e.category == error::cat_script && e.id == error::script_invalid_data) {
            console::write_cstring(is_magic(image.data(), image.size()) ? "Error: Zylbin compressed data corrupted!\n"
                                                                         : "Error: Not a Zylbin file!\n");
        } else {
            error::print_report(es.top > saved_top ? es.top - 1 : stack::top());
        }
        std::exit(1);
    }
    if (!keep_base) base_cell = block::cells_of(root) + first;
}

// }==

} // namespace zyl::zylbin
