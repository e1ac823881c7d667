// The export core called directly: what a front end can get wrong.
#include <gtest/gtest.h>

#include "export/export.h"
#include "files/dlf.h"
#include "files/temp_dir.h"

namespace {

TEST(ExportFormat, FollowsTheNamesEnding) {
    struct Case {
        const char* name;
        std::optional<ExportFormat> format;
    };
    const Case cases[] = {{"a.h5", ExportFormat::Hdf5}, {"a.HDF5", ExportFormat::Hdf5}, {"night.Mat", ExportFormat::Mat},
                          {".h5", std::nullopt},        {"a.h5.txt", std::nullopt},     {"amat", std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(ExportFormatOfName(c.name), c.format) << c.name;
}

// A part the files do not hold (they changed since it was resolved) is a
// read failure, and nothing is written.
TEST(ExportRecord, APartOutsideTheFilesWritesNothing) {
    TempDir dir;
    const std::string input = dir.Path("a.dlf");
    DataFileHeader header;
    header.sampleCount = 3;
    const double samples[3] = {1, 2, 3};
    const double* channels[4] = {samples, samples, samples, samples};
    ASSERT_EQ(SaveDataFile(input, header, channels), FileError::None);
    for (const auto& [first, last] : {std::pair{0, 4}, std::pair{2, 2}}) {
        ExportRequest request;
        request.files = {input};
        request.first = first;
        request.last = last;
        ExportProgress progress;
        EXPECT_EQ(ExportRecord(request, dir.Path("a.h5"), progress).error, FileError::Read) << first << " " << last;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("a.h5")));
    }
}

}  // namespace
