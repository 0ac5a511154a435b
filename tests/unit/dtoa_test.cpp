// tests/unit/dtoa_test.cpp: number-text conversion: digits, printed layout, correctly rounded reading.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "runtime/dtoa.h"

using namespace zyl;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

uint64_t bits_of(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double from_bits(uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

struct read_result {
    double value;
    std::size_t unconsumed;
};

// Reads [text] from a heap copy of exactly its size, so the sanitizer catches any read past it.
read_result read(std::string_view text, int extra = 0) {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    std::size_t unconsumed = 12345;
    double v = dtoa::strtod(copy.get(), copy.get() + text.size(), extra, unconsumed);
    return {v, unconsumed};
}

// Digits and exponent of [v] to [n] significant digits as the C library prints them.
std::pair<std::string, int> printf_digits(double v, int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", n - 1, std::fabs(v));
    std::string digits;
    const char* p = buf;
    for (; *p != 'e'; p++) {
        if (*p != '.') digits += *p;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return {digits, std::atoi(p + 1) + 1};
}

} // namespace

// {== Layout

struct layout_case {
    double value;
    int precision;
    bool point;
    const char* text;
};

const layout_case layout_cases[] = {
    // Shortest digits with and without the point flag.
    {0.1, 0, true, "0.1"},
    {100.0, 0, true, "100.0"},
    {100.0, 0, false, "100"},
    {12.5, 0, true, "12.5"},
    {-12.5, 0, true, "-12.5"},
    {1.0, 0, true, "1.0"},
    {-1.0, 0, false, "-1"},
    {0.001, 0, true, "0.001"},
    {-0.001, 0, true, "-0.001"},
    // Scientific form from decimal exponent 18 up and below -6.
    {1e16, 0, true, "10000000000000000.0"},
    {1e16, 0, false, "10000000000000000"},
    {1e17, 0, true, "1.0e17"},
    {1e17, 0, false, "1e17"},
    {12345678901234567.0, 0, true, "12345678901234568.0"},
    {123456789012345678.0, 0, true, "1.2345678901234568e17"},
    {1.5e25, 0, true, "1.5e25"},
    {-1.5e25, 0, false, "-1.5e25"},
    {1e25, 0, true, "1.0e25"},
    {1e25, 0, false, "1e25"},
    {1e23, 0, true, "1.0e23"},
    {1e-7, 0, true, "0.0000001"},
    {1.5e-7, 0, true, "0.00000015"},
    {1e-8, 0, true, "1.0e-8"},
    {1e-8, 0, false, "1e-8"},
    {-1.5e-8, 0, true, "-1.5e-8"},
    // Extremes.
    {5e-324, 0, true, "5.0e-324"},
    {2.5e-320, 0, true, "2.5e-320"},
    {DBL_MIN, 0, true, "2.2250738585072014e-308"},
    {DBL_MAX, 0, true, "1.7976931348623157e308"},
    {-DBL_MAX, 0, false, "-1.7976931348623157e308"},
    // Zeros and the special values keep their texts whatever the precision.
    {0.0, 0, true, "0.0"},
    {0.0, 0, false, "0"},
    {-0.0, 0, true, "-0.0"},
    {-0.0, 6, false, "-0"},
    {INF, 0, true, "1.#INF"},
    {-INF, 6, false, "-1.#INF"},
    {NaN, 0, true, "1.#NaN"},
    {-NaN, 0, true, "1.#NaN"},
    // Precision 6, as the float formatter asks for it.
    {3.14159265358979, 6, false, "3.14159"},
    {1.0 / 3, 6, false, "0.333333"},
    {-2.0 / 3, 6, false, "-0.666667"},
    {1234567.0, 6, false, "1234570"},
    {1234567.0, 6, true, "1234570.0"},
    {999999.5, 6, false, "1000000"},
    {0.1, 6, false, "0.1"},
    {1e-7, 6, false, "0.0000001"},
    {1.5e25, 6, false, "1.5e25"},
    {1.23456789e18, 6, false, "1.23457e18"},
    {1.23456789e-9, 6, true, "1.23457e-9"},
    // Fixed digits round to nearest, ties to even; long requests give the exact digits.
    {0.125, 2, false, "0.12"},
    {0.375, 2, false, "0.38"},
    {2.5, 1, true, "2.0"},
    {9.5, 1, true, "10.0"},
    {0.1, 22, true, "0.1000000000000000055511"},
    {0.1, 30, true, "0.100000000000000005551115123126"},
    {0.1, 400, true, "0.100000000000000005551115123126"},
    {5e-324, 3, true, "4.94e-324"},
};

TEST(DtoaLayout, TableOfCases) {
    for (const layout_case& c : layout_cases) {
        std::string_view t = dtoa::to_text(c.value, c.precision, c.point);
        EXPECT_EQ(t, c.text) << "value " << c.value << " precision " << c.precision << " point "
                             << c.point;
        EXPECT_EQ(t.data()[t.size()], '\0') << c.text;
    }
}

// }==

// {== Digits

TEST(DtoaFormat, DigitsExponentAndSign) {
    dtoa::decimal d = dtoa::format(0.1, 0, true);
    EXPECT_STREQ(d.text, "1");
    EXPECT_EQ(d.count, 1);
    EXPECT_EQ(d.exponent, 0);
    EXPECT_FALSE(d.negative);

    d = dtoa::format(-12.5, 0, false);
    EXPECT_STREQ(d.text, "125");
    EXPECT_EQ(d.exponent, 2);
    EXPECT_TRUE(d.negative);
    EXPECT_STREQ(d.text - 1, "-125"); // the signed text is one step back

    d = dtoa::format(1200.0, 0, false);
    EXPECT_STREQ(d.text, "12");
    EXPECT_EQ(d.exponent, 4);
}

TEST(DtoaFormat, SpecialCodes) {
    struct {
        double value;
        bool point;
        int exponent;
        const char* text;
        bool negative;
    } cases[] = {
        {INF, false, dtoa::EXPONENT_SPECIAL, "1.#INF", false},
        {-INF, false, dtoa::EXPONENT_SPECIAL, "-1.#INF", true},
        {NaN, false, dtoa::EXPONENT_SPECIAL, "1.#NaN", false},
        {0.0, true, dtoa::EXPONENT_ZERO, "0.0", false},
        {-0.0, true, dtoa::EXPONENT_ZERO, "-0.0", true},
        {-0.0, false, dtoa::EXPONENT_ZERO, "-0", true},
    };
    for (const auto& c : cases) {
        dtoa::decimal d = dtoa::format(c.value, 0, c.point);
        EXPECT_EQ(d.exponent, c.exponent) << c.text;
        EXPECT_STREQ(d.text, c.text);
        EXPECT_EQ(d.count, int(std::strlen(c.text)));
        EXPECT_EQ(d.negative, c.negative) << c.text;
    }
}

// Fixed-digit output agrees with the C library's exact printing for every digit count.
TEST(DtoaFormat, FixedDigitsMatchExactPrinting) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; i++) {
        double v = from_bits(rng());
        if (!std::isfinite(v) || v == 0.0) continue;
        int n = 1 + int(rng() % dtoa::MAX_DIGITS);
        dtoa::decimal d = dtoa::format(v, n, false);
        auto [digits, exponent] = printf_digits(v, n);
        ASSERT_EQ(std::string(d.text, d.count), digits) << v << " digits " << n;
        ASSERT_EQ(d.exponent, exponent) << v << " digits " << n;
        ASSERT_EQ(d.negative, v < 0);
    }
}

// Shortest digits read back to the same double, and one digit fewer never does.
TEST(DtoaFormat, ShortestIsShortest) {
    std::mt19937_64 rng(11);
    for (int i = 0; i < 100000; i++) {
        double v = from_bits(rng());
        if (!std::isfinite(v) || v == 0.0) continue;
        dtoa::decimal d = dtoa::format(v, 0, false);
        ASSERT_NE(d.text[d.count - 1], '0');
        if (d.count == 1) continue;
        double shorter = std::strtod(dtoa::to_text(v, d.count - 1, false).data(), nullptr);
        ASSERT_NE(bits_of(shorter), bits_of(v)) << dtoa::to_text(v, 0, false);
    }
}

// }==

// {== Reading

struct read_case {
    const char* text;
    int extra;
    double value;
    std::size_t unconsumed;
};

const read_case read_cases[] = {
    {"0.1", 0, 0.1, 0},
    {"12.5", -2, 0.125, 0},
    {"50", -2, 0.5, 0},
    {"1.5", 3, 1500.0, 0},
    {"+12", 0, 12.0, 0},
    {"-12", 0, -12.0, 0},
    {"000123.4500", 0, 123.45, 0},
    {"-000.00012", 0, -0.00012, 0},
    {".5", 0, 0.5, 0},
    {"5.", 0, 5.0, 0},
    {"1e5", 0, 1e5, 0},
    {"1E+5", 0, 1e5, 0},
    {"2.5e-3", 0, 0.0025, 0},
    {"9007199254740993", 0, 9007199254740992.0, 0}, // halfway: to even
    {"1.7976931348623157e308", 0, DBL_MAX, 0},
    {"1.7976931348623159e308", 0, INF, 0},
    {"-1e400", 0, -INF, 0},
    {"4.9e-324", 0, 5e-324, 0},
    {"2.4703282292062328e-324", 0, 5e-324, 0},
    {"1e99999999999999999999999", 0, INF, 0},
    {"1e-99999999999999999999999", 0, 0.0, 0},
    {"1", 2147483647, INF, 0},
    {"1", -2147483647 - 1, 0.0, 0},
    {"1e-2147483648", 2, 0.0, 0},
    // The special texts, in either case, with an optional sign.
    {"1.#INF", 0, INF, 0},
    {"-1.#INF", 0, -INF, 0},
    {"+1.#inf", 0, INF, 0},
    {"-1.#inf", 0, -INF, 0},
    {"1.#INFx", 0, INF, 1},
    // Garbage is left unconsumed.
    {"1e", 0, 1.0, 1},
    {"1e+", 0, 1.0, 2},
    {"1ex", 0, 1.0, 2},
    {"1e5x", 0, 1e5, 1},
    {"1.2.3", 0, 1.2, 2},
    {"1.#XYZ", 0, 1.0, 4},
    {"abc", 0, 0.0, 3},
    {"-", 0, 0.0, 1},
    {".", 0, 0.0, 1},
    {"+.e5", 0, 0.0, 4},
    {"", 0, 0.0, 0},
};

TEST(DtoaRead, TableOfCases) {
    for (const read_case& c : read_cases) {
        read_result r = read(c.text, c.extra);
        EXPECT_EQ(bits_of(r.value), bits_of(c.value))
            << "\"" << c.text << "\" extra " << c.extra << " gives " << r.value;
        EXPECT_EQ(r.unconsumed, c.unconsumed) << "\"" << c.text << "\"";
    }
}

TEST(DtoaRead, SignedZerosAndNaN) {
    EXPECT_TRUE(std::signbit(read("-0").value));
    EXPECT_TRUE(std::signbit(read("-0.0e5").value));
    EXPECT_TRUE(std::signbit(read("-1e-400").value));
    EXPECT_FALSE(std::signbit(read("0").value));
    for (const char* text : {"1.#NaN", "1.#nan", "-1.#NaN", "+1.#NAN"}) {
        read_result r = read(text);
        EXPECT_TRUE(std::isnan(r.value)) << text;
        EXPECT_FALSE(std::signbit(r.value)) << text;
        EXPECT_EQ(r.unconsumed, 0u) << text;
    }
}

TEST(DtoaRead, StopsAtRangeEnd) {
    const char text[] = "12345e7";
    std::size_t unconsumed = 99;
    EXPECT_EQ(dtoa::strtod(text, text + 2, 0, unconsumed), 12.0);
    EXPECT_EQ(unconsumed, 0u);
    EXPECT_EQ(dtoa::strtod(text, text + 6, 0, unconsumed), 12345.0);
    EXPECT_EQ(unconsumed, 1u);
}

// Digits past what is kept still decide a rounding that sits exactly on a halfway point.
TEST(DtoaRead, LongDigitStrings) {
    std::string many_zeros(1000, '0');
    EXPECT_EQ(read("1" + many_zeros + "e-1000").value, 1.0);
    EXPECT_EQ(read("0." + many_zeros + "1e1001").value, 1.0);
    EXPECT_EQ(read("9007199254740993" + many_zeros + "e-1000").value, 9007199254740992.0);
    EXPECT_EQ(read("9007199254740993" + many_zeros + "1e-1001").value, 9007199254740994.0);
    EXPECT_EQ(read("12.5" + many_zeros, -2).value, 0.125);

    // Exactly half the smallest denormal rounds to zero; anything above it does not.
    std::string half =
        "2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991"
        "8180817996189898282347722858865463328355177969898199387398005390939063150356595155702263"
        "9229085839244910518443593180284993653615250031937045767824921936562366986365848075700158"
        "5769269903706311928279558551332927834338409351978015531246597263579574622766465272827220"
        "0563740064854999770965994704540208281662262378573934507363390079677619305775067401763246"
        "7360096895134053553745851666113422376667860416215968046191446729184030053005753084904876"
        "5391711386591646239524912623653881879636239373280423891018672348497668235089863388587925"
        "6283027559956575244555072551893136908362547791869486679949683240497058210285131854513962"
        "138377228261454376934125320985913276672363281250e-324";
    EXPECT_EQ(bits_of(read(half).value), bits_of(0.0));
    EXPECT_EQ(read(half.substr(0, half.size() - 5) + many_zeros + "1e-324").value, 5e-324);
}

// Agrees with the C library, value and consumed length, on random texts of number characters.
TEST(DtoaRead, MatchesCLibraryOnRandomText) {
    std::mt19937_64 rng(3);
    const char alphabet[] = "0123456789000.eE+-";
    for (int i = 0; i < 200000; i++) {
        std::string text(rng() % 24, ' ');
        for (char& c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
        char* stop = nullptr;
        double expected = std::strtod(text.c_str(), &stop);
        read_result r = read(text);
        ASSERT_EQ(bits_of(r.value), bits_of(expected)) << "\"" << text << "\"";
        ASSERT_EQ(r.unconsumed, text.size() - std::size_t(stop - text.c_str())) << text;
    }
}

// Any bytes at all: no crash, no read outside the range, a sane unconsumed count.
TEST(DtoaRead, GarbageIsSafe) {
    std::mt19937_64 rng(5);
    const char alphabet[] = "0123456789.#iInNfFaAeE+- \x80\xff";
    for (int i = 0; i < 100000; i++) {
        std::string text(rng() % 12, ' ');
        for (char& c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
        read_result r = read(text, int(rng() % 9) - 4);
        ASSERT_LE(r.unconsumed, text.size());
    }
}

// }==

// {== Round trip

TEST(DtoaRoundTrip, MillionRandomDoublesBitForBit) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 1000000; i++) {
        double v = from_bits(rng());
        if (std::isnan(v)) continue;
        std::string_view t = dtoa::to_text(v, 0, i & 1);
        read_result r = read(t);
        ASSERT_EQ(bits_of(r.value), bits_of(v)) << t;
        ASSERT_EQ(r.unconsumed, 0u) << t;
    }
}

TEST(DtoaRoundTrip, SpecialsAndExtremes) {
    for (double v : {INF, -INF, 0.0, -0.0, 5e-324, -5e-324, DBL_MIN, DBL_MAX, 1e-7, 1e-8, 1e17, 1e18}) {
        for (bool point : {false, true}) {
            read_result r = read(dtoa::to_text(v, 0, point));
            EXPECT_EQ(bits_of(r.value), bits_of(v)) << v;
            EXPECT_EQ(r.unconsumed, 0u) << v;
        }
    }
    EXPECT_TRUE(std::isnan(read(dtoa::to_text(NaN, 0, true)).value));
}

// A locale with a decimal comma changes neither the texts nor the reading.
TEST(DtoaLocale, IgnoresTheCLocale) {
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name)) {
            found = name;
            break;
        }
    }
    if (!found) GTEST_SKIP() << "no locale with a decimal comma is installed";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << found;
    std::string text(dtoa::to_text(12.5, 0, true));
    double value = read("12.5").value;
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text, "12.5");
    EXPECT_EQ(value, 12.5);
}

// }==
