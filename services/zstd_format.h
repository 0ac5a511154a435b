// services/zstd_format.h: what the zstd decoder and encoder share: the frame constants, the
// sequence code tables, the predefined distributions, FSE table descriptions and decoding
// tables, and the backward bit reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zyl::zstd {

constexpr uint32_t MAGIC = 0xFD2FB528;
constexpr uint32_t SKIPPABLE_FIRST = 0x184D2A50, SKIPPABLE_LAST = 0x184D2A5F;
constexpr size_t BLOCK_MAX = 131072;
constexpr size_t MAX_CONTENT = size_t(1) << 31; // content sizes must stay below this

enum block_type { BT_RAW = 0, BT_RLE = 1, BT_COMPRESSED = 2, BT_RESERVED = 3 };
enum lit_type { LT_RAW = 0, LT_RLE = 1, LT_HUFFMAN = 2, LT_TREELESS = 3 };
enum table_mode { TM_PREDEFINED = 0, TM_RLE = 1, TM_FSE = 2, TM_REPEAT = 3 };

// The three sequence alphabets: literal lengths, offsets, match lengths.
enum seq_kind { LL = 0, OF = 1, ML = 2 };
constexpr int MAX_CODE[3] = {35, 31, 52};
constexpr int MAX_LOG[3] = {9, 8, 9};
constexpr int DEFAULT_LOG[3] = {6, 5, 6};
constexpr int PREDEFINED_MAX[3] = {35, 28, 52};
extern const int16_t PREDEFINED[3][53];

extern const uint32_t LL_BASE[36];
extern const uint8_t LL_BITS[36];
extern const uint32_t ML_BASE[53];
extern const uint8_t ML_BITS[53];

// The codes of the small literal and match lengths; larger ones follow from their high bit.
struct length_codes {
    uint8_t ll[64], ml[128];
};
extern const length_codes LENGTH_CODES;

constexpr int HUF_MAX_LOG = 11;
constexpr int HUF_WEIGHT_LOG = 6; // the largest accuracy of an FSE-compressed weight list

inline int highbit(uint32_t v) { return 31 - __builtin_clz(v); } // v > 0
inline uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t le24(const uint8_t* p) { return le16(p) | uint32_t(p[2]) << 16; }
inline uint32_t le32(const uint8_t* p) { return le24(p) | uint32_t(p[3]) << 24; }

inline int ll_code(uint32_t ll) { return ll < 64 ? LENGTH_CODES.ll[ll] : highbit(ll) + 19; }
inline int ml_code(uint32_t ml) { return ml - 3 < 128 ? LENGTH_CODES.ml[ml - 3] : highbit(ml - 3) + 36; }

// The offset value that codes [offset] after [ll] literals for a decoder holding the repeat
// offsets [r], which it updates as the decoder will: 1-3 a repeat offset, else offset + 3.
inline uint32_t code_offset(uint32_t* r, uint32_t ll, uint32_t offset) {
    uint32_t ov;
    if (ll) ov = offset == r[0] ? 1 : offset == r[1] ? 2 : offset == r[2] ? 3 : offset + 3;
    else ov = offset == r[1] ? 1 : offset == r[2] ? 2 : offset == r[0] - 1 ? 3 : offset + 3;
    uint32_t idx = ov > 3 ? 3 : ov + (ll ? 0 : 1);
    if (idx != 1) {
        if (idx != 2) r[2] = r[1];
        r[1] = r[0], r[0] = offset;
    }
    return ov;
}

// One state of an FSE decoding table: the symbol it gives, the bits to read for the next
// state and the base they are added to.
struct fse_entry {
    uint16_t base;
    uint8_t symbol;
    uint8_t bits;
};

// Reads an FSE table description of at most [max_log] accuracy over symbols 0..[max_symbol]
// from [len] bytes at [p] into [norm] (-1 for a less-than-one probability); answers the bytes
// it took, or 0 when the description is malformed. [log] gets the accuracy.
size_t read_ncount(const uint8_t* p, size_t len, int max_symbol, int max_log, int16_t* norm, int& log);

// Fills [table] (2^log entries) for [norm] over symbols 0..[max_symbol]; false when the
// counts do not spread (they must sum to 2^log).
bool build_fse_table(fse_entry* table, const int16_t* norm, int max_symbol, int log);

// Where the spread puts each state's symbol: [symbol_at] (2^log entries) for [norm]; answers
// the first state of the high end that holds the less-than-one symbols, or -1 when the counts
// do not fill the table exactly.
int spread_symbols(uint8_t* symbol_at, const int16_t* norm, int max_symbol, int log);

// A bit stream read from its end: the last byte's highest set bit marks where it starts.
// Bits below the stream's first read as zero; [pos] then goes negative, which callers check.
struct back_bits {
    const uint8_t* start;
    int64_t pos; // bits not yet read

    // False for an empty stream or one whose last byte has no end marker.
    bool open(const uint8_t* p, size_t len) {
        start = p;
        if (len == 0 || p[len - 1] == 0) return false;
        pos = int64_t(len - 1) * 8 + highbit(p[len - 1]);
        return true;
    }
    // The next [n] (1 to 56) bits without taking them.
    uint64_t peek(int n) const {
        if (pos <= 0) return 0;
        uint64_t v;
        int64_t k;
        if (pos >= 57) {
            k = ((pos - 1) >> 3) - 7;
            std::memcpy(&v, start + k, 8);
        } else {
            k = 0;
            v = 0;
            for (int64_t i = (pos - 1) >> 3; i >= 0; i--) v = v << 8 | start[i];
        }
        uint64_t top = v << (64 - (pos - 8 * k));
        return top >> (64 - n);
    }
    uint64_t read(int n) {
        if (n == 0) return 0;
        uint64_t v = peek(n);
        pos -= n;
        return v;
    }
    void skip(int n) { pos -= n; }
};

} // namespace zyl::zstd
