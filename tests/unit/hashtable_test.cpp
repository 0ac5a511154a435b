// tests/unit/hashtable_test.cpp: MurmurHash3, value hashes and the tables of every kind:
// sizing and growth, hash! chains and position upkeep against a linear model, map! keys,
// node-keyed tables and stamps, ptrmap, and tables across collections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/header_flags.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/hashtable.h"
#include "runtime/hashtable_internal.h"
#include "runtime/murmur.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using namespace zyl::hashtable;

namespace {

// {== Fixture and helpers

bool is_word_type(uint8_t t) {
    return t == T_word || t == T_set_word || t == T_lit_word || t == T_get_word || t == T_refinement || t == T_issue;
}

// Stand-in compare entries for datatypes not registered yet: words by symbol (exact for
// strict and same, else canonical), blocks by reference.
int32_t word_compare(const cell* a, const cell* b, int32_t op) {
    if (!is_word_type(b->type())) return -2;
    bool exact = op == 2 || op == 9;
    uint32_t x = exact ? a->w2 : symbol::resolve(a->w2), y = exact ? b->w2 : symbol::resolve(b->w2);
    return x == y ? 0 : 1;
}

int32_t block_compare(const cell* a, const cell* b, int32_t) {
    return b->type() == a->type() && b->w1 == a->w1 && b->w2 == a->w2 ? 0 : 1;
}

void stand_in(uint8_t type, actions::compare_fn f) {
    action_fn& slot = datatype::reg.actions[type * ACTION_ROW + A_compare - 1];
    if (!slot) slot = datatype::entry(f);
}

struct HashtableTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        for (uint8_t t : {T_word, T_set_word, T_lit_word, T_get_word, T_refinement, T_issue}) stand_in(t, word_compare);
        stand_in(T_block, block_compare);
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

cell dt(uint32_t n) { return cell{T_datatype, n, 0, 0}; }

// A new block holding [values] as datatype! cells.
node_id block_of(const std::vector<uint32_t>& values) {
    node_id n = series::alloc_cells(std::max<size_t>(values.size(), 1));
    for (uint32_t v : values) series::append_unset_cell(n)[0] = dt(v);
    return n;
}

cell* cells(node_id n) { return reinterpret_cast<cell*>(memory::buffer_of(n)->head); }

// A text value of [type] holding [text] at [unit] bytes a character.
cell text(std::u32string_view chars, uint32_t unit, uint8_t type = T_string) {
    node_id n = series::alloc_by_encoding(chars.size(), unit);
    series_buffer* b = memory::buffer_of(n);
    for (char32_t c : chars) {
        unicode::text::put(b->tail, unit, c);
        b->tail += unit;
    }
    return cell{type, 0, n, 0};
}

// Live buckets of [t], counted from its flags.
uint32_t live_buckets(node_id t) {
    detail::view v = detail::view_of(t);
    uint32_t n = 0;
    for (uint32_t i = 0; i < v.r->buckets; i++) n += detail::is_live(v.flags, i);
    return n;
}

// The positions held by bucket [i] of hash table [t].
std::vector<uint32_t> positions_in(node_id t, uint32_t i) {
    detail::view v = detail::view_of(t);
    auto k = static_cast<int32_t>(v.slots[i].key);
    if (k >= 0) return {static_cast<uint32_t>(k)};
    node_id chain = detail::chain_of(v.r, k);
    std::vector<uint32_t> out;
    for (uint32_t j = 1; j <= array::length(chain); j++) out.push_back(static_cast<uint32_t>(array::pick_int(chain, j)));
    return out;
}

// The bucket that position [p] of hash table [t] is recorded in.
uint32_t bucket_of(node_id t, uint32_t p) { return detail::words_of(rec(t)->positions)[p] - 1; }

// }==
// {== MurmurHash3 and sizing

TEST(Murmur, PublishedVectors) {
    uint32_t saved = random::hash_seed;
    struct { uint32_t seed; const char* text; uint32_t hash; } cases[] = {
        {0, "", 0},
        {1, "", 0x514E28B7},
        {0xFFFFFFFF, "", 0x81F16F39},
        {0, "test", 0xBA6BD213},
        {0x9747B28C, "Hello, world!", 0x24884CBA},
        {0, "The quick brown fox jumps over the lazy dog", 0x2E4FF723},
        {0x9747B28C, "aaa", 0x283E0130},
    };
    for (auto& c : cases) {
        random::hash_seed = c.seed;
        EXPECT_EQ(hash::murmur3(c.text, std::strlen(c.text)), c.hash) << c.text;
    }
    random::hash_seed = saved;
    EXPECT_EQ(hash::mix32(0), 0u);
    EXPECT_NE(hash::mix32(1), hash::mix32(2));
}

TEST(Murmur, LoweredNamesFoldOnlyAsciiLetters) {
    const char* upper = "Hello-WORLD_[Z]@";
    const char* lower = "hello-world_[z]@";
    EXPECT_EQ(hash::murmur3_lower(upper, 16), hash::murmur3(lower, 16));
    for (size_t n = 0; n <= 16; n++) EXPECT_EQ(hash::murmur3_lower(upper, n), hash::murmur3(lower, n)) << n;
    // Bytes from 0x80 up stay as they are, even those whose low seven bits spell A-Z.
    uint8_t high[32];
    for (int i = 0; i < 32; i++) high[i] = static_cast<uint8_t>(0xC0 + i);
    EXPECT_EQ(hash::murmur3_lower(high, 32), hash::murmur3(high, 32));
    const char* punct = "@[`{";
    EXPECT_EQ(hash::murmur3_lower(punct, 4), hash::murmur3(punct, 4));
}

TEST(Murmur, NextPowerOfTwo) {
    struct { uint32_t n, p; } cases[] = {{1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {10389, 16384}, {16384, 16384}, {0x80000000u, 0x80000000u}};
    for (auto& c : cases) EXPECT_EQ(hash::next_pow2(c.n), c.p) << c.n;
}

TEST_F(HashtableTest, NewTablesAreSizedAndEmpty) {
    struct { uint32_t size, kind, buckets, limit; } cases[] = {
        {0, KIND_MAP, 8, 6},           // below 4 counts as 4: 4 / 0.77 = 5 -> 8
        {100, KIND_HASH, 256, 197},
        {4000, KIND_WORD, 16384, 12615}, // word tables of 4,000 or more start doubled
        {3999, KIND_WORD, 8192, 6307},
        {10, KIND_POINTER, 16, 12},
    };
    for (auto& c : cases) {
        node_id t = init(c.size, nullptr, c.kind, 1);
        record* r = rec(t);
        EXPECT_EQ(r->buckets, c.buckets) << c.size;
        EXPECT_EQ(r->limit, c.limit) << c.size;
        EXPECT_EQ(r->size, 0u);
        EXPECT_EQ(r->occupied, 0u);
        series_buffer* f = memory::buffer_of(r->flags);
        for (uint32_t i = 0; i < c.buckets / 4; i++) ASSERT_EQ(f->head[i], FLAGS_ALL_EMPTY);
        cell key = dt(7);
        if (c.kind < KIND_WORD) {
            EXPECT_EQ(find(t, &key, 0, 1, 0, false, false), nullptr);
        }
    }
    node_id t = init(4, nullptr, KIND_OWNER, 3);
    EXPECT_EQ(rec(t)->positions, 64u); // entry size: 16 x (3 + 1)
    EXPECT_EQ(rec(t)->stamp, relocations + 1);
}

// }==
// {== Hashes of values

TEST_F(HashtableTest, TextHashesByCharactersNotByWidth) {
    cell a1 = text(U"ABC", 1), a2 = text(U"ABC", 2), l4 = text(U"abc", 4), l1 = text(U"abc", 1);
    EXPECT_EQ(hash_value(&a1, false), hash_value(&l4, false));
    EXPECT_EQ(hash_value(&a2, false), hash_value(&l4, false));
    EXPECT_EQ(hash_value(&a1, true), hash_value(&a2, true));
    EXPECT_NE(hash_value(&a1, true), hash_value(&l1, true));
    cell f = text(U"abc", 1, T_file);
    EXPECT_EQ(hash_value(&f, false), hash_value(&a1, false));
    // Non-ASCII letters fold too, and the widths agree.
    cell e1 = text(U"\u00E9t\u00E9", 1), e2 = text(U"\u00C9T\u00C9", 2);
    EXPECT_EQ(hash_value(&e1, false), hash_value(&e2, false));
    // From the index on; an index past the tail reads as the tail.
    cell tail = text(U"xxabc", 1);
    tail.w1 = 2;
    EXPECT_EQ(hash_value(&tail, false), hash_value(&l1, false));
    tail.w1 = 99;
    cell empty = text(U"", 1);
    EXPECT_EQ(hash_value(&tail, false), hash_value(&empty, false));
    // An internal text key of length 3 hashes its first three characters only.
    cell key = text(U"abcdef", 2);
    key.header = T_TEXT_KEY;
    key.w3 = 3;
    EXPECT_EQ(hash_value(&key, false), hash_value(&a1, false));
}

TEST_F(HashtableTest, ScalarHashesFollowTheirPayload) {
    cell none = {T_none, 1, 2, 3}, unset = {T_unset, 0, 0, 0};
    EXPECT_EQ(hash_value(&none, false), 0xFFFFFFFFu);
    EXPECT_EQ(hash_value(&unset, false), 0xFFFFFFFEu);
    cell i = {T_integer, 5, 42, 9}, c = {T_char_, 0, 42, 0};
    EXPECT_EQ(hash_value(&i, false), hash::mix32(42));
    EXPECT_EQ(hash_value(&c, false), hash::mix32(42));
    cell d = dt(11);
    EXPECT_EQ(hash_value(&d, false), hash::mix32(11));
    cell n = {T_native, 1, 2, 77};
    EXPECT_EQ(hash_value(&n, false), hash::mix32(77));
    // A point3D! hashes x, y and z: its own three payload words.
    cell p3 = {T_point3d, 1, 2, 3};
    EXPECT_EQ(hash_value(&p3, false), hash::murmur3(&p3.w1, 12));
    cell p2 = {T_point2d, 1, 2, 3}, p2b = {T_point2d, 1, 2, 4};
    EXPECT_EQ(hash_value(&p2, false), hash_value(&p2b, false));
    cell fl = {T_float_, 9, 1, 2}, fl2 = {T_float_, 8, 1, 2};
    EXPECT_EQ(hash_value(&fl, false), hash_value(&fl2, false));
    cell b = {T_block, 1, 2, 3}, b2 = {T_block, 1, 2, 4}, b3 = {T_block, 2, 2, 3};
    EXPECT_EQ(hash_value(&b, false), hash_value(&b2, false));
    EXPECT_NE(hash_value(&b, false), hash_value(&b3, false));
    cell unknown = {T_bitset, 1, 2, 3};
    EXPECT_EQ(hash_value(&unknown, false), 0u);
}

TEST_F(HashtableTest, MoneyTupleAndBinaryHashes) {
    cell m = {T_money, 0x01020304, 5, 6}, m_line = m, m_neg = m;
    m_line.header |= CELL_NEW_LINE;
    m_neg.header |= MONEY_NEGATIVE;
    EXPECT_EQ(hash_value(&m, false), hash_value(&m_line, false));
    EXPECT_NE(hash_value(&m, false), hash_value(&m_neg, false));
    cell t3 = {T_tuple | (3u << TUPLE_COUNT_SHIFT), 0x00030201, 0, 0};
    cell t3b = t3;
    t3b.w2 = 0xFF; // past the count: not hashed
    EXPECT_EQ(hash_value(&t3, false), hash_value(&t3b, false));
    EXPECT_EQ(hash_value(&t3, false), hash::murmur3(&t3.w1, 3));
    cell t15 = {T_tuple | (15u << TUPLE_COUNT_SHIFT), 1, 2, 3}; // a corrupt count stays in the cell
    EXPECT_EQ(hash_value(&t15, false), hash::murmur3(&t15.w1, 12));
    node_id bytes = series::alloc_bytes(8);
    series_buffer* bb = memory::buffer_of(bytes);
    std::memcpy(bb->head, "xyzabc", 6);
    bb->tail = bb->head + 6;
    cell bin = {T_binary, 3, bytes, 0};
    EXPECT_EQ(hash_value(&bin, false), hash::murmur3("abc", 3));
    bin.w1 = 40;
    EXPECT_EQ(hash_value(&bin, false), hash::murmur3("", 0));
}

TEST_F(HashtableTest, WordsHashByTheirCanonicalSymbol) {
    uint32_t lower = symbol::make("print"), upper = symbol::make("PRINT");
    ASSERT_NE(lower, upper);
    cell w = {T_word, 0, lower, 0};
    for (uint8_t t : {T_word, T_set_word, T_lit_word, T_get_word, T_refinement, T_issue}) {
        cell v = {t, 7, upper, 3};
        EXPECT_EQ(hash_value(&v, false), hash_value(&w, false));
    }
    cell s = *symbol::entry_cell(upper);
    EXPECT_EQ(hash_value(&s, false), hash::murmur3("print", 5));
}

// }==
// {== hash! tables

TEST_F(HashtableTest, EqualValuesShareOneChain) {
    node_id data = block_of({1, 2, 1, 3, 1});
    cell b = {T_block, 0, data, 0};
    node_id t = init(5, &b, KIND_HASH, 1);
    EXPECT_EQ(rec(t)->size, 3u);
    EXPECT_EQ(live_buckets(t), 3u);
    uint32_t bucket = bucket_of(t, 0);
    EXPECT_EQ(bucket_of(t, 2), bucket);
    EXPECT_EQ(bucket_of(t, 4), bucket);
    EXPECT_EQ(positions_in(t, bucket), (std::vector<uint32_t>{0, 2, 4}));
    remove_entry(t, cells(data) + 0);
    remove_entry(t, cells(data) + 4);
    EXPECT_TRUE(detail::is_live(detail::bytes_of(rec(t)->flags), bucket));
    EXPECT_EQ(rec(t)->size, 3u);
    cell one = dt(1);
    EXPECT_EQ(find(t, &one, 0, 1, 0, false, false), cells(data) + 2);
    remove_entry(t, cells(data) + 2);
    EXPECT_TRUE(detail::is_deleted(detail::bytes_of(rec(t)->flags), bucket));
    EXPECT_EQ(rec(t)->size, 2u);
    EXPECT_EQ(find(t, &one, 0, 1, 0, false, false), nullptr);
    cell two = dt(2);
    EXPECT_EQ(find(t, &two, 0, 1, 0, false, false), cells(data) + 1);
}

TEST_F(HashtableTest, LogicValuesChainToo) {
    node_id data = series::alloc_cells(4);
    for (int i = 0; i < 3; i++) series::append_unset_cell(data)[0] = true_value;
    cell b = {T_block, 0, data, 0};
    node_id t = init(3, &b, KIND_HASH, 1);
    EXPECT_EQ(live_buckets(t), 1u);
    EXPECT_EQ(positions_in(t, bucket_of(t, 1)).size(), 3u);
    cell f = false_value;
    EXPECT_EQ(find(t, &f, 0, 1, 0, false, false), nullptr);
}

TEST_F(HashtableTest, FindDirectionsAndRecords) {
    //                           0  1  2  3  4  5  6  7
    node_id data = block_of({5, 1, 5, 2, 5, 3, 5, 4});
    cell b = {T_block, 0, data, 0};
    node_id t = init(8, &b, KIND_HASH, 1);
    cell five = dt(5);
    auto at = [&](int32_t start, int32_t skip, bool last, bool reverse) -> int {
        cell* c = find(t, &five, start, skip, 0, last, reverse);
        return c ? static_cast<int>(c - cells(data)) : -1;
    };
    EXPECT_EQ(at(0, 1, false, false), 0);
    EXPECT_EQ(at(1, 1, false, false), 2);
    EXPECT_EQ(at(1, 2, false, false), -1); // positions 1, 3, 5, 7 hold no 5
    EXPECT_EQ(at(0, 4, false, false), 0);
    EXPECT_EQ(at(0, 1, true, false), 6);
    EXPECT_EQ(at(7, 1, true, false), -1);
    EXPECT_EQ(at(5, 1, false, true), 4);
    EXPECT_EQ(at(0, 1, false, true), -1);
    EXPECT_EQ(at(7, 2, false, true), 6); // (7 - 6 - 1) is a whole record back
    EXPECT_EQ(at(7, 3, false, true), 6);
    EXPECT_EQ(at(8, 3, false, true), 4); // records of 3 back from 8 start at 7, 4, 1
}

TEST_F(HashtableTest, GrowthRebuildsAHashTable) {
    node_id t = init(4, nullptr, KIND_HASH, 1); // 8 buckets, limit 6
    node_id data = rec(t)->data;
    ASSERT_EQ(rec(t)->buckets, 8u);
    int32_t status = -1;
    for (uint32_t v = 0; v < 6; v++) {
        series::append_unset_cell(data)[0] = dt(v);
        put(t, cells(data) + v, &status);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(rec(t)->occupied, 6u);
    series::append_unset_cell(data)[0] = dt(6);
    put(t, cells(data) + 6, &status);
    EXPECT_EQ(status, PUT_REBUILT); // the rebuild indexed the new cell too
    EXPECT_EQ(rec(t)->buckets, 16u);
    EXPECT_EQ(rec(t)->size, 7u);
    for (uint32_t v = 0; v < 7; v++) {
        cell k = dt(v);
        EXPECT_EQ(find(t, &k, 0, 1, 0, false, false), cells(data) + v);
    }
}

TEST_F(HashtableTest, ReindexOfTooManyPositionsChangesNothing) {
    std::vector<uint32_t> values(REINDEX_MAX + 1);
    for (uint32_t i = 0; i < values.size(); i++) values[i] = i % 1000;
    node_id data = block_of(values);
    cell b = {T_block, 0, data, 0};
    node_id t = init(static_cast<uint32_t>(values.size()), &b, KIND_HASH, 1);
    record before = *rec(t);
    node_id keys = series::copy_buffer(rec(t)->keys), positions = series::copy_buffer(rec(t)->positions);
    EXPECT_EQ(reindex_range(t, 1, 0, REINDEX_MAX + 1, true), 1);
    EXPECT_EQ(std::memcmp(&before, rec(t), sizeof before), 0);
    auto same = [](node_id a, node_id b) {
        series_buffer *x = memory::buffer_of(a), *y = memory::buffer_of(b);
        return x->used_bytes() == y->used_bytes() && std::memcmp(x->head, y->head, x->used_bytes()) == 0;
    };
    EXPECT_TRUE(same(keys, rec(t)->keys));
    EXPECT_TRUE(same(positions, rec(t)->positions));
    EXPECT_EQ(reindex_range(t, 1, 0, REINDEX_MAX, true), 0);
}

// The hash! table of a block kept in step with a plain vector, checked by linear search.
struct HashModel {
    node_id data;
    node_id t;
    std::vector<uint32_t> model;

    uint32_t n() const { return static_cast<uint32_t>(model.size()); }
    cell* at(uint32_t p) const { return cells(data) + p; }

    void reserve(uint32_t count) {
        series_buffer* b = memory::buffer_of(data);
        if (uint64_t(count) * sizeof(cell) > uint64_t(b->end() - b->head)) series::expand(data, uint64_t(count) * 32);
    }

    void insert(uint32_t p, const std::vector<uint32_t>& values) {
        uint32_t k = static_cast<uint32_t>(values.size()), len = n();
        reserve(len + k);
        cell* c = at(0);
        std::memmove(c + p + k, c + p, size_t(len - p) * sizeof(cell));
        for (uint32_t i = 0; i < k; i++) c[p + i] = dt(values[i]);
        memory::buffer_of(data)->tail += size_t(k) * sizeof(cell);
        model.insert(model.begin() + p, values.begin(), values.end());
        if (reindex_range(t, static_cast<int32_t>(k), p, len - p, true)) return clear_and_size(t, len + k);
        for (uint32_t i = 0; i < k; i++) {
            int32_t status;
            put(t, at(p + i), &status);
            if (status == PUT_REBUILT) break;
        }
    }

    void cut(uint32_t p, uint32_t k) {
        cell* c = at(0);
        std::memmove(c + p, c + p + k, size_t(n() - p - k) * sizeof(cell));
        memory::buffer_of(data)->tail -= size_t(k) * sizeof(cell);
        model.erase(model.begin() + p, model.begin() + p + k);
    }

    void remove(uint32_t p, uint32_t k, bool by_range) {
        uint32_t after = n() - p - k;
        if (by_range) {
            remove_range(t, p, k);
            cut(p, k);
            if (reindex_range(t, -static_cast<int32_t>(k), p + k, after, false)) clear_and_size(t, n());
        } else {
            bool rebuild = reindex_range(t, -static_cast<int32_t>(k), p + k, after, true);
            cut(p, k);
            if (rebuild) clear_and_size(t, n());
        }
    }

    void move(uint32_t from, uint32_t count, uint32_t to) {
        cell* c = at(0);
        if (to > from + count) {
            std::rotate(c + from, c + from + count, c + to);
            std::rotate(model.begin() + from, model.begin() + from + count, model.begin() + to);
        } else if (to < from) {
            std::rotate(c + to, c + from, c + from + count);
            std::rotate(model.begin() + to, model.begin() + from, model.begin() + from + count);
        }
        move_range(t, to, from, count);
    }

    void poke(uint32_t p, uint32_t v) {
        remove_entry(t, at(p));
        *at(p) = dt(v);
        model[p] = v;
        put(t, at(p), nullptr);
    }

    int64_t expect(uint32_t v, int32_t start, int32_t skip, bool last, bool reverse) const {
        bool backward = last || reverse;
        int64_t best = -1;
        for (int64_t p = 0; p < n(); p++) {
            if (model[p] != v || (reverse ? p >= start : p < start)) continue;
            int64_t d = backward ? start - p - 1 : p - start;
            if (((d % skip) + skip) % skip) continue;
            if (best < 0 || (backward ? p > best : p < best)) best = p;
        }
        return best;
    }

    int64_t found(uint32_t v, int32_t start, int32_t skip, bool last, bool reverse) const {
        cell key = dt(v);
        cell* c = find(t, &key, start, skip, 0, last, reverse);
        return c ? c - at(0) : -1;
    }

    // Every position sits in exactly one live bucket, which lists it; counts agree.
    void check() const {
        detail::view v = detail::view_of(t);
        uint32_t live = 0, listed = 0;
        for (uint32_t i = 0; i < v.r->buckets; i++) {
            if (!detail::is_live(v.flags, i)) continue;
            live++;
            for (uint32_t p : positions_in(t, i)) {
                listed++;
                ASSERT_LT(p, n());
                ASSERT_EQ(bucket_of(t, p), i) << "position " << p;
                ASSERT_EQ(at(p)->w1, model[p]);
            }
        }
        ASSERT_EQ(live, v.r->size);
        ASSERT_EQ(listed, n());
        ASSERT_LT(v.r->occupied, v.r->buckets);
        ASSERT_GE(v.r->occupied, v.r->size);
    }
};

// Runs [ops] random operations over values below [domain] on [m], checking every find.
void run_model(HashModel& m, std::mt19937& rng, int ops, uint32_t domain) {
    auto pick = [&](uint32_t n) { return n ? static_cast<uint32_t>(rng() % n) : 0u; };
    for (int op = 0; op < ops; op++) {
        uint32_t n = m.n(), choice = pick(100);
        if (choice < 35 || n < 4) {
            std::vector<uint32_t> values(1 + pick(n > 300 ? 2 : 6));
            for (auto& v : values) v = pick(domain);
            m.insert(pick(n + 1), values);
        } else if (choice < 65 && n > 0) {
            uint32_t p = pick(n), k = 1 + pick(std::min<uint32_t>(n - p, 4));
            m.remove(p, k, pick(2));
        } else if (choice < 80) {
            uint32_t from = pick(n), count = 1 + pick(std::min<uint32_t>(n - from, 5)), to = pick(n + 1);
            if (to >= from && to <= from + count) continue;
            m.move(from, count, to);
        } else {
            m.poke(pick(n), pick(domain));
        }
        for (int f = 0; f < 3; f++) {
            uint32_t v = f == 0 && m.n() ? m.model[pick(m.n())] : pick(domain);
            auto start = static_cast<int32_t>(pick(m.n() + 2));
            auto skip = static_cast<int32_t>(1 + pick(3));
            bool last = pick(3) == 1, reverse = !last && pick(2);
            ASSERT_EQ(m.found(v, start, skip, last, reverse), m.expect(v, start, skip, last, reverse))
                << "op " << op << " value " << v << " start " << start << " skip " << skip << " last " << last
                << " reverse " << reverse;
        }
        if (op % 50 == 0) {
            ASSERT_NO_FATAL_FAILURE(m.check()) << "op " << op;
        }
    }
    ASSERT_NO_FATAL_FAILURE(m.check());
}

HashModel new_model(uint32_t size) {
    HashModel m;
    m.t = init(size, nullptr, KIND_HASH, 1);
    m.data = rec(m.t)->data;
    return m;
}

TEST_F(HashtableTest, RandomOperationsMatchALinearSearch) {
    std::mt19937 rng(20260101);
    for (uint32_t domain : {6u, 60u, 5000u}) {
        HashModel m = new_model(8);
        ASSERT_NO_FATAL_FAILURE(run_model(m, rng, 6000, domain)) << "domain " << domain;
    }
}

TEST_F(HashtableTest, ACopyKeepsItsOwnChains) {
    std::mt19937 rng(7);
    HashModel m = new_model(8);
    ASSERT_NO_FATAL_FAILURE(run_model(m, rng, 500, 5));
    HashModel c = m;
    c.data = series::copy_buffer(m.data);
    c.t = copy(m.t, c.data);
    ASSERT_NO_FATAL_FAILURE(c.check());
    ASSERT_NO_FATAL_FAILURE(run_model(c, rng, 1500, 5));
    ASSERT_NO_FATAL_FAILURE(m.check()); // the original saw none of it
    for (uint32_t v = 0; v < 5; v++) EXPECT_EQ(m.found(v, 0, 1, false, false), m.expect(v, 0, 1, false, false));
}

TEST_F(HashtableTest, ClearingEmptiesEverything) {
    HashModel m = new_model(8);
    std::mt19937 rng(3);
    ASSERT_NO_FATAL_FAILURE(run_model(m, rng, 200, 4));
    remove_range(m.t, 0, m.n() + 10); // all of it, and more
    m.cut(0, m.n());
    EXPECT_EQ(rec(m.t)->size, 0u);
    EXPECT_EQ(live_buckets(m.t), 0u);
    EXPECT_EQ(array::length(rec(m.t)->chains), 0u);
    ASSERT_NO_FATAL_FAILURE(run_model(m, rng, 200, 4));
    clear(m.t);
    m.model.clear();
    EXPECT_EQ(detail::cell_count(m.data), 0u);
}

// }==
// {== map! tables

struct MapTest : HashtableTest {
    cell key(uint8_t type, const char* name) { return cell{type, 0, symbol::make(name), 0}; }
    node_id map_of(std::initializer_list<cell> pairs) {
        node_id data = series::alloc_cells(pairs.size() + 1);
        for (const cell& c : pairs) series::append_unset_cell(data)[0] = c;
        cell b = {T_block, 0, data, 0};
        return init(static_cast<uint32_t>(pairs.size() / 2), &b, KIND_MAP, 1);
    }
};

TEST_F(MapTest, FourSpellingsFindOneKey) {
    node_id t = map_of({key(T_set_word, "a"), dt(1), key(T_set_word, "b"), dt(2)});
    cell* pairs = cells(rec(t)->data);
    for (uint8_t type : {T_word, T_set_word, T_lit_word, T_get_word}) {
        cell k = key(type, "a");
        EXPECT_EQ(find(t, &k, 0, 1, 0, false, false), pairs) << int(type);
        EXPECT_EQ(k.type(), type); // the caller's key is left as it was
        cell kb = key(type, "b");
        EXPECT_EQ(find(t, &kb, 0, 1, 0, false, false), pairs + 2);
    }
    cell upper = key(T_word, "A");
    EXPECT_EQ(find(t, &upper, 0, 1, 0, false, false), pairs);
    EXPECT_EQ(find(t, &upper, 0, 1, 2, false, false), nullptr); // strict: another spelling
    cell other = key(T_word, "c");
    EXPECT_EQ(find(t, &other, 0, 1, 0, false, false), nullptr);
    cell refinement = key(T_refinement, "a"); // not a word spelling: another datatype
    EXPECT_EQ(find(t, &refinement, 0, 1, 0, false, false), nullptr);
}

TEST_F(MapTest, LaterDuplicatesGiveTheirValue) {
    node_id t = map_of({key(T_set_word, "a"), dt(1), key(T_set_word, "b"), dt(2), key(T_set_word, "a"), dt(3)});
    EXPECT_EQ(rec(t)->size, 2u);
    EXPECT_EQ(detail::cell_count(rec(t)->data), 4u);
    cell* pairs = cells(rec(t)->data);
    EXPECT_EQ(pairs[1].w1, 3u);
    EXPECT_EQ(pairs[3].w1, 2u);
}

TEST_F(MapTest, RemovedPairsLeaveTheView) {
    node_id t = map_of({key(T_set_word, "a"), dt(1), key(T_set_word, "b"), dt(2)});
    cell* pairs = cells(rec(t)->data);
    remove_entry(t, pairs);
    EXPECT_EQ(pairs[1].header, 0u);
    EXPECT_EQ(rec(t)->size, 1u);
    remove_entry(t, pairs); // already out: nothing more
    EXPECT_EQ(rec(t)->size, 1u);
    cell a = key(T_word, "a");
    EXPECT_EQ(find(t, &a, 0, 1, 0, false, false), pairs); // the key stays indexed
}

TEST_F(MapTest, GetNextVisitsEveryCaseVariant) {
    node_id t = map_of({key(T_set_word, "foo"), dt(1), key(T_set_word, "FOO"), dt(2), key(T_set_word, "bar"), dt(3),
                        key(T_set_word, "Foo"), dt(4)});
    EXPECT_EQ(rec(t)->size, 4u); // strict comparison tells the spellings apart
    cell k = key(T_word, "fOO");
    int32_t bucket = -1, step = 0;
    std::vector<uint32_t> values;
    while (cell* c = get_next(t, &k, bucket, step)) values.push_back(c[1].w1);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<uint32_t>{1, 2, 4}));
}

// Equality look-ups pass over buckets whose stored hash differs; not-equal tests every live
// bucket on the key's probe path and answers the first stored key that differs.
TEST_F(MapTest, NotEqualLooksAtEveryBucket) {
    node_id t = map_of({cell{T_integer, 0, 1, 0}, dt(1), cell{T_integer, 0, 2, 0}, dt(2)});
    cell* pairs = cells(rec(t)->data);
    cell one = {T_integer, 0, 1, 0}, three = {T_integer, 0, 3, 0};
    EXPECT_EQ(find(t, &one, 0, 1, 0, false, false), pairs);
    EXPECT_EQ(find(t, &three, 0, 1, 0, false, false), nullptr);
    // The probe path of 3 ends at an empty bucket; whatever it passes that is not 3 answers.
    detail::view v = detail::view_of(t);
    uint32_t i = hash::mix32(3) & v.mask, step = 0;
    cell* expected = nullptr;
    while (!detail::is_empty(v.flags, i) && !expected) {
        if (detail::is_live(v.flags, i)) expected = v.cells + v.slots[i].key;
        i = (i + ++step) & v.mask;
    }
    EXPECT_EQ(find(t, &three, 0, 1, 1, false, false), expected);
    cell* other = find(t, &one, 0, 1, 1, false, false);
    EXPECT_TRUE(other == nullptr || other == pairs + 2);
}

TEST_F(MapTest, GrowthDoublesInPlace) {
    node_id t = init(10, nullptr, KIND_MAP, 1);
    node_id data = rec(t)->data;
    ASSERT_EQ(rec(t)->buckets, 16u);
    ASSERT_EQ(rec(t)->limit, 12u);
    auto add = [&](int32_t n) {
        uint32_t pos = detail::cell_count(data);
        series::append_unset_cell(data)[0] = cell{T_integer, 0, static_cast<uint32_t>(n), 0};
        series::append_unset_cell(data)[0] = dt(static_cast<uint32_t>(n));
        put_key(t, cells(data) + pos);
    };
    for (int32_t n = 0; n < 12; n++) add(n);
    EXPECT_EQ(rec(t)->buckets, 16u);
    add(12);
    EXPECT_EQ(rec(t)->buckets, 32u);
    EXPECT_EQ(rec(t)->limit, 25u); // trunc(32 x 0.77 + 0.5)
    EXPECT_EQ(rec(t)->occupied, 13u);
    for (int32_t n = 13; n < 200; n++) add(n);
    for (int32_t n = 0; n < 200; n++) {
        cell k = {T_integer, 0, static_cast<uint32_t>(n), 0};
        cell* found = find(t, &k, 0, 1, 0, false, false);
        ASSERT_NE(found, nullptr) << n;
        EXPECT_EQ(found[1].w1, static_cast<uint32_t>(n));
    }
}

// }==
// {== Context word tables

TEST_F(HashtableTest, ContextWordsFindByAliasOrExactly) {
    node_id t = init(4, nullptr, KIND_WORD, SUB_CONTEXT);
    node_id ctx = series::alloc_cells(2);
    uint32_t print = symbol::make("print"), upper = symbol::make("PRINT");
    int32_t index = -7;
    EXPECT_EQ(context_find_word(t, print, true, ctx, &index), -1); // added
    EXPECT_EQ(index, 0);
    cell* w = cells(rec(t)->data);
    EXPECT_EQ(w->header, uint32_t(T_word));
    EXPECT_EQ(w->w1, ctx);
    EXPECT_EQ(w->w2, print);
    EXPECT_EQ(w->w3, 0u);
    EXPECT_EQ(context_find_word(t, upper, true, 0, nullptr), 0);
    EXPECT_EQ(context_find_word(t, upper, false, 0, nullptr), -1);
    EXPECT_EQ(context_find_word(t, upper, false, ctx, &index), -1); // the exact spelling is added
    EXPECT_EQ(index, 1);
    EXPECT_EQ(context_find_word(t, upper, false, 0, nullptr), 1);
    EXPECT_EQ(context_find_word(t, upper, true, 0, nullptr), 0); // the first variant comes first
    for (int i = 0; i < 500; i++) {
        uint32_t s = symbol::make(("w" + std::to_string(i)).c_str());
        context_find_word(t, s, true, ctx, &index);
        EXPECT_EQ(index, i + 2);
    }
    for (int i = 0; i < 500; i++) {
        uint32_t s = symbol::make(("W" + std::to_string(i)).c_str());
        EXPECT_EQ(context_find_word(t, s, true, 0, nullptr), i + 2);
    }
    node_id c = copy_words(t);
    EXPECT_EQ(context_find_word(c, symbol::make("w42"), false, 0, nullptr), 44);
    EXPECT_NE(rec(c)->data, rec(t)->data);
}

// }==
// {== Node-keyed tables

TEST_F(HashtableTest, PointerEntriesAddFindAndRemove) {
    node_id t = init(4, nullptr, KIND_POINTER, 2);
    std::vector<node_id> keys;
    for (int i = 0; i < 100; i++) keys.push_back(series::alloc_bytes(16));
    for (size_t i = 0; i < keys.size(); i++) {
        cell* v = put_pointer(t, keys[i]);
        EXPECT_EQ(v[-1].header, uint32_t(T_unset));
        EXPECT_EQ(v[-1].w1, keys[i]);
        EXPECT_EQ(v[0].header, uint32_t(T_unset));
        v[0] = dt(static_cast<uint32_t>(i));
        v[1] = dt(static_cast<uint32_t>(i + 1000));
    }
    for (size_t i = 0; i < keys.size(); i++) {
        cell* v = get(t, keys[i]);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v[0].w1, i);
        EXPECT_EQ(v[1].w1, i + 1000);
        EXPECT_EQ(put_pointer(t, keys[i]), v); // found, not added again
    }
    EXPECT_EQ(rec(t)->size, 100u);
    for (size_t i = 0; i < keys.size(); i += 2) {
        cell* v = remove_pointer(t, keys[i]);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v[-1].header, 0u);
    }
    EXPECT_EQ(remove_pointer(t, keys[0]), nullptr);
    for (size_t i = 0; i < keys.size(); i++) EXPECT_EQ(get(t, keys[i]) != nullptr, i % 2 == 1);
}

TEST_F(HashtableTest, APointerTableAtItsLimitPurgesInPlace) {
    node_id t = init(4, nullptr, KIND_POINTER, 1); // 8 buckets, limit 6
    ASSERT_EQ(rec(t)->buckets, 8u);
    std::vector<node_id> keys;
    for (int i = 0; i < 7; i++) keys.push_back(series::alloc_bytes(16));
    for (int i = 0; i < 6; i++) put_pointer(t, keys[i]);
    for (int i = 0; i < 5; i++) remove_pointer(t, keys[i]);
    EXPECT_EQ(rec(t)->occupied, 6u);
    EXPECT_EQ(rec(t)->size, 1u);
    put_pointer(t, keys[6])[0] = dt(66);
    EXPECT_EQ(rec(t)->buckets, 8u); // 2 x size < buckets: same size, deleted buckets purged
    EXPECT_EQ(rec(t)->occupied, 2u);
    EXPECT_EQ(detail::cell_count(rec(t)->data), 4u); // the dead entries were dropped
    EXPECT_NE(get(t, keys[5]), nullptr);
    EXPECT_EQ(get(t, keys[6])->w1, 66u);
}

TEST_F(HashtableTest, StampedTablesReplaceTheirKeysAfterNodesMove) {
    node_id t = init(4, nullptr, KIND_OWNER, 3);
    std::vector<node_id> keys;
    for (int i = 0; i < 50; i++) {
        keys.push_back(series::alloc_bytes(16));
        put_pointer(t, keys.back())[0] = dt(static_cast<uint32_t>(i));
    }
    nodes_moved();
    EXPECT_NE(rec(t)->stamp, relocations + 1);
    for (int i = 0; i < 50; i++) EXPECT_EQ(get(t, keys[i])->w1, static_cast<uint32_t>(i));
    EXPECT_EQ(rec(t)->stamp, relocations + 1);

    node_id blocks = series::alloc_cells(8);
    for (int i = 0; i < 8; i++) {
        node_id inner = series::alloc_cells(1); // blocks that differ by content, not only by node
        series::append_value(inner, cell{T_integer, 0, static_cast<uint32_t>(i), 0});
        series::append_unset_cell(blocks)[0] = cell{T_block, 0, inner, 0};
    }
    cell b = {T_block, 0, blocks, 0};
    node_id h = init(8, &b, KIND_HASH, 1);
    EXPECT_EQ(rec(h)->stamp, relocations + 1); // blocks hash by reference
    nodes_moved();
    cell key = cells(blocks)[5];
    EXPECT_EQ(find(h, &key, 0, 1, 0, false, false), cells(blocks) + 5);
    EXPECT_EQ(rec(h)->stamp, relocations + 1);
    node_id plain = init(4, nullptr, KIND_HASH, 1);
    EXPECT_EQ(rec(plain)->stamp, 0u);
}

TEST_F(HashtableTest, TheOwnerSweepDropsDeadEntries) {
    node_id t = init(4, nullptr, KIND_OWNER, 3);
    std::vector<node_id> keys, owners;
    for (int i = 0; i < 6; i++) {
        keys.push_back(series::alloc_bytes(16));
        owners.push_back(series::alloc_cells(2));
        cell* v = put_pointer(t, keys[i]);
        v[1] = cell{T_object, owners[i], 0, 0};
    }
    // Keys 0, 1 and 2 stay marked; owner 1 died; keys 3-5 died.
    for (int i = 0; i < 6; i++) memory::buffer_of(owners[i])->flags |= SERIES_MARK;
    memory::buffer_of(owners[1])->flags &= ~SERIES_MARK;
    for (int i = 0; i < 3; i++) memory::buffer_of(keys[i])->flags |= SERIES_MARK;
    sweep(t);
    EXPECT_NE(get(t, keys[0]), nullptr);
    EXPECT_EQ(get(t, keys[1]), nullptr);
    EXPECT_NE(get(t, keys[2]), nullptr);
    for (int i = 3; i < 6; i++) EXPECT_EQ(get(t, keys[i]), nullptr);
    EXPECT_EQ(rec(t)->size, 2u);
    for (int i = 0; i < 6; i++) {
        memory::buffer_of(owners[i])->flags &= ~SERIES_MARK;
        memory::buffer_of(keys[i])->flags &= ~SERIES_MARK;
    }
}

// }==
// {== ptrmap

TEST(Ptrmap, MatchesAnUnorderedMap) {
    std::mt19937 rng(99);
    ptrmap::map* m = ptrmap::init(0);
    EXPECT_EQ(m->buckets, 8u);
    std::unordered_map<uint32_t, uint32_t> model;
    for (int op = 0; op < 50000; op++) {
        uint32_t key = rng() % 3000, value = rng();
        if (rng() % 3) {
            ptrmap::put(m, key, value);
            model[key] = value;
        } else {
            ptrmap::remove(m, key);
            model.erase(key);
        }
        if (op % 1000 == 0) {
            for (uint32_t k = 0; k < 3000; k++) {
                uint32_t* v = ptrmap::get(m, k);
                auto it = model.find(k);
                ASSERT_EQ(v != nullptr, it != model.end()) << k;
                if (v) {
                    ASSERT_EQ(*v, it->second);
                }
                ASSERT_EQ(ptrmap::find_bucket(m, k) >= 0, v != nullptr);
            }
        }
    }
    EXPECT_EQ(ptrmap::size(m), model.size());
    size_t walked = 0;
    for (uint32_t* p = ptrmap::next_live(m, nullptr); p; p = ptrmap::next_live(m, p)) {
        ASSERT_EQ(model.at(p[0]), p[1]);
        walked++;
    }
    EXPECT_EQ(walked, model.size());
    ptrmap::clear(m);
    EXPECT_EQ(ptrmap::size(m), 0u);
    EXPECT_EQ(ptrmap::get(m, 5), nullptr);
    EXPECT_EQ(ptrmap::next_live(m, nullptr), nullptr);
    ptrmap::free(m);
}

// }==
// {== Across collections

struct CollectedTablesTest : HashtableTest {
    void SetUp() override {
        HashtableTest::SetUp();
        extres::init();
    }
    void TearDown() override {
        collector::gc.active = false;
        mm.stress_every = 0;
        extres::shutdown();
        HashtableTest::TearDown();
    }
};

TEST_F(CollectedTablesTest, TablesFollowTheirBuffersThroughCompaction) {
    node_id t = init(16, nullptr, KIND_MAP, 1);
    cell m = {T_map, 0, rec(t)->data, t};
    stack::push(&m);
    collector::gc.active = true;
    std::vector<uint32_t> ids;
    for (int32_t n = 0; n < 3000; n++) {
        series::alloc_bytes(200); // garbage between the table's buffers
        node_id data = rec(t)->data;
        uint32_t pos = detail::cell_count(data);
        series::append_unset_cell(data)[0] = cell{T_integer, 0, static_cast<uint32_t>(n), 0};
        series::append_unset_cell(data)[0] = dt(static_cast<uint32_t>(n * 2));
        put_key(t, cells(data) + pos);
        ids.push_back(symbol::make(("name-" + std::to_string(n)).c_str()));
    }
    uint32_t cycles = collector::gc.cycles;
    collector::collect();
    collector::collect();
    EXPECT_GT(collector::gc.cycles, cycles);
    for (int32_t n = 0; n < 3000; n++) {
        cell k = {T_integer, 0, static_cast<uint32_t>(n), 0};
        cell* found = find(t, &k, 0, 1, 0, false, false);
        ASSERT_NE(found, nullptr) << n;
        ASSERT_EQ(found[1].w1, static_cast<uint32_t>(n * 2));
        std::string name = "name-" + std::to_string(n);
        ASSERT_EQ(symbol::make(name.c_str()), ids[n]);
        ASSERT_STREQ(symbol::c_name(ids[n]), name.c_str());
    }
}

TEST_F(CollectedTablesTest, SymbolsUnderCollectionStress) {
    collector::gc.active = true;
    mm.stress_every = 1;
    uint32_t cycles = collector::gc.cycles;
    std::vector<uint32_t> ids;
    // Every fifth name is long: its case variants are told apart in the moving name series.
    auto name_of = [](int n) {
        std::string name = (n % 3 ? "Sym-" : "sym-") + std::to_string(n / 2);
        return n % 5 ? name : name + (n % 3 ? "-With-A-Long-Tail-" : "-with-a-long-tail-") + std::to_string(n / 2);
    };
    for (int n = 0; n < 1500; n++) {
        std::string name = name_of(n);
        ids.push_back(symbol::make(name.c_str()));
        if (n % 7 == 0) symbol::name_string(ids.back());
    }
    EXPECT_GT(collector::gc.cycles, cycles + 1000); // one per name, at least
    for (int n = 0; n < 1500; n++) {
        std::string name = name_of(n);
        ASSERT_EQ(symbol::make(name.c_str()), ids[n]) << name;
        ASSERT_STREQ(symbol::c_name(ids[n]), name.c_str());
        node_id s = symbol::entry(ids[n])->w2;
        cell text = {T_string, 0, s, 0};
        ASSERT_EQ(string::to_std(&text), name);
    }
}

TEST_F(CollectedTablesTest, HashUpkeepUnderCollectionStress) {
    HashModel m = new_model(8);
    cell h = {T_hash, 0, m.data, m.t};
    stack::push(&h);
    collector::gc.active = true;
    mm.stress_every = 1;
    std::mt19937 rng(5);
    uint32_t cycles = collector::gc.cycles;
    ASSERT_NO_FATAL_FAILURE(run_model(m, rng, 1500, 12));
    EXPECT_GT(collector::gc.cycles, cycles + 50);
    node_id copy_data = series::copy_buffer(m.data);
    cell cd = {T_block, 0, copy_data, 0};
    stack::push(&cd);
    HashModel c = m;
    c.data = copy_data;
    c.t = copy(m.t, copy_data);
    cell ch = {T_hash, 0, c.data, c.t};
    stack::push(&ch);
    ASSERT_NO_FATAL_FAILURE(run_model(c, rng, 500, 12));
    ASSERT_NO_FATAL_FAILURE(m.check());
}

// }==

} // namespace
