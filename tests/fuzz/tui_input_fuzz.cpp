// tests/fuzz/tui_input_fuzz.cpp: the terminal UI's input decoder under arbitrary bytes, whole
// and split at a point the input picks, under ASan and UBSan. Both must give the same items;
// every key must be a code point or a special code; the decoder's buffer must stay bounded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "gui/terminal/input_decoder.h"

using namespace zyl;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tui input fuzz: %s\n", what);
    std::abort();
}

// A text run's bytes, which must be the shortest UTF-8 of printable characters, as plain keys.
void take_text(const tui::input_item& t, std::vector<tui::input_item>& out) {
    if (t.length == 0) fail("an empty text run");
    const uint8_t* p = t.text;
    const uint8_t* end = t.text + t.length;
    while (p < end) {
        const uint8_t* at = p;
        int32_t c = tui::input_text_char(p);
        if (p > end) fail("a character runs past its text");
        size_t shortest = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (size_t(p - at) != shortest || c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            fail("an invalid text run");
        for (const uint8_t* q = at + 1; q < p; q++)
            if ((*q & 0xC0) != 0x80) fail("a text run with a broken character");
        out.push_back(tui::input_item{c, 0, 0, 0, tui::ITEM_KEY, false});
    }
}

void feed(tui::input_decoder& d, const uint8_t* p, size_t n, std::vector<tui::input_item>& out) {
    tui::input_feed(d, p, n);
    tui::input_item buf[16];
    while (size_t k = tui::input_decode(d, buf, 16))
        for (size_t i = 0; i < k; i++) {
            if (buf[i].kind == tui::ITEM_TEXT) take_text(buf[i], out);
            else out.push_back(buf[i]);
        }
    if (d.count != 0) fail("bytes left after decoding");
}

std::vector<tui::input_item> decode(const uint8_t* data, size_t size, size_t cut) {
    tui::input_decoder d;
    std::vector<tui::input_item> out;
    feed(d, data, cut, out);
    feed(d, data + cut, size - cut, out);
    if (d.capacity > 4096 && d.capacity > 2 * size) fail("the buffer grew past its input");
    tui::input_item last;
    if (tui::input_expire(d, last)) out.push_back(last);
    if (tui::input_partial(d)) fail("a partial sequence after expiring");
    tui::input_reset(d);
    return out;
}

bool valid(const tui::input_item& i) {
    if (i.kind == tui::ITEM_MOUSE || i.kind == tui::ITEM_CURSOR) return true;
    if (i.kind != tui::ITEM_KEY) return false;
    int32_t k = i.key;
    if (k > 0) return k <= 0x10FFFF && !(k >= 0xD800 && k <= 0xDFFF);
    return k <= -20 && k >= -42 && k != -30;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t cut = data[0] % size;
    auto whole = decode(data + 1, size - 1, 0);
    auto split = decode(data + 1, size - 1, cut < size - 1 ? cut : 0);
    if (whole != split) fail("a split changed the items");
    for (auto& i : whole)
        if (!valid(i)) fail("an invalid item");
    return 0;
}

// Pieces of terminal input for the replay driver's mutations.
extern const char* const replay_target = "tui_input";
extern const char* const replay_fragments[] = {
    "\x1b", "\x1b[", "\x1bO", "\x1b[<", ";", "M", "m", "~", "R", "\x1b]", "\x1bP", "\x07", "\x1b\\",
    "99999", "\xe4\xb8", "\xf0\x9f\x98", "\xed\xa0", "\x80",
};
extern const size_t replay_fragment_count = std::size(replay_fragments);
