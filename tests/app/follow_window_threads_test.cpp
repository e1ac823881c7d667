// The window following a recording that vosctl record writes in another
// process: the record shown grows with it, the view keeps its place or its
// end, and once the recording ends the window shows the whole series.
#include <QAction>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QMenu>
#include <QWheelEvent>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "acquisition/series_fixture.h"
#include "app/ctestapp.h"
#include "app/series_files.h"
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

    /// Sets marker `which` ("A" or "B") at plot column `column` of pane 0.
    void SetMarker(const char* which, int column) {
        ReadoutAt(column);
        for (QAction* action : dlg->ContextMenu()->actions()) {
            if (action->text() == QStringLiteral("Set marker %1 here").arg(QLatin1String(which))) action->trigger();
        }
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
    // What is shown of a record that still grows is exported as it is.
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_EQ(PartExports(), "CSV-Save of the visible range\u2026 on, Save of the visible range\u2026 on");
    EXPECT_TRUE(dlg->FollowStatusText().startsWith("Recording running: ")) << dlg->FollowStatusText().toStdString();

    // Each place the files reached, and when: the window must show it within 20 s, a bound that
    // only a window that stopped following misses, however busy the machine.
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
        late = late || (!pending.empty() && Clock::now() - pending.front().at >= std::chrono::seconds(20));
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
    // Sampling Count says the samples shown, as after an Open.
    EXPECT_EQ(dlg->m_editCount->text(), QString::number(dlg->RecordCount()));

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

    // The end: following stops and the whole series is shown as a series, with the view, the markers
    // and the cursor as they were.
    SetMarker("A", 100);
    SetMarker("B", 300);
    const ViewRange between = dlg->ExportPart();
    ASSERT_GT(between.first, middle.first);
    ASSERT_LT(between.first + between.count, middle.first + middle.count);
    const QStringList cursor = ReadoutAt(200);
    ASSERT_TRUE(watchUntil([&] { return !dlg->Following(); }, false));
    ASSERT_TRUE(PumpUntil([&] { return dlg->Series() != nullptr && !dlg->WorkersRunning(); }, 20000));
    ASSERT_TRUE(PumpUntil([&] { return dlg->VisibleRange() == middle; }, 20000)) << "the view went";
    EXPECT_EQ(dlg->ExportPart(), between);
    EXPECT_EQ(dlg->CursorReadout().mid(0, 2), cursor.mid(0, 2));
    EXPECT_FALSE(late) << pending.front().samples << " samples on disk not shown after 20 s; shown " << shown;
    EXPECT_FALSE(grewBackwards);
    EXPECT_FALSE(wholeLost);
    EXPECT_TRUE(lastSampleSaid);
    EXPECT_TRUE(clockOffered);
    EXPECT_EQ(dlg->RecordCount(), 8000u);
    EXPECT_EQ(dlg->Series()->paths.size(), 8);
    EXPECT_EQ(dlg->FollowStatusText(), QStringLiteral("Recording ended: 8,000 samples"));
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_EQ(PartExports(), "CSV-Save between markers\u2026 on, Save between markers\u2026 on");
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
    const bool grown = PumpUntil([&] { return dlg->RecordCount() == 500; });
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
    const std::string other = WriteRecordingFiles(dir.Path("other"), {700}).front();
    dlg->OpenFiles({QString::fromStdString(other)});
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(dlg->Following());
    EXPECT_EQ(dlg->RecordCount(), 700u);
    EXPECT_EQ(clitest::WaitExit(recorder), 0);
    EXPECT_EQ(dlg->Series(), nullptr);
    EXPECT_TRUE(dlg->FollowStatusText().isEmpty()) << dlg->FollowStatusText().toStdString();
}

// Opened any way while it runs, a recording is shown whole, from its first file, each sample at its own
// place, and followed. A recorder that stops is said to stall; one killed is said to have left its files,
// and Recover is offered for the whole recording.
TEST_F(FollowWindow, ARunningRecordingOpenedAnyWayIsShownWholeAndFollowed) {
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir.Path("cache")));
    MakeWindow(InstantConfig());
    const std::string prefix = dir.Path("e");
    const pid_t recorder =
        StartRecorder({"record", "--clock", "1kHz", "--split", "1000", "--duration", "120s", "-o", prefix}, "stderr");
    ASSERT_GT(recorder, 0);
    const auto kill = [&](int signal) {
        ::kill(recorder, signal);
        if (signal == SIGKILL) clitest::WaitExit(recorder);
    };
    if (!PumpUntil([&] { return std::filesystem::exists(SeriesFileName(prefix, 6)); }, 30000)) {
        kill(SIGKILL);
        FAIL() << "vosctl record did not reach its 6th file";
    }
    const QString other = QString::fromStdString(WriteRecordingFiles(dir.Path("other"), {700}).front());
    const auto commandLine = [&](const std::string& argument) {
        QCommandLineParser parser;
        AddFileArguments(parser);
        ASSERT_TRUE(parser.parse({QStringLiteral("vosviewer"), QString::fromStdString(argument)}));
        OpenFileArguments(*dlg, parser);
    };
    struct Way {
        const char* name;
        std::function<void()> open;
    };
    const Way ways[] = {
        {"--follow PREFIX",
         [&] {
             std::string message;
             EXPECT_TRUE(dlg->FollowRecording(QString::fromStdString(prefix), message)) << message;
         }},
        {"Open of its newest working file",
         [&] { dlg->OpenFiles({QString::fromStdString(ListSeries(prefix).workingFiles.back().path)}); }},
        {"Open of its 3rd data file", [&] { dlg->OpenFiles({QString::fromStdString(SeriesFileName(prefix, 3))}); }},
        {"its prefix typed in Open",
         [&] {
             // The dialog adds .dlf to a name typed without it.
             script->fileNames.push_back(QString::fromStdString(prefix + ".dlf"));
             dlg->OnOpen();
             EXPECT_EQ(script->filters.back(), QStringLiteral("DLFファイル (*.dlf);;Data and working files (*.dlf *.vrec)"));
         }},
        {"vosviewer PREFIX", [&] { commandLine(prefix); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        dlg->OpenFiles({other});
        ASSERT_TRUE(WaitIdle());
        ASSERT_FALSE(dlg->Following());
        way.open();
        ASSERT_TRUE(dlg->Following()) << (script->messages.empty() ? "" : script->messages.back().toStdString());
        EXPECT_TRUE(dlg->FollowStatusText().startsWith("Recording running: ")) << dlg->FollowStatusText().toStdString();
        ASSERT_GE(dlg->RecordCount(), 5000u);
        const std::vector<RecordMark> marks = dlg->RecordMarks();
        ASSERT_GE(marks.size(), 5u);
        EXPECT_EQ(marks[0], (RecordMark{1000, false}));
        EXPECT_EQ(marks[4], (RecordMark{5000, false}));
        const QStringList first = ReadoutAt(0);
        ASSERT_GE(first.size(), 4);
        EXPECT_EQ(first[0], QStringLiteral("Sample 0"));
        EXPECT_EQ(first[3], QStringLiteral("File e-000001.dlf, sample 0"));
        EXPECT_TRUE(script->messages.empty()) << script->messages.back().toStdString();
    }

    // Stopped: the stall is said after 2 s without a sample, and goes when it writes again.
    kill(SIGSTOP);
    const QString stall = QStringLiteral("; the recorder has written no sample for ");
    const bool stalled = PumpUntil([&] { return dlg->FollowStatusText().contains(stall); }, 20000);
    kill(SIGCONT);
    EXPECT_TRUE(stalled) << dlg->FollowStatusText().toStdString();
    EXPECT_TRUE(dlg->Following());
    EXPECT_TRUE(PumpUntil([&] { return !dlg->FollowStatusText().contains(stall); }, 20000))
        << dlg->FollowStatusText().toStdString();

    // Killed while it writes a working file: that is left, which the window says, and it offers Recover for
    // the whole recording.
    const auto killBy = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < killBy) {
        kill(SIGSTOP);
        const std::vector<SeriesMember> working = ListSeries(prefix).workingFiles;
        std::error_code error;
        if (!working.empty() && std::filesystem::file_size(working.back().path, error) > 1024) break;
        kill(SIGCONT);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_FALSE(ListSeries(prefix).workingFiles.empty());
    kill(SIGKILL);
    ASSERT_TRUE(PumpUntil([&] { return !dlg->Following(); }, 20000));
    const std::string samples = QLocale(QLocale::English).toString(static_cast<qulonglong>(dlg->RecordCount())).toStdString();
    EXPECT_EQ(dlg->FollowStatusText().toStdString(), "Recording ended without closing its files: " + samples +
                                                         " samples; \"vosctl recover " + prefix +
                                                         "\" makes data files of them");
    ASSERT_EQ(script->questions.size(), 1u);
    const QString question = script->questions[0];
    EXPECT_TRUE(question.contains(QStringLiteral("On disk: %1 samples per channel").arg(dlg->RecordCount())))
        << question.toStdString();
    DataFileHeader header;
    ASSERT_EQ(ReadDataFileHeader(SeriesFileName(prefix, 1), header), FileError::None);
    ASSERT_TRUE(header.stamp.has_value());
    const QString started = QDateTime::fromMSecsSinceEpoch(header.stamp->startMicros / 1000).toString("yyyy-MM-dd HH:mm:ss");
    EXPECT_TRUE(question.contains("Started: " + started + " (local time)")) << question.toStdString();
    // Later, the answer of Escape, leaves it as it is.
    EXPECT_FALSE(ListSeries(prefix).workingFiles.empty());
}

// A prefix followed before its recording starts is waited for; a recording without a sample yet (waiting for
// its trigger) says so; neither offers Save or CSV-Save, which would write nothing.
TEST_F(FollowWindow, ARecordingNotStartedOrWithoutASampleSaysSoAndOffersNoSave) {
    MakeWindow(InstantConfig());
    dlg->OpenFiles({QString::fromStdString(WriteRecordingFiles(dir.Path("other"), {700}).front())});
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(dlg->m_btnSave->isEnabled());
    // A name that is no UTF-8, as a file system may hold it.
    const std::string prefix = dir.Path("later\xff\xfe");
    const QString shownPrefix = QFile::decodeName(QByteArray::fromStdString(prefix));
    std::string message;
    ASSERT_TRUE(dlg->FollowRecording(prefix, message)) << message;
    EXPECT_TRUE(dlg->Following());
    EXPECT_EQ(dlg->FollowStatusText(), "Waiting for a recording on " + shownPrefix);
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_FALSE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_TRUE(script->messages.empty()) << script->messages.back().toStdString();

    // Its recorder starts and waits for a trigger above the logger's range.
    const pid_t recorder = StartRecorder({"record", "--clock", "1kHz", "--trigger", "CH0:Level-H:10.5", "-o", prefix}, "stderr");
    ASSERT_GT(recorder, 0);
    const bool waiting = PumpUntil(
        [&] { return dlg->FollowStatusText() == "Recording running: no sample yet (waiting for its trigger or its logger)"; },
        20000);
    // vosviewer PREFIX of the running recording, its bytes as given on the command line.
    bool opened = false;
    if (waiting) {
        dlg->OpenFiles({QString::fromStdString(WriteRecordingFiles(dir.Path("another"), {700}).front())});
        QCommandLineParser parser;
        AddFileArguments(parser);
        EXPECT_TRUE(parser.parse({QStringLiteral("vosviewer"), shownPrefix}));
        OpenFileArguments(*dlg, parser, {"vosviewer", prefix});
        opened = dlg->Following() && dlg->FollowStatusText().startsWith("Recording running: no sample yet");
    }
    ::kill(recorder, SIGINT);
    EXPECT_NE(clitest::WaitExitWithin(recorder, 20), -1);
    ASSERT_TRUE(waiting) << dlg->FollowStatusText().toStdString() << clitest::ReadText(dir.Path("stderr"));
    EXPECT_TRUE(opened) << dlg->FollowStatusText().toStdString() << (script->messages.empty() ? "" : script->messages.back().toStdString());
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_FALSE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnOpen->isEnabled());
}

std::string ReadBytes(const std::string& path) { return clitest::ReadText(path); }

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

std::string FirstLines(const std::string& text, std::size_t lines) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < lines && end != std::string::npos; ++i) {
        end = text.find('\n', end);
        if (end != std::string::npos) ++end;
    }
    return text.substr(0, end);
}

// UTC of `micros` since 1970 as vosctl info writes it: 2025-12-06T05:46:40.250000Z.
std::string UtcText(std::int64_t micros) {
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06lldZ", static_cast<long long>(micros % 1000000));
    return text;
}

// CSV-Save and Save while the recording runs write the samples shown when
// they start, however far it has grown or ended when they write; a file of
// the recording is never written over.
TEST_F(FollowWindow, ExportsWhatIsShownWhenTheExportStarts) {
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir.Path("cache")));
    MakeWindow(InstantConfig());
    const std::string prefix = dir.Path("day");
    const pid_t recorder = StartRecorder({"record", "--clock", "1kHz", "--samples", "6000", "--split", "3000", "-o", prefix},
                                         "stderr");
    ASSERT_GT(recorder, 0);
    const std::string working = SeriesMemberName(prefix, 1, SERIES_WORKING_EXTENSION);
    ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(working); }, 20000)) << "vosctl record did not start";
    std::string message;
    ASSERT_TRUE(dlg->FollowRecording(QString::fromStdString(prefix), message)) << message;
    ASSERT_TRUE(PumpUntil([&] { return dlg->RecordCount() >= 1200; }, 20000));
    ASSERT_TRUE(dlg->Following());
    ASSERT_TRUE(std::filesystem::exists(working)) << "file 1 was converted before it was tried";

    // Every name the recording owns or may still create is refused, by each
    // export: the working file it writes on, which only grows, data files it
    // has not come to (taken, they would end it), its lock file.
    const std::string before = ReadBytes(working);
    const auto savePartAction = [&] {
        for (QAction* action : dlg->ContextMenu()->actions()) {
            if (action->text() == QStringLiteral("Save of the visible range\u2026")) return action;
        }
        return static_cast<QAction*>(nullptr);
    };
    struct Refused {
        const char* how;
        std::string name;
        std::function<void()> run;
    };
    const Refused refused[] = {
        {"CSV-Save", working, [&] { dlg->OnCsvSave(); }},
        {"Save", SeriesMemberName(prefix, 29, SERIES_DATA_EXTENSION), [&] { dlg->OnSave(); }},
        {"CSV-Save", SeriesMemberName(prefix, 2, SERIES_DATA_EXTENSION), [&] { dlg->OnCsvSave(); }},
        {"Save of a part", SeriesMemberName(prefix, 1000000, SERIES_WORKING_EXTENSION), [&] { savePartAction()->trigger(); }},
        {"Save", PrefixLockPath(prefix), [&] { dlg->OnSave(); }},
    };
    for (const Refused& test : refused) {
        SCOPED_TRACE(std::string(test.how) + " " + test.name);
        script->messages.clear();
        script->fileNames.push_back(QString::fromStdString(test.name));
        test.run();
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages.back().toStdString(),
                  test.name + " is a name of the recording " + prefix +
                      ", which its recorder writes or may still write. Choose another name.");
    }
    script->messages.clear();
    EXPECT_FALSE(std::filesystem::exists(SeriesMemberName(prefix, 29, SERIES_DATA_EXTENSION)));
    const std::string after = ReadBytes(working);
    EXPECT_EQ(after.substr(0, before.size()), before) << "the working file was written over";

    // The whole record shown, all channels.
    const std::uint64_t wholeShown = dlg->RecordCount();
    script->fileNames.push_back(QString::fromStdString(dir.Path("shown.csv")));
    dlg->OnCsvSave();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(PumpUntil([&] { return dlg->RecordCount() > wholeShown; }, 20000));

    // A part of file 1 keeps its stamp.
    for (int i = 0; i < 3; ++i) Wheel(PLOT_MIDDLE, 120);
    const ViewRange part = dlg->ExportPart();
    ASSERT_GT(part.first, 0u);
    ASSERT_LT(part.first + part.count, 3000u);
    QAction* savePart = savePartAction();
    ASSERT_NE(savePart, nullptr);
    ASSERT_TRUE(savePart->isEnabled());
    script->fileNames.push_back(QString::fromStdString(dir.Path("part.dlf")));
    savePart->trigger();
    ASSERT_TRUE(WaitIdle());

    // The recording ends while the file dialog of a CSV-Save is open: the
    // export still writes what was shown, and the whole series follows it.
    dlg->OnFullView();
    const std::uint64_t lateShown = dlg->RecordCount();
    ASSERT_LT(lateShown, 6000u);
    int recorderStatus = -1;
    bool seriesDuringDialog = true;
    script->onFileDialog = [&] {
        recorderStatus = clitest::WaitExit(recorder);
        PumpUntil([&] { return !dlg->Following(); }, 20000);
        // The export owns the controls and the bar: the series is not opened under it.
        seriesDuringDialog = dlg->PendingSeries() != nullptr || dlg->Series() != nullptr;
    };
    script->fileNames.push_back(QString::fromStdString(dir.Path("late.csv")));
    dlg->OnCsvSave();
    script->onFileDialog = nullptr;
    EXPECT_EQ(recorderStatus, 0) << clitest::ReadText(dir.Path("stderr"));
    ASSERT_FALSE(dlg->Following());
    EXPECT_FALSE(seriesDuringDialog);
    ASSERT_TRUE(PumpUntil([&] { return dlg->Series() != nullptr && !dlg->WorkersRunning(); }, 20000));
    EXPECT_EQ(dlg->RecordCount(), 6000u);
    EXPECT_EQ(dlg->FollowStatusText(), QStringLiteral("Recording ended: 6,000 samples"));
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    EXPECT_TRUE(script->messages.empty()) << script->messages.back().toStdString();
    // Nothing the window did took a name of the recording: it ended as it ends alone.
    EXPECT_EQ(ListSeries(prefix).dataFiles.size(), 2u);

    // Each CSV holds the first rows of the finished series as vosctl csv writes them.
    const TempDir cli;
    const clitest::Result csv = clitest::Run(cli, {"csv", prefix, "-o", "-"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    ASSERT_GE(Lines(csv.out), 6000u);
    const std::size_t headerLines = Lines(csv.out) - 6000;
    for (const auto& [name, shown] : {std::pair{"shown.csv", wholeShown}, std::pair{"late.csv", lateShown}}) {
        const std::string written = ReadBytes(dir.Path(name));
        EXPECT_EQ(Lines(written), headerLines + shown) << name;
        EXPECT_TRUE(written == FirstLines(csv.out, headerLines + shown)) << name;
    }

    // The part's stamp: file 1's moved on by its first sample's millisecond.
    DataFileHeader first;
    ASSERT_EQ(ReadDataFileHeader(SeriesFileName(prefix, 1), first), FileError::None);
    ASSERT_TRUE(first.stamp.has_value());
    DataFileHeader header;
    ASSERT_EQ(ReadDataFileHeader(dir.Path("part.dlf"), header), FileError::None);
    EXPECT_EQ(header.sampleCount, part.count);
    ASSERT_TRUE(header.stamp.has_value());
    EXPECT_EQ(header.stamp->index, 1u);
    EXPECT_EQ(header.stamp->firstSample, part.first);
    const clitest::Result info = clitest::Run(cli, {"info", dir.Path("part.dlf")});
    EXPECT_EQ(info.status, 0) << info.err;
    const std::string start = "start           " + UtcText(first.stamp->startMicros + 1000 * static_cast<std::int64_t>(part.first)) + "\n";
    EXPECT_NE(info.out.find(start), std::string::npos) << start << info.out;
}

// More samples shown than a data file holds, in the working files a recorder
// left, which lost 100 samples between them: Save is greyed with the reason,
// as for a series, and so is a part's Save across the loss; CSV-Save stays.
TEST_F(FollowWindow, MoreShownThanADataFileHoldsGreysSave) {
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir.Path("cache")));
    MakeWindow(InstantConfig());
    const std::string prefix = dir.Path("long");
    QStringList paths;
    for (const auto& [index, first, count] : {std::tuple{1u, 0u, 600000u}, std::tuple{2u, 600100u, 500000u}}) {
        journaltest::WorkingFileSpec spec;
        spec.index = index;
        spec.firstSample = first;
        spec.split = 600000;
        spec.clockDivider = 10;
        spec.blocks = {count};
        const std::string path = SeriesMemberName(prefix, index, SERIES_WORKING_EXTENSION);
        journaltest::WriteWorkingFile(path, spec);
        paths.push_back(QString::fromStdString(path));
    }
    dlg->OpenFiles(paths);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(dlg->Series(), nullptr) << "the working files are shown as they are";
    ASSERT_EQ(dlg->RecordCount(), 1100000u);
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_EQ(dlg->m_btnSave->toolTip(), QStringLiteral("A data file holds at most 1,000,000 samples; this record has "
                                                        "1,100,000. CSV-Save exports it whole."));
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());

    for (int i = 0; i < 3; ++i) Wheel(PLOT_MIDDLE, 120);
    const ViewRange part = dlg->ExportPart();
    ASSERT_LT(part.first, 600000u);
    ASSERT_GT(part.first + part.count, 600000u);
    ASSERT_LE(part.count, 1000000u);
    EXPECT_EQ(PartExports(), "CSV-Save of the visible range\u2026 on, Save of the visible range\u2026 off");
    for (QAction* action : dlg->ContextMenu()->actions()) {
        if (action->text() == QStringLiteral("Save of the visible range\u2026")) {
            EXPECT_EQ(action->toolTip(), QStringLiteral("The recording lost 100 samples inside this part, which one "
                                                        "data file cannot tell. CSV-Save exports it."));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, FollowWindowWays, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "OpenFiles" : "Prefix"; });

}  // namespace
