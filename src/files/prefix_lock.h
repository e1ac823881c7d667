#pragma once

// One process at a time changes a series: whatever records, overwrites or
// recovers the series PREFIX holds the hidden file .PREFIX.lock beside it,
// locked, for as long as it works on the prefix.
//
// The lock file holds one line, "PID ROLE\n" (ROLE "record" or "recover"),
// written before the file takes its name. The lock is an open file
// description lock (F_OFD_SETLK) on the whole file, so that it excludes a
// second holder in the same process (another thread, another handle) as
// well as other processes; a reader asks with F_GETLK or F_OFD_GETLK. A
// holder removes the file before it lets go, so a lock taken on a file no
// longer under its name holds nothing, and an unlocked lock file is one a
// killed holder left: the next holder removes it and makes its own.

#include <sys/types.h>

#include <string>

/// The lock file of the series PREFIX: the folder part, then ".BASE.lock".
std::string PrefixLockPath(const std::string& prefix);

/// Whether the open file `fd` is the file named `path` now. A holder
/// removes the lock file before it lets go, so a lock taken on a file no
/// longer under its name holds nothing.
bool IsNamedFile(int fd, const std::string& path);

/// What a prefix is held for: the ROLE of the lock file's line.
enum class PrefixRole { Record, Recover };

/// Holds the prefix of a series while the object lives (or until Release).
/// A file system without locks lets the prefix be taken by its lock file's
/// name alone.
class PrefixLock {
public:
    enum class Result {
        Held,    ///< the prefix is this object's until Release
        Busy,    ///< another holder has it, in this process or another: Holder()
        Failed,  ///< the lock file could not be made: Error() is its errno
    };

    PrefixLock() = default;
    ~PrefixLock() { Release(); }
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

    Result Acquire(const std::string& prefix, PrefixRole role = PrefixRole::Record);
    /// Removes the lock file and lets the prefix go; nothing while not held.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }
    /// The holder that made Acquire Busy; 0 when its line could not be read.
    pid_t Owner() const { return m_owner; }
    /// "being recorded by a running process (pid 123, user ann)", or
    /// "being recovered by …", of the holder that made Acquire Busy.
    std::string Holder() const;
    int Error() const { return m_error; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    pid_t m_owner = 0;
    PrefixRole m_ownerRole = PrefixRole::Record;
    std::string m_ownerUser;
    int m_error = 0;
    std::string m_path;
};
