// tests/fuzz/codec_replay.cpp: the replay driver of the codec fuzz targets (see replay.h):
// inputs mutated from the corpus by flipped bits, changed bytes, cuts, repeats and splices.
// Usage: zyl-<codec>-replay CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]
#include "tests/fuzz/replay.h"

namespace {

using zyl::fuzz::bytes;

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

} // namespace

int main(int argc, char** argv) { return zyl::fuzz::replay_main(argc, argv, mutate, 20261211, 20000, 45.0); }
