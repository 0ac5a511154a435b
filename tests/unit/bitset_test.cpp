// tests/unit/bitset_test.cpp: bitset!: the spec dialect (chars, strings, integers, ranges,
// not), its errors, pick/poke/find/remove/append/clear, mold, compare, and the set operations
// against a model of the sets, negated or not.
#include <random>
#include <set>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct BitsetTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        actions::init();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }
cell I(int32_t n) { return integer::make_value(n); }
cell C(uint32_t cp) { return cell{T_char_, 0, cp, 0}; }
cell W(const char* name) { return cell{T_word, 0, symbol::make(name), 0}; }
cell Blk(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size() + 1);
    for (const cell& v : values) series::append_value(n, v);
    cell b{T_block, 0, n, 0};
    return *stack::push(&b);
}
cell Bin(std::initializer_list<uint8_t> b) { return *binary::push_from_buffer(b.begin(), uint32_t(b.size())); }
const cell DT = datatype::make_value(T_bitset);

template <typename F> cell call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 1, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return *stack::top();
}

cell make(cell spec) { return call({DT, spec}, [] { actions::make(); }); }
cell to(cell spec) { return call({DT, spec}, [] { actions::to(); }); }
// charset: make bitset! with the spec as it is.
cell charset(cell spec) { return make(spec); }
bool pick(cell bs, cell at) {
    cell* saved = es.top; // a logic! needs no rooting: the stack is cut back
    bool r = call({bs, at}, [] { actions::pick(); }).w1 != 0;
    es.top = saved;
    return r;
}
std::string mold(cell v) {
    cell m = call({v}, [] { actions::mold(-1, -1, -1, -1); });
    return string::to_std(&m);
}
cell set_op(int32_t op, cell a, cell b) {
    return call({a, b}, [op] { bitset::do_bitwise(op); });
}

// {== Spec dialect

TEST_F(BitsetTest, CharsetsMoldAsTheirBytes) {
    EXPECT_EQ(mold(charset(S("abc"))), "make bitset! #{00000000000000000000000070}");
    cell not_a = charset(Blk({W("not"), S("a")}));
    EXPECT_EQ(mold(not_a), "make bitset! [not #{00000000000000000000000040}]");
    EXPECT_TRUE(pick(not_a, I(1000)));
    EXPECT_FALSE(pick(not_a, C('a')));
    EXPECT_TRUE(pick(not_a, C('b')));
    cell f = call({charset(S("abc"))}, [] { actions::form(-1); });
    EXPECT_EQ(string::to_std(&f), "make bitset! #{00000000000000000000000070}");
    EXPECT_EQ(mold(make(I(10))), "make bitset! #{0000}");
    EXPECT_EQ(mold(make(Blk({}))), "make bitset! #{00}");
}

TEST_F(BitsetTest, SpecElements) {
    cell range = charset(Blk({C('a'), W("-"), C('c')}));
    cell abc = charset(S("abc"));
    EXPECT_EQ(actions::compare_typed(&range, &abc, 0), 0);
    cell mixed = charset(Blk({I(1), I(3), W("-"), I(5), Blk({C('A')}), float_::make_value(9.7), S("")}));
    for (int n : {1, 3, 4, 5, 9, 65}) EXPECT_TRUE(pick(mixed, I(n))) << n;
    for (int n : {0, 2, 6, 10, 66, 100000}) EXPECT_FALSE(pick(mixed, I(n))) << n;
    cell from_bin = make(Bin({0xF0, 0x01}));
    EXPECT_TRUE(pick(from_bin, I(0)));
    EXPECT_TRUE(pick(from_bin, I(15)));
    EXPECT_FALSE(pick(from_bin, I(4)));
    cell not_bin = make(Blk({W("not"), Bin({0xF0})}));
    EXPECT_EQ(mold(not_bin), "make bitset! [not #{F0}]");
    EXPECT_FALSE(pick(not_bin, I(0)));
    EXPECT_TRUE(pick(not_bin, I(4)));
    EXPECT_TRUE(pick(not_bin, I(500)));
    cell copy = to(not_bin);
    EXPECT_NE(copy.w2, not_bin.w2);
    EXPECT_EQ(mold(copy), "make bitset! [not #{F0}]");
    EXPECT_TRUE(pick(abc, Blk({S("ab"), C('c') , C('a'), W("-"), C('c')})));
    EXPECT_FALSE(pick(abc, Blk({S("ab"), C('d')})));
}

TEST_F(BitsetTest, SpecErrors) {
    struct { int32_t cat, id; cell spec; } cases[] = {
        {error::cat_script, ids::script_out_of_range, I(-1)},
        {error::cat_script, ids::script_past_end, Blk({C('c'), W("-"), C('a')})},
        {error::cat_script, ids::script_invalid_arg, Blk({C('a'), W("-"), I(100)})},
        {error::cat_script, ids::script_past_end, Blk({C('a'), W("-")})},
        {error::cat_script, ids::script_out_of_range, Blk({I(3), I(-1)})},
        {error::cat_script, ids::script_bad_make_arg, W("word")},
        {error::cat_script, ids::script_bad_make_arg, Blk({I(1), W("word")})},
        {error::cat_script, ids::script_bad_make_arg, none_value},
    };
    for (auto& c : cases) EXPECT_TRUE(raises(c.cat, c.id, [&] { make(c.spec); })) << c.id;
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [] { to(I(8)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [] { to(W("word")); }));
    cell bs = charset(S("a"));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [&] { call({bs, W("word")}, [] { actions::append(-1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done,
                       [&] { call({bs, Bin({1})}, [] { actions::append(-1, -1, -1); }); }));
    cell before = charset(S("a"));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range,
                       [&] { call({before, Blk({C('z'), I(-5)})}, [] { actions::append(-1, -1, -1); }); }));
    EXPECT_FALSE(pick(before, C('z'))); // measured first: nothing was set
}

// }==
// {== Members

TEST_F(BitsetTest, AppendPokeRemoveAndFind) {
    cell bs = charset(S("a"));
    call({bs, S("xy")}, [] { actions::append(-1, -1, -1); });
    EXPECT_TRUE(pick(bs, C('y')));
    call({bs, C('x'), logic::make_value(false)}, [] { actions::poke(); });
    EXPECT_FALSE(pick(bs, C('x')));
    call({bs, I(5000), I(1)}, [] { actions::poke(); });
    EXPECT_TRUE(pick(bs, I(5000)));
    EXPECT_EQ(actions::length_q_typed(&bs), 5008);
    call({bs, I(5000), float_::make_value(0.0)}, [] { actions::poke(); });
    EXPECT_FALSE(pick(bs, I(5000)));
    EXPECT_TRUE(raises(error::cat_script, ids::script_missing_arg,
                       [&] { call({bs}, [] { actions::remove(-1, -1); }); }));
    call({bs, C('a')}, [] { actions::remove(-1, 1); });
    EXPECT_FALSE(pick(bs, C('a')));
    EXPECT_EQ(call({bs, C('y')}, [] { actions::find(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1); }).type(), T_logic);
    EXPECT_EQ(call({bs, C('q')}, [] { actions::find(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1); }).type(), T_none);
    cell in = Bin({'y', 'q'});
    EXPECT_TRUE(bitset::has_byte_q(&in, &bs));
    in.w1 = 1;
    EXPECT_FALSE(bitset::has_byte_q(&in, &bs));
    in.w1 = 2;
    EXPECT_FALSE(bitset::has_byte_q(&in, &bs));
}

TEST_F(BitsetTest, NegatedSetsKeepEveryPositionBeyondTheirBytes) {
    cell bs = charset(Blk({W("not"), S("a")}));
    call({bs, C(0x1000), logic::make_value(false)}, [] { actions::poke(); }); // grows with members
    EXPECT_FALSE(pick(bs, C(0x1000)));
    EXPECT_TRUE(pick(bs, C(0xFFF)));
    EXPECT_TRUE(pick(bs, C(0x1001)));
    call({bs, C('a')}, [] { actions::remove(-1, 1); }); // removing keeps it out
    EXPECT_FALSE(pick(bs, C('a')));
    call({bs, S("\xE1\x80\x81" "a")}, [] { actions::append(-1, -1, -1); }); // U+1001 and a
    EXPECT_TRUE(pick(bs, C('a')));
    call({bs, S("\xE1\x80\x82" "b")}, [] { actions::remove(-1, 1); });
    EXPECT_FALSE(pick(bs, C('b')));
    EXPECT_FALSE(pick(bs, C(0x1002)));
    EXPECT_FALSE(pick(bs, S("\xE4\xB8\x80" "b"))); // U+4E00 is in, b is not
    cell plain = charset(S("abc"));
    call({plain, S("\xE4\xB8\x80" "b")}, [] { actions::remove(-1, 1); });
    EXPECT_FALSE(pick(plain, C('b')));
    EXPECT_TRUE(pick(plain, C('c')));
    cell ranged = charset(Blk({W("not"), S("a")}));
    call({ranged, Blk({I(90), W("-"), I(200)}), none_value}, [] { actions::poke(); });
    EXPECT_FALSE(pick(ranged, I(150)));
    EXPECT_TRUE(pick(ranged, I(201)));
    call({ranged, Blk({I(95), W("-"), I(300)}), I(1)}, [] { actions::poke(); });
    EXPECT_TRUE(pick(ranged, I(97)));
    EXPECT_FALSE(pick(ranged, I(94)));
    EXPECT_FALSE(pick(ranged, Blk({I(90), W("-"), I(5000)})));
    EXPECT_TRUE(pick(ranged, Blk({I(95), W("-"), I(5000)})));
}

TEST_F(BitsetTest, ClearKeepsTheNegationAndFillsTheBytes) {
    cell bs = charset(Blk({W("not"), S("a")}));
    call({bs}, [] { actions::clear(); });
    for (int n : {0, 97, 98, 1000, 0x10FFFF}) EXPECT_TRUE(pick(bs, I(n))) << n;
    EXPECT_EQ(mold(bs), "make bitset! [not #{00000000000000000000000000}]");
    cell plain = charset(S("xyz"));
    call({plain}, [] { actions::clear(); });
    EXPECT_FALSE(pick(plain, C('x')));
}

TEST_F(BitsetTest, EvalPathPicksAndPokes) {
    cell bs = charset(S("a"));
    actions::path_step step{nullptr, nullptr, nullptr, 0, false, true, false};
    cell v = bs, key = C('a');
    EXPECT_EQ(bitset::eval_path(&v, &key, nullptr, step)->w1, 1u);
    cell t = logic::make_value(true), k2 = I(3);
    v = bs;
    bitset::eval_path(&v, &k2, &t, step);
    EXPECT_TRUE(pick(bs, I(3)));
    cell text = S("a");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_type,
                       [&] { bitset::eval_path(&v, &text, nullptr, step); }));
}

TEST_F(BitsetTest, ReflectAndModifyOwned) {
    cell bs = charset(S("a"));
    cell owned = W("owned"), other = W("spec");
    EXPECT_EQ(bitset::reflect(&bs, &owned)->type(), T_none);
    cell again = charset(S("a"));
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [&] { bitset::reflect(&again, &other); }));
    EXPECT_EQ(bitset::modify(&again, &owned, &again, false), &again);
}

// }==
// {== Comparison and mold limits

TEST_F(BitsetTest, CompareByBytesAndFlag) {
    cell a = charset(S("abc")), b = charset(Blk({C('a'), W("-"), C('c')})), c = charset(S("abd"));
    EXPECT_EQ(actions::compare_typed(&a, &b, 0), 0);
    EXPECT_NE(actions::compare_typed(&a, &c, 0), 0);
    EXPECT_GT(actions::compare_typed(&a, &c, 3), 0); // 70 against 68 in the last byte
    EXPECT_EQ(actions::compare_typed(&a, &b, 9), 1);
    EXPECT_EQ(actions::compare_typed(&a, &a, 9), 0);
    cell small = make(I(8));
    EXPECT_LT(actions::compare_typed(&small, &a, 3), 0);
    cell n = charset(Blk({W("not"), S("abc")}));
    cell inverted = call({a}, [] { actions::complement(); });
    EXPECT_NE(actions::compare_typed(&inverted, &a, 0), 0);
    EXPECT_EQ(actions::compare_typed(&inverted, &n, 0), 0);
    cell none_at_all = make(I(0));
    cell everything = call({make(I(0))}, [] { actions::complement(); });
    EXPECT_NE(actions::compare_typed(&none_at_all, &everything, 0), 0); // no bytes, other flags
    cell text = S("abc");
    EXPECT_EQ(actions::compare_typed(&a, &text, 0), -2);
}

TEST_F(BitsetTest, MoldPartStopsAfterTheLastByteThatFits) {
    cell m = call({charset(S("abc")), I(17)}, [] { actions::mold(-1, -1, -1, 1); });
    EXPECT_EQ(string::to_std(&m), "make bitset! #{00");
    cell out = S("");
    cell bs = charset(S("abc")), limit = I(16);
    int32_t left = bitset::mold(&bs, &out, false, false, false, &limit, 16, 0);
    EXPECT_LT(left, 0);
    EXPECT_EQ(string::to_std(&out), "make bitset! #{00");
}

// }==
// {== Set operations

// A set as the model sees it: the listed members, or every position but them.
struct model {
    std::set<int32_t> listed;
    bool negated;
    bool has(int32_t n) const { return listed.count(n) != negated; }
};

// A random set of positions below [span], negated or not, as a bitset and as a model.
std::pair<cell, model> random_set(std::mt19937& rng, int32_t span, bool negated) {
    model m{{}, negated};
    node_id n = series::alloc_cells(40);
    cell spec{T_block, 0, n, 0};
    stack::push(&spec);
    if (negated) series::append_value(n, W("not"));
    for (int i = int(rng() % 30); i > 0; i--) {
        int32_t v = int32_t(rng() % uint32_t(span));
        m.listed.insert(v);
        series::append_value(n, I(v));
    }
    return {make(spec), m};
}

bool combine(int32_t op, bool a, bool b) {
    switch (op) {
    case 5: case 9: return a || b;
    case 6: case 10: return a && b;
    case 11: return a && !b;
    default: return a != b;
    }
}

TEST_F(BitsetTest, SetOperationsAgreeWithTheModel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 60; round++) {
        auto [a, ma] = random_set(rng, 1 + int32_t(rng() % 200), rng() % 2);
        auto [b, mb] = random_set(rng, 1 + int32_t(rng() % 200), rng() % 2);
        for (int32_t op : {5, 6, 7, 9, 10, 11, 12}) {
            cell r = set_op(op, a, b);
            for (int32_t n = 0; n < 300; n++)
                ASSERT_EQ(pick(r, I(n)), combine(op, ma.has(n), mb.has(n))) << "op " << op << " n " << n;
            ASSERT_EQ(pick(r, I(100000)), combine(op, ma.negated, mb.negated)) << "op " << op;
        }
        cell c = call({a}, [] { actions::complement(); });
        cell ng = call({a}, [] { actions::negate(); });
        for (int32_t n = 0; n < 300; n += 7) {
            ASSERT_EQ(pick(c, I(n)), !ma.has(n));
            ASSERT_EQ(pick(ng, I(n)), !ma.has(n));
        }
        ASSERT_EQ(pick(c, I(100000)), !ma.negated);
        ASSERT_EQ(set_op(8, a, b).w2, a.w2); // unique: the first argument
    }
}

TEST_F(BitsetTest, ResultLengthsOfPlainSets) {
    cell two = make(I(16)), four = make(I(32));
    EXPECT_EQ(actions::length_q_typed(&two), 16);
    cell u = set_op(9, two, four), a = set_op(6, two, four), i = set_op(10, two, four);
    EXPECT_EQ(bitset::stored_bytes(&u), 4u);
    EXPECT_EQ(bitset::stored_bytes(&a), 2u);
    EXPECT_EQ(bitset::stored_bytes(&i), 4u);
    cell neg = charset(Blk({W("not"), I(3)}));
    cell anded = set_op(6, neg, four); // the shorter one is negated: nothing is cut
    EXPECT_EQ(bitset::stored_bytes(&anded), 4u);
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_type, [&] { set_op(9, two, I(1)); }));
    cell via_action = call({charset(S("a")), charset(S("b"))}, [] { actions::or_t(); });
    EXPECT_TRUE(pick(via_action, C('a')));
    EXPECT_TRUE(pick(via_action, C('b')));
}

// }==
// {== Collections

TEST_F(BitsetTest, SurvivesACollectionAtEveryAllocation) {
    extres::init();
    collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
    collector::gc.active = true;
    mm.stress_every = 1;
    cell bs = charset(Blk({W("not"), S("abc"), C('x'), W("-"), C('z')}));
    for (int i = 0; i < 50; i++) call({bs, I(i * 97)}, [] { actions::append(-1, -1, -1); });
    cell u = set_op(9, bs, charset(S("\xE4\xB8\x80")));
    cell c = call({u}, [] { actions::complement(); });
    EXPECT_FALSE(pick(c, C('a'))); // 97 was appended
    EXPECT_TRUE(pick(c, C('b')));
    EXPECT_FALSE(pick(c, C(0x4E00)));
    EXPECT_EQ(mold(charset(S("abc"))), "make bitset! #{00000000000000000000000070}");
    mm.stress_every = 0;
    collector::gc = {};
    extres::shutdown();
}

// }==

} // namespace
