// datatypes/unset.cpp: unset!, the value of nothing: its actions and hubs.
#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/values.h"

namespace zyl {

const cell unset_value{T_unset, 0, 0, 0};

namespace unset {

// {== Internal functions

cell* set_last() { return &(*es.base = unset_value); }

cell* push() { return stack::push(&unset_value); }

cell* make_in(node_id block) { return series::append_value(block, unset_value); }

// }==
// {== Action entries

namespace {

cell* make(cell* proto, cell*, uint8_t) { return &(*proto = unset_value); }

int32_t form(const cell*, cell*, const cell*, int32_t part) { return part; }

int32_t mold(const cell*, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    std::string_view text = all ? "#(unset)" : "unset";
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t compare(const cell*, const cell* b, int32_t op) {
    if (b->type() != T_unset) return -2;
    return is_equality_op(op) ? 0 : -2;
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_unset, 0, "unset!", e);
}

// }==

} // namespace unset
} // namespace zyl
