// runtime/values.cpp: cell and series helpers at a series tail, and small value helpers that
// the datatypes and natives share.
#include "runtime/values.h"

#include <cstring>

#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::series {

cell* append_unset_cell(node_id n) {
    series_buffer* b = memory::buffer_of(n);
    ZYL_ASSERT(b->unit() == 16);
    if (b->tail == b->end()) b = expand(n, 0);
    auto* c = reinterpret_cast<cell*>(b->tail);
    c->header = T_unset; // the payload words are left as they were
    b->tail += sizeof(cell);
    return c;
}

cell* append_value_slow(node_id n, const cell& v) {
    cell copy = v; // [v] may lie in a buffer that moves, or be reachable from nowhere else
    collector::keep k_copy(&copy);
    cell* c = append_unset_cell(n);
    *c = copy;
    return c;
}

cell* alloc_tail_cell(const cell* block) { return append_unset_cell(block->w2); }

uint8_t* alloc_tail_bytes(node_id n, uint64_t bytes) {
    series_buffer* b = memory::buffer_of(n);
    if (b->tail + bytes > b->end()) b = expand(n, b->size < bytes ? bytes * 2 : uint64_t(b->size) * 2);
    uint8_t* old = b->tail;
    b->tail += bytes;
    return old;
}

node_id copy_part(node_id n, uint64_t offset, uint64_t length) {
    uint32_t unit = memory::buffer_of(n)->unit();
    node_id c = alloc(length, unit, 0);
    series_buffer* src = memory::buffer_of(n);
    series_buffer* b = memory::buffer_of(c);
    ZYL_ASSERT((offset + length) * unit <= src->used_bytes());
    std::memcpy(b->head, src->head + offset * unit, length * unit);
    b->tail = b->head + length * unit;
    const uint32_t drop = SERIES_OWNED | SERIES_MID_HEAD | SERIES_BIG | SERIES_UNMANAGED | SERIES_MARK;
    b->flags = (src->flags & ~drop) | (b->flags & SERIES_BIG);
    return c;
}

} // namespace zyl::series

namespace zyl::value {

int32_t to_int_checked(const cell* v) {
    if (v->type() != T_float_) return static_cast<int32_t>(v->w2);
    double d = float_::get(v);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) error::raise(error::cat_script, error::script_out_of_range, v);
    return static_cast<int32_t>(d);
}

} // namespace zyl::value

namespace zyl::string {

int32_t append_indent(const cell* out, int32_t levels, int32_t part) {
    for (int32_t i = 0; i < levels; i++) concatenate_literal(out, "    ");
    return part - 4 * (levels > 0 ? levels : 0);
}

} // namespace zyl::string
