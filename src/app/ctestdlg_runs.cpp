// Runs that the program did not live to end: their working files are found
// at the next start, and the user decides what becomes of them.
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <filesystem>

#include "acquisition/record.h"
#include "acquisition/recover.h"
#include "app/ctestdlg.h"
#include "device/transfer.h"
#include "files/file.h"

namespace {

enum Choice { CHOICE_RECOVER, CHOICE_DISCARD, CHOICE_LATER };

QString Question(const LeftoverRun& run) {
    const QString started = QDateTime::fromMSecsSinceEpoch(run.startMicros / 1000).toString("yyyy-MM-dd HH:mm:ss");
    const double seconds = static_cast<double>(run.samples) * run.clockDivider / LOGGER_FRAME_RATE;
    const QString data = QString::fromStdString(SeriesFileName(run.prefix, 1));
    return QStringLiteral(
               "A run was not ended: the program stopped while it was recording.\n\n"
               "Started: %1 (local time)\n"
               "On disk: %2 samples per channel (%3 s)\n"
               "In: %4\n\n"
               "Recover makes it the data file %5 and shows it; Save and CSV-Save work on it as on any record.\n"
               "Later leaves it on disk: the next start asks again, and \"vosctl recover %6\" recovers it at any time.\n"
               "Discard deletes it.")
        .arg(started)
        .arg(run.samples)
        .arg(seconds, 0, 'f', 1)
        .arg(QDir::toNativeSeparators(QString::fromStdString(run.workingFile)), QDir::toNativeSeparators(data),
             QString::fromStdString(run.prefix));
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
        if (run.samples == 0) {
            // Nothing of it reached the disk: there is nothing to ask about.
            RecoverSeries(run.prefix);
            continue;
        }
        const int choice = m_prompts->AskChoice(this, Question(run), m_appTitle,
                                                {QStringLiteral("Recover"), QStringLiteral("Discard"),
                                                 QStringLiteral("Later")});
        if (choice == CHOICE_DISCARD) {
            const QString confirm = QStringLiteral("Delete the %1 samples of this run for good?\n%2")
                                        .arg(run.samples)
                                        .arg(QString::fromStdString(run.workingFile));
            if (m_prompts->AskChoice(this, confirm, m_appTitle, {QStringLiteral("Delete"), QStringLiteral("Keep")}) == 0) {
                std::error_code ignored;
                std::filesystem::remove(run.workingFile, ignored);
            }
            continue;
        }
        if (choice != CHOICE_RECOVER) {
            continue;
        }
        const RecoveryReport report = RecoverSeries(run.prefix);
        if (report.error != FileError::None) {
            m_prompts->ShowMessage(
                this,
                QStringLiteral("The run could not be recovered: %1: %2\nThe working file was left as it is.")
                    .arg(QString::fromStdString(report.failedPath),
                         QString::fromStdString(report.reason.empty() ? FileErrorMessage(report.error) : report.reason)),
                m_appTitle, UiPrompts::Icon::Stop);
            continue;
        }
        OpenFiles({QString::fromStdString(SeriesFileName(run.prefix, 1))});
    }
}
