#include "files/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// EWOULDBLOCK means another descriptor holds the lock. A file system without
// lock support (ENOLCK, EOPNOTSUPP) still lets the file be used.
bool LockExclusive(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno != EWOULDBLOCK;
    }
}

// Moves all `size` bytes with read() or write(), going on after partial
// transfers and signals. A transfer of nothing (end of file) is a failure.
template <typename Byte, typename Call>
bool TransferAll(int fd, Byte* bytes, std::size_t size, Call call) {
    while (size > 0) {
        const ssize_t done = call(fd, bytes, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

const char* FileErrorMessage(FileError error) {
    switch (error) {
    case FileError::None:
        return "";
    case FileError::Open:
        return "ファイルオープンエラーです";
    case FileError::Format:
        return "ファイルフォーマットエラーです";
    case FileError::Read:
        return "ファイル読み込みエラーです";
    case FileError::Write:
        return "ファイル書き込みエラーです";
    }
    return "";
}

LockedFile::~LockedFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool LockedFile::Open(const std::string& path, Mode mode) {
    if (m_fd >= 0) {
        return false;
    }
    // O_NONBLOCK keeps open() from waiting for the other end of a FIFO; it is
    // cleared again below so that reads and writes block as usual.
    const int flags = (mode == Mode::Read ? O_RDONLY : (O_WRONLY | O_CREAT)) | O_CLOEXEC | O_NONBLOCK;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    LockedFile guard(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return false;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (mode == Mode::Read && !regular) {
        return false;
    }
    if (!LockExclusive(fd)) {
        return false;
    }
    // Devices such as /dev/full cannot be truncated and need not be.
    if (mode == Mode::Write && regular && ::ftruncate(fd, 0) != 0) {
        return false;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        return false;
    }
    m_fd = guard.m_fd;
    guard.m_fd = -1;
    return true;
}

bool LockedFile::WriteAll(const void* data, std::size_t size) {
    return TransferAll(m_fd, static_cast<const unsigned char*>(data), size, ::write);
}

bool LockedFile::ReadAll(void* data, std::size_t size) {
    return TransferAll(m_fd, static_cast<unsigned char*>(data), size, ::read);
}

bool LockedFile::Length(std::uint64_t& length) const {
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || info.st_size < 0) {
        return false;
    }
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool LockedFile::Close() {
    if (m_fd < 0) {
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close() fails, so it is never retried.
    return ::close(fd) == 0;
}
