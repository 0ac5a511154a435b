// tests/unit/money_date_test.cpp: the cores of date! and money!: day counts both ways across
// negative years, weekdays and zone normalisation; the packed digit layout, the exact
// conversions and the text; the date and money literals.
#include <cstring>
#include <string>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "lexer/convert.h"
#include "lexer/loaders.h"
#include "runtime/error.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct MoneyDateTest : zyl::testing::RuntimeTest {};

// {== Day counts

TEST(DateCore, DayCountsRoundTripAcrossNegativeYearsWithFlooredDivision) {
    // Every day from year -2001 to 2401, both ways, continuous and in calendar order.
    int64_t first = date::date_to_days(-2001, 1, 1), last = date::date_to_days(2401, 12, 31);
    int64_t py = -2002;
    int32_t pm = 12, pd = 31;
    for (int64_t g = first; g <= last; g++) {
        int64_t y;
        int32_t m, d;
        date::days_to_date(g, y, m, d);
        ASSERT_EQ(date::date_to_days(y, m, d), g) << y << "-" << m << "-" << d;
        bool next_day = y == py && m == pm && d == pd + 1;
        bool next_month = y == py && m == pm + 1 && d == 1 && pd == date::month_days(py, pm);
        bool next_year = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
        ASSERT_TRUE(next_day || next_month || next_year) << y << "-" << m << "-" << d;
        py = y, pm = m, pd = d;
    }
}

TEST(DateCore, KnownDaysWeekdaysAndLeapYears) {
    EXPECT_EQ(date::date_to_days(1970, 1, 1), date::EPOCH_DAYS);
    struct {
        int64_t y;
        int32_t m, d, weekday;
    } cases[] = {{1970, 1, 1, 4}, {2000, 2, 29, 2}, {2021, 1, 1, 5}, {2024, 1, 1, 1}, {0, 1, 1, 6}, {-1, 12, 31, 5}};
    for (auto& c : cases) EXPECT_EQ(date::weekday_of(date::date_to_days(c.y, c.m, c.d)), c.weekday) << c.y;
    EXPECT_TRUE(date::leap_year_q(2000) && date::leap_year_q(2024) && date::leap_year_q(0) && date::leap_year_q(-4));
    EXPECT_FALSE(date::leap_year_q(2100) || date::leap_year_q(2023) || date::leap_year_q(-1));
    // A day beyond the month runs on: 31 February is 3 March in a common year.
    EXPECT_EQ(date::date_to_days(2021, 2, 31), date::date_to_days(2021, 3, 3));
}

TEST_F(MoneyDateTest, ZoneNormalisationKeepsTheLocalTimeInTheDay) {
    // Stored UTC 02:45 in a -03:30 zone: local 23:15 on the day before.
    cell d;
    date::make_from_days(&d, date::date_to_days(2021, 1, 1), 2 * 3600 + 45 * 60, date::ZONE_NEGATIVE | 3 << 2 | 2, true);
    EXPECT_EQ(date::year_of(&d), 2020);
    EXPECT_EQ(date::day_of(&d), 31);
    EXPECT_EQ(date::time_of(&d) + date::zone_seconds(date::word_of(&d) & date::ZONE_MASK), 23 * 3600 + 15 * 60);
    EXPECT_EQ(date::to_epoch_seconds(&d), (date::date_to_days(2021, 1, 1) - date::EPOCH_DAYS) * 86400 + 9900);
    // Beyond the 15-bit year: type-limit, not a wrapped year.
    EXPECT_TRUE(raises(error::cat_script, error::script_type_limit, [] {
        cell c;
        date::make_at(&c, 16384, 1, 1, 0, 0, false);
    }));
    EXPECT_TRUE(raises(error::cat_script, error::script_type_limit, [&] { date::set_yearday(&d, 10000000); }));
}

// }==
// {== Money digits

TEST_F(MoneyDateTest, DigitsArePackedHighNibbleFirstFromPositionOne) {
    cell c;
    // 12345678901234567.89012: positions 1-22 hold 1 2 3 ... 9 0 1 2.
    money::units m = money::units(1234567890123456789ULL) * 1000 + 12;
    money::make_at(&c, true, 157, m); // 157: any index fits the byte
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&c);
    EXPECT_EQ(c.header & 0xFF, T_money);
    EXPECT_EQ(c.header & 0x4000, 0x4000u);
    EXPECT_EQ(b[4], 157);
    const uint8_t expected[11] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
    EXPECT_EQ(std::memcmp(b + 5, expected, 11), 0);
    EXPECT_TRUE(money::magnitude(&c) == m);
    // The largest amount and zero, which never keeps the sign.
    money::units largest = 1;
    for (int i = 0; i < 22; i++) largest *= 10;
    money::make_at(&c, false, 0, largest - 1);
    EXPECT_TRUE(money::magnitude(&c) == largest - 1);
    money::make_at(&c, true, 0, 0);
    EXPECT_EQ(c.header, uint32_t(T_money));
    EXPECT_EQ(money::sign_of(&c), 0);
    // Stored records: the same bytes back, a nibble above 9 refused.
    cell r;
    EXPECT_TRUE(money::make_from_bytes(&r, true, 3, expected));
    EXPECT_TRUE(money::magnitude(&r) == m && money::get_sign(&r) && money::get_currency(&r) == 3);
    uint8_t bad[11] = {0x1A};
    EXPECT_FALSE(money::make_from_bytes(&r, false, 0, bad));
}

TEST_F(MoneyDateTest, TextGroupsOnlyWhenAskedAndCutsTheFraction) {
    struct {
        money::units m;
        bool negative, grouping;
        int32_t fraction;
        const char* text;
    } cases[] = {
        {123456, false, false, 2, "$1.23"},       {123456, false, false, 5, "$1.23456"},
        {123456700000, false, true, 2, "$1'234'567.00"}, {12345, false, true, 0, "$0"},
        {1250000, true, false, 2, "-$12.50"},     {money::units(99999999999999999ULL) * 100000 + 99999, false, true, 5,
                                                   "$99'999'999'999'999'999.99999"},
    };
    for (auto& c : cases) {
        cell v;
        money::make_at(&v, c.negative, 0, c.m);
        char out[48];
        int32_t n = money::to_text(&v, out, c.grouping, c.fraction);
        EXPECT_EQ(std::string(out, size_t(n)), c.text);
    }
}

TEST_F(MoneyDateTest, FloatsConvertByTheirShortestDigits) {
    cell c = money::from_float(0.1, true);
    EXPECT_TRUE(money::magnitude(&c) == 10000);
    c = money::from_float(-1e16, true);
    EXPECT_TRUE(money::magnitude(&c) == money::units(10000000000000000ULL) * 100000 && money::get_sign(&c));
    c = money::from_float(1.234567, false); // arithmetic truncates the sixth digit
    EXPECT_TRUE(money::magnitude(&c) == 123456);
    for (double bad : {1.234567, 1e17, 1e-6, 1.0 / 0.0}) {
        EXPECT_TRUE(raises(error::cat_script, error::script_bad_make_arg, [&] { money::from_float(bad, true); })) << bad;
    }
    money::make_at(&c, false, 0, 150000);
    EXPECT_EQ(money::to_float(&c), 1.5);
    c = money::from_integer(-2147483647 - 1);
    EXPECT_EQ(money::to_integer(&c), -2147483647 - 1);
    money::make_at(&c, false, 0, money::units(2147483648ULL) * 100000);
    EXPECT_TRUE(raises(error::cat_script, error::script_type_limit, [&] { money::to_integer(&c); }));
}

TEST_F(MoneyDateTest, TheCurrencyListStartsWithItsHundredAndSeventyCodes) {
    EXPECT_EQ(money::START_CURRENCY_COUNT, 170u);
    EXPECT_EQ(money::find_currency_text("AED"), 1);
    EXPECT_EQ(money::find_currency_text("zyl"), 123);
    EXPECT_EQ(money::find_currency_text("ZMW"), 170);
    EXPECT_EQ(money::find_currency_text("XYZ"), -1);
    char code[4];
    int32_t usd = money::find_currency_text("usd");
    EXPECT_TRUE(money::currency_code(uint32_t(usd), code));
    EXPECT_STREQ(code, "USD");
    EXPECT_FALSE(money::currency_code(171, code));
}

// }==
// {== Literals

TEST_F(MoneyDateTest, DateTextsOfEveryFormAndTheirValidity) {
    struct {
        const char* text;
        int64_t year; // 0 with month 0: invalid
        int32_t month, day;
    } cases[] = {
        {"1-Jan-2000", 2000, 1, 1},  {"2000-01-01", 2000, 1, 1}, {"1/1/2000", 2000, 1, 1},
        {"2000-W01-1", 2000, 1, 3}, {"2004-W53-7", 2005, 1, 2}, {"2000-032", 2000, 2, 1},
        {"20000101T1200Z", 2000, 1, 1}, {"1-1-99", 1999, 1, 1}, {"1-1-49", 2049, 1, 1},
        {"1/Jan/-0005", -5, 1, 1},  {"1-dec-2000/23:59:59.5+15:45", 2000, 12, 1},
        {"29-Feb-2001", 0, 0, 0},    {"1-13-2000", 0, 0, 0},      {"32-Jan-2000", 0, 0, 0},
        {"1-Jan-10000", 0, 0, 0},    {"1-Jan-2000/24:00", 0, 0, 0}, {"1-Jan-2000/1:60", 0, 0, 0},
        {"1-Jan-2000/1:00:60", 0, 0, 0}, {"1-Jan-2000/1:00+16", 0, 0, 0}, {"1-Jan-2000-", 0, 0, 0},
        {"1-Jan/2000", 0, 0, 0},     {"2000-W54", 0, 0, 0},       {"2000-W01-8", 0, 0, 0},
        {"1-Janu-2000x", 0, 0, 0},   {"1-Jx-2000", 0, 0, 0},      {"2001-366", 0, 0, 0},
    };
    for (auto& c : cases) {
        cell d;
        bool ok = lexer::read_date_text(reinterpret_cast<const uint8_t*>(c.text), std::strlen(c.text), &d);
        ASSERT_EQ(ok, c.month != 0) << c.text;
        if (!ok) continue;
        EXPECT_EQ(date::year_of(&d), c.year) << c.text;
        EXPECT_EQ(date::month_of(&d), c.month) << c.text;
        EXPECT_EQ(date::day_of(&d), c.day) << c.text;
    }
}

TEST_F(MoneyDateTest, TheMoneyConstructorRefusesWhatItWouldDrop) {
    struct {
        const char* amount;
        bool ok;
    } cases[] = {
        {"1", true},     {"12345678901234567", true}, {"000000000000000001", true}, {"123456789012345678", false},
        {"1.00001", true}, {"1.000001", false},
    };
    for (auto& c : cases) {
        lexer::money_parts p{};
        p.amount = c.amount;
        p.length = std::strlen(c.amount);
        const char* dot = std::strchr(c.amount, '.');
        p.point = dot ? size_t(dot - c.amount) : 0;
        cell out;
        EXPECT_EQ(lexer::make_money(&out, p), c.ok) << c.amount;
    }
    lexer::money_parts p{};
    std::memcpy(p.code, "xyz", 3);
    p.amount = "1";
    p.length = 1;
    cell out;
    EXPECT_FALSE(lexer::make_money(&out, p));
}

// }==

} // namespace
