// A logger pulled out of the USB port during a run, as the user of the window
// sees it: the run fails with the driver's message, and the logger is gone
// for the next Start and the next Search.
#include <QCheckBox>

#include "window_fixture.h"

namespace {

const QString OTHER_ERROR = "その他のエラーが発生しました";
const QString NOT_FOUND = "デバイスが見つかりません";

class UnplugTest : public WindowTest {
protected:
    void StartAndWait() {
        dlg->OnStart();
        ASSERT_TRUE(WaitIdle());
    }
};

TEST_F(UnplugTest, LoggerPulledOutDuringARun) {
    struct Case {
        const char* name;
        bool trigger;  // waiting for a trigger that never fires
    };
    for (const Case test : {Case{"storing", false}, Case{"waiting for the trigger", true}}) {
        SCOPED_TRACE(test.name);
        vossim::SimConfig config;
        std::string errors;
        // At the realtime pace, with the chip's packets: gone 0.3 s after the start.
        ASSERT_TRUE(vossim::ParseConfig("device serial=12001 resolution=12\n"
                                        "channel 0 sine freq=2 amp=4 offset=5\n"
                                        "fault unplug_after=3000\n",
                                        config, &errors))
            << errors;
        script->messages.clear();
        MakeWindow(config);
        dlg->OnSearch();
        ASSERT_EQ(dlg->m_comboSerial->currentText(), "12001");
        dlg->m_editCount->setText("100000");
        dlg->m_checkTrigger->setChecked(test.trigger);
        dlg->OnTriggerCheck();
        dlg->m_editThreshold->setText("20");

        // The run ends part-way with the driver's I/O error (status 4).
        StartAndWait();
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0], OTHER_ERROR);
        EXPECT_TRUE(vossim::Stats(0).unplugged);
        if (!test.trigger) {
            EXPECT_GT(dlg->m_acquiredCount.load(), 0u);
        }
        EXPECT_LT(dlg->m_acquiredCount.load(), 3000u);
        EXPECT_FALSE(dlg->m_dataValid);
        EXPECT_FALSE(dlg->m_btnSave->isEnabled());
        EXPECT_EQ(vossim::OpenHandleCount(), 0u);
        EXPECT_EQ(dlg->m_hDevice, nullptr);
        EXPECT_TRUE(dlg->m_btnStart->isEnabled());

        // The serial number is still listed, but the logger cannot be found.
        StartAndWait();
        ASSERT_EQ(script->messages.size(), 2u);
        EXPECT_EQ(script->messages[1], NOT_FOUND);

        // A new search lists nothing and says nothing; Start then looks for
        // any logger of the family and finds none.
        dlg->OnSearch();
        EXPECT_EQ(script->messages.size(), 2u);
        EXPECT_EQ(dlg->m_comboSerial->count(), 0);
        StartAndWait();
        ASSERT_EQ(script->messages.size(), 3u);
        EXPECT_EQ(script->messages[2], NOT_FOUND);
        EXPECT_EQ(vossim::Stats(0).opens, 1u);
        dlg.reset();
    }
}

}  // namespace
