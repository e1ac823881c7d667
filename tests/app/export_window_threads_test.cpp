// CSV-Save and Save of a part of the record shown: between the markers or
// of the visible range, from the real window's context menu.
#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>

#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "files/dlf.h"
#include "series_files.h"
#include "folder_window_fixture.h"

namespace {

constexpr int PLOT_LEFT = 154;
constexpr int PANE0_ROW = 60;
constexpr int CSV_CH1 = 1;
constexpr int CSV_ALL = 4;

class ExportWindowTest : public FolderWindowTest {
protected:
    /// Opens `paths` as `vosviewer FILE...` does, without a message.
    void Open(const std::vector<std::string>& paths) {
        OpenFromCommandLine(paths);
        ASSERT_TRUE(script->messages.empty());
    }

    /// The context menu's item named `text`, as the menu opens now; null when it has none.
    QAction* MenuItem(const QString& text) {
        for (QAction* action : dlg->ContextMenu()->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    /// Sets marker `which` ("A" or "B") at plot column `column`.
    void SetMarker(const char* which, int column) {
        const QPointF at(PLOT_LEFT + column, PANE0_ROW);
        QMouseEvent event(QEvent::MouseMove, at, dlg->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &event);
        QAction* set = MenuItem(QStringLiteral("Set marker %1 here").arg(QLatin1String(which)));
        ASSERT_NE(set, nullptr);
        set->trigger();
    }

    /// Runs the menu item `text` into `path` to its end.
    void ExportTo(const QString& text, const std::string& path) {
        QAction* item = MenuItem(text);
        ASSERT_NE(item, nullptr) << text.toStdString();
        ASSERT_TRUE(item->isEnabled()) << text.toStdString();
        script->fileNames.push_back(QString::fromStdString(path));
        item->trigger();
        ASSERT_TRUE(WaitIdle());
    }

    /// CSV-Save of the whole record into `path`.
    void CsvSaveTo(const std::string& path) {
        script->fileNames.push_back(QString::fromStdString(path));
        dlg->OnCsvSave();
        ASSERT_TRUE(WaitIdle());
    }

    static QByteArray ContentOf(const std::string& path) {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    /// Rows `first` to `last` of the CSV text `text`, both included.
    static QByteArray Rows(const QByteArray& text, int first, int last) {
        const QList<QByteArray> rows = text.split('\n');
        QByteArray part;
        for (int i = first; i <= last && i < rows.size(); ++i) {
            part += rows[i] + '\n';
        }
        return part;
    }

};

// Two files of one recording at 1 kHz, 300 and 428 samples, one to a plot
// column: file 1 CH0 spikes to 9.5 V at sample 150, file 2 CH1 to 10.25 V at
// its sample 214 (514 of the record), all else 2, 4, 6 and 8 V.
TEST_F(ExportWindowTest, ACutOfAStampedSeriesKeepsWhenAndWhereItWasTaken) {
    std::vector<double> all[4];
    Open(WriteRecordingFiles(Prefix("night"), {300, 428}, {}, &all));
    ASSERT_TRUE(dlg->Series());
    ASSERT_EQ(dlg->RecordCount(), 728u);
    // B before A: the part is from B to A, both included, across the files' boundary.
    SetMarker("A", 350);
    SetMarker("B", 250);
    ASSERT_EQ(dlg->ExportPart(), (ViewRange{250, 101}));
    ExportTo(QStringLiteral("Save between markers\u2026"), Prefix("cut.dlf"));
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(script->filters.back(), "DLFファイル (*.dlf)");
    EXPECT_TRUE(dlg->m_btnSave->hasFocus());

    DataFileHeader header;
    ASSERT_EQ(ReadDataFileHeader(Prefix("cut.dlf"), header), FileError::None);
    EXPECT_EQ(header.sampleCount, 101u);
    EXPECT_EQ(header.clockDivider, 10);
    ASSERT_TRUE(header.stamp.has_value());
    EXPECT_EQ(header.stamp->startMicros, 1765000000250000);  // 05:46:40.250 UTC
    EXPECT_EQ(header.stamp->index, 1u);
    EXPECT_EQ(header.stamp->firstSample, 250u);
    EXPECT_EQ(IdentityText(header.stamp->identity), "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a");

    // vosctl info says when and where in the recording it was taken.
    const TempDir cli;
    const clitest::Result info = clitest::Run(cli, {"info", Prefix("cut.dlf")});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("recording       5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a, file 1, from sample 250\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("start           2025-12-06T05:46:40.250000Z\n"), std::string::npos) << info.out;

    // Opened again, the cut tells the time of day of its samples.
    Open({Prefix("cut.dlf")});
    ASSERT_FALSE(dlg->Series());
    ASSERT_EQ(dlg->RecordCount(), 101u);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(std::memcmp(dlg->m_channelData[ch], all[ch].data() + 250, 101 * sizeof(double)), 0) << ch;
    }
    SetMarker("A", 0);
    const QStringList readout = dlg->MeasurementReadout();
    ASSERT_FALSE(readout.isEmpty());
    EXPECT_EQ(readout[0].toStdString(), "Marker A: sample 0, 0 mS, UTC 2025-12-06 05:46:40.250");

    // A cut of the cut, shown alone, still counts from the recording's start.
    SetMarker("A", 73);
    SetMarker("B", 434);
    ASSERT_EQ(dlg->ExportPart(), (ViewRange{10, 51}));
    ExportTo(QStringLiteral("Save between markers\u2026"), Prefix("cut2.dlf"));
    EXPECT_TRUE(script->messages.empty());
    ASSERT_EQ(ReadDataFileHeader(Prefix("cut2.dlf"), header), FileError::None);
    EXPECT_EQ(header.sampleCount, 51u);
    ASSERT_TRUE(header.stamp.has_value());
    EXPECT_EQ(header.stamp->startMicros, 1765000000260000);  // 05:46:40.260 UTC
    EXPECT_EQ(header.stamp->firstSample, 260u);
}

TEST_F(ExportWindowTest, CsvOfAPartIsTheSameRowsOfTheWholeCsv) {
    struct Case {
        const char* name;
        bool series;
        int selection;
        const char* firstRow;  // row 250 of the record
    };
    const Case cases[] = {
        {"a series, all channels", true, CSV_ALL, "2.00000,4.00000,6.00000,8.00000\r\n"},
        {"a series, CH1", true, CSV_CH1, "4.00000\r\n"},
        {"one file in memory, all channels", false, CSV_ALL, "2.00000,4.00000,6.00000,8.00000\r\n"},
    };
    const auto paths = WriteRecordingFiles(Prefix("night"), {300, 428});
    const auto single = WriteRecordingFiles(Prefix("single"), {728});
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Open(test.series ? paths : single);
        ASSERT_EQ(dlg->RecordCount(), 728u);
        ASSERT_EQ(dlg->Series() != nullptr, test.series);
        dlg->m_comboCsvCh->setCurrentIndex(test.selection);
        CsvSaveTo(Prefix("whole.csv"));
        const QByteArray whole = ContentOf(Prefix("whole.csv"));
        ASSERT_EQ(whole.count('\n'), 728);

        // Without markers: the visible range, here the whole record.
        ExportTo(QStringLiteral("CSV-Save of the visible range\u2026"), Prefix("visible.csv"));
        EXPECT_EQ(ContentOf(Prefix("visible.csv")), whole);

        SetMarker("A", 250);
        SetMarker("B", 350);
        ExportTo(QStringLiteral("CSV-Save between markers\u2026"), Prefix("part.csv"));
        EXPECT_TRUE(script->messages.empty());
        EXPECT_EQ(script->filters.back(), "CSVファイル (*.csv)");
        EXPECT_TRUE(dlg->m_btnSave->hasFocus());
        const QByteArray part = ContentOf(Prefix("part.csv"));
        EXPECT_EQ(part.count('\n'), 101);
        EXPECT_TRUE(part.startsWith(test.firstRow));
        EXPECT_EQ(part, Rows(whole, 250, 350));
    }
}

TEST_F(ExportWindowTest, SaveIsOfferedForAPartOneDataFileHolds) {
    Open(WriteRecordingFiles(Prefix("night"), {1000000, 500}));
    ASSERT_EQ(dlg->RecordCount(), 1000500u);
    QAction* save = MenuItem(QStringLiteral("Save of the visible range\u2026"));
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());
    const QString why = "A data file holds at most 1,000,000 samples; this part has 1,000,500. CSV-Save exports it.";
    EXPECT_EQ(save->toolTip(), why);
    EXPECT_EQ(save->statusTip(), why);
    QAction* csv = MenuItem(QStringLiteral("CSV-Save of the visible range\u2026"));
    ASSERT_NE(csv, nullptr);
    EXPECT_TRUE(csv->isEnabled());

    SetMarker("A", 0);
    SetMarker("B", 1);
    ASSERT_LE(dlg->ExportPart().count, 1000000u);
    save = MenuItem(QStringLiteral("Save between markers\u2026"));
    ASSERT_NE(save, nullptr);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(save->statusTip(), "");
}

TEST_F(ExportWindowTest, SaveIsNotOfferedForAPartAcrossSamplesTheRecordingLost) {
    // File 2 follows 50 lost samples: it starts 50 ms later, at sample 350 of the recording.
    Open(WriteRecordingFiles(Prefix("night"), {300, 428}, [](int file, DataFileHeader& header) {
        if (file == 1) {
            header.stamp->firstSample = 350;
            header.stamp->startMicros = 1765000000350000;
        }
    }));
    ASSERT_EQ(dlg->RecordCount(), 728u);
    SetMarker("A", 250);
    SetMarker("B", 350);
    QAction* save = MenuItem(QStringLiteral("Save between markers\u2026"));
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_EQ(save->statusTip(),
              "The recording lost 50 samples inside this part, which one data file cannot tell. CSV-Save exports it.");
    EXPECT_TRUE(MenuItem(QStringLiteral("CSV-Save between markers\u2026"))->isEnabled());

    // Either side of the gap is one data file.
    for (const auto& [a, b] : {std::pair{10, 299}, std::pair{300, 727}}) {
        SetMarker("A", a);
        SetMarker("B", b);
        save = MenuItem(QStringLiteral("Save between markers\u2026"));
        ASSERT_NE(save, nullptr);
        EXPECT_TRUE(save->isEnabled()) << a;
    }
}

TEST_F(ExportWindowTest, AnInputFileOfTheRecordShownIsNeverWrittenOver) {
    const auto paths = WriteRecordingFiles(Prefix("night"), {300, 428});
    const QByteArray first = ContentOf(paths[0]);
    const QByteArray second = ContentOf(paths[1]);
    Open(paths);
    SetMarker("A", 250);
    SetMarker("B", 350);
    struct Case {
        const char* name;
        std::function<void()> run;
        const std::string& target;
    };
    const Case cases[] = {
        {"Save of a part over file 1", [&] { ExportTo(QStringLiteral("Save between markers\u2026"), paths[0]); },
         paths[0]},
        {"CSV-Save of a part over file 2",
         [&] { ExportTo(QStringLiteral("CSV-Save between markers\u2026"), paths[1]); }, paths[1]},
        {"CSV-Save of the whole series over file 1", [&] { CsvSaveTo(paths[0]); }, paths[0]},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        script->messages.clear();
        test.run();
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].toStdString(),
                  test.target + " holds the record shown and is kept as it is. Choose another name.");
        EXPECT_EQ(ContentOf(paths[0]), first);
        EXPECT_EQ(ContentOf(paths[1]), second);
        EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
        EXPECT_TRUE(dlg->m_btnSave->hasFocus());
    }
    // A CSV-Save is refused before its worker starts.
    script->messages.clear();
    script->fileNames.push_back(QString::fromStdString(paths[1]));
    dlg->OnCsvSave();
    EXPECT_EQ(script->messages.size(), 1u);
    EXPECT_FALSE(dlg->WorkersRunning());
    script->messages.clear();

    // A part of a file shown alone would cut it: refused; the whole record may be saved over it.
    Open({paths[1]});
    SetMarker("A", 10);
    SetMarker("B", 20);
    script->messages.clear();
    ExportTo(QStringLiteral("Save between markers\u2026"), paths[1]);
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(ContentOf(paths[1]), second);
    script->messages.clear();
    script->fileNames.push_back(QString::fromStdString(paths[1]));
    dlg->OnSave();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(ContentOf(paths[1]).size(), 256 + 32 * 428);
}

}  // namespace
