// lexer/scanners.cpp: the scanners of the structure tokens (containers, brace strings,
// constructions, comments, commas, the end and errors) and the checks of strings, words and
// issues; the scanner and loader tables.
#include <cstring>

#include "datatypes/core.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "lexer/internal.h"
#include "lexer/loaders.h"
#include "runtime/collector.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

namespace {

// {== Containers

// Whether a closing of [closing] ends a container opened as [opened]: the end of a path
// (T_path) closes any path, an end in `:` (T_set_path) only a plain path!.
bool closes(uint8_t closing, uint8_t opened) {
    if (closing == T_block) return opened == T_block || opened == T_map;
    if (closing == T_paren) return opened == T_paren || opened == T_point2d;
    if (closing == T_set_path) return opened == T_path;
    return is_path_type(opened);
}

// Whether the [n] cells from [first] are whole pairs with keys that a map takes.
bool valid_pairs(uint32_t first, uint32_t n) {
    if (n % 2 != 0) return false;
    for (uint32_t i = 0; i < n; i += 2)
        if (!map::valid_key_type(out.cells[first + i].type())) return false;
    return true;
}

// The value that replaces a closed container's marker and cells: a series of its type made
// from the cells (mode 1), or a placeholder that only counts as one value (mode 0).
cell container_value(state& st, uint8_t type, uint32_t first, uint32_t n, int mode) {
    if (!mode) return unset_value;
    if (type == T_point2d) {
        const cell* m = &out.cells[first - 1];
        throw_error(st, m->w3, type); // point2D! values are not built yet
    }
    if (type == T_map && !valid_pairs(first, n)) throw_error(st, out.cells[first - 1].w3, T_map);
    node_id node = series::alloc_cells(n ? n : 1); // may collect: the cells are still rooted
    series_buffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->head, &out.cells[first], size_t(n) * sizeof(cell));
    b->tail = b->head + size_t(n) * sizeof(cell);
    cell c{uint32_t(type == T_map ? uint8_t(T_block) : type), 0, node, 0};
    if (type == T_map) {
        collector::keep kept(&c);
        map::make_at(&c, &c, 0); // indexes the pairs: a repeated key keeps its place, the last value
    }
    return c;
}

void scan_block_open(state& st, size_t start, size_t, uint32_t, int) { open_container(st, T_block, start); }
void scan_block_close(state& st, size_t start, size_t, uint32_t, int mode) {
    close_container(st, T_block, start, mode);
}

void scan_paren_open(state& st, size_t start, size_t, uint32_t, int) {
    if (is_point_start(st, start)) {
        st.start_state = S_POINT; // the table scans the literal whole, to its `)`
        return;
    }
    open_container(st, T_paren, start);
}
void scan_paren_close(state& st, size_t start, size_t, uint32_t, int mode) {
    close_container(st, T_paren, start, mode);
}

void scan_map_open(state& st, size_t start, size_t, uint32_t, int) {
    if (st.base[start] != '#') throw_error(st, start, T_map);
    open_container(st, T_map, start);
}

// }==
// {== Brace strings

// In a brace string a pass's token runs from the last brace to this one: the brace is at
// [end], which the token does not include.
void scan_brace_open(state& st, size_t, size_t end, uint32_t flags, int) {
    if (st.brace_depth == 0) {
        if (st.events) emit(st, EV_OPEN, T_string, nullptr, end, end);
        st.brace_start = end;
        st.brace_flags = st.lines_crossed > 0 ? FLAG_BRACE_LINE : 0;
        st.start_state = S_BRACE;
    }
    st.brace_depth++;
    st.brace_flags |= flags;
}

void scan_brace_close(state& st, size_t, size_t start, uint32_t flags, int mode) {
    st.brace_flags |= flags;
    if (--st.brace_depth > 0) return;
    st.start_state = S_START;
    st.token_type = T_string;
    size_t from = st.brace_start;
    if (st.events) emit(st, EV_CLOSE, T_string, nullptr, start, start + 1);
    if (!load_text(st, from + 1, start, st.brace_flags, true, false, true, nullptr)) throw_error(st, from, T_string);
    if (st.events && !emit(st, EV_SCAN, T_string, nullptr, from, start + 1)) return;
    if (!mode) return;
    // The string begins a line when LFs preceded its `{`, whatever lines it spans.
    st.lines_crossed = (st.brace_flags & FLAG_BRACE_LINE) ? 1 : 0;
    cell* c = push(st);
    uint32_t index = out.top - 1;
    load_text(st, from + 1, start, st.brace_flags, true, false, false, c);
    st.loaded_type = T_string;
    if (st.events && !emit(st, EV_LOAD, T_string, &out.cells[index], from, start + 1)) out.top = index;
}

// }==
// {== Other structure tokens

void scan_end(state& st, size_t, size_t, uint32_t, int) { st.pos = st.length; }

void scan_error(state& st, size_t start, size_t, uint32_t, int) {
    int32_t type = types[st.prev_state];
    size_t at = start;
    if (st.brace_depth > 0) at = st.brace_start;
    else if (type >= T_path && type <= T_get_path) at = NO_POSITION;
    throw_error(st, at, type ? type : -1);
}

uint8_t lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c | 0x20) : c; }

// Whether the [n] bytes at [p] equal the ASCII [name] without regard to letter case.
bool same_name(const uint8_t* p, size_t n, const char* name) {
    if (std::strlen(name) != n) return false;
    for (size_t i = 0; i < n; i++)
        if (lower(p[i]) != lower(static_cast<uint8_t>(name[i]))) return false;
    return true;
}

// Whether a construction's text names a value; sets [v] to it.
bool construct_value(const uint8_t* p, size_t n, cell& v) {
    static const char* const words[] = {"true", "false", "none", "unset"};
    static const cell values[] = {true_value, false_value, none_value, unset_value};
    for (int i = 0; i < 4; i++) {
        if (same_name(p, n, words[i])) {
            v = values[i];
            return true;
        }
    }
    for (uint32_t t = 1; t <= T_event; t++) {
        if (same_name(p, n, datatype::name_of(static_cast<uint8_t>(t)))) {
            v = datatype::make_value(static_cast<uint8_t>(t));
            return true;
        }
    }
    return false;
}

void scan_construct(state& st, size_t start, size_t end, uint32_t, int mode) {
    cell v;
    if (st.base[start] != '#' || !construct_value(st.base + start + 2, end - start - 2, v))
        throw_error(st, start, -2);
    st.token_type = v.type();
    if (!mode) return;
    uint32_t index = out.top;
    *push(st) = cell{v.header | (st.lines_crossed > 0 ? CELL_NEW_LINE : 0u), v.w1, v.w2, v.w3};
    st.loaded_type = v.type();
    if (st.events && !emit(st, EV_LOAD, v.type(), &out.cells[index], start, end + 1)) out.top = index;
}

void scan_comment(state&, size_t, size_t, uint32_t, int) {}

// A comma turns the paren around it into a point literal and counts itself there.
void scan_comma(state& st, size_t start, size_t, uint32_t, int) {
    cell* m = st.head > st.stack_base ? &out.cells[st.head - 1] : nullptr;
    uint8_t t = m ? marker_type(m) : 0;
    if (t != T_paren && t != T_point2d) throw_error(st, start, T_point2d);
    uint32_t commas = (m->w2 >> 16) + 1;
    m->w2 = T_point2d | (commas << 16);
}

// }==
// {== Checks of value tokens

void check_string(state& st, size_t start, size_t end, uint32_t flags, int mode) {
    if (mode) return; // the loader checks while it loads
    if (!load_text(st, start + 1, end, flags, true, true, true, nullptr)) throw_error(st, start, T_string);
}

// The punctuation of a word (a Unicode space inside it has already ended the token), and
// its name's text.
void check_word(state& st, size_t start, size_t end, uint32_t, int) {
    uint8_t first = st.base[start];
    bool colon_end = end - start > 1 && st.base[end - 1] == ':';
    if (first == '\'' && colon_end) throw_error(st, start, T_lit_word);
    if (first == ':' && colon_end) throw_error(st, start, T_word);
    uint8_t kind = T_word;
    if (first == ':') kind = T_get_word;
    else if (first == '\'') kind = T_lit_word;
    else if (colon_end) kind = T_set_word;
    check_name_text(st, start, end, kind);
}

void check_issue(state& st, size_t start, size_t end, uint32_t, int) {
    if (st.base[start] != '#' || end - start < 2) throw_error(st, start, T_issue);
    check_name_text(st, start, end, T_issue);
}

// }==

} // namespace

// {== Containers (shared)

bool open_container(state& st, uint8_t type, size_t at) {
    if (st.events && !emit(st, EV_OPEN, type, nullptr, at, at)) return false;
    cell* m = push(st);
    m->header = T_MARKER | (m->header & CELL_NEW_LINE);
    m->w1 = (out.top - 1) - st.head;
    m->w2 = type;
    m->w3 = static_cast<uint32_t>(at);
    st.head = out.top;
    st.start_state = S_START; // a paren inside a path holds tokens of its own
    return true;
}

void close_container(state& st, uint8_t type, size_t at, int mode) {
    uint8_t opened = st.head > st.stack_base ? marker_type(&out.cells[st.head - 1]) : 0;
    bool fits = opened && closes(type, opened);
    // The value takes the opened kind, or set-path! for an end in `:`; a path's close event
    // reports that kind too, a bracket's the bracket's.
    uint8_t made = type == T_set_path ? uint8_t(T_set_path) : opened;
    if (st.events) emit(st, EV_CLOSE, is_path_type(type) && fits ? made : type, nullptr, at, at + 1);
    if (!fits) throw_error(st, at, -3);
    uint32_t marker = st.head - 1;
    uint32_t new_line = out.cells[marker].header & CELL_NEW_LINE;
    uint32_t outer = marker - out.cells[marker].w1;
    cell v = container_value(st, made, st.head, out.top - st.head, mode);
    v.header |= new_line;
    out.cells[marker] = v;
    out.top = marker + 1;
    st.head = outer;
    st.token_type = made;
    st.loaded_type = made;
    // A paren closed inside a path: the path goes on after it.
    st.start_state = in_path(st) ? S_PATH : S_START;
}

void check_name_text(state& st, size_t start, size_t end, uint8_t type) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    while (p < e) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        p = unicode::decode_utf8_char(p, e, cp);
        if (cp < 0) throw_error(st, start, type);
    }
}

size_t unicode_space_in(const state& st, size_t start, size_t end) {
    const uint8_t* p = st.base + start;
    const uint8_t* e = st.base + end;
    while (p < e) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        const uint8_t* q = unicode::decode_utf8_char(p, e, cp);
        if (cp >= 0 && is_unicode_space(static_cast<uint32_t>(cp))) return size_t(p - st.base);
        p = q;
    }
    return end;
}

bool is_point_start(const state& st, size_t at) {
    size_t p = at + 1;
    if (st.length - p < 3) return false;
    while (p < st.length && point_chars[st.base[p]]) p++;
    return p == st.length || st.base[p] == ',';
}

// }==
// {== Tables

const routine scanners[FINAL_COUNT] = {
    scan_end,         // 66 end of input
    scan_error,       // 67
    scan_block_open,  // 68 [
    scan_block_close, // 69 ]
    scan_paren_open,  // 70 (
    scan_paren_close, // 71 )
    scan_brace_open,  // 72 {
    scan_brace_close, // 73 }
    scan_map_open,    // 74 #[
    scan_path_start,  // 75 word/
    scan_construct,   // 76 #(...)
    scan_comment,     // 77 ;
    scan_comma,       // 78 ,
    check_string,     // 79 "..."
    check_word,       // 80 word
    check_issue,      // 81 #issue
    nullptr,          // 82 integer
    nullptr,          // 83 refinement
    nullptr,          // 84 char
    nullptr,          // 85 file
    nullptr,          // 86 binary
    nullptr,          // 87 percent
    nullptr,          // 88 float
    nullptr,          // 89 special float
    nullptr,          // 90 tuple
    nullptr,          // 91 date
    nullptr,          // 92 pair
    nullptr,          // 93 point
    nullptr,          // 94 time
    nullptr,          // 95 money
    nullptr,          // 96 tag
    nullptr,          // 97 url
    nullptr,          // 98 email
    nullptr,          // 99 hexadecimal integer
    nullptr,          // 100 raw string
    nullptr,          // 101 ref
};

const routine loaders[FINAL_COUNT] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 66-73
    nullptr, nullptr, nullptr, nullptr, nullptr,                            // 74-78
    load_string,        // 79
    load_word,          // 80
    load_issue,         // 81
    load_integer,       // 82
    load_refinement,    // 83
    load_char,          // 84
    load_file,          // 85
    load_binary,        // 86
    load_percent,       // 87
    load_float,         // 88
    load_special_float, // 89
    load_tuple,         // 90
    load_date,          // 91 date
    load_pair,          // 92
    load_point,         // 93
    load_time,          // 94
    load_money,         // 95 money
    load_tag,           // 96
    load_url,           // 97
    load_email,         // 98
    load_hex,           // 99
    load_raw_string,    // 100
    load_ref,           // 101
};

// }==

} // namespace zyl::lexer
