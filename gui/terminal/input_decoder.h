// gui/terminal/input_decoder.h: the terminal UI's input decoder: bytes in; keys, mouse reports
// and cursor-position reports out. It knows nothing of widgets.
//
// A byte-at-a-time state machine, so a sequence or a UTF-8 character split across reads at any
// byte gives the same items as when it arrives whole. What it holds between reads is bounded:
// the state, up to 16 parameters of a control sequence (each saturating at 65535) and the
// bytes not decoded yet. Limits on malformed input:
//   - a control sequence over 64 bytes is dropped (its bytes are consumed up to the final byte);
//   - a DCS or OSC string over 4 KB is dropped and decoding goes back to plain input;
//   - invalid UTF-8 (stray continuation, overlong, surrogate, above U+10FFFF, F8-FF) gives
//     U+FFFD and decoding resumes after the first byte.
// A sequence left unfinished waits for the next read; when none comes (the caller decides,
// after 50 ms), expire turns a lone ESC into key 27 and a partial character into U+FFFD, and
// drops any other partial sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::tui {

enum item_kind : uint8_t { ITEM_KEY = 1, ITEM_MOUSE = 2, ITEM_CURSOR = 3, ITEM_TEXT = 4 };

// One decoded input.
//   key:    [key] a code point (control bytes with 8 read as 127 and 10 as 13) or a negative
//           special code (-20 up ... -29 page-down, -31 .. -42 F1 .. F12); [flags] the event
//           flags: bit 0 for a special key, shift, alt, control (Shift+Tab is 9 with shift)
//   mouse:  [key] the button code as sent, [column] and [row] 1-based, [release] for a
//           release ("m"); [flags] the modifiers the code carries (shift, alt, control)
//   cursor: [row] and [column] of the cursor-position report, 1-based
//   text:   [length] bytes at [text], a run of typed characters, each a plain key with flags 0:
//           printable ASCII and valid UTF-8 of U+0080 up, no control byte. The bytes lie in the
//           decoder's buffer and stay until the next input_feed or input_reset; read them with
//           input_text_char. A run is handed over whole, so plain text costs no item a key.
struct input_item {
    int32_t key;
    uint32_t flags;
    uint16_t column, row;
    uint8_t kind;
    bool release;
    uint32_t length = 0;
    const uint8_t* text = nullptr;
    bool operator==(const input_item&) const = default;
};

// The character at [p] in a text item's bytes (valid UTF-8 by construction), moving [p] past it.
inline int32_t input_text_char(const uint8_t*& p) {
    uint32_t b = *p++;
    if (b < 0x80) return static_cast<int32_t>(b);
    if (b < 0xE0) {
        uint32_t c = ((b & 0x1F) << 6) | (p[0] & 0x3F);
        p += 1;
        return static_cast<int32_t>(c);
    }
    if (b < 0xF0) {
        uint32_t c = ((b & 0x0F) << 12) | (uint32_t(p[0] & 0x3F) << 6) | (p[1] & 0x3F);
        p += 2;
        return static_cast<int32_t>(c);
    }
    uint32_t c = ((b & 0x07) << 18) | (uint32_t(p[0] & 0x3F) << 12) | (uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    p += 3;
    return static_cast<int32_t>(c);
}

constexpr uint32_t CSI_MAX_BYTES = 64;
constexpr uint32_t STRING_MAX_BYTES = 4096;
constexpr uint32_t CSI_MAX_PARAMS = 16;

struct input_decoder {
    // Bytes fed and not decoded yet: [head, count) of buf.
    uint8_t* buf = nullptr;
    size_t head = 0, count = 0, capacity = 0;

    uint8_t state = 0;        // the machine's state (input_decoder.cpp)
    // UTF-8 character in progress
    uint32_t cp = 0;          // bits gathered so far
    uint8_t need = 0;         // continuation bytes still expected
    uint8_t lo = 0x80, hi = 0xBF; // allowed range of the next continuation byte
    // control sequence in progress
    uint16_t params[CSI_MAX_PARAMS];
    uint32_t nparams = 0;     // parameters stored
    uint32_t current = 0;     // parameter being read, saturated
    uint32_t length = 0;      // bytes of the sequence or string so far
    bool any_param = false;   // a digit or ';' was seen
    bool sgr = false;         // '<' was seen
    bool broken = false;      // too long, too many parameters or an odd byte: no item
    bool osc = false;         // the string is an OSC (BEL ends it too)
};

// Frees the decoder's buffer and resets it.
void input_reset(input_decoder& d);
// Appends [n] bytes at [p] behind those not decoded yet.
void input_feed(input_decoder& d, const uint8_t* p, size_t n);
// Decodes items into [out], at most [cap]; returns how many. Text items point into the buffer:
// use them before the next input_feed. Each item is taken off the buffer
// before it is returned, so a caller may stop after any item and call again later.
size_t input_decode(input_decoder& d, input_item* out, size_t cap);
// Whether a partial sequence or character waits for more bytes (all fed bytes are decoded).
bool input_partial(const input_decoder& d);
// Ends a partial sequence after the caller's wait: writes at most one item into [out] (a lone
// ESC as key 27, a partial character as U+FFFD) and answers whether it did.
bool input_expire(input_decoder& d, input_item& out);

} // namespace zyl::tui
