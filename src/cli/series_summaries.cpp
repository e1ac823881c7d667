#include "cli/series_summaries.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <thread>

#include "cli/cli.h"
#include "cli/progress.h"
#include "record/summary_cache.h"

namespace vosctl {

int OpenSeriesSummaries(const std::vector<std::string>& paths, SeriesSource& series, SummaryPyramid& summaries,
                        SummaryNeed need) {
    if (const FileError error = series.Open(paths); error != FileError::None) {
        // The headers passed, so what is left is a file that changed meanwhile.
        return Fail(EXIT_FILE, FileErrorMessage(error), "the files could not be read as one record");
    }
    SummaryProgress progress;
    CountProgress line(stderr, ::isatty(STDERR_FILENO) == 1, "summaries", progress.done, series.Count());
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string cacheProblem;
    const SummaryResult result = SummariesOf(series, threads, progress, summaries, &cacheProblem, need);
    line.Finish();
    if (!cacheProblem.empty()) {
        std::fprintf(stderr, "vosctl: the summaries could not be cached (%s); they are built again at each run\n",
                     cacheProblem.c_str());
    }
    if (result != SummaryResult::Done) {
        return Fail(EXIT_FILE, FileErrorMessage(FileError::Read), "a file of the series could not be read");
    }
    return EXIT_OK;
}

std::string SummaryCacheHelp() {
    return "The summaries cache ($XDG_CACHE_HOME/vosviewer/summaries, else\n"
           "~/.cache/vosviewer/summaries) keeps at most 1 GiB, removing the entries used\n"
           "longest ago; VOS_SUMMARY_CACHE_MAX sets another limit in bytes, with an optional\n"
           "K, M, G or T (0 keeps nothing). A cache that cannot be written is said on\n"
           "standard error.\n\n";
}

}  // namespace vosctl
