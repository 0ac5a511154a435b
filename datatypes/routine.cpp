// datatypes/routine.cpp: routine!, language words whose body is C++ code of the run-time,
// and the table of that code by name.
#include <cstring>
#include <strings.h>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"

namespace zyl::routine {

// {== Internal functions

namespace {

// The routines added after the registry's rows, in the order added; a routine value keeps
// its index.
std::vector<entry>& added() {
    static std::vector<entry> t;
    return t;
}

// Whether [a] names [b] in any case. The first bytes are compared folded first: the boot top
// level looks up every routine by name, and most entries differ there.
bool same_name(const char* a, const char* b) { return (a[0] | 0x20) == (b[0] | 0x20) && strcasecmp(a, b) == 0; }

} // namespace

int32_t find(const char* name) {
    for (uint32_t i = 0; i < registry_count; i++)
        if (same_name(registry[i].name, name)) return static_cast<int32_t>(i);
    const std::vector<entry>& t = added();
    for (size_t i = 0; i < t.size(); i++)
        if (same_name(t[i].name, name)) return static_cast<int32_t>(registry_count + i);
    return -1;
}

code_fn code_at(int32_t index) {
    if (index < 0) return nullptr;
    if (uint32_t(index) < registry_count) return registry[index].code;
    const std::vector<entry>& t = added();
    size_t i = size_t(index) - registry_count;
    return i < t.size() ? t[i].code : nullptr;
}

int32_t add(const char* name, code_fn code) {
    added().push_back(entry{name, code});
    return static_cast<int32_t>(registry_count + added().size() - 1);
}

void set_arg_count(cell* fn) {
    const cell* c = block::cells_of(fn->w2);
    uint32_t length = static_cast<uint32_t>(series::length(fn->w2));
    uint32_t count = 0;
    for (uint32_t i = 0; i < length; i++) count += c[i].type() == T_word;
    if (count > 31) count = 31; // the header field's width; no routine comes near it
    fn->header = (fn->header & ~FUNC_COUNT_MASK) | (count << FUNC_COUNT_SHIFT);
}

void make_value(const cell* spec, const cell* body, int32_t code, int64_t extra, uint32_t flags) {
    cell kept = body ? *body : none_value;
    collector::keep k_body{&kept};
    node_id ctx = function::make_value(spec, nullptr, 0, code, extra, flags);
    cell* fn = stack::top();
    cells::set_type(fn, T_routine);
    *function::series_cell(fn, function::FN_BODY) = kept;
    set_arg_count(fn);
    *context::owner_of(ctx) = *fn;
}

// }==
// {== Action entries

namespace {

int32_t form(const cell*, cell* buffer, const cell*, int32_t part) {
    string::concatenate_literal(buffer, "?routine?");
    return part - 10;
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    cell spec = cell{T_block, 0, value->w2, 0};
    cell body = *function::series_cell(value, function::FN_BODY);
    collector::keep k_body{&body};
    string::concatenate_literal(buffer, "routine ");
    part = actions::mold_typed(&spec, buffer, false, all, flat, arg, part - 8, indent);
    if (body.type() != T_block) {
        string::concatenate_literal(buffer, " ");
        part--;
    }
    return actions::mold_typed(&body, buffer, false, all, flat, arg, part, indent);
}

// Routines are ordered by the identity of their series: equal only to themselves.
int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_routine || !is_equality_op(op)) return -2;
    return a->w3 < b->w3 ? -1 : a->w3 > b->w3 ? 1 : 0;
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_reflect - 1] = ZYL_INHERIT;
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_routine, T_function, "routine!", e);
}

// }==

} // namespace zyl::routine
