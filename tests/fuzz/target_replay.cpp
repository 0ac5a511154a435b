// tests/fuzz/target_replay.cpp: the replay driver of the fuzz targets that name their own
// fragments (replay_fragments): inputs mutated from the corpus by splicing those in, flipping,
// cutting and joining bytes, run by the loop of replay.h.
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

#include "replay.h"

// Defined by each target: its name, and pieces of its input language that random bytes rarely
// hit (NUL-terminated; "" stands for one NUL byte).
extern const char* const replay_target;
extern const char* const replay_fragments[];
extern const size_t replay_fragment_count;

namespace {

using zyl::fuzz::bytes;

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

int main(int argc, char** argv) { return zyl::fuzz::replay_main(argc, argv, mutate, 20260101, 20000, 45.0); }
