// tests/fuzz/codec_replay.cpp: a replay driver for the codec fuzz targets, for builds without
// libFuzzer: runs every file of a corpus folder, then inputs mutated from them with a fixed
// seed (bytes flipped, cut, repeated and spliced), within a time budget; any one input that
// takes longer than the per-input limit is a failure (a codec must not crawl on bad data).
// Usage: zyl-<codec>-replay CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]
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

namespace {

using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

bytes mutate(const std::vector<bytes>& corpus, std::mt19937_64& rng) {
    bytes b = corpus.empty() ? bytes{0} : corpus[rng() % corpus.size()];
    int steps = 1 + int(rng() % 4);
    for (int i = 0; i < steps; i++) {
        size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 6) {
        case 0: // one bit flipped: most decoders fail deep inside the stream
            if (!b.empty()) b[at] ^= uint8_t(1u << (rng() % 8));
            break;
        case 1: // a byte changed
            if (!b.empty()) b[at] = uint8_t(rng());
            break;
        case 2: // cut short
            b.resize(at);
            break;
        case 3: // a stretch repeated
            if (!b.empty()) {
                size_t n = std::min(b.size() - at, size_t(rng() % 64));
                bytes piece(b.begin() + long(at), b.begin() + long(at + n));
                b.insert(b.begin() + long(at), piece.begin(), piece.end());
            }
            break;
        case 4: // a piece of another input
            if (!corpus.empty()) {
                const bytes& o = corpus[rng() % corpus.size()];
                if (o.empty()) break;
                size_t from = rng() % o.size(), n = std::min(o.size() - from, size_t(rng() % 256));
                b.insert(b.begin() + long(at), o.begin() + long(from), o.begin() + long(from + n));
            }
            break;
        default: // the mode byte changed
            if (!b.empty()) b[0] = uint8_t(rng());
        }
    }
    return b;
}

// Runs one input; false when it took longer than [limit_ms].
bool run(const bytes& b, double limit_ms) {
    auto t0 = clock_type::now();
    LLVMFuzzerTestOneInput(b.data(), b.size());
    double ms = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
    if (ms <= limit_ms) return true;
    std::fprintf(stderr, "an input of %zu bytes took %.0f ms (limit %.0f)\n", b.size(), ms, limit_ms);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]\n", argv[0]);
        return 2;
    }
    long inputs = argc > 2 ? std::atol(argv[2]) : 20000;
    double budget = argc > 3 ? std::atof(argv[3]) : 45.0;
    double limit_ms = argc > 4 ? std::atof(argv[4]) : 5000.0;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1]))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<bytes> corpus;
    for (const auto& f : files) {
        corpus.push_back(read_file(f));
        if (!run(corpus.back(), limit_ms)) return 1;
    }
    std::mt19937_64 rng(20261211);
    auto start = clock_type::now();
    long done = 0;
    for (; done < inputs; done++) {
        if (!run(mutate(corpus, rng), limit_ms)) return 1;
        if (done % 64 == 0 && std::chrono::duration<double>(clock_type::now() - start).count() > budget) break;
    }
    std::printf("%s: %zu corpus files and %ld generated inputs, no failure\n", argv[0], files.size(), done);
    return 0;
}
