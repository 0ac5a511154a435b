// tests/fuzz/image_replay.cpp: a replay driver for the image decoders' fuzz targets, for
// builds without libFuzzer: runs every file of a corpus folder, then inputs mutated from them
// with a fixed seed (bytes flipped, inserted, cut, runs of 0 and 255, pieces of other files),
// within a count and a time budget.
// Usage: zyl-image-replay-FORMAT CORPUS_DIR [INPUTS [SECONDS]]
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

bytes mutate(const std::vector<bytes>& corpus, std::mt19937_64& rng) {
    bytes b = corpus[rng() % corpus.size()];
    int steps = 1 + int(rng() % 6);
    for (int i = 0; i < steps; i++) {
        size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 6) {
        case 0: if (!b.empty()) b[at] = uint8_t(rng()); break;
        case 1: if (!b.empty()) b[at] ^= uint8_t(1u << (rng() % 8)); break;
        case 2: b.insert(b.begin() + long(at), uint8_t(rng())); break;
        case 3: if (!b.empty()) b.resize(at); break;
        case 4: // a run of 0 or 255: sizes, counts and offsets at their extremes
            for (size_t k = 0, n = 1 + rng() % 4; k < n && at + k < b.size(); k++) b[at + k] = rng() & 1 ? 0xFF : 0;
            break;
        default: {
            const bytes& o = corpus[rng() % corpus.size()];
            if (o.empty()) break;
            size_t from = rng() % o.size();
            size_t n = std::min(o.size() - from, size_t(rng() % 64));
            b.insert(b.begin() + long(std::min(at, b.size())), o.begin() + long(from), o.begin() + long(from + n));
        }
        }
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [INPUTS [SECONDS]]\n", argv[0]);
        return 2;
    }
    std::vector<bytes> corpus;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(e.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "empty corpus %s\n", argv[1]);
        return 2;
    }
    for (const bytes& b : corpus) LLVMFuzzerTestOneInput(b.data(), b.size());
    long inputs = argc > 2 ? std::atol(argv[2]) : 20000;
    double seconds = argc > 3 ? std::atof(argv[3]) : 30;
    std::mt19937_64 rng(35);
    auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; done < inputs; done++) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds) break;
        bytes b = mutate(corpus, rng);
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    std::printf("%zu corpus files, %ld mutated inputs\n", corpus.size(), done);
    return 0;
}
