// eval/natives_control.h: the control natives (conditionals, loops, block evaluation,
// non-local exits) and the loop steps they share with other run-time code.
//
// Loops run in a loop frame (type 8) named by the loop's word, so that break and continue
// find it; each pass starts with stack::reset, so the body's last value lands in the loop
// frame's cell 0, and stack::unwind_last hands it to the native's result slot. A body's
// break, continue, return, exit or throw comes back as es.throw_code with the stacks already
// cut to the target frame: a native that is not the target returns at once and touches no
// frame. Errors unwind as error::raised and only `try` catches them.
//
// The walked series of foreach and remove-each lives on the stack just below the loop frame,
// with the loop word (or block of words) above it; the loop steps below work on those cells.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "eval/stack.h"

namespace zyl::natives {

// {== Entries (check flag, then one position per refinement in spec order)

void if_(int32_t check);
void unless(int32_t check);
void either(int32_t check);
void any(int32_t check);
void all(int32_t check);
void while_(int32_t check);
void until(int32_t check);
void loop(int32_t check);
void repeat(int32_t check);
void forever(int32_t check);
void foreach (int32_t check);
void forall(int32_t check);
void remove_each(int32_t check);
void switch_(int32_t check, int32_t default_);
void case_(int32_t check, int32_t all);
void do_(int32_t check, int32_t expand, int32_t args, int32_t next, int32_t trace);
void reduce(int32_t check, int32_t into);
void compose(int32_t check, int32_t deep, int32_t only, int32_t into);
void try_(int32_t check, int32_t all, int32_t keep);
void break_(int32_t check, int32_t return_);
void continue_(int32_t check);
void exit_(int32_t check);
void return_(int32_t check);
void throw_(int32_t check, int32_t name);
void catch_(int32_t check, int32_t name);
void apply(int32_t check, int32_t all, int32_t safer);

// }==
// {== Loop steps

// Takes the next [n] elements of the walked series [s] into the words of block [words]
// (none past the tail) and advances [s] by [n]; false when [s] is at its tail or [n] < 1.
// A map! needs n = 2. May run language code (a word's on-change*).
bool foreach_next(cell* s, const cell* words, uint32_t n);
// Sets word [word] to the element at the index of [s] and advances it; false at the tail.
bool foreach_next_block(cell* s, const cell* word);
// Sets the [count] words of block [words] from [values]: element i of a block-like [values]
// (none past its end), or [values] itself when it is not block-like or with [only]. Without
// [any], an unset element raises need-value; with [some], a none element leaves its word.
// A non-word in [words] raises invalid-arg.
void set_words_from_block(const cell* words, const cell* values, uint32_t count, bool any,
                          bool only, bool some);
// After a remove-each pass over [s] with step [n]: unless [result] is none or false, removes
// the [n] elements just walked and leaves [s] at the position after them.
void remove_each_step(cell* s, uint32_t n, const cell* result);
// forall: sets [word] to [s]; advances the series [word] holds (when [advance]) and answers
// whether it is at its tail; copies that series' index back into [s].
void forall_start(const cell* word, const cell* s);
bool forall_next(const cell* word, bool advance);
void forall_end(const cell* word, cell* s);
// Increments the integer! held by [word] and answers the new count.
int32_t repeat_next(const cell* word);
// Turns a float! [c] into an integer! in place (truncated, saturated); answers the type.
uint8_t float_cell_to_integer(cell* c);
// float_cell_to_integer on the current frame's cell 0.
inline uint8_t loop_count_to_integer() { return float_cell_to_integer(es.base); }

// Element steps of the types that set them when they register; while null, a map! or image!
// walked by foreach raises internal not-done.
using map_next_fn = bool (*)(cell* s, const cell* words);
// [words] is a block of loop words, or the one loop word itself.
using image_next_fn = bool (*)(cell* s, const cell* words, uint32_t n);
using image_size_fn = uint32_t (*)(const cell* image); // pixels: width times height
extern map_next_fn map_foreach_next;
extern image_next_fn image_foreach_next;
extern image_size_fn image_pixels;

// }==

} // namespace zyl::natives
