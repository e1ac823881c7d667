#include "files/prefix_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

// Tries before giving up when the holder keeps changing; each try that fails
// saw another process take or give up the prefix in between.
constexpr int ATTEMPTS = 100;

enum class CreateResult { Held, Retry, NoLinks, Failed };

// Makes the lock file under a name of this process's, locks it and only then
// links it into place, so that a reader never finds the name unlocked while
// a recording starts; an unlocked lock file is one a killed holder left.
// Failed leaves errno set and fd negative.
CreateResult CreateLocked(const std::string& path, int& fd) {
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
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    int error = 0;
    while (::fcntl(made, F_SETLK, &whole) != 0) {
        error = errno;
        if (error != EINTR) break;
        error = 0;
    }
    // A file system without locks keeps the name alone standing for the lock.
    if (error != 0 && error != ENOLCK && error != EOPNOTSUPP) {
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
        if (linkError == EEXIST) return CreateResult::Retry;  // another process came first
        if (linkError == EPERM || linkError == EOPNOTSUPP || linkError == ENOSYS) return CreateResult::NoLinks;
        errno = linkError;
        return CreateResult::Failed;
    }
    fd = made;
    return CreateResult::Held;
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

PrefixLock::Result PrefixLock::Acquire(const std::string& prefix) {
    Release();
    m_path = PrefixLockPath(prefix);
    m_owner = 0;
    m_error = 0;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        int fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) {
            const CreateResult made = CreateLocked(m_path, fd);
            if (made == CreateResult::Held) {
                m_fd = fd;
                return Result::Held;
            }
            if (made == CreateResult::Retry) continue;
            // A file system without hard links: made under its name, locked a moment later.
            if (made == CreateResult::NoLinks) fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        }
        if (fd < 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            return Result::Failed;
        }
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &whole) != 0) {
            const int error = errno;
            if (error == EACCES || error == EAGAIN) {
                struct flock holder {};
                holder.l_type = F_WRLCK;
                holder.l_whence = SEEK_SET;
                const bool asked = ::fcntl(fd, F_GETLK, &holder) == 0;
                ::close(fd);
                if (asked && holder.l_type != F_UNLCK) {
                    m_owner = holder.l_pid;
                    return Result::Busy;
                }
                continue;  // let go meanwhile
            }
            if (error != ENOLCK && error != EOPNOTSUPP && error != EINTR) {
                ::close(fd);
                m_error = error;
                return Result::Failed;
            }
            if (error == EINTR) {
                ::close(fd);
                continue;
            }
        }
        if (IsNamedFile(fd, m_path)) {
            m_fd = fd;
            return Result::Held;
        }
        ::close(fd);
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
