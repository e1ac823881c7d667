#include "files/file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Symbolic links followed before giving up, as the kernel does for a path.
constexpr int MAX_LINK_HOPS = 40;
// Room left for the new file's prefix and suffix within a 255-byte name.
constexpr std::size_t MAX_NAME_PART = 200;

// EWOULDBLOCK means another descriptor holds a lock that excludes this one:
// readers share a file, a writer has it alone. A file system without lock
// support (ENOLCK, EOPNOTSUPP) still lets the file be used.
bool Lock(int fd, bool shared) {
    for (;;) {
        if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno != EWOULDBLOCK;
    }
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens `path` with `flags`, fills `info` and takes the lock (shared for a
// descriptor opened read-only, else exclusive). The
// open never waits for the other end of a FIFO (O_NONBLOCK); the descriptor
// returned blocks as usual. -1 on any failure, with errno from the open when
// the open itself failed.
int OpenAndLock(const char* path, int flags, struct stat& info) {
    const int fd = OpenRetrying(path, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        return -1;
    }
    LockedFile guard(fd);
    if (::fstat(fd, &info) != 0 || !Lock(fd, (flags & O_ACCMODE) == O_RDONLY)) {
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        return -1;
    }
    guard.Release();
    return fd;
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

// The folder part of `path` with its trailing slash; "" for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links in the last part of `path`, so that a link is kept
// and the file it names is replaced. A dangling link gives where it points.
bool FinalTarget(std::string path, std::string& target) {
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            target = path;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link) {
            return false;
        }
        const std::string text(link, static_cast<std::size_t>(length));
        path = text.front() == '/' ? text : FolderOf(path) + text;
    }
    errno = ELOOP;
    return false;
}

// The names of new files not yet committed, for RemoveUncommittedFiles. A
// slot's text is written only while the slot is Claimed, and read by the
// signal handler only after it has taken the slot from Live to Gone, so the
// two never touch one text at once. A Gone slot stays so: the process is ending.
enum SlotState : int { Free, Claimed, Live, Gone };
constexpr int SLOT_COUNT = 64;
struct PendingSlot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
PendingSlot g_pending[SLOT_COUNT];
// Set once the process is ending; files created after it would escape the
// sweep, so no new one is begun, and the sweep waits (briefly) for those
// being created to have their names entered and their files made.
std::atomic<bool> g_ending{false};
std::atomic<int> g_creating{0};

// Counts one creation for the span of a scope; false (with errno EINTR)
// once the process is ending.
class Creating {
public:
    Creating() { g_creating.fetch_add(1); }
    ~Creating() { g_creating.fetch_sub(1); }
    Creating(const Creating&) = delete;
    Creating& operator=(const Creating&) = delete;
    bool Allowed() const {
        if (!g_ending.load()) return true;
        errno = EINTR;
        return false;
    }
};

// Enters `path` before the file is created; -1 when no slot is free or the
// name is too long (the file is then only removed on the ordinary paths).
int RegisterPending(const std::string& path) {
    static_assert(std::atomic<int>::is_always_lock_free);
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        int expected = Free;
        if (g_pending[slot].state.compare_exchange_strong(expected, Claimed)) {
            path.copy(g_pending[slot].path, path.size());
            g_pending[slot].path[path.size()] = '\0';
            g_pending[slot].state.store(Live, std::memory_order_release);
            return slot;
        }
    }
    return -1;
}

void UnregisterPending(int& slot) {
    if (slot >= 0) {
        int expected = Live;
        g_pending[slot].state.compare_exchange_strong(expected, Free);
        slot = -1;
    }
}

// Creates a file that did not exist, beside `target`; its permission bits
// come from the umask, as for any new file. Its name is entered in `slot`
// before it exists. -1 on failure.
int CreateBeside(const std::string& target, std::string& created, int& slot) {
    static std::atomic<unsigned> serial{0};
    const Creating creating;
    for (int attempt = 0; attempt < 100 && creating.Allowed(); ++attempt) {
        created = ReplacementTemporaryName(target, static_cast<long>(::getpid()), serial.fetch_add(1));
        slot = RegisterPending(created);
        const int fd = OpenRetrying(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        const int error = errno;
        UnregisterPending(slot);
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    return -1;
}

}  // namespace

std::string ReplacementTemporaryName(const std::string& target, long pid, unsigned serial) {
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(folder.size()).substr(0, MAX_NAME_PART);
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u.new", pid, serial);
    return folder + "." + name + suffix;
}

bool RenameToNewName(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    // A file system without RENAME_NOREPLACE: a hard link takes the new name only if it is free.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) {
        return false;
    }
    // Neither (FAT, exFAT): the name is taken by an exclusive create, and the file renamed over
    // that placeholder only while the name is still the placeholder.
    const int placeholder = OpenRetrying(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (placeholder < 0) {
        return false;
    }
    struct stat made {};
    struct stat named {};
    const bool stated = ::fstat(placeholder, &made) == 0;
    ::close(placeholder);
    const bool ours = stated && ::lstat(to.c_str(), &named) == 0 && named.st_dev == made.st_dev &&
                      named.st_ino == made.st_ino && named.st_size == 0;
    if (!ours) {
        errno = EEXIST;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        errno = error;
        return false;
    }
    return true;
}

std::string FileSystemName(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.empty() ? "." : path.c_str(), &info) != 0) return "";
    struct Known {
        unsigned long magic;
        const char* name;
    };
    static constexpr Known KNOWN[] = {
        {0xEF53, "ext4"},       {0x58465342, "xfs"},   {0x9123683E, "btrfs"}, {0x01021994, "tmpfs"},
        {0x4d44, "vfat"},       {0x2011BAB0, "exfat"}, {0x65735546, "fuse"},  {0x6969, "nfs"},
        {0xFF534D42, "cifs"},   {0xFE534D42, "smb2"},  {0x5346544E, "ntfs"},  {0x794C7630, "overlay"},
        {0x2FC12FC1, "zfs"},    {0x9660, "iso9660"},   {0x15013346, "udf"},   {0x3153464A, "jfs"},
        {0xF2F52010, "f2fs"},   {0x52654973, "reiserfs"},
    };
    for (const Known& known : KNOWN) {
        if (static_cast<unsigned long>(info.f_type) == known.magic) return known.name;
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(info.f_type));
    return hex;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int SyncFolder(const std::string& folder) {
    const int fd = OpenRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    while (::fsync(fd) != 0) {
        error = errno;
        if (error != EINTR) break;
        error = 0;
    }
    ::close(fd);
    return error == EINVAL ? 0 : error;
}

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

void RemoveUncommittedFiles() {
    g_ending.store(true);
    // A creation on another thread ends within microseconds; one interrupted
    // by this very handler never does, hence the bound of 200 ms.
    for (int wait = 0; wait < 200 && g_creating.load() != 0; ++wait) {
        const timespec millisecond{0, 1000000};
        ::nanosleep(&millisecond, nullptr);
    }
    for (PendingSlot& slot : g_pending) {
        int expected = Live;
        if (slot.state.compare_exchange_strong(expected, Gone, std::memory_order_acquire)) {
            ::unlink(slot.path);
        }
    }
}

int ProbeWritable(const std::string& path) {
    int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    if (errno == ENXIO) {
        return 0;  // a FIFO whose reader comes later
    }
    if (errno != ENOENT) {
        return errno;
    }
    const Creating creating;
    if (!creating.Allowed()) {
        return errno;
    }
    int slot = RegisterPending(path);
    fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int error = fd >= 0 || errno == EEXIST ? 0 : errno;
    if (fd >= 0) {
        ::close(fd);
        ::unlink(path.c_str());
    }
    UnregisterPending(slot);
    return error;
}

int ProbeNewNamePlacement(const std::string& from, const std::string& to) {
    const Creating creating;
    if (!creating.Allowed()) {
        return errno;
    }
    // Removed by a signal that ends the process meanwhile, as any new file.
    int fromSlot = RegisterPending(from);
    int toSlot = RegisterPending(to);
    int error = 0;
    const int fd = OpenRetrying(from.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
    } else {
        ::close(fd);
        if (RenameToNewName(from, to)) {
            ::unlink(to.c_str());
        } else {
            error = errno;
            ::unlink(from.c_str());
        }
    }
    UnregisterPending(fromSlot);
    UnregisterPending(toSlot);
    return error;
}

void IgnoreFileSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
    ::sigaction(SIGXFSZ, &action, nullptr);
}

// --- LockedFile ---------------------------------------------------------------

LockedFile::~LockedFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = other.Release();
    }
    return *this;
}

int LockedFile::Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool LockedFile::Open(const std::string& path, Mode mode) {
    if (m_fd >= 0) {
        return false;
    }
    struct stat info {};
    LockedFile file(OpenAndLock(path.c_str(), mode == Mode::Read ? O_RDONLY : (O_WRONLY | O_CREAT), info));
    if (!file.IsOpen()) {
        return false;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (mode == Mode::Read && !regular) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
        return false;
    }
    // Devices such as /dev/full cannot be truncated and need not be.
    if (mode == Mode::Write && regular && ::ftruncate(file.m_fd, 0) != 0) {
        return false;
    }
    m_fd = file.Release();
    return true;
}

bool WriteAllTo(int fd, const void* data, std::size_t size) {
    return TransferAll(fd, static_cast<const unsigned char*>(data), size, ::write);
}

bool ReadAllAt(int fd, std::uint64_t offset, void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool LockedFile::WriteAll(const void* data, std::size_t size) { return WriteAllTo(m_fd, data, size); }

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

bool LockedFile::Sync() { return m_fd >= 0 && ::fsync(m_fd) == 0; }

bool LockedFile::Close() {
    if (m_fd < 0) {
        return false;
    }
    // Linux releases the descriptor even when close() fails, so it is never retried.
    return ::close(Release()) == 0;
}

// --- ReplacementFile ------------------------------------------------------------

ReplacementFile::~ReplacementFile() {
    // The caller reads errno of a failed Commit after this.
    const int error = errno;
    Discard();
    errno = error;
}

bool ReplacementFile::Open(const std::string& path, Placement placement) {
    if (m_target.IsOpen() || m_new.IsOpen()) {
        return false;
    }
    m_placement = placement;
    std::string target;
    if (!FinalTarget(path, target)) {
        return false;
    }
    if (target.empty() || target.back() == '/') {
        errno = target.empty() ? ENOENT : EISDIR;
        return false;
    }
    // Opening the old file for writing (without emptying it) checks that it
    // may be written and takes its lock before anything changes on disk.
    struct stat info {};
    if (placement == Placement::NewName) {
        if (::lstat(target.c_str(), &info) == 0) {
            errno = EEXIST;
            return false;
        }
        if (errno != ENOENT) {
            return false;
        }
    } else {
        m_target = LockedFile(OpenAndLock(target.c_str(), O_WRONLY, info));
    }
    if (!m_target.IsOpen() && errno != ENOENT) {
        return false;
    }
    if (m_target.IsOpen() && !S_ISREG(info.st_mode)) {
        return true;  // a FIFO or a device: written in place
    }
    m_new = LockedFile(CreateBeside(target, m_newPath, m_slot));
    if (!m_new.IsOpen()) {
        m_newPath.clear();
        m_target.Close();
        return false;
    }
    if (m_target.IsOpen() && ::fchmod(m_new.Descriptor(), info.st_mode & 07777) != 0) {
        Discard();
        m_target.Close();
        return false;
    }
    m_targetPath = target;
    return true;
}

bool ReplacementFile::WriteAll(const void* data, std::size_t size) {
    return m_newPath.empty() ? m_target.WriteAll(data, size) : m_new.WriteAll(data, size);
}

bool ReplacementFile::Commit() {
    if (m_newPath.empty()) {
        return m_target.Close();
    }
    const bool replaced = m_new.Sync() && m_new.Close() &&
                          (m_placement == Placement::NewName ? RenameToNewName(m_newPath, m_targetPath)
                                                             : ::rename(m_newPath.c_str(), m_targetPath.c_str()) == 0);
    int error = errno;
    if (replaced) {
        m_newPath.clear();
        UnregisterPending(m_slot);
        m_placed = true;
        error = SyncFolder(FolderOf(m_targetPath));
    } else {
        Discard();
    }
    // The old file's lock is held until the new one has taken its name.
    m_target.Close();
    errno = error;
    return replaced && error == 0;
}

void ReplacementFile::Discard() {
    m_new.Close();
    if (!m_newPath.empty()) {
        ::unlink(m_newPath.c_str());
        m_newPath.clear();
    }
    UnregisterPending(m_slot);
}
