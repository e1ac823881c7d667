#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file.h"

// What vosctl record checks before the logger is opened, so that no series,
// no CSV file and no working file of an earlier recording is lost or mixed
// into a new one, and a name that cannot be created is found at once.
namespace vosctl {

/// The files of the series PREFIX on disk, in name order: data files
/// PREFIX-NNNNNN.dlf and working files PREFIX-NNNNNN.vrec (six or more digits).
struct SeriesOnDisk {
    std::vector<std::string> dataFiles;
    std::vector<std::string> workingFiles;
    bool Empty() const { return dataFiles.empty() && workingFiles.empty(); }
};
SeriesOnDisk FindSeries(const std::string& prefix);

/// What record will write: the series PREFIX (empty: none) whose last file
/// has the index `lastIndex`, and the CSV stream `csv` ("" none, "-" standard output).
struct RecordTargets {
    std::string prefix;
    std::uint32_t lastIndex = 1;
    std::string csv;
    bool overwrite = false;
};

/// Refuses a prefix in use and an existing CSV file unless `overwrite`, and
/// creates and removes the series' longest file name. Prints the refusal and
/// returns its exit status; EXIT_OK when the recording may start.
int CheckRecordTargets(const RecordTargets& targets);

/// Removes every file FindSeries finds, for --overwrite once the logger is
/// open. Write with the file that could not be removed on failure.
FileError RemoveSeries(const std::string& prefix, std::string& failedPath);

}  // namespace vosctl
