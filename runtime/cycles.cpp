// runtime/cycles.cpp: the cycle stack.
#include "runtime/cycles.h"

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

} // namespace zyl::cycles
