#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli.h"

// Each adds one subcommand to `app`; its callback sets context.status.
void AddListCommand(CLI::App& app, vosctl::Context& context);
void AddAcquireCommand(CLI::App& app, vosctl::Context& context);
void AddInfoCommand(CLI::App& app, vosctl::Context& context);
void AddCsvCommand(CLI::App& app, vosctl::Context& context);
void AddExportCommand(CLI::App& app, vosctl::Context& context);
void AddPlotCommand(CLI::App& app, vosctl::Context& context);
void AddRecordCommand(CLI::App& app, vosctl::Context& context);
void AddRecoverCommand(CLI::App& app, vosctl::Context& context);
void AddDoctorCommand(CLI::App& app, vosctl::Context& context);
