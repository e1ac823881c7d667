// vosctl: the logger and its data files from the command line.
#include <string>

#include "cli/commands.h"
#include "cli/signals.h"
#include "device/access.h"
#include "doctor/paths.h"
#include "files/file.h"
#include "vos/version.h"

int main(int argc, char** argv) {
    // A reader that went away or a full disk must give a write error, not end the program.
    IgnoreFileSignals();
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
    AddPlotCommand(app, context);
    AddRecordCommand(app, context);
    AddRecoverCommand(app, context);
    AddDoctorCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return vosctl::Fail(vosctl::EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                            std::string(e.what()) + "; see vosctl --help");
    }
    return context.status;
}
