// Every file of a series vosctl record writes opens in the real window, offscreen.
#include <QComboBox>
#include <QLineEdit>

#include "acquisition/record.h"
#include "app/window_fixture.h"
#include "cli_process.h"

namespace {

constexpr const char* CONFIG =
    "pace instant\n"
    "device serial=30001\n"
    "channel 0 sine freq=1 amp=4 offset=5\n"
    "channel 1 triangle freq=0.5 amp=3 offset=4\n";

TEST_F(WindowTest, EveryFileOfARecordedSeriesOpens) {
    vossim::SimConfig config;
    ASSERT_TRUE(vossim::ParseConfig(CONFIG, config, nullptr));
    MakeWindow(config);
    TempDir dir;
    const std::string prefix = dir.Path("series");
    const clitest::Result run = clitest::RunSim(dir, clitest::Via::DriverOption, CONFIG,
                                                {"record", "--clock", "5kHz", "--trigger", "CH1:Slope-Rising:4.5",
                                                 "--samples", "2500", "--split", "1000", "-o", prefix});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::uint32_t counts[] = {1000, 1000, 500};
    for (std::uint32_t f = 0; f < 3; ++f) {
        SCOPED_TRACE(f + 1);
        script->fileNames.push_back(QString::fromStdString(SeriesFileName(prefix, f + 1)));
        dlg->OnOpen();
        ASSERT_TRUE(WaitIdle());
        EXPECT_TRUE(script->messages.empty());
        EXPECT_TRUE(dlg->m_dataValid);
        EXPECT_EQ(dlg->m_sampleCount, static_cast<std::int32_t>(counts[f]));
        EXPECT_EQ(dlg->m_comboClock->currentText(), "5kHz");
        EXPECT_EQ(dlg->m_editCount->text().toStdString(), std::to_string(counts[f]));
        EXPECT_EQ(dlg->m_triggerType, 2);
    }
}

}  // namespace
