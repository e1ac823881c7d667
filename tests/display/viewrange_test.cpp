#include "display/viewrange.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The window's plots have 728 columns.
constexpr std::int32_t W = 728;

std::string Show(const ViewRange& r) {
    return "{" + std::to_string(r.first) + ", " + std::to_string(r.count) + "}";
}

TEST(ClampRange, HoldsTheRangeInsideTheRecord) {
    struct Case {
        ViewRange in;
        std::uint32_t total;
        ViewRange out;
    };
    const Case cases[] = {
        {{0, 0}, 100000, {0, 10}},            // never fewer than 10 samples
        {{99995, 10}, 100000, {99990, 10}},   // ends with the record at the latest
        {{5, 200000}, 100000, {0, 100000}},   // never more than the record
        {{3, 5}, 7, {0, 7}},                  // a record shorter than 10 is all shown
        {{4, 4}, 0, {0, 0}},
        {{123, 4567}, 100000, {123, 4567}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClampRange(c.in, c.total), c.out) << Show(c.in) << " of " << c.total;
    }
}

TEST(WheelZoomFactor, EachNotchShowsFourFifthsOrFiveFourths) {
    EXPECT_DOUBLE_EQ(WheelZoomFactor(120), 0.8);
    EXPECT_DOUBLE_EQ(WheelZoomFactor(-120), 1.25);
    EXPECT_DOUBLE_EQ(WheelZoomFactor(240), 0.64);
    EXPECT_DOUBLE_EQ(WheelZoomFactor(0), 1.0);
}

TEST(ZoomAtColumn, KeepsTheSampleUnderThePointerWithinTheLimits) {
    struct Case {
        const char* what;
        ViewRange in;
        std::uint32_t total;
        std::int32_t column;
        double factor;
        ViewRange out;
    };
    const Case cases[] = {
        // Column 364 of 728 draws samples 49,932 .. 50,068 before and
        // 39,946 .. 40,054 after: its middle sample 50,000 stays in it. The
        // first column keeps the record's start, the last its end.
        {"in at the middle", {0, 100000}, 100000, 364, 0.8, {10000, 80000}},
        {"in at the left edge", {0, 100000}, 100000, 0, 0.8, {0, 80000}},
        {"in at the right edge", {0, 100000}, 100000, 727, 0.8, {20000, 80000}},
        {"in near the end", {99000, 1000}, 100000, 727, 0.5, {99500, 500}},
        {"out stops at the record's end", {99500, 500}, 100000, 727, 2.0, {99000, 1000}},
        {"out stops at the whole record", {10000, 80000}, 100000, 364, 1.25, {0, 100000}},
        {"out of the whole record", {0, 100000}, 100000, 100, 1.25, {0, 100000}},
        {"in stops at 10 samples", {500, 10}, 100000, 0, 0.8, {500, 10}},
        {"in from 11 samples", {500, 11}, 100000, 0, 0.8, {500, 10}},
        {"a fine wheel still moves 10 samples", {500, 10}, 100000, 0, 1.02, {500, 11}},
        {"a fine wheel still moves 20 samples", {500, 20}, 100000, 0, 0.98, {500, 19}},
        {"a record shorter than 10", {0, 5}, 5, 300, 0.8, {0, 5}},
        {"an empty record", {0, 0}, 0, 300, 0.8, {0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoomAtColumn(c.in, c.total, W, c.column, c.factor), c.out) << c.what;
    }
}

// Notch after notch with the pointer on one column: the middle sample of the
// samples that column drew at the start (a pulse or spike put there) stays
// drawn in that column to within one, at the left, the middle and the right
// of the plot; columns drawing the record's first or last sample keep it.
TEST(ZoomAtColumn, TheDrawnSampleStaysUnderThePointerNotchAfterNotch) {
    struct Case {
        const char* what;
        ViewRange start;
        std::uint64_t total;
        std::uint64_t pulseFirst;
        std::uint64_t pulseCount;
        std::int32_t column;      // the pointer's: the column drawing the pulse's middle
        int notches;
        std::uint64_t lastCount;  // 4/5 per notch, rounded
        std::uint64_t lastFirst;  // checked where the record's ends are kept
    };
    const Case cases[] = {
        // Column 721 of the full view draws 989,698 .. 991,071: middle 990,384.
        {"a 20-sample pulse near the right edge", {0, 1000000}, 1000000, 990374, 20, 721, 30, 1238, 0},
        // Column 364 draws 499,314 .. 500,686: middle 500,000.
        {"a one-sample spike in the middle", {0, 1000000}, 1000000, 500000, 1, 364, 20, 11529, 0},
        // Column 3 of {200,000, 400,000} draws 201,374 .. 201,923: middle 201,648.
        {"a spike at the left of a zoomed view", {200000, 400000}, 1000000, 201648, 1, 3, 25, 1512, 0},
        // Column 724 draws 597,528 .. 598,076: middle 597,802.
        {"a spike at the right of a zoomed view", {200000, 400000}, 1000000, 597802, 1, 724, 25, 1512, 0},
        {"the record's first sample on the first column", {0, 1000000}, 1000000, 0, 1, 0, 20, 11529, 0},
        {"the record's last sample on the last column", {0, 1000000}, 1000000, 999999, 1, 727, 20, 11529,
         1000000 - 11529},
    };
    for (const Case& c : cases) {
        // A failure ends its own case only.
        [&c] {
            const std::uint64_t middle = c.pulseFirst + c.pulseCount / 2;
            ViewRange range = c.start;
            ASSERT_EQ(CursorAtSample(range, W, middle).column, c.column) << c.what;
            for (int notch = 1; notch <= c.notches; ++notch) {
                range = ZoomAtColumn(range, c.total, W, c.column, WheelZoomFactor(120));
                ASSERT_GE(middle, range.first) << c.what << " notch " << notch;
                ASSERT_LT(middle, range.first + range.count) << c.what << " notch " << notch;
                const std::int32_t drawn = CursorAtSample(range, W, middle).column;
                ASSERT_LE(std::abs(drawn - c.column), 1) << c.what << " notch " << notch << " column " << drawn;
            }
            EXPECT_EQ(range.count, c.lastCount) << c.what;
            if (c.lastFirst != 0 || c.pulseFirst == 0) {
                EXPECT_EQ(range.first, c.lastFirst) << c.what;
            }
        }();
    }
}

TEST(PanByColumns, MovesWithThePointerAndStopsAtTheRecordsEnds) {
    struct Case {
        ViewRange in;
        std::int32_t dx;
        ViewRange out;
    };
    // 7,280 visible samples: 10 samples per column.
    const Case cases[] = {
        {{10000, 7280}, 10, {9900, 7280}},       // picture right: earlier samples
        {{10000, 7280}, -10, {10100, 7280}},
        {{10000, 7280}, 2000, {0, 7280}},         // stops at the record's start
        {{10000, 7280}, -20000, {92720, 7280}},   // and at its end
        {{0, 100000}, 50, {0, 100000}},           // the whole record cannot move
        {{10000, 7280}, 0, {10000, 7280}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PanByColumns(c.in, 100000, W, c.dx), c.out) << Show(c.in) << " by " << c.dx;
    }
}

TEST(CursorAtColumn, TheSampleDrawnUnderThePointerWithTheLineThere) {
    struct Case {
        ViewRange range;
        std::int32_t column;
        std::uint32_t sample;
        std::int32_t line;
        std::uint64_t columnFirst;  // the samples the column draws
        std::uint64_t columnCount;
    };
    const Case cases[] = {
        // 10 samples a column: column c draws samples 10 c - 5 .. 10 c + 4;
        // the last also the half column past it.
        {{0, 7280}, 364, 3644, 364, 3635, 10},
        {{0, 7280}, 0, 0, 0, 0, 5},
        {{0, 7280}, 727, 7279, 727, 7265, 15},
        {{0, 10000}, 727, 9999, 727, 9980, 20},
        {{0, 49768}, 727, 49767, 727, 49666, 102},
        {{20000, 7280}, 364, 23644, 364, 23635, 10},
        // 10 samples on 728 columns: sample k is drawn from column k * 72.8 on,
        // in columns 0, 73, 146 ... 655, the others holding the step.
        {{500000, 10}, 46, 500000, 46, 500001, 0},
        {{500000, 10}, 100, 500001, 100, 500002, 0},
        {{500000, 10}, 700, 500009, 700, 500010, 0},
        {{500000, 10}, -5, 500000, 0, 500000, 1},
        {{500000, 10}, 5000, 500009, 727, 500010, 0},
        // 2 samples: the second from column 364 on; 1 sample spans the plot.
        {{0, 2}, 300, 0, 300, 1, 0},
        {{0, 2}, 364, 1, 364, 1, 1},
        {{0, 1}, 300, 0, 300, 1, 0},
    };
    for (const Case& c : cases) {
        const CursorPoint p = CursorAtColumn(c.range, W, c.column);
        EXPECT_EQ(p.sample, c.sample) << Show(c.range) << " column " << c.column;
        EXPECT_EQ(p.column, c.line) << Show(c.range) << " column " << c.column;
        EXPECT_EQ(p.columnFirst, c.columnFirst) << Show(c.range) << " column " << c.column;
        EXPECT_EQ(p.columnCount, c.columnCount) << Show(c.range) << " column " << c.column;
    }
}

TEST(CursorAtSample, TheColumnDrawingTheSample) {
    struct Case {
        ViewRange range;
        std::uint64_t sample;
        std::uint64_t read;  // the sample held inside the range
        std::int32_t column;
        std::uint64_t columnFirst;
        std::uint64_t columnCount;
    };
    const Case cases[] = {
        {{0, 7280}, 3644, 3644, 364, 3635, 10},
        {{0, 7280}, 3645, 3645, 365, 3645, 10},
        {{20000, 7280}, 27279, 27279, 727, 27265, 15},
        {{500000, 10}, 500001, 500001, 73, 500001, 1},
        {{500000, 10}, 0, 500000, 0, 500000, 1},
        {{500000, 10}, 600000, 500009, 655, 500009, 1},
        {{0, 2}, 1, 1, 364, 1, 1},
        {{0, 1}, 0, 0, 0, 0, 1},
    };
    for (const Case& c : cases) {
        const CursorPoint p = CursorAtSample(c.range, W, c.sample);
        EXPECT_EQ(p.sample, c.read) << Show(c.range) << " sample " << c.sample;
        EXPECT_EQ(p.column, c.column) << Show(c.range) << " sample " << c.sample;
        EXPECT_EQ(p.columnFirst, c.columnFirst) << Show(c.range) << " sample " << c.sample;
        EXPECT_EQ(p.columnCount, c.columnCount) << Show(c.range) << " sample " << c.sample;
    }
}

// The file boundaries of a series in view, on the columns drawing their
// first samples (as CursorAtSample above puts them).
TEST(MarkColumns, TheColumnsOfTheMarksInView) {
    struct Case {
        ViewRange range;
        std::vector<RecordMark> marks;
        std::vector<MarkColumn> columns;
    };
    const Case cases[] = {
        {{0, 7280}, {{0, false}, {3644, true}, {3645, false}, {7280, false}}, {{0, false}, {364, true}, {365, false}}},
        {{20000, 7280}, {{19999, true}, {20000, false}, {27279, true}, {27280, false}}, {{0, false}, {727, true}}},
        {{500000, 10}, {{500001, true}}, {{73, true}}},
        {{0, 7280}, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkColumns(c.range, W, c.marks), c.columns) << Show(c.range);
    }
}

// A sample of a series of files of 1000, 1500 and 700 samples in its file.
TEST(PlaceInFiles, TheFileHoldingASampleAndItsIndexThere) {
    const std::uint64_t firsts[] = {0, 1000, 2500};
    const std::pair<std::uint64_t, FilePlace> cases[] = {
        {0, {0, 0}}, {999, {0, 999}}, {1000, {1, 0}}, {2499, {1, 1499}}, {2500, {2, 0}}, {3199, {2, 699}},
    };
    for (const auto& [sample, place] : cases) {
        EXPECT_EQ(PlaceInFiles(firsts, sample), place) << sample;
    }
    const std::uint64_t one[] = {0};
    EXPECT_EQ(PlaceInFiles(one, 41), (FilePlace{0, 41}));
    EXPECT_EQ(FilePlaceText("night-000002.dlf", 760), "File night-000002.dlf, sample 760");
}

TEST(PanBySteps, MovesATenthOfTheVisibleSamplesAndStopsAtTheEnds) {
    struct Case {
        ViewRange in;
        std::int32_t steps;
        ViewRange out;
    };
    const Case cases[] = {
        {{1000, 8000}, 1, {1800, 8000}},  {{1000, 8000}, -1, {200, 8000}},
        {{1800, 8000}, 1, {2000, 8000}},  {{200, 8000}, -1, {0, 8000}},
        {{500, 10}, 1, {501, 10}},        {{500, 15}, -1, {499, 15}},  // at least one sample
        {{0, 10000}, 1, {0, 10000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PanBySteps(c.in, 10000, c.steps), c.out) << Show(c.in) << " by " << c.steps;
    }
}

TEST(VisibleSpanText, FirstAndLastIndexOfTheCountWithSeparators) {
    EXPECT_EQ(VisibleSpanText({998615, 10}, 1000000), "samples 998,615\u2013998,624 of 1,000,000");
    EXPECT_EQ(VisibleSpanText({0, 8000}, 10000), "samples 0\u20137,999 of 10,000");
    EXPECT_EQ(VisibleSpanText({120, 10}, 999), "samples 120\u2013129 of 999");
}

TEST(CursorReadout, IndexTimeFromTheStartAndFourVoltages) {
    struct Case {
        std::uint32_t sample, count;
        std::int32_t divider;
        double values[4];
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {3640, 7280, 1, {0.91, 1.91, 2.91, -0.000004},
         {"Sample 3640", "Time 364 mS", "CH0 0.91000 V", "CH1 1.91000 V", "CH2 2.91000 V",
          "CH3 -0.00000 V"}},
        {12345, 1000000, 1, {12.345678, 0.0, 10.0, -1.5},
         {"Sample 12345", "Time 1.2345 S", "CH0 12.34568 V", "CH1 0.00000 V", "CH2 10.00000 V",
          "CH3 -1.50000 V"}},
        {5, 10, 10000, {1, 2, 3, 4},
         {"Sample 5", "Time 5 S", "CH0 1.00000 V", "CH1 2.00000 V", "CH2 3.00000 V",
          "CH3 4.00000 V"}},
        // Past 13 characters a value takes the exponent form.
        {7, 10, 1, {1e300, -1e300, 9999999.99999, -1e7},
         {"Sample 7", "Time 0.7 mS", "CH0 1.00000e+300 V", "CH1 -1.00000e+300 V",
          "CH2 9999999.99999 V", "CH3 -1.00000e+07 V"}},
        {3, 5, 1, {0, 0, 0, 0},
         {"Sample 3", "Time 300 uS", "CH0 0.00000 V", "CH1 0.00000 V", "CH2 0.00000 V",
          "CH3 0.00000 V"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CursorReadout(c.sample, SampleTimeNs(c.divider, c.sample), SampleTimeNs(c.divider, c.count), c.values), c.lines) << c.sample;
    }
}

}  // namespace

TEST(WallClockText, UtcWithTheDecimalsTheSamplePeriodResolves) {
    struct Case {
        std::int64_t micros;
        std::int32_t divider;
        const char* text;
    };
    const Case cases[] = {
        {1765000001234567, 1, "UTC 2025-12-06 05:46:41.2345"},     // 10 kHz: 100 us
        {1765000001234567, 20, "UTC 2025-12-06 05:46:41.234"},     // 500 Hz: 2 ms
        {1765000001234567, 500, "UTC 2025-12-06 05:46:41.23"},     // 20 Hz
        {1765000001999999, 10000, "UTC 2025-12-06 05:46:41"},      // 1 Hz: the second it falls in
        {-1, 1, "UTC 1969-12-31 23:59:59.9999"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WallClockText(c.micros, c.divider), c.text) << c.divider;
    }
}
