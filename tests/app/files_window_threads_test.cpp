// Save, Open and CSV-Save through the real window, with real files.
#include <QCheckBox>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <fstream>
#include <iterator>
#include <vector>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "files/dlf.h"
#include "files/file.h"
#include "window_fixture.h"

namespace {

class FilesWindowTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString PathOf(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }

    void Acquire(int count, int clockIndex = 0) {
        dlg->m_editCount->setText(QString::number(count));
        dlg->m_comboClock->setCurrentIndex(clockIndex);
        dlg->OnStart();
        ASSERT_TRUE(WaitIdle());
        ASSERT_TRUE(dlg->m_dataValid);
    }

    static void WriteFile(const QString& path, const DataFileHeader& header, std::size_t bodyBytes) {
        std::uint8_t bytes[DLF_HEADER_SIZE];
        EncodeHeader(header, bytes);
        std::vector<char> body(bodyBytes, 0);
        std::ofstream out(path.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
    }

    struct Shown {
        QString caption, status0, count, threshold;
        bool dataValid;
        std::int32_t sampleCount, divider;
        QImage canvas;
        std::vector<double> ch0;
        bool saveEnabled;
    };
    Shown Capture() {
        return {dlg->windowTitle(),
                dlg->m_status[0]->text(),
                dlg->m_editCount->text(),
                dlg->m_editThreshold->text(),
                dlg->m_dataValid,
                dlg->m_sampleCount,
                dlg->m_clockDivider,
                dlg->View().Snapshot(),
                std::vector<double>(dlg->m_channelData[0], dlg->m_channelData[0] + 1000),
                dlg->m_btnSave->isEnabled()};
    }
    void ExpectUnchanged(const Shown& before) {
        const Shown now = Capture();
        EXPECT_EQ(now.caption, before.caption);
        EXPECT_EQ(now.status0, before.status0);
        EXPECT_EQ(now.count, before.count);
        EXPECT_EQ(now.threshold, before.threshold);
        EXPECT_EQ(now.dataValid, before.dataValid);
        EXPECT_EQ(now.sampleCount, before.sampleCount);
        EXPECT_EQ(now.divider, before.divider);
        EXPECT_TRUE(now.canvas == before.canvas);
        EXPECT_EQ(std::memcmp(now.ch0.data(), before.ch0.data(), now.ch0.size() * sizeof(double)), 0);
        EXPECT_EQ(now.saveEnabled, before.saveEnabled);
    }

    /// Ends the child process of a death test, which runs this test again
    /// up to that point and so made a folder of its own: the folder goes,
    /// then the child exits with 0 when `failure` is empty.
    [[noreturn]] void ExitChild(const std::string& failure) {
        dir.remove();
        if (!failure.empty()) {
            std::fprintf(stderr, "%s\n", failure.c_str());
        }
        std::_Exit(failure.empty() ? 0 : 1);
    }

    bool SameAs(const Shown& before) {
        const Shown now = Capture();
        return now.caption == before.caption && now.status0 == before.status0 && now.count == before.count &&
               now.threshold == before.threshold && now.dataValid == before.dataValid &&
               now.sampleCount == before.sampleCount && now.divider == before.divider &&
               now.canvas == before.canvas &&
               std::memcmp(now.ch0.data(), before.ch0.data(), now.ch0.size() * sizeof(double)) == 0 &&
               now.saveEnabled == before.saveEnabled;
    }

    /// Runs Save (csv false) or CSV-Save (csv true) into `path` to its end.
    void SaveTo(const QString& path, bool csv) {
        script->fileNames.push_back(path);
        if (csv) {
            dlg->OnCsvSave();
            ASSERT_TRUE(WaitIdle());
        } else {
            dlg->OnSave();
        }
    }

    QTemporaryDir dir;
};

TEST_F(FilesWindowTest, SaveAndOpenRestoreTheRecord) {
    MakeWindow(InstantConfig());
    dlg->m_checkTrigger->setChecked(true);
    dlg->OnTriggerCheck();
    dlg->m_comboTrigCh->setCurrentIndex(3);
    dlg->m_comboTrigType->setCurrentIndex(1);  // Level-L
    dlg->m_editThreshold->setText("7.25");
    Acquire(1500, 2);
    dlg->OnDisplayChange();
    ASSERT_TRUE(dlg->m_displayMode);
    const std::vector<double> saved(dlg->m_channelData[2], dlg->m_channelData[2] + 1500);
    const QImage picture = dlg->View().Snapshot();

    script->fileNames.push_back(PathOf("run.dlf"));
    dlg->OnSave();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(QFileInfo(PathOf("run.dlf")).size(), 256 + 32 * 1500);
    EXPECT_EQ(script->filters.back(), "DLFファイル (*.dlf)");
    EXPECT_TRUE(dlg->m_btnSave->hasFocus());
    EXPECT_EQ(dlg->windowTitle(),
              "VOS Viewer v3.3 [ Sampling: 2kHz, 1500  Trigger: CH3, Level-L, 7.25000V ]");

    // Another record, other settings and the four-pane layout replace it ...
    dlg->m_checkTrigger->setChecked(false);
    dlg->OnTriggerCheck();
    dlg->OnDisplayChange();
    Acquire(400, 5);
    ASSERT_NE(dlg->m_sampleCount, 1500);

    // ... until the file is opened again.
    script->fileNames.push_back(PathOf("run.dlf"));
    dlg->OnOpen();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->m_sampleCount, 1500);
    EXPECT_EQ(dlg->m_clockDivider, 5);
    EXPECT_EQ(dlg->m_triggerChannel, 3);
    EXPECT_EQ(dlg->m_triggerType, 1);
    EXPECT_EQ(dlg->m_threshold, 7.25);
    EXPECT_TRUE(dlg->m_displayMode);
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_EQ(std::memcmp(saved.data(), dlg->m_channelData[2], saved.size() * sizeof(double)), 0);
    EXPECT_EQ(dlg->m_comboClock->currentText(), "2kHz");
    EXPECT_EQ(dlg->m_editCount->text(), "1500");
    EXPECT_EQ(dlg->m_editTotalTime->text(), "750 mS");
    EXPECT_TRUE(dlg->m_checkTrigger->isChecked());
    EXPECT_EQ(dlg->m_comboTrigType->currentText(), "Level-L");
    EXPECT_EQ(dlg->m_editThreshold->text(), "7.25000");
    EXPECT_EQ(dlg->windowTitle(), "VOS Viewer v3.3 - " + PathOf("run.dlf") +
                                      " [ Sampling: 2kHz, 1500  Trigger: CH3, Level-L, 7.25000V ]");
    EXPECT_TRUE(dlg->View().Snapshot() == picture);
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
    EXPECT_TRUE(dlg->m_btnOpen->hasFocus());
}

TEST_F(FilesWindowTest, CancelledDialogsChangeNothing) {
    MakeWindow(InstantConfig());
    Acquire(100);
    const Shown before = Capture();
    dlg->OnSave();
    dlg->OnOpen();
    dlg->OnCsvSave();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(script->fileDialogs, 3);
    EXPECT_TRUE(script->messages.empty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    ExpectUnchanged(before);
    EXPECT_TRUE(dlg->m_btnStart->isEnabled());
    EXPECT_TRUE(dlg->m_btnSave->hasFocus());
}

TEST_F(FilesWindowTest, MalformedFilesKeepTheRecordShown) {
    struct Case {
        const char* name;
        DataFileHeader header;
        std::int64_t bodyBytes;  // -1: a file shorter than its header
        const char* message;
    };
    const auto header = [](std::int32_t divider, std::uint32_t count, std::int32_t type, std::int32_t mode) {
        DataFileHeader h;
        h.clockDivider = divider;
        h.sampleCount = count;
        h.triggerType = type;
        h.displayMode = mode;
        return h;
    };
    const Case cases[] = {
        {"short", header(1, 10, 255, 0), -1, "ファイルフォーマットエラーです"},
        {"divider0", header(0, 10, 255, 0), 320, "ファイルフォーマットエラーです"},
        {"divider10001", header(10001, 10, 255, 0), 320, "ファイルフォーマットエラーです"},
        {"count0", header(1, 0, 255, 0), 320, "ファイルフォーマットエラーです"},
        {"count1000001", header(1, 1000001, 255, 0), 320, "ファイルフォーマットエラーです"},
        {"type5", header(1, 10, 5, 0), 320, "ファイルフォーマットエラーです"},
        {"typeMinus1", header(1, 10, -1, 0), 320, "ファイルフォーマットエラーです"},
        {"mode2", header(1, 10, 255, 2), 320, "ファイルフォーマットエラーです"},
        {"shortBody", header(1, 10, 255, 0), 319, "ファイルフォーマットエラーです"},
    };
    MakeWindow(InstantConfig());
    Acquire(200);
    const Shown before = Capture();
    for (const Case& c : cases) {
        const QString path = PathOf(c.name);
        if (c.bodyBytes < 0) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(255, '\1'));
        } else {
            WriteFile(path, c.header, static_cast<std::size_t>(c.bodyBytes));
        }
        script->messages.clear();
        script->fileNames.push_back(path);
        dlg->OnOpen();
        ASSERT_EQ(script->messages.size(), 1u) << c.name;
        EXPECT_EQ(script->messages[0], QString::fromUtf8(c.message)) << c.name;
        ExpectUnchanged(before);
    }
    script->messages.clear();
    script->fileNames.push_back(PathOf("missing.dlf"));
    dlg->OnOpen();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0], "ファイルオープンエラーです");
    ExpectUnchanged(before);
}

TEST_F(FilesWindowTest, EdgeHeadersAreAccepted) {
    MakeWindow(InstantConfig());
    DataFileHeader header;
    header.formatVersion = 2;
    header.clockDivider = 3;
    header.sampleCount = 25;
    header.triggerChannel = 7;
    header.triggerType = 4;
    header.threshold = 1.5;
    WriteFile(PathOf("edge.dlf"), header, 32 * 25 + 100);
    script->fileNames.push_back(PathOf("edge.dlf"));
    dlg->OnOpen();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(dlg->m_clockDivider, 3);
    EXPECT_EQ(dlg->m_comboClock->currentText(), "10kHz");
    EXPECT_EQ(dlg->m_editTotalTime->text(), "7.5 mS");
    EXPECT_EQ(dlg->m_triggerChannel, 7);
    EXPECT_EQ(dlg->m_comboTrigCh->currentIndex(), -1);
    EXPECT_EQ(dlg->m_triggerType, 4);
    EXPECT_TRUE(dlg->m_checkTrigger->isChecked());
    EXPECT_EQ(dlg->m_comboTrigType->currentIndex(), -1);
    EXPECT_TRUE(dlg->m_dataValid);
    EXPECT_EQ(dlg->m_status[0]->text(), "0.00000 V");
}

// Makes every read(2) of exactly `bytes` bytes on this thread fail with EIO.
bool FailReadsOfSize(std::uint32_t bytes) {
#if defined(__x86_64__)
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_read, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bytes, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EIO & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    (void)bytes;
    return false;
#endif
}

// A file whose header passes every check but whose samples cannot be read:
// the window must go on showing, and offering to save, the record it shows.
TEST_F(FilesWindowTest, ReadFailureAfterTheHeaderKeepsTheShownRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MakeWindow(InstantConfig());
    Acquire(300);
    DataFileHeader header;
    header.sampleCount = 12345;
    WriteFile(PathOf("unreadable.dlf"), header, 32 * 12345);
    const auto check = [&] {
        const Shown before = Capture();
        if (!FailReadsOfSize(12345 * 8)) {
            ExitChild("no seccomp filter");
        }
        script->fileNames.push_back(PathOf("unreadable.dlf"));
        dlg->OnOpen();
        const Shown after = Capture();
        const bool same = after.caption == before.caption && after.dataValid && after.sampleCount == 300 &&
                          after.canvas == before.canvas &&
                          std::memcmp(after.ch0.data(), before.ch0.data(), 300 * sizeof(double)) == 0 &&
                          script->messages.size() == 1 && script->messages[0] == "ファイル読み込みエラーです";
        ExitChild(same ? "" : "the shown record changed");
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

TEST_F(FilesWindowTest, WriteFailuresAreReported) {
    MakeWindow(InstantConfig());
    Acquire(100);
    const Shown before = Capture();
    struct Case {
        QString path;
        const char* message;
    };
    const Case cases[] = {
        {"/dev/full", "ファイル書き込みエラーです"},
        {PathOf("missing/run.dlf"), "ファイルオープンエラーです"},
        {dir.path(), "ファイルオープンエラーです"},
    };
    for (const Case& c : cases) {
        script->messages.clear();
        script->fileNames.push_back(c.path);
        dlg->OnSave();
        ASSERT_EQ(script->messages.size(), 1u) << c.path.toStdString();
        EXPECT_EQ(script->messages[0], QString::fromUtf8(c.message));
        ExpectUnchanged(before);

        script->messages.clear();
        script->fileNames.push_back(c.path);
        dlg->OnCsvSave();
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(script->messages.size(), 1u) << c.path.toStdString();
        EXPECT_EQ(script->messages[0], QString::fromUtf8(c.message));
        ExpectUnchanged(before);
    }
    // A write failure leaves the progress bar where it stopped.
    EXPECT_TRUE(dlg->m_progress->isVisible());
}

TEST_F(FilesWindowTest, CsvExportWritesTheHeldRecord) {
    MakeWindow(InstantConfig());
    Acquire(130);
    dlg->m_editCount->setText("5");  // typed after the run: not what is exported

    script->fileNames.push_back(PathOf("all.csv"));
    dlg->OnCsvSave();
    ASSERT_TRUE(WaitIdle());
    dlg->m_comboCsvCh->setCurrentIndex(2);
    script->fileNames.push_back(PathOf("ch2.csv"));
    dlg->OnCsvSave();
    ASSERT_TRUE(WaitIdle());

    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(script->filters.back(), "CSVファイル (*.csv)");
    QFile all(PathOf("all.csv"));
    QFile ch2(PathOf("ch2.csv"));
    ASSERT_TRUE(all.open(QIODevice::ReadOnly));
    ASSERT_TRUE(ch2.open(QIODevice::ReadOnly));
    const QList<QByteArray> allRows = all.readAll().split('\n');
    const QList<QByteArray> ch2Rows = ch2.readAll().split('\n');
    ASSERT_EQ(allRows.size(), 131);  // the last row ends in CR LF too
    ASSERT_EQ(ch2Rows.size(), 131);
    EXPECT_TRUE(allRows.back().isEmpty());
    const auto text = [&](int ch, int i) {
        char number[64];
        std::snprintf(number, sizeof number, "%.5f", dlg->m_channelData[ch][i]);
        return QByteArray(number);
    };
    for (int i = 0; i < 130; ++i) {
        EXPECT_EQ(ch2Rows[i], text(2, i) + "\r");
        EXPECT_EQ(allRows[i], text(0, i) + "," + text(1, i) + "," + text(2, i) + "," + text(3, i) + "\r");
    }
    EXPECT_FALSE(dlg->m_progress->isVisible());
    EXPECT_EQ(dlg->m_progress->maximum(), 3);
    EXPECT_EQ(dlg->m_progress->value(), 3);
    EXPECT_TRUE(dlg->m_btnSave->hasFocus());
    EXPECT_TRUE(dlg->m_btnCsvSave->isEnabled());
}

// A save into a FIFO whose reader goes away fails with the write error; the
// program lives on (it ignores SIGPIPE, as at start-up) with its record.
TEST_F(FilesWindowTest, AFifoWhoseReaderLeavesGivesTheWriteError) {
    IgnoreFileSignals();
    MakeWindow(InstantConfig());
    Acquire(10000);  // 320 kB of DLF, 440 kB of CSV: more than a pipe holds
    const Shown before = Capture();
    const QString fifo = PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    for (const bool csv : {false, true}) {
        script->messages.clear();
        const int reader = ::open(fifo.toUtf8().constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        std::thread leaving([reader] {
            int waiting = 0;
            while (::ioctl(reader, FIONREAD, &waiting) == 0 && waiting < 64) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ::close(reader);
        });
        SaveTo(fifo, csv);
        leaving.join();
        ASSERT_EQ(script->messages.size(), 1u) << (csv ? "CSV-Save" : "Save");
        EXPECT_EQ(script->messages[0], "ファイル書き込みエラーです");
        ExpectUnchanged(before);
    }
}

// Save and CSV-Save over existing files, stopped part-way by the file-size
// limit (in a child process): the old files stay byte for byte, no new file
// is left beside them, and the record stays on offer.
TEST_F(FilesWindowTest, ASaveThatFailsPartWayKeepsTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MakeWindow(InstantConfig());
    Acquire(10000);
    const QByteArray old = "an earlier file, kept byte for byte";
    for (const char* name : {"record.dlf", "record.csv"}) {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    const auto check = [&] {
        IgnoreFileSignals();
        const rlimit limit{64 * 1024, 64 * 1024};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ExitChild("setrlimit failed");
        }
        const Shown before = Capture();
        SaveTo(PathOf("record.dlf"), false);
        SaveTo(PathOf("record.csv"), true);
        const QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        const auto contentOf = [&](const char* name) {
            QFile file(PathOf(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        if (script->messages != std::vector<QString>{"ファイル書き込みエラーです", "ファイル書き込みエラーです"}) {
            ExitChild("not two write errors");
        }
        if (contentOf("record.dlf") != old || contentOf("record.csv") != old) {
            ExitChild("an old file changed");
        }
        if (names != QStringList{"record.csv", "record.dlf"}) {
            ExitChild(("left in the folder: " + names.join(' ')).toStdString());
        }
        ExitChild(SameAs(before) && dlg->m_btnCsvSave->isEnabled() ? "" : "the record changed");
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
