#include "settings/settings.h"

#include "device/trigger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(TotalTimeTextTest, Durations) {
    const struct {
        std::int32_t divider;
        std::uint32_t count;
        const char* text;
    } cases[] = {
        {1, 1, "100 uS"},
        {1, 7, "700 uS"},
        {5, 3, "1.5 mS"},
        {1, 9, "900 uS"},
        {1, 10, "1 mS"},
        {1, 9999, "999.9 mS"},
        {1, 10000, "1 S"},
        {1, 12345, "1.2345 S"},
        {10000, 1, "1 S"},
        {10000, 1000000, "1000000 S"},
        {3, 1000000, "300 S"},
        {1, 0, "0 nS"},
        {-1, 1, "-100000 nS"},
        {21475, 1, "2.1475 S"},  // the period no longer fits in 32 bits
        {std::numeric_limits<std::int32_t>::max(), 1, "214748.3647 S"},
        {std::numeric_limits<std::int32_t>::max(), 4294967295u, ""},
        {std::numeric_limits<std::int32_t>::min(), 4294967295u, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TotalTimeText(c.divider, c.count), c.text)
            << "divider " << c.divider << " count " << c.count;
    }
}

TEST(ClockTableTest, BothDirections) {
    ASSERT_EQ(std::string(CLOCK_TEXTS[0]), "10kHz");
    ASSERT_EQ(std::string(CLOCK_TEXTS[12]), "1Hz");
    for (std::int32_t index = 0; index < CLOCK_ENTRY_COUNT; ++index) {
        EXPECT_EQ(ClockIndexForDivider(ClockDividerForIndex(index)), index);
    }
    const struct {
        std::int32_t index;
        std::int32_t divider;
    } byIndex[] = {{0, 1}, {3, 10}, {6, 100}, {12, 10000}, {-1, 1}, {13, 1}, {1000, 1}};
    for (const auto& c : byIndex) {
        EXPECT_EQ(ClockDividerForIndex(c.index), c.divider) << "index " << c.index;
    }
    const struct {
        std::int32_t divider;
        std::int32_t index;
    } byDivider[] = {{1, 0}, {2, 1}, {5, 2}, {1000, 9}, {10000, 12},
                     {3, 0}, {0, 0}, {-1, 0}, {9999, 0}, {20000, 0}};
    for (const auto& c : byDivider) {
        EXPECT_EQ(ClockIndexForDivider(c.divider), c.index) << "divider " << c.divider;
    }
}

TEST(CountTotalTimeTextTest, EmptyWhileCountInvalid) {
    const struct {
        const char* text;
        std::int32_t divider;
        const char* total;
    } cases[] = {{"10000", 1, "1 S"},  {"0010", 1, "1 mS"},     {"1000000", 10000, "1000000 S"},
                 {"1", 2, "200 uS"},   {"0", 1, ""},            {"", 1, ""},
                 {"1000001", 1, ""},   {"4294967296", 1, ""},   {"-5", 1, ""},
                 {"12a", 1, ""},       {"1.5", 1, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(CountTotalTimeText(c.text, c.divider), c.total) << "text \"" << c.text << "\"";
    }
}

TEST(ReadSampleCountTest, RepairsBadInput) {
    const struct {
        const char* text;
        std::int32_t committed;
        std::uint32_t value;
        bool rewrite;
    } cases[] = {
        {"10", 10000, 10, false},
        {"0010", 10000, 10, false},
        {"1", 10000, 1, false},
        {"1000000", 10000, 1000000, false},
        {"0", 10000, 10000, true},
        {"", 10000, 10000, true},
        {"1000001", 10000, 10000, true},
        {"4294967296", 500, 500, true},
        {"4294967295", 500, 500, true},
        {"abc", 500, 500, true},
        // A Stop before the trigger commits 0 samples: fall back to the default.
        {"", 0, DEFAULT_SAMPLE_COUNT, true},
        {"", -3, DEFAULT_SAMPLE_COUNT, true},
        {"", 1000001, DEFAULT_SAMPLE_COUNT, true},
        {"25", 0, 25, false},
    };
    for (const auto& c : cases) {
        const Repaired<std::uint32_t> read = ReadSampleCountValue(c.text, c.committed);
        EXPECT_EQ(read.value, c.value) << "text \"" << c.text << "\" committed " << c.committed;
        EXPECT_EQ(read.rewrite, c.rewrite) << "text \"" << c.text << "\"";
    }
}

TEST(ReadThresholdTest, RepairsBadInput) {
    const double committed = 2.25;
    const struct {
        const char* text;
        double value;
        bool rewrite;
    } cases[] = {
        {".5", 0.5, false},   {"5.", 5.0, false},    {"-.5", -0.5, false},
        {"1e-3", 0.001, false}, {"2D1", 20.0, false}, {"-12.75", -12.75, false},
        {"+1", committed, true}, {"1,5", committed, true}, {"abc", committed, true},
        {"--1", committed, true}, {"1e400", committed, true}, {"", committed, true},
    };
    for (const auto& c : cases) {
        const Repaired<double> read = ReadThresholdValue(c.text, committed);
        EXPECT_EQ(read.value, c.value) << "text \"" << c.text << "\"";
        EXPECT_EQ(read.rewrite, c.rewrite) << "text \"" << c.text << "\"";
    }
}

TEST(ReadThresholdTest, ANonFiniteCommittedValueFallsBackToZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* text;
        double committed;
        double value;
        bool rewrite;
    } cases[] = {
        {"nan", std::numeric_limits<double>::quiet_NaN(), 0.0, true},
        {"-nan", -std::numeric_limits<double>::quiet_NaN(), 0.0, true},
        {"inf", inf, 0.0, true},
        {"-inf", -inf, 0.0, true},
        {"1.5", std::numeric_limits<double>::quiet_NaN(), 1.5, false},
        {"x", std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), true},
    };
    for (const auto& c : cases) {
        const Repaired<double> read = ReadThresholdValue(c.text, c.committed);
        EXPECT_EQ(read.value, c.value) << "text \"" << c.text << "\"";
        EXPECT_EQ(read.rewrite, c.rewrite) << "text \"" << c.text << "\"";
    }
}

TEST(FormatCountTest, PlainDecimal) {
    EXPECT_EQ(FormatCount(10000), "10000");
    EXPECT_EQ(FormatCount(0), "0");
    EXPECT_EQ(FormatCount(-2147483647 - 1), "-2147483648");
}

TEST(TriggerValueTest, CheckBoxAndSelection) {
    const struct {
        bool checked;
        int selection;
        std::uint8_t type;
    } cases[] = {{false, 0, TRIGGER_NONE}, {false, 3, TRIGGER_NONE}, {true, 0, TRIGGER_LEVEL_H},
                 {true, 3, TRIGGER_SLOPE_FALLING}, {true, -1, 0xFF}, {true, 257, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(ReadTriggerTypeValue(c.checked, c.selection), c.type)
            << "checked " << c.checked << " selection " << c.selection;
    }
    EXPECT_EQ(CutTo8Bits(2), 2);
    EXPECT_EQ(CutTo8Bits(-1), 0xFF);
}

std::string Bits(const ControlStates& s) {
    const bool order[] = {s.closeItem, s.serialList, s.search, s.clock,     s.count,
                          s.spin,      s.start,      s.stop,   s.trigger,   s.triggerCh,
                          s.triggerType, s.threshold, s.open,  s.save,      s.csvCh,
                          s.csvSave,   s.displayChange};
    std::string bits;
    for (bool b : order) {
        bits.push_back(b ? '1' : '0');
    }
    return bits;
}

TEST(EnableRuleTest, EveryWindowState) {
    // Columns: close serial search clock count spin start stop trigger triggerCh
    //          triggerType threshold open save csvCh csvSave displayChange
    const struct {
        const char* state;
        bool enable, running, triggerChecked, dataValid;
        const char* bits;
    } cases[] = {
        {"idle, no data, trigger off", true, false, false, false, "11111110100010101"},
        {"idle, no data, trigger on", true, false, true, false, "11111110111110101"},
        {"idle, data, trigger off", true, false, false, true, "11111110100011111"},
        {"idle, data, trigger on", true, false, true, true, "11111110111111111"},
        {"busy", false, false, true, true, "00000000000000000"},
        {"acquiring", false, true, true, true, "00000001000000000"},
        {"acquiring, trigger off", false, true, false, false, "00000001000000000"},
        // The window enables Close again afterwards.
        {"driver missing", false, false, false, false, "00000000000000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Bits(EnableRule(c.enable, c.running, c.triggerChecked, c.dataValid)), c.bits)
            << c.state;
    }
}

}  // namespace
