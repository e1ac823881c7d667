// The envelopes of the window's full-view redraw of a series, without the
// painting: the four channels at the window's columns, through the cached
// summaries. Prints the median seconds of one redraw's envelopes, for
// python_bench.py to compare vosviewer's envelope with.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "display/envelope.h"
#include "record/summaries.h"
#include "record/summary_cache.h"

int main(int argc, char** argv) {
    const std::vector<std::string> paths(argv + 1, argv + argc);
    SeriesSource source;
    if (paths.empty() || source.Open(paths) != FileError::None) {
        std::fprintf(stderr, "usage: bench_python_envelope FILE.dlf...: the files must open as one record\n");
        return 2;
    }
    SummaryProgress progress;
    SummaryPyramid summaries;
    if (SummariesOf(source, 2, progress, summaries) != SummaryResult::Done) {
        std::fprintf(stderr, "the series could not be read\n");
        return 4;
    }
    // The window's plot area at its default size: 1,000 pixels wide.
    const Rect plot{0, 0, 1000, 200};
    auto tables = std::make_unique<ColumnTables>();
    std::vector<double> seconds;
    for (int run = 0; run < 9; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int channel = 0; channel < 4; ++channel) {
            BuildEnvelope(*tables, channel, source, summaries, 0, source.Count(), plot);
        }
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.9f\n", seconds[seconds.size() / 2]);
    return 0;
}
