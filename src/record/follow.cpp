#include "record/follow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <tuple>

#include "files/series.h"
#include "files/series_names.h"
#include "files/series_reader.h"
#include "record/running_recording.h"

namespace {

// Data files held open at a time; others are opened again when read. A full
// view reads every file once per channel: with fewer open than a long
// recording's files, each redraw opened and checked every file again (13 ms
// instead of 8 for 100 files). Few enough to stay below select()'s range.
constexpr std::size_t MAX_OPEN_DATA_FILES = 256;
// Samples read at a time for Extremes.
constexpr std::uint64_t PIECE = 4096;
// Looks at the prefix's lock in one Poll, while each read after a look finds the files grown.
constexpr int ENDING_LOOKS = 3;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};


int OpenReadOnly(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }

}  // namespace

struct FollowedRecording::Part {
    std::uint32_t index = 0;   // the file's number in the series
    std::uint64_t first = 0;   // its first sample's place in the record
    std::uint64_t count = 0;   // samples readable in it
    DataFileHeader header;     // settings and stamp
    std::string path;
    bool working = false;      // read from the working file's blocks
    bool final = false;        // its count no longer changes
    // A working file: its descriptor, where the next block may begin, and its blocks.
    std::shared_ptr<Fd> workingFd;
    std::uint32_t split = 0;
    std::uint64_t scanned = 0;
    std::uint32_t expected = 0;
    std::vector<JournalBlock> blocks;
    // A data file: what it was when first read (a file rewritten or replaced changes its change
    // time, or its inode), so that a file replaced under its name reads nothing.
    FileIdentity identity;
};

// The data files' descriptors: the most recently read ones stay open.
class FollowedRecording::Descriptors {
public:
    std::shared_ptr<Fd> Get(const Part& part) {
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_open.find(&part); found != m_open.end()) return found->second;
        const int fd = OpenReadOnly(part.path);
        if (fd < 0) return nullptr;
        auto held = std::make_shared<Fd>(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !SameFile(info, part.identity)) {
            return nullptr;
        }
        Put(part, held);
        return held;
    }
    void Put(const Part& part, std::shared_ptr<Fd> fd) {
        if (const auto found = m_open.find(&part); found != m_open.end()) {
            found->second = std::move(fd);
            return;
        }
        if (m_open.size() >= MAX_OPEN_DATA_FILES) {
            m_open.erase(m_order.front());
            m_order.pop_front();
        }
        m_open[&part] = std::move(fd);
        m_order.push_back(&part);
    }
    void Adopt(const Part& part, std::shared_ptr<Fd> fd) {
        const std::lock_guard lock(m_mutex);
        Put(part, std::move(fd));
    }

private:
    std::mutex m_mutex;
    std::map<const Part*, std::shared_ptr<Fd>> m_open;
    std::deque<const Part*> m_order;
};

FollowedRecording::FollowedRecording() : m_descriptors(std::make_unique<Descriptors>()) {}
FollowedRecording::~FollowedRecording() = default;

FileError FollowedRecording::Open(const std::string& prefix, Options options) {
    const SeriesListing listing = ListSeries(prefix);
    std::uint32_t first = 0;
    if (!listing.dataFiles.empty()) first = listing.dataFiles.front().index;
    if (!listing.workingFiles.empty() && (first == 0 || listing.workingFiles.front().index < first)) {
        first = listing.workingFiles.front().index;
    }
    // Every number from the first to the last must be there, as a data or a working file.
    std::vector<std::uint32_t> indices;
    for (const auto* list : {&listing.dataFiles, &listing.workingFiles}) {
        for (const SeriesMember& member : *list) indices.push_back(member.index);
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    if (!indices.empty() && indices.back() - indices.front() + 1 != indices.size()) {
        m_prefix = prefix;
        return FileError::Format;
    }
    return Start(prefix, first == 0 ? 1 : first, options);
}

FileError FollowedRecording::OpenFiles(const std::vector<std::string>& paths, Options options) {
    if (paths.empty()) return FileError::Format;
    std::string prefix;
    std::string lastPrefix;
    const std::uint32_t first = SeriesMemberOf(paths.front(), prefix);
    if (first == 0 || SeriesMemberOf(paths.back(), lastPrefix) == 0 || lastPrefix != prefix) return FileError::Format;
    return Start(prefix, first, options);
}

FileError FollowedRecording::Start(const std::string& prefix, std::uint32_t firstIndex, Options options) {
    {
        const std::unique_lock lock(m_partsMutex);
        m_parts.clear();
    }
    m_descriptors = std::make_unique<Descriptors>();
    m_count = 0;
    m_prefix = prefix;
    m_options = options;
    m_nextIndex = firstIndex;
    m_ended = false;
    m_status = FollowStatus{};
    m_status.running = true;
    Poll();
    if (m_parts.empty() && m_ended) return FileError::Open;
    return FileError::None;
}

bool FollowedRecording::RecorderHolds() const { return RecorderHoldsPrefix(m_prefix, m_options.recorderInProcess); }

bool FollowedRecording::Poll() {
    if (m_ended) return false;
    const FollowStatus before = m_status;
    // Asked before the files are read: a recorder finishes its files before it lets the
    // prefix go, so what is read after a look that found the prefix free is all there will
    // be. Unless a recorder took the prefix just after the look: the files read then grew,
    // and another look tells whether they are still being written.
    bool ended = false;
    for (int look = 0; look < ENDING_LOOKS; ++look) {
        ended = !RecorderHolds();
        const auto progress = [this] { return std::tuple(Count(), m_parts.size(), m_status.workingFiles); };
        const auto was = progress();
        ReadOn();
        UpdateStatus();
        if (!ended || progress() == was) break;
        ended = false;  // still growing after the last look: the next Poll looks again
    }
    m_ended = ended;
    UpdateStatus();
    const FollowStatus& now = m_status;
    return now.running != before.running || now.samples != before.samples || now.files != before.files ||
           now.workingFiles != before.workingFiles || now.error != before.error;
}

void FollowedRecording::ReadOn() {
    for (const auto& part : m_parts) {
        if (part->working && TakeDataFile(*part)) continue;
        if (part->working && !part->final) ScanWorking(*part);
    }
    for (;;) {
        if (!m_parts.empty()) {
            Part& last = *m_parts.back();
            const bool next = ::access(SeriesMemberName(m_prefix, m_nextIndex, SERIES_DATA_EXTENSION).c_str(), F_OK) == 0 ||
                              ::access(SeriesMemberName(m_prefix, m_nextIndex, SERIES_WORKING_EXTENSION).c_str(), F_OK) == 0;
            if (!next) break;
            // The writer ends a file before it begins the next: what it holds now is all it gets.
            if (last.working && !last.final) {
                ScanWorking(last);
                last.final = true;
            }
        }
        if (!AddPart(m_nextIndex)) break;
        ++m_nextIndex;
    }
}

bool FollowedRecording::AddPart(std::uint32_t index) {
    auto part = std::make_unique<Part>();
    part->index = index;
    if (!m_parts.empty()) part->first = m_parts.back()->first + m_parts.back()->count;
    const std::string dataPath = SeriesMemberName(m_prefix, index, SERIES_DATA_EXTENSION);
    const std::string workingPath = SeriesMemberName(m_prefix, index, SERIES_WORKING_EXTENSION);
    std::shared_ptr<Fd> dataFd;
    if (const int fd = OpenReadOnly(dataPath); fd >= 0) {
        dataFd = std::make_shared<Fd>(fd);
        struct stat info {};
        std::uint8_t bytes[DLF_HEADER_SIZE];
        if (::fstat(fd, &info) != 0 || !ReadAllAt(fd, 0, bytes, sizeof bytes)) {
            Fault(FileError::Read, dataPath);
            return false;
        }
        part->header = DecodeHeader(bytes);
        if (const FileError error = CheckHeader(part->header, static_cast<std::uint64_t>(info.st_size));
            error != FileError::None) {
            Fault(error, dataPath);
            return false;
        }
        part->path = dataPath;
        part->count = part->header.sampleCount;
        part->final = true;
        part->identity = FileIdentityOf(dataPath, info);
    } else if (errno != ENOENT) {
        Fault(FileError::Open, dataPath);
        return false;
    } else {
        const int wfd = OpenReadOnly(workingPath);
        if (wfd < 0) {
            if (errno != ENOENT) Fault(FileError::Open, workingPath);
            return false;
        }
        part->workingFd = std::make_shared<Fd>(wfd);
        struct stat info {};
        if (::fstat(wfd, &info) != 0) {
            Fault(FileError::Read, workingPath);
            return false;
        }
        JournalHeader header;
        // A header not written whole yet is not there yet.
        if (const FileError error = ReadJournalHeader(wfd, static_cast<std::uint64_t>(info.st_size), header);
            error != FileError::None) {
            if (static_cast<std::uint64_t>(info.st_size) >= JOURNAL_HEADER_SIZE) Fault(error, workingPath);
            return false;
        }
        part->header = header.settings;
        part->split = header.split;
        part->path = workingPath;
        part->working = true;
        part->scanned = JOURNAL_HEADER_SIZE;
    }
    if (m_parts.empty()) m_clockDivider = part->header.clockDivider;
    Part& added = *part;
    {
        const std::unique_lock lock(m_partsMutex);
        m_parts.push_back(std::move(part));
    }
    if (dataFd) m_descriptors->Adopt(added, std::move(dataFd));
    if (added.working) ScanWorking(added);
    else m_count.store(added.first + added.count, std::memory_order_release);
    return true;
}

bool FollowedRecording::ScanWorking(Part& part) {
    struct stat info {};
    if (::fstat(part.workingFd->fd, &info) != 0) {
        Fault(FileError::Read, part.path);
        return false;
    }
    std::vector<JournalBlock> blocks;
    std::uint64_t offset = part.scanned;
    std::uint32_t expected = part.expected;
    if (const FileError error = FollowJournal(part.workingFd->fd, static_cast<std::uint64_t>(info.st_size),
                                              part.split, offset, expected, blocks);
        error != FileError::None) {
        Fault(error, part.path);
    }
    if (blocks.empty()) return false;
    {
        const std::unique_lock lock(m_partsMutex);
        part.blocks.insert(part.blocks.end(), blocks.begin(), blocks.end());
        part.scanned = offset;
        part.expected = expected;
        part.count = expected;
    }
    if (part.count == part.split) part.final = true;
    if (&part == m_parts.back().get()) m_count.store(part.first + part.count, std::memory_order_release);
    return true;
}

bool FollowedRecording::TakeDataFile(Part& part) {
    const std::string dataPath = SeriesMemberName(m_prefix, part.index, SERIES_DATA_EXTENSION);
    const int fd = OpenReadOnly(dataPath);
    if (fd < 0) return false;
    auto dataFd = std::make_shared<Fd>(fd);
    struct stat info {};
    std::uint8_t bytes[DLF_HEADER_SIZE];
    if (::fstat(fd, &info) != 0 || !ReadAllAt(fd, 0, bytes, sizeof bytes)) return false;
    const DataFileHeader header = DecodeHeader(bytes);
    const bool last = &part == m_parts.back().get();
    if (!last && !part.final) ScanWorking(part);
    // Its samples keep their places: a data file that holds fewer than were shown, or more
    // where a later file already begins, is not taken, and the working file stays read.
    if (CheckHeader(header, static_cast<std::uint64_t>(info.st_size)) != FileError::None ||
        header.sampleCount < part.count || (!last && header.sampleCount != part.count)) {
        return false;
    }
    {
        const std::unique_lock lock(m_partsMutex);
        part.working = false;
        part.final = true;
        part.path = dataPath;
        part.header = header;
        part.count = header.sampleCount;
        part.identity = FileIdentityOf(dataPath, info);
        part.blocks.clear();
        part.blocks.shrink_to_fit();
        part.workingFd.reset();
    }
    m_descriptors->Adopt(part, std::move(dataFd));
    if (last) m_count.store(part.first + part.count, std::memory_order_release);
    return true;
}

void FollowedRecording::Fault(FileError error, const std::string& path) {
    m_status.error = error;
    m_status.errorPath = path;
}

void FollowedRecording::UpdateStatus() {
    m_status.running = !m_ended;
    m_status.samples = Count();
    m_status.files = m_parts.size();
    m_status.workingFiles = static_cast<std::size_t>(
        std::count_if(m_parts.begin(), m_parts.end(), [](const auto& part) { return part->working; }));
    m_status.lastSampleMicros.reset();
    for (auto part = m_parts.rbegin(); part != m_parts.rend(); ++part) {
        if ((*part)->count == 0) continue;
        if ((*part)->header.stamp) {
            m_status.lastSampleMicros =
                StampSampleMicros(*(*part)->header.stamp, (*part)->header.clockDivider, (*part)->count - 1);
        }
        break;
    }
}

std::vector<std::uint64_t> FollowedRecording::FileStarts() const {
    const std::shared_lock lock(m_partsMutex);
    std::vector<std::uint64_t> starts;
    for (const auto& part : m_parts) starts.push_back(part->first);
    return starts;
}

std::vector<RecordFile> FollowedRecording::Files(std::uint64_t count) const {
    const std::shared_lock lock(m_partsMutex);
    std::vector<RecordFile> files;
    const Part* previous = nullptr;
    for (const auto& part : m_parts) {
        if (part->first >= count || part->count == 0) break;
        bool gap = false;
        if (previous != nullptr) {
            // A working file's header counts no samples: what the part holds is its count.
            DataFileHeader before = previous->header;
            before.sampleCount = static_cast<std::uint32_t>(previous->count);
            gap = SeriesGapSamples(before, part->header) > 0;
        }
        files.push_back({part->first, part->path, gap});
        previous = part.get();
    }
    return files;
}

std::string FollowedRecording::FileOf(std::uint64_t sample) const {
    const std::shared_lock lock(m_partsMutex);
    for (const auto& part : m_parts) {
        if (sample < part->first + part->count) return part->path;
    }
    return {};
}

std::optional<RecordingStamp> FollowedRecording::StampFrom(std::uint64_t sample) const {
    const std::shared_lock lock(m_partsMutex);
    for (const auto& part : m_parts) {
        if (sample >= part->first + part->count) continue;
        if (!part->header.stamp) return std::nullopt;
        // Each file counts from its own start.
        return StampFromSample(*part->header.stamp, part->header.clockDivider, sample - part->first);
    }
    return std::nullopt;
}

std::optional<DataFileHeader> FollowedRecording::FirstHeader() const {
    const std::shared_lock lock(m_partsMutex);
    if (m_parts.empty()) return std::nullopt;
    return m_parts.front()->header;
}

std::optional<std::int64_t> FollowedRecording::SampleTimeMicros(std::uint64_t sample) const {
    const std::optional<RecordingStamp> stamp = StampFrom(sample);
    return stamp ? std::optional(stamp->startMicros) : std::nullopt;
}

TimeMap FollowedRecording::Times(std::uint64_t count) const {
    const std::shared_lock lock(m_partsMutex);
    std::vector<DataFileHeader> headers;
    for (const auto& part : m_parts) {
        if (part->first >= count || part->count == 0) break;
        // A working file's header counts no samples: what the part holds (of the first `count`) is its count.
        headers.push_back(part->header);
        headers.back().sampleCount = static_cast<std::uint32_t>(std::min(part->count, count - part->first));
    }
    return TimeMap::OfFiles(headers);
}

bool FollowedRecording::ReadPart(const Part& part, int channel, std::uint64_t from, std::uint64_t count,
                                 double* out) const {
    if (!part.working) {
        const std::shared_ptr<Fd> fd = m_descriptors->Get(part);
        return fd && ReadAllAt(fd->fd,
                             DLF_HEADER_SIZE + (std::uint64_t{part.header.sampleCount} * static_cast<unsigned>(channel) + from) *
                                                   sizeof(double),
                             out, count * sizeof(double));
    }
    auto block = std::upper_bound(part.blocks.begin(), part.blocks.end(), from,
                                  [](std::uint64_t s, const JournalBlock& b) { return s < b.firstSample; });
    --block;
    while (count > 0) {
        const std::uint64_t inBlock = from - block->firstSample;
        const std::uint64_t n = std::min<std::uint64_t>(count, block->samples - inBlock);
        const std::uint64_t at = block->offset + JOURNAL_BLOCK_HEADER_SIZE +
                                 (std::uint64_t{block->samples} * static_cast<unsigned>(channel) + inBlock) * sizeof(double);
        if (!ReadAllAt(part.workingFd->fd, at, out, n * sizeof(double))) return false;
        out += n;
        from += n;
        count -= n;
        ++block;
    }
    return true;
}

bool FollowedRecording::Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const {
    const std::shared_lock lock(m_partsMutex);
    auto part = std::upper_bound(m_parts.begin(), m_parts.end(), first,
                                 [](std::uint64_t s, const auto& p) { return s < p->first; });
    if (part == m_parts.begin() || count == 0) return count == 0;
    --part;
    while (count > 0) {
        if (part == m_parts.end() || first >= (*part)->first + (*part)->count) {
            m_readFailed = true;
            return false;
        }
        const std::uint64_t from = first - (*part)->first;
        const std::uint64_t n = std::min(count, (*part)->count - from);
        if (!ReadPart(**part, channel, from, n, out)) {
            m_readFailed = true;
            return false;
        }
        out += n;
        first += n;
        count -= n;
        ++part;
    }
    return true;
}

double FollowedRecording::At(int channel, std::uint64_t sample) const {
    double value = 0.0;
    return Copy(channel, sample, 1, &value) ? value : std::nan("");
}

SampleExtremes FollowedRecording::Extremes(int channel, std::uint64_t begin, std::uint64_t end) const {
    double piece[PIECE];
    SampleExtremes e{};
    for (std::uint64_t at = begin; at < end;) {
        const auto n = static_cast<std::uint32_t>(std::min(end - at, PIECE));
        const SampleExtremes part = Copy(channel, at, n, piece) ? ExtremesOfRun(piece, n) : UNREADABLE_RUN;
        e = at == begin ? part : MergeExtremes(e, part);
        at += n;
    }
    return e;
}
