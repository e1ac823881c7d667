#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/viewnavigator.h"
#include "display/viewrange.h"
#include "record/samplesource.h"
#include "record/summaries.h"

/// UTC time of a sample in microseconds since 1970, where the record is stamped.
using MarkerSampleUtc = std::function<std::optional<std::int64_t>(std::uint64_t)>;

/// The measurements of `markers` on a record of `source.Count()` samples
/// summarised by `summaries` (null: read directly): each marker's "Marker A:
/// sample <index>, <time from start>" (then its WallClockText where `utcOf`
/// tells it) and its channels' values, with both set "Δt <time>, Δ <samples>
/// samples" and each channel's B − A, then "Statistics between A and B" (both
/// samples included) or, without both markers, "Statistics of the visible
/// range" `visible`, one line a channel.
std::vector<std::string> MarkerReadout(const MarkerPair& markers, const SampleSource& source,
                                       const SummaryPyramid* summaries, ViewRange visible,
                                       const MarkerSampleUtc& utcOf = nullptr);
