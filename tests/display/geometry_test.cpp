#include "display/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

TEST(VoltToY, MapsVoltsOntoRowsOfAPlotFromMinusOneToElevenVolts) {
    const Rect plot{0, 100, 10, 235};
    struct Case {
        double volts;
        std::int32_t y;
    };
    const Case cases[] = {
        {11.0, 100}, {-1.0, 235}, {0.0, 224},  {10.0, 111}, {12.3, 100},
        {-5.0, 235}, {NaN, 235},  {-NaN, 235}, {INF, 100},  {-INF, 235},
        {5.0, 168},  {-0.0, 224}, {1e300, 100}, {-1e300, 235},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VoltToY(c.volts, plot), c.y) << c.volts;
    }
}

TEST(VoltToY, ExactVoltsLandOnTheirGridRowsInBothModes) {
    const PaneGeometry g = DefaultPaneGeometry();
    for (int mode : {0, 1}) {
        PaneLayout layout{};
        LayoutPanes(g, mode, layout);
        for (int ch = 0; ch < 4; ++ch) {
            for (int k = 0; k <= 10; ++k) {
                EXPECT_EQ(layout.gridY[ch][k], VoltToY(k, layout.plotRect[ch]))
                    << "mode " << mode << " ch " << ch << " k " << k;
            }
            EXPECT_LT(layout.gridY[ch][10], layout.gridY[ch][0]);
        }
    }
}

TEST(VoltToY, DegenerateRectanglesStayDefined) {
    const Rect huge{0, std::numeric_limits<std::int32_t>::min(), 5,
                    std::numeric_limits<std::int32_t>::max()};
    EXPECT_EQ(VoltToY(NaN, huge), VoltToY(-1.0, huge));
    const Rect flat{0, 50, 10, 50};
    EXPECT_EQ(VoltToY(3.0, flat), 50);
}

TEST(SampleToColumn, NearestColumnWithSpareSlotAndEmptyRecord) {
    struct Case {
        std::uint32_t sample;
        std::int32_t columns;
        std::uint32_t count;
        std::int32_t column;
    };
    const Case cases[] = {
        {0, 729, 10000, 0},   {6, 729, 10000, 0},      {7, 729, 10000, 1},
        {9994, 729, 10000, 729}, {9993, 729, 10000, 728}, {0, 729, 3, 0},
        {1, 729, 3, 243},     {2, 729, 3, 486},        {0, 729, 729, 0},
        {728, 729, 729, 728}, {1, 729, 2, 365},        {0, 729, 0, 0},
        {5, 729, 0, 0},       {999999, 999, 1000000, 999},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SampleToColumn(c.sample, c.columns, c.count), c.column)
            << c.sample << " of " << c.count << " on " << c.columns;
    }
}

TEST(SampleToX, TicksSitOnTheColumnOfTheirSampleInTheVisibleRange) {
    const Rect plot{154, 28, 881, 161};  // 728 columns
    struct Case {
        std::uint32_t sample, first, count;
        std::int32_t x;
    };
    const Case cases[] = {
        {0, 0, 10000, 154},
        {5000, 0, 10000, 154 + 364},
        {9000, 0, 10000, 154 + 655},
        {0, 0, 0, 154},
        {12400, 12345, 1000, 154 + 40},   // 55 * 0.728 + 0.5
        {12345, 12345, 1000, 154},
        {13344, 12345, 1000, 881},        // 999 * 0.728 + 0.5 = 727.77
        {9999, 0, 10000, 881},            // the half column past the last folds in
        {2099, 100, 2000, 881},
        {500004, 500000, 10, 154 + 291},  // 4 * 72.8 + 0.5
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SampleToX(c.sample, plot, c.first, c.count), c.x)
            << c.sample << " of " << c.first << "+" << c.count;
    }
}

TEST(SampleTimeNs, PeriodTimesSampleWithoutOverflow) {
    struct Case {
        std::int32_t divider;
        std::uint32_t sample;
        std::int64_t ns;
    };
    constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t MIN = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {1, 1, 100000},
        {1, 10000, 1000000000},
        {10000, 1, 1000000000},
        {10000, 1000000, 1000000000000000},
        {10000, 4294967295u, 4294967295000000000},
        {std::numeric_limits<std::int32_t>::max(), 4294967295u, MAX},
        {std::numeric_limits<std::int32_t>::min(), 4294967295u, MIN},
        {-1, 3, -300000},
        {0, 123, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SampleTimeNs(c.divider, c.sample), c.ns) << c.divider << " x " << c.sample;
    }
}

TEST(TimeTickStep, LeadingDigitRoundedToOneTwoFiveOrTen) {
    struct Case {
        std::uint32_t count;
        std::uint32_t step;
    };
    const Case cases[] = {
        {0, 1},      {1, 1},          {9, 1},         {10, 1},          {25, 2},
        {39, 2},     {40, 5},         {79, 5},        {80, 10},         {3000, 200},
        {10000, 1000}, {1000000, 100000}, {4294967295u, 500000000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeTickStep(c.count), c.step) << c.count;
    }
}

TEST(TimeTickStep, FromTenSamplesOnARecordGetsEightToTwentyTicks) {
    for (std::uint32_t n = 10; n <= 200000; ++n) {
        const std::uint32_t step = TimeTickStep(n);
        const std::uint32_t ticks = (n + step - 1) / step;
        ASSERT_GE(ticks, 8u) << n;
        ASSERT_LE(ticks, 20u) << n;
    }
    EXPECT_EQ((39 + TimeTickStep(39) - 1) / TimeTickStep(39), 20u);
}

TEST(FormatTimeLabel, UnitFollowsTheWholeRecordsDuration) {
    struct Case {
        std::int32_t divider;
        std::uint32_t count;
        std::uint32_t sample;
        const char* label;
    };
    const Case cases[] = {
        {1, 5, 0, "0 uS"},          {1, 5, 1, "100 uS"},       {1, 5, 4, "400 uS"},
        {1, 10000, 0, "0 S"},       {1, 10000, 1000, "0.1 S"}, {1, 10000, 9000, "0.9 S"},
        {1, 9999, 1000, "100 mS"},  {1, 3000, 200, "20 mS"},   {10000, 10, 1, "1 S"},
        {2, 25, 3, "0.6 mS"},       {1, 0, 0, "0 nS"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimeLabel(SampleTimeNs(c.divider, c.sample), SampleTimeNs(c.divider, c.count)),
                  c.label)
            << c.divider << " " << c.count << " " << c.sample;
    }
}

TEST(FormatTimeLabel, FixedDecimalsForTheLabelsOfAZoomedAxis) {
    struct Case {
        std::int64_t stepNs;
        std::int64_t ns;
        std::int64_t totalNs;
        const char* label;
    };
    const Case cases[] = {
        // 100 S at 10 kHz: a step of one sample needs 4 decimals.
        {100000, 33790000000, 100000000000, "33.7900 S"},
        {100000, 33790300000, 100000000000, "33.7903 S"},
        {200000, 33790000000, 100000000000, "33.7900 S"},
        {1000000, 33790000000, 100000000000, "33.790 S"},
        {1000000000, 33000000000, 100000000000, "33 S"},
        {100000, 0, 500000, "0 uS"},  // 100 uS steps in uS need none
        {100000, 200000, 999000000, "0.2 mS"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimeLabel(c.ns, c.totalNs, TimeLabelDecimals(c.stepNs, c.totalNs)), c.label) << c.ns;
    }
}

TEST(DialogUnits, RoundHalvesAwayFromZero) {
    struct Case {
        int x;
        int y;
        std::int32_t px;
        std::int32_t py;
    };
    const Case cases[] = {
        {0, 0, 0, 0},     {1, 1, 2, 2},     {-1, -1, -2, -2}, {2, 2, 3, 3},
        {3, 3, 5, 5},     {-3, -3, -5, -5}, {671, 432, 1007, 648},
    };
    for (const Case& c : cases) {
        const PixelPoint p = DialogUnitsToPixels(c.x, c.y);
        EXPECT_EQ(p.x, c.px) << c.x;
        EXPECT_EQ(p.y, c.py) << c.y;
    }
    EXPECT_EQ(DialogRectToPixels(102, 18, 486, 90), (Rect{153, 27, 882, 162}));
}

TEST(DefaultPaneGeometry, MatchesTheRealWindow) {
    const PaneGeometry g = DefaultPaneGeometry();
    EXPECT_EQ(g.clientRect, (Rect{0, 0, 1007, 648}));
    const Rect outer[4] = {{153, 27, 882, 162}, {153, 180, 882, 315}, {153, 333, 882, 468},
                           {153, 486, 882, 621}};
    const Rect groups[5] = {{9, 27, 108, 135}, {9, 180, 108, 621}, {900, 81, 999, 423},
                            {900, 450, 999, 621}, {18, 576, 99, 603}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g.paneOuter[i], outer[i]) << i;
        const Rect& o = outer[i];
        EXPECT_EQ(g.paneInner[i], (Rect{o.left + 1, o.top + 1, o.right - 1, o.bottom - 1})) << i;
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g.groupRect[i], groups[i]) << i;
    }
    EXPECT_EQ(g.paneOuterAll, (Rect{153, 27, 882, 621}));
    EXPECT_EQ(g.paneInnerAll, (Rect{154, 28, 881, 620}));
    EXPECT_EQ(g.timeLabelRect, (Rect{0, 13, 1007, 26}));
}

TEST(LayoutPanes, FourPanesOrOneOverlayPane) {
    const PaneGeometry g = DefaultPaneGeometry();
    PaneLayout layout{};
    LayoutPanes(g, 0, layout);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(layout.frameRect[i], g.paneOuter[i]);
        EXPECT_EQ(layout.plotRect[i], g.paneInner[i]);
        EXPECT_EQ(layout.indexLabelRect[i],
                  (Rect{0, g.paneInner[i].bottom + 2, 1007, g.paneInner[i].bottom + 15}));
    }
    LayoutPanes(g, 1, layout);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(layout.frameRect[i], g.paneOuterAll);
        EXPECT_EQ(layout.plotRect[i], g.paneInnerAll);
        EXPECT_EQ(layout.indexLabelRect[i].bottom, 620 + 15);
        EXPECT_EQ(PlotColumns(layout.plotRect[i]), 728);
    }
}

TEST(ChannelColor, FixedTraceColours) {
    const Rgb expected[4] = {{255, 255, 0}, {25, 135, 229}, {255, 0, 255}, {0, 255, 0}};
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(ChannelColor(ch), expected[ch]);
    }
    EXPECT_EQ(ChannelColor(-1), expected[3]);
}

}  // namespace
