// runtime/base_codecs.cpp: the base-2, base-16, base-58 and base-64 encoders and decoders.
// Decoding rules: runtime/base_codecs.h.
#include "runtime/base_codecs.h"

#include <cstring>
#include <memory>
#include <vector>

#include "runtime/collector.h"

namespace zyl::binary {

// {== Internal functions

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr char B64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char B58_DIGITS[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

constexpr uint8_t SKIP = 0x40; // a decode-table entry for a character passed over
constexpr uint8_t BAD = 0x80;  // ... and for one that makes the text invalid

// A decode table of the 128 ASCII code points: digit values from [alphabet], the blanks and
// the apostrophe skipped, everything else invalid.
struct digit_table {
    uint8_t v[128];
    constexpr explicit digit_table(const char* alphabet) : v{} {
        for (uint8_t& e : v) e = BAD;
        for (uint8_t c : {8, 9, 10, 12, 13, 32, 39}) v[c] = SKIP;
        for (uint8_t i = 0; alphabet[i]; i++) v[uint8_t(alphabet[i])] = i;
    }
};
constexpr digit_table B64_TABLE(B64_DIGITS);
constexpr digit_table B58_TABLE(B58_DIGITS);

// Hexadecimal digit values, 0xFF for every other ASCII code point.
struct hex_table {
    uint8_t v[128];
    constexpr hex_table() : v{} {
        for (uint8_t& e : v) e = 0xFF;
        for (uint8_t i = 0; i < 16; i++) v[uint8_t(HEX_DIGITS[i])] = i;
        for (uint8_t i = 10; i < 16; i++) v[uint8_t('a' + i - 10)] = i;
    }
};
constexpr hex_table HEX_TABLE;

// The code point [i] of text of unit [U].
template <uint32_t U> inline uint32_t cp_at(const uint8_t* p, uint32_t i) {
    if constexpr (U == 1) {
        return p[i];
    } else if constexpr (U == 2) {
        uint16_t v;
        std::memcpy(&v, p + uint64_t(i) * 2, 2);
        return v;
    } else {
        uint32_t v;
        std::memcpy(&v, p + uint64_t(i) * 4, 4);
        return v;
    }
}

// The position of the line feed that ends the comment started at [i], or [length].
template <uint32_t U> uint32_t comment_end(const uint8_t* p, uint32_t i, uint32_t length) {
    while (i < length && cp_at<U>(p, i) != '\n') i++;
    return i;
}

// A new byte series of [capacity] bytes; [text] is kept pointing at its characters should
// the allocation move the buffer they lie in.
node_id alloc_pinned(const uint8_t*& text, uint64_t capacity) {
    auto* p = const_cast<uint8_t*>(text);
    collector::pin pin_text(&p);
    node_id n = series::alloc_bytes(capacity);
    text = p;
    return n;
}

// Ends the content of [n] at [out].
node_id finish(node_id n, uint8_t* out) {
    memory::buffer_of(n)->tail = out;
    return n;
}

template <uint32_t U> node_id decode_2_as(const uint8_t* text, uint32_t length) {
    node_id n = alloc_pinned(text, length / 8);
    uint8_t* out = memory::buffer_of(n)->head; // nothing allocates from here on
    uint32_t acc = 0, bits = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = cp_at<U>(text, i);
        if (c == ';') {
            i = comment_end<U>(text, i, length);
            continue;
        }
        if (c <= 32) continue;
        if (c != '0' && c != '1') return 0;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            *out++ = static_cast<uint8_t>(acc);
            acc = bits = 0;
        }
    }
    return bits ? 0 : finish(n, out);
}

template <uint32_t U> node_id decode_16_as(const uint8_t* text, uint32_t length) {
    node_id n = alloc_pinned(text, length / 2);
    uint8_t* out = memory::buffer_of(n)->head;
    uint32_t acc = 0;
    bool half = false;
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = cp_at<U>(text, i);
        if (c == ';') {
            i = comment_end<U>(text, i, length);
            continue;
        }
        if (c > 127) return 0; // never folded onto an ASCII digit
        if (c <= 32) continue;
        uint8_t v = HEX_TABLE.v[c];
        if (v > 15) return 0;
        acc = acc << 4 | v;
        if (half) *out++ = static_cast<uint8_t>(acc);
        half = !half;
    }
    return finish(n, out);
}

// Stores the bytes of [pending] (2 or 3) base-64 digits accumulated in [acc]; false for 0 or 1.
inline bool flush_64(uint32_t acc, uint32_t pending, uint8_t*& out) {
    if (pending == 2) {
        *out++ = static_cast<uint8_t>(acc >> 4);
    } else if (pending == 3) {
        *out++ = static_cast<uint8_t>(acc >> 10);
        *out++ = static_cast<uint8_t>(acc >> 2);
    } else {
        return pending == 0;
    }
    return true;
}

template <uint32_t U> node_id decode_64_as(const uint8_t* text, uint32_t length) {
    node_id n = alloc_pinned(text, (uint64_t(length) + 3) * 3 / 4);
    uint8_t* out = memory::buffer_of(n)->head;
    uint32_t acc = 0, pending = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = cp_at<U>(text, i);
        if (c == ';') {
            i = comment_end<U>(text, i, length);
            continue;
        }
        if (c > 127) return 0;
        if (c == '=') return pending >= 2 && flush_64(acc, pending, out) ? finish(n, out) : 0;
        uint8_t v = B64_TABLE.v[c];
        if (v == BAD) return 0;
        if (v == SKIP) continue;
        acc = acc << 6 | v;
        if (++pending == 4) {
            out[0] = static_cast<uint8_t>(acc >> 16);
            out[1] = static_cast<uint8_t>(acc >> 8);
            out[2] = static_cast<uint8_t>(acc);
            out += 3;
            acc = pending = 0;
        }
    }
    return flush_64(acc, pending, out) ? finish(n, out) : 0;
}

// The base-58 digit values of the text into [digits]; their count, or -1 when invalid.
template <uint32_t U> int64_t scan_58(const uint8_t* text, uint32_t length, uint8_t* digits) {
    int64_t count = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = cp_at<U>(text, i);
        if (c == ';') {
            i = comment_end<U>(text, i, length);
            continue;
        }
        if (c > 127) return -1;
        uint8_t v = B58_TABLE.v[c];
        if (v == BAD) return -1;
        if (v != SKIP) digits[count++] = v;
    }
    return count;
}

// 58 to the power [k] (k <= 5: below 2^30).
constexpr uint64_t pow58(uint32_t k) { return k == 0 ? 1 : 58 * pow58(k - 1); }
constexpr uint64_t CHUNK_58 = pow58(5);

// Writes the big-endian bytes of the number whose base-58 [digits] ([count] of them, none a
// leading zero) are given, without leading zero bytes, at [out]; returns the end. Digits are
// taken five at a time into 32-bit limbs, least significant limb first.
uint8_t* digits_to_bytes(const uint8_t* digits, uint32_t count, uint8_t* out) {
    std::vector<uint32_t> limbs;
    limbs.reserve(count / 5 + 2);
    for (uint32_t i = 0; i < count; i += 5) {
        uint32_t k = count - i < 5 ? count - i : 5;
        uint64_t carry = 0;
        for (uint32_t j = 0; j < k; j++) carry = carry * 58 + digits[i + j];
        uint64_t mul = pow58(k);
        for (uint32_t& limb : limbs) {
            uint64_t t = limb * mul + carry;
            limb = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        if (carry) limbs.push_back(static_cast<uint32_t>(carry));
    }
    bool lead = true;
    for (size_t l = limbs.size(); l-- > 0;) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            auto byte = static_cast<uint8_t>(limbs[l] >> shift);
            if (lead && byte == 0) continue;
            lead = false;
            *out++ = byte;
        }
    }
    return out;
}

template <uint32_t U> node_id decode_58_as(const uint8_t* text, uint32_t length) {
    std::unique_ptr<uint8_t[]> digits(new uint8_t[length ? length : 1]);
    int64_t count = scan_58<U>(text, length, digits.get());
    if (count < 0) return 0;
    node_id n = series::alloc_bytes(uint64_t(count)); // the text is not read again
    uint32_t zeros = 0;
    while (zeros < count && digits[zeros] == 0) zeros++;
    uint8_t* out = memory::buffer_of(n)->head;
    std::memset(out, 0, zeros);
    out = digits_to_bytes(digits.get() + zeros, uint32_t(count) - zeros, out + zeros);
    return finish(n, out);
}

// Calls the decoder instance for [unit].
template <node_id (*D1)(const uint8_t*, uint32_t), node_id (*D2)(const uint8_t*, uint32_t),
          node_id (*D4)(const uint8_t*, uint32_t)>
node_id by_unit(const uint8_t* text, uint32_t length, uint32_t unit) {
    if (unit == 1) return D1(text, length);
    if (unit == 2) return D2(text, length);
    ZYL_ASSERT(unit == 4);
    return D4(text, length);
}

} // namespace

// }==
// {== Encoders

uint8_t* encode_2(uint8_t* dst, const uint8_t* src, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        uint8_t b = src[i];
        for (int bit = 7; bit >= 0; bit--) *dst++ = static_cast<uint8_t>('0' + ((b >> bit) & 1));
    }
    return dst;
}

uint8_t* encode_16(uint8_t* dst, const uint8_t* src, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        *dst++ = static_cast<uint8_t>(HEX_DIGITS[src[i] >> 4]);
        *dst++ = static_cast<uint8_t>(HEX_DIGITS[src[i] & 15]);
    }
    return dst;
}

uint8_t* encode_58(uint8_t* dst, const uint8_t* src, uint32_t count) {
    uint32_t zeros = 0;
    while (zeros < count && src[zeros] == 0) zeros++;
    // The number as big-endian 32-bit limbs; the first limb takes the odd bytes.
    uint32_t bytes = count - zeros;
    std::vector<uint32_t> limbs((bytes + 3) / 4);
    for (uint32_t i = 0; i < bytes; i++) {
        uint32_t from_end = bytes - 1 - i;
        limbs[limbs.size() - 1 - from_end / 4] |= uint32_t(src[zeros + i]) << (8 * (from_end % 4));
    }
    // Divide by 58^5 while the number is not 0; each remainder gives five digits, least
    // significant first.
    std::vector<uint8_t> digits;
    digits.reserve(size_t(bytes) * 138 / 100 + 6);
    size_t start = 0;
    while (start < limbs.size()) {
        uint64_t rem = 0;
        for (size_t j = start; j < limbs.size(); j++) {
            uint64_t t = rem << 32 | limbs[j];
            limbs[j] = static_cast<uint32_t>(t / CHUNK_58);
            rem = t % CHUNK_58;
        }
        while (start < limbs.size() && limbs[start] == 0) start++;
        for (int k = 0; k < 5; k++, rem /= 58) digits.push_back(static_cast<uint8_t>(rem % 58));
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    std::memset(dst, '1', zeros);
    dst += zeros;
    for (size_t i = digits.size(); i-- > 0;) *dst++ = static_cast<uint8_t>(B58_DIGITS[digits[i]]);
    return dst;
}

uint8_t* encode_64(uint8_t* dst, const uint8_t* src, uint32_t count) {
    uint32_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t v = uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *dst++ = static_cast<uint8_t>(B64_DIGITS[(v >> shift) & 63]);
    }
    uint32_t left = count - i;
    if (left == 0) return dst;
    uint32_t v = uint32_t(src[i]) << 16 | (left == 2 ? uint32_t(src[i + 1]) << 8 : 0);
    dst[0] = static_cast<uint8_t>(B64_DIGITS[v >> 18]);
    dst[1] = static_cast<uint8_t>(B64_DIGITS[(v >> 12) & 63]);
    dst[2] = left == 2 ? static_cast<uint8_t>(B64_DIGITS[(v >> 6) & 63]) : '=';
    dst[3] = '=';
    return dst + 4;
}

bool encoded_size(int32_t base, uint64_t count, uint64_t& size) {
    switch (base) {
    case 2: size = count * 8; break;
    case 16: case 58: size = count * 2; break;
    case 64: size = (count + 2) / 3 * 4; break;
    default: return false;
    }
    return count <= UINT32_MAX && size <= MAX_BUFFER_BYTES;
}

// }==
// {== Decoders

node_id decode_2(const uint8_t* text, uint32_t length, uint32_t unit) {
    return by_unit<decode_2_as<1>, decode_2_as<2>, decode_2_as<4>>(text, length, unit);
}

node_id decode_16(const uint8_t* text, uint32_t length, uint32_t unit) {
    return by_unit<decode_16_as<1>, decode_16_as<2>, decode_16_as<4>>(text, length, unit);
}

node_id decode_58(const uint8_t* text, uint32_t length, uint32_t unit) {
    return by_unit<decode_58_as<1>, decode_58_as<2>, decode_58_as<4>>(text, length, unit);
}

node_id decode_64(const uint8_t* text, uint32_t length, uint32_t unit) {
    return by_unit<decode_64_as<1>, decode_64_as<2>, decode_64_as<4>>(text, length, unit);
}

// }==

} // namespace zyl::binary
