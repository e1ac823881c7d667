#include "record/extremes.h"

SampleExtremes ExtremesOfRun(const double* samples, std::uint64_t count) {
    // Two interleaved accumulator pairs keep the comparisons independent; the
    // selects keep a NaN once a low has taken it and never let one be a high.
    double low0 = samples[0];
    double high0 = samples[0] == samples[0] ? samples[0] : -__builtin_huge_val();
    double low1 = low0;
    double high1 = high0;
    std::uint64_t s = 1;
    for (; s + 1 < count; s += 2) {
        const double a = samples[s];
        const double b = samples[s + 1];
        low0 = LowerOf(a, low0);
        high0 = HigherOf(high0, a);
        low1 = LowerOf(b, low1);
        high1 = HigherOf(high1, b);
    }
    if (s < count) {
        low0 = LowerOf(samples[s], low0);
        high0 = HigherOf(high0, samples[s]);
    }
    return {LowerOf(low0, low1), HigherOf(high0, high1)};
}
