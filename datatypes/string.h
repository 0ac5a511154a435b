// datatypes/string.h: string! storage and text primitives, and the string! action entries.
//
// A string value is a series cell: word 1 the index (in units from the buffer's head), word 2
// the node of a text buffer, word 3 always 0. The buffer keeps every character in one unit of
// 1, 2 or 4 bytes (Latin-1, UCS-2, UCS-4), the narrowest that its characters needed so far:
// a writer widens it in place (1 -> 2, 1 -> 4, 2 -> 4, straight to the width the character
// needs) and only rs_reset narrows it again. file!, url!, tag!, email! and ref! keep their
// text the same way.
//
// Invariant: every unit of one buffer has the buffer's width; a unit other than 1, 2 or 4 in
// a text buffer is a fault of the run-time (runtime error 101).
//
// Writers take the node and return the buffer they finally wrote into: any of them may move
// the buffer (the node stays), so callers recompute addresses from positions afterwards.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::string {

// {== Units

// The code point stored at [p] in a buffer of [unit]. Unchecked: [unit] is 1, 2 or 4.
inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Stores [cp] at [p] in a buffer of [unit]; [cp] must fit the unit.
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    if (unit == 1) {
        *p = static_cast<uint8_t>(cp);
    } else if (unit == 2) {
        auto v = static_cast<uint16_t>(cp);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &cp, 4);
    }
}

// log2 of [unit] (1, 2 or 4).
inline uint32_t shift_of(uint32_t unit) { return unit >> 1; }

// The narrowest unit that holds [cp].
inline uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// The unit of text buffer [b]; any other unit ends the process with runtime error 101.
uint32_t unit_of(const series_buffer* b);

// Whether [t] keeps its text as a string does (string!, file!, url!, tag!, email!, ref!).
inline bool is_text_type(uint8_t t) {
    return t == T_string || t == T_file || t == T_url || t == T_tag || t == T_email || t == T_ref;
}

// }==
// {== Accessors (none checks the type of its value)

// Units from the index of [s] to the tail; an index past the tail is first set to the tail.
uint32_t rs_length_q(cell* s);
// Units from the index of [s] to the tail, 0 when the index lies past it; [s] is not changed.
uint32_t length_of(const cell* s);
// Units of the whole buffer of [s], ignoring the index.
uint32_t rs_abs_length_q(const cell* s);
// Address of the unit at the index of [s]; an index past the tail is first set to the tail.
uint8_t* rs_head(cell* s);
// Address of the tail of [s].
uint8_t* rs_tail(const cell* s);
// Whether the index of [s] is at or past the tail.
bool rs_tail_q(const cell* s);
// The code point at absolute position [pos] of the buffer of [s].
uint32_t rs_abs_char_at(const cell* s, uint32_t pos);
// Empties the buffer of [s], sets its unit back to 1 and the index of [s] to 0.
void rs_reset(cell* s);
// Offset from the index of [s] of the first unit equal to [cp] (exactly), or -1.
int32_t find_char(const cell* s, uint32_t cp);
// Whether a unit at the index of [s], index + [step], index + 2 [step] ... equals [cp];
// folded to upper case unless [case_].
bool contains_char_q(const cell* s, uint32_t cp, int32_t step, bool case_);
// Whether the units from the index of [s] start with every byte of [text], exactly.
bool starts_with_literal_q(const cell* s, std::string_view text);

// }==
// {== Construction

// Makes [c] an empty string! of room for [size] units of 1 byte (0 counts as 1).
cell* make_at(cell* c, uint32_t size);
// make_at with [unit] (1, 2 or 4) bytes per unit.
cell* make_at_sized(cell* c, uint32_t size, uint32_t unit);
// Pushes a copy of [s] on the evaluation stack.
cell* push(const cell* s);
// Pushes a new empty string! of room for [size] units.
cell* push_new(uint32_t size);
// Encodings of the loaders.
constexpr int32_t ENCODING_UTF8 = 0;
constexpr int32_t ENCODING_UTF16LE = -1;
// A string! made from [length] encoded [bytes] in [c], or in a new stack slot when [c] is null.
// An unsupported [encoding] ends the process with the loading report. [bytes] must not lie in
// a series buffer.
cell* load_at(const uint8_t* bytes, int64_t length, cell* c, int32_t encoding);
// load_at into a new stack slot.
cell* load(const uint8_t* bytes, int64_t length, int32_t encoding);
// load_at into a new cell at the tail of block [block].
cell* load_in(const uint8_t* bytes, int64_t length, node_id block, int32_t encoding);
// The float read from the [length] bytes of [text]; [ok] tells whether all of them were read.
double to_float(const char* text, int64_t length, bool& ok);

// }==
// {== Writing one code point (each may move the buffer: the node stays)

// Appends [cp] at the tail of [n], widening first when it does not fit.
series_buffer* append_char(node_id n, uint32_t cp);
// Stores [cp] at unit position [pos] of [n]; the tail moves to pos + 1 when it was not past it.
series_buffer* poke_char(node_id n, uint32_t pos, uint32_t cp);
// Inserts [cp] at unit position [pos] of [n] (at most the length).
series_buffer* insert_char(node_id n, uint32_t pos, uint32_t cp);
// Overwrites the unit at position [pos] (before the tail) of [n] with [cp].
series_buffer* store_char(node_id n, uint32_t pos, uint32_t cp);
// Removes the unit at position [pos] of [s]; nothing at or past the tail.
void remove_char(const cell* s, uint32_t pos);
// Removes [count] units at position [pos] of [s]; cut to the units before the tail.
void remove_part(const cell* s, uint32_t pos, uint32_t count);
// Moves the tail of [n] back to [pos] when [pos] lies before it.
void truncate(node_id n, uint32_t pos);
// Inserts [count] units from the index of [src] into [target] at [pos], then removes them
// from [src].
void move_part(const cell* src, uint32_t count, const cell* target, uint32_t pos);
// Appends every byte of [text] to [s] as one code point.
void concatenate_literal(const cell* s, std::string_view text);
// Appends the first [n] bytes of [text] to [s] as one code point each.
inline void concatenate_part(const cell* s, const char* text, uint32_t n) { concatenate_literal(s, {text, n}); }
// Appends [count] units of [unit] at [p] to [n]; [p] must not lie in a series buffer.
void append_units(node_id n, const uint8_t* p, uint32_t count, uint32_t unit);

// }==
// {== Copy core

enum copy_mode : int32_t { COPY_APPEND = 0, COPY_INSERT = 1, COPY_OVERWRITE = 2 };

// Copies the text of [source] from its index, at most [part] units (all when negative), into
// [target]: at its tail (COPY_APPEND), at [pos] moving the rest up (COPY_INSERT), or over the
// units from [pos] (COPY_OVERWRITE, extending the tail only past it). The target widens to the
// source's unit first; narrower source units are converted while copying. Returns the units
// copied.
uint32_t insert_core(const cell* target, const cell* source, int32_t part, uint32_t pos, copy_mode mode);
// insert_core: the name its callers know.
inline uint32_t concatenate(const cell* target, const cell* source, int32_t part, uint32_t pos, copy_mode mode) {
    return insert_core(target, source, part, pos, mode);
}

// }==
// {== Hexadecimal (static buffers, overwritten by the next call)

// The hexadecimal digits of [n]: without leading zeros ("00" for 0) when [short_form], else
// all eight, filled with "F" for a negative [n].
std::string_view int_to_hex(int32_t n, bool short_form);
// The two hexadecimal digits of the low byte of [b].
std::string_view byte_to_hex(uint32_t b);

// }==
// {== Comparison and matching

// Compares the texts of [a] and [b] under operator [op] (0 equal ... 12 find): 0 when equal,
// else -1 or 1; with [match], whether [a] starts with [b] (0 when it does).
int32_t compare_values(const cell* a, const cell* b, int32_t op, bool match);
// Whether the character at the index of [input] is in [bitset].
bool match_bitset_q(const cell* input, const cell* bitset);
// Whether [input] reads "<" at its index and ">" after the length of [tag].
bool match_tag_q(const cell* input, const cell* tag);
// Whether [input] starts at its index with [value] under [op].
bool match_value_q(const cell* input, const cell* value, int32_t op);
// Whether [cp] is in [bitset] (a code point past its bits answers its negation flag).
bool bitset_has(const cell* bitset, uint32_t cp);

// }==
// {== Molding

// Appends the escaped form of [cp] to string [out]; [all] escapes everything above 127.
// Returns the characters appended.
uint32_t mold_char(const cell* out, uint32_t cp, bool all);

// }==
// {== UTF-8

// The characters of [s] from its index, as UTF-8 (for tests and diagnostics).
std::string to_std(const cell* s);
// The text [s] (any text type) from its index as UTF-8, for the system's calls: converted
// in one pass through a conversion buffer, so it may allocate.
std::string utf8_of(const cell* s);
// Makes [c] a string! holding the UTF-8 text [text].
cell* from_utf8(cell* c, std::string_view text);

// }==
// {== Action entries (registered by init; url!, file!, tag!, email! and ref! reuse them)

cell* make(cell* proto, cell* spec, uint8_t type);
cell* to(cell* proto, cell* spec, uint8_t type);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step);
int32_t compare(const cell* a, const cell* b, int32_t op);
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append);
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool is_append);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* find(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
           const cell* with, const cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
             const cell* with, const cell* skip, bool last, bool reverse);
cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable);
cell* swap(cell* a, cell* b);
cell* take(cell* series, const cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with);

// The set operations on texts: [op] 8 unique, 9 union, 10 intersect, 11 exclude,
// 12 difference; [b] is ignored for unique; [skip] is the record size cell or null. The
// result replaces [a], at index 0.
cell* do_set_op(int32_t op, cell* a, const cell* b, bool case_, const cell* skip);

// Registers string!.
void init();

// }==
// {== Shared by the string! units

namespace detail {

// The 32-bit integer of number argument [v]; a float! outside the range raises out-of-range.
int32_t int_of(const cell* v);
// Raises script invalid-refine-arg naming [refinement] (a slot of words::refs) with its
// argument [arg].
[[noreturn]] void invalid_refine(const cell& refinement, const cell* arg);
// Ownership notifications: when series ownership tracking exists, the owner of an owned [s]
// hears [word] ("append" before a change, "appended" after it). Nothing owns a series yet.
inline void tell_owner(const cell* s, const char* word) {
    (void)s;
    (void)word;
}
// Forms [value] at the tail of string [out] and returns the units added: a block!, paren! or
// hash! element by element without separators ([part] counts elements, or characters with
// [only]), anything else as a whole; a [part] of -1 means no limit.
uint32_t form_at_tail(const cell* out, const cell* value, int32_t part, bool only);
// The count of a /part argument [part] of [s]: an integer, or a position in the same series
// (its index less the index of [s]); anything else raises invalid-refine-arg.
int64_t part_of(const cell* s, const cell* part);
// The record size of sort's [skip] (1 without it), checked against the range [length];
// /all without /skip raises bad-refines. Shared with vector!'s sort.
uint32_t sort_record_size(const cell* skip, bool all, uint32_t length);
// The 0-based unit that records compare by, from sort's /compare [cmp] (0 for a function).
uint32_t sort_compare_offset(const cell* cmp, const cell* skip, bool all, uint32_t size);

} // namespace detail

// }==

} // namespace zyl::string
