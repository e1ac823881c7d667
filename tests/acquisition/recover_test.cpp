// RecoverSeries on working files written and damaged here: every intact
// sample ends in a data file, or the working file is kept aside; files of
// another recording are never touched.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "acquisition/record.h"
#include "acquisition/recover.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/prefix_lock.h"
#include "files/temp_dir.h"

namespace {

using journaltest::ReadBytes;
using journaltest::START_MICROS;
using journaltest::WorkingFileSpec;
using journaltest::WriteBytes;

// Blocks of 100, 200, 300 and 400 samples, starting at file offsets
// 272, 3488, 9904 and 19520 (a 272-byte header, 16 bytes and 32 a sample per block).
const std::vector<std::uint32_t> BLOCKS = {100, 200, 300, 400};
constexpr std::size_t AT[] = {272, 3488, 9904, 19520};

struct ExpectedFile {
    std::uint32_t index;
    std::uint64_t firstSample;
    std::uint32_t samples;
    std::int64_t startMicros;
};

class Recover : public testing::Test {
protected:
    std::string Prefix() const { return m_dir.Path("r"); }

    // Writes working file `index` and flips one byte of block `damaged` (none when -1).
    void WriteWorking(WorkingFileSpec spec, int damaged = -1) {
        const std::string path = WorkingFileName(Prefix(), static_cast<std::uint32_t>(spec.index));
        journaltest::WriteWorkingFile(path, spec);
        if (damaged >= 0) {
            std::string bytes = ReadBytes(path);
            bytes[AT[damaged] + 16 + 32 * 50 + 3] ^= 0x20;
            WriteBytes(path, bytes);
        }
    }

    // A data file as a recording writes it, with the values of its samples.
    void WriteData(std::uint32_t index, std::uint64_t firstSample, std::uint32_t samples, std::uint8_t identity = 1) {
        DataFileHeader header;
        header.sampleCount = samples;
        header.stamp = RecordingStamp{START_MICROS + static_cast<std::int64_t>(firstSample) * 100,
                                      journaltest::Identity(identity), index, firstSample};
        std::vector<double> values[4];
        const double* channels[4];
        for (int c = 0; c < 4; ++c) {
            for (std::uint32_t i = 0; i < samples; ++i) values[c].push_back(journaltest::Value(firstSample + i, c));
            channels[c] = values[c].data();
        }
        ASSERT_EQ(SaveDataFile(SeriesFileName(Prefix(), index), header, channels), FileError::None);
    }

    static void ExpectFile(const std::string& path, const ExpectedFile& expected) {
        SCOPED_TRACE(path);
        journaltest::Loaded loaded;
        ASSERT_EQ(journaltest::Load(path, loaded), FileError::None);
        const DataFileHeader& header = loaded.header;
        const std::vector<double>* buffers = loaded.values;
        EXPECT_EQ(header.sampleCount, expected.samples);
        ASSERT_TRUE(header.stamp.has_value());
        EXPECT_EQ(header.stamp->index, expected.index);
        EXPECT_EQ(header.stamp->firstSample, expected.firstSample);
        EXPECT_EQ(header.stamp->startMicros, expected.startMicros);
        EXPECT_EQ(header.stamp->identity, journaltest::Identity(1));
        EXPECT_EQ(std::filesystem::file_size(path), 256u + 32u * expected.samples);
        // Sample i of the recording holds i on CH0 and i + 300000 on CH3.
        EXPECT_EQ(buffers[0][0], static_cast<double>(expected.firstSample));
        EXPECT_EQ(buffers[0][expected.samples - 1], static_cast<double>(expected.firstSample + expected.samples - 1));
        EXPECT_EQ(buffers[3][expected.samples - 1],
                  static_cast<double>(expected.firstSample + expected.samples - 1) + 300000.0);
    }

    // Every file in the folder with its bytes.
    std::map<std::string, std::string> Folder() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
            files[entry.path().filename().string()] = ReadBytes(entry.path().string());
        }
        return files;
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : Folder()) names.push_back(name);
        return names;
    }

    TempDir m_dir;
};

// Damage in the first, a middle and the last block: the blocks after it go
// to the next file of the series with their true first sample and time.
TEST_F(Recover, NoIntactSampleIsDeleted) {
    struct Case {
        const char* name;
        WorkingFileSpec spec;
        int damaged;
        bool firstFileBefore;  // r-000001.dlf holds the recording's first 1000 samples
        std::vector<ExpectedFile> files;
        std::vector<RecoveredGap> gaps;
        std::uint64_t dropped;
    };
    const Case cases[] = {
        {"block 1 of file 1", {.blocks = BLOCKS}, 0, false,
         {{1, 100, 900, START_MICROS + 10000}},
         {{"", "r-000001.dlf", START_MICROS, 10000, 100}}, 0},
        {"block 3 of file 1", {.blocks = BLOCKS}, 2, false,
         {{1, 0, 300, START_MICROS}, {2, 600, 400, START_MICROS + 60000}},
         {{"r-000001.dlf", "r-000002.dlf", START_MICROS + 30000, 30000, 300}}, 0},
        {"the last block of file 1", {.blocks = BLOCKS}, 3, false, {{1, 0, 600, START_MICROS}}, {}, 400},
        {"block 1 of file 2", {.index = 2, .firstSample = 1000, .startMicros = START_MICROS + 100000, .blocks = BLOCKS},
         0, true, {{2, 1100, 900, START_MICROS + 110000}},
         {{"r-000001.dlf", "r-000002.dlf", START_MICROS + 100000, 10000, 100}}, 0},
        {"block 2 of file 2", {.index = 2, .firstSample = 1000, .startMicros = START_MICROS + 100000, .blocks = BLOCKS},
         1, true, {{2, 1000, 100, START_MICROS + 100000}, {3, 1300, 700, START_MICROS + 130000}},
         {{"r-000002.dlf", "r-000003.dlf", START_MICROS + 110000, 20000, 200}}, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.firstFileBefore) WriteData(1, 0, 1000);
        WriteWorking(test.spec, test.damaged);
        const RecoveryReport report = RecoverSeries(Prefix());
        EXPECT_EQ(report.error, FileError::None) << report.reason;
        ASSERT_EQ(report.files.size(), 1u);
        const RecoveredFile& file = report.files[0];
        EXPECT_EQ(file.action, RecoveredFile::Action::Written);
        EXPECT_EQ(file.dropped, test.dropped);
        EXPECT_EQ(file.tailCut, test.dropped > 0);
        EXPECT_EQ(file.keptAs, "");
        EXPECT_EQ(file.keptSamples, 0u);
        ASSERT_EQ(file.parts.size(), test.files.size());
        std::uint64_t samples = 0;
        for (std::size_t i = 0; i < test.files.size(); ++i) {
            const ExpectedFile& expected = test.files[i];
            EXPECT_EQ(file.parts[i].dataFile, SeriesFileName(Prefix(), expected.index));
            EXPECT_EQ(file.parts[i].samples, expected.samples);
            EXPECT_EQ(file.parts[i].firstMicros, expected.startMicros);
            EXPECT_EQ(file.parts[i].lastMicros, expected.startMicros + (expected.samples - 1) * 100);
            ExpectFile(SeriesFileName(Prefix(), expected.index), expected);
            samples += expected.samples;
        }
        EXPECT_EQ(file.samples, samples);
        ASSERT_EQ(file.gaps.size(), test.gaps.size());
        for (std::size_t i = 0; i < test.gaps.size(); ++i) {
            const RecoveredGap& gap = file.gaps[i];
            EXPECT_EQ(gap.before, test.gaps[i].before.empty() ? "" : m_dir.Path(test.gaps[i].before));
            EXPECT_EQ(gap.after, m_dir.Path(test.gaps[i].after));
            EXPECT_EQ(gap.fromMicros, test.gaps[i].fromMicros);
            EXPECT_EQ(gap.micros, test.gaps[i].micros);
            EXPECT_EQ(gap.samples, test.gaps[i].samples);
        }
        EXPECT_EQ(report.seriesFiles, test.files.size() + (test.firstFileBefore ? 1 : 0));
        EXPECT_FALSE(std::filesystem::exists(WorkingFileName(Prefix(), static_cast<std::uint32_t>(test.spec.index))));

        const std::map<std::string, std::string> before = Folder();
        const RecoveryReport again = RecoverSeries(Prefix());
        EXPECT_EQ(again.error, FileError::None);
        EXPECT_TRUE(again.files.empty());
        EXPECT_EQ(Folder(), before);
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) std::filesystem::remove(entry);
    }
}

// Where the next names belong to later files of the series, or a block is out
// of order, the working file keeps what no data file holds, aside.
TEST_F(Recover, WhatCannotBePlacedIsKeptAside) {
    struct Case {
        const char* name;
        bool swapBlocks;          // blocks 2 and 3 of file 1 swapped
        bool laterWorkingFile;    // r-000002.vrec of 50 samples from sample 1000
        std::vector<ExpectedFile> files;
        std::uint64_t kept;
    };
    const Case cases[] = {
        {"a later working file", false, true,
         {{1, 0, 300, START_MICROS}, {2, 1000, 50, START_MICROS + 100000}}, 400},
        {"blocks out of order", true, false,
         {{1, 0, 100, START_MICROS}, {2, 300, 700, START_MICROS + 30000}}, 200},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string working = WorkingFileName(Prefix(), 1);
        WriteWorking({.blocks = BLOCKS}, test.swapBlocks ? -1 : 2);
        if (test.swapBlocks) {
            const std::string bytes = ReadBytes(working);
            WriteBytes(working, bytes.substr(0, AT[1]) + bytes.substr(AT[2], AT[3] - AT[2]) +
                                    bytes.substr(AT[1], AT[2] - AT[1]) + bytes.substr(AT[3]));
        }
        if (test.laterWorkingFile) {
            WriteWorking({.index = 2, .firstSample = 1000, .startMicros = START_MICROS + 100000, .blocks = {50}});
        }
        const std::string damaged = ReadBytes(working);
        const RecoveryReport report = RecoverSeries(Prefix());
        EXPECT_EQ(report.error, FileError::None) << report.reason;
        ASSERT_GE(report.files.size(), 1u);
        EXPECT_EQ(report.files[0].keptAs, working + ".damaged");
        EXPECT_EQ(report.files[0].keptSamples, test.kept);
        EXPECT_EQ(ReadBytes(working + ".damaged"), damaged);
        for (const ExpectedFile& expected : test.files) ExpectFile(SeriesFileName(Prefix(), expected.index), expected);
        EXPECT_EQ(Names(), (std::vector<std::string>{"r-000001.dlf", "r-000001.vrec.damaged", "r-000002.dlf"}));

        // The file kept aside is no working file of the series: a second run leaves it.
        const RecoveryReport again = RecoverSeries(Prefix());
        EXPECT_EQ(again.error, FileError::None);
        EXPECT_TRUE(again.files.empty());
        EXPECT_EQ(ReadBytes(working + ".damaged"), damaged);
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) std::filesystem::remove(entry);
    }
}

// Files that do not belong together stop the recovery with nothing changed.
TEST_F(Recover, FilesOfAnotherRecordingOrPlaceAreLeftAlone) {
    const auto wrongIndex = [&] {
        journaltest::WriteWorkingFile(WorkingFileName(Prefix(), 1), {.index = 2, .blocks = BLOCKS});
    };
    const auto otherDataFile = [&] {
        WriteData(1, 0, 1000, 9);
        WriteWorking({.blocks = BLOCKS});
    };
    const auto otherWorkingFile = [&] {
        WriteData(1, 0, 1000);
        WriteWorking({.index = 2, .firstSample = 1000, .identity = 9, .blocks = BLOCKS});
    };
    const auto overlapping = [&] {
        WriteData(1, 0, 1000);
        WriteWorking({.index = 2, .firstSample = 500, .blocks = BLOCKS});
    };
    const auto shortDataFile = [&] {
        WriteData(1, 0, 600);
        WriteWorking({.blocks = BLOCKS});
    };
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string failed;
        std::string reason;  // after the folder
    };
    const Case cases[] = {
        {"a working file whose stamp names another index", wrongIndex, "r-000001.vrec",
         "the working file is file 2 of its recording, not file 1; it was left as it is"},
        {"a data file of another recording at the same index", otherDataFile, "r-000001.dlf",
         "the file exists and is not this file of the recording; nothing was changed"},
        {"a working file of another recording than the series", otherWorkingFile, "r-000002.vrec",
         "the working file belongs to another recording than @r-000001.dlf; it was left as it is"},
        {"a working file that starts inside the file before it", overlapping, "r-000002.vrec",
         "the working file starts at sample 500, before the end of @r-000001.dlf (sample 1000); it was left as it is"},
        {"a shorter data file of the same recording", shortDataFile, "r-000001.dlf",
         "the file holds 600 samples of this recording from sample 0, the working file 1000 from sample 0; both were "
         "left as they are: move the data file aside and run recover again"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        test.make();
        const std::map<std::string, std::string> before = Folder();
        const RecoveryReport report = RecoverSeries(Prefix());
        EXPECT_EQ(report.error, FileError::Format);
        EXPECT_EQ(report.failedPath, m_dir.Path(test.failed));
        std::string reason = test.reason;
        if (const std::size_t at = reason.find('@'); at != std::string::npos) reason.replace(at, 1, m_dir.Path(""));
        EXPECT_EQ(report.reason, reason);
        EXPECT_EQ(Folder(), before);
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) std::filesystem::remove(entry);
    }
}

// A data file that already holds every sample of its working file makes it a leftover.
TEST_F(Recover, ACompleteDataFileEndsItsWorkingFile) {
    WriteData(1, 0, 1000);
    WriteWorking({.blocks = BLOCKS});
    const std::string data = ReadBytes(SeriesFileName(Prefix(), 1));
    const RecoveryReport report = RecoverSeries(Prefix());
    EXPECT_EQ(report.error, FileError::None) << report.reason;
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].action, RecoveredFile::Action::Complete);
    EXPECT_EQ(report.files[0].samples, 1000u);
    EXPECT_EQ(ReadBytes(SeriesFileName(Prefix(), 1)), data);
    EXPECT_EQ(Names(), std::vector<std::string>{"r-000001.dlf"});
}

// A working file cut before its 272-byte header was whole never held a sample: it is removed.
TEST_F(Recover, AWorkingFileCutInItsHeaderIsRemovedAsEmpty) {
    WriteWorking({.blocks = BLOCKS});
    const std::string whole = ReadBytes(WorkingFileName(Prefix(), 1));
    for (const std::size_t length : {0u, 1u, 100u, 271u}) {
        SCOPED_TRACE(length);
        WriteBytes(WorkingFileName(Prefix(), 1), whole.substr(0, length));
        const RecoveryReport report = RecoverSeries(Prefix());
        EXPECT_EQ(report.error, FileError::None) << report.reason;
        ASSERT_EQ(report.files.size(), 1u);
        EXPECT_EQ(report.files[0].action, RecoveredFile::Action::Empty);
        EXPECT_EQ(Names(), std::vector<std::string>{});
    }
}

// The hidden temporary of a conversion is removed once its process is gone,
// with or without its working file; one of a live process, or of another
// series, is left alone.
TEST_F(Recover, HiddenTemporariesOfGoneProcessesAreRemoved) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string gone = std::to_string(child);
    const std::string live = std::to_string(::getpid());
    WriteData(1, 0, 1000);
    for (const std::string& name : {".r-000002.dlf." + gone + "-0.new", ".r-000003.dlf." + gone + "-7.new",
                                    ".r-000002.dlf." + live + "-0.new", ".other-000001.dlf." + gone + "-0.new",
                                    ".r-000002.dlf." + gone + "-0.old"}) {
        WriteBytes(m_dir.Path(name), "half written");
    }
    const RecoveryReport report = RecoverSeries(Prefix());
    EXPECT_EQ(report.error, FileError::None) << report.reason;
    std::vector<std::string> left = {".other-000001.dlf." + gone + "-0.new", ".r-000002.dlf." + gone + "-0.old",
                                     ".r-000002.dlf." + live + "-0.new", "r-000001.dlf"};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(Names(), left);
}

// recover holds the prefix: refused, with nothing changed, while a recording
// holds it; a lock file a killed recording left is gone after it; a missing
// folder is said as one.
TEST_F(Recover, ThePrefixIsHeldWhileRecovering) {
    WriteWorking({.blocks = BLOCKS});
    {
        PrefixLock recording;
        ASSERT_EQ(recording.Acquire(Prefix()), PrefixLock::Result::Held);
        const auto before = Folder();
        const RecoveryReport report = RecoverSeries(Prefix());
        EXPECT_EQ(report.error, FileError::Open);
        EXPECT_EQ(report.reason, "the prefix is being recorded by a running process (pid " + std::to_string(::getpid()) +
                                     ", user " + ThisUser() + "); nothing was changed");
        EXPECT_EQ(Folder(), before);
    }
    WriteBytes(PrefixLockPath(Prefix()), "1 record\n");
    const RecoveryReport report = RecoverSeries(Prefix());
    EXPECT_EQ(report.error, FileError::None) << report.reason;
    EXPECT_EQ(Names(), std::vector<std::string>{"r-000001.dlf"});

    const RecoveryReport missing = RecoverSeries(m_dir.Path("gone/r"));
    EXPECT_EQ(missing.error, FileError::Open);
    EXPECT_EQ(missing.failedPath, m_dir.Path("gone"));
    EXPECT_EQ(missing.reason, "the folder does not exist");
}

}  // namespace
