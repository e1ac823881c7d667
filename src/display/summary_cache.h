#pragma once

#include <string>

#include "display/samplesource.h"
#include "display/summaries.h"

/// Folder of the cached summaries: $XDG_CACHE_HOME/vosviewer/summaries, or
/// ~/.cache/vosviewer/summaries when XDG_CACHE_HOME is unset or relative;
/// "" when neither can be named.
std::string SummaryCacheFolder();

/// The cached summaries of `series` in `folder`, if a file there was made
/// from these very files: the same paths, sizes, modification and change
/// times, inodes and a checksum of each file's header and a few blocks. A
/// file that fails any check is not used (and is overwritten by the next
/// StoreSummaries). False when there is none.
bool LoadSummaries(const std::string& folder, const SeriesSource& series,
                   const SummaryShape& shape, SummaryPyramid& out);

/// Writes the summaries of `series` to `folder` (created if missing) as a
/// whole file; false, with nothing else changed, when that cannot be done,
/// for example on a read-only cache folder.
bool StoreSummaries(const std::string& folder, const SeriesSource& series,
                    const SummaryPyramid& summaries);

/// The file in `folder` that holds the summaries of `series`.
std::string SummaryCachePath(const std::string& folder, const SeriesSource& series);

/// The summaries of `series` in the default shape: from the cache folder
/// when a file there was made from these very files, otherwise built on
/// `threads` threads and stored there (a cache that cannot be written is no
/// error), with each file's statistics as a part. `out` is complete only on Done.
SummaryResult SummariesOf(const SeriesSource& series, int threads, SummaryProgress& progress,
                          SummaryPyramid& out);
