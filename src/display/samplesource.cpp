#include "display/samplesource.h"

#include <algorithm>
#include <cstring>

bool SampleSource::Copy(int channel, std::uint32_t first, std::uint32_t count, double* out) const {
    while (count > 0) {
        const Run run = RunAt(channel, first);
        const std::uint32_t n = std::min(count, run.count);
        std::memcpy(out, run.samples, std::size_t{n} * sizeof(double));
        out += n;
        first += n;
        count -= n;
    }
    return true;
}

SampleExtremes SampleSource::Extremes(int channel, std::uint32_t begin, std::uint32_t end) const {
    Run run = RunAt(channel, begin);
    SampleExtremes e = ExtremesOfRun(run.samples, std::min(end - begin, run.count));
    for (begin += run.count; begin < end; begin += run.count) {
        run = RunAt(channel, begin);
        e = MergeExtremes(e, ExtremesOfRun(run.samples, std::min(end - begin, run.count)));
    }
    return e;
}

RecordSource::RecordSource(const double* const channels[4], std::uint32_t count,
                           std::int32_t clockDivider)
    : m_channels{channels[0], channels[1], channels[2], channels[3]},
      m_count(count),
      m_clockDivider(clockDivider) {}

SampleSource::Run RecordSource::RunAt(int channel, std::uint32_t sample) const {
    return {m_channels[channel] + sample, m_count - sample};
}

FileError SeriesSource::Open(const std::vector<std::string>& paths) {
    const FileError e = m_reader.Open(paths);
    if (e == FileError::None && (m_reader.Count() > UINT32_MAX || m_reader.FileCount() == 0)) {
        m_reader.Open({});
        return FileError::Format;
    }
    return e;
}

std::int32_t SeriesSource::ClockDivider() const {
    return m_reader.FileCount() == 0 ? 1 : m_reader.Header(0).clockDivider;
}

SampleSource::Run SeriesSource::RunAt(int channel, std::uint32_t sample) const {
    const SeriesReader::Run run = m_reader.RunAt(channel, sample);
    return {run.samples, static_cast<std::uint32_t>(run.count)};
}

bool SeriesSource::Copy(int channel, std::uint32_t first, std::uint32_t count, double* out) const {
    return m_reader.Copy(channel, first, count, out);
}
