// services/http.cpp: HTTP requests over libcurl, found with dlopen at the first request; the
// redirect walk, the header list sent and the parsing of the response's header text.
#include "services/http.h"

#include <algorithm>
#include <cstring>

#include <curl/curl.h>
#include <dlfcn.h>

namespace zyl::http {

namespace {

// {== libcurl, loaded once

struct curl_api {
    bool loaded = false;
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_reset) easy_reset;
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    CURL* handle = nullptr; // kept between requests, so its connections can be reused
};

curl_api api;

bool load_curl() {
    if (api.loaded) return api.handle != nullptr;
    api.loaded = true;
    void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
    auto sym = [&](auto& f, const char* name) {
        f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(lib, name));
        return f != nullptr;
    };
    bool ok = sym(api.global_init, "curl_global_init") && sym(api.easy_init, "curl_easy_init") &&
              sym(api.easy_reset, "curl_easy_reset") && sym(api.easy_setopt, "curl_easy_setopt") &&
              sym(api.easy_getinfo, "curl_easy_getinfo") && sym(api.easy_perform, "curl_easy_perform") &&
              sym(api.slist_append, "curl_slist_append") && sym(api.slist_free_all, "curl_slist_free_all");
    if (!ok || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return false;
    api.handle = api.easy_init();
    return api.handle != nullptr;
}

// }==
// {== Internal functions

struct transfer {
    CURL* handle;
    body_sink* sink;
    size_t received;
    std::string headers;
    size_t limit;
    bool too_large = false;
};

size_t on_body(char* p, size_t size, size_t n, void* user) {
    auto* t = static_cast<transfer*>(user);
    size_t bytes = size * n;
    if (t->received + bytes > t->limit) {
        t->too_large = true;
        return 0;
    }
    if (t->received == 0) { // a body of announced length is received without growing
        curl_off_t announced = -1;
        api.easy_getinfo(t->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0 && uint64_t(announced) <= t->limit) t->sink->reserve(size_t(announced));
    }
    t->sink->append(reinterpret_cast<const uint8_t*>(p), bytes);
    t->received += bytes;
    return bytes;
}

size_t on_header(char* p, size_t size, size_t n, void* user) {
    static_cast<transfer*>(user)->headers.append(p, size * n);
    return size * n;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && same_name(text.substr(0, prefix.size()), prefix);
}

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The header list libcurl sends: the pairs as given, and the removal of each header it would
// add on its own that the pairs do not name.
curl_slist* header_slist(const header_list& headers) {
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers) {
        // "Name;" is libcurl's spelling of a header sent with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = api.slist_append(list, line.c_str());
    }
    for (const char* own : {"Accept", "Expect", "Content-Type"}) {
        bool named = std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return same_name(h.first, own); });
        if (!named) list = api.slist_append(list, (std::string(own) + ":").c_str());
    }
    return list;
}

bool is_redirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// }==

} // namespace

header_list parse_headers(std::string_view text) {
    header_list out;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            out.clear();
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view name = trim(line.substr(0, colon));
        if (name.empty()) continue;
        out.emplace_back(std::string(name), std::string(trim(line.substr(colon + 1))));
    }
    return out;
}

std::string escape_url(std::string_view url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (char ch : url) {
        uint8_t b = uint8_t(ch);
        if (b <= 0x20 || b >= 0x7F || std::strchr("\"<>\\^`{|}", ch)) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

outcome perform(const request& rq, response& rs) {
    if (!load_curl()) return outcome::unavailable;
    CURL* h = api.handle;
    curl_slist* list = header_slist(rq.headers);
    std::string url = escape_url(rq.url);
    std::string method = rq.method;
    bool send_body = method != "GET" && method != "HEAD";
    outcome result = outcome::no_connect;
    for (int hop = 0; hop <= 10; hop++) {
        rq.sink->clear();
        transfer t{h, rq.sink, 0, {}, rq.body_limit};
        api.easy_reset(h);
        api.easy_setopt(h, CURLOPT_URL, url.c_str());
        api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        api.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
        api.easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        api.easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
        api.easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024); // fewer, larger hand-overs of big bodies
        api.easy_setopt(h, CURLOPT_HTTPHEADER, list);
        api.easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
        api.easy_setopt(h, CURLOPT_WRITEDATA, &t);
        api.easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
        api.easy_setopt(h, CURLOPT_HEADERDATA, &t);
        if (method == "HEAD") {
            api.easy_setopt(h, CURLOPT_NOBODY, 1L);
        } else if (method == "GET") {
            api.easy_setopt(h, CURLOPT_HTTPGET, 1L);
        } else {
            if (method != "POST") api.easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
            api.easy_setopt(h, CURLOPT_POST, 1L);
            api.easy_setopt(h, CURLOPT_POSTFIELDS, send_body && rq.body ? reinterpret_cast<const char*>(rq.body) : "");
            api.easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(send_body ? rq.body_length : 0));
        }
        CURLcode code = api.easy_perform(h);
        if (code != CURLE_OK) {
            result = t.too_large ? outcome::too_large : outcome::no_connect;
            break;
        }
        api.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &rs.status);
        char* next = nullptr;
        api.easy_getinfo(h, CURLINFO_REDIRECT_URL, &next);
        if (!is_redirect(rs.status) || !next) {
            rs.headers = parse_headers(t.headers);
            rs.body_length = t.received;
            result = outcome::ok;
            break;
        }
        if (hop == 10) break; // one hop too many: a loop, or a chain as bad as one
        std::string target = next;
        // A redirect may leave the web, or fall from https back to plain http: neither is followed.
        bool secure = starts_with_nocase(url, "https:");
        if (!(starts_with_nocase(target, "https:") || (!secure && starts_with_nocase(target, "http:")))) break;
        url = target;
        if (rs.status == 303 ? method != "HEAD" : (rs.status <= 302 && method == "POST")) {
            method = "GET";
            send_body = false;
        }
    }
    api.slist_free_all(list);
    if (result != outcome::ok) rq.sink->clear();
    return result;
}

} // namespace zyl::http
