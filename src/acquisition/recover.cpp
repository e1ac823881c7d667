#include "acquisition/recover.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "acquisition/record.h"
#include "device/transfer.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"

namespace {

bool Fail(RecoveryReport& report, FileError error, const std::string& path, const std::string& reason, int cause = 0) {
    report.error = error;
    report.failedPath = path;
    report.reason = reason;
    report.cause = cause;
    return false;
}

// What a failed sync of the folder of `path` means after `done`.
std::string UnsyncedText(int error, const std::string& done) {
    return "the sync of its folder failed (" + std::generic_category().message(error) + ") after " + done +
           ", which may not survive a power failure";
}

// Removes `path` and makes the removal durable: 0, or the errno of the folder's sync.
int RemoveDurably(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return SyncFolder(ParentFolder(path));
}

// Ends `file` as removed when its removal is durable; else records the failure and stops.
bool Removed(RecoveryReport& report, RecoveredFile& file) {
    const int error = RemoveDurably(file.workingFile);
    report.files.push_back(file);
    if (error == 0) return true;
    return Fail(report, FileError::Write, file.workingFile, UnsyncedText(error, "it was removed"), error);
}

// The indices of the series' files on disk, each list ascending.
struct SeriesOnDisk {
    std::vector<std::uint32_t> working;
    std::vector<std::uint32_t> data;

    bool Has(const std::vector<std::uint32_t>& list, std::uint32_t index) const {
        return std::binary_search(list.begin(), list.end(), index);
    }
    std::uint32_t Highest() const {
        return std::max(working.empty() ? 0 : working.back(), data.empty() ? 0 : data.back());
    }
};

std::string Count(std::uint64_t value) { return std::to_string(value); }

// Gives the working file a name that record and recover do not take for a
// live series: PREFIX-NNNNNN.vrec.damaged, or .damaged-2 and on when taken.
bool KeepAside(const std::string& working, std::string& keptAs) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        keptAs = working + ".damaged" + (attempt > 1 ? "-" + std::to_string(attempt) : "");
        if (RenameToNewName(working, keptAs)) {
            if (const int error = SyncFolder(ParentFolder(working)); error != 0) {
                errno = error;
                return false;
            }
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// A data file of the series that another file of this index must agree with:
// the nearest one before `index`, else the nearest after it.
std::uint32_t ReferenceFile(const SeriesOnDisk& disk, std::uint32_t index) {
    std::uint32_t before = 0;
    std::uint32_t after = 0;
    for (const std::uint32_t data : disk.data) {
        if (data < index) before = data;
        if (data > index && after == 0) after = data;
    }
    return before != 0 ? before : after;
}

bool RecoverOne(const std::string& prefix, std::uint32_t index, const SeriesOnDisk& disk, RecoveryReport& report) {
    RecoveredFile file;
    file.workingFile = WorkingFileName(prefix, index);
    file.dataFile = SeriesFileName(prefix, index);
    if (JournalInUse(file.workingFile)) {
        return Fail(report, FileError::Open, file.workingFile,
                    "a running program is writing this working file; it was left as it is");
    }
    JournalContents contents;
    const FileError scan = ScanJournal(file.workingFile, true, contents);
    if (scan == FileError::Format && contents.length < JOURNAL_HEADER_SIZE) {
        // Ended before its header was on disk: no sample ever reached it.
        file.action = RecoveredFile::Action::Empty;
        return Removed(report, file);
    }
    if (scan == FileError::Format) {
        return Fail(report, scan, file.workingFile, "the working file's header is damaged; it was left as it is");
    }
    if (scan != FileError::None) return Fail(report, scan, file.workingFile, "");
    const DataFileHeader& settings = contents.header.settings;
    if (!settings.stamp || settings.stamp->index != index) {
        return Fail(report, FileError::Format, file.workingFile,
                    settings.stamp ? "the working file is file " + Count(settings.stamp->index) +
                                         " of its recording, not file " + Count(index) + "; it was left as it is"
                                   : "the working file does not belong at this place of the series; it was left as it is");
    }
    const RecordingStamp& stamp = *settings.stamp;
    if (const std::uint32_t reference = ReferenceFile(disk, index); reference != 0) {
        DataFileHeader other;
        const std::string otherPath = SeriesFileName(prefix, reference);
        if (ReadDataFileHeader(otherPath, other) == FileError::None && other.stamp && other.stamp->identity != stamp.identity) {
            return Fail(report, FileError::Format, file.workingFile,
                        "the working file belongs to another recording than " + otherPath + "; it was left as it is");
        }
        // Samples are never in two files of a series: this one starts after the file before it ends.
        const std::uint64_t otherEnd = other.stamp ? other.stamp->firstSample + other.sampleCount : 0;
        if (reference == index - 1 && other.stamp && stamp.firstSample < otherEnd) {
            return Fail(report, FileError::Format, file.workingFile,
                        "the working file starts at sample " + Count(stamp.firstSample) + ", before the end of " +
                            otherPath + " (sample " + Count(otherEnd) + "); it was left as it is");
        }
    }

    // The data files to write: runs of segments whose samples join, the first as this index.
    const std::int64_t period = std::int64_t{settings.clockDivider} * LOGGER_FRAME_MICROS;
    struct Plan {
        std::vector<JournalSegment> segments;
        RecoveredPart part;
    };
    std::vector<Plan> plans;
    for (const JournalSegment& segment : contents.segments) {
        if (plans.empty() || plans.back().part.firstSample + plans.back().part.samples != segment.firstSample) {
            plans.push_back({});
            plans.back().part.firstSample = segment.firstSample;
        }
        plans.back().segments.push_back(segment);
        plans.back().part.samples += segment.samples;
    }
    for (std::size_t i = 0; i < plans.size(); ++i) {
        RecoveredPart& part = plans[i].part;
        part.dataFile = SeriesFileName(prefix, index + static_cast<std::uint32_t>(i));
        part.firstMicros = stamp.startMicros + static_cast<std::int64_t>(part.firstSample) * period;
        part.lastMicros = part.firstMicros + static_cast<std::int64_t>(part.samples - 1) * period;
    }
    // Later files can take the next names only where the series has no file after this one.
    const std::size_t placeable = disk.Highest() > index ? std::min<std::size_t>(plans.size(), 1) : plans.size();
    file.tailCut = contents.goodEnd < contents.length;
    file.dropped = contents.droppedSamples;
    file.repeated = contents.repeatedSamples;

    for (std::size_t i = 0; i < placeable; ++i) {
        const Plan& plan = plans[i];
        DataFileHeader header = settings;
        header.sampleCount = static_cast<std::uint32_t>(plan.part.samples);
        header.stamp->index = index + i;
        header.stamp->firstSample = stamp.firstSample + plan.part.firstSample;
        header.stamp->startMicros = plan.part.firstMicros;
        std::error_code error;
        if (std::filesystem::exists(plan.part.dataFile, error)) {
            DataFileHeader existing;
            const FileError read = ReadDataFileHeader(plan.part.dataFile, existing);
            if (read != FileError::None || !existing.stamp || existing.stamp->identity != stamp.identity ||
                existing.stamp->index != header.stamp->index) {
                return Fail(report, read != FileError::None ? read : FileError::Format, plan.part.dataFile,
                            "the file exists and is not this file of the recording; nothing was changed");
            }
            if (existing.stamp->firstSample != header.stamp->firstSample || existing.sampleCount < header.sampleCount) {
                return Fail(report, FileError::Format, plan.part.dataFile,
                            "the file holds " + Count(existing.sampleCount) + " samples of this recording from sample " +
                                Count(existing.stamp->firstSample) + ", the working file " + Count(header.sampleCount) +
                                " from sample " + Count(header.stamp->firstSample) +
                                "; both were left as they are: move the data file aside and run recover again");
            }
            // The recording (or a recovery before) completed this file and was ended before it removed the working file.
            if (i == 0 && plans.size() == 1 && contents.straySamples == 0) file.action = RecoveredFile::Action::Complete;
            RecoveredPart done = plan.part;
            done.samples = existing.sampleCount;
            done.lastMicros = done.firstMicros + static_cast<std::int64_t>(done.samples - 1) * period;
            if (file.action == RecoveredFile::Action::Complete) {
                file.samples = done.samples;
                file.firstMicros = done.firstMicros;
                file.lastMicros = done.lastMicros;
                file.tailCut = false;
                return Removed(report, file);
            }
            file.parts.push_back(done);
            file.samples += done.samples;
            continue;
        }
        if (const FileError written = ConvertJournalSegments(file.workingFile, plan.segments, header, plan.part.dataFile);
            written != FileError::None) {
            const int cause = errno;
            file.stopped = true;
            const bool named = std::filesystem::exists(plan.part.dataFile, error);
            // Written and named, but not made durable: it counts, and the working file stays too.
            if (written == FileError::Write && named) {
                file.parts.push_back(plan.part);
                file.samples += plan.part.samples;
                file.firstMicros = file.parts.front().firstMicros;
                file.lastMicros = file.parts.back().lastMicros;
            }
            report.files.push_back(file);
            const std::string left = "the working file " + file.workingFile + " was left as it is";
            return Fail(report, written, plan.part.dataFile,
                        written == FileError::Open && named
                            ? "another program took this name meanwhile; it was not replaced, and " + left
                        : written == FileError::Write && named ? UnsyncedText(cause, "it was written") + "; " + left
                                                               : "",
                        cause);
        }
        file.parts.push_back(plan.part);
        file.samples += plan.part.samples;
    }
    // Gaps: before each part that does not start where the one before it ended.
    std::uint64_t expected = 0;
    std::string before = index > 1 && disk.Has(disk.data, index - 1) ? SeriesFileName(prefix, index - 1) : "";
    for (const RecoveredPart& part : file.parts) {
        if (part.firstSample > expected) {
            const std::uint64_t lost = part.firstSample - expected;
            file.gaps.push_back({before, part.dataFile, stamp.startMicros + static_cast<std::int64_t>(expected) * period,
                                 static_cast<std::int64_t>(lost) * period, lost});
        }
        expected = part.firstSample + part.samples;
        before = part.dataFile;
    }
    if (!file.parts.empty()) {
        file.firstMicros = file.parts.front().firstMicros;
        file.lastMicros = file.parts.back().lastMicros;
    } else {
        file.action = RecoveredFile::Action::Empty;
        file.firstMicros = file.lastMicros = stamp.startMicros;
    }
    for (std::size_t i = placeable; i < plans.size(); ++i) file.keptSamples += plans[i].part.samples;
    file.keptSamples += contents.straySamples;
    if (file.keptSamples > 0) {
        if (!KeepAside(file.workingFile, file.keptAs)) {
            const int cause = errno;
            std::error_code error;
            if (std::filesystem::exists(file.keptAs, error)) {
                report.files.push_back(file);
                return Fail(report, FileError::Write, file.keptAs,
                            UnsyncedText(cause, "the working file was renamed so"), cause);
            }
            file.keptAs.clear();
            file.stopped = true;
            report.files.push_back(file);
            return Fail(report, FileError::Write, file.workingFile,
                        std::string("it holds ") + Count(file.keptSamples) +
                            " samples in no data file and could not be renamed: " + std::strerror(errno) +
                            "; it was left as it is");
        }
        report.files.push_back(file);
        return true;
    }
    return Removed(report, file);
}

}  // namespace

RecoveryReport RecoverSeries(const std::string& prefix) {
    RecoveryReport report;
    const std::filesystem::path prefixPath(prefix);
    const std::string base = prefixPath.filename().string();
    const std::filesystem::path folder = prefixPath.parent_path().empty() ? "." : prefixPath.parent_path();
    // Nothing of the series is removed or placed while a recording or another recovery works on it.
    PrefixLock lock;
    switch (lock.Acquire(prefix, PrefixRole::Recover)) {
    case PrefixLock::Result::Held: break;
    case PrefixLock::Result::Busy:
        Fail(report, FileError::Open, prefix, "the prefix is " + lock.Holder() + "; nothing was changed");
        return report;
    case PrefixLock::Result::Failed:
        if (lock.Error() == ENOENT) {
            Fail(report, FileError::Open, folder.string(), "the folder does not exist");
        } else {
            Fail(report, FileError::Open, lock.Path(),
                 std::generic_category().message(lock.Error()) +
                     "; the hidden file that holds the prefix while it is recovered could not be made; nothing was changed");
        }
        return report;
    }
    const SeriesListing listing = ListSeries(prefix);
    if (listing.error != 0) {
        Fail(report, FileError::Open, folder.string(), std::generic_category().message(listing.error));
        return report;
    }
    SeriesOnDisk disk;
    for (const SeriesMember& member : listing.workingFiles) disk.working.push_back(member.index);
    for (const SeriesMember& member : listing.dataFiles) disk.data.push_back(member.index);
    // Temporaries of a replacement ended by a kill: their process is gone.
    for (const SeriesTemporary& temporary : listing.temporaries) {
        if (ProcessGone(temporary.pid)) ::unlink(temporary.path.c_str());
    }
    const std::vector<std::uint32_t> working = disk.working;
    for (const std::uint32_t index : working) {
        if (!RecoverOne(prefix, index, disk, report)) break;
        // What it wrote is part of the series for the working files after it.
        disk.working.erase(std::find(disk.working.begin(), disk.working.end(), index));
        for (const RecoveredPart& part : report.files.back().parts) {
            const std::uint32_t written = SeriesIndexOf(std::filesystem::path(part.dataFile).filename().string(), base, ".dlf");
            if (written != 0 && !disk.Has(disk.data, written)) {
                disk.data.insert(std::upper_bound(disk.data.begin(), disk.data.end(), written), written);
            }
        }
    }
    report.seriesFiles = static_cast<std::uint32_t>(ListSeries(prefix).dataFiles.size());
    return report;
}

namespace {

// The working file `path` of the series `prefix` as a left run; false when a
// running program holds it or its header is damaged.
bool ReadLeftover(const std::string& path, const std::string& prefix, LeftoverRun& run) {
    run.workingFile = path;
    run.prefix = prefix;
    JournalContents contents;
    if (JournalInUse(run.workingFile) || ScanJournal(run.workingFile, true, contents) != FileError::None ||
        !contents.header.settings.stamp) {
        return false;
    }
    run.samples = contents.samples;
    run.damaged = contents.goodEnd < contents.length || contents.straySamples > 0 || contents.segments.size() > 1 ||
                  (!contents.segments.empty() && contents.segments[0].firstSample > 0);
    run.startMicros = contents.header.settings.stamp->startMicros;
    run.clockDivider = contents.header.settings.clockDivider;
    return true;
}

}  // namespace

std::vector<LeftoverRun> FindLeftoverRuns(const std::string& folder) {
    std::vector<LeftoverRun> runs;
    const std::string suffix = "-000001.vrec";
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string path = it->path().string();
        LeftoverRun run;
        if (ReadLeftover(path, path.substr(0, path.size() - suffix.size()), run)) runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end(),
              [](const LeftoverRun& a, const LeftoverRun& b) { return a.startMicros < b.startMicros; });
    return runs;
}

std::vector<LeftoverRun> FindLeftoverRecording(const std::string& prefix) {
    std::vector<LeftoverRun> runs;
    for (const SeriesMember& working : ListSeries(prefix).workingFiles) {
        LeftoverRun run;
        if (ReadLeftover(working.path, prefix, run)) runs.push_back(run);
    }
    return runs;
}
