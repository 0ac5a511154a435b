// gui/terminal/face_painter.h: the face painter every widget type draws with: background, image
// cells, the helper's `ui` text, the face's text or hint, then the face's `draw` block.
#pragma once

#include <cstdint>

#include "gui/terminal/paint.h"
#include "gui/terminal/widget.h"

namespace zyl::tui {

// 4 when the terminal shows true colour; image cells then keep their RGB.
extern int color_mode;

// The colour of tuple [t]: 3 bytes opaque RGB, 4 or more with the fourth byte as alpha.
uint32_t tuple_to_rgba(const cell* t, bool& has_alpha);
// The colour code of tuple [t] (rgb_to_color); 0 for another value or a translucent tuple.
uint32_t color_of(const cell* t);
// The `color` of font object [font] as a colour code; false when it has none or it is no tuple.
bool font_color(const cell* font, uint32_t& code);
// The paragraph bits of para object [para] (0 for another value).
uint32_t para_flags(const cell* para);

// Paints [w] whose box starts at screen column [x], row [y].
void paint_face(screen& s, widget* w, int x, int y, uint32_t mode);

// Rebuilds [w]'s image cells from the face's `image` (freed when it is no image or the box is
// empty). Capped at the console's size.
void prepare_image(widget* w);

} // namespace zyl::tui
