// Runs that the program did not live to end: their working files are found
// at the next start, and the user decides what becomes of them.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "acquisition/record.h"
#include "acquisition/recover.h"
#include "app/ctestdlg.h"
#include "device/transfer.h"
#include "files/file.h"
#include "files/series_names.h"
#include "record/follow.h"

namespace {

enum Choice { CHOICE_RECOVER, CHOICE_DISCARD, CHOICE_LATER };

// Holds a run's working file while its question is open, so that another
// window started at once does not offer it too (it skips a file in use).
class RunHold {
public:
    explicit RunHold(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) Release();
    }
    ~RunHold() { Release(); }
    RunHold(const RunHold&) = delete;
    RunHold& operator=(const RunHold&) = delete;
    bool Held() const { return m_fd >= 0; }
    /// Lets go before the run is recovered or removed, which takes the file itself.
    void Release() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// What a left run holds: its working file alone, or, for a recording to files, the whole recording
// from its first file, as Recover restores it.
struct RunExtent {
    std::uint64_t samples = 0;
    std::int64_t startMicros = 0;
};

RunExtent WholeRecording(const LeftoverRun& run) {
    RunExtent extent{run.samples, run.startMicros};
    FollowedRecording recording;
    if (recording.Open(run.prefix, {}) == FileError::None && recording.Count() > 0) {
        extent.samples = recording.Count();
        if (const auto start = recording.SampleTimeMicros(0)) extent.startMicros = *start;
    }
    return extent;
}

QString Question(const LeftoverRun& run, const RunExtent& extent) {
    const QString started = QDateTime::fromMSecsSinceEpoch(extent.startMicros / 1000).toString("yyyy-MM-dd HH:mm:ss");
    const double seconds = static_cast<double>(extent.samples) * run.clockDivider / LOGGER_FRAME_RATE;
    // The data file of the working file's index.
    QString data = QString::fromStdString(run.workingFile);
    data.replace(data.size() - 5, 5, QStringLiteral(".dlf"));
    return QStringLiteral(
               "A run was not ended: the program stopped while it was recording.\n\n"
               "Started: %1 (local time)\n"
               "On disk: %2 samples per channel (%3 s)\n"
               "In: %4\n%7\n"
               "Recover makes it the data file %5 and shows it; Save and CSV-Save work on it as on any record.\n"
               "Later leaves it on disk: the next start asks again, and \"vosctl recover %6\" recovers it at any time.\n"
               "Discard deletes it.")
        .arg(started)
        .arg(extent.samples)
        .arg(seconds, 0, 'f', 1)
        .arg(QDir::toNativeSeparators(QString::fromStdString(run.workingFile)), QDir::toNativeSeparators(data),
             QString::fromStdString(run.prefix),
             run.damaged ? QStringLiteral("Part of the file is damaged: Recover keeps every intact block and "
                                          "reports what the damage cost.\n")
                         : QString());
}

}  // namespace

QString RunsFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/vosviewer/runs");
}

void CtestDlg::OfferLeftoverRuns() {
    const QString folder = RunsFolder();
    if (folder.isEmpty()) {
        return;
    }
    for (const LeftoverRun& run : FindLeftoverRuns(folder.toStdString())) {
        OfferRun(run, false);
    }
    // Recordings to files name their prefix in a file here while they run;
    // a program killed meanwhile leaves it, and the working files it was filling.
    const QDir markers(folder, QStringLiteral("recording-*.prefix"), QDir::Name, QDir::Files | QDir::Hidden);
    for (const QString& name : markers.entryList()) {
        const QString path = markers.filePath(name);
        const long pid = name.section(QLatin1Char('-'), 1, 1).toLong();
        if (pid > 0 && !ProcessGone(pid)) {
            continue;
        }
        QFile marker(path);
        if (!marker.open(QIODevice::ReadOnly)) {
            continue;
        }
        const std::string prefix = marker.readAll().toStdString();
        marker.close();
        OfferLeftoverRecording(prefix);
        if (ListSeries(prefix).workingFiles.empty()) {
            QFile::remove(path);
        }
    }
}

void CtestDlg::OfferLeftoverRecording(const std::string& prefix) {
    // One question for the recording: Recover restores all its working files at once.
    const std::vector<LeftoverRun> runs = FindLeftoverRecording(prefix);
    if (!runs.empty()) OfferRun(runs.front(), true);
}

void CtestDlg::OfferRun(const LeftoverRun& run, bool wholeSeries) {
    RunHold hold(run.workingFile);
    if (!hold.Held()) {
        // Another window asks about it, or it is gone.
        return;
    }
    if (run.samples == 0 && !run.damaged) {
        // Nothing of it reached the disk: there is nothing to ask about.
        hold.Release();
        RecoverSeries(run.prefix);
        return;
    }
    const RunExtent extent = wholeSeries ? WholeRecording(run) : RunExtent{run.samples, run.startMicros};
    const int choice = m_prompts->AskChoice(this, Question(run, extent), m_appTitle,
                                            {QStringLiteral("Recover"), QStringLiteral("Discard"),
                                             QStringLiteral("Later")});
    if (choice == CHOICE_DISCARD) {
        const QString confirm = QStringLiteral("Delete the %1 samples of this run for good?\n%2")
                                    .arg(run.samples)
                                    .arg(QString::fromStdString(run.workingFile));
        if (m_prompts->AskChoice(this, confirm, m_appTitle, {QStringLiteral("Delete"), QStringLiteral("Keep")}, 1) == 0) {
            hold.Release();
            std::error_code ignored;
            std::filesystem::remove(run.workingFile, ignored);
        }
        return;
    }
    if (choice != CHOICE_RECOVER) {
        return;
    }
    hold.Release();
    const RecoveryReport report = RecoverSeries(run.prefix);
    const auto mine = std::find_if(report.files.begin(), report.files.end(), [&](const RecoveredFile& file) {
        return file.workingFile == run.workingFile;
    });
    if (report.error != FileError::None) {
        m_prompts->ShowMessage(
            this,
            QStringLiteral("The run could not be recovered: %1: %2\nThe working file was left as it is.")
                .arg(QString::fromStdString(report.failedPath),
                     QString::fromStdString(report.reason.empty() ? FileErrorMessage(report.error) : report.reason)),
            m_appTitle, UiPrompts::Icon::Stop);
        return;
    }
    const QString first = QString::fromStdString(SeriesFileName(run.prefix, 1));
    if (mine == report.files.end()) {
        // Another window or vosctl took the run between the question and the answer.
        const bool recovered = std::filesystem::exists(first.toStdString());
        m_prompts->ShowMessage(
            this,
            recovered ? QStringLiteral("The run was recovered meanwhile by another program: %1")
                            .arg(QDir::toNativeSeparators(first))
                      : QStringLiteral("The run was discarded meanwhile by another program: %1 is gone.")
                            .arg(QDir::toNativeSeparators(QString::fromStdString(run.workingFile))),
            m_appTitle, UiPrompts::Icon::None);
        if (recovered) OpenFiles({first});
        return;
    }
    QStringList written;
    for (const RecoveredPart& part : mine->parts) written << QString::fromStdString(part.dataFile);
    if (!mine->gaps.empty() || !mine->keptAs.empty() || mine->tailCut) {
        std::uint64_t lost = mine->dropped;
        for (const RecoveredGap& gap : mine->gaps) lost += gap.samples;
        QString text = QStringLiteral("The run was damaged on disk: %1 samples were recovered into %2 files; "
                                      "%3 samples were lost in damaged blocks.")
                           .arg(mine->samples)
                           .arg(written.size())
                           .arg(lost);
        if (!mine->keptAs.empty()) {
            text += QStringLiteral("\nThe working file was kept as %1: it holds %2 intact samples that are in no data file.")
                        .arg(QDir::toNativeSeparators(QString::fromStdString(mine->keptAs)))
                        .arg(mine->keptSamples);
        }
        m_prompts->ShowMessage(this, text, m_appTitle, UiPrompts::Icon::None);
    }
    if (wholeSeries) {
        written.clear();
        for (const SeriesMember& file : ListSeries(run.prefix).dataFiles) written << QString::fromStdString(file.path);
    }
    if (!written.isEmpty()) OpenFiles(written);
}
