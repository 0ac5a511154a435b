// boot/zylbin.h: Zylbin, the binary form of language values: decoding a stream into a block,
// and loading the boot image into the root block.
//
// A stream is an 8-byte header ("ZYLBIN", a version byte nobody checks, flags: bit 0 compact
// layout, bit 1 body compressed with runtime/boot_compress.h, bit 2 symbol table present) and a
// body of records (boot/zylbin_reader.h). Every top-level record appends one value to the
// target block. Two modes: boot mode reads the built-in boot image (definitions, natives by
// table index with their spec kept, word owners by root position); user mode reads what this
// program encodes and trusts nothing in it.
//
// Decoding raises, never exits: script zb-invalid-record with the 1-based offset of the
// failing byte from the data start (for a compressed body, its offset in the decompressed
// body + 8); script invalid-data for a bad magic or a corrupt compressed body; access
// no-codec for a type that has no binary form. The values completed before a failure stay in
// the target block; the one being read is taken out again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::zylbin {

enum mode : uint32_t { MODE_BOOT = 0, MODE_USER = 1 };

constexpr uint8_t FLAG_COMPACT = 0x01;
constexpr uint8_t FLAG_COMPRESSED = 0x02;
constexpr uint8_t FLAG_SYMBOLS = 0x04;

// Decodes the [length] bytes at [data] in [m], appending the values to the cell series
// [target], which the caller keeps alive. Answers the position in [target] of the first value
// this decoding appended. [data] must not lie in a series buffer (copy it out first): the
// decoder allocates as it goes. [data_value] is the argument of an invalid-data error (none
// when null).
uint32_t decode(const uint8_t* data, uint64_t length, node_id target, mode m, const cell* data_value = nullptr);

// The first boot-image value in the root block (root index 0); null before the first load.
cell* boot_base();

// Loads [image] into the root block in boot mode with collection off (restored also on
// failure); unless [keep_base] the boot base becomes the first value appended. A failure is
// fatal: its report is printed and the process ends with status 1.
void load_boot_image(std::span<const uint8_t> image, bool keep_base);

// {== Encoding
//
// Two body layouts: compact (varints and one-byte heads, the default) and fixed (32-bit
// little-endian words, every record opened by a header word). Series, contexts and functions
// met more than once are written once; later meetings are references by path (counted from
// the first top-level value). routine!, handle!, triple!, port!, event!, symbol!, context!,
// series! and an op! over a routine raise access no-codec with the value; a word bound to a
// context whose owner is not an object! or function! does too. Deep nesting raises
// stack-overflow. Nothing is allocated in run-time memory but the result (and an image's
// pixels while they are copied), so a value's series stay where they are.

enum layout : uint8_t { LAYOUT_COMPACT = 0, LAYOUT_FIXED = 1 };

// The whole stream (header, symbol table, records) of [value] as one top-level record.
std::vector<uint8_t> encode(const cell* value, layout l);
// The same made into a binary! at its final size, pushed on the evaluation stack.
cell* encode_push(const cell* value, layout l);

struct encoder; // boot/zylbin_writer.h

// A stream of several top-level records, for tools that write more than one value (the boot
// image). Each record is written alone; finish assembles header, symbols and records.
// In boot mode a word bound to another context is written with its owner's root position
// (from [owner_position]: the context node's owner as a root position of the load, or a
// negative number when it has none, which refuses the word) instead of an inline owner.
class writer {
public:
    explicit writer(layout l, mode m = MODE_USER);
    ~writer();
    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;

    // Answers the root position of the owner of context [ctx], or -1.
    using owner_lookup = int32_t (*)(node_id ctx, void* data);
    void set_owner_lookup(owner_lookup f, void* data);

    // One top-level record of [value].
    void record(const cell* value);
    // A definition (boot mode): [word] followed by [value]; the decoder assigns the value to
    // the word in its context and keeps neither in the root block.
    void definition(const cell* word, const cell* value);
    // Values the decoder will append to its target for the records so far (a boot-mode
    // native's or action's spec counts as one more; a definition as none).
    uint32_t root_count() const;
    // The stream: "ZYLBIN", [version], the flags, then the body.
    std::vector<uint8_t> finish(uint8_t version = 2);

private:
    std::unique_ptr<encoder> e;
};

// }==

} // namespace zyl::zylbin
