// library/debug_routines.cpp: the routines of the tracing tools: the tracing switch that
// `trace` holds, and the line reader that stands for the console's `ask` until the console
// of the library exists.
#include <cstdio>
#include <string>

#include "console/line_editor.h"
#include "datatypes/core.h"
#include "datatypes/string.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "library/routines.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/terminal.h"

namespace zyl::routines {

// Tracing goes on only inside a traced run: outside one the switch turns nothing on.
void trace_switch() {
    const cell* on = stack::arg(0);
    bool want = on->type() == T_logic && on->w1 != 0;
    interp::set_tracing(want && interp::is.default_tracing);
    *stack::arg(0) = unset_value;
}

// The prompt, then one line of standard input without its line end: through the line editor
// on a terminal, else from the stream the development driver reads too, so the lines that
// follow a command in piped input answer it. None at the end of input.
void driver_ask() {
    cell prompt = *stack::arg(0);
    std::string line;
    bool got = false;
    if (terminal::interactive()) {
        cell* p = stack::push(&prompt);
        cell* text = string::push_new(64);
        got = line_editor::read_line(p, false, text);
        text->w1 = 0;
        line = string::to_std(text);
        stack::pop(2);
    } else {
        std::string shown = string::to_std(&prompt);
        console::write_cstring(shown.c_str());
        char buf[4096];
        while (std::fgets(buf, sizeof buf, stdin)) {
            got = true;
            line += buf;
            if (!line.empty() && line.back() == '\n') break;
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    }
    if (!got) {
        *stack::arg(0) = none_value;
        return;
    }
    cell* s = string::load(reinterpret_cast<const uint8_t*>(line.data()),
                           static_cast<int64_t>(line.size()), string::ENCODING_UTF8);
    *stack::arg(0) = *s;
}

} // namespace zyl::routines
