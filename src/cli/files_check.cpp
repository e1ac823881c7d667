#include "cli/files_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <climits>
#include <map>
#include <set>
#include <utility>

#include "settings/settings.h"
#include "cli/cli.h"
#include "cli/progress.h"
#include "device/access.h"
#include "files/series.h"
#include "files/series_names.h"

namespace vosctl {

namespace {

constexpr std::size_t SERIES_NUMBER_LENGTH = 6;

bool EndsIn(const std::string& path, const std::string& extension) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.size() >= extension.size() &&
           lower.compare(lower.size() - extension.size(), extension.size(), extension) == 0;
}

bool EndsInDataFileName(const std::string& path) { return EndsIn(path, ".dlf"); }

// The file standard output is written to when it is a data file: its name,
// or "" when it is no data file. A pipe, a terminal or a device is none;
// an appended or new regular file is one when its name says so or when it
// already holds a header Open accepts.
std::string DataFileOnStandardOutput() {
    struct stat info {};
    if (::fstat(STDOUT_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    char name[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/fd/1", name, sizeof name - 1);
    const std::string path = length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
    if (EndsInDataFileName(path)) {
        return path;
    }
    // Read through the descriptor: standard output may be open for writing only.
    DataFileHeader header;
    if (ReadDataFileHeader("/proc/self/fd/1", header) == FileError::None) {
        return path.empty() ? std::string("a data file") : path;
    }
    return {};
}

}  // namespace

std::string ClockText(std::int32_t divider) { return ClockName(divider); }

CLI::Validator NotDataFileName(const std::string& what) {
    return CLI::Validator(
        [what](std::string& path) -> std::string {
            if (EndsInDataFileName(path)) {
                return "\"" + path + "\" ends in .dlf; " + what + " is never written over a data file's name";
            }
            // A recording's working file, or one it has yet to begin, whose name taken would end it.
            if (EndsIn(path, SERIES_WORKING_EXTENSION)) {
                return "\"" + path + "\" ends in .vrec; " + what + " is never written over a working file's name";
            }
            return {};
        },
        "NOT *.dlf, *.vrec");
}

CLI::Validator NotAFolder(const std::string& what, const std::string& example) {
    return CLI::Validator(
        [what, example](std::string& path) -> std::string {
            struct stat info {};
            if (!path.empty() && path.back() == '/') {
                return "\"" + path + "\" ends in a slash; " + what + " names files, e.g. " + path + example;
            }
            if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                return "\"" + path + "\" is a folder; " + what + " names files, e.g. " + path + "/" + example;
            }
            return {};
        },
        "");
}

int RefuseInputAsOutput(const std::string& output, std::span<const std::string> inputs) {
    struct stat target {};
    const bool exists = output == "-" ? ::fstat(STDOUT_FILENO, &target) == 0 : ::stat(output.c_str(), &target) == 0;
    if (!exists) {
        return EXIT_OK;
    }
    for (const std::string& input : inputs) {
        struct stat info {};
        if (::stat(input.c_str(), &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino) {
            // The shell's > empties its file before any program runs: no program can refuse it in time.
            const bool emptied = output == "-" && S_ISREG(info.st_mode) && info.st_size == 0;
            return Fail(EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                        (output == "-" ? std::string("standard output") : output) + " is the input " + input +
                            (emptied ? ", which is empty: a > redirection empties its file before vosctl starts, so "
                                       "what it held was already gone; write with -o FILE instead"
                                     : "") +
                            "; nothing was written, choose another output");
        }
    }
    if (output == "-") {
        if (const std::string data = DataFileOnStandardOutput(); !data.empty()) {
            return Fail(EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                        "standard output is the data file " + data + "; nothing was written, choose another output");
        }
    }
    return EXIT_OK;
}

int ExpandSeriesArguments(std::vector<std::string>& files) {
    ExpandedArguments expanded = ExpandPrefixes(files);
    if (!expanded.ambiguous.empty()) {
        const std::vector<SeriesMember>& series = expanded.ambiguousSeries;
        return Fail(EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                    expanded.ambiguous + " is a file and also the prefix of the series " + series.front().path +
                        (series.size() > 1 ? " to " + series.back().path : std::string()) +
                        "; nothing was read: rename the file, or name the series' files");
    }
    files = std::move(expanded.files);
    return EXIT_OK;
}

std::string SeriesPrefix(const std::string& path, unsigned long& number) {
    std::string prefix;
    number = DataFileIndex(path, prefix);
    return prefix;
}

std::string RepeatedOrOutOfOrderText(std::span<const std::string> paths) {
    std::set<std::string> names;
    std::map<std::pair<dev_t, ino_t>, std::size_t> files;
    std::map<std::string, std::size_t> lastOfPrefix;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!names.insert(paths[i]).second) {
            return paths[i] + " is named twice; each file of a record is given once";
        }
        struct stat info {};
        if (::stat(paths[i].c_str(), &info) == 0) {
            const auto [seen, added] = files.try_emplace({info.st_dev, info.st_ino}, i);
            if (!added) {
                return paths[seen->second] + " and " + paths[i] +
                       " are one file under two names; each file of a record is given once";
            }
        }
        unsigned long number = 0;
        const std::string prefix = SeriesPrefix(paths[i], number);
        if (prefix.empty()) {
            continue;
        }
        const auto last = lastOfPrefix.find(prefix);
        if (last != lastOfPrefix.end()) {
            unsigned long before = 0;
            SeriesPrefix(paths[last->second], before);
            if (before > number) {
                return paths[last->second] + " comes before " + paths[i] +
                       "; give the numbered files of a series in the order of their numbers";
            }
        }
        lastOfPrefix[prefix] = i;
    }
    return {};
}

int RefuseRepeatedOrOutOfOrder(std::span<const std::string> paths, const std::string& consequence) {
    const std::string why = RepeatedOrOutOfOrderText(paths);
    return why.empty() ? EXIT_OK : Fail(EXIT_FILE, FileErrorMessage(FileError::Format), why + "; " + consequence);
}

int LoadHeader(const std::string& path, DataFileHeader& header) {
    const FileError error = ReadDataFileHeader(path, header);
    return error == FileError::None ? EXIT_OK : FailFile(error, path);
}

int LoadRecordHeaders(const std::vector<std::string>& paths, std::vector<DataFileHeader>& headers,
                      const std::string& undone) {
    headers.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (const int status = LoadHeader(paths[i], headers[i]); status != EXIT_OK) {
            return status;
        }
    }
    if (const std::string mix = MixedFilesText(paths, headers); !mix.empty()) {
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Format),
                    mix + "; they do not form one record, nothing was " + undone);
    }
    return EXIT_OK;
}

namespace {

// "after run-000003.dlf, from 2026-12-08T04:30:00.250000Z, 2.100000 s, about 21000 samples"
std::string GapText(std::span<const std::string> paths, const SeriesGap& gap) {
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%.6f s", static_cast<double>(gap.toMicros - gap.fromMicros) / 1e6);
    return "after " + paths[gap.before] + ", from " + UtcText(gap.fromMicros) + ", " + seconds + ", about " +
           std::to_string(gap.lostSamples) + " samples";
}

}  // namespace

void WarnOfGaps(const char* command, std::span<const std::string> paths, std::span<const DataFileHeader> headers) {
    const std::vector<SeriesGap> gaps = SeriesGaps(headers);
    if (gaps.empty()) return;
    std::string text = std::string("vosctl ") + command + ": the series has " + std::to_string(gaps.size()) +
                       (gaps.size() == 1 ? " gap" : " gaps") + " where frames were lost while it was recorded (";
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        text += (i == 0 ? "" : "; ") + GapText(paths, gaps[i]);
    }
    text += "); its samples are taken as consecutive\n";
    std::fputs(text.c_str(), stderr);
}

}  // namespace vosctl
