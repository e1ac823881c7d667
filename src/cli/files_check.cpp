#include "cli/files_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "settings/settings.h"
#include "cli/cli.h"
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

}  // namespace vosctl
