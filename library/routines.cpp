// library/routines.cpp: making routine! words from C++ code, and quit-return.
#include "library/routines.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "eval/stack.h"

namespace zyl::routines {

namespace {

// {== Internal functions

// Ends the process with the status argument. Console output is written unbuffered, so only
// the C streams are flushed.
void quit_return() {
    int32_t status = integer::get(stack::arg(0));
    std::fflush(nullptr);
    std::_Exit(status);
}

// }==

} // namespace

void define(const char* name, const char* spec_text, routine::code_fn code) {
    int32_t index = routine::find(name);
    if (index < 0) index = routine::add(name, code);
    cell* loaded = runtime::load_text(reinterpret_cast<const uint8_t*>(spec_text), std::strlen(spec_text));
    *loaded = *block::rs_head(loaded); // the spec block itself, rooted where the load was
    routine::make_value(loaded, nullptr, index, -1, 0);
    cell w = word::load(name);
    context::set_value(&w, stack::top());
    stack::pop(2);
}

void init() {
    define("quit-return", R"([status [integer!] "Process termination value to return"])", quit_return);
}

} // namespace zyl::routines
