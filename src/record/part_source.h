#pragma once

#include <cstdint>

#include "record/samplesource.h"

/// Samples first .. first+count-1 of another source as a record of its own,
/// which must outlive it: a part drawn or summarised as a whole record is.
class PartSource final : public SampleSource {
public:
    PartSource(const SampleSource& whole, std::uint64_t first, std::uint64_t count)
        : m_whole(whole), m_first(first), m_count(count) {}
    std::uint64_t Count() const override { return m_count; }
    std::int32_t ClockDivider() const override { return m_whole.ClockDivider(); }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override {
        return m_whole.Copy(channel, m_first + first, count, out);
    }
    double At(int channel, std::uint64_t sample) const override { return m_whole.At(channel, m_first + sample); }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override {
        return m_whole.Extremes(channel, m_first + begin, m_first + end);
    }

private:
    const SampleSource& m_whole;
    std::uint64_t m_first;
    std::uint64_t m_count;
};
