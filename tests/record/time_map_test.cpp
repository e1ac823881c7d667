// When each sample was taken: a stamped recording with two gaps, worked out
// by hand from its stamps, and records whose time counts samples.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "record/time_map.h"

namespace {

// 2025-12-06 05:46:40 UTC.
constexpr std::int64_t T0 = 1765000000000000;

// Three files of 5000 samples at 1 kHz; the recorder lost 2194 samples
// (2.194 s) before file 2 and 1707 (1.707 s) before file 3.
std::vector<DataFileHeader> GappedHeaders() {
    constexpr std::uint64_t FIRST[3] = {0, 7194, 13901};
    std::vector<DataFileHeader> headers(3);
    for (int f = 0; f < 3; ++f) {
        headers[f].clockDivider = 10;
        headers[f].sampleCount = 5000;
        RecordingStamp stamp;
        stamp.startMicros = T0 + static_cast<std::int64_t>(FIRST[f]) * 1000;
        stamp.identity.fill(0x5A);
        stamp.index = static_cast<std::uint64_t>(f) + 1;
        stamp.firstSample = FIRST[f];
        headers[f].stamp = stamp;
    }
    return headers;
}

TEST(TimeMap, GappedRecordingTellsRealTimeBothWays) {
    const std::vector<DataFileHeader> headers = GappedHeaders();
    const TimeMap map = TimeMap::OfFiles(headers);
    ASSERT_TRUE(map.Stamped());
    EXPECT_EQ(map.Count(), 15000u);
    EXPECT_EQ(map.DurationMicros(), 18901000);
    struct Row {
        std::uint64_t sample;
        std::int64_t micros;
    };
    for (const Row& row : {Row{0, 0}, Row{4999, 4999000}, Row{5000, 7194000}, Row{9999, 12193000},
                           Row{10000, 13901000}, Row{11099, 15000000}, Row{14999, 18900000}}) {
        EXPECT_EQ(map.MicrosFromStart(row.sample), row.micros) << row.sample;
        EXPECT_EQ(map.Utc(row.sample).value_or(0), T0 + row.micros) << row.sample;
    }
    struct Back {
        std::int64_t micros;
        std::uint64_t sample;
    };
    for (const Back& row : {Back{-5, 0}, Back{0, 0}, Back{1, 1}, Back{4999000, 4999}, Back{4999001, 5000},
                            Back{6000000, 5000}, Back{7194000, 5000}, Back{15000000, 11099},
                            Back{12500000, 10000}, Back{18900000, 14999}, Back{18900001, 15000}}) {
        EXPECT_EQ(map.SampleAtOrAfter(row.micros), row.sample) << row.micros;
        EXPECT_EQ(map.SampleAtOrAfterUtc(T0 + row.micros).value_or(99999), row.sample) << row.micros;
    }
    EXPECT_EQ(map.Gaps(), (std::vector<TimeMap::Gap>{{5000, 5000000, 7194000}, {10000, 12194000, 13901000}}));
    EXPECT_EQ(map.StretchEnd(0), 5000u);
    EXPECT_EQ(map.StretchEnd(5000), 10000u);
    EXPECT_EQ(map.StretchEnd(14999), 15000u);
}

TEST(TimeMap, TimeCountsSamplesWhereStampsCannotTellIt) {
    std::vector<DataFileHeader> headers = GappedHeaders();
    // A stamp out of step with the samples before it, without a gap noted, moves no time.
    headers[2].stamp->firstSample = 12194;
    headers[2].stamp->startMicros += 13 * 86400 * std::int64_t{1000000};
    const TimeMap damaged = TimeMap::OfFiles(headers);
    EXPECT_EQ(damaged.MicrosFromStart(10000), 12194000);
    EXPECT_EQ(damaged.Utc(10000).value_or(0), T0 + 12194000);
    EXPECT_EQ(damaged.Gaps().size(), 1u);

    // A gap whose stamp lies before the end of the samples ahead of it goes back in no time.
    headers = GappedHeaders();
    headers[1].stamp->startMicros = T0 + 4000000;
    const TimeMap early = TimeMap::OfFiles(headers);
    EXPECT_EQ(early.MicrosFromStart(5000), 5000000);
    EXPECT_EQ(early.SampleAtOrAfter(5000000), 5000u);

    // A window's save among stamped files: samples count from the start,
    // the stamped files keep their own UTC.
    headers = GappedHeaders();
    headers[1].stamp.reset();
    const TimeMap mixed = TimeMap::OfFiles(headers);
    EXPECT_FALSE(mixed.Stamped());
    EXPECT_EQ(mixed.MicrosFromStart(10000), 10000000);
    EXPECT_EQ(mixed.SampleAtOrAfter(15000000), 15000u);
    EXPECT_EQ(mixed.Utc(10000).value_or(0), T0 + 13901000);
    EXPECT_FALSE(mixed.Utc(5000).has_value());
    EXPECT_FALSE(mixed.SampleAtOrAfterUtc(T0).has_value());
    EXPECT_TRUE(mixed.Gaps().empty());

    const TimeMap run = TimeMap::Unstamped(1000, 100);
    EXPECT_EQ(run.MicrosFromStart(999), 9990000);
    EXPECT_EQ(run.SampleAtOrAfter(15000), 2u);
    EXPECT_FALSE(run.Utc(0).has_value());
}

}  // namespace
