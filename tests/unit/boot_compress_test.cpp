// tests/unit/compress_test.cpp: the boot image's LZ codec: hand-made blocks (literals, an
// overlapping match, padding), the refusals of corrupt blocks, the compressor's refusals and
// chunking, its match choice on a small input, and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/boot_compress.h"

using namespace zyl;

namespace {

using bytes = std::vector<uint8_t>;

// Writes fields least significant bit first, as the codec reads them.
struct bits {
    bytes out;
    uint32_t count = 0;
    void put(uint32_t value, uint32_t n) {
        for (uint32_t i = 0; i < n; i++, count++) {
            if (count % 8 == 0) out.push_back(0);
            out.back() |= uint8_t(((value >> i) & 1) << (count % 8));
        }
    }
    void literal(uint8_t b) { put(0, 1), put(b, 8); }
};

void put32(bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
}

// A block of [chunks] (each: its length and its bit stream) declaring [declared] bytes.
bytes block_of(uint32_t declared, const std::vector<std::pair<uint32_t, bytes>>& chunks) {
    bytes payload;
    for (const auto& [len, stream] : chunks) {
        put32(payload, len);
        payload.insert(payload.end(), stream.begin(), stream.end());
    }
    bytes b;
    put32(b, uint32_t(payload.size()));
    put32(b, declared);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// The decompressed bytes of [block], or "refused".
std::string inflate(const bytes& block) {
    uint64_t n = 0;
    uint8_t* out = boot_compress::decompress(block.data(), block.size(), &n);
    if (!out) return "refused";
    std::string s(reinterpret_cast<char*>(out), n);
    boot_compress::free_buffer(out);
    return s;
}

bytes text_like(size_t n, uint32_t seed) {
    static const char* const words[] = {"block", "value", "cell ", "[a b]", "series", "\n", "  ", "12345", "zyl"};
    std::mt19937 rng(seed);
    bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % std::size(words)];
        b.insert(b.end(), w, w + std::strlen(w));
        if (rng() % 7 == 0) b.push_back(uint8_t(rng()));
    }
    b.resize(n);
    return b;
}

bytes deflate(const bytes& in) {
    bytes out(in.size());
    int64_t n = boot_compress::compress(in.data(), in.size(), out.data());
    if (n < 0) return {};
    out.resize(size_t(n));
    return out;
}

} // namespace

TEST(BootCompress, OneLiteralChunkIgnoresItsPadding) {
    bits s;
    s.literal('A');
    s.out.back() |= 0xFE; // padding bits after the 9 that count
    EXPECT_EQ(inflate(block_of(1, {{1, s.out}})), "A");
}

TEST(BootCompress, OverlappingMatchRepeatsItsByte) {
    bits s;
    s.literal('x');
    s.put(1, 1);             // match
    s.put(2, 2), s.put(3, 2); // prefix 01: n = 4 + 3, length 10
    s.put(0, 4), s.put(0, 3); // class 0, d = 0: distance 1
    EXPECT_EQ(inflate(block_of(11, {{11, s.out}})), std::string(11, 'x'));
}

TEST(BootCompress, LongestLengthCodeAndFarDistance) {
    bits s;
    for (int i = 0; i < 8; i++) s.literal(uint8_t('a' + i));
    s.put(1, 1);
    s.put(0, 5), s.put(511, 9); // n = 563: length 566
    s.put(1, 4), s.put(0, 3);   // class 1 (k = 3): d = 8, distance 9 reaches before the chunk
    EXPECT_EQ(inflate(block_of(574, {{574, s.out}})), "refused");
    bits t;
    for (int i = 0; i < 8; i++) t.literal(uint8_t('a' + i));
    t.put(1, 1);
    t.put(0, 5), t.put(511, 9);
    t.put(0, 4), t.put(7, 3); // distance 8
    std::string expect;
    for (int i = 0; i < 574; i++) expect += char('a' + i % 8);
    EXPECT_EQ(inflate(block_of(574, {{574, t.out}})), expect);
}

TEST(BootCompress, CorruptBlocksAreRefused) {
    bits ten; // ten literals
    for (int i = 0; i < 10; i++) ten.literal('z');
    bits eight;
    for (int i = 0; i < 8; i++) eight.literal('z');
    bits back; // a chunk that opens with a match: nothing before it in its chunk
    back.put(1, 1), back.put(1, 1), back.put(0, 2), back.put(0, 4), back.put(0, 3);
    bits one;
    one.literal('q');
    bytes truncated = block_of(10, {{10, ten.out}});
    truncated.pop_back();
    truncated[0]--;
    bytes past_length = block_of(10, {{10, ten.out}});
    past_length.pop_back(); // the header's payload size now passes the data
    struct {
        const char* what;
        bytes block;
        const char* expect;
    } cases[] = {
        {"chunks produce more than the declared size + 8", block_of(1, {{10, ten.out}}), "refused"},
        {"the declared size + 8 is room enough", block_of(0, {{8, eight.out}}), "zzzzzzzz"},
        {"a match before its chunk", block_of(4, {{1, one.out}, {3, back.out}}), "refused"},
        {"chunk length 0", block_of(1, {{0, {}}}), "refused"},
        {"chunk length above 1 MB", block_of(1, {{(1u << 20) + 1, one.out}}), "refused"},
        {"a stream that ends inside a token", truncated, "refused"},
        {"a payload size past the data", past_length, "refused"},
        {"a header cut short", bytes{1, 0, 0}, "refused"},
        {"a chunk length cut short", block_of(1, {{1, one.out}, {1, {}}}), "refused"},
        {"no chunks at all", block_of(0, {}), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(inflate(c.block), c.expect) << c.what;
}

TEST(BootCompress, DeclaredSizeBeyondWhatThePayloadCanYieldIsRefusedBeforeAllocating) {
    bits one;
    one.literal('q');
    bytes b = block_of(1, {{1, one.out}});
    uint32_t huge = 0xFFFFFFF8; // + 8 would wrap in 32 bits
    std::memcpy(b.data() + 4, &huge, 4);
    EXPECT_EQ(inflate(b), "refused");
}

TEST(BootCompress, CompressorRefusesShortAndIncompressibleInput) {
    bytes small = text_like(127, 1);
    bytes out(1000);
    EXPECT_EQ(boot_compress::compress(small.data(), small.size(), out.data()), -1);
    std::mt19937 rng(5);
    bytes noise(1000);
    for (auto& b : noise) b = uint8_t(rng());
    EXPECT_EQ(boot_compress::compress(noise.data(), noise.size(), out.data()), -1) << "1,000 random bytes do not fit 992";
}

TEST(BootCompress, RunOfOneByteIsALiteralAndOneMatch) {
    bytes run(128, 'a');
    bytes b = deflate(run);
    // literal (9 bits), match bit, length 127 (00000 + 9 bits), distance 1 (4 + 3 bits): 31 bits.
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(b[0], 8); // payload: the chunk length and 4 bytes of stream
    EXPECT_EQ(b[4], 128);
    EXPECT_EQ(b[8], 128);
    EXPECT_EQ(inflate(b), std::string(128, 'a'));
}

TEST(BootCompress, LargeInputIsChunkedAndEachChunkDecodesAlone) {
    bytes in = text_like(2'500'000, 9);
    bytes b = deflate(in);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(inflate(b), std::string(in.begin(), in.end()));
    // The compressor starts afresh at each chunk, so chunk k is exactly the block of piece k
    // compressed alone, and that block decodes on its own.
    const uint32_t expect[] = {1u << 20, 1u << 20, 2'500'000 - (2u << 20)};
    size_t at = 8, produced = 0;
    for (uint32_t want : expect) {
        bytes piece(in.begin() + long(produced), in.begin() + long(produced + want));
        bytes alone = deflate(piece);
        ASSERT_FALSE(alone.empty());
        ASSERT_LE(at + alone.size() - 8, b.size());
        EXPECT_TRUE(std::equal(alone.begin() + 8, alone.end(), b.begin() + long(at))) << want;
        EXPECT_EQ(inflate(alone), std::string(piece.begin(), piece.end()));
        produced += want;
        at += alone.size() - 8;
    }
    EXPECT_EQ(at, b.size());
}

TEST(BootCompress, RoundTrips) {
    std::vector<bytes> inputs = {bytes(128, 0), text_like(128, 2), text_like(5000, 3), text_like(300'000, 4)};
    bytes far = text_like(200'000, 6); // repeats from far back: long distances
    far.insert(far.end(), far.begin(), far.begin() + 150'000);
    inputs.push_back(far);
    for (const auto& in : inputs) {
        bytes b = deflate(in);
        ASSERT_FALSE(b.empty()) << in.size();
        EXPECT_LT(b.size(), in.size());
        EXPECT_EQ(inflate(b), std::string(in.begin(), in.end())) << in.size();
    }
}
