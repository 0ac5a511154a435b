// boot/zylbin_encode.cpp: the Zylbin encoder: record openings, symbols, paths, the scalar
// writers, the dispatch over types, assembling the stream, and the public entry points. The
// writers of values written once and referred to afterwards are in boot/zylbin_encode_refs.cpp.
#include <cmath>
#include <cstring>

#include "boot/zylbin.h"
#include "boot/zylbin_writer.h"
#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/header_flags.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"

namespace zyl::zylbin {

namespace {

encoder* active = nullptr;

// The outermost encoder's record and path-node buffers, kept for the next encoding: a value
// saved again and again then costs no fresh pages. Kept up to this many bytes each.
constexpr size_t SPARE_LIMIT = size_t(64) << 20;
std::vector<uint8_t> spare_out;
std::vector<encoder::path_node> spare_nodes;

// Marks the keys of every live encoder: their nodes must not be reused while they are keys.
void mark_keys() {
    for (encoder* e = active; e; e = e->outer)
        for (const auto& [n, s] : e->table) {
            if (s.kind == KEY_CONTEXT) collector::mark_block(n);
            else if (s.kind == KEY_CELLS) collector::mark_series_cells(n);
            else collector::mark_series(n);
        }
}

// Whether the float [d] is written as the integer [*n] (compact short form).
bool short_float(double d, int32_t* n) {
    if (!(d >= -2147483000.0 && d <= 2147483000.0)) return false;
    *n = int32_t(d);
    if (double(*n) != d) return false;
    return *n != 0 || !std::signbit(d);
}

// Whether the percent fraction [d] is written as [*n] hundredths.
bool short_percent(double d, int32_t* n) {
    if (!(d >= -21474836.0 && d <= 21474836.0)) return false;
    double x = d * 100.0;
    *n = int32_t(x >= 0 ? x + 0.5 : x - 0.5);
    if (*n / 100.0 != d) return false;
    return *n != 0 || !std::signbit(d);
}

size_t varint_size(uint32_t v) {
    size_t n = 1;
    while (v >= 0x80) v >>= 7, n++;
    return n;
}

uint8_t* put_varint(uint8_t* p, uint32_t v) {
    while (v >= 0x80) *p++ = uint8_t(v | 0x80), v >>= 7;
    *p++ = uint8_t(v);
    return p;
}

uint8_t* put_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) *p++ = uint8_t(v >> (8 * i));
    return p;
}

} // namespace

// {== State

encoder::encoder(layout l, mode md) : lay(l), m(md), outer(active) {
    if (!active) {
        out.swap(spare_out);
        nodes.swap(spare_nodes);
        out.clear();
        nodes.clear();
        collector::add_mark_hook(mark_keys);
    }
    out.reserve(256);
    active = this;
}

encoder::~encoder() {
    active = outer;
    if (!active) {
        collector::remove_mark_hook(mark_keys);
        if (out.capacity() <= SPARE_LIMIT) spare_out.swap(out);
        if (nodes.capacity() * sizeof(path_node) <= SPARE_LIMIT) spare_nodes.swap(nodes);
    }
}

// }==
// {== Openings, symbols, paths

void encoder::open(uint8_t type, bool f, uint32_t bits, bool ref) {
    if (fixed()) {
        u32(type | bits | new_line | (ref ? HW_REFERENCE : 0));
    } else {
        if (ref) byte(0xC1);
        uint8_t flag = f ? 0x40 : 0;
        if (type < 63) {
            byte(type | flag);
        } else {
            byte(63 | flag);
            varint(type);
        }
    }
    new_line = 0;
}

uint32_t encoder::symbol_index(uint32_t sym) {
    auto [it, added] = symbols.try_emplace(sym, uint32_t(offsets.size()));
    if (added) {
        offsets.push_back(uint32_t(names.size()));
        names += symbol::c_name(sym);
        names.push_back('\0');
    }
    return it->second;
}

void encoder::put_path(uint32_t at) {
    spelled.clear();
    for (uint32_t n = at; n; n = nodes[n - 1].parent) spelled.push_back(nodes[n - 1].position);
    auto n = uint32_t(spelled.size());
    if (fixed()) {
        u32(COPY_RECORD);
        u32(n);
        for (uint32_t k = n; k-- > 0;) u32(spelled[k]);
    } else {
        varint(n);
        for (uint32_t k = n; k-- > 0;) varint(spelled[k]);
    }
}

void encoder::refuse(const cell& v) {
    // Inner cells (a symbol-table entry, a context's own cell) are no values to show: the
    // error names their datatype.
    uint8_t t = v.type();
    cell c = t == T_symbol || t == T_context || t == T_series ? datatype::make_value(t) : v;
    error::raise(error::cat_access, error::access_no_codec, &c);
}

// }==
// {== Records

void encoder::value(cell v) {
    native_stack::check();
    if (v.header & CELL_NEW_LINE) {
        if (fixed()) new_line = HW_NEW_LINE;
        else byte(0xC0);
    }
    switch (v.type()) {
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_hash: case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
    case T_binary: case T_vector: case T_map: case T_bitset: case T_image: case T_object:
    case T_function:
        kept(v);
        break;
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
        if (m == MODE_BOOT) boot_word(v, false);
        else kept(v);
        break;
    case T_error: error_record(v); break;
    case T_native: case T_action: native_record(v); break;
    case T_op: op_record(v); break;
    case T_routine: case T_triple: case T_handle: case T_port: case T_event:
    case T_symbol: case T_context: case T_series:
        refuse(v);
    default:
        scalar(v);
    }
    counter++;
}

void encoder::scalar(const cell& v) {
    uint8_t t = v.type();
    switch (t) {
    case T_unset: case T_none: open(t, false, 0, false); return;
    case T_datatype: open(t, false, 0, false); num(v.w1); return;
    case T_logic:
        if (fixed()) {
            open(t, false, 0, false);
            u32(v.w1 ? 1 : 0);
        } else {
            byte(v.w1 ? 0xC2 : 0xC3);
        }
        return;
    case T_integer: {
        int32_t n = int32_t(v.w2);
        if (!fixed() && n >= 0 && n <= 63) {
            byte(uint8_t(0x80 + n));
            new_line = 0;
            return;
        }
        open(t, false, 0, false);
        snum(n);
        return;
    }
    case T_char_: open(t, false, 0, false); num(v.w2); return;
    case T_pair: open(t, false, 0, false); snum(int32_t(v.w2)); snum(int32_t(v.w3)); return;
    case T_point2d: open(t, false, 0, false); u32(v.w1); u32(v.w2); return;
    case T_point3d: open(t, false, 0, false); u32(v.w1); u32(v.w2); u32(v.w3); return;
    case T_float_: case T_time: case T_percent: {
        if (fixed()) {
            while (out.size() % 8) u32(0); // the double's record starts on a multiple of 8
            open(t, false, 0, false);
            dbl(v);
            return;
        }
        double d = float_::get(&v);
        int32_t n;
        if (t == T_percent ? short_percent(d, &n) : short_float(d, &n)) {
            open(t, true, 0, false);
            zigzag(n);
        } else {
            open(t, false, 0, false);
            dbl(v);
        }
        return;
    }
    case T_date: {
        bool has_time = (v.w1 & date::HAS_TIME) != 0;
        open(t, has_time, 0, false);
        u32(v.w1);
        if (has_time || fixed()) dbl(v);
        return;
    }
    case T_typeset: {
        open(t, false, 0, false);
        if (fixed()) {
            u32(v.w1), u32(v.w2), u32(v.w3);
            return;
        }
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&v) + 4;
        uint8_t n = 12;
        while (n > 0 && b[n - 1] == 0) n--;
        byte(n);
        bytes(b, n);
        return;
    }
    case T_tuple: {
        uint32_t n = tuple::count_of(&v);
        open(t, n != 3, n << HW_WIDTH_SHIFT, false);
        if (fixed()) {
            u32(v.w1), u32(v.w2), u32(v.w3);
            return;
        }
        if (n != 3) byte(uint8_t(n));
        bytes(tuple::bytes_of(&v), n);
        return;
    }
    case T_money: {
        bool negative = (v.header & MONEY_NEGATIVE) != 0;
        open(t, negative, negative ? HW_MONEY_NEGATIVE : 0, false);
        u32(v.w1), u32(v.w2), u32(v.w3); // currency byte, then the packed digits, as in memory
        return;
    }
    case T_issue: open(t, false, 0, false); num(symbol_index(v.w2)); return;
    default:
        refuse(v);
    }
}

// }==
// {== Assembly

size_t encoder::stream_size() const {
    size_t s = offsets.size(), t = names.size(), r = out.size();
    if (fixed()) return 8 + 8 + (s ? 8 + 4 * s + t : 0) + r;
    size_t head = 8 + varint_size(roots ? roots : 1) + varint_size(uint32_t(r));
    if (s) head += varint_size(uint32_t(s)) + varint_size(uint32_t(t)) + 4 * s + t;
    return head + r;
}

void encoder::assemble(uint8_t* p, uint8_t version) const {
    uint32_t s = uint32_t(offsets.size()), t = uint32_t(names.size()), r = uint32_t(out.size());
    std::memcpy(p, "ZYLBIN", 6);
    p[6] = version;
    p[7] = uint8_t((fixed() ? 0 : FLAG_COMPACT) | (s ? FLAG_SYMBOLS : 0));
    p += 8;
    uint32_t count = roots ? roots : 1;
    if (fixed()) {
        p = put_u32(put_u32(p, count), r);
        if (s) p = put_u32(put_u32(p, s), t);
    } else {
        p = put_varint(put_varint(p, count), r);
        if (s) p = put_varint(put_varint(p, s), t);
    }
    for (uint32_t o : offsets) p = put_u32(p, o);
    if (t) std::memcpy(p, names.data(), t);
    p += t;
    if (r) std::memcpy(p, out.data(), r);
}

// }==
// {== Entry points

namespace {

// Checks that the records fit the format's 32-bit sizes.
void check_size(const encoder& e) {
    if (e.out.size() > UINT32_MAX - 64 || e.names.size() > UINT32_MAX - 64)
        error::raise(error::cat_internal, error::internal_no_memory);
}

} // namespace

std::vector<uint8_t> encode(const cell* value, layout l) {
    encoder e(l, MODE_USER);
    e.value(*value);
    check_size(e);
    std::vector<uint8_t> result(e.stream_size());
    e.assemble(result.data(), 2);
    return result;
}

cell* encode_push(const cell* value, layout l) {
    cell v = *value;
    collector::keep k{&v};
    encoder e(l, MODE_USER);
    e.value(v);
    check_size(e);
    size_t size = e.stream_size();
    cell* result = binary::make_at(stack::push_slot(), uint32_t(size));
    series_buffer* b = memory::buffer_of(result->w2);
    e.assemble(b->head, 2);
    b->tail = b->head + size;
    return result;
}

writer::writer(layout l, mode m) : e(std::make_unique<encoder>(l, m)) {}
writer::~writer() = default;

void writer::set_owner_lookup(owner_lookup f, void* data) {
    e->owner_position = f;
    e->owner_data = data;
}

void writer::record(const cell* value) {
    cell v = *value;
    e->counter = e->roots;
    e->value(v);
    bool spec_kept = e->m == MODE_BOOT && (v.type() == T_native || v.type() == T_action);
    e->roots += spec_kept ? 2 : 1;
}

void writer::definition(const cell* word, const cell* value) {
    cell w = *word, v = *value;
    e->counter = e->roots;
    if (!e->fixed()) e->byte(0xC4);
    e->boot_word(w, true);
    e->value(v);
}

uint32_t writer::root_count() const { return e->roots; }

std::vector<uint8_t> writer::finish(uint8_t version) {
    check_size(*e);
    std::vector<uint8_t> result(e->stream_size());
    e->assemble(result.data(), version);
    return result;
}

// }==

} // namespace zyl::zylbin
