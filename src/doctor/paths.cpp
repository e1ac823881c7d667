#include "doctor/paths.h"

#include <filesystem>
#include <fstream>
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

std::string SourceRulesFile() {
    const fs::path root = BuildRoot();
    if (root.empty()) return {};
    std::ifstream cache(root / "CMakeCache.txt");
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    for (std::string line; std::getline(cache, line);) {
        if (line.rfind(key, 0) != 0) continue;
        const fs::path rules = fs::path(line.substr(key.size())) / "packaging" / "udev" / "60-vosviewer.rules";
        std::error_code error;
        return rules.is_absolute() && fs::is_regular_file(rules, error) ? rules.lexically_normal().string() : "";
    }
    return {};
}

}  // namespace vosdoctor
