#include "doctor/paths.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vosdoctor {

std::string SimulatorLibraryPath() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path buildRoot = VOS_BUILD_ROOT;
    if (!error) {
        // A program inside the build tree takes the simulator of the same build.
        const auto [end, unused] = std::mismatch(buildRoot.begin(), buildRoot.end(), self.begin(), self.end());
        if (end == buildRoot.end() && fs::exists(VOS_SIM_BUILT, error)) return VOS_SIM_BUILT;
    }
    return VOS_SIM_INSTALLED;
}

}  // namespace vosdoctor
