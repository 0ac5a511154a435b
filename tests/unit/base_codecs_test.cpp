// tests/unit/base_codecs_test.cpp: the base-2, 16, 58 and 64 codecs: known texts, the
// decoders' skipping, comments and refusals, every unit width, round trips of random bytes,
// base 58 against a schoolbook model, and enbase/debase on values.
#include <random>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

using bytes = std::vector<uint8_t>;
using decoder = node_id (*)(const uint8_t*, uint32_t, uint32_t);
using encoder = uint8_t* (*)(uint8_t*, const uint8_t*, uint32_t);

struct BaseCodecsTest : zyl::testing::RuntimeTest {};

bytes B(std::string_view s) { return bytes(s.begin(), s.end()); }

std::string encode(encoder e, const bytes& in) {
    std::string out(in.size() * 8 + 8, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    out.resize(e(p, in.data(), uint32_t(in.size())) - p);
    return out;
}

// The decoded bytes, or "invalid" as the only element of the result's second member.
struct decoded {
    bool ok;
    bytes data;
};

decoded read(node_id n) {
    if (!n) return {false, {}};
    series_buffer* b = memory::buffer_of(n);
    return {true, bytes(b->head, b->tail)};
}

// Decodes [text] (code points) stored at [unit] bytes each (at least the width they need) in
// a series buffer.
decoded decode(decoder d, std::u32string_view text, uint32_t unit = 0) {
    for (char32_t c : text)
        if (unit < string::unit_for(uint32_t(c))) unit = string::unit_for(uint32_t(c));
    if (unit == 0) unit = 1;
    node_id n = series::alloc_by_encoding(text.size() + 1, unit);
    series_buffer* b = memory::buffer_of(n);
    for (char32_t c : text) {
        string::put_char(b->tail, unit, uint32_t(c));
        b->tail += unit;
    }
    cell keep{T_string, 0, n, 0};
    stack::push(&keep); // the text stays alive while the decoder allocates
    decoded r = read(d(b->head, uint32_t(text.size()), unit));
    stack::pop(1);
    return r;
}

decoded decode(decoder d, std::string_view text) {
    return decode(d, std::u32string(text.begin(), text.end()), 1);
}

// Base 58 as a schoolbook division over the whole byte string, one digit at a time.
std::string model_58(const bytes& in) {
    static const char* digits = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    size_t zeros = 0;
    while (zeros < in.size() && in[zeros] == 0) zeros++;
    bytes num(in.begin() + long(zeros), in.end());
    std::string out;
    size_t start = 0;
    while (start < num.size()) {
        uint32_t r = 0;
        for (size_t i = start; i < num.size(); i++) {
            uint32_t t = r * 256 + num[i];
            num[i] = uint8_t(t / 58);
            r = t % 58;
        }
        out.insert(out.begin(), digits[r]);
        while (start < num.size() && num[start] == 0) start++;
    }
    return std::string(zeros, '1') + out;
}

// {== Known texts

TEST_F(BaseCodecsTest, EncodersWriteTheKnownTexts) {
    EXPECT_EQ(encode(binary::encode_64, B("abc")), "YWJj");
    EXPECT_EQ(encode(binary::encode_64, B("a")), "YQ==");
    EXPECT_EQ(encode(binary::encode_64, B("ab")), "YWI=");
    EXPECT_EQ(encode(binary::encode_64, {0xFB, 0xFF}), "+/8=");
    EXPECT_EQ(encode(binary::encode_64, {}), "");
    EXPECT_EQ(encode(binary::encode_16, {0xDE, 0xAD, 0x01}), "DEAD01");
    EXPECT_EQ(encode(binary::encode_2, {0x81, 0x02}), "1000000100000010");
    EXPECT_EQ(encode(binary::encode_58, {0, 0}), "11");
    EXPECT_EQ(encode(binary::encode_58, {0, 0, 0x28, 0x7F, 0xB4, 0xCD}), "11233QC4");
    EXPECT_EQ(encode(binary::encode_58, B("Hello World!")), "2NEpo7TZRRrLZSi2U");
    EXPECT_EQ(encode(binary::encode_58, B("The quick brown fox jumps over the lazy dog.")),
              "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z");
    EXPECT_EQ(encode(binary::encode_58, {}), "");
}

TEST_F(BaseCodecsTest, DecodersReadTheKnownTexts) {
    struct { decoder d; std::string_view text; bytes want; } cases[] = {
        {binary::decode_58, "11", {0, 0}},
        {binary::decode_58, "12", {0, 1}},
        {binary::decode_58, "2NEpo7TZRRrLZSi2U", B("Hello World!")},
        {binary::decode_58, "1 1'2", {0, 0, 1}},
        {binary::decode_58, "", {}},
        {binary::decode_16, "DE\n; note\nad", {0xDE, 0xAD}},
        {binary::decode_16, "ABC", {0xAB}}, // the odd digit is dropped
        {binary::decode_16, "", {}},
        {binary::decode_2, "0000 0001", {0x01}},
        {binary::decode_2, "00000001;comment to the end", {0x01}},
        {binary::decode_64, "YQ==", {0x61}},
        {binary::decode_64, "YQ==anything at all", {0x61}},
        {binary::decode_64, "YWJj", B("abc")},
        {binary::decode_64, "YW\tJ'j\r\n", B("abc")},
        {binary::decode_64, "YWI=", B("ab")},
        {binary::decode_64, "+/8=", {0xFB, 0xFF}},
    };
    for (auto& c : cases) {
        decoded r = decode(c.d, c.text);
        EXPECT_TRUE(r.ok) << c.text;
        EXPECT_EQ(r.data, c.want) << c.text;
    }
}

// }==
// {== Refusals

TEST_F(BaseCodecsTest, InvalidTextDecodesToNothing) {
    struct { decoder d; std::u32string text; } cases[] = {
        {binary::decode_2, U"0000000"},         // 7 bits
        {binary::decode_2, U"00000002"},
        {binary::decode_2, U"0000'0001"},       // the apostrophe is no blank here
        {binary::decode_16, U"DE'AD"},
        {binary::decode_16, U"DG"},
        {binary::decode_16, U"\u00C1\u00C1"},   // Latin letters whose low 7 bits are "A"
        {binary::decode_16, U"\u0141\u0142"},
        {binary::decode_16, U"0\u0130"},        // low 7 bits "0"
        {binary::decode_58, U"10"},             // no zero digit in the alphabet
        {binary::decode_58, U"1O"},
        {binary::decode_58, U"12\u00E912"},     // a non-ASCII letter does not end the text
        {binary::decode_58, U"1\v2"},           // vertical tab
        {binary::decode_64, U"Y="},             // one digit before the padding
        {binary::decode_64, U"YWJj="},
        {binary::decode_64, U"Y"},              // one digit at the end
        {binary::decode_64, U"YWJjY"},
        {binary::decode_64, U"YW-j"},
        {binary::decode_64, U"YW\u00E9j"},
        {binary::decode_64, U"YW\vJj"},
    };
    for (size_t i = 0; i < std::size(cases); i++) EXPECT_FALSE(decode(cases[i].d, cases[i].text).ok) << "case " << i;
}

TEST_F(BaseCodecsTest, UnpaddedBase64KeepsItsLastBytes) {
    EXPECT_EQ(decode(binary::decode_64, "YQ").data, bytes{0x61});
    EXPECT_EQ(decode(binary::decode_64, "YWI").data, B("ab"));
    EXPECT_EQ(decode(binary::decode_64, "YWJjZA").data, B("abcd"));
    EXPECT_EQ(decode(binary::decode_64, "YWJjZA ; to the end").data, B("abcd"));
}

TEST_F(BaseCodecsTest, WiderUnitsDecodeAlike) {
    for (uint32_t unit : {2u, 4u}) {
        EXPECT_EQ(decode(binary::decode_16, U"DE ad", unit).data, (bytes{0xDE, 0xAD})) << unit;
        EXPECT_EQ(decode(binary::decode_2, U"00000011", unit).data, bytes{3}) << unit;
        EXPECT_EQ(decode(binary::decode_58, U"12", unit).data, (bytes{0, 1})) << unit;
        EXPECT_EQ(decode(binary::decode_64, U"YWJj", unit).data, B("abc")) << unit;
        EXPECT_FALSE(decode(binary::decode_64, U"YW\U0001F600Jj", unit).ok) << unit;
        EXPECT_FALSE(decode(binary::decode_16, U"\u0144\u0145", unit).ok) << unit;
    }
}

// }==
// {== Round trips

TEST_F(BaseCodecsTest, RandomBytesRoundTripThroughEveryBase) {
    std::mt19937 rng(20260101);
    struct { encoder e; decoder d; } codecs[] = {
        {binary::encode_2, binary::decode_2},
        {binary::encode_16, binary::decode_16},
        {binary::encode_58, binary::decode_58},
        {binary::encode_64, binary::decode_64},
    };
    for (int round = 0; round < 400; round++) {
        bytes in(rng() % 200);
        for (auto& b : in) b = uint8_t(rng());
        for (size_t z = 0; z < in.size() && rng() % 3 == 0; z++) in[z] = 0; // leading zeros now and then
        for (auto& c : codecs) {
            std::string text = encode(c.e, in);
            decoded r = decode(c.d, text);
            ASSERT_TRUE(r.ok) << text;
            ASSERT_EQ(r.data, in) << text;
        }
        ASSERT_EQ(encode(binary::encode_58, in), model_58(in));
    }
}

TEST_F(BaseCodecsTest, EncodedSizesAreChecked) {
    uint64_t size;
    EXPECT_TRUE(binary::encoded_size(64, 4, size));
    EXPECT_EQ(size, 8u);
    EXPECT_TRUE(binary::encoded_size(58, 3, size));
    EXPECT_EQ(size, 6u);
    EXPECT_TRUE(binary::encoded_size(2, 0x0FFFFFFE, size));
    EXPECT_FALSE(binary::encoded_size(2, 0x10000000, size)); // 2 GB of text
    EXPECT_FALSE(binary::encoded_size(16, 0xFFFFFFFFull, size));
    EXPECT_FALSE(binary::encoded_size(32, 1, size));
}

// }==
// {== enbase and debase on values

cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }

cell Bin(const bytes& b) { return *binary::push_from_buffer(b.data(), uint32_t(b.size())); }

bytes bytes_of(const cell* v) {
    series_buffer* b = memory::buffer_of(v->w2);
    return bytes(b->head + v->w1, b->tail);
}

TEST_F(BaseCodecsTest, EnbaseAndDebaseOnValues) {
    cell out;
    cell s = S("abc");
    binary::enbase(&out, &s, 64, nullptr);
    EXPECT_EQ(out.type(), T_string);
    EXPECT_EQ(string::to_std(&out), "YWJj");
    cell e = S("\xC3\xA9"); // its UTF-8 is encoded
    binary::enbase(&out, &e, 16, nullptr);
    EXPECT_EQ(string::to_std(&out), "C3A9");
    cell bin = Bin({1, 2, 3});
    bin.w1 = 1; // from the index
    binary::enbase(&out, &bin, 2, nullptr);
    EXPECT_EQ(string::to_std(&out), "0000001000000011");
    binary::enbase(&out, &bin, 58, nullptr);
    EXPECT_EQ(string::to_std(&out), "9t"); // 515 = 8 x 58 + 51

    cell t = S("11");
    binary::debase(&out, &t, 58, nullptr);
    EXPECT_EQ(out.type(), T_binary);
    EXPECT_EQ(bytes_of(&out), (bytes{0, 0}));
    cell z = S("0000000");
    binary::debase(&out, &z, 2, nullptr);
    EXPECT_EQ(out.type(), T_none);
    cell w = S("xxYWJj");
    w.w1 = 2;
    cell* slot = stack::push(&w); // the result may replace the text's own cell
    binary::debase(slot, slot, 64, nullptr);
    EXPECT_EQ(bytes_of(slot), B("abc"));

    cell base{T_integer, 0, 10, 0};
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { binary::enbase(&out, &s, 10, &base); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { binary::debase(&out, &s, 32, nullptr); }));
}

// }==

} // namespace
