#include "app/record_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "acquisition/record_targets.h"
#include "app/prompts.h"
#include "app/record_controller.h"
#include "device/access.h"
#include "numtext/duration.h"

namespace {

constexpr int PROGRESS_PERIOD_MS = 250;

QString Errno(int error) { return RecordController::CauseText(error); }

// "3 data files (run-000001.dlf to run-000003.dlf)".
QString Listed(const std::vector<SeriesMember>& files, const char* kind) {
    QString text = QStringLiteral("%1 %2%3 (%4").arg(files.size())
                       .arg(QLatin1String(kind), QLatin1String(files.size() == 1 ? "" : "s"))
                       .arg(QString::fromStdString(files.front().path));
    if (files.size() > 1) text += QStringLiteral(" to ") + QString::fromStdString(files.back().path);
    return text + QStringLiteral(")");
}

}  // namespace

RecordDialog::RecordDialog(RecordController& controller, UiPrompts& prompts, WindowSettings settings,
                           QString markerFolder, QWidget* parent)
    : QDialog(parent), m_controller(controller), m_prompts(prompts), m_settings(std::move(settings)),
      m_markerFolder(std::move(markerFolder)) {
    setWindowTitle(QStringLiteral("Record to files"));
    m_editPrefix = new QLineEdit(this);
    m_editPrefix->setPlaceholderText(QStringLiteral("folder/name: files name-000001.dlf, name-000002.dlf, ..."));
    m_btnBrowse = new QPushButton(QStringLiteral("Browse…"), this);
    auto* prefixRow = new QHBoxLayout;
    prefixRow->addWidget(m_editPrefix, 1);
    prefixRow->addWidget(m_btnBrowse);
    m_editDuration = new QLineEdit(this);
    m_editDuration->setPlaceholderText(QStringLiteral("e.g. 90s, 15m, 8h, 2d or 1h30m"));
    m_checkUntilStop = new QCheckBox(QStringLiteral("until Stop"), this);
    m_checkUntilStop->setChecked(true);
    m_editDuration->setEnabled(false);
    auto* durationRow = new QHBoxLayout;
    durationRow->addWidget(m_editDuration, 1);
    durationRow->addWidget(m_checkUntilStop);
    m_editSplit = new QLineEdit(QString::number(DLF_MAX_SAMPLE_COUNT), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Prefix:"), prefixRow);
    form->addRow(QStringLiteral("Duration:"), durationRow);
    form->addRow(QStringLiteral("Samples per file:"), m_editSplit);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_btnStart = new QPushButton(QStringLiteral("Start"), this);
    m_btnStop = new QPushButton(QStringLiteral("Stop"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnStart);
    buttons->addWidget(m_btnStop);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    m_btnStart->setDefault(true);

    m_timer = new QTimer(this);
    m_timer->setInterval(PROGRESS_PERIOD_MS);
    connect(m_timer, &QTimer::timeout, this, [this] { m_status->setText(m_controller.ProgressText()); });
    connect(m_btnBrowse, &QPushButton::clicked, this, &RecordDialog::OnBrowse);
    connect(m_checkUntilStop, &QCheckBox::toggled, this, [this](bool on) { m_editDuration->setEnabled(!on); });
    connect(m_btnStart, &QPushButton::clicked, this, [this] { StartRecording(); });
    connect(m_btnStop, &QPushButton::clicked, this, &RecordDialog::OnStop);
    connect(close, &QPushButton::clicked, this, &RecordDialog::reject);
    connect(&m_controller, &RecordController::finished, this, &RecordDialog::Finished);
    ShowState();
}

void RecordDialog::ShowState() {
    const bool running = m_controller.Running();
    for (QWidget* entry : {static_cast<QWidget*>(m_editPrefix), static_cast<QWidget*>(m_btnBrowse),
                           static_cast<QWidget*>(m_checkUntilStop), static_cast<QWidget*>(m_editSplit),
                           static_cast<QWidget*>(m_btnStart)}) {
        entry->setEnabled(!running);
    }
    m_editDuration->setEnabled(!running && !m_checkUntilStop->isChecked());
    m_btnStop->setEnabled(running);
}

void RecordDialog::Refuse(const QString& text) {
    m_status->setText(text);
    m_prompts.ShowMessage(this, text, windowTitle(), UiPrompts::Icon::Stop);
}

void RecordDialog::OnBrowse() {
    QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Prefix of the files"), m_editPrefix->text(),
                                                QStringLiteral("Data Files (*.dlf)"), nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return;
    // A file of a series picked stands for its prefix.
    name.remove(QRegularExpression(QStringLiteral("(-\\d{6,})?\\.(dlf|vrec)$")));
    m_editPrefix->setText(QDir::toNativeSeparators(name));
}

bool RecordDialog::StartRecording() {
    if (m_controller.Running()) return false;
    const QString typed = m_editPrefix->text().trimmed();
    if (typed.isEmpty() || typed.endsWith(QLatin1Char('/')) || QFileInfo(typed).isDir()) {
        Refuse(QStringLiteral("Enter the prefix of the files: a folder and a name, e.g. /data/run for "
                              "/data/run-000001.dlf, /data/run-000002.dlf, ..."));
        return false;
    }
    RecordOptions options;
    QString why;
    const D2xxApi* api = m_settings(options, why);
    if (api == nullptr) {
        Refuse(why);
        return false;
    }
    if (!m_checkUntilStop->isChecked()) {
        std::uint64_t seconds = 0;
        const std::string refusal = ParseDuration(m_editDuration->text().trimmed().toStdString(), seconds);
        if (!refusal.empty()) {
            Refuse(QStringLiteral("Duration: ") + QString::fromStdString(refusal));
            return false;
        }
        options.sampleLimit = RecordSampleLimit(seconds, options.divider);
    }
    std::uint64_t split = 0;
    const std::string splitRefusal =
        ParseWhole(m_editSplit->text().trimmed().toStdString(), RECORD_MIN_SPLIT, DLF_MAX_SAMPLE_COUNT, split);
    if (!splitRefusal.empty()) {
        Refuse(QStringLiteral("Samples per file: ") + QString::fromStdString(splitRefusal));
        return false;
    }
    options.split = static_cast<std::uint32_t>(split);
    options.prefix = QFileInfo(typed).absoluteFilePath().toStdString();
    const QString prefix = QString::fromStdString(options.prefix);

    // The prefix is checked, and held, before the logger opens.
    auto lock = std::make_unique<PrefixLock>();
    const std::uint32_t lastIndex = RecordLastIndex(options.sampleLimit, options.split);
    PrefixCheck check = CheckRecordPrefix(options.prefix, lastIndex, false, *lock);
    bool overwrite = false;
    if (check.verdict == PrefixCheck::Verdict::Taken) {
        QString found;
        if (!check.series.dataFiles.empty()) found = Listed(check.series.dataFiles, "data file");
        if (!check.series.workingFiles.empty()) {
            found += (found.isEmpty() ? QString() : QStringLiteral(" and ")) +
                     Listed(check.series.workingFiles, "working file") +
                     QStringLiteral(" of a recording that was interrupted (\"vosctl recover %1\" makes data files of them)")
                         .arg(prefix);
        }
        const QString question =
            QStringLiteral("The prefix %1 is in use: %2.\n\nOverwrite removes the old series once the logger is open; "
                           "until then nothing is changed.")
                .arg(prefix, found);
        // Return keeps the old series: only a click on Overwrite removes it.
        if (m_prompts.AskChoice(this, question, windowTitle(), {QStringLiteral("Overwrite"), QStringLiteral("Cancel")},
                                1) != 0) {
            m_status->setText(QStringLiteral("Nothing was changed."));
            return false;
        }
        overwrite = true;
        check = CheckRecordPrefix(options.prefix, lastIndex, true, *lock);
    }
    switch (check.verdict) {
    case PrefixCheck::Verdict::Free: break;
    case PrefixCheck::Verdict::Busy:
        Refuse(QStringLiteral("The prefix %1 is %2; nothing was changed: choose another prefix.")
                   .arg(prefix, QString::fromStdString(check.holder)));
        return false;
    case PrefixCheck::Verdict::LockFailed:
        if (check.error == ENOENT) {
            Refuse(QStringLiteral("The folder %1 does not exist; nothing was recorded.")
                       .arg(QFileInfo(prefix).absolutePath()));
            return false;
        }
        Refuse(QStringLiteral("%1: %2; the hidden file that holds the prefix while it is recorded could not be made; "
                              "nothing was recorded.")
                   .arg(QString::fromStdString(check.path), Errno(check.error)));
        return false;
    case PrefixCheck::Verdict::Unwritable:
        Refuse(QStringLiteral("%1: %2; %3 of the series' last file cannot be created; nothing was recorded.")
                   .arg(QString::fromStdString(check.path), Errno(check.error), QString::fromStdString(check.role)));
        return false;
    case PrefixCheck::Verdict::Unplaceable:
        Refuse(QStringLiteral("%1: the file system (%2) cannot give a finished data file its name without replacing "
                              "another file: %3; nothing was recorded.")
                   .arg(QString::fromStdString(check.path), QString::fromStdString(check.fileSystem), Errno(check.error)));
        return false;
    case PrefixCheck::Verdict::Unsynced:
        Refuse(QStringLiteral("%1: the folder cannot be synced (%2), so the names of the files could be lost at a "
                              "power failure; nothing was recorded.")
                   .arg(QString::fromStdString(check.path), Errno(check.error)));
        return false;
    case PrefixCheck::Verdict::Unlisted:
        Refuse(QStringLiteral("The folder of %1 cannot be listed: %2.").arg(prefix, Errno(check.error)));
        return false;
    case PrefixCheck::Verdict::Taken: return false;
    case PrefixCheck::Verdict::WorkingInUse:
        Refuse(QStringLiteral("%1 is being written by a running program; nothing was changed: choose another prefix.")
                   .arg(QString::fromStdString(check.path)));
        return false;
    }

    QString marker;
    if (!m_markerFolder.isEmpty() && QDir().mkpath(m_markerFolder)) {
        static int serial = 0;
        marker = QStringLiteral("%1/recording-%2-%3.prefix").arg(m_markerFolder).arg(::getpid()).arg(++serial);
        QFile file(marker);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(options.prefix.c_str()) < 0) {
            marker.clear();
        }
    }
    m_controller.Start(*api, std::move(options), overwrite, std::move(lock), marker);
    m_status->setText(m_controller.ProgressText());
    m_timer->start();
    ShowState();
    return true;
}

void RecordDialog::OnStop() { m_controller.Stop(); }

void RecordDialog::Finished() {
    m_timer->stop();
    ShowState();
    m_status->setText(m_controller.EndText());
    m_prompts.ShowMessage(this, m_controller.EndText(), windowTitle(),
                          m_controller.Outcome().end == RecordEnd::Done ? UiPrompts::Icon::None : UiPrompts::Icon::Stop);
}

void RecordDialog::reject() {
    // Its Stop stays at hand while the recording runs.
    if (m_controller.Running()) return;
    QDialog::reject();
}
