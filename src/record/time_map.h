#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "files/dlf.h"
#include "files/series_reader.h"

/// When each sample of a record was taken, the one place every time shown
/// or taken is worked out: sample -> time from the record's start -> UTC,
/// and back. A stamped recording's time is real time: it goes on through
/// the gaps the recorder noted (samples lost between two files), so the time
/// from the start of any sample is its UTC less the first sample's. Between
/// gaps the time counts samples from the stamp of the first file after the
/// gap: the files of one stretch follow each other without a sample lost,
/// and a stamp out of step with them (a damaged file) moves no time. A record
/// with a file without a stamp (a window's save, a run) counts samples from
/// its start; its stamped files still tell their own UTC.
class TimeMap {
public:
    /// A gap: the samples before `sample` end at `fromMicros` (one period
    /// after the last of them) and `sample` is taken at `toMicros`, both
    /// from the record's start.
    struct Gap {
        std::uint64_t sample = 0;
        std::int64_t fromMicros = 0;
        std::int64_t toMicros = 0;
        friend bool operator==(const Gap&, const Gap&) = default;
    };

    /// An empty record.
    TimeMap() = default;
    /// `count` samples every `clockDivider` x 100 us, without stamps.
    static TimeMap Unstamped(std::uint64_t count, std::int32_t clockDivider);
    /// The files with `headers`, in order, as one record: each holds
    /// header.sampleCount samples (a file still being written: the samples
    /// it holds now).
    static TimeMap OfFiles(std::span<const DataFileHeader> headers);
    /// The files `reader` opened, as one record.
    static TimeMap OfSeries(const SeriesReader& reader);

    std::uint64_t Count() const { return m_count; }
    std::int32_t ClockDivider() const { return m_clockDivider; }
    std::int64_t PeriodMicros() const { return std::int64_t{m_clockDivider} * 100; }
    /// True when every file is stamped: times are real times.
    bool Stamped() const { return m_stamped; }

    /// Time of `sample` (<= Count(); Count() is one period after the last
    /// sample) from the record's first sample, in microseconds.
    std::int64_t MicrosFromStart(std::uint64_t sample) const;
    /// The record's length in time: MicrosFromStart(Count()).
    std::int64_t DurationMicros() const { return MicrosFromStart(m_count); }
    /// UTC of `sample` (< Count()) in microseconds since 1970; nullopt when
    /// its file carries no stamp.
    std::optional<std::int64_t> Utc(std::uint64_t sample) const;
    /// The first sample taken at or after `micros` from the start: a time in
    /// a gap gives the first sample after it, a time past the last sample
    /// Count(). A time within a period before a sample rounds up to it.
    std::uint64_t SampleAtOrAfter(std::int64_t micros) const;
    /// SampleAtOrAfter a UTC time; nullopt unless Stamped().
    std::optional<std::uint64_t> SampleAtOrAfterUtc(std::int64_t utcMicros) const;
    /// The gaps, in order (none unless Stamped()).
    std::vector<Gap> Gaps() const;
    /// The first sample after `sample` (< Count()) that follows a gap, or
    /// Count(): the samples between are taken one period apart.
    std::uint64_t StretchEnd(std::uint64_t sample) const;

private:
    /// A run of samples one period apart: from `first` on, the first taken
    /// `micros` after the record's start.
    struct Stretch {
        std::uint64_t first = 0;
        std::int64_t micros = 0;
    };
    /// A file's place and stamp, for Utc of a record that is not Stamped().
    struct FileStamp {
        std::uint64_t first = 0;
        std::optional<std::int64_t> startMicros;
    };
    std::size_t StretchOf(std::uint64_t sample) const;

    std::uint64_t m_count = 0;
    std::int32_t m_clockDivider = 1;
    bool m_stamped = false;
    std::int64_t m_startUtc = 0;       ///< UTC of sample 0 when Stamped()
    std::vector<Stretch> m_stretches;  ///< at least one, the first from sample 0 at 0
    std::vector<FileStamp> m_files;    ///< when not Stamped()
};
