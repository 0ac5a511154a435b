// runtime/cycles.h: the one stack on which recursive walks over values (form, mold, compare,
// copy/deep, binding) register the series or context they enter, to stop at cycles.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace zyl::cycles {

constexpr uint32_t CAPACITY = 1000; // at most CAPACITY - 1 entries are ever held

struct cycle_stack {
    node_id entries[CAPACITY];
    uint32_t top; // next free entry
};

extern cycle_stack cs;

// Registers [n] as being walked; past 999 entries empties the stack and raises too-deep.
void push(node_id n);
// Drops the top entry when there is one.
inline void pop() {
    if (cs.top) cs.top--;
}
// Drops [n] entries; the caller knows there are that many.
inline void pop_n(uint32_t n) { cs.top -= n; }
inline void reset() { cs.top = 0; }
// Whether [n] is being walked.
bool find(node_id n);

} // namespace zyl::cycles
