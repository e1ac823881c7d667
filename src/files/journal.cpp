#include "files/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

constexpr char MAGIC[8] = {'V', 'O', 'S', 'V', 'R', 'E', 'C', '1'};
constexpr std::size_t OFFSET_SPLIT = 8;
constexpr std::size_t OFFSET_HEADER_CRC = 12;
constexpr std::size_t OFFSET_DLF_HEADER = 16;
// Reads of block headers and small payloads go through a window this large.
constexpr std::size_t READ_WINDOW = std::size_t{1} << 20;

static_assert(std::endian::native == std::endian::little, "blocks hold doubles as in memory");

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{at[i]} << (8 * i);
    return value;
}

std::uint32_t Crc(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const Bytef*>(data);
    while (size > 0) {
        const auto part = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = static_cast<std::uint32_t>(::crc32(crc, bytes, part));
        bytes += part;
        size -= part;
    }
    return crc;
}

std::uint32_t HeaderCrc(const std::uint8_t* header) {
    const std::uint32_t crc = Crc(0, header, OFFSET_HEADER_CRC);
    return Crc(crc, header + OFFSET_DLF_HEADER, DLF_HEADER_SIZE);
}



// Positioned reads of one open file; small reads are served from a window.
class Reader {
public:
    explicit Reader(int fd) : m_fd(fd), m_window(std::make_unique_for_overwrite<std::uint8_t[]>(READ_WINDOW)) {}

    // False on a read error or when the file ends first.
    bool Read(std::uint64_t offset, void* out, std::size_t size) {
        if (size >= READ_WINDOW) return ReadDirect(offset, out, size);
        if (offset < m_start || offset + size > m_start + m_filled) {
            m_start = offset;
            m_filled = 0;
            while (m_filled < READ_WINDOW) {
                const ssize_t got = ::pread(m_fd, m_window.get() + m_filled, READ_WINDOW - m_filled,
                                            static_cast<off_t>(m_start + m_filled));
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) return false;
                if (got == 0) break;
                m_filled += static_cast<std::size_t>(got);
            }
            if (size > m_filled) return false;
        }
        std::memcpy(out, m_window.get() + (offset - m_start), size);
        return true;
    }

private:
    bool ReadDirect(std::uint64_t offset, void* out, std::size_t size) { return ReadAllAt(m_fd, offset, out, size); }

    int m_fd;
    std::unique_ptr<std::uint8_t[]> m_window;
    std::uint64_t m_start = 0;
    std::size_t m_filled = 0;
};

struct BlockHeader {
    std::uint32_t payloadBytes = 0;
    std::uint32_t count = 0;
    std::uint32_t before = 0;
    std::uint32_t crc = 0;
};

BlockHeader DecodeBlockHeader(const std::uint8_t* bytes) {
    return BlockHeader{Get32(bytes), Get32(bytes + 4), Get32(bytes + 8), Get32(bytes + 12)};
}

// The header of a working file from its first JOURNAL_HEADER_SIZE bytes; false when unknown or damaged.
bool DecodeJournalHeader(const std::uint8_t* bytes, JournalHeader& header) {
    if (std::memcmp(bytes, MAGIC, sizeof MAGIC) != 0 || Get32(bytes + OFFSET_HEADER_CRC) != HeaderCrc(bytes)) {
        return false;
    }
    header.split = Get32(bytes + OFFSET_SPLIT);
    std::uint8_t dlf[DLF_HEADER_SIZE];
    std::memcpy(dlf, bytes + OFFSET_DLF_HEADER, DLF_HEADER_SIZE);
    header.settings = DecodeHeader(dlf);
    return header.split != 0 && header.split <= DLF_MAX_SAMPLE_COUNT;
}

// A descriptor closed on every return.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

JournalWriter::~JournalWriter() { Close(); }

FileError JournalWriter::Create(const std::string& path, const JournalHeader& header) {
    Close();
    std::uint8_t bytes[JOURNAL_HEADER_SIZE] = {};
    std::memcpy(bytes, MAGIC, sizeof MAGIC);
    Put32(bytes + OFFSET_SPLIT, header.split);
    DataFileHeader settings = header.settings;
    settings.sampleCount = 0;
    std::uint8_t dlf[DLF_HEADER_SIZE];
    EncodeHeader(settings, dlf);
    std::memcpy(bytes + OFFSET_DLF_HEADER, dlf, DLF_HEADER_SIZE);
    Put32(bytes + OFFSET_HEADER_CRC, HeaderCrc(bytes));

    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (m_fd < 0) return FileError::Open;
    // Held while the file is written, so that recovery tells a live working file from a left one.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    m_path = path;
    m_samples = 0;
    m_contents = JournalContents{};
    m_contents.header = header;
    m_folderSynced = false;
    if (!WriteAllTo(m_fd, bytes, sizeof bytes)) return FileError::Write;
    m_contents.goodEnd = m_contents.length = JOURNAL_HEADER_SIZE;
    return FileError::None;
}

FileError JournalWriter::Append(const double* const channels[DLF_CHANNELS], std::uint32_t count) {
    if (m_fd < 0 || count == 0 || count > m_contents.header.split - m_samples) return FileError::Write;
    const std::size_t channelBytes = std::size_t{count} * sizeof(double);
    std::uint8_t head[JOURNAL_BLOCK_HEADER_SIZE];
    Put32(head, static_cast<std::uint32_t>(channelBytes * DLF_CHANNELS));
    Put32(head + 4, count);
    Put32(head + 8, m_samples);
    std::uint32_t crc = Crc(0, head, 12);
    for (int c = 0; c < DLF_CHANNELS; ++c) crc = Crc(crc, channels[c], channelBytes);
    Put32(head + 12, crc);

    iovec parts[1 + DLF_CHANNELS];
    parts[0] = {head, sizeof head};
    for (int c = 0; c < DLF_CHANNELS; ++c) parts[1 + c] = {const_cast<double*>(channels[c]), channelBytes};
    std::size_t left = sizeof head + channelBytes * DLF_CHANNELS;
    iovec* part = parts;
    int partsLeft = 1 + DLF_CHANNELS;
    while (left > 0) {
        const ssize_t wrote = ::writev(m_fd, part, partsLeft);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return FileError::Write;
        left -= static_cast<std::size_t>(wrote);
        for (auto done = static_cast<std::size_t>(wrote); done > 0;) {
            if (done >= part->iov_len) {
                done -= part->iov_len;
                ++part;
                --partsLeft;
            } else {
                part->iov_base = static_cast<std::uint8_t*>(part->iov_base) + done;
                part->iov_len -= done;
                done = 0;
            }
        }
    }
    if (m_contents.segments.empty()) m_contents.segments.push_back({m_contents.goodEnd, m_contents.goodEnd, 0, 0});
    m_samples += count;
    m_contents.samples = m_samples;
    m_contents.goodEnd = m_contents.length += sizeof head + channelBytes * DLF_CHANNELS;
    m_contents.segments.back().end = m_contents.goodEnd;
    m_contents.segments.back().samples = m_samples;
    return FileError::None;
}

FileError JournalWriter::Sync() {
    if (m_fd < 0 || ::fdatasync(m_fd) != 0) return FileError::Write;
    if (!m_folderSynced) {
        if (const int error = SyncFolder(ParentFolder(m_path)); error != 0) {
            errno = error;
            return FileError::Write;
        }
    }
    m_folderSynced = true;
    return FileError::None;
}

std::string JournalWriter::WhereNow() const {
    struct stat held {};
    if (m_fd < 0 || ::fstat(m_fd, &held) != 0 || held.st_nlink == 0) return "";
    struct stat named {};
    if (::lstat(m_path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) return m_path;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", m_fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target);
    return length > 0 && static_cast<std::size_t>(length) < sizeof target ? std::string(target, length) : "";
}

void JournalWriter::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

FileError ScanJournal(const std::string& path, bool verify, JournalContents& contents) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return FileError::Open;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return FileError::Read;
    if (!S_ISREG(info.st_mode)) return FileError::Open;
    contents = JournalContents{};
    contents.length = static_cast<std::uint64_t>(info.st_size);
    Reader reader(file.fd);
    std::uint8_t bytes[JOURNAL_HEADER_SIZE];
    if (contents.length < JOURNAL_HEADER_SIZE) return FileError::Format;
    if (!reader.Read(0, bytes, sizeof bytes)) return FileError::Read;
    if (!DecodeJournalHeader(bytes, contents.header)) return FileError::Format;
    const std::uint64_t split = contents.header.split;

    std::unique_ptr<std::uint8_t[]> payload;
    std::size_t payloadCapacity = 0;
    // A whole block with sound framing at `offset` whose checksum holds (when verified).
    const auto goodBlock = [&](std::uint64_t offset, BlockHeader& block, bool& good) {
        good = false;
        std::uint8_t head[JOURNAL_BLOCK_HEADER_SIZE];
        if (!reader.Read(offset, head, sizeof head)) return false;
        block = DecodeBlockHeader(head);
        const std::uint64_t payloadBytes = std::uint64_t{block.count} * JOURNAL_SAMPLE_BYTES;
        if (block.count == 0 || block.payloadBytes != payloadBytes || std::uint64_t{block.before} + block.count > split ||
            contents.length - offset - sizeof head < payloadBytes) {
            return true;
        }
        if (verify) {
            if (payloadCapacity < payloadBytes) {
                payload = std::make_unique_for_overwrite<std::uint8_t[]>(payloadBytes);
                payloadCapacity = payloadBytes;
            }
            if (!reader.Read(offset + sizeof head, payload.get(), payloadBytes)) return false;
            if (Crc(Crc(0, head, 12), payload.get(), payloadBytes) != block.crc) return true;
        }
        good = true;
        return true;
    };

    struct Placed {
        std::uint32_t before, count, crc;
    };
    std::vector<Placed> placed;
    std::uint64_t expected = 0;  // the sample position after the blocks placed
    std::uint64_t offset = JOURNAL_HEADER_SIZE;
    contents.goodEnd = offset;
    while (contents.length - offset >= JOURNAL_BLOCK_HEADER_SIZE) {
        BlockHeader block;
        bool good = false;
        if (!goodBlock(offset, block, good)) return FileError::Read;
        if (!good) {
            // Without checksums a search would take stray bytes for blocks.
            if (!verify) break;
            ++offset;
            continue;
        }
        const std::uint64_t size = JOURNAL_BLOCK_HEADER_SIZE + std::uint64_t{block.payloadBytes};
        if (block.before >= expected && (verify || block.before == expected)) {
            std::vector<JournalSegment>& segments = contents.segments;
            if (!segments.empty() && segments.back().end == offset && block.before == expected) {
                segments.back().end = offset + size;
                segments.back().samples += block.count;
            } else {
                segments.push_back({offset, offset + size, block.before, block.count});
            }
            expected = std::uint64_t{block.before} + block.count;
            contents.samples += block.count;
            placed.push_back({block.before, block.count, block.crc});
        } else if (!verify) {
            break;
        } else if (std::any_of(placed.begin(), placed.end(), [&](const Placed& p) {
                       return p.before == block.before && p.count == block.count && p.crc == block.crc;
                   })) {
            contents.repeatedSamples += block.count;
        } else {
            contents.straySamples += block.count;
        }
        offset += size;
        contents.goodEnd = offset;
    }

    // The torn tail: blocks whose framing still reads count whole; a block
    // cut short counts the whole samples that reached the disk.
    for (std::uint64_t at = contents.goodEnd; at < contents.length;) {
        const std::uint64_t rest = contents.length - at;
        if (rest <= JOURNAL_BLOCK_HEADER_SIZE) break;
        std::uint8_t head[JOURNAL_BLOCK_HEADER_SIZE];
        if (!reader.Read(at, head, sizeof head)) return FileError::Read;
        const BlockHeader block = DecodeBlockHeader(head);
        const std::uint64_t whole = (rest - JOURNAL_BLOCK_HEADER_SIZE) / JOURNAL_SAMPLE_BYTES;
        if (block.count == 0 || block.payloadBytes != std::uint64_t{block.count} * JOURNAL_SAMPLE_BYTES ||
            block.before != expected) {
            contents.droppedSamples += whole;
            break;
        }
        contents.droppedSamples += std::min<std::uint64_t>(whole, block.count);
        expected += block.count;
        at += JOURNAL_BLOCK_HEADER_SIZE + std::uint64_t{block.payloadBytes};
    }
    return FileError::None;
}

FileError ConvertJournalSegments(const std::string& path, std::span<const JournalSegment> segments,
                                 const DataFileHeader& header, const std::string& dlfPath) {
    std::uint64_t samples = 0;
    for (const JournalSegment& segment : segments) samples += segment.samples;
    if (samples == 0 || samples != header.sampleCount) return FileError::Format;
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return FileError::Open;
    Reader reader(file.fd);
    std::unique_ptr<std::uint8_t[]> part;
    std::size_t partCapacity = 0;
    const auto source = [&](int channel, const ChannelBlockWriter& write) {
        // The blocks of each segment follow each other: their framing was checked by the scan.
        for (const JournalSegment& segment : segments) {
            for (std::uint64_t offset = segment.offset; offset < segment.end;) {
                std::uint8_t head[JOURNAL_BLOCK_HEADER_SIZE];
                if (!reader.Read(offset, head, sizeof head)) return FileError::Read;
                const BlockHeader block = DecodeBlockHeader(head);
                const std::size_t channelBytes = std::size_t{block.count} * sizeof(double);
                if (partCapacity < channelBytes) {
                    part = std::make_unique_for_overwrite<std::uint8_t[]>(channelBytes);
                    partCapacity = channelBytes;
                }
                const std::uint64_t at =
                    offset + sizeof head + std::uint64_t{channelBytes} * static_cast<unsigned>(channel);
                if (!reader.Read(at, part.get(), channelBytes)) return FileError::Read;
                if (!write(part.get(), channelBytes)) return FileError::Write;
                offset += sizeof head + std::uint64_t{block.payloadBytes};
            }
        }
        return FileError::None;
    };
    return SaveDataFileFrom(dlfPath, header, source, Placement::NewName);
}

FileError ConvertJournal(const std::string& path, const JournalContents& contents, const std::string& dlfPath) {
    if (contents.samples == 0 || contents.samples > DLF_MAX_SAMPLE_COUNT) return FileError::Format;
    DataFileHeader header = contents.header.settings;
    header.sampleCount = static_cast<std::uint32_t>(contents.samples);
    return ConvertJournalSegments(path, contents.segments, header, dlfPath);
}

bool JournalInUse(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

FileError ReadJournalHeader(int fd, std::uint64_t length, JournalHeader& header) {
    std::uint8_t bytes[JOURNAL_HEADER_SIZE];
    if (length < JOURNAL_HEADER_SIZE) return FileError::Format;
    if (!ReadAllAt(fd, 0, bytes, sizeof bytes)) return FileError::Read;
    return DecodeJournalHeader(bytes, header) ? FileError::None : FileError::Format;
}

FileError FollowJournal(int fd, std::uint64_t length, std::uint32_t split, std::uint64_t& offset,
                        std::uint32_t& expected, std::vector<JournalBlock>& blocks) {
    std::vector<std::uint8_t> payload;
    while (length - offset >= JOURNAL_BLOCK_HEADER_SIZE) {
        std::uint8_t head[JOURNAL_BLOCK_HEADER_SIZE];
        if (!ReadAllAt(fd, offset, head, sizeof head)) return FileError::Read;
        const BlockHeader block = DecodeBlockHeader(head);
        const std::uint64_t payloadBytes = std::uint64_t{block.count} * JOURNAL_SAMPLE_BYTES;
        if (block.count == 0 || block.payloadBytes != payloadBytes || block.before != expected ||
            std::uint64_t{block.before} + block.count > split ||
            length - offset - sizeof head < payloadBytes) {
            break;
        }
        payload.resize(payloadBytes);
        if (!ReadAllAt(fd, offset + sizeof head, payload.data(), payloadBytes)) return FileError::Read;
        if (Crc(Crc(0, head, 12), payload.data(), payloadBytes) != block.crc) break;
        blocks.push_back({offset, block.before, block.count});
        offset += sizeof head + payloadBytes;
        expected += block.count;
    }
    return FileError::None;
}
