#include "files/series_reader.h"

#include <fcntl.h>
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

}  // namespace

SeriesReader::~SeriesReader() { CloseAll(); }

void SeriesReader::CloseAll() {
    for (File& f : m_files) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    m_files.clear();
    m_count = 0;
}

FileError SeriesReader::Open(const std::vector<std::string>& paths) {
    CloseAll();
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
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        File f;
        f.header = headers[i];
        // The header is checked under the file's lock; the descriptor read
        // from afterwards holds none, so a recorder is never blocked.
        f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (f.fd < 0 || ::fstat(f.fd, &info) != 0 ||
            static_cast<std::uint64_t>(info.st_size) < ChannelOffset(f.header, DLF_CHANNELS)) {
            if (f.fd >= 0) {
                ::close(f.fd);
            }
            CloseAll();
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
    unsigned char block[4096];
    if (!ReadAt(f.fd, block, DLF_HEADER_SIZE, 0)) {
        return 0;
    }
    std::uint64_t hash = Fnv1a(FNV_OFFSET, block, DLF_HEADER_SIZE);
    // Eight blocks spread over the samples, the last one ending them.
    const std::uint64_t body = ChannelOffset(f.header, DLF_CHANNELS) - DLF_HEADER_SIZE;
    for (std::uint64_t k = 0; k < 8; ++k) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, body));
        const std::uint64_t offset = DLF_HEADER_SIZE + (body - size) * k / 7;
        if (!ReadAt(f.fd, block, size, offset)) {
            return 0;
        }
        hash = Fnv1a(hash, block, size);
    }
    return hash;
}
