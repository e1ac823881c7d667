#pragma once

#include <cstdint>
#include <string>

#include "record/samplesource.h"
#include "record/summaries.h"

/// Folder of the cached summaries: $XDG_CACHE_HOME/vosviewer/summaries, or
/// ~/.cache/vosviewer/summaries when XDG_CACHE_HOME is unset or relative;
/// "" when neither can be named.
std::string SummaryCacheFolder();

/// The most bytes the cache folder's entries take together:
/// VOS_SUMMARY_CACHE_MAX, a number of bytes with an optional K, M, G or T
/// (powers of 1024; 0 keeps nothing), or 1 GiB when unset or not such a
/// number.
std::uint64_t SummaryCacheLimit();

/// What a reader needs of the summaries: all levels, or only the
/// statistics of the whole and of each part, which an entry keeps apart
/// with a checksum of their own (`out.levels` is then empty).
enum class SummaryNeed { Everything, Statistics };

/// The cached summaries of `series` in `folder`, if an entry there was made
/// from these very files: the same paths, sizes, modification times, inodes
/// and a checksum of each file's header and a few blocks (a chmod keeps the
/// entry), and the checksums of the parts read agree. An entry that fails
/// any check is not used (and is replaced by the next StoreSummaries). A
/// used entry counts as the most recently used. False when there is none.
bool LoadSummaries(const std::string& folder, const SeriesSource& series,
                   const SummaryShape& shape, SummaryPyramid& out,
                   SummaryNeed need = SummaryNeed::Everything);

/// Writes the summaries of `series` to `folder` (created if missing) as a
/// whole entry, then removes the entries used longest ago until the folder
/// holds SummaryCacheLimit() bytes at most. An entry larger than the limit
/// is not stored. False, with `problem` (when given) naming the folder or
/// file and the cause and nothing else changed, when the entry cannot be
/// written, for example to a read-only cache folder.
bool StoreSummaries(const std::string& folder, const SeriesSource& series,
                    const SummaryPyramid& summaries, std::string* problem = nullptr);

/// The file in `folder` that holds the summaries of `series`.
std::string SummaryCachePath(const std::string& folder, const SeriesSource& series);

/// The summaries of `series` in the shape SummaryShapeFor its count: from the cache folder
/// when an entry there was made from these very files, otherwise built on
/// `threads` threads and stored there, with each file's statistics as a
/// part. A cache that cannot be written is no error: `cacheProblem` (when
/// given) then says why. `out` is complete only on Done; with `need`
/// Statistics a cached entry gives only the statistics.
SummaryResult SummariesOf(const SeriesSource& series, int threads, SummaryProgress& progress,
                          SummaryPyramid& out, std::string* cacheProblem = nullptr,
                          SummaryNeed need = SummaryNeed::Everything);
