// services/zstd_optimal.cpp: the zstd compressor's strongest finders: a binary tree of the
// positions ordered by the bytes that follow them, and the parse of a block by estimated
// prices over the matches the tree gives at every position.
//
// Each position is inserted once, in order, and its search is its insertion: the walk down
// from the hash head compares the new suffix with each node and hangs the nodes it passes
// under the new one, smaller ones left, larger ones right. A comparison that reaches its limit
// leaves the order unknown, so the new node's remaining links are cut there; the tree stays
// ordered at the price of a few lost candidates.
#include <algorithm>
#include <climits>
#include <cmath>

#include "services/zstd_format.h"
#include "services/zstd_match.h"

namespace zyl::zstd {

namespace {

constexpr uint32_t NONE = UINT32_MAX;
constexpr size_t MAX_CANDS = 64;
constexpr size_t COMPARE_MIN = 256; // how far a tree comparison goes at least
constexpr size_t SHORT_REACH = size_t(1) << 18; // 3-byte matches farther back cost more than they save

// Prices in 1/256 bit from counts, each count taken one higher so that none is free or endless.
void prices_from(const uint32_t* count, int n, int32_t* price) {
    double total = n;
    for (int s = 0; s < n; s++) total += count[s];
    for (int s = 0; s < n; s++) price[s] = int32_t(256 * std::log2(total / (count[s] + 1.0)));
}

price_model model_from(const price_stats& st) {
    price_model m;
    prices_from(st.lit, 256, m.lit);
    prices_from(st.ll, 36, m.ll);
    prices_from(st.ml, 53, m.ml);
    prices_from(st.of, 32, m.of);
    return m;
}

// The first block's statistics: its own bytes for the literals, the predefined distributions
// for the codes.
price_stats first_stats(const uint8_t* p, size_t n) {
    price_stats st{};
    for (size_t i = 0; i < n; i++) st.lit[p[i]]++;
    auto fill = [](uint32_t* count, int k, int max) {
        for (int s = 0; s <= max; s++) count[s] = uint32_t(4 * std::max<int>(1, PREDEFINED[k][s]));
    };
    fill(st.ll, LL, PREDEFINED_MAX[LL]);
    fill(st.of, OF, PREDEFINED_MAX[OF]);
    fill(st.ml, ML, PREDEFINED_MAX[ML]);
    return st;
}

inline int32_t ll_price(const price_model& m, uint32_t ll) {
    int c = ll_code(std::min(ll, uint32_t(BLOCK_MAX - 1))); // a block of literals alone has no code
    return m.ll[c] + 256 * LL_BITS[c];
}
inline int32_t ml_price(const price_model& m, uint32_t ml) {
    int c = ml_code(ml);
    return m.ml[c] + 256 * ML_BITS[c];
}
inline int32_t of_price(const price_model& m, uint32_t ov) {
    int c = highbit(ov);
    return m.of[c] + 256 * c;
}

} // namespace

// {== The binary tree

void match_finder::clear_tree() {
    head.assign(size_t(1) << p.hash_log, NONE);
    chain.assign(size_t(1) << p.chain_log, NONE);
    if (hash3_log) head3.assign(size_t(1) << hash3_log, NONE);
}

// Inserts [ip] (8 bytes at least before the input's end) into the tree. With [out], collects
// the matches met that are longer than all before them, cut to [end]; answers the longest
// length compared.
size_t match_finder::tree_insert(size_t ip, size_t end, match_cand* out, size_t& n_out) {
    const size_t mask = (chain.size() >> 1) - 1;
    const size_t reach = std::min(window, mask);
    const size_t low = ip > reach ? ip - reach : 0;
    const uint8_t* limit = base + std::min(length, ip + std::max(COMPARE_MIN, size_t(p.target) * 4));
    const size_t room = end > ip ? end - ip : 0;
    size_t best = 0;
    auto keep = [&](size_t len, size_t from) {
        size_t l = std::min(len, room);
        if (l >= 3 && n_out < MAX_CANDS && (!n_out || l > out[n_out - 1].len)) out[n_out++] = {uint32_t(l), uint32_t(ip - from)};
    };
    if (hash3_log) {
        uint32_t& slot3 = head3[hash_bytes(base + ip, 3, hash3_log, PRIME_SHORT)];
        size_t c = slot3;
        slot3 = uint32_t(ip);
        if (out && c != NONE && ip - c <= std::min(window, SHORT_REACH)) {
            best = common(base + ip, base + c, limit);
            keep(best, c);
        }
    }
    uint32_t& slot = head[hash_bytes(base + ip, std::max(4, std::min(int(p.min_match), 8)), p.hash_log, PRIME_SHORT)];
    size_t m = slot;
    slot = uint32_t(ip);
    uint32_t* smaller = &chain[2 * (ip & mask)];
    uint32_t* larger = smaller + 1;
    uint32_t cut;
    size_t len_smaller = 0, len_larger = 0;
    for (int tries = 1 << p.search_log; tries > 0 && m != NONE && m >= low; tries--) {
        uint32_t* links = &chain[2 * (m & mask)];
        size_t len = std::min(len_smaller, len_larger);
        len += common(base + ip + len, base + m + len, limit);
        if (len > best) {
            best = len;
            if (out) keep(len, m);
        }
        if (base + ip + len == limit) break; // equal as far as compared: the order is unknown
        if (base[m + len] < base[ip + len]) {
            *smaller = uint32_t(m);
            len_smaller = len;
            if (m <= low) {
                smaller = &cut;
                break;
            }
            smaller = links + 1;
            m = links[1];
        } else {
            *larger = uint32_t(m);
            len_larger = len;
            if (m <= low) {
                larger = &cut;
                break;
            }
            larger = links;
            m = links[0];
        }
    }
    *smaller = *larger = NONE;
    return best;
}

// Inserts the positions before [ip] that are not in the tree yet.
void match_finder::tree_until(size_t ip) {
    const size_t stop = std::min(ip, length >= 8 ? length - 8 : 0);
    size_t none = 0;
    for (; next < stop; next++) tree_insert(next, next, nullptr, none);
}

// The longest match at [ip] within [end], for lazy evaluation over the tree.
size_t match_finder::tree_best(size_t ip, size_t end, uint32_t& offset) {
    if (ip + 8 > length || ip < next) return 0;
    tree_until(ip);
    match_cand c[MAX_CANDS];
    size_t n = 0;
    tree_insert(ip, end, c, n);
    next = ip + 1;
    if (!n) return 0;
    size_t len = c[n - 1].len;
    offset = c[n - 1].off;
    len += common(base + ip + len, base + ip + len - offset, base + end); // past the comparison limit
    return len >= std::max<size_t>(p.min_match, 4) ? len : 0;
}

// }==
// {== Parsing by prices

void match_finder::optimal(size_t from, size_t to) {
    const size_t first_seq = seqs.size(), first_lit = lits.size();
    uint32_t before[3] = {rep[0], rep[1], rep[2]};
    if (!stats.valid) {
        stats = first_stats(base + from, to - from);
        // The strongest level parses its first block twice: once to learn what its sequences
        // and literals cost, then afresh with those prices.
        if (p.strategy == 7 && to - from >= 9) {
            parse(from, to, model_from(stats));
            gather(first_seq, first_lit, before, false);
            seqs.resize(first_seq), lits.resize(first_lit);
            clear_tree();
            next = from;
            std::copy(before, before + 3, rep);
        }
    }
    parse(from, to, model_from(stats));
    gather(first_seq, first_lit, before, true);
}

// Counts the codes and literals of the sequences from [first_seq] and the literals from
// [first_lit] into the statistics; with [blend], half of the earlier counts stay.
void match_finder::gather(size_t first_seq, size_t first_lit, const uint32_t* rep_before, bool blend) {
    price_stats cur{};
    for (size_t i = first_lit; i < lits.size(); i++) cur.lit[lits[i]]++;
    uint32_t r[3] = {rep_before[0], rep_before[1], rep_before[2]};
    for (size_t i = first_seq; i < seqs.size(); i++) {
        const sequence& s = seqs[i];
        cur.ll[ll_code(s.lit_len)]++;
        cur.ml[ml_code(s.match_len)]++;
        cur.of[highbit(code_offset(r, s.lit_len, s.offset_value))]++;
    }
    if (blend && stats.valid) {
        auto mix = [](uint32_t* a, const uint32_t* b, int n) {
            for (int s = 0; s < n; s++) a[s] += b[s] / 2;
        };
        mix(cur.lit, stats.lit, 256), mix(cur.ll, stats.ll, 36), mix(cur.ml, stats.ml, 53), mix(cur.of, stats.of, 32);
    }
    stats = cur;
    stats.valid = true;
}

void match_finder::parse(size_t from, size_t to, const price_model& m) {
    const size_t n = to - from;
    const size_t sufficient = p.target ? size_t(p.target) * 4 : COMPARE_MIN;
    arrival* a = nodes.data();
    a[0] = {0, 0, 0, 0, {rep[0], rep[1], rep[2]}};
    for (size_t i = 1; i <= n; i++) a[i].price = INT32_MAX;
    auto relax = [&](size_t j, int32_t price, size_t len, uint32_t off) {
        if (price < a[j].price) a[j].price = price, a[j].mlen = uint32_t(len), a[j].off = off, a[j].litlen = 0;
    };
    match_cand c[MAX_CANDS];
    for (size_t i = 0; i < n; i++) {
        arrival& here = a[i];
        if (i) { // the repeat offsets here follow from where the position was reached
            const arrival& src = a[i - (here.mlen ? here.mlen : 1)];
            std::copy(src.rep, src.rep + 3, here.rep);
            if (here.mlen) code_offset(here.rep, src.litlen, here.off);
        }
        const size_t pos = from + i;
        int32_t lit = here.price + m.lit[base[pos]] + ll_price(m, here.litlen + 1) - ll_price(m, here.litlen);
        if (lit < a[i + 1].price) a[i + 1].price = lit, a[i + 1].mlen = 0, a[i + 1].litlen = here.litlen + 1;
        if (pos + 8 > length || n - i < 3) continue;
        const int32_t start = here.price + ll_price(m, 0);
        // The repeat offsets a decoder will try, by offset value 1-3.
        const uint32_t* r = here.rep;
        const uint32_t ro[3] = {here.litlen ? r[0] : r[1], here.litlen ? r[1] : r[2], here.litlen ? r[2] : r[0] - 1};
        size_t rlen[3] = {0, 0, 0}, longest = 0;
        uint32_t longest_off = 0, longest_ov = 0;
        for (int k = 0; k < 3; k++) {
            uint32_t off = ro[k];
            if (off == 0 || off > pos || off > window || (k && off == ro[0]) || (k == 2 && off == ro[1])) continue;
            rlen[k] = common(base + pos, base + pos - off, base + to);
            if (rlen[k] > longest) longest = rlen[k], longest_off = off, longest_ov = uint32_t(k + 1);
        }
        size_t nc = 0;
        if (longest < sufficient) {
            tree_until(pos);
            tree_insert(pos, to, c, nc);
            next = pos + 1;
            if (nc) {
                match_cand& top = c[nc - 1];
                top.len += uint32_t(common(base + pos + top.len, base + pos + top.len - top.off, base + to));
                if (top.len > longest) longest = top.len, longest_off = top.off, longest_ov = top.off + 3;
            }
        }
        if (longest >= sufficient) { // a long match is taken as it stands: pricing inside it costs too much
            relax(i + longest, start + of_price(m, longest_ov) + ml_price(m, uint32_t(longest)), longest, longest_off);
            i += longest - 1;
            continue;
        }
        for (int k = 0; k < 3; k++) {
            if (rlen[k] < 3) continue;
            int32_t base_price = start + of_price(m, uint32_t(k + 1));
            for (size_t l = 3; l <= rlen[k]; l++) relax(i + l, base_price + ml_price(m, uint32_t(l)), l, ro[k]);
        }
        size_t covered = 2;
        for (size_t k = 0; k < nc; k++) {
            const uint32_t off = c[k].off;
            const size_t len = c[k].len;
            if (off != ro[0] && off != ro[1] && off != ro[2]) { // the repeats are priced above
                int32_t base_price = start + of_price(m, off + 3);
                for (size_t l = covered + 1; l <= len; l++) relax(i + l, base_price + ml_price(m, uint32_t(l)), l, off);
            }
            covered = std::max(covered, len);
        }
    }
    // Walk the cheapest path back from the block's end, then store its matches in order.
    path.clear();
    for (size_t j = n; j > 0;) {
        if (a[j].mlen) {
            path.push_back(uint32_t(j));
            j -= a[j].mlen;
        } else {
            j--;
        }
    }
    size_t anchor = from;
    for (size_t k = path.size(); k-- > 0;) {
        size_t len = a[path[k]].mlen, at = from + path[k] - len;
        store(anchor, at, a[path[k]].off, len);
        anchor = at + len;
    }
    lits.insert(lits.end(), base + anchor, base + to);
}

// }==

} // namespace zyl::zstd
