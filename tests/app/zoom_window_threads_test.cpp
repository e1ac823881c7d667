// Zoom, pan, the cursor readout and saving the picture, through the real
// window with real files and the in-process simulated logger.
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <QFontMetrics>
#include <QRegularExpression>

#include <cmath>
#include <functional>
#include <vector>

#include "files/dlf.h"
#include "record/extreme_record.h"
#include "window_fixture.h"

namespace {

// The window's pane 0 spans x 154 .. 881 (728 columns) and y 28 .. 161;
// there 5 V lies on row 94 and 10 V on row 39.
constexpr int PLOT_LEFT = 154;
constexpr int PLOT_RIGHT = 881;
constexpr int PANE0_ROW = 60;
constexpr int ROW_10V = 39;

class ZoomWindowTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Writes a record of `count` samples per channel and returns its path.
    QString WriteRecord(const char* name, std::uint32_t count, const std::function<double(int, std::uint32_t)>& value,
                        std::int32_t divider = 1) {
        std::vector<double> data[4];
        const double* channels[4];
        for (int ch = 0; ch < 4; ++ch) {
            data[ch].resize(count);
            for (std::uint32_t s = 0; s < count; ++s) {
                data[ch][s] = value(ch, s);
            }
            channels[ch] = data[ch].data();
        }
        DataFileHeader header;
        header.clockDivider = divider;
        header.sampleCount = count;
        const QString path = dir.filePath(QString::fromUtf8(name));
        EXPECT_EQ(SaveDataFile(path.toStdString(), header, channels), FileError::None);
        return path;
    }

    void Open(const QString& path) {
        script->fileNames.push_back(path);
        dlg->OnOpen();
    }

    void Wheel(int x, int y, int delta) {
        const QPointF at(x, y);
        QWheelEvent event(at, dlg->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(dlg.get(), &event);
    }

    void Mouse(QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held) {
        const QPointF at(x, y);
        QMouseEvent event(type, at, dlg->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &event);
    }

    void Hover(int x, int y) { Mouse(QEvent::MouseMove, x, y, Qt::NoButton, Qt::NoButton); }

    // The context menu's item named `text`, as the menu opens now.
    QAction* MenuItem(const char* text) {
        for (QAction* action : dlg->ContextMenu()->actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                return action;
            }
        }
        ADD_FAILURE() << text;
        return new QAction(dlg.get());
    }

    void Drag(int fromX, int toX) {
        Mouse(QEvent::MouseButtonPress, fromX, PANE0_ROW, Qt::LeftButton, Qt::LeftButton);
        Mouse(QEvent::MouseMove, toX, PANE0_ROW, Qt::NoButton, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, toX, PANE0_ROW, Qt::LeftButton, Qt::NoButton);
    }

    // Columns of pane 0 whose pixel on `row` has channel 0's colour.
    int LitColumns(int row) {
        const QImage image = dlg->View().Snapshot();
        const Rgb yellow = ChannelColor(0);
        int lit = 0;
        for (int x = PLOT_LEFT; x <= PLOT_RIGHT; ++x) {
            lit += image.pixel(x, row) == qRgb(yellow.r, yellow.g, yellow.b);
        }
        return lit;
    }

    bool Zoomed() {
        return !(dlg->VisibleRange() == ViewRange{0, static_cast<std::uint32_t>(dlg->m_sampleCount)});
    }

    QTemporaryDir dir;
};

// A line of the cursor at plot column `column` of pane 3, where no readout box is.
bool LineAt(const QImage& shown, const Rect& plot, int column) {
    return (shown.pixel(plot.left + column, plot.bottom - 2) & 0xFFFFFF) == 0xFFFFFFu;
}

double Varied(int ch, std::uint32_t s) { return ch * 2.5 + (s % 97) * 0.02 + (s % 1000 == 0 ? 3.0 : 0.0); }

TEST_F(ZoomWindowTest, FullViewIsPixelIdenticalAfterZoomingInAndOut) {
    MakeWindow(InstantConfig());
    const QString path = WriteRecord("varied.dlf", 10000, Varied);
    Open(path);
    const QImage full = dlg->View().Snapshot();

    struct Way {
        const char* name;
        std::function<void()> back;
    };
    const Way ways[] = {
        {"wheel back out", [&] { for (int i = 0; i < 3; ++i) Wheel(500, PANE0_ROW, -120); }},
        {"double-click", [&] { Mouse(QEvent::MouseButtonDblClick, 300, PANE0_ROW, Qt::LeftButton, Qt::LeftButton); }},
        {"context menu", [&] { dlg->ContextMenu()->actions()[5]->trigger(); }},
    };
    for (const Way& way : ways) {
        for (int i = 0; i < 3; ++i) {
            Wheel(500, PANE0_ROW, 120);
        }
        ASSERT_TRUE(Zoomed()) << way.name;
        EXPECT_NE(dlg->View().Snapshot(), full) << way.name;
        way.back();
        EXPECT_FALSE(Zoomed()) << way.name;
        EXPECT_EQ(dlg->View().Snapshot(), full) << way.name;
    }

    // A window that never zoomed shows the same picture.
    auto other = std::make_unique<CtestDlg>(DeviceBackend{[] { return true; }, nullptr},
                                            std::make_unique<ScriptedPrompts>(script));
    script->fileNames.push_back(path);
    other->OnOpen();
    EXPECT_EQ(other->View().Snapshot(), full);
}

TEST_F(ZoomWindowTest, DisplayChangeKeepsTheVisibleRange) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("varied.dlf", 10000, Varied));
    Wheel(400, PANE0_ROW, 240);
    const ViewRange zoomed = dlg->VisibleRange();
    const QImage fourPanes = dlg->View().Snapshot();
    dlg->OnDisplayChange();
    EXPECT_EQ(dlg->VisibleRange(), zoomed);
    dlg->OnDisplayChange();
    EXPECT_EQ(dlg->VisibleRange(), zoomed);
    EXPECT_EQ(dlg->View().Snapshot(), fourPanes);
}

TEST_F(ZoomWindowTest, ZoomingIntoTheLastPercentShowsItsOnlyFeatureAcrossManyColumns) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("feature.dlf", 100000,
                     [](int ch, std::uint32_t s) { return ch == 0 && s >= 99400 && s < 99500 ? 10.0 : 5.0; }));
    EXPECT_LE(LitColumns(ROW_10V), 2);
    for (int i = 0; i < 40 && dlg->VisibleRange().count > 1000; ++i) {
        Wheel(PLOT_RIGHT, PANE0_ROW, 120);
    }
    const ViewRange range = dlg->VisibleRange();
    EXPECT_LE(range.count, 1000u);
    EXPECT_LE(range.first, 99400u);
    EXPECT_GE(range.first + range.count, 99500u);
    // 100 of at most 1,000 samples on 728 columns: at least 72 columns.
    EXPECT_GE(LitColumns(ROW_10V), 70);
}

TEST_F(ZoomWindowTest, PanStopsAtTheRecordsStartAndEnd) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("varied.dlf", 100000, Varied));
    Drag(300, 700);
    EXPECT_FALSE(Zoomed()) << "the whole record cannot move";
    for (int i = 0; i < 10; ++i) {
        Wheel(500, PANE0_ROW, 120);
    }
    const ViewRange zoomed = dlg->VisibleRange();
    ASSERT_GT(zoomed.first, 0u);
    ASSERT_LT(zoomed.first + zoomed.count, 100000u);

    Drag(500, 510);
    EXPECT_EQ(dlg->VisibleRange().count, zoomed.count);
    EXPECT_LT(dlg->VisibleRange().first, zoomed.first);

    Drag(300, 50000);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{0, zoomed.count}));
    Drag(700, -50000);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{100000 - zoomed.count, zoomed.count}));
}

TEST_F(ZoomWindowTest, WheelDragAndCursorAreIgnoredDuringARun) {
    vossim::SimConfig config = vossim::DefaultConfig();  // real-time pace: the run lasts 10 s
    MakeWindow(config);
    dlg->OnSearch();
    Open(WriteRecord("varied.dlf", 10000, Varied));
    dlg->m_editCount->setText(QStringLiteral("100000"));
    dlg->OnStart();
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_acquiredCount.load() > 2000; }));

    Wheel(500, PANE0_ROW, 360);
    Drag(300, 600);
    Mouse(QEvent::MouseButtonDblClick, 300, PANE0_ROW, Qt::LeftButton, Qt::LeftButton);
    Hover(500, PANE0_ROW);
    EXPECT_FALSE(Zoomed());
    EXPECT_TRUE(dlg->CursorReadout().isEmpty());
    const QList<QAction*> items = dlg->ContextMenu()->actions();
    for (int i = 5; i < 8; ++i) {
        EXPECT_FALSE(items[i]->isEnabled()) << items[i]->text().toStdString();
    }

    dlg->OnStop();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(dlg->m_dataValid);
    Wheel(500, PANE0_ROW, 360);
    EXPECT_TRUE(Zoomed()) << "after the run the wheel zooms again";
}

TEST_F(ZoomWindowTest, OpenAndStartReturnToFullView) {
    MakeWindow(InstantConfig());
    dlg->OnSearch();
    Open(WriteRecord("a.dlf", 10000, Varied));
    Wheel(500, PANE0_ROW, 360);
    ASSERT_TRUE(Zoomed());

    // A file that fails to open changes nothing, the zoom included.
    const ViewRange zoomed = dlg->VisibleRange();
    Open(dir.filePath(QStringLiteral("missing.dlf")));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(dlg->VisibleRange(), zoomed);

    Open(WriteRecord("b.dlf", 20000, Varied));
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{0, 20000}));
    const QImage opened = dlg->View().Snapshot();
    dlg->RedrawAll(dlg->m_displayMode);
    EXPECT_EQ(dlg->View().Snapshot(), opened);

    Wheel(500, PANE0_ROW, 360);
    ASSERT_TRUE(Zoomed());
    ASSERT_LT(dlg->VisibleRange().count, 15000u);
    dlg->m_editCount->setText(QStringLiteral("15000"));
    dlg->OnStart();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(dlg->m_dataValid);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{0, 15000}));
    const QImage acquired = dlg->View().Snapshot();
    dlg->RedrawAll(dlg->m_displayMode);
    EXPECT_EQ(dlg->View().Snapshot(), acquired);
}

// A Start refused before the record changes leaves the picture as it was, zoom included.
TEST_F(ZoomWindowTest, ARefusedStartKeepsTheZoom) {
    vossim::SimConfig config = InstantConfig();
    config.devices.resize(1);
    config.devices[0].calibration[18] = 1;  // a resolution code no logger sends
    MakeWindow(config);
    dlg->OnSearch();
    Open(WriteRecord("a.dlf", 10000, Varied));
    Wheel(500, PANE0_ROW, 360);
    ASSERT_TRUE(Zoomed());
    const ViewRange zoomed = dlg->VisibleRange();
    const QImage before = dlg->View().Snapshot();

    dlg->OnStart();
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(dlg->VisibleRange(), zoomed);
    EXPECT_EQ(dlg->View().Snapshot(), before);
}

TEST_F(ZoomWindowTest, ReadoutShowsTheValuesAtThePointer) {
    MakeWindow(InstantConfig());
    // 7,280 samples on 728 columns: column 364 draws samples 3,635 .. 3,644,
    // and lies 364 / 727 of the way across, nearest to sample 3,644.
    Open(WriteRecord("ramp.dlf", 7280, [](int ch, std::uint32_t s) { return ch + s * 0.00025; }));
    const QImage canvas = dlg->View().Snapshot();
    Hover(PLOT_LEFT + 364, PANE0_ROW);
    const QStringList expected = {"Sample 3644",
                                  "Time 364.4 mS",
                                  "CH0 0.91100 V (min 0.90875, max 0.91100)",
                                  "CH1 1.91100 V (min 1.90875, max 1.91100)",
                                  "CH2 2.91100 V (min 2.90875, max 2.91100)",
                                  "CH3 3.91100 V (min 3.90875, max 3.91100)"};
    EXPECT_EQ(dlg->CursorReadout(), expected);

    // The line is drawn over the window in every pane, never into the canvas.
    const QImage shown = dlg->grab().toImage();
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = dlg->View().Layout().plotRect[ch];
        EXPECT_EQ(shown.pixel(PLOT_LEFT + 364, plot.bottom - 2) & 0xFFFFFF, 0xFFFFFFu) << ch;
    }
    EXPECT_EQ(dlg->View().Snapshot(), canvas);

    // Zooming at the pointer keeps the middle of its column's samples,
    // 3,639, in that column: of 5,824 samples column 364 draws 2,908 ..
    // 2,915 (middle 2,911), so the range starts at 728 and the column draws
    // 3,636 .. 3,643, naming the last.
    Wheel(PLOT_LEFT + 364, PANE0_ROW, 120);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{728, 5824}));
    const QStringList zoomed = {"Sample 3643",
                                "Time 364.3 mS",
                                "CH0 0.91075 V (min 0.90900, max 0.91075)",
                                "CH1 1.91075 V (min 1.90900, max 1.91075)",
                                "CH2 2.91075 V (min 2.90900, max 2.91075)",
                                "CH3 3.91075 V (min 3.90900, max 3.91075)"};
    EXPECT_EQ(dlg->CursorReadout(), zoomed);

    Hover(PLOT_LEFT + 100, 20);  // above the panes
    EXPECT_TRUE(dlg->CursorReadout().isEmpty());
}

// 72,800 samples: 100 to a column at full view, 80 after one `+`. Channel 0
// holds 4.23 V but for one sample of 9.9 V; channels 1 and 2 are flat, and
// channel 3 holds no number, so its column has no extremes to show.
TEST_F(ZoomWindowTest, ACompressedColumnShowsItsExtremesAndTheMenuGoesToThem) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("spike.dlf", 72800,
                     [](int ch, std::uint32_t s) {
                         return ch == 0 ? (s == 36401 ? 9.9 : 4.23) : ch == 3 ? std::nan("") : ch * 1.5;
                     }));
    // Column 364 draws samples 36,350 .. 36,449 and names the last.
    Hover(PLOT_LEFT + 364, PANE0_ROW);
    QStringList lines = dlg->CursorReadout();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "Sample 36449");
    EXPECT_EQ(lines[2], "CH0 4.23000 V (min 4.23000, max 9.90000)");
    EXPECT_EQ(lines[3], "CH1 1.50000 V (min 1.50000, max 1.50000)");
    EXPECT_EQ(lines[5], "CH3 nan V");

    QTest::keyClick(dlg.get(), Qt::Key_Plus);
    ASSERT_EQ(dlg->VisibleRange(), (ViewRange{7280, 58240}));
    const QImage canvas = dlg->View().Snapshot();
    MenuItem("Go to the maximum of CH0 in the visible range")->trigger();
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{7281, 58240}));
    lines = dlg->CursorReadout();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "Sample 36401");
    EXPECT_EQ(lines[2], "CH0 9.90000 V (min 4.23000, max 9.90000)");
    // The line is on the spike's column, the middle one, over the window only.
    const QImage shown = dlg->grab().toImage();
    const Rect& plot = dlg->View().Layout().plotRect[3];
    EXPECT_EQ(shown.pixel(PLOT_LEFT + 364, plot.bottom - 2) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_NE(dlg->View().Snapshot(), canvas) << "the range moved by a sample";

    // The first of equal minimums is the visible range's first sample.
    MenuItem("Go to the minimum of CH0 in the visible range")->trigger();
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{0, 58240}));
    ASSERT_FALSE(dlg->CursorReadout().isEmpty());
    EXPECT_EQ(dlg->CursorReadout()[0], "Sample 7281");
    EXPECT_EQ(dlg->CursorReadout()[2], "CH0 4.23000 V (min 4.23000, max 4.23000)");
}

// 728 samples, one to a column: channel 0 rises 0.01 V a sample, channel 2
// is -0.5 V with one NaN at sample 200.
TEST_F(ZoomWindowTest, MarkersMeasureBetweenThemOverTheWindowOnly) {
    MakeWindow(InstantConfig());
    const double flat[4] = {0.0, 1.5, -0.5, 2.0};
    Open(WriteRecord("ramp.dlf", 728, [&](int ch, std::uint32_t s) {
        return ch == 0 ? s * 0.01 : ch == 2 && s == 200 ? std::nan("") : flat[ch];
    }));
    const QImage canvas = dlg->View().Snapshot();
    const QStringList visible = {
        "Statistics of the visible range: samples 0 to 727 (728 samples)",
        "CH0 mean 3.63500 V, RMS 4.19878 V, SD 2.10155 V, min 0.00000 V at 0, max 7.27000 V at 727, p-p 7.27000 V",
        "CH1 mean 1.50000 V, RMS 1.50000 V, SD 0.00000 V, min 1.50000 V at 0, max 1.50000 V at 0, p-p 0.00000 V",
        "CH2 mean -0.50000 V, RMS 0.50000 V, SD 0.00000 V, min -0.50000 V at 0, max -0.50000 V at 0, p-p 0.00000 V, "
        "1 NaN",
        "CH3 mean 2.00000 V, RMS 2.00000 V, SD 0.00000 V, min 2.00000 V at 0, max 2.00000 V at 0, p-p 0.00000 V"};
    EXPECT_EQ(dlg->MeasurementReadout(), visible);

    Hover(PLOT_LEFT + 100, PANE0_ROW);
    MenuItem("Set marker A here")->trigger();
    Hover(PLOT_LEFT + 300, PANE0_ROW);
    MenuItem("Set marker B here")->trigger();
    const QStringList between = {
        "Marker A: sample 100, 10 mS",
        "  CH0 1.00000 V, CH1 1.50000 V, CH2 -0.50000 V, CH3 2.00000 V",
        "Marker B: sample 300, 30 mS",
        "  CH0 3.00000 V, CH1 1.50000 V, CH2 -0.50000 V, CH3 2.00000 V",
        "Δt 20 mS, Δ 200 samples",
        "  B − A: CH0 2.00000 V, CH1 0.00000 V, CH2 0.00000 V, CH3 0.00000 V",
        "Statistics between A and B: samples 100 to 300 (201 samples)",
        "CH0 mean 2.00000 V, RMS 2.08247 V, SD 0.58023 V, min 1.00000 V at 100, max 3.00000 V at 300, p-p 2.00000 V",
        "CH1 mean 1.50000 V, RMS 1.50000 V, SD 0.00000 V, min 1.50000 V at 100, max 1.50000 V at 100, p-p 0.00000 V",
        "CH2 mean -0.50000 V, RMS 0.50000 V, SD 0.00000 V, min -0.50000 V at 100, max -0.50000 V at 100, "
        "p-p 0.00000 V, 1 NaN",
        "CH3 mean 2.00000 V, RMS 2.00000 V, SD 0.00000 V, min 2.00000 V at 100, max 2.00000 V at 100, p-p 0.00000 V"};
    EXPECT_EQ(dlg->MeasurementReadout(), between);
    // The measurements window shows the same lines.
    dlg->ShowMeasurements();
    QStringList shown;
    for (QLabel* label : dlg->findChildren<QLabel*>()) {
        if (label->text().startsWith(QStringLiteral("Marker A"))) {
            shown = label->text().split(QLatin1Char('\n'));
        }
    }
    EXPECT_EQ(shown, between);

    // Both lines are drawn over the window, never into the picture saved.
    Hover(PLOT_LEFT + 100, 20);  // no cursor
    const QImage window = dlg->grab().toImage();
    const Rect& plot = dlg->View().Layout().plotRect[3];
    for (const int column : {100, 300}) {
        EXPECT_EQ(window.pixel(PLOT_LEFT + column, plot.bottom - 2) & 0xFFFFFF, 0xFFFFFFu) << column;
    }
    EXPECT_EQ(window.pixel(PLOT_LEFT + 200, plot.bottom - 2) & 0xFFFFFF,
              canvas.pixel(PLOT_LEFT + 200, plot.bottom - 2) & 0xFFFFFF);
    EXPECT_EQ(dlg->View().Snapshot(), canvas);

    MenuItem("Remove markers")->trigger();
    EXPECT_EQ(dlg->MeasurementReadout(), visible);
    EXPECT_EQ(dlg->grab().toImage().pixel(PLOT_LEFT + 100, plot.bottom - 2) & 0xFFFFFF,
              canvas.pixel(PLOT_LEFT + 100, plot.bottom - 2) & 0xFFFFFF);

    // A marker belongs to the record it was set on: opening another drops it.
    Hover(PLOT_LEFT + 100, PANE0_ROW);
    MenuItem("Set marker A here")->trigger();
    ASSERT_EQ(dlg->MeasurementReadout().size(), 7);
    Open(WriteRecord("other.dlf", 728, [&](int ch, std::uint32_t s) {
        return ch == 0 ? s * 0.01 : ch == 2 && s == 200 ? std::nan("") : flat[ch];
    }));
    EXPECT_EQ(dlg->MeasurementReadout(), visible);
}

// 728 samples: sample s drawn in column s at the whole record; CH0 reads
// s x 0.01 V.
TEST_F(ZoomWindowTest, MarkersFollowTheirKeysAndAreDraggedByTheirLines) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("ramp.dlf", 728, [](int ch, std::uint32_t s) { return ch == 0 ? s * 0.01 : 1.5; }));
    const auto markerLines = [&] { return dlg->MeasurementReadout().mid(0, 6); };
    Hover(PLOT_LEFT + 100, PANE0_ROW);
    QTest::keyClick(dlg.get(), Qt::Key_A);  // at the cursor's sample
    Hover(PLOT_LEFT + 100, 20);              // no cursor: the middle of the visible range
    QTest::keyClick(dlg.get(), Qt::Key_B);
    EXPECT_EQ(markerLines(), (QStringList{"Marker A: sample 100, 10 mS",
                                          "  CH0 1.00000 V, CH1 1.50000 V, CH2 1.50000 V, CH3 1.50000 V",
                                          "Marker B: sample 364, 36.4 mS",
                                          "  CH0 3.64000 V, CH1 1.50000 V, CH2 1.50000 V, CH3 1.50000 V",
                                          "Δt 26.4 mS, Δ 264 samples",
                                          "  B − A: CH0 2.64000 V, CH1 0.00000 V, CH2 0.00000 V, CH3 0.00000 V"}));

    // The pointer shows where a line can be taken.
    Hover(PLOT_LEFT + 102, PANE0_ROW);
    EXPECT_EQ(dlg->cursor().shape(), Qt::SizeHorCursor);
    Hover(PLOT_LEFT + 150, PANE0_ROW);
    EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);

    Mouse(QEvent::MouseButtonPress, PLOT_LEFT + 102, PANE0_ROW, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, PLOT_LEFT + 200, PANE0_ROW, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, PLOT_LEFT + 200, PANE0_ROW, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(markerLines(), (QStringList{"Marker A: sample 200, 20 mS",
                                          "  CH0 2.00000 V, CH1 1.50000 V, CH2 1.50000 V, CH3 1.50000 V",
                                          "Marker B: sample 364, 36.4 mS",
                                          "  CH0 3.64000 V, CH1 1.50000 V, CH2 1.50000 V, CH3 1.50000 V",
                                          "Δt 16.4 mS, Δ 164 samples",
                                          "  B − A: CH0 1.64000 V, CH1 0.00000 V, CH2 0.00000 V, CH3 0.00000 V"}));

    // Zoomed to {73, 582}, A's line stands in column 159; dragging it to
    // column 400 (sample 393) leaves the view where it is; a drag elsewhere pans.
    QTest::keyClick(dlg.get(), Qt::Key_Plus);
    ASSERT_EQ(dlg->VisibleRange(), (ViewRange{73, 582}));
    Drag(PLOT_LEFT + 159, PLOT_LEFT + 400);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{73, 582}));
    EXPECT_EQ(dlg->MeasurementReadout().value(0), "Marker A: sample 393, 39.3 mS");
    Drag(PLOT_LEFT + 600, PLOT_LEFT + 500);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{146, 582}));
    EXPECT_EQ(dlg->MeasurementReadout().value(0), "Marker A: sample 393, 39.3 mS");

    // `x` and Delete remove both markers.
    QTest::keyClick(dlg.get(), Qt::Key_X);
    EXPECT_EQ(dlg->MeasurementReadout().value(0), "Statistics of the visible range: samples 146 to 727 (582 samples)");
    Hover(PLOT_LEFT + 400, PANE0_ROW);  // column 400 of {146, 582}
    QTest::keyClick(dlg.get(), Qt::Key_A);
    ASSERT_EQ(dlg->MeasurementReadout().value(0), "Marker A: sample 466, 46.6 mS");
    QTest::keyClick(dlg.get(), Qt::Key_Delete);
    EXPECT_EQ(dlg->MeasurementReadout().value(0), "Statistics of the visible range: samples 146 to 727 (582 samples)");
}

TEST_F(ZoomWindowTest, ContextMenuKeepsTheSystemItemsThenAddsTheViewItems) {
    MakeWindow(InstantConfig());
    const QStringList expected = {"Minimize", "Close", "-", "バージョン情報(&A)...", "-",
                                  "Full view", "Save picture", "Copy picture", "-",
                                  "Go to the maximum of CH0 in the visible range",
                                  "Go to the minimum of CH0 in the visible range",
                                  "Go to the maximum of CH1 in the visible range",
                                  "Go to the minimum of CH1 in the visible range",
                                  "Go to the maximum of CH2 in the visible range",
                                  "Go to the minimum of CH2 in the visible range",
                                  "Go to the maximum of CH3 in the visible range",
                                  "Go to the minimum of CH3 in the visible range", "-",
                                  "Set marker A here", "Set marker B here", "Remove markers", "Measurements", "-",
                                  "Time axis: from start", "Time axis: UTC", "Time axis: local time", "-",
                                  "CSV-Save of the visible range\u2026", "Save of the visible range\u2026", "-",
                                  "Record to files…"};
    for (int round = 0; round < 2; ++round) {  // composed afresh each time it opens
        QStringList texts;
        for (QAction* action : dlg->ContextMenu()->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        EXPECT_EQ(texts, expected) << round;
    }
    const QList<QAction*> system = dlg->SystemMenu()->actions();
    ASSERT_EQ(system.size(), 4);
    EXPECT_TRUE(system[2]->isSeparator());
    EXPECT_EQ(system.back()->text(), "バージョン情報(&A)...");
}

TEST_F(ZoomWindowTest, SavePictureWritesTheCanvasAsShown) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("varied.dlf", 10000, Varied));
    Wheel(500, PANE0_ROW, 240);
    Hover(500, PANE0_ROW);  // a cursor over the canvas is not part of the picture
    ASSERT_FALSE(dlg->CursorReadout().isEmpty());
    const QImage canvas = dlg->View().Snapshot();

    struct Case {
        const char* name;
        QString path;  // empty: the dialog is cancelled
        bool written;
        QStringList messages;
    };
    const Case cases[] = {
        {"saved", dir.filePath(QStringLiteral("picture.png")), true, {}},
        {"cancelled", QString(), false, {}},
        {"no such folder", dir.filePath(QStringLiteral("none/picture.png")), false, {"ファイル書き込みエラーです"}},
    };
    for (const Case& c : cases) {
        script->messages.clear();
        script->fileNames.push_back(c.path);
        dlg->ContextMenu()->actions()[6]->trigger();
        EXPECT_EQ(QStringList(script->messages.begin(), script->messages.end()), c.messages) << c.name;
        EXPECT_EQ(script->filters.back(), "PNGファイル (*.png)") << c.name;
        if (c.written) {
            const QImage saved(c.path, "PNG");
            ASSERT_EQ(saved.size(), canvas.size()) << c.name;
            EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), canvas) << c.name;
        } else if (!c.path.isEmpty()) {
            EXPECT_FALSE(QFile::exists(c.path)) << c.name;
        }
    }

    dlg->ContextMenu()->actions()[7]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), canvas);
}

TEST_F(ZoomWindowTest, LastSixSamplesShowInTheLastColumnAsTheSummarySays) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("spike.dlf", 10000, [](int, std::uint32_t s) { return s >= 9994 ? 10.0 : 5.0; }));
    EXPECT_EQ(dlg->m_status[0]->text(), "10.00000 V");
    const QImage image = dlg->View().Snapshot();
    const Rgb yellow = ChannelColor(0);
    EXPECT_EQ(image.pixel(PLOT_RIGHT, ROW_10V), qRgb(yellow.r, yellow.g, yellow.b));
    EXPECT_EQ(LitColumns(ROW_10V), 1);
}

TEST_F(ZoomWindowTest, ReadoutNamesTheSampleWhoseStepIsUnderThePointer) {
    MakeWindow(InstantConfig());
    struct Case {
        const char* what;
        std::uint32_t count;
        int notches;  // wheel notches on the last column before hovering
        int column;
        QString sample;
        QString ch0;
    };
    // The last sample is 1.5 V, the others 1.0 V. On 728 columns the second
    // of 2 samples is drawn from column 364 on, the second of 10 from column 73.
    const Case cases[] = {
        {"2 samples, on the first step", 2, 0, 300, "Sample 0", "CH0 1.00000 V"},
        {"2 samples, on the second step", 2, 0, 364, "Sample 1", "CH0 1.50000 V"},
        {"10 samples, on the first step", 10, 0, 46, "Sample 0", "CH0 1.00000 V"},
        {"10 samples, on the last step", 10, 0, 700, "Sample 9", "CH0 1.50000 V"},
        {"1 sample, mid-plot", 1, 0, 300, "Sample 0", "CH0 1.00000 V"},
        {"deepest zoom of 1,000,000", 1000000, 55, 46, "Sample 999990", "CH0 1.00000 V"},
    };
    for (const Case& c : cases) {
        Open(WriteRecord("steps.dlf", c.count,
                         [&](int, std::uint32_t s) { return s + 1 == c.count && s > 0 ? 1.5 : 1.0; }));
        for (int i = 0; i < c.notches; ++i) {
            Wheel(PLOT_RIGHT, PANE0_ROW, 120);
        }
        Hover(PLOT_LEFT + c.column, PANE0_ROW);
        const QStringList lines = dlg->CursorReadout();
        ASSERT_EQ(lines.size(), 6) << c.what;
        EXPECT_EQ(lines[0], c.sample) << c.what;
        EXPECT_EQ(lines[2], c.ch0) << c.what;
        const QImage shown = dlg->grab().toImage();
        const Rect& plot = dlg->View().Layout().plotRect[3];
        for (int x = 0; x < 728; ++x) {
            EXPECT_EQ(LineAt(shown, plot, x), x == c.column) << c.what << ", column " << x;
        }
    }
}

TEST_F(ZoomWindowTest, TheLastColumnReadsAndZoomsToTheRecordsEnd) {
    MakeWindow(InstantConfig());
    struct Case {
        std::uint32_t count;
        int notches;  // on the last column
        ViewRange range;
        QString span;
        QString last;  // the readout on the last column
    };
    const Case cases[] = {
        {1000000, 55, {999990, 10}, "samples 999,990–999,999 of 1,000,000", "Sample 999999"},
        {200000, 55, {199990, 10}, "samples 199,990–199,999 of 200,000", "Sample 199999"},
        {49768, 0, {0, 49768}, "", "Sample 49767"},
    };
    for (const Case& c : cases) {
        Open(WriteRecord("end.dlf", c.count, Varied));
        for (int i = 0; i < c.notches; ++i) {
            Wheel(PLOT_RIGHT, PANE0_ROW, 120);
        }
        EXPECT_EQ(dlg->VisibleRange(), c.range) << c.count;
        EXPECT_EQ(dlg->VisibleSpan(), c.span) << c.count;
        Hover(PLOT_RIGHT, PANE0_ROW);
        ASSERT_FALSE(dlg->CursorReadout().isEmpty()) << c.count;
        EXPECT_EQ(dlg->CursorReadout()[0], c.last) << c.count;
    }
}

TEST_F(ZoomWindowTest, ZoomedTimeLabelsFitAndShowTheSameDecimals) {
    MakeWindow(InstantConfig());
    // 100 S at 10 kHz: every time label is in seconds.
    Open(WriteRecord("long.dlf", 1000000, Varied));
    const QFontMetrics metrics(dlg->View().FontA());
    const auto width = [&](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    const QRegularExpression decimals(QStringLiteral("^\\d+(\\.\\d*)? S$"));
    for (const std::uint32_t most : {19u, 170u, 1000u, 60000u}) {
        while (dlg->VisibleRange().count > most) {
            Wheel(PLOT_LEFT + 300, PANE0_ROW, 120);
        }
        const std::vector<AxisTick> ticks =
            dlg->View().TimeAxisTicks(dlg->VisibleRange(), 1000000, 1);
        ASSERT_GE(ticks.size(), 2u) << most;
        const QString first = QString::fromStdString(ticks[0].time);
        ASSERT_TRUE(decimals.match(first).hasMatch()) << first.toStdString();
        const qsizetype places = first.indexOf('.') < 0 ? 0 : first.indexOf(' ') - first.indexOf('.') - 1;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            const QString time = QString::fromStdString(ticks[i].time);
            const qsizetype own = time.indexOf('.') < 0 ? 0 : time.indexOf(' ') - time.indexOf('.') - 1;
            EXPECT_EQ(own, places) << most << ": " << ticks[i].time;
            if (i > 0) {
                // The gap between the labels of neighbouring ticks, in both rows.
                EXPECT_GE(ticks[i].timeLeft, ticks[i - 1].timeLeft + width(ticks[i - 1].time) + TICK_LABEL_GAP)
                    << most << ": " << ticks[i - 1].time << " and " << ticks[i].time;
                EXPECT_GE(ticks[i].indexLeft, ticks[i - 1].indexLeft + width(ticks[i - 1].index) + TICK_LABEL_GAP)
                    << most << ": " << ticks[i - 1].index << " and " << ticks[i].index;
            }
        }
    }

    // The full view keeps its step and its shortest texts.
    Open(WriteRecord("short.dlf", 10000, Varied));
    std::vector<std::string> texts;
    for (const AxisTick& tick : dlg->View().TimeAxisTicks({0, 10000}, 10000, 1)) {
        texts.push_back(tick.time);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"0 S", "0.1 S", "0.2 S", "0.3 S", "0.4 S", "0.5 S", "0.6 S",
                                               "0.7 S", "0.8 S", "0.9 S"}));
}

TEST_F(ZoomWindowTest, AHugeValueKeepsTheReadoutNarrow) {
    MakeWindow(InstantConfig());
    const double values[4] = {1e300, -1e300, 9999999.99999, 2.5};
    Open(WriteRecord("huge.dlf", 10, [&](int ch, std::uint32_t) { return values[ch]; }));
    Hover(PLOT_LEFT + 300, PANE0_ROW);
    const QStringList expected = {"Sample 4",           "Time 0.4 mS",         "CH0 1.00000e+300 V",
                                  "CH1 -1.00000e+300 V", "CH2 9999999.99999 V", "CH3 2.50000 V"};
    EXPECT_EQ(dlg->CursorReadout(), expected);
}

// The statistics vosctl and Python give of the same record (numpy's), with
// "-" for a channel of NaN only; each Summary box shows its value whole.
TEST_F(ZoomWindowTest, InfinitiesAndHugeNumbersMeasureAsNumpyHasThem) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("extreme.dlf", EXTREME_COUNT, ExtremeSample));
    const QStringList whole = {
        "Statistics of the visible range: samples 0 to 9999 (10000 samples)",
        "CH0 mean inf V, RMS inf V, SD nan V, min 0.00000 V at 0, max inf V at 4321, p-p inf V",
        "CH1 mean 0.00000 V, RMS 1.00000e+300 V, SD 1.00000e+300 V, min -1.00000e+300 V at 1, max 1.00000e+300 V at 0, "
        "p-p 2.00000e+300 V",
        "CH2 mean 1.00000e+305 V, RMS 1.00000e+305 V, SD 0.00000 V, min 1.00000e+305 V at 0, max 1.00000e+305 V at 0, "
        "p-p 0.00000 V",
        "CH3 mean nan V, RMS inf V, SD nan V, min -inf V at 5000, max inf V at 7000, p-p inf V, 5000 NaN"};
    EXPECT_EQ(dlg->MeasurementReadout(), whole);
    const QStringList summary = {"inf V", "0.00000 V", "1.00e+300 V", "-1.0e+300 V",
                                 "1.00e+305 V", "1.00e+305 V", "inf V", "-inf V"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(dlg->m_status[i]->text(), summary[i]) << "field " << i;
    }

    // The first half, where CH3 holds only NaN.
    Hover(PLOT_LEFT, PANE0_ROW);
    MenuItem("Set marker A here")->trigger();
    Hover(PLOT_LEFT + 300, PANE0_ROW);
    MenuItem("Set marker B here")->trigger();
    const QStringList half = dlg->MeasurementReadout();
    ASSERT_EQ(half.size(), 11);
    EXPECT_EQ(half[6], "Statistics between A and B: samples 0 to 4126 (4127 samples)");
    EXPECT_EQ(half[10], "CH3 mean -, RMS -, SD -, min -, max -, p-p -, 4127 NaN");
}

// A value too wide for its Summary box shows with fewer digits, never cut,
// and in full in the box's tip.
TEST_F(ZoomWindowTest, SummaryBoxesShowEveryValueWhole) {
    MakeWindow(InstantConfig());
    const double high[4] = {1000.00357, 1e300, 9999999.99999, 4.9};
    Open(WriteRecord("wide.dlf", 2, [&](int ch, std::uint32_t s) { return s == 0 ? high[ch] : -high[ch]; }));
    const QStringList texts = {"1000.0036 V", "-1000.004 V", "1.00e+300 V", "-1.0e+300 V",
                               "10000000 V", "-10000000 V", "4.90000 V", "-4.90000 V"};
    for (int i = 0; i < 8; ++i) {
        QLabel* box = dlg->m_status[i];
        EXPECT_EQ(box->text(), texts[i]) << "field " << i;
        const int indent = box->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
        EXPECT_LE(box->fontMetrics().horizontalAdvance(box->text()), box->contentsRect().width() - indent)
            << "field " << i;
    }
    EXPECT_EQ(dlg->m_status[0]->toolTip(), "1000.00357 V");
    EXPECT_EQ(dlg->m_status[7]->toolTip(), "");
}

TEST_F(ZoomWindowTest, TheCursorGoesWhenThePointerJumpsOntoAControl) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("varied.dlf", 10000, Varied));
    QTest::mouseMove(dlg.get(), QPoint(PLOT_LEFT + 200, PANE0_ROW));
    ASSERT_FALSE(dlg->CursorReadout().isEmpty());
    QTest::mouseMove(dlg->m_btnDisplayChange, dlg->m_btnDisplayChange->rect().center());
    EXPECT_TRUE(dlg->CursorReadout().isEmpty());

    QTest::mouseClick(dlg->m_btnDisplayChange, Qt::LeftButton);
    ASSERT_TRUE(dlg->m_displayMode);
    const QImage shown = dlg->grab().toImage();
    const Rect& plot = dlg->View().Layout().plotRect[0];
    int white = 0;
    for (int y = plot.top; y <= plot.bottom; ++y) {
        white += (shown.pixel(PLOT_LEFT + 200, y) & 0xFFFFFF) == 0xFFFFFFu;
    }
    EXPECT_EQ(white, 0);

    // Row 170 lies in the overlay pane but between panes 0 and 1 of the four
    // panes: Display Change from the keyboard leaves no cursor there.
    Hover(PLOT_LEFT + 200, 170);
    ASSERT_FALSE(dlg->CursorReadout().isEmpty());
    dlg->OnDisplayChange();
    ASSERT_FALSE(dlg->m_displayMode);
    EXPECT_TRUE(dlg->CursorReadout().isEmpty());
}

TEST_F(ZoomWindowTest, KeysZoomAroundTheCentrePanAndReturnToFullView) {
    MakeWindow(InstantConfig());
    Open(WriteRecord("varied.dlf", 10000, Varied));
    const QImage full = dlg->View().Snapshot();
    // Ink above the time labels, right-aligned with the plots.
    const auto spanInk = [&] {
        const QImage image = dlg->View().Snapshot();
        int ink = 0;
        for (int y = 1; y <= 12; ++y) {
            for (int x = PLOT_RIGHT - 300; x <= PLOT_RIGHT; ++x) {
                ink += image.pixel(x, y) != full.pixel(x, y);
            }
        }
        return ink;
    };
    QPushButton* focus = dlg->m_btnDisplayChange;
    focus->setFocus();
    struct Step {
        Qt::Key key;
        ViewRange range;
        QString span;
    };
    const Step steps[] = {
        {Qt::Key_Plus, {1000, 8000}, "samples 1,000–8,999 of 10,000"},
        {Qt::Key_Right, {1800, 8000}, "samples 1,800–9,799 of 10,000"},
        {Qt::Key_Right, {2000, 8000}, "samples 2,000–9,999 of 10,000"},
        {Qt::Key_Left, {1200, 8000}, "samples 1,200–9,199 of 10,000"},
        {Qt::Key_Minus, {0, 10000}, ""},
        {Qt::Key_Plus, {1000, 8000}, "samples 1,000–8,999 of 10,000"},
        {Qt::Key_Plus, {1800, 6400}, "samples 1,800–8,199 of 10,000"},
        {Qt::Key_Home, {0, 10000}, ""},
    };
    for (const Step& step : steps) {
        QTest::keyClick(focus, step.key);
        EXPECT_EQ(dlg->VisibleRange(), step.range) << step.span.toStdString();
        EXPECT_EQ(dlg->VisibleSpan(), step.span);
        EXPECT_EQ(spanInk() > 0, !step.span.isEmpty()) << step.span.toStdString();
    }
    EXPECT_EQ(dlg->View().Snapshot(), full);

    // A text field keeps its keys.
    QTest::keyClick(focus, Qt::Key_Plus);
    ASSERT_TRUE(Zoomed());
    dlg->m_editCount->setFocus();
    QTest::keyClick(dlg->m_editCount, Qt::Key_Home);
    QTest::keyClick(dlg->m_editCount, Qt::Key_Plus);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{1000, 8000}));
}

}  // namespace
