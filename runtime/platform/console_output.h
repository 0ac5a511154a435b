// runtime/platform/console_output.h: text to the standard output, and the print and capture hooks.
//
// Every writer encodes its text to UTF-8 in one reusable buffer and hands it to write(2) in a
// single call whenever it fits (64 KiB), so a line reaches a pipe whole. ANSI control
// sequences pass through untouched: on a terminal the terminal interprets them. Line ends
// are LF alone, on a terminal and redirected alike. Write failures are ignored, as a console
// that went away must not stop the program.
//
// Text comes in units of 1, 2 or 4 bytes per character (Latin-1, UCS-2, UCS-4 code points),
// the widths of the run-time's strings. A high surrogate followed by a low one is written as
// the character they encode; any other surrogate, and any unit above U+10FFFF, as U+FFFD, so
// that the output is always valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::console {

// Called by `print` and `prin` with the string [value] and whether to end the line [newline].
using print_hook = void (*)(const cell* value, bool newline);
// Called with every diagnostic text written: [text] in UTF-8, [length] bytes, [flag] 0.
using capture_hook = void (*)(const char* text, size_t length, int flag);

// Points the writers at the standard output and notes whether it is a terminal.
void init_output();
// Nothing to read on Linux: the terminal keeps its own default colours. Kept for the entry.
void init_attributes();
// Sends the writers' output to [fd] instead (tests use pipes and pseudo-terminals); returns
// the previous descriptor.
int set_output_fd(int fd);
// The descriptor the writers use.
int output_fd();
// The display column the writers left the cursor in: the width of what they wrote since
// the last line end. The line editor starts its prompt there.
int column();
// Tells the writers where others left the cursor (the line editor after its line end).
void set_column(int c);
// True when the output descriptor is a terminal.
bool is_console();
// Whether the last character written was a line feed (false before any output).
bool last_was_lf();

// Writers of [bytes] bytes of [text] at 1, 2 or 4 bytes a character; a trailing partial unit
// is ignored. The _line forms end the line.
void write_latin1(const uint8_t* text, size_t bytes);
void write_latin1_line(const uint8_t* text, size_t bytes);
void write_ucs2(const uint8_t* text, size_t bytes);
void write_ucs2_line(const uint8_t* text, size_t bytes);
void write_ucs4(const uint8_t* text, size_t bytes);
void write_ucs4_line(const uint8_t* text, size_t bytes);
// Writes the NUL-terminated [text] as its bytes and passes it to the capture hooks.
void write_cstring(const char* text);

// Diagnostic number writers ("%i", "%02X", "%08X", "%.16g", "%.7g"); each text also goes to
// the capture hooks.
void write_int(int32_t n);
void write_hex2(uint32_t n);
void write_hex8(uint32_t n);
void write_float64(double d);
void write_float32(float f);

// Writes the string [value] from its index to its tail, with a line end when [newline].
// Around the write the terminal UI gives the terminal back and takes it again. Does not
// allocate, so [value] may point into a series buffer.
void print_string(const cell* value, bool newline);

// Makes both hook lists, with print_string as the first print hook.
void init_print_hooks();
// Appends [print] and [capture] to their lists; a null one is skipped.
void add_print_hooks(print_hook print, capture_hook capture);
// Removes the first entry equal to [print] and the first equal to [capture]; later entries
// move up. A null or absent one is skipped.
void remove_print_hooks(print_hook print, capture_hook capture);
// Calls every print hook, in order, with [value] and [newline].
void call_print_hooks(const cell* value, bool newline);
// Calls every capture hook, in order, with [text], [length] and [flag].
void call_capture_hooks(const char* text, size_t length, int flag);

} // namespace zyl::console
