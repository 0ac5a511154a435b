// datatypes/none.cpp: none!, the value of no value: its actions and hubs.
#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/values.h"

namespace zyl {

const cell none_value{T_none, 0, 0, 0};

namespace none {

// {== Internal functions

cell* set_last() { return &(*es.base = none_value); }

cell* push() { return stack::push(&none_value); }

cell* make_in(node_id block) { return series::append_value(block, none_value); }

// }==
// {== Action entries

namespace {

cell* make(cell* proto, cell*, uint8_t) { return &(*proto = none_value); }

int32_t form(const cell*, cell* buffer, const cell*, int32_t part) {
    string::concatenate_literal(buffer, "none");
    return part - 4;
}

int32_t mold(const cell*, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    std::string_view text = all ? "#(none)" : "none";
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

int32_t compare(const cell*, const cell* b, int32_t op) {
    if (b->type() != T_none) return -2;
    return is_equality_op(op) ? 0 : -2;
}

// The series actions on none: nothing to clear, and no length.
cell* to_none(cell* value) { return &(*value = none_value); }

int32_t length(const cell*) { return -1; }

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
    e[A_clear - 1] = entry(&to_none);
    e[A_length_q - 1] = entry(&length);
    // find, remove, select and take give none too; they join with the series twins.
    datatype::register_type(ACTION_SLOTS + 3, T_none, 0, "none!", e);
}

// }==

} // namespace none
} // namespace zyl
