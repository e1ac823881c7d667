// vosctl plot.
#include "cli/commands.h"

void AddPlotCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("plot", "Draw a DLF data file as the window shows it");
    command->footer(vosctl::ExitStatusHelp());
    command->callback([&context] { context.status = vosctl::Fail(vosctl::EXIT_USAGE, "acquire, info, csv and plot", "this command is not built yet"); });
}
