#include "acquisition/record.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "acquisition/run.h"
#include "device/access.h"
#include "files/series_names.h"

namespace {

// The writer wakes at least this often to stream the CSV rows that arrived.
constexpr auto CSV_FLUSH_INTERVAL = std::chrono::milliseconds(250);
// CSV text gathered before one write.
constexpr std::size_t CSV_OUT_BYTES = std::size_t{1} << 20;
// Buffers allocated before the stream starts: one filling while one is written.
constexpr std::size_t PREPARED_BUFFERS = 2;
// Memory of the writer outside the sample buffers: the CSV text, the
// working file's read window and one channel of a block.
constexpr std::size_t WRITER_MEMORY = std::size_t{4} << 20;

}  // namespace

std::int64_t UtcMicrosNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::array<std::uint8_t, 16> NewRecordingIdentity() {
    // The kernel's generator, which does not fail once booted.
    std::array<std::uint8_t, 16> identity{};
    std::size_t got = 0;
    while (got < identity.size()) {
        const ssize_t part = ::getrandom(identity.data() + got, identity.size() - got, 0);
        if (part > 0) got += static_cast<std::size_t>(part);
    }
    return identity;
}

std::string SeriesFileName(const std::string& prefix, std::uint32_t index) {
    return SeriesMemberName(prefix, index, SERIES_DATA_EXTENSION);
}

std::string WorkingFileName(const std::string& prefix, std::uint32_t index) {
    return SeriesMemberName(prefix, index, SERIES_WORKING_EXTENSION);
}

Recorder::Recorder(const D2xxApi& api, RecordOptions options)
    : m_api(api), m_options(std::move(options)), m_stop(m_options.stopFlag != nullptr ? m_options.stopFlag : &m_ownStop) {
    // A short recording needs no buffer longer than itself.
    m_capacity = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::max<std::uint32_t>(m_options.bufferSamples, 1),
                                std::max<std::uint64_t>(m_options.sampleLimit, 1)));
    const std::size_t bufferBytes = std::size_t{m_capacity} * DLF_CHANNELS * sizeof(double);
    const std::size_t budget = m_options.memoryBudget > WRITER_MEMORY ? m_options.memoryBudget - WRITER_MEMORY : 0;
    m_maxBuffers = std::max<std::size_t>(PREPARED_BUFFERS, budget / bufferBytes);
    m_identity = NewRecordingIdentity();
    if (m_options.csvFd >= 0) {
        m_csvText = std::make_unique_for_overwrite<char[]>(CSV_OUT_BYTES + CSV_BLOCK_MAX_CHARS);
    }
}

Recorder::~Recorder() = default;

RecordOutcome Recorder::Run() {
    RecordOutcome outcome;
    if (m_options.split == 0 || m_options.split > DLF_MAX_SAMPLE_COUNT) {
        outcome.end = RecordEnd::Device;
        outcome.deviceResult = RESULT_INVALID_PARAMETER;
        outcome.message = ResultMessage(RESULT_INVALID_PARAMETER);
        return outcome;
    }
    // The folder as it was at the start, to tell at the end whether the files are still there.
    const std::string folder = m_options.prefix.empty() ? "" : ParentFolder(m_options.prefix);
    struct stat folderAtStart {};
    const bool folderKnown = !folder.empty() && ::stat(folder.c_str(), &folderAtStart) == 0;
    FT_HANDLE handle = nullptr;
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE] = {};
    const TriggerSetup trigger{m_options.trigger.channel, m_options.trigger.type, m_options.trigger.threshold, 0};
    std::uint32_t result = OpenCalibratedLogger(m_api, m_options.serial, handle, calibration);
    if (result == RESULT_OK) {
        // Settings the stream would refuse are refused before any buffer or thread exists.
        result = CheckTransferSetup(m_options.divider, calibration, trigger);
        if (result != RESULT_OK) DeviceClose(m_api, handle);
    }
    if (result != RESULT_OK) {
        outcome.end = RecordEnd::Device;
        outcome.deviceResult = result;
        outcome.message = ResultMessage(result);
        return outcome;
    }
    if (m_options.beforeStream) {
        std::string path;
        const FileError error = m_options.beforeStream(path);
        if (error != FileError::None) {
            outcome.fileCause = errno;
            DeviceClose(m_api, handle);
            outcome.end = RecordEnd::File;
            outcome.fileError = error;
            outcome.failedPath = path;
            outcome.message = FileErrorMessage(error);
            return outcome;
        }
    }

    {
        const std::lock_guard lock(m_mutex);
        const std::size_t prepared = m_options.sampleLimit <= m_capacity ? 1 : PREPARED_BUFFERS;
        while (m_buffers.size() < prepared) m_free.push_back(NewBuffer());
    }
    m_journal = std::make_unique<JournalWriter>();
    std::thread converter([this] { ConverterLoop(); });
    std::thread writer([this] { WriterLoop(); });
    const StreamMonitor monitor{&m_samples, &m_largestQueue, true};
    // Past its checks the stream ends through End, which lets the writer finish.
    result = StreamFrames(m_api, handle, m_options.divider, m_options.sampleLimit, calibration, trigger, m_stop,
                          *this, monitor);
    DeviceClose(m_api, handle);
    writer.join();
    converter.join();

    outcome.samples = Samples();
    outcome.files = Files();
    outcome.samplesInFiles = m_samplesInFiles;
    outcome.gaps = m_gaps;
    outcome.clockSteps = m_clockSteps;
    if (m_journal->IsOpen()) m_kept.push_back(std::move(m_journal));
    for (const auto& kept : m_kept) {
        // A working file removed with its folder holds nothing any more; one moved with it holds all it had.
        const std::string where = kept->WhereNow();
        kept->Close();
        if (where.empty()) continue;
        if (outcome.workingFile.empty()) outcome.workingFile = where;
        outcome.lastWorkingFile = where;
        outcome.workingSamples += kept->Samples();
    }
    for (const auto& taken : m_taken) {
        const std::string where = taken->WhereNow();
        taken->Close();
        if (where.empty()) continue;
        outcome.takenNames.push_back(SeriesFileName(m_options.prefix, static_cast<std::uint32_t>(
                                                                          taken->Contents().header.settings.stamp->index)));
        outcome.takenWorkingFiles.push_back(where);
        outcome.takenSamples += taken->Samples();
    }
    struct stat folderNow {};
    outcome.folderMoved = folderKnown && (::stat(folder.c_str(), &folderNow) != 0 ||
                                          folderNow.st_dev != folderAtStart.st_dev ||
                                          folderNow.st_ino != folderAtStart.st_ino);
    if (m_fileError == FileError::None && m_convertError != FileError::None) {
        m_fileError = m_convertError;
        m_failedPath = m_convertFailedPath;
        m_fileCause = m_convertCause;
        outcome.folderUnsynced = m_convertUnsynced;
    }
    outcome.largestQueue = LargestQueue();
    outcome.buffers = m_buffers.size();
    outcome.csvStopped = m_csvStopped;
    outcome.csvCause = m_csvCause;
    if (m_fileError != FileError::None) {
        outcome.end = RecordEnd::File;
        outcome.fileError = m_fileError;
        outcome.fileCause = m_fileCause;
        outcome.failedPath = m_failedPath;
        outcome.message = FileErrorMessage(m_fileError);
    } else if (result == RESULT_WRITER_BEHIND) {
        outcome.end = RecordEnd::WriterBehind;
        outcome.message = WRITER_BEHIND_MESSAGE;
    } else if (result != RESULT_OK) {
        outcome.end = RecordEnd::Device;
        outcome.deviceResult = result;
        outcome.message = ResultMessage(result);
    }
    return outcome;
}

double* Recorder::TakeBuffer() {
    if (!m_free.empty()) {
        double* data = m_free.back();
        m_free.pop_back();
        return data;
    }
    return m_buffers.size() < m_maxBuffers ? NewBuffer() : nullptr;
}

double* Recorder::NewBuffer() {
    // Zeroed, so its pages are resident from now on and the memory in use stays flat.
    m_buffers.push_back(std::make_unique<double[]>(std::size_t{m_capacity} * DLF_CHANNELS));
    return m_buffers.back().get();
}

std::uint32_t Recorder::NextChunk(StreamChunk& chunk, std::uint32_t filled) {
    const std::lock_guard lock(m_mutex);
    QueueCurrent(filled);
    return HandOut(chunk);
}

// Queues the first `filled` samples of m_current for the writer; called under m_mutex.
void Recorder::QueueCurrent(std::uint32_t filled) {
    if (filled == 0) return;
    m_queue.push_back(Chunk{m_current.data, m_current.first, filled, m_current.lostBefore, m_current.gapBefore});
    m_current.first += filled;
    m_current.gapBefore = false;
    m_current.data = nullptr;
    m_wake.notify_one();
}

// Gives the reader a buffer for m_current; called under m_mutex.
std::uint32_t Recorder::HandOut(StreamChunk& chunk) {
    if (m_current.data == nullptr) m_current.data = TakeBuffer();
    if (m_current.data == nullptr) return RESULT_WRITER_BEHIND;
    for (int c = 0; c < DLF_CHANNELS; ++c) chunk.channels[c] = m_current.data + std::size_t{m_capacity} * c;
    chunk.capacity = m_capacity;
    chunk.stored = nullptr;
    return RESULT_OK;
}

std::uint32_t Recorder::Gap(const StreamGap& gap, StreamChunk& chunk, std::uint32_t& filled) {
    const std::lock_guard lock(m_mutex);
    QueueCurrent(filled);
    filled = 0;
    m_current.lostBefore += gap.lostSamples;
    m_current.gapBefore = true;
    return HandOut(chunk);
}

void Recorder::End(std::uint32_t filled) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_current.data != nullptr) QueueCurrent(filled);
        m_current.data = nullptr;
        m_ended = true;
    }
    m_wake.notify_one();
}

void Recorder::WriteFailed(FileError error, const std::string& path) {
    m_fileCause = errno;
    m_fileError = error;
    m_failedPath = path;
    RequestStop();
}

void Recorder::StreamCsv(const Chunk& chunk, std::uint64_t upTo) {
    if (m_options.csvFd < 0 || m_csvStopped || m_fileError != FileError::None) return;
    const double* channels[DLF_CHANNELS];
    for (int c = 0; c < DLF_CHANNELS; ++c) channels[c] = chunk.data + std::size_t{m_capacity} * c;
    while (m_csvRow < upTo) {
        const auto rows = static_cast<std::uint32_t>(std::min<std::uint64_t>(CSV_BLOCK_ROWS, upTo - m_csvRow));
        m_csvUsed += FormatCsvBlock(m_options.csvSelection, channels, static_cast<std::uint32_t>(m_csvRow - chunk.first),
                                    rows, m_csvText.get() + m_csvUsed);
        m_csvRow += rows;
        if (m_csvUsed >= CSV_OUT_BYTES && !FlushCsv()) return;
    }
}

void Recorder::SendBlock(const Chunk& chunk, std::uint64_t upTo) {
    const std::uint64_t from = std::max(m_blockSent, chunk.first);
    if (!m_options.onBlock || upTo <= from) return;
    const double* channels[DLF_CHANNELS];
    for (int c = 0; c < DLF_CHANNELS; ++c) channels[c] = chunk.data + std::size_t{m_capacity} * c + (from - chunk.first);
    m_options.onBlock(from, static_cast<std::uint32_t>(upTo - from), channels);
    m_blockSent = upTo;
}

bool Recorder::FlushCsv() {
    if (m_csvUsed == 0 || m_csvStopped || m_fileError != FileError::None) {
        return !m_csvStopped && m_fileError == FileError::None;
    }
    const bool ok = WriteAllTo(m_options.csvFd, m_csvText.get(), m_csvUsed);
    m_csvUsed = 0;
    if (!ok) {
        m_csvCause = errno;
        // A reader that went away costs the stream only; without DLF files nothing else is kept.
        if (m_options.prefix.empty()) {
            WriteFailed(FileError::Write, "");
        } else {
            m_csvStopped = true;
        }
    }
    return ok;
}

void Recorder::SyncWorkingFile() {
    m_lastFlush = std::chrono::steady_clock::now();
    if (!m_unsynced) return;
    m_unsynced = false;
    if (const FileError error = m_journal->Sync(); error != FileError::None) WriteFailed(error, m_journal->Path());
}

void Recorder::AppendToFiles(const Chunk& chunk, std::uint64_t upTo) {
    if (m_options.prefix.empty()) return;
    const std::int64_t period = static_cast<std::int64_t>(m_options.divider) * LOGGER_FRAME_MICROS;
    while (m_appended < upTo && !FilesFailed()) {
        if (!m_journal->IsOpen()) {
            const std::uint32_t index = m_nextIndex;
            JournalHeader header;
            header.split = m_options.split;
            header.settings.clockDivider = static_cast<std::int32_t>(m_options.divider);
            header.settings.triggerChannel = m_options.trigger.channel;
            header.settings.triggerType = m_options.trigger.type;
            header.settings.threshold = m_options.trigger.threshold;
            header.settings.stamp = RecordingStamp{
                m_segmentUtc + static_cast<std::int64_t>(m_appended - m_segmentFirst) * period, m_identity, index,
                m_appended + chunk.lostBefore};
            const std::string path = WorkingFileName(m_options.prefix, index);
            if (const FileError error = m_journal->Create(path, header); error != FileError::None) {
                m_journal->Close();
                // A name taken by another file is not this recording's to empty.
                std::error_code ignored;
                if (error == FileError::Write) std::filesystem::remove(path, ignored);
                WriteFailed(error, path);
                return;
            }
            ++m_nextIndex;
            // The converter makes the name durable: a sync of the folder here would hold up the samples.
            m_journal->LeaveFolderSync();
            {
                const std::lock_guard lock(m_convertMutex);
                m_finished.push_back(FinishedFile{nullptr, JournalContents{}, path});
            }
            m_convertWake.notify_one();
        }
        const std::uint32_t inFile = m_journal->Samples();
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(upTo - m_appended, m_options.split - inFile));
        const double* channels[DLF_CHANNELS];
        for (int c = 0; c < DLF_CHANNELS; ++c) {
            channels[c] = chunk.data + std::size_t{m_capacity} * c + (m_appended - chunk.first);
        }
        if (const FileError error = m_journal->Append(channels, count); error != FileError::None) {
            WriteFailed(error, m_journal->Path());
            return;
        }
        m_appended += count;
        m_unsynced = true;
        if (m_journal->Samples() == m_options.split) CompleteFile();
    }
}

void Recorder::CompleteFile() {
    FinishedFile file{std::move(m_journal), {}, {}};
    file.contents = file.journal->Contents();
    m_journal = std::make_unique<JournalWriter>();
    // The converter syncs the last blocks before it writes the DLF file.
    m_unsynced = false;
    {
        const std::lock_guard lock(m_convertMutex);
        m_finished.push_back(std::move(file));
    }
    m_convertWake.notify_one();
}

void Recorder::BeginGap(const Chunk& chunk) {
    m_gapDoneAt = chunk.first;
    RecordGap gap;
    const std::int64_t period = static_cast<std::int64_t>(m_options.divider) * LOGGER_FRAME_MICROS;
    gap.samplesBefore = chunk.first;
    gap.fromMicros = m_segmentUtc + static_cast<std::int64_t>(chunk.first - m_segmentFirst) * period;
    gap.lostSamples = chunk.lostBefore - m_lostSeen;
    // As long as the samples lost, which the steady clock measured: the place of every
    // sample, lost ones included, dates it, as it dates the samples between gaps.
    gap.toMicros = gap.fromMicros + static_cast<std::int64_t>(gap.lostSamples) * period;
    m_lostSeen = chunk.lostBefore;
    if (m_journal->IsOpen()) {
        gap.fileBefore = static_cast<std::uint32_t>(m_journal->Contents().header.settings.stamp->index);
        if (!FilesFailed()) CompleteFile();
    } else if (!m_options.prefix.empty()) {
        gap.fileBefore = m_nextIndex - 1;
    }
    m_segmentUtc = gap.toMicros;
    m_segmentFirst = chunk.first;
    m_gaps.push_back(gap);
    if (m_options.onGap) m_options.onGap(gap);
}

// Takes the start's UTC and steady time once `samples` (lost ones included)
// were sent, then tells each step of the system clock away from the steady one.
void Recorder::FollowClock(std::uint64_t samples) {
    if (samples == 0) return;
    const std::int64_t utc = UtcMicrosNow();
    const std::int64_t steady =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (!m_startMicros) {
        // The first sample was sent as many sample periods ago as there are samples now.
        const std::int64_t since = static_cast<std::int64_t>(samples) * static_cast<std::int64_t>(m_options.divider) *
                                   LOGGER_FRAME_MICROS;
        m_startMicros = utc - since;
        m_startNanos = steady - since * 1000;
        m_segmentUtc = *m_startMicros;
        return;
    }
    const std::int64_t step = utc - (*m_startMicros + (steady - m_startNanos) / 1000) - m_clockOffset;
    if (step > CLOCK_STEP_MICROS || step < -CLOCK_STEP_MICROS) {
        m_clockOffset += step;
        m_clockSteps.push_back(step);
        if (m_options.onClockStep) m_options.onClockStep(step);
    }
}

void Recorder::ConverterLoop() {
    for (;;) {
        FinishedFile file;
        {
            std::unique_lock lock(m_convertMutex);
            m_convertWake.wait(lock, [this] { return !m_finished.empty() || m_writerDone; });
            if (m_finished.empty()) return;
            file = std::move(m_finished.front());
            m_finished.pop_front();
        }
        if (!file.journal) {
            if (const int error = SyncFolder(ParentFolder(file.folderOf)); error != 0) {
                ConvertFailed(FileError::Write, file.folderOf, error, true);
            }
            continue;
        }
        const std::string working = file.journal->Path();
        if (m_convertFailed.load(std::memory_order_acquire)) {
            // Files after a failed one stay as working files, in order, for recovery.
            file.journal->Sync();
            m_kept.push_back(std::move(file.journal));
            continue;
        }
        const auto index = static_cast<std::uint32_t>(file.contents.header.settings.stamp->index);
        const std::string path = SeriesFileName(m_options.prefix, index);
        std::string failedPath = working;
        FileError error = file.journal->Sync();
        bool unsynced = false;
        if (error == FileError::None) {
            failedPath = path;
            error = ConvertJournal(working, file.contents, path);
            // Written and named, but its folder's sync failed.
            unsynced = error == FileError::Write && ::access(path.c_str(), F_OK) == 0;
        }
        const int cause = errno;
        std::error_code ignored;
        // A folder removed while the file was written: the file could not be created.
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (error == FileError::Write && !folder.empty() && !std::filesystem::exists(folder, ignored)) {
            error = FileError::Open;
        }
        if (error == FileError::Open && cause == EEXIST) {
            // Another program took the name: the working file keeps its samples, and the recording goes on.
            m_taken.push_back(std::move(file.journal));
            continue;
        }
        if (error != FileError::None) {
            // The DLF file is replaced whole or not at all; the working file keeps the samples.
            m_kept.push_back(std::move(file.journal));
            ConvertFailed(error, failedPath, cause, unsynced);
            continue;
        }
        file.journal->Close();
        // Should the removal not reach the disk, recovery finds the DLF file complete.
        {
            const std::lock_guard disk(m_diskMutex);
            if (!m_diskFrozen) std::filesystem::remove(working, ignored);
        }
        m_samplesInFiles += file.contents.samples;
        m_files.fetch_add(1, std::memory_order_relaxed);
    }
}

void Recorder::FreezeFiles() {
    const std::lock_guard disk(m_diskMutex);
    m_diskFrozen = true;
}

void Recorder::ConvertFailed(FileError error, const std::string& path, int cause, bool unsynced) {
    if (m_convertFailed.load(std::memory_order_acquire)) return;
    m_convertError = error;
    m_convertFailedPath = path;
    m_convertCause = cause;
    m_convertUnsynced = unsynced;
    m_convertFailed.store(true, std::memory_order_release);
    RequestStop();
}

void Recorder::WriterLoop() {
    m_lastFlush = std::chrono::steady_clock::now();
    for (;;) {
        Chunk front;
        Chunk current;
        bool haveFront = false;
        bool ended = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, CSV_FLUSH_INTERVAL, [this] { return !m_queue.empty() || m_ended; });
            haveFront = !m_queue.empty();
            if (haveFront) front = m_queue.front();
            current = m_current;
            ended = m_ended;
        }
        FollowClock(Samples() + current.lostBefore);
        const bool flushDue = std::chrono::steady_clock::now() - m_lastFlush >= RECORD_FLUSH_PERIOD;
        if (haveFront) {
            if (front.gapBefore && m_gapDoneAt != front.first) BeginGap(front);
            StreamCsv(front, front.first + front.count);
            SendBlock(front, front.first + front.count);
            AppendToFiles(front, front.first + front.count);
            const std::lock_guard lock(m_mutex);
            m_queue.pop_front();
            m_free.push_back(front.data);
        } else if (current.data != nullptr) {
            if (current.gapBefore && m_gapDoneAt != current.first) BeginGap(current);
            // Samples below the stored count are complete in the buffer still being filled.
            const std::uint64_t stored = std::min(Samples(), current.first + m_capacity);
            StreamCsv(current, stored);
            SendBlock(current, stored);
            if (flushDue) AppendToFiles(current, stored);
        }
        FlushCsv();
        if (ended && !haveFront) {
            if (m_journal->IsOpen() && !FilesFailed()) CompleteFile();
            if (m_journal->IsOpen()) SyncWorkingFile();
            break;
        }
        if (flushDue && m_journal->IsOpen() && !FilesFailed()) SyncWorkingFile();
    }
    {
        const std::lock_guard lock(m_convertMutex);
        m_writerDone = true;
    }
    m_convertWake.notify_one();
}
