// datatypes/percent.cpp: percent!, a float! shown multiplied by 100 with a trailing "%": its
// constructors and its text; every other entry is float!'s.
#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/values.h"

namespace zyl::percent {

// {== Internal functions

cell* make_at(cell* c, double d) { return &(*c = float_::make_value(d, T_percent)); }

cell* make_at_halves(cell* c, uint32_t high, uint32_t low) {
    return &(*c = cell{T_percent, 0, low, high});
}

cell* box(double d) { return make_at(es.base, d); }

cell* push(double d) { return make_at(stack::push_slot(), d); }

cell* push_halves(uint32_t high, uint32_t low) { return make_at_halves(stack::push_slot(), high, low); }

cell* make_in(node_id block, uint32_t high, uint32_t low) {
    return make_at_halves(series::append_unset_cell(block), high, low);
}

// }==
// {== Action entries

namespace {

// form and mold alike: 0.5 shows as 50%.
int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    std::string_view text = float_::format(get(value) * 100.0, float_::KIND_PERCENT);
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form(value, buffer, nullptr, part);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    for (uint8_t slot : {A_make, A_random, A_to, A_compare, A_absolute, A_add, A_divide, A_multiply,
                         A_negate, A_power, A_remainder, A_round, A_subtract, A_even_q, A_odd_q})
        e[slot - 1] = ZYL_INHERIT;
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    datatype::register_type(ACTION_SLOTS + 3, T_percent, T_float_, "percent!", e);
}

// }==

} // namespace zyl::percent
