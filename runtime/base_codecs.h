// runtime/base_codecs.h: the base-2, base-16, base-58 and base-64 text codecs behind enbase,
// debase and the issue-to-binary conversion.
//
// Encoders turn bytes into plain ASCII text, without line breaks. Decoders read text of any
// unit width (1, 2 or 4 bytes a code point), skip white space and ";" comments (to the next
// line feed), and give a new unit-1 byte series, or 0 when the text is not valid in the base.
// A decoder never guesses: text it cannot read whole is invalid, so no input decodes to
// fewer bytes than it holds.
//
// Alphabets: base 64 is RFC 4648's standard one with "=" padding; base 58 is
// "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz" ("1" is the zero digit);
// base 16 encodes upper case and reads both cases.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace zyl::binary {

// {== Encoders: each writes at [dst] the text of the [count] bytes at [src] (which must not
// lie in a buffer that moves meanwhile) and returns the address after the last character.

// 8 characters "0"/"1" per byte, most significant bit first.
uint8_t* encode_2(uint8_t* dst, const uint8_t* src, uint32_t count);
// 2 upper-case hexadecimal digits per byte, high nibble first.
uint8_t* encode_16(uint8_t* dst, const uint8_t* src, uint32_t count);
// Base-58 text: one "1" per leading zero byte, then the digits of the number; [dst] has room
// for 2 x [count] characters.
uint8_t* encode_58(uint8_t* dst, const uint8_t* src, uint32_t count);
// 4 characters per 3 bytes; a last group of 1 or 2 bytes is padded with "=".
uint8_t* encode_64(uint8_t* dst, const uint8_t* src, uint32_t count);

// Room the encoder of [base] (2, 16, 58 or 64) needs for [count] bytes, in [size]; false when
// the base is another or the size passes what a series can hold.
bool encoded_size(int32_t base, uint64_t count, uint64_t& size);

// }==
// {== Decoders: each reads [length] code points of [unit] bytes at [text] and returns the
// node of a new byte series holding what they decode to, or 0 when the text is invalid.
// [text] may lie in a series buffer: it is pinned while the result is allocated.

// "0" and "1", eight to a byte; code points up to 32 are skipped; a count of bits that is
// not a multiple of 8 is invalid.
node_id decode_2(const uint8_t* text, uint32_t length, uint32_t unit);
// Hexadecimal digit pairs; code points up to 32 are skipped, any other character (every code
// point above 127 among them) is invalid; a last unpaired digit is dropped.
node_id decode_16(const uint8_t* text, uint32_t length, uint32_t unit);
// Base-58 digits; tab, line feed, form feed, carriage return, backspace, space and "'" are
// skipped, anything else (every code point above 127 among them) is invalid.
node_id decode_58(const uint8_t* text, uint32_t length, uint32_t unit);
// Base-64 digits, skipped characters as for base 58. The first "=" ends the text: with 2 or 3
// digits pending they give 1 or 2 bytes, with 0 or 1 the text is invalid; what follows is not
// read. Unpadded text decodes the same way at its end.
node_id decode_64(const uint8_t* text, uint32_t length, uint32_t unit);

// }==

} // namespace zyl::binary
