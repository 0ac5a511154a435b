// library/json_scan.cpp: the JSON decoder: one pass over a copy of the text, building the
// values on a block of its own (so the collector sees them) and the open arrays and objects
// on a C++ vector (so nesting costs no machine stack). The line count and the marks move as
// the codec's grammar moves them, also on the way into a branch that fails.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "library/json_text.h"
#include "library/text_codecs.h"
#include "runtime/memory.h"
#include "runtime/values.h"

namespace zyl::text_codecs {

namespace {

// Characters that end a word or cannot be in one.
bool not_word_char(uint32_t c) {
    switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{':
    case '}': case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n':
    case 0xA0: case ' ': case '\t': case '\r': case '<': case '>':
        return true;
    default: return false;
    }
}

// Whether the characters [cs] spell a word: a first character that is no digit nor
// apostrophe, and no character that ends a word.
bool is_word(const std::vector<uint32_t>& cs) {
    if (cs.empty() || not_word_char(cs[0]) || (cs[0] >= '0' && cs[0] <= '9') || cs[0] == '\'') return false;
    return std::none_of(cs.begin() + 1, cs.end(), not_word_char);
}

void put_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

inline cell* cells_of(node_id n) { return reinterpret_cast<cell*>(memory::buffer_of(n)->head); }
inline uint32_t count_of(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }
inline void cut_to(node_id n, uint32_t count) {
    series_buffer* b = memory::buffer_of(n);
    b->tail = b->head + size_t(count) * sizeof(cell);
}

template <typename C> struct scanner {
    const C* s = nullptr;
    uint32_t n = 0;
    node_id values = 0; // the block on which values wait for their array or object
    uint32_t pos = 0, mark = 0, last_lf = 0, line = 1;
    struct open_frame {
        uint32_t start; // where the container's values begin on [values]
        bool object;
    };
    std::vector<open_frame> frames;
    std::vector<uint32_t> text; // the characters of the string being decoded
    std::string name;           // a member name's UTF-8, for the symbol table

    void ws() {
        while (pos < n) {
            C c = s[pos];
            if (c == ' ' || c == '\t' || c == '\r') {
                pos++;
            } else if (c == '\n') {
                pos++;
                last_lf = pos;
                line++;
                mark = pos;
            } else {
                return;
            }
        }
    }

    bool literal(const char* word, uint32_t len) {
        if (n - pos < len) return false;
        for (uint32_t i = 0; i < len; i++)
            if (s[pos + i] != C(uint8_t(word[i]))) return false;
        pos += len;
        return true;
    }

    bool digit_at(uint32_t at) const { return at < n && s[at] >= '0' && s[at] <= '9'; }

    // A number as `load` reads its text: an integer within 32 bits, else a float.
    bool number() {
        uint32_t at = pos;
        if (at < n && s[at] == '-') at++;
        if (!digit_at(at)) return false;
        if (s[at] == '0') {
            at++;
        } else {
            while (digit_at(at)) at++;
        }
        bool whole = true;
        if (at < n && s[at] == '.' && digit_at(at + 1)) {
            at += 2;
            while (digit_at(at)) at++;
            whole = false;
        }
        if (at < n && (s[at] == 'e' || s[at] == 'E')) {
            uint32_t e = at + 1;
            if (e < n && (s[e] == '+' || s[e] == '-')) e++;
            if (digit_at(e)) {
                while (digit_at(e)) e++;
                at = e;
                whole = false;
            }
        }
        char buf[64];
        std::string big;
        uint32_t len = at - pos;
        char* t = buf;
        if (len >= sizeof buf) {
            big.resize(len);
            t = big.data();
        }
        for (uint32_t i = 0; i < len; i++) t[i] = char(s[pos + i]);
        pos = at;
        if (whole) {
            bool neg = t[0] == '-';
            int64_t v = 0;
            uint32_t i = neg, digits = len - i;
            if (digits <= 10) {
                for (; i < len; i++) v = v * 10 + (t[i] - '0');
                if (neg) v = -v;
                if (v >= INT32_MIN && v <= INT32_MAX) {
                    series::append_value(values, cell{T_integer, 0, uint32_t(int32_t(v)), 0});
                    return true;
                }
            }
        }
        bool ok;
        double d = string::to_float(t, len, ok);
        series::append_value(values, float_::make_value(d));
        return true;
    }

    enum class str_result { ok, no_match, bad_surrogate };

    // A string literal at [pos] into [text]: its characters with the escapes resolved.
    str_result string_literal() {
        uint32_t i = pos + 1;
        bool escaped = false;
        for (;;) {
            if (i >= n) return str_result::no_match;
            uint32_t c = s[i];
            if (c == '"') break;
            if (c < 0x20) return str_result::no_match;
            if (c != '\\') {
                i++;
                continue;
            }
            escaped = true;
            if (i + 1 >= n) return str_result::no_match;
            uint32_t e = s[i + 1];
            if (e == 'u') {
                if (i + 6 > n) return str_result::no_match;
                for (uint32_t k = 2; k < 6; k++)
                    if (json_text::hex_value(s[i + k]) < 0) return str_result::no_match;
                i += 6;
            } else if (e == '"' || e == 't' || e == '\\' || e == '/' || e == 'n' || e == 'r' || e == 'b' || e == 'f') {
                i += 2;
            } else {
                return str_result::no_match;
            }
        }
        text.clear();
        if (!escaped) {
            text.assign(s + pos + 1, s + i);
        } else {
            for (uint32_t k = pos + 1; k < i;) {
                uint32_t c = s[k];
                if (c == '\\') {
                    int64_t next = json_text::read_escape(s, k, i, c);
                    if (next < 0) return str_result::bad_surrogate;
                    k = uint32_t(next);
                } else {
                    k++;
                }
                text.push_back(c);
            }
        }
        pos = i + 1;
        return str_result::ok;
    }

    // [text] as a new string! at the tail of [values].
    void push_text() {
        uint32_t widest = 0;
        for (uint32_t c : text) widest = std::max(widest, c);
        uint32_t unit = string::unit_for(widest), len = uint32_t(text.size());
        node_id str = series::alloc_by_encoding(len, unit);
        series_buffer* b = memory::buffer_of(str);
        uint8_t* p = b->head;
        if (unit == 1) {
            for (uint32_t c : text) *p++ = uint8_t(c);
        } else {
            for (uint32_t c : text) {
                string::put_char(p, unit, c);
                p += unit;
            }
        }
        b->tail = b->head + size_t(len) * unit;
        series::append_value(values, cell{T_string, 0, str, 0}); // keeps the new string alive
    }

    // A member name: a word when it spells one, else a string.
    void push_name() {
        if (!is_word(text)) {
            push_text();
            return;
        }
        name.clear();
        for (uint32_t c : text) put_utf8(name, c);
        uint32_t sym = symbol::make_from_text(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
        series::append_value(values, word::make_value(T_word, 0, sym, word::NO_INDEX));
    }

    // Replaces the values of the innermost container by the block or map they make.
    void close() {
        open_frame f = frames.back();
        frames.pop_back();
        uint32_t count = count_of(values) - f.start;
        if (!f.object) {
            node_id blk = series::alloc_cells(std::max<uint32_t>(count, 1));
            series_buffer* b = memory::buffer_of(blk);
            if (count) std::memcpy(b->head, cells_of(values) + f.start, size_t(count) * sizeof(cell));
            b->tail = b->head + size_t(count) * sizeof(cell);
            cut_to(values, f.start);
            series::append_value(values, cell{T_block, 0, blk, 0});
            return;
        }
        cell* m = map::make_at(stack::push_slot(), nullptr, count);
        for (uint32_t i = 0; i < count; i += 2) {
            // JSON names are case-sensitive: "a" and "A" are two members.
            cell key = cells_of(values)[f.start + i], value = cells_of(values)[f.start + i + 1];
            map::set(m, &key, &value, true, nullptr);
        }
        cut_to(values, f.start);
        series::append_value(values, *m);
        stack::pop(1);
    }

    enum class outcome { ok, fail };

    outcome run() {
        for (;;) {
            // A value.
            ws();
            if (pos >= n) return outcome::fail;
            C c = s[pos];
            if (c == '{' || c == '[') {
                pos++;
                frames.push_back({count_of(values), c == '{'});
                ws();
                if (c == '[') {
                    if (pos < n && s[pos] == ']') {
                        pos++;
                        close();
                    } else {
                        continue; // the first element
                    }
                } else if (pos < n && s[pos] == '}') {
                    pos++;
                    close();
                } else if (!member()) {
                    return outcome::fail;
                } else {
                    continue;
                }
            } else if (c == '"') {
                if (string_literal() != str_result::ok) return outcome::fail;
                push_text();
            } else if (c == 't' && literal("true", 4)) {
                series::append_value(values, cell{T_logic, 1, 0, 0});
            } else if (c == 'f' && literal("false", 5)) {
                series::append_value(values, cell{T_logic, 0, 0, 0});
            } else if (c == 'n' && literal("null", 4)) {
                series::append_value(values, cell{T_none, 0, 0, 0});
            } else if (!number()) {
                return outcome::fail;
            }
            // After a value: close containers or go on to the next element or member.
            for (;;) {
                mark = pos;
                ws();
                if (frames.empty()) return pos == n ? outcome::ok : outcome::fail;
                if (pos >= n) return outcome::fail;
                bool object = frames.back().object;
                C d = s[pos];
                if (d == ',') {
                    pos++;
                    ws();
                    if (object && !member()) return outcome::fail;
                    break; // the next value
                }
                if (d != (object ? '}' : ']')) return outcome::fail;
                pos++;
                close();
            }
        }
    }

    // A member's name and colon; its value follows.
    bool member() {
        ws();
        if (pos >= n || s[pos] != '"' || string_literal() != str_result::ok) return false;
        ws();
        if (pos >= n || s[pos] != ':') return false;
        pos++;
        mark = pos;
        push_name();
        return true;
    }
};

template <typename C>
bool scan_units(const uint8_t* p, uint32_t count, uint32_t base, node_id values, json_failure& fail) {
    std::unique_ptr<C[]> copy(new C[count]); // not zeroed: the input's buffer may move while values are made
    if (count) std::memcpy(copy.get(), p, size_t(count) * sizeof(C));
    scanner<C> sc;
    sc.s = copy.get();
    sc.n = count;
    sc.values = values;
    if (sc.run() == scanner<C>::outcome::ok) return true;
    fail = {sc.line, base + sc.mark, base + sc.last_lf};
    return false;
}

} // namespace

bool scan_json(const cell* input, cell* result, json_failure& fail) {
    cell in = *input;
    cell* values = stack::push_slot();
    *values = cell{T_block, 0, series::alloc_cells(16), 0};
    series_buffer* b = memory::buffer_of(in.w2);
    uint32_t unit = string::unit_of(b);
    uint32_t total = uint32_t(b->used_bytes() / unit), from = std::min(in.w1, total);
    const uint8_t* p = b->head + size_t(from) * unit;
    bool ok = unit == 1   ? scan_units<uint8_t>(p, total - from, from, values->w2, fail)
              : unit == 2 ? scan_units<uint16_t>(p, total - from, from, values->w2, fail)
                          : scan_units<uint32_t>(p, total - from, from, values->w2, fail);
    if (ok) *result = cells_of(values->w2)[0];
    stack::pop(1);
    return ok;
}

} // namespace zyl::text_codecs
