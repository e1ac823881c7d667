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

namespace vosctl {

namespace {

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
