// services/clipboard.cpp: the clipboard backends: the Wayland and X11 tools run as child
// processes with a time limit, and the clipboard a process keeps without a display.
#include "services/clipboard.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "services/process.h"

namespace zyl::clipboard {

namespace {

// {== Internal functions

enum class backend { wayland, x11, own };

// What the clipboard tools may take before the clipboard counts as unreachable.
constexpr int TOOL_TIMEOUT_MS = 2000;
constexpr size_t OSC52_LIMIT = 100 * 1024;

// The clipboard of a process without a display.
content own;

// What each kind is offered as, and read from, in order of preference.
constexpr const char* TEXT_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};
constexpr const char* URI_LIST = "text/uri-list";
constexpr const char* IMAGE_TYPES[] = {"image/png", "image/jpeg", "image/gif"};

bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

backend current() {
    if (set("WAYLAND_DISPLAY") && process::on_path("wl-copy") && process::on_path("wl-paste")) return backend::wayland;
    if (set("DISPLAY") && process::on_path("xclip")) return backend::x11;
    return backend::own;
}

// Runs a clipboard tool; [out] (or null) receives its standard output. A tool that writes
// the clipboard stays behind to serve it: its output goes to /dev/null, so that nothing here
// waits for that owner to end.
bool run_tool(std::vector<std::string> argv, std::string_view input, std::vector<uint8_t>* out, int* status) {
    process::spec s;
    s.argv = std::move(argv);
    s.wait = true;
    s.timeout_ms = TOOL_TIMEOUT_MS;
    if (!input.empty()) {
        s.in.kind = process::stream_kind::bytes;
        s.in.data = reinterpret_cast<const uint8_t*>(input.data());
        s.in.length = input.size();
    }
    if (out) s.out.kind = process::stream_kind::bytes;
    process::result r = process::run(s);
    if (r.how != process::outcome::exited) return false;
    if (out) *out = std::move(r.out);
    *status = r.status;
    return true;
}

// The types the desktop clipboard offers; false when the tool failed to answer.
bool offered(backend b, std::vector<std::string>& types) {
    std::vector<uint8_t> bytes;
    int status = 0;
    std::vector<std::string> argv = b == backend::wayland
                                        ? std::vector<std::string>{"wl-paste", "--list-types"}
                                        : std::vector<std::string>{"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"};
    if (!run_tool(argv, {}, &bytes, &status)) return false;
    if (status != 0) return true; // an empty clipboard has no types to list
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) types.emplace_back(line);
        text.remove_prefix(lf == text.npos ? text.size() : lf + 1);
    }
    return true;
}

bool paste(backend b, const std::string& type, std::vector<uint8_t>& bytes) {
    int status = 0;
    std::vector<std::string> argv = b == backend::wayland
                                        ? std::vector<std::string>{"wl-paste", "--no-newline", "--type", type}
                                        : std::vector<std::string>{"xclip", "-selection", "clipboard", "-o", "-t", type};
    return run_tool(argv, {}, &bytes, &status) && status == 0;
}

bool copy(backend b, const char* type, std::string_view data) {
    int status = 0;
    std::vector<std::string> argv;
    if (b == backend::wayland) {
        argv = type ? std::vector<std::string>{"wl-copy", "--type", type} : std::vector<std::string>{"wl-copy", "--clear"};
    } else {
        // xclip has no way to empty the clipboard: it offers empty text instead.
        argv = {"xclip", "-selection", "clipboard", "-i", "-t", type ? type : TEXT_TYPES[0]};
    }
    return run_tool(argv, data, nullptr, &status) && status == 0;
}

bool read_desktop(backend b, content& c) {
    std::vector<std::string> types;
    if (!offered(b, types)) return false;
    auto has = [&](const char* t) { return std::find(types.begin(), types.end(), t) != types.end(); };
    std::vector<uint8_t> bytes;
    for (const char* t : TEXT_TYPES) {
        if (!has(t)) continue;
        if (!paste(b, t, bytes)) return false;
        c.what = kind::text;
        c.text.assign(bytes.begin(), bytes.end());
        return true;
    }
    if (has(URI_LIST)) {
        if (!paste(b, URI_LIST, bytes)) return false;
        c.what = kind::files;
        c.files = from_uri_list(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return true;
    }
    for (const char* t : IMAGE_TYPES) {
        if (!has(t)) continue;
        if (!paste(b, t, c.image)) return false;
        c.what = kind::image;
        return true;
    }
    c.what = kind::empty;
    return true;
}

bool write_desktop(backend b, const content& c) {
    auto bytes = [](const auto& v) { return std::string_view(reinterpret_cast<const char*>(v.data()), v.size()); };
    switch (c.what) {
    case kind::empty: return copy(b, nullptr, {});
    case kind::text: return copy(b, TEXT_TYPES[0], c.text);
    case kind::files: return copy(b, URI_LIST, to_uri_list(c.files));
    case kind::image: return copy(b, IMAGE_TYPES[0], bytes(c.image));
    }
    return false;
}

std::string base64(std::string_view in) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8 | uint8_t(in[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += digits[(v >> s) & 63];
    }
    if (i < in.size()) {
        uint32_t v = uint32_t(uint8_t(in[i])) << 16 | (i + 1 < in.size() ? uint32_t(uint8_t(in[i + 1])) << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < in.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

inline int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// }==

} // namespace

std::string to_uri_list(const std::vector<std::string>& paths) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const std::string& p : paths) {
        out += "file://";
        for (char ch : p) {
            uint8_t b = uint8_t(ch);
            if (std::isalnum(b) || std::strchr("/-._~!$&'()*+,;=:@", ch)) {
                out += ch;
            } else {
                out += '%';
                out += hex[b >> 4];
                out += hex[b & 15];
            }
        }
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> from_uri_list(std::string_view list) {
    std::vector<std::string> paths;
    while (!list.empty()) {
        size_t lf = list.find('\n');
        std::string_view line = list.substr(0, lf);
        list.remove_prefix(lf == list.npos ? list.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.starts_with("file://")) continue; // comments, blank lines, other schemes
        line.remove_prefix(7);
        size_t slash = line.find('/');
        if (slash == line.npos) continue;
        std::string_view host = line.substr(0, slash);
        if (!host.empty() && host != "localhost") continue; // another machine's file
        line.remove_prefix(slash);
        std::string path;
        for (size_t i = 0; i < line.size(); i++) {
            int hi, lo;
            if (line[i] == '%' && i + 2 < line.size() && (hi = hex_value(line[i + 1])) >= 0 &&
                (lo = hex_value(line[i + 2])) >= 0) {
                path += char(hi << 4 | lo);
                i += 2;
            } else {
                path += line[i];
            }
        }
        if (path.find('\0') == path.npos) paths.push_back(std::move(path));
    }
    return paths;
}

std::string osc52(std::string_view text) {
    std::string encoded = base64(text);
    if (encoded.size() > OSC52_LIMIT) return {};
    return "\x1b]52;c;" + encoded + "\x07";
}

bool read(content& c) {
    backend b = current();
    if (b != backend::own) return read_desktop(b, c);
    c = own;
    return true;
}

bool write(const content& c) {
    backend b = current();
    if (b != backend::own) return write_desktop(b, c);
    own = c;
    if (c.what == kind::text && ::isatty(STDOUT_FILENO)) {
        std::string seq = osc52(c.text);
        for (size_t done = 0; done < seq.size();) {
            ssize_t w = ::write(STDOUT_FILENO, seq.data() + done, seq.size() - done);
            if (w <= 0) break;
            done += size_t(w);
        }
    }
    return true;
}

} // namespace zyl::clipboard
