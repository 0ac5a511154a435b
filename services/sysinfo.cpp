// services/sysinfo.cpp: the command line text, the environment's pairs, the architecture
// word and distribution name of os-info, and the type guard. Interface: services/sysinfo.h.
#include "services/sysinfo.h"

#include <cstring>

#include "runtime/error.h"

namespace zyl::sysinfo {

std::string command_line(int argc, const char* const* argv) {
    std::string out;
    for (int i = 0; i < argc; i++) {
        std::string_view a = argv[i];
        if (i > 0) out += ' ';
        bool quote = a.empty() || a.find_first_of(" \t") != std::string_view::npos;
        if (quote) out += '"';
        out += a;
        if (quote) out += '"';
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> environment(const char* const* env) {
    std::vector<std::pair<std::string, std::string>> out;
    for (; env && *env; env++) {
        const char* entry = *env;
        const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
        if (!eq) continue;
        out.emplace_back(std::string(entry, size_t(eq - entry)), std::string(eq + 1));
    }
    return out;
}

const char* arch_word(std::string_view m) {
    if (m == "x86_64" || m == "amd64") return "x86-64";
    if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return "x86-32";
    if (m == "aarch64" || m == "arm64" || m == "aarch64_be") return "ARM64";
    if (m.substr(0, 3) == "arm") return "ARM";
    if (m == "ia64") return "IA-64";
    return "Unknown";
}

std::string pretty_name(std::string_view text) {
    constexpr std::string_view KEY = "PRETTY_NAME=";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, KEY.size()) != KEY) continue;
        std::string_view v = line.substr(KEY.size());
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        std::string out;
        for (size_t i = 0; i < v.size(); i++) { // shell escapes: a backslash keeps the next character
            if (v[i] == '\\' && i + 1 < v.size()) i++;
            out += v[i];
        }
        return out;
    }
    return {};
}

void expect_type(const cell* value, uint8_t type) {
    if (value->type() != type) error::raise(error::cat_script, error::script_invalid_arg, value);
}

} // namespace zyl::sysinfo
