// datatypes/url_http.cpp: the http branch of url! read and write: the request a value
// describes, sent through the HTTP service (services/http.h), and the response as a value.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/files.h"
#include "services/http.h"

namespace zyl::url {

namespace {

// {== Internal functions

inline cell element(const cell* b, uint32_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(b->w2)->head)[b->w1 + i];
}

inline uint32_t count_of(const cell* b) {
    uint64_t total = series::length(b->w2);
    return b->w1 < total ? uint32_t(total - b->w1) : 0;
}

[[noreturn]] void invalid(const cell* v) { error::raise(error::cat_script, error::script_invalid_arg, v); }

// The text of a header name or value: a word's name, a string's text, else the formed value.
std::string header_text(const cell* v) {
    if (word::any_word_type_q(v->type())) return symbol::c_name(v->w2);
    if (v->type() == T_string) return string::utf8_of(v);
    cell* out = string::push_new(16);
    actions::form_typed(v, out, nullptr, INT32_MAX);
    std::string text = string::utf8_of(out);
    stack::pop(1);
    return text;
}

// A CR, LF or NUL would end a header line early and let the text write a request of its own.
inline bool breaks_line(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

// The pairs of header block [b] from its index; a name without a value, an empty name or one
// holding a colon or a blank, and a line break anywhere raise invalid-arg before anything
// is sent.
http::header_list headers_of(const cell* b) {
    uint32_t n = count_of(b);
    if (n % 2) invalid(b);
    http::header_list list;
    for (uint32_t i = 0; i < n; i += 2) {
        cell name = element(b, i), value = element(b, i + 1);
        std::string k = header_text(&name), v = header_text(&value);
        if (k.empty() || breaks_line(k) || k.find_first_of(": \t") != k.npos) invalid(&name);
        if (breaks_line(v)) invalid(&value);
        list.emplace_back(std::move(k), std::move(v));
    }
    return list;
}

void default_headers(http::header_list& h) {
    h = {{"Content-Type", "application/x-www-form-urlencoded"},
         {"Accept-Charset", "UTF-8"},
         {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
}

// Raises access invalid-utf8 with [url] unless [p, p + n) is UTF-8.
void check_utf8(const uint8_t* p, size_t n, const cell* url) {
    const uint8_t* end = p + n;
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        p = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) error::raise(error::cat_access, error::access_invalid_utf8, url);
    }
}

// A block of the response's header pairs as a map!: each name a word, matched without regard
// to case; a name given more than once holds a block of its values in order.
cell* push_header_map(const http::header_list& headers) {
    cell* pairs = block::push_new(int32_t(headers.size() * 2 + 1));
    std::vector<std::pair<std::string, std::vector<const std::string*>>> names;
    for (const auto& header : headers) {
        const std::string& k = header.first;
        const std::string& v = header.second;
        auto same = [&](const auto& e) {
            return std::equal(e.first.begin(), e.first.end(), k.begin(), k.end(),
                              [](char a, char b) { return std::tolower(uint8_t(a)) == std::tolower(uint8_t(b)); });
        };
        auto at = std::find_if(names.begin(), names.end(), same);
        if (at == names.end()) names.push_back({k, {&v}});
        else at->second.push_back(&v);
    }
    for (const auto& [k, values] : names) {
        cell w = word::load(k.c_str());
        block::append_value(pairs, &w);
        if (values.size() == 1) {
            string::from_utf8(stack::push_slot(), *values[0]);
        } else {
            cell* list = block::push_new(int32_t(values.size()));
            for (const std::string* v : values) {
                string::from_utf8(stack::push_slot(), *v);
                block::append_value(list, stack::top());
                stack::pop(1);
            }
        }
        block::append_value(pairs, stack::top());
        stack::pop(1);
    }
    cell* m = stack::push_slot();
    map::make_at(m, pairs, 0);
    return m;
}

// A response body received straight into a binary! on the stack. The binary is re-read at
// every call, as appending may move it. Memory failures end the process rather than raise,
// so nothing here unwinds through libcurl.
struct binary_sink final : http::body_sink {
    cell* out;
    explicit binary_sink(cell* c) : out(c) { binary::make_at(out, 1); }
    void reserve(size_t n) override {
        if (binary::rs_length_q(out) == 0) binary::make_at(out, uint32_t(n));
    }
    void append(const uint8_t* p, size_t n) override { binary::append_bytes(out, p, uint32_t(n)); }
    void clear() override { binary::rs_clear(out); }
};

// Sends [rq] for [url] and makes [out] the response as read asks for it.
cell* send(const cell* url, http::request& rq, bool binary, bool lines, bool info, cell* out) {
    rq.url = string::utf8_of(url);
    rq.body_limit = MAX_BUFFER_BYTES;
    cell* body = stack::push_slot();
    binary_sink sink(body);
    rq.sink = &sink;
    http::response rs;
    http::outcome how = http::perform(rq, rs);
    if (how == http::outcome::too_large) {
        error::raise(error::cat_internal, error::internal_limit_hit, url);
    } else if (how == http::outcome::unavailable) {
        cell name = word::load("HTTP");
        error::raise(error::cat_internal, error::internal_not_here, &name);
    } else if (how != http::outcome::ok) {
        error::raise(error::cat_access, error::access_no_connect, url);
    }
    if (!binary) { // text and lines are decoded from a copy outside the series
        std::vector<uint8_t> bytes(binary::head_pointer(body), binary::head_pointer(body) + rs.body_length);
        if (!lines) check_utf8(bytes.data(), bytes.size(), url);
        files::bytes_to_value(bytes.data(), bytes.size(), false, lines, body);
    }
    if (!info) {
        *out = *body;
        stack::pop(1);
        return out;
    }
    block::make_at(out, 3);
    cell status = integer::make_value(int32_t(rs.status));
    block::append_value(out, &status);
    block::append_value(out, push_header_map(rs.headers));
    stack::pop(2);
    block::append_value(out, body);
    stack::pop(1);
    return out;
}

// The bytes of body [v] into [rq], copied into [text] so that nothing the request does can
// move them: a binary!'s as they are, a text's as UTF-8, a block formed.
void set_body(const cell* v, http::request& rq, std::string& text) {
    if (v->type() == T_binary) {
        cell* b = const_cast<cell*>(v);
        text.assign(reinterpret_cast<const char*>(binary::head_pointer(b)), binary::rs_length_q(b));
    } else {
        text = header_text(v);
    }
    rq.body = reinterpret_cast<const uint8_t*>(text.data());
    rq.body_length = text.size();
}

// }==

} // namespace

cell* http_read(cell* source, bool binary, bool lines, bool info) {
    http::request rq;
    rq.method = "GET";
    default_headers(rq.headers);
    cell* out = stack::push_slot();
    send(source, rq, binary, lines, info, out);
    *source = *out;
    stack::pop(1);
    return source;
}

cell* http_write(cell* target, cell* data, bool binary, bool lines, bool info) {
    http::request rq;
    std::string text;
    if (data->type() != T_block) {
        rq.method = "POST";
        default_headers(rq.headers);
        set_body(data, rq, text);
    } else if (count_of(data) == 0) {
        rq.method = "GET";
        default_headers(rq.headers);
    } else {
        cell method = element(data, 0);
        rq.method = symbol::c_name(method.w2);
        if (breaks_line(rq.method) || rq.method.find_first_of(" \t") != std::string::npos) invalid(&method);
        std::transform(rq.method.begin(), rq.method.end(), rq.method.begin(),
                       [](char c) { return char(std::toupper(uint8_t(c))); });
        cell headers = element(data, 1);
        rq.headers = headers_of(&headers);
        if (count_of(data) > 2) {
            cell body = element(data, 2);
            set_body(&body, rq, text);
        }
    }
    cell* out = stack::push_slot();
    send(target, rq, binary, lines, info, out);
    *target = *out;
    stack::pop(1);
    return target;
}

} // namespace zyl::url
