#include "files/series_claim.h"

#include <sys/stat.h>

#include <filesystem>

#include "files/prefix_lock.h"
#include "files/series_names.h"

namespace {

namespace fs = std::filesystem;

// Links followed at most, as the system follows them.
constexpr int MAX_LINKS = 40;

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

bool SameFolder(const fs::path& a, const fs::path& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0) {
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }
    // A folder not there (yet) is told by its name.
    std::error_code error;
    return fs::weakly_canonical(fs::absolute(a, error), error) == fs::weakly_canonical(fs::absolute(b, error), error);
}

}  // namespace

bool SeriesClaimsName(const std::string& prefix, const std::string& path) {
    fs::path target(path);
    std::error_code error;
    for (int i = 0; i < MAX_LINKS && fs::is_symlink(target, error); ++i) {
        const fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : FolderOf(target) / next;
    }
    const fs::path series(prefix);
    const std::string name = target.filename().native();
    const std::string base = series.filename().native();
    const bool member = SeriesIndexOf(name, base, SERIES_DATA_EXTENSION) != 0 ||
                        SeriesIndexOf(name, base, SERIES_WORKING_EXTENSION) != 0 ||
                        name == fs::path(PrefixLockPath(prefix)).filename().native();
    return member && SameFolder(FolderOf(target), FolderOf(series));
}
