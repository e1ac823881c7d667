#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "files/dlf.h"
#include "files/file.h"

namespace vosctl {

/// Opens where a command writes: "-" is standard output, anything else a
/// file opened as the window opens the files it saves (locked, and emptied
/// only once the lock is held). Null when it cannot be opened.
std::unique_ptr<LockedFile> OpenOutput(const std::string& path);

/// Four channel buffers of `capacity` samples each, allocated once.
class ChannelBank {
public:
    explicit ChannelBank(std::uint32_t capacity = DLF_MAX_SAMPLE_COUNT);
    double* const* Channels() { return m_channels; }

private:
    struct Free {
        void operator()(double* samples) const;
    };
    std::unique_ptr<double[], Free> m_samples;
    double* m_channels[DLF_CHANNELS] = {};
};

/// Reads and checks the data file `path` as Open does; prints Open's
/// message for a file it refuses and returns EXIT_FILE.
int LoadRecord(const std::string& path, DataFileHeader& header, ChannelBank& bank);

/// Writes the selected channels of a record as CSV to the open `output`;
/// prints the failure and returns EXIT_FILE when a write fails.
int WriteCsvRecord(LockedFile& output, const std::string& path, int selection, std::uint32_t count,
                   const double* const channels[DLF_CHANNELS]);

/// Closes `output`; prints the failure and returns EXIT_FILE when the data
/// did not reach it.
int CloseOutput(LockedFile& output, const std::string& path);

}  // namespace vosctl
