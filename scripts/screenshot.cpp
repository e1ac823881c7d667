// Makes the README's pictures of the window: drives the real window through
// its controls on the simulated logger, the way a user would, and saves what
// the window shows; then zooms in with the wheel at the plot's right edge,
// points at a sample and saves the window again, cursor line and box included;
// then sets markers A and B from the context menu, opens the measurements
// window and saves the two windows side by side; last, a second window follows
// a recording that vosctl record writes meanwhile, on the UTC axis with the
// cursor on its newest file. Run by scripts/screenshot.sh.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <memory>

#include "app/ctestdlg.h"
#include "files/file.h"

namespace {

// Pumps events until `done` holds; false after `ms` milliseconds.
template <class F>
bool PumpUntil(F done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Wheel notches at (x, y) of the window, as the mouse sends them.
void Wheel(QWidget& window, const QPoint& at, int notches) {
    for (int i = 0; i < notches; ++i) {
        QWheelEvent event(at, window.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&window, &event);
    }
}

void Hover(QWidget& window, const QPoint& at) {
    QMouseEvent event(QEvent::MouseMove, at, window.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
}

// Chooses the context menu's item `text`, as the menu opens now.
bool ChooseFromMenu(CtestDlg& dlg, const QString& text) {
    for (QAction* action : dlg.ContextMenu()->actions()) {
        if (action->text() == text && action->isEnabled()) {
            action->trigger();
            return true;
        }
    }
    return false;
}

// `left` and `right` side by side on the window manager's grey, tops aligned.
QImage SideBySide(const QImage& left, const QImage& right) {
    constexpr int GAP = 12;
    QImage both(left.width() + GAP + right.width(), std::max(left.height(), right.height()), QImage::Format_RGB32);
    both.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&both);
    painter.drawImage(0, 0, left);
    painter.drawImage(left.width() + GAP, 0, right);
    return both;
}

int Fail(const char* what) {
    std::fprintf(stderr, "screenshot: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s OUTPUT.png ZOOMED.png MARKERS.png FOLLOWED.png VOSCTL\n", argv[0]);
        return 2;
    }
    IgnoreFileSignals();
    QApplication application(argc, argv);
    auto dlg = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver());
    dlg->show();
    if (!QTest::qWaitForWindowExposed(dlg.get())) {
        return Fail("the window did not show");
    }

    QTest::mouseClick(dlg->m_btnSearch, Qt::LeftButton);
    if (dlg->m_comboSerial->count() == 0) {
        return Fail("Search found no logger (is build/sim on LD_LIBRARY_PATH?)");
    }

    // "10kHz" -> "5kHz" -> "2kHz" with the arrow key, as a user picks it.
    dlg->m_comboClock->setFocus();
    while (dlg->m_comboClock->currentText() != QStringLiteral("2kHz") && dlg->m_comboClock->currentIndex() < 12) {
        QTest::keyClick(dlg->m_comboClock, Qt::Key_Down);
    }
    dlg->m_editCount->setFocus();
    QTest::keyClick(dlg->m_editCount, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dlg->m_editCount, QStringLiteral("20000"));
    if (dlg->m_editTotalTime->text() != QStringLiteral("10 S")) {
        return Fail("Total Time does not read 10 S for 20000 samples at 2kHz");
    }

    QTest::mouseClick(dlg->m_btnStart, Qt::LeftButton);
    if (!PumpUntil([&] { return dlg->m_running.load(); }, 10000) ||
        !PumpUntil([&] { return !dlg->m_running.load() && !dlg->WorkersRunning(); }, 120000)) {
        return Fail("the acquisition did not end");
    }
    if (!dlg->m_dataValid) {
        return Fail("the acquisition stored no record");
    }
    // The run's last calls on the window are done; deliver their repaint requests.
    QCoreApplication::processEvents();
    if (!dlg->grab().save(QString::fromLocal8Bit(argv[1]))) {
        return Fail("cannot write the picture");
    }

    // 21 notches of 4/5 at the last column leave the last 184 of the 20,000 samples.
    const Rect& plot = dlg->View().Layout().plotRect[0];
    const int row = (plot.top + plot.bottom) / 2;
    Wheel(*dlg, QPoint(plot.right - 1, row), 21);
    Hover(*dlg, QPoint(plot.left + (plot.right - plot.left) * 3 / 5, row));
    if (dlg->CursorReadout().isEmpty()) {
        return Fail("the cursor shows no box after the zoom");
    }
    QCoreApplication::processEvents();
    if (!dlg->grab().save(QString::fromLocal8Bit(argv[2]))) {
        return Fail("cannot write the zoomed picture");
    }

    // Markers at a quarter and three quarters of the zoomed plot, then the measurements beside the window.
    for (const auto& [share, item] : {std::pair{1, "Set marker A here"}, std::pair{3, "Set marker B here"}}) {
        Hover(*dlg, QPoint(plot.left + (plot.right - plot.left) * share / 4, row));
        if (!ChooseFromMenu(*dlg, QString::fromLatin1(item))) {
            return Fail("the context menu offers no marker at the cursor");
        }
    }
    Hover(*dlg, QPoint(plot.left, 4));  // the pointer off the plots: no cursor box over the markers
    dlg->ShowMeasurements();
    QDialog* measurements = nullptr;
    for (QDialog* dialog : dlg->findChildren<QDialog*>()) {
        if (dialog->windowTitle() == QStringLiteral("Measurements") && dialog->isVisible()) {
            measurements = dialog;
        }
    }
    if (measurements == nullptr || !QTest::qWaitForWindowExposed(measurements)) {
        return Fail("the measurements window did not show");
    }
    QCoreApplication::processEvents();
    if (!SideBySide(dlg->grab().toImage(), measurements->grab().toImage()).save(QString::fromLocal8Bit(argv[3]))) {
        return Fail("cannot write the markers' picture");
    }
    measurements->close();
    dlg.reset();

    // A recording at 1 kHz in files of 2,000 samples, followed by a new window as it grows.
    QTemporaryDir folder;
    const QString prefix = folder.filePath(QStringLiteral("night"));
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.start(QString::fromLocal8Bit(argv[5]), {QStringLiteral("record"), QStringLiteral("--clock"),
                                                      QStringLiteral("1kHz"), QStringLiteral("--split"),
                                                      QStringLiteral("2000"), QStringLiteral("-o"), prefix});
    auto follower = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver());
    follower->show();
    if (!recorder.waitForStarted(10000) || !QTest::qWaitForWindowExposed(follower.get())) {
        return Fail("the recorder or the following window did not start");
    }
    std::string message;
    if (!PumpUntil([&] { return follower->FollowRecording(prefix, message); }, 20000)) {
        return Fail("the recording could not be followed");
    }
    const bool grown = PumpUntil([&] { return follower->RecordCount() >= 7000; }, 30000);
    ChooseFromMenu(*follower, QStringLiteral("Time axis: UTC"));
    const Rect& followed = follower->View().Layout().plotRect[0];
    Hover(*follower, QPoint(followed.left + (followed.right - followed.left) * 9 / 10, (followed.top + followed.bottom) / 2));
    QCoreApplication::processEvents();
    const bool saved = grown && !follower->CursorReadout().isEmpty() &&
                       follower->grab().save(QString::fromLocal8Bit(argv[4]));
    recorder.terminate();
    recorder.waitForFinished(20000);
    if (!saved) {
        return Fail("the followed recording did not grow, or its picture could not be written");
    }
    return 0;
}
