#include "cli/series_summaries.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>

#include "cli/cli.h"
#include "cli/progress.h"
#include "display/summary_cache.h"

namespace vosctl {

int OpenSeriesSummaries(const std::vector<std::string>& paths, SeriesSource& series, SummaryPyramid& summaries) {
    if (const FileError error = series.Open(paths); error != FileError::None) {
        // The headers passed, so what is left is a record too long to count
        // or a file that changed meanwhile.
        return Fail(EXIT_FILE, FileErrorMessage(error),
                    error == FileError::Format && series.Reader().LastSeriesCheck()
                        ? "the files hold more than " + std::to_string(UINT32_MAX) + " samples per channel together"
                        : "the files could not be read as one record");
    }
    SummaryProgress progress;
    CountProgress line(stderr, ::isatty(STDERR_FILENO) == 1, "summaries", progress.done, series.Count());
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const SummaryResult result = SummariesOf(series, threads, progress, summaries);
    line.Finish();
    if (result != SummaryResult::Done) {
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Read), "a file of the series could not be read");
    }
    return EXIT_OK;
}

}  // namespace vosctl
