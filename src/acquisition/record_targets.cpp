#include "acquisition/record_targets.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>

#include "files/journal.h"
#include "numtext/duration.h"
#include "settings/settings.h"

namespace {

// PID_MAX_LIMIT of 64-bit Linux: no process id is wider.
constexpr long WIDEST_PID = 4194304;

std::string CountOf(std::uint64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// "P-000001.dlf to P-000003.dlf", the one name, or "" when there is no file.
std::string FileRange(const std::string& prefix, std::uint32_t files) {
    if (files == 0) return "";
    const std::string first = SeriesFileName(prefix, 1);
    return files == 1 ? first : first + " to " + SeriesFileName(prefix, files);
}

}  // namespace

std::uint64_t RecordSampleLimit(std::uint64_t seconds, std::uint32_t divider) {
    return (seconds * LOGGER_FRAME_RATE + divider - 1) / divider;
}

std::uint32_t RecordLastIndex(std::uint64_t sampleLimit, std::uint32_t split) {
    if (sampleLimit == STREAM_UNLIMITED) return UINT32_MAX;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>((sampleLimit + split - 1) / split, UINT32_MAX));
}

PrefixCheck CheckRecordPrefix(const std::string& prefix, std::uint32_t lastIndex, bool overwrite, PrefixLock& lock) {
    PrefixCheck check;
    // The prefix is taken first: the names tried below are then no running recording's.
    switch (lock.Acquire(prefix)) {
    case PrefixLock::Result::Held: break;
    case PrefixLock::Result::Busy:
        check.verdict = PrefixCheck::Verdict::Busy;
        check.owner = lock.Owner();
        check.holder = lock.Holder();
        return check;
    case PrefixLock::Result::Failed:
        check.verdict = PrefixCheck::Verdict::LockFailed;
        check.error = lock.Error();
        check.path = lock.Path();
        return check;
    }
    const auto refuse = [&](PrefixCheck::Verdict verdict) {
        lock.Release();
        check.verdict = verdict;
        return check;
    };
    // The names, and with them the folder, are tried now rather than days into the run.
    const std::string dataFile = SeriesFileName(prefix, lastIndex);
    const std::string names[] = {
        WorkingFileName(prefix, lastIndex),
        // The widest process id and replacement serial there can be.
        ReplacementTemporaryName(dataFile, WIDEST_PID, UINT32_MAX),
        dataFile,
    };
    const char* const roles[] = {"the working file", "the hidden new file of its conversion", "the data file"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (const int error = ProbeWritable(names[i]); error != 0) {
            check.error = error;
            check.path = names[i];
            check.role = roles[i];
            return refuse(PrefixCheck::Verdict::Unwritable);
        }
    }
    // A name of this recording's own that no file has, where the data file may exist (--overwrite).
    if (const int error = ProbeNewNamePlacement(names[1], ReplacementTemporaryName(dataFile, WIDEST_PID, UINT32_MAX - 1));
        error != 0) {
        check.error = error;
        check.path = dataFile;
        check.fileSystem = FileSystemName(ParentFolder(prefix));
        return refuse(PrefixCheck::Verdict::Unplaceable);
    }
    if (const int error = SyncFolder(ParentFolder(prefix)); error != 0) {
        check.error = error;
        check.path = ParentFolder(prefix);
        return refuse(PrefixCheck::Verdict::Unsynced);
    }
    check.series = ListSeries(prefix);
    if (check.series.error != 0) {
        check.error = check.series.error;
        check.path = prefix;
        return refuse(PrefixCheck::Verdict::Unlisted);
    }
    if (!overwrite && !check.series.Empty()) return refuse(PrefixCheck::Verdict::Taken);
    for (const SeriesMember& working : check.series.workingFiles) {
        if (JournalInUse(working.path)) {
            check.path = working.path;
            return refuse(PrefixCheck::Verdict::WorkingInUse);
        }
    }
    return check;
}

FileError RemoveSeries(const std::string& prefix, std::string& failedPath) {
    const SeriesListing series = ListSeries(prefix);
    if (series.error != 0) {
        failedPath = prefix;
        errno = series.error;
        return FileError::Open;
    }
    for (const std::vector<SeriesMember>* files : {&series.dataFiles, &series.workingFiles}) {
        for (const SeriesMember& file : *files) {
            if (::unlink(file.path.c_str()) != 0 && errno != ENOENT) {
                failedPath = file.path;
                return FileError::Write;
            }
        }
    }
    // What a conversion ended by a kill left; a running process's own stays.
    for (const SeriesTemporary& temporary : series.temporaries) {
        if (ProcessGone(temporary.pid)) ::unlink(temporary.path.c_str());
    }
    return FileError::None;
}

std::string RecordGapText(const RecordGap& gap, const std::string& prefix) {
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%.6f s", static_cast<double>(gap.toMicros - gap.fromMicros) / 1e6);
    std::string text = "frames lost from " + UtcText(gap.fromMicros) + " for " + seconds + ", about " +
                       std::to_string(gap.lostSamples) + " samples, after sample " + std::to_string(gap.samplesBefore);
    if (gap.fileBefore != 0) {
        text += "; " + SeriesFileName(prefix, gap.fileBefore) + " ends before the gap, " +
                SeriesFileName(prefix, gap.fileBefore + 1) + " starts after it";
    }
    return text;
}

std::string ClockStepText(std::int64_t stepMicros) {
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%.3f s", static_cast<double>(stepMicros < 0 ? -stepMicros : stepMicros) / 1e6);
    return std::string("warning: the system clock was set ") + (stepMicros < 0 ? "back" : "forward") + " by " + seconds +
           " during the recording; the files' times go on from the recording's start by their samples";
}

std::string RecordSummaryText(const RecordOutcome& outcome, const RecordOptions& options, std::int64_t elapsedSeconds,
                              const std::string& extra) {
    if (outcome.buffers == 0) return "";
    const auto recorded = static_cast<std::int64_t>(outcome.samples * options.divider / LOGGER_FRAME_RATE);
    std::string text = CountOf(outcome.samples, "sample") + " (" + ElapsedText(recorded) + " at " +
                       CLOCK_TEXTS[ClockIndexForDivider(static_cast<std::int32_t>(options.divider))] + ")";
    const std::string files = CountOf(outcome.files, "file");
    // Data files are consecutive but for the names another program took.
    std::string but;
    for (const std::string& taken : outcome.takenNames) but += (but.empty() ? " but " : ", ") + taken;
    const std::string named =
        outcome.files == 0 ? ""
                           : " " + FileRange(options.prefix, outcome.files + static_cast<std::uint32_t>(outcome.takenNames.size())) + but +
                                 (outcome.folderMoved ? " (no longer there: their folder was moved or removed while recording)"
                                                      : "");
    // Where the working files are now, should their folder have moved.
    const std::string recoverPrefix = outcome.workingFile.substr(0, outcome.workingFile.rfind('-'));
    if (options.prefix.empty() || outcome.samplesInFiles == outcome.samples) {
        text += " in " + files + named;
    } else {
        text += " received, " + std::to_string(outcome.samplesInFiles) + " of them in " + files + named;
        if (outcome.workingFile == outcome.lastWorkingFile && !outcome.workingFile.empty()) {
            text += ", " + std::to_string(outcome.workingSamples) + " in the working file " + outcome.workingFile +
                    " (`vosctl recover " + recoverPrefix + "` makes it a DLF file)";
        } else if (!outcome.workingFile.empty()) {
            text += ", " + std::to_string(outcome.workingSamples) + " in the working files " + outcome.workingFile +
                    " to " + outcome.lastWorkingFile + " (`vosctl recover " + recoverPrefix + "` makes them DLF files)";
        }
        if (!outcome.takenNames.empty()) {
            std::string names;
            for (std::size_t i = 0; i < outcome.takenNames.size(); ++i) {
                names += (i == 0 ? "" : ", ") + outcome.takenWorkingFiles[i] + " (" + outcome.takenNames[i] + ")";
            }
            text += ", " + std::to_string(outcome.takenSamples) + " in the working " +
                    (outcome.takenNames.size() == 1 ? "file " : "files ") + names +
                    " whose data file name another program took (`vosctl recover " + options.prefix +
                    "` places them once those files are moved aside)";
        }
        const std::uint64_t lost =
            outcome.samples - outcome.samplesInFiles - outcome.workingSamples - outcome.takenSamples;
        text += ", " + std::to_string(lost) + " lost";
    }
    text += ", " + ElapsedText(elapsedSeconds) + " elapsed, largest receive queue " +
            std::to_string(outcome.largestQueue) + " bytes" + extra;
    if (!outcome.gaps.empty()) {
        std::uint64_t lost = 0;
        for (const RecordGap& gap : outcome.gaps) lost += gap.lostSamples;
        text += ", " + std::to_string(outcome.gaps.size()) + (outcome.gaps.size() == 1 ? " gap" : " gaps") +
                " where frames were lost, about " + std::to_string(lost) + " samples:";
    }
    return text;
}

std::string RecordFileFailureText(const RecordOutcome& outcome, const std::string& gloss, const std::string& cause) {
    std::string text = outcome.failedPath + ": ";
    const bool dataFile = outcome.failedPath.ends_with(SERIES_DATA_EXTENSION);
    text += outcome.folderUnsynced ? "the sync of its folder failed (" + cause + "), so its name may not survive a power failure" +
                                         (dataFile ? "; its working file was kept" : "")
                                   : gloss;
    return text + (outcome.files > 0 ? "; the files before it are complete"
                                     : "; no data file was completed: what reached the disk is in the working files");
}
