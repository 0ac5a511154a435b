// services/random.h: the process-wide pseudo-random generator, the secure source, and the
// hash seed of the run-time's tables.
//
// The generator is a 624-word twisted generalised feedback shift register with the MT19937
// constants, computed on signed 32-bit words so that every right shift is arithmetic. Its
// sequences are therefore its own: they differ from the reference MT19937 as soon as bit 31
// of a word is set, and seeded sequences only repeat when that arithmetic is kept exactly.
//
// Invariant: 0 <= index <= 624; index counts the words already drawn, and 624 means the
// words are twisted before the next draw. A seeding sets index to 0, so the first 624 draws
// temper the seeded words themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::random {

constexpr int WORDS = 624;
constexpr int32_t INIT_SEED = 19650218;
constexpr uint32_t HASH_SEED = 0x9E3779B9; // any fixed value serves; the same in every run

struct generator {
    int32_t words[WORDS];
    int32_t index; // words already drawn; see the invariant above
};

extern generator state;
// The seed of MurmurHash3 for every hash table; set once by init, before any table exists.
extern uint32_t hash_seed;

// Seeds the generator with INIT_SEED and sets hash_seed; once, at start-up.
void init();
// Restarts the sequence from [seed].
void seed(int32_t seed);
// The next pseudo-random draw, in 0 .. 2^31 - 1.
int32_t next_int32();
// Fills [length] bytes at [buffer] from the system's cryptographic source; false when the
// system refuses.
bool crypto_bytes(void* buffer, size_t length);
// Four secure bytes as a little-endian word, masked to 0 .. 2^31 - 1.
int32_t secure_int31();
// A draw from 1 .. [n] (from [n] .. -1 when negative; 0 for 0, without drawing), from the
// secure source when [secure]. Rejection keeps every result equally likely.
int32_t in_range(bool secure, int32_t n);

} // namespace zyl::random
