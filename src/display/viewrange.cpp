#include "display/viewrange.h"

#include <algorithm>
#include <cmath>

#include "display/geometry.h"
#include "numtext/fixed.h"

namespace {

// Nearest integer of a finite double held inside 0 .. limit.
std::uint32_t RoundInto(double value, std::uint32_t limit) {
    if (!(value > 0.0)) {
        return 0;
    }
    const double rounded = std::floor(value + 0.5);
    return rounded >= static_cast<double>(limit) ? limit : static_cast<std::uint32_t>(rounded);
}

}  // namespace

ViewRange FullView(std::uint32_t sampleCount) { return {0, sampleCount}; }

ViewRange ClampRange(ViewRange range, std::uint32_t sampleCount) {
    const std::uint32_t fewest = std::min(MIN_VISIBLE_SAMPLES, sampleCount);
    const std::uint32_t count = std::clamp(range.count, fewest, sampleCount);
    return {std::min(range.first, sampleCount - count), count};
}

double WheelZoomFactor(int angleDelta) { return std::pow(0.8, angleDelta / 120.0); }

ViewRange ZoomAtColumn(ViewRange range, std::uint32_t sampleCount, std::int32_t columns,
                       std::int32_t column, double factor) {
    range = ClampRange(range, sampleCount);
    if (columns < 1 || !(factor > 0.0) || factor == 1.0) {
        return range;
    }
    const double perColumn = static_cast<double>(range.count) / columns;
    std::uint32_t count = RoundInto(range.count * factor, sampleCount);
    // A fine-grained wheel must still move a range of only a few samples.
    if (factor < 1.0 && count >= range.count && range.count > 0) {
        count = range.count - 1;
    } else if (factor > 1.0 && count <= range.count) {
        count = range.count + 1;
    }
    const ViewRange sized = ClampRange({0, count}, sampleCount);
    const double under = range.first + column * perColumn;
    const double first = under - column * (static_cast<double>(sized.count) / columns);
    return ClampRange({RoundInto(first, sampleCount), sized.count}, sampleCount);
}

ViewRange PanByColumns(ViewRange range, std::uint32_t sampleCount, std::int32_t columns,
                       std::int32_t dx) {
    range = ClampRange(range, sampleCount);
    if (columns < 1) {
        return range;
    }
    const double first = range.first - dx * (static_cast<double>(range.count) / columns);
    return ClampRange({RoundInto(first, sampleCount), range.count}, sampleCount);
}

CursorPoint CursorAtColumn(ViewRange range, std::int32_t columns, std::int32_t column) {
    if (columns < 1 || range.count == 0) {
        return {range.first, 0};
    }
    column = std::clamp(column, 0, columns - 1);
    const std::uint32_t offset =
        RoundInto(column * (static_cast<double>(range.count) / columns), range.count - 1);
    return {range.first + offset, DrawnColumn(offset, columns, range.count)};
}

std::vector<std::string> CursorReadout(std::uint32_t sample, std::uint32_t sampleCount,
                                       std::int32_t clockDivider, const double (&values)[4]) {
    std::vector<std::string> lines;
    lines.reserve(6);
    lines.push_back("Sample " + std::to_string(sample));
    lines.push_back("Time " + FormatTimeLabel(SampleTimeNs(clockDivider, sample),
                                              SampleTimeNs(clockDivider, sampleCount)));
    for (int ch = 0; ch < 4; ++ch) {
        lines.push_back("CH" + std::to_string(ch) + " " + FormatFixed5(values[ch]) + " V");
    }
    return lines;
}
