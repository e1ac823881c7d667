// The window following a recording that vosctl record writes in another
// process: the record shown grows with it, the view keeps its place or its
// end, and once the recording ends the window shows the whole series.
#include <QAction>
#include <QMenu>
#include <QWheelEvent>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/series_fixture.h"
#include "app/window_fixture.h"
#include "cli/cli_process.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/series_names.h"
#include "files/series_on_disk.h"
#include "files/temp_dir.h"
#include "files/journal_fixture.h"
#include "files/prefix_lock.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pane 0's plot ends at x 881; row 60 lies inside it.
constexpr int PLOT_RIGHT = 881;
constexpr int PLOT_MIDDLE = 500;
constexpr int PANE0_ROW = 60;

class FollowWindow : public WindowTest {
protected:
    // The context menu's exports of a part, each with "on" or "off".
    std::string PartExports() {
        std::string said;
        for (QAction* action : dlg->ContextMenu()->actions()) {
            const std::string text = action->text().toStdString();
            if (text.find(" of the visible range") != std::string::npos || text.find(" between markers") != std::string::npos) {
                said += (said.empty() ? "" : ", ") + text + (action->isEnabled() ? " on" : " off");
            }
        }
        return said;
    }

    // The context menu's clock axes, each with "on" or "off".
    std::string ClockAxes() {
        std::string said;
        for (QAction* action : dlg->ContextMenu()->actions()) {
            const std::string text = action->text().toStdString();
            if (text == "Time axis: UTC" || text == "Time axis: local time") {
                said += (said.empty() ? "" : ", ") + text + (action->isEnabled() ? " on" : " off");
            }
        }
        return said;
    }

    // vosctl record on the simulated logger in real time, in the background; its standard error in `name`.
    pid_t StartRecorder(const std::vector<std::string>& args, const std::string& name) {
        const std::string config = dir.Path(name + ".conf");
        clitest::WriteText(config, seriestest::LoggerConfig("realtime", ""));
        clitest::Environment environment;
        environment.Set("VOS_SIM_CONFIG", config);
        std::vector<std::string> all = {"--driver", clitest::SIM_LIBRARY};
        all.insert(all.end(), args.begin(), args.end());
        const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int errFd = ::open(dir.Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = clitest::Spawn(all, environment, nullFd, errFd);
        ::close(nullFd);
        ::close(errFd);
        return pid;
    }

    // The cursor's lines with the pointer on `column` of pane 0's plot.
    QStringList ReadoutAt(int column) {
        const QPointF at(dlg->View().Layout().plotRect[0].left + column, PANE0_ROW);
        QMouseEvent event(QEvent::MouseMove, at, dlg->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(dlg.get(), &event);
        return dlg->CursorReadout();
    }

    void Wheel(int x, int delta) {
        const QPointF at(x, PANE0_ROW);
        QWheelEvent event(at, dlg->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(dlg.get(), &event);
    }

    TempDir dir;
};

// Followed as --follow PREFIX follows it, or opened as files the newest of which is a working file.
class FollowWindowWays : public FollowWindow, public testing::WithParamInterface<bool> {};

TEST_P(FollowWindowWays, GrowsWithARecordingKeepsTheViewAndShowsTheWholeSeriesAtItsEnd) {
    const bool openFiles = GetParam();
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir.Path("cache")));
    MakeWindow(InstantConfig());
    const std::vector<std::string> record = {"record", "--clock", "1kHz", "--samples", "8000", "--split", "1000"};
    const std::string prefix = dir.Path("night");
    std::vector<std::string> args = record;
    args.insert(args.end(), {"-o", prefix});
    const pid_t recorder = StartRecorder(args, "stderr");
    ASSERT_GT(recorder, 0);
    ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(SeriesMemberName(prefix, 1, SERIES_WORKING_EXTENSION)); },
                          20000))
        << "vosctl record did not start";

    if (openFiles) {
        dlg->OpenFiles({QString::fromStdString(SeriesMemberName(prefix, 1, SERIES_WORKING_EXTENSION))});
    } else {
        std::string message;
        ASSERT_TRUE(dlg->FollowRecording(QString::fromStdString(prefix), message)) << message;
    }
    ASSERT_TRUE(dlg->Following()) << (script->messages.empty() ? "" : script->messages.back().toStdString());
    // A record that still grows is saved once it has ended.
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_FALSE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_EQ(PartExports(), "CSV-Save of the visible range\u2026 off, Save of the visible range\u2026 off");
    EXPECT_TRUE(dlg->FollowStatusText().startsWith("Recording running: ")) << dlg->FollowStatusText().toStdString();

    // Each place the files reached, and when: the window must show it within 2 s.
    struct Reached {
        std::uint64_t samples;
        Clock::time_point at;
    };
    std::deque<Reached> pending;
    bool late = false;
    std::uint64_t shown = 0;
    bool grewBackwards = false;
    bool wholeLost = false;
    bool lastSampleSaid = false;
    bool clockOffered = false;  // the stamps tell the time of the samples shown
    const auto watch = [&](bool fullView) {
        const std::uint64_t onDisk = seriestest::OnDisk(prefix, 1000);
        if (pending.empty() || onDisk > pending.back().samples) pending.push_back({onDisk, Clock::now()});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        grewBackwards = grewBackwards || dlg->RecordCount() < shown;
        shown = dlg->RecordCount();
        while (!pending.empty() && pending.front().samples <= shown) pending.pop_front();
        late = late || (!pending.empty() && Clock::now() - pending.front().at >= std::chrono::seconds(2));
        if (fullView && dlg->Following()) wholeLost = wholeLost || !(dlg->VisibleRange() == ViewRange{0, shown});
        lastSampleSaid = lastSampleSaid || dlg->FollowStatusText().contains(" UTC");
        clockOffered = clockOffered || (dlg->Following() && shown > 0 &&
                                        ClockAxes() == "Time axis: UTC on, Time axis: local time on");
    };
    const auto watchUntil = [&](const std::function<bool()>& done, bool fullView) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!done() && !late && Clock::now() < deadline) watch(fullView);
        return done();
    };

    // The full view keeps the whole record across two file boundaries.
    ASSERT_TRUE(watchUntil([&] { return shown >= 2500; }, true)) << "shown " << shown;
    EXPECT_FALSE(wholeLost);
    ASSERT_TRUE(dlg->Following());

    // The files met so far are marked where they begin (1,000 samples each, none lost), and the cursor names the
    // file of its sample, converted or still being written, and the sample's index there.
    const std::vector<RecordMark> marks = dlg->RecordMarks();
    ASSERT_GE(marks.size(), 2u);
    EXPECT_EQ(marks[0], (RecordMark{1000, false}));
    EXPECT_EQ(marks[1], (RecordMark{2000, false}));
    for (const int column : {100, 700}) {
        const QStringList readout = ReadoutAt(column);
        ASSERT_GE(readout.size(), 4) << column;
        const std::uint64_t sample = readout[0].mid(7).toULongLong();
        EXPECT_TRUE(readout[2].startsWith("UTC ")) << readout[2].toStdString();
        const QString file = QStringLiteral("File night-%1.").arg(sample / 1000 + 1, 6, 10, QLatin1Char('0'));
        EXPECT_TRUE(readout[3] == file + "dlf, sample " + QString::number(sample % 1000) ||
                    readout[3] == file + "vrec, sample " + QString::number(sample % 1000))
            << readout[0].toStdString() << " / " << readout[3].toStdString();
    }

    // Zoomed at the end: the view moves with the end.
    for (int i = 0; i < 3; ++i) Wheel(PLOT_RIGHT, 120);
    const ViewRange atEnd = dlg->VisibleRange();
    EXPECT_LT(atEnd.count, shown);
    EXPECT_EQ(atEnd.first + atEnd.count, shown);
    const std::uint64_t endFrom = shown;
    ASSERT_TRUE(watchUntil([&] { return shown >= endFrom + 1000; }, false));
    EXPECT_EQ(dlg->VisibleRange().count, atEnd.count);
    EXPECT_EQ(dlg->VisibleRange().first + dlg->VisibleRange().count, shown);

    // Zoomed in the middle: the view stays where it is.
    dlg->OnFullView();
    for (int i = 0; i < 3; ++i) Wheel(PLOT_MIDDLE, 120);
    const ViewRange middle = dlg->VisibleRange();
    EXPECT_LT(middle.first + middle.count, shown);
    const std::uint64_t middleFrom = shown;
    ASSERT_TRUE(watchUntil([&] { return shown >= middleFrom + 500; }, false));
    EXPECT_EQ(dlg->VisibleRange(), middle);
    ASSERT_TRUE(dlg->Following()) << "the recording ended before the views were tried";

    // The end: following stops and the whole series is shown as a series.
    dlg->OnFullView();
    ASSERT_TRUE(watchUntil([&] { return !dlg->Following(); }, true));
    ASSERT_TRUE(PumpUntil([&] { return dlg->Series() != nullptr && !dlg->WorkersRunning(); }, 20000));
    EXPECT_FALSE(late) << pending.front().samples << " samples on disk not shown after 2 s; shown " << shown;
    EXPECT_FALSE(grewBackwards);
    EXPECT_FALSE(wholeLost);
    EXPECT_TRUE(lastSampleSaid);
    EXPECT_TRUE(clockOffered);
    EXPECT_EQ(dlg->RecordCount(), 8000u);
    EXPECT_EQ(dlg->Series()->paths.size(), 8);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{0, 8000}));
    EXPECT_EQ(dlg->FollowStatusText(), QStringLiteral("Recording ended: 8,000 samples"));
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_EQ(PartExports(), "CSV-Save of the visible range\u2026 on, Save of the visible range\u2026 on");
    EXPECT_TRUE(script->messages.empty()) << script->messages.front().toStdString();

    // The recorder lost nothing, and wrote what it writes without a window.
    const int status = clitest::WaitExit(recorder);
    const std::string err = clitest::ReadText(dir.Path("stderr"));
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find("simulator overruns 0"), std::string::npos) << err;
    EXPECT_EQ(err.find("lost"), std::string::npos) << err;
    const std::string alone = dir.Path("alone");
    args = record;
    args.insert(args.end(), {"-o", alone});
    EXPECT_EQ(clitest::WaitExit(StartRecorder(args, "alone-stderr")), 0);
    const std::vector<std::string> followed = seriestest::SampleBytes(prefix);
    ASSERT_EQ(followed.size(), 8u);
    EXPECT_TRUE(followed == seriestest::SampleBytes(alone));
}

// Followed while its recorder holds the prefix but has written no file yet: the clock is the files'.
TEST_F(FollowWindow, ARecordingFollowedBeforeItsFirstFileIsTimedByTheClockOfItsFiles) {
    MakeWindow(InstantConfig());
    const std::string prefix = dir.Path("early");
    const std::string lockPath = PrefixLockPath(prefix);
    const std::string lockMade = dir.Path("lock.new");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // A recorder's hold on the prefix, in another process that makes only system calls after the fork.
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(lockMade.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const bool held = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 && ::link(lockMade.c_str(), lockPath.c_str()) == 0;
        (void)!::write(ready[1], held ? "y" : "n", 1);
        if (held) ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    EXPECT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    const auto end = [&] {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    };
    if (held != 'y') {
        end();
        FAIL() << "the prefix could not be held";
    }
    std::string message;
    EXPECT_TRUE(dlg->FollowRecording(QString::fromStdString(prefix), message)) << message;
    EXPECT_EQ(dlg->RecordCount(), 0u);
    // Its first file: 500 samples at 1 kHz.
    journaltest::WriteWorkingFile(SeriesMemberName(prefix, 1, SERIES_WORKING_EXTENSION),
                                  {.index = 1, .split = 1000, .clockDivider = 10, .blocks = {500}});
    const bool grown = PumpUntil([&] { return dlg->RecordCount() == 500; }, 10000);
    end();
    ASSERT_TRUE(grown) << dlg->RecordCount();
    EXPECT_EQ(dlg->m_comboClock->currentText(), QStringLiteral("1kHz"));
    EXPECT_EQ(dlg->m_editCount->text(), QStringLiteral("500"));
    // The last column draws sample 499, 499 ms after the first.
    const QStringList readout = ReadoutAt(dlg->View().Columns() - 1);
    ASSERT_GE(readout.size(), 2);
    EXPECT_EQ(readout[0], QStringLiteral("Sample 499"));
    EXPECT_EQ(readout[1], QStringLiteral("Time 499 mS"));
}

// Another record opened while following ends following: the recording's end leaves it shown.
TEST_F(FollowWindow, AnotherRecordOpenedEndsFollowing) {
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir.Path("cache")));
    MakeWindow(InstantConfig());
    const std::string prefix = dir.Path("short");
    const pid_t recorder = StartRecorder({"record", "--clock", "1kHz", "--samples", "3000", "--split", "1000", "-o", prefix},
                                         "stderr");
    ASSERT_GT(recorder, 0);
    ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(SeriesFileName(prefix, 1)); }, 20000));
    std::string message;
    ASSERT_TRUE(dlg->FollowRecording(QString::fromStdString(prefix), message)) << message;
    ASSERT_TRUE(dlg->Following());
    dlg->OpenFiles({QString::fromStdString(SeriesFileName(prefix, 1))});
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(dlg->Following());
    EXPECT_EQ(dlg->RecordCount(), 1000u);
    EXPECT_EQ(clitest::WaitExit(recorder), 0);
    EXPECT_EQ(dlg->Series(), nullptr);
    EXPECT_TRUE(dlg->FollowStatusText().isEmpty()) << dlg->FollowStatusText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ways, FollowWindowWays, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "OpenFiles" : "Prefix"; });

}  // namespace
