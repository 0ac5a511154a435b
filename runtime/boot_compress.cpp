// runtime/boot_compress.cpp: the boot image's LZ codec: the bounded bit reader and the decompressor,
// the bit writer and the compressor with its match-selection rules. Format: runtime/boot_compress.h.
#include "runtime/boot_compress.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zyl::boot_compress {

// {== Internal functions

namespace {

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Bytes of slack after the output capacity: match copies run 8 bytes at a time.
constexpr uint64_t COPY_SLACK = 16;

// A bit reader that never reads at or past [end]. The accumulator's bits above [bits] are
// copies of the bytes after [p] (refills OR the same bytes in again), so a refill may load 8
// bytes at once and advance by the whole bytes it kept.
struct bit_reader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t acc = 0;
    uint32_t bits = 0;

    void refill() {
        if (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            acc |= v << bits;
            p += (63 - bits) >> 3;
            bits |= 56;
            return;
        }
        while (bits <= 56 && p < end) {
            acc |= uint64_t(*p++) << bits;
            bits += 8;
        }
    }
    // The next [n] bits (n <= 17); false when the stream ends first.
    bool get(uint32_t n, uint32_t* out) {
        if (bits < n) [[unlikely]] {
            refill();
            if (bits < n) return false;
        }
        *out = uint32_t(acc & ((uint64_t(1) << n) - 1));
        acc >>= n;
        bits -= n;
        return true;
    }
    // The first byte after the bits taken so far: a chunk's padding is dropped.
    const uint8_t* byte_position() const { return p - (bits >> 3); }
    void restart_at(const uint8_t* q) {
        p = q;
        acc = 0;
        bits = 0;
    }
};

// The match length L (3 to 566) coded next; false when the stream ends.
bool read_length(bit_reader& r, uint32_t* length) {
    static constexpr uint8_t base[6] = {0, 4, 8, 12, 20, 52};
    static constexpr uint8_t width[6] = {2, 2, 2, 3, 5, 9};
    uint32_t bit = 0, n = 0;
    int prefix = 0;
    for (; prefix < 5; prefix++) {
        if (!r.get(1, &bit)) return false;
        if (bit) break;
    }
    if (!r.get(width[prefix], &n)) return false;
    *length = n + base[prefix] + 3;
    return true;
}

// The match distance D (1 to 262,144) coded next; false when the stream ends.
bool read_distance(bit_reader& r, uint32_t* distance) {
    uint32_t c = 0, d = 0;
    if (!r.get(4, &c)) return false;
    uint32_t k = c + 2;
    if (k == 2) {
        if (!r.get(3, &d)) return false;
    } else {
        if (!r.get(k, &d)) return false;
        d += 1u << k;
    }
    *distance = d + 1;
    return true;
}

// Copies [length] bytes from [distance] back to [out], byte after byte in effect.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    if (distance >= 8) {
        for (uint32_t i = 0; i < length; i += 8) std::memcpy(out + i, from + i, 8); // may write 7 past
    } else if (distance == 1) {
        std::memset(out, *from, length);
    } else {
        for (uint32_t i = 0; i < length; i++) out[i] = from[i];
    }
}

// Decodes one chunk's tokens into [out, out + length); false on a corrupt stream.
bool decode_chunk(bit_reader& r, uint8_t* out, uint32_t length) {
    uint8_t* at = out;
    uint8_t* end = out + length;
    while (at < end) {
        uint32_t bit = 0;
        if (r.bits < 40) r.refill();
        if (!r.get(1, &bit)) return false;
        if (!bit) {
            uint32_t byte = 0;
            if (!r.get(8, &byte)) return false;
            *at++ = uint8_t(byte);
            continue;
        }
        uint32_t len = 0, distance = 0;
        if (!read_length(r, &len) || !read_distance(r, &distance)) return false;
        if (distance > uint64_t(at - out) || len > uint64_t(end - at)) return false;
        copy_match(at, distance, len);
        at += len;
    }
    return true;
}

// A bit writer over a fixed output; overflowing sets [failed] and writes nothing more.
struct bit_writer {
    uint8_t* out;
    uint64_t capacity;
    uint64_t used = 0;
    uint64_t acc = 0;
    uint32_t bits = 0;
    bool failed = false;

    uint8_t* reserve(uint64_t n) {
        if (failed || capacity - used < n) {
            failed = true;
            return nullptr;
        }
        uint8_t* p = out + used;
        used += n;
        return p;
    }
    void put(uint32_t value, uint32_t n) {
        if (failed) return;
        acc |= uint64_t(value) << bits;
        bits += n;
        while (bits >= 8) {
            uint8_t* p = reserve(1);
            if (!p) return;
            *p = uint8_t(acc);
            acc >>= 8;
            bits -= 8;
        }
    }
    void empty() {
        acc = 0;
        bits = 0;
    }
};

void put_length(bit_writer& w, uint32_t length) {
    uint32_t n = length - 3;
    if (n < 4) w.put(1, 1), w.put(n, 2);
    else if (n < 8) w.put(2, 2), w.put(n - 4, 2);
    else if (n < 12) w.put(4, 3), w.put(n - 8, 2);
    else if (n < 20) w.put(8, 4), w.put(n - 12, 3);
    else if (n < 52) w.put(16, 5), w.put(n - 20, 5);
    else w.put(0, 5), w.put(n - 52, 9);
}

void put_distance(bit_writer& w, uint32_t distance) {
    uint32_t d = distance - 1;
    uint32_t k = 2;
    while (d >= (1u << (k + 1))) k++;
    w.put(k - 2, 4);
    if (k == 2) w.put(d, 3);
    else w.put(d - (1u << k), k);
}

constexpr uint32_t HASH3_SIZE = 1u << 19;
constexpr uint32_t HASH4_SIZE = 1u << 20;
constexpr uint32_t CHAIN_SIZE = MAX_DISTANCE;
constexpr uint32_t CHAIN_STEPS = 256;

// The compressor's tables: heads of the 3-byte and 4-byte hashes, the 4-byte chains, and the
// chunk's window (with room for the bytes that hashing reads past the chunk).
struct tables {
    int32_t head[HASH3_SIZE + HASH4_SIZE];
    int32_t chain[CHAIN_SIZE];
    uint8_t window[CHUNK_MAX + MAX_MATCH];
};

// Bytes equal at [a] and [b], up to [limit].
inline uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// The cost in length that a candidate at [distance] pays against the best one at [best].
inline uint32_t penalty(uint32_t distance, uint32_t best) {
    uint32_t x = distance / 16, p = 0;
    while (x > best) x /= 8, p++;
    return p;
}

void compress_chunk(tables& t, bit_writer& w, uint32_t length) {
    const uint8_t* win = t.window;
    int32_t* head3 = t.head;
    int32_t* head4 = t.head + HASH3_SIZE;
    std::fill(t.head, t.head + HASH3_SIZE + HASH4_SIZE, -1);
    uint32_t h3 = 0, h4 = 0;
    for (uint32_t i = 0; i < 3; i++) h3 = ((h3 << 7) + win[i]) & (HASH3_SIZE - 1);
    for (uint32_t i = 0; i < 4; i++) h4 = ((h4 << 5) + win[i]) & (HASH4_SIZE - 1);
    w.empty();
    uint32_t i = 0;
    while (i < length) {
        uint32_t limit = std::min<uint32_t>(MAX_MATCH, length - i);
        int64_t oldest = std::max<int64_t>(0, int64_t(i) - MAX_DISTANCE);
        uint32_t best_len = 2, best_dist = MAX_DISTANCE;
        int32_t cand = head3[h3];
        if (cand >= oldest && win[cand] == win[i]) {
            uint32_t n = match_length(win + cand, win + i, limit);
            if (n > best_len) best_len = n, best_dist = i - uint32_t(cand);
        }
        if (best_len < MAX_MATCH) {
            cand = head4[h4];
            for (uint32_t step = 0; step < CHAIN_STEPS && cand >= oldest && best_len < limit; step++) {
                if (win[cand + best_len] == win[i + best_len] && win[cand] == win[i]) {
                    uint32_t n = match_length(win + cand, win + i, limit);
                    uint32_t distance = i - uint32_t(cand);
                    if (n > best_len + penalty(distance, best_dist)) best_len = n, best_dist = distance;
                }
                cand = t.chain[uint32_t(cand) % CHAIN_SIZE];
            }
        }
        if (best_len == 3 && best_dist > 65536) best_len = 2;
        uint32_t covered = 1;
        if (best_len >= 3) {
            w.put(1, 1);
            put_length(w, best_len);
            put_distance(w, best_dist);
            covered = best_len;
        } else {
            w.put(uint32_t(win[i]) << 1, 9);
        }
        for (uint32_t end = i + covered; i < end; i++) {
            head3[h3] = int32_t(i);
            t.chain[i % CHAIN_SIZE] = head4[h4];
            head4[h4] = int32_t(i);
            h3 = ((h3 << 7) + win[i + 3]) & (HASH3_SIZE - 1);
            h4 = ((h4 << 5) + win[i + 4]) & (HASH4_SIZE - 1);
        }
    }
    w.put(0, 7);
}

} // namespace

// }==
// {== Decompression

uint8_t* decompress(const uint8_t* block, uint64_t length, uint64_t* out_size) {
    if (length < 8) return nullptr;
    uint64_t payload = load32(block);
    uint64_t declared = load32(block + 4);
    if (payload > length - 8 || declared > payload * MAX_RATIO) return nullptr;
    uint64_t capacity = declared + 8;
    std::unique_ptr<uint8_t, void (*)(void*)> out(static_cast<uint8_t*>(std::malloc(capacity + COPY_SLACK)), std::free);
    if (!out) return nullptr;
    const uint8_t* end = block + 8 + payload;
    const uint8_t* p = block + 8;
    bit_reader r{p, end};
    uint64_t produced = 0;
    while (p < end) {
        if (end - p < 4) return nullptr;
        uint32_t chunk = load32(p);
        if (chunk < 1 || chunk > CHUNK_MAX || capacity - produced < chunk) return nullptr;
        r.restart_at(p + 4);
        if (!decode_chunk(r, out.get() + produced, chunk)) return nullptr;
        produced += chunk;
        p = r.byte_position();
    }
    if (out_size) *out_size = produced;
    return out.release();
}

void free_buffer(uint8_t* buffer) { std::free(buffer); }

// }==
// {== Compression

int64_t compress(const uint8_t* source, uint64_t n, uint8_t* destination) {
    if (n < MIN_INPUT || n > UINT32_MAX) return -1;
    // Kept for the thread's next call: not zeroed, since each chunk resets what it reads.
    thread_local std::unique_ptr<tables> t(new tables);
    bit_writer w{destination + 8, n - 8};
    store32(destination + 4, uint32_t(n));
    for (uint64_t at = 0; at < n && !w.failed; at += CHUNK_MAX) {
        uint32_t length = uint32_t(std::min<uint64_t>(CHUNK_MAX, n - at));
        std::memcpy(t->window, source + at, length);
        std::memset(t->window + length, 0, 8); // the hashes read up to 4 bytes past the chunk
        w.empty();
        if (uint8_t* p = w.reserve(4)) store32(p, length);
        compress_chunk(*t, w, length);
    }
    if (w.failed) return -1;
    store32(destination, uint32_t(w.used));
    return int64_t(w.used) + 8;
}

// }==

} // namespace zyl::boot_compress
