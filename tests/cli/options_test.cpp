// Option values as the command line gives them, read with the window's tables.
#include <gtest/gtest.h>

#include "cli/options.h"
#include "cli/progress.h"

namespace {

TEST(CliOptions, ClockNamesGiveTheirDividers) {
    const std::pair<const char*, std::int32_t> accepted[] = {
        {"10kHz", 1}, {"5kHz", 2}, {"2kHz", 5}, {"500Hz", 20}, {"10Hz", 1000}, {"1Hz", 10000}};
    for (const auto& [text, divider] : accepted) {
        std::int32_t value = 0;
        EXPECT_EQ(vosctl::ParseClock(text, value), "") << text;
        EXPECT_EQ(value, divider) << text;
    }
    for (const char* text : {"3kHz", "10khz", "10 kHz", "", "1"}) {
        std::int32_t value = 0;
        EXPECT_NE(vosctl::ParseClock(text, value).find("10kHz, 5kHz, 2kHz, 1kHz, 500Hz"), std::string::npos) << text;
    }
}

TEST(CliOptions, CountsFromOneToAMillion) {
    const std::pair<const char*, std::uint32_t> accepted[] = {{"1", 1}, {"007", 7}, {"1000000", 1000000}};
    for (const auto& [text, count] : accepted) {
        std::uint32_t value = 0;
        EXPECT_EQ(vosctl::ParseCount(text, value), "") << text;
        EXPECT_EQ(value, count) << text;
    }
    for (const char* text : {"0", "1000001", "-5", "+5", "1e3", "12a", "", "4294967296"}) {
        std::uint32_t value = 0;
        EXPECT_NE(vosctl::ParseCount(text, value), "") << text;
    }
}

TEST(CliOptions, TriggersNameChannelTypeAndThreshold) {
    struct Accepted {
        const char* text;
        std::uint8_t channel, type;
        double threshold;
    };
    const Accepted accepted[] = {
        {"CH0:Level-H:2.5", 0, 0, 2.5},
        {"CH1:Level-L:.5", 1, 1, 0.5},
        {"CH2:Slope-Rising:1E-3", 2, 2, 0.001},
        {"CH3:Slope-Falling:-1.25", 3, 3, -1.25},
        {"CH3:Slope-Falling:7d1", 3, 3, 70.0},
    };
    for (const Accepted& a : accepted) {
        vosctl::TriggerChoice trigger;
        EXPECT_EQ(vosctl::ParseTrigger(a.text, trigger), "") << a.text;
        EXPECT_EQ(trigger.channel, a.channel) << a.text;
        EXPECT_EQ(trigger.type, a.type) << a.text;
        EXPECT_DOUBLE_EQ(trigger.threshold, a.threshold) << a.text;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"CH4:Level-H:1", "CH0, CH1, CH2, CH3"},
        {"ch0:Level-H:1", "CH0, CH1, CH2, CH3"},
        {"CH0:Rising:1", "Level-H, Level-L, Slope-Rising, Slope-Falling"},
        {"CH0:Level-H:abc", "\"abc\""},
        {"CH0:Level-H:+1", "\"+1\""},
        {"CH0:Level-H:1:2", "\"1:2\""},
        {"CH0:Level-H:", "\"\""},
        {"CH0:Level-H", "CH:TYPE:VOLTS"},
        {"", "CH:TYPE:VOLTS"},
    };
    for (const auto& [text, named] : refused) {
        vosctl::TriggerChoice trigger;
        EXPECT_NE(vosctl::ParseTrigger(text, trigger).find(named), std::string::npos) << text;
    }
}

TEST(CliOptions, ChannelsSerialsAndOutputs) {
    const std::pair<const char*, int> channels[] = {{"CH0", 0}, {"CH3", 3}, {"ALL", 4}};
    for (const auto& [text, selection] : channels) {
        int value = -1;
        EXPECT_EQ(vosctl::ParseCsvChannel(text, value), "") << text;
        EXPECT_EQ(value, selection) << text;
    }
    for (const char* text : {"all", "CH4", "4", ""}) {
        int value = -1;
        EXPECT_NE(vosctl::ParseCsvChannel(text, value).find("CH0, CH1, CH2, CH3, ALL"), std::string::npos) << text;
    }

    std::int32_t serial = 0;
    EXPECT_EQ(vosctl::ParseSerial("16001", serial), "");
    EXPECT_EQ(serial, 16001);
    for (const char* text : {"0", "2147483647", "99999999999", "-5", "16001x", ""}) {
        EXPECT_NE(vosctl::ParseSerial(text, serial), "") << text;
    }

    const std::pair<const char*, vosctl::OutputKind> outputs[] = {
        {"-", vosctl::OutputKind::Csv}, {"run.csv", vosctl::OutputKind::Csv}, {"dir/run.dlf", vosctl::OutputKind::Dlf}};
    for (const auto& [path, kind] : outputs) {
        vosctl::OutputKind value{};
        EXPECT_EQ(vosctl::ParseOutputKind(path, value), "") << path;
        EXPECT_EQ(value, kind) << path;
    }
    for (const char* path : {"run.txt", "run", ".dlf", "run.dlf.bak", ""}) {
        vosctl::OutputKind value{};
        EXPECT_NE(vosctl::ParseOutputKind(path, value), "") << path;
    }
}

TEST(CliProgress, LineFitsTheTerminal) {
    struct Case {
        std::uint32_t stored, total;
        bool waiting;
        std::int64_t elapsed, left;
        int width;
        const char* line;
    };
    const Case cases[] = {
        {500, 1000, false, 5, 5, 80,
         "[#################------------------]  500/1000 samples  0:05 elapsed  0:05 left"},
        {0, 1000, false, 0, 100, 60, "[-----------------]  0/1000 samples  0:00 elapsed  1:40 left"},
        {20000, 20000, false, 3725, 0, 200,
         "[########################################]  20000/20000 samples  1:02:05 elapsed  0:00 left"},
        {0, 1000, true, 65, 100, 80, "waiting for trigger  1:05 elapsed"},
        {5, 10, false, 1, 1, 40, "5/10 samples  0:01 elapsed  0:01 left"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vosctl::ProgressLine(c.stored, c.total, c.waiting, c.elapsed, c.left, c.width), c.line);
    }
}

}  // namespace
