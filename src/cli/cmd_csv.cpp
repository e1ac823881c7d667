// vosctl csv.
#include "cli/commands.h"

void AddCsvCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("csv", "Export DLF data files as CSV");
    command->footer(vosctl::ExitStatusHelp());
    command->callback([&context] { context.status = vosctl::Fail(vosctl::EXIT_USAGE, "acquire, info, csv and plot", "this command is not built yet"); });
}
