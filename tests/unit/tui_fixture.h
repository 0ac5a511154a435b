// tests/unit/tui_fixture.h: the started run-time with what the terminal UI's tests share:
// values read back from global words, backend calls run under a try frame, and a grid dump.
#pragma once

#include <string>

#include "datatypes/context.h"
#include "datatypes/word.h"
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
            es.top = top;
            last_error = error_of(e.category, e.id);
            return false;
        }
        stack::pop_frame();
        es.top = top;
        return true;
    }
};

} // namespace zyl::testing
