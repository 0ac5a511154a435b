// datatypes/path.h: the path family: path!, lit-path!, set-path! and get-path!, blocks written
// with slashes (a/b/1, 'a/b, a/b:, :a/b).
//
// A path value is a block cell with its own type id (25 path!, 26 lit-path!, 27 set-path!,
// 28 get-path!): word 1 the index in cells, word 2 the node of the cell series, word 3 unused.
// The cells are stored exactly as a block's, so every block! entry that walks or edits cells
// serves paths too; the family's own entries are make, to, form, mold and copy (path!) and
// mold (the three variants, which inherit the rest from path!). Evaluating a path, selecting
// and setting through it, is the interpreter's work through each value's eval-path entry.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::path {

// Makes [target] an empty path! with a new cell series of room for [n] cells (at least 1),
// index 0; may allocate. Returns [target].
cell* make_at(cell* target, int32_t n);
// Sets the datatype of block-like [value] to path! and pushes a copy of it on the evaluation
// stack; returns the pushed cell.
cell* push(cell* value);

// The family's entries, registered by init; the interpreter and block! code may call them.
cell* make(cell* proto, cell* spec, uint8_t type);
cell* to(cell* proto, cell* spec, uint8_t type);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
// Molds any of the four path types with its sigil: 'a/b, :a/b, a/b: or a/b.
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent);
cell* copy(cell* series, const cell* part, bool deep, const cell* types);

// Registers path!; block! must be registered.
void init();

} // namespace zyl::path

namespace zyl::lit_path {
// As path::push, typed lit-path!.
cell* push(cell* value);
// Registers lit-path!; path! must be registered.
void init();
} // namespace zyl::lit_path

namespace zyl::set_path {
// As path::push, typed set-path!.
cell* push(cell* value);
// Registers set-path!; path! must be registered.
void init();
} // namespace zyl::set_path

namespace zyl::get_path {
// As path::push, typed get-path!.
cell* push(cell* value);
// Registers get-path!; path! must be registered.
void init();
} // namespace zyl::get_path
