// datatypes/typeset.h: typeset!, a set of datatypes held in the cell itself, and the standard
// typesets (number!, series!, any-word! ...).
//
// A typeset needs no series: copying the cell copies the set. Its payload is 12 bytes, one
// bit per datatype id, bytes in memory order (word 1 holds bytes 0-3, little-endian):
//
//   byte    0        1        2     ...  11
//   ids     0 .. 7   8 .. 15  16 .. 23   88 .. 95
//   bit of id t: 0x80 >> (t mod 8) in byte t div 8 (the most significant bit first)
//
// so id 0 (no datatype) is 0x80 of byte 0, unset! (2) is 0x20 of byte 0, integer! (11) is
// 0x10 of byte 1. The argument checks (error::typeset_has) and the boot image read the same
// bits. Id 0 and ids above the highest registered datatype are never reported.
//
// A typeset that types a function's argument also carries the argument's kind in header
// bits 20-21 (TYPESET_ARG_KIND_MASK); comparison looks at the bits only.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::typeset {

static_assert(std::endian::native == std::endian::little,
              "the bit order is laid out in memory bytes");

constexpr uint32_t BITS = 96; // ids 0 .. 95

// {== Bits (unchecked: the cell is taken to be a typeset!)

// The payload word (0 for word 1) that holds the bit of id [t] < BITS.
constexpr uint32_t word_index(uint32_t t) { return t >> 5; }
// The mask of id [t] < BITS in its payload word.
constexpr uint32_t mask_of(uint32_t t) { return 1u << (((t >> 3) & 3) * 8 + 7 - (t & 7)); }

// Payload word [i] (0, 1, 2) of [ts].
constexpr uint32_t word_at(const cell& ts, uint32_t i) {
    return i == 0 ? ts.w1 : i == 1 ? ts.w2 : ts.w3;
}
constexpr void set_word_at(cell& ts, uint32_t i, uint32_t v) {
    if (i == 0)
        ts.w1 = v;
    else if (i == 1)
        ts.w2 = v;
    else
        ts.w3 = v;
}

// Whether id [t] is in [ts]; false for any id past the 96 bits.
constexpr bool has(const cell& ts, uint32_t t) {
    return t < BITS && (word_at(ts, word_index(t)) & mask_of(t)) != 0;
}
inline bool has(const cell* ts, uint32_t t) { return has(*ts, t); }
// Adds id [t] < BITS to [ts].
constexpr void set(cell& ts, uint32_t t) {
    set_word_at(ts, word_index(t), word_at(ts, word_index(t)) | mask_of(t));
}

// A typeset! of the three payload words [w1], [w2], [w3].
constexpr cell make_value(uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
    return cell{T_typeset, w1, w2, w3};
}
// The typeset of the ids [ids].
constexpr cell of(std::initializer_list<uint8_t> ids) {
    cell ts = make_value();
    for (uint8_t t : ids) set(ts, t);
    return ts;
}
// The union of [a] and [b].
constexpr cell unite(const cell& a, const cell& b) {
    return make_value(a.w1 | b.w1, a.w2 | b.w2, a.w3 | b.w3);
}

// Every bit but unset!'s (id 0 and the unused ids included): the default of an argument.
constexpr cell all_types() { return make_value(~mask_of(T_unset), ~0u, ~0u); }

// }==
// {== Standard typesets, in the order the start-up binds them to their global words

namespace standard {

inline constexpr cell internal = of({T_unset});
inline constexpr cell external = of({T_event});
inline constexpr cell number = of({T_integer, T_float_, T_percent});
inline constexpr cell planar = of({T_pair, T_point2d});
inline constexpr cell any_point = of({T_point2d, T_point3d});
inline constexpr cell scalar =
    unite(unite(number, any_point), of({T_money, T_char_, T_pair, T_tuple, T_time, T_date}));
inline constexpr cell any_word = of({T_word, T_set_word, T_lit_word, T_get_word});
inline constexpr cell all_word = unite(any_word, of({T_refinement, T_issue}));
inline constexpr cell any_list = of({T_block, T_paren, T_hash});
inline constexpr cell any_path = of({T_path, T_lit_path, T_set_path, T_get_path});
inline constexpr cell any_block = unite(any_path, any_list);
inline constexpr cell any_function = of({T_native, T_action, T_op, T_function, T_routine});
inline constexpr cell any_object = of({T_object, T_error, T_port});
inline constexpr cell any_string = of({T_string, T_file, T_url, T_tag, T_email, T_ref});
inline constexpr cell series =
    unite(of({T_binary, T_image, T_vector}), unite(any_block, any_string));
inline constexpr cell immediate =
    unite(scalar, unite(all_word, of({T_none, T_logic, T_datatype, T_typeset, T_handle, T_date})));
inline constexpr cell default_ = unite(unite(unite(series, immediate), unite(any_object, external)),
                                       unite(any_function, of({T_map, T_bitset})));
inline constexpr cell any_type = unite(default_, internal);

struct entry {
    const char* name; // the global word, "number!"
    cell value;
};

inline constexpr entry table[] = {
    {"internal!", internal},     {"external!", external},     {"number!", number},
    {"planar!", planar},         {"any-point!", any_point},   {"scalar!", scalar},
    {"any-word!", any_word},     {"all-word!", all_word},     {"any-list!", any_list},
    {"any-path!", any_path},     {"any-block!", any_block},   {"any-function!", any_function},
    {"any-object!", any_object}, {"any-string!", any_string}, {"series!", series},
    {"immediate!", immediate},   {"default!", default_},      {"any-type!", any_type},
};

// The standard typeset named [name] ([length] bytes, any letter case), or null.
const cell* named(const char* name, uint32_t length);

} // namespace standard

// }==
// {== Building typesets

// Appends a typeset! of the payload words [w1], [w2], [w3] at the tail of block [block];
// returns the new cell (valid until the next allocation). May allocate.
cell* append_to_block(node_id block, uint32_t w1, uint32_t w2, uint32_t w3);
// Appends the all-types typeset (every datatype but unset!) at the tail of [block]. May
// allocate.
cell* append_all_types(node_id block);
// Appends at the tail of [target] the typeset of type block [spec] (a function spec's type
// list, from its index): a word stands for its value; a datatype! adds its bit, a typeset! its
// bits, a word! value object!; a block! is skipped; anything else raises invalid-type-spec.
// Returns the new cell (valid until the next allocation). May allocate.
cell* from_block(node_id target, const cell* spec);
// Adds element [value] to [ts]: a word stands for its value; a typeset! adds its bits, a
// datatype! its own; anything else raises invalid-arg with it.
void add_type(cell* ts, const cell* value);
// The number of ids in [ts] from 1 to the highest registered datatype id.
uint32_t count(const cell* ts);
// Makes [result] a new block! holding, in ascending id order, the word of each datatype in
// [ts]. [result] must lie where the collector looks (the evaluation stack). May allocate.
cell* to_block(const cell* ts, cell* result);
// Zeroes the bits of [ts].
inline void clear(cell* ts) { ts->w1 = ts->w2 = ts->w3 = 0; }
// Pushes a copy of [ts] on the evaluation stack.
cell* push_copy(const cell* ts);

// }==
// {== Actions

// Operation codes of do_bitwise: the bitwise actions and the set-operation native.
enum bitwise_op : int32_t {
    OP_OR = 5,
    OP_AND = 6,
    OP_XOR = 7,
    OP_UNIQUE = 8,
    OP_UNION = 9,
    OP_INTERSECT = 10,
    OP_EXCLUDE = 11,
    OP_DIFFERENCE = 12,
};

// Combines cells 0 (a typeset!) and 1 (a typeset! or datatype!) of the current frame by
// [op]; the result replaces cell 0. A second argument of any other type raises invalid-arg.
void do_bitwise(int32_t op);
// Appends the text of [ts] to string [buffer]: "make typeset! [integer! float!]", or with
// [only] the names alone. With a part argument [arg], stops once [part] is below 0. Returns
// the budget left. May allocate.
int32_t serialize(const cell* ts, cell* buffer, bool only, bool all, bool flat, const cell* arg,
                  int32_t part);

// Registers typeset!.
void init();

// }==

} // namespace zyl::typeset
