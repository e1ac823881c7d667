// The working file's scan: which blocks count after damage, a repeat, a block
// out of order or a torn tail, and the conversion of what counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/file.h"
#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/temp_dir.h"

namespace {

using journaltest::ReadBytes;
using journaltest::WriteBytes;

// Four blocks of 100, 200, 300 and 400 samples of a file split at 1000.
const std::vector<std::uint32_t> BLOCKS = {100, 200, 300, 400};
// Where they start: the 272-byte header, then 16 bytes and 32 per sample each.
constexpr std::size_t AT[] = {272, 3488, 9904, 19520, 32336};

struct Segment {
    std::uint64_t offset, end, firstSample, samples;
    bool operator==(const Segment&) const = default;
};

std::vector<Segment> Segments(const JournalContents& contents) {
    std::vector<Segment> segments;
    for (const JournalSegment& s : contents.segments) segments.push_back({s.offset, s.end, s.firstSample, s.samples});
    return segments;
}

// What a scan must find besides the segments.
struct Counts {
    std::uint64_t samples = 0;
    std::uint64_t dropped = 0;
    std::uint64_t repeated = 0;
    std::uint64_t stray = 0;
};

void ExpectScan(const JournalContents& contents, const std::vector<Segment>& segments, const Counts& counts) {
    EXPECT_EQ(Segments(contents), segments);
    EXPECT_EQ(contents.samples, counts.samples);
    EXPECT_EQ(contents.droppedSamples, counts.dropped);
    EXPECT_EQ(contents.repeatedSamples, counts.repeated);
    EXPECT_EQ(contents.straySamples, counts.stray);
}

class JournalScan : public testing::Test {
protected:
    void SetUp() override {
        journaltest::WriteWorkingFile(m_path, {.blocks = BLOCKS});
        m_original = ReadBytes(m_path);
        ASSERT_EQ(m_original.size(), AT[4]);
    }

    JournalContents Scan(const std::string& bytes) {
        WriteBytes(m_path, bytes);
        JournalContents contents;
        EXPECT_EQ(ScanJournal(m_path, true, contents), FileError::None);
        return contents;
    }

    TempDir m_dir;
    const std::string m_path = m_dir.Path("r-000001.vrec");
    std::string m_original;
};

TEST_F(JournalScan, AnIntactFileIsOneSegment) {
    const JournalContents contents = Scan(m_original);
    EXPECT_EQ(Segments(contents), (std::vector<Segment>{{272, 32336, 0, 1000}}));
    EXPECT_EQ(contents.samples, 1000u);
    EXPECT_EQ(contents.goodEnd, 32336u);
    EXPECT_EQ(contents.droppedSamples, 0u);
}

// Any byte of a block header damaged: that block is lost, every other block counts.
TEST_F(JournalScan, EveryByteOfABlockHeaderDamaged) {
    struct Case {
        std::size_t block;
        std::vector<Segment> segments;
        std::uint64_t samples;
        std::uint64_t dropped;
        std::uint64_t goodEnd;
    };
    const Case cases[] = {
        {0, {{3488, 32336, 100, 900}}, 900, 0, 32336},
        {1, {{272, 3488, 0, 100}, {9904, 32336, 300, 700}}, 800, 0, 32336},
        {2, {{272, 9904, 0, 300}, {19520, 32336, 600, 400}}, 700, 0, 32336},
        {3, {{272, 19520, 0, 600}}, 600, 400, 19520},
    };
    for (const Case& test : cases) {
        for (std::size_t byte = 0; byte < 16; ++byte) {
            SCOPED_TRACE("block " + std::to_string(test.block) + " byte " + std::to_string(byte));
            std::string damaged = m_original;
            damaged[AT[test.block] + byte] ^= 0x04;
            const JournalContents contents = Scan(damaged);
            ExpectScan(contents, test.segments, {.samples = test.samples, .dropped = test.dropped});
            EXPECT_EQ(contents.goodEnd, test.goodEnd);
        }
    }
}

// A flipped payload byte or a zeroed stretch (a bad sector) costs the blocks it touches.
TEST_F(JournalScan, DamagedPayloadsAndZeroedSectors) {
    struct Case {
        const char* name;
        std::size_t from;
        std::size_t length;
        bool zero;
        std::vector<Segment> segments;
        std::uint64_t dropped;
    };
    const Case cases[] = {
        {"byte in block 1", 272 + 16 + 1000, 1, false, {{3488, 32336, 100, 900}}, 0},
        {"byte in block 3", 9904 + 16 + 32 * 150, 1, false, {{272, 9904, 0, 300}, {19520, 32336, 600, 400}}, 0},
        {"byte in the last block", 19520 + 16 + 32 * 399 + 31, 1, false, {{272, 19520, 0, 600}}, 400},
        {"4096 zero bytes over blocks 2 and 3", 8192, 4096, true, {{272, 3488, 0, 100}, {19520, 32336, 600, 400}}, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::string damaged = m_original;
        for (std::size_t i = test.from; i < test.from + test.length; ++i) damaged[i] = test.zero ? '\0' : damaged[i] ^ 0x40;
        const JournalContents contents = Scan(damaged);
        EXPECT_EQ(Segments(contents), test.segments);
        EXPECT_EQ(contents.droppedSamples, test.dropped);
    }
}

// A block written twice counts once; a block before one found earlier in the
// file that repeats none is intact but in no segment.
TEST_F(JournalScan, RepeatedAndOutOfOrderBlocks) {
    const auto block = [&](std::size_t i) { return m_original.substr(AT[i], AT[i + 1] - AT[i]); };
    const std::string header = m_original.substr(0, 272);
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Segment> segments;
        std::uint64_t samples;
        std::uint64_t repeated;
        std::uint64_t stray;
    };
    const Case cases[] = {
        {"block 2 twice", header + block(0) + block(1) + block(1) + block(2) + block(3),
         {{272, 9904, 0, 300}, {16320, 38752, 300, 700}}, 1000, 200, 0},
        {"block 1 again at the end", m_original + block(0), {{272, 32336, 0, 1000}}, 1000, 100, 0},
        {"blocks 2 and 3 swapped", header + block(0) + block(2) + block(1) + block(3),
         {{272, 3488, 0, 100}, {3488, 13104, 300, 300}, {19520, 32336, 600, 400}}, 800, 0, 200},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ExpectScan(Scan(test.bytes), test.segments,
                   {.samples = test.samples, .repeated = test.repeated, .stray = test.stray});
    }
}

// A torn tail: the whole samples that reached the disk in the last block are
// counted, exactly, also behind a damaged block that the tail begins with.
TEST_F(JournalScan, TornTailCountsTheWholeSamplesCut) {
    struct Case {
        const char* name;
        std::size_t length;
        bool damageBlock3;  // one payload byte of the 300-sample block at 9904
        std::uint64_t dropped;
    };
    const Case cases[] = {
        {"at a block boundary", 19520, false, 0},
        {"1 byte of the last block header", 19521, false, 0},
        {"15 bytes of the last block header", 19535, false, 0},
        {"the last block header whole", 19536, false, 0},
        {"5 bytes of its first sample", 19541, false, 0},
        {"its first sample whole", 19568, false, 1},
        {"123 samples and 5 bytes", 19536 + 32 * 123 + 5, false, 123},
        {"all but 1 byte", 32335, false, 399},
        {"block 3 damaged, 123 samples and 20 bytes after it", 19536 + 32 * 123 + 20, true, 300 + 123},
        {"block 3 damaged, 10 bytes of the last block header", 19530, true, 300},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::string bytes = m_original.substr(0, test.length);
        if (test.damageBlock3) bytes[9904 + 16 + 32 * 10] ^= 0x01;
        const JournalContents contents = Scan(bytes);
        const std::uint64_t goodEnd = test.damageBlock3 ? 9904 : 19520;
        EXPECT_EQ(Segments(contents), (std::vector<Segment>{{272, goodEnd, 0, test.damageBlock3 ? 300u : 600u}}));
        EXPECT_EQ(contents.goodEnd, goodEnd);
        EXPECT_EQ(contents.length, test.length);
        EXPECT_EQ(contents.droppedSamples, test.dropped);
    }
}

// The damaged header of the working file itself is Format; nothing is guessed.
TEST_F(JournalScan, DamagedFileHeaderIsFormat) {
    for (const std::size_t byte : {0u, 8u, 12u, 16u, 100u, 271u}) {
        SCOPED_TRACE(byte);
        std::string damaged = m_original;
        damaged[byte] ^= 0x01;
        WriteBytes(m_path, damaged);
        JournalContents contents;
        EXPECT_EQ(ScanJournal(m_path, true, contents), FileError::Format);
    }
}

// The segments after damage become a file of their own, with the values they held.
TEST_F(JournalScan, ConvertsTheSegmentsGiven) {
    std::string damaged = m_original;
    damaged[9904 + 16 + 32 * 150] ^= 0x40;
    const JournalContents contents = Scan(damaged);
    ASSERT_EQ(contents.segments.size(), 2u);
    DataFileHeader header = contents.header.settings;
    header.sampleCount = 400;
    header.stamp->index = 2;
    header.stamp->firstSample = 600;
    const std::string dlf = m_dir.Path("r-000002.dlf");
    ASSERT_EQ(ConvertJournalSegments(m_path, std::span(contents.segments).subspan(1), header, dlf), FileError::None);
    journaltest::Loaded read;
    ASSERT_EQ(journaltest::Load(dlf, read), FileError::None);
    EXPECT_EQ(read.header, header);
    EXPECT_EQ(read.values[0][0], 600.0);
    EXPECT_EQ(read.values[0][399], 999.0);
    EXPECT_EQ(read.values[3][0], 300600.0);
}

// A finished file only ever takes a name no file has: an existing one, there
// at the start or taken while the file was written, is refused and kept.
TEST_F(JournalScan, ConversionNeverReplacesAFile) {
    const JournalContents contents = Scan(m_original);
    const std::string dlf = m_dir.Path("r-000001.dlf");
    WriteBytes(dlf, "someone else's");
    ReplacementFile early;
    EXPECT_FALSE(early.Open(dlf, Placement::NewName));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ConvertJournal(m_path, contents, dlf), FileError::Open);
    EXPECT_EQ(ReadBytes(dlf), "someone else's");

    std::filesystem::remove(dlf);
    ReplacementFile file;
    ASSERT_TRUE(file.Open(dlf, Placement::NewName));
    ASSERT_TRUE(file.WriteAll("ours", 4));
    WriteBytes(dlf, "taken meanwhile");
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadBytes(dlf), "taken meanwhile");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path(""))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"r-000001.dlf", "r-000001.vrec"}));
}

}  // namespace
