#pragma once

// A series of three files whose spikes, NaN and dip every summary test looks
// for, shared by the record's tests and the display's picture tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/temp_dir.h"
#include "record/summaries.h"

inline constexpr std::uint32_t FILE_SAMPLES[3] = {1000, 1500, 700};

// Three files of a smooth wave with one spike each: file 1 on CH0 at 9.5 V,
// file 2 on CH1 at 10.25 V, file 3 on CH2 at -0.75 V; CH3 holds a NaN, and
// file 3 dips on CH0 to -4 V, below the plot's lowest row.
struct Series {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<double> all[4];  // the same samples in one place

    // `edit` may change each file's header before it is written.
    explicit Series(const std::function<void(int file, DataFileHeader&)>& edit = {}) {
        std::uint32_t offset = 0;
        for (int f = 0; f < 3; ++f) {
            const std::uint32_t n = FILE_SAMPLES[f];
            std::vector<double> data[4];
            for (int ch = 0; ch < 4; ++ch) {
                data[ch].resize(n);
                for (std::uint32_t s = 0; s < n; ++s) {
                    data[ch][s] = 5.0 + 3.0 * std::sin((offset + s) * 0.01 * (ch + 1));
                }
            }
            data[f][n / 2] = f == 0 ? 9.5 : f == 1 ? 10.25 : -0.75;
            if (f == 1) {
                data[3][7] = std::nan("");
            }
            if (f == 2) {
                data[0][100] = -4.0;
            }
            DataFileHeader header;
            header.clockDivider = 10;
            header.sampleCount = n;
            if (edit) {
                edit(f, header);
            }
            const double* pointers[4] = {data[0].data(), data[1].data(), data[2].data(),
                                         data[3].data()};
            paths.push_back(dir.Path("night-00000" + std::to_string(f + 1) + ".dlf"));
            EXPECT_EQ(SaveDataFile(paths.back(), header, pointers), FileError::None);
            for (int ch = 0; ch < 4; ++ch) {
                all[ch].insert(all[ch].end(), data[ch].begin(), data[ch].end());
            }
            offset += n;
        }
    }
};

inline SummaryPyramid Summarise(const SampleSource& source, const SummaryShape& shape, int threads) {
    SummaryProgress progress;
    SummaryPyramid p;
    EXPECT_EQ(BuildSummaries(source, shape, threads, progress, p), SummaryResult::Done);
    EXPECT_EQ(progress.done.load(), source.Count());
    return p;
}
