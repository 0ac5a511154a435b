// tests/unit/float_test.cpp: float! and percent! through their action entries: the text
// formatter, tolerant equality, result typing of mixed arithmetic, rounding, conversions.
#include <cfloat>
#include <cmath>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

using FloatTest = zyl::testing::RuntimeTest;

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell P(double d) { return float_::make_value(d, T_percent); }
cell T(double d) { return float_::make_value(d, T_time); }

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

std::string form(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::handler<actions::form_fn>(&v, A_form)(&v, &out, nullptr, INT32_MAX);
    return string::to_std(&out);
}

std::string mold(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::handler<actions::mold_fn>(&v, A_mold)(&v, &out, false, false, false, nullptr, INT32_MAX, 0);
    return string::to_std(&out);
}

cell to(uint8_t type, cell spec) {
    cell proto = datatype::make_value(type);
    datatype::action_as<actions::make_fn>(type, A_to)(&proto, &spec, type);
    return proto;
}

cell round(cell v, const cell* scale, const char* mode = "") {
    std::string m = mode;
    actions::handler<actions::round_fn>(&v, A_round)(&v, scale, m == "even", m == "down", m == "half-down",
                                                      m == "floor", m == "ceiling", m == "half-ceiling");
    return v;
}

int32_t compare(cell a, cell b, int32_t op) {
    return actions::handler<actions::compare_fn>(&a, A_compare)(&a, &b, op);
}

cell text(const std::string& t) {
    cell s;
    string::make_at(&s, 16);
    string::concatenate_literal(&s, t);
    return s;
}

cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(4);
    for (const cell& v : values) *series::append_unset_cell(n) = v;
    return cell{T_block, 0, n, 0};
}

cell binary(std::initializer_list<uint8_t> bytes) {
    node_id n = series::alloc_bytes(16);
    uint8_t* p = series::alloc_tail_bytes(n, bytes.size());
    for (uint8_t b : bytes) *p++ = b;
    return cell{T_binary, 0, n, 0};
}

bool is(const cell& c, uint8_t type, double d) {
    return c.type() == type && (float_::get(&c) == d || (std::isnan(d) && std::isnan(float_::get(&c))));
}

double next_up(double d, int ulps) {
    for (int i = 0; i < ulps; i++) d = std::nextafter(d, INFINITY);
    return d;
}

struct pretty_off {
    pretty_off() { float_::pretty_print = false; }
    ~pretty_off() { float_::pretty_print = true; }
};

TEST_F(FloatTest, FormText) {
    struct { double value; const char* text; } cases[] = {
        {0.1 + 0.2, "0.3"}, {1e20, "1.0e20"}, {1e-5, "1.0e-5"}, {42.0, "42.0"}, {-2.5, "-2.5"},
        {0.1 + 0.7, "0.8"}, {1e15, "1000000000000000.0"}, {1e16, "1.0e16"}, {1.5e-7, "1.5e-7"},
        {1e100, "1.0e100"}, {-1.5e300, "-1.5e300"}, {123.456, "123.456"}, {1e-17, "0.0"},
        {-0.0, "0.0"}, {1.0 / 3, "0.3333333333333333"}, {2.0 / 3, "0.6666666666666666"},
        {INFINITY, "1.#INF"}, {-INFINITY, "-1.#INF"}, {NAN, "1.#NaN"},
    };
    for (auto& c : cases) EXPECT_EQ(form(F(c.value)), c.text) << c.value;
    EXPECT_EQ(form(P(0.5)), "50%");
    EXPECT_EQ(form(P(0.005)), "0.5%");
    EXPECT_EQ(form(P(0.12345)), "12.345%");
    EXPECT_EQ(form(P(1e-19)), "0%");
    EXPECT_EQ(mold(P(0.5)), "50%");
    EXPECT_EQ(float_::format(1e-20, float_::KIND_POINT), "0");
    EXPECT_EQ(float_::format(2.0, float_::KIND_POINT), "2");
    EXPECT_EQ(float_::format(5.5, float_::KIND_TIME), "5.5");
    pretty_off off;
    EXPECT_EQ(form(F(1e-17)), "1.0e-17");
    EXPECT_EQ(form(P(1e-19)), "1e-17%");
    EXPECT_EQ(form(F(0.1 + 0.7)), "0.7999999999999999");
}

TEST_F(FloatTest, MoldIsTheShortestRoundTrip) {
    struct { double value; const char* text; } cases[] = {
        {0.1 + 0.2, "0.30000000000000004"}, {0.1, "0.1"}, {100.0, "100.0"}, {1e25, "1.0e25"},
        {-0.0, "-0.0"}, {1e-17, "1.0e-17"}, {INFINITY, "1.#INF"}, {NAN, "1.#NaN"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(F(c.value)), c.text) << c.value;
}

TEST_F(FloatTest, SumFormsShortAndMoldsExact) {
    cell sum = math(A_add, F(0.1), F(0.2));
    EXPECT_EQ(form(sum), "0.3");
    EXPECT_EQ(mold(sum), "0.30000000000000004");
}

TEST_F(FloatTest, DivisionByZeroIsIeee) {
    EXPECT_EQ(form(math(A_divide, F(1.0), I(0))), "1.#INF");
    EXPECT_EQ(form(math(A_divide, F(-1.0), I(0))), "-1.#INF");
    EXPECT_EQ(form(math(A_divide, F(0.0), I(0))), "1.#NaN");
    EXPECT_EQ(form(math(A_divide, F(1.0), F(0.0))), "1.#INF");
}

TEST_F(FloatTest, ResultTypeOfMixedArithmetic) {
    struct { cell a, b; uint8_t type; double value; } cases[] = {
        {I(1), F(2.5), T_float_, 3.5},     {P(0.1), I(1), T_percent, 1.1},
        {I(1), P(0.1), T_float_, 1.1},     {F(1.0), P(0.5), T_float_, 1.5},
        {P(0.1), F(1.0), T_percent, 1.1},  {P(0.25), P(0.25), T_percent, 0.5},
        {T(60), F(1.5), T_time, 61.5},     {F(1.5), T(60), T_time, 61.5},
        {P(0.5), T(60), T_time, 60.5},     {T(60), T(30), T_time, 90},
        {F(1.5), cell{T_char_, 0, 'A', 0}, T_float_, 66.5},
    };
    for (auto& c : cases) {
        cell r = math(A_add, c.a, c.b);
        EXPECT_EQ(r.type(), c.type) << datatype::name_of(c.a.type()) << " + " << datatype::name_of(c.b.type());
        EXPECT_DOUBLE_EQ(float_::get(&r), c.value);
    }
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type,
                       [] { math(A_add, P(0.5), cell{T_char_, 0, 'A', 0}); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type,
                       [] { math(A_add, F(1.0), text("a")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related,
                       [] { math(A_subtract, F(1.0), cell{T_point2d, 0, 0, 0}); }));
}

TEST_F(FloatTest, Remainder) {
    EXPECT_TRUE(is(math(A_remainder, F(5.5), I(2)), T_float_, 1.5));
    EXPECT_TRUE(is(math(A_remainder, F(-5.5), I(2)), T_float_, -1.5));
    EXPECT_TRUE(is(math(A_remainder, F(5.5), F(INFINITY)), T_float_, 5.5));
    EXPECT_TRUE(is(math(A_remainder, F(NAN), F(INFINITY)), T_float_, NAN));
    EXPECT_TRUE(is(math(A_remainder, F(INFINITY), F(INFINITY)), T_float_, NAN));
    EXPECT_TRUE(is(math(A_remainder, F(5.5), F(NAN)), T_float_, NAN));
    EXPECT_TRUE(is(math(A_remainder, T(150), I(60)), T_time, 30));
}

TEST_F(FloatTest, TolerantEquality) {
    EXPECT_TRUE(float_::almost_equal(0.1 + 0.2, 0.3));
    EXPECT_TRUE(float_::almost_equal(1.0, next_up(1.0, 10)));
    EXPECT_FALSE(float_::almost_equal(1.0, next_up(1.0, 11)));
    EXPECT_TRUE(float_::almost_equal(-1.0, next_up(-1.0, 10)));
    EXPECT_TRUE(float_::almost_equal(0.0, -0.0));
    EXPECT_TRUE(float_::almost_equal(1e-17, 0.0));
    EXPECT_FALSE(float_::almost_equal(NAN, NAN));
    EXPECT_FALSE(float_::almost_equal(1e300, INFINITY));
    EXPECT_TRUE(float_::almost_equal32(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float_::almost_equal32(1.0f, 1.001f));
    EXPECT_TRUE(float_::almost_equal32(0.0f, -0.0f));
    EXPECT_TRUE(float_::almost_equal32(FLT_MAX, INFINITY));
    EXPECT_FALSE(float_::almost_equal32(-FLT_MAX, INFINITY));
    EXPECT_FALSE(float_::almost_equal32(NAN, NAN));
}

TEST_F(FloatTest, Compare) {
    EXPECT_EQ(compare(F(0.1 + 0.2), F(0.3), 0), 0);
    EXPECT_EQ(compare(F(0.1 + 0.2), F(0.3), 2), 1);
    EXPECT_EQ(compare(F(0.0), F(-0.0), 2), 0);
    EXPECT_EQ(compare(F(0.0), F(-0.0), 9), 1);
    EXPECT_EQ(compare(F(1.0), I(1), 0), 0);
    EXPECT_EQ(compare(F(1.0), I(1), 2), 1);
    EXPECT_EQ(compare(F(1.0), P(1.0), 9), 1);
    EXPECT_EQ(compare(F(1.0), F(2.0), 3), -1);
    EXPECT_EQ(compare(T(60), I(60), 0), 0);
    EXPECT_EQ(compare(F(1.0), text("1"), 0), -2);
    for (int32_t op : {0, 1, 2}) EXPECT_NE(compare(F(NAN), F(NAN), op), 0) << op;
    EXPECT_EQ(compare(F(NAN), F(NAN), 9), 0); // same? is identity of the bits
    EXPECT_EQ(compare(F(NAN), F(1.0), 3), 1); // never lesser
    EXPECT_EQ(compare(F(NAN), F(1.0), 4), 1);
    EXPECT_EQ(compare(F(NAN), F(1.0), 5), -1); // never greater
    EXPECT_EQ(compare(F(NAN), F(1.0), 6), -1);
    EXPECT_EQ(compare(F(1.5), F(NAN), 12), 1); // a key match never finds a NaN
}

TEST_F(FloatTest, RoundInEveryMode) {
    struct { double value; const char* mode; double expect; } cases[] = {
        {2.5, "", 3.0},          {-2.5, "", -3.0},           {2.5, "even", 2.0},   {3.5, "even", 4.0},
        {2.5, "half-down", 2.0}, {-2.5, "half-ceiling", -2.0}, {2.5, "half-ceiling", 3.0},
        {-2.7, "down", -2.0},    {-2.1, "floor", -3.0},      {-2.1, "ceiling", -2.0}, {2.4, "", 2.0},
        {2.6, "", 3.0},          {2.6, "down", 2.0},         {2.1, "ceiling", 3.0},   {1e300, "", 1e300},
    };
    for (auto& c : cases) EXPECT_TRUE(is(round(F(c.value), nullptr, c.mode), T_float_, c.expect)) << c.value << c.mode;
    cell hundredth = F(0.01);
    EXPECT_TRUE(is(round(F(3.14159), &hundredth), T_float_, 3.14));
    EXPECT_TRUE(is(round(F(-3.14159), &hundredth, "floor"), T_float_, -3.15));
    cell two = I(2);
    cell r = round(F(7.3), &two);
    EXPECT_TRUE(r.type() == T_integer && integer::get(&r) == 8);
    EXPECT_TRUE(is(round(P(0.12345), nullptr), T_percent, 0.12));
    EXPECT_EQ(form(round(P(0.12345), nullptr)), "12%");
    cell one_percent = P(0.01);
    EXPECT_EQ(form(round(P(0.12345), &one_percent)), "12%");
    EXPECT_EQ(form(round(F(0.12345), &one_percent)), "12%");
    cell one = I(1), half = F(0.5);
    EXPECT_EQ(form(round(P(0.12345), &one)), "12%"); // a percent! keeps its type: 1 is 1%
    EXPECT_EQ(form(round(P(0.12345), &half)), "12.5%");
    EXPECT_TRUE(is(round(F(1.3), &half), T_float_, 1.5));
    cell zero = F(0.0);
    EXPECT_TRUE(is(round(F(0.0), &zero), T_float_, 0.0));
    EXPECT_TRUE(is(round(F(2.5), &zero), T_float_, 2.5));
    cell tiny = F(1e-310); // a subnormal scale
    cell subnormal = round(F(3e-310), &tiny);
    EXPECT_TRUE(float_::almost_equal(float_::get(&subnormal), 3e-310));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(F(1e10), &one); }));
    cell big = F(1e308);
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [&] { round(F(1.7e308), &big); }));
    cell money{T_money, 0, 0, 0};
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [&] { round(F(1.5), &money); }));
}

TEST_F(FloatTest, PowerNegateAbsoluteEvenOdd) {
    EXPECT_TRUE(is(math(A_power, F(2.0), I(3)), T_float_, 8.0));
    EXPECT_TRUE(is(math(A_power, P(0.5), I(2)), T_percent, 0.25));
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [] { math(A_power, F(2.0), P(0.5)); }));
    cell z = F(0.0);
    cell* n = actions::handler<actions::unary_fn>(&z, A_negate)(&z);
    EXPECT_FALSE(std::signbit(float_::get(n)));
    EXPECT_TRUE(is(math(A_absolute, F(-1.5), I(0)), T_float_, 1.5));
    auto odd = datatype::action_as<actions::truth_fn>(T_float_, A_odd_q);
    for (double d : {3.7, -3.7, 1.0}) { cell v = F(d); EXPECT_TRUE(odd(&v)) << d; }
    for (double d : {4.2, 0.5, 1e300, double(NAN)}) { cell v = F(d); EXPECT_FALSE(odd(&v)) << d; }
}

TEST_F(FloatTest, MakeAndTo) {
    EXPECT_TRUE(is(to(T_float_, cell{T_char_, 0, 'A', 0}), T_float_, 65.0));
    EXPECT_TRUE(is(to(T_float_, I(-3)), T_float_, -3.0));
    EXPECT_TRUE(is(to(T_float_, T(90)), T_float_, 90.0));
    EXPECT_TRUE(is(to(T_float_, P(0.5)), T_float_, 0.5));
    EXPECT_TRUE(is(to(T_percent, F(0.5)), T_percent, 0.5));
    EXPECT_TRUE(is(to(T_float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})), T_float_, 1.0));
    EXPECT_TRUE(is(to(T_float_, binary({0x3F, 0xF0})), T_float_, 0x3FF0 * 4.94065645841246544e-324));
    EXPECT_TRUE(is(to(T_float_, block({F(1.5), I(3)})), T_float_, 1500.0));
    EXPECT_TRUE(is(to(T_float_, block({I(25), F(-1.9)})), T_float_, 2.5));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_float_, block({I(1)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_float_, block({text("1"), I(1)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_float_, none_value); }));
}

TEST_F(FloatTest, MakeFromText) {
    struct { const char* text; double value; } good[] = {
        {"1.5", 1.5}, {"1,5", 1.5}, {"-0.5", -0.5}, {".5", 0.5}, {"1.", 1.0}, {"12", 12.0},
        {"1e3", 1000.0}, {"1.5E-3", 0.0015}, {"1'000.5", 1000.5}, {"+2", 2.0}, {"0.1", 0.1},
    };
    for (auto& g : good) EXPECT_TRUE(is(to(T_float_, text(g.text)), T_float_, g.value)) << g.text;
    for (const char* bad : {"", "abc", "1.2.3", "1e", "e5", ".", "-", "1''0", " 1", "1.#INF", "1,5,0"})
        EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [&] { to(T_float_, text(bad)); })) << bad;
    std::string digits(312, '1');
    EXPECT_TRUE(is(to(T_float_, text(digits)), T_float_, std::strtod(digits.c_str(), nullptr)));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [&] { to(T_float_, text(digits + "1")); }));
    EXPECT_TRUE(is(to(T_percent, text("50%")), T_percent, 0.5));
    EXPECT_TRUE(is(to(T_percent, text("12.5%")), T_percent, 0.125));
    EXPECT_TRUE(is(to(T_percent, text("0.5")), T_percent, 0.5));
    EXPECT_TRUE(is(to(T_percent, text("2")), T_percent, 2.0));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_percent, text("%")); }));
}

TEST_F(FloatTest, Random) {
    auto random = datatype::action_as<actions::random_fn>(T_float_, A_random);
    cell v = F(2.5);
    EXPECT_EQ(random(&v, true, false, false)->type(), T_unset);
    for (int i = 0; i < 200; i++) {
        v = F(10.0);
        double d = float_::get(random(&v, false, i & 1, false));
        EXPECT_TRUE(d >= 0.0 && d <= 10.0) << d;
    }
    v = P(0.5);
    EXPECT_EQ(random(&v, false, false, false)->type(), T_percent);
}

} // namespace
