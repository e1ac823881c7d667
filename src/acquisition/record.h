#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/d2xx.h"
#include "device/transfer.h"
#include "device/trigger.h"
#include "files/csv.h"
#include "files/dlf.h"
#include "files/file.h"
#include "files/journal.h"

/// Result of a stream that the recorder ended because every sample buffer
/// was still waiting for the writer. Outside the driver's and the device
/// link's codes.
inline constexpr std::uint32_t RESULT_WRITER_BEHIND = 1000;

/// Sample buffers a recording may hold at most, in bytes; at least two
/// buffers are always allowed.
inline constexpr std::size_t RECORD_MEMORY_BUDGET = std::size_t{128} << 20;

/// Smallest --split that vosctl accepts: each file costs two syncs of the
/// disk, which a file a few milliseconds long could not keep up with.
inline constexpr std::uint32_t RECORD_MIN_SPLIT = 1000;

/// Samples per channel in one sample buffer, whatever the split: a file is
/// gathered in its working file, never in memory.
inline constexpr std::uint32_t RECORD_CHUNK_SAMPLES = 65536;

/// The working file receives the samples stored at least this often, each
/// time followed by fdatasync.
inline constexpr std::chrono::milliseconds RECORD_FLUSH_PERIOD{500};

/// Microseconds of one logger frame: a sample period is this times the clock divider.
inline constexpr std::int64_t LOGGER_FRAME_MICROS = 1000000 / LOGGER_FRAME_RATE;

/// Message of a recording that the writer could not keep up with (UTF-8).
inline constexpr const char* WRITER_BEHIND_MESSAGE = "ファイル書き込みが間に合いません";

/// Frames lost between the logger and the recorder (a stalled machine, an
/// overflowing receive queue). The file being filled ends before the gap and
/// the next file starts after it; its stamp's firstSample counts the lost
/// samples (from the steady clock's measure of the time lost), and its time
/// is the recording's start plus that many sample periods, as every file's
/// is, so the stamps show the gap and no step of the system clock moves one.
struct RecordGap {
    std::uint32_t fileBefore = 0;     ///< index of the file that ends at the gap; 0 without files
    std::uint64_t samplesBefore = 0;  ///< samples stored before the gap
    std::int64_t fromMicros = 0;      ///< UTC one sample period after the last sample before the gap
    std::int64_t toMicros = 0;        ///< UTC of the first sample after the gap
    std::uint64_t lostSamples = 0;    ///< samples the elapsed time says are missing, at least 1
};

/// What one unattended recording does.
struct RecordOptions {
    std::optional<std::int32_t> serial;  ///< none: the first logger of the family by description; vosctl names one (DefaultLoggerSerial)
    std::uint32_t divider = 1;           ///< one frame in `divider` is kept
    TriggerSetup trigger{};              ///< tested before the first stored sample; wait limit 0
    std::uint64_t sampleLimit = STREAM_UNLIMITED;
    std::uint32_t split = DLF_MAX_SAMPLE_COUNT;  ///< samples per file, 1..DLF_MAX_SAMPLE_COUNT
    /// Files PREFIX-000001.dlf, PREFIX-000002.dlf, ...; empty: no DLF files.
    std::string prefix;
    /// CSV rows, as CSV-Save writes them, streamed to this descriptor; -1: none.
    /// When it fails and there are DLF files, only the stream stops.
    int csvFd = -1;
    int csvSelection = CSV_SELECT_ALL;  ///< 0..3 one channel, otherwise all four
    std::size_t memoryBudget = RECORD_MEMORY_BUDGET;
    std::uint32_t bufferSamples = RECORD_CHUNK_SAMPLES;  ///< samples per channel in one buffer, at least 1
    /// The stop flag to use, e.g. one a signal handler sets to 1; null: the recorder's own.
    std::atomic<std::int32_t>* stopFlag = nullptr;
    /// Called once the logger is open and the settings are accepted, before
    /// the stream starts and before any file is written: the moment to clear
    /// what the recording replaces. An error other than None ends the
    /// recording (File) with the path it sets and errno as its cause; the
    /// logger is closed.
    std::function<FileError(std::string& failedPath)> beforeStream;
    /// Called on the writer thread for each gap, once the samples before it are written.
    std::function<void(const RecordGap&)> onGap;
    /// Called on the writer thread once for each step of the system clock
    /// during the recording (microseconds, forward positive), which moves
    /// no stamp: the stamps follow the samples from the start.
    std::function<void(std::int64_t stepMicros)> onClockStep;
    /// Called on the writer thread with the samples stored since its last
    /// call, in order and each once, as they are handed to the files: sample
    /// `first` (counted over the recording) on, `count` of each channel. For
    /// watching a recording live; it must return quickly.
    std::function<void(std::uint64_t first, std::uint32_t count, const double* const channels[4])> onBlock;
};

/// How a recording ended.
enum class RecordEnd {
    Done,          ///< the sample limit was reached, or a stop was requested
    Device,        ///< opening, calibrating or streaming failed
    File,          ///< a DLF file or the CSV stream could not be written
    WriterBehind,  ///< every buffer was still waiting for the writer
};

struct RecordOutcome {
    RecordEnd end = RecordEnd::Done;
    std::uint32_t deviceResult = 0;  ///< the device link's result (Device)
    FileError fileError = FileError::None;
    int fileCause = 0;          ///< errno of the file failure, 0 when unknown
    std::string failedPath;     ///< the file that could not be written (File); "" for the CSV stream
    std::string message;        ///< the text to show; empty when the recording ended well
    /// The file named failedPath has its name, but the sync of its folder
    /// failed (fileCause): the name may not survive a power failure; its
    /// working file was kept.
    bool folderUnsynced = false;
    std::uint64_t samples = 0;  ///< samples stored over the whole recording
    std::uint32_t files = 0;    ///< DLF files written completely
    std::uint64_t samplesInFiles = 0;  ///< samples in those files
    /// The working files left behind because a DLF file could not be
    /// written, the first and the last of them (consecutive indices), and the
    /// samples they hold together; "" when none.
    std::string workingFile;
    std::string lastWorkingFile;
    std::uint64_t workingSamples = 0;
    /// Data file names another program took before the recording reached
    /// them: their samples stay in their working files (takenWorkingFiles,
    /// takenSamples in all), which `vosctl recover` places once the names
    /// are free; the recording went on with the next files.
    std::vector<std::string> takenNames;
    std::vector<std::string> takenWorkingFiles;
    std::uint64_t takenSamples = 0;
    /// The folder of the series was moved or removed while recording: the
    /// data files written are no longer under their names; the working
    /// files are named where they are now.
    bool folderMoved = false;
    std::vector<RecordGap> gaps;  ///< in the order they happened
    std::vector<std::int64_t> clockSteps;  ///< the system clock's steps, microseconds, in order
    std::uint32_t largestQueue = 0;  ///< deepest driver receive queue seen, bytes
    std::size_t buffers = 0;    ///< sample buffers allocated
    bool csvStopped = false;    ///< the CSV stream failed and stopped; the DLF files went on
    int csvCause = 0;           ///< errno of the CSV stream's failure, 0 when unknown
};

/// The file name of the `index`-th file (1-based) of a series: PREFIX-000001.dlf.
std::string SeriesFileName(const std::string& prefix, std::uint32_t index);

/// The working file of the `index`-th file while it fills: PREFIX-000001.vrec.
std::string WorkingFileName(const std::string& prefix, std::uint32_t index);

/// The wall-clock time now, UTC, in microseconds since 1970.
std::int64_t UtcMicrosNow();

/// A difference between the system clock and the steady one larger than this
/// is a step of the system clock (a time service setting it), not drift.
inline constexpr std::int64_t CLOCK_STEP_MICROS = 200000;

/// 16 random bytes naming one recording in the stamp of its files.
std::array<std::uint8_t, 16> NewRecordingIdentity();

/// One unattended recording: one stream from one start command, its kept
/// samples split into consecutive DLF files and optionally streamed as CSV.
/// The calling thread reads the driver; a writer thread of the recorder
/// appends what was stored to the working file of the file being filled at
/// least every RECORD_FLUSH_PERIOD, each time followed by fdatasync; a
/// converter thread turns each complete working file, in order, into its DLF
/// file. Reading never waits for the disk, and syncing never waits for a
/// conversion. Frames lost on the way (StreamMonitor::watchLoss) end the
/// file being filled; the next file starts after the gap (RecordGap). Buffers of RECORD_CHUNK_SAMPLES within the memory budget bound
/// the memory whatever the split: when the reader needs one more and all are
/// still queued for the writer, the recording ends with WriterBehind instead
/// of dropping samples. A write failure ends the stream; every file finished
/// before stays as it is, the working file keeps what reached it, and the
/// samples received before a stop or a device failure are written.
class Recorder final : private StreamSink {
public:
    Recorder(const D2xxApi& api, RecordOptions options);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    /// Opens the logger, records, closes it and waits for the writer.
    RecordOutcome Run();

    /// Ends the recording after the frame in hand; safe from any thread and
    /// from a signal handler.
    void RequestStop() { m_stop->store(1, std::memory_order_relaxed); }
    /// Lets the converter remove no more working files: with the hidden new
    /// files removed first, which no data file then takes its name from, what
    /// is on disk stays as it is for a last word that lists it while the
    /// process ends without waiting. Waits at most for one removal.
    void FreezeFiles();

    /// Progress, readable from any thread while Run() runs.
    std::uint64_t Samples() const { return m_samples.load(std::memory_order_acquire); }
    std::uint32_t Files() const { return m_files.load(std::memory_order_relaxed); }
    std::uint32_t LargestQueue() const { return m_largestQueue.load(std::memory_order_relaxed); }

private:
    struct Chunk {
        double* data = nullptr;   // channel c at data + c * split
        std::uint64_t first = 0;  // index of its first sample among the samples stored
        std::uint32_t count = 0;
        std::uint64_t lostBefore = 0;  // samples lost before its first sample, over the whole recording
        bool gapBefore = false;        // frames were lost just before its first sample
    };

    // A file done with its working file, waiting for the converter.
    struct FinishedFile {
        std::unique_ptr<JournalWriter> journal;  // kept open, and so locked, until its DLF file is safe
        JournalContents contents;
        std::string folderOf;  // without a journal: a new working file whose folder needs a sync
    };

    std::uint32_t NextChunk(StreamChunk& chunk, std::uint32_t filled) override;
    void End(std::uint32_t filled) override;
    std::uint32_t Gap(const StreamGap& gap, StreamChunk& chunk, std::uint32_t& filled) override;
    std::uint32_t HandOut(StreamChunk& chunk);
    void QueueCurrent(std::uint32_t filled);
    double* TakeBuffer();
    double* NewBuffer();
    void WriterLoop();
    void StreamCsv(const Chunk& chunk, std::uint64_t upTo);
    void SendBlock(const Chunk& chunk, std::uint64_t upTo);
    bool FlushCsv();
    void WriteFailed(FileError error, const std::string& path);
    void AppendToFiles(const Chunk& chunk, std::uint64_t upTo);
    void SyncWorkingFile();
    void CompleteFile();
    void BeginGap(const Chunk& chunk);
    void FollowClock(std::uint64_t samples);
    void ConverterLoop();
    void ConvertFailed(FileError error, const std::string& path, int cause, bool unsynced);
    bool FilesFailed() const { return m_fileError != FileError::None && !m_failedPath.empty(); }

    const D2xxApi& m_api;
    const RecordOptions m_options;
    std::uint32_t m_capacity;  // samples per buffer: the split, or the whole recording when shorter
    std::size_t m_maxBuffers;

    std::atomic<std::int32_t> m_ownStop{0};
    std::atomic<std::int32_t>* m_stop;
    std::atomic<std::uint64_t> m_samples{0};
    std::atomic<std::uint32_t> m_files{0};
    std::atomic<std::uint32_t> m_largestQueue{0};

    // Shared by the reader and the writer under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::unique_ptr<double[]>> m_buffers;
    std::vector<double*> m_free;
    std::deque<Chunk> m_queue;  // filled, waiting for the writer
    Chunk m_current;            // being filled by the reader
    bool m_ended = false;

    // The writer's own.
    std::unique_ptr<char[]> m_csvText;
    std::size_t m_csvUsed = 0;
    std::uint64_t m_csvRow = 0;  // next CSV row to format
    std::uint64_t m_blockSent = 0;  // next sample for onBlock
    FileError m_fileError = FileError::None;
    int m_fileCause = 0;
    std::string m_failedPath;
    std::unique_ptr<JournalWriter> m_journal;
    std::uint64_t m_appended = 0;      // samples appended to working files
    std::uint32_t m_nextIndex = 1;     // of the next file to create
    std::int64_t m_segmentUtc = 0;     // UTC of the first sample since the latest gap
    std::uint64_t m_segmentFirst = 0;  // index of that sample among the samples stored
    std::uint64_t m_gapDoneAt = UINT64_MAX;  // first sample of the chunk whose gap was handled
    std::uint64_t m_lostSeen = 0;            // lost samples of the gaps handled
    std::vector<RecordGap> m_gaps;

    // Held by the converter while it removes a converted working file;
    // FreezeFiles ends the removals for good.
    std::mutex m_diskMutex;
    bool m_diskFrozen = false;
    // The converter's queue and results, under m_convertMutex.
    std::mutex m_convertMutex;
    std::condition_variable m_convertWake;
    std::deque<FinishedFile> m_finished;
    bool m_writerDone = false;
    std::atomic<bool> m_convertFailed{false};
    FileError m_convertError = FileError::None;
    int m_convertCause = 0;
    bool m_convertUnsynced = false;
    std::string m_convertFailedPath;
    std::vector<std::unique_ptr<JournalWriter>> m_kept;  // working files whose DLF file was not written
    std::vector<std::unique_ptr<JournalWriter>> m_taken;  // working files whose DLF name another program took
    std::uint64_t m_samplesInFiles = 0;
    bool m_unsynced = false;
    std::chrono::steady_clock::time_point m_lastFlush;
    // UTC of the first sample, read once, and the steady clock then: a
    // later difference between the two clocks is a step of the system clock.
    std::optional<std::int64_t> m_startMicros;
    std::int64_t m_startNanos = 0;
    std::int64_t m_clockOffset = 0;  // the system clock's steps told so far, summed
    std::vector<std::int64_t> m_clockSteps;
    std::array<std::uint8_t, 16> m_identity{};
    bool m_csvStopped = false;
    int m_csvCause = 0;
};
