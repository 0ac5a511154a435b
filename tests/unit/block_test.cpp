// tests/unit/block_test.cpp: block! entries and helpers: append and insert, change, find and
// select with their refinements, put, sort, the set operations, compare, form and mold with
// new-line markers and cycles, make and to, eval-path, and survival under collection stress.
#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct BlockTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        actions::init();
        random::init();
    }
    void TearDown() override {
        cycles::reset();
        RuntimeTest::TearDown();
    }
};

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell C(uint32_t cp) { return char_::make_value(cp); }
cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }
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
cell typed(cell v, uint8_t t) {
    cells::set_type(&v, t);
    return v;
}
// [v] marked as beginning a new line.
cell nl(cell v) {
    v.header |= CELL_NEW_LINE;
    return v;
}

template <typename F> cell call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return *stack::top();
}

std::string text(const cell& v) { return string::to_std(&v); }
std::string mold(cell v) { return text(call({v}, [] { actions::mold(-1, -1, -1, -1); })); }
std::string form(cell v) { return text(call({v}, [] { actions::form(-1); })); }
cell* cells(const cell& b) { return block::cells_of(b.w2); }
// [v] in a stack cell, for helpers that take a cell's address.
const cell* ptr_of(cell v) { return stack::push(&v); }

// }==
// {== append, insert, change

TEST_F(BlockTest, AppendAndInsert) {
    EXPECT_EQ(mold(call({Bn({1}), Bn({2, 3})}, [] { actions::append(-1, -1, -1); })), "[1 2 3]");
    EXPECT_EQ(mold(call({Bn({1}), Bn({2, 3})}, [] { actions::append(-1, 0, -1); })), "[1 [2 3]]");
    EXPECT_EQ(mold(call({B({}), I(0), I(3)}, [] { actions::append(-1, -1, 2); })), "[0 0 0]");
    EXPECT_EQ(mold(call({B({}), Bn({1, 2}), I(3)}, [] { actions::append(-1, -1, 2); })), "[1 2 1 2 1 2]");
    EXPECT_EQ(mold(call({B({}), Bn({1, 2, 3}), I(2)}, [] { actions::append(2, -1, -1); })), "[1 2]");
    cell b = Bn({1, 2, 3});
    cell r = call({at(b, 2), I(5)}, [] { actions::append(-1, -1, -1); });
    EXPECT_EQ(r.w1, 0u); // append gives the head
    EXPECT_EQ(mold(b), "[1 2 3 5]");
    cell c = Bn({1, 4});
    r = call({at(c, 1), Bn({2, 3})}, [] { actions::insert(-1, -1, -1); });
    EXPECT_EQ(r.w1, 3u); // just past the inserted values
    EXPECT_EQ(mold(c), "[1 2 3 4]");
    r = call({at(c, 9), I(5)}, [] { actions::insert(-1, -1, -1); }); // index past the tail
    EXPECT_EQ(r.w1, 5u);
    EXPECT_EQ(mold(c), "[1 2 3 4 5]");
    r = call({c, B({}), I(3)}, [] { actions::insert(-1, -1, 2); });
    EXPECT_EQ(r.w1, 0u);
    EXPECT_EQ(mold(c), "[1 2 3 4 5]");
}

TEST_F(BlockTest, AppendAndInsertOfABlockIntoItself) {
    cell b = Bn({1, 2});
    call({b, b}, [] { actions::append(-1, -1, -1); });
    EXPECT_EQ(mold(b), "[1 2 1 2]");
    cell c = Bn({1, 2, 3});
    call({at(c, 1), c, I(2)}, [] { actions::insert(-1, -1, 2); });
    EXPECT_EQ(mold(c), "[1 1 2 3 1 2 3 2 3]");
    cell d = Bn({1, 2});
    call({d, d, I(3)}, [] { actions::append(-1, -1, 2); });
    EXPECT_EQ(mold(d), "[1 2 1 2 1 2 1 2]");
}

TEST_F(BlockTest, AppendIsAmortised) {
    cell b = B({});
    uint32_t grows = 0, size = memory::buffer_of(b.w2)->size;
    for (int i = 0; i < 100000; i++) {
        call({b, I(i)}, [] { actions::append(-1, -1, -1); });
        stack::pop(1); // the result
        if (memory::buffer_of(b.w2)->size != size) grows++, size = memory::buffer_of(b.w2)->size;
    }
    EXPECT_LE(grows, 20u);
    EXPECT_EQ(series::length(b.w2), 100000u);
    EXPECT_EQ(integer::get(cells(b) + 99999), 99999);
}

TEST_F(BlockTest, AppendSizeOverflowRaisesNoMemory) {
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_no_memory, [] {
        call({B({}), Bn({1, 2, 3, 4}), I(0x7FFFFFFF)}, [] { actions::append(-1, -1, 2); });
    }));
}

TEST_F(BlockTest, Change) {
    constexpr int32_t NONE = -1; // no /part, or no /dup
    struct { uint32_t from; std::initializer_list<int32_t> items; int32_t part; int32_t dup; const char* out; uint32_t at; } cases[] = {
        {0, {7, 8}, NONE, NONE, "[7 8 3 4]", 2},    {1, {7}, 2, NONE, "[1 7 4]", 2},
        {1, {7, 8}, 0, NONE, "[1 7 8 2 3 4]", 3},   {3, {7, 8, 9}, NONE, NONE, "[1 2 3 7 8 9]", 6},
        {0, {7}, NONE, 3, "[7 7 7 4]", 3},          {2, {}, 5, NONE, "[1 2]", 2},
        {1, {7, 8}, 1, 2, "[1 7 8 7 8 3 4]", 5},   {9, {7}, NONE, NONE, "[1 2 3 4 7]", 5},
    };
    for (auto& c : cases) {
        cell b = Bn({1, 2, 3, 4});
        cell items = B({});
        for (int32_t n : c.items) series::append_value(items.w2, I(n));
        cell r;
        if (c.part != NONE && c.dup != NONE) r = call({at(b, c.from), items, I(c.part), I(c.dup)}, [] { actions::change(2, -1, 3); });
        else if (c.part != NONE) r = call({at(b, c.from), items, I(c.part)}, [] { actions::change(2, -1, -1); });
        else if (c.dup != NONE) r = call({at(b, c.from), items, I(c.dup)}, [] { actions::change(-1, -1, 2); });
        else r = call({at(b, c.from), items}, [] { actions::change(-1, -1, -1); });
        EXPECT_EQ(mold(b), c.out) << c.out;
        EXPECT_EQ(r.w1, c.at) << c.out;
    }
    cell b = Bn({1, 2, 3});
    call({b, b}, [] { actions::change(-1, -1, -1); }); // from itself
    EXPECT_EQ(mold(b), "[1 2 3]");
    call({at(b, 1), b}, [] { actions::change(-1, -1, -1); });
    EXPECT_EQ(mold(b), "[1 1 2 3]");
    call({b, Bn({9})}, [] { actions::change(-1, 0, -1); });
    EXPECT_EQ(mold(b), "[[9] 1 2 3]");
}

TEST_F(BlockTest, InsertAndAppendHelpers) {
    cell b = Bn({1, 4});
    b.w1 = 1;
    block::insert_value(&b, ptr_of(I(2)), true, false);
    block::insert_value(&b, ptr_of(I(3)), true, false);
    EXPECT_EQ(b.w1, 3u); // successive inserts keep their order
    block::insert_value(&b, ptr_of(I(5)), false, true);
    EXPECT_EQ(mold(at(b, 0)), "[1 2 3 4 5]");
    cell t = Bn({0});
    block::append_part(&t, ptr_of(at(b, 0)), 3);
    EXPECT_EQ(mold(t), "[0 1 2 3]");
    block::append_part(&t, &t, 2); // from itself
    EXPECT_EQ(mold(t), "[0 1 2 3 0 1]");
    cell e = Bn({8, 9});
    t.w1 = 1;
    block::insert_each(&t, &e);
    EXPECT_EQ(t.w1, 3u);
    EXPECT_EQ(mold(at(t, 0)), "[0 8 9 1 2 3 0 1]");
    block::remove_last(&t);
    EXPECT_EQ(mold(at(t, 0)), "[0 8 9 1 2 3 0]");
    cell* fresh = block::push_new(0);
    EXPECT_EQ(fresh->type(), T_block);
    EXPECT_GE(memory::buffer_of(fresh->w2)->size, sizeof(cell));
    cell* fixed = block::make_fixed_in(fresh, 3);
    EXPECT_TRUE(memory::buffer_of(fixed->w2)->flags & SERIES_UNMANAGED);
    cell* inner = block::make_in(fresh, 2);
    EXPECT_EQ(inner->type(), T_block);
    EXPECT_EQ(series::length(fresh->w2), 2u);
    stack::push(fresh);
    EXPECT_EQ(block::append_top(), T_block);
    EXPECT_EQ(series::length(fresh->w2), 3u);
}

TEST_F(BlockTest, TrimSwapAndTake) {
    cell b = B({I(1), none_value, I(2), none_value, none_value, I(3)});
    call({b}, [] { actions::trim(-1, -1, -1, -1, -1, -1); });
    EXPECT_EQ(mold(b), "[1 2 3]");
    cell x = Bn({1, 2}), y = Bn({3, 4});
    call({x, at(y, 1)}, actions::swap);
    EXPECT_EQ(mold(x), "[4 2]");
    EXPECT_EQ(mold(y), "[3 1]");
    call({x, at(y, 2)}, actions::swap); // at the tail: nothing
    EXPECT_EQ(mold(x), "[4 2]");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { call({x, I(1)}, actions::swap); }));
    cell inner = Bn({1});
    cell n = B({inner, S("s")});
    cell taken = call({n, I(2)}, [] { actions::take(1, 0, -1); });
    EXPECT_EQ(mold(taken), "[[1] \"s\"]");
    EXPECT_NE(cells(taken)[0].w2, inner.w2); // deep: nested series are copies
    cell one = call({B({inner})}, [] { actions::take(-1, 0, -1); });
    EXPECT_EQ(mold(one), "[1]");
    EXPECT_NE(one.w2, inner.w2);
}

TEST_F(BlockTest, CopyDeepTypesAndClone) {
    cell inner = Bn({1, 2});
    cell s = S("s");
    cell paren = typed(Bn({3}), T_paren);
    cell b = B({inner, s, paren, I(4)});
    cell shallow = call({b}, [] { actions::copy(-1, -1, -1); });
    EXPECT_EQ(cells(shallow)[0].w2, inner.w2);
    cell deep = call({b}, [] { actions::copy(-1, 0, -1); });
    EXPECT_EQ(mold(deep), mold(b));
    EXPECT_NE(cells(deep)[0].w2, inner.w2);
    EXPECT_NE(cells(deep)[1].w2, s.w2);
    EXPECT_NE(cells(deep)[2].w2, paren.w2);
    EXPECT_EQ(cells(deep)[2].type(), T_paren);
    cell only_strings = call({b, datatype::make_value(T_string)}, [] { actions::copy(-1, -1, 1); });
    EXPECT_EQ(cells(only_strings)[0].w2, inner.w2);
    EXPECT_NE(cells(only_strings)[1].w2, s.w2);
    cell* c = block::clone(&b, UINT32_MAX, true, false);
    EXPECT_NE(block::cells_of(c->w2)[0].w2, inner.w2);
    EXPECT_EQ(block::cells_of(c->w2)[1].w2, s.w2);
    EXPECT_EQ(block::cells_of(c->w2)[2].w2, paren.w2);
    c = block::clone(&b, 2, true, true);
    EXPECT_EQ(series::length(c->w2), 2u);
    cell self = Bn({1});
    call({self, self}, [] { actions::append(-1, 0, -1); });
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_no_cycle, [&] { call({self}, [] { actions::copy(-1, 0, -1); }); }));
    EXPECT_EQ(cycles::cs.top, 0u);
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_no_cycle, [&] { block::clone(&self, UINT32_MAX, true, false); }));
    EXPECT_EQ(cycles::cs.top, 0u);
}

// }==
// {== find, select, put

// find [series] [value] with the refinements in [refs] ("only case same last reverse tail match",
// and "skip" or "part" taking [arg]); the index found, or -1 for none.
int32_t find(cell s, cell v, std::string refs = "", cell arg = none_value) {
    auto has = [&](const char* r) { return refs.find(r) != std::string::npos ? 0 : -1; };
    bool part = has("part") == 0, skip = has("skip") == 0;
    cell r;
    int32_t o = has("only"), c = has("case"), sm = has("same"), l = has("last"), rv = has("reverse"),
            t = has("tail"), m = has("match");
    auto run = [&](int32_t p, int32_t k) {
        cell w{T_word, 0, 99, 0};
        stack::mark_native(&w);
        stack::push(&s);
        stack::push(&v);
        if (p > 0 || k > 0) stack::push(&arg);
        actions::find(p, o, c, sm, -1, -1, k, l, rv, t, m);
        stack::unwind();
        return *stack::top();
    };
    r = run(part ? 2 : -1, skip ? 2 : -1);
    return r.type() == T_none ? -1 : static_cast<int32_t>(r.w1);
}

TEST_F(BlockTest, FindRefinements) {
    cell b = Bn({1, 2, 3, 1, 2, 3});
    EXPECT_EQ(find(b, I(2)), 1);
    EXPECT_EQ(find(b, Bn({3, 1})), 2);
    EXPECT_EQ(find(b, Bn({3, 1}), "tail"), 4);
    EXPECT_EQ(find(b, Bn({3, 9})), -1);
    EXPECT_EQ(find(b, Bn({})), -1);
    EXPECT_EQ(find(b, I(1), "last"), 3);
    EXPECT_EQ(find(b, Bn({1, 2}), "last"), 3);
    EXPECT_EQ(find(at(b, 4), I(1), "reverse"), 3);
    EXPECT_EQ(find(at(b, 3), I(1), "reverse"), 0);
    EXPECT_EQ(find(at(b, 0), I(1), "reverse"), -1);
    EXPECT_EQ(find(b, I(2), "match"), -1);
    EXPECT_EQ(find(b, I(1), "match"), 0);
    EXPECT_EQ(find(b, I(1), "skip", I(3)), 0);
    EXPECT_EQ(find(b, I(2), "skip", I(3)), -1); // only the two 1s are tried
    EXPECT_EQ(find(at(b, 1), I(1), "skip", I(2)), 3);
    EXPECT_EQ(find(b, I(2), "skip", I(2)), 4);
    EXPECT_EQ(find(b, I(3), "part", I(2)), -1);
    EXPECT_EQ(find(b, I(3), "part", I(3)), 2);
    EXPECT_EQ(find(b, I(3), "part", at(b, 3)), 2);
    EXPECT_EQ(find(b, I(1), "part", I(0)), -1);
    EXPECT_EQ(find(at(b, 6), I(1)), -1);
    EXPECT_EQ(find(B({}), I(1)), -1);
    cell nested = B({I(1), Bn({2, 3}), I(2), I(3)});
    EXPECT_EQ(find(nested, Bn({2, 3}), "only"), 1);
    EXPECT_EQ(find(nested, Bn({2, 3})), 2);
    cell mixed = B({S("a"), F(1.0), I(1), C('x')});
    cell integer_type = datatype::make_value(T_integer);
    EXPECT_EQ(find(mixed, integer_type), 2);
    EXPECT_EQ(find(mixed, integer_type, "only"), -1);
    EXPECT_EQ(find(mixed, I(1)), 2); // 1.0 is not the same value
    EXPECT_EQ(find(mixed, S("A")), 0);
    EXPECT_EQ(find(mixed, S("A"), "case"), -1);
    cell s = S("a");
    cell same = B({S("a"), s});
    EXPECT_EQ(find(same, s, "same"), 1);
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { find(b, I(1), "skip", S("2")); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [&] { find(b, I(1), "skip", I(0)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { find(b, I(1), "part", Bn({1})); }));
}

cell select(cell s, cell v) {
    return call({s, v}, [] { actions::select(-1, -1, -1, -1, -1, -1, -1, -1, -1); });
}

TEST_F(BlockTest, SelectAndPut) {
    cell kv = Bn({1, 10, 2, 20});
    EXPECT_EQ(integer::get(&(kv = select(kv, I(2)))), 20);
    cell b = Bn({1, 10, 2});
    EXPECT_EQ(select(b, I(2)).type(), T_none);
    EXPECT_EQ(select(b, I(7)).type(), T_none);
    EXPECT_EQ(integer::get(&(kv = select(Bn({1, 2, 3, 4}), Bn({2, 3})))), 4);
    cell p = Bn({1, 10});
    cell r = call({p, I(2), I(20)}, [] { actions::put(-1); });
    EXPECT_EQ(integer::get(&r), 20);
    EXPECT_EQ(mold(p), "[1 10 2 20]");
    call({p, I(1), I(10)}, [] { actions::put(-1); });
    EXPECT_EQ(mold(p), "[1 10 2 20]");
    call({p, I(1), I(11)}, [] { actions::put(-1); });
    EXPECT_EQ(mold(p), "[1 11 2 20]");
    call({p, I(20), I(3)}, [] { actions::put(-1); }); // the key is last: the value is appended
    EXPECT_EQ(mold(p), "[1 11 2 20 3]");
    cell q = B({S("a"), I(1)});
    call({q, S("A"), I(2)}, [] { actions::put(0); });
    EXPECT_EQ(mold(q), "[\"a\" 1 \"A\" 2]");
}

TEST_F(BlockTest, SearchHelpers) {
    cell b = Bn({1, 10, 2, 20});
    EXPECT_EQ(integer::get(block::select_by_compare(&b, ptr_of(I(2)))), 20);
    EXPECT_EQ(block::select_by_compare(&b, ptr_of(I(20))), &none_value);
    EXPECT_EQ(block::select_by_compare(&b, ptr_of(I(7))), &none_value);
    cell c = at(Bn({5, 6, 5, 6}), 2);
    EXPECT_TRUE(block::remove_by_compare(&c, ptr_of(I(5)), true)); // position 0, before the index
    EXPECT_EQ(mold(at(c, 0)), "[6 5 6]");
    EXPECT_FALSE(block::remove_by_compare(&c, ptr_of(I(5)), false)); // none from the index on
    EXPECT_TRUE(block::remove_by_compare(&c, ptr_of(I(6)), false)); // position 2, the index
    EXPECT_EQ(mold(at(c, 0)), "[6 5]");
    EXPECT_FALSE(block::remove_by_compare(&c, ptr_of(I(7)), true));
}

TEST_F(BlockTest, SelectWordByCanonicalSymbol) {
    symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    uint32_t a = symbol::make("a"), big_a = symbol::make("A"), b = symbol::make("b");
    auto W = [](uint8_t t, uint32_t sym) { return cell{t, 0, sym, 0xFFFFFFFF}; };
    cell blk = B({W(T_set_word, a), I(1), S("b"), W(T_word, b), I(2), W(T_lit_word, big_a)});
    cell key = W(T_word, big_a);
    EXPECT_EQ(integer::get(block::select_word(&blk, &key, false)), 1);
    EXPECT_EQ(block::select_word(&blk, &key, true), &none_value); // A itself is last
    cell kb = W(T_word, b);
    EXPECT_EQ(integer::get(block::select_word(&blk, &kb, false)), 2);
    cell later = at(blk, 1);
    EXPECT_EQ(block::select_word(&later, &key, false), &none_value);
    symbol::table = {};
}

// }==

// {== sort and the set operations

// sort [b] with the refinements in [refs] ("case skip compare part all reverse stable"), taking
// [a1] for the first refinement with an argument and [a2] for the second.
cell sort(cell b, std::string refs = "", cell a1 = none_value, cell a2 = none_value) {
    auto has = [&](const char* r) { return refs.find(r) != std::string::npos; };
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    stack::push(&b);
    int32_t next = 1, k = -1, cmp = -1, part = -1;
    cell args[2] = {a1, a2};
    for (const char* r : {"skip", "compare", "part"}) {
        if (!has(r)) continue;
        stack::push(&args[next - 1]);
        (r[0] == 's' ? k : r[0] == 'c' ? cmp : part) = next++;
    }
    actions::sort(has("case") ? 0 : -1, k, cmp, part, has("all") ? 0 : -1, has("reverse") ? 0 : -1,
                  has("stable") ? 0 : -1);
    stack::unwind();
    return *stack::top();
}

TEST_F(BlockTest, SortOrdersValuesAndRecords) {
    EXPECT_EQ(mold(sort(Bn({3, 1, 2}))), "[1 2 3]");
    EXPECT_EQ(mold(sort(Bn({3, 1, 2}), "reverse")), "[3 2 1]");
    EXPECT_EQ(mold(sort(B({I(2), S("b"), I(1), S("a")}), "skip", I(2))), "[1 \"a\" 2 \"b\"]");
    EXPECT_EQ(mold(sort(B({I(1), S("b"), I(2), S("a")}), "skip compare", I(2), I(2))), "[2 \"a\" 1 \"b\"]");
    EXPECT_EQ(mold(sort(B({I(1), I(9), I(1), I(3)}), "skip all", I(2))), "[1 3 1 9]");
    EXPECT_EQ(mold(sort(Bn({3, 2, 1, 0}), "part", I(3))), "[1 2 3 0]");
    cell back = Bn({3, 2, 1, 0});
    EXPECT_EQ(mold(sort(at(back, 3), "part", I(-2))), "[1 2 0]"); // the two before the index
    EXPECT_EQ(mold(back), "[3 1 2 0]");
    EXPECT_EQ(mold(sort(B({F(2.5), S("a"), I(1), I(3)}))), "[\"a\" 1 2.5 3]"); // by type id, numbers together
    cell words = B({S("b"), S("A"), S("a"), S("B")});
    EXPECT_EQ(mold(sort(words, "stable")), "[\"A\" \"a\" \"b\" \"B\"]");
    EXPECT_EQ(mold(sort(words, "case stable")), "[\"A\" \"B\" \"a\" \"b\"]");
    cell recs = B({I(1), S("b"), I(2), S("a"), I(3), S("b"), I(4), S("a")});
    EXPECT_EQ(mold(sort(recs, "skip compare stable", I(2), I(2))), "[2 \"a\" 4 \"a\" 1 \"b\" 3 \"b\"]");
    EXPECT_EQ(mold(sort(B({}))), "[]");
}

TEST_F(BlockTest, SortErrors) {
    cell b = Bn({1, 2, 3});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { sort(b, "skip", I(2)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { sort(b, "skip", I(0)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_refines, [&] { sort(b, "all"); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_refines, [&] { sort(b, "compare", I(1)); }));
    cell c = Bn({1, 2, 3, 4});
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_refines, [&] { sort(c, "skip compare all", I(2), I(1)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [&] { sort(c, "skip compare", I(2), I(3)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { sort(c, "compare", S("x")); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { sort(c, "part", S("x")); }));
    EXPECT_EQ(mold(c), "[1 2 3 4]");
}

TEST_F(BlockTest, SortMatchesStdSort) {
    std::vector<int32_t> ref;
    cell b = B({});
    uint32_t x = 12345;
    for (int i = 0; i < 20000; i++) {
        x = x * 1103515245 + 12345;
        ref.push_back(static_cast<int32_t>(x >> 8) % 1000);
        series::append_value(b.w2, I(ref.back()));
    }
    std::sort(ref.begin(), ref.end());
    for (const char* refs : {"", "stable"}) {
        cell s = call({b}, [] { actions::copy(-1, -1, -1); });
        sort(s, refs);
        for (uint32_t i = 0; i < ref.size(); i++) ASSERT_EQ(integer::get(cells(s) + i), ref[i]) << refs << i;
    }
}

std::string set_op(int32_t op, cell a, cell b, bool case_ = false, int32_t skip = 1) {
    cell k = I(skip);
    block::do_set_op(op, &a, &b, case_, &k);
    EXPECT_EQ(a.w1, 0u);
    return mold(a);
}

TEST_F(BlockTest, SetOperationsIgnoreCaseByDefault) {
    EXPECT_EQ(set_op(8, B({S("a"), S("A"), S("a")}), none_value), "[\"a\"]");
    EXPECT_EQ(set_op(8, B({S("a"), S("A"), S("a")}), none_value, true), "[\"a\" \"A\"]");
    EXPECT_EQ(set_op(9, B({S("a"), S("b")}), B({S("B"), S("c")})), "[\"a\" \"b\" \"c\"]");
    EXPECT_EQ(set_op(9, Bn({1, 2}), Bn({2, 3})), "[1 2 3]");
    EXPECT_EQ(set_op(10, Bn({1, 2, 3, 3}), Bn({3, 2, 4})), "[2 3]");
    EXPECT_EQ(set_op(10, B({S("a"), S("b")}), B({S("B")}), true), "[]");
    EXPECT_EQ(set_op(11, Bn({1, 2, 3, 1}), Bn({2})), "[1 3]");
    EXPECT_EQ(set_op(12, Bn({1, 2, 3}), Bn({2, 3, 4, 4})), "[1 4]");
    EXPECT_EQ(set_op(9, B({I(1), S("a"), I(2), S("b")}), B({I(1), S("c"), I(3), S("d")}), false, 2),
              "[1 \"a\" 2 \"b\" 3 \"d\"]");
    EXPECT_EQ(set_op(8, B({Bn({1}), Bn({1}), Bn({2})}), none_value), "[[1] [2]]"); // nested keys by value
    EXPECT_EQ(set_op(8, at(Bn({1, 1, 2, 2}), 2), none_value), "[2]");
    EXPECT_EQ(set_op(9, B({}), B({})), "[]");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_refine_arg, [&] { set_op(8, Bn({1}), none_value, false, 0); }));
}

// }==
// {== compare

TEST_F(BlockTest, CompareOrdersByContentThenLength) {
    cell e = B({}), one = Bn({1}), onetwo = Bn({1, 2});
    EXPECT_TRUE(actions::compare(&e, &one, 3));
    EXPECT_TRUE(actions::compare(&one, &onetwo, 3));
    EXPECT_FALSE(actions::compare(&one, &onetwo, 0));
    EXPECT_TRUE(actions::compare(&one, &onetwo, 1));
    cell a = Bn({1, 2}), f = B({F(1.0), I(2)}), str = B({S("a")}), inner = B({B({})});
    EXPECT_TRUE(actions::compare(&a, &onetwo, 0));
    EXPECT_TRUE(actions::compare(&f, &onetwo, 0)); // [1] = [1.0]: numbers compare as numbers
    EXPECT_FALSE(actions::compare(&f, &onetwo, 2));
    EXPECT_TRUE(actions::compare(&one, &str, 5));  // integer! (11) after string! (7)
    EXPECT_TRUE(actions::compare(&inner, &one, 3)); // block! (5) before integer! (11)
    EXPECT_FALSE(actions::compare(&a, &onetwo, 9)); // same? needs the same buffer
    cell a2 = a;
    EXPECT_TRUE(actions::compare(&a, &a2, 9));
    cell n = none_value;
    EXPECT_FALSE(actions::compare(&a, &n, 0));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_compare, [&] { actions::compare(&a, &n, 3); }));
    cell p = typed(Bn({1}), T_path), lp = typed(Bn({1}), T_lit_path);
    EXPECT_EQ(block::compare(&p, &lp, 0), -2);
    EXPECT_EQ(block::compare(&p, &lp, 10), 0);
}

// }==
// {== form and mold

TEST_F(BlockTest, FormSeparatesValuesWithSpaces) {
    EXPECT_EQ(form(B({I(1), S("a"), Bn({2, 3}), C('x')})), "1 a 2 3 x");
    EXPECT_EQ(form(B({S("a\n"), S("b"), S("c\t"), S("d\r"), S("e")})), "a\nb c\td\re");
    EXPECT_EQ(form(B({S("a"), S(""), S("b")})), "a  b"); // the spaces around an empty text remain
    EXPECT_EQ(form(B({})), "");
    EXPECT_EQ(text(call({Bn({1, 2, 3, 4}), I(3)}, [] { actions::form(1); })), "1 2");
    cell out = S("");
    cell b = Bn({10, 20, 30});
    cell limit = I(4);
    EXPECT_EQ(block::form(&b, &out, &limit, 4), -1); // "10 20": stopped once the budget ran out
    EXPECT_EQ(text(out), "10 20");
}

TEST_F(BlockTest, MoldKeepsNewLinesAndIndents) {
    struct { cell b; const char* out; } cases[] = {
        {B({I(1), nl(I(2)), I(3)}), "[1\n2 3]"},
        {B({nl(I(1)), nl(I(2))}), "[\n    1\n    2\n]"},
        {B({nl(I(1)), B({nl(I(2)), I(3)})}), "[\n    1 [\n        2 3\n    ]\n]"},
        {B({I(1), B({nl(I(2))})}), "[1 [\n    2\n]]"},
        {B({}), "[]"},
        {B({S("a"), C('b'), F(1.5), none_value, true_value}), "[\"a\" #\"b\" 1.5 none true]"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(c.b), c.out);
    cell b = B({nl(I(1)), nl(I(2))});
    EXPECT_EQ(text(call({b}, [] { actions::mold(-1, -1, 0, -1); })), "[1 2]");  // /flat
    EXPECT_EQ(text(call({b}, [] { actions::mold(0, -1, -1, -1); })), "1\n2"); // /only
    EXPECT_EQ(text(call({b, I(4)}, [] { actions::mold(-1, -1, -1, 1); })), "[\n  ");
    cell out = S(""), limit = I(100);
    EXPECT_EQ(block::mold(&b, &out, false, false, false, &limit, 100, 0), 100 - 15);
    EXPECT_EQ(text(out), "[\n    1\n    2\n]");
    cell four = Bn({1, 2, 3, 4}), out2 = S(""), short_limit = I(3);
    EXPECT_EQ(block::mold(&four, &out2, false, false, false, &short_limit, 3, 0), -2);
    EXPECT_EQ(text(out2), "[1 2]"); // stopped once the budget ran out
}

TEST_F(BlockTest, SelfContainingBlocksMoldFormAndCompare) {
    cell b = Bn({1});
    call({b, b}, [] { actions::append(-1, 0, -1); });
    EXPECT_EQ(mold(b), "[1 [...]]");
    EXPECT_EQ(form(b), "1 ...");
    cell c = Bn({1});
    call({c, c}, [] { actions::append(-1, 0, -1); });
    EXPECT_TRUE(actions::compare(&b, &c, 0));
    EXPECT_TRUE(actions::compare(&b, &b, 0));
    EXPECT_EQ(cycles::cs.top, 0u);
}

TEST_F(BlockTest, NestingPastTheCycleStackRaisesTooDeep) {
    cell deep = B({});
    for (int i = 0; i < 1200; i++) deep = B({deep});
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_too_deep, [&] { mold(deep); }));
    EXPECT_EQ(cycles::cs.top, 0u);
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_too_deep, [&] { form(deep); }));
    EXPECT_EQ(cycles::cs.top, 0u);
    cell other = B({});
    for (int i = 0; i < 1200; i++) other = B({other});
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_too_deep, [&] { actions::compare(&deep, &other, 0); }));
    EXPECT_EQ(cycles::cs.top, 0u);
    cell fine = B({});
    for (int i = 0; i < 900; i++) fine = B({fine});
    EXPECT_EQ(mold(fine).size(), 1802u);
    EXPECT_EQ(cycles::cs.top, 0u);
}

// }==
// {== make, to, eval-path

cell conv(bool make, uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    return call({proto, spec}, [make] { make ? actions::make() : actions::to(); });
}

TEST_F(BlockTest, MakeAndTo) {
    cell m = conv(true, T_block, I(10));
    EXPECT_EQ(mold(m), "[]");
    EXPECT_GE(memory::buffer_of(m.w2)->size, 10 * sizeof(cell));
    EXPECT_EQ(mold(conv(true, T_block, I(-5))), "[]");
    EXPECT_EQ(mold(conv(true, T_block, F(2.0))), "[]");
    cell src = Bn({1, 2, 3});
    cell copy = conv(true, T_block, at(src, 1));
    EXPECT_EQ(mold(copy), "[2 3]");
    EXPECT_NE(copy.w2, src.w2);
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_make_arg, [] { conv(true, T_block, S("x")); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_out_of_range, [] { conv(true, T_block, F(1e100)); }));
    EXPECT_EQ(mold(conv(false, T_block, I(5))), "[5]");
    cell from_paren = conv(false, T_block, typed(Bn({1, 2}), T_paren));
    EXPECT_EQ(from_paren.type(), T_block);
    EXPECT_EQ(mold(from_paren), "[1 2]");
    EXPECT_EQ(mold(conv(false, T_block, C('a'))), "[#\"a\"]");
    EXPECT_EQ(mold(conv(false, T_block, S("1 [2]"))), "[1 [2]]"); // the values the text loads
}

TEST_F(BlockTest, EvalPathPicksSelectsAndSets) {
    cell b = B({S("k"), I(5), I(7)});
    actions::path_step step{nullptr, nullptr, nullptr, 0, false, true, false};
    auto path = [&](cell key, const cell* set) {
        cell v = b, k = key;
        return *block::eval_path(&v, &k, set, step);
    };
    cell r = path(I(3), nullptr);
    EXPECT_EQ(integer::get(&r), 7);
    EXPECT_EQ(integer::get(&(r = path(S("K"), nullptr))), 5);
    EXPECT_EQ(path(I(9), nullptr).type(), T_none);
    cell six = I(6);
    path(S("k"), &six);
    EXPECT_EQ(mold(b), "[\"k\" 6 7]");
    path(I(3), &six);
    EXPECT_EQ(mold(b), "[\"k\" 6 6]");
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_path_set, [&] { path(S("z"), &six); }));
}

// }==
// {== hash! tables and collections

// A hash! over [b] with its own table.
cell hashed(cell b) {
    cell* h = stack::push(&b);
    node_id t = hashtable::init(static_cast<uint32_t>(series::length(b.w2)), h, hashtable::KIND_HASH, 1);
    h->header = T_hash;
    h->w3 = t;
    return *h;
}

int32_t find_in(cell h, cell v) {
    block::find(&h, &v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    return h.type() == T_none ? -1 : static_cast<int32_t>(h.w1);
}

TEST_F(BlockTest, HashTablesFollowEveryChange) {
    cell h = hashed(Bn({10, 20, 30, 40}));
    EXPECT_EQ(find_in(h, I(30)), 2);
    cell v = I(15);
    cell at1 = at(h, 1);
    block::insert(&at1, &v, -1, false, 1, false);             // [10 15 20 30 40]
    EXPECT_EQ(find_in(h, I(30)), 3);
    EXPECT_EQ(find_in(h, I(15)), 1);
    cell two = I(2);
    cell first = h;
    series::remove(&first, &two, nullptr);                    // [20 30 40]
    EXPECT_EQ(find_in(h, I(10)), -1);
    EXPECT_EQ(find_in(h, I(40)), 2);
    cell n = I(99);
    series::poke(&h, 1, nullptr, &n);                         // [99 30 40]
    EXPECT_EQ(find_in(h, I(20)), -1);
    EXPECT_EQ(find_in(h, I(99)), 0);
    cell r = h;
    series::reverse(&r, nullptr, nullptr);                    // [40 30 99]
    EXPECT_EQ(find_in(h, I(99)), 2);
    cell s = h;
    block::sort(&s, false, nullptr, nullptr, nullptr, false, false, false); // [30 40 99]
    EXPECT_EQ(find_in(h, I(30)), 0);
    cell items = Bn({1, 2});
    cell c = at(h, 1);
    block::change(&c, &items, -1, false, 1);                   // [30 1 2]
    EXPECT_EQ(find_in(h, I(2)), 2);
    EXPECT_EQ(find_in(h, I(99)), -1);
    cell k = h;
    series::take(&k, nullptr, false, true);                   // [30 1]
    EXPECT_EQ(find_in(h, I(2)), -1);
    cell cl = at(h, 1);
    series::clear(&cl);                                       // [30]
    EXPECT_EQ(find_in(h, I(1)), -1);
    EXPECT_EQ(find_in(h, I(30)), 0);
    cell copy = h;
    series::copy(&copy, nullptr, false, nullptr);
    EXPECT_NE(copy.w3, h.w3);
    EXPECT_EQ(find_in(copy, I(30)), 0);
    cell u = hashed(Bn({1, 1, 2}));
    block::do_set_op(8, &u, nullptr, false, nullptr);
    EXPECT_EQ(mold(typed(u, T_block)), "[1 2]");
    EXPECT_EQ(find_in(u, I(2)), 1);
}

struct StressGuard {
    StressGuard() {
        extres::init();
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.active = true;
        mm.stress_every = 1;
    }
    ~StressGuard() {
        mm.stress_every = 0;
        collector::gc = {};
        extres::shutdown();
    }
};

TEST_F(BlockTest, BlocksSurviveACollectionAtEveryAllocation) {
    StressGuard guard;
    cell b = B({});
    for (int i = 0; i < 300; i++) {
        cell item = i % 3 ? I(i) : B({S("x"), I(i)});
        call({b, item}, [] { actions::append(-1, 0, -1); });
    }
    EXPECT_EQ(series::length(b.w2), 300u);
    cell c = call({b}, [] { actions::copy(-1, 0, -1); });
    EXPECT_EQ(mold(c), mold(b));
    call({at(c, 5), Bn({1, 2, 3}), I(3)}, [] { actions::insert(-1, -1, 2); });
    EXPECT_EQ(series::length(c.w2), 309u);
    call({at(c, 1), S("y"), I(4)}, [] { actions::change(2, -1, -1); });
    EXPECT_EQ(series::length(c.w2), 306u);
    cell nums = Bn({5, 3, 9, 1});
    sort(nums);
    EXPECT_EQ(mold(nums), "[1 3 5 9]");
    EXPECT_EQ(set_op(9, B({S("a"), S("b")}), B({S("B"), S("c")})), "[\"a\" \"b\" \"c\"]");
    cell lines = B({nl(S("a")), nl(B({nl(I(1))}))});
    EXPECT_EQ(mold(lines), "[\n    \"a\"\n    [\n        1\n    ]\n]");
    EXPECT_EQ(mold(call({c, I(2)}, [] { actions::take(1, 0, -1); })), "[[\"x\" 0] \"y\"]");
    EXPECT_EQ(find(c, I(2)), 1);
}

// }==

} // namespace
