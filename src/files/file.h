#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Outcome of a file operation; each failure has its own message text.
enum class FileError { None, Open, Format, Read, Write };

/// The message box text of a failure (UTF-8); "" for FileError::None.
const char* FileErrorMessage(FileError error);

/// Makes a write into a pipe whose reader has gone, or past the process's
/// file-size limit, fail with an error instead of ending the process
/// (SIGPIPE and SIGXFSZ are ignored). Every program that writes files calls
/// it once at start-up, before any thread is started.
void IgnoreFileSignals();

/// The folder that holds the name `path`: "." for a bare name, "/" at the root.
std::string ParentFolder(const std::string& path);

/// Makes the creation, rename or removal of a name in `folder` ("" for the
/// current folder) durable: 0, or the errno of the failure (the name may be
/// lost at a power failure). A file system that cannot sync a folder at all
/// (EINVAL) counts as synced.
[[nodiscard]] int SyncFolder(const std::string& folder);

/// Renames `from` to `to` only while no file has the name `to`: false, with
/// errno EEXIST, when one has (nothing is replaced), or with the errno of
/// another failure. Where the file system lacks RENAME_NOREPLACE, a hard link
/// takes the name and the old name is then removed; where it has neither (FAT,
/// exFAT), an exclusive create takes the name as a placeholder and `from` is
/// renamed over that placeholder, once it is seen to be still this call's.
bool RenameToNewName(const std::string& from, const std::string& to);

/// The kind of file system that holds `path`, as mount(8) names it ("ext4",
/// "vfat", "exfat", "fuse", "nfs", …), or "" when it cannot be told.
std::string FileSystemName(const std::string& path);

/// Removes the new file of every ReplacementFile not yet committed or
/// discarded. Async-signal-safe: for a signal handler that is about to end
/// the process, so that no hidden half-written file is left beside a target.
void RemoveUncommittedFiles();

/// The hidden new file a ReplacementFile of `target` creates beside it, for
/// the process `pid` and its `serial`-th replacement: .NAME.PID-N.new (the
/// name cut to 200 bytes), so that a long run can try it before it starts.
std::string ReplacementTemporaryName(const std::string& target, long pid, unsigned serial);

/// Checks, before a long run, that `path` can be written when it ends: an
/// existing file is opened for writing and closed unchanged; a name not in
/// use is created and removed again (which also tries its length and the
/// folder's permissions). Returns 0, or the errno of the failure.
int ProbeWritable(const std::string& path);

/// Checks, before a long run, that a finished file can take the name `to`
/// from its new file `from` as RenameToNewName does, on whatever the file
/// system offers: both names are created, placed and removed again. Returns
/// 0, or the errno of the failure.
int ProbeNewNamePlacement(const std::string& from, const std::string& to);

/// Writes all `size` bytes to the descriptor `fd`, continuing after partial
/// writes and signals; false on an error.
bool WriteAllTo(int fd, const void* data, std::size_t size);

/// Reads all `size` bytes at `offset` of the descriptor `fd` (pread),
/// continuing after partial reads and signals; false on an error or when
/// the file ends first.
bool ReadAllAt(int fd, std::uint64_t offset, void* data, std::size_t size);

/// One file opened by this program for the length of one save, open or
/// export. The descriptor carries an advisory lock (flock): shared for Read,
/// so any number of readers use a file at once, exclusive for Write and
/// Update, so a writer never meets a reader or another writer. The destructor closes a file that is still open, ignoring errors;
/// call Close() to learn whether the data reached the file.
class LockedFile {
public:
    enum class Mode { Read, Write, Update };

    LockedFile() = default;
    /// Takes ownership of an already open descriptor (no lock is taken).
    explicit LockedFile(int fd) : m_fd(fd) {}
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    LockedFile(LockedFile&& other) noexcept : m_fd(other.Release()) {}
    /// Closes the file held so far (ignoring errors) and takes the other's.
    LockedFile& operator=(LockedFile&& other) noexcept;

    /// Read: opens an existing regular file. Write: creates the file or
    /// empties an existing one, but only after the lock is held, so a file
    /// in use by another copy is never truncated. Returns false when the
    /// file cannot be opened, is not a regular file (Read), is locked by
    /// another descriptor or cannot be emptied. Update: as Write, but an
    /// existing file is kept as it is. Never blocks on a FIFO.
    /// Writers that must not lose an existing file use ReplacementFile.
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

    /// Forces the written data to the storage device (fsync).
    bool Sync();

    /// Closes the file; false when the system reports an error on closing.
    bool Close();

    /// Gives the descriptor up without closing it; -1 when none is held.
    int Release();

private:
    int m_fd = -1;
};

/// How a finished file takes its name.
enum class Placement {
    Replace,  ///< over an existing file of that name (the window's Save)
    NewName,  ///< only where no file has the name; an existing one is never replaced
};

/// A file written whole or not at all. For a regular file (or a name not
/// yet in use) the data goes into a new file in the same folder, which
/// Commit() flushes to the disk and renames over the target; until then,
/// and after any failure, the old file stays as it was, byte for byte, and
/// the new file is removed again. The new file takes the old one's
/// permission bits. A symbolic link is followed: the new file replaces the
/// link's final target and the link stays. Names that are not regular files
/// (a FIFO, a device) are written in place. The old file is locked like a
/// LockedFile for the whole write, so a target in use by another copy of
/// the program is refused without being touched.
class ReplacementFile {
public:
    ReplacementFile() = default;
    /// Removes the new file unless it was committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    /// Opens `path` for replacement. False, with nothing on disk changed,
    /// when the target cannot be written (no such folder, a folder, no
    /// permission, a FIFO without reader), is locked by another descriptor,
    /// or the new file cannot be created beside it. With Placement::NewName
    /// an existing name is refused (errno EEXIST), here and again at Commit,
    /// which then puts the file in place only if the name is still free.
    bool Open(const std::string& path, Placement placement = Placement::Replace);

    /// Writes all `size` bytes to the new file (or in place).
    bool WriteAll(const void* data, std::size_t size);

    /// The new file's name, for a writer that opens the file by name itself
    /// (a library with its own file layer); empty when written in place.
    const std::string& NewPath() const { return m_newPath; }

    /// Makes the written data the file's content: fsync, close, rename,
    /// fsync of the folder. False when any step fails; before the rename the
    /// old file then stays and the new one is gone (errno EEXIST: a NewName
    /// target was taken meanwhile). When only the folder's sync failed, the
    /// file has its name (Placed()) but the name may not survive a power
    /// failure; errno tells the cause. Call once, after the last write.
    bool Commit();
    /// Whether Commit gave the new file its name.
    bool Placed() const { return m_placed; }

private:
    void Discard();

    int m_slot = -1;      ///< the new file's entry among the uncommitted files
    LockedFile m_target;  ///< the old file, held for its lock; written itself when in place
    LockedFile m_new;     ///< the new file beside the target
    std::string m_targetPath;
    std::string m_newPath;  ///< empty when writing in place or once committed
    Placement m_placement = Placement::Replace;
    bool m_placed = false;
};
