#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Outcome of a file operation; each failure has its own message text.
enum class FileError { None, Open, Format, Read, Write };

/// The message box text of a failure (UTF-8); "" for FileError::None.
const char* FileErrorMessage(FileError error);

/// One file opened for exclusive use by this program for the length of one
/// save, open or export. The descriptor carries an exclusive advisory lock
/// (flock), so two copies of the program never read or write the same file
/// at once. The destructor closes a file that is still open, ignoring errors;
/// call Close() to learn whether the data reached the file.
class LockedFile {
public:
    enum class Mode { Read, Write };

    LockedFile() = default;
    /// Takes ownership of an already open descriptor (no lock is taken).
    explicit LockedFile(int fd) : m_fd(fd) {}
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    /// Read: opens an existing regular file. Write: creates the file or
    /// empties an existing one, but only after the lock is held, so a file
    /// in use by another copy is never truncated. Returns false when the
    /// file cannot be opened, is not a regular file (Read), is locked by
    /// another descriptor or cannot be emptied. Never blocks on a FIFO.
    bool Open(const std::string& path, Mode mode);

    bool IsOpen() const { return m_fd >= 0; }

    /// The descriptor, for writers that stream to it; -1 while closed.
    int Descriptor() const { return m_fd; }

    /// Writes all `size` bytes, continuing after partial writes and signals.
    bool WriteAll(const void* data, std::size_t size);

    /// Reads exactly `size` bytes; false on an error or on end of file first.
    bool ReadAll(void* data, std::size_t size);

    /// The file length in bytes, as a 64-bit value.
    bool Length(std::uint64_t& length) const;

    /// Closes the file; false when the system reports an error on closing.
    bool Close();

private:
    int m_fd = -1;
};
