#include "files/series.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t A = 0xA1;
constexpr std::uint8_t B = 0xB2;

DataFileHeader Plain(std::uint32_t count, std::int32_t divider = 1) {
    DataFileHeader header;
    header.clockDivider = divider;
    header.sampleCount = count;
    return header;
}

constexpr std::int64_t START = 1796704200250000;

DataFileHeader Stamped(std::uint8_t recording, std::uint64_t index, std::uint64_t firstSample, std::uint32_t count,
                       std::int32_t divider = 1, std::int64_t startMicros = START) {
    DataFileHeader header = Plain(count, divider);
    header.stamp = RecordingStamp{startMicros, {recording, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, recording},
                                  index, firstSample};
    return header;
}

struct SeriesCase {
    const char* name;
    std::vector<DataFileHeader> files;
    SeriesCheck expected;
};

TEST(Series, JoinsOneRecordInOrderAndNamesTheFirstPairThatDoesNotBelong) {
    const SeriesCase cases[] = {
        {"no file", {}, {}},
        {"one plain file", {Plain(5)}, {}},
        {"two plain files", {Plain(5), Plain(7)}, {}},
        {"the same plain file twice", {Plain(5), Plain(5)}, {}},
        {"plain files, clocks 10 kHz and 1 kHz", {Plain(5, 1), Plain(5, 10)}, {SeriesFault::Clock, 0, 1}},
        {"third plain file of another clock", {Plain(5), Plain(5), Plain(5, 10000)}, {SeriesFault::Clock, 1, 2}},
        {"files 1 to 3", {Stamped(A, 1, 0, 1000), Stamped(A, 2, 1000, 1000), Stamped(A, 3, 2000, 5)}, {}},
        {"files 3 and 4 alone", {Stamped(A, 3, 2000, 1000), Stamped(A, 4, 3000, 1)}, {}},
        {"plain files around a recording",
         {Plain(3), Stamped(A, 1, 0, 10), Stamped(A, 2, 10, 10), Plain(3)},
         {}},
        {"recording of another clock", {Stamped(A, 1, 0, 10, 1), Stamped(A, 2, 10, 10, 10)}, {SeriesFault::Clock, 0, 1}},
        {"two recordings", {Stamped(A, 1, 0, 10), Stamped(B, 2, 10, 10)}, {SeriesFault::Recording, 0, 1}},
        {"two recordings, a plain file between",
         {Stamped(A, 1, 0, 10), Plain(3), Stamped(B, 1, 0, 10)},
         {SeriesFault::Recording, 0, 2}},
        {"file 2 missing", {Stamped(A, 1, 0, 10), Stamped(A, 3, 20, 10)}, {SeriesFault::Gap, 0, 1}},
        {"file 1 twice", {Stamped(A, 1, 0, 10), Stamped(A, 1, 0, 10)}, {SeriesFault::Gap, 0, 1}},
        {"files backwards", {Stamped(A, 2, 10, 10), Stamped(A, 1, 0, 10)}, {SeriesFault::Gap, 0, 1}},
        {"next index, samples skipped", {Stamped(A, 1, 0, 10), Stamped(A, 2, 11, 10)}, {SeriesFault::Gap, 0, 1}},
        {"next index, samples repeated", {Stamped(A, 1, 0, 10), Stamped(A, 2, 9, 10)}, {SeriesFault::Gap, 0, 1}},
        {"fault after a good pair",
         {Stamped(A, 1, 0, 10), Stamped(A, 2, 10, 10), Stamped(A, 4, 30, 10)},
         {SeriesFault::Gap, 1, 2}},
        {"plain file inside a recording",
         {Stamped(A, 1, 0, 10), Plain(10), Stamped(A, 2, 10, 10)},
         {SeriesFault::Gap, 1, 2}},
        // A gap the recording noted: 15 samples lost, the next file starting 2.5 ms later.
        {"recorded gap", {Stamped(A, 1, 0, 10), Stamped(A, 2, 25, 10, 1, START + 2500)}, {}},
        {"recorded gap, then continuous",
         {Stamped(A, 1, 0, 10), Stamped(A, 2, 25, 10, 1, START + 2500), Stamped(A, 3, 35, 10, 1, START + 3500)},
         {}},
        {"gap, the next file starting at the same time", {Stamped(A, 1, 0, 10), Stamped(A, 2, 25, 10)},
         {SeriesFault::Gap, 0, 1}},
        {"gap, the next file starting earlier", {Stamped(A, 1, 0, 10), Stamped(A, 2, 25, 10, 1, START - 1)},
         {SeriesFault::Gap, 0, 1}},
        {"gap and a missing index", {Stamped(A, 1, 0, 10), Stamped(A, 3, 25, 10, 1, START + 2500)},
         {SeriesFault::Gap, 0, 1}},
        {"gap and a repeated index", {Stamped(A, 1, 0, 10), Stamped(A, 1, 25, 10, 1, START + 2500)},
         {SeriesFault::Gap, 0, 1}},
        {"later start, samples overlapping", {Stamped(A, 1, 0, 10), Stamped(A, 2, 5, 10, 1, START + 2500)},
         {SeriesFault::Gap, 0, 1}},
        {"gap across two recordings", {Stamped(A, 1, 0, 10), Stamped(B, 2, 25, 10, 1, START + 2500)},
         {SeriesFault::Recording, 0, 1}},
        {"gap, the previous first sample at the end of the range",
         {Stamped(A, 1, UINT64_MAX - 5, 10), Stamped(A, 2, 25, 10, 1, START + 2500)},
         {SeriesFault::Gap, 0, 1}},
        {"index does not wrap", {Stamped(A, UINT64_MAX, 0, 1), Stamped(A, 0, 1, 1)}, {SeriesFault::Gap, 0, 1}},
        {"first sample does not wrap", {Stamped(A, 1, UINT64_MAX, 1), Stamped(A, 2, 0, 1)}, {SeriesFault::Gap, 0, 1}},
    };
    for (const SeriesCase& test : cases) {
        const SeriesCheck check = CheckSeries(test.files);
        EXPECT_EQ(check.fault, test.expected.fault) << test.name;
        EXPECT_EQ(check.first, test.expected.first) << test.name;
        EXPECT_EQ(check.second, test.expected.second) << test.name;
        EXPECT_EQ(static_cast<bool>(check), test.expected.fault == SeriesFault::None) << test.name;
    }
}

// Times that the samples and gaps contradict: the file that disagrees with
// every neighbour it has, and by how much. Files of 10,000 samples at
// 10 kHz, one second each.
TEST(Series, NamesEachStampItsSamplesAndGapsContradict) {
    constexpr std::int64_t S = 1000000;
    constexpr std::int64_t DAY = 86400 * S;
    struct Case {
        const char* name;
        std::vector<DataFileHeader> files;
        std::vector<std::pair<std::size_t, std::int64_t>> expected;
    };
    const Case cases[] = {
        {"continuous, true times",
         {Stamped(A, 1, 0, 10000), Stamped(A, 2, 10000, 10000, 1, START + S), Stamped(A, 3, 20000, 5, 1, START + 2 * S)},
         {}},
        {"a gap as long as its lost samples",
         {Stamped(A, 1, 0, 10000), Stamped(A, 2, 25000, 10000, 1, START + 2500000)},
         {}},
        {"a day at 200 ppm, then a gap",
         {Stamped(A, 1, 0, 10000), Stamped(A, 2, 864000000, 10, 1, START + DAY + 17 * S)},
         {}},
        {"13 days late in the middle",
         {Stamped(A, 1, 0, 10000), Stamped(A, 2, 10000, 10000, 1, START + S + 13 * DAY),
          Stamped(A, 3, 20000, 5, 1, START + 2 * S)},
         {{1, 13 * DAY}}},
        {"the first an hour early",
         {Stamped(A, 1, 0, 10000, 1, START - 3600 * S), Stamped(A, 2, 10000, 10000, 1, START + S),
          Stamped(A, 3, 20000, 5, 1, START + 2 * S)},
         {{0, -3600 * S}}},
        {"the last an hour early",
         {Stamped(A, 1, 0, 10000), Stamped(A, 2, 10000, 10000, 1, START + S),
          Stamped(A, 3, 20000, 5, 1, START + 2 * S - 3600 * S)},
         {{2, -3600 * S}}},
        {"a gap an hour short", {Stamped(A, 1, 0, 10000), Stamped(A, 2, 25000, 10, 1, START + 2500000 - 3600 * S)},
         {{1, -3600 * S}}},
        {"1.1 s late in a pair", {Stamped(A, 1, 0, 10000), Stamped(A, 2, 10000, 10, 1, START + 2100000)},
         {{1, 1100000}}},
        {"two recordings", {Stamped(A, 1, 0, 10000), Stamped(B, 1, 0, 10, 1, START + DAY)}, {}},
    };
    for (const Case& test : cases) {
        std::vector<std::pair<std::size_t, std::int64_t>> found;
        for (const DamagedStamp& damaged : DamagedStamps(test.files)) {
            found.emplace_back(damaged.file, damaged.offMicros);
        }
        EXPECT_EQ(found, test.expected) << test.name;
    }
}

}  // namespace
