// tests/unit/vt_decoder_test.cpp: the terminal decoder on byte strings, whole and split.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/platform/vt_decoder.h"

using namespace zyl;

namespace {

using keys = std::vector<int32_t>;

void collect(void* ctx, int32_t key) { static_cast<keys*>(ctx)->push_back(key); }

// Feeds [bytes] in the pieces that [cuts] mark (offsets) and flushes a lone ESC at the end.
keys decode(const std::string& bytes, const std::vector<size_t>& cuts = {}) {
    vt::decoder d;
    keys out;
    size_t from = 0;
    for (size_t cut : cuts) {
        vt::feed(d, reinterpret_cast<const uint8_t*>(bytes.data()) + from, cut - from, collect, &out);
        from = cut;
    }
    vt::feed(d, reinterpret_cast<const uint8_t*>(bytes.data()) + from, bytes.size() - from, collect, &out);
    vt::flush_escape(d, collect, &out);
    return out;
}

const struct {
    const char* name;
    std::string bytes;
    keys expected;
} CASES[] = {
    {"ascii and utf-8", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", {'a', 0xE9, 0x4E2D, 0x1F600}},
    {"csi arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {vt::KEY_UP, vt::KEY_DOWN, vt::KEY_RIGHT, vt::KEY_LEFT}},
    {"ss3 arrows and home/end", "\x1bOA\x1bOD\x1bOH\x1bOF", {vt::KEY_UP, vt::KEY_LEFT, vt::KEY_HOME, vt::KEY_END}},
    {"home and end in every form", "\x1b[H\x1b[F\x1b[1~\x1b[7~\x1b[4~\x1b[8~",
     {vt::KEY_HOME, vt::KEY_END, vt::KEY_HOME, vt::KEY_HOME, vt::KEY_END, vt::KEY_END}},
    {"insert, delete, pages", "\x1b[2~\x1b[3~\x1b[5~\x1b[6~",
     {vt::KEY_INSERT, vt::KEY_DELETE, vt::KEY_PAGE_UP, vt::KEY_PAGE_DOWN}},
    {"modified keys are the plain ones", "\x1b[1;5C\x1b[1;2D\x1b[3;5~", {vt::KEY_RIGHT, vt::KEY_LEFT, vt::KEY_DELETE}},
    {"line ends", "a\rb\nc\r\nd", {'a', 13, 'b', 13, 'c', 13, 'd'}},
    {"backspace keys pass as they are", "\x7f\x08", {127, 8}},
    {"paste markers", "\x1b[200~x\x1b[201~", {vt::KEY_PASTE_BEGIN, 'x', vt::KEY_PASTE_END}},
    {"unknown sequences are swallowed", "\x1b[99~\x1b[<0;1;2M\x1b[?1h\x1bOPz", {0, 0, 0, 0, 'z'}},
    {"an alt key is swallowed", "\x1bxy", {0, 'y'}},
    {"a lone escape at the end", "ab\x1b", {'a', 'b', vt::KEY_ESCAPE}},
    {"two escapes", "\x1b\x1b[A", {vt::KEY_ESCAPE, vt::KEY_UP}},
    {"bad utf-8 becomes U+FFFD", "\x80z\xC3z\xE0\x80\xED\xA0\xF5", {0xFFFD, 'z', 0xFFFD, 'z', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"a control byte ends a sequence", "\x1b[1\x03x", {0, 3, 'x'}},
    {"an overlong sequence is one unknown key", "\x1b[" + std::string(100, '1') + "~q", {0, 'q'}},
};

TEST(VtDecoder, DecodesWholeInput) {
    for (const auto& c : CASES) EXPECT_EQ(decode(c.bytes), c.expected) << c.name;
}

TEST(VtDecoder, SplitsAtAnyPointGiveTheSameKeys) {
    for (const auto& c : CASES) {
        for (size_t i = 1; i < c.bytes.size(); i++) {
            EXPECT_EQ(decode(c.bytes, {i}), c.expected) << c.name << " split at " << i;
            for (size_t j = i + 1; j < c.bytes.size(); j++)
                EXPECT_EQ(decode(c.bytes, {i, j}), c.expected) << c.name << " split at " << i << ", " << j;
        }
    }
}

TEST(VtDecoder, EscapeWaitsForWhatFollows) {
    vt::decoder d;
    keys out;
    vt::feed(d, reinterpret_cast<const uint8_t*>("\x1b"), 1, collect, &out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(vt::lone_escape(d));
    vt::feed(d, reinterpret_cast<const uint8_t*>("[A"), 2, collect, &out);
    EXPECT_EQ(out, keys{vt::KEY_UP});
    EXPECT_FALSE(vt::lone_escape(d));
}

} // namespace
