#include "doctor/doctor.h"

#include <dlfcn.h>
#include <grp.h>
#include <link.h>
#include <pwd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "device/access.h"
#include "device/driver.h"
#include "doctor/fonts.h"
#include "doctor/usb.h"

namespace vosdoctor {
namespace {

const std::string RETRIGGER = std::string("sudo ") + UDEV_RETRIGGER;
const std::string INSTALL_D2XX =
    "download FTDI's D2XX driver for Linux, then: sudo cp libftd2xx.so.* /usr/local/lib/ && "
    "sudo ln -sf /usr/local/lib/libftd2xx.so.* /usr/local/lib/libftd2xx.so && sudo ldconfig";
const std::string INSTALLED_RULES = std::string(VOS_UDEV_RULES_DIR) + "/" + RULES_FILE_NAME;

// Puts the rules in place: from the source tree for a build, named absolutely so
// that the fix works from any folder, else the package's file again.
std::string InstallRules(const std::string& sourceRules) {
    if (!sourceRules.empty()) {
        const bool plain = sourceRules.find_first_not_of(
                               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-") == std::string::npos;
        return "sudo install -m 644 " + (plain ? sourceRules : "'" + sourceRules + "'") +
               " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && " + RETRIGGER;
    }
    return "sudo apt-get install --reinstall vosviewer, which puts back " + INSTALLED_RULES +
           " and applies it";
}

// The file the dynamic loader picks for `name`, or empty when it finds none.
std::string LoadedFile(const std::string& name, std::string& error) {
    void* module = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "cannot load";
        return {};
    }
    std::string file = name;
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != '\0') {
        file = map->l_name;
    }
    dlclose(module);
    std::error_code ignored;
    const std::filesystem::path real = std::filesystem::canonical(file, ignored);
    return ignored ? file : real.string();
}

std::string Describe(const UsbDevice& device) {
    std::string text = "\"" + device.product + "\"";
    text += device.serial.empty() ? ", no serial number" : ", serial " + device.serial;
    return text;
}

std::string OwnerText(const NodeAccess& node) {
    const passwd* user = getpwuid(node.owner);
    const group* grp = getgrgid(node.group);
    std::array<char, 8> mode{};
    std::snprintf(mode.data(), mode.size(), "%04o", static_cast<unsigned>(node.mode));
    return (user != nullptr ? std::string(user->pw_name) : std::to_string(node.owner)) + ":" +
           (grp != nullptr ? std::string(grp->gr_name) : std::to_string(node.group)) + " " + mode.data();
}

bool IsPlugdev(gid_t gid) {
    const group* grp = getgrgid(gid);
    return grp != nullptr && std::string(grp->gr_name) == "plugdev";
}

std::string FoundRules(const std::vector<std::string>& dirs) {
    for (const std::string& dir : dirs) {
        std::error_code ignored;
        const std::filesystem::path file = std::filesystem::path(dir) / RULES_FILE_NAME;
        if (std::filesystem::is_regular_file(file, ignored)) return file.string();
    }
    return {};
}

std::string GroupName(gid_t gid) {
    const group* grp = getgrgid(gid);
    return grp != nullptr ? std::string(grp->gr_name) : std::to_string(gid);
}

// `installRules` is the fix when the rules are missing, empty when they are installed.
Finding CheckNodeOf(const UsbDevice& logger, const Identity& who, const std::string& installRules) {
    const std::string label = "logger " + logger.serial;
    if (logger.devnode.empty()) {
        return {Verdict::Problem, label + " has no device node", "unplug the logger and plug it in again"};
    }
    const NodeAccess node = CheckNode(logger.devnode, who);
    if (!node.exists) {
        return {Verdict::Problem, label + ": " + logger.devnode + " cannot be examined (" + node.error + ")",
                "unplug the logger and plug it in again"};
    }
    const std::string where = logger.devnode + " (" + OwnerText(node) + (node.extendedAcl ? " +acl" : "") + ")";
    if (who.uid == 0) {
        return {Verdict::Warning,
                label + ": checked for root, who can always read and write " + where +
                    "; a normal user may still lack access",
                "run vosctl doctor as the user who uses the logger (sudo vosctl doctor checks the caller)"};
    }
    if (node.readWrite) {
        return {Verdict::Ok, label + ": user " + who.name + " can read and write " + where, {}};
    }
    Identity relogged = who;
    relogged.groups = who.fileGroups;
    if (!who.fileGroups.empty() && CheckNode(logger.devnode, relogged).readWrite) {
        return {Verdict::Warning,
                label + ": user " + who.name + " is in group " + GroupName(node.group) +
                    " in the group file, but not in this login's groups, so cannot yet read and write " + where,
                "log out and in again"};
    }
    std::string fix = RETRIGGER;
    if (!installRules.empty()) {
        fix = installRules;
    } else if (IsPlugdev(node.group) && !who.InGroup(node.group)) {
        fix = "sudo usermod -aG plugdev " + who.name + ", then log out and in again";
    }
    return {Verdict::Problem, label + ": user " + who.name + " cannot read and write " + where, fix};
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// Why no USB device can be seen at all, or empty when USB and udevd are there.
Finding UsbUnavailable(const DoctorInputs& inputs) {
    std::error_code ignored;
    if (!std::filesystem::exists(inputs.usbBus, ignored)) {
        return {Verdict::Problem,
                "USB is not visible here: " + inputs.usbBus + " is absent (a container without the host's /sys?)",
                "run vosctl doctor on the machine itself, or give the container the host's /sys, /dev/bus/usb and "
                "/run/udev"};
    }
    if (!std::filesystem::exists(inputs.udevControl, ignored)) {
        return {Verdict::Problem, "udevd is not running: " + inputs.udevControl + " is absent",
                "sudo systemctl start systemd-udevd"};
    }
    return {Verdict::Ok, {}, {}};
}

// The FTDI devices and, per logger, ftdi_sio and access to its node; returns the loggers.
std::vector<UsbDevice> CheckUsb(const DoctorInputs& inputs, const std::string& installRules,
                                std::vector<Finding>& report) {
    std::vector<UsbDevice> devices;
    std::string why;
    if (!ListFtdiDevices(devices, why)) {
        report.push_back({Verdict::Problem, why, "sudo systemctl start systemd-udevd"});
    }
    std::vector<UsbDevice> loggers;
    for (const UsbDevice& device : devices) {
        const bool logger = device.IsLogger();
        report.push_back({Verdict::Ok,
                          "FTDI USB device " + device.name + ": " + Describe(device) +
                              (logger ? " (a logger)" : " (not a logger; keeps its driver)"),
                          {}});
        if (logger) loggers.push_back(device);
    }
    if (devices.empty()) {
        report.push_back({Verdict::Problem, "no FTDI USB device (vendor 0403) found",
                          "plug in the logger; lsusb -d 0403: must then list it"});
    } else if (loggers.empty()) {
        report.push_back({Verdict::Problem,
                          std::string("no FTDI USB device describes itself as ") + LOGGER_PRODUCT_PATTERN,
                          "plug in the logger; for a logger described otherwise, change ATTR{product} and "
                          "ATTRS{product} in the udev rules (" + std::string(RULES_FILE_NAME) + ")"});
    }
    // Per logger: ftdi_sio must not hold an interface; the node must be open to the user.
    for (const UsbDevice& logger : loggers) {
        bool bound = false;
        for (const UsbInterface& interface : logger.interfaces) {
            if (interface.driver != FTDI_SERIAL_DRIVER) continue;
            bound = true;
            report.push_back({Verdict::Problem,
                              std::string(FTDI_SERIAL_DRIVER) + " holds interface " + interface.name + " of logger " +
                                  logger.serial,
                              "echo -n " + interface.name + " | sudo tee /sys/bus/usb/drivers/" +
                                  FTDI_SERIAL_DRIVER + "/unbind"});
        }
        if (!bound) {
            report.push_back({Verdict::Ok,
                              std::string(FTDI_SERIAL_DRIVER) + " holds no interface of logger " + logger.serial, {}});
        }
        report.push_back(CheckNodeOf(logger, inputs.who, installRules));
    }
    return loggers;
}

}  // namespace

std::vector<Finding> RunDoctor(const DoctorInputs& inputs) {
    std::vector<Finding> report;

    // The D2XX library: which file, and does it have every function?
    DriverLibrary library;
    std::string why;
    const std::string file = LoadedFile(inputs.driver, why);
    if (file.empty()) {
        report.push_back({Verdict::Problem,
                          "D2XX library " + inputs.driver + " not found: " + DRIVER_MISSING_TEXT + " (" +
                              why + ")",
                          INSTALL_D2XX});
    } else if (!library.Load(file.c_str())) {
        report.push_back({Verdict::Problem, "D2XX library " + file + " cannot be used: " + library.Error(),
                          INSTALL_D2XX});
    } else {
        report.push_back({Verdict::Ok, "D2XX library " + file + " loads", {}});
    }

    // The window's texts are Japanese; without such a font they show as boxes.
    if (const std::string family = JapaneseFontFamily(); !family.empty()) {
        report.push_back({Verdict::Ok, "font for Japanese texts: " + family, {}});
    } else {
        report.push_back({Verdict::Warning, "no font for Japanese texts is installed: the window shows boxes",
                          "sudo apt-get install fonts-ipafont-gothic"});
    }

    // USB, the loggers on it, and the udev rules; the simulated driver needs none of them.
    std::vector<UsbDevice> loggers;
    std::string usbCause;
    if (inputs.simulator) {
        report.push_back({Verdict::Skipped, "USB devices, device nodes and udev: the simulated driver needs none", {}});
    } else {
        const std::string rules = FoundRules(inputs.rulesDirs);
        const std::string installRules = rules.empty() ? InstallRules(inputs.sourceRules) : std::string();
        if (Finding unavailable = UsbUnavailable(inputs); unavailable.verdict != Verdict::Ok) {
            usbCause = unavailable.text;
            report.push_back(std::move(unavailable));
            report.push_back({Verdict::Skipped, "FTDI USB devices, ftdi_sio and device nodes: " + usbCause, {}});
        } else {
            loggers = CheckUsb(inputs, installRules, report);
        }
        if (!rules.empty()) {
            report.push_back({Verdict::Ok, "udev rules " + rules + " installed", {}});
        } else {
            report.push_back({Verdict::Warning, std::string("udev rules ") + RULES_FILE_NAME + " not installed",
                              installRules});
        }
    }

    // Does the driver list the loggers?
    if (library.Api() == nullptr) {
        report.push_back({Verdict::Skipped, "the driver's list of loggers: no usable D2XX library", {}});
        return report;
    }
    std::vector<std::string> listed;
    if (const std::uint32_t status = ListSerialTexts(*library.Api(), listed); status != RESULT_OK) {
        report.push_back({Verdict::Problem,
                          "the driver cannot list devices: " + ResultMessage(status) + " (status " +
                              std::to_string(status) + ")",
                          "unplug the logger and plug it in again"});
        return report;
    }
    for (const UsbDevice& logger : loggers) {
        if (std::find(listed.begin(), listed.end(), logger.serial) == listed.end()) {
            report.push_back({Verdict::Problem, "the driver does not list logger " + logger.serial,
                              "mend the problems above, then unplug the logger and plug it in again"});
        }
    }
    if (!listed.empty()) {
        report.push_back({Verdict::Ok, "the driver lists logger " + Join(listed), {}});
    } else if (!usbCause.empty()) {
        report.push_back({Verdict::Skipped, "the driver's list of loggers: " + usbCause, {}});
    } else if (loggers.empty()) {
        report.push_back({Verdict::Problem, "the driver lists no logger", "plug in the logger"});
    }
    return report;
}

bool BlocksUse(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.verdict == Verdict::Problem; });
}

std::string FormatFinding(const Finding& finding) {
    static constexpr std::array<const char*, 4> TAGS = {"OK  ", "WARN", "FAIL", "SKIP"};
    std::string line = std::string(TAGS[static_cast<std::size_t>(finding.verdict)]) + "  " + finding.text;
    if (!finding.fix.empty()) line += "; fix: " + finding.fix;
    return line;
}

}  // namespace vosdoctor
