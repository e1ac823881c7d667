#include "acquisition/recover.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "acquisition/record.h"
#include "device/transfer.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/series_names.h"

namespace {

// The index N of a name PREFIX-NNNNNN.EXT (six or more digits) in the prefix's folder; 0 for other names.
std::uint32_t SeriesIndex(const std::string& name, const std::string& base, const std::string& extension) {
    return SeriesIndexOf(name, base, extension);
}

bool Fail(RecoveryReport& report, FileError error, const std::string& path, const std::string& reason) {
    report.error = error;
    report.failedPath = path;
    report.reason = reason;
    return false;
}

void RemoveDurably(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    SyncFolder(std::filesystem::path(path).parent_path().string());
}

// True for ".NAME.PID-N.new", the temporary of a replacement of NAME by a process that is gone.
bool StaleTemporary(const std::string& entry, const std::string& name) {
    const std::string head = "." + name + ".";
    const std::string tail = ".new";
    if (entry.size() <= head.size() + tail.size() || entry.compare(0, head.size(), head) != 0 ||
        entry.compare(entry.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string middle = entry.substr(head.size(), entry.size() - head.size() - tail.size());
    const std::size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 10 || dash + 1 == middle.size() ||
        middle.find_first_not_of("0123456789-") != std::string::npos || middle.find('-', dash + 1) != std::string::npos) {
        return false;
    }
    const long pid = std::stol(middle.substr(0, dash));
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void RemoveStaleTemporaries(const std::string& dataFile) {
    const std::filesystem::path path(dataFile);
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const std::string name = path.filename().string();
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (StaleTemporary(it->path().filename().string(), name)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

bool RecoverOne(const std::string& prefix, std::uint32_t index, RecoveryReport& report) {
    RecoveredFile file;
    file.workingFile = WorkingFileName(prefix, index);
    file.dataFile = SeriesFileName(prefix, index);
    if (JournalInUse(file.workingFile)) {
        return Fail(report, FileError::Open, file.workingFile,
                    "a running program is writing this working file; it was left as it is");
    }
    RemoveStaleTemporaries(file.dataFile);
    JournalContents contents;
    const FileError scan = ScanJournal(file.workingFile, true, contents);
    if (scan == FileError::Format && contents.length < JOURNAL_HEADER_SIZE) {
        // Ended before its header was on disk: no sample ever reached it.
        file.action = RecoveredFile::Action::Empty;
        RemoveDurably(file.workingFile);
        report.files.push_back(file);
        return true;
    }
    if (scan == FileError::Format) {
        return Fail(report, scan, file.workingFile, "the working file's header is damaged; it was left as it is");
    }
    if (scan != FileError::None) return Fail(report, scan, file.workingFile, "");
    const DataFileHeader& settings = contents.header.settings;
    if (!settings.stamp || settings.stamp->index != index ||
        settings.stamp->firstSample != std::uint64_t{index - 1} * contents.header.split) {
        return Fail(report, FileError::Format, file.workingFile,
                    "the working file does not belong at this place of the series; it was left as it is");
    }
    file.samples = contents.samples;
    file.dropped = contents.droppedSamples;
    file.tailCut = contents.goodEnd < contents.length;
    const std::int64_t period = std::int64_t{settings.clockDivider} * LOGGER_FRAME_MICROS;
    file.firstMicros = settings.stamp->startMicros;
    file.lastMicros = file.firstMicros + static_cast<std::int64_t>(std::max<std::uint64_t>(file.samples, 1) - 1) * period;

    std::error_code error;
    if (std::filesystem::exists(file.dataFile, error)) {
        DataFileHeader existing;
        const FileError read = ReadDataFileHeader(file.dataFile, existing);
        if (read != FileError::None || !existing.stamp || existing.stamp->identity != settings.stamp->identity ||
            existing.stamp->index != index) {
            return Fail(report, read != FileError::None ? read : FileError::Format, file.dataFile,
                        "the file exists and is not this file of the recording; nothing was changed");
        }
        // The recording completed this file and was ended before it removed the working file.
        file.action = RecoveredFile::Action::Complete;
        file.samples = existing.sampleCount;
        file.lastMicros = file.firstMicros + static_cast<std::int64_t>(file.samples - 1) * period;
        RemoveDurably(file.workingFile);
        report.files.push_back(file);
        return true;
    }
    if (contents.samples == 0) {
        file.action = RecoveredFile::Action::Empty;
    } else if (const FileError written = ConvertJournal(file.workingFile, contents, file.dataFile);
               written != FileError::None) {
        return Fail(report, written, file.dataFile, "");
    }
    RemoveDurably(file.workingFile);
    report.files.push_back(file);
    return true;
}

}  // namespace

RecoveryReport RecoverSeries(const std::string& prefix) {
    RecoveryReport report;
    const std::filesystem::path prefixPath(prefix);
    const std::string base = prefixPath.filename().string();
    const std::filesystem::path folder = prefixPath.parent_path().empty() ? "." : prefixPath.parent_path();
    std::vector<std::uint32_t> working;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (const std::uint32_t index = SeriesIndex(it->path().filename().string(), base, ".vrec"); index != 0) {
            working.push_back(index);
        }
    }
    if (error) {
        Fail(report, FileError::Open, folder.string(), error.message());
        return report;
    }
    std::sort(working.begin(), working.end());
    for (const std::uint32_t index : working) {
        if (!RecoverOne(prefix, index, report)) break;
    }
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        report.seriesFiles += SeriesIndex(it->path().filename().string(), base, ".dlf") != 0;
    }
    return report;
}

std::vector<LeftoverRun> FindLeftoverRuns(const std::string& folder) {
    std::vector<LeftoverRun> runs;
    const std::string suffix = "-000001.vrec";
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        LeftoverRun run;
        run.workingFile = it->path().string();
        run.prefix = run.workingFile.substr(0, run.workingFile.size() - suffix.size());
        JournalContents contents;
        if (JournalInUse(run.workingFile) || ScanJournal(run.workingFile, true, contents) != FileError::None ||
            !contents.header.settings.stamp) {
            continue;
        }
        run.samples = contents.samples;
        run.startMicros = contents.header.settings.stamp->startMicros;
        run.clockDivider = contents.header.settings.clockDivider;
        runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end(),
              [](const LeftoverRun& a, const LeftoverRun& b) { return a.startMicros < b.startMicros; });
    return runs;
}
