#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "files/dlf.h"

// Writes a data file of header.sampleCount samples per channel with plain
// writes: for tests that need a thousand files, which SaveDataFile would
// sync one by one.
inline void WriteUnsynced(const std::string& path, const DataFileHeader& header, const std::vector<double> (&channels)[4]) {
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(header, bytes);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    for (const std::vector<double>& channel : channels) {
        out.write(reinterpret_cast<const char*>(channel.data()), static_cast<std::streamsize>(channel.size() * sizeof(double)));
    }
    EXPECT_TRUE(out.good()) << path;
}
