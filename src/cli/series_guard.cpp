#include "cli/series_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "acquisition/record.h"
#include "cli/cli.h"
#include "device/access.h"
#include "files/journal.h"
#include "files/series_names.h"

namespace vosctl {

namespace {

// PID_MAX_LIMIT of 64-bit Linux: no process id is wider.
constexpr long WIDEST_PID = 4194304;

// The files of one kind, named: "3 data files (run-000001.dlf to run-000003.dlf)".
std::string Listed(const std::vector<SeriesMember>& files, const char* kind) {
    std::string text =
        std::to_string(files.size()) + " " + kind + (files.size() == 1 ? "" : "s") + " (" + files.front().path;
    if (files.size() > 1) text += " to " + files.back().path;
    return text + ")";
}

// Every name the series takes at `index`, tried in the order they are made.
int ProbeSeriesNames(const std::string& prefix, std::uint32_t index) {
    const std::string dataFile = SeriesFileName(prefix, index);
    const std::string names[] = {
        WorkingFileName(prefix, index),
        // The widest process id and replacement serial there can be.
        ReplacementTemporaryName(dataFile, WIDEST_PID, UINT32_MAX),
        dataFile,
    };
    const char* const roles[] = {"the working file", "the hidden new file of its conversion", "the data file"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (const int error = ProbeWritable(names[i]); error != 0) {
            return Fail(EXIT_FILE, FileErrorMessage(FileError::Open),
                        names[i] + ": " + FileErrorGloss(FileError::Open, names[i], error) + "; " + roles[i] +
                            " of the series' widest index, tried before the logger starts; nothing was recorded");
        }
    }
    return EXIT_OK;
}

}  // namespace

int CheckRecordTargets(const RecordTargets& targets, PrefixLock& lock) {
    const std::string refused = ResultMessage(RESULT_INVALID_PARAMETER);
    if (!targets.csv.empty() && targets.csv != "-" && !targets.overwrite) {
        struct stat info {};
        if (::stat(targets.csv.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            return Fail(EXIT_USAGE, refused,
                        targets.csv + " exists; nothing was changed: choose another name, or add --overwrite to "
                                      "replace it once the logger is open");
        }
    }
    if (targets.prefix.empty()) return EXIT_OK;
    // The prefix is taken first: the names tried below are then no running recording's.
    switch (lock.Acquire(targets.prefix)) {
    case PrefixLock::Result::Held: break;
    case PrefixLock::Result::Busy:
        return Fail(EXIT_USAGE, refused,
                    "the prefix " + targets.prefix + " is being recorded by a running process (pid " +
                        std::to_string(lock.Owner()) + "); nothing was changed: choose another prefix" +
                        (targets.overwrite ? "; --overwrite never removes a running recording's files" : ""));
    case PrefixLock::Result::Failed: {
        const int error = lock.Error();
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Open),
                    lock.Path() + ": " + FileErrorGloss(FileError::Open, lock.Path(), error) +
                        "; the hidden file that holds the prefix while it is recorded; nothing was recorded");
    }
    }
    // The names, and with them the folder, are tried now rather than days into the run.
    if (const int status = ProbeSeriesNames(targets.prefix, targets.lastIndex); status != EXIT_OK) return status;
    const SeriesListing series = ListSeries(targets.prefix);
    if (series.error != 0) {
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Read),
                    "the folder of " + targets.prefix + " cannot be listed: " +
                        FileErrorGloss(FileError::Open, targets.prefix, series.error));
    }
    if (!targets.overwrite && !series.Empty()) {
        std::string found;
        if (!series.dataFiles.empty()) found = Listed(series.dataFiles, "data file");
        if (!series.workingFiles.empty()) {
            found += (found.empty() ? "" : " and ") + Listed(series.workingFiles, "working file") +
                     " of a recording that was interrupted";
        }
        const std::string todo = series.workingFiles.empty()
                                     ? std::string()
                                     : "turn the working files into data files with `vosctl recover " +
                                           targets.prefix + "`, ";
        return Fail(EXIT_USAGE, refused,
                    "the prefix " + targets.prefix + " is in use: " + found + "; nothing was changed: " + todo +
                        "choose another prefix, or add --overwrite to remove the old series once the logger is open");
    }
    for (const SeriesMember& working : series.workingFiles) {
        if (JournalInUse(working.path)) {
            return Fail(EXIT_USAGE, refused,
                        working.path + " is being written by a running program; nothing was changed: "
                                       "--overwrite never removes a file in use, choose another prefix");
        }
    }
    return EXIT_OK;
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

}  // namespace vosctl
