#pragma once

#include <string>
#include <vector>

#include "doctor/access.h"

namespace vosdoctor {

/// Name of the udev rules file the package installs.
inline constexpr const char* RULES_FILE_NAME = "60-vosviewer.rules";

/// How one check came out.
enum class Verdict {
    Ok,       ///< this step works
    Warning,  ///< something to mend that does not by itself block the logger
    Problem,  ///< this blocks use of the logger
    Skipped,  ///< could not be checked because an earlier step failed
};

/// One line of the report: what was found and, unless it is fine, the command that mends it.
struct Finding {
    Verdict verdict;
    std::string text;
    std::string fix;
};

/// What doctor looks at besides the USB devices udev reports.
struct DoctorInputs {
    std::string driver;                  ///< D2XX library name or path, as the programs load it
    Identity who = Identity::Current();  ///< whose access to the device nodes counts
    std::vector<std::string> rulesDirs = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d",
                                          "/lib/udev/rules.d"};
};

/// Runs every check in order: the D2XX library, the FTDI USB devices, ftdi_sio
/// on the loggers' interfaces, access to the loggers' device nodes, the udev
/// rules, and the driver's list of loggers.
std::vector<Finding> RunDoctor(const DoctorInputs& inputs);

/// True when any finding blocks use of a logger.
bool BlocksUse(const std::vector<Finding>& findings);

/// One report line: "OK", "WARN", "FAIL" or "SKIP", the text, and "; fix: " with the command.
std::string FormatFinding(const Finding& finding);

}  // namespace vosdoctor
