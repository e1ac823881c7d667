#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <vector>

#include "settings/caption.h"

TEST(Caption, FormsOfTheCaption) {
    struct Case {
        CaptionParts parts;
        const char* expected;
    };
    const Case cases[] = {
        {{"VOS Viewer v3.3", "", "10kHz", 10000, 0xFF, "CH0", "Level-H", 0.0},
         "VOS Viewer v3.3 [ Sampling: 10kHz, 10000  Trigger: None ]"},
        {{"VOS Viewer v3.3", "", "1kHz", 5000, 2, "CH2", "Slope-Rising", 2.5},
         "VOS Viewer v3.3 [ Sampling: 1kHz, 5000  Trigger: CH2, Slope-Rising, 2.50000V ]"},
        {{"VOS Viewer v3.3", "/tmp/a.dlf", "5Hz", 3, 0xFF, "CH1", "Level-L", -1.0},
         "VOS Viewer v3.3 - /tmp/a.dlf [ Sampling: 5Hz, 3  Trigger: None ]"},
        {{"VOS Viewer v3.3", "", "10kHz", 1, 1, "CH3", "Level-L", -0.000004},
         "VOS Viewer v3.3 [ Sampling: 10kHz, 1  Trigger: CH3, Level-L, -0.00000V ]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CaptionText(c.parts), c.expected);
    }
}

TEST(Summary, StatisticsAndTexts) {
    const double one[] = {-0.25};
    double high = 99.0;
    double low = 99.0;
    EXPECT_FALSE(ComputeStatistics(one, 0, high, low));
    EXPECT_EQ(high, 99.0);
    ASSERT_TRUE(ComputeStatistics(one, 1, high, low));
    EXPECT_EQ(SummaryText(high), "-0.25000 V");
    EXPECT_EQ(SummaryText(low), "-0.25000 V");

    const double values[] = {4.9, 12.34567891, -3.0, std::numeric_limits<double>::quiet_NaN(), 0.0};
    ASSERT_TRUE(ComputeStatistics(values, 5, high, low));
    EXPECT_EQ(SummaryText(high), "12.34568 V");
    EXPECT_EQ(SummaryText(low), "-3.00000 V");
}

TEST(Summary, WideValuesShowTheirExponentAndNoNumberShowsNaN) {
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::vector<double> values;
        const char* maximum;
        const char* minimum;
    };
    const Case cases[] = {
        {{-1e300, 2.5}, "2.50000 V", "-1.00000e+300 V"},
        {{1e300, -0.5}, "1.00000e+300 V", "-0.50000 V"},
        {{NaN, NaN, NaN}, "nan V", "nan V"},
        {{NaN}, "nan V", "nan V"},
        {{NaN, 3.0, NaN}, "3.00000 V", "3.00000 V"},
        // The widest values that still show in full.
        {{9999999.99999, -999999.99999}, "9999999.99999 V", "-999999.99999 V"},
        {{10000000.0, -1000000.0}, "1.00000e+07 V", "-1.00000e+06 V"},
        {{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}, "inf V", "-inf V"},
    };
    for (const Case& c : cases) {
        double high = 0.0;
        double low = 0.0;
        ASSERT_TRUE(ComputeStatistics(c.values.data(), static_cast<std::uint32_t>(c.values.size()), high, low));
        const SummaryTexts texts = SummaryTextsOf(high, low);
        EXPECT_EQ(texts.maximum, c.maximum) << c.values.size();
        EXPECT_EQ(texts.minimum, c.minimum) << c.values.size();
    }
}

// A box that shows at most `width` characters: the Summary's own text where
// it fits, else fewer decimals, else fewer digits of the exponent form.
TEST(Summary, AValueTooWideForItsBoxShowsWithFewerDigits) {
    struct Case {
        double volts;
        std::size_t width;
        const char* expected;
    };
    const Case cases[] = {
        {4.9, 10, "4.90000 V"},
        {1000.00357, 12, "1000.00357 V"},
        {1000.00357, 11, "1000.0036 V"},
        {1000.00357, 10, "1000.004 V"},
        {-9999999.99999, 11, "-10000000 V"},
        {1e300, 11, "1.00e+300 V"},
        {-1e300, 11, "-1.0e+300 V"},
        {1e300, 3, "1e+300 V"},
        {std::numeric_limits<double>::infinity(), 1, "inf V"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FittedSummaryText(c.volts, [&](const std::string& text) { return text.size() <= c.width; }),
                  c.expected)
            << c.volts << " in " << c.width;
    }
}
