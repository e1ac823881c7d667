#include "app/follow_view.h"

#include <QFile>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <filesystem>

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

FileError RecordingFollower::Follow(const std::string& prefix, FollowedRecording::Options options, bool wait) {
    auto recording = std::make_shared<FollowedRecording>();
    const FileError opened = recording->Open(prefix, options);
    const std::filesystem::path folder = std::filesystem::path(prefix).parent_path();
    std::error_code error;
    if (opened == FileError::Open && wait && std::filesystem::is_directory(folder.empty() ? "." : folder, error)) {
        // Nothing of it yet in a folder that is there: looked for again at each poll.
        Stop();
        m_prefix = prefix;
        m_options = options;
        m_waiting = true;
        m_timer->setInterval(POLL_MILLISECONDS);
        m_timer->start();
        SetStatus(QStringLiteral("Waiting for a recording on %1").arg(QFile::decodeName(QByteArray::fromStdString(prefix))));
        return FileError::None;
    }
    if (opened != FileError::None) {
        return opened;
    }
    Begin(recording);
    return FileError::None;
}

void RecordingFollower::Begin(const std::shared_ptr<FollowedRecording>& recording) {
    Stop();
    m_followed = std::make_shared<FollowedShown>();
    m_followed->recording = recording;
    // A growing pyramid cannot change its shape: it takes the one a series
    // of what is on disk now gets, so a long recording opened whole later
    // draws from the same cells and its summaries stay bounded.
    m_followed->summaries.shape = SummaryShapeFor(recording->Count());
    m_prefix = recording->Prefix();
    m_lastCount = recording->Count();
    m_sinceGrowth.start();
    Grow();
    m_shown.ShowFollowed(m_followed);
    m_timer->start();
    emit begun();
    Tick();
}

bool RecordingFollower::TryWaited() {
    auto recording = std::make_shared<FollowedRecording>();
    if (recording->Open(m_prefix, m_options) != FileError::None) return false;
    m_waiting = false;
    Begin(recording);
    return true;
}

void RecordingFollower::Stop() {
    m_timer->stop();
    m_waiting = false;
}

bool RecordingFollower::Active() const { return m_timer->isActive(); }

void RecordingFollower::SetStatus(const QString& line) {
    if (line != m_statusLine) {
        m_statusLine = line;
        emit statusChanged(line);
    }
}

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
    if (m_waiting) {
        TryWaited();
        return;
    }
    FollowedRecording& recording = *m_followed->recording;
    recording.Poll();
    // Behind what is on disk, the next step follows as soon as events allow.
    const bool behind = Grow();
    m_timer->setInterval(behind ? 0 : POLL_MILLISECONDS);
    const FollowStatus& status = recording.Status();
    if (status.samples != m_lastCount) {
        m_lastCount = status.samples;
        m_sinceGrowth.restart();
    }
    // A slow clock writes a sample at most every second: silence is a stall only past its period.
    const std::int64_t period = static_cast<std::int64_t>(recording.ClockDivider()) / 10;
    const std::int64_t silent = m_sinceGrowth.elapsed();
    const std::optional<bool> triggerWait = m_triggerWait ? std::optional(m_triggerWait()) : std::nullopt;
    SetStatus(StatusText(status, m_prefix, silent > STALL_MILLISECONDS + period ? silent : 0, triggerWait));
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

QString RecordingFollower::StatusText(const FollowStatus& status, const std::string& prefix, std::int64_t silentMs,
                                      std::optional<bool> triggerWait) {
    const QString samples = QLocale(QLocale::English).toString(static_cast<qulonglong>(status.samples));
    if (!status.running) {
        if (status.workingFiles > 0) {
            return QStringLiteral("Recording ended without closing its files: %1 samples; \"vosctl recover %2\" makes "
                                  "data files of them")
                .arg(samples, QFile::decodeName(QByteArray::fromStdString(prefix)));
        }
        return QStringLiteral("Recording ended: %1 samples").arg(samples);
    }
    if (status.samples == 0) {
        if (triggerWait.has_value()) {
            return *triggerWait ? QStringLiteral("Recording running: waiting for its trigger")
                                : QStringLiteral("Recording running: no sample yet");
        }
        return QStringLiteral("Recording running: no sample yet (waiting for its trigger or its logger)");
    }
    QString text = QStringLiteral("Recording running: %1 samples").arg(samples);
    if (status.lastSampleMicros) {
        // "2026-12-08T02:00:00.123456Z" read as "2026-12-08 02:00:00.123 UTC".
        const QString utc = QString::fromStdString(UtcText(*status.lastSampleMicros));
        if (utc.size() >= 23) {
            text += QStringLiteral(", last sample %1 UTC").arg(utc.left(23).replace(QLatin1Char('T'), QLatin1Char(' ')));
        }
    }
    if (silentMs > 0) {
        text += QStringLiteral("; the recorder has written no sample for %1 s").arg(silentMs / 1000);
    }
    return text;
}
