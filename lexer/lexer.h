// lexer/lexer.h: the lexer: turns UTF-8 source text into values.
//
// One loop serves four uses: loading text into a block, loading only the next value, scanning
// without building values (answering the datatype of the next token), and an event mode in
// which a callback sees every token. Loaded values go on one output stack of cells shared by
// nested calls (a callback or loader may run the lexer again); brackets open and close
// containers on it.
//
// Input: text in memory that does not move (scan), a binary! (scan_binary, read from its node
// after every call that may allocate), or a string! (scan_string, written out as UTF-8 into the
// lexer's work buffer first). Bad text raises the syntax errors `invalid`, `missing`,
// `bad-char` and `malconstruct` with the text near the fault and "(line N)"; a run that does
// not load (scan-only, or event mode without loading) ends quietly instead and answers error!.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::lexer {

// {== Events

// Event kinds; each is also its bit in a callback's mask.
enum event_kind : uint32_t {
    EV_PRESCAN = 1, // a token was found; false skips it
    EV_SCAN = 2,    // a value token was checked; false drops it
    EV_LOAD = 4,    // a value was loaded; false pops it again
    EV_OPEN = 8,    // a container or brace string opens; false pushes nothing
    EV_CLOSE = 16,  // a container or brace string closes
    EV_ERROR = 32,  // a syntax error; false ends the scan quietly
    EV_ALL = 63,
};

// Structure codes reported in place of a datatype: minus the final state's index from 65.
enum structure_code : int32_t {
    CODE_END = -1,          // end of input
    CODE_CONSTRUCT_BAD = -2, // malconstruct, as an error
    CODE_BLOCK_OPEN = -3,
    CODE_BLOCK_CLOSE = -4,
    CODE_PAREN_OPEN = -5,
    CODE_PAREN_CLOSE = -6,
    CODE_BRACE_OPEN = -7,
    CODE_MAP_OPEN = -9,
    CODE_PATH = -10,
    CODE_CONSTRUCT = -11,
    CODE_COMMENT = -12,
    CODE_COMMA = -13,
};

// One event as the callback sees it. Positions are 1-based and count characters for string!
// input, bytes otherwise; [end] is one past the token (both are the start for `open` and for
// the `prescan` of a container).
struct event {
    event_kind kind;
    int32_t type;      // datatype id; 0 for none; a structure_code when negative
    int32_t line;      // line of the token, 1-based
    int64_t start;
    int64_t end;
    const cell* value; // EV_LOAD: the loaded value; else null
    cell* input;       // the input value with its index at the token's start; moving the index
                       // moves the scan there. Null when the text came from memory.
};

// A callback: [fn] answers true to go on with the token. [value] is the language-level
// function behind it, kept alive while the scan runs (none for a C++ callback). An error or
// a non-local exit (es.throw_code) inside it ends the scan and reaches the caller of scan.
struct callback {
    bool (*fn)(void* user, event& e);
    void* user;
    uint32_t mask; // the wanted events; the others count as answered true
    cell value;
};

// }==
// {== Scanning

struct options {
    bool one_value = false;  // stop after the first complete top-level value
    bool load = true;        // build values; false: scan only (no values, quiet errors)
    bool output = true;      // hand the values back in the result cell
    bool keep_block = false; // with one_value, hand back a block of that value
    callback* events = nullptr;
    const cell* into = nullptr; // a block to append the values to, instead of a new block
};

// Makes the output stack and the work buffer and registers the collector hook; start-up calls
// it, and every scan makes sure it ran. Safe to call again.
void init();

// Scans the UTF-8 text [text] ([length] bytes, which must not lie in a series buffer).
// Writes the values into [result] (a block!, or the value itself with one_value), and into
// [consumed] the bytes used. Answers the datatype of the last token: 0 at the end of the
// input, error! after a quiet syntax error. May allocate.
int32_t scan(cell* result, const uint8_t* text, int64_t length, const options& o, int64_t* consumed = nullptr);
// scan of the bytes of binary! [bin] from its index, at most [length] (-1: to the tail).
int32_t scan_binary(cell* result, const cell* bin, int64_t length, const options& o, int64_t* consumed = nullptr);
// scan of the characters of text value [str] from its index, at most [length] (-1: to the
// tail); [consumed] counts characters.
int32_t scan_string(cell* result, const cell* str, int64_t length, const options& o, int64_t* consumed = nullptr);

// The collector hook: marks the output stack and what every active scan holds.
void mark_states();

// Whether [cp] is one of the Unicode spaces that end words: U+0085, U+00A0, U+1680,
// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000, U+180E, U+200B.
constexpr bool is_unicode_space(uint32_t cp) {
    if (cp < 0x85 || cp > 0x3000) return false;
    if (cp >= 0x2000 && cp <= 0x200B) return true;
    switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F: case 0x205F:
    case 0x3000: return true;
    default: return false;
    }
}

// }==

} // namespace zyl::lexer
