// runtime/murmur.h: MurmurHash3 (x86, 32-bit), its finaliser and the power-of-two sizing that
// the hash tables share.
//
// Every table hashes with the run-time's seed (random::hash_seed, fixed by random::init before
// any table exists), so the hashes, and with them probe orders, are the same in every run.
// The body is exposed block by block (mix_block, finish) so that text can be hashed one code
// point per 32-bit block, whatever the unit width it is stored at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "services/random.h"

namespace zyl::hash {

constexpr uint32_t C1 = 0xCC9E2D51;
constexpr uint32_t C2 = 0x1B873593;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// Mixes the 32-bit block [k] into the running hash [h]; returns the new hash.
inline uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

// Mixes the last 1 to 3 bytes, gathered little-endian in [k], into [h].
inline uint32_t mix_tail(uint32_t h, uint32_t k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    return h ^ k;
}

// The finaliser alone on [x]: no seed. Spreads every input bit over the whole word.
inline uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6B;
    x ^= x >> 13;
    x *= 0xC2B2AE35;
    x ^= x >> 16;
    return x;
}

// The four bytes of [v] with each of A-Z turned into a-z: a byte gets 0x20 exactly when it
// lies in 0x41..0x5A. Computed on 7-bit lanes so that no lane carries into the next.
inline uint32_t lower4(uint32_t v) {
    uint32_t low7 = v & 0x7F7F7F7F;
    uint32_t ge_a = low7 + 0x3F3F3F3F;  // bit 7 set where the low 7 bits are >= 0x41
    uint32_t gt_z = low7 + 0x25252525;  // bit 7 set where they are >= 0x5B
    uint32_t upper = ge_a & ~gt_z & ~v & 0x80808080; // and the byte itself below 0x80
    return v | (upper >> 2);
}

// Byte [c] with A-Z turned into a-z.
inline uint8_t lower1(uint8_t c) { return static_cast<uint8_t>(static_cast<uint32_t>(c - 'A') < 26 ? c | 0x20 : c); }

// Ends a hash [h] over [length] bytes.
inline uint32_t finish(uint32_t h, uint32_t length) { return mix32(h ^ length); }

// The seed every table hashes with.
inline uint32_t seed() { return random::hash_seed; }

// MurmurHash3 x86 32-bit of the [length] bytes at [bytes], with the run-time's seed.
uint32_t murmur3(const void* bytes, size_t length);
// murmur3 of the bytes with ASCII A-Z read as a-z (no other byte changes): the hash of a
// symbol name, which every ASCII case variant of the name shares.
uint32_t murmur3_lower(const void* bytes, size_t length);

// The smallest power of two not below [n]; 0 for 0 and for n above 2^31.
inline uint32_t next_pow2(uint32_t n) {
    n--;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

} // namespace zyl::hash
