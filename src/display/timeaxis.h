#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/geometry.h"
#include "display/viewrange.h"

/// Width in pixels of a label's text in the label font.
using LabelWidth = std::function<int(const std::string&)>;

/// Horizontal space kept free between neighbouring tick labels where the
/// step is chosen to fit them, in pixels.
inline constexpr int TICK_LABEL_GAP = 8;

/// One tick of the time axis: its sample, the x pixel of its column and
/// grid line, and its two labels with the left pixel of each label's cell.
struct AxisTick {
    std::uint64_t sample = 0;
    std::int32_t x = 0;
    std::string time;   ///< above the top pane
    std::string index;  ///< under each plot
    std::int32_t timeLeft = 0;
    std::int32_t indexLeft = 0;
    friend bool operator==(const AxisTick&, const AxisTick&) = default;
};

/// What the time labels above the top pane tell: the time from the
/// record's first sample, or the clock time of each tick's sample.
enum class TimeAxisClock { FromStart, Utc, Local };

/// UTC of a sample in microseconds since 1970; nullopt for a sample of a
/// file without a recording stamp.
using SampleClock = std::function<std::optional<std::int64_t>(std::uint64_t sample)>;

/// Digits of the second that tell apart clock times `stepNs` apart (at
/// most 6): 0 for whole seconds, 1 for 0.5 s, 4 for 100 us.
int ClockLabelDecimals(std::int64_t stepNs);

/// "HH:MM:SS" of `utcMicros` in UTC or in the local time zone, with
/// `decimals` digits of the second (truncated, as a clock shows the
/// second a sample falls in).
std::string ClockLabel(std::int64_t utcMicros, TimeAxisClock clock, int decimals);

/// The ticks of the time axis of the visible `range` of a record of
/// `sampleCount` samples taken every `clockDivider` x 100 us, on multiples
/// of a step, left to right, measured on channel 0's plot `plot0` with
/// `width`. Each label is centred on its tick, except that none reaches past
/// the plot's right edge and, when zoomed, none starts left of its left
/// edge (the full view's label of sample 0 stays centred on the left edge).
/// - The full view takes the step TimeTickStep(sampleCount) and the shortest
///   time texts, as long as neither row of labels overlaps or touches;
///   otherwise the next step of 1, 2 or 5 times a power of ten that leaves
///   TICK_LABEL_GAP pixels between neighbours.
/// - A zoomed range starts from TimeTickStep(range.count) and takes the
///   first such step that leaves TICK_LABEL_GAP pixels; every time label
///   shows the decimals of the step's time, so that all show as many.
/// A record of 0 samples has no tick.
/// With a `clock` other than FromStart the time labels are ClockLabel texts
/// of `utcOf` each tick's sample, with the decimals of the step, chosen the
/// same way; a tick whose sample has no UTC keeps its time from the start.
/// With `fromStartOf` (microseconds from the start of a sample <= sampleCount)
/// the times from the start are its real times, a recording's gaps
/// included, and the unit follows its time of sampleCount; the ticks stay on
/// the samples' multiples of the step.
std::vector<AxisTick> TimeAxisTicks(ViewRange range, std::uint64_t sampleCount, std::int32_t clockDivider,
                                    const Rect& plot0, const LabelWidth& width,
                                    TimeAxisClock clock = TimeAxisClock::FromStart, const SampleClock& utcOf = {},
                                    const SampleClock& fromStartOf = {});
