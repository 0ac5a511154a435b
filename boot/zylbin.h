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
#include <span>

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

} // namespace zyl::zylbin
