#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/run.h"
#include "numtext/duration.h"

namespace vosctl {

/// One line of the acquire progress bar, at most `width` columns:
/// "[#####-----]  500/1000 samples  0:05 elapsed  0:05 left", or
/// "waiting for trigger  0:05 elapsed" while the trigger is armed and
/// nothing is stored. `leftSeconds` < 0 leaves the time left out.
std::string ProgressLine(std::uint64_t stored, std::uint64_t total, bool waiting, std::int64_t elapsedSeconds,
                         std::int64_t leftSeconds, int width);

/// "m:ss", or "h:mm:ss" from one hour on.
inline std::string ClockText(std::int64_t seconds) { return ElapsedText(seconds); }

using ::UtcText;

/// Follows a run on a terminal in place of the window's live view: redraws
/// the progress line on `stream` every 100 ms until the run has finished,
/// then sets liveViewEnded. Without a terminal it draws nothing and ends at once.
class ProgressBar {
public:
    ProgressBar(std::FILE* stream, bool terminal) : m_stream(stream), m_terminal(terminal) {}
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// Starts following a run of `total` samples at `divider`.
    void Start(const AcquisitionFlags& flags, std::uint32_t total, std::int32_t divider, bool triggerArmed);
    /// Waits for the line's thread, which ends once the run has finished.
    void Join();

private:
    void Follow(const AcquisitionFlags& flags, std::uint32_t total, std::int32_t divider, bool triggerArmed);

    std::FILE* m_stream;
    bool m_terminal;
    std::thread m_thread;
};

/// Follows work counted in samples, such as the summaries of a series being
/// built, on a terminal: "<label> [#####-----]  500/1000 samples  0:05
/// elapsed  0:05 left", redrawn every 100 ms from construction until
/// Finish, which draws the last line. Without a terminal it draws nothing.
class CountProgress {
public:
    CountProgress(std::FILE* stream, bool terminal, std::string label, const std::atomic<std::uint64_t>& done,
                  std::uint64_t total);
    ~CountProgress() { Finish(); }
    CountProgress(const CountProgress&) = delete;
    CountProgress& operator=(const CountProgress&) = delete;

    void Finish();

private:
    void Follow();

    std::FILE* m_stream;
    std::string m_label;
    const std::atomic<std::uint64_t>& m_done;
    std::uint64_t m_total;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_finished = false;
    std::thread m_thread;
};

}  // namespace vosctl
