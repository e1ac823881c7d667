#include "app/shown_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "app/follow_view.h"
#include "app/markers.h"
#include "record/summary_cache.h"
#include "series_files.h"

namespace {

// The bank as the dialog holds it: three samples per channel at 1 kHz.
TEST(ShownRecordTest, OneModelForTheBankAndForASeries) {
    double samples[4][3] = {{1.0, -2.0, 3.0}, {0.5, 0.5, 0.5}, {7.0, 7.0, 7.0}, {5.0, 6.0, 4.0}};
    double* bank[4] = {samples[0], samples[1], samples[2], samples[3]};
    std::int32_t count = 3;
    std::int32_t divider = 10;
    ShownRecord shown(bank, count, divider);
    QSignalSpy shownSpy(&shown, &ShownRecord::shown);
    QSignalSpy appendedSpy(&shown, &ShownRecord::appended);

    EXPECT_EQ(shown.Count(), 3u);
    double maximum = 0.0;
    double minimum = 0.0;
    ASSERT_TRUE(shown.WholeExtremes(0, maximum, minimum));
    EXPECT_EQ(maximum, 3.0);
    EXPECT_EQ(minimum, -2.0);
    shown.Read([](const SampleSource& source, const SummaryPyramid* summaries) {
        EXPECT_EQ(source.Count(), 3u);
        EXPECT_EQ(source.At(3, 1), 6.0);
        EXPECT_EQ(summaries, nullptr);
    });
    EXPECT_EQ(shown.SampleUtc(2), std::nullopt);

    // One data file read into the bank tells its samples' time by its stamp:
    // 2 samples of 1 ms after 1765000000 s.
    RecordingStamp stamp;
    stamp.startMicros = 1765000000000000;
    shown.ShowBank(stamp);
    EXPECT_EQ(shownSpy.count(), 1);
    EXPECT_EQ(shown.SampleUtc(2), std::optional<std::int64_t>(1765000000002000));
    // A clock or count the dialog changed under it is taken at once.
    divider = 100;
    EXPECT_EQ(shown.SampleUtc(2), std::optional<std::int64_t>(1765000000020000));
    divider = 10;
    // A run fills the bank: the count is the dialog's.
    count = 2;
    EXPECT_EQ(shown.Count(), 2u);
    EXPECT_EQ(shown.SampleUtc(2), std::nullopt);
    EXPECT_EQ(shown.Times().DurationMicros(), 2000);

    // Two files of 1,000 samples; file 2's CH1 spike of 10.25 V at 1,500.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto series = std::make_shared<ShownSeries>();
    ASSERT_EQ(series->source.Open(WriteRecordingFiles(dir.filePath("rec").toStdString(), {1000, 1000})),
              FileError::None);
    ASSERT_EQ(SummariesOf(series->source, 2, series->progress, series->summaries, &series->cacheProblem),
              SummaryResult::Done);
    shown.ShowSeries(series);
    EXPECT_EQ(shownSpy.count(), 2);
    EXPECT_EQ(shown.Series(), series);
    EXPECT_EQ(shown.Count(), 2000u);
    ASSERT_TRUE(shown.WholeExtremes(1, maximum, minimum));
    EXPECT_EQ(maximum, 10.25);
    EXPECT_EQ(minimum, 4.0);
    shown.Read([&](const SampleSource& source, const SummaryPyramid* summaries) {
        EXPECT_EQ(source.At(1, 1500), 10.25);
        EXPECT_EQ(summaries, &series->summaries);
    });
    EXPECT_EQ(shown.SampleUtc(1500), std::optional<std::int64_t>(1765000001500000));

    shown.Append(2500);
    ASSERT_EQ(appendedSpy.count(), 1);
    EXPECT_EQ(appendedSpy.at(0).at(0).value<std::uint64_t>(), 2500u);

    // A new run: the bank again, without the file's stamp.
    shown.ShowBank(std::nullopt);
    EXPECT_EQ(shownSpy.count(), 3);
    EXPECT_EQ(shown.Series(), nullptr);
    EXPECT_EQ(shown.Count(), 2u);
    EXPECT_EQ(shown.SampleUtc(1), std::nullopt);
}

// A time between markers: in the axis's unit below a minute, as h:mm:ss
// with the decimals of the sample period from a minute on.
TEST(ShownRecordTest, ALongTimeBetweenMarkersIsHoursMinutesSeconds) {
    struct Case {
        std::int64_t micros;
        std::int32_t divider;
        const char* text;
    };
    constexpr std::int64_t HOUR_NS = 3600000000000;
    for (const Case& c : {Case{15166000, 10, "15.166 S"}, Case{-15166000, 10, "-15.166 S"},
                          Case{59999900, 1, "59.9999 S"}, Case{60000000, 1, "0:01:00.0000"},
                          Case{3723500000, 10, "1:02:03.500"}, Case{-3723500000, 10000, "-1:02:03"},
                          Case{90061000000, 1000, "25:01:01.0"}}) {
        EXPECT_EQ(DeltaTimeText(c.micros, HOUR_NS, c.divider), c.text) << c.micros;
    }
}

// A recording of 600 full files (600,000,000 samples, 16.7 h at 10 kHz) is
// followed: its summaries take the shape a series of that length gets, the
// finest cell 512 samples (600,000,000 / 256 is over 2^21 cells, / 512 is
// not), not the default 256, which would keep 2.3 million finest cells.
// The files hold zeros, sparse on disk.
TEST(ShownRecordTest, AFollowedLongRecordingTakesTheShapeItsWholeSeriesGets) {
    constexpr std::uint32_t FILES = 600;
    constexpr std::uint32_t PER_FILE = 1000000;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string prefix = dir.filePath("long").toStdString();
    std::vector<std::string> paths;
    for (std::uint32_t f = 0; f < FILES; ++f) {
        DataFileHeader header;
        header.sampleCount = PER_FILE;
        RecordingStamp stamp;
        stamp.startMicros = 1765000000000000 + std::int64_t{f} * PER_FILE * 100;
        stamp.identity.fill(0x5A);
        stamp.index = f + 1;
        stamp.firstSample = std::uint64_t{f} * PER_FILE;
        header.stamp = stamp;
        std::uint8_t bytes[DLF_HEADER_SIZE];
        EncodeHeader(header, bytes);
        char name[16];
        std::snprintf(name, sizeof name, "-%06u.dlf", f + 1);
        paths.push_back(prefix + name);
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
        ASSERT_EQ(::ftruncate(fd, DLF_HEADER_SIZE + 32 * off_t{PER_FILE}), 0);
        ::close(fd);
    }

    double samples[4][1] = {};
    double* bank[4] = {samples[0], samples[1], samples[2], samples[3]};
    std::int32_t count = 1;
    std::int32_t divider = 1;
    ShownRecord shown(bank, count, divider);
    RecordingFollower follower(shown);
    ASSERT_EQ(follower.Follow(prefix), FileError::None);
    ASSERT_NE(shown.Followed(), nullptr);
    EXPECT_EQ(shown.Followed()->recording->Count(), 600000000u);
    EXPECT_EQ(shown.Followed()->summaries.shape, (SummaryShape{512, 16, 4}));
    follower.Stop();

    ShownSeries whole;
    ASSERT_EQ(whole.source.Open(paths), FileError::None);
    EXPECT_EQ(SummaryShapeFor(whole.source.Count()), shown.Followed()->summaries.shape);
}

}  // namespace
