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
#include "acquisition/record_targets.h"
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

// The DLF name of file 2 is taken by another program before the recording
// reaches it: file 2 stays in its working file, named at the end, and the
// recording goes on with file 3 and on; no sample is lost.
TEST(Recorder, ATakenFutureNameKeepsItsWorkingFileAndGoesOn) {
    InstallScripted(10000, false, vossim::Pace::Instant);
    TempDir dir;
    RecordOptions options;
    options.split = 2000;
    options.sampleLimit = 10000;
    options.prefix = dir.Path("run");
    std::filesystem::create_directory(SeriesFileName(options.prefix, 2));
    Recorder recorder(vossim::Api(), options);
    const RecordOutcome outcome = recorder.Run();
    EXPECT_EQ(outcome.end, RecordEnd::Done) << outcome.message;
    EXPECT_EQ(outcome.samples, 10000u);
    EXPECT_EQ(outcome.files, 4u);
    EXPECT_EQ(outcome.samplesInFiles, 8000u);
    EXPECT_EQ(outcome.takenNames, std::vector<std::string>{SeriesFileName(options.prefix, 2)});
    EXPECT_EQ(outcome.takenWorkingFiles, std::vector<std::string>{WorkingFileName(options.prefix, 2)});
    EXPECT_EQ(outcome.takenSamples, 2000u);
    EXPECT_EQ(outcome.workingFile, "");
    JournalContents contents;
    ASSERT_EQ(ScanJournal(WorkingFileName(options.prefix, 2), true, contents), FileError::None);
    EXPECT_EQ(contents.samples, 2000u);
    for (const std::uint32_t index : {1u, 3u, 4u, 5u}) EXPECT_TRUE(std::filesystem::is_regular_file(SeriesFileName(options.prefix, index)));
    const std::string text = RecordSummaryText(outcome, options, 1);
    EXPECT_NE(text.find("10000 samples (0:01 at 10kHz) received, 8000 of them in 4 files " + SeriesFileName(options.prefix, 1) +
                        " to " + SeriesFileName(options.prefix, 5) + " but " + SeriesFileName(options.prefix, 2) +
                        ", 2000 in the working file " +
                        WorkingFileName(options.prefix, 2) + " (" + SeriesFileName(options.prefix, 2) +
                        ") whose data file name another program took (`vosctl recover " + options.prefix +
                        "` places them once those files are moved aside), 0 lost"),
              std::string::npos)
        << text;
}

// The series' folder renamed or removed while recording: the end counts what
// the working files hold where they are now, and says the data files are gone.
TEST(Recorder, AFolderMovedOrRemovedIsCountedWhereItWent) {
    for (const bool removed : {false, true}) {
        SCOPED_TRACE(removed ? "removed" : "renamed");
        InstallScripted(60000, false, vossim::Pace::Realtime);
        TempDir dir;
        std::filesystem::create_directory(dir.Path("sub"));
        RecordOptions options;
        options.split = 2000;
        options.prefix = dir.Path("sub/run");
        Recorder recorder(vossim::Api(), options);
        std::thread mover([&] {
            EXPECT_TRUE(WaitFor([&] {
                JournalContents contents;
                return recorder.Files() >= 1 &&
                       ScanJournal(WorkingFileName(options.prefix, 2), true, contents) == FileError::None &&
                       contents.samples > 0;
            }));
            if (removed) {
                std::filesystem::remove_all(dir.Path("sub"));
            } else {
                std::filesystem::rename(dir.Path("sub"), dir.Path("moved"));
            }
        });
        const RecordOutcome outcome = recorder.Run();
        mover.join();
        EXPECT_EQ(outcome.end, RecordEnd::File);
        EXPECT_TRUE(outcome.folderMoved);
        // File 1 at least was converted before the move; a slowed mover may let more through.
        const std::uint32_t files = outcome.files;
        ASSERT_GE(files, 1u);
        const std::string text = RecordSummaryText(outcome, options, 1);
        const std::string listed = files == 1 ? " in 1 file " + SeriesFileName(options.prefix, 1)
                                              : " in " + std::to_string(files) + " files " +
                                                    SeriesFileName(options.prefix, 1) + " to " +
                                                    SeriesFileName(options.prefix, files);
        EXPECT_NE(text.find(listed + " (no longer there: their folder was moved or removed while recording)"),
                  std::string::npos)
            << text;
        if (removed) {
            EXPECT_EQ(outcome.workingFile, "");
            EXPECT_EQ(outcome.workingSamples, 0u);
            continue;
        }
        // Every sample received is in the moved folder: the data files, and the working files after them.
        EXPECT_EQ(outcome.workingFile,
                  WorkingFileName(std::filesystem::canonical(dir.Path("moved")).string() + "/run", files + 1));
        EXPECT_EQ(outcome.samplesInFiles + outcome.workingSamples, outcome.samples);
        EXPECT_NE(text.find("(`vosctl recover " + std::filesystem::canonical(dir.Path("moved")).string() + "/run` makes"),
                  std::string::npos)
            << text;
        JournalContents contents;
        ASSERT_EQ(ScanJournal(outcome.workingFile, true, contents), FileError::None);
        EXPECT_EQ(contents.samples, outcome.workingFile == outcome.lastWorkingFile ? outcome.workingSamples : 2000u);
    }
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
