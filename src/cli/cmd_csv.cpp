// vosctl csv: data files as CSV-Save writes them, one after the other.
#include <memory>
#include <vector>

#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/sample_range.h"

namespace {

struct CsvOptions {
    std::vector<std::string> files;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string output = "-";
    std::string from;
    std::string to;
};

int RunCsv(const CsvOptions& options) {
    int selection = CSV_CHANNEL_ALL;
    vosctl::ParseCsvChannel(options.channel, selection);
    if (const int status = vosctl::RefuseInputAsOutput(options.output, options.files); status != vosctl::EXIT_OK) {
        return status;
    }
    if (const int status = vosctl::RefuseRepeatedOrOutOfOrder(options.files, "nothing was written");
        status != vosctl::EXIT_OK) {
        return status;
    }
    vosctl::ChannelBank bank;
    // Standard output cannot be taken back, so there every file is read
    // whole before a row is written (a single file stays loaded). A file
    // output is replaced only once complete, so there only the headers are
    // read first, and each file once while writing.
    // A part reads only the files it reaches.
    const bool checkFirst = options.output == "-";
    const bool part = !options.from.empty() || !options.to.empty();
    std::vector<DataFileHeader> headers(options.files.size());
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const int status = checkFirst && !part ? vosctl::LoadRecord(options.files[i], headers[i], bank)
                                               : vosctl::LoadHeader(options.files[i], headers[i]);
        if (status != vosctl::EXIT_OK) {
            return status;
        }
    }
    if (const std::string mix = vosctl::MixedFilesText(options.files, headers); !mix.empty()) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Format),
                            mix + "; they do not form one table, nothing was written");
    }
    vosctl::WarnOfGaps("csv", options.files, headers);
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (const int status = vosctl::ResolveRange(options.from, options.to, vosctl::SpanOfFiles(headers), first, last);
        status != vosctl::EXIT_OK) {
        return status;
    }
    // Each file's rows in the part, from its own first sample.
    struct Rows {
        std::size_t file;
        std::uint32_t begin, end;
    };
    std::vector<Rows> rows;
    std::uint64_t fileFirst = 0;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const std::uint64_t fileEnd = fileFirst + headers[i].sampleCount;
        if (fileEnd > first && fileFirst < last) {
            rows.push_back({i, static_cast<std::uint32_t>(std::max(first, fileFirst) - fileFirst),
                            static_cast<std::uint32_t>(std::min(last, fileEnd) - fileFirst)});
        }
        fileFirst = fileEnd;
    }
    if (checkFirst && part) {
        for (const Rows& r : rows) {
            if (const int status = vosctl::LoadRecord(options.files[r.file], headers[r.file], bank);
                status != vosctl::EXIT_OK) {
                return status;
            }
        }
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    DataFileHeader header;
    for (const Rows& r : rows) {
        header = headers[r.file];
        // Standard output's checks left the one file it reaches loaded.
        if (!checkFirst || (part ? rows.size() : options.files.size()) > 1) {
            if (const int status = vosctl::LoadRecord(options.files[r.file], header, bank); status != vosctl::EXIT_OK) {
                return status;
            }
        }
        const double* const* channels = bank.Channels();
        const double* from[4] = {channels[0] + r.begin, channels[1] + r.begin, channels[2] + r.begin,
                                 channels[3] + r.begin};
        const int status = vosctl::WriteCsvRecord(*output, options.output, selection, r.end - r.begin, from);
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
    command->add_option("files", options->files, "DLF data files, or a recording's PREFIX for its PREFIX-NNNNNN.dlf in order")
        ->type_name("FILE.dlf")
        ->required();
    vosctl::AddCsvChannelOption(*command, options->channel);
    command->add_option("-o,--output", options->output, "CSV file, or - for standard output")
        ->type_name("FILE")
        ->check(vosctl::NotDataFileName("CSV"))
        ->capture_default_str();
    vosctl::AddRangeOptions(*command, options->from, options->to);
    command->footer("The files must form one record: the same clock throughout, and files that a\n"
                    "recording stamped must be of one recording, in order, without a gap or\n"
                    "repeat. Files without a stamp, such as the window's saves, are joined as they\n"
                    "are. The output must be none of the files, and is never a name ending in .dlf.\n\n" +
                    vosctl::RangeHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunCsv(*options);
    });
}
