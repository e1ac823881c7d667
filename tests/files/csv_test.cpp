#include "files/csv.h"

#include "files/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text the export must produce, built row by row from FormatFixed5.
std::string ExpectedCsv(int selection, const double* const channels[4], std::uint32_t count) {
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (selection >= 0 && selection < 4) {
            text += FormatFixed5(channels[selection][i]);
        } else {
            for (int c = 0; c < 4; ++c) {
                text += FormatFixed5(channels[c][i]);
                text += c < 3 ? "," : "";
            }
        }
        text += "\r\n";
    }
    return text;
}

struct Recording {
    std::array<std::vector<double>, 4> data;
    const double* channels[4];

    explicit Recording(std::uint32_t count) {
        for (int c = 0; c < 4; ++c) {
            data[c].resize(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                // Distinct per channel so that a wrong channel shows.
                data[c][i] = c * 10 + 4.9 * std::sin(0.0007 * i) + i * 1e-6;
            }
            channels[c] = data[c].data();
        }
    }
};

struct ProgressLog : CsvProgress {
    std::vector<std::string> events;
    void Begin(int maximum) override { events.push_back("begin " + std::to_string(maximum)); }
    void Position(int position) override { events.push_back(std::to_string(position)); }
    void Finish() override { events.push_back("finish"); }
};

TEST(CsvProgressFor, SplitsIntoBlocksOf64) {
    const struct {
        std::uint32_t count, blocks, rest;
        int maximum;
    } cases[] = {
        {0, 0, 0, 0},        {1, 0, 1, 1},       {63, 0, 63, 1},
        {64, 1, 0, 1},       {65, 1, 1, 2},      {128, 2, 0, 2},
        {1000000, 15625, 0, 15625}, {0xFFFFFFFFu, 67108863, 63, 67108864},
    };
    for (const auto& test : cases) {
        const CsvProgressRange range = CsvProgressFor(test.count);
        EXPECT_EQ(range.blocks, test.blocks) << test.count;
        EXPECT_EQ(range.rest, test.rest) << test.count;
        EXPECT_EQ(range.maximum, test.maximum) << test.count;
    }
}

TEST(CsvExport, ExampleRows) {
    const double ch[4][2] = {{1, 0}, {0.5, -1.234567}, {3, 12.3}, {4, -0.0}};
    const double* channels[4] = {ch[0], ch[1], ch[2], ch[3]};
    const struct {
        int selection;
        const char* text;
    } cases[] = {
        {1, "0.50000\r\n-1.23457\r\n"},
        {2, "3.00000\r\n12.30000\r\n"},
        {3, "4.00000\r\n-0.00000\r\n"},
        {4, "1.00000,0.50000,3.00000,4.00000\r\n0.00000,-1.23457,12.30000,-0.00000\r\n"},
    };
    TempDir dir;
    for (const auto& test : cases) {
        const std::string path = dir.Path("rows.csv");
        ASSERT_EQ(WriteCsvFile(path, test.selection, 2, channels, nullptr), FileError::None);
        EXPECT_EQ(ReadText(path), test.text) << test.selection;
    }
}

TEST(CsvExport, RowsBlocksAndProgress) {
    const struct {
        std::uint32_t count;
        int selection;
        std::vector<std::string> events;
    } cases[] = {
        {0, 4, {"begin 0", "finish"}},
        {1, 4, {"begin 1", "1", "finish"}},
        {64, 0, {"begin 1", "1", "finish"}},
        {65, 2, {"begin 2", "1", "2", "finish"}},
        {130, 3, {"begin 3", "1", "2", "3", "finish"}},
        {200, 4, {"begin 4", "1", "2", "3", "4", "finish"}},
    };
    TempDir dir;
    const Recording recording(200);
    for (const auto& test : cases) {
        const std::string path = dir.Path("export.csv");
        ProgressLog log;
        ASSERT_EQ(WriteCsvFile(path, test.selection, test.count, recording.channels, &log), FileError::None);
        EXPECT_EQ(log.events, test.events) << test.count;
        const std::string text = ReadText(path);
        EXPECT_EQ(text, ExpectedCsv(test.selection, recording.channels, test.count)) << test.count;
        EXPECT_EQ(static_cast<std::uint32_t>(std::count(text.begin(), text.end(), '\n')), test.count);
    }
}

TEST(CsvExport, SelectionPicksTheChannelOrAll) {
    const Recording recording(70);
    const struct {
        int selection;
        int effective;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 4}, {-1, 4}, {std::numeric_limits<int>::min(), 4}};
    TempDir dir;
    for (const auto& test : cases) {
        const std::string path = dir.Path("select.csv");
        ASSERT_EQ(WriteCsvFile(path, test.selection, 70, recording.channels, nullptr), FileError::None);
        EXPECT_EQ(ReadText(path), ExpectedCsv(test.effective, recording.channels, 70)) << test.selection;
    }
}

TEST(CsvExport, AMillionRowsOfAllChannels) {
    constexpr std::uint32_t COUNT = 1000000;
    const Recording recording(COUNT);
    TempDir dir;
    const std::string path = dir.Path("all.csv");
    ProgressLog log;
    ASSERT_EQ(WriteCsvFile(path, CSV_SELECT_ALL, COUNT, recording.channels, &log), FileError::None);
    ASSERT_EQ(log.events.size(), 15625u + 2);
    EXPECT_EQ(log.events.front(), "begin 15625");
    EXPECT_EQ(log.events[log.events.size() - 2], "15625");
    const std::string text = ReadText(path);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_TRUE(text == ExpectedCsv(CSV_SELECT_ALL, recording.channels, COUNT));
}

TEST(CsvExport, FailuresReportTheRightErrorAndLeaveProgressAlone) {
    TempDir dir;
    const Recording recording(100);
    {
        ProgressLog log;
        EXPECT_EQ(WriteCsvFile(dir.Path("missing/x.csv"), 4, 100, recording.channels, &log), FileError::Open);
        EXPECT_EQ(WriteCsvFile(dir.Path(""), 4, 100, recording.channels, &log), FileError::Open);
        EXPECT_TRUE(log.events.empty());
    }
    {
        ProgressLog log;
        EXPECT_EQ(WriteCsvFile("/dev/full", 4, 100, recording.channels, &log), FileError::Write);
        EXPECT_EQ(log.events, std::vector<std::string>{"begin 2"});
    }
    {
        // The single rows after the last block fail on their own write too.
        ProgressLog log;
        EXPECT_EQ(WriteCsvFile("/dev/full", 1, 3, recording.channels, &log), FileError::Write);
        EXPECT_EQ(log.events, std::vector<std::string>{"begin 1"});
    }
    {
        // A row source that fails on its second fetch (rows 16384 on): Read,
        // after the first fetch's 256 blocks, and the old file stays.
        const std::string path = dir.Path("old.csv");
        std::ofstream(path, std::ios::binary) << "old\r\n";
        std::vector<int> asked;
        const CsvRowSource rows = [&](int channel, std::uint32_t first, std::uint32_t n, double* out) {
            asked.push_back(channel);
            std::fill(out, out + n, 1.5);
            return first == 0;
        };
        ProgressLog log;
        EXPECT_EQ(WriteCsvFile(path, 2, 20000, rows, &log), FileError::Read);
        EXPECT_EQ(asked, (std::vector<int>{2, 2}));
        ASSERT_EQ(log.events.size(), 257u);
        EXPECT_EQ(log.events.front(), "begin 313");
        EXPECT_EQ(log.events.back(), "256");
        EXPECT_EQ(ReadText(path), "old\r\n");
    }
}

// The block text must be byte-identical to printf's "%.5f" for every double,
// including exact ties, values one ulp either side of a rounding boundary,
// and the magnitudes where the formatter hands over to its general path.
std::vector<double> AwkwardValues() {
    std::vector<double> values = {
        0.0, -0.0, 1.0, -1.0, 0.5, 9.999995, 9.999994999999, 0.000005, -0.000005, 0.000004999,
        0.015625, 0.046875, -0.015625, 1.0 / 64 * 3, 99999.999995, 1e-5, 5e-6, 4e-6, 6e-6,
        std::ldexp(1.0, 47), std::nextafter(std::ldexp(1.0, 47), 0.0), std::ldexp(1.0, 46),
        std::ldexp(1.0, 53), 1.8e14, 1e15, 1e19, 1e22, 123456789.123455,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN(), std::bit_cast<double>(0x7FF0000000000001ULL),
    };
    // Every exact tie k/64 and its neighbours.
    for (int k = -200; k <= 200; ++k) {
        const double tie = k / 64.0;
        values.insert(values.end(), {tie, std::nextafter(tie, 1e9), std::nextafter(tie, -1e9)});
    }
    // Decimal boundaries x.xxxxx5 and their neighbours.
    for (int k = 0; k < 2000; ++k) {
        const double boundary = (k * 7919 % 1000000 + 0.5) * 1e-5;
        values.insert(values.end(), {boundary, -boundary, std::nextafter(boundary, 0.0), std::nextafter(boundary, 1e9)});
    }
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> volts(-20.0, 20.0);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(volts(random));
        values.push_back(std::bit_cast<double>(random()));  // any bit pattern at all
    }
    return values;
}

// printf's text, but "nan" for a NaN of either sign bit.
std::string Printf5(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.5f", value);
    return std::isnan(value) ? "nan" : text;
}

TEST(CsvFormat, BlockTextMatchesPrintfForAnyValue) {
    const std::vector<double> values = AwkwardValues();
    const double* channels[4] = {values.data(), values.data(), values.data(), values.data()};
    std::vector<char> block(CSV_BLOCK_MAX_CHARS);
    for (std::uint32_t first = 0; first < values.size(); first += CSV_BLOCK_ROWS) {
        const std::uint32_t rows = std::min<std::uint32_t>(CSV_BLOCK_ROWS, values.size() - first);
        const std::size_t size = FormatCsvBlock(0, channels, first, rows, block.data());
        std::string expected;
        for (std::uint32_t i = first; i < first + rows; ++i) {
            expected += Printf5(values[i]) + "\r\n";
        }
        ASSERT_EQ(std::string(block.data(), size), expected) << "block at " << first;
    }
}

TEST(CsvFormat, WidestRowsFitTheBlockBuffer) {
    const std::vector<double> widest(CSV_BLOCK_ROWS, std::numeric_limits<double>::lowest());
    const double* channels[4] = {widest.data(), widest.data(), widest.data(), widest.data()};
    std::vector<char> block(CSV_BLOCK_MAX_CHARS);
    const std::size_t size = FormatCsvBlock(CSV_SELECT_ALL, channels, 0, CSV_BLOCK_ROWS, block.data());
    EXPECT_LE(size, CSV_BLOCK_MAX_CHARS);
    EXPECT_EQ(size, CSV_BLOCK_ROWS * (4 * FormatFixed5(widest[0]).size() + 5));
}

}  // namespace
