// AcquireFrames against another thread: the Stop flag and the stored counter.
#include <gtest/gtest.h>

#include <thread>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

constexpr double UNWRITTEN = -12345.0;

struct Channels {
    explicit Channels(std::size_t size) {
        for (int c = 0; c < 4; ++c) {
            data[c].assign(size, UNWRITTEN);
            pointers[c] = data[c].data();
        }
    }
    std::vector<double> data[4];
    double* pointers[4];
};

// Frame i carries code 10 * i + c on channel c (ScriptCode), then repeats the last frame.
vossim::SimDevice CountingLogger(std::size_t frames) {
    return simtest::ScriptedLogger(frames, false);
}

TEST(AcquireFramesThreads, StopWhileStoringKeepsExactlyTheCountedSamples) {
    simtest::InstallOne(CountingLogger(6000));
    simtest::OpenLogger logger;
    constexpr std::uint32_t REQUESTED = 1000000;
    Channels channels(REQUESTED);
    std::atomic<std::uint32_t> counter{0};
    std::atomic<std::int32_t> stop{0};
    std::atomic<std::uint32_t> seenAtStop{0};
    std::thread stopper([&] {
        while (counter.load(std::memory_order_acquire) < 1000) std::this_thread::yield();
        stop.store(1, std::memory_order_release);
        seenAtStop.store(counter.load(std::memory_order_acquire));
    });
    const std::uint32_t result = AcquireFrames(vossim::Api(), logger.handle, channels.pointers, 1, REQUESTED,
                                               &counter, logger.calibration, TriggerSetup{}, &stop);
    stopper.join();
    EXPECT_EQ(result, 0u);
    const std::uint32_t stored = counter.load();
    EXPECT_GE(stored, 1000u);
    EXPECT_LE(stored, seenAtStop.load() + 1);  // at most the frame in hand
    for (int c = 0; c < 4; ++c) {
        EXPECT_NE(channels.data[c][stored - 1], UNWRITTEN);
        EXPECT_EQ(channels.data[c][stored], UNWRITTEN);
    }
    logger.Close();
}

TEST(AcquireFramesThreads, LevelAboveAllInputRunsUntilStop) {
    simtest::InstallOne(CountingLogger(100));
    simtest::OpenLogger logger;
    Channels channels(10);
    std::atomic<std::uint32_t> counter{0};
    std::atomic<std::int32_t> stop{0};
    std::thread stopper([&] {
        while (vossim::Stats(0).bytesRead < 8 * 20000) std::this_thread::yield();
        stop.store(1);
    });
    const std::uint32_t result = AcquireFrames(vossim::Api(), logger.handle, channels.pointers, 1, 10, &counter,
                                               logger.calibration, TriggerSetup{0, TRIGGER_LEVEL_H, 1e6, 0}, &stop);
    stopper.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(counter.load(), 0u);
    EXPECT_EQ(channels.data[0][0], UNWRITTEN);
    logger.Close();
}

TEST(AcquireFramesThreads, StopFlagOtherThanOneIsIgnored) {
    simtest::InstallOne(CountingLogger(100));
    simtest::OpenLogger logger;
    Channels channels(50);
    std::atomic<std::uint32_t> counter{0};
    std::atomic<std::int32_t> stop{2};
    EXPECT_EQ(AcquireFrames(vossim::Api(), logger.handle, channels.pointers, 3, 50, &counter, logger.calibration,
                            TriggerSetup{}, &stop),
              0u);
    EXPECT_EQ(counter.load(), 50u);
    logger.Close();
}

// The live view draws samples up to the counter; each must already be in place.
TEST(AcquireFramesThreads, CounterNeverRunsAheadOfTheBuffers) {
    constexpr std::size_t FRAMES = 5000;
    simtest::InstallOne(CountingLogger(FRAMES));
    simtest::OpenLogger logger;
    constexpr std::uint32_t COUNT = 200000;
    Channels channels(COUNT);
    std::atomic<std::uint32_t> counter{0};
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> violations{0};
    std::atomic<std::uint64_t> checks{0};
    std::thread viewer([&] {
        while (!done.load(std::memory_order_acquire)) {
            const std::uint32_t n = counter.load(std::memory_order_acquire);
            if (n == 0) continue;
            for (int c = 0; c < 4; ++c) {
                if (channels.data[c][n - 1] == UNWRITTEN) violations.fetch_add(1);
            }
            checks.fetch_add(1);
        }
    });
    const std::uint32_t result = AcquireFrames(vossim::Api(), logger.handle, channels.pointers, 1, COUNT, &counter,
                                               logger.calibration, TriggerSetup{}, nullptr);
    done.store(true, std::memory_order_release);
    viewer.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(counter.load(), COUNT);
    EXPECT_EQ(violations.load(), 0u);
    EXPECT_GT(checks.load(), 0u);
    // Frame 3 + i is stored as sample i; the script repeats its last frame.
    for (std::uint32_t i : {0u, 1u, 4000u, COUNT - 1}) {
        const std::size_t frame = std::min<std::size_t>(3 + i, FRAMES - 1);
        EXPECT_DOUBLE_EQ(channels.data[2][i], simtest::ScriptVolts(frame, 2)) << i;
    }
    logger.Close();
}

// At 1 Hz (divider 10000) on the realtime logger, with its USB packets, a
// Stop raised between kept frames ends the run within the frame in hand.
TEST(AcquireFramesThreads, StopAtASlowClockEndsWithinOneFrame) {
    vossim::SimConfig config;
    config.devices = {CountingLogger(100)};
    vossim::Install(config);
    simtest::OpenLogger logger;
    Channels channels(10);
    std::atomic<std::uint32_t> counter{0};
    std::atomic<std::int32_t> stop{0};
    std::atomic<std::uint64_t> readAtStop{0};
    std::thread stopper([&] {
        while (vossim::Stats(0).bytesRead < 8 * 500) std::this_thread::yield();
        stop.store(1);
        readAtStop.store(vossim::Stats(0).bytesRead);
    });
    const std::uint32_t result = AcquireFrames(vossim::Api(), logger.handle, channels.pointers, 10000, 10, &counter,
                                               logger.calibration, TriggerSetup{}, &stop);
    stopper.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(counter.load(), 0u);
    EXPECT_LE(vossim::Stats(0).bytesRead, readAtStop.load() + 8);
    logger.Close();
}

}  // namespace
