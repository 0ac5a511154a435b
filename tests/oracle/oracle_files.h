// tests/oracle/oracle_files.h: what the codec oracle tests share: noise from a seed, files
// written and read whole, a temporary folder removed afterwards, and shell commands.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace zyl::oracle {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

inline bytes noise(size_t n, std::mt19937& rng) {
    bytes b(n);
    for (auto& c : b) c = uint8_t(rng());
    return b;
}

// Text of [n] bytes made of [words], picked at random.
inline bytes text(size_t n, std::mt19937& rng, const std::vector<const char*>& words) {
    std::string s;
    while (s.size() < n) s += words[rng() % words.size()];
    s.resize(n);
    return bytes(s.begin(), s.end());
}

// Text and binary in stretches of a few kilobytes, with repeats [back] bytes behind.
inline bytes mixed(size_t n, std::mt19937& rng, const std::vector<const char*>& words, size_t back) {
    bytes b;
    while (b.size() < n) {
        size_t k = 1000 + rng() % 8000;
        bytes piece = rng() % 3 == 0 ? noise(k, rng) : text(k, rng, words);
        if (b.size() > back / 3 * 4 && rng() % 4 == 0) piece.assign(b.end() - long(back), b.end() - long(back) + long(k));
        b.insert(b.end(), piece.begin(), piece.end());
    }
    b.resize(n);
    return b;
}

inline void write_file(const fs::path& p, const bytes& b) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline bytes read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), {});
}

struct temp_dir {
    fs::path path;
    temp_dir() {
        char tmpl[] = "/tmp/zyl-oracle-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~temp_dir() { fs::remove_all(path); }
};

inline int run(const std::string& command) { return std::system(command.c_str()); }

} // namespace zyl::oracle
