#include "app/shown_record.h"

#include <utility>

#include "settings/caption.h"

ShownRecord::ShownRecord(double* const (&bank)[4], const std::int32_t& count, const std::int32_t& clockDivider,
                         QObject* parent)
    : QObject(parent), m_bank(bank), m_count(count), m_clockDivider(clockDivider) {}

std::uint64_t ShownRecord::Count() const {
    return m_series ? m_series->source.Count() : static_cast<std::uint64_t>(m_count);
}

void ShownRecord::ShowBank(std::optional<RecordingStamp> stamp) {
    m_series.reset();
    m_stamp = std::move(stamp);
    emit shown();
}

void ShownRecord::ShowSeries(std::shared_ptr<ShownSeries> series) {
    m_series = std::move(series);
    m_stamp.reset();
    emit shown();
}

void ShownRecord::Append(std::uint64_t count) { emit appended(count); }

void ShownRecord::Read(const std::function<void(const SampleSource&, const SummaryPyramid*)>& use) const {
    if (m_series) {
        use(m_series->source, &m_series->summaries);
        return;
    }
    const RecordSource record(m_bank, static_cast<std::uint32_t>(m_count), m_clockDivider);
    use(record, nullptr);
}

std::optional<std::int64_t> ShownRecord::SampleUtc(std::uint64_t sample) const {
    // A stamped file alone tells the time of its samples as a series does.
    return m_series ? m_series->source.Reader().SampleTimeMicros(sample)
           : m_stamp ? std::optional(StampSampleMicros(*m_stamp, m_clockDivider, sample))
                     : std::nullopt;
}

bool ShownRecord::WholeExtremes(int channel, double& maximum, double& minimum) const {
    if (!m_series) {
        return ComputeStatistics(m_bank[channel], static_cast<std::uint32_t>(m_count), maximum, minimum);
    }
    // A series' extremes were found while its summaries were built.
    const ChannelStatistics& whole = m_series->summaries.statistics[channel];
    if (whole.valid) {
        maximum = whole.maximum;
        minimum = whole.minimum;
    }
    return whole.valid;
}

void ShownRecord::Draw(PlotView& view, int mode, bool dataValid, ViewRange visible) const {
    if (m_series) {
        view.RedrawAll(mode, m_series->source, m_series->summaries, visible);
    } else {
        view.RedrawAll(mode, dataValid, m_bank, static_cast<std::uint32_t>(m_count), m_clockDivider, visible);
    }
}
