#include "display/envelope.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

bool ValidChannel(int channel) { return channel >= 0 && channel < 4; }

void MarkEmpty(ColumnTables& t, int ch, std::int32_t c, const Rect& plot) {
    t.lastY[ch][c] = plot.bottom + 1000;
    t.minY[ch][c] = plot.bottom + 1000;
    t.maxY[ch][c] = plot.top - 1000;
}

// A column without samples takes the last row of its left neighbour; any
// column's stroke is stretched to reach that row. Nothing joins an
// unreadable column, and a column without samples after one stays unreadable.
void JoinToPrevious(ColumnTables& t, int ch, std::int32_t c, const Rect& plot) {
    const std::int32_t p = t.lastY[ch][c - 1];
    if (t.lastY[ch][c] == UNREADABLE_Y || p == UNREADABLE_Y) {
        if (t.minY[ch][c] == plot.bottom + 1000) {
            t.lastY[ch][c] = UNREADABLE_Y;
        }
        return;
    }
    if (t.minY[ch][c] == plot.bottom + 1000) {
        t.lastY[ch][c] = p;
        t.minY[ch][c] = p;
        t.maxY[ch][c] = p;
    }
    t.minY[ch][c] = std::min(t.minY[ch][c], p);
    t.maxY[ch][c] = std::max(t.maxY[ch][c], p);
}

}  // namespace

std::int32_t EnvelopeColumns(const Rect& plot) {
    return std::clamp(PlotColumns(plot), 1, MAX_COLUMNS - 1);
}

void ColumnStarts(std::int32_t columns, std::uint64_t count,
                  std::uint64_t (&starts)[MAX_COLUMNS + 1]) {
    const std::int32_t w = std::clamp(columns, 1, MAX_COLUMNS - 1);
    starts[0] = 0;
    for (std::int32_t c = 1; c < w; ++c) {
        // Estimate the first sample with s * w / count + 0.5 >= c, then settle
        // it against SampleToColumn itself so the columns are bit-identical.
        const double estimate = std::ceil((c - 0.5) * static_cast<double>(count) / w);
        std::uint64_t s = static_cast<std::uint64_t>(std::clamp(estimate, 0.0, double(count)));
        while (s < count && SampleToColumn(s, w, count) < c) {
            ++s;
        }
        while (s > 0 && SampleToColumn(s - 1, w, count) >= c) {
            --s;
        }
        starts[c] = s;
    }
    // The samples nearest to the half column past the last are drawn in the last.
    starts[w] = count;
}

void BlockExtremes::Build(const double* samples, std::uint32_t count) {
    m_samples = samples;
    m_count = samples == nullptr ? 0 : count;
    const std::uint32_t blocks = m_count / BLOCK;
    m_low.resize(blocks);
    m_high.resize(blocks);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const SampleExtremes e = ExtremesOfRun(samples + b * BLOCK, BLOCK);
        m_low[b] = e.low;
        m_high[b] = e.high;
    }
}

SampleExtremes BlockExtremes::Of(std::uint32_t begin, std::uint32_t end) const {
    const std::uint32_t firstBlock = (begin + BLOCK - 1) / BLOCK;
    const std::uint32_t endBlock = end / BLOCK;
    if (endBlock <= firstBlock + 1) {
        return ExtremesOfRun(m_samples + begin, end - begin);
    }
    SampleExtremes e{m_low[firstBlock], m_high[firstBlock]};
    for (std::uint32_t b = firstBlock + 1; b < endBlock; ++b) {
        e = MergeExtremes(e, {m_low[b], m_high[b]});
    }
    const auto merge = [&](std::uint32_t from, std::uint32_t to) {
        if (from < to) {
            e = MergeExtremes(e, ExtremesOfRun(m_samples + from, to - from));
        }
    };
    merge(begin, firstBlock * BLOCK);
    merge(endBlock * BLOCK, end);
    return e;
}

SampleExtremes AsDrawn(SampleExtremes e) {
    const auto drawn = [](double v) { return v >= -1.0 ? v : -1.0; };
    return {drawn(e.low), drawn(e.high)};
}

void BuildEnvelope(ColumnTables& tables, int channel, const double* samples, std::uint32_t first,
                   std::uint32_t count, const Rect& plot, const BlockExtremes* index) {
    const bool indexed = index != nullptr && count > 0 &&
                         static_cast<std::uint64_t>(first) + count <= UINT32_MAX &&
                         index->Covers(samples, first + count);
    BuildEnvelopeOf(
        tables, channel, first, count, plot,
        [&](std::uint64_t begin, std::uint64_t end) {
            const auto b = static_cast<std::uint32_t>(begin);
            const auto e = static_cast<std::uint32_t>(end);
            return indexed ? index->Of(b, e) : ExtremesOfRun(samples + b, e - b);
        },
        [&](std::uint64_t sample) { return samples[sample]; });
}

namespace {

// Column c of one channel's envelope, samples begin .. end-1, before the
// columns are joined.
void EnvelopeColumn(ColumnTables& tables, int channel, std::int32_t c, std::uint64_t begin, std::uint64_t end,
                    const Rect& plot, const RunExtremes& extremes, const SampleValue& value) {
    MarkEmpty(tables, channel, c, plot);
    if (begin == end) {
        return;
    }
    const SampleExtremes run = extremes(begin, end);
    if (IsUnreadable(run)) {
        tables.lastY[channel][c] = UNREADABLE_Y;
        return;
    }
    const std::int32_t yHigh = VoltToY(run.high, plot);
    const std::int32_t yLow = VoltToY(run.low, plot);
    tables.minY[channel][c] = std::min(yHigh, yLow);
    tables.maxY[channel][c] = std::max(yHigh, yLow);
    const double last = value(end - 1);
    tables.lastY[channel][c] =
        std::isnan(last) && IsUnreadable(extremes(end - 1, end)) ? UNREADABLE_Y : VoltToY(last, plot);
}

void JoinColumns(ColumnTables& tables, int channel, std::int32_t w, std::uint64_t count, const Rect& plot) {
    if (count == 0) {
        // Nothing to hold flat: without a sample in column 0 there is no row
        // to join to, so every column stays empty.
        std::fill_n(tables.lastY[channel], w, plot.bottom + 1000);
        return;
    }
    for (std::int32_t c = 1; c < w; ++c) {
        JoinToPrevious(tables, channel, c, plot);
    }
}

}  // namespace

void BuildEnvelopeOf(ColumnTables& tables, int channel, std::uint64_t first, std::uint64_t count,
                     const Rect& plot, const RunExtremes& extremes, const SampleValue& value) {
    if (!ValidChannel(channel)) {
        return;
    }
    const std::int32_t w = EnvelopeColumns(plot);
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(w, count, starts);
    for (std::int32_t c = 0; c < w; ++c) {
        EnvelopeColumn(tables, channel, c, first + starts[c], first + starts[c + 1], plot, extremes, value);
    }
    JoinColumns(tables, channel, w, count, plot);
}

void BuildEnvelopesOf(ColumnTables& tables, std::uint64_t first, std::uint64_t count, const Rect (&plots)[4],
                      const ChannelRunExtremes& extremes, const ChannelSampleValue& value) {
    const std::int32_t w = EnvelopeColumns(plots[0]);
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(w, count, starts);
    RunExtremes runs[4];
    SampleValue values[4];
    for (int ch = 0; ch < 4; ++ch) {
        runs[ch] = [&, ch](std::uint64_t b, std::uint64_t e) { return extremes(ch, b, e); };
        values[ch] = [&, ch](std::uint64_t s) { return value(ch, s); };
    }
    for (std::int32_t c = 0; c < w; ++c) {
        for (int ch = 0; ch < 4; ++ch) {
            EnvelopeColumn(tables, ch, c, first + starts[c], first + starts[c + 1], plots[ch], runs[ch], values[ch]);
        }
    }
    for (int ch = 0; ch < 4; ++ch) {
        JoinColumns(tables, ch, w, count, plots[ch]);
    }
}

void BuildColumnMap(std::int32_t (&columnEnd)[MAX_COLUMNS], std::int32_t columns,
                    std::uint32_t count) {
    const std::int32_t w = std::clamp(columns, 1, MAX_COLUMNS - 1);
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(w, count, starts);
    std::fill(std::begin(columnEnd), std::end(columnEnd), -1);
    for (std::int32_t c = 0; c < w; ++c) {
        if (starts[c + 1] > starts[c]) {
            columnEnd[c] = static_cast<std::int32_t>(starts[c + 1] - 1);
        } else if (c > 0) {
            columnEnd[c] = columnEnd[c - 1];
        }
    }
}

void UpdateLiveColumn(ColumnTables& tables, int channel, std::int32_t column,
                      const std::int32_t (&columnEnd)[MAX_COLUMNS], const double* samples,
                      const Rect& plot) {
    const std::int32_t w = EnvelopeColumns(plot);
    if (!ValidChannel(channel) || column < 0 || column >= w) {
        return;
    }
    const std::int32_t c = column;
    MarkEmpty(tables, channel, c, plot);
    const std::int32_t* e = columnEnd;
    if (e[c] < 0) {
        return;
    }
    const std::int32_t begin = c == 0 ? 0 : std::max(e[c - 1], 0);
    const std::int32_t length = std::max(c == 0 ? e[0] : e[c + 1] - e[c], 1);
    // Samples after columnEnd[c] may not have arrived yet.
    const std::int32_t end = std::min(begin + length, e[c] + 1);
    for (std::int32_t s = begin; s < end; ++s) {
        const std::int32_t y = VoltToY(samples[s], plot);
        tables.lastY[channel][c] = y;
        tables.minY[channel][c] = std::min(tables.minY[channel][c], y);
        tables.maxY[channel][c] = std::max(tables.maxY[channel][c], y);
    }
    if (c >= 1) {
        JoinToPrevious(tables, channel, c, plot);
    }
}

void BuildEnvelope(ColumnTables& tables, int channel, const SampleSource& source,
                   const SummaryPyramid& summaries, std::uint64_t first, std::uint64_t count,
                   const Rect& plot) {
    BuildEnvelopeOf(
        tables, channel, first, count, plot,
        [&](std::uint64_t begin, std::uint64_t end) {
            return summaries.Extremes(source, channel, begin, end);
        },
        [&](std::uint64_t sample) { return source.At(channel, sample); });
}

void BuildEnvelopes(ColumnTables& tables, const SampleSource& source, const SummaryPyramid& summaries,
                    std::uint64_t first, std::uint64_t count, const Rect (&plots)[4]) {
    BuildEnvelopesOf(
        tables, first, count, plots,
        [&](int channel, std::uint64_t begin, std::uint64_t end) {
            return summaries.Extremes(source, channel, begin, end);
        },
        [&](int channel, std::uint64_t sample) { return source.At(channel, sample); });
}
