#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <functional>
#include <thread>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"

namespace {

using vossim::Call;
using vossim::SimConfig;

TEST(ParseConfig, AcceptsEveryLineKind) {
    struct Case {
        const char* text;
        std::function<void(const SimConfig&)> check;
    };
    const Case cases[] = {
        {"", [](const SimConfig& c) { EXPECT_TRUE(c.devices.empty()); }},
        {"  # only a comment\n\n", [](const SimConfig& c) { EXPECT_TRUE(c.devices.empty()); }},
        {"pace instant", [](const SimConfig& c) { EXPECT_EQ(c.pace, vossim::Pace::Instant); }},
        {"pace realtime # trailing comment", [](const SimConfig& c) { EXPECT_EQ(c.pace, vossim::Pace::Realtime); }},
        {"bus list_status=18", [](const SimConfig& c) { EXPECT_EQ(c.listStatus, 18u); }},
        {"device serial=12345 resolution=12 description=FT232R",
         [](const SimConfig& c) {
             ASSERT_EQ(c.devices.size(), 1u);
             EXPECT_EQ(c.devices[0].serial, "12345");
             EXPECT_EQ(c.devices[0].description, "FT232R");
             EXPECT_EQ(c.devices[0].resolution, RESOLUTION_12_BIT);
             EXPECT_EQ(c.devices[0].calibration[CALIBRATION_RESOLUTION_OFFSET], RESOLUTION_12_BIT);
         }},
        {"device serial=7 count=130\nfault trickle",
         [](const SimConfig& c) {
             ASSERT_EQ(c.devices.size(), 130u);
             EXPECT_EQ(c.devices[129].serial, "136");
             EXPECT_TRUE(c.devices[0].trickle && c.devices[129].trickle);
         }},
        {"device serial=1\ncalibration resolution_code=1 v1=0 v2=10 c1=0,1,2,3 c2=4000,4001,4002,4003",
         [](const SimConfig& c) {
             const Conversion conversion = ComputeConversion(c.devices[0].calibration.data());
             EXPECT_EQ(conversion.resolution, 1);
             EXPECT_DOUBLE_EQ(conversion.gain[0], 0.0025);
             EXPECT_EQ(c.devices[0].calibration[CALIBRATION_C2_OFFSET + 6], 4003 & 0xFF);
         }},
        {"device serial=1\nchannel 3 noise amp=0.5 offset=2 seed=9\nchannel 0 sine freq=2.5 amp=4 offset=5",
         [](const SimConfig& c) {
             const auto& channels = c.devices[0].channels;
             EXPECT_EQ(channels[3].wave, vossim::Waveform::Noise);
             EXPECT_EQ(channels[3].seed, 9u);
             EXPECT_EQ(channels[0].wave, vossim::Waveform::Sine);
             EXPECT_EQ(channels[0].frequency, 2.5);
             EXPECT_EQ(channels[1].wave, vossim::Waveform::Dc);
         }},
        {"device serial=1\nfault open status=3\nfault write short after=1 times=2\nfault eeprom_count=53\n"
         "fault stall_after=1000\nfault disconnect_after=500",
         [](const SimConfig& c) {
             const auto& d = c.devices[0];
             EXPECT_EQ(d.Fault(Call::Open).status, 3u);
             EXPECT_TRUE(d.Fault(Call::Write).shortTransfer);
             EXPECT_EQ(d.Fault(Call::Write).after, 1u);
             EXPECT_EQ(d.Fault(Call::Write).times, 2u);
             EXPECT_EQ(d.eepromCount, 53u);
             EXPECT_EQ(d.stallAfter, 1000u);
             EXPECT_EQ(d.disconnectAfter, 500u);
         }},
        {"usb off", [](const SimConfig& c) { EXPECT_EQ(c.usb.packetBytes, 0u); }},
        {"usb packet=64 latency=2",
         [](const SimConfig& c) {
             EXPECT_EQ(c.usb.packetBytes, 64u);
             EXPECT_EQ(c.usb.latencyMs, 2u);
         }},
        {"usb latency=1",
         [](const SimConfig& c) {
             EXPECT_EQ(c.usb.packetBytes, 62u);
             EXPECT_EQ(c.usb.latencyMs, 1u);
         }},
        {"device serial=1",
         [](const SimConfig& c) {
             EXPECT_EQ(c.usb.packetBytes, 62u);
             EXPECT_EQ(c.usb.latencyMs, 16u);
             EXPECT_EQ(c.devices[0].inFlightMs, 3u);
             EXPECT_EQ(c.devices[0].unplugAfter, vossim::NEVER);
         }},
        {"device serial=1 count=2\nfault unplug_after=700\nstop in_flight_ms=0",
         [](const SimConfig& c) {
             EXPECT_EQ(c.devices[1].unplugAfter, 700u);
             EXPECT_EQ(c.devices[1].inFlightMs, 0u);
         }},
        {"device serial=1\nclock ppm=-200\nhold after=5000 ms=3000",
         [](const SimConfig& c) {
             EXPECT_EQ(c.devices[0].clockPpm, -200);
             EXPECT_EQ(c.devices[0].holdAfter, 5000u);
             EXPECT_EQ(c.devices[0].holdMs, 3000u);
         }},
        {"device serial=1",
         [](const SimConfig& c) {
             EXPECT_EQ(c.devices[0].clockPpm, 0);
             EXPECT_EQ(c.devices[0].holdAfter, vossim::NEVER);
         }},
        {"device serial=1\nscript stall 0100000000000000 ff00ff00ff00ff0A",
         [](const SimConfig& c) {
             const auto& d = c.devices[0];
             ASSERT_EQ(d.script.size(), 2u);
             EXPECT_TRUE(d.scriptStalls);
             EXPECT_EQ(d.script[0][0], 0x01);
             EXPECT_EQ(d.script[1][7], 0x0A);
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        SimConfig config;
        std::string errors;
        EXPECT_TRUE(vossim::ParseConfig(test.text, config, &errors));
        EXPECT_EQ(errors, "");
        test.check(config);
    }
}

TEST(ParseConfig, SkipsMalformedLinesAndKeepsTheRest) {
    const char* bad[] = {
        "frobnicate",
        "device resolution=14",
        "device serial=abc count=3",
        "device serial=1 count=0",
        "device serial=1 colour=red",
        "pace fast",
        "bus list_status=x",
        "channel 4 sine",
        "channel 0 wobble",
        "channel 0 sine freq=nan",
        "channel 0 sine freq=1e999",
        "calibration c1=1,2,3",
        "calibration c1=1,2,3,70000",
        "fault",
        "fault bogus status=4",
        "fault write status=0",
        "fault write status=x",
        "fault read",
        "fault purge short",
        "fault stall_after=-1",
        "fault unplug_after=soon",
        "usb packet=0",
        "usb latency=256",
        "usb on",
        "usb speed=12",
        "stop",
        "stop in_flight_ms=-3",
        "stop in_flight_ms=60001",
        "clock",
        "clock ppm=fast",
        "clock ppm=100001",
        "clock ppm=200 drift=1",
        "hold after=10",
        "hold ms=10",
        "hold after=10 ms=600001",
        "script repeat 0011",
        "script forever 0000000000000000",
        "script stall 00000000000000zz",
        "=\x01\xff==",
    };
    for (const char* line : bad) {
        SCOPED_TRACE(line);
        const std::string text = std::string("device serial=5\n") + line + "\ndevice serial=6\n";
        SimConfig config;
        std::string errors;
        EXPECT_FALSE(vossim::ParseConfig(text, config, &errors));
        EXPECT_EQ(errors.rfind("line 2: ", 0), 0u) << errors;
        ASSERT_EQ(config.devices.size(), 2u);
        EXPECT_EQ(config.devices[0].serial, "5");
        EXPECT_TRUE(config.devices[0].script.empty());
        EXPECT_EQ(config.devices[0].channels[0].wave, vossim::Waveform::Dc);
    }
}

TEST(ParseConfig, DeviceSettingsNeedADevice) {
    SimConfig config;
    std::string errors;
    EXPECT_FALSE(vossim::ParseConfig("channel 0 sine freq=1\nfault trickle\ndevice serial=3", config, &errors));
    EXPECT_EQ(errors.rfind("line 1: ", 0), 0u);
    EXPECT_NE(errors.find("line 2: "), std::string::npos);
    ASSERT_EQ(config.devices.size(), 1u);
    EXPECT_FALSE(config.devices[0].trickle);
}

TEST(ConfigFromEnvironment, ReadsTheNamedFile) {
    const auto path = std::filesystem::temp_directory_path() / ("vos_sim_" + std::to_string(::getpid()) + ".conf");
    {
        std::ofstream file(path);
        file << "pace instant\ndevice serial=314 resolution=12\nnonsense\n";
    }
    ASSERT_EQ(::setenv("VOS_SIM_CONFIG", path.c_str(), 1), 0);
    const SimConfig config = vossim::ConfigFromEnvironment();
    EXPECT_EQ(config.pace, vossim::Pace::Instant);
    ASSERT_EQ(config.devices.size(), 1u);
    EXPECT_EQ(config.devices[0].serial, "314");

    std::filesystem::remove(path);
    const SimConfig missing = vossim::ConfigFromEnvironment();
    EXPECT_EQ(missing.devices.size(), 2u);
    ::unsetenv("VOS_SIM_CONFIG");
    EXPECT_EQ(vossim::ConfigFromEnvironment().devices.size(), 2u);
}

TEST(ExampleConfig, ParsesCleanly) {
    std::ifstream file(VOS_SIM_EXAMPLE_CONFIG);
    ASSERT_TRUE(file);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    SimConfig config;
    std::string errors;
    EXPECT_TRUE(vossim::ParseConfig(text, config, &errors)) << errors;
    EXPECT_FALSE(config.devices.empty());
}

// The default bus: two loggers whose every channel lets every trigger type
// fire within one second for thresholds between 1 V and 9 V.
TEST(DefaultConfig, EveryTriggerFiresWithinASecond) {
    SimConfig config = vossim::DefaultConfig();
    config.pace = vossim::Pace::Instant;
    vossim::Install(config);
    const D2xxApi& api = vossim::Api();
    const SearchOutcome search = SearchLoggers(api);
    ASSERT_EQ(search.serials, (std::vector<std::int32_t>{16001, 12001}));
    for (std::size_t device = 0; device < 2; ++device) {
        SCOPED_TRACE(device);
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(DeviceOpen(api, std::to_string(search.serials[device]).c_str(), &handle), 0u);
        std::uint8_t calibration[CALIBRATION_BLOCK_SIZE];
        ASSERT_EQ(DeviceReadCalibration(api, handle, calibration), 0u);
        const Conversion conversion = ComputeConversion(calibration);
        ASSERT_EQ(SendStart(api, handle), 0u);
        std::vector<std::array<double, 4>> volts(LOGGER_FRAME_RATE + 1);
        for (auto& sample : volts) {
            std::uint8_t frame[FRAME_BYTES];
            ASSERT_EQ(DeviceExchange(api, handle, nullptr, 0, frame, FRAME_BYTES), 0u);
            ASSERT_TRUE(DecodeFrame(frame, conversion, sample.data()));
        }
        StopStreaming(api, handle);
        DeviceClose(api, handle);
        for (int channel = 0; channel < 4; ++channel) {
            for (std::uint8_t type : {TRIGGER_LEVEL_H, TRIGGER_LEVEL_L, TRIGGER_SLOPE_RISING, TRIGGER_SLOPE_FALLING}) {
                for (double threshold : {1.0, 3.3, 5.0, 7.7, 9.0}) {
                    bool fired = false;
                    for (std::size_t i = 1; i < volts.size() && !fired; ++i) {
                        fired = TriggerFires(type, volts[i - 1][channel], volts[i][channel], threshold);
                    }
                    EXPECT_TRUE(fired) << "ch" << channel << " type " << int(type) << " at " << threshold;
                }
            }
        }
        // Distinct signals: no two channels of a logger agree on the first second.
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                std::size_t same = 0;
                for (const auto& sample : volts) same += sample[a] == sample[b];
                EXPECT_LT(same, volts.size() / 2) << a << " vs " << b;
            }
        }
    }
}

TEST(Simulator, RealtimePaceDeliversFramesThroughReads) {
    vossim::SimDevice device = vossim::MakeLogger("1", RESOLUTION_16_BIT);
    device.script = {vossim::Frame{1, 2, 3, 4, 5, 6, 7, 8}};
    vossim::SimConfig config;
    config.devices = {device};
    vossim::Install(config);
    const D2xxApi& api = vossim::Api();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(DeviceOpen(api, nullptr, &handle), 0u);
    ASSERT_EQ(SendStart(api, handle), 0u);
    // A read waits for frames that are not due yet, within the read time-out.
    std::uint8_t bytes[80];
    ASSERT_EQ(DeviceExchange(api, handle, nullptr, 0, bytes, sizeof bytes), 0u);
    for (std::size_t i = 0; i < sizeof bytes; ++i) EXPECT_EQ(bytes[i], i % 8 + 1);
    EXPECT_EQ(vossim::OverrunCount(0), 0u);
    StopStreaming(api, handle);
    DWORD waiting = 1;
    EXPECT_EQ(api.FT_GetQueueStatus(handle, &waiting), 0u);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(DeviceClose(api, handle), 0u);
}

// Frames the logger has sent after `seconds` with its crystal `ppm` off, counted at the queue.
TEST(Simulator, ClockRunsFastOrSlowAndTheHostStalls) {
    struct Case {
        const char* name;
        std::int32_t ppm;
        std::uint64_t holdAfter;
        std::uint32_t holdMs;
        std::uint64_t overrunsAtLeast;
    };
    // 64 KiB hold 8192 frames; a 1.5 s stall brings 15000 frames, at least 6000 of them lost.
    const Case cases[] = {
        {"5 % fast", 50000, vossim::NEVER, 0, 0},
        {"5 % slow", -50000, vossim::NEVER, 0, 0},
        {"stall of 1.5 s after 10 frames", 0, 10, 1500, 6000},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = vossim::MakeLogger("1", RESOLUTION_16_BIT);
        device.clockPpm = test.ppm;
        device.holdAfter = test.holdAfter;
        device.holdMs = test.holdMs;
        device.inFlightMs = 0;
        vossim::SimConfig config;
        config.usb.packetBytes = 0;
        config.devices = {device};
        vossim::Install(config);
        const D2xxApi& api = vossim::Api();
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(DeviceOpen(api, nullptr, &handle), 0u);
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_EQ(SendStart(api, handle), 0u);
        std::uint8_t bytes[80];
        ASSERT_EQ(DeviceExchange(api, handle, nullptr, 0, bytes, sizeof bytes), 0u);
        DWORD waiting = 0;
        ASSERT_EQ(api.FT_GetQueueStatus(handle, &waiting), 0u);
        if (test.holdMs == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ASSERT_EQ(api.FT_GetQueueStatus(handle, &waiting), 0u);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        SendStop(api, handle);
        const vossim::DeviceStats stats = vossim::Stats(0);
        const double sent = static_cast<double>(stats.framesSent + stats.overruns);
        if (test.holdMs != 0) {
            EXPECT_GE(seconds, 1.5);
            EXPECT_GE(stats.overruns, test.overrunsAtLeast);
        } else {
            // Within 1 % of the crystal's rate over the time measured around the polls.
            const double rate = sent / seconds;
            EXPECT_NEAR(rate / LOGGER_FRAME_RATE, 1.0 + test.ppm * 1e-6, 0.01) << rate;
            EXPECT_EQ(stats.overruns, 0u);
        }
        EXPECT_EQ(DeviceClose(api, handle), 0u);
    }
}

TEST(Simulator, HandlesOfAReplacedBusAreInvalid) {
    vossim::Install(vossim::DefaultConfig());
    const D2xxApi& api = vossim::Api();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(DeviceOpen(api, "16001", &handle), 0u);
    FT_HANDLE second = nullptr;
    EXPECT_EQ(api.FT_OpenEx(const_cast<char*>("16001"), FT_OPEN_BY_SERIAL_NUMBER, &second), FT_DEVICE_NOT_OPENED);
    vossim::Install(vossim::DefaultConfig());
    DWORD waiting = 0;
    EXPECT_EQ(api.FT_GetQueueStatus(handle, &waiting), FT_INVALID_HANDLE);
    EXPECT_EQ(api.FT_Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(api.FT_Close(nullptr), FT_INVALID_HANDLE);
}

}  // namespace
