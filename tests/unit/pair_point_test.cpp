// tests/unit/pair_point_test.cpp: pair!, point2D! and point3D! through their action entries
// and the number types' dispatch: arithmetic and the move to points, comparison, rounding,
// conversions, path access, text and the literals.
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

// The symbol table too: accessor words and issues name symbols.
struct PairPointTest : zyl::testing::RuntimeTest {
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

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell P(int32_t x, int32_t y) { return pair::make_value(x, y); }
cell P2(float x, float y) { return point2D::make_value(x, y); }
cell P3(float x, float y, float z) { return point3D::make_value(x, y, z); }
cell W(const char* name) { return cell{T_word, 0, symbol::make(name), 0xFFFFFFFF}; }

// [slot] of [a] and [b] through the entry of [a]'s type, on a frame of its own.
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

cell unary(uint8_t slot, cell a) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    stack::push(&a);
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

cell to(uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
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

cell round(cell v, const cell* scale, bool even = false) {
    return *actions::round_typed(&v, scale, even, false, false, false, false, false);
}

cell path(cell v, cell element, const cell* set = nullptr) {
    actions::path_step step{nullptr, nullptr, nullptr, 1, false, true, false};
    cell* r = actions::eval_path_typed(&v, &element, set, step);
    return set ? v : *r;
}

// The value of a literal, or an unset cell when the text is not one.
cell load(const std::string& t) {
    cell c = unset_value;
    if (!t.empty() && t[0] == '(') {
        if (point::load_text(t.data(), t.data() + t.size(), &c) != 0) return unset_value;
    } else if (!pair::load_text(t.data(), t.data() + t.size(), &c)) {
        return unset_value;
    }
    return c;
}

bool same(cell a, cell b) { return actions::compare_typed(&a, &b, 2) == 0 && a.type() == b.type(); }

// {== pair!

TEST_F(PairPointTest, PairArithmeticStaysIntegerOrMovesToPoints) {
    struct { uint8_t slot; cell a, b; const char* molded; } cases[] = {
        {A_add, P(3, 4), I(1), "4x5"},
        {A_multiply, P(3, 4), I(2), "6x8"},
        {A_divide, P(3, 4), I(2), "1x2"},
        {A_divide, P(-7, 7), I(2), "-3x3"},
        {A_remainder, P(7, -7), I(3), "1x-1"},
        {A_subtract, P(3, 4), P(1, 5), "2x-1"},
        {A_and_t, P(6, 7), I(3), "2x3"},
        {A_or_t, P(1, 2), I(4), "5x6"},
        {A_xor_t, P(1, 2), P(3, 3), "2x1"},
        {A_multiply, P(3, 4), F(0.5), "(1.5, 2)"},
        {A_divide, P(3, 4), F(2.0), "(1.5, 2)"},
        {A_divide, P(3, 4), F(0.0), "(1.#INF, 1.#INF)"},
        {A_add, P(3, 4), F(1.9), "4x5"},
        {A_add, P(3, 4), P2(0.5f, 0.5f), "(3.5, 4.5)"},
        {A_add, P(2147483647, 0), I(1), "(2.147484e9, 1)"},
        {A_multiply, P(65536, 1), P(65536, 1), "(4.294967e9, 1)"},
        {A_subtract, P(-2147483647 - 1, 0), F(1.5), "(-2.147484e9, -1)"},
        // A float factor beyond 32 bits is an overflow too, never a wrapped integer.
        {A_add, P(3, 4), F(1e20), "(1e20, 1e20)"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(math(c.slot, c.a, c.b)), c.molded) << c.molded;
    EXPECT_EQ(math(A_add, P(2147483647, 0), I(1)).type(), T_point2d);
}

TEST_F(PairPointTest, NumbersOnTheLeftGoThroughIntegerAndFloat) {
    EXPECT_EQ(mold(math(A_multiply, I(2), P(3, 4))), "6x8");
    EXPECT_EQ(mold(math(A_add, I(1), P(3, 4))), "4x5");
    EXPECT_EQ(mold(math(A_subtract, I(2), P(3, 4))), "-1x-2"); // integer! negates, then adds
    EXPECT_EQ(mold(math(A_subtract, I(3), P(-2147483647 - 1, 0))), "(2.147484e9, 3)");
    EXPECT_EQ(mold(math(A_multiply, F(0.5), P(3, 4))), "(1.5, 2)");
    EXPECT_EQ(mold(math(A_add, F(1.5), P(3, 4))), "4x5");
    EXPECT_EQ(mold(math(A_subtract, I(1), P2(1.5f, 2.0f))), "(-0.5, -1)");
    EXPECT_EQ(mold(math(A_multiply, F(2.5), P3(1, 2, 3))), "(2.5, 5, 7.5)");
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_divide, I(2), P(3, 4)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_subtract, F(2.0), P(3, 4)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_divide, F(2.0), P2(1, 1)); }));
}

TEST_F(PairPointTest, PairArithmeticErrors) {
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_divide, P(3, 4), I(0)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_remainder, P(3, 4), P(1, 0)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_divide, P(-2147483647 - 1, 0), I(-1)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { math(A_multiply, P(3, 4), F(NAN)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { math(A_multiply, P(3, 4), F(INFINITY)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { math(A_divide, P(3, 4), F(NAN)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { math(A_add, P(3, 4), F(INFINITY)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, P(3, 4), text("a")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_cannot_use, [] { math(A_and_t, P(3, 4), P2(1, 1)); }));
    // An error leaves the left operand as it was.
    cell* left = nullptr;
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [&] {
        cell w{T_word, 0, 99, 0}, a = P(3, 4), b = P(1, 0);
        stack::mark_native(&w);
        left = stack::push(&a);
        stack::push(&b);
        pair::do_math(MATH_DIVIDE);
    }));
    EXPECT_TRUE(same(*left, P(3, 4)));
}

TEST_F(PairPointTest, PairUnaryActions) {
    EXPECT_EQ(mold(unary(A_absolute, P(-3, 4))), "3x4");
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { unary(A_absolute, P(-2147483647 - 1, 0)); }));
    cell n = P(3, -4);
    EXPECT_EQ(mold(*actions::negate_typed(&n)), "-3x4");
    // -(-2147483648) has no pair: the exact negation as a point, never a wrapped sign.
    n = P(-2147483647 - 1, 1);
    EXPECT_EQ(mold(*actions::negate_typed(&n)), "(2.147484e9, -1)");
    cell r = P(1, 2);
    EXPECT_EQ(mold(*actions::reverse_typed(&r, nullptr, nullptr)), "2x1");
}

TEST_F(PairPointTest, PairCompareOrdersByXThenY) {
    auto cmp = [](cell a, cell b, int32_t op) { return actions::compare_typed(&a, &b, op); };
    EXPECT_EQ(cmp(P(1, 5), P(2, 0), 3), -1);
    EXPECT_EQ(cmp(P(2, 0), P(1, 5), 3), 1);
    EXPECT_EQ(cmp(P(1, 5), P(1, 6), 0), -1);
    EXPECT_EQ(cmp(P(1, 5), P(1, 5), 2), 0);
    EXPECT_EQ(cmp(P(1, 5), I(1), 0), -2);
    EXPECT_EQ(cmp(P(1, 2), P2(1.0f, 2.0f), 0), 0); // compared as a point
    EXPECT_EQ(cmp(P(1, 2), P2(1.5f, 2.0f), 3), -1);
}

TEST_F(PairPointTest, PairConversions) {
    EXPECT_EQ(mold(to(T_pair, block({F(1.9), F(-1.9)}))), "1x-1");
    EXPECT_EQ(mold(to(T_pair, block({I(1), I(2), I(3)}))), "1x2");
    EXPECT_EQ(mold(to(T_pair, text("3x4"))), "3x4");
    EXPECT_EQ(mold(to(T_pair, text(" -1X-2 "))), "-1x-2");
    EXPECT_EQ(mold(to(T_pair, I(5))), "5x5");
    EXPECT_EQ(mold(to(T_pair, F(-2.7))), "-2x-2");
    EXPECT_EQ(mold(to(T_pair, P2(1.5f, -2.5f))), "1x-2");
    EXPECT_EQ(mold(to(T_pair, P(7, 8))), "7x8");
    EXPECT_TRUE(raises(error::cat_syntax, error::syntax_malconstruct, [] { to(T_pair, block({I(1)})); }));
    EXPECT_TRUE(raises(error::cat_syntax, error::syntax_malconstruct, [] { to(T_pair, block({I(1), text("a")})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_pair, text("1.2.3")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_pair, text("3x")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_pair, P3(1, 2, 3)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { to(T_pair, P2(INFINITY, 1)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { to(T_pair, F(1e10)); }));
}

TEST_F(PairPointTest, PairRound) {
    cell two = I(2), half = F(0.5), scales = P(2, 10), money{T_money, 0, 0, 0};
    EXPECT_EQ(mold(round(P(7, -7), &two)), "8x-8");
    EXPECT_EQ(mold(round(P(5, 15), &scales)), "6x20");
    EXPECT_EQ(mold(round(P(5, 7), &two, true)), "4x8");
    EXPECT_EQ(mold(round(P(3, 4), &half)), "3x4");
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [&] { round(P(1, 2), &money); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(P(2147483647, 0), &two); }));
}

TEST_F(PairPointTest, PairRandomKeepsZerosAndSeeds) {
    for (int i = 0; i < 50; i++) {
        cell v = P(10, 0);
        cell r = *actions::random_typed(&v, false, false, false);
        EXPECT_TRUE(pair::get_x(&r) >= 1 && pair::get_x(&r) <= 10 && pair::get_y(&r) == 0);
        v = P(-5, 3);
        r = *actions::random_typed(&v, false, true, false);
        EXPECT_TRUE(pair::get_x(&r) >= -5 && pair::get_x(&r) <= -1 && pair::get_y(&r) >= 1);
    }
    cell s = P(3, 4);
    EXPECT_EQ(actions::random_typed(&s, true, false, false)->type(), T_unset);
}

TEST_F(PairPointTest, PairPathAndPick) {
    cell x = W("x"), y = W("Y"), z = W("z"), one = I(1), two = I(2), three = I(3), five = I(5);
    EXPECT_TRUE(same(path(P(3, 4), x), I(3)));
    EXPECT_TRUE(same(path(P(3, 4), y), I(4)));
    EXPECT_TRUE(same(path(P(3, 4), two), I(4)));
    EXPECT_EQ(mold(path(P(3, 4), one, &five)), "5x4");
    EXPECT_EQ(mold(path(P(3, 4), y, &five)), "3x5");
    cell half = F(0.5);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [&] { path(P(3, 4), x, &half); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] { path(P(3, 4), z); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] { path(P(3, 4), three); }));
    cell v = P(3, 4);
    EXPECT_TRUE(same(*actions::pick_typed(&v, &x), I(3)));
    v = P(3, 4);
    EXPECT_TRUE(same(*actions::pick_typed(&v, &two), I(4)));
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] {
        cell p = P(3, 4);
        actions::pick_typed(&p, &three);
    }));
    EXPECT_EQ(pair::field_index(&y), 2);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] { pair::field_index(&z); }));
}

TEST_F(PairPointTest, PairLiteralsLoadAndMoldBack) {
    for (const char* t : {"3x4", "-1x-2", "0x0", "2147483647x-2147483648", "10x20"}) {
        cell v = load(t);
        ASSERT_EQ(v.type(), T_pair) << t;
        EXPECT_EQ(mold(v), t);
    }
    EXPECT_EQ(mold(load("+1'000X2")), "1000x2");
    for (const char* t : {"1.5x2", "1x2.5", "x2", "1x", "1x2x3", "1''0x2", "1'x2", "2147483648x1", "1x-2147483649",
                          "a1x2", "1 x2"}) {
        EXPECT_EQ(load(t).type(), T_unset) << t;
    }
}

// }==
// {== point2D! and point3D!

TEST_F(PairPointTest, PointText) {
    EXPECT_EQ(form(P2(1.5f, 2.0f)), "(1.5, 2)");
    EXPECT_EQ(form(P2(0.0f, 1e-20f)), "(0, 0)");
    EXPECT_EQ(mold(P3(0.0f, -3.25f, 1e10f)), "(0, -3.25, 1e10)");
    EXPECT_EQ(mold(P2(0.1f, 1.0f / 3)), "(0.1, 0.3333333)");
    EXPECT_EQ(mold(P2(-INFINITY, NAN)), "(-1.#INF, 1.#NaN)");
}

TEST_F(PairPointTest, PointArithmetic) {
    struct { uint8_t slot; cell a, b; const char* molded; } cases[] = {
        {A_add, P2(1, 2), I(1), "(2, 3)"},
        {A_multiply, P2(1, 2), F(2.5), "(2.5, 5)"},
        {A_divide, P2(1, 2), I(0), "(1.#INF, 1.#INF)"},
        {A_divide, P2(-1, 0), F(0.0), "(-1.#INF, 1.#NaN)"},
        {A_subtract, P2(1, 2), P(1, 1), "(0, 1)"},
        {A_add, P2(1, 2), P2(0.5f, 0.25f), "(1.5, 2.25)"},
        {A_remainder, P2(5.5f, -5.5f), I(2), "(1.5, -1.5)"},
        {A_multiply, P2(1, 2), float_::make_value(0.5, T_percent), "(0.5, 1)"},
        {A_add, P3(1, 2, 3), I(1), "(2, 3, 4)"},
        {A_subtract, P3(1, 2, 3), P3(1, 1, 1), "(0, 1, 2)"},
        {A_divide, P3(1, 2, 3), F(2.0), "(0.5, 1, 1.5)"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(math(c.slot, c.a, c.b)), c.molded) << c.molded;
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, P3(1, 2, 3), P(1, 1)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, P3(1, 2, 3), P2(1, 1)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, P2(1, 2), P3(1, 1, 1)); }));
    cell n = P3(1, -2, 0);
    EXPECT_EQ(mold(*actions::negate_typed(&n)), "(-1, 2, 0)");
    EXPECT_EQ(mold(unary(A_absolute, P2(-1.5f, 2))), "(1.5, 2)");
    cell r2 = P2(1, 2), r3 = P3(1, 2, 3);
    EXPECT_EQ(mold(*actions::reverse_typed(&r2, nullptr, nullptr)), "(2, 1)");
    EXPECT_EQ(mold(*actions::reverse_typed(&r3, nullptr, nullptr)), "(3, 2, 1)");
}

TEST_F(PairPointTest, PointCompareIsTolerant) {
    auto cmp = [](cell a, cell b, int32_t op) { return actions::compare_typed(&a, &b, op); };
    // Components 10 units in the last place apart are equal, 11 apart are not.
    auto ulps = [](float f, int n) {
        for (int i = 0; i < n; i++) f = std::nextafter(f, INFINITY);
        return f;
    };
    cell direct = P2(0.1f, 0.2f);
    cell near = P2(ulps(0.1f, 10), 0.2f), far = P2(0.1f, ulps(0.2f, 11));
    EXPECT_EQ(cmp(near, direct, 0), 0);
    EXPECT_EQ(cmp(far, direct, 0), 1);
    EXPECT_EQ(cmp(far, direct, 1), 1);
    EXPECT_EQ(cmp(near, direct, 2), 1);
    EXPECT_EQ(cmp(near, direct, 9), 1);
    EXPECT_EQ(cmp(direct, direct, 9), 0);
    EXPECT_EQ(cmp(P2(0.0f, 1), P2(-0.0f, 1), 2), 0);
    EXPECT_EQ(cmp(P2(0.0f, 1), P2(-0.0f, 1), 9), 1);
    EXPECT_EQ(cmp(P2(NAN, 0), P2(NAN, 0), 0), 1);
    EXPECT_EQ(cmp(P2(1, 5), P2(2, 0), 3), -1);
    EXPECT_EQ(cmp(P2(1, 5), P2(1, 4), 3), 1);
    EXPECT_EQ(cmp(P3(1, 2, 3), P3(1, 2, 4), 3), -1);
    EXPECT_EQ(cmp(P3(1, 2, 3), P3(1, 2, 3), 5), 0);
    EXPECT_EQ(cmp(P2(1, 2), P(1, 2), 0), 0);
    EXPECT_EQ(cmp(P3(1, 2, 0), P(1, 2), 0), -2);
    EXPECT_EQ(cmp(P2(1, 2), I(1), 0), -2);
}

TEST_F(PairPointTest, PointRound) {
    cell half = F(0.5), two = I(2), pair_scale = P(1, 10), p2 = P2(0.5f, 2), p3 = P3(1, 1, 1);
    cell money{T_money, 0, 0, 0};
    EXPECT_EQ(mold(round(P2(1.26f, 3.74f), &half)), "(1.5, 3.5)");
    EXPECT_EQ(mold(round(P2(2.5f, -2.5f), nullptr)), "(3, -3)");
    EXPECT_EQ(mold(round(P2(2.5f, 3.5f), nullptr, true)), "(2, 4)");
    EXPECT_EQ(mold(round(P2(3.0f, 1e20f), &two)), "(4, 1e20)"); // an integer scale keeps floats
    EXPECT_EQ(mold(round(P2(14.0f, 14.0f), &pair_scale)), "(14, 10)");
    EXPECT_EQ(mold(round(P2(1.3f, 1.3f), &p2)), "(1.5, 2)");
    EXPECT_EQ(mold(round(P3(1.3f, 1.3f, 1.3f), &p2)), "(1.5, 2, 1.3)"); // z's scale is 0.0
    EXPECT_EQ(mold(round(P3(1.3f, 1.6f, 2.5f), &p3)), "(1, 2, 3)");
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [&] { round(P2(1, 2), &money); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [&] { round(P3(1, 2, 3), &pair_scale); }));
}

TEST_F(PairPointTest, PointConversions) {
    EXPECT_EQ(mold(to(T_point3d, P(1, 2))), "(1, 2, 0)");
    EXPECT_EQ(mold(to(T_point3d, P2(1.5f, 2))), "(1.5, 2, 0)");
    EXPECT_EQ(mold(to(T_point3d, P3(1, 2, 3))), "(1, 2, 3)");
    EXPECT_EQ(mold(to(T_point2d, block({I(1), F(2.5)}))), "(1, 2.5)");
    EXPECT_EQ(mold(to(T_point2d, I(3))), "(3, 3)");
    EXPECT_EQ(mold(to(T_point3d, F(0.5))), "(0.5, 0.5, 0.5)");
    EXPECT_EQ(mold(to(T_point2d, P(3, 4))), "(3, 4)");
    EXPECT_EQ(mold(to(T_point2d, text("(1, 2)"))), "(1, 2)");
    EXPECT_EQ(mold(to(T_point3d, text("(1.5, 2, 3)"))), "(1.5, 2, 3)");
    EXPECT_TRUE(raises(error::cat_syntax, error::syntax_malconstruct, [] { to(T_point3d, block({I(1), I(2)})); }));
    EXPECT_TRUE(raises(error::cat_syntax, error::syntax_malconstruct, [] { to(T_point2d, block({I(1), text("a")})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_point2d, text("(1, 2, 3)")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_point2d, P3(1, 2, 3)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_point2d, text("3x4")); }));
}

TEST_F(PairPointTest, PointPathPickAndRandom) {
    cell x = W("x"), z = W("z"), two = I(2), three = I(3), one_half = F(1.5), seven = I(7);
    EXPECT_TRUE(same(path(P2(1.5f, 2), x), F(1.5)));
    EXPECT_TRUE(same(path(P3(1, 2, 3), z), F(3.0)));
    EXPECT_TRUE(same(path(P3(1, 2, 3), three), F(3.0)));
    EXPECT_EQ(mold(path(P2(1, 2), two, &one_half)), "(1, 1.5)");
    EXPECT_EQ(mold(path(P3(1, 2, 3), z, &seven)), "(1, 2, 7)");
    cell s = text("a");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [&] { path(P2(1, 2), x, &s); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] { path(P2(1, 2), z); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] {
        cell p = P2(1, 2);
        actions::pick_typed(&p, &three);
    }));
    cell p = P3(1, 2, 3);
    EXPECT_TRUE(same(*actions::pick_typed(&p, &z), F(3.0)));
    EXPECT_EQ(point3D::field_index(&z), 3);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path, [&] { point2D::field_index(&z); }));
    for (int i = 0; i < 50; i++) {
        cell v = P2(10, 0);
        cell r = *actions::random_typed(&v, false, false, false);
        EXPECT_TRUE(point::get(&r, 0) >= 0 && point::get(&r, 0) <= 10 && point::get(&r, 1) == 0.0f);
    }
    cell seeded = P3(1, 2, 3);
    EXPECT_EQ(actions::random_typed(&seeded, true, false, false)->type(), T_unset);
}

TEST_F(PairPointTest, PointLiteralsLoadAndMoldBack) {
    for (const char* t : {"(1, 2)", "(1.5, 2, 3)", "(-0.5, 1e20)", "(1.#INF, 1.#NaN)", "(0, -3.25, 1e-10)"}) {
        cell v = load(t);
        ASSERT_NE(v.type(), T_unset) << t;
        EXPECT_EQ(mold(v), t);
    }
    EXPECT_EQ(load("(1.5, 2, 3)").type(), T_point3d);
    EXPECT_EQ(mold(load("( 1 ,\t2.5 )")), "(1, 2.5)");
    EXPECT_EQ(mold(load("(.5, 1., -1.#inf)")), "(0.5, 1, -1.#INF)");
    EXPECT_EQ(mold(load("(1'000, 2e3, 1.5E-3)")), "(1000, 2000, 0.0015)");
    struct { const char* text; uint8_t error; } bad[] = {
        {"(1, )", T_point2d},       {"(1)", T_point2d},     {"(, 1)", T_point2d},   {"(1, 2", T_point2d},
        {"(1, 2) ", T_point2d},     {"(1 2, 3)", T_point2d}, {"(1, 2, )", T_point3d}, {"(1, 2, 3, 4)", T_point3d},
        {"(1.#XYZ, 1)", T_point2d}, {"(1e, 2)", T_point2d}, {"(1''0, 2)", T_point2d}, {"(1, 2, a)", T_point3d},
    };
    for (auto& b : bad) {
        cell c;
        EXPECT_EQ(point::load_text(b.text, b.text + std::strlen(b.text), &c), b.error) << b.text;
    }
}

// }==

} // namespace
