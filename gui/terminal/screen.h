// gui/terminal/screen.h: the terminal UI's cell screen: the grid a frame is drawn into, the
// painter that turns it into UTF-8 text and escape sequences, colours, the caret, and the
// small escape writers of the other parts.
//
// screen_cell (16 bytes): the code point (0 paints as a space), background and foreground
// colour codes, and attribute bits (ATTR_*). A colour code holds its kind in the top byte:
//   0 the terminal's default; 1 a 16-colour code 0-17 (0-7 normal, 8 reset, 9 default,
//   10-17 bright); 2 a palette index 0-255; 4 RGB in the low three bytes (R in bits 16-23).
//
// Placement: fullscreen (the alternate screen, drawn from its top) or inline, drawn from the
// cursor's row down in the normal screen so that it scrolls with the console's text.
// `lines_drawn` is how many lines above the cursor the last painted frame begins.
//
// Invariant: while `painted_valid` holds, the terminal shows exactly `painted` (its size
// `painted_w` x `painted_h`) at the current placement with the cursor `lines_drawn` lines
// below the frame's top and default attributes. Anything else that reaches the terminal
// (erase, print, resize, a mode change) clears it; then the next frame is painted whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::tui {

struct screen_cell {
    uint32_t cp;    // code point; 0 paints as a space
    uint32_t bg;    // colour code
    uint32_t fg;    // colour code
    uint32_t attrs; // ATTR_* bits
};
static_assert(sizeof(screen_cell) == 16);

constexpr uint32_t ATTR_BLINK = 0x1;
constexpr uint32_t ATTR_BOLD = 0x2;
constexpr uint32_t ATTR_DIM = 0x4;
constexpr uint32_t ATTR_REVERSE = 0x8;
constexpr uint32_t ATTR_UNDERLINE = 0x10;
constexpr uint32_t ATTR_STRIKE = 0x40;
constexpr uint32_t ATTR_ITALIC = 0x100;
constexpr uint32_t ATTR_HIDDEN = 0x200;
constexpr uint32_t ATTR_CONTINUATION = 0x400; // the right half of a wide character: not painted
constexpr uint32_t ATTR_PASSWORD = 0x800;     // painted as "*"

constexpr uint32_t COLOR_DEFAULT = 0;
constexpr uint32_t color_16(uint32_t n) { return (1u << 24) | n; }
constexpr uint32_t color_256(uint32_t n) { return (2u << 24) | (n & 0xFF); }
constexpr uint32_t color_rgb(uint32_t r, uint32_t g, uint32_t b) { return (4u << 24) | (r << 16) | (g << 8) | b; }

// A growable byte buffer for a frame's output.
struct out_buffer {
    char* data = nullptr;
    size_t size = 0, capacity = 0;
};

struct screen {
    // The grid: width x height cells; reallocated only when it must grow.
    screen_cell* grid = nullptr;
    size_t grid_capacity = 0; // in cells
    int width = 0, height = 0;
    // The frame last painted, for painting only what changed.
    screen_cell* painted = nullptr;
    size_t painted_capacity = 0;
    int painted_w = 0, painted_h = 0;
    bool painted_valid = false;
    bool painted_fullscreen = false;
    int painted_top = 0;

    out_buffer out;          // one frame's bytes, written at once
    int lines_drawn = 0;
    int caret_col = -1, caret_row = -1; // the caret cell, -1 when none
    bool redraw = false;      // a redraw was asked
    bool drawn = false;       // a frame was painted since the last erase
    bool cursor_hidden = false;
    bool fullscreen = false;
    int inline_top = 0, inline_left = 0; // where inline drawing starts (cursor report)
    int columns = 80, rows = 24;         // the console's size
    int fd = 1;                          // where frames are written
};

// The one screen of the terminal UI.
extern screen scr;

// Sizes the grid to [width] x [height] (each at least 0) and clears every cell to zero.
void screen_size(screen& s, int width, int height);
// The cell at [col], [row]; unchecked: both must lie in the grid.
inline screen_cell& screen_at(screen& s, int col, int row) { return s.grid[static_cast<size_t>(row) * s.width + col]; }
// Frees the grids and the output buffer; the screen is as new but for its placement.
void screen_free(screen& s);

// Paints the grid into [s.out] and writes it; with [caret] the caret cell gets the cursor.
// Paints only the changed cells when the terminal still shows the last frame at the same
// placement and size. Nothing when the grid is empty.
void paint(screen& s, bool caret);
// Builds the bytes of a whole-frame paint into [s.out], without writing them.
void paint_full(screen& s, bool caret);
// Builds the bytes of a paint of the changed cells into [s.out]; false (nothing built) when
// the terminal may not show the last frame.
bool paint_changes(screen& s, bool caret);
// Writes [s.out] whole to [s.fd] (retrying interrupted and partial writes) and empties it.
void flush_out(screen& s);
// Forgets the painted frame: something else reached the terminal.
inline void screen_touched(screen& s) { s.painted_valid = false; }

// Moves the inline drawing up when it would run past the console's last row.
void place_inline(screen& s);
// Erases an inline frame already drawn, leaving the cursor where it began.
void erase_drawn_lines(screen& s);
// Moves below the UI at the end of the outermost loop.
void leave_screen(screen& s);

// The escape writers: each writes at once, not through the frame's buffer.
void set_mode(screen& s, int n);   // "\033[?%dh"
void reset_mode(screen& s, int n); // "\033[?%dl"
void query_cursor_position(screen& s);
void cursor_down(screen& s, int n);
void alt_screen(screen& s, bool on);
void mouse_reporting(screen& s, bool on);
void hide_cursor(screen& s);
void show_cursor(screen& s);

// The nearest palette colour (kind 2) of [rgba]: alpha in the top byte, R in the low byte, G
// next, B in bits 16-23; 0 (the default) when alpha is 255.
uint32_t rgb_to_color(uint32_t rgba);
// Entry [i] of the xterm palette as 0xRRGGBB.
uint32_t palette_rgb(uint32_t i);

} // namespace zyl::tui
