// datatypes/handle.cpp: handle! makers, form, mold, compare and the registration. Layout:
// datatypes/handle.h.
#include "datatypes/handle.h"

#include <cstdio>

#include "datatypes/core.h"
#include "datatypes/header_flags.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/extres.h"
#include "runtime/values.h"

namespace zyl::handle {

// {== Internal functions

namespace {

constexpr const char* kind_names[] = {"fd", "monitor", "window", "font", "rich-text"};

// The value as eight upper-case hexadecimal digits and "h".
void form_value(const cell* h, const cell* out) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "%08Xh", h->w2);
    string::concatenate_part(out, text, static_cast<uint32_t>(n));
}

} // namespace

cell* make_at(cell* c, uint32_t value, uint32_t kind) {
    *c = cell{T_handle, kind, value, 0xFFFFFFFF};
    return c;
}

cell* box(uint32_t value, uint32_t kind) { return make_at(stack::arg(0), value, kind); }

cell* push(uint32_t value, uint32_t kind) {
    cell h;
    return stack::push(make_at(&h, value, kind));
}

cell* push_empty() { return push(0, KIND_NONE); }

cell* append_to_block(const cell* blk, uint32_t value, uint32_t kind) {
    cell h;
    return series::append_value(blk->w2, *make_at(&h, value, kind));
}

cell* make_for_resource(cell* c, int32_t index, uint32_t kind) {
    make_at(c, static_cast<uint32_t>(index), kind);
    const extres::entry* e = extres::at(index);
    uint32_t generation = e ? e->generation : 0;
    c->header |= (generation << HANDLE_GENERATION_SHIFT) & HANDLE_GENERATION_MASK;
    return c;
}

void* resolve(const cell* h) {
    auto index = static_cast<int32_t>(h->w2);
    const extres::entry* e = h->type() == T_handle ? extres::at(index) : nullptr;
    if (!e) return nullptr;
    uint32_t bits = (h->header & HANDLE_GENERATION_MASK) >> HANDLE_GENERATION_SHIFT;
    if ((e->generation & (HANDLE_GENERATION_MASK >> HANDLE_GENERATION_SHIFT)) != bits) return nullptr;
    return extres::resource_of(index, e->generation);
}

// }==
// {== Action entries

namespace {

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    cell h = *value;
    form_value(&h, buffer);
    return part - 9;
}

// "handle!", or with /all "#[handle! " the value, the kind's name and "]".
int32_t mold(const cell* value, cell* buffer, bool, bool all, bool, const cell*, int32_t part, int32_t) {
    cell h = *value;
    if (!all) {
        string::concatenate_literal(buffer, "handle!");
        return part - 7;
    }
    string::concatenate_literal(buffer, "#[handle! ");
    form_value(&h, buffer);
    part -= 19;
    if (h.w1 >= 1 && h.w1 <= sizeof kind_names / sizeof kind_names[0]) {
        std::string_view name = kind_names[h.w1 - 1];
        string::concatenate_literal(buffer, " ");
        string::concatenate_literal(buffer, name);
        part -= static_cast<int32_t>(name.size()) + 1;
    }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

// Handles order by their signed values. Any other value is unequal, and has no order with a
// handle.
int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_handle) return is_equality_op(op) || op == 10 || op == 11 ? 1 : -2;
    auto x = static_cast<int32_t>(a->w2), y = static_cast<int32_t>(b->w2);
    return (x > y) - (x < y);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn entries[ACTION_SLOTS] = {};
    entries[A_form - 1] = entry(&form);
    entries[A_mold - 1] = entry(&mold);
    entries[A_compare - 1] = entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_handle, T_integer, "handle!", entries);
}

// }==

} // namespace zyl::handle
