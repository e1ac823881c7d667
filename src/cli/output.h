#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "files/dlf.h"
#include "files/file.h"

namespace vosctl {

/// Where a command writes its result: standard output for "-", anything
/// else a file opened as the window opens the files it saves (locked, and
/// emptied only once the lock is held).
class Output {
public:
    bool Open(const std::string& path);
    bool WriteAll(const void* data, std::size_t size) { return m_file->WriteAll(data, size); }
    /// Ends the output; false when the data did not reach it.
    bool Close() { return m_file->Close(); }

private:
    std::optional<LockedFile> m_file;
};

/// An Output opened on `path`; null when it cannot be opened.
std::unique_ptr<Output> OpenOutput(const std::string& path);

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
int WriteCsvRecord(Output& output, const std::string& path, int selection, std::uint32_t count,
                   const double* const channels[DLF_CHANNELS]);

/// Closes `output`; prints the failure and returns EXIT_FILE when the data
/// did not reach it.
int CloseOutput(Output& output, const std::string& path);

}  // namespace vosctl
