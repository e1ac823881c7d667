// vosctl export: a record, or a part of it, as an HDF5 or MAT 7.3 file.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/sample_range.h"
#include "export/export.h"
#include "settings/settings.h"

namespace {

struct ExportOptions {
    std::vector<std::string> files;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string output;
    std::string format;
    std::string from;
    std::string to;
    bool compress = false;
    bool times = false;
};

int RunExport(const ExportOptions& options) {
    ExportRequest request;
    if (options.output == "-") {
        return vosctl::Fail(vosctl::EXIT_USAGE, "an export is never written to standard output",
                            "HDF5 and MAT files are written in place; give a file name");
    }
    if (!options.format.empty()) {
        request.format = options.format == "mat" ? ExportFormat::Mat : ExportFormat::Hdf5;
    } else if (const std::optional<ExportFormat> format = ExportFormatOfName(options.output)) {
        request.format = *format;
    } else {
        return vosctl::Fail(vosctl::EXIT_USAGE, options.output + " names no export format",
                            "name it .h5, .hdf5 or .mat, or give --format h5 or --format mat");
    }
    int selection = CSV_CHANNEL_ALL;
    vosctl::ParseCsvChannel(options.channel, selection);
    for (int ch = 0; ch < 4; ++ch) request.channels[ch] = selection == CSV_CHANNEL_ALL || selection == ch;
    if (const int status = vosctl::RefuseInputAsOutput(options.output, options.files); status != vosctl::EXIT_OK) {
        return status;
    }
    if (const int status = vosctl::RefuseRepeatedOrOutOfOrder(options.files, "nothing was written");
        status != vosctl::EXIT_OK) {
        return status;
    }
    vosctl::RecordPart part;
    if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "written", part);
        status != vosctl::EXIT_OK) {
        return status;
    }
    vosctl::WarnOfGaps("export", options.files, part.headers);
    request.files = options.files;
    request.first = part.first;
    request.last = part.last;
    request.compress = options.compress;
    request.times = options.times;
    ExportProgress progress;
    ExportResult result;
    {
        vosctl::CountProgress line(stderr, ::isatty(STDERR_FILENO) == 1, "export", progress.done,
                                   part.last - part.first);
        result = ExportRecord(request, options.output, progress);
    }
    switch (result.error) {
    case FileError::None: return vosctl::EXIT_OK;
    case FileError::Read:
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                            "a file of the series could not be read; nothing was written");
    default: return vosctl::FailFileCause(result.error, options.output, result.cause);
    }
}

}  // namespace

void AddExportCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* command = app.add_subcommand(
        "export", "Write data files as one HDF5 or MATLAB (MAT 7.3) file; several files follow each other as one record");
    command->add_option("files", options->files, "DLF data files, or a recording's PREFIX for its PREFIX-NNNNNN.dlf in order")
        ->type_name("FILE.dlf")
        ->required();
    vosctl::AddCsvChannelOption(*command, options->channel);
    command->add_option("-o,--output", options->output, "HDF5 (.h5, .hdf5) or MAT (.mat) file to write")
        ->type_name("FILE")
        ->required()
        ->check(vosctl::NotDataFileName("an export"))
        ->check(vosctl::NotAFolder("the output", "run.h5"));
    command->add_option("--format", options->format, "h5 or mat, for an output named otherwise")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"h5", "mat"}));
    vosctl::AddRangeOptions(*command, options->from, options->to);
    command->add_flag("--compress", options->compress, "Compress the samples (HDF5: shuffle and deflate; MAT: zlib)");
    command->add_flag("--times", options->times, "Add each sample's time in seconds from the first, gaps included");
    command->footer("The files must form one record, as for csv. The output must be none of the\n"
                    "files; it is written beside its name and replaces an existing file only once\n"
                    "complete, so a failure or a signal leaves the old file as it was. The layout\n"
                    "of both formats is described in docs/file-formats.md.\n\n" +
                    vosctl::RangeHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunExport(*options);
    });
}
