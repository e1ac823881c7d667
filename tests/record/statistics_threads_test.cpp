// Statistics of any range of a record, from the summaries' statistics cells
// and raw samples at the ends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "files/dlf.h"
#include "files/temp_dir.h"
#include "record/statistics.h"
#include "record/summaries.h"
#include "record/summary_cache.h"

namespace {

const double NaN = std::nan("");

SummaryPyramid Summarise(const SampleSource& source, const SummaryShape& shape, int threads = 1) {
    SummaryProgress progress;
    SummaryPyramid p;
    EXPECT_EQ(BuildSummaries(source, shape, threads, progress, p), SummaryResult::Done);
    return p;
}

// 21 samples summarised in cells of 4, 8 and 16 (statistics in the last two).
// CH0 counts up with a NaN at 8, a dip to -3 V at 10 and its maximum twice
// (18 and 19); CH1 steps 0, 1/1024, 2/1024 V above 1000 V, where a sum of
// squares would lose the deviation; CH2 is NaN throughout; CH3 is below the
// plot's -1 V row throughout.
struct Handmade {
    std::vector<double> ch[4];
    std::unique_ptr<RecordSource> source;
    SummaryPyramid summaries;
    Handmade() {
        ch[0] = {1, 2, 3, 4, 5, 6, 7, 8, NaN, 10, -3, 12, 13, 14, 15, 16, 17, 18, 20, 20, 19};
        for (int i = 0; i < 21; ++i) {
            ch[1].push_back(1000.0 + (i % 3) / 1024.0);
            ch[2].push_back(NaN);
            ch[3].push_back(-5.0 - (i % 2));
        }
        const double* channels[4] = {ch[0].data(), ch[1].data(), ch[2].data(), ch[3].data()};
        source = std::make_unique<RecordSource>(channels, 21, 1);
        summaries = Summarise(*source, SummaryShape{4, 2, 3});
    }
};

struct Expected {
    int channel;
    std::uint64_t first, last;
    std::uint64_t count, nans;
    double minimum;
    std::uint64_t minimumAt;
    double maximum;
    std::uint64_t maximumAt;
    double mean, rms, deviation, peakToPeak;
};

// Worked out by hand in exact fractions.
const Expected HANDMADE[] = {
    {0, 0, 21, 21, 1, -3.0, 10, 20.0, 18, 10.35, 12.403628501370072, 6.835751604615252, 23.0},
    {0, 3, 19, 16, 1, -3.0, 10, 20.0, 18, 10.8, 12.38816639647154, 6.068497892120147, 23.0},
    {0, 11, 21, 10, 0, 12.0, 11, 20.0, 18, 16.4, 16.625281952496323, 2.727636339397171, 8.0},
    {0, 9, 10, 1, 0, 10.0, 9, 10.0, 9, 10.0, 10.0, 0.0, 0.0},
    {0, 8, 9, 1, 1, NaN, 8, NaN, 8, NaN, NaN, NaN, NaN},
    {0, 5, 5, 0, 0, NaN, 5, NaN, 5, NaN, NaN, NaN, NaN},
    {1, 0, 21, 21, 0, 1000.0, 0, 1000.001953125, 2, 1000.0009765625, 1000.0009765628179, 0.0007973599423122325,
     0.001953125},
    {1, 2, 17, 15, 0, 1000.0, 3, 1000.001953125, 2, 1000.0009765625, 1000.0009765628179, 0.0007973599423122325,
     0.001953125},
    {2, 0, 21, 21, 21, NaN, 0, NaN, 0, NaN, NaN, NaN, NaN},
    {3, 0, 21, 21, 0, -6.0, 1, -5.0, 0, -5.476190476190476, 5.498917642417936, 0.4994327848429293, 1.0},
};

void ExpectNear(double actual, double expected, double relative, const char* what) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << what << " " << actual;
    } else {
        EXPECT_NEAR(actual, expected, relative * std::fabs(expected)) << what;
    }
}

TEST(RangeStatisticsTest, HandMadeRecordsGiveTheirLiteralStatistics) {
    const Handmade record;
    for (const SummaryPyramid* summaries : {&record.summaries, static_cast<const SummaryPyramid*>(nullptr)}) {
        for (const Expected& e : HANDMADE) {
            SCOPED_TRACE(testing::Message() << "CH" << e.channel << " [" << e.first << ", " << e.last << ") "
                                            << (summaries ? "from the cells" : "raw"));
            const std::optional<RangeStatistics> s =
                StatisticsOf(*record.source, summaries, e.channel, e.first, e.last);
            ASSERT_TRUE(s.has_value());
            EXPECT_EQ(s->count, e.count);
            EXPECT_EQ(s->nanCount, e.nans);
            ExpectNear(s->minimum, e.minimum, 0, "minimum");
            ExpectNear(s->maximum, e.maximum, 0, "maximum");
            EXPECT_EQ(s->minimumAt, e.minimumAt);
            EXPECT_EQ(s->maximumAt, e.maximumAt);
            ExpectNear(s->mean, e.mean, 1e-15, "mean");
            ExpectNear(s->rms, e.rms, 1e-15, "rms");
            ExpectNear(s->deviation, e.deviation, 1e-15, "deviation");
            ExpectNear(s->peakToPeak, e.peakToPeak, 0, "peak-to-peak");
        }
    }
}

// Infinities and numbers up to the largest double, each channel of a record
// of `count` samples holding `value(i)`; expected as numpy gives them
// (nanmean, nanstd and the root of nanmean(x**2)), the finite ones, whose
// squares overflow a double there, worked out in exact fractions.
struct Extreme {
    const char* name;
    std::uint64_t count;
    double (*value)(std::uint64_t i);
    Expected expected;
};

const double INF = INFINITY;

const Extreme EXTREMES[] = {
    {"inf among numbers", 21, [](std::uint64_t i) { return i == 13 ? INF : 0.5 * i; },
     {0, 0, 21, 21, 0, 0.0, 0, INF, 13, INF, INF, NaN, INF}},
    {"-inf among numbers", 21, [](std::uint64_t i) { return i == 5 ? -INF : 0.5 * i; },
     {0, 0, 21, 21, 0, -INF, 5, 10.0, 20, -INF, INF, NaN, INF}},
    {"inf and -inf", 21, [](std::uint64_t i) { return i == 3 ? INF : i == 17 ? -INF : 0.5 * i; },
     {0, 0, 21, 21, 0, -INF, 17, INF, 3, NaN, INF, NaN, INF}},
    {"1e305 ten thousand times", 10000, [](std::uint64_t) { return 1e305; },
     {0, 0, 10000, 10000, 0, 1e305, 0, 1e305, 0, 1e305, 1e305, 0.0, 0.0}},
    {"the largest double", 21, [](std::uint64_t) { return 1.7976931348623157e308; },
     {0, 0, 21, 21, 0, 1.7976931348623157e308, 0, 1.7976931348623157e308, 0, 1.7976931348623157e308,
      1.7976931348623157e308, 0.0, 0.0}},
    {"1e300 and -1e300 in turn", 21, [](std::uint64_t i) { return i == 20 ? NaN : i % 2 == 0 ? 1e300 : -1e300; },
     {0, 0, 21, 21, 1, -1e300, 1, 1e300, 0, 0.0, 1e300, 1e300, 2e300}},
    {"1.7e308 and -1.7e308 in turn", 21,
     [](std::uint64_t i) { return i == 20 ? NaN : i % 2 == 0 ? 1.7e308 : -1.7e308; },
     {0, 0, 21, 21, 1, -1.7e308, 1, 1.7e308, 0, 0.0, 1.7e308, 1.7e308, INF}},
    {"1e-300 and -1e-300 in turn", 21,
     [](std::uint64_t i) { return i == 20 ? NaN : i % 2 == 0 ? 1e-300 : -1e-300; },
     {0, 0, 21, 21, 1, -1e-300, 1, 1e-300, 0, 0.0, 1e-300, 1e-300, 2e-300}},
    {"a spread of 2e286 on 1e300", 21, [](std::uint64_t i) { return 1e300 + static_cast<double>(i) * 1e285; },
     {0, 0, 21, 21, 0, 1e300, 0, 1.00000000000002e300, 20, 1.00000000000001e300, 1.00000000000001e300,
      6.051769045748341e285, 1.9926026573602293e286}},
};

TEST(RangeStatisticsTest, InfinitiesAndHugeNumbersGiveNumpysStatistics) {
    for (const Extreme& row : EXTREMES) {
        std::vector<double> samples(row.count);
        for (std::uint64_t i = 0; i < row.count; ++i) {
            samples[i] = row.value(i);
        }
        const double* channels[4] = {samples.data(), samples.data(), samples.data(), samples.data()};
        const RecordSource source(channels, row.count, 1);
        const SummaryPyramid summaries = Summarise(source, SummaryShape{4, 2, 3});
        const Expected& e = row.expected;
        for (const SummaryPyramid* cells : {&summaries, static_cast<const SummaryPyramid*>(nullptr)}) {
            SCOPED_TRACE(testing::Message() << row.name << (cells ? " from the cells" : " raw"));
            const std::optional<RangeStatistics> s = StatisticsOf(source, cells, 0, 0, row.count);
            ASSERT_TRUE(s.has_value());
            EXPECT_EQ(s->count, e.count);
            EXPECT_EQ(s->nanCount, e.nans);
            EXPECT_EQ(s->minimum, e.minimum);
            EXPECT_EQ(s->maximum, e.maximum);
            EXPECT_EQ(s->minimumAt, e.minimumAt);
            EXPECT_EQ(s->maximumAt, e.maximumAt);
            for (const auto& [actual, expected, what] :
                 {std::tuple{s->mean, e.mean, "mean"}, std::tuple{s->rms, e.rms, "rms"},
                  std::tuple{s->deviation, e.deviation, "deviation"},
                  std::tuple{s->peakToPeak, e.peakToPeak, "peak-to-peak"}}) {
                if (std::isinf(expected) || expected == 0.0) {
                    EXPECT_EQ(actual, expected) << what;
                } else {
                    ExpectNear(actual, expected, 1e-14, what);
                }
            }
        }
    }
}

TEST(RangeStatisticsTest, CellsHoldTrueValues) {
    const Handmade record;
    // CH3 lies below -1 V and CH0's second cell of 8 holds a NaN: the min/max
    // cells and the statistics cells keep them as they are (the plot's -1 V
    // row is the display's), a NaN being the lowest of the min/max cells.
    const SummaryPyramid::Level& eight = record.summaries.levels[1];
    EXPECT_EQ(eight.low[3][0], -6.0);
    EXPECT_EQ(eight.high[3][0], -5.0);
    EXPECT_TRUE(std::isnan(eight.low[0][1]));
    EXPECT_EQ(eight.high[0][1], 16.0);
    EXPECT_TRUE(std::isnan(eight.low[2][0]));
    EXPECT_EQ(eight.high[2][0], -INFINITY);
    EXPECT_EQ(eight.stats[3][0].minimum, -6.0);
    EXPECT_EQ(eight.stats[3][0].maximum, -5.0);
    EXPECT_EQ(eight.stats[0][1].minimum, -3.0);
    EXPECT_EQ(eight.stats[0][1].nans, 1u);
    EXPECT_EQ(eight.stats[0][1].numbers, 7u);
    const StatisticsCell& c = eight.stats[0][1];
    // Its sums are scaled by 2^-4, its largest number 16 lying below 2^5.
    EXPECT_EQ(StatisticsExponent(c), 4);
    EXPECT_DOUBLE_EQ(c.center + c.residual * 16 / 7, 11.0);
    EXPECT_DOUBLE_EQ((c.deviations - c.residual * c.residual / 7) * 256, 1 + 196 + 1 + 4 + 9 + 16 + 25.0);
    EXPECT_TRUE(record.summaries.levels[0].stats[0].empty());
    EXPECT_EQ(record.summaries.levels[2].stats[2][0].nans, 16u);
}

// A series of ten files of about a million samples each, none a multiple of
// a cell, with a slow wave, noise, spikes and a few NaN on every channel.
class SeriesStatisticsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        all = new std::vector<double>[4];
        std::mt19937_64 random(26);
        std::normal_distribution<double> noise(0.0, 0.01);
        std::vector<std::string> paths;
        std::uint32_t offset = 0;
        for (int f = 0; f < 10; ++f) {
            const std::uint32_t n = 1000000 - 4099 * static_cast<std::uint32_t>(f % 3);
            std::vector<double> data[4];
            for (int ch = 0; ch < 4; ++ch) {
                data[ch].resize(n);
                for (std::uint32_t s = 0; s < n; ++s) {
                    const double t = (offset + s) * 1e-5 * (ch + 1);
                    data[ch][s] = 1.5 * ch - 0.5 + 0.8 * std::sin(t) + noise(random);
                    if (random() % 200000 == 0) {
                        data[ch][s] = NaN;
                    } else if (random() % 100000 == 0) {
                        data[ch][s] += random() % 2 == 0 ? 9.0 : -9.0;
                    }
                }
            }
            DataFileHeader header;
            header.clockDivider = 1;
            header.sampleCount = n;
            const double* pointers[4] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
            paths.push_back(dir->Path("long-00000" + std::to_string(f) + ".dlf"));
            ASSERT_EQ(SaveDataFile(paths.back(), header, pointers), FileError::None);
            for (int ch = 0; ch < 4; ++ch) {
                all[ch].insert(all[ch].end(), data[ch].begin(), data[ch].end());
            }
            offset += n;
        }
        source = new SeriesSource;
        ASSERT_EQ(source->Open(paths), FileError::None);
        // Two threads, each filling the cells of its own stretches.
        summaries = new SummaryPyramid(Summarise(*source, SummaryShape{}, 2));
    }
    static void TearDownTestSuite() {
        delete summaries;
        delete source;
        delete[] all;
        delete dir;
    }

    static TempDir* dir;
    static std::vector<double>* all;
    static SeriesSource* source;
    static SummaryPyramid* summaries;
};

TempDir* SeriesStatisticsTest::dir = nullptr;
std::vector<double>* SeriesStatisticsTest::all = nullptr;
SeriesSource* SeriesStatisticsTest::source = nullptr;
SummaryPyramid* SeriesStatisticsTest::summaries = nullptr;

// The statistics the plain way: every sample read, the mean first, then the
// deviations from it, all in extended precision.
RangeStatistics Direct(const std::vector<double>& v, std::uint64_t first, std::uint64_t last) {
    RangeStatistics r;
    r.count = last - first;
    long double sum = 0;
    long double squares = 0;
    std::uint64_t numbers = 0;
    r.minimum = INFINITY;
    r.maximum = -INFINITY;
    for (std::uint64_t i = first; i < last; ++i) {
        if (std::isnan(v[i])) {
            ++r.nanCount;
            continue;
        }
        ++numbers;
        sum += v[i];
        squares += static_cast<long double>(v[i]) * v[i];
        if (v[i] < r.minimum) {
            r.minimum = v[i];
            r.minimumAt = i;
        }
        if (v[i] > r.maximum) {
            r.maximum = v[i];
            r.maximumAt = i;
        }
    }
    const long double mean = sum / numbers;
    long double deviations = 0;
    for (std::uint64_t i = first; i < last; ++i) {
        if (!std::isnan(v[i])) {
            deviations += (v[i] - mean) * (v[i] - mean);
        }
    }
    r.mean = static_cast<double>(mean);
    r.rms = static_cast<double>(std::sqrt(squares / numbers));
    r.deviation = static_cast<double>(std::sqrt(deviations / numbers));
    r.peakToPeak = r.maximum - r.minimum;
    return r;
}

TEST_F(SeriesStatisticsTest, AThousandRangesAgreeWithADirectComputation) {
    const std::uint64_t count = source->Count();
    ASSERT_GT(count, 9900000u);
    std::mt19937_64 random(1026);
    const auto below = [&](std::uint64_t n) { return random() % n; };
    int insideOneCell = 0;
    int acrossFiles = 0;
    for (int i = 0; i < 1000; ++i) {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        // Lengths spread evenly over the orders of magnitude.
        const auto length = [&] {
            return static_cast<std::uint64_t>(std::exp(std::uniform_real_distribution<double>(0, 16)(random)));
        };
        switch (i % 4) {
        case 0: {  // inside one cell of 4096
            const std::uint64_t cell = below(count / 4096);
            first = cell * 4096 + below(4096);
            last = first + 1 + below(cell * 4096 + 4096 - first);
            ++insideOneCell;
            break;
        }
        case 1: {  // across a boundary between files
            const std::uint64_t boundary = source->Reader().FirstSample(1 + below(9));
            first = boundary - 1 - std::min(boundary - 1, length());
            last = std::min(count, boundary + 1 + length());
            ++acrossFiles;
            break;
        }
        default:  // anywhere, and now and then from near one end to near the other
            first = i % 100 == 3 ? below(100000) : below(count);
            last = i % 100 == 3 ? count - below(100000) : std::min(count, first + 1 + length());
            break;
        }
        const int channel = static_cast<int>(below(4));
        SCOPED_TRACE(testing::Message() << "CH" << channel << " [" << first << ", " << last << ")");
        const RangeStatistics expected = Direct(all[channel], first, last);
        const std::optional<RangeStatistics> s = StatisticsOf(*source, summaries, channel, first, last);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->count, expected.count);
        EXPECT_EQ(s->nanCount, expected.nanCount);
        if (expected.nanCount == expected.count) {
            EXPECT_TRUE(std::isnan(s->mean));
            continue;
        }
        EXPECT_EQ(s->minimum, expected.minimum);
        EXPECT_EQ(s->maximum, expected.maximum);
        EXPECT_EQ(s->minimumAt, expected.minimumAt);
        EXPECT_EQ(s->maximumAt, expected.maximumAt);
        EXPECT_EQ(s->peakToPeak, expected.peakToPeak);
        ExpectNear(s->mean, expected.mean, 1e-12, "mean");
        ExpectNear(s->rms, expected.rms, 1e-12, "rms");
        ExpectNear(s->deviation, expected.deviation, 1e-12, "deviation");
    }
    EXPECT_EQ(insideOneCell, 250);
    EXPECT_EQ(acrossFiles, 250);
}

TEST_F(SeriesStatisticsTest, StatisticsCellsComeBackFromTheCacheAsStored) {
    TempDir cache;
    ASSERT_TRUE(StoreSummaries(cache.Path("summaries"), *source, *summaries));
    SummaryPyramid loaded;
    ASSERT_TRUE(LoadSummaries(cache.Path("summaries"), *source, SummaryShape{}, loaded));
    ASSERT_EQ(loaded.levels.size(), summaries->levels.size());
    for (std::size_t l = 0; l < loaded.levels.size(); ++l) {
        for (int ch = 0; ch < 4; ++ch) {
            const std::vector<StatisticsCell>& a = loaded.levels[l].stats[ch];
            const std::vector<StatisticsCell>& b = summaries->levels[l].stats[ch];
            ASSERT_EQ(a.size(), b.size()) << "level " << l;
            EXPECT_EQ(a.size(), l == 0 ? 0 : source->Count() / summaries->levels[l].cell);
            EXPECT_TRUE(a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(StatisticsCell)) == 0) << "level " << l;
        }
    }
}

TEST(RangeStatisticsTest, AFileThatCannotBeReadGivesNoStatistics) {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<double> samples(5000, 1.25);
    for (int f = 0; f < 2; ++f) {
        DataFileHeader header;
        header.sampleCount = 5000;
        const double* pointers[4] = {samples.data(), samples.data(), samples.data(), samples.data()};
        paths.push_back(dir.Path("cut-00000" + std::to_string(f + 1) + ".dlf"));
        ASSERT_EQ(SaveDataFile(paths.back(), header, pointers), FileError::None);
    }
    SeriesSource source;
    ASSERT_EQ(source.Open(paths), FileError::None);
    const SummaryPyramid summaries = Summarise(source, SummaryShape{});
    std::filesystem::resize_file(paths[1], DLF_HEADER_SIZE + 100);
    // The cells answer for [0, 4096); the rest must be read.
    EXPECT_TRUE(StatisticsOf(source, &summaries, 0, 0, 4096).has_value());
    EXPECT_FALSE(StatisticsOf(source, &summaries, 0, 0, 10000).has_value());
    EXPECT_FALSE(StatisticsOf(source, nullptr, 0, 4000, 6000).has_value());
    // Also when the extremes' positions are not asked for.
    EXPECT_FALSE(StatisticsOf(source, &summaries, 0, 0, 10000, false).has_value());
    EXPECT_FALSE(StatisticsOf(source, nullptr, 0, 4000, 6000, false).has_value());
}

}  // namespace
