// The window's run kept in a working file while it goes: gone when the run
// ends, recoverable by vosctl and by the window's next start after a kill.
#include <QThread>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "acquisition/recover.h"
#include "acquisition/series_fixture.h"
#include "app/window_fixture.h"
#include "cli/cli_process.h"
#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/temp_dir.h"

namespace {

using seriestest::FrameVolts;

// Stored sample i of a run at 10 kHz without trigger is frame 3 + i.
double SampleVolts(std::uint64_t i, int channel) { return FrameVolts(3 + i, channel); }

// Set by the test for the copy of itself that it kills.
constexpr const char* CHILD_VARIABLE = "VOS_WINDOW_RUN_CHILD";

class WindowRun : public WindowTest {
protected:
    void MakeSimWindow() {
        vossim::SimConfig config;
        std::string errors;
        ASSERT_TRUE(vossim::ParseConfig(seriestest::LoggerConfig("realtime", ""), config, &errors)) << errors;
        MakeWindow(config);
    }

    // Runs of the window go to FOLDER/vosviewer/runs; the summaries of a recovered run to FOLDER's cache.
    static std::string UseDataFolder(const std::string& folder) {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folder));
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(folder + "/cache"));
        return folder + "/vosviewer/runs";
    }

    // The working files in `runs`.
    static std::vector<std::string> WorkingFiles(const std::string& runs) {
        std::vector<std::string> found;
        std::error_code error;
        for (std::filesystem::directory_iterator it(runs, error), end; !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".vrec") found.push_back(it->path().string());
        }
        return found;
    }

    // Samples of the one working file in `runs`, as a reader finds them now.
    static std::uint64_t WorkingSamples(const std::string& runs) {
        const std::vector<std::string> files = WorkingFiles(runs);
        JournalContents contents;
        return files.size() == 1 && ScanJournal(files[0], true, contents) == FileError::None ? contents.samples : 0;
    }

    TempDir dir;
};

// A window run in a process of its own, killed with SIGKILL after 1.5 s of
// samples: vosctl recover gives all but the last second of them, a second
// window never takes the live run for a left one, and the next start offers
// the run and shows it when asked to.
TEST_F(WindowRun, KilledRunIsRecoveredByVosctlAndByTheNextStart) {
    if (const char* folder = std::getenv(CHILD_VARIABLE)) {
        // The copy that is killed: a run of 100 s, its count printed as it goes.
        UseDataFolder(folder);
        MakeSimWindow();
        dlg->m_editCount->setText("1000000");
        dlg->OnStart();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::printf("stored %u lost %llu\n", dlg->m_acquiredCount.load(),
                        static_cast<unsigned long long>(vossim::Stats(0).overruns));
            std::fflush(stdout);
            QThread::msleep(10);
        }
        return;
    }
    const std::string runs = dir.Path("data") + "/vosviewer/runs";
    char self[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    clitest::Environment environment;
    environment.Set(CHILD_VARIABLE, dir.Path("data"));
    environment.Set("QT_QPA_PLATFORM", "offscreen");
    const std::string outPath = dir.Path("child.out");
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t child = clitest::Spawn(
        {"--gtest_filter=WindowRun.KilledRunIsRecoveredByVosctlAndByTheNextStart"}, environment, outFd, errFd, self);
    ::close(outFd);
    ::close(errFd);
    ASSERT_GT(child, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (WorkingSamples(runs) < 15000 && std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(20);
    }
    const std::vector<std::string> live = WorkingFiles(runs);
    const bool started = WorkingSamples(runs) >= 15000;
    if (started) {
        // Held by the running window: not a left run, and not vosctl's to take.
        EXPECT_TRUE(FindLeftoverRuns(runs).empty());
        const std::string prefix = live[0].substr(0, live[0].size() - std::string("-000001.vrec").size());
        const clitest::Result refused = clitest::Run(dir, {"recover", prefix});
        EXPECT_EQ(refused.status, 4) << refused.err;
        EXPECT_NE(refused.err.find("a running program is writing this working file"), std::string::npos) << refused.err;
    }
    std::string out = clitest::ReadText(outPath);
    out.erase(out.rfind('\n') + 1);  // whole lines only
    const std::size_t last = out.rfind("stored ");
    const std::uint64_t shown = last == std::string::npos ? 0 : std::stoull(out.substr(last + 7));
    const std::size_t lostAt = out.find(" lost ", last);
    // Frames the simulator dropped at its full receive queue: a machine too
    // loaded (or slowed by a sanitizer) to read the logger at its pace.
    const std::uint64_t lost = lostAt == std::string::npos ? 0 : std::stoull(out.substr(lostAt + 6));
    ::kill(child, SIGKILL);
    EXPECT_EQ(clitest::WaitExit(child), 128 + SIGKILL);
    ASSERT_TRUE(started) << "no samples reached the working file";

    const std::vector<LeftoverRun> left = FindLeftoverRuns(runs);
    ASSERT_EQ(left.size(), 1u);
    const LeftoverRun run = left[0];
    EXPECT_GE(run.samples + 10000, shown) << "more than the last second lost";
    EXPECT_EQ(run.clockDivider, 1);

    // vosctl recover, on a copy, with the temporary of a conversion the kill cut short beside it.
    const std::string copies = dir.Path("copy");
    std::filesystem::create_directory(copies);
    const std::string name = std::filesystem::path(run.prefix).filename().string();
    std::filesystem::copy_file(run.workingFile, copies + "/" + name + "-000001.vrec");
    const std::string pid = std::to_string(child);
    const std::string ours = "." + name + "-000001.dlf." + pid + "-0.new";
    const std::string others = ".other-000001.dlf." + pid + "-0.new";
    clitest::WriteText(copies + "/" + ours, "partial");
    clitest::WriteText(copies + "/" + others, "partial");
    const clitest::Result recovered = clitest::Run(dir, {"recover", copies + "/" + name});
    EXPECT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_EQ(clitest::HiddenFiles(copies), std::vector<std::string>{others});
    const seriestest::Series series = seriestest::ReadSeries(copies + "/" + name);
    ASSERT_EQ(series.headers.size(), 1u);
    ASSERT_TRUE(series.headers[0].stamp.has_value());
    EXPECT_EQ(series.headers[0].stamp->index, 1u);
    EXPECT_EQ(series.headers[0].stamp->startMicros, run.startMicros);
    if (lost == 0) seriestest::ExpectContinuous(series, 3, 1, run.samples, FrameVolts);

    // The next start asks once; Recover shows the run as Open shows a file.
    UseDataFolder(dir.Path("data"));
    MakeSimWindow();
    script->choices = {0};
    dlg->OfferLeftoverRuns();
    ASSERT_EQ(script->questions.size(), 1u);
    const QString question = script->questions[0];
    EXPECT_TRUE(question.contains(QString("On disk: %1 samples per channel").arg(run.samples))) << question.toStdString();
    EXPECT_TRUE(question.contains(QString::fromStdString(run.workingFile))) << question.toStdString();
    EXPECT_TRUE(question.contains(QString::fromStdString("\"vosctl recover " + run.prefix + "\""))) << question.toStdString();
    EXPECT_TRUE(script->messages.empty());
    const std::string dlf = run.prefix + "-000001.dlf";
    EXPECT_EQ(dlg->m_fileName.toStdString(), dlf);
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    ASSERT_EQ(dlg->m_sampleCount, static_cast<std::int32_t>(run.samples));
    for (int c = 0; c < 4 && lost == 0; ++c) {
        for (std::uint64_t i = 0; i < run.samples; ++i) {
            ASSERT_NEAR(dlg->m_channelData[c][i], SampleVolts(i, c), 1e-9) << "sample " << i << " ch" << c;
        }
    }
    EXPECT_TRUE(WorkingFiles(runs).empty());
    EXPECT_TRUE(std::filesystem::exists(dlf));
    // Nothing is left to ask about.
    dlg->OfferLeftoverRuns();
    EXPECT_EQ(script->questions.size(), 1u);
    if (lost != 0) GTEST_SKIP() << "the simulator lost " << lost << " frames; the samples' values were not compared";
}

// A damaged run is offered like any other and never deleted unasked; while
// one window asks about a run a second one does not offer it, and a run that
// another program took meanwhile is said to be so.
TEST_F(WindowRun, DamagedAndContendedRunsAreNeverDeletedUnasked) {
    const std::string runs = UseDataFolder(dir.Path("data"));
    std::filesystem::create_directories(runs);
    const std::string prefix = runs + "/run-20231114-221320";
    const std::string working = prefix + "-000001.vrec";
    // Blocks of 100, 200, 300 and 400 samples at file offsets 272, 3488, 9904 and 19520.
    const std::vector<std::uint32_t> blocks = {100, 200, 300, 400};
    MakeSimWindow();

    // One block, torn: no good sample, yet asked about, and Later keeps it.
    journaltest::WriteWorkingFile(working, {.blocks = {100}});
    std::string torn = clitest::ReadText(working);
    torn[272 + 16 + 32 * 50] ^= 0x01;
    clitest::WriteText(working, torn);
    script->choices = {2};
    dlg->OfferLeftoverRuns();
    ASSERT_EQ(script->questions.size(), 1u);
    EXPECT_TRUE(script->questions[0].contains("Part of the file is damaged")) << script->questions[0].toStdString();
    EXPECT_EQ(clitest::ReadText(working), torn);
    // Discard asks again, Keep the default: Return deletes nothing.
    script->choices = {1, 1};
    dlg->OfferLeftoverRuns();
    ASSERT_EQ(script->questions.size(), 3u);
    EXPECT_TRUE(script->questions[2].startsWith("Delete the 0 samples of this run for good?"))
        << script->questions[2].toStdString();
    EXPECT_EQ(script->defaults, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(clitest::ReadText(working), torn);

    // While the question is open, a second window finds nothing to offer and
    // another program discards the run: Recover says so.
    std::filesystem::remove(working);
    journaltest::WriteWorkingFile(working, {.blocks = blocks});
    script->onQuestion = [&] {
        EXPECT_TRUE(FindLeftoverRuns(runs).empty());
        std::filesystem::remove(working);
    };
    script->choices = {0};
    dlg->OfferLeftoverRuns();
    script->onQuestion = nullptr;
    EXPECT_EQ(script->questions.size(), 4u);
    EXPECT_EQ(script->messages,
              std::vector<QString>{QString::fromStdString("The run was discarded meanwhile by another program: " +
                                                          working + " is gone.")});

    // Damaged in block 3: Recover keeps the blocks on both sides and says what the damage cost.
    journaltest::WriteWorkingFile(working, {.blocks = blocks});
    std::string damaged = clitest::ReadText(working);
    damaged[9904 + 16 + 32 * 150] ^= 0x01;
    clitest::WriteText(working, damaged);
    script->choices = {0};
    dlg->OfferLeftoverRuns();
    EXPECT_EQ(script->questions.size(), 5u);
    ASSERT_GE(script->messages.size(), 2u);
    EXPECT_EQ(script->messages[1], "The run was damaged on disk: 700 samples were recovered into 2 files; 300 samples "
                                   "were lost in damaged blocks.");
    EXPECT_FALSE(std::filesystem::exists(working));
    EXPECT_EQ(std::filesystem::file_size(prefix + "-000001.dlf"), 256u + 32u * 300u);
    EXPECT_EQ(std::filesystem::file_size(prefix + "-000002.dlf"), 256u + 32u * 400u);
}

// However the run ends while the program lives, its working file goes; when
// the data folder cannot be written, the run goes on in memory without a word.
TEST_F(WindowRun, EndedRunLeavesNoWorkingFile) {
    struct Case {
        const char* name;
        const char* count;
        bool stop;
        bool folderIsAFile;
        std::int32_t samples;  // kept by the window; 0: whatever Stop left
    };
    const Case cases[] = {
        {"Stop", "1000000", true, false, 0},
        {"completion", "15000", false, false, 15000},
        {"data folder not writable", "15000", false, true, 15000},
    };
    MakeSimWindow();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string data = dir.Path(test.name);
        if (test.folderIsAFile) clitest::WriteText(data, "");
        const std::string runs = UseDataFolder(data);
        dlg->m_editCount->setText(test.count);
        dlg->OnStart();
        if (!test.folderIsAFile) {
            ASSERT_TRUE(PumpUntil([&] { return WorkingSamples(runs) > 0; })) << "no working file while running";
        }
        if (test.stop) dlg->OnStop();
        ASSERT_TRUE(WaitIdle());
        EXPECT_TRUE(WorkingFiles(runs).empty());
        EXPECT_TRUE(script->messages.empty());
        EXPECT_TRUE(dlg->m_dataValid);
        if (test.samples != 0) {
            EXPECT_EQ(dlg->m_sampleCount, test.samples);
        }
        EXPECT_NEAR(dlg->m_channelData[0][0], SampleVolts(0, 0), 1e-9);
    }
}

}  // namespace
