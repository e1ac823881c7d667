#include "app/markers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "display/geometry.h"
#include "display/viewrange.h"
#include "numtext/fixed.h"
#include "record/statistics.h"

namespace {

std::string Volts(double value) { return FormatFixed5OrExponent(value) + " V"; }

std::string Channel(int ch) { return "CH" + std::to_string(ch); }

}  // namespace

std::string DeltaTimeText(std::int64_t micros, std::int64_t totalNs, std::int32_t clockDivider) {
    constexpr std::int64_t MINUTE = 60000000;
    const std::string sign = micros < 0 ? "-" : "";
    const std::uint64_t size = micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
    if (size < static_cast<std::uint64_t>(MINUTE)) {
        return sign + FormatTimeLabel(static_cast<std::int64_t>(size) * 1000, totalNs);
    }
    const int decimals = SamplePeriodDecimals(clockDivider);
    const std::uint64_t seconds = size / 1000000;
    char text[64];
    int n = std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                          static_cast<unsigned long long>(seconds / 60 % 60),
                          static_cast<unsigned long long>(seconds % 60));
    if (decimals > 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%06llu", static_cast<unsigned long long>(size % 1000000));
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%.*s", decimals + 1, fraction);
    }
    return sign + text;
}

std::vector<std::string> MarkerReadout(const MarkerPair& markers, const SampleSource& source,
                                       const SummaryPyramid* summaries, ViewRange visible, const TimeMap& times) {
    using Which = MarkerPair::Which;
    constexpr Which A = MarkerPair::A;
    constexpr Which B = MarkerPair::B;
    const std::uint64_t count = source.Count();
    const std::int32_t divider = source.ClockDivider();
    const std::int64_t totalNs = times.DurationMicros() * 1000;
    std::vector<std::string> lines;
    for (const Which which : {A, B}) {
        if (!markers.At(which) || *markers.At(which) >= count) {
            continue;
        }
        const std::uint64_t sample = *markers.At(which);
        lines.push_back(std::string("Marker ") + (which == A ? "A" : "B") + ": sample " + std::to_string(sample) +
                        ", " + FormatTimeLabel(times.MicrosFromStart(sample) * 1000, totalNs));
        if (const auto utc = times.Utc(sample)) {
            lines.back() += ", " + WallClockText(*utc, divider);
        }
        std::string values;
        for (int ch = 0; ch < 4; ++ch) {
            values += (ch > 0 ? ", " : "  ") + Channel(ch) + " " + Volts(source.At(ch, sample));
        }
        lines.push_back(values);
    }
    ViewRange range = visible;
    if (const auto between = markers.Between(count)) {
        const std::uint64_t a = *markers.At(A);
        const std::uint64_t b = *markers.At(B);
        const std::uint64_t span = a < b ? b - a : a - b;
        lines.push_back("\u0394t " + DeltaTimeText(times.MicrosFromStart(b) - times.MicrosFromStart(a), totalNs, divider) +
                        ", \u0394 " +
                        std::string(b < a ? "-" : "") + std::to_string(span) + " samples");
        std::string deltas;
        for (int ch = 0; ch < 4; ++ch) {
            deltas += (ch > 0 ? ", " : "  B \u2212 A: ") + Channel(ch) + " " +
                      Volts(source.At(ch, b) - source.At(ch, a));
        }
        lines.push_back(deltas);
        range = *between;
        lines.push_back("Statistics between A and B");
    } else {
        lines.push_back("Statistics of the visible range");
    }
    if (range.count > 0) {
        lines.back() += ": samples " + std::to_string(range.first) + " to " +
                        std::to_string(range.first + range.count - 1) + " (" + std::to_string(range.count) +
                        (range.count == 1 ? " sample)" : " samples)");
    }
    for (int ch = 0; ch < 4; ++ch) {
        const auto stats = StatisticsOf(source, summaries, ch, range.first, range.first + range.count);
        if (!stats) {
            lines.push_back(Channel(ch) + " unreadable");
            continue;
        }
        // "-" for a channel of NaN only, as vosctl has it; "nan V" is a
        // statistic that numbers leave undefined (the SD of an infinity).
        const bool none = stats->nanCount == stats->count;
        const auto value = [&](double v) { return none ? std::string("-") : Volts(v); };
        std::string line = Channel(ch) + " mean " + value(stats->mean) + ", RMS " + value(stats->rms) + ", SD " +
                           value(stats->deviation) + ", min " + value(stats->minimum);
        if (!none) {
            line += " at " + std::to_string(stats->minimumAt);
        }
        line += ", max " + value(stats->maximum);
        if (!none) {
            line += " at " + std::to_string(stats->maximumAt);
        }
        line += ", p-p " + value(stats->peakToPeak);
        if (stats->nanCount > 0) {
            line += ", " + std::to_string(stats->nanCount) + " NaN";
        }
        lines.push_back(line);
    }
    return lines;
}
