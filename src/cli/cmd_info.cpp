// vosctl info.
#include "cli/commands.h"

void AddInfoCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("info", "Describe DLF data files");
    command->footer(vosctl::ExitStatusHelp());
    command->callback([&context] { context.status = vosctl::Fail(vosctl::EXIT_USAGE, "acquire, info, csv and plot", "this command is not built yet"); });
}
