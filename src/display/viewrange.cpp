#include "display/viewrange.h"

#include <cstdio>
#include <ctime>

#include <algorithm>
#include <cmath>

#include "display/envelope.h"
#include "display/timeaxis.h"
#include "numtext/fixed.h"

namespace {

// Nearest integer of a finite double held inside 0 .. limit.
std::uint64_t RoundInto(double value, std::uint64_t limit) {
    if (!(value > 0.0)) {
        return 0;
    }
    const double rounded = std::floor(value + 0.5);
    return rounded >= static_cast<double>(limit) ? limit : static_cast<std::uint64_t>(rounded);
}

// "1,000,000".
std::string Grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

}  // namespace

ViewRange FullView(std::uint64_t sampleCount) { return {0, sampleCount}; }

ViewRange ClampRange(ViewRange range, std::uint64_t sampleCount) {
    const std::uint64_t fewest = std::min(MIN_VISIBLE_SAMPLES, sampleCount);
    const std::uint64_t count = std::clamp(range.count, fewest, sampleCount);
    return {std::min(range.first, sampleCount - count), count};
}

double WheelZoomFactor(int angleDelta) { return std::pow(0.8, angleDelta / 120.0); }

namespace {

// The zoomed count of ZoomAround: a fine-grained wheel still moves a range
// of only a few samples.
std::uint64_t ZoomedCount(ViewRange range, std::uint64_t sampleCount, double factor) {
    std::uint64_t count = RoundInto(range.count * factor, sampleCount);
    if (factor < 1.0 && count >= range.count && range.count > 0) {
        count = range.count - 1;
    } else if (factor > 1.0 && count <= range.count) {
        count = range.count + 1;
    }
    return ClampRange({0, count}, sampleCount).count;
}

// The samples (from the range's start) drawn in `column` of a range of
// `count` samples, as the envelope draws them: low .. high; a column without
// a sample of its own shows the step held from its left.
struct ColumnSpan {
    std::uint64_t low;
    std::uint64_t high;
};

ColumnSpan SpanOfColumn(std::int32_t columns, std::uint64_t count, std::int32_t column) {
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(columns, count, starts);
    const std::uint64_t begin = starts[column];
    const std::uint64_t end = starts[column + 1];
    return begin < end ? ColumnSpan{begin, end - 1} : ColumnSpan{begin - 1, begin - 1};
}

}  // namespace

ViewRange ZoomAround(ViewRange range, std::uint64_t sampleCount, double at, double factor) {
    range = ClampRange(range, sampleCount);
    if (!(factor > 0.0) || factor == 1.0) {
        return range;
    }
    at = std::clamp(at, 0.0, 1.0);
    const std::uint64_t count = ZoomedCount(range, sampleCount, factor);
    const double first = range.first + at * (static_cast<double>(range.count) - count);
    return ClampRange({RoundInto(first, sampleCount), count}, sampleCount);
}

ViewRange ZoomAtColumn(ViewRange range, std::uint64_t sampleCount, std::int32_t columns,
                       std::int32_t column, double factor) {
    range = ClampRange(range, sampleCount);
    if (columns < 1 || range.count == 0 || !(factor > 0.0) || factor == 1.0) {
        return range;
    }
    const std::int32_t w = std::clamp(columns, 1, MAX_COLUMNS - 1);
    column = std::clamp(column, 0, w - 1);
    const std::uint64_t count = ZoomedCount(range, sampleCount, factor);
    const ColumnSpan before = SpanOfColumn(w, range.count, column);
    // A column drawing the record's first or last sample keeps drawing it,
    // so the edge columns still reach the record's ends.
    if (range.first + before.low == 0) {
        return ClampRange({0, count}, sampleCount);
    }
    if (range.first + before.high == sampleCount - 1) {
        return ClampRange({sampleCount - count, count}, sampleCount);
    }
    // The middle sample of the column's span goes to the middle of the span
    // the same column draws afterwards.
    const ColumnSpan after = SpanOfColumn(w, count, column);
    const std::uint64_t anchor = range.first + before.low + (before.high - before.low) / 2;
    const std::uint64_t offset = after.low + (after.high - after.low) / 2;
    return ClampRange({anchor > offset ? anchor - offset : 0, count}, sampleCount);
}

ViewRange PanByColumns(ViewRange range, std::uint64_t sampleCount, std::int32_t columns,
                       std::int32_t dx) {
    range = ClampRange(range, sampleCount);
    if (columns < 1) {
        return range;
    }
    const double first = range.first - dx * (static_cast<double>(range.count) / columns);
    return ClampRange({RoundInto(first, sampleCount), range.count}, sampleCount);
}

ViewRange PanBySteps(ViewRange range, std::uint64_t sampleCount, std::int32_t steps) {
    range = ClampRange(range, sampleCount);
    // Counts stay far below 2^63, so the signed sums cannot overflow.
    const auto step = static_cast<std::int64_t>(std::max<std::uint64_t>(range.count / 10, 1));
    const std::int64_t first = std::clamp<std::int64_t>(static_cast<std::int64_t>(range.first) + steps * step, 0,
                                                        static_cast<std::int64_t>(sampleCount));
    return ClampRange({static_cast<std::uint64_t>(first), range.count}, sampleCount);
}

std::string VisibleSpanText(ViewRange range, std::uint64_t sampleCount) {
    range = ClampRange(range, sampleCount);
    const std::uint64_t last = range.count == 0 ? range.first : range.first + range.count - 1;
    return "samples " + Grouped(range.first) + "\u2013" + Grouped(last) + " of " + Grouped(sampleCount);
}

CursorPoint CursorAtColumn(ViewRange range, std::int32_t columns, std::int32_t column) {
    if (columns < 1 || range.count == 0) {
        return {range.first, 0, range.first, std::min<std::uint64_t>(range.count, 1)};
    }
    const std::int32_t w = std::clamp(columns, 1, MAX_COLUMNS - 1);
    column = std::clamp(column, 0, w - 1);
    // The samples drawn in each column, exactly as the envelope draws them;
    // column 0 always holds the first.
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(w, range.count, starts);
    const std::uint64_t begin = starts[column];
    const std::uint64_t end = starts[column + 1];
    // A column without a sample of its own shows the step held from its left.
    const std::uint64_t low = begin < end ? begin : begin - 1;
    const std::uint64_t high = begin < end ? end - 1 : begin - 1;
    const double along = w > 1 ? column * (static_cast<double>(range.count - 1) / (w - 1)) : 0.0;
    const std::uint64_t sample = std::clamp(RoundInto(along, range.count - 1), low, high);
    return {range.first + sample, column, range.first + begin, end - begin};
}

CursorPoint CursorAtSample(ViewRange range, std::int32_t columns, std::uint64_t sample) {
    if (columns < 1 || range.count == 0) {
        return {range.first, 0, range.first, std::min<std::uint64_t>(range.count, 1)};
    }
    const std::int32_t w = std::clamp(columns, 1, MAX_COLUMNS - 1);
    const std::uint64_t at = std::clamp(sample, range.first, range.first + range.count - 1) - range.first;
    std::uint64_t starts[MAX_COLUMNS + 1];
    ColumnStarts(w, range.count, starts);
    // The last column whose first sample is at or before `at`: the one drawing it.
    const auto* next = std::upper_bound(starts, starts + w, at);
    const auto column = static_cast<std::int32_t>(next - starts - 1);
    return {range.first + at, column, range.first + starts[column], starts[column + 1] - starts[column]};
}

std::string WithColumnExtremes(const std::string& line, double minimum, double maximum) {
    return line + " (min " + FormatFixed5OrExponent(minimum) + ", max " + FormatFixed5OrExponent(maximum) + ")";
}

std::vector<std::string> CursorReadout(std::uint64_t sample, std::int64_t timeNs, std::int64_t totalNs,
                                       const double (&values)[4]) {
    std::vector<std::string> lines;
    lines.reserve(6);
    lines.push_back("Sample " + std::to_string(sample));
    lines.push_back("Time " + FormatTimeLabel(timeNs, totalNs));
    for (int ch = 0; ch < 4; ++ch) {
        lines.push_back("CH" + std::to_string(ch) + " " + FormatFixed5OrExponent(values[ch]) + " V");
    }
    return lines;
}

int SamplePeriodDecimals(std::int32_t clockDivider) {
    int decimals = 4;
    for (std::int32_t d = clockDivider; d >= 10 && decimals > 0; d /= 10) {
        --decimals;
    }
    return decimals;
}

std::string WallClockText(std::int64_t utcMicros, std::int32_t clockDivider) {
    const int decimals = SamplePeriodDecimals(clockDivider);
    const std::int64_t seconds = utcMicros / 1000000 - (utcMicros % 1000000 < 0 ? 1 : 0);
    const auto t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char date[32];
    std::snprintf(date, sizeof date, "UTC %04d-%02d-%02d ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    return date + ClockLabel(utcMicros, TimeAxisClock::Utc, decimals);
}

std::vector<MarkColumn> MarkColumns(ViewRange range, std::int32_t columns, std::span<const RecordMark> marks) {
    std::vector<MarkColumn> out;
    for (const RecordMark& mark : marks) {
        if (range.count > 0 && mark.sample >= range.first && mark.sample - range.first < range.count) {
            out.push_back({CursorAtSample(range, columns, mark.sample).column, mark.gap});
        }
    }
    return out;
}

FilePlace PlaceInFiles(std::span<const std::uint64_t> fileFirsts, std::uint64_t sample) {
    const auto next = std::upper_bound(fileFirsts.begin(), fileFirsts.end(), sample);
    const auto file = static_cast<std::size_t>(std::max<std::ptrdiff_t>(next - fileFirsts.begin() - 1, 0));
    return {file, sample - fileFirsts[file]};
}

std::string FilePlaceText(const std::string& name, std::uint64_t index) {
    return "File " + name + ", sample " + std::to_string(index);
}
