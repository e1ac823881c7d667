#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"

namespace simtest {

// 16-bit frame whose channel c carries the raw code `codes[c]`, sent the way
// the logger sends it: each byte bit-reversed.
inline vossim::Frame Frame16(std::uint16_t c0, std::uint16_t c1, std::uint16_t c2, std::uint16_t c3) {
    const std::uint16_t codes[4] = {c0, c1, c2, c3};
    vossim::Frame frame{};
    for (int c = 0; c < 4; ++c) {
        frame[2 * c] = ReverseBits(static_cast<std::uint8_t>(codes[c] >> 8));
        frame[2 * c + 1] = ReverseBits(static_cast<std::uint8_t>(codes[c]));
    }
    return frame;
}

// Frame i of a script carries code 10 * i + c on channel c.
inline std::uint16_t ScriptCode(std::size_t frame, int channel) {
    return static_cast<std::uint16_t>(10 * frame + channel);
}

// A 16-bit logger whose calibration reads code k as k / 1000 V, streaming
// `frames` scripted frames (codes from ScriptCode) at the instant pace.
inline vossim::SimDevice ScriptedLogger(std::size_t frames, bool stalls) {
    vossim::SimDevice device = vossim::MakeLogger("100", RESOLUTION_16_BIT);
    device.calibration = vossim::MakeCalibration(RESOLUTION_16_BIT, 0.0, 10.0, {0, 0, 0, 0}, {10000, 10000, 10000, 10000});
    for (std::size_t i = 0; i < frames; ++i) {
        device.script.push_back(Frame16(ScriptCode(i, 0), ScriptCode(i, 1), ScriptCode(i, 2), ScriptCode(i, 3)));
    }
    device.scriptStalls = stalls;
    return device;
}

inline double ScriptVolts(std::size_t frame, int channel) { return ScriptCode(frame, channel) * 0.001; }

inline void InstallOne(const vossim::SimDevice& device) {
    vossim::SimConfig config;
    config.pace = vossim::Pace::Instant;
    config.devices = {device};
    vossim::Install(config);
}

// Opens the single installed device and reads its calibration.
struct OpenLogger {
    FT_HANDLE handle = nullptr;
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE] = {};

    OpenLogger() {
        const auto& api = vossim::Api();
        EXPECT_EQ(DeviceOpen(api, nullptr, &handle), 0u);
        EXPECT_EQ(DeviceReadCalibration(api, handle, calibration), 0u);
    }
    void Close() {
        EXPECT_EQ(DeviceClose(vossim::Api(), handle), 0u);
        EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    }
};

}  // namespace simtest
