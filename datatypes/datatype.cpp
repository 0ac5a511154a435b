// datatypes/datatype.cpp: datatype!, the value of a datatype: its actions and hubs.
#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/values.h"

namespace zyl::datatype {

// {== Internal functions

cell* push(uint8_t type) { return &(*stack::push_slot() = make_value(type)); }

cell* make_in(node_id block, uint8_t type) { return series::append_value(block, make_value(type)); }

// }==
// {== Action entries

namespace {

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    const name_entry& e = entry_of(static_cast<uint8_t>(value->w1));
    string::concatenate_literal(buffer, std::string_view(e.name, e.name_length));
    return part - static_cast<int32_t>(e.name_length);
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell*, int32_t part,
             int32_t) {
    const name_entry& e = entry_of(static_cast<uint8_t>(value->w1));
    std::string_view name(e.name, e.name_length + 1);
    if (all) string::concatenate_literal(buffer, "#(");
    string::concatenate_literal(buffer, name);
    if (all) string::concatenate_literal(buffer, ")");
    return part - static_cast<int32_t>(name.size()) - (all ? 3 : 0);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (op != 0 && op != 1 && op != 2 && op != 9 && op != 12) return -2;
    return b->type() == T_datatype && b->w1 == a->w1 ? 0 : 1;
}

} // namespace

// }==
// {== Registration

void init() {
    action_fn e[ACTION_SLOTS] = {};
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    register_type(ACTION_SLOTS + 3, T_datatype, 0, "datatype!", e);
}

// }==

} // namespace zyl::datatype
