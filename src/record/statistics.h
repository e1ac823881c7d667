#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "record/samplesource.h"
#include "record/summaries.h"

/// Statistics of samples [first, last) of one channel, from their true
/// values. NaN samples are counted and otherwise left out; with no number in
/// the range the extremes, mean, RMS, deviation and peak-to-peak are NaN.
/// Infinities count as numpy counts them: the mean is the infinity (NaN for
/// both signs), the RMS infinite, the deviation NaN. Finite numbers of any
/// size give finite results.
struct RangeStatistics {
    std::uint64_t count = 0;     ///< samples in the range, NaN included
    std::uint64_t nanCount = 0;  ///< NaN samples among them
    double minimum = 0.0;
    double maximum = 0.0;
    std::uint64_t minimumAt = 0;  ///< first sample holding the minimum
    std::uint64_t maximumAt = 0;  ///< first sample holding the maximum
    double mean = 0.0;
    double rms = 0.0;
    double deviation = 0.0;  ///< standard deviation over the numbers (divided by their count)
    double peakToPeak = 0.0;
};

/// The power of two that a cell's sums are kept in: its residual and
/// deviations are those of its numbers times 2^-e and 2^-2e, so that numbers
/// up to the largest double neither overflow a sum nor a square, while a
/// power of two changes no digit. 0 for a cell of zeros, of no numbers or
/// with an infinity (whose sums are not kept: the infinities decide).
int StatisticsExponent(const StatisticsCell& cell);

/// Statistics of the `count` samples at `samples`.
StatisticsCell StatisticsOfRun(const double* samples, std::uint64_t count);

/// Statistics of runs taken together, in any order: the sums added with
/// compensation, the deviations joined about the common mean.
StatisticsCell MergeStatistics(std::span<const StatisticsCell> cells);

/// Fills the statistics cells of `out` that lie in samples first ..
/// first+count-1 (first a multiple of the coarsest cell) of `channel` from
/// `finest`, the statistics of each finest cell there in order.
void SummariseStatistics(SummaryPyramid& out, int channel, std::uint64_t first, std::uint64_t count,
                         std::span<const StatisticsCell> finest);

/// Statistics of samples first .. last-1 of `channel` (first <= last <=
/// source.Count()): whole statistics cells of `summaries` (which must
/// summarise `source`; null reads every sample) and raw samples only at the
/// ends, so the cost does not grow with the range. nullopt when a sample
/// needed cannot be read. Without `positions` the extremes' positions are
/// not looked for (both are `first`), which saves a read of two cells.
std::optional<RangeStatistics> StatisticsOf(const SampleSource& source, const SummaryPyramid* summaries,
                                            int channel, std::uint64_t first, std::uint64_t last,
                                            bool positions = true);
