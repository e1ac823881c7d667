#pragma once

#include "files/csv.h"
#include "files/file.h"

#include <cstdint>

/// Rows one formatting pass of the streaming CSV writer turns into one write.
inline constexpr std::uint32_t CSV_STREAM_CHUNK_ROWS = 16384;

/// Writes `count` rows of the selected channels to the open `file`, byte for
/// byte as WriteCsvFile formats them (FormatCsvBlock), but in chunks of
/// CSV_STREAM_CHUNK_ROWS rows with one write each. Two threads format
/// alternate chunks, and each writes its chunk when the one before it is
/// written, so one formats while the other writes. Each channel must hold
/// `count` values. Returns None, or Write when a write fails (the chunks
/// written so far stay). The file is left open.
FileError WriteCsvStream(LockedFile& file, int selection, std::uint32_t count, const double* const channels[4]);
