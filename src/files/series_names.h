#pragma once

// The names of a recording's series: PREFIX-000001.dlf, ..., PREFIX-999999.dlf,
// PREFIX-1000000.dlf, ...: the index in six digits, or more once it needs them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SERIES_DATA_EXTENSION = ".dlf";
inline constexpr const char* SERIES_WORKING_EXTENSION = ".vrec";

/// The name of the `index`-th file (1-based) of the series PREFIX with
/// `extension` (".dlf", ".vrec"): PREFIX-000001.dlf.
std::string SeriesMemberName(const std::string& prefix, std::uint32_t index, const char* extension);

/// The index of the file name `name` (no folder) in the series whose base
/// name (the prefix without its folder) is `base`: BASE-NNNNNN plus
/// `extension`, the index as SeriesMemberName writes it (six digits, or
/// more without a leading zero), from 1 up to UINT32_MAX. 0 for any other name.
std::uint32_t SeriesIndexOf(std::string_view name, std::string_view base, std::string_view extension);

/// The index of the data file `path` in its series, and the series' prefix
/// (the path up to the dash before the index) in `prefix`; 0 when the name
/// is not a member's.
std::uint32_t DataFileIndex(const std::string& path, std::string& prefix);

/// One file of a series on disk.
struct SeriesMember {
    std::uint32_t index = 0;
    std::string path;  ///< the prefix's folder part followed by the name
};

/// A hidden temporary that a whole-file replacement of a data file of the
/// series left: .PREFIX-NNNNNN.dlf.PID-N.new.
struct SeriesTemporary {
    std::string path;
    long pid = 0;  ///< the process that created it
};

/// The files of the series PREFIX in its folder, each list in index order.
struct SeriesListing {
    std::vector<SeriesMember> dataFiles;
    std::vector<SeriesMember> workingFiles;
    std::vector<SeriesTemporary> temporaries;
    int error = 0;  ///< errno of a folder that could not be read; the lists hold what was read
    bool Empty() const { return dataFiles.empty() && workingFiles.empty(); }
};
SeriesListing ListSeries(const std::string& prefix);

/// True when no process `pid` runs any more (a leftover of it may go).
bool ProcessGone(long pid);

/// The order of files picked together: files of one series in the order of
/// their numbers (PREFIX-999999.dlf before PREFIX-1000000.dlf), any other
/// name by its bytes.
bool SeriesOrderLess(const std::string& a, const std::string& b);

/// Data file arguments in which a prefix may name a whole series: an
/// argument that is not an existing file (nothing, or a folder) but for
/// which PREFIX-NNNNNN.dlf files exist stands for those files in index
/// order; any other argument stays as it is.
struct ExpandedArguments {
    std::vector<std::string> files;
    /// The first argument that is an existing file and also a prefix with
    /// data files, which is ambiguous; "" when none. `files` keeps it as a file.
    std::string ambiguous;
    std::vector<SeriesMember> ambiguousSeries;  ///< that prefix's data files
};
ExpandedArguments ExpandPrefixes(const std::vector<std::string>& arguments);
