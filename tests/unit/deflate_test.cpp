// tests/unit/deflate_test.cpp: the raw deflate compressor and inflater, and the code-length
// builder: round trips, the measuring contract, and hand-made streams for every refusal.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "services/deflate.h"
#include "services/huffman.h"

using namespace zyl::compress;

namespace {

using bytes = std::vector<uint8_t>;

bytes of(const std::string& s) { return bytes(s.begin(), s.end()); }

bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    bytes b(n);
    for (auto& c : b) c = uint8_t(rng());
    return b;
}

bytes text_like(size_t n, uint32_t seed) {
    static const char* words[] = {"the ", "compressor ", "reads ", "a ", "window ", "of ", "bytes ", "and ", "\n",
                                  "matches ", "longest ", "runs; ", "zyl ", "block ", "value ", "42 "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng() % 16];
    s.resize(n);
    return of(s);
}

bytes deflated(const bytes& in, int level) {
    size_t size = 0;
    EXPECT_EQ(deflate(nullptr, size, in.data(), in.size(), level), TOO_SMALL);
    bytes out(size);
    size_t again = size;
    EXPECT_EQ(deflate(out.data(), again, in.data(), in.size(), level), OK);
    EXPECT_EQ(again, size);
    return out;
}

// Inflates [in]; answers the result code and fills [out].
int inflated(const bytes& in, bytes& out) {
    size_t size = 0;
    int r = inflate(nullptr, size, in.data(), in.size());
    if (r != TOO_SMALL && r != OK) return r;
    out.assign(size + 1, 0xEE);
    size_t again = size;
    r = inflate(out.data(), again, in.data(), in.size());
    EXPECT_EQ(again, size);
    EXPECT_EQ(out[size], 0xEE) << "written past the capacity";
    out.resize(size);
    return r;
}

// A hand-made deflate stream: plain fields least-significant bit first, Huffman codes most
// significant bit first, as the format sends them.
struct stream {
    bytes b;
    int n = 0;
    void bit(uint32_t v) {
        if (n % 8 == 0) b.push_back(0);
        b.back() |= uint8_t((v & 1) << (n % 8));
        n++;
    }
    stream& put(uint32_t v, int k) {
        for (int i = 0; i < k; i++) bit(v >> i);
        return *this;
    }
    stream& code(uint32_t c, int len) {
        for (int i = len - 1; i >= 0; i--) bit(c >> i);
        return *this;
    }
    void align() { n = (n + 7) & ~7; }
    // Fixed-code symbols.
    stream& lit(int s) {
        if (s < 144) return code(0x30 + s, 8);
        if (s < 256) return code(0x190 + s - 144, 9);
        if (s < 280) return code(s - 256, 7);
        return code(0xC0 + s - 280, 8);
    }
    stream& match(int len, int dist) { // lengths 3-10 and 258, distances 1-4 and 32768 only
        if (len == 258) lit(285);
        else lit(257 + len - 3);
        if (dist == 32768) return code(29, 5).put(8191, 13);
        return code(dist - 1, 5);
    }
};

// Canonical codes of [lens].
std::vector<uint32_t> canonical(const std::vector<int>& lens) {
    int count[16] = {}, next[17] = {};
    for (int l : lens) count[l]++;
    count[0] = 0;
    for (int b = 1; b < 16; b++) next[b + 1] = (next[b] + count[b]) << 1;
    std::vector<uint32_t> codes(lens.size());
    for (size_t s = 0; s < lens.size(); s++)
        if (lens[s]) codes[s] = uint32_t(next[lens[s]]++);
    return codes;
}

const int ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header: literal/length and distance lengths sent one code-length symbol
// each (no runs) with a code-length code giving [cl_lens]; [extra] symbols (symbol, extra
// bits, extra count) go first.
struct dynamic_block {
    std::vector<int> lit, dist, cl;
    std::vector<uint32_t> lit_codes, dist_codes;
    void write(stream& s, bool last, std::vector<std::array<int, 3>> first = {}) {
        s.put(last, 1).put(2, 2).put(uint32_t(lit.size() - 257), 5).put(uint32_t(dist.size() - 1), 5).put(15, 4);
        for (int i = 0; i < 19; i++) s.put(uint32_t(cl[size_t(ORDER[i])]), 3);
        std::vector<uint32_t> clc = canonical(cl);
        for (auto& f : first) s.code(clc[size_t(f[0])], cl[size_t(f[0])]).put(uint32_t(f[1]), f[2]);
        for (int l : lit) s.code(clc[size_t(l)], cl[size_t(l)]);
        for (int l : dist) s.code(clc[size_t(l)], cl[size_t(l)]);
        lit_codes = canonical(lit);
        dist_codes = canonical(dist);
    }
    void literal(stream& s, int c) { s.code(lit_codes[size_t(c)], lit[size_t(c)]); }
};

// Literals 0-255 9 bits, end of block and length 3 2 bits; distance 1 one bit; the code-length
// code gives symbols 0, 1, 2, 8, 9, 16, 17 and 18 three bits each.
dynamic_block base_block() {
    dynamic_block d;
    d.lit.assign(258, 9);
    d.lit[256] = d.lit[257] = 2;
    d.dist = {1};
    d.cl.assign(19, 0);
    for (int s : {0, 1, 2, 8, 9, 16, 17, 18}) d.cl[size_t(s)] = 3;
    return d;
}

} // namespace

TEST(Deflate, RoundTripsAtEveryLevel) {
    std::vector<bytes> inputs = {{},
                                 {0x41},
                                 bytes(258, 'x'),
                                 bytes(259, 'x'),
                                 of("abcabcabcabcabcabc"),
                                 text_like(70000, 1),
                                 random_bytes(70000, 2),
                                 bytes(300000, 0)};
    for (const bytes& in : inputs) {
        for (int level = 0; level <= 9; level++) {
            bytes out;
            ASSERT_EQ(inflated(deflated(in, level), out), OK) << in.size() << " at " << level;
            ASSERT_EQ(out, in) << in.size() << " at " << level;
        }
    }
}

TEST(Deflate, EmptyInputIsOneFixedBlock) { EXPECT_EQ(deflated({}, 6), (bytes{0x03, 0x00})); }

TEST(Deflate, MeasuringAndShortOutputsWriteNothingPastTheCapacity) {
    bytes in = text_like(50000, 3);
    size_t need = 0;
    ASSERT_EQ(deflate(nullptr, need, in.data(), in.size(), 6), TOO_SMALL);
    for (size_t cap : {size_t(0), size_t(1), size_t(5), need / 2, need - 1}) {
        bytes out(cap + 8, 0xEE);
        size_t size = cap;
        EXPECT_EQ(deflate(out.data(), size, in.data(), in.size(), 6), TOO_SMALL);
        EXPECT_EQ(size, need);
        for (size_t i = cap; i < out.size(); i++) ASSERT_EQ(out[i], 0xEE) << cap;
    }
    bytes z = deflated(in, 6);
    size_t produced = 0;
    ASSERT_EQ(inflate(nullptr, produced, z.data(), z.size()), TOO_SMALL);
    EXPECT_EQ(produced, in.size());
    bytes out(1000 + 8, 0xEE);
    produced = 1000;
    EXPECT_EQ(inflate(out.data(), produced, z.data(), z.size()), TOO_SMALL);
    EXPECT_EQ(produced, in.size());
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1000, in.begin()));
    for (size_t i = 1000; i < out.size(); i++) ASSERT_EQ(out[i], 0xEE);
}

TEST(Deflate, IncompressibleInputIsStoredInPiecesOfAtMost65535) {
    bytes in = random_bytes(200000, 4);
    bytes z = deflated(in, 9);
    size_t pos = 0, total = 0;
    bool last = false;
    while (!last) {
        ASSERT_LT(pos + 5, z.size());
        last = z[pos] & 1;
        ASSERT_EQ((z[pos] >> 1) & 3, 0) << "block at " << pos << " is not stored";
        uint32_t len = z[pos + 1] | z[pos + 2] << 8, nlen = z[pos + 3] | z[pos + 4] << 8;
        EXPECT_LE(len, 65535u);
        EXPECT_EQ(nlen, (~len & 0xFFFF));
        ASSERT_TRUE(std::equal(z.begin() + long(pos + 5), z.begin() + long(pos + 5 + len), in.begin() + long(total)));
        total += len;
        pos += 5 + len;
    }
    EXPECT_EQ(pos, z.size());
    EXPECT_EQ(total, in.size());
}

TEST(Inflate, HandMadeStreams) {
    // A stored block with a wrong complement, then a fixed block with the longest match at
    // the farthest distance, and an overlapping copy.
    stream s;
    s.put(0, 1).put(0, 2).align();
    s.put(3, 16).put(0, 16);
    s.align();
    for (char c : std::string("abc")) s.put(uint8_t(c), 8);
    stream fill;
    bytes big = random_bytes(32768 - 3, 5);
    fill.put(0, 1).put(0, 2).align();
    fill.put(uint32_t(big.size()), 16).put(uint32_t(~big.size() & 0xFFFF), 16);
    for (uint8_t c : big) fill.put(c, 8);
    s.b.insert(s.b.end(), fill.b.begin(), fill.b.end());
    s.n = int(s.b.size() * 8);
    s.put(1, 1).put(1, 2).match(258, 32768).match(10, 1).lit(256);
    bytes out;
    ASSERT_EQ(inflated(s.b, out), OK);
    bytes expect = of("abc");
    expect.insert(expect.end(), big.begin(), big.end());
    bytes head(expect.begin(), expect.begin() + 258);
    expect.insert(expect.end(), head.begin(), head.end());
    expect.insert(expect.end(), 10, expect.back());
    EXPECT_EQ(out, expect);
}

TEST(Inflate, RefusesBadStreams) {
    struct bad {
        const char* name;
        bytes data;
        int result;
    };
    auto fixed = [](auto body) {
        stream s;
        s.put(1, 1).put(1, 2);
        body(s);
        return s.b;
    };
    std::vector<bad> cases = {
        {"empty input", {}, MALFORMED},
        {"reserved block type", {0x07}, RESERVED},
        {"distance before the start", fixed([](stream& s) { s.lit('a').match(3, 2).lit(256); }), TOO_FAR},
        {"literal/length 286", fixed([](stream& s) { s.lit(286); }), MALFORMED},
        {"literal/length 287", fixed([](stream& s) { s.lit(287); }), MALFORMED},
        {"distance symbol 30", fixed([](stream& s) { s.lit('a').lit(257).code(30, 5).lit(256); }), MALFORMED},
        {"no final block", fixed([](stream& s) { s.b[0] &= ~1; s.lit('a').lit(256); }), MALFORMED},
        {"stored block past the input", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, STORED_SHORT},
        {"stored block without its lengths", {0x01, 0x05}, MALFORMED},
    };
    bytes whole = fixed([](stream& s) { s.lit('a').lit('b').match(3, 2).lit(256); });
    bytes out;
    ASSERT_EQ(inflated(whole, out), OK);
    EXPECT_EQ(out, of("ababa"));
    for (size_t cut = 0; cut < whole.size(); cut++)
        cases.push_back({"cut stream", bytes(whole.begin(), whole.begin() + long(cut)), MALFORMED});
    for (const bad& c : cases) EXPECT_EQ(inflated(c.data, out), c.result) << c.name;
}

TEST(Inflate, ChecksDynamicCodeSets) {
    auto run = [](dynamic_block d, std::vector<std::array<int, 3>> first = {}, bool body = true) {
        stream s;
        d.write(s, true, first);
        if (body) {
            d.literal(s, 'a');
            if (d.lit.size() > 257 && d.lit[257] && d.dist[0]) {
                d.literal(s, 257);
                s.code(d.dist_codes[0], d.dist[0]);
            }
            d.literal(s, 256);
        }
        bytes out;
        int r = inflated(s.b, out);
        return std::make_pair(r, out);
    };
    EXPECT_EQ(run(base_block()), std::make_pair(int(OK), of("aaaa"))) << "a lone one-bit distance code";
    dynamic_block no_dist = base_block();
    no_dist.dist = {0};
    no_dist.lit[257] = 0;
    no_dist.lit[256] = 1; // 256 x 9 bits and one 1-bit code: complete
    EXPECT_EQ(run(no_dist), std::make_pair(int(OK), of("a"))) << "no distance code at all";

    struct bad {
        const char* name;
        dynamic_block d;
        std::vector<std::array<int, 3>> first;
    };
    std::vector<bad> cases;
    auto add = [&](const char* name, auto change, std::vector<std::array<int, 3>> first = {}) {
        dynamic_block d = base_block();
        change(d);
        cases.push_back({name, d, first});
    };
    add("over-subscribed literal code", [](dynamic_block& d) { d.lit[256] = 1; });
    add("incomplete literal code", [](dynamic_block& d) { d.lit[257] = 9; });
    add("incomplete two-bit distance code", [](dynamic_block& d) { d.dist = {2}; });
    add("no end-of-block code", [](dynamic_block& d) { d.lit[256] = 0, d.lit.push_back(2); });
    add("incomplete code-length code", [](dynamic_block& d) { d.cl[18] = 0; });
    add("over-subscribed code-length code", [](dynamic_block& d) { d.cl[3] = 3; });
    add("repeat with no previous length", [](dynamic_block&) {}, {{16, 0, 2}});
    add("zero run past the lengths", [](dynamic_block&) {}, {{18, 127, 7}, {18, 127, 7}, {18, 127, 7}});
    for (bad& c : cases) EXPECT_EQ(run(c.d, c.first).first, MALFORMED) << c.name;

    for (auto [hlit, hdist] : {std::pair{30, 0}, {31, 0}, {0, 30}, {0, 31}}) {
        stream s;
        s.put(1, 1).put(2, 2).put(uint32_t(hlit), 5).put(uint32_t(hdist), 5).put(15, 4);
        for (int i = 0; i < 19 + 40; i++) s.put(0, 8);
        bytes out;
        EXPECT_EQ(inflated(s.b, out), MALFORMED) << hlit << " " << hdist;
    }
}

TEST(HuffmanLengths, KeepsTheLimitWithACompleteCode) {
    std::vector<std::pair<std::vector<uint32_t>, int>> cases;
    std::vector<uint32_t> fib(40);
    fib[0] = fib[1] = 1;
    for (size_t i = 2; i < fib.size(); i++) fib[i] = fib[i - 1] + fib[i - 2];
    cases.push_back({fib, 15});
    cases.push_back({std::vector<uint32_t>(fib.begin(), fib.begin() + 19), 7});
    cases.push_back({std::vector<uint32_t>(286, 1), 15});
    std::mt19937 rng(6);
    std::vector<uint32_t> skewed(286);
    for (auto& f : skewed) f = rng() % 3 ? 0 : 1u << (rng() % 24);
    cases.push_back({skewed, 15});
    cases.push_back({{5, 0, 0, 9}, 15});
    for (auto& [freq, limit] : cases) {
        std::vector<uint8_t> len(freq.size());
        huffman_lengths(freq.data(), len.data(), int(freq.size()), limit);
        uint64_t kraft = 0;
        for (size_t s = 0; s < freq.size(); s++) {
            ASSERT_LE(len[s], limit);
            EXPECT_EQ(len[s] != 0, freq[s] != 0) << s;
            if (len[s]) kraft += uint64_t(1) << (limit - len[s]);
        }
        EXPECT_EQ(kraft, uint64_t(1) << limit) << freq.size() << " symbols";
    }
    // The rarer symbol never gets the shorter code.
    std::vector<uint8_t> len(40);
    huffman_lengths(fib.data(), len.data(), 40, 15);
    for (int s = 1; s < 40; s++) EXPECT_GE(len[size_t(s - 1)], len[size_t(s)]);
}

TEST(HuffmanLengths, FewerThanTwoSymbolsStillGiveTwoCodes) {
    struct one {
        std::vector<uint32_t> freq;
        std::vector<uint8_t> lengths;
    };
    for (const one& c : std::vector<one>{{{0, 0, 0, 0}, {1, 1, 0, 0}},
                                         {{7, 0, 0, 0}, {1, 1, 0, 0}},
                                         {{0, 7, 0, 0}, {1, 1, 0, 0}},
                                         {{0, 0, 0, 7}, {1, 0, 0, 1}}}) {
        std::vector<uint8_t> len(4, 9);
        huffman_lengths(c.freq.data(), len.data(), 4, 15);
        EXPECT_EQ(len, c.lengths);
    }
}
