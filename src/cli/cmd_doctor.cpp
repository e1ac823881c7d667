// vosctl doctor: checks each step from the USB device to a working logger.
#include <cstdio>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "device/access.h"
#include "device/driver.h"
#include "doctor/doctor.h"

namespace {

int RunDoctor(const vosctl::Context& context, bool simulator) {
    if (const int status = vosctl::RefuseInputAsOutput("-", {}); status != vosctl::EXIT_OK) {
        return status;
    }
    vosdoctor::DoctorInputs inputs;
    inputs.driver = context.DriverName();
    inputs.simulator = simulator;
    const std::vector<vosdoctor::Finding> report = vosdoctor::RunDoctor(inputs);
    for (const vosdoctor::Finding& finding : report) {
        std::printf("%s\n", vosdoctor::FormatFinding(finding).c_str());
    }
    vosctl::FlushStandardOutput();
    if (!vosdoctor::BlocksUse(report)) return vosctl::EXIT_OK;
    // The first check is the driver library; without it the window says it is not installed.
    const bool noDriver = report.front().verdict == vosdoctor::Verdict::Problem;
    return vosctl::Fail(vosctl::EXIT_PROBLEM,
                        noDriver ? std::string(DRIVER_MISSING_TEXT) : ResultMessage(FT_DEVICE_NOT_FOUND),
                        "doctor found a problem that blocks use; see the FAIL lines");
}

}  // namespace

void AddDoctorCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("doctor", "Check the path from the USB device to a working logger");
    command->footer(
        "Checks the D2XX library, a font for Japanese texts, whether USB and udevd are there, the FTDI\n"
        "USB devices, ftdi_sio on the loggers' interfaces, access to their device nodes, the udev rules\n"
        "and the driver's list of loggers, and prints one line per check: OK, or FAIL (blocks use) or\n"
        "WARN with the problem and the command that mends it, or SKIP. With --simulator the USB, device\n"
        "node and udev checks are skipped.\n\n" +
        vosctl::ExitStatusHelp());
    // --simulator and --driver after the command too, as its help names them: `vosctl doctor --simulator`.
    command->fallthrough();
    command->callback([&context, &app] { context.status = RunDoctor(context, app.count("--simulator") > 0); });
}
