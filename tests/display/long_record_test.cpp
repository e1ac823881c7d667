// A record beyond 2^32 samples per channel: a week at 10 kHz through the
// summaries, the envelope, the view range, the cursor and the time axis, and
// a series of sparse files read past sample 4,294,967,295. No test fills a
// disk: the week is made up on the fly, the files are holes but for a few
// samples.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/envelope.h"
#include "display/timeaxis.h"
#include "display/viewrange.h"
#include "files/dlf.h"
#include "files/temp_dir.h"
#include "record/long_record.h"
#include "record/summaries.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t WEEK = 6048000000;  // 7 x 86,400 s x 10,000 samples/s

struct Spike {
    int channel;
    std::uint64_t sample;
    double value;
};

// 5 V everywhere but for these samples; the first lies past the largest
// 32-bit index, 4,294,967,295, where a wrapped position would read 5 V.
constexpr Spike SPIKES[] = {
    {0, 5000000123, 9.5},
    {1, WEEK - 1, 10.25},
    {2, 4294967296, -0.75},
    {3, 4294967295, __builtin_nan("")},
    {3, 4294967297, 7.0},
};

// A week at 10 kHz made up on demand.
class WeekSource final : public SampleSource {
public:
    std::uint64_t Count() const override { return WEEK; }
    std::int32_t ClockDivider() const override { return 1; }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override {
        std::fill_n(out, count, 5.0);
        for (const Spike& s : SPIKES) {
            if (s.channel == channel && s.sample >= first && s.sample < first + count) {
                out[s.sample - first] = s.value;
            }
        }
        return true;
    }
    double At(int channel, std::uint64_t sample) const override {
        double v = 0.0;
        Copy(channel, sample, 1, &v);
        return v;
    }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override {
        SampleExtremes e = UNREADABLE_RUN;  // merged with any run gives that run
        std::uint64_t spikes = 0;
        for (const Spike& s : SPIKES) {
            if (s.channel == channel && s.sample >= begin && s.sample < end) {
                e = MergeExtremes(e, ExtremesOfRun(&s.value, 1));
                ++spikes;
            }
        }
        return spikes < end - begin ? MergeExtremes(e, {5.0, 5.0}) : e;
    }
};

// Summaries of the week in `shape`, each cell holding the extremes of its
// samples, as a build over every sample would leave them (which would read
// 24 billion samples).
SummaryPyramid WeekSummaries(const WeekSource& week, const SummaryShape& shape) {
    SummaryPyramid p = UniformSummaries(shape, WEEK, 5.0, 1);
    for (SummaryPyramid::Level& level : p.levels) {
        for (const Spike& s : SPIKES) {
            const std::uint64_t k = s.sample / level.cell;
            if (k < level.low[s.channel].size()) {
                const SampleExtremes e = week.Extremes(s.channel, k * level.cell, (k + 1) * level.cell);
                level.low[s.channel][k] = e.low;
                level.high[s.channel][k] = e.high;
            }
        }
    }
    return p;
}

const Rect PLOT{154, 28, 881, 161};  // channel 0's plot of the window: 728 columns

TEST(LongRecordTest, SummariesFindTheExtremesPastTwoToTheThirtySecond) {
    const WeekSource week;
    // 92,285 finest cells; the last 10,240 samples, with CH1's spike, are in no cell.
    const SummaryPyramid p = WeekSummaries(week, {65536, 16, 3});
    struct Row {
        int channel;
        std::uint64_t begin;
        std::uint64_t end;
        double low;
        double high;
    };
    const Row rows[] = {
        {0, 0, WEEK, 5.0, 9.5},
        {0, 5000000123, 5000000124, 9.5, 9.5},
        {0, 4999000000, 5000000123, 5.0, 5.0},
        {0, 5000000124, WEEK, 5.0, 5.0},
        {1, 0, WEEK, 5.0, 10.25},
        {1, WEEK - 10240, WEEK, 5.0, 10.25},
        {1, 0, WEEK - 1, 5.0, 5.0},
        {2, 1, WEEK, -0.75, 5.0},
        {2, 4294967297, WEEK, 5.0, 5.0},
        {3, 4294967295, 4294967296, __builtin_nan(""), -INFINITY},  // a NaN and no number
        {3, 4294967296, 4294967298, 5.0, 7.0},
        {3, 0, WEEK, __builtin_nan(""), 7.0},  // NaN below every number
    };
    for (const Row& row : rows) {
        const SampleExtremes e = p.Extremes(week, row.channel, row.begin, row.end);
        EXPECT_TRUE(e.low == row.low || (std::isnan(e.low) && std::isnan(row.low))) << row.channel << " " << row.begin;
        EXPECT_EQ(e.high, row.high) << row.channel << " " << row.begin;
    }
}

TEST(LongRecordTest, EnvelopeOfAWeekEqualsTheEnvelopeOfItsSamples) {
    const WeekSource week;
    const SummaryPyramid p = WeekSummaries(week, SummaryShapeFor(WEEK));
    EXPECT_EQ(p.shape.baseCell, 4096u);
    EXPECT_EQ(p.levels[0].low[0].size(), 1476562u);
    auto summed = std::make_unique<ColumnTables>();
    auto exact = std::make_unique<ColumnTables>();
    const ViewRange views[] = {{0, WEEK}, {4294967000, 1000}, {4294967290, 10}, {WEEK - 10, 10},
                               {3000000000, 2500000000}, {5000000000, 728}};
    for (const ViewRange& view : views) {
        for (int ch = 0; ch < 4; ++ch) {
            BuildEnvelope(*summed, ch, week, p, view.first, view.count, PLOT);
            BuildEnvelopeOf(
                *exact, ch, view.first, view.count, PLOT,
                [&](std::uint64_t b, std::uint64_t e) { return week.Extremes(ch, b, e); },
                [&](std::uint64_t s) { return week.At(ch, s); });
            for (int c = 0; c < 728; ++c) {
                ASSERT_EQ(summed->minY[ch][c], exact->minY[ch][c]) << view.first << " " << ch << " " << c;
                ASSERT_EQ(summed->maxY[ch][c], exact->maxY[ch][c]) << view.first << " " << ch << " " << c;
                ASSERT_EQ(summed->lastY[ch][c], exact->lastY[ch][c]) << view.first << " " << ch << " " << c;
            }
        }
    }
    // The full view: CH0's 9.5 V spike in column 602 alone (5,000,000,123 x
    // 728 / 6,048,000,000 = 601.8), from row 45 (9.5 V: 28 + 133 x 1.5 / 12)
    // down to the 5 V row 94 (28 + 133 x 6 / 12, just below 95.0).
    BuildEnvelope(*summed, 0, week, p, 0, WEEK, PLOT);
    for (int c = 0; c < 728; ++c) {
        EXPECT_EQ(summed->minY[0][c], c == 602 ? 45 : 94) << c;
        EXPECT_EQ(summed->maxY[0][c], 94) << c;
    }
}

TEST(LongRecordTest, ViewRangeArithmeticHoldsAcrossAWeek) {
    EXPECT_EQ(FullView(WEEK), (ViewRange{0, WEEK}));
    EXPECT_EQ(ClampRange({WEEK - 5, 10}, WEEK), (ViewRange{WEEK - 10, 10}));
    EXPECT_EQ(ClampRange({5000000000, 5}, WEEK), (ViewRange{5000000000, 10}));
    // A notch in with the pointer on the last column keeps the end in view.
    EXPECT_EQ(ZoomAtColumn(FullView(WEEK), WEEK, 728, 727, 0.8), (ViewRange{1209600000, 4838400000}));
    EXPECT_EQ(ZoomAround({5000000000, 1000}, WEEK, 0.5, 1.25), (ViewRange{4999999875, 1250}));
    EXPECT_EQ(PanBySteps({5000000000, 1000000000}, WEEK, 1), (ViewRange{5048000000, 1000000000}));
    EXPECT_EQ(PanBySteps({4294967000, 1000}, WEEK, -3), (ViewRange{4294966700, 1000}));
    EXPECT_EQ(PanByColumns({4294967000, 7280}, WEEK, 728, -1), (ViewRange{4294967010, 7280}));
    EXPECT_EQ(VisibleSpanText({WEEK - 10, 10}, WEEK), "samples 6,047,999,990\u20136,047,999,999 of 6,048,000,000");
    const CursorPoint last = CursorAtColumn({WEEK - 10, 10}, 728, 727);
    EXPECT_EQ(last.sample, WEEK - 1);
    // Ten samples on 728 columns: sample 6 from column 437 (6 x 72.8 + 0.5) on.
    EXPECT_EQ(CursorAtColumn({4294967290, 10}, 728, 436).sample, 4294967295u);
    EXPECT_EQ(CursorAtColumn({4294967290, 10}, 728, 437).sample, 4294967296u);
    const double values[4] = {5.0, 10.25, 5.0, 5.0};
    const std::vector<std::string> expected = {"Sample 6047999999", "Time 604799.9999 S", "CH0 5.00000 V",
                                               "CH1 10.25000 V",    "CH2 5.00000 V",      "CH3 5.00000 V"};
    EXPECT_EQ(CursorReadout(WEEK - 1, SampleTimeNs(1, WEEK - 1), SampleTimeNs(1, WEEK), values), expected);
    EXPECT_EQ(SampleToColumn(5000000123, 728, WEEK), 602);
    EXPECT_EQ(SampleToX(WEEK - 1, PLOT, WEEK - 10, 10), 154 + 655);  // 9 x 72.8 + 0.5
    EXPECT_EQ(SampleTimeNs(1, WEEK), 604800000000000);
    EXPECT_EQ(TotalTimeText(1, WEEK), "604800 S");
    EXPECT_EQ(TimeTickStep(WEEK), 500000000u);
}

TEST(LongRecordTest, TimeAxisOfAWeekLabelsSamplesPastTwoToTheThirtySecond) {
    const LabelWidth width = [](const std::string& text) { return 6 * static_cast<int>(text.size()); };
    // Ten-digit indexes every 500,000,000 samples would touch: every 1,000,000,000.
    const std::vector<AxisTick> full = TimeAxisTicks(FullView(WEEK), WEEK, 1, PLOT, width);
    ASSERT_EQ(full.size(), 7u);
    EXPECT_EQ(full[5].sample, 5000000000u);
    EXPECT_EQ(full[5].index, "5000000000");
    EXPECT_EQ(full[5].time, "500000 S");
    EXPECT_EQ(full[6].sample, 6000000000u);
    EXPECT_EQ(full[6].x, 154 + 722);  // 6e9 x 728 / 6.048e9 = 722.2
    // Zoomed on the last 32-bit index: 13-character times need two samples
    // a tick (145.6 pixels), and show the 0.1 ms of a sample.
    const std::vector<AxisTick> zoomed = TimeAxisTicks({4294967290, 10}, WEEK, 1, PLOT, width);
    ASSERT_EQ(zoomed.size(), 5u);
    EXPECT_EQ(zoomed[3].sample, 4294967296u);
    EXPECT_EQ(zoomed[3].index, "4294967296");
    EXPECT_EQ(zoomed[3].time, "429496.7296 S");
    EXPECT_EQ(zoomed[3].x, 154 + 437);
    EXPECT_EQ(zoomed[4].time, "429496.7298 S");
}

// A series of 4,295 files of 1,000,000 samples, 4,295,000,000 per channel:
// headers and holes, but for CH1 at 4,294,967,296 (7.25 V) and the last
// sample of CH0 (3.5 V). A hole reads as 0 V.
TEST(LongRecordTest, ASeriesOfSparseFilesReadsPastTwoToTheThirtySecond) {
    constexpr std::uint32_t FILE_SAMPLES = 1000000;
    constexpr int FILES = 4295;
    TempDir dir;
    const std::vector<std::string> paths = WriteSparseSeries(dir.Path(""), "week", FILES, FILE_SAMPLES);
    ASSERT_EQ(paths.size(), 4295u);
    {
        // Sample 967,296 of CH1 and sample 999,999 of CH0 of the last file.
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CLOEXEC);
        const double high = 7.25;
        const double last = 3.5;
        ASSERT_EQ(::pwrite(fd, &high, 8, DLF_HEADER_SIZE + 8 * off_t{FILE_SAMPLES + 967296}), 8);
        ASSERT_EQ(::pwrite(fd, &last, 8, DLF_HEADER_SIZE + 8 * off_t{FILE_SAMPLES - 1}), 8);
        ::close(fd);
    }
    SeriesSource source;
    ASSERT_EQ(source.Open(paths), FileError::None);
    EXPECT_EQ(source.Count(), 4295000000u);
    EXPECT_EQ(source.Reader().FirstSample(FILES - 1), 4294000000u);
    EXPECT_EQ(source.At(1, 4294967296), 7.25);
    EXPECT_EQ(source.At(1, 4294967295), 0.0);
    EXPECT_EQ(source.At(1, 967296), 0.0);
    EXPECT_EQ(source.At(0, 4294999999), 3.5);
    const SampleExtremes e = source.Extremes(1, 4293999000, 4295000000);
    EXPECT_EQ(e.low, 0.0);
    EXPECT_EQ(e.high, 7.25);
    std::vector<double> copy(2000, -9.0);
    ASSERT_TRUE(source.Copy(1, 4294966296, 2000, copy.data()));
    EXPECT_EQ(copy[999], 0.0);
    EXPECT_EQ(copy[1000], 7.25);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), 0.0), 1999);
    std::vector<double> tail(3, -9.0);
    ASSERT_TRUE(source.Copy(0, 4294999997, 3, tail.data()));
    EXPECT_EQ(tail, (std::vector<double>{0.0, 0.0, 3.5}));
}

}  // namespace
