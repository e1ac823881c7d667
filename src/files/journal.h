#pragma once

// The working file of a recording: the samples of the data file being
// filled, appended in checked blocks so that whatever reached the disk can
// be turned into that data file after the program was killed or the power
// failed.
//
// Layout, little-endian:
//   header  bytes 0..7   "VOSVREC1"
//           bytes 8..11  uint32 samples per file of the recording (the split)
//           bytes 12..15 uint32 CRC-32 of bytes 0..11 and 16..271
//           bytes 16..271 the DLF header of the data file it becomes,
//                         stamp included, its sample count 0
//   blocks  bytes 0..3   uint32 payload length in bytes (32 * sample count)
//           bytes 4..7   uint32 sample count, at least 1
//           bytes 8..11  uint32 samples in the file before this block
//           bytes 12..15 uint32 CRC-32 of bytes 0..11 and the payload
//           payload      the block's CH0 values, then CH1, CH2, CH3 (doubles)
// Every block that is whole and passes its checksum counts, also after a
// damaged stretch: the scan searches on for the next block header whose
// checksum holds and whose samples-before lies beyond the blocks found so
// far, so that a bad sector costs only the samples it held. What follows
// the last good block is a torn tail.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/file.h"

inline constexpr std::size_t JOURNAL_HEADER_SIZE = 16 + DLF_HEADER_SIZE;
inline constexpr std::size_t JOURNAL_BLOCK_HEADER_SIZE = 16;
/// Bytes of one sample of all four channels in a block's payload.
inline constexpr std::size_t JOURNAL_SAMPLE_BYTES = DLF_CHANNELS * sizeof(double);

/// What a working file states once, at its start.
struct JournalHeader {
    /// The settings and stamp of the data file the working file becomes.
    DataFileHeader settings;
    std::uint32_t split = DLF_MAX_SAMPLE_COUNT;  ///< samples per file of the recording
};

/// Good blocks that lie one after the other, in the file and in the samples.
struct JournalSegment {
    std::uint64_t offset = 0;       ///< file offset of its first block
    std::uint64_t end = 0;          ///< file offset just past its last block
    std::uint32_t firstSample = 0;  ///< samples in the file before it
    std::uint32_t samples = 0;      ///< samples per channel in it
};

/// What a working file holds, as far as its blocks check out.
struct JournalContents {
    JournalHeader header;
    /// The good blocks in file order, their samples-before rising: where two
    /// segments do not join, the samples between them were in damaged bytes.
    std::vector<JournalSegment> segments;
    std::uint64_t samples = 0;   ///< samples per channel in the segments
    std::uint64_t goodEnd = 0;   ///< file offset just past the last good block
    std::uint64_t length = 0;    ///< the file's length
    /// Whole samples in the tail after the last good block (cut by recovery).
    std::uint64_t droppedSamples = 0;
    /// Samples of good blocks that repeat a block found before, byte for byte.
    std::uint64_t repeatedSamples = 0;
    /// Samples of good blocks that lie before a block found earlier in the
    /// file and repeat none: intact, but in no segment.
    std::uint64_t straySamples = 0;
};

/// Appends blocks to a new working file. Not thread-safe; one writer.
class JournalWriter {
public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    /// Creates `path` (an existing file is refused with Open and left alone)
    /// and writes the header; the first Sync makes it and the name durable.
    /// The file stays locked (flock) until it is closed or the process ends.
    FileError Create(const std::string& path, const JournalHeader& header);
    bool IsOpen() const { return m_fd >= 0; }

    /// Appends one block of `count` samples (1..the split minus Samples());
    /// channel c from channels[c][0..count). Write when the block could not
    /// be written whole; what was written before stays valid.
    FileError Append(const double* const channels[DLF_CHANNELS], std::uint32_t count);

    /// Forces the blocks appended so far to the disk (fdatasync), and the
    /// first time the file's name too (fsync of its folder).
    FileError Sync();

    /// Leaves the sync of the file's folder to the caller (SyncFolder), e.g.
    /// on another thread, so that the next Sync is one fdatasync only.
    void LeaveFolderSync() { m_folderSynced = true; }

    /// Closes the file; the name stays.
    void Close();

    /// Where the open file is now: Path(), or its new name after its folder
    /// was moved; "" once it was removed (or while closed).
    std::string WhereNow() const;

    /// Samples appended in whole blocks.
    std::uint32_t Samples() const { return m_samples; }
    const std::string& Path() const { return m_path; }
    /// What the file holds, as ScanJournal would find it.
    const JournalContents& Contents() const { return m_contents; }

private:
    int m_fd = -1;
    std::string m_path;
    std::uint32_t m_samples = 0;
    bool m_folderSynced = false;
    JournalContents m_contents;
};

/// Reads the header and walks the blocks of the working file `path`: Open
/// when it cannot be opened, Read on a read error, Format when its header
/// is short, unknown or damaged. `verify` checks each block's checksum and
/// searches past damage; without it only the framing is checked and the
/// walk stops at the first block that does not follow.
FileError ScanJournal(const std::string& path, bool verify, JournalContents& contents);

/// Writes the blocks of `segments` of the scanned working file `path`, in
/// order, as the DLF file `dlfPath` with `header` (its sampleCount the
/// segments' samples), streaming: memory does not grow with the file. The
/// file takes a name that no file has (Placement::NewName): an existing
/// `dlfPath` is refused with Open and left as it is.
FileError ConvertJournalSegments(const std::string& path, std::span<const JournalSegment> segments,
                                 const DataFileHeader& header, const std::string& dlfPath);

/// ConvertJournalSegments of all segments of a working file whose blocks
/// follow each other from its first sample, with the header's settings and
/// stamp. Needs contents.samples >= 1.
FileError ConvertJournal(const std::string& path, const JournalContents& contents, const std::string& dlfPath);

/// True while a JournalWriter of a running process holds `path` open.
bool JournalInUse(const std::string& path);

/// Reads and checks the header of the working file open as `fd`, `length`
/// bytes long: Read on a read error, Format as ScanJournal.
FileError ReadJournalHeader(int fd, std::uint64_t length, JournalHeader& header);

/// A good block of a working file.
struct JournalBlock {
    std::uint64_t offset = 0;        ///< file offset of its block header
    std::uint32_t firstSample = 0;   ///< samples in the file before it
    std::uint32_t samples = 0;       ///< samples per channel in it
};

/// Reads on in a working file that grows, open as `fd`, whose header states
/// `split`: from `offset` (just past the header or a good block) it takes
/// each block that lies whole within the first `length` bytes, passes its
/// checksum and follows the one before (its samples-before is `expected`),
/// appends it to `blocks` and moves `offset` and `expected` past it. It stops
/// at the first block that does not: one still being written is not there
/// yet. Only the new bytes are read. Read on a read error.
FileError FollowJournal(int fd, std::uint64_t length, std::uint32_t split, std::uint64_t& offset,
                        std::uint32_t& expected, std::vector<JournalBlock>& blocks);
