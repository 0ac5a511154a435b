// lexer/loop.cpp: the scanning loop: finds each token with the tables, then runs its scanner
// and loader, sends the events and decides when a one-value or scan-only run stops.
#include "lexer/internal.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

namespace {

// What the table found for one token.
struct token {
    size_t start;
    size_t end;      // where the final state was reached
    uint32_t flags;
    uint8_t final_;  // final state
    uint8_t prev;    // working state before it
};

// Walks the table from st.pos. Hot: one class lookup, one transition and two additions a byte.
token find_token(state& st) {
    const uint8_t* base = st.base;
    size_t pos = st.pos;
    const size_t end = st.length;
    int32_t line = st.line;
    uint8_t s = st.start_state;
    if (s == S_START) {
        // Bytes that lead back to state 0 are skipped before the token: blanks, LFs, controls.
        while (pos < end) {
            uint8_t c = class_of(base[pos]);
            if (transitions[S_START][c] != S_START) break;
            line += lines[c];
            pos++;
        }
    }
    st.lines_crossed += line - st.line;
    token t{pos, pos, 0, 0, s};
    uint32_t flags = 0;
    for (;;) {
        if (ZYL_UNLIKELY(pos == end)) {
            t.prev = s;
            s = transitions[s][cls::nul];
            break;
        }
        uint32_t e = classes[base[pos]];
        uint8_t c = static_cast<uint8_t>(e & CLASS_MASK);
        flags |= e;
        uint8_t n = transitions[s][c];
        if (n > LAST_WORKING) {
            t.prev = s;
            s = n;
            break;
        }
        s = n;
        line += lines[c];
        pos++;
    }
    t.end = pos;
    t.flags = flags & ~CLASS_MASK;
    t.final_ = s;
    st.line = line;
    return t;
}

// Lines crossed inside [from, to) of the input.
int32_t count_lines(const state& st, size_t from, size_t to) {
    int32_t n = 0;
    for (size_t i = from; i < to; i++) n += st.base[i] == '\n';
    return n;
}

// The raw string's table walk stops at the first `}%`: its real end is found by the rule
// (the closing `}` has as many `%` after it as the opening had before `{`).
void settle_raw_string(state& st, token& t) {
    size_t end = raw_string_end(st, t.start);
    st.line -= count_lines(st, t.start, t.end);
    if (!end) {
        t.final_ = F_ERROR;
        t.prev = S_RAW_BODY;
        t.end = t.start;
        return;
    }
    st.line += count_lines(st, t.start, end);
    t.final_ = F_RAW_STRING;
    t.end = end;
}

// Leading Unicode spaces of a word token: answers the offset of the first other code point.
size_t skip_unicode_spaces(const state& st, size_t start, size_t end) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    while (p < e && *p >= 0x80) {
        int32_t cp;
        const uint8_t* q = unicode::decode_utf8_char(p, e, cp);
        if (cp < 0 || !is_unicode_space(static_cast<uint32_t>(cp))) break;
        p = q;
    }
    return size_t(p - st.base);
}

// The datatype a token reports to the callback: its type, or its structure code.
int32_t reported_type(uint8_t final_) {
    int32_t t = types[final_];
    return t ? t : -(int32_t(final_) - 65);
}

bool wants(const state& st, event_kind k) { return st.events && (st.events->mask & k); }

// Runs a scanner or loader, then re-derives the input's address: it may have allocated.
inline void call(routine r, state& st, const token& t, int mode) {
    r(st, t.start, t.end, t.flags, mode);
    refresh(st);
}

bool is_open_token(uint8_t f) {
    return f == F_BLOCK_OPEN || f == F_PAREN_OPEN || f == F_BRACE_OPEN || f == F_MAP_OPEN || f == F_PATH;
}

// Whether a callback moved the scan: the token is then abandoned, the scan goes on at pos.
bool take_moved(state& st) {
    bool m = st.moved;
    st.moved = false;
    return m;
}

// Step 8 for a value token: check, ask, load, ask again.
void value_token(state& st, token t, bool accept) {
    routine sc = scanners[t.final_ - FIRST_FINAL];
    routine ld = loaders[t.final_ - FIRST_FINAL];
    if (!st.loading || sc || wants(st, EV_SCAN)) {
        if (sc) call(sc, st, t, st.loading ? 1 : 0);
        else if (ld) call(ld, st, t, 0);
        t.end = st.token_end; // a check may end the token early
        if (st.events) accept = emit(st, EV_SCAN, st.token_type, nullptr, t.start, st.pos);
        if (take_moved(st)) return;
    }
    if (!accept || !ld || !st.loading) return;
    uint32_t before = out.top;
    call(ld, st, t, 1);
    if (st.events && out.top > before &&
        !emit(st, EV_LOAD, st.token_type, &out.cells[out.top - 1], t.start, st.pos))
        out.top = before;
    take_moved(st);
}

// Step 10: a one-value or scan-only run stops once one complete value stands alone.
bool one_done(const state& st, uint8_t final_) {
    if (st.token_type <= 0 || st.brace_depth > 0 || st.start_state == S_PATH || final_ == F_PATH) return false;
    uint32_t n = out.top - st.stack_base;
    return n == 0 || (n == 1 && out.cells[st.stack_base].type() != T_MARKER);
}

// Step 4: the token's fields, and where the scan resumes after it unless a routine says.
void begin_token(state& st, token& t) {
    if (t.final_ == F_RAW_STRING ||
        (t.final_ == F_ERROR && t.prev >= S_RAW_BODY && t.prev <= S_RAW_CLOSE && st.base[t.start] == '%'))
        settle_raw_string(st, t);
    st.token_start = t.start;
    st.token_end = t.end;
    st.prev_state = t.prev;
    st.final_state = t.final_;
    st.loaded_type = -1;
    st.token_type = types[t.final_];
    bool last = includes_last[t.final_] || (t.final_ == F_FILE && t.prev == S_QUOTED_FILE);
    st.pos = t.end + (last ? 1 : 0);
}

// Step 6: Unicode spaces before a token separate it from the last one (the table took them
// for the start of a word). Answers true when the scan starts again after them; when they run
// to the input's end, the token becomes the end.
bool skip_leading_spaces(state& st, token& t) {
    if (st.start_state != S_START || t.start >= st.length || st.base[t.start] < 0xC2) return false;
    size_t after = skip_unicode_spaces(st, t.start, t.end);
    if (after == t.start) return false;
    st.pos = after;
    if (after < st.length) return true;
    st.token_type = 0;
    t.final_ = st.final_state = F_END;
    return false;
}

// A Unicode space inside a word, or inside the word that starts a path, ends the token there:
// the token becomes what the table makes of the text before the space, as if a blank
// followed it (so "FFh" before a space is still 255, and a lone "'" still invalid).
void cut_at_unicode_space(state& st, token& t) {
    if (!(t.flags & FLAG_UTF8) || (t.final_ != F_WORD && t.final_ != F_PATH)) return;
    size_t space = unicode_space_in(st, t.start, t.end);
    if (space == t.end) return;
    // The table went through these bytes before without reaching a final state.
    uint8_t s = st.start_state;
    for (size_t p = t.start; p < space; p++) s = transitions[s][class_of(st.base[p])];
    t.prev = s;
    t.final_ = transitions[s][cls::blank];
    t.end = space;
    st.token_end = st.pos = space; // none of the finals of a cut word includes its last byte
    st.prev_state = t.prev;
    st.final_state = t.final_;
    st.token_type = types[t.final_];
}

// Steps 7 and 8: ask the callback, then run the token's scanner or its check and loader.
void run_token(state& st, const token& t, bool one_value, bool scan_only) {
    routine sc = scanners[t.final_ - FIRST_FINAL];
    if (scan_only && t.final_ <= F_STRING && sc) call(sc, st, t, 0); // containers are tracked
    bool proceed = !scan_only;
    if (st.events)
        proceed = st.brace_depth > 0 || emit(st, EV_PRESCAN, reported_type(t.final_), nullptr, t.start,
                                             is_open_token(t.final_) ? t.start : st.pos);
    if (take_moved(st) || !proceed) return;
    if (t.final_ >= F_STRING) value_token(st, t, !one_value || st.loading);
    else if (sc) call(sc, st, t, st.loading ? 1 : 0);
}

} // namespace

void scan_tokens(state& st, bool one_value, bool scan_only) {
    int32_t carried = 0; // lines crossed before Unicode spaces that a restart skipped
    do {
        st.lines_crossed = carried;
        carried = 0;
        st.moved = false; // a move inside a scanner's event has already set pos
        token t = find_token(st);
        begin_token(st, t);
        if (skip_leading_spaces(st, t)) {
            carried = st.lines_crossed;
            continue;
        }
        cut_at_unicode_space(st, t);
        bool began_in_point = st.start_state == S_POINT;
        run_token(st, t, one_value, scan_only);
        if (began_in_point) st.start_state = in_path(st) ? S_PATH : S_START; // a point literal is one token
        // Step 9: after an element of an open path, the path goes on or ends.
        if (st.start_state == S_PATH && t.final_ != F_PATH && t.final_ != F_ERROR) {
            check_path_separator(st, t.final_);
            refresh(st); // closing the path allocated: a binary! input may have moved
        }
        st.last_type = st.token_type;
        if ((one_value || scan_only) && one_done(st, t.final_)) return;
    } while (st.pos < st.length);
}

} // namespace zyl::lexer
