#include "record/running_recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/prefix_lock.h"
#include "files/series_names.h"

bool RecorderHoldsPrefix(const std::string& prefix, bool inProcess) {
    const std::string path = PrefixLockPath(prefix);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno != ENOENT;
    if (inProcess) return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno != ENOENT;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    // A file system without locks cannot tell: the lock file's name stands for the lock then.
    bool held = true;
    if (::fcntl(fd, F_GETLK, &query) == 0) {
        // A holder removes the file before it lets go: a lock on a file no longer under its name holds nothing.
        held = query.l_type != F_UNLCK && IsNamedFile(fd, path);
    }
    ::close(fd);
    return held;
}

std::uint32_t SeriesMemberOf(const std::string& path, std::string& prefix) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dash = path.rfind('-');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dash == std::string::npos || dash < nameStart) return 0;
    const std::string base = path.substr(nameStart, dash - nameStart);
    const std::string name = path.substr(nameStart);
    for (const char* extension : {SERIES_DATA_EXTENSION, SERIES_WORKING_EXTENSION}) {
        if (const std::uint32_t index = SeriesIndexOf(name, base, extension); index != 0) {
            prefix = path.substr(0, dash);
            return index;
        }
    }
    return 0;
}

std::string RecordingToFollow(const std::vector<std::string>& paths) {
    if (paths.empty()) return {};
    std::string prefix;
    for (const std::string& path : paths) {
        std::string of;
        if (SeriesMemberOf(path, of) == 0 || (!prefix.empty() && of != prefix)) {
            prefix.clear();
            break;
        }
        prefix = of;
    }
    // A working file named may have become its data file meanwhile: it is still the recording's.
    if (!prefix.empty()) {
        return paths.back().ends_with(SERIES_WORKING_EXTENSION) || RecorderHoldsPrefix(prefix) ? prefix : std::string();
    }
    struct stat info {};
    if (paths.size() != 1 || ::stat(paths.front().c_str(), &info) == 0) return {};
    prefix = paths.front();
    const std::string data = SERIES_DATA_EXTENSION;
    for (;;) {
        if (RecorderHoldsPrefix(prefix) || !ListSeries(prefix).workingFiles.empty()) return prefix;
        if (!prefix.ends_with(data)) return {};
        prefix.resize(prefix.size() - data.size());
    }
}
