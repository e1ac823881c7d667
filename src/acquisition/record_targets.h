#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "acquisition/record.h"
#include "files/file.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"

// What a recording to files checks before the logger is opened, so that no
// series and no working file of an earlier or a running recording is lost or
// mixed into a new one, and a name that cannot be created is found at once;
// and what it says at the end about what is on disk. vosctl record and the
// window's recording share these.

/// Samples per channel of a recording `seconds` long at `divider`, rounded up.
std::uint64_t RecordSampleLimit(std::uint64_t seconds, std::uint32_t divider);

/// Index of the last file of a recording of `sampleLimit` samples split
/// every `split`; UINT32_MAX for a recording without a limit.
std::uint32_t RecordLastIndex(std::uint64_t sampleLimit, std::uint32_t split);

/// The verdict on a prefix, in the order the checks run.
struct PrefixCheck {
    enum class Verdict {
        Free,          ///< the prefix is taken in the lock and may be recorded
        Busy,          ///< a running recording or recovery holds the prefix: owner, holder
        LockFailed,    ///< the lock file `path` could not be made: error
        Unwritable,    ///< the name `path` (its `role`) cannot be created: error
        Unplaceable,   ///< a data file cannot take the name `path` on this fileSystem: error
        Unsynced,      ///< the folder `path` cannot be synced: error
        Unlisted,      ///< the folder of the prefix cannot be listed: error
        Taken,         ///< files of the series exist (without overwrite): series
        WorkingInUse,  ///< with overwrite, the working file `path` is held by a running program
    };
    Verdict verdict = Verdict::Free;
    pid_t owner = 0;
    std::string holder;  ///< PrefixLock::Holder(): "being recorded by a running process (pid N, user U)"
    int error = 0;
    std::string path;
    std::string fileSystem;  ///< FileSystemName of the folder, for Unplaceable
    std::string role;  ///< "the working file", "the hidden new file of its conversion" or "the data file"
    SeriesListing series;
};

/// Takes `prefix` in `lock` for the rest of the recording, then creates and
/// removes every name the series will take at its widest index `lastIndex`
/// (data file, working file, the hidden new file of a conversion), places
/// the data file from that new file as a conversion would, and syncs the
/// folder, so that a file system that lacks what the recording needs is
/// found before the logger opens. A prefix
/// that a running recording holds is refused (with or without `overwrite`)
/// before any of its names is touched; a prefix with files is refused
/// unless `overwrite`, and with `overwrite` a working file that a running
/// program holds. The lock is held only when the verdict is Free.
PrefixCheck CheckRecordPrefix(const std::string& prefix, std::uint32_t lastIndex, bool overwrite, PrefixLock& lock);

/// Removes every data and working file of the series PREFIX and the hidden
/// new files that processes now gone left, for an overwrite once the logger
/// is open (CheckRecordPrefix has refused a working file in use). Write,
/// with the file in `failedPath` and errno, when a file could not be removed.
FileError RemoveSeries(const std::string& prefix, std::string& failedPath);

/// "frames lost from 2026-12-08T04:30:00.250000Z for 3.000100 s, about 30001
/// samples, after sample N; run-000002.dlf ends before the gap, run-000003.dlf starts after it".
std::string RecordGapText(const RecordGap& gap, const std::string& prefix);

/// "warning: the system clock was set back by 3600.000 s during the
/// recording; ..." for a step of the system clock (RecordOptions::onClockStep).
std::string ClockStepText(std::int64_t stepMicros);

/// What was received and exactly what of it is on disk: "N samples (m:ss at
/// 10kHz) in K files P-000001.dlf to P-00000K.dlf", with the samples in a
/// working file left and those lost, then `extra`, the elapsed time and the
/// gaps, one line each. Empty when the recording never started.
std::string RecordSummaryText(const RecordOutcome& outcome, const RecordOptions& options, std::int64_t elapsedSeconds,
                              const std::string& extra = {});

/// What a recording that ended with RecordEnd::File says of it: "PATH:
/// `gloss`; the files before it are complete", where `gloss` is the caller's
/// words for fileError and fileCause and `cause` for fileCause alone. A
/// folder that could not be synced is said as such, and a recording that
/// completed no data file never calls its working files complete.
std::string RecordFileFailureText(const RecordOutcome& outcome, const std::string& gloss, const std::string& cause);
