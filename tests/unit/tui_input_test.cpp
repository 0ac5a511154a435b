// tests/unit/tui_input_test.cpp: the terminal UI's input decoder: fixtures decoded whole and
// split at every byte, and malformed input.
#include "gui/terminal/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/event.h"

namespace zyl::tui {
namespace {

using items = std::vector<input_item>;

input_item key(int32_t k, uint32_t flags = 0) { return {k, flags, 0, 0, ITEM_KEY, false}; }

// Appends [n] items, a text run as the plain keys of its characters, as a caller sends them.
void take(const input_item* in, size_t n, items& out) {
    for (size_t i = 0; i < n; i++) {
        if (in[i].kind != ITEM_TEXT) {
            out.push_back(in[i]);
            continue;
        }
        EXPECT_GT(in[i].length, 0u);
        const uint8_t* p = in[i].text;
        while (p < in[i].text + in[i].length) out.push_back(key(input_text_char(p)));
        EXPECT_EQ(p, in[i].text + in[i].length);
    }
}

void feed(input_decoder& d, const std::string& s, items& out) {
    input_feed(d, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    input_item buf[8];
    while (size_t n = input_decode(d, buf, 8)) take(buf, n, out);
}

// [s] fed in the given pieces, then expired as after the 50 ms wait.
items decode(const std::vector<std::string>& pieces) {
    input_decoder d;
    items out;
    for (auto& p : pieces) feed(d, p, out);
    input_item last;
    if (input_expire(d, last)) out.push_back(last);
    input_reset(d);
    return out;
}

input_item special(int32_t k, uint32_t mods = 0) { return key(k, event::FLAG_SPECIAL | mods); }
input_item mouse(int32_t code, int col, int row, bool release, uint32_t mods = 0) {
    return {code, mods, uint16_t(col), uint16_t(row), ITEM_MOUSE, release};
}
input_item cursor(int row, int col) { return {0, 0, uint16_t(col), uint16_t(row), ITEM_CURSOR, false}; }

constexpr uint32_t SHIFT = event::FLAG_SHIFT, ALT = event::FLAG_ALT, CTRL = event::FLAG_CONTROL;

struct fixture {
    const char* name;
    std::string bytes;
    items expected;
};

std::vector<fixture> fixtures() {
    return {
        {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {special(-20), special(-21), special(-22), special(-23)}},
        {"home end", "\x1b[H\x1b[F\x1b[1~\x1b[7~\x1b[4~\x1b[8~\x1bOH\x1bOF",
         {special(-25), special(-24), special(-25), special(-25), special(-24), special(-24), special(-25),
          special(-24)}},
        {"ss3 arrows", "\x1bOA\x1bOD", {special(-20), special(-23)}},
        {"editing", "\x1b[3~\x1b[5~\x1b[6~", {special(-27), special(-28), special(-29)}},
        {"function keys", "\x1bOP\x1bOS\x1b[15~\x1b[17~\x1b[21~\x1b[23~\x1b[24~",
         {special(-31), special(-34), special(-35), special(-36), special(-40), special(-41), special(-42)}},
        {"modifiers", "\x1b[1;5A\x1b[1;2D\x1b[3;3~\x1b[1;8H",
         {special(-20, CTRL), special(-23, SHIFT), special(-27, ALT), special(-25, SHIFT | ALT | CTRL)}},
        {"shift tab", "\x1b[Z", {key(9, SHIFT)}},
        {"no key", "\x1b[2~\x1b[200~x\x1b[201~\x1b[9~\x1bOx", {key('x')}},
        {"controls", "\x08\x0a\x0d\x09\x7f\x03", {key(127), key(13), key(13), key(9), key(127), key(3)}},
        {"sgr mouse", "\x1b[<0;10;5M\x1b[<0;10;5m\x1b[<64;1;1M\x1b[<65;200;60M\x1b[<35;3;4M\x1b[<20;7;8M",
         {mouse(0, 10, 5, false), mouse(0, 10, 5, true), mouse(64, 1, 1, false), mouse(65, 200, 60, false),
          mouse(35, 3, 4, false), mouse(20, 7, 8, false, SHIFT | CTRL)}},
        {"cursor report", "\x1b[12;40R", {cursor(12, 40)}},
        {"utf-8", "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z", {key('a'), key(0xE9), key(0x4E2D), key(0x1F600), key('z')}},
        {"wide text", "\xe6\x97\xa5\xe6\x9c\xac", {key(0x65E5), key(0x672C)}},
        {"strings skipped", "\x1b]0;title\x07" "a\x1bPq#0\x1b\\b\x1b]52;c;xx\x1b\\c", {key('a'), key('b'), key('c')}},
    };
}

TEST(TuiInput, FixturesWholeAndSplitAtEveryByte) {
    for (auto& f : fixtures()) {
        EXPECT_EQ(decode({f.bytes}), f.expected) << f.name;
        for (size_t cut = 1; cut < f.bytes.size(); cut++)
            EXPECT_EQ(decode({f.bytes.substr(0, cut), f.bytes.substr(cut)}), f.expected) << f.name << " cut " << cut;
    }
}

TEST(TuiInput, OneItemAtATimeGivesTheSameItems) {
    for (auto& f : fixtures()) {
        input_decoder d;
        input_feed(d, reinterpret_cast<const uint8_t*>(f.bytes.data()), f.bytes.size());
        items out;
        input_item one;
        while (input_decode(d, &one, 1) == 1) take(&one, 1, out);
        EXPECT_EQ(out, f.expected) << f.name;
        input_reset(d);
    }
}

TEST(TuiInput, TextArrivesAsRunsBetweenOtherItems) {
    input_decoder d;
    std::string s = "ab\xc3\xa9\x1b[Acd\x7f" + std::string(40, 'e');
    input_feed(d, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    input_item buf[8];
    ASSERT_EQ(input_decode(d, buf, 8), 5u);
    auto text = [](const input_item& i) { return std::string(reinterpret_cast<const char*>(i.text), i.length); };
    EXPECT_EQ(buf[0].kind, ITEM_TEXT);
    EXPECT_EQ(text(buf[0]), "ab\xc3\xa9");
    EXPECT_EQ(buf[1], special(-20));
    EXPECT_EQ(text(buf[2]), "cd");
    EXPECT_EQ(buf[3], key(127));
    EXPECT_EQ(text(buf[4]), std::string(40, 'e'));
    input_reset(d);
}

// Sequences at the edge of the whole-sequence shortcut give what the byte machine gives when
// they come a byte at a time.
TEST(TuiInput, WholeSequencesMatchTheByteMachine) {
    auto params = [](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += i ? ";1" : "1";
        return s;
    };
    std::string cases[] = {
        "\x1b[;A",
        "\x1b[1;A",
        "\x1b[0;120;45M",
        "\x1b[1<A",
        "\x1b[<<0;1;1M",
        "\x1b[1\x01" "5A",
        "\x1b[?25h",
        "\x1b[1:2A",
        "\x1b[1[A",
        "\x1b[" + params(16) + "M",
        "\x1b[" + params(16) + ";M",
        "\x1b[" + params(17) + "M",
        "\x1b[" + std::string(63, '0') + "A",
        "\x1b[" + std::string(64, '0') + "A",
        "\x1b[<" + std::string(62, '1') + "A",
        "\x1b[<" + std::string(63, '1') + "A",
        "\x1b[1;\x1b[B",
        "\x1b[5~\x1bOQ\x1b\x1b[C",
        "\x1b[<0;120;45M",
        "\x1b[<65;65536;99999m",
        "\x1b[00000000000002;3~",
        "\x1b[1;2;3;4M",
        "\x1b[1;2;3;4;5;6;7;8;9;1;2;3;4;5M",
        "\x1b[;;;;;;;;;;;;;;;;M",
        "\x1b[12345678901234R",
        "\x1b[123456789012345R",
        "\x1b[<\xc3\xa9M",
    };
    // Each alone, and with text behind it, as in a long read where a sequence is parsed whole.
    for (auto& c : cases)
        for (const std::string& behind : {std::string(), std::string(24, 'x')}) {
            std::string s = "a" + c + "z\xc3\xa9" + behind;
            std::vector<std::string> bytes;
            for (char ch : s) bytes.emplace_back(1, ch);
            EXPECT_EQ(decode({s}), decode(bytes)) << c.substr(1) << " with " << behind.size();
        }
}

TEST(TuiInput, PartialsWaitThenExpire) {
    input_decoder d;
    items out;
    feed(d, "ab\x1b", out); // ESC typed last in a longer read
    EXPECT_EQ(out, (items{key('a'), key('b')}));
    EXPECT_TRUE(input_partial(d));
    input_item last;
    ASSERT_TRUE(input_expire(d, last));
    EXPECT_EQ(last, key(27));
    EXPECT_FALSE(input_partial(d));
    // A partial character becomes U+FFFD; a partial sequence is dropped.
    EXPECT_EQ(decode({"x\xe4\xb8"}), (items{key('x'), key(0xFFFD)}));
    EXPECT_EQ(decode({"\x1b[1;5"}), items{});
    EXPECT_EQ(decode({"\x1b]0;never ends"}), items{});
    input_reset(d);
}

TEST(TuiInput, InvalidUtf8ResumesAfterTheFirstByte) {
    struct {
        const char* name;
        std::string bytes;
        items expected;
    } cases[] = {
        {"stray continuation", "\x80z", {key(0xFFFD), key('z')}},
        {"overlong", "\xc0\x80\xe0\x80\x80", {key(0xFFFD), key(0xFFFD), key(0xFFFD), key(0xFFFD), key(0xFFFD)}},
        {"surrogate", "\xed\xa0\x80", {key(0xFFFD), key(0xFFFD), key(0xFFFD)}},
        {"above U+10FFFF", "\xf4\x90\x80\x80", {key(0xFFFD), key(0xFFFD), key(0xFFFD), key(0xFFFD)}},
        {"F8-FF", "\xf8\xff" "a", {key(0xFFFD), key(0xFFFD), key('a')}},
        {"cut by text", "\xe4\xb8z", {key(0xFFFD), key('z')}},
        {"cut by ESC", "\xe4\x1b[A", {key(0xFFFD), special(-20)}},
    };
    for (auto& c : cases) EXPECT_EQ(decode({c.bytes}), c.expected) << c.name;
}

TEST(TuiInput, OverflowsAreBounded) {
    // Parameters saturate at 65535; a seventeenth parameter drops the sequence.
    EXPECT_EQ(decode({"\x1b[<0;99999999999;70000M"}), (items{mouse(0, 65535, 65535, false)}));
    EXPECT_EQ(decode({"\x1b[99999999999999999999;5A"}), items{});
    EXPECT_EQ(decode({"\x1b[1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1M" "a"}), (items{key('a')}));
    // A control sequence over 64 bytes is dropped up to its final byte.
    EXPECT_EQ(decode({"\x1b[" + std::string(60, '0') + "1~"}), (items{special(-25)}));
    EXPECT_EQ(decode({"\x1b[" + std::string(70, '0') + "1~b"}), (items{key('b')}));
    // 1 MB of a control sequence with no final byte: nothing, and the buffer stays empty.
    input_decoder d;
    items out;
    feed(d, "\x1b[", out);
    std::string chunk(65536, '7');
    for (int i = 0; i < 16; i++) feed(d, chunk, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(d.count, 0u);
    EXPECT_LE(d.capacity, 65536u * 2);
    feed(d, "~q", out);
    EXPECT_EQ(out, (items{key('q')}));
    input_reset(d);
    // An unterminated OSC gives the input back after 4 KB.
    items osc = decode({"\x1b]" + std::string(5000, 'x')});
    ASSERT_FALSE(osc.empty());
    EXPECT_LT(osc.size(), 1000u);
    EXPECT_EQ(osc.back(), key('x'));
}

} // namespace
} // namespace zyl::tui
