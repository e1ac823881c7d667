#include "files/series_reader.h"

#include "files/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t SAMPLES = 8;

// Plain files of SAMPLES samples each; sample j of file i on channel c holds
// 100 * i + 10 * c + j volts.
std::vector<std::string> WriteFiles(const TempDir& dir, int files) {
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i) {
        double data[4][SAMPLES];
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t j = 0; j < SAMPLES; ++j) {
                data[ch][j] = 100.0 * i + 10.0 * ch + j;
            }
        }
        DataFileHeader header;
        header.sampleCount = SAMPLES;
        const double* channels[4] = {data[0], data[1], data[2], data[3]};
        char name[32];
        std::snprintf(name, sizeof name, "part-%04d.dlf", i);
        paths.push_back(dir.Path(name));
        EXPECT_EQ(SaveDataFile(paths.back(), header, channels), FileError::None);
    }
    return paths;
}

TEST(SeriesReader, HoldsAtMostItsBoundOfFilesOpenAndReadsEveryFileAgain) {
    TempDir dir;
    const std::vector<std::string> paths = WriteFiles(dir, 40);
    SeriesReader reader(4);
    ASSERT_EQ(reader.Open(paths), FileError::None);
    EXPECT_EQ(reader.Count(), 40u * SAMPLES);
    EXPECT_LE(reader.OpenFiles(), 4u);
    // Twice over, so that every file is read after it was closed.
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> all(40 * SAMPLES);
        ASSERT_TRUE(reader.Copy(2, 0, all.size(), all.data()));
        EXPECT_EQ(all[0], 20.0);
        EXPECT_EQ(all[SAMPLES + 1], 121.0);
        EXPECT_EQ(all[39 * SAMPLES + 7], 3927.0);
        EXPECT_LE(reader.OpenFiles(), 4u);
    }
    double across[4];
    ASSERT_TRUE(reader.Copy(3, 17 * SAMPLES - 2, 4, across));
    EXPECT_EQ(across[0], 1636.0);
    EXPECT_EQ(across[1], 1637.0);
    EXPECT_EQ(across[2], 1730.0);
    EXPECT_EQ(across[3], 1731.0);
    EXPECT_NE(reader.ContentSample(0), 0u);
}

// Each file is opened once and checked as Open checks one: the second of
// three files made unfit in each way is refused with the file's own error,
// and nothing stays open. A reader's shared lock lets the series open; a
// recorder's exclusive lock refuses it. Once open, the series holds no lock,
// so a recorder can take the file again.
TEST(SeriesReader, ChecksEachFileUnderASharedLockAndKeepsNoLock) {
    struct Case {
        const char* name;
        void (*change)(const std::string&, int& holder);
        FileError expected;
    };
    const Case cases[] = {
        {"unchanged", [](const std::string&, int&) {}, FileError::None},
        {"held by another reader",
         [](const std::string& p, int& holder) {
             holder = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(holder, LOCK_SH | LOCK_NB), 0);
         },
         FileError::None},
        {"held by a recorder",
         [](const std::string& p, int& holder) {
             holder = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
         },
         FileError::Open},
        {"missing", [](const std::string& p, int&) { ASSERT_EQ(::unlink(p.c_str()), 0); }, FileError::Open},
        {"a folder",
         [](const std::string& p, int&) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
         },
         FileError::Open},
        {"a FIFO",
         [](const std::string& p, int&) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
         },
         FileError::Open},
        {"shorter than a header", [](const std::string& p, int&) { ASSERT_EQ(::truncate(p.c_str(), 255), 0); },
         FileError::Format},
        {"shorter than its samples",
         [](const std::string& p, int&) { ASSERT_EQ(::truncate(p.c_str(), 256 + 32 * 8 - 1), 0); }, FileError::Format},
    };
    for (const Case& test : cases) {
        TempDir dir;
        const std::vector<std::string> paths = WriteFiles(dir, 3);
        int holder = -1;
        test.change(paths[1], holder);
        SeriesReader reader;
        EXPECT_EQ(reader.Open(paths), test.expected) << test.name;
        if (holder >= 0) {
            ::close(holder);
        }
        if (test.expected != FileError::None) {
            EXPECT_EQ(reader.OpenFiles(), 0u) << test.name;
            continue;
        }
        EXPECT_EQ(reader.OpenFiles(), 3u) << test.name;
        for (const std::string& path : paths) {
            const int recorder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_EQ(::flock(recorder, LOCK_EX | LOCK_NB), 0) << test.name << ": " << path << " stayed locked";
            ::close(recorder);
        }
        double v = 0;
        ASSERT_TRUE(reader.Copy(1, SAMPLES + 2, 1, &v)) << test.name;
        EXPECT_EQ(v, 112.0) << test.name;
    }
}

// The descriptors of this process open on files in `folder`.
std::vector<int> DescriptorsIn(const std::string& folder) {
    std::vector<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(entry.path().c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)).rfind(folder, 0) == 0) {
            found.push_back(std::stoi(entry.path().filename().string()));
        }
    }
    return found;
}

// Under a soft limit of 256 open files with a higher hard limit, a reader of
// the default bound raises the soft limit and holds 300 files open at once
// (a quarter of 256 would be 64),
// all numbered where select() never looks.
TEST(SeriesReader, TheDefaultBoundRaisesTheSoftLimitAndKeepsOutOfSelectsWay) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4 * 2 * FD_SETSIZE) {
        GTEST_SKIP() << "the hard limit on open files (" << saved.rlim_max << ") is too low for this test";
    }
    TempDir dir;
    const std::vector<std::string> paths = WriteFiles(dir, 300);
    struct rlimit lowered = saved;
    lowered.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    struct rlimit raised {};
    std::vector<int> descriptors;
    {
        SeriesReader reader;
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &raised), 0);
        ASSERT_EQ(reader.Open(paths), FileError::None);
        std::vector<double> all(300 * SAMPLES);
        EXPECT_TRUE(reader.Copy(1, 0, all.size(), all.data()));
        EXPECT_EQ(all[299 * SAMPLES + 7], 29917.0);
        EXPECT_EQ(reader.OpenFiles(), 300u);
        descriptors = DescriptorsIn(std::filesystem::canonical(dir.Path("")).string() + "/");
    }
    // A short series stays where it is: moving it would cost more than it reads.
    std::vector<int> few;
    {
        SeriesReader reader;
        ASSERT_EQ(reader.Open(std::vector<std::string>(paths.begin(), paths.begin() + 10)), FileError::None);
        few = DescriptorsIn(std::filesystem::canonical(dir.Path("")).string() + "/");
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(raised.rlim_cur, saved.rlim_max);
    EXPECT_EQ(descriptors.size(), 300u);
    for (const int fd : descriptors) {
        EXPECT_GE(fd, FD_SETSIZE);
    }
    EXPECT_EQ(few.size(), 10u);
    for (const int fd : few) {
        EXPECT_LT(fd, FD_SETSIZE);
    }
}

// Rewrites `path` with the same length, its samples changed, and gives it
// back its modification time: only the change time and the content differ.
void RewriteInPlaceKeepingSizeAndTime(const std::string& path) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const double other = 9.0;
    ASSERT_EQ(::pwrite(fd, &other, sizeof other, DLF_HEADER_SIZE), static_cast<ssize_t>(sizeof other));
    ::close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Puts a new file of the same length and modification time in its place.
void ReplaceKeepingSizeAndTime(const std::string& path) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const std::string copy = path + ".copy";
    std::filesystem::copy_file(path, copy);
    RewriteInPlaceKeepingSizeAndTime(copy);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);
    ASSERT_EQ(::rename(copy.c_str(), path.c_str()), 0);
}

TEST(SeriesReader, AFileChangedWhileClosedIsAReadErrorNeverOtherData) {
    struct Case {
        const char* name;
        void (*change)(const std::string&);
    };
    const Case cases[] = {
        {"rewritten in place, size and modification time restored", RewriteInPlaceKeepingSizeAndTime},
        {"replaced by a file of the same size and time", ReplaceKeepingSizeAndTime},
        {"truncated", [](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), DLF_HEADER_SIZE), 0); }},
        {"grown", [](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), 4096), 0); }},
        {"removed", [](const std::string& p) { ASSERT_EQ(::unlink(p.c_str()), 0); }},
    };
    for (const Case& test : cases) {
        TempDir dir;
        const std::vector<std::string> paths = WriteFiles(dir, 3);
        SeriesReader reader(1);
        ASSERT_EQ(reader.Open(paths), FileError::None) << test.name;
        // File 0 is closed once file 2 is read; then it changes.
        double v = 0;
        ASSERT_TRUE(reader.Copy(0, 2 * SAMPLES, 1, &v)) << test.name;
        test.change(paths[0]);
        EXPECT_FALSE(reader.Copy(0, 0, 1, &v)) << test.name << ": read " << v;
        // The other files still read.
        ASSERT_TRUE(reader.Copy(1, SAMPLES + 3, 1, &v)) << test.name;
        EXPECT_EQ(v, 113.0) << test.name;
    }
}

}  // namespace

namespace {

// A file cut short in place while its reader holds it open: the samples cut
// off are a read error (never a fault, nor zeros), those still there read.
TEST(SeriesReader, AFileCutShortWhileHeldOpenIsAReadErrorForWhatWasCut) {
    TempDir dir;
    const std::vector<std::string> paths = WriteFiles(dir, 1);
    SeriesReader reader;
    ASSERT_EQ(reader.Open(paths), FileError::None);
    ASSERT_EQ(reader.OpenFiles(), 1u);
    // The header and channel 0's samples stay; channels 1 to 3 are cut off.
    ASSERT_EQ(::truncate(paths[0].c_str(), DLF_HEADER_SIZE + SAMPLES * sizeof(double)), 0);
    double v[SAMPLES] = {};
    EXPECT_FALSE(reader.Copy(3, 0, SAMPLES, v));
    EXPECT_FALSE(reader.Copy(1, SAMPLES - 1, 1, v));
    ASSERT_TRUE(reader.Copy(0, 0, SAMPLES, v));
    EXPECT_EQ(v[7], 7.0);
}

}  // namespace
