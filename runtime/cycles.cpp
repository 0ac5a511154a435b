// runtime/cycles.cpp: the cycle stack and the markers that form and mold print for a cycle.
#include "runtime/cycles.h"

#include <string_view>

#include "datatypes/string.h"
#include "runtime/error.h"

namespace zyl::cycles {

cycle_stack cs;

void push(node_id n) {
    cs.entries[cs.top++] = n;
    if (cs.top == CAPACITY) {
        reset(); // so that the error report can be formed
        error::raise(error::cat_internal, error::internal_too_deep);
    }
}

bool find(node_id n) {
    for (uint32_t i = 0; i < cs.top; i++)
        if (cs.entries[i] == n) return true;
    return false;
}

namespace {

// The text that stands for a value of type [t] already being molded.
std::string_view mold_marker(uint8_t t) {
    switch (t) {
    case T_block: case T_hash: return "[...]";
    case T_paren: return "(...)";
    case T_map: return "#[...]";
    case T_object: return "make object! [...]";
    default: return "..."; // the path types; callers pass no other type
    }
}

} // namespace

bool form_marker(const cell* value, const cell* out, int32_t& part, bool mold) {
    if (!find(node_of(value))) return false;
    std::string_view marker = mold ? mold_marker(value->type()) : "...";
    string::concatenate_literal(out, marker);
    part -= static_cast<int32_t>(marker.size());
    return true;
}

void update_after_move(node_id (*relocated)(node_id)) {
    for (uint32_t i = 0; i < cs.top; i++) cs.entries[i] = relocated(cs.entries[i]);
}

} // namespace zyl::cycles
