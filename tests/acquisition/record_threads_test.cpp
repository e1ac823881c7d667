#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/temp_dir.h"
#include "sim/sim.h"
#include "acquisition/series_fixture.h"
#include "tests/device/sim_fixture.h"

namespace {

using simtest::ScriptVolts;

constexpr const char* WRITE_ERROR_TEXT = "ファイル書き込みエラーです";

using seriestest::ReadSeries;
using seriestest::Series;

void ExpectContinuous(const Series& series, std::size_t firstFrame, std::uint32_t divider, std::size_t count) {
    seriestest::ExpectContinuous(series, firstFrame, divider, count,
                                 [](std::uint64_t frame, int c) { return ScriptVolts(frame, c); });
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void InstallScripted(std::size_t frames, bool stalls, vossim::Pace pace) {
    vossim::SimConfig config;
    config.pace = pace;
    config.devices = {simtest::ScriptedLogger(frames, stalls)};
    vossim::Install(config);
}

// Waits for `done` with a generous deadline; false when it never came.
template <typename Condition>
bool WaitFor(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(Recorder, SplitsOneStreamIntoFilesWithoutGapOrRepeat) {
    struct Case {
        const char* name;
        std::uint32_t divider, split;
        std::uint64_t samples;
        TriggerSetup trigger;
        std::size_t firstFrame;  // raw frame of the first stored sample
        std::uint32_t files;
        std::uint32_t lastFileCount;
    };
    // Frames 0 and 1 lead; without a trigger the first kept frame is consumed by the test.
    const Case cases[] = {
        {"partial last file", 1, 7, 40, {}, 3, 6, 5},
        {"exact multiple, divider 3", 3, 10, 30, {}, 1 + 2 * 3, 3, 10},
        {"one sample a file", 2, 1, 4, {}, 1 + 2 * 2, 4, 1},
        // Channel 0 reads 0.01 V per frame: frame 11 is the first above 0.105 V and is consumed.
        {"level-high trigger", 1, 25, 60, TriggerSetup{0, TRIGGER_LEVEL_H, 0.105, 0}, 12, 3, 10},
        {"trigger that never fires, then stop", 1, 25, 0, TriggerSetup{1, TRIGGER_SLOPE_FALLING, 5.0, 0}, 0, 0, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        InstallScripted(5000, false, vossim::Pace::Instant);
        TempDir dir;
        const std::string csvPath = dir.Path("stream.csv");
        std::FILE* csv = std::fopen(csvPath.c_str(), "wb");
        ASSERT_NE(csv, nullptr);
        RecordOptions options;
        options.divider = test.divider;
        options.split = test.split;
        options.trigger = test.trigger;
        // Channel 1 only rises: the run without a sample limit ends by a stop, with nothing stored.
        options.sampleLimit = test.samples == 0 ? STREAM_UNLIMITED : test.samples;
        options.prefix = dir.Path("run");
        options.csvFd = ::fileno(csv);
        Recorder recorder(vossim::Api(), options);
        std::thread stopper;
        if (test.samples == 0) {
            stopper = std::thread([&recorder] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                recorder.RequestStop();
            });
        }
        const RecordOutcome outcome = recorder.Run();
        if (stopper.joinable()) stopper.join();
        std::fclose(csv);

        EXPECT_EQ(outcome.end, RecordEnd::Done) << outcome.message;
        EXPECT_EQ(outcome.message, "");
        EXPECT_EQ(outcome.samples, test.samples);
        EXPECT_EQ(outcome.files, test.files);
        EXPECT_GE(outcome.largestQueue, 8u);
        const Series series = ReadSeries(options.prefix);
        ASSERT_EQ(series.headers.size(), test.files);
        for (std::uint32_t f = 0; f < test.files; ++f) {
            const DataFileHeader& header = series.headers[f];
            EXPECT_EQ(header.sampleCount, f + 1 == test.files ? test.lastFileCount : test.split);
            EXPECT_EQ(header.clockDivider, static_cast<std::int32_t>(test.divider));
            EXPECT_EQ(header.triggerType, test.trigger.type);
            EXPECT_EQ(header.triggerChannel, test.trigger.channel);
            EXPECT_EQ(header.threshold, test.trigger.threshold);
            EXPECT_EQ(header.displayMode, 0);
        }
        ExpectContinuous(series, test.firstFrame, test.divider, test.samples);

        std::string expected;
        char row[128];
        for (std::size_t i = 0; i < test.samples; ++i) {
            const std::size_t frame = test.firstFrame + i * test.divider;
            std::snprintf(row, sizeof row, "%.5f,%.5f,%.5f,%.5f\r\n", ScriptVolts(frame, 0), ScriptVolts(frame, 1),
                          ScriptVolts(frame, 2), ScriptVolts(frame, 3));
            expected += row;
        }
        EXPECT_EQ(ReadText(csvPath), expected);
    }
}

TEST(Recorder, CsvRowsOfTheFirstSamples) {
    InstallScripted(100, false, vossim::Pace::Instant);
    TempDir dir;
    const std::string csvPath = dir.Path("rows.csv");
    std::FILE* csv = std::fopen(csvPath.c_str(), "wb");
    ASSERT_NE(csv, nullptr);
    RecordOptions options;
    options.sampleLimit = 2;
    options.csvFd = ::fileno(csv);
    Recorder recorder(vossim::Api(), options);
    EXPECT_EQ(recorder.Run().end, RecordEnd::Done);
    std::fclose(csv);
    // Frames 3 and 4 carry codes 30..33 and 40..43 at 1 mV a code.
    EXPECT_EQ(ReadText(csvPath), "0.03000,0.03100,0.03200,0.03300\r\n0.04000,0.04100,0.04200,0.04300\r\n");
    EXPECT_FALSE(std::filesystem::exists(SeriesFileName(dir.Path("run"), 1)));
}

// At 10 Hz a row is due every 100 ms, far from filling any buffer: it must
// still reach the reader while the recording runs.
TEST(Recorder, CsvRowsArriveWhileTheRecordingRuns) {
    InstallScripted(6000, false, vossim::Pace::Realtime);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    RecordOptions options;
    options.divider = 1000;
    options.sampleLimit = 50;  // 5 s: rows held back to the end would let it run out
    options.csvFd = pipeEnds[1];
    Recorder recorder(vossim::Api(), options);
    std::string received;
    std::thread reader([&] {
        char block[256];
        for (ssize_t got; (got = ::read(pipeEnds[0], block, sizeof block)) > 0;) {
            received.append(block, static_cast<std::size_t>(got));
            if (received.find('\n') != std::string::npos) recorder.RequestStop();
        }
    });
    const RecordOutcome outcome = recorder.Run();
    ::close(pipeEnds[1]);
    reader.join();
    ::close(pipeEnds[0]);
    EXPECT_EQ(outcome.end, RecordEnd::Done);
    EXPECT_LT(outcome.samples, 50u);
    // Kept frames are 1001, 2001, ...; the first is consumed by the trigger test.
    EXPECT_EQ(received.substr(0, 37), "20.01000,20.01100,20.01200,20.01300\r\n");
}

TEST(Recorder, StopWritesThePartialFileWithItsTrueCount) {
    InstallScripted(6000, false, vossim::Pace::Realtime);
    TempDir dir;
    RecordOptions options;
    options.split = 200;
    options.prefix = dir.Path("run");
    Recorder recorder(vossim::Api(), options);
    std::thread stopper([&recorder] {
        // Before the script's 6000 frames run out; the files are written at the next flush.
        EXPECT_TRUE(WaitFor([&recorder] { return recorder.Samples() >= 1000; }));
        recorder.RequestStop();
    });
    const RecordOutcome outcome = recorder.Run();
    stopper.join();
    EXPECT_EQ(outcome.end, RecordEnd::Done);
    const Series series = ReadSeries(options.prefix);
    ASSERT_GE(series.headers.size(), 2u);
    EXPECT_EQ(outcome.files, series.headers.size());
    EXPECT_EQ(outcome.samples, (series.headers.size() - 1) * 200 + series.headers.back().sampleCount);
    ExpectContinuous(series, 3, 1, outcome.samples);
}

// The DLF name of file 2 is taken by a folder, so its conversion fails while
// the writer goes on in file 3 (or further, when the converter is slow to
// run): the run ends, file 1 stays, and files 2, 3, ... stay working files in
// order, none converted past the failure.
TEST(Recorder, FailedConversionKeepsTheWorkingFilesInOrder) {
    InstallScripted(60000, false, vossim::Pace::Realtime);
    TempDir dir;
    RecordOptions options;
    options.split = 2000;
    options.prefix = dir.Path("run");
    std::filesystem::create_directory(SeriesFileName(options.prefix, 2));
    Recorder recorder(vossim::Api(), options);
    const RecordOutcome outcome = recorder.Run();
    EXPECT_EQ(outcome.end, RecordEnd::File);
    EXPECT_NE(outcome.fileError, FileError::None);
    EXPECT_EQ(outcome.failedPath, SeriesFileName(options.prefix, 2));
    EXPECT_EQ(outcome.files, 1u);
    EXPECT_EQ(outcome.samplesInFiles, 2000u);
    EXPECT_EQ(outcome.workingFile, WorkingFileName(options.prefix, 2));
    std::uint32_t last = 2;
    while (std::filesystem::exists(WorkingFileName(options.prefix, last + 1))) ++last;
    EXPECT_GE(last, 3u);
    EXPECT_EQ(outcome.lastWorkingFile, WorkingFileName(options.prefix, last));
    for (std::uint32_t index = 3; index <= last + 1; ++index) {
        EXPECT_FALSE(std::filesystem::exists(SeriesFileName(options.prefix, index))) << index;
    }
    // Every sample received is in a data file or a working file.
    EXPECT_EQ(outcome.samplesInFiles + outcome.workingSamples, outcome.samples);
    JournalContents contents;
    ASSERT_EQ(ScanJournal(WorkingFileName(options.prefix, 2), true, contents), FileError::None);
    EXPECT_EQ(contents.samples, 2000u);
}

TEST(Recorder, DeviceFailureKeepsEverythingReceived) {
    struct Case {
        const char* name;
        bool disconnect;
        std::string message;
    };
    const Case cases[] = {
        {"stall", false, "通信エラーが発生しました"},
        {"disconnect", true, "その他のエラーが発生しました"},  // FT_IO_ERROR
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = simtest::ScriptedLogger(2500, !test.disconnect);
        if (test.disconnect) device.disconnectAfter = 2500;
        simtest::InstallOne(device);
        TempDir dir;
        RecordOptions options;
        options.split = 1000;
        options.prefix = dir.Path("run");
        Recorder recorder(vossim::Api(), options);
        const RecordOutcome outcome = recorder.Run();
        EXPECT_EQ(outcome.end, RecordEnd::Device);
        EXPECT_EQ(outcome.deviceResult, test.disconnect ? 4u : 21u);
        EXPECT_EQ(outcome.message, test.message);
        // 2500 frames: two leading, one consumed by the trigger test.
        EXPECT_EQ(outcome.samples, 2497u);
        EXPECT_EQ(outcome.files, 3u);
        const Series series = ReadSeries(options.prefix);
        ASSERT_EQ(series.headers.size(), 3u);
        EXPECT_EQ(series.headers[2].sampleCount, 497u);
        ExpectContinuous(series, 3, 1, 2497);
        EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    }
}

// The child records at real time and, once two files are out, may write no
// file longer than 1000 bytes, as on a full disk. Files of 6000 samples take
// longer than one flush of the working file, so the limit always meets an
// append to the third working file, never a conversion.
TEST(Recorder, WriteFailureEndsTheRunAndKeepsFinishedFiles) {
    TempDir dir;
    const std::string prefix = dir.Path("run");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        InstallScripted(30000, false, vossim::Pace::Realtime);
        RecordOptions options;
        options.split = 6000;
        options.prefix = prefix;
        Recorder recorder(vossim::Api(), options);
        std::thread limiter([&recorder] {
            WaitFor([&recorder] { return recorder.Files() >= 2; });
            const rlimit limit{1000, 1000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        const RecordOutcome outcome = recorder.Run();
        limiter.join();
        const bool ok = outcome.end == RecordEnd::File && outcome.message == WRITE_ERROR_TEXT &&
                        outcome.fileError == FileError::Write &&
                        outcome.failedPath == WorkingFileName(prefix, outcome.files + 1) &&
                        outcome.workingFile == outcome.failedPath && outcome.samplesInFiles == outcome.files * 6000u;
        if (!ok) {
            std::fprintf(stderr, "end %d, error %d, files %u, in files %llu, failed %s, working %s\n",
                         static_cast<int>(outcome.end), static_cast<int>(outcome.fileError), outcome.files,
                         static_cast<unsigned long long>(outcome.samplesInFiles), outcome.failedPath.c_str(),
                         outcome.workingFile.c_str());
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Series series = ReadSeries(prefix);
    ASSERT_GE(series.headers.size(), 2u);
    for (const DataFileHeader& header : series.headers) EXPECT_EQ(header.sampleCount, 6000u);
    ExpectContinuous(series, 3, 1, series.headers.size() * 6000);
}

// A CSV reader that takes its time while the logger delivers at once: the
// two buffers allowed fill up and the run ends saying so, with every stored
// sample in the files.
TEST(Recorder, WriterBehindEndsTheRunWithinBoundedMemory) {
    InstallScripted(5000, false, vossim::Pace::Instant);
    TempDir dir;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::size_t csvBytes = 0;
    std::thread slowReader([&] {
        char block[512];
        for (ssize_t got; (got = ::read(pipeEnds[0], block, sizeof block)) > 0;) {
            csvBytes += static_cast<std::size_t>(got);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    RecordOptions options;
    options.split = 100;
    options.memoryBudget = 0;
    options.bufferSamples = 100;
    // Far more than two buffers hold: without the bound the run would end well.
    options.sampleLimit = 200000;
    options.prefix = dir.Path("run");
    options.csvFd = pipeEnds[1];
    Recorder recorder(vossim::Api(), options);
    const RecordOutcome outcome = recorder.Run();
    ::close(pipeEnds[1]);
    slowReader.join();
    ::close(pipeEnds[0]);

    EXPECT_EQ(outcome.end, RecordEnd::WriterBehind);
    EXPECT_EQ(outcome.message, "ファイル書き込みが間に合いません");
    EXPECT_EQ(outcome.buffers, 2u);
    const Series series = ReadSeries(options.prefix);
    EXPECT_EQ(outcome.files, series.headers.size());
    EXPECT_EQ(outcome.samples, series.samples[0].size());
    ExpectContinuous(series, 3, 1, outcome.samples);
    // Each row is "0.0dd00,0.0dd10,0.0dd20,0.0dd30\r\n" or longer: nothing stored is missing from the stream.
    EXPECT_GE(csvBytes, outcome.samples * 33);
}

}  // namespace
