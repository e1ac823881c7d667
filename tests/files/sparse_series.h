#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/temp_dir.h"

// A series PREFIX-000001.dlf ... of `files` files of `perFile` samples each
// that take almost no disk: a header and a hole, which reads as 0 V. Returns
// the paths in order.
inline std::vector<std::string> WriteSparseSeries(const TempDir& dir, const std::string& prefix, int files,
                                                  std::uint32_t perFile) {
    std::vector<std::string> paths;
    DataFileHeader header;
    header.sampleCount = perFile;
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(header, bytes);
    for (int f = 0; f < files; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "-%06d.dlf", f + 1);
        paths.push_back(dir.Path(prefix + name));
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0) << paths.back();
        EXPECT_EQ(::pwrite(fd, bytes, sizeof bytes, 0), static_cast<ssize_t>(sizeof bytes));
        EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(DLF_HEADER_SIZE + 32 * std::uint64_t{perFile})), 0);
        ::close(fd);
    }
    return paths;
}
