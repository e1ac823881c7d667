#pragma once

// The simulated logger of the recording tests, and reading back a recorded
// series PREFIX-000001.dlf, PREFIX-000002.dlf, ...
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/record.h"
#include "files/dlf.h"

namespace seriestest {

// One 16-bit logger read at 1 mV a code. Channel 0 climbs 1 mV a frame from
// 0 V (frame t reads (t mod 10000) mV), channel 1 the same with period 5000,
// channels 2 and 3 hold 7.5 V and 2.5 V.
inline std::string LoggerConfig(const std::string& pace, const std::string& fault) {
    return "pace " + pace +
           "\n"
           "device serial=30001 resolution=16\n"
           "calibration v1=0 v2=10 c1=0,0,0,0 c2=10000,10000,10000,10000\n"
           "channel 0 sawtooth freq=1 amp=5 offset=5\n"
           "channel 1 sawtooth freq=2 amp=2.5 offset=2.5\n"
           "channel 2 dc offset=7.5\n"
           "channel 3 dc offset=2.5\n" +
           fault + "\n";
}

inline double FrameVolts(std::uint64_t frame, int channel) {
    switch (channel) {
    case 0: return 0.001 * static_cast<double>(frame % 10000);
    case 1: return 0.001 * static_cast<double>(frame % 5000);
    case 2: return 7.5;
    default: return 2.5;
    }
}

struct Series {
    std::vector<DataFileHeader> headers;
    std::vector<double> samples[4];  // the files' samples one after the other
};

// Loads every file of the series as Open does and checks that each file's
// length agrees with its header and that the folder holds no other DLF file
// (none after a gap, none left half written).
inline Series ReadSeries(const std::string& prefix) {
    Series series;
    std::vector<double> buffers[4];
    double* destinations[4];
    for (int c = 0; c < 4; ++c) {
        buffers[c].resize(DLF_MAX_SAMPLE_COUNT);
        destinations[c] = buffers[c].data();
    }
    for (std::uint32_t index = 1;; ++index) {
        const std::string path = SeriesFileName(prefix, index);
        if (!std::filesystem::exists(path)) break;
        DataFileHeader header;
        EXPECT_EQ(LoadDataFile(path, header, destinations), FileError::None) << path;
        EXPECT_EQ(std::filesystem::file_size(path), 256u + 32u * header.sampleCount) << path;
        series.headers.push_back(header);
        for (int c = 0; c < 4; ++c) {
            series.samples[c].insert(series.samples[c].end(), buffers[c].begin(), buffers[c].begin() + header.sampleCount);
        }
    }
    std::size_t dlfFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(prefix).parent_path())) {
        dlfFiles += entry.path().extension() == ".dlf";
    }
    EXPECT_EQ(dlfFiles, series.headers.size()) << "a file outside the series";
    return series;
}

// Sample i must come from raw frame firstFrame + i * divider on every channel,
// as `volts(frame, channel)` gives it: no gap, no repeat.
template <typename Volts>
void ExpectContinuous(const Series& series, std::uint64_t firstFrame, std::uint64_t divider, std::size_t count,
                      Volts volts) {
    for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(series.samples[c].size(), count) << "ch" << c;
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_NEAR(series.samples[c][i], volts(firstFrame + i * divider, c), 1e-9) << "sample " << i << " ch" << c;
        }
    }
}

// Removes the files of the series.
inline void RemoveSeries(const std::string& prefix, std::size_t files) {
    for (std::uint32_t f = 1; f <= files; ++f) std::filesystem::remove(SeriesFileName(prefix, f));
}

}  // namespace seriestest
