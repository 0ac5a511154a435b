// services/huffman.cpp: code lengths by the two-queue method, then pulled back under a limit.
//
// The used symbols are sorted by frequency; merging the two lightest of the leaf queue and the
// queue of merged nodes (made in nondecreasing weight order, so a queue is enough) gives every
// leaf its depth. Depths over the limit are cut to it and the counts per length are adjusted
// until the Kraft sum is exactly 1; the lengths are then handed out again by frequency, the
// rarest symbols taking the longest codes.
#include "services/huffman.h"

#include <algorithm>
#include <cstring>

namespace zyl::compress {

namespace {

// Depths of the [n] (at least 2) leaves of weights [w] (ascending) in a Huffman tree, in [depth].
void tree_depths(uint64_t* w, int n, int* depth) {
    int parent[2 * HUFFMAN_MAX_SYMBOLS];
    int leaf = 0, inner = n, next = n;
    auto take = [&]() { // the lighter queue head; a leaf wins a tie, which keeps trees shallow
        if (leaf < n && (inner >= next || w[leaf] <= w[inner])) return leaf++;
        return inner++;
    };
    for (int k = 0; k < n - 1; k++) {
        int a = take(), b = take();
        w[next] = w[a] + w[b];
        parent[a] = parent[b] = next++;
    }
    int nodes[2 * HUFFMAN_MAX_SYMBOLS];
    nodes[2 * n - 2] = 0;
    for (int i = 2 * n - 3; i >= 0; i--) nodes[i] = nodes[parent[i]] + 1;
    for (int i = 0; i < n; i++) depth[i] = nodes[i];
}

// Adjusts [counts] of codes per length (lengths up to [limit]) to a Kraft sum of exactly 1.
void fit_counts(int* counts, int limit) {
    int64_t full = int64_t(1) << limit, kraft = 0;
    for (int l = 1; l <= limit; l++) kraft += int64_t(counts[l]) << (limit - l);
    while (kraft > full) { // push the deepest leaf above the limit one level down
        int b = limit - 1;
        while (counts[b] == 0) b--;
        counts[b]--, counts[b + 1]++;
        kraft -= int64_t(1) << (limit - b - 1);
    }
    while (kraft < full) { // the step above may overshoot: lift the deepest leaf back
        int l = limit;
        while (counts[l] == 0) l--;
        counts[l]--, counts[l - 1]++;
        kraft += int64_t(1) << (limit - l);
    }
}

} // namespace

void huffman_lengths(const uint32_t* freq, uint8_t* lengths, int count, int limit) {
    uint64_t key[HUFFMAN_MAX_SYMBOLS];
    int n = 0;
    for (int s = 0; s < count; s++) {
        lengths[s] = 0;
        if (freq[s]) key[n++] = uint64_t(freq[s]) << 16 | uint32_t(s);
    }
    if (n < 2) {
        int used = n ? int(key[0] & 0xFFFF) : 0;
        lengths[0] = 1;
        lengths[used > 1 ? used : 1] = 1;
        return;
    }
    std::sort(key, key + n);
    uint64_t w[2 * HUFFMAN_MAX_SYMBOLS];
    for (int i = 0; i < n; i++) w[i] = key[i] >> 16;
    int depth[HUFFMAN_MAX_SYMBOLS];
    tree_depths(w, n, depth);
    int counts[64] = {};
    for (int i = 0; i < n; i++) counts[std::min(depth[i], limit)]++;
    fit_counts(counts, limit);
    int i = 0; // the rarest symbols come first and take the longest codes
    for (int l = limit; l >= 1; l--)
        for (int c = 0; c < counts[l]; c++) lengths[key[i++] & 0xFFFF] = uint8_t(l);
}

} // namespace zyl::compress
