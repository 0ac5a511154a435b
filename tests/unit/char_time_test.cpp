// tests/unit/char_time_test.cpp: char! and time! through their action entries: code-point
// arithmetic and escapes; time making, text, fields and arithmetic.
#include <cmath>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "eval/actions.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

using CharTimeTest = zyl::testing::RuntimeTest;

cell I(int32_t n) { return integer::make_value(n); }
cell F(double d) { return float_::make_value(d); }
cell C(uint32_t cp) { return char_::make_value(cp); }
cell T(double s) { return float_::make_value(s, T_time); }

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

std::string mold(const cell& v, bool all = false) {
    cell out;
    string::make_at(&out, 16);
    actions::handler<actions::mold_fn>(&v, A_mold)(&v, &out, false, all, false, nullptr, INT32_MAX, 0);
    return string::to_std(&out);
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

int32_t compare(cell a, cell b, int32_t op) {
    return actions::handler<actions::compare_fn>(&a, A_compare)(&a, &b, op);
}

// A string! of [text] at [unit] bytes a character, its index at [index].
cell text(const std::u32string& t, uint32_t unit = 1, uint32_t index = 0) {
    node_id n = series::alloc_by_encoding(16, unit);
    for (char32_t c : t) unicode::text::put(series::alloc_tail_bytes(n, unit), unit, c);
    return cell{T_string, index, n, 0};
}

cell binary(std::initializer_list<uint8_t> bytes) {
    node_id n = series::alloc_bytes(16);
    uint8_t* p = series::alloc_tail_bytes(n, bytes.size());
    for (uint8_t b : bytes) *p++ = b;
    return cell{T_binary, 0, n, 0};
}

cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(4);
    for (const cell& v : values) *series::append_unset_cell(n) = v;
    return cell{T_block, 0, n, 0};
}

bool is_char(const cell& c, uint32_t cp) { return c.type() == T_char_ && c.w2 == cp; }
bool is_int(const cell& c, int32_t n) { return c.type() == T_integer && integer::get(&c) == n; }
bool is_time(const cell& c, double s) { return c.type() == T_time && float_::get(&c) == s; }

// {== char!

TEST_F(CharTimeTest, CharArithmeticStaysInRange) {
    EXPECT_TRUE(is_char(math(A_add, C('A'), I(1)), 'B'));
    EXPECT_TRUE(is_char(math(A_add, C('A'), C(1)), 'B'));
    EXPECT_TRUE(is_char(math(A_divide, C(65), I(2)), 32));
    EXPECT_TRUE(is_char(math(A_add, C('A'), F(1.9)), 'B'));
    EXPECT_TRUE(is_char(math(A_subtract, C('b'), I(32)), 'B'));
    EXPECT_TRUE(is_char(math(A_remainder, C(67), I(10)), 7));
    EXPECT_TRUE(is_char(math(A_or_t, C('A'), I(32)), 'a'));
    EXPECT_TRUE(is_char(math(A_add, C(0x10FFFE), I(1)), 0x10FFFF));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_subtract, C(0), I(1)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_add, C(0x10FFFF), I(1)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_multiply, C('A'), I(INT32_MAX)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_overflow, [] { math(A_add, C('A'), F(1e10)); }));
    EXPECT_TRUE(raises(error::cat_math, error::math_zero_divide, [] { math(A_divide, C('A'), I(0)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type,
                       [] { math(A_add, C('A'), float_::make_value(0.5, T_percent)); }));
}

TEST_F(CharTimeTest, CharInheritsFromInteger) {
    auto even = datatype::action_as<actions::truth_fn>(T_char_, A_even_q);
    cell b = C('B');
    EXPECT_TRUE(even(&b));
    EXPECT_TRUE(is_char(math(A_absolute, C('A'), I(0)), 'A'));
    auto random = datatype::action_as<actions::random_fn>(T_char_, A_random);
    cell r = C(10);
    random(&r, false, false, false);
    EXPECT_TRUE(r.type() == T_char_ && r.w2 >= 1 && r.w2 <= 10);
    EXPECT_EQ(datatype::action(T_char_, A_negate), nullptr);
}

TEST_F(CharTimeTest, MakeAndToChar) {
    EXPECT_TRUE(is_char(to(T_char_, I(65)), 'A'));
    EXPECT_TRUE(is_char(to(T_char_, F(65.9)), 'A'));
    EXPECT_TRUE(is_char(make(T_char_, I(0x10FFFF)), 0x10FFFF));
    EXPECT_TRUE(is_char(to(T_char_, text(U"abc")), 'a'));
    EXPECT_TRUE(is_char(to(T_char_, text(U"a\U0001F600", 4, 1)), 0x1F600));
    EXPECT_TRUE(is_char(to(T_char_, binary({0xC3, 0xA9, 'x'})), 0xE9));
    EXPECT_TRUE(is_char(to(T_char_, binary({'x'})), 'x'));
    for (cell bad : {I(1114112), I(-1), F(-1.0), F(1e10), F(NAN)})
        EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { to(T_char_, bad); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_char_, text(U"")); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_char_, text(U"ab", 1, 2)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_char_, binary({})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_char_, none_value); }));
    EXPECT_TRUE(raises(error::cat_access, error::access_invalid_utf8, [] { to(T_char_, binary({0xFF})); }));
    EXPECT_TRUE(raises(error::cat_access, error::access_invalid_utf8, [] { to(T_char_, binary({0xC3})); }));
}

TEST_F(CharTimeTest, CharFormAndMold) {
    EXPECT_EQ(form(C('A')), "A");
    EXPECT_EQ(form(C(0xE9)), "\u00E9");
    EXPECT_EQ(form(C(0x1F600)), "\U0001F600");
    struct { uint32_t cp; const char* text; } cases[] = {
        {'A', "#\"A\""},   {9, "#\"^-\""},      {10, "#\"^/\""},   {0, "#\"^@\""},
        {1, "#\"^A\""},    {26, "#\"^Z\""},     {27, "#\"^[\""},   {28, "#\"^\\\""},
        {29, "#\"^]\""},   {30, "#\"^(1E)\""},  {31, "#\"^_\""},   {'"', "#\"^\"\""},
        {'^', "#\"^^\""},  {127, "#\"^~\""},    {133, "#\"^(85)\""}, {0xE9, "#\"\u00E9\""},
        {'{', "#\"{\""},
    };
    for (auto& c : cases) EXPECT_EQ(mold(C(c.cp)), c.text) << c.cp;
    EXPECT_EQ(mold(C(0xE9), true), "#\"^(E9)\"");
    EXPECT_EQ(mold(C(0x1F600), true), "#\"^(1F600)\"");
    // The budget falls by what was written.
    cell out;
    string::make_at(&out, 16);
    cell tab = C(9);
    EXPECT_EQ(datatype::action_as<actions::mold_fn>(T_char_, A_mold)(&tab, &out, false, false, false, nullptr, 10, 0), 5);
}

TEST_F(CharTimeTest, CharCompare) {
    EXPECT_EQ(compare(C('A'), I(65), 0), 0);
    EXPECT_EQ(compare(C('A'), I(65), 2), 1);
    EXPECT_EQ(compare(C('A'), C('A'), 2), 0);
    EXPECT_EQ(compare(C('A'), C('B'), 3), -1);
    EXPECT_EQ(compare(C('A'), F(65.0), 0), -2);
}

// }==
// {== time!

TEST_F(CharTimeTest, TimeForm) {
    struct { double seconds; const char* text; } cases[] = {
        {0, "0:00:00"},          {3725.5, "1:02:05.5"},    {90000, "25:00:00"},
        {-30, "-0:00:30"},       {-5400, "-1:30:00"},      {1e-7, "0:00:00"},
        {59.9999999, "0:01:00"}, {3599.9999999, "1:00:00"}, {-59.9999999, "-0:01:00"},
        {5.123456789, "0:00:05.12346"}, {65.25, "0:01:05.25"}, {1e15, "277777777777:46:40"},
        {1e-6, "0:00:00.000001"}, {INFINITY, "1.#INF"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(form(T(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(mold(T(c.seconds)), c.text) << c.seconds;
    }
    EXPECT_EQ(form(T(1e20)).substr(0, 15), "277777777777777");
    cell out;
    string::make_at(&out, 16);
    EXPECT_EQ(time::form_value(3725.5, &out, 100), 91);
}

TEST_F(CharTimeTest, MakeTimeFromBlock) {
    EXPECT_EQ(form(make(T_time, block({I(-1), I(30), I(0)}))), "-1:30:00");
    EXPECT_EQ(form(make(T_time, block({I(1), I(2), I(3)}))), "1:02:03");
    EXPECT_EQ(form(make(T_time, block({I(1), I(2), F(3.5)}))), "1:02:03.5");
    EXPECT_TRUE(is_time(make(T_time, block({})), 0));
    EXPECT_TRUE(is_time(make(T_time, block({I(2)})), 7200));
    for (cell bad : {block({I(1), I(-2)}), block({I(1), I(2), I(3), I(4)}), block({F(1.5)}),
                     block({I(1), F(2.5)}), block({I(1), I(2), I(-3)}), block({none_value})})
        EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [&] { make(T_time, bad); }));
}

TEST_F(CharTimeTest, MakeTimeFromNumbersAndText) {
    EXPECT_EQ(form(to(T_time, I(90))), "0:01:30");
    EXPECT_TRUE(is_time(to(T_time, F(1.5)), 1.5));
    EXPECT_TRUE(is_time(to(T_time, T(7)), 7));
    struct { const char32_t* text; double seconds; } good[] = {
        {U"1:30", 5400}, {U"1:30.5", 90.5}, {U"-1:00", -3600}, {U"1:30:15.5", 5415.5},
        {U"1:30:15,5", 5415.5}, {U" 1:30 ", 5400}, {U"+0:01", 60}, {U"100:00:00", 360000},
    };
    for (auto& g : good) EXPECT_TRUE(is_time(to(T_time, text(g.text)), g.seconds));
    for (const char32_t* bad : {U"abc", U"1:", U"1:30:", U"1:30e5", U":30", U"1:30:15.", U"1-30", U"", U"1:3 0"})
        EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [&] { to(T_time, text(bad)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_bad_to_arg, [] { to(T_time, none_value); }));
}

TEST_F(CharTimeTest, TimeFields) {
    cell out;
    cell t = T(-5400);
    EXPECT_TRUE(is_int(*time::get_field(&t, time::FIELD_HOUR, &out), -1));
    EXPECT_TRUE(is_int(*time::get_field(&t, time::FIELD_MINUTE, &out), 30));
    cell u = T(-5430);
    time::get_field(&u, time::FIELD_SECOND, &out);
    EXPECT_TRUE(out.type() == T_float_ && float_::get(&out) == -30.0);
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { time::get_field(&t, 4, &out); }));
    // Setting a field to the value it reads leaves every time unchanged, whatever its sign.
    for (double s : {-5400.0, 5400.0, -5430.5, 3725.5, -30.0, 0.0}) {
        for (int32_t f : {1, 2, 3}) {
            cell v = T(s);
            time::get_field(&v, f, &out);
            time::set_field(&v, f, &out);
            EXPECT_EQ(float_::get(&v), s) << s << " field " << f;
        }
    }
    cell v = T(3723); // 1:02:03
    cell m = I(59);
    time::set_field(&v, time::FIELD_MINUTE, &m);
    EXPECT_EQ(form(v), "1:59:03");
    cell s = F(30.5);
    time::set_field(&v, time::FIELD_SECOND, &s);
    EXPECT_EQ(form(v), "1:59:30.5");
    v = T(5400);
    cell h = I(-1);
    time::set_field(&v, time::FIELD_HOUR, &h);
    EXPECT_EQ(form(v), "-1:30:00");
    h = I(2);
    time::set_field(&v, time::FIELD_HOUR, &h);
    EXPECT_EQ(form(v), "2:30:00");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [&] { time::set_field(&v, 1, &s); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { time::set_field(&v, 0, &h); }));
}

TEST_F(CharTimeTest, TimeArithmetic) {
    cell r = math(A_divide, T(3600), T(1800));
    EXPECT_TRUE(r.type() == T_float_ && float_::get(&r) == 2.0);
    EXPECT_TRUE(is_time(math(A_multiply, T(60), I(2)), 120));
    EXPECT_TRUE(is_time(math(A_add, T(60), F(1.5)), 61.5));
    EXPECT_TRUE(is_time(math(A_subtract, T(60), T(90)), -30));
    EXPECT_TRUE(is_time(math(A_remainder, T(150), I(60)), 30));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related, [] { math(A_multiply, T(60), T(30)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related,
                       [] { math(A_subtract, T(60), cell{T_date, 0, 0, 0}); }));
    cell d;
    date::make_at(&d, 2021, 1, 1, 0.0, 0, false);
    cell later = math(A_add, T(60), d); // date! does the sum
    EXPECT_TRUE(later.type() == T_date && date::has_time(&later) && date::time_of(&later) == 60.0);
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type, [] { math(A_add, T(60), C('A')); }));
    EXPECT_EQ(datatype::action(T_time, A_power), nullptr);
    cell n = T(60);
    EXPECT_TRUE(is_time(*actions::handler<actions::unary_fn>(&n, A_negate)(&n), -60));
    EXPECT_EQ(compare(T(60), T(60), 0), 0);
    EXPECT_EQ(compare(T(60), T(61), 3), -1);
}

TEST_F(CharTimeTest, TimeRoundAndParity) {
    auto round = datatype::action_as<actions::round_fn>(T_time, A_round);
    cell t = T(3753); // 1:02:33
    cell minute = I(60);
    round(&t, &minute, false, false, false, false, false, false);
    EXPECT_TRUE(is_time(t, 3780));
    t = T(1.5);
    round(&t, nullptr, false, false, false, false, false, false);
    EXPECT_TRUE(is_time(t, 2));
    t = T(1e10 + 31);
    round(&t, &minute, false, false, false, false, false, false);
    EXPECT_TRUE(is_time(t, 1e10 + 20)); // the nearest whole minute, past 32-bit seconds
    cell money{T_money, 0, 0, 0};
    EXPECT_TRUE(raises(error::cat_script, error::script_not_related,
                       [&] { round(&t, &money, false, false, false, false, false, false); }));
    auto even = datatype::action_as<actions::truth_fn>(T_time, A_even_q);
    auto odd = datatype::action_as<actions::truth_fn>(T_time, A_odd_q);
    cell two = T(2), sixty_one = T(61), almost_three = T(2.9999999), negative = T(-3);
    EXPECT_TRUE(even(&two));
    EXPECT_FALSE(even(&sixty_one));
    EXPECT_TRUE(odd(&almost_three));
    EXPECT_TRUE(odd(&negative));
}

// }==

} // namespace
