// tests/unit/series_test.cpp: the series! entries that blocks and texts share: navigation and
// its clamping, pick and poke, clear through a shared buffer, remove, take, copy/part,
// reverse/skip, move and random; called through the stack entries as the interpreter will.
#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct SeriesTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        actions::init();
        random::init();
    }
};

cell I(int32_t n) { return integer::make_value(n); }
cell C(uint32_t cp) { return char_::make_value(cp); }
// A string on the stack holding UTF-8 [text].
cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }
// A block on the stack holding [values].
cell B(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size());
    for (const cell& v : values) series::append_value(n, v);
    cell b{T_block, 0, n, 0};
    return *stack::push(&b);
}
cell Bn(std::initializer_list<int32_t> ns) {
    cell b = B({});
    for (int32_t n : ns) series::append_value(b.w2, I(n));
    return b;
}
cell at(cell s, uint32_t index) {
    s.w1 = index;
    return s;
}

// Runs [entry] on a new frame holding [args]; the result is the returned cell.
template <typename F> cell call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return *stack::top();
}

std::string text(const cell& v) { return string::to_std(&v); }
// The integers of block [b] from its index (a non-integer reads as -999).
std::vector<int32_t> ints(const cell& b) {
    std::vector<int32_t> out;
    const cell* c = reinterpret_cast<const cell*>(memory::buffer_of(b.w2)->head);
    for (uint64_t i = b.w1; i < series::length(b.w2); i++) out.push_back(c[i].type() == T_integer ? integer::get(c + i) : -999);
    return out;
}
using V = std::vector<int32_t>;

// {== Navigation

// The index that navigation [entry] leaves on [s] at [from] (with the offset [n] for at and skip).
template <typename F> uint32_t nav(cell s, uint32_t from, F entry, int32_t n = 0) { return call({at(s, from), I(n)}, entry).w1; }

TEST_F(SeriesTest, NavigationStaysWithinTheSeries) {
    for (cell s : {Bn({1, 2, 3}), S("abc")}) {
        EXPECT_EQ(nav(s, 0, actions::at, 0), 0u);
        EXPECT_EQ(nav(s, 0, actions::at, 1), 0u);
        EXPECT_EQ(nav(s, 1, actions::at, 2), 2u);
        EXPECT_EQ(nav(s, 0, actions::at, 5), 3u);
        EXPECT_EQ(nav(s, 2, actions::at, -1), 1u);
        EXPECT_EQ(nav(s, 0, actions::at, -5), 0u);
        EXPECT_EQ(nav(s, 2, actions::skip, -2), 0u);
        EXPECT_EQ(nav(s, 0, actions::skip, -2), 0u);
        EXPECT_EQ(nav(s, 1, actions::skip, 10), 3u);
        EXPECT_EQ(nav(s, 3, actions::next), 3u);
        EXPECT_EQ(nav(s, 1, actions::next), 2u);
        EXPECT_EQ(nav(s, 0, actions::back), 0u);
        EXPECT_EQ(nav(s, 2, actions::head), 0u);
        EXPECT_EQ(nav(s, 1, actions::tail), 3u);
        EXPECT_EQ(call({at(s, 1)}, actions::index_q).w2, 2u);
        EXPECT_EQ(call({at(s, 1)}, actions::length_q).w2, 2u);
        EXPECT_EQ(call({at(s, 0)}, actions::head_q).w1, 1u);
        EXPECT_EQ(call({at(s, 3)}, actions::tail_q).w1, 1u);
        EXPECT_EQ(call({at(s, 2)}, actions::tail_q).w1, 0u);
    }
    cell b = Bn({1});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { call({b, S("1")}, actions::at); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { call({b, none_value}, actions::skip); }));
}

TEST_F(SeriesTest, AClearThroughOneValueLeavesTheOtherAtTheTail) {
    cell a = Bn({1, 2, 3, 4});
    cell b = at(a, 3);
    call({at(a, 1)}, actions::clear);
    EXPECT_EQ(ints(a), V({1}));
    EXPECT_EQ(call({b}, actions::length_q).w2, 0u);
    EXPECT_EQ(call({b, I(1)}, actions::pick).type(), T_none); // reads as the tail
    EXPECT_EQ(call({b}, actions::tail_q).w1, 1u);
    EXPECT_EQ(series::rs_length_q(&b, false), 0);
    EXPECT_EQ(b.w1, 1u); // moved to the tail
    EXPECT_EQ(series::rs_length_q(&b, true), 1);
    // Clearing at the tail changes nothing.
    EXPECT_EQ(ints(call({at(a, 1)}, actions::clear)), V({}));
    EXPECT_EQ(ints(a), V({1}));
}

TEST_F(SeriesTest, RsSkipStopsAtTheTail) {
    cell s = Bn({1, 2});
    EXPECT_FALSE(series::rs_skip(&s, 1));
    EXPECT_TRUE(series::rs_skip(&s, 1));
    EXPECT_TRUE(series::rs_skip(&s, 1)); // would pass the tail: unchanged
    EXPECT_EQ(s.w1, 2u);
    EXPECT_FALSE(series::rs_skip(&s, -2));
    EXPECT_EQ(s.w1, 0u);
}

// }==
// {== pick and poke

TEST_F(SeriesTest, PickByPosition) {
    cell b = Bn({10, 20, 30});
    struct { uint32_t from; cell n; int32_t expect; } cases[] = {
        {0, I(0), -1}, {2, I(-1), 20}, {0, I(3), 30}, {0, I(4), -1}, {0, I(-1), -1},
        {1, I(1), 20}, {0, true_value, 10}, {0, false_value, 20}, {0, C(2), 20},
    };
    for (auto& c : cases) {
        cell r = call({at(b, c.from), c.n}, actions::pick);
        if (c.expect < 0) EXPECT_EQ(r.type(), T_none) << c.from;
        else EXPECT_EQ(integer::get(&r), c.expect) << c.from;
    }
    cell ch = call({S("abc"), I(2)}, actions::pick);
    EXPECT_EQ(ch.type(), T_char_);
    EXPECT_EQ(ch.w2, uint32_t('b'));
    node_id bytes = series::alloc_bytes(2);
    memory::buffer_of(bytes)->head[0] = 1;
    memory::buffer_of(bytes)->head[1] = 2;
    memory::buffer_of(bytes)->tail += 2;
    cell bin{T_binary, 0, bytes, 0};
    stack::push(&bin);
    cell r = bin;
    series::pick(&r, 2, nullptr);
    EXPECT_EQ(r.type(), T_integer);
    EXPECT_EQ(integer::get(&r), 2);
}

TEST_F(SeriesTest, PokeStoresOrRaisesOutOfRange) {
    cell b = Bn({1, 2});
    cell r = call({b, I(2), I(99)}, actions::poke);
    EXPECT_EQ(integer::get(&r), 99);
    EXPECT_EQ(ints(b), V({1, 99}));
    for (cell n : {I(3), I(0), I(-1)})
        EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [&] { call({b, n, I(5)}, actions::poke); }));
    cell s = S("ab");
    call({s, I(1), C(0x20AC)}, actions::poke);
    EXPECT_EQ(text(s), "\xE2\x82\xAC" "b");
    EXPECT_EQ(memory::buffer_of(s.w2)->unit(), 2u);
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { call({s, I(1), I(5)}, actions::poke); }));
    node_id bytes = series::alloc_bytes(1);
    memory::buffer_of(bytes)->tail += 1;
    cell bin{T_binary, 0, bytes, 0};
    stack::push(&bin);
    cell v = I(200);
    series::poke(&bin, 1, nullptr, &v);
    EXPECT_EQ(memory::buffer_of(bytes)->head[0], 200);
    v = I(0x141); // the binary rules keep the low 8 bits
    series::poke(&bin, 1, nullptr, &v);
    EXPECT_EQ(memory::buffer_of(bytes)->head[0], 0x41);
    v = S("x");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { series::poke(&bin, 1, nullptr, &v); }));
}

// }==
// {== remove, take, copy

TEST_F(SeriesTest, RemoveCountsAndKeys) {
    constexpr int32_t NONE = INT32_MIN; // no /part
    struct { uint32_t from; int32_t part; V out; } cases[] = {
        {0, NONE, {2, 3}}, {1, 2, {1}}, {0, 0, {1, 2, 3}}, {0, -1, {1, 2, 3}}, {3, NONE, {1, 2, 3}}, {1, 10, {1}},
    };
    for (auto& c : cases) {
        cell b = Bn({1, 2, 3});
        if (c.part == NONE) call({at(b, c.from)}, [] { actions::remove(-1, -1); });
        else call({at(b, c.from), I(c.part)}, [] { actions::remove(1, -1); });
        EXPECT_EQ(ints(b), c.out) << c.from << " " << c.part;
    }
    cell b = Bn({1, 2, 3, 4});
    call({at(b, 1), at(b, 3)}, [] { actions::remove(1, -1); }); // up to a position
    EXPECT_EQ(ints(b), V({1, 4}));
    cell other = Bn({1, 2});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [&] { call({b, other}, [] { actions::remove(1, -1); }); }));
    cell kv = Bn({1, 10, 2, 20, 3, 30});
    call({kv, I(2)}, [] { actions::remove(-1, 1); });
    EXPECT_EQ(ints(kv), V({1, 10, 3, 30}));
    EXPECT_EQ(call({kv, I(7)}, [] { actions::remove(-1, 1); }).type(), T_none);
    cell s = S("abcdef");
    call({s, I(2)}, [] { actions::remove(1, -1); });
    EXPECT_EQ(text(s), "cdef");
}

TEST_F(SeriesTest, TakeWithAndWithoutPart) {
    EXPECT_EQ(call({B({})}, [] { actions::take(-1, -1, -1); }).type(), T_none);
    cell b = Bn({1, 2, 3});
    EXPECT_EQ(integer::get(&(b = call({b}, [] { actions::take(-1, -1, -1); }))), 1);
    cell c = Bn({1, 2, 3});
    EXPECT_EQ(integer::get(&(b = call({c}, [] { actions::take(-1, -1, 0); }))), 3);
    EXPECT_EQ(ints(c), V({1, 2}));
    struct { uint32_t from; cell part; bool last; V taken; V left; } cases[] = {
        {0, I(2), false, {1, 2}, {3, 4, 5}}, {0, I(0), false, {}, {1, 2, 3, 4, 5}},
        {2, I(0), false, {}, {1, 2, 3, 4, 5}}, {0, I(0), true, {}, {1, 2, 3, 4, 5}},
        {2, I(-1), false, {2}, {1, 3, 4, 5}}, {1, I(-5), false, {1}, {2, 3, 4, 5}},
        {2, I(-1), true, {}, {1, 2, 3, 4, 5}}, {1, I(2), true, {4, 5}, {1, 2, 3}},
        {3, I(10), false, {4, 5}, {1, 2, 3}},
    };
    for (auto& k : cases) {
        cell s = Bn({1, 2, 3, 4, 5});
        cell r = k.last ? call({at(s, k.from), k.part}, [] { actions::take(1, -1, 0); })
                        : call({at(s, k.from), k.part}, [] { actions::take(1, -1, -1); });
        EXPECT_EQ(r.type(), T_block);
        EXPECT_EQ(ints(r), k.taken) << k.from << " " << integer::get(&k.part);
        EXPECT_EQ(ints(s), k.left) << k.from << " " << integer::get(&k.part);
    }
    cell s = Bn({1, 2, 3, 4, 5});
    EXPECT_EQ(ints(call({at(s, 1), at(s, 3)}, [] { actions::take(1, -1, 0); })), V({4, 5}));
    EXPECT_EQ(ints(call({at(s, 1), at(s, 2)}, [] { actions::take(1, -1, -1); })), V({2}));
}

TEST_F(SeriesTest, CopyPartRanges) {
    cell s = S("abcdef");
    cell pair{T_pair, 0, 2, 4};
    EXPECT_EQ(text(call({s, pair}, [] { actions::copy(1, -1, -1); })), "bc");
    EXPECT_EQ(text(call({s, cell{T_pair, 0, 4, 2}}, [] { actions::copy(1, -1, -1); })), "");
    EXPECT_EQ(text(call({at(s, 3), I(-2)}, [] { actions::copy(1, -1, -1); })), "bc");
    EXPECT_EQ(text(call({at(s, 1), I(-9)}, [] { actions::copy(1, -1, -1); })), "a");
    EXPECT_EQ(text(call({at(s, 4), I(9)}, [] { actions::copy(1, -1, -1); })), "ef");
    EXPECT_EQ(text(call({at(s, 1), at(s, 3)}, [] { actions::copy(1, -1, -1); })), "bc");
    cell other = S("abc");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [&] { call({s, other}, [] { actions::copy(1, -1, -1); }); }));
    cell b = Bn({1, 2, 3});
    b.header |= CELL_NEW_LINE;
    cell c = call({at(b, 1)}, [] { actions::copy(-1, -1, -1); });
    EXPECT_EQ(ints(c), V({2, 3}));
    EXPECT_EQ(c.w1, 0u);
    EXPECT_NE(c.w2, b.w2);
    EXPECT_TRUE(c.header & CELL_NEW_LINE);
}

// }==
// {== reverse, move, random

TEST_F(SeriesTest, ReverseBySkipAndPart) {
    cell b = Bn({1, 2, 3, 4, 5, 6});
    call({b, I(2)}, [] { actions::reverse(-1, 1); });
    EXPECT_EQ(ints(b), V({5, 6, 3, 4, 1, 2}));
    cell c = Bn({1, 2, 3});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg,
                       [&] { call({c, I(2)}, [] { actions::reverse(-1, 1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range,
                       [&] { call({c, I(0)}, [] { actions::reverse(-1, 1); }); }));
    call({c, I(3)}, [] { actions::reverse(-1, 1); }); // one record: nothing moves
    EXPECT_EQ(ints(c), V({1, 2, 3}));
    cell d = Bn({1, 2, 3, 4});
    call({d, I(2)}, [] { actions::reverse(1, -1); });
    EXPECT_EQ(ints(d), V({2, 1, 3, 4}));
    call({at(d, 1), I(0)}, [] { actions::reverse(1, -1); });
    EXPECT_EQ(ints(d), V({2, 1, 3, 4}));
    call({at(d, 1)}, [] { actions::reverse(-1, -1); });
    EXPECT_EQ(ints(d), V({2, 4, 3, 1}));
    cell s = S("ab\xE2\x82\xAC");
    call({s}, [] { actions::reverse(-1, -1); });
    EXPECT_EQ(text(s), "\xE2\x82\xAC" "ba");
}

TEST_F(SeriesTest, MoveWithinAndAcrossSeries) {
    struct { uint32_t from; uint32_t to; int32_t part; V out; } within[] = {
        {0, 4, 1, {2, 3, 4, 1}}, {3, 0, 1, {4, 1, 2, 3}}, {0, 4, 2, {3, 4, 1, 2}},
        {1, 1, 1, {1, 2, 3, 4}}, {1, 2, 2, {1, 2, 3, 4}}, {0, 3, 1, {2, 3, 1, 4}}, {4, 0, 1, {1, 2, 3, 4}},
    };
    for (auto& m : within) {
        cell b = Bn({1, 2, 3, 4});
        cell r = call({at(b, m.from), at(b, m.to), I(m.part)}, [] { actions::move(2); });
        EXPECT_EQ(r.w1, m.to); // the target as it was passed
        EXPECT_EQ(ints(b), m.out) << m.from << " " << m.to;
    }
    cell a = Bn({1, 2, 3}), t = Bn({7, 8});
    call({at(a, 1), at(t, 1), I(5)}, [] { actions::move(2); });
    EXPECT_EQ(ints(a), V({1}));
    EXPECT_EQ(ints(t), V({7, 2, 3, 8}));
    EXPECT_TRUE(raises(error::cat_script, ids::script_move_bad, [&] { call({t, S("x")}, [] { actions::move(-1); }); }));
    cell s = S("ab"), w = S("\xE2\x82\xAC");
    call({s, w}, [] { actions::move(-1); }); // one unit into a wider text
    EXPECT_EQ(text(s), "b");
    EXPECT_EQ(text(w), "a\xE2\x82\xAC");
    cell u = S("xy"), v = S("z");
    call({u, at(v, 1), I(2)}, [] { actions::move(2); });
    EXPECT_EQ(text(u), "");
    EXPECT_EQ(text(v), "zxy");
}

TEST_F(SeriesTest, RandomShufflesSeedsAndPicks) {
    cell b = Bn({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(call({b}, [] { actions::random(0, -1, -1); }).type(), T_unset);
    call({b}, [] { actions::random(-1, -1, -1); });
    V first = ints(b);
    cell c = Bn({1, 2, 3, 4, 5, 6, 7, 8});
    call({c}, [] { actions::random(0, -1, -1); }); // the same bytes seed the same sequence
    call({c}, [] { actions::random(-1, -1, -1); });
    EXPECT_EQ(ints(c), first);
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, V({1, 2, 3, 4, 5, 6, 7, 8}));
    cell one = call({b}, [] { actions::random(-1, -1, 0); });
    EXPECT_EQ(one.type(), T_integer);
    EXPECT_EQ(call({B({})}, [] { actions::random(-1, -1, 0); }).type(), T_none);
    cell s = S("aaab");
    call({at(s, 1)}, [] { actions::random(-1, -1, -1); });
    EXPECT_EQ(text(s).substr(0, 1), "a");
    std::string rest = text(at(s, 1));
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, "aab");
}

TEST_F(SeriesTest, ReflectKnowsOnlyOwned) {
    cell b = Bn({1});
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [&] { call({b, I(1)}, actions::reflect); }));
    cell r = call({b, I(1), none_value}, [] { actions::modify(-1); });
    EXPECT_EQ(r.type(), T_none);
}

// }==

} // namespace
