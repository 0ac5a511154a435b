// datatypes/logic.cpp: logic!, true and false: truth tests, actions and hubs.
#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "services/random.h"

namespace zyl {

const cell true_value{T_logic, 1, 0, 0};
const cell false_value{T_logic, 0, 0, 0};

namespace logic {

// {== Internal functions

cell* box(bool b) { return &(*es.base = make_value(b)); }

cell* push(bool b) { return &(*stack::push_slot() = make_value(b)); }

cell* make_in(node_id block, bool b) { return series::append_value(block, make_value(b)); }

void raise_unset(const cell* c) { error::raise(error::cat_script, error::script_no_value, c); }

bool check_condition() {
    if (es.base->type() == T_unset) error::raise(error::cat_script, error::script_no_return);
    return is_true(es.base, false);
}

bool false_last() { return !is_true(es.base, false); }

bool false_top() { return !is_true(stack::top(), false); }

// }==
// {== Action entries

namespace {

double float_of(const cell* c) {
    double d;
    uint64_t bits = uint64_t(c->w3) << 32 | c->w2;
    __builtin_memcpy(&d, &bits, 8);
    return d;
}

cell* to(cell* proto, cell* spec, uint8_t) {
    bool b = spec->type() == T_logic ? spec->w1 != 0 : spec->type() != T_none;
    return &(*proto = make_value(b));
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    switch (spec->type()) {
    case T_integer: return &(*proto = make_value(spec->w2 != 0));
    case T_float_:
    case T_percent: return &(*proto = make_value(!(float_of(spec) == 0.0))); // NaN counts as true
    default: return to(proto, spec, type);
    }
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    std::string_view text = value->w1 ? "true" : "false";
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    if (!all) return form(value, buffer, nullptr, part);
    std::string_view text = value->w1 ? "#(true)" : "#(false)";
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_logic || !is_equality_op(op)) return -2;
    return static_cast<int32_t>(a->w1) - static_cast<int32_t>(b->w1);
}

cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zyl::random::seed(static_cast<int32_t>(value->w1));
        return &(*value = unset_value);
    }
    int32_t r = secure ? zyl::random::secure_int31() : zyl::random::next_int32();
    return &(*value = make_value(r > 0x3FFFFFFF));
}

cell* complement(cell* value) {
    value->w1 ^= 1;
    return value;
}

// The bitwise actions read the frame: cell 0 and cell 1; the result replaces cell 0.
template <int OP> void bitwise() {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (b->type() != T_logic) {
        cell call = stack::get_call();
        cell type = datatype::make_value(b->type());
        cell name = error::ready() ? error::arg_word_at(1) : none_value;
        error::raise(error::cat_script, error::script_expect_arg, &call, &type, &name);
    }
    a->w1 = OP == 0 ? (a->w1 & b->w1) : OP == 1 ? (a->w1 | b->w1) : (a->w1 ^ b->w1);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = entry(&random);
    e[A_to - 1] = entry(&to);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    e[A_and_t - 1] = entry(&bitwise<0>);
    e[A_complement - 1] = entry(&complement);
    e[A_or_t - 1] = entry(&bitwise<1>);
    e[A_xor_t - 1] = entry(&bitwise<2>);
    datatype::register_type(ACTION_SLOTS + 3, T_logic, 0, "logic!", e);
}

// }==

} // namespace logic
} // namespace zyl
