// A running recording shown as it grows: opening it, the view following its
// end, the status line, and the whole series once it has ended.
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

#include "app/ctestdlg.h"
#include "app/dialog_template.h"
#include "app/follow_view.h"
#include "app/record_controller.h"
#include "files/series_names.h"
#include "record/follow.h"
#include "settings/settings.h"

namespace {

// How soon following the window's own recording is tried again while its old series is being removed.
constexpr int OWN_RECORDING_RETRY_MS = 20;

// The recorder's lock is this process's own: it is looked at, never opened.
FollowedRecording::Options OwnRecordingOptions() {
    FollowedRecording::Options options;
    options.recorderInProcess = true;
    return options;
}

}  // namespace

void CtestDlg::CreateFollowControls() {
    m_follower = new RecordingFollower(m_shown, this);
    // The status line stands where a series' progress bar stands, hidden meanwhile.
    const Rect r = DialogRectToPixels(6, 424, 660, 8);
    m_followStatus = new QLabel(this);
    m_followStatus->setObjectName(QStringLiteral("m_followStatus"));
    m_followStatus->setGeometry(r.left, r.top - 3, r.right - r.left, r.bottom - r.top + 6);
    m_followStatus->hide();
    connect(m_follower, &RecordingFollower::statusChanged, this, [this](const QString& text) {
        m_followStatus->setText(text);
        m_followStatus->setVisible(!m_progress->isVisible());
    });
    connect(m_follower, &RecordingFollower::begun, this, &CtestDlg::OnFollowBegun);
    // An export of what was shown (its file dialog, a message or its worker) owns the
    // controls and the progress bar until it ends: the series is opened after it.
    auto openEnded = std::make_shared<std::function<void(const QStringList&)>>();
    *openEnded = [this, later = std::weak_ptr(openEnded)](const QStringList& paths) {
        if (m_exporting) {
            QTimer::singleShot(50, this, [later, paths] {
                if (const auto open = later.lock()) (*open)(paths);
            });
            return;
        }
        // Working files left: a recorder that ended without closing its files. They stay shown as
        // they are, and Recover is offered.
        if (paths.isEmpty()) {
            OfferLeftoverRecording(m_follower->Prefix());
            return;
        }
        // The whole series as any series, its summaries built and cached; the status says it ended
        // once it is shown, and the view, the markers and the cursor stay where they were.
        m_followEndedPending = true;
        m_followStatus->hide();
        KeepViewForSeries(RecordCount());
        OpenFiles(paths);
    };
    connect(m_follower, &RecordingFollower::ended, this, [openEnded](const QStringList& paths) { (*openEnded)(paths); });
    connect(&m_shown, &ShownRecord::appended, this, &CtestDlg::OnRecordAppended);
    connect(&m_shown, &ShownRecord::shown, this, [this] {
        if (!m_shown.Followed()) {
            m_followStatus->setVisible(m_followEndedPending);
            m_followEndedPending = false;
        }
    });
}

void CtestDlg::KeepViewForSeries(std::uint64_t count) {
    const ViewNavigator kept = m_navigator;
    const std::optional<Cursor> cursor = m_cursor;
    const QPoint pointer = m_pointer;
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(&m_shown, &ShownRecord::shown, this, [this, kept, cursor, pointer, count, once] {
        disconnect(*once);
        // After the series' Open steps, which start it in full view: it holds the same samples in the same places.
        QTimer::singleShot(0, this, [this, kept, cursor, pointer, count] {
            if (!Series() || RecordCount() != count) return;
            m_navigator = kept;
            m_cursor = cursor;
            m_pointer = pointer;
            ViewChanged();
            // Read again where it can be: its file is now a data file of the series.
            if (ViewInteractive()) RefreshCursor();
        });
    });
}

bool CtestDlg::Following() const { return m_follower != nullptr && m_follower->Active(); }

QString CtestDlg::FollowStatusText() const { return m_followStatus->isVisible() ? m_followStatus->text() : QString(); }

bool CtestDlg::FollowRecording(const QString& prefix, std::string& message) {
    return FollowRecording(QFile::encodeName(prefix).toStdString(), message);
}

bool CtestDlg::FollowRecording(const std::string& prefix, std::string& message) {
    // Not started yet, it is waited for.
    return StartFollowing(prefix, FollowedRecording::Options{}, true, message);
}

bool CtestDlg::StartFollowing(const std::string& prefix, const FollowedRecording::Options& options, bool wait,
                              std::string& message) {
    // Only this window's recorder tells whether it waits for its trigger.
    m_follower->SetTriggerWait(options.recorderInProcess ? std::function<bool()>([this] {
        return Recording() && m_recording->WaitingForTrigger();
    })
                                                         : nullptr);
    const FileError error = m_follower->Follow(prefix, options, wait);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    m_followStatus->setText(m_follower->StatusLine());
    m_followStatus->show();
    if (m_follower->Waiting()) {
        // Nothing of it to show or save yet: the panes are empty until it starts.
        m_dataValid = false;
        m_fileName = QFile::decodeName(QByteArray::fromStdString(prefix));
        DropZoom();
        RedrawAll(m_displayMode);
        ClearSummary();
        UpdateCaption();
        if (!Recording()) EnableControls(true);
    }
    return true;
}

void CtestDlg::OnFollowBegun() {
    const FollowedRecording& recording = *m_shown.Followed()->recording;
    // The recording's settings, from its first file, or from the recorder when this window runs it.
    DataFileHeader header = recording.FirstHeader().value_or(DataFileHeader{});
    header.clockDivider = recording.ClockDivider();
    if (Recording() && !recording.FirstHeader()) {
        const RecordOptions& options = m_recording->Options();
        header.clockDivider = static_cast<std::int32_t>(options.divider);
        header.triggerChannel = options.trigger.channel;
        header.triggerType = options.trigger.type;
        header.threshold = options.trigger.threshold;
    }
    header.displayMode = m_displayMode ? 1 : 0;
    m_followedCount = RecordCount();
    ShowLoadedRecord(header, RecordCount(), QFile::decodeName(QByteArray::fromStdString(m_follower->Prefix())));
    // Nothing to save before its first sample.
    m_dataValid = RecordCount() > 0;
    m_followStatus->setText(m_follower->StatusLine());
    m_followStatus->show();
    if (!Recording()) {
        EnableControls(true);
    }
}

void CtestDlg::OnRecordAppended(std::uint64_t count) {
    const std::uint64_t before = m_followedCount;
    m_followedCount = count;
    if (Idle()) {
        if (before == 0 && count > 0) {
            // Followed before its first file was there, the recording's settings were not known yet: the
            // times of its samples are counted with the clock of its files once they come.
            const FollowedRecording& recording = *m_shown.Followed()->recording;
            if (const std::optional<DataFileHeader> first = recording.FirstHeader()) {
                m_triggerChannel = static_cast<std::uint8_t>(first->triggerChannel & 0xFF);
                m_triggerType = static_cast<std::uint8_t>(first->triggerType & 0xFF);
                m_threshold = first->threshold;
            }
            m_clockDivider = recording.ClockDivider();
            m_dataValid = true;
            if (!Recording()) EnableControls(true);
        }
        // Sampling Count and Total Time say what is shown, as after an Open.
        m_sampleCount = static_cast<std::int32_t>(std::min<std::uint64_t>(count, MAX_SAMPLE_COUNT));
        ShowSettings();
    }
    // A zoomed view that shows the end moves with it; one elsewhere stays. The full view keeps the whole.
    if (m_navigator.Zoomed()) {
        const ViewRange shown = m_navigator.Visible(before);
        if (shown.first + shown.count >= before) {
            m_navigator.Show(ViewRange{count - std::min(count, shown.count), shown.count}, count);
        }
    }
    if (!Idle() && !Recording()) {
        return;
    }
    RedrawAll(m_displayMode);
    RefreshCursor();
    UpdateMeasurements();
    UpdateCaption();
    UpdateSummary();
}

void CtestDlg::FollowOwnRecording() {
    if (!Recording()) {
        return;
    }
    // From its start, whatever its files' size: a file of 1,000 samples at 10 kHz is a working file for
    // a tenth of a second. An old series it overwrites is not its: it is followed once that is gone.
    std::string message;
    if (!m_recording->OldSeriesGone()) {
        QTimer::singleShot(OWN_RECORDING_RETRY_MS, this, [this] { FollowOwnRecording(); });
    } else if (!StartFollowing(m_recording->Options().prefix, OwnRecordingOptions(), false, message)) {
        QTimer::singleShot(RecordingFollower::POLL_MILLISECONDS, this, [this] { FollowOwnRecording(); });
    }
}
