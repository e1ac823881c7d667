#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/dlf.h"

/// A recording's files as `vosctl record` writes them: PREFIX-00000N.dlf
/// at 1 kHz (clock divider 10), stamped as one recording whose file N starts
/// at 1765000000 s (2025-12-06 05:46:40 UTC) plus its first sample's
/// milliseconds. Flat channels at 2, 4, 6 and 8 V, with one spike in each
/// of the first three files, at its middle sample: file 1 CH0 9.5 V, file 2
/// CH1 10.25 V, file 3 CH2 -0.75 V. `edit` may change a header before it is
/// written; `all` receives the samples of every file in one place;
/// `samples` may change a file's samples before it is written.
inline std::vector<std::string> WriteRecordingFiles(
    const std::string& prefix, const std::vector<std::uint32_t>& counts,
    const std::function<void(int file, DataFileHeader&)>& edit = {}, std::vector<double> (*all)[4] = nullptr,
    const std::function<void(int file, std::uint32_t count, std::vector<double> (&data)[4])>& samples = {}) {
    constexpr double LEVEL[4] = {2.0, 4.0, 6.0, 8.0};
    constexpr double SPIKE[3] = {9.5, 10.25, -0.75};
    std::vector<std::string> paths;
    std::uint64_t first = 0;
    for (std::size_t f = 0; f < counts.size(); ++f) {
        const std::uint32_t n = counts[f];
        std::vector<double> data[4];
        for (int ch = 0; ch < 4; ++ch) {
            data[ch].assign(n, LEVEL[ch]);
        }
        if (f < 3) {
            data[f][n / 2] = SPIKE[f];
        }
        if (samples) {
            samples(static_cast<int>(f), n, data);
        }
        DataFileHeader header;
        header.clockDivider = 10;
        header.sampleCount = n;
        RecordingStamp stamp;
        stamp.startMicros = 1765000000000000 + static_cast<std::int64_t>(first) * 1000;
        stamp.identity.fill(0x5A);
        stamp.index = f + 1;
        stamp.firstSample = first;
        header.stamp = stamp;
        if (edit) {
            edit(static_cast<int>(f), header);
        }
        const double* channels[4] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
        char name[16];
        std::snprintf(name, sizeof name, "-%06zu.dlf", f + 1);
        paths.push_back(prefix + name);
        EXPECT_EQ(SaveDataFile(paths.back(), header, channels), FileError::None);
        for (int ch = 0; all != nullptr && ch < 4; ++ch) {
            (*all)[ch].insert((*all)[ch].end(), data[ch].begin(), data[ch].end());
        }
        first += n;
    }
    return paths;
}
