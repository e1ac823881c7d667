#pragma once

// One recording per series: the process that writes the series PREFIX holds
// the hidden file .PREFIX.lock beside it, locked, for as long as it runs.

#include <sys/types.h>

#include <string>

/// The lock file of the series PREFIX: the folder part, then ".BASE.lock".
std::string PrefixLockPath(const std::string& prefix);

/// Whether the open file `fd` is the file named `path` now. A holder
/// removes the lock file before it lets go, so a lock taken on a file no
/// longer under its name holds nothing.
bool IsNamedFile(int fd, const std::string& path);

/// Holds the prefix of a series while the object lives (or until Release).
/// The lock is a POSIX record lock, so that another process learns the
/// holder's process id; within one process it does not exclude, and no
/// other code of the process may open the lock file. A file system without
/// locks lets the prefix be taken without one.
class PrefixLock {
public:
    enum class Result {
        Held,    ///< the prefix is this process's until Release
        Busy,    ///< another process holds it: Owner()
        Failed,  ///< the lock file could not be made: Error() is its errno
    };

    PrefixLock() = default;
    ~PrefixLock() { Release(); }
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

    Result Acquire(const std::string& prefix);
    /// Removes the lock file and lets the prefix go; nothing while not held.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }
    pid_t Owner() const { return m_owner; }
    int Error() const { return m_error; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    pid_t m_owner = 0;
    int m_error = 0;
    std::string m_path;
};
