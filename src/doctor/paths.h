#pragma once

#include <string>

namespace vosdoctor {

/// True when the running program lies in a CMake build tree (a folder above it
/// holds CMakeCache.txt), false when it is installed.
bool RunsFromBuildTree();

/// The simulated driver library that --simulator loads: the one built in the
/// running program's build tree, otherwise the one installed beside it
/// (<prefix>/bin/.. + the simulator's library folder). Found from
/// /proc/self/exe, so no build or install path is written into the programs.
std::string SimulatorLibraryPath();

/// The udev rules file of the source tree the running program was built from
/// (CMAKE_HOME_DIRECTORY in its build tree's CMakeCache.txt), as an absolute
/// path; empty for an installed program or when that file is not there.
std::string SourceRulesFile();

}  // namespace vosdoctor
