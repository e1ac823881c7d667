#pragma once

// Whether a series is a recording that still runs, and which recording files
// opened together belong to: such a recording is shown whole, from its first
// file, and followed, however it was named.

#include <cstdint>
#include <string>
#include <vector>

/// Whether a recorder holds the series PREFIX now: its lock file is there and
/// locked. With `inProcess` the lock file's being there is enough, since a
/// lock of this process cannot be seen, and its descriptor is never opened.
bool RecorderHoldsPrefix(const std::string& prefix, bool inProcess = false);

/// The index of `path` in its series, as a data file PREFIX-NNNNNN.dlf or a
/// working file PREFIX-NNNNNN.vrec, with the series' prefix in `prefix`; 0
/// for any other name.
std::uint32_t SeriesMemberOf(const std::string& path, std::string& prefix);

/// The recording that `paths`, opened together, are files of: their series
/// when a recorder still holds it or the newest of them is a working file.
/// A single name that is no file stands for the prefix it names (with or
/// without the ".dlf" an open dialog adds) when that is such a recording,
/// or one that has left working files. "" for anything else.
std::string RecordingToFollow(const std::vector<std::string>& paths);
