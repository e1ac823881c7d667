#include "files/prefix_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>


namespace {

// Tries before giving up when the holder keeps changing; each try that fails
// saw another holder take or give up the prefix in between.
constexpr int ATTEMPTS = 100;

const char* RoleWord(PrefixRole role) { return role == PrefixRole::Recover ? "recover" : "record"; }

// A file system that has no locks: the lock file's name alone stands for the lock.
bool NoLocks(int error) { return error == ENOLCK || error == EOPNOTSUPP; }

// Locks the whole file for this open file description: 0, or the errno.
int LockWhole(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    while (::fcntl(fd, F_OFD_SETLK, &whole) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// Whether another open file description (of any process) holds the file locked.
bool LockedElsewhere(int fd) {
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK;
}

// Writes this process's line into the lock file open as `fd`.
bool WriteLine(int fd, PrefixRole role) {
    const std::string line = std::to_string(::getpid()) + " " + RoleWord(role) + "\n";
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

enum class CreateResult { Held, Retry, NoLinks, Failed };

// Makes the lock file under a name of this process's, locks it, writes its
// line and only then links it into place, so that a reader never finds the
// name unlocked or without its holder while a recording starts. Failed
// leaves errno set and fd negative.
CreateResult CreateLocked(const std::string& path, PrefixRole role, int& fd) {
    fd = -1;
    // Short, so that it fits wherever the lock file's name fits; the count keeps threads apart.
    static std::atomic<unsigned> count{0};
    const std::size_t slash = path.rfind('/');
    const std::string temporary = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".lock." +
                                  std::to_string(::getpid()) + "." + std::to_string(count++);
    const int made = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (made < 0 && errno == EEXIST) {
        // Left by a killed process that had this process id.
        ::unlink(temporary.c_str());
        return CreateResult::Retry;
    }
    if (made < 0) return errno == EINTR ? CreateResult::Retry : CreateResult::Failed;
    int error = LockWhole(made);
    if (error == 0 || NoLocks(error)) error = WriteLine(made, role) ? 0 : errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        ::close(made);
        errno = error;
        return CreateResult::Failed;
    }
    const int linked = ::link(temporary.c_str(), path.c_str());
    const int linkError = errno;
    ::unlink(temporary.c_str());
    if (linked != 0) {
        ::close(made);
        if (linkError == EEXIST) return CreateResult::Retry;  // another holder came first
        if (linkError == EPERM || linkError == EOPNOTSUPP || linkError == ENOSYS) return CreateResult::NoLinks;
        errno = linkError;
        return CreateResult::Failed;
    }
    fd = made;
    return CreateResult::Held;
}

std::string UserName(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
    return std::to_string(uid);
}

}  // namespace

std::string PrefixLockPath(const std::string& prefix) {
    const std::size_t slash = prefix.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return prefix.substr(0, start) + "." + prefix.substr(start) + ".lock";
}

bool IsNamedFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

std::string PrefixLock::Holder() const {
    return std::string(m_ownerRole == PrefixRole::Recover ? "being recovered" : "being recorded") +
           " by a running process (pid " + std::to_string(m_owner) + ", user " + m_ownerUser + ")";
}

PrefixLock::Result PrefixLock::Acquire(const std::string& prefix, PrefixRole role) {
    Release();
    m_path = PrefixLockPath(prefix);
    m_owner = 0;
    m_ownerUser.clear();
    m_error = 0;
    const auto busy = [this](int fd) {
        char line[64] = {};
        const ssize_t got = ::pread(fd, line, sizeof line - 1, 0);
        if (got > 0) {
            char* end = nullptr;
            m_owner = static_cast<pid_t>(std::strtol(line, &end, 10));
            m_ownerRole = std::string(end).rfind(" recover", 0) == 0 ? PrefixRole::Recover : PrefixRole::Record;
        }
        struct stat info {};
        m_ownerUser = ::fstat(fd, &info) == 0 ? UserName(info.st_uid) : "unknown";
        ::close(fd);
        return Result::Busy;
    };
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        int fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        bool mine = false;
        if (fd < 0 && errno == EACCES) {
            // Another user's lock file: held, or left by a holder that is gone.
            fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd >= 0 && LockedElsewhere(fd)) return busy(fd);
            if (fd >= 0) {
                const bool removed = IsNamedFile(fd, m_path) && ::unlink(m_path.c_str()) == 0;
                ::close(fd);
                if (removed || errno == ENOENT) continue;
                errno = EACCES;
                fd = -1;
            }
        }
        if (fd < 0 && errno == ENOENT) {
            const CreateResult made = CreateLocked(m_path, role, fd);
            if (made == CreateResult::Held) {
                m_fd = fd;
                return Result::Held;
            }
            if (made == CreateResult::Retry) continue;
            // A file system without hard links: made under its name, locked a moment later.
            if (made == CreateResult::NoLinks) {
                fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
                if (fd < 0 && errno == EEXIST) continue;
                mine = fd >= 0;
            }
        }
        if (fd < 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            return Result::Failed;
        }
        const int error = LockWhole(fd);
        if (error == EACCES || error == EAGAIN) {
            if (LockedElsewhere(fd)) return busy(fd);
            ::close(fd);
            continue;  // let go meanwhile
        }
        if (error != 0 && !NoLocks(error)) {
            ::close(fd);
            m_error = error;
            return Result::Failed;
        }
        if (!IsNamedFile(fd, m_path)) {
            ::close(fd);
            continue;
        }
        // An unlocked lock file that is not this call's own was left by a holder that is gone:
        // removed, so that the next one made has this holder's owner and line.
        if (!mine && error == 0 && ::unlink(m_path.c_str()) == 0) {
            ::close(fd);
            continue;
        }
        if (!WriteLine(fd, role)) {
            m_error = errno;
            ::close(fd);
            return Result::Failed;
        }
        m_fd = fd;
        return Result::Held;
    }
    m_error = EAGAIN;
    return Result::Failed;
}

void PrefixLock::Release() {
    if (m_fd < 0) return;
    ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
}
