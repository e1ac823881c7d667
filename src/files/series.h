#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "files/dlf.h"

/// Why files given in order cannot be joined into one record.
enum class SeriesFault {
    None,
    Clock,      ///< the two files have different clock dividers
    Recording,  ///< the two files carry different recording identities
    Gap,        ///< files of one recording that do not follow each other: a
                ///< gap or repeat in the index or the sample count, or a
                ///< file without a stamp between them
};

/// The outcome of CheckSeries. For a fault, `first` < `second` are the
/// positions in the list of the two files that do not belong together.
struct SeriesCheck {
    SeriesFault fault = SeriesFault::None;
    std::size_t first = 0;
    std::size_t second = 0;

    /// True when the files form one record.
    explicit operator bool() const { return fault == SeriesFault::None; }
};

/// Checks whether the files whose headers are given, in the order given,
/// form one record, and reports the first pair along the list that does not:
/// - every file must have the clock divider of the file before it;
/// - every stamped file must carry the identity of the stamped file before
///   it, anywhere earlier in the list;
/// - a stamped file after a stamped file of the same recording must come
///   directly after it, with the next index and with firstSample equal to
///   that file's firstSample + sampleCount, or, across a gap the recording
///   noted (frames lost), beyond it and with a startMicros later than that
///   file's (see SeriesGapSamples).
/// Files without a stamp, such as the window's saves, join any file of the
/// same clock. An empty list or a single file always passes.
SeriesCheck CheckSeries(std::span<const DataFileHeader> headers);

/// The samples a recording lost between the stamped files `before` and
/// `after` of one recording with consecutive indices: after.firstSample
/// minus the end of `before` (firstSample + sampleCount), when that is
/// positive and `after` starts later (startMicros) than `before`; 0 for
/// files that follow each other directly and for any other pair.
std::uint64_t SeriesGapSamples(const DataFileHeader& before, const DataFileHeader& after);

/// A gap that a recording noted between two files of a series.
struct SeriesGap {
    std::size_t before = 0;        ///< position in the list of the file that ends at the gap
    std::size_t after = 0;         ///< position of the file that starts after it
    std::int64_t fromMicros = 0;   ///< UTC one sample period after the last sample of `before`
    std::int64_t toMicros = 0;     ///< UTC of the first sample of `after`
    std::uint64_t lostSamples = 0; ///< SeriesGapSamples
};

/// The gaps between neighbours of the list (SeriesGapSamples), in order.
std::vector<SeriesGap> SeriesGaps(std::span<const DataFileHeader> headers);

/// A stamp that disagrees with the series around it.
struct DamagedStamp {
    std::size_t file = 0;          ///< position in the list
    std::int64_t offMicros = 0;    ///< its startMicros less what its neighbour's place gives
};

/// The stamped files whose time disagrees with their place in the series:
/// between neighbours of one recording, the later file's startMicros must be
/// the earlier one's plus the sample periods between their first samples
/// (lost ones included, so across a gap too), within a second and the
/// drift of a logger's crystal (0.1 %). A file that disagrees with every
/// neighbour it has is damaged (in a series of two, the second is named).
std::vector<DamagedStamp> DamagedStamps(std::span<const DataFileHeader> headers);
