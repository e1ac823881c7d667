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
/// else a file written as the window saves its files: locked, and replaced
/// whole on Close, so a failed write leaves an existing file as it was.
/// A streaming output (record --csv) is written in place instead, so that
/// its rows can be read while the recording runs; it is opened (or created)
/// as it is, and emptied only by Begin, once the run has begun.
class Output {
public:
    enum class Mode { Replace, Stream };

    bool Open(const std::string& path, Mode mode = Mode::Replace);
    /// Empties an existing streaming file before the first row; false on failure.
    bool Begin();
    /// Removes a streaming file that Open created, for a run that never began.
    void RemoveIfCreated();
    bool WriteAll(const void* data, std::size_t size) {
        return m_replacement ? m_replacement->WriteAll(data, size) : m_file->WriteAll(data, size);
    }
    /// Ends the output; false when the data did not reach it.
    bool Close() { return m_replacement ? m_replacement->Commit() : m_file->Close(); }
    /// The descriptor of a streaming output, for writers that stream to it.
    int Descriptor() const { return m_file ? m_file->Descriptor() : -1; }

private:
    std::optional<LockedFile> m_file;
    std::optional<ReplacementFile> m_replacement;
    std::string m_created;  ///< the streaming file Open created, "" when it existed
    bool m_named = false;   ///< a streaming file opened by its name (not standard output)
};

/// An Output opened on `path`; null when it cannot be opened.
std::unique_ptr<Output> OpenOutput(const std::string& path, Output::Mode mode = Output::Mode::Replace);

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
