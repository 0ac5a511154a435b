// console/stdin_input.h: redirected standard input, read through one buffer for every reader.
//
// `ask` on a pipe or file, `input-stdin` and `read-stdin` all take their bytes from the same
// 64 KB buffer, so text one reader pulled in ahead is never lost to the next. Lines are
// decoded as UTF-8: a byte that cannot be decoded becomes U+FFFD and decoding resumes right
// after it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::stdin_input {

// Appends the next line of standard input to the string [line] (rooted by the caller), its
// line feed and a carriage return before it dropped. Answers false when the input had ended
// before any character of the line.
bool read_line(cell* line);
// Takes at most [cap] of the bytes buffered, reading when none are; their count in [n], none
// at the end of input. They stay valid until the next read.
const uint8_t* take_bytes(size_t cap, size_t* n);

} // namespace zyl::stdin_input

namespace zyl::routines {

void input_stdin();
void read_stdin();
void console_init();
void write_stderr();

} // namespace zyl::routines
