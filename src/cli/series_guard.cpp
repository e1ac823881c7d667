#include "cli/series_guard.h"

#include <sys/stat.h>

#include "acquisition/record_targets.h"
#include "cli/cli.h"
#include "device/access.h"
#include "files/series_names.h"

namespace vosctl {

namespace {

// The files of one kind, named: "3 data files (run-000001.dlf to run-000003.dlf)".
std::string Listed(const std::vector<SeriesMember>& files, const char* kind) {
    std::string text =
        std::to_string(files.size()) + " " + kind + (files.size() == 1 ? "" : "s") + " (" + files.front().path;
    if (files.size() > 1) text += " to " + files.back().path;
    return text + ")";
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
    const PrefixCheck check = CheckRecordPrefix(targets.prefix, targets.lastIndex, targets.overwrite, lock);
    switch (check.verdict) {
    case PrefixCheck::Verdict::Free: return EXIT_OK;
    case PrefixCheck::Verdict::Busy:
        return Fail(EXIT_USAGE, refused,
                    "the prefix " + targets.prefix + " is " + check.holder + "; nothing was changed: choose another prefix" +
                        (!targets.overwrite                        ? ""
                         : check.holder.rfind("being recovered", 0) == 0 ? "; or try again once the recovery has ended"
                                                                        : "; --overwrite never removes a running recording's files"));
    case PrefixCheck::Verdict::LockFailed:
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Open),
                    check.path + ": " + FileErrorGloss(FileError::Open, check.path, check.error) +
                        "; the hidden file that holds the prefix while it is recorded; nothing was recorded");
    case PrefixCheck::Verdict::Unwritable:
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Open),
                    check.path + ": " + FileErrorGloss(FileError::Open, check.path, check.error) + "; " + check.role +
                        " of the series' widest index, tried before the logger starts; nothing was recorded");
    case PrefixCheck::Verdict::Unplaceable:
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Write),
                    check.path + ": the file system" + (check.fileSystem.empty() ? "" : " (" + check.fileSystem + ")") +
                        " cannot give a finished data file its name without replacing another file: " +
                        CauseGloss(check.error, check.path) + "; tried before the logger starts; nothing was recorded");
    case PrefixCheck::Verdict::Unsynced:
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Write),
                    check.path + ": the folder cannot be synced (" + CauseGloss(check.error, check.path) +
                        "), so the names of the files could be lost at a power failure; tried before the logger "
                        "starts; nothing was recorded");
    case PrefixCheck::Verdict::Unlisted:
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Read),
                    "the folder of " + targets.prefix + " cannot be listed: " +
                        FileErrorGloss(FileError::Open, targets.prefix, check.error));
    case PrefixCheck::Verdict::Taken: {
        const SeriesListing& series = check.series;
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
    case PrefixCheck::Verdict::WorkingInUse:
        return Fail(EXIT_USAGE, refused,
                    check.path + " is being written by a running program; nothing was changed: "
                                 "--overwrite never removes a file in use, choose another prefix");
    }
    return EXIT_OK;
}

}  // namespace vosctl
