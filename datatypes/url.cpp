// datatypes/url.cpp: url!: percent coding, molding, assembly from a block, path joining and the
// routing of open, read and write. Invariants: datatypes/file_url.h.
#include <algorithm>
#include <climits>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zyl::url {

// {== Internal functions

namespace {

// What url! mold keeps as it is: the file-safe class less "(" and ")", which end a URL in
// source text, so that a molded URL holding them still loads back as one value.
constexpr char_class MOLD_SAFE = [] {
    char_class k = FILE_SAFE;
    k.has[uint8_t('(')] = k.has[uint8_t(')')] = false;
    return k;
}();

// What url! mold keeps as it is in a URL's scheme, the text before its first ":": source text
// reads the scheme as a word, where no "%" escape can stand, so the word characters outside
// MOLD_SAFE ("^" "<" ">" "|" "`" and everything from 128 up) are written as they are.
inline bool scheme_keeps(uint32_t c) {
    return c >= 128 || in_class(MOLD_SAFE, c) || c == '^' || c == '<' || c == '>' || c == '|' || c == '`';
}

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// The value of hexadecimal digit [c], or -1.
inline int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

inline uint32_t encode_in(const char_class& k, uint8_t b, char* out) {
    if (in_class(k, b)) {
        out[0] = char(b);
        return 1;
    }
    out[0] = '%';
    out[1] = HEX_DIGITS[b >> 4];
    out[2] = HEX_DIGITS[b & 15];
    return 3;
}

// Appends the percent-encoded UTF-8 of the [count] characters of [text] from absolute
// position [from] to string [out] under class [k], at most [limit] characters of output;
// returns the characters written. The output is gathered in a local chunk, and the text is
// re-read from its node after every flush, which may move it.
int64_t encode_range(const cell* text, uint32_t from, uint32_t count, const cell* out, const char_class& k,
                     int64_t limit) {
    char chunk[256];
    uint32_t used = 0;
    int64_t written = 0;
    auto flush = [&] {
        auto n = static_cast<uint32_t>(std::min<int64_t>(used, limit - written));
        string::concatenate_part(out, chunk, n);
        written += n;
        used = 0;
    };
    for (uint32_t i = 0; i < count && written + used < limit; i++) {
        uint8_t bytes[4];
        int n = unicode::encode_utf8(string::rs_abs_char_at(text, from + i), bytes);
        for (int j = 0; j < n; j++) used += encode_in(k, bytes[j], chunk + used);
        if (used > sizeof chunk - 12) flush();
    }
    flush();
    return written;
}

// Appends the symbol name of word cell [w] to string [out]: the form of a word, for the
// word types that have not registered their own form entry yet.
void append_name(const cell* w, const cell* out) {
    node_id name = symbol::name_string(w->w2)->w2; // the table keeps the name string alive
    cell text{T_string, 0, name, 0};
    string::insert_core(out, &text, -1, 0, string::COPY_APPEND);
}

// Forms [v] (a copy outside any buffer) at the tail of string [out].
void form_element(const cell* v, cell* out) {
    uint8_t t = v->type();
    if (t >= T_word && t <= T_issue && !datatype::action(t, A_form)) return append_name(v, out);
    actions::form_typed(v, out, nullptr, INT32_MAX);
}

inline bool is_block_like(uint8_t t) { return t == T_block || t == T_paren || t == T_hash; }

// The cell at [i] past the index of block [b], copied out: forming may move the buffer.
inline cell element(const cell* b, uint32_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(b->w2)->head)[b->w1 + i];
}

// A URL from the values of block [spec] into [proto]: scheme "://" host, ":" port when the
// third value is an integer!, then "/" before each further value ("#" before a later
// issue!). A block with only a scheme gives "scheme://".
cell* assemble(cell* proto, const cell* spec) {
    cell block = *spec;
    collector::keep k_block{&block}; // [proto] may be the spec's own cell
    uint64_t total = series::length(block.w2);
    auto count = static_cast<uint32_t>(block.w1 < total ? total - block.w1 : 0);
    if (count == 0) {
        cell dt = datatype::make_value(T_url);
        error::raise(error::cat_script, error::script_bad_to_arg, &dt, &block);
    }
    string::make_at(proto, 16);
    cell e = element(&block, 0);
    form_element(&e, proto);
    string::concatenate_literal(proto, "://");
    uint32_t i = 1;
    if (i < count) form_element(&(e = element(&block, i++)), proto);
    if (i < count && (e = element(&block, i)).type() == T_integer) {
        string::append_char(proto->w2, ':');
        form_element(&e, proto);
        i++;
    }
    for (bool first = true; i < count; i++, first = false) {
        e = element(&block, i);
        string::append_char(proto->w2, !first && e.type() == T_issue ? '#' : '/');
        form_element(&e, proto);
    }
    cells::set_type(proto, T_url);
    return proto;
}

[[noreturn]] void not_done() { error::raise(error::cat_internal, error::internal_not_done); }
// A URL parser that is not there (a bare run-time without the library).
[[noreturn]] void unavailable() { error::raise(error::cat_internal, error::internal_feature_na); }

inline bool is_http(const cell* value) { return string::starts_with_literal_q(value, "http"); }

// Raises invalid-arg unless [v] is a request body: a block!, string! or binary!.
void check_body(const cell* v) {
    uint8_t t = v->type();
    if (t != T_block && t != T_string && t != T_binary) error::raise(error::cat_script, error::script_invalid_arg, v);
}

// Checks the data of an HTTP write: a request block (method word!, headers block!, optional
// body), an empty block (a plain GET) or a body; anything else raises invalid-arg.
void check_request(const cell* data) {
    if (data->type() != T_block) return check_body(data);
    uint64_t total = series::length(data->w2);
    uint64_t count = data->w1 < total ? total - data->w1 : 0;
    if (count == 0) return;
    cell method = count > 0 ? element(data, 0) : none_value;
    cell headers = count > 1 ? element(data, 1) : none_value;
    if (method.type() != T_word) error::raise(error::cat_script, error::script_invalid_arg, &method);
    if (headers.type() != T_block) error::raise(error::cat_script, error::script_invalid_arg, &headers);
    if (count > 2) {
        cell body = element(data, 2);
        check_body(&body);
    }
}

} // namespace

uint32_t encode_byte(uint32_t mode, uint8_t b, char* out) {
    return encode_in(mode == MODE_STRICT ? URL_STRICT : FILE_SAFE, b, out);
}

bool decode_hex_pair(const cell* text, uint32_t pos, uint8_t& b) {
    if (uint64_t(pos) + 3 > string::rs_abs_length_q(text)) return false;
    if (string::rs_abs_char_at(text, pos) != '%') return false;
    int hi = hex_value(string::rs_abs_char_at(text, pos + 1));
    int lo = hex_value(string::rs_abs_char_at(text, pos + 2));
    if (hi < 0 || lo < 0) return false;
    b = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

void decode_percent(const cell* text, const cell* target) {
    cell t = *text; // the text is re-read by position: appending may move its buffer
    uint32_t pos = t.w1, end = pos + string::length_of(&t);
    while (pos < end) {
        uint8_t seq[4];
        if (decode_hex_pair(&t, pos, seq[0])) {
            int n = unicode::utf8_lead_length(seq[0]);
            if (n == 0) {
                string::append_char(target->w2, seq[0]);
                pos += 3;
                continue;
            }
            int k = 1;
            while (k < n && decode_hex_pair(&t, pos + 3 * uint32_t(k), seq[k])) k++;
            int64_t room = n;
            int32_t cp = k == n ? unicode::decode_utf8_checked(seq, room) : -1;
            if (cp >= 0) {
                string::append_char(target->w2, static_cast<uint32_t>(cp));
                pos += 3 * uint32_t(n);
                continue;
            }
        }
        string::append_char(target->w2, string::rs_abs_char_at(&t, pos++));
    }
}

int32_t next_decoded(const uint8_t*& p, const uint8_t* end) {
    // The byte of the escape at [q], or -1 when [q] holds none.
    auto escape_at = [end](const uint8_t* q) {
        if (end - q < 3 || q[0] != '%') return -1;
        int hi = hex_value(q[1]), lo = hex_value(q[2]);
        return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
    };
    int first = escape_at(p);
    if (first >= 0) {
        int n = unicode::utf8_lead_length(uint8_t(first));
        if (n == 0) {
            p += 3;
            return first;
        }
        uint8_t seq[4] = {uint8_t(first)};
        int k = 1;
        for (int b; k < n && (b = escape_at(p + 3 * k)) >= 0; k++) seq[k] = uint8_t(b);
        if (k == n) {
            // A whole run of escapes: one UTF-8 sequence, or invalid.
            int32_t cp;
            const uint8_t* after = unicode::decode_utf8_char(seq, seq + n, cp);
            if (cp < 0 || after != seq + n) return -1;
            p += 3 * n;
            return cp;
        }
        // A lead without its escapes: the "%" stands for itself.
    }
    int32_t cp;
    p = unicode::decode_utf8_char(p, end, cp);
    return cp;
}

void encode_percent(const cell* text, int32_t part, const cell* target, uint32_t mode) {
    cell t = *text;
    uint32_t count = string::length_of(&t);
    if (part >= 0) count = std::min(count, uint32_t(part));
    encode_range(&t, t.w1, count, target, mode == MODE_STRICT ? URL_STRICT : FILE_SAFE, INT64_MAX);
}

namespace {
inline bool is_function_type(uint8_t t) {
    return t == T_function || t == T_native || t == T_action || t == T_op || t == T_routine;
}
} // namespace

cell* open_port(cell* value) {
    cell url = *value;
    if (symbol::table.entries == 0 || !context::global()) unavailable(); // a bare run-time: no words at all
    const cell* parser = context::global_value(symbol::make("parse-url"));
    if (!parser || !is_function_type(parser->type())) unavailable();
    cell fn = *parser;
    cell* spec = interp::call_with(&fn, &url, 1);
    if (!spec) return value; // a non-local exit is pending
    if (spec->type() != T_object) error::raise(error::cat_script, error::script_invalid_arg, &url);
    cell proto = datatype::make_value(T_port);
    *value = proto;
    actions::make_typed(value, spec);
    stack::pop(1);
    return value;
}

// }==
// {== Action entries

namespace {

cell* to(cell* proto, cell* spec, uint8_t type) {
    if (type == T_url && is_block_like(spec->type())) return assemble(proto, spec);
    return string::to(proto, spec, type);
}

cell* make(cell* proto, cell* spec, uint8_t type) {
    if (type == T_url && is_block_like(spec->type())) return to(proto, spec, type);
    return string::make(proto, spec, type);
}

// The scheme as its word characters stand, then the rest percent-encoded.
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value;
    int64_t limit = arg ? std::max(part, 0) : INT64_MAX;
    uint32_t len = string::length_of(&v);
    int32_t colon = string::find_char(&v, ':');
    uint32_t scheme = colon < 0 ? 0 : uint32_t(colon);
    int64_t written = 0;
    for (uint32_t i = 0; i < scheme && written < limit; i++) {
        uint32_t c = string::rs_abs_char_at(&v, v.w1 + i);
        if (!scheme_keeps(c)) {
            written += encode_range(&v, v.w1 + i, 1, buffer, MOLD_SAFE, limit - written);
            continue;
        }
        string::append_char(buffer->w2, c);
        written++;
    }
    if (written < limit) written += encode_range(&v, v.w1 + scheme, len - scheme, buffer, MOLD_SAFE, limit - written);
    return static_cast<int32_t>(std::max<int64_t>(int64_t(part) - written, INT32_MIN));
}

// Joins [value] and the form of [element] with one "/" between them into a new value of
// [value]'s type; [value] itself is not changed. Paths cannot set into a URL.
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    if (set) error::raise(error::cat_script, error::script_bad_path_set, element, step.path ? step.path : &none_value);
    cell url = *value;
    uint32_t len = string::length_of(&url);
    uint32_t unit = string::unit_of(memory::buffer_of(url.w2));
    cell* joined = string::make_at_sized(stack::push_slot(), len + 16, unit);
    cell e = *element;
    form_element(&e, joined);
    bool url_slash = len > 0 && string::rs_abs_char_at(&url, url.w1 + len - 1) == '/';
    bool element_slash = !string::rs_tail_q(joined) && string::rs_abs_char_at(joined, 0) == '/';
    if (!url_slash && !element_slash) string::insert_char(joined->w2, 0, '/');
    else if (url_slash && element_slash) string::remove_char(joined, 0);
    string::insert_core(joined, &url, -1, 0, string::COPY_INSERT);
    cells::set_type(joined, url.type());
    *value = *joined;
    stack::pop(1);
    return value;
}

cell* open(cell* spec, bool new_, bool read, bool write, bool seek, const cell* allow) {
    open_port(spec);
    if (es.throw_code != THROW_NONE) return spec;
    return actions::open_typed(spec, new_, read, write, seek, allow);
}

// Refinements the HTTP service takes for a read: /binary, /lines and /info.
cell* read(cell* source, const cell* part, const cell* seek, bool binary, bool lines, bool info, const cell* as) {
    if (!is_http(source)) {
        open_port(source);
        if (es.throw_code != THROW_NONE) return source;
        return actions::read_typed(source, part, seek, binary, lines, info, as);
    }
    if (part || seek || as) not_done();
    return http_read(source, binary, lines, info);
}

// Refinements the HTTP service takes for a write: /binary, /lines and /info.
cell* write(cell* target, cell* data, bool binary, bool lines, bool info, bool append, const cell* part, const cell* seek,
            const cell* allow, const cell* as) {
    if (!is_http(target)) {
        open_port(target);
        if (es.throw_code != THROW_NONE) return target;
        return actions::write_typed(target, data, binary, lines, info, append, part, seek, allow, as);
    }
    if (append || part || seek || allow || as) not_done();
    check_request(data);
    return http_write(target, data, binary, lines, info);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        nullptr,               // random
        nullptr,               // reflect
        entry(&to),            // to
        ZYL_INHERIT,           // form
        entry(&mold),          // mold
        entry(&eval_path),     // eval-path
        nullptr,               // set-path
        ZYL_INHERIT,           // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        ZYL_INHERIT,           // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        ZYL_INHERIT,           // change
        ZYL_INHERIT,           // clear
        ZYL_INHERIT,           // copy
        ZYL_INHERIT,           // find
        ZYL_INHERIT,           // head
        ZYL_INHERIT,           // head?
        ZYL_INHERIT,           // index?
        ZYL_INHERIT,           // insert
        ZYL_INHERIT,           // length?
        ZYL_INHERIT,           // move
        ZYL_INHERIT,           // next
        ZYL_INHERIT,           // pick
        ZYL_INHERIT,           // poke
        nullptr,               // put
        ZYL_INHERIT,           // remove
        ZYL_INHERIT,           // reverse
        ZYL_INHERIT,           // select
        nullptr,               // sort
        ZYL_INHERIT,           // skip
        ZYL_INHERIT,           // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        ZYL_INHERIT,           // take
        nullptr,               // trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        entry(&open),          // open
        nullptr,               // open?
        nullptr,               // query
        entry(&read),          // read
        nullptr,               // rename
        nullptr,               // update
        entry(&write),         // write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_url, T_string, "url!", entries);
}

// }==

} // namespace zyl::url
