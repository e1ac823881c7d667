#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

using simtest::ScriptVolts;

constexpr double UNWRITTEN = -12345.0;

// Four channel buffers pre-filled with a value no acquisition stores.
struct Buffers {
    explicit Buffers(std::size_t size) {
        for (auto& channel : data) channel.assign(size, UNWRITTEN);
        for (int c = 0; c < 4; ++c) pointers[c] = data[c].data();
    }
    std::vector<double> data[4];
    double* pointers[4];
};

struct Outcome {
    std::uint32_t result;
    std::uint32_t stored;
};

Outcome Acquire(simtest::OpenLogger& logger, Buffers& buffers, std::uint32_t divider, std::uint32_t count,
            TriggerSetup trigger = {}, const std::atomic<std::int32_t>* stop = nullptr) {
    std::atomic<std::uint32_t> counter{0};
    const std::uint32_t result = AcquireFrames(vossim::Api(), logger.handle, buffers.pointers, divider, count, &counter,
                                               logger.calibration, trigger, stop);
    return {result, counter.load()};
}

// The stream must be back to idle: stop byte written, then both queues purged.
void ExpectStopped(bool stopWritten = true) {
    const vossim::DeviceStats stats = vossim::Stats(0);
    ASSERT_GE(stats.events.size(), 2u);
    EXPECT_EQ(stats.events.back(), "purge 3");
    if (stopWritten) {
        EXPECT_FALSE(stats.streaming);
        EXPECT_EQ(stats.events[stats.events.size() - 2], "write 50");
    }
}

TEST(AcquireFrames, FrameAccountingAndDecimation) {
    struct Case {
        std::uint32_t divider, count;
    };
    for (const Case test : {Case{1, 1}, Case{1, 7}, Case{2, 5}, Case{5, 3}, Case{10, 4}}) {
        SCOPED_TRACE(testing::Message() << "divider " << test.divider << " count " << test.count);
        const std::size_t frames = 2 + test.divider * (test.count + 1);
        simtest::InstallOne(simtest::ScriptedLogger(frames, true));
        simtest::OpenLogger logger;
        Buffers buffers(test.count + 2);
        const Outcome run = Acquire(logger, buffers, test.divider, test.count);
        EXPECT_EQ(run.result, 0u);
        EXPECT_EQ(run.stored, test.count);
        EXPECT_EQ(vossim::Stats(0).bytesRead, 8 * frames);
        // Kept frame k (1-based) is raw frame 1 + k * divider; the first is consumed by the trigger test.
        for (std::uint32_t i = 0; i < test.count; ++i) {
            const std::size_t frame = 1 + (i + 2) * test.divider;
            for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(buffers.data[c][i], ScriptVolts(frame, c)) << i << " ch" << c;
        }
        for (int c = 0; c < 4; ++c) EXPECT_EQ(buffers.data[c][test.count], UNWRITTEN);
        ExpectStopped();
        logger.Close();
    }
}

TEST(AcquireFrames, AbsentDestinationsAreSkipped) {
    simtest::InstallOne(simtest::ScriptedLogger(100, false));
    simtest::OpenLogger logger;
    Buffers buffers(4);
    buffers.pointers[1] = nullptr;
    buffers.pointers[3] = nullptr;
    const Outcome run = Acquire(logger, buffers, 1, 3);
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.stored, 3u);
    EXPECT_DOUBLE_EQ(buffers.data[0][2], ScriptVolts(5, 0));
    EXPECT_DOUBLE_EQ(buffers.data[2][2], ScriptVolts(5, 2));
    EXPECT_EQ(buffers.data[1][0], UNWRITTEN);
    EXPECT_EQ(buffers.data[3][0], UNWRITTEN);
    logger.Close();
}

// A ramp on channel 2 (0.1 V per frame from frame 0) and the kept frame on
// which each trigger fires; the firing frame itself is not stored.
TEST(AcquireFrames, TriggerStartsStoringAfterTheFiringFrame) {
    struct Case {
        const char* name;
        std::uint8_t type;
        double threshold;
        bool falling;          // ramp down from 9.9 V instead of up from 0 V
        std::size_t firstStored;  // raw frame of the first stored sample
    };
    const Case cases[] = {
        {"level high", TRIGGER_LEVEL_H, 1.05, false, 12},  // frame 11 reads 1.1 V
        {"level high at once", TRIGGER_LEVEL_H, -1.0, false, 3},
        {"level low", TRIGGER_LEVEL_L, 8.95, true, 11},  // frame 10 reads 8.9 V
        {"slope rising", TRIGGER_SLOPE_RISING, 0.55, false, 7},  // frame 5 reads 0.5, frame 6 0.6
        {"slope falling", TRIGGER_SLOPE_FALLING, 9.45, true, 6},  // frame 4 reads 9.5, frame 5 9.4
        {"no trigger", TRIGGER_NONE, 0.0, false, 3},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = simtest::ScriptedLogger(0, false);
        device.calibration = vossim::MakeCalibration(2, 0.0, 10.0, {0, 0, 0, 0}, {100, 100, 100, 100});
        for (int i = 0; i < 100; ++i) {
            const auto code = static_cast<std::uint16_t>(test.falling ? 99 - i : i);
            device.script.push_back(simtest::Frame16(7, 7, code, 7));
        }
        simtest::InstallOne(device);
        simtest::OpenLogger logger;
        Buffers buffers(3);
        const Outcome run = Acquire(logger, buffers, 1, 3, TriggerSetup{2, test.type, test.threshold, 0});
        EXPECT_EQ(run.result, 0u);
        EXPECT_EQ(run.stored, 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            const double code = test.falling ? 99.0 - static_cast<double>(test.firstStored + i)
                                             : static_cast<double>(test.firstStored + i);
            EXPECT_NEAR(buffers.data[2][i], code * 0.1, 1e-12) << i;
            EXPECT_NEAR(buffers.data[0][i], 0.7, 1e-12);
        }
        logger.Close();
    }
}

TEST(AcquireFrames, WaitLimitEndsWithoutStoring) {
    simtest::InstallOne(simtest::ScriptedLogger(50, false));
    simtest::OpenLogger logger;
    Buffers buffers(4);
    const Outcome run = Acquire(logger, buffers, 2, 4, TriggerSetup{0, TRIGGER_LEVEL_H, 1e9, 5});
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.stored, 0u);
    EXPECT_EQ(vossim::Stats(0).bytesRead, 8u * (2 + 2 * 5));
    EXPECT_EQ(buffers.data[0][0], UNWRITTEN);
    ExpectStopped();
    logger.Close();
}

TEST(AcquireFrames, ZeroCountReadsOnlyTheLeadingFrames) {
    simtest::InstallOne(simtest::ScriptedLogger(50, false));
    simtest::OpenLogger logger;
    Buffers buffers(1);
    const Outcome run = Acquire(logger, buffers, 3, 0);
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.stored, 0u);
    EXPECT_EQ(vossim::Stats(0).bytesRead, 16u);
    ExpectStopped();
    logger.Close();
}

// Refused before anything is sent: nothing to stop.
TEST(AcquireFrames, RefusesWhatItCannotRunSafely) {
    struct Case {
        const char* name;
        std::uint8_t resolution;
        std::uint32_t divider;
        TriggerSetup trigger;
        std::uint32_t result;
    };
    const Case cases[] = {
        {"undecodable resolution", 1, 1, {}, RESULT_CALIBRATION_FORMAT},
        {"resolution 255", 255, 1, {}, RESULT_CALIBRATION_FORMAT},
        {"divider zero", 2, 0, {}, RESULT_INVALID_PARAMETER},
        {"trigger channel 4", 2, 1, {4, TRIGGER_LEVEL_H, 1.0, 0}, RESULT_INVALID_PARAMETER},
        {"trigger channel 255", 2, 1, {255, TRIGGER_SLOPE_FALLING, 1.0, 0}, RESULT_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        simtest::InstallOne(simtest::ScriptedLogger(50, false));
        simtest::OpenLogger logger;
        logger.calibration[CALIBRATION_RESOLUTION_OFFSET] = test.resolution;
        Buffers buffers(2);
        const std::size_t eventsBefore = vossim::Stats(0).events.size();
        const Outcome run = Acquire(logger, buffers, test.divider, 2, test.trigger);
        EXPECT_EQ(run.result, test.result);
        EXPECT_EQ(run.stored, 0u);
        EXPECT_EQ(vossim::Stats(0).events.size(), eventsBefore);
        EXPECT_EQ(buffers.data[0][0], UNWRITTEN);
        logger.Close();
    }
}

TEST(AcquireFrames, TriggerChannelIsIrrelevantWithoutAChannelTest) {
    simtest::InstallOne(simtest::ScriptedLogger(50, false));
    simtest::OpenLogger logger;
    Buffers buffers(2);
    const Outcome run = Acquire(logger, buffers, 1, 2, TriggerSetup{200, TRIGGER_NONE, 0.0, 0});
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.stored, 2u);
    logger.Close();
}

// One driver call failing during the run; the stream is always stopped and
// the handle can always be closed.
TEST(AcquireFrames, FaultMatrix) {
    using vossim::Call;
    struct Case {
        const char* name;
        std::function<void(vossim::SimDevice&)> fault;
        std::uint32_t result;
        std::uint32_t stored;
        bool stopWritten;
    };
    const Case cases[] = {
        {"start fails", [](auto& d) { d.Fault(Call::Write) = {FT_IO_ERROR, false, 0, 1}; }, FT_IO_ERROR, 0, true},
        {"start short", [](auto& d) { d.Fault(Call::Write) = {FT_OK, true, 0, 1}; }, RESULT_COMMUNICATION, 0, true},
        {"stop fails", [](auto& d) { d.Fault(Call::Write) = {FT_IO_ERROR, false, 1, 0}; }, 0, 3, false},
        {"final purge fails", [](auto& d) { d.Fault(Call::Purge) = {FT_IO_ERROR, false, 1, 0}; }, 0, 3, true},
        {"queue poll fails", [](auto& d) { d.Fault(Call::QueueStatus) = {FT_IO_ERROR, false, 0, 0}; }, FT_IO_ERROR, 0,
         true},
        {"queue poll fails later", [](auto& d) { d.Fault(Call::QueueStatus) = {FT_OTHER_ERROR, false, 5, 0}; },
         FT_OTHER_ERROR, 2, true},
        {"read fails", [](auto& d) { d.Fault(Call::Read) = {FT_IO_ERROR, false, 4, 0}; }, FT_IO_ERROR, 1, true},
        {"read short", [](auto& d) { d.Fault(Call::Read) = {FT_OK, true, 1, 0}; }, RESULT_COMMUNICATION, 0, true},
        {"stall", [](auto& d) { d.stallAfter = 4; }, RESULT_COMMUNICATION, 1, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = simtest::ScriptedLogger(100, false);
        test.fault(device);
        simtest::InstallOne(device);
        simtest::OpenLogger logger;
        Buffers buffers(4);
        const Outcome run = Acquire(logger, buffers, 1, 3);
        EXPECT_EQ(run.result, test.result);
        EXPECT_EQ(run.stored, test.stored);
        for (std::uint32_t i = 0; i < test.stored; ++i) EXPECT_DOUBLE_EQ(buffers.data[1][i], ScriptVolts(3 + i, 1));
        EXPECT_EQ(buffers.data[1][test.stored], UNWRITTEN);
        ExpectStopped(test.stopWritten);
        logger.Close();
    }
}

TEST(AcquireFrames, StallGivesUpAfterTenWaits) {
    simtest::InstallOne(simtest::ScriptedLogger(5, true));
    simtest::OpenLogger logger;
    Buffers buffers(10);
    const Outcome run = Acquire(logger, buffers, 1, 10);
    EXPECT_EQ(run.result, RESULT_COMMUNICATION);
    EXPECT_EQ(ResultMessage(run.result), "通信エラーが発生しました");
    EXPECT_EQ(run.stored, 2u);
    // One poll per delivered frame, then the first poll and ten more for the missing one.
    EXPECT_EQ(vossim::Stats(0).queuePolls, 5u + 11u);
    ExpectStopped();
    logger.Close();
}

TEST(AcquireFrames, DisconnectKeepsStoredSamples) {
    vossim::SimDevice device = simtest::ScriptedLogger(100, false);
    device.disconnectAfter = 6;  // 2 leading, 1 trigger test, 3 stored
    simtest::InstallOne(device);
    simtest::OpenLogger logger;
    Buffers buffers(10);
    const Outcome run = Acquire(logger, buffers, 1, 10);
    EXPECT_EQ(run.result, FT_IO_ERROR);
    EXPECT_EQ(run.stored, 3u);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(buffers.data[3][i], ScriptVolts(3 + i, 3));
    EXPECT_EQ(buffers.data[3][3], UNWRITTEN);
    logger.Close();
}

TEST(AcquireFrames, TricklingFrameIsReadOnlyWhenWhole) {
    vossim::SimDevice device = simtest::ScriptedLogger(10, false);
    device.trickle = true;
    simtest::InstallOne(device);
    simtest::OpenLogger logger;
    Buffers buffers(2);
    const Outcome run = Acquire(logger, buffers, 1, 1);
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.stored, 1u);
    EXPECT_DOUBLE_EQ(buffers.data[0][0], ScriptVolts(3, 0));
    const vossim::DeviceStats stats = vossim::Stats(0);
    EXPECT_EQ(stats.shortReads, 0u);
    EXPECT_EQ(stats.queuePolls, 4u * 8u);
    logger.Close();
}

TEST(AcquireFrames, TwelveBitLoggerReadsCalibratedVolts) {
    vossim::SimDevice device = vossim::MakeLogger("12", RESOLUTION_12_BIT);
    device.calibration = vossim::MakeCalibration(0, 0.0, 10.0, {0, 0, 0, 0}, {4000, 4000, 4000, 4000});
    device.script = {vossim::Frame{0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00}};
    simtest::InstallOne(device);
    simtest::OpenLogger logger;
    Buffers buffers(2);
    const Outcome run = Acquire(logger, buffers, 1, 2);
    EXPECT_EQ(run.result, 0u);
    for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(buffers.data[c][1], 5.12);
    logger.Close();
}

}  // namespace
