// tests/fuzz/replay.h: the replay loop of the fuzz targets' drivers for builds without
// libFuzzer: every file of a corpus folder, then inputs that the driver's [mutate] makes from
// them with a fixed seed, within a time budget; an input that takes longer than the
// per-input limit is a failure (no target may crawl on bad input).
// Usage of a driver: NAME CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace zyl::fuzz {

using bytes = std::vector<uint8_t>;
using mutator = bytes (*)(const std::vector<bytes>& corpus, std::mt19937_64& rng);

inline bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

// Runs one input; false when it took longer than [limit_ms].
inline bool run_timed(const bytes& b, double limit_ms) {
    auto t0 = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(b.data(), b.size());
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (ms <= limit_ms) return true;
    std::fprintf(stderr, "an input of %zu bytes took %.0f ms (limit %.0f)\n", b.size(), ms, limit_ms);
    return false;
}

// The driver's main: [default_inputs] and [default_seconds] when the command line omits them.
inline int replay_main(int argc, char** argv, mutator mutate, uint64_t seed, long default_inputs,
                       double default_seconds) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]\n", argv[0]);
        return 2;
    }
    long inputs = argc > 2 ? std::atol(argv[2]) : default_inputs;
    double budget = argc > 3 ? std::atof(argv[3]) : default_seconds;
    double limit_ms = argc > 4 ? std::atof(argv[4]) : 1e12; // no limit unless asked
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1]))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<bytes> corpus;
    for (const auto& f : files) {
        corpus.push_back(read_file(f));
        if (!run_timed(corpus.back(), limit_ms)) return 1;
    }
    std::mt19937_64 rng(seed);
    auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; done < inputs; done++) {
        if (!run_timed(mutate(corpus, rng), limit_ms)) return 1;
        if (done % 64 == 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > budget)
            break;
    }
    std::printf("%s: %zu corpus files and %ld generated inputs, no failure\n", argv[0], files.size(), done);
    return 0;
}

} // namespace zyl::fuzz
