// datatypes/binary.h: binary!, the byte series, and the byte helpers through which the
// services hand their bytes to scripts.
//
// A binary! is a series cell laid out as a string!: word 1 the index (in bytes), word 2 the
// node of a series buffer of unit 1 whose bytes between head and tail are the content, word
// 3 always 0. Its length is tail - (head + index). binary! inherits every series action it
// does not define from string! (whose text core serves unit-1 buffers alike) and adds its own
// conversion, mold, comparison, insertion, change, trim and bitwise actions.
//
// Invariant: the buffer's unit is 1 (a binary never widens). An index past the tail reads as
// the tail; the actions that write clamp it to the tail first.
//
// Every function that may allocate may move buffers: callers pass cells that do not lie in a
// series buffer (stack cells), and the byte pointers they hand in are either outside every
// series buffer or pinned by the callee while it allocates.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "runtime/base_codecs.h"
#include "runtime/memory.h"

namespace zyl::binary {

// {== Makers

// Makes [c] an empty binary! with a new buffer of [capacity] bytes; returns [c].
cell* make_at(cell* c, uint32_t capacity);
// A new empty binary! of [capacity] bytes at the tail of cell series [block]. May allocate.
cell* make_in(node_id block, uint32_t capacity);
// A new binary! holding a copy of the [length] bytes at [src]: appended at the tail of cell
// series [block], or pushed on the evaluation stack when [block] is 0. [src] may lie in a
// series buffer (it is pinned while the copy is allocated).
cell* load(const uint8_t* src, uint32_t length, node_id block);
// load with no block: the pushed binary!, the one road of the services' bytes to scripts.
cell* push_from_buffer(const uint8_t* src, uint32_t length);

// }==
// {== Byte accessors (none checks its value's type)

// Bytes from the index of [b] to the tail; an index past the tail is set to the tail.
uint32_t rs_length_q(cell* b);
// Address of the byte at the index of [b] (clamped to the tail).
uint8_t* head_pointer(cell* b);
// Address of the tail of [b].
uint8_t* rs_tail(const cell* b);
// Whether the index of [b] is at or past the tail.
bool rs_tail_q(const cell* b);
// Ends the content of [b] at its index (clamped to the tail).
void rs_clear(cell* b);
// Moves the index of [b] by [n] when it stays within 0 .. tail; answers whether [b] is then
// at its tail.
bool rs_skip(cell* b, int32_t n);
// The byte at absolute position [pos] (before the tail) of [b].
uint8_t byte_at(const cell* b, uint32_t pos);

// }==
// {== Writing bytes (each may move the buffer; the node stays)

// Appends the [length] bytes at [src] at the tail of [b], growing to twice the need; returns
// the address where they were written (valid until the next allocation).
uint8_t* append_bytes(const cell* b, const uint8_t* src, uint32_t length);
// Inserts the [length] bytes at [src] at index + [offset] of [b] (clamped to the tail),
// moving the rest up; a buffer too small grows to [length] + twice its old size.
void insert_bytes(const cell* b, uint32_t offset, const uint8_t* src, uint32_t length);
// Copies the [length] bytes at [src] over index + [offset] of [b], growing the buffer and
// moving the tail when the write passes them.
void overwrite_bytes(const cell* b, uint32_t offset, const uint8_t* src, uint32_t length);
// Writes [value] as 4 big-endian bytes at the tail of [b]; the caller has made room.
void append_int32_be(uint32_t value, const cell* b);
// Stores the low 8 bits of integer! or char! [value] at [at]; any other type raises script
// invalid-arg with the value.
void poke_value(uint8_t* at, const cell* value);

// }==
// {== Bytes of values

// Modes of value_bytes.
constexpr int32_t BYTES_MEASURE = 0;
constexpr int32_t BYTES_WRITE = 1;

// The bytes of [value] from its index: a char! its UTF-8, an integer! one byte (-128 .. 255,
// else script invalid-arg), a binary! its bytes, a tuple! its elements, text its UTF-8 (a code
// point above 0x10FFFF raises script invalid-char), a block!, paren! or hash! the bytes of its
// elements in turn; any other type raises script bad-to-arg. [part] above 0 limits them: in
// bytes, or in elements for a block without [only] (with [only], in bytes across the
// elements). BYTES_MEASURE counts them and raises whatever writing would raise;
// BYTES_WRITE then writes them at [dest] (room made by the caller), allocating nothing and
// raising nothing. Returns the byte count.
uint64_t value_bytes(uint8_t* dest, const cell* value, int32_t part, bool only, int32_t mode);

// The bytes of issue! [issue]'s name read as base-16 text, made into a binary! in [result]
// unless [measure_only]; returns the length of the name. Text that does not decode raises
// script invalid-data with the issue.
uint32_t from_issue(const cell* issue, cell* result, bool measure_only);

// }==
// {== Comparison and matching

// Compares the bytes of binary [b] with [other] (binary!, or text read as its UTF-8) under
// operator [op]; with [match], whether [b] starts with [other] (0 when it does). -2 when
// [other] is of another type.
int32_t compare_bytes(const cell* b, const cell* other, int32_t op, bool match);
// Whether binary [b] starts at its index with the bytes of text or binary [other], or, for a
// char!, with a byte equal to its code point; false for every other type.
bool match_value_q(const cell* b, const cell* other, int32_t op);

// }==
// {== Molding

// Appends "#{" (unless [only]), the bytes as hexadecimal digit pairs and "}" to string
// [buffer]. Unless [flat], more than 30 bytes go on lines of 32 bytes, each indented one
// level deeper than [indent]. Returns [part] less what was written; with a part argument
// [arg], stops once the budget is spent.
int32_t serialize(const cell* b, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
                  int32_t indent);

// }==
// {== Base codecs on values (the cores of enbase and debase)

// Makes [out] a new string! holding the text of binary [value]'s bytes from its index, or of
// text [value]'s UTF-8, in [base]; another base raises script invalid-arg with [base_cell]
// (none when absent), an output too long for a string script too-long.
cell* enbase(cell* out, const cell* value, int32_t base, const cell* base_cell);
// Makes [out] a new binary! decoded from text [value] in [base], or none when the text does
// not decode; another base raises script invalid-arg with [base_cell].
cell* debase(cell* out, const cell* value, int32_t base, const cell* base_cell);

// }==
// {== Action entries (registered by init)

cell* to(cell* proto, cell* spec, uint8_t type);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent);
int32_t compare(const cell* a, const cell* b, int32_t op);
void and_t();
void or_t();
void xor_t();
cell* complement(cell* value);
// append and insert: one entry, told apart by [is_append].
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with);

// The bitwise core of and~ (6), or~ (5) and xor~ (7) on the current frame's cells 0 and 1;
// the new binary replaces cell 0.
void do_bitwise(int32_t op);

// Registers binary! (parent string!).
void init();

// }==

} // namespace zyl::binary
