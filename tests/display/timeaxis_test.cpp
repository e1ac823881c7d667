#include "display/timeaxis.h"

#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
