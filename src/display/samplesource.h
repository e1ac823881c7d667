#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/envelope.h"
#include "files/series_reader.h"

/// A record's samples wherever they are: the in-memory record of the window
/// or a series of files read on demand. Reads are safe from several threads.
class SampleSource {
public:
    virtual ~SampleSource() = default;

    /// Samples per channel.
    virtual std::uint32_t Count() const = 0;
    /// Sample period in units of 100 us.
    virtual std::int32_t ClockDivider() const = 0;

    /// Samples of `channel` from `sample` (< Count()) on that lie together
    /// in memory: a pointer and how many follow (at least 1).
    struct Run {
        const double* samples = nullptr;
        std::uint32_t count = 0;
    };
    virtual Run RunAt(int channel, std::uint32_t sample) const = 0;

    /// Copies samples first .. first+count-1 of `channel` into `out`, for
    /// one pass over a long stretch; false on a read error.
    virtual bool Copy(int channel, std::uint32_t first, std::uint32_t count, double* out) const;

    double At(int channel, std::uint32_t sample) const { return *RunAt(channel, sample).samples; }

    /// ExtremesOfRun over samples begin .. end-1 (begin < end <= Count()),
    /// across the places the samples are held in without a seam.
    SampleExtremes Extremes(int channel, std::uint32_t begin, std::uint32_t end) const;
};

/// The window's in-memory record: four channel arrays of `count` samples.
class RecordSource final : public SampleSource {
public:
    RecordSource(const double* const channels[4], std::uint32_t count, std::int32_t clockDivider);
    std::uint32_t Count() const override { return m_count; }
    std::int32_t ClockDivider() const override { return m_clockDivider; }
    Run RunAt(int channel, std::uint32_t sample) const override;

private:
    const double* m_channels[4];
    std::uint32_t m_count;
    std::int32_t m_clockDivider;
};

/// A series of DLF files as one record, in the given order.
class SeriesSource final : public SampleSource {
public:
    /// Opens the files; Format also when the files together hold more
    /// samples than a record can count. Nothing stays open on failure.
    FileError Open(const std::vector<std::string>& paths);

    std::uint32_t Count() const override { return static_cast<std::uint32_t>(m_reader.Count()); }
    std::int32_t ClockDivider() const override;
    Run RunAt(int channel, std::uint32_t sample) const override;
    bool Copy(int channel, std::uint32_t first, std::uint32_t count, double* out) const override;

    const SeriesReader& Reader() const { return m_reader; }

private:
    SeriesReader m_reader;
};
