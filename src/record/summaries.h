#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "record/extremes.h"
#include "record/samplesource.h"

/// Cell sizes of the summary levels: `levels` levels, the finest of
/// `baseCell` samples, each next one `factor` times coarser.
struct SummaryShape {
    std::uint32_t baseCell = 256;
    std::uint32_t factor = 16;
    std::uint32_t levels = 4;
    friend bool operator==(const SummaryShape&, const SummaryShape&) = default;
};

/// Finest cells a summary keeps per channel before SummaryShapeFor makes
/// them coarser: 2^21 cells, 128 MiB for four channels' lows and highs.
inline constexpr std::uint64_t MAX_FINEST_CELLS = std::uint64_t{1} << 21;

/// The shape for a record of `count` samples per channel: the default one,
/// with the finest cell doubled as often as it takes to keep the finest
/// level within MAX_FINEST_CELLS, so that a week at 10 kHz needs about
/// 100 MB rather than 1.5 GB. Records up to 2^29 samples keep the default.
SummaryShape SummaryShapeFor(std::uint64_t count);

/// Largest and smallest value of a channel, NaN skipped, as the Summary
/// shows them; `valid` is false for a record of no samples. A single NaN
/// sample is its own maximum and minimum.
struct ChannelStatistics {
    bool valid = false;
    double maximum = 0.0;
    double minimum = 0.0;
};

/// Statistics of a run of samples with their true values (nothing clamped):
/// the numbers in it, their extremes (+inf/-inf for none), the NaN samples,
/// and about `center` (near their mean) the sums of their deviations and of
/// the deviations' squares, which keep a small spread exact at any offset.
/// The sums are scaled by a power of two (StatisticsExponent) so that huge
/// numbers overflow neither; a cell holding an infinity keeps none.
struct StatisticsCell {
    double center = 0.0;
    double residual = 0.0;    ///< sum of (x - center) * 2^-e
    double deviations = 0.0;  ///< sum of ((x - center) * 2^-e)^2
    double minimum = __builtin_huge_val();
    double maximum = -__builtin_huge_val();
    std::uint64_t numbers = 0;
    std::uint64_t nans = 0;
};

/// Min/max summaries of a record, per channel and level: cell k of a level
/// of cell size n holds ExtremesOfRun of samples k*n .. k*n+n-1. Only whole
/// cells are kept; the samples past the last one are read when needed.
struct SummaryPyramid {
    struct Level {
        std::uint32_t cell = 0;
        std::vector<double> low[4];
        std::vector<double> high[4];
        /// The cells' statistics, on every level but the finest (on the only
        /// level when there is just one); empty on the finest.
        std::vector<StatisticsCell> stats[4];
    };
    SummaryShape shape;
    std::uint64_t count = 0;  ///< samples per channel summarised
    std::vector<Level> levels;  ///< finest first
    ChannelStatistics statistics[4];
    /// The same for each part the build was given (the files of a series),
    /// so that each file's Summary needs no second pass over its samples.
    std::vector<std::array<ChannelStatistics, 4>> partStatistics;

    /// Exact extremes of samples begin .. end-1 of `source` (begin < end):
    /// the coarsest cells that fit, finer cells at the ends, and raw
    /// samples only for what no cell covers whole and where the cell around
    /// them could widen what the rest found.
    SampleExtremes Extremes(const SampleSource& source, int channel, std::uint64_t begin,
                            std::uint64_t end) const;

    /// Extends the summaries of the first `count` samples of `source` (a
    /// record that grew; none for a pyramid with no levels yet, summarised
    /// with `shape`) to its first `upTo` samples, as BuildSummaries of those
    /// samples would make them, cell for cell: only the cells past the last
    /// whole statistics cell are computed, from their samples, so the cost
    /// follows the new samples, not the record. `partStarts` as for
    /// BuildSummaries, the same parts as before and any new ones. False on a
    /// read error, which leaves the summaries of the first `count` samples.
    /// Not to be read meanwhile.
    bool Extend(const SampleSource& source, std::uint64_t upTo, std::span<const std::uint64_t> partStarts = {});
};

/// Shared between a summary build and whoever watches it.
struct SummaryProgress {
    std::atomic<bool> cancel{false};       ///< set to stop the build early
    std::atomic<std::uint64_t> done{0};    ///< samples per channel summarised so far
};

enum class SummaryResult { Done, Cancelled, ReadError };

/// Summarises every sample of `source` on `threads` threads (at least 1),
/// counting progress and stopping soon after `progress.cancel` is set;
/// `out` is complete only on Done. `partStarts` (ascending, the first 0)
/// divides the record into parts whose statistics are kept as well.
SummaryResult BuildSummaries(const SampleSource& source, const SummaryShape& shape, int threads,
                             SummaryProgress& progress, SummaryPyramid& out,
                             std::span<const std::uint64_t> partStarts = {});
