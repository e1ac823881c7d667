#include "files/dlf.h"

#include "files/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t SENTINEL_BITS = 0x5A5A5A5A5A5A5A5AULL;

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

std::uint64_t LengthFor(std::uint32_t count) { return DLF_HEADER_SIZE + 32ULL * count; }

// Four destination buffers of the size the window hands to LoadDataFile,
// filled with a pattern no file here contains.
struct Bank {
    std::array<std::vector<double>, 4> data;
    double* pointers[4];

    Bank() {
        for (int c = 0; c < 4; ++c) {
            data[c].assign(DLF_MAX_SAMPLE_COUNT, std::bit_cast<double>(SENTINEL_BITS));
            pointers[c] = data[c].data();
        }
    }
    // Index of the first value that is not the sentinel in [from, end), or end.
    std::size_t FirstTouched(int channel, std::size_t from = 0) const {
        for (std::size_t i = from; i < DLF_MAX_SAMPLE_COUNT; ++i) {
            if (Bits(data[channel][i]) != SENTINEL_BITS) {
                return i;
            }
        }
        return DLF_MAX_SAMPLE_COUNT;
    }
    bool Untouched() const {
        for (int c = 0; c < 4; ++c) {
            if (FirstTouched(c) != DLF_MAX_SAMPLE_COUNT) {
                return false;
            }
        }
        return true;
    }
};

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return static_cast<std::uint64_t>(info.st_size);
}

// The header's first bytes, then zeros up to `length`.
void WriteRawFile(const std::string& path, const DataFileHeader& header, std::uint64_t length) {
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(header, bytes);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::size_t headerBytes = length < DLF_HEADER_SIZE ? static_cast<std::size_t>(length) : DLF_HEADER_SIZE;
    ASSERT_EQ(::write(fd, bytes, headerBytes), static_cast<ssize_t>(headerBytes));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0);
    ASSERT_EQ(::close(fd), 0);
}

DataFileHeader ValidHeader(std::uint32_t count) {
    DataFileHeader header;
    header.formatVersion = 1;
    header.clockDivider = 5000;
    header.sampleCount = count;
    header.triggerChannel = 2;
    header.triggerType = 3;
    header.threshold = 1.234567890123;
    header.displayMode = 1;
    return header;
}

TEST(DlfHeader, EveryFieldLandsLittleEndianAtItsOffset) {
    // Field values chosen so that byte i of the record holds i + 1.
    DataFileHeader header;
    header.formatVersion = 0x04030201;
    header.clockDivider = 0x08070605;
    header.sampleCount = 0x0C0B0A09;
    header.triggerChannel = 0x100F0E0D;
    header.triggerType = 0x14131211;
    header.threshold = std::bit_cast<double>(0x1C1B1A1918171615ULL);
    header.displayMode = 0x201F1E1D;
    std::uint8_t bytes[DLF_HEADER_SIZE];
    std::memset(bytes, 0xEE, sizeof bytes);
    EncodeHeader(header, bytes);
    for (std::size_t i = 0; i < DLF_HEADER_SIZE; ++i) {
        EXPECT_EQ(bytes[i], i < 32 ? i + 1 : 0) << "offset " << i;
    }
}

TEST(DlfHeader, DecodeInvertsEncodeAndIgnoresTheSpareArea) {
    const DataFileHeader headers[] = {
        ValidHeader(1),
        {2, -7, 0xFFFFFFFFu, std::numeric_limits<std::int32_t>::min(), 255, -1e300, 1, std::nullopt},
        {0, 10000, 1000000, 7, 4, std::numeric_limits<double>::denorm_min(), 0, std::nullopt},
    };
    for (const DataFileHeader& header : headers) {
        std::uint8_t bytes[DLF_HEADER_SIZE];
        EncodeHeader(header, bytes);
        std::memset(bytes + 32, 0xA5, DLF_HEADER_SIZE - 32);
        EXPECT_EQ(DecodeHeader(bytes), header);
    }
    DataFileHeader nan = ValidHeader(1);
    nan.threshold = std::bit_cast<double>(0x7FF0000000000123ULL);
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(nan, bytes);
    EXPECT_EQ(Bits(DecodeHeader(bytes).threshold), 0x7FF0000000000123ULL);
}

// Bytes 32..79 of a header: the stamp's tag and fields, little-endian.
struct StampCase {
    const char* name;
    RecordingStamp stamp;
    std::uint8_t bytes[48];
};

const StampCase STAMP_CASES[] = {
    {"each byte its own value",
     {0x0102030405060708, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F},
      0x2122232425262728, 0x3132333435363738},
     {'V', 'O', 'S', 'R', 'E', 'C', '0', '1', 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
      0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
      0x28, 0x27, 0x26, 0x25, 0x24, 0x23, 0x22, 0x21, 0x38, 0x37, 0x36, 0x35, 0x34, 0x33, 0x32, 0x31}},
    {"2026-12-08T04:30:00.25Z, file 2 after 1000000 samples",
     {1796704200250000, {}, 2, 1000000},
     {'V', 'O', 'S', 'R', 'E', 'C', '0', '1', 0x90, 0x52, 0x9F, 0xCB, 0x17, 0x62, 0x06, 0x00,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0x02, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x42, 0x0F, 0, 0, 0, 0, 0}},
    {"a microsecond before 1970, all ones",
     {-1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF},
     {'V', 'O', 'S', 'R', 'E', 'C', '0', '1', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
};

TEST(DlfHeader, StampFollowsItsTagLittleEndianAndReadsBack) {
    for (const StampCase& test : STAMP_CASES) {
        DataFileHeader header = ValidHeader(7);
        header.stamp = test.stamp;
        std::uint8_t bytes[DLF_HEADER_SIZE];
        std::memset(bytes, 0xEE, sizeof bytes);
        EncodeHeader(header, bytes);
        for (std::size_t i = 32; i < DLF_HEADER_SIZE; ++i) {
            EXPECT_EQ(bytes[i], i < 80 ? test.bytes[i - 32] : 0) << test.name << ", offset " << i;
        }
        EXPECT_EQ(DecodeHeader(bytes), header) << test.name;
    }
}

TEST(DlfHeader, OnlyTheExactTagCarriesAStamp) {
    const char* tags[] = {"VOSREC02", "vosrec01", "VOSREC0\0", "\0OSREC01"};
    for (const char* tag : tags) {
        DataFileHeader stamped = ValidHeader(1);
        stamped.stamp = STAMP_CASES[0].stamp;
        std::uint8_t bytes[DLF_HEADER_SIZE];
        EncodeHeader(stamped, bytes);
        std::memcpy(bytes + 32, tag, 8);
        EXPECT_EQ(DecodeHeader(bytes), ValidHeader(1)) << tag;
    }
}

TEST(DlfHeader, IdentityShowsAsLowercaseHex) {
    EXPECT_EQ(IdentityText(STAMP_CASES[0].stamp.identity), "101112131415161718191a1b1c1d1e1f");
    EXPECT_EQ(IdentityText(STAMP_CASES[2].stamp.identity), "ffffffffffffffffffffffffffffffff");
}

TEST(DlfStamp, ACutFromASampleOnKeepsTheRecordingAndMovesItsStartAndPosition) {
    struct Case {
        const char* name;
        std::int32_t divider;
        std::uint64_t sample;
        std::int64_t start;
        std::uint64_t first;
    };
    // File 2 of its recording starts at 2026-12-08T04:30:00.25Z after 1000000 samples.
    const Case cases[] = {
        {"its own first sample", 5, 0, 1796704200250000, 1000000},
        {"3.6 s on at 2 kHz", 5, 7200, 1796704203850000, 1007200},
        {"its last sample at 10 Hz", 1000, 999999, 1796804200150000, 1999999},
    };
    RecordingStamp file = STAMP_CASES[1].stamp;
    file.identity = STAMP_CASES[0].stamp.identity;
    for (const Case& test : cases) {
        const RecordingStamp cut = StampFromSample(file, test.divider, test.sample);
        EXPECT_EQ(cut.startMicros, test.start) << test.name;
        EXPECT_EQ(cut.firstSample, test.first) << test.name;
        EXPECT_EQ(cut.index, 2u) << test.name;
        EXPECT_EQ(IdentityText(cut.identity), "101112131415161718191a1b1c1d1e1f") << test.name;
    }
}

TEST(DlfHeader, FileLengthIsComparedIn64Bits) {
    const DataFileHeader full = ValidHeader(DLF_MAX_SAMPLE_COUNT);
    EXPECT_EQ(CheckHeader(full, 32000256), FileError::None);
    EXPECT_EQ(CheckHeader(full, 32000255), FileError::Format);
    EXPECT_EQ(CheckHeader(full, std::numeric_limits<std::uint64_t>::max()), FileError::None);
}

TEST(DlfMessages, EachFailureHasItsText) {
    EXPECT_STREQ(FileErrorMessage(FileError::None), "");
    EXPECT_STREQ(FileErrorMessage(FileError::Open), "ファイルオープンエラーです");
    EXPECT_STREQ(FileErrorMessage(FileError::Format), "ファイルフォーマットエラーです");
    EXPECT_STREQ(FileErrorMessage(FileError::Read), "ファイル読み込みエラーです");
    EXPECT_STREQ(FileErrorMessage(FileError::Write), "ファイル書き込みエラーです");
}

// Values that a careless copy would alter: NaN payloads, signed zero,
// infinities, subnormals, extremes; then a varied waveform.
std::vector<double> ChannelValues(int channel, std::uint32_t count) {
    const double specials[] = {
        std::bit_cast<double>(0x7FF0000000000001ULL),  // signalling NaN
        std::bit_cast<double>(0xFFF80000DEADBEEFULL),  // negative quiet NaN with payload
        -0.0,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min() * 12345,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
    };
    std::vector<double> values(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t special = (i + static_cast<std::uint32_t>(channel)) % 64;
        values[i] = special < std::size(specials) ? specials[special]
                                                  : 5.0 + 4.9 * std::sin(0.001 * i + channel) + channel * 1e-9;
    }
    return values;
}

class DlfRoundTrip : public testing::TestWithParam<std::uint32_t> {};

TEST_P(DlfRoundTrip, SavedRecordingOpensBitIdentical) {
    const std::uint32_t count = GetParam();
    TempDir dir;
    const std::string path = dir.Path("record.dlf");
    std::array<std::vector<double>, 4> source;
    const double* channels[4];
    for (int c = 0; c < 4; ++c) {
        source[c] = ChannelValues(c, count);
        channels[c] = source[c].data();
    }
    const DataFileHeader saved = ValidHeader(count);
    ASSERT_EQ(SaveDataFile(path, saved, channels), FileError::None);
    EXPECT_EQ(FileSize(path), LengthFor(count));

    Bank bank;
    DataFileHeader opened{};
    ASSERT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::None);
    EXPECT_EQ(opened, saved);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(std::memcmp(bank.data[c].data(), source[c].data(), count * sizeof(double)), 0) << "CH" << c;
        EXPECT_EQ(bank.FirstTouched(c, count), DLF_MAX_SAMPLE_COUNT) << "CH" << c << " written beyond the count";
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, DlfRoundTrip, testing::Values(1u, 64u, 65u, DLF_MAX_SAMPLE_COUNT));

TEST(DlfSave, WritesVersionOneAndTheStampOnlyWhenPresent) {
    TempDir dir;
    const std::string path = dir.Path("v.dlf");
    const double value = 1.5;
    const double* channels[4] = {&value, &value, &value, &value};
    for (const bool stamped : {false, true}) {
        DataFileHeader header = ValidHeader(1);
        header.formatVersion = 7;
        if (stamped) {
            header.stamp = STAMP_CASES[1].stamp;
        }
        ASSERT_EQ(SaveDataFile(path, header, channels), FileError::None);
        const std::vector<std::uint8_t> bytes = ReadBytes(path);
        ASSERT_EQ(bytes.size(), LengthFor(1));
        EXPECT_EQ(bytes[0], 1);
        EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
        for (std::size_t i = 32; i < DLF_HEADER_SIZE; ++i) {
            EXPECT_EQ(bytes[i], stamped && i < 80 ? STAMP_CASES[1].bytes[i - 32] : 0) << stamped << ", offset " << i;
        }
        DataFileHeader read;
        ASSERT_EQ(ReadDataFileHeader(path, read), FileError::None);
        EXPECT_EQ(read.stamp, header.stamp);
    }
}

TEST(DlfSave, ReplacesALongerFileEntirely) {
    TempDir dir;
    const std::string path = dir.Path("old.dlf");
    WriteRawFile(path, ValidHeader(1000), LengthFor(1000));
    const double value = 2.0;
    const double* channels[4] = {&value, &value, &value, &value};
    ASSERT_EQ(SaveDataFile(path, ValidHeader(1), channels), FileError::None);
    EXPECT_EQ(FileSize(path), LengthFor(1));
}

TEST(DlfSave, RefusesAHeaderItCouldNotOpenAgainBeforeTouchingTheFile) {
    TempDir dir;
    const double value = 0.0;
    const double* channels[4] = {&value, &value, &value, &value};
    struct Case {
        const char* name;
        void (*change)(DataFileHeader&);
    } cases[] = {
        {"count 0", [](DataFileHeader& h) { h.sampleCount = 0; }},
        {"count over the buffers", [](DataFileHeader& h) { h.sampleCount = DLF_MAX_SAMPLE_COUNT + 1; }},
        {"divider 0", [](DataFileHeader& h) { h.clockDivider = 0; }},
        {"trigger type 5", [](DataFileHeader& h) { h.triggerType = 5; }},
        {"display mode 2", [](DataFileHeader& h) { h.displayMode = 2; }},
    };
    for (const Case& test : cases) {
        DataFileHeader header = ValidHeader(1);
        test.change(header);
        const std::string path = dir.Path("refused.dlf");
        EXPECT_EQ(SaveDataFile(path, header, channels), FileError::Format) << test.name;
        EXPECT_NE(::access(path.c_str(), F_OK), 0) << test.name << ": a file was created";
    }
}

struct EdgeCase {
    const char* name;
    void (*change)(DataFileHeader&);
    std::int64_t lengthDelta;  // against 256 + 32 * sampleCount
    FileError expected;
};

void Keep(DataFileHeader&) {}

const EdgeCase EDGE_CASES[] = {
    {"valid", Keep, 0, FileError::None},
    {"divider 0", [](DataFileHeader& h) { h.clockDivider = 0; }, 0, FileError::Format},
    {"divider -1", [](DataFileHeader& h) { h.clockDivider = -1; }, 0, FileError::Format},
    {"divider 10001", [](DataFileHeader& h) { h.clockDivider = 10001; }, 0, FileError::Format},
    {"divider 1", [](DataFileHeader& h) { h.clockDivider = 1; }, 0, FileError::None},
    {"divider 3, not in the list", [](DataFileHeader& h) { h.clockDivider = 3; }, 0, FileError::None},
    {"divider 10000", [](DataFileHeader& h) { h.clockDivider = 10000; }, 0, FileError::None},
    {"count 0", [](DataFileHeader& h) { h.sampleCount = 0; }, 0, FileError::Format},
    {"count 1000001", [](DataFileHeader& h) { h.sampleCount = 1000001; }, 0, FileError::Format},
    {"count 2^32-1", [](DataFileHeader& h) { h.sampleCount = 0xFFFFFFFFu; }, 0, FileError::Format},
    {"count 1000000", [](DataFileHeader& h) { h.sampleCount = 1000000; }, 0, FileError::None},
    {"trigger type 255", [](DataFileHeader& h) { h.triggerType = 255; }, 0, FileError::None},
    {"trigger type 0", [](DataFileHeader& h) { h.triggerType = 0; }, 0, FileError::None},
    {"trigger type 1", [](DataFileHeader& h) { h.triggerType = 1; }, 0, FileError::None},
    {"trigger type 2", [](DataFileHeader& h) { h.triggerType = 2; }, 0, FileError::None},
    {"trigger type 4, not in the list", [](DataFileHeader& h) { h.triggerType = 4; }, 0, FileError::None},
    {"trigger type 5", [](DataFileHeader& h) { h.triggerType = 5; }, 0, FileError::Format},
    {"trigger type -1", [](DataFileHeader& h) { h.triggerType = -1; }, 0, FileError::Format},
    {"trigger type 256, low byte 0", [](DataFileHeader& h) { h.triggerType = 256; }, 0, FileError::Format},
    {"display mode 0", [](DataFileHeader& h) { h.displayMode = 0; }, 0, FileError::None},
    {"display mode 2", [](DataFileHeader& h) { h.displayMode = 2; }, 0, FileError::Format},
    {"display mode 257, low byte 1", [](DataFileHeader& h) { h.displayMode = 257; }, 0, FileError::Format},
    {"trigger channel 7", [](DataFileHeader& h) { h.triggerChannel = 7; }, 0, FileError::None},
    {"format version 2", [](DataFileHeader& h) { h.formatVersion = 2; }, 0, FileError::None},
    {"one byte short", Keep, -1, FileError::Format},
    {"header only", Keep, -32 * 3, FileError::Format},
    {"one byte over", Keep, 1, FileError::None},
    {"much longer", Keep, 100000, FileError::None},
};

class DlfOpenEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(DlfOpenEdges, ChecksTheHeaderAndLength) {
    const EdgeCase& test = GetParam();
    TempDir dir;
    const std::string path = dir.Path("edge.dlf");
    DataFileHeader header = ValidHeader(3);
    test.change(header);
    const std::uint64_t length = LengthFor(header.sampleCount) + test.lengthDelta;
    WriteRawFile(path, header, length);

    Bank bank;
    DataFileHeader opened = ValidHeader(42);
    const DataFileHeader before = opened;
    ASSERT_EQ(LoadDataFile(path, opened, bank.pointers), test.expected);
    if (test.expected == FileError::None) {
        EXPECT_EQ(opened, header);
        for (int c = 0; c < 4; ++c) {
            // The file's samples are zeros; nothing beyond the count is written.
            EXPECT_EQ(bank.FirstTouched(c), 0u);
            EXPECT_EQ(bank.FirstTouched(c, header.sampleCount), DLF_MAX_SAMPLE_COUNT);
        }
    } else {
        EXPECT_EQ(opened, before);
        EXPECT_TRUE(bank.Untouched());
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, DlfOpenEdges, testing::ValuesIn(EDGE_CASES),
                         [](const testing::TestParamInfo<EdgeCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

TEST(DlfOpen, ShortFilesAreFormatErrors) {
    TempDir dir;
    for (const std::uint64_t length : {0u, 1u, 255u}) {
        const std::string path = dir.Path("short.dlf");
        WriteRawFile(path, ValidHeader(1), length);
        Bank bank;
        DataFileHeader opened{};
        EXPECT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::Format) << length;
        EXPECT_TRUE(bank.Untouched());
    }
}

TEST(DlfOpen, PathsThatAreNoDataFileGiveOpenErrors) {
    TempDir dir;
    const std::string fifo = dir.Path("fifo.dlf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO without a writer must not block the open.
    const std::string paths[] = {dir.Path("missing.dlf"), dir.Path(""), fifo, "/dev/null"};
    for (const std::string& path : paths) {
        Bank bank;
        DataFileHeader opened{};
        EXPECT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::Open) << path;
        EXPECT_TRUE(bank.Untouched()) << path;
    }
}

TEST(DlfOpen, HeaderCutShortWhileReadingIsAReadError) {
    // sysfs reports a length of a page but delivers only a few bytes.
    const std::string path = "/sys/devices/system/cpu/online";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_size < static_cast<off_t>(DLF_HEADER_SIZE)) {
        GTEST_SKIP() << "no sysfs file that claims more bytes than it holds";
    }
    Bank bank;
    DataFileHeader opened{};
    EXPECT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::Read);
    EXPECT_TRUE(bank.Untouched());
}

TEST(DlfSave, UnwritablePlacesFailCleanly) {
    TempDir dir;
    const double value = 3.0;
    const double* channels[4] = {&value, &value, &value, &value};
    const struct {
        std::string path;
        FileError expected;
    } cases[] = {
        {dir.Path("missing/record.dlf"), FileError::Open},
        {dir.Path(""), FileError::Open},
        {"/dev/full", FileError::Write},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(SaveDataFile(test.path, ValidHeader(1), channels), test.expected) << test.path;
    }
}

TEST(DlfLocking, AFileInUseIsNeitherWrittenNorRead) {
    TempDir dir;
    const std::string path = dir.Path("busy.dlf");
    WriteRawFile(path, ValidHeader(2), LengthFor(2));
    const int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const double value = 4.0;
    const double* channels[4] = {&value, &value, &value, &value};
    EXPECT_EQ(SaveDataFile(path, ValidHeader(1), channels), FileError::Open);
    EXPECT_EQ(FileSize(path), LengthFor(2)) << "the holder's file was truncated";
    Bank bank;
    DataFileHeader opened{};
    EXPECT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::Open);
    EXPECT_TRUE(bank.Untouched());

    ASSERT_EQ(::close(holder), 0);
    EXPECT_EQ(LoadDataFile(path, opened, bank.pointers), FileError::None);
    EXPECT_EQ(SaveDataFile(path, ValidHeader(1), channels), FileError::None);
}

}  // namespace
