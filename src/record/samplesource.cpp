#include "record/samplesource.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace {

std::atomic<std::uint64_t> g_nextSeriesId{1};

}  // namespace

RecordSource::RecordSource(const double* const channels[4], std::uint32_t count,
                           std::int32_t clockDivider)
    : m_channels{channels[0], channels[1], channels[2], channels[3]},
      m_count(count),
      m_clockDivider(clockDivider) {}

bool RecordSource::Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const {
    std::memcpy(out, m_channels[channel] + first, count * sizeof(double));
    return true;
}

SampleExtremes RecordSource::Extremes(int channel, std::uint64_t begin, std::uint64_t end) const {
    return ExtremesOfRun(m_channels[channel] + begin, end - begin);
}

FileError SeriesSource::Open(const std::vector<std::string>& paths) {
    m_id = g_nextSeriesId++;
    const FileError e = m_reader.Open(paths);
    if (e == FileError::None && m_reader.FileCount() == 0) {
        m_reader.Open({});
        return FileError::Format;
    }
    return e;
}

std::int32_t SeriesSource::ClockDivider() const {
    return m_reader.FileCount() == 0 ? 1 : m_reader.Header(0).clockDivider;
}

bool SeriesSource::Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const {
    if (!m_reader.Copy(channel, first, count, out)) {
        m_readFailed = true;
        return false;
    }
    return true;
}

const double* SeriesSource::Block(int channel, std::uint64_t sample,
                                  std::uint64_t& blockFirst) const {
    struct Cached {
        std::uint64_t id = 0;
        int channel = -1;
        std::uint64_t first = 0;
        double samples[BLOCK];
    };
    thread_local Cached cached;
    blockFirst = sample / BLOCK * BLOCK;
    if (cached.id != m_id || cached.channel != channel || cached.first != blockFirst) {
        const std::uint64_t n = std::min(BLOCK, Count() - blockFirst);
        cached.id = 0;
        if (!Copy(channel, blockFirst, n, cached.samples)) {
            return nullptr;
        }
        cached.id = m_id;
        cached.channel = channel;
        cached.first = blockFirst;
    }
    return cached.samples;
}

std::optional<double> SeriesSource::Sample(int channel, std::uint64_t sample) const {
    std::uint64_t first = 0;
    const double* block = Block(channel, sample, first);
    return block != nullptr ? std::optional<double>(block[sample - first]) : std::nullopt;
}

double SeriesSource::At(int channel, std::uint64_t sample) const {
    return Sample(channel, sample).value_or(std::nan(""));
}

SampleExtremes SeriesSource::Extremes(int channel, std::uint64_t begin, std::uint64_t end) const {
    SampleExtremes e{};
    for (std::uint64_t at = begin; at < end;) {
        std::uint64_t first = 0;
        const double* block = Block(channel, at, first);
        const auto n = static_cast<std::uint32_t>(std::min(end, first + BLOCK) - at);
        const SampleExtremes part = block != nullptr ? ExtremesOfRun(block + (at - first), n) : UNREADABLE_RUN;
        e = at == begin ? part : MergeExtremes(e, part);
        at += n;
    }
    return e;
}
