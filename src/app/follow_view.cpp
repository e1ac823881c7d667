#include "app/follow_view.h"

#include <QLocale>
#include <QTimer>

#include <algorithm>

#include "files/series_names.h"
#include "numtext/duration.h"

RecordingFollower::RecordingFollower(ShownRecord& shown, QObject* parent) : QObject(parent), m_shown(shown) {
    m_timer = new QTimer(this);
    m_timer->setInterval(POLL_MILLISECONDS);
    connect(m_timer, &QTimer::timeout, this, &RecordingFollower::Tick);
    // Another record shown ends following: its end must not replace that record.
    connect(&m_shown, &ShownRecord::shown, this, [this] {
        if (m_followed && m_shown.Followed() != m_followed) {
            Stop();
        }
    });
}

FileError RecordingFollower::Follow(const std::string& prefix, FollowedRecording::Options options) {
    auto recording = std::make_shared<FollowedRecording>();
    const FileError opened = recording->Open(prefix, options);
    return Begin(recording, opened);
}

FileError RecordingFollower::FollowFiles(const std::vector<std::string>& paths, FollowedRecording::Options options) {
    auto recording = std::make_shared<FollowedRecording>();
    const FileError opened = recording->OpenFiles(paths, options);
    return Begin(recording, opened);
}

FileError RecordingFollower::Begin(const std::shared_ptr<FollowedRecording>& recording, FileError opened) {
    if (opened != FileError::None) {
        return opened;
    }
    Stop();
    m_followed = std::make_shared<FollowedShown>();
    m_followed->recording = recording;
    // A growing pyramid cannot change its shape: it takes the one a series
    // of what is on disk now gets, so a long recording opened whole later
    // draws from the same cells and its summaries stay bounded.
    m_followed->summaries.shape = SummaryShapeFor(recording->Count());
    m_prefix = recording->Prefix();
    Grow();
    m_shown.ShowFollowed(m_followed);
    m_timer->start();
    Tick();
    return FileError::None;
}

void RecordingFollower::Stop() {
    m_timer->stop();
}

bool RecordingFollower::Active() const { return m_timer->isActive(); }

bool RecordingFollower::Grow() {
    FollowedRecording& recording = *m_followed->recording;
    const std::uint64_t available = recording.Count();
    if (available <= m_followed->count) {
        return false;
    }
    const std::uint64_t count = std::min(available, m_followed->count + CATCH_UP_SAMPLES);
    std::vector<std::uint64_t> starts = recording.FileStarts();
    // The files begun within the samples summarised now.
    starts.erase(std::upper_bound(starts.begin(), starts.end(), count - 1), starts.end());
    // A read error keeps the summaries of what was shown; the next poll tries again.
    if (!m_followed->summaries.Extend(recording, count, starts)) {
        return false;
    }
    if (m_shown.Followed() == m_followed) {
        m_shown.Append(count);
    } else {
        m_followed->count = count;
    }
    return count < available;
}

void RecordingFollower::Tick() {
    FollowedRecording& recording = *m_followed->recording;
    recording.Poll();
    // Behind what is on disk, the next step follows as soon as events allow.
    const bool behind = Grow();
    m_timer->setInterval(behind ? 0 : POLL_MILLISECONDS);
    const FollowStatus& status = recording.Status();
    const QString line = StatusText(status);
    if (line != m_statusLine) {
        m_statusLine = line;
        emit statusChanged(line);
    }
    if (!status.running && !behind) {
        Stop();
        QStringList paths;
        const SeriesListing listing = ListSeries(m_prefix);
        if (listing.workingFiles.empty()) {
            for (const SeriesMember& member : listing.dataFiles) paths.push_back(QString::fromStdString(member.path));
        }
        emit ended(paths);
    }
}

QString RecordingFollower::StatusText(const FollowStatus& status) {
    const QString samples = QLocale(QLocale::English).toString(static_cast<qulonglong>(status.samples));
    if (!status.running) {
        return QStringLiteral("Recording ended: %1 samples").arg(samples);
    }
    QString text = QStringLiteral("Recording running: %1 samples").arg(samples);
    if (status.lastSampleMicros) {
        // "2026-12-08T02:00:00.123456Z" read as "2026-12-08 02:00:00.123 UTC".
        const QString utc = QString::fromStdString(UtcText(*status.lastSampleMicros));
        if (utc.size() >= 23) {
            text += QStringLiteral(", last sample %1 UTC").arg(utc.left(23).replace(QLatin1Char('T'), QLatin1Char(' ')));
        }
    }
    return text;
}
