// tests/unit/lexer_convert_test.cpp: the text-to-number conversions of `to` and `make`
// (integer, float, money) at every unit width, and the float form they share with the lexer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lexer/convert.h"

using namespace zyl;

namespace {

// [text] widened to [unit] bytes a character, behind two characters that the reads skip.
std::vector<uint8_t> units(std::u32string_view text, uint32_t unit) {
    std::u32string all = U"xx" + std::u32string(text);
    std::vector<uint8_t> out(all.size() * unit);
    for (size_t i = 0; i < all.size(); i++) std::memcpy(&out[i * unit], &all[i], unit); // little-endian
    return out;
}

std::u32string wide(std::string_view s) { return std::u32string(s.begin(), s.end()); }

int32_t to_int(std::string_view text, int32_t& status, uint32_t unit = 1) {
    auto u = units(wide(text), unit);
    return lexer::text_to_integer(u.data(), 2, text.size(), unit, status);
}

double to_float(std::string_view text, int32_t& status, uint32_t unit = 1) {
    auto u = units(wide(text), unit);
    return lexer::text_to_float(u.data(), 2, text.size(), unit, status);
}

TEST(LexerConvert, Integers) {
    struct {
        const char* text;
        int32_t value;
        int32_t status;
    } cases[] = {
        {"1'000", 1000, 0},        {"+7", 7, 0},           {"-7", -7, 0},          {"0", 0, 0},
        {"2147483647", INT32_MAX, 0}, {"-2147483648", INT32_MIN, 0}, {"-2'147'483'648", INT32_MIN, 0},
        {"12a", 0, -1},            {"", 0, -1},            {"-", 0, -1},           {"1.5", 0, -1},
        {"99999999999", 0, -2},    {"2147483648", 0, -2},  {"-2147483649", 0, -2},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (auto& c : cases) {
            int32_t status = 99;
            int32_t v = to_int(c.text, status, unit);
            EXPECT_EQ(status, c.status) << c.text << " unit " << unit;
            if (c.status == 0) {
                EXPECT_EQ(v, c.value) << c.text;
            }
        }
    }
    // A character beyond one byte is no digit, whatever its low byte.
    int32_t status;
    auto u = units(U"1\u0131", 2); // U+0131 has low byte 0x31, '1'
    lexer::text_to_integer(u.data(), 2, 2, 2, status);
    EXPECT_EQ(status, -1);
}

TEST(LexerConvert, Floats) {
    struct {
        const char* text;
        double value;
    } good[] = {
        {"1,5", 1.5}, {"1.5", 1.5}, {"-0.25", -0.25}, {".5", 0.5}, {"1.", 1.0}, {"1e3", 1000.0},
        {"1'000.5", 1000.5}, {"2147483648", 2147483648.0}, {"+1.5E-3", 0.0015}, {"0,1", 0.1},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (auto& g : good) {
            int32_t status = 99;
            EXPECT_EQ(to_float(g.text, status, unit), g.value) << g.text;
            EXPECT_EQ(status, 0) << g.text;
        }
    }
    for (const char* bad : {"", ".", "1.2.3", "1e", "e5", "1'", "'1", "1''0", "1x", "--1", "1,5,0", " 1"}) {
        int32_t status = 0;
        EXPECT_TRUE(std::isnan(to_float(bad, status))) << bad;
        EXPECT_EQ(status, -1) << bad;
    }
    // At most 312 characters.
    std::string longest = "1." + std::string(310, '0');
    int32_t status;
    EXPECT_EQ(to_float(longest, status), 1.0);
    EXPECT_EQ(status, 0);
    to_float(longest + "0", status);
    EXPECT_EQ(status, -1);
}

// The money! constructor stands in here: it records what it was given.
lexer::money_parts given;
std::string given_amount; // [amount] lives only during the call
bool record_money(cell* out, const lexer::money_parts& m) {
    given = m;
    given_amount.assign(m.amount, m.length);
    *out = cell{T_money, 0, 0, 0};
    return std::strcmp(m.code, "XXX") != 0; // the constructor may refuse a code
}

TEST(LexerConvert, Money) {
    auto saved = lexer::make_money;
    lexer::make_money = &record_money;
    auto run = [](std::string_view text, cell& out) {
        auto u = units(wide(text), 1);
        int32_t status = 99;
        lexer::text_to_money(u.data(), 2, text.size(), 1, status, &out);
        return status;
    };
    cell out{};
    EXPECT_EQ(run("USD$1.50", out), 0);
    EXPECT_STREQ(given.code, "USD");
    EXPECT_EQ(given_amount, "1.50");
    EXPECT_EQ(given.point, 1u);
    EXPECT_FALSE(given.negative);
    EXPECT_EQ(out.type(), T_money);
    EXPECT_EQ(run("$1.50", out), 0);
    EXPECT_STREQ(given.code, "");
    EXPECT_EQ(run("-1.50", out), 0);
    EXPECT_TRUE(given.negative);
    EXPECT_EQ(run("+EUR$1'000.25", out), 0);
    EXPECT_EQ(given_amount, "1'000.25");
    for (const char* bad : {"US$1", "USD1.50", "$'1", "$1.", "$1'.5", "$.5", "$1..5", "$1'", "$1''0", "$1.2'5",
                            "$", "", "-", "USD$", "$1x", "XXX$1"})
        EXPECT_EQ(run(bad, out), -1) << bad;
    lexer::make_money = nullptr; // no money! yet: every text fails
    EXPECT_EQ(run("$1", out), -1);
    lexer::make_money = saved;
}

TEST(LexerConvert, FloatForm) {
    for (const char* f : {"1", "-1", "+.5", "1.", "1.5e10", "1.5E+3", "1'000'000.000'1", "1,5", "1e-3"})
        EXPECT_TRUE(lexer::is_float_form(f, std::strlen(f))) << f;
    for (const char* f : {"", "+", ".", "1e", "1e+", "1.5.", "1'", "1''2", "1.'5", "e1", "1e1.5", "1 "})
        EXPECT_FALSE(lexer::is_float_form(f, std::strlen(f))) << f;
}

} // namespace
