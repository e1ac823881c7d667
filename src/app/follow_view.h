#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "app/shown_record.h"
#include "files/file.h"
#include "record/follow.h"

class QTimer;

/// Shows a running recording in the window while it grows: polls its files
/// on a timer, extends the summaries by the new samples and appends them to
/// the record shown. UI thread only.
class RecordingFollower : public QObject {
    Q_OBJECT

public:
    /// How often the files are looked at.
    static constexpr int POLL_MILLISECONDS = 500;
    /// Samples summarised at most per step while catching up with what was
    /// on disk already (about 30 ms), so that the window stays responsive
    /// when a long recording is opened.
    static constexpr std::uint64_t CATCH_UP_SAMPLES = 1u << 20;

    explicit RecordingFollower(ShownRecord& shown, QObject* parent = nullptr);

    /// Shows the recording of the series `prefix` as it is now and follows it.
    FileError Follow(const std::string& prefix, FollowedRecording::Options options = {});
    /// The same for the series of `paths`, the newest a working file.
    FileError FollowFiles(const std::vector<std::string>& paths, FollowedRecording::Options options = {});
    /// Stops following; the record shown stays as it is.
    void Stop();
    /// True while a recording is followed.
    bool Active() const;
    /// The prefix followed last.
    const std::string& Prefix() const { return m_prefix; }
    /// The status line of the recording followed, as statusChanged says it.
    QString StatusLine() const { return m_statusLine; }

    /// "Recording running: 12,345 samples, last sample 2026-12-08 02:00:00.123 UTC",
    /// or "Recording ended: 12,345 samples".
    static QString StatusText(const FollowStatus& status);

signals:
    void statusChanged(const QString& text);
    /// The recording followed has ended; following stopped. `paths` are its
    /// data files, empty when working files are left (a recorder that died).
    void ended(const QStringList& paths);

private:
    FileError Begin(const std::shared_ptr<FollowedRecording>& recording, FileError opened);
    void Tick();
    /// Extends the summaries towards what the recording holds now, by at
    /// most CATCH_UP_SAMPLES, and appends it; true while samples are left.
    bool Grow();

    ShownRecord& m_shown;
    QTimer* m_timer = nullptr;
    std::shared_ptr<FollowedShown> m_followed;
    std::string m_prefix;
    QString m_statusLine;
};
