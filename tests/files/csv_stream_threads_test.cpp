// The two-thread CSV writer against the window's export, byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "files/csv.h"
#include "files/csv_stream.h"
#include "temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

FileError StreamTo(const std::string& path, int selection, std::uint32_t count, const double* const channels[4]) {
    LockedFile file;
    if (!file.Open(path, LockedFile::Mode::Write)) {
        return FileError::Open;
    }
    const FileError error = WriteCsvStream(file, selection, count, channels);
    return file.Close() ? error : FileError::Write;
}

TEST(CsvStream, RowsAreCsvSaveRows) {
    const double ch0[] = {1.0, -0.5, 123456.789};
    const double ch1[] = {2.000004, 2.000006, -0.0};
    const double ch2[] = {9.99999, 0.1, 1e-300};
    const double ch3[] = {-10.0, 5.25, 7.125};
    const double* const channels[4] = {ch0, ch1, ch2, ch3};
    TempDir dir;
    const std::pair<int, const char*> cases[] = {
        {4, "1.00000,2.00000,9.99999,-10.00000\r\n-0.50000,2.00001,0.10000,5.25000\r\n"
            "123456.78900,-0.00000,0.00000,7.12500\r\n"},
        {1, "2.00000\r\n2.00001\r\n-0.00000\r\n"},
        {3, "-10.00000\r\n5.25000\r\n7.12500\r\n"},
    };
    for (const auto& [selection, text] : cases) {
        ASSERT_EQ(StreamTo(dir.Path("rows.csv"), selection, 3, channels), FileError::None);
        EXPECT_EQ(ReadAll(dir.Path("rows.csv")), text) << selection;
    }
}

// Chunk edges, the single-chunk path and both threads, every selection.
TEST(CsvStream, SameBytesAsTheWindowsExportAtEveryChunkEdge) {
    constexpr std::uint32_t MAX_ROWS = 3 * CSV_STREAM_CHUNK_ROWS + 5;
    std::vector<double> values[4];
    for (int c = 0; c < 4; ++c) {
        values[c].resize(MAX_ROWS);
        for (std::uint32_t i = 0; i < MAX_ROWS; ++i) {
            // Logger-like codes times a gain, plus a few huge values that take the long path.
            values[c][i] = (i * 7919u + 104729u * c) % 65536 * 0.000152590218967 - 0.01 * c;
        }
    }
    values[2][CSV_STREAM_CHUNK_ROWS - 1] = 1e200;
    values[0][2 * CSV_STREAM_CHUNK_ROWS] = -1.5e300;
    const double* const channels[4] = {values[0].data(), values[1].data(), values[2].data(), values[3].data()};
    TempDir dir;
    for (const std::uint32_t count : {0u, 1u, 63u, 64u, 65u, CSV_STREAM_CHUNK_ROWS - 1, CSV_STREAM_CHUNK_ROWS,
                                      CSV_STREAM_CHUNK_ROWS + 1, 2 * CSV_STREAM_CHUNK_ROWS + 1, MAX_ROWS}) {
        for (const int selection : {0, 2, 3, 4}) {
            SCOPED_TRACE(testing::Message() << count << " rows, selection " << selection);
            ASSERT_EQ(WriteCsvFile(dir.Path("window.csv"), selection, count, channels, nullptr), FileError::None);
            ASSERT_EQ(StreamTo(dir.Path("stream.csv"), selection, count, channels), FileError::None);
            EXPECT_TRUE(ReadAll(dir.Path("window.csv")) == ReadAll(dir.Path("stream.csv")));
        }
    }
}

TEST(CsvStream, WriteFailureEndsBothThreads) {
    std::vector<double> values(4 * CSV_STREAM_CHUNK_ROWS, 1.0);
    const double* const channels[4] = {values.data(), values.data(), values.data(), values.data()};
    for (const std::uint32_t count : {10u, 4 * CSV_STREAM_CHUNK_ROWS}) {
        LockedFile full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(full.IsOpen());
        EXPECT_EQ(WriteCsvStream(full, 4, count, channels), FileError::Write) << count;
    }
}

}  // namespace
