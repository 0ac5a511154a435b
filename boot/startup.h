// boot/startup.h: bringing the run-time from nothing to a state where language code runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::runtime {

// Starts every part of the run-time in dependency order, then makes the language's words:
// the actions and natives from their spec sources and the base definitions. Once.
void start();
// Takes down what start made and frees all memory, so that start may run again: for tests.
void stop();

// One language source embedded in the program: its file name and text.
struct source {
    const char* name;
    const char* text;
    size_t length;
};
// The embedded library sources, in load order (generated at build time).
extern const source library_sources[];
extern const size_t library_source_count;

// Loads the UTF-8 [text] into a block pushed on the evaluation stack; answers it. A syntax
// error is raised.
cell* load_text(const uint8_t* text, size_t length);

// Makes routine [name] with the spec loaded from [spec_text] and [code], adding the code to
// the routine table, and binds it to its global word.
void define_routine(const char* name, const char* spec_text, void (*code)());

} // namespace zyl::runtime
