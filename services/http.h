// services/http.h: one synchronous HTTP request through libcurl, loaded on first use so that
// programs that never fetch a URL do not pay for loading it at start.
//
// The request carries exactly the headers given (libcurl adds only Host and Content-Length);
// redirects are followed here, up to 10 hops, between http and https only and never from
// https down to http. Plain bytes in and out; no run-time memory is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zyl::http {

using header_list = std::vector<std::pair<std::string, std::string>>;

struct request {
    std::string method; // upper case: GET and HEAD send no body
    std::string url;
    header_list headers;
    const uint8_t* body = nullptr; // must stay valid while the request runs
    size_t body_length = 0;
    size_t body_limit = SIZE_MAX; // a longer response body ends the request as too_large
};

struct response {
    long status = 0;
    header_list headers; // of the final response, in order
    std::vector<uint8_t> body;
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
