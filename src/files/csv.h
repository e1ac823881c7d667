#pragma once

#include "files/file.h"
#include "numtext/fixed.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// Rows formatted into one text and written with one write.
inline constexpr std::uint32_t CSV_BLOCK_ROWS = 64;
/// The "CSV Save CH" list index that exports all four channels.
inline constexpr int CSV_SELECT_ALL = 4;
/// Longest row: four numbers, three commas, CR LF.
inline constexpr std::size_t CSV_ROW_MAX_CHARS = 4 * FIXED5_MAX_CHARS + 5;
/// Longest text of one block.
inline constexpr std::size_t CSV_BLOCK_MAX_CHARS = CSV_BLOCK_ROWS * CSV_ROW_MAX_CHARS;

/// How an export of `count` rows is split and what the progress bar shows.
struct CsvProgressRange {
    std::uint64_t blocks;  ///< full blocks of CSV_BLOCK_ROWS rows
    std::uint32_t rest;    ///< rows after the last full block, each written alone
    int maximum;           ///< progress range 0..maximum, also the final position
};

/// blocks = count / 64, rest = count % 64, maximum = blocks + (rest != 0)
/// (a series of any length the window can show fits an int).
CsvProgressRange CsvProgressFor(std::uint64_t count);

/// Receives the progress of an export; called on the exporting thread.
class CsvProgress {
public:
    virtual ~CsvProgress() = default;
    /// The file is open: range 0..maximum, position 0, show the bar.
    virtual void Begin(int maximum) = 0;
    /// A block, or the remaining rows, have been written.
    virtual void Position(int position) = 0;
    /// The last row is written and the file is about to be closed: the
    /// window lets the full bar stand for 50 ms and hides it.
    virtual void Finish() = 0;
};

/// Formats rows first..first+rows-1 into `out` (at least
/// rows * CSV_ROW_MAX_CHARS bytes) and returns the byte count; no NUL.
/// selection 0..3 gives that channel as "%.5f\r\n"; any other selection
/// gives all four channels as "%.5f,%.5f,%.5f,%.5f\r\n". Numbers are exactly
/// printf's "%.5f" in the "C" locale, whatever the user's locale.
std::size_t FormatCsvBlock(int selection, const double* const channels[4],
                           std::uint32_t first, std::uint32_t rows, char* out);

/// Copies rows first..first+rows-1 of `channel` into `out`; false when
/// they cannot be read. Called for the selected channels only.
using CsvRowSource = std::function<bool(int channel, std::uint64_t first, std::uint32_t rows, double* out)>;

/// Rows the writer asks its row source for at a time: whole blocks.
inline constexpr std::uint32_t CSV_FETCH_ROWS = 256 * CSV_BLOCK_ROWS;

/// Writes `count` rows of the selected channels to `path` through a
/// ReplacementFile (an existing file is replaced only once the new text is
/// complete on disk): full blocks of CSV_BLOCK_ROWS rows with one
/// write each, then the remaining rows with one write per row. Each channel
/// must hold `count` values (all four unless selection is 0..3). A negative
/// selection is not a channel number and exports all four channels.
/// `progress` may be null. Returns Open when the file cannot be opened or
/// is in use (progress never begun), Write when a write or the commit fails
/// (progress stays where it was; an existing file keeps its old content).
FileError WriteCsvFile(const std::string& path, int selection, std::uint32_t count,
                       const double* const channels[4], CsvProgress* progress);

/// WriteCsvFile of the rows `rows` yields, CSV_FETCH_ROWS at a time, with the
/// same blocks, writes and progress; Read (progress stays where it was, an
/// existing file keeps its old content) when the source fails.
FileError WriteCsvFile(const std::string& path, int selection, std::uint64_t count, const CsvRowSource& rows,
                       CsvProgress* progress);
