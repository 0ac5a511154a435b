// services/zstd_match.cpp: the zstd match finders: a fast finder over two hash tables, hash
// chains with lazy evaluation, and a parse by estimated prices for the strongest levels.
#include "services/zstd_match.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "services/zstd_format.h"

namespace zyl::zstd {

namespace {

inline uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t read64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The bytes [a] and [b] have in common, up to [end] (the end of [a]'s range).
inline size_t common(const uint8_t* a, const uint8_t* b, const uint8_t* end) {
    const uint8_t* s = a;
    while (end - a >= 8) {
        uint64_t x = read64(a) ^ read64(b);
        if (x) return size_t(a - s) + size_t(__builtin_ctzll(x) >> 3);
        a += 8, b += 8;
    }
    while (a < end && *a == *b) a++, b++;
    return size_t(a - s);
}

constexpr uint64_t PRIME_SHORT = 0x9E3779B1, PRIME_LONG = 0x85EBCA77;

// A hash of the [bytes] (3 to 8) bytes at [p] in [bits] bits.
inline uint32_t hash_bytes(const uint8_t* p, int bytes, int bits, uint64_t prime) {
    uint64_t v = read64(p) << (64 - 8 * bytes);
    return uint32_t((v * (prime << 32 | prime)) >> (64 - bits));
}

} // namespace

void match_finder::start(const uint8_t* input, size_t len, const params& row) {
    base = input, length = len, p = row;
    window = size_t(1) << p.window_log;
    rep[0] = 1, rep[1] = 4, rep[2] = 8;
    next = 0;
    head.assign(size_t(1) << p.hash_log, 0);
    chain.assign(size_t(1) << p.chain_log, 0);
}

uint32_t match_finder::hash_at(size_t pos, int bits) const {
    return hash_bytes(base + pos, std::max(3, std::min(int(p.min_match), 8)), bits, PRIME_SHORT);
}

void match_finder::store(size_t anchor, size_t at, uint32_t offset, size_t len) {
    size_t ll = at - anchor;
    lits.insert(lits.end(), base + anchor, base + at);
    seqs.push_back({uint32_t(ll), uint32_t(len), offset});
    // Keep the finder's repeat offsets as a decoder would, so that its first guesses are good.
    if (offset == rep[0] && ll) return;
    if (offset == rep[1]) std::swap(rep[0], rep[1]);
    else rep[2] = rep[1], rep[1] = rep[0], rep[0] = offset;
}

void match_finder::find(size_t from, size_t to) {
    switch (p.strategy) {
    case 0: fast(from, to); break;
    case 1: lazy(from, to, 0); break;
    case 2: lazy(from, to, 1); break;
    case 3:
    case 4: lazy(from, to, 2); break;
    default: optimal(from, to);
    }
}

// {== Fast: a short hash over the minimum match and a long one over 8 bytes

void match_finder::fast(size_t from, size_t to) {
    const int hbits = p.hash_log, lbits = p.chain_log;
    const int mm = std::max(4, std::min(int(p.min_match), 8));
    uint32_t* small = head.data();
    uint32_t* big = chain.data();
    const size_t limit = std::min(to, length >= 8 ? length - 8 : 0);
    const uint8_t* end = base + to;
    size_t ip = from, anchor = from;
    auto insert = [&](size_t pos) {
        small[hash_bytes(base + pos, mm, hbits, PRIME_SHORT)] = uint32_t(pos);
        big[hash_bytes(base + pos, 8, lbits, PRIME_LONG)] = uint32_t(pos);
    };
    while (ip + 1 < limit) {
        uint32_t hs = hash_bytes(base + ip, mm, hbits, PRIME_SHORT), hl = hash_bytes(base + ip, 8, lbits, PRIME_LONG);
        size_t cs = small[hs], cl = big[hl];
        small[hs] = big[hl] = uint32_t(ip);
        size_t len = 0, at = ip;
        uint32_t off = 0;
        if (rep[0] <= ip + 1 && rep[0] <= window && ip + 5 <= to &&
            read32(base + ip + 1 - rep[0]) == read32(base + ip + 1)) {
            at = ip + 1, off = rep[0];
            len = 4 + common(base + at + 4, base + at + 4 - off, end);
        } else if (cl < ip && ip - cl <= window && ip + 8 <= to && read64(base + cl) == read64(base + ip)) {
            off = uint32_t(ip - cl);
            len = 8 + common(base + ip + 8, base + cl + 8, end);
        } else if (cs < ip && ip - cs <= window && read32(base + cs) == read32(base + ip)) {
            off = uint32_t(ip - cs);
            len = common(base + ip, base + cs, end);
            size_t cl1 = big[hash_bytes(base + ip + 1, 8, lbits, PRIME_LONG)]; // a longer match one byte on?
            if (cl1 < ip + 1 && ip + 1 - cl1 <= window && ip + 9 <= to && read64(base + cl1) == read64(base + ip + 1)) {
                size_t l1 = 8 + common(base + ip + 9, base + cl1 + 8, end);
                if (l1 > len) at = ip + 1, off = uint32_t(ip + 1 - cl1), len = l1;
            }
        }
        if (len < size_t(mm) && !(len >= 4 && off == rep[0])) {
            ip += ((ip - anchor) >> 8) + 1;
            continue;
        }
        while (at > anchor && at > off && base[at - 1] == base[at - 1 - off]) at--, len++;
        store(anchor, at, off, len);
        ip = anchor = at + len;
        if (ip < limit) insert(ip - 2);
    }
    lits.insert(lits.end(), base + anchor, base + to);
}

// }==
// {== Hash chains with lazy evaluation

void match_finder::insert_until(size_t ip) {
    const int bits = p.hash_log;
    const size_t mask = chain.size() - 1;
    const size_t stop = std::min(ip, length >= 8 ? length - 8 : 0);
    for (; next < stop; next++) {
        uint32_t h = hash_at(next, bits);
        chain[next & mask] = head[h];
        head[h] = uint32_t(next);
    }
}

// The longest match at [ip] (within [end]) along its hash chain; 0 when none of the minimum.
size_t match_finder::chain_search(size_t ip, size_t end, uint32_t& offset) {
    if (ip + 8 > length) return 0;
    insert_until(ip);
    const size_t mask = chain.size() - 1;
    const size_t reach = std::min(window, chain.size());
    const size_t target = p.target ? size_t(p.target) * 4 : SIZE_MAX;
    const uint8_t* stop = base + end;
    size_t best = std::max<size_t>(p.min_match, 3) - 1;
    size_t cand = head[hash_at(ip, p.hash_log)];
    size_t found = 0;
    for (int tries = 1 << p.search_log; tries > 0 && cand < ip && ip - cand <= reach; tries--) {
        if (ip + best < end && base[cand + best] == base[ip + best]) {
            size_t len = common(base + ip, base + cand, stop);
            if (len > best) {
                best = len, found = len;
                offset = uint32_t(ip - cand);
                if (len >= target || ip + len == end) break;
            }
        }
        size_t nxt = chain[cand & mask];
        if (nxt >= cand) break;
        cand = nxt;
    }
    return found;
}

void match_finder::lazy(size_t from, size_t to, int depth) {
    const size_t limit = std::min(to, length >= 8 ? length - 8 : 0);
    const uint8_t* end = base + to;
    size_t ip = from, anchor = from;
    auto rep_at = [&](size_t pos) -> size_t { // the repeat offset 1 match at pos
        if (rep[0] > pos || rep[0] > window || pos + 4 > to) return 0;
        if (read32(base + pos) != read32(base + pos - rep[0])) return 0;
        return 4 + common(base + pos + 4, base + pos + 4 - rep[0], end);
    };
    while (ip + 1 < limit) {
        size_t len = 0, at = ip;
        uint32_t off = 0;
        if (size_t r = rep_at(ip + 1)) len = r, at = ip + 1, off = rep[0];
        if (!(depth == 0 && len)) {
            uint32_t o2 = 0;
            size_t l2 = chain_search(ip, to, o2);
            if (l2 > len && (!len || 4 * l2 - highbit(o2 + 3) > 4 * len - 1 + 4)) len = l2, at = ip, off = o2;
        }
        if (len < 4) {
            ip += ((ip - anchor) >> 8) + 1;
            continue;
        }
        for (int d = 0; d < depth && at + 1 < limit; d++) { // would a match one byte on be better?
            size_t pos = at + 1;
            uint32_t code = off == rep[0] ? 1 : off + 3;
            size_t r = rep_at(pos);
            if (r >= 4 && 3 * r > 3 * len - size_t(highbit(code) + 1) + 1) {
                len = r, at = pos, off = rep[0];
                continue;
            }
            uint32_t o2 = 0;
            size_t l2 = chain_search(pos, to, o2);
            if (l2 >= 4 && 4 * l2 - size_t(highbit(o2 + 3)) > 4 * len - size_t(highbit(code)) + 4) {
                len = l2, at = pos, off = o2;
                continue;
            }
            break;
        }
        while (at > anchor && at > off && base[at - 1] == base[at - 1 - off]) at--, len++;
        store(anchor, at, off, len);
        ip = anchor = at + len;
    }
    lits.insert(lits.end(), base + anchor, base + to);
}

// }==
// {== Parsing by prices

void match_finder::optimal(size_t from, size_t to) {
    const size_t n = to - from;
    // Prices in 1/16 bit: literals by their frequency in the block, matches by their codes.
    uint32_t freq[256] = {};
    for (size_t i = from; i < to; i++) freq[base[i]]++;
    uint32_t lit_price[256];
    for (int b = 0; b < 256; b++) lit_price[b] = uint32_t(16 * std::log2(double(n + 1) / (freq[b] + 1)) + 8);
    auto match_price = [](uint32_t code, size_t len) {
        return uint32_t(16 * (highbit(code) + 5) + 16 * (len < 35 ? 5 : highbit(uint32_t(len)) + 2));
    };
    const size_t sufficient = p.target ? size_t(p.target) * 4 : 256;
    const size_t limit = std::min(to, length >= 8 ? length - 8 : 0);
    std::vector<uint32_t> cost(n + 1, UINT32_MAX), mlen(n + 1, 0), moff(n + 1, 0);
    cost[0] = 0;
    uint32_t r0 = rep[0];
    for (size_t i = 0; i < n;) {
        size_t pos = from + i;
        uint32_t c = cost[i];
        if (c + lit_price[base[pos]] < cost[i + 1]) cost[i + 1] = c + lit_price[base[pos]], mlen[i + 1] = 0;
        if (pos + 1 >= limit) {
            i++;
            continue;
        }
        size_t best = 0;
        uint32_t best_off = 0;
        if (r0 <= pos && r0 <= window && pos + 4 <= to && read32(base + pos) == read32(base + pos - r0)) {
            size_t l = 4 + common(base + pos + 4, base + pos + 4 - r0, base + to);
            for (size_t k = 4; k <= l; k++) {
                uint32_t v = c + match_price(1, k);
                if (v < cost[i + k]) cost[i + k] = v, mlen[i + k] = uint32_t(k), moff[i + k] = r0;
            }
            best = l, best_off = r0;
        }
        uint32_t o = 0;
        size_t l = chain_search(pos, to, o);
        if (l >= 4 && l > best) {
            for (size_t k = std::max<size_t>(4, best + 1); k <= l; k++) {
                uint32_t v = c + match_price(o + 3, k);
                if (v < cost[i + k]) cost[i + k] = v, mlen[i + k] = uint32_t(k), moff[i + k] = o;
            }
            best = l, best_off = o;
        }
        // A long match is taken as it stands: pricing every position inside it costs too much.
        if (best >= sufficient) {
            r0 = best_off;
            i += best;
        } else {
            i++;
        }
    }
    // Walk the cheapest path back, then store its matches in order.
    std::vector<uint32_t> path;
    for (size_t i = n; i > 0;) {
        if (mlen[i]) {
            path.push_back(uint32_t(i));
            i -= mlen[i];
        } else {
            i--;
        }
    }
    size_t anchor = from;
    for (size_t k = path.size(); k-- > 0;) {
        size_t e = path[k], len = mlen[e];
        size_t at = from + e - len;
        store(anchor, at, moff[e], len);
        anchor = at + len;
    }
    lits.insert(lits.end(), base + anchor, base + to);
}

// }==

} // namespace zyl::zstd
