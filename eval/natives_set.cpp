// eval/natives_set.cpp: the set natives (union, intersect, unique, difference, exclude), which
// check their two arguments against each other and hand the work to the set operation of the
// first argument's datatype, and complement? and extend.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives {

namespace {

// {== Internal functions

// Set operation codes, as every datatype's set operation takes them.
enum set_code : int32_t {
    SET_UNIQUE = 8,
    SET_UNION = 9,
    SET_INTERSECT = 10,
    SET_EXCLUDE = 11,
    SET_DIFFERENCE = 12,
};

constexpr cell set_types = typeset::unite(typeset::standard::any_string,
                                          typeset::of({T_block, T_hash, T_bitset, T_typeset, T_date}));
constexpr cell integer_types = typeset::of({T_integer});
constexpr cell bitset_types = typeset::of({T_bitset});
constexpr cell extend_types = typeset::of({T_object, T_map});
constexpr cell extend_spec_types = typeset::of({T_block, T_hash, T_map});

inline void check(int32_t flag, const cell& ts, int32_t pos) {
    if (flag) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

inline bool is_block_like(uint8_t t) { return t == T_block || t == T_hash; }

// Raises expect-val unless set2 may meet set1: blocks and hashes mix, other datatypes only
// meet their own.
void check_agreement(const cell* a, const cell* b) {
    bool ok = is_block_like(a->type()) ? is_block_like(b->type()) : a->type() == b->type();
    if (ok) return;
    cell tb = datatype::make_value(b->type());
    cell ta = datatype::make_value(a->type());
    error::raise(error::cat_script, error::script_expect_val, &tb, &ta);
}

// The core of the five set natives: set1 in cell 0, set2 in cell 1 (none for unique), the
// /skip size at [skip] (or -1); the result replaces cell 0.
void set_operation(bool case_, int32_t skip, int32_t code) {
    cell* a = stack::arg(0);
    if (code != SET_UNIQUE) check_agreement(a, stack::arg(1));
    const cell* size = skip >= 0 ? stack::arg(uint32_t(skip)) : nullptr;
    switch (a->type()) {
    case T_block: case T_hash: block::do_set_op(code, a, stack::arg(1), case_, size); break;
    case T_string: string::do_set_op(code, a, stack::arg(1), case_, size); break;
    case T_bitset: bitset::do_bitwise(code); break;
    case T_typeset: typeset::do_bitwise(code); break;
    case T_date:
        // Two dates have a difference (a time!) but no union.
        if (code != SET_DIFFERENCE) actions::missing_action(T_date);
        *a = float_::make_value(date::difference(a, stack::arg(1)), T_time);
        break;
    default: actions::missing_action(a->type());
    }
    stack::keep();
}

template <int32_t CODE> void two_sets(int32_t chk, int32_t case_, int32_t skip) {
    check(chk, set_types, 0);
    check(chk, set_types, 1);
    if (chk) error::check_arg_type_at(skip, &integer_types, 4); // set1 set2 /case /skip size
    set_operation(case_ >= 0, skip, CODE);
}

// }==
// {== Natives

void unique(int32_t chk, int32_t case_, int32_t skip) {
    check(chk, set_types, 0);
    if (chk) error::check_arg_type_at(skip, &integer_types, 3); // set /case /skip size
    set_operation(case_ >= 0, skip, SET_UNIQUE);
}

void complement_q(int32_t chk) {
    check(chk, bitset_types, 0);
    const cell* v = stack::arg(0);
    if (v->type() != T_bitset) error::check_arg_type(&bitset_types, 0, v);
    cell r = logic::make_value(bitset::is_negated(v));
    stack::set_last_keep(&r);
}

void extend(int32_t chk, int32_t case_) {
    check(chk, extend_types, 0);
    check(chk, extend_spec_types, 1);
    switch (stack::arg(0)->type()) {
    case T_map: map::extend(stack::arg(0), stack::arg(1), case_ >= 0); break;
    case T_object: error::raise(error::cat_internal, error::internal_not_done);
    default: error::check_arg_type(&extend_types, 0, stack::arg(0)); // only unchecked callers get here
    }
}

// }==

} // namespace

// {== Registration

void init_set() {
    auto e = [](auto f) { return reinterpret_cast<entry_fn>(f); };
    set_entry(41, e(&two_sets<SET_UNION>));
    set_entry(42, e(&two_sets<SET_INTERSECT>));
    set_entry(43, e(&unique));
    set_entry(44, e(&two_sets<SET_DIFFERENCE>));
    set_entry(45, e(&two_sets<SET_EXCLUDE>));
    set_entry(46, e(&complement_q));
    set_entry(83, e(&extend));
}

// }==

} // namespace zyl::natives
