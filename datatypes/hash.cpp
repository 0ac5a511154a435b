// datatypes/hash.cpp: hash!'s own entries (make, to, mold, copy, sort, trim) and its
// registration; everything else is block!'s. Layout and invariant: datatypes/hash.h.
#include "datatypes/hash.h"

#include <algorithm>
#include <climits>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"

namespace zyl::hash {

// {== Internal functions

cell* index_in_place(cell* c) {
    cells::set_type(c, T_block); // the table's guard keeps the cells while it indexes them
    uint32_t count = static_cast<uint32_t>(series::length(c->w2));
    node_id t = hashtable::init(std::max<uint32_t>(count, 1), c, hashtable::KIND_HASH, 1);
    cells::set_type(c, T_hash);
    c->w3 = t;
    return c;
}

// }==
// {== Action entries

namespace {

cell* to(cell* proto, cell* spec, uint8_t);

// A number gives an empty hash of that capacity, a block a hash of its cells from the index,
// a hash a copy; anything else converts as to does.
cell* make(cell* proto, cell* spec, uint8_t type) {
    uint8_t st = spec->type();
    if (st == T_integer || st == T_float_) {
        int32_t n = std::max(value::to_int_checked(spec), 1);
        block::make_at(proto, n);
        node_id t = hashtable::init(static_cast<uint32_t>(n), proto, hashtable::KIND_HASH, 1);
        cells::set_type(proto, T_hash);
        proto->w3 = t;
        return proto;
    }
    if (st == T_block) {
        cell* copied = block::clone(spec, UINT32_MAX, false, false);
        *proto = *copied;
        stack::pop(1);
        return index_in_place(proto);
    }
    return to(proto, spec, type);
}

cell* copy(cell* series, const cell* part, bool deep, const cell* types);

cell* to(cell* proto, cell* spec, uint8_t) {
    if (spec->type() == T_hash) {
        *proto = *spec;
        return copy(proto, nullptr, false, nullptr);
    }
    block::to(proto, spec, T_block);
    proto->w1 = 0;
    return index_in_place(proto);
}

// "make hash! " and the block's mold.
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    cell v = *value;
    if (!only) {
        string::concatenate_literal(buffer, "make hash! ");
        part = static_cast<int32_t>(std::max<int64_t>(int64_t(part) - 11, INT32_MIN));
    }
    return block::mold(&v, buffer, only, all, flat, arg, part, indent);
}

// The block copy, indexed afresh: a deep copy changes the nested values the table hashes.
cell* copy(cell* series, const cell* part, bool deep, const cell* types) {
    cells::set_type(series, T_block);
    block::copy(series, part, deep, types);
    return index_in_place(series);
}

cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable) {
    cell* r = block::sort(series, case_, skip, compare, part, all, reverse, stable);
    hashtable::clear_and_size(series->w3, 0);
    return r;
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with) {
    cell* r = block::trim(series, head, tail, auto_, lines, all, with);
    hashtable::clear_and_size(series->w3, 0);
    return r;
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        nullptr,               // random
        ZYL_INHERIT,           // reflect
        entry(&to),            // to
        ZYL_INHERIT,           // form
        entry(&mold),          // mold
        ZYL_INHERIT,           // eval-path
        nullptr,               // set-path
        ZYL_INHERIT,           // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        ZYL_INHERIT,           // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        ZYL_INHERIT,           // change
        ZYL_INHERIT,           // clear
        entry(&copy),          // copy
        ZYL_INHERIT,           // find
        ZYL_INHERIT,           // head
        ZYL_INHERIT,           // head?
        ZYL_INHERIT,           // index?
        ZYL_INHERIT,           // insert
        ZYL_INHERIT,           // length?
        ZYL_INHERIT,           // move
        ZYL_INHERIT,           // next
        ZYL_INHERIT,           // pick
        ZYL_INHERIT,           // poke
        ZYL_INHERIT,           // put
        ZYL_INHERIT,           // remove
        ZYL_INHERIT,           // reverse
        ZYL_INHERIT,           // select
        entry(&sort),          // sort
        ZYL_INHERIT,           // skip
        ZYL_INHERIT,           // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        ZYL_INHERIT,           // take
        entry(&trim),          // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_hash, T_block, "hash!", entries);
}

// }==

} // namespace zyl::hash
