#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/run.h"

/// The samples of one acquisition run kept on disk while it goes, so that a
/// run the program did not live to end can be recovered: a thread of its own
/// appends what was stored to the working file FOLDER/run-YYYYMMDD-HHMMSS-000001.vrec
/// at least every RECORD_FLUSH_PERIOD, each time followed by fdatasync. The
/// file is one file of a series whose split is the run's sample count, so
/// RecoverSeries turns it into FOLDER/run-YYYYMMDD-HHMMSS-000001.dlf. The run
/// never waits for the disk and never fails because of it: when the file
/// cannot be written it is given up (with a note on standard error) and the
/// run goes on in memory.
class RunJournal {
public:
    /// Working files go to `folder`, created when missing; empty: none.
    explicit RunJournal(std::string folder);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    /// Starts following a run with `settings`: sample i of channel c is
    /// complete in channels[c][i] once `stored` (release order) exceeds i.
    /// The arguments must outlive Finish().
    void Start(const AcquisitionSettings& settings, double* const channels[4], const std::atomic<std::uint32_t>& stored);

    /// The run has ended while the program lives: stops following it and
    /// removes the working file.
    void Finish();

private:
    void Follow();

    const std::string m_folder;
    AcquisitionSettings m_settings;
    double* m_channels[4] = {};
    const std::atomic<std::uint32_t>* m_stored = nullptr;
    std::int64_t m_startedMicros = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_finish = false;
};
