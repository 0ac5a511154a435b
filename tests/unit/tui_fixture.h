// tests/unit/tui_fixture.h: the started run-time with what the terminal UI's tests share:
// values read back from global words, backend calls run under a try frame, and a grid dump.
#pragma once

#include <string>

#include "datatypes/context.h"
#include "datatypes/word.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/views.h"
#include "started_fixture.h"

namespace zyl::testing {

struct TuiTest : StartedTest {
    std::string last_error;

    // The value of global word [name].
    static cell global(const char* name) {
        cell w = word::load(name);
        return *context::get_value(&w);
    }
    static void set_global(const char* name, const cell* v) {
        cell w = word::load(name);
        context::set_value(&w, v);
    }
    // The grid as text, a line a row; a continuation cell adds nothing, an empty cell is a space.
    static std::string rows(tui::screen& s) {
        std::string out;
        for (int r = 0; r < s.height; r++) {
            for (int c = 0; c < s.width; c++) {
                const tui::screen_cell& k = tui::screen_at(s, c, r);
                if (k.attrs & tui::ATTR_CONTINUATION) continue;
                uint32_t cp = k.cp ? k.cp : ' ';
                char b[4];
                int n = cp < 0x80 ? (b[0] = char(cp), 1)
                        : cp < 0x800 ? (b[0] = char(0xC0 | cp >> 6), b[1] = char(0x80 | (cp & 0x3F)), 2)
                        : cp < 0x10000 ? (b[0] = char(0xE0 | cp >> 12), b[1] = char(0x80 | ((cp >> 6) & 0x3F)), b[2] = char(0x80 | (cp & 0x3F)), 3)
                        : (b[0] = char(0xF0 | cp >> 18), b[1] = char(0x80 | ((cp >> 12) & 0x3F)), b[2] = char(0x80 | ((cp >> 6) & 0x3F)), b[3] = char(0x80 | (cp & 0x3F)), 4);
                out.append(b, size_t(n));
            }
            out += '\n';
        }
        return out;
    }

    // Runs [f] as a native would, under a try frame; false (and last_error set) when it raised.
    template <typename F>
    bool guarded(F&& f) {
        cell* top = es.top;
        cell w = word::load("test");
        stack::mark_try(&w);
        try {
            f();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            cell err = *stack::top();
            es.top = top;
            last_error = error_of(e.category, e.id);
            set_global("err", &err); // its arguments, for the language to read
            return false;
        }
        stack::pop_frame();
        es.top = top;
        return true;
    }

    // Realises the face of global [name] (its `state` gets the handle) and its pane, whose
    // faces become the globals [name]-1, [name]-2 ...; null when making the widget raised.
    tui::widget* realise(const std::string& name, tui::widget* parent = nullptr) {
        cell face = global(name.c_str());
        tui::widget* w = nullptr;
        if (!guarded([&] { w = tui::make_view(&face, parent); })) return nullptr;
        cell h;
        tui::handle_of(w, &h);
        set_global("h", &h);
        eval(name + "/state: reduce [h 0] 0");
        int n = std::stoi(eval("either block? " + name + "/pane [length? " + name + "/pane] [0]"));
        for (int i = 1; i <= n; i++) {
            std::string kid = name + "-" + std::to_string(i);
            eval(kid + ": pick " + name + "/pane " + std::to_string(i) + " 0");
            realise(kid, w);
        }
        return w;
    }
};

} // namespace zyl::testing
