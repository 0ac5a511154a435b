// datatypes/function.h: function! and routine!, language functions with a spec, a context
// whose values live on the evaluation stack while they run, and a body.
//
// function-cell: header 24 (29 for routine!) with FUNC_* flags; word 1 the function context
// (kind 1, values on the stack; its owner cell holds a copy of the function value); word 2
// the spec block's node (index 0); word 3 the node of the function series, five cells:
//   FN_BODY     the body block (bound to the context), or none
//   FN_ARGS     the call spec the interpreter builds on the first call (unset until then)
//   FN_CODE     integer! index of the native code in the routine table, or unset
//   FN_OP       a copy of the op! made from this function, or unset
//   FN_EXTRA    integer! second address (for a function defined inside a context: that
//               context's node, which the interpreter runs it in), or unset
// A routine's header carries the count of word! values in its spec in FUNC_COUNT_MASK.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::function {

enum series_cell : uint32_t { FN_BODY = 0, FN_ARGS = 1, FN_CODE = 2, FN_OP = 3, FN_EXTRA = 4 };
constexpr uint32_t FN_CELLS = 5;

// Cell [i] of [fn]'s function series (fn: a function!, routine! or op! on one); valid until
// the next allocation.
inline cell* series_cell(const cell* fn, uint32_t i) {
    return reinterpret_cast<cell*>(memory::buffer_of(fn->w3)->head) + i;
}

// Whether [c] is the refinement /local (any letter case).
bool is_local(const cell* c);

// Checks [spec] (a block, from its index) and answers its header flags (FUNC_NO_TRACE,
// FUNC_TRACE); raises bad-func-def, dup-vars or invalid-type-spec. Reads words' values
// (type blocks) but allocates nothing.
uint32_t validate_spec(const cell* spec);
// Raises invalid-type-spec unless every value of type block [types] is (or is a word whose
// value is) a datatype!, typeset! or word!.
void check_type_block(const cell* types);

// While set, every function made is a library function (FUNC_LIBRARY): the start-up sets it
// while it evaluates the library sources.
extern bool making_library;

// Builds a function value and leaves it on the evaluation stack top; answers its context.
// [spec] a block (shared when its index is 0, else copied from its index); [body] a block
// (copied deeply) or null; [ctx] an existing context node or 0 (then one is made from the
// spec, and the body copy is bound to it); [code] / [extra] the integers stored in FN_CODE /
// FN_EXTRA, or -1 for none; [flags] ORed into the header. [spec] and [body] are copied onto
// the stack before anything is allocated, so they may lie anywhere. May allocate.
node_id make_value(const cell* spec, const cell* body, node_id ctx, int64_t code, int64_t extra,
                   uint32_t flags);
// The automatic locals of the `function` native: collects the set-words of [body] (and the
// words that repeat, foreach and remove-each set), minus the spec's own words and those after
// /extern; cuts [spec_copy] (a block at index 0 that the caller owns, on the stack) at
// /extern and appends /local (when missing) and the collected words to it. Pushes the block of
// collected words and answers it. Raises bad-func-extern. May allocate.
cell* collect_words(cell* spec_copy, const cell* body);
// From [start] in spec series [spec]: 1 for /local plus 1 per word! after it; 0 without
// /local, or -1 with [required] and no /local.
int32_t count_args(node_id spec, uint32_t start, bool required);
// Pushes false, then [n] - 1 none values: an unused refinement and its arguments, or the
// locals of a call (nothing when [n] < 1).
void push_unused_refinement(int32_t n);

void init(); // function!

} // namespace zyl::function

namespace zyl::routine {

// A routine's code: reads its arguments from the current frame (cell 0 first) and writes its
// result into cell 0.
using code_fn = void (*)();

// The routine registry: every routine's code by its registry name, the one table that the
// boot sources name (`word: routine spec [registry-name]`). Its rows are listed in
// library/routines.inc; routines added at run time (tests, codecs) follow them.
struct entry {
    const char* name;
    code_fn code;
};
extern const entry registry[];
extern const uint32_t registry_count;

// Index of the routine named [name] (any letter case) in the registry, or -1.
int32_t find(const char* name);
// The code at [index], or null when [index] is not in the table.
code_fn code_at(int32_t index);
// Adds [name] with [code] after the registry's rows (start-up and tests); answers its index.
int32_t add(const char* name, code_fn code);

// Builds a routine! value on the stack top: [body] a block, none or null (kept as given, not
// copied nor bound), [code] the table index, [extra] stored in FN_EXTRA (-1 for none),
// [flags] ORed into the header; the argument count is set. As function::make_value for the
// rest. May allocate.
void make_value(const cell* spec, const cell* body, int32_t code, int64_t extra, uint32_t flags);
// Stores the count of word! values of [fn]'s spec in its header (31 at most).
void set_arg_count(cell* fn);
inline uint32_t header_count(const cell* fn) { return (fn->header >> 25) & 0x1F; }

void init(); // routine!

} // namespace zyl::routine
