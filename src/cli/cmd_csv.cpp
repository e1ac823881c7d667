// vosctl csv: data files as CSV-Save writes them, one after the other.
#include <algorithm>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/sample_range.h"
#include "cli/series_summaries.h"
#include "files/series_reader.h"
#include "numtext/fixed.h"
#include "record/statistics.h"
#include "settings/settings.h"

namespace {

struct CsvOptions {
    std::vector<std::string> files;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string output = "-";
    std::string from;
    std::string to;
    std::string every;
    std::string reduce = "mean";
    bool header = false;
};

// The --reduce entries, in the order of their columns.
constexpr const char* REDUCTIONS[] = {"min", "max", "mean"};

// --reduce: entries of REDUCTIONS, comma separated, each once, to their
// indexes in the order given.
std::string ParseReduce(const std::string& text, std::vector<int>& reductions) {
    reductions.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string name = text.substr(at, end - at);
        const auto found = std::find_if(std::begin(REDUCTIONS), std::end(REDUCTIONS),
                                        [&](const char* r) { return name == r; });
        const int index = static_cast<int>(found - std::begin(REDUCTIONS));
        if (found == std::end(REDUCTIONS) || std::count(reductions.begin(), reductions.end(), index) > 0) {
            return "\"" + text + "\" is not a list of min, max and mean, comma separated, each at most once";
        }
        reductions.push_back(index);
        at = end + 1;
    }
    return {};
}

// --every: one row per interval of the part, each selected channel's
// reductions over the interval's samples (NaN left out), from the summaries'
// statistics cells and raw samples only where an interval cuts a cell.
int RunCsvEvery(const CsvOptions& options, int selection) {
    vosctl::RecordPart part;
    if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "written", part);
        status != vosctl::EXIT_OK) {
        return status;
    }
    const std::vector<DataFileHeader>& headers = part.headers;
    const vosctl::RecordSpan& span = part.span;
    const std::uint64_t first = part.first;
    const std::uint64_t last = part.last;
    std::uint64_t micros = 0;
    vosctl::ParseTimeSpan(options.every, micros);
    const std::uint64_t period = static_cast<std::uint64_t>(std::max(span.clockDivider, 1)) * 100;
    if (micros == 0 || micros % period != 0) {
        return vosctl::Fail(vosctl::EXIT_USAGE, "--every " + options.every + " is not a whole number of samples",
                            "the record takes a sample every " + std::to_string(period) + " us");
    }
    const std::uint64_t interval = micros / period;
    std::vector<int> reductions;
    ParseReduce(options.reduce, reductions);
    vosctl::WarnOfGaps("csv", options.files, headers);
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    SeriesSource series;
    SummaryPyramid summaries;
    if (const int status = vosctl::OpenSeriesSummaries(options.files, series, summaries); status != vosctl::EXIT_OK) {
        return status;
    }
    const int channels[4] = {0, 1, 2, 3};
    const std::span<const int> selected =
        selection == CSV_CHANNEL_ALL ? std::span<const int>(channels) : std::span<const int>(channels + selection, 1);
    std::string text;
    if (options.header) {
        for (const int ch : selected) {
            for (const int r : reductions) {
                text += std::string(text.empty() ? "" : ",") + CSV_CHANNEL_TEXTS[ch] + " " + REDUCTIONS[r];
            }
        }
        text += "\r\n";
    }
    char number[FIXED5_MAX_CHARS];
    for (std::uint64_t begin = first; begin < last; begin += interval) {
        const std::uint64_t end = std::min(last, begin + interval);
        bool firstColumn = true;
        for (const int ch : selected) {
            const std::optional<RangeStatistics> s = StatisticsOf(series, &summaries, ch, begin, end, false);
            if (!s) {
                return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                                    "a file of the series could not be read");
            }
            for (const int r : reductions) {
                if (!firstColumn) {
                    text += ',';
                }
                firstColumn = false;
                text.append(number, FormatFixed5(r == 0 ? s->minimum : r == 1 ? s->maximum : s->mean, number));
            }
        }
        text += "\r\n";
        if (text.size() >= 65536 || end == last) {
            if (!output->WriteAll(text.data(), text.size())) {
                return vosctl::FailOutput(*output, options.output);
            }
            text.clear();
        }
    }
    return vosctl::CloseOutput(*output, options.output);
}

// A part: only its rows are read, from the files it reaches, `count` rows
// from row `begin` of the first of them, at most a bank at a time; a part
// that fits one bank is read whole before a row is written.
int WritePart(const CsvOptions& options, int selection, std::uint64_t begin, std::uint64_t count,
              vosctl::ChannelBank& bank, const std::vector<std::string>& reached) {
    SeriesReader reader;
    // The headers passed, so what is left is a file that changed meanwhile.
    if (const FileError error = reader.Open(reached); error != FileError::None) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(error), "the files could not be read as one record");
    }
    const auto read = [&](std::uint64_t at, std::uint64_t n) {
        for (int ch = 0; ch < 4; ++ch) {
            if ((selection == ch || selection == CSV_CHANNEL_ALL) && !reader.Copy(ch, at, n, bank.Channels()[ch])) {
                return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                                    "a file of the series could not be read");
            }
        }
        return vosctl::EXIT_OK;
    };
    std::uint64_t n = std::min<std::uint64_t>(count, DLF_MAX_SAMPLE_COUNT);
    if (const int status = read(begin, n); status != vosctl::EXIT_OK) {
        return status;
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    for (std::uint64_t done = 0; done < count;) {
        if (done > 0) {
            n = std::min<std::uint64_t>(count - done, DLF_MAX_SAMPLE_COUNT);
            if (const int status = read(begin + done, n); status != vosctl::EXIT_OK) {
                return status;
            }
        }
        const int status = vosctl::WriteCsvRecord(*output, options.output, selection,
                                                  static_cast<std::uint32_t>(n), bank.Channels());
        if (status != vosctl::EXIT_OK) {
            return status;
        }
        done += n;
    }
    return vosctl::CloseOutput(*output, options.output);
}

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
    if (!options.every.empty()) {
        return RunCsvEvery(options, selection);
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
    if (part) {
        return WritePart(options, selection, rows.empty() ? first : rows.front().begin, last - first, bank,
                         [&] {
                             std::vector<std::string> reached;
                             for (const Rows& r : rows) reached.push_back(options.files[r.file]);
                             return reached;
                         }());
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    DataFileHeader header;
    for (const Rows& r : rows) {
        header = headers[r.file];
        // Standard output's checks left a single file loaded.
        if (!checkFirst || options.files.size() > 1) {
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
    auto* every = command->add_option("--every", options->every,
                                      "One row per interval of this length (90s, 1s, 0.5s), each selected channel's mean")
                      ->type_name("TIME")
                      ->check(vosctl::Check(&vosctl::ParseTimeSpan));
    command->add_option("--reduce", options->reduce, "With --every: the columns per channel, any of min, max and mean")
        ->type_name("LIST")
        ->check(vosctl::Check(&ParseReduce))
        ->needs(every)
        ->capture_default_str();
    command->add_flag("--header", options->header, "With --every: a first row naming the columns (\"CH0 mean\")")
        ->needs(every);
    command->footer("The files must form one record: the same clock throughout, and files that a\n"
                    "recording stamped must be of one recording, in order, without a gap or\n"
                    "repeat. Files without a stamp, such as the window's saves, are joined as they\n"
                    "are. The output must be none of the files, and is never a name ending in .dlf.\n\n" +
                    vosctl::RangeHelp() +
                    "--every writes one row per interval of the part in place of the samples: per\n"
                    "selected channel the --reduce columns over the interval's samples, NaN left out\n"
                    "(nan where an interval holds only NaN); the last row may cover a shorter\n"
                    "interval. The interval must be a whole number of samples. They come from the\n"
                    "series' summaries (cached as the window caches them), which keep each channel's\n"
                    "count, sum and spread per cell.\n\n" +
                    vosctl::SummaryCacheHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunCsv(*options);
    });
}
