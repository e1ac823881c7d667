// One recording per prefix, and series past index 999,999, with vosctl as a
// process against the simulated driver library.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"
#include "record_fixture.h"

namespace {

using recordtest::Background;
using recordtest::RecordProcess;
using seriestest::LoggerConfig;

// "N samples (" of the summary line "vosctl record: N samples (...": what the
// recording says it received; a failure naming what was said when no such line is there.
std::uint64_t ReportedSamples(const std::string& said) {
    const std::string head = "vosctl record: ";
    for (std::size_t at = said.find(head); at != std::string::npos; at = said.find(head, at + 1)) {
        const std::size_t digits = at + head.size();
        std::size_t end = digits;
        while (end < said.size() && std::isdigit(static_cast<unsigned char>(said[end])) != 0) ++end;
        if (end > digits && said.compare(end, 9, " samples ") == 0) return std::stoull(said.substr(digits, end - digits));
    }
    ADD_FAILURE() << "no summary line \"" << head << "N samples ...\" in: " << said;
    return 0;
}

// The identity of every file is the first file's, and each follows the one before.
void ExpectOneRecording(const seriestest::Series& series) {
    for (std::size_t f = 0; f < series.headers.size(); ++f) {
        ASSERT_TRUE(series.headers[f].stamp.has_value());
        EXPECT_EQ(series.headers[f].stamp->identity, series.headers[0].stamp->identity) << f;
        EXPECT_EQ(series.headers[f].stamp->index, f + 1);
        EXPECT_EQ(series.headers[f].stamp->firstSample, 1000u * f);
    }
}

// A second record on a prefix that a running recording holds is refused at
// once, --overwrite or not, naming the process; the first keeps every sample.
TEST_F(RecordProcess, ARunningRecordingKeepsItsPrefix) {
    const Background first = Start(LoggerConfig("realtime", ""), {"record", "--split", "1000", "-o", Prefix()});
    ASSERT_TRUE(WaitForFile(1));
    const std::string refused = "vosctl: パラメータが無効です (the prefix " + Prefix() +
                                " is being recorded by a running process (pid " + std::to_string(first.pid) +
                                ", user " + ThisUser() + "); nothing was changed: choose another prefix";
    const std::vector<std::string> cases[] = {{}, {"--overwrite"}, {"--overwrite", "--csv", m_dir.Path("x.csv")}};
    // Names created in the folder: a refused recording tries none of the series' names.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, m_dir.Path("").c_str(), IN_CREATE), 0);
    for (const std::vector<std::string>& extra : cases) {
        SCOPED_TRACE(extra.size());
        std::vector<std::string> args = {"record", "--samples", "5000", "-o", Prefix()};
        args.insert(args.end(), extra.begin(), extra.end());
        const clitest::Result second = Run(LoggerConfig("instant", ""), args);
        EXPECT_EQ(second.status, 2) << second.err;
        EXPECT_EQ(second.err.rfind(refused, 0), 0u) << second.err;
        EXPECT_TRUE(std::filesystem::exists(SeriesFileName(Prefix(), 1)));
        EXPECT_FALSE(std::filesystem::exists(m_dir.Path("x.csv")));
    }
    alignas(inotify_event) char events[65536];
    for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string name = event->len > 0 ? event->name : "";
            // The hidden new file of the widest index that only a try of the names makes.
            EXPECT_EQ(name.find(".4194304-4294967295.new"), std::string::npos) << name;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    // Nor does recover touch the running recording's files.
    const clitest::Result recover = clitest::Run(m_dir, {"recover", Prefix()});
    EXPECT_EQ(recover.status, 4) << recover.err;
    EXPECT_EQ(recover.err, "vosctl: ファイルオープンエラーです (" + Prefix() +
                               ": the prefix is being recorded by a running process (pid " + std::to_string(first.pid) +
                               ", user " + ThisUser() + "); nothing was changed)\n");
    ::kill(first.pid, SIGINT);
    EXPECT_EQ(clitest::WaitExitWithin(first.pid, 20), 130) << first.Stderr();
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    EXPECT_EQ(series.samples[0].size(), ReportedSamples(first.Stderr())) << first.Stderr();
    EXPECT_EQ(first.Stderr().find(" lost"), std::string::npos) << first.Stderr();
    seriestest::ExpectContinuous(series, 3, 1, series.samples[0].size(), seriestest::FrameVolts);
    ExpectOneRecording(series);
    // The prefix is free again, and its lock is gone with the recording.
    EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
}

// recover and record --overwrite on one prefix at once, recover's syncs held
// until the new recording has tried: the recording is refused and changes
// nothing, recover makes its data files, and no lock file is left.
TEST_F(RecordProcess, RecoverAndOverwriteNeverMeet) {
    {
        clitest::TerminalRun run(m_dir, LoggerConfig("realtime", ""),
                                 {"record", "--clock", "1kHz", "--split", "1000", "-o", Prefix()});
        // Two data files, and samples in the third one's working file.
        ASSERT_TRUE(run.ReadUntil([&](const std::string&) { return WorkingSamples(WorkingFileName(Prefix(), 3)) > 0; }))
            << run.Shown();
        run.Signal(SIGKILL);
        EXPECT_EQ(run.Finish(), 128 + SIGKILL);
    }
    ASSERT_TRUE(std::filesystem::exists(WorkingFileName(Prefix(), 3)));
    const std::string hold = m_dir.Path("hold");
    clitest::WriteText(hold, "");
    const Background recover = Start("", {"recover", Prefix()}, -1, "recover",
                                     {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_HOLD=" + hold});
    const std::string held = std::to_string(recover.pid) + " recover\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (clitest::Exists(PrefixLockPath(Prefix())) ? clitest::ReadText(PrefixLockPath(Prefix())) != held : true) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << recover.Stderr();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const clitest::Result record =
        Run(LoggerConfig("instant", ""), {"record", "--samples", "3000", "--split", "1000", "--overwrite", "-o", Prefix()});
    EXPECT_EQ(record.status, 2) << record.err;
    EXPECT_EQ(record.err, "vosctl: パラメータが無効です (the prefix " + Prefix() +
                              " is being recovered by a running process (pid " + std::to_string(recover.pid) +
                              ", user " + ThisUser() +
                              "); nothing was changed: choose another prefix; or try again once the recovery has ended)\n");
    std::filesystem::remove(hold);
    EXPECT_EQ(clitest::WaitExitWithin(recover.pid, 30), 0) << recover.Stderr();
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_GE(series.headers.size(), 3u);
    EXPECT_GE(series.samples[0].size(), 2000u);
    seriestest::ExpectContinuous(series, 21, 10, series.samples[0].size(), seriestest::FrameVolts);
    ExpectOneRecording(series);
    EXPECT_FALSE(std::filesystem::exists(WorkingFileName(Prefix(), 3)));
    EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
}

// Two recordings started at once on one prefix, on one logger and on two:
// whichever takes the prefix records until it is stopped; the other is refused,
// naming the first's process, and the series is whole and the first's own.
TEST_F(RecordProcess, TwoRecordingsStartedTogetherShareNoPrefix) {
    const std::string twoLoggers = LoggerConfig("realtime", "") +
                                   "device serial=30002 resolution=16\n"
                                   "calibration v1=0 v2=10 c1=0,0,0,0 c2=10000,10000,10000,10000\n"
                                   "channel 0 sawtooth freq=1 amp=5 offset=5\n"
                                   "channel 1 sawtooth freq=2 amp=2.5 offset=2.5\n"
                                   "channel 2 dc offset=7.5\n"
                                   "channel 3 dc offset=2.5\n";
    struct Case {
        const char* name;
        const char* serials[2];
    };
    const Case cases[] = {{"one logger", {"30001", "30001"}}, {"two loggers", {"30001", "30002"}}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Background runs[2];
        for (int i = 0; i < 2; ++i) {
            runs[i] = Start(twoLoggers, {"record", "--serial", test.serials[i], "--split", "1000", "-o", Prefix()}, -1,
                            "stderr" + std::to_string(i));
        }
        // Neither stops by itself: the one that ends is the refused one, and the
        // other held the prefix for all of its life.
        int refused = -1;
        int status = -1;
        for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             refused < 0 && std::chrono::steady_clock::now() < deadline;) {
            for (int i = 0; i < 2 && refused < 0; ++i) {
                if (int raw = 0; ::waitpid(runs[i].pid, &raw, WNOHANG) == runs[i].pid) {
                    refused = i;
                    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (refused < 0) {
            for (const Background& run : runs) clitest::WaitExitWithin(run.pid, 0);
            FAIL() << "neither recording was refused within 30 s: " << runs[0].Stderr() << runs[1].Stderr();
        }
        const Background& kept = runs[1 - refused];
        EXPECT_EQ(status, 2) << runs[refused].Stderr();
        EXPECT_NE(runs[refused].Stderr().find("is being recorded by a running process (pid " + std::to_string(kept.pid) +
                                              ", user " + ThisUser() + ")"),
                  std::string::npos)
            << runs[refused].Stderr();
        ASSERT_TRUE(WaitForFile(2)) << kept.Stderr();
        ::kill(kept.pid, SIGINT);
        EXPECT_EQ(clitest::WaitExitWithin(kept.pid, 30), 130) << kept.Stderr();
        const seriestest::Series series = seriestest::ReadSeries(Prefix());
        ASSERT_GE(series.headers.size(), 2u);
        EXPECT_EQ(series.samples[0].size(), ReportedSamples(kept.Stderr())) << kept.Stderr();
        seriestest::ExpectContinuous(series, 3, 1, series.samples[0].size(), seriestest::FrameVolts);
        ExpectOneRecording(series);
        seriestest::RemoveSeries(Prefix(), series.headers.size());
        EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
    }
}

// Whatever its width, a file of the series marks the prefix as in use; a
// name the recorder never writes (a seventh digit that is a leading zero) does not.
TEST_F(RecordProcess, APrefixInUseIsFoundAtAnyWidth) {
    struct Case {
        const char* file;
        int status;  // 3: accepted, and the missing driver is next
        const char* said;
    };
    const Case cases[] = {
        {"r-000003.vrec", 2, "is in use: 1 working file (@r-000003.vrec) of a recording that was interrupted"},
        {"r-1000000.dlf", 2, "is in use: 1 data file (@r-1000000.dlf); nothing was changed"},
        {"r-4294967295.vrec", 2, "is in use: 1 working file (@r-4294967295.vrec)"},
        {"r-0000001.dlf", 3, "VOS-12/VOS-16がインストールできていません"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        const std::string folder = m_dir.Path(std::string("p-") + test.file) + "/";
        std::filesystem::create_directory(folder);
        clitest::WriteText(folder + test.file, "kept");
        const clitest::Result run = clitest::Run(
            m_dir, {"--driver", clitest::NO_DRIVER, "record", "--samples", "100", "-o", folder + "r"}, clitest::Environment());
        EXPECT_EQ(run.status, test.status) << run.err;
        std::string said = test.said;
        if (const std::size_t at = said.find('@'); at != std::string::npos) said.replace(at, 1, folder);
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_EQ(clitest::ReadText(folder + test.file), "kept");
    }
}

// --overwrite removes the hidden new files that a killed conversion left, but
// neither a running process's own nor a working file a running program writes.
TEST_F(RecordProcess, OverwriteRemovesOnlyWhatNoRunningProgramHolds) {
    const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t gone = clitest::Spawn({"--version"}, clitest::Environment(), nullFd, nullFd);
    ::close(nullFd);
    ASSERT_EQ(clitest::WaitExit(gone), 0);
    const std::string leftByKill = ".run-000001.dlf." + std::to_string(gone) + "-0.new";
    const std::string ofLiveProcess = ".run-000002.dlf." + std::to_string(::getpid()) + "-0.new";
    clitest::WriteText(m_dir.Path(leftByKill), "half");
    clitest::WriteText(m_dir.Path(ofLiveProcess), "half");
    clitest::WriteText(SeriesFileName(Prefix(), 1), "old");

    {
        // This process writes the working file, as a window's run or a recording would.
        JournalWriter writer;
        JournalHeader header;
        header.split = 1000;
        header.settings.stamp = RecordingStamp{0, {}, 2, 1000};
        ASSERT_EQ(writer.Create(WorkingFileName(Prefix(), 2), header), FileError::None);
        const clitest::Result held =
            Run(LoggerConfig("instant", ""), {"record", "--samples", "100", "--overwrite", "-o", Prefix()});
        EXPECT_EQ(held.status, 2) << held.err;
        EXPECT_NE(held.err.find(WorkingFileName(Prefix(), 2) + " is being written by a running program; nothing was "
                                                               "changed: --overwrite never removes a file in use"),
                  std::string::npos)
            << held.err;
        EXPECT_EQ(clitest::ReadText(SeriesFileName(Prefix(), 1)), "old");
        EXPECT_TRUE(std::filesystem::exists(WorkingFileName(Prefix(), 2)));
        EXPECT_TRUE(std::filesystem::exists(m_dir.Path(leftByKill)));
    }

    const clitest::Result run =
        Run(LoggerConfig("instant", ""), {"record", "--samples", "100", "--overwrite", "-o", Prefix()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(seriestest::ReadSeries(Prefix()).samples[0].size(), 100u);
    EXPECT_FALSE(std::filesystem::exists(WorkingFileName(Prefix(), 2)));
    EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>{ofLiveProcess});
}

// SIGQUIT, SIGUSR1 and SIGALRM during a conversion end the recording at once
// with 128 + the signal, leave no hidden new file nor the prefix's lock, and
// say that the working file is left for recover, which keeps every sample.
TEST_F(RecordProcess, OtherEndingSignalsLeaveNoHiddenFile) {
    for (const int signal : {SIGQUIT, SIGUSR1, SIGALRM}) {
        SCOPED_TRACE(signal);
        Background run;
        // The conversion's new file carries the recorder's own process number; the
        // names tried before the logger opens carry the widest one.
        const auto converting = [&] {
            const std::string hiddenHead = ".run-000001.dlf." + std::to_string(run.pid) + "-";
            const std::vector<std::string> hidden = clitest::HiddenFiles(m_dir.Path(""));
            return std::any_of(hidden.begin(), hidden.end(),
                               [&](const std::string& name) { return name.rfind(hiddenHead, 0) == 0; });
        };
        // Should the conversion end between the last look and the stop, it runs again.
        for (int attempt = 0; attempt < 5 && run.pid < 0; ++attempt) {
            seriestest::RemoveSeries(Prefix(), 1);
            // Every sync slowed, so that the converter, let go with the signal, is still
            // at its sync when the signal ends the process.
            run = Start(LoggerConfig("instant", ""), {"record", "--samples", "300000", "--split", "300000", "-o", Prefix()},
                        -1, "stderr",
                        {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_DELAY_MS=1000",
                         "ASAN_OPTIONS=verify_asan_link_order=0"});
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!converting() && std::chrono::steady_clock::now() < deadline) {
            }
            // Looked at only once it has stopped: a process signalled may still run a while.
            if (!clitest::StopProcess(run.pid)) {
                run.pid = -1;
                continue;
            }
            if (!converting()) {
                ::kill(run.pid, SIGCONT);
                clitest::WaitExitWithin(run.pid, 60);
                run.pid = -1;
            }
        }
        ASSERT_GT(run.pid, 0) << "the conversion's new file was never seen";
        ::kill(run.pid, signal);
        ::kill(run.pid, SIGCONT);
        EXPECT_EQ(clitest::WaitExitWithin(run.pid, 30), 128 + signal) << run.Stderr();
        EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
        const std::string working = WorkingFileName(Prefix(), 1);
        // Should the converter still run before the signal's end, its data file is whole and named.
        const bool placed = std::filesystem::exists(SeriesFileName(Prefix(), 1));
        if (placed) {
            EXPECT_EQ(seriestest::ReadSeries(Prefix()).samples[0].size(), 300000u);
            std::cout << "signal " << signal << ": the data file was placed before the end\n";
        }
        const std::string onDisk = placed ? ", 1 data file " + SeriesFileName(Prefix(), 1) +
                                                "; what reached the disk after them is in the working file "
                                          : ", no data file; what reached the disk is in the working file ";
        EXPECT_NE(run.Stderr().find("vosctl record: ended at once by a signal: 300000 samples received" + onDisk + working +
                                    ", left for `vosctl recover " + Prefix() + "`"),
                  std::string::npos)
            << run.Stderr();
        EXPECT_EQ(WorkingSamples(working), 300000u);
        std::filesystem::remove(working);
        std::filesystem::remove(SeriesFileName(Prefix(), 1));
    }
}

// A series that crosses index 999,999, made of small files: the prefix check,
// recover, info, csv and plot all take its files in the order of their
// numbers, and the prefix alone names the whole series.
TEST_F(RecordProcess, ASeriesPastIndex999999) {
    const std::string prefix = Prefix();
    const std::uint32_t first = 999998;
    const std::array<std::uint8_t, 16> identity = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    // 2026-01-01T00:00:00Z, and 0.1 s a file of 1000 samples at 10 kHz.
    const std::int64_t start = 1767225600000000;
    const auto header = [&](std::uint32_t index) {
        DataFileHeader settings;
        settings.stamp = RecordingStamp{start + std::int64_t{index - first} * 100000, identity, index,
                                        std::uint64_t{index - 1} * 1000};
        return settings;
    };
    // Channel 0 climbs 1 mV a sample within each file, channel 1 numbers the files from 1.
    for (std::uint32_t index = first; index < first + 3; ++index) {
        std::vector<double> values[4];
        for (int j = 0; j < 1000; ++j) {
            values[0].push_back(0.001 * j);
            values[1].push_back(index - first + 1);
            values[2].push_back(7.5);
            values[3].push_back(2.5);
        }
        clitest::WriteRecord(SeriesFileName(prefix, index), header(index), values);
    }
    {
        JournalWriter writer;
        JournalHeader working;
        working.split = 1000;
        working.settings = header(first + 3);
        ASSERT_EQ(writer.Create(WorkingFileName(prefix, first + 3), working), FileError::None);
        std::vector<double> values[4];
        for (int j = 0; j < 10; ++j) {
            values[0].push_back(0.001 * j);
            values[1].push_back(4);
            values[2].push_back(7.5);
            values[3].push_back(2.5);
        }
        const double* channels[4] = {values[0].data(), values[1].data(), values[2].data(), values[3].data()};
        ASSERT_EQ(writer.Append(channels, 10), FileError::None);
        ASSERT_EQ(writer.Sync(), FileError::None);
    }

    const clitest::Result refused =
        clitest::Run(m_dir, {"--driver", clitest::NO_DRIVER, "record", "-o", prefix}, clitest::Environment());
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("is in use: 3 data files (" + prefix + "-999998.dlf to " + prefix +
                               "-1000000.dlf) and 1 working file (" + prefix + "-1000001.vrec)"),
              std::string::npos)
        << refused.err;

    const clitest::Result recovered = clitest::Run(m_dir, {"recover", prefix});
    EXPECT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_NE(recovered.err.find(prefix + "-1000001.vrec: 10 samples (2026-01-01T00:00:00.300000Z to "
                                          "2026-01-01T00:00:00.300900Z) written to " + prefix + "-1000001.dlf"),
              std::string::npos)
        << recovered.err;
    EXPECT_NE(recovered.err.find("1 file written, 10 samples"), std::string::npos) << recovered.err;
    EXPECT_NE(recovered.err.find(prefix + " has 4 files"), std::string::npos) << recovered.err;

    const clitest::Result info = clitest::Run(m_dir, {"info", prefix});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("series of 4 files, " + prefix + "-999998.dlf to " + prefix + "-1000001.dlf"),
              std::string::npos)
        << info.out;

    const std::string csv = m_dir.Path("all.csv");
    const clitest::Result table = clitest::Run(m_dir, {"csv", prefix, "-o", csv});
    EXPECT_EQ(table.status, 0) << table.err;
    const std::string rows = clitest::ReadText(csv);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 3010);
    const std::string row = "0.00000,1.00000,7.50000,2.50000\r\n";
    EXPECT_EQ(rows.substr(0, row.size()), row);
    const std::size_t fileThree = 2000 * row.size();
    EXPECT_EQ(rows.substr(fileThree, row.size()), "0.00000,3.00000,7.50000,2.50000\r\n");
    EXPECT_EQ(rows.substr(rows.size() - row.size()), "0.00900,4.00000,7.50000,2.50000\r\n");

    const std::string png = m_dir.Path("all.png");
    const clitest::Result plot = clitest::Run(m_dir, {"plot", prefix, "-o", png});
    EXPECT_EQ(plot.status, 0) << plot.err;
    EXPECT_EQ(clitest::ReadText(png).substr(0, 4), "\x89PNG");

    // A file under the prefix's own name makes the prefix ambiguous.
    clitest::WriteText(prefix, "a file");
    const clitest::Result ambiguous = clitest::Run(m_dir, {"info", prefix});
    EXPECT_EQ(ambiguous.status, 2) << ambiguous.err;
    EXPECT_NE(ambiguous.err.find(prefix + " is a file and also the prefix of the series " + prefix + "-999998.dlf to " +
                                 prefix + "-1000001.dlf; nothing was read"),
              std::string::npos)
        << ambiguous.err;
}

// A FAT loop mount made for the test: its folder, or "" with the reason it could not be made.
class FatMount {
public:
    explicit FatMount(const TempDir& dir) : m_image(dir.Path("fat.img")), m_point(dir.Path("fat")) {
        if (::getuid() != 0) {
            m_why = "not root";
            return;
        }
        std::filesystem::create_directory(m_point);
        const std::string make = "truncate -s 64M '" + m_image + "' && mkfs.vfat '" + m_image + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) {
            m_why = "mkfs.vfat failed (dosfstools: scripts/setup.sh)";
            return;
        }
        if (std::system(("mount -o loop '" + m_image + "' '" + m_point + "' 2>/dev/null").c_str()) != 0) {
            m_why = "this machine cannot mount a FAT image";
            return;
        }
        m_mounted = true;
    }
    ~FatMount() {
        if (m_mounted) EXPECT_EQ(std::system(("umount '" + m_point + "'").c_str()), 0);
    }
    FatMount(const FatMount&) = delete;
    FatMount& operator=(const FatMount&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Point() const { return m_point; }
    const std::string& Why() const { return m_why; }

private:
    std::string m_image;
    std::string m_point;
    std::string m_why;
    bool m_mounted = false;
};

// Recording and recovery on file systems without hard links or a rename that
// never replaces (FAT, exFAT): each data file takes its name through a
// placeholder of its own; nothing is left but the series.
TEST_F(RecordProcess, RecordAndRecoverWithoutHardLinks) {
    const FatMount fat(m_dir);
    struct Case {
        const char* name;
        std::string folder;
        std::vector<std::string> environment;
    };
    std::filesystem::create_directory(m_dir.Path("shim"));
    const Case cases[] = {
        {"link and renameat2 fail", m_dir.Path("shim"),
         {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_NO_LINKS=1"}},
        {"a FAT loop mount", fat.Point(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.folder == fat.Point() && !fat.Mounted()) {
            std::cout << "skipped \"" << c.name << "\": " << fat.Why() << "\n";
            continue;
        }
        std::filesystem::create_directory(c.folder + "/a");
        std::filesystem::create_directory(c.folder + "/b");
        const std::string prefix = c.folder + "/a/p";
        const Background whole = Start(LoggerConfig("instant", ""), {"record", "--samples", "2500", "--split", "1000", "-o", prefix},
                                       -1, "stderr", c.environment);
        EXPECT_EQ(clitest::WaitExitWithin(whole.pid, 30), 0) << whole.Stderr();
        const seriestest::Series series = seriestest::ReadSeries(prefix);
        ASSERT_EQ(series.headers.size(), 3u) << whole.Stderr();
        EXPECT_EQ(series.samples[0].size(), 2500u);
        ExpectOneRecording(series);
        seriestest::ExpectContinuous(series, 3, 1, 2500, seriestest::FrameVolts);

        const std::string killed = c.folder + "/b/k";
        {
            clitest::TerminalRun run(m_dir, LoggerConfig("realtime", ""),
                                     {"record", "--clock", "1kHz", "--split", "1000", "-o", killed}, c.environment);
            ASSERT_TRUE(run.ReadUntil([&](const std::string&) { return WorkingSamples(WorkingFileName(killed, 2)) > 0; }))
                << run.Shown();
            run.Signal(SIGKILL);
            EXPECT_EQ(run.Finish(), 128 + SIGKILL);
        }
        // File 1 is a working file still where the converter had not reached it before the kill.
        const std::size_t left = ListSeries(killed).workingFiles.size();
        ASSERT_GE(left, 1u);
        clitest::Environment environment(c.environment);
        const clitest::Result recover = clitest::Run(m_dir, {"recover", killed}, environment);
        EXPECT_EQ(recover.status, 0) << recover.err;
        EXPECT_NE(recover.err.find("vosctl recover: " + std::string(left == 1 ? "1 file" : std::to_string(left) + " files") +
                                   " written, "),
                  std::string::npos)
            << recover.err;
        const seriestest::Series recovered = seriestest::ReadSeries(killed);
        ASSERT_EQ(recovered.headers.size(), 2u) << recover.err;
        ExpectOneRecording(recovered);
        seriestest::ExpectContinuous(recovered, 21, 10, recovered.samples[0].size(), seriestest::FrameVolts);
        // The series alone: no placeholder, hidden new file or lock file.
        std::vector<std::string> names;
        for (const char* sub : {"/a", "/b"}) {
            for (const auto& entry : std::filesystem::directory_iterator(c.folder + sub)) {
                names.push_back(entry.path().filename());
            }
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"k-000001.dlf", "k-000002.dlf", "p-000001.dlf", "p-000002.dlf",
                                                   "p-000003.dlf"}));
    }
    // Where no rename works either, the recording is refused before the logger opens.
    const Background refused = Start(LoggerConfig("instant", ""), {"record", "--samples", "2500", "-o", Prefix()}, -1,
                                     "stderr", {std::string("LD_PRELOAD=") + SYNC_SPY_PATH, "VOS_SYNC_SPY_NO_LINKS=2"});
    EXPECT_EQ(clitest::WaitExitWithin(refused.pid, 30), 4);
    const std::string said = refused.Stderr();
    const std::string head = "vosctl: ファイル書き込みエラーです (" + SeriesFileName(Prefix(), 1) + ": the file system (";
    const std::string tail = ") cannot give a finished data file its name without replacing another file: permission "
                             "denied; tried before the logger starts; nothing was recorded)\n";
    EXPECT_EQ(said.rfind(head, 0), 0u) << said;
    EXPECT_TRUE(said.ends_with(tail)) << said;
    EXPECT_FALSE(clitest::Exists(Prefix() + "-000001.vrec"));
}

// A folder whose sync fails (EIO from its first, or its second, sync on)
// ends record and recover with status 4 and the cause; what reached the disk
// stays, and a recover on a sound disk places all of it.
TEST_F(RecordProcess, AFailedFolderSyncEndsWithItsCause) {
    const std::string shim = std::string("LD_PRELOAD=") + SYNC_SPY_PATH;
    const std::vector<std::string> args = {"record", "--samples", "5000", "--split", "1000", "-o", Prefix()};
    const std::string failed = "vosctl: ファイル書き込みエラーです (";
    struct Case {
        const char* failing;  // VOS_SYNC_SPY_FOLDER_EIO
        std::string said;     // the last line
    };
    const Case cases[] = {
        {"1", failed + m_dir.Path("").substr(0, m_dir.Path("").size() - 1) +
                  ": the folder cannot be synced (Input/output error), so the names of the files could be lost at a "
                  "power failure; tried before the logger starts; nothing was recorded)\n"},
        {"2", failed + WorkingFileName(Prefix(), 1) +
                  ": the sync of its folder failed (Input/output error), so its name may not survive a power failure; "
                  "no data file was completed: what reached the disk is in the working files)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        const Background run =
            Start(LoggerConfig("instant", ""), args, -1, "stderr", {shim, std::string("VOS_SYNC_SPY_FOLDER_EIO=") + c.failing});
        EXPECT_EQ(clitest::WaitExitWithin(run.pid, 30), 4) << run.Stderr();
        const std::string said = run.Stderr();
        EXPECT_EQ(said.substr(said.rfind("vosctl: ")), c.said);
    }
    const std::uint64_t received = ReportedSamples(clitest::ReadText(m_dir.Path("stderr")));
    ASSERT_GT(received, 0u);
    EXPECT_FALSE(clitest::Exists(SeriesFileName(Prefix(), 1)));

    // A full disk: nothing is written, and it says so.
    const clitest::Result full =
        clitest::Run(m_dir, {"recover", Prefix()}, clitest::Environment({shim, "VOS_SYNC_SPY_FILE_ENOSPC=1"}));
    EXPECT_EQ(full.status, 4) << full.err;
    EXPECT_EQ(full.err, "vosctl recover: " + WorkingFileName(Prefix(), 1) +
                            ": no data file was written; the working file was left as it is\n" + failed +
                            SeriesFileName(Prefix(), 1) + ": cannot write the file: no space left on the device)\n");
    const clitest::Result unsynced =
        clitest::Run(m_dir, {"recover", Prefix()}, clitest::Environment({shim, "VOS_SYNC_SPY_FOLDER_EIO=1"}));
    EXPECT_EQ(unsynced.status, 4) << unsynced.err;
    EXPECT_EQ(unsynced.err.substr(unsynced.err.rfind("vosctl: ")),
              failed + SeriesFileName(Prefix(), 1) +
                  ": the sync of its folder failed (Input/output error) after it was written, which may not survive a "
                  "power failure; the working file " + WorkingFileName(Prefix(), 1) + " was left as it is)\n");
    const clitest::Result sound = clitest::Run(m_dir, {"recover", Prefix()});
    EXPECT_EQ(sound.status, 0) << sound.err;
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    EXPECT_EQ(series.samples[0].size(), received);
    ExpectOneRecording(series);
    EXPECT_EQ(clitest::HiddenFiles(m_dir.Path("")), std::vector<std::string>());
}

}  // namespace
