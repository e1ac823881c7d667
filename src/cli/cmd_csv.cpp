// vosctl csv: data files as CSV-Save writes them, one after the other.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/sample_range.h"
#include "cli/series_summaries.h"
#include "files/series_reader.h"
#include "numtext/duration.h"
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
    bool time = false;  ///< a first column: time from the record's start
    bool utc = false;   ///< a first column: UTC
};

// The --reduce entries, in the order of their columns.
constexpr const char* REDUCTIONS[] = {"min", "max", "mean", "rms", "sd", "count", "nan"};
constexpr const char* REDUCTION_LIST = "min, max, mean, rms, sd, count and nan";

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
            return "\"" + text + "\" is not a list of " + REDUCTION_LIST + ", comma separated, each at most once";
        }
        reductions.push_back(index);
        at = end + 1;
    }
    return {};
}

// --every: a time ("1s", "250ms") or a number of samples ("10000").
struct Every {
    std::uint64_t micros = 0;   ///< a time; 0 for a sample count
    std::uint64_t samples = 0;  ///< a sample count
};

std::string ParseEvery(const std::string& text, Every& every) {
    every = {};
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (!vosctl::ParseWhole(text, 1, UINT64_MAX, every.samples).empty()) {
            return "\"" + text + "\" is no interval: the number of samples must be positive";
        }
        return {};
    }
    if (std::string refusal = vosctl::ParseTimeSpan(text, every.micros); !refusal.empty()) {
        return refusal;
    }
    return every.micros == 0 ? "\"" + text + "\" is no interval: it must be positive" : "";
}

// The text of a reduction of one interval's statistics.
std::size_t ReductionText(int reduction, const RangeStatistics& s, char* out) {
    switch (reduction) {
    case 0: return FormatFixed5(s.minimum, out);
    case 1: return FormatFixed5(s.maximum, out);
    case 2: return FormatFixed5(s.mean, out);
    case 3: return FormatFixed5(s.rms, out);
    case 4: return FormatFixed5(s.deviation, out);
    case 5: return static_cast<std::size_t>(std::snprintf(out, FIXED5_MAX_CHARS, "%llu",
                                                          static_cast<unsigned long long>(s.count)));
    default: return static_cast<std::size_t>(std::snprintf(out, FIXED5_MAX_CHARS, "%llu",
                                                           static_cast<unsigned long long>(s.nanCount)));
    }
}

// A time column's text: seconds from the record's start with six decimals
// ("12.500000"), or UTC ("2026-12-08T04:30:01.000000Z").
std::string TimeText(const TimeMap& times, std::int64_t fromStart, bool utc) {
    if (utc) {
        return UtcText(*times.Utc(0) + fromStart);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(fromStart / 1000000),
                  static_cast<long long>(fromStart % 1000000));
    return text;
}

// Refuses --utc for a record without a stamp to place it.
int RefuseUnstampedUtc(const CsvOptions& options, const TimeMap& times) {
    if (options.utc && !times.Stamped()) {
        return vosctl::Fail(vosctl::EXIT_USAGE, "--utc needs a record that a recording stamped",
                            "give --time for the time from its start");
    }
    return vosctl::EXIT_OK;
}

// --every: one row per interval of the part, first the interval's start,
// then each selected channel's reductions over the interval's samples (NaN
// left out), from the summaries' statistics cells and raw samples only where
// an interval cuts a cell, and last "gap" where a gap cut the interval. A time
// interval is aligned to whole multiples of itself in UTC (from the start
// without a stamp); a count of samples counts from the part's start and
// again from each gap. No row takes samples from both sides of a gap.
int RunCsvEvery(const CsvOptions& options, int selection) {
    vosctl::RecordPart part;
    if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "written", part);
        status != vosctl::EXIT_OK) {
        return status;
    }
    const TimeMap& times = part.span.times;
    if (const int status = RefuseUnstampedUtc(options, times); status != vosctl::EXIT_OK) {
        return status;
    }
    Every every;
    ParseEvery(options.every, every);
    const auto period = static_cast<std::uint64_t>(times.PeriodMicros());
    if (every.micros % period != 0) {
        return vosctl::Fail(vosctl::EXIT_USAGE, "--every " + options.every + " is not a whole number of samples",
                            "the record takes a sample every " + std::to_string(period) + " us");
    }
    std::vector<int> reductions;
    ParseReduce(options.reduce, reductions);
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
        text = options.utc ? "utc" : "time";
        for (const int ch : selected) {
            for (const int r : reductions) {
                text += std::string(",") + CSV_CHANNEL_TEXTS[ch] + " " + REDUCTIONS[r];
            }
        }
        text += ",gap\r\n";
    }
    // Interval k of a time spans [k * T - phase, (k + 1) * T - phase) from the
    // start: phase puts its bounds on multiples of T in UTC.
    const auto interval = static_cast<std::int64_t>(every.micros);
    std::int64_t phase = 0;
    if (interval > 0 && times.Stamped()) {
        phase = *times.Utc(0) % interval;
        phase += phase < 0 ? interval : 0;
    }
    char number[FIXED5_MAX_CHARS];
    for (std::uint64_t begin = part.first; begin < part.last;) {
        // Where the samples from `begin` on end at a gap, and where the part ends before.
        const std::uint64_t gapAt = times.StretchEnd(begin);
        const std::uint64_t stretchEnd = std::min(part.last, gapAt);
        const bool endsAtGap = gapAt < times.Count();
        const std::int64_t at = times.MicrosFromStart(begin);
        const bool afterGap = begin > part.first && times.StretchEnd(begin - 1) == begin;
        std::uint64_t end = 0;
        std::int64_t label = at;
        bool cut = false;
        if (interval > 0) {
            const std::int64_t k = (at + phase) / interval;
            const std::int64_t intervalStart = k * interval - phase;
            const std::int64_t intervalEnd = intervalStart + interval;
            end = std::min(stretchEnd, times.SampleAtOrAfter(intervalEnd));
            if (begin != part.first && !afterGap) {
                label = intervalStart;
            }
            // Samples missing from the interval's start or end because of a gap.
            cut = (afterGap && at > intervalStart) ||
                  (end == gapAt && endsAtGap &&
                   times.MicrosFromStart(end - 1) + static_cast<std::int64_t>(period) < intervalEnd);
        } else {
            end = begin + std::min(every.samples, stretchEnd - begin);
            cut = end == gapAt && endsAtGap && end - begin < every.samples;
        }
        text += TimeText(times, label, options.utc);
        for (const int ch : selected) {
            const std::optional<RangeStatistics> s = StatisticsOf(series, &summaries, ch, begin, end, false);
            if (!s) {
                return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                                    "a file of the series could not be read");
            }
            for (const int r : reductions) {
                text += ',';
                text.append(number, ReductionText(r, *s, number));
            }
        }
        text += cut ? ",gap\r\n" : ",\r\n";
        if (text.size() >= 65536 || end == part.last) {
            if (!output->WriteAll(text.data(), text.size())) {
                return vosctl::FailOutput(*output, options.output);
            }
            text.clear();
        }
        begin = end;
    }
    return vosctl::CloseOutput(*output, options.output);
}

// Rows [first, last) of the files with a first column of each sample's time
// (--time or --utc), read a file's worth at a time.
int WriteTimedRows(const CsvOptions& options, int selection, const vosctl::RecordPart& part,
                   vosctl::ChannelBank& bank) {
    SeriesReader reader;
    if (const FileError error = reader.Open(options.files); error != FileError::None) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(error), "the files could not be read as one record");
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    const TimeMap& times = part.span.times;
    std::string text;
    char number[FIXED5_MAX_CHARS];
    for (std::uint64_t begin = part.first; begin < part.last;) {
        const std::uint64_t n = std::min<std::uint64_t>(part.last - begin, DLF_MAX_SAMPLE_COUNT);
        for (int ch = 0; ch < 4; ++ch) {
            if ((selection == ch || selection == CSV_CHANNEL_ALL) && !reader.Copy(ch, begin, n, bank.Channels()[ch])) {
                return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                                    "a file of the series could not be read");
            }
        }
        for (std::uint64_t i = 0; i < n; ++i) {
            text += TimeText(times, times.MicrosFromStart(begin + i), options.utc);
            for (int ch = 0; ch < 4; ++ch) {
                if (selection == ch || selection == CSV_CHANNEL_ALL) {
                    text += ',';
                    text.append(number, FormatFixed5(bank.Channels()[ch][i], number));
                }
            }
            text += "\r\n";
            if (text.size() >= 65536) {
                if (!output->WriteAll(text.data(), text.size())) {
                    return vosctl::FailOutput(*output, options.output);
                }
                text.clear();
            }
        }
        begin += n;
    }
    if (!output->WriteAll(text.data(), text.size())) {
        return vosctl::FailOutput(*output, options.output);
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
    if (options.time || options.utc) {
        vosctl::RecordPart part;
        if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "written", part);
            status != vosctl::EXIT_OK) {
            return status;
        }
        if (const int status = RefuseUnstampedUtc(options, part.span.times); status != vosctl::EXIT_OK) {
            return status;
        }
        vosctl::ChannelBank bank;
        return WriteTimedRows(options, selection, part, bank);
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
                                      "One row per interval of this length (1s, 250ms, 1m) or number of samples "
                                      "(10000): its start, each selected channel's mean")
                      ->type_name("TIME|N")
                      ->check(vosctl::Check(&ParseEvery));
    command->add_option("--reduce", options->reduce,
                        std::string("With --every: the columns per channel, any of ") + REDUCTION_LIST)
        ->type_name("LIST")
        ->check(vosctl::Check(&ParseReduce))
        ->needs(every)
        ->capture_default_str();
    command->add_flag("--header", options->header, "With --every: a first row naming the columns (\"CH0 mean\")")
        ->needs(every);
    auto* time = command->add_flag("--time", options->time,
                                   "A first column with each row's time from the record's start, in seconds");
    command->add_flag("--utc", options->utc, "A first column with each row's UTC, for a stamped record")
        ->excludes(time);
    command->footer("The files must form one record: the same clock throughout, and files that a\n"
                    "recording stamped must be of one recording, in order, without a repeat; gaps\n"
                    "where the recorder lost frames are allowed. Files without a stamp, such as the\n"
                    "window's saves, are joined as they are. The output must be none of the files,\n"
                    "and is never a name ending in .dlf.\n\n" +
                    vosctl::RangeHelp() +
                    "--every writes one row per interval of the part in place of the samples: its\n"
                    "start (seconds from the record's start, or UTC with --utc), per selected\n"
                    "channel the --reduce columns over its samples, NaN left out (count counts\n"
                    "every sample, nan the NaN ones), and \"gap\" where a gap cut it. A time (1s)\n"
                    "is a whole number of samples; its intervals lie on its multiples in UTC (from\n"
                    "the start without a stamp). A number (10000) counts samples from the part's\n"
                    "start. No interval reaches across a gap: the next row starts at the first\n"
                    "sample after it. The rows come from the series' summaries.\n\n" +
                    vosctl::SummaryCacheHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunCsv(*options);
    });
}
