#pragma once

#include <string>

namespace vosdoctor {

/// The simulated driver library that --simulator loads: the one built next to
/// the running program when it runs from its build tree, otherwise the one the
/// vosviewer-sim package installs.
std::string SimulatorLibraryPath();

}  // namespace vosdoctor
