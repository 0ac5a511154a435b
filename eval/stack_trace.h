// eval/stack_trace.h: the call stack read as a trace: the names of the calls in progress, for
// error reports (error!'s `stack` field) and for the debugger's collect-calls.
//
// Frames calling the internal words <body> and <anon> are never listed. A conditional run
// inline in a frame is listed just above that frame, as its own frame was before. An error records the
// call-stack depth when it is thrown; its trace is rendered later from the frames below that
// depth. Frames above the current top were unwound since: only their symbols are read, since
// their contexts may be gone, so their values are looked up in the global context.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "eval/stack.h"

namespace zyl::stack {

// The word that frame [f] calls, looked up in the frame's context (the global context when
// it has none; added there when absent). May allocate.
cell frame_word(const call_frame* f);
// frame_word of the conditional that frame [f] runs inline (its form_symbol is set).
cell form_word(const call_frame* f);
// The global word <not-found>: the "where" when no frame names a call; none while there is
// no global context. May allocate.
cell not_found_word();

// Appends to block [blk], from the top frame down to the frame above the bottom frame, each
// frame's called word (bound in its context, or the global context) and the position of its
// caller's arguments base in cells from the stack bottom. May allocate.
void trace(const cell* blk);
// Appends to block [blk], from the bottom frame up to frame [end] (not included), the global
// word of each call whose value is a function!, or of every call when [level] is above 1.
// May allocate.
void trace_words(int32_t level, const cell* blk, int32_t end);
// Forms the names that trace_words selects (up to the depth in integer! [marker]) into string
// [out], each followed by a space, within [limit] characters; answers what is left of it.
int32_t trace_form(int32_t level, const cell* marker, cell* out, int32_t limit);
// Records the current call-stack depth in error [err]'s `stack` field, unless that already
// holds a block!. Nothing for a bare error.
void error_record_stack(const cell* err);

} // namespace zyl::stack
