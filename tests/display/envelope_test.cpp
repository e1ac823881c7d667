#include "display/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// A plot of `columns` pixel columns, 135 pixels tall.
Rect PlotOf(std::int32_t columns) { return {100, 100, 100 + columns - 1, 235}; }

std::unique_ptr<ColumnTables> FreshTables() {
    auto t = std::make_unique<ColumnTables>();
    std::fill_n(&t->lastY[0][0], 4 * MAX_COLUMNS, 7777);
    std::fill_n(&t->minY[0][0], 4 * MAX_COLUMNS, 7777);
    std::fill_n(&t->maxY[0][0], 4 * MAX_COLUMNS, 7777);
    return t;
}

// The envelope sample by sample, the way its definition reads.
void ReferenceEnvelope(ColumnTables& t, int ch, const std::vector<double>& v, const Rect& plot) {
    const std::int32_t w = PlotColumns(plot);
    const auto n = static_cast<std::uint32_t>(v.size());
    for (std::int32_t c = 0; c < w; ++c) {
        t.minY[ch][c] = plot.bottom + 1000;
        t.maxY[ch][c] = plot.top - 1000;
    }
    for (std::uint32_t s = 0; s < n; ++s) {
        // The half column past the last is drawn in the last.
        const std::int32_t c = std::min(SampleToColumn(s, w, n), w - 1);
        const std::int32_t y = VoltToY(v[s], plot);
        t.lastY[ch][c] = y;
        t.minY[ch][c] = std::min(t.minY[ch][c], y);
        t.maxY[ch][c] = std::max(t.maxY[ch][c], y);
    }
    for (std::int32_t c = 1; c < w; ++c) {
        const std::int32_t p = t.lastY[ch][c - 1];
        if (t.minY[ch][c] == plot.bottom + 1000) {
            t.lastY[ch][c] = t.minY[ch][c] = t.maxY[ch][c] = p;
        }
        t.minY[ch][c] = std::min(t.minY[ch][c], p);
        t.maxY[ch][c] = std::max(t.maxY[ch][c], p);
    }
}

// The column map sample by sample, the way its definition reads.
std::vector<std::int32_t> ReferenceColumnMap(std::int32_t w, std::uint32_t n) {
    std::vector<std::int32_t> e(static_cast<std::size_t>(w) + 1, -1);
    for (std::uint32_t s = 0; s < n; ++s) {
        e[static_cast<std::size_t>(std::min(SampleToColumn(s, w, n), w - 1))] = static_cast<std::int32_t>(s);
    }
    for (std::int32_t c = 1; c < w; ++c) {
        if (e[c] == -1) {
            e[c] = e[c - 1];
        }
    }
    return e;
}

TEST(ColumnStarts, SplitSamplesAsSampleToColumnDoesWithTheSpareHalfInTheLast) {
    std::vector<std::uint32_t> counts;
    for (std::uint32_t n = 0; n <= 2100; ++n) {
        counts.push_back(n);
    }
    for (std::uint32_t n : {9999u, 10000u, 65537u, 333333u, 999983u, 999999u, 1000000u}) {
        counts.push_back(n);
    }
    for (std::int32_t w : {1, 2, 3, 7, 100, 727, 728, 729, 998, 999}) {
        for (std::uint32_t n : counts) {
            std::uint64_t starts[MAX_COLUMNS + 1];
            ColumnStarts(w, n, starts);
            ASSERT_EQ(starts[0], 0u);
            ASSERT_EQ(starts[w], n);
            std::uint32_t mismatches = 0;
            for (std::int32_t c = 0; c < w; ++c) {
                ASSERT_LE(starts[c], starts[c + 1]) << "w " << w << " n " << n << " c " << c;
                for (std::uint32_t s = starts[c]; s < starts[c + 1]; ++s) {
                    const std::int32_t nearest = SampleToColumn(s, w, n);
                    mismatches += nearest != c && !(c == w - 1 && nearest == w);
                }
            }
            ASSERT_EQ(mismatches, 0u) << "w " << w << " n " << n;
        }
    }
}

TEST(BuildEnvelope, MatchesTheSampleBySampleDefinitionForAnyRange) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> volts(-3.0, 13.0);
    const double specials[] = {NaN, INF, -INF, -1.0, 11.0, 5.0};
    for (std::int32_t w : {1, 2, 100, 728, 729, 999}) {
        for (std::uint32_t n : {1u, 2u, 3u, 50u, 728u, 729u, 730u, 1457u, 1458u, 10000u, 123457u}) {
            std::vector<double> v(n);
            for (double& x : v) {
                x = random() % 50 == 0 ? specials[random() % 6] : volts(random);
            }
            BlockExtremes index;
            index.Build(v.data(), n);
            const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
                {0, n}, {n / 3, n / 2}, {n - n / 7, n / 7}, {n / 2, std::min(n - n / 2, 10u)}};
            for (const auto& [first, count] : ranges) {
                const Rect plot = PlotOf(w);
                const std::vector<double> visible(v.begin() + first, v.begin() + first + count);
                auto plain = FreshTables();
                auto indexed = FreshTables();
                auto slow = FreshTables();
                BuildEnvelope(*plain, 2, v.data(), first, count, plot);
                BuildEnvelope(*indexed, 2, v.data(), first, count, plot, &index);
                ReferenceEnvelope(*slow, 2, visible, plot);
                for (const ColumnTables* fast : {plain.get(), indexed.get()}) {
                    for (std::int32_t c = 0; c < w && count > 0; ++c) {
                        const auto where = [&] {
                            return "w " + std::to_string(w) + " n " + std::to_string(n) + " first " +
                                   std::to_string(first) + " c " + std::to_string(c);
                        };
                        ASSERT_EQ(fast->lastY[2][c], slow->lastY[2][c]) << where();
                        ASSERT_EQ(fast->minY[2][c], slow->minY[2][c]) << where();
                        ASSERT_EQ(fast->maxY[2][c], slow->maxY[2][c]) << where();
                    }
                }
            }
        }
    }
}

TEST(BuildEnvelope, TheLastColumnShowsTheHalfColumnPastIt) {
    // 10,000 samples on 728 columns: samples 9,994 .. 9,999 are nearest to
    // the half column past the last (9,994 * 0.0728 + 0.5 = 728.06).
    const Rect plot = PlotOf(728);
    std::vector<double> v(10000, 5.0);
    std::fill(v.begin() + 9994, v.end(), 10.0);
    auto t = FreshTables();
    BuildEnvelope(*t, 0, v.data(), 0, 10000, plot);
    EXPECT_EQ(t->minY[0][727], VoltToY(10.0, plot));
    EXPECT_EQ(t->maxY[0][727], VoltToY(5.0, plot));
    EXPECT_EQ(t->lastY[0][727], VoltToY(10.0, plot));
    EXPECT_EQ(t->minY[0][726], VoltToY(5.0, plot));
}

TEST(BuildEnvelope, ExactlyOneSamplePerColumnWhenCountEqualsColumns) {
    const Rect plot = PlotOf(729);
    std::vector<double> v(729);
    for (std::size_t s = 0; s < v.size(); ++s) {
        v[s] = static_cast<double>(s % 13) - 1.0;
    }
    auto t = FreshTables();
    BuildEnvelope(*t, 0, v.data(), 0, 729, plot);
    for (std::int32_t c = 0; c < 729; ++c) {
        const std::int32_t own = VoltToY(v[c], plot);
        const std::int32_t left = c == 0 ? own : VoltToY(v[c - 1], plot);
        EXPECT_EQ(t->lastY[0][c], own) << c;
        EXPECT_EQ(t->minY[0][c], std::min(own, left)) << c;
        EXPECT_EQ(t->maxY[0][c], std::max(own, left)) << c;
    }
}

TEST(BuildEnvelope, TwoSamplesHoldFlatAndStepAtTheMiddleColumn) {
    const Rect plot = PlotOf(729);
    const double v[2] = {2.0, 8.0};
    const std::int32_t y2 = VoltToY(2.0, plot);
    const std::int32_t y8 = VoltToY(8.0, plot);
    auto t = FreshTables();
    BuildEnvelope(*t, 1, v, 0, 2, plot);
    for (std::int32_t c = 0; c < 729; ++c) {
        const std::int32_t top = c < 365 ? y2 : y8;
        const std::int32_t bottom = c <= 365 ? y2 : y8;
        EXPECT_EQ(t->minY[1][c], top) << c;
        EXPECT_EQ(t->maxY[1][c], bottom) << c;
    }
}

TEST(BuildEnvelope, OutOfRangeAndNaNSamplesSitOnTheEdgeRows) {
    const Rect plot = PlotOf(4);
    const double v[4] = {NaN, INF, -INF, 1e300};
    auto t = FreshTables();
    BuildEnvelope(*t, 3, v, 0, 4, plot);
    const std::int32_t expected[4] = {plot.bottom, plot.top, plot.bottom, plot.top};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(t->lastY[3][c], expected[c]) << c;
    }
}

// The record's true extremes as drawn: NaN, -inf and anything below -1 V on
// the -1 V row, the rest as it is.
TEST(AsDrawn, PutsNaNAndLowValuesOnTheMinusOneVoltRow) {
    struct Row {
        SampleExtremes in;
        double low;
        double high;
    };
    const Row rows[] = {
        {{NaN, 4.0}, -1.0, 4.0},     {{NaN, -INF}, -1.0, -1.0}, {{-7.5, -3.0}, -1.0, -1.0},
        {{-0.5, 12.0}, -0.5, 12.0},  {{-INF, INF}, -1.0, INF},  {{-1.0, -1.0}, -1.0, -1.0},
    };
    for (const Row& row : rows) {
        const SampleExtremes e = AsDrawn(row.in);
        EXPECT_EQ(e.low, row.low) << row.in.low;
        EXPECT_EQ(e.high, row.high) << row.in.high;
    }
}

// A record in which the samples marked `unreadable` cannot be read, as a
// series gives them when a file changed under it.
void BuildWithUnreadable(ColumnTables& t, const std::vector<double>& v, const std::vector<bool>& unreadable,
                         const Rect& plot) {
    const auto extremes = [&](std::uint32_t begin, std::uint32_t end) {
        SampleExtremes e = UNREADABLE_RUN;
        for (std::uint32_t s = begin; s < end; ++s) {
            if (!unreadable[s]) {
                e = MergeExtremes(e, ExtremesOfRun(&v[s], 1));
            }
        }
        return e;
    };
    BuildEnvelopeOf(t, 2, 0, static_cast<std::uint32_t>(v.size()), plot, extremes,
                    [&](std::uint32_t s) { return unreadable[s] ? NaN : v[s]; });
}

TEST(BuildEnvelope, UnreadableSamplesLeaveAGapThatNoStrokeJoins) {
    const Rect plot = PlotOf(8);
    constexpr std::int32_t Y2 = 201, Y8 = 134, Y_NAN = 235, GAP = -1;
    struct Case {
        const char* name;
        std::vector<double> values;
        std::vector<bool> unreadable;
        std::int32_t top[8];     // minY, or GAP for nothing drawn
        std::int32_t bottom[8];  // maxY
    };
    const Case cases[] = {
        // One sample a column; a NaN that was read keeps its row at -1 V.
        {"one sample a column",
         {2, 2, 2, 0, 0, 8, NaN, 8},
         {false, false, false, true, true, false, false, false},
         {Y2, Y2, Y2, GAP, GAP, Y8, Y8, Y8},
         {Y2, Y2, Y2, GAP, GAP, Y8, Y_NAN, Y_NAN}},
        // Samples on every second column: the column after the gap has none of its own.
        {"fewer samples than columns",
         {2, 0, 8, 8},
         {false, true, false, false},
         {Y2, Y2, GAP, GAP, Y8, Y8, Y8, Y8},
         {Y2, Y2, GAP, GAP, Y8, Y8, Y8, Y8}},
        // Two samples a column: column 2 ends in an unreadable sample, so
        // column 3 has no row to reach back to.
        {"a column ending unreadable",
         {2, 2, 2, 2, 0, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8},
         {false, false, false, false, true, false, false, false, false, false, false, false, false, false, false,
          false},
         {Y2, Y2, Y2, Y8, Y8, Y8, Y8, Y8},
         {Y2, Y2, Y2, Y8, Y8, Y8, Y8, Y8}},
    };
    for (const Case& test : cases) {
        auto t = FreshTables();
        BuildWithUnreadable(*t, test.values, test.unreadable, plot);
        for (int c = 0; c < 8; ++c) {
            if (test.top[c] == GAP) {
                EXPECT_GT(t->minY[2][c], t->maxY[2][c]) << test.name << " column " << c;
            } else {
                EXPECT_EQ(t->minY[2][c], test.top[c]) << test.name << " column " << c;
                EXPECT_EQ(t->maxY[2][c], test.bottom[c]) << test.name << " column " << c;
            }
        }
    }
    // Tables that held a gap take a whole record again, empty columns too.
    auto t = FreshTables();
    BuildWithUnreadable(*t, cases[1].values, cases[1].unreadable, plot);
    const double flat[4] = {2, 2, 2, 2};
    BuildEnvelope(*t, 2, flat, 0, 4, plot);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(t->minY[2][c], Y2) << "rebuilt, column " << c;
        EXPECT_EQ(t->maxY[2][c], Y2) << "rebuilt, column " << c;
    }
}

TEST(BuildEnvelope, EmptyRecordLeavesEveryColumnWithNothingToDraw) {
    const Rect plot = PlotOf(729);
    auto t = FreshTables();
    BuildEnvelope(*t, 0, nullptr, 0, 0, plot);
    for (std::int32_t c = 0; c < 729; ++c) {
        EXPECT_GT(t->minY[0][c], t->maxY[0][c]) << c;
    }
}

TEST(BuildEnvelope, APlotWiderThanTheTablesWritesOnlyItsOwnChannel) {
    const Rect wide{0, 100, 1499, 235};
    std::vector<double> v(5000, 3.0);
    auto t = FreshTables();
    BuildEnvelope(*t, 1, v.data(), 0, 5000, wide);
    UpdateLiveColumn(*t, 1, 1200, {}, v.data(), wide);
    for (int ch : {0, 2, 3}) {
        for (int c = 0; c < MAX_COLUMNS; ++c) {
            ASSERT_EQ(t->lastY[ch][c], 7777) << ch << " " << c;
            ASSERT_EQ(t->minY[ch][c], 7777) << ch << " " << c;
            ASSERT_EQ(t->maxY[ch][c], 7777) << ch << " " << c;
        }
    }
    EXPECT_EQ(EnvelopeColumns(wide), MAX_COLUMNS - 1);
}

TEST(BuildColumnMap, LastSampleOfEachColumn) {
    std::int32_t e[MAX_COLUMNS];
    BuildColumnMap(e, 729, 10000);
    EXPECT_EQ(e[0], 6);
    EXPECT_EQ(e[1], 20);
    EXPECT_EQ(e[727], 9979);
    EXPECT_EQ(e[728], 9999);  // the last column ends with the record
    EXPECT_EQ(e[729], -1);

    BuildColumnMap(e, 729, 3);
    for (int c = 0; c < 729; ++c) {
        EXPECT_EQ(e[c], c < 243 ? 0 : c < 486 ? 1 : 2) << c;
    }
    EXPECT_EQ(e[729], -1);

    BuildColumnMap(e, 729, 0);
    EXPECT_TRUE(std::all_of(std::begin(e), std::end(e), [](std::int32_t x) { return x == -1; }));
}

TEST(BuildColumnMap, MatchesTheSampleBySampleDefinition) {
    for (std::int32_t w : {1, 2, 5, 728, 729, 999}) {
        for (std::uint32_t n = 1; n <= 3000; n += (n < 1500 ? 1 : 37)) {
            std::int32_t e[MAX_COLUMNS];
            BuildColumnMap(e, w, n);
            const std::vector<std::int32_t> expected = ReferenceColumnMap(w, n);
            for (std::int32_t c = 0; c < w; ++c) {
                ASSERT_EQ(e[c], expected[c]) << "w " << w << " n " << n << " c " << c;
            }
        }
    }
}

TEST(UpdateLiveColumn, RunsStartAtTheLeftNeighboursLastSample) {
    const Rect plot = PlotOf(729);
    const double v[3] = {1.0, 5.0, 9.0};
    std::int32_t e[MAX_COLUMNS];
    BuildColumnMap(e, 729, 3);
    auto t = FreshTables();
    for (std::int32_t c = 0; c < 728; ++c) {
        UpdateLiveColumn(*t, 0, c, e, v, plot);
    }
    const std::int32_t y1 = VoltToY(1.0, plot);
    const std::int32_t y5 = VoltToY(5.0, plot);
    const std::int32_t y9 = VoltToY(9.0, plot);
    struct Case {
        std::int32_t column, last, top, bottom;
    };
    const Case cases[] = {
        {0, y1, y1, y1},   {242, y1, y1, y1}, {243, y1, y1, y1}, {244, y5, y5, y1},
        {245, y5, y5, y5}, {486, y5, y5, y5}, {487, y9, y9, y5}, {727, y9, y9, y9},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t->lastY[0][c.column], c.last) << c.column;
        EXPECT_EQ(t->minY[0][c.column], c.top) << c.column;
        EXPECT_EQ(t->maxY[0][c.column], c.bottom) << c.column;
    }
}

TEST(UpdateLiveColumn, NeverReadsSamplesThatHaveNotArrived) {
    // Samples up to columnEnd[c] are 5 V; everything after stands for
    // unwritten memory at 11 V, the top row, which must never show.
    // Among them are records whose column lengths differ by two where a
    // product lands just below a half, such as 3136 samples on 8 columns.
    std::vector<std::pair<std::int32_t, std::uint32_t>> cases = {
        {8, 3136}, {21, 4116}, {4, 871256}, {138, 912180}, {247, 774592}};
    for (std::int32_t w : {2, 3, 100, 728, 729}) {
        for (std::uint32_t n : {1u, 2u, 3u, 700u, 729u, 1000u, 1457u, 1459u, 10000u, 99991u}) {
            cases.emplace_back(w, n);
        }
    }
    for (const auto& [w, n] : cases) {
        const Rect p = PlotOf(w);
        {
            std::int32_t e[MAX_COLUMNS];
            BuildColumnMap(e, w, n);
            std::vector<double> v(n, 11.0);
            auto t = FreshTables();
            for (std::int32_t c = 0; c + 1 < w; ++c) {
                std::fill(v.begin(), v.begin() + e[c] + 1, 5.0);
                UpdateLiveColumn(*t, 0, c, e, v.data(), p);
                ASSERT_EQ(t->minY[0][c], VoltToY(5.0, p)) << "w " << w << " n " << n << " c " << c;
            }
        }
    }
}

TEST(UpdateLiveColumn, MapForAnEmptyRecordLeavesTheColumnEmpty) {
    const Rect plot = PlotOf(729);
    std::int32_t e[MAX_COLUMNS];
    BuildColumnMap(e, 729, 0);
    auto t = FreshTables();
    UpdateLiveColumn(*t, 0, 5, e, nullptr, plot);
    EXPECT_GT(t->minY[0][5], t->maxY[0][5]);
}

}  // namespace
