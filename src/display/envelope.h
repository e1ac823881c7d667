#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "display/geometry.h"
#include "record/extremes.h"
#include "record/samplesource.h"
#include "record/summaries.h"

/// Entries per channel of the column tables; a plot uses at most
/// MAX_COLUMNS - 1 columns, as the window's layout allows.
inline constexpr int MAX_COLUMNS = 1000;

/// Per channel and plot column: y of the last sample, smallest y (upper end of
/// the stroke) and largest y (lower end). A column that received no sample has
/// minY = plot bottom + 1000 until it is joined to its left neighbour.
struct ColumnTables {
    std::int32_t lastY[4][MAX_COLUMNS];
    std::int32_t minY[4][MAX_COLUMNS];
    std::int32_t maxY[4][MAX_COLUMNS];
};

/// PlotColumns(plot) held to 1 .. MAX_COLUMNS - 1: no layout can make the
/// tables overflow.
std::int32_t EnvelopeColumns(const Rect& plot);

/// First sample of every column for `count` samples on `columns` columns
/// (clamped like EnvelopeColumns), counted from the first visible sample:
/// samples starts[c] .. starts[c+1]-1 are exactly those SampleToColumn puts
/// in column c, except that the last column also takes the half column past
/// it (the samples SampleToColumn maps to index `columns`); starts[columns]
/// = count.
void ColumnStarts(std::int32_t columns, std::uint64_t count,
                  std::uint64_t (&starts)[MAX_COLUMNS + 1]);

/// The extremes as a plot draws them: NaN and values below -1 V on the
/// -1 V row, like VoltToY.
SampleExtremes AsDrawn(SampleExtremes e);

/// lastY of a column whose samples could not be read: no stroke joins it.
inline constexpr std::int32_t UNREADABLE_Y = INT32_MIN;

/// Extremes of the samples begin .. end-1 of a record (begin < end).
using RunExtremes = std::function<SampleExtremes(std::uint64_t begin, std::uint64_t end)>;
/// One sample of a record.
using SampleValue = std::function<double(std::uint64_t sample)>;

/// The envelope BuildEnvelope makes, from any record that can give the
/// extremes of a run and single samples: the same tables whenever these
/// are exact. A column whose run is UNREADABLE_RUN stays empty with lastY
/// UNREADABLE_Y, and so do the columns without samples after it; no stroke
/// is joined to it, so an unreadable stretch is drawn as a gap. A column
/// whose last sample is NaN asks `extremes` for that sample alone, to tell
/// an unreadable one from a NaN in the record.
void BuildEnvelopeOf(ColumnTables& tables, int channel, std::uint64_t first, std::uint64_t count,
                     const Rect& plot, const RunExtremes& extremes, const SampleValue& value);

/// Extremes of samples begin .. end-1 of a channel, and one sample of it.
using ChannelRunExtremes = std::function<SampleExtremes(int channel, std::uint64_t begin, std::uint64_t end)>;
using ChannelSampleValue = std::function<double(int channel, std::uint64_t sample)>;

/// BuildEnvelopeOf of the four channels, on `plots` (of one width), column
/// by column with the four channels of each column in turn: the same
/// tables, but a record read from files reads each column's place once for
/// all channels rather than once per channel.
void BuildEnvelopesOf(ColumnTables& tables, std::uint64_t first, std::uint64_t count, const Rect (&plots)[4],
                      const ChannelRunExtremes& extremes, const ChannelSampleValue& value);

/// BuildEnvelope below for the four channels at once on `plots`
/// (BuildEnvelopesOf): the same tables, each column's place read once.
void BuildEnvelopes(ColumnTables& tables, const SampleSource& source, const SummaryPyramid& summaries,
                    std::uint64_t first, std::uint64_t count, const Rect (&plots)[4]);

/// The envelope of the visible `count` samples from `first` on, read
/// through `summaries` (which must summarise `source`): the same tables
/// BuildEnvelope makes from the raw samples.
void BuildEnvelope(ColumnTables& tables, int channel, const SampleSource& source,
                   const SummaryPyramid& summaries, std::uint64_t first, std::uint64_t count,
                   const Rect& plot);

/// Extremes of one channel's record per block of BLOCK samples, so that the
/// extremes of any run read at most two partial blocks of samples. It refers
/// to the samples it was built from and must be rebuilt when they change.
class BlockExtremes {
public:
    static constexpr std::uint32_t BLOCK = 32;

    /// Indexes `count` samples at `samples`.
    void Build(const double* samples, std::uint32_t count);

    /// True when built from these samples and holding at least `end` of them.
    bool Covers(const double* samples, std::uint32_t end) const {
        return samples != nullptr && samples == m_samples && end <= m_count;
    }

    /// Extremes of samples begin .. end-1 (begin < end <= the indexed count).
    SampleExtremes Of(std::uint32_t begin, std::uint32_t end) const;

private:
    const double* m_samples = nullptr;
    std::uint32_t m_count = 0;
    std::vector<double> m_low;
    std::vector<double> m_high;
};

/// Min/max envelope of `count` samples of one channel from sample `first`
/// on (the full view: 0 and the record's count), joined so that every stroke
/// reaches the last value of the column to its left. `index`, when it covers
/// these samples, saves reading every one of them; the tables come out the
/// same either way. A count of 0 leaves every column empty (minY > maxY,
/// nothing to draw).
void BuildEnvelope(ColumnTables& tables, int channel, const double* samples, std::uint32_t first,
                   std::uint32_t count, const Rect& plot, const BlockExtremes* index = nullptr);

/// For each column, the last sample whose nearest column it is (or the entry
/// of its left neighbour for a column no sample maps to); the last column's
/// entry is the last sample, as the last column takes the half column past
/// it. Entries from `columns` on are -1. With count 0 every entry is -1.
void BuildColumnMap(std::int32_t (&columnEnd)[MAX_COLUMNS], std::int32_t columns,
                    std::uint32_t count);

/// Envelope of one column from the samples received so far; reads only
/// samples up to columnEnd[column], which the caller waits for. A column whose
/// map entry is -1 is left empty.
void UpdateLiveColumn(ColumnTables& tables, int channel, std::int32_t column,
                      const std::int32_t (&columnEnd)[MAX_COLUMNS], const double* samples,
                      const Rect& plot);
