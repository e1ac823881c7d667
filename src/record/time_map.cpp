#include "record/time_map.h"

#include <algorithm>

#include "files/series.h"

TimeMap TimeMap::Unstamped(std::uint64_t count, std::int32_t clockDivider) {
    TimeMap map;
    map.m_count = count;
    map.m_clockDivider = std::max(clockDivider, 1);
    map.m_stretches.push_back({});
    return map;
}

TimeMap TimeMap::OfFiles(std::span<const DataFileHeader> headers) {
    TimeMap map;
    map.m_clockDivider = headers.empty() ? 1 : std::max(headers.front().clockDivider, 1);
    map.m_stamped = !headers.empty() && std::all_of(headers.begin(), headers.end(),
                                                    [](const DataFileHeader& h) { return h.stamp.has_value(); });
    map.m_stretches.push_back({});
    const std::int64_t period = map.PeriodMicros();
    if (map.m_stamped) map.m_startUtc = headers.front().stamp->startMicros;
    for (std::size_t f = 0; f < headers.size(); ++f) {
        if (map.m_stamped && f > 0 && SeriesGapSamples(headers[f - 1], headers[f]) > 0) {
            const Stretch& last = map.m_stretches.back();
            // A stamp earlier than the samples before it allow is no time to go back to.
            const std::int64_t end = last.micros + static_cast<std::int64_t>(map.m_count - last.first) * period;
            map.m_stretches.push_back({map.m_count, std::max(end, headers[f].stamp->startMicros - map.m_startUtc)});
        }
        if (!map.m_stamped) {
            map.m_files.push_back({map.m_count, headers[f].stamp ? std::optional(headers[f].stamp->startMicros)
                                                                 : std::nullopt});
        }
        map.m_count += headers[f].sampleCount;
    }
    return map;
}

TimeMap TimeMap::OfSeries(const SeriesReader& reader) {
    std::vector<DataFileHeader> headers;
    headers.reserve(reader.FileCount());
    for (std::size_t f = 0; f < reader.FileCount(); ++f) headers.push_back(reader.Header(f));
    return OfFiles(headers);
}

std::size_t TimeMap::StretchOf(std::uint64_t sample) const {
    const auto after = std::upper_bound(m_stretches.begin(), m_stretches.end(), sample,
                                        [](std::uint64_t s, const Stretch& stretch) { return s < stretch.first; });
    return static_cast<std::size_t>(after - m_stretches.begin()) - 1;
}

std::int64_t TimeMap::MicrosFromStart(std::uint64_t sample) const {
    const Stretch& stretch = m_stretches[StretchOf(sample)];
    return stretch.micros + static_cast<std::int64_t>(sample - stretch.first) * PeriodMicros();
}

std::optional<std::int64_t> TimeMap::Utc(std::uint64_t sample) const {
    if (m_stamped) return m_startUtc + MicrosFromStart(sample);
    const auto after = std::upper_bound(m_files.begin(), m_files.end(), sample,
                                        [](std::uint64_t s, const FileStamp& file) { return s < file.first; });
    if (after == m_files.begin() || !std::prev(after)->startMicros) return std::nullopt;
    const FileStamp& file = *std::prev(after);
    return *file.startMicros + static_cast<std::int64_t>(sample - file.first) * PeriodMicros();
}

std::uint64_t TimeMap::SampleAtOrAfter(std::int64_t micros) const {
    if (micros <= 0) return 0;
    const auto after = std::upper_bound(m_stretches.begin(), m_stretches.end(), micros,
                                        [](std::int64_t t, const Stretch& stretch) { return t < stretch.micros; });
    const Stretch& stretch = *std::prev(after);
    const std::uint64_t end = after == m_stretches.end() ? m_count : after->first;
    const auto offset = static_cast<std::uint64_t>(micros - stretch.micros);
    const auto period = static_cast<std::uint64_t>(PeriodMicros());
    const std::uint64_t steps = offset / period + (offset % period != 0);
    return steps >= end - stretch.first ? end : stretch.first + steps;
}

std::optional<std::uint64_t> TimeMap::SampleAtOrAfterUtc(std::int64_t utcMicros) const {
    if (!m_stamped) return std::nullopt;
    return SampleAtOrAfter(utcMicros - m_startUtc);
}

std::vector<TimeMap::Gap> TimeMap::Gaps() const {
    std::vector<Gap> gaps;
    for (std::size_t i = 1; i < m_stretches.size(); ++i) {
        const Stretch& before = m_stretches[i - 1];
        const Stretch& after = m_stretches[i];
        gaps.push_back({after.first,
                        before.micros + static_cast<std::int64_t>(after.first - before.first) * PeriodMicros(),
                        after.micros});
    }
    return gaps;
}

std::uint64_t TimeMap::StretchEnd(std::uint64_t sample) const {
    const std::size_t i = StretchOf(sample);
    return i + 1 < m_stretches.size() ? m_stretches[i + 1].first : m_count;
}
