// Summaries extended as a record grows equal the summaries built at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "record/samplesource.h"
#include "record/summaries.h"

namespace {

// Four channels of samples; a source of the first `count` of them.
struct Samples {
    std::vector<double> channel[4];
    RecordSource First(std::uint64_t count) const {
        const double* channels[4] = {channel[0].data(), channel[1].data(), channel[2].data(), channel[3].data()};
        return RecordSource(channels, static_cast<std::uint32_t>(count), 1);
    }
};

bool SameBits(const void* a, const void* b, std::size_t size) { return std::memcmp(a, b, size) == 0; }

void ExpectSame(const SummaryPyramid& extended, const SummaryPyramid& built) {
    ASSERT_EQ(extended.count, built.count);
    ASSERT_EQ(extended.levels.size(), built.levels.size());
    for (std::size_t l = 0; l < built.levels.size(); ++l) {
        const SummaryPyramid::Level& a = extended.levels[l];
        const SummaryPyramid::Level& b = built.levels[l];
        ASSERT_EQ(a.cell, b.cell);
        for (int ch = 0; ch < 4; ++ch) {
            ASSERT_EQ(a.low[ch].size(), b.low[ch].size()) << "level " << l;
            ASSERT_EQ(a.stats[ch].size(), b.stats[ch].size()) << "level " << l;
            for (std::size_t k = 0; k < b.low[ch].size(); ++k) {
                EXPECT_TRUE(SameBits(&a.low[ch][k], &b.low[ch][k], sizeof(double))) << l << " " << ch << " " << k;
                EXPECT_TRUE(SameBits(&a.high[ch][k], &b.high[ch][k], sizeof(double))) << l << " " << ch << " " << k;
            }
            for (std::size_t k = 0; k < b.stats[ch].size(); ++k) {
                const StatisticsCell& x = a.stats[ch][k];
                const StatisticsCell& y = b.stats[ch][k];
                EXPECT_TRUE(SameBits(&x.center, &y.center, sizeof(double)) && SameBits(&x.residual, &y.residual, sizeof(double)) &&
                            SameBits(&x.deviations, &y.deviations, sizeof(double)) &&
                            SameBits(&x.minimum, &y.minimum, sizeof(double)) &&
                            SameBits(&x.maximum, &y.maximum, sizeof(double)) && x.numbers == y.numbers && x.nans == y.nans)
                    << "statistics cell " << l << " " << ch << " " << k;
            }
        }
    }
    const auto same = [](const ChannelStatistics& a, const ChannelStatistics& b) {
        return a.valid == b.valid && (!a.valid || (SameBits(&a.maximum, &b.maximum, sizeof(double)) &&
                                                   SameBits(&a.minimum, &b.minimum, sizeof(double))));
    };
    for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(same(extended.statistics[ch], built.statistics[ch])) << ch;
    ASSERT_EQ(extended.partStatistics.size(), built.partStatistics.size());
    for (std::size_t part = 0; part < built.partStatistics.size(); ++part) {
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_TRUE(same(extended.partStatistics[part][ch], built.partStatistics[part][ch])) << part << " " << ch;
        }
    }
}

// Extends step by step to each count of `steps`, comparing with a build at once at each.
void ExpectStepsEqualBuild(const Samples& samples, const SummaryShape& shape, const std::vector<std::uint64_t>& steps,
                           const std::vector<std::uint64_t>& partStarts) {
    SummaryPyramid extended;
    extended.shape = shape;
    for (const std::uint64_t upTo : steps) {
        SCOPED_TRACE("to " + std::to_string(upTo));
        std::vector<std::uint64_t> starts;
        for (const std::uint64_t s : partStarts) {
            if (s < upTo || s == 0) starts.push_back(s);
        }
        const RecordSource source = samples.First(upTo);
        ASSERT_TRUE(extended.Extend(source, upTo, starts));
        SummaryPyramid built;
        SummaryProgress progress;
        ASSERT_EQ(BuildSummaries(source, shape, 2, progress, built, starts), SummaryResult::Done);
        ExpectSame(extended, built);
    }
}

TEST(SummariesExtend, SmallRecordsGrowingSampleBySampleHoldTheseCells) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Samples samples;
    samples.channel[0] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5};
    samples.channel[1] = {nan, nan, nan, 7, -1, nan, 0, 0, 2, 2, 2};
    samples.channel[2] = {-2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2};
    samples.channel[3] = {1e9, 1e9 + 1, 1e9 + 2, 1e9, 1e9, 1e9, 1e9, 1e9, 1e9, 1e9, 1};
    // Cells of 2, 4 and 8 samples.
    const SummaryShape shape{2, 2, 3};
    std::vector<std::uint64_t> steps;
    for (std::uint64_t n = 0; n <= 11; ++n) steps.push_back(n);
    ExpectStepsEqualBuild(samples, shape, steps, {0, 5});
    ExpectStepsEqualBuild(samples, shape, {1, 3, 9, 11}, {0, 3, 9});
    ExpectStepsEqualBuild(samples, {4, 2, 1}, {2, 5, 8, 9, 11}, {0});

    // The cells themselves, as the format of the cells states them.
    SummaryPyramid p;
    p.shape = shape;
    ASSERT_TRUE(p.Extend(samples.First(5), 5, std::vector<std::uint64_t>{0}));
    ASSERT_TRUE(p.Extend(samples.First(11), 11, std::vector<std::uint64_t>{0}));
    EXPECT_EQ(p.levels[0].low[0], (std::vector<double>{1, 1, 5, 2, 3}));
    EXPECT_EQ(p.levels[0].high[0], (std::vector<double>{3, 4, 9, 6, 5}));
    EXPECT_EQ(p.levels[1].low[0], (std::vector<double>{1, 2}));
    EXPECT_EQ(p.levels[1].high[0], (std::vector<double>{4, 9}));
    EXPECT_EQ(p.levels[2].high[0], (std::vector<double>{9}));
    EXPECT_EQ(p.levels[1].stats[1][0].numbers, 1u);
    EXPECT_EQ(p.levels[1].stats[1][0].nans, 3u);
    EXPECT_EQ(p.levels[2].stats[1][0].nans, 4u);
    EXPECT_EQ(p.statistics[1].maximum, 7);
    EXPECT_EQ(p.statistics[1].minimum, -1);
    EXPECT_EQ(p.statistics[3].minimum, 1);
    EXPECT_EQ(p.statistics[3].maximum, 1e9 + 2);
}

TEST(SummariesExtend, ALongRecordGrowingInRandomStepsEqualsItsBuild) {
    std::mt19937_64 random(25);
    std::normal_distribution<double> noise(0.0, 1.0);
    const std::uint64_t total = 300000;
    Samples samples;
    for (auto& channel : samples.channel) {
        channel.resize(total);
        for (double& v : channel) v = noise(random);
    }
    samples.channel[1][70000] = std::nan("");
    std::vector<std::uint64_t> steps;
    std::uniform_int_distribution<std::uint64_t> step(1, 40000);
    for (std::uint64_t n = 1; n < total; n += step(random)) steps.push_back(n);
    steps.push_back(4096);
    steps.push_back(65536 * 2);
    std::sort(steps.begin(), steps.end());
    steps.push_back(total);
    ExpectStepsEqualBuild(samples, SummaryShape{}, steps, {0, 100000, 200000});
}

// A source whose samples past `readable` cannot be read.
class CutSource final : public SampleSource {
public:
    CutSource(const RecordSource& all, std::uint64_t readable) : m_all(all), m_readable(readable) {}
    std::uint64_t Count() const override { return m_all.Count(); }
    std::int32_t ClockDivider() const override { return 1; }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override {
        return first + count <= m_readable && m_all.Copy(channel, first, count, out);
    }
    double At(int channel, std::uint64_t sample) const override { return m_all.At(channel, sample); }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override {
        return m_all.Extremes(channel, begin, end);
    }

private:
    const RecordSource& m_all;
    std::uint64_t m_readable;
};

TEST(SummariesExtend, AReadErrorKeepsWhatWasSummarised) {
    Samples samples;
    for (auto& channel : samples.channel) channel.assign(40, 1.0);
    const SummaryShape shape{2, 2, 3};
    SummaryPyramid p;
    p.shape = shape;
    ASSERT_TRUE(p.Extend(samples.First(10), 10));
    const RecordSource all = samples.First(40);
    EXPECT_FALSE(p.Extend(CutSource(all, 20), 40));
    EXPECT_EQ(p.count, 10u);
    EXPECT_EQ(p.levels[0].low[0].size(), 5u);
    EXPECT_EQ(p.levels[2].low[0].size(), 1u);
    ASSERT_TRUE(p.Extend(all, 40));
    SummaryPyramid built;
    SummaryProgress progress;
    ASSERT_EQ(BuildSummaries(all, shape, 1, progress, built), SummaryResult::Done);
    ExpectSame(p, built);
}

}  // namespace
