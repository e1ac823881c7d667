// What recording to files costs the window: the real window, offscreen, on
// the simulated logger's default bus (real time), records at 10 kHz for 5
// minutes (or the duration given, as --duration takes it) through its
// "Record to files…" dialog while it follows its own recording, as a user's
// window does. Reported: the process's CPU share over the recording (the
// recorder's threads, the follower and every redraw), whether frames were
// lost, and the end text the dialog shows; with the path of vosctl given
// second, the baseline: `vosctl record` alone for as long, in the same run.
// Run by hand with build/sim on LD_LIBRARY_PATH; the files go under $TMPDIR
// and are deleted after.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ctestdlg.h"
#include "app/record_dialog.h"
#include "files/file.h"

namespace {

double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the event loop, as the window's own loop runs, until `done` holds; false after `ms` ms.
template <class F>
bool PumpUntil(F done, qint64 ms) {
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer timer;
    timer.start();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (done() || timer.elapsed() > ms) loop.quit();
    });
    tick.start(100);
    if (!done()) loop.exec();
    return done();
}

int Fail(const char* what) {
    std::fprintf(stderr, "bench_record_window: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString duration = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("5m");
    IgnoreFileSignals();
    QApplication app(argc, argv);
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path dir =
        std::filesystem::path(tmp ? tmp : "/tmp") / ("record_window." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // The window's runs and caches stay out of the user's folders.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir / "data").string()));
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((dir / "cache").string()));

    auto dlg = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver());
    dlg->show();
    dlg->m_btnSearch->click();
    if (dlg->m_comboSerial->count() == 0) return Fail("Search found no logger (is build/sim on LD_LIBRARY_PATH?)");
    if (dlg->m_comboClock->currentText() != QStringLiteral("10kHz")) return Fail("the clock is not 10kHz");
    QAction* entry = nullptr;
    for (QAction* action : dlg->ContextMenu()->actions()) {
        if (action->text() == QStringLiteral("Record to files…")) entry = action;
    }
    if (entry == nullptr || !entry->isEnabled()) return Fail("no Record to files… in the context menu");
    entry->trigger();
    RecordDialog* dialog = dlg->RecordFilesDialog();
    if (dialog == nullptr) return Fail("the dialog did not open");
    dialog->m_editPrefix->setText(QString::fromStdString((dir / "run").string()));
    dialog->m_checkUntilStop->setChecked(false);
    dialog->m_editDuration->setText(duration);
    // The message at the end is read from the dialog, never waited for.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    closer.start(200);

    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!dialog->StartRecording()) return Fail("the recording did not start");
    const bool followed = PumpUntil([&] { return dlg->Following(); }, 20000);
    const bool ended = PumpUntil([&] { return !dlg->Recording(); }, 24LL * 3600 * 1000);
    const double cpu = CpuSeconds() - cpu0;
    const double seconds = static_cast<double>(wall.elapsed()) / 1e3;
    PumpUntil([&] { return !dlg->Following(); }, 20000);
    const QString end = dialog->m_status->text();
    const std::uint64_t shown = dlg->RecordCount();
    dlg.reset();
    // The baseline: the same recording by vosctl record, its processor time as a child's.
    double alone = 0.0;
    double aloneSeconds = 0.0;
    if (argc > 2) {
        QProcess vosctl;
        vosctl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        wall.restart();
        vosctl.start(QString::fromLocal8Bit(argv[2]), {QStringLiteral("record"), QStringLiteral("--duration"), duration,
                                                       QStringLiteral("-o"), QString::fromStdString((dir / "alone").string())});
        vosctl.waitForFinished(-1);
        aloneSeconds = static_cast<double>(wall.elapsed()) / 1e3;
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        alone = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    std::filesystem::remove_all(dir);
    if (!ended || !followed) return Fail("the recording was not followed, or did not end");
    std::printf("recorded %.1f s at 10 kHz from the window, %llu samples shown at the end\n", seconds,
                static_cast<unsigned long long>(shown));
    std::printf("the window's process used %.2f s of CPU = %.2f %% of one core\n", cpu, 100.0 * cpu / seconds);
    if (aloneSeconds > 0) {
        std::printf("vosctl record alone: %.2f s of CPU in %.1f s = %.2f %% of one core; the window %.2fx that\n", alone,
                    aloneSeconds, 100.0 * alone / aloneSeconds, (cpu / seconds) / (alone / aloneSeconds));
    }
    std::printf("frames lost: %s\n", end.contains(QStringLiteral(" lost")) ? "yes" : "none");
    std::printf("end: %s\n", end.toLocal8Bit().constData());
    return 0;
}
