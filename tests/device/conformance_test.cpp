// The device link and the simulated logger held to the logger's protocol with
// literal values only: the driver calls of one acquisition with their
// arguments, calibration blocks and frames written out as bytes, and the volts
// they stand for. Nothing here takes a constant, an offset or a conversion
// from the code under test, so a wrong one in the code cannot pass unnoticed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/run.h"
#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::uint8_t> bytes;
    unsigned value = 0;
    while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

vossim::Frame FrameOf(const std::string& text) {
    const std::vector<std::uint8_t> bytes = Hex(text);
    EXPECT_EQ(bytes.size(), 8u) << text;
    vossim::Frame frame{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(8, bytes.size()), frame.begin());
    return frame;
}

std::array<std::uint8_t, 54> BlockOf(const std::string& text) {
    const std::vector<std::uint8_t> bytes = Hex(text);
    EXPECT_EQ(bytes.size(), 54u);
    std::array<std::uint8_t, 54> block{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(54, bytes.size()), block.begin());
    return block;
}

// 12-bit logger: resolution 0 at byte 18, V1 = 0.0 and V2 = 10.0 (doubles at
// 20 and 28), C1 = 0, 0, 0, 0 at 36 and C2 = 4000, 4000, 2000, 4000 at 44.
// Bytes the application does not read hold 0xEE.
const char* const BLOCK_12 =
    "ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee"
    " 00 ee"
    " 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 24 40"
    " 00 00 00 00 00 00 00 00"
    " a0 0f a0 0f d0 07 a0 0f"
    " ee ee";

// 16-bit logger: resolution 2, V1 = 1.0, V2 = 9.0, C1 = 6400, 12800, 0, 1000,
// C2 = 57600, 64000, 51200, 52200: 6400 codes a volt, offsets 0, -1, +1 and
// +0.84375 V.
const char* const BLOCK_16 =
    "ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee"
    " 02 ee"
    " 00 00 00 00 00 00 f0 3f"
    " 00 00 00 00 00 00 22 40"
    " 00 19 00 32 00 00 e8 03"
    " 00 e1 00 fa 00 c8 e8 cb"
    " ee ee";

// 16-bit logger, V1 = 0.0, V2 = 10.0, C1 = 0 and C2 = 10000 on every channel:
// one code is a millivolt.
const char* const BLOCK_MILLIVOLT =
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 02 00"
    " 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 24 40"
    " 00 00 00 00 00 00 00 00"
    " 10 27 10 27 10 27 10 27"
    " 00 00";

struct FrameCase {
    const char* name;
    const char* block;
    const char* frame;
    double volts[4];
};

// Each byte arrives bit-reversed; the first byte of a channel is the high one.
const FrameCase FRAMES[] = {
    // 0x01 0x00 is the word 0x8000: 12-bit code 2048. The high four bits of
    // the second byte (0xf0) fall away; its low four (0x0f) are code bits.
    {"12-bit", BLOCK_12, "01 00 01 f0 01 0f ff ff", {5.12, 5.12, 10.315, 10.2375}},
    // Codes 32000, 32000, 25600 and 32001.
    {"16-bit", BLOCK_16, "be 00 be 00 26 00 be 80", {5.0, 4.0, 5.0, 5.84390625}},
    // 0x00 0x01 is code 128, 0x80 0x00 code 256.
    {"16-bit millivolts", BLOCK_MILLIVOLT, "00 01 00 00 80 00 ff ff", {0.128, 0.0, 0.256, 65.535}},
};

TEST(Conformance, CalibrationBlocksAndFramesGiveTheirVolts) {
    for (const FrameCase& test : FRAMES) {
        SCOPED_TRACE(test.name);
        const auto block = BlockOf(test.block);
        const vossim::Frame frame = FrameOf(test.frame);
        double volts[4] = {};
        ASSERT_TRUE(DecodeFrame(frame.data(), ComputeConversion(block.data()), volts));
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(volts[c], test.volts[c], 1e-9) << "CH" << c;
    }
}

// A logger on the instant bus whose calibration and frames are the given bytes.
vossim::SimDevice Logger(const char* serial, const char* block, std::vector<vossim::Frame> script) {
    vossim::SimDevice device = vossim::MakeLogger(serial, 2);
    device.calibration = BlockOf(block);
    device.resolution = device.calibration[18];
    device.script = std::move(script);
    return device;
}

void InstallInstant(std::vector<vossim::SimDevice> devices) {
    vossim::SimConfig config;
    config.pace = vossim::Pace::Instant;
    config.devices = std::move(devices);
    vossim::Install(config);
}

// A host that takes fixed settings and shows nothing.
class FixedHost : public AcquisitionHost {
public:
    FixedHost(AcquisitionSettings settings, std::optional<std::int32_t> serial)
        : m_settings(settings), m_serial(serial) {}
    AcquisitionSettings ReadSettings() override { return m_settings; }
    std::optional<std::int32_t> SelectedSerial() override { return m_serial; }
    void Started(const AcquisitionSettings&, bool) override {}
    void Ended(const AcquisitionOutcome&) override {}

private:
    AcquisitionSettings m_settings;
    std::optional<std::int32_t> m_serial;
};

// One acquisition at 5 kHz (divider 2) of 2 samples without trigger: open,
// configure, read the calibration, start, 2 + 2 x (2 + 1) = 8 frames each
// awaited by a queue poll and read alone, stop, purge, close.
TEST(Conformance, DriverCallsOfOneAcquisition) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> serial;
        const char* open;
    };
    const Case cases[] = {
        {"by serial number", 12001, "FT_OpenEx 12001 1"},
        {"first logger by description", std::nullopt, "FT_OpenEx VOS-XX 2"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice foreign = vossim::MakeLogger("12000", 0);
        foreign.description = "FT232R USB UART";
        InstallInstant({foreign, Logger("12001", BLOCK_12, {FrameOf("01 00 01 f0 01 0f ff ff")})});

        std::vector<double> data[4];
        double* channels[4];
        for (int c = 0; c < 4; ++c) {
            data[c].assign(3, -1.0);
            channels[c] = data[c].data();
        }
        std::atomic<std::int32_t> stop{0};
        std::atomic<std::uint32_t> acquired{0};
        std::atomic<bool> finished{false};
        std::atomic<bool> liveViewEnded{false};
        FixedHost host(AcquisitionSettings{2, 2, 0, 0xFF, 0.0}, test.serial);
        FT_HANDLE handle = nullptr;
        std::string text;
        ASSERT_TRUE(RunAcquisitionSteps(&vossim::Api(), host, channels,
                                        AcquisitionFlags{stop, acquired, finished, liveViewEnded}, handle, text))
            << text;

        std::vector<std::string> expected = {test.open,          "FT_ResetDevice",          "FT_SetBaudRate 3000000",
                                             "FT_Purge 3",       "FT_SetTimeouts 500 500",  "FT_EE_UARead 54",
                                             "FT_Write 53"};
        for (int frame = 0; frame < 8; ++frame) {
            expected.push_back("FT_GetQueueStatus");
            expected.push_back("FT_Read 8");
        }
        expected.insert(expected.end(), {"FT_Write 50", "FT_Purge 3", "FT_Close"});
        EXPECT_EQ(vossim::Stats(1).calls, expected);
        EXPECT_TRUE(vossim::Stats(0).calls.empty());
        EXPECT_EQ(acquired.load(), 2u);
        for (int sample = 0; sample < 2; ++sample) {
            EXPECT_NEAR(data[0][sample], 5.12, 1e-9);
            EXPECT_NEAR(data[2][sample], 10.315, 1e-9);
        }
        EXPECT_EQ(data[0][2], -1.0);
    }
}

// The simulated logger is pinned to the same bytes, so that it cannot drift
// together with the application.
TEST(Conformance, SimulatorCalibrationBlocks) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 54> block;
        const char* expected;  // bytes 18 to 51
    };
    const Case cases[] = {
        {"16-bit", vossim::MakeCalibration(2, 1.0, 9.0, {6400, 12800, 0, 1000}, {57600, 64000, 51200, 52200}),
         "02 00  00 00 00 00 00 00 f0 3f  00 00 00 00 00 00 22 40  00 19 00 32 00 00 e8 03  00 e1 00 fa 00 c8 e8 cb"},
        // The typical blocks of the simulated loggers: points at 1 V and 9 V.
        {"typical 12-bit", vossim::MakeLogger("1", 0).calibration,
         "00 00  00 00 00 00 00 00 f0 3f  00 00 00 00 00 00 22 40  90 01 91 01 92 01 93 01  10 0e 0f 0e 0e 0e 0d 0e"},
        {"typical 16-bit", vossim::MakeLogger("1", 2).calibration,
         "02 00  00 00 00 00 00 00 f0 3f  00 00 00 00 00 00 22 40  00 19 03 19 06 19 09 19  00 e1 fb e0 f6 e0 f1 e0"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<std::uint8_t> bytes(test.block.begin() + 18, test.block.begin() + 52);
        EXPECT_EQ(bytes, Hex(test.expected));
    }
}

// Constant signals come out of the simulated logger as the frames above.
TEST(Conformance, SimulatorFrames) {
    struct Case {
        const char* name;
        const char* block;
        double volts[4];
        const char* frame;
    };
    const Case cases[] = {
        // The simulated 12-bit logger leaves the four unused bits at 0.
        {"12-bit", BLOCK_12, {5.12, 5.12, 10.315, 10.2375}, "01 00 01 00 01 0f ff 0f"},
        {"16-bit", BLOCK_16, {5.0, 4.0, 5.0, 5.84390625}, "be 00 be 00 26 00 be 80"},
        {"16-bit clipped", BLOCK_MILLIVOLT, {0.128, -1.0, 0.256, 70.0}, "00 01 00 00 80 00 ff ff"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = Logger("7", test.block, {});
        for (int c = 0; c < 4; ++c) device.channels[c] = vossim::Signal{vossim::Waveform::Dc, 0, 0, test.volts[c], 1};
        InstallInstant({device});
        const D2xxApi& api = vossim::Api();
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(api.FT_OpenEx(const_cast<char*>("7"), 1, &handle), 0u);
        std::uint8_t start = 0x53;
        DWORD moved = 0;
        ASSERT_EQ(api.FT_Write(handle, &start, 1, &moved), 0u);
        for (int frame = 0; frame < 2; ++frame) {
            std::vector<std::uint8_t> bytes(8);
            ASSERT_EQ(api.FT_Read(handle, bytes.data(), 8, &moved), 0u);
            ASSERT_EQ(moved, 8u);
            EXPECT_EQ(bytes, Hex(test.frame)) << "frame " << frame;
        }
        EXPECT_EQ(api.FT_Close(handle), 0u);
    }
}

// The simulated logger starts at 0x53 only and falls silent at 0x50.
TEST(Conformance, SimulatorCommandBytes) {
    vossim::SimDevice device = Logger("7", BLOCK_16, {FrameOf("be 00 be 00 26 00 be 80")});
    device.inFlightMs = 0;
    InstallInstant({device});
    const D2xxApi& api = vossim::Api();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(api.FT_OpenEx(const_cast<char*>("7"), 1, &handle), 0u);
    struct Step {
        std::uint8_t write;
        bool streams;
    };
    for (Step step : {Step{0x73, false}, Step{0x50, false}, Step{0x53, true}, Step{0x73, true},
                            Step{0x50, false}}) {
        SCOPED_TRACE(testing::Message() << "after 0x" << std::hex << int(step.write));
        DWORD moved = 0;
        ASSERT_EQ(api.FT_Write(handle, &step.write, 1, &moved), 0u);
        ASSERT_EQ(api.FT_Purge(handle, 3), 0u);
        DWORD waiting = 0;
        ASSERT_EQ(api.FT_GetQueueStatus(handle, &waiting), 0u);
        EXPECT_EQ(waiting != 0, step.streams) << waiting;
    }
    EXPECT_EQ(api.FT_Close(handle), 0u);
}

// Frames of a millivolt logger: CH0 from the list of volts, CH1 the frame number in centivolts.
std::vector<vossim::Frame> Frames(const std::vector<int>& ch0Volts) {
    std::vector<vossim::Frame> frames;
    for (std::size_t i = 0; i < ch0Volts.size(); ++i) {
        const unsigned codes[4] = {static_cast<unsigned>(ch0Volts[i]) * 1000, static_cast<unsigned>(i) * 10, 0, 0};
        vossim::Frame frame{};
        for (int c = 0; c < 4; ++c) {
            for (int byte = 0; byte < 2; ++byte) {
                const unsigned value = byte == 0 ? codes[c] >> 8 : codes[c] & 0xFF;
                unsigned mirrored = 0;
                for (int bit = 0; bit < 8; ++bit) mirrored |= (value >> bit & 1u) << (7 - bit);
                frame[2 * c + byte] = static_cast<std::uint8_t>(mirrored);
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

// Divider 3: raw frames 4, 7, 10, 13, ... are kept. Only they are tested, and
// the previous value for a slope is the last kept frame's, never a dropped
// one's. The 1 V and 9 V around a 5 V threshold fire wrongly on frame 2 or 3
// when dropped frames are tested, and on frame 7 when the previous value
// follows dropped frames. Both fire on frame 13: frames 16, 19, 22 are stored.
TEST(Conformance, DecimationTestsOnlyKeptFrames) {
    struct Case {
        const char* name;
        std::uint8_t type;
        std::vector<int> volts;  // CH0 of raw frames 0, 1, 2, ...; the last repeats
    };
    const Case cases[] = {
        {"Slope-Rising", 2, {1, 9, 1, 9, 9, 1, 1, 9, 9, 9, 1, 1, 1, 9}},
        {"Level-H", 0, {1, 1, 9, 9, 1, 9, 9, 1, 9, 9, 1, 9, 9, 9}},
        {"Slope-Falling", 3, {9, 1, 9, 1, 1, 9, 9, 1, 1, 1, 9, 9, 9, 1}},
        {"Level-L", 1, {9, 9, 1, 1, 9, 1, 1, 9, 1, 1, 9, 1, 1, 1}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<int> volts = test.volts;
        volts.resize(30, volts.back());
        InstallInstant({Logger("5", BLOCK_MILLIVOLT, Frames(volts))});
        simtest::OpenLogger logger;
        std::vector<double> frameNumber(4, -1.0);
        double* channels[4] = {nullptr, frameNumber.data(), nullptr, nullptr};
        std::atomic<std::uint32_t> stored{0};
        EXPECT_EQ(AcquireFrames(vossim::Api(), logger.handle, channels, 3, 3, &stored, logger.calibration,
                                TriggerSetup{0, test.type, 5.0, 0}, nullptr),
                  0u);
        EXPECT_EQ(stored.load(), 3u);
        EXPECT_NEAR(frameNumber[0], 0.16, 1e-9);
        EXPECT_NEAR(frameNumber[1], 0.19, 1e-9);
        EXPECT_NEAR(frameNumber[2], 0.22, 1e-9);
        EXPECT_EQ(frameNumber[3], -1.0);
        logger.Close();
    }
}

// At 1 Hz (divider 10000) a Stop is seen on the first dropped frame: with the
// flag already set, the two leading frames and one more are read, nothing is
// stored, and the stream is stopped.
TEST(Conformance, StopIsSeenOnADroppedFrame) {
    InstallInstant({Logger("5", BLOCK_MILLIVOLT, Frames({1}))});
    simtest::OpenLogger logger;
    std::vector<double> data(10, -1.0);
    double* channels[4] = {data.data(), nullptr, nullptr, nullptr};
    std::atomic<std::uint32_t> stored{0};
    std::atomic<std::int32_t> stop{1};
    EXPECT_EQ(AcquireFrames(vossim::Api(), logger.handle, channels, 10000, 10, &stored, logger.calibration,
                            TriggerSetup{}, &stop),
              0u);
    EXPECT_EQ(stored.load(), 0u);
    EXPECT_EQ(vossim::Stats(0).bytesRead, 24u);
    const std::vector<std::string> calls = vossim::Stats(0).calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "FT_Write 50");
    EXPECT_EQ(calls.back(), "FT_Purge 3");
    EXPECT_EQ(data[0], -1.0);
    logger.Close();
}

}  // namespace
