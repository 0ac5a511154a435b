// bench/codec_samples.h: the compression benchmarks' inputs, made once from fixed seeds:
// 100 MB of text and 100 MB of text and binary in stretches of a few kilobytes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zyl::bench {

using bytes = std::vector<uint8_t>;
inline constexpr size_t SIZE = 100u << 20;

inline bytes make_text(size_t n, std::mt19937& rng) {
    static const char* words[] = {"compress ", "the ",   "window ", "of ",     "bytes ", "and ",   "match\n",
                                  "longest ",  "runs; ", "zyl ",    "block ",  "42 ",    "value: ", "[a b] "};
    std::string s;
    s.reserve(n + 16);
    while (s.size() < n) s += words[rng() % std::size(words)];
    s.resize(n);
    return bytes(s.begin(), s.end());
}

inline bytes make_mixed(size_t n, std::mt19937& rng) {
    bytes b;
    b.reserve(n);
    while (b.size() < n) {
        size_t k = 1000 + rng() % 8000;
        if (rng() % 3 == 0) {
            for (size_t i = 0; i < k; i++) b.push_back(uint8_t(rng()));
        } else {
            bytes t = make_text(k, rng);
            b.insert(b.end(), t.begin(), t.end());
        }
    }
    b.resize(n);
    return b;
}

inline const bytes& sample(int which) {
    static const bytes text = [] {
        std::mt19937 rng(1);
        return make_text(SIZE, rng);
    }();
    static const bytes mixed = [] {
        std::mt19937 rng(2);
        return make_mixed(SIZE, rng);
    }();
    return which ? mixed : text;
}

} // namespace zyl::bench
