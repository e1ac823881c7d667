#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "display/geometry.h"

/// The samples a plot shows: `count` samples from `first` on. The full view
/// of a record of n samples is {0, n}.
struct ViewRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    friend bool operator==(const ViewRange&, const ViewRange&) = default;
};

/// Zooming in stops at this many samples across the plot (or at the whole
/// record when it is shorter).
inline constexpr std::uint64_t MIN_VISIBLE_SAMPLES = 10;

/// {0, sampleCount}.
ViewRange FullView(std::uint64_t sampleCount);

/// `range` held inside a record of `sampleCount` samples: the count between
/// MIN_VISIBLE_SAMPLES (or the whole record, if shorter) and the whole
/// record, the first sample so that the range ends at the record's end at
/// the latest.
ViewRange ClampRange(ViewRange range, std::uint64_t sampleCount);

/// Count factor of a wheel turn of `angleDelta` eighths of a degree: each
/// notch (120) forward shows 4/5 of the samples, each notch back 5/4.
double WheelZoomFactor(int angleDelta);

/// The range scaled by `factor` around the point `at` of the way across it
/// (0: its first sample, 1: its end): that point stays where it is, as far
/// as the limits of ClampRange allow.
ViewRange ZoomAround(ViewRange range, std::uint64_t sampleCount, double at, double factor);

/// The range scaled by `factor` with the pointer on plot column `column` of
/// `columns`: the middle sample of the samples drawn in that column stays
/// drawn in it (to within a column), as far as the limits of ClampRange
/// allow; a column drawing the record's first or last sample keeps drawing
/// it, so that zooming on the first or last column keeps the record's start
/// or end in view.
ViewRange ZoomAtColumn(ViewRange range, std::uint64_t sampleCount, std::int32_t columns,
                       std::int32_t column, double factor);

/// The range moved with the pointer by `dx` pixel columns (positive: the
/// picture moves right, so earlier samples come into view), held inside the
/// record; the count does not change.
ViewRange PanByColumns(ViewRange range, std::uint64_t sampleCount, std::int32_t columns,
                       std::int32_t dx);

/// The range moved by `steps` tenths of its count (at least one sample
/// each; positive: later samples), held inside the record.
ViewRange PanBySteps(ViewRange range, std::uint64_t sampleCount, std::int32_t steps);

/// "samples <first>–<last> of <count>", indexes from 0, with thousands
/// separators: "samples 998,615–998,624 of 1,000,000".
std::string VisibleSpanText(ViewRange range, std::uint64_t sampleCount);

/// The sample a cursor at plot column `column` reads, and the column its
/// line is drawn in.
struct CursorPoint {
    std::uint64_t sample = 0;   ///< index in the record
    std::int32_t column = 0;    ///< plot column of the line, 0 .. columns - 1
    /// The samples drawn in that column: columnFirst .. columnFirst +
    /// columnCount - 1 of the record (none for a column showing the step
    /// held from its left).
    std::uint64_t columnFirst = 0;
    std::uint64_t columnCount = 0;
};

/// The sample drawn in plot `column` (clamped to the plot) of the visible
/// range, with the line on that column. Where a sample spans several columns,
/// the sample whose held step covers the column; where several samples share
/// a column, the one nearest to the pointer's share of the range, so that
/// the first column reads the first visible sample and the last column the
/// last. `range.count` must be at least 1.
CursorPoint CursorAtColumn(ViewRange range, std::int32_t columns, std::int32_t column);

/// A cursor on `sample` (held inside the visible range), on the column that
/// draws it.
CursorPoint CursorAtSample(ViewRange range, std::int32_t columns, std::uint64_t sample);

/// A readout value line ("CH0 4.23000 V") with the smallest and largest
/// value of the samples its column draws: "CH0 4.23000 V (min 3.10000, max
/// 9.90000)".
std::string WithColumnExtremes(const std::string& line, double minimum, double maximum);

/// Readout lines of a cursor on `sample` taken `timeNs` after the record's
/// start: "Sample <index>", "Time <timeNs, in the unit of the time axis of a
/// record `totalNs` long>", then "CH<n> <value> V" for the four channels'
/// `values`, as FormatFixed5OrExponent writes them.
std::vector<std::string> CursorReadout(std::uint64_t sample, std::int64_t timeNs, std::int64_t totalNs,
                                       const double (&values)[4]);

/// Decimals of the second that a sample period of `clockDivider` x 100 us
/// resolves: 4 at 10 kHz, none at 1 Hz.
int SamplePeriodDecimals(std::int32_t clockDivider);

/// The cursor's wall-clock line of a sample taken at `utcMicros` (UTC,
/// microseconds since 1970): "UTC 2026-12-08 07:35:43.1234", with the
/// decimals the sample period `clockDivider` x 100 us resolves (4 at 10 kHz,
/// none at 1 Hz).
std::string WallClockText(std::int64_t utcMicros, std::int32_t clockDivider);

/// Where the files of a shown series meet: the first sample of a file, and
/// whether the recorder lost samples just before it (a gap its stamps show).
struct RecordMark {
    std::uint64_t sample = 0;
    bool gap = false;
    friend bool operator==(const RecordMark&, const RecordMark&) = default;
};

/// A mark in the plot: the column that draws its sample.
struct MarkColumn {
    std::int32_t column = 0;
    bool gap = false;
    friend bool operator==(const MarkColumn&, const MarkColumn&) = default;
};

/// The columns of the `marks` inside the visible `range` on `columns`
/// columns, left to right (a mark on the range's first sample included).
std::vector<MarkColumn> MarkColumns(ViewRange range, std::int32_t columns, std::span<const RecordMark> marks);

/// Where a sample of a series lies: its file (0-based) and its index there.
struct FilePlace {
    std::size_t file = 0;
    std::uint64_t sample = 0;
    friend bool operator==(const FilePlace&, const FilePlace&) = default;
};

/// The place of `sample` among files starting at `fileFirsts` (ascending,
/// the first 0, at least one).
FilePlace PlaceInFiles(std::span<const std::uint64_t> fileFirsts, std::uint64_t sample);

/// The cursor's line naming where a sample lies: "File <name>, sample <index>".
std::string FilePlaceText(const std::string& name, std::uint64_t index);
