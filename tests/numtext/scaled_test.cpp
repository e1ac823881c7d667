#include "numtext/numtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace {

constexpr std::int64_t INT64_LOW = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t INT64_HIGH = std::numeric_limits<std::int64_t>::max();

TEST(FormatScaledTest, Examples) {
    const struct {
        std::int64_t value;
        std::uint32_t unit;
        bool ok;
        const char* text;
    } cases[] = {
        {100000, 1, true, "100"},
        {1500000, 2, true, "1.5"},
        {1234500000, 3, true, "1.2345"},
        {5, 1, true, "0.005"},
        {0, 3, true, "0"},
        {0, 0, true, "0"},
        {-1500, 1, true, "-1.5"},
        {-5, 2, true, "-0.000005"},
        {123456, 0, true, "123456"},
        {1000, 0, true, "1000"},
        {1000, 1, true, "1"},
        {1000000000, 3, true, "1"},
        {10000000000, 3, true, "10"},
        {999, 1, true, "0.999"},
        {1001, 1, true, "1.001"},
        {-1000, 2, true, "-0.001"},
        {INT64_HIGH, 0, true, "9223372036854775807"},
        {INT64_HIGH, 3, true, "9223372036.854775807"},
        {INT64_LOW, 0, true, "-9223372036854775808"},
        {INT64_LOW, 1, true, "-9223372036854775.808"},
        {INT64_LOW, 3, true, "-9223372036.854775808"},
        {-1, 3, true, "-0.000000001"},
        {42, UNIT_NONE, false, ""},
        {-42, 4, false, "42"},
        {INT64_LOW, 4, false, "9223372036854775808"},
        {1500, 7, false, "1500"},
    };
    for (const auto& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(FormatScaled(c.value, text, c.unit), c.ok) << c.value << " unit " << c.unit;
        EXPECT_EQ(text, c.text) << c.value << " unit " << c.unit;
    }
}

// The digits are moved, not computed: reading the text back as an exact
// rational value must give the input, for values no double can hold.
TEST(FormatScaledTest, ExactForRandomValues) {
    std::mt19937_64 random(20240601);
    for (int i = 0; i < 200000; ++i) {
        const auto value = static_cast<std::int64_t>(random());
        const auto unit = static_cast<std::uint32_t>(i % 4);
        std::string text;
        ASSERT_TRUE(FormatScaled(value, text, unit));
        // Undo the scaling by hand: drop the point, pad the fraction, strip leading zeros.
        const bool negative = text.front() == '-';
        const std::size_t point = text.find('.');
        std::string digits = text.substr(negative ? 1 : 0);
        if (point != std::string::npos) {
            ASSERT_NE(text.back(), '0') << text;
            ASSERT_NE(text.back(), '.') << text;
            const std::size_t fraction = text.size() - point - 1;
            ASSERT_LE(fraction, 3 * unit) << text;
            digits.erase(digits.find('.'), 1);
            digits.append(3 * unit - fraction, '0');
        } else {
            digits.append(3 * unit, '0');
        }
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        std::string expected;
        Int64ToText(value, expected);
        ASSERT_EQ((negative ? "-" : "") + digits, expected) << "text " << text << " unit " << unit;
    }
}

TEST(Int64ToTextTest, Extremes) {
    const struct {
        std::int64_t value;
        const char* text;
    } cases[] = {{0, "0"}, {-1, "-1"}, {INT64_HIGH, "9223372036854775807"},
                 {INT64_LOW, "-9223372036854775808"}};
    for (const auto& c : cases) {
        std::string text;
        EXPECT_TRUE(Int64ToText(c.value, text));
        EXPECT_EQ(text, c.text);
    }
}

}  // namespace
