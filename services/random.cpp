// services/random.cpp: the signed twisted-feedback generator, secure draws over getrandom(2),
// and draws within a range.
#include "services/random.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>

#include "runtime/common.h"

namespace zyl::random {

generator state;
uint32_t hash_seed;

namespace {

constexpr int SHIFT = 397;
constexpr uint32_t MATRIX = 0x9908B0DF;
constexpr uint32_t UPPER = 0x80000000;
constexpr uint32_t LOWER = 0x7FFFFFFF;
constexpr int RT_UNKNOWN = 99; // runtime error: the secure source failed

// Wrap-around arithmetic is done on unsigned words; shifts right go through the signed word,
// which C++20 defines as arithmetic.
inline uint32_t u(int32_t x) { return static_cast<uint32_t>(x); }
inline int32_t s(uint32_t x) { return static_cast<int32_t>(x); }
inline uint32_t asr(uint32_t x, int k) { return u(s(x) >> k); }

// word[i] from the bits of [hi] above bit 30 and [lo] below it, and the word SHIFT ahead.
inline int32_t twist_one(int32_t hi, int32_t lo, int32_t ahead) {
    uint32_t y = (u(hi) & UPPER) | (u(lo) & LOWER);
    return s(u(ahead) ^ asr(y, 1) ^ ((y & 1) ? MATRIX : 0));
}

// Regenerates all words in place, in order, so later steps read words already replaced.
void twist() {
    int32_t* w = state.words;
    for (int i = 0; i < WORDS - 1; i++) w[i] = twist_one(w[i], w[i + 1], w[(i + SHIFT) % WORDS]);
    w[WORDS - 1] = twist_one(w[WORDS - 1], w[0], w[SHIFT - 1]);
}

int32_t temper(int32_t word) {
    uint32_t y = u(word);
    y ^= asr(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    return s(y ^ asr(y, 18)); // bit 31 cancels against its own copy: always 0
}

int32_t draw(bool secure) { return secure ? secure_int31() : next_int32(); }

} // namespace

void init() {
    seed(INIT_SEED);
    hash_seed = HASH_SEED;
}

void seed(int32_t value) {
    int32_t* w = state.words;
    w[0] = value;
    for (int i = 1; i < WORDS; i++) {
        uint32_t prev = u(w[i - 1]);
        w[i] = s(1812433253u * (prev ^ asr(prev, 30)) + static_cast<uint32_t>(i));
    }
    state.index = 0;
}

int32_t next_int32() {
    if (state.index >= WORDS) {
        state.index = 0;
        twist();
    }
    return temper(state.words[state.index++]);
}

bool crypto_bytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t got = getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

int32_t secure_int31() {
    uint8_t b[4];
    // Without its secure source the program must not hand out guessable numbers as secure.
    if (!crypto_bytes(b, sizeof b)) runtime_error(RT_UNKNOWN);
    uint32_t word = b[0] | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return s(word & LOWER);
}

int32_t in_range(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure); // |n| has no int32; every draw fits below -1
    int32_t m = n < 0 ? -n : n;
    int32_t limit = m * (INT32_MAX / m); // the top partial bucket is rejected
    int32_t d;
    do {
        d = draw(secure);
    } while (d >= limit);
    int32_t r = d % m + 1;
    return n < 0 ? -r : r;
}

} // namespace zyl::random
