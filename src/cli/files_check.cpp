#include "cli/files_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "settings/settings.h"
#include "cli/cli.h"
#include "cli/progress.h"
#include "device/access.h"
#include "files/series.h"
#include "files/series_names.h"

namespace vosctl {

std::string ClockText(std::int32_t divider) { return ClockName(divider); }

CLI::Validator NotDataFileName(const std::string& what) {
    return CLI::Validator(
        [what](std::string& path) -> std::string {
            std::string lower = path;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".dlf") == 0) {
                return "\"" + path + "\" ends in .dlf; " + what + " is never written over a data file's name";
            }
            return {};
        },
        "NOT *.dlf");
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

int LoadHeader(const std::string& path, DataFileHeader& header) {
    const FileError error = ReadDataFileHeader(path, header);
    return error == FileError::None ? EXIT_OK : FailFile(error, path);
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
