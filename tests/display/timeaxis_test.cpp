#include "display/timeaxis.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

// The label font's half-width cell: 6 pixels a character.
int Width(const std::string& text) { return 6 * static_cast<int>(text.size()); }

// Channel 0's plot of the window: columns 154 .. 881.
const Rect PLOT0 = [] {
    PaneLayout layout{};
    LayoutPanes(DefaultPaneGeometry(), 0, layout);
    return layout.plotRect[0];
}();

std::vector<std::uint32_t> Steps(std::uint32_t first, std::uint32_t step, std::uint32_t last) {
    std::vector<std::uint32_t> samples;
    for (std::uint32_t s = first; s <= last; s += step) {
        samples.push_back(s);
    }
    return samples;
}

TEST(TimeAxisTicks, LabelsNeverMeetAndStayInsideThePlot) {
    ASSERT_EQ(PLOT0.left, 154);
    ASSERT_EQ(PLOT0.right, 881);
    struct Case {
        const char* name;
        std::uint32_t count;
        std::int32_t divider;
        ViewRange range;  // {0, 0}: the full view
        std::vector<std::uint32_t> samples;
        std::vector<std::string> times;  // of the first ticks
    };
    const Case cases[] = {
        // The full view's own rule where its labels stand apart.
        {"10 kHz, 10,000", 10000, 1, {}, Steps(0, 1000, 9000), {"0 S", "0.1 S", "0.2 S", "0.3 S"}},
        {"1 Hz, 1,000,000", 1000000, 10000, {}, Steps(0, 100000, 900000), {"0 S", "100000 S", "200000 S"}},
        // Sample 1,000 lies in the last column: its labels end at the plot's right edge.
        {"10 kHz, 1,001", 1001, 1, {}, Steps(0, 100, 1000), {"0 mS", "10 mS", "20 mS"}},
        // Steps of 200,000 at 1 Hz ran together as "200000 S400000 S".
        {"1 Hz, 3,000,000", 3000000, 10000, {}, Steps(0, 500000, 2500000), {"0 S", "500000 S", "1000000 S"}},
        {"1 Hz, 199,999", 199999, 10000, {}, Steps(0, 20000, 180000), {"0 S", "20000 S", "40000 S"}},
        {"10 kHz, 4,000,000,000", 4000000000u, 1, {}, Steps(0, 500000000, 3500000000u), {"0 S", "50000 S"}},
        // Zoomed.
        {"10 kHz, 1,000 of 1,000,000", 1000000, 1, {12345, 1000}, Steps(12400, 100, 13300), {"1.24 S", "1.25 S"}},
        {"1 Hz, 100,000 of 3,000,000", 3000000, 10000, {1234567, 100000}, Steps(1240000, 10000, 1330000),
         {"1240000 S", "1250000 S"}},
        // A tick in the first column: its labels start at the plot's left edge.
        {"1 Hz, from 2,998,000", 3000000, 10000, {2998000, 1000}, Steps(2998000, 200, 2998800),
         {"2998000 S", "2998200 S"}},
        // A tick in the last column.
        {"1 Hz, to 2,999,000", 3000000, 10000, {2998001, 1000}, Steps(2998200, 200, 2999000),
         {"2998200 S", "2998400 S"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool zoomed = c.range.count != 0;
        const ViewRange range = zoomed ? c.range : ViewRange{0, c.count};
        const std::vector<AxisTick> ticks = TimeAxisTicks(range, c.count, c.divider, PLOT0, Width);
        std::vector<std::uint32_t> samples;
        std::vector<std::string> times;
        for (const AxisTick& tick : ticks) {
            samples.push_back(tick.sample);
            if (times.size() < c.times.size()) {
                times.push_back(tick.time);
            }
            EXPECT_EQ(tick.index, std::to_string(tick.sample));
            EXPECT_LE(tick.timeLeft + Width(tick.time), PLOT0.right + 1) << tick.time;
            EXPECT_LE(tick.indexLeft + Width(tick.index), PLOT0.right + 1) << tick.index;
            if (zoomed || tick.sample != 0) {
                EXPECT_GE(tick.timeLeft, PLOT0.left) << tick.time;
                EXPECT_GE(tick.indexLeft, PLOT0.left) << tick.index;
            }
        }
        EXPECT_EQ(samples, c.samples);
        EXPECT_EQ(times, c.times);
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            const AxisTick& a = ticks[i - 1];
            const AxisTick& b = ticks[i];
            EXPECT_GT(b.timeLeft, a.timeLeft + Width(a.time)) << a.time << " and " << b.time;
            EXPECT_GT(b.indexLeft, a.indexLeft + Width(a.index)) << a.index << " and " << b.index;
        }
    }
}

TEST(TimeAxisTicks, LabelsAreCentredOnTheirTicksAwayFromTheEdges) {
    // 10,000 samples on 728 columns: sample 1,000 in column 73, sample 0 on
    // the left edge with its labels centred there.
    const std::vector<AxisTick> ticks = TimeAxisTicks({0, 10000}, 10000, 1, PLOT0, Width);
    ASSERT_EQ(ticks.size(), 10u);
    EXPECT_EQ(ticks[0], (AxisTick{0, 154, "0 S", "0", 145, 151}));
    EXPECT_EQ(ticks[1], (AxisTick{1000, 227, "0.1 S", "1000", 212, 215}));
    // 1,001 samples: sample 1,000 in the last column, its labels held inside.
    const std::vector<AxisTick> last = TimeAxisTicks({0, 1001}, 1001, 1, PLOT0, Width);
    ASSERT_EQ(last.size(), 11u);
    EXPECT_EQ(last.back(), (AxisTick{1000, 881, "100 mS", "1000", 846, 858}));
    EXPECT_TRUE(TimeAxisTicks({0, 0}, 0, 1, PLOT0, Width).empty());
}

// 2026-12-08T02:00:00Z in microseconds since 1970.
constexpr std::int64_t NIGHT = 1796695200000000;

// The local time zone set to JST (UTC+9, no daylight saving) while it lives.
class JapanTime {
public:
    JapanTime() {
        const char* tz = std::getenv("TZ");
        m_old = tz == nullptr ? std::nullopt : std::optional<std::string>(tz);
        setenv("TZ", "JST-9", 1);
        tzset();
    }
    ~JapanTime() {
        if (m_old) {
            setenv("TZ", m_old->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

TEST(ClockLabel, TellsTheClockTimeInUtcOrLocalTime) {
    const JapanTime japan;
    struct Row {
        std::int64_t utc;
        TimeAxisClock clock;
        int decimals;
        const char* text;
    };
    const Row rows[] = {
        {NIGHT, TimeAxisClock::Utc, 0, "02:00:00"},
        {NIGHT + 123456, TimeAxisClock::Utc, 4, "02:00:00.1234"},
        {NIGHT + 999999, TimeAxisClock::Utc, 6, "02:00:00.999999"},
        {NIGHT + 999999, TimeAxisClock::Utc, 1, "02:00:00.9"},
        {NIGHT, TimeAxisClock::Local, 0, "11:00:00"},
        {NIGHT + 50399500000, TimeAxisClock::Local, 1, "00:59:59.5"},
        {NIGHT + 50399500000, TimeAxisClock::Utc, 2, "15:59:59.50"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ClockLabel(row.utc, row.clock, row.decimals), row.text) << row.utc;
    }
    const std::pair<std::int64_t, int> decimals[] = {
        {2000000000, 0}, {1000000000, 0}, {500000000, 1}, {100000000, 1}, {20000000, 2},
        {1000000, 3},    {100000, 4},     {1000, 6},      {1, 6},
    };
    for (const auto& [stepNs, expected] : decimals) {
        EXPECT_EQ(ClockLabelDecimals(stepNs), expected) << stepNs;
    }
}

TEST(TimeAxisTicks, AClockAxisLabelsEachTickWithItsSamplesClockTime) {
    const JapanTime japan;
    // 10 kHz from NIGHT; a series whose first 5,000 samples have no stamp.
    const SampleClock stamped = [](std::uint64_t s) { return std::optional(NIGHT + static_cast<std::int64_t>(s) * 100); };
    const SampleClock half = [](std::uint64_t s) {
        return s < 5000 ? std::nullopt : std::optional(NIGHT + static_cast<std::int64_t>(s) * 100);
    };
    struct Case {
        const char* name;
        ViewRange range;
        std::uint64_t count;
        TimeAxisClock clock;
        const SampleClock& utcOf;
        std::vector<std::uint32_t> samples;
        std::vector<std::string> times;
    };
    const Case cases[] = {
        {"from start", {0, 10000}, 10000, TimeAxisClock::FromStart, stamped, Steps(0, 1000, 9000),
         {"0 S", "0.1 S", "0.2 S"}},
        {"UTC", {0, 10000}, 10000, TimeAxisClock::Utc, stamped, Steps(0, 1000, 9000),
         {"02:00:00.0", "02:00:00.1", "02:00:00.2"}},
        {"local", {0, 10000}, 10000, TimeAxisClock::Local, stamped, Steps(0, 1000, 9000),
         {"11:00:00.0", "11:00:00.1", "11:00:00.2"}},
        {"half stamped", {0, 10000}, 10000, TimeAxisClock::Utc, half, Steps(0, 1000, 9000),
         {"0 S", "0.1 S", "0.2 S", "0.3 S", "0.4 S", "02:00:00.5", "02:00:00.6"}},
        // 100 samples apart the labels of 66 pixels would stand 72.8 apart: 200.
        {"UTC zoomed", {12345, 1000}, 1000000, TimeAxisClock::Utc, stamped, Steps(12400, 200, 13200),
         {"02:00:01.24", "02:00:01.26", "02:00:01.28"}},
        {"whole seconds", {0, 1000000}, 1000000, TimeAxisClock::Utc, stamped, Steps(0, 100000, 900000),
         {"02:00:00", "02:00:10", "02:00:20"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<AxisTick> ticks = TimeAxisTicks(c.range, c.count, 1, PLOT0, Width, c.clock, c.utcOf);
        std::vector<std::uint32_t> samples;
        std::vector<std::string> times;
        for (const AxisTick& tick : ticks) {
            samples.push_back(static_cast<std::uint32_t>(tick.sample));
            if (times.size() < c.times.size()) {
                times.push_back(tick.time);
            }
        }
        EXPECT_EQ(samples, c.samples);
        EXPECT_EQ(times, c.times);
    }
}

}  // namespace
