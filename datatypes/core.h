// datatypes/core.h: datatype!, unset!, none!, logic!: the shared constant cells, the result
// hubs through which the run-time writes its results, and the truth tests.
//
// "Set last" writes cell 0 of the current frame, "push" pushes a new cell on the evaluation
// stack, "make in" appends a cell to a block. All return the cell they wrote.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl {

// The shared constant cells; read-only: copy before changing.
extern const cell unset_value;
extern const cell none_value;
extern const cell true_value;
extern const cell false_value;

inline bool is_none(const cell* c) { return c->type() == T_none; }
inline bool is_unset(const cell* c) { return c->type() == T_unset; }

namespace datatype {
cell* push(uint8_t type);
cell* make_in(node_id block, uint8_t type);
inline cell make_value(uint8_t type) { return cell{T_datatype, type, 0, 0}; }
void init();
} // namespace datatype

namespace unset {
cell* set_last();
cell* push();
cell* make_in(node_id block);
void init();
} // namespace unset

namespace none {
cell* set_last();
cell* push();
cell* make_in(node_id block);
void init();
} // namespace none

namespace logic {
inline cell make_value(bool b) { return cell{T_logic, b ? 1u : 0u, 0, 0}; }
cell* box(bool b);
cell* push(bool b);
cell* make_in(node_id block, bool b);
inline uint32_t get(const cell* c) { return c->w1; }
// Raises no-value for the unset [c] (is_true with its check).
[[noreturn]] void raise_unset(const cell* c);
// Truth of [c]: false for none and logic false only; with [check], unset raises no-value.
inline bool is_true(const cell* c, bool check) {
    uint8_t t = c->type();
    if (t == T_none) return false;
    if (t == T_logic) return c->w1 != 0;
    if (t == T_unset && check) raise_unset(c);
    return true;
}
// Truth of the frame's result; an unset result raises no-return.
bool check_condition();
// Whether the frame's result is false (no unset check).
bool false_last();
// Whether the last pushed cell (the bottom cell when the stack is empty) is false.
bool false_top();
void init();
} // namespace logic

// Whether compare operator [op] asks for equality only (0, 1, 2, 7, 8, 9, 12 for the scalars).
inline bool is_equality_op(int32_t op) {
    return op == 0 || op == 1 || op == 2 || op == 7 || op == 8 || op == 9 || op == 12;
}

} // namespace zyl
