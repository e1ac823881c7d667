#include "doctor/paths.h"

#include <filesystem>
#include <system_error>

namespace vosdoctor {
namespace {

namespace fs = std::filesystem;

constexpr const char* SIM_FILE = "libftd2xx.so";

fs::path ProgramFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

// The build tree holding the running program: programs lie one to three folders
// below it (src/cli/vosctl, tests/doctor/doctor_test, scripts/vos_screenshot).
fs::path BuildRoot() {
    fs::path folder = ProgramFolder();
    for (int up = 0; up < 4 && !folder.empty(); ++up) {
        std::error_code ignored;
        if (fs::is_regular_file(folder / "CMakeCache.txt", ignored)) return folder;
        if (folder == folder.root_path()) break;
        folder = folder.parent_path();
    }
    return {};
}

}  // namespace

bool RunsFromBuildTree() { return !BuildRoot().empty(); }

std::string SimulatorLibraryPath() {
    const fs::path root = BuildRoot();
    if (!root.empty()) return (root / "sim" / SIM_FILE).string();
    return (ProgramFolder().parent_path() / VOS_SIM_LIBDIR / SIM_FILE).lexically_normal().string();
}

}  // namespace vosdoctor
