// The simulated logger's link as a real one behaves: unplugging, frames in
// flight after the stop byte, and the USB chip's packets and latency timer.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

void Install(vossim::Pace pace, std::vector<vossim::SimDevice> devices, vossim::UsbLink usb = {}) {
    vossim::SimConfig config;
    config.pace = pace;
    config.usb = usb;
    config.devices = std::move(devices);
    vossim::Install(config);
}

FT_STATUS Write(FT_HANDLE handle, std::uint8_t byte) {
    DWORD written = 0;
    return vossim::Api().FT_Write(handle, &byte, 1, &written);
}

FT_STATUS Poll(FT_HANDLE handle, DWORD& waiting) { return vossim::Api().FT_GetQueueStatus(handle, &waiting); }

FT_STATUS ReadBytes(FT_HANDLE handle, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    DWORD received = 0;
    return vossim::Api().FT_Read(handle, bytes.data(), static_cast<DWORD>(count), &received);
}

// Every call on a handle whose logger left the bus fails with FT_IO_ERROR;
// the logger is no longer listed nor found, and the handle can be closed.
TEST(SimUnplug, LoggerLeavesTheBusAfterItsFrames) {
    vossim::SimDevice leaving = simtest::ScriptedLogger(100, false);
    leaving.serial = "300";
    leaving.unplugAfter = 5;
    Install(vossim::Pace::Instant, {leaving, vossim::MakeLogger("301", 2)});
    const D2xxApi& api = vossim::Api();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(api.FT_OpenEx(const_cast<char*>("300"), 1, &handle), 0u);
    ASSERT_EQ(Write(handle, 0x53), 0u);
    for (int frame = 0; frame < 5; ++frame) ASSERT_EQ(ReadBytes(handle, 8), 0u) << frame;
    EXPECT_FALSE(vossim::Stats(0).unplugged);

    struct Case {
        const char* call;
        std::function<FT_STATUS()> run;
    };
    DWORD number = 0;
    std::uint8_t block[54];
    const Case cases[] = {
        {"queue", [&] { return Poll(handle, number); }},
        {"read", [&] { return ReadBytes(handle, 8); }},
        {"write", [&] { return Write(handle, 0x50); }},
        {"purge", [&] { return api.FT_Purge(handle, 3); }},
        {"reset", [&] { return api.FT_ResetDevice(handle); }},
        {"baud", [&] { return api.FT_SetBaudRate(handle, 3000000); }},
        {"timeouts", [&] { return api.FT_SetTimeouts(handle, 500, 500); }},
        {"eeprom", [&] { return api.FT_EE_UARead(handle, block, 54, &number); }},
    };
    for (const Case& test : cases) EXPECT_EQ(test.run(), 4u) << test.call;
    EXPECT_TRUE(vossim::Stats(0).unplugged);

    DWORD count = 0;
    ASSERT_EQ(api.FT_ListDevices(&count, nullptr, 0x80000000u), 0u);
    EXPECT_EQ(count, 1u);
    char serial[64] = {};
    ASSERT_EQ(api.FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{0}), serial, 0x40000001u), 0u);
    EXPECT_STREQ(serial, "301");
    EXPECT_EQ(api.FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{1}), serial, 0x40000001u), 2u);

    FT_HANDLE again = nullptr;
    EXPECT_EQ(api.FT_OpenEx(const_cast<char*>("300"), 1, &again), 2u);
    EXPECT_EQ(api.FT_Close(handle), 0u);
    EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    EXPECT_EQ(api.FT_OpenEx(const_cast<char*>("300"), 1, &again), 2u);
}

TEST(SimUnplug, AcquisitionKeepsWhatItStored) {
    struct Case {
        vossim::Pace pace;
        std::uint32_t stored;
    };
    for (const Case test : {Case{vossim::Pace::Instant, 3}, Case{vossim::Pace::Realtime, 0}}) {
        vossim::SimDevice device = simtest::ScriptedLogger(100, false);
        device.unplugAfter = 6;  // 2 leading, 1 trigger test, 3 stored
        Install(test.pace, {device});
        simtest::OpenLogger logger;
        std::vector<double> channel(10, -1.0);
        double* destinations[4] = {channel.data(), nullptr, nullptr, nullptr};
        std::atomic<std::uint32_t> counter{0};
        EXPECT_EQ(AcquireFrames(vossim::Api(), logger.handle, destinations, 1, 10, &counter, logger.calibration,
                                TriggerSetup{}, nullptr),
                  4u);
        // At the realtime pace the six frames never fill a packet before the
        // unplug, so they are lost with the chip.
        EXPECT_EQ(counter.load(), test.stored);
        EXPECT_EQ(DeviceClose(vossim::Api(), logger.handle), 0u);
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(DeviceOpen(vossim::Api(), "100", &handle), 2u);
    }
}

// After the stop byte the frames of the next few milliseconds still arrive;
// the stop, 50 ms pause and purge leave nothing behind.
TEST(SimInFlight, FramesArriveAfterTheStopByte) {
    struct Case {
        vossim::Pace pace;
        std::uint32_t ms;
        std::uint64_t frames;
    };
    const Case cases[] = {
        {vossim::Pace::Realtime, 3, 30}, {vossim::Pace::Realtime, 0, 0}, {vossim::Pace::Realtime, 7, 70},
        {vossim::Pace::Instant, 3, 30},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << test.ms << " ms, instant " << (test.pace == vossim::Pace::Instant));
        vossim::SimDevice device = simtest::ScriptedLogger(100, false);
        device.inFlightMs = test.ms;
        Install(test.pace, {device});
        simtest::OpenLogger logger;
        const D2xxApi& api = vossim::Api();
        ASSERT_EQ(SendStart(api, logger.handle), 0u);
        ASSERT_EQ(ReadBytes(logger.handle, 16), 0u);
        StopStreaming(api, logger.handle);
        const vossim::DeviceStats stats = vossim::Stats(0);
        EXPECT_EQ(stats.framesAfterStop, test.frames);
        EXPECT_EQ(stats.inFlightAtPurge, 0u);
        DWORD waiting = 1;
        EXPECT_EQ(Poll(logger.handle, waiting), 0u);
        EXPECT_EQ(waiting, 0u);
        logger.Close();
    }
}

TEST(SimInFlight, APurgeRightAfterTheStopByteMissesThem) {
    vossim::SimDevice device = simtest::ScriptedLogger(100, false);
    device.inFlightMs = 200;
    Install(vossim::Pace::Realtime, {device}, vossim::UsbLink{0, 16});
    simtest::OpenLogger logger;
    const D2xxApi& api = vossim::Api();
    ASSERT_EQ(SendStart(api, logger.handle), 0u);
    ASSERT_EQ(ReadBytes(logger.handle, 16), 0u);
    ASSERT_EQ(SendStop(api, logger.handle), 0u);
    ASSERT_EQ(api.FT_Purge(logger.handle, 3), 0u);
    const std::uint64_t late = vossim::Stats(0).inFlightAtPurge;
    EXPECT_GT(late, 0u);
    EXPECT_LE(late, 2000u);
    DWORD waiting = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waiting == 0 && Clock::now() < deadline) ASSERT_EQ(Poll(logger.handle, waiting), 0u);
    EXPECT_GT(waiting, 0u);
    logger.Close();
}

// Bytes reach the driver in whole 62-byte packets while the stream runs: what
// was read plus what waits is always a multiple of 62.
TEST(SimUsbPackets, StreamArrivesInWholePackets) {
    struct Case {
        vossim::UsbLink usb;
        std::uint64_t unit;
    };
    for (const Case test : {Case{{62, 16}, 62}, Case{{64, 1}, 64}, Case{{0, 16}, 8}}) {
        SCOPED_TRACE(test.usb.packetBytes);
        Install(vossim::Pace::Realtime, {simtest::ScriptedLogger(100, false)}, test.usb);
        simtest::OpenLogger logger;
        ASSERT_EQ(SendStart(vossim::Api(), logger.handle), 0u);
        std::uint64_t read = 0;
        bool straddled = false;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (read < 4000 && Clock::now() < deadline) {
            DWORD waiting = 0;
            ASSERT_EQ(Poll(logger.handle, waiting), 0u);
            ASSERT_EQ((read + waiting) % test.unit, 0u) << "read " << read << " waiting " << waiting;
            straddled = straddled || waiting % 8 != 0;
            if (waiting >= 8) {
                ASSERT_EQ(ReadBytes(logger.handle, 8), 0u);
                read += 8;
            }
        }
        EXPECT_GE(read, 4000u);
        EXPECT_EQ(straddled, test.unit % 8 != 0);
        StopStreaming(vossim::Api(), logger.handle);
        logger.Close();
    }
}

// A stream that falls silent part-way through a packet: the rest comes when
// the latency timer fires, and never before the packet is whole or it fires.
TEST(SimUsbPackets, LatencyTimerFlushesAPartlyFilledPacket) {
    vossim::SimDevice device = simtest::ScriptedLogger(100, false);
    device.stallAfter = 10;  // 80 bytes: one full packet and 18 bytes
    Install(vossim::Pace::Realtime, {device}, vossim::UsbLink{62, 16});
    simtest::OpenLogger logger;
    ASSERT_EQ(SendStart(vossim::Api(), logger.handle), 0u);
    DWORD waiting = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waiting < 80 && Clock::now() < deadline) {
        ASSERT_EQ(Poll(logger.handle, waiting), 0u);
        ASSERT_TRUE(waiting == 0 || waiting == 62 || waiting == 80) << waiting;
    }
    EXPECT_EQ(waiting, 80u);
    StopStreaming(vossim::Api(), logger.handle);
    logger.Close();
}

}  // namespace
