// runtime/unicode.h: text unit widths and the codecs between text buffers and UTF-8, UTF-16LE
// and Windows-1251.
//
// A text buffer is a series buffer whose unit (low five bits of its flags) is 1, 2 or 4:
// Latin-1, UCS-2 or UCS-4 code points, little-endian, one unit per character. A buffer holds
// its text at the narrowest unit its characters needed so far; it widens in place (1 -> 2,
// 1 -> 4, 2 -> 4) when a character does not fit and never narrows by itself. Widening keeps
// the node: the buffer may move, so callers go on with the buffer returned and recompute any
// address from a position. A text buffer with another unit is a fault of the run-time: the
// functions here stop the process with runtime error 101.
//
// Code points are 32-bit: up to 0x10FFFF are valid; decoders answer -1 for a sequence they
// reject. The UTF-8 loaders accept RFC 3629 UTF-8 only (no overlong forms, no surrogates,
// nothing above 0x10FFFF) and refuse U+FFFE; everything else raises access `invalid-utf8`.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::unicode {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;
// Buffer flag: the text was loaded from UTF-16LE.
constexpr uint32_t TEXT_FROM_UTF16 = 0x00040000;

// {== Single code points

// The length announced by UTF-8 lead [byte]: 4 when its top four bits are set, 3 for the top
// three, 2 for the top two, else 0 (ASCII and continuation bytes).
int utf8_lead_length(uint8_t byte);
// Bytes of code point [cp] in UTF-8; above 0x10FFFF raises script `invalid-char`.
int utf8_length_of(uint32_t cp);
// Writes [cp] as UTF-8 at [out] (room for 4); returns the bytes written. Surrogates are
// written like any three-byte value; above 0x10FFFF raises script `invalid-char`.
int encode_utf8(uint32_t cp, uint8_t* out);
// encode_utf8 that writes only the first [room] bytes of the sequence; returns them.
int encode_utf8_bounded(uint32_t cp, uint8_t* out, int64_t room);
// Writes [cp] at [out] as one UTF-16LE unit, or a surrogate pair above 0xFFFF; returns the
// units written, 0 (nothing written) above 0x10FFFF.
int encode_utf16le(uint32_t cp, uint8_t* out);

// }==

// {== Scanning UTF-8 (the lexer's decoder; never raises)

// Decodes one sequence at [p] with the UTF-8 automaton; [cp] receives the code point, or -1
// when the sequence is rejected (the rejecting byte is consumed, the next one is not) or cut
// by [end] (at [end] itself, -1 and nothing consumed). Returns the address after what was
// consumed.
const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& cp);
// Decoder steps from [start] to [end]: code points, each rejected sequence counting as one.
int64_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// The address after [n] code points from [start], or [end] when it comes first.
const uint8_t* skip_utf8_chars(const uint8_t* start, const uint8_t* end, int64_t n);
// The UTF-8 text [p, p + n) with each rejected sequence replaced by U+FFFD; a byte that cut a
// sequence short is read again, so "a" after a cut sequence stays in the text.
std::string repair_utf8(const uint8_t* p, size_t n);

// }==

// {== UTF-8 to text buffers

// Decodes the sequence at [p], [room] bytes being readable. Returns the code point and sets
// [room] to its length; returns -1 when the input ends inside a sequence that is valid so
// far. Invalid UTF-8 raises access `invalid-utf8` with a binary! of the bytes from the bad
// sequence's first byte (at most 4, never past the input).
int32_t decode_utf8_checked(const uint8_t* p, int64_t& room);

// Appends the UTF-8 text [bytes] ([length] of them) to text buffer [target], or to a new
// unit-1 buffer when [target] is 0, widening it as characters need; returns the buffer's
// node. A leading byte-order mark is skipped. With [line_end] CR LF and a lone CR become LF.
// An incomplete sequence at the end stops the loading: [remaining] receives the bytes left
// (0 when all were used), for a caller that reads in chunks. Invalid UTF-8 raises access
// `invalid-utf8` and leaves [target]'s text as it was (its unit may have widened). [bytes]
// must not lie in a series buffer: the buffer may grow while they are read.
node_id load_utf8(const uint8_t* bytes, int64_t length, node_id target, int64_t& remaining,
                  bool line_end);
// load_utf8 into the buffer of text [value], without line-end conversion.
node_id load_utf8_into(const uint8_t* bytes, int64_t length, const cell* value, int64_t& remaining);
// load_utf8 into a new buffer, without line-end conversion; the input is whole, so an
// incomplete sequence at its end raises access `invalid-utf8` too.
node_id load_utf8_new(const uint8_t* bytes, int64_t length);

// }==

// {== Text buffers to UTF-8
//
// These convert text value [value] from its index (clamped to the tail). A conversion buffer
// is a byte series that the caller keeps in [conv] (0 to have one made): it is grown, never
// shrunk, and the text returned stays valid until [conv] is used again or a collection runs.

// The UTF-8 of at most [length] code points (-1: to the tail), NUL-terminated, in [conv];
// [length] receives the bytes without the NUL. Above 0x10FFFF raises script `invalid-char`.
const uint8_t* to_utf8(const cell* value, int64_t& length, node_id& conv);
// to_utf8 that, with [line_end], writes every LF as CR LF.
const uint8_t* to_utf8_part(const cell* value, int64_t& length, bool line_end, node_id& conv);
// UTF-8 bytes of the code points from [start] to [end] of a buffer of [unit]; above 0x10FFFF
// raises script `invalid-char`.
uint64_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the UTF-8 of at most [max] code points (-1: all) of [value] at [out], which the
// caller sized; with [terminate] a 0 follows. Returns the bytes written, the 0 excluded.
int64_t write_utf8(const cell* value, uint8_t* out, int64_t max, bool terminate);
// write_utf8 that writes at most [room] bytes of text (a character cut by the room keeps its
// first bytes); with [terminate] a 0 follows them, so [out] holds [room] + 1 bytes.
int64_t write_utf8_bounded(const cell* value, uint8_t* out, int64_t room, int64_t max, bool terminate);

// }==

// {== UTF-16LE

// The narrowest unit for the UTF-16LE text [units] ([count] 16-bit units): 4 when any unit
// is a surrogate, else 2 when any is above 0xFF, else 1.
uint32_t utf16_unit_of(const uint8_t* units, int64_t count);
// Appends UTF-16LE text [units] ([count] units) to text buffer [target], or to a new buffer
// when 0 (unit 2 when empty), widening it to the unit the text needs; sets TEXT_FROM_UTF16 and
// returns the node. Surrogate pairs join; a lone low surrogate is kept as it is; a high one
// not followed by a low one raises access `invalid-utf8` and leaves [target]'s text as it was.
// With [line_end] every CR is dropped. [units] must not lie in a series buffer.
node_id load_utf16le(const uint8_t* units, int64_t count, node_id target, bool line_end);
// Extra bytes the UTF-16 of the range needs beyond 2 a code point: 2 for each code point above
// 0xFFFF and, with [line_end], for each LF.
uint64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit, bool line_end);
// The UTF-16LE of at most [length] code points of [value] (-1: to the tail), ended by a zero
// unit, in [conv]; [length] receives the units without the terminator. With [line_end] every
// LF gets a CR before it. Null when a code point is above 0x10FFFF.
const uint8_t* to_utf16(const cell* value, int64_t& length, bool line_end, node_id& conv);
// to_utf16 of the whole text from the index, with line-end conversion.
const uint8_t* to_utf16_whole(const cell* value, node_id& conv);
// Widens the NUL-terminated [bytes] to UTF-16LE units at [out], with a zero unit after.
void ascii_to_utf16(const char* bytes, uint8_t* out);

// }==

// {== Widening in place
//
// Each converts every unit of buffer [n], last to first within the buffer, to the wider unit
// and sets the unit; when the room from the head is too small, the buffer is first expanded
// (it moves, the node stays). Returns the buffer.

series_buffer* widen_1_to_2(node_id n);
series_buffer* widen_1_to_4(node_id n);
series_buffer* widen_2_to_4(node_id n);
// Widens [n] to [unit] (2 or 4) when its unit is narrower; returns the buffer.
series_buffer* widen_to(node_id n, uint32_t unit);

// }==

// {== Windows-1251

// Appends the Windows-1251 text [bytes] ([count]) to text buffer [target], or to a new
// unit-1 buffer when 0, widening it where a character needs; returns the node. With
// [line_end] CR LF and a lone CR become LF. [bytes] must not lie in a series buffer.
node_id load_cp1251(const uint8_t* bytes, int64_t count, node_id target, bool line_end);

// }==

} // namespace zyl::unicode
