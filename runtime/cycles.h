// runtime/cycles.h: the one stack on which recursive walks over values (form, mold, compare,
// copy/deep, binding) register the series or context they enter, to stop at cycles.
//
// An entry is the node a value refers to: word 1 of an object!, error! or port!, word 2 of
// every other value.
// A walk pushes the node before it descends into the value's contents and pops it after; a
// value whose node is already on the stack is being walked further up, so the walk stops
// there (form and mold print a marker in its place).
//
// Invariant: top < CAPACITY; every entry below top was pushed by a walk still in progress.
// Walks hold their entries through `entry` guards, so the stack is back where the walk found
// it on every way out, a raised error included.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::cycles {

constexpr uint32_t CAPACITY = 1000; // at most CAPACITY - 1 entries are ever held

struct cycle_stack {
    node_id entries[CAPACITY];
    uint32_t top; // next free entry
};

extern cycle_stack cs;

// Registers [n] as being walked; the 1000th entry empties the stack and raises too-deep.
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

// The node that value [v] registers: word 1 (the context) of an object!, error! or port!,
// word 2 of anything else.
inline node_id node_of(const cell* v) {
    uint8_t t = v->type();
    return t == T_object || t == T_error || t == T_port ? v->w1 : v->w2;
}

// When [value]'s node is being walked: appends its cycle marker to string [out] ("[...]" and
// the like when [mold], "..." when forming), lowers [part] by the marker's length and answers
// true. Otherwise writes nothing and answers false. May allocate (the marker's text).
bool form_marker(const cell* value, const cell* out, int32_t& part, bool mold);

// Rewrites every entry through [relocated] (old node to new node): for a collector that has
// moved nodes. Node ids never change while node frames stay in place.
void update_after_move(node_id (*relocated)(node_id));

// Holds [n] on the stack while the guard lives: pushes it (raising too-deep past 999 entries)
// and, when the guard ends, cuts the stack back to where it was, never above it (a too-deep
// raise further in has emptied it, and it stays empty).
struct entry {
    explicit entry(node_id n) : saved(cs.top) { push(n); }
    ~entry() {
        if (cs.top > saved) cs.top = saved;
    }
    entry(const entry&) = delete;
    entry& operator=(const entry&) = delete;
    uint32_t saved; // top before the push
};

} // namespace zyl::cycles
