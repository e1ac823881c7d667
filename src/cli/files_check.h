#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "files/dlf.h"
#include "files/series.h"
#include "files/series_text.h"

// Checks on the files a command reads and writes, made before anything is
// written.
namespace vosctl {

/// A clock as messages name it: the Sampling Clock entry ("1kHz"), or
/// "divider N" for a divider the list does not have.
std::string ClockText(std::int32_t divider);

/// A CLI11 check for an output option: refuses a name ending in .dlf (in
/// any case), so that a CSV text or a picture never takes a data file's name.
CLI::Validator NotDataFileName(const std::string& what);

/// A CLI11 check for an output file or prefix: refuses a name that ends in
/// a slash or names an existing folder, which would put the files beside
/// the folder or name them after nothing.
/// `example` is a file name to suggest inside the folder ("run").
CLI::Validator NotAFolder(const std::string& what, const std::string& example);

/// Refuses an `output` that is the same file (device and inode) as one of
/// `inputs`, before it is opened: "-" stands for standard output, whatever
/// it is redirected to; standard output is also refused when it is any
/// data file (a regular file whose name ends in .dlf in any case, or that
/// holds a header Open accepts). Prints why and returns EXIT_USAGE; EXIT_OK
/// when the output is none of these.
int RefuseInputAsOutput(const std::string& output, std::span<const std::string> inputs);

/// Lets a prefix name a whole series: an argument that is not an existing
/// file (nothing, or a folder) but for which PREFIX-NNNNNN.dlf files exist
/// (six digits or more) is replaced by those files in index order. An
/// existing file that is also such a prefix is refused as ambiguous.
/// Prints the refusal and returns EXIT_USAGE; EXIT_OK otherwise.
int ExpandSeriesArguments(std::vector<std::string>& files);

/// The series a file name belongs to: "run" for "run-000002.dlf", with its
/// number; empty for another name.
std::string SeriesPrefix(const std::string& path, unsigned long& number);

/// Why the files named, in the order given, cannot be read as one record
/// whatever they hold: a file named twice (the same name, or the same
/// device and inode under two names), or numbered names of one prefix out
/// of order (PREFIX-000002.dlf before PREFIX-000001.dlf). Empty when
/// neither is so. Only names are looked at, and files that exist.
std::string RepeatedOrOutOfOrderText(std::span<const std::string> paths);

/// Prints RepeatedOrOutOfOrderText with Format's message and `consequence`
/// ("nothing was written") and returns EXIT_FILE; EXIT_OK when it is empty.
int RefuseRepeatedOrOutOfOrder(std::span<const std::string> paths, const std::string& consequence);

/// Reads and checks the header of the data file `path` as Open does; prints
/// Open's message for a file it refuses and returns EXIT_FILE.
int LoadHeader(const std::string& path, DataFileHeader& header);

/// Why the files do not form one record, as the window says it too.
using ::MixedFilesText;

/// LoadHeader of each file into `headers`, and MixedFilesText of them, said
/// as "...; they do not form one record, nothing was " + `undone`. The
/// status of the first failure, or EXIT_OK.
int LoadRecordHeaders(const std::vector<std::string>& paths, std::vector<DataFileHeader>& headers,
                      const std::string& undone);

/// Says on standard error, after "vosctl COMMAND: ", that the series has gaps
/// where frames were lost while it was recorded, each with the file
/// it follows, when it began, how long it was and about how many samples
/// were lost, and that
/// its samples are taken as consecutive; nothing without gaps.
void WarnOfGaps(const char* command, std::span<const std::string> paths, std::span<const DataFileHeader> headers);

}  // namespace vosctl
