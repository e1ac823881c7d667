#pragma once

#include <string>
#include <vector>

#include "doctor/access.h"
#include "doctor/paths.h"

namespace vosdoctor {

/// Name of the udev rules file the package installs.
inline constexpr const char* RULES_FILE_NAME = "60-vosviewer.rules";
/// Replays the "add" event of every FTDI USB device and of its interfaces (whose
/// PRODUCT property the kernel also sets; they have no idVendor attribute), so
/// that the rules reach a logger plugged in before they were installed.
inline constexpr const char* UDEV_RETRIGGER =
    "udevadm trigger --action=add --subsystem-match=usb --property-match='PRODUCT=403/*'";

/// How one check came out.
enum class Verdict {
    Ok,       ///< this step works
    Warning,  ///< something to mend that does not by itself block the logger
    Problem,  ///< this blocks use of the logger
    Skipped,  ///< not checked: an earlier step failed, or the simulated driver needs no such step
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
    bool simulator = false;              ///< the driver is the simulated one: no USB, node or udev checks
    Identity who = Identity::Current();  ///< whose access to the device nodes counts
    /// The folders udevd reads rules from (systemd 252 on Debian 12), in its order.
    std::vector<std::string> rulesDirs = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                                          "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    std::string usbBus = "/sys/bus/usb";           ///< absent when the kernel's USB is not visible (a container)
    std::string udevControl = "/run/udev/control";  ///< absent when udevd is not running
    /// The rules file the fixes install (absolute, from a build tree's source), or empty for the package's.
    std::string sourceRules = SourceRulesFile();
};

/// Runs every check in order: the D2XX library, a font for the window's Japanese
/// texts, whether USB and udevd are there at all, the FTDI USB devices, ftdi_sio
/// on the loggers' interfaces, access to the loggers' device nodes, the udev
/// rules, and the driver's list of loggers.
std::vector<Finding> RunDoctor(const DoctorInputs& inputs);

/// True when any finding blocks use of a logger.
bool BlocksUse(const std::vector<Finding>& findings);

/// One report line: "OK", "WARN", "FAIL" or "SKIP", the text, and "; fix: " with the command.
std::string FormatFinding(const Finding& finding);

}  // namespace vosdoctor
