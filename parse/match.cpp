// parse/match.cpp: matching one literal, bitset or datatype rule value against the input.
#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/fast_paths.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "parse/engine.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::parse {

namespace {

// {== Internal functions

inline uint32_t fold(uint32_t cp) { return unicode::case_fold(cp, false); }

inline bool same_char(uint32_t a, uint32_t b, bool case_) {
    return a == b || (!case_ && fold(a) == fold(b));
}

// The code point at absolute [pos] of text value [s], read from its buffer.
inline uint32_t char_at(const series_buffer* b, uint32_t unit, uint32_t pos) {
    return string::get_char(b->head + (static_cast<size_t>(pos) * unit), unit);
}

// The UTF-8 bytes of [cp] into [out]; answers their count.
uint32_t utf8_of(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

inline bool is_text(uint8_t t) { return string::is_text_type(t); }

// Text value [r] (a tag with its angle brackets) at [pos] of string input; -1 when no match.
int64_t text_in_string(const engine& e, const cell& r, uint32_t pos, uint32_t end) {
    const series_buffer* in = memory::buffer_of(e.in.w2);
    uint32_t iu = string::unit_of(in);
    const series_buffer* rb = memory::buffer_of(r.w2);
    uint32_t ru = string::unit_of(rb);
    uint32_t rlen = string::length_of(&r);
    bool tag = r.type() == T_tag;
    uint32_t need = rlen + (tag ? 2 : 0);
    if (end - pos < need) return -1;
    uint32_t p = pos;
    if (tag && char_at(in, iu, p++) != '<') return -1;
    for (uint32_t k = 0; k < rlen; k++, p++)
        if (!same_char(char_at(in, iu, p), char_at(rb, ru, r.w1 + k), e.case_)) return -1;
    if (tag && char_at(in, iu, p++) != '>') return -1;
    return p;
}

// Byte [b] of the input against byte [v].
inline bool same_byte(uint8_t a, uint8_t b, bool case_) {
    if (a == b) return true;
    if (case_) return false;
    auto lower = [](uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; };
    return lower(a) == lower(b);
}

// The bytes [bytes] ([n]) at [pos] of binary input.
int64_t bytes_at(const engine& e, const uint8_t* bytes, uint32_t n, uint32_t pos, uint32_t end) {
    if (end - pos < n) return -1;
    const uint8_t* in = memory::buffer_of(e.in.w2)->head + pos;
    for (uint32_t k = 0; k < n; k++)
        if (!same_byte(in[k], bytes[k], e.case_)) return -1;
    return pos + n;
}

// Text value [r] (UTF-8 encoded; a tag with its brackets) at [pos] of binary input.
int64_t text_in_binary(const engine& e, const cell& r, uint32_t pos, uint32_t end) {
    const series_buffer* rb = memory::buffer_of(r.w2);
    uint32_t ru = string::unit_of(rb);
    uint32_t rlen = string::length_of(&r);
    bool tag = r.type() == T_tag;
    const uint8_t* in = memory::buffer_of(e.in.w2)->head;
    uint32_t p = pos;
    if (tag) {
        if (p >= end || in[p] != '<') return -1;
        p++;
    }
    for (uint32_t k = 0; k < rlen; k++) {
        uint8_t u[4];
        uint32_t n = utf8_of(char_at(rb, ru, r.w1 + k), u);
        if (bytes_at(e, u, n, p, end) < 0) return -1;
        p += n;
    }
    if (tag) {
        if (p >= end || in[p] != '>') return -1;
        p++;
    }
    return p;
}

// The datatype of the value the lexer loads from binary input at [pos]; answers the position
// past it, or -1 when its type is not [r]'s.
int64_t scan_value(const engine& e, const cell& r, uint32_t pos, uint32_t end) {
    if (pos >= end) return -1;
    cell at = e.in;
    at.w1 = pos;
    cell* slot = stack::push(&at);
    cell* out = stack::push(&none_value);
    lexer::options o;
    o.one_value = true;
    o.load = false;
    o.output = false;
    int64_t consumed = 0;
    int32_t type = lexer::scan_binary(out, slot, end - pos, o, &consumed);
    es.top = slot;
    if (type <= 0 || consumed <= 0) return -1;
    bool hit = r.type() == T_datatype ? static_cast<int32_t>(r.w1) == type
                                      : typeset::has(&r, static_cast<uint32_t>(type));
    return hit ? static_cast<int64_t>(pos) + consumed : -1;
}

int64_t in_block(const engine& e, const cell& r, uint32_t pos) {
    cell v = block::cells_of(e.in.w2)[pos];
    switch (r.type()) {
    case T_datatype: return v.type() == r.w1 ? int64_t{pos} + 1 : -1;
    case T_typeset: return typeset::has(&r, v.type()) ? int64_t{pos} + 1 : -1;
    case T_lit_word:
        if (!(v.type() == T_word)) return -1;
        return (e.case_ ? v.w2 == r.w2 : symbol::resolve(v.w2) == symbol::resolve(r.w2))
                   ? int64_t{pos} + 1
                   : -1;
    case T_lit_path: {
        cell p = r;
        cells::set_type(&p, T_path);
        if (v.type() != T_path) return -1;
        return actions::compare(&v, &p, e.case_ ? actions::CMP_STRICT_EQUAL : actions::CMP_EQUAL)
                   ? int64_t{pos} + 1
                   : -1;
    }
    default:
        return actions::compare(&v, &r, e.case_ ? actions::CMP_STRICT_EQUAL : actions::CMP_EQUAL)
                   ? int64_t{pos} + 1
                   : -1;
    }
}

// }==

} // namespace

// {== Matching

bool is_searchable(const engine& e, const cell& r) {
    uint8_t t = r.type();
    if (e.is_block)
        return !(t == T_block || t == T_word || t == T_paren || t == T_datatype || t == T_typeset ||
                 t == T_integer || t == T_lit_word || t == T_lit_path || t == T_set_word ||
                 t == T_get_word);
    return is_text(t) || t == T_binary || t == T_char_ || t == T_bitset;
}

int64_t match_literal(engine& e, const cell& r, uint32_t pos) {
    uint32_t end = end_of(e);
    uint8_t t = r.type();
    if (pos > end) return -1;
    if (e.is_block) {
        if (pos >= end) return -1;
        return in_block(e, r, pos);
    }
    if (t == T_datatype || t == T_typeset) {
        if (!e.is_binary) error::raise(error::cat_script, error::script_parse_unsupported);
        return scan_value(e, r, pos, end);
    }
    if (e.is_binary) {
        if (is_text(t)) return text_in_binary(e, r, pos, end);
        if (t != T_bitset && t != T_integer && t != T_char_ && t != T_binary)
            fail_with(error::script_parse_rule, r);
        if (pos >= end) return -1;
        uint8_t b = memory::buffer_of(e.in.w2)->head[pos];
        switch (t) {
        case T_bitset: return string::bitset_has(&r, b) ? int64_t{pos} + 1 : -1;
        case T_integer: return static_cast<int32_t>(r.w2) == b ? int64_t{pos} + 1 : -1;
        case T_char_: {
            uint8_t u[4];
            uint32_t n = utf8_of(r.w2, u);
            return bytes_at(e, u, n, pos, end);
        }
        case T_binary: {
            uint32_t n = series::rs_abs_length_q(&r);
            n = r.w1 < n ? n - r.w1 : 0;
            if (end - pos < n) return -1;
            const uint8_t* in = memory::buffer_of(e.in.w2)->head + pos;
            const uint8_t* v = memory::buffer_of(r.w2)->head + r.w1;
            return std::memcmp(in, v, n) == 0 ? static_cast<int64_t>(pos) + n : -1;
        }
        default: fail_with(error::script_parse_rule, r);
        }
    }
    if (is_text(t)) return text_in_string(e, r, pos, end);
    if (t != T_char_ && t != T_bitset) fail_with(error::script_parse_rule, r);
    if (pos >= end) return -1;
    const series_buffer* in = memory::buffer_of(e.in.w2);
    uint32_t cp = char_at(in, string::unit_of(in), pos);
    switch (t) {
    case T_char_: return same_char(cp, r.w2, e.case_) ? int64_t{pos} + 1 : -1;
    case T_bitset: return string::bitset_has(&r, cp) ? int64_t{pos} + 1 : -1;
    default: fail_with(error::script_parse_rule, r);
    }
}

// }==

} // namespace zyl::parse
