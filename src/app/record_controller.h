#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "acquisition/record.h"
#include "files/prefix_lock.h"

/// One recording to files started from the window: the Recorder that
/// vosctl record runs, on a thread of its own, in the window's process. It
/// holds the prefix lock from the dialog's check until the recording ends.
/// UI thread only, but for the recorder it runs.
class RecordController : public QObject {
    Q_OBJECT

public:
    explicit RecordController(QObject* parent = nullptr);
    /// Stops a recording still running and waits for it.
    ~RecordController() override;

    /// Starts recording `options` on `api`; the series' prefix is held in
    /// `lock`. With `overwrite` the old series of the prefix is removed once
    /// the logger is open, as vosctl record --overwrite does. `marker`, when
    /// not empty, is a file naming the prefix that is removed when the
    /// recording ends while the program lives (a kill leaves it for the next start).
    void Start(const D2xxApi& api, RecordOptions options, bool overwrite, std::unique_ptr<PrefixLock> lock,
               QString marker = {});
    /// Ends the recording as Ctrl-C ends vosctl record: the samples received are written.
    void Stop();
    /// Stops and waits until the recording has ended and finished is emitted.
    void StopAndWait();
    bool Running() const { return m_thread.joinable(); }
    /// No file of an old series under the prefix is left: there was none, or
    /// the overwrite removed them. What the prefix holds from then on is this recording's.
    bool OldSeriesGone() const { return m_oldSeriesGone.load(std::memory_order_acquire); }

    /// Running, armed with a trigger that has not come yet.
    bool WaitingForTrigger() const;
    /// "Logger 12001: 0:03 elapsed, 30000 samples, 3 files" (or waiting for the trigger).
    QString ProgressText() const;
    std::uint64_t Samples() const;
    const RecordOptions& Options() const { return m_options; }
    const RecordOutcome& Outcome() const { return m_outcome; }
    /// A file's errno in the words a user looks for: "the disk is full",
    /// "the folder does not exist", else the system's text.
    static QString CauseText(int error);
    /// What the ended recording left on disk, as vosctl record says it.
    QString EndText() const { return m_endText; }

signals:
    /// The recording has started; finished follows.
    void started();
    /// The recording has ended; Outcome and EndText tell how.
    void finished();

private:
    void Finish();
    /// "Logger 12001: ", the logger recorded; empty when none is named.
    QString LoggerText() const;

    RecordOptions m_options;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<PrefixLock> m_lock;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_oldSeriesGone{false};
    RecordOutcome m_outcome;  // written by the thread before m_done, read after
    QElapsedTimer m_elapsed;
    std::int64_t m_seconds = 0;
    QString m_marker;
    QString m_endText;
};
