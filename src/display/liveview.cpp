#include "display/liveview.h"

#include <chrono>
#include <thread>

namespace {

constexpr std::chrono::milliseconds POLL_INTERVAL{10};

// Waits until `need` samples have arrived; false once the transfer has
// returned, which is tested first so that no column is drawn after it.
bool WaitForSamples(const std::atomic<std::uint32_t>& acquiredCount,
                    const std::atomic<bool>& acqFinished, std::uint32_t need) {
    for (;;) {
        if (acqFinished.load()) {
            return false;
        }
        if (acquiredCount.load() >= need) {
            return true;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

void Repaint(const std::function<void()>& requestRepaint) {
    if (requestRepaint) {
        requestRepaint();
    }
}

// Returns false when the transfer ended before every column was drawn.
bool DrawColumns(PlotView& view, const double* const channels[4],
                 const std::atomic<std::uint32_t>& acquiredCount,
                 const std::atomic<bool>& acqFinished,
                 const std::function<void()>& requestRepaint) {
    const std::int32_t columns = view.Columns();
    for (std::int32_t c = 0; c + 1 < columns; ++c) {
        const std::int32_t last = view.ColumnEnd()[c];
        if (last < 0) {
            // A map for 0 samples: no column can ever be drawn.
            return true;
        }
        if (!WaitForSamples(acquiredCount, acqFinished, static_cast<std::uint32_t>(last) + 1)) {
            return false;
        }
        for (int ch = 0; ch < 4; ++ch) {
            view.UpdateLiveColumn(ch, c, channels[ch]);
        }
        view.DrawLocked([&](QPainter& painter) { view.DrawLiveColumn(painter, c); });
        Repaint(requestRepaint);
    }
    return true;
}

}  // namespace

void LiveViewLoop(PlotView& view, const double* const channels[4], bool triggerArmed,
                  const std::atomic<std::uint32_t>& acquiredCount,
                  const std::atomic<bool>& acqFinished, std::atomic<bool>& liveViewEnded,
                  const std::function<void()>& requestRepaint) {
    bool running = true;
    if (triggerArmed) {
        running = WaitForSamples(acquiredCount, acqFinished, 1);
        if (running) {
            view.DrawLocked([&](QPainter& painter) { view.DrawStatusLamp(painter, LAMP_ACQUISITION); });
            Repaint(requestRepaint);
        }
    }
    if (running && DrawColumns(view, channels, acquiredCount, acqFinished, requestRepaint)) {
        while (!acqFinished.load()) {
            std::this_thread::sleep_for(POLL_INTERVAL);
        }
    }
    liveViewEnded.store(true);
}
