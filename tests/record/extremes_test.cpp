// The extremes of a run of samples: true values, a NaN below every number.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "record/extremes.h"

namespace {

const double NaN = std::nan("");
const double INF = INFINITY;

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

TEST(ExtremesOfRun, KeepTrueValuesWithANaNBelowEveryNumber) {
    struct Row {
        std::vector<double> samples;
        double low;
        double high;
    };
    const Row rows[] = {
        {{5.0}, 5.0, 5.0},
        {{-3.5, 2.0}, -3.5, 2.0},
        {{4.0, -7.25, 12.5}, -7.25, 12.5},
        {{NaN, 4.0, 3.0}, NaN, 4.0},
        {{4.0, NaN, 3.0, 6.0}, NaN, 6.0},
        {{4.0, 3.0, 6.0, 1.0, NaN}, NaN, 6.0},
        {{NaN}, NaN, -INF},
        {{NaN, NaN, NaN, NaN}, NaN, -INF},
        {{-INF, 2.0, INF}, -INF, INF},
        {{-2.0, -5.0, -1.5}, -5.0, -1.5},
    };
    for (const Row& row : rows) {
        const SampleExtremes e = ExtremesOfRun(row.samples.data(), row.samples.size());
        EXPECT_TRUE(Same(e.low, row.low)) << row.samples.size() << " " << e.low;
        EXPECT_TRUE(Same(e.high, row.high)) << row.samples.size() << " " << e.high;
        EXPECT_FALSE(IsUnreadable(e));
    }
}

TEST(ExtremesOfRun, MergeAndSpanOrderANaNBelowEveryNumber) {
    struct Row {
        SampleExtremes a;
        SampleExtremes b;
        double low;
        double high;
        bool aSpansB;
    };
    const Row rows[] = {
        {{1.0, 4.0}, {2.0, 3.0}, 1.0, 4.0, true},
        {{2.0, 3.0}, {1.0, 4.0}, 1.0, 4.0, false},
        {{1.0, 4.0}, {NaN, 3.0}, NaN, 4.0, false},
        {{NaN, 4.0}, {-9.0, 3.0}, NaN, 4.0, true},
        {{NaN, 4.0}, {NaN, -INF}, NaN, 4.0, true},
        {UNREADABLE_RUN, {NaN, -INF}, NaN, -INF, false},
        {{-2.0, 5.0}, UNREADABLE_RUN, -2.0, 5.0, true},
    };
    for (const Row& row : rows) {
        const SampleExtremes m = MergeExtremes(row.a, row.b);
        EXPECT_TRUE(Same(m.low, row.low)) << row.a.low << " " << row.b.low;
        EXPECT_TRUE(Same(m.high, row.high)) << row.a.high << " " << row.b.high;
        EXPECT_EQ(SpansExtremes(row.a, row.b), row.aSpansB) << row.a.low << " " << row.b.low;
    }
    EXPECT_TRUE(IsUnreadable(UNREADABLE_RUN));
}
