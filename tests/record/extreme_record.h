#pragma once

#include <cmath>
#include <cstdint>

// A record whose statistics every front end shows alike: CH0 a ramp of
// 0 to 0.99 V with +inf at sample 4321, CH1 1e300 and -1e300 in turn, CH2
// 1e305 throughout (whose sum overflows a double), CH3 NaN for the first
// half, then 1 V with -inf at 5000 and +inf at 7000. As numpy has them over
// the whole record (nanmean, nanstd, the root of nanmean(x**2), the finite
// ones in extended precision): CH0 mean inf, RMS inf, SD nan; CH1 mean 0,
// RMS and SD 1e300; CH2 mean and RMS 1e305, SD 0; CH3 mean nan, RMS inf,
// SD nan; and CH3 of samples 0 to 4999 holds only NaN.
inline constexpr std::uint32_t EXTREME_COUNT = 10000;

inline double ExtremeSample(int ch, std::uint32_t i) {
    switch (ch) {
    case 0: return i == 4321 ? INFINITY : (i % 100) * 0.01;
    case 1: return i % 2 == 0 ? 1e300 : -1e300;
    case 2: return 1e305;
    default: return i < 5000 ? NAN : i == 5000 ? -INFINITY : i == 7000 ? INFINITY : 1.0;
    }
}
