// services/http.h: one synchronous HTTP request through libcurl, loaded on first use so that
// programs that never fetch a URL do not pay for loading it at start.
//
// The request carries exactly the headers given (libcurl adds only Host and Content-Length);
// redirects are followed here, up to 10 hops, between http and https only and never from
// https down to http. The request goes out from plain bytes; the response body goes to a
// sink of the caller's, so that a big body lands in its final buffer without a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zyl::http {

using header_list = std::vector<std::pair<std::string, std::string>>;

// Where the response body goes. Called from inside libcurl: no member may raise.
struct body_sink {
    virtual void reserve(size_t n) = 0; // before the first bytes, when the length is announced
    virtual void append(const uint8_t* p, size_t n) = 0;
    virtual void clear() = 0;           // a redirect hop's body is dropped
    virtual ~body_sink() = default;
};

struct request {
    std::string method; // upper case: GET and HEAD send no body
    std::string url;
    header_list headers;
    const uint8_t* body = nullptr; // must stay valid while the request runs
    size_t body_length = 0;
    size_t body_limit = SIZE_MAX; // a longer response body ends the request as too_large
    body_sink* sink = nullptr;    // the response body (required)
};

struct response {
    long status = 0;
    header_list headers; // of the final response, in order
    size_t body_length = 0;
};

enum class outcome { ok, no_connect, too_large, unavailable };

// Performs [rq] into [rs]. Any status is a response; a failure to connect, resolve, verify
// TLS or finish in time, or a redirect loop, is no_connect; no libcurl is unavailable.
outcome perform(const request& rq, response& rs);

// The header fields of raw response header text [text]: each status line starts the list
// anew (a redirect hop or an interim response), "name: value" lines give their trimmed
// pair, lines may end in CR LF or LF and the last need not end; other lines are skipped.
header_list parse_headers(std::string_view text);

// [url] with every byte that may not stand in a URL as it is (controls, blanks, "\"", "<",
// ">", "\\", "^", "`", "{", "|", "}" and all from 128 up) written as %XX.
std::string escape_url(std::string_view url);

} // namespace zyl::http
