// Series of files read as one record, and the min/max summaries that draw it.
#include <gtest/gtest.h>

#include <QImage>
#include <QPalette>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "display/plotview.h"
#include "display/summaries.h"
#include "display/summary_cache.h"
#include "files/dlf.h"
#include "files/temp_dir.h"

namespace {

constexpr std::uint32_t FILE_SAMPLES[3] = {1000, 1500, 700};

// Three files of a smooth wave with one spike each: file 1 on CH0 at 9.5 V,
// file 2 on CH1 at 10.25 V, file 3 on CH2 at -0.75 V; CH3 holds a NaN.
struct Series {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<double> all[4];  // the same samples in one place

    // `edit` may change each file's header before it is written.
    explicit Series(const std::function<void(int file, DataFileHeader&)>& edit = {}) {
        std::uint32_t offset = 0;
        for (int f = 0; f < 3; ++f) {
            const std::uint32_t n = FILE_SAMPLES[f];
            std::vector<double> data[4];
            for (int ch = 0; ch < 4; ++ch) {
                data[ch].resize(n);
                for (std::uint32_t s = 0; s < n; ++s) {
                    data[ch][s] = 5.0 + 3.0 * std::sin((offset + s) * 0.01 * (ch + 1));
                }
            }
            data[f][n / 2] = f == 0 ? 9.5 : f == 1 ? 10.25 : -0.75;
            if (f == 1) {
                data[3][7] = std::nan("");
            }
            DataFileHeader header;
            header.clockDivider = 10;
            header.sampleCount = n;
            if (edit) {
                edit(f, header);
            }
            const double* pointers[4] = {data[0].data(), data[1].data(), data[2].data(),
                                         data[3].data()};
            paths.push_back(dir.Path("night-00000" + std::to_string(f + 1) + ".dlf"));
            EXPECT_EQ(SaveDataFile(paths.back(), header, pointers), FileError::None);
            for (int ch = 0; ch < 4; ++ch) {
                all[ch].insert(all[ch].end(), data[ch].begin(), data[ch].end());
            }
            offset += n;
        }
    }
};

SummaryPyramid Summarise(const SampleSource& source, const SummaryShape& shape, int threads) {
    SummaryProgress progress;
    SummaryPyramid p;
    EXPECT_EQ(BuildSummaries(source, shape, threads, progress, p), SummaryResult::Done);
    EXPECT_EQ(progress.done.load(), source.Count());
    return p;
}

TEST(SeriesSourceTest, ReadsTheFilesAsOneRecordWithoutASeam) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    EXPECT_EQ(source.Count(), 3200u);
    EXPECT_EQ(source.ClockDivider(), 10);
    EXPECT_EQ(source.At(0, 500), 9.5);
    EXPECT_EQ(source.At(1, 1750), 10.25);
    EXPECT_EQ(source.At(2, 2850), -0.75);
    std::vector<double> copy(600);
    ASSERT_TRUE(source.Copy(2, 2200, 600, copy.data()));
    EXPECT_EQ(0, std::memcmp(copy.data(), series.all[2].data() + 2200, 600 * sizeof(double)));
    const SampleExtremes across = source.Extremes(1, 990, 2510);
    EXPECT_EQ(across.high, 10.25);
}

TEST(SeriesSourceTest, RefusesASeriesWithABadFileAndKeepsNothingOpen) {
    Series series;
    std::filesystem::resize_file(series.paths[1], 300);
    SeriesSource source;
    EXPECT_EQ(source.Open(series.paths), FileError::Format);
    EXPECT_EQ(source.Count(), 0u);
    EXPECT_EQ(source.Open({series.paths[0], series.dir.Path("missing.dlf")}), FileError::Open);
    EXPECT_EQ(source.Count(), 0u);
}

RecordingStamp Stamp(std::uint8_t recording, std::uint64_t index, std::uint64_t firstSample) {
    RecordingStamp stamp;
    stamp.startMicros = 1765000000000000 + static_cast<std::int64_t>(firstSample) * 1000;
    stamp.identity.fill(recording);
    stamp.index = index;
    stamp.firstSample = firstSample;
    return stamp;
}

// Files that do not form one record are refused before any is mapped.
TEST(SeriesSourceTest, RefusesFilesThatDoNotBelongTogether) {
    struct Row {
        const char* name;
        std::function<void(int, DataFileHeader&)> edit;
        SeriesFault fault;
        std::size_t first;
        std::size_t second;
    };
    const std::uint64_t FIRST[3] = {0, 1000, 2500};
    const Row rows[] = {
        {"mixed clocks", [](int f, DataFileHeader& h) { h.clockDivider = f == 2 ? 20 : 10; },
         SeriesFault::Clock, 1, 2},
        {"two recordings",
         [&](int f, DataFileHeader& h) { h.stamp = Stamp(f == 0 ? 1 : 2, f + 1, FIRST[f]); },
         SeriesFault::Recording, 0, 1},
        {"a gap", [&](int f, DataFileHeader& h) { h.stamp = Stamp(1, f == 2 ? 4 : f + 1, FIRST[f]); },
         SeriesFault::Gap, 1, 2},
        {"one recording", [&](int f, DataFileHeader& h) { h.stamp = Stamp(1, f + 1, FIRST[f]); },
         SeriesFault::None, 0, 0},
    };
    for (const Row& row : rows) {
        Series series(row.edit);
        SeriesSource source;
        const FileError expected = row.fault == SeriesFault::None ? FileError::None : FileError::Format;
        EXPECT_EQ(source.Open(series.paths), expected) << row.name;
        EXPECT_EQ(source.Count(), row.fault == SeriesFault::None ? 3200u : 0u) << row.name;
        const SeriesCheck& check = source.Reader().LastSeriesCheck();
        EXPECT_EQ(check.fault, row.fault) << row.name;
        EXPECT_EQ(check.first, row.first) << row.name;
        EXPECT_EQ(check.second, row.second) << row.name;
    }
}

TEST(SummariesTest, StatisticsCoverTheWholeSeries) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    const SummaryPyramid p = Summarise(source, SummaryShape{4, 4, 3}, 2);
    EXPECT_EQ(p.statistics[0].maximum, 9.5);
    EXPECT_EQ(p.statistics[1].maximum, 10.25);
    EXPECT_EQ(p.statistics[2].minimum, -0.75);
    // NaN is skipped; the wave's own extremes remain.
    EXPECT_TRUE(p.statistics[3].valid);
    EXPECT_LT(p.statistics[3].maximum, 8.0 + 1e-9);
    EXPECT_GT(p.statistics[3].minimum, 2.0 - 1e-9);

    // Each part keeps its own: every spike only in its file, a part of one
    // sample is that sample.
    SummaryProgress progress;
    SummaryPyramid parts;
    const std::uint32_t starts[] = {0, 1, 1000, 2500};
    ASSERT_EQ(BuildSummaries(source, SummaryShape{4, 4, 3}, 2, progress, parts, starts), SummaryResult::Done);
    ASSERT_EQ(parts.partStatistics.size(), 4u);
    EXPECT_EQ(parts.partStatistics[0][1].maximum, series.all[1][0]);
    EXPECT_EQ(parts.partStatistics[0][1].minimum, series.all[1][0]);
    EXPECT_EQ(parts.partStatistics[1][0].maximum, 9.5);
    EXPECT_LT(parts.partStatistics[2][0].maximum, 8.0 + 1e-9);
    EXPECT_EQ(parts.partStatistics[2][1].maximum, 10.25);
    EXPECT_LT(parts.partStatistics[1][1].maximum, 8.0 + 1e-9);
    EXPECT_EQ(parts.partStatistics[3][2].minimum, -0.75);
    EXPECT_GT(parts.partStatistics[2][2].minimum, 2.0 - 1e-9);
    EXPECT_GT(parts.partStatistics[2][3].minimum, 2.0 - 1e-9);
}

// The envelope through the summaries equals the one from the raw samples,
// column for column, for views across file boundaries and the last column's
// half, with cells that do and do not divide the files' lengths.
TEST(SummariesTest, EnvelopeEqualsTheRawEnvelopeAtEveryZoom) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    const Rect plot = DefaultPaneGeometry().paneInner[0];
    const std::int32_t w = EnvelopeColumns(plot);
    struct Row {
        SummaryShape shape;
        ViewRange view;
    };
    const Row rows[] = {
        {{4, 4, 3}, {0, 3200}},     {{4, 4, 3}, {990, 20}},    {{4, 4, 3}, {400, 1300}},
        {{3, 5, 3}, {0, 3200}},     {{3, 5, 3}, {2497, 11}},   {{3, 5, 3}, {1, 3199}},
        {{256, 16, 4}, {0, 3200}},  {{4, 4, 3}, {3190, 10}},   {{4, 4, 3}, {2000, 1200}},
        {{2, 2, 6}, {999, 1502}},   {{7, 3, 4}, {13, 2999}},   {{4, 4, 3}, {2499, 2}},
    };
    auto raw = std::make_unique<ColumnTables>();
    auto summed = std::make_unique<ColumnTables>();
    for (const Row& row : rows) {
        const SummaryPyramid p = Summarise(source, row.shape, 2);
        for (int ch = 0; ch < 4; ++ch) {
            BuildEnvelope(*raw, ch, series.all[ch].data(), row.view.first, row.view.count, plot);
            BuildEnvelope(*summed, ch, source, p, row.view.first, row.view.count, plot);
            for (std::int32_t c = 0; c < w; ++c) {
                ASSERT_EQ(raw->minY[ch][c], summed->minY[ch][c]) << row.view.first << " " << c;
                ASSERT_EQ(raw->maxY[ch][c], summed->maxY[ch][c]) << row.view.first << " " << c;
                ASSERT_EQ(raw->lastY[ch][c], summed->lastY[ch][c]) << row.view.first << " " << c;
            }
        }
    }
}

TEST(SummariesTest, PictureEqualsTheRawPicturePixelForPixel) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    const SummaryPyramid p = Summarise(source, SummaryShape{4, 4, 3}, 2);
    const double* raw[4] = {series.all[0].data(), series.all[1].data(), series.all[2].data(),
                            series.all[3].data()};
    const QColor face = QPalette().color(QPalette::Button);
    PlotView fromRaw(DefaultPaneGeometry(), face);
    PlotView fromSummaries(DefaultPaneGeometry(), face);
    const ViewRange views[] = {{0, 3200}, {900, 1200}, {995, 10}, {2400, 800}, {2499, 3}, {3150, 50}};
    for (int mode = 0; mode < 2; ++mode) {
        for (const ViewRange& view : views) {
            fromRaw.RedrawAll(mode, true, raw, 3200, 10, view);
            fromSummaries.RedrawAll(mode, source, p, view);
            ASSERT_TRUE(fromRaw.Canvas() == fromSummaries.Canvas()) << mode << " " << view.first;
        }
    }
}

TEST(SummariesTest, CancelStopsTheBuild) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    SummaryProgress progress;
    progress.cancel = true;
    SummaryPyramid p;
    EXPECT_EQ(BuildSummaries(source, SummaryShape{4, 4, 3}, 2, progress, p),
              SummaryResult::Cancelled);
    EXPECT_EQ(progress.done.load(), 0u);
}

// Puts 10.5 V at CH1's sample 100 of the second file, the file's size and
// modification time unchanged: through a new file renamed over it, or in place.
void RewriteSecondFile(const std::string& path, bool inPlace) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const double spike = 10.5;
    const off_t offset = 256 + (1500 + 100) * 8;
    if (inPlace) {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, &spike, sizeof spike, offset), static_cast<ssize_t>(sizeof spike));
        ::close(fd);
    } else {
        const std::string copy = path + ".new";
        std::filesystem::copy_file(path, copy);
        const int fd = ::open(copy.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, &spike, sizeof spike, offset), static_cast<ssize_t>(sizeof spike));
        ::close(fd);
        std::filesystem::rename(copy, path);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_size, before.st_size);
}

TEST(SummaryCacheTest, ReusesSummariesAndRebuildsAFileRewrittenWithTheSameSize) {
    for (const bool inPlace : {false, true}) {
        Series series;
        TempDir cache;
        const std::string folder = cache.Path("summaries");
        const SummaryShape shape{4, 4, 3};
        {
            SeriesSource source;
            ASSERT_EQ(source.Open(series.paths), FileError::None);
            SummaryPyramid p;
            EXPECT_FALSE(LoadSummaries(folder, source, shape, p));
            ASSERT_TRUE(StoreSummaries(folder, source, Summarise(source, shape, 2)));
            ASSERT_TRUE(LoadSummaries(folder, source, shape, p));
            EXPECT_EQ(p.statistics[1].maximum, 10.25);
            EXPECT_EQ(p.levels[2].high[0][500 / 64], 9.5);
        }
        RewriteSecondFile(series.paths[1], inPlace);
        SeriesSource source;
        ASSERT_EQ(source.Open(series.paths), FileError::None);
        SummaryPyramid p;
        EXPECT_FALSE(LoadSummaries(folder, source, shape, p)) << inPlace;
        ASSERT_TRUE(StoreSummaries(folder, source, Summarise(source, shape, 1)));
        ASSERT_TRUE(LoadSummaries(folder, source, shape, p));
        EXPECT_EQ(p.statistics[1].maximum, 10.5);
    }
}

TEST(SummaryCacheTest, ACacheFolderThatCannotBeMadeIsNoError) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    // Under a regular file no folder can be made, whatever the rights.
    const std::string folder = series.paths[0] + "/summaries";
    const SummaryPyramid p = Summarise(source, SummaryShape{4, 4, 3}, 1);
    EXPECT_FALSE(StoreSummaries(folder, source, p));
    SummaryPyramid loaded;
    EXPECT_FALSE(LoadSummaries(folder, source, SummaryShape{4, 4, 3}, loaded));
    EXPECT_EQ(std::filesystem::file_size(series.paths[0]), 256u + 32u * 1000u);
}

TEST(SummaryCacheTest, FolderFollowsXdgCacheHome) {
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("XDG_CACHE_HOME", "/var/tmp/c", 1);
    EXPECT_EQ(SummaryCacheFolder(), "/var/tmp/c/vosviewer/summaries");
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(SummaryCacheFolder(), home + "/.cache/vosviewer/summaries");
    if (saved != nullptr) {
        ::setenv("XDG_CACHE_HOME", keep.c_str(), 1);
    } else {
        ::unsetenv("XDG_CACHE_HOME");
    }
}

}  // namespace
