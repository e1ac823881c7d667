#include "display/summary_cache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/file.h"

namespace {

constexpr char MAGIC[8] = {'V', 'O', 'S', 'S', 'U', 'M', '0', '2'};

// The identity of the whole series as bytes: what a cached file must match.
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

std::string CachePath(const std::string& folder, const std::string& identity) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.sum",
                  static_cast<unsigned long long>(Fnv1a(identity)));
    return (std::filesystem::path(folder) / name).string();
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

bool LoadSummaries(const std::string& folder, const SeriesSource& series,
                   const SummaryShape& shape, SummaryPyramid& out) {
    if (folder.empty()) {
        return false;
    }
    const std::string identity = IdentityBytes(series, shape);
    std::ifstream in(CachePath(folder, identity), std::ios::binary);
    std::string stored(identity.size(), '\0');
    if (!in.read(stored.data(), static_cast<std::streamsize>(stored.size())) || stored != identity) {
        return false;
    }
    SummaryPyramid p;
    const auto get = [&](auto& value) {
        return static_cast<bool>(in.read(reinterpret_cast<char*>(&value), sizeof value));
    };
    std::uint32_t levels = 0;
    if (!get(p.count) || p.count != series.Count() || !get(levels) || levels != shape.levels) {
        return false;
    }
    p.shape = shape;
    const auto getStatistics = [&](ChannelStatistics* statistics) {
        for (int ch = 0; ch < 4; ++ch) {
            ChannelStatistics& s = statistics[ch];
            std::uint8_t valid = 0;
            if (!get(valid) || !get(s.maximum) || !get(s.minimum)) {
                return false;
            }
            s.valid = valid != 0;
        }
        return true;
    };
    std::uint64_t parts = 0;
    if (!getStatistics(p.statistics) || !get(parts) || parts > p.count) {
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
                const auto bytes = static_cast<std::streamsize>(v->size() * sizeof(double));
                if (!in.read(reinterpret_cast<char*>(v->data()), bytes)) {
                    return false;
                }
            }
        }
        p.levels.push_back(std::move(level));
    }
    if (in.peek() != std::char_traits<char>::eof()) {
        return false;
    }
    out = std::move(p);
    return true;
}

bool StoreSummaries(const std::string& folder, const SeriesSource& series,
                    const SummaryPyramid& summaries) {
    if (folder.empty()) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return false;
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
    ReplacementFile file;
    if (!file.Open(path) || !file.WriteAll(bytes.data(), bytes.size())) {
        return false;
    }
    for (const SummaryPyramid::Level& level : summaries.levels) {
        for (int ch = 0; ch < 4; ++ch) {
            for (const std::vector<double>* v : {&level.low[ch], &level.high[ch]}) {
                if (!file.WriteAll(v->data(), v->size() * sizeof(double))) {
                    return false;
                }
            }
        }
    }
    return file.Commit();
}

SummaryResult SummariesOf(const SeriesSource& series, int threads, SummaryProgress& progress,
                          SummaryPyramid& out) {
    const std::string folder = SummaryCacheFolder();
    // A file stored without the files as parts is built again.
    if (!folder.empty() && LoadSummaries(folder, series, SummaryShape{}, out) &&
        out.partStatistics.size() == series.Reader().FileCount()) {
        progress.done.store(series.Count());
        return SummaryResult::Done;
    }
    std::vector<std::uint32_t> fileStarts;
    for (std::size_t i = 0; i < series.Reader().FileCount(); ++i) {
        fileStarts.push_back(static_cast<std::uint32_t>(series.Reader().FirstSample(i)));
    }
    const SummaryResult result = BuildSummaries(series, SummaryShape{}, threads, progress, out, fileStarts);
    if (result == SummaryResult::Done && !folder.empty()) {
        StoreSummaries(folder, series, out);
    }
    return result;
}
