// boot/startup.h: bringing the run-time from nothing to a state where language code runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::runtime {

// Starts every part of the run-time in dependency order, then loads the boot image and runs
// its top level: the language's words. Once (until stop).
void start();
// The first part of start: every service up to the lexer, nothing of the image. The
// boot-image tool stops here.
void start_core();
// Takes down what start made and frees all memory, so that start may run again: for tests.
void stop();

// The boot image embedded in the program (generated at build time by boot/image_tool.cpp):
// a compressed Zylbin stream and the count of values it appends to the root block.
struct image {
    const uint8_t* bytes;
    size_t length;
    uint32_t values;
};
extern const image boot_image;

// Loads the UTF-8 [text] into a block pushed on the evaluation stack; answers it. A syntax
// error is raised.
cell* load_text(const uint8_t* text, size_t length);

// Makes routine [name] with the spec loaded from [spec_text] and [code], adding the code to
// the routine table, and binds it to its global word.
void define_routine(const char* name, const char* spec_text, void (*code)());

} // namespace zyl::runtime
