// boot/zylbin_reader.h: the Zylbin decoder's state and its record readers, shared by the
// stream reader (boot/zylbin_decode.cpp) and the readers of each kind of record.
//
// Compact records: prefix bytes (0xC0 new line, 0xC1 reference by path, 0xC4 definition),
// then a head byte: 0x00-0x7F a type record (bits 0-5 the type id, 63 = id in a varint; bit 6
// the per-type flag F), 0x80-0xBF the integers 0-63, 0xC2/0xC3 true/false, 0xFF a copy of an
// earlier cell reached by a path. Payloads: boot/zylbin_records.cpp.
//
// Every reader appends the value it reads at the tail of a cell series [into] that the
// collector reaches, before it reads the values inside it, so that a path can reach the value
// while its own content is read, and nothing it made dies in between. Series are allocated at
// their final size from counts that were checked against the bytes left: every record takes
// at least one byte, and the counts of all containers still open may together promise no more
// records than bytes remain (`promised`), so allocation stays within a fixed multiple of the
// input. Nesting is bounded by the native-stack guard.
//
// State is per decoding (nothing global), so a decoding inside another is safe.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "boot/zylbin.h"
#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::zylbin {

// Prefix notes of the record being read.
constexpr uint32_t NOTE_NEW_LINE = 1;
constexpr uint32_t NOTE_REFERENCE = 2;
constexpr uint32_t NOTE_DEFINITION = 4;

constexpr uint32_t MAX_PATH = 65536;
constexpr uint32_t HEADER_VARINT_LIMIT = 20; // bytes in which the leading varints must end

struct decoder {
    const uint8_t* body;      // where the records' data starts (after the header, or decompressed)
    const uint8_t* p;         // read position
    const uint8_t* end;       // bound of every read: the payload end once the records begin
    mode m;
    node_id target;           // the block that paths start from and top-level values go to
    uint32_t root_before;     // cells [target] held when this decoding began
    const uint8_t* sym_offsets = nullptr; // S little-endian 32-bit offsets into [strings]
    const uint8_t* strings = nullptr;
    uint32_t sym_count = 0;
    uint32_t string_size = 0;
    std::vector<uint32_t> symbols; // interned id of each table entry, 0 until first read
    std::vector<uint32_t> globals; // global word index + 1 of each table entry, 0 until needed
    uint32_t last_symbol = 0;      // the table entry read_symbol read last
    std::vector<uint32_t> path;    // the path just read
    uint64_t promised = 0;         // records that open containers still expect
    uint32_t depth = 0;            // nesting of the record being read (0: top level)
    bool fixed = false;            // the fixed layout: every number a 32-bit word
    const uint8_t* records = nullptr; // fixed layout: where the records begin (padding counts from it)
    uint32_t hw = 0;               // fixed layout: the header word of the record being read
};

// {== Errors and primitives

// Raises script zb-invalid-record for the byte at [at]; never returns.
[[noreturn]] void invalid_at(const decoder& d, const uint8_t* at);
// Raises access no-codec with the datatype [type].
[[noreturn]] void refuse(uint8_t type);
// Raises the "not yet available" error for [what].
[[noreturn]] void not_yet(const char* what);

inline uint64_t left(const decoder& d) { return uint64_t(d.end - d.p); }
inline void need(decoder& d, uint64_t n) {
    if (left(d) < n) invalid_at(d, d.end);
}
inline uint8_t read_byte(decoder& d) {
    if (d.p >= d.end) invalid_at(d, d.end);
    return *d.p++;
}
// A little-endian 32-bit word.
inline uint32_t read_word32(decoder& d) {
    need(d, 4);
    uint32_t v = uint32_t(d.p[0]) | uint32_t(d.p[1]) << 8 | uint32_t(d.p[2]) << 16 | uint32_t(d.p[3]) << 24;
    d.p += 4;
    return v;
}
// An unsigned 32-bit varint: at most 5 bytes, the fifth with its upper four bits clear. In
// the fixed layout every count, index and id is a word instead.
inline uint32_t read_varint(decoder& d) {
    if (d.fixed) return read_word32(d);
    uint32_t v = 0;
    for (uint32_t shift = 0; shift < 35; shift += 7) {
        const uint8_t* at = d.p;
        uint8_t b = read_byte(d);
        if (shift == 28 && (b & 0xF0)) invalid_at(d, at);
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
    return v; // not reached: the fifth byte has bit 7 clear
}
inline int32_t read_zigzag(decoder& d) {
    if (d.fixed) return int32_t(read_word32(d));
    uint32_t v = read_varint(d);
    return int32_t((v >> 1) ^ (0u - (v & 1)));
}
// A little-endian int32 or double, as the bytes lie.
template <typename T> inline T read_raw(decoder& d) {
    need(d, sizeof(T));
    T v;
    std::memcpy(&v, d.p, sizeof(T));
    d.p += sizeof(T);
    return v;
}
inline uint32_t read_int32(decoder& d) { return read_raw<uint32_t>(d); }
// The fixed layout writes a double's high half first.
inline double read_double(decoder& d) {
    if (!d.fixed) return read_raw<double>(d);
    uint64_t hi = read_word32(d);
    uint64_t bits = hi << 32 | read_word32(d);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}
// Skips the fixed layout's zero bytes up to a multiple of 4 from the body start.
inline void skip_pad4(decoder& d) {
    if (!d.fixed) return;
    uint64_t at = uint64_t(d.p - d.records);
    uint64_t n = (4 - (at & 3)) & 3;
    need(d, n);
    d.p += n;
}
// A count of [per_item]-byte items, no more than the bytes left allow.
uint32_t read_count(decoder& d, uint64_t per_item);
// A count of records that a container promises: with the records already promised, no more
// than the bytes left. Adds them to `promised`; each record read takes one back.
uint32_t read_record_count(decoder& d);
// Promises [n] records that a record carries inside it (a spec, a wrapped function, fields).
void expect_records(decoder& d, uint64_t n);

// }==
// {== Symbols and paths

// The symbol id of the reference read next (interned once per table entry).
uint32_t read_symbol(decoder& d);
// Reads a path and answers a copy of the cell it leads to. In the fixed layout a path is a
// copy record: unless [copy] (its header word was read already), the word 255 comes first.
cell read_path_target(decoder& d, bool copy = false);

// }==
// {== Fixed layout

// Header-word bits of the fixed layout that the readers look at.
constexpr uint32_t FX_REFERENCE = 1u << 19;
constexpr uint32_t FX_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t FX_BITSET_NEGATED = 1u << 23;
constexpr uint32_t FX_OBJECT_HOOKS = 1u << 24;
constexpr uint32_t FX_WORD_GLOBAL = 1u << 25;
constexpr uint32_t FX_NEW_LINE = 1u << 31;
// The header word's bits 8-15: the unit width of texts, binary! and vector!, a tuple's length.
inline uint32_t fixed_width(const decoder& d) { return (d.hw >> 8) & 0xFF; }
// log2 of the unit width in the header word, or an invalid record.
uint32_t fixed_width_log2(decoder& d, const uint8_t* at);
// A fixed context record's flags as the compact layout's flags byte.
uint8_t fixed_context_flags(uint32_t hw);

// }==
// {== Records

// Reads the prefix bytes and the head byte of a record: answers the NOTE_* of the prefixes,
// with [*head] the head byte and [*at] where it lies.
uint32_t read_prefixes(decoder& d, const uint8_t** at, uint8_t* head);
// Reads one record and appends its value to [into] (nothing for a definition; a boot-mode
// native! or action! appends its spec block after itself).
void read_record(decoder& d, node_id into);
// The payload readers behind read_record, by kind: [type] the record's type id, [f] its flag,
// [notes] its prefixes.
void read_scalar(decoder& d, node_id into, uint8_t type, bool f);
void read_block(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes);
void read_text(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes);
void read_binary(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes);
void read_bitset(decoder& d, node_id into, bool f, uint32_t notes);
void read_vector(decoder& d, node_id into, bool f, uint32_t notes);
void read_image(decoder& d, node_id into, bool f, uint32_t notes);
void read_map(decoder& d, node_id into, uint32_t notes);
void read_word(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes);
void read_context(decoder& d, node_id into);
void read_object(decoder& d, node_id into, bool f, uint32_t notes);
void read_function(decoder& d, node_id into, bool f, uint32_t notes);
void read_native(decoder& d, node_id into, uint8_t type);
void read_op(decoder& d, node_id into);
void read_error(decoder& d, node_id into);

// }==
// {== Construction points of the datatypes still to come
//
// Each gets the fully read and checked record and builds the value as the datatype's maker
// does; until the datatype exists it raises "not yet available". [v] holds the series the
// record filled (a block! over the cells, a binary! over the bytes), in a rooted cell.

void make_hash(cell* v);
void make_map(cell* v);
bool make_vector(cell* v, uint8_t element_type, uint32_t width);
void make_image(cell* v, uint32_t width, uint32_t height);
cell make_money(const uint8_t digits[12], bool negative);
cell make_date(uint32_t date_word, bool has_time, double time);
void make_ref(cell* v);

// }==

} // namespace zyl::zylbin
