// services/checksum_sums.cpp: Adler-32, the Internet ones'-complement sum and XXH64.
#include <cstring>

#include "services/checksum.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zyl::checksum {

namespace {

// {== Adler-32
//
// Both sums are reduced modulo 65521 at least every RUN bytes: 5552 is the longest run after
// which b (the larger) still fits 32 bits from the largest reduced start. Where the reduction
// falls does not change the result.

constexpr uint32_t BASE = 65521;
constexpr size_t RUN = 5552;

void adler_scalar_run(uint32_t& a, uint32_t& b, const uint8_t* p, size_t n) {
    for (; n >= 16; p += 16, n -= 16) {
        for (int i = 0; i < 16; i++) {
            a += p[i];
            b += a;
        }
    }
    for (; n > 0; p++, n--) {
        a += *p;
        b += a;
    }
}

using adler_run_fn = void (*)(uint32_t&, uint32_t&, const uint8_t*, size_t);

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline uint32_t sum_lanes(__m256i v) {
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    return uint32_t(_mm_cvtsi128_si32(s));
}

// 32 bytes a step: a grows by their sum, b by 32 times the a before them plus the bytes
// weighted 32 down to 1. The a before each step is summed lane-wise and multiplied at the end.
__attribute__((target("avx2"))) void adler_avx2_run(uint32_t& a, uint32_t& b, const uint8_t* p, size_t n) {
    const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                                             14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i va = zero, vprev = zero, vb = zero;
    size_t steps = n / 32;
    for (size_t i = 0; i < steps; i++, p += 32) {
        __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        vprev = _mm256_add_epi32(vprev, va);
        va = _mm256_add_epi32(va, _mm256_sad_epu8(bytes, zero));
        vb = _mm256_add_epi32(vb, _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, weights), ones));
    }
    b += uint32_t(steps * 32) * a + 32 * sum_lanes(vprev) + sum_lanes(vb);
    a += sum_lanes(va);
    adler_scalar_run(a, b, p, n % 32);
}

#endif

adler_run_fn pick_adler_run() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &adler_avx2_run;
#endif
    return &adler_scalar_run;
}

const adler_run_fn adler_fast_run = pick_adler_run();

uint32_t adler_with(adler_run_fn run, uint32_t adler, const uint8_t* p, size_t len) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (len > 0) {
        size_t n = len < RUN ? len : RUN;
        run(a, b, p, n);
        a %= BASE;
        b %= BASE;
        p += n, len -= n;
    }
    return (b << 16) | a;
}

// }==
// {== XXH64

constexpr uint64_t P1 = 0x9E3779B185EBCA87ull, P2 = 0xC2B2AE3D27D4EB4Full, P3 = 0x165667B19E3779F9ull,
                   P4 = 0x85EBCA77C2B2AE63ull, P5 = 0x27D4EB2F165667C5ull;

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t round(uint64_t acc, uint64_t input) { return rotl(acc + input * P2, 31) * P1; }
inline uint64_t merge(uint64_t h, uint64_t v) { return (h ^ round(0, v)) * P1 + P4; }

// }==

} // namespace

uint32_t adler32_update(uint32_t adler, const uint8_t* data, size_t len) {
    return adler_with(adler_fast_run, adler, data, len);
}

uint32_t adler32_update_scalar(uint32_t adler, const uint8_t* data, size_t len) {
    return adler_with(&adler_scalar_run, adler, data, len);
}

// 32-bit little-endian words are summed in 64 bits (2^16 = 1 in ones'-complement arithmetic,
// so they sum as their 16-bit halves do), folded, and turned to big-endian order by a byte
// swap, which the end-around carry makes exact. The odd last byte is added as it stands.
uint32_t tcp(const uint8_t* data, size_t len) {
    constexpr size_t CHUNK = size_t(1) << 30; // far below 2^32 words: the sum cannot overflow
    uint64_t folded = 0;
    size_t even = len & ~size_t(3);
    for (size_t start = 0; start < even; start += CHUNK) {
        size_t end = even - start < CHUNK ? even : start + CHUNK;
        uint64_t sum = folded;
        for (size_t i = start; i < end; i += 4) sum += load32(data + i);
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        folded = sum;
    }
    if (len & 2) {
        folded += uint32_t(data[even + 1]) << 8 | data[even]; // a little-endian half word, like the rest
        while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
    }
    uint64_t sum = ((folded & 0xFF) << 8) | (folded >> 8);
    if (len & 1) sum += data[len - 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(~sum & 0xFFFF);
}

uint64_t xxh64(const uint8_t* p, size_t len) {
    const uint8_t* end = p + len;
    uint64_t h;
    if (len >= 32) {
        uint64_t v1 = P1 + P2, v2 = P2, v3 = 0, v4 = 0 - P1;
        for (; end - p >= 32; p += 32) {
            v1 = round(v1, load64(p));
            v2 = round(v2, load64(p + 8));
            v3 = round(v3, load64(p + 16));
            v4 = round(v4, load64(p + 24));
        }
        h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
        h = merge(merge(merge(merge(h, v1), v2), v3), v4);
    } else {
        h = P5;
    }
    h += len;
    for (; end - p >= 8; p += 8) h = rotl(h ^ round(0, load64(p)), 27) * P1 + P4;
    if (end - p >= 4) {
        h = rotl(h ^ (uint64_t(load32(p)) * P1), 23) * P2 + P3;
        p += 4;
    }
    for (; p < end; p++) h = rotl(h ^ (*p * P5), 11) * P1;
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    return h ^ (h >> 32);
}

} // namespace zyl::checksum
