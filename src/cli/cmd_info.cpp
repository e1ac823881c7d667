// vosctl info: the settings and summary of data files.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "settings/caption.h"
#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "device/trigger.h"
#include "numtext/fixed.h"

namespace {

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
};

// The Sampling Clock entry of a divider, or empty when the list has none.
std::string ClockName(std::int32_t divider) {
    const std::int32_t index = ClockIndexForDivider(divider);
    return CLOCK_DIVIDERS[index] == divider ? CLOCK_TEXTS[index] : "";
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
    info["file"] = path;
    info["format_version"] = header.formatVersion;
    const std::string clock = ClockName(header.clockDivider);
    info["clock"] = clock.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(clock);
    info["clock_divider"] = header.clockDivider;
    info["sample_count"] = header.sampleCount;
    info["duration"] = TotalTimeText(header.clockDivider, header.sampleCount);
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

void PrintText(const nlohmann::ordered_json& info) {
    const auto text = [](const nlohmann::ordered_json& value) {
        return value.is_string() ? value.get<std::string>() : value.dump();
    };
    std::printf("%s\n", info["file"].get<std::string>().c_str());
    std::printf("  format version  %s\n", text(info["format_version"]).c_str());
    std::printf("  clock           %s (divider %s)\n", info["clock"].is_null() ? "-" : text(info["clock"]).c_str(),
                text(info["clock_divider"]).c_str());
    std::printf("  samples         %s\n", text(info["sample_count"]).c_str());
    std::printf("  duration        %s\n", text(info["duration"]).c_str());
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

int RunInfo(const InfoOptions& options) {
    vosctl::ChannelBank bank;
    int status = vosctl::EXIT_OK;
    for (const std::string& path : options.files) {
        DataFileHeader header;
        if (vosctl::LoadRecord(path, header, bank) != vosctl::EXIT_OK) {
            status = vosctl::EXIT_FILE;
            continue;
        }
        const nlohmann::ordered_json info = Describe(path, header, bank.Channels());
        if (options.json) {
            std::printf("%s\n", info.dump().c_str());
        } else {
            PrintText(info);
        }
        std::fflush(stdout);
    }
    return status;
}

}  // namespace

void AddInfoCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand(
        "info", "Show the settings of data files and each channel's maximum and minimum as the Summary does");
    command->add_option("files", options->files, "DLF data files")->type_name("FILE.dlf")->required();
    command->add_flag("--json", options->json, "One JSON object per file, one per line");
    command->footer("A file that Open refuses gets Open's message on standard error; the others are\n"
                    "still described.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunInfo(*options); });
}
