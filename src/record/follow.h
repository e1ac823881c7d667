#pragma once

// A recording that is still being written, read as one record that only
// grows: its data files, then the good blocks of its working files, in the
// order of their numbers. The recorder is never disturbed: its files are
// opened read-only, never locked, renamed or written, and each Poll reads
// only what is new.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "record/samplesource.h"
#include "record/time_map.h"
#include "files/dlf.h"
#include "files/file.h"
#include "files/journal.h"

/// What a followed recording is at the last Poll, as the window shows it.
struct FollowStatus {
    bool running = false;       ///< the recorder still holds the prefix
    std::uint64_t samples = 0;  ///< samples per channel readable now
    std::size_t files = 0;      ///< files the samples lie in
    std::size_t workingFiles = 0;  ///< of them, working files not converted yet
    /// UTC of the last sample in microseconds since 1970, from its file's
    /// stamp; nullopt without samples or stamp.
    std::optional<std::int64_t> lastSampleMicros;
    /// The last fault met, with the file it lies in: the record keeps what
    /// was read before it.
    FileError error = FileError::None;
    std::string errorPath;
};

/// A file of a record read from several files, as the window marks it.
struct RecordFile {
    std::uint64_t first = 0;  ///< its first sample's place in the record
    std::string path;         ///< its name now: a working file's until it is converted
    bool gapBefore = false;   ///< the recorder lost samples just before it
    friend bool operator==(const RecordFile&, const RecordFile&) = default;
};

/// A running recording of the series PREFIX as one growing record. Reads
/// (the SampleSource calls) are safe from several threads while one thread
/// polls; the samples below a Count() once seen never change.
class FollowedRecording final : public SampleSource {
public:
    struct Options {
        /// The recorder runs in this process: its prefix lock is then only
        /// looked at, never opened, since closing any descriptor of the lock
        /// file would let the process's own lock go.
        bool recorderInProcess = false;
    };

    FollowedRecording();
    ~FollowedRecording() override;
    FollowedRecording(const FollowedRecording&) = delete;
    FollowedRecording& operator=(const FollowedRecording&) = delete;

    /// Follows the series PREFIX from its first file on and reads what is
    /// there now. Open when there is neither a file of the series nor a
    /// recording holding it; Format when its numbers leave a hole.
    FileError Open(const std::string& prefix, Options options);
    /// Follows the series of `paths` (its files in order, the newest a
    /// working file PREFIX-NNNNNN.vrec or a data file) from the first one on.
    /// Format for a path that is no member of a series.
    FileError OpenFiles(const std::vector<std::string>& paths, Options options);

    /// Picks up new blocks, a working file converted to its data file (whose
    /// samples keep their places) and the next files, and whether the
    /// recording ended; true when anything of Status() changed. Nothing more
    /// happens once it ended.
    bool Poll();
    const FollowStatus& Status() const { return m_status; }
    const std::string& Prefix() const { return m_prefix; }

    /// Index in the record of the first sample of each file, ascending, the
    /// first 0 (the parts of BuildSummaries).
    std::vector<std::uint64_t> FileStarts() const;
    /// The files holding the first `count` samples, in order.
    std::vector<RecordFile> Files(std::uint64_t count) const;
    /// The file that holds sample `sample` (< Count()) now.
    std::string FileOf(std::uint64_t sample) const;
    /// The stamp a part starting at `sample` (< Count()) would carry: its
    /// file's stamp moved on to it; nullopt when that file has no stamp.
    std::optional<RecordingStamp> StampFrom(std::uint64_t sample) const;
    /// The settings of its first file (clock, trigger); nullopt before it has one.
    std::optional<DataFileHeader> FirstHeader() const;
    /// UTC of `sample` (< Count()) in microseconds since 1970; nullopt
    /// without a stamp in its file.
    std::optional<std::int64_t> SampleTimeMicros(std::uint64_t sample) const;
    /// When each of the first `count` samples was taken.
    TimeMap Times(std::uint64_t count) const;

    std::uint64_t Count() const override { return m_count.load(std::memory_order_acquire); }
    std::int32_t ClockDivider() const override { return m_clockDivider.load(std::memory_order_relaxed); }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override;
    double At(int channel, std::uint64_t sample) const override;
    /// UNREADABLE_RUN for what cannot be read.
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override;

    /// True once after any read failed since the last call.
    bool TakeReadFailure() const { return m_readFailed.exchange(false); }

private:
    struct Part;
    class Descriptors;

    FileError Start(const std::string& prefix, std::uint32_t firstIndex, Options options);
    bool RecorderHolds() const;
    /// Reads what is new: blocks, converted working files, the next files.
    void ReadOn();
    /// The file `index` as a new part, a data file before a working file;
    /// false when neither is there (yet).
    bool AddPart(std::uint32_t index);
    /// Reads on in the working file of `part`; true when it grew.
    bool ScanWorking(Part& part);
    /// Takes the data file of the working `part` in its place once it holds
    /// every sample shown; true when it did.
    bool TakeDataFile(Part& part);
    void Fault(FileError error, const std::string& path);
    void UpdateStatus();
    bool ReadPart(const Part& part, int channel, std::uint64_t from, std::uint64_t count, double* out) const;

    std::string m_prefix;
    Options m_options;
    std::uint32_t m_nextIndex = 1;
    bool m_ended = false;
    FollowStatus m_status;

    /// Guards the parts against Poll's changes while readers read.
    mutable std::shared_mutex m_partsMutex;
    std::vector<std::unique_ptr<Part>> m_parts;
    std::unique_ptr<Descriptors> m_descriptors;
    std::atomic<std::uint64_t> m_count{0};
    std::atomic<std::int32_t> m_clockDivider{1};
    mutable std::atomic<bool> m_readFailed{false};
};
