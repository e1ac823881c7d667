#include "files/series_reader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset) { return ReadAllAt(fd, offset, data, size); }

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ull;
constexpr std::uint64_t FNV_PRIME = 1099511628211ull;

// FNV-1a taken eight bytes at a time on four independent lanes, with a
// shift so that every bit of a word reaches the low ones: many times faster
// than byte by byte, which matters when thousands of files are opened.
std::uint64_t Hash(std::uint64_t hash, const unsigned char* data, std::size_t size) {
    const auto mix = [](std::uint64_t h, const unsigned char* at) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        h = (h ^ word) * FNV_PRIME;
        return h ^ (h >> 29);
    };
    std::uint64_t lanes[4] = {hash, hash ^ 1, hash ^ 2, hash ^ 3};
    for (; size >= 4 * sizeof(std::uint64_t); data += 4 * sizeof(std::uint64_t), size -= 4 * sizeof(std::uint64_t)) {
        for (int i = 0; i < 4; ++i) {
            lanes[i] = mix(lanes[i], data + i * sizeof(std::uint64_t));
        }
    }
    for (const std::uint64_t lane : lanes) {
        hash = (hash ^ lane) * FNV_PRIME;
    }
    for (; size >= sizeof(std::uint64_t); data += sizeof(std::uint64_t), size -= sizeof(std::uint64_t)) {
        hash = mix(hash, data);
    }
    for (; size > 0; ++data, --size) {
        hash = (hash ^ *data) * FNV_PRIME;
    }
    return hash;
}

std::uint64_t ChannelOffset(const DataFileHeader& header, int channel) {
    return DLF_HEADER_SIZE + std::uint64_t{header.sampleCount} * sizeof(double) * channel;
}


constexpr std::size_t SAMPLE_BLOCK = 4096, SAMPLE_BLOCKS = 8;

// A checksum of the header and eight blocks spread over the samples, the
// first one following the header, the last one ending the samples; all the
// samples when they are no more than the eight blocks. `buffer` holds the
// first `have` bytes of the file and room for DLF_HEADER_SIZE + all eight
// blocks. 0 when they cannot be read.
std::uint64_t SampleContent(int fd, const DataFileHeader& header, unsigned char* buffer, std::size_t have) {
    const std::uint64_t body = ChannelOffset(header, DLF_CHANNELS) - DLF_HEADER_SIZE;
    if (body <= SAMPLE_BLOCK * SAMPLE_BLOCKS) {
        const std::size_t size = DLF_HEADER_SIZE + static_cast<std::size_t>(body);
        if (have < size && !ReadAt(fd, buffer + have, size - have, have)) {
            return 0;
        }
        return Hash(FNV_OFFSET, buffer, size);
    }
    if (have < DLF_HEADER_SIZE + SAMPLE_BLOCK &&
        !ReadAt(fd, buffer + have, DLF_HEADER_SIZE + SAMPLE_BLOCK - have, have)) {
        return 0;
    }
    std::uint64_t hash = Hash(FNV_OFFSET, buffer, DLF_HEADER_SIZE + SAMPLE_BLOCK);
    for (std::uint64_t k = 1; k < SAMPLE_BLOCKS; ++k) {
        const std::uint64_t offset = DLF_HEADER_SIZE + (body - SAMPLE_BLOCK) * k / (SAMPLE_BLOCKS - 1);
        if (!ReadAt(fd, buffer, SAMPLE_BLOCK, offset)) {
            return 0;
        }
        hash = Hash(hash, buffer, SAMPLE_BLOCK);
    }
    return hash;
}

// The soft limit on open files raised to the hard one, as a program that
// holds many files does: the soft limit stays low by default only for
// select(), which never sees this reader's descriptors (MoveAboveSelect).
// Then a quarter of it, leaving the rest to everything else.
std::size_t DefaultMaxOpen() {
    constexpr std::size_t LEAST = 4, MOST = 16384;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return LEAST;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    if (limit.rlim_cur == RLIM_INFINITY) {
        return MOST;
    }
    return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur / 4), LEAST, MOST);
}

// A series of more files than this has its descriptors moved above select()'s.
constexpr std::size_t MANY_FILES = FD_SETSIZE / 4;

// Whether the limit on open files leaves room above FD_SETSIZE for a series' descriptors.
bool RoomAboveSelect() {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > 2 * FD_SETSIZE;
}

// A descriptor moved to FD_SETSIZE or above, so that holding thousands of
// files never pushes another part of the process (a driver, a library) past
// what select() can watch. Only for a series of many files: growing a
// threaded process's descriptor table past FD_SETSIZE waits some
// milliseconds, as much as a whole `vosctl info` of a short series.
int MoveAboveSelect(int fd) {
    if (fd < 0 || fd >= FD_SETSIZE) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE);
    if (moved < 0) {
        return fd;
    }
    ::close(fd);
    return moved;
}

int OpenForReading(const char* path, bool aboveSelect, int flags = 0) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | flags);
    } while (fd < 0 && errno == EINTR);
    return aboveSelect ? MoveAboveSelect(fd) : fd;
}

// `path` made absolute against `cwd` (taken once for the whole series) and
// without "." or ".." parts; an absolute name that has none is taken as it is.
std::string AbsolutePath(const std::string& path, std::string& cwd) {
    const bool plain = !path.empty() && path[0] == '/' && path.find("//") == std::string::npos &&
                       path.find("/./") == std::string::npos && path.find("/../") == std::string::npos &&
                       !path.ends_with("/.") && !path.ends_with("/..");
    if (plain) {
        return path;
    }
    std::filesystem::path absolute(path);
    if (!absolute.is_absolute()) {
        if (cwd.empty()) {
            std::error_code ec;
            cwd = std::filesystem::current_path(ec).string();
            if (ec) {
                return path;
            }
        }
        absolute = std::filesystem::path(cwd) / absolute;
    }
    return absolute.lexically_normal().string();
}

int LockShared(int fd, int operation) {
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

FileIdentity FileIdentityOf(std::string path, const struct stat& info) {
    FileIdentity identity;
    identity.path = std::move(path);
    identity.size = static_cast<std::uint64_t>(info.st_size);
    identity.mtimeNs = Nanoseconds(info.st_mtim);
    identity.ctimeNs = Nanoseconds(info.st_ctim);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    return identity;
}

// A file replaced (inode), rewritten in place (change time, even with size
// and modification time restored), or grown or shrunk is another file.
bool SameFile(const struct stat& info, const FileIdentity& identity) {
    return FileIdentityOf(identity.path, info) == identity;
}

// The descriptors held open, most recently used first. A descriptor taken
// for a read stays open until that read is done, even when it was dropped
// from the list meanwhile.
class SeriesReader::Descriptors {
public:
    struct Held {
        int fd;
        std::atomic<std::size_t>& count;
        Held(int descriptor, std::atomic<std::size_t>& open) : fd(descriptor), count(open) { ++count; }
        ~Held() {
            ::close(fd);
            --count;
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    };

    explicit Descriptors(std::size_t maxOpen) : m_max(std::max<std::size_t>(maxOpen, 1)) {}

    // The descriptor of file `index`, opened again and checked against
    // `identity` when it is not held; null when that fails.
    std::shared_ptr<Held> Get(std::size_t index, const FileIdentity& identity) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (const auto found = m_where.find(index); found != m_where.end()) {
                m_recent.splice(m_recent.begin(), m_recent, found->second);
                return found->second->second;
            }
        }
        const int fd = OpenForReading(identity.path.c_str(), m_aboveSelect, O_NONBLOCK);
        if (fd < 0) {
            return nullptr;
        }
        auto held = std::make_shared<Held>(fd, m_count);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !SameFile(info, identity)) {
            return nullptr;
        }
        Add(index, held);
        return held;
    }

    void Add(std::size_t index, const std::shared_ptr<Held>& held) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_where.count(index) != 0) {
            return;  // another thread opened it meanwhile; this one closes after its read
        }
        m_recent.emplace_front(index, held);
        m_where[index] = m_recent.begin();
        while (m_recent.size() > m_max) {
            m_where.erase(m_recent.back().first);
            m_recent.pop_back();
        }
    }

    // Empties the list for a series of `files` files.
    void Clear(std::size_t files = 0) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_where.clear();
        m_recent.clear();
        m_where.reserve(std::min(files, m_max));
        m_aboveSelect = files > MANY_FILES && RoomAboveSelect();
    }
    bool AboveSelect() const { return m_aboveSelect; }

    std::size_t Count() const { return m_count.load(); }
    std::atomic<std::size_t>& Counter() { return m_count; }

private:
    using Entry = std::pair<std::size_t, std::shared_ptr<Held>>;
    std::mutex m_lock;
    std::list<Entry> m_recent;
    std::unordered_map<std::size_t, std::list<Entry>::iterator> m_where;
    std::size_t m_max;
    std::atomic<bool> m_aboveSelect{false};
    std::atomic<std::size_t> m_count{0};
};

SeriesReader::SeriesReader(std::size_t maxOpen)
    : m_open(std::make_unique<Descriptors>(maxOpen != 0 ? maxOpen : DefaultMaxOpen())) {}

SeriesReader::~SeriesReader() = default;

std::size_t SeriesReader::OpenFiles() const { return m_open->Count(); }

// Opens and checks one file of a series as Open checks a file, with one
// open: its type and length, the header under a shared lock (a recorder
// writing it holds an exclusive one) and the content sample, read with the
// header's first block. The lock is given up afterwards and the descriptor
// kept for reading, so a recorder is never blocked by a reader.
FileError SeriesReader::OpenFile(const std::string& path, File& f, int& fd, unsigned char* buffer) const {
    // O_NONBLOCK: the open never waits for the other end of a FIFO, which is then refused.
    fd = OpenForReading(path.c_str(), false, O_NONBLOCK);
    if (fd < 0) {
        return FileError::Open;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return FileError::Read;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
        return FileError::Open;
    }
    if (LockShared(fd, LOCK_SH | LOCK_NB) != 0) {
        return FileError::Open;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size < DLF_HEADER_SIZE) {
        return FileError::Format;
    }
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(size, DLF_HEADER_SIZE + SAMPLE_BLOCK));
    if (!ReadAt(fd, buffer, have, 0)) {
        return FileError::Read;
    }
    std::uint8_t bytes[DLF_HEADER_SIZE];
    std::memcpy(bytes, buffer, sizeof bytes);
    f.header = DecodeHeader(bytes);
    if (const FileError e = CheckHeader(f.header, size); e != FileError::None) {
        return e;
    }
    f.identity = FileIdentityOf(std::move(f.identity.path), info);
    // Taken now, while the file is open: a cache check of thousands of
    // files then opens none of them again.
    f.contentSample = SampleContent(fd, f.header, buffer, have);
    if (LockShared(fd, LOCK_UN) != 0) {
        return FileError::Read;
    }
    return FileError::None;
}

FileError SeriesReader::Open(const std::vector<std::string>& paths) {
    m_open->Clear(paths.size());
    m_files.clear();
    m_count = 0;
    m_check = {};
    std::vector<File> files(paths.size());
    std::vector<DataFileHeader> headers(paths.size());
    std::vector<unsigned char> buffer(DLF_HEADER_SIZE + SAMPLE_BLOCK * SAMPLE_BLOCKS);
    std::string cwd;
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        File& f = files[i];
        int fd = -1;
        const FileError e = OpenFile(paths[i], f, fd, buffer.data());
        if (e != FileError::None) {
            // errno names the cause for the caller's message.
            const int saved = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            m_open->Clear();
            errno = saved;
            return e;
        }
        f.identity.path = AbsolutePath(paths[i], cwd);
        f.first = count;
        count += f.header.sampleCount;
        headers[i] = f.header;
        m_open->Add(i, std::make_shared<Descriptors::Held>(m_open->AboveSelect() ? MoveAboveSelect(fd) : fd,
                                                           m_open->Counter()));
    }
    // Files that do not belong together are refused, and none stays open.
    if (const SeriesCheck check = CheckSeries(headers); !check) {
        m_open->Clear();
        m_check = check;
        return FileError::Format;
    }
    m_files = std::move(files);
    m_count = count;
    return FileError::None;
}

bool SeriesReader::ReadFile(std::size_t index, void* data, std::size_t size, std::uint64_t offset) const {
    const auto held = m_open->Get(index, m_files[index].identity);
    return held != nullptr && ReadAt(held->fd, data, size, offset);
}

std::size_t SeriesReader::FileOf(std::uint64_t sample) const {
    const auto after = std::upper_bound(m_files.begin(), m_files.end(), sample,
                                        [](std::uint64_t s, const File& f) { return s < f.first; });
    return static_cast<std::size_t>(after - m_files.begin()) - 1;
}

std::optional<std::int64_t> SeriesReader::SampleTimeMicros(std::uint64_t sample) const {
    const std::optional<RecordingStamp> stamp = StampFrom(sample);
    return stamp ? std::optional(stamp->startMicros) : std::nullopt;
}

std::optional<RecordingStamp> SeriesReader::StampFrom(std::uint64_t sample) const {
    const File& f = m_files[FileOf(sample)];
    if (!f.header.stamp) {
        return std::nullopt;
    }
    // Each file counts from its own start.
    return StampFromSample(*f.header.stamp, f.header.clockDivider, sample - f.first);
}

bool SeriesReader::Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const {
    if (channel < 0 || channel >= DLF_CHANNELS || first + count > m_count) {
        return false;
    }
    while (count > 0) {
        const std::size_t index = FileOf(first);
        const File& f = m_files[index];
        const std::uint64_t local = first - f.first;
        const std::uint64_t n = std::min<std::uint64_t>(count, f.header.sampleCount - local);
        if (!ReadFile(index, out, n * sizeof(double), ChannelOffset(f.header, channel) + local * sizeof(double))) {
            return false;
        }
        out += n;
        first += n;
        count -= n;
    }
    return true;
}

std::uint64_t SeriesReader::ContentSample(std::size_t index) const { return m_files[index].contentSample; }
