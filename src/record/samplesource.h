#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/series_reader.h"
#include "record/extremes.h"

/// A record's samples wherever they are: the in-memory record of the window
/// or a series of files read on demand. Reads are safe from several threads.
class SampleSource {
public:
    virtual ~SampleSource() = default;

    /// Samples per channel.
    virtual std::uint64_t Count() const = 0;
    /// Sample period in units of 100 us.
    virtual std::int32_t ClockDivider() const = 0;

    /// Copies samples first .. first+count-1 of `channel` into `out`, for
    /// one pass over a long stretch; false on a read error.
    virtual bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const = 0;

    /// One sample (< Count()); a sample that cannot be read is NaN.
    virtual double At(int channel, std::uint64_t sample) const = 0;

    /// ExtremesOfRun over samples begin .. end-1 (begin < end <= Count()),
    /// across the places the samples are held in without a seam.
    virtual SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const = 0;
};

/// The window's in-memory record: four channel arrays of `count` samples.
class RecordSource final : public SampleSource {
public:
    RecordSource(const double* const channels[4], std::uint32_t count, std::int32_t clockDivider);
    std::uint64_t Count() const override { return m_count; }
    std::int32_t ClockDivider() const override { return m_clockDivider; }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override;
    double At(int channel, std::uint64_t sample) const override { return m_channels[channel][sample]; }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override;

private:
    const double* m_channels[4];
    std::uint32_t m_count;
    std::int32_t m_clockDivider;
};

/// A series of DLF files as one record, in the given order. Single samples
/// and short runs, as a redraw reads them at the columns' edges, come
/// through a small per-thread block cache, so neighbouring reads cost one
/// read of the file.
class SeriesSource final : public SampleSource {
public:
    /// Opens the files; Format also for no files. Nothing stays open on
    /// failure.
    FileError Open(const std::vector<std::string>& paths);

    std::uint64_t Count() const override { return m_reader.Count(); }
    std::int32_t ClockDivider() const override;
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override;
    double At(int channel, std::uint64_t sample) const override;
    /// UNREADABLE_RUN for the part that cannot be read: a changed file is
    /// drawn as a gap, never as values.
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override;

    /// One sample; nullopt when it cannot be read (At gives NaN then).
    std::optional<double> Sample(int channel, std::uint64_t sample) const;

    /// True once after any read failed since the last call: a file of the
    /// series changed, shrank or went away while it was shown.
    bool TakeReadFailure() const { return m_readFailed.exchange(false); }

    const SeriesReader& Reader() const { return m_reader; }

private:
    /// Samples per cached block.
    static constexpr std::uint64_t BLOCK = 512;
    /// The block of `channel` holding `sample`, and where it starts; null
    /// when it cannot be read.
    const double* Block(int channel, std::uint64_t sample, std::uint64_t& blockFirst) const;

    SeriesReader m_reader;
    std::uint64_t m_id = 0;  ///< tells this opening's cached blocks from any other's
    mutable std::atomic<bool> m_readFailed{false};
};
