#pragma once

#include <cstdint>

#include "display/geometry.h"

/// Entries per channel of the column tables; a plot may use at most
/// MAX_COLUMNS - 1 columns so that the spare slot after the last column fits.
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

/// First sample of every column for a record of `count` samples on `columns`
/// columns (clamped like EnvelopeColumns): samples starts[c] .. starts[c+1]-1
/// are exactly those SampleToColumn puts in column c, for c = 0 .. columns
/// (the spare slot included); starts[columns + 1] = count.
void ColumnStarts(std::int32_t columns, std::uint32_t count,
                  std::uint32_t (&starts)[MAX_COLUMNS + 1]);

/// Min/max envelope of a whole record of one channel, joined so that every
/// stroke reaches the last value of the column to its left. A record of 0
/// samples leaves every column empty (minY > maxY, nothing to draw).
void BuildEnvelope(ColumnTables& tables, int channel, const double* samples, std::uint32_t count,
                   const Rect& plot);

/// For each column, the last sample whose nearest column it is (or the entry
/// of its left neighbour for a column no sample maps to). Entry `columns`
/// (the spare slot) is filled the same way; entries after it are -1. With
/// count 0 every entry is -1.
void BuildColumnMap(std::int32_t (&columnEnd)[MAX_COLUMNS], std::int32_t columns,
                    std::uint32_t count);

/// Envelope of one column from the samples received so far; reads only
/// samples up to columnEnd[column], which the caller waits for. A column whose
/// map entry is -1 is left empty.
void UpdateLiveColumn(ColumnTables& tables, int channel, std::int32_t column,
                      const std::int32_t (&columnEnd)[MAX_COLUMNS], const double* samples,
                      const Rect& plot);
