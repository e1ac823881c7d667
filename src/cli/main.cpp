// vosctl: the logger and its data files from the command line.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "cli/signals.h"
#include "device/access.h"
#include "doctor/paths.h"
#include "files/file.h"
#include "vos/version.h"

int main(int argc, char** argv) {
    // A reader that went away or a full disk must give a write error, not end the program.
    IgnoreFileSignals();
    vosctl::PrepareStandardOutput();
    // Ctrl-C, SIGTERM and a hang-up end any command at once until a run makes them its Stop.
    vosctl::StopSignals::InstallExit();

    vosctl::Context context;
    CLI::App app{"Records and converts the four channels of a VOS-12 or VOS-16 USB voltage logger.", "vosctl"};
    app.set_version_flag("--version", std::string("vosctl ") + VOS_VERSION);
    app.add_option("--driver", context.driverPath,
                   "Load this D2XX driver library instead of libftd2xx.so from the library search path")
        ->type_name("PATH");
    app.add_flag_callback(
           "--simulator", [&context] { context.driverPath = vosdoctor::SimulatorLibraryPath(); },
           "Load the simulated logger (package vosviewer-sim; from a build tree, the one built there)")
        ->excludes("--driver");
    app.require_subcommand(1);
    app.footer(vosctl::ExitStatusHelp());

    AddListCommand(app, context);
    AddAcquireCommand(app, context);
    AddInfoCommand(app, context);
    AddCsvCommand(app, context);
    AddExportCommand(app, context);
    AddPlotCommand(app, context);
    AddRecordCommand(app, context);
    AddRecoverCommand(app, context);
    AddDoctorCommand(app, context);

    // Help and the version, taken from CLI11 as text and printed as every
    // command prints, so that FinishStandardOutput learns how the writes went.
    const auto print = [&app](const CLI::Error& e) {
        // Like every output, never onto a data file (`vosctl --help >> x.dlf`).
        if (const int refused = vosctl::RefuseInputAsOutput("-", {}); refused != vosctl::EXIT_OK) {
            return refused;
        }
        std::ostringstream text;
        const int code = app.exit(e, text);
        std::fputs(text.str().c_str(), stdout);
        return code;
    };
    int status = vosctl::EXIT_OK;
    try {
        app.parse(argc, argv);
        status = context.status;
    } catch (const CLI::CallForHelp& e) {
        status = print(e);
    } catch (const CLI::CallForAllHelp& e) {
        status = print(e);
    } catch (const CLI::CallForVersion& e) {
        status = print(e);
    } catch (const CLI::ParseError& e) {
        // A word where the command belongs is named, rather than reported as a missing command.
        std::string what = e.what();
        const std::vector<std::string> extras = app.remaining();
        if (app.get_subcommands().empty() && !extras.empty() && extras.front().rfind('-', 0) != 0) {
            std::string names;
            for (const CLI::App* command : app.get_subcommands({})) {
                names += (names.empty() ? "" : ", ") + command->get_name();
            }
            what = "unknown command \"" + extras.front() + "\"; the commands are " + names;
        }
        status = vosctl::Fail(vosctl::EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER), what + "; see vosctl --help");
    }
    return vosctl::FinishStandardOutput(status);
}
