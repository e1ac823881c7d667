#pragma once

// Working files written block by block as a recording writes them, and the
// byte surgery that damages them the way a disk or a kill does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/journal.h"

namespace journaltest {

// Sample `position` of the recording on channel c: the position plus 100000 per channel.
inline double Value(std::uint64_t position, int channel) { return static_cast<double>(position) + 100000.0 * channel; }

// 2023-11-14T22:13:20Z, the first sample of file 1.
inline constexpr std::int64_t START_MICROS = 1700000000000000;

inline std::array<std::uint8_t, 16> Identity(std::uint8_t seed) {
    std::array<std::uint8_t, 16> identity{};
    for (std::size_t i = 0; i < identity.size(); ++i) identity[i] = static_cast<std::uint8_t>(seed + i);
    return identity;
}

struct WorkingFileSpec {
    std::uint64_t index = 1;
    std::uint64_t firstSample = 0;  // the stamp's; sample values continue from it
    std::int64_t startMicros = START_MICROS;
    std::uint8_t identity = 1;
    std::uint32_t split = 1000;
    std::int32_t clockDivider = 1;
    std::vector<std::uint32_t> blocks;  // sample counts, in order
};

// Writes the working file through JournalWriter: header, then the blocks.
inline void WriteWorkingFile(const std::string& path, const WorkingFileSpec& spec) {
    JournalHeader header;
    header.split = spec.split;
    header.settings.clockDivider = spec.clockDivider;
    header.settings.stamp = RecordingStamp{spec.startMicros, Identity(spec.identity), spec.index, spec.firstSample};
    JournalWriter writer;
    ASSERT_EQ(writer.Create(path, header), FileError::None) << path;
    std::uint64_t position = spec.firstSample;
    for (const std::uint32_t count : spec.blocks) {
        std::vector<double> values[DLF_CHANNELS];
        const double* channels[DLF_CHANNELS];
        for (int c = 0; c < DLF_CHANNELS; ++c) {
            for (std::uint32_t i = 0; i < count; ++i) values[c].push_back(Value(position + i, c));
            channels[c] = values[c].data();
        }
        ASSERT_EQ(writer.Append(channels, count), FileError::None);
        position += count;
    }
    ASSERT_EQ(writer.Sync(), FileError::None);
    writer.Close();
}

// A DLF file read back whole, as Open reads it.
struct Loaded {
    DataFileHeader header;
    std::vector<double> values[DLF_CHANNELS];
};

inline FileError Load(const std::string& path, Loaded& loaded) {
    double* destinations[DLF_CHANNELS];
    for (int c = 0; c < DLF_CHANNELS; ++c) {
        loaded.values[c].resize(DLF_MAX_SAMPLE_COUNT);
        destinations[c] = loaded.values[c].data();
    }
    return LoadDataFile(path, loaded.header, destinations);
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// File offset of block `block` (0-based) of a working file with these block sizes:
// a 272-byte header, then 16 bytes and 32 bytes a sample per block.
inline std::size_t BlockOffset(const std::vector<std::uint32_t>& blocks, std::size_t block) {
    std::size_t offset = 272;
    for (std::size_t i = 0; i < block; ++i) offset += 16 + 32 * std::size_t{blocks[i]};
    return offset;
}

}  // namespace journaltest
