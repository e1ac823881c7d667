// Whole acquisitions through the real window, its worker threads and the
// in-process simulated logger.
#include <QCheckBox>

#include "app/caption.h"
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
};

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

}  // namespace
