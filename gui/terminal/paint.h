// gui/terminal/paint.h: drawing into the cell grid: the text drawer with wrapping, clipping and
// colour escapes, and the primitives the draw dialect paints with (lines and curves as full
// blocks, boxes with box-drawing characters, fills as background colour).
//
// Every primitive cuts its shape to the clip box before it walks it, so its cost follows the
// visible cells, never the shape's size: a line to 2000000000x1 costs what its visible part does.
#pragma once

#include <cstdint>

#include "gui/terminal/screen.h"
#include "gui/terminal/text_measure.h"
#include "gui/terminal/widget.h"

namespace zyl::tui {

// Painter mode bits; the low ones are also the attributes written into drawn cells.
constexpr uint32_t MODE_DIM = 0x0004, MODE_REVERSE = 0x0008, MODE_PASSWORD = 0x0800,
                   MODE_ESCAPES = 0x1000, MODE_NO_TEXT = 0x2000;
constexpr uint32_t MODE_ATTRS = 0x0FFF;
// Paragraph bits.
constexpr uint32_t PARA_RIGHT = 1, PARA_CENTER = 2, PARA_MIDDLE = 4, PARA_BOTTOM = 8, PARA_WRAP = 32;

// A box of cells: columns x0 to x1 - 1, rows y0 to y1 - 1.
struct clip_rect {
    int x0, y0, x1, y1;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

struct text_style {
    uint32_t mode; // painter mode bits
    uint32_t para; // paragraph bits
    uint32_t fg, bg;
};

struct draw_state {
    int ox, oy;      // the origin: screen column and row of the box
    clip_rect clip;  // cut to the grid
    uint32_t pen = 0, fill = 0, font = 0;
    bool pen_on = true, fill_on = false, font_set = false;
    uint32_t mode = 0;
    bool paints = true; // false: validate only (a run for an image)
};

// {== Escapes inside text

// Applies one SGR code to the colours and attributes.
void apply_sgr(uint32_t code, uint32_t& fg, uint32_t& bg, uint32_t& attrs);
// Reads the escape sequence at [t] position [i] (its ESC); applies an SGR. Returns the position
// after it.
uint32_t parse_sgr(const text_span& t, uint32_t i, uint32_t& fg, uint32_t& bg, uint32_t& attrs);

// {== Text

// Draws [t] from screen column [x], row [y] inside [clip] in [st]'s colours; with [wrap] a
// character that reaches the clip's right edge starts the next line.
void draw_text(screen& s, const text_span& t, int x, int y, const clip_rect& clip, const text_style& st, bool wrap);
// Draws prepared cells: [a] row by row when it is more than one row high (images), else like text
// (rich text: one cell per character), each cell with its own colours and attributes.
void draw_cells(screen& s, const cell_array& a, int x, int y, const clip_rect& clip, uint32_t mode, bool wrap);

// The grid's box.
inline clip_rect grid_rect(const screen& s) { return {0, 0, s.width, s.height}; }
clip_rect intersect(const clip_rect& a, const clip_rect& b);
// The visible box of [w] drawn at [x], [y]: cut to its parent's visible box unless the parent is
// a window, and to the grid; negative starts become 0.
clip_rect clip_box(screen& s, const widget* w, int x, int y);

// {== Primitives: points are relative to the state's origin.

void prim_line(screen& s, const draw_state& d, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
void prim_box(screen& s, const draw_state& d, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
// An ellipse of radii [rx], [ry] around [cx], [cy]: outline in the pen colour, inside filled.
void prim_ellipse(screen& s, const draw_state& d, int64_t cx, int64_t cy, int64_t rx, int64_t ry);
void prim_circle(screen& s, const draw_state& d, int64_t cx, int64_t cy, int64_t radius);
void prim_ellipse_in(screen& s, const draw_state& d, int64_t x, int64_t y, int64_t w, int64_t h);
void prim_triangle(screen& s, const draw_state& d, int64_t x[3], int64_t y[3]);
void prim_text(screen& s, const draw_state& d, int64_t x, int64_t y, const text_span& t);

} // namespace zyl::tui
