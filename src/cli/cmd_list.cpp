// vosctl list: the loggers Search would list.
#include <cstdio>

#include "cli/commands.h"
#include "device/access.h"

namespace {

int RunList(vosctl::Context& context) {
    const D2xxApi* api = context.LoadDriver();
    if (api == nullptr) {
        return vosctl::EXIT_DEVICE;
    }
    const SearchOutcome outcome = SearchLoggers(*api);
    for (const std::int32_t serial : outcome.serials) {
        std::printf("%d\n", serial);
    }
    std::fflush(stdout);
    if (!outcome.ok) {
        return vosctl::Fail(vosctl::EXIT_DEVICE, outcome.message, "the logger list could not be read");
    }
    if (outcome.serials.empty()) {
        return vosctl::FailDevice(FT_DEVICE_NOT_FOUND);
    }
    return vosctl::EXIT_OK;
}

}  // namespace

void AddListCommand(CLI::App& app, vosctl::Context& context) {
    CLI::App* command = app.add_subcommand("list", "List the attached loggers by serial number, in Search's order");
    command->footer(vosctl::ExitStatusHelp());
    command->callback([&context] { context.status = RunList(context); });
}
