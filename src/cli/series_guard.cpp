#include "cli/series_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "acquisition/record.h"
#include "cli/cli.h"
#include "device/access.h"

namespace vosctl {

namespace {

constexpr std::size_t INDEX_DIGITS = 6;

// The files of one kind, named: "3 data files (run-000001.dlf to run-000003.dlf)".
std::string Listed(const std::vector<std::string>& files, const char* kind) {
    std::string text = std::to_string(files.size()) + " " + kind + (files.size() == 1 ? "" : "s") + " (" + files.front();
    if (files.size() > 1) text += " to " + files.back();
    return text + ")";
}

}  // namespace

SeriesOnDisk FindSeries(const std::string& prefix) {
    const std::string base = std::filesystem::path(prefix).filename().string() + "-";
    const std::string folderPart = prefix.substr(0, prefix.size() + 1 - base.size());
    SeriesOnDisk found;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(folderPart.empty() ? "." : folderPart, error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, base.size(), base) != 0) continue;
        const std::size_t digitsEnd = name.find_first_not_of("0123456789", base.size());
        if (digitsEnd == std::string::npos || digitsEnd - base.size() < INDEX_DIGITS) continue;
        const std::string suffix = name.substr(digitsEnd);
        if (suffix == ".dlf") {
            found.dataFiles.push_back(folderPart + name);
        } else if (suffix == ".vrec") {
            found.workingFiles.push_back(folderPart + name);
        }
    }
    // Equal widths sort as numbers; a seventh digit comes after all six-digit names.
    const auto byIndex = [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    };
    std::sort(found.dataFiles.begin(), found.dataFiles.end(), byIndex);
    std::sort(found.workingFiles.begin(), found.workingFiles.end(), byIndex);
    return found;
}

int CheckRecordTargets(const RecordTargets& targets) {
    const std::string refused = ResultMessage(RESULT_INVALID_PARAMETER);
    if (!targets.prefix.empty() && !targets.overwrite) {
        const SeriesOnDisk series = FindSeries(targets.prefix);
        if (!series.Empty()) {
            std::string found;
            if (!series.dataFiles.empty()) found = Listed(series.dataFiles, "data file");
            if (!series.workingFiles.empty()) {
                found += (found.empty() ? "" : " and ") + Listed(series.workingFiles, "working file") +
                         " of a recording that was interrupted";
            }
            std::string todo = series.workingFiles.empty()
                                   ? std::string()
                                   : "turn the working files into data files with `vosctl recover " + targets.prefix + "`, ";
            return Fail(EXIT_USAGE, refused,
                        "the prefix " + targets.prefix + " is in use: " + found + "; nothing was changed: " + todo +
                            "choose another prefix, or add --overwrite to remove the old series once the logger is open");
        }
    }
    if (!targets.csv.empty() && targets.csv != "-" && !targets.overwrite) {
        struct stat info {};
        if (::stat(targets.csv.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            return Fail(EXIT_USAGE, refused,
                        targets.csv + " exists; nothing was changed: choose another name, or add --overwrite to "
                                      "replace it once the logger is open");
        }
    }
    if (!targets.prefix.empty()) {
        // The longest name the series will take, and with it the folder, is tried now rather than days into the run.
        const std::string longest = SeriesFileName(targets.prefix, targets.lastIndex);
        if (const int error = ProbeWritable(longest); error != 0) {
            return Fail(EXIT_FILE, FileErrorMessage(FileError::Open),
                        longest + ": " + FileErrorGloss(FileError::Open, longest, error) +
                            "; the longest name of the series, tried before the logger starts");
        }
    }
    return EXIT_OK;
}

FileError RemoveSeries(const std::string& prefix, std::string& failedPath) {
    const SeriesOnDisk series = FindSeries(prefix);
    for (const std::vector<std::string>* files : {&series.dataFiles, &series.workingFiles}) {
        for (const std::string& file : *files) {
            if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
                failedPath = file;
                return FileError::Write;
            }
        }
    }
    return FileError::None;
}

}  // namespace vosctl
