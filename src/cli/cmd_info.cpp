// vosctl info: the settings and summary of data files.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/sample_range.h"
#include "cli/series_summaries.h"
#include "device/trigger.h"
#include "files/series.h"
#include "files/series_names.h"
#include "numtext/fixed.h"
#include "record/statistics.h"
#include "record/summaries.h"
#include "settings/caption.h"
#include "settings/settings.h"

namespace {

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
    std::string from;
    std::string to;
};

constexpr std::int64_t MICROS_PER_DIVIDER = 100;

// The Sampling Clock entry of a divider, or empty when the list has none.
std::string ClockName(std::int32_t divider) {
    const std::int32_t index = ClockIndexForDivider(divider);
    return CLOCK_DIVIDERS[index] == divider ? CLOCK_TEXTS[index] : "";
}

// ISO 8601 in UTC; null for a time outside the years 1 to 9999.
nlohmann::ordered_json UtcText(std::int64_t micros) {
    const std::string text = vosctl::UtcText(micros);
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

// The stamp of a recorded file: its recording, place in the series, and the
// times of its first and last sample; null for a file without one.
nlohmann::ordered_json DescribeStamp(const DataFileHeader& header) {
    if (!header.stamp) {
        return nullptr;
    }
    const RecordingStamp& stamp = *header.stamp;
    const std::int64_t span = (std::int64_t{header.sampleCount} - 1) * header.clockDivider * MICROS_PER_DIVIDER;
    nlohmann::ordered_json recording;
    recording["identity"] = IdentityText(stamp.identity);
    recording["index"] = stamp.index;
    recording["first_sample"] = stamp.firstSample;
    recording["start"] = UtcText(stamp.startMicros);
    recording["end"] = stamp.startMicros <= INT64_MAX - span ? UtcText(stamp.startMicros + span) : nullptr;
    return recording;
}

// A name as JSON carries it: one that is not valid UTF-8 is shown with
// U+FFFD for each invalid byte, and its exact bytes are given in hex.
std::string ShownName(const std::string& path, std::string& hex) {
    const std::string quoted = nlohmann::ordered_json(path).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const std::string shown = nlohmann::ordered_json::parse(quoted).get<std::string>();
    hex.clear();
    if (shown != path) {
        static constexpr char DIGITS[] = "0123456789abcdef";
        for (const char c : path) {
            const auto byte = static_cast<unsigned char>(c);
            hex += DIGITS[byte >> 4];
            hex += DIGITS[byte & 0xF];
        }
    }
    return shown;
}

// "file", and "file_bytes" for a name that is not valid UTF-8.
void PutFileName(nlohmann::ordered_json& info, const std::string& path) {
    std::string hex;
    info["file"] = ShownName(path, hex);
    if (!hex.empty()) {
        info["file_bytes"] = hex;
    }
}

// "series", and "series_bytes" (null for a valid name) when a name is not valid UTF-8.
void PutSeriesNames(nlohmann::ordered_json& info, const std::vector<std::string>& paths) {
    nlohmann::ordered_json shown = nlohmann::ordered_json::array();
    nlohmann::ordered_json bytes = nlohmann::ordered_json::array();
    bool exact = true;
    for (const std::string& path : paths) {
        std::string hex;
        shown.push_back(ShownName(path, hex));
        bytes.push_back(hex.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(hex));
        exact = exact && hex.empty();
    }
    info["series"] = shown;
    if (!exact) {
        info["series_bytes"] = bytes;
    }
}

std::string TriggerChannelName(std::int32_t channel) {
    return channel < 4 ? TRIGGER_CHANNEL_TEXTS[channel] : "channel " + std::to_string(channel);
}

std::string TriggerTypeName(std::int32_t type) {
    return type < 4 ? TRIGGER_TYPE_TEXTS[type] : "type " + std::to_string(type);
}

// Each channel's maximum and minimum as the Summary shows them.
nlohmann::ordered_json DescribeSummary(const ChannelStatistics* statistics) {
    nlohmann::ordered_json summary = nlohmann::ordered_json::array();
    for (int ch = 0; ch < 4; ++ch) {
        const SummaryTexts texts = SummaryTextsOf(statistics[ch].maximum, statistics[ch].minimum);
        summary.push_back({{"channel", TRIGGER_CHANNEL_TEXTS[ch]}, {"maximum", texts.maximum}, {"minimum", texts.minimum}});
    }
    return summary;
}

void ComputeAll(const double* const* channels, std::uint32_t count, ChannelStatistics* statistics) {
    for (int ch = 0; ch < 4; ++ch) {
        statistics[ch].valid = ComputeStatistics(channels[ch], count, statistics[ch].maximum, statistics[ch].minimum);
    }
}

nlohmann::ordered_json Describe(const std::string& path, const DataFileHeader& header,
                                const ChannelStatistics* statistics) {
    // Open keeps the low byte of these fields.
    const std::int32_t triggerChannel = header.triggerChannel & 0xFF;
    const std::int32_t triggerType = header.triggerType & 0xFF;
    nlohmann::ordered_json info;
    PutFileName(info, path);
    info["format_version"] = header.formatVersion;
    const std::string clock = ClockName(header.clockDivider);
    info["clock"] = clock.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(clock);
    info["clock_divider"] = header.clockDivider;
    info["sample_count"] = header.sampleCount;
    info["duration"] = TotalTimeText(header.clockDivider, header.sampleCount);
    info["recording"] = DescribeStamp(header);
    if (triggerType == TRIGGER_NONE) {
        info["trigger"] = nullptr;
    } else {
        info["trigger"] = {{"channel", TriggerChannelName(triggerChannel)}, {"type", TriggerTypeName(triggerType)}};
    }
    info["threshold"] = FormatFixed5(header.threshold) + " V";
    info["display_mode"] = (header.displayMode & 0xFF) != 0 ? "overlay" : "four panes";
    info["summary"] = DescribeSummary(statistics);
    return info;
}

// The files of one record as a whole: its clock, total count, duration,
// recording and time span, and each channel's maximum and minimum.
nlohmann::ordered_json DescribeSeries(const std::vector<std::string>& paths, const SeriesSource& series,
                                      const SummaryPyramid& summaries) {
    const SeriesReader& reader = series.Reader();
    const DataFileHeader& first = reader.Header(0);
    const DataFileHeader& last = reader.Header(reader.FileCount() - 1);
    nlohmann::ordered_json info;
    PutSeriesNames(info, paths);
    const std::string clock = ClockName(first.clockDivider);
    info["clock"] = clock.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(clock);
    info["clock_divider"] = first.clockDivider;
    info["sample_count"] = series.Count();
    info["duration"] = TotalTimeText(first.clockDivider, series.Count());
    // From the first file's first sample to the last file's last one.
    nlohmann::ordered_json recording = nullptr;
    for (std::size_t i = 0; i < reader.FileCount() && recording.is_null(); ++i) {
        if (const DataFileHeader& header = reader.Header(i); header.stamp) {
            recording = {{"identity", IdentityText(header.stamp->identity)},
                         {"start", DescribeStamp(first)["start"]},
                         {"end", DescribeStamp(last)["end"]}};
        }
    }
    info["recording"] = recording;
    // Where the recording lost frames: the files on either side and the time between them.
    std::vector<DataFileHeader> headers;
    for (std::size_t i = 0; i < reader.FileCount(); ++i) headers.push_back(reader.Header(i));
    nlohmann::ordered_json gaps = nlohmann::ordered_json::array();
    for (const SeriesGap& gap : SeriesGaps(headers)) {
        gaps.push_back({{"after", paths[gap.before]},
                        {"before", paths[gap.after]},
                        {"from", UtcText(gap.fromMicros)},
                        {"to", UtcText(gap.toMicros)},
                        {"seconds", static_cast<double>(gap.toMicros - gap.fromMicros) / 1e6},
                        {"lost_samples", gap.lostSamples}});
    }
    if (!gaps.empty()) info["gaps"] = gaps;
    info["summary"] = DescribeSummary(summaries.statistics);
    return info;
}

std::string Text(const nlohmann::ordered_json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void PrintSummary(const nlohmann::ordered_json& summary) {
    for (const auto& channel : summary) {
        std::printf("  %s             max %s  min %s\n", Text(channel["channel"]).c_str(),
                    Text(channel["maximum"]).c_str(), Text(channel["minimum"]).c_str());
    }
}

// Clock, sample count and duration.
void PrintLength(const nlohmann::ordered_json& info) {
    std::printf("  clock           %s (divider %s)\n", info["clock"].is_null() ? "-" : Text(info["clock"]).c_str(),
                Text(info["clock_divider"]).c_str());
    std::printf("  samples         %s\n", Text(info["sample_count"]).c_str());
    std::printf("  duration        %s\n", Text(info["duration"]).c_str());
}

void PrintSpan(const nlohmann::ordered_json& recording) {
    std::printf("  start           %s\n", Text(recording["start"]).c_str());
    std::printf("  end             %s\n", Text(recording["end"]).c_str());
}

void PrintText(const std::string& path, const nlohmann::ordered_json& info) {
    std::printf("%s\n", path.c_str());
    std::printf("  format version  %s\n", Text(info["format_version"]).c_str());
    PrintLength(info);
    if (const auto& recording = info["recording"]; !recording.is_null()) {
        std::printf("  recording       %s, file %s, from sample %s\n", Text(recording["identity"]).c_str(),
                    Text(recording["index"]).c_str(), Text(recording["first_sample"]).c_str());
        PrintSpan(recording);
    }
    const auto& trigger = info["trigger"];
    std::printf("  trigger         %s\n",
                trigger.is_null() ? "None" : (Text(trigger["channel"]) + ", " + Text(trigger["type"])).c_str());
    std::printf("  threshold       %s\n", Text(info["threshold"]).c_str());
    std::printf("  display mode    %s\n", Text(info["display_mode"]).c_str());
    PrintSummary(info["summary"]);
}

void PrintSeriesText(const nlohmann::ordered_json& info) {
    const auto& files = info["series"];
    std::printf("series of %zu files, %s to %s\n", files.size(), Text(files.front()).c_str(),
                Text(files.back()).c_str());
    PrintLength(info);
    if (const auto& recording = info["recording"]; !recording.is_null()) {
        std::printf("  recording       %s\n", Text(recording["identity"]).c_str());
        PrintSpan(recording);
    }
    for (const auto& gap : info.contains("gaps") ? info["gaps"] : nlohmann::ordered_json::array()) {
        std::printf("  gap             after %s, from %s, %.6f s, about %s samples lost, before %s\n",
                    Text(gap["after"]).c_str(), Text(gap["from"]).c_str(), gap["seconds"].get<double>(),
                    Text(gap["lost_samples"]).c_str(), Text(gap["before"]).c_str());
    }
    PrintSummary(info["summary"]);
}

// Flags files named as one series (PREFIX-NNNNNN.dlf) that do not form one
// record, taken in the order of their numbers; unrelated files are not
// compared. EXIT_FILE when a series was flagged.
int FlagMixedSeries(const std::vector<std::string>& paths, const std::vector<DataFileHeader>& headers) {
    struct Member {
        unsigned long number;
        std::size_t position;
    };
    std::map<std::string, std::vector<Member>> series;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        unsigned long number = 0;
        if (const std::string prefix = vosctl::SeriesPrefix(paths[i], number); !prefix.empty()) {
            series[prefix].push_back({number, i});
        }
    }
    int status = vosctl::EXIT_OK;
    for (auto& [prefix, members] : series) {
        std::stable_sort(members.begin(), members.end(),
                         [](const Member& a, const Member& b) { return a.number < b.number; });
        std::vector<std::string> memberPaths;
        std::vector<DataFileHeader> memberHeaders;
        for (const Member& member : members) {
            memberPaths.push_back(paths[member.position]);
            memberHeaders.push_back(headers[member.position]);
        }
        if (const std::string mix = vosctl::MixedFilesText(memberPaths, memberHeaders); !mix.empty()) {
            status = vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Format),
                                  mix + "; the files named " + prefix + "-NNNNNN.dlf do not form one record");
        }
    }
    return status;
}

void Emit(const InfoOptions& options, const std::string& path, const nlohmann::ordered_json& info) {
    if (options.json) {
        std::printf("%s\n", info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (path.empty()) {
        PrintSeriesText(info);
    } else {
        PrintText(path, info);
    }
    vosctl::FlushStandardOutput();
}

// Whether the files are a recording's series, to be described as a whole
// too: two or more files that form one record in the order given, all
// stamped by a recording or all named PREFIX-NNNNNN.dlf with one prefix.
// Other files, such as the window's saves, are described one by one only.
bool IsOneSeries(const std::vector<std::string>& paths) {
    if (paths.size() < 2) {
        return false;
    }
    std::vector<DataFileHeader> headers(paths.size());
    bool stamped = true;
    std::set<std::string> prefixes;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (ReadDataFileHeader(paths[i], headers[i]) != FileError::None) {
            return false;
        }
        stamped = stamped && headers[i].stamp.has_value();
        unsigned long number = 0;
        prefixes.insert(vosctl::SeriesPrefix(paths[i], number));
    }
    const bool named = prefixes.size() == 1 && !prefixes.begin()->empty();
    return (stamped || named) && CheckSeries(headers);
}

// Each file and then the whole, all from the series' summaries, so that no
// file is read twice and a cached series is not read at all.
int RunSeriesInfo(const InfoOptions& options) {
    SeriesSource series;
    SummaryPyramid summaries;
    if (const int status = vosctl::OpenSeriesSummaries(options.files, series, summaries, SummaryNeed::Statistics);
        status != vosctl::EXIT_OK) {
        return status;
    }
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        Emit(options, options.files[i],
             Describe(options.files[i], series.Reader().Header(i), summaries.partStatistics[i].data()));
    }
    Emit(options, {}, DescribeSeries(options.files, series, summaries));
    // A stamp that its samples and gaps contradict (a flipped bit, the clock of an older
    // recorder stepped) dates its file wrongly: described as it is, and said.
    std::vector<DataFileHeader> headers;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        headers.push_back(series.Reader().Header(i));
    }
    int status = vosctl::EXIT_OK;
    for (const DamagedStamp& damaged : DamagedStamps(headers)) {
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, "%.6f s %s", std::fabs(static_cast<double>(damaged.offMicros)) / 1e6,
                      damaged.offMicros < 0 ? "earlier" : "later");
        status = vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Format),
                              options.files[damaged.file] + ": a damaged stamp: it dates the file " + seconds +
                                  " than its samples and gaps place it in the series");
    }
    return status;
}

// A statistic as JSON carries it: null for a channel of NaN only (`none`),
// "inf", "-inf" or "nan" for what JSON has no number for.
nlohmann::ordered_json Number(double value, bool none) {
    if (none) {
        return nullptr;
    }
    if (std::isfinite(value)) {
        return value;
    }
    return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
}

// The statistics of samples [first, last) of one record, each channel's
// from the summaries and the raw samples at the part's ends.
nlohmann::ordered_json DescribePart(const InfoOptions& options, const SeriesSource& series,
                                    const SummaryPyramid& summaries, const vosctl::RecordSpan& span,
                                    std::uint64_t first, std::uint64_t last) {
    nlohmann::ordered_json info;
    if (options.files.size() == 1) {
        PutFileName(info, options.files.front());
    } else {
        PutSeriesNames(info, options.files);
    }
    info["from"] = first;
    info["to"] = last;
    info["sample_count"] = last - first;
    // Real time from the record's start, gaps included; "to" is where the
    // part's last sample ends.
    const TimeMap& times = span.times;
    info["from_seconds"] = static_cast<double>(times.MicrosFromStart(first)) / 1e6;
    info["to_seconds"] = static_cast<double>(times.MicrosFromStart(last - 1) + times.PeriodMicros()) / 1e6;
    info["start"] = times.Stamped() ? UtcText(*times.Utc(first)) : nlohmann::ordered_json(nullptr);
    info["end"] = times.Stamped() ? UtcText(*times.Utc(last - 1)) : nlohmann::ordered_json(nullptr);
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (int ch = 0; ch < 4; ++ch) {
        const std::optional<RangeStatistics> s = StatisticsOf(series, &summaries, ch, first, last);
        if (!s) {
            return nullptr;
        }
        const bool none = s->nanCount == s->count;
        channels.push_back({{"channel", TRIGGER_CHANNEL_TEXTS[ch]},
                            {"count", s->count},
                            {"nan_count", s->nanCount},
                            {"minimum", Number(s->minimum, none)},
                            {"minimum_at", none ? nlohmann::ordered_json() : nlohmann::ordered_json(s->minimumAt)},
                            {"maximum", Number(s->maximum, none)},
                            {"maximum_at", none ? nlohmann::ordered_json() : nlohmann::ordered_json(s->maximumAt)},
                            {"mean", Number(s->mean, none)},
                            {"rms", Number(s->rms, none)},
                            {"standard_deviation", Number(s->deviation, none)},
                            {"peak_to_peak", Number(s->peakToPeak, none)}});
    }
    info["statistics"] = channels;
    return info;
}

std::string VoltText(const nlohmann::ordered_json& value) {
    if (value.is_null()) {
        return "-";
    }
    if (value.is_string()) {
        return value.get<std::string>() + " V";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.9g V", value.get<double>());
    return text;
}

void PrintPartText(const nlohmann::ordered_json& info) {
    std::printf("%s: samples %s to %s (%s samples)\n",
                info.contains("file") ? Text(info["file"]).c_str()
                                      : ("series " + Text(info["series"].front()) + " to " +
                                         Text(info["series"].back())).c_str(),
                Text(info["from"]).c_str(), Text(info["to"]).c_str(), Text(info["sample_count"]).c_str());
    std::printf("  from            %.6f s%s\n", info["from_seconds"].get<double>(),
                info["start"].is_null() ? "" : ("  " + Text(info["start"])).c_str());
    std::printf("  to              %.6f s%s\n", info["to_seconds"].get<double>(),
                info["end"].is_null() ? "" : ("  (last sample " + Text(info["end"]) + ")").c_str());
    for (const auto& c : info["statistics"]) {
        const auto at = [](const nlohmann::ordered_json& v) { return v.is_null() ? std::string("-") : Text(v); };
        std::printf("  %s  min %s at %s  max %s at %s  mean %s  rms %s  std %s  p-p %s  NaN %s\n",
                    Text(c["channel"]).c_str(), VoltText(c["minimum"]).c_str(), at(c["minimum_at"]).c_str(),
                    VoltText(c["maximum"]).c_str(), at(c["maximum_at"]).c_str(), VoltText(c["mean"]).c_str(),
                    VoltText(c["rms"]).c_str(), VoltText(c["standard_deviation"]).c_str(),
                    VoltText(c["peak_to_peak"]).c_str(), Text(c["nan_count"]).c_str());
    }
}

// --from/--to: the files as one record, and the statistics of the part.
int RunPartInfo(const InfoOptions& options) {
    vosctl::RecordPart part;
    if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "described", part);
        status != vosctl::EXIT_OK) {
        return status;
    }
    SeriesSource series;
    SummaryPyramid summaries;
    if (const int status = vosctl::OpenSeriesSummaries(options.files, series, summaries); status != vosctl::EXIT_OK) {
        return status;
    }
    const nlohmann::ordered_json info = DescribePart(options, series, summaries, part.span, part.first, part.last);
    if (info.is_null()) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read), "a file of the record could not be read");
    }
    if (options.json) {
        std::printf("%s\n", info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        PrintPartText(info);
    }
    vosctl::FlushStandardOutput();
    return vosctl::EXIT_OK;
}

int RunInfo(const InfoOptions& options) {
    if (const int status = vosctl::RefuseInputAsOutput("-", options.files); status != vosctl::EXIT_OK) {
        return status;
    }
    if (const int status = vosctl::RefuseRepeatedOrOutOfOrder(options.files, "nothing was described");
        status != vosctl::EXIT_OK) {
        return status;
    }
    if (!options.from.empty() || !options.to.empty()) {
        return RunPartInfo(options);
    }
    if (IsOneSeries(options.files)) {
        return RunSeriesInfo(options);
    }
    vosctl::ChannelBank bank;
    int status = vosctl::EXIT_OK;
    std::vector<std::string> described;
    std::vector<DataFileHeader> headers;
    for (const std::string& path : options.files) {
        DataFileHeader header;
        if (vosctl::LoadRecord(path, header, bank) != vosctl::EXIT_OK) {
            status = vosctl::EXIT_FILE;
            continue;
        }
        ChannelStatistics statistics[4];
        ComputeAll(bank.Channels(), header.sampleCount, statistics);
        Emit(options, path, Describe(path, header, statistics));
        described.push_back(path);
        headers.push_back(header);
    }
    return FlagMixedSeries(described, headers) != vosctl::EXIT_OK ? vosctl::EXIT_FILE : status;
}

}  // namespace

void AddInfoCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand(
        "info", "Show the settings of data files and each channel's maximum and minimum as the Summary does, "
                "and of a recording's series as a whole");
    command->add_option("files", options->files, "DLF data files, or a recording's PREFIX for its PREFIX-NNNNNN.dlf in order")
        ->type_name("FILE.dlf")
        ->required();
    command->add_flag("--json", options->json,
                      "One JSON object per file, one per line, and one for a series as a whole,\n"
                      "with \"series\" (its files) in place of \"file\". A file name that is not\n"
                      "valid UTF-8 is given in \"file\" with U+FFFD for each invalid byte, and\n"
                      "exactly, as hexadecimal bytes, in \"file_bytes\" (in \"series_bytes\" for a\n"
                      "series, null for each valid name)");
    vosctl::AddRangeOptions(*command, options->from, options->to);
    command->footer("A file that Open refuses gets Open's message on standard error; the others are\n"
                    "still described. A file that a recording wrote shows its recording's identity,\n"
                    "its index in the series and the UTC times of its first and last sample (ISO\n"
                    "8601 with --json). Files named as one series (PREFIX-NNNNNN.dlf) that do not\n"
                    "form one record (another clock, another recording, a missing file or repeat)\n"
                    "are flagged on standard error after all files are described, with status 4.\n\n"
                    "A recording's series, two or more files all stamped by one recording or all\n"
                    "named PREFIX-NNNNNN.dlf with one prefix that form one record in the order\n"
                    "given (vosctl info night-*.dlf), is also described as a whole after its files:\n"
                    "total samples per channel, clock, duration, the UTC times of its first and last\n"
                    "sample, each gap where the recording lost frames (the files on either side,\n"
                    "when, how long, about how many samples; \"gaps\" with --json, present only then),\n"
                    "and each channel's maximum and minimum over all files; a file whose stamp its\n"
                    "samples and gaps contradict by more than a second is named as damaged (status\n"
                    "4 once all is described). These come from\n"
                    "the series' min/max summaries, cached as the window caches them and otherwise\n"
                    "built once, on every core, with a progress line on a terminal.\n\n" +
                    vosctl::SummaryCacheHelp() +
                    "With --from or --to, the files are taken as one record and only the part's\n"
                    "statistics are shown, per channel: samples, NaN samples, minimum and maximum\n"
                    "with the first sample holding each, mean, RMS, standard deviation and\n"
                    "peak-to-peak, from the summaries' statistics cells and the raw samples at the\n"
                    "part's ends (\"statistics\" with --json; null where a channel holds only NaN,\n"
                    "\"inf\", \"-inf\" or \"nan\" where infinite samples leave no finite number, as\n"
                    "numpy counts them).\n\n" +
                    vosctl::RangeHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunInfo(*options);
    });
}
