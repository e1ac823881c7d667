#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

    /// A recorder whose files take no sample for longer than this is said to stall.
    static constexpr int STALL_MILLISECONDS = 2000;

    explicit RecordingFollower(ShownRecord& shown, QObject* parent = nullptr);

    /// Shows the recording of the series `prefix` as it is now and follows
    /// it. With `wait`, a prefix in an existing folder that neither a
    /// recorder holds nor a file names yet is waited for: begun follows once
    /// its recording starts.
    FileError Follow(const std::string& prefix, FollowedRecording::Options options = {}, bool wait = false);
    /// Stops following; the record shown stays as it is.
    void Stop();
    /// True while a recording is followed or waited for.
    bool Active() const;
    /// True while the prefix is waited for.
    bool Waiting() const { return m_waiting; }
    /// The prefix followed last.
    const std::string& Prefix() const { return m_prefix; }
    /// The status line of the recording followed, as statusChanged says it.
    QString StatusLine() const { return m_statusLine; }
    /// Tells whether the recording followed waits for its trigger now; by
    /// default, one without a sample may wait for its trigger or its logger.
    void SetTriggerWait(std::function<bool()> waiting) { m_triggerWait = std::move(waiting); }

    /// What the window says of a followed recording: "Recording running:
    /// 12,345 samples, last sample 2026-12-08 02:00:00.123 UTC", "Recording
    /// ended: 12,345 samples", and the words for a recording without a
    /// sample, one whose recorder stalls (`silentMs` without a new sample),
    /// and one whose recorder ended without closing its files.
    static QString StatusText(const FollowStatus& status, const std::string& prefix, std::int64_t silentMs = 0,
                              std::optional<bool> triggerWait = std::nullopt);

signals:
    void statusChanged(const QString& text);
    /// The recording of the prefix is shown from now on (at once, or once it
    /// started when it was waited for).
    void begun();
    /// The recording followed has ended; following stopped. `paths` are its
    /// data files, empty when working files are left (a recorder that died).
    void ended(const QStringList& paths);

private:
    void Begin(const std::shared_ptr<FollowedRecording>& recording);
    void Tick();
    /// Tries the prefix waited for again; true once its recording is shown.
    bool TryWaited();
    void SetStatus(const QString& line);
    /// Extends the summaries towards what the recording holds now, by at
    /// most CATCH_UP_SAMPLES, and appends it; true while samples are left.
    bool Grow();

    ShownRecord& m_shown;
    QTimer* m_timer = nullptr;
    std::shared_ptr<FollowedShown> m_followed;
    std::string m_prefix;
    FollowedRecording::Options m_options;
    bool m_waiting = false;
    QString m_statusLine;
    std::function<bool()> m_triggerWait;
    std::uint64_t m_lastCount = 0;
    QElapsedTimer m_sinceGrowth;  ///< since the recording last grew
};
