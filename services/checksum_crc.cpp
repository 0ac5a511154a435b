// services/checksum_crc.cpp: CRC-32 (reflected polynomial 0xEDB88320, all-ones start,
// inverted result): the byte table, slicing-by-8, and carry-less-multiply folding.
//
// Inside this file the register is the raw one: crc32_update inverts on the way in and out.
// Every path is linear in the register, which is what lets the folding path hand its last
// 16 bytes to the table with a register of 0.
#include <cstring>

#include "services/checksum.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zyl::checksum {

namespace {

constexpr uint32_t POLY = 0xEDB88320;

// {== Tables: row 0 is the byte table; row k advances a byte through k further zero bytes.

struct crc_tables {
    uint32_t t[8][256];
};

constexpr crc_tables make_tables() {
    crc_tables r{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
        r.t[0][i] = c;
    }
    for (int k = 1; k < 8; k++) {
        for (uint32_t i = 0; i < 256; i++) r.t[k][i] = (r.t[k - 1][i] >> 8) ^ r.t[0][r.t[k - 1][i] & 0xFF];
    }
    return r;
}

constexpr crc_tables tables = make_tables();
static_assert(tables.t[0][1] == 0x77073096 && tables.t[0][255] == 0x2D02EF8D);

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v; // little-endian: the byte order the reflected register consumes
}

// }==
// {== Portable paths

uint32_t raw_table(uint32_t crc, const uint8_t* p, size_t len) {
    for (size_t i = 0; i < len; i++) crc = (crc >> 8) ^ tables.t[0][(crc ^ p[i]) & 0xFF];
    return crc;
}

uint32_t raw_sliced(uint32_t crc, const uint8_t* p, size_t len) {
    const auto& t = tables.t;
    for (; len >= 8; p += 8, len -= 8) {
        uint32_t a = load32(p) ^ crc;
        uint32_t b = load32(p + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][b & 0xFF] ^
              t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    }
    return raw_table(crc, p, len);
}

// }==
// {== Folding with carry-less multiply
//
// A 16-byte lane loaded little-endian holds the polynomial of its bits bit-reversed. Moving a
// lane D bits further along the message multiplies it by x^D; split into halves, that is
// hi * (x^(D+64) mod P) + lo * (x^D mod P), each product short enough for 128 bits. The
// reflected multiply yields the product times x, so the constants carry one power less.

#if defined(__x86_64__)

// x^n mod P in the normal (unreflected) domain, P = 0x104C11DB7.
constexpr uint64_t xpow_mod(uint32_t n) {
    uint64_t r = 1;
    for (uint32_t i = 0; i < n; i++) {
        r <<= 1;
        if (r & 0x100000000) r ^= 0x104C11DB7;
    }
    return r;
}

constexpr uint64_t reflect64(uint64_t v) {
    uint64_t r = 0;
    for (int i = 0; i < 64; i++) r |= ((v >> i) & 1) << (63 - i);
    return r;
}

// The constants for the low and high halves of a lane moved [d] bits.
struct fold_constants {
    uint64_t lo, hi;
};
constexpr fold_constants fold_by(uint32_t d) { return {reflect64(xpow_mod(d + 63)), reflect64(xpow_mod(d - 1))}; }

constexpr fold_constants FOLD_512 = fold_by(512); // four lanes at a time
constexpr fold_constants FOLD_128 = fold_by(128); // one lane

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul,sse4.1"))) uint32_t raw_clmul(uint32_t crc, const uint8_t* p, size_t len) {
    if (len < 64) return raw_sliced(crc, p, len);
    const __m128i k512 = _mm_set_epi64x(int64_t(FOLD_512.hi), int64_t(FOLD_512.lo));
    const __m128i k128 = _mm_set_epi64x(int64_t(FOLD_128.hi), int64_t(FOLD_128.lo));
    // The register enters as the first four bytes' partner, so the lanes start from 0.
    __m128i a0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(int32_t(crc)));
    __m128i a1 = load128(p + 16), a2 = load128(p + 32), a3 = load128(p + 48);
    p += 64, len -= 64;
    for (; len >= 64; p += 64, len -= 64) {
        a0 = _mm_xor_si128(fold(a0, k512), load128(p));
        a1 = _mm_xor_si128(fold(a1, k512), load128(p + 16));
        a2 = _mm_xor_si128(fold(a2, k512), load128(p + 32));
        a3 = _mm_xor_si128(fold(a3, k512), load128(p + 48));
    }
    __m128i x = _mm_xor_si128(fold(a0, k128), a1);
    x = _mm_xor_si128(fold(x, k128), a2);
    x = _mm_xor_si128(fold(x, k128), a3);
    for (; len >= 16; p += 16, len -= 16) x = _mm_xor_si128(fold(x, k128), load128(p));
    // The lane now stands for everything before it: its CRC from a register of 0 is theirs.
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
    return raw_sliced(raw_sliced(0, rest, 16), p, len);
}

#endif

using raw_fn = uint32_t (*)(uint32_t, const uint8_t*, size_t);

// Chosen once, before main, from what the processor offers.
raw_fn pick_fast_path() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) return &raw_clmul;
#endif
    return &raw_sliced;
}

const raw_fn fast_path = pick_fast_path();

// }==

} // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t len) { return ~fast_path(~crc, data, len); }
uint32_t crc32_update_table(uint32_t crc, const uint8_t* data, size_t len) { return ~raw_table(~crc, data, len); }
uint32_t crc32_update_sliced(uint32_t crc, const uint8_t* data, size_t len) { return ~raw_sliced(~crc, data, len); }

} // namespace zyl::checksum
