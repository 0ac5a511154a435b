// gui/terminal/draw_dialect.h: the draw dialect in cells: every command and its arguments are
// validated as the dialect defines them; those a character grid can show are painted through
// the primitives, the others do nothing.
//
// Two modes. Report mode (a face's `draw`): an error is printed and ends the run. Raise mode (a
// `draw` on an image): the error is raised to the caller. With `system/view/silent?` true a
// bad command stops the run without a word.
//
// A block runs with its series on the cycle stack (draw-infinite when it is already there); the
// nesting is bounded by that stack, never by the native one.
#pragma once

#include "datatypes/cell.h"
#include "gui/terminal/paint.h"

namespace zyl::tui {

// What ends a run early: an error stop (its error printed in report mode, or silenced) or a
// quiet stop. Distinct from the language's raised errors.
struct draw_stop {
    bool quiet;
};

// Runs [commands] (a block!) on [d]; false when a bad command ended it (in report mode: printed
// once). In raise mode errors are raised as script errors.
bool run_draw(screen& s, draw_state& d, const cell* commands, bool report);

// gui/OS-do-draw: runs [commands] for image [image] in raise mode against a state that paints
// nothing; the image is not changed.
void draw_on_image(const cell* image, const cell* commands);

} // namespace zyl::tui
