// lexer/tables.h: the lexer's constant tables: character classes with token flags, the state
// machine of 65 working states, and the side tables indexed by state or class.
//
// Every input byte maps to one of 40 classes (the low byte of its class entry); the bits above
// are token flags that the scanning loop ORs into the current token's flags word. The next
// state is transitions[state][class]. States 0-64 work, 66-101 are final (there is no 65): a
// final state means "the token ends before the current byte", which is not consumed. The final
// state picks the token's scanner and loader (lexer/internal.h).
//
// Invariant (checked at compile time in tables.cpp): from every working state the NUL class
// leads to a final state, so the end of input always ends a token; only state 0 leads back to
// state 0, so the bytes skipped before a token are exactly the leading run of state-0 bytes.
#pragma once

#include <array>
#include <cstdint>

namespace zyl::lexer {

// {== Character classes

namespace cls {
enum : uint8_t {
    blank = 0,     // TAB, CR, space
    lf = 1,        // line feed
    digit = 2,     // 1-9
    zero = 3,      // 0
    lbracket = 4,  // [
    rbracket = 5,  // ]
    lparen = 6,    // (
    rparen = 7,    // )
    lbrace = 8,    // {
    rbrace = 9,    // }
    dquote = 10,   // "
    hash = 11,     // #
    quote = 12,    // '
    colon = 13,    // :
    x = 14,        // x X
    t = 15,        // T (date-time separator)
    h = 16,        // h (hexadecimal suffix)
    e_low = 17,    // e
    e_up = 18,     // E
    hexlow = 19,   // a b c d f
    hexup = 20,    // A B C D F
    slash = 21,    // /
    backslash = 22,
    less = 23,     // <
    greater = 24,  // >
    equal = 25,    // =
    percent = 26,  // %
    comma = 27,    // ,
    semicolon = 28,
    at = 29,       // @
    dot = 30,      // .
    dollar = 31,   // $
    plus = 32,     // +
    minus = 33,    // -
    caret = 34,    // ^
    control = 35,  // 0x01-0x08, 0x0B, 0x0C, 0x0E-0x1F
    cont = 36,     // 0x7F and the UTF-8 continuation bytes 0x80-0xBF
    wordch = 37,   // other word characters and the UTF-8 lead bytes 0xC2-0xF7
    bad = 38,      // 0xC0, 0xC1, 0xF8-0xFF: never in UTF-8
    nul = 39,      // 0x00, and the end of input
};
} // namespace cls

constexpr uint32_t CLASS_COUNT = 40;
constexpr uint32_t CLASS_MASK = 0xFF;

// }==
// {== Token flags (bits of a class entry above the class byte)

constexpr uint32_t FLAG_BRACE_LINE = 1u << 17; // set by the brace-string scanner: LFs before `{`
constexpr uint32_t FLAG_PERCENT = 1u << 18;    // %
constexpr uint32_t FLAG_GREATER = 1u << 19;    // >
constexpr uint32_t FLAG_LESS = 1u << 20;       // <
constexpr uint32_t FLAG_SIGN = 1u << 21;       // + -
constexpr uint32_t FLAG_NUL = 1u << 22;        // NUL
constexpr uint32_t FLAG_HASH = 1u << 23;       // #
constexpr uint32_t FLAG_EXPONENT = 1u << 24;   // e E
constexpr uint32_t FLAG_QUOTE = 1u << 25;      // '
constexpr uint32_t FLAG_COLON = 1u << 26;      // :
constexpr uint32_t FLAG_COMMA = 1u << 27;      // ,
constexpr uint32_t FLAG_DOT = 1u << 28;        // .
constexpr uint32_t FLAG_CARET = 1u << 29;      // ^
constexpr uint32_t FLAG_UTF8_23 = 1u << 30;    // lead bytes 0xC2-0xEF: 2 or 3 byte sequences
constexpr uint32_t FLAG_UTF8_4 = 1u << 31;     // lead bytes 0xF0-0xF7: 4 byte sequences
constexpr uint32_t FLAG_UTF8 = FLAG_UTF8_23 | FLAG_UTF8_4;

// }==
// {== States

constexpr uint32_t WORKING_STATES = 65; // 0-64
constexpr uint32_t STATE_COUNT = 104;   // side tables by state cover 0-103
constexpr uint8_t LAST_WORKING = 64;
constexpr uint8_t FIRST_FINAL = 66;

// Start states that carry context from one token to the next.
constexpr uint8_t S_START = 0;
constexpr uint8_t S_BRACE = 4;   // inside an open {...} string
constexpr uint8_t S_POINT = 35;  // inside a point literal after its `(`
constexpr uint8_t S_PATH = 59;   // after a path separator
// Working states the loop and the scanners look at.
constexpr uint8_t S_RAW_BODY = 10;  // inside %{...
constexpr uint8_t S_RAW_BRACE = 11; // after `}` inside a raw string
constexpr uint8_t S_RAW_CLOSE = 12; // after }% (closing percent signs)
constexpr uint8_t S_QUOTED_FILE = 8;

// Final states: the token kinds.
enum final_state : uint8_t {
    F_END = 66,           // end of input (NUL or the buffer's end)
    F_ERROR = 67,         // text that no token accepts
    F_BLOCK_OPEN = 68,    // [
    F_BLOCK_CLOSE = 69,   // ]
    F_PAREN_OPEN = 70,    // (
    F_PAREN_CLOSE = 71,   // )
    F_BRACE_OPEN = 72,    // {
    F_BRACE_CLOSE = 73,   // } inside a brace string
    F_MAP_OPEN = 74,      // #[
    F_PATH = 75,          // word followed by /
    F_CONSTRUCT = 76,     // #(...)
    F_COMMENT = 77,       // ; comment
    F_COMMA = 78,         // , of a point literal
    F_STRING = 79,        // "..."
    F_WORD = 80,          // word, set-word, get-word, lit-word
    F_ISSUE = 81,         // #issue
    F_INTEGER = 82,       // decimal integer
    F_REFINEMENT = 83,    // /refinement
    F_CHAR = 84,          // #"c"
    F_FILE = 85,          // %file
    F_BINARY = 86,        // #{...}
    F_PERCENT = 87,       // 50%
    F_FLOAT = 88,         // 1.5
    F_SPECIAL_FLOAT = 89, // 1.#INF
    F_TUPLE = 90,
    F_DATE = 91,
    F_PAIR = 92,
    F_POINT = 93,         // (x, y)
    F_TIME = 94,
    F_MONEY = 95,
    F_TAG = 96,
    F_URL = 97,
    F_EMAIL = 98,
    F_HEX = 99,           // FFh
    F_RAW_STRING = 100,   // %{...}%
    F_REF = 101,          // @ref
};
constexpr uint32_t FINAL_COUNT = 36; // 66-101

// }==
// {== Tables

// Class entry of each byte: class in the low byte, token flags above.
extern const std::array<uint32_t, 256> classes;
// transitions[state][class] for the 65 working states.
extern const std::array<std::array<uint8_t, CLASS_COUNT>, WORKING_STATES> transitions;
// 1 for state 0 (a byte skipped before the token), else 0.
extern const std::array<uint8_t, STATE_COUNT> skip;
// 1 for the LF class, else 0: added to the line counter for every consumed byte.
extern const std::array<uint8_t, CLASS_COUNT> lines;
// The datatype id a state stands for: the token's datatype for a final state, the datatype a
// syntax error reports for a working state.
extern const std::array<uint8_t, STATE_COUNT> types;
// 1 for the final states whose token includes the byte that ended it (the closing `"` of a
// string, a bracket...): the scan resumes one past the token's end. 85 (file) is resolved by
// its previous state: only the quoted form includes its `"`.
extern const std::array<uint8_t, STATE_COUNT> includes_last;
// By class: 1 for the classes that end a path after an element.
extern const std::array<uint8_t, CLASS_COUNT> path_ends;
// 1 for the bytes that may stand in a point literal before its first comma.
extern const std::array<uint8_t, 256> point_chars;
// The value 0-15 of a hexadecimal digit (either case), 255 for any other byte.
extern const std::array<uint8_t, 256> hex_digits;

// The class of byte [b].
inline uint8_t class_of(uint8_t b) { return static_cast<uint8_t>(classes[b] & CLASS_MASK); }

// }==

} // namespace zyl::lexer
