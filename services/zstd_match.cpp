// services/zstd_match.cpp: the zstd match finders of the lower levels: a fast finder over two
// hash tables, and lazy evaluation over hash chains or (strategy 4) the binary tree.
#include "services/zstd_match.h"

#include <algorithm>

#include "services/zstd_format.h"

namespace zyl::zstd {

void match_finder::start(const uint8_t* input, size_t len, const params& row) {
    base = input, length = len, p = row;
    window = size_t(1) << p.window_log;
    rep[0] = 1, rep[1] = 4, rep[2] = 8;
    next = 0;
    stats.valid = false;
    if (p.strategy >= 4) {
        // Tree mode: links hold NONE where a position has no child; the 3-byte table serves
        // the short matches of minimum match 3.
        int n = 6;
        while (n < 31 && (size_t(1) << n) < len) n++;
        hash3_log = p.min_match == 3 ? std::min(17, n) : 0;
        clear_tree();
        if (p.strategy >= 5) nodes.resize(std::min(len, BLOCK_MAX) + 1);
        return;
    }
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
    code_offset(rep, uint32_t(ll), offset); // the repeat offsets a decoder will hold
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

size_t match_finder::search(size_t ip, size_t end, uint32_t& offset) {
    return p.strategy >= 4 ? tree_best(ip, end, offset) : chain_search(ip, end, offset);
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
            size_t l2 = search(ip, to, o2);
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
            size_t l2 = search(pos, to, o2);
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
} // namespace zyl::zstd
