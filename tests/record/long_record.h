#pragma once

// Records of billions of samples that cost next to nothing: sparse files and
// summaries made rather than built. Shared by the tests and bench_series.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "record/summaries.h"

// PREFIX-000001.dlf ... in `dir`: `files` files of `perFile` samples each
// at 10 kHz that take almost no disk, a header and a hole, which reads as
// 0 V. The paths in order, or none when a file could not be made.
inline std::vector<std::string> WriteSparseSeries(const std::filesystem::path& dir, const std::string& prefix,
                                                  int files, std::uint32_t perFile) {
    std::vector<std::string> paths;
    DataFileHeader header;
    header.sampleCount = perFile;
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(header, bytes);
    for (int f = 0; f < files; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "-%06d.dlf", f + 1);
        paths.push_back((dir / (prefix + name)).string());
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && ::pwrite(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes) &&
                             ::ftruncate(fd, static_cast<off_t>(DLF_HEADER_SIZE + 32 * std::uint64_t{perFile})) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (!written) {
            return {};
        }
    }
    return paths;
}

// The summaries of `count` samples per channel that all hold `value`, in
// `shape`, with `parts` parts: what BuildSummaries makes of such a record.
inline SummaryPyramid UniformSummaries(const SummaryShape& shape, std::uint64_t count, double value,
                                       std::size_t parts) {
    SummaryPyramid p;
    p.shape = shape;
    p.count = count;
    std::uint64_t cell = shape.baseCell;
    for (std::uint32_t l = 0; l < shape.levels; ++l, cell *= shape.factor) {
        SummaryPyramid::Level level;
        level.cell = static_cast<std::uint32_t>(cell);
        for (int ch = 0; ch < 4; ++ch) {
            level.low[ch].assign(count / cell, value);
            level.high[ch].assign(count / cell, value);
        }
        p.levels.push_back(std::move(level));
    }
    const ChannelStatistics whole{count > 0, value, value};
    std::fill(std::begin(p.statistics), std::end(p.statistics), whole);
    p.partStatistics.assign(parts, {whole, whole, whole, whole});
    return p;
}
