// datatypes/native.h: native!, action! and op!, the language values of the run-time's built-in
// functions and of infix operators.
//
// native-cell (native! 21, action! 22):
//   word 0  header: the type id
//   word 1  the table index of the code: native number - 1 (eval/natives.h) for a native!,
//           action slot - 1 (actions::generic) for an action!
//   word 2  the node of the spec block (index 0)
//   word 3  the node of a two-cell series: cell 0 a copy of the context cell made from the
//           spec (function kind, values on the stack), cell 1 the call spec the interpreter
//           builds on the first call (none until then)
// An op! (23) is a copy of the cell it runs (a native!, action!, function! or routine!, words
// 1-3 unchanged, the source's own header flags kept) whose type byte is 23 and whose header
// bits 16-23 hold the source's type id; for a function! or routine! source the op is also
// stored in cell FN_OP of the source's function series (datatypes/function.h).
//
// Invariant: a native's or action's word 1 names a filled entry whose parameters match the
// spec's shape (argument count, refinements and their argument counts): make refuses any
// other, so a call never reads past the arguments it was given.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/header_flags.h"

namespace zyl {

namespace native {

// Cells of the series in word 3.
enum series_cell : uint32_t { NV_CONTEXT = 0, NV_ARGS = 1 };
constexpr uint32_t NV_CELLS = 2;

// A block! over the spec of [fn] (any native!, action!, op!, function! or routine!).
inline cell spec_of(const cell* fn) { return cell{T_block, 0, fn->w2, 0}; }

// Whether [spec] (a block, from its index) has the shape [shape]: its first character the
// number of fixed arguments, then one character per refinement, the number of that
// refinement's arguments. Words after /local do not count; set-words (return:) and the
// blocks and strings that type and document the words are skipped.
bool has_shape(const cell* spec, const char* shape);
// The shape of the entry of native number [n] (the natives table, eval/natives.cpp), or null
// when [n] is no native the run-time defines.
const char* shape(uint32_t n);

void init(); // native!

} // namespace native

namespace action {
// The shape (see native::has_shape) of the stack entry of [slot], or null for the slots that
// have no stack entry of the action calling convention.
const char* shape(uint32_t slot);
void init(); // action!
} // namespace action

namespace op {
// The type id of the value that op [c] runs.
inline uint8_t source_type(const cell* c) {
    return static_cast<uint8_t>((c->header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT);
}
// Whether [spec] (a block, from its head) fits an operator: exactly two arguments, the first
// of them a plain word!; counting stops at return:, /local or /extern, and any other
// refinement refuses the spec.
bool check_spec(const cell* spec);
void init(); // op!
} // namespace op

} // namespace zyl
