// gui/terminal/colors.cpp: the xterm 256-colour palette and the nearest palette colour of an
// RGB value, for terminals that show no true colour.
#include "gui/terminal/screen.h"

namespace zyl::tui {

namespace {

constexpr uint32_t base16[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
constexpr uint32_t cube_levels[6] = {0, 95, 135, 175, 215, 255};

// A channel's level in the 6x6x6 cube.
constexpr uint32_t level(uint32_t v) { return v < 48 ? 0 : v <= 114 ? 1 : (v - 35) / 40; }

uint32_t distance(uint32_t rgb, uint32_t r, uint32_t g, uint32_t b) {
    auto d = [](uint32_t x, uint32_t y) { return x > y ? x - y : y - x; };
    uint32_t dr = d((rgb >> 16) & 0xFF, r), dg = d((rgb >> 8) & 0xFF, g), db = d(rgb & 0xFF, b);
    return dr * dr + dg * dg + db * db;
}

} // namespace

uint32_t palette_rgb(uint32_t i) {
    i &= 0xFF;
    if (i < 16) return base16[i];
    if (i < 232) {
        uint32_t n = i - 16;
        return (cube_levels[n / 36] << 16) | (cube_levels[(n / 6) % 6] << 8) | cube_levels[n % 6];
    }
    uint32_t grey = 8 + 10 * (i - 232);
    return (grey << 16) | (grey << 8) | grey;
}

uint32_t rgb_to_color(uint32_t rgba) {
    if ((rgba >> 24) == 255) return COLOR_DEFAULT;
    uint32_t r = rgba & 0xFF, g = (rgba >> 8) & 0xFF, b = (rgba >> 16) & 0xFF;
    uint32_t cube = 16 + 36 * level(r) + 6 * level(g) + level(b);
    uint32_t average = (r + g + b) / 3;
    uint32_t grey = average > 238 ? 255 : average < 3 ? 232 : 232 + (average - 3) / 10;
    bool cube_nearer = distance(palette_rgb(cube), r, g, b) < distance(palette_rgb(grey), r, g, b);
    return color_256(cube_nearer ? cube : grey);
}

} // namespace zyl::tui
