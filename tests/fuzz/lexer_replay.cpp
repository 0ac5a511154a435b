// tests/fuzz/lexer_replay.cpp: a replay driver for the lexer's fuzz target, for builds without
// libFuzzer: runs every file of a corpus folder, then inputs mutated from them with a fixed
// seed (token fragments spliced in, bytes flipped, cut and joined), within a time budget
// (the loop is replay.h).
// Usage: zyl-lexer-replay CORPUS_DIR [INPUTS [SECONDS [MS_PER_INPUT]]]
#include <cstring>

#include "tests/fuzz/replay.h"

namespace {

using zyl::fuzz::bytes;

// Pieces of the syntax that random bytes rarely hit.
const char* const fragments[] = {
    "[", "]", "(", ")", "{", "}", "\"", "#", "#\"", "#(", "#[", "#{", "%", "%{", "%%{", "}%", "}%%", "^", "^(",
    "^(tab)", ":", "'", "/", "//", ";", "\n", " ", "\t", "\r", ",", ".", "e", "E", "h", "FF", "0", "1", "9",
    "'", "-", "+", "$", "@", "<", ">", "=", "x", "T", "1.#INF", "1.#", "2147483648", "-2147483648", "1e309",
    "\xC2\xA0", "\xE3\x80\x80", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC0", "\xFF", "\x80", "\0",
    "a", "word", "set:", ":get", "'lit", "/ref", "#iss", "1:30", "50%", "{a {b} c}", "(1, 2)",
    "a/", "/b", "a/b:", "'a/b", ":a/b", "a/(b)/", "/1", "/\"s\"", "%\"", "%a", "%a%20", "%C3%A9", "%C3",
    "http://", "x:", "a@b.c", "<t>", "<", "@r", "10x20", "x-1", "(1, 2, 3)", "(1.5, ", "1.2.3", ".256",
    "#{00}", "#{", "2#{", "64#{", "16#{", "AQI=", "=", "^(22)", "^(null)", "}", "$1", "1-Jan-2000", "#[",
    "USD$", "$1'000.12345", "2000-W01-1", "2000-032", "20000101T1200Z", "/10:00:30.5+05:30", "-Feb-", "/-0005",
};

bytes mutate(const std::vector<bytes>& corpus, std::mt19937_64& rng) {
    bytes b = corpus.empty() ? bytes{} : corpus[rng() % corpus.size()];
    int steps = 1 + int(rng() % 8);
    for (int i = 0; i < steps; i++) {
        size_t at = b.empty() ? 0 : rng() % (b.size() + 1);
        switch (rng() % 5) {
        case 0: { // a fragment of the syntax
            const char* f = fragments[rng() % std::size(fragments)];
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
