#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

#include "settings/settings.h"

namespace vosctl {

namespace {

constexpr auto REDRAW_PERIOD = std::chrono::milliseconds(100);
constexpr int DEFAULT_WIDTH = 80;

int TerminalWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return DEFAULT_WIDTH;
}

}  // namespace

std::string ProgressLine(std::uint64_t stored, std::uint64_t total, bool waiting, std::int64_t elapsedSeconds,
                         std::int64_t leftSeconds, int width) {
    const std::string elapsed = "  " + ClockText(elapsedSeconds) + " elapsed";
    if (waiting) {
        return ("waiting for trigger" + elapsed).substr(0, static_cast<std::size_t>(std::max(width, 0)));
    }
    std::string tail = "  " + std::to_string(stored) + "/" + std::to_string(total) + " samples" + elapsed;
    if (leftSeconds >= 0) {
        tail += "  " + ClockText(leftSeconds) + " left";
    }
    const int barWidth = std::min(40, width - 2 - static_cast<int>(tail.size()));
    if (barWidth < 5) {
        return tail.substr(2, static_cast<std::size_t>(std::max(width, 0)));
    }
    const int filled = total == 0 ? 0 : static_cast<int>(stored * static_cast<std::uint64_t>(barWidth) / total);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]" + tail;
}

ProgressBar::~ProgressBar() { Join(); }

void ProgressBar::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ProgressBar::Start(const AcquisitionFlags& flags, std::uint32_t total, std::int32_t divider,
                        bool triggerArmed) {
    if (!m_terminal) {
        flags.liveViewEnded.store(true);
        return;
    }
    m_thread = std::thread([this, flags, total, divider, triggerArmed] { Follow(flags, total, divider, triggerArmed); });
}

void ProgressBar::Follow(const AcquisitionFlags& flags, std::uint32_t total, std::int32_t divider,
                         bool triggerArmed) {
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t periodNs = static_cast<std::int64_t>(divider) * BASE_CLOCK_NS;
    const int width = TerminalWidth(m_stream) - 1;
    for (;;) {
        const bool finished = flags.acqFinished.load();
        const std::uint32_t stored = flags.acquiredCount.load(std::memory_order_acquire);
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
        // The logger's clock, not the run so far, tells the time left.
        const std::int64_t left = static_cast<std::int64_t>(total - std::min(stored, total)) * periodNs / 1000000000;
        const std::string line = ProgressLine(stored, total, triggerArmed && stored == 0, elapsed.count(), left, width);
        std::fprintf(m_stream, "\r\033[K%s%s", line.c_str(), finished ? "\n" : "");
        std::fflush(m_stream);
        if (finished) {
            break;
        }
        std::this_thread::sleep_for(REDRAW_PERIOD);
    }
    flags.liveViewEnded.store(true);
}

CountProgress::CountProgress(std::FILE* stream, bool terminal, std::string label,
                             const std::atomic<std::uint64_t>& done, std::uint64_t total)
    : m_stream(stream), m_label(std::move(label)), m_done(done), m_total(total) {
    if (terminal) {
        m_thread = std::thread([this] { Follow(); });
    }
}

void CountProgress::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_finished = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CountProgress::Follow() {
    const auto start = std::chrono::steady_clock::now();
    const int width = TerminalWidth(m_stream) - 1 - static_cast<int>(m_label.size()) - 1;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        const bool finished = m_finished;
        const std::uint64_t done = std::min<std::uint64_t>(m_done.load(), m_total);
        const auto elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        // The pace so far tells the time left.
        const std::int64_t left =
            done == 0 || finished ? -1 : elapsedMs * static_cast<std::int64_t>(m_total - done) / done / 1000;
        const std::string line = ProgressLine(done, m_total, false, elapsedMs / 1000, left, width);
        std::fprintf(m_stream, "\r\033[K%s %s%s", m_label.c_str(), line.c_str(), finished ? "\n" : "");
        std::fflush(m_stream);
        if (finished) {
            break;
        }
        m_wake.wait_for(lock, REDRAW_PERIOD, [this] { return m_finished; });
    }
}

}  // namespace vosctl
