// runtime/sort.cpp: the sample quicksort with its sorted-prefix entry, and the stable merge sort.
#include "runtime/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/common.h"
#include "runtime/error.h"

namespace zyl::sort {

namespace {

// {== Records

int sign(int32_t c) { return (c > 0) - (c < 0); }

template <typename W> inline void swap_words(uint8_t* a, uint8_t* b, size_t size) {
    for (size_t i = 0; i < size; i += sizeof(W)) {
        W x, y;
        std::memcpy(&x, a + i, sizeof(W));
        std::memcpy(&y, b + i, sizeof(W));
        std::memcpy(a + i, &y, sizeof(W));
        std::memcpy(b + i, &x, sizeof(W));
    }
}

// Record sizes of cells (16) and of wide text units (4) get fixed-size code the compiler inlines.
inline void swap_bytes(uint8_t* x, uint8_t* y, size_t size) {
    if (size == 16)
        swap_words<uint64_t>(x, y, 16);
    else if (size == 4)
        swap_words<uint32_t>(x, y, 4);
    else if (size % 8 == 0)
        swap_words<uint64_t>(x, y, size);
    else if (size % 4 == 0)
        swap_words<uint32_t>(x, y, size);
    else
        swap_words<uint8_t>(x, y, size);
}

inline void copy_record(uint8_t* to, const uint8_t* from, size_t size) {
    if (size == 16)
        std::memcpy(to, from, 16);
    else if (size == 4)
        std::memcpy(to, from, 4);
    else
        std::memcpy(to, from, size);
}

// An array of records seen by index. Indexes are records, never bytes.
struct records {
    uint8_t* base;
    const params& p;

    uint8_t* at(size_t i) const { return base + i * p.size; }
    int32_t cmp(size_t i, size_t j) const { return p.cmp(at(i), at(j), p.ctx1, p.ctx2); }
    void swap(size_t i, size_t j) const { swap_bytes(at(i), at(j), p.size); }
    records from(size_t i) const { return {at(i), p}; }
};

// Reverses [i, j) in place, swapping from both ends.
void reverse(const records& r, size_t i, size_t j) {
    for (; i + 1 < j; i++, j--) r.swap(i, j - 1);
}

// Moves the record at [k] backwards past every predecessor that compares greater.
void insert_back(const records& r, size_t k) {
    for (; k > 0 && r.cmp(k - 1, k) > 0; k--) r.swap(k - 1, k);
}

// }==

// {== Quicksort entry: the sorted prefix

// True when the record at [i] may stay before the one at [j] in direction [d] (+1 or -1).
bool in_order(const records& r, size_t i, size_t j, int d) { return sign(r.cmp(i, j)) * d <= 0; }

struct prefix {
    size_t last; // index of the prefix's last record
    int d;       // +1 ascending, -1 descending, 0 while all records compared equal
};

// The run at the front, in whichever direction its first unequal pair shows.
prefix initial_run(const records& r, size_t n) {
    int d = 0;
    size_t i = 1;
    for (; i < n; i++) {
        int s = sign(r.cmp(i - 1, i));
        if (d == 0)
            d = -s;
        else if (s * d > 0)
            break;
    }
    return {i - 1, d};
}

// How ordered the rest looks: one neighbour pair every 97 records votes for a direction.
ptrdiff_t score(const records& r, size_t n, const prefix& run) {
    ptrdiff_t s = static_cast<ptrdiff_t>(run.last + 1) * run.d;
    for (size_t i = run.last + 1; i + 1 < n; i += 97) s -= sign(r.cmp(i, i + 1));
    return s;
}

// Grows the prefix by ordered blocks of at least 4 records found further on, swapping each to
// the prefix's end. A block that starts at or before the prefix's end already continues it
// (only an inconsistent comparator gets a block to start on the prefix's last record).
void absorb(const records& r, size_t n, prefix& pre) {
    size_t& P = pre.last;
    for (size_t w = P;;) {
        size_t q = w + 10;
        if (q >= n) return;
        size_t b = w + 9;
        while (q < n && in_order(r, q - 1, q, pre.d)) q++;
        while (b > P && in_order(r, b - 1, b, pre.d)) b--;
        w = q;
        if (q - b < 4) continue;
        size_t end = P; // where the block goes: one past the records kept in the prefix
        if (P > 0) {
            size_t f = std::min((q - b) / 2, P / 4);
            size_t i = 0;
            while (i < f && !in_order(r, P - i, b + i, pre.d)) i++;
            if (i == f) continue;
            end = P + 1 - i; // drop the prefix records that would sort after the block's start
            b += i;
        }
        if (b <= end) {
            P = q - 1;
            continue;
        }
        for (size_t j = b; j < q; j++) r.swap(j, end++);
        P = end - 1;
    }
}

// }==

// {== Sample quicksort

// Puts the records at [i] and [j] in order.
void order_pair(const records& r, size_t i, size_t j) {
    if (r.cmp(i, j) > 0) r.swap(i, j);
}

// A region [0, l) ready to partition: pivot at p, p records below it already on the low side,
// u records at the region's end already on the high side.
struct region {
    size_t l;
    size_t p;
    size_t u;
};

// No usable sample: the median of three records of the first l.
region median_of_three(const records& r, size_t n) {
    size_t l = n > 511 ? 63 : n;
    r.swap(l / 2, 1);
    order_pair(r, 0, 1);
    order_pair(r, 1, l - 1);
    order_pair(r, 0, 1);
    return {l, 1, 1};
}

// A sorted sample of h records at the front (sorted > 0) or at the end: spread it around its
// middle record, over the whole array or over a region of 16h - 1 records drawn from it.
region from_sample(const records& r, ptrdiff_t sorted, size_t n, size_t h) {
    size_t l = n / 256 < h ? n : 16 * h - 1;
    if (sorted < 0) {
        // Front to back so the sample arrives intact even where the ranges overlap.
        size_t front = l < n ? h : (h + 1) / 2;
        for (size_t k = 0; k < front; k++) r.swap(k, n - h + k);
    }
    if (sorted > 0 || l < n) {
        if (l < n) {
            size_t stride = n / l;
            for (size_t j = 0; h + j < l; j++) r.swap(h + j, h + j * stride);
        }
        // Top down, for the same reason: the upper half may overlap the region's end.
        for (size_t k = 1; k <= h / 2; k++) r.swap(h - k, l - k);
    }
    return {l, (h - 1) / 2, h / 2};
}

struct split {
    size_t low_end;    // the smaller records end here (the low sample before them)
    size_t high_start; // the greater records start here (the high sample after them)
};

// Three-way partition of [p + 1, l - u) around the pivot at p; equal records gather just after
// the pivot and then move, with it, between the smaller and the greater records.
split partition(const records& r, const region& g) {
    size_t p = g.p;
    size_t i = p + 1, eq = p + 1, j = g.l - 1 - g.u;
    for (;;) {
        int32_t c = 0;
        while (i <= j && (c = r.cmp(i, p)) <= 0) {
            if (c == 0) r.swap(i, eq++);
            i++;
        }
        while (j > i && (c = r.cmp(j, p)) > 0) j--;
        if (j <= i) break;
        r.swap(i, j);
        if (c == 0) r.swap(i, eq++);
        i++;
        j--;
    }
    size_t smaller = i - eq;
    size_t m = std::min(eq - p, smaller);
    for (size_t k = 0; k < m; k++) r.swap(p + k, i - m + k);
    return {p + smaller, i};
}

void insertion(const records& r, size_t n) {
    for (size_t k = 1; k < n; k++) insert_back(r, k);
}

// Partitions around a sample's middle record, recursing on the part above and looping on the
// part below (or, after a region, on the whole array with the region as the next sample).
void sample_sort(const records& r, ptrdiff_t sorted, size_t n) {
    while (n > 7) {
        size_t h = static_cast<size_t>(sorted < 0 ? -sorted : sorted);
        region g = h <= 2 ? median_of_three(r, n) : from_sample(r, sorted, n, h);
        split s = partition(r, g);
        if (g.l - s.high_start > g.u)
            sample_sort(r.from(s.high_start), -static_cast<ptrdiff_t>(g.u), g.l - s.high_start);
        if (g.l < n) {
            // The region is now in order: the sample for the whole array.
            if (s.low_end > g.p) sample_sort(r, static_cast<ptrdiff_t>(g.p), s.low_end);
            sorted = static_cast<ptrdiff_t>(g.l);
        } else {
            n = s.low_end;
            sorted = static_cast<ptrdiff_t>(g.p);
            if (n <= g.p) return;
        }
    }
    insertion(r, n);
}

// }==

// {== Merge sort

// The records of one run parked in the merge buffer and not yet back in the array. The array
// has exactly that many stale bytes at the gap; when the merge ends, normally or by a
// comparator's error, the destructor puts the parked records there, so none is lost.
struct parked {
    const uint8_t* from; // first parked record
    size_t bytes;        // parked bytes still to place
    uint8_t* gap;        // where they go
    ~parked() {
        if (bytes) std::memcpy(gap, from, bytes);
    }
};

// The left run is the shorter: park it and merge from the front.
void merge_front(uint8_t* s, uint8_t* m, uint8_t* e, uint8_t* buffer, const params& p) {
    const size_t sz = p.size;
    std::memcpy(buffer, s, static_cast<size_t>(m - s));
    parked left{buffer, static_cast<size_t>(m - s), s};
    uint8_t* right = m;
    while (left.bytes && right < e) {
        if (p.cmp(left.from, right, p.ctx1, p.ctx2) <= 0) {
            copy_record(left.gap, left.from, sz);
            left.from += sz;
            left.bytes -= sz;
        } else {
            copy_record(left.gap, right, sz);
            right += sz;
        }
        left.gap += sz;
    }
}

// The right run is shorter: park it and merge from the back.
void merge_back(uint8_t* s, uint8_t* m, uint8_t* e, uint8_t* buffer, const params& p) {
    const size_t sz = p.size;
    std::memcpy(buffer, m, static_cast<size_t>(e - m));
    parked right{buffer, static_cast<size_t>(e - m), m}; // the gap ends where the left run does
    uint8_t* out = e;
    while (right.bytes && right.gap > s) {
        uint8_t* l = right.gap - sz;
        const uint8_t* b = buffer + right.bytes - sz;
        out -= sz;
        if (p.cmp(l, b, p.ctx1, p.ctx2) > 0) {
            copy_record(out, l, sz);
            right.gap = l;
        } else {
            copy_record(out, b, sz);
            right.bytes -= sz;
        }
    }
}

// The merge buffer, freed however the sort ends.
struct heap_buffer {
    uint8_t* data;
    explicit heap_buffer(size_t bytes) : data(static_cast<uint8_t*>(std::malloc(bytes))) {
        if (!data) runtime_error(RT_OUT_OF_MEMORY);
    }
    ~heap_buffer() { std::free(data); }
    heap_buffer(const heap_buffer&) = delete;
    heap_buffer& operator=(const heap_buffer&) = delete;
};

// A run waiting on the stack to be merged; its end is the next run's start.
struct pending {
    size_t start;
    unsigned power;
};

// Powersort's node power of the boundary between runs [s1, e1) and [e1, e2) of [n] records:
// how many leading binary digits the runs' midpoints, as fractions of n, share, plus one.
unsigned node_power(size_t s1, size_t e1, size_t e2, size_t n) {
    size_t a = s1 + e1, b = e1 + e2; // twice the midpoints
    unsigned power = 1;
    while ((a < n) == (b < n)) {
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
        power++;
    }
    return power;
}

// Powers on the stack strictly increase and stay below log2(n) + 3: this covers any size_t n.
constexpr size_t RUN_STACK = 72;

// }==

} // namespace

void swap(void* a, void* b, size_t size) {
    swap_bytes(static_cast<uint8_t*>(a), static_cast<uint8_t*>(b), size);
}

void quicksort_start(void* base, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2,
                     compare_fn cmp) {
    ZYL_ASSERT(size > 0);
    if (n < 2) return;
    params p{size, ctx1, ctx2, cmp};
    records r{static_cast<uint8_t*>(base), p};
    prefix pre = initial_run(r, n);
    ptrdiff_t s = score(r, n, pre);
    if (static_cast<size_t>(s < 0 ? -s : s) > n / 512) {
        if (s * pre.d < 0) pre = {0, -pre.d};
        absorb(r, n, pre);
    }
    if (pre.d < 0) reverse(r, 0, pre.last + 1);
    if (pre.last + 1 < n) sample_sort(r, static_cast<ptrdiff_t>(pre.last + 1), n);
}

void quicksort(void* base, ptrdiff_t sorted, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2,
               compare_fn cmp) {
    ZYL_ASSERT(size > 0 && static_cast<size_t>(sorted < 0 ? -sorted : sorted) <= n);
    params p{size, ctx1, ctx2, cmp};
    sample_sort(records{static_cast<uint8_t*>(base), p}, sorted, n);
}

uint8_t* find_run(uint8_t* start, uint8_t* end, const params& p) {
    records r{start, p};
    size_t n = static_cast<size_t>(end - start) / p.size;
    if (n < 2) return end;
    size_t k = 2;
    if (r.cmp(0, 1) <= 0) {
        while (k < n && r.cmp(k - 1, k) <= 0) k++;
    } else {
        // Strictly descending only, so reversing it keeps equal records in order.
        while (k < n && r.cmp(k - 1, k) > 0) k++;
        reverse(r, 0, k);
    }
    for (size_t want = std::min<size_t>(n, 24); k < want; k++) insert_back(r, k);
    return r.at(k);
}

void merge(uint8_t* s, uint8_t* m, uint8_t* e, uint8_t* buffer, const params& p) {
    if (e - m < m - s)
        merge_back(s, m, e, buffer, p);
    else
        merge_front(s, m, e, buffer, p);
}

void mergesort(void* base, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2, compare_fn cmp) {
    ZYL_ASSERT(size > 0);
    if (n < 2) return;
    size_t bytes;
    if (__builtin_mul_overflow(n / 2, size, &bytes) || bytes > INT32_MAX)
        error::raise(error::cat_script, error::script_too_long);
    heap_buffer buffer(bytes);
    params p{size, ctx1, ctx2, cmp};
    records r{static_cast<uint8_t*>(base), p};
    auto index = [&](const uint8_t* at) { return static_cast<size_t>(at - r.base) / size; };

    pending stack[RUN_STACK];
    size_t top = 0;
    stack[0] = {0, 0}; // sentinel: no power is 0, so it is never merged
    size_t s1 = 0, e1 = index(find_run(r.at(0), r.at(n), p));
    while (e1 < n) {
        size_t e2 = index(find_run(r.at(e1), r.at(n), p));
        unsigned power = node_power(s1, e1, e2, n);
        for (; stack[top].power > power; top--) {
            merge(r.at(stack[top].start), r.at(s1), r.at(e1), buffer.data, p);
            s1 = stack[top].start;
        }
        ZYL_ASSERT(top + 1 < RUN_STACK);
        stack[++top] = {s1, power};
        s1 = e1;
        e1 = e2;
    }
    for (; top > 0; top--) {
        merge(r.at(stack[top].start), r.at(s1), r.at(n), buffer.data, p);
        s1 = stack[top].start;
    }
}

} // namespace zyl::sort
