// services/zstd_format.cpp: the zstd sequence code tables, the predefined distributions and
// the reading and spreading of FSE table descriptions.
#include "services/zstd_format.h"

namespace zyl::zstd {

const int16_t PREDEFINED[3][53] = {
    {4, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 2, 1, 1, 1, 1, 1, -1, -1, -1, -1},
    {1, 1, 1, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1},
    {1, 4, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
     1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1},
};

const uint32_t LL_BASE[36] = {0,  1,  2,   3,   4,   5,   6,    7,    8,    9,     10,    11,
                              12, 13, 14,  15,  16,  18,  20,   22,   24,   28,    32,    40,
                              48, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};
const uint8_t LL_BITS[36] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                             1, 1, 2, 2, 3, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint32_t ML_BASE[53] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  12,  13,   14,   15,   16,   17,    18,    19,   20,
                              21, 22, 23, 24, 25, 26, 27, 28,  29,  30,  31,   32,   33,   34,   35,    37,    39,   41,
                              43, 47, 51, 59, 67, 83, 99, 131, 259, 515, 1027, 2051, 4099, 8195, 16387, 32771, 65539};
const uint8_t ML_BITS[53] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const length_codes LENGTH_CODES = [] {
    length_codes c{};
    for (int k = 0; k < 36; k++)
        for (uint32_t v = LL_BASE[k]; v < 64 && v < LL_BASE[k] + (1u << LL_BITS[k]); v++) c.ll[v] = uint8_t(k);
    for (int k = 0; k < 53; k++)
        for (uint32_t v = ML_BASE[k] - 3; v < 128 && v < ML_BASE[k] - 3 + (1u << ML_BITS[k]); v++) c.ml[v] = uint8_t(k);
    return c;
}();

size_t read_ncount(const uint8_t* p, size_t len, int max_symbol, int max_log, int16_t* norm, int& log) {
    if (len == 0) return 0;
    size_t bit = 0, limit = len * 8;
    // The next [n] bits (n <= 16) of the forward stream; bits past its end read as zero.
    auto get = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; i++) {
            size_t b = bit + size_t(i);
            if (b < limit) v |= uint32_t(p[b >> 3] >> (b & 7) & 1) << i;
        }
        return v;
    };
    log = int(get(4)) + 5;
    bit = 4;
    if (log > max_log) return 0;
    int remaining = (1 << log) + 1, threshold = 1 << log, nbits = log + 1, s = 0;
    bool previous0 = false;
    while (remaining > 1 && s <= max_symbol) {
        if (previous0) { // a run of zero counts: 2-bit repeats, 3 meaning more follow
            for (;;) {
                uint32_t r = get(2);
                bit += 2;
                if (bit > limit) return 0;
                for (uint32_t i = 0; i < r; i++) {
                    if (s > max_symbol) return 0;
                    norm[s++] = 0;
                }
                if (r != 3) break;
            }
            if (s > max_symbol) return 0;
        }
        int max = 2 * threshold - 1 - remaining, value;
        uint32_t low = get(nbits - 1);
        if (int(low) < max) {
            value = int(low);
            bit += size_t(nbits - 1);
        } else {
            value = int(get(nbits));
            if (value >= threshold) value -= max;
            bit += size_t(nbits);
        }
        if (bit > limit) return 0;
        int count = value - 1;
        remaining -= count < 0 ? -count : count;
        norm[s++] = int16_t(count);
        previous0 = count == 0;
        if (remaining < 1) return 0;
        while (remaining < threshold) {
            nbits--;
            threshold >>= 1;
        }
    }
    if (remaining != 1) return 0;
    while (s <= max_symbol) norm[s++] = 0;
    return (bit + 7) >> 3;
}

int spread_symbols(uint8_t* symbol_at, const int16_t* norm, int max_symbol, int log) {
    int size = 1 << log, high = size - 1;
    int64_t total = 0;
    for (int s = 0; s <= max_symbol; s++) {
        if (norm[s] == -1) {
            if (high < 0) return -1;
            symbol_at[high--] = uint8_t(s);
            total++;
        } else {
            total += norm[s];
        }
    }
    if (total != size) return -1;
    int step = (size >> 1) + (size >> 3) + 3, mask = size - 1, pos = 0;
    for (int s = 0; s <= max_symbol; s++)
        for (int i = 0; i < norm[s]; i++) {
            symbol_at[pos] = uint8_t(s);
            do pos = (pos + step) & mask;
            while (pos > high);
        }
    return pos == 0 ? high + 1 : -1;
}

bool build_fse_table(fse_entry* table, const int16_t* norm, int max_symbol, int log) {
    uint8_t symbol_at[1 << 9];
    if (spread_symbols(symbol_at, norm, max_symbol, log) < 0) return false;
    uint16_t next[256];
    for (int s = 0; s <= max_symbol; s++) next[s] = uint16_t(norm[s] == -1 ? 1 : norm[s]);
    int size = 1 << log;
    for (int u = 0; u < size; u++) {
        int s = symbol_at[u];
        uint32_t x = next[s]++;
        int bits = log - highbit(x);
        table[u] = {uint16_t((x << bits) - uint32_t(size)), uint8_t(s), uint8_t(bits)};
    }
    return true;
}

} // namespace zyl::zstd
