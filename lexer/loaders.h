// lexer/loaders.h: the loaders of the value tokens, which the scanning loop calls through the
// loader table. Each takes a routine's arguments (lexer/internal.h): with mode 1 it pushes the
// value on the output stack, with mode 0 it only checks the text; bad text raises `invalid`
// for the token's datatype. Not an interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::lexer {

struct state;

void load_string(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_raw_string(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_word(state& st, size_t start, size_t end, uint32_t flags, int mode);
// Pushes the word! named by the text [start, end) (no sigil is read there).
void push_plain_word(state& st, size_t start, size_t end);
void load_issue(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_refinement(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_integer(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_hex(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_float(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_special_float(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_percent(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_char(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_time(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_file(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_url(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_email(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_tag(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_ref(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_binary(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_pair(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_point(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_tuple(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_money(state& st, size_t start, size_t end, uint32_t flags, int mode);
void load_date(state& st, size_t start, size_t end, uint32_t flags, int mode);
// Makes [out] the date written in the [n] bytes of [text]; false when they are no valid date.
bool read_date_text(const uint8_t* text, size_t n, cell* out);

// Pushes [v] as the loaded value, with the new-line flag when LFs preceded the token.
void push_loaded(state& st, const cell& v);

// The code point of the escape at [p] (just after its `^`), [end] bounding it; advances [p].
// Answers -1 for a bad escape.
int32_t read_escape(const uint8_t*& p, const uint8_t* end);

} // namespace zyl::lexer
