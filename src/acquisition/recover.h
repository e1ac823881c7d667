#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file.h"

/// What recovery did with one working file of a series.
struct RecoveredFile {
    enum class Action {
        Written,   ///< its good blocks became the DLF file
        Complete,  ///< the DLF file was already complete; the working file was left over
        Empty,     ///< no sample had reached it
    };
    Action action = Action::Written;
    std::string workingFile;
    std::string dataFile;
    std::uint64_t samples = 0;      ///< samples per channel in the DLF file written
    std::uint64_t dropped = 0;      ///< whole samples in the damaged tail that was cut
    bool tailCut = false;           ///< bytes after the last good block were cut
    std::int64_t firstMicros = 0;   ///< UTC of the first and the last sample written
    std::int64_t lastMicros = 0;
};

struct RecoveryReport {
    std::vector<RecoveredFile> files;  ///< in the order of the series
    std::uint32_t seriesFiles = 0;     ///< DLF files of the series on disk afterwards
    FileError error = FileError::None;
    std::string failedPath;  ///< the file that stopped the recovery
    std::string reason;      ///< why, in English, when error is not None
};

/// Turns the working files PREFIX-NNNNNN.vrec that an interrupted recording
/// left into the DLF files it would have written: the samples of the good
/// blocks, in order, with the recording's settings and stamp; a damaged
/// tail is cut. A working file whose DLF file is already complete (same
/// recording and index) is removed; a DLF file of another recording is never
/// touched and stops the recovery. Each working file is removed once its
/// DLF file is safe. Running it again finds nothing left to do.
/// A working file that a running program holds is never touched: recovery
/// stops at it. The hidden temporary DLF files (.PREFIX-NNNNNN.dlf.PID-N.new)
/// that a conversion ended by a kill left are removed when their working
/// file still holds the samples and their process is gone.
RecoveryReport RecoverSeries(const std::string& prefix);

/// A run's working file that no running program holds.
struct LeftoverRun {
    std::string prefix;        ///< what RecoverSeries takes
    std::string workingFile;   ///< PREFIX-000001.vrec
    std::uint64_t samples = 0; ///< samples per channel in its good blocks
    std::int64_t startMicros = 0;  ///< UTC of its first sample
    std::int32_t clockDivider = 1;
};

/// The working files PREFIX-000001.vrec in `folder` left by runs that ended
/// with their program, oldest first; files held by a running program and
/// files whose header is damaged are not listed.
std::vector<LeftoverRun> FindLeftoverRuns(const std::string& folder);
