// The main window under the offscreen platform: controls, defaults, the
// enabling rule, keys, the driver probe and the repair of bad input.
#include <QAction>
#include <QFontDatabase>
#include <QFontInfo>
#include <QCheckBox>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>

#include <clocale>
#include <string>
#include <utility>
#include <vector>

#include "app/aboutdlg.h"
#include "app/dialog_template.h"
#include "window_fixture.h"

namespace {

struct Enabled {
    bool search, serial, clock, count, start, stop, trigger, trigCh, trigType, threshold, open, save, csvCh, csvSave,
        display, close;
};

Enabled Snapshot(const CtestDlg& dlg) {
    return {dlg.m_btnSearch->isEnabled(),     dlg.m_comboSerial->isEnabled(),   dlg.m_comboClock->isEnabled(),
            dlg.m_editCount->isEnabled(),     dlg.m_btnStart->isEnabled(),      dlg.m_btnStop->isEnabled(),
            dlg.m_checkTrigger->isEnabled(),  dlg.m_comboTrigCh->isEnabled(),   dlg.m_comboTrigType->isEnabled(),
            dlg.m_editThreshold->isEnabled(), dlg.m_btnOpen->isEnabled(),       dlg.m_btnSave->isEnabled(),
            dlg.m_comboCsvCh->isEnabled(),    dlg.m_btnCsvSave->isEnabled(),    dlg.m_btnDisplayChange->isEnabled(),
            dlg.CloseEnabled()};
}

std::string Describe(const Enabled& e) {
    std::string s;
    for (bool b : {e.search, e.serial, e.clock, e.count, e.start, e.stop, e.trigger, e.trigCh, e.trigType, e.threshold,
                   e.open, e.save, e.csvCh, e.csvSave, e.display, e.close}) {
        s += b ? '1' : '0';
    }
    return s;
}

}  // namespace

TEST_F(WindowTest, DefaultsRightAfterStart) {
    MakeWindow(InstantConfig());
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3");
    EXPECT_EQ(dlg->m_comboClock->currentText(), "10kHz");
    EXPECT_EQ(dlg->m_editCount->text(), "10000");
    EXPECT_EQ(dlg->m_editTotalTime->text(), "1 S");
    EXPECT_FALSE(dlg->m_checkTrigger->isChecked());
    EXPECT_EQ(dlg->m_comboTrigCh->currentText(), "CH0");
    EXPECT_EQ(dlg->m_comboTrigType->currentText(), "Level-H");
    EXPECT_EQ(dlg->m_editThreshold->text(), "0.00000");
    EXPECT_EQ(dlg->m_comboCsvCh->currentText(), "ALL");
    EXPECT_EQ(dlg->m_comboSerial->currentIndex(), -1);
    EXPECT_TRUE(dlg->m_progress->isHidden());
    for (QLabel* status : dlg->m_status) {
        EXPECT_TRUE(status->text().isEmpty());
    }
    EXPECT_EQ(dlg->m_clockDivider, 1);
    EXPECT_EQ(dlg->m_sampleCount, 10000);
    EXPECT_EQ(dlg->m_triggerType, 0xFF);
    EXPECT_FALSE(dlg->m_dataValid);
    EXPECT_EQ(dlg->m_appTitle, "VOS Viewer");
    EXPECT_EQ(dlg->m_initMarker, "abcdefghijklmn");
    // Idle without data: trigger controls, Save, CSV-Save and Stop are greyed.
    EXPECT_EQ(Describe(Snapshot(*dlg)), "1111101000101011");
    EXPECT_TRUE(script->messages.empty());
}

TEST_F(WindowTest, GeometryFollowsTheTemplate) {
    MakeWindow(InstantConfig());
    EXPECT_EQ(dlg->size(), QSize(1007, 648));
    EXPECT_EQ(dlg->m_paneFrame[0]->geometry(), QRect(153, 27, 729, 135));
    EXPECT_EQ(dlg->m_btnSearch->geometry(), QRect(18, 45, 81, 27));
    EXPECT_EQ(dlg->m_btnDisplayChange->text(), "Display Change");
    EXPECT_EQ(dlg->m_checkTrigger->text(), "Trigger  ");
    // Every control of the template exists under its member name with its id.
    for (const ControlTemplate& control : MainWindowTemplate()) {
        if (control.kind == ControlKind::Label) {
            continue;
        }
        QWidget* widget = dlg->findChild<QWidget*>(QString::fromUtf8(control.member));
        ASSERT_NE(widget, nullptr) << control.member;
        EXPECT_EQ(widget->property("controlId").toInt(), control.id);
    }
    const QStringList clocks = {"10kHz", "5kHz", "2kHz", "1kHz", "500Hz", "200Hz", "100Hz",
                                "50Hz",  "20Hz", "10Hz", "5Hz",  "2Hz",   "1Hz"};
    ASSERT_EQ(dlg->m_comboClock->count(), clocks.size());
    for (int i = 0; i < clocks.size(); ++i) {
        EXPECT_EQ(dlg->m_comboClock->itemText(i), clocks[i]);
    }
    EXPECT_EQ(dlg->m_comboTrigType->itemText(3), "Slope-Falling");
    EXPECT_EQ(dlg->m_comboCsvCh->count(), 5);
}

TEST_F(WindowTest, TabOrderFollowsTheTemplate) {
    MakeWindow(InstantConfig());
    dlg->EnableControls(true);
    dlg->m_checkTrigger->setChecked(true);
    dlg->OnTriggerCheck();
    dlg->m_dataValid = true;
    dlg->EnableControls(true);
    QWidget* widget = dlg->m_btnSearch;
    QStringList seen;
    for (int i = 0; i < 16; ++i) {
        seen << widget->objectName();
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || widget->objectName().isEmpty()) {
            widget = widget->nextInFocusChain();
        }
    }
    const QStringList expected = {"m_btnSearch",    "m_comboSerial",   "m_comboClock",      "m_editCount",
                                  "m_btnStart",     "m_btnStop",       "m_checkTrigger",    "m_comboTrigCh",
                                  "m_comboTrigType", "m_editThreshold", "m_btnSave",        "m_editTotalTime",
                                  "m_btnOpen",      "m_btnCsvSave",    "m_comboCsvCh",      "m_btnDisplayChange"};
    EXPECT_EQ(seen, expected);
}

TEST_F(WindowTest, EnableControlsInEveryState) {
    struct Case {
        const char* name;
        bool enable, running, trigger, dataValid;
        const char* expected;  // search serial clock count start stop trig trigCh trigType threshold open save
                               // csvCh csvSave display close
    };
    const Case cases[] = {
        {"idle, no data", true, false, false, false, "1111101000101011"},
        {"idle, trigger set", true, false, true, false, "1111101111101011"},
        {"idle, data", true, false, false, true, "1111101000111111"},
        {"busy", false, false, true, true, "0000000000000000"},
        {"acquiring", false, true, true, true, "0000010000000000"},
    };
    MakeWindow(InstantConfig());
    for (const Case& c : cases) {
        dlg->m_checkTrigger->setChecked(c.trigger);
        dlg->m_running = c.running;
        dlg->m_dataValid = c.dataValid;
        dlg->EnableControls(c.enable);
        EXPECT_EQ(Describe(Snapshot(*dlg)), c.expected) << c.name;
    }
    dlg->m_running = false;
    dlg->EnableControls(true);
}

TEST_F(WindowTest, MissingDriverLeavesOnlyClose) {
    MakeWindow(InstantConfig(), false);
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "VOS-12/VOS-16がインストールできていません");
    EXPECT_EQ(script->icons[0], UiPrompts::Icon::Stop);
    EXPECT_EQ(Describe(Snapshot(*dlg)), "0000000000000001");
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WindowTest, EnterNeverEndsTheWindowNorStarts) {
    MakeWindow(InstantConfig());
    for (QWidget* target : std::initializer_list<QWidget*>{dlg->m_editCount, dlg->m_editThreshold, dlg->m_btnStart}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->m_running.load());
    EXPECT_FALSE(dlg->WorkersRunning());
}

TEST_F(WindowTest, EscapeEndsOnlyAnIdleWindow) {
    MakeWindow(InstantConfig());
    dlg->EnableControls(false);  // busy
    QTest::keyClick(dlg->m_editCount, Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
    dlg->close();
    EXPECT_TRUE(dlg->isVisible());
    dlg->EnableControls(true);
    QTest::keyClick(dlg->m_editCount, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WindowTest, SampleCountTextDrivesTotalTime) {
    struct Case {
        const char* text;
        int clockIndex;
        const char* totalTime;
    };
    const Case cases[] = {
        {"0", 0, ""},           {"", 0, ""},          {"1000001", 0, ""},     {"0010", 0, "1 mS"},
        {"7", 0, "700 uS"},     {"3", 2, "1.5 mS"},   {"12345", 0, "1.2345 S"}, {"1000000", 12, "1000000 S"},
        {"4294967296", 0, ""},
    };
    MakeWindow(InstantConfig());
    for (const Case& c : cases) {
        dlg->m_comboClock->setCurrentIndex(c.clockIndex);
        dlg->m_editCount->setText(QString::fromUtf8(c.text));
        EXPECT_EQ(dlg->m_editTotalTime->text(), QString::fromUtf8(c.totalTime)) << c.text;
    }
    // A clock change while the count is invalid leaves Total Time empty.
    dlg->m_editCount->setText("0");
    dlg->OnClockChange();
    EXPECT_TRUE(dlg->m_editTotalTime->text().isEmpty());
}

TEST_F(WindowTest, BadSampleCountIsRepairedWithTheCommittedValue) {
    MakeWindow(InstantConfig());
    for (const char* text : {"0", "", "1000001", "99999999999"}) {
        dlg->m_editCount->setText(QString::fromUtf8(text));
        EXPECT_EQ(dlg->ReadSampleCount(), 10000u) << text;
        EXPECT_EQ(dlg->m_editCount->text(), "10000");
        EXPECT_EQ(dlg->m_editTotalTime->text(), "1 S");
    }
    dlg->m_editCount->setText("0010");
    EXPECT_EQ(dlg->ReadSampleCount(), 10u);
    EXPECT_EQ(dlg->m_editCount->text(), "0010");
}

TEST_F(WindowTest, TypedSampleCountAcceptsDigitsOnly) {
    MakeWindow(InstantConfig());
    dlg->m_editCount->clear();
    QTest::keyClicks(dlg->m_editCount, "1a2-3.4");
    EXPECT_EQ(dlg->m_editCount->text(), "1234");
    dlg->m_editCount->setText("999999");
    QTest::keyClick(dlg->m_editCount, Qt::Key_Up);
    QTest::keyClick(dlg->m_editCount, Qt::Key_Up);
    EXPECT_EQ(dlg->m_editCount->text(), "1000000");
}

TEST_F(WindowTest, BadThresholdIsRepairedWithTheCommittedValue) {
    struct Case {
        const char* text;
        double value;
        bool rewritten;
    };
    const Case cases[] = {
        {".5", 0.5, false}, {"5.", 5.0, false},  {"-.5", -0.5, false}, {"1e-3", 0.001, false}, {"2D1", 20.0, false},
        {"+1", 0.0, true},  {"1,5", 0.0, true},  {"abc", 0.0, true},   {"--1", 0.0, true},     {"1e400", 0.0, true},
        {"", 0.0, true},
    };
    MakeWindow(InstantConfig());
    for (const Case& c : cases) {
        dlg->m_editThreshold->setText(QString::fromUtf8(c.text));
        EXPECT_DOUBLE_EQ(dlg->ReadThreshold(), c.value) << c.text;
        EXPECT_EQ(dlg->m_editThreshold->text(), c.rewritten ? QString("0.00000") : QString::fromUtf8(c.text));
    }
}

TEST_F(WindowTest, TriggerCheckBoxDecidesTheTriggerType) {
    MakeWindow(InstantConfig());
    dlg->m_comboTrigType->setCurrentIndex(2);
    EXPECT_EQ(dlg->ReadTriggerType(), 0xFF);
    QTest::mouseClick(dlg->m_checkTrigger, Qt::LeftButton, {}, QPoint(5, dlg->m_checkTrigger->height() / 2));
    ASSERT_TRUE(dlg->m_checkTrigger->isChecked());
    EXPECT_TRUE(dlg->m_comboTrigCh->isEnabled());
    EXPECT_TRUE(dlg->m_comboTrigType->isEnabled());
    EXPECT_TRUE(dlg->m_editThreshold->isEnabled());
    EXPECT_EQ(dlg->ReadTriggerType(), 2);
}

TEST_F(WindowTest, StopOnlyRaisesTheFlag) {
    MakeWindow(InstantConfig());
    dlg->OnStop();
    dlg->OnStop();
    EXPECT_EQ(dlg->m_stopRequest.load(), 1);
    EXPECT_FALSE(dlg->m_running.load());
}

TEST_F(WindowTest, SystemMenuEndsWithAboutAndAboutBoxShowsTheVersion) {
    MakeWindow(InstantConfig());
    const QList<QAction*> actions = dlg->SystemMenu()->actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), "バージョン情報(&A)...");

    CAboutDlg about(dlg.get());
    EXPECT_EQ(about.windowTitle(), "バージョン情報");
    EXPECT_EQ(about.findChild<QLabel*>("version")->text(), "VOS Viewer Version 3.3");
    EXPECT_EQ(about.findChild<QPushButton*>("ok")->text(), "OK");
    EXPECT_EQ(about.size(), QSize(353, 83));
}

TEST_F(WindowTest, CloseItemIsGreyedExactlyWhileBusy) {
    MakeWindow(InstantConfig());
    QAction* close = nullptr;
    for (QAction* action : dlg->SystemMenu()->actions()) {
        if (action->text() == "Close") {
            close = action;
        }
    }
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->isEnabled());
    dlg->EnableControls(false);
    EXPECT_FALSE(close->isEnabled());
    dlg->EnableControls(true);
    EXPECT_TRUE(close->isEnabled());
}

TEST_F(WindowTest, SearchFillsTheSerialList) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> devices;  // description, serial
        QStringList listed;
        int selected;
        const char* message;
    };
    const Case cases[] = {
        {"none", {}, {}, -1, nullptr},
        {"two", {{"VOS-XX", "16001"}, {"VOS-XX", "12001"}}, {"16001", "12001"}, 1, nullptr},
        {"foreign only", {{"FT232R_USB_UART", "777"}}, {}, -1, nullptr},
        {"leading zeros", {{"VOS-XX", "00123"}}, {"123"}, 0, nullptr},
        {"no digits", {{"VOS-XX", "5"}, {"VOS-XX", "ABC"}}, {"5"}, -1, "デバイスが見つかりません"},
        {"beyond 32 bits", {{"VOS-XX", "99999999999"}}, {}, -1, "デバイスが見つかりません"},
    };
    MakeWindow(InstantConfig());
    for (const Case& c : cases) {
        vossim::SimConfig config;
        for (const auto& [description, serial] : c.devices) {
            vossim::SimDevice device = vossim::MakeLogger(serial, 2);
            device.description = description;
            config.devices.push_back(device);
        }
        vossim::Install(config);
        script->messages.clear();
        dlg->OnSearch();
        QStringList listed;
        for (int i = 0; i < dlg->m_comboSerial->count(); ++i) {
            listed << dlg->m_comboSerial->itemText(i);
        }
        EXPECT_EQ(listed, c.listed) << c.name;
        EXPECT_EQ(dlg->m_comboSerial->currentIndex(), c.selected) << c.name;
        if (c.message == nullptr) {
            EXPECT_TRUE(script->messages.empty()) << c.name;
        } else {
            ASSERT_EQ(script->messages.size(), 1u) << c.name;
            EXPECT_EQ(script->messages[0], QString::fromUtf8(c.message)) << c.name;
        }
        EXPECT_TRUE(dlg->m_btnSearch->hasFocus()) << c.name;
        EXPECT_TRUE(dlg->m_btnStart->isEnabled()) << c.name;
    }
}

TEST_F(WindowTest, NumbersIgnoreACommaDecimalLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    }
    MakeWindow(InstantConfig());
    dlg->m_editThreshold->setText("2.5");
    EXPECT_EQ(dlg->ReadThreshold(), 2.5);
    dlg->ShowThreshold(-1.25);
    EXPECT_EQ(dlg->m_editThreshold->text(), "-1.25000");
    dlg->m_editThreshold->setText("2,5");
    EXPECT_EQ(dlg->ReadThreshold(), 0.0);
    dlg->m_editCount->setText("3");
    dlg->m_comboClock->setCurrentIndex(2);
    dlg->OnClockChange();
    EXPECT_EQ(dlg->m_editTotalTime->text(), "1.5 mS");
    std::setlocale(LC_ALL, previous.c_str());
}

TEST_F(WindowTest, JapaneseTextsHaveAGothicFont) {
    MakeWindow(InstantConfig());
    const QStringList families = {QFontInfo(dlg->font()).family(), QFontInfo(dlg->View().FontA()).family(),
                                  QFontInfo(dlg->View().FontB()).family()};
    for (const QString& family : families) {
        EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese)) << family.toStdString();
    }
}

// The wait cursor of a busy operation belongs to the main window; the file
// dialog and the message box it opens keep the arrow.
TEST_F(WindowTest, TheWaitCursorStaysOnTheMainWindow) {
    MakeWindow(InstantConfig());
    struct Seen {
        bool overridden;
        Qt::CursorShape window;
        Qt::CursorShape box;
    };
    std::vector<Seen> seen;
    const auto look = [&] {
        QMessageBox box(QMessageBox::NoIcon, "VOS Viewer", "text", QMessageBox::Ok, dlg.get());
        seen.push_back({QGuiApplication::overrideCursor() != nullptr, dlg->cursor().shape(), box.cursor().shape()});
    };
    script->onFileDialog = look;
    script->onMessage = look;
    script->fileNames.push_back("/nonexistent/folder/record.dlf");
    dlg->OnOpen();  // a file dialog, then the open error
    ASSERT_EQ(script->messages.size(), 1u);
    ASSERT_EQ(seen.size(), 2u);
    for (const Seen& s : seen) {
        EXPECT_FALSE(s.overridden);
        EXPECT_EQ(s.window, Qt::WaitCursor);
        EXPECT_EQ(s.box, Qt::ArrowCursor);
    }
    EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
