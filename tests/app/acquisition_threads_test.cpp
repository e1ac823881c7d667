// Whole acquisitions through the real window, its worker threads and the
// in-process simulated logger.
#include <QCheckBox>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <limits>

#include "settings/caption.h"
#include "files/dlf.h"
#include "window_fixture.h"

namespace {

class AcquisitionTest : public WindowTest {
protected:
    void Search() {
        dlg->OnSearch();
        ASSERT_TRUE(script->messages.empty());
    }

    void SetCount(int count) { dlg->m_editCount->setText(QString::number(count)); }

    void SetTrigger(int channel, int type, const char* threshold) {
        dlg->m_checkTrigger->setChecked(true);
        dlg->OnTriggerCheck();
        dlg->m_comboTrigCh->setCurrentIndex(channel);
        dlg->m_comboTrigType->setCurrentIndex(type);
        dlg->m_editThreshold->setText(threshold);
    }

    void StartAndWait() {
        dlg->OnStart();
        ASSERT_TRUE(WaitIdle());
    }

    void ExpectSummaryMatchesRecord() {
        for (int ch = 0; ch < 4; ++ch) {
            double high = 0;
            double low = 0;
            ASSERT_TRUE(ComputeStatistics(dlg->m_channelData[ch], dlg->m_sampleCount, high, low));
            EXPECT_EQ(dlg->m_status[2 * ch]->text().toStdString(), SummaryText(high));
            EXPECT_EQ(dlg->m_status[2 * ch + 1]->text().toStdString(), SummaryText(low));
        }
    }

    void ExpectEmptyPanes() {
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(TracePixels(ch, ch), 0) << "channel " << ch;
        }
    }

    /// Opens a data file of `count` samples of 1.5 V with these trigger settings.
    void OpenRecord(std::int32_t triggerChannel, std::int32_t triggerType, double threshold) {
        ASSERT_TRUE(dir.isValid());
        const std::vector<double> volts(100, 1.5);
        const double* channels[4] = {volts.data(), volts.data(), volts.data(), volts.data()};
        DataFileHeader header;
        header.sampleCount = 100;
        header.triggerChannel = triggerChannel;
        header.triggerType = triggerType;
        header.threshold = threshold;
        const std::string path = dir.filePath("record.dlf").toStdString();
        ASSERT_EQ(::SaveDataFile(path, header, channels), FileError::None);
        script->fileNames.push_back(QString::fromStdString(path));
        dlg->OnOpen();
        ASSERT_TRUE(script->messages.empty());
        ASSERT_TRUE(dlg->m_dataValid);
    }

    /// What a refused Start must leave exactly as it was.
    struct Shown {
        QString caption;
        std::vector<QString> summary;
        bool dataValid, saveEnabled, csvSaveEnabled;
        std::int32_t sampleCount, divider;
        std::uint8_t triggerChannel, triggerType;
        QImage canvas;
        std::vector<double> ch3;
        bool operator==(const Shown&) const = default;
    };
    Shown Capture() {
        std::vector<QString> summary;
        for (QLabel* status : dlg->m_status) {
            summary.push_back(status->text());
        }
        return {dlg->windowTitle(), summary, dlg->m_dataValid, dlg->m_btnSave->isEnabled(),
                dlg->m_btnCsvSave->isEnabled(), dlg->m_sampleCount, dlg->m_clockDivider, dlg->m_triggerChannel,
                dlg->m_triggerType, dlg->View().Snapshot(),
                std::vector<double>(dlg->m_channelData[3], dlg->m_channelData[3] + dlg->m_sampleCount)};
    }

    /// The colour of the state lamp's face on the canvas.
    QRgb LampColour() {
        const Rect& lamp = dlg->View().Geometry().groupRect[4];
        return dlg->View().Snapshot().pixel(lamp.left + 3, lamp.top + 3) & 0xFFFFFF;
    }

    QTemporaryDir dir;
};

// A 16-bit logger's 54-byte calibration block, byte for byte: resolution code
// 2 at offset 18; V1 = 1.0 and V2 = 9.0 as little-endian doubles at 20 and
// 28; C1 = 8000, 4000, 12000, 0 at 36; C2 = 40000, 36000, 44000, 32000 at 44.
// Each channel's gain is (9 - 1) / 32000 = 0.00025 V per code, its offset
// -1 V, 0 V, -2 V and +1 V: volts = code / 4000 - 1, code / 4000,
// code / 4000 - 2 and code / 4000 + 1.
constexpr std::array<std::uint8_t, 54> LITERAL_CALIBRATION = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22, 0x40, 0x40, 0x1F, 0xA0, 0x0F, 0xE0, 0x2E,
    0x00, 0x00, 0x40, 0x9C, 0xA0, 0x8C, 0xE0, 0xAB, 0x00, 0x7D, 0x00, 0x00,
};

// A logger with that calibration streaming `frames` (raw bytes as they
// arrive, each byte bit-reversed), then repeating the last one.
vossim::SimConfig ScriptedLogger(std::vector<vossim::Frame> frames, vossim::Pace pace) {
    vossim::SimConfig config;
    config.pace = pace;
    vossim::SimDevice device = vossim::MakeLogger("30001", 2);
    device.calibration = LITERAL_CALIBRATION;
    device.script = std::move(frames);
    device.scriptStalls = false;
    config.devices.push_back(device);
    return config;
}

TEST_F(AcquisitionTest, FullRunWithoutTrigger) {
    MakeWindow(InstantConfig());
    Search();
    ASSERT_EQ(dlg->m_comboSerial->count(), 2);
    EXPECT_EQ(dlg->m_comboSerial->itemText(0), "16001");
    EXPECT_EQ(dlg->m_comboSerial->currentText(), "12001");
    SetCount(5000);
    dlg->m_comboClock->setCurrentIndex(1);
    StartAndWait();

    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 [ Sampling: 5kHz, 5000  Trigger: None ]");
    EXPECT_EQ(dlg->m_sampleCount, 5000);
    EXPECT_EQ(dlg->m_clockDivider, 2);
    EXPECT_EQ(dlg->m_acquiredCount.load(), 5000u);
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_FALSE(dlg->m_btnStop->isEnabled());
    EXPECT_TRUE(dlg->m_btnStart->isEnabled());
    EXPECT_TRUE(dlg->CloseEnabled());
    EXPECT_TRUE(dlg->m_btnStart->hasFocus());
    ExpectSummaryMatchesRecord();
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_GT(TracePixels(ch, ch), 700) << "channel " << ch;
    }

    // Display Change draws the same record in one overlay pane, and back.
    const QImage fourPanes = dlg->View().Snapshot();
    dlg->OnDisplayChange();
    EXPECT_TRUE(dlg->m_btnDisplayChange->hasFocus());
    EXPECT_FALSE(dlg->View().Snapshot() == fourPanes);
    EXPECT_GT(TracePixels(3, 0), 700);
    dlg->OnDisplayChange();
    EXPECT_TRUE(dlg->View().Snapshot() == fourPanes);
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 [ Sampling: 5kHz, 5000  Trigger: None ]");
    EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    // The run used the selected logger (12001, the second device).
    EXPECT_GE(vossim::Stats(1).opens, 1u);
    EXPECT_EQ(vossim::Stats(0).opens, 0u);
}

TEST_F(AcquisitionTest, TriggeredRunFires) {
    MakeWindow(InstantConfig());
    SetCount(2000);
    SetTrigger(1, 2, "5");  // CH1, Slope-Rising, 5 V
    StartAndWait();

    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 [ Sampling: 10kHz, 2000  Trigger: CH1, Slope-Rising, 5.00000V ]");
    EXPECT_EQ(dlg->m_sampleCount, 2000);
    EXPECT_EQ(dlg->m_triggerType, 2);
    EXPECT_TRUE(dlg->m_dataValid);
    // The record begins just after CH1 crossed 5 V upwards.
    EXPECT_GT(dlg->m_channelData[1][0], 5.0);
    EXPECT_LT(dlg->m_channelData[1][0], 6.0);
    ExpectSummaryMatchesRecord();
}

TEST_F(AcquisitionTest, StopWhileWaitingLeavesNothing) {
    MakeWindow(InstantConfig());
    SetTrigger(0, 0, "20");  // Level-H above every input: never fires
    dlg->OnStart();
    ASSERT_TRUE(PumpUntil([&] { return vossim::Stats(0).framesSent > 1000; }));
    EXPECT_TRUE(dlg->m_btnStop->isEnabled());
    EXPECT_FALSE(dlg->m_btnStart->isEnabled());
    EXPECT_FALSE(dlg->CloseEnabled());
    dlg->OnStop();
    ASSERT_TRUE(WaitIdle());

    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->m_sampleCount, 0);
    EXPECT_FALSE(dlg->m_dataValid);
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_FALSE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3");
    for (QLabel* status : dlg->m_status) {
        EXPECT_TRUE(status->text().isEmpty());
    }
    ExpectEmptyPanes();
    EXPECT_EQ(vossim::OpenHandleCount(), 0u);

    // The next Start repairs a bad count text with a usable count, not with 0.
    dlg->m_checkTrigger->setChecked(false);
    dlg->OnTriggerCheck();
    dlg->m_editCount->setText("");
    StartAndWait();
    EXPECT_EQ(dlg->m_editCount->text(), "10000");
    EXPECT_EQ(dlg->m_sampleCount, 10000);
    EXPECT_TRUE(dlg->m_dataValid);
}

TEST_F(AcquisitionTest, StopPartWayKeepsTheStoredSamples) {
    vossim::SimConfig config = vossim::DefaultConfig();
    config.pace = vossim::Pace::Realtime;
    MakeWindow(config);
    SetCount(100000);
    dlg->OnStart();
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_acquiredCount.load() >= 500; }));
    dlg->OnStop();
    ASSERT_TRUE(WaitIdle());

    EXPECT_TRUE(script->messages.empty());
    const auto stored = static_cast<std::int32_t>(dlg->m_acquiredCount.load());
    EXPECT_GE(stored, 500);
    EXPECT_LT(stored, 100000);
    EXPECT_EQ(dlg->m_sampleCount, stored);
    EXPECT_EQ(dlg->m_editCount->text(), "100000");
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_EQ(dlg->windowTitle(),
              QString("VOS Viewer v3.3 [ Sampling: 10kHz, %1  Trigger: None ]").arg(stored));
    ExpectSummaryMatchesRecord();
    EXPECT_EQ(vossim::OverrunCount(1), 0u);
}

TEST_F(AcquisitionTest, OpenFailureKeepsThePreviousRecord) {
    MakeWindow(InstantConfig());
    Search();
    SetCount(300);
    StartAndWait();
    ASSERT_TRUE(dlg->m_dataValid);
    const QString caption = dlg->windowTitle();
    const QString summary = dlg->m_status[0]->text();
    const int pixels = TracePixels(0);

    vossim::Install(vossim::SimConfig{});  // every logger unplugged
    SetCount(700);
    StartAndWait();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "デバイスが見つかりません");
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_EQ(dlg->m_sampleCount, 300);
    EXPECT_EQ(dlg->windowTitle(), caption);
    EXPECT_EQ(dlg->m_status[0]->text(), summary);
    EXPECT_EQ(TracePixels(0), pixels);
    EXPECT_TRUE(dlg->m_btnSave->isEnabled());
}

TEST_F(AcquisitionTest, ShortCalibrationBlockIsRefused) {
    vossim::SimConfig config = InstantConfig();
    config.devices[0].eepromCount = 53;
    config.devices.resize(1);
    MakeWindow(config);
    StartAndWait();  // no selection: the first logger by description
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "その他のエラーが発生しました");
    EXPECT_EQ(dlg->m_sampleCount, 10000);
    EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    EXPECT_EQ(vossim::Stats(0).streaming, false);
}

TEST_F(AcquisitionTest, CommunicationFailureMidTransfer) {
    vossim::SimConfig config = InstantConfig();
    config.devices[1].stallAfter = 800;
    MakeWindow(config);
    Search();
    SetCount(2000);
    bool liveViewEndedAtMessage = false;
    bool stopEnabledAtMessage = false;
    script->onMessage = [&] {
        liveViewEndedAtMessage = dlg->m_liveViewEnded.load();
        stopEnabledAtMessage = dlg->m_btnStop->isEnabled();
    };
    StartAndWait();

    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "通信エラーが発生しました");
    EXPECT_TRUE(liveViewEndedAtMessage);
    EXPECT_TRUE(stopEnabledAtMessage);
    EXPECT_FALSE(dlg->m_dataValid);
    EXPECT_FALSE(dlg->m_btnSave->isEnabled());
    EXPECT_EQ(dlg->m_sampleCount, 2000);
    EXPECT_GT(dlg->m_acquiredCount.load(), 0u);
    EXPECT_LT(dlg->m_acquiredCount.load(), 2000u);
    ExpectEmptyPanes();
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3");
    EXPECT_EQ(vossim::OpenHandleCount(), 0u);
}

TEST_F(AcquisitionTest, TwoRunsInARow) {
    MakeWindow(InstantConfig());
    SetCount(100);
    StartAndWait();
    ASSERT_TRUE(dlg->m_dataValid);
    dlg->m_comboClock->setCurrentIndex(3);
    SetCount(50);
    StartAndWait();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->m_sampleCount, 50);
    EXPECT_EQ(dlg->m_clockDivider, 10);
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 [ Sampling: 1kHz, 50  Trigger: None ]");
    ExpectSummaryMatchesRecord();
}

TEST_F(AcquisitionTest, ClosingOrEscapeDuringARunIsRefused) {
    vossim::SimConfig config = vossim::DefaultConfig();
    MakeWindow(config);  // realtime pace
    SetCount(100000);
    dlg->OnStart();
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_acquiredCount.load() > 10; }));
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->close());
    EXPECT_TRUE(dlg->isVisible());
    // A move during the run is taken back.
    const QPoint held = dlg->pos();
    dlg->move(held + QPoint(40, 30));
    EXPECT_TRUE(PumpUntil([&] { return dlg->pos() == held; }));
    dlg->OnStop();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(dlg->m_hDevice, nullptr);
    dlg->move(held + QPoint(40, 30));
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->pos(), held + QPoint(40, 30));
    EXPECT_TRUE(dlg->close());
}


// Every channel's codes, as frames: the two leading frames and the frame the
// trigger test consumes hold 65535 everywhere (15.38375 V and more), which
// must never reach the record. Then five frames; in volts (CH0, CH1, CH2, CH3):
//   2.5 1.25 5.0 1.5 / 7.25 1.0 5.00025 2.5 / 0.5 8.125 4.99975 10.5 /
//   9.75 4.0 6.0 1.25 / 3.0 0.25 5.5 2.0 (repeated from then on).
const std::vector<vossim::Frame> FIVE_FRAMES = {
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0x6C, 0x0D, 0xC8, 0x11, 0xB6, 0x06, 0xE0, 0x0B},  // codes 14000 5000 28000 2000
    {0x01, 0x17, 0xF0, 0x05, 0xB6, 0x86, 0xE8, 0x0E},  // codes 33000 4000 28001 6000
    {0xE8, 0x0E, 0x7E, 0x2F, 0xB6, 0xFA, 0x29, 0x0E},  // codes 6000 32500 27999 38000
    {0xE5, 0x1F, 0x7C, 0x01, 0xBE, 0x00, 0xC0, 0x17},  // codes 43000 16000 32000 1000
    {0x7C, 0x01, 0xC0, 0x17, 0xAE, 0x0C, 0xF0, 0x05},  // codes 16000 1000 30000 4000
};

TEST_F(AcquisitionTest, SummaryAndCaptionShowTheLiteralValues) {
    struct Case {
        const char* name;
        int count;
        int triggerChannel, triggerType;  // type -1: no trigger
        const char* threshold;
        const char* caption;
        const char* summary[8];
    };
    const Case cases[] = {
        {"all five frames, no trigger", 5, 0, -1, "0",
         "VOS Viewer v3.3 [ Sampling: 10kHz, 5  Trigger: None ]",
         {"9.75000 V", "0.50000 V", "8.12500 V", "0.25000 V", "6.00000 V", "4.99975 V", "10.50000 V", "1.25000 V"}},
        // CH3 first drops below 1.3 V on the fourth frame, which the test
        // consumes; the fifth frame and its repetition are stored.
        {"after a Level-L trigger", 2, 3, 1, "1.3",
         "VOS Viewer v3.3 [ Sampling: 10kHz, 2  Trigger: CH3, Level-L, 1.30000V ]",
         {"3.00000 V", "3.00000 V", "0.25000 V", "0.25000 V", "5.50000 V", "5.50000 V", "2.00000 V", "2.00000 V"}},
    };
    for (const Case& c : cases) {
        MakeWindow(ScriptedLogger(FIVE_FRAMES, vossim::Pace::Instant));
        SetCount(c.count);
        if (c.triggerType >= 0) {
            SetTrigger(c.triggerChannel, c.triggerType, c.threshold);
        }
        StartAndWait();
        EXPECT_TRUE(script->messages.empty()) << c.name;
        EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8(c.caption)) << c.name;
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(dlg->m_status[i]->text(), QString::fromUtf8(c.summary[i])) << c.name << ", field " << i;
        }
        dlg.reset();
    }
}

TEST_F(AcquisitionTest, TheLampFollowsTheRun) {
    const QRgb standBy = qRgb(0, 191, 255) & 0xFFFFFF;
    const QRgb acquisition = qRgb(255, 69, 0) & 0xFFFFFF;
    const QRgb waiting = qRgb(255, 255, 0) & 0xFFFFFF;
    // One second of 1.0 V on CH1, then 8.0 V: a Level-H trigger at 5 V waits
    // that long at the logger's 10 kHz before the samples flow.
    std::vector<vossim::Frame> frames(10000, {0x00, 0x00, 0xF0, 0x05, 0x00, 0x00, 0x00, 0x00});  // CH1 code 4000
    frames.push_back({0x00, 0x00, 0xBE, 0x00, 0x00, 0x00, 0x00, 0x00});                          // CH1 code 32000
    struct Case {
        const char* name;
        bool triggered;
        std::vector<QRgb> colours;
    };
    const Case cases[] = {
        {"untriggered", false, {standBy, acquisition, standBy}},
        {"triggered", true, {standBy, waiting, acquisition, standBy}},
    };
    for (const Case& c : cases) {
        MakeWindow(ScriptedLogger(frames, vossim::Pace::Realtime));
        SetCount(10000);
        if (c.triggered) {
            SetTrigger(1, 0, "5");
        }
        std::vector<QRgb> seen = {LampColour()};
        dlg->OnStart();
        QElapsedTimer timer;
        timer.start();
        while ((dlg->WorkersRunning() || dlg->m_running.load()) && timer.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (const QRgb now = LampColour(); now != seen.back()) {
                seen.push_back(now);
            }
        }
        ASSERT_TRUE(WaitIdle()) << c.name;
        if (const QRgb now = LampColour(); now != seen.back()) {
            seen.push_back(now);
        }
        EXPECT_EQ(seen, c.colours) << c.name;
        EXPECT_TRUE(dlg->m_dataValid) << c.name;
        dlg.reset();
    }
}

// A logger that cannot be run with the chosen settings is refused before
// anything of the record shown changes.
TEST_F(AcquisitionTest, ARefusedStartChangesNothing) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        const char* message;
    };
    const Case cases[] = {
        {"trigger channel 7 from a file",
         [&] {
             MakeWindow(InstantConfig());
             OpenRecord(7, 0, 2.0);  // Trigger ticked, Trigger CH without a selection
         },
         "パラメータが無効です"},
        {"resolution code 1",
         [&] {
             vossim::SimConfig config = InstantConfig();
             config.devices.resize(1);
             config.devices[0].calibration[18] = 1;
             MakeWindow(config);
             OpenRecord(0, 255, 0.0);
         },
         "その他のエラーが発生しました"},
    };
    for (const Case& c : cases) {
        c.prepare();
        const Shown before = Capture();
        ASSERT_TRUE(before.saveEnabled) << c.name;
        StartAndWait();
        ASSERT_EQ(script->messages.size(), 1u) << c.name;
        EXPECT_EQ(script->messages[0], QString::fromUtf8(c.message)) << c.name;
        EXPECT_TRUE(Capture() == before) << c.name;
        EXPECT_EQ(vossim::OpenHandleCount(), 0u) << c.name;
        for (const std::string& event : vossim::Stats(0).events) {
            EXPECT_NE(event, "write 53") << c.name << ": the stream was started";
        }
        script->messages.clear();
        dlg.reset();
    }
}

// A threshold no sample can cross (NaN, or infinite) comes from a data file;
// Start repairs it to 0 V, so the trigger fires on the first positive sample.
TEST_F(AcquisitionTest, ANonFiniteThresholdIsRepairedToZero) {
    const double values[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    for (const double threshold : values) {
        MakeWindow(InstantConfig());
        OpenRecord(0, 0, threshold);  // CH0, Level-H
        dlg->OnStart();
        ASSERT_TRUE(WaitIdle(20000)) << threshold << ": the trigger never fired";
        EXPECT_TRUE(script->messages.empty());
        EXPECT_EQ(dlg->m_threshold, 0.0) << threshold;
        EXPECT_EQ(dlg->m_editThreshold->text(), "0.00000") << threshold;
        EXPECT_TRUE(dlg->m_dataValid) << threshold;
        EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 [ Sampling: 10kHz, 100  Trigger: CH0, Level-H, 0.00000V ]");
        dlg.reset();
    }
}

// Once a new run has begun, the record shown before it is gone: a run that
// fails or stops before its trigger leaves nothing to save.
TEST_F(AcquisitionTest, AFailedOrEmptyRunLeavesNothingToSave) {
    struct Case {
        const char* name;
        std::function<void()> run;
        int messages;
    };
    const Case cases[] = {
        {"failure part-way",
         [&] {
             vossim::SimConfig config = InstantConfig();
             config.devices[0].stallAfter = 800;
             vossim::Install(config);
             SetCount(2000);
             StartAndWait();
         },
         1},
        {"stopped before its trigger",
         [&] {
             SetTrigger(0, 0, "20");
             dlg->OnStart();
             ASSERT_TRUE(PumpUntil([&] { return vossim::Stats(0).framesSent > 1000; }));
             dlg->OnStop();
             ASSERT_TRUE(WaitIdle());
         },
         0},
    };
    for (const Case& c : cases) {
        MakeWindow(InstantConfig());
        SetCount(300);
        StartAndWait();
        ASSERT_TRUE(dlg->m_btnSave->isEnabled()) << c.name;
        script->messages.clear();
        c.run();
        EXPECT_EQ(script->messages.size(), static_cast<std::size_t>(c.messages)) << c.name;
        EXPECT_FALSE(dlg->m_dataValid) << c.name;
        EXPECT_FALSE(dlg->m_btnSave->isEnabled()) << c.name;
        EXPECT_FALSE(dlg->m_btnCsvSave->isEnabled()) << c.name;
        EXPECT_TRUE(dlg->m_btnStart->isEnabled()) << c.name;
        dlg.reset();
    }
}

}  // namespace
