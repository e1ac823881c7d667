#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "files/dlf.h"
#include "record/time_map.h"

// --from and --to: a part of a record named by sample, time or UTC.
namespace vosctl {

/// A time span with units d, h, m, s, ms and us, largest first and each at
/// most once, any of them with a decimal fraction: "90s", "1h30m", "0.25s",
/// "1.5h", "2d", "250ms", "1s500ms", "100us". Whole microseconds in
/// `micros`; "" or why the text is refused.
std::string ParseTimeSpan(const std::string& text, std::uint64_t& micros);

/// One end of a range as written: a sample index ("12345"), a time from the
/// record's start (ParseTimeSpan), or a UTC time ("2026-12-08T02:00:00Z",
/// seconds with up to six decimals, "Z" or an offset such as "+00:00" or
/// "+09:00").
struct RangeBound {
    enum class Kind { Sample, Time, Utc } kind = Kind::Sample;
    std::uint64_t sample = 0;
    std::uint64_t micros = 0;  ///< from the start, for Time
    std::int64_t utc = 0;      ///< microseconds since 1970, for Utc
};
std::string ParseRangeBound(const std::string& text, RangeBound& bound);

/// A record's length and clock, and when each sample was taken.
struct RecordSpan {
    std::uint64_t count = 0;
    std::int32_t clockDivider = 1;
    TimeMap times;
};

/// The span of files with `headers`, taken as one record in this order.
RecordSpan SpanOfFiles(const std::vector<DataFileHeader>& headers);

/// Samples [first, last) that --from and --to name ("" for the record's
/// start and end): a time from the start is real time, gaps included, and
/// names the first sample taken at or after it (the first after a gap for a
/// time inside it), as a UTC time does. EXIT_OK, or
/// EXIT_USAGE with the refusal printed, naming the record's bounds, when
/// the range is empty or reaches outside the record. `names` are the two
/// bounds' names in the refusal (Python's keywords where it asks).
struct RangeNames {
    const char* from = "--from";
    const char* to = "--to";
};
int ResolveRange(const std::string& from, const std::string& to, const RecordSpan& span, std::uint64_t& first,
                 std::uint64_t& last, const RangeNames& names = {});

/// The part of one record that --from and --to name in files `paths`:
/// LoadRecordHeaders (`undone` says what was not done on a mix) into
/// `part.headers`, then ResolveRange over their span.
struct RecordPart {
    std::vector<DataFileHeader> headers;
    RecordSpan span;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};
int LoadRecordPart(const std::vector<std::string>& paths, const std::string& from, const std::string& to,
                   const std::string& undone, RecordPart& part);

/// Adds --from and --to to `command`.
void AddRangeOptions(CLI::App& command, std::string& from, std::string& to);

/// The help text's paragraph on --from and --to.
std::string RangeHelp();

}  // namespace vosctl
