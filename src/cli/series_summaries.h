#pragma once

#include <string>
#include <vector>

#include "record/samplesource.h"
#include "record/summaries.h"
#include "record/summary_cache.h"

namespace vosctl {

/// Opens `paths` as one record and takes its summaries as the window does
/// (SummariesOf: from the user's cache, else built on every core and stored
/// there, a cache that cannot be written said on standard error), with a progress line while they are taken when standard error is
/// a terminal. The files must already have passed the series check. Prints
/// the failure and returns its exit status; EXIT_OK with both filled (with
/// `need` Statistics, a cached series gives only the statistics).
int OpenSeriesSummaries(const std::vector<std::string>& paths, SeriesSource& series, SummaryPyramid& summaries,
                        SummaryNeed need = SummaryNeed::Everything);

/// The help text's paragraph on the summaries cache: where it is, its limit
/// and how to change it.
std::string SummaryCacheHelp();

}  // namespace vosctl
