#include "record/summary_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "files/file.h"

namespace {

// The eighth layout: a head (identity, count, statistics) and the levels
// with their statistics cells (sums scaled by powers of two), each with its own checksum, so a reader of
// the statistics alone checks and reads only the head.
constexpr char MAGIC[8] = {'V', 'O', 'S', 'S', 'U', 'M', '0', '8'};
constexpr std::uint64_t DEFAULT_LIMIT = std::uint64_t{1} << 30;
constexpr const char* SUFFIX = ".sum";

// What the entry's data depends on: the shape, and for each file its
// identity as the series reader checks it (FileIdentityOf: the change time
// too, so that a file edited in place with its size and modification time
// restored is summarised anew) and a sample of its content.
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
        put(id.ctimeNs);
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

namespace {

// Bytes of one channel's statistics in an entry: valid, maximum, minimum.
constexpr std::size_t STATISTICS_BYTES = 4 * (1 + 2 * sizeof(double));

bool GetStatistics(EntryReader& in, ChannelStatistics* statistics) {
    for (int ch = 0; ch < 4; ++ch) {
        ChannelStatistics& s = statistics[ch];
        std::uint8_t valid = 0;
        if (!in.Get(valid) || !in.Get(s.maximum) || !in.Get(s.minimum)) {
            return false;
        }
        s.valid = valid != 0;
    }
    return true;
}

// Appends the next `size` bytes of `in` to `bytes`; false when the entry ends first.
bool ReadMore(std::ifstream& in, std::string& bytes, std::size_t size) {
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    in.read(bytes.data() + at, static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

}  // namespace

bool LoadSummaries(const std::string& folder, const SeriesSource& series, const SummaryShape& shape,
                   SummaryPyramid& out, SummaryNeed need) {
    if (folder.empty()) {
        return false;
    }
    const std::string identity = IdentityBytes(series, shape);
    const std::string path = CachePath(folder, identity);
    std::ifstream file(path, std::ios::binary);
    // The head: the identity, the count, the number of levels, the
    // statistics and the number of parts, then each part's statistics and
    // the head's checksum.
    std::string head;
    constexpr std::size_t FIXED =
        sizeof(std::uint64_t) + sizeof(std::uint32_t) + STATISTICS_BYTES + sizeof(std::uint64_t);
    if (!file || !ReadMore(file, head, identity.size() + FIXED) || head.compare(0, identity.size(), identity) != 0) {
        return false;
    }
    SummaryPyramid p;
    p.shape = shape;
    std::uint64_t count = 0, parts = 0, stored = 0;
    std::uint32_t levels = 0;
    EntryReader fixed(std::string_view(head).substr(identity.size()));
    if (!fixed.Get(count) || count != series.Count() || !fixed.Get(levels) || levels != shape.levels ||
        !GetStatistics(fixed, p.statistics) || !fixed.Get(parts) ||
        parts > std::max<std::uint64_t>(series.Reader().FileCount(), 1) ||
        !ReadMore(file, head, parts * STATISTICS_BYTES + sizeof stored)) {
        return false;
    }
    Checksum headSum;
    headSum.Add(head.data(), head.size() - sizeof stored);
    std::memcpy(&stored, head.data() + head.size() - sizeof stored, sizeof stored);
    if (stored != headSum.Value()) {
        return false;
    }
    p.count = static_cast<decltype(p.count)>(count);
    p.partStatistics.resize(parts);
    EntryReader partsIn(std::string_view(head).substr(identity.size() + FIXED, parts * STATISTICS_BYTES));
    for (auto& part : p.partStatistics) {
        GetStatistics(partsIn, part.data());
    }
    if (need == SummaryNeed::Everything) {
        // The levels, read straight into place, and their own checksum.
        Checksum levelSum;
        std::uint64_t cell = shape.baseCell;
        for (std::uint32_t l = 0; l < levels; ++l, cell *= shape.factor) {
            SummaryPyramid::Level level;
            level.cell = static_cast<std::uint32_t>(cell);
            for (int ch = 0; ch < 4; ++ch) {
                for (std::vector<double>* v : {&level.low[ch], &level.high[ch]}) {
                    v->resize(count / cell);
                    const auto size = static_cast<std::streamsize>(v->size() * sizeof(double));
                    if (size > 0 && (!file.read(reinterpret_cast<char*>(v->data()), size) || file.gcount() != size)) {
                        return false;
                    }
                    levelSum.Add(v->data(), static_cast<std::size_t>(size));
                }
                std::vector<StatisticsCell>& cells = level.stats[ch];
                cells.resize(l > 0 || levels == 1 ? count / cell : 0);
                const auto cellBytes = static_cast<std::streamsize>(cells.size() * sizeof(StatisticsCell));
                if (cellBytes > 0 &&
                    (!file.read(reinterpret_cast<char*>(cells.data()), cellBytes) || file.gcount() != cellBytes)) {
                    return false;
                }
                levelSum.Add(cells.data(), static_cast<std::size_t>(cellBytes));
            }
            p.levels.push_back(std::move(level));
        }
        char extra = 0;
        if (!file.read(reinterpret_cast<char*>(&stored), sizeof stored) || stored != levelSum.Value() ||
            file.read(&extra, 1)) {
            return false;
        }
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
    put(static_cast<std::uint64_t>(summaries.count));
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
    Checksum checksum;
    checksum.Add(bytes.data(), bytes.size());
    put(checksum.Value());
    checksum = Checksum{};
    std::uint64_t size = bytes.size() + sizeof(std::uint64_t);
    for (const SummaryPyramid::Level& level : summaries.levels) {
        for (int ch = 0; ch < 4; ++ch) {
            size += (level.low[ch].size() + level.high[ch].size()) * sizeof(double);
            size += level.stats[ch].size() * sizeof(StatisticsCell);
        }
    }
    const std::uint64_t limit = SummaryCacheLimit();
    if (size > limit) {
        // Kept out by the user's limit: no fault of the cache.
        Trim(folder, limit, {});
        return true;
    }
    ReplacementFile file;
    // The head is written with its checksum; the levels' one follows them.
    const auto write = [&](const void* data, std::size_t n) {
        checksum.Add(data, n);
        return file.WriteAll(data, n);
    };
    if (!file.Open(path)) {
        return fail(path, errno);
    }
    if (!file.WriteAll(bytes.data(), bytes.size())) {
        return fail(path, errno);
    }
    for (const SummaryPyramid::Level& level : summaries.levels) {
        for (int ch = 0; ch < 4; ++ch) {
            for (const std::vector<double>* v : {&level.low[ch], &level.high[ch]}) {
                if (!write(v->data(), v->size() * sizeof(double))) {
                    return fail(path, errno);
                }
            }
            if (!write(level.stats[ch].data(), level.stats[ch].size() * sizeof(StatisticsCell))) {
                return fail(path, errno);
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
                          SummaryPyramid& out, std::string* cacheProblem, SummaryNeed need) {
    const std::string folder = SummaryCacheFolder();
    // An entry stored without the files as parts is built again.
    const SummaryShape shape = SummaryShapeFor(series.Count());
    if (!folder.empty() && LoadSummaries(folder, series, shape, out, need) &&
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
