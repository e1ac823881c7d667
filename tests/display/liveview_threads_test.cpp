#include "display/liveview.h"

#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QColor FACE(240, 240, 240);
constexpr double CHANNEL_VOLTS[4] = {2.0, 4.0, 6.0, 8.0};

bool HasTrace(const QImage& image, const PlotView& view, int ch, int column) {
    const Rect& plot = view.Layout().plotRect[ch];
    const Rgb c = ChannelColor(ch);
    return image.pixel(plot.left + column, VoltToY(CHANNEL_VOLTS[ch], plot)) == qRgb(c.r, c.g, c.b);
}

// One acquisition's shared state, with a repaint callback that counts the
// drawing groups and lets the test wait for a given number of them.
class LiveViewRun : public ::testing::Test {
protected:
    void Prepare(std::uint32_t count) {
        view->RedrawAll(0, false, nullptr, count, 1);
        view->BuildColumnMap(count);
        for (int ch = 0; ch < 4; ++ch) {
            samples[ch].assign(count, 0.0);
            channels[ch] = samples[ch].data();
        }
    }

    void Start(bool triggerArmed) {
        thread = std::thread([this, triggerArmed] {
            LiveViewLoop(*view, channels, triggerArmed, acquiredCount, acqFinished, liveViewEnded,
                         [this] {
                             std::lock_guard<std::mutex> lock(mutex);
                             ++repaints;
                             changed.notify_all();
                         });
        });
    }

    // The transfer's side: every sample is written before the count covers it.
    void Deliver(std::uint32_t from, std::uint32_t to, std::uint32_t chunk) {
        for (std::uint32_t s = from; s < to; ++s) {
            for (int ch = 0; ch < 4; ++ch) {
                samples[ch][s] = CHANNEL_VOLTS[ch];
            }
            if ((s + 1) % chunk == 0 || s + 1 == to) {
                acquiredCount.store(s + 1);
            }
        }
    }

    void WaitForRepaints(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return repaints >= n; });
    }

    void Finish() {
        acqFinished.store(true);
        thread.join();
    }

    int Repaints() {
        std::lock_guard<std::mutex> lock(mutex);
        return repaints;
    }

    std::unique_ptr<PlotView> view = std::make_unique<PlotView>(DefaultPaneGeometry(), FACE);
    std::vector<double> samples[4];
    const double* channels[4] = {};
    std::atomic<std::uint32_t> acquiredCount{0};
    std::atomic<bool> acqFinished{false};
    std::atomic<bool> liveViewEnded{false};
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    int repaints = 0;
};

TEST_F(LiveViewRun, DrawsEveryColumnButTheLastAsSamplesArrive) {
    const std::uint32_t count = 5000;
    Prepare(count);
    Start(false);
    Deliver(0, count, 37);
    const int columns = view->Columns();
    WaitForRepaints(columns - 1);
    EXPECT_FALSE(liveViewEnded.load());
    Finish();
    EXPECT_TRUE(liveViewEnded.load());
    EXPECT_EQ(Repaints(), columns - 1);
    const QImage image = view->Snapshot();
    for (int ch = 0; ch < 4; ++ch) {
        for (int c = 0; c + 1 < columns; ++c) {
            ASSERT_TRUE(HasTrace(image, *view, ch, c)) << ch << " " << c;
        }
        EXPECT_FALSE(HasTrace(image, *view, ch, columns - 1)) << ch;
    }
}

TEST_F(LiveViewRun, TriggeredRunSwitchesTheLampOnTheFirstSample) {
    const std::uint32_t count = 800;
    Prepare(count);
    view->DrawLocked([&](QPainter& p) { view->DrawStatusLamp(p, LAMP_WAITING); });
    Start(true);
    Deliver(0, count, 1);
    WaitForRepaints(1 + view->Columns() - 1);
    Finish();
    const Rect& lamp = view->Geometry().groupRect[4];
    const Rgb acquisition = LAMP_COLORS[LAMP_ACQUISITION];
    EXPECT_EQ(view->Snapshot().pixel(lamp.left + 2, lamp.top + 2),
              qRgb(acquisition.r, acquisition.g, acquisition.b));
}

TEST_F(LiveViewRun, StoppedTransferEndsTheLoopWithAPartialTrace) {
    const std::uint32_t count = 10000;
    const std::uint32_t delivered = 4000;
    Prepare(count);
    Start(false);
    Deliver(0, delivered, 100);
    int drawable = 0;
    while (drawable + 1 < view->Columns() &&
           view->ColumnEnd()[drawable] < static_cast<std::int32_t>(delivered)) {
        ++drawable;
    }
    WaitForRepaints(drawable);
    Finish();
    EXPECT_TRUE(liveViewEnded.load());
    EXPECT_EQ(Repaints(), drawable);
    const QImage image = view->Snapshot();
    EXPECT_TRUE(HasTrace(image, *view, 0, drawable - 1));
    EXPECT_FALSE(HasTrace(image, *view, 0, drawable));
}

TEST_F(LiveViewRun, FinishedBeforeStartDrawsNothing) {
    for (bool triggerArmed : {false, true}) {
        Prepare(3000);
        Deliver(0, 3000, 3000);
        const QImage before = view->Snapshot();
        acqFinished.store(true);
        liveViewEnded.store(false);
        Start(triggerArmed);
        thread.join();
        EXPECT_TRUE(liveViewEnded.load()) << triggerArmed;
        EXPECT_EQ(Repaints(), 0) << triggerArmed;
        EXPECT_EQ(view->Snapshot(), before) << triggerArmed;
    }
}

TEST_F(LiveViewRun, MapForNoSamplesWaitsForTheEndWithoutDrawing) {
    Prepare(0);
    const QImage before = view->Snapshot();
    Start(false);
    Finish();
    EXPECT_TRUE(liveViewEnded.load());
    EXPECT_EQ(Repaints(), 0);
    EXPECT_EQ(view->Snapshot(), before);
}

}  // namespace
