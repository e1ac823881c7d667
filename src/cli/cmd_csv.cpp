// vosctl csv: data files as CSV-Save writes them, one after the other.
#include <memory>
#include <vector>

#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output.h"

namespace {

struct CsvOptions {
    std::vector<std::string> files;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string output = "-";
};

int RunCsv(const CsvOptions& options) {
    int selection = CSV_CHANNEL_ALL;
    vosctl::ParseCsvChannel(options.channel, selection);
    vosctl::ChannelBank bank;
    DataFileHeader header;
    // Standard output cannot be taken back, so there every file is checked
    // before a row is written (a single file stays loaded). A file output is
    // replaced only once complete, so there each file is read once.
    const bool checkFirst = options.output == "-";
    if (checkFirst) {
        for (const std::string& path : options.files) {
            if (const int status = vosctl::LoadRecord(path, header, bank); status != vosctl::EXIT_OK) {
                return status;
            }
        }
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (!checkFirst || options.files.size() > 1) {
            if (const int status = vosctl::LoadRecord(options.files[i], header, bank); status != vosctl::EXIT_OK) {
                return status;
            }
        }
        const int status = vosctl::WriteCsvRecord(*output, options.output, selection, header.sampleCount, bank.Channels());
        if (status != vosctl::EXIT_OK) {
            return status;
        }
    }
    return vosctl::CloseOutput(*output, options.output);
}

}  // namespace

void AddCsvCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<CsvOptions>();
    CLI::App* command =
        app.add_subcommand("csv", "Write data files as CSV-Save does; several files follow each other as one table");
    command->add_option("files", options->files, "DLF data files")->type_name("FILE.dlf")->required();
    vosctl::AddCsvChannelOption(*command, options->channel);
    command->add_option("-o,--output", options->output, "CSV file, or - for standard output")
        ->type_name("FILE")
        ->capture_default_str();
    command->footer(vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunCsv(*options); });
}
