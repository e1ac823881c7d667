#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/file.h"

/// The file formats a record is exported to.
enum class ExportFormat { Hdf5, Mat };

/// The format a file name asks for: .h5 or .hdf5 for HDF5, .mat for MAT 7.3
/// (in any case); nullopt for another name.
std::optional<ExportFormat> ExportFormatOfName(const std::string& path);

/// What to export: samples [first, last) of the record the `files` form
/// (checked as SeriesReader checks them), of the channels marked in `channels`.
struct ExportRequest {
    std::vector<std::string> files;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool channels[4] = {true, true, true, true};
    ExportFormat format = ExportFormat::Hdf5;
    bool compress = false;  ///< shuffle and deflate (HDF5), zlib (MAT)
    bool times = false;     ///< a dataset of each sample's time
};

/// The facts of an export written beside its samples, from the files' headers.
struct ExportFacts {
    std::uint64_t first = 0;          ///< the first sample's index in the record
    std::uint64_t count = 0;          ///< samples per channel
    std::int32_t clockDivider = 1;
    double period = 1e-4;             ///< seconds
    std::string clock;                ///< the Sampling Clock entry ("10kHz")
    std::string firstUtc;             ///< ISO 8601, "" without a recording stamp
    std::string identity;             ///< 32 hex digits, "" without a recording stamp
    std::int32_t triggerChannel = 0;
    std::string trigger;              ///< the Trigger Type entry, or "none"
    double threshold = 0.0;           ///< volts
    struct Gap {
        std::uint64_t position = 0;   ///< the export's first sample after the gap
        std::uint64_t lost = 0;       ///< samples lost in it
        std::string utc;              ///< ISO 8601 UTC of the sample at `position`
    };
    std::vector<Gap> gaps;            ///< only those inside the export
    std::vector<double> gapSeconds;   ///< per gap, the time it adds to the sample times
};

/// Where an export stands, for a progress line on another thread.
struct ExportProgress {
    std::atomic<std::uint64_t> done{0};  ///< samples per channel written
};

/// Outcome of ExportRecord: None, or Open (the output cannot be created or
/// is not a regular file), Read (a file of the record failed) or Write
/// (writing or committing failed; `cause` holds the errno when known).
struct ExportResult {
    FileError error = FileError::None;
    int cause = 0;
};

/// Writes the export to `path` whole or not at all: into a new file beside
/// it that replaces it only once complete and on disk (ReplacementFile), so
/// an existing file stays as it was after any failure or signal. Holds a
/// few chunks of samples in memory at a time, whatever the length.
ExportResult ExportRecord(const ExportRequest& request, const std::string& path, ExportProgress& progress);
