// vosctl record run as a process against the simulated driver library.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/temp_dir.h"
#include "acquisition/series_fixture.h"
#include "cli_process.h"

namespace {

using seriestest::FrameVolts;
using seriestest::LoggerConfig;

// vosctl running in the background, its standard error caught in a file.
struct Background {
    pid_t pid = -1;
    std::string stderrPath;

    int Wait() const { return clitest::WaitExit(pid); }
    std::string Stderr() const { return clitest::ReadText(stderrPath); }
};

class RecordProcess : public testing::Test {
protected:
    clitest::Result Run(const std::string& config, const std::vector<std::string>& args) {
        return clitest::RunSim(m_dir, clitest::Via::DriverOption, config, args);
    }

    // Starts vosctl with the simulated driver and `config` as its bus, without
    // waiting; its standard output goes to `outFd`, or /dev/null when -1.
    Background Start(const std::string& config, std::vector<std::string> args, int outFd = -1) {
        const std::string configPath = m_dir.Path("sim.conf");
        clitest::WriteText(configPath, config);
        clitest::Environment environment;
        environment.Set("VOS_SIM_CONFIG", configPath);
        args.insert(args.begin(), {"--driver", clitest::SIM_LIBRARY});
        Background process;
        process.stderrPath = m_dir.Path("stderr");
        const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int errFd = ::open(process.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        process.pid = clitest::Spawn(args, environment, outFd >= 0 ? outFd : nullFd, errFd);
        ::close(nullFd);
        ::close(errFd);
        return process;
    }

    std::string Prefix() const { return m_dir.Path("run"); }

    // Polls for a file of the series with a generous deadline.
    bool WaitForFile(std::uint32_t index) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(SeriesFileName(Prefix(), index))) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Sample i must come from frame firstFrame + i * divider, on every channel: no gap, no repeat.
    static void ExpectContinuous(const seriestest::Series& series, std::uint64_t firstFrame, std::uint64_t divider) {
        seriestest::ExpectContinuous(series, firstFrame, divider, series.samples[0].size(), FrameVolts);
    }

    // The working file's samples in whole, good blocks, as a reader sees them now.
    static std::uint64_t WorkingSamples(const std::string& path) {
        JournalContents contents;
        return ScanJournal(path, true, contents) == FileError::None ? contents.samples : 0;
    }

    TempDir m_dir;
};

// The last "N samples" a progress line showed.
std::uint64_t ShownSamples(const std::string& shown) {
    const std::size_t end = shown.rfind(" samples  ");
    if (end == std::string::npos) return 0;
    const std::size_t start = shown.rfind(' ', end - 1);
    return std::stoull(shown.substr(start + 1, end - start - 1));
}

TEST_F(RecordProcess, SplitsOneStreamIntoContinuousFiles) {
    struct Case {
        const char* clock;
        std::uint64_t divider;
        const char* trigger;   // "" for none
        std::uint64_t firstFrame;  // frame of the first stored sample
        std::int32_t triggerType;
        const char* firstRow;  // CSV row of the first sample
    };
    // Frames 0 and 1 lead; the first kept frame is consumed by the trigger test.
    // Level-H at 0.0505 V fires on frame 51 (0.051 V), which is not stored.
    const Case cases[] = {
        {"10kHz", 1, "", 3, 255, "0.00300,0.00300,7.50000,2.50000\r\n"},
        {"5kHz", 2, "", 1 + 2 * 2, 255, "0.00500,0.00500,7.50000,2.50000\r\n"},
        {"10kHz", 1, "CH0:Level-H:0.0505", 52, 0, "0.05200,0.05200,7.50000,2.50000\r\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.clock) + " " + test.trigger);
        std::vector<std::string> args = {"record", "--clock", test.clock, "--samples", "2500", "--split", "1000",
                                         "-o",     Prefix(),  "--csv",    m_dir.Path("stream.csv")};
        if (*test.trigger != '\0') args.insert(args.end(), {"--trigger", test.trigger});
        const clitest::Result run = Run(LoggerConfig("instant", ""), args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("2500 samples"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("simulator overruns 0"), std::string::npos) << run.err;

        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        const std::vector<DataFileHeader>& headers = series.headers;
        ASSERT_EQ(headers.size(), 3u);
        const std::uint32_t counts[] = {1000, 1000, 500};
        for (std::size_t f = 0; f < 3; ++f) {
            EXPECT_EQ(headers[f].sampleCount, counts[f]);
            EXPECT_EQ(headers[f].clockDivider, static_cast<std::int32_t>(test.divider));
            EXPECT_EQ(headers[f].triggerType, test.triggerType);
            EXPECT_EQ(headers[f].threshold, *test.trigger != '\0' ? 0.0505 : 0.0);
        }
        ExpectContinuous(series, test.firstFrame, test.divider);

        // The series exported in one piece is the table streamed while recording.
        std::vector<std::string> csvArgs = {"csv", "-o", m_dir.Path("series.csv")};
        for (std::uint32_t f = 1; f <= 3; ++f) csvArgs.push_back(SeriesFileName(Prefix(), f));
        ASSERT_EQ(clitest::Run(m_dir, csvArgs, clitest::Environment()).status, 0);
        const std::string streamed = clitest::ReadText(m_dir.Path("stream.csv"));
        EXPECT_EQ(streamed.substr(0, 33), test.firstRow);
        EXPECT_EQ(clitest::ReadText(m_dir.Path("series.csv")), streamed);
        seriestest::RemoveSeries(Prefix(), 3);
        std::filesystem::remove(m_dir.Path("stream.csv"));
    }
}

TEST_F(RecordProcess, InterruptWritesThePartialFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const Background run = Start(LoggerConfig("realtime", ""), {"record", "--split", "1000", "-o", Prefix()});
        ASSERT_TRUE(WaitForFile(2));
        ::kill(run.pid, signal);
        EXPECT_EQ(run.Wait(), 128 + signal) << run.Stderr();
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        const std::vector<DataFileHeader>& headers = series.headers;
        ASSERT_GE(headers.size(), 2u);
        // The summary counts every sample received, and every one is in the files.
        EXPECT_NE(run.Stderr().find("vosctl record: " + std::to_string(series.samples[0].size()) + " samples"),
                  std::string::npos)
            << run.Stderr();
        for (std::size_t f = 0; f + 1 < headers.size(); ++f) EXPECT_EQ(headers[f].sampleCount, 1000u);
        EXPECT_LE(headers.back().sampleCount, 1000u);
        ExpectContinuous(series, 3, 1);
        seriestest::RemoveSeries(Prefix(), headers.size());
    }
}

// Once three files exist, no file may grow past 1000 bytes, as on a full disk.
TEST_F(RecordProcess, DiskFullKeepsTheFinishedFiles) {
    const Background run = Start(LoggerConfig("realtime", ""), {"record", "--split", "1000", "-o", Prefix()});
    ASSERT_TRUE(WaitForFile(3));
    const rlimit limit{1000, 1000};
    ASSERT_EQ(::prlimit(run.pid, RLIMIT_FSIZE, &limit, nullptr), 0);
    EXPECT_EQ(run.Wait(), 4);
    EXPECT_NE(run.Stderr().find("vosctl: ファイル書き込みエラーです ("), std::string::npos) << run.Stderr();
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    const std::vector<DataFileHeader>& headers = series.headers;
    ASSERT_GE(headers.size(), 2u);
    for (const DataFileHeader& header : headers) EXPECT_EQ(header.sampleCount, 1000u);
    ExpectContinuous(series, 3, 1);
    // The summary says what is on disk, not what was received.
    const std::string onDisk = std::to_string(headers.size() * 1000) + " of them in " +
                               std::to_string(headers.size()) + " files " + SeriesFileName(Prefix(), 1) + " to " +
                               SeriesFileName(Prefix(), static_cast<std::uint32_t>(headers.size()));
    EXPECT_NE(run.Stderr().find(onDisk), std::string::npos) << run.Stderr();
    EXPECT_NE(run.Stderr().find(" lost, "), std::string::npos) << run.Stderr();
}

TEST_F(RecordProcess, LoggerFailureKeepsEverythingReceived) {
    struct Case {
        const char* fault;
        const char* message;
    };
    const Case cases[] = {
        {"fault stall_after=2500", "vosctl: 通信エラーが発生しました ("},
        {"fault disconnect_after=2500", "vosctl: その他のエラーが発生しました ("},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.fault);
        const clitest::Result run = Run(LoggerConfig("instant", test.fault), {"record", "--split", "1000", "-o", Prefix()});
        EXPECT_EQ(run.status, 3);
        EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        const std::vector<DataFileHeader>& headers = series.headers;
        // 2500 frames: two leading, one consumed by the trigger test.
        ASSERT_EQ(headers.size(), 3u);
        EXPECT_EQ(series.samples[0].size(), 2497u);
        ExpectContinuous(series, 3, 1);
        seriestest::RemoveSeries(Prefix(), 3);
    }
}

TEST_F(RecordProcess, ProgressOnATerminal) {
    struct Case {
        const char* trigger;  // channel 2 holds 7.5 V: the first fires at once, the second never
        const char* shown;
        std::size_t files;
    };
    const Case cases[] = {
        {"CH2:Level-H:1", " files  largest queue ", 1},
        {"CH2:Level-H:9", "waiting for trigger", 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.trigger);
        clitest::TerminalRun run(m_dir, LoggerConfig("realtime", ""),
                                 {"record", "--trigger", test.trigger, "--split", "100000", "-o", Prefix()});
        EXPECT_TRUE(run.ReadUntil([&](const std::string& shown) { return shown.find(test.shown) != std::string::npos; }))
            << run.Shown();
        run.Signal(SIGINT);
        EXPECT_EQ(run.Finish(), 130) << run.Shown();
        EXPECT_NE(run.Shown().find("vosctl record: "), std::string::npos) << run.Shown();
        EXPECT_EQ(seriestest::ReadSeries(Prefix()).headers.size(), test.files);
        std::filesystem::remove(SeriesFileName(Prefix(), 1));
    }
}

TEST_F(RecordProcess, BadValuesAreRefusedBeforeTheLoggerIsOpened) {
    struct Case {
        std::vector<std::string> args;
        const char* named;
    };
    const char* const whole = "in decimal digits only";
    const char* const duration = "largest unit first, e.g. 90s, 15m, 8h, 2d or 1h30m, or a bare number of seconds";
    const Case cases[] = {
        {{"--split", "0"}, whole},
        {{"--split", "1000001"}, whole},
        {{"--split", "999"}, "is not a whole number from 1000 to 1000000 in decimal digits only"},
        {{"--split", "1000 "}, whole},
        {{"--split", "1e3"}, whole},
        {{"--split", "10,000"}, whole},
        {{"--split", "0x10"}, whole},
        {{"--samples", "0x10"}, "is not a whole number from 1 to 18446744073709551614 in decimal digits only"},
        {{"--samples", "0"}, "in decimal digits only"},
        {{"--samples", "18446744073709551615"}, "is not a whole number from 1 to 18446744073709551614 in decimal"},
        {{"--channel", "CH1"}, "--channel requires --csv"},
        {{"--duration", "5x"}, duration},
        {{"--duration", "1h30"}, duration},
        {{"--duration", "30m1h"}, duration},
        {{"--duration", "8s18446744073709551609"}, duration},
        {{"--duration", "1844674407370955"}, "at most 1844674407370954s"},
        {{"--duration", "1h", "--samples", "10"}, "excludes"},
        {{"--clock", "3kHz"}, "10kHz, 5kHz"},
        {{"--trigger", "CH4:Level-H:1"}, "CH0, CH1, CH2, CH3"},
    };
    // A driver that cannot be loaded would end with status 3 if it were asked.
    const std::vector<std::string> noDriver = {"--driver", "/nonexistent/libftd2xx.so", "record", "-o", Prefix()};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.args[1]);
        std::vector<std::string> args = noDriver;
        args.insert(args.end(), test.args.begin(), test.args.end());
        const clitest::Result run = clitest::Run(m_dir, args, clitest::Environment());
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.err.rfind("vosctl: パラメータが無効です (", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(test.named), std::string::npos) << run.err;
    }
    // The largest count the message names is taken: only the missing driver stops it.
    std::vector<std::string> largest = noDriver;
    largest.insert(largest.end(), {"--samples", "18446744073709551614"});
    const clitest::Result taken = clitest::Run(m_dir, largest, clitest::Environment());
    EXPECT_EQ(taken.status, 3) << taken.err;
    const clitest::Result noOutput =
        clitest::Run(m_dir, {"--driver", "/nonexistent/libftd2xx.so", "record", "--samples", "10"}, clitest::Environment());
    EXPECT_EQ(noOutput.status, 2) << noOutput.err;

    // A run that never started has nothing to sum up.
    const clitest::Result noLogger = Run("pace instant\n", {"record", "-o", Prefix()});
    EXPECT_EQ(noLogger.status, 3) << noLogger.err;
    EXPECT_EQ(noLogger.err.find("vosctl record:"), std::string::npos) << noLogger.err;

    // The longest name of the series is created and removed before the driver is loaded.
    struct NameCase {
        std::string prefix;
        std::vector<std::string> limits;
        int status;  // 3: the names fit, and the missing driver is next
    };
    const NameCase names[] = {
        {m_dir.Path("gone/run"), {}, 4},
        {m_dir.Path(std::string(245, 'p')), {"--samples", "2500", "--split", "1000"}, 4},
        {m_dir.Path(std::string(244, 'p')), {"--samples", "2500", "--split", "1000"}, 3},
        // Without a limit the file index may outgrow six digits.
        {m_dir.Path(std::string(244, 'p')), {}, 4},
    };
    for (const NameCase& test : names) {
        SCOPED_TRACE(test.prefix.size());
        std::vector<std::string> args = {"--driver", "/nonexistent/libftd2xx.so", "record", "-o", test.prefix};
        args.insert(args.end(), test.limits.begin(), test.limits.end());
        const clitest::Result run = clitest::Run(m_dir, args, clitest::Environment());
        EXPECT_EQ(run.status, test.status) << run.err;
        if (test.status == 4) {
            EXPECT_EQ(run.err.rfind("vosctl: ファイルオープンエラーです (", 0), 0u) << run.err;
        }
        EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
    }
}

// A prefix in use and an existing CSV file stay byte for byte; --overwrite
// clears them only once the logger is open, and then no old file is left.
TEST_F(RecordProcess, AUsedPrefixIsRefusedUnlessOverwritten) {
    ASSERT_EQ(Run(LoggerConfig("instant", ""), {"record", "--samples", "2500", "--split", "1000", "-o", Prefix()}).status, 0);
    const std::string working = Prefix() + "-000004.vrec";
    const std::string csv = m_dir.Path("keep.csv");
    const std::string newCsv = m_dir.Path("new.csv");
    clitest::WriteText(working, "working");
    clitest::WriteText(csv, "1\n2\n3\n");
    std::string before[3];
    for (std::uint32_t f = 1; f <= 3; ++f) before[f - 1] = clitest::ReadText(SeriesFileName(Prefix(), f));

    struct Case {
        const char* config;  // null: a driver that cannot be loaded
        std::vector<std::string> args;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {nullptr, {"-o", Prefix()}, 2,
         "is in use: 3 data files (" + SeriesFileName(Prefix(), 1) + " to " + SeriesFileName(Prefix(), 3) +
             ") and 1 working file (" + working + ") of a recording that was interrupted; nothing was changed: "
             "turn the working files into data files with `vosctl recover " + Prefix() + "`, choose another prefix, "
             "or add --overwrite"},
        {nullptr, {"--csv", csv}, 2, csv + " exists; nothing was changed: choose another name, or add --overwrite"},
        {"pace instant\n", {"-o", Prefix(), "--csv", csv, "--overwrite"}, 3, "(no logger found)"},
        {"pace instant\n", {"--csv", newCsv}, 3, "(no logger found)"},
        {nullptr, {"--csv", newCsv, "--overwrite"}, 3, "VOS-12/VOS-16がインストールできていません"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.said);
        std::vector<std::string> args = {"record", "--samples", "100"};
        args.insert(args.end(), test.args.begin(), test.args.end());
        clitest::Result run;
        if (test.config == nullptr) {
            args.insert(args.begin(), {"--driver", "/nonexistent/libftd2xx.so"});
            run = clitest::Run(m_dir, args, clitest::Environment());
        } else {
            run = Run(test.config, args);
        }
        EXPECT_EQ(run.status, test.status) << run.err;
        EXPECT_NE(run.err.find(test.said), std::string::npos) << run.err;
        for (std::uint32_t f = 1; f <= 3; ++f) EXPECT_EQ(clitest::ReadText(SeriesFileName(Prefix(), f)), before[f - 1]);
        EXPECT_EQ(clitest::ReadText(working), "working");
        EXPECT_EQ(clitest::ReadText(csv), "1\n2\n3\n");
        EXPECT_FALSE(std::filesystem::exists(newCsv));
    }

    const clitest::Result run =
        Run(LoggerConfig("instant", ""), {"record", "--samples", "100", "-o", Prefix(), "--csv", csv, "--overwrite"});
    ASSERT_EQ(run.status, 0) << run.err;
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.headers.size(), 1u);
    ExpectContinuous(series, 3, 1);
    EXPECT_EQ(series.samples[0].size(), 100u);
    EXPECT_FALSE(std::filesystem::exists(working));
    const std::string rows = clitest::ReadText(csv);
    EXPECT_EQ(rows.substr(0, 33), "0.00300,0.00300,7.50000,2.50000\r\n");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 100);
}

// A reader of --csv - that goes away costs the stream, not the data files.
TEST_F(RecordProcess, ACsvReaderThatGoesAwayCostsOnlyTheStream) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::close(pipeFds[0]);
    const Background run = Start(LoggerConfig("instant", ""),
                                 {"record", "--samples", "2500", "--split", "1000", "--csv", "-", "-o", Prefix()}, pipeFds[1]);
    ::close(pipeFds[1]);
    EXPECT_EQ(clitest::WaitExitWithin(run.pid, 20), 4);
    EXPECT_NE(run.Stderr().find("vosctl: ファイル書き込みエラーです (standard output: cannot write the file; the CSV "
                                "stream stopped there, and the data files went on)"),
              std::string::npos)
        << run.Stderr();
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    EXPECT_EQ(series.headers.size(), 3u);
    ExpectContinuous(series, 3, 1);
    EXPECT_EQ(series.samples[0].size(), 2500u);

    // Without data files the stream is the whole output: its reader leaving ends
    // the recording as it ends any command, with 141 and no error message.
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::close(pipeFds[0]);
    const Background alone = Start(LoggerConfig("instant", ""), {"record", "--samples", "200000", "--csv", "-"}, pipeFds[1]);
    ::close(pipeFds[1]);
    EXPECT_EQ(clitest::WaitExitWithin(alone.pid, 20), 141);
    EXPECT_EQ(alone.Stderr().find("vosctl: "), std::string::npos) << alone.Stderr();
}

// After Ctrl-C the writer may be held up: here by a reader of --csv - that
// reads nothing, so the writer waits on a full pipe. A second signal ends the
// process at once all the same. Signals pending together arrive lowest
// number first, yet two threads may each take one.
TEST_F(RecordProcess, ASecondSignalEndsAtOnce) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const Background run =
        Start(LoggerConfig("instant", ""), {"record", "--split", "1000", "--csv", "-", "-o", Prefix()}, pipeFds[1]);
    ::close(pipeFds[1]);
    // The writer waits once the pipe's 64 KiB are full.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int queued = 0;
    while (::ioctl(pipeFds[0], FIONREAD, &queued) == 0 && queued < 60000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(queued, 60000);
    ::kill(run.pid, SIGINT);
    ::kill(run.pid, SIGTERM);
    const int status = clitest::WaitExitWithin(run.pid, 5);
    ::close(pipeFds[0]);
    EXPECT_TRUE(status == 130 || status == 143) << status << run.Stderr();
    EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
}

// kill -9 at a random moment: recover keeps every sample up to at most one
// second before it, continuous from the first, and a second recover finds nothing to do.
TEST_F(RecordProcess, KillNineThenRecoverKeepsAllButTheLastSecond) {
    struct Case {
        const char* clock;
        std::uint64_t divider;
    };
    const Case cases[] = {{"10kHz", 1}, {"1kHz", 10}};
    std::mt19937 random(std::random_device{}());
    for (const Case& test : cases) {
        SCOPED_TRACE(test.clock);
        const std::uint64_t rate = 10000 / test.divider;
        // Between 1 and 2.5 seconds of samples.
        const std::uint64_t due = rate + std::uniform_int_distribution<std::uint64_t>(0, rate * 3 / 2)(random);
        std::uint64_t shown = 0;
        {
            clitest::TerminalRun run(m_dir, LoggerConfig("realtime", ""), {"record", "--clock", test.clock, "-o", Prefix()});
            ASSERT_TRUE(run.ReadUntil([&](const std::string& text) { return ShownSamples(text) >= due; })) << run.Shown();
            shown = ShownSamples(run.Shown());
            run.Signal(SIGKILL);
            EXPECT_EQ(run.Finish(), 128 + SIGKILL);
        }
        EXPECT_FALSE(std::filesystem::exists(SeriesFileName(Prefix(), 1)));
        ASSERT_TRUE(std::filesystem::exists(WorkingFileName(Prefix(), 1)));

        const clitest::Result recover = clitest::Run(m_dir, {"recover", Prefix()});
        EXPECT_EQ(recover.status, 0) << recover.err;
        EXPECT_NE(recover.err.find("vosctl recover: 1 file written, "), std::string::npos) << recover.err;
        EXPECT_NE(recover.err.find("; " + Prefix() + " has 1 file\n"), std::string::npos) << recover.err;
        EXPECT_FALSE(std::filesystem::exists(WorkingFileName(Prefix(), 1)));
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        ASSERT_EQ(series.headers.size(), 1u);
        const std::uint64_t kept = series.samples[0].size();
        EXPECT_GE(kept + rate, shown) << "more than the last second lost";
        EXPECT_EQ(series.headers[0].clockDivider, static_cast<std::int32_t>(test.divider));
        ASSERT_TRUE(series.headers[0].stamp.has_value());
        EXPECT_EQ(series.headers[0].stamp->index, 1u);
        EXPECT_EQ(series.headers[0].stamp->firstSample, 0u);
        ExpectContinuous(series, 1 + 2 * test.divider, test.divider);

        const std::string before = clitest::ReadText(SeriesFileName(Prefix(), 1));
        const clitest::Result again = clitest::Run(m_dir, {"recover", Prefix()});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.err.find("nothing to recover"), std::string::npos) << again.err;
        EXPECT_EQ(clitest::ReadText(SeriesFileName(Prefix(), 1)), before);
        seriestest::RemoveSeries(Prefix(), 1);
    }
}

// A working file torn in its last block, by a cut or a flipped byte: recover
// keeps the blocks before it and says how many samples it dropped.
TEST_F(RecordProcess, RecoverCutsATornTailAtTheLastGoodBlock) {
    const std::string working = WorkingFileName(Prefix(), 1);
    {
        const Background run = Start(LoggerConfig("realtime", ""), {"record", "-o", Prefix()});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        // Three flushes: at least two good blocks before the last.
        while (WorkingSamples(working) < 3 * 4000 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(run.pid, SIGKILL);
        EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    }
    const std::string original = clitest::ReadText(working);
    // Walk the blocks: a 272-byte header, then blocks of 16 bytes and 32 bytes a sample.
    std::size_t offset = 272;
    std::size_t lastBlock = 0;
    std::uint32_t lastCount = 0;
    std::uint64_t total = 0;
    while (offset + 16 <= original.size()) {
        std::uint32_t count = 0;
        std::memcpy(&count, original.data() + offset + 4, 4);
        if (offset + 16 + 32 * std::size_t{count} > original.size()) break;
        lastBlock = offset;
        lastCount = count;
        total += count;
        offset += 16 + 32 * std::size_t{count};
    }
    ASSERT_GT(lastBlock, 272u);
    ASSERT_GE(lastCount, 4u);
    const std::size_t blockEnd = lastBlock + 16 + 32 * std::size_t{lastCount};
    struct Case {
        const char* name;
        std::string content;
        std::uint64_t dropped;
    };
    std::string flipped = original.substr(0, blockEnd);
    flipped[lastBlock + 16 + 32 * (lastCount / 2)] ^= 0x10;
    const Case cases[] = {
        {"flipped byte", flipped, lastCount},
        {"cut part-way", original.substr(0, lastBlock + 16 + 32 * (lastCount / 2) + 5), lastCount / 2},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        clitest::WriteText(working, test.content);
        const clitest::Result recover = clitest::Run(m_dir, {"recover", Prefix()});
        EXPECT_EQ(recover.status, 0) << recover.err;
        EXPECT_NE(recover.err.find("cut after the last good block: " + std::to_string(test.dropped) + " samples dropped"),
                  std::string::npos)
            << recover.err;
        EXPECT_NE(recover.err.find(std::to_string(total - lastCount) + " samples"), std::string::npos) << recover.err;
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        ASSERT_EQ(series.headers.size(), 1u);
        ExpectContinuous(series, 3, 1);
        EXPECT_EQ(series.samples[0].size(), total - lastCount);
        seriestest::RemoveSeries(Prefix(), 1);
    }
}

// While the recording runs, a reader finds in the working file every sample
// stored up to one second ago, and every block written to it is followed by
// an fdatasync of it within one second.
TEST_F(RecordProcess, WorkingFileHoldsAllButTheLastSecond) {
    const std::string log = m_dir.Path("sync.log");
    const std::string working = WorkingFileName(Prefix(), 1);
    {
        clitest::TerminalRun run(m_dir, LoggerConfig("realtime", ""), {"record", "-o", Prefix()},
                                 {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_LOG=" + log,
                                  "ASAN_OPTIONS=verify_asan_link_order=0"});
        for (const std::uint64_t due : {8000, 15000, 22000}) {
            ASSERT_TRUE(run.ReadUntil([&](const std::string& text) { return ShownSamples(text) >= due; }))
                << run.Shown();
            const std::uint64_t shown = ShownSamples(run.Shown());
            EXPECT_GE(WorkingSamples(working) + 10000, shown) << "at " << due;
        }
        run.Signal(SIGKILL);
        run.Finish();
    }
    std::ifstream lines(log);
    std::vector<std::pair<char, long long>> events;
    char what = 0;
    long long at = 0;
    while (lines >> what >> at) events.emplace_back(what, at);
    std::size_t writes = 0;
    std::size_t syncs = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].first == 's') {
            ++syncs;
            continue;
        }
        ++writes;
        bool synced = false;
        for (std::size_t j = i + 1; j < events.size() && !synced; ++j) {
            synced = events[j].first == 's' && events[j].second - events[i].second <= 1000000000LL;
        }
        // The last blocks before the kill may still wait for their sync.
        if (events.back().second - events[i].second > 1000000000LL) {
            EXPECT_TRUE(synced) << "write " << i;
        }
    }
    EXPECT_GE(writes, 4u);
    EXPECT_GE(syncs, writes);
}

}  // namespace
