#include "files/series.h"

#include <cstdint>

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
            if (!nextIndex || !nextSample) {
                return {SeriesFault::Gap, lastStamped, i};
            }
        }
        lastStamped = i;
    }
    return {};
}
