#pragma once

#include "files/csv.h"
#include "files/file.h"

#include <cstddef>
#include <cstdint>
#include <functional>

/// Rows one formatting pass of the streaming CSV writer turns into one write.
inline constexpr std::uint32_t CSV_STREAM_CHUNK_ROWS = 16384;

/// Takes all `size` bytes of text; false when they could not be written.
using CsvWrite = std::function<bool(const char* text, std::size_t size)>;

/// Writes `count` rows of the selected channels through `write`, byte for
/// byte as WriteCsvFile formats them (FormatCsvBlock), but in chunks of
/// CSV_STREAM_CHUNK_ROWS rows with one call each. Two threads format
/// alternate chunks, and each writes its chunk when the one before it is
/// written, so one formats while the other writes: `write` is called from
/// either thread, never from both at once, in the order of the rows. Each
/// channel must hold `count` values. Returns None, or Write when a write
/// fails (the chunks written so far stay).
FileError WriteCsvStream(const CsvWrite& write, int selection, std::uint32_t count, const double* const channels[4]);
