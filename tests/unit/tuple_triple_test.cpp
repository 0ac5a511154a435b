// tests/unit/tuple_triple_test.cpp: tuple! through its action entries and the number types'
// dispatch: saturating arithmetic, comparison, conversions, element access, reversal, text
// and the literal; triple!'s text.
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

// The symbol table too: colour issues name symbols.
struct TupleTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

using TripleTest = zyl::testing::RuntimeTest;

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell C(uint32_t cp) { return cell{T_char_, 0, cp, 0}; }
cell issue(const char* name) { return cell{T_issue, 0, symbol::make(name), 0xFFFFFFFF}; }

// The tuple of a literal, or an unset cell when the text is not one.
cell load(const std::string& t) {
    cell c = unset_value;
    if (!tuple::load_text(t.data(), t.data() + t.size(), &c)) return unset_value;
    return c;
}

cell T(const char* t) {
    cell c = load(t);
    EXPECT_EQ(c.type(), T_tuple) << t;
    return c;
}

cell math(uint8_t slot, cell a, cell b) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    stack::push(&a);
    stack::push(&b);
    actions::handler<actions::direct_fn>(&a, slot)();
    cell r = *stack::arg(0);
    stack::unwind_drop();
    return r;
}

std::string mold(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::mold_typed(&v, &out, false, false, false, nullptr, INT32_MAX, 0);
    return string::to_std(&out);
}

std::string form(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::form_typed(&v, &out, nullptr, INT32_MAX);
    return string::to_std(&out);
}

cell to(cell spec) {
    cell proto = datatype::make_value(T_tuple);
    return *actions::to_typed(&proto, &spec);
}

cell text(const std::string& t) {
    cell s;
    return *string::from_utf8(&s, t);
}

cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(4);
    for (const cell& v : values) *series::append_unset_cell(n) = v;
    return cell{T_block, 0, n, 0};
}

cell binary(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
    node_id n = series::alloc_bytes(16);
    uint8_t* p = series::alloc_tail_bytes(n, bytes.size());
    for (uint8_t b : bytes) *p++ = b;
    return cell{T_binary, index, n, 0};
}

cell reverse(cell v, const cell* part = nullptr, const cell* skip = nullptr) {
    return *actions::reverse_typed(&v, part, skip);
}

cell path(cell v, cell element, const cell* set = nullptr) {
    actions::path_step step{nullptr, nullptr, nullptr, 1, false, true, false};
    cell* r = actions::eval_path_typed(&v, &element, set, step);
    return set ? v : *r;
}

int32_t compare(cell a, cell b, int32_t op) { return actions::compare_typed(&a, &b, op); }

// {== tuple!

TEST_F(TupleTest, ElementArithmeticSaturates) {
    struct { uint8_t slot; cell a, b; const char* molded; } cases[] = {
        {A_add, T("1.2.3"), I(1), "2.3.4"},
        {A_add, T("250.250.250"), I(10), "255.255.255"},
        {A_subtract, T("1.2.3"), I(5), "0.0.0"},
        {A_multiply, T("1.2.3"), F(1.5), "1.3.4"},
        {A_divide, T("10.20.30"), I(3), "3.6.10"},
        {A_add, T("1.2.3"), T("1.1.1.1"), "2.3.4.1"},
        {A_add, T("1.2.3.4"), T("1.1.1"), "2.3.4.4"},
        {A_and_t, T("1.2.3"), T("255.0.255"), "1.0.3"},
        {A_or_t, T("1.2.3"), I(0x10), "17.18.19"},
        {A_xor_t, T("255.0.1"), I(1), "254.1.0"},
        {A_remainder, T("10.11.12"), I(5), "0.1.2"},
        {A_multiply, T("1.2.3"), I(2147483647), "255.255.255"},
        {A_subtract, T("1.2.3"), I(-2147483647 - 1), "255.255.255"},
        {A_multiply, T("1.2.3"), I(-1), "0.0.0"},
        {A_multiply, T("100.2.3"), F(1e300), "255.255.255"},
        {A_multiply, T("100.2.3"), F(NAN), "0.0.0"},
        {A_multiply, T("100.200.50"), float_::make_value(0.5, T_percent), "50.100.25"},
        {A_add, T("1.2.3.4.5.6.7.8.9.10.11.12"), I(1), "2.3.4.5.6.7.8.9.10.11.12.13"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(math(c.slot, c.a, c.b)), c.molded) << c.molded;
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_divide, T("1.2.3"), I(0)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_divide, T("1.2.3.4"), T("1.2.3")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, T("1.2.3"), text("a")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_cannot_use, [] { math(A_and_t, T("1.2.3"), F(1.0)); }));
}

TEST_F(TupleTest, NumbersOnTheLeftGoThroughIntegerAndFloat) {
    EXPECT_EQ(mold(math(A_multiply, I(2), T("1.2.3"))), "2.4.6");
    EXPECT_EQ(mold(math(A_add, I(1), T("1.2.3"))), "2.3.4");
    EXPECT_EQ(mold(math(A_multiply, F(1.5), T("1.2.3"))), "1.3.4");
    EXPECT_EQ(mold(math(A_add, float_::make_value(0.5, T_percent), T("1.2.3"))), "1.2.3");
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_subtract, I(2), T("1.2.3")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_divide, I(2), T("1.2.3")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_subtract, F(2.0), T("1.2.3")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_divide, F(2.0), T("1.2.3")); }));
}

TEST_F(TupleTest, CompareCountsMissingElementsAsZero) {
    EXPECT_EQ(compare(T("1.2.3"), T("1.2.3.0"), 0), 0);
    EXPECT_EQ(compare(T("1.2.3"), T("1.2.3.1"), 0), -1);
    EXPECT_EQ(compare(T("1.2.3"), T("1.2.4"), 3), -1);
    EXPECT_EQ(compare(T("1.2.255"), T("1.2.4"), 3), 1); // unsigned bytes
    EXPECT_EQ(compare(T("1.2.3"), I(1), 0), -2);
    cell zero = T("0.0.0.0"), some = T("0.0.1");
    EXPECT_TRUE(tuple::zero_q(&zero));
    EXPECT_FALSE(tuple::zero_q(&some));
}

TEST_F(TupleTest, Conversions) {
    EXPECT_EQ(mold(to(block({I(1), I(2)}))), "1.2.0");
    EXPECT_EQ(mold(to(block({}))), "0.0.0");
    EXPECT_EQ(mold(to(block({C('A'), F(2.9), F(-0.5), I(255)}))), "65.2.0.255");
    EXPECT_EQ(mold(to(issue("ff0000"))), "255.0.0");
    EXPECT_EQ(mold(to(issue("F00"))), "255.0.0");
    EXPECT_EQ(mold(to(issue("abc"))), "170.187.204");
    EXPECT_EQ(mold(to(issue("AbCdEf12"))), "171.205.239.18");
    EXPECT_EQ(mold(to(text(" 1.2.3 "))), "1.2.3");
    EXPECT_EQ(mold(to(T("1.2.3.4"))), "1.2.3.4");
    EXPECT_EQ(mold(to(binary({1, 2}))), "1.2.0");
    EXPECT_EQ(mold(to(binary({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 1))), "2.3.4.5.6.7.8.9.10.11.12.13");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_data, [] { to(issue("abcd")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_data, [] { to(issue("ggg")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(block({I(256)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(block({I(-1)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(block({F(NAN)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(block({text("1")})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] {
        to(block({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8), I(9), I(10), I(11), I(12), I(13)}));
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(text("3x4")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(I(1)); }));
}

TEST_F(TupleTest, PickPokeAndPath) {
    cell one = I(1), four = I(4), none = none_value, big = I(300), neg = I(-5);
    cell t = T("1.2.3.4.5");
    tuple::poke(&t, 4, &none);
    EXPECT_EQ(mold(t), "1.2.3");
    EXPECT_EQ(t.w2, 0u); // the elements past the count are cleared
    t = T("1.2.3");
    tuple::poke(&t, 1, &none);
    EXPECT_EQ(mold(t), "0.0.0");
    EXPECT_EQ(tuple::count_of(&t), 3u);
    EXPECT_EQ(mold(path(T("1.2.3"), one, &big)), "255.2.3");
    EXPECT_EQ(mold(path(T("1.2.3"), I(3), &neg)), "1.2.0");
    EXPECT_EQ(mold(path(T("1.2.3.4"), four, &none)), "1.2.3");
    cell picked = path(T("1.2.3"), I(2));
    EXPECT_EQ(picked.type(), T_integer);
    EXPECT_EQ(integer::get(&picked), 2);
    cell v = T("1.2.3");
    EXPECT_EQ(integer::get(actions::pick_typed(&v, &one)), 1);
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] {
        cell p = T("1.2.3");
        actions::pick_typed(&p, &four);
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { path(T("1.2.3"), four, &one); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [&] { path(T("1.2.3"), F(1.0)); }));
    cell f = F(1.0);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [&] { path(T("1.2.3"), one, &f); }));
}

TEST_F(TupleTest, Reverse) {
    cell two = I(2), three = I(3), four = I(4), six = I(6), zero = I(0), minus = I(-1), big = I(20), f = F(2.0);
    EXPECT_EQ(mold(reverse(T("1.2.3.4"))), "4.3.2.1");
    EXPECT_EQ(mold(reverse(T("1.2.3.4"), &two)), "2.1.3.4");
    EXPECT_EQ(mold(reverse(T("1.2.3.4"), &big)), "4.3.2.1");
    EXPECT_EQ(mold(reverse(T("1.2.3.4"), &zero)), "1.2.3.4");
    EXPECT_EQ(mold(reverse(T("1.2.3.4.5.6"), nullptr, &two)), "5.6.3.4.1.2");
    EXPECT_EQ(mold(reverse(T("1.2.3.4.5.6"), nullptr, &three)), "4.5.6.1.2.3");
    EXPECT_EQ(mold(reverse(T("1.2.3.4.5.6"), nullptr, &six)), "1.2.3.4.5.6");
    EXPECT_EQ(mold(reverse(T("1.2.3.4.5.6"), &four, &two)), "3.4.1.2.5.6");
    cell one = I(1);
    EXPECT_EQ(mold(reverse(T("1.2.3"), nullptr, &one)), "3.2.1");
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { reverse(T("1.2.3"), &minus); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { reverse(T("1.2.3"), nullptr, &zero); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_refine_arg, [&] { reverse(T("1.2.3"), &f); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_refine_arg, [&] { reverse(T("1.2.3"), nullptr, &f); }));
    // A part that is not a whole number of groups is refused before anything moves.
    cell t = T("1.2.3.4.5.6");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_refine_arg, [&] { actions::reverse_typed(&t, nullptr, &four); }));
    EXPECT_EQ(mold(t), "1.2.3.4.5.6");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_refine_arg, [&] { reverse(T("1.2.3"), &zero, &two); }));
}

TEST_F(TupleTest, RandomComplementLength) {
    cell z = T("0.0.0");
    EXPECT_EQ(mold(*actions::random_typed(&z, false, false, false)), "0.0.0");
    for (int i = 0; i < 50; i++) {
        cell v = T("10.0.255.1");
        cell r = *actions::random_typed(&v, false, i % 2 == 1, false);
        const uint8_t* e = tuple::bytes_of(&r);
        EXPECT_TRUE(e[0] <= 10 && e[1] == 0 && e[3] <= 1) << mold(r);
        EXPECT_EQ(tuple::count_of(&r), 4u);
    }
    cell s = T("1.2.3");
    EXPECT_EQ(actions::random_typed(&s, true, false, false)->type(), T_unset);
    cell c = T("0.255.15");
    EXPECT_EQ(mold(*actions::complement_typed(&c)), "255.0.240");
    EXPECT_EQ(c.w2, 0u);
    cell five = T("1.2.3.4.5");
    EXPECT_EQ(actions::length_q_typed(&five), 5);
}

TEST_F(TupleTest, LiteralsLoadAndMoldBack) {
    for (const char* t : {"1.2.3", "255.0.0.128", "0.0.0", "1.2.3.4.5.6.7.8.9.10.11.12"}) {
        cell v = load(t);
        ASSERT_EQ(v.type(), T_tuple) << t;
        EXPECT_EQ(mold(v), t);
        EXPECT_EQ(form(v), t);
    }
    cell v = load("255.0.0.128");
    EXPECT_EQ(v.header, 0x200027u);
    EXPECT_EQ(load("1.2.3").header, 0x180027u);
    EXPECT_EQ(mold(load("001.02.3")), "1.2.3");
    for (const char* t : {"1.2.256", "1..2", "1.2", "1.2.3.", ".1.2.3", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1.2.-3",
                          "1.2.3x", "", "1.2.99999999999"}) {
        EXPECT_EQ(load(t).type(), T_unset) << t;
    }
    cell pushed = *tuple::push(4, 0x04030201, 0, 0);
    EXPECT_EQ(mold(pushed), "1.2.3.4");
    const int32_t ints[] = {257, 2};
    EXPECT_EQ(mold(*tuple::push_from_integers(2, ints)), "1.2.0");
}

// }==
// {== triple!

TEST_F(TripleTest, FormsAsItsConstruction) {
    cell t = triple::make_value(1, -2, 3);
    cell out;
    string::make_at(&out, 16);
    EXPECT_EQ(actions::form_typed(&t, &out, nullptr, 100), 100 - 21);
    EXPECT_EQ(string::to_std(&out), "make triple! [1 -2 3]");
    cell m;
    string::make_at(&m, 16);
    cell low = triple::make_value(-2147483647 - 1, 0, 2147483647);
    actions::mold_typed(&low, &m, false, false, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(string::to_std(&m), "make triple! [-2147483648 0 2147483647]");
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [&] {
        cell proto = datatype::make_value(T_triple), spec = I(1);
        actions::make_typed(&proto, &spec);
    }));
}

// }==

} // namespace
