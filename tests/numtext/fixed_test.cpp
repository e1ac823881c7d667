#include "numtext/fixed.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Printf5(double value) {
    char buffer[FIXED5_MAX_CHARS + 1];
    const int n = std::snprintf(buffer, sizeof buffer, "%.5f", value);
    return std::string(buffer, static_cast<std::size_t>(n));
}

// printf's text, but "nan" for every NaN: a sign bit on a NaN means nothing.
void ExpectSameAsPrintf(double value) {
    ASSERT_EQ(FormatFixed5(value), std::isnan(value) ? "nan" : Printf5(value))
        << "bits 0x" << std::hex << std::bit_cast<std::uint64_t>(value);
}

TEST(FormatFixed5Test, AdversarialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {
        0.0, -0.0, 9.999995, -9.999995, 99999.999995, 999999.999995, 0.000005, -0.000005,
        1.000005, 2.5e-6, 1.5e-5, 0.0000049999999, 0.00000500000001, 0.125, 0.000015,
        0.999995, 4.9e-324, -4.9e-324, DBL_MIN, DBL_TRUE_MIN, DBL_MAX, -DBL_MAX, DBL_EPSILON,
        inf, -inf, nan, -nan, 1e15 + 0.5, 9007199254740993.0, 1e22, 1e23, 0.1, 0.3, 2.675,
        1.0000050000000001, 5e-6, 1.5, -1.5, 1e300, 123456789.123456789,
    };
    for (double v : values) {
        ExpectSameAsPrintf(v);
    }
    // Every halfway point k + 0.5e-5 near small integers, where round-to-even matters.
    for (int k = 0; k < 20000; ++k) {
        ExpectSameAsPrintf((k + 0.5) * 1e-5);
        ExpectSameAsPrintf(-(k + 0.5) * 1e-5);
        ExpectSameAsPrintf(std::nextafter((k + 0.5) * 1e-5, 1.0));
    }
}

TEST(FormatFixed5Test, RandomBitPatterns) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 1000000; ++i) {
        ExpectSameAsPrintf(std::bit_cast<double>(random()));
    }
}

TEST(FormatFixed5Test, RandomValuesInVoltRange) {
    std::mt19937_64 random(54321);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    std::uniform_real_distribution<double> narrow(-20.0, 20.0);
    for (int i = 0; i < 1000000; ++i) {
        ExpectSameAsPrintf(wide(random));
        ExpectSameAsPrintf(narrow(random));
    }
}

}  // namespace
