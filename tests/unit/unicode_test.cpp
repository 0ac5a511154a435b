// tests/unit/unicode_test.cpp: code points, UTF-8 and UTF-16 codecs, loading and widening text,
// and whole inputs decoded at a counted size and width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/text_load.h"

using namespace zyl;

namespace {

using bytes = std::vector<uint8_t>;
using points = std::vector<uint32_t>;

struct Unicode : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        stack::create(1, 2); // so that raised errors carry their arguments
    }
    void TearDown() override {
        es = eval_stack{};
        memory::free_all();
    }
};

cell text_value(node_id n, uint32_t index = 0) { return cell{T_string, index, n, 0}; }

uint32_t unit_of(node_id n) { return memory::buffer_of(n)->unit(); }

points chars_of(node_id n) {
    series_buffer* b = memory::buffer_of(n);
    points out;
    for (uint8_t* p = b->head; p < b->tail; p += b->unit()) {
        uint32_t v = 0;
        std::memcpy(&v, p, b->unit());
        out.push_back(v);
    }
    return out;
}

// A new text buffer of [unit] holding [cps].
node_id make_text(const points& cps, uint32_t unit) {
    node_id n = series::alloc_by_encoding(cps.size(), unit);
    series_buffer* b = memory::buffer_of(n);
    for (uint32_t cp : cps) {
        std::memcpy(b->tail, &cp, unit);
        b->tail += unit;
    }
    return n;
}

bytes bytes_of(const uint8_t* p, int64_t n) { return bytes(p, p + n); }

// The UTF-8 of [cps], encoded here independently of the code under test.
bytes utf8(const points& cps) {
    bytes out;
    for (uint32_t c : cps) {
        if (c < 0x80) {
            out.push_back(uint8_t(c));
        } else if (c < 0x800) {
            out.insert(out.end(), {uint8_t(0xC0 | c >> 6), uint8_t(0x80 | (c & 0x3F))});
        } else if (c < 0x10000) {
            out.insert(out.end(), {uint8_t(0xE0 | c >> 12), uint8_t(0x80 | (c >> 6 & 0x3F)),
                                   uint8_t(0x80 | (c & 0x3F))});
        } else {
            out.insert(out.end(), {uint8_t(0xF0 | c >> 18), uint8_t(0x80 | (c >> 12 & 0x3F)),
                                   uint8_t(0x80 | (c >> 6 & 0x3F)), uint8_t(0x80 | (c & 0x3F))});
        }
    }
    return out;
}

// The error that [body] raises, caught by a try frame; fails the test when none is raised.
template <typename F> cell caught(F body) {
    cell w{T_word, 0, 30, 0};
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        stack::reset();
        return err;
    }
    ADD_FAILURE() << "no error raised";
    return cell{T_none, 0, 0, 0};
}

// Argument [i] (0-2) of error cell [err].
cell arg_of(const cell& err, int i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(err.w1)->head)[i];
}

// Expects [err] to be access invalid-utf8 with the binary argument [expected].
void expect_invalid_utf8(const cell& err, const bytes& expected) {
    ASSERT_EQ(err.type(), T_error);
    EXPECT_EQ(err.w2, uint32_t(error::cat_access));
    EXPECT_EQ(err.w3, uint32_t(error::access_invalid_utf8));
    cell a = arg_of(err, 0);
    ASSERT_EQ(a.type(), T_binary);
    series_buffer* b = memory::buffer_of(a.w2);
    EXPECT_EQ(bytes(b->head, b->tail), expected);
}

void expect_invalid_char(const cell& err, uint32_t cp) {
    ASSERT_EQ(err.type(), T_error);
    EXPECT_EQ(err.w2, uint32_t(error::cat_script));
    EXPECT_EQ(err.w3, uint32_t(error::script_invalid_char));
    EXPECT_EQ(arg_of(err, 0).type(), T_integer);
    EXPECT_EQ(arg_of(err, 0).w2, cp);
}

} // namespace

// {== Single code points

TEST_F(Unicode, LeadLengthAndLengthOf) {
    EXPECT_EQ(unicode::utf8_lead_length(0x41), 0);
    EXPECT_EQ(unicode::utf8_lead_length(0x80), 0);
    EXPECT_EQ(unicode::utf8_lead_length(0xC3), 2);
    EXPECT_EQ(unicode::utf8_lead_length(0xE2), 3);
    EXPECT_EQ(unicode::utf8_lead_length(0xF0), 4);
    EXPECT_EQ(unicode::utf8_lead_length(0xFF), 4);
    EXPECT_EQ(unicode::utf8_length_of(0x7F), 1);
    EXPECT_EQ(unicode::utf8_length_of(0x80), 2);
    EXPECT_EQ(unicode::utf8_length_of(0x7FF), 2);
    EXPECT_EQ(unicode::utf8_length_of(0x800), 3);
    EXPECT_EQ(unicode::utf8_length_of(0xFFFF), 3);
    EXPECT_EQ(unicode::utf8_length_of(0x10000), 4);
    EXPECT_EQ(unicode::utf8_length_of(0x10FFFF), 4);
    expect_invalid_char(caught([] { unicode::utf8_length_of(0x110000); }), 0x110000);
}

TEST_F(Unicode, EncodeUtf8) {
    for (uint32_t cp : {0x0u, 0x41u, 0x80u, 0xE9u, 0x7FFu, 0x800u, 0x20ACu, 0xD800u, 0xFFFFu,
                        0x10000u, 0x1F600u, 0x10FFFFu}) {
        uint8_t out[4];
        int n = unicode::encode_utf8(cp, out);
        EXPECT_EQ(bytes_of(out, n), utf8({cp})) << std::hex << cp;
    }
    uint8_t out[4] = {0, 0, 0, 0};
    expect_invalid_char(caught([&] { unicode::encode_utf8(0x110000, out); }), 0x110000);
    for (int room = 0; room <= 5; room++) {
        uint8_t cut[4] = {0, 0, 0, 0};
        int n = unicode::encode_utf8_bounded(0x1F600, cut, room);
        EXPECT_EQ(n, std::min(room, 4));
        EXPECT_EQ(bytes_of(cut, n), bytes_of(utf8({0x1F600}).data(), n));
        EXPECT_EQ(bytes_of(cut + n, 4 - n), bytes(4 - n, 0)); // nothing past the room
    }
}

TEST_F(Unicode, EncodeUtf16) {
    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(unicode::encode_utf16le(0x1F600, out), 2);
    EXPECT_EQ(bytes_of(out, 4), (bytes{0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(unicode::encode_utf16le(0x20AC, out), 1);
    EXPECT_EQ(bytes_of(out, 2), (bytes{0xAC, 0x20}));
    uint8_t none[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(unicode::encode_utf16le(0x110000, none), 0);
    EXPECT_EQ(bytes_of(none, 4), bytes(4, 0xAA));
}

// }==
// {== Scanning UTF-8

// RFC 3629 decoding of the first sequence of [in], written plainly: the code point and its
// length, or -1 when the sequence is invalid or cut short.
int32_t reference_decode(const bytes& in, size_t& length) {
    uint32_t b0 = in[0];
    length = 1;
    if (b0 < 0x80) return int32_t(b0);
    size_t n = b0 >= 0xF8 ? 0 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (n == 0 || in.size() < n) return -1;
    uint32_t cp = b0 & (0x7F >> n);
    for (size_t i = 1; i < n; i++) {
        if ((in[i] & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (in[i] & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    length = n;
    return int32_t(cp);
}

// Both decoders against the reference: every 1- and 2-byte input, and 3- and 4-byte inputs
// over the bytes where the rules change.
TEST_F(Unicode, DecodersAgreeWithTheReference) {
    auto check = [](const bytes& in) {
        size_t length;
        int32_t want = reference_decode(in, length);
        int32_t cp;
        const uint8_t* after = unicode::decode_utf8_char(in.data(), in.data() + in.size(), cp);
        ASSERT_EQ(cp, want) << std::hex << int(in[0]) << " " << in.size();
        if (want < 0 || want == 0xFFFE) return; // the checked decoder raises on those
        ASSERT_EQ(size_t(after - in.data()), length);
        int64_t room = int64_t(in.size());
        ASSERT_EQ(unicode::decode_utf8_checked(in.data(), room), want);
        ASSERT_EQ(room, int64_t(length));
    };
    const uint8_t probes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xF5};
    for (int a = 0; a < 256; a++) {
        check({uint8_t(a)});
        for (int b = 0; b < 256; b++) check({uint8_t(a), uint8_t(b)});
    }
    for (int a = 0xE0; a <= 0xFF; a++)
        for (int b = 0; b < 256; b++)
            for (uint8_t c : probes) {
                check({uint8_t(a), uint8_t(b), c});
                for (uint8_t d : probes) check({uint8_t(a), uint8_t(b), c, d});
            }
}

TEST_F(Unicode, AutomatonConsumption) {
    bytes in = {0xC3, 0x41, 0x42}; // the A rejects the sequence and is consumed with it
    int32_t cp;
    EXPECT_EQ(unicode::decode_utf8_char(in.data(), in.data() + 3, cp), in.data() + 2);
    EXPECT_EQ(cp, -1);
    bytes lone = {0x80, 0x41}; // a continuation byte alone is rejected at once
    EXPECT_EQ(unicode::decode_utf8_char(lone.data(), lone.data() + 2, cp), lone.data() + 1);
    EXPECT_EQ(cp, -1);
    bytes cut = {0xE2, 0x82};
    EXPECT_EQ(unicode::decode_utf8_char(cut.data(), cut.data() + 2, cp), cut.data() + 2);
    EXPECT_EQ(cp, -1);
    EXPECT_EQ(unicode::decode_utf8_char(cut.data(), cut.data(), cp), cut.data()); // at the end
    EXPECT_EQ(cp, -1);
}

TEST_F(Unicode, CountAndSkip) {
    points cps;
    for (int i = 0; i < 40; i++) cps.push_back(i % 7 == 3 ? 0x1F600 : i % 5 == 1 ? 0xE9 : 'a' + i % 26);
    bytes in = utf8(cps);
    const uint8_t* end = in.data() + in.size();
    EXPECT_EQ(unicode::count_utf8_chars(in.data(), end), 40);
    for (int64_t n : {0, 1, 3, 4, 17, 39}) {
        const uint8_t* p = unicode::skip_utf8_chars(in.data(), end, n);
        EXPECT_EQ(p - in.data(), int64_t(utf8(points(cps.begin(), cps.begin() + n)).size()));
    }
    EXPECT_EQ(unicode::skip_utf8_chars(in.data(), end, 41), end);
    bytes bad = {0x41, 0xC3, 0x41, 0x80, 0xE2, 0x82}; // A, C3 41, 80, E2 82
    EXPECT_EQ(unicode::count_utf8_chars(bad.data(), bad.data() + bad.size()), 4);
}

// }==
// {== Checked decoding

TEST_F(Unicode, CheckedDecoder) {
    struct row {
        bytes in;
        int32_t cp;     // -1: cut short
        int64_t length; // sequence length when decoded
    };
    const row ok[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9, 0x41}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xEF, 0xBF, 0xBD}, 0xFFFD, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xE2, 0x82}, -1, 2},
        {{0xF0, 0x9F, 0x98}, -1, 3},
        {{0xC3}, -1, 1},
    };
    for (const row& r : ok) {
        int64_t room = int64_t(r.in.size());
        EXPECT_EQ(unicode::decode_utf8_checked(r.in.data(), room), r.cp);
        EXPECT_EQ(room, r.length);
    }
    // Invalid: the argument holds the bytes from the sequence's first byte, at most 4.
    const bytes bad[] = {
        {0x80},                   // a continuation byte first
        {0xC3, 0x41},             // a bad continuation byte
        {0xE2, 0x41},             // the same, even though the input ends early
        {0xC0, 0x80},             // overlong NUL
        {0xC1, 0xBF},             // overlong
        {0xE0, 0x80, 0x80},       // overlong
        {0xF0, 0x80, 0x80, 0x80}, // overlong
        {0xED, 0xA0, 0x80},       // U+D800
        {0xED, 0xB0, 0x80},       // U+DC00
        {0xEF, 0xBF, 0xBE},       // U+FFFE
        {0xF4, 0x90, 0x80, 0x80}, // above U+10FFFF
        {0xF8, 0x88, 0x80, 0x80, 0x80},
        {0xFF},
    };
    for (const bytes& in : bad) {
        int64_t room = int64_t(in.size());
        cell err = caught([&] { unicode::decode_utf8_checked(in.data(), room); });
        expect_invalid_utf8(err, bytes(in.begin(), in.begin() + std::min<size_t>(in.size(), 4)));
    }
}

// }==
// {== Loading UTF-8

TEST_F(Unicode, LoadEdgeCases) {
    int64_t left = -1;
    bytes bom = {0xEF, 0xBB, 0xBF};
    node_id n = unicode::load_utf8(bom.data(), 3, 0, left, false);
    EXPECT_EQ(chars_of(n), points{});
    EXPECT_EQ(left, 0);
    EXPECT_EQ(chars_of(unicode::load_utf8_new(bytes{0xEF, 0xBB, 0xBF, 0x41}.data(), 4)), points{0x41});

    // 41 C3 A9, then E2 82 AC, then F0 9F 98 80: 1 -> 2 -> 4, the same node, every character kept.
    bytes first = {0x41, 0xC3, 0xA9};
    n = unicode::load_utf8_new(first.data(), 3);
    EXPECT_EQ(unit_of(n), 1u);
    EXPECT_EQ(chars_of(n), (points{0x41, 0xE9}));
    cell v = text_value(n);
    bytes euro = {0xE2, 0x82, 0xAC};
    EXPECT_EQ(unicode::load_utf8_into(euro.data(), 3, &v, left), n);
    EXPECT_EQ(unit_of(n), 2u);
    EXPECT_EQ(chars_of(n), (points{0x41, 0xE9, 0x20AC}));
    bytes smile = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(unicode::load_utf8_into(smile.data(), 4, &v, left), n);
    EXPECT_EQ(unit_of(n), 4u);
    EXPECT_EQ(chars_of(n), (points{0x41, 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(left, 0);

    // A cut sequence stops the loading; what is left goes back to a caller reading chunks.
    bytes cut = {0xE2, 0x82};
    n = unicode::load_utf8(cut.data(), 2, 0, left, false);
    EXPECT_EQ(chars_of(n), points{});
    EXPECT_EQ(left, 2);
    bytes tail = {0x41, 0xF0, 0x9F, 0x98};
    n = unicode::load_utf8(tail.data(), 4, 0, left, false);
    EXPECT_EQ(chars_of(n), points{0x41});
    EXPECT_EQ(left, 3);
    // Whole input has no later chunk: a cut end is invalid.
    expect_invalid_utf8(caught([&] { unicode::load_utf8_new(cut.data(), 2); }), cut);

    expect_invalid_utf8(caught([] { unicode::load_utf8_new(bytes{0x80}.data(), 1); }), bytes{0x80});
}

TEST_F(Unicode, LoadRaisesAtTheBadSequenceAndKeepsTheTarget) {
    node_id n = make_text({'a', 'b'}, 1);
    cell v = text_value(n);
    int64_t left;
    // The euro widens the target before the bad byte is met; its text stays "ab".
    bytes in = {'x', 0xE2, 0x82, 0xAC, 'y', 'z', 0xED, 0xA0, 0x80, 'w', 'v', 'u'};
    cell err = caught([&] { unicode::load_utf8_into(in.data(), int64_t(in.size()), &v, left); });
    expect_invalid_utf8(err, bytes{0xED, 0xA0, 0x80, 'w'});
    EXPECT_EQ(chars_of(n), (points{'a', 'b'}));
    // The position holds deep in the ASCII fast path too.
    bytes longer(100, 'q');
    longer[77] = 0xC0;
    longer[78] = 0xAF;
    err = caught([&] { unicode::load_utf8_new(longer.data(), int64_t(longer.size())); });
    expect_invalid_utf8(err, bytes{0xC0, 0xAF, 'q', 'q'});
}

TEST_F(Unicode, LoadLineEnds) {
    bytes in = {'a', '\r', '\n', 'b', '\r', 'c', '\n', '\r'};
    int64_t left;
    node_id n = unicode::load_utf8(in.data(), int64_t(in.size()), 0, left, true);
    EXPECT_EQ(chars_of(n), (points{'a', '\n', 'b', '\n', 'c', '\n', '\n'}));
    n = unicode::load_utf8(in.data(), int64_t(in.size()), 0, left, false);
    EXPECT_EQ(chars_of(n).size(), in.size());
}

// Random texts of every width against an independent encoder, at lengths that cross the
// 16-byte blocks of the fast path, with and without line-end conversion.
TEST_F(Unicode, LoadRoundTrips) {
    std::mt19937 rng(12345);
    const uint32_t pool[] = {'a', 'Z', ' ', '\n', '\r', 0x7F, 0xE9, 0xFF, 0x100, 0x20AC, 0xFFFD, 0x10000, 0x1F600, 0x10FFFF};
    for (int round = 0; round < 300; round++) {
        size_t length = rng() % 90;
        int widest = round % 4; // how wide the pool may go: 1, 2, 3 or 4 UTF-8 bytes
        const size_t limit[] = {6, 8, 11, 14};
        points cps;
        for (size_t i = 0; i < length; i++) {
            // Mostly ASCII, so that runs of 16 and more occur.
            cps.push_back(rng() % 4 ? uint32_t('a' + rng() % 26) : pool[rng() % limit[widest]]);
        }
        bool line_end = round % 2;
        points want;
        for (size_t i = 0; i < cps.size(); i++) {
            if (line_end && cps[i] == '\r') {
                if (i + 1 < cps.size() && cps[i + 1] == '\n') continue;
                want.push_back('\n');
            } else {
                want.push_back(cps[i]);
            }
        }
        uint32_t max = 0;
        for (uint32_t c : want) max = std::max(max, c);
        bytes in = utf8(cps);
        int64_t left = -1;
        node_id n = unicode::load_utf8(in.data(), int64_t(in.size()), 0, left, line_end);
        ASSERT_EQ(chars_of(n), want) << "round " << round;
        EXPECT_EQ(unit_of(n), max > 0xFFFF ? 4u : max > 0xFF ? 2u : 1u);
        EXPECT_EQ(left, 0);
    }
}

// }==
// {== Text to UTF-8

TEST_F(Unicode, ToUtf8) {
    node_id conv = 0;
    cell v = text_value(make_text({'a', '\n', 'b'}, 1));
    int64_t length = -1;
    const uint8_t* out = unicode::to_utf8_part(&v, length, true, conv);
    EXPECT_EQ(bytes_of(out, length + 1), (bytes{0x61, 0x0D, 0x0A, 0x62, 0}));
    node_id first = conv;

    // From the index, at most [length] code points; the buffer is grown, never remade.
    points wide = {'x', 0xE9, 0x20AC, 0x1F600, 'y', 0x10FFFF};
    cell w = text_value(make_text(wide, 4), 1);
    length = 3;
    out = unicode::to_utf8(&w, length, conv);
    EXPECT_EQ(bytes_of(out, length + 1), utf8({0xE9, 0x20AC, 0x1F600, 0}));
    EXPECT_EQ(conv, first);
    length = -1;
    out = unicode::to_utf8(&w, length, conv);
    EXPECT_EQ(bytes_of(out, length), utf8(points(wide.begin() + 1, wide.end())));
    w.w1 = 99; // past the tail reads as the tail
    length = -1;
    out = unicode::to_utf8(&w, length, conv);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out[0], 0);

    // Long unit-1 text crosses the fast path's blocks.
    points latin;
    for (int i = 0; i < 70; i++) latin.push_back(i % 23 == 0 ? 0xE9 : i % 29 == 5 ? '\n' : 'a' + i % 26);
    cell l = text_value(make_text(latin, 1));
    length = -1;
    out = unicode::to_utf8(&l, length, conv);
    EXPECT_EQ(bytes_of(out, length), utf8(latin));

    cell too_big = text_value(make_text({'a', 0x110000}, 4));
    length = -1;
    expect_invalid_char(caught([&] { unicode::to_utf8(&too_big, length, conv); }), 0x110000);
}

TEST_F(Unicode, SizeAndWrite) {
    points cps = {'a', 0xE9, 0x20AC, 0x1F600};
    node_id n = make_text(cps, 4);
    series_buffer* b = memory::buffer_of(n);
    EXPECT_EQ(unicode::utf8_size_of_range(b->head, b->tail, 4), 10u);
    node_id latin = make_text({'a', 0xE9, 0xFF}, 1);
    b = memory::buffer_of(latin);
    EXPECT_EQ(unicode::utf8_size_of_range(b->head, b->tail, 1), 5u);
    node_id big = make_text({0x110000}, 4);
    b = memory::buffer_of(big);
    expect_invalid_char(caught([&] { unicode::utf8_size_of_range(b->head, b->tail, 4); }), 0x110000);

    cell v = text_value(n);
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::write_utf8(&v, out, 3, true), 6);
    EXPECT_EQ(bytes_of(out, 7), utf8({'a', 0xE9, 0x20AC, 0}));
    // Bounded: the room cuts the smiley after two of its bytes; the 0 follows them.
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::write_utf8_bounded(&v, out, 8, -1, true), 8);
    bytes want = utf8(cps);
    want.resize(8);
    want.push_back(0);
    EXPECT_EQ(bytes_of(out, 9), want);
    EXPECT_EQ(out[9], 0xAA);
}

// }==
// {== UTF-16LE

TEST_F(Unicode, Utf16UnitOf) {
    EXPECT_EQ(unicode::utf16_unit_of(bytes{0x41, 0, 0xE9, 0}.data(), 2), 1u);
    EXPECT_EQ(unicode::utf16_unit_of(bytes{0x41, 0, 0xAC, 0x20}.data(), 2), 2u);
    EXPECT_EQ(unicode::utf16_unit_of(bytes{0xAC, 0x20, 0x00, 0xDC}.data(), 2), 4u);
}

TEST_F(Unicode, LoadUtf16) {
    bytes pair = {0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
    node_id n = unicode::load_utf16le(pair.data(), 3, 0, false);
    EXPECT_EQ(unit_of(n), 4u);
    EXPECT_EQ(chars_of(n), (points{0x41, 0x1F600}));
    EXPECT_TRUE(memory::buffer_of(n)->flags & unicode::TEXT_FROM_UTF16);

    n = unicode::load_utf16le(bytes{0x00, 0xDC}.data(), 1, 0, false);
    EXPECT_EQ(unit_of(n), 4u);
    EXPECT_EQ(chars_of(n), points{0xDC00});

    n = unicode::load_utf16le(nullptr, 0, 0, false);
    EXPECT_EQ(unit_of(n), 2u);
    EXPECT_EQ(chars_of(n), points{});

    bytes lines = {'a', 0, '\r', 0, '\n', 0, 0xE9, 0};
    n = unicode::load_utf16le(lines.data(), 4, 0, true);
    EXPECT_EQ(unit_of(n), 1u);
    EXPECT_EQ(chars_of(n), (points{'a', '\n', 0xE9}));

    // A target keeps its text and never narrows; it widens when the new text needs it.
    node_id one = make_text({'a'}, 1);
    unicode::load_utf16le(nullptr, 0, one, false);
    EXPECT_EQ(unit_of(one), 1u);
    node_id t = make_text({0x20AC}, 2);
    EXPECT_EQ(unicode::load_utf16le(bytes{'b', 0}.data(), 1, t, false), t);
    EXPECT_EQ(unit_of(t), 2u);
    EXPECT_EQ(chars_of(t), (points{0x20AC, 'b'}));
    EXPECT_EQ(unicode::load_utf16le(pair.data(), 3, t, false), t);
    EXPECT_EQ(unit_of(t), 4u);
    EXPECT_EQ(chars_of(t), (points{0x20AC, 'b', 'A', 0x1F600}));
}

TEST_F(Unicode, LoadUtf16RaisesOnALoneHighSurrogate) {
    node_id t = make_text({'o', 'k'}, 1);
    bytes followed = {0x41, 0x00, 0x3D, 0xD8, 0x41, 0x00, 0x42, 0x00};
    cell err = caught([&] { unicode::load_utf16le(followed.data(), 4, t, false); });
    expect_invalid_utf8(err, bytes{0x3D, 0xD8, 0x41, 0x00});
    EXPECT_EQ(chars_of(t), (points{'o', 'k'}));
    bytes last = {0x41, 0x00, 0x3D, 0xD8};
    err = caught([&] { unicode::load_utf16le(last.data(), 2, 0, false); });
    expect_invalid_utf8(err, bytes{0x3D, 0xD8});
}

TEST_F(Unicode, ToUtf16) {
    node_id conv = 0;
    cell v = text_value(make_text({'a', '\n', 'b'}, 1));
    int64_t length = -1;
    const uint8_t* out = unicode::to_utf16(&v, length, true, conv);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(bytes_of(out, 10), (bytes{'a', 0, '\r', 0, '\n', 0, 'b', 0, 0, 0}));
    out = unicode::to_utf16_whole(&v, conv);
    EXPECT_EQ(bytes_of(out, 10), (bytes{'a', 0, '\r', 0, '\n', 0, 'b', 0, 0, 0}));

    cell w = text_value(make_text({0x20AC, '\n', 0x1F600, 'z'}, 4));
    length = 3;
    out = unicode::to_utf16(&w, length, false, conv);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(bytes_of(out, 10), (bytes{0xAC, 0x20, '\n', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    cell u2 = text_value(make_text({0x20AC, '\n'}, 2));
    length = -1;
    out = unicode::to_utf16(&u2, length, true, conv);
    EXPECT_EQ(bytes_of(out, 8), (bytes{0xAC, 0x20, '\r', 0, '\n', 0, 0, 0}));

    cell bad = text_value(make_text({'a', 0x110000}, 4));
    length = -1;
    EXPECT_EQ(unicode::to_utf16(&bad, length, false, conv), nullptr);

    uint8_t ascii[8];
    unicode::ascii_to_utf16("hi!", ascii);
    EXPECT_EQ(bytes_of(ascii, 8), (bytes{'h', 0, 'i', 0, '!', 0, 0, 0}));
}

// }==
// {== Widening

TEST_F(Unicode, WideningKeepsEveryCharacterAndTheNode) {
    for (uint32_t length : {0u, 1u, 15u, 16u, 17u, 33u, 100u}) {
        points latin, bmp;
        for (uint32_t i = 0; i < length; i++) {
            latin.push_back((i * 37 + 1) & 0xFF);
            bmp.push_back((i * 4099 + 1) & 0xFFFF);
        }
        node_id a = make_text(latin, 1);
        EXPECT_EQ(unicode::widen_1_to_2(a)->node, a);
        EXPECT_EQ(unit_of(a), 2u);
        EXPECT_EQ(chars_of(a), latin);
        node_id b = make_text(latin, 1);
        unicode::widen_1_to_4(b);
        EXPECT_EQ(unit_of(b), 4u);
        EXPECT_EQ(chars_of(b), latin);
        node_id c = make_text(bmp, 2);
        unicode::widen_2_to_4(c);
        EXPECT_EQ(unit_of(c), 4u);
        EXPECT_EQ(chars_of(c), bmp);
    }
}

// A head in the middle of the data leaves less room than the buffer's size: the widening
// must count from the head, or it would write past the end.
TEST_F(Unicode, WideningCountsTheRoomFromTheHead) {
    node_id n = series::alloc(256, 1, series::HEAD_MIDDLE); // 128 bytes from the head
    series_buffer* b = memory::buffer_of(n);
    points text;
    for (uint32_t i = 0; i < 40; i++) text.push_back('a' + i % 26);
    for (uint32_t c : text) *b->tail++ = uint8_t(c);
    unicode::widen_1_to_4(n); // needs 164 bytes: fewer than the size, more than the room
    b = memory::buffer_of(n);
    EXPECT_LE(b->tail, b->end());
    EXPECT_EQ(chars_of(n), text);
}

TEST_F(Unicode, WidenTo) {
    node_id n = make_text({'a'}, 2);
    unicode::widen_to(n, 2); // already wide enough: nothing changes
    EXPECT_EQ(unit_of(n), 2u);
    unicode::widen_to(n, 4);
    EXPECT_EQ(unit_of(n), 4u);
    unicode::widen_to(n, 1); // never narrows
    EXPECT_EQ(unit_of(n), 4u);
    EXPECT_EQ(chars_of(n), points{'a'});
}

using UnicodeDeath = Unicode;

TEST_F(UnicodeDeath, UnknownUnitEndsTheProcess) {
    node_id cells = series::alloc_cells(2);
    int64_t left;
    EXPECT_EXIT(unicode::load_utf8(bytes{'a'}.data(), 1, cells, left, false),
                ::testing::ExitedWithCode(RT_NO_SWITCH), "");
}

// }==
// {== Whole inputs decoded at a counted size and width (services/text_load.h)

// The outcome of a decode: unit and code points, or the argument of its invalid-utf8 error.
struct decoded {
    uint32_t unit = 0;
    points cps;
    bytes error;
    bool operator==(const decoded&) const = default;
};

template <typename F> decoded decode_with(F body) {
    decoded d;
    cell w{T_word, 0, 30, 0};
    stack::mark_try(&w);
    try {
        body(d);
        stack::pop_frame();
        return d;
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        stack::reset();
        EXPECT_EQ(err.w3, uint32_t(error::access_invalid_utf8));
        cell a = arg_of(err, 0);
        d.error = bytes(memory::buffer_of(a.w2)->head, memory::buffer_of(a.w2)->tail);
        return d;
    }
}

points units_at(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    points out;
    for (; p < end; p += unit) {
        uint32_t v = 0;
        std::memcpy(&v, p, unit);
        out.push_back(v);
    }
    return out;
}

// Decoded into a heap buffer of exactly the counted room, so a sanitizer sees any overrun.
decoded counted(const bytes& in) {
    return decode_with([&](decoded& d) {
        text_load::measure_t m = text_load::measure(in.data(), in.size());
        bytes room(std::max<uint64_t>(m.chars * m.unit, 1));
        uint8_t* end = text_load::decode(in.data(), in.size(), room.data(), m);
        d.unit = m.unit;
        d.cps = units_at(room.data(), end, m.unit);
        EXPECT_EQ(d.cps.size(), m.chars);
    });
}

decoded growing(const bytes& in) {
    return decode_with([&](decoded& d) {
        node_id n = unicode::load_utf8_new(in.data(), int64_t(in.size()));
        d.unit = unit_of(n);
        d.cps = chars_of(n);
    });
}

TEST_F(Unicode, CountedLoadMeasuresCharactersAndTheWidthTheirLeadBytesNeed) {
    struct row {
        points text;
        uint32_t unit;
    };
    for (const row& r : {row{{}, 1}, row{{'a', 'b', 'c'}, 1}, row{{0xE9}, 1}, row{{0x100}, 2},
                         row{{'a', 0x2603, 'z'}, 2}, row{{0xFFFF}, 2}, row{{0x1D11E, '!'}, 4}}) {
        bytes in = utf8(r.text);
        text_load::measure_t m = text_load::measure(in.data(), in.size());
        EXPECT_EQ(m.chars, r.text.size());
        EXPECT_EQ(m.unit, r.unit);
    }
}

TEST_F(Unicode, CountedLoadAgreesWithTheGrowingLoaderOnTextAndErrors) {
    // ASCII runs around the 16-byte blocks, every width, and the invalid forms: overlong,
    // surrogate, U+FFFE, above U+10FFFF, a stray continuation, cut sequences, a bad byte.
    const bytes pieces[] = {bytes(15, 'a'), bytes(16, 'b'), bytes(17, 'c'), {'x'}, {'\n'}, {0xC3, 0xA9}, {0xD0, 0xB0}, {0xC4, 0x80},
                            {0xE2, 0x98, 0x83}, {0xF0, 0x9D, 0x84, 0x9E}, {0xEF, 0xBB, 0xBF}, {0xC0, 0xAF},
                            {0xED, 0xA0, 0x80}, {0xEF, 0xBF, 0xBE}, {0xF4, 0x90, 0x80, 0x80}, {0x80}, {0xC3},
                            {0xE2, 0x98}, {0xFF}};
    std::mt19937 rng(25);
    for (int i = 0; i < 4000; i++) {
        bool valid_only = i % 2 == 0;
        bytes in{'y'}; // the growing loader skips a leading byte-order mark
        for (uint32_t k = rng() % 12; k > 0; k--) {
            const bytes& piece = pieces[rng() % (valid_only ? 11 : std::size(pieces))];
            in.insert(in.end(), piece.begin(), piece.end());
        }
        decoded a = counted(in), b = growing(in);
        ASSERT_TRUE(a == b) << "input of " << in.size() << " bytes, case " << i;
        if (valid_only) {
            ASSERT_TRUE(a.error.empty()) << i;
        }
    }
}

// }==
// {== Windows-1251

TEST_F(Unicode, LoadCp1251) {
    bytes in = {'A', 0xC0, 0xFF, 0x98, 0x88, '\r', '\n', 'z', '\r'};
    node_id n = unicode::load_cp1251(in.data(), int64_t(in.size()), 0, true);
    EXPECT_EQ(unit_of(n), 2u); // widened: the Cyrillic letters don't fit one byte
    EXPECT_EQ(chars_of(n), (points{'A', 0x410, 0x44F, 0x98, 0x20AC, '\n', 'z', '\n'}));
    node_id t = make_text({'x'}, 1);
    bytes plain = {'y', 0xA0, '\r'};
    EXPECT_EQ(unicode::load_cp1251(plain.data(), 3, t, false), t);
    EXPECT_EQ(unit_of(t), 1u);
    EXPECT_EQ(chars_of(t), (points{'x', 'y', 0xA0, '\r'}));
}

// }==
