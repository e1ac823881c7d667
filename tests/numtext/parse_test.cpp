#include "numtext/numtext.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace {

struct ParseCase {
    std::string text;
    std::optional<std::uint32_t> asUnsigned;
    std::optional<double> asReal;
};

const ParseCase PARSE_CASES[] = {
    {"10000", 10000u, 10000.0},
    {"0010", 10u, 10.0},
    {"", std::nullopt, std::nullopt},
    {"0", 0u, 0.0},
    {"4294967294", 4294967294u, 4294967294.0},
    {"4294967295", std::nullopt, 4294967295.0},
    {"4294967296", std::nullopt, 4294967296.0},
    {"99999999999", std::nullopt, 99999999999.0},
    {"99999999999999999999999999", std::nullopt, 1e26},
    {"1.5", std::nullopt, 1.5},
    {".5", std::nullopt, 0.5},
    {"5.", std::nullopt, 5.0},
    {".", std::nullopt, 0.0},
    {"-.5", std::nullopt, -0.5},
    {"-3", std::nullopt, -3.0},
    {"1e3", std::nullopt, 1000.0},
    {"1E3", std::nullopt, 1000.0},
    {"1d3", std::nullopt, 1000.0},
    {"1D3", std::nullopt, 1000.0},
    {"2D1", std::nullopt, 20.0},
    {"1e-3", std::nullopt, 0.001},
    {"1.5E-2", std::nullopt, 0.015},
    {"5.E1", std::nullopt, 50.0},
    {"-.5d-1", std::nullopt, -0.05},
    {"1E", std::nullopt, std::nullopt},
    {"1E-", std::nullopt, std::nullopt},
    {"E5", std::nullopt, std::nullopt},
    {"1E2.5", std::nullopt, std::nullopt},
    {"1E+5", std::nullopt, std::nullopt},
    {"+1", std::nullopt, std::nullopt},
    {"1-2", std::nullopt, std::nullopt},
    {"1E5-", std::nullopt, std::nullopt},
    {"1E--5", std::nullopt, std::nullopt},
    {"--1", std::nullopt, std::nullopt},
    {"-", std::nullopt, std::nullopt},
    {"1..5", std::nullopt, std::nullopt},
    {"1.2.3", std::nullopt, std::nullopt},
    {"1E5E3", std::nullopt, std::nullopt},
    {"1D5E3", std::nullopt, std::nullopt},
    {"1E5D3", std::nullopt, std::nullopt},
    {"1E400", std::nullopt, std::nullopt},
    {"-1E400", std::nullopt, std::nullopt},
    {"1E99999999999999999999", std::nullopt, std::nullopt},
    {"1E-400", std::nullopt, 0.0},
    {"1E-99999999999999999999", std::nullopt, 0.0},
    {"1E-310", std::nullopt, 1e-310},
    {"1.7976931348623157E308", std::nullopt, DBL_MAX},
    {"1 000", std::nullopt, std::nullopt},
    {" 1", std::nullopt, std::nullopt},
    {"1 ", std::nullopt, std::nullopt},
    {"1,5", std::nullopt, std::nullopt},
    {"abc", std::nullopt, std::nullopt},
    {"inf", std::nullopt, std::nullopt},
    {"nan", std::nullopt, std::nullopt},
    {"0x10", std::nullopt, std::nullopt},
    {"１２", std::nullopt, std::nullopt},  // full-width digits are not digits
    {std::string("1\0" "2", 3), std::nullopt, std::nullopt},
    {"\xB1" "1", std::nullopt, std::nullopt},
};

TEST(ParseTest, EdgeCaseTable) {
    for (const ParseCase& c : PARSE_CASES) {
        SCOPED_TRACE("text \"" + c.text + "\"");
        std::uint32_t u = 0;
        EXPECT_EQ(ParseUnsigned(c.text, u), c.asUnsigned.has_value());
        if (c.asUnsigned) {
            EXPECT_EQ(u, *c.asUnsigned);
        }
        double r = 0.0;
        EXPECT_EQ(ParseReal(c.text, r), c.asReal.has_value());
        if (c.asReal) {
            EXPECT_EQ(r, *c.asReal);
        }
    }
}

TEST(ParseTest, SignOfZeroIsKept) {
    const struct {
        const char* text;
        bool negative;
    } cases[] = {{"-.E1", true}, {"-0", true}, {"-.", true}, {"-1E-400", true},
                 {"1E-400", false}, {"0E5", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double r = 1.0;
        ASSERT_TRUE(ParseReal(c.text, r));
        EXPECT_EQ(r, 0.0);
        EXPECT_EQ(std::signbit(r), c.negative);
    }
}

TEST(ParseTest, CallerTextIsNotChanged) {
    const std::string text = ".5e1";
    double r = 0.0;
    ASSERT_TRUE(ParseReal(text, r));
    EXPECT_EQ(r, 5.0);
    EXPECT_EQ(text, ".5e1");
}

TEST(NormalizeNumberTextTest, CompletesLonePoint) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{".5", "0.5"},   {"5.", "5.0"},   {"-.5", "-0.5"}, {".", "0.0"}, {"-.", "-0.0"},
                 {"", ""},        {"-", "-"},      {"12", "12"},    {"1.5", "1.5"}, {"..", "0..0"},
                 {"-5.", "-5.0"}, {"-..", "-0..0"}};
    for (const auto& c : cases) {
        std::string text = c.in;
        NormalizeNumberText(text);
        EXPECT_EQ(text, c.out) << "input \"" << c.in << "\"";
    }
}

TEST(IsNumberTextTest, Syntax) {
    const struct {
        const char* text;
        bool allowMinus;
        bool allowDot;
        bool valid;
    } cases[] = {
        {"", true, true, false},      {"0", false, false, true},    {"-1", false, false, false},
        {"-1", true, false, true},    {"1-", true, false, false},   {"--1", true, false, false},
        {"-", true, false, false},    {"1.5", false, false, false}, {"1.5", false, true, true},
        {".5", true, true, false},    {"5.", true, true, false},    {"-.5", true, true, false},
        {"-0.5", true, true, true},   {"1.2.3", true, true, false}, {"-.", true, true, false},
        {"a", true, true, false},     {"-1.5", false, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNumberText(c.text, c.allowMinus, c.allowDot), c.valid)
            << "\"" << c.text << "\" minus " << c.allowMinus << " dot " << c.allowDot;
    }
}

TEST(CharHelpersTest, CountFindAndCountAfterLast) {
    const struct {
        const char* text;
        char ch;
        std::int32_t count;
        std::int32_t first;
        std::int32_t afterLast;
    } cases[] = {{"", '.', 0, -1, -1},       {"abc", '.', 0, -1, -1}, {"1.5", '.', 1, 1, 1},
                 {"a.b.cd", '.', 2, 1, 2},   {"x.", '.', 1, 1, 0},    {"--", '-', 2, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CountChar(c.text, c.ch), c.count);
        std::int32_t position = 99;
        EXPECT_EQ(FindChar(c.text, c.ch, position), c.first >= 0);
        EXPECT_EQ(position, c.first);
        std::int32_t after = 99;
        EXPECT_EQ(CountAfterLast(c.text, c.ch, after), c.afterLast >= 0);
        EXPECT_EQ(after, c.afterLast);
    }
}

TEST(TextToUnsignedTest, SaturatesAt32Bits) {
    const struct {
        const char* text;
        bool ok;
        std::uint32_t value;
    } cases[] = {{"0", true, 0},
                 {"4294967294", true, 4294967294u},
                 {"4294967295", true, 4294967295u},
                 {"4294967296", false, 4294967295u},
                 {"18446744073709551616", false, 4294967295u},
                 {"000000000000000000000042", true, 42},
                 {"12abc", true, 12}};
    for (const auto& c : cases) {
        std::uint32_t value = 7;
        EXPECT_EQ(TextToUnsigned(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(TextToRealTest, WholeTextAndFiniteResult) {
    const struct {
        const char* text;
        bool ok;
        double value;
    } cases[] = {{"2d1", true, 20.0},    {"2D-1", true, 0.2},    {"1e308", true, 1e308},
                 {"1e309", false, 0.0},  {"1.5x", false, 0.0},   {"", false, 0.0},
                 {"inf", false, 0.0},    {"nan", false, 0.0},    {"1e-324", true, 0.0},
                 {"0.00000000001e-320", true, 0.0}, {"123456789e-400", true, 0.0},
                 {"0.0000001e315", true, 1e308}};
    for (const auto& c : cases) {
        double value = 7.0;
        EXPECT_EQ(TextToReal(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
