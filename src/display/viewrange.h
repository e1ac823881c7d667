#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The samples a plot shows: `count` samples from `first` on. The full view
/// of a record of n samples is {0, n}.
struct ViewRange {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    friend bool operator==(const ViewRange&, const ViewRange&) = default;
};

/// Zooming in stops at this many samples across the plot (or at the whole
/// record when it is shorter).
inline constexpr std::uint32_t MIN_VISIBLE_SAMPLES = 10;

/// {0, sampleCount}.
ViewRange FullView(std::uint32_t sampleCount);

/// `range` held inside a record of `sampleCount` samples: the count between
/// MIN_VISIBLE_SAMPLES (or the whole record, if shorter) and the whole
/// record, the first sample so that the range ends at the record's end at
/// the latest.
ViewRange ClampRange(ViewRange range, std::uint32_t sampleCount);

/// Count factor of a wheel turn of `angleDelta` eighths of a degree: each
/// notch (120) forward shows 4/5 of the samples, each notch back 5/4.
double WheelZoomFactor(int angleDelta);

/// The range scaled by `factor` around plot column `column` of `columns`:
/// the sample position under that column stays under it, as far as the
/// limits of ClampRange allow.
ViewRange ZoomAtColumn(ViewRange range, std::uint32_t sampleCount, std::int32_t columns,
                       std::int32_t column, double factor);

/// The range moved with the pointer by `dx` pixel columns (positive: the
/// picture moves right, so earlier samples come into view), held inside the
/// record; the count does not change.
ViewRange PanByColumns(ViewRange range, std::uint32_t sampleCount, std::int32_t columns,
                       std::int32_t dx);

/// The sample a cursor at plot column `column` reads, and the column its
/// line is drawn in.
struct CursorPoint {
    std::uint32_t sample = 0;   ///< index in the record
    std::int32_t column = 0;    ///< plot column of that sample, 0 .. columns - 1
};

/// The visible sample nearest to `column`, and the column it is drawn in
/// (its nearest column, with the half column past the last folded into it).
/// `range.count` must be at least 1.
CursorPoint CursorAtColumn(ViewRange range, std::int32_t columns, std::int32_t column);

/// Readout lines of a cursor on `sample`: "Sample <index>", "Time <time from
/// the record's start, in the unit of the time axis>", then "CH<n> <%.5f> V"
/// for the four channels' `values`.
std::vector<std::string> CursorReadout(std::uint32_t sample, std::uint32_t sampleCount,
                                       std::int32_t clockDivider, const double (&values)[4]);
