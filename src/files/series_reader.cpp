#include "files/series_reader.h"

#include <fcntl.h>
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

bool ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

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

// Same file as found by Open: a file replaced (inode), rewritten in place
// (change time, even with size and modification time restored), or grown or
// shrunk since is not read as the series' data.
bool SameFile(const struct stat& info, const FileIdentity& identity) {
    return static_cast<std::uint64_t>(info.st_dev) == identity.device &&
           static_cast<std::uint64_t>(info.st_ino) == identity.inode &&
           static_cast<std::uint64_t>(info.st_size) == identity.size &&
           Nanoseconds(info.st_mtim) == identity.mtimeNs && Nanoseconds(info.st_ctim) == identity.ctimeNs;
}

// A checksum of the header and eight blocks spread over the samples, the
// first one following the header (read with it), the last one ending the
// samples; all the samples when they are no more than the eight blocks. 0
// when they cannot be read.
std::uint64_t SampleContent(int fd, const DataFileHeader& header) {
    constexpr std::size_t BLOCK = 4096, BLOCKS = 8;
    thread_local std::vector<unsigned char> storage(DLF_HEADER_SIZE + BLOCK * BLOCKS);
    unsigned char* const buffer = storage.data();
    const std::uint64_t body = ChannelOffset(header, DLF_CHANNELS) - DLF_HEADER_SIZE;
    if (body <= BLOCK * BLOCKS) {
        const std::size_t size = DLF_HEADER_SIZE + static_cast<std::size_t>(body);
        return ReadAt(fd, buffer, size, 0) ? Hash(FNV_OFFSET, buffer, size) : 0;
    }
    if (!ReadAt(fd, buffer, DLF_HEADER_SIZE + BLOCK, 0)) {
        return 0;
    }
    std::uint64_t hash = Hash(FNV_OFFSET, buffer, DLF_HEADER_SIZE + BLOCK);
    for (std::uint64_t k = 1; k < BLOCKS; ++k) {
        const std::uint64_t offset = DLF_HEADER_SIZE + (body - BLOCK) * k / (BLOCKS - 1);
        if (!ReadAt(fd, buffer, BLOCK, offset)) {
            return 0;
        }
        hash = Hash(hash, buffer, BLOCK);
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

// A descriptor moved to FD_SETSIZE or above when the limit leaves room, so
// that holding thousands of files never pushes another part of the process
// (a driver, a library) past what select() can watch. Only for a series of
// many files: growing a threaded process's descriptor table past FD_SETSIZE
// waits some milliseconds, as much as a whole `vosctl info` of a short series.
int MoveAboveSelect(int fd) {
    struct rlimit limit {};
    if (fd < 0 || fd >= FD_SETSIZE || ::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur <= 2 * FD_SETSIZE) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE);
    if (moved < 0) {
        return fd;
    }
    ::close(fd);
    return moved;
}

int OpenForReading(const std::string& path, bool aboveSelect) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return aboveSelect ? MoveAboveSelect(fd) : fd;
}

}  // namespace

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
        const int fd = OpenForReading(identity.path, m_aboveSelect);
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
        m_aboveSelect = files > MANY_FILES;
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

FileError SeriesReader::Open(const std::vector<std::string>& paths) {
    m_open->Clear(paths.size());
    m_files.clear();
    m_count = 0;
    m_check = {};
    // Every header first: files that do not belong together are refused
    // before any of them is held open.
    std::vector<DataFileHeader> headers(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (const FileError e = ReadDataFileHeader(paths[i], headers[i]); e != FileError::None) {
            return e;
        }
    }
    if (const SeriesCheck check = CheckSeries(headers); !check) {
        m_check = check;
        return FileError::Format;
    }
    std::vector<File> files;
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        File f;
        f.header = headers[i];
        // The header is checked under the file's lock; the descriptor read
        // from afterwards holds none, so a recorder is never blocked.
        const int fd = OpenForReading(path, m_open->AboveSelect());
        if (fd < 0) {
            m_open->Clear();
            return FileError::Read;
        }
        auto held = std::make_shared<Descriptors::Held>(fd, m_open->Counter());
        struct stat info {};
        if (::fstat(fd, &info) != 0 ||
            static_cast<std::uint64_t>(info.st_size) < ChannelOffset(f.header, DLF_CHANNELS)) {
            m_open->Clear();
            return FileError::Read;
        }
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
        f.identity = {ec ? path : absolute.lexically_normal().string(),
                      static_cast<std::uint64_t>(info.st_size),
                      Nanoseconds(info.st_mtim),
                      Nanoseconds(info.st_ctim),
                      static_cast<std::uint64_t>(info.st_ino),
                      static_cast<std::uint64_t>(info.st_dev)};
        // Taken now, while the file is open: a cache check of thousands of
        // files then opens none of them again.
        f.contentSample = SampleContent(fd, f.header);
        f.first = count;
        count += f.header.sampleCount;
        files.push_back(std::move(f));
        m_open->Add(i, held);
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
    const File& f = m_files[FileOf(sample)];
    if (!f.header.stamp) {
        return std::nullopt;
    }
    // Each file counts from its own start.
    return StampSampleMicros(*f.header.stamp, f.header.clockDivider, sample - f.first);
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
