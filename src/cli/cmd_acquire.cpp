// vosctl acquire.
#include "cli/commands.h"

void AddAcquireCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("acquire", "Run one acquisition and write the record");
    command->footer(vosctl::ExitStatusHelp());
    command->callback([&context] { context.status = vosctl::Fail(vosctl::EXIT_USAGE, "acquire, info, csv and plot", "this command is not built yet"); });
}
