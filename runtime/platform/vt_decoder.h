// runtime/platform/vt_decoder.h: turns the bytes a terminal sends into key codes.
//
// Handles UTF-8 text, CSI and SS3 cursor and editing keys (modifiers ignored, so Ctrl+Right
// is Right), bracketed-paste markers and line ends. A sequence may arrive split over any
// number of reads: the decoder keeps what it has seen until the sequence is whole. Unknown
// sequences come out as code 0, invalid UTF-8 as U+FFFD. A lone ESC stays pending until the
// caller decides that nothing follows (flush_escape). Mouse reports belong to the terminal UI.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::vt {

// Key codes beside the characters themselves (the editor's numbering).
enum key : int32_t {
    KEY_NONE = 0,
    KEY_ENTER = 13,
    KEY_ESCAPE = 27,
    KEY_UP = -20,
    KEY_DOWN = -21,
    KEY_RIGHT = -22,
    KEY_LEFT = -23,
    KEY_END = -24,
    KEY_HOME = -25,
    KEY_INSERT = -26,
    KEY_DELETE = -27,
    KEY_PAGE_UP = -28,
    KEY_PAGE_DOWN = -29,
    KEY_PASTE_BEGIN = -40,
    KEY_PASTE_END = -41,
};

struct decoder {
    uint8_t pending[32]; // bytes of the unfinished sequence
    uint32_t count = 0;
    uint32_t need = 0;   // UTF-8: bytes the sequence takes in all
    bool overlong = false; // CSI longer than pending: swallowed up to its final byte
    bool after_cr = false; // an LF right after CR is the same line end
};

// Receives each key decoded.
using sink = void (*)(void* ctx, int32_t key);

// Feeds [n] bytes at [p]; calls [out] for every key they complete.
void feed(decoder& d, const uint8_t* p, size_t n, sink out, void* ctx);
// True when the decoder holds exactly a lone ESC.
bool lone_escape(const decoder& d);
// Turns a pending lone ESC into the Escape key (the caller waited and nothing followed).
void flush_escape(decoder& d, sink out, void* ctx);

} // namespace zyl::vt
