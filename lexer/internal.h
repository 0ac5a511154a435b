// lexer/internal.h: what the lexer's units share: the lexer state, the output stack, the
// scanner and loader tables and the helpers they call. Not an interface.
//
// Positions are byte offsets from the input's start, never pointers: a binary! input lives in
// a series buffer that any allocation may move. `st.base` is the input's first byte; it is
// valid until the next allocation, after which `refresh` re-derives it from the node.
//
// Invariant (an active scan [st]): out.top >= st.stack_base; st.head is st.stack_base or one
// past the innermost open container's marker; st.pos <= st.length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"
#include "lexer/lexer.h"
#include "lexer/tables.h"
#include "runtime/memory.h"

namespace zyl::lexer {

// {== The lexer state

struct state {
    state* next;   // the more deeply nested state in the chain, or null
    state* parent; // the enclosing state, or null
    uint32_t stack_base; // index of this call's first output cell
    uint32_t head;       // index of the first cell of the innermost open container

    const uint8_t* base; // the input's first byte (see refresh)
    node_id input_node;  // a binary! input's node, 0 for text that does not move
    uint32_t input_index; // the input's first byte, in bytes from its buffer's head
    size_t length;       // input bytes
    size_t pos;          // where the next token starts
    size_t token_start;
    size_t token_end;

    int32_t line;          // current line, 1 at the start
    int32_t lines_crossed; // LFs between the previous token and this one
    int32_t loaded_type;   // datatype of the value just loaded, -1 before
    int32_t token_type;    // types[] of the final state
    int32_t error_type;    // datatype to report when a syntax error has no better one
    int32_t last_type;     // datatype of the last token, kept between tokens
    uint8_t start_state;   // 0, 4 in a brace string, 35 in a point literal, 59 after a path `/`
    uint8_t prev_state;    // working state the final state was reached from
    uint8_t final_state;

    size_t brace_start;   // the outermost `{` of an open brace string
    int32_t brace_depth;  // 0: no brace string open
    uint32_t brace_flags; // token flags over all passes of the brace string

    callback* events;  // event mode when set
    cell input_value;  // the string! or binary! scanned, none for text in memory
    bool loading;      // values are built; a syntax error raises
    bool stopped;      // a quiet stop ended the scan
    bool moved;        // a callback moved the input's index: the scan resumes at pos

    size_t cached_pos;    // last byte position converted to a character index
    int64_t cached_index; // its character index
};

// The innermost active state, or null.
extern state* chain_tail;

// Re-derives st.base after an allocation or a callback (a no-op for text that cannot move).
void refresh(state& st);

// }==
// {== Output stack
//
// A growable array of cells shared by all nested calls; states hold indexes into it, so its
// growth moves nothing they hold.

struct output_stack {
    cell* cells;
    uint32_t capacity;
    uint32_t top; // next free cell
};
extern output_stack out;

// Grows the stack (raises no-memory when it cannot); keeps everything below top.
void grow_output();

// A new unset cell on top, with the new-line flag when LFs preceded the token.
inline cell* push(const state& st) {
    if (ZYL_UNLIKELY(out.top == out.capacity)) grow_output();
    cell* c = &out.cells[out.top++];
    *c = cell{T_unset | (st.lines_crossed > 0 ? CELL_NEW_LINE : 0u), 0, 0, 0};
    return c;
}

// Marker of an open container: type triple!, which the lexer never loads.
constexpr uint8_t T_MARKER = T_triple;
// w1: cells from the previous container head to the marker; w2: container datatype in the low
// 16 bits, commas of a point literal above; w3: byte offset of the opening character.
inline uint8_t marker_type(const cell* m) { return static_cast<uint8_t>(m->w2 & 0xFFFF); }

// }==
// {== Scanners, loaders and their helpers

// A scanner or loader: the state, the token's [start] and [end] offsets, its flags and the
// mode (loader: 1 builds the value, 0 only checks; scanner: whether values are built). It
// leaves st.pos where scanning resumes (the loop presets the usual place).
using routine = void (*)(state& st, size_t start, size_t end, uint32_t flags, int mode);

extern const routine scanners[FINAL_COUNT];
extern const routine loaders[FINAL_COUNT];

// The raw string %...{...}...% starting at [start]: its end (one past the closing `%` run),
// or 0 when it has no sound closing.
size_t raw_string_end(const state& st, size_t start);
// Whether the `(` at [at] starts a point literal (the table then scans it whole).
bool is_point_start(const state& st, size_t at);
// The byte offset that the code point index [index] of the input reaches (string! input).
size_t offset_of_index(state& st, int64_t index);
// The character (string! input) or byte index of offset [pos]; cached for the next call.
int64_t index_of(state& st, size_t pos);

// Decodes the text of a string token into a new string! in [out]: [single_line] refuses LF
// (also after `^`), [escapes] resolves `^` escapes. Answers false on bad text; with [check]
// nothing is built. May allocate (not with [check]).
bool load_text(state& st, size_t start, size_t end, uint32_t flags, bool escapes, bool single_line,
               bool check, cell* out);

// Sends event [kind] for a token of [type] over [start, end) with [value]; answers the
// callback's answer (true when no callback wants it). May run any code.
bool emit(state& st, event_kind kind, int32_t type, const cell* value, size_t start, size_t end);

// The syntax error [code] (a datatype id for `invalid`, -1 bad-char, -2 malconstruct, -3 an
// unmatched close, -4 a container left open) at byte [at] (NO_POSITION: the innermost open
// container's opening, else the input start). The error event comes first; a false answer,
// or a run that does not load, ends the scan quietly (quiet_stop); else the error is raised.
[[noreturn]] void throw_error(state& st, size_t at, int32_t code);
constexpr size_t NO_POSITION = SIZE_MAX;

// Thrown to end a scan quietly; caught by the scan entry points only.
struct quiet_stop {};
// Thrown when a callback left a non-local exit pending; caught by the scan entry points.
struct exit_pending {};

// Points word!'s seams (word::scan_type, word::load_value) at the lexer.
void install_word_seams();

// Opens a container of [type] whose opening character is at [at]: pushes its marker (unless
// the callback refuses the `open` event: then answers false) and starts its contents in
// state 0.
bool open_container(state& st, uint8_t type, size_t at);
// Closes the innermost container with a closing of [type]: block! for `]`, paren! for `)`,
// path! for the end of a path, set-path! for an end in `:` (which only a path! takes). The
// start state becomes 59 when the container around is a path, else 0.
void close_container(state& st, uint8_t type, size_t at, int mode);

inline bool is_path_type(uint8_t t) { return t >= T_path && t <= T_get_path; }
// Whether the innermost open container is a path.
inline bool in_path(const state& st) {
    return st.head > st.stack_base && is_path_type(marker_type(&out.cells[st.head - 1]));
}

// The path start (final state 75): a word right before a `/`. Opens the path and loads the
// word; inside a path already, the word is one more element and the `/` its separator.
void scan_path_start(state& st, size_t start, size_t end, uint32_t flags, int mode);
// After an element of an open path (a token begun in state 59, or a paren or point closed
// inside the path): the character after it ends the path (`:` makes it a set-path!) or is
// its `/` separator; anything else is `invalid` path!. [final_] is the element's final state.
void check_path_separator(state& st, uint8_t final_);
// Raises `invalid` [type] at [start] unless the bytes [start, end) are UTF-8: a symbol's
// name must be text, so a cut, overlong or surrogate sequence or a stray continuation byte
// in a word, issue or refinement is a syntax error.
void check_name_text(state& st, size_t start, size_t end, uint8_t type);
// The offset of the first Unicode space (lexer.h) in [start, end) of the input, or [end].
size_t unicode_space_in(const state& st, size_t start, size_t end);

// }==

} // namespace zyl::lexer
