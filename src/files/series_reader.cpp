#include "files/series_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

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

std::uint64_t Fnv1a(std::uint64_t hash, const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * FNV_PRIME;
    }
    return hash;
}

std::uint64_t ChannelOffset(const DataFileHeader& header, int channel) {
    return DLF_HEADER_SIZE + std::uint64_t{header.sampleCount} * sizeof(double) * channel;
}

// Reads and checks the header as Open does, under the file's lock.
FileError ReadHeader(const std::string& path, DataFileHeader& header) {
    LockedFile file;
    if (!file.Open(path, LockedFile::Mode::Read)) {
        return FileError::Open;
    }
    std::uint64_t length = 0;
    std::uint8_t bytes[DLF_HEADER_SIZE];
    if (!file.Length(length)) {
        return FileError::Read;
    }
    if (length < DLF_HEADER_SIZE) {
        return FileError::Format;
    }
    if (!file.ReadAll(bytes, sizeof bytes)) {
        return FileError::Read;
    }
    header = DecodeHeader(bytes);
    return CheckHeader(header, length);
}

}  // namespace

SeriesReader::~SeriesReader() { CloseAll(); }

void SeriesReader::CloseAll() {
    for (File& f : m_files) {
        if (f.map != nullptr) {
            ::munmap(const_cast<unsigned char*>(f.map), f.mapLength);
        }
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    m_files.clear();
    m_count = 0;
}

FileError SeriesReader::Open(const std::vector<std::string>& paths) {
    CloseAll();
    std::uint64_t count = 0;
    for (const std::string& path : paths) {
        File f;
        if (const FileError e = ReadHeader(path, f.header); e != FileError::None) {
            CloseAll();
            return e;
        }
        // The lock is only held while the header is checked; the mapping and
        // a descriptor of its own outlive it, so a recorder is never blocked.
        f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        f.mapLength = static_cast<std::size_t>(ChannelOffset(f.header, DLF_CHANNELS));
        void* map = f.fd < 0 || ::fstat(f.fd, &info) != 0 ||
                            static_cast<std::uint64_t>(info.st_size) < f.mapLength
                        ? MAP_FAILED
                        : ::mmap(nullptr, f.mapLength, PROT_READ, MAP_SHARED, f.fd, 0);
        if (map == MAP_FAILED) {
            if (f.fd >= 0) {
                ::close(f.fd);
            }
            CloseAll();
            return FileError::Read;
        }
        // A redraw reads a few samples at each column's edges: without this
        // every read would map its neighbourhood too, and the mapped pages of
        // a long series would soon add up to gigabytes of resident memory.
        ::madvise(map, f.mapLength, MADV_RANDOM);
        f.map = static_cast<const unsigned char*>(map);
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
        f.identity = {ec ? path : absolute.lexically_normal().string(),
                      static_cast<std::uint64_t>(info.st_size),
                      Nanoseconds(info.st_mtim),
                      Nanoseconds(info.st_ctim),
                      static_cast<std::uint64_t>(info.st_ino),
                      static_cast<std::uint64_t>(info.st_dev)};
        f.first = count;
        count += f.header.sampleCount;
        m_files.push_back(std::move(f));
    }
    m_count = count;
    return FileError::None;
}

std::size_t SeriesReader::FileOf(std::uint64_t sample) const {
    const auto after = std::upper_bound(m_files.begin(), m_files.end(), sample,
                                        [](std::uint64_t s, const File& f) { return s < f.first; });
    return static_cast<std::size_t>(after - m_files.begin()) - 1;
}

SeriesReader::Run SeriesReader::RunAt(int channel, std::uint64_t sample) const {
    if (sample >= m_count || channel < 0 || channel >= DLF_CHANNELS) {
        return {};
    }
    const File& f = m_files[FileOf(sample)];
    const std::uint64_t local = sample - f.first;
    const auto* base = f.map + ChannelOffset(f.header, channel);
    return {reinterpret_cast<const double*>(base) + local, f.header.sampleCount - local};
}

bool SeriesReader::Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const {
    if (channel < 0 || channel >= DLF_CHANNELS || first + count > m_count) {
        return false;
    }
    while (count > 0) {
        const File& f = m_files[FileOf(first)];
        const std::uint64_t local = first - f.first;
        const std::uint64_t n = std::min<std::uint64_t>(count, f.header.sampleCount - local);
        if (!ReadAt(f.fd, out, n * sizeof(double),
                    ChannelOffset(f.header, channel) + local * sizeof(double))) {
            return false;
        }
        out += n;
        first += n;
        count -= n;
    }
    return true;
}

std::uint64_t SeriesReader::ContentSample(std::size_t index) const {
    const File& f = m_files[index];
    std::uint64_t hash = Fnv1a(FNV_OFFSET, f.map, DLF_HEADER_SIZE);
    // Eight blocks spread over the samples, the last one ending the file.
    constexpr std::size_t BLOCK = 4096;
    const std::size_t body = f.mapLength - DLF_HEADER_SIZE;
    for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t size = std::min(BLOCK, body);
        const std::size_t offset = DLF_HEADER_SIZE + (body - size) * k / 7;
        hash = Fnv1a(hash, f.map + offset, size);
    }
    return hash;
}
