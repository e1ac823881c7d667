// A running recording shown as it grows: opening it, the view following its
// end, the status line, and the whole series once it has ended.
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
        // The whole series as any series, its summaries built and cached; the status says it ended
        // once it is shown. Working files left (a recorder that died) stay shown as they are.
        if (!paths.isEmpty()) {
            m_followEndedPending = true;
            m_followStatus->hide();
            OpenFiles(paths);
        }
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

bool CtestDlg::Following() const { return m_follower != nullptr && m_follower->Active(); }

QString CtestDlg::FollowStatusText() const { return m_followStatus->isVisible() ? m_followStatus->text() : QString(); }

bool CtestDlg::FollowRecording(const QString& prefix, std::string& message) {
    return StartFollowing(prefix, {}, FollowedRecording::Options{}, message);
}

bool CtestDlg::StartFollowing(const QString& prefix, const QStringList& paths, const FollowedRecording::Options& options,
                              std::string& message) {
    std::vector<std::string> files;
    for (const QString& path : paths) files.push_back(path.toStdString());
    const FileError error =
        files.empty() ? m_follower->Follow(prefix.toStdString(), options) : m_follower->FollowFiles(files, options);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    DataFileHeader header;
    header.clockDivider = m_shown.Followed()->recording->ClockDivider();
    header.triggerChannel = m_triggerChannel;
    header.triggerType = m_triggerType;
    header.threshold = m_threshold;
    header.displayMode = m_displayMode ? 1 : 0;
    m_followedCount = RecordCount();
    ShowLoadedRecord(header, RecordCount(), QString::fromStdString(m_follower->Prefix()));
    m_followStatus->setText(m_follower->StatusLine());
    m_followStatus->show();
    if (!Recording()) {
        EnableControls(true);
    }
    return true;
}

bool CtestDlg::OpenWorkingSeries(const QStringList& paths, std::string& message, bool& opened) {
    opened = !paths.isEmpty() && paths.back().endsWith(QString::fromUtf8(SERIES_WORKING_EXTENSION));
    return opened && StartFollowing({}, paths, FollowedRecording::Options{}, message);
}

void CtestDlg::OnRecordAppended(std::uint64_t count) {
    const std::uint64_t before = m_followedCount;
    m_followedCount = count;
    // Followed before its first file was there, the recording's clock was not known yet: the times
    // of its samples are counted with the clock of its files once they come.
    const std::int32_t divider = m_shown.Followed() ? m_shown.Followed()->recording->ClockDivider() : m_clockDivider;
    if (before == 0 && count > 0 && Idle()) {
        m_clockDivider = divider;
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
    } else if (!StartFollowing(QString::fromStdString(m_recording->Options().prefix), {}, OwnRecordingOptions(),
                               message)) {
        QTimer::singleShot(RecordingFollower::POLL_MILLISECONDS, this, [this] { FollowOwnRecording(); });
    }
}
