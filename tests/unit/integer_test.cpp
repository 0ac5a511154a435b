// tests/unit/integer_test.cpp: integer! through its action entries: arithmetic that never
// wraps, the dispatcher over the right operand, rounding, conversions, text and comparison.
#include <cmath>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

using IntegerTest = zyl::testing::RuntimeTest;

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell char_cell(uint32_t cp) { return cell{T_char_, 0, cp, 0}; }

// Runs the direct entry of [slot] for [a]'s type on a frame holding [a] and [b]; returns cell 0.
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

cell round(cell v, const cell* scale, const char* mode = "") {
    std::string m = mode;
    auto f = actions::handler<actions::round_fn>(&v, A_round);
    f(&v, scale, m == "even", m == "down", m == "half-down", m == "floor", m == "ceiling", m == "half-ceiling");
    return v;
}

cell to(uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    datatype::action_as<actions::make_fn>(type, A_to)(&proto, &spec, type);
    return proto;
}

cell make(uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    datatype::action_as<actions::make_fn>(type, A_make)(&proto, &spec, type);
    return proto;
}

std::string form(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::handler<actions::form_fn>(&v, A_form)(&v, &out, nullptr, INT32_MAX);
    return string::to_std(&out);
}

int32_t compare(cell a, cell b, int32_t op) {
    return actions::handler<actions::compare_fn>(&a, A_compare)(&a, &b, op);
}

// A string! of ASCII [text].
cell text(const char* t) {
    cell s;
    string::make_at(&s, 16);
    string::concatenate_literal(&s, t);
    return s;
}

// A binary! of [bytes].
cell binary(std::initializer_list<uint8_t> bytes) {
    node_id n = series::alloc_bytes(16);
    uint8_t* p = series::alloc_tail_bytes(n, bytes.size());
    for (uint8_t b : bytes) *p++ = b;
    return cell{T_binary, 0, n, 0};
}

bool is_int(const cell& c, int32_t n) { return c.type() == T_integer && integer::get(&c) == n; }
bool is_float(const cell& c, double d) { return c.type() == T_float_ && float_::get(&c) == d; }

TEST_F(IntegerTest, ArithmeticBecomesFloatInsteadOfWrapping) {
    EXPECT_TRUE(is_int(math(A_add, I(2), I(3)), 5));
    EXPECT_TRUE(is_float(math(A_add, I(INT32_MAX), I(1)), 2147483648.0));
    EXPECT_TRUE(is_float(math(A_subtract, I(INT32_MIN), I(1)), -2147483649.0));
    EXPECT_TRUE(is_float(math(A_multiply, I(65536), I(65536)), 4294967296.0));
    EXPECT_TRUE(is_int(math(A_multiply, I(-65536), I(32768)), INT32_MIN));
    EXPECT_TRUE(is_float(math(A_divide, I(7), I(2)), 3.5));
    EXPECT_TRUE(is_int(math(A_divide, I(6), I(3)), 2));
    EXPECT_TRUE(is_int(math(A_divide, I(INT32_MIN), I(1)), INT32_MIN));
    EXPECT_TRUE(is_int(math(A_remainder, I(-7), I(2)), -1));
    EXPECT_TRUE(is_int(math(A_remainder, I(7), I(-2)), 1));
    EXPECT_TRUE(is_int(math(A_remainder, I(INT32_MIN), I(-1)), 0));
    EXPECT_TRUE(is_int(math(A_and_t, I(12), I(10)), 8));
    EXPECT_TRUE(is_int(math(A_or_t, I(12), I(10)), 14));
    EXPECT_TRUE(is_int(math(A_xor_t, I(12), I(10)), 6));
    EXPECT_TRUE(is_int(math(A_add, I(1), char_cell('A')), 66));
}

TEST_F(IntegerTest, MathErrorsLeaveTheResultCellAlone) {
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_divide, I(1), I(0)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_remainder, I(1), I(0)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_divide, I(INT32_MIN), I(-1)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_absolute, I(INT32_MIN), I(0)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, I(1), text("a")); }));
    // The frame's cell 0 is as it was when divide raises.
    cell* base = nullptr;
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [&] {
        cell w{T_word, 0, 99, 0}, a = I(5), b = I(0);
        stack::mark_native(&w);
        base = es.base;
        stack::push(&a);
        stack::push(&b);
        actions::handler<actions::direct_fn>(&a, A_divide)();
    }));
    EXPECT_TRUE(is_int(*base, 5));
}

TEST_F(IntegerTest, FloatOperandsGoToTheFloatArithmetic) {
    EXPECT_TRUE(is_float(math(A_add, I(1), F(2.5)), 3.5));
    cell p = math(A_add, I(1), float_::make_value(0.1, T_percent));
    EXPECT_EQ(p.type(), T_float_);
    EXPECT_DOUBLE_EQ(float_::get(&p), 1.1);
    cell t = math(A_add, I(1), float_::make_value(60, T_time));
    EXPECT_EQ(t.type(), T_time);
    EXPECT_EQ(float_::get(&t), 61.0);
    // Division by a float zero is IEEE; by an integer zero, a math error.
    EXPECT_TRUE(std::isinf(float_::get(&(t = math(A_divide, I(1), F(0.0))))));
    EXPECT_TRUE(raises(error::cat_script, error::script_cannot_use, [] { math(A_or_t, I(1), F(1.0)); }));
    // A type without arithmetic entries is an invalid operand.
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type,
                       [] { math(A_add, I(1), cell{T_image, 0, 0, 0}); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related,
                       [] { math(A_subtract, I(1), cell{T_tuple, 0, 0, 0}); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related,
                       [] { math(A_divide, I(1), cell{T_pair, 0, 1, 2}); }));
}

// A pair! stand-in: its add entry records the frame it was handed, its negate negates word 1.
cell seen_left, seen_right;
void fake_pair_add() {
    seen_left = *stack::arg(0);
    seen_right = *stack::arg(1);
}
cell* fake_pair_negate(cell* v) {
    v->w1 = 0u - v->w1;
    return v;
}

TEST_F(IntegerTest, PairOperandsAreExchangedAndSubtractNegatesFirst) {
    // Registered for this test only: the row is emptied again when it ends.
    struct fake_pair {
        fake_pair() {
            action_fn row[ACTION_SLOTS] = {};
            row[A_add - 1] = datatype::entry(&fake_pair_add);
            row[A_negate - 1] = datatype::entry(&fake_pair_negate);
            datatype::register_type(ACTION_SLOTS + 3, T_pair, 0, "pair!", row);
        }
        ~fake_pair() {
            action_fn none_row[ACTION_SLOTS] = {};
            datatype::register_type(ACTION_SLOTS + 3, T_pair, 0, "pair!", none_row);
        }
    } registered;
    math(A_add, I(5), cell{T_pair, 3, 0, 0});
    EXPECT_EQ(seen_left.type(), T_pair);
    EXPECT_TRUE(is_int(seen_right, 5));
    math(A_subtract, I(5), cell{T_pair, 3, 0, 0});
    EXPECT_EQ(int32_t(seen_left.w1), -3);
    EXPECT_TRUE(is_int(seen_right, 5));
}

TEST_F(IntegerTest, Power) {
    EXPECT_TRUE(is_int(math(A_power, I(2), I(30)), 1073741824));
    EXPECT_TRUE(is_float(math(A_power, I(2), I(31)), 2147483648.0));
    EXPECT_TRUE(is_int(math(A_power, I(65536), I(1)), 65536)); // the unused last square overflows
    EXPECT_TRUE(is_int(math(A_power, I(-3), I(3)), -27));
    EXPECT_TRUE(is_int(math(A_power, I(0), I(0)), 1));
    EXPECT_TRUE(is_float(math(A_power, I(2), I(-1)), 0.5));
    EXPECT_TRUE(is_float(math(A_power, I(4), F(0.5)), 2.0));
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [] { math(A_power, I(2), text("a")); }));
}

TEST_F(IntegerTest, RoundInEveryMode) {
    cell s2 = I(2);
    struct { int32_t n; const char* mode; int32_t scale; int32_t expect; } cases[] = {
        {5, "", 2, 6},       {5, "even", 2, 4},    {7, "even", 2, 8},       {-5, "floor", 2, -6},
        {-5, "ceiling", 2, -4}, {5, "floor", 2, 4}, {5, "ceiling", 2, 6},   {-5, "", 2, -6},
        {5, "down", 2, 4},   {-5, "down", 2, -4},  {5, "half-down", 2, 4},  {-5, "half-ceiling", 2, -4},
        {5, "half-ceiling", 2, 6}, {7, "", 3, 6},  {8, "", 3, 9},           {8, "down", 3, 6},
        {7, "", -3, 6},      {7, "", 0, 7},        {7, "", 1, 7},
        {INT32_MAX, "floor", 2, 2147483646},       {INT32_MAX, "down", 2, 2147483646},
        {INT32_MIN, "ceiling", 3, -2147483646},    {INT32_MIN, "", 2, INT32_MIN},
        {5, "", INT32_MIN, 0},
    };
    for (auto& c : cases) {
        cell scale = I(c.scale);
        EXPECT_TRUE(is_int(round(I(c.n), &scale, c.mode), c.expect)) << c.n << " " << c.mode << " " << c.scale;
    }
    EXPECT_TRUE(is_int(round(I(5), nullptr), 5));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(I(INT32_MAX), &s2); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(I(INT32_MAX), &s2, "ceiling"); }));
    cell s3 = I(3);
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(I(INT32_MIN), &s3); }));
    // A float scale rounds as a float.
    cell f2 = F(2.0);
    EXPECT_TRUE(is_float(round(I(5), &f2), 6.0));
    cell money{T_money, 0, 0, 0};
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [&] { round(I(5), &money); }));
}

TEST_F(IntegerTest, UnaryActions) {
    cell v = I(5);
    EXPECT_TRUE(is_int(*actions::handler<actions::unary_fn>(&v, A_negate)(&v), -5));
    EXPECT_TRUE(is_int(*actions::handler<actions::unary_fn>(&v, A_complement)(&v), 4));
    EXPECT_TRUE(is_int(math(A_absolute, I(-7), I(0)), 7));
    cell m = I(INT32_MIN);
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow,
                       [&] { actions::handler<actions::unary_fn>(&m, A_negate)(&m); }));
    auto even = datatype::action_as<actions::truth_fn>(T_integer, A_even_q);
    auto odd = datatype::action_as<actions::truth_fn>(T_integer, A_odd_q);
    cell a = I(-3), b = I(0);
    EXPECT_TRUE(odd(&a));
    EXPECT_FALSE(even(&a));
    EXPECT_TRUE(even(&b));
}

TEST_F(IntegerTest, Random) {
    auto random = datatype::action_as<actions::random_fn>(T_integer, A_random);
    cell v = I(5);
    EXPECT_EQ(random(&v, true, false, false)->type(), T_unset);
    v = I(0);
    EXPECT_TRUE(is_int(*random(&v, false, false, false), 0));
    for (int i = 0; i < 200; i++) {
        v = I(6);
        int32_t r = integer::get(random(&v, false, false, false));
        EXPECT_TRUE(r >= 1 && r <= 6);
        v = I(-6);
        r = integer::get(random(&v, false, i & 1, false));
        EXPECT_TRUE(r >= -6 && r <= -1);
    }
}

TEST_F(IntegerTest, ToInteger) {
    EXPECT_TRUE(is_int(to(T_integer, char_cell('A')), 65));
    EXPECT_TRUE(is_int(to(T_integer, F(2.9)), 2));
    EXPECT_TRUE(is_int(to(T_integer, F(-2.9)), -2));
    EXPECT_TRUE(is_int(to(T_integer, F(2147483647.5)), INT32_MAX));
    EXPECT_TRUE(is_int(to(T_integer, float_::make_value(90.5, T_time)), 91));
    EXPECT_TRUE(is_int(to(T_integer, float_::make_value(-1.6, T_time)), -2));
    EXPECT_TRUE(is_int(to(T_integer, binary({1, 0})), 256));
    EXPECT_TRUE(is_int(to(T_integer, binary({0xFF, 0xFF, 0xFF, 0xFE, 9})), -2));
    EXPECT_TRUE(is_int(to(T_integer, binary({})), 0));
    EXPECT_TRUE(is_int(make(T_integer, true_value), 1));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_integer, true_value); }));
    for (double d : {1e10, -2147483649.0, 2147483648.0, double(NAN), double(INFINITY)})
        EXPECT_TRUE(raises(error::cat_script, error::script_type_limit, [&] { to(T_integer, F(d)); })) << d;
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_integer, none_value); }));
}

TEST_F(IntegerTest, ToIntegerFromText) {
    struct { const char* text; int32_t value; } good[] = {
        {"0", 0}, {"42", 42}, {"+7", 7}, {"-7", -7}, {"1'000", 1000},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
    };
    for (auto& g : good) EXPECT_TRUE(is_int(to(T_integer, text(g.text)), g.value)) << g.text;
    for (const char* bad : {"", "-", "12a", "1.5", " 1", "99999999999", "2147483648", "-2147483649"})
        EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [&] { to(T_integer, text(bad)); })) << bad;
    int32_t status;
    cell t = text("99999999999");
    integer::from_text(&t, status);
    EXPECT_EQ(status, -2);
    t = text("12a");
    integer::from_text(&t, status);
    EXPECT_EQ(status, -1);
    // Reading starts at the index, whatever the unit of the buffer.
    node_id n = series::alloc_by_encoding(8, 4);
    for (uint32_t c : {U'x', U'\U0001F600', U'4', U'2'}) unicode::text::put(series::alloc_tail_bytes(n, 4), 4, c);
    EXPECT_TRUE(is_int(to(T_integer, cell{T_string, 2, n, 0}), 42));
}

TEST_F(IntegerTest, FormAndMold) {
    for (int32_t n : {0, 7, -7, 1234567890, INT32_MAX, INT32_MIN}) EXPECT_EQ(form(I(n)), std::to_string(n));
    cell out;
    string::make_at(&out, 16);
    cell v = I(-123);
    EXPECT_EQ(datatype::action_as<actions::mold_fn>(T_integer, A_mold)(&v, &out, false, false, false, nullptr, 10, 0), 6);
    EXPECT_EQ(string::to_std(&out), "-123");
}

TEST_F(IntegerTest, Compare) {
    EXPECT_EQ(compare(I(1), I(2), 3), -1);
    EXPECT_EQ(compare(I(2), I(2), 0), 0);
    EXPECT_EQ(compare(I(65), char_cell('A'), 0), 0);
    EXPECT_EQ(compare(I(65), char_cell('A'), 2), 1); // strict: another type is unequal
    EXPECT_EQ(compare(I(1), F(1.0), 0), 0);
    EXPECT_EQ(compare(I(1), F(1.0), 2), 1);
    EXPECT_EQ(compare(I(1), F(1.0), 9), 1);
    EXPECT_EQ(compare(I(1), F(1.5), 3), -1);
    EXPECT_EQ(compare(I(2), F(1.5), 5), 1);
    EXPECT_EQ(compare(I(1), text("a"), 0), -2);
    EXPECT_EQ(compare(I(1), text("a"), 12), 1);
}

} // namespace
