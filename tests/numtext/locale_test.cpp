#include "numtext/fixed.h"
#include "numtext/numtext.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

namespace {

// Restores the program's locale whatever the test's outcome.
class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

private:
    std::string previous_;
};

TEST_F(CommaLocale, ResultsDoNotFollowTheLocale) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    double value = 0.0;
    EXPECT_TRUE(ParseReal("1.5", value));
    EXPECT_EQ(value, 1.5);
    EXPECT_TRUE(ParseReal("-.25D1", value));
    EXPECT_EQ(value, -2.5);
    EXPECT_FALSE(ParseReal("1,5", value));
    EXPECT_EQ(FormatFixed5(1.5), "1.50000");
    EXPECT_EQ(FormatFixed5(-1234567.125), "-1234567.12500");
    std::string text;
    EXPECT_TRUE(FormatScaled(1234567, text, 1));
    EXPECT_EQ(text, "1234.567");
    std::uint32_t count = 0;
    EXPECT_TRUE(ParseUnsigned("1000000", count));
    EXPECT_EQ(count, 1000000u);
}

}  // namespace
