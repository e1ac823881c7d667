#include "files/series.h"

#include <cstdint>

std::uint64_t SeriesGapSamples(const DataFileHeader& before, const DataFileHeader& after) {
    if (!before.stamp || !after.stamp || before.stamp->identity != after.stamp->identity) return 0;
    const RecordingStamp& first = *before.stamp;
    const RecordingStamp& second = *after.stamp;
    const bool nextIndex = first.index != UINT64_MAX && second.index == first.index + 1;
    const std::uint64_t end = first.firstSample + before.sampleCount;
    // A first sample that wraps around is no position at all.
    if (!nextIndex || end < first.firstSample || second.firstSample <= end) return 0;
    // Counted from the samples, the times drift with the logger's crystal; after a gap the
    // next file's time is measured, so only its order is certain.
    return second.startMicros > first.startMicros ? second.firstSample - end : 0;
}

SeriesCheck CheckSeries(std::span<const DataFileHeader> headers) {
    std::size_t lastStamped = headers.size();
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (i > 0 && headers[i].clockDivider != headers[i - 1].clockDivider) {
            return {SeriesFault::Clock, i - 1, i};
        }
        if (!headers[i].stamp) {
            continue;
        }
        if (lastStamped < i) {
            const RecordingStamp& before = *headers[lastStamped].stamp;
            const RecordingStamp& stamp = *headers[i].stamp;
            if (stamp.identity != before.identity) {
                return {SeriesFault::Recording, lastStamped, i};
            }
            if (lastStamped != i - 1) {
                return {SeriesFault::Gap, i - 1, i};
            }
            const std::uint64_t count = headers[lastStamped].sampleCount;
            const bool nextIndex = before.index != UINT64_MAX && stamp.index == before.index + 1;
            const bool nextSample = stamp.firstSample >= before.firstSample && stamp.firstSample - before.firstSample == count;
            if ((!nextIndex || !nextSample) && SeriesGapSamples(headers[lastStamped], headers[i]) == 0) {
                return {SeriesFault::Gap, lastStamped, i};
            }
        }
        lastStamped = i;
    }
    return {};
}

std::vector<SeriesGap> SeriesGaps(std::span<const DataFileHeader> headers) {
    constexpr std::int64_t MICROS_PER_DIVIDER = 100;
    std::vector<SeriesGap> gaps;
    for (std::size_t i = 1; i < headers.size(); ++i) {
        const std::uint64_t lost = SeriesGapSamples(headers[i - 1], headers[i]);
        if (lost == 0) continue;
        const DataFileHeader& before = headers[i - 1];
        const std::int64_t span = std::int64_t{before.sampleCount} * before.clockDivider * MICROS_PER_DIVIDER;
        gaps.push_back({i - 1, i, before.stamp->startMicros + span, headers[i].stamp->startMicros, lost});
    }
    return gaps;
}

std::vector<DamagedStamp> DamagedStamps(std::span<const DataFileHeader> headers) {
    constexpr std::int64_t MICROS_PER_DIVIDER = 100;
    constexpr std::int64_t TOLERANCE_MICROS = 1000000;
    constexpr std::int64_t DRIFT_PER_MICROS = 1000;  // 0.1 %
    // For each file after the first: whether it and the file before are stamped neighbours
    // of one recording, how far its time lies from where that file places it, and whether
    // that is too far.
    const std::size_t n = headers.size();
    std::vector<bool> paired(n + 1, false);
    std::vector<bool> bad(n + 1, false);
    std::vector<std::int64_t> off(n + 1, 0);
    for (std::size_t i = 1; i < n; ++i) {
        const DataFileHeader& before = headers[i - 1];
        const DataFileHeader& after = headers[i];
        if (!before.stamp || !after.stamp || before.stamp->identity != after.stamp->identity ||
            after.stamp->firstSample < before.stamp->firstSample ||
            after.stamp->firstSample - before.stamp->firstSample > (std::uint64_t{1} << 40)) {
            continue;
        }
        const auto elapsed = static_cast<std::int64_t>(after.stamp->firstSample - before.stamp->firstSample) *
                             before.clockDivider * MICROS_PER_DIVIDER;
        const std::int64_t allowed = TOLERANCE_MICROS + elapsed / DRIFT_PER_MICROS;
        paired[i] = true;
        off[i] = after.stamp->startMicros - (before.stamp->startMicros + elapsed);
        bad[i] = off[i] > allowed || off[i] < -allowed;
    }
    std::vector<DamagedStamp> damaged;
    for (std::size_t i = 0; i < n; ++i) {
        const bool before = i > 0 && paired[i];
        const bool after = paired[i + 1];
        // A file between two disagrees with both; one at an end disagrees with its
        // neighbour while that neighbour agrees with its other one (or has none).
        const bool named = before && after ? bad[i] && bad[i + 1]
                           : before        ? bad[i] && !(i > 1 && paired[i - 1] && bad[i - 1])
                           : after         ? bad[i + 1] && paired[i + 2] && !bad[i + 2]
                                           : false;
        if (named) damaged.push_back({i, before ? off[i] : -off[i + 1]});
    }
    return damaged;
}
