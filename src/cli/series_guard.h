#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file.h"
#include "acquisition/record_targets.h"
#include "files/prefix_lock.h"

// What vosctl record checks before the logger is opened, so that no series,
// no CSV file and no working file of an earlier or a running recording is
// lost or mixed into a new one, and a name that cannot be created is found at once.
namespace vosctl {

/// What record will write: the series PREFIX (empty: none) whose last file
/// has the index `lastIndex`, and the CSV stream `csv` ("" none, "-" standard output).
struct RecordTargets {
    std::string prefix;
    std::uint32_t lastIndex = 1;
    std::string csv;
    bool overwrite = false;
};

/// Takes the prefix in `lock` for the rest of the recording, then creates
/// and removes every name the series will take at its widest index (data
/// file, working file, the hidden new file of a conversion). Refuses a
/// prefix that a running recording holds (with or without `overwrite`),
/// before touching any of its names, a prefix in use
/// and an existing CSV file unless `overwrite`, and with `overwrite` a
/// working file that a running program holds. Prints the refusal and returns
/// its exit status; EXIT_OK when the recording may start.
int CheckRecordTargets(const RecordTargets& targets, PrefixLock& lock);

/// Removes the old series for --overwrite once the logger is open.
using ::RemoveSeries;

}  // namespace vosctl
