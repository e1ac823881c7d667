#include "files/prefix_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Tries before giving up when the holder keeps changing; each try that fails
// saw another process take or give up the prefix in between.
constexpr int ATTEMPTS = 100;

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
        const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
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
