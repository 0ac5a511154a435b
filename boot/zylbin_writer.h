// boot/zylbin_writer.h: the Zylbin encoder's state and its record writers, shared by the
// scalar writers and assembly (boot/zylbin_encode.cpp) and the writers of values that are
// written once and referred to by path afterwards (boot/zylbin_encode_refs.cpp).
//
// Both layouts go through the same writers: `num` and `snum` are a varint and a zigzag in the
// compact layout, a 32-bit word in the fixed one, and `open` writes a record's prefix bytes
// and head byte (compact) or its header word (fixed).
//
// Path bookkeeping: `counter` is the position the next record takes in the container being
// written; the containers entered form a tree of path nodes (each its parent node and its
// position there), `current` the one being written. A series, context or function met for the
// first time stores its path node, keyed by its own node; a later meeting spells that path out
// (walking up to the first top-level value) instead of writing the content. Nothing is copied
// per container, so a value of many small series costs no more than its records. Nodes are
// stable, so a node id is a sound key; the keys are marked by a collector hook while an
// encoder lives, though the value being written keeps them alive anyway.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "boot/zylbin.h"
#include "datatypes/cell.h"

namespace zyl::zylbin {

// Fixed-layout header-word bits.
constexpr uint32_t HW_REFERENCE = 1u << 19;
constexpr uint32_t HW_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t HW_BITSET_NEGATED = 1u << 23;
constexpr uint32_t HW_OBJECT_HOOKS = 1u << 24;
constexpr uint32_t HW_WORD_GLOBAL = 1u << 25; // boot mode: a definition
constexpr uint32_t HW_CTX_KIND_SHIFT = 26;
constexpr uint32_t HW_CTX_FLAG24 = 1u << 28;
constexpr uint32_t HW_CTX_NO_STORAGE = 1u << 29;
constexpr uint32_t HW_CTX_VALUES = 1u << 30;
constexpr uint32_t HW_NEW_LINE = 1u << 31;
constexpr uint32_t HW_WIDTH_SHIFT = 8;  // unit width of texts, vector!, binary!; tuple! length
constexpr uint32_t HW_OP_SHIFT = 16;    // op!: the wrapped type
constexpr uint8_t COPY_RECORD = 255;

// Compact context flags byte.
constexpr uint8_t CTX_FLAG_NO_STORAGE = 0x04;
constexpr uint8_t CTX_FLAG_OBJECT = 0x08;
constexpr uint8_t CTX_FLAG_VALUES = 0x10;

// How the collector hook marks a key.
enum key_kind : uint8_t { KEY_BYTES = 0, KEY_CELLS = 1, KEY_CONTEXT = 2 };

struct encoder {
    layout lay;
    mode m;
    std::vector<uint8_t> out;      // records
    std::vector<uint32_t> offsets; // name offset of each symbol written, in order of first use
    std::string names;             // NUL-terminated UTF-8 names
    std::unordered_map<uint32_t, uint32_t> symbols; // symbol id -> table index
    uint32_t counter = 0;
    struct path_node {
        uint32_t parent;   // 0: the container is a top-level value
        uint32_t position; // its position in the parent
    };
    std::vector<path_node> nodes; // path node n is nodes[n - 1]
    uint32_t current = 0;         // the path node of the container being written
    std::vector<uint32_t> spelled; // a path spelled out, innermost position first
    struct stored {
        uint32_t at; // the path node
        key_kind kind;
    };
    std::unordered_map<node_id, stored> table;
    uint32_t new_line = 0;  // the fixed header bit of the record being opened
    uint32_t roots = 0;     // values the decoder will append for the top-level records
    writer::owner_lookup owner_position = nullptr;
    void* owner_data = nullptr;
    encoder* outer = nullptr; // the encoder that was active when this one began

    encoder(layout l, mode md);
    ~encoder();
    encoder(const encoder&) = delete;
    encoder& operator=(const encoder&) = delete;

    bool fixed() const { return lay == LAYOUT_FIXED; }

    // {== Primitives
    void byte(uint8_t b) { out.push_back(b); }
    void u32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        out.insert(out.end(), b, b + 4);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    }
    void zigzag(int32_t n) { varint((uint32_t(n) << 1) ^ uint32_t(n >> 31)); }
    void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    // A count, index or id: varint or word.
    void num(uint32_t v) { fixed() ? u32(v) : varint(v); }
    // A signed number: zigzag or word.
    void snum(int32_t v) { fixed() ? u32(uint32_t(v)) : zigzag(v); }
    // A double: compact low half first, fixed high half first.
    void dbl(const cell& c) {
        if (fixed()) u32(c.w3), u32(c.w2);
        else u32(c.w2), u32(c.w3);
    }
    // Zero bytes up to a multiple of 4 (fixed layout only).
    void pad4() {
        if (fixed()) out.resize((out.size() + 3) & ~size_t(3), 0);
    }
    // A record's opening: [ref] adds the reference prefix (0xC1) or bit; [f] is the compact
    // per-type flag, [bits] the fixed header bits.
    void open(uint8_t type, bool f, uint32_t bits, bool ref);
    // The index of a series record: with F only (compact), always (fixed).
    void index(uint32_t i) {
        if (fixed()) u32(i);
        else if (i) varint(i);
    }
    // }==

    uint32_t symbol_index(uint32_t sym);
    // Enters a container at the counter's position (the counter restarts inside), and leaves it.
    void enter() {
        nodes.push_back({current, counter});
        current = uint32_t(nodes.size());
        counter = 0;
    }
    void leave() {
        counter = nodes[current - 1].position;
        current = nodes[current - 1].parent;
    }
    void put_path(uint32_t at);

    // Writes [v] (a copy: nothing here points into a series buffer) as one record.
    void value(cell v);
    void scalar(const cell& v);
    [[noreturn]] void refuse(const cell& v);

    // Writes a value that has a path: first meeting in full, later ones as references.
    void kept(const cell& v);
    void series_record(const cell& v, const uint32_t* ref);
    void map_record(const cell& v, const uint32_t* ref);
    void bitset_record(const cell& v, const uint32_t* ref);
    void image_record(const cell& v, const uint32_t* ref);
    void word_record(const cell& v, const uint32_t* ref);
    void object_record(const cell& v, const uint32_t* ref);
    void function_record(const cell& v, const uint32_t* ref);
    void context_record(node_id ctx);
    void error_record(const cell& v);
    void native_record(const cell& v);
    void op_record(const cell& v);
    // A word in boot mode: global, or bound by its owner's root position.
    void boot_word(const cell& v, bool definition);

    // The stream's size and bytes once the records are written.
    size_t stream_size() const;
    void assemble(uint8_t* dst, uint8_t version) const;
};

} // namespace zyl::zylbin
