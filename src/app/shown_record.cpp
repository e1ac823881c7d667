#include "app/shown_record.h"

#include <algorithm>
#include <utility>

#include "files/series.h"
#include "settings/caption.h"

namespace {

// The first `count` samples of a growing record: what its summaries cover,
// so that the samples a poll added meanwhile wait for the next Append.
class ShownPart final : public SampleSource {
public:
    ShownPart(const SampleSource& source, std::uint64_t count) : m_source(source), m_count(count) {}
    std::uint64_t Count() const override { return m_count; }
    std::int32_t ClockDivider() const override { return m_source.ClockDivider(); }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override {
        return m_source.Copy(channel, first, count, out);
    }
    double At(int channel, std::uint64_t sample) const override { return m_source.At(channel, sample); }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override {
        return m_source.Extremes(channel, begin, end);
    }

private:
    const SampleSource& m_source;
    std::uint64_t m_count;
};

}  // namespace

ShownRecord::ShownRecord(double* const (&bank)[4], const std::int32_t& count, const std::int32_t& clockDivider,
                         QObject* parent)
    : QObject(parent), m_bank(bank), m_count(count), m_clockDivider(clockDivider) {}

std::uint64_t ShownRecord::Count() const {
    return m_followed ? m_followed->count
           : m_series ? m_series->source.Count()
                      : static_cast<std::uint64_t>(m_count);
}

void ShownRecord::ShowBank(std::optional<RecordingStamp> stamp) {
    m_series.reset();
    m_followed.reset();
    m_stamp = std::move(stamp);
    m_timesValid = false;
    emit shown();
}

void ShownRecord::ShowSeries(std::shared_ptr<ShownSeries> series) {
    m_series = std::move(series);
    m_followed.reset();
    m_stamp.reset();
    m_timesValid = false;
    emit shown();
}

void ShownRecord::ShowFollowed(std::shared_ptr<FollowedShown> followed) {
    m_series.reset();
    m_followed = std::move(followed);
    m_stamp.reset();
    m_timesValid = false;
    emit shown();
}

void ShownRecord::Append(std::uint64_t count) {
    if (m_followed) {
        m_followed->count = count;
    }
    emit appended(count);
}

void ShownRecord::Read(const std::function<void(const SampleSource&, const SummaryPyramid*)>& use) const {
    if (m_followed) {
        use(ShownPart(*m_followed->recording, m_followed->count), &m_followed->summaries);
        return;
    }
    if (m_series) {
        use(m_series->source, &m_series->summaries);
        return;
    }
    const RecordSource record(m_bank, static_cast<std::uint32_t>(m_count), m_clockDivider);
    use(record, nullptr);
}

std::optional<std::int64_t> ShownRecord::SampleUtc(std::uint64_t sample) const {
    return sample < Count() ? Times().Utc(sample) : std::nullopt;
}

const TimeMap& ShownRecord::Times() const {
    // The bank changes under the model with each run: its length and clock tell.
    if (m_timesValid && m_times.Count() == Count() &&
        (m_series || m_followed || m_times.ClockDivider() == std::max(m_clockDivider, 1))) {
        return m_times;
    }
    if (m_followed) {
        m_times = m_followed->recording->Times(m_followed->count);
    } else if (m_series) {
        m_times = TimeMap::OfSeries(m_series->source.Reader());
    } else if (m_stamp) {
        // A stamped file alone tells the time of its samples as a series does.
        DataFileHeader header;
        header.clockDivider = m_clockDivider;
        header.sampleCount = static_cast<std::uint32_t>(m_count);
        header.stamp = m_stamp;
        m_times = TimeMap::OfFiles(std::span(&header, 1));
    } else {
        m_times = TimeMap::Unstamped(Count(), m_clockDivider);
    }
    m_timesValid = true;
    return m_times;
}

std::vector<RecordFile> ShownRecord::Files() const {
    if (m_followed) {
        return m_followed->recording->Files(m_followed->count);
    }
    std::vector<RecordFile> files;
    if (m_series) {
        const SeriesReader& reader = m_series->source.Reader();
        for (std::size_t f = 0; f < reader.FileCount(); ++f) {
            files.push_back({reader.FirstSample(f), reader.Identity(f).path,
                             f > 0 && SeriesGapSamples(reader.Header(f - 1), reader.Header(f)) > 0});
        }
    }
    return files;
}

bool ShownRecord::WholeExtremes(int channel, double& maximum, double& minimum) const {
    if (!m_series && !m_followed) {
        return ComputeStatistics(m_bank[channel], static_cast<std::uint32_t>(m_count), maximum, minimum);
    }
    // A series' extremes were found while its summaries were built.
    const ChannelStatistics& whole = (m_followed ? m_followed->summaries : m_series->summaries).statistics[channel];
    if (whole.valid) {
        maximum = whole.maximum;
        minimum = whole.minimum;
    }
    return whole.valid;
}

void ShownRecord::Draw(PlotView& view, int mode, bool dataValid, ViewRange visible) const {
    if (m_followed) {
        view.RedrawAll(mode, ShownPart(*m_followed->recording, m_followed->count), m_followed->summaries, visible);
    } else if (m_series) {
        view.RedrawAll(mode, m_series->source, m_series->summaries, visible);
    } else {
        view.RedrawAll(mode, dataValid, m_bank, static_cast<std::uint32_t>(m_count), m_clockDivider, visible);
    }
}
