#include "display/timeaxis.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>

namespace {

// The next of 1, 2 or 5 times a power of ten.
std::uint64_t NextStep(std::uint64_t step) {
    std::uint64_t power = 1;
    while (power * 10 <= step) {
        power *= 10;
    }
    const std::uint64_t digit = step / power;
    return digit == 1 ? 2 * power : digit == 2 ? 5 * power : 10 * power;
}

// Left pixel of a label `w` wide on the tick at `x`: centred as the label
// primitive centres it, then held inside the plot's width.
std::int32_t LabelLeft(std::int32_t x, int w, const Rect& plot0, bool holdLeft) {
    std::int32_t left = x - w / 2;
    left = std::min(left, plot0.right + 1 - w);
    return holdLeft ? std::max(left, plot0.left) : left;
}

struct Axis {
    std::vector<AxisTick> ticks;
    bool fits = true;
};

// What the time labels show.
struct Labels {
    TimeAxisClock clock;
    const SampleClock& utcOf;
    const SampleClock& fromStartOf;

    // Nanoseconds from the start of `sample`: real time where told, else counted in samples.
    std::int64_t Ns(std::int32_t clockDivider, std::uint64_t sample) const {
        const std::optional<std::int64_t> micros = fromStartOf ? fromStartOf(sample) : std::nullopt;
        return micros ? *micros * 1000 : SampleTimeNs(clockDivider, sample);
    }
};

// The ticks on the multiples of `step` in `range`, their time labels with
// `decimals` (the shortest text when negative); `fits` tells whether each
// row of labels leaves `gap` pixels between neighbours.
Axis Place(ViewRange range, std::uint64_t sampleCount, std::int32_t clockDivider, const Rect& plot0,
           const LabelWidth& width, std::uint64_t step, int decimals, bool zoomed, int gap, const Labels& labels) {
    const int clockDecimals = ClockLabelDecimals(SampleTimeNs(clockDivider, step));
    const std::int64_t totalNs = labels.Ns(clockDivider, sampleCount);
    const std::uint64_t end = range.first + range.count;
    Axis axis;
    int lastTimeEnd = std::numeric_limits<int>::min();
    int lastIndexEnd = std::numeric_limits<int>::min();
    for (std::uint64_t b = (range.first + step - 1) / step * step; b < end; b += step) {
        AxisTick tick;
        tick.sample = b;
        tick.x = SampleToX(tick.sample, plot0, range.first, range.count);
        const std::int64_t ns = labels.Ns(clockDivider, tick.sample);
        const std::optional<std::int64_t> utc =
            labels.clock == TimeAxisClock::FromStart || !labels.utcOf ? std::nullopt : labels.utcOf(b);
        tick.time = utc            ? ClockLabel(*utc, labels.clock, clockDecimals)
                    : decimals < 0 ? FormatTimeLabel(ns, totalNs)
                                   : FormatTimeLabel(ns, totalNs, decimals);
        tick.index = std::to_string(tick.sample);
        const int timeWidth = width(tick.time);
        const int indexWidth = width(tick.index);
        tick.timeLeft = LabelLeft(tick.x, timeWidth, plot0, zoomed);
        tick.indexLeft = LabelLeft(tick.x, indexWidth, plot0, zoomed);
        if (!axis.ticks.empty()) {
            axis.fits = axis.fits && tick.timeLeft >= lastTimeEnd + gap && tick.indexLeft >= lastIndexEnd + gap;
        }
        lastTimeEnd = tick.timeLeft + timeWidth;
        lastIndexEnd = tick.indexLeft + indexWidth;
        axis.ticks.push_back(std::move(tick));
    }
    return axis;
}

}  // namespace

int ClockLabelDecimals(std::int64_t stepNs) {
    int decimals = 0;
    for (std::int64_t unit = 1000000000; decimals < 6 && unit > 1 && stepNs % unit != 0; unit /= 10) {
        ++decimals;
    }
    return decimals;
}

std::string ClockLabel(std::int64_t utcMicros, TimeAxisClock clock, int decimals) {
    std::int64_t seconds = utcMicros / 1000000;
    std::int64_t micros = utcMicros % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (clock == TimeAxisClock::Local) {
        localtime_r(&t, &parts);
    } else {
        gmtime_r(&t, &parts);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    std::string label = text;
    if (decimals > 0) {
        std::snprintf(text, sizeof text, ".%06lld", static_cast<long long>(micros));
        label.append(text, 1 + static_cast<std::size_t>(std::min(decimals, 6)));
    }
    return label;
}

std::vector<AxisTick> TimeAxisTicks(ViewRange range, std::uint64_t sampleCount, std::int32_t clockDivider,
                                    const Rect& plot0, const LabelWidth& width, TimeAxisClock clock,
                                    const SampleClock& utcOf, const SampleClock& fromStartOf) {
    const Labels labels{clock, utcOf, fromStartOf};
    if (sampleCount == 0) {
        return {};
    }
    range = ClampRange(range, sampleCount);
    const bool zoomed = range != FullView(sampleCount);
    std::uint64_t step = TimeTickStep(range.count);
    if (!zoomed) {
        // The full view's own step and texts wherever their labels stand apart.
        Axis axis = Place(range, sampleCount, clockDivider, plot0, width, step, -1, false, 1, labels);
        if (axis.fits) {
            return std::move(axis.ticks);
        }
        step = NextStep(step);
    }
    const std::int64_t totalNs = labels.Ns(clockDivider, sampleCount);
    for (;;) {
        const int decimals =
            zoomed ? TimeLabelDecimals(SampleTimeNs(clockDivider, step), totalNs) : -1;
        Axis axis =
            Place(range, sampleCount, clockDivider, plot0, width, step, decimals, zoomed, TICK_LABEL_GAP, labels);
        // One step across the whole range leaves a single tick: it always fits.
        if (axis.fits || step >= range.count || step > UINT64_MAX / 10) {
            return std::move(axis.ticks);
        }
        step = NextStep(step);
    }
}
