// tests/pty/tui_frames.cpp: a small program for the terminal UI's pty tests: enters the UI's
// mode, paints fixture or random frames, waits for "q" (or a resize) and leaves by the way
// asked.
// Usage: zyl-tui-frames normal|error|quit|sigterm|segv|resize|print [--fullscreen] [--random N]
//        [--seed S] [--whole]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "boot/startup.h"
#include "eval/interp.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/terminal_mode.h"
#include "runtime/platform/terminal.h"
#include "runtime/platform/tui_hooks.h"

using namespace zyl;
using namespace zyl::tui;

namespace {

struct options {
    std::string path = "normal";
    bool fullscreen = false;
    int random = 0;
    unsigned seed = 1;
    bool whole = false;
};

void text(int col, int row, const char* s, uint32_t fg, uint32_t bg, uint32_t attrs) {
    for (const auto* p = reinterpret_cast<const uint8_t*>(s); *p && col < scr.width;) {
        uint32_t cp = *p++;
        if (cp >= 0xE0) { // the three-byte characters of the fixture
            cp = ((cp & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
            p += 2;
        }
        screen_at(scr, col, row) = screen_cell{cp, bg, fg, attrs};
        if (cp >= 0x1100 && col + 1 < scr.width) screen_at(scr, ++col, row) = screen_cell{0, bg, fg, attrs | ATTR_CONTINUATION};
        col++;
    }
}

void fixture_frame(const char* note) {
    screen_size(scr, scr.columns < 40 ? scr.columns : 40, 4);
    text(0, 0, "Zyl frame \xe4\xb8\xad\xe6\x96\x87 wide", color_16(1), COLOR_DEFAULT, ATTR_BOLD);
    text(0, 1, "blue on yellow", color_256(21), color_16(3), 0);
    text(0, 2, "true colour", color_rgb(10, 200, 30), COLOR_DEFAULT, ATTR_UNDERLINE);
    text(0, 3, note, COLOR_DEFAULT, COLOR_DEFAULT, 0);
    place_inline(scr);
    paint(scr, false);
}

void random_frames(const options& o) {
    static const uint32_t chars[] = {'a', 'b', 'Z', ' ', 0, 0x4E2D, 0xE9, '#'};
    static const uint32_t colours[] = {0, color_16(1), color_16(9), color_16(12), color_256(100),
                                       color_rgb(10, 200, 30), color_256(7), color_16(4)};
    std::mt19937 rng(o.seed);
    screen_size(scr, scr.columns, o.fullscreen ? scr.rows : scr.rows - 1);
    for (int f = 0; f < o.random; f++) {
        int changes = f == 0 ? scr.width * scr.height : int(rng() % 40);
        for (int k = 0; k < changes; k++) {
            int col = int(rng() % uint32_t(scr.width - 1)), row = int(rng() % uint32_t(scr.height));
            screen_cell c{chars[rng() % 8], colours[rng() % 8], colours[rng() % 8], 0};
            if (rng() % 3 == 0) c.attrs |= ATTR_BOLD;
            if (rng() % 4 == 0) c.attrs |= ATTR_REVERSE;
            if (rng() % 5 == 0) c.attrs |= ATTR_UNDERLINE;
            // Whole wide characters only: clear what a change would cut in half.
            if (screen_at(scr, col, row).attrs & ATTR_CONTINUATION) screen_at(scr, col - 1, row) = {};
            if (screen_at(scr, col + 1, row).attrs & ATTR_CONTINUATION) screen_at(scr, col + 1, row) = {};
            screen_at(scr, col, row) = c;
            if (c.cp >= 0x1100) {
                if (col + 2 < scr.width && (screen_at(scr, col + 2, row).attrs & ATTR_CONTINUATION))
                    screen_at(scr, col + 2, row) = {};
                screen_at(scr, col + 1, row) = screen_cell{0, c.bg, c.fg, c.attrs | ATTR_CONTINUATION};
            }
        }
        if (o.whole) screen_touched(scr);
        place_inline(scr);
        paint(scr, false);
    }
}

// Waits for "q"; a resize paints the new size. Nothing to wait for without a terminal.
void wait_for_q() {
    if (!mode.terminal_mode) return;
    for (;;) {
        terminal::wait_result r = terminal::ui_wait(-1, true);
        if (r == terminal::WAIT_RESIZE) {
            terminal::console_size(scr.columns, scr.rows);
            char note[64];
            std::snprintf(note, sizeof note, "size %dx%d", scr.columns, scr.rows);
            fixture_frame(note);
        } else if (r == terminal::WAIT_INPUT) {
            uint8_t buf[256];
            size_t n = terminal::ui_read(buf, sizeof buf);
            if (std::memchr(buf, 'q', n)) return;
        }
    }
}

void run(const options& o) {
    mode_guard guard;
    mode.fullscreen = o.fullscreen;
    open_screen(true);
    if (o.random > 0) {
        random_frames(o);
        if (FILE* f = std::fopen("painted", "w")) std::fclose(f); // the test's cue to look
    } else {
        fixture_frame("ready");
    }
    wait_for_q();
    if (o.path == "print") { // other console output while the UI is up, as the console prints
        tui::restore_terminal();
        std::printf("printed line\n");
        std::fflush(stdout);
        tui::resume_terminal();
        fixture_frame("again");
        wait_for_q();
    }
    if (o.path == "error") throw std::runtime_error("boom");
    if (o.path == "quit") {
        const char quit[] = "quit/return 3";
        cell* b = runtime::load_text(reinterpret_cast<const uint8_t*>(quit), sizeof quit - 1);
        interp::eval_block(b, true);
    }
    if (o.path == "sigterm") raise(SIGTERM);
    if (o.path == "segv") *static_cast<volatile int*>(nullptr) = 1;
}

} // namespace

int main(int argc, char** argv) {
    options o;
    if (argc > 1) o.path = argv[1];
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--fullscreen") o.fullscreen = true;
        else if (a == "--whole") o.whole = true;
        else if (a == "--random" && i + 1 < argc) o.random = std::atoi(argv[++i]);
        else if (a == "--seed" && i + 1 < argc) o.seed = unsigned(std::atoi(argv[++i]));
    }
    if (o.path == "quit") runtime::start();
    try {
        run(o);
    } catch (const std::runtime_error& e) {
        std::printf("caught %s\n", e.what());
    }
    return 0;
}
