#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device/transfer.h"
#include "sim/sim.h"

namespace {

TEST(ReverseBits, MirrorsEveryBit) {
    for (unsigned value = 0; value < 256; ++value) {
        unsigned expected = 0;
        for (int bit = 0; bit < 8; ++bit) expected |= ((value >> bit) & 1u) << (7 - bit);
        EXPECT_EQ(ReverseBits(static_cast<std::uint8_t>(value)), expected) << value;
    }
}

TEST(ComputeConversion, TwoPointCalibration) {
    const auto block = vossim::MakeCalibration(0, 0.0, 10.0, {0, 0, 0, 0}, {4000, 4000, 4000, 4000});
    const Conversion conversion = ComputeConversion(block.data());
    EXPECT_EQ(conversion.resolution, 0);
    for (int c = 0; c < 4; ++c) {
        EXPECT_DOUBLE_EQ(conversion.gain[c], 0.0025);
        EXPECT_DOUBLE_EQ(conversion.offset[c], 0.0);
    }
}

TEST(ComputeConversion, ChannelsKeepTheirOwnCodesAndFieldsAreLittleEndian) {
    const auto block = vossim::MakeCalibration(2, 1.0, 9.0, {100, 200, 300, 0x1234}, {8100, 8200, 8300, 0x5678});
    EXPECT_EQ(block[36 + 6], 0x34);  // C1[3] low byte first
    EXPECT_EQ(block[37 + 6], 0x12);
    const Conversion conversion = ComputeConversion(block.data());
    const double c1[4] = {100, 200, 300, 0x1234};
    const double c2[4] = {8100, 8200, 8300, 0x5678};
    for (int c = 0; c < 4; ++c) {
        const double s = (9.0 - 1.0) * 10000 / (c2[c] - c1[c]);
        const double o = 9.0 * 10000 - s * c2[c];
        EXPECT_EQ(conversion.gain[c], s / 10000) << c;
        EXPECT_EQ(conversion.offset[c], o / 10000) << c;
        EXPECT_NEAR(c1[c] * conversion.gain[c] + conversion.offset[c], 1.0, 1e-9);
    }
}

TEST(ComputeConversion, EqualCodesGiveNonFiniteChannel) {
    const auto block = vossim::MakeCalibration(2, 0.0, 10.0, {500, 0, 0, 0}, {500, 4000, 4000, 4000});
    const Conversion conversion = ComputeConversion(block.data());
    EXPECT_FALSE(std::isfinite(conversion.gain[0]));
    EXPECT_TRUE(std::isfinite(conversion.gain[1]));
    const std::uint8_t frame[8] = {0, 0x01, 0, 0x01, 0, 0x01, 0, 0x01};
    double volts[4];
    ASSERT_TRUE(DecodeFrame(frame, conversion, volts));
    EXPECT_FALSE(std::isfinite(volts[0]));
    EXPECT_TRUE(std::isfinite(volts[1]));
}

TEST(DecodeFrame, RawCodesFromReversedBytes) {
    struct Case {
        std::uint8_t resolution;
        std::uint8_t b0, b1;
        double code;
    };
    const Case cases[] = {
        {0, 0x01, 0x00, 2048},   // 12-bit: W = 0x8000, shifted right by 4
        {2, 0x00, 0x01, 128},    // 16-bit: W = 0x0080
        {0, 0xFF, 0xFF, 4095},
        {0, 0x00, 0xF0, 0},      // the low nibble of W is ignored at 12 bits
        {2, 0xFF, 0xFF, 65535},
        {2, 0x80, 0x00, 256},
    };
    // gain 1, offset 0: volts equal the raw code.
    const auto block = vossim::MakeCalibration(0, 0.0, 1.0, {0, 0, 0, 0}, {1, 1, 1, 1});
    for (const Case& test : cases) {
        Conversion conversion = ComputeConversion(block.data());
        conversion.resolution = test.resolution;
        for (int channel = 0; channel < 4; ++channel) {
            std::uint8_t frame[8] = {};
            frame[2 * channel] = test.b0;
            frame[2 * channel + 1] = test.b1;
            double volts[4];
            ASSERT_TRUE(DecodeFrame(frame, conversion, volts));
            EXPECT_EQ(volts[channel], test.code) << int(test.resolution) << " ch" << channel;
            for (int other = 0; other < 4; ++other) {
                if (other != channel) {
                    EXPECT_EQ(volts[other], 0.0);
                }
            }
        }
    }
}

TEST(DecodeFrame, CalibratedCode2048Reads5_12Volts) {
    const auto block = vossim::MakeCalibration(0, 0.0, 10.0, {0, 0, 0, 0}, {4000, 4000, 4000, 4000});
    const std::uint8_t frame[8] = {0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00};
    double volts[4];
    ASSERT_TRUE(DecodeFrame(frame, ComputeConversion(block.data()), volts));
    for (double v : volts) EXPECT_DOUBLE_EQ(v, 5.12);
}

TEST(DecodeFrame, RefusesUnknownResolutionWithoutTouchingOutput) {
    for (int resolution : {1, 3, 16, 255}) {
        const auto block = vossim::MakeCalibration(static_cast<std::uint8_t>(resolution), 0.0, 10.0, {0, 0, 0, 0},
                                                   {4000, 4000, 4000, 4000});
        const std::uint8_t frame[8] = {0x01, 0, 0x01, 0, 0x01, 0, 0x01, 0};
        double volts[4] = {-7, -7, -7, -7};
        EXPECT_FALSE(DecodeFrame(frame, ComputeConversion(block.data()), volts)) << resolution;
        for (double v : volts) EXPECT_EQ(v, -7);
    }
}

TEST(TriggerFires, EveryTypeAndEdge) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::uint8_t type;
        double previous, current, threshold;
        bool fires;
    };
    const Case cases[] = {
        {TRIGGER_LEVEL_H, 0.0, 1.5, 1.0, true},
        {TRIGGER_LEVEL_H, 5.0, 1.0, 1.0, false},  // equal is not above
        {TRIGGER_LEVEL_H, 0.0, nan, 1.0, false},
        {TRIGGER_LEVEL_L, 0.0, 0.5, 1.0, true},
        {TRIGGER_LEVEL_L, 0.0, 1.0, 1.0, false},
        {TRIGGER_LEVEL_L, 0.0, nan, 1.0, false},
        {TRIGGER_SLOPE_RISING, 1.0, 1.5, 1.0, true},
        {TRIGGER_SLOPE_RISING, 0.9, 1.0, 1.0, false},
        {TRIGGER_SLOPE_RISING, 1.1, 1.5, 1.0, false},  // already above
        {TRIGGER_SLOPE_RISING, nan, 1.5, 1.0, false},
        {TRIGGER_SLOPE_RISING, 0.5, nan, 1.0, false},
        {TRIGGER_SLOPE_RISING, 0.5, 1.5, nan, false},
        {TRIGGER_SLOPE_FALLING, 1.0, 0.5, 1.0, true},
        {TRIGGER_SLOPE_FALLING, 1.1, 1.0, 1.0, false},
        {TRIGGER_SLOPE_FALLING, 0.9, 0.5, 1.0, false},  // already below
        {TRIGGER_SLOPE_FALLING, nan, 0.5, 1.0, false},
        {TRIGGER_NONE, nan, nan, nan, true},
        {4, 0.0, 100.0, 1.0, false},
        {0x7F, 100.0, -100.0, 1.0, false},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(TriggerFires(test.type, test.previous, test.current, test.threshold), test.fires)
            << "type " << int(test.type) << " " << test.previous << " -> " << test.current << " at " << test.threshold;
    }
}

}  // namespace
