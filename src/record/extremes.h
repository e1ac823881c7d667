#pragma once

#include <cstdint>

/// Smallest and largest value of a run of samples, true values with NaN
/// ordered below every number: `low` is NaN when the run holds a NaN and its
/// smallest number otherwise; `high` is its largest number (-inf when it
/// holds none). How a plot draws them (NaN and low values on its bottom
/// row) is the display's business.
struct SampleExtremes {
    double low;
    double high;
};

/// True when `a` is at most `b` with NaN below every number.
inline bool LowerOrEqual(double a, double b) { return a != a || (b == b && a <= b); }

/// The lower of two lows, NaN below every number.
inline double LowerOf(double a, double b) { return (a != a || a < b) ? a : b; }

/// The higher of two highs, NaN skipped.
inline double HigherOf(double a, double b) { return b > a ? b : a; }

/// Extremes of `count` samples (at least 1) at `samples`.
SampleExtremes ExtremesOfRun(const double* samples, std::uint64_t count);

/// The extremes of two runs taken together.
inline SampleExtremes MergeExtremes(SampleExtremes a, SampleExtremes b) {
    return {LowerOf(a.low, b.low), HigherOf(a.high, b.high)};
}

/// True when the run of `outer` takes in the extremes `inner`: merging
/// `inner` into it changes nothing.
inline bool SpansExtremes(SampleExtremes outer, SampleExtremes inner) {
    return LowerOrEqual(outer.low, inner.low) && inner.high <= outer.high;
}

/// The extremes of a run none of whose samples could be read (a file of a
/// series changed or gone): merged with any other run it gives that run.
inline constexpr SampleExtremes UNREADABLE_RUN{__builtin_huge_val(), -__builtin_huge_val()};

/// True for UNREADABLE_RUN: nothing of the run is known.
inline bool IsUnreadable(SampleExtremes e) { return e.low > e.high; }
