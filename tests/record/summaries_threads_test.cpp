// Series of files read as one record, their min/max summaries and the summary cache.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "files/dlf.h"
#include "files/temp_dir.h"
#include "files/unsynced_write.h"
#include "record/summaries.h"
#include "record/summary_cache.h"
#include "record/three_file_series.h"

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
    const std::uint64_t starts[] = {0, 1, 1000, 2500};
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

// Sets an environment variable for the length of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name); old != nullptr) {
            m_old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string BytesOf(double value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

SummaryPyramid SummariesThroughCache(const std::vector<std::string>& paths, std::string* problem = nullptr,
                                     SummaryNeed need = SummaryNeed::Everything) {
    SeriesSource source;
    EXPECT_EQ(source.Open(paths), FileError::None);
    SummaryProgress progress;
    SummaryPyramid p;
    EXPECT_EQ(SummariesOf(source, 2, progress, p, problem, need), SummaryResult::Done);
    return p;
}

std::string EntryOf(const std::vector<std::string>& paths) {
    SeriesSource source;
    EXPECT_EQ(source.Open(paths), FileError::None);
    return SummaryCachePath(SummaryCacheFolder(), source);
}

// Puts `value`'s bytes at `at` of an entry.
template <class T>
void Put(std::string& entry, std::size_t at, T value) {
    entry.replace(at, sizeof value, reinterpret_cast<const char*>(&value), sizeof value);
}

// The first 10.25 V of an entry is the Summary's CH1 maximum, the last a cell
// of the finest level. The Summary is four channels of (valid: 1 byte,
// maximum, minimum: 8 bytes each), followed by the number of files' Summaries.
void StoredMaximum(std::string& e) { Put(e, e.find(BytesOf(10.25)), 123.0); }
void FinestCell(std::string& e) { Put(e, e.rfind(BytesOf(10.25)), 9.0); }
void NumberOfFiles(std::string& e) { Put(e, e.find(BytesOf(10.25)) - 18 + 68, std::uint64_t{1} << 40); }

// The head (statistics) and the levels each have a checksum: a reader of
// everything checks both, a reader of the statistics (`info`) the head
// alone, and whatever it reads is never a changed value.
TEST(SummaryCacheTest, AnEntryWhoseStoredBytesChangedIsRebuiltAndReplaced) {
    struct Case {
        const char* name;
        void (*damage)(std::string&);
        SummaryNeed need;
        bool replaced;  // the entry is rebuilt and written again
    };
    const Case cases[] = {
        {"stored maximum", StoredMaximum, SummaryNeed::Everything, true},
        {"finest cell", FinestCell, SummaryNeed::Everything, true},
        {"number of files", NumberOfFiles, SummaryNeed::Everything, true},
        {"stored maximum, statistics read", StoredMaximum, SummaryNeed::Statistics, true},
        {"number of files, statistics read", NumberOfFiles, SummaryNeed::Statistics, true},
        {"finest cell, statistics read", FinestCell, SummaryNeed::Statistics, false},
    };
    for (const Case& test : cases) {
        Series series;
        TempDir cache;
        const ScopedEnv home("XDG_CACHE_HOME", cache.Path("c"));
        EXPECT_EQ(SummariesThroughCache(series.paths).statistics[1].maximum, 10.25) << test.name;
        const std::string entry = EntryOf(series.paths);
        const std::string good = ReadBytes(entry);
        std::string bad = good;
        test.damage(bad);
        ASSERT_EQ(bad.size(), good.size()) << test.name;
        ASSERT_NE(bad, good) << test.name;
        WriteBytes(entry, bad);

        const SummaryPyramid p = SummariesThroughCache(series.paths, nullptr, test.need);
        EXPECT_EQ(p.statistics[1].maximum, 10.25) << test.name;
        EXPECT_EQ(p.partStatistics.size(), 3u) << test.name;
        if (!p.levels.empty()) {
            EXPECT_EQ(p.levels[0].high[1][1750 / 256], 10.25) << test.name;
        }
        EXPECT_EQ(p.levels.empty(), !test.replaced) << test.name << ": levels read from the cache";
        EXPECT_TRUE(ReadBytes(entry) == (test.replaced ? good : bad)) << test.name;
    }
}

// A file's new modification time, in place.
void Touch(const std::string& path) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// `value` written at byte `offset` of the file in place, its size and
// modification time as they were.
void WriteInPlace(const std::string& path, off_t offset, double value) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, &value, sizeof value, offset), static_cast<ssize_t>(sizeof value));
    ::close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Each part of what an entry is made from has its own row: the entry holds
// a Summary of 123 V on CH1, which no file has, so whenever it is used
// where it must not be, 123 V shows.
TEST(SummaryCacheTest, EachPartOfAnEntrysIdentityDecidesWhetherItIsUsed) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;  // on the second file
        bool withParts;                                  // the entry holds each file's statistics
        double expected;
    };
    const Case cases[] = {
        {"nothing changed", [](const std::string&) {}, true, 123.0},
        // A chmod changes the change time as an edit does: the file is looked at anew.
        {"chmod only", [](const std::string& p) { ASSERT_EQ(::chmod(p.c_str(), 0600), 0); }, true, 10.25},
        {"modification time alone", Touch, true, 10.25},
        // 7 V at CH0's first sample, inside the part the content sample reads.
        {"content, size and time kept", [](const std::string& p) { WriteInPlace(p, 256, 7.0); }, true, 10.25},
        // 99 V at CH1's sample 18 of the second file, between the second and the third of the
        // eight blocks spread over its 48,000 bytes of samples that the content sample reads.
        {"content outside the content sample, size and time kept",
         [](const std::string& p) { WriteInPlace(p, 256 + (1500 + 18) * 8, 99.0); }, true, 99.0},
        {"entry without the files' statistics", [](const std::string&) {}, false, 10.25},
    };
    for (const Case& test : cases) {
        Series series;
        TempDir cache;
        const ScopedEnv home("XDG_CACHE_HOME", cache.Path("c"));
        {
            SeriesSource source;
            ASSERT_EQ(source.Open(series.paths), FileError::None);
            SummaryPyramid p = SummariesThroughCache(series.paths);
            p.statistics[1].maximum = 123.0;
            if (!test.withParts) {
                p.partStatistics.clear();
            }
            ASSERT_TRUE(StoreSummaries(SummaryCacheFolder(), source, p)) << test.name;
        }
        test.change(series.paths[1]);
        const SummaryPyramid p = SummariesThroughCache(series.paths);
        EXPECT_EQ(p.statistics[1].maximum, test.expected) << test.name;
        EXPECT_EQ(p.partStatistics.size(), 3u) << test.name;
    }
}

// Sets when an entry was last used, `ago` seconds before now.
void LastUsed(const std::string& entry, int ago) {
    const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - ago, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.c_str(), times, 0), 0);
}

TEST(SummaryCacheTest, TheLimitRemovesTheEntriesUsedLongestAgo) {
    TempDir cache;
    const ScopedEnv home("XDG_CACHE_HOME", cache.Path("c"));
    Series a, b, c;
    SummariesThroughCache(a.paths);
    const std::string entryA = EntryOf(a.paths);
    const std::uintmax_t size = std::filesystem::file_size(entryA);
    // Room for two entries of this size, not three.
    const ScopedEnv limit("VOS_SUMMARY_CACHE_MAX", std::to_string(size * 5 / 2));
    const std::string older = SummaryCacheFolder() + "/0123456789abcdef.sum";
    WriteBytes(older, "VOSSUM02 an entry of the layout before");
    SummariesThroughCache(b.paths);
    const std::string entryB = EntryOf(b.paths);
    EXPECT_FALSE(std::filesystem::exists(older)) << "an entry of another layout stays";
    LastUsed(entryA, 200);
    LastUsed(entryB, 100);
    // Using A makes B the one used longest ago.
    SummariesThroughCache(a.paths);
    SummariesThroughCache(c.paths);
    EXPECT_TRUE(std::filesystem::exists(entryA));
    EXPECT_FALSE(std::filesystem::exists(entryB));
    EXPECT_TRUE(std::filesystem::exists(EntryOf(c.paths)));

    const ScopedEnv none("VOS_SUMMARY_CACHE_MAX", "0");
    SummariesThroughCache(b.paths);
    EXPECT_TRUE(std::filesystem::is_empty(SummaryCacheFolder()));
}

TEST(SummaryCacheTest, TheLimitIsBytesWithAnOptionalBinaryUnit) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"1073741824", 1073741824u}, {"512M", 536870912u}, {"2G", 2147483648u}, {"64K", 65536u},
        {"1T", 1099511627776u},      {"0", 0u},            {"", 1073741824u},   {"lots", 1073741824u},
        {"12X", 1073741824u},        {"-5", 1073741824u},  {"99999999999999999999", 1073741824u},
        {"17179869184G", 1073741824u},
    };
    for (const auto& [text, expected] : cases) {
        const ScopedEnv limit("VOS_SUMMARY_CACHE_MAX", text);
        EXPECT_EQ(SummaryCacheLimit(), expected) << text;
    }
    ::unsetenv("VOS_SUMMARY_CACHE_MAX");
    EXPECT_EQ(SummaryCacheLimit(), 1073741824u);
}

TEST(SummaryCacheTest, ACacheThatCannotBeWrittenSaysWhy) {
    Series series;
    // Under a regular file no folder can be made, whatever the rights.
    const ScopedEnv home("XDG_CACHE_HOME", series.paths[0]);
    std::string problem;
    EXPECT_EQ(SummariesThroughCache(series.paths, &problem).statistics[1].maximum, 10.25);
    EXPECT_NE(problem.find(series.paths[0] + "/vosviewer/summaries: Not a directory"), std::string::npos) << problem;
}

// Four threads read a series of 40 files through a reader that holds two
// of them open: files are closed and opened again under the readers' feet.
TEST(SeriesReaderThreads, ReadsFromSeveralThreadsWhileFilesAreOpenedAgain) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int f = 0; f < 40; ++f) {
        std::vector<double> channels[4];
        for (int ch = 0; ch < 4; ++ch) {
            channels[ch].assign(8, 10.0 * f + ch);
        }
        DataFileHeader header;
        header.sampleCount = 8;
        paths.push_back(dir.Path("part-" + std::to_string(100 + f) + ".dlf"));
        WriteUnsynced(paths.back(), header, channels);
    }
    SeriesReader reader(2);
    ASSERT_EQ(reader.Open(paths), FileError::None);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int ch = 0; ch < 4; ++ch) {
        threads.emplace_back([&, ch] {
            std::vector<double> all(320);
            for (int pass = 0; pass < 20; ++pass) {
                if (!reader.Copy(ch, 0, 320, all.data()) || all[0] != ch || all[319] != 390.0 + ch) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(reader.OpenFiles(), 2u);
}
