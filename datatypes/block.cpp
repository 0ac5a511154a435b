// datatypes/block.cpp: block! accessors, constructors and appenders, the cell comparison the
// block units share, and the registration. Editing is in datatypes/block_edit.cpp, searching
// in block_find.cpp, sorting and the set operations in block_sort.cpp, form, mold, compare,
// make, to and eval-path in block_mold.cpp.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>

#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/values.h"

namespace zyl::block {

cell root;

// {== Internal functions

namespace {

inline uint32_t total_of(const cell* blk) { return static_cast<uint32_t>(series::length(blk->w2)); }

// The block that takes blocks made with no parent: the root block, or `root` before it.
node_id root_node() {
    if (collector::gc.root_block) return collector::gc.root_block;
    ZYL_ASSERT(root.type() == T_block);
    return root.w2;
}

} // namespace

uint32_t rs_length_q(const cell* blk) {
    uint32_t total = total_of(blk);
    return blk->w1 < total ? total - blk->w1 : 0;
}

cell* rs_head(cell* blk) {
    uint32_t total = total_of(blk);
    if (blk->w1 > total) blk->w1 = total;
    return cells_of(blk->w2) + blk->w1;
}

cell* rs_tail(const cell* blk) { return reinterpret_cast<cell*>(memory::buffer_of(blk->w2)->tail); }

bool rs_tail_q(const cell* blk) { return blk->w1 >= total_of(blk); }

cell* rs_abs_at(const cell* blk, uint32_t n) { return cells_of(blk->w2) + n; }

bool rs_next(cell* blk) {
    uint32_t total = total_of(blk);
    if (blk->w1 + 1 <= total) blk->w1++;
    return blk->w1 >= total;
}

void rs_clear(cell* blk) {
    series_buffer* b = memory::buffer_of(blk->w2);
    if (blk->w1 < total_of(blk)) b->tail = b->head + uint64_t(blk->w1) * sizeof(cell);
}

void rs_set_tail(cell* blk, uint32_t n) {
    series_buffer* b = memory::buffer_of(blk->w2);
    b->tail = b->head + uint64_t(n) * sizeof(cell);
}

void remove_last(cell* blk) {
    uint32_t total = total_of(blk);
    if (total == 0) return;
    series::detail::remove_units(blk, total - 1, 1);
    if (blk->w1 > total - 1) blk->w1 = total - 1;
}

cell* make_at(cell* c, int32_t n) {
    node_id s = series::alloc_cells(n < 0 ? 1 : static_cast<uint64_t>(n));
    *c = cell{T_block, 0, s, 0};
    return c;
}

cell* make_at_fixed(cell* c, int32_t n, bool unmanaged) {
    uint64_t count = static_cast<uint64_t>(std::max(n, 1));
    node_id s = unmanaged ? series::alloc_unmanaged(count, sizeof(cell), 0) : series::alloc_cells_unset(count);
    *c = cell{T_block, 0, s, 0};
    return c;
}

cell* make_fixed_in(const cell* parent, int32_t n) {
    cell blk;
    make_at_fixed(&blk, n, true); // unmanaged: nothing collects it, so it needs no guard
    if (parent) return append_value(parent, &blk);
    if (collector::gc.root_block) return series::append_value(collector::gc.root_block, blk);
    root = blk;
    return &root;
}

cell* make_in(const cell* parent, int32_t n) {
    node_id target = parent ? parent->w2 : root_node();
    cell blk;
    make_at(&blk, n);
    return series::append_value(target, blk); // keeps [blk] alive while the target grows
}

cell* push(const cell* blk) { return stack::push(blk); }

cell* push_new(int32_t n) {
    cell* c = stack::push(&none_value); // a valid cell while the allocation may collect
    return make_at(c, n == 0 ? 1 : n);
}

cell* append_value(const cell* blk, const cell* value) {
    cell b = *blk;
    uint32_t pos = total_of(&b);
    series::append_value(b.w2, *value);
    series::detail::hash_inserted(&b, pos, 1);
    return cells_of(b.w2) + pos;
}

void append_part(const cell* target, const cell* blk, uint32_t end) {
    node_id t = target->w2, s = blk->w2;
    uint32_t from = std::min(blk->w1, total_of(blk));
    end = std::min(end, total_of(blk));
    if (end <= from) return;
    uint32_t pos = total_of(target);
    uint64_t bytes = uint64_t(end - from) * sizeof(cell);
    series::alloc_tail_bytes(t, bytes); // the source node is held by [blk]'s owner
    std::memcpy(cells_of(t) + pos, cells_of(s) + from, bytes);
    cell tc = *target;
    series::detail::hash_inserted(&tc, pos, end - from);
}

cell* append_arg() {
    cell* b = stack::arg(0);
    append_value(b, stack::arg(1));
    return b;
}

uint8_t append_top() {
    cell* v = stack::top();
    uint8_t t = v->type();
    append_value(v - 1, v);
    stack::pop(1);
    return t;
}

cell* insert_value(cell* blk, const cell* value, bool advance, bool at_tail) {
    cell v = *value, b = *blk;
    series_buffer* buf = memory::buffer_of(b.w2);
    uint32_t total = total_of(&b);
    uint32_t pos = at_tail ? total : std::min(b.w1, total);
    if (buf->tail + sizeof(cell) > buf->end()) {
        collector::keep k_v(&v);
        buf = series::expand(b.w2, (uint64_t(buf->used_bytes()) + sizeof(cell)) * 2);
    }
    cell* at = reinterpret_cast<cell*>(buf->head) + pos;
    std::memmove(at + 1, at, static_cast<size_t>(buf->tail - reinterpret_cast<uint8_t*>(at)));
    *at = v;
    buf->tail += sizeof(cell);
    series::detail::hash_inserted(&b, pos, 1);
    if (advance) blk->w1 = pos + 1;
    return cells_of(b.w2) + pos;
}

void insert_each(cell* target, const cell* blk) {
    cell items = *blk;
    cells::set_type(&items, T_block); // stands for its cells
    insert(target, &items, -1, false, 1, false);
}

void insert_top() {
    cell* v = stack::top();
    insert_value(v - 1, v, true, false);
    stack::pop(1);
}

int32_t compare_cells(const cell* a, const cell* b, int32_t op) {
    uint8_t t = a->type();
    if (t == T_integer && b->type() == T_integer) {
        int32_t x = integer::get(a), y = integer::get(b);
        return (x > y) - (x < y);
    }
    switch (t) {
    case T_native: case T_action: case T_op:
        // Identity only, as the generic comparison has it.
        if (b->type() != t) return -2;
        return (a->w1 > b->w1) - (a->w1 < b->w1);
    case T_function: case T_routine:
        if (b->type() != t) return -2;
        return (a->w3 > b->w3) - (a->w3 < b->w3);
    default: break;
    }
    auto f = datatype::action_as<actions::compare_fn>(t, A_compare);
    return f ? f(a, b, op) : -2;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        ZYL_INHERIT,           // random
        ZYL_INHERIT,           // reflect
        entry(&to),            // to
        entry(&form),          // form
        entry(&mold),          // mold
        entry(&eval_path),     // eval-path
        nullptr,               // set-path
        entry(&compare),       // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        entry(&insert),        // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        entry(&change),        // change
        ZYL_INHERIT,           // clear
        entry(&copy),          // copy
        entry(&find),          // find
        ZYL_INHERIT,           // head
        ZYL_INHERIT,           // head?
        ZYL_INHERIT,           // index?
        entry(&insert),        // insert
        ZYL_INHERIT,           // length?
        ZYL_INHERIT,           // move
        ZYL_INHERIT,           // next
        ZYL_INHERIT,           // pick
        ZYL_INHERIT,           // poke
        entry(&put),           // put
        ZYL_INHERIT,           // remove
        ZYL_INHERIT,           // reverse
        entry(&select),        // select
        entry(&sort),          // sort
        ZYL_INHERIT,           // skip
        entry(&swap),          // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        entry(&take),          // take
        entry(&trim),          // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_block, T_series, "block!", entries);
}

// }==

} // namespace zyl::block
