// datatypes/bitset.h: bitset!, a growable set of non-negative integers (in practice code
// points), one bit per member, and the charset spec dialect that builds and tests them.
//
// Cell: header type 30; word 1 unused (0); word 2 the node of a unit-1 byte series holding
// the bits; word 3 unused. Member n is bit 0x80 >> (n % 8) of byte n / 8. The buffer's flag
// NEGATED marks a set that holds every position beyond its stored bytes.
//
// Invariant: a position is a member exactly when its stored bit is 1, or, beyond the stored
// bytes (n / 8 at or past the tail), when the set is negated. Whatever moves the tail up
// fills the new bytes with the flag's byte (0xFF negated, else 0), so no position changes
// membership by being stored; the bytes between the tail and the capacity mean nothing.
//
// Spec dialect (make, to, append, pick, poke, find, remove): a char! or integer! (a float!
// truncated) is one position; a string! each of its code points; a block! each element in
// turn, where `low - high` (two char! or two integer!) is a range; a block whose first
// element is `not` makes a negated set (make and to only).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::bitset {

// Flag of the bits' buffer: positions beyond the stored bytes are members.
constexpr uint32_t NEGATED = 0x00080000;

// What a walk over a spec does.
enum spec_op : int32_t {
    OP_MEASURE = 0, // the highest position named
    OP_SET = 1,
    OP_TEST = 2,
    OP_CLEAR = 3,
};

// How a spec reached the walk, for its error: make (bad-make-arg), to (bad-to-arg), other
// actions (invalid-arg).
enum spec_kind : int32_t { KIND_MAKE = 0, KIND_TO = 1, KIND_OTHER = 2 };

// {== Bits (none checks its value's type)

// The first byte of the bits of [bs] and their tail; valid until the next allocation.
uint8_t* bits_head(const cell* bs);
uint8_t* bits_tail(const cell* bs);
// Bytes stored in [bs].
uint32_t stored_bytes(const cell* bs);
inline bool is_negated(const cell* bs) { return (memory::buffer_of(bs->w2)->flags & NEGATED) != 0; }
// Whether position [n] lies beyond the stored bytes (a negative [n] does).
bool beyond_q(const cell* bs, int64_t n);
// Whether [n] is a member of [bs].
bool has_q(const cell* bs, int64_t n);
// Makes bit [n] addressable: grows the buffer and moves the tail up to cover byte n / 8,
// filling the new bytes with the flag's byte. May allocate; returns the first byte.
uint8_t* ensure_bit(const cell* bs, int64_t n);
// Whether the byte at the index of binary [bin] is a member of [bs]; false at its tail.
bool has_byte_q(const cell* bin, const cell* bs);

// }==
// {== Spec dialect

// Runs [op] over [spec] on [bs] with errors for [kind]. Measure answers the highest position
// (-1 for none) and does not read [bs]; test answers 1 or 0, set and clear 0. A negative
// position raises script out-of-range (except when testing), a type the dialect does not
// know the error of [kind]. Set and clear grow [bs] as they need.
int64_t process_spec(const cell* spec, const cell* bs, spec_op op, spec_kind kind);
// Sets (or clears, with [clear]) the bits of [spec] in [bs]: measured first, so an error
// changes nothing.
void apply_spec(const cell* spec, const cell* bs, bool clear, spec_kind kind);
// Makes [c] a bitset! of [bytes] stored bytes, all 0, or all 0xFF and negated.
cell* make_at(cell* c, uint32_t bytes, bool negated);
// Makes [result] the bitset that [spec] describes; [result] may be [spec].
cell* make_from_spec(cell* result, const cell* spec, spec_kind kind);

// }==
// {== Set operations

// Combines the current frame's cells 0 and 1 under [op] (5 or, 6 and, 7 xor; 8 unique, 9
// union, 10 intersect, 11 exclude, 12 difference) as sets, a negated operand taken with all
// its members beyond its stored bytes; the new bitset replaces cell 0. A second argument
// that is not a bitset! raises script invalid-type with its datatype.
void do_bitwise(int32_t op);

// Appends two hexadecimal digits per stored byte of [bs] (inverted with [invert]) to
// [buffer]; returns [part] less 2 per byte, stopping once it falls below 0 when [limited].
int32_t form_bits(const cell* bs, cell* buffer, bool limited, int32_t part, bool invert);

// }==
// {== Action entries (registered by init)

cell* make(cell* proto, cell* spec, uint8_t type);
cell* to(cell* proto, cell* spec, uint8_t type);
cell* reflect(cell* value, const cell* field);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent);
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step);
int32_t compare(const cell* a, const cell* b, int32_t op);
cell* negate(cell* value);
void and_t();
void or_t();
void xor_t();
cell* complement(cell* value);
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append);
cell* clear(cell* series);
cell* copy(cell* series, const cell* part, bool deep, const cell* types);
cell* find(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
           const cell* with, const cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(const cell* value);
cell* pick(cell* value, int32_t index, const cell* at);
cell* poke(cell* value, int32_t index, const cell* at, cell* data);
cell* remove(cell* series, const cell* part, const cell* key);
cell* modify(cell* target, const cell* field, cell* value, bool case_);

// Registers bitset! (no parent).
void init();

// }==

} // namespace zyl::bitset
