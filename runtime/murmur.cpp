// runtime/murmur.cpp: MurmurHash3 x86 32-bit over byte ranges, plain and ASCII-lowered.
#include "runtime/murmur.h"

#include <cstring>

namespace zyl::hash {

namespace {

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

template <bool Lower> uint32_t run(const uint8_t* p, size_t length) {
    uint32_t h = seed();
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++, p += 4) {
        uint32_t k = load32(p);
        h = mix_block(h, Lower ? lower4(k) : k);
    }
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= uint32_t(Lower ? lower1(p[2]) : p[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(Lower ? lower1(p[1]) : p[1]) << 8; [[fallthrough]];
    case 1:
        k ^= Lower ? lower1(p[0]) : p[0];
        h = mix_tail(h, k);
    }
    return finish(h, static_cast<uint32_t>(length));
}

} // namespace

uint32_t murmur3(const void* bytes, size_t length) {
    return run<false>(static_cast<const uint8_t*>(bytes), length);
}

uint32_t murmur3_lower(const void* bytes, size_t length) {
    return run<true>(static_cast<const uint8_t*>(bytes), length);
}

} // namespace zyl::hash
