// boot/zylbin_encode_refs.cpp: the Zylbin writers of values that are written once and met
// again as references by path: series, map!, bitset!, image!, words with their owners,
// object!, function! with their contexts; and error!, native!, action!, op!, which contain
// such values. State and primitives: boot/zylbin_writer.h.
#include "boot/zylbin_writer.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::zylbin {

namespace {

uint32_t log2_width(uint32_t unit) { return unit == 4 ? 2 : unit == 2 ? 1 : 0; }

bool is_text(uint8_t t) {
    return t == T_string || t == T_file || t == T_url || t == T_tag || t == T_email || t == T_ref;
}

// The context whose owner writes a word's binding: 0 for the global context, and for
// contexts without an owner of their own (a block's words, a spec's words).
node_id binding_of(const cell& w) {
    node_id ctx = w.w1;
    if (ctx == 0 || ctx == context::global()) return 0;
    uint8_t owner = context::owner_of(ctx)->type();
    if (owner == T_unset || owner == T_none || owner == T_block) return 0;
    return ctx;
}

// The node that keys [v]'s path, and how the collector marks it.
node_id key_of(const cell& v, key_kind* kind) {
    switch (v.type()) {
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
    case T_object: case T_function:
        *kind = KEY_CONTEXT;
        return v.w1;
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_hash: case T_map:
        *kind = KEY_CELLS;
        return v.w2;
    default:
        *kind = KEY_BYTES;
        return v.w2;
    }
}

} // namespace

// {== Bookkeeping

void encoder::kept(const cell& v) {
    uint8_t t = v.type();
    bool word = t >= T_word && t <= T_refinement;
    if (word && binding_of(v) == 0) { // global words have no path
        open(t, false, fixed() ? HW_WORD_GLOBAL : 0, false);
        num(symbol_index(v.w2));
        if (fixed()) u32(v.w3);
        return;
    }
    key_kind kind;
    node_id key = key_of(v, &kind);
    if (key) {
        auto it = table.find(key);
        if (it != table.end()) {
            uint32_t at = it->second.at;
            switch (t) {
            case T_map: map_record(v, &at); break;
            case T_bitset: bitset_record(v, &at); break;
            case T_image: image_record(v, &at); break;
            case T_object: object_record(v, &at); break;
            case T_function: function_record(v, &at); break;
            default: word ? word_record(v, &at) : series_record(v, &at);
            }
            return;
        }
    }
    enter();
    if (key) table.emplace(key, stored{current, kind});
    switch (t) {
    case T_map: map_record(v, nullptr); break;
    case T_bitset: bitset_record(v, nullptr); break;
    case T_image: image_record(v, nullptr); break;
    case T_object: object_record(v, nullptr); break;
    case T_function: function_record(v, nullptr); break;
    default: word ? word_record(v, nullptr) : series_record(v, nullptr);
    }
    leave();
}

// }==
// {== Series

void encoder::series_record(const cell& v, const uint32_t* ref) {
    uint8_t t = v.type();
    const series_buffer* b = memory::buffer_of(v.w2);
    uint32_t unit = t == T_binary ? 1 : b->unit();
    bool cells = series::is_any_block(t);
    open(t, v.w1 != 0, cells ? 0 : unit << HW_WIDTH_SHIFT, ref != nullptr);
    index(v.w1);
    if (ref) {
        put_path(*ref);
        return;
    }
    if (cells) {
        auto n = uint32_t(series::length(v.w2));
        num(n);
        for (uint32_t i = 0; i < n; i++) value(block::cells_of(v.w2)[i]); // re-read: buffers move
        return;
    }
    uint32_t used = b->used_bytes();
    uint32_t w = log2_width(unit);
    if (t == T_vector) {
        if (fixed()) {
            num(used >> w);
            num(v.w3);
        } else {
            byte(uint8_t(v.w3 << 2 | w));
            varint(used >> w);
        }
    } else if (is_text(t) && !fixed()) {
        varint((used >> w) << 2 | w);
    } else {
        num(used >> w);
    }
    bytes(b->head, used);
    pad4();
}

void encoder::map_record(const cell& v, const uint32_t* ref) {
    open(T_map, false, 0, ref != nullptr);
    if (ref) {
        put_path(*ref);
        return;
    }
    auto n = uint32_t(series::length(v.w2));
    uint32_t live = 0;
    const cell* c = block::cells_of(v.w2);
    for (uint32_t i = 0; i + 1 < n; i += 2) live += c[i + 1].header != 0;
    num(live * 2);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        cell value_cell = block::cells_of(v.w2)[i + 1];
        if (value_cell.header == 0) continue; // a removed pair
        value(block::cells_of(v.w2)[i]);
        value(value_cell);
    }
}

void encoder::bitset_record(const cell& v, const uint32_t* ref) {
    const series_buffer* b = memory::buffer_of(v.w2);
    bool negated = (b->flags & bitset::NEGATED) != 0;
    open(T_bitset, negated, negated ? HW_BITSET_NEGATED : 0, ref != nullptr);
    if (ref) {
        put_path(*ref);
        return;
    }
    num(b->used_bytes());
    bytes(b->head, b->used_bytes());
    pad4();
}

void encoder::image_record(const cell& v, const uint32_t* ref) {
    open(T_image, v.w1 != 0, 0, ref != nullptr);
    index(v.w1);
    if (ref) {
        put_path(*ref);
        return;
    }
    if (fixed()) {
        u32(v.w3);
    } else {
        varint(image::width_of(&v));
        varint(image::height_of(&v));
    }
    if (image::pixel_count(&v) == 0) return;
    cell* pixels = image::extract_channels(&v, image::ARGB);
    const series_buffer* b = memory::buffer_of(pixels->w2);
    bytes(b->head, b->used_bytes());
    stack::pop(1);
}

// }==
// {== Words, objects, functions

void encoder::word_record(const cell& v, const uint32_t* ref) {
    cell owner = *context::owner_of(v.w1);
    if (owner.type() != T_object && owner.type() != T_function) refuse(v);
    open(v.type(), true, 0, ref != nullptr);
    num(symbol_index(v.w2));
    snum(int32_t(v.w3));
    if (ref) {
        put_path(*ref);
        return;
    }
    // The owner follows inline; it takes the word's path as its own.
    if (owner.type() == T_object) object_record(owner, nullptr);
    else function_record(owner, nullptr);
}

void encoder::boot_word(const cell& v, bool definition) {
    node_id ctx = binding_of(v);
    int32_t position = -1;
    if (ctx) {
        position = owner_position ? owner_position(ctx, owner_data) : -1;
        if (position < 0) refuse(v);
    }
    open(v.type(), ctx != 0, definition ? HW_WORD_GLOBAL : 0, false);
    num(symbol_index(v.w2));
    if (fixed()) {
        u32(uint32_t(position));
        u32(ctx ? v.w3 : UINT32_MAX);
    } else if (ctx) {
        varint(uint32_t(position));
        zigzag(int32_t(v.w3));
    }
}

void encoder::object_record(const cell& v, const uint32_t* ref) {
    node_id hooks = ref ? 0 : object::on_set_of(&v);
    open(T_object, hooks != 0, hooks ? HW_OBJECT_HOOKS : 0, ref != nullptr);
    if (ref) {
        put_path(*ref);
        return;
    }
    snum(int32_t(object::class_of(&v)));
    if (hooks) {
        for (uint32_t i = 0; i < 2; i++) {
            uint32_t at = block::cells_of(hooks)[i].w2 >> 16;
            snum(at == object::NO_HOOK ? -1 : int32_t(at));
        }
    }
    context_record(v.w1);
}

void encoder::context_record(node_id ctx) {
    uint32_t header = context::cell_of(ctx)->header;
    uint32_t kind = (header & CTX_KIND_MASK) >> CTX_KIND_SHIFT;
    bool no_storage = (header & CTX_STACK_VALUES) != 0;
    bool flag24 = (header & CTX_OBJECT) != 0;
    uint32_t n = context::word_count(ctx);
    bool values = false;
    for (uint32_t i = 0; i < n && !no_storage && !values; i++)
        values = context::value_at(ctx, i)->type() != T_unset;
    if (fixed()) {
        u32(T_context | kind << HW_CTX_KIND_SHIFT | (flag24 ? HW_CTX_FLAG24 : 0) |
            (no_storage ? HW_CTX_NO_STORAGE : 0) | (values ? HW_CTX_VALUES : 0));
    } else {
        byte(T_context);
        byte(uint8_t(kind | (no_storage ? CTX_FLAG_NO_STORAGE : 0) | (flag24 ? CTX_FLAG_OBJECT : 0) |
                     (values ? CTX_FLAG_VALUES : 0)));
    }
    num(n);
    for (uint32_t i = 0; i < n; i++) num(symbol_index(context::word_at(ctx, i)->w2));
    if (values)
        for (uint32_t i = 0; i < n; i++) value(*context::value_at(ctx, i));
}

void encoder::function_record(const cell& v, const uint32_t* ref) {
    open(T_function, false, 0, ref != nullptr);
    if (ref) {
        put_path(*ref);
        return;
    }
    cell body = *function::series_cell(&v, function::FN_BODY);
    if (body.type() != T_block) refuse(v);
    num(uint32_t(series::length(v.w2)));
    num(uint32_t(series::length(body.w2)));
    context_record(v.w1);
    uint32_t saved = counter;
    counter = 0;
    value(cell{T_block, 0, v.w2, 0});
    counter = 1;
    body.header &= ~CELL_NEW_LINE;
    value(body);
    counter = saved;
}

// }==
// {== Errors, natives, actions, ops

void encoder::error_record(const cell& v) {
    // Always written in full: an error is never met twice in practice, and its path is
    // stored only so that values inside it can refer to it.
    enter();
    table.emplace(v.w1, stored{current, KEY_CONTEXT});
    open(T_error, false, 0, false);
    num(uint32_t(integer::get(error::field(&v, error::F_CODE))));
    for (uint32_t i = 0; i < 6; i++) value(*error::field(&v, error::F_ARG1 + i));
    leave();
}

void encoder::native_record(const cell& v) {
    open(v.type(), false, 0, false);
    num(v.w1 + 1);
    // The spec takes no position of its own, so a path could not lead to the block itself:
    // it is written in full every time. Paths to its cells go through the native.
    enter();
    series_record(cell{T_block, 0, v.w2, 0}, nullptr);
    leave();
}

void encoder::op_record(const cell& v) {
    uint8_t source = uint8_t((v.header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT);
    if (source == T_routine) refuse(v);
    open(T_op, false, uint32_t(source) << HW_OP_SHIFT, false);
    cell wrapped = v;
    wrapped.header &= ~(CELL_NEW_LINE | OP_SOURCE_MASK);
    cells::set_type(&wrapped, source);
    value(wrapped);
    counter--;
}

// }==

} // namespace zyl::zylbin
