// lexer/errors.cpp: syntax errors: the event that announces them, the quiet stop of runs that
// do not load, and the raised error with the text near the fault and its line.
#include <cstdio>
#include <cstring>

#include "datatypes/char.h"
#include "datatypes/core.h"
#include "datatypes/string.h"
#include "lexer/internal.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

namespace {

constexpr size_t NEAR_BYTES = 30;

// The datatype the error event reports: the given one, else the best the state knows.
int32_t event_type(const state& st, int32_t code) {
    if (code > 0) return code;
    if (st.error_type > 0) return st.error_type;
    if (st.token_type > 0) return st.token_type;
    if (st.loaded_type > 0) return st.loaded_type;
    return T_error;
}

// The end of the near text from [at]: the first LF, the input's end, or the first character
// boundary at or after 30 bytes (at most 3 bytes later: a run of stray continuation bytes has
// no boundary).
size_t near_end(const state& st, size_t at) {
    size_t p = at;
    while (p < st.length && st.base[p] != '\n') {
        size_t n = p - at;
        if (n >= NEAR_BYTES && ((st.base[p] & 0xC0) != 0x80 || n >= NEAR_BYTES + 3)) break;
        p++;
    }
    return p;
}

// Makes [c] a string! of the UTF-8 [bytes]; a sequence that is not UTF-8 reads as U+FFFD, since
// the text near a syntax error may be anything. The byte that broke a sequence is read
// again unless it is a continuation byte: "a" after a cut sequence stays in the text.
void make_text(cell* c, const uint8_t* bytes, size_t n) {
    string::make_at(c, static_cast<uint32_t>(n));
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + n;
    while (p < end) {
        int32_t cp = *p;
        if (*p < 0x80) {
            p++;
        } else {
            const uint8_t* from = p;
            p = unicode::decode_utf8_char(p, end, cp);
            if (cp < 0 && p - from > 1 && (p[-1] & 0xC0) != 0x80) p--;
        }
        string::append_char(c->w2, cp < 0 ? 0xFFFD : static_cast<uint32_t>(cp));
    }
}

// The character that a `missing` error names, for the innermost container (or, when none is
// open, the closing character at the error position).
uint32_t missing_char(const state& st, size_t at, int32_t code) {
    size_t last = at < st.length ? at : (st.length ? st.length - 1 : 0);
    uint8_t here = st.length ? st.base[last] : 0;
    uint8_t type;
    if (st.head > st.stack_base) type = marker_type(&out.cells[st.head - 1]);
    else type = here == ')' ? T_paren : T_block;
    uint32_t closing = type == T_paren || type == T_point2d ? ')' : ']';
    if (code == -3 && here == closing) return closing == ')' ? '(' : '[';
    return closing;
}

[[noreturn]] void raise_syntax(state& st, size_t at, int32_t code) {
    // Both texts are read before anything is allocated: a binary! input may move.
    uint8_t near_bytes[NEAR_BYTES + 3];
    size_t n = near_end(st, at) - at;
    std::memcpy(near_bytes, st.base + at, n);
    uint32_t missing = code == -3 || code == -4 ? missing_char(st, at, code) : 0;
    char note[32];
    int note_n = std::snprintf(note, sizeof note, "(line %d)", st.line);
    cell line, near;
    line = near = none_value;
    collector::keep k_line(&line), k_near(&near);
    make_text(&line, reinterpret_cast<const uint8_t*>(note), size_t(note_n));
    make_text(&near, near_bytes, n);
    if (code > 0) {
        cell type = datatype::make_value(static_cast<uint8_t>(code));
        error::raise(error::cat_syntax, error::syntax_invalid, &line, &type, &near);
    }
    if (code == -1) error::raise(error::cat_syntax, error::syntax_bad_char, &line, &near);
    if (code == -2) error::raise(error::cat_syntax, error::syntax_malconstruct, &line, &near);
    cell ch = char_::make_value(missing);
    error::raise(error::cat_syntax, error::syntax_missing, &line, &ch, &near);
}

} // namespace

void throw_error(state& st, size_t at, int32_t code) {
    // A path has no closing character to miss: a bad end inside one is a bad character.
    if ((code == -3 || code == -4) && in_path(st)) code = -1;
    if (at == NO_POSITION) at = st.head > st.stack_base ? out.cells[st.head - 1].w3 : 0;
    if (at > st.length) at = st.length;
    if (st.events) {
        size_t end = st.pos > at ? st.pos : at;
        if (!emit(st, EV_ERROR, event_type(st, code), nullptr, at, end)) {
            st.stopped = true;
            throw quiet_stop{};
        }
    }
    if (!st.loading) {
        st.token_type = T_error;
        st.stopped = true;
        throw quiet_stop{};
    }
    raise_syntax(st, at, code);
}

} // namespace zyl::lexer
