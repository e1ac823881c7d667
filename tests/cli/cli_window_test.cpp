// vosctl and the real window, offscreen, on the same deterministic simulated
// record: the files and pictures must be the same to the byte and the pixel.
#include <QComboBox>
#include <QImage>
#include <QLineEdit>

#include <algorithm>

#include "app/series_files.h"
#include "app/window_fixture.h"
#include "cli_process.h"

namespace {

// Instant frames whose signals depend only on the frame number.
constexpr const char* CONFIG =
    "pace instant\n"
    "device serial=30001\n"
    "channel 0 sine freq=1 amp=4 offset=5\n"
    "channel 1 triangle freq=0.5 amp=3 offset=4\n"
    "channel 2 square freq=2 amp=2 offset=6\n"
    "channel 3 sawtooth freq=1.5 amp=4.5 offset=5\n";

class CliWindowTest : public WindowTest {
protected:
    void SetUp() override {
        vossim::SimConfig config;
        std::string errors;
        ASSERT_TRUE(vossim::ParseConfig(CONFIG, config, &errors)) << errors;
        MakeWindow(config);
    }

    clitest::Result Vosctl(const std::vector<std::string>& args) {
        return clitest::RunSim(dir, clitest::Via::DriverOption, CONFIG, args);
    }

    // Save or CSV-Save through the window into `name`.
    std::string SaveFromWindow(void (CtestDlg::*handler)(), const std::string& name) {
        const std::string path = dir.Path(name);
        script->fileNames.push_back(QString::fromStdString(path));
        (dlg.get()->*handler)();
        EXPECT_TRUE(WaitIdle());
        EXPECT_TRUE(script->messages.empty());
        return clitest::ReadText(path);
    }

    TempDir dir;
};

TEST_F(CliWindowTest, AcquireWritesWhatSaveAndCsvSaveWrite) {
    dlg->m_comboClock->setCurrentIndex(2);  // 2kHz
    dlg->m_editCount->setText("3000");
    dlg->OnStart();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(dlg->m_dataValid);

    const std::string dlf = SaveFromWindow(&CtestDlg::OnSave, "window.dlf");
    ASSERT_EQ(dlf.size(), 256u + 32u * 3000u);
    struct Case {
        int selection;
        const char* channel;
    };
    for (const Case c : {Case{4, "ALL"}, Case{2, "CH2"}}) {
        SCOPED_TRACE(c.channel);
        dlg->m_comboCsvCh->setCurrentIndex(c.selection);
        const std::string csv = SaveFromWindow(&CtestDlg::OnCsvSave, "window.csv");
        const clitest::Result toFile =
            Vosctl({"acquire", "--clock", "2kHz", "--count", "3000", "--channel", c.channel, "-o", dir.Path("cli.csv")});
        ASSERT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_TRUE(clitest::ReadText(dir.Path("cli.csv")) == csv);
        const clitest::Result toStdout = Vosctl({"acquire", "--clock", "2kHz", "--count", "3000", "--channel", c.channel, "-o", "-"});
        ASSERT_EQ(toStdout.status, 0) << toStdout.err;
        EXPECT_TRUE(toStdout.out == csv);
        const clitest::Result converted = Vosctl({"csv", dir.Path("window.dlf"), "--channel", c.channel});
        EXPECT_TRUE(converted.out == csv);
    }

    const clitest::Result acquired = Vosctl({"acquire", "--clock", "2kHz", "--count", "3000", "-o", dir.Path("cli.dlf")});
    ASSERT_EQ(acquired.status, 0) << acquired.err;
    EXPECT_TRUE(clitest::ReadText(dir.Path("cli.dlf")) == dlf);
}

TEST_F(CliWindowTest, CsvSaveOfASeriesWritesWhatVosctlCsvWrites) {
    ::setenv("XDG_CACHE_HOME", dir.Path("cache").c_str(), 1);
    // Rows straddle the files' ends inside one 64-row block (1000 = 15 x 64 + 40).
    const auto paths = WriteRecordingFiles(dir.Path("night"), {1000, 1500, 701});
    script->fileNames.push_back(QString::fromStdString(paths[0] + "\n" + paths[1] + "\n" + paths[2]));
    dlg->OnOpen();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(script->messages.empty());
    for (const auto& [selection, channel] : {std::pair{4, "ALL"}, std::pair{1, "CH1"}}) {
        SCOPED_TRACE(channel);
        dlg->m_comboCsvCh->setCurrentIndex(selection);
        const std::string csv = SaveFromWindow(&CtestDlg::OnCsvSave, "window.csv");
        const clitest::Result cli = clitest::Run(dir, {"csv", paths[0], paths[1], paths[2], "--channel", channel});
        ASSERT_EQ(cli.status, 0) << cli.err;
        EXPECT_TRUE(cli.out == csv);
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3201);
    }
    ::unsetenv("XDG_CACHE_HOME");
}

TEST_F(CliWindowTest, PlotDrawsTheWindowsCanvas) {
    dlg->m_comboClock->setCurrentIndex(5);  // 200Hz
    dlg->m_editCount->setText("2500");
    dlg->OnStart();
    ASSERT_TRUE(WaitIdle());
    SaveFromWindow(&CtestDlg::OnSave, "panes.dlf");
    dlg->OnDisplayChange();
    ASSERT_TRUE(dlg->m_displayMode);
    SaveFromWindow(&CtestDlg::OnSave, "overlay.dlf");

    struct Case {
        const char* file;
        std::vector<std::string> options;
        bool overlay;
    };
    const Case cases[] = {
        {"panes.dlf", {}, false},
        {"panes.dlf", {"--overlay"}, true},
        {"overlay.dlf", {}, true},
        {"overlay.dlf", {"--panes"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.overlay ? " overlay" : " panes"));
        // The window shows the file as Open and Display Change leave it.
        script->fileNames.push_back(QString::fromStdString(dir.Path(c.file)));
        dlg->OnOpen();
        if (dlg->m_displayMode != c.overlay) {
            dlg->OnDisplayChange();
        }
        const QImage canvas = dlg->View().Snapshot().convertToFormat(QImage::Format_RGB32);

        std::vector<std::string> args{"plot", dir.Path(c.file), "-o", dir.Path("plot.png")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const clitest::Result result = clitest::Run(dir, args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const QImage plot = QImage(QString::fromStdString(dir.Path("plot.png"))).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(plot.size(), canvas.size());
        int differing = 0;
        for (int y = 0; y < plot.height(); ++y) {
            for (int x = 0; x < plot.width(); ++x) {
                differing += plot.pixel(x, y) != canvas.pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

// Two loggers with different signals: the window's Search selects the last one
// found, and vosctl, given no --serial, records that same logger.
constexpr const char* TWO_LOGGERS =
    "pace instant\n"
    "device serial=30001\n"
    "channel 0 dc offset=2\n"
    "channel 1 sine freq=1 amp=4 offset=5\n"
    "device serial=30002\n"
    "channel 0 dc offset=7\n"
    "channel 1 triangle freq=0.5 amp=3 offset=4\n";

class TwoLoggersTest : public WindowTest {
protected:
    void SetUp() override {
        vossim::SimConfig config;
        std::string errors;
        ASSERT_TRUE(vossim::ParseConfig(TWO_LOGGERS, config, &errors)) << errors;
        MakeWindow(config);
    }
    TempDir dir;
};

TEST_F(TwoLoggersTest, VosctlRecordsTheLoggerTheWindowSelects) {
    dlg->OnSearch();
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(dlg->m_comboSerial->count(), 2);
    EXPECT_EQ(dlg->m_comboSerial->currentText(), "30002");
    dlg->m_comboClock->setCurrentIndex(2);  // 2kHz
    dlg->m_editCount->setText("2000");
    dlg->OnStart();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(dlg->m_dataValid);
    const std::string path = dir.Path("window.dlf");
    script->fileNames.push_back(QString::fromStdString(path));
    dlg->OnSave();
    ASSERT_TRUE(WaitIdle());
    const std::string window = clitest::ReadText(path);
    ASSERT_EQ(window.size(), 256u + 32u * 2000u);

    const auto run = [this](const std::vector<std::string>& args) {
        return clitest::RunSim(dir, clitest::Via::DriverOption, TWO_LOGGERS, args);
    };
    const clitest::Result acquired = run({"acquire", "--clock", "2kHz", "--count", "2000", "-o", dir.Path("cli.dlf")});
    ASSERT_EQ(acquired.status, 0) << acquired.err;
    EXPECT_TRUE(clitest::ReadText(dir.Path("cli.dlf")) == window);
    // record stamps its files' headers; the samples after them are the window's.
    const clitest::Result recorded = run({"record", "--clock", "2kHz", "--samples", "2000", "-o", dir.Path("rec")});
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    const std::string file = clitest::ReadText(dir.Path("rec-000001.dlf"));
    ASSERT_EQ(file.size(), window.size());
    EXPECT_TRUE(file.substr(256) == window.substr(256));
    // Named, the first logger is recorded: its channel 0 differs.
    const clitest::Result first =
        run({"acquire", "--serial", "30001", "--clock", "2kHz", "--count", "2000", "-o", dir.Path("first.dlf")});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_FALSE(clitest::ReadText(dir.Path("first.dlf")) == window);
}

}  // namespace

namespace {

// vosviewer --driver PATH: the window loads the library it is given instead
// of the one the library search path finds.
class DriverOptionTest : public WindowTest {};

TEST_F(DriverOptionTest, WindowLoadsTheNamedDriver) {
    ::unsetenv("VOS_SIM_CONFIG");
    dlg = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver(clitest::SIM_LIBRARY),
                                     std::make_unique<ScriptedPrompts>(script));
    EXPECT_TRUE(script->messages.empty());
    dlg->OnSearch();
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(dlg->m_comboSerial->count(), 2);
    EXPECT_EQ(dlg->m_comboSerial->itemText(0), "16001");
    dlg.reset();

    dlg = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver("/nonexistent/libftd2xx.so"),
                                     std::make_unique<ScriptedPrompts>(script));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "VOS-12/VOS-16がインストールできていません");
    EXPECT_FALSE(dlg->m_btnSearch->isEnabled());
}

}  // namespace
