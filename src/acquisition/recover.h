#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file.h"

/// One data file that recovery wrote from a working file.
struct RecoveredPart {
    std::string dataFile;
    std::uint64_t firstSample = 0;  ///< its stamp's firstSample: samples of the recording before it
    std::uint64_t samples = 0;      ///< samples per channel
    std::int64_t firstMicros = 0;   ///< UTC of its first and its last sample
    std::int64_t lastMicros = 0;
};

/// Samples of a working file lost in damaged bytes before a data file.
struct RecoveredGap {
    std::string before;  ///< the data file before the gap; "" at the start of the recording
    std::string after;   ///< the data file after it
    std::int64_t fromMicros = 0;  ///< UTC of the first sample lost
    std::int64_t micros = 0;      ///< how long the gap lasts
    std::uint64_t samples = 0;    ///< samples per channel lost
};

/// What recovery did with one working file of a series.
struct RecoveredFile {
    enum class Action {
        Written,   ///< its good blocks became the DLF file(s)
        Complete,  ///< the DLF file was already complete; the working file was left over
        Empty,     ///< no sample had reached it
    };
    Action action = Action::Written;
    std::string workingFile;
    std::string dataFile;           ///< the data file of its index
    /// The data files written from it, in order: after damage in the middle,
    /// the blocks beyond it go to the next files of the series, each with
    /// its true first sample and time.
    std::vector<RecoveredPart> parts;
    std::vector<RecoveredGap> gaps;  ///< damaged stretches before a part
    std::uint64_t samples = 0;      ///< samples per channel in the DLF files written
    std::uint64_t dropped = 0;      ///< whole samples in the damaged tail that was cut
    bool tailCut = false;           ///< bytes after the last good block were cut
    std::uint64_t repeated = 0;     ///< samples of blocks found twice, written once
    std::int64_t firstMicros = 0;   ///< UTC of the first and the last sample written
    std::int64_t lastMicros = 0;
    /// Where the working file was kept (PREFIX-NNNNNN.vrec.damaged) because
    /// some of its intact samples could not be put into data files; empty
    /// when it was removed.
    std::string keptAs;
    std::uint64_t keptSamples = 0;  ///< intact samples it holds that are in no data file
    bool stopped = false;  ///< recovery stopped at it after writing `parts`; the working file stays
};

struct RecoveryReport {
    std::vector<RecoveredFile> files;  ///< in the order of the series
    std::uint32_t seriesFiles = 0;     ///< DLF files of the series on disk afterwards
    FileError error = FileError::None;
    std::string failedPath;  ///< the file that stopped the recovery
    std::string reason;      ///< why, in English, when error is not None; "" when cause tells it
    int cause = 0;           ///< errno of the failure, 0 when unknown
};

/// Turns the working files PREFIX-NNNNNN.vrec that an interrupted recording
/// left into the DLF files it would have written: the samples of the good
/// blocks, in order, with the recording's settings and stamp; a damaged
/// tail is cut. Good blocks after damage in the middle become the next files
/// of the series, their stamps telling their true first sample and time;
/// where those names are taken (a later file of the series exists), or
/// blocks are out of order, the working file is renamed
/// PREFIX-NNNNNN.vrec.damaged instead of removed. A working file whose DLF
/// file already holds all its samples (same recording and index) is removed;
/// a DLF file of another recording, a shorter one of the same, or a working
/// file of another recording than the series' data files is never touched
/// and stops the recovery. A DLF file is only ever given a name no file has.
/// Each working file is removed once its DLF files are safe. Running it again
/// finds nothing left to do. A working file that a running program holds is
/// never touched: recovery stops at it. The hidden temporary DLF files
/// (.PREFIX-NNNNNN.dlf.PID-N.new) that a kill left are removed when their
/// process is gone.
/// The prefix is held (PrefixLock, role Recover) for the whole recovery: a
/// prefix that a recording or another recovery holds is refused with Open
/// before anything is touched, and a lock file a killed holder left is gone
/// afterwards.
RecoveryReport RecoverSeries(const std::string& prefix);

/// A run's working file that no running program holds.
struct LeftoverRun {
    std::string prefix;        ///< what RecoverSeries takes
    std::string workingFile;   ///< PREFIX-000001.vrec
    std::uint64_t samples = 0; ///< samples per channel in its good blocks
    std::int64_t startMicros = 0;  ///< UTC of its first sample
    std::int32_t clockDivider = 1;
    /// Bytes beyond its header that are no good block: recovery keeps the
    /// intact blocks and reports what the damage cost.
    bool damaged = false;
};

/// The working files PREFIX-000001.vrec in `folder` left by runs that ended
/// with their program, oldest first; files held by a running program and
/// files whose header is damaged are not listed.
std::vector<LeftoverRun> FindLeftoverRuns(const std::string& folder);

/// The working files of the series PREFIX that a recording left, in index
/// order, as FindLeftoverRuns lists a run's: for a recording that ended with
/// its program, whatever file it was filling.
std::vector<LeftoverRun> FindLeftoverRecording(const std::string& prefix);
