#include "cli/files_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <set>
#include <utility>

#include "settings/settings.h"
#include "cli/cli.h"
#include "device/access.h"
#include "files/series.h"

namespace vosctl {

namespace {

constexpr std::size_t SERIES_NUMBER_LENGTH = 6;

bool EndsInDataFileName(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".dlf") == 0;
}

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

// "file 2 of recording 0123..., from sample 1000"
std::string StampText(const DataFileHeader& header) {
    return "file " + std::to_string(header.stamp->index) + " of recording " + IdentityText(header.stamp->identity) +
           ", from sample " + std::to_string(header.stamp->firstSample);
}

std::string SeriesFaultGloss(const SeriesCheck& check, const std::string& a, const DataFileHeader& ha,
                             const std::string& b, const DataFileHeader& hb) {
    switch (check.fault) {
    case SeriesFault::None: break;
    case SeriesFault::Clock:
        return a + " (" + ClockText(ha.clockDivider) + ") and " + b + " (" + ClockText(hb.clockDivider) +
               ") have different clocks";
    case SeriesFault::Recording:
        return a + " and " + b + " belong to two different recordings (" + IdentityText(ha.stamp->identity) +
               " and " + IdentityText(hb.stamp->identity) + ")";
    case SeriesFault::Gap:
        if (!ha.stamp) {
            return a + " has no recording stamp but stands between files of one recording, before " + b + " (" +
                   StampText(hb) + ")";
        }
        return b + " (" + StampText(hb) + ") does not follow " + a + " (" + StampText(ha) + ", " +
               std::to_string(ha.sampleCount) + " samples): a file of the series is missing or repeated";
    }
    return {};
}

}  // namespace

std::string ClockText(std::int32_t divider) {
    const std::int32_t index = ClockIndexForDivider(divider);
    return CLOCK_DIVIDERS[index] == divider ? CLOCK_TEXTS[index] : "divider " + std::to_string(divider);
}

CLI::Validator NotDataFileName(const std::string& what) {
    return CLI::Validator(
        [what](std::string& path) -> std::string {
            if (EndsInDataFileName(path)) {
                return "\"" + path + "\" ends in .dlf; " + what + " is never written over a data file's name";
            }
            return {};
        },
        "NOT *.dlf");
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
            return Fail(EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                        (output == "-" ? std::string("standard output") : output) + " is the input " + input +
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

std::string SeriesPrefix(const std::string& path, unsigned long& number) {
    const std::size_t suffix = path.size() >= 4 ? path.size() - 4 : 0;
    if (suffix < SERIES_NUMBER_LENGTH + 1 || path.compare(suffix, 4, ".dlf") != 0 ||
        path[suffix - SERIES_NUMBER_LENGTH - 1] != '-') {
        return {};
    }
    const std::string digits = path.substr(suffix - SERIES_NUMBER_LENGTH, SERIES_NUMBER_LENGTH);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    number = std::stoul(digits);
    return path.substr(0, suffix - SERIES_NUMBER_LENGTH - 1);
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

std::string MixedFilesText(std::span<const std::string> paths, std::span<const DataFileHeader> headers) {
    const SeriesCheck check = CheckSeries(headers);
    return check ? std::string()
                 : SeriesFaultGloss(check, paths[check.first], headers[check.first], paths[check.second],
                                    headers[check.second]);
}

}  // namespace vosctl
