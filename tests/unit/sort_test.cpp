// tests/unit/sort_test.cpp: the unstable quicksort, the stable merge sort and their failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "runtime/error.h"
#include "runtime/sort.h"

using namespace zyl;

namespace {

// {== Records: a key and the record's original position, padded to the size under test

// Size 4 packs a 12-bit key over a 20-bit position; size 6 a 16-bit key and a 32-bit position;
// from 8 up a 32-bit key and position, then bytes derived from the position, so that a record
// torn by a bad swap shows.
struct table {
    size_t size;
    size_t n;
    std::vector<uint8_t> bytes;

    uint8_t* at(size_t i) { return bytes.data() + i * size; }
    const uint8_t* at(size_t i) const { return bytes.data() + i * size; }
    int32_t key(size_t i) const;
    uint32_t pos(size_t i) const;
    bool intact(size_t i) const;
};

int32_t key_of(const void* rec, size_t size) {
    auto* r = static_cast<const uint8_t*>(rec);
    if (size == 4) {
        uint32_t v;
        std::memcpy(&v, r, 4);
        return static_cast<int32_t>(v >> 20);
    }
    if (size == 6) {
        int16_t k;
        std::memcpy(&k, r, 2);
        return k;
    }
    int32_t k;
    std::memcpy(&k, r, 4);
    return k;
}

uint32_t pos_of(const uint8_t* r, size_t size) {
    uint32_t v;
    if (size == 4) {
        std::memcpy(&v, r, 4);
        return v & 0xFFFFF;
    }
    std::memcpy(&v, r + (size == 6 ? 2 : 4), 4);
    return v;
}

uint8_t pad_byte(uint32_t pos, size_t i) { return static_cast<uint8_t>(pos * 31 + i * 7); }

int32_t table::key(size_t i) const { return key_of(at(i), size); }
uint32_t table::pos(size_t i) const { return pos_of(at(i), size); }

bool table::intact(size_t i) const {
    for (size_t b = 8; b < size; b++) {
        if (at(i)[b] != pad_byte(pos(i), b)) return false;
    }
    return true;
}

table make_table(const std::vector<int32_t>& keys, size_t size) {
    table t{size, keys.size(), std::vector<uint8_t>(keys.size() * size)};
    for (size_t i = 0; i < t.n; i++) {
        uint8_t* r = t.at(i);
        uint32_t pos = static_cast<uint32_t>(i);
        if (size == 4) {
            uint32_t v = static_cast<uint32_t>(keys[i]) << 20 | pos;
            std::memcpy(r, &v, 4);
        } else if (size == 6) {
            int16_t k = static_cast<int16_t>(keys[i]);
            std::memcpy(r, &k, 2);
            std::memcpy(r + 2, &pos, 4);
        } else {
            std::memcpy(r, &keys[i], 4);
            std::memcpy(r + 4, &pos, 4);
            for (size_t b = 8; b < size; b++) r[b] = pad_byte(pos, b);
        }
    }
    return t;
}

std::vector<uint32_t> positions(const table& t) {
    std::vector<uint32_t> v(t.n);
    for (size_t i = 0; i < t.n; i++) v[i] = t.pos(i);
    return v;
}

// }==

// {== Comparators

// Counts calls and raises a language error at call number [raise_at].
struct probe {
    uint64_t calls = 0;
    uint64_t raise_at = UINT64_MAX;
};

// By key; the record size comes in context 1, the probe in context 2. Answers with extreme
// values, which the sorts must read only by sign.
int32_t by_key(const void* a, const void* b, uintptr_t size, uintptr_t ctx2) {
    auto* pr = reinterpret_cast<probe*>(ctx2);
    if (pr->calls++ == pr->raise_at) error::raise(error::cat_user, 0);
    int32_t x = key_of(a, size), y = key_of(b, size);
    return x < y ? INT32_MIN : x > y ? INT32_MAX : 0;
}

enum class algo { quick, merge };

uint64_t run(algo a, table& t, probe& pr) {
    auto ctx2 = reinterpret_cast<uintptr_t>(&pr);
    if (a == algo::quick)
        sort::quicksort_start(t.bytes.data(), t.n, t.size, t.size, ctx2, by_key);
    else
        sort::mergesort(t.bytes.data(), t.n, t.size, t.size, ctx2, by_key);
    return pr.calls;
}

uint64_t run(algo a, table& t) {
    probe pr;
    return run(a, t, pr);
}

// }==

// {== Checks

// The merge sort is stable, so it must give exactly std::stable_sort's permutation.
void expect_stable(const std::vector<int32_t>& keys, const table& t) {
    std::vector<uint32_t> want(keys.size());
    std::iota(want.begin(), want.end(), 0u);
    std::stable_sort(want.begin(), want.end(),
                     [&](uint32_t x, uint32_t y) { return keys[x] < keys[y]; });
    ASSERT_EQ(positions(t), want);
    for (size_t i = 0; i < t.n; i++) ASSERT_TRUE(t.intact(i)) << "record " << i;
}

// The quicksort's order of equal keys is its own: check sorted keys and a whole permutation.
void expect_sorted_permutation(const std::vector<int32_t>& keys, const table& t) {
    std::vector<bool> seen(keys.size());
    for (size_t i = 0; i < t.n; i++) {
        uint32_t p = t.pos(i);
        ASSERT_LT(p, keys.size());
        ASSERT_FALSE(seen[p]) << "position " << p << " twice";
        seen[p] = true;
        ASSERT_EQ(t.key(i), keys[p]);
        ASSERT_TRUE(t.intact(i)) << "record " << i;
        if (i > 0) { ASSERT_LE(t.key(i - 1), t.key(i)) << "at " << i; }
    }
}

// The same records, in any order (pads are checked apart).
void expect_permutation(const table& before, const table& after) {
    auto records = [](const table& t) {
        std::vector<std::pair<int32_t, uint32_t>> v;
        for (size_t i = 0; i < t.n; i++) v.emplace_back(t.key(i), t.pos(i));
        std::sort(v.begin(), v.end());
        return v;
    };
    ASSERT_EQ(records(before), records(after));
}

// }==

// {== Inputs

enum class shape {
    random_few,  // ten distinct keys
    random_many, // keys repeat about four times
    random_distinct,
    ascending,
    ascending_dups,
    descending,
    descending_dups,
    organ_pipe,
    mostly_sorted,  // ascending with about 1% of records swapped
    ascending_head, // three ascending, then descending
    all_equal,
};

constexpr shape all_shapes[] = {
    shape::random_few,     shape::random_many,    shape::random_distinct, shape::ascending,
    shape::ascending_dups, shape::descending,     shape::descending_dups, shape::organ_pipe,
    shape::mostly_sorted,  shape::ascending_head, shape::all_equal,
};

// Keys in [0, n], so they fit every record size for n < 4096.
std::vector<int32_t> make_keys(shape s, size_t n, std::mt19937& rng) {
    std::vector<int32_t> k(n);
    auto ni = static_cast<int32_t>(n);
    for (int32_t i = 0; i < ni; i++) {
        switch (s) {
        case shape::random_few: k[i] = static_cast<int32_t>(rng() % 10); break;
        case shape::random_many: k[i] = static_cast<int32_t>(rng() % (n / 4 + 1)); break;
        case shape::random_distinct:
        case shape::ascending:
        case shape::mostly_sorted: k[i] = i; break;
        case shape::ascending_dups: k[i] = i / 3; break;
        case shape::descending: k[i] = ni - i; break;
        case shape::descending_dups: k[i] = (ni - i) / 3; break;
        case shape::organ_pipe: k[i] = i < ni / 2 ? i : ni - i; break;
        case shape::ascending_head: k[i] = i < 3 ? i : ni - i + 3; break;
        case shape::all_equal: k[i] = 7; break;
        }
    }
    if (s == shape::random_distinct) std::shuffle(k.begin(), k.end(), rng);
    if (s == shape::mostly_sorted && n > 1)
        for (size_t j = 0; j <= n / 100; j++) std::swap(k[rng() % n], k[rng() % n]);
    return k;
}

// Builds the table of [keys] (with original positions) from integers.
table keyed(std::initializer_list<int32_t> keys) { return make_table(keys, 16); }

// }==

} // namespace

// {== Hand-worked permutations

// Nine records, a two-record prefix, a median-of-three partition with equal keys on the right.
TEST(Sort, QuicksortPartitionOrder) {
    table t = keyed({3, 1, 2, 3, 1, 3, 2, 1, 2});
    run(algo::quick, t);
    EXPECT_EQ(positions(t), (std::vector<uint32_t>{1, 4, 7, 6, 2, 8, 3, 0, 5}));

    table m = keyed({3, 1, 2, 3, 1, 3, 2, 1, 2});
    run(algo::merge, m);
    EXPECT_EQ(positions(m), (std::vector<uint32_t>{1, 4, 7, 2, 6, 8, 0, 3, 5}));
}

// Seven records are sorted by insertion alone (stable); eight go through the partition.
TEST(Sort, QuicksortSevenInsertEightPartition) {
    probe pr;
    auto ctx = reinterpret_cast<uintptr_t>(&pr);
    table seven = keyed({2, 1, 2, 1, 2, 1, 2});
    sort::quicksort(seven.bytes.data(), 0, 7, 16, 16, ctx, by_key);
    EXPECT_EQ(positions(seven), (std::vector<uint32_t>{1, 3, 5, 0, 2, 4, 6}));

    table eight = keyed({2, 1, 2, 1, 2, 1, 2, 1});
    sort::quicksort(eight.bytes.data(), 0, 8, 16, 16, ctx, by_key);
    EXPECT_EQ(positions(eight), (std::vector<uint32_t>{7, 1, 5, 3, 0, 2, 6, 4}));
}

// A five-record run, four strays, then an eleven-record ordered block that the entry swaps to
// the prefix's end; the sample quicksort then places the strays. Twice the sample's upper half
// overlaps the end of the region it is moved to.
TEST(Sort, QuicksortStartAbsorbsBlock) {
    table t = keyed({1, 2, 2, 3, 5, 3, 9, 2, 7, 5, 5, 6, 7, 7, 8, 9, 9, 10, 11, 12});
    run(algo::quick, t);
    EXPECT_EQ(positions(t), (std::vector<uint32_t>{0,  1,  2, 7,  5, 3,  4,  9,  10, 11,
                                                   12, 13, 8, 14, 6, 15, 16, 17, 18, 19}));
    for (size_t i = 1; i < t.n; i++) EXPECT_LE(t.key(i - 1), t.key(i));
}

// A two-record ascending run, then 498 records descending in equal pairs: the sampled pairs
// vote descending, so the prefix restarts from one record in that direction, takes in the
// whole tail as one block, and is reversed; equal pairs come out in reverse input order. The
// first record, pushed to the end by the block, travels back down through the samples.
TEST(Sort, QuicksortStartRestartsDescending) {
    std::vector<int32_t> keys{0, 1000};
    for (int32_t i = 2; i < 500; i++) keys.push_back(1 + (499 - i) / 2);
    table t = make_table(keys, 16);
    run(algo::quick, t);
    std::vector<uint32_t> want{0};
    for (uint32_t i = 499; i >= 2; i--) want.push_back(i);
    want.push_back(1);
    EXPECT_EQ(positions(t), want);
}

// Pairs of record ids that compare "greater"; every other pair, a record with itself included,
// compares "less". No consistent order answers so.
struct quirks {
    std::vector<std::pair<int32_t, int32_t>> greater;
};

int32_t by_quirks(const void* a, const void* b, uintptr_t, uintptr_t ctx2) {
    auto* q = reinterpret_cast<const quirks*>(ctx2);
    std::pair<int32_t, int32_t> ab{key_of(a, 16), key_of(b, 16)};
    return std::find(q->greater.begin(), q->greater.end(), ab) != q->greater.end() ? 1 : -1;
}

// An inconsistent comparator makes the second block start on the prefix's last record. That
// block continues the prefix as it is; exchanging it one record up would write past the end.
TEST(Sort, QuicksortStartBlockOnPrefixEnd) {
    std::vector<int32_t> ids(30);
    std::iota(ids.begin(), ids.end(), 0);
    table t = make_table(ids, 16);
    quirks q{{{4, 5}, {8, 9}, {15, 16}}};
    sort::quicksort_start(t.bytes.data(), t.n, 16, 0, reinterpret_cast<uintptr_t>(&q), by_quirks);
    std::vector<uint32_t> want{0, 1, 2, 3, 4, 9, 10, 11, 12, 13, 14, 15, 8, 5, 6, 7};
    for (uint32_t i = 16; i < 30; i++) want.push_back(i);
    EXPECT_EQ(positions(t), want);
}

// }==

// {== Edge cases

TEST(Sort, NoneOrOneRecordUntouched) {
    for (algo a : {algo::quick, algo::merge}) {
        probe pr;
        auto ctx = reinterpret_cast<uintptr_t>(&pr);
        if (a == algo::quick)
            sort::quicksort_start(nullptr, 0, 16, 16, ctx, by_key);
        else
            sort::mergesort(nullptr, 0, 16, 16, ctx, by_key);
        table one = keyed({5});
        EXPECT_EQ(run(a, one, pr), 0u);
        EXPECT_EQ(one.key(0), 5);
        EXPECT_EQ(one.pos(0), 0u);
    }
}

// A strictly descending array is one run: n - 1 comparisons, then a reversal.
TEST(Sort, StrictlyDescendingByReversal) {
    for (algo a : {algo::quick, algo::merge}) {
        std::vector<int32_t> keys(1000);
        for (int32_t i = 0; i < 1000; i++) keys[i] = 1000 - i;
        table t = make_table(keys, 16);
        EXPECT_EQ(run(a, t), 999u);
        expect_stable(keys, t);
    }
}

// Equal neighbours in a descending array: the quicksort's run takes them in and reverses them;
// the merge sort keeps their input order.
TEST(Sort, DescendingWithEqualNeighbours) {
    table q = keyed({3, 2, 2, 1, 1, 0});
    run(algo::quick, q);
    EXPECT_EQ(positions(q), (std::vector<uint32_t>{5, 4, 3, 2, 1, 0}));

    std::vector<int32_t> keys;
    for (int32_t i = 0; i < 300; i++) keys.push_back((300 - i) / 2);
    table m = make_table(keys, 16);
    run(algo::merge, m);
    expect_stable(keys, m);
}

TEST(Sort, EqualKeysKeepInputOrder) {
    for (algo a : {algo::quick, algo::merge}) {
        std::vector<int32_t> keys(5000, 42);
        table t = make_table(keys, 16);
        run(a, t);
        expect_stable(keys, t);
    }
}

// }==

// {== Steps of the merge sort

TEST(Sort, FindRun) {
    probe pr;
    sort::params p{16, 16, reinterpret_cast<uintptr_t>(&pr), by_key};
    // A strictly descending start is reversed, then extended to 24 records by insertion.
    std::vector<int32_t> keys{5, 4, 3, 3, 9, 1, 1, 8, 2, 6, 0, 7,   5,
                              5, 4, 2, 3, 1, 9, 8, 7, 6, 5, 4, 100, 0};
    table t = make_table(keys, 16);
    EXPECT_EQ(sort::find_run(t.at(0), t.at(t.n), p), t.at(24));
    keys.resize(24);
    t.n = 24;
    expect_stable(keys, t);

    // A long non-descending run ends at its first descent; a short tail ends at the end.
    std::vector<int32_t> up{1, 1, 2, 2, 2, 3};
    for (int32_t i = 0; i < 30; i++) up.push_back(3 + i / 2);
    up.push_back(0);
    table u = make_table(up, 16);
    EXPECT_EQ(sort::find_run(u.at(0), u.at(u.n), p), u.at(36));
    EXPECT_EQ(sort::find_run(u.at(30), u.at(u.n), p), u.at(u.n));
}

TEST(Sort, MergeEitherSideStable) {
    probe pr;
    sort::params p{16, 16, reinterpret_cast<uintptr_t>(&pr), by_key};
    std::vector<uint8_t> buffer(16 * 8);
    // Left shorter (merged from the front), then right shorter (merged from the back).
    for (auto keys : {std::vector<int32_t>{1, 2, 2, 0, 1, 2, 2, 3, 4},
                      std::vector<int32_t>{0, 1, 2, 2, 3, 4, 1, 2, 2}}) {
        table t = make_table(keys, 16);
        size_t mid = keys[3] == 0 ? 3 : 6;
        sort::merge(t.at(0), t.at(mid), t.at(t.n), buffer.data(), p);
        expect_stable(keys, t);
    }
}

TEST(Sort, MergeBufferTooLong) {
    probe pr;
    auto ctx = reinterpret_cast<uintptr_t>(&pr);
    uint8_t dummy[16] = {};
    for (auto [n, size] : {std::pair<size_t, size_t>{size_t(1) << 28, 16},
                           {(size_t(1) << 32) + 2, 1},
                           {SIZE_MAX, 16}}) {
        try {
            sort::mergesort(dummy, n, size, size, ctx, by_key);
            ADD_FAILURE() << "no error for " << n << " records of " << size;
        } catch (const error::raised& e) {
            EXPECT_EQ(e.category, error::cat_script);
            EXPECT_EQ(e.id, error::script_too_long);
        }
    }
    EXPECT_EQ(pr.calls, 0u);
}

// }==

// {== Whole arrays

TEST(Sort, ArraysOfManyShapesAndSizes) {
    std::mt19937 rng(20240611);
    for (size_t n :
         {0, 1, 2, 7, 8, 9, 23, 24, 25, 48, 63, 64, 511, 512, 513, 1000, 10000, 100000}) {
        for (shape s : all_shapes) {
            std::vector<int32_t> keys = make_keys(s, n, rng);
            table q = make_table(keys, 16), m = q;
            run(algo::quick, q);
            run(algo::merge, m);
            SCOPED_TRACE(testing::Message() << "n " << n << " shape " << int(s));
            expect_sorted_permutation(keys, q);
            expect_stable(keys, m);
        }
    }
}

// 4 and 6 bytes (6 swapped byte by byte), 32 bytes (two cells).
TEST(Sort, RecordSizes) {
    std::mt19937 rng(7);
    for (size_t size : {4, 6, 32}) {
        for (size_t n : {2, 7, 8, 63, 64, 511, 512, 4000}) {
            for (shape s : all_shapes) {
                std::vector<int32_t> keys = make_keys(s, n, rng);
                table q = make_table(keys, size), m = q;
                run(algo::quick, q);
                run(algo::merge, m);
                SCOPED_TRACE(testing::Message()
                             << "size " << size << " n " << n << " shape " << int(s));
                expect_sorted_permutation(keys, q);
                expect_stable(keys, m);
            }
        }
    }
}

// A comparator that raises after k calls, for many k: the error gets out, the array holds the
// same records (none left only in the merge buffer), and the buffer is freed.
TEST(Sort, ComparatorErrorLeavesPermutation) {
    std::mt19937 rng(99);
    for (algo a : {algo::quick, algo::merge}) {
        for (size_t n : {60, 200, 3000}) {
            std::vector<int32_t> keys = make_keys(shape::random_many, n, rng);
            table input = make_table(keys, 16);
            table whole = input;
            uint64_t calls = run(a, whole);
            uint64_t step = std::max<uint64_t>(1, calls / 400);
            for (uint64_t k = 0; k < calls; k += k < 300 ? 1 : step) {
                table t = input;
                probe pr;
                pr.raise_at = k;
                EXPECT_THROW(run(a, t, pr), error::raised) << "k " << k;
                SCOPED_TRACE(testing::Message() << "n " << n << " k " << k);
                expect_permutation(input, t);
                for (size_t i = 0; i < t.n; i++) ASSERT_TRUE(t.intact(i));
            }
        }
    }
}

// }==
