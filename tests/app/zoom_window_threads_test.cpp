// Zoom, pan, the cursor readout and saving the picture, through the real
// window with real files and the in-process simulated logger.
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <functional>
#include <vector>

#include "files/dlf.h"
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
    // 7,280 samples on 728 columns: column c reads sample 10 c.
    Open(WriteRecord("ramp.dlf", 7280, [](int ch, std::uint32_t s) { return ch + s * 0.00025; }));
    const QImage canvas = dlg->View().Snapshot();
    Hover(PLOT_LEFT + 364, PANE0_ROW);
    const QStringList expected = {"Sample 3640",   "Time 364 mS",   "CH0 0.91000 V",
                                  "CH1 1.91000 V", "CH2 2.91000 V", "CH3 3.91000 V"};
    EXPECT_EQ(dlg->CursorReadout(), expected);

    // The line is drawn over the window in every pane, never into the canvas.
    const QImage shown = dlg->grab().toImage();
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = dlg->View().Layout().plotRect[ch];
        EXPECT_EQ(shown.pixel(PLOT_LEFT + 364, plot.bottom - 2) & 0xFFFFFF, 0xFFFFFFu) << ch;
    }
    EXPECT_EQ(dlg->View().Snapshot(), canvas);

    // Zooming at the pointer keeps the sample under it.
    Wheel(PLOT_LEFT + 364, PANE0_ROW, 120);
    EXPECT_EQ(dlg->VisibleRange(), (ViewRange{728, 5824}));
    EXPECT_EQ(dlg->CursorReadout(), expected);

    Hover(PLOT_LEFT + 100, 20);  // above the panes
    EXPECT_TRUE(dlg->CursorReadout().isEmpty());
}

TEST_F(ZoomWindowTest, ContextMenuKeepsTheSystemItemsThenAddsTheViewItems) {
    MakeWindow(InstantConfig());
    const QStringList expected = {"Minimize", "Close", "-", "バージョン情報(&A)...", "-",
                                  "Full view", "Save picture", "Copy picture"};
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

}  // namespace
