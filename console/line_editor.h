// console/line_editor.h: the terminal line editor behind `ask` when standard input and output
// are both terminals.
//
// One edit shows the prompt after whatever the output left on the row, reads keys in raw
// mode, edits the line (cursor keys, Home and End, Backspace and Delete, Ctrl+A/B/D/E/F/K/N/P),
// walks and extends the history block with Up and Down, completes on Tab through the
// language's `complete-input`, takes bracketed pastes as typed text, and redraws with relative
// cursor moves. The modes are restored on every way out of an edit.
#pragma once

#include "datatypes/cell.h"

namespace zyl::line_editor {

// Defines the routines `_set-buffer-history`, `_read-input` and `_terminate-console`. After
// the datatype words exist.
void init();
// Drops what the editor keeps for the collector; runtime::stop calls it.
void forget();

// Reads one line into the string [line] (appended to; on the evaluation stack or kept by the
// caller), showing the string [prompt], echoing "*" per character when [hidden]. Answers
// false at the end of input: Ctrl+D on an empty line, Ctrl+C, or the terminal gone; [line]
// then holds "q", which the console evaluates as the word that quits.
bool read_line(const cell* prompt, bool hidden, cell* line);

} // namespace zyl::line_editor
