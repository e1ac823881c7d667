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
    const FileError error = WriteCsvStream(
        [&file](const char* text, std::size_t size) { return file.WriteAll(text, size); }, selection, count, channels);
    return file.Close() ? error : FileError::Write;
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
        const auto write = [&full](const char* text, std::size_t size) { return full.WriteAll(text, size); };
        EXPECT_EQ(WriteCsvStream(write, 4, count, channels), FileError::Write) << count;
    }
}

}  // namespace
