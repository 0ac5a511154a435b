// lexer/paths.cpp: paths in source text: the path start (a word right before a `/`), which
// opens the path, and the check after each element, which passes the `/` separator or ends
// the path (a set-path! when it ends in `:`).
//
// A path's elements are ordinary tokens scanned from state 59; the table admits only the
// element kinds, so a `/` followed by a delimiter is already `invalid` path! there.
#include "lexer/internal.h"
#include "lexer/loaders.h"

namespace zyl::lexer {

namespace {

// The path type that a token opens by its first character.
uint8_t path_type_of(uint8_t first) {
    return first == '\'' ? T_lit_path : first == ':' ? T_get_path : T_path;
}

// Passes the `/` at st.pos; the path goes on in state 59. A `/` that is the input's last
// byte is `invalid` path!.
void pass_separator(state& st) {
    if (st.pos + 1 >= st.length) throw_error(st, NO_POSITION, T_path);
    st.pos++;
    st.start_state = S_PATH;
}

} // namespace

void scan_path_start(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    check_name_text(st, start, end, T_word);
    st.pos = end; // at the `/`
    if (st.start_state == S_PATH) {
        // Inside a path already (a word such as `<=` reaches here): one more element.
        if (mode) push_plain_word(st, start, end);
        return pass_separator(st);
    }
    uint8_t type = path_type_of(st.base[start]);
    if (!open_container(st, type, start)) {
        // The callback wants no path: the word stands alone and the `/` scans next.
        if (mode) load_word(st, start, end, flags, 1);
        return;
    }
    st.lines_crossed = 0; // the new-line flag belongs to the path, not to its first word
    size_t name = type == T_path ? start : start + 1;
    if (mode) push_plain_word(st, name, end);
    pass_separator(st);
}

void check_path_separator(state& st, uint8_t final_) {
    size_t at = st.pos;
    uint8_t c = at < st.length ? class_of(st.base[at]) : uint8_t(cls::nul);
    int mode = st.loading ? 1 : 0;
    if (!path_ends[c]) {
        // Only a `/` separates elements: passing over another character would lose it.
        if (st.base[at] != '/') throw_error(st, NO_POSITION, T_path);
        return pass_separator(st);
    }
    if (c != cls::colon) return close_container(st, T_path, at, mode);
    // An end in `:`: a set-path!, which the next character must end too.
    size_t after = at + 1;
    uint8_t next = after < st.length ? class_of(st.base[after]) : uint8_t(cls::nul);
    if (!path_ends[next]) {
        if (final_ == F_WORD) throw_error(st, st.token_start, T_word);
        if (st.base[after] == '/') throw_error(st, NO_POSITION, T_path);
    }
    close_container(st, T_set_path, at, mode);
    st.pos = after < st.length ? after : st.length; // the close event may have cut the input
}

} // namespace zyl::lexer
