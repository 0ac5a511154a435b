// tests/fuzz/vt_decoder_fuzz.cpp: the terminal decoder's fuzz target: arbitrary bytes decoded
// whole and split at a point the input picks, under ASan and UBSan. Both must give the same
// keys, and every key must be a code point or one of the decoder's key codes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "runtime/platform/vt_decoder.h"

using namespace zyl;

namespace {

void collect(void* ctx, int32_t key) { static_cast<std::vector<int32_t>*>(ctx)->push_back(key); }

std::vector<int32_t> decode(const uint8_t* data, size_t size, size_t cut) {
    vt::decoder d;
    std::vector<int32_t> out;
    vt::feed(d, data, cut, collect, &out);
    vt::feed(d, data + cut, size - cut, collect, &out);
    vt::flush_escape(d, collect, &out);
    return out;
}

bool valid(int32_t k) {
    if (k >= 0) return k <= 0x10FFFF && !(k >= 0xD800 && k <= 0xDFFF);
    return (k <= vt::KEY_UP && k >= vt::KEY_PAGE_DOWN) || k == vt::KEY_PASTE_BEGIN || k == vt::KEY_PASTE_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t cut = data[0] % size;
    auto whole = decode(data + 1, size - 1, 0);
    auto split = decode(data + 1, size - 1, cut < size - 1 ? cut : 0);
    if (whole != split) {
        std::fprintf(stderr, "vt fuzz: a split changed the keys\n");
        std::abort();
    }
    for (int32_t k : whole) {
        if (!valid(k)) {
            std::fprintf(stderr, "vt fuzz: key %d\n", k);
            std::abort();
        }
    }
    return 0;
}

// Pieces of terminal input for the replay driver's mutations.
extern const char* const replay_target = "vt_decoder";
extern const char* const replay_fragments[] = {
    "\x1b", "\x1b[", "\x1bO", "\x1b[200~", "\x1b[201~", "\x1b[1;5", "~", "\r\n", "\xe4\xb8", "\xf0\x9f\x98", "\x7f",
};
extern const size_t replay_fragment_count = std::size(replay_fragments);
