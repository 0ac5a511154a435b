// tests/fuzz/target_replay.cpp: a replay driver for the fuzz targets, for builds without libFuzzer:
// runs every file of a corpus folder, then inputs mutated from them with a fixed seed (the
// target's fragments spliced in, bytes flipped, cut and joined), within a time budget.
// Usage: zyl-<target>-replay CORPUS_DIR [INPUTS [SECONDS]]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Defined by each target: its name, and pieces of its input language that random bytes rarely
// hit (NUL-terminated; "" stands for one NUL byte).
extern const char* const replay_target;
extern const char* const replay_fragments[];
extern const size_t replay_fragment_count;

namespace {

using bytes = std::vector<uint8_t>;

bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

bytes mutate(const std::vector<bytes>& corpus, std::mt19937_64& rng) {
    bytes b = corpus.empty() ? bytes{} : corpus[rng() % corpus.size()];
    int steps = 1 + int(rng() % 8);
    for (int i = 0; i < steps; i++) {
        size_t at = b.empty() ? 0 : rng() % (b.size() + 1);
        switch (rng() % 5) {
        case 0: { // a fragment of the syntax
            const char* f = replay_fragments[rng() % replay_fragment_count];
            size_t n = *f ? std::char_traits<char>::length(f) : 1;
            b.insert(b.begin() + long(at), f, f + n);
            break;
        }
        case 1: // a random byte
            b.insert(b.begin() + long(at), uint8_t(rng()));
            break;
        case 2: // a byte changed
            if (!b.empty()) b[rng() % b.size()] = uint8_t(rng());
            break;
        case 3: // a stretch cut
            if (!b.empty()) b.erase(b.begin() + long(at % b.size()), b.begin() + long(std::min(b.size(), at % b.size() + rng() % 8)));
            break;
        default: { // a piece of another input
            if (corpus.empty()) break;
            const bytes& o = corpus[rng() % corpus.size()];
            if (o.empty()) break;
            size_t from = rng() % o.size();
            size_t n = std::min(o.size() - from, size_t(rng() % 64));
            b.insert(b.begin() + long(at), o.begin() + long(from), o.begin() + long(from + n));
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
    long inputs = argc > 2 ? std::atol(argv[2]) : 20000;
    double budget = argc > 3 ? std::atof(argv[3]) : 45.0;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1]))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<bytes> corpus;
    for (const auto& f : files) {
        corpus.push_back(read_file(f));
        LLVMFuzzerTestOneInput(corpus.back().data(), corpus.back().size());
    }
    std::mt19937_64 rng(20260101);
    auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; done < inputs; done++) {
        bytes b = mutate(corpus, rng);
        LLVMFuzzerTestOneInput(b.data(), b.size());
        if (done % 256 == 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > budget)
            break;
    }
    std::printf("%s replay: %zu corpus files and %ld generated inputs, no failure\n", replay_target, files.size(), done);
    return 0;
}
