// vosctl record run as a process against the simulated driver library.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/series.h"
#include "files/temp_dir.h"
#include "acquisition/series_fixture.h"
#include "cli_process.h"
#include "record_fixture.h"

namespace {

using recordtest::Background;
using recordtest::RecordProcess;
using recordtest::ShownSamples;
using seriestest::FrameVolts;
using seriestest::LoggerConfig;

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
    // The failure names its cause: the limit, as a full disk would be named.
    EXPECT_NE(run.Stderr().find(": cannot write the file: the file is larger than allowed; the files before it are "
                                "complete)"),
              std::string::npos)
        << run.Stderr();
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

    // Every name of the series' widest index (working file, the hidden new
    // file of its conversion, data file) is created and removed before the
    // driver is loaded, and a refusal names the cause.
    // A folder this long leaves room for PREFIX-000003.vrec within PATH_MAX
    // (4095 bytes) but not for the hidden .r-000003.dlf.PID-N.new.
    std::string deep = m_dir.Path("");
    while (4069 - deep.size() > 250) deep += std::string(200, 'f') + "/";
    deep += std::string(4069 - deep.size(), 'g');
    const std::string shallower = deep.substr(0, deep.size() - 30);
    std::filesystem::create_directories(deep);
    std::filesystem::create_directories(shallower);
    struct NameCase {
        std::string prefix;
        std::vector<std::string> limits;
        int status;  // 3: the names fit, and the missing driver is next
        std::string said;
    };
    const std::vector<std::string> threeFiles = {"--samples", "2500", "--split", "1000"};
    const std::string tooLong = "cannot open the file: the name is too long; ";
    const NameCase names[] = {
        {m_dir.Path("gone/run"), {}, 4, "cannot open the file: the folder " + m_dir.Path("gone") + " does not exist"},
        {m_dir.Path(std::string(245, 'p')), threeFiles, 4, tooLong + "the working file"},
        // The .dlf name is 255 bytes, its working file one more.
        {m_dir.Path(std::string(244, 'p')), threeFiles, 4,
         m_dir.Path(std::string(244, 'p')) + "-000003.vrec: " + tooLong + "the working file of the series' widest index"},
        {m_dir.Path(std::string(243, 'p')), threeFiles, 3, "VOS-12/VOS-16がインストールできていません"},
        // Without a limit the file index may outgrow six digits.
        {m_dir.Path(std::string(243, 'p')), {}, 4, "-4294967295.vrec: " + tooLong + "the working file"},
        {deep + "/r", threeFiles, 4, tooLong + "the hidden new file of its conversion"},
        {shallower + "/r", threeFiles, 3, "VOS-12/VOS-16がインストールできていません"},
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
        EXPECT_NE(run.err.find(test.said), std::string::npos) << run.err;
        EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
        if (const std::string folder = std::filesystem::path(test.prefix).parent_path(); clitest::Exists(folder)) {
            EXPECT_EQ(clitest::HiddenFiles(folder), std::vector<std::string>());
        }
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
    EXPECT_NE(run.Stderr().find("vosctl: ファイル書き込みエラーです (standard output: cannot write the file: the reader of the output has "
                                "gone; the CSV "
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
// stops reading, so the writer waits on a full pipe. A second signal ends the
// process at once all the same, with the status of the first, and says what
// it leaves on disk. Held still while both arrive, so that they are taken together.
TEST_F(RecordProcess, ASecondSignalEndsAtOnce) {
    struct Case {
        const char* config;
        bool workingFile;  // the pipe is read until a working file exists
    };
    const Case cases[] = {{"instant", false}, {"realtime", true}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.config);
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        // Only this end: the writer's end blocks, so that the writer waits.
        ASSERT_EQ(::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK), 0);
        const Background run = Start(LoggerConfig(test.config, ""),
                                     {"record", "--split", "1000", "--csv", "-", "-o", Prefix()}, pipeFds[1]);
        ::close(pipeFds[1]);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const auto workingFiles = [&] {
            std::vector<std::string> found;
            for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
                if (entry.path().extension() == ".vrec") found.push_back(entry.path().string());
            }
            return found;
        };
        char drained[65536];
        while (test.workingFile && workingFiles().empty() && std::chrono::steady_clock::now() < deadline) {
            if (::read(pipeFds[0], drained, sizeof drained) <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        // The writer waits once the pipe's 64 KiB are full.
        int queued = 0;
        while (::ioctl(pipeFds[0], FIONREAD, &queued) == 0 && queued < 60000 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_GE(queued, 60000);
        ASSERT_TRUE(clitest::StopProcess(run.pid)) << run.Stderr();
        ::kill(run.pid, SIGINT);
        ::kill(run.pid, SIGTERM);
        ::kill(run.pid, SIGCONT);
        // "At once" is told by the message below; the bound only keeps a hang from lasting.
        const int status = clitest::WaitExitWithin(run.pid, 30);
        ::close(pipeFds[0]);
        EXPECT_EQ(status, 130) << run.Stderr();
        const std::string said = run.Stderr();
        EXPECT_NE(said.find("vosctl record: ended at once by a signal: "), std::string::npos) << said;
        if (test.workingFile) {
            std::uint32_t files = 0;
            while (std::filesystem::exists(SeriesFileName(Prefix(), files + 1))) ++files;
            // Files the converter had not reached yet stay as working files, in order after the data
            // files; the last data file's own working file stays too when the signal came between
            // the data file being put in place and the working file being removed.
            std::vector<std::string> left = workingFiles();
            std::sort(left.begin(), left.end());
            if (left.empty()) {
                // The writer, held up on the full pipe, had not begun the next file's working
                // file: what is on disk is the data files alone, and the message names just them.
                ASSERT_GT(files, 0u);
                const std::string onDisk =
                    files == 1 ? ", 1 data file " + SeriesFileName(Prefix(), 1) + "\n"
                               : ", " + std::to_string(files) + " data files " + SeriesFileName(Prefix(), 1) + " to " +
                                     SeriesFileName(Prefix(), files) + "\n";
                EXPECT_NE(said.find(" samples received" + onDisk), std::string::npos) << said;
                EXPECT_EQ(said.find("vosctl recover"), std::string::npos) << said;
            } else {
                const std::uint32_t firstLeft = files > 0 && left.front() == WorkingFileName(Prefix(), files) ? files : files + 1;
                std::vector<std::string> expected;
                for (std::uint32_t i = 0; i < left.size(); ++i) expected.push_back(WorkingFileName(Prefix(), firstLeft + i));
                ASSERT_EQ(left, expected);
                const std::string dataFiles =
                    files == 0   ? ", no data file; what reached the disk is in "
                    : files == 1 ? ", 1 data file " + SeriesFileName(Prefix(), 1) + "; what reached the disk after them is in "
                                 : ", " + std::to_string(files) + " data files " + SeriesFileName(Prefix(), 1) + " to " +
                                       SeriesFileName(Prefix(), files) + "; what reached the disk after them is in ";
                const std::string workingText = left.size() == 1 ? "the working file " + left.front()
                                                                  : "the working files " + left.front() + " to " + left.back();
                EXPECT_NE(said.find(" samples received" + dataFiles + workingText + ", left for `vosctl recover " + Prefix() + "`"),
                          std::string::npos)
                    << said;
            }
        }
        // Neither a hidden new file nor the prefix's lock stays.
        EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
            if (entry.path().string().rfind(Prefix() + "-", 0) == 0) std::filesystem::remove(entry.path());
        }
    }
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

// Working files damaged in their first block, a middle block and at the tail,
// and files that do not belong together, through vosctl recover: no intact
// sample is deleted, the numbers said are exact, and what does not belong is
// refused with status 4 and left as it is.
TEST_F(RecordProcess, RecoverKeepsEveryIntactBlock) {
    // Blocks of 100, 200, 300 and 400 samples at file offsets 272, 3488, 9904 and 19520.
    const std::vector<std::uint32_t> blocks = {100, 200, 300, 400};
    const std::size_t at[] = {272, 3488, 9904, 19520};
    const std::string working = WorkingFileName(Prefix(), 1);
    const std::string first = SeriesFileName(Prefix(), 1);
    const std::string second = SeriesFileName(Prefix(), 2);
    const auto damage = [&](int block) {
        journaltest::WriteWorkingFile(working, {.blocks = blocks});
        std::string bytes = clitest::ReadText(working);
        bytes[at[block] + 16 + 32 * 60 + 1] ^= 0x08;
        clitest::WriteText(working, bytes);
    };
    struct Case {
        const char* name;
        std::function<void()> make;
        int status;
        std::vector<std::string> said;
        std::vector<std::string> files;  // afterwards, beside the run's output files
    };
    const Case cases[] = {
        {"block 1", [&] { damage(0); }, 0,
         {working + ": 900 samples (2023-11-14T22:13:20.010000Z to 2023-11-14T22:13:20.099900Z) written to " + first +
              "; removed the working file\n",
          "gap at the start, before " + first +
              ": 100 samples lost in damaged blocks, from 2023-11-14T22:13:20.000000Z for 0.0100 s\n",
          "1 file written, 900 samples, 2023-11-14T22:13:20.010000Z to 2023-11-14T22:13:20.099900Z; " + Prefix() +
              " has 1 file; 1 gap, 100 samples lost in damaged blocks\n"},
         {"run-000001.dlf"}},
        {"block 3", [&] { damage(2); }, 0,
         {working + ": 700 samples (2023-11-14T22:13:20.000000Z to 2023-11-14T22:13:20.099900Z) written to " + first +
              ", " + second + "; removed the working file\n",
          "gap between " + first + " and " + second +
              ": 300 samples lost in damaged blocks, from 2023-11-14T22:13:20.030000Z for 0.0300 s\n",
          "2 files written, 700 samples"},
         {"run-000001.dlf", "run-000002.dlf"}},
        {"the last block", [&] { damage(3); }, 0,
         {working + ": 600 samples (2023-11-14T22:13:20.000000Z to 2023-11-14T22:13:20.059900Z) written to " + first +
              "; a damaged tail was cut after the last good block: 400 samples dropped; removed the working file\n",
          "1 file written, 600 samples"},
         {"run-000001.dlf"}},
        {"block 3 with a later working file",
         [&] {
             damage(2);
             journaltest::WriteWorkingFile(WorkingFileName(Prefix(), 2),
                                           {.index = 2, .firstSample = 1000, .startMicros = journaltest::START_MICROS + 100000,
                                            .blocks = {50}});
         },
         4,
         {working + ": 300 samples (2023-11-14T22:13:20.000000Z to 2023-11-14T22:13:20.029900Z) written to " + first +
              "; kept the working file as " + working + ".damaged: it holds 400 intact samples that are in no data file\n",
          "2 files written, 350 samples", "1 working file was damaged"},
         {"run-000001.dlf", "run-000001.vrec.damaged", "run-000002.dlf"}},
        {"a data file of another recording at the same index",
         [&] {
             journaltest::WriteWorkingFile(working, {.blocks = blocks});
             journaltest::WriteWorkingFile(m_dir.Path("other.vrec"), {.identity = 9, .blocks = {10}});
             JournalContents contents;
             ASSERT_EQ(ScanJournal(m_dir.Path("other.vrec"), true, contents), FileError::None);
             ASSERT_EQ(ConvertJournal(m_dir.Path("other.vrec"), contents, first), FileError::None);
             std::filesystem::remove(m_dir.Path("other.vrec"));
         },
         4, {first + ": the file exists and is not this file of the recording; nothing was changed"},
         {"run-000001.dlf", "run-000001.vrec"}},
        {"a working file of another recording",
         [&] {
             journaltest::WriteWorkingFile(working, {.blocks = blocks});
             ASSERT_EQ(clitest::Run(m_dir, {"recover", Prefix()}).status, 0);
             journaltest::WriteWorkingFile(WorkingFileName(Prefix(), 2),
                                           {.index = 2, .firstSample = 1000, .identity = 9, .blocks = {50}});
         },
         4,
         {WorkingFileName(Prefix(), 2) + ": the working file belongs to another recording than " + first +
          "; it was left as it is"},
         {"run-000001.dlf", "run-000002.vrec"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        test.make();
        std::map<std::string, std::string> before;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
            if (entry.path().filename().string().rfind("run-", 0) == 0) {
                before[entry.path().filename().string()] = clitest::ReadText(entry.path().string());
            }
        }
        const clitest::Result recover = clitest::Run(m_dir, {"recover", Prefix()});
        EXPECT_EQ(recover.status, test.status) << recover.err;
        for (const std::string& said : test.said) EXPECT_NE(recover.err.find(said), std::string::npos) << said << "\n" << recover.err;
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("run-", 0) == 0) files.push_back(name);
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, test.files);
        if (test.status == 4 && test.files.back() != "run-000002.dlf") {
            // Refused: every file is as it was.
            for (const auto& [name, bytes] : before) EXPECT_EQ(clitest::ReadText(m_dir.Path(name)), bytes) << name;
        }
        for (const std::string& name : files) std::filesystem::remove(m_dir.Path(name));
    }
}


// The logger's frame whose channel 0 reads `volts` (frame mod 10000 in mV) nearest to `near`.
std::uint64_t FrameNear(double volts, std::uint64_t near) {
    const auto residue = static_cast<std::int64_t>(std::llround(volts * 1000));
    const auto base = static_cast<std::int64_t>(near) - static_cast<std::int64_t>(near % 10000);
    std::int64_t best = base + residue;
    for (const std::int64_t candidate : {base - 10000 + residue, base + 10000 + residue}) {
        if (std::llabs(candidate - static_cast<std::int64_t>(near)) < std::llabs(best - static_cast<std::int64_t>(near))) {
            best = candidate;
        }
    }
    return static_cast<std::uint64_t>(best);
}

// The host stalls for 3 s at 10 kHz, as under kill -STOP: the receive queue
// overflows. The loss is told at the time and at the end, the file in hand
// ends, and the next file's stamp names its true time and position; info
// lists the gap, csv and plot of the series say it has one.
TEST_F(RecordProcess, StallIsReportedAndTheNextFileTellsItsTrueTime) {
    const Background run = Start(LoggerConfig("realtime", "hold after=20000 ms=3000"),
                                 {"record", "--samples", "60000", "--split", "30000", "-o", Prefix()});
    // The warning comes while the recording still runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (run.Stderr().find("frames lost") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(run.Stderr().find("frames lost"), std::string::npos);
    siginfo_t ended{};
    ::waitid(P_PID, static_cast<id_t>(run.pid), &ended, WEXITED | WNOHANG | WNOWAIT);
    EXPECT_EQ(ended.si_pid, 0) << "the warning came only at the end";
    EXPECT_EQ(run.Wait(), 0);
    const std::string err = run.Stderr();
    // 30000 frames came in 3 s; the queue of 64 KiB held 8192 of them.
    const std::size_t summary = err.find("1 gap where frames were lost, about ");
    ASSERT_NE(summary, std::string::npos) << err;
    const std::uint64_t lost = std::stoull(err.substr(summary + 36));
    // At least the 30000 frames of 3 s less what the queue held, at most the 3 s; as many as
    // the simulator counted lost at its full queue, within the frames on their way.
    EXPECT_GE(lost, 21808u - 250u) << err;
    EXPECT_LE(lost, 30000u + 250u) << err;
    const std::size_t overruns = err.find("simulator overruns ");
    ASSERT_NE(overruns, std::string::npos) << err;
    EXPECT_NEAR(static_cast<double>(lost), static_cast<double>(std::stoull(err.substr(overruns + 19))), 250.0) << err;
    EXPECT_NE(err.find("run-000001.dlf ends before the gap, " + SeriesFileName(Prefix(), 2) + " starts after it"),
              std::string::npos)
        << err;

    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.headers.size(), 3u);
    const DataFileHeader& first = series.headers[0];
    const DataFileHeader& second = series.headers[1];
    EXPECT_EQ(first.stamp->firstSample, 0u);
    EXPECT_EQ(second.stamp->index, 2u);
    EXPECT_EQ(second.stamp->firstSample, first.sampleCount + lost);
    EXPECT_EQ(series.headers[2].stamp->firstSample, second.stamp->firstSample + second.sampleCount);
    EXPECT_EQ(first.sampleCount + second.sampleCount + series.headers[2].sampleCount, 60000u);
    EXPECT_TRUE(CheckSeries(series.headers));
    // Each file is continuous: file 1 from frame 3, files 2 and 3 from the frame after the gap.
    const std::uint64_t resumed = FrameNear(series.samples[0][first.sampleCount], second.stamp->firstSample + 3);
    // A host too slowed (a sanitizer build, a busy machine) to drain the full queue at once loses
    // a few frames more just after the stall, fewer than a loss that can be told (64 at a full
    // queue): after the gap one such jump forward is allowed, and nothing else.
    std::uint64_t skipped = 0;
    for (std::size_t i = 0; i < series.samples[0].size(); ++i) {
        std::uint64_t frame = i < first.sampleCount ? 3 + i : resumed + skipped + (i - first.sampleCount);
        if (i > first.sampleCount && skipped == 0 && std::fabs(series.samples[0][i] - seriestest::FrameVolts(frame, 0)) > 1e-9) {
            skipped = FrameNear(series.samples[0][i], frame) - frame;
            EXPECT_GE(skipped, 1u) << "sample " << i;
            EXPECT_LE(skipped, 64u) << "sample " << i;
            frame += skipped;
        }
        ASSERT_NEAR(series.samples[0][i], seriestest::FrameVolts(frame, 0), 1e-9) << "sample " << i;
    }
    // The position counts the lost samples within the frames still on their way.
    EXPECT_NEAR(static_cast<double>(second.stamp->firstSample + 3), static_cast<double>(resumed), 250.0);
    // The logger sends frame n n * 100 us after frame 0: the stamp is true within 0.1 s.
    const std::int64_t trueStart = first.stamp->startMicros + static_cast<std::int64_t>(resumed - 3) * 100;
    EXPECT_NEAR(static_cast<double>(second.stamp->startMicros - trueStart), 0.0, 100000.0);

    std::vector<std::string> files;
    for (std::uint32_t i = 1; i <= 3; ++i) files.push_back(SeriesFileName(Prefix(), i));
    std::vector<std::string> info = {"info"};
    info.insert(info.end(), files.begin(), files.end());
    const clitest::Result text = clitest::Run(m_dir, info);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("  gap             after " + files[0] + ", from "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("about " + std::to_string(lost) + " samples lost, before " + files[1]), std::string::npos)
        << text.out;
    info.push_back("--json");
    const clitest::Result json = clitest::Run(m_dir, info);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"gaps\":[{\"after\":\"" + files[0] + "\",\"before\":\"" + files[1] + "\",\"from\":\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"lost_samples\":" + std::to_string(lost) + "}]"), std::string::npos) << json.out;
    for (const char* command : {"csv", "plot"}) {
        std::vector<std::string> args = {command};
        args.insert(args.end(), files.begin(), files.end());
        args.insert(args.end(), {"-o", m_dir.Path(std::string("all.") + (command[0] == 'c' ? "csv" : "png"))});
        const clitest::Result result = clitest::Run(m_dir, args);
        EXPECT_EQ(result.status, 0) << command << ": " << result.err;
        EXPECT_NE(result.err.find(std::string("vosctl ") + command + ": the series has 1 gap where frames were lost"),
                  std::string::npos)
            << result.err;
    }
}

// The system clock set forward an hour, back half a second and back an hour
// while recording, the last at a stall of 1.5 s: each step is told once
// with its size, the gap lasts what was lost, and every file's stamp is its
// first sample's true time (the logger sends frame n n * 100 us after frame
// 0) within 2 ms. info takes the series as it is.
TEST_F(RecordProcess, StampsFollowTheSamplesThroughClockSteps) {
    // Keyed to data files, which stay: files 2 and 4 come before the stall, file 6 ends at it.
    const std::string steps = SeriesFileName(Prefix(), 2) + "=3600000000," + SeriesFileName(Prefix(), 4) +
                              "=-500000," + SeriesFileName(Prefix(), 6) + "=-3600000000";
    const Background run = Start(LoggerConfig("realtime", "hold after=17500 ms=1500"),
                                 {"record", "--samples", "40000", "--split", "5000", "-o", Prefix()}, -1, "stderr",
                                 {std::string("LD_PRELOAD=") + CLOCK_STEP_PATH, "VOS_CLOCK_STEPS=" + steps});
    ASSERT_EQ(run.Wait(), 0) << run.Stderr();
    const std::string err = run.Stderr();
    const auto told = [&](const std::string& text) {
        std::vector<double> sizes;
        for (std::size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) {
            sizes.push_back(std::stod(err.substr(at + text.size())));
        }
        return sizes;
    };
    const std::string setBack = "vosctl record: warning: the system clock was set back by ";
    const std::vector<double> forward = told("vosctl record: warning: the system clock was set forward by ");
    const std::vector<double> back = told(setBack);
    ASSERT_EQ(forward.size(), 1u) << err;
    ASSERT_EQ(back.size(), 2u) << err;
    EXPECT_NEAR(forward[0], 3600.0, 0.01);
    EXPECT_NEAR(back[0], 0.5, 0.01);
    EXPECT_NEAR(back[1], 3600.0, 0.01);
    const std::size_t summary = err.find("1 gap where frames were lost, about ");
    ASSERT_NE(summary, std::string::npos) << err;

    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.headers.size(), 9u);
    const std::uint64_t frame0 = FrameNear(series.samples[0][0], 3);
    std::uint64_t sample = 0;
    std::uint64_t frameBefore = 0;
    int gaps = 0;
    for (const DataFileHeader& header : series.headers) {
        SCOPED_TRACE(testing::Message() << "file " << header.stamp->index);
        const std::uint64_t frame = FrameNear(series.samples[0][sample], frame0 + header.stamp->firstSample);
        const std::int64_t truth = series.headers[0].stamp->startMicros + static_cast<std::int64_t>(frame - frame0) * 100;
        EXPECT_NEAR(static_cast<double>(header.stamp->startMicros - truth), 0.0, 2000.0);
        if (sample > 0 && frame != frameBefore + 1) {
            // The gap as long as the frames lost, not the clock's steps.
            ++gaps;
            const std::size_t gap = err.find(" for ", summary);
            ASSERT_NE(gap, std::string::npos) << err;
            EXPECT_NEAR(std::stod(err.substr(gap + 5)), static_cast<double>(frame - frameBefore - 1) * 1e-4, 0.002);
        }
        sample += header.sampleCount;
        frameBefore = FrameNear(series.samples[0][sample - 1], frame + header.sampleCount - 1);
    }
    EXPECT_EQ(gaps, 1);
    std::vector<std::string> info = {"info", "--json"};
    for (std::uint32_t i = 1; i <= 9; ++i) info.push_back(SeriesFileName(Prefix(), i));
    const clitest::Result described = clitest::Run(m_dir, info);
    EXPECT_EQ(described.status, 0) << described.err;
}

// A stall just past what the queue of 64 KiB holds (8192 frames, 0.82 s)
// loses fewer frames than may be on their way; the queue found at its limit
// tells the loss all the same.
TEST_F(RecordProcess, StallJustPastTheQueueIsReported) {
    const clitest::Result result = Run(LoggerConfig("realtime", "hold after=5000 ms=830"),
                                       {"record", "--samples", "20000", "--split", "10000", "-o", Prefix()});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::size_t summary = result.err.find("1 gap where frames were lost, about ");
    ASSERT_NE(summary, std::string::npos) << result.err;
    const std::uint64_t lost = std::stoull(result.err.substr(summary + 36));
    // 8300 frames in 0.83 s, 8192 of them queued: 108 lost, more if the hold ran late.
    EXPECT_GE(lost, 108u - 16u) << result.err;
    const std::size_t overruns = result.err.find("simulator overruns ");
    ASSERT_NE(overruns, std::string::npos) << result.err;
    EXPECT_NEAR(static_cast<double>(lost), static_cast<double>(std::stoull(result.err.substr(overruns + 19))), 64.0)
        << result.err;
    // The frames lost follow the 5000 read and the 8192 queued: file 2 ends before them.
    EXPECT_NE(result.err.find("run-000002.dlf ends before the gap"), std::string::npos) << result.err;
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.headers.size(), 3u);
    EXPECT_EQ(series.headers[2].stamp->firstSample,
              series.headers[0].sampleCount + series.headers[1].sampleCount + lost);
}

// Frames lost while the trigger is awaited cost nothing recorded: no gap is
// reported, and the first file starts at the trigger with continuous samples.
TEST_F(RecordProcess, LossBeforeTheTriggerCostsNothingRecorded) {
    // Channel 0 reaches 9.5 V at frame 9500 of every 10000; the host stalls 2 s after frame 1000.
    const clitest::Result result = Run(LoggerConfig("realtime", "hold after=1000 ms=2000"),
                                       {"record", "--trigger", "CH0:Level-H:9.5", "--samples", "3000", "-o", Prefix()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("frames lost"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("gap"), std::string::npos) << result.err;
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.headers.size(), 1u);
    EXPECT_EQ(series.headers[0].stamp->firstSample, 0u);
    ASSERT_EQ(series.samples[0].size(), 3000u);
    const std::uint64_t first = FrameNear(series.samples[0][0], 29502);
    for (std::size_t i = 0; i < 3000; ++i) {
        ASSERT_NEAR(series.samples[0][i], seriestest::FrameVolts(first + i, 0), 1e-9) << "sample " << i;
    }
}

// A crystal 200 ppm fast or slow is no loss.
TEST_F(RecordProcess, CrystalOffBy200PpmIsNoLoss) {
    for (const char* ppm : {"200", "-200"}) {
        SCOPED_TRACE(ppm);
        const clitest::Result result =
            Run(LoggerConfig("realtime", std::string("clock ppm=") + ppm), {"record", "--samples", "30000", "-o", Prefix()});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err.find("lost"), std::string::npos) << result.err;
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        ASSERT_EQ(series.headers.size(), 1u);
        ExpectContinuous(series, 3, 1);
        seriestest::RemoveSeries(Prefix(), 1);
    }
}

// On a disk whose every sync takes 2 s, a kill -9 while finished files wait
// for their conversion loses at most one flush period and one slow sync:
// the working file keeps being written while the converter waits on the disk.
TEST_F(RecordProcess, SlowDiskKillLosesAtMostOneFlushAndOneSync) {
    const Background run = Start(LoggerConfig("realtime", ""), {"record", "--split", "20000", "-o", Prefix()}, -1, "stderr",
                                 {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_DELAY_MS=2000",
                                  "ASAN_OPTIONS=verify_asan_link_order=0"});
    const std::string folder = std::filesystem::path(Prefix()).parent_path().string();
    auto converting = [&] {
        // A finished working file besides the one being filled, and a conversion's hidden temporary.
        std::size_t working = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) working += entry.path().extension() == ".vrec";
        return working >= 2 && !clitest::HiddenFiles(folder).empty() && std::filesystem::exists(SeriesFileName(Prefix(), 1));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!converting() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(converting());
    const std::int64_t killed = UtcMicrosNow();
    ::kill(run.pid, SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    const clitest::Result recover = clitest::Run(m_dir, {"recover", Prefix()});
    EXPECT_EQ(recover.status, 0) << recover.err;
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_GE(series.headers.size(), 2u);
    ExpectContinuous(series, 3, 1);
    const DataFileHeader& last = series.headers.back();
    const std::int64_t lastEnd = last.stamp->startMicros + static_cast<std::int64_t>(last.sampleCount) * 100;
    // RECORD_FLUSH_PERIOD 0.5 s plus one sync of 2 s, and 0.2 s for the logger's link and the test's own timing.
    EXPECT_LE(killed - lastEnd, 2700000) << "lost " << (killed - lastEnd) / 1e6 << " s";
}

}  // namespace
