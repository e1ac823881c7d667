#include "display/summary_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "files/file.h"

namespace {

// The third layout: an entry ends in a checksum over everything before it.
constexpr char MAGIC[8] = {'V', 'O', 'S', 'S', 'U', 'M', '0', '3'};
constexpr std::uint64_t DEFAULT_LIMIT = std::uint64_t{1} << 30;
constexpr const char* SUFFIX = ".sum";

// What the entry's data depends on: the shape, and for each file its name,
// size, modification time, inode, device and a sample of its content. The
// change time is left out, so a chmod keeps the entry.
std::string IdentityBytes(const SeriesSource& series, const SummaryShape& shape) {
    std::string out(MAGIC, sizeof MAGIC);
    const auto put = [&](const auto& value) {
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    put(shape.baseCell);
    put(shape.factor);
    put(shape.levels);
    const SeriesReader& r = series.Reader();
    put(static_cast<std::uint64_t>(r.FileCount()));
    for (std::size_t i = 0; i < r.FileCount(); ++i) {
        const FileIdentity& id = r.Identity(i);
        put(static_cast<std::uint64_t>(id.path.size()));
        out += id.path;
        put(id.size);
        put(id.mtimeNs);
        put(id.inode);
        put(id.device);
        put(r.ContentSample(i));
    }
    return out;
}

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return hash;
}

// A checksum taken eight bytes at a time, so that a large entry costs little
// beside reading it. Any change of stored bytes changes it.
class Checksum {
public:
    void Add(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        while (size > 0) {
            if (m_pending == 0 && size >= sizeof(std::uint64_t)) {
                std::uint64_t word;
                std::memcpy(&word, p, sizeof word);
                Mix(word);
                p += sizeof word;
                size -= sizeof word;
                continue;
            }
            m_bytes[m_pending++] = *p++;
            --size;
            if (m_pending == sizeof m_bytes) {
                std::uint64_t word;
                std::memcpy(&word, m_bytes, sizeof word);
                Mix(word);
                m_pending = 0;
            }
        }
    }
    std::uint64_t Value() const {
        std::uint64_t hash = m_hash;
        for (std::size_t i = 0; i < m_pending; ++i) {
            hash = (hash ^ m_bytes[i]) * PRIME;
        }
        return hash ^ m_length;
    }

private:
    static constexpr std::uint64_t PRIME = 1099511628211ull;
    void Mix(std::uint64_t word) {
        m_hash = (m_hash ^ word) * PRIME;
        m_hash ^= m_hash >> 29;
        m_length += sizeof word;
    }
    std::uint64_t m_hash = 14695981039346656037ull;
    std::uint64_t m_length = 0;
    unsigned char m_bytes[8] = {};
    std::size_t m_pending = 0;
};

std::string CachePath(const std::string& folder, const std::string& identity) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(Fnv1a(identity)), SUFFIX);
    return (std::filesystem::path(folder) / name).string();
}

// Reads a whole entry; "" when it cannot be read.
std::string ReadEntry(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Takes values from an entry's bytes in order; once one is missing every
// later one fails too.
class EntryReader {
public:
    explicit EntryReader(std::string_view bytes) : m_bytes(bytes) {}
    bool Take(void* value, std::size_t size) {
        if (size == 0) return true;  // an empty array's data() may be null
        if (m_bytes.size() - m_at < size) {
            m_at = m_bytes.size();
            return false;
        }
        std::memcpy(value, m_bytes.data() + m_at, size);
        m_at += size;
        return true;
    }
    template <class T>
    bool Get(T& value) {
        return Take(&value, sizeof value);
    }
    bool AtEnd() const { return m_at == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

// Removes the entries not used for longest (by modification time, which
// LoadSummaries sets: a read alone may not change the access time) until those left take `limit` bytes at most, never `keep`. Entries of
// other layouts are removed first.
void Trim(const std::string& folder, std::uint64_t limit, const std::string& keep) {
    struct Entry {
        std::filesystem::path path;
        std::uint64_t size;
        std::int64_t used;
    };
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        struct stat info {};
        if (path.extension() != SUFFIX || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        char magic[sizeof MAGIC] = {};
        std::ifstream(path, std::ios::binary).read(magic, sizeof magic);
        const bool current = std::memcmp(magic, MAGIC, sizeof MAGIC) == 0;
        const std::int64_t used =
            current ? std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec : INT64_MIN;
        entries.push_back({path, static_cast<std::uint64_t>(info.st_size), used});
        total += static_cast<std::uint64_t>(info.st_size);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    for (const Entry& entry : entries) {
        if (total <= limit && entry.used != INT64_MIN) {
            break;
        }
        if (entry.path != keep && std::filesystem::remove(entry.path, ec)) {
            total -= entry.size;
        }
    }
}

}  // namespace

std::string SummaryCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::filesystem::path base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".cache";
    } else {
        return "";
    }
    return (base / "vosviewer" / "summaries").string();
}

std::string SummaryCachePath(const std::string& folder, const SeriesSource& series) {
    return CachePath(folder, IdentityBytes(series, SummaryShape{}));
}

std::uint64_t SummaryCacheLimit() {
    const char* text = std::getenv("VOS_SUMMARY_CACHE_MAX");
    if (text == nullptr || text[0] < '0' || text[0] > '9') {
        return DEFAULT_LIMIT;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text, &end, 10);
    int shift = 0;
    switch (*end) {
    case 'K': shift = 10; ++end; break;
    case 'M': shift = 20; ++end; break;
    case 'G': shift = 30; ++end; break;
    case 'T': shift = 40; ++end; break;
    default: break;
    }
    if (errno != 0 || *end != '\0' || number > (UINT64_MAX >> shift)) {
        return DEFAULT_LIMIT;
    }
    return std::uint64_t{number} << shift;
}

bool LoadSummaries(const std::string& folder, const SeriesSource& series,
                   const SummaryShape& shape, SummaryPyramid& out) {
    if (folder.empty()) {
        return false;
    }
    const std::string identity = IdentityBytes(series, shape);
    const std::string path = CachePath(folder, identity);
    const std::string bytes = ReadEntry(path);
    std::uint64_t stored = 0;
    if (bytes.size() < identity.size() + sizeof stored || bytes.compare(0, identity.size(), identity) != 0) {
        return false;
    }
    const std::size_t body = bytes.size() - sizeof stored;
    Checksum checksum;
    checksum.Add(bytes.data(), body);
    std::memcpy(&stored, bytes.data() + body, sizeof stored);
    if (stored != checksum.Value()) {
        return false;
    }
    EntryReader in(std::string_view(bytes).substr(identity.size(), body - identity.size()));
    SummaryPyramid p;
    std::uint32_t levels = 0;
    if (!in.Get(p.count) || p.count != series.Count() || !in.Get(levels) || levels != shape.levels) {
        return false;
    }
    p.shape = shape;
    const auto getStatistics = [&](ChannelStatistics* statistics) {
        for (int ch = 0; ch < 4; ++ch) {
            ChannelStatistics& s = statistics[ch];
            std::uint8_t valid = 0;
            if (!in.Get(valid) || !in.Get(s.maximum) || !in.Get(s.minimum)) {
                return false;
            }
            s.valid = valid != 0;
        }
        return true;
    };
    std::uint64_t parts = 0;
    if (!getStatistics(p.statistics) || !in.Get(parts) || parts > p.count) {
        return false;
    }
    p.partStatistics.resize(parts);
    for (auto& part : p.partStatistics) {
        if (!getStatistics(part.data())) {
            return false;
        }
    }
    std::uint64_t cell = shape.baseCell;
    for (std::uint32_t l = 0; l < levels; ++l, cell *= shape.factor) {
        SummaryPyramid::Level level;
        level.cell = static_cast<std::uint32_t>(cell);
        for (int ch = 0; ch < 4; ++ch) {
            for (std::vector<double>* v : {&level.low[ch], &level.high[ch]}) {
                v->resize(p.count / cell);
                if (!in.Take(v->data(), v->size() * sizeof(double))) {
                    return false;
                }
            }
        }
        p.levels.push_back(std::move(level));
    }
    if (!in.AtEnd()) {
        return false;
    }
    // The modification time tells which entries were used last, when the cache is trimmed.
    const timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    out = std::move(p);
    return true;
}

bool StoreSummaries(const std::string& folder, const SeriesSource& series,
                    const SummaryPyramid& summaries, std::string* problem) {
    const auto fail = [&](const std::string& what, int error) {
        if (problem != nullptr) {
            *problem = what + ": " + std::strerror(error);
        }
        return false;
    };
    if (folder.empty()) {
        return fail("no cache folder", ENOENT);
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return fail(folder, ec.value());
    }
    std::string bytes = IdentityBytes(series, summaries.shape);
    const std::string path = CachePath(folder, bytes);
    const auto put = [&](const auto& value) {
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    put(summaries.count);
    put(static_cast<std::uint32_t>(summaries.levels.size()));
    const auto putStatistics = [&](const ChannelStatistics* statistics) {
        for (int ch = 0; ch < 4; ++ch) {
            put(static_cast<std::uint8_t>(statistics[ch].valid));
            put(statistics[ch].maximum);
            put(statistics[ch].minimum);
        }
    };
    putStatistics(summaries.statistics);
    put(static_cast<std::uint64_t>(summaries.partStatistics.size()));
    for (const auto& part : summaries.partStatistics) {
        putStatistics(part.data());
    }
    std::uint64_t size = bytes.size() + sizeof(std::uint64_t);
    for (const SummaryPyramid::Level& level : summaries.levels) {
        for (int ch = 0; ch < 4; ++ch) {
            size += (level.low[ch].size() + level.high[ch].size()) * sizeof(double);
        }
    }
    const std::uint64_t limit = SummaryCacheLimit();
    if (size > limit) {
        // Kept out by the user's limit: no fault of the cache.
        Trim(folder, limit, {});
        return true;
    }
    Checksum checksum;
    ReplacementFile file;
    const auto write = [&](const void* data, std::size_t n) {
        checksum.Add(data, n);
        return file.WriteAll(data, n);
    };
    if (!file.Open(path)) {
        return fail(path, errno);
    }
    if (!write(bytes.data(), bytes.size())) {
        return fail(path, errno);
    }
    for (const SummaryPyramid::Level& level : summaries.levels) {
        for (int ch = 0; ch < 4; ++ch) {
            for (const std::vector<double>* v : {&level.low[ch], &level.high[ch]}) {
                if (!write(v->data(), v->size() * sizeof(double))) {
                    return fail(path, errno);
                }
            }
        }
    }
    const std::uint64_t sum = checksum.Value();
    if (!file.WriteAll(&sum, sizeof sum) || !file.Commit()) {
        return fail(path, errno);
    }
    Trim(folder, limit, path);
    return true;
}

SummaryResult SummariesOf(const SeriesSource& series, int threads, SummaryProgress& progress,
                          SummaryPyramid& out, std::string* cacheProblem) {
    const std::string folder = SummaryCacheFolder();
    // An entry stored without the files as parts is built again.
    const SummaryShape shape = SummaryShapeFor(series.Count());
    if (!folder.empty() && LoadSummaries(folder, series, shape, out) &&
        out.partStatistics.size() == series.Reader().FileCount()) {
        progress.done.store(series.Count());
        return SummaryResult::Done;
    }
    std::vector<std::uint64_t> fileStarts;
    for (std::size_t i = 0; i < series.Reader().FileCount(); ++i) {
        fileStarts.push_back(series.Reader().FirstSample(i));
    }
    const SummaryResult result = BuildSummaries(series, shape, threads, progress, out, fileStarts);
    if (result == SummaryResult::Done && !folder.empty()) {
        StoreSummaries(folder, series, out, cacheProblem);
    }
    return result;
}
