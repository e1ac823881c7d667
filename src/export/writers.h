#pragma once

// The two file writers behind ExportRecord, on one loop over the samples.
#include <cstdint>
#include <functional>
#include <string>

#include "export/export.h"
#include "files/series_reader.h"

namespace exportdetail {

/// Samples per channel held in memory at a time, and per HDF5 chunk.
inline constexpr std::uint64_t BLOCK = 65536;

/// Takes `n` samples of channel `channel` (4 for the times) from the
/// export's sample `offset` on; false once they cannot be written.
using BlockSink = std::function<bool(int channel, std::uint64_t offset, std::uint64_t n, const double* data)>;

/// Reads the export block by block, every selected channel (and the times
/// when asked) of a block before the next, into `sink`, counting progress.
/// None, Read when a file failed, Write when the sink did.
FileError ForEachBlock(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                       ExportProgress& progress, const BlockSink& sink);

/// The channels' names in files: "CH0" .. "CH3".
const char* ChannelName(int channel);

/// Keeps libhdf5 from closing its files at exit; called before its first use.
void NoCloseAtExit();

/// Write the whole export into the new file `path`; None or Write.
FileError WriteHdf5(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                    const std::string& path, ExportProgress& progress);
FileError WriteMat(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                   const std::string& path, ExportProgress& progress);

}  // namespace exportdetail
