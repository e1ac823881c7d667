#pragma once

#include <atomic>
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
    /// Writes all `size` bytes; false on failure, with the cause kept for Cause().
    /// Writers on two threads may call it, one after the other.
    bool WriteAll(const void* data, std::size_t size);
    /// Ends the output; false when the data did not reach it.
    bool Close();
    /// The errno of the first failed write or close; 0 when none failed.
    int Cause() const { return m_cause.load(); }
    /// The descriptor of a streaming output, for writers that stream to it.
    int Descriptor() const { return m_file ? m_file->Descriptor() : -1; }

private:
    std::optional<LockedFile> m_file;
    std::optional<ReplacementFile> m_replacement;
    std::string m_created;  ///< the streaming file Open created, "" when it existed
    bool m_named = false;   ///< a streaming file opened by its name (not standard output)
    std::atomic<int> m_cause{0};
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

/// The failure of a write to `output` ("-" for standard output), with the
/// cause it kept, as FailFile reports it.
int FailOutput(const Output& output, const std::string& path);

/// Checks, before a long run, that the file `path` can be replaced as
/// Output and SaveDataFile replace it: ProbeWritable, and for an existing
/// regular file also a new file beside it (`beside` is set when that is
/// what failed). 0, or the errno of the failure.
int ProbeReplaceable(const std::string& path, bool& beside);

/// Standard output as every command writes it: through stdio, checked at
/// each flush and at the end. Called once at start-up: a standard
/// descriptor (0, 1, 2) that was closed gets /dev/null, so that no file the
/// command opens takes its number (standard output's /dev/null is read-only,
/// so writes to it fail, as they would have).
void PrepareStandardOutput();

/// Whether standard output was closed when the command started.
bool StandardOutputWasClosed();

/// Writes what is buffered for standard output; false when it failed or had
/// failed before, keeping the first cause. A reader that has gone (a closed
/// pipe) ends the process at once, quietly, with EXIT_PIPE.
bool FlushStandardOutput();

/// At exit: flushes (as FlushStandardOutput) and closes standard output.
/// When its data did not all reach it, prints why and returns EXIT_FILE (a
/// status already set other than EXIT_OK stays); otherwise `status`.
int FinishStandardOutput(int status);

}  // namespace vosctl
