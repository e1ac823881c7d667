#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/viewnavigator.h"
#include "display/viewrange.h"
#include "record/samplesource.h"
#include "record/summaries.h"
#include "record/time_map.h"

/// The measurements of `markers` on a record of `source.Count()` samples
/// summarised by `summaries` (null: read directly) and taken at `times`:
/// each marker's "Marker A: sample <index>, <time from start>" (then its
/// WallClockText where the record is stamped) and its channels' values, with
/// both set "Δt <time>, Δ <samples> samples" (real time, a stamped
/// recording's gaps included; DeltaTimeText) and each channel's B − A, then
/// "Statistics between A and B" (both samples included) or, without both
/// markers, "Statistics of the visible range" `visible`, one line a channel.
std::vector<std::string> MarkerReadout(const MarkerPair& markers, const SampleSource& source,
                                       const SummaryPyramid* summaries, ViewRange visible, const TimeMap& times);

/// A time between two samples, `micros` (negative when B lies before A),
/// on a record `totalNs` long taken every `clockDivider` x 100 us: below a
/// minute in the unit of the time axis ("20 mS"), from a minute on as
/// h:mm:ss with the decimals the sample period resolves ("1:02:03.500").
std::string DeltaTimeText(std::int64_t micros, std::int64_t totalNs, std::int32_t clockDivider);
