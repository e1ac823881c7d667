#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/viewrange.h"
#include "record/samplesource.h"
#include "record/summaries.h"

/// Markers A and B on samples of the record shown, and the measurements
/// between them.
class Markers {
public:
    enum Which { A = 0, B = 1 };

    void Set(Which which, std::uint64_t sample) { m_at[which] = sample; }
    void Remove(Which which) { m_at[which].reset(); }
    void Clear() {
        m_at[A].reset();
        m_at[B].reset();
    }
    const std::optional<std::uint64_t>& At(Which which) const { return m_at[which]; }
    bool Any() const { return m_at[A] || m_at[B]; }

    /// UTC time of a sample in microseconds since 1970, where the record is stamped.
    using SampleUtc = std::function<std::optional<std::int64_t>(std::uint64_t)>;

    /// The readout of a record of `source.Count()` samples summarised by
    /// `summaries` (null: read directly): each marker's "Marker A: sample
    /// <index>, <time from start>" (then its WallClockText where `utcOf`
    /// tells it) and its channels' values, with both set
    /// "Δt <time>, Δ <samples> samples" and each channel's B − A, then
    /// "Statistics between A and B" (both samples included) or, without both
    /// markers, "Statistics of the visible range" `visible`, one line a channel.
    std::vector<std::string> Readout(const SampleSource& source, const SummaryPyramid* summaries,
                                     ViewRange visible, const SampleUtc& utcOf = nullptr) const;

private:
    std::optional<std::uint64_t> m_at[2];
};
