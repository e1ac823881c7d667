// vosctl info: the settings and summary of data files.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "settings/caption.h"
#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "device/trigger.h"
#include "numtext/fixed.h"

namespace {

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
};

constexpr std::int64_t MICROS_PER_DIVIDER = 100;
constexpr std::size_t SERIES_NUMBER_LENGTH = 6;

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

// The file name as JSON carries it: a name that is not valid UTF-8 gets
// U+FFFD for each invalid byte in "file", and its exact bytes in hex in
// "file_bytes".
void PutFileName(nlohmann::ordered_json& info, const std::string& path) {
    const std::string quoted = nlohmann::ordered_json(path).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const std::string shown = nlohmann::ordered_json::parse(quoted).get<std::string>();
    info["file"] = shown;
    if (shown != path) {
        static constexpr char DIGITS[] = "0123456789abcdef";
        std::string hex;
        for (const char c : path) {
            const auto byte = static_cast<unsigned char>(c);
            hex += DIGITS[byte >> 4];
            hex += DIGITS[byte & 0xF];
        }
        info["file_bytes"] = hex;
    }
}

std::string TriggerChannelName(std::int32_t channel) {
    return channel < 4 ? TRIGGER_CHANNEL_TEXTS[channel] : "channel " + std::to_string(channel);
}

std::string TriggerTypeName(std::int32_t type) {
    return type < 4 ? TRIGGER_TYPE_TEXTS[type] : "type " + std::to_string(type);
}

nlohmann::ordered_json Describe(const std::string& path, const DataFileHeader& header, const double* const* channels) {
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
    nlohmann::ordered_json summary = nlohmann::ordered_json::array();
    for (int ch = 0; ch < 4; ++ch) {
        double maximum = 0.0;
        double minimum = 0.0;
        ComputeStatistics(channels[ch], header.sampleCount, maximum, minimum);
        summary.push_back({{"channel", TRIGGER_CHANNEL_TEXTS[ch]},
                           {"maximum", SummaryText(maximum)},
                           {"minimum", SummaryText(minimum)}});
    }
    info["summary"] = summary;
    return info;
}

void PrintText(const std::string& path, const nlohmann::ordered_json& info) {
    const auto text = [](const nlohmann::ordered_json& value) {
        return value.is_string() ? value.get<std::string>() : value.dump();
    };
    std::printf("%s\n", path.c_str());
    std::printf("  format version  %s\n", text(info["format_version"]).c_str());
    std::printf("  clock           %s (divider %s)\n", info["clock"].is_null() ? "-" : text(info["clock"]).c_str(),
                text(info["clock_divider"]).c_str());
    std::printf("  samples         %s\n", text(info["sample_count"]).c_str());
    std::printf("  duration        %s\n", text(info["duration"]).c_str());
    if (const auto& recording = info["recording"]; !recording.is_null()) {
        std::printf("  recording       %s, file %s, from sample %s\n", text(recording["identity"]).c_str(),
                    text(recording["index"]).c_str(), text(recording["first_sample"]).c_str());
        std::printf("  start           %s\n", text(recording["start"]).c_str());
        std::printf("  end             %s\n", text(recording["end"]).c_str());
    }
    const auto& trigger = info["trigger"];
    std::printf("  trigger         %s\n",
                trigger.is_null() ? "None" : (text(trigger["channel"]) + ", " + text(trigger["type"])).c_str());
    std::printf("  threshold       %s\n", text(info["threshold"]).c_str());
    std::printf("  display mode    %s\n", text(info["display_mode"]).c_str());
    for (const auto& channel : info["summary"]) {
        std::printf("  %s             max %s  min %s\n", text(channel["channel"]).c_str(),
                    text(channel["maximum"]).c_str(), text(channel["minimum"]).c_str());
    }
}

// The series a file name belongs to: "run" for "run-000002.dlf", with its
// number; empty for another name.
std::string SeriesPrefix(const std::string& path, unsigned long& number) {
    const std::size_t suffix = path.size() >= 4 ? path.size() - 4 : 0;
    if (suffix < SERIES_NUMBER_LENGTH + 1 || path.compare(suffix, 4, ".dlf") != 0 ||
        path[suffix - SERIES_NUMBER_LENGTH - 1] != '-') {
        return {};
    }
    const std::string digits = path.substr(suffix - SERIES_NUMBER_LENGTH, SERIES_NUMBER_LENGTH);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    number = std::stoul(digits);
    return path.substr(0, suffix - SERIES_NUMBER_LENGTH - 1);
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
        if (const std::string prefix = SeriesPrefix(paths[i], number); !prefix.empty()) {
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

int RunInfo(const InfoOptions& options) {
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
        const nlohmann::ordered_json info = Describe(path, header, bank.Channels());
        if (options.json) {
            std::printf("%s\n", info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        } else {
            PrintText(path, info);
        }
        std::fflush(stdout);
        described.push_back(path);
        headers.push_back(header);
    }
    return FlagMixedSeries(described, headers) != vosctl::EXIT_OK ? vosctl::EXIT_FILE : status;
}

}  // namespace

void AddInfoCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand(
        "info", "Show the settings of data files and each channel's maximum and minimum as the Summary does");
    command->add_option("files", options->files, "DLF data files")->type_name("FILE.dlf")->required();
    command->add_flag("--json", options->json,
                      "One JSON object per file, one per line. A file name that is not valid UTF-8 is\n"
                      "given in \"file\" with U+FFFD for each invalid byte, and exactly, as\n"
                      "hexadecimal bytes, in \"file_bytes\"");
    command->footer("A file that Open refuses gets Open's message on standard error; the others are\n"
                    "still described. A file that a recording wrote shows its recording's identity,\n"
                    "its index in the series and the UTC times of its first and last sample (ISO\n"
                    "8601 with --json). Files named as one series (PREFIX-NNNNNN.dlf) that do not\n"
                    "form one record (another clock, another recording, a gap or repeat) are\n"
                    "flagged on standard error after all files are described, with status 4.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunInfo(*options); });
}
