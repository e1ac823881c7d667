// Recording to files from the window: the context menu's entry, the window's
// settings for the recorder, the controls while it runs and the question on close.
#include <QAction>
#include <QComboBox>
#include <QPushButton>

#include <iterator>

#include "app/ctestdlg.h"
#include "app/record_controller.h"
#include "app/record_dialog.h"
#include "device/access.h"
#include "settings/settings.h"

bool CtestDlg::Recording() const { return m_recording && m_recording->Running(); }

QAction* CtestDlg::RecordAction() {
    if (m_recordAction == nullptr) {
        m_recordAction = new QAction(QStringLiteral("Record to files…"), this);
        connect(m_recordAction, &QAction::triggered, this, &CtestDlg::OnRecordToFiles);
    }
    // The recorder opens the logger itself: never beside a run or another operation.
    m_recordAction->setEnabled((Idle() && m_btnStart->isEnabled()) || Recording());
    return m_recordAction;
}

void CtestDlg::OnRecordToFiles() {
    if (m_recordDialog == nullptr) {
        m_recording = std::make_unique<RecordController>();
        connect(m_recording.get(), &RecordController::started, this, [this] {
            EnableControls(false);
            RedrawAll(m_displayMode);
            FollowOwnRecording();
        });
        connect(m_recording.get(), &RecordController::finished, this, [this] {
            RedrawAll(m_displayMode);
            EnableControls(true);
            m_btnStart->setFocus();
        });
        m_recordDialog = new RecordDialog(
            *m_recording, *m_prompts, [this](RecordOptions& options, QString& why) { return RecordSettings(options, why); },
            RunsFolder(), this);
    }
    m_recordDialog->show();
    m_recordDialog->raise();
    m_recordDialog->activateWindow();
}

const D2xxApi* CtestDlg::RecordSettings(RecordOptions& options, QString& why) {
    if (!Idle() || m_pending || Recording()) {
        why = QStringLiteral("The window is busy (a run, a summary build or an export): record when it has ended.");
        return nullptr;
    }
    const D2xxApi* api = m_backend.api ? m_backend.api() : nullptr;
    if (api == nullptr) {
        why = QString::fromUtf8(DRIVER_MISSING_TEXT);
        return nullptr;
    }
    options.divider = static_cast<std::uint32_t>(ClockDividerForIndex(m_comboClock->currentIndex()));
    const std::uint8_t type = ReadTriggerType();
    if (type != TRIGGER_NONE) options.trigger = TriggerSetup{ReadTriggerChannel(), type, ReadThreshold(), 0};
    const int index = m_comboSerial->currentIndex();
    if (index >= 0 && index < static_cast<int>(std::size(m_serials))) {
        options.serial = m_serials[index];
    } else {
        // Before Search: the logger vosctl record takes, the one Search would select.
        std::int32_t serial = 0;
        if (const std::uint32_t result = DefaultLoggerSerial(*api, serial); result != 0) {
            why = QString::fromStdString(ResultMessage(result));
            return nullptr;
        }
        options.serial = serial;
    }
    return api;
}

bool CtestDlg::AskCloseWhileRecording() {
    if (!Recording()) return true;
    const QString question =
        QStringLiteral("A recording to files is running: %1\n\n%2\n\nStop it and keep its files, or go on recording?")
            .arg(QString::fromStdString(m_recording->Options().prefix), m_recording->ProgressText());
    if (m_prompts->AskChoice(this, question, m_appTitle,
                             {QStringLiteral("Stop and keep the files"), QStringLiteral("Cancel")}) != 0) {
        return false;
    }
    m_recording->StopAndWait();
    return true;
}
